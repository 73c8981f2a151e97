// A read position over an in-memory byte buffer; the input of every decoder.
#pragma once

#include <cstdint>

#include "kelvadorin/dat/coding.hpp"
#include "kelvadorin/dat/error.hpp"

namespace kdr {

class ByteCursor {
 public:
  explicit ByteCursor(ByteView data, uint64_t position = 0) : data_(data), pos_(position) {}

  uint64_t position() const { return pos_; }
  void set_position(uint64_t position) { pos_ = position; }
  // Bytes from the position to the end; 0 once the position is at or past it.
  uint64_t remaining() const { return pos_ >= data_.size() ? 0 : data_.size() - pos_; }
  ByteView data() const { return data_; }

  // Reads exactly out.size() bytes; fails with "failed to fill whole buffer".
  DecodeResult<void> read_into(std::span<std::byte> out) {
    if (remaining() < out.size()) return std::unexpected(DecodeError::unexpected_end());
    if (!out.empty()) std::memcpy(out.data(), data_.data() + pos_, out.size());
    pos_ += out.size();
    return {};
  }

  template <FixedWidth T>
  DecodeResult<T> read() {
    if (remaining() < sizeof(T)) return std::unexpected(DecodeError::unexpected_end());
    T v = load_le<T>(data_.data() + pos_);
    pos_ += sizeof(T);
    return v;
  }

  // A counted run of raw bytes; fails with "not enough bytes in reader" before
  // allocating anything when the buffer cannot hold `count` more bytes.
  DecodeResult<Bytes> read_bytes(uint64_t count) {
    if (remaining() < count) return std::unexpected(DecodeError::not_enough_bytes());
    Bytes out(data_.begin() + static_cast<ptrdiff_t>(pos_),
              data_.begin() + static_cast<ptrdiff_t>(pos_ + count));
    pos_ += count;
    return out;
  }

  // Moves forward without reading: padding that may be missing at the end.
  void skip(uint64_t count) { pos_ += count; }

 private:
  ByteView data_;
  uint64_t pos_;
};

}  // namespace kdr
