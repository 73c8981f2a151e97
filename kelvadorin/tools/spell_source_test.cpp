#include "kelvadorin/tools/spell_source.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kelvadorin/testing/archive_builder.hpp"
#include "kelvadorin/testing/run_command.hpp"
#include "kelvadorin/testing/spell_builder.hpp"
#include "kelvadorin/testing/temp_dir.hpp"

namespace kdr {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing::build_spell_table;
using testing::write_file;
using F = SpellExportField;

std::string text_of(const Bytes& b) { return std::string(reinterpret_cast<const char*>(b.data()), b.size()); }

SpellTable sample_table() {
  SpellTable t;
  t.id = SpellTable::FILE_ID;
  SpellBase a;
  a.name = "Flame Bolt";
  a.school = 1;
  a.category = 207;
  SpellBase b;
  b.name = "Heal Self";
  b.school = 4;
  b.raw_components = {1, 2, 3, 4, 5, 6, 7, 8};
  t.spells = {{1, a}, {6, b}};
  return t;
}

class SpellSourceTest : public ::testing::Test {
 protected:
  std::filesystem::path folder_with(const std::string& name, const Bytes& data) {
    auto folder = dir_ / "portal";
    std::filesystem::create_directories(folder);
    write_file(folder / name, text_of(data));
    return folder;
  }
  std::filesystem::path archive_with(std::string label, uint32_t id, const Bytes& data) {
    auto path = dir_ / "world.kdr";
    write_file(path, text_of(testing::build_archive({{std::move(label), id, 0x0E, data}})));
    return path;
  }
  std::string display_of_failure(const std::filesystem::path& source) {
    auto r = load_spell_table(source);
    EXPECT_FALSE(r.has_value());
    return r ? std::string() : r.error().display();
  }

