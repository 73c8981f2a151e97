#include "kelvadorin/dat/file_type/setup_model.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "kelvadorin/testing/allocation_probe.hpp"
#include "kelvadorin/testing/byte_writer.hpp"
#include "kelvadorin/testing/field_layout.hpp"
#include "kelvadorin/testing/setup_builder.hpp"

namespace kdr {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::build_hook;
using testing::build_light;
using testing::build_setup;
using testing::ByteWriter;
using testing::Context;
using testing::entry;
using testing::FieldLayout;
using testing::make_hook;
using testing::within;

graphics::Frame frame_of(float base) {
  return {{base, base + 1, base + 2}, {base + 3, base + 4, base + 5, base + 6}};
}

LightInfo light_of(uint32_t color) { return {frame_of(40), color, 0x3F800000, 0x40000000, 0x3F000000}; }

// The trailer every minimal setup shares: counts 0, four values, two spheres.
ByteWriter& empty_middle(ByteWriter& w) {
  w.u32(0).u32(0).i32(0).u32(0).u32(0);
  w.u32(0xA).u32(0xB).u32(0xC).u32(0xD).zeros(32);
  return w;
}

SetupModel decode_ok(const Bytes& bytes, uint64_t* end = nullptr) {
  ByteCursor c(bytes);
  auto s = SetupModel::unpack(c);
  EXPECT_TRUE(s.has_value()) << s.error().description();
  if (end) *end = c.position();
  return s ? *s : SetupModel{};
}

DecodeError decode_err(const Bytes& bytes) {
  ByteCursor c(bytes);
  auto s = SetupModel::unpack(c);
  EXPECT_FALSE(s.has_value());
  return s ? DecodeError{} : s.error();
}

TEST(SetupModelTest, SmallestSetupIs104BytesAndIgnoresTrailingBytes) {
  ByteWriter w;
  w.u32(0x02000001).u32(0).u32(0);
  empty_middle(w).u32(0).zeros(20);
  Bytes bytes = w.take();
  ASSERT_EQ(bytes.size(), 104u);

  uint64_t end = 0;
  SetupModel s = decode_ok(bytes, &end);
  EXPECT_EQ(end, 104u);
  EXPECT_EQ(s.id, 0x02000001u);
  EXPECT_THAT(s.parts, IsEmpty());
  EXPECT_TRUE(s.locations_a.empty() && s.locations_b.empty() && s.placements.empty() && s.lights.empty());
  EXPECT_THAT(s.cyl_spheres, IsEmpty());
  EXPECT_THAT(s.spheres, IsEmpty());
  EXPECT_EQ(s.value_a, 0xAu);
  EXPECT_EQ(s.value_d, 0xDu);
  EXPECT_FALSE(s.ref_id_1 || s.ref_id_2 || s.default_motion_table || s.ref_id_4 || s.ref_id_5);

  Bytes longer = bytes;
  longer.push_back(std::byte{0x7F});
  uint64_t longer_end = 0;
  EXPECT_EQ(decode_ok(longer, &longer_end), s);
  EXPECT_EQ(longer_end, 104u);
}

// Only flag bits 0x1 and 0x2 change the layout, and only when there are parts.
TEST(SetupModelTest, FlagBitsSelectThePerPartLists) {
  struct Case {
    uint32_t flags;
    uint32_t num_parts;
    bool values;
    bool vectors;
  };
  const Case cases[] = {
      {0x0, 2, false, false}, {0x1, 2, true, false}, {0x2, 2, false, true},
      {0x3, 2, true, true},   {0x4, 2, false, false}, {0xFFFFFFFF, 2, true, true},
      {0x3, 0, false, false},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(::testing::Message() << "flags " << std::hex << tc.flags << " parts " << tc.num_parts);
    ByteWriter w;
    w.u32(0x02000002).u32(tc.flags).u32(tc.num_parts);
    for (uint32_t i = 0; i < tc.num_parts; ++i) w.u32(0x01000010 + i);
    if (tc.values) w.u32(0x11).u32(0x22);
    if (tc.vectors) w.vec3({1, 2, 3}).vec3({4, 5, 6});
    empty_middle(w).u32(0).u32(0).u32(0).u32(0x09000001).u32(0).u32(0);

    SetupModel s = decode_ok(w.take());
    EXPECT_EQ(s.flags, tc.flags);
    EXPECT_EQ(s.parts.size(), tc.num_parts);
    const std::vector<uint32_t> values = {0x11, 0x22};
    const std::vector<Vector3> vectors = {{1, 2, 3}, {4, 5, 6}};
    EXPECT_EQ(s.part_values, tc.values ? values : std::vector<uint32_t>());
    EXPECT_EQ(s.part_vectors, tc.vectors ? vectors : std::vector<Vector3>());
    // A misread layout shifts the trailer, so the id would not land here.
    EXPECT_EQ(s.default_motion_table, 0x09000001u);
  }
}

TEST(SetupModelTest, TrailingIdsMapInOrderAndZeroIsAbsent) {
  ByteWriter w;
  w.u32(0x02000003).u32(0).u32(0);
  empty_middle(w).u32(0).u32(1).u32(0).u32(0x09000023).u32(4).u32(5);
  SetupModel s = decode_ok(w.take());
  EXPECT_EQ(s.ref_id_1, 1u);
  EXPECT_FALSE(s.ref_id_2.has_value());
  EXPECT_EQ(s.default_motion_table, 0x09000023u);
  EXPECT_EQ(s.ref_id_4, 4u);
  EXPECT_EQ(s.ref_id_5, 5u);
}

TEST(SetupModelTest, NegativePlacementCountIsRejectedAfterTheCount) {
  for (int32_t count : {-1, INT32_MIN}) {
    SCOPED_TRACE(count);
    ByteWriter w;
    w.u32(0x02000023).u32(0).u32(1).u32(0x01000001).u32(0).u32(0).i32(count);
    const uint64_t after_count = w.size();
    w.zeros(200);
    DecodeError e = decode_err(w.take());
    EXPECT_EQ(e.kind, DecodeError::Kind::InvalidValue);
    EXPECT_EQ(e.message, fmt::format("SetupModel 0x02000023 declared negative placement count {}", count));
    EXPECT_EQ(e.position, after_count);
    EXPECT_THAT(e.context, IsEmpty());
  }
}

TEST(SetupModelTest, RepeatedLightKeyKeepsTheLaterLight) {
  ByteWriter w;
  w.u32(0x02000004).u32(0).u32(0);
  empty_middle(w).u32(2).u32(7).bytes(build_light(light_of(1))).u32(7).bytes(build_light(light_of(2)));
  w.zeros(20);
  SetupModel s = decode_ok(w.take());
  ASSERT_EQ(s.lights.size(), 1u);
  EXPECT_EQ(s.lights.at(7), light_of(2));
}

// Payload lengths by type, stated independently of the decoder's own table.
TEST(AnimationHookTest, EachFixedTypeTakesItsPayloadLength) {
  const uint32_t lengths[] = {0, 4, 4, 28, 0, /*5*/ 0, 4,  16, 12, 16, 12, 16, 8, 40,
                              4, 4, 4, 0,  4, 8,         12, 16, 12, 8,  12, 4,  40};
  for (uint32_t type = 0; type <= 26; ++type) {
    if (type == 5) continue;
    SCOPED_TRACE(::testing::Message() << "hook type " << type);
    Bytes payload;
    for (uint32_t i = 0; i < lengths[type]; ++i) payload.push_back(static_cast<std::byte>(0xC0 + i));
    Bytes bytes = ByteWriter().u32(type).u32(0xDEADBEEF).bytes(payload).u32(0xFFFFFFFF).take();

    ByteCursor c(bytes);
    auto hook = AnimationHook::read(c);
    ASSERT_TRUE(hook.has_value()) << hook.error().description();
    EXPECT_EQ(c.position(), 8 + lengths[type]);
    EXPECT_EQ(hook->hook_type, type);
    EXPECT_EQ(hook->hook_word, 0xDEADBEEFu);
    EXPECT_EQ(hook->payload, payload);

    if (lengths[type] > 0) {
      ByteCursor cut(ByteView(bytes).first(8 + lengths[type] - 1));
      auto short_hook = AnimationHook::read(cut);
      ASSERT_FALSE(short_hook.has_value());
      EXPECT_EQ(short_hook.error().message, "failed to fill whole buffer");
      EXPECT_THAT(short_hook.error().context, IsEmpty());
    }
  }
}

// Type 5: a byte, an i16, two more bytes when the i16 is negative, then
// padding to a multiple of 4; the padding stays in the payload as read.
TEST(AnimationHookTest, VariableTypeLengthFollowsTheSignOfItsValue) {
  struct Case {
    int16_t value;
    std::vector<int> tail;  // bytes after the i16, padding included
  };
  const Case cases[] = {
      {0, {0x99}}, {1, {0x99}}, {0x7FFF, {0x99}}, {-1, {0x01, 0x02, 0x99, 0x98, 0x97}},
      {INT16_MIN, {0x01, 0x02, 0x99, 0x98, 0x97}},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.value);
    ByteWriter payload;
    payload.u8(0x42).i16(tc.value);
    for (int b : tc.tail) payload.u8(static_cast<uint8_t>(b));
    const Bytes want = payload.take();
    Bytes bytes = ByteWriter().u32(5).u32(3).bytes(want).u32(0xFFFFFFFF).take();

    ByteCursor c(bytes);
    auto hook = AnimationHook::read(c);
    ASSERT_TRUE(hook.has_value()) << hook.error().description();
    EXPECT_EQ(c.position(), tc.value < 0 ? 16u : 12u);
    EXPECT_EQ(hook->payload, want);

    // Missing padding is missing data.
    ByteCursor cut(ByteView(bytes).first(8 + want.size() - 1));
    auto short_hook = AnimationHook::read(cut);
    ASSERT_FALSE(short_hook.has_value());
    EXPECT_EQ(short_hook.error().kind, DecodeError::Kind::UnexpectedEnd);
  }
}

