// The native table layout pass over one 2,000-row table (two cells a row,
// a caption, rules and a padded column) with the recording fake device
// (call log off). The document is described here (seeded cell texts) and
// written by tools/native_writer.py at start-up. Each iteration empties the
// device's table store and runs the pass to its end, slice after slice.
// There is no peer: rows/s is the figure to watch.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include <unistd.h>

#include "engine/device/pos_map.h"
#include "engine/formats/native_doc.h"
#include "engine/formats/native_table_lines.h"
#include "engine/formats/native_table_pass.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "engine/startup/engine_start.h"
#include "tests/support/fake_device.h"

namespace {

constexpr int kRows = 2000;

void Check(StatusCode s, const char* what) {
  if (IsFailure(s)) {
    std::fprintf(stderr, "%s failed: 0x%08X\n", what, static_cast<unsigned>(s));
    std::abort();
  }
}

std::string Description() {
  std::mt19937 rng(2000);
  static const char* const kWords[] = {"table",  "row", "cell",   "of",    "the",  "reader",
                                       "layout", "a",   "column", "width", "text", "pass"};
  std::string groups;
  for (int i = 0; i < kRows; ++i) {
    std::string words;
    const int n = 1 + static_cast<int>(rng() % 12);
    for (int k = 0; k < n; ++k)
      words += std::string(k ? " " : "") + kWords[rng() % 12];
    if (i != 0) groups += ", ";
    groups += "{\"rows\": 1, \"cells\": [{\"content\": \"" + std::to_string(i) +
              "\", \"format\": {\"padding\": [1, 2, 1, 2]}}, {\"content\": \"" + words + "\"}]}";
  }
  return "{\"table_layout\": {\"content\": [\"before\\n\", {\"table\": {\"caption\": "
         "\"Two thousand rows\", \"rule_mode\": 5, \"rule_width\": 1, \"entry_flags\": 12, "
         "\"groups\": [" +
         groups + "]}}, \"after\\n\"]}}";
}

// Runs the project's writer on the description; the document's bytes.
std::string WriteDocument() {
  const std::string tool = std::string(KELPO_SOURCE_DIR) + "/tools/native_writer.py";
  char json[] = "/tmp/bench_native_tableXXXXXX";
  const int fd = mkstemp(json);
  if (fd < 0) std::abort();
  const std::string d = Description();
  if (write(fd, d.data(), d.size()) != static_cast<ssize_t>(d.size())) std::abort();
  close(fd);
  const std::string out = std::string(json) + ".pdb";
  const std::string command = "python3 '" + tool + "' '" + json + "' '" + out + "'";
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "the writer failed\n");
    std::abort();
  }
  std::string bytes;
  if (FILE* f = std::fopen(out.c_str(), "rb")) {
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
      bytes.append(buffer, n);
    std::fclose(f);
  }
  std::remove(json);
  std::remove(out.c_str());
  return bytes;
}

// The written document opened by the native handler on a memory stream,
// with the recording fake device (call log off) drawing.
struct OpenedTable {
  EngineObject* stream = nullptr;
  EngineObject* db = nullptr;
  EngineObject* doc = nullptr;
  EngineObject* dev = nullptr;
  DeviceContext ctx = nullptr;

  OpenedTable() {
    static const bool registered = [] {
      Core_SetHostDeviceModule(&FakeDeviceModule);
      Check(Core_RegisterAllModules(), "registering the modules");
      return true;
    }();
    (void)registered;
    static const std::string file = WriteDocument();
    Check(MemStream_Create(g_MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream),
          "creating the stream");
    Check(StreamOf(stream).writeAt(stream, 0, file.data(), static_cast<std::uint32_t>(file.size()),
                                   nullptr),
          "filling the stream");
    Check(DbFile_Open(g_DbFileModule, stream, kDbOpenWrite, &db), "opening the database");
    Check(NativeDoc_Create(&NativeDocModule, &doc), "creating the handler");
    Check(NativeDoc_Command(doc, DocCommand::OpenDatabase, db, 0), "opening the document");
    dev = FakeDevice_Open(600, 400);
    FakeDevice_Of(dev).logging = false;
    Check(OpsOf<DeviceOps>(dev).beginDraw(dev, &ctx), "beginning to draw");
  }
  ~OpenedTable() {
    Check(OpsOf<DeviceOps>(dev).endDraw(dev, ctx), "ending the drawing");
    FakeDevice_Close(dev);
    Check(NativeDoc_Destroy(doc), "destroying the handler");
    Check(DbFile_Close(db), "closing the database");
    Check(StreamOf(stream).close(stream), "closing the stream");
  }
  OpenedTable(const OpenedTable&) = delete;
  OpenedTable& operator=(const OpenedTable&) = delete;
  NativeDocState& State() { return BodyOf<NativeDocState>(doc); }
  // The pass from its reset to its end; the slices it took.
  std::int64_t Pass() {
    if (TableLayout_Reset(&State(), doc, 0) != kDocTablePassPending) std::abort();
    std::int64_t slices = 0;
    while (State().tablePass.passState != NativeTablePass::Idle) {
      Check(TableLayout_Continue(doc, dev, ctx, &State()), "running the pass");
      ++slices;
    }
    return slices;
  }
};

void TablePass(benchmark::State& state) {
  OpenedTable t;
  std::int64_t slices = 0;
  for (auto _ : state) {
    Check(OpsOf<DeviceOps>(t.dev).posMapCommand(t.dev, PosMapCode::Reset, nullptr, nullptr),
          "emptying the store");
    slices += t.Pass();
  }
  state.counters["rows/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kRows,
                                                benchmark::Counter::kIsRate);
  state.counters["slices"] =
      benchmark::Counter(static_cast<double>(slices) / static_cast<double>(state.iterations()));
}
BENCHMARK(TablePass)->Unit(benchmark::kMillisecond);

// Lays out every row line of the table after one pass, as pagination does.
void RowLines(benchmark::State& state) {
  OpenedTable t;
  (void)t.Pass();
  std::uint32_t start = 0, end = 0;
  std::uint16_t number = 0;
  Check(NativeStore_FindLevelRun(&t.State(), 1, 8, 0, &start, &end, &number), "finding the table");
  std::int64_t lines = 0;
  for (auto _ : state) {
    for (std::uint32_t p = start; p < end;) {
      std::uint32_t next = 0;
      LineMetrics m{};
      Check(TableLine_LayoutRowLine(t.doc, t.dev, t.ctx, &t.State(), p, 600, &next, &m),
            "laying out");
      p = next;
      ++lines;
    }
  }
  state.counters["lines/s"] =
      benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
}
BENCHMARK(RowLines)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
