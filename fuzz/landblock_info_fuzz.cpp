// Landblock info bytes through the decoder. A record that decodes must survive
// build -> decode -> build unchanged (the builder sorts the table's keys).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "kelvadorin/dat/landblock.hpp"
#include "kelvadorin/testing/landblock_builder.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto info = kdr::LandblockInfo::unpack(kdr::ByteView(reinterpret_cast<const std::byte*>(data), size));
  if (!info) {
    if (!info.error().is<kdr::DatError::BinRead>()) std::abort();
    (void)info.error().display();
    return 0;
  }
  kdr::Bytes first = kdr::testing::build_landblock_info(*info);
  auto redecoded = kdr::LandblockInfo::unpack(first);
  if (!redecoded) std::abort();
  if (kdr::testing::build_landblock_info(*redecoded) != first) std::abort();
  return 0;
}
