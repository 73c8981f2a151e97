#include "kelvadorin/tools/atomic_output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kdr {

namespace {
// Fixed storage so an async signal handler can read it without allocating.
char g_pending[4096] = {0};

void set_pending(const std::filesystem::path& p) {
  const std::string& s = p.native();
  if (s.size() < sizeof(g_pending)) {
    std::memcpy(g_pending, s.c_str(), s.size() + 1);
  }
}
void clear_pending() { g_pending[0] = '\0'; }
}  // namespace

const char* pending_output_temp_path() { return g_pending[0] ? g_pending : nullptr; }

AtomicOutput::AtomicOutput(std::filesystem::path target, std::filesystem::path temp)
    : target_(std::move(target)), temp_(std::move(temp)) {
  set_pending(temp_);
}

AtomicOutput::AtomicOutput(AtomicOutput&& other) noexcept
    : target_(std::move(other.target_)), temp_(std::move(other.temp_)), done_(other.done_) {
  other.done_ = true;
}

AtomicOutput::~AtomicOutput() {
  if (done_) return;
  std::error_code ec;
  std::filesystem::remove(temp_, ec);
  clear_pending();
}

ToolResult<AtomicOutput> AtomicOutput::begin(const std::filesystem::path& target) {
  std::filesystem::path dir = target.parent_path();
  if (dir.empty()) dir = ".";
  std::string name = ".";
  name.append(target.filename().native()).append(".tmp-XXXXXX");
  std::string pattern = (dir / name).string();
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) return std::unexpected(ToolError(IoError::from_errno(errno)));
  // mkstemp creates 0600; give the output the usual 0666-before-umask bits.
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  ::close(fd);
  return AtomicOutput(target, pattern);
}

ToolResult<void> AtomicOutput::write_all(std::string_view data) {
  int fd = ::open(temp_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return std::unexpected(ToolError(IoError::from_errno(errno)));
  const char* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = n < 0 ? errno : ENOSPC;
      ::close(fd);
      return std::unexpected(ToolError(IoError::from_errno(err)));
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (::close(fd) != 0) return std::unexpected(ToolError(IoError::from_errno(errno)));
  return {};
}

ToolResult<void> AtomicOutput::commit() {
  if (::rename(temp_.c_str(), target_.c_str()) != 0) return std::unexpected(ToolError(IoError::from_errno(errno)));
  done_ = true;
  clear_pending();
  return {};
}

}  // namespace kdr
