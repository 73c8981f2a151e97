#include "kelvadorin/tools/archive_check.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kelvadorin/testing/archive_builder.hpp"

namespace kdr {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(SafeLabelTest, OnlyPlainRelativePaths) {
  for (std::string_view ok : {"vuz/portal", "a", "kelvadorin/core", "a.b/c-d"}) EXPECT_TRUE(is_safe_relative_label(ok)) << ok;
  for (std::string_view bad : {"", "/abs", "..", "a/../b", ".", "a/./b", "a//b", "a/", "a\\b"})
    EXPECT_FALSE(is_safe_relative_label(bad)) << bad;
}

class VerifyArchiveTest : public ::testing::Test {
 protected:
  // Three raw entries: vuz/cell 1, vuz/portal 1, vuz/portal 2 (index records 0..2).
  Bytes archive_ = testing::build_archive(
      {{"vuz/portal", 1, 0, to_bytes("aaaa")}, {"vuz/portal", 2, 0, to_bytes("bbbb")}, {"vuz/cell", 1, 0, to_bytes("cccc")}},
      false);
  size_t record(size_t i) const { return load_le<uint64_t>(archive_.data() + 12) + 60 * i; }
  std::vector<std::string> failures() {
    auto reader = testing::open_archive_bytes(archive_);
    EXPECT_TRUE(reader);
    return verify_archive(*reader).failures;
  }
};

TEST_F(VerifyArchiveTest, GoodArchivePasses) { EXPECT_TRUE(failures().empty()); }

TEST_F(VerifyArchiveTest, ReportsUnsortedIndex) {
  store_le<uint32_t>(archive_.data() + record(2) + 32, 0);  // portal ids 1, 0
  EXPECT_THAT(failures(), ::testing::Contains(HasSubstr("entry 2 (vuz/portal:0x00000000): index is not strictly sorted")));
}

TEST_F(VerifyArchiveTest, ReportsNamespaceOutsideItsSpan) {
  std::memcpy(archive_.data() + record(0), "vuz/celm", 8);
  EXPECT_THAT(failures(), ::testing::Contains(HasSubstr("entry 0 (vuz/celm:0x00000001): namespace differs")));
}

TEST_F(VerifyArchiveTest, ReportsOverlappingAndMisplacedPayloads) {
  uint64_t first = load_le<uint64_t>(archive_.data() + record(1) + 40);
  store_le<uint64_t>(archive_.data() + record(2) + 40, first + 2);
  store_le<uint64_t>(archive_.data() + record(0) + 40, 10);
  auto f = failures();
  EXPECT_THAT(f, ::testing::Contains(HasSubstr("entry 0 (vuz/cell:0x00000001): payload 10..14 lies outside the data region")));
  EXPECT_THAT(f, ::testing::Contains("entry 2: payload overlaps the payload of entry 1"));
}

}  // namespace
}  // namespace kdr
