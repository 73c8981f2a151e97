// Record builders for motion tables and animations: values in, exact bytes
// out. Map entries are written in ascending key order so the bytes never
// depend on hash order.
#pragma once

#include <cstdint>
#include <vector>

#include "kelvadorin/dat/coding.hpp"
#include "kelvadorin/dat/file_type/animation.hpp"
#include "kelvadorin/dat/file_type/motion_table.hpp"

namespace kdr::testing {

Bytes build_animation_ref(const AnimationRef& ref);

// The animation count is animations.size() (at most 255). The presence bits
// 0 and 1 of the second flag byte are set from velocity and omega, so the
// bytes always hold exactly the vectors present; its other bits and the first
// flag byte are written as given. The padding byte is 0.
Bytes build_motion_entry(const MotionEntry& entry);

Bytes build_motion_table(const MotionTable& table);

// The frames as given, the hook count, then the hooks.
Bytes build_animation_part_frame(const AnimationPartFrame& frame);

// id, flags, num_parts and num_frames as given; pos_frames exactly when flags
// has HAS_POS_FRAMES; then every part frame as given. The bytes decode back to
// the same animation when it is consistent (see make_animation); inconsistent
// ones make records whose counts the data cannot satisfy.
Bytes build_animation(const Animation& animation);

// A consistent animation: the position frames (flag bit 0 set when there are
// any), and one part frame per position frame, each with `num_parts`
// identity frames and no hooks.
Animation make_animation(uint32_t id, std::vector<graphics::Frame> pos_frames, uint32_t num_parts = 0);

}  // namespace kdr::testing
