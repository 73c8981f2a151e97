#include "kelvadorin/dat/utils.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kdr {

IoResult<void> ByteSink::write_all(ByteView data) {
  while (!data.empty()) {
    auto n = write_some(data);
    if (!n) {
      if (n.error().kind == IoError::Kind::Os && n.error().os_code == EINTR) continue;
      return std::unexpected(n.error());
    }
    if (*n == 0) return std::unexpected(IoError::write_zero());
    data = data.subspan(*n);
  }
  return {};
}

IoResult<uint64_t> FileExtPolyfill::len_compat(const ByteSource& file) { return file.length(); }

IoResult<void> FileExtPolyfill::read_exact_at_compat(const ByteSource& file, std::span<std::byte> buffer,
                                                     uint64_t offset) {
  while (!buffer.empty()) {
    auto n = file.read_at(buffer, offset);
    if (!n) {
      if (n.error().kind == IoError::Kind::Os && n.error().os_code == EINTR) continue;
      return std::unexpected(n.error());
    }
    if (*n == 0) return std::unexpected(IoError::unexpected_eof());
    buffer = buffer.subspan(*n);
    offset += *n;
  }
  return {};
}

namespace {

class PosixSource final : public ByteSource {
 public:
  explicit PosixSource(int fd) : fd_(fd) {}
  ~PosixSource() override { ::close(fd_); }
  PosixSource(const PosixSource&) = delete;
  PosixSource& operator=(const PosixSource&) = delete;

  IoResult<uint64_t> length() const override {
    struct stat st{};
    if (::fstat(fd_, &st) != 0) return std::unexpected(IoError::from_errno(errno));
    return static_cast<uint64_t>(st.st_size);
  }
  IoResult<size_t> read_at(std::span<std::byte> out, uint64_t offset) const override {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return 0;
    ssize_t n = ::pread(fd_, out.data(), out.size(), static_cast<off_t>(offset));
    if (n < 0) return std::unexpected(IoError::from_errno(errno));
    return static_cast<size_t>(n);
  }

 private:
  int fd_;
};

class PosixSink final : public ByteSink {
 public:
  explicit PosixSink(int fd) : fd_(fd) {}
  ~PosixSink() override {
    if (fd_ >= 0) ::close(fd_);
  }
  PosixSink(const PosixSink&) = delete;
  PosixSink& operator=(const PosixSink&) = delete;

  IoResult<size_t> write_some(ByteView data) override {
    ssize_t n = ::write(fd_, data.data(), data.size());
    if (n < 0) return std::unexpected(IoError::from_errno(errno));
    return static_cast<size_t>(n);
  }
  IoResult<uint64_t> position() override {
    off_t at = ::lseek(fd_, 0, SEEK_CUR);
    if (at < 0) return std::unexpected(IoError::from_errno(errno));
    return static_cast<uint64_t>(at);
  }
  IoResult<void> seek(uint64_t offset) override {
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return std::unexpected(IoError::from_errno(errno));
    return {};
  }
  IoResult<void> close() override {
    if (fd_ < 0) return {};
    int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) return std::unexpected(IoError::from_errno(errno));
    return {};
  }

 private:
  int fd_;
};

}  // namespace

IoResult<std::unique_ptr<ByteSource>> open_file_for_reading(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::unexpected(IoError::from_errno(errno));
  return std::make_unique<PosixSource>(fd);
}

IoResult<std::unique_ptr<ByteSink>> create_file_for_writing(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return std::unexpected(IoError::from_errno(errno));
  return std::make_unique<PosixSink>(fd);
}

IoResult<size_t> MemorySource::read_at(std::span<std::byte> out, uint64_t offset) const {
  if (offset >= bytes_.size()) return 0;
  size_t n = static_cast<size_t>(std::min<uint64_t>(out.size(), bytes_.size() - offset));
  std::memcpy(out.data(), bytes_.data() + offset, n);
  return n;
}

IoResult<size_t> MemorySink::write_some(ByteView data) {
  if (data.empty()) return 0;
  uint64_t end = pos_ + data.size();
  if (end > bytes_.size()) bytes_.resize(static_cast<size_t>(end));
  std::memcpy(bytes_.data() + pos_, data.data(), data.size());
  pos_ = end;
  return data.size();
}

IoResult<void> BufferedSink::write_all(ByteView data) {
  if (buf_.size() + data.size() > capacity_) {
    KDR_TRY(flush());
    if (data.size() >= capacity_) return inner_.write_all(data);
  }
  buf_.insert(buf_.end(), data.begin(), data.end());
  return {};
}

IoResult<void> BufferedSink::flush() {
  if (buf_.empty()) return {};
  auto r = inner_.write_all(buf_);
  buf_.clear();
  return r;
}

}  // namespace kdr
