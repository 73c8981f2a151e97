// The in-memory motion table model and the per-cycle kinematics record.
#pragma once

#include <optional>

#include "kelvadorin/common/math.hpp"

namespace kdr {

// How fast one motion cycle moves and turns; either may be unknown.
struct MotionCommandKinematics {
  std::optional<Vector3> velocity;
  std::optional<Vector3> omega;
  friend bool operator==(const MotionCommandKinematics&, const MotionCommandKinematics&) = default;
};

}  // namespace kdr
