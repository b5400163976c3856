// The position map: adding 5 million lines (one section of a very long
// document) and 1 million lookups by key and by y over it.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "engine/device/pos_map.h"

namespace {

constexpr std::uint32_t kLines = 5'000'000;
constexpr std::uint32_t kLookups = 1'000'000;

std::uint64_t Plenty() noexcept {
  return std::uint64_t{1} << 40;
}

// Line starts 20-120 bytes apart and 12-30 pixels apart (seeded).
void FillMap(PositionMap* map) {
  std::mt19937 rng(42);
  std::uint32_t key = 0, value = 0;
  for (std::uint32_t i = 0; i < kLines; ++i) {
    PosMap_Add(map, key, value);
    key += 20 + rng() % 100;
    value += 12 + rng() % 18;
  }
  PosMap_Finish(map, key, value);
}

void BM_AddFiveMillionLines(benchmark::State& state) {
  for (auto _ : state) {
    PositionMap* map = nullptr;
    PosMap_Create(nullptr, Plenty, &map);
    FillMap(map);
    benchmark::DoNotOptimize(map->runCount);
    PosMap_Free(map);
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_AddFiveMillionLines)->Unit(benchmark::kMillisecond);

void BM_MillionLookups(benchmark::State& state) {
  const bool byValue = state.range(0) != 0;
  PositionMap* map = nullptr;
  PosMap_Create(nullptr, Plenty, &map);
  FillMap(map);
  const std::uint32_t limit =
      byValue ? map->runs[map->runCount - 1].endValue : map->runs[map->runCount - 1].endKey;
  std::mt19937 rng(7);
  std::vector<std::uint32_t> targets(kLookups);
  for (auto& t : targets)
    t = static_cast<std::uint32_t>(rng() % limit);
  for (auto _ : state) {
    std::uint64_t sum = 0;
    for (std::uint32_t t : targets) {
      std::uint32_t key = t, value = t;
      if (byValue)
        PosMap_FindByValue(map, &key, &value);
      else
        PosMap_FindByKey(map, &key, &value);
      sum += key ^ value;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kLookups);
  state.counters["runs"] = map->runCount;
  PosMap_Free(map);
}
BENCHMARK(BM_MillionLookups)->Arg(0)->ArgName("byValue")->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
