// The spell export: a SpellTable turned into one JSON object per spell,
// holding a chosen set of fields, narrowed by school and category.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "kelvadorin/dat/file_type/spell_table.hpp"

namespace kdr {

enum class SpellExportField : uint8_t {
  Name = 0,
  Description = 1,
  School = 2,
  Category = 3,
  Bitfield = 4,
  BaseMana = 5,
  BaseRangeConstant = 6,
  BaseRangeMod = 7,
  Power = 8,
  RawComponents = 9,
  ManaMod = 10,
  FormulaVersion = 11,
};

inline constexpr size_t SPELL_EXPORT_FIELD_COUNT = 12;

// The member's name as diagnostics show it, e.g. "BaseRangeMod".
std::string_view debug_name(SpellExportField field);
// The member's key in a spell object, e.g. "base_range_mod".
std::string_view export_key(SpellExportField field);
// The field whose export key is `key`, exactly; nullopt for any other text.
std::optional<SpellExportField> parse_spell_export_field(std::string_view key);

enum class SpellExportPreset : uint8_t {
  Base = 0,
  Minimal = 1,
};

// "Base" or "Minimal".
std::string_view debug_name(SpellExportPreset preset);
// The preset named "base" or "minimal" (lower case, as a command line takes it).
std::optional<SpellExportPreset> parse_spell_export_preset(std::string_view name);
// The preset's field list, in its order.
std::span<const SpellExportField> preset_fields(SpellExportPreset preset);

// A school selector: ordinal k stands for the raw school number k + 1.
struct SpellSchool {
  uint8_t ordinal = 0;

  uint32_t school_number() const { return uint32_t{ordinal} + 1; }
  // The selector of raw school number `school` (1 to 256), else nullopt.
  static std::optional<SpellSchool> from_school_number(uint32_t school);

  friend bool operator==(const SpellSchool&, const SpellSchool&) = default;
};

struct SpellExportRequest {
  std::vector<SpellExportField> fields;  // when empty, `preset` decides
  std::vector<SpellSchool> schools;      // empty keeps every school
  std::vector<uint32_t> categories;      // empty keeps every category
  SpellExportPreset preset = SpellExportPreset::Base;

  // `fields`, or the preset's list when it is empty, with later repeats dropped.
  std::vector<SpellExportField> resolved_fields() const;
};

struct SpellExportFile {
  std::vector<SpellExportField> fields;
  // Each object's keys are in byte order (nlohmann::json keeps them sorted).
  std::map<uint32_t, nlohmann::json> spells;
  uint32_t table_id = 0;
};

// Cannot fail; the result depends on neither hash order nor the table's history.
SpellExportFile export_spell_table(const SpellTable& table, const SpellExportRequest& request);

// The document the command line prints: {"table_id", "fields" (export keys in
// order), "spells" (keyed by decimal spell id in ascending numeric order)}.
nlohmann::ordered_json spell_export_document(const SpellExportFile& file);

// The document as text: two-space indentation, or one line when `compact`.
// Text that is not valid UTF-8 is written with U+FFFD in place of bad bytes.
std::string dump_spell_export(const SpellExportFile& file, bool compact);

}  // namespace kdr
