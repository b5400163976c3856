// The literal find engine against the C library on the same 32 MiB of
// seeded, word-like text, both timed in each iteration. The engine runs a
// whole find (start, steps of 4096 bytes, finish) through a handler that
// serves 4096-byte windows straight from memory; the peer gets the whole
// text at once: memmem(3) for a case-sensitive find, strcasestr(3) for a
// folded one (both are given the pattern with its letters' case flipped).
//  - forward: the only hit lies 4 KiB before the end; a pattern whose first
//    byte is rare in the text and one whose first byte is common;
//  - backward: the only hit lies 4 KiB after the start, searched from the
//    end; the peer searches the reversed text for the reversed pattern from
//    its start, so both scan the same bytes for the same needle.
// The hits are checked once before timing. Counters: engine_MiBps and
// peer_MiBps (bytes scanned), ratio = engine time / peer time per byte
// scanned (above 1: the engine is slower).
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

// The peer's hit in text, or SIZE_MAX.
std::size_t PeerFind(const std::string& text, const std::string& pattern, bool folded) {
  const char* hit = folded ? strcasestr(text.c_str(), pattern.c_str())
                           : static_cast<const char*>(
                                 memmem(text.data(), text.size(), pattern.data(), pattern.size()));
  return hit ? static_cast<std::size_t>(hit - text.data()) : SIZE_MAX;
}

const std::string& Reversed() {
  static const std::string text(Text().rbegin(), Text().rend());
  return text;
}

std::string Flip(std::string s) {
  for (char& c : s) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) c = static_cast<char>(c ^ 0x20);
  }
  return s;
}

void BM_FindVsPeer(benchmark::State& state, const char* pattern, bool folded, bool backward) {
  using Clock = std::chrono::steady_clock;
  const std::string& text = Text();
  const std::size_t m = std::strlen(pattern);
  // Folding: both get the pattern with its letters' case flipped.
  const std::string ours = folded ? Flip(pattern) : pattern;
  const std::string theirs = backward ? std::string(ours.rbegin(), ours.rend()) : ours;
  const std::string& haystack = backward ? Reversed() : text;
  const std::uint16_t flags = static_cast<std::uint16_t>(
      (folded ? 0 : TextSearchFlag::CaseSensitive) | (backward ? TextSearchFlag::Backward : 0));
  const auto from = static_cast<std::uint32_t>(backward ? text.size() : 0);
  const std::size_t want = backward ? kHitFromEdge : PeerFind(text, pattern, false);
  const std::size_t peerWant = backward ? text.size() - kHitFromEdge - m : want;
  if (want == SIZE_MAX || EngineFind(ours, flags, from) != want ||
      PeerFind(haystack, theirs, folded) != peerWant) {
    state.SkipWithError("the engine and the peer disagree");
    return;
  }
  const double scanned = static_cast<double>(backward ? text.size() - kHitFromEdge : want + m);
  const double peerScanned = static_cast<double>(peerWant + m);
  double engineSeconds = 0;
  double peerSeconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(EngineFind(ours, flags, from));
    const auto t1 = Clock::now();
    benchmark::DoNotOptimize(PeerFind(haystack, theirs, folded));
    const auto t2 = Clock::now();
    engineSeconds += std::chrono::duration<double>(t1 - t0).count();
    peerSeconds += std::chrono::duration<double>(t2 - t1).count();
  }
  const double iterations = static_cast<double>(state.iterations());
  const double mib = 1 << 20;
  state.counters["engine_MiBps"] = scanned / mib * iterations / engineSeconds;
  state.counters["peer_MiBps"] = peerScanned / mib * iterations / peerSeconds;
  state.counters["ratio"] = (engineSeconds / scanned) / (peerSeconds / peerScanned);  // per byte
}

}  // namespace

BENCHMARK_CAPTURE(BM_FindVsPeer, forward_rare_first_byte, kRareForward, false, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindVsPeer, forward_rare_first_byte_folded, kRareForward, true, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindVsPeer, forward_common_first_byte, kCommonForward, false, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindVsPeer, forward_common_first_byte_folded, kCommonForward, true, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindVsPeer, backward, kBackward, false, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindVsPeer, backward_folded, kBackward, true, true)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  if (IsFailure(Core_RegisterAllModules())) return 1;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
