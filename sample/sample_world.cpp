// Writes the bundled sample world: a synthetic but complete set of portal and
// cell records, made with the record builders, as loose record folders
// OUT/portal/ and OUT/cell/ (one XXXXXXXX.bin file per record).
//
// The world: the 3 x 3 landblocks around the spawn 0xA9B4 and some far ones,
// each with its landblock record, its landblock information (objects and
// buildings) and a few cells; the models placed there (setups, graphics
// objects, surfaces, surface textures, textures, palettes); motion tables and
// the animations they play; the nine boot essentials, the spell table, other
// data tables, audio and clothing. `--scale N` adds N - 1 more units of far
// landblocks with their own models and motion, for benchmarks. The output
// depends only on the scale: every random choice comes from one fixed seed.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "kelvadorin/dat/file_type/motion_kinematics.hpp"
#include "kelvadorin/dat/file_type/spell_table.hpp"
#include "kelvadorin/dat/file_type/table_ids.hpp"
#include "kelvadorin/dat/utils.hpp"
#include "kelvadorin/testing/byte_writer.hpp"
#include "kelvadorin/testing/landblock_builder.hpp"
#include "kelvadorin/testing/motion_builder.hpp"
#include "kelvadorin/testing/setup_builder.hpp"
#include "kelvadorin/testing/spell_builder.hpp"
#include "kelvadorin/testing/surface_builder.hpp"

namespace {

using kdr::Bytes;
using kdr::testing::ByteWriter;

constexpr uint64_t kSeed = 0x6B64725F776F726CULL;
constexpr uint32_t kSpawn = 0xA9B4;
constexpr uint32_t kFarLandblocksPerUnit = 4;

// Where the world goes. Loose folders today; any other container only needs
// to take the same calls.
class WorldSink {
 public:
  enum class Part { Portal, Cell };
  virtual ~WorldSink() = default;
  virtual void put(Part part, uint32_t file_id, const Bytes& data) = 0;
};

class LooseFolderSink final : public WorldSink {
 public:
  explicit LooseFolderSink(const std::filesystem::path& root) : portal_(root / "portal"), cell_(root / "cell") {
    for (const auto& dir : {portal_, cell_}) {
      std::error_code ec;
      std::filesystem::create_directories(dir, ec);
      if (ec) {
        failed_ = true;
        fmt::print(stderr, "sample_world: cannot create {}: {}\n", dir.string(), ec.message());
      }
    }
  }

  void put(Part part, uint32_t file_id, const Bytes& data) override {
    const auto path = (part == Part::Portal ? portal_ : cell_) / fmt::format("{:08X}.bin", file_id);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out && !failed_) {
      failed_ = true;
      fmt::print(stderr, "sample_world: cannot write {}\n", path.string());
    }
    ++records_;
    bytes_ += data.size();
  }

  bool failed() const { return failed_; }
  uint64_t records() const { return records_; }
  uint64_t bytes() const { return bytes_; }

 private:
  std::filesystem::path portal_, cell_;
  bool failed_ = false;
  uint64_t records_ = 0;
  uint64_t bytes_ = 0;
};

struct Rng {
  uint64_t state;
  uint64_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
  uint32_t between(uint32_t lo, uint32_t hi) { return lo + below(hi - lo + 1); }
  float unit() { return static_cast<float>(next() >> 40) / static_cast<float>(1u << 24); }
  float around(float centre, float spread) { return centre + (unit() * 2.0f - 1.0f) * spread; }
};

// ---------------------------------------------------------------------------
// Fixed ids.

constexpr uint32_t kUiFontId = 0x40000000;
constexpr uint32_t kUiFontAtlasFgId = 0x06005EE5;
constexpr uint32_t kUiFontAtlasBgId = 0x06005EE6;
constexpr uint32_t kTable0E000007Id = 0x0E000007;
constexpr uint32_t kExtraTableId = 0x0E000020;  // a table no reduced mode asks for
constexpr uint32_t kNumPalettes = 4;
constexpr uint32_t kPaletteBase = 0x04000001;

// Motion commands and styles, as cycle keys combine them.
constexpr uint32_t kStyleNonCombat = 0x8000003D;
constexpr uint32_t kStyleCombat = 0x8000003C;
constexpr uint32_t kStyleCreature = 0x80000003;
constexpr uint32_t kReady = 0x41000003;
constexpr uint32_t kWalkForward = 0x45000005;
constexpr uint32_t kWalkBackward = 0x45000006;
constexpr uint32_t kRunForward = 0x44000007;
constexpr uint32_t kTurnRight = 0x6500000D;
constexpr uint32_t kTurnLeft = 0x6500000E;
constexpr uint32_t kWave = 0x13000087;

