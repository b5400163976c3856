// Reading the whole text of a 20 MiB 'RaZo' document (zlib's own dynamic
// blocks re-packed by tools/razo_writer.py, one block per group, seeded
// words) through the handler's GetText, against zlib inflating the very same
// blocks as raw DEFLATE streams (header and data, one stream per block). Each
// iteration times both; ratio = handler time / zlib time (above 1: slower).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

const Input& TheInput() {
  static const Input input = [] {
    Input in;
    if (IsFailure(Core_RegisterAllModules())) return in;
    std::string source = __FILE__;  // <source>/bench/razo_read.cpp
    source = source.substr(0, source.find_last_of('/'));
    source = source.substr(0, source.find_last_of('/'));
    char folder[] = "/tmp/razo_bench_XXXXXX";
    if (mkdtemp(folder) == nullptr) return in;
    const std::string dir = folder;
    {
      std::ofstream spec(dir + "/spec.json");
      spec << "{\"random_text\":{\"seed\":1,\"size\":" << kTextSize
           << "},\"coding\":\"z\",\"peer_streams\":\"" << dir << "/streams\"}";
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
    (void)std::system(("rm -rf '" + dir + "'").c_str());
    in.ok = !in.file.empty() && in.streams.size() == kTextSize / 4096;
    return in;
  }();
  return input;
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

void BM_RaZoReadVsZlib(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const Input& in = TheInput();
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
  std::string mine, theirs;
  if (HandlerRead(h, mine) != kTextSize || ZlibRead(in, theirs) != kTextSize || mine != theirs) {
    state.SkipWithError("handler and zlib disagree");
  } else {
    double handlerSeconds = 0, zlibSeconds = 0;
    for (auto _ : state) {
      const auto t0 = Clock::now();
      benchmark::DoNotOptimize(HandlerRead(h, mine));
      const auto t1 = Clock::now();
      benchmark::DoNotOptimize(ZlibRead(in, theirs));
      const auto t2 = Clock::now();
      handlerSeconds += std::chrono::duration<double>(t1 - t0).count();
      zlibSeconds += std::chrono::duration<double>(t2 - t1).count();
    }
    const double n = static_cast<double>(state.iterations());
    const double mib = static_cast<double>(kTextSize) / (1 << 20);
    state.counters["handler_MiBps"] = mib * n / handlerSeconds;
    state.counters["zlib_MiBps"] = mib * n / zlibSeconds;
    state.counters["ratio"] = handlerSeconds / zlibSeconds;
    state.counters["file_MiB"] = static_cast<double>(in.file.size()) / (1 << 20);
  }
  (void)ops.destroy(h);
  (void)DbFile_Close(db);
  (void)StreamOf(stream).close(stream);
}

BENCHMARK(BM_RaZoReadVsZlib)->Name("RaZo/ReadTextVsZlib")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
