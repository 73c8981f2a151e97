// Namespace labels, resource keys and the source seam through which tools
// hand resource bytes to the library.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

#include "kelvadorin/dat/coding.hpp"
#include "kelvadorin/dat/error.hpp"

namespace kdr {

inline constexpr std::string_view VUZ_PORTAL_NAMESPACE = "vuz/portal";
inline constexpr std::string_view VUZ_CELL_NAMESPACE = "vuz/cell";
inline constexpr std::string_view CORE_NAMESPACE = "kelvadorin/core";

// A label of 1 to 32 bytes of UTF-8 without zero bytes, zero-padded to 32.
// Ordered byte-wise over the 32 bytes, which is the label texts' byte order.
class ResourceNamespace {
 public:
  static constexpr size_t kSize = 32;
  using Array = std::array<std::byte, kSize>;

  // Validates a label given as text.
  static Result<ResourceNamespace> create(std::string_view label);
  // Validates a stored array, as read from an archive.
  static Result<ResourceNamespace> from_bytes(const Array& bytes);

  const Array& bytes() const { return bytes_; }
  // The bytes up to the first zero byte (all 32 when there is none).
  std::string_view label() const;

  friend bool operator==(const ResourceNamespace&, const ResourceNamespace&) = default;
  friend std::strong_ordering operator<=>(const ResourceNamespace& a, const ResourceNamespace& b);

 private:
  explicit ResourceNamespace(const Array& bytes) : bytes_(bytes) {}
  Array bytes_{};
};

// The address of one resource as handed to a ResourceSource; the label is
// borrowed and not validated.
struct ResourceKey {
  std::string_view namespace_;
  uint32_t file_id = 0;
};

// An abstract supplier of resource bytes. A key the source does not hold is
// an error, never an empty result.
class ResourceSource {
 public:
  virtual ~ResourceSource() = default;
  virtual Result<Bytes> get_file_by_key(const ResourceKey& key) const = 0;
};

// "" when `bytes` is valid UTF-8, else the validator's description:
// "invalid utf-8 sequence of {n} bytes from index {i}" or
// "incomplete utf-8 byte sequence from index {i}".
std::string utf8_error(std::string_view bytes);

}  // namespace kdr

template <>
struct std::hash<kdr::ResourceNamespace> {
  size_t operator()(const kdr::ResourceNamespace& ns) const noexcept {
    return std::hash<std::string_view>{}(ns.label());
  }
};