// Consecutive ids of one record kind.
struct IdRange {
  uint32_t next;
  uint32_t take() { return next++; }
};

struct Ids {
  IdRange gfx{0x01000001};
  IdRange setup{0x02000001};
  IdRange animation{0x03000001};
  IdRange surface_texture{0x05000001};
  IdRange texture{0x06000001};
  IdRange surface{0x08000001};
  IdRange motion_table{0x09000001};
  IdRange audio{0x0A000001};
  IdRange clothing{0x10000001};
};

kdr::graphics::Frame frame_at(float x, float y, float z) { return {{x, y, z}, {1, 0, 0, 0}}; }
kdr::landblock::Frame placed(Rng& rng) {
  float angle = rng.unit() * 6.2831853f;
  return {{rng.around(96, 90), rng.around(96, 90), rng.around(40, 20)},
          {std::cos(angle / 2), 0, 0, std::sin(angle / 2)}};
}

// ---------------------------------------------------------------------------
// Textures and surfaces.

// Smooth gradients with a little noise: image-like data that compresses the
// way real textures do, neither random nor constant.
Bytes image_bytes(Rng& rng, uint32_t width, uint32_t height, uint32_t bytes_per_pixel) {
  Bytes out(static_cast<size_t>(width) * height * bytes_per_pixel);
  const uint32_t tint = rng.below(256), stripes = rng.between(1, 8);
  uint64_t noise = rng.next();
  size_t i = 0;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      noise = noise * 6364136223846793005ULL + 1442695040888963407ULL;
      const uint32_t grain = static_cast<uint32_t>(noise >> 61);  // 0..7
      const uint32_t base = (x * 255 / width + y * stripes * 255 / height + tint) & 0xFF;
      for (uint32_t c = 0; c < bytes_per_pixel; ++c) {
        uint32_t v = c == 3 ? 0xFF : (base + c * 40 + grain) & 0xFF;
        out[i++] = static_cast<std::byte>(v);
      }
    }
  return out;
}

// Formats 41 and 101 are paletted (one byte a pixel, a default palette);
// 21 and 20 are plain four and three bytes a pixel.
uint32_t write_texture(WorldSink& sink, Rng& rng, uint32_t id, uint32_t side) {
  static constexpr uint32_t kFormats[] = {41, 101, 21, 20};
  static constexpr uint32_t kBytesPerPixel[] = {1, 1, 4, 3};
  const uint32_t pick = rng.below(4);
  auto texture = kdr::testing::make_texture(id, kFormats[pick], image_bytes(rng, side, side, kBytesPerPixel[pick]),
                                            kPaletteBase + rng.below(kNumPalettes));
  texture.width = side;
  texture.height = side;
  sink.put(WorldSink::Part::Portal, id, kdr::testing::build_texture(texture));
  return id;
}

void write_palettes(WorldSink& sink, Rng& rng) {
  for (uint32_t i = 0; i < kNumPalettes; ++i) {
    ByteWriter w;
    w.u32(kPaletteBase + i).u32(256);
    const uint32_t hue = rng.below(0x1000000);
    for (uint32_t c = 0; c < 256; ++c) w.u32(0xFF000000u | ((hue + c * 0x010203u) & 0xFFFFFF));
    sink.put(WorldSink::Part::Portal, kPaletteBase + i, w.take());
  }
}

// A surface texture listing a full, a half and a quarter size texture; the
// last one is what a client draws first.
uint32_t write_surface_texture(WorldSink& sink, Rng& rng, Ids& ids, uint32_t side) {
  kdr::SurfaceTexture st;
  st.id = ids.surface_texture.take();
  st.unknown_int = 2;
  st.unknown_byte = 1;
  for (uint32_t level = 0; level < 3; ++level)
    st.textures.push_back(write_texture(sink, rng, ids.texture.take(), std::max(8u, side >> level)));
  sink.put(WorldSink::Part::Portal, st.id, kdr::testing::build_surface_texture(st));
  return st.id;
}

std::vector<uint32_t> write_surfaces(WorldSink& sink, Rng& rng, Ids& ids, const std::vector<uint32_t>& surface_textures,
                                     uint32_t count) {
  std::vector<uint32_t> out;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t id = ids.surface.take();
    kdr::Surface s = i % 3 == 0
                         ? kdr::testing::coloured_surface(0xFF000000u | rng.below(0x1000000))
                         : kdr::testing::textured_surface(surface_textures[rng.below(surface_textures.size())],
                                                          i % 3 == 1 ? kPaletteBase + rng.below(kNumPalettes) : 0);
    sink.put(WorldSink::Part::Portal, id, kdr::testing::build_surface(s));
    out.push_back(id);
  }
  return out;
}

