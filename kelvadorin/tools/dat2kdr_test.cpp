#include "kelvadorin/tools/dat2kdr.hpp"

#include <gtest/gtest.h>

#include <gmock/gmock.h>

#include <set>
#include <utility>

#include "kelvadorin/dat/archive/reader.hpp"
#include "kelvadorin/dat/byte_cursor.hpp"
#include "kelvadorin/dat/file_type/motion_kinematics.hpp"
#include "kelvadorin/testing/byte_writer.hpp"
#include "kelvadorin/testing/motion_builder.hpp"
#include "kelvadorin/testing/run_command.hpp"
#include "kelvadorin/testing/setup_builder.hpp"
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
  testing::write_file(dir / "p" / "01000002.bin", "b");
  testing::write_file(dir / "p" / "01000001.bin", "a");
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
  EXPECT_LT(reader->find_entry_in_namespace("vuz/portal", 0x01000001)->offset,
            reader->find_entry_in_namespace("vuz/portal", 0x01000002)->offset);
  EXPECT_LT(reader->find_entry_in_namespace("vuz/portal", 0x01000002)->offset,
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

// ---------------------------------------------------------------------------
// The whole run: modes, derivation from the inputs, decode failures.

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Key = std::pair<std::string, uint32_t>;

void put(const std::filesystem::path& dir, uint32_t id, const Bytes& data) {
  std::filesystem::create_directories(dir);
  testing::write_file(dir / (hex_id(id) + ".bin"), as_chars(data));
}

Bytes setup_naming(uint32_t id, std::optional<uint32_t> motion_table) {
  SetupModel s;
  s.id = id;
  s.parts = {0x01000001};
  s.default_motion_table = motion_table;
  return testing::build_setup(s);
}

MotionEntry plays(std::vector<uint32_t> animations, float framerate = 30.0f) {
  MotionEntry e;
  for (uint32_t id : animations) e.animations.push_back({id, 0, -1, framerate});
  return e;
}

// Motion table 0x09000023 in style 0x80000003: a forward cycle playing
// 0x03000023 at 2.5 frames a second, and a turn with omega only.
Bytes creature_table(uint32_t forward_animation = 0x03000023) {
  MotionTable t;
  t.id = 0x09000023;
  t.default_style = 0x80000003;
  t.cycles[0x00030007] = plays({forward_animation}, 2.5f);
  MotionEntry turn = plays({0x03000024});  // not forward: its animation is never read
  turn.omega = Vector3{0, 0, 1.5f};
  t.cycles[0x0003000D] = turn;
  return testing::build_motion_table(t);
}

Bytes cut(Bytes bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

Bytes stepping_animation(uint32_t id) {
  return testing::build_animation(testing::make_animation(id, {{{1, 0, 0}, {1, 0, 0, 0}}}, 2));
}

MotionKinematics creature_asset() {
  MotionKinematics asset = MotionKinematics::create();
  asset.setup_defaults[0x02000023] = 0x09000023;
  auto table = MotionKinematicsTable::create(0x09000023, 0x80000003);
  table.cycles[0x00030007] = {Vector3{2.5f, 0, 0}, std::nullopt};
  table.cycles[0x0003000D] = {std::nullopt, Vector3{0, 0, 1.5f}};
  asset.tables[0x09000023] = table;
  return asset;
}

// A portal folder of every kind the modes tell apart, the creature's setup,
// motion table and animation among them, and a cell folder.
class ConvertRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    put(portal(), 0x01000001, to_bytes("model"));
    put(portal(), 0x02000023, setup_naming(0x02000023, 0x09000023));
    put(portal(), 0x02000030, setup_naming(0x02000030, std::nullopt));
    put(portal(), 0x03000023, stepping_animation(0x03000023));
    put(portal(), 0x03000024, to_bytes("unreferenced, never decoded"));
    put(portal(), 0x06000001, to_bytes("texture"));
    put(portal(), 0x09000023, creature_table());
    put(portal(), 0x0A000001, to_bytes("audio"));
    put(portal(), 0x0E000004, to_bytes("skills"));
    put(portal(), 0x0E000099, to_bytes("other table"));
    put(portal(), 0x10000001, to_bytes("clothing"));
    put(cell(), 0xA9B4FFFF, to_bytes("land"));
    put(cell(), 0xA9B4FFFE, to_bytes("info"));
    put(cell(), 0xA9B40100, to_bytes("env cell"));
  }

  std::filesystem::path portal() const { return dir_ / "portal"; }
  std::filesystem::path cell() const { return dir_ / "cell"; }
  std::filesystem::path out() const { return dir_ / "out.kdr"; }

  ToolResult<ConvertSummary> convert(ConvertMode mode = ConvertMode::Full, bool skip = false) {
    ConvertOptions options;
    options.inputs = {{portal(), std::string(VUZ_PORTAL_NAMESPACE)}, {cell(), std::string(VUZ_CELL_NAMESPACE)}};
    options.mode = mode;
    options.skip_undecodable = skip;
    return convert_to_archive(options, out());
  }

  static std::set<Key> keys(const std::filesystem::path& archive) {
    std::set<Key> out;
    auto reader = KdrReader::open(archive);
    EXPECT_TRUE(reader);
    if (!reader) return out;
    auto it = reader->entries();
    while (true) {
      auto entry = it.next();
      EXPECT_TRUE(entry);
      if (!entry || !*entry) break;
      out.insert({std::string((*entry)->namespace_label()), (*entry)->file_id});
    }
    return out;
  }

  static MotionKinematics asset_of(const std::filesystem::path& archive) {
    auto reader = KdrReader::open(archive);
    EXPECT_TRUE(reader);
    if (!reader) return {};
    auto entry = reader->find_entry_in_namespace(CORE_NAMESPACE, MotionKinematics::FILE_ID);
    EXPECT_TRUE(entry);
    if (entry) {
      EXPECT_EQ(entry->type_id, MotionKinematics::TYPE_ID);
    }
    auto bytes = reader->get_file_in_namespace(CORE_NAMESPACE, MotionKinematics::FILE_ID);
    EXPECT_TRUE(bytes);
    if (!bytes) return {};
    ByteCursor c(*bytes);
    auto asset = MotionKinematics::read(c);
    EXPECT_TRUE(asset) << asset.error().description();
    return asset ? *asset : MotionKinematics{};
  }

  // The run fails with `message` and leaves the old output in place.
  void expect_failure(ToolResult<ConvertSummary> r, const std::string& message) {
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().is<ToolError::AssetDerivation>());
    EXPECT_EQ(r.error().display(), message);
    EXPECT_EQ(testing::read_file(out()), "old");
  }

  testing::TempDir dir_;
};

