#include "engine/utilities/pattern.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <array>
#include <chrono>
#include <cstring>
#include <string_view>

#include "engine/runtime/allocator.h"
#include "engine/runtime/str.h"

namespace {

const PatternOps kPatternOps = {
    Core_NotImplemented,  Pattern_TypeToName, Pattern_ParseType,   Pattern_OptionsToLetters,
    Pattern_ParseOptions, Pattern_Match,      Core_NotImplemented,
};

constexpr std::string_view kKindNames[] = {"-", "WC", "RE"};  // kinds 1, 2, 3

// Writes `text` into buffer when it fits; reports the needed length.
StatusCode WriteOut(std::string_view text, char* buffer, std::uint32_t* length) {
  if (length == nullptr) return kNullOutPointer;
  const std::uint32_t capacity = *length;
  *length = static_cast<std::uint32_t>(text.size());
  if (buffer == nullptr) return kOk;
  if (capacity < text.size()) return kIndexOutOfRange;
  std::memcpy(buffer, text.data(), text.size());
  return kOk;
}

bool SameFolded(const char* a, std::string_view b, std::uint32_t n) {
  if (n != b.size()) return false;
  for (std::uint32_t i = 0; i < n; ++i) {
    if (Str_FoldByte(static_cast<unsigned char>(a[i])) !=
        Str_FoldByte(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool SegmentMatchesAt(const char* segment, std::uint32_t length, const char* text, bool fold) {
  for (std::uint32_t i = 0; i < length; ++i) {
    const auto p = static_cast<unsigned char>(segment[i]);
    const auto t = static_cast<unsigned char>(text[i]);
    if (p == '?') continue;
    if (fold ? Str_FoldByte(p) != Str_FoldByte(t) : p != t) return false;
  }
  return true;
}

// PCRE2's memory hooks: the engine allocator, which counts sizes in 32 bits.
void* Pattern_Alloc(PCRE2_SIZE size, void*) {
  if (size > 0xFFFFFFEFu) return nullptr;
  void* block = nullptr;
  if (Engine_Alloc(static_cast<std::uint32_t>(size), &block) != kOk) return nullptr;
  return block;
}

void Pattern_Free(void* block, void*) {
  Engine_Free(block);
}

// Called before every item of the expression (automatic callouts): ends the
// match once its time is up. One item can scan the rest of the subject
// without a call in between (a repeat such as a*, a start-up scan), so the
// match also ends once such a scan, at the slowest pace seen so far, would
// overrun the limit. The clock is read at the first call, every 16th, and
// after every jump of 64 KiB or more.
struct Deadline {
  std::chrono::steady_clock::time_point end;
  PCRE2_SIZE length = 0;
  // A guess until a long scan was timed: the first scan of a subject runs
  // unseen to its end, so the guess must not be faster than the slowest
  // machine that runs it (a single-byte repeat measured 1.2 ns a byte on a
  // loaded one).
  double nsPerByte = 2.0;
  std::chrono::steady_clock::time_point readAt;
  PCRE2_SIZE readPosition = 0;
  std::uint32_t calls = 0;
  bool passed = false;
};

constexpr PCRE2_SIZE kLongScan = 64 * 1024;

int CheckDeadline(pcre2_callout_block* block, void* data) {
  auto* d = static_cast<Deadline*>(data);
  const PCRE2_SIZE at = block->current_position;
  const PCRE2_SIZE moved = at > d->readPosition ? at - d->readPosition : d->readPosition - at;
  if (d->calls++ != 0 && (d->calls & 15u) != 0 && moved < kLongScan) return 0;
  const auto now = std::chrono::steady_clock::now();
  if (d->calls != 1 && at > d->readPosition && moved >= kLongScan) {
    const double pace = std::chrono::duration<double, std::nano>(now - d->readAt).count() /
                        static_cast<double>(moved);
    if (pace > d->nsPerByte) d->nsPerByte = pace;
  }
  d->readAt = now;
  d->readPosition = at;
  const auto rest = std::chrono::nanoseconds(
      static_cast<std::int64_t>(static_cast<double>(d->length - at) * d->nsPerByte));
  if (now > d->end || now + rest > d->end) {
    d->passed = true;
    return PCRE2_ERROR_CALLOUT;
  }
  return 0;
}

// Whether text is valid UTF-8 as PCRE2 defines it (no overlong forms, no
// surrogates, nothing above U+10FFFF), checked under the clock: false with
// *late once the time is up.
bool ValidUtf8(const unsigned char* text, std::size_t n, std::chrono::steady_clock::time_point end,
               bool* late) {
  std::size_t i = 0;
  std::size_t nextCheck = 0;
  while (i < n) {
    if (i >= nextCheck) {
      if (std::chrono::steady_clock::now() > end) {
        *late = true;
        return false;
      }
      nextCheck = i + kLongScan;
    }
    if (i + 8 <= n) {
      std::uint64_t word = 0;
      std::memcpy(&word, text + i, 8);
      if ((word & 0x8080808080808080ull) == 0) {
        i += 8;
        continue;
      }
    }
    const unsigned char c = text[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t extra = 0;
    std::uint32_t cp = 0;
    std::uint32_t min = 0;
    if ((c & 0xE0) == 0xC0) {
      extra = 1, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, cp = c & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (n - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((text[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (text[i + k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

// Everything one expression match holds from PCRE2, released on every path.
struct RegexRun {
  pcre2_general_context* general = nullptr;
  pcre2_compile_context* compile = nullptr;
  pcre2_match_context* match = nullptr;
  pcre2_code* code = nullptr;
  pcre2_match_data* data = nullptr;
  ~RegexRun() {
    pcre2_match_data_free(data);
    pcre2_code_free(code);
    pcre2_match_context_free(match);
    pcre2_compile_context_free(compile);
    pcre2_general_context_free(general);
  }
};

}  // namespace

EngineObject PatternModule = {nullptr, &kPatternOps};

StatusCode Pattern_TypeToName(EngineObject*, std::uint32_t kind, char* buffer,
                              std::uint32_t* length) noexcept {
  if (kind < kPatternAuto || kind > kPatternRegex) return kNotFound;
  char name[4] = {};
  const std::string_view base = kKindNames[kind - 1];
  std::memcpy(name, base.data(), base.size());
  name[base.size()] = ':';
  return WriteOut(std::string_view(name, base.size() + 1), buffer, length);
}

StatusCode Pattern_ParseType(EngineObject*, const char* text, std::uint32_t* length,
                             std::uint32_t* kind) noexcept {
  if (text == nullptr || length == nullptr || kind == nullptr) return kNotFound;
  const auto* colon = static_cast<const char*>(std::memchr(text, ':', *length));
  if (colon == nullptr) return kNotFound;
  const auto n = static_cast<std::uint32_t>(colon - text);
  for (std::uint32_t k = 0; k < 3; ++k) {
    if (SameFolded(text, kKindNames[k], n)) {
      *length = n + 1;
      *kind = k + 1;
      return kOk;
    }
  }
  return kNotFound;
}

StatusCode Pattern_OptionsToLetters(EngineObject*, std::uint32_t options, char* buffer,
                                    std::uint32_t* length) noexcept {
  char letters[3];
  std::size_t n = 0;
  if (options & kPatternSlashes) letters[n++] = 'O';
  if (options & kPatternCaseSensitive) letters[n++] = 'C';
  letters[n++] = ':';
  return WriteOut(std::string_view(letters, n), buffer, length);
}

StatusCode Pattern_ParseOptions(EngineObject*, const char* text, std::uint32_t* length,
                                std::uint32_t* options) noexcept {
  if (text == nullptr || length == nullptr || options == nullptr) return kFailed;
  std::uint32_t bits = 0;
  for (std::uint32_t i = 0; i < *length; ++i) {
    switch (text[i]) {
      case ':':
        *length = i + 1;
        *options = bits;
        return kOk;
      case 'O':
      case 'o':
        bits |= kPatternSlashes;
        break;
      case 'C':
      case 'c':
        bits |= kPatternCaseSensitive;
        break;
      default:
        break;
    }
  }
  return kFailed;
}

namespace {

// The time limit of one match, on the steady clock, read every 64 Ki steps.
class MatchClock {
 public:
  MatchClock()
      : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatternTimeLimitMs)) {}
  // Counts steps; false once the time is up.
  bool Step(std::uint32_t steps = 1) {
    steps_ += steps;
    if (steps_ < (1u << 16)) return true;
    steps_ = 0;
    return std::chrono::steady_clock::now() <= end_;
  }

 private:
  std::chrono::steady_clock::time_point end_;
  std::uint32_t steps_ = 0;
};

unsigned char WildcardByte(char c, bool fold) {
  const auto b = static_cast<unsigned char>(c);
  return fold ? Str_FoldByte(b) : b;
}

// The leftmost occurrence of a segment without '?' at or after *at, in
// linear time (Knuth-Morris-Pratt over folded bytes). kOk with *at set,
// kNotFound, kPatternLimitReached when the time is up, or kOutOfMemory for
// the table.
StatusCode FindLiteral(const char* segment, std::uint32_t n, const char* text,
                       std::uint32_t textLength, bool fold, MatchClock* clock, std::uint32_t* at) {
  if (n > textLength || *at > textLength - n) return kNotFound;
  std::array<unsigned char, 256> map{};
  for (std::size_t b = 0; b < map.size(); ++b)
    map[b] = WildcardByte(static_cast<char>(b), fold);
  std::uint32_t* border = nullptr;
  if (Engine_AllocArray(n, &border) != kOk) return kOutOfMemory;
  unsigned char* word = nullptr;
  if (Engine_AllocArray(n, &word) != kOk) {
    Engine_Free(border);
    return kOutOfMemory;
  }
  for (std::uint32_t i = 0; i < n; ++i)
    word[i] = map[static_cast<unsigned char>(segment[i])];
  border[0] = 0;
  for (std::uint32_t i = 1, k = 0; i < n; ++i) {
    while (k > 0 && word[i] != word[k])
      k = border[k - 1];
    if (word[i] == word[k]) ++k;
    border[i] = k;
  }
  StatusCode result = kNotFound;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (std::uint32_t i = *at, k = 0; i < textLength; ++i) {
    if (!clock->Step()) {
      result = kPatternLimitReached;
      break;
    }
    const unsigned char t = map[bytes[i]];
    while (k > 0 && t != word[k])
      k = border[k - 1];
    if (t == word[k]) ++k;
    if (k == n) {
      *at = i + 1 - n;
      result = kOk;
      break;
    }
  }
  Engine_Free(word);
  Engine_Free(border);
  return result;
}

}  // namespace

// Each "*"-separated segment is placed at its leftmost occurrence after the
// previous one. Trying later occurrences of an earlier segment can never help:
// it only moves the start of the rest further right. So the first segment that
// cannot be placed decides "no match". A segment without '?' is found in
// linear time; one with '?' is compared position by position under the time
// limit of expressions (kPatternLimitReached once it is up).
StatusCode Pattern_MatchWildcard(std::uint32_t options, const char* pattern,
                                 std::uint32_t patternLength, const char* text,
                                 std::uint32_t textLength) noexcept {
  const bool fold = (options & kPatternCaseSensitive) == 0;
  MatchClock clock;
  std::uint32_t at = 0;  // first text byte still free
  std::uint32_t i = 0;
  while (i < patternLength) {
    if (pattern[i] == '*') {
      ++i;
      continue;
    }
    std::uint32_t end = i;
    while (end < patternLength && pattern[end] != '*')
      ++end;
    const std::uint32_t n = end - i;
    if (std::memchr(pattern + i, '?', n) == nullptr) {
      const StatusCode s = FindLiteral(pattern + i, n, text, textLength, fold, &clock, &at);
      if (s != kOk) return s;
    } else {
      bool placed = false;
      for (; n <= textLength && at <= textLength - n; ++at) {
        if (!clock.Step(n)) return kPatternLimitReached;
        if (SegmentMatchesAt(pattern + i, n, text + at, fold)) {
          placed = true;
          break;
        }
      }
      if (!placed) return kNotFound;
    }
    at += n;
    i = end;
  }
  return kOk;
}

StatusCode Pattern_MatchRegex(std::uint32_t options, const char* pattern,
                              std::uint32_t patternLength, const char* text,
                              std::uint32_t textLength) noexcept {
  std::uint32_t compileOptions = (options & kPatternCaseSensitive) ? 0 : PCRE2_CASELESS;
  std::uint32_t matchOptions = 0;
  std::string_view expression(pattern, patternLength);
  if ((options & kPatternSlashes) && patternLength >= 2 && pattern[0] == '/') {
    const std::size_t last = expression.rfind('/');
    if (last > 0) {
      for (char letter : expression.substr(last + 1)) {
        switch (letter) {
          case 'i':
            compileOptions |= PCRE2_CASELESS;
            break;
          case 'm':
            compileOptions |= PCRE2_MULTILINE;
            break;
          case 's':
            compileOptions |= PCRE2_DOTALL;
            break;
          case 'x':
            compileOptions |= PCRE2_EXTENDED;
            break;
          case 'A':
            compileOptions |= PCRE2_ANCHORED;
            break;
          case 'E':
            compileOptions |= PCRE2_DOLLAR_ENDONLY;
            break;
          case 'U':
            compileOptions |= PCRE2_UNGREEDY;
            break;
          case '8':
            compileOptions |= PCRE2_UTF;
            break;
          case 'B':
            matchOptions |= PCRE2_NOTBOL;
            break;
          case 'Z':
            matchOptions |= PCRE2_NOTEOL;
            break;
          case 'N':
            matchOptions |= PCRE2_NOTEMPTY;
            break;
          // "X" (unknown escapes are errors) is how PCRE2 always behaves.
          default:
            break;
        }
      }
      expression = expression.substr(1, last - 1);
    }
  }
  if (expression.size() > kPatternMaxExpression) return kPatternBadExpression;

  RegexRun run;
  run.general = pcre2_general_context_create(Pattern_Alloc, Pattern_Free, nullptr);
  if (run.general == nullptr) return kOutOfMemory;
  run.compile = pcre2_compile_context_create(run.general);
  run.match = pcre2_match_context_create(run.general);
  if (run.compile == nullptr || run.match == nullptr) return kOutOfMemory;
  (void)pcre2_set_max_pattern_length(run.compile, kPatternMaxExpression);  // always 0
  (void)pcre2_set_match_limit(run.match, kPatternMatchLimit);              // always 0
  (void)pcre2_set_depth_limit(run.match, kPatternDepthLimit);              // always 0
  (void)pcre2_set_heap_limit(run.match, kPatternHeapLimitKiB);             // always 0
  Deadline deadline;
  deadline.end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatternTimeLimitMs);
  deadline.length = textLength;
  (void)pcre2_set_callout(run.match, CheckDeadline, &deadline);  // always 0

  int error = 0;
  PCRE2_SIZE errorOffset = 0;
  run.code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(expression.data()), expression.size(),
                           compileOptions | PCRE2_AUTO_CALLOUT, &error, &errorOffset, run.compile);
  if (run.code == nullptr) {
    return error == PCRE2_ERROR_HEAPLIMIT || error == PCRE2_ERROR_NOMEMORY ? kOutOfMemory
                                                                           : kPatternBadExpression;
  }
  run.data = pcre2_match_data_create(15, run.general);  // 15 pairs, the 30-integer vector
  if (run.data == nullptr) return kOutOfMemory;
  if (compileOptions & PCRE2_UTF) {
    // Checked here, under the clock, rather than by PCRE2 in one go.
    bool late = false;
    if (!ValidUtf8(reinterpret_cast<const unsigned char*>(text), textLength, deadline.end, &late))
      return late ? kPatternLimitReached : kNotFound;
    matchOptions |= PCRE2_NO_UTF_CHECK;
  }
  const int rc = pcre2_match(run.code, reinterpret_cast<PCRE2_SPTR>(text), textLength, 0,
                             matchOptions, run.data, run.match);
  if (rc >= 0) return kOk;  // 0: more groups than the vector holds, still a match
  if (deadline.passed) return kPatternLimitReached;
  switch (rc) {
    case PCRE2_ERROR_MATCHLIMIT:
    case PCRE2_ERROR_DEPTHLIMIT:
    case PCRE2_ERROR_HEAPLIMIT:
      return kPatternLimitReached;
    case PCRE2_ERROR_NOMEMORY:
      return kOutOfMemory;
    default:
      return kNotFound;  // no match, or a subject that is not valid UTF-8
  }
}

StatusCode Pattern_Match(EngineObject* module, std::uint32_t kind, std::uint32_t options,
                         const char* pattern, std::uint32_t patternLength, const char* text,
                         std::uint32_t textLength) noexcept {
  if (pattern == nullptr || text == nullptr) return kNotFound;
  if (patternLength == 0) patternLength = static_cast<std::uint32_t>(std::strlen(pattern));
  if (textLength == 0) textLength = static_cast<std::uint32_t>(std::strlen(text));
  if (patternLength == 0 || textLength == 0) return kNotFound;
  if (kind == kPatternAuto) {
    std::uint32_t used = patternLength;
    if (Pattern_ParseType(module, pattern, &used, &kind) != kOk ||
        (kind != kPatternWildcard && kind != kPatternRegex)) {
      return kPatternBadKind;
    }
    pattern += used;
    patternLength -= used;
    used = patternLength;
    std::uint32_t parsed = 0;
    if (Pattern_ParseOptions(module, pattern, &used, &parsed) != kOk) return kPatternBadOptions;
    options |= parsed;
    pattern += used;
    patternLength -= used;
    if (patternLength == 0) return kNotFound;
  }
  if (kind == kPatternWildcard)
    return Pattern_MatchWildcard(options, pattern, patternLength, text, textLength);
  if (kind == kPatternRegex)
    return Pattern_MatchRegex(options, pattern, patternLength, text, textLength);
  return kNotFound;
}
