// Fixed-width little-endian coding. Every multi-byte value that the library
// reads or writes goes through these helpers.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

namespace kdr {

using Bytes = std::vector<std::byte>;
using ByteView = std::span<const std::byte>;

template <class T>
concept FixedWidth = std::is_arithmetic_v<T> && !std::is_same_v<T, bool>;

template <FixedWidth T>
T load_le(const std::byte* p) {
  using U = std::make_unsigned_t<std::conditional_t<std::is_floating_point_v<T>,
                                                    std::conditional_t<sizeof(T) == 4, int32_t, int64_t>, T>>;
  U u = 0;
  for (size_t i = 0; i < sizeof(T); ++i) u |= static_cast<U>(std::to_integer<uint8_t>(p[i])) << (8 * i);
  return std::bit_cast<T>(u);
}

template <FixedWidth T>
void store_le(std::byte* p, T value) {
  using U = std::make_unsigned_t<std::conditional_t<std::is_floating_point_v<T>,
                                                    std::conditional_t<sizeof(T) == 4, int32_t, int64_t>, T>>;
  U u = std::bit_cast<U>(value);
  for (size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<std::byte>((u >> (8 * i)) & 0xFF);
}

template <FixedWidth T>
void append_le(Bytes& out, T value) {
  size_t at = out.size();
  out.resize(at + sizeof(T));
  store_le<T>(out.data() + at, value);
}

inline ByteView as_bytes(std::string_view s) {
  return {reinterpret_cast<const std::byte*>(s.data()), s.size()};
}
inline std::string_view as_chars(ByteView b) {
  return {reinterpret_cast<const char*>(b.data()), b.size()};
}
inline Bytes to_bytes(std::string_view s) {
  ByteView v = as_bytes(s);
  return Bytes(v.begin(), v.end());
}

}  // namespace kdr
