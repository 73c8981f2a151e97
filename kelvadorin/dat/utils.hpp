// File access behind two small interfaces, so that the archive reader and
// writer run over POSIX files, memory, or a fault-injecting double in tests.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>

#include "kelvadorin/dat/coding.hpp"
#include "kelvadorin/dat/error.hpp"

namespace kdr {

template <class T>
using IoResult = std::expected<T, IoError>;

// Random-access read side. read_at has pread semantics: it may return fewer
// bytes than asked, 0 at the end, and never moves a shared position.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual IoResult<uint64_t> length() const = 0;
  virtual IoResult<size_t> read_at(std::span<std::byte> out, uint64_t offset) const = 0;
};

// Sequential write side with a position and seek. write_some may accept fewer
// bytes than offered.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual IoResult<size_t> write_some(ByteView data) = 0;
  virtual IoResult<uint64_t> position() = 0;
  virtual IoResult<void> seek(uint64_t offset) = 0;
  virtual IoResult<void> flush() { return {}; }
  virtual IoResult<void> close() { return {}; }

  // Writes everything: interrupted writes are retried, and a write that
  // accepts nothing fails with "failed to write whole buffer".
  IoResult<void> write_all(ByteView data);
};

// Positioned reads on an open file, as the archive reader uses them.
struct FileExtPolyfill {
  // The file's current length, from its metadata.
  static IoResult<uint64_t> len_compat(const ByteSource& file);
  // Fills `buffer` from `offset`; retries interrupted reads, and a read that
  // returns nothing before the buffer is full fails with "failed to fill
  // whole buffer". An empty buffer succeeds without touching the file.
  static IoResult<void> read_exact_at_compat(const ByteSource& file, std::span<std::byte> buffer,
                                             uint64_t offset);
};

// POSIX files.
IoResult<std::unique_ptr<ByteSource>> open_file_for_reading(const std::filesystem::path& path);
// Create or truncate, permission bits 0666 before the umask.
IoResult<std::unique_ptr<ByteSink>> create_file_for_writing(const std::filesystem::path& path);

// An in-memory source owning its bytes.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(Bytes bytes) : bytes_(std::move(bytes)) {}
  IoResult<uint64_t> length() const override { return bytes_.size(); }
  IoResult<size_t> read_at(std::span<std::byte> out, uint64_t offset) const override;
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// A seekable writer over a growable in-memory buffer; writing past the end
// extends it (with zeros over any gap).
class MemorySink final : public ByteSink {
 public:
  IoResult<size_t> write_some(ByteView data) override;
  IoResult<uint64_t> position() override { return pos_; }
  IoResult<void> seek(uint64_t offset) override {
    pos_ = offset;
    return {};
  }
  const Bytes& bytes() const { return bytes_; }
  Bytes take() { return std::move(bytes_); }

 private:
  Bytes bytes_;
  uint64_t pos_ = 0;
};

// Collects small writes into blocks of `capacity` bytes before passing them on.
class BufferedSink {
 public:
  BufferedSink(ByteSink& inner, size_t capacity) : inner_(inner), capacity_(capacity) { buf_.reserve(capacity); }
  IoResult<void> write_all(ByteView data);
  IoResult<void> flush();

 private:
  ByteSink& inner_;
  size_t capacity_;
  Bytes buf_;
};

}  // namespace kdr
