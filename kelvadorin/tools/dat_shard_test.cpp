#include "kelvadorin/tools/dat_shard.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

namespace kdr {
namespace {

TEST(ParseHexU32Test, AcceptsAndRejectsWithExactMessages) {
  struct Case {
    std::string text;
    std::string expect;  // "=<hex value>" or the message
  } cases[] = {
      {"0xA9B4", "=a9b4"},
      {"a9b4", "=a9b4"},
      {"0X1234", "=1234"},
      {"FFFFFFFF", "=ffffffff"},
      {"000000001", "=1"},
      {"+1f", "=1f"},
      {"0x+1f", "=1f"},
      {"not-hex", "invalid hex u32 \"not-hex\": invalid digit found in string"},
      {"", "invalid hex u32 \"\": cannot parse integer from empty string"},
      {"0x", "invalid hex u32 \"0x\": cannot parse integer from empty string"},
      {"-1", "invalid hex u32 \"-1\": invalid digit found in string"},
      {"+", "invalid hex u32 \"+\": invalid digit found in string"},
      {" 1A", "invalid hex u32 \" 1A\": invalid digit found in string"},
      {"100000000", "invalid hex u32 \"100000000\": number too large to fit in target type"},
      {"1000000000g", "invalid hex u32 \"1000000000g\": number too large to fit in target type"},
      {"0x0x1", "invalid hex u32 \"0x0x1\": invalid digit found in string"},
      {"a\"b\\c\n", "invalid hex u32 \"a\\\"b\\\\c\\n\": invalid digit found in string"},
  };
  for (const auto& c : cases) {
    auto r = parse_hex_u32(c.text);
    std::string got = r ? fmt::format("={:x}", *r) : r.error();
    EXPECT_EQ(got, c.expect) << c.text;
  }
}

}  // namespace
}  // namespace kdr
