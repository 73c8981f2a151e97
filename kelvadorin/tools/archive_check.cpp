#include "kelvadorin/tools/archive_check.hpp"

#include <algorithm>
#include <cstring>

#include "kelvadorin/tools/atomic_output.hpp"

namespace kdr {

namespace {

std::string where(uint64_t index, const KdrEntry& e) {
  return fmt::format("entry {} ({}:0x{})", index, e.namespace_label(), hex_id(e.file_id));
}

struct PayloadRange {
  uint64_t begin;
  uint64_t end;
  uint64_t index;
};

}  // namespace

VerifyReport verify_archive(const KdrReader& reader) {
  VerifyReport report;
  const auto& spans = reader.namespaces();
  const uint64_t metadata_offset = reader.header().index_offset - reader.header().metadata_size;
  std::vector<PayloadRange> ranges;
  std::optional<KdrEntry> previous;
  size_t span = 0;
  auto it = reader.entries();
  for (uint64_t index = 0;; ++index) {
    auto next = it.next();
    if (!next) {
      report.failures.push_back(fmt::format("index record {}: {}", index, next.error().display()));
      break;
    }
    if (!*next) break;
    const KdrEntry& e = **next;
    ++report.entries;

    if (previous) {
      int c = std::memcmp(previous->namespace_.data(), e.namespace_.data(), e.namespace_.size());
      if (c > 0 || (c == 0 && previous->file_id >= e.file_id))
        report.failures.push_back(fmt::format("{}: index is not strictly sorted by namespace and file id", where(index, e)));
    }
    previous = e;
    while (span < spans.size() && index >= uint64_t{spans[span].start_index} + spans[span].entry_count) ++span;
    if (span < spans.size() && e.namespace_ != spans[span].namespace_)
      report.failures.push_back(fmt::format("{}: namespace differs from its span's namespace {}", where(index, e),
                                            spans[span].namespace_label()));
    uint64_t end = e.offset + e.comp_size;
    if (e.offset < KDR_HEADER_SIZE || end < e.offset || end > metadata_offset)
      report.failures.push_back(fmt::format("{}: payload {}..{} lies outside the data region {}..{}", where(index, e),
                                            e.offset, end, KDR_HEADER_SIZE, metadata_offset));
    else if (e.comp_size > 0)
      ranges.push_back({e.offset, end, index});

    auto found = reader.find_entry_in_namespace(e.namespace_label(), e.file_id);
    if (!found) {
      report.failures.push_back(fmt::format("{}: {}", where(index, e), found.error().display()));
      continue;
    }
    if (*found != e) {
      report.failures.push_back(fmt::format("{}: lookup finds a different index record", where(index, e)));
      continue;
    }
    auto data = reader.read_entry_data(*found);
    if (!data) {
      report.failures.push_back(fmt::format("{}: {}", where(index, e), data.error().display()));
      continue;
    }
    report.bytes += data->size();
  }
  std::sort(ranges.begin(), ranges.end(), [](const PayloadRange& a, const PayloadRange& b) { return a.begin < b.begin; });
  for (size_t i = 1; i < ranges.size(); ++i)
    if (ranges[i].begin < ranges[i - 1].end)
      report.failures.push_back(
          fmt::format("entry {}: payload overlaps the payload of entry {}", ranges[i].index, ranges[i - 1].index));
  return report;
}

bool is_safe_relative_label(std::string_view label) {
  if (label.empty() || label.front() == '/' || label.find('\\') != std::string_view::npos) return false;
  size_t start = 0;
  while (start <= label.size()) {
    size_t slash = label.find('/', start);
    std::string_view part = label.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return true;
}

ToolResult<ExtractSummary> extract_archive(const KdrReader& reader, const std::filesystem::path& dir,
                                           std::optional<std::string_view> namespace_label) {
  std::vector<const KdrNamespaceIndexEntry*> chosen;
  for (const auto& span : reader.namespaces()) {
    if (namespace_label && span.namespace_label() != *namespace_label) continue;
    if (!is_safe_relative_label(span.namespace_label()))
      return std::unexpected(ToolError::validation(fmt::format(
          "refusing to extract namespace '{}': it is not a safe relative folder name", span.namespace_label())));
    chosen.push_back(&span);
  }
  ExtractSummary summary;
  for (const auto* span : chosen) {
    std::filesystem::path folder = dir / std::string(span->namespace_label());
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return std::unexpected(ToolError(IoError::other(fmt::format("cannot create {}: {}", folder.string(), ec.message()))));
    auto it = reader.entries(*span);
    while (true) {
      auto next = it.next();
      if (!next) return std::unexpected(ToolError(ToolError::DatRead{0, next.error()}));
      if (!*next) break;
      auto data = reader.read_entry_data(**next);
      if (!data) return std::unexpected(ToolError(ToolError::DatRead{(*next)->file_id, data.error()}));
      KDR_ASSIGN_OR_RETURN(AtomicOutput out, AtomicOutput::begin(folder / (hex_id((*next)->file_id) + ".bin")));
      KDR_TRY(out.write_all(as_chars(*data)));
      KDR_TRY(out.commit());
      ++summary.files;
      summary.bytes += data->size();
    }
  }
  return summary;
}

}  // namespace kdr