// A graphics object: its surface list, then vertex and polygon data the
// tools do not read.
uint32_t write_gfx_obj(WorldSink& sink, Rng& rng, uint32_t id, std::vector<uint32_t> surfaces) {
  ByteWriter w;
  w.bytes(kdr::testing::build_gfx_obj(surfaces));
  const uint32_t vertices = rng.between(24, 160);
  w.u32(1).u32(vertices);
  for (uint32_t v = 0; v < vertices; ++v) {
    w.u16(static_cast<uint16_t>(v)).u16(1);
    w.vec3({rng.around(0, 2), rng.around(0, 2), rng.around(1, 1)}).vec3({0, 0, 1});
    w.f32(rng.unit()).f32(rng.unit());
  }
  const uint32_t polygons = vertices / 3;
  w.u16(static_cast<uint16_t>(polygons));
  for (uint32_t p = 0; p < polygons; ++p)
    w.u16(static_cast<uint16_t>(p)).u8(3).u8(0).u16(static_cast<uint16_t>(rng.below(surfaces.size())))
        .u16(static_cast<uint16_t>(3 * p)).u16(static_cast<uint16_t>(3 * p + 1)).u16(static_cast<uint16_t>(3 * p + 2));
  sink.put(WorldSink::Part::Portal, id, w.take());
  return id;
}

// ---------------------------------------------------------------------------
// Motion: animations and the motion tables that play them.

// An animation of `num_frames` frames for `num_parts` parts. With a step, its
// position frames move the whole object by that much per frame; every part
// frame carries hooks now and then (sounds, effects, a variable-size one).
uint32_t write_animation(WorldSink& sink, Rng& rng, uint32_t id, uint32_t num_parts, uint32_t num_frames,
                         std::optional<kdr::Vector3> step) {
  kdr::Animation a;
  a.id = id;
  a.num_parts = num_parts;
  a.num_frames = num_frames;
  if (step) {
    a.flags = kdr::Animation::HAS_POS_FRAMES;
    for (uint32_t f = 0; f < num_frames; ++f)
      a.pos_frames.push_back(frame_at(step->x * rng.around(1, 0.05f), step->y * rng.around(1, 0.05f), step->z));
  }
  for (uint32_t f = 0; f < num_frames; ++f) {
    kdr::AnimationPartFrame part_frame;
    for (uint32_t p = 0; p < num_parts; ++p) {
      float angle = 0.3f * std::sin(static_cast<float>(f + p));
      part_frame.frames.push_back({{0, 0, 0.1f * static_cast<float>(p)}, {std::cos(angle), std::sin(angle), 0, 0}});
    }
    if (f % 5 == 0) part_frame.hooks.push_back(kdr::testing::make_hook(1 + rng.below(3), f));
    if (f % 7 == 3) part_frame.hooks.push_back(kdr::testing::make_hook(5, 0, static_cast<int16_t>(f % 2 ? -3 : 3)));
    a.part_frames.push_back(std::move(part_frame));
  }
  sink.put(WorldSink::Part::Portal, id, kdr::testing::build_animation(a));
  return id;
}

kdr::MotionEntry entry_of(std::vector<uint32_t> animations, float framerate) {
  kdr::MotionEntry e;
  for (uint32_t id : animations) e.animations.push_back({id, 0, -1, framerate});
  return e;
}

