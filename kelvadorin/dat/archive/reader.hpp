// KdrReader: opens an archive, validates header and namespace metadata once,
// then finds resources by (namespace, file id) with a binary search over the
// on-disk index: one positioned 60-byte read per probe, no index cache.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "kelvadorin/dat/archive/format.hpp"
#include "kelvadorin/dat/utils.hpp"

namespace kdr {

class KdrReader {
 public:
  static Result<KdrReader> open(const std::filesystem::path& path);
  static Result<KdrReader> from_source(std::unique_ptr<ByteSource> source);

  Result<KdrEntry> find_entry_in_namespace(std::string_view namespace_label, uint32_t file_id) const;
  Result<Bytes> get_file_in_namespace(std::string_view namespace_label, uint32_t file_id) const;
  // Reads one entry's payload and decodes it when stored compressed.
  Result<Bytes> read_entry_data(const KdrEntry& entry) const;
  // Decodes zstd data into at most `capacity` bytes; nullopt on any failure.
  static std::optional<Bytes> decompress_zstd(ByteView payload, size_t capacity);

  const KdrHeader& header() const { return header_; }
  const std::vector<KdrNamespaceIndexEntry>& namespaces() const { return spans_; }
  uint64_t file_length() const { return file_length_; }

  // Walks the index records in order, reading them in large sequential
  // chunks. Used by listing and verification; lookups never need it.
  class EntryIterator {
   public:
    // The next record, nullopt after the last, or the read failure.
    Result<std::optional<KdrEntry>> next();
    // Index position of the record the next call returns.
    uint64_t position() const { return next_; }

   private:
    friend class KdrReader;
    EntryIterator(const KdrReader& reader, uint64_t begin, uint64_t end)
        : reader_(&reader), next_(begin), end_(end) {}
    const KdrReader* reader_;
    uint64_t next_;
    uint64_t end_;
    Bytes chunk_;
    uint64_t chunk_first_ = 0;
    uint64_t chunk_count_ = 0;
  };
  EntryIterator entries() const { return EntryIterator(*this, 0, header_.entry_count); }
  // The records of one namespace span only.
  EntryIterator entries(const KdrNamespaceIndexEntry& span) const {
    return EntryIterator(*this, span.start_index, uint64_t{span.start_index} + span.entry_count);
  }

 private:
  KdrReader() = default;
  Result<KdrEntry> read_index_record(uint64_t index) const;

  KdrHeader header_;
  std::vector<KdrNamespaceIndexEntry> spans_;
  uint64_t file_length_ = 0;
  std::unique_ptr<ByteSource> source_;
};

}  // namespace kdr
