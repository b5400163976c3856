// The text view over a 20 MiB plain-text document on the fake device:
//  - full pagination a slice at a time (MB/s, slices, the longest slice,
//    which the map's 62 ms limit should bound), on the recording fake device
//    as it is, and on the same device with logging off and text measured in
//    constant time (every byte 8 pixels), so that only the engine's own work
//    is timed (ms_per_MiB);
//  - 1,000 random jumps by fraction in the paginated document;
//  - finding a word 4 KiB before the end of a 20 MiB file read through the
//    plain-text handler's stream window, start to finish through the view,
//    against reading the same file with read(2) and memmem(3), both timed in
//    each iteration: ratio = view time / read-and-memmem time.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/formats/text_doc.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "engine/startup/engine_start.h"
#include "engine/view/text_view_internal.h"
#include "tests/support/fake_device.h"

namespace {

constexpr std::size_t kBytes = 20u << 20;
constexpr std::size_t kHitFromEnd = 4096;
const char kWord[] = "quixotic";  // no word of the document has a q or an x

// Benchmarks stop on any failure: a figure over a broken run means nothing.
void Check(StatusCode s, const char* what) {
  if (IsFailure(s)) {
    std::fprintf(stderr, "%s failed: 0x%08X\n", what, static_cast<unsigned>(s));
    std::abort();
  }
}

const std::string& Document() {
  static const std::string text = [] {
    std::mt19937 rng(7);
    const char letters[] = "abcdefghijklmnoprstuvwyz";
    std::string out;
    out.reserve(kBytes + 256);
    while (out.size() < kBytes) {
      const int words = 3 + static_cast<int>(rng() % 25);
      for (int w = 0; w < words; ++w) {
        out.append(1 + rng() % 9, letters[rng() % (sizeof letters - 1)]);
        out += ' ';
      }
      out += '\n';
    }
    out.resize(kBytes);
    out.replace(kBytes - kHitFromEnd, sizeof kWord - 1, kWord);
    return out;
  }();
  return text;
}

// The document as a file, written once per run and removed at exit.
const std::string& DocumentFile() {
  static const std::string path = [] {
    char name[] = "/tmp/kelpo-bench-text-view-XXXXXX";
    const int fd = mkstemp(name);
    const std::string& text = Document();
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        close(fd) != 0) {
      std::perror("writing the document file");
      std::abort();
    }
    static std::string remove = name;
    std::atexit([] { unlink(remove.c_str()); });
    return std::string(name);
  }();
  return path;
}

// Text measured in constant time: every byte 8 pixels wide, 16 high.
constexpr std::int16_t kAdvance = 8;
StatusCode FlatMeasureText(EngineObject*, DeviceContext, const std::uint8_t*, std::uint32_t count,
                           std::int16_t maxWidth, std::uint32_t* fit, std::int16_t* width,
                           std::int16_t* height) noexcept {
  std::uint32_t n = count;
  if (fit != nullptr) {
    n = std::min<std::uint32_t>(count,
                                static_cast<std::uint32_t>(std::max<int>(maxWidth, 0)) / kAdvance);
    *fit = n;
  }
  *width = static_cast<std::int16_t>(std::min<std::uint32_t>(n, 4000) * kAdvance);
  *height = 16;
  return kOk;
}
StatusCode FlatCharPositions(EngineObject*, DeviceContext, const std::uint8_t*,
                             std::uint32_t* count, std::int16_t* positions) noexcept {
  for (std::uint32_t i = 0; i < *count; ++i)
    positions[i] = static_cast<std::int16_t>(std::min<std::uint32_t>(i + 1, 4000) * kAdvance);
  return kOk;
}
StatusCode FlatMeasureWidth(EngineObject*, DeviceContext, const std::uint8_t*, std::uint32_t count,
                            std::int16_t* width) noexcept {
  *width = static_cast<std::int16_t>(std::min<std::uint32_t>(count, 4000) * kAdvance);
  return kOk;
}

enum class Device { kRecording, kFlat };
enum class Source { kMemory, kFile };

struct Session {
  EngineObject* device = nullptr;
  EngineObject* handler = nullptr;
  EngineObject* view = nullptr;
  EngineObject* file = nullptr;
  DeviceOps flatOps{};

