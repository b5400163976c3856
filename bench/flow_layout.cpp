// Laying out a 10 MiB plain-text document into lines through the plain-text
// handler, the shared flowing-text code and the recording fake device, the
// text held in memory and read through a stream's two-half window. Reported:
// lines per second and bytes per second. The fake device logs every call
// (the log is cleared every 256 lines), so the figures include that cost.
//
// The fake device lives in tests/support; it is compiled in here because the
// benchmarks link only the engine.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "engine/formats/text_doc.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "engine/startup/engine_start.h"
#include "tests/support/fake_device.h"

namespace {

constexpr std::uint32_t kSize = 10u << 20;

// Seeded prose: words of 1-12 letters, single spaces, a line break every
// 40-120 words and a blank line now and then.
const std::string& Text() {
  static const std::string text = [] {
    std::mt19937 rng(42);
    std::string t;
    t.reserve(kSize + 64);
    int words = 0, paragraph = 40 + static_cast<int>(rng() % 80);
    while (t.size() < kSize) {
      const int len = 1 + static_cast<int>(rng() % 12);
      for (int k = 0; k < len; ++k)
        t += static_cast<char>('a' + rng() % 26);
      if (++words == paragraph) {
        t += rng() % 4 == 0 ? "\n\n" : "\n";
        words = 0;
        paragraph = 40 + static_cast<int>(rng() % 80);
      } else {
        t += ' ';
      }
    }
    t.resize(kSize);
    return t;
  }();
  return text;
}

// Benchmarks stop on any failure: a figure over a broken run means nothing.
void Check(StatusCode s, const char* what) {
  if (IsFailure(s)) {
    std::fprintf(stderr, "%s failed: 0x%08X\n", what, static_cast<unsigned>(s));
    std::abort();
  }
}

void Register() {
  static const bool done = [] {
    Core_SetHostDeviceModule(&FakeDeviceModule);
    Check(Core_RegisterAllModules(), "registering the modules");
    return true;
  }();
  (void)done;
}

void LayOut(benchmark::State& state, bool fromStream) {
  Register();
  const std::string& text = Text();
  const DocHandlerOps& ops = DocOpsOf(&TextDocModule);
  EngineObject* dev = FakeDevice_Open(600, 400);
  DeviceContext ctx = nullptr;
  Check(DeviceOf(dev).beginDraw(dev, &ctx), "beginning to draw");
  EngineObject* stream = nullptr;
  if (fromStream)
    Check(MemStream_Create(g_MemStreamModule, const_cast<char*>(text.data()), kSize, kSize,
                           kMemCreateCallerOwns, &stream),
          "creating the stream");
  std::uint64_t lines = 0;
  for (auto _ : state) {
    EngineObject* doc = nullptr;
    Check(ops.create(&TextDocModule, &doc), "creating the handler");
    Check(fromStream
              ? ops.command(doc, DocCommand::AttachStream, stream, 0)
              : ops.command(doc, DocCommand::AttachText, const_cast<char*>(text.data()), kSize),
          "attaching the text");
    std::uint32_t p = 0;
    while (p < kSize) {
      std::uint32_t next = 0;
      LineMetrics m{};
      const StatusCode s = ops.layoutLine(doc, dev, ctx, p, kSize, 600, &next, &m);
      if (s != kOk) {
        Check(s, "laying out a line");
        break;
      }
      p = next;
      if (++lines % 256 == 0) FakeDevice_Of(dev).ClearLog();
    }
    Check(ops.destroy(doc), "destroying the handler");
  }
  state.counters["lines/s"] =
      benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kSize);
  if (stream) Check(StreamOf(stream).close(stream), "closing the stream");
  Check(DeviceOf(dev).endDraw(dev, ctx), "ending the drawing");
  FakeDevice_Close(dev);
}

void BM_LayOutTenMiBInMemory(benchmark::State& state) {
  LayOut(state, false);
}
void BM_LayOutTenMiBFromStream(benchmark::State& state) {
  LayOut(state, true);
}
BENCHMARK(BM_LayOutTenMiBInMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LayOutTenMiBFromStream)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
