// What the spell export command needs around the export itself: the spell
// table read from an archive or a loose record folder, and the export
// request built from the command line's option texts.
#pragma once

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "kelvadorin/dat/file_type/spell_table.hpp"
#include "kelvadorin/tools/error.hpp"
#include "kelvadorin/tools/spell_export.hpp"

namespace kdr {

// Reads and decodes record SpellTable::FILE_ID. A directory is a loose record
// folder (files named by their ids); anything else is opened as a KDR archive
// and the record is taken from VUZ_PORTAL_NAMESPACE. Failures are Validation
// errors whose texts name the source and the id:
//   "no spell table 0x0E00000E in <source>: <cause>"            (absent)
//   "cannot read spell table 0x0E00000E in <source>: <cause>"   (unreadable)
//   "cannot decode spell table 0x0E00000E in <source>: <DecodeError>"
// A source that cannot be opened at all gives the opener's own error.
ToolResult<SpellTable> load_spell_table(const std::filesystem::path& source);

// The export options as the command line received them, still as text.
struct SpellExportOptions {
  std::optional<std::string> fields;    // export keys separated by commas
  std::optional<std::string> preset;    // "base" or "minimal"
  std::vector<std::string> schools;     // raw school numbers, decimal, 1 to 256
  std::vector<std::string> categories;  // decimal uint32 values
};

// The request the options describe, or a message for the user, e.g.
// "unknown spell field 'x'; valid fields: name, description, ...".
std::expected<SpellExportRequest, std::string> spell_request_from_options(const SpellExportOptions& options);

}  // namespace kdr
