#include "kelvadorin/dat/file_type/animation.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kelvadorin/testing/allocation_probe.hpp"
#include "kelvadorin/testing/byte_writer.hpp"
#include "kelvadorin/testing/field_layout.hpp"
#include "kelvadorin/testing/motion_builder.hpp"
#include "kelvadorin/testing/setup_builder.hpp"

namespace kdr {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::build_animation;
using testing::ByteWriter;
using testing::Context;
using testing::entry;
using testing::FieldLayout;
using testing::make_animation;
using testing::make_hook;
using testing::within;

graphics::Frame frame_of(float base) {
  return {{base, base + 1, base + 2}, {base + 3, base + 4, base + 5, base + 6}};
}

Animation decode_ok(const Bytes& bytes) {
  auto a = Animation::unpack(bytes);
  EXPECT_TRUE(a.has_value()) << a.error().description();
  return a ? *a : Animation{};
}

DecodeError decode_err(const Bytes& bytes) {
  auto a = Animation::unpack(bytes);
  EXPECT_FALSE(a.has_value());
  return a ? DecodeError{} : a.error();
}

struct LayoutCase {
  const char* name;
  Animation animation;
};

std::vector<LayoutCase> layout_cases() {
  std::vector<LayoutCase> cases;
  {
    Animation a;
    a.id = 0x03000023;
    a.flags = 0x1;
    a.num_parts = 2;
    a.num_frames = 2;
    a.pos_frames = {frame_of(1), frame_of(2)};
    a.part_frames = {AnimationPartFrame{{frame_of(10), frame_of(11)}, {make_hook(1, 7), make_hook(5, 8, -4)}},
                     AnimationPartFrame{{frame_of(20), frame_of(21)}, {}}};
    cases.push_back({"position frames, two parts, hooks", a});
  }
  {
    // Bit 0 clear: the bytes after the counts are part frames; other bits are kept.
    Animation a;
    a.id = 0x03000024;
    a.flags = 0xFFFFFFFE;
    a.num_parts = 1;
    a.num_frames = 1;
    a.part_frames = {AnimationPartFrame{{frame_of(30)}, {make_hook(0), make_hook(5, 1, 3)}}};
    cases.push_back({"no position frames", a});
  }
  {
    Animation a;
    a.id = 0x03000025;
    a.flags = 0x1;
    a.num_frames = 3;
    a.pos_frames = {frame_of(4), frame_of(5), frame_of(6)};
    a.part_frames.resize(3);
    cases.push_back({"no parts", a});
  }
  cases.push_back({"no frames", make_animation(0x03000026, {}, 4)});
  return cases;
}

FieldLayout animation_layout(const Animation& a) {
  FieldLayout l;
  for (const char* f : {"id", "flags", "num_parts", "num_frames"}) l.field(4, {entry(f, "Animation")});
  if (a.flags & Animation::HAS_POS_FRAMES)
    for (size_t i = 0; i < a.pos_frames.size(); ++i) l.frame({entry("pos_frames", "Animation")});
  const Context part_frames = {entry("part_frames", "Animation")};
  for (const AnimationPartFrame& pf : a.part_frames) {
    for (size_t i = 0; i < pf.frames.size(); ++i) l.frame(within({entry("frames", "AnimationPartFrame")}, part_frames));
    l.field(4, within({entry("num_hooks", "AnimationPartFrame")}, part_frames));
    const Context hooks = within({entry("hooks", "AnimationPartFrame")}, part_frames);
    for (const AnimationHook& h : pf.hooks) l.field(4, hooks).field(4, hooks).field(h.payload.size(), hooks);
  }
  return l;
}

TEST(AnimationTest, BuiltAnimationsRoundTripAndIgnoreTrailingBytes) {
  for (const LayoutCase& tc : layout_cases()) {
    SCOPED_TRACE(tc.name);
    Bytes bytes = build_animation(tc.animation);
    ASSERT_EQ(bytes.size(), animation_layout(tc.animation).size());
    EXPECT_EQ(decode_ok(bytes), tc.animation);
    bytes.insert(bytes.end(), 5, std::byte{0x01});
    EXPECT_EQ(decode_ok(bytes), tc.animation);
  }
}

TEST(AnimationTest, EveryCutShortPrefixReportsItsEntries) {
  for (const LayoutCase& tc : layout_cases()) {
    const Bytes bytes = build_animation(tc.animation);
    const FieldLayout layout = animation_layout(tc.animation);
    for (size_t len = 0; len < bytes.size(); ++len) {
      SCOPED_TRACE(::testing::Message() << tc.name << " cut to " << len << " bytes");
      DecodeError e = decode_err(Bytes(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(len)));
      EXPECT_EQ(e.kind, DecodeError::Kind::UnexpectedEnd);
      EXPECT_EQ(e.message, "failed to fill whole buffer");
      std::optional<Context> want = layout.failure_at(len);
      ASSERT_TRUE(want.has_value());
      EXPECT_EQ(e.context, *want);
    }
  }
}

TEST(AnimationTest, NamedCutsCarryTheirEntriesInOrder) {
  const Bytes bytes = build_animation(layout_cases()[0].animation);
  auto cut = [&](size_t len) { return decode_err(Bytes(bytes.begin(), bytes.begin() + len)).context; };
  EXPECT_THAT(cut(13), ElementsAre("While parsing field 'num_frames' in Animation"));
  // Header 16, two position frames 56, then the first part frame.
  EXPECT_THAT(cut(16 + 27), ElementsAre("While parsing field 'z' in Quaternion",
                                        "While parsing field 'orientation' in Frame",
                                        "While parsing field 'pos_frames' in Animation"));
  EXPECT_THAT(cut(72 + 56 + 3), ElementsAre("While parsing field 'num_hooks' in AnimationPartFrame",
                                            "While parsing field 'part_frames' in Animation"));
}

// A hook's own failure reaches the caller with the entries around the hook.
TEST(AnimationTest, UnsupportedHookTypeIsReportedInsideItsPartFrame) {
  Bytes bytes = ByteWriter().u32(0x03000027).u32(0).u32(0).u32(1).u32(1).u32(27).u32(0).zeros(16).take();
  DecodeError e = decode_err(bytes);
  EXPECT_EQ(e.kind, DecodeError::Kind::InvalidValue);
  EXPECT_EQ(e.message, "Unsupported AnimationHook type: 0x0000001B");
  EXPECT_EQ(e.position, 28u);
  EXPECT_THAT(e.context, ElementsAre("While parsing field 'hooks' in AnimationPartFrame",
                                     "While parsing field 'part_frames' in Animation"));
}

TEST(AnimationTest, MadeAnimationsAreConsistent) {
  Animation a = make_animation(0x03000028, {frame_of(1), frame_of(2)}, 3);
  EXPECT_EQ(a.flags, Animation::HAS_POS_FRAMES);
  EXPECT_EQ(a.num_frames, 2u);
  ASSERT_EQ(a.part_frames.size(), 2u);
  EXPECT_EQ(a.part_frames[1].frames.size(), 3u);
  EXPECT_EQ(decode_ok(build_animation(a)), a);
  EXPECT_EQ(make_animation(0x03000029, {}).flags, 0u);
}

// Frame, part and hook counts that no short input can satisfy end at the
// first missing element, quickly and without storage sized from the counts.
TEST(AnimationTest, HugeCountsInShortInputsFailWithoutSizingStorage) {
  auto head = [](uint32_t flags, uint32_t parts, uint32_t frames) {
    return ByteWriter().u32(0x0300002A).u32(flags).u32(parts).u32(frames);
  };
  struct Case {
    const char* name;
    Bytes bytes;
    const char* field;
  };
  const Case cases[] = {
      {"position frames", head(1, 0, 0xFFFFFFFF).zeros(100).take(), "pos_frames"},
      {"part frames without parts", head(0, 0, 0xFFFFFFFF).zeros(100).take(), "part_frames"},
      {"parts", head(0, 0xFFFFFFFF, 1).zeros(100).take(), "part_frames"},
      {"parts times frames", head(0, 0x10000, 0x10000).zeros(100).take(), "part_frames"},
      {"hooks", head(0, 0, 1).u32(0xFFFFFFFF).zeros(100).take(), "part_frames"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    testing::AllocationProbe probe;
    DecodeError e = decode_err(tc.bytes);
    EXPECT_EQ(e.kind, DecodeError::Kind::UnexpectedEnd);
    ASSERT_FALSE(e.context.empty());
    EXPECT_EQ(e.context.back(), entry(tc.field, "Animation"));
    // One part frame record per 4 remaining bytes is the densest the data allows.
    EXPECT_LE(probe.largest(), sizeof(AnimationPartFrame) / 4 * tc.bytes.size() + 256);
  }
}

}  // namespace
}  // namespace kdr
