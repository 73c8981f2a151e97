#include "kelvadorin/dat/file_type/motion_kinematics.hpp"

#include <algorithm>
#include <vector>

#include "kelvadorin/dat/geometry.hpp"

namespace kdr {

namespace {

constexpr uint8_t kHasVelocity = 0x1;
constexpr uint8_t kHasOmega = 0x2;

template <class Map>
std::vector<uint32_t> sorted_keys(const Map& map) {
  std::vector<uint32_t> keys;
  keys.reserve(map.size());
  for (const auto& entry : map) keys.push_back(entry.first);
  std::sort(keys.begin(), keys.end());
  return keys;
}

IoResult<void> write_u32(ByteSink& sink, uint32_t v) {
  std::byte buf[4];
  store_le(buf, v);
  return sink.write_all(buf);
}

IoResult<void> write_u8(ByteSink& sink, uint8_t v) {
  std::byte b{v};
  return sink.write_all(ByteView(&b, 1));
}

IoResult<void> write_cycle(ByteSink& sink, uint32_t key, const MotionCommandKinematics& k) {
  uint8_t flags = (k.velocity ? kHasVelocity : 0) | (k.omega ? kHasOmega : 0);
  KDR_TRY(write_u32(sink, key));
  KDR_TRY(write_u8(sink, flags));
  if (k.velocity) KDR_TRY(write_vector3(sink, *k.velocity));
  if (k.omega) KDR_TRY(write_vector3(sink, *k.omega));
  return {};
}

// Cycle records: key, flags, then the vectors the flags announce. Bits 2-7
// of the flags are ignored.
DecodeResult<void> read_cycles(ByteCursor& c, uint32_t count, MotionKinematicsTable& table) {
  for (uint32_t i = 0; i < count; ++i) {
    KDR_ASSIGN_OR_RETURN(uint32_t key, c.read<uint32_t>());
    KDR_ASSIGN_OR_RETURN(uint8_t flags, c.read<uint8_t>());
    MotionCommandKinematics k;
    if (flags & kHasVelocity) {
      KDR_ASSIGN_OR_RETURN(k.velocity, decode<Vector3>(c));
    }
    if (flags & kHasOmega) {
      KDR_ASSIGN_OR_RETURN(k.omega, decode<Vector3>(c));
    }
    table.cycles.insert_or_assign(key, k);
  }
  return {};
}

}  // namespace

std::optional<uint32_t> MotionKinematics::default_motion_table_for_setup(uint32_t setup_id) const {
  auto it = setup_defaults.find(setup_id);
  if (it == setup_defaults.end()) return std::nullopt;
  return it->second;
}

std::optional<uint32_t> MotionKinematics::default_style_for_motion_table(uint32_t motion_table_id) const {
  auto it = tables.find(motion_table_id);
  if (it == tables.end()) return std::nullopt;
  return it->second.default_style;
}

const MotionCommandKinematics* MotionKinematics::cycle_kinematics(uint32_t motion_table_id, uint32_t style,
                                                                  uint32_t motion) const {
  auto table = tables.find(motion_table_id);
  if (table == tables.end()) return nullptr;
  auto cycle = table->second.cycles.find(cycle_key(style, motion));
  if (cycle == table->second.cycles.end()) return nullptr;
  return &cycle->second;
}

IoResult<void> MotionKinematics::write(ByteSink& sink) const {
  KDR_TRY(write_u32(sink, magic));
  KDR_TRY(write_u32(sink, version));
  KDR_TRY(write_u32(sink, static_cast<uint32_t>(setup_defaults.size())));
  for (uint32_t setup : sorted_keys(setup_defaults)) {
    KDR_TRY(write_u32(sink, setup));
    KDR_TRY(write_u32(sink, setup_defaults.at(setup)));
  }
  KDR_TRY(write_u32(sink, static_cast<uint32_t>(tables.size())));
  for (uint32_t id : sorted_keys(tables)) {
    const MotionKinematicsTable& table = tables.at(id);
    KDR_TRY(write_u32(sink, table.motion_table_id));
    KDR_TRY(write_u32(sink, table.default_style));
    KDR_TRY(write_u32(sink, static_cast<uint32_t>(table.cycles.size())));
    for (uint32_t key : sorted_keys(table.cycles)) KDR_TRY(write_cycle(sink, key, table.cycles.at(key)));
  }
  return {};
}

// The asset's own fields are plain reads without context entries; only a cut
// Vector3 reports its component. Counts drive loops that stop at the first
// missing byte, and nothing is reserved from them.
DecodeResult<MotionKinematics> MotionKinematics::read(ByteCursor& c) {
  MotionKinematics out;
  KDR_ASSIGN_OR_RETURN(out.magic, c.read<uint32_t>());
  KDR_ASSIGN_OR_RETURN(out.version, c.read<uint32_t>());
  KDR_ASSIGN_OR_RETURN(uint32_t setup_count, c.read<uint32_t>());
  KDR_TRY((read_map<uint32_t, uint32_t>(c, setup_count, out.setup_defaults)));
  KDR_ASSIGN_OR_RETURN(uint32_t table_count, c.read<uint32_t>());
  for (uint32_t i = 0; i < table_count; ++i) {
    MotionKinematicsTable table;
    KDR_ASSIGN_OR_RETURN(table.motion_table_id, c.read<uint32_t>());
    KDR_ASSIGN_OR_RETURN(table.default_style, c.read<uint32_t>());
    KDR_ASSIGN_OR_RETURN(uint32_t cycle_count, c.read<uint32_t>());
    KDR_TRY(read_cycles(c, cycle_count, table));
    uint32_t id = table.motion_table_id;
    out.tables.insert_or_assign(id, std::move(table));
  }
  return out;
}

}  // namespace kdr
