// Decoded records as JSON, for `kdr show`: floats as numbers (NaN and
// infinities as null), ids as "0x%08X" strings, texture data as its length.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "kelvadorin/dat/coding.hpp"

namespace kdr {

enum class ShowKind { Setup, LandblockInfo, Surface, SurfaceTexture, Texture, GfxSurfaces, Kinematics };

// "setup", "landblock-info", "surface", "surface-texture", "texture", "gfx-surfaces", "kinematics".
std::string_view show_kind_name(ShowKind kind);
std::optional<ShowKind> parse_show_kind(std::string_view name);
// The kind a resource is shown as when none is asked for, from its key.
std::optional<ShowKind> show_kind_for(std::string_view namespace_label, uint32_t file_id);

// The record decoded as `kind`, or the decoder's whole description.
std::expected<nlohmann::ordered_json, std::string> record_to_json(ShowKind kind, ByteView bytes);

}  // namespace kdr
