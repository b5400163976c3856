#include "engine/utilities/pattern.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

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
// match once its time is up. The clock is read every 16th call.
struct Deadline {
  std::chrono::steady_clock::time_point end;
  std::uint32_t calls = 0;
  bool passed = false;
};

int CheckDeadline(pcre2_callout_block*, void* data) {
  auto* deadline = static_cast<Deadline*>(data);
  if ((++deadline->calls & 15u) == 0 && std::chrono::steady_clock::now() > deadline->end) {
    deadline->passed = true;
    return PCRE2_ERROR_CALLOUT;
  }
  return 0;
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

// Each "*"-separated segment is placed at its leftmost occurrence after the
// previous one. Trying later occurrences of an earlier segment can never help:
// it only moves the start of the rest further right. So the first segment that
// cannot be placed decides "no match", in linear passes.
StatusCode Pattern_MatchWildcard(std::uint32_t options, const char* pattern,
                                 std::uint32_t patternLength, const char* text,
                                 std::uint32_t textLength) noexcept {
  const bool fold = (options & kPatternCaseSensitive) == 0;
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
    bool placed = false;
    for (; n <= textLength && at <= textLength - n; ++at) {
      if (SegmentMatchesAt(pattern + i, n, text + at, fold)) {
        placed = true;
        break;
      }
    }
    if (!placed) return kNotFound;
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
  Deadline deadline{std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(kPatternTimeLimitMs)};
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
