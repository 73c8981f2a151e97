#include "kelvadorin/testing/setup_builder.hpp"

#include <algorithm>
#include <vector>

#include "kelvadorin/testing/byte_writer.hpp"

namespace kdr::testing {

namespace {

void frame(ByteWriter& w, const graphics::Frame& f) { w.vec3(f.origin).quat(f.orientation); }

template <class V>
std::vector<uint32_t> sorted_keys(const std::unordered_map<uint32_t, V>& map) {
  std::vector<uint32_t> keys;
  keys.reserve(map.size());
  for (const auto& [key, value] : map) keys.push_back(key);
  std::sort(keys.begin(), keys.end());
  return keys;
}

template <class V, class Fn>
void keyed(ByteWriter& w, const std::unordered_map<uint32_t, V>& map, Fn&& build) {
  w.u32(static_cast<uint32_t>(map.size()));
  for (uint32_t key : sorted_keys(map)) w.u32(key).bytes(build(map.at(key)));
}

}  // namespace

Bytes build_hook(const AnimationHook& hook) {
  return ByteWriter().u32(hook.hook_type).u32(hook.hook_word).bytes(hook.payload).take();
}

AnimationHook make_hook(uint32_t hook_type, uint32_t hook_word, int16_t variable_value) {
  AnimationHook h{hook_type, hook_word, {}};
  if (auto fixed = AnimationHook::fixed_payload_size(hook_type)) {
    for (uint32_t i = 0; i < *fixed; ++i) h.payload.push_back(static_cast<std::byte>(0x10 + i));
    return h;
  }
  // 1 byte, the 16-bit value, 2 more bytes when it is negative, then padding.
  ByteWriter w;
  w.u8(0x5A).i16(variable_value);
  if (variable_value < 0) w.u8(0xA1).u8(0xA2);
  while ((8 + w.size()) % 4 != 0) w.u8(0xEE);
  h.payload = w.take();
  return h;
}

Bytes build_placement(const PlacementType& placement) {
  ByteWriter w;
  for (const graphics::Frame& f : placement.frames) frame(w, f);
  w.u32(static_cast<uint32_t>(placement.hooks.size()));
  for (const AnimationHook& h : placement.hooks) w.bytes(build_hook(h));
  return w.take();
}

Bytes build_location(const LocationType& location) {
  ByteWriter w;
  w.u32(location.part_id);
  frame(w, location.frame);
  return w.take();
}

Bytes build_cyl_sphere(const CylSphere& cyl_sphere) {
  return ByteWriter().vec3(cyl_sphere.origin).f32(cyl_sphere.radius).f32(cyl_sphere.height).take();
}

Bytes build_light(const LightInfo& light) {
  ByteWriter w;
  frame(w, light.viewer_space_location);
  w.u32(light.color).u32(light.intensity).u32(light.falloff).u32(light.cone_angle);
  return w.take();
}

Bytes build_sphere(const Sphere& sphere) { return ByteWriter().vec3(sphere.center).f32(sphere.radius).take(); }

Bytes build_setup(const SetupModel& s) {
  ByteWriter w;
  w.u32(s.id).u32(s.flags).u32(static_cast<uint32_t>(s.parts.size()));
  for (uint32_t part : s.parts) w.u32(part);
  if (!s.parts.empty() && (s.flags & SetupModel::HAS_PART_VALUES))
    for (uint32_t v : s.part_values) w.u32(v);
  if (!s.parts.empty() && (s.flags & SetupModel::HAS_PART_VECTORS))
    for (const Vector3& v : s.part_vectors) w.vec3(v);
  keyed(w, s.locations_a, build_location);
  keyed(w, s.locations_b, build_location);
  keyed(w, s.placements, build_placement);
  w.u32(static_cast<uint32_t>(s.cyl_spheres.size()));
  for (const CylSphere& cs : s.cyl_spheres) w.bytes(build_cyl_sphere(cs));
  w.u32(static_cast<uint32_t>(s.spheres.size()));
  for (const Sphere& sp : s.spheres) w.bytes(build_sphere(sp));
  w.u32(s.value_a).u32(s.value_b).u32(s.value_c).u32(s.value_d);
  w.bytes(build_sphere(s.sphere_a)).bytes(build_sphere(s.sphere_b));
  keyed(w, s.lights, build_light);
  for (const auto& id : {s.ref_id_1, s.ref_id_2, s.default_motion_table, s.ref_id_4, s.ref_id_5})
    w.u32(id.value_or(0));
  return w.take();
}

}  // namespace kdr::testing
