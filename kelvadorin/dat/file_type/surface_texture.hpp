// A surface texture: the list of textures a textured surface draws with.
#pragma once

#include <cstdint>
#include <vector>

#include "kelvadorin/dat/coding.hpp"
#include "kelvadorin/dat/error.hpp"

namespace kdr {

struct SurfaceTexture {
  uint32_t id = 0;           // the record's own file id
  uint32_t unknown_int = 0;  // kept bit-exactly
  uint8_t unknown_byte = 0;
  std::vector<uint32_t> textures;  // texture file ids, in file order

  // Decodes from byte 0; bytes after the last texture id are ignored. The
  // signed count at offset 9 is part of the `textures` field.
  static DecodeResult<SurfaceTexture> unpack(ByteView bytes);

  friend bool operator==(const SurfaceTexture&, const SurfaceTexture&) = default;
};

}  // namespace kdr
