// Opens arbitrary bytes as an archive, then lists, finds and reads every entry.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kelvadorin/dat/archive/reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kdr::Bytes bytes(size);
  if (size) std::memcpy(bytes.data(), data, size);
  auto reader = kdr::KdrReader::from_source(std::make_unique<kdr::MemorySource>(std::move(bytes)));
  if (!reader) return 0;
  auto it = reader->entries();
  for (int i = 0; i < 4096; ++i) {
    auto next = it.next();
    if (!next || !*next) break;
    const kdr::KdrEntry& e = **next;
    // Corrupt sizes may claim gigabytes; only decode what a fuzz input can plausibly hold.
    if (e.size <= (1u << 24)) (void)reader->read_entry_data(e);
    if (!e.namespace_label().empty() && e.namespace_label().size() <= 32)
      (void)reader->find_entry_in_namespace(e.namespace_label(), e.file_id);
  }
  (void)reader->find_entry_in_namespace("vuz/portal", 0x0E00000E);
  return 0;
}
