// Decoding a 10 MiB compressed Palm Doc document (made by the peer converter
// txt2pdbdoc from seeded text) through the handler: open, measure every
// record (the background steps) and read the whole text in windows. The peer
// decodes the same file with `txt2pdbdoc -d` as a whole process.
// BM_PalmDoc_VsPeer times both in each iteration and reports
// ratio = engine time / peer time (above 1: the engine is slower).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "engine/formats/palm_doc.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/startup/engine_start.h"

namespace {

constexpr std::size_t kTextSize = 10u << 20;

struct Fixture {
  std::string dir;
  std::string pdb;  // the compressed database's bytes
  std::string error;
  ~Fixture() {
    if (dir.empty()) return;
    for (const char* name : {"/in.txt", "/doc.pdb", "/out.txt"})
      std::remove((dir + name).c_str());
    rmdir(dir.c_str());
  }
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const Fixture& GetFixture() {
  static const Fixture fixture = [] {
    Fixture f;
    char tmpl[] = "/tmp/palm_bench_XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
      f.error = "cannot make a temporary folder";
      return f;
    }
    f.dir = tmpl;
    std::mt19937 rng(10);
    static const char* const kWords[] = {"caf\xE9 ",  "the ",       "reader ",
                                         "words\n",   "\xE9t\xE9 ", "palm ",
                                         "document ", "of ",        "text. "};
    std::string text;
    while (text.size() < kTextSize)
      text += kWords[rng() % std::size(kWords)];
    text.resize(kTextSize);
    std::ofstream(f.dir + "/in.txt", std::ios::binary) << text;
    const std::string make =
        "txt2pdbdoc -b Bench " + f.dir + "/in.txt " + f.dir + "/doc.pdb > /dev/null 2>&1";
    if (std::system(make.c_str()) != 0) {
      f.error = "txt2pdbdoc is not available";
      return f;
    }
    f.pdb = ReadFile(f.dir + "/doc.pdb");
    return f;
  }();
  return fixture;
}

// Opens the database in memory, measures and reads the whole text; answers
// the number of bytes read (0 on a failure).
std::uint64_t DecodeAll(const std::string& pdb) {
  EngineObject* stream = nullptr;
  if (MemStream_Create(
          g_MemStreamModule, const_cast<char*>(pdb.data()), static_cast<std::uint32_t>(pdb.size()),
          static_cast<std::uint32_t>(pdb.size()), kMemCreateCallerOwns, &stream) != kOk) {
    return 0;
  }
  std::uint64_t total = 0;
  EngineObject* db = nullptr;
  if (DbFile_Open(g_DbFileModule, stream, kDbOpenRead, &db) == kOk) {
    const DocHandlerOps& ops = DocOpsOf(&PalmDocModule);
    EngineObject* h = nullptr;
    if (ops.create(&PalmDocModule, &h) == kOk) {
      if (ops.command(h, DocCommand::OpenDatabase, db, 0) == kOk) {
        while (ops.backgroundStep(h) == kOk) {
        }
        std::uint32_t length = 0;
        ops.getTextLength(h, &length);
        std::uint8_t sink = 0;
        for (std::uint32_t p = 0; p < length;) {
          const std::uint8_t* text = nullptr;
          std::uint32_t n = 4096;
          if (ops.getText(h, p, &text, &n) != kOk || n == 0) break;
          sink ^= text[n - 1];
          p += n;
        }
        benchmark::DoNotOptimize(sink);
        total = length;
      }
      ops.destroy(h);
    }
    DbFile_Close(db);
  }
  StreamOf(stream).close(stream);
  return total;
}

bool PeerDecode(const Fixture& f) {
  const std::string cmd =
      "txt2pdbdoc -d " + f.dir + "/doc.pdb " + f.dir + "/out.txt > /dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

void BM_PalmDoc_Decode(benchmark::State& state) {
  Core_RegisterAllModules();
  const Fixture& f = GetFixture();
  if (!f.error.empty()) {
    state.SkipWithError(f.error.c_str());
    return;
  }
  for (auto _ : state) {
    if (DecodeAll(f.pdb) != kTextSize) {
      state.SkipWithError("the handler did not read the whole text");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kTextSize);
}
BENCHMARK(BM_PalmDoc_Decode)->Unit(benchmark::kMillisecond);

void BM_PalmDoc_PeerProcess(benchmark::State& state) {
  const Fixture& f = GetFixture();
  if (!f.error.empty()) {
    state.SkipWithError(f.error.c_str());
    return;
  }
  for (auto _ : state) {
    if (!PeerDecode(f)) {
      state.SkipWithError("txt2pdbdoc -d failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kTextSize);
}
BENCHMARK(BM_PalmDoc_PeerProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PalmDoc_VsPeer(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  Core_RegisterAllModules();
  const Fixture& f = GetFixture();
  if (!f.error.empty()) {
    state.SkipWithError(f.error.c_str());
    return;
  }
  if (!PeerDecode(f) || ReadFile(f.dir + "/out.txt") != ReadFile(f.dir + "/in.txt")) {
    state.SkipWithError("the peer does not decode its own file");
    return;
  }
  double engine = 0, peer = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(DecodeAll(f.pdb));
    const auto t1 = Clock::now();
    PeerDecode(f);
    const auto t2 = Clock::now();
    engine += std::chrono::duration<double>(t1 - t0).count();
    peer += std::chrono::duration<double>(t2 - t1).count();
  }
  state.counters["engine_ms"] = 1000 * engine / static_cast<double>(state.iterations());
  state.counters["peer_ms"] = 1000 * peer / static_cast<double>(state.iterations());
  state.counters["ratio"] = peer > 0 ? engine / peer : 0;
}
BENCHMARK(BM_PalmDoc_VsPeer)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
