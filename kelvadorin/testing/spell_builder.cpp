#include "kelvadorin/testing/spell_builder.hpp"

#include <algorithm>
#include <map>

#include "kelvadorin/testing/byte_writer.hpp"

namespace kdr::testing {

namespace {

constexpr uint16_t kBucketSize = 64;

// Inverse of the decoder's table, so the two can never disagree.
const std::map<uint32_t, uint8_t>& cp1252_bytes() {
  static const std::map<uint32_t, uint8_t> table = [] {
    std::map<uint32_t, uint8_t> m;
    for (int b = 0; b < 256; ++b) m.emplace(cp1252_code_point(static_cast<uint8_t>(b)), static_cast<uint8_t>(b));
    return m;
  }();
  return table;
}

// Next code point of UTF-8 text, or nullopt for a broken sequence (one byte is consumed).
std::optional<uint32_t> next_code_point(std::string_view s, size_t& i) {
  const auto at = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  const uint8_t lead = at(i);
  const size_t len = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (len == 0 || i + len > s.size()) {
    ++i;
    return std::nullopt;
  }
  uint32_t cp = len == 1 ? lead : lead & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) {
    if ((at(i + k) & 0xC0) != 0x80) {
      ++i;
      return std::nullopt;
    }
    cp = (cp << 6) | (at(i + k) & 0x3F);
  }
  i += len;
  return cp;
}

template <class Map>
std::vector<typename Map::key_type> sorted_keys(const Map& m) {
  std::vector<typename Map::key_type> keys;
  keys.reserve(m.size());
  for (const auto& [k, v] : m) keys.push_back(k);
  std::sort(keys.begin(), keys.end());
  return keys;
}

void write_spell(ByteWriter& w, const SpellBase& s) {
  w.bytes(build_spell_text(s.name)).bytes(build_spell_text(s.description));
  w.u32(s.school).u32(s.icon_id).u32(s.category).u32(s.bitfield).u32(s.base_mana);
  w.f32(s.base_range_constant).f32(s.base_range_mod).u32(s.power).f32(s.spell_economy_mod);
  w.u32(s.formula_version).f32(s.component_loss).u32(s.meta_spell_type).u32(s.meta_spell_id);
  if (s.meta_data) {
    if (const auto* d = std::get_if<SpellDurationData>(&*s.meta_data))
      w.f64(d->duration).f32(d->degrade_modifier).f32(d->degrade_limit);
    else if (const auto* p = std::get_if<SpellPortalData>(&*s.meta_data))
      w.f64(p->portal_lifetime);
  }
  for (size_t i = 0; i < 8; ++i) w.u32(i < s.raw_components.size() ? s.raw_components[i] : 0);
  w.u32(s.caster_effect).u32(s.target_effect).u32(s.fizzle_effect);
  w.f64(s.recovery_interval).f32(s.recovery_amount);
  w.u32(s.display_order).u32(s.non_component_target_type).u32(s.mana_mod);
}

}  // namespace

Bytes build_spell_text(std::string_view utf8) {
  Bytes encoded;
  const auto& table = cp1252_bytes();
  for (size_t i = 0; i < utf8.size();) {
    std::optional<uint32_t> cp = next_code_point(utf8, i);
    auto it = cp ? table.find(*cp) : table.end();
    encoded.push_back(static_cast<std::byte>(it == table.end() ? '?' : it->second));
  }
  ByteWriter w;
  w.u16(static_cast<uint16_t>(encoded.size()));
  for (std::byte b : encoded) w.u8(std::to_integer<uint8_t>((b << 4) | (b >> 4)));
  w.align(4);
  return w.take();
}

Bytes build_spell_base(const SpellBase& spell) {
  ByteWriter w;
  write_spell(w, spell);
  return w.take();
}

Bytes build_spell_table(const SpellTable& table) {
  ByteWriter w;
  w.u32(table.id).u16(static_cast<uint16_t>(table.spells.size())).u16(kBucketSize);
  for (uint32_t id : sorted_keys(table.spells)) {
    w.u32(id);
    write_spell(w, table.spells.at(id));
  }
  w.u16(static_cast<uint16_t>(table.groups.size())).u16(kBucketSize);
  for (uint32_t group_id : sorted_keys(table.groups)) {
    const SpellGroup& group = table.groups.at(group_id);
    w.u32(group_id).u16(static_cast<uint16_t>(group.size())).u16(kBucketSize);
    for (uint32_t key : sorted_keys(group)) {
      const SpellGroupEntry& entry = group.at(key);
      w.u32(key).u32(static_cast<uint32_t>(entry.ids.size()));
      for (uint32_t id : entry.ids) w.u32(id);
    }
  }
  return w.take();
}

}  // namespace kdr::testing