  Session(Device kind, Source source) {
    static const bool registered = [] {
      Core_SetHostDeviceModule(&FakeDeviceModule);
      Check(Core_RegisterAllModules(), "registering the modules");
      return true;
    }();
    (void)registered;
    device = FakeDevice_Open(480, 640);
    FakeDevice_Of(device).services.clock = DeviceClock{nullptr, nullptr};  // the system clock
    if (kind == Device::kFlat) {
      FakeDevice_Of(device).logging = false;
      flatOps = DeviceOf(device);
      flatOps.measureText = FlatMeasureText;
      flatOps.getCharPositions = FlatCharPositions;
      flatOps.measureWidth = FlatMeasureWidth;
      device->ops = &flatOps;
    }
    Check(TextDoc_Create(&TextDocModule, &handler), "creating the handler");
    const std::string& text = Document();
    if (source == Source::kMemory) {
      Check(TextDoc_Command(handler, DocCommand::AttachText, const_cast<char*>(text.data()),
                            static_cast<std::uint32_t>(text.size())),
            "attaching the text");
    } else {
      std::u16string wide(DocumentFile().begin(), DocumentFile().end());
      Check(FileSys_Open(g_FileSysModule, wide.data(), 0, kFileOpenRead, &file),
            "opening the file");
      Check(TextDoc_Command(handler, DocCommand::AttachStream, file, 0), "attaching the file");
    }
    Check(Ops().create(&TextViewModule, &view), "creating the view");
    Check(Ops().setDevice(view, device), "setting the device");
    Check(Ops().setOptions(view, TextViewOption::CopyOnce), "setting the options");
    Check(Ops().attachDocument(view, handler, nullptr), "attaching the document");
    Check(Ops().setViewport(view, 0, 480, 640), "setting the viewport");
    Check(Ops().paint(view, nullptr, 0, 0, 480, 640), "painting");
    FakeDevice_Of(device).ClearLog();
  }
  ~Session() {
    Check(Ops().attachDocument(view, nullptr, nullptr), "detaching the document");
    Check(Ops().destroy(view), "destroying the view");
    Check(OpsOf<DocHandlerOps>(handler).destroy(handler), "destroying the handler");
    if (file != nullptr) Check(StreamOf(file).close(file), "closing the file");
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
      if (s != kViewMorePagination) {
        Check(s, "paginating");
        break;
      }
    }
    return longest;
  }

  // A whole find as the shell drives it; true when the view shows the hit.
  bool Find(const char* word) {
    EngineObject* search = nullptr;
    Check(Ops().findStart(view, reinterpret_cast<const std::uint8_t*>(word),
                          static_cast<std::uint32_t>(std::strlen(word)), 0, &search),
          "starting the find");
    for (;;) {
      std::int16_t percent = 0;
      const StatusCode s = Ops().findStep(view, search, &percent);
      if (s == kViewFindEnded) break;
      Check(s, "a find step");
    }
    const StatusCode s = Ops().findFinish(view, search);
    FakeDevice_Of(device).ClearLog();
    return s == kOk && TextViewOf(view).foundStart == kBytes - kHitFromEnd;
  }
};

void Paginate(benchmark::State& state, Device kind) {
  double longest = 0;
  double seconds = 0;
  int slices = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto session = std::make_unique<Session>(kind, Source::kMemory);
    state.ResumeTiming();
    const auto t0 = std::chrono::steady_clock::now();
    longest = std::max(longest, session->Paginate(&slices));
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    benchmark::DoNotOptimize(TextViewOf(session->view).paginatedHeight);
    state.PauseTiming();
    session.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
  state.counters["slices"] = slices;
  state.counters["longest_slice_ms"] = longest;
  state.counters["ms_per_MiB"] =
      seconds * 1e3 / static_cast<double>(state.iterations()) / (kBytes >> 20);
}

void BM_PaginateTwentyMiB(benchmark::State& state) {
  Paginate(state, Device::kRecording);
}
BENCHMARK(BM_PaginateTwentyMiB)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_PaginateTwentyMiBEngineOnly(benchmark::State& state) {
  Paginate(state, Device::kFlat);
}
BENCHMARK(BM_PaginateTwentyMiBEngineOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ThousandFractionJumps(benchmark::State& state) {
  Session session(Device::kRecording, Source::kMemory);
  int slices = 0;
  session.Paginate(&slices);
  std::mt19937 rng(3);
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) {
      Check(Session::Ops().navigate(session.view, TextViewNav::Fraction, rng() % 1024), "jumping");
      FakeDevice_Of(session.device).ClearLog();
    }
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_ThousandFractionJumps)->Unit(benchmark::kMillisecond);

// The peer: the whole file read into a buffer made ready beforehand, then
// memmem; the hit's offset.
std::size_t ReadAndMemmem(std::vector<char>& buffer) {
  const int fd = open(DocumentFile().c_str(), O_RDONLY);
  if (fd < 0) return SIZE_MAX;
  std::size_t got = 0;
  for (ssize_t n;
       got < buffer.size() && (n = read(fd, buffer.data() + got, buffer.size() - got)) > 0;)
    got += static_cast<std::size_t>(n);
  close(fd);
  const void* hit = memmem(buffer.data(), got, kWord, sizeof kWord - 1);
  return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - buffer.data()) : SIZE_MAX;
}

void BM_FindNearTheEndOfAFileVsReadAndMemmem(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  std::vector<char> buffer(kBytes, 1);
  if (ReadAndMemmem(buffer) != kBytes - kHitFromEnd) {
    state.SkipWithError("memmem misses the word");
    return;
  }
  double viewSeconds = 0;
  double peerSeconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto session = std::make_unique<Session>(Device::kRecording, Source::kFile);
    state.ResumeTiming();
    const auto t0 = Clock::now();
    const bool found = session->Find(kWord);
    const auto t1 = Clock::now();
    const std::size_t at = ReadAndMemmem(buffer);
    const auto t2 = Clock::now();
    if (!found || at != kBytes - kHitFromEnd) {
      state.SkipWithError("the view and memmem disagree");
      return;
    }
    viewSeconds += std::chrono::duration<double>(t1 - t0).count();
    peerSeconds += std::chrono::duration<double>(t2 - t1).count();
    state.PauseTiming();
    session.reset();
    state.ResumeTiming();
  }
  const double mib =
      static_cast<double>(kBytes) / (1 << 20) * static_cast<double>(state.iterations());
  state.counters["view_MiBps"] = mib / viewSeconds;
  state.counters["read_memmem_MiBps"] = mib / peerSeconds;
  state.counters["ratio"] = viewSeconds / peerSeconds;
}
BENCHMARK(BM_FindNearTheEndOfAFileVsReadAndMemmem)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
