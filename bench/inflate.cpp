// The inflate module against zlib's inflate and libdeflate (raw DEFLATE) on
// the same compressed input, made by zlib at level 6 from one of:
//   0  seeded words with numbers and some incompressible stretches (16 MiB
//      of compressed data);
//   1  a tar archive of the Vim help (/usr/share/vim/vim*/doc);
//   2  a tar archive of /usr/share/doc (text, and files that are already
//      compressed).
// The *VsPeers benchmarks check that every decoder gives back the input,
// then time all of them in each iteration and report ratio = engine time /
// zlib time and libdeflate_ratio = engine time / libdeflate time (above 1:
// the engine is slower), with the MiB/s of decoded output. The pull row
// decodes from a memory stream into one caller buffer; the feed row pushes
// 64 KiB pieces and delivers the window to a memory-stream sink over a
// buffer allocated once, outside the timing.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#if KELPO_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "bench/real_text.h"
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

std::vector<std::uint8_t> SeededWords() {
  std::vector<std::uint8_t> plain;
  std::mt19937 rng(131);
  static const char* const kWords[] = {"reader ", "the ",  "page ",   "of ",    "layout ",
                                       "text ",   "and ",  "view ",   "a ",     "engine ",
                                       "stream ", "font ", "window ", "line\n", "block "};
  // About 2.9 bytes of text per compressed byte: enough for 16 MiB of output.
  while (plain.size() < 3 * kCompressedSize) {
    const std::uint32_t r = rng();
    if (r % 400 == 0) {
      for (int k = 0; k < 200; ++k)
        plain.push_back(static_cast<std::uint8_t>(rng()));
    } else if (r % 7 == 0) {
      const std::string n = std::to_string(rng() % 100000) + ' ';
      plain.insert(plain.end(), n.begin(), n.end());
    } else {
      const char* w = kWords[r % 15];
      plain.insert(plain.end(), w, w + std::strlen(w));
    }
  }
  return plain;
}

