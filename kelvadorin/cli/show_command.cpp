#include "kelvadorin/cli/command.hpp"
#include "kelvadorin/dat/archive/reader.hpp"
#include "kelvadorin/tools/record_json.hpp"

namespace kdr::cli {

namespace {

struct ShowArgs {
  std::string path;
  std::string label;
  std::string id;
  std::optional<std::string> kind;
};

constexpr std::string_view kKinds = "setup, landblock-info, surface, surface-texture, texture, gfx-surfaces, kinematics";

int run_show(const ShowArgs& args) {
  auto id = parse_id_argument(args.id);
  if (!id) return 1;
  std::optional<ShowKind> kind;
  if (args.kind) {
    kind = parse_show_kind(*args.kind);
    if (!kind) return fail(fmt::format("unknown record kind '{}'; kinds: {}", *args.kind, kKinds));
  } else {
    kind = show_kind_for(args.label, *id);
    if (!kind)
      return fail(fmt::format("no record kind is known for {}:0x{:08X}; choose one with --as ({})", args.label, *id,
                              kKinds));
  }
  auto reader = KdrReader::open(args.path);
  if (!reader) return fail(reader.error().display());
  auto data = reader->get_file_in_namespace(args.label, *id);
  if (!data) return fail(data.error().display());
  auto json = record_to_json(*kind, *data);
  if (!json)
    return fail(fmt::format("cannot decode {}:0x{:08X} as {}: {}", args.label, *id, show_kind_name(*kind), json.error()));
  fmt::print("{}\n", json->dump(2));
  return 0;
}

}  // namespace

Runner add_show_command(CLI::App& app) {
  auto args = std::make_shared<ShowArgs>();
  auto* sub = app.add_subcommand("show", "Decode one resource and print it as JSON");
  sub->add_option("archive", args->path, "The .kdr archive")->required();
  sub->add_option("namespace", args->label, "Namespace label, e.g. vuz/portal")->required();
  sub->add_option("id", args->id, "File id in hexadecimal, with or without 0x")->required();
  sub->add_option("--as", args->kind, std::string("Record kind to decode as: ") + std::string(kKinds) +
                                          " (default: chosen from the id)");
  return [args] { return run_show(*args); };
}

}  // namespace kdr::cli
