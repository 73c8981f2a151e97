#include "kelvadorin/tools/dat2kdr.hpp"

#include <gtest/gtest.h>

#include "kelvadorin/dat/archive/reader.hpp"
#include "kelvadorin/testing/run_command.hpp"
#include "kelvadorin/testing/temp_dir.hpp"

namespace kdr {
namespace {

TEST(ResolveNamespaceHintTest, ExplicitThenPresetThenFileName) {
  struct Case {
    std::optional<std::string> explicit_label;
    std::string path;
    std::optional<std::string> preset;
    std::string expect;
  } cases[] = {
      {"derived/test", "client_portal.dat", "vuz/portal", "derived/test"},
      {std::nullopt, "client_portal.dat", std::nullopt, "vuz/portal"},
      {std::nullopt, "client_cell_1.dat", std::nullopt, "vuz/cell"},
      {std::nullopt, "CLIENT_CELL_1.DAT", std::nullopt, "vuz/cell"},
      {std::nullopt, "/data/cell/client_portal.dat", std::nullopt, "vuz/portal"},
      {std::nullopt, "excellent.dat", std::nullopt, "vuz/cell"},
      {std::nullopt, "cel.dat", std::nullopt, "vuz/portal"},
      {std::nullopt, "/data/", std::nullopt, "vuz/portal"},
      {std::nullopt, "", std::nullopt, "vuz/portal"},
      {std::nullopt, "cell.tar.gz", std::nullopt, "vuz/cell"},
      {std::nullopt, "x\xFF" "cell.dat", std::nullopt, "vuz/portal"},
      {std::nullopt, "client_cell_1.dat", "", ""},  // a preset is not validated here
      {"", "client_portal.dat", std::nullopt, "Invalid namespace: namespace label cannot be empty"},
      {std::string(33, 'x'), "a.dat", std::nullopt,
       "Invalid namespace: namespace label '" + std::string(33, 'x') + "' exceeds 32 bytes"},
  };
  for (const auto& c : cases) {
    std::optional<std::string_view> e, p;
    if (c.explicit_label) e = *c.explicit_label;
    if (c.preset) p = *c.preset;
    auto r = resolve_namespace_hint(e, c.path, p);
    std::string got = r ? *r : (r.error().is<ToolError::Validation>() ? r.error().display() : "wrong kind");
    EXPECT_EQ(got, c.expect) << c.path;
  }
}

TEST(RecordKindCodeTest, CellKindsByLowHalfOtherwiseHighByte) {
  EXPECT_EQ(record_kind_code("vuz/cell", 0xA9B4FFFF), 0xFFu);
  EXPECT_EQ(record_kind_code("vuz/cell", 0xA9B4FFFE), 0xFEu);
  EXPECT_EQ(record_kind_code("vuz/cell", 0xA9B40100), 0xFDu);
  EXPECT_EQ(record_kind_code("vuz/portal", 0x0E00000E), 0x0Eu);
  EXPECT_EQ(record_kind_code("derived/x", 0xA9B4FFFF), 0xA9u);
}

TEST(ConvertToArchiveTest, AddsInputsInOrderAndIdsAscending) {
  testing::TempDir dir;
  std::filesystem::create_directories(dir / "in_cell");
  std::filesystem::create_directories(dir / "p");
  testing::write_file(dir / "p" / "02000002.bin", "b");
  testing::write_file(dir / "p" / "02000001.bin", "a");
  testing::write_file(dir / "p" / "0200000.bin", "seven digits: skipped");
  testing::write_file(dir / "p" / "+2000003.bin", "sign: skipped");
  testing::write_file(dir / "in_cell" / "0001FFFE.bin", "c");
  ConvertOptions options;
  options.inputs = {{dir / "p", std::nullopt}, {dir / "in_cell", std::nullopt}};
  auto summary = convert_to_archive(options, dir / "o.kdr");
  ASSERT_TRUE(summary) << summary.error().display();
  EXPECT_EQ(summary->records, 3u);
  EXPECT_EQ(summary->skipped_files, 2u);
  EXPECT_EQ(summary->entries_per_namespace.at("vuz/cell"), 1u);
  auto reader = KdrReader::open(dir / "o.kdr");
  ASSERT_TRUE(reader);
  // Payloads are in adding order: portal ids ascending, then the cell input.
  EXPECT_LT(reader->find_entry_in_namespace("vuz/portal", 0x02000001)->offset,
            reader->find_entry_in_namespace("vuz/portal", 0x02000002)->offset);
  EXPECT_LT(reader->find_entry_in_namespace("vuz/portal", 0x02000002)->offset,
            reader->find_entry_in_namespace("vuz/cell", 0x0001FFFE)->offset);
  EXPECT_EQ(reader->find_entry_in_namespace("vuz/cell", 0x0001FFFE)->type_id, 0xFEu);
}

TEST(ConvertToArchiveTest, MissingInputFailsBeforeTouchingTheOutput) {
  testing::TempDir dir;
  testing::write_file(dir / "o.kdr", "old");
  ConvertOptions options;
  options.inputs = {{dir / "nope", std::nullopt}};
  auto r = convert_to_archive(options, dir / "o.kdr");
  ASSERT_FALSE(r);
  EXPECT_TRUE(r.error().is<ToolError::DatOpen>());
  EXPECT_EQ(testing::read_file(dir / "o.kdr"), "old");
}

}  // namespace
}  // namespace kdr
