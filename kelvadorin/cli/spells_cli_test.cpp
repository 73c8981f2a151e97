// End-to-end tests of `kdr spells`: sources, options, output and exit
// statuses. The export and the option parsing are tested beside the libraries.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "kelvadorin/testing/run_command.hpp"
#include "kelvadorin/testing/spell_builder.hpp"
#include "kelvadorin/testing/temp_dir.hpp"

namespace kdr {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using testing::read_file;
using testing::write_file;

std::string text_of(const Bytes& b) { return std::string(reinterpret_cast<const char*>(b.data()), b.size()); }

class SpellsCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SpellTable table;
    table.id = SpellTable::FILE_ID;
    SpellBase bolt;
    bolt.name = "Flame Bolt";
    bolt.school = 1;
    bolt.category = 207;
    bolt.base_range_mod = 1.5f;
    SpellBase heal;
    heal.name = "Heal Self";
    heal.school = 4;
    heal.category = 47;
    SpellBase ward;
    ward.name = "Ward";
    ward.school = 1;
    ward.category = 47;
    table.spells = {{10, bolt}, {9, heal}, {2, ward}};
    std::filesystem::create_directories(dir_ / "portal");
    write_file(dir_ / "portal" / "0E00000E.bin", text_of(testing::build_spell_table(table)));
  }

  testing::CommandResult kdr(const std::string& args) {
    return testing::run_command(std::string(KDR_BINARY) + " " + args, dir_.path());
  }
  std::string path(std::string_view name) const { return (dir_ / name).string(); }

  testing::TempDir dir_;
};

TEST_F(SpellsCliTest, ExportsFromAFolderAndFromItsConvertedArchiveAlike) {
  auto convert = kdr("convert -q --portal " + path("portal") + " -o " + path("world.kdr"));
  ASSERT_EQ(convert.status, 0) << convert.err;

  auto from_folder = kdr("spells " + path("portal"));
  ASSERT_EQ(from_folder.status, 0) << from_folder.err;
  auto from_archive = kdr("spells " + path("world.kdr"));
  ASSERT_EQ(from_archive.status, 0) << from_archive.err;
  EXPECT_EQ(from_folder.out, from_archive.out);
  EXPECT_EQ(from_folder.err, "");

  auto doc = nlohmann::ordered_json::parse(from_archive.out);
  std::vector<std::string> top, ids;
  for (const auto& [key, value] : doc.items()) top.push_back(key);
  for (const auto& [key, value] : doc["spells"].items()) ids.push_back(key);
  EXPECT_THAT(top, ElementsAre("table_id", "fields", "spells"));
  EXPECT_EQ(doc["table_id"], SpellTable::FILE_ID);
  EXPECT_EQ(doc["fields"].size(), 12u);  // the base preset
  EXPECT_THAT(ids, ElementsAre("2", "9", "10"));  // numeric order, not text order
  EXPECT_EQ(doc["spells"]["10"]["name"], "Flame Bolt");
  EXPECT_EQ(doc["spells"]["10"]["base_range_mod"], 1.5);
  EXPECT_THAT(from_archive.out, StartsWith("{\n  \"table_id\": "));
}

TEST_F(SpellsCliTest, FieldsFiltersAndCompactShapeTheDocument) {
  // A --school right before SOURCE takes one value, leaving SOURCE alone.
  auto r = kdr("spells --category 47 --fields power,name --compact --school 1 --school 2 " + path("portal"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, R"({"table_id":234881038,"fields":["power","name"],"spells":{"2":{"name":"Ward","power":0}}})"
                   "\n");

  auto minimal = nlohmann::json::parse(kdr("spells --preset minimal " + path("portal")).out);
  EXPECT_EQ(minimal["fields"].size(), 8u);
  EXPECT_FALSE(minimal["spells"]["9"].contains("base_mana"));
}

TEST_F(SpellsCliTest, OutputFileHoldsTheDocumentAndSurvivesAFailedExport) {
  auto printed = kdr("spells " + path("portal")).out;
  write_file(dir_ / "spells.json", "old");
  auto r = kdr("spells " + path("portal") + " -o " + path("spells.json"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir_ / "spells.json"), printed);
  EXPECT_THAT(r.out, Not(HasSubstr("table_id")));  // the document goes to the file only

  // A failed export leaves the earlier file as it was.
  EXPECT_EQ(kdr("spells " + path("nowhere") + " -o " + path("spells.json")).status, 1);
  EXPECT_EQ(read_file(dir_ / "spells.json"), printed);

  auto unwritable = kdr("spells " + path("portal") + " -o " + path("no/such/folder.json"));
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_THAT(unwritable.err, StartsWith("kdr: error: cannot write " + path("no/such/folder.json") + ": "));
}

TEST_F(SpellsCliTest, ErrorsNameTheProblemAndExitWithTheirStatus) {
  std::filesystem::create_directories(dir_ / "empty");
  std::filesystem::create_directories(dir_ / "broken");
  write_file(dir_ / "broken" / "0E00000E.bin", std::string(6, '\0'));  // ends inside the counts
  auto broken = SpellTable::unpack(Bytes(6, std::byte{0}));
  ASSERT_FALSE(broken.has_value());

  struct Case {
    std::string args;
    int status;
    std::string err;
  } cases[] = {
      {"spells --fields name,colour " + path("portal"), 2,
       "kdr: error: unknown spell field 'colour'; valid fields: name, description, school, category, bitfield, "
       "base_mana, base_range_constant, base_range_mod, power, raw_components, mana_mod, formula_version\n"},
      {"spells --school 0 " + path("portal"), 2,
       "kdr: error: school number 0 does not exist; school numbers run from 1 to 256\n"},
      {"spells --preset everything " + path("portal"), 2,
       "kdr: error: unknown spell preset 'everything'; valid presets: base, minimal\n"},
      {"spells " + path("empty"), 1,
       "kdr: error: no spell table 0x0E00000E in " + path("empty") + ": File ID 0E00000E not found in provider\n"},
      {"spells " + path("broken"), 1,
       "kdr: error: cannot decode spell table 0x0E00000E in " + path("broken") + ": " + broken.error().description() +
           "\n"},
      {"spells", 2, ""},
  };
  for (const auto& c : cases) {
    auto r = kdr(c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_THAT(r.err, StartsWith(c.err)) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
  }
}

}  // namespace
}  // namespace kdr
