// The text view over a 20 MiB plain-text document on the fake device:
// full pagination a slice at a time (MB/s, slices, the longest slice, which
// the device's 62 ms limit should bound), and 1,000 random jumps by fraction
// in the paginated document.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <string>

#include "engine/formats/text_doc.h"
#include "engine/startup/engine_start.h"
#include "engine/view/text_view_internal.h"
#include "tests/support/fake_device.h"

namespace {

constexpr std::size_t kBytes = 20u << 20;

const std::string& Document() {
  static const std::string text = [] {
    std::mt19937 rng(7);
    std::string out;
    out.reserve(kBytes + 256);
    while (out.size() < kBytes) {
      const int words = 3 + static_cast<int>(rng() % 25);
      for (int w = 0; w < words; ++w) {
        out.append(1 + rng() % 9, static_cast<char>('a' + rng() % 26));
        out += ' ';
      }
      out += '\n';
    }
    out.resize(kBytes);
    return out;
  }();
  return text;
}

struct Session {
  EngineObject* device = nullptr;
  EngineObject* handler = nullptr;
  EngineObject* view = nullptr;

  Session() {
    static const bool registered = [] {
      Core_SetHostDeviceModule(&FakeDeviceModule);
      Core_RegisterAllModules();
      return true;
    }();
    (void)registered;
    device = FakeDevice_Open(480, 640);
    FakeDevice_Of(device).services.clock = DeviceClock{nullptr, nullptr};  // the system clock
    TextDoc_Create(&TextDocModule, &handler);
    const std::string& text = Document();
    TextDoc_Command(handler, DocCommand::AttachText, const_cast<char*>(text.data()),
                    static_cast<std::uint32_t>(text.size()));
    Ops().create(&TextViewModule, &view);
    Ops().setDevice(view, device);
    Ops().setOptions(view, TextViewOption::CopyOnce);
    Ops().attachDocument(view, handler, nullptr);
    Ops().setViewport(view, 0, 480, 640);
    Ops().paint(view, nullptr, 0, 0, 480, 640);
    FakeDevice_Of(device).ClearLog();
  }
  ~Session() {
    Ops().attachDocument(view, nullptr, nullptr);
    Ops().destroy(view);
    OpsOf<DocHandlerOps>(handler).destroy(handler);
    FakeDevice_Close(device);
  }
  static const TextViewOps& Ops() { return OpsOf<TextViewOps>(&TextViewModule); }

  // Runs slices until the section is paginated; the longest slice in ms.
  double Paginate(int* slices) {
    double longest = 0;
    *slices = 0;
    for (;;) {
      const auto t0 = std::chrono::steady_clock::now();
      const StatusCode s = Ops().navigate(view, TextViewNav::PaginationSlice, 0);
      const auto t1 = std::chrono::steady_clock::now();
      longest = std::max(longest, std::chrono::duration<double, std::milli>(t1 - t0).count());
      ++*slices;
      FakeDevice_Of(device).ClearLog();  // the recording would otherwise grow without end
      if (s != kViewMorePagination) break;
    }
    return longest;
  }
};

void BM_PaginateTwentyMiB(benchmark::State& state) {
  double longest = 0;
  int slices = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto session = std::make_unique<Session>();
    state.ResumeTiming();
    longest = std::max(longest, session->Paginate(&slices));
    benchmark::DoNotOptimize(TextViewOf(session->view).paginatedHeight);
    state.PauseTiming();
    session.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
  state.counters["slices"] = slices;
  state.counters["longest_slice_ms"] = longest;
}
BENCHMARK(BM_PaginateTwentyMiB)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ThousandFractionJumps(benchmark::State& state) {
  Session session;
  int slices = 0;
  session.Paginate(&slices);
  std::mt19937 rng(3);
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) {
      Session::Ops().navigate(session.view, TextViewNav::Fraction, rng() % 1024);
      FakeDevice_Of(session.device).ClearLog();
    }
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_ThousandFractionJumps)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
