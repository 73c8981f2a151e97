#include "kelvadorin/tools/kinematics_derivation.hpp"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "kelvadorin/dat/resource_namespace.hpp"
#include "kelvadorin/dat/utils.hpp"

namespace kdr {

namespace {

std::vector<uint32_t> sorted_cycle_keys(const MotionEntryMap& cycles) {
  std::vector<uint32_t> keys;
  keys.reserve(cycles.size());
  for (const auto& [key, entry] : cycles) keys.push_back(key);
  std::sort(keys.begin(), keys.end());
  return keys;
}

bool derives_from_position_frames(uint32_t cycle_key, const MotionEntry& entry) {
  return is_forward_cycle(cycle_key) && !entry.velocity && !entry.animations.empty();
}

}  // namespace

void collect_referenced_animation_ids(const MotionTable& table, std::unordered_set<uint32_t>& ids) {
  for (uint32_t key : sorted_cycle_keys(table.cycles)) {
    const MotionEntry& entry = table.cycles.at(key);
    if (!derives_from_position_frames(key, entry)) continue;
    for (const AnimationRef& ref : entry.animations) ids.insert(ref.animation_id);
  }
}

ToolResult<MotionCommandKinematics> derive_motion_command_kinematics(
    uint32_t cycle_key, const MotionEntry& entry, const std::unordered_map<uint32_t, Animation>& animations) {
  MotionCommandKinematics out;
  out.omega = entry.omega;
  if (entry.velocity) {
    out.velocity = entry.velocity;
    return out;
  }
  if (!derives_from_position_frames(cycle_key, entry)) return out;

  // Single precision throughout, one operation per statement, so the result
  // is the same bit pattern on every target.
  float sx = 0.0f;
  float sy = 0.0f;
  float sz = 0.0f;
  uint64_t num_frames = 0;
  for (const AnimationRef& ref : entry.animations) {
    auto it = animations.find(ref.animation_id);
    if (it == animations.end())
      return std::unexpected(ToolError::asset_derivation(
          fmt::format("missing animation 0x{} while deriving motion kinematics", hex_id(ref.animation_id))));
    for (const graphics::Frame& frame : it->second.pos_frames) {
      sx += frame.origin.x;
      sy += frame.origin.y;
      sz += frame.origin.z;
    }
    num_frames += it->second.pos_frames.size();
  }
  if (num_frames == 0) return out;

  const float xx = sx * sx;
  const float yy = sy * sy;
  const float zz = sz * sz;
  const float xy = xx + yy;
  const float m = xy + zz;
  float speed = 0.0f;
  if (m != 0.0f) {
    const float length = std::sqrt(m);
    const float per_frame = length / static_cast<float>(num_frames);
    // The first reference's rate, whatever the later ones say.
    speed = per_frame * entry.animations.front().framerate;
  }
  out.velocity = Vector3{speed, 0.0f, 0.0f};
  return out;
}

ToolResult<MotionKinematics> derive_motion_kinematics_from_parsed_portal_assets(
    std::vector<MotionTable> motion_tables, std::vector<SetupModel> setups,
    const std::unordered_map<uint32_t, Animation>& animations) {
  MotionKinematics asset = MotionKinematics::create();
  for (const SetupModel& setup : setups)
    if (setup.default_motion_table) asset.setup_defaults.insert_or_assign(setup.id, *setup.default_motion_table);

  for (const MotionTable& table : motion_tables) {
    MotionKinematicsTable kinematics = MotionKinematicsTable::create(table.id, table.default_style);
    for (uint32_t key : sorted_cycle_keys(table.cycles)) {
      KDR_ASSIGN_OR_RETURN(MotionCommandKinematics cycle,
                           derive_motion_command_kinematics(key, table.cycles.at(key), animations));
      kinematics.cycles.insert_or_assign(key, std::move(cycle));
    }
    asset.tables.insert_or_assign(table.id, std::move(kinematics));
  }
  return asset;
}

ToolResult<void> write_motion_kinematics_asset(const MotionKinematics& asset, KdrStreamWriter& writer,
                                               const std::filesystem::path& archive_path) {
  MemorySink sink;
  if (auto written = asset.write(sink); !written)
    return std::unexpected(ToolError::asset_derivation(
        fmt::format("failed to serialize motion kinematics asset: {}", written.error().description())));
  if (auto added = writer.add(CORE_NAMESPACE, MotionKinematics::FILE_ID, MotionKinematics::TYPE_ID, sink.take());
      !added)
    return std::unexpected(ToolError::KdrWrite{archive_path, added.error().display()});
  return {};
}

}  // namespace kdr