  testing::TempDir dir_;
};

TEST_F(SpellSourceTest, ReadsTheTableFromAFolderAndFromTheArchivePortalNamespace) {
  const SpellTable table = sample_table();
  const Bytes bytes = build_spell_table(table);
  // Folder files are named by id in any case and with any extension.
  for (const auto& source : {folder_with("0e00000e.dat", bytes), archive_with("vuz/portal", SpellTable::FILE_ID, bytes)}) {
    auto loaded = load_spell_table(source);
    ASSERT_TRUE(loaded.has_value()) << source << ": " << loaded.error().display();
    EXPECT_EQ(*loaded, table) << source;
  }
}

TEST_F(SpellSourceTest, MissingTableNamesTheSourceAndTheId) {
  const Bytes bytes = build_spell_table(sample_table());
  auto folder = folder_with("0E00000D.bin", bytes);  // a neighbouring id is not the table
  EXPECT_EQ(display_of_failure(folder),
            "no spell table 0x0E00000E in " + folder.string() + ": File ID 0E00000E not found in provider");
  // The record counts only in the portal namespace.
  auto archive = archive_with("vuz/cell", SpellTable::FILE_ID, bytes);
  EXPECT_EQ(display_of_failure(archive),
            "no spell table 0x0E00000E in " + archive.string() + ": File ID 0E00000E not found in provider");
}

TEST_F(SpellSourceTest, UndecodableTableCarriesTheWholeDecodeError) {
  Bytes bytes = build_spell_table(sample_table());
  bytes.resize(30);  // ends inside the first spell's record
  auto expected = SpellTable::unpack(bytes);
  ASSERT_FALSE(expected.has_value());
  const std::string cause = expected.error().description();
  ASSERT_THAT(cause, HasSubstr("While parsing field"));  // the context entries must survive
  for (const auto& source : {folder_with("0E00000E.bin", bytes), archive_with("vuz/portal", SpellTable::FILE_ID, bytes)})
    EXPECT_EQ(display_of_failure(source), "cannot decode spell table 0x0E00000E in " + source.string() + ": " + cause);
}

TEST_F(SpellSourceTest, RefusesAmbiguousFoldersAndUnopenableSources) {
  const Bytes bytes = build_spell_table(sample_table());
  folder_with("0E00000E.bin", bytes);
  auto folder = folder_with("0E00000E.dat", bytes);
  EXPECT_THAT(display_of_failure(folder), StartsWith("cannot read spell table 0x0E00000E in " + folder.string()));

  EXPECT_THAT(display_of_failure(dir_ / "missing.kdr"), StartsWith("Failed to open file at"));
  write_file(dir_ / "junk.kdr", "not an archive at all, but long enough to hold a header");
  EXPECT_THAT(display_of_failure(dir_ / "junk.kdr"), HasSubstr("Invalid magic"));
}

TEST(SpellRequestFromOptionsTest, BuildsTheRequestFromOptionTexts) {
  SpellExportOptions options;
  options.fields = "power, name,power";  // spaces around keys are allowed; repeats resolve later
  options.preset = "minimal";
  options.schools = {"1", "256"};
  options.categories = {"0", "4294967295"};
  auto r = spell_request_from_options(options);
  ASSERT_TRUE(r.has_value()) << r.error();
  EXPECT_THAT(r->fields, ElementsAre(F::Power, F::Name, F::Power));
  EXPECT_EQ(r->preset, SpellExportPreset::Minimal);
  EXPECT_THAT(r->schools, ElementsAre(SpellSchool{0}, SpellSchool{255}));
  EXPECT_THAT(r->categories, ElementsAre(0u, 4294967295u));

  auto defaults = spell_request_from_options({});
  ASSERT_TRUE(defaults.has_value());
  EXPECT_TRUE(defaults->fields.empty());
  EXPECT_EQ(defaults->preset, SpellExportPreset::Base);
  EXPECT_TRUE(defaults->schools.empty());
  EXPECT_TRUE(defaults->categories.empty());
}

SpellExportOptions with_fields(std::string text) {
  SpellExportOptions o;
  o.fields = std::move(text);
  return o;
}
SpellExportOptions with_preset(std::string text) {
  SpellExportOptions o;
  o.preset = std::move(text);
  return o;
}
SpellExportOptions with_schools(std::vector<std::string> texts) {
  SpellExportOptions o;
  o.schools = std::move(texts);
  return o;
}
SpellExportOptions with_categories(std::vector<std::string> texts) {
  SpellExportOptions o;
  o.categories = std::move(texts);
  return o;
}

TEST(SpellRequestFromOptionsTest, RefusesBadValuesWithMessagesThatSayWhatIsValid) {
  const std::string all_keys =
      "name, description, school, category, bitfield, base_mana, base_range_constant, base_range_mod, power, "
      "raw_components, mana_mod, formula_version";
  struct Case {
    SpellExportOptions options;
    std::string message;
  } cases[] = {
      {with_fields("name,colour"), "unknown spell field 'colour'; valid fields: " + all_keys},
      {with_fields("Name"), "unknown spell field 'Name'; valid fields: " + all_keys},
      {with_fields("name,"), "unknown spell field ''; valid fields: " + all_keys},
      {with_fields(""), "unknown spell field ''; valid fields: " + all_keys},
      {with_preset("Base"), "unknown spell preset 'Base'; valid presets: base, minimal"},
      {with_schools({"0"}), "school number 0 does not exist; school numbers run from 1 to 256"},
      {with_schools({"257"}), "school number 257 does not exist; school numbers run from 1 to 256"},
      {with_schools({"2", "fire"}), "invalid school number 'fire': expected a decimal number"},
      {with_schools({"0x1"}), "invalid school number '0x1': expected a decimal number"},
      {with_categories({"-1"}), "invalid category '-1': expected a decimal number from 0 to 4294967295"},
      {with_categories({"4294967296"}), "invalid category '4294967296': expected a decimal number from 0 to 4294967295"},
      {with_categories({"+5"}), "invalid category '+5': expected a decimal number from 0 to 4294967295"},
      {with_categories({""}), "invalid category '': expected a decimal number from 0 to 4294967295"},
  };
  for (const auto& c : cases) {
    auto r = spell_request_from_options(c.options);
    ASSERT_FALSE(r.has_value()) << c.message;
    EXPECT_EQ(r.error(), c.message);
  }
}

}  // namespace
}  // namespace kdr
