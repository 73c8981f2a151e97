// Motion table record bytes through the decoder and, when they decode, through
// the builder and the cycle derivation: the rebuilt bytes decode and rebuild to
// the same bytes, and derivation over no animations fails cleanly or succeeds.
#include <cstdlib>
#include <unordered_map>
#include <unordered_set>

#include "kelvadorin/dat/file_type/motion_table.hpp"
#include "kelvadorin/testing/motion_builder.hpp"
#include "kelvadorin/tools/kinematics_derivation.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto table = kdr::MotionTable::unpack(kdr::ByteView(reinterpret_cast<const std::byte*>(data), size));
  if (!table) {
    (void)table.error().description();
    return 0;
  }
  // Bytes, not values, are compared: NaN components never equal themselves.
  const kdr::Bytes built = kdr::testing::build_motion_table(*table);
  auto again = kdr::MotionTable::unpack(built);
  if (!again || kdr::testing::build_motion_table(*again) != built) std::abort();

  std::unordered_set<uint32_t> ids;
  kdr::collect_referenced_animation_ids(*table, ids);
  const std::unordered_map<uint32_t, kdr::Animation> none;
  auto derived = kdr::derive_motion_kinematics_from_parsed_portal_assets({*table}, {}, none);
  // With no animations at hand, derivation fails exactly when some are needed.
  if (derived.has_value() != ids.empty()) std::abort();
  return 0;
}
