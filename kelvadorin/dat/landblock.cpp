#include "kelvadorin/dat/landblock.hpp"

namespace kdr {

DecodeResult<Stab> Codec<Stab>::read(ByteCursor& c) {
  Stab s;
  Record r(c, "Stab");
  r.field("id", s.id).field("frame", s.frame);
  return r.done(s);
}

DecodeResult<PortalInternal> Codec<PortalInternal>::read(ByteCursor& c) {
  PortalInternal p;
  uint16_t num_stabs = 0;
  Record r(c, "PortalInternal");
  r.field("flags", p.flags)
      .field("other_cell_id", p.other_cell_id)
      .field("other_portal_id", p.other_portal_id)
      .field("num_stabs", num_stabs);
  r.list("stab_list", num_stabs, p.stab_list);
  // Skipped, not read: a last portal may end without its padding.
  if (r.ok() && num_stabs % 2 != 0) r.cursor().skip(2);
  return r.done(std::move(p));
}

DecodeResult<BuildInfo> Codec<BuildInfo>::read(ByteCursor& c) {
  BuildInfo b;
  uint32_t num_portals = 0;
  Record r(c, "BuildInfo");
  r.field("model_id", b.model_id)
      .field("frame", b.frame)
      .field("num_leaves", b.num_leaves)
      .field("num_portals", num_portals);
  r.list("portals", num_portals, b.portals);
  return r.done(std::move(b));
}

DecodeResult<RestrictionTable> Codec<RestrictionTable>::read(ByteCursor& c) {
  RestrictionTable t;
  uint16_t count = 0;
  uint16_t bucket_size = 0;  // read and discarded
  Record r(c, "RestrictionTable");
  r.field("count", count).field("_bucket_size", bucket_size);
  r.field_with("tables", [&](ByteCursor& cur) { return read_map<uint32_t, uint32_t>(cur, count, t.tables); });
  return r.done(std::move(t));
}

DecodeResult<LandblockInfo> Codec<LandblockInfo>::read(ByteCursor& c) {
  LandblockInfo info;
  uint32_t num_objects = 0;
  uint16_t num_buildings = 0;
  Record r(c, "LandblockInfo");
  r.field("id", info.id).field("num_cells", info.num_cells).field("num_objects", num_objects);
  r.list("objects", num_objects, info.objects);
  r.field("num_buildings", num_buildings).field("pack_mask", info.pack_mask);
  r.list("buildings", num_buildings, info.buildings);
  r.optional_field("restriction_tables", (info.pack_mask & LandblockInfo::HAS_RESTRICTION_TABLE) != 0,
                   info.restriction_tables);
  return r.done(std::move(info));
}

Result<LandblockInfo> LandblockInfo::unpack(ByteView bytes) {
  ByteCursor c(bytes);
  auto info = Codec<LandblockInfo>::read(c);
  if (!info) return std::unexpected(DatError(std::move(info).error()));
  return std::move(*info);
}

}  // namespace kdr
