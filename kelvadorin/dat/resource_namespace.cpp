#include "kelvadorin/dat/resource_namespace.hpp"

#include <algorithm>
#include <cstring>

namespace kdr {

Result<ResourceNamespace> ResourceNamespace::create(std::string_view label) {
  if (label.empty()) return std::unexpected(DatError::invalid_namespace("namespace label cannot be empty"));
  if (label.size() > kSize)
    return std::unexpected(
        DatError::invalid_namespace(fmt::format("namespace label '{}' exceeds {} bytes", label, kSize)));
  if (label.find('\0') != std::string_view::npos)
    return std::unexpected(DatError::invalid_namespace(fmt::format("namespace label '{}' contains a NUL byte", label)));
  Array bytes{};
  std::memcpy(bytes.data(), label.data(), label.size());
  return ResourceNamespace(bytes);
}

Result<ResourceNamespace> ResourceNamespace::from_bytes(const Array& bytes) {
  auto zero = std::find(bytes.begin(), bytes.end(), std::byte{0});
  if (zero != bytes.end()) {
    if (std::any_of(zero, bytes.end(), [](std::byte b) { return b != std::byte{0}; }))
      return std::unexpected(
          DatError::invalid_namespace("namespace bytes must be zero-padded without embedded trailing data"));
    if (zero == bytes.begin()) return std::unexpected(DatError::invalid_namespace("namespace label cannot be empty"));
  }
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), static_cast<size_t>(zero - bytes.begin()));
  if (std::string detail = utf8_error(text); !detail.empty())
    return std::unexpected(DatError::invalid_namespace(fmt::format("namespace bytes are not valid UTF-8: {}", detail)));
  return ResourceNamespace(bytes);
}

std::string_view ResourceNamespace::label() const {
  auto zero = std::find(bytes_.begin(), bytes_.end(), std::byte{0});
  return {reinterpret_cast<const char*>(bytes_.data()), static_cast<size_t>(zero - bytes_.begin())};
}

std::strong_ordering operator<=>(const ResourceNamespace& a, const ResourceNamespace& b) {
  int c = std::memcmp(a.bytes_.data(), b.bytes_.data(), ResourceNamespace::kSize);
  return c < 0 ? std::strong_ordering::less : c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal;
}

std::string utf8_error(std::string_view s) {
  size_t i = 0;
  const size_t n = s.size();
  auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  while (i < n) {
    unsigned char c = at(i);
    if (c < 0x80) {
      ++i;
      continue;
    }
    // Width of the sequence and the allowed range of its second byte.
    size_t width = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      width = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      width = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      width = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      return fmt::format("invalid utf-8 sequence of 1 bytes from index {}", i);
    }
    // Count the valid prefix; a sequence cut by the end of input is incomplete.
    size_t good = 1;
    for (size_t k = 1; k < width; ++k) {
      if (i + k >= n) return fmt::format("incomplete utf-8 byte sequence from index {}", i);
      unsigned char b = at(i + k);
      bool ok = k == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
      if (!ok) return fmt::format("invalid utf-8 sequence of {} bytes from index {}", good, i);
      ++good;
    }
    i += width;
  }
  return {};
}

}  // namespace kdr
