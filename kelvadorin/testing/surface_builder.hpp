// Record builders for the surface chain: graphics object surface lists,
// surfaces, surface textures and textures, values in and exact bytes out.
#pragma once

#include <cstdint>
#include <vector>

#include "kelvadorin/dat/coding.hpp"
#include "kelvadorin/dat/file_type/surface.hpp"
#include "kelvadorin/dat/file_type/surface_texture.hpp"
#include "kelvadorin/dat/file_type/texture.hpp"

namespace kdr::testing {

// The packed count of a graphics object: 1 byte up to 0x7F, 2 bytes up to
// 0x3FFF, 4 bytes up to 0x3FFFFFFF. Shortest picks the smallest that fits.
enum class PackedCountForm { Shortest, OneByte, TwoBytes, FourBytes };

// The count's bytes in the given form; bits that do not fit the form are
// dropped, so callers can also state counts no form allows.
Bytes packed_count(uint32_t count, PackedCountForm form = PackedCountForm::Shortest);

// The 8 leading bytes the surface reader skips. Not zero, so a reader that
// looks at them sees nonsense.
inline constexpr uint8_t GFX_OBJ_LEADING_BYTE = 0xA5;

// 8 leading bytes, the packed count of `surfaces`, then the ids.
Bytes build_gfx_obj(const std::vector<uint32_t>& surfaces, PackedCountForm form = PackedCountForm::Shortest);
// 8 leading bytes, the packed count `declared_count`, then `surfaces`: for
// counts the ids do not satisfy.
Bytes build_gfx_obj_declaring(uint32_t declared_count, const std::vector<uint32_t>& surfaces,
                              PackedCountForm form = PackedCountForm::Shortest);

// Writes `texture_refs` when present, else `color_value` (0 when absent),
// whatever `surface_type` says.
Bytes build_surface(const Surface& s);
// A coloured surface (type 1) and a textured one (type 2), other values fixed.
Surface coloured_surface(uint32_t color_value);
Surface textured_surface(uint32_t orig_texture_id, uint32_t orig_palette_id);

// The stored count is `textures.size()`.
Bytes build_surface_texture(const SurfaceTexture& st);
// The stored count is `declared_count`, followed by `st.textures`.
Bytes build_surface_texture_declaring(const SurfaceTexture& st, int32_t declared_count);

// Writes every field as given: `length` as stored, `source_data` whatever its
// size, `default_palette_id` when present whatever the format.
Bytes build_texture(const Texture& t);
// A consistent texture: `length` is the data size, and the palette id is
// present exactly for the paletted formats.
Texture make_texture(uint32_t id, uint32_t format_raw, Bytes source_data, uint32_t palette_id = 0);

}  // namespace kdr::testing
