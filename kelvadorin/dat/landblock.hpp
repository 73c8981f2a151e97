// The landblock info record (file id 0xXXYYFFFE in the cell namespace): the
// objects placed on a landblock, its buildings with their portals, and an
// optional restriction table. Object ids and building model ids are what the
// boot keep set follows; the rest is kept as read.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "kelvadorin/dat/geometry.hpp"
#include "kelvadorin/dat/record.hpp"

namespace kdr::landblock {

// Same fields and byte form as graphics::Frame; its own type for this module.
struct Frame {
  Vector3 origin;
  Quaternion orientation;
  friend bool operator==(const Frame&, const Frame&) = default;
};

}  // namespace kdr::landblock

template <>
struct kdr::Codec<kdr::landblock::Frame> {
  static constexpr uint64_t kMinSize = 28;
  static DecodeResult<landblock::Frame> read(ByteCursor& c) { return decode_frame<landblock::Frame>(c); }
};

namespace kdr {

// An object placed on the landblock.
struct Stab {
  uint32_t id = 0;  // file id of the placed model
  landblock::Frame frame;
  friend bool operator==(const Stab&, const Stab&) = default;
};

// Its stored form is a multiple of 4 bytes: two bytes of padding follow an odd
// number of stabs, and are skipped rather than read.
struct PortalInternal {
  uint16_t flags = 0;
  uint16_t other_cell_id = 0;
  uint16_t other_portal_id = 0;
  std::vector<uint16_t> stab_list;
  friend bool operator==(const PortalInternal&, const PortalInternal&) = default;
};

struct BuildInfo {
  uint32_t model_id = 0;  // file id of the building's model
  landblock::Frame frame;
  uint32_t num_leaves = 0;
  std::vector<PortalInternal> portals;
  friend bool operator==(const BuildInfo&, const BuildInfo&) = default;
};

struct RestrictionTable {
  std::unordered_map<uint32_t, uint32_t> tables;  // a repeated key keeps the later value
  friend bool operator==(const RestrictionTable&, const RestrictionTable&) = default;
};

struct LandblockInfo {
  // pack_mask bit: a restriction table follows the buildings.
  static constexpr uint16_t HAS_RESTRICTION_TABLE = 0x1;

  uint32_t id = 0;  // the record's own file id, as read
  uint32_t num_cells = 0;
  std::vector<Stab> objects;
  uint16_t pack_mask = 0;  // all bits kept
  std::vector<BuildInfo> buildings;
  std::optional<RestrictionTable> restriction_tables;  // present exactly when pack_mask & 1

  // Decodes from byte 0; bytes after the last field are ignored. Every
  // failure is DatError::BinRead.
  static Result<LandblockInfo> unpack(ByteView bytes);

  friend bool operator==(const LandblockInfo&, const LandblockInfo&) = default;
};

template <>
struct Codec<Stab> {
  static constexpr uint64_t kMinSize = 32;
  static DecodeResult<Stab> read(ByteCursor& c);
};

template <>
struct Codec<PortalInternal> {
  static constexpr uint64_t kMinSize = 8;
  static DecodeResult<PortalInternal> read(ByteCursor& c);
};

template <>
struct Codec<BuildInfo> {
  static constexpr uint64_t kMinSize = 40;
  static DecodeResult<BuildInfo> read(ByteCursor& c);
};

template <>
struct Codec<RestrictionTable> {
  static constexpr uint64_t kMinSize = 4;
  static DecodeResult<RestrictionTable> read(ByteCursor& c);
};

template <>
struct Codec<LandblockInfo> {
  static constexpr uint64_t kMinSize = 16;
  static DecodeResult<LandblockInfo> read(ByteCursor& c);
};

}  // namespace kdr
