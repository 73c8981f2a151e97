#include "kelvadorin/tools/dat_shard.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

namespace kdr {
namespace {

TEST(ParseHexU32Test, AcceptsAndRejectsWithExactMessages) {
  struct Case {
    std::string text;
    std::string expect;  // "=<hex value>" or the message
  } cases[] = {
      {"0xA9B4", "=a9b4"},
      {"a9b4", "=a9b4"},
      {"0X1234", "=1234"},
      {"FFFFFFFF", "=ffffffff"},
      {"000000001", "=1"},
      {"+1f", "=1f"},
      {"0x+1f", "=1f"},
      {"not-hex", "invalid hex u32 \"not-hex\": invalid digit found in string"},
      {"", "invalid hex u32 \"\": cannot parse integer from empty string"},
      {"0x", "invalid hex u32 \"0x\": cannot parse integer from empty string"},
      {"-1", "invalid hex u32 \"-1\": invalid digit found in string"},
      {"+", "invalid hex u32 \"+\": invalid digit found in string"},
      {" 1A", "invalid hex u32 \" 1A\": invalid digit found in string"},
      {"100000000", "invalid hex u32 \"100000000\": number too large to fit in target type"},
      {"1000000000g", "invalid hex u32 \"1000000000g\": number too large to fit in target type"},
      {"0x0x1", "invalid hex u32 \"0x0x1\": invalid digit found in string"},
      {"a\"b\\c\n", "invalid hex u32 \"a\\\"b\\\\c\\n\": invalid digit found in string"},
  };
  for (const auto& c : cases) {
    auto r = parse_hex_u32(c.text);
    std::string got = r ? fmt::format("={:x}", *r) : r.error();
    EXPECT_EQ(got, c.expect) << c.text;
  }
}

}  // namespace
}  // namespace kdr

#include "kelvadorin/dat/archive/archive_source.hpp"
#include "kelvadorin/dat/file_type/surface.hpp"
#include "kelvadorin/testing/archive_builder.hpp"
#include "kelvadorin/testing/byte_writer.hpp"
#include "kelvadorin/testing/landblock_builder.hpp"
#include "kelvadorin/testing/surface_builder.hpp"

