#include "kelvadorin/dat/file_type/surface.hpp"

namespace kdr {

DecodeResult<Surface> Surface::unpack(ByteView bytes) {
  ByteCursor c(bytes);
  Surface s;
  Record r(c, "Surface");
  r.field("surface_type", s.surface_type);
  bool textured = is_textured_type(s.surface_type);
  r.optional_field("texture_refs", textured, s.texture_refs)
      .optional_field("color_value", !textured, s.color_value)
      .field("translucency", s.translucency)
      .field("luminosity", s.luminosity)
      .field("diffuse", s.diffuse);
  return r.done(std::move(s));
}

}  // namespace kdr
