#include "kelvadorin/dat/archive/archive_source.hpp"

namespace kdr {

Result<Bytes> KdrReaderSource::get_file_by_key(const ResourceKey& key) const {
  ++reads_;
  auto data = reader_->get_file_in_namespace(key.namespace_, key.file_id);
  if (data) ++hits_;
  return data;
}

}  // namespace kdr
