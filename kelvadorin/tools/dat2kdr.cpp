#include "kelvadorin/tools/dat2kdr.hpp"

#include <algorithm>

#include "kelvadorin/dat/resource_namespace.hpp"
#include "kelvadorin/tools/atomic_output.hpp"
#include "kelvadorin/tools/record_input.hpp"

namespace kdr {

ToolResult<std::string> resolve_namespace_hint(std::optional<std::string_view> explicit_label,
                                               const std::filesystem::path& input,
                                               std::optional<std::string_view> preset) {
  if (explicit_label) {
    auto ns = ResourceNamespace::create(*explicit_label);
    if (!ns) return std::unexpected(ToolError::validation(ns.error().display()));
    return std::string(*explicit_label);
  }
  if (preset) return std::string(*preset);
  return std::string(infer_input_namespace_fallback(input));
}

std::string_view infer_input_namespace_fallback(const std::filesystem::path& input) {
  if (!input.has_filename()) return VUZ_PORTAL_NAMESPACE;
  std::string stem = input.stem().native();
  if (stem.empty() || !utf8_error(stem).empty()) return VUZ_PORTAL_NAMESPACE;
  std::transform(stem.begin(), stem.end(), stem.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return stem.find("cell") != std::string::npos ? VUZ_CELL_NAMESPACE : VUZ_PORTAL_NAMESPACE;
}

uint32_t record_kind_code(std::string_view namespace_label, uint32_t file_id) {
  if (namespace_label == VUZ_CELL_NAMESPACE) {
    uint32_t low = file_id & 0xFFFF;
    return low == 0xFFFF ? 0xFF : low == 0xFFFE ? 0xFE : 0xFD;
  }
  return file_id >> 24;
}

ToolResult<ConvertSummary> convert_to_archive(const ConvertOptions& options, const std::filesystem::path& out,
                                              const std::function<void(const ConvertProgress&)>& progress) {
  struct Opened {
    std::unique_ptr<RecordInput> input;
    std::string label;
  };
  // Resolve and open every input before the output is touched.
  std::vector<Opened> inputs;
  ConvertProgress tally;
  ConvertSummary summary;
  for (const auto& spec : options.inputs) {
    std::optional<std::string_view> explicit_label, preset;
    if (options.explicit_namespace) explicit_label = *options.explicit_namespace;
    if (spec.preset) preset = *spec.preset;
    KDR_ASSIGN_OR_RETURN(std::string label, resolve_namespace_hint(explicit_label, spec.path, preset));
    KDR_ASSIGN_OR_RETURN(auto input, open_record_input(spec.path));
    tally.records_total += input->records().size();
    summary.skipped_files += input->skipped_files();
    inputs.push_back({std::move(input), std::move(label)});
  }

  KDR_ASSIGN_OR_RETURN(AtomicOutput output, AtomicOutput::begin(out));
  auto writer_failure = [&](const DatError& e) { return ToolError(ToolError::KdrWrite{out, e.display()}); };
  auto writer = KdrStreamWriter::create(output.temp_path());
  if (!writer) return std::unexpected(writer_failure(writer.error()));
  writer->compress = options.compress;

  for (const auto& [input, label] : inputs) {
    const auto& records = input->records();
    for (size_t i = 0; i < records.size(); ++i) {
      KDR_ASSIGN_OR_RETURN(Bytes data, input->read(i));
      uint64_t size = data.size();
      if (auto added = writer->add(label, records[i].file_id, record_kind_code(label, records[i].file_id),
                                   std::move(data));
          !added)
        return std::unexpected(writer_failure(added.error()));
      ++summary.entries_per_namespace[label];
      ++summary.records;
      summary.bytes_in += size;
      ++tally.records_done;
      tally.bytes_done += size;
      if (progress) progress(tally);
    }
  }
  if (auto done = std::move(*writer).finish(); !done) return std::unexpected(writer_failure(done.error()));
  std::error_code ec;
  summary.archive_bytes = std::filesystem::file_size(output.temp_path(), ec);
  KDR_TRY(output.commit());
  return summary;
}

}  // namespace kdr
