// A surface of a graphics object: a plain colour, or references to a surface
// texture and an optional palette.
#pragma once

#include <cstdint>
#include <optional>

#include "kelvadorin/dat/record.hpp"

namespace kdr {

struct TextureRefs {
  uint32_t orig_texture_id = 0;  // file id of a SurfaceTexture record
  uint32_t orig_palette_id = 0;  // file id of a palette record; 0 means none
  friend bool operator==(const TextureRefs&, const TextureRefs&) = default;
};

template <>
struct Codec<TextureRefs> {
  static constexpr uint64_t kMinSize = 8;
  static DecodeResult<TextureRefs> read(ByteCursor& c) {
    TextureRefs t;
    Record r(c, "TextureRefs");
    r.field("orig_texture_id", t.orig_texture_id).field("orig_palette_id", t.orig_palette_id);
    return r.done(t);
  }
};

// Exactly one of texture_refs and color_value is present in a decoded surface;
// surface_type decides which. The 32-bit values are kept bit-exactly.
struct Surface {
  // Either bit in surface_type makes the surface textured.
  static constexpr uint32_t TEXTURED_MASK = 0x6;

  uint32_t surface_type = 0;
  std::optional<TextureRefs> texture_refs;
  std::optional<uint32_t> color_value;
  uint32_t translucency = 0;
  uint32_t luminosity = 0;
  uint32_t diffuse = 0;

  static bool is_textured_type(uint32_t surface_type) { return (surface_type & TEXTURED_MASK) != 0; }

  // Decodes from byte 0; bytes after `diffuse` are ignored.
  static DecodeResult<Surface> unpack(ByteView bytes);

  friend bool operator==(const Surface&, const Surface&) = default;
};

}  // namespace kdr
