// A container file over arbitrary bytes: opening never crashes or hangs, a
// directory that opens lists ascending ids, and every record either reads at
// its listed size or fails with its own id.
#include <cstdlib>

#include "kelvadorin/tools/container_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto bytes = reinterpret_cast<const std::byte*>(data);
  auto file = kdr::ContainerFile::open(std::make_unique<kdr::MemorySource>(kdr::Bytes(bytes, bytes + size)),
                                       "fuzz.dat");
  if (!file) {
    if (!file.error().is<kdr::ToolError::DatOpen>()) std::abort();
    return 0;
  }
  const auto& records = (*file)->records();
  for (size_t i = 0; i < records.size(); ++i) {
    if (i > 0 && records[i - 1].file_id >= records[i].file_id) std::abort();
    if (records[i].size > size) std::abort();
    auto r = (*file)->read(i);
    if (r) {
      if (r->size() != records[i].size) std::abort();
    } else {
      const auto* failed = r.error().get_if<kdr::ToolError::DatRead>();
      if (!failed || failed->id != records[i].file_id) std::abort();
    }
  }
  return 0;
}