// A humanoid table: forward cycles derived from their animations (one of
// them from two), a backward cycle and a combat run with explicit velocity,
// turns with omega, an idle, modifiers and links.
uint32_t write_humanoid_motion(WorldSink& sink, Rng& rng, Ids& ids, uint32_t num_parts) {
  auto anim = [&](uint32_t frames, std::optional<kdr::Vector3> step) {
    return write_animation(sink, rng, ids.animation.take(), num_parts, frames, step);
  };
  const uint32_t idle = anim(rng.between(20, 40), std::nullopt);
  const uint32_t run = anim(rng.between(16, 24), kdr::Vector3{0, 0.16f, 0});
  const uint32_t walk_a = anim(rng.between(12, 20), kdr::Vector3{0, 0.05f, 0});
  const uint32_t walk_b = anim(rng.between(12, 20), kdr::Vector3{0.01f, 0.05f, 0});
  const uint32_t backward = anim(rng.between(12, 20), kdr::Vector3{0, -0.04f, 0});
  const uint32_t turn = anim(rng.between(10, 16), std::nullopt);
  const uint32_t wave = anim(rng.between(20, 30), std::nullopt);
  const uint32_t start_walk = anim(6, kdr::Vector3{0, 0.02f, 0});

  kdr::MotionTable t;
  t.id = ids.motion_table.take();
  t.default_style = kStyleNonCombat;
  t.style_defaults = {{kStyleNonCombat, kReady}, {kStyleCombat, kReady}};
  using kdr::cycle_key;
  t.cycles[cycle_key(kStyleNonCombat, kReady)] = entry_of({idle}, 30);
  t.cycles[cycle_key(kStyleNonCombat, kRunForward)] = entry_of({run}, rng.around(30, 2));
  t.cycles[cycle_key(kStyleNonCombat, kWalkForward)] = entry_of({walk_a, walk_b}, rng.around(25, 2));
  auto back = entry_of({backward}, 25);
  back.velocity = kdr::Vector3{0, -1.2f, 0};
  t.cycles[cycle_key(kStyleNonCombat, kWalkBackward)] = back;
  auto right = entry_of({turn}, 20);
  right.omega = kdr::Vector3{0, 0, -1.5f};
  t.cycles[cycle_key(kStyleNonCombat, kTurnRight)] = right;
  auto left = entry_of({}, 20);
  left.omega = kdr::Vector3{0, 0, 1.5f};
  t.cycles[cycle_key(kStyleNonCombat, kTurnLeft)] = left;
  auto combat_run = entry_of({run}, 30);
  combat_run.velocity = kdr::Vector3{0, 4.0f, 0};
  combat_run.flags = 0x02;
  t.cycles[cycle_key(kStyleCombat, kRunForward)] = combat_run;
  t.modifiers[cycle_key(kStyleNonCombat, kWave)] = entry_of({wave}, 30);
  t.links[cycle_key(kStyleNonCombat, kReady)][kWalkForward] = entry_of({start_walk}, 30);
  t.links[cycle_key(kStyleNonCombat, kWalkForward)][kReady] = entry_of({start_walk}, -30);
  sink.put(WorldSink::Part::Portal, t.id, kdr::testing::build_motion_table(t));
  return t.id;
}

// A creature table in the creature style: a derived forward cycle, one
// whose animation has no position frames (so no velocity), an explicit
// walk, a turn, and a link.
uint32_t write_creature_motion(WorldSink& sink, Rng& rng, Ids& ids, uint32_t num_parts) {
  auto anim = [&](uint32_t frames, std::optional<kdr::Vector3> step) {
    return write_animation(sink, rng, ids.animation.take(), num_parts, frames, step);
  };
  const uint32_t gallop = anim(rng.between(10, 16), kdr::Vector3{0, 0.3f, 0});
  const uint32_t shuffle = anim(rng.between(10, 16), std::nullopt);
  const uint32_t turn = anim(8, std::nullopt);

  kdr::MotionTable t;
  t.id = ids.motion_table.take();
  t.default_style = kStyleCreature;
  t.style_defaults = {{kStyleCreature, kReady}};
  using kdr::cycle_key;
  t.cycles[cycle_key(kStyleCreature, kRunForward)] = entry_of({gallop}, rng.around(20, 2));
  t.cycles[cycle_key(kStyleCreature, kWalkForward)] = entry_of({shuffle}, 15);
  auto backward = entry_of({shuffle}, 15);
  backward.velocity = kdr::Vector3{0, -0.8f, 0};
  t.cycles[cycle_key(kStyleCreature, kWalkBackward)] = backward;
  auto right = entry_of({turn}, 10);
  right.omega = kdr::Vector3{0, 0, -2.0f};
  t.cycles[cycle_key(kStyleCreature, kTurnRight)] = right;
  t.links[cycle_key(kStyleCreature, kReady)][kRunForward] = entry_of({turn}, 10);
  sink.put(WorldSink::Part::Portal, t.id, kdr::testing::build_motion_table(t));
  return t.id;
}

// ---------------------------------------------------------------------------
// Models.

struct ModelSet {
  std::vector<uint32_t> objects;    // placed as landblock objects
  std::vector<uint32_t> buildings;  // placed as buildings
};

