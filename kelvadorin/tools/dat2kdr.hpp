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
#include "kelvadorin/dat/manifest.hpp"
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

// Full keeps every record; pruned and micro keep what their manifest keeps.
enum class ConvertMode { Full, Pruned, Micro };

// "full", "pruned", "micro".
std::string_view convert_mode_name(ConvertMode mode);
std::optional<ConvertMode> parse_convert_mode(std::string_view name);
// The keep rules of a reduced mode; nullopt for full, which keeps everything.
std::optional<StripperManifest> manifest_for_mode(ConvertMode mode);

struct ConvertOptions {
  std::vector<ConvertInputSpec> inputs;
  std::optional<std::string> explicit_namespace;
  bool compress = true;
  ConvertMode mode = ConvertMode::Full;
  // An undecodable setup, motion table or referenced animation becomes a
  // warning instead of failing the run; its bytes are still stored.
  bool skip_undecodable = false;
};

struct ConvertProgress {
  uint64_t records_done = 0;
  uint64_t records_total = 0;
  uint64_t bytes_done = 0;
};

struct ConvertSummary {
  ConvertMode mode = ConvertMode::Full;
  // Archive entries by namespace, the kinematics asset's core entry included.
  std::map<std::string, uint64_t> entries_per_namespace;
  uint64_t entries = 0;   // archive entries in all
  uint64_t records = 0;   // input records read
  uint64_t dropped = 0;   // input records the mode left out of the archive
  uint64_t bytes_in = 0;  // bytes of all input records, dropped ones included
  uint64_t archive_bytes = 0;
  size_t skipped_files = 0;
  // What derivation was given, and the asset's serialised size.
  uint64_t setups = 0;
  uint64_t motion_tables = 0;
  uint64_t animations = 0;
  uint64_t asset_bytes = 0;
  // Records left out of derivation under skip_undecodable, one warning each.
  uint64_t undecodable = 0;
  std::vector<std::string> warnings;
};

// Converts every input into an archive at `out`, written atomically: on any
// failure an existing `out` is left untouched and no temporary file remains.
// Every record goes to the archive as it is read (unless the mode drops it);
// the setups and motion tables of the inputs not in "vuz/cell", in input
// order and ascending id, and the animations their forward cycles reference
// are decoded and derive the motion kinematics asset, which is added to the
// core namespace before the archive is finished.
ToolResult<ConvertSummary> convert_to_archive(const ConvertOptions& options, const std::filesystem::path& out,
                                              const std::function<void(const ConvertProgress&)>& progress = {});

}  // namespace kdr
