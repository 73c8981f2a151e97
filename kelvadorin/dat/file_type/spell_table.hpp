// The spell table (portal data table 0x0E00000E): every spell of the game
// keyed by spell id, plus the nested group collection, and its decoder.
//
// Byte form, little-endian, declared field by field:
//   SpellTable  id u32; spell_count u16, spell_bucket_size u16 (dropped),
//               spell_count x (spell id u32, SpellBase);
//               group_count u16, group_bucket_size u16 (dropped),
//               group_count x (group id u32, SpellGroup)
//   SpellGroup  entry_count u16, bucket_size u16 (dropped),
//               entry_count x (key u32, SpellGroupEntry)
//   SpellGroupEntry  id_count u32, id_count x u32
//   SpellBase   the members below in declaration order; meta_data is present
//               only for the meta spell types named below.
//   SpellText   length u16, `length` bytes with their 4-bit halves swapped,
//               zero bytes up to a multiple of 4 counted from the length.
//               The bytes are Windows-1252; the model holds UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "kelvadorin/dat/record.hpp"

namespace kdr {

// Meta data of spells whose effect runs for a while and wears off.
struct SpellDurationData {
  double duration = 0.0;
  float degrade_modifier = 0.0f;
  float degrade_limit = 0.0f;
  friend bool operator==(const SpellDurationData&, const SpellDurationData&) = default;
};

// Meta data of spells that open a portal.
struct SpellPortalData {
  double portal_lifetime = 0.0;
  friend bool operator==(const SpellPortalData&, const SpellPortalData&) = default;
};

using SpellMetaData = std::variant<SpellDurationData, SpellPortalData>;

struct SpellBase {
  // Meta spell types that carry meta data in the record.
  static constexpr uint32_t META_TYPE_DURATION = 1;
  static constexpr uint32_t META_TYPE_SHARED_DURATION = 12;
  static constexpr uint32_t META_TYPE_PORTAL = 7;

  std::string name;
  std::string description;
  uint32_t school = 0;
  uint32_t icon_id = 0;
  uint32_t category = 0;
  uint32_t bitfield = 0;
  uint32_t base_mana = 0;
  float base_range_constant = 0.0f;
  float base_range_mod = 0.0f;
  uint32_t power = 0;
  float spell_economy_mod = 0.0f;
  uint32_t formula_version = 0;
  float component_loss = 0.0f;
  uint32_t meta_spell_type = 0;
  uint32_t meta_spell_id = 0;
  // SpellDurationData for types 1 and 12, SpellPortalData for type 7.
  std::optional<SpellMetaData> meta_data;
  // Always eight entries in the record; any length in a model built by hand.
  std::vector<uint32_t> raw_components = std::vector<uint32_t>(8, 0);
  uint32_t caster_effect = 0;
  uint32_t target_effect = 0;
  uint32_t fizzle_effect = 0;
  double recovery_interval = 0.0;
  float recovery_amount = 0.0f;
  uint32_t display_order = 0;
  uint32_t non_component_target_type = 0;
  uint32_t mana_mod = 0;

  // A fresh spell: empty texts, eight zero components, every number 0, no meta data.
  static SpellBase default_spell() { return SpellBase{}; }

  friend bool operator==(const SpellBase&, const SpellBase&) = default;
};

struct SpellGroupEntry {
  std::vector<uint32_t> ids;
  friend bool operator==(const SpellGroupEntry&, const SpellGroupEntry&) = default;
};

using SpellGroup = std::unordered_map<uint32_t, SpellGroupEntry>;

struct SpellTable {
  static constexpr uint32_t FILE_ID = 0x0E00000E;

  std::unordered_map<uint32_t, SpellBase> spells;
  std::unordered_map<uint32_t, SpellGroup> groups;
  uint32_t id = 0;

  // Decodes a whole spell-table record; trailing bytes are ignored and a
  // repeated spell or group id replaces the earlier entry.
  static DecodeResult<SpellTable> unpack(ByteView data);

  friend bool operator==(const SpellTable&, const SpellTable&) = default;
};

// The Unicode code point of one Windows-1252 byte. The five codes the code
// page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the same number.
uint32_t cp1252_code_point(uint8_t byte);

// Windows-1252 bytes as UTF-8 text.
std::string cp1252_to_utf8(ByteView bytes);

template <>
struct Codec<SpellBase> {
  static constexpr uint64_t kMinSize = 128;
  static DecodeResult<SpellBase> read(ByteCursor& c);
};

template <>
struct Codec<SpellGroupEntry> {
  static constexpr uint64_t kMinSize = 4;
  static DecodeResult<SpellGroupEntry> read(ByteCursor& c);
};

template <>
struct Codec<SpellGroup> {
  static constexpr uint64_t kMinSize = 4;
  static DecodeResult<SpellGroup> read(ByteCursor& c);
};

template <>
struct Codec<SpellTable> {
  static constexpr uint64_t kMinSize = 12;
  static DecodeResult<SpellTable> read(ByteCursor& c);
};

}  // namespace kdr