TEST_F(ConvertRunTest, ModesKeepTheirRecordsAndAlwaysAddTheSameAsset) {
  const Key asset{"kelvadorin/core", 0x4D4F544B};
  std::set<Key> all = {asset};
  for (uint32_t id : {0x01000001u, 0x02000023u, 0x02000030u, 0x03000023u, 0x03000024u, 0x06000001u, 0x09000023u,
                      0x0A000001u, 0x0E000004u, 0x0E000099u, 0x10000001u})
    all.insert({"vuz/portal", id});
  for (uint32_t id : {0xA9B4FFFFu, 0xA9B4FFFEu, 0xA9B40100u}) all.insert({"vuz/cell", id});
  std::set<Key> pruned = all;
  for (uint32_t id : {0x03000023u, 0x03000024u, 0x06000001u, 0x09000023u, 0x10000001u})
    pruned.erase({"vuz/portal", id});
  const std::set<Key> micro = {asset, {"vuz/portal", 0x0E000004}};

  struct Case {
    ConvertMode mode;
    const std::set<Key>& keep;
  } cases[] = {{ConvertMode::Full, all}, {ConvertMode::Pruned, pruned}, {ConvertMode::Micro, micro}};
  for (const auto& c : cases) {
    auto summary = convert(c.mode);
    ASSERT_TRUE(summary) << summary.error().display();
    EXPECT_EQ(keys(out()), c.keep) << convert_mode_name(c.mode);
    EXPECT_EQ(summary->records, 14u);
    EXPECT_EQ(summary->entries, c.keep.size());
    EXPECT_EQ(summary->dropped, all.size() - c.keep.size());
    EXPECT_EQ(summary->entries_per_namespace.at("kelvadorin/core"), 1u);
    // Reduced modes drop records from the archive, never from derivation.
    EXPECT_EQ(asset_of(out()), creature_asset()) << convert_mode_name(c.mode);
    EXPECT_EQ(summary->setups, 2u);
    EXPECT_EQ(summary->motion_tables, 1u);
    EXPECT_EQ(summary->animations, 1u);
    MemorySink sink;
    ASSERT_TRUE(creature_asset().write(sink));
    EXPECT_EQ(summary->asset_bytes, sink.bytes().size());
    EXPECT_TRUE(summary->warnings.empty());
  }
}

TEST(ConvertModeTest, NamesRoundTripAndOnlyReducedModesHaveManifests) {
  for (ConvertMode mode : {ConvertMode::Full, ConvertMode::Pruned, ConvertMode::Micro})
    EXPECT_EQ(parse_convert_mode(convert_mode_name(mode)), mode);
  EXPECT_EQ(parse_convert_mode("Full"), std::nullopt);
  EXPECT_FALSE(manifest_for_mode(ConvertMode::Full));
  EXPECT_EQ(manifest_for_mode(ConvertMode::Pruned)->rules.size(), StripperManifest::logic_only().rules.size());
  EXPECT_EQ(manifest_for_mode(ConvertMode::Micro)->rules.size(), StripperManifest::micro().rules.size());
}

