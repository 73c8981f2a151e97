#include "kelvadorin/testing/fault_sink.hpp"

#include <cerrno>
#include <cstring>

namespace kdr::testing {

IoResult<size_t> ScriptedSink::write_some(ByteView data) {
  size_t n = data.size();
  if (faults_.accept_bytes) {
    uint64_t room = *faults_.accept_bytes > written_ ? *faults_.accept_bytes - written_ : 0;
    if (room == 0 && n > 0) return std::unexpected(IoError::from_errno(ENOSPC));
    n = static_cast<size_t>(std::min<uint64_t>(n, room));
  }
  if (pos_ + n > out_.size()) out_.resize(static_cast<size_t>(pos_ + n));
  if (n) std::memcpy(out_.data() + pos_, data.data(), n);
  pos_ += n;
  written_ += n;
  return n;
}

IoResult<uint64_t> ScriptedSink::position() {
  if (faults_.fail_position) return std::unexpected(IoError::from_errno(EIO));
  return pos_;
}

IoResult<void> ScriptedSink::seek(uint64_t offset) {
  if (faults_.fail_seek) return std::unexpected(IoError::from_errno(ESPIPE));
  pos_ = offset;
  return {};
}

}  // namespace kdr::testing
