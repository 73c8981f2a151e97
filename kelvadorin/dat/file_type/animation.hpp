// The animation record (file ids 0x03xxxxxx): optional whole-object position
// frames, then one frame per part and the animation hooks for every frame.
//
// Byte form, little-endian, declared field by field:
//   Animation           id u32, flags u32, num_parts u32 (P), num_frames u32 (F),
//                       pos_frames: F graphics Frames when flags bit 0,
//                       part_frames: F AnimationPartFrames
//   AnimationPartFrame  frames: P graphics Frames, num_hooks u32,
//                       hooks: num_hooks AnimationHooks
#pragma once

#include <cstdint>
#include <vector>

#include "kelvadorin/dat/file_type/setup_model.hpp"
#include "kelvadorin/dat/graphics.hpp"
#include "kelvadorin/dat/record.hpp"

namespace kdr {

struct AnimationPartFrame {
  std::vector<graphics::Frame> frames;  // one per part of the animation
  std::vector<AnimationHook> hooks;

  // Reads `num_parts` frames, then the hooks.
  static DecodeResult<AnimationPartFrame> read(ByteCursor& c, uint32_t num_parts);

  friend bool operator==(const AnimationPartFrame&, const AnimationPartFrame&) = default;
};

struct Animation {
  // Bit of flags: position frames follow the counts.
  static constexpr uint32_t HAS_POS_FRAMES = 0x1;

  uint32_t id = 0;
  uint32_t flags = 0;  // all 32 bits kept
  uint32_t num_parts = 0;
  uint32_t num_frames = 0;
  // Per-frame displacements of the whole object; empty unless flags has HAS_POS_FRAMES.
  std::vector<graphics::Frame> pos_frames;
  std::vector<AnimationPartFrame> part_frames;  // num_frames entries

  // Decodes a whole animation record; trailing bytes are ignored.
  static DecodeResult<Animation> unpack(ByteView data);

  friend bool operator==(const Animation&, const Animation&) = default;
};

template <>
struct Codec<Animation> {
  static constexpr uint64_t kMinSize = 16;
  static DecodeResult<Animation> read(ByteCursor& c);
};

}  // namespace kdr
