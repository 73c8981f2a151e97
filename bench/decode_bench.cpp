// Decoding throughput of the records a shard walk and a conversion parse
// most: setups and landblock information records, in realistic sizes.
#include <benchmark/benchmark.h>

#include <random>

#include "kelvadorin/dat/file_type/setup_model.hpp"
#include "kelvadorin/dat/landblock.hpp"
#include "kelvadorin/testing/landblock_builder.hpp"
#include "kelvadorin/testing/setup_builder.hpp"

namespace {

using namespace kdr;

graphics::Frame random_frame(std::mt19937& rng) {
  std::uniform_real_distribution<float> d(-100.f, 100.f);
  return {{d(rng), d(rng), d(rng)}, {1.f, 0.f, 0.f, 0.f}};
}

// Setups of 1 to 40 parts with placements, hooks, spheres and lights.
std::vector<Bytes> make_setups(size_t n) {
  std::mt19937 rng(42);
  std::vector<Bytes> out;
  for (size_t i = 0; i < n; ++i) {
    SetupModel s;
    s.id = 0x02000000 + static_cast<uint32_t>(i);
    s.flags = (i % 3 == 0) ? 0x3 : 0x1;
    uint32_t parts = 1 + rng() % 40;
    for (uint32_t p = 0; p < parts; ++p) {
      s.parts.push_back(0x01000000 + rng() % 5000);
      s.part_values.push_back(rng());
      if (s.flags & 0x2) s.part_vectors.push_back({1.f, 1.f, 1.f});
    }
    for (uint32_t k = 0; k < 3; ++k) s.locations_a[k] = {k, random_frame(rng)};
    for (uint32_t k = 0; k < 2; ++k) {
      PlacementType pl;
      for (uint32_t p = 0; p < parts; ++p) pl.frames.push_back(random_frame(rng));
      pl.hooks.push_back({1, 0, Bytes(4)});
      pl.hooks.push_back({3, 0, Bytes(28)});
      s.placements[k] = pl;
    }
    s.cyl_spheres.push_back({{0, 0, 0}, 1.f, 2.f});
    s.spheres.push_back({{0, 0, 1}, 3.f});
    s.lights[0] = {random_frame(rng), 0xFFFFFFFF, 1, 2, 3};
    s.default_motion_table = 0x09000000 + static_cast<uint32_t>(i % 200);
    out.push_back(testing::build_setup(s));
  }
  return out;
}

// Landblocks with 0 to 60 objects and 0 to 6 buildings with portals.
std::vector<Bytes> make_landblocks(size_t n) {
  std::mt19937 rng(7);
  std::vector<Bytes> out;
  for (size_t i = 0; i < n; ++i) {
    LandblockInfo l;
    l.id = (static_cast<uint32_t>(i) << 16) | 0xFFFE;
    l.num_cells = rng() % 100;
    for (uint32_t k = rng() % 61; k > 0; --k) {
      auto f = random_frame(rng);
      l.objects.push_back({static_cast<uint32_t>(0x02000000 + rng() % 3000), {f.origin, f.orientation}});
    }
    for (uint32_t b = rng() % 7; b > 0; --b) {
      BuildInfo bi;
      bi.model_id = 0x01000000 + rng() % 5000;
      bi.num_leaves = 4;
      for (uint32_t p = rng() % 4; p > 0; --p) bi.portals.push_back({0, 0x100, 1, {1, 2, 3}});
      l.buildings.push_back(bi);
    }
    out.push_back(testing::build_landblock_info(l));
  }
  return out;
}

void report(benchmark::State& state, const std::vector<Bytes>& records) {
  size_t bytes = 0;
  for (const auto& r : records) bytes += r.size();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * records.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["records_per_s"] =
      benchmark::Counter(static_cast<double>(records.size()), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_DecodeSetups(benchmark::State& state) {
  static const auto records = make_setups(2000);
  for (auto _ : state)
    for (const auto& r : records) {
      ByteCursor c(r);
      auto s = SetupModel::unpack(c);
      if (!s) state.SkipWithError("setup failed to decode");
      benchmark::DoNotOptimize(s);
    }
  report(state, records);
}
BENCHMARK(BM_DecodeSetups)->Unit(benchmark::kMillisecond);

void BM_DecodeLandblockInfo(benchmark::State& state) {
  static const auto records = make_landblocks(2000);
  for (auto _ : state)
    for (const auto& r : records) {
      auto l = LandblockInfo::unpack(r);
      if (!l) state.SkipWithError("landblock info failed to decode");
      benchmark::DoNotOptimize(l);
    }
  report(state, records);
}
BENCHMARK(BM_DecodeLandblockInfo)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
