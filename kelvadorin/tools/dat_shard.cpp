#include "kelvadorin/tools/dat_shard.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "kelvadorin/dat/archive/archive_source.hpp"
#include "kelvadorin/dat/archive/writer.hpp"
#include "kelvadorin/dat/landblock.hpp"
#include "kelvadorin/tools/atomic_output.hpp"

namespace kdr {

namespace {

// The text in double quotes with quotes, backslashes and control characters escaped.
std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    switch (ch) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7F)
          out += fmt::format("\\u{{{:x}}}", c);
        else
          out += ch;
    }
  }
  return out + "\"";
}

}  // namespace

std::expected<uint32_t, std::string> parse_hex_u32(std::string_view text) {
  auto fail = [&](std::string_view reason) {
    return std::unexpected(fmt::format("invalid hex u32 {}: {}", quoted(text), reason));
  };
  std::string_view rest = text;
  if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) rest.remove_prefix(2);
  if (rest.empty()) return fail("cannot parse integer from empty string");
  if (rest[0] == '+') {
    rest.remove_prefix(1);
    if (rest.empty()) return fail("invalid digit found in string");
  }
  uint64_t value = 0;
  for (char ch : rest) {
    int digit = ch >= '0' && ch <= '9' ? ch - '0'
                : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
                : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
                                         : -1;
    if (digit < 0) return fail("invalid digit found in string");
    value = value * 16 + static_cast<uint64_t>(digit);
    if (value > UINT32_MAX) return fail("number too large to fit in target type");
  }
  return static_cast<uint32_t>(value);
}

Result<Bytes> BundleSource::get_file_by_key(const ResourceKey& key) const {
  auto it = bundle_.find(std::pair<std::string, uint32_t>(std::string(key.namespace_), key.file_id));
  if (it == bundle_.end())
    return std::unexpected(DatError::other(fmt::format("BundleSource: missing {}:0x{:08X}", key.namespace_, key.file_id)));
  return it->second;
}

std::vector<uint32_t> spawn_neighborhood_cells(uint32_t spawn) {
  const int x0 = static_cast<int>((spawn >> 8) & 0xFF);
  const int y0 = static_cast<int>(spawn & 0xFF);
  std::vector<uint32_t> cells;
  cells.reserve(9);
  for (int dx = -1; dx <= 1; ++dx) {
    int x = x0 + dx;
    if (x < 0 || x > 255) continue;
    for (int dy = -1; dy <= 1; ++dy) {
      int y = y0 + dy;
      if (y < 0 || y > 255) continue;
      cells.push_back(static_cast<uint32_t>((x << 8) | y));
    }
  }
  return cells;
}

bool is_boot_essential(std::string_view namespace_label, uint32_t file_id, uint32_t spawn) {
  if (namespace_label == VUZ_PORTAL_NAMESPACE)
    return std::ranges::find(BOOT_PORTAL_ESSENTIALS, file_id) != BOOT_PORTAL_ESSENTIALS.end();
  if (namespace_label != VUZ_CELL_NAMESPACE) return false;
  uint32_t low = file_id & 0xFFFF;
  if (low != LANDBLOCK_RECORD_LOW && low != LANDBLOCK_INFO_LOW) return false;
  const std::vector<uint32_t> cells = spawn_neighborhood_cells(spawn);
  return std::ranges::find(cells, file_id >> 16) != cells.end();
}

KeepSet compute_boot_keep_set(const ResourceSource& source, uint32_t spawn) {
  KeepSet keep;
  // Essentials go in first, so every walk treats them as visited and stops there.
  for (uint32_t id : BOOT_PORTAL_ESSENTIALS) keep.emplace(std::string(VUZ_PORTAL_NAMESPACE), id);
  const std::vector<uint32_t> cells = spawn_neighborhood_cells(spawn);
  for (uint32_t lb : cells) {
    keep.emplace(std::string(VUZ_CELL_NAMESPACE), (lb << 16) | LANDBLOCK_RECORD_LOW);
    keep.emplace(std::string(VUZ_CELL_NAMESPACE), (lb << 16) | LANDBLOCK_INFO_LOW);
  }
  for (uint32_t lb : cells) {
    // A missing or undecodable info record only means nothing is walked from it.
    auto bytes = source.get_file_by_key(ResourceKey{VUZ_CELL_NAMESPACE, (lb << 16) | LANDBLOCK_INFO_LOW});
    if (!bytes) continue;
    auto info = LandblockInfo::unpack(*bytes);
    if (!info) continue;
    for (const Stab& stab : info->objects) walk_model(source, stab.id, keep, 0);
    for (const BuildInfo& building : info->buildings) walk_model(source, building.model_id, keep, 0);
  }
  return keep;
}