TEST(AnimationHookTest, TypeAbove26IsRejectedAfterBothHeaderWords) {
  for (uint32_t type : {27u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(type);
    Bytes bytes = ByteWriter().u32(0xAAAAAAAA).u32(type).u32(0).zeros(64).take();
    ByteCursor c(bytes, 4);
    auto hook = AnimationHook::read(c);
    ASSERT_FALSE(hook.has_value());
    EXPECT_EQ(hook.error().kind, DecodeError::Kind::InvalidValue);
    EXPECT_EQ(hook.error().message, "Unsupported AnimationHook type: 0x" + hex_id(type));
    EXPECT_EQ(hook.error().position, 12u);
  }
  EXPECT_EQ(hex_id(27), "0000001B");

  // The word is read before the type is judged: a record cut there runs out.
  Bytes header_only = ByteWriter().u32(27).take();
  ByteCursor c(header_only);
  auto hook = AnimationHook::read(c);
  ASSERT_FALSE(hook.has_value());
  EXPECT_EQ(hook.error().kind, DecodeError::Kind::UnexpectedEnd);
}

TEST(AnimationHookTest, MadeHooksRoundTripThroughTheirBytes) {
  for (uint32_t type = 0; type <= 26; ++type) {
    for (int16_t value : {int16_t{2}, int16_t{-2}}) {
      AnimationHook want = make_hook(type, 0x100 + type, value);
      Bytes bytes = build_hook(want);
      ASSERT_EQ(bytes.size() % 4, 0u) << "type " << type;
      ByteCursor c(bytes);
      auto got = AnimationHook::read(c);
      ASSERT_TRUE(got.has_value()) << "type " << type << ": " << got.error().description();
      EXPECT_EQ(*got, want);
      EXPECT_EQ(c.position(), bytes.size());
    }
  }
}

// A setup using every section once, and the decoder's view of its bytes.
struct LayoutCase {
  const char* name;
  SetupModel setup;
  FieldLayout layout;
};

SetupModel rich_setup() {
  SetupModel s;
  s.id = 0x02000023;
  s.flags = 0x7;
  s.parts = {0x01000001, 0x01000002};
  s.part_values = {0x11, 0x22};
  s.part_vectors = {{1, 2, 3}, {4, 5, 6}};
  s.locations_a = {{1, LocationType{0xFFFFFFFF, frame_of(10)}}};
  s.locations_b = {{2, LocationType{3, frame_of(20)}}};
  s.placements = {{0x65, PlacementType{{frame_of(30), frame_of(31)}, {make_hook(1, 9), make_hook(5, 8, -3)}}}};
  s.cyl_spheres = {CylSphere{{7, 8, 9}, 0.5f, 2.0f}};
  s.spheres = {Sphere{{1, 1, 1}, 3.0f}};
  s.value_a = 0xA;
  s.value_b = 0xB;
  s.value_c = 0xC;
  s.value_d = 0xD;
  s.sphere_a = {{2, 2, 2}, 4.0f};
  s.sphere_b = {{3, 3, 3}, 5.0f};
  s.lights = {{4, light_of(0xFF00FF00)}};
  s.ref_id_1 = 0x11;
  s.default_motion_table = 0x09000023;
  return s;
}

FieldLayout plain_header(FieldLayout l, size_t num_parts) {
  l.field(4, {}).field(4, {}).field(4, {});
  for (size_t i = 0; i < num_parts; ++i) l.field(4, {});
  return l;
}

FieldLayout& location_entry(FieldLayout& l) {
  l.field(4, {}).field(4, {}).field(4, {entry("part_id", "LocationType")});
  return l.frame({entry("frame", "LocationType")});
}

FieldLayout& tail(FieldLayout& l, const std::vector<AnimationHook>& hooks, size_t num_frames) {
  for (size_t i = 0; i < num_frames; ++i) l.frame({});
  l.field(4, {});
  for (const AnimationHook& h : hooks) l.field(4, {}).field(4, {}).field(h.payload.size(), {});
  return l;
}

std::vector<LayoutCase> layout_cases() {
  std::vector<LayoutCase> cases;
  {
    SetupModel s = rich_setup();
    FieldLayout l = plain_header({}, 2);
    l.field(4, {}).field(4, {}).vector3({}).vector3({});
    location_entry(l);
    location_entry(l);
    l.field(4, {}).field(4, {});
    tail(l, s.placements.at(0x65).hooks, 2);
    l.field(4, {})
        .vector3({entry("origin", "CylSphere")})
        .field(4, {entry("radius", "CylSphere")})
        .field(4, {entry("height", "CylSphere")});
    l.field(4, {}).sphere({});
    l.field(4, {}).field(4, {}).field(4, {}).field(4, {}).sphere({}).sphere({});
    l.field(4, {}).field(4, {}).frame({entry("viewer_space_location", "LightInfo")});
    for (const char* f : {"color", "intensity", "falloff", "cone_angle"}) l.field(4, {entry(f, "LightInfo")});
    for (int i = 0; i < 5; ++i) l.field(4, {});
    cases.push_back({"two parts, every section", s, l});
  }
  {
    // No parts: the flags bring no per-part lists and placements no frames.
    SetupModel s;
    s.id = 0x02000024;
    s.flags = 0x3;
    s.placements = {{7, PlacementType{{}, {make_hook(5, 1, 2), make_hook(0)}}}};
    FieldLayout l = plain_header({}, 0);
    l.field(4, {}).field(4, {}).field(4, {}).field(4, {});
    tail(l, s.placements.at(7).hooks, 0);
    l.field(4, {}).field(4, {});
    l.field(4, {}).field(4, {}).field(4, {}).field(4, {}).sphere({}).sphere({});
    l.field(4, {});
    for (int i = 0; i < 5; ++i) l.field(4, {});
    cases.push_back({"no parts", s, l});
  }
  return cases;
}

TEST(SetupModelTest, BuiltSetupsRoundTrip) {
  for (const LayoutCase& tc : layout_cases()) {
    SCOPED_TRACE(tc.name);
    Bytes bytes = build_setup(tc.setup);
    ASSERT_EQ(bytes.size(), tc.layout.size());
    uint64_t end = 0;
    EXPECT_EQ(decode_ok(bytes, &end), tc.setup);
    EXPECT_EQ(end, bytes.size());
  }
}

// Every prefix fails in the field owning its first missing byte, with only the
// entries of the declared records around that field.
TEST(SetupModelTest, EveryCutShortPrefixReportsTheDeclaredRecordEntries) {
  for (const LayoutCase& tc : layout_cases()) {
    Bytes bytes = build_setup(tc.setup);
    ASSERT_EQ(bytes.size(), tc.layout.size()) << tc.name;
    for (size_t len = 0; len < bytes.size(); ++len) {
      SCOPED_TRACE(::testing::Message() << tc.name << " cut to " << len << " bytes");
      ByteCursor c(ByteView(bytes).first(len));
      auto s = SetupModel::unpack(c);
      ASSERT_FALSE(s.has_value());
      EXPECT_EQ(s.error().kind, DecodeError::Kind::UnexpectedEnd);
      EXPECT_EQ(s.error().message, "failed to fill whole buffer");
      std::optional<Context> want = tc.layout.failure_at(len);
      ASSERT_TRUE(want.has_value());
      EXPECT_EQ(s.error().context, *want);
    }
  }
}

TEST(SetupModelTest, NamedCutsCarryTheirEntriesInOrder) {
  const Bytes bytes = build_setup(rich_setup());
  // 12 header bytes, 8 part ids, 8 values, 24 vectors, then the first location.
  const size_t location_a = 52;
  const size_t light = bytes.size() - 20 - 44;
  auto cut = [&](size_t len) { return decode_err(Bytes(bytes.begin(), bytes.begin() + len)).context; };
  EXPECT_THAT(cut(11), IsEmpty());
  EXPECT_THAT(cut(location_a + 8 + 2), ElementsAre("While parsing field 'part_id' in LocationType"));
  EXPECT_THAT(cut(location_a + 8 + 4 + 27),
              ElementsAre("While parsing field 'z' in Quaternion", "While parsing field 'orientation' in Frame",
                          "While parsing field 'frame' in LocationType"));
  EXPECT_THAT(cut(light + 28 + 1), ElementsAre("While parsing field 'color' in LightInfo"));
}

// Counts no short input can satisfy end at the first missing element, quickly
// and without storage sized from the count.
TEST(SetupModelTest, HugeCountsInShortInputsFailWithoutSizingStorage) {
  auto prefix = [](uint32_t num_parts) {
    ByteWriter w;
    w.u32(0x02000005).u32(0x3).u32(num_parts);
    return w;
  };
  struct Case {
    const char* name;
    Bytes bytes;
  };
  const Case cases[] = {
      {"part count", prefix(0xFFFFFFFF).u32(1).u32(2).take()},
      {"location count", prefix(0).u32(0xFFFFFFFF).u32(1).zeros(20).take()},
      {"second location count", prefix(0).u32(0).u32(0xFFFFFFFF).zeros(20).take()},
      {"placement count", prefix(0).u32(0).u32(0).i32(INT32_MAX).u32(1).u32(0).take()},
      {"hook count", prefix(0).u32(0).u32(0).i32(1).u32(1).u32(0xFFFFFFFF).u32(0).u32(0).take()},
      {"cylinder sphere count", prefix(0).u32(0).u32(0).i32(0).u32(0xFFFFFFFF).zeros(30).take()},
      {"sphere count", prefix(0).u32(0).u32(0).i32(0).u32(0).u32(0xFFFFFFFF).zeros(30).take()},
      {"light count", [&] {
         ByteWriter w = prefix(0);
         return empty_middle(w).u32(0xFFFFFFFF).zeros(30).take();
       }()},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    testing::AllocationProbe probe;
    DecodeError e = decode_err(tc.bytes);
    EXPECT_EQ(e.kind, DecodeError::Kind::UnexpectedEnd);
    EXPECT_LE(probe.largest(), 8 * tc.bytes.size() + 256);
  }
}

}  // namespace
}  // namespace kdr
