// The archive inspection commands: info, ls, cat, verify, extract.
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "kelvadorin/cli/command.hpp"
#include "kelvadorin/dat/archive/reader.hpp"
#include "kelvadorin/tools/archive_check.hpp"

namespace kdr::cli {

namespace {

// Visits every index record in order; returns the reader's error text on failure.
template <class Fn>
std::optional<std::string> for_each_entry(const KdrReader& reader, Fn&& fn) {
  auto it = reader.entries();
  while (true) {
    auto next = it.next();
    if (!next) return next.error().display();
    if (!*next) return std::nullopt;
    fn(**next);
  }
}

int run_info(const std::string& path) {
  auto reader = KdrReader::open(path);
  if (!reader) return fail(reader.error().display());
  const KdrHeader& h = reader->header();
  uint64_t resource_bytes = 0, stored_bytes = 0, compressed = 0;
  if (auto err = for_each_entry(*reader, [&](const KdrEntry& e) {
        resource_bytes += e.size;
        stored_bytes += e.comp_size;
        compressed += e.is_zstd();
      }))
    return fail(*err);
  fmt::print("archive        {}\n", path);
  fmt::print("version        {}\n", h.version);
  fmt::print("file size      {}\n", reader->file_length());
  fmt::print("index offset   {}\n", h.index_offset);
  fmt::print("metadata size  {}\n", h.metadata_size);
  fmt::print("namespaces     {}\n", reader->namespaces().size());
  for (const auto& ns : reader->namespaces())
    fmt::print("  {:<32} start {:>9}  count {:>9}\n", ns.namespace_label(), ns.start_index, ns.entry_count);
  fmt::print("entries        {} ({} compressed)\n", h.entry_count, compressed);
  fmt::print("resource bytes {}\n", resource_bytes);
  fmt::print("stored bytes   {}\n", stored_bytes);
  fmt::print("ratio          {:.3f}\n",
             resource_bytes ? static_cast<double>(stored_bytes) / static_cast<double>(resource_bytes) : 1.0);
  return 0;
}

struct LsArgs {
  std::string path;
  std::optional<std::string> namespace_label;
  bool json = false;
};

int run_ls(const LsArgs& args) {
  auto reader = KdrReader::open(args.path);
  if (!reader) return fail(reader.error().display());
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  std::string text;
  auto err = for_each_entry(*reader, [&](const KdrEntry& e) {
    if (args.namespace_label && e.namespace_label() != *args.namespace_label) return;
    const char* storage = e.is_zstd() ? "zstd" : "raw";
    if (args.json) {
      rows.push_back({{"namespace", e.namespace_label()},
                      {"file_id", fmt::format("0x{:08X}", e.file_id)},
                      {"type_id", fmt::format("0x{:08X}", e.type_id)},
                      {"size", e.size},
                      {"stored_size", e.comp_size},
                      {"storage", storage}});
    } else {
      text += fmt::format("{:<16} 0x{:08X} 0x{:08X} {:>10} {:>10} {}\n", e.namespace_label(), e.file_id, e.type_id,
                          e.size, e.comp_size, storage);
      if (text.size() > (1 << 16)) {
        fmt::print("{}", text);
        text.clear();
      }
    }
  });
  if (err) return fail(*err);
  if (args.json)
    fmt::print("{}\n", rows.dump(2));
  else
    fmt::print("{}", text);
  return 0;
}

struct CatArgs {
  std::string path;
  std::string label;
  std::string id;
};

int run_cat(const CatArgs& args) {
  auto id = parse_id_argument(args.id);
  if (!id) return 1;
  auto reader = KdrReader::open(args.path);
  if (!reader) return fail(reader.error().display());
  auto data = reader->get_file_in_namespace(args.label, *id);
  if (!data) return fail(data.error().display());
  const std::byte* p = data->data();
  size_t left = data->size();
  while (left > 0) {
    ssize_t n = ::write(STDOUT_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(fmt::format("cannot write to standard output: {}", IoError::from_errno(errno).description()));
    p += n;
    left -= static_cast<size_t>(n);
  }
  return 0;
}

int run_verify(const std::string& path) {
  auto reader = KdrReader::open(path);
  if (!reader) return fail(reader.error().display());
  VerifyReport report = verify_archive(*reader);
  for (const auto& f : report.failures) fmt::print(stderr, "kdr: error: {}\n", f);
  if (!report.ok()) {
    fmt::print(stderr, "kdr: {} of {} entries failed verification\n", report.failures.size(), report.entries);
    return 1;
  }
  fmt::print("{}: OK, {} entries in {} namespaces, {} resource bytes verified\n", path, report.entries,
             reader->namespaces().size(), report.bytes);
  return 0;
}

struct ExtractArgs {
  std::string path;
  std::string dir;
  std::optional<std::string> namespace_label;
};

int run_extract(const ExtractArgs& args) {
  auto reader = KdrReader::open(args.path);
  if (!reader) return fail(reader.error().display());
  std::optional<std::string_view> only;
  if (args.namespace_label) only = *args.namespace_label;
  auto summary = extract_archive(*reader, args.dir, only);
  if (!summary) return fail(summary.error().display());
  fmt::print("extracted {} files, {} bytes, into {}\n", summary->files, summary->bytes, args.dir);
  return 0;
}

}  // namespace

Runner add_info_command(CLI::App& app) {
  auto path = std::make_shared<std::string>();
  auto* sub = app.add_subcommand("info", "Show an archive's header, namespaces and totals");
  sub->add_option("archive", *path, "The .kdr archive")->required();
  return [path] { return run_info(*path); };
}

Runner add_ls_command(CLI::App& app) {
  auto args = std::make_shared<LsArgs>();
  auto* sub = app.add_subcommand("ls", "List entries in index order: namespace, file id, type id, size, stored size");
  sub->add_option("archive", args->path, "The .kdr archive")->required();
  sub->add_option("--namespace", args->namespace_label, "Only entries of this namespace");
  sub->add_flag("--json", args->json, "Print one JSON array of entry objects");
  return [args] { return run_ls(*args); };
}

Runner add_cat_command(CLI::App& app) {
  auto args = std::make_shared<CatArgs>();
  auto* sub = app.add_subcommand("cat", "Write one resource's bytes to standard output");
  sub->add_option("archive", args->path, "The .kdr archive")->required();
  sub->add_option("namespace", args->label, "Namespace label, e.g. vuz/portal")->required();
  sub->add_option("id", args->id, "File id in hexadecimal, with or without 0x")->required();
  return [args] { return run_cat(*args); };
}

Runner add_verify_command(CLI::App& app) {
  auto path = std::make_shared<std::string>();
  auto* sub = app.add_subcommand("verify", "Read back every entry and check the index invariants");
  sub->add_option("archive", *path, "The .kdr archive")->required();
  return [path] { return run_verify(*path); };
}

Runner add_extract_command(CLI::App& app) {
  auto args = std::make_shared<ExtractArgs>();
  auto* sub = app.add_subcommand("extract", "Write every entry to DIR/<namespace>/<id>.bin");
  sub->add_option("archive", args->path, "The .kdr archive")->required();
  sub->add_option("dir", args->dir, "Folder to extract into")->required();
  sub->add_option("--namespace", args->namespace_label, "Only entries of this namespace");
  return [args] { return run_extract(*args); };
}

}  // namespace kdr::cli