std::vector<std::uint8_t> Compress(const std::vector<std::uint8_t>& plain) {
  std::vector<std::uint8_t> out(compressBound(static_cast<uLong>(plain.size())) + 1024);
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  z.next_in = const_cast<std::uint8_t*>(plain.data());
  z.avail_in = static_cast<uInt>(plain.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) out.clear();
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

Input MakeInput(int which) {
  if (IsFailure(Core_RegisterAllModules())) std::abort();
  Input in;
  if (which == 0) {
    in.plain = SeededWords();
    in.compressed = Compress(in.plain);
    // Cut at 16 MiB of compressed data, as a whole stream: compress again
    // the prefix that gave about that much.
    if (in.compressed.size() > kCompressedSize) {
      const double keep =
          static_cast<double>(kCompressedSize) / static_cast<double>(in.compressed.size());
      in.plain.resize(static_cast<std::size_t>(static_cast<double>(in.plain.size()) * keep));
      in.compressed = Compress(in.plain);
    }
    return in;
  }
  std::string tar;
  if (which == 1) {
    const auto folders = bench_real::VimHelpFolders();
    if (!folders.empty()) tar = bench_real::Tar(folders.back());
  } else {
    tar = bench_real::Tar("/usr/share/doc");
  }
  in.plain.assign(tar.begin(), tar.end());
  if (!in.plain.empty()) in.compressed = Compress(in.plain);
  return in;
}

const Input& TheInput(int which) {
  static const Input inputs[] = {MakeInput(0), MakeInput(1), MakeInput(2)};
  return inputs[which];
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

// What the engine side of one run works with, set up outside the timing.
struct EngineSide {
  std::vector<std::uint8_t> out;  // pull mode's caller buffer
  void* sinkBuffer = nullptr;     // feed mode's sink buffer (engine allocator)
  std::uint32_t sinkCapacity = 0;
};

// Pull mode: from a memory stream over the input into one caller buffer; 0
// on any failure.
std::size_t EnginePull(const Input& in, EngineSide& side) {
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
    s = ops.decodeToBuffer(d, side.out.data(), static_cast<std::uint32_t>(side.out.size()),
                           &length);
  }
  if (d != nullptr && IsFailure(ops.destroy(d))) s = kFailed;
  if (source != nullptr && IsFailure(StreamOf(source).close(source))) s = kFailed;
  return s == kInflateEndOfStream ? length : 0;
}

// Push mode: 64 KiB pieces, the window delivered to a memory-stream sink over
// the side's buffer; 0 on any failure.
std::size_t EngineFeed(const Input& in, EngineSide& side) {
  const InflateOps& ops = OpsOf<InflateOps>(g_InflateModule);
  EngineObject* sink = nullptr;
  EngineObject* d = nullptr;
  StatusCode s = MemStream_Create(g_MemStreamModule, side.sinkBuffer, 0, side.sinkCapacity,
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
  void* buffer = nullptr;
  if (sink != nullptr &&
      (IsFailure(MemStream_GetBuffer(g_MemStreamModule, sink, &buffer, &size, nullptr)) ||
       buffer != side.sinkBuffer)) {
    s = kFailed;  // the sink must not have moved: the buffer holds the whole output
  }
  if (d != nullptr && IsFailure(ops.destroy(d))) s = kFailed;
  if (sink != nullptr && IsFailure(StreamOf(sink).close(sink))) s = kFailed;
  return s == kInflateEndOfStream ? size : 0;
}

bool EngineAgrees(const Input& in, EngineSide& side, bool feed) {
  if (!feed) {
    return EnginePull(in, side) == in.plain.size() &&
           std::memcmp(side.out.data(), in.plain.data(), in.plain.size()) == 0;
  }
  return EngineFeed(in, side) == in.plain.size() &&
         std::memcmp(side.sinkBuffer, in.plain.data(), in.plain.size()) == 0;
}

void BM_VsPeers(benchmark::State& state, bool feed) {
  using Clock = std::chrono::steady_clock;
  const Input& in = TheInput(static_cast<int>(state.range(0)));
  if (in.compressed.empty()) {
    state.SkipWithError("the input could not be made (tar missing?)");
    return;
  }
  EngineSide side;
  side.out.resize(in.plain.size());
  side.sinkCapacity = static_cast<std::uint32_t>(in.plain.size());
  if (IsFailure(Engine_Alloc(side.sinkCapacity, &side.sinkBuffer))) {
    state.SkipWithError("no memory");
    return;
  }
  std::vector<std::uint8_t> theirs(in.plain.size());
  bool agree = EngineAgrees(in, side, feed) && ZlibInflate(in, theirs) == in.plain.size() &&
               theirs == in.plain;
#if KELPO_HAVE_LIBDEFLATE
  libdeflate_decompressor* ld = libdeflate_alloc_decompressor();
  std::vector<std::uint8_t> third(in.plain.size());
  auto libdeflateRun = [&] {
    std::size_t n = 0;
    return libdeflate_deflate_decompress(ld, in.compressed.data(), in.compressed.size(),
                                         third.data(), third.size(), &n) == LIBDEFLATE_SUCCESS
               ? n
               : 0;
  };
  agree = agree && ld != nullptr && libdeflateRun() == in.plain.size() && third == in.plain;
#endif
  if (!agree) {
    state.SkipWithError("the engine and the peers disagree");
  } else {
    double engineSeconds = 0, zlibSeconds = 0, libdeflateSeconds = 0;
    for (auto _ : state) {
      const auto t0 = Clock::now();
      benchmark::DoNotOptimize(feed ? EngineFeed(in, side) : EnginePull(in, side));
      const auto t1 = Clock::now();
      benchmark::DoNotOptimize(ZlibInflate(in, theirs));
      const auto t2 = Clock::now();
#if KELPO_HAVE_LIBDEFLATE
      benchmark::DoNotOptimize(libdeflateRun());
#endif
      const auto t3 = Clock::now();
      engineSeconds += std::chrono::duration<double>(t1 - t0).count();
      zlibSeconds += std::chrono::duration<double>(t2 - t1).count();
      libdeflateSeconds += std::chrono::duration<double>(t3 - t2).count();
    }
    const double n = static_cast<double>(state.iterations());
    const double mib = static_cast<double>(in.plain.size()) / (1 << 20);
    state.counters["engine_MiBps"] = mib * n / engineSeconds;
    state.counters["zlib_MiBps"] = mib * n / zlibSeconds;
    state.counters["ratio"] = engineSeconds / zlibSeconds;
    state.counters["compressed_MiB"] = static_cast<double>(in.compressed.size()) / (1 << 20);
    state.counters["output_MiB"] = mib;
#if KELPO_HAVE_LIBDEFLATE
    state.counters["libdeflate_MiBps"] = mib * n / libdeflateSeconds;
    state.counters["libdeflate_ratio"] = engineSeconds / libdeflateSeconds;
#endif
  }
#if KELPO_HAVE_LIBDEFLATE
  libdeflate_free_decompressor(ld);
#endif
  Engine_Free(side.sinkBuffer);
}

void BM_Pull(benchmark::State& state) {
  BM_VsPeers(state, false);
}
void BM_Feed(benchmark::State& state) {
  BM_VsPeers(state, true);
}

BENCHMARK(BM_Pull)
    ->Name("Inflate/PullVsPeers")
    ->ArgName("input")
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Feed)
    ->Name("Inflate/FeedVsPeers")
    ->ArgName("input")
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
