#include "kelvadorin/dat/landblock.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kelvadorin/testing/allocation_probe.hpp"
#include "kelvadorin/testing/byte_writer.hpp"
#include "kelvadorin/testing/field_layout.hpp"
#include "kelvadorin/testing/landblock_builder.hpp"

namespace kdr {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::build_building;
using testing::build_landblock_info;
using testing::build_portal;
using testing::build_stab;
using testing::bytes_of;
using testing::ByteWriter;
using testing::Context;
using testing::entry;
using testing::FieldLayout;
using testing::within;

landblock::Frame frame_of(float base) {
  return {{base, base + 1, base + 2}, {base + 3, base + 4, base + 5, base + 6}};
}

// The decode failure behind a LandblockInfo error, which is always BinRead.
DecodeError cause_of(const Result<LandblockInfo>& r) {
  EXPECT_FALSE(r.has_value());
  if (r) return {};
  const auto* bin = r.error().get_if<DatError::BinRead>();
  EXPECT_NE(bin, nullptr) << r.error().display();
  return bin ? bin->cause : DecodeError{};
}

LandblockInfo decode_ok(const Bytes& bytes) {
  auto r = LandblockInfo::unpack(bytes);
  EXPECT_TRUE(r.has_value()) << r.error().display();
  return r ? *r : LandblockInfo{};
}

const Bytes kEmpty = bytes_of({0xFE, 0xFF, 0xB4, 0xA9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});

TEST(LandblockInfoTest, EmptyRecordDecodes) {
  LandblockInfo info = decode_ok(kEmpty);
  EXPECT_EQ(info.id, 0xA9B4FFFEu);
  EXPECT_EQ(info.num_cells, 0u);
  EXPECT_THAT(info.objects, IsEmpty());
  EXPECT_THAT(info.buildings, IsEmpty());
  EXPECT_FALSE(info.restriction_tables.has_value());
}

TEST(LandblockInfoTest, HeaderCutsAndPackMaskBits) {
  struct Case {
    const char* name;
    size_t length;
    uint8_t pack_mask_low;
    std::vector<std::string> context;  // empty: decodes
  };
  const Case cases[] = {
      {"cut to 3", 3, 0, {"While parsing field 'id' in LandblockInfo"}},
      {"cut to 12", 12, 0, {"While parsing field 'num_buildings' in LandblockInfo"}},
      {"cut to 14", 14, 0, {"While parsing field 'pack_mask' in LandblockInfo"}},
      {"table announced",
       16,
       0x01,
       {"While parsing field 'count' in RestrictionTable",
        "While parsing field 'restriction_tables' in LandblockInfo"}},
      {"other mask bit", 16, 0x02, {}},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Bytes bytes(kEmpty.begin(), kEmpty.begin() + tc.length);
    if (tc.length == 16) bytes[14] = std::byte{tc.pack_mask_low};
    auto r = LandblockInfo::unpack(bytes);
    if (tc.context.empty()) {
      ASSERT_TRUE(r.has_value()) << r.error().display();
      EXPECT_EQ(r->pack_mask, tc.pack_mask_low);
      EXPECT_FALSE(r->restriction_tables.has_value());
      continue;
    }
    DecodeError e = cause_of(r);
    EXPECT_EQ(e.kind, DecodeError::Kind::UnexpectedEnd);
    EXPECT_EQ(e.context, tc.context);
    EXPECT_EQ(r.error().display().rfind("Binary read error: failed to fill whole buffer", 0), 0u);
  }
}

TEST(LandblockInfoTest, StabAndBareBuildingSizes) {
  const Stab stab{0x01000001, frame_of(1)};
  const BuildInfo building{0x02000001, frame_of(2), 5, {}};
  Bytes bytes = build_stab(stab);
  Bytes b = build_building(building);
  bytes.insert(bytes.end(), b.begin(), b.end());
  ASSERT_EQ(bytes.size(), 32u + 40u);

  ByteCursor c(bytes);
  auto got_stab = decode<Stab>(c);
  ASSERT_TRUE(got_stab.has_value());
  EXPECT_EQ(*got_stab, stab);
  EXPECT_EQ(c.position(), 32u);
  auto got_building = decode<BuildInfo>(c);
  ASSERT_TRUE(got_building.has_value());
  EXPECT_EQ(*got_building, building);
  EXPECT_EQ(c.position(), 72u);
}

// A portal ends on a multiple of 4: an odd stab count brings two skipped bytes,
// whatever they hold.
TEST(PortalInternalTest, OddStabCountsSkipTwoBytes) {
  struct Case {
    uint16_t num_stabs;
    uint64_t size;
  };
  const Case cases[] = {{0, 8}, {1, 12}, {2, 12}, {3, 16}};
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.num_stabs);
    PortalInternal want{0x8001, 0x0102, 0x0304, {}};
    for (uint16_t i = 0; i < tc.num_stabs; ++i) want.stab_list.push_back(static_cast<uint16_t>(0x100 + i));
    Bytes bytes = build_portal(want, 0xEEEE);
    ASSERT_EQ(bytes.size(), tc.size);
    bytes.push_back(std::byte{0x77});

