#include "kelvadorin/tools/spell_export.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kdr {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using F = SpellExportField;

std::vector<uint32_t> ids_of(const SpellExportFile& file) {
  std::vector<uint32_t> ids;
  for (const auto& [id, object] : file.spells) ids.push_back(id);
  return ids;
}

TEST(SpellExportFieldTest, KeysAndDebugNamesFollowTheOrdinals) {
  const std::pair<const char*, const char*> expected[] = {
      {"Name", "name"},
      {"Description", "description"},
      {"School", "school"},
      {"Category", "category"},
      {"Bitfield", "bitfield"},
      {"BaseMana", "base_mana"},
      {"BaseRangeConstant", "base_range_constant"},
      {"BaseRangeMod", "base_range_mod"},
      {"Power", "power"},
      {"RawComponents", "raw_components"},
      {"ManaMod", "mana_mod"},
      {"FormulaVersion", "formula_version"},
  };
  ASSERT_EQ(std::size(expected), SPELL_EXPORT_FIELD_COUNT);
  for (uint8_t i = 0; i < SPELL_EXPORT_FIELD_COUNT; ++i) {
    auto f = static_cast<SpellExportField>(i);
    EXPECT_EQ(debug_name(f), expected[i].first);
    EXPECT_EQ(export_key(f), expected[i].second);
    EXPECT_EQ(parse_spell_export_field(expected[i].second), f);
  }
  for (const char* unknown : {"Name", "", "name ", "mana"}) EXPECT_EQ(parse_spell_export_field(unknown), std::nullopt);
  EXPECT_EQ(parse_spell_export_preset("minimal"), SpellExportPreset::Minimal);
  EXPECT_EQ(parse_spell_export_preset("base"), SpellExportPreset::Base);
  EXPECT_EQ(parse_spell_export_preset("Base"), std::nullopt);
}

TEST(SpellSchoolTest, OrdinalKSelectsSchoolKPlusOne) {
  EXPECT_EQ(SpellSchool{0}.school_number(), 1u);
  EXPECT_EQ(SpellSchool{255}.school_number(), 256u);
  EXPECT_EQ(SpellSchool::from_school_number(1), SpellSchool{0});
  EXPECT_EQ(SpellSchool::from_school_number(256), SpellSchool{255});
  EXPECT_EQ(SpellSchool::from_school_number(0), std::nullopt);
  EXPECT_EQ(SpellSchool::from_school_number(257), std::nullopt);
}

TEST(SpellExportRequestTest, ResolvesPresetsAndDropsRepeats) {
  struct Case {
    const char* what;
    std::vector<F> fields;
    SpellExportPreset preset;
    std::vector<F> expected;
  };
  const std::vector<F> all = {F::Name,  F::Description,   F::School,        F::Category,
                              F::Bitfield, F::BaseMana,   F::BaseRangeConstant, F::BaseRangeMod,
                              F::Power, F::RawComponents, F::ManaMod,       F::FormulaVersion};
  const std::vector<F> minimal = {F::Name,     F::Description,       F::School,       F::Category,
                                  F::Bitfield, F::BaseRangeConstant, F::BaseRangeMod, F::Power};
  const Case cases[] = {
      {"base preset", {}, SpellExportPreset::Base, all},
      {"minimal preset", {}, SpellExportPreset::Minimal, minimal},
      {"explicit beats minimal", {F::Power, F::Name, F::Power}, SpellExportPreset::Minimal, {F::Power, F::Name}},
      {"explicit beats base", {F::Power, F::Name, F::Power}, SpellExportPreset::Base, {F::Power, F::Name}},
      {"first appearance order", {F::ManaMod, F::Name, F::ManaMod, F::School, F::Name}, SpellExportPreset::Base,
       {F::ManaMod, F::Name, F::School}},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.what);
    SpellExportRequest r;
    r.fields = tc.fields;
    r.preset = tc.preset;
    EXPECT_THAT(r.resolved_fields(), ElementsAreArray(tc.expected));
  }
}

