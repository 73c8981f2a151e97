// In-memory archives for tests: resources in, finished archive bytes out,
// written through the real writer.
#pragma once

#include <string>
#include <vector>

#include "kelvadorin/dat/archive/reader.hpp"
#include "kelvadorin/dat/archive/writer.hpp"

namespace kdr::testing {

struct Resource {
  std::string namespace_label;
  uint32_t file_id = 0;
  uint32_t type_id = 0;
  Bytes data;
};

// Aborts the test program on a writer failure: inputs here are always valid.
Bytes build_archive(const std::vector<Resource>& resources, bool compress = true);
Result<KdrReader> open_archive_bytes(Bytes archive);

}  // namespace kdr::testing
