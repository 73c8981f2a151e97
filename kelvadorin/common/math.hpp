// Geometry values shared by the record decoders and the tools. Plain data:
// any float bit pattern, NaN and infinities included, is kept as read.
#pragma once

namespace kdr {

struct Vector3 {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
  friend bool operator==(const Vector3&, const Vector3&) = default;
};

// Scalar part first, as stored.
struct Quaternion {
  float w = 0.0f;
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
  friend bool operator==(const Quaternion&, const Quaternion&) = default;
};

struct Sphere {
  Vector3 center;
  float radius = 0.0f;
  friend bool operator==(const Sphere&, const Sphere&) = default;
};

}  // namespace kdr