uint32_t write_setup(WorldSink& sink, Rng& rng, uint32_t id, std::vector<uint32_t> parts,
                     std::optional<uint32_t> motion_table) {
  kdr::SetupModel s;
  s.id = id;
  s.flags = kdr::SetupModel::HAS_PART_VALUES;
  s.parts = std::move(parts);
  for (size_t p = 0; p < s.parts.size(); ++p) s.part_values.push_back(p == 0 ? 0xFFFFFFFFu : 0u);
  for (uint32_t key : {0u, 1u}) {
    kdr::PlacementType placement;
    for (size_t p = 0; p < s.parts.size(); ++p) placement.frames.push_back(frame_at(0, 0, 0.2f * static_cast<float>(p)));
    if (key == 1) placement.hooks.push_back(kdr::testing::make_hook(2, 7));
    s.placements[key] = std::move(placement);
  }
  s.locations_a[0] = {0, frame_at(0, 0, 1.6f)};
  s.cyl_spheres.push_back({{0, 0, 0}, rng.around(0.5f, 0.2f), rng.around(1.8f, 0.3f)});
  s.spheres.push_back({{0, 0, 0.9f}, 0.9f});
  s.value_a = 0x4;
  s.sphere_a = {{0, 0, 0.9f}, 1.0f};
  s.sphere_b = {{0, 0, 0.9f}, 1.2f};
  if (rng.below(3) == 0) s.lights[0] = {frame_at(0, 0, 2), 0xFFFFE0C0, 1, 5, 0};
  s.default_motion_table = motion_table;
  if (motion_table) s.ref_id_1 = 0x20000001;  // its sound table
  sink.put(WorldSink::Part::Portal, id, kdr::testing::build_setup(s));
  return id;
}

// One unit of models: textures and surfaces, graphics objects, setups (most
// of them animated by one of two motion tables), and a building.
ModelSet write_models(WorldSink& sink, Rng& rng, Ids& ids) {
  std::vector<uint32_t> surface_textures;
  for (uint32_t i = 0; i < 8; ++i) {
    static constexpr uint32_t kSides[] = {64, 128, 128, 256};
    surface_textures.push_back(write_surface_texture(sink, rng, ids, kSides[rng.below(4)]));
  }
  const auto surfaces = write_surfaces(sink, rng, ids, surface_textures, 20);
  std::vector<uint32_t> gfx;
  for (uint32_t i = 0; i < 12; ++i) {
    std::vector<uint32_t> own;
    for (uint32_t k = rng.between(1, 4); k > 0; --k) own.push_back(surfaces[rng.below(surfaces.size())]);
    gfx.push_back(write_gfx_obj(sink, rng, ids.gfx.take(), std::move(own)));
  }

  const uint32_t humanoid = write_humanoid_motion(sink, rng, ids, 5);
  const uint32_t creature = write_creature_motion(sink, rng, ids, 3);
  ModelSet set;
  for (uint32_t i = 0; i < 6; ++i) {
    std::vector<uint32_t> parts;
    for (uint32_t k = rng.between(1, 5); k > 0; --k) parts.push_back(gfx[rng.below(gfx.size())]);
    std::optional<uint32_t> table;
    if (i < 4) table = i % 2 == 0 ? humanoid : creature;
    set.objects.push_back(write_setup(sink, rng, ids.setup.take(), std::move(parts), table));
  }
  // A setup with a setup among its parts: the walk goes two levels down.
  set.objects.push_back(write_setup(sink, rng, ids.setup.take(), {set.objects[4], gfx[0]}, std::nullopt));
  set.objects.push_back(gfx[1]);  // a bare graphics object as a placed object
  set.buildings.push_back(write_setup(sink, rng, ids.setup.take(), {gfx[2], gfx[3], gfx[4]}, std::nullopt));
  set.buildings.push_back(gfx[5]);
  return set;
}

// ---------------------------------------------------------------------------
// Landblocks.