    ByteCursor c(bytes);
    auto got = decode<PortalInternal>(c);
    ASSERT_TRUE(got.has_value()) << got.error().description();
    EXPECT_EQ(*got, want);
    EXPECT_EQ(c.position(), tc.size);
  }
}

TEST(LandblockInfoTest, LastPortalMayEndWithoutItsPadding) {
  LandblockInfo info{0x1234FFFE, 3, {}, 0, {BuildInfo{0x01000005, frame_of(3), 1, {{1, 2, 3, {9}}}}}, {}};
  Bytes bytes = build_landblock_info(info);
  for (size_t drop : {0, 1, 2}) {
    SCOPED_TRACE(drop);
    EXPECT_EQ(decode_ok(Bytes(bytes.begin(), bytes.end() - static_cast<ptrdiff_t>(drop))), info);
  }
}

TEST(LandblockInfoTest, RepeatedRestrictionKeyKeepsTheLaterValue) {
  Bytes bytes = ByteWriter()
                    .u32(0x0101FFFE)
                    .u32(0)
                    .u32(0)
                    .u16(0)
                    .u16(1)
                    .u16(2)
                    .u16(0x40)  // bucket size: not kept
                    .u32(5)
                    .u32(1)
                    .u32(5)
                    .u32(2)
                    .take();
  LandblockInfo info = decode_ok(bytes);
  ASSERT_TRUE(info.restriction_tables.has_value());
  EXPECT_EQ(info.restriction_tables->tables, (std::unordered_map<uint32_t, uint32_t>{{5, 2}}));
}

TEST(LandblockInfoTest, BytesAfterTheLastFieldAreIgnored) {
  Bytes bytes = kEmpty;
  bytes.resize(bytes.size() + 9, std::byte{0xAB});
  EXPECT_EQ(decode_ok(bytes), decode_ok(kEmpty));
}

const std::string kObjects = entry("objects", "LandblockInfo");
const std::string kBuildings = entry("buildings", "LandblockInfo");
const std::string kPortals = entry("portals", "BuildInfo");
const std::string kStabList = entry("stab_list", "PortalInternal");
const std::string kTables = entry("tables", "RestrictionTable");
const std::string kRestriction = entry("restriction_tables", "LandblockInfo");

void stab_layout(FieldLayout& l) {
  l.field(4, {entry("id", "Stab"), kObjects}).frame({entry("frame", "Stab"), kObjects});
}

void portal_layout(FieldLayout& l, const PortalInternal& p) {
  const Context outer = {kPortals, kBuildings};
  for (const char* f : {"flags", "other_cell_id", "other_portal_id", "num_stabs"})
    l.field(2, within({entry(f, "PortalInternal")}, outer));
  for (size_t i = 0; i < p.stab_list.size(); ++i) l.field(2, within({kStabList}, outer));
  if (p.stab_list.size() % 2 != 0) l.skipped(2);
}

void building_layout(FieldLayout& l, const BuildInfo& b) {
  l.field(4, {entry("model_id", "BuildInfo"), kBuildings});
  l.frame({entry("frame", "BuildInfo"), kBuildings});
  l.field(4, {entry("num_leaves", "BuildInfo"), kBuildings});
  l.field(4, {entry("num_portals", "BuildInfo"), kBuildings});
  for (const PortalInternal& p : b.portals) portal_layout(l, p);
}

FieldLayout info_layout(const LandblockInfo& info) {
  FieldLayout l;
  for (const char* f : {"id", "num_cells", "num_objects"}) l.field(4, {entry(f, "LandblockInfo")});
  for (size_t i = 0; i < info.objects.size(); ++i) stab_layout(l);
  l.field(2, {entry("num_buildings", "LandblockInfo")}).field(2, {entry("pack_mask", "LandblockInfo")});
  for (const BuildInfo& b : info.buildings) building_layout(l, b);
  if (info.restriction_tables) {
    l.field(2, {entry("count", "RestrictionTable"), kRestriction});
    l.field(2, {entry("_bucket_size", "RestrictionTable"), kRestriction});
    for (size_t i = 0; i < info.restriction_tables->tables.size(); ++i)
      l.field(4, {kTables, kRestriction}).field(4, {kTables, kRestriction});
  }
  return l;
}

