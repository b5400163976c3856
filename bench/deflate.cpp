// The DEFLATE encoder against zlib's deflate (raw, windowBits -15, memLevel
// 8) on the same 16 MiB of generated text with numbers and some
// incompressible stretches. Each iteration compresses with both; the
// counters give time_ratio = engine time / zlib time (above 1: the engine
// is slower), size_ratio = engine output / zlib output (above 1: the engine
// compresses less), both outputs as a fraction of the input, and MiB/s.
// Before timing, zlib's inflate must give back the input from our output.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/codecs/deflate.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/startup/engine_start.h"

namespace {

constexpr std::size_t kInputSize = 16u << 20;

const std::vector<std::uint8_t>& TheInput() {
  static const std::vector<std::uint8_t> input = [] {
    if (IsFailure(Core_RegisterAllModules())) std::abort();
    std::vector<std::uint8_t> in;
    in.reserve(kInputSize + 256);
    std::mt19937 rng(130);
    static const char* const kWords[] = {
        "reader ", "the ",    "page ",   "of ",     "layout ", "text ",   "and ",   "view ",
        "a ",      "engine ", "stream ", "font ",   "window ", "line.\n", "block ", "document ",
        "table ",  "link ",   "anchor ", "record ", "in ",     "is ",     "to ",    "bookmark, "};
    while (in.size() < kInputSize) {
      const std::uint32_t r = rng();
      if (r % 400 == 0) {
        for (int k = 0; k < 200; ++k)
          in.push_back(static_cast<std::uint8_t>(rng()));
      } else if (r % 7 == 0) {
        const std::string n = std::to_string(rng() % 100000) + ' ';
        in.insert(in.end(), n.begin(), n.end());
      } else {
        const char* w = kWords[r % 24];
        in.insert(in.end(), w, w + std::strlen(w));
      }
    }
    in.resize(kInputSize);
    return in;
  }();
  return input;
}

std::size_t ZlibDeflate(const std::vector<std::uint8_t>& in, std::vector<std::uint8_t>& out,
                        int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  z.next_in = const_cast<std::uint8_t*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int r = deflate(&z, Z_FINISH);
  const std::size_t n = z.total_out;
  deflateEnd(&z);
  return r == Z_STREAM_END ? n : 0;
}

// CompressRange with 32 KiB blocks from a memory stream over the input into
// a memory stream over the output buffer; 0 on any failure.
std::size_t EngineDeflate(const std::vector<std::uint8_t>& in, std::vector<std::uint8_t>& out) {
  const DeflateOps& ops = OpsOf<DeflateOps>(g_DeflateModule);
  EngineObject* source = nullptr;
  EngineObject* sink = nullptr;
  EngineObject* e = nullptr;
  std::uint32_t written = 0;
  StatusCode s =
      MemStream_Create(g_MemStreamModule, const_cast<std::uint8_t*>(in.data()),
                       static_cast<std::uint32_t>(in.size()), static_cast<std::uint32_t>(in.size()),
                       kMemCreateCallerOwns, &source);
  if (!IsFailure(s)) {
    s = MemStream_Create(g_MemStreamModule, out.data(), 0, static_cast<std::uint32_t>(out.size()),
                         kMemCreateWritable | kMemCreateCallerOwns, &sink);
  }
  if (!IsFailure(s)) s = ops.create(g_DeflateModule, kDeflateStandardBlockSize, &e);
  if (!IsFailure(s)) s = ops.setOutputSink(e, sink, 0);
  if (!IsFailure(s)) {
    s = ops.compressRange(e, source, 0, static_cast<std::uint32_t>(in.size()), nullptr, nullptr);
  }
  if (!IsFailure(s)) s = ops.flush(e, &written);
  if (e != nullptr && IsFailure(ops.destroy(e))) s = kFailed;
  if (source != nullptr && IsFailure(StreamOf(source).close(source))) s = kFailed;
  if (sink != nullptr && IsFailure(StreamOf(sink).close(sink))) s = kFailed;
  return s == kOk ? written : 0;
}

bool ZlibInflates(const std::vector<std::uint8_t>& packed, std::size_t n,
                  const std::vector<std::uint8_t>& expected) {
  std::vector<std::uint8_t> out(expected.size() + 1);
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<std::uint8_t*>(packed.data());
  z.avail_in = static_cast<uInt>(n);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int r = inflate(&z, Z_FINISH);
  const std::size_t total = z.total_out;
  inflateEnd(&z);
  return r == Z_STREAM_END && total == expected.size() &&
         std::memcmp(out.data(), expected.data(), total) == 0;
}

void BM_VsZlib(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const int level = static_cast<int>(state.range(0));
  const auto& in = TheInput();
  std::vector<std::uint8_t> mine(in.size() + in.size() / 8 + 4096), theirs(mine.size());
  std::size_t mineSize = EngineDeflate(in, mine);
  std::size_t theirSize = ZlibDeflate(in, theirs, level);
  if (mineSize == 0 || theirSize == 0 || !ZlibInflates(mine, mineSize, in)) {
    state.SkipWithError("engine output does not inflate to the input");
    return;
  }
  double engineSeconds = 0, zlibSeconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    mineSize = EngineDeflate(in, mine);
    const auto t1 = Clock::now();
    theirSize = ZlibDeflate(in, theirs, level);
    const auto t2 = Clock::now();
    benchmark::DoNotOptimize(mineSize + theirSize);
    engineSeconds += std::chrono::duration<double>(t1 - t0).count();
    zlibSeconds += std::chrono::duration<double>(t2 - t1).count();
  }
  const double n = static_cast<double>(state.iterations());
  const double mib = static_cast<double>(in.size()) / (1 << 20);
  state.counters["engine_MiBps"] = mib * n / engineSeconds;
  state.counters["zlib_MiBps"] = mib * n / zlibSeconds;
  state.counters["time_ratio"] = engineSeconds / zlibSeconds;
  state.counters["engine_out"] = static_cast<double>(mineSize) / static_cast<double>(in.size());
  state.counters["zlib_out"] = static_cast<double>(theirSize) / static_cast<double>(in.size());
  state.counters["size_ratio"] = static_cast<double>(mineSize) / static_cast<double>(theirSize);
}

BENCHMARK(BM_VsZlib)
    ->Name("Deflate/VsZlibLevel")
    ->Arg(1)
    ->Arg(6)
    ->Arg(9)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