void write_landblock(WorldSink& sink, Rng& rng, uint32_t landblock, const ModelSet& models,
                     const std::vector<uint32_t>& only_here = {}) {
  const uint32_t base = landblock << 16;
  // The landblock record: id, flags, 81 terrain words, 81 heights, padding.
  ByteWriter land;
  land.u32(base | 0xFFFF).u32(1);
  for (int i = 0; i < 81; ++i) land.u16(static_cast<uint16_t>(rng.below(0x10000) & 0xFF7C));
  for (int i = 0; i < 81; ++i) land.u8(static_cast<uint8_t>(rng.between(20, 80)));
  land.align(4);
  sink.put(WorldSink::Part::Cell, base | 0xFFFF, land.take());

  kdr::LandblockInfo info;
  info.id = base | 0xFFFE;
  info.num_cells = rng.between(2, 5);
  for (uint32_t k = rng.between(8, 20); k > 0; --k)
    info.objects.push_back({models.objects[rng.below(models.objects.size())], placed(rng)});
  for (uint32_t id : only_here) info.objects.push_back({id, placed(rng)});
  const uint32_t num_buildings = rng.between(1, 3);
  for (uint32_t b = 0; b < num_buildings; ++b) {
    kdr::BuildInfo building;
    building.model_id = models.buildings[b % models.buildings.size()];
    building.frame = placed(rng);
    building.num_leaves = rng.between(1, 6);
    // Every other building has doors into the cells.
    if (b % 2 == 0)
      for (uint16_t p = 0; p < 2; ++p)
        building.portals.push_back({static_cast<uint16_t>(1 + p), static_cast<uint16_t>(0x100 + p), p,
                                    p == 0 ? std::vector<uint16_t>{0x100} : std::vector<uint16_t>{0x100, 0x101}});
    info.buildings.push_back(std::move(building));
  }
  if (rng.below(2) == 0) {
    info.pack_mask = kdr::LandblockInfo::HAS_RESTRICTION_TABLE;
    info.restriction_tables = kdr::RestrictionTable{{{base | 0x0100, 0x7E000001}}};
  }
  sink.put(WorldSink::Part::Cell, info.id, kdr::testing::build_landblock_info(info));

  // The interior cells: environment, surfaces, position and visible cells.
  for (uint32_t c = 0; c < info.num_cells; ++c) {
    ByteWriter cell;
    cell.u32(base | (0x100 + c)).u32(2).u32(base | (0x100 + c));
    cell.u8(3).u8(static_cast<uint8_t>(info.num_cells));
    cell.u16(0);
    for (int s = 0; s < 3; ++s) cell.u16(static_cast<uint16_t>(rng.below(0x100)));
    cell.u16(static_cast<uint16_t>(0x0D000001 & 0xFFFF)).u16(static_cast<uint16_t>(rng.below(4)));
    cell.vec3({rng.around(96, 90), rng.around(96, 90), 0}).quat({1, 0, 0, 0});
    for (uint32_t v = 0; v < info.num_cells; ++v) cell.u16(static_cast<uint16_t>(0x100 + v));
    cell.align(4);
    sink.put(WorldSink::Part::Cell, base | (0x100 + c), cell.take());
  }
}

// Far landblocks spread over the grid and never in the spawn neighbourhood.
std::vector<uint32_t> far_landblocks(uint32_t count) {
  std::vector<uint32_t> out;
  for (uint32_t k = 1; out.size() < count; ++k) {
    const uint32_t lb = (k * 40503u) & 0xFFFF;  // odd multiplier: a bijection, so no repeats
    const int dx = static_cast<int>(lb >> 8) - static_cast<int>(kSpawn >> 8);
    const int dy = static_cast<int>(lb & 0xFF) - static_cast<int>(kSpawn & 0xFF);
    if (dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1) continue;
    out.push_back(lb);
  }
  return out;
}

// ---------------------------------------------------------------------------
// Portal essentials, data tables, and the other portal records.

Bytes table_bytes(Rng& rng, uint32_t id, uint32_t words) {
  ByteWriter w;
  w.u32(id).u32(words);
  for (uint32_t i = 0; i < words; ++i) w.u32(i * 1000 + rng.below(1000));
  return w.take();
}

