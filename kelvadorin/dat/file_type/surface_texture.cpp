#include "kelvadorin/dat/file_type/surface_texture.hpp"

#include "kelvadorin/dat/record.hpp"

namespace kdr {

DecodeResult<SurfaceTexture> SurfaceTexture::unpack(ByteView bytes) {
  ByteCursor c(bytes);
  SurfaceTexture st;
  Record r(c, "SurfaceTexture");
  r.field("id", st.id).field("unknown_int", st.unknown_int).field("unknown_byte", st.unknown_byte);
  r.field_with("textures", [&](ByteCursor& cur) -> DecodeResult<void> {
    KDR_ASSIGN_OR_RETURN(int32_t count, cur.read<int32_t>());
    if (count < 0)
      return std::unexpected(
          DecodeError::invalid_value(fmt::format("texture count {} is negative", count), cur.position()));
    return read_list(cur, static_cast<uint64_t>(count), st.textures);
  });
  return r.done(std::move(st));
}

}  // namespace kdr
