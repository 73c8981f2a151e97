// The motion kinematics asset: default motion tables of setups, default
// styles of motion tables, and the velocity and turn rate of every cycle.
// Derived once per conversion and stored in the core namespace.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>

#include "kelvadorin/dat/byte_cursor.hpp"
#include "kelvadorin/dat/file_type/motion_table.hpp"
#include "kelvadorin/dat/utils.hpp"

namespace kdr {

// The key of a cycle within its motion table, computed in 32 bits: the style's
// upper half is shifted out and the motion keeps its low 20 bits.
constexpr uint32_t cycle_key(uint32_t style, uint32_t motion) {
  return (style << 16) | (motion & 0xFFFFFu);
}

struct MotionKinematicsTable {
  uint32_t motion_table_id = 0;
  uint32_t default_style = 0;
  std::unordered_map<uint32_t, MotionCommandKinematics> cycles;  // by cycle_key

  static MotionKinematicsTable create(uint32_t motion_table_id, uint32_t default_style) {
    return MotionKinematicsTable{motion_table_id, default_style, {}};
  }

  friend bool operator==(const MotionKinematicsTable&, const MotionKinematicsTable&) = default;
};

struct MotionKinematics {
  static constexpr uint32_t MAGIC = 0x4D4F544B;  // stored as 4B 54 4F 4D
  static constexpr uint32_t VERSION = 1;
  // The asset's archive entry in the core namespace.
  static constexpr uint32_t FILE_ID = 0x4D4F544B;
  static constexpr uint32_t TYPE_ID = 0xFFFFFF01;

  uint32_t magic = MAGIC;
  uint32_t version = VERSION;
  std::unordered_map<uint32_t, uint32_t> setup_defaults;        // setup id -> motion table id
  std::unordered_map<uint32_t, MotionKinematicsTable> tables;  // motion table id -> table

  static MotionKinematics create() { return MotionKinematics{}; }

  std::optional<uint32_t> default_motion_table_for_setup(uint32_t setup_id) const;
  std::optional<uint32_t> default_style_for_motion_table(uint32_t motion_table_id) const;
  // nullptr when the table or the cycle is unknown.
  const MotionCommandKinematics* cycle_kinematics(uint32_t motion_table_id, uint32_t style,
                                                  uint32_t motion) const;

  // Writes the byte form at the sink's position. Every key list is sorted, so
  // equal contents give equal bytes whatever the insertion order.
  IoResult<void> write(ByteSink& sink) const;
  // Reads from the cursor's position and leaves it after the last table.
  // Magic and version are kept as read, not checked.
  static DecodeResult<MotionKinematics> read(ByteCursor& c);

  friend bool operator==(const MotionKinematics&, const MotionKinematics&) = default;
};

}  // namespace kdr
