// The motion table record (file ids 0x09xxxxxx): which animations each
// motion cycle plays and the velocity and turn rate the table states for it,
// plus the per-cycle kinematics record derived from it.
//
// Byte form, little-endian, declared field by field:
//   MotionTable    id u32, default_style u32;
//                  num_style_defaults u32, that many (style u32, motion u32);
//                  num_cycles u32, that many (key u32, MotionEntry);
//                  num_modifiers u32, that many (key u32, MotionEntry);
//                  num_links u32, that many (key u32, inner count u32,
//                  inner count x (key u32, MotionEntry))
//   MotionEntry    num_animations u8, flags u8, presence_flags u8, one padding
//                  byte (entries start on a multiple of 4 of the record),
//                  num_animations x AnimationRef, velocity Vector3 when
//                  presence_flags bit 0, omega Vector3 when bit 1
//   AnimationRef   animation_id u32, low_frame i32, high_frame i32, framerate f32
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "kelvadorin/common/math.hpp"
#include "kelvadorin/dat/geometry.hpp"
#include "kelvadorin/dat/record.hpp"

namespace kdr {

// How fast one motion cycle moves and turns; either may be unknown.
struct MotionCommandKinematics {
  std::optional<Vector3> velocity;
  std::optional<Vector3> omega;
  friend bool operator==(const MotionCommandKinematics&, const MotionCommandKinematics&) = default;
};

// One animation a cycle plays. The frame bounds are kept as read; kinematics
// always uses every position frame of the animation.
struct AnimationRef {
  uint32_t animation_id = 0;
  int32_t low_frame = 0;
  int32_t high_frame = 0;
  float framerate = 0.0f;
  friend bool operator==(const AnimationRef&, const AnimationRef&) = default;
};

struct MotionEntry {
  // Bits of presence_flags: which vectors follow the animation list.
  static constexpr uint8_t HAS_VELOCITY = 0x1;
  static constexpr uint8_t HAS_OMEGA = 0x2;

  std::vector<AnimationRef> animations;  // in playing order; at most 255 in a record
  std::optional<Vector3> velocity;
  std::optional<Vector3> omega;
  uint8_t flags = 0;           // first flag byte, kept as read
  uint8_t presence_flags = 0;  // second flag byte, kept as read (all 8 bits)

  friend bool operator==(const MotionEntry&, const MotionEntry&) = default;
};

using MotionEntryMap = std::unordered_map<uint32_t, MotionEntry>;

struct MotionTable {
  uint32_t id = 0;
  uint32_t default_style = 0;
  std::unordered_map<uint32_t, uint32_t> style_defaults;  // style -> its default motion
  MotionEntryMap cycles;                                  // by cycle key (style << 16 | motion & 0xFFFFF)
  MotionEntryMap modifiers;
  std::unordered_map<uint32_t, MotionEntryMap> links;

  // Decodes a whole motion table record; trailing bytes are ignored and a
  // repeated key replaces the earlier entry of its map.
  static DecodeResult<MotionTable> unpack(ByteView data);

  friend bool operator==(const MotionTable&, const MotionTable&) = default;
};

template <>
struct Codec<AnimationRef> {
  static constexpr uint64_t kMinSize = 16;
  static DecodeResult<AnimationRef> read(ByteCursor& c) {
    AnimationRef v;
    Record r(c, "AnimationRef");
    r.field("animation_id", v.animation_id)
        .field("low_frame", v.low_frame)
        .field("high_frame", v.high_frame)
        .field("framerate", v.framerate);
    return r.done(v);
  }
};

// Expects the cursor on a multiple of 4 counted from the record's start, as
// every entry of a motion table is; the padding byte is then exactly one.
template <>
struct Codec<MotionEntry> {
  static constexpr uint64_t kMinSize = 4;
  static DecodeResult<MotionEntry> read(ByteCursor& c);
};

template <>
struct Codec<MotionTable> {
  static constexpr uint64_t kMinSize = 24;
  static DecodeResult<MotionTable> read(ByteCursor& c);
};

}  // namespace kdr
