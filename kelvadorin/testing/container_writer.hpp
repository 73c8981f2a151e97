// Game container files for tests and the sample generator: records in,
// container bytes out, laid out as the container reader expects them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <utility>
#include <vector>

#include "kelvadorin/dat/coding.hpp"

namespace kdr::testing {

using ContainerRecord = std::pair<uint32_t, Bytes>;  // file id, bytes

struct ContainerLayout {
  uint32_t block_size = 1024;  // at least 8
  // Entries per directory node, 2 to 61; a small fill gives inner nodes with few records.
  size_t node_entries = 61;
  // Lay each chain's blocks out from the back, so that following a chain
  // never means reading on through the file.
  bool backward_chains = false;
  uint32_t data_set = 1;
  uint32_t data_subset = 1;
};

// Records are sorted by file id first; ids must be distinct. Blocks start at
// the first multiple of the block size past the header, the free list is
// empty, and the same input always gives the same bytes. Aborts on input
// the format cannot hold (a file past 4 GiB).
Bytes build_container(std::vector<ContainerRecord> records, const ContainerLayout& layout = {});
void write_container(const std::filesystem::path& path, std::vector<ContainerRecord> records,
                     const ContainerLayout& layout = {});

}  // namespace kdr::testing
