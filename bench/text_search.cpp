// The literal find engine against memmem(3) on the same 32 MiB of seeded,
// word-like text, both timed in each iteration. The engine runs a whole find
// (start, steps of 4096 bytes, finish) through a handler that serves 4096-byte
// windows straight from memory; memmem gets the whole text at once.
//  - forward: the only hit lies 4 KiB before the end; case-sensitive and
//    folded; a pattern whose first byte is rare in the text and one whose
//    first byte is common;
//  - backward: the only hit lies 4 KiB after the start, searched from the end
//    (the pattern ends with a common byte, where a backward scan begins);
//    compared with memmem scanning to the forward hit (the same distance).
// The hits are checked once before timing. Counters: engine_MiBps and
// memmem_MiBps (bytes scanned), ratio = engine time / memmem time (above 1:
// the engine is slower).
#include <benchmark/benchmark.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "engine/formats/doc_handler.h"
#include "engine/formats/text_search.h"
#include "engine/runtime/module_table.h"
#include "engine/startup/engine_start.h"

namespace {

constexpr std::size_t kSize = 32u << 20;
constexpr std::size_t kHitFromEdge = 4096;

// First bytes: 'q' never starts a word of the text, 's' often does.
const char* const kRareForward = "quixotic zephyr";
const char* const kCommonForward = "sizzling jukebox";
const char* const kBackward = "quiz the";

const std::string& Text() {
  static const std::string text = [] {
    std::mt19937 rng(4126);
    // Words of common English shapes without the letters j, q, x and z, so
    // the patterns occur only where they are put.
    const char* const words[] = {
        "the",   "of",     "and",    "a",      "to",     "in",     "is",    "you",    "that",
        "it",    "he",     "was",    "for",    "on",     "are",    "as",    "with",   "his",
        "they",  "I",      "at",     "be",     "this",   "have",   "from",  "or",     "one",
        "had",   "by",     "word",   "but",    "not",    "what",   "all",   "were",   "we",
        "when",  "your",   "can",    "said",   "there",  "use",    "an",    "each",   "which",
        "she",   "do",     "how",    "their",  "if",     "will",   "up",    "other",  "about",
        "out",   "many",   "then",   "them",   "these",  "so",     "some",  "her",    "would",
        "make",  "like",   "him",    "into",   "time",   "has",    "look",  "two",    "more",
        "write", "go",     "see",    "number", "no",     "way",    "could", "people", "my",
        "than",  "first",  "water",  "been",   "call",   "who",    "oil",   "its",    "now",
        "find",  "long",   "down",   "day",    "did",    "get",    "come",  "made",   "may",
        "part",  "Sunday", "Silver", "silent", "sister", "string", "sound", "small",  "spell"};
    std::string t;
    t.reserve(kSize + 64);
    while (t.size() < kSize) {
      t += words[rng() % std::size(words)];
      t += rng() % 12 == 0 ? (rng() % 4 == 0 ? ".\n" : ", ") : " ";
    }
    t.resize(kSize);
    t.replace(kSize - kHitFromEdge, std::strlen(kRareForward), kRareForward);
    t.replace(kSize - 2 * kHitFromEdge, std::strlen(kCommonForward), kCommonForward);
    t.replace(kHitFromEdge, std::strlen(kBackward), kBackward);
    return t;
  }();
  return text;
}

// A handler over the text in memory: 4096-byte windows, one section.
struct MemoryDoc {
  static const std::string& T() { return Text(); }
  static StatusCode SectionRange(EngineObject*, std::int16_t section, std::uint32_t* start,
                                 std::uint32_t* end) noexcept {
    if (section != 0) return kNoMore;
    *start = 0;
    *end = static_cast<std::uint32_t>(T().size());
    return kOk;
  }
  static StatusCode GetText(EngineObject*, std::uint32_t position, const std::uint8_t** text,
                            std::uint32_t* length) noexcept {
    const auto size = static_cast<std::uint32_t>(T().size());
    const std::uint32_t n =
        position >= size ? 0 : std::min({*length, 4096 - position % 4096, size - position});
    *text = n ? reinterpret_cast<const std::uint8_t*>(T().data()) + position : nullptr;
    *length = n;
    return kOk;
  }
  static StatusCode GetTextBefore(EngineObject*, std::uint32_t position, const std::uint8_t** text,
                                  std::uint32_t* length) noexcept {
    const auto size = static_cast<std::uint32_t>(T().size());
    const std::uint32_t n =
        position == 0 || position > size ? 0 : std::min({*length, (position - 1) % 4096 + 1});
    *text = n ? reinterpret_cast<const std::uint8_t*>(T().data()) + position - n : nullptr;
    *length = n;
    return kOk;
  }
  static StatusCode Control(EngineObject*, std::uint16_t, std::uint32_t, void*) noexcept {
    return kNotSupported;  // no charset: windows-1252
  }
};

const DocHandlerOps kMemoryDocOps = [] {
  DocHandlerOps ops{};
  ops.word0 = Core_NotImplemented;
  ops.getSectionRange = MemoryDoc::SectionRange;
  ops.getText = MemoryDoc::GetText;
  ops.getTextBefore = MemoryDoc::GetTextBefore;
  ops.control = MemoryDoc::Control;
  ops.end = Core_NotImplemented;
  return ops;
}();
EngineObject g_memoryDoc = {nullptr, &kMemoryDocOps};

// A whole find as the view drives it; the hit's start, or SIZE_MAX.
std::size_t EngineFind(const std::string& pattern, std::uint16_t flags, std::uint32_t position) {
  TextSearch* search = nullptr;
  if (TextSearch_Start(g_TextSearchModule, pattern.data(),
                       static_cast<std::uint32_t>(pattern.size()), flags, &g_memoryDoc, 0, position,
                       &search) != kOk) {
    return SIZE_MAX;
  }
  while (TextSearch_Step(g_TextSearchModule, search, nullptr, nullptr) == kOk) {
  }
  std::uint32_t start = 0, end = 0;
  if (TextSearch_Finish(g_TextSearchModule, search, &start, &end) != kOk) return SIZE_MAX;
  return start;
}

std::size_t MemmemFind(const std::string& text, const char* pattern) {
  const void* hit = memmem(text.data(), text.size(), pattern, std::strlen(pattern));
  return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) : SIZE_MAX;
}