// A spell table of a few dozen spells: five schools, several categories,
// every meta data form, names and descriptions beyond ASCII.
Bytes spell_table_bytes(Rng& rng) {
  static constexpr std::string_view kNames[] = {"Flamme", "Éclair", "Señal", "Piñata", "Café",
                                                "Niño", "Crème", "Brûlure", "Mañana", "Façade"};
  static constexpr std::string_view kDescriptions[] = {
      "Burns the target for a while.", "Costs 5 € of mana™.", "Señor of all ailments.",
      "A naïve little charm — harmless.", "Opens a portal to the café."};
  kdr::SpellTable table;
  table.id = kdr::SpellTable::FILE_ID;
  for (uint32_t n = 0; n < 48; ++n) {
    const uint32_t spell_id = 1 + n * 3;
    kdr::SpellBase s = kdr::SpellBase::default_spell();
    s.name = fmt::format("{} {}", kNames[n % std::size(kNames)], n / std::size(kNames) + 1);
    s.description = std::string(kDescriptions[n % std::size(kDescriptions)]);
    s.school = 1 + n % 5;
    s.category = 1 + (n * 7) % 12;
    s.icon_id = 0x06001000 + n;
    s.bitfield = 0x1 << (n % 12);
    s.base_mana = 5 + 5 * (n % 10);
    s.base_range_constant = 5.0f;
    s.base_range_mod = 0.25f * static_cast<float>(n % 4);
    s.power = 1 + n * 5;
    s.spell_economy_mod = 1.0f;
    s.formula_version = 1;
    s.component_loss = 0.05f;
    switch (n % 4) {
      case 0:
        s.meta_spell_type = kdr::SpellBase::META_TYPE_DURATION;
        s.meta_data = kdr::SpellDurationData{1800.0 + n, 0.5f, 0.25f};
        break;
      case 1:
        s.meta_spell_type = kdr::SpellBase::META_TYPE_SHARED_DURATION;
        s.meta_data = kdr::SpellDurationData{60.0 * n, 0.0f, 1.0f};
        break;
      case 2:
        s.meta_spell_type = kdr::SpellBase::META_TYPE_PORTAL;
        s.meta_data = kdr::SpellPortalData{15.0 + n};
        break;
      default:
        s.meta_spell_type = 2;  // an instant effect: no meta data
        break;
    }
    s.meta_spell_id = spell_id;
    for (auto& c : s.raw_components) c = rng.between(1, 200);
    s.caster_effect = rng.below(50);
    s.target_effect = rng.below(50);
    s.recovery_interval = 0.5 * (n % 3);
    s.recovery_amount = 1.0f;
    s.display_order = n;
    s.non_component_target_type = 0x10;
    s.mana_mod = n % 3;
    table.spells[spell_id] = std::move(s);
  }
  for (uint32_t g = 0; g < 3; ++g)
    for (uint32_t k = 0; k < 4; ++k) table.groups[0x100 + g][k].ids = {1 + 3 * (g * 4 + k), 4 + 3 * (g * 4 + k)};
  return kdr::testing::build_spell_table(table);
}

void write_essentials_and_tables(WorldSink& sink, Rng& rng) {
  sink.put(WorldSink::Part::Portal, kdr::CharGen::FILE_ID, table_bytes(rng, kdr::CharGen::FILE_ID, 600));
  sink.put(WorldSink::Part::Portal, kTable0E000007Id, table_bytes(rng, kTable0E000007Id, 120));
  sink.put(WorldSink::Part::Portal, kdr::SkillTable::FILE_ID, table_bytes(rng, kdr::SkillTable::FILE_ID, 400));
  sink.put(WorldSink::Part::Portal, kdr::SpellTable::FILE_ID, spell_table_bytes(rng));
  sink.put(WorldSink::Part::Portal, kdr::XpTable::FILE_ID, table_bytes(rng, kdr::XpTable::FILE_ID, 275));
  sink.put(WorldSink::Part::Portal, kExtraTableId, table_bytes(rng, kExtraTableId, 64));
  // The portal record under the kinematics asset's number: an empty asset.
  kdr::MemorySink asset;
  (void)kdr::MotionKinematics::create().write(asset);
  sink.put(WorldSink::Part::Portal, kdr::MotionKinematics::FILE_ID, asset.bytes());
  // The UI font: metrics, one glyph rectangle per character, its two atlases.
  ByteWriter font;
  font.u32(kUiFontId).u32(16).u32(12).u32(256);
  for (uint32_t ch = 0; ch < 256; ++ch)
    font.u16(static_cast<uint16_t>(ch)).u16(static_cast<uint16_t>((ch % 16) * 16)).u16(static_cast<uint16_t>((ch / 16) * 16))
        .u8(static_cast<uint8_t>(6 + ch % 8)).u8(16).u8(0).u8(0).u8(1).u8(0);
  font.u32(kUiFontAtlasFgId).u32(kUiFontAtlasBgId);
  sink.put(WorldSink::Part::Portal, kUiFontId, font.take());
  write_texture(sink, rng, kUiFontAtlasFgId, 256);
  write_texture(sink, rng, kUiFontAtlasBgId, 256);
}

// Records of kinds the tools only store: environments, a region, a sound
// table, a particle emitter, a physics script, a palette set.
void write_other_portal_records(WorldSink& sink, Rng& rng) {
  for (uint32_t id : {0x0D000001u, 0x0D000002u, 0x0D000003u, 0x13000000u, 0x20000001u, 0x32000001u, 0x33000001u,
                      0x0F000001u})
    sink.put(WorldSink::Part::Portal, id, table_bytes(rng, id, rng.between(16, 200)));
}

