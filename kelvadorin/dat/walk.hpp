// Readers used by the resource walk over model records.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "kelvadorin/dat/coding.hpp"

namespace kdr {

// The surface ids of a graphics object record: a packed count at offset 8
// (1, 2 or 4 bytes) and that many u32 ids right after it. Absent when the
// bytes are too short for the count or for the ids it announces; an empty
// list is a valid result.
std::optional<std::vector<uint32_t>> read_gfx_obj_surfaces(ByteView bytes);

}  // namespace kdr
