#include "kelvadorin/dat/file_type/spell_table.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kelvadorin/testing/byte_writer.hpp"
#include "kelvadorin/testing/spell_builder.hpp"

namespace kdr {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::build_spell_base;
using testing::build_spell_table;
using testing::build_spell_text;
using testing::ByteWriter;
using testing::bytes_of;

SpellBase numbered_spell(uint32_t n) {
  SpellBase s;
  s.name = "Spell " + std::to_string(n);
  s.description = "Does thing " + std::to_string(n);
  s.school = n % 5 + 1;
  s.icon_id = 0x06000000 + n;
  s.category = 100 + n;
  s.bitfield = 0x80000000u | n;
  s.base_mana = 5 * n;
  s.base_range_constant = 1.25f * static_cast<float>(n);
  s.base_range_mod = -0.5f;
  s.power = 50 + n;
  s.spell_economy_mod = 0.75f;
  s.formula_version = 2;
  s.component_loss = 0.1f;
  s.meta_spell_id = n;
  s.raw_components = {1, 2, 3, 4, 5, 6, 7, n};
  s.caster_effect = 11;
  s.target_effect = 12;
  s.fizzle_effect = 13;
  s.recovery_interval = 2.5;
  s.recovery_amount = 0.25f;
  s.display_order = n * 10;
  s.non_component_target_type = 0x10;
  s.mana_mod = 3;
  return s;
}

DecodeError decode_failure(const Bytes& bytes) {
  auto r = SpellTable::unpack(bytes);
  EXPECT_FALSE(r.has_value());
  return r.has_value() ? DecodeError{} : r.error();
}

TEST(SpellBaseTest, DefaultHasEmptyTextsEightZeroComponentsAndNoMetaData) {
  SpellBase s = SpellBase::default_spell();
  EXPECT_EQ(s.name, "");
  EXPECT_EQ(s.description, "");
  EXPECT_THAT(s.raw_components, ElementsAre(0, 0, 0, 0, 0, 0, 0, 0));
  EXPECT_FALSE(s.meta_data.has_value());
  // Every number zero: the default record is all zero bytes after its two empty texts.
  Bytes bytes = build_spell_base(s);
  ASSERT_EQ(bytes.size(), 128u);
  EXPECT_EQ(bytes, Bytes(128, std::byte{0}));
}

TEST(SpellTableTest, RoundTripsEveryMetaDataFormAndNestedGroups) {
  SpellTable t;
  t.id = SpellTable::FILE_ID;
  SpellBase none = numbered_spell(1);
  none.meta_spell_type = 3;  // a type without meta data
  SpellBase timed = numbered_spell(2);
  timed.meta_spell_type = SpellBase::META_TYPE_DURATION;
  timed.meta_data = SpellDurationData{3600.0, 0.5f, -666.0f};
  SpellBase shared = numbered_spell(3);
  shared.meta_spell_type = SpellBase::META_TYPE_SHARED_DURATION;
  shared.meta_data = SpellDurationData{1800.0, 1.0f, 2.0f};
  SpellBase portal = numbered_spell(4);
  portal.meta_spell_type = SpellBase::META_TYPE_PORTAL;
  portal.meta_data = SpellPortalData{30.0};
  t.spells = {{40, none}, {7, timed}, {300000, shared}, {9, portal}, {0, SpellBase::default_spell()}};
  t.groups[5] = {{1, {{10, 20, 30}}}, {2, {}}};
  t.groups[0xFFFFFFFF] = {};

  Bytes bytes = build_spell_table(t);
  auto decoded = SpellTable::unpack(bytes);
  ASSERT_TRUE(decoded.has_value()) << decoded.error().description();
  EXPECT_EQ(*decoded, t);

  // Trailing bytes belong to nobody and are ignored.
  bytes.push_back(std::byte{0xEE});
  auto with_trailer = SpellTable::unpack(bytes);
  ASSERT_TRUE(with_trailer.has_value());
  EXPECT_EQ(*with_trailer, t);
}

TEST(SpellTableTest, MetaDataFollowsTheTypeInTheRecordNotTheModel) {
  // A duration type whose record carries no meta data: the decoder takes the
  // next sixteen bytes as meta data, so the record runs short at its end.
  SpellBase s = numbered_spell(1);
  s.meta_spell_type = SpellBase::META_TYPE_DURATION;
  SpellTable t;
  t.spells[1] = s;
  DecodeError e = decode_failure(build_spell_table(t));
  EXPECT_EQ(e.message, "failed to fill whole buffer");
  ASSERT_FALSE(e.context.empty());
  EXPECT_EQ(e.context.back(), "While parsing field 'spells' in SpellTable");
}

// Offset 12 is where the first spell's name starts: id, two u16, spell id.
constexpr size_t kFirstName = 12;

struct TextCase {
  const char* utf8;
  std::vector<int> stored;  // the bytes after the length, nibble-swapped
  size_t padding;
};

TEST(SpellTableTest, TextsAreNibbleSwappedWindows1252PaddedToFourBytes) {
  const TextCase cases[] = {
      {"", {}, 2},
      {"A", {0x14}, 1},
      {"AB", {0x14, 0x24}, 0},
      {"ABC", {0x14, 0x24, 0x34}, 3},
      {"\xC3\xA9\xE2\x82\xAC\xE2\x84\xA2", {0x9E, 0x08, 0x99}, 3},  // é € ™
      {"\xC5\xB8\xC3\xBF", {0xF9, 0xFF}, 0},                        // Ÿ ÿ
      {"\xC2\x81\xC2\x9D", {0x18, 0xD9}, 0},                        // undefined codes keep their number
      {"\xE2\x80\x9Cq\xE2\x80\x9D", {0x39, 0x17, 0x49}, 3},         // “q”
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.utf8);
    SpellTable t;
    t.spells[1].name = tc.utf8;
    t.spells[1].description = "z";
    Bytes bytes = build_spell_table(t);

    ByteWriter expected;
    expected.u16(static_cast<uint16_t>(tc.stored.size()));
    for (int b : tc.stored) expected.u8(static_cast<uint8_t>(b));
    expected.zeros(tc.padding);
    expected.u16(1).u8(0xA7).zeros(1);  // the description "z" starts right after the padding
    ASSERT_GE(bytes.size(), kFirstName + expected.size());
    EXPECT_EQ(Bytes(bytes.begin() + kFirstName, bytes.begin() + kFirstName + expected.size()), expected.view());

    auto decoded = SpellTable::unpack(bytes);
    ASSERT_TRUE(decoded.has_value()) << decoded.error().description();
    EXPECT_EQ(decoded->spells.at(1).name, tc.utf8);
    EXPECT_EQ(decoded->spells.at(1).description, "z");
  }
}

