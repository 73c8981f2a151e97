// Writes the bundled sample world as loose record folders: OUT/portal/ and
// OUT/cell/, one file per record named by its file id.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <fmt/format.h>

#include "kelvadorin/testing/byte_writer.hpp"

namespace {

void write_record(const std::filesystem::path& dir, uint32_t id, const kdr::Bytes& data) {
  std::ofstream out(dir / fmt::format("{:08X}.bin", id), std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: sample_world OUT_DIR\n");
    return 2;
  }
  std::filesystem::path out = argv[1];
  std::filesystem::create_directories(out / "portal");
  std::filesystem::create_directories(out / "cell");
  for (uint32_t i = 0; i < 8; ++i) {
    kdr::testing::ByteWriter w;
    w.u32(0x01000000 + i).text("sample graphics object ").zeros(200 + 16 * i);
    write_record(out / "portal", 0x01000000 + i, w.take());
  }
  for (uint32_t lb : {0xA8B3u, 0xA9B4u, 0xAAB5u}) {
    write_record(out / "cell", (lb << 16) | 0xFFFF, kdr::testing::ByteWriter().u32((lb << 16) | 0xFFFF).zeros(252).take());
    write_record(out / "cell", (lb << 16) | 0xFFFE,
                 kdr::testing::ByteWriter().u32((lb << 16) | 0xFFFE).u32(0).u32(0).u16(0).u16(0).take());
  }
  return 0;
}
