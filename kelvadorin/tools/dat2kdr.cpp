#include "kelvadorin/tools/dat2kdr.hpp"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "kelvadorin/dat/byte_cursor.hpp"
#include "kelvadorin/dat/file_type/animation.hpp"
#include "kelvadorin/dat/file_type/motion_table.hpp"
#include "kelvadorin/dat/file_type/setup_model.hpp"
#include "kelvadorin/dat/resource_namespace.hpp"
#include "kelvadorin/dat/utils.hpp"
#include "kelvadorin/tools/atomic_output.hpp"
#include "kelvadorin/tools/kinematics_derivation.hpp"
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

std::string_view convert_mode_name(ConvertMode mode) {
  switch (mode) {
    case ConvertMode::Full: return "full";
    case ConvertMode::Pruned: return "pruned";
    case ConvertMode::Micro: return "micro";
  }
  return "full";
}

std::optional<ConvertMode> parse_convert_mode(std::string_view name) {
  for (ConvertMode mode : {ConvertMode::Full, ConvertMode::Pruned, ConvertMode::Micro})
    if (convert_mode_name(mode) == name) return mode;
  return std::nullopt;
}

std::optional<StripperManifest> manifest_for_mode(ConvertMode mode) {
  switch (mode) {
    case ConvertMode::Full: return std::nullopt;
    case ConvertMode::Pruned: return StripperManifest::logic_only();
    case ConvertMode::Micro: return StripperManifest::micro();
  }
  return std::nullopt;
}

namespace {

constexpr uint32_t kSetupKind = 0x02;
constexpr uint32_t kMotionTableKind = 0x09;

struct Opened {
  std::unique_ptr<RecordInput> input;
  std::string label;
  // Cell inputs hold no portal assets; everything else feeds derivation.
  bool feeds_derivation() const { return label != VUZ_CELL_NAMESPACE; }
};

std::string undecodable(std::string_view what, std::string_view label, uint32_t id, const DecodeError& e) {
  return fmt::format("cannot decode {} {}:0x{}: {}", what, label, hex_id(id), e.description());
}

// Derivation reads only these fields; dropping the rest keeps the parsed
// assets of a large portal input small.
SetupModel derivation_part(SetupModel setup) {
  SetupModel kept;
  kept.id = setup.id;
  kept.default_motion_table = setup.default_motion_table;
  return kept;
}

MotionTable derivation_part(MotionTable table) {
  MotionTable kept;
  kept.id = table.id;
  kept.default_style = table.default_style;
  kept.cycles = std::move(table.cycles);
  return kept;
}

Animation derivation_part(Animation animation) {
  Animation kept;
  kept.id = animation.id;
  kept.flags = animation.flags;
  kept.num_parts = animation.num_parts;
  kept.num_frames = animation.num_frames;
  kept.pos_frames = std::move(animation.pos_frames);
  return kept;
}

// The first record with `file_id` among the derivation inputs, in input order.
struct Located {
  const Opened* opened = nullptr;
  size_t index = 0;
};

std::optional<Located> locate(const std::vector<Opened>& inputs, uint32_t file_id) {
  for (const auto& opened : inputs) {
    if (!opened.feeds_derivation()) continue;
    const auto& records = opened.input->records();
    auto it = std::lower_bound(records.begin(), records.end(), file_id,
                               [](const InputRecordInfo& r, uint32_t id) { return r.file_id < id; });
    if (it != records.end() && it->file_id == file_id)
      return Located{&opened, static_cast<size_t>(it - records.begin())};
  }
  return std::nullopt;
}

}  // namespace

