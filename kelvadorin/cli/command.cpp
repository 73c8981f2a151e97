#include "kelvadorin/cli/command.hpp"

#include <unistd.h>

#include <cstdio>

#include "kelvadorin/tools/dat_shard.hpp"

namespace kdr::cli {

int fail(std::string_view message) {
  fmt::print(stderr, "kdr: error: {}\n", message);
  return 1;
}

std::optional<uint32_t> parse_id_argument(std::string_view text) {
  auto id = parse_hex_u32(text);
  if (!id) {
    fail(id.error());
    return std::nullopt;
  }
  return *id;
}

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace kdr::cli