SpellBase spell_of(uint32_t school, uint32_t category, std::string name) {
  SpellBase s;
  s.school = school;
  s.category = category;
  s.name = std::move(name);
  return s;
}

TEST(SpellExportTest, SchoolAndCategoryFiltersAreJoinedByAnd) {
  SpellTable t;
  t.id = SpellTable::FILE_ID;
  t.spells = {{1, spell_of(1, 207, "one")}, {2, spell_of(2, 47, "two")}, {3, spell_of(1, 47, "three")}};
  struct Case {
    const char* what;
    std::vector<SpellSchool> schools;
    std::vector<uint32_t> categories;
    std::vector<uint32_t> expected;
  };
  const Case cases[] = {
      {"both filters", {{0}}, {207}, {1}},
      {"school only", {{0}}, {}, {1, 3}},
      {"category only", {}, {47}, {2, 3}},
      {"no filters", {}, {}, {1, 2, 3}},
      {"any listed value matches", {{5}, {1}, {0}}, {47, 9}, {2, 3}},
      {"no spell of the school", {{2}}, {}, {}},
      {"school and category never together", {{1}}, {207}, {}},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.what);
    SpellExportRequest r;
    r.fields = {F::Name};
    r.schools = tc.schools;
    r.categories = tc.categories;
    SpellExportFile file = export_spell_table(t, r);
    EXPECT_THAT(ids_of(file), ElementsAreArray(tc.expected));
    EXPECT_EQ(file.table_id, SpellTable::FILE_ID);
  }

  SpellExportRequest narrow;
  narrow.fields = {F::Name};
  narrow.schools = {{0}};
  narrow.categories = {207};
  SpellExportFile file = export_spell_table(t, narrow);
  ASSERT_EQ(file.spells.count(1), 1u);
  EXPECT_EQ(file.spells.at(1), nlohmann::json({{"name", "one"}}));
}

TEST(SpellExportTest, EmptyTableStillCarriesFieldsAndTableId) {
  SpellTable t;
  t.id = 0x0E0000AA;
  SpellExportRequest r;
  r.preset = SpellExportPreset::Minimal;
  SpellExportFile file = export_spell_table(t, r);
  EXPECT_TRUE(file.spells.empty());
  EXPECT_EQ(file.table_id, 0x0E0000AAu);
  EXPECT_EQ(file.fields, r.resolved_fields());
  EXPECT_EQ(dump_spell_export(file, true),
            R"({"table_id":234881194,"fields":["name","description","school","category","bitfield",)"
            R"("base_range_constant","base_range_mod","power"],"spells":{}})");
}

TEST(SpellExportTest, DefaultSpellWithBasePresetGivesSortedZeroValues) {
  SpellTable t;
  t.spells[4] = SpellBase::default_spell();
  SpellExportFile file = export_spell_table(t, SpellExportRequest{});
  ASSERT_EQ(file.spells.size(), 1u);
  const nlohmann::json& object = file.spells.at(4);
  EXPECT_TRUE(object["base_range_constant"].is_number_float());
  EXPECT_TRUE(object["mana_mod"].is_number_unsigned());
  // Keys in byte order, whatever the field list's order.
  EXPECT_EQ(object.dump(),
            R"({"base_mana":0,"base_range_constant":0.0,"base_range_mod":0.0,"bitfield":0,"category":0,)"
            R"("description":"","formula_version":0,"mana_mod":0,"name":"","power":0,)"
            R"("raw_components":[0,0,0,0,0,0,0,0],"school":0})");
}

