#include "kelvadorin/tools/kinematics_derivation.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "kelvadorin/dat/archive/reader.hpp"
#include "kelvadorin/dat/resource_namespace.hpp"
#include "kelvadorin/testing/motion_builder.hpp"
#include "kelvadorin/testing/temp_dir.hpp"

namespace kdr {
namespace {

using ::testing::UnorderedElementsAre;
using testing::make_animation;

using AnimationMap = std::unordered_map<uint32_t, Animation>;

constexpr uint32_t STYLE = 0x80000003;
constexpr uint32_t FORWARD = 0x44000007;
constexpr uint32_t TURN = 0x6500000D;

graphics::Frame at(float x, float y, float z) { return {{x, y, z}, {1, 0, 0, 0}}; }

AnimationRef ref(uint32_t id, float rate) { return {id, 0, -1, rate}; }

MotionEntry motion(std::vector<AnimationRef> animations, std::optional<Vector3> velocity = {},
                   std::optional<Vector3> omega = {}) {
  MotionEntry e;
  e.animations = std::move(animations);
  e.velocity = velocity;
  e.omega = omega;
  return e;
}

AnimationMap animations_of(std::vector<Animation> list) {
  AnimationMap map;
  for (Animation& a : list) map.emplace(a.id, std::move(a));
  return map;
}

SetupModel setup(uint32_t id, std::optional<uint32_t> default_motion_table) {
  SetupModel s;
  s.id = id;
  s.default_motion_table = default_motion_table;
  return s;
}

std::string message_of(const ToolError& e) {
  const auto* d = e.get_if<ToolError::AssetDerivation>();
  return d ? d->message : "not an AssetDerivation error: " + e.display();
}

TEST(CollectReferencedAnimationIdsTest, OnlyForwardCyclesWithoutVelocityContribute) {
  MotionTable t;
  t.id = 0x09000023;
  t.cycles = {
      {0x00030007, motion({ref(0x03001001, 30)})},
      {0x0003000D, motion({ref(0x03001002, 30)})},
      {0x00030005, motion({ref(0x03001003, 30)}, Vector3{1, 0, 0})},
  };
  std::unordered_set<uint32_t> ids;
  collect_referenced_animation_ids(t, ids);
  EXPECT_THAT(ids, UnorderedElementsAre(0x03001001u));

  // The set is shared across tables and every reference of a cycle counts.
  MotionTable other;
  other.cycles = {{0x003C0005, motion({ref(0x03002001, 30), ref(0x03002002, 30)})}, {0x00030007, motion({})}};
  collect_referenced_animation_ids(other, ids);
  EXPECT_THAT(ids, UnorderedElementsAre(0x03001001u, 0x03002001u, 0x03002002u));

  // Exactly those ids are enough for derivation.
  AnimationMap needed;
  for (uint32_t id : ids) needed.emplace(id, make_animation(id, {at(1, 0, 0)}));
  EXPECT_TRUE(derive_motion_kinematics_from_parsed_portal_assets({t, other}, {}, needed).has_value());
}

TEST(ForwardCycleTest, LowSixteenBitsFiveOrSevenSelectForwardMotion) {
  EXPECT_TRUE(is_forward_cycle(cycle_key(STYLE, FORWARD)));
  EXPECT_TRUE(is_forward_cycle(0x00030005));
  EXPECT_TRUE(is_forward_cycle(0xFFFF0007));
  EXPECT_TRUE(is_forward_cycle(0x00000005));
  EXPECT_FALSE(is_forward_cycle(cycle_key(STYLE, TURN)));
  EXPECT_FALSE(is_forward_cycle(0x00030006));
  EXPECT_FALSE(is_forward_cycle(0x00030003));
  EXPECT_FALSE(is_forward_cycle(0x00031007));  // a high bit of the motion's low half
  EXPECT_FALSE(is_forward_cycle(0x00070000));
}

struct CycleCase {
  const char* name;
  uint32_t key;
  MotionEntry entry;
  AnimationMap animations;
  std::optional<Vector3> velocity;
  std::optional<Vector3> omega;
  std::string error;  // non-empty: the derivation fails with this message
};

std::vector<CycleCase> cycle_cases() {
  const Vector3 spin{0, 0, 1.5f};
  const AnimationMap one_step = animations_of({make_animation(0x03000023, {at(1, 0, 0)})});
  return {
      {"one frame at rate 2.5", 0x00030007, motion({ref(0x03000023, 2.5f)}, {}, spin), one_step,
       Vector3{2.5f, 0, 0}, spin, ""},
      {"key 5 is forward too", 0x00030005, motion({ref(0x03000023, 2.5f)}), one_step, Vector3{2.5f, 0, 0}, {}, ""},
      {"turn cycle derives nothing", 0x0003000D, motion({ref(0x03000023, 2.5f)}, {}, spin), one_step, {}, spin,
       ""},
      {"no animations", 0x00030007, motion({}, {}, spin), {}, {}, spin, ""},
      {"explicit velocity is kept and nothing is looked up", 0x00030007,
       motion({ref(0x0300DEAD, 30)}, Vector3{-3, 4, 0.5f}, spin), {}, Vector3{-3, 4, 0.5f}, spin, ""},
      {"missing animation", 0x00030007, motion({ref(0x0300DEAD, 30)}, {}, spin), {}, {}, {},
       "missing animation 0x0300DEAD while deriving motion kinematics"},
      {"missing second reference", 0x00030007, motion({ref(0x03000023, 1), ref(0x03000BAD, 1)}), one_step, {}, {},
       "missing animation 0x03000BAD while deriving motion kinematics"},
      {"no position frames", 0x00030007, motion({ref(0x03000030, 30)}, {}, spin),
       animations_of({make_animation(0x03000030, {}, 2)}), {}, spin, ""},
      {"zero displacement", 0x00030007, motion({ref(0x03000031, 30)}),
       animations_of({make_animation(0x03000031, {at(1, 2, 3), at(-1, -2, -3)})}), Vector3{0, 0, 0}, {}, ""},
      {"rates after the first are ignored", 0x00030007, motion({ref(0x0300000A, 10), ref(0x0300000B, 30)}),
       animations_of({make_animation(0x0300000A, {at(0, 1, 0), at(0, 1, 0)}),
                      make_animation(0x0300000B, {at(0, 1, 0), at(0, 1, 0), at(0, 1, 0)})}),
       Vector3{10, 0, 0}, {}, ""},
      {"first rate counts though its animation has no frames", 0x00030007,
       motion({ref(0x03000040, 4), ref(0x03000041, 100)}),
       animations_of({make_animation(0x03000040, {}), make_animation(0x03000041, {at(0, 0, -3)})}),
       Vector3{12, 0, 0}, {}, ""},
      {"an animation referenced twice counts twice", 0x00030007,
       motion({ref(0x03000050, 1), ref(0x03000051, 1), ref(0x03000050, 1)}),
       animations_of({make_animation(0x03000050, {at(3, 0, 0)}), make_animation(0x03000051, {at(0, 0, 0)})}),
       Vector3{2, 0, 0}, {}, ""},
      {"negative rate gives negative x", 0x00030007, motion({ref(0x03000023, -2)}), one_step, Vector3{-2, 0, 0}, {},
       ""},
      // 1e8 + 1 is 1e8 in single precision: the sum is exactly 0, where wider
      // accumulators would find a displacement of 1.
      {"single precision sums", 0x00030007, motion({ref(0x03000060, 3)}),
       animations_of({make_animation(0x03000060, {at(1e8f, 0, 0), at(1, 0, 0), at(-1e8f, 0, 0)})}),
       Vector3{0, 0, 0}, {}, ""},
  };
}

TEST(DeriveMotionCommandKinematicsTest, Cases) {
  for (const CycleCase& tc : cycle_cases()) {
    SCOPED_TRACE(tc.name);
    auto got = derive_motion_command_kinematics(tc.key, tc.entry, tc.animations);
    if (!tc.error.empty()) {
      ASSERT_FALSE(got.has_value());
      EXPECT_EQ(message_of(got.error()), tc.error);
      continue;
    }
    ASSERT_TRUE(got.has_value()) << got.error().display();
    EXPECT_EQ(got->velocity, tc.velocity);
    EXPECT_EQ(got->omega, tc.omega);
  }
}

TEST(DeriveMotionKinematicsTest, DerivesSetupDefaultsStylesAndCycles) {
  MotionTable t;
  t.id = 0x09000023;
  t.default_style = STYLE;
  t.cycles = {{0x00030007, motion({ref(0x03000023, 2.5f)})}, {0x0003000D, motion({}, {}, Vector3{0, 0, 1.5f})}};
  auto asset = derive_motion_kinematics_from_parsed_portal_assets(
      {t}, {setup(0x02000023, 0x09000023)}, animations_of({make_animation(0x03000023, {at(1, 0, 0)})}));
  ASSERT_TRUE(asset.has_value()) << asset.error().display();
  EXPECT_EQ(asset->magic, MotionKinematics::MAGIC);
  EXPECT_EQ(asset->version, MotionKinematics::VERSION);
  EXPECT_EQ(asset->default_motion_table_for_setup(0x02000023), 0x09000023u);
  EXPECT_EQ(asset->default_style_for_motion_table(0x09000023), STYLE);
  const MotionCommandKinematics* forward = asset->cycle_kinematics(0x09000023, STYLE, FORWARD);
  ASSERT_NE(forward, nullptr);
  EXPECT_EQ(forward->velocity, (Vector3{2.5f, 0, 0}));
  EXPECT_FALSE(forward->omega.has_value());
  const MotionCommandKinematics* turn = asset->cycle_kinematics(0x09000023, STYLE, TURN);
  ASSERT_NE(turn, nullptr);
  EXPECT_FALSE(turn->velocity.has_value());
  EXPECT_EQ(turn->omega, (Vector3{0, 0, 1.5f}));
  EXPECT_EQ(asset->tables.at(0x09000023).cycles.size(), 2u);
}

TEST(DeriveMotionKinematicsTest, AbsentDataGivesAbsentEntriesAndLaterInputsReplaceEarlier) {
  MotionTable empty;
  empty.id = 0x09000030;
  empty.default_style = 0x8000003C;
  MotionTable first;
  first.id = 0x09000031;
  first.default_style = 1;
  first.cycles = {{0x00010007, motion({}, Vector3{1, 0, 0})}};
  MotionTable second = first;
  second.default_style = 2;
  second.cycles = {{0x00020005, motion({}, Vector3{2, 0, 0})}};

  auto asset = derive_motion_kinematics_from_parsed_portal_assets(
      {empty, first, second},
      {setup(0x02000001, 0x09000099), setup(0x02000002, std::nullopt), setup(0x02000003, 0x09000001),
       setup(0x02000003, 0x09000002)},
      {});
  ASSERT_TRUE(asset.has_value()) << asset.error().display();
  // A setup default stands without its table; a setup without one adds nothing.
  EXPECT_EQ(asset->setup_defaults, (std::unordered_map<uint32_t, uint32_t>{{0x02000001, 0x09000099},
                                                                             {0x02000003, 0x09000002}}));
  ASSERT_EQ(asset->tables.size(), 2u);
  EXPECT_EQ(asset->tables.at(0x09000030), MotionKinematicsTable::create(0x09000030, 0x8000003C));
  const MotionKinematicsTable& replaced = asset->tables.at(0x09000031);
  EXPECT_EQ(replaced.default_style, 2u);
  EXPECT_EQ(replaced.cycles,
            (std::unordered_map<uint32_t, MotionCommandKinematics>{{0x00020005, {Vector3{2, 0, 0}, {}}}}));
}

TEST(DeriveMotionKinematicsTest, FirstMissingAnimationInKeyOrderEndsTheDerivation) {
  MotionTable fine;
  fine.id = 0x09000040;
  fine.cycles = {{0x00030007, motion({}, Vector3{1, 0, 0})}};
  MotionTable broken;
  broken.id = 0x09000041;
  // Whatever the hash order, key 0x00030005 is derived before 0x00030007.
  broken.cycles = {{0x00030007, motion({ref(0x03000002, 1)})}, {0x00030005, motion({ref(0x03000001, 1)})}};
  auto asset = derive_motion_kinematics_from_parsed_portal_assets({fine, broken}, {setup(0x02000001, 0x09000040)}, {});
  ASSERT_FALSE(asset.has_value());
  EXPECT_EQ(message_of(asset.error()), "missing animation 0x03000001 while deriving motion kinematics");
}

// A repetitive asset large enough for the writer to store it compressed.
MotionKinematics large_asset() {
  MotionKinematics k = MotionKinematics::create();
  for (uint32_t i = 0; i < 200; ++i) {
    k.setup_defaults[0x02000000 + i] = 0x09000000 + i % 4;
    MotionKinematicsTable t = MotionKinematicsTable::create(0x09000000 + i, STYLE);
    t.cycles[0x00030007] = {Vector3{2.5f, 0, 0}, {}};
    t.cycles[0x0003000D] = {{}, Vector3{0, 0, 1.5f}};
    k.tables.emplace(t.motion_table_id, std::move(t));
  }
  return k;
}

Bytes serialised(const MotionKinematics& asset) {
  MemorySink sink;
  EXPECT_TRUE(asset.write(sink).has_value());
  return sink.take();
}

TEST(WriteMotionKinematicsAssetTest, EmittedAssetReadsBackFromTheCoreNamespace) {
  MotionKinematics small = MotionKinematics::create();
  small.setup_defaults[0x02000001] = 0x09000001;
  struct Case {
    const char* name;
    MotionKinematics asset;
    bool compressed;
  };
  const Case cases[] = {{"single setup default", small, false}, {"many tables", large_asset(), true}};
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    testing::TempDir dir;
    const auto path = dir / "out.kdr";
    auto writer = KdrStreamWriter::create(path);
    ASSERT_TRUE(writer.has_value()) << writer.error().display();
    auto written = write_motion_kinematics_asset(tc.asset, *writer, path);
    ASSERT_TRUE(written.has_value()) << written.error().display();
    ASSERT_TRUE(std::move(*writer).finish().has_value());

    auto reader = KdrReader::open(path);
    ASSERT_TRUE(reader.has_value()) << reader.error().display();
    auto entry = reader->find_entry_in_namespace(CORE_NAMESPACE, 0x4D4F544B);
    ASSERT_TRUE(entry.has_value()) << entry.error().display();
    EXPECT_EQ(entry->type_id, 0xFFFFFF01u);
    EXPECT_EQ(entry->is_zstd(), tc.compressed);
    auto bytes = reader->get_file_in_namespace(CORE_NAMESPACE, 0x4D4F544B);
    ASSERT_TRUE(bytes.has_value()) << bytes.error().display();
    EXPECT_EQ(*bytes, serialised(tc.asset));

    ByteCursor c(*bytes);
    auto back = MotionKinematics::read(c);
    ASSERT_TRUE(back.has_value()) << back.error().description();
    EXPECT_EQ(back->magic, 0x4D4F544Bu);
    EXPECT_EQ(*back, tc.asset);
  }
}

TEST(WriteMotionKinematicsAssetTest, SecondEmissionIsRefusedAsADuplicate) {
  testing::TempDir dir;
  const auto path = dir / "twice.kdr";
  auto writer = KdrStreamWriter::create(path);
  ASSERT_TRUE(writer.has_value());
  const MotionKinematics asset = MotionKinematics::create();
  ASSERT_TRUE(write_motion_kinematics_asset(asset, *writer, path).has_value());
  auto again = write_motion_kinematics_asset(asset, *writer, path);
  ASSERT_FALSE(again.has_value());
  const auto* e = again.error().get_if<ToolError::KdrWrite>();
  ASSERT_NE(e, nullptr) << again.error().display();
  EXPECT_EQ(e->path, path);
  EXPECT_EQ(e->message, "Duplicate namespaced file kelvadorin/core:4D4F544B detected");
  EXPECT_EQ(writer->entry_count(), 1u);
}

}  // namespace
}  // namespace kdr
