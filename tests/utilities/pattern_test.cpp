#include "engine/utilities/pattern.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/runtime/module_table.h"
#include "tests/support/failing_allocator.h"

namespace {

const PatternOps& Ops() {
  return OpsOf<PatternOps>(g_PatternModule);
}

StatusCode Match(std::uint32_t kind, std::uint32_t options, const std::string& pattern,
                 const std::string& text) {
  return Ops().match(g_PatternModule, kind, options, pattern.data(),
                     static_cast<std::uint32_t>(pattern.size()), text.data(),
                     static_cast<std::uint32_t>(text.size()));
}

constexpr std::uint32_t O = kPatternSlashes;
constexpr std::uint32_t C = kPatternCaseSensitive;

struct MatchCase {
  std::uint32_t kind;
  std::uint32_t options;
  const char* pattern;
  const char* text;
  StatusCode expected;
};

TEST(Pattern, WildcardAndExpressionCases) {
  const MatchCase cases[] = {
      // Wildcards: unanchored, "?" any byte, A-Z folded unless C.
      {kPatternWildcard, 0, "b?d", "abcde", kOk},
      {kPatternWildcard, 0, "*", "x", kOk},
      {kPatternWildcard, 0, "***", "anything", kOk},
      {kPatternWildcard, 0, "A*c", "xaYc", kOk},
      {kPatternWildcard, C, "A*c", "xaYc", kNotFound},
      {kPatternWildcard, C, "a*c", "xaYc", kOk},
      {kPatternWildcard, 0, "ab*ba", "aba", kNotFound},  // segments may not overlap
      {kPatternWildcard, 0, "ab*ba", "abba", kOk},
      {kPatternWildcard, 0, "a?c*d?", "xxabcQQdz", kOk},
      {kPatternWildcard, 0, "a?c*d?", "xxabcQQd", kNotFound},  // "?" needs a byte
      {kPatternWildcard, 0, "\xC4", "\xE4", kNotFound},        // only A-Z fold
      {kPatternWildcard, 0, "", "text", kNotFound},
      {kPatternWildcard, 0, "a", "", kNotFound},
      // Expressions: caseless unless C; letters only after /.../ with O.
      {kPatternRegex, 0, "^AB+$", "abbb", kOk},
      {kPatternRegex, C, "^AB+$", "abbb", kNotFound},
      {kPatternRegex, C | O, "/^AB+$/i", "abbb", kOk},
      {kPatternRegex, C, "/^AB+$/i", "abbb", kNotFound},  // slashes are literal without O
      {kPatternRegex, C, "a/b", "xa/b", kOk},
      {kPatternRegex, O, "/^b$/m", "a\nb\nc", kOk},
      {kPatternRegex, O, "/^b$/", "a\nb\nc", kNotFound},
      {kPatternRegex, O, "/a.b/s", "a\nb", kOk},
      {kPatternRegex, O, "/a.b/", "a\nb", kNotFound},
      {kPatternRegex, O, "/a b c/x", "abc", kOk},
      {kPatternRegex, O, "/b/A", "ab", kNotFound},
      {kPatternRegex, O, "/a$/E", "a\n", kNotFound},
      {kPatternRegex, O, "/a$/", "a\n", kOk},
      {kPatternRegex, O, "/a+/UN", "aaa", kOk},
      {kPatternRegex, O, "/x*/N", "abc", kNotFound},  // only the empty match is there
      {kPatternRegex, O, "/^a/B", "abc", kNotFound},
      {kPatternRegex, O, "/c$/Z", "abc", kNotFound},
      {kPatternRegex, O, "/^.$/8", "\xC3\xA4", kOk},
      {kPatternRegex, O, "/^..$/", "\xC3\xA4", kOk},
      {kPatternRegex, O, "/./8", "\xC3", kNotFound},  // invalid UTF-8 subject
      {kPatternRegex, 0, "(a", "a", kPatternBadExpression},
      {kPatternRegex, O, "/(((((((((((((((a)))))))))))))))(b)/", "ab", kOk},  // 16 groups
      // Automatic patterns.
      {kPatternAuto, 0, "RE:O:/^ab+$/i", "ABBB", kOk},
      {kPatternAuto, 0, "re:oc:/^ab+$/", "ABBB", kNotFound},
      {kPatternAuto, 0, "WC:C:A*c", "xaYc", kNotFound},
      {kPatternAuto, 0, "wc::A*c", "xaYc", kOk},
      {kPatternAuto, 0, "XX::a", "a", kPatternBadKind},
      {kPatternAuto, 0, "-::a", "a", kPatternBadKind},
      {kPatternAuto, 0, "WC", "a", kPatternBadKind},
      {kPatternAuto, 0, "WC:OC", "a", kPatternBadOptions},
      {kPatternAuto, 0, "WC:C:", "a", kNotFound},
      {7, 0, "a", "a", kNotFound},
  };
  for (const MatchCase& c : cases) {
    EXPECT_EQ(Match(c.kind, c.options, c.pattern, c.text), c.expected)
        << c.kind << " " << c.options << " '" << c.pattern << "' ~ '" << c.text << "'";
  }
}

TEST(Pattern, ZeroLengthsMeasureTheStrings) {
  EXPECT_EQ(Ops().match(g_PatternModule, kPatternWildcard, 0, "b?d", 0, "abcde", 0), kOk);
  EXPECT_EQ(Ops().match(g_PatternModule, kPatternWildcard, 0, "", 0, "abc", 0), kNotFound);
  // A given length is honoured: "bc" is outside the first two bytes.
  EXPECT_EQ(Ops().match(g_PatternModule, kPatternWildcard, 0, "bc", 0, "abc", 2), kNotFound);
}

// What this thread itself spent, in ms: a linear-time check that a busy
// machine keeping the thread waiting does not fail.
std::int64_t ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

TEST(Pattern, LongWildcardSegmentsAreFoundInLinearTime) {
  // A segment of 1,001 bytes over 1 MiB, and one of 100 KB over 10 MiB,
  // each nearly matching everywhere.
  for (std::size_t n : {std::size_t{1000}, std::size_t{100000}}) {
    const std::string pattern = std::string(n, 'A') + "b";
    const std::string text((n == 1000 ? 1 : 10) << 20, 'a');
    const std::int64_t start = ThreadCpuMs();
    EXPECT_EQ(Match(kPatternWildcard, 0, pattern, text), kNotFound);
    EXPECT_EQ(Match(kPatternWildcard, 0, "*" + pattern + "*", text + "B"), kOk);
    EXPECT_EQ(Match(kPatternWildcard, C, pattern, text + "b"), kNotFound);
    // Quadratic work would take hours here.
    EXPECT_LT(ThreadCpuMs() - start, std::int64_t{kPatternTimeLimitMs} * 5) << n;
  }
  // Borders: the occurrence after a partial one that overlaps it.
  EXPECT_EQ(Match(kPatternWildcard, 0, "aab*x", "aaab-x"), kOk);
  EXPECT_EQ(Match(kPatternWildcard, 0, "abab*ab", "abaababxab"), kOk);
  EXPECT_EQ(Match(kPatternWildcard, 0, "abab*abab", "abababab"), kOk);
  EXPECT_EQ(Match(kPatternWildcard, 0, "abab*abab", "ababbab"), kNotFound);
}

TEST(Pattern, WildcardWithManySegmentsIsLinear) {
  // a*a*...*b against a long run of a's: a backtracking search would try
  // every placement of every segment.
  std::string pattern;
  for (int i = 0; i < 40; ++i)
    pattern += "a*";
  pattern += "b";
  const std::string text(200000, 'a');
  const std::int64_t start = ThreadCpuMs();
  EXPECT_EQ(Match(kPatternWildcard, 0, pattern, text), kNotFound);
  EXPECT_EQ(Match(kPatternWildcard, 0, pattern, text + "b"), kOk);
  EXPECT_LT(ThreadCpuMs() - start, 2000);
}

TEST(Pattern, CatastrophicExpressionsStopAtTheirLimit) {
  const std::string a30(30, 'a');
  const std::string longSubject(1 << 20, 'a');
  struct {
    const char* pattern;
    const std::string& text;
  } cases[] = {
      {"^(a+)+$", a30 + "b"},            // exponential backtracking
      {"(a|aa)*[^a]", longSubject},      // long subject, no match anywhere
      {"a*[^a]", longSubject},           // a quadratic scan no step count sees
      {"(?:(a)|b)(?1)*+(?:a*)*c", a30},  // nested quantifiers behind a recursion
      {"^(\\w+\\s?)*$", a30 + "!"},
  };
  for (const auto& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    const StatusCode s = Match(kPatternRegex, 0, c.pattern, c.text);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(s == kPatternLimitReached || s == kNotFound) << c.pattern << " " << s;
    EXPECT_LT(took, std::chrono::milliseconds(kPatternTimeLimitMs) * 3) << c.pattern;
  }
  EXPECT_EQ(Match(kPatternRegex, 0, "^(a+)+$", a30 + "b"), kPatternLimitReached);
  EXPECT_EQ(Match(kPatternRegex, 0, "a*[^a]", longSubject), kPatternLimitReached);
  EXPECT_EQ(Match(kPatternRegex, 0, "a*[^a]", longSubject + "b"), kOk);
  // Deep nesting in the expression is refused when it is compiled.
  std::string deep;
  for (int i = 0; i < 5000; ++i)
    deep += "(";
  deep += "a";
  for (int i = 0; i < 5000; ++i)
    deep += ")";
  EXPECT_EQ(Match(kPatternRegex, 0, deep, "a"), kPatternBadExpression);
  // A deep recursion on a long subject is stopped by the depth or heap limit.
  EXPECT_EQ(Match(kPatternRegex, 0, "^(a(?1)?)$", longSubject), kPatternLimitReached);
}

// A subject of n bytes of 'a' (the last one b when asked) in a mapping of
// its own, given back at once when done.
class BigSubject {
 public:
  BigSubject(std::size_t n, char last) : size_(n) {
    void* p = mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                   -1, 0);
    if (p == MAP_FAILED) return;
    data_ = static_cast<char*>(p);
    std::memset(data_, 'a', n);
    data_[n - 1] = last;
  }
  ~BigSubject() {
    if (data_ != nullptr) munmap(data_, size_);
  }
  BigSubject(const BigSubject&) = delete;
  BigSubject& operator=(const BigSubject&) = delete;
  const char* data() const { return data_; }
  std::uint32_t size() const { return static_cast<std::uint32_t>(size_); }

