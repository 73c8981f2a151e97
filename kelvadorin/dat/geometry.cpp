#include "kelvadorin/dat/geometry.hpp"

namespace kdr {

IoResult<void> write_vector3(ByteSink& sink, const Vector3& v) {
  std::byte buf[12];
  store_le(buf, v.x);
  store_le(buf + 4, v.y);
  store_le(buf + 8, v.z);
  return sink.write_all(buf);
}

}  // namespace kdr