TEST(SpellExportTest, FloatsWidenExactlyAndNonFiniteBecomeNull) {
  struct Case {
    float value;
    nlohmann::json expected;
    const char* text;
  };
  const Case cases[] = {
      {1.5f, 1.5, "1.5"},
      {0.1f, 0.10000000149011612, "0.10000000149011612"},
      {-2.0f, -2.0, "-2.0"},
      {std::numeric_limits<float>::quiet_NaN(), nullptr, "null"},
      {std::numeric_limits<float>::infinity(), nullptr, "null"},
      {-std::numeric_limits<float>::infinity(), nullptr, "null"},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.text);
    SpellTable t;
    t.spells[1].base_range_mod = tc.value;
    t.spells[1].base_range_constant = tc.value;
    SpellExportRequest r;
    r.fields = {F::BaseRangeMod, F::BaseRangeConstant};
    SpellExportFile file = export_spell_table(t, r);
    EXPECT_EQ(file.spells.at(1)["base_range_mod"], tc.expected);
    EXPECT_EQ(file.spells.at(1)["base_range_constant"], tc.expected);
    std::string text = dump_spell_export(file, true);
    EXPECT_EQ(text, std::string(R"({"table_id":0,"fields":["base_range_mod","base_range_constant"],"spells":{"1":{)") +
                        R"("base_range_constant":)" + tc.text + R"(,"base_range_mod":)" + tc.text + "}}}");
  }
}

TEST(SpellExportTest, IntegersStayExactAndComponentsKeepTheirLength) {
  SpellTable t;
  SpellBase& s = t.spells[1];
  s.bitfield = 0xFFFFFFFF;
  s.raw_components = {};
  SpellBase& other = t.spells[2];
  other.raw_components = {7, 0xFFFFFFFF, 3};
  SpellExportRequest r;
  r.fields = {F::Bitfield, F::RawComponents};
  SpellExportFile file = export_spell_table(t, r);
  EXPECT_EQ(file.spells.at(1).dump(), R"({"bitfield":4294967295,"raw_components":[]})");
  EXPECT_EQ(file.spells.at(2).dump(), R"({"bitfield":0,"raw_components":[7,4294967295,3]})");
}

TEST(SpellExportDocumentTest, SpellsRunInNumericIdOrder) {
  SpellTable t;
  t.id = SpellTable::FILE_ID;
  for (uint32_t id : {10u, 9u, 100u, 2u}) t.spells[id] = spell_of(1, 1, "s" + std::to_string(id));
  SpellExportRequest r;
  r.fields = {F::School, F::Name};
  SpellExportFile file = export_spell_table(t, r);
  EXPECT_EQ(dump_spell_export(file, true),
            R"({"table_id":234881038,"fields":["school","name"],"spells":{)"
            R"("2":{"name":"s2","school":1},"9":{"name":"s9","school":1},)"
            R"("10":{"name":"s10","school":1},"100":{"name":"s100","school":1}}})");
}

TEST(SpellExportDocumentTest, IndentedFormUsesTwoSpaces) {
  SpellTable t;
  t.spells[9].name = "caf\xC3\xA9";
  SpellExportRequest r;
  r.fields = {F::Name, F::Power};
  EXPECT_EQ(dump_spell_export(export_spell_table(t, r), false),
            "{\n"
            "  \"table_id\": 0,\n"
            "  \"fields\": [\n"
            "    \"name\",\n"
            "    \"power\"\n"
            "  ],\n"
            "  \"spells\": {\n"
            "    \"9\": {\n"
            "      \"name\": \"caf\xC3\xA9\",\n"
            "      \"power\": 0\n"
            "    }\n"
            "  }\n"
            "}");
}

TEST(SpellExportDocumentTest, BrokenUtf8InAHandBuiltSpellIsReplacedNotThrown) {
  SpellTable t;
  t.spells[1].name = "a\xFF" "b";
  SpellExportRequest r;
  r.fields = {F::Name};
  EXPECT_EQ(dump_spell_export(export_spell_table(t, r), true),
            "{\"table_id\":0,\"fields\":[\"name\"],\"spells\":{\"1\":{\"name\":\"a\xEF\xBF\xBD" "b\"}}}");
}

}  // namespace
}  // namespace kdr
