#include "kelvadorin/dat/file_type/texture.hpp"

#include "kelvadorin/dat/record.hpp"

namespace kdr {

Result<Texture> Texture::unpack(ByteView bytes) {
  ByteCursor c(bytes);
  Texture t;
  Record r(c, "Texture");
  r.field("id", t.id)
      .field("_unknown", t._unknown)
      .field("width", t.width)
      .field("height", t.height)
      .field("format_raw", t.format_raw)
      .field("length", t.length);
  // The check belongs to the count itself, not to a field: no context entry.
  if (r.ok() && t.length < 0)
    r.fail(DecodeError::assertion(
        fmt::format("count {} is out of range of an in-memory size", t.length), c.position()));
  r.bytes("source_data", t.length < 0 ? 0 : static_cast<uint64_t>(t.length), t.source_data);
  r.optional_field("default_palette_id", has_default_palette(t.format_raw), t.default_palette_id);
  KDR_ASSIGN_OR_RETURN(Texture out, r.done(std::move(t)));
  return out;
}

}  // namespace kdr
