#include "kelvadorin/tools/record_json.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

#include "kelvadorin/dat/file_type/motion_kinematics.hpp"
#include "kelvadorin/testing/byte_writer.hpp"
#include "kelvadorin/testing/surface_builder.hpp"

namespace kdr {
namespace {

TEST(ShowKindTest, ChosenFromTheKey) {
  struct Case {
    const char* ns;
    uint32_t id;
    std::optional<ShowKind> kind;
  } cases[] = {
      {"vuz/portal", 0x02000001, ShowKind::Setup},        {"vuz/portal", 0x01000001, ShowKind::GfxSurfaces},
      {"vuz/portal", 0x08000001, ShowKind::Surface},      {"vuz/portal", 0x05000001, ShowKind::SurfaceTexture},
      {"vuz/portal", 0x06000001, ShowKind::Texture},      {"vuz/cell", 0xA9B4FFFE, ShowKind::LandblockInfo},
      {"kelvadorin/core", 0x4D4F544B, ShowKind::Kinematics}, {"vuz/cell", 0xA9B4FFFF, std::nullopt},
      {"vuz/portal", 0x0A000001, std::nullopt},           {"vuz/portal", 0x4D4F544B, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(show_kind_for(c.ns, c.id), c.kind) << c.ns << " " << c.id;
  EXPECT_EQ(parse_show_kind("surface-texture"), ShowKind::SurfaceTexture);
  EXPECT_EQ(parse_show_kind("Surface"), std::nullopt);
}

TEST(RecordJsonTest, TextureShowsDataLengthAndIdsAsHex) {
  Texture t = testing::make_texture(0x06000001, 41, Bytes(300, std::byte{1}), 0x04000002);
  auto json = record_to_json(ShowKind::Texture, testing::build_texture(t));
  ASSERT_TRUE(json) << json.error();
  EXPECT_EQ((*json)["id"], "0x06000001");
  EXPECT_EQ((*json)["source_data"]["length"], 300);
  EXPECT_EQ((*json)["default_palette_id"], "0x04000002");
}

TEST(RecordJsonTest, NonFiniteFloatsBecomeNull) {
  MotionKinematics k = MotionKinematics::create();
  auto table = MotionKinematicsTable::create(0x09000001, 0x80000003);
  table.cycles[0x00030007] = {Vector3{std::numeric_limits<float>::quiet_NaN(), 1.5f, 0.1f}, std::nullopt};
  k.tables.emplace(0x09000001, table);
  MemorySink sink;
  ASSERT_TRUE(k.write(sink));
  auto json = record_to_json(ShowKind::Kinematics, sink.bytes());
  ASSERT_TRUE(json) << json.error();
  const auto& v = (*json)["tables"]["0x09000001"]["cycles"]["0x00030007"]["velocity"];
  EXPECT_TRUE(v["x"].is_null());
  EXPECT_EQ(v["y"], 1.5);
  EXPECT_EQ(v["z"].dump(), "0.10000000149011612");
  EXPECT_TRUE((*json)["tables"]["0x09000001"]["cycles"]["0x00030007"]["omega"].is_null());
}

TEST(RecordJsonTest, DecodeFailureGivesTheWholeDescription) {
  auto json = record_to_json(ShowKind::LandblockInfo, testing::bytes_of({0xFE, 0xFF, 0xB4}));
  ASSERT_FALSE(json);
  EXPECT_EQ(json.error(), "failed to fill whole buffer\n    While parsing field 'id' in LandblockInfo");
  EXPECT_FALSE(record_to_json(ShowKind::GfxSurfaces, Bytes(8)));
}

}  // namespace
}  // namespace kdr
