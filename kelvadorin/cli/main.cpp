// kdr: pack game data into KDR archives and inspect them.
#include <csignal>
#include <unistd.h>

#include "kelvadorin/cli/command.hpp"
#include "kelvadorin/tools/atomic_output.hpp"

namespace {

// An interrupted run removes its half-written output before exiting.
extern "C" void on_interrupt(int sig) {
  if (const char* temp = kdr::pending_output_temp_path()) ::unlink(temp);
  ::_exit(128 + sig);
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGINT, on_interrupt);
  std::signal(SIGTERM, on_interrupt);
  std::signal(SIGHUP, on_interrupt);

  CLI::App app{"kdr: convert game portal and cell data into KDR archives, and inspect, verify and read them."};
  app.set_version_flag("--version", std::string("kdr ") + KDR_TOOL_VERSION);
  app.require_subcommand(1);
  app.fallthrough(false);

  std::vector<std::pair<CLI::App*, kdr::cli::Runner>> commands;
  auto add = [&](kdr::cli::Runner (*make)(CLI::App&)) {
    size_t before = app.get_subcommands({}).size();
    kdr::cli::Runner run = make(app);
    commands.emplace_back(app.get_subcommands({})[before], std::move(run));
  };
  add(kdr::cli::add_convert_command);
  add(kdr::cli::add_info_command);
  add(kdr::cli::add_ls_command);
  add(kdr::cli::add_cat_command);
  add(kdr::cli::add_verify_command);
  add(kdr::cli::add_extract_command);
  add(kdr::cli::add_show_command);
  add(kdr::cli::add_spells_command);
  add(kdr::cli::add_shard_command);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? 0 : 2;
  }
  for (auto& [sub, run] : commands)
    if (sub->parsed()) return run();
  return 2;
}
