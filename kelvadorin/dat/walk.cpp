#include "kelvadorin/dat/walk.hpp"

#include "kelvadorin/dat/byte_cursor.hpp"
#include "kelvadorin/dat/file_type/setup_model.hpp"
#include "kelvadorin/dat/file_type/surface.hpp"
#include "kelvadorin/dat/file_type/surface_texture.hpp"
#include "kelvadorin/dat/file_type/texture.hpp"

namespace kdr {

namespace {

uint32_t byte_at(ByteView bytes, size_t i) { return std::to_integer<uint32_t>(bytes[i]); }

constexpr uint32_t KIND_GFX_OBJ = 0x01;
constexpr uint32_t KIND_SETUP = 0x02;

// Inserts the portal key; true when it was new.
bool mark(VisitedSet& visited, uint32_t id) { return visited.emplace(std::string(VUZ_PORTAL_NAMESPACE), id).second; }

Result<Bytes> fetch(const ResourceSource& source, uint32_t id) {
  return source.get_file_by_key(ResourceKey{VUZ_PORTAL_NAMESPACE, id});
}

// One surface of a graphics object, down to its last texture's palette.
void walk_surface(const ResourceSource& source, uint32_t surface_id, VisitedSet& visited) {
  if (!mark(visited, surface_id)) return;
  auto surface_bytes = fetch(source, surface_id);
  if (!surface_bytes) return;
  auto surface = Surface::unpack(*surface_bytes);
  if (!surface || !surface->texture_refs) return;
  const TextureRefs& refs = *surface->texture_refs;
  if (refs.orig_palette_id != 0) mark(visited, refs.orig_palette_id);
  if (!mark(visited, refs.orig_texture_id)) return;
  auto st_bytes = fetch(source, refs.orig_texture_id);
  if (!st_bytes) return;
  auto surface_texture = SurfaceTexture::unpack(*st_bytes);
  if (!surface_texture || surface_texture->textures.empty()) return;
  // Only the last texture is drawn; the earlier ones are never needed.
  uint32_t texture_id = surface_texture->textures.back();
  if (!mark(visited, texture_id)) return;
  auto texture_bytes = fetch(source, texture_id);
  if (!texture_bytes) return;
  auto texture = Texture::unpack(*texture_bytes);
  if (!texture) return;
  // Palettes are only named, never fetched; a stored 0 is a key like any other.
  if (texture->default_palette_id) mark(visited, *texture->default_palette_id);
}

}  // namespace

std::optional<std::vector<uint32_t>> read_gfx_obj_surfaces(ByteView bytes) {
  constexpr size_t kCountAt = 8;
  if (bytes.size() < kCountAt + 1) return std::nullopt;
  uint32_t b = byte_at(bytes, kCountAt);
  uint64_t count = 0;
  size_t start = 0;
  if (b < 0x80) {
    count = b;
    start = kCountAt + 1;
  } else if ((b & 0x40) == 0) {
    if (bytes.size() < kCountAt + 2) return std::nullopt;
    count = ((b & 0x3F) << 8) | byte_at(bytes, kCountAt + 1);
    start = kCountAt + 2;
  } else {
    // High half: b and byte 9 (its low byte); low half: bytes 10-11 little-endian.
    if (bytes.size() < kCountAt + 4) return std::nullopt;
    count = ((b & 0x3F) << 24) | (byte_at(bytes, kCountAt + 1) << 16) | (byte_at(bytes, kCountAt + 3) << 8) |
            byte_at(bytes, kCountAt + 2);
    start = kCountAt + 4;
  }
  // Every announced id must be there before anything is allocated.
  if ((bytes.size() - start) / 4 < count) return std::nullopt;
  std::vector<uint32_t> ids(static_cast<size_t>(count));
  for (size_t i = 0; i < ids.size(); ++i) ids[i] = load_le<uint32_t>(bytes.data() + start + 4 * i);
  return ids;
}

void walk_model(const ResourceSource& source, uint32_t model_id, VisitedSet& visited, unsigned depth) {
  if (depth > WALK_MAX_DEPTH) return;
  if (!mark(visited, model_id)) return;
  auto bytes = fetch(source, model_id);
  if (!bytes) return;
  switch (model_id >> 24) {
    case KIND_GFX_OBJ: {
      auto surfaces = read_gfx_obj_surfaces(*bytes);
      if (!surfaces) return;
      for (uint32_t s : *surfaces) walk_surface(source, s, visited);
      return;
    }
    case KIND_SETUP: {
      ByteCursor c(*bytes);
      auto setup = SetupModel::unpack(c);
      if (!setup) return;
      for (uint32_t part : setup->parts) walk_model(source, part, visited, depth + 1);
      return;
    }
    default:
      return;
  }
}

}  // namespace kdr
