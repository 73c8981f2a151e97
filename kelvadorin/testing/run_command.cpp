#include "kelvadorin/testing/run_command.hpp"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace kdr::testing {

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const std::filesystem::path& path, std::string_view data) {
  std::ofstream out(path, std::ios::binary);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

CommandResult run_command(const std::string& command, const std::filesystem::path& scratch) {
  auto out = scratch / ".cmd-stdout";
  auto err = scratch / ".cmd-stderr";
  std::string line = command + " >'" + out.string() + "' 2>'" + err.string() + "' </dev/null";
  int raw = std::system(line.c_str());
  CommandResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = read_file(out);
  r.err = read_file(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return r;
}

}  // namespace kdr::testing
