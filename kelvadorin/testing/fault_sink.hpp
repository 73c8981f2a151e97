// A sink that writes into a caller-owned buffer and can be told to fail, so
// tests see the bytes a writer produced and inject write, position and seek
// failures at chosen points.
#pragma once

#include <optional>

#include "kelvadorin/dat/utils.hpp"

namespace kdr::testing {

struct SinkFaults {
  std::optional<uint64_t> accept_bytes;  // writes fail (ENOSPC) once this many bytes went in
  bool fail_position = false;
  bool fail_seek = false;
};

class ScriptedSink final : public ByteSink {
 public:
  explicit ScriptedSink(Bytes& out, SinkFaults faults = {}) : out_(out), faults_(faults) {}
  IoResult<size_t> write_some(ByteView data) override;
  IoResult<uint64_t> position() override;
  IoResult<void> seek(uint64_t offset) override;

 private:
  Bytes& out_;
  SinkFaults faults_;
  uint64_t pos_ = 0;
  uint64_t written_ = 0;
};

}  // namespace kdr::testing