 private:
  std::size_t size_;
  char* data_ = nullptr;
};

// Whatever the subject's size, a match that would run for minutes ends
// within its time limit and 10 %, with the limit status; work that fits
// answers.
TEST(Pattern, TheTimeLimitHoldsAtEverySubjectSize) {
  std::string longLiteral(100000, 'a');
  longLiteral += 'b';
  std::string longJoker;
  for (int i = 0; i < 500; ++i)
    longJoker += "a?";
  longJoker += 'b';
  const struct {
    std::uint32_t kind;
    std::uint32_t options;
    std::string pattern;
  } cases[] = {
      {kPatternRegex, 0, "a*[^a]"},            // a quadratic scan no step count sees
      {kPatternRegex, 0, "(a|aa)*[^a]"},       // backtracking at every start
      {kPatternRegex, O, "/a*(?:[^a]|$x)/8"},  // a UTF-8 subject, checked whole first
      {kPatternRegex, 0, "[^a]"},              // a start scan, nothing to call back
      {kPatternWildcard, 0, longJoker},        // a segment with '?' at every place
      {kPatternWildcard, 0, longLiteral},      // a long literal segment
  };
  for (std::size_t size : {std::size_t{1} << 20, std::size_t{100} << 20, std::size_t{1} << 30}) {
    for (char last : {'a', 'b'}) {
      if (last == 'b' && size != std::size_t{1} << 30) continue;
      BigSubject subject(size, last);
      ASSERT_NE(subject.data(), nullptr);
      for (const auto& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const std::int64_t cpuStart = ThreadCpuMs();
        const StatusCode s = Ops().match(g_PatternModule, c.kind, c.options, c.pattern.data(),
                                         static_cast<std::uint32_t>(c.pattern.size()),
                                         subject.data(), subject.size());
        const std::int64_t cpu = ThreadCpuMs() - cpuStart;
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        // The limit is on the clock; what the match itself spends is checked
        // against it, so that a busy machine that keeps this thread waiting
        // does not count.
        EXPECT_LE(cpu, kPatternTimeLimitMs * 11 / 10)
            << c.pattern.substr(0, 20) << " over " << (size >> 20) << " MiB";
        EXPECT_LE(took.count(), kPatternTimeLimitMs * 3)
            << c.pattern.substr(0, 20) << " over " << (size >> 20) << " MiB";
        EXPECT_TRUE(s == kOk || s == kNotFound || s == kPatternLimitReached) << s;
      }
    }
  }
}