std::vector<std::pair<const char*, LandblockInfo>> sample_records() {
  LandblockInfo with_table;
  with_table.id = 0xA9B4FFFE;
  with_table.num_cells = 12;
  with_table.objects = {{0x01000010, frame_of(1)}, {0x02000011, frame_of(2)}};
  with_table.pack_mask = 0x0003;
  with_table.buildings = {
      BuildInfo{0x01000020, frame_of(3), 7, {{0x1, 0x0100, 2, {4}}, {0x2, 0x0101, 3, {5, 6}}}},
      BuildInfo{0x02000021, frame_of(4), 0, {}},
  };
  with_table.restriction_tables = RestrictionTable{{{0x10, 0x20}}};

  LandblockInfo odd_last;
  odd_last.id = 0x0102FFFE;
  odd_last.buildings = {BuildInfo{0x01000030, frame_of(5), 1, {{0, 1, 2, {7, 8, 9}}}}};
  return {{"stabs, buildings and a table", with_table}, {"last portal with an odd stab count", odd_last}};
}

TEST(LandblockInfoTest, BuiltRecordsRoundTrip) {
  for (const auto& [name, info] : sample_records()) {
    SCOPED_TRACE(name);
    Bytes bytes = build_landblock_info(info);
    EXPECT_EQ(bytes.size(), info_layout(info).size());
    EXPECT_EQ(decode_ok(bytes), info);
  }
}

// Every prefix fails in the field owning its first missing byte, with the
// entries of that field and of every enclosing field, innermost first; a cut
// inside the padding of the very last portal still decodes.
TEST(LandblockInfoTest, EveryCutShortPrefixNamesTheFieldAndItsEnclosingFields) {
  for (const auto& [name, info] : sample_records()) {
    Bytes bytes = build_landblock_info(info);
    FieldLayout layout = info_layout(info);
    ASSERT_EQ(bytes.size(), layout.size()) << name;
    for (size_t len = 0; len < bytes.size(); ++len) {
      SCOPED_TRACE(::testing::Message() << name << " cut to " << len << " bytes");
      auto r = LandblockInfo::unpack(ByteView(bytes).first(len));
      std::optional<Context> want = layout.failure_at(len);
      if (!want) {
        ASSERT_TRUE(r.has_value()) << r.error().display();
        EXPECT_EQ(*r, info);
        continue;
      }
      DecodeError e = cause_of(r);
      EXPECT_EQ(e.kind, DecodeError::Kind::UnexpectedEnd);
      EXPECT_EQ(e.message, "failed to fill whole buffer");
      EXPECT_EQ(e.context, *want);
    }
  }
}

TEST(LandblockInfoTest, CutInsideTheFirstStabOriginReportsFourEntries) {
  const Bytes bytes = build_landblock_info(sample_records()[0].second);
  // 12 header bytes, the stab id, then x and y of the origin.
  DecodeError e = cause_of(LandblockInfo::unpack(ByteView(bytes).first(12 + 4 + 8 + 3)));
  EXPECT_THAT(e.context,
              ElementsAre("While parsing field 'z' in Vector3", "While parsing field 'origin' in Frame",
                          "While parsing field 'frame' in Stab", "While parsing field 'objects' in LandblockInfo"));
}

// Counts no short input can satisfy end at the first missing element, quickly
// and without storage sized from the count.
TEST(LandblockInfoTest, HugeCountsInShortInputsFailWithoutSizingStorage) {
  auto head = [](uint32_t num_objects, uint16_t num_buildings, uint16_t pack_mask) {
    ByteWriter w;
    w.u32(0x0202FFFE).u32(0).u32(num_objects);
    if (num_objects == 0) w.u16(num_buildings).u16(pack_mask);
    return w;
  };
  auto building = [](uint32_t num_portals) {
    return ByteWriter().u32(0x01000001).zeros(28).u32(0).u32(num_portals);
  };
  struct Case {
    const char* name;
    Bytes bytes;
    std::vector<std::string> context;
  };
  const Case cases[] = {
      {"object count",
       head(0xFFFFFFFF, 0, 0).zeros(32 + 2).take(),
       {entry("id", "Stab"), kObjects}},
      {"building count",
       head(0, 0xFFFF, 0).zeros(32 + 2).take(),
       {entry("num_leaves", "BuildInfo"), kBuildings}},
      {"portal count",
       head(0, 1, 0).bytes(building(0xFFFFFFFF).zeros(6).take()).take(),
       {entry("num_stabs", "PortalInternal"), kPortals, kBuildings}},
      {"stab count",
       head(0, 1, 0).bytes(building(1).u16(0).u16(0).u16(0).u16(0xFFFF).u16(1).take()).take(),
       {kStabList, kPortals, kBuildings}},
      {"table count", head(0, 0, 1).u16(0xFFFF).u16(0).u32(1).u32(2).u32(3).take(), {kTables, kRestriction}},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    testing::AllocationProbe probe;
    DecodeError e = cause_of(LandblockInfo::unpack(tc.bytes));
    EXPECT_EQ(e.kind, DecodeError::Kind::UnexpectedEnd);
    EXPECT_EQ(e.context, tc.context);
    EXPECT_LE(probe.largest(), 8 * tc.bytes.size() + 256);
  }
}

}  // namespace
}  // namespace kdr
