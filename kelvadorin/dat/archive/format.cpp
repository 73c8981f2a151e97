#include "kelvadorin/dat/archive/format.hpp"

#include <algorithm>
#include <cstring>

namespace kdr {

namespace {
std::string_view label_of(const ResourceNamespace::Array& a) {
  auto zero = std::find(a.begin(), a.end(), std::byte{0});
  return {reinterpret_cast<const char*>(a.data()), static_cast<size_t>(zero - a.begin())};
}
}  // namespace

std::string_view KdrEntry::namespace_label() const { return label_of(namespace_); }
std::string_view KdrNamespaceIndexEntry::namespace_label() const { return label_of(namespace_); }

std::array<std::byte, KDR_HEADER_SIZE> encode_header(const KdrHeader& h) {
  std::array<std::byte, KDR_HEADER_SIZE> out{};
  std::memcpy(out.data(), h.magic.data(), 4);
  store_le(out.data() + 4, h.version);
  store_le(out.data() + 8, h.entry_count);
  store_le(out.data() + 12, h.index_offset);
  store_le(out.data() + 20, h.metadata_size);
  return out;
}

std::array<std::byte, KDR_ENTRY_SIZE> encode_entry(const KdrEntry& e) {
  std::array<std::byte, KDR_ENTRY_SIZE> out{};
  std::memcpy(out.data(), e.namespace_.data(), 32);
  store_le(out.data() + 32, e.file_id);
  store_le(out.data() + 36, e.type_id);
  store_le(out.data() + 40, e.offset);
  store_le(out.data() + 48, e.size);
  store_le(out.data() + 52, e.comp_size);
  store_le(out.data() + 56, e.flags);
  store_le(out.data() + 57, e.storage_id);
  store_le(out.data() + 58, e.reserved);
  return out;
}

std::array<std::byte, KDR_NAMESPACE_ENTRY_SIZE> encode_namespace_entry(const KdrNamespaceIndexEntry& e) {
  std::array<std::byte, KDR_NAMESPACE_ENTRY_SIZE> out{};
  std::memcpy(out.data(), e.namespace_.data(), 32);
  store_le(out.data() + 32, e.start_index);
  store_le(out.data() + 36, e.entry_count);
  return out;
}

}  // namespace kdr
