#include "kelvadorin/tools/dat_shard.hpp"

#include <fmt/format.h>

namespace kdr {

namespace {

// The text in double quotes with quotes, backslashes and control characters escaped.
std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    switch (ch) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7F)
          out += fmt::format("\\u{{{:x}}}", c);
        else
          out += ch;
    }
  }
  return out + "\"";
}

}  // namespace

std::expected<uint32_t, std::string> parse_hex_u32(std::string_view text) {
  auto fail = [&](std::string_view reason) {
    return std::unexpected(fmt::format("invalid hex u32 {}: {}", quoted(text), reason));
  };
  std::string_view rest = text;
  if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) rest.remove_prefix(2);
  if (rest.empty()) return fail("cannot parse integer from empty string");
  if (rest[0] == '+') {
    rest.remove_prefix(1);
    if (rest.empty()) return fail("invalid digit found in string");
  }
  uint64_t value = 0;
  for (char ch : rest) {
    int digit = ch >= '0' && ch <= '9' ? ch - '0'
                : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
                : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
                                         : -1;
    if (digit < 0) return fail("invalid digit found in string");
    value = value * 16 + static_cast<uint64_t>(digit);
    if (value > UINT32_MAX) return fail("number too large to fit in target type");
  }
  return static_cast<uint32_t>(value);
}

}  // namespace kdr
