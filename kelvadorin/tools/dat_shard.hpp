// The boot shard tool module.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace kdr {

// Parses a hexadecimal u32 with an optional single "0x"/"0X" prefix and an
// optional "+". The one parser of ids in the tools: its message is what a
// user sees for a bad id, e.g. invalid hex u32 "not-hex": invalid digit found in string.
std::expected<uint32_t, std::string> parse_hex_u32(std::string_view text);

}  // namespace kdr
