// Palm Doc documents made by the peer converter txt2pdbdoc from real text: the
// licence texts shipped in /usr/share/common-licenses, repeated and cut to
// the size each case names (1,000 bytes to 80 MiB).
//  - OpenToFirstTextWindow: the engine's part of opening a document as the
//    reader opens it (file stream, record database, handler open, every
//    background step measuring one record) until the first window of text
//    is served; no view, layout or drawing (bench_reader_first_screen times
//    those).
//  - Measure / Decode: the two passes of the decompressor over every text
//    record held in memory (bytes of decoded text per second); the decoded
//    records are compared with the source text first.
//  - VsPeer: decoding the whole document as a whole process, our
//    palm_doc_cat (built beside this program) against `txt2pdbdoc -d`, both
//    writing a file; both outputs are compared with the source text.
//    ratio = our time / the peer's time (below 1: we are faster).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "engine/formats/palm_doc.h"
#include "engine/formats/palm_lz77.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/swap.h"
#include "engine/startup/engine_start.h"

namespace {

constexpr std::size_t kMiB = 1u << 20;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Fixture {
  std::string dir;
  std::string pdb;      // the compressed database's bytes
  std::string text;     // the source text
  std::string decoder;  // our palm_doc_cat
  std::string error;
  ~Fixture() {
    if (dir.empty()) return;
    for (const char* name : {"/in.txt", "/doc.pdb", "/peer.txt", "/ours.txt"})
      std::remove((dir + name).c_str());
    rmdir(dir.c_str());
  }
};

// The licence texts in name order, repeated and cut to size.
std::string RealText(std::size_t size) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/usr/share/common-licenses", ec)) {
    if (e.is_regular_file(ec)) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  std::string base;
  for (const auto& f : files)
    base += ReadFile(f.string());
  if (base.empty()) return base;
  std::string text;
  while (text.size() < size)
    text += base;
  text.resize(size);
  return text;
}

// Writes the text of `size` bytes and its document into a new folder.
void MakeFixture(std::size_t size, Fixture& f) {
  char self[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) f.decoder = std::filesystem::path(self).parent_path() / "bench_palm_doc_cat";
  char tmpl[] = "/tmp/palm_bench_XXXXXX";
  if (mkdtemp(tmpl) == nullptr) {
    f.error = "cannot make a temporary folder";
    return;
  }
  f.dir = tmpl;
  f.text = RealText(size);
  if (f.text.empty()) {
    f.error = "no texts in /usr/share/common-licenses";
    return;
  }
  std::ofstream(f.dir + "/in.txt", std::ios::binary) << f.text;
  const std::string make =
      "txt2pdbdoc -b Bench " + f.dir + "/in.txt " + f.dir + "/doc.pdb > /dev/null 2>&1";
  if (std::system(make.c_str()) != 0) {
    f.error = "txt2pdbdoc is not available";
    return;
  }
  f.pdb = ReadFile(f.dir + "/doc.pdb");
}

// One fixture per text size, made on first use and kept (in place: a
// fixture removes its folder when destroyed) to the end.
const Fixture& GetFixture(std::size_t size) {
  static std::map<std::size_t, Fixture> fixtures;
  auto [it, made] = fixtures.try_emplace(size);
  if (made) MakeFixture(size, it->second);
  return it->second;
}

// Opens the document file as the reader does and serves its first window;
// answers the text length (0 on a failure).
std::uint32_t OpenToFirstTextWindow(const std::string& path) {
  std::u16string wide(path.begin(), path.end());
  EngineObject* stream = nullptr;
  if (FileSys_Open(g_FileSysModule, wide.data(), 0, kFileOpenRead, &stream) != kOk) return 0;
  std::uint32_t length = 0;
  EngineObject* db = nullptr;
  if (DbFile_Open(g_DbFileModule, stream, kDbOpenRead, &db) == kOk) {
    const DocHandlerOps& ops = DocOpsOf(&PalmDocModule);
    EngineObject* h = nullptr;
    if (ops.create(&PalmDocModule, &h) == kOk) {
      StatusCode s = ops.command(h, DocCommand::OpenDatabase, db, 0);
      while (s == kOk)
        s = ops.backgroundStep(h);
      const std::uint8_t* text = nullptr;
      std::uint32_t n = kPalmDocTextRecordSize;
      if (s == kDocStepDone && ops.getText(h, 0, &text, &n) == kOk && n > 0 &&
          ops.getTextLength(h, &length) == kOk) {
        benchmark::DoNotOptimize(text[n - 1]);
      }
      (void)ops.destroy(h);  // frees memory only
    }
    (void)DbFile_Close(db);  // read-only: nothing to commit
  }
  (void)StreamOf(stream).close(stream);  // a read-only file closes cleanly
  return length;
}

