#include "kelvadorin/tools/record_json.hpp"

#include <algorithm>
#include <cmath>
#include <map>

#include "kelvadorin/dat/file_type/motion_kinematics.hpp"
#include "kelvadorin/dat/file_type/setup_model.hpp"
#include "kelvadorin/dat/file_type/surface.hpp"
#include "kelvadorin/dat/file_type/surface_texture.hpp"
#include "kelvadorin/dat/file_type/texture.hpp"
#include "kelvadorin/dat/landblock.hpp"
#include "kelvadorin/dat/resource_namespace.hpp"
#include "kelvadorin/dat/walk.hpp"

namespace kdr {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::pair<ShowKind, std::string_view> kNames[] = {
    {ShowKind::Setup, "setup"},           {ShowKind::LandblockInfo, "landblock-info"},
    {ShowKind::Surface, "surface"},       {ShowKind::SurfaceTexture, "surface-texture"},
    {ShowKind::Texture, "texture"},       {ShowKind::GfxSurfaces, "gfx-surfaces"},
    {ShowKind::Kinematics, "kinematics"},
};

Json id(uint32_t v) { return fmt::format("0x{:08X}", v); }
Json num(float f) { return std::isfinite(f) ? Json(static_cast<double>(f)) : Json(nullptr); }
Json opt_id(const std::optional<uint32_t>& v) { return v ? id(*v) : Json(nullptr); }
Json vec(const Vector3& v) { return Json{{"x", num(v.x)}, {"y", num(v.y)}, {"z", num(v.z)}}; }
Json quat(const Quaternion& q) { return Json{{"w", num(q.w)}, {"x", num(q.x)}, {"y", num(q.y)}, {"z", num(q.z)}}; }
template <class F>
Json frame(const F& f) {
  return Json{{"origin", vec(f.origin)}, {"orientation", quat(f.orientation)}};
}
Json sphere(const Sphere& s) { return Json{{"center", vec(s.center)}, {"radius", num(s.radius)}}; }
Json ids(const std::vector<uint32_t>& v) {
  Json out = Json::array();
  for (uint32_t x : v) out.push_back(id(x));
  return out;
}
Json hex_bytes(const Bytes& b) {
  std::string s;
  for (std::byte x : b) s += fmt::format("{:02X}", std::to_integer<unsigned>(x));
  return s;
}
// Hash maps print in key order so the same record always prints the same.
template <class Map, class Fn>
Json keyed(const Map& m, Fn&& value) {
  std::map<uint32_t, const typename Map::mapped_type*> sorted;
  for (const auto& [k, v] : m) sorted.emplace(k, &v);
  Json out = Json::object();
  for (const auto& [k, v] : sorted) out[fmt::format("0x{:08X}", k)] = value(*v);
  return out;
}

Json setup_json(const SetupModel& s) {
  Json parts_vec = Json::array();
  for (const auto& v : s.part_vectors) parts_vec.push_back(vec(v));
  Json cyl = Json::array();
  for (const auto& c : s.cyl_spheres) cyl.push_back({{"origin", vec(c.origin)}, {"radius", num(c.radius)}, {"height", num(c.height)}});
  Json spheres = Json::array();
  for (const auto& sp : s.spheres) spheres.push_back(sphere(sp));
  auto location = [](const LocationType& l) { return Json{{"part_id", l.part_id}, {"frame", frame(l.frame)}}; };
  return Json{
      {"id", id(s.id)},
      {"flags", id(s.flags)},
      {"parts", ids(s.parts)},
      {"part_values", s.part_values},
      {"part_vectors", parts_vec},
      {"locations_a", keyed(s.locations_a, location)},
      {"locations_b", keyed(s.locations_b, location)},
      {"placements", keyed(s.placements,
                           [](const PlacementType& p) {
                             Json frames = Json::array(), hooks = Json::array();
                             for (const auto& f : p.frames) frames.push_back(frame(f));
                             for (const auto& h : p.hooks)
                               hooks.push_back({{"hook_type", h.hook_type}, {"hook_word", h.hook_word}, {"payload", hex_bytes(h.payload)}});
                             return Json{{"frames", frames}, {"hooks", hooks}};
                           })},
      {"cyl_spheres", cyl},
      {"spheres", spheres},
      {"value_a", s.value_a},
      {"value_b", s.value_b},
      {"value_c", s.value_c},
      {"value_d", s.value_d},
      {"sphere_a", sphere(s.sphere_a)},
      {"sphere_b", sphere(s.sphere_b)},
      {"lights", keyed(s.lights,
                       [](const LightInfo& l) {
                         return Json{{"viewer_space_location", frame(l.viewer_space_location)}, {"color", l.color},
                                     {"intensity", l.intensity}, {"falloff", l.falloff}, {"cone_angle", l.cone_angle}};
                       })},
      {"ref_id_1", opt_id(s.ref_id_1)},
      {"ref_id_2", opt_id(s.ref_id_2)},
      {"default_motion_table", opt_id(s.default_motion_table)},
      {"ref_id_4", opt_id(s.ref_id_4)},
      {"ref_id_5", opt_id(s.ref_id_5)},
  };
}

Json landblock_json(const LandblockInfo& l) {
  Json objects = Json::array(), buildings = Json::array();
  for (const auto& s : l.objects) objects.push_back({{"id", id(s.id)}, {"frame", frame(s.frame)}});
  for (const auto& b : l.buildings) {
    Json portals = Json::array();
    for (const auto& p : b.portals)
      portals.push_back({{"flags", p.flags}, {"other_cell_id", p.other_cell_id}, {"other_portal_id", p.other_portal_id},
                         {"stab_list", p.stab_list}});
    buildings.push_back(
        {{"model_id", id(b.model_id)}, {"frame", frame(b.frame)}, {"num_leaves", b.num_leaves}, {"portals", portals}});
  }
  Json restriction = nullptr;
  if (l.restriction_tables) restriction = keyed(l.restriction_tables->tables, [](uint32_t v) { return Json(v); });
  return Json{{"id", id(l.id)},           {"num_cells", l.num_cells},   {"objects", objects},
              {"pack_mask", l.pack_mask}, {"buildings", buildings},     {"restriction_tables", restriction}};
}

Json kinematics_json(const MotionKinematics& k) {
  return Json{
      {"magic", id(k.magic)},
      {"version", k.version},
      {"setup_defaults", keyed(k.setup_defaults, [](uint32_t t) { return id(t); })},
      {"tables", keyed(k.tables,
                       [](const MotionKinematicsTable& t) {
                         return Json{{"motion_table_id", id(t.motion_table_id)},
                                     {"default_style", id(t.default_style)},
                                     {"cycles", keyed(t.cycles, [](const MotionCommandKinematics& c) {
                                        return Json{{"velocity", c.velocity ? vec(*c.velocity) : Json(nullptr)},
                                                    {"omega", c.omega ? vec(*c.omega) : Json(nullptr)}};
                                      })}};
                       })},
  };
}

template <class T>
std::expected<Json, std::string> render(const DecodeResult<T>& r, Json (*fn)(const T&)) {
  if (!r) return std::unexpected(r.error().description());
  return fn(*r);
}
template <class T>
std::expected<Json, std::string> render(const Result<T>& r, Json (*fn)(const T&)) {
  if (!r) {
    if (auto* bin = r.error().template get_if<DatError::BinRead>()) return std::unexpected(bin->cause.description());
    return std::unexpected(r.error().display());
  }
  return fn(*r);
}

}  // namespace

