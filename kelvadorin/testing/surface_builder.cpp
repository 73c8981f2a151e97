#include "kelvadorin/testing/surface_builder.hpp"

#include "kelvadorin/testing/byte_writer.hpp"

namespace kdr::testing {

Bytes packed_count(uint32_t count, PackedCountForm form) {
  if (form == PackedCountForm::Shortest)
    form = count < 0x80 ? PackedCountForm::OneByte
           : count < 0x4000 ? PackedCountForm::TwoBytes
                            : PackedCountForm::FourBytes;
  ByteWriter w;
  switch (form) {
    case PackedCountForm::OneByte:
      w.u8(static_cast<uint8_t>(count & 0x7F));
      break;
    case PackedCountForm::TwoBytes:
      w.u8(static_cast<uint8_t>(0x80 | ((count >> 8) & 0x3F))).u8(static_cast<uint8_t>(count & 0xFF));
      break;
    case PackedCountForm::FourBytes:
    case PackedCountForm::Shortest:
      // High half first with its low byte second, then the low half little-endian.
      w.u8(static_cast<uint8_t>(0xC0 | ((count >> 24) & 0x3F)))
          .u8(static_cast<uint8_t>((count >> 16) & 0xFF))
          .u16(static_cast<uint16_t>(count & 0xFFFF));
      break;
  }
  return w.take();
}

Bytes build_gfx_obj_declaring(uint32_t declared_count, const std::vector<uint32_t>& surfaces,
                              PackedCountForm form) {
  ByteWriter w;
  for (int i = 0; i < 8; ++i) w.u8(GFX_OBJ_LEADING_BYTE);
  w.bytes(packed_count(declared_count, form));
  for (uint32_t id : surfaces) w.u32(id);
  return w.take();
}

Bytes build_gfx_obj(const std::vector<uint32_t>& surfaces, PackedCountForm form) {
  return build_gfx_obj_declaring(static_cast<uint32_t>(surfaces.size()), surfaces, form);
}

Bytes build_surface(const Surface& s) {
  ByteWriter w;
  w.u32(s.surface_type);
  if (s.texture_refs)
    w.u32(s.texture_refs->orig_texture_id).u32(s.texture_refs->orig_palette_id);
  else
    w.u32(s.color_value.value_or(0));
  w.u32(s.translucency).u32(s.luminosity).u32(s.diffuse);
  return w.take();
}

Surface coloured_surface(uint32_t color_value) {
  Surface s;
  s.surface_type = 0x1;
  s.color_value = color_value;
  s.translucency = 0x3F000000;
  s.luminosity = 0x11223344;
  s.diffuse = 0x3F800000;
  return s;
}

Surface textured_surface(uint32_t orig_texture_id, uint32_t orig_palette_id) {
  Surface s;
  s.surface_type = 0x2;
  s.texture_refs = TextureRefs{orig_texture_id, orig_palette_id};
  s.translucency = 0;
  s.luminosity = 0x55667788;
  s.diffuse = 0x3F800000;
  return s;
}

Bytes build_surface_texture_declaring(const SurfaceTexture& st, int32_t declared_count) {
  ByteWriter w;
  w.u32(st.id).u32(st.unknown_int).u8(st.unknown_byte).i32(declared_count);
  for (uint32_t id : st.textures) w.u32(id);
  return w.take();
}

Bytes build_surface_texture(const SurfaceTexture& st) {
  return build_surface_texture_declaring(st, static_cast<int32_t>(st.textures.size()));
}

Bytes build_texture(const Texture& t) {
  ByteWriter w;
  w.u32(t.id).u32(t._unknown).u32(t.width).u32(t.height).u32(t.format_raw).i32(t.length);
  w.bytes(t.source_data);
  if (t.default_palette_id) w.u32(*t.default_palette_id);
  return w.take();
}

Texture make_texture(uint32_t id, uint32_t format_raw, Bytes source_data, uint32_t palette_id) {
  Texture t;
  t.id = id;
  t._unknown = 0xDEADBEEF;
  t.width = 2;
  t.height = 2;
  t.format_raw = format_raw;
  t.length = static_cast<int32_t>(source_data.size());
  t.source_data = std::move(source_data);
  if (Texture::has_default_palette(format_raw)) t.default_palette_id = palette_id;
  return t;
}

}  // namespace kdr::testing
