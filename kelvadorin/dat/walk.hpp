// Readers used by the resource walk over model records.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "kelvadorin/dat/coding.hpp"
#include "kelvadorin/dat/resource_namespace.hpp"

namespace kdr {

// The surface ids of a graphics object record: a packed count at offset 8
// (1, 2 or 4 bytes) and that many u32 ids right after it. Absent when the
// bytes are too short for the count or for the ids it announces; an empty
// list is a valid result.
std::optional<std::vector<uint32_t>> read_gfx_obj_surfaces(ByteView bytes);

// (namespace label, file id): the element of the walk's visited set and of
// the boot keep set.
using WalkKey = std::pair<std::string, uint32_t>;

struct WalkKeyHash {
  size_t operator()(const WalkKey& k) const noexcept {
    size_t h = std::hash<std::string>{}(k.first);
    return h ^ (std::hash<uint32_t>{}(k.second) + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2));
  }
};

using VisitedSet = std::unordered_set<WalkKey, WalkKeyHash>;

// Parts below this depth are not walked: the root is depth 0 and a setup met
// at this depth is decoded but its parts are not followed.
inline constexpr unsigned WALK_MAX_DEPTH = 4;

// Marks ("vuz/portal", model_id) and, when new, every portal resource needed
// to draw it: a setup's parts (recursively, depth + 1), a graphics object's
// surfaces, their surface textures, the last texture of each and the palettes
// named. Never fails: a missing or undecodable record ends only its branch,
// and a key is marked before it is fetched. Keys already in `visited` are
// neither fetched nor followed.
void walk_model(const ResourceSource& source, uint32_t model_id, VisitedSet& visited, unsigned depth);

}  // namespace kdr
