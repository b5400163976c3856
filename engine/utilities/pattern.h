// Pattern matching: a byte string against a wildcard pattern or a regular
// expression, and the text form of a stored pattern, "KIND:LETTERS:pattern"
// (for example "WC:C:a*b" or "RE:O:/^ab+$/i"). Called on the module object
// (g_PatternModule).
//
// Regular expressions are compiled and run by PCRE2 (8-bit) with the engine
// allocator behind its memory hooks. Every match runs under a match limit, a
// backtracking-depth limit, a heap limit and a time limit (checked between the
// items of the expression, which also bounds the quadratic scans that no step
// count sees, such as a*[^a] over a long run of a's), so a hostile expression
// or a long subject ends with kPatternLimitReached instead of running away with
// time, stack or memory. The time limit holds at any subject size: a match
// also ends once one more scan of the rest of the subject would overrun it,
// and a UTF-8 subject is checked under the same clock. Wildcard segments
// without '?' are found in linear time; every wildcard match runs under the
// same time limit and answers kPatternLimitReached like an expression.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// Facility 0x018. kNotFound (1) is "no match".
constexpr StatusCode kPatternBadExpression = MakeFailure(Facility::Pattern, 0x01);
constexpr StatusCode kPatternBadKind = MakeFailure(Facility::Pattern, 0x02);     // automatic prefix
constexpr StatusCode kPatternBadOptions = MakeFailure(Facility::Pattern, 0x03);  // no closing ":"
// The expression needed more backtracking steps, depth or heap than a match
// is allowed: neither a match nor a proven non-match.
constexpr StatusCode kPatternLimitReached = MakeFailure(Facility::Pattern, 0x04);

// Pattern kinds.
enum PatternKind : std::uint32_t {
  kPatternAuto = 1,      // name "-": the text starts with "WC:" or "RE:", then letters and ":"
  kPatternWildcard = 2,  // name "WC"
  kPatternRegex = 3,     // name "RE"
};

// Option bits, written as the letters O and C in this order.
enum PatternOptions : std::uint32_t {
  kPatternSlashes = 0x1,        // "O": an expression may be written /expression/letters
  kPatternCaseSensitive = 0x2,  // "C"
};

// Limits of one regular-expression match.
constexpr std::uint32_t kPatternMatchLimit = 1'000'000;  // backtracking steps
constexpr std::uint32_t kPatternDepthLimit = 10'000;     // nested backtracking frames
constexpr std::uint32_t kPatternHeapLimitKiB = 16 * 1024;
constexpr std::uint32_t kPatternTimeLimitMs = 1000;
constexpr std::uint32_t kPatternMaxExpression = 64 * 1024;  // bytes of expression text

struct PatternOps {
  CoreEndWord word0;
  // 1: writes the kind's name and ":" when buffer is given and *length (its
  // capacity) holds them; *length becomes the name length + 1. kNotFound for
  // an unknown kind; kIndexOutOfRange when a given buffer is too small (the
  // needed length is still reported); kNullOutPointer without length.
  StatusCode (*typeToName)(EngineObject* module, std::uint32_t kind, char* buffer,
                           std::uint32_t* length) noexcept;
  // 2: the first *length bytes of text up to the first ":" are compared with
  // the kind names, A-Z folded. On a match *length becomes the bytes used
  // including the ":" and *kind is set, 0; otherwise kNotFound.
  StatusCode (*parseType)(EngineObject* module, const char* text, std::uint32_t* length,
                          std::uint32_t* kind) noexcept;
  // 3: "O" for kPatternSlashes, "C" for kPatternCaseSensitive, then ":";
  // buffer and *length as TypeToName.
  StatusCode (*optionsToLetters)(EngineObject* module, std::uint32_t options, char* buffer,
                                 std::uint32_t* length) noexcept;
  // 4: reads letters of the first *length bytes up to ":": O/o and C/c set
  // their bits, other bytes are ignored. *length becomes the bytes used
  // including the ":". kFailed when no ":" follows.
  StatusCode (*parseOptions)(EngineObject* module, const char* text, std::uint32_t* length,
                             std::uint32_t* options) noexcept;
  // 5: a length of 0 means a NUL-terminated string. 0 match; kNotFound for no
  // match, an empty pattern or text, or an unknown kind. Automatic patterns:
  // kPatternBadKind, kPatternBadOptions; their letters add to options.
  // Expressions: kPatternBadExpression when one does not compile,
  // kPatternLimitReached, kOutOfMemory. A subject that is not valid UTF-8
  // under the "8" letter does not match.
  StatusCode (*match)(EngineObject* module, std::uint32_t kind, std::uint32_t options,
                      const char* pattern, std::uint32_t patternLength, const char* text,
                      std::uint32_t textLength) noexcept;
  CoreEndWord end;
};

extern EngineObject PatternModule;

StatusCode Pattern_TypeToName(EngineObject* module, std::uint32_t kind, char* buffer,
                              std::uint32_t* length) noexcept;
StatusCode Pattern_ParseType(EngineObject* module, const char* text, std::uint32_t* length,
                             std::uint32_t* kind) noexcept;
StatusCode Pattern_OptionsToLetters(EngineObject* module, std::uint32_t options, char* buffer,
                                    std::uint32_t* length) noexcept;
StatusCode Pattern_ParseOptions(EngineObject* module, const char* text, std::uint32_t* length,
                                std::uint32_t* options) noexcept;
StatusCode Pattern_Match(EngineObject* module, std::uint32_t kind, std::uint32_t options,
                         const char* pattern, std::uint32_t patternLength, const char* text,
                         std::uint32_t textLength) noexcept;

// The two matchers on their own (lengths as given, no measuring).
StatusCode Pattern_MatchWildcard(std::uint32_t options, const char* pattern,
                                 std::uint32_t patternLength, const char* text,
                                 std::uint32_t textLength) noexcept;
StatusCode Pattern_MatchRegex(std::uint32_t options, const char* pattern,
                              std::uint32_t patternLength, const char* text,
                              std::uint32_t textLength) noexcept;
