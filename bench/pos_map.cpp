// The position map: adding 5 million lines (one section of a very long
// document) in one slice on the system clock, and 1 million lookups by key
// and by y over it. The pairs are made before timing.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "engine/device/pos_map.h"

namespace {

constexpr std::uint32_t kLines = 5'000'000;
constexpr std::uint32_t kLookups = 1'000'000;

std::uint64_t Plenty() noexcept {
  return std::uint64_t{1} << 40;
}

void Check(StatusCode s, const char* what) {
  if (IsFailure(s)) {
    std::fprintf(stderr, "%s failed: 0x%08X\n", what, static_cast<unsigned>(s));
    std::abort();
  }
}

// Line starts 20-120 bytes apart and 12-30 pixels apart (seeded), made once
// so that the adds are timed without the random numbers.
struct Lines {
  std::vector<std::uint32_t> keys, values;
  std::uint32_t endKey = 0, endValue = 0;
};
const Lines& TheLines() {
  static const Lines lines = [] {
    Lines l;
    l.keys.reserve(kLines);
    l.values.reserve(kLines);
    std::mt19937 rng(42);
    for (std::uint32_t i = 0; i < kLines; ++i) {
      l.keys.push_back(l.endKey);
      l.values.push_back(l.endValue);
      l.endKey += 20 + rng() % 100;
      l.endValue += 12 + rng() % 18;
    }
    return l;
  }();
  return lines;
}

// The adds as pagination makes them: one slice on the system clock (a slice
// answer is a status like any other here; the map takes the pair either way).
void FillMap(PositionMap* map) {
  const Lines& l = TheLines();
  PosMap_StartSlice(map);
  for (std::uint32_t i = 0; i < kLines; ++i)
    Check(PosMap_Add(map, l.keys[i], l.values[i]), "an add");
  Check(PosMap_Finish(map, l.endKey, l.endValue), "finishing");
}

PositionMap* NewMap() {
  PositionMap* map = nullptr;
  Check(PosMap_Create(nullptr, Plenty, &map), "creating the map");
  return map;
}

void BM_AddFiveMillionLines(benchmark::State& state) {
  TheLines();
  for (auto _ : state) {
    PositionMap* map = NewMap();
    FillMap(map);
    benchmark::DoNotOptimize(map->runCount);
    PosMap_Free(map);
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_AddFiveMillionLines)->Unit(benchmark::kMillisecond);

void BM_MillionLookups(benchmark::State& state) {
  const bool byValue = state.range(0) != 0;
  PositionMap* map = NewMap();
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
      const StatusCode s =
          byValue ? PosMap_FindByValue(map, &key, &value) : PosMap_FindByKey(map, &key, &value);
      if (s != kOk) std::abort();  // every target lies inside the map
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
