// Record builders for landblock info records: values in, exact bytes out.
// Counts are the sizes of the lists they precede, truncated to their width.
#pragma once

#include <cstdint>

#include "kelvadorin/dat/coding.hpp"
#include "kelvadorin/dat/landblock.hpp"

namespace kdr::testing {

Bytes build_landblock_frame(const landblock::Frame& frame);
Bytes build_stab(const Stab& stab);
// The four u16 fields, the stab list, and `padding` after an odd number of stabs.
Bytes build_portal(const PortalInternal& portal, uint16_t padding = 0);
Bytes build_building(const BuildInfo& building);
// count, `bucket_size`, then the pairs in ascending key order.
Bytes build_restriction_table(const RestrictionTable& table, uint16_t bucket_size = 0);
// The restriction table is written when present, whatever pack_mask says, so
// callers can also state records that disagree with their mask.
Bytes build_landblock_info(const LandblockInfo& info);

}  // namespace kdr::testing
