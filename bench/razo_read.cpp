// Reading the whole text of a 20 MiB 'RaZo' document (zlib's own dynamic
// blocks re-packed by tools/razo_writer.py, one block per group; seeded
// words, or real text from bench/real_text.h) through the handler's GetText,
// against zlib and libdeflate inflating the very same blocks as raw DEFLATE
// streams (header and data, one stream per block). Before timing, all three
// must give the same text. Each iteration times all three; ratio = handler
// time / zlib time, libdeflate_ratio = handler time / libdeflate time
// (above 1: slower). Run it from the build folder (the writer is found from
// the source file's path as the compiler saw it).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#if KELPO_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "bench/real_text.h"
#include "engine/formats/razo_doc.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"
#include "engine/startup/engine_start.h"

namespace {

constexpr std::uint32_t kTextSize = 20u << 20;

struct Input {
  std::string file;                  // the database
  std::vector<std::string> streams;  // each block as a raw DEFLATE stream
  bool ok = false;
};

using bench_real::ReadWhole;

Input MakeInput(bool real) {
  {
    Input in;
    if (IsFailure(Core_RegisterAllModules())) return in;
    const std::string source = KELPO_SOURCE_DIR;
    char folder[] = "/tmp/razo_bench_XXXXXX";
    if (mkdtemp(folder) == nullptr) return in;
    const std::string dir = folder;
    // The folder goes whatever happens below.
    struct Remove {
      std::string dir;
      ~Remove() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
      }
    } cleanup{dir};
    {
      std::ofstream spec(dir + "/spec.json");
      if (real) {
        const std::string text = bench_real::Text(kTextSize);
        if (text.size() != kTextSize) return in;
        std::ofstream(dir + "/text", std::ios::binary) << text;
        spec << "{\"text_file\":\"" << dir << "/text\"";
      } else {
        spec << "{\"random_text\":{\"seed\":1,\"size\":" << kTextSize << "}";
      }
      spec << ",\"coding\":\"z\",\"peer_streams\":\"" << dir << "/streams\"}";
    }
    const std::string command = "python3 -I -S '" + source + "/tools/razo_writer.py' '" + dir +
                                "/spec.json' '" + dir + "/doc.pdb'";
    if (std::system(command.c_str()) != 0) return in;
    in.file = ReadWhole(dir + "/doc.pdb");
    const std::string streams = ReadWhole(dir + "/streams");
    auto u32 = [&](std::size_t at) {
      std::uint32_t v = 0;
      std::memcpy(&v, streams.data() + at, 4);  // little-endian on every target here
      return v;
    };
    if (streams.size() < 4) return in;
    std::size_t at = 4;
    for (std::uint32_t k = 0, n = u32(0); k < n && at + 4 <= streams.size(); ++k) {
      const std::uint32_t len = u32(at);
      in.streams.push_back(streams.substr(at + 4, len));
      at += 4 + len;
    }
    in.ok = !in.file.empty() && in.streams.size() == kTextSize / 4096;
    return in;
  }
}

const Input& TheInput(bool real) {
  static const Input words = MakeInput(false);
  static const Input text = MakeInput(true);
  return real ? text : words;
}

// The whole text through the handler, appended to out.
std::size_t HandlerRead(EngineObject* h, std::string& out) {
  const DocHandlerOps& ops = DocOpsOf(h);
  std::uint32_t length = 0;
  if (ops.getTextLength(h, &length) != kOk) return 0;
  out.clear();
  for (std::uint32_t p = 0; p < length;) {
    const std::uint8_t* text = nullptr;
    std::uint32_t n = 4096;
    if (ops.getText(h, p, &text, &n) != kOk || n == 0) return 0;
    out.append(reinterpret_cast<const char*>(text), n);
    p += n;
  }
  return out.size();
}

std::size_t ZlibRead(const Input& in, std::string& out) {
  out.clear();
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return 0;
  unsigned char block[4096];
  for (const std::string& s : in.streams) {
    (void)inflateReset(&z);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(s.data()));
    z.avail_in = static_cast<uInt>(s.size());
    z.next_out = block;
    z.avail_out = sizeof block;
    if (inflate(&z, Z_FINISH) != Z_STREAM_END) break;
    out.append(reinterpret_cast<const char*>(block), sizeof block - z.avail_out);
  }
  inflateEnd(&z);
  return out.size();
}

