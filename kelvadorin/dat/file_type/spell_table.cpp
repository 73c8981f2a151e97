#include "kelvadorin/dat/file_type/spell_table.hpp"

#include <array>

namespace kdr {

namespace {

// Code points of Windows-1252 bytes 0x80 to 0x9F; the rest equal their byte.
constexpr std::array<uint16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

void append_utf8(std::string& out, uint32_t cp) {
  auto put = [&](uint32_t v) { out.push_back(static_cast<char>(static_cast<uint8_t>(v))); };
  if (cp < 0x80) {
    put(cp);
  } else if (cp < 0x800) {
    put(0xC0 | (cp >> 6));
    put(0x80 | (cp & 0x3F));
  } else {
    // Every Windows-1252 code point lies in the Basic Multilingual Plane.
    put(0xE0 | (cp >> 12));
    put(0x80 | ((cp >> 6) & 0x3F));
    put(0x80 | (cp & 0x3F));
  }
}

// A SpellText field: the stored bytes have their two 4-bit halves swapped,
// and padding up to a multiple of 4 from the length's first byte follows.
// Missing padding is a shortfall of the text itself, not of the next field.
DecodeResult<void> read_spell_text(ByteCursor& cursor, std::string& out) {
  const uint64_t start = cursor.position();
  uint16_t length = 0;
  Bytes stored;
  Record r(cursor, "SpellText");
  r.field("length", length)
      .bytes("bytes", length, stored)
      .field_with("padding", [&](ByteCursor& c) -> DecodeResult<void> {
        const uint64_t pad = (4 - (c.position() - start) % 4) % 4;
        if (c.remaining() < pad) return std::unexpected(DecodeError::unexpected_end());
        c.skip(pad);
        return {};
      });
  KDR_TRY(r.status());
  for (std::byte& b : stored) b = (b << 4) | (b >> 4);
  out = cp1252_to_utf8(stored);
  return {};
}

DecodeResult<void> read_meta_data(ByteCursor& c, uint32_t meta_type, std::optional<SpellMetaData>& out) {
  out.reset();
  if (meta_type == SpellBase::META_TYPE_DURATION || meta_type == SpellBase::META_TYPE_SHARED_DURATION) {
    SpellDurationData d;
    Record r(c, "SpellDurationData");
    r.field("duration", d.duration).field("degrade_modifier", d.degrade_modifier).field("degrade_limit", d.degrade_limit);
    KDR_ASSIGN_OR_RETURN(d, r.done(d));
    out = d;
  } else if (meta_type == SpellBase::META_TYPE_PORTAL) {
    SpellPortalData p;
    Record r(c, "SpellPortalData");
    r.field("portal_lifetime", p.portal_lifetime);
    KDR_ASSIGN_OR_RETURN(p, r.done(p));
    out = p;
  }
  return {};
}

}  // namespace

uint32_t cp1252_code_point(uint8_t byte) {
  return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte;
}

std::string cp1252_to_utf8(ByteView bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::byte b : bytes) append_utf8(out, cp1252_code_point(std::to_integer<uint8_t>(b)));
  return out;
}

DecodeResult<SpellBase> Codec<SpellBase>::read(ByteCursor& c) {
  SpellBase s;
  Record r(c, "SpellBase");
  r.field_with("name", [&](ByteCursor& in) { return read_spell_text(in, s.name); })
      .field_with("description", [&](ByteCursor& in) { return read_spell_text(in, s.description); })
      .field("school", s.school)
      .field("icon_id", s.icon_id)
      .field("category", s.category)
      .field("bitfield", s.bitfield)
      .field("base_mana", s.base_mana)
      .field("base_range_constant", s.base_range_constant)
      .field("base_range_mod", s.base_range_mod)
      .field("power", s.power)
      .field("spell_economy_mod", s.spell_economy_mod)
      .field("formula_version", s.formula_version)
      .field("component_loss", s.component_loss)
      .field("meta_spell_type", s.meta_spell_type)
      .field("meta_spell_id", s.meta_spell_id)
      .field_with("meta_data", [&](ByteCursor& in) { return read_meta_data(in, s.meta_spell_type, s.meta_data); })
      .list("raw_components", 8, s.raw_components)
      .field("caster_effect", s.caster_effect)
      .field("target_effect", s.target_effect)
      .field("fizzle_effect", s.fizzle_effect)
      .field("recovery_interval", s.recovery_interval)
      .field("recovery_amount", s.recovery_amount)
      .field("display_order", s.display_order)
      .field("non_component_target_type", s.non_component_target_type)
      .field("mana_mod", s.mana_mod);
  return r.done(std::move(s));
}

DecodeResult<SpellGroupEntry> Codec<SpellGroupEntry>::read(ByteCursor& c) {
  SpellGroupEntry e;
  uint32_t id_count = 0;
  Record r(c, "SpellGroupEntry");
  r.field("id_count", id_count).list("ids", id_count, e.ids);
  return r.done(std::move(e));
}

DecodeResult<SpellGroup> Codec<SpellGroup>::read(ByteCursor& c) {
  SpellGroup g;
  uint16_t entry_count = 0;
  uint16_t bucket_size = 0;
  Record r(c, "SpellGroup");
  r.field("entry_count", entry_count)
      .field("bucket_size", bucket_size)
      .field_with("entries", [&](ByteCursor& in) { return read_map<uint32_t, SpellGroupEntry>(in, entry_count, g); });
  return r.done(std::move(g));
}

DecodeResult<SpellTable> Codec<SpellTable>::read(ByteCursor& c) {
  SpellTable t;
  uint16_t spell_count = 0;
  uint16_t spell_bucket_size = 0;
  uint16_t group_count = 0;
  uint16_t group_bucket_size = 0;
  Record r(c, "SpellTable");
  r.field("id", t.id)
      .field("spell_count", spell_count)
      .field("spell_bucket_size", spell_bucket_size)
      .field_with("spells", [&](ByteCursor& in) { return read_map<uint32_t, SpellBase>(in, spell_count, t.spells); })
      .field("group_count", group_count)
      .field("group_bucket_size", group_bucket_size)
      .field_with("groups", [&](ByteCursor& in) { return read_map<uint32_t, SpellGroup>(in, group_count, t.groups); });
  return r.done(std::move(t));
}

DecodeResult<SpellTable> SpellTable::unpack(ByteView data) {
  ByteCursor c(data);
  return decode<SpellTable>(c);
}

}  // namespace kdr
