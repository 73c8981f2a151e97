#include "kelvadorin/dat/manifest.hpp"

#include <gtest/gtest.h>

#include "kelvadorin/dat/file_type/spell_table.hpp"
#include "kelvadorin/dat/file_type/table_ids.hpp"

namespace kdr {
namespace {

struct Case {
  const char* ns;
  uint32_t id;
  DatFileType type;
  bool keep;
};

TEST(StripperManifestTest, LogicOnlyKeepsWholeKinds) {
  const Case cases[] = {
      {"vuz/portal", 0x01000001, DatFileType::Model, true},
      {"vuz/portal", 0x0E000099, DatFileType::Table, true},
      {"vuz/portal", 0x0A000001, DatFileType::Audio, true},
      {"vuz/cell", 0xA9B4FFFE, DatFileType::LandblockInfo, true},
      {"anything", 7, dat_file_type_from_code(0x78), true},
      {"vuz/portal", 0x10000001, DatFileType::Clothing, false},
      {"vuz/portal", 0x03000003, DatFileType::Animation, false},
      {"vuz/portal", 0x09000001, DatFileType::MotionTable, false},
      {"vuz/portal", 0x06000001, DatFileType::Texture, false},
  };
  auto m = StripperManifest::logic_only();
  EXPECT_EQ(m.rules.size(), 22u);
  for (const auto& c : cases) EXPECT_EQ(m.should_keep_entry(c.ns, c.id, c.type), c.keep) << c.ns << " " << c.id;
}

TEST(StripperManifestTest, MicroKeepsFivePortalTablesWhateverTheKind) {
  const Case cases[] = {
      {"vuz/portal", SkillTable::FILE_ID, DatFileType::Table, true},
      {"vuz/portal", SpellTable::FILE_ID, DatFileType::Table, true},
      {"vuz/portal", XpTable::FILE_ID, DatFileType::Table, true},
      {"vuz/portal", CharGen::FILE_ID, DatFileType::Table, true},
      {"vuz/portal", 0x0E000007, DatFileType::Table, true},
      {"vuz/portal", 0x0E000004, DatFileType::Model, true},
      {"vuz/portal", 0x01000001, DatFileType::Model, false},
      {"vuz/portal", 0x0E000099, DatFileType::Table, false},
      {"vuz/cell", 0x09000001, DatFileType::MotionTable, false},
      {"vuz/portal", 0x03000003, DatFileType::Animation, false},
      {"vuz/portal", 0x09000001, DatFileType::MotionTable, false},
      {"vuz/cell", 0x0E000004, DatFileType::Table, false},
      {"VUZ/PORTAL", 0x0E000004, DatFileType::Table, false},
  };
  auto m = StripperManifest::micro();
  for (const auto& c : cases) EXPECT_EQ(m.should_keep_entry(c.ns, c.id, c.type), c.keep) << c.ns << " " << c.id;
}

TEST(StripperManifestTest, EmptyManifestKeepsNothing) {
  EXPECT_FALSE(StripperManifest().should_keep_entry("vuz/portal", 0x01000001, DatFileType::Model));
}

}  // namespace
}  // namespace kdr