TEST(Pattern, ExpressionMemoryComesFromTheEngineAllocator) {
  // With every engine block refused, PCRE2 gets no memory at all: a clean
  // failure, not a match or a crash.
  {
    LargeBlocksRefused refuse(0);
    EXPECT_EQ(Match(kPatternRegex, 0, "a", "a"), kOutOfMemory);
  }
  EXPECT_EQ(Match(kPatternRegex, 0, "a", "a"), kOk);
}

TEST(Pattern, NamesAndLetters) {
  char buffer[8] = {};
  std::uint32_t length = sizeof buffer;
  EXPECT_EQ(Ops().typeToName(g_PatternModule, kPatternRegex, buffer, &length), kOk);
  EXPECT_EQ(std::string(buffer, length), "RE:");
  length = 2;
  EXPECT_EQ(Ops().typeToName(g_PatternModule, kPatternWildcard, buffer, &length), kIndexOutOfRange);
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(Ops().typeToName(g_PatternModule, 4, buffer, &length), kNotFound);

  length = 0;
  EXPECT_EQ(Ops().optionsToLetters(g_PatternModule, O | C, nullptr, &length), kOk);
  EXPECT_EQ(length, 3u);
  length = sizeof buffer;
  EXPECT_EQ(Ops().optionsToLetters(g_PatternModule, O | C, buffer, &length), kOk);
  EXPECT_EQ(std::string(buffer, length), "OC:");
  length = sizeof buffer;
  EXPECT_EQ(Ops().optionsToLetters(g_PatternModule, 0, buffer, &length), kOk);
  EXPECT_EQ(std::string(buffer, length), ":");

  std::uint32_t kind = 0;
  length = 9;
  EXPECT_EQ(Ops().parseType(g_PatternModule, "wC:C:abc", &length, &kind), kOk);
  EXPECT_EQ(kind, kPatternWildcard);
  EXPECT_EQ(length, 3u);
  length = 2;  // the colon lies beyond the given length
  EXPECT_EQ(Ops().parseType(g_PatternModule, "RE:", &length, &kind), kNotFound);

  std::uint32_t bits = 0;
  length = 6;
  EXPECT_EQ(Ops().parseOptions(g_PatternModule, "cxo:ab", &length, &bits), kOk);
  EXPECT_EQ(bits, O | C);
  EXPECT_EQ(length, 4u);
  length = 3;
  EXPECT_EQ(Ops().parseOptions(g_PatternModule, "oc:", &length, &bits), kOk);
  length = 2;
  EXPECT_EQ(Ops().parseOptions(g_PatternModule, "oc:", &length, &bits), kFailed);
}

}  // namespace
