#include "kelvadorin/dat/file_type/motion_kinematics.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "kelvadorin/testing/byte_writer.hpp"

// Largest single request to operator new since the last reset: shows that a
// huge count never sizes storage.
namespace {
std::atomic<size_t> largest_allocation{0};
}  // namespace

void* operator new(std::size_t n) {
  size_t seen = largest_allocation.load(std::memory_order_relaxed);
  while (n > seen && !largest_allocation.compare_exchange_weak(seen, n, std::memory_order_relaxed)) {
  }
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace kdr {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::ByteWriter;
using testing::bytes_of;

constexpr uint32_t kMagic = 0x4D4F544B;

Bytes write_bytes(const MotionKinematics& mk) {
  MemorySink sink;
  auto w = mk.write(sink);
  EXPECT_TRUE(w.has_value()) << w.error().description();
  return sink.take();
}

DecodeResult<MotionKinematics> read_bytes(ByteView bytes) {
  ByteCursor c(bytes);
  return MotionKinematics::read(c);
}

MotionCommandKinematics cycle(std::optional<Vector3> velocity, std::optional<Vector3> omega) {
  return MotionCommandKinematics{velocity, omega};
}

// A little of everything: several setups, tables with every cycle form.
MotionKinematics rich_asset() {
  MotionKinematics mk = MotionKinematics::create();
  mk.setup_defaults[0x02000001] = 0x09000023;
  mk.setup_defaults[0x020000FF] = 0x09000023;
  mk.setup_defaults[0x02000010] = 0x09000001;
  auto a = MotionKinematicsTable::create(0x09000023, 0x80000003);
  a.cycles[cycle_key(0x80000003, 0x44000007)] = cycle(Vector3{0, 4.0f, 0}, std::nullopt);
  a.cycles[cycle_key(0x80000003, 0x6500000D)] = cycle(std::nullopt, Vector3{0, 0, 1.5f});
  a.cycles[cycle_key(0x80000003, 0x41000003)] = cycle(std::nullopt, std::nullopt);
  a.cycles[cycle_key(0x8000003D, 0x44000007)] = cycle(Vector3{0, 1, 0}, Vector3{0, 0, -1});
  mk.tables[a.motion_table_id] = a;
  mk.tables[0x09000001] = MotionKinematicsTable::create(0x09000001, 0x8000003C);
  return mk;
}

TEST(MotionKinematicsTest, NewAssetIsMagicVersionAndTwoZeroCounts) {
  MotionKinematics mk = MotionKinematics::create();
  EXPECT_EQ(mk.magic, kMagic);
  EXPECT_EQ(mk.version, 1u);
  EXPECT_EQ(write_bytes(mk), bytes_of({0x4B, 0x54, 0x4F, 0x4D, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(MotionKinematicsTest, SingleSetupDefaultRoundTripsThroughTwentyFourBytes) {
  MotionKinematics mk = MotionKinematics::create();
  mk.setup_defaults[0x02000001] = 0x09000001;
  Bytes want = bytes_of({0x4B, 0x54, 0x4F, 0x4D, 0x01, 0, 0, 0, 0x01, 0, 0, 0, 0x01, 0, 0, 0x02,
                         0x01, 0, 0, 0x09, 0, 0, 0, 0});
  Bytes bytes = write_bytes(mk);
  EXPECT_EQ(bytes, want);
  ByteCursor c(bytes);
  auto back = MotionKinematics::read(c);
  ASSERT_TRUE(back.has_value()) << back.error().description();
  EXPECT_EQ(c.position(), 24u);
  EXPECT_EQ(back->magic, kMagic);
  EXPECT_EQ(back->default_motion_table_for_setup(0x02000001), 0x09000001u);
}

// Setups, tables and cycles all come out in ascending key order, whatever
// order they went in.
TEST(MotionKinematicsTest, EveryKeyListIsWrittenInAscendingOrder) {
  MotionKinematics mk = MotionKinematics::create();
  mk.setup_defaults[0x0200000A] = 0x09000002;
  mk.setup_defaults[0x02000003] = 0x09000003;
  mk.setup_defaults[0x02000001] = 0x09000001;
  auto big = MotionKinematicsTable::create(0x09000100, 0x80000003);
  big.cycles[0x0003000D] = cycle(std::nullopt, std::nullopt);
  big.cycles[0x00030007] = cycle(Vector3{1, 2, 3}, Vector3{4, 5, 6});
  mk.tables[0x09000100] = big;
  auto small = MotionKinematicsTable::create(0x09000002, 0x8000003D);
  small.cycles[0x003D0003] = cycle(std::nullopt, Vector3{0, 0, 1.5f});
  mk.tables[0x09000002] = small;

  Bytes want = ByteWriter()
                   .u32(kMagic).u32(1)
                   .u32(3)
                   .u32(0x02000001).u32(0x09000001)
                   .u32(0x02000003).u32(0x09000003)
                   .u32(0x0200000A).u32(0x09000002)
                   .u32(2)
                   .u32(0x09000002).u32(0x8000003D).u32(1)
                   .u32(0x003D0003).u8(2).vec3({0, 0, 1.5f})
                   .u32(0x09000100).u32(0x80000003).u32(2)
                   .u32(0x00030007).u8(3).vec3({1, 2, 3}).vec3({4, 5, 6})
                   .u32(0x0003000D).u8(0)
                   .take();
  EXPECT_EQ(write_bytes(mk), want);
}

TEST(MotionKinematicsTest, CycleRecordSizeAndFlagsFollowThePresentVectors) {
  struct Case {
    std::optional<Vector3> velocity;
    std::optional<Vector3> omega;
    size_t record_size;
    uint8_t flags;
  };
  const Vector3 v{1.0f, -2.0f, 3.5f};
  const Vector3 w{0.25f, 0.0f, -8.0f};
  const Case cases[] = {
      {std::nullopt, std::nullopt, 5, 0},
      {v, std::nullopt, 17, 1},
      {std::nullopt, w, 17, 2},
      {v, w, 29, 3},
  };
  constexpr size_t kCycleAt = 16 + 12;  // empty header counts, then one table header
  for (const Case& tc : cases) {
    SCOPED_TRACE(static_cast<int>(tc.flags));
    MotionKinematics mk = MotionKinematics::create();
    auto table = MotionKinematicsTable::create(0x09000001, 0x80000003);
    table.cycles[0x00030007] = cycle(tc.velocity, tc.omega);
    mk.tables[0x09000001] = table;
    Bytes bytes = write_bytes(mk);
    ASSERT_EQ(bytes.size(), kCycleAt + tc.record_size);
    EXPECT_EQ(load_le<uint32_t>(bytes.data() + kCycleAt), 0x00030007u);
    EXPECT_EQ(std::to_integer<uint8_t>(bytes[kCycleAt + 4]), tc.flags);
    ByteWriter vectors;
    if (tc.velocity) vectors.vec3(*tc.velocity);
    if (tc.omega) vectors.vec3(*tc.omega);
    EXPECT_EQ(Bytes(bytes.begin() + kCycleAt + 5, bytes.end()), vectors.view());

    auto back = read_bytes(bytes);
    ASSERT_TRUE(back.has_value()) << back.error().description();
    EXPECT_EQ(*back, mk);
  }
}

TEST(MotionKinematicsTest, WriteReadWriteGivesIdenticalBytesWhateverTheInsertionOrder) {
  struct Case {
    const char* name;
    MotionKinematics forward;
    MotionKinematics reversed;  // same content, inserted the other way round
  };
  auto many = [](bool reverse) {
    MotionKinematics mk = MotionKinematics::create();
    auto table = MotionKinematicsTable::create(0x09000042, 0x80000003);
    for (uint32_t i = 0; i < 300; ++i) {
      uint32_t k = reverse ? 299 - i : i;
      mk.setup_defaults[0x02000000 + k * 7919] = 0x09000000 + k % 5;
      table.cycles[cycle_key(0x80000003, 0x45000000 + k)] =
          cycle(k % 2 ? std::optional<Vector3>(Vector3{float(k), 0, 0}) : std::nullopt,
                k % 3 ? std::optional<Vector3>(Vector3{0, 0, float(k)}) : std::nullopt);
    }
    mk.tables[table.motion_table_id] = table;
    for (uint32_t i = 0; i < 40; ++i) {
      uint32_t k = reverse ? 39 - i : i;
      mk.tables[0x09100000 + k * 31] = MotionKinematicsTable::create(0x09100000 + k * 31, 0x80000000 + k);
    }
    return mk;
  };
  auto nan_asset = [] {
    MotionKinematics mk = MotionKinematics::create();
    auto table = MotionKinematicsTable::create(0x09000001, 0x80000003);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    table.cycles[1] = cycle(Vector3{nan, -0.0f, inf}, Vector3{-inf, nan, 1e-45f});
    mk.tables[1] = table;  // key and stored id may differ; the stored id wins on read
    return mk;
  };
  const Case cases[] = {
      {"empty", MotionKinematics::create(), MotionKinematics::create()},
      {"rich", rich_asset(), rich_asset()},
      {"many entries", many(false), many(true)},
      {"special floats", nan_asset(), nan_asset()},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Bytes first = write_bytes(tc.forward);
    EXPECT_EQ(write_bytes(tc.reversed), first);
    ByteCursor c(first);
    auto back = MotionKinematics::read(c);
    ASSERT_TRUE(back.has_value()) << back.error().description();
    EXPECT_EQ(c.position(), first.size());
    EXPECT_EQ(write_bytes(*back), first);
  }
}

TEST(MotionKinematicsTest, CycleKeyKeepsTheLowStyleHalfAndTwentyMotionBits) {
  struct Case {
    uint32_t style;
    uint32_t motion;
    uint32_t key;
  };
  const Case cases[] = {
      {0x80000003, 0x44000007, 0x00030007}, {0x80000003, 0x6500000D, 0x0003000D},
      {0x00000000, 0x000FFFFF, 0x000FFFFF}, {0x00000000, 0x00F00000, 0x00000000},
      {0xFFFF0001, 0x00000000, 0x00010000}, {0x0000FFFF, 0xFFFFFFFF, 0xFFFFFFFF},
      {0x00000001, 0x00050000, 0x00050000},  // motion bits 16-19 overlap the style
  };
  for (const Case& tc : cases)
    EXPECT_EQ(cycle_key(tc.style, tc.motion), tc.key) << std::hex << tc.style << " " << tc.motion;
}

TEST(MotionKinematicsTest, LookupsFindStoredEntriesAndReportMissingOnes) {
  const MotionKinematics mk = rich_asset();
  EXPECT_EQ(mk.default_motion_table_for_setup(0x02000010), 0x09000001u);
  EXPECT_EQ(mk.default_motion_table_for_setup(0x02000002), std::nullopt);
  EXPECT_EQ(mk.default_style_for_motion_table(0x09000023), 0x80000003u);
  EXPECT_EQ(mk.default_style_for_motion_table(0x09000024), std::nullopt);

  const MotionCommandKinematics* found = mk.cycle_kinematics(0x09000023, 0x80000003, 0x44000007);
  EXPECT_EQ(found, &mk.tables.at(0x09000023).cycles.at(0x00030007));
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->velocity, (Vector3{0, 4.0f, 0}));
  EXPECT_EQ(mk.cycle_kinematics(0x09000099, 0x80000003, 0x44000007), nullptr);
  EXPECT_EQ(mk.cycle_kinematics(0x09000023, 0x80000003, 0x44000008), nullptr);
  EXPECT_EQ(mk.cycle_kinematics(0x09000001, 0x80000003, 0x44000007), nullptr);
}

TEST(MotionKinematicsTest, TableRecordsCarryTheStoredIdAndReadKeysTablesByIt) {
  MotionKinematics mk = MotionKinematics::create();
  mk.tables[0x09000005] = MotionKinematicsTable::create(0x09000099, 0x80000003);
  Bytes bytes = write_bytes(mk);
  EXPECT_EQ(load_le<uint32_t>(bytes.data() + 16), 0x09000099u);
  auto back = read_bytes(bytes);
  ASSERT_TRUE(back.has_value());
  EXPECT_FALSE(back->tables.contains(0x09000005));
  EXPECT_EQ(back->default_style_for_motion_table(0x09000099), 0x80000003u);
}

TEST(MotionKinematicsTest, ReadKeepsHeaderAsReadAndLetsLaterRepeatsWin) {
  Bytes bytes = ByteWriter()
                    .u32(0xDEADBEEF).u32(7)  // neither is checked
                    .u32(2)
                    .u32(0x02000001).u32(0x09000001)
                    .u32(0x02000001).u32(0x09000002)
                    .u32(2)
                    .u32(0x09000001).u32(0x80000001).u32(0)
                    .u32(0x09000001).u32(0x80000002).u32(2)
                    .u32(0x00010001).u8(1).vec3({1, 1, 1})
                    .u32(0x00010001).u8(0xFC)  // high flag bits carry nothing
                    .u32(0xAAAAAAAA)           // trailing, left unread
                    .take();
  ByteCursor c(bytes);
  auto mk = MotionKinematics::read(c);
  ASSERT_TRUE(mk.has_value()) << mk.error().description();
  EXPECT_EQ(c.position(), bytes.size() - 4);
  EXPECT_EQ(mk->magic, 0xDEADBEEFu);
  EXPECT_EQ(mk->version, 7u);
  EXPECT_EQ(mk->setup_defaults.size(), 1u);
  EXPECT_EQ(mk->default_motion_table_for_setup(0x02000001), 0x09000002u);
  ASSERT_EQ(mk->tables.size(), 1u);
  const MotionKinematicsTable& t = mk->tables.at(0x09000001);
  EXPECT_EQ(t.default_style, 0x80000002u);
  ASSERT_EQ(t.cycles.size(), 1u);
  EXPECT_EQ(t.cycles.at(0x00010001), cycle(std::nullopt, std::nullopt));
}

TEST(MotionKinematicsTest, ReadStartsAtTheCursorPosition) {
  Bytes bytes = bytes_of({0xEE, 0xEE, 0xEE});
  Bytes asset = write_bytes(rich_asset());
  bytes.insert(bytes.end(), asset.begin(), asset.end());
  ByteCursor c(bytes, 3);
  auto mk = MotionKinematics::read(c);
  ASSERT_TRUE(mk.has_value()) << mk.error().description();
  EXPECT_EQ(*mk, rich_asset());
  EXPECT_EQ(c.position(), bytes.size());
}

TEST(MotionKinematicsTest, WriteStartsAtTheSinkPosition) {
  MemorySink sink;
  ASSERT_TRUE(sink.write_all(bytes_of({1, 2, 3, 4, 5})).has_value());
  ASSERT_TRUE(sink.seek(2).has_value());
  ASSERT_TRUE(MotionKinematics::create().write(sink).has_value());
  Bytes want = bytes_of({1, 2, 0x4B, 0x54, 0x4F, 0x4D, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(sink.bytes(), want);
}

// Outside a Vector3 the asset adds no entries; inside one only the vector's
// own component entry appears.
TEST(MotionKinematicsTest, EveryCutShortPrefixFailsWithOnlyVectorEntries) {
  MotionKinematics mk = MotionKinematics::create();
  mk.setup_defaults[0x02000001] = 0x09000001;
  auto table = MotionKinematicsTable::create(0x09000001, 0x80000003);
  table.cycles[1] = cycle(Vector3{1, 2, 3}, std::nullopt);
  table.cycles[2] = cycle(Vector3{4, 5, 6}, Vector3{7, 8, 9});
  mk.tables[0x09000001] = table;
  Bytes bytes = write_bytes(mk);
  ASSERT_EQ(bytes.size(), 82u);
  const size_t vectors_at[] = {41, 58, 70};
  const char* const components[] = {"While parsing field 'x' in Vector3", "While parsing field 'y' in Vector3",
                                    "While parsing field 'z' in Vector3"};
  for (size_t len = 0; len < bytes.size(); ++len) {
    SCOPED_TRACE(::testing::Message() << "cut to " << len << " bytes");
    std::vector<std::string> want;
    for (size_t at : vectors_at)
      if (len >= at && len < at + 12) want.push_back(components[(len - at) / 4]);
    auto r = read_bytes(ByteView(bytes).first(len));
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind, DecodeError::Kind::UnexpectedEnd);
    EXPECT_EQ(r.error().message, "failed to fill whole buffer");
    EXPECT_EQ(r.error().context, want);
  }
}

TEST(MotionKinematicsTest, HugeCountsInShortInputsFailFastWithoutAllocating) {
  struct Case {
    const char* name;
    Bytes bytes;
  };
  const Case cases[] = {
      {"setup count", ByteWriter().u32(kMagic).u32(1).u32(0xFFFFFFFF).u32(1).u32(2).u32(3).take()},
      {"table count", ByteWriter().u32(kMagic).u32(1).u32(0).u32(0xFFFFFFFF).u32(9).u32(3).u32(0).take()},
      {"cycle count",
       ByteWriter().u32(kMagic).u32(1).u32(0).u32(1).u32(9).u32(3).u32(0xFFFFFFFF).u32(1).u8(0).u32(2).take()},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    largest_allocation = 0;
    auto r = read_bytes(tc.bytes);
    EXPECT_LT(largest_allocation.load(), 4096u);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().message, "failed to fill whole buffer");
    EXPECT_THAT(r.error().context, IsEmpty());
  }
}

// A sink that takes `budget` bytes and then refuses everything.
class FullSink final : public ByteSink {
 public:
  explicit FullSink(size_t budget) : budget_(budget) {}
  IoResult<size_t> write_some(ByteView data) override {
    if (data.size() > budget_) return std::unexpected(IoError::other("disk full"));
    budget_ -= data.size();
    pos_ += data.size();
    return data.size();
  }
  IoResult<uint64_t> position() override { return pos_; }
  IoResult<void> seek(uint64_t offset) override {
    pos_ = offset;
    return {};
  }

 private:
  size_t budget_;
  uint64_t pos_ = 0;
};

TEST(MotionKinematicsTest, WriteReportsTheSinkFailureWhereverItHappens) {
  const MotionKinematics mk = rich_asset();
  const size_t size = write_bytes(mk).size();
  for (size_t budget : {size_t{0}, size_t{13}, size_t{40}, size - 1}) {
    FullSink sink(budget);
    auto r = mk.write(sink);
    ASSERT_FALSE(r.has_value()) << budget;
    EXPECT_EQ(r.error().description(), "disk full");
  }
  FullSink enough(size);
  EXPECT_TRUE(mk.write(enough).has_value());
}

}  // namespace
}  // namespace kdr
