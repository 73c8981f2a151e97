// Runs a shell command line and captures its exit status and output, for
// tests that drive the real kdr executable.
#pragma once

#include <filesystem>
#include <string>

namespace kdr::testing {

struct CommandResult {
  int status = -1;
  std::string out;
  std::string err;
};

// `command` is passed to /bin/sh; standard output and error are captured
// through files in `scratch`.
CommandResult run_command(const std::string& command, const std::filesystem::path& scratch);

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, std::string_view data);

}  // namespace kdr::testing