std::string_view show_kind_name(ShowKind kind) {
  for (const auto& [k, name] : kNames)
    if (k == kind) return name;
  return "?";
}

std::optional<ShowKind> parse_show_kind(std::string_view name) {
  for (const auto& [k, n] : kNames)
    if (n == name) return k;
  return std::nullopt;
}

std::optional<ShowKind> show_kind_for(std::string_view namespace_label, uint32_t file_id) {
  if (namespace_label == CORE_NAMESPACE && file_id == MotionKinematics::FILE_ID) return ShowKind::Kinematics;
  if (namespace_label == VUZ_CELL_NAMESPACE) {
    if ((file_id & 0xFFFF) == 0xFFFE) return ShowKind::LandblockInfo;
    return std::nullopt;
  }
  switch (file_id >> 24) {
    case 0x01: return ShowKind::GfxSurfaces;
    case 0x02: return ShowKind::Setup;
    case 0x05: return ShowKind::SurfaceTexture;
    case 0x06: return ShowKind::Texture;
    case 0x08: return ShowKind::Surface;
    default: return std::nullopt;
  }
}

std::expected<nlohmann::ordered_json, std::string> record_to_json(ShowKind kind, ByteView bytes) {
  switch (kind) {
    case ShowKind::Setup: {
      ByteCursor c(bytes);
      return render<SetupModel>(SetupModel::unpack(c), setup_json);
    }
    case ShowKind::LandblockInfo:
      return render<LandblockInfo>(LandblockInfo::unpack(bytes), landblock_json);
    case ShowKind::Surface:
      return render<Surface>(Surface::unpack(bytes), [](const Surface& s) {
        Json refs = nullptr;
        if (s.texture_refs)
          refs = Json{{"orig_texture_id", id(s.texture_refs->orig_texture_id)},
                      {"orig_palette_id", id(s.texture_refs->orig_palette_id)}};
        return Json{{"surface_type", id(s.surface_type)}, {"texture_refs", refs},
                    {"color_value", s.color_value ? Json(*s.color_value) : Json(nullptr)},
                    {"translucency", s.translucency}, {"luminosity", s.luminosity}, {"diffuse", s.diffuse}};
      });
    case ShowKind::SurfaceTexture:
      return render<SurfaceTexture>(SurfaceTexture::unpack(bytes), [](const SurfaceTexture& t) {
        return Json{{"id", id(t.id)}, {"unknown_int", t.unknown_int}, {"unknown_byte", t.unknown_byte},
                    {"textures", ids(t.textures)}};
      });
    case ShowKind::Texture:
      return render<Texture>(Texture::unpack(bytes), [](const Texture& t) {
        return Json{{"id", id(t.id)},         {"_unknown", t._unknown},     {"width", t.width},
                    {"height", t.height},     {"format_raw", t.format_raw}, {"length", t.length},
                    {"source_data", Json{{"length", t.source_data.size()}}},
                    {"default_palette_id", opt_id(t.default_palette_id)}};
      });
    case ShowKind::GfxSurfaces: {
      auto surfaces = read_gfx_obj_surfaces(bytes);
      if (!surfaces) return std::unexpected(std::string("graphics object too short for its surface list"));
      return Json{{"surfaces", ids(*surfaces)}};
    }
    case ShowKind::Kinematics: {
      ByteCursor c(bytes);
      return render<MotionKinematics>(MotionKinematics::read(c), kinematics_json);
    }
  }
  return std::unexpected(std::string("unknown record kind"));
}

}  // namespace kdr