// Audio: a short header and 16-bit samples of a decaying tone.
void write_audio(WorldSink& sink, Rng& rng, Ids& ids, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t id = ids.audio.take();
    const uint32_t samples = rng.between(2000, 8000);
    ByteWriter w;
    w.u32(id).u32(18).u32(samples * 2);
    w.u16(1).u16(1).u32(22050).u32(44100).u16(2).u16(16).u16(0);
    const float pitch = rng.around(0.05f, 0.03f);
    for (uint32_t s = 0; s < samples; ++s) {
      const float decay = 1.0f - static_cast<float>(s) / static_cast<float>(samples);
      w.i16(static_cast<int16_t>(12000.0f * decay * std::sin(pitch * static_cast<float>(s))));
    }
    sink.put(WorldSink::Part::Portal, id, w.take());
  }
}

// Clothing: per setup, the parts it replaces and the palettes it shades.
void write_clothing(WorldSink& sink, Rng& rng, Ids& ids, const ModelSet& models, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t id = ids.clothing.take();
    ByteWriter w;
    w.u32(id).u32(1).u32(models.objects[0]).u32(3);
    for (uint32_t p = 0; p < 3; ++p) w.u32(p).u32(0x01000001 + rng.below(12));
    w.u32(2).u32(kPaletteBase).u32(kPaletteBase + 1);
    sink.put(WorldSink::Part::Portal, id, w.take());
  }
}

// ---------------------------------------------------------------------------

void write_world(WorldSink& sink, uint32_t scale) {
  Rng rng{kSeed};
  Ids ids;
  write_essentials_and_tables(sink, rng);
  write_palettes(sink, rng);
  write_other_portal_records(sink, rng);

  // The spawn neighbourhood and the models placed there.
  const ModelSet home = write_models(sink, rng, ids);
  for (int dx = -1; dx <= 1; ++dx)
    for (int dy = -1; dy <= 1; ++dy)
      write_landblock(sink, rng, static_cast<uint32_t>(static_cast<int>(kSpawn) + dx * 0x100 + dy), home);
  write_audio(sink, rng, ids, 4);
  write_clothing(sink, rng, ids, home, 3);

  // A model placed only on the first far landblock, never near the spawn.
  const uint32_t far_surface_texture = write_surface_texture(sink, rng, ids, 64);
  const auto far_surfaces = write_surfaces(sink, rng, ids, {far_surface_texture}, 2);
  const uint32_t far_gfx = write_gfx_obj(sink, rng, ids.gfx.take(), far_surfaces);
  const uint32_t far_only = write_setup(sink, rng, ids.setup.take(), {far_gfx}, std::nullopt);

  const auto far = far_landblocks(kFarLandblocksPerUnit * scale);
  for (uint32_t unit = 0; unit < scale; ++unit) {
    // The first unit's far landblocks show the home models; every further
    // unit brings its own models, motion, audio and clothing.
    ModelSet models = home;
    if (unit > 0) {
      models = write_models(sink, rng, ids);
      write_audio(sink, rng, ids, 4);
      write_clothing(sink, rng, ids, models, 2);
    }
    for (uint32_t k = 0; k < kFarLandblocksPerUnit; ++k) {
      const bool first = unit == 0 && k == 0;
      write_landblock(sink, rng, far[unit * kFarLandblocksPerUnit + k], models,
                      first ? std::vector<uint32_t>{far_only} : std::vector<uint32_t>{});
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::optional<std::filesystem::path> out;
  uint32_t scale = 1;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--scale" && i + 1 < args.size()) {
      char* end = nullptr;
      unsigned long n = std::strtoul(args[++i].c_str(), &end, 10);
      if (*end != '\0' || n < 1 || n > 100000) {
        fmt::print(stderr, "sample_world: --scale takes a whole number from 1 to 100000\n");
        return 2;
      }
      scale = static_cast<uint32_t>(n);
    } else if (!out && !args[i].starts_with("-")) {
      out = args[i];
    } else {
      out.reset();
      break;
    }
  }
  if (!out) {
    fmt::print(stderr, "usage: sample_world OUT_DIR [--scale N]\n");
    return 2;
  }
  LooseFolderSink sink(*out);
  if (sink.failed()) return 1;
  write_world(sink, scale);
  if (sink.failed()) return 1;
  fmt::print("sample_world: {} records, {} bytes in {}\n", sink.records(), sink.bytes(), out->string());
  return 0;
}
