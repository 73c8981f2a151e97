// Texture::unpack on arbitrary bytes: never crashes, the data run matches the
// stored length, and the palette id follows the format.
#include <cstdlib>

#include "kelvadorin/dat/file_type/texture.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kdr::ByteView bytes(reinterpret_cast<const std::byte*>(data), size);
  auto t = kdr::Texture::unpack(bytes);
  if (t) {
    if (t->length < 0 || t->source_data.size() != static_cast<size_t>(t->length)) std::abort();
    if (t->default_palette_id.has_value() != kdr::Texture::has_default_palette(t->format_raw)) std::abort();
    if (24 + t->source_data.size() > size) std::abort();
  } else if (!t.error().is<kdr::DatError::BinRead>()) {
    std::abort();
  }
  return 0;
}
