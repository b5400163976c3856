// The inflate module against zlib's inflate (raw DEFLATE, windowBits -15) on
// the same 16 MiB of compressed input: generated text with numbers and some
// incompressible stretches, compressed by zlib at level 6. The *_VsZlib
// benchmarks time both in each iteration and report ratio = engine time /
// zlib time (above 1: the engine is slower) and the MiB/s of decoded output.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/codecs/inflate.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/startup/engine_start.h"

namespace {

constexpr std::size_t kCompressedSize = 16u << 20;

struct Input {
  std::vector<std::uint8_t> plain;
  std::vector<std::uint8_t> compressed;
};

// Seeded data compressed until zlib's output reaches 16 MiB.
const Input& TheInput() {
  static const Input input = [] {
    if (IsFailure(Core_RegisterAllModules())) std::abort();
    Input in;
    std::mt19937 rng(131);
    static const char* const kWords[] = {"reader ", "the ",  "page ",   "of ",    "layout ",
                                         "text ",   "and ",  "view ",   "a ",     "engine ",
                                         "stream ", "font ", "window ", "line\n", "block "};
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    in.compressed.resize(kCompressedSize + (1u << 20));
    z.next_out = in.compressed.data();
    z.avail_out = static_cast<uInt>(in.compressed.size());
    std::vector<std::uint8_t> chunk;
    while (z.total_out < kCompressedSize - (64u << 10)) {
      chunk.clear();
      while (chunk.size() < (256u << 10)) {
        const std::uint32_t r = rng();
        if (r % 400 == 0) {
          for (int k = 0; k < 200; ++k)
            chunk.push_back(static_cast<std::uint8_t>(rng()));
        } else if (r % 7 == 0) {
          const std::string n = std::to_string(rng() % 100000) + ' ';
          chunk.insert(chunk.end(), n.begin(), n.end());
        } else {
          const char* w = kWords[r % 15];
          chunk.insert(chunk.end(), w, w + std::strlen(w));
        }
      }
      in.plain.insert(in.plain.end(), chunk.begin(), chunk.end());
      z.next_in = chunk.data();
      z.avail_in = static_cast<uInt>(chunk.size());
      deflate(&z, Z_NO_FLUSH);
    }
    deflate(&z, Z_FINISH);
    in.compressed.resize(z.total_out);
    deflateEnd(&z);
    return in;
  }();
  return input;
}

std::size_t ZlibInflate(const Input& in, std::vector<std::uint8_t>& out) {
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<std::uint8_t*>(in.compressed.data());
  z.avail_in = static_cast<uInt>(in.compressed.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int r = inflate(&z, Z_FINISH);
  const std::size_t n = z.total_out;
  inflateEnd(&z);
  return r == Z_STREAM_END ? n : 0;
}

// Pull mode: from a memory stream over the input into one caller buffer; 0
// on any failure.
std::size_t EnginePull(const Input& in, std::vector<std::uint8_t>& out) {
  const InflateOps& ops = OpsOf<InflateOps>(g_InflateModule);
  EngineObject* source = nullptr;
  EngineObject* d = nullptr;
  std::uint32_t length = 0;
  StatusCode s = MemStream_Create(
      g_MemStreamModule, const_cast<std::uint8_t*>(in.compressed.data()),
      static_cast<std::uint32_t>(in.compressed.size()),
      static_cast<std::uint32_t>(in.compressed.size()), kMemCreateCallerOwns, &source);
  if (!IsFailure(s)) s = ops.create(g_InflateModule, kInflateStandardWindow, &d);
  if (!IsFailure(s)) s = ops.setInput(d, source, 0);
  if (!IsFailure(s)) {
    s = ops.decodeToBuffer(d, out.data(), static_cast<std::uint32_t>(out.size()), &length);
  }
  if (d != nullptr && IsFailure(ops.destroy(d))) s = kFailed;
  if (source != nullptr && IsFailure(StreamOf(source).close(source))) s = kFailed;
  return s == kInflateEndOfStream ? length : 0;
}

// Push mode: 64 KiB pieces, the window delivered to a memory-stream sink; 0
// on any failure.
std::size_t EngineFeed(const Input& in, std::vector<std::uint8_t>& out) {
  const InflateOps& ops = OpsOf<InflateOps>(g_InflateModule);
  void* block = nullptr;
  if (IsFailure(Engine_Alloc(static_cast<std::uint32_t>(out.size()), &block))) return 0;
  EngineObject* sink = nullptr;
  EngineObject* d = nullptr;
  StatusCode s =
      MemStream_Create(g_MemStreamModule, block, 0, static_cast<std::uint32_t>(out.size()),
                       kMemCreateWritable | kMemCreateCallerOwns, &sink);
  if (!IsFailure(s)) s = ops.create(g_InflateModule, kInflateStandardWindow, &d);
  if (!IsFailure(s)) s = ops.beginFeed(d);
  for (std::size_t at = 0; at < in.compressed.size() && s == kOk; at += 65536) {
    const std::size_t n = std::min<std::size_t>(65536, in.compressed.size() - at);
    s = ops.feed(d, in.compressed.data() + at, static_cast<std::uint32_t>(n), sink);
  }
  // The stream must have ended: the feed answers so, and EndFeed agrees.
  if (s == kInflateEndOfStream && IsFailure(ops.endFeed(d))) s = kFailed;
  std::uint32_t size = 0;
  void* buffer = block;
  if (sink != nullptr &&
      IsFailure(MemStream_GetBuffer(g_MemStreamModule, sink, &buffer, &size, nullptr))) {
    s = kFailed;
  }
  std::memcpy(out.data(), buffer, std::min<std::size_t>(size, out.size()));
  if (d != nullptr && IsFailure(ops.destroy(d))) s = kFailed;
  if (sink != nullptr && IsFailure(StreamOf(sink).close(sink))) s = kFailed;
  Engine_Free(buffer);
  return s == kInflateEndOfStream ? size : 0;
}

using Decoder = std::size_t (*)(const Input&, std::vector<std::uint8_t>&);

template <Decoder kEngine>
void BM_VsZlib(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const Input& in = TheInput();
  std::vector<std::uint8_t> mine(in.plain.size()), theirs(in.plain.size());
  if (kEngine(in, mine) != in.plain.size() || mine != in.plain ||
      ZlibInflate(in, theirs) != in.plain.size()) {
    state.SkipWithError("engine and zlib disagree");
    return;
  }
  double engineSeconds = 0, zlibSeconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(kEngine(in, mine));
    const auto t1 = Clock::now();
    benchmark::DoNotOptimize(ZlibInflate(in, theirs));
    const auto t2 = Clock::now();
    engineSeconds += std::chrono::duration<double>(t1 - t0).count();
    zlibSeconds += std::chrono::duration<double>(t2 - t1).count();
  }
  const double n = static_cast<double>(state.iterations());
  const double mib = static_cast<double>(in.plain.size()) / (1 << 20);
  state.counters["engine_MiBps"] = mib * n / engineSeconds;
  state.counters["zlib_MiBps"] = mib * n / zlibSeconds;
  state.counters["ratio"] = engineSeconds / zlibSeconds;
  state.counters["compressed_MiB"] = static_cast<double>(in.compressed.size()) / (1 << 20);
  state.counters["output_MiB"] = mib;
}

void BM_ZlibOnly(benchmark::State& state) {
  const Input& in = TheInput();
  std::vector<std::uint8_t> out(in.plain.size());
  for (auto _ : state)
    benchmark::DoNotOptimize(ZlibInflate(in, out));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.plain.size()));
}

BENCHMARK(BM_VsZlib<EnginePull>)->Name("Inflate/PullVsZlib")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VsZlib<EngineFeed>)->Name("Inflate/FeedVsZlib")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibOnly)->Name("Inflate/zlib")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
