// The KDR byte format: a 24-byte header, the payloads back to back, the
// namespace metadata block, then the index of 60-byte entries sorted by
// (namespace, file id). All integers little-endian, no padding.
#pragma once

#include <array>
#include <cstdint>

#include "kelvadorin/dat/record.hpp"
#include "kelvadorin/dat/resource_namespace.hpp"

namespace kdr {

inline constexpr std::array<std::byte, 4> KDR_MAGIC = {std::byte{'K'}, std::byte{'D'}, std::byte{'R'}, std::byte{0}};
inline constexpr uint32_t KDR_VERSION = 2;
inline constexpr uint64_t KDR_HEADER_SIZE = 24;
inline constexpr uint64_t KDR_ENTRY_SIZE = 60;
inline constexpr uint64_t KDR_NAMESPACE_ENTRY_SIZE = 40;
inline constexpr uint8_t FLAG_ZSTD = 0x01;
// 60 × entry_count must fit in a uint32.
inline constexpr uint32_t KDR_MAX_ENTRIES = 71'582'788;

struct KdrHeader {
  std::array<std::byte, 4> magic = KDR_MAGIC;
  uint32_t version = KDR_VERSION;
  uint32_t entry_count = 0;
  uint64_t index_offset = 0;
  uint32_t metadata_size = 0;
};

struct KdrEntry {
  ResourceNamespace::Array namespace_{};
  uint32_t file_id = 0;
  uint32_t type_id = 0;
  uint64_t offset = 0;
  uint32_t size = 0;
  uint32_t comp_size = 0;
  uint8_t flags = 0;
  uint8_t storage_id = 0;
  uint16_t reserved = 0;

  bool is_zstd() const { return (flags & FLAG_ZSTD) != 0; }
  // Label text of the stored namespace bytes (up to the first zero byte).
  std::string_view namespace_label() const;
  friend bool operator==(const KdrEntry&, const KdrEntry&) = default;
};

struct KdrNamespaceIndexEntry {
  ResourceNamespace::Array namespace_{};
  uint32_t start_index = 0;
  uint32_t entry_count = 0;
  std::string_view namespace_label() const;
  friend bool operator==(const KdrNamespaceIndexEntry&, const KdrNamespaceIndexEntry&) = default;
};

// Fixed-size encodings of the three records, in the field order above.
std::array<std::byte, KDR_HEADER_SIZE> encode_header(const KdrHeader& h);
std::array<std::byte, KDR_ENTRY_SIZE> encode_entry(const KdrEntry& e);
std::array<std::byte, KDR_NAMESPACE_ENTRY_SIZE> encode_namespace_entry(const KdrNamespaceIndexEntry& e);

template <>
struct Codec<KdrHeader> {
  static constexpr uint64_t kMinSize = KDR_HEADER_SIZE;
  static DecodeResult<KdrHeader> read(ByteCursor& c) {
    KdrHeader h;
    Record r(c, "KdrHeader");
    r.field("magic", h.magic)
        .field("version", h.version)
        .field("entry_count", h.entry_count)
        .field("index_offset", h.index_offset)
        .field("metadata_size", h.metadata_size);
    return r.done(h);
  }
};

template <>
struct Codec<KdrEntry> {
  static constexpr uint64_t kMinSize = KDR_ENTRY_SIZE;
  static DecodeResult<KdrEntry> read(ByteCursor& c) {
    KdrEntry e;
    Record r(c, "KdrEntry");
    r.field("namespace", e.namespace_)
        .field("file_id", e.file_id)
        .field("type_id", e.type_id)
        .field("offset", e.offset)
        .field("size", e.size)
        .field("comp_size", e.comp_size)
        .field("flags", e.flags)
        .field("storage_id", e.storage_id)
        .field("reserved", e.reserved);
    return r.done(e);
  }
};

template <>
struct Codec<KdrNamespaceIndexEntry> {
  static constexpr uint64_t kMinSize = KDR_NAMESPACE_ENTRY_SIZE;
  static DecodeResult<KdrNamespaceIndexEntry> read(ByteCursor& c) {
    KdrNamespaceIndexEntry e;
    Record r(c, "KdrNamespaceIndexEntry");
    r.field("namespace", e.namespace_).field("start_index", e.start_index).field("entry_count", e.entry_count);
    return r.done(e);
  }
};

}  // namespace kdr
