// Surface::unpack on arbitrary bytes: never crashes, and a decoded surface has
// exactly the half its type bits choose.
#include <cstdlib>

#include "kelvadorin/dat/file_type/surface.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kdr::ByteView bytes(reinterpret_cast<const std::byte*>(data), size);
  auto s = kdr::Surface::unpack(bytes);
  if (s) {
    bool textured = kdr::Surface::is_textured_type(s->surface_type);
    if (s->texture_refs.has_value() != textured || s->color_value.has_value() == textured) std::abort();
    if (size < (textured ? 24u : 20u)) std::abort();
  }
  return 0;
}
