#include "kelvadorin/tools/spell_source.hpp"

#include <charconv>
#include <system_error>

#include "kelvadorin/dat/archive/reader.hpp"
#include "kelvadorin/dat/resource_namespace.hpp"
#include "kelvadorin/tools/record_input.hpp"

namespace kdr {

namespace {

constexpr std::string_view kFileIdText = "0x0E00000E";
static_assert(SpellTable::FILE_ID == 0x0E00000E);

ToolError source_error(std::string_view what, const std::filesystem::path& source, std::string_view cause) {
  return ToolError::validation(fmt::format("{} spell table {} in {}: {}", what, kFileIdText, source.string(), cause));
}

ToolResult<Bytes> read_from_folder(const std::filesystem::path& source) {
  auto input = open_record_input(source);
  if (!input) return std::unexpected(std::move(input.error()));
  const auto& records = (*input)->records();
  std::optional<size_t> found;
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].file_id != SpellTable::FILE_ID) continue;
    // Two files naming one id (say .bin and .dat) would make the choice arbitrary.
    if (found) return std::unexpected(source_error("cannot read", source, "more than one file names this record"));
    found = i;
  }
  if (!found)
    return std::unexpected(source_error("no", source, DatError(DatError::NotFound{SpellTable::FILE_ID}).display()));
  auto bytes = (*input)->read(*found);
  if (!bytes) return std::unexpected(source_error("cannot read", source, bytes.error().display()));
  return bytes;
}

ToolResult<Bytes> read_from_archive(const std::filesystem::path& source) {
  auto reader = KdrReader::open(source);
  if (!reader) return std::unexpected(ToolError::validation(reader.error().display()));
  auto bytes = reader->get_file_in_namespace(VUZ_PORTAL_NAMESPACE, SpellTable::FILE_ID);
  if (!bytes)
    return std::unexpected(
        source_error(bytes.error().is<DatError::NotFound>() ? "no" : "cannot read", source, bytes.error().display()));
  return std::move(*bytes);
}

std::optional<uint32_t> parse_decimal_u32(std::string_view text) {
  uint32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string valid_field_list() {
  std::string out;
  for (size_t i = 0; i < SPELL_EXPORT_FIELD_COUNT; ++i) {
    if (i > 0) out += ", ";
    out += export_key(static_cast<SpellExportField>(i));
  }
  return out;
}

}  // namespace

ToolResult<SpellTable> load_spell_table(const std::filesystem::path& source) {
  std::error_code ec;
  auto bytes = std::filesystem::is_directory(source, ec) ? read_from_folder(source) : read_from_archive(source);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  auto table = SpellTable::unpack(*bytes);
  if (!table) return std::unexpected(source_error("cannot decode", source, table.error().description()));
  return std::move(*table);
}

std::expected<SpellExportRequest, std::string> spell_request_from_options(const SpellExportOptions& options) {
  SpellExportRequest request;
  if (options.fields) {
    std::string_view rest = *options.fields;
    while (true) {
      size_t comma = rest.find(',');
      std::string_view key = trim(rest.substr(0, comma));
      auto field = parse_spell_export_field(key);
      if (!field) return std::unexpected(fmt::format("unknown spell field '{}'; valid fields: {}", key, valid_field_list()));
      request.fields.push_back(*field);
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  if (options.preset) {
    auto preset = parse_spell_export_preset(*options.preset);
    if (!preset) return std::unexpected(fmt::format("unknown spell preset '{}'; valid presets: base, minimal", *options.preset));
    request.preset = *preset;
  }
  for (const auto& text : options.schools) {
    auto number = parse_decimal_u32(text);
    if (!number) return std::unexpected(fmt::format("invalid school number '{}': expected a decimal number", text));
    auto school = SpellSchool::from_school_number(*number);
    if (!school)
      return std::unexpected(fmt::format("school number {} does not exist; school numbers run from 1 to 256", *number));
    request.schools.push_back(*school);
  }
  for (const auto& text : options.categories) {
    auto category = parse_decimal_u32(text);
    if (!category)
      return std::unexpected(
          fmt::format("invalid category '{}': expected a decimal number from 0 to 4294967295", text));
    request.categories.push_back(*category);
  }
  return request;
}

}  // namespace kdr
