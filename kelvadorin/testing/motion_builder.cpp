#include "kelvadorin/testing/motion_builder.hpp"

#include <algorithm>
#include <unordered_map>

#include "kelvadorin/testing/byte_writer.hpp"
#include "kelvadorin/testing/setup_builder.hpp"

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

void entries(ByteWriter& w, const MotionEntryMap& map) {
  w.u32(static_cast<uint32_t>(map.size()));
  for (uint32_t key : sorted_keys(map)) w.u32(key).bytes(build_motion_entry(map.at(key)));
}

}  // namespace

Bytes build_animation_ref(const AnimationRef& ref) {
  return ByteWriter().u32(ref.animation_id).i32(ref.low_frame).i32(ref.high_frame).f32(ref.framerate).take();
}

Bytes build_motion_entry(const MotionEntry& entry) {
  auto presence = static_cast<uint8_t>(entry.presence_flags & ~(MotionEntry::HAS_VELOCITY | MotionEntry::HAS_OMEGA));
  if (entry.velocity) presence |= MotionEntry::HAS_VELOCITY;
  if (entry.omega) presence |= MotionEntry::HAS_OMEGA;
  ByteWriter w;
  w.u8(static_cast<uint8_t>(entry.animations.size())).u8(entry.flags).u8(presence).u8(0);
  for (const AnimationRef& ref : entry.animations) w.bytes(build_animation_ref(ref));
  if (entry.velocity) w.vec3(*entry.velocity);
  if (entry.omega) w.vec3(*entry.omega);
  return w.take();
}

Bytes build_motion_table(const MotionTable& table) {
  ByteWriter w;
  w.u32(table.id).u32(table.default_style);
  w.u32(static_cast<uint32_t>(table.style_defaults.size()));
  for (uint32_t style : sorted_keys(table.style_defaults)) w.u32(style).u32(table.style_defaults.at(style));
  entries(w, table.cycles);
  entries(w, table.modifiers);
  w.u32(static_cast<uint32_t>(table.links.size()));
  for (uint32_t key : sorted_keys(table.links)) {
    w.u32(key);
    entries(w, table.links.at(key));
  }
  return w.take();
}

Bytes build_animation_part_frame(const AnimationPartFrame& part_frame) {
  ByteWriter w;
  for (const graphics::Frame& f : part_frame.frames) frame(w, f);
  w.u32(static_cast<uint32_t>(part_frame.hooks.size()));
  for (const AnimationHook& h : part_frame.hooks) w.bytes(build_hook(h));
  return w.take();
}

Bytes build_animation(const Animation& a) {
  ByteWriter w;
  w.u32(a.id).u32(a.flags).u32(a.num_parts).u32(a.num_frames);
  if (a.flags & Animation::HAS_POS_FRAMES)
    for (const graphics::Frame& f : a.pos_frames) frame(w, f);
  for (const AnimationPartFrame& pf : a.part_frames) w.bytes(build_animation_part_frame(pf));
  return w.take();
}

Animation make_animation(uint32_t id, std::vector<graphics::Frame> pos_frames, uint32_t num_parts) {
  Animation a;
  a.id = id;
  a.flags = pos_frames.empty() ? 0 : Animation::HAS_POS_FRAMES;
  a.num_parts = num_parts;
  a.num_frames = static_cast<uint32_t>(pos_frames.size());
  const graphics::Frame identity{{0, 0, 0}, {1, 0, 0, 0}};
  a.part_frames.assign(pos_frames.size(), AnimationPartFrame{std::vector<graphics::Frame>(num_parts, identity), {}});
  a.pos_frames = std::move(pos_frames);
  return a;
}

}  // namespace kdr::testing
