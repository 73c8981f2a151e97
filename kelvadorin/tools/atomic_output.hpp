// Output files appear whole or not at all: everything is written to a
// temporary file beside the target, renamed over it only on commit, and
// removed when the output is dropped uncommitted.
#pragma once

#include <filesystem>

#include "kelvadorin/tools/error.hpp"

namespace kdr {

class AtomicOutput {
 public:
  static ToolResult<AtomicOutput> begin(const std::filesystem::path& target);
  AtomicOutput(AtomicOutput&& other) noexcept;
  AtomicOutput& operator=(AtomicOutput&&) = delete;
  ~AtomicOutput();

  const std::filesystem::path& temp_path() const { return temp_; }
  const std::filesystem::path& target() const { return target_; }
  // Renames the temporary file over the target.
  ToolResult<void> commit();
  // Writes `data` to the temporary file (replacing its contents).
  ToolResult<void> write_all(std::string_view data);

 private:
  AtomicOutput(std::filesystem::path target, std::filesystem::path temp);
  std::filesystem::path target_;
  std::filesystem::path temp_;
  bool done_ = false;
};

// The temporary file of the output in progress, or nullptr; read by the
// command line's interrupt handler, which removes it before exiting.
const char* pending_output_temp_path();

}  // namespace kdr
