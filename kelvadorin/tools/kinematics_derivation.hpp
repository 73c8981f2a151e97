// Derives the motion kinematics asset of a conversion from the parsed
// setups, motion tables and animations, and stores it in the archive's core
// namespace.
#pragma once

#include <cstdint>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "kelvadorin/dat/archive/writer.hpp"
#include "kelvadorin/dat/file_type/animation.hpp"
#include "kelvadorin/dat/file_type/motion_kinematics.hpp"
#include "kelvadorin/dat/file_type/motion_table.hpp"
#include "kelvadorin/dat/file_type/setup_model.hpp"
#include "kelvadorin/tools/error.hpp"

namespace kdr {

// Whether a cycle key selects forward motion: its low 16 bits are 5 or 7,
// whatever the style in its upper half.
constexpr bool is_forward_cycle(uint32_t cycle_key) { return ((cycle_key | 2u) & 0xFFFFu) == 7u; }

// Adds to `ids` the animation ids whose position frames derivation reads for
// this table: those of forward cycles without an explicit velocity.
void collect_referenced_animation_ids(const MotionTable& table, std::unordered_set<uint32_t>& ids);

// The kinematics of one cycle. Omega and an explicit velocity are copied; a
// forward cycle without one gets (speed, 0, 0) from its animations' position
// frames. Fails with AssetDerivation when a needed animation is missing.
ToolResult<MotionCommandKinematics> derive_motion_command_kinematics(
    uint32_t cycle_key, const MotionEntry& entry, const std::unordered_map<uint32_t, Animation>& animations);

// The whole asset: every setup's default motion table and every motion
// table's default style and cycles. The first failing cycle, in ascending key
// order within list order, ends the derivation.
ToolResult<MotionKinematics> derive_motion_kinematics_from_parsed_portal_assets(
    std::vector<MotionTable> motion_tables, std::vector<SetupModel> setups,
    const std::unordered_map<uint32_t, Animation>& animations);

// Adds the serialised asset as (CORE_NAMESPACE, MotionKinematics::FILE_ID,
// MotionKinematics::TYPE_ID); a refused add becomes KdrWrite labelled with
// `archive_path`.
ToolResult<void> write_motion_kinematics_asset(const MotionKinematics& asset, KdrStreamWriter& writer,
                                               const std::filesystem::path& archive_path);

}  // namespace kdr
