// Shared pieces of the kdr subcommands. Each subcommand file adds its
// options to the app and returns the function that runs it once parsed; the
// behaviour itself lives in the libraries.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <fmt/format.h>

namespace kdr::cli {

using Runner = std::function<int()>;

Runner add_convert_command(CLI::App& app);
Runner add_info_command(CLI::App& app);
Runner add_ls_command(CLI::App& app);
Runner add_cat_command(CLI::App& app);
Runner add_verify_command(CLI::App& app);
Runner add_extract_command(CLI::App& app);
Runner add_show_command(CLI::App& app);
Runner add_spells_command(CLI::App& app);
Runner add_shard_command(CLI::App& app);

// Prints "kdr: error: <message>" to standard error and returns exit status 1.
int fail(std::string_view message);
// A hexadecimal id argument, or nullopt after printing the parser's message.
std::optional<uint32_t> parse_id_argument(std::string_view text);
// Whether standard error is a terminal (progress displays go there).
bool stderr_is_terminal();

}  // namespace kdr::cli