ToolResult<ConvertSummary> convert_to_archive(const ConvertOptions& options, const std::filesystem::path& out,
                                              const std::function<void(const ConvertProgress&)>& progress) {
  // Resolve and open every input before the output is touched.
  std::vector<Opened> inputs;
  ConvertProgress tally;
  ConvertSummary summary;
  summary.mode = options.mode;
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
  const std::optional<StripperManifest> manifest = manifest_for_mode(options.mode);

  KDR_ASSIGN_OR_RETURN(AtomicOutput output, AtomicOutput::begin(out));
  auto writer_failure = [&](const DatError& e) { return ToolError(ToolError::KdrWrite{out, e.display()}); };
  auto writer = KdrStreamWriter::create(output.temp_path());
  if (!writer) return std::unexpected(writer_failure(writer.error()));
  writer->compress = options.compress;

  // A decode failure ends the run, or under skip_undecodable becomes a warning.
  auto refuse = [&](std::string text) -> ToolResult<void> {
    if (!options.skip_undecodable) return std::unexpected(ToolError::asset_derivation(std::move(text)));
    summary.warnings.push_back(std::move(text));
    ++summary.undecodable;
    return {};
  };

  std::vector<SetupModel> setups;
  std::vector<MotionTable> motion_tables;
  std::unordered_set<uint32_t> referenced;
  for (const auto& opened : inputs) {
    const auto& [input, label] = opened;
    const auto& records = input->records();
    for (size_t i = 0; i < records.size(); ++i) {
      const uint32_t file_id = records[i].file_id;
      const uint32_t kind = record_kind_code(label, file_id);
      KDR_ASSIGN_OR_RETURN(Bytes data, input->read(i));
      if (opened.feeds_derivation() && kind == kSetupKind) {
        ByteCursor cursor(data);
        if (auto setup = SetupModel::unpack(cursor))
          setups.push_back(derivation_part(std::move(*setup)));
        else
          KDR_TRY(refuse(undecodable("setup", label, file_id, setup.error())));
      } else if (opened.feeds_derivation() && kind == kMotionTableKind) {
        if (auto table = MotionTable::unpack(data)) {
          collect_referenced_animation_ids(*table, referenced);
          motion_tables.push_back(derivation_part(std::move(*table)));
        } else {
          KDR_TRY(refuse(undecodable("motion table", label, file_id, table.error())));
        }
      }

      const uint64_t size = data.size();
      summary.bytes_in += size;
      ++summary.records;
      if (!manifest || manifest->should_keep_entry(label, file_id, dat_file_type_from_code(kind))) {
        if (auto added = writer->add(label, file_id, kind, std::move(data)); !added)
          return std::unexpected(writer_failure(added.error()));
        ++summary.entries_per_namespace[label];
        ++summary.entries;
      } else {
        ++summary.dropped;
      }
      ++tally.records_done;
      tally.bytes_done += size;
      if (progress) progress(tally);
    }
  }

  // Second pass: only the animations derivation will look up, in ascending id
  // so the first failure reported does not depend on hashing.
  std::vector<uint32_t> wanted(referenced.begin(), referenced.end());
  std::sort(wanted.begin(), wanted.end());
  std::unordered_map<uint32_t, Animation> animations;
  // Skipped animations, each with the index of its warning.
  std::vector<std::pair<uint32_t, size_t>> skipped_animations;
  for (uint32_t id : wanted) {
    auto found = locate(inputs, id);
    if (!found) continue;  // derivation names the missing animation itself
    KDR_ASSIGN_OR_RETURN(Bytes data, found->opened->input->read(found->index));
    if (auto animation = Animation::unpack(data)) {
      animations.emplace(id, derivation_part(std::move(*animation)));
    } else {
      KDR_TRY(refuse(undecodable("animation", found->opened->label, id, animation.error())));
      skipped_animations.emplace_back(id, summary.warnings.size() - 1);
    }
  }
  // A table that needs a skipped animation cannot be derived; it is left out
  // rather than failing the run over a record the user chose to skip, and the
  // animation's warning names it.
  if (!skipped_animations.empty()) {
    std::vector<MotionTable> derivable;
    std::map<uint32_t, std::vector<std::string>> left_out;  // by animation id
    for (auto& table : motion_tables) {
      std::unordered_set<uint32_t> needs;
      collect_referenced_animation_ids(table, needs);
      bool derives = true;
      for (const auto& [animation_id, warning] : skipped_animations)
        if (needs.contains(animation_id)) {
          left_out[animation_id].push_back("0x" + hex_id(table.id));
          derives = false;
        }
      if (derives) derivable.push_back(std::move(table));
    }
    motion_tables = std::move(derivable);
    for (const auto& [animation_id, warning] : skipped_animations)
      if (auto it = left_out.find(animation_id); it != left_out.end())
        summary.warnings[warning] +=
            fmt::format("\n    motion tables left out of the kinematics asset: {}", fmt::join(it->second, ", "));
  }

  summary.setups = setups.size();
  summary.motion_tables = motion_tables.size();
  summary.animations = animations.size();
  KDR_ASSIGN_OR_RETURN(MotionKinematics asset, derive_motion_kinematics_from_parsed_portal_assets(
                                                   std::move(motion_tables), std::move(setups), animations));
  MemorySink sized;
  if (asset.write(sized)) summary.asset_bytes = sized.bytes().size();
  KDR_TRY(write_motion_kinematics_asset(asset, *writer, out));
  ++summary.entries_per_namespace[std::string(CORE_NAMESPACE)];
  ++summary.entries;

  if (auto done = std::move(*writer).finish(); !done) return std::unexpected(writer_failure(done.error()));
  std::error_code ec;
  summary.archive_bytes = std::filesystem::file_size(output.temp_path(), ec);
  KDR_TRY(output.commit());
  return summary;
}

}  // namespace kdr
