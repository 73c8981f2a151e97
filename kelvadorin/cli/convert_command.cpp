#include <chrono>

#include "kelvadorin/cli/command.hpp"
#include "kelvadorin/tools/dat2kdr.hpp"

namespace kdr::cli {

namespace {

struct ConvertArgs {
  std::vector<std::string> inputs;
  std::vector<std::string> portal;
  std::vector<std::string> cell;
  std::string output;
  std::optional<std::string> namespace_label;
  std::string mode = "full";
  bool skip_undecodable = false;
  bool no_compress = false;
  bool quiet = false;
};

double mib(uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

int run_convert(const ConvertArgs& args) {
  ConvertOptions options;
  for (const auto& p : args.inputs) options.inputs.push_back({p, std::nullopt});
  for (const auto& p : args.portal) options.inputs.push_back({p, std::string(VUZ_PORTAL_NAMESPACE)});
  for (const auto& p : args.cell) options.inputs.push_back({p, std::string(VUZ_CELL_NAMESPACE)});
  if (options.inputs.empty()) return fail("no inputs given (pass INPUT folders, --portal DIR or --cell DIR)");
  options.explicit_namespace = args.namespace_label;
  options.compress = !args.no_compress;
  options.mode = parse_convert_mode(args.mode).value_or(ConvertMode::Full);  // CLI11 checked the name
  options.skip_undecodable = args.skip_undecodable;

  const bool show_progress = !args.quiet && stderr_is_terminal();
  const auto start = std::chrono::steady_clock::now();
  auto last = start;
  auto progress = [&](const ConvertProgress& p) {
    auto now = std::chrono::steady_clock::now();
    if (p.records_done != p.records_total && now - last < std::chrono::milliseconds(100)) return;
    last = now;
    double secs = std::chrono::duration<double>(now - start).count();
    fmt::print(stderr, "\r\x1b[2K{}/{} records, {:.1f} MiB, {:.1f} MiB/s", p.records_done, p.records_total,
               mib(p.bytes_done), secs > 0 ? mib(p.bytes_done) / secs : 0.0);
  };
  auto summary = convert_to_archive(options, args.output, show_progress ? progress : std::function<void(const ConvertProgress&)>{});
  if (show_progress) fmt::print(stderr, "\r\x1b[2K");
  if (!summary) return fail(summary.error().display());
  // Warnings go out even with --quiet: each names a record left out of derivation.
  for (const auto& warning : summary->warnings) fmt::print(stderr, "kdr: warning: {}\n", warning);
  if (!args.quiet) {
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    fmt::print("wrote {} ({} mode): {} entries from {} records in {:.2f} s\n", args.output,
               convert_mode_name(summary->mode), summary->entries, summary->records, secs);
    for (const auto& [ns, n] : summary->entries_per_namespace) fmt::print("  {:<20} {} entries\n", ns, n);
    if (summary->mode != ConvertMode::Full)
      fmt::print("  dropped by {} mode: {} records\n", convert_mode_name(summary->mode), summary->dropped);
    fmt::print("  kinematics asset: {} setups, {} motion tables, {} animations, {} bytes\n", summary->setups,
               summary->motion_tables, summary->animations, summary->asset_bytes);
    if (summary->undecodable > 0)
      fmt::print("  undecodable records skipped: {}\n", summary->undecodable);
    fmt::print("  resource bytes {}, archive bytes {}", summary->bytes_in, summary->archive_bytes);
    if (summary->bytes_in > 0)
      fmt::print(" ({:.1f}%)", 100.0 * static_cast<double>(summary->archive_bytes) / static_cast<double>(summary->bytes_in));
    fmt::print("\n");
    if (summary->skipped_files > 0)
      fmt::print(stderr, "kdr: warning: skipped {} files whose names are not record ids\n", summary->skipped_files);
  }
  return 0;
}

}  // namespace

Runner add_convert_command(CLI::App& app) {
  auto args = std::make_shared<ConvertArgs>();
  auto* sub = app.add_subcommand("convert", "Convert record folders or game data files into a KDR archive");
  sub->add_option("inputs", args->inputs,
                  "Input folders; the namespace of each is inferred from its name (\"cell\" in it: vuz/cell)");
  sub->add_option("-o,--output", args->output, "Archive to write (replaced only when the conversion succeeds)")
      ->required();
  sub->add_option("--portal", args->portal, "An input folder of portal records (namespace vuz/portal)");
  sub->add_option("--cell", args->cell, "An input folder of cell records (namespace vuz/cell)");
  sub->add_option("--namespace", args->namespace_label, "Namespace label for every input, overriding the others");
  sub->add_option("--mode", args->mode,
                  "full keeps every record; pruned keeps the record kinds the game logic needs; micro keeps five "
                  "data tables")
      ->check(CLI::IsMember({"full", "pruned", "micro"}))
      ->capture_default_str();
  sub->add_flag("--skip-undecodable", args->skip_undecodable,
                "Warn about setups, motion tables and animations that do not decode instead of failing; their "
                "bytes are still stored");
  sub->add_flag("--no-compress", args->no_compress, "Store every payload raw");
  sub->add_flag("-q,--quiet", args->quiet, "No progress display and no summary");
  return [args] { return run_convert(*args); };
}

}  // namespace kdr::cli
