// Spell-table record bytes through the decoder and, when they decode, through
// the export and both text forms of its document.
#include <cstddef>
#include <cstdint>

#include "kelvadorin/dat/file_type/spell_table.hpp"
#include "kelvadorin/tools/spell_export.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kdr::ByteView bytes(reinterpret_cast<const std::byte*>(data), size);
  auto table = kdr::SpellTable::unpack(bytes);
  if (!table) {
    (void)table.error().description();
    return 0;
  }
  kdr::SpellExportRequest all;
  (void)kdr::dump_spell_export(kdr::export_spell_table(*table, all), false);

  kdr::SpellExportRequest narrow;
  narrow.preset = kdr::SpellExportPreset::Minimal;
  narrow.schools = {kdr::SpellSchool{0}, kdr::SpellSchool{1}};
  if (!table->spells.empty()) narrow.categories = {table->spells.begin()->second.category};
  (void)kdr::dump_spell_export(kdr::export_spell_table(*table, narrow), true);
  return 0;
}
