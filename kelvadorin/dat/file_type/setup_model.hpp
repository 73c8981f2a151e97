// A setup: the game's multi-part model record (file ids 0x02xxxxxx). Part ids
// and the default motion table are what the tools follow; everything else is
// decoded so the record is consumed exactly, and kept as read.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "kelvadorin/dat/coding.hpp"
#include "kelvadorin/dat/graphics.hpp"
#include "kelvadorin/dat/record.hpp"

namespace kdr {

// A part-relative location. The 32-bit values of this module are kept
// bit-exactly and never computed with.
struct LocationType {
  uint32_t part_id = 0;
  graphics::Frame frame;
  friend bool operator==(const LocationType&, const LocationType&) = default;
};

struct CylSphere {
  Vector3 origin;
  float radius = 0.0f;
  float height = 0.0f;
  friend bool operator==(const CylSphere&, const CylSphere&) = default;
};

struct LightInfo {
  graphics::Frame viewer_space_location;
  uint32_t color = 0;
  uint32_t intensity = 0;
  uint32_t falloff = 0;
  uint32_t cone_angle = 0;
  friend bool operator==(const LightInfo&, const LightInfo&) = default;
};

// An animation hook: two header words and a raw payload whose length the type
// decides. The payload keeps the alignment padding that follows it, so the
// hook's bytes are always 8 + payload.size(), a multiple of 4.
struct AnimationHook {
  static constexpr uint32_t MAX_HOOK_TYPE = 26;
  // The variable-length type: 1 byte, an i16, and 2 more bytes when it is negative.
  static constexpr uint32_t VARIABLE_HOOK_TYPE = 5;

  uint32_t hook_type = 0;
  uint32_t hook_word = 0;
  Bytes payload;

  // Payload bytes of a fixed-size type, padding excluded; nullopt for the
  // variable type and for types above MAX_HOOK_TYPE.
  static std::optional<uint32_t> fixed_payload_size(uint32_t hook_type);

  // Procedural: adds no context entries. A type above MAX_HOOK_TYPE fails with
  // InvalidValue positioned after the two header words.
  static DecodeResult<AnimationHook> read(ByteCursor& c);

  friend bool operator==(const AnimationHook&, const AnimationHook&) = default;
};

// One frame per part of the enclosing setup, then the hooks.
struct PlacementType {
  std::vector<graphics::Frame> frames;
  std::vector<AnimationHook> hooks;

  // Procedural: adds no context entries of its own.
  static DecodeResult<PlacementType> read(ByteCursor& c, uint32_t num_parts);

  friend bool operator==(const PlacementType&, const PlacementType&) = default;
};

struct SetupModel {
  // Layout flags: per-part values and per-part vectors follow the part ids.
  static constexpr uint32_t HAS_PART_VALUES = 0x1;
  static constexpr uint32_t HAS_PART_VECTORS = 0x2;

  uint32_t id = 0;     // the record's own file id, as read
  uint32_t flags = 0;  // all 32 bits kept
  std::vector<uint32_t> parts;          // part model file ids; its length is the part count
  std::vector<uint32_t> part_values;    // one per part when flags & HAS_PART_VALUES, else empty
  std::vector<Vector3> part_vectors;    // one per part when flags & HAS_PART_VECTORS, else empty
  std::unordered_map<uint32_t, LocationType> locations_a;
  std::unordered_map<uint32_t, LocationType> locations_b;
  std::unordered_map<uint32_t, PlacementType> placements;
  std::vector<CylSphere> cyl_spheres;
  std::vector<Sphere> spheres;
  uint32_t value_a = 0;
  uint32_t value_b = 0;
  uint32_t value_c = 0;
  uint32_t value_d = 0;
  Sphere sphere_a;
  Sphere sphere_b;
  std::unordered_map<uint32_t, LightInfo> lights;
  // Stored as 0 when absent.
  std::optional<uint32_t> ref_id_1;
  std::optional<uint32_t> ref_id_2;
  std::optional<uint32_t> default_motion_table;
  std::optional<uint32_t> ref_id_4;
  std::optional<uint32_t> ref_id_5;

  // Decodes from the cursor's position and leaves it after the last trailing
  // id; later bytes are not read. Procedural: only the declared records inside
  // add context entries.
  static DecodeResult<SetupModel> unpack(ByteCursor& c);

  friend bool operator==(const SetupModel&, const SetupModel&) = default;
};

template <>
struct Codec<LocationType> {
  static constexpr uint64_t kMinSize = 32;
  static DecodeResult<LocationType> read(ByteCursor& c) {
    LocationType v;
    Record r(c, "LocationType");
    r.field("part_id", v.part_id).field("frame", v.frame);
    return r.done(v);
  }
};

template <>
struct Codec<CylSphere> {
  static constexpr uint64_t kMinSize = 20;
  static DecodeResult<CylSphere> read(ByteCursor& c) {
    CylSphere v;
    Record r(c, "CylSphere");
    r.field("origin", v.origin).field("radius", v.radius).field("height", v.height);
    return r.done(v);
  }
};

template <>
struct Codec<LightInfo> {
  static constexpr uint64_t kMinSize = 44;
  static DecodeResult<LightInfo> read(ByteCursor& c) {
    LightInfo v;
    Record r(c, "LightInfo");
    r.field("viewer_space_location", v.viewer_space_location)
        .field("color", v.color)
        .field("intensity", v.intensity)
        .field("falloff", v.falloff)
        .field("cone_angle", v.cone_angle);
    return r.done(v);
  }
};

// Lets hook lists go through read_list; adds no entries.
template <>
struct Codec<AnimationHook> {
  static constexpr uint64_t kMinSize = 8;
  static DecodeResult<AnimationHook> read(ByteCursor& c) { return AnimationHook::read(c); }
};

}  // namespace kdr
