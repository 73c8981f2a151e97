// Little-endian byte assembly for the record builders: tests state records as
// values and the builders turn them into exact bytes.
#pragma once

#include <initializer_list>
#include <string_view>

#include "kelvadorin/common/math.hpp"
#include "kelvadorin/dat/coding.hpp"

namespace kdr::testing {

class ByteWriter {
 public:
  ByteWriter& u8(uint8_t v) { return put(v); }
  ByteWriter& u16(uint16_t v) { return put(v); }
  ByteWriter& u32(uint32_t v) { return put(v); }
  ByteWriter& u64(uint64_t v) { return put(v); }
  ByteWriter& i16(int16_t v) { return put(v); }
  ByteWriter& i32(int32_t v) { return put(v); }
  ByteWriter& f32(float v) { return put(v); }
  ByteWriter& f64(double v) { return put(v); }
  ByteWriter& vec3(const Vector3& v) { return f32(v.x).f32(v.y).f32(v.z); }
  ByteWriter& quat(const Quaternion& q) { return f32(q.w).f32(q.x).f32(q.y).f32(q.z); }
  ByteWriter& bytes(ByteView b) {
    out_.insert(out_.end(), b.begin(), b.end());
    return *this;
  }
  ByteWriter& text(std::string_view s) { return bytes(as_bytes(s)); }
  ByteWriter& zeros(size_t n) {
    out_.resize(out_.size() + n);
    return *this;
  }
  // Zero bytes up to the next multiple of `align` counted from `from`.
  ByteWriter& align(size_t align, size_t from = 0) {
    while ((out_.size() - from) % align != 0) out_.push_back(std::byte{0});
    return *this;
  }
  size_t size() const { return out_.size(); }
  const Bytes& view() const { return out_; }
  Bytes take() { return std::move(out_); }

 private:
  template <FixedWidth T>
  ByteWriter& put(T v) {
    append_le(out_, v);
    return *this;
  }
  Bytes out_;
};

// Bytes from a list of small integers, for the few tests that state raw bytes.
inline Bytes bytes_of(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<std::byte>(v));
  return out;
}

}  // namespace kdr::testing
