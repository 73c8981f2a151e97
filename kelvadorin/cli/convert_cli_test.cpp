// `kdr convert` end to end through the executable, on the bundled sample
// world and on small folders made for one failure each.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <utility>

#include <nlohmann/json.hpp>

#include "kelvadorin/dat/byte_cursor.hpp"
#include "kelvadorin/dat/file_type/motion_kinematics.hpp"
#include "kelvadorin/dat/file_type/spell_table.hpp"
#include "kelvadorin/dat/file_type/surface.hpp"
#include "kelvadorin/dat/file_type/surface_texture.hpp"
#include "kelvadorin/dat/file_type/texture.hpp"
#include "kelvadorin/dat/landblock.hpp"
#include "kelvadorin/dat/walk.hpp"
#include "kelvadorin/testing/motion_builder.hpp"
#include "kelvadorin/testing/run_command.hpp"
#include "kelvadorin/testing/setup_builder.hpp"
#include "kelvadorin/testing/temp_dir.hpp"

namespace kdr {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing::read_file;
using testing::write_file;
using Key = std::pair<std::string, uint32_t>;

constexpr Key kAssetKey{"kelvadorin/core", 0x4D4F544B};

std::string quoted(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

testing::CommandResult kdr(const std::string& args, const std::filesystem::path& scratch) {
  return testing::run_command(std::string(KDR_BINARY) + " " + args, scratch);
}

// Every record of a loose world folder, as archive keys.
std::set<Key> world_keys(const std::filesystem::path& world) {
  std::set<Key> keys;
  for (auto [sub, ns] : {std::pair{"portal", "vuz/portal"}, std::pair{"cell", "vuz/cell"}})
    for (const auto& e : std::filesystem::directory_iterator(world / sub))
      keys.insert({ns, static_cast<uint32_t>(std::stoul(e.path().stem().string(), nullptr, 16))});
  return keys;
}

std::set<Key> archive_keys(const std::filesystem::path& archive, const std::filesystem::path& scratch) {
  auto r = kdr("ls --json " + quoted(archive), scratch);
  EXPECT_EQ(r.status, 0) << r.err;
  std::set<Key> keys;
  for (const auto& row : nlohmann::json::parse(r.out))
    keys.insert({row["namespace"].get<std::string>(),
                 static_cast<uint32_t>(std::stoul(row["file_id"].get<std::string>(), nullptr, 16))});
  return keys;
}

MotionKinematics asset_of(const std::filesystem::path& archive, const std::filesystem::path& scratch) {
  auto r = kdr("cat " + quoted(archive) + " kelvadorin/core 0x4D4F544B", scratch);
  EXPECT_EQ(r.status, 0) << r.err;
  ByteCursor c(as_bytes(r.out));
  auto asset = MotionKinematics::read(c);
  EXPECT_TRUE(asset) << asset.error().description();
  EXPECT_EQ(c.remaining(), 0u);
  return asset ? *asset : MotionKinematics{};
}

// The sample world, generated once for the whole suite.
class SampleWorldConvertTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<testing::TempDir>();
    auto r = testing::run_command(std::string(KDR_SAMPLE_WORLD) + " " + quoted(world()), dir_->path());
    ASSERT_EQ(r.status, 0) << r.err;
  }
  static void TearDownTestSuite() { dir_.reset(); }

  static std::filesystem::path world() { return *dir_ / "world"; }
  static std::filesystem::path path(std::string_view name) { return *dir_ / name; }
  static std::string inputs(const std::filesystem::path& w = world()) {
    return "--portal " + quoted(w / "portal") + " --cell " + quoted(w / "cell");
  }
  static testing::CommandResult convert(const std::string& mode, const std::filesystem::path& out,
                                        const std::filesystem::path& w = world()) {
    return kdr("convert " + inputs(w) + " --mode " + mode + " -o " + quoted(out), dir_->path());
  }

  static std::unique_ptr<testing::TempDir> dir_;
};

std::unique_ptr<testing::TempDir> SampleWorldConvertTest::dir_;

