#include "kelvadorin/dat/file_type/animation.hpp"

namespace kdr {

DecodeResult<AnimationPartFrame> AnimationPartFrame::read(ByteCursor& c, uint32_t num_parts) {
  AnimationPartFrame f;
  uint32_t num_hooks = 0;
  Record r(c, "AnimationPartFrame");
  r.list("frames", num_parts, f.frames).field("num_hooks", num_hooks).list("hooks", num_hooks, f.hooks);
  return r.done(std::move(f));
}

DecodeResult<Animation> Codec<Animation>::read(ByteCursor& c) {
  Animation a;
  Record r(c, "Animation");
  r.field("id", a.id).field("flags", a.flags).field("num_parts", a.num_parts).field("num_frames", a.num_frames);
  if (a.flags & Animation::HAS_POS_FRAMES) r.list("pos_frames", a.num_frames, a.pos_frames);
  r.field_with("part_frames", [&](ByteCursor& in) -> DecodeResult<void> {
    // The smallest part frame is its frames and an empty hook count, so the
    // claimed frame count reserves no more than the remaining bytes can hold.
    reserve_bounded(a.part_frames, a.num_frames, in, 28 * static_cast<uint64_t>(a.num_parts) + 4);
    for (uint32_t i = 0; i < a.num_frames; ++i) {
      KDR_ASSIGN_OR_RETURN(AnimationPartFrame frame, AnimationPartFrame::read(in, a.num_parts));
      a.part_frames.push_back(std::move(frame));
    }
    return {};
  });
  return r.done(std::move(a));
}

DecodeResult<Animation> Animation::unpack(ByteView data) {
  ByteCursor c(data);
  return decode<Animation>(c);
}

}  // namespace kdr
