#include "kelvadorin/dat/file_type/motion_table.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kelvadorin/testing/allocation_probe.hpp"
#include "kelvadorin/testing/byte_writer.hpp"
#include "kelvadorin/testing/field_layout.hpp"
#include "kelvadorin/testing/motion_builder.hpp"

namespace kdr {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::build_motion_entry;
using testing::build_motion_table;
using testing::ByteWriter;
using testing::Context;
using testing::entry;
using testing::FieldLayout;
using testing::within;

MotionTable decode_ok(const Bytes& bytes) {
  auto t = MotionTable::unpack(bytes);
  EXPECT_TRUE(t.has_value()) << t.error().description();
  return t ? *t : MotionTable{};
}

DecodeError decode_err(const Bytes& bytes) {
  auto t = MotionTable::unpack(bytes);
  EXPECT_FALSE(t.has_value());
  return t ? DecodeError{} : t.error();
}

AnimationRef ref(uint32_t id, float rate = 30.0f) { return {id, -1, 7, rate}; }

MotionEntry motion(std::vector<AnimationRef> animations, std::optional<Vector3> velocity = {},
                   std::optional<Vector3> omega = {}, uint8_t flags = 0) {
  MotionEntry e;
  e.animations = std::move(animations);
  e.velocity = velocity;
  e.omega = omega;
  e.flags = flags;
  e.presence_flags = static_cast<uint8_t>((velocity ? MotionEntry::HAS_VELOCITY : 0) | (omega ? MotionEntry::HAS_OMEGA : 0));
  return e;
}

// An entry of every kind in every map of the table.
MotionTable rich_table() {
  MotionTable t;
  t.id = 0x09000023;
  t.default_style = 0x80000003;
  t.style_defaults = {{0x80000003, 0x41000003}, {0x8000003C, 0x41000003}};
  t.cycles = {
      {0x00030007, motion({ref(0x03000023, 2.5f)}, {}, {}, 0x01)},
      {0x0003000D, motion({}, {}, Vector3{0, 0, 1.5f})},
      {0x00030005, motion({ref(0x03000001), ref(0x03000002)}, Vector3{0, 4, 0}, Vector3{0, 0, -1})},
  };
  t.modifiers = {{0x6500000D, motion({ref(0x03000010)}, Vector3{1, 2, 3})}};
  t.links = {
      {0x00030003, {{0x41000007, motion({ref(0x03000020)})}, {0x4100000D, motion({})}}},
      {0x003C0003, {}},
  };
  return t;
}

// The decoder's view of one motion entry, inside the field `outer` names.
void entry_layout(FieldLayout& l, const MotionEntry& e, const Context& outer) {
  for (const char* f : {"num_animations", "flags", "presence_flags", "padding"})
    l.field(1, within({entry(f, "MotionEntry")}, outer));
  const Context in_animations = within({entry("animations", "MotionEntry")}, outer);
  for (size_t i = 0; i < e.animations.size(); ++i)
    for (const char* f : {"animation_id", "low_frame", "high_frame", "framerate"})
      l.field(4, within({entry(f, "AnimationRef")}, in_animations));
  if (e.velocity) l.vector3(within({entry("velocity", "MotionEntry")}, outer));
  if (e.omega) l.vector3(within({entry("omega", "MotionEntry")}, outer));
}

template <class V>
std::vector<uint32_t> sorted_keys(const std::unordered_map<uint32_t, V>& map) {
  std::vector<uint32_t> keys;
  for (const auto& [k, v] : map) keys.push_back(k);
  std::sort(keys.begin(), keys.end());
  return keys;
}

void entries_layout(FieldLayout& l, const MotionEntryMap& map, const char* name) {
  const Context outer = {entry(name, "MotionTable")};
  for (uint32_t key : sorted_keys(map)) {
    l.field(4, outer);
    entry_layout(l, map.at(key), outer);
  }
}

FieldLayout table_layout(const MotionTable& t) {
  FieldLayout l;
  for (const char* f : {"id", "default_style", "num_style_defaults"}) l.field(4, {entry(f, "MotionTable")});
  for (size_t i = 0; i < t.style_defaults.size(); ++i)
    l.field(4, {entry("style_defaults", "MotionTable")}).field(4, {entry("style_defaults", "MotionTable")});
  l.field(4, {entry("num_cycles", "MotionTable")});
  entries_layout(l, t.cycles, "cycles");
  l.field(4, {entry("num_modifiers", "MotionTable")});
  entries_layout(l, t.modifiers, "modifiers");
  l.field(4, {entry("num_links", "MotionTable")});
  const Context links = {entry("links", "MotionTable")};
  for (uint32_t key : sorted_keys(t.links)) {
    l.field(4, links).field(4, links);
    for (uint32_t inner : sorted_keys(t.links.at(key))) {
      l.field(4, links);
      entry_layout(l, t.links.at(key).at(inner), links);
    }
  }
  return l;
}

TEST(MotionTableTest, BuiltTablesRoundTripAndIgnoreTrailingBytes) {
  for (const MotionTable& t : {MotionTable{}, rich_table()}) {
    SCOPED_TRACE(t.id);
    Bytes bytes = build_motion_table(t);
    ASSERT_EQ(bytes.size(), table_layout(t).size());
    EXPECT_EQ(decode_ok(bytes), t);
    bytes.push_back(std::byte{0xFF});
    EXPECT_EQ(decode_ok(bytes), t);
  }
  EXPECT_EQ(build_motion_table(MotionTable{}).size(), 24u);
}

// Every prefix fails in the field owning its first missing byte, the padding
// byte of each entry included.
TEST(MotionTableTest, EveryCutShortPrefixReportsItsEntries) {
  for (const MotionTable& t : {MotionTable{}, rich_table()}) {
    const Bytes bytes = build_motion_table(t);
    const FieldLayout layout = table_layout(t);
    for (size_t len = 0; len < bytes.size(); ++len) {
      SCOPED_TRACE(::testing::Message() << "table " << std::hex << t.id << " cut to " << std::dec << len);
      DecodeError e = decode_err(Bytes(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(len)));
      EXPECT_EQ(e.kind, DecodeError::Kind::UnexpectedEnd);
      EXPECT_EQ(e.message, "failed to fill whole buffer");
      std::optional<Context> want = layout.failure_at(len);
      ASSERT_TRUE(want.has_value());
      EXPECT_EQ(e.context, *want);
    }
  }
}

TEST(MotionTableTest, NamedCutsCarryTheirEntriesInOrder) {
  // One cycle: key at 16, entry header at 20, padding at 23, its reference at 24.
  MotionTable t;
  t.cycles = {{0x00030007, motion({ref(0x03000001)}, Vector3{1, 0, 0})}};
  const Bytes bytes = build_motion_table(t);
  auto cut = [&](size_t len) { return decode_err(Bytes(bytes.begin(), bytes.begin() + len)).context; };
  EXPECT_THAT(cut(2), ElementsAre("While parsing field 'id' in MotionTable"));
  EXPECT_THAT(cut(23), ElementsAre("While parsing field 'padding' in MotionEntry",
                                   "While parsing field 'cycles' in MotionTable"));
  EXPECT_THAT(cut(24 + 15), ElementsAre("While parsing field 'framerate' in AnimationRef",
                                        "While parsing field 'animations' in MotionEntry",
                                        "While parsing field 'cycles' in MotionTable"));
  EXPECT_THAT(cut(40 + 8), ElementsAre("While parsing field 'z' in Vector3", "While parsing field 'velocity' in MotionEntry",
                                       "While parsing field 'cycles' in MotionTable"));
}

// The second flag byte alone says which vectors follow the animations; its
// other bits, the first flag byte and the padding byte's value change nothing.
TEST(MotionEntryTest, PresenceBitsSelectTheVectors) {
  struct Case {
    uint8_t presence;
    bool velocity;
    bool omega;
  };
  const Case cases[] = {
      {0x00, false, false}, {0x01, true, false}, {0x02, false, true},
      {0x03, true, true},   {0xFC, false, false}, {0xFF, true, true},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(static_cast<int>(tc.presence));
    ByteWriter w;
    w.u8(1).u8(0xA5).u8(tc.presence).u8(0xEE);
    w.u32(0x03000042).i32(-2).i32(9).f32(12.5f);
    if (tc.velocity) w.vec3({1, 2, 3});
    if (tc.omega) w.vec3({4, 5, 6});
    const size_t end = w.size();
    w.u32(0xDEADBEEF);
    const Bytes bytes = w.take();

    ByteCursor c(bytes);
    auto e = decode<MotionEntry>(c);
    ASSERT_TRUE(e.has_value()) << e.error().description();
    EXPECT_EQ(c.position(), end);
    EXPECT_THAT(e->animations, ElementsAre(AnimationRef{0x03000042, -2, 9, 12.5f}));
    EXPECT_EQ(e->flags, 0xA5);
    EXPECT_EQ(e->presence_flags, tc.presence);
    EXPECT_EQ(e->velocity, tc.velocity ? std::optional<Vector3>(Vector3{1, 2, 3}) : std::nullopt);
    EXPECT_EQ(e->omega, tc.omega ? std::optional<Vector3>(Vector3{4, 5, 6}) : std::nullopt);
  }
}

// The builder writes the vectors that are present, whatever the stored byte says.
TEST(MotionEntryTest, BuilderTakesPresenceFromTheVectors) {
  MotionEntry e;
  e.presence_flags = 0xF2;  // claims an omega that is not there
  e.velocity = Vector3{7, 8, 9};
  const Bytes bytes = build_motion_entry(e);
  EXPECT_EQ(bytes, ByteWriter().u8(0).u8(0).u8(0xF1).u8(0).vec3({7, 8, 9}).take());
}

TEST(MotionTableTest, RepeatedKeysKeepTheLaterEntry) {
  ByteWriter w;
  w.u32(0x09000001).u32(0x80000003);
  w.u32(2).u32(5).u32(1).u32(5).u32(2);
  w.u32(2).u32(0x00030007).bytes(build_motion_entry(motion({ref(1)})));
  w.u32(0x00030007).bytes(build_motion_entry(motion({ref(2)})));
  w.u32(0);
  // Two link entries under one key: the second inner map replaces the first whole.
  w.u32(2).u32(9).u32(2).u32(1).bytes(build_motion_entry(motion({}))).u32(2).bytes(build_motion_entry(motion({})));
  w.u32(9).u32(1).u32(3).bytes(build_motion_entry(motion({ref(3)})));
  MotionTable t = decode_ok(w.take());
  EXPECT_EQ(t.style_defaults, (std::unordered_map<uint32_t, uint32_t>{{5, 2}}));
  ASSERT_EQ(t.cycles.size(), 1u);
  EXPECT_EQ(t.cycles.at(0x00030007), motion({ref(2)}));
  ASSERT_EQ(t.links.size(), 1u);
  EXPECT_EQ(t.links.at(9), (MotionEntryMap{{3, motion({ref(3)})}}));
}

// Counts no short input can satisfy end at the first missing element, quickly
// and without storage sized from the count.
TEST(MotionTableTest, HugeCountsInShortInputsFailWithoutSizingStorage) {
  auto head = [] { return ByteWriter().u32(0x09000002).u32(0x80000003); };
  const Bytes empty_entry = build_motion_entry(motion({}));
  struct Case {
    const char* name;
    Bytes bytes;
    const char* field;
  };
  const Case cases[] = {
      {"style defaults", head().u32(0xFFFFFFFF).u32(1).u32(2).u32(3).take(), "style_defaults"},
      {"cycles", head().u32(0).u32(0xFFFFFFFF).u32(7).bytes(empty_entry).u32(7).take(), "cycles"},
      {"modifiers", head().u32(0).u32(0).u32(0xFFFFFFFF).zeros(30).take(), "modifiers"},
      {"links", head().u32(0).u32(0).u32(0).u32(0xFFFFFFFF).u32(1).u32(0).u32(2).take(), "links"},
      {"inner links", head().u32(0).u32(0).u32(0).u32(1).u32(1).u32(0xFFFFFFFF).zeros(30).take(), "links"},
      {"animations", head().u32(0).u32(1).u32(7).u8(255).u8(0).u8(0).u8(0).zeros(40).take(), "cycles"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    testing::AllocationProbe probe;
    DecodeError e = decode_err(tc.bytes);
    EXPECT_EQ(e.kind, DecodeError::Kind::UnexpectedEnd);
    ASSERT_FALSE(e.context.empty());
    EXPECT_EQ(e.context.back(), entry(tc.field, "MotionTable"));
    EXPECT_LE(probe.largest(), 8 * tc.bytes.size() + 256);
  }
}

}  // namespace
}  // namespace kdr