TEST_F(SampleWorldConvertTest, ModesKeepWhatTheyPromise) {
  const std::set<Key> all = world_keys(world());
  // Kinds a logic-only archive keeps among those the sample world has.
  const std::set<uint32_t> logic_kinds = {0x01, 0x02, 0x0A, 0x0D, 0x0E, 0x0F, 0x13, 0x20, 0x32, 0x33};
  std::set<Key> pruned = {kAssetKey}, full = all;
  full.insert(kAssetKey);
  for (const auto& key : all)
    if (key.first == "vuz/cell" || logic_kinds.contains(key.second >> 24)) pruned.insert(key);
  const std::set<Key> micro = {kAssetKey,
                               {"vuz/portal", 0x0E000002},
                               {"vuz/portal", 0x0E000004},
                               {"vuz/portal", 0x0E000007},
                               {"vuz/portal", 0x0E00000E},
                               {"vuz/portal", 0x0E000018}};
  ASSERT_GT(all.size(), pruned.size());

  struct Case {
    std::string mode;
    const std::set<Key>& keep;
  } cases[] = {{"full", full}, {"pruned", pruned}, {"micro", micro}};
  for (const auto& c : cases) {
    const auto out = path("world-" + c.mode + ".kdr");
    auto r = convert(c.mode, out);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_THAT(r.out, HasSubstr("(" + c.mode + " mode): " + std::to_string(c.keep.size()) + " entries from " +
                                 std::to_string(all.size()) + " records"));
    EXPECT_THAT(r.out, HasSubstr("kelvadorin/core      1 entries"));
    EXPECT_THAT(r.out, HasSubstr("kinematics asset: 9 setups, 2 motion tables, 5 animations"));
    if (c.mode != "full") {
      EXPECT_THAT(r.out, HasSubstr("dropped by " + c.mode + " mode: " + std::to_string(all.size() + 1 - c.keep.size())));
    }
    EXPECT_EQ(archive_keys(out, dir_->path()), c.keep) << c.mode;
    EXPECT_EQ(kdr("verify " + quoted(out), dir_->path()).status, 0);
  }
  // Derivation sees every record whatever the mode drops.
  EXPECT_EQ(kdr("cat " + quoted(path("world-micro.kdr")) + " kelvadorin/core 0x4D4F544B", dir_->path()).out,
            kdr("cat " + quoted(path("world-full.kdr")) + " kelvadorin/core 0x4D4F544B", dir_->path()).out);
}

TEST_F(SampleWorldConvertTest, TheAssetDescribesTheWorldsMotion) {
  const auto out = path("asset.kdr");
  ASSERT_EQ(convert("micro", out).status, 0);
  const MotionKinematics asset = asset_of(out, dir_->path());
  EXPECT_EQ(asset.magic, MotionKinematics::MAGIC);
  ASSERT_EQ(asset.tables.size(), 2u);
  EXPECT_EQ(asset.setup_defaults.size(), 4u);
  EXPECT_EQ(asset.default_motion_table_for_setup(0x02000001), 0x09000001u);
  EXPECT_EQ(asset.default_motion_table_for_setup(0x02000002), 0x09000002u);
  EXPECT_EQ(asset.default_motion_table_for_setup(0x02000005), std::nullopt);

  // The humanoid: derived forward cycles, explicit velocities kept, turns.
  EXPECT_EQ(asset.default_style_for_motion_table(0x09000001), 0x8000003Du);
  auto cycle = [&](uint32_t table, uint32_t style, uint32_t motion) {
    const MotionCommandKinematics* k = asset.cycle_kinematics(table, style, motion);
    EXPECT_NE(k, nullptr) << std::hex << table << " " << motion;
    return k ? *k : MotionCommandKinematics{};
  };
  auto run = cycle(0x09000001, 0x8000003D, 0x44000007);
  ASSERT_TRUE(run.velocity);
  EXPECT_GT(run.velocity->x, 3.0f);  // about 0.16 a frame at 30 frames a second
  EXPECT_LT(run.velocity->x, 6.5f);
  EXPECT_EQ(run.velocity->y, 0.0f);
  auto walk = cycle(0x09000001, 0x8000003D, 0x45000005);
  ASSERT_TRUE(walk.velocity);
  EXPECT_GT(walk.velocity->x, 0.0f);
  EXPECT_LT(walk.velocity->x, run.velocity->x);
  EXPECT_EQ(cycle(0x09000001, 0x8000003D, 0x45000006).velocity, (Vector3{0, -1.2f, 0}));
  EXPECT_EQ(cycle(0x09000001, 0x8000003C, 0x44000007).velocity, (Vector3{0, 4.0f, 0}));
  EXPECT_EQ(cycle(0x09000001, 0x8000003D, 0x6500000D), (MotionCommandKinematics{std::nullopt, Vector3{0, 0, -1.5f}}));
  EXPECT_EQ(cycle(0x09000001, 0x8000003D, 0x41000003), MotionCommandKinematics{});

  // The creature: a forward cycle whose animation has no position frames
  // gets no velocity.
  EXPECT_EQ(asset.default_style_for_motion_table(0x09000002), 0x80000003u);
  EXPECT_TRUE(cycle(0x09000002, 0x80000003, 0x44000007).velocity);
  EXPECT_EQ(cycle(0x09000002, 0x80000003, 0x45000005).velocity, std::nullopt);
}

