// The conversion tool module: which namespace each input lands in, the
// record kind of each entry, and the conversion run itself.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kelvadorin/dat/archive/writer.hpp"
#include "kelvadorin/tools/error.hpp"

namespace kdr {

// An explicit label wins (validated), then a preset (as given), then the
// label inferred from the input's file name.
ToolResult<std::string> resolve_namespace_hint(std::optional<std::string_view> explicit_label,
                                               const std::filesystem::path& input,
                                               std::optional<std::string_view> preset);
// "vuz/cell" when the file stem contains "cell" in any ASCII case, else "vuz/portal".
std::string_view infer_input_namespace_fallback(const std::filesystem::path& input);

// The type id stored for a record: in "vuz/cell" 0xFF for 0xXXYYFFFF,
// 0xFE for 0xXXYYFFFE and 0xFD for the other cells; elsewhere the id's high byte.
uint32_t record_kind_code(std::string_view namespace_label, uint32_t file_id);

struct ConvertInputSpec {
  std::filesystem::path path;
  std::optional<std::string> preset;  // "vuz/portal" for --portal, "vuz/cell" for --cell
};

struct ConvertOptions {
  std::vector<ConvertInputSpec> inputs;
  std::optional<std::string> explicit_namespace;
  bool compress = true;
};

struct ConvertProgress {
  uint64_t records_done = 0;
  uint64_t records_total = 0;
  uint64_t bytes_done = 0;
};

struct ConvertSummary {
  std::map<std::string, uint64_t> entries_per_namespace;
  uint64_t records = 0;
  uint64_t bytes_in = 0;
  uint64_t archive_bytes = 0;
  size_t skipped_files = 0;
};

// Converts every input into an archive at `out`, written atomically: on any
// failure an existing `out` is left untouched and no temporary file remains.
ToolResult<ConvertSummary> convert_to_archive(const ConvertOptions& options, const std::filesystem::path& out,
                                              const std::function<void(const ConvertProgress&)>& progress = {});

}  // namespace kdr
