// read_gfx_obj_surfaces on arbitrary bytes: never crashes, and a list it
// returns fits in the input after the count.
#include <cstdlib>

#include "kelvadorin/dat/walk.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kdr::ByteView bytes(reinterpret_cast<const std::byte*>(data), size);
  auto ids = kdr::read_gfx_obj_surfaces(bytes);
  if (ids && 9 + 4 * ids->size() > size) std::abort();
  return 0;
}