TEST_F(SampleWorldConvertTest, SameWorldSameBytes) {
  const auto again = path("world-again");
  auto r = testing::run_command(std::string(KDR_SAMPLE_WORLD) + " " + quoted(again), dir_->path());
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(convert("full", path("one.kdr")).status, 0);
  ASSERT_EQ(convert("full", path("two.kdr"), again).status, 0);
  const std::string one = read_file(path("one.kdr"));
  EXPECT_FALSE(one.empty());
  EXPECT_EQ(one, read_file(path("two.kdr")));
}

// The generated records decode with the library's decoders, so the world
// exercises the walk and the shard as much as the conversion.
TEST_F(SampleWorldConvertTest, GeneratedRecordsDecode) {
  std::map<uint32_t, size_t> kinds;
  for (const auto& e : std::filesystem::directory_iterator(world() / "portal")) {
    const uint32_t id = static_cast<uint32_t>(std::stoul(e.path().stem().string(), nullptr, 16));
    const Bytes bytes = to_bytes(read_file(e.path()));
    ++kinds[id >> 24];
    bool ok = true;
    switch (id >> 24) {
      case 0x01: ok = read_gfx_obj_surfaces(bytes).has_value(); break;
      case 0x05: ok = SurfaceTexture::unpack(bytes).has_value(); break;
      case 0x06: ok = Texture::unpack(bytes).has_value(); break;
      case 0x08: ok = Surface::unpack(bytes).has_value(); break;
      case 0x0E: ok = id != SpellTable::FILE_ID || SpellTable::unpack(bytes).has_value(); break;
    }
    EXPECT_TRUE(ok) << hex_id(id);
  }
  for (uint32_t kind : {0x01u, 0x02u, 0x03u, 0x04u, 0x05u, 0x06u, 0x08u, 0x09u, 0x0Au, 0x0Eu, 0x10u, 0x40u, 0x4Du})
    EXPECT_GT(kinds[kind], 0u) << std::hex << kind;

  size_t landblocks = 0;
  for (const auto& e : std::filesystem::directory_iterator(world() / "cell")) {
    const uint32_t id = static_cast<uint32_t>(std::stoul(e.path().stem().string(), nullptr, 16));
    if ((id & 0xFFFF) != 0xFFFE) continue;
    ++landblocks;
    auto info = LandblockInfo::unpack(to_bytes(read_file(e.path())));
    ASSERT_TRUE(info) << hex_id(id) << ": " << info.error().display();
    EXPECT_FALSE(info->objects.empty());
    EXPECT_TRUE(std::filesystem::exists(world() / "cell" / (hex_id(id | 1) + ".bin")));
  }
  EXPECT_GT(landblocks, 9u);
  for (uint32_t dx = 0; dx < 3; ++dx)
    for (uint32_t dy = 0; dy < 3; ++dy)
      EXPECT_TRUE(std::filesystem::exists(world() / "cell" / (hex_id(((0xA8B3 + dx * 0x100 + dy) << 16) | 0xFFFE) + ".bin")));
}

