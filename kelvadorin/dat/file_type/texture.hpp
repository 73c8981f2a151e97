// A texture: raw image data in some pixel format and, for the paletted
// formats, the id of its default palette.
#pragma once

#include <cstdint>
#include <optional>

#include "kelvadorin/dat/coding.hpp"
#include "kelvadorin/dat/error.hpp"

namespace kdr {

struct Texture {
  // Pixel format codes whose records end in a default palette id.
  static constexpr uint32_t FORMAT_PALETTED_41 = 41;
  static constexpr uint32_t FORMAT_PALETTED_101 = 101;

  uint32_t id = 0;        // the record's own file id
  uint32_t _unknown = 0;  // kept bit-exactly
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t format_raw = 0;
  int32_t length = 0;  // number of data bytes, as stored
  Bytes source_data;   // `length` raw bytes, not interpreted
  std::optional<uint32_t> default_palette_id;  // present for the paletted formats only

  static bool has_default_palette(uint32_t format_raw) {
    return format_raw == FORMAT_PALETTED_41 || format_raw == FORMAT_PALETTED_101;
  }

  // Decodes from byte 0; bytes after the last field are ignored. Every
  // failure is DatError::BinRead.
  static Result<Texture> unpack(ByteView bytes);

  friend bool operator==(const Texture&, const Texture&) = default;
};

}  // namespace kdr
