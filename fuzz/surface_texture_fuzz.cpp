// SurfaceTexture::unpack on arbitrary bytes: never crashes, and a decoded list
// fits in the input.
#include <cstdlib>

#include "kelvadorin/dat/file_type/surface_texture.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kdr::ByteView bytes(reinterpret_cast<const std::byte*>(data), size);
  auto st = kdr::SurfaceTexture::unpack(bytes);
  if (st && 13 + 4 * st->textures.size() > size) std::abort();
  return 0;
}
