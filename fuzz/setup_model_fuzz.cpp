// Setup record bytes through the decoder. A record that decodes must survive
// build -> decode -> build unchanged: the builder writes map keys in order, so
// the second build equals the first.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "kelvadorin/dat/file_type/setup_model.hpp"
#include "kelvadorin/testing/setup_builder.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kdr::ByteCursor c(kdr::ByteView(reinterpret_cast<const std::byte*>(data), size));
  auto setup = kdr::SetupModel::unpack(c);
  if (!setup) {
    (void)setup.error().description();
    return 0;
  }
  if (c.position() > size) std::abort();
  kdr::Bytes first = kdr::testing::build_setup(*setup);
  kdr::ByteCursor again(first);
  auto redecoded = kdr::SetupModel::unpack(again);
  if (!redecoded || again.position() != first.size()) std::abort();
  if (kdr::testing::build_setup(*redecoded) != first) std::abort();
  return 0;
}
