#include "kelvadorin/testing/landblock_builder.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include "kelvadorin/testing/byte_writer.hpp"

namespace kdr::testing {

Bytes build_landblock_frame(const landblock::Frame& frame) {
  return ByteWriter().vec3(frame.origin).quat(frame.orientation).take();
}

Bytes build_stab(const Stab& stab) { return ByteWriter().u32(stab.id).bytes(build_landblock_frame(stab.frame)).take(); }

Bytes build_portal(const PortalInternal& portal, uint16_t padding) {
  ByteWriter w;
  w.u16(portal.flags)
      .u16(portal.other_cell_id)
      .u16(portal.other_portal_id)
      .u16(static_cast<uint16_t>(portal.stab_list.size()));
  for (uint16_t stab : portal.stab_list) w.u16(stab);
  if (portal.stab_list.size() % 2 != 0) w.u16(padding);
  return w.take();
}

Bytes build_building(const BuildInfo& building) {
  ByteWriter w;
  w.u32(building.model_id)
      .bytes(build_landblock_frame(building.frame))
      .u32(building.num_leaves)
      .u32(static_cast<uint32_t>(building.portals.size()));
  for (const PortalInternal& p : building.portals) w.bytes(build_portal(p));
  return w.take();
}

Bytes build_restriction_table(const RestrictionTable& table, uint16_t bucket_size) {
  std::vector<std::pair<uint32_t, uint32_t>> pairs(table.tables.begin(), table.tables.end());
  std::sort(pairs.begin(), pairs.end());
  ByteWriter w;
  w.u16(static_cast<uint16_t>(pairs.size())).u16(bucket_size);
  for (const auto& [key, value] : pairs) w.u32(key).u32(value);
  return w.take();
}

Bytes build_landblock_info(const LandblockInfo& info) {
  ByteWriter w;
  w.u32(info.id).u32(info.num_cells).u32(static_cast<uint32_t>(info.objects.size()));
  for (const Stab& s : info.objects) w.bytes(build_stab(s));
  w.u16(static_cast<uint16_t>(info.buildings.size())).u16(info.pack_mask);
  for (const BuildInfo& b : info.buildings) w.bytes(build_building(b));
  if (info.restriction_tables) w.bytes(build_restriction_table(*info.restriction_tables));
  return w.take();
}

}  // namespace kdr::testing
