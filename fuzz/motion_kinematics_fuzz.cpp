// MotionKinematics::read on arbitrary bytes: never crashes, and whatever it
// decodes writes out in a canonical form that reads back and writes again to
// the same bytes.
#include <cstdlib>

#include "kelvadorin/dat/file_type/motion_kinematics.hpp"

namespace {

kdr::Bytes write_or_abort(const kdr::MotionKinematics& mk) {
  kdr::MemorySink sink;
  if (!mk.write(sink)) std::abort();
  return sink.take();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kdr::ByteCursor input(kdr::ByteView(reinterpret_cast<const std::byte*>(data), size));
  auto first = kdr::MotionKinematics::read(input);
  if (!first) return 0;
  if (input.position() > size) std::abort();
  kdr::Bytes written = write_or_abort(*first);
  kdr::ByteCursor again(written);
  auto second = kdr::MotionKinematics::read(again);
  if (!second || again.position() != written.size()) std::abort();
  if (write_or_abort(*second) != written) std::abort();
  return 0;
}