KeepSet compute_boot_keep_set(const Bundle& bundle, uint32_t spawn) {
  return compute_boot_keep_set(BundleSource(bundle), spawn);
}

std::vector<WalkKey> sorted_keys(const KeepSet& keys) {
  std::vector<WalkKey> out(keys.begin(), keys.end());
  std::ranges::sort(out);
  return out;
}

namespace {

bool index_order(const KdrEntry& a, const KdrEntry& b) {
  if (a.namespace_ != b.namespace_) return a.namespace_ < b.namespace_;
  return a.file_id < b.file_id;
}

}  // namespace

ToolResult<ShardSummary> write_boot_shard(const KdrReader& reader, const std::filesystem::path& out, uint32_t spawn,
                                          std::optional<std::filesystem::path> keys_out) {
  if (spawn > MAX_LANDBLOCK_ID)
    return std::unexpected(ToolError::validation(
        fmt::format("spawn 0x{:X} is not a landblock id: landblock ids run from 0x0000 to 0xFFFF", spawn)));

  ShardSummary summary;
  summary.spawn = spawn;
  summary.landblocks = spawn_neighborhood_cells(spawn);
  summary.bytes_in = reader.file_length();

  KdrReaderSource source(reader);
  const std::vector<WalkKey> keys = sorted_keys(compute_boot_keep_set(source, spawn));
  summary.source_reads = source.reads();
  summary.keys_in_set = keys.size();

  // Pick what to write before the output is touched: present keys of the set,
  // then the whole core namespace.
  std::vector<KdrEntry> chosen;
  std::string key_lines;
  for (const auto& [label, id] : keys) {
    auto entry = reader.find_entry_in_namespace(label, id);
    bool present = entry.has_value();
    if (!present && !entry.error().is<DatError::NotFound>())
      return std::unexpected(ToolError(ToolError::DatRead{id, entry.error()}));
    if (present)
      chosen.push_back(*entry);
    else
      ++summary.missing_keys;
    key_lines += fmt::format("{} 0x{:08X} {}\n", label, id, present ? "present" : "missing");
  }
  for (const KdrNamespaceIndexEntry& span : reader.namespaces()) {
    if (span.namespace_label() != CORE_NAMESPACE) continue;
    auto it = reader.entries(span);
    while (true) {
      auto next = it.next();
      if (!next) return std::unexpected(ToolError(ToolError::DatRead{0, next.error()}));
      if (!*next) break;
      chosen.push_back(**next);
    }
  }
  // Index order: the same input gives the same bytes.
  std::ranges::sort(chosen, index_order);

  KDR_ASSIGN_OR_RETURN(AtomicOutput output, AtomicOutput::begin(out));
  auto writer_failure = [&](const DatError& e) { return ToolError(ToolError::KdrWrite{out, e.display()}); };
  auto writer = KdrStreamWriter::create(output.temp_path());
  if (!writer) return std::unexpected(writer_failure(writer.error()));
  for (const KdrEntry& entry : chosen) {
    auto data = reader.read_entry_data(entry);
    if (!data) return std::unexpected(ToolError(ToolError::DatRead{entry.file_id, data.error()}));
    std::string label(entry.namespace_label());
    if (auto added = writer->add(label, entry.file_id, entry.type_id, std::move(*data)); !added)
      return std::unexpected(writer_failure(added.error()));
    ++summary.entries_per_namespace[label];
    ++summary.entries_written;
  }
  if (auto done = std::move(*writer).finish(); !done) return std::unexpected(writer_failure(done.error()));
  std::error_code ec;
  summary.bytes_out = std::filesystem::file_size(output.temp_path(), ec);

  KDR_TRY(output.commit());
  // One output in progress at a time, so an interrupt always knows what to remove.
  if (keys_out) {
    KDR_ASSIGN_OR_RETURN(AtomicOutput keys_file, AtomicOutput::begin(*keys_out));
    KDR_TRY(keys_file.write_all(key_lines));
    KDR_TRY(keys_file.commit());
  }
  return summary;
}

}  // namespace kdr
