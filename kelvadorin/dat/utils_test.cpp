#include "kelvadorin/dat/utils.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "kelvadorin/testing/temp_dir.hpp"

namespace kdr {
namespace {

// Hands out at most `chunk` bytes per call and fails with EINTR every other call.
class StutteringSource final : public ByteSource {
 public:
  StutteringSource(Bytes b, size_t chunk) : inner_(std::move(b)), chunk_(chunk) {}
  IoResult<uint64_t> length() const override { return inner_.length(); }
  IoResult<size_t> read_at(std::span<std::byte> out, uint64_t offset) const override {
    if (++calls_ % 2 == 1) return std::unexpected(IoError::from_errno(EINTR));
    return inner_.read_at(out.first(std::min(out.size(), chunk_)), offset);
  }

 private:
  MemorySource inner_;
  size_t chunk_;
  mutable int calls_ = 0;
};

TEST(FileExtPolyfillTest, ReadExactRetriesInterruptedAndShortReads) {
  StutteringSource src(Bytes{std::byte{1}, std::byte{2}, std::byte{3}, std::byte{4}, std::byte{5}}, 2);
  Bytes out(4);
  ASSERT_TRUE(FileExtPolyfill::read_exact_at_compat(src, out, 1));
  EXPECT_EQ(out, (Bytes{std::byte{2}, std::byte{3}, std::byte{4}, std::byte{5}}));
}

TEST(FileExtPolyfillTest, EmptyBufferSucceedsEvenPastTheEnd) {
  MemorySource src(Bytes(3));
  EXPECT_TRUE(FileExtPolyfill::read_exact_at_compat(src, {}, 1000));
}

TEST(FileExtPolyfillTest, ReadPastTheEndFailsToFillTheBuffer) {
  testing::TempDir dir;
  { std::ofstream(dir / "f") << "0123456789"; }
  auto file = open_file_for_reading(dir / "f");
  ASSERT_TRUE(file);
  EXPECT_EQ(*FileExtPolyfill::len_compat(**file), 10u);
  Bytes out(4);
  auto r = FileExtPolyfill::read_exact_at_compat(**file, out, 8);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().description(), "failed to fill whole buffer");
}

}  // namespace
}  // namespace kdr
