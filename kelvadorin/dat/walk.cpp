#include "kelvadorin/dat/walk.hpp"

namespace kdr {

namespace {

uint32_t byte_at(ByteView bytes, size_t i) { return std::to_integer<uint32_t>(bytes[i]); }

}  // namespace

std::optional<std::vector<uint32_t>> read_gfx_obj_surfaces(ByteView bytes) {
  constexpr size_t kCountAt = 8;
  if (bytes.size() < kCountAt + 1) return std::nullopt;
  uint32_t b = byte_at(bytes, kCountAt);
  uint64_t count = 0;
  size_t start = 0;
  if (b < 0x80) {
    count = b;
    start = kCountAt + 1;
  } else if ((b & 0x40) == 0) {
    if (bytes.size() < kCountAt + 2) return std::nullopt;
    count = ((b & 0x3F) << 8) | byte_at(bytes, kCountAt + 1);
    start = kCountAt + 2;
  } else {
    // High half: b and byte 9 (its low byte); low half: bytes 10-11 little-endian.
    if (bytes.size() < kCountAt + 4) return std::nullopt;
    count = ((b & 0x3F) << 24) | (byte_at(bytes, kCountAt + 1) << 16) | (byte_at(bytes, kCountAt + 3) << 8) |
            byte_at(bytes, kCountAt + 2);
    start = kCountAt + 4;
  }
  // Every announced id must be there before anything is allocated.
  if ((bytes.size() - start) / 4 < count) return std::nullopt;
  std::vector<uint32_t> ids(static_cast<size_t>(count));
  for (size_t i = 0; i < ids.size(); ++i) ids[i] = load_le<uint32_t>(bytes.data() + start + 4 * i);
  return ids;
}

}  // namespace kdr
