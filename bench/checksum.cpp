// CRC-32 and Adler-32 of the engine against zlib, and Adler-32 against
// libdeflate, on the same 16 MiB buffer. The *_Vs* benchmarks check that both
// give the same value, time both in each iteration and report
// ratio = engine time / peer time (above 1: the engine is slower).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#if KELPO_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "engine/runtime/checksum.h"

namespace {

constexpr std::uint32_t kSize = 16u << 20;

const std::vector<std::uint8_t>& Buffer() {
  static const std::vector<std::uint8_t> buffer = [] {
    std::vector<std::uint8_t> b(kSize);
    std::mt19937 rng(16);
    for (auto& x : b)
      x = static_cast<std::uint8_t>(rng());
    return b;
  }();
  return buffer;
}

std::uint32_t EngineCrc(const std::vector<std::uint8_t>& b) {
  std::uint32_t v = 0xFFFFFFFFu;
  if (IsFailure(Checksum_Crc32(&ChecksumModule, b.data(), kSize, &v))) std::abort();
  return ~v;
}
std::uint32_t ZlibCrc(const std::vector<std::uint8_t>& b) {
  return static_cast<std::uint32_t>(crc32(0, b.data(), kSize));
}
std::uint32_t EngineAdler(const std::vector<std::uint8_t>& b) {
  std::uint32_t v = 1;
  if (IsFailure(Checksum_Adler32(&ChecksumModule, b.data(), kSize, &v))) std::abort();
  return v;
}
std::uint32_t ZlibAdler(const std::vector<std::uint8_t>& b) {
  return static_cast<std::uint32_t>(adler32(1, b.data(), kSize));
}

#if KELPO_HAVE_LIBDEFLATE
std::uint32_t LibdeflateAdler(const std::vector<std::uint8_t>& b) {
  return libdeflate_adler32(1, b.data(), kSize);
}
#endif

template <std::uint32_t (*kFn)(const std::vector<std::uint8_t>&)>
void BM_One(benchmark::State& state) {
  const auto& b = Buffer();
  for (auto _ : state)
    benchmark::DoNotOptimize(kFn(b));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kSize);
}

template <std::uint32_t (*kEngine)(const std::vector<std::uint8_t>&),
          std::uint32_t (*kZlib)(const std::vector<std::uint8_t>&)>
void BM_VsZlib(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const auto& b = Buffer();
  if (kEngine(b) != kZlib(b)) {
    state.SkipWithError("engine and peer disagree");
    return;
  }
  double engineSeconds = 0;
  double zlibSeconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(kEngine(b));
    const auto t1 = Clock::now();
    benchmark::DoNotOptimize(kZlib(b));
    const auto t2 = Clock::now();
    engineSeconds += std::chrono::duration<double>(t1 - t0).count();
    zlibSeconds += std::chrono::duration<double>(t2 - t1).count();
  }
  const double n = static_cast<double>(state.iterations());
  const double mib = static_cast<double>(kSize) / (1 << 20);
  state.counters["engine_MiBps"] = mib * n / engineSeconds;
  state.counters["peer_MiBps"] = mib * n / zlibSeconds;
  state.counters["ratio"] = engineSeconds / zlibSeconds;
}

BENCHMARK(BM_One<EngineCrc>)->Name("Crc32/engine")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_One<ZlibCrc>)->Name("Crc32/zlib")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_One<EngineAdler>)->Name("Adler32/engine")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_One<ZlibAdler>)->Name("Adler32/zlib")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VsZlib<EngineCrc, ZlibCrc>)->Name("Crc32/VsZlib")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VsZlib<EngineAdler, ZlibAdler>)->Name("Adler32/VsZlib")->Unit(benchmark::kMillisecond);
#if KELPO_HAVE_LIBDEFLATE
BENCHMARK(BM_VsZlib<EngineAdler, LibdeflateAdler>)
    ->Name("Adler32/VsLibdeflate")
    ->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