TEST(SpellTableTest, EveryWindows1252ByteDecodesToItsCodePoint) {
  EXPECT_EQ(cp1252_code_point(0x41), 0x41u);
  EXPECT_EQ(cp1252_code_point(0x80), 0x20ACu);
  EXPECT_EQ(cp1252_code_point(0x8A), 0x0160u);
  EXPECT_EQ(cp1252_code_point(0x8D), 0x008Du);
  EXPECT_EQ(cp1252_code_point(0x99), 0x2122u);
  EXPECT_EQ(cp1252_code_point(0x9F), 0x0178u);
  EXPECT_EQ(cp1252_code_point(0xA0), 0x00A0u);
  EXPECT_EQ(cp1252_code_point(0xFF), 0x00FFu);
  // All 256 bytes survive the trip through UTF-8 and back.
  std::string all;
  for (int b = 1; b < 256; ++b) all += cp1252_to_utf8(bytes_of({b}));
  SpellTable t;
  t.spells[1].name = all;
  auto decoded = SpellTable::unpack(build_spell_table(t));
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->spells.at(1).name, all);
  EXPECT_EQ(build_spell_text(all).size(), 2u + 255u + 3u);
}

TEST(SpellTableTest, PaddingBytesAreSkippedWhateverTheyHold) {
  SpellTable t;
  t.spells[1].name = "A";
  Bytes bytes = build_spell_table(t);
  bytes[kFirstName + 3] = std::byte{0xAA};
  auto decoded = SpellTable::unpack(bytes);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->spells.at(1).name, "A");
}

TEST(SpellTableTest, RepeatedSpellIdKeepsTheLaterSpell) {
  Bytes first = build_spell_base(numbered_spell(1));
  Bytes second = build_spell_base(numbered_spell(2));
  ByteWriter w;
  w.u32(SpellTable::FILE_ID).u16(2).u16(64);
  w.u32(5).bytes(first).u32(5).bytes(second);
  w.u16(0).u16(64);
  auto decoded = SpellTable::unpack(w.view());
  ASSERT_TRUE(decoded.has_value());
  ASSERT_EQ(decoded->spells.size(), 1u);
  EXPECT_EQ(decoded->spells.at(5), numbered_spell(2));
}

// A table whose byte layout the cut cases below name by offset.
SpellTable cut_fixture() {
  SpellBase s = numbered_spell(1);
  s.name = "AB";
  s.description = "";
  s.meta_spell_type = SpellBase::META_TYPE_DURATION;
  s.meta_data = SpellDurationData{1.0, 2.0f, 3.0f};
  SpellTable t;
  t.id = SpellTable::FILE_ID;
  t.spells[77] = s;
  t.groups[9] = {{4, {{100, 200}}}};
  return t;
}

struct CutCase {
  size_t length;
  const char* message;
  std::vector<std::string> context;
};