TEST_F(SampleWorldConvertTest, ScaleMakesALargerWorld) {
  const auto big = path("world-big");
  auto r = testing::run_command(std::string(KDR_SAMPLE_WORLD) + " " + quoted(big) + " --scale 3", dir_->path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_GT(world_keys(big).size(), 2 * world_keys(world()).size());
  auto bad = testing::run_command(std::string(KDR_SAMPLE_WORLD) + " " + quoted(path("x")) + " --scale 0", dir_->path());
  EXPECT_EQ(bad.status, 2);
}

// ---------------------------------------------------------------------------
// Small folders: exact asset bytes and the failures.

class ConvertCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetupModel setup;
    setup.id = 0x02000023;
    setup.parts = {0x01000001};
    setup.default_motion_table = 0x09000023;
    put(0x02000023, testing::build_setup(setup));
    put(0x03000023, testing::build_animation(testing::make_animation(0x03000023, {{{1, 0, 0}, {1, 0, 0, 0}}})));
    put(0x09000023, table(0x03000023));
    write_file(dir_ / "out.kdr", "precious");
  }

  void put(uint32_t id, const Bytes& data) {
    std::filesystem::create_directories(dir_ / "portal");
    write_file(dir_ / "portal" / (hex_id(id) + ".bin"), as_chars(data));
  }

  static Bytes table(uint32_t forward_animation) {
    MotionTable t;
    t.id = 0x09000023;
    t.default_style = 0x80000003;
    t.cycles[0x00030007].animations = {{forward_animation, 0, -1, 2.5f}};
    t.cycles[0x0003000D].omega = Vector3{0, 0, 1.5f};
    return testing::build_motion_table(t);
  }

  testing::CommandResult convert(const std::string& extra = "") {
    return kdr("convert --portal " + quoted(dir_ / "portal") + " -o " + quoted(dir_ / "out.kdr") + " " + extra,
               dir_.path());
  }

  void expect_untouched() {
    EXPECT_EQ(read_file(dir_ / "out.kdr"), "precious");
    for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
      EXPECT_THAT(e.path().filename().string(), ::testing::Not(HasSubstr(".tmp-")));
  }

  testing::TempDir dir_;
};

TEST_F(ConvertCliTest, TheAssetHoldsTheDerivedKinematics) {
  auto r = convert();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("kinematics asset: 1 setups, 1 motion tables, 1 animations, "));
  MotionKinematics expected = MotionKinematics::create();
  expected.setup_defaults[0x02000023] = 0x09000023;
  auto t = MotionKinematicsTable::create(0x09000023, 0x80000003);
  t.cycles[0x00030007] = {Vector3{2.5f, 0, 0}, std::nullopt};
  t.cycles[0x0003000D] = {std::nullopt, Vector3{0, 0, 1.5f}};
  expected.tables[0x09000023] = t;
  EXPECT_EQ(asset_of(dir_ / "out.kdr", dir_.path()), expected);
}

TEST_F(ConvertCliTest, FailuresLeaveTheOutputUntouched) {
  struct Case {
    uint32_t id;
    Bytes bytes;
    std::string err;
  } cases[] = {
      {0x02000023, to_bytes("bad"), "kdr: error: cannot decode setup vuz/portal:0x02000023: failed to fill whole buffer"},
      {0x09000023, table(0x0300DEAD), "kdr: error: missing animation 0x0300DEAD while deriving motion kinematics\n"},
  };
  for (const auto& c : cases) {
    SetUp();
    put(c.id, c.bytes);
    auto r = convert("--mode pruned");
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_THAT(r.err, StartsWith(c.err));
    EXPECT_EQ(r.out, "");
    expect_untouched();
  }
  auto r = convert("--mode tiny");
  EXPECT_EQ(r.status, 2);
  expect_untouched();
}

TEST_F(ConvertCliTest, SkipUndecodableWarnsAndStillStoresTheRecord) {
  put(0x02000023, to_bytes("bad"));
  auto r = convert("--skip-undecodable");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, StartsWith("kdr: warning: cannot decode setup vuz/portal:0x02000023: failed to fill whole buffer"));
  EXPECT_THAT(r.out, HasSubstr("undecodable records skipped: 1"));
  EXPECT_THAT(r.out, HasSubstr("kinematics asset: 0 setups, 1 motion tables"));
  EXPECT_EQ(kdr("cat " + quoted(dir_ / "out.kdr") + " vuz/portal 0x02000023", dir_.path()).out, "bad");
  // Warnings are not chatter: --quiet keeps them.
  r = convert("--skip-undecodable --quiet");
  EXPECT_EQ(r.out, "");
  EXPECT_THAT(r.err, StartsWith("kdr: warning: cannot decode setup"));
}

}  // namespace
}  // namespace kdr