std::string Flip(std::string s) {
  for (char& c : s) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) c = static_cast<char>(c ^ 0x20);
  }
  return s;
}

void BM_FindVsMemmem(benchmark::State& state, const char* pattern, bool folded, bool backward) {
  using Clock = std::chrono::steady_clock;
  const std::string& text = Text();
  // The engine gets the pattern with its letters' case flipped when folding.
  const std::string ours = folded ? Flip(pattern) : pattern;
  const std::uint16_t flags = static_cast<std::uint16_t>(
      (folded ? 0 : TextSearchFlag::CaseSensitive) | (backward ? TextSearchFlag::Backward : 0));
  const auto from = static_cast<std::uint32_t>(backward ? text.size() : 0);
  const char* reference = backward ? kRareForward : pattern;
  const std::size_t want = backward ? kHitFromEdge : MemmemFind(text, pattern);
  if (EngineFind(ours, flags, from) != want || MemmemFind(text, reference) == SIZE_MAX) {
    state.SkipWithError("the engine and memmem disagree");
    return;
  }
  const double scanned =
      static_cast<double>(backward ? text.size() - kHitFromEdge : want + std::strlen(pattern));
  const double referenceScanned = static_cast<double>(MemmemFind(text, reference));
  double engineSeconds = 0;
  double memmemSeconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(EngineFind(ours, flags, from));
    const auto t1 = Clock::now();
    benchmark::DoNotOptimize(MemmemFind(text, reference));
    const auto t2 = Clock::now();
    engineSeconds += std::chrono::duration<double>(t1 - t0).count();
    memmemSeconds += std::chrono::duration<double>(t2 - t1).count();
  }
  const double iterations = static_cast<double>(state.iterations());
  const double mib = 1 << 20;
  state.counters["engine_MiBps"] = scanned / mib * iterations / engineSeconds;
  state.counters["memmem_MiBps"] = referenceScanned / mib * iterations / memmemSeconds;
  state.counters["ratio"] =
      (engineSeconds / scanned) / (memmemSeconds / referenceScanned);  // per byte
}

}  // namespace

BENCHMARK_CAPTURE(BM_FindVsMemmem, forward_rare_first_byte, kRareForward, false, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindVsMemmem, forward_rare_first_byte_folded, kRareForward, true, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindVsMemmem, forward_common_first_byte, kCommonForward, false, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindVsMemmem, forward_common_first_byte_folded, kCommonForward, true, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindVsMemmem, backward, kBackward, false, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindVsMemmem, backward_folded, kBackward, true, true)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  if (IsFailure(Core_RegisterAllModules())) return 1;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
