// Text conversion to UTF-16LE against glibc's iconv(3) on the same 16 MiB of
// seeded input, both timed in each iteration:
//  - UTF-8: words of ASCII, Latin, Greek and Cyrillic (2-byte), CJK (3-byte)
//    and a few 4-byte characters, spaces and line breaks, mostly ASCII as in
//    real documents;
//  - windows-1252: ASCII words with accented letters and the 0x80-0x9F
//    punctuation (bytes the charset leaves unassigned are not used).
// The outputs are compared once before timing. Counters: engine_MiBps and
// iconv_MiBps (source bytes), ratio = engine time / iconv time (above 1: the
// engine is slower).
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/runtime/module_table.h"
#include "engine/runtime/text_conv.h"
#include "engine/startup/engine_start.h"

namespace {

constexpr std::size_t kSize = 16u << 20;
constexpr std::uint32_t kUtf8 = 106;
constexpr std::uint32_t kWindows1252 = 2252;
constexpr std::uint32_t kUtf16Le = 1014;

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Words of 1-12 characters from one script each, padded with spaces to
// exactly kSize bytes.
const std::string& Utf8Input() {
  static const std::string text = [] {
    std::mt19937 rng(106);
    struct Script {
      std::uint32_t first, count, weight;
    };
    const Script scripts[] = {
        {'a', 26, 70},       // ASCII
        {0xE0, 32, 10},      // Latin-1 letters
        {0x3B1, 25, 5},      // Greek
        {0x430, 32, 5},      // Cyrillic
        {0x4E00, 20000, 8},  // CJK
        {0x1F600, 64, 2},    // emoji
    };
    std::uint32_t totalWeight = 0;
    for (const Script& s : scripts)
      totalWeight += s.weight;
    std::string out;
    out.reserve(kSize);
    std::string ch;
    for (;;) {
      std::uint32_t pick = rng() % totalWeight;
      const Script* script = scripts;
      while (pick >= script->weight)
        pick -= (script++)->weight;
      for (std::uint32_t n = 1 + rng() % 12; n > 0; --n) {
        ch.clear();
        AppendUtf8(ch, script->first + rng() % script->count);
        if (out.size() + ch.size() + 1 > kSize) {
          out.resize(kSize, ' ');
          return out;
        }
        out += ch;
      }
      out += rng() % 10 == 0 ? '\n' : ' ';
    }
  }();
  return text;
}

const std::string& Windows1252Input() {
  static const std::string text = [] {
    std::mt19937 rng(2252);
    std::string high;
    for (int b = 0x80; b < 0x100; ++b) {
      if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D) {
        high += static_cast<char>(b);
      }
    }
    std::string out;
    out.reserve(kSize);
    while (out.size() < kSize) {
      for (std::uint32_t n = 1 + rng() % 12; n > 0 && out.size() < kSize; --n) {
        out += rng() % 8 == 0 ? high[rng() % high.size()] : static_cast<char>('a' + rng() % 26);
      }
      if (out.size() < kSize) out += rng() % 10 == 0 ? '\n' : ' ';
    }
    return out;
  }();
  return text;
}

// Each converter writes UTF-16LE into out and answers the bytes written, or
// SIZE_MAX on failure.
std::size_t Engine(std::uint32_t mib, const std::string& in, std::vector<char>& out) {
  TextConvRequest r{};
  r.sourceMib = mib;
  r.source = in.data();
  r.sourceLength = static_cast<std::uint32_t>(in.size());
  r.targetMib = kUtf16Le;
  r.target = out.data();
  r.targetCapacity = static_cast<std::uint32_t>(out.size());
  if (TextConv_Convert(g_TextConvModule, &r) != kOk) return SIZE_MAX;
  return r.targetCapacity;
}

std::size_t Iconv(iconv_t cd, const std::string& in, std::vector<char>& out) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* from = const_cast<char*>(in.data());
  std::size_t fromLeft = in.size();
  char* to = out.data();
  std::size_t toLeft = out.size();
  if (iconv(cd, &from, &fromLeft, &to, &toLeft) == static_cast<std::size_t>(-1)) return SIZE_MAX;
  return out.size() - toLeft;
}

void BM_ToUtf16VsIconv(benchmark::State& state, std::uint32_t mib, const char* iconvName,
                       const std::string& (*input)()) {
  using Clock = std::chrono::steady_clock;
  const std::string& in = input();
  iconv_t cd = iconv_open("UTF-16LE", iconvName);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    state.SkipWithError("iconv_open failed");
    return;
  }
  std::vector<char> ours(in.size() * 2 + 16);
  std::vector<char> theirs(in.size() * 2 + 16);
  const std::size_t n = Engine(mib, in, ours);
  const std::size_t m = Iconv(cd, in, theirs);
  if (n == SIZE_MAX || n != m || std::memcmp(ours.data(), theirs.data(), n) != 0) {
    state.SkipWithError("the engine and iconv disagree");
    iconv_close(cd);
    return;
  }
  double engineSeconds = 0;
  double iconvSeconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(Engine(mib, in, ours));
    const auto t1 = Clock::now();
    benchmark::DoNotOptimize(Iconv(cd, in, theirs));
    const auto t2 = Clock::now();
    engineSeconds += std::chrono::duration<double>(t1 - t0).count();
    iconvSeconds += std::chrono::duration<double>(t2 - t1).count();
  }
  iconv_close(cd);
  const double iterations = static_cast<double>(state.iterations());
  const double mib16 = static_cast<double>(in.size()) / (1 << 20);
  state.counters["engine_MiBps"] = mib16 * iterations / engineSeconds;
  state.counters["iconv_MiBps"] = mib16 * iterations / iconvSeconds;
  state.counters["ratio"] = engineSeconds / iconvSeconds;
}

}  // namespace

BENCHMARK_CAPTURE(BM_ToUtf16VsIconv, utf8, kUtf8, "UTF-8", Utf8Input)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ToUtf16VsIconv, windows1252, kWindows1252, "WINDOWS-1252", Windows1252Input)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  if (IsFailure(Core_RegisterAllModules())) return 1;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
