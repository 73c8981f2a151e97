// Whole-archive operations of the command line: verification of every entry
// and extraction to loose files.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "kelvadorin/dat/archive/reader.hpp"
#include "kelvadorin/tools/error.hpp"

namespace kdr {

struct VerifyReport {
  uint64_t entries = 0;
  uint64_t bytes = 0;  // decoded resource bytes read back
  std::vector<std::string> failures;
  bool ok() const { return failures.empty(); }
};

// Looks up and reads every entry through the reader's own find and read
// path, and checks what the reader relies on without checking: the index is
// strictly sorted, every record's namespace is its span's, and payloads lie
// between the header and the metadata block without overlapping.
VerifyReport verify_archive(const KdrReader& reader);

// True for labels usable as a relative folder path: no leading '/', no
// backslash, no empty, "." or ".." component.
bool is_safe_relative_label(std::string_view label);

struct ExtractSummary {
  uint64_t files = 0;
  uint64_t bytes = 0;
};

// Writes DIR/<label>/<XXXXXXXX>.bin for every entry (of one namespace when
// given). A label that is not a safe relative path is refused before
// anything is written.
ToolResult<ExtractSummary> extract_archive(const KdrReader& reader, const std::filesystem::path& dir,
                                           std::optional<std::string_view> namespace_label);

}  // namespace kdr
