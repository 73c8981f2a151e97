// The frame used inside setup models: placements, locations, lights.
#pragma once

#include "kelvadorin/dat/geometry.hpp"

namespace kdr::graphics {

struct Frame {
  Vector3 origin;
  Quaternion orientation;
  friend bool operator==(const Frame&, const Frame&) = default;
};

}  // namespace kdr::graphics

template <>
struct kdr::Codec<kdr::graphics::Frame> {
  static constexpr uint64_t kMinSize = 28;
  static DecodeResult<graphics::Frame> read(ByteCursor& c) { return decode_frame<graphics::Frame>(c); }
};
