// KdrStreamWriter: creates an archive in one pass. Payloads go to the file as
// they are added; memory holds one index record and one key per resource.
// finish() sorts the index, writes metadata and index, and rewrites the header.
#pragma once

#include <filesystem>
#include <memory>
#include <unordered_set>
#include <vector>

#include "kelvadorin/dat/archive/format.hpp"
#include "kelvadorin/dat/utils.hpp"

namespace kdr {

class KdrStreamWriter {
 public:
  // Creates or truncates `path` (0666 before the umask) and writes the
  // placeholder header.
  static Result<KdrStreamWriter> create(const std::filesystem::path& path);
  // The same over any sink (tests inject failing sinks here).
  static Result<KdrStreamWriter> create(std::unique_ptr<ByteSink> sink);

  KdrStreamWriter(KdrStreamWriter&&) noexcept;
  KdrStreamWriter& operator=(KdrStreamWriter&&) noexcept;
  ~KdrStreamWriter();

  // Stores one resource: zstd level 3 when strictly shorter, else raw.
  // Invalid namespaces, duplicates and oversized resources are refused before
  // anything is written.
  Status add(std::string_view namespace_label, uint32_t file_id, uint32_t type_id, Bytes data);
  // add() with a producer marker (0..63) in bits 2 to 7 of the entry flags.
  Status write_entry(std::string_view namespace_label, uint32_t file_id, uint32_t type_id, Bytes data,
                     uint8_t marker);

  // Consumes the writer: metadata, index, final header, close.
  Status finish() &&;

  size_t entry_count() const { return entries_.size(); }

  // Whether payloads are offered to zstd; each add uses the value it finds.
  bool compress = true;

 private:
  struct Key {
    ResourceNamespace ns;
    uint32_t file_id;
    friend bool operator==(const Key&, const Key&) = default;
  };
  struct KeyHash {
    size_t operator()(const Key& k) const noexcept {
      return std::hash<ResourceNamespace>{}(k.ns) * 31 + std::hash<uint32_t>{}(k.file_id);
    }
  };
  struct Compressor;

  explicit KdrStreamWriter(std::unique_ptr<ByteSink> sink);

  std::unique_ptr<ByteSink> file_;
  // Payloads are small and many: they go out in large blocks, and the file
  // position is tracked here rather than asked of the file on every add.
  std::unique_ptr<BufferedSink> payloads_;
  uint64_t position_ = 0;
  std::vector<KdrEntry> entries_;
  std::unordered_set<Key, KeyHash> seen_;
  std::unique_ptr<Compressor> zstd_;
};

}  // namespace kdr