void BM_PalmDoc_OpenToFirstTextWindow(benchmark::State& state) {
  if (IsFailure(Core_RegisterAllModules())) state.SkipWithError("engine start failed");
  const auto size = static_cast<std::size_t>(state.range(0));
  const Fixture& f = GetFixture(size);
  if (!f.error.empty()) {
    state.SkipWithError(f.error.c_str());
    return;
  }
  for (auto _ : state) {
    if (OpenToFirstTextWindow(f.dir + "/doc.pdb") != size) {
      state.SkipWithError("the handler did not measure the whole text");
      return;
    }
  }
}
BENCHMARK(BM_PalmDoc_OpenToFirstTextWindow)
    ->Unit(benchmark::kMillisecond)
    ->Arg(1 * kMiB)
    ->Arg(5 * kMiB)
    ->Arg(20 * kMiB)
    ->Arg(80 * kMiB);

// The text records of the fixture, as (offset, size) in its bytes.
std::vector<std::pair<std::uint32_t, std::uint32_t>> TextRecords(const std::string& pdb) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(pdb.data());
  const std::uint32_t count = LoadBE16(p + 76);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
  for (std::uint32_t i = 1; i < count; ++i) {
    const std::uint32_t at = LoadBE32(p + kDbHeaderSize + kDbEntrySize * i);
    const std::uint32_t end = i + 1 < count ? LoadBE32(p + kDbHeaderSize + kDbEntrySize * (i + 1))
                                            : static_cast<std::uint32_t>(pdb.size());
    out.emplace_back(at, end - at);
  }
  return out;
}

template <bool kDecode>
void DecoderPass(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const Fixture& f = GetFixture(size);
  if (!f.error.empty()) {
    state.SkipWithError(f.error.c_str());
    return;
  }
  const auto records = TextRecords(f.pdb);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(f.pdb.data());
  std::vector<std::uint8_t> buffer(kPalmDocTextRecordSize);
  if (kDecode) {
    // The records decode to the source text.
    std::string text;
    for (const auto& [at, n] : records) {
      std::uint32_t length = 0;
      if (PalmDocLz_Decode(bytes + at, n, buffer.data(), kPalmDocTextRecordSize, &length) != kOk ||
          length > kPalmDocTextRecordSize) {
        state.SkipWithError("a record did not decode");
        return;
      }
      text.append(reinterpret_cast<const char*>(buffer.data()), length);
    }
    if (text != f.text) {
      state.SkipWithError("the decoded text differs from the source text");
      return;
    }
  }
  for (auto _ : state) {
    std::uint64_t total = 0;
    for (const auto& [at, size] : records) {
      std::uint32_t n = 0;
      const StatusCode s =
          kDecode ? PalmDocLz_Decode(bytes + at, size, buffer.data(), kPalmDocTextRecordSize, &n)
                  : PalmDocLz_MeasureRecord(bytes + at, size, &n);
      if (s != kOk) state.SkipWithError("a record did not decode");
      total += n;
    }
    if (total != size) {
      state.SkipWithError("the records do not add up to the text");
      return;
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void BM_PalmDoc_Measure(benchmark::State& state) {
  DecoderPass<false>(state);
}
BENCHMARK(BM_PalmDoc_Measure)->Unit(benchmark::kMillisecond)->Arg(20 * kMiB);

void BM_PalmDoc_Decode(benchmark::State& state) {
  DecoderPass<true>(state);
}
BENCHMARK(BM_PalmDoc_Decode)->Unit(benchmark::kMillisecond)->Arg(20 * kMiB);

bool Run(const std::string& command) {
  return std::system((command + " 2>/dev/null").c_str()) == 0;
}

void BM_PalmDoc_VsPeer(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const Fixture& f = GetFixture(static_cast<std::size_t>(state.range(0)));
  if (!f.error.empty()) {
    state.SkipWithError(f.error.c_str());
    return;
  }
  const std::string ours = f.decoder + " " + f.dir + "/doc.pdb > " + f.dir + "/ours.txt";
  const std::string peer = "txt2pdbdoc -d " + f.dir + "/doc.pdb " + f.dir + "/peer.txt";
  if (!Run(peer) || ReadFile(f.dir + "/peer.txt") != f.text) {
    state.SkipWithError("the peer does not decode its own file");
    return;
  }
  if (!Run(ours) || ReadFile(f.dir + "/ours.txt") != f.text) {
    state.SkipWithError("our decoder's output differs from the source text");
    return;
  }
  double engine = 0, other = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    const bool a = Run(ours);
    const auto t1 = Clock::now();
    const bool b = Run(peer);
    const auto t2 = Clock::now();
    if (!a || !b) {
      state.SkipWithError("a decoder failed");
      return;
    }
    engine += std::chrono::duration<double>(t1 - t0).count();
    other += std::chrono::duration<double>(t2 - t1).count();
  }
  if (ReadFile(f.dir + "/ours.txt") != ReadFile(f.dir + "/peer.txt")) {
    state.SkipWithError("the outputs differ");
    return;
  }
  state.counters["ours_ms"] = 1000 * engine / static_cast<double>(state.iterations());
  state.counters["peer_ms"] = 1000 * other / static_cast<double>(state.iterations());
  state.counters["ratio"] = other > 0 ? engine / other : 0;
}
BENCHMARK(BM_PalmDoc_VsPeer)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Arg(1000)
    ->Arg(1 * kMiB)
    ->Arg(20 * kMiB);

}  // namespace

BENCHMARK_MAIN();
