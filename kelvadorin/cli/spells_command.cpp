// The spells command: export the spell table of an archive or a loose record
// folder as a JSON document.
#include <cerrno>
#include <cstdio>

#include "kelvadorin/cli/command.hpp"
#include "kelvadorin/tools/atomic_output.hpp"
#include "kelvadorin/tools/spell_source.hpp"

namespace kdr::cli {

namespace {

struct SpellsArgs {
  std::string source;
  std::optional<std::string> output;
  SpellExportOptions options;
  bool compact = false;
};

int run_spells(const SpellsArgs& args) {
  auto request = spell_request_from_options(args.options);
  // A bad option value is a usage error, like those the option parser reports.
  if (!request) {
    fail(request.error());
    return 2;
  }
  auto table = load_spell_table(args.source);
  if (!table) return fail(table.error().display());
  SpellExportFile file = export_spell_table(*table, *request);
  std::string text = dump_spell_export(file, args.compact) + "\n";
  if (!args.output) {
    // Checked by hand: a closed pipe must end in a message, not an exception.
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
      return fail(fmt::format("cannot write to standard output: {}", IoError::from_errno(errno).description()));
    return 0;
  }
  auto cannot_write = [&](const ToolError& e) { return fail(fmt::format("cannot write {}: {}", *args.output, e.display())); };
  auto out = AtomicOutput::begin(*args.output);
  if (!out) return cannot_write(out.error());
  if (auto w = out->write_all(text); !w) return cannot_write(w.error());
  if (auto c = out->commit(); !c) return cannot_write(c.error());
  fmt::print("wrote {}: {} spells\n", *args.output, file.spells.size());
  return 0;
}

}  // namespace

Runner add_spells_command(CLI::App& app) {
  auto args = std::make_shared<SpellsArgs>();
  auto* sub = app.add_subcommand("spells", "Export the spell table (0x0E00000E) as JSON");
  sub->add_option("source", args->source,
                  "A .kdr archive (record read from vuz/portal) or a loose record folder holding 0E00000E")
      ->required();
  sub->add_option("-o,--output", args->output, "File to write (replaced only when the export succeeds)")
      ->type_name("FILE");
  sub->add_option("--fields", args->options.fields,
                  "Export keys separated by commas, in output order; overrides --preset")
      ->type_name("LIST");
  sub->add_option("--preset", args->options.preset, "Field list when --fields is absent: base (all) or minimal")
      ->type_name("NAME");
  // One value per occurrence (`--school 1 --school 4`), so nothing after it is taken as a school.
  sub->add_option("--school", args->options.schools, "Keep spells of this raw school number (repeatable)")
      ->type_name("N")
      ->allow_extra_args(false);
  sub->add_option("--category", args->options.categories, "Keep spells of this category, decimal (repeatable)")
      ->type_name("N")
      ->allow_extra_args(false);
  sub->add_flag("--compact", args->compact, "One line instead of two-space indentation");
  return [args] { return run_spells(*args); };
}

}  // namespace kdr::cli