TEST_F(ConvertRunTest, LaterInputsWinForRepeatedSetupsAndTablesWhateverTheirLabel) {
  // The same setup and table in a second, non-cell input naming other values.
  const auto other = dir_ / "derived";
  put(other, 0x02000023, setup_naming(0x02000023, 0x09000099));
  MotionTable t;
  t.id = 0x09000023;
  t.default_style = 0x8000003D;
  put(other, 0x09000023, testing::build_motion_table(t));
  for (bool other_last : {true, false}) {
    ConvertOptions options;
    ConvertInputSpec a{portal(), std::string(VUZ_PORTAL_NAMESPACE)}, b{other, std::string("derived/extra")};
    options.inputs = other_last ? std::vector{a, b} : std::vector{b, a};
    auto summary = convert_to_archive(options, out());
    ASSERT_TRUE(summary) << summary.error().display();
    EXPECT_EQ(summary->setups, 3u);
    MotionKinematics asset = asset_of(out());
    EXPECT_EQ(asset.default_motion_table_for_setup(0x02000023), other_last ? 0x09000099u : 0x09000023u);
    EXPECT_EQ(asset.default_style_for_motion_table(0x09000023), other_last ? 0x8000003Du : 0x80000003u);
  }
}

TEST_F(ConvertRunTest, UndecodableAssetsFailWithTheDecodersDescriptionOrBecomeWarnings) {
  struct Case {
    std::string what;
    uint32_t id;
    Bytes bytes;
    DecodeError error;
  } cases[] = {
      {"setup", 0x02000030, to_bytes("short"),
       [] {
         Bytes b = to_bytes("short");
         ByteCursor c(b);
         return SetupModel::unpack(c).error();
       }()},
      {"motion table", 0x09000023, cut(creature_table(), 30), MotionTable::unpack(cut(creature_table(), 30)).error()},
      {"animation", 0x03000023, to_bytes("tiny"), Animation::unpack(to_bytes("tiny")).error()},
  };
  for (const auto& c : cases) {
    SetUp();
    put(portal(), c.id, c.bytes);
    testing::write_file(out(), "old");
    const std::string message = "cannot decode " + c.what + " vuz/portal:0x" + hex_id(c.id) + ": " + c.error.description();
    expect_failure(convert(), message);

    auto summary = convert(ConvertMode::Full, true);
    ASSERT_TRUE(summary) << summary.error().display();
    EXPECT_EQ(summary->undecodable, 1u) << c.what;
    ASSERT_EQ(summary->warnings.size(), 1u) << c.what;
    EXPECT_THAT(summary->warnings[0], ::testing::StartsWith(message));
    auto reader = KdrReader::open(out());
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->get_file_in_namespace("vuz/portal", c.id), c.bytes) << "still stored as bytes";
  }
}

TEST_F(ConvertRunTest, SkippedAssetsAreLeftOutOfDerivation) {
  put(portal(), 0x02000023, to_bytes("bad"));
  auto summary = convert(ConvertMode::Pruned, true);
  ASSERT_TRUE(summary) << summary.error().display();
  EXPECT_EQ(summary->setups, 1u);
  MotionKinematics asset = asset_of(out());
  EXPECT_TRUE(asset.setup_defaults.empty());
  EXPECT_TRUE(asset.tables.contains(0x09000023));

  // The table playing a skipped animation cannot be derived and is named.
  SetUp();
  put(portal(), 0x03000023, to_bytes("bad"));
  summary = convert(ConvertMode::Full, true);
  ASSERT_TRUE(summary) << summary.error().display();
  EXPECT_EQ(summary->motion_tables, 0u);
  EXPECT_EQ(summary->animations, 0u);
  ASSERT_EQ(summary->warnings.size(), 1u);
  EXPECT_THAT(summary->warnings[0], HasSubstr("motion tables left out of the kinematics asset: 0x09000023"));
  asset = asset_of(out());
  EXPECT_TRUE(asset.tables.empty());
  EXPECT_EQ(asset.default_motion_table_for_setup(0x02000023), 0x09000023u);
}

TEST_F(ConvertRunTest, AMissingAnimationIsDerivationsError) {
  put(portal(), 0x09000023, creature_table(0x0300DEAD));
  testing::write_file(out(), "old");
  for (bool skip : {false, true})
    expect_failure(convert(ConvertMode::Micro, skip), "missing animation 0x0300DEAD while deriving motion kinematics");
}

TEST_F(ConvertRunTest, AnimationsInCellInputsAreNotLookedUp) {
  // Only the portal input can supply the referenced animation.
  std::filesystem::remove(portal() / "03000023.bin");
  put(cell(), 0x03000023, stepping_animation(0x03000023));
  testing::write_file(out(), "old");
  expect_failure(convert(), "missing animation 0x03000023 while deriving motion kinematics");
}

}  // namespace
}  // namespace kdr