TEST(SpellTableTest, CutShortFormsNameEveryEnclosingField) {
  const std::string fill = "failed to fill whole buffer";
  const std::string bytes_short = "not enough bytes in reader";
  const std::string spells = "While parsing field 'spells' in SpellTable";
  const std::string groups = "While parsing field 'groups' in SpellTable";
  auto in_spell = [&](const char* field) {
    return std::vector<std::string>{std::string("While parsing field '") + field + "' in SpellBase", spells};
  };
  // Layout: id 0, spell_count 4, spell_bucket_size 6, spell id 8, name 12
  // (length 12, "AB" 14), description 16 (length 16, padding 18), school 20,
  // ... meta_spell_type 64, meta data 72..88, raw_components 88..120,
  // recovery_interval 132, mana_mod 152, group_count 156, group_bucket_size 158,
  // group id 160, entry_count 164, bucket_size 166, entry key 168, id_count 172, ids 176.
  const CutCase cases[] = {
      {0, fill.c_str(), {"While parsing field 'id' in SpellTable"}},
      {5, fill.c_str(), {"While parsing field 'spell_count' in SpellTable"}},
      {7, fill.c_str(), {"While parsing field 'spell_bucket_size' in SpellTable"}},
      {10, fill.c_str(), {spells}},
      {13, fill.c_str(), {"While parsing field 'length' in SpellText", in_spell("name")[0], spells}},
      {15, bytes_short.c_str(), {"While parsing field 'bytes' in SpellText", in_spell("name")[0], spells}},
      {19, fill.c_str(), {"While parsing field 'padding' in SpellText", in_spell("description")[0], spells}},
      {23, fill.c_str(), in_spell("school")},
      {70, fill.c_str(), in_spell("meta_spell_id")},
      {75, fill.c_str(),
       {"While parsing field 'duration' in SpellDurationData", in_spell("meta_data")[0], spells}},
      {87, fill.c_str(),
       {"While parsing field 'degrade_limit' in SpellDurationData", in_spell("meta_data")[0], spells}},
      {119, fill.c_str(), in_spell("raw_components")},
      {139, fill.c_str(), in_spell("recovery_interval")},
      {155, fill.c_str(), in_spell("mana_mod")},
      {157, fill.c_str(), {"While parsing field 'group_count' in SpellTable"}},
      {159, fill.c_str(), {"While parsing field 'group_bucket_size' in SpellTable"}},
      {162, fill.c_str(), {groups}},
      {165, fill.c_str(), {"While parsing field 'entry_count' in SpellGroup", groups}},
      {170, fill.c_str(), {"While parsing field 'entries' in SpellGroup", groups}},
      {175, fill.c_str(),
       {"While parsing field 'id_count' in SpellGroupEntry", "While parsing field 'entries' in SpellGroup", groups}},
      {183, fill.c_str(),
       {"While parsing field 'ids' in SpellGroupEntry", "While parsing field 'entries' in SpellGroup", groups}},
  };
  Bytes full = build_spell_table(cut_fixture());
  ASSERT_EQ(full.size(), 184u);
  ASSERT_TRUE(SpellTable::unpack(full).has_value());
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.length);
    DecodeError e = decode_failure(Bytes(full.begin(), full.begin() + static_cast<ptrdiff_t>(tc.length)));
    EXPECT_EQ(e.kind, DecodeError::Kind::UnexpectedEnd);
    EXPECT_EQ(e.message, tc.message);
    EXPECT_THAT(e.context, ElementsAreArray(tc.context));
  }
}

TEST(SpellTableTest, HugeCountsInShortInputFailWithoutReservingTheirSize) {
  struct Case {
    const char* what;
    Bytes bytes;
    std::vector<std::string> context;
  };
  ByteWriter many_spells;
  many_spells.u32(1).u16(0xFFFF).u16(0xFFFF).u32(1);
  ByteWriter long_text;
  long_text.u32(1).u16(1).u16(1).u32(1).u16(0xFFFF).u32(0x12345678);
  ByteWriter many_ids;
  many_ids.u32(1).u16(0).u16(0).u16(1).u16(1).u32(3).u16(1).u16(1).u32(8).u32(0xFFFFFFFF).u32(1).u32(2);
  ByteWriter many_groups;
  many_groups.u32(1).u16(0).u16(0).u16(0xFFFF).u16(0).u32(3).u16(0xFFFF).u16(0);
  const Case cases[] = {
      {"spells",
       many_spells.take(),
       {"While parsing field 'length' in SpellText", "While parsing field 'name' in SpellBase",
        "While parsing field 'spells' in SpellTable"}},
      {"text",
       long_text.take(),
       {"While parsing field 'bytes' in SpellText", "While parsing field 'name' in SpellBase",
        "While parsing field 'spells' in SpellTable"}},
      {"ids",
       many_ids.take(),
       {"While parsing field 'ids' in SpellGroupEntry", "While parsing field 'entries' in SpellGroup",
        "While parsing field 'groups' in SpellTable"}},
      {"groups", many_groups.take(), {"While parsing field 'entries' in SpellGroup", "While parsing field 'groups' in SpellTable"}},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.what);
    DecodeError e = decode_failure(tc.bytes);
    EXPECT_EQ(e.kind, DecodeError::Kind::UnexpectedEnd);
    EXPECT_THAT(e.context, ElementsAreArray(tc.context));
  }
}

}  // namespace
}  // namespace kdr
