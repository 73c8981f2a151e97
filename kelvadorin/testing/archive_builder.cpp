#include "kelvadorin/testing/archive_builder.hpp"

#include <cstdio>
#include <cstdlib>

#include "kelvadorin/testing/fault_sink.hpp"

namespace kdr::testing {

Bytes build_archive(const std::vector<Resource>& resources, bool compress) {
  Bytes out;
  auto writer = KdrStreamWriter::create(std::make_unique<ScriptedSink>(out));
  if (!writer) std::abort();
  writer->compress = compress;
  for (const auto& r : resources) {
    if (auto s = writer->add(r.namespace_label, r.file_id, r.type_id, r.data); !s) {
      std::fprintf(stderr, "build_archive: %s\n", s.error().display().c_str());
      std::abort();
    }
  }
  if (!std::move(*writer).finish()) std::abort();
  return out;
}

Result<KdrReader> open_archive_bytes(Bytes archive) {
  return KdrReader::from_source(std::make_unique<MemorySource>(std::move(archive)));
}

}  // namespace kdr::testing