namespace kdr {
namespace {

TEST(SpawnNeighborhoodTest, InteriorEdgesAndCorners) {
  struct Case {
    uint32_t spawn;
    std::vector<uint32_t> cells;
  } cases[] = {
      {0xA9B4, {0xA8B3, 0xA8B4, 0xA8B5, 0xA9B3, 0xA9B4, 0xA9B5, 0xAAB3, 0xAAB4, 0xAAB5}},
      {0x0000, {0x0000, 0x0001, 0x0100, 0x0101}},
      {0xFFFF, {0xFEFE, 0xFEFF, 0xFFFE, 0xFFFF}},
      {0x00FF, {0x00FE, 0x00FF, 0x01FE, 0x01FF}},
      {0xFF00, {0xFE00, 0xFE01, 0xFF00, 0xFF01}},
      {0x00B4, {0x00B3, 0x00B4, 0x00B5, 0x01B3, 0x01B4, 0x01B5}},
      {0xFFB4, {0xFEB3, 0xFEB4, 0xFEB5, 0xFFB3, 0xFFB4, 0xFFB5}},
      {0xA900, {0xA800, 0xA801, 0xA900, 0xA901, 0xAA00, 0xAA01}},
      {0xA9FF, {0xA8FE, 0xA8FF, 0xA9FE, 0xA9FF, 0xAAFE, 0xAAFF}},
  };
  for (const auto& c : cases) EXPECT_EQ(spawn_neighborhood_cells(c.spawn), c.cells) << c.spawn;
}

TEST(BootKeepSetTest, EmptyBundlesHoldEssentialsAndNeighbourhoodCells) {
  Bundle empty;
  struct Case {
    uint32_t spawn;
    size_t keys;
  } cases[] = {{0xA9B4, 27}, {0x00B4, 21}, {0x0000, 17}, {0xFFFF, 17}};
  for (const auto& c : cases) EXPECT_EQ(compute_boot_keep_set(empty, c.spawn).size(), c.keys) << c.spawn;
  auto set = compute_boot_keep_set(empty, 0xA9B4);
  for (WalkKey k : {WalkKey{"vuz/portal", 0x0E000002}, WalkKey{"vuz/portal", 0x0E000004}, WalkKey{"vuz/portal", UI_FONT_ID},
                    WalkKey{"vuz/portal", UI_FONT_ATLAS_FG_ID}, WalkKey{"vuz/portal", UI_FONT_ATLAS_BG_ID},
                    WalkKey{"vuz/cell", 0xA9B4FFFF}, WalkKey{"vuz/cell", 0xA9B4FFFE}, WalkKey{"vuz/cell", 0xA8B3FFFF}})
    EXPECT_TRUE(set.contains(k)) << k.first << " " << k.second;
  EXPECT_FALSE(set.contains(WalkKey{"vuz/cell", 0x0000FFFF}));
  EXPECT_TRUE(is_boot_essential("vuz/cell", 0xA8B3FFFF, 0xA9B4));
  EXPECT_FALSE(is_boot_essential("vuz/cell", 0x0000FFFF, 0xA9B4));
}

TEST(BootKeepSetTest, WalksObjectsAndBuildingsAndBothFormsAgree) {
  Bundle bundle;
  LandblockInfo info;
  info.id = 0xA9B4FFFE;
  info.objects.push_back({0x01000001, {}});
  info.buildings.push_back({0x01000002, {}, 0, {}});
  bundle[{"vuz/cell", 0xA9B4FFFE}] = testing::build_landblock_info(info);
  bundle[{"vuz/portal", 0x01000001}] = testing::build_gfx_obj({0x08000001});
  bundle[{"vuz/portal", 0x08000001}] = testing::build_surface(testing::coloured_surface(0x08000001));
  bundle[{"vuz/portal", 0x01000002}] = testing::build_gfx_obj({});
  // A far landblock's model is never reached.
  LandblockInfo far;
  far.id = 0x1010FFFE;
  far.objects.push_back({0x01000099, {}});
  bundle[{"vuz/cell", 0x1010FFFE}] = testing::build_landblock_info(far);
  bundle[{"vuz/portal", 0x01000099}] = testing::build_gfx_obj({});

  auto set = compute_boot_keep_set(bundle, 0xA9B4);
  EXPECT_EQ(set.size(), 27u + 3);
  EXPECT_TRUE(set.contains(WalkKey{"vuz/portal", 0x08000001}));
  EXPECT_FALSE(set.contains(WalkKey{"vuz/portal", 0x01000099}));

  std::vector<testing::Resource> resources;
  for (const auto& [key, bytes] : bundle) resources.push_back({key.first, key.second, 0, bytes});
  auto reader = testing::open_archive_bytes(testing::build_archive(resources));
  ASSERT_TRUE(reader);
  KdrReaderSource source(*reader);
  EXPECT_EQ(compute_boot_keep_set(source, 0xA9B4), set);
}

TEST(BootKeepSetTest, UndecodableLandblockInfoIsLikeAbsent) {
  Bundle broken;
  broken[{"vuz/cell", 0xA9B4FFFE}] = testing::bytes_of({1, 2, 3});
  EXPECT_EQ(compute_boot_keep_set(broken, 0xA9B4), compute_boot_keep_set(Bundle{}, 0xA9B4));
}

TEST(BundleSourceTest, MissingKeyMessage) {
  Bundle empty;
  BundleSource source(empty);
  auto r = source.get_file_by_key({"vuz/cell", 0xA9B4FFFE});
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().display(), "Other error: BundleSource: missing vuz/cell:0xA9B4FFFE");
}

}  // namespace
}  // namespace kdr
