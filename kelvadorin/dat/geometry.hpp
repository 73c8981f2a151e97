// Byte forms of the geometry values: declared records, little-endian f32
// components, no padding. Frame types live in graphics.hpp and landblock.hpp
// and share decode_frame below.
#pragma once

#include "kelvadorin/common/math.hpp"
#include "kelvadorin/dat/record.hpp"
#include "kelvadorin/dat/utils.hpp"

namespace kdr {

template <>
struct Codec<Vector3> {
  static constexpr uint64_t kMinSize = 12;
  static DecodeResult<Vector3> read(ByteCursor& c) {
    Vector3 v;
    Record r(c, "Vector3");
    r.field("x", v.x).field("y", v.y).field("z", v.z);
    return r.done(v);
  }
};

template <>
struct Codec<Quaternion> {
  static constexpr uint64_t kMinSize = 16;
  static DecodeResult<Quaternion> read(ByteCursor& c) {
    Quaternion q;
    Record r(c, "Quaternion");
    r.field("w", q.w).field("x", q.x).field("y", q.y).field("z", q.z);
    return r.done(q);
  }
};

template <>
struct Codec<Sphere> {
  static constexpr uint64_t kMinSize = 16;
  static DecodeResult<Sphere> read(ByteCursor& c) {
    Sphere s;
    Record r(c, "Sphere");
    r.field("center", s.center).field("radius", s.radius);
    return r.done(s);
  }
};

// A frame: `origin` (Vector3) then `orientation` (Quaternion), 28 bytes.
template <class FrameT>
DecodeResult<FrameT> decode_frame(ByteCursor& c) {
  FrameT f;
  Record r(c, "Frame");
  r.field("origin", f.origin).field("orientation", f.orientation);
  return r.done(f);
}

// Writes x, y, z as little-endian f32 at the sink's position (12 bytes).
IoResult<void> write_vector3(ByteSink& sink, const Vector3& v);

}  // namespace kdr
