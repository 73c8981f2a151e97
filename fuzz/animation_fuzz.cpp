// Animation record bytes through the decoder and, when they decode, through
// the builder and the speed derivation of a forward cycle that plays the
// animation: arbitrary frame values (NaN, infinities) must not upset either.
#include <cstdlib>
#include <unordered_map>

#include "kelvadorin/dat/file_type/animation.hpp"
#include "kelvadorin/testing/motion_builder.hpp"
#include "kelvadorin/tools/kinematics_derivation.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto animation = kdr::Animation::unpack(kdr::ByteView(reinterpret_cast<const std::byte*>(data), size));
  if (!animation) {
    (void)animation.error().description();
    return 0;
  }
  if (animation->part_frames.size() != animation->num_frames) std::abort();
  // Bytes, not values, are compared: NaN components never equal themselves.
  const kdr::Bytes built = kdr::testing::build_animation(*animation);
  auto again = kdr::Animation::unpack(built);
  if (!again || kdr::testing::build_animation(*again) != built) std::abort();

  kdr::MotionEntry forward;
  forward.animations = {{animation->id, 0, -1, 30.0f}, {animation->id, 0, -1, 10.0f}};
  const bool has_frames = !animation->pos_frames.empty();
  std::unordered_map<uint32_t, kdr::Animation> map;
  map.emplace(animation->id, std::move(*animation));
  auto cycle = kdr::derive_motion_command_kinematics(0x00030007, forward, map);
  if (!cycle || cycle->velocity.has_value() != has_frames || cycle->omega) std::abort();
  return 0;
}
