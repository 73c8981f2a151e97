#include "kelvadorin/tools/spell_export.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace kdr {

namespace {

struct FieldNames {
  std::string_view debug;
  std::string_view key;
};

// Indexed by ordinal.
constexpr std::array<FieldNames, SPELL_EXPORT_FIELD_COUNT> kFieldNames = {{
    {"Name", "name"},
    {"Description", "description"},
    {"School", "school"},
    {"Category", "category"},
    {"Bitfield", "bitfield"},
    {"BaseMana", "base_mana"},
    {"BaseRangeConstant", "base_range_constant"},
    {"BaseRangeMod", "base_range_mod"},
    {"Power", "power"},
    {"RawComponents", "raw_components"},
    {"ManaMod", "mana_mod"},
    {"FormulaVersion", "formula_version"},
}};

using F = SpellExportField;
constexpr std::array<F, 12> kBaseFields = {F::Name,   F::Description,   F::School,  F::Category,
                                           F::Bitfield, F::BaseMana,    F::BaseRangeConstant,
                                           F::BaseRangeMod, F::Power,   F::RawComponents,
                                           F::ManaMod, F::FormulaVersion};
constexpr std::array<F, 8> kMinimalFields = {F::Name,     F::Description,       F::School,       F::Category,
                                             F::Bitfield, F::BaseRangeConstant, F::BaseRangeMod, F::Power};

const FieldNames& names_of(SpellExportField field) {
  // An out-of-range value (a cast from outside) renders as the first member
  // rather than reading past the table.
  size_t i = static_cast<size_t>(field);
  return kFieldNames[i < kFieldNames.size() ? i : 0];
}

nlohmann::json number_or_null(float value) {
  double wide = static_cast<double>(value);
  if (!std::isfinite(wide)) return nullptr;
  return wide;
}

nlohmann::json field_value(const SpellBase& s, SpellExportField field) {
  switch (field) {
    case F::Name: return s.name;
    case F::Description: return s.description;
    case F::School: return s.school;
    case F::Category: return s.category;
    case F::Bitfield: return s.bitfield;
    case F::BaseMana: return s.base_mana;
    case F::BaseRangeConstant: return number_or_null(s.base_range_constant);
    case F::BaseRangeMod: return number_or_null(s.base_range_mod);
    case F::Power: return s.power;
    case F::RawComponents: {
      nlohmann::json list = nlohmann::json::array();
      for (uint32_t c : s.raw_components) list.push_back(c);
      return list;
    }
    case F::ManaMod: return s.mana_mod;
    case F::FormulaVersion: return s.formula_version;
  }
  return nullptr;
}

template <class T>
bool contains(const std::vector<T>& list, const T& value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

std::string_view debug_name(SpellExportField field) { return names_of(field).debug; }
std::string_view export_key(SpellExportField field) { return names_of(field).key; }

std::optional<SpellExportField> parse_spell_export_field(std::string_view key) {
  for (size_t i = 0; i < kFieldNames.size(); ++i)
    if (kFieldNames[i].key == key) return static_cast<SpellExportField>(i);
  return std::nullopt;
}

std::string_view debug_name(SpellExportPreset preset) {
  return preset == SpellExportPreset::Minimal ? "Minimal" : "Base";
}

std::optional<SpellExportPreset> parse_spell_export_preset(std::string_view name) {
  if (name == "base") return SpellExportPreset::Base;
  if (name == "minimal") return SpellExportPreset::Minimal;
  return std::nullopt;
}

std::span<const SpellExportField> preset_fields(SpellExportPreset preset) {
  if (preset == SpellExportPreset::Minimal) return kMinimalFields;
  return kBaseFields;
}

std::optional<SpellSchool> SpellSchool::from_school_number(uint32_t school) {
  if (school < 1 || school > 256) return std::nullopt;
  return SpellSchool{static_cast<uint8_t>(school - 1)};
}

std::vector<SpellExportField> SpellExportRequest::resolved_fields() const {
  std::span<const SpellExportField> source = fields.empty() ? preset_fields(preset) : std::span(fields);
  std::vector<SpellExportField> out;
  for (SpellExportField f : source)
    if (!contains(out, f)) out.push_back(f);
  return out;
}

SpellExportFile export_spell_table(const SpellTable& table, const SpellExportRequest& request) {
  SpellExportFile file;
  file.fields = request.resolved_fields();
  file.table_id = table.id;
  for (const auto& [id, spell] : table.spells) {
    if (!request.schools.empty() &&
        std::none_of(request.schools.begin(), request.schools.end(),
                     [&](SpellSchool k) { return k.school_number() == spell.school; }))
      continue;
    if (!request.categories.empty() && !contains(request.categories, spell.category)) continue;
    nlohmann::json object = nlohmann::json::object();
    for (SpellExportField f : file.fields) object[std::string(export_key(f))] = field_value(spell, f);
    file.spells.insert_or_assign(id, std::move(object));
  }
  return file;
}

nlohmann::ordered_json spell_export_document(const SpellExportFile& file) {
  nlohmann::ordered_json doc = nlohmann::ordered_json::object();
  doc["table_id"] = file.table_id;
  nlohmann::ordered_json fields = nlohmann::ordered_json::array();
  for (SpellExportField f : file.fields) fields.push_back(std::string(export_key(f)));
  doc["fields"] = std::move(fields);
  // std::map iterates ids numerically and ordered_json keeps insertion order,
  // so "9" stays before "10"; each spell object arrives with its sorted keys.
  nlohmann::ordered_json spells = nlohmann::ordered_json::object();
  for (const auto& [id, object] : file.spells) spells[std::to_string(id)] = nlohmann::ordered_json(object);
  doc["spells"] = std::move(spells);
  return doc;
}

std::string dump_spell_export(const SpellExportFile& file, bool compact) {
  return spell_export_document(file).dump(compact ? -1 : 2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace kdr
