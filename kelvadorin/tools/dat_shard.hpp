// The boot shard tool module: which resources a client needs to start at a
// spawn landblock, and the shard archive that holds them.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kelvadorin/dat/archive/reader.hpp"
#include "kelvadorin/dat/coding.hpp"
#include "kelvadorin/dat/file_type/spell_table.hpp"
#include "kelvadorin/dat/file_type/table_ids.hpp"
#include "kelvadorin/dat/file_type/motion_kinematics.hpp"
#include "kelvadorin/dat/manifest.hpp"
#include "kelvadorin/dat/resource_namespace.hpp"
#include "kelvadorin/dat/walk.hpp"
#include "kelvadorin/tools/error.hpp"

namespace kdr {

// Parses a hexadecimal u32 with an optional single "0x"/"0X" prefix and an
// optional "+". The one parser of ids in the tools: its message is what a
// user sees for a bad id, e.g. invalid hex u32 "not-hex": invalid digit found in string.
std::expected<uint32_t, std::string> parse_hex_u32(std::string_view text);

inline constexpr uint32_t UI_FONT_ID = 0x40000000;
inline constexpr uint32_t UI_FONT_ATLAS_FG_ID = 0x06005EE5;
inline constexpr uint32_t UI_FONT_ATLAS_BG_ID = 0x06005EE6;

inline constexpr uint32_t DEFAULT_SPAWN_LANDBLOCK = 0xA9B4;
inline constexpr uint32_t MAX_LANDBLOCK_ID = 0xFFFF;
// Low halves of the two per-landblock cell records every shard keeps.
inline constexpr uint32_t LANDBLOCK_RECORD_LOW = 0xFFFF;
inline constexpr uint32_t LANDBLOCK_INFO_LOW = 0xFFFE;

// The portal records every keep set holds, in the order they are added.
inline constexpr std::array<uint32_t, 9> BOOT_PORTAL_ESSENTIALS = {
    CharGen::FILE_ID,   MICRO_TABLE_0E000007_ID,  SkillTable::FILE_ID, SpellTable::FILE_ID, XpTable::FILE_ID,
    MotionKinematics::FILE_ID, UI_FONT_ID, UI_FONT_ATLAS_FG_ID, UI_FONT_ATLAS_BG_ID};

// Record bytes keyed by (namespace label, file id), in byte-wise label order.
using Bundle = std::map<std::pair<std::string, uint32_t>, Bytes>;

// A ResourceSource over a bundle it borrows and never changes.
class BundleSource : public ResourceSource {
 public:
  explicit BundleSource(const Bundle& bundle) : bundle_(bundle) {}
  // A copy of the stored bytes, or DatError::Other
  // "BundleSource: missing {namespace}:0x{XXXXXXXX}".
  Result<Bytes> get_file_by_key(const ResourceKey& key) const override;

 private:
  const Bundle& bundle_;
};

// The keep set: the same key and set type as the walk's visited set.
using KeepSet = VisitedSet;

// The landblocks within one step of `spawn` on the 256 × 256 grid (no
// wrapping), ordered by first then second coordinate: 9, 6 on an edge, 4 in
// a corner.
std::vector<uint32_t> spawn_neighborhood_cells(uint32_t spawn);

// Whether the key belongs to the fixed part of the keep set: one of the nine
// portal essentials, or the 0xFFFF / 0xFFFE record of a neighbourhood
// landblock. Anything else is false.
bool is_boot_essential(std::string_view namespace_label, uint32_t file_id, uint32_t spawn);

// Essentials, the neighbourhood's two cell keys per landblock, and every
// portal resource walked from the objects and buildings of each decodable
// landblock info record. Never fails.
KeepSet compute_boot_keep_set(const Bundle& bundle, uint32_t spawn);
// The same over any source; the landblock info records are fetched through it.
KeepSet compute_boot_keep_set(const ResourceSource& source, uint32_t spawn);

// The keys in (namespace, file id) order.
std::vector<WalkKey> sorted_keys(const KeepSet& keys);

struct ShardSummary {
  uint32_t spawn = 0;
  std::vector<uint32_t> landblocks;  // the neighbourhood, in list order
  uint64_t keys_in_set = 0;
  uint64_t missing_keys = 0;  // keys of the set the input lacks
  std::map<std::string, uint64_t> entries_per_namespace;  // written, core entries included
  uint64_t entries_written = 0;
  uint64_t source_reads = 0;  // fetches made while computing the keep set
  uint64_t bytes_in = 0;      // input archive length
  uint64_t bytes_out = 0;     // shard archive length
};

// Writes the boot shard of `reader` at `spawn` to `out`, atomically: every key
// of the keep set the input holds (namespace, id, type id and bytes as in the
// input) and every entry of the core namespace, added in index order. With
// `keys_out`, also writes the whole keep set sorted, one
// "namespace 0x%08X present|missing" line each. A spawn above 0xFFFF is a
// Validation error.
ToolResult<ShardSummary> write_boot_shard(const KdrReader& reader, const std::filesystem::path& out, uint32_t spawn,
                                          std::optional<std::filesystem::path> keys_out = std::nullopt);

}  // namespace kdr
