// Record builders for setups: values in, exact bytes out. Map entries are
// written in ascending key order so the bytes never depend on hash order.
#pragma once

#include <cstdint>

#include "kelvadorin/dat/coding.hpp"
#include "kelvadorin/dat/file_type/setup_model.hpp"

namespace kdr::testing {

// hook_type, hook_word, then `payload` raw (it carries any padding).
Bytes build_hook(const AnimationHook& hook);
// A well-formed hook of any type 0..26 with recognisable payload bytes; for the
// variable type, `variable_value` is its 16-bit value and decides the length.
AnimationHook make_hook(uint32_t hook_type, uint32_t hook_word = 0, int16_t variable_value = 1);

// The frames as given (a well-formed placement has one per part), the hook
// count, then the hooks.
Bytes build_placement(const PlacementType& placement);

Bytes build_location(const LocationType& location);
Bytes build_cyl_sphere(const CylSphere& cyl_sphere);
Bytes build_light(const LightInfo& light);
Bytes build_sphere(const Sphere& sphere);

// The part count is parts.size(). part_values and part_vectors are written,
// as given, exactly when their flag bit is set and there are parts; absent
// trailing ids are written as 0.
Bytes build_setup(const SetupModel& setup);

}  // namespace kdr::testing
