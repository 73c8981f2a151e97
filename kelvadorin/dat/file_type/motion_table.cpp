#include "kelvadorin/dat/file_type/motion_table.hpp"

namespace kdr {

namespace {

// Each link entry is a key and an inner (key, MotionEntry) map with its own count.
DecodeResult<void> read_links(ByteCursor& c, uint64_t count, std::unordered_map<uint32_t, MotionEntryMap>& out) {
  for (uint64_t i = 0; i < count; ++i) {
    KDR_ASSIGN_OR_RETURN(const uint32_t key, c.read<uint32_t>());
    KDR_ASSIGN_OR_RETURN(const uint32_t inner_count, c.read<uint32_t>());
    MotionEntryMap inner;
    KDR_TRY((read_map<uint32_t, MotionEntry>(c, inner_count, inner)));
    out.insert_or_assign(key, std::move(inner));
  }
  return {};
}

}  // namespace

DecodeResult<MotionEntry> Codec<MotionEntry>::read(ByteCursor& c) {
  MotionEntry e;
  uint8_t num_animations = 0;
  uint8_t padding = 0;
  Record r(c, "MotionEntry");
  r.field("num_animations", num_animations)
      .field("flags", e.flags)
      .field("presence_flags", e.presence_flags)
      // Three header bytes from a 4-aligned start: one byte to the next multiple of 4.
      .field("padding", padding)
      .list("animations", num_animations, e.animations)
      .optional_field("velocity", (e.presence_flags & MotionEntry::HAS_VELOCITY) != 0, e.velocity)
      .optional_field("omega", (e.presence_flags & MotionEntry::HAS_OMEGA) != 0, e.omega);
  return r.done(std::move(e));
}

DecodeResult<MotionTable> Codec<MotionTable>::read(ByteCursor& c) {
  MotionTable t;
  uint32_t num_style_defaults = 0;
  uint32_t num_cycles = 0;
  uint32_t num_modifiers = 0;
  uint32_t num_links = 0;
  Record r(c, "MotionTable");
  r.field("id", t.id)
      .field("default_style", t.default_style)
      .field("num_style_defaults", num_style_defaults)
      .field_with("style_defaults",
                  [&](ByteCursor& in) { return read_map<uint32_t, uint32_t>(in, num_style_defaults, t.style_defaults); })
      .field("num_cycles", num_cycles)
      .field_with("cycles", [&](ByteCursor& in) { return read_map<uint32_t, MotionEntry>(in, num_cycles, t.cycles); })
      .field("num_modifiers", num_modifiers)
      .field_with("modifiers",
                  [&](ByteCursor& in) { return read_map<uint32_t, MotionEntry>(in, num_modifiers, t.modifiers); })
      .field("num_links", num_links)
      .field_with("links", [&](ByteCursor& in) { return read_links(in, num_links, t.links); });
  return r.done(std::move(t));
}

DecodeResult<MotionTable> MotionTable::unpack(ByteView data) {
  ByteCursor c(data);
  return decode<MotionTable>(c);
}

}  // namespace kdr
