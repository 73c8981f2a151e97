// Container reader throughput: opening a container (the directory walk) and
// reading every record of it, beside reading the same records from a loose
// folder, in wall-clock bytes per second. The inputs, about 66 MiB in 4096
// records of 1 to 32 KiB, are written once per process in a temporary folder
// and read warm from the page cache.
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>

#include "kelvadorin/testing/container_writer.hpp"
#include "kelvadorin/testing/temp_dir.hpp"
#include "kelvadorin/tools/container_file.hpp"

namespace {

constexpr size_t kRecords = 4096;

class Inputs {
 public:
  static Inputs& get() {
    static Inputs inputs;
    return inputs;
  }
  const std::filesystem::path& folder() const { return folder_; }
  uint64_t bytes() const { return bytes_; }

  // The container of the same records with `block_size` blocks, written on first use.
  const std::filesystem::path& container(uint32_t block_size) {
    auto [it, fresh] = containers_.try_emplace(block_size);
    if (fresh) {
      it->second = dir_ / fmt::format("client_portal_{}.dat", block_size);
      kdr::testing::write_container(it->second, records_, {.block_size = block_size});
    }
    return it->second;
  }

 private:
  Inputs() : folder_(dir_ / "loose") {
    std::filesystem::create_directories(folder_);
    uint64_t state = 0x9E3779B97F4A7C15u;
    auto next = [&] {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      return state;
    };
    for (size_t i = 0; i < kRecords; ++i) {
      uint32_t id = 0x01000000 + static_cast<uint32_t>(i) * 5;
      kdr::Bytes data(1024 + next() % (31 * 1024));
      for (auto& b : data) b = static_cast<std::byte>(next());
      bytes_ += data.size();
      std::ofstream out(folder_ / (kdr::hex_id(id) + ".bin"), std::ios::binary);
      out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
      records_.push_back({id, std::move(data)});
    }
  }

  kdr::testing::TempDir dir_;
  std::filesystem::path folder_;
  std::vector<kdr::testing::ContainerRecord> records_;
  std::map<uint32_t, std::filesystem::path> containers_;
  uint64_t bytes_ = 0;
};

[[noreturn]] void die(const kdr::ToolError& e) {
  std::fprintf(stderr, "container_bench: %s\n", e.display().c_str());
  std::exit(1);
}

void read_all(benchmark::State& state, const kdr::RecordInput& input) {
  uint64_t total = 0;
  for (size_t i = 0; i < input.records().size(); ++i) {
    auto bytes = input.read(i);
    if (!bytes) die(bytes.error());
    total += bytes->size();
    benchmark::DoNotOptimize(bytes->data());
  }
  if (total != Inputs::get().bytes()) {
    state.SkipWithError("records read do not add up to the records written");
    return;
  }
}

void BM_ContainerOpen(benchmark::State& state) {
  const auto& path = Inputs::get().container(static_cast<uint32_t>(state.range(0)));
  for (auto _ : state) {
    auto file = kdr::ContainerFile::open(path);
    if (!file) die(file.error());
    benchmark::DoNotOptimize(file->get());
  }
  state.counters["records"] = kRecords;
}

void BM_ContainerReadAll(benchmark::State& state) {
  const auto& path = Inputs::get().container(static_cast<uint32_t>(state.range(0)));
  auto file = kdr::ContainerFile::open(path);
  if (!file) die(file.error());
  for (auto _ : state) read_all(state, **file);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Inputs::get().bytes()));
}

void BM_LooseFolderReadAll(benchmark::State& state) {
  auto folder = kdr::open_loose_folder(Inputs::get().folder());
  if (!folder) die(folder.error());
  for (auto _ : state) read_all(state, **folder);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Inputs::get().bytes()));
}

BENCHMARK(BM_ContainerOpen)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ContainerReadAll)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LooseFolderReadAll)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