#if KELPO_HAVE_LIBDEFLATE
std::size_t LibdeflateRead(const Input& in, libdeflate_decompressor* d, std::string& out) {
  out.clear();
  unsigned char block[4096];
  for (const std::string& s : in.streams) {
    std::size_t n = 0;
    if (libdeflate_deflate_decompress(d, s.data(), s.size(), block, sizeof block, &n) !=
        LIBDEFLATE_SUCCESS) {
      break;
    }
    out.append(reinterpret_cast<const char*>(block), n);
  }
  return out.size();
}
#endif

void BM_RaZoReadVsZlib(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const Input& in = TheInput(state.range(0) != 0);
  if (!in.ok) {
    state.SkipWithError("the writer did not make the document (python3 missing?)");
    return;
  }
  EngineObject* stream = nullptr;
  EngineObject* db = nullptr;
  EngineObject* h = nullptr;
  const DocHandlerOps& ops = DocOpsOf(&RaZoDocModule);
  if (MemStream_Create(&MemStreamModule, const_cast<char*>(in.file.data()),
                       static_cast<std::uint32_t>(in.file.size()),
                       static_cast<std::uint32_t>(in.file.size()), kMemCreateCallerOwns,
                       &stream) != kOk ||
      DbFile_Open(&DbFileModule, stream, kDbOpenRead, &db) != kOk ||
      ops.create(&RaZoDocModule, &h) != kOk ||
      ops.command(h, DocCommand::OpenDatabase, db, 0) != kOk) {
    state.SkipWithError("the document does not open");
    return;
  }
  std::string mine, theirs, third;
  bool agree =
      HandlerRead(h, mine) == kTextSize && ZlibRead(in, theirs) == kTextSize && mine == theirs;
#if KELPO_HAVE_LIBDEFLATE
  libdeflate_decompressor* ld = libdeflate_alloc_decompressor();
  agree = agree && ld != nullptr && LibdeflateRead(in, ld, third) == kTextSize && third == mine;
#endif
  if (!agree) {
    state.SkipWithError("handler, zlib and libdeflate disagree");
  } else {
    double handlerSeconds = 0, zlibSeconds = 0, libdeflateSeconds = 0;
    for (auto _ : state) {
      const auto t0 = Clock::now();
      benchmark::DoNotOptimize(HandlerRead(h, mine));
      const auto t1 = Clock::now();
      benchmark::DoNotOptimize(ZlibRead(in, theirs));
      const auto t2 = Clock::now();
#if KELPO_HAVE_LIBDEFLATE
      benchmark::DoNotOptimize(LibdeflateRead(in, ld, third));
#endif
      const auto t3 = Clock::now();
      handlerSeconds += std::chrono::duration<double>(t1 - t0).count();
      zlibSeconds += std::chrono::duration<double>(t2 - t1).count();
      libdeflateSeconds += std::chrono::duration<double>(t3 - t2).count();
    }
    const double n = static_cast<double>(state.iterations());
    const double mib = static_cast<double>(kTextSize) / (1 << 20);
    state.counters["handler_MiBps"] = mib * n / handlerSeconds;
    state.counters["zlib_MiBps"] = mib * n / zlibSeconds;
    state.counters["ratio"] = handlerSeconds / zlibSeconds;
    state.counters["file_MiB"] = static_cast<double>(in.file.size()) / (1 << 20);
#if KELPO_HAVE_LIBDEFLATE
    state.counters["libdeflate_MiBps"] = mib * n / libdeflateSeconds;
    state.counters["libdeflate_ratio"] = handlerSeconds / libdeflateSeconds;
#endif
  }
#if KELPO_HAVE_LIBDEFLATE
  libdeflate_free_decompressor(ld);
#endif
  (void)ops.destroy(h);
  (void)DbFile_Close(db);
  (void)StreamOf(stream).close(stream);
}

// 0: seeded words; 1: real text.
BENCHMARK(BM_RaZoReadVsZlib)
    ->Name("RaZo/ReadTextVsPeers")
    ->ArgName("real")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
