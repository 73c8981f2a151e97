// kdr shard: the boot shard of an archive around a spawn landblock.
#include "kelvadorin/cli/command.hpp"
#include "kelvadorin/dat/archive/reader.hpp"
#include "kelvadorin/tools/dat_shard.hpp"

namespace kdr::cli {

namespace {

struct ShardArgs {
  std::string input;
  std::string output;
  std::string spawn = "0xA9B4";
  std::optional<std::string> keys_out;
  bool quiet = false;
};

int run_shard(const ShardArgs& args) {
  auto spawn = parse_id_argument(args.spawn);
  if (!spawn) return 1;
  if (*spawn > MAX_LANDBLOCK_ID)
    return fail(fmt::format("spawn {} is not a landblock id: landblock ids run from 0x0000 to 0xFFFF", args.spawn));
  auto reader = KdrReader::open(args.input);
  if (!reader) return fail(reader.error().display());
  std::optional<std::filesystem::path> keys_out;
  if (args.keys_out) keys_out = *args.keys_out;
  auto summary = write_boot_shard(*reader, args.output, *spawn, keys_out);
  if (!summary) return fail(summary.error().display());
  if (!args.quiet) {
    fmt::print(stderr, "spawn          0x{:04X}\n", summary->spawn);
    std::string cells;
    for (uint32_t lb : summary->landblocks) cells += fmt::format(" 0x{:04X}", lb);
    fmt::print(stderr, "landblocks     {}:{}\n", summary->landblocks.size(), cells);
    fmt::print(stderr, "keys in set    {}\n", summary->keys_in_set);
    fmt::print(stderr, "missing keys   {}\n", summary->missing_keys);
    fmt::print(stderr, "entries        {}\n", summary->entries_written);
    for (const auto& [label, n] : summary->entries_per_namespace) fmt::print(stderr, "  {:<32} {}\n", label, n);
    fmt::print(stderr, "bytes in       {}\n", summary->bytes_in);
    fmt::print(stderr, "bytes out      {}\n", summary->bytes_out);
  }
  return 0;
}

}  // namespace

Runner add_shard_command(CLI::App& app) {
  auto args = std::make_shared<ShardArgs>();
  auto* sub = app.add_subcommand("shard", "Write the boot shard: what a client needs to start at a spawn landblock");
  sub->add_option("archive", args->input, "The input .kdr archive")->required();
  sub->add_option("-o,--output", args->output, "The shard archive to write")->required();
  sub->add_option("--spawn", args->spawn, "Spawn landblock id in hexadecimal (default 0xA9B4)");
  sub->add_option("--keys-out", args->keys_out, "Also write the keep set, one 'namespace 0xID present|missing' line each");
  sub->add_flag("-q,--quiet", args->quiet, "No summary");
  return [args] { return run_shard(*args); };
}

}  // namespace kdr::cli
