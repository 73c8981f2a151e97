// A ResourceSource over an open archive: each fetch is one index lookup and
// one payload read, so a walk reads only the records it follows.
#pragma once

#include <cstdint>

#include "kelvadorin/dat/archive/reader.hpp"
#include "kelvadorin/dat/resource_namespace.hpp"

namespace kdr {

class KdrReaderSource : public ResourceSource {
 public:
  // Borrows the reader, which must outlive the source.
  explicit KdrReaderSource(const KdrReader& reader) : reader_(&reader) {}

  Result<Bytes> get_file_by_key(const ResourceKey& key) const override;

  // Fetches asked for so far, found or not.
  uint64_t reads() const { return reads_; }
  // Fetches that returned a resource.
  uint64_t hits() const { return hits_; }

 private:
  const KdrReader* reader_;
  // Counters only; the source hands out copies and never changes the archive.
  mutable uint64_t reads_ = 0;
  mutable uint64_t hits_ = 0;
};

}  // namespace kdr
