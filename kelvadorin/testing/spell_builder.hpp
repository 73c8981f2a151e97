// Spell-table record bytes from a model: the exact form the decoder reads.
#pragma once

#include <string_view>

#include "kelvadorin/dat/coding.hpp"
#include "kelvadorin/dat/file_type/spell_table.hpp"

namespace kdr::testing {

// The whole record. Spells, groups and group entries go out in ascending id
// order; every hash-table bucket size is written as 64. Texts are UTF-8 turned
// into Windows-1252 (code points it lacks and broken UTF-8 become '?'), and
// raw_components is cut or zero-filled to the eight the record holds.
// meta_data is written as held, whatever meta_spell_type says, so tests can
// state inconsistent records. Counts above 65535 are the caller's mistake.
Bytes build_spell_table(const SpellTable& table);

// One SpellBase record as it appears inside the table.
Bytes build_spell_base(const SpellBase& spell);

// One SpellText field: length, nibble-swapped Windows-1252 bytes, padding.
Bytes build_spell_text(std::string_view utf8);

}  // namespace kdr::testing
