// The string service: lengths, copies and comparisons of 8-bit, counted and
// UTF-16 strings; case-insensitive comparison and binary search over sorted
// name tables; decimal and hexadecimal parsing and formatting; list numbers as
// letters and roman numerals; cursors that scan header-style text (tokens,
// quoted strings, name=value parameters); and substring search. Everything
// works on bytes, and only the ASCII letters A-Z and a-z are letters. Called on
// the module object (g_StringModule).
//
// Strings come in three shapes: NUL-terminated (char), counted (one length
// byte 0-255, then that many bytes, no terminator; std::uint8_t) and
// (pointer, length). A pointer may be null only where its length is 0.
// Formatting operations never write a terminator; their destinations must hold
// the count they report (the kStrMax... limits below, or the requested width
// when that is larger).
#pragma once

#include <array>
#include <cstdint>

#include "engine/runtime/core.h"

// Facility 0x00B: number parsing and quoted strings.
constexpr StatusCode kStrQuoteNotTerminated = MakeFailure(Facility::Number, 0x01);
constexpr StatusCode kStrNumberTooLarge = MakeFailure(Facility::Number, 0x02);
// ToCounted's answer for a source of more than 255 bytes (a generic code).
constexpr StatusCode kStrCountedTruncated = kFailed;

// Character classes: one 16-bit set of flags per byte value. Bytes 128-255
// have no class.
enum : std::uint16_t {
  kCharUpper = 0x0001,      // A-Z
  kCharLower = 0x0002,      // a-z
  kCharDigit = 0x0004,      // 0-9
  kCharHex = 0x0008,        // 0-9, A-F, a-f
  kCharSpace = 0x0010,      // TAB, LF, VT, FF, CR, space
  kCharControl = 0x0020,    // 0-31 and 127
  kCharPunct = 0x0040,      // printable, not a letter or digit
  kCharSeparator = 0x0100,  // TAB, space and the marks " ( ) , / : ; < = > ? @ [ \ ] { }
  kCharToken = 0x0200,      // letters, digits and the marks ! # $ % & ' * + - . ^ _ ` | ~
};

namespace str_detail {
constexpr std::array<std::uint16_t, 256> BuildCharClassTable() {
  std::array<std::uint16_t, 256> t{};
  for (int c = 0; c < 32; ++c)
    t[c] = kCharControl;
  t[127] = kCharControl;
  for (int c : {'\t', '\n', '\v', '\f', '\r'})
    t[c] |= kCharSpace;
  t[' '] = kCharSpace;
  t['\t'] |= kCharSeparator;
  t[' '] |= kCharSeparator;
  for (char c : "\"(),/:;<=>?@[\\]{}") {
    if (c != '\0') t[static_cast<unsigned char>(c)] = kCharPunct | kCharSeparator;
  }
  for (char c : "!#$%&'*+-.^_`|~") {
    if (c != '\0') t[static_cast<unsigned char>(c)] = kCharPunct | kCharToken;
  }
  for (int c = '0'; c <= '9'; ++c)
    t[c] = kCharDigit | kCharHex | kCharToken;
  for (int c = 'A'; c <= 'Z'; ++c)
    t[c] = kCharUpper | kCharToken | (c <= 'F' ? kCharHex : 0);
  for (int c = 'a'; c <= 'z'; ++c)
    t[c] = kCharLower | kCharToken | (c <= 'f' ? kCharHex : 0);
  return t;
}
}  // namespace str_detail

inline constexpr std::array<std::uint16_t, 256> kCharClassTable = str_detail::BuildCharClassTable();

constexpr std::uint16_t Str_ClassOf(unsigned char c) {
  return kCharClassTable[c];
}
// A-Z to a-z; every other byte unchanged.
constexpr unsigned char Str_FoldByte(unsigned char c) {
  return (kCharClassTable[c] & kCharUpper) ? static_cast<unsigned char>(c + 32) : c;
}

// Largest counts the formatting operations report (widths aside).
constexpr std::uint32_t kStrMaxDecimalDigits = 10;  // 4294967295
constexpr std::uint32_t kStrMaxHexDigits = 8;
constexpr std::uint32_t kStrMaxLetterNumber = 7;  // 0xFFFFFFFF is "MWLQKWU"
constexpr std::uint32_t kStrMaxRomanNumber = 15;  // 3888 is "MMMDCCCLXXXVIII"
// A counted string's buffer: the length byte and up to 255 bytes.
constexpr std::uint32_t kStrCountedCapacity = 256;

// A scanning position in (pointer, length) text. Scanners consume from
// data/left and describe what they found as the token. An emptied cursor has
// data at the end of its text and left 0.
struct TextCursor {
  const char* data;
  std::uint32_t left;
  const char* tokenStart;
  std::uint32_t tokenLength;
};

// A scanning position for name[=value] items. A quoted value keeps its quotes.
struct ParamCursor {
  const char* data;
  std::uint32_t left;
  const char* nameStart;
  std::uint32_t nameLength;
  const char* valueStart;
  std::uint32_t valueLength;
};

struct StringOps {
  CoreEndWord word0;
  // 1: length of a NUL-terminated string.
  StatusCode (*length)(EngineObject* module, const char* s, std::uint32_t* length) noexcept;
  // 2: copies a NUL-terminated string with its terminator into a destination
  // of `capacity` bytes; overlap-safe. A source that does not fit (length +
  // 1 > capacity) answers kIndexOutOfRange and writes nothing; the source is
  // read no further than capacity bytes.
  StatusCode (*copy)(EngineObject* module, char* destination, std::uint32_t capacity,
                     const char* source) noexcept;
  // 3: unsigned byte compare: kCompareEqual, kCompareLess (a is less) or
  // kCompareGreater; a proper prefix is less.
  StatusCode (*compare)(EngineObject* module, const char* a, const char* b) noexcept;
  // 4: NUL-terminated string to a counted string in a destination of
  // kStrCountedCapacity bytes. A source longer than 255 bytes is cut to its
  // first 255 (length byte 255) and answers kStrCountedTruncated; the source
  // is read no further than 256 bytes.
  StatusCode (*toCounted)(EngineObject* module, std::uint8_t* destination,
                          const char* source) noexcept;
  // 5: code units of a NUL-terminated UTF-16 string.
  StatusCode (*wideLength)(EngineObject* module, const char16_t* s, std::uint32_t* length) noexcept;
  // 6: as Copy for UTF-16; capacity counts code units.
  StatusCode (*wideCopy)(EngineObject* module, char16_t* destination, std::uint32_t capacity,
                         const char16_t* source) noexcept;
  // 7: two counted strings with A-Z folded to a-z: 0, 2 or 3; on an equal
  // common part the shorter is less.
  StatusCode (*compareCountedNoCase)(EngineObject* module, const std::uint8_t* a,
                                     const std::uint8_t* b) noexcept;
  // 8: the same for two (pointer, length) strings.
  StatusCode (*compareNoCase)(EngineObject* module, const char* a, std::uint32_t aLength,
                              const char* b, std::uint32_t bLength) noexcept;
  // 9: n bytes widened to UTF-16 code units (byte b becomes U+00bb), then a
  // terminator: the destination holds n + 1 units.
  StatusCode (*widen)(EngineObject* module, const char* source, std::uint32_t n,
                      char16_t* destination) noexcept;
  // 10: 1 to kStrMaxDecimalDigits decimal digits; *count says how many.
  StatusCode (*formatDecimal)(EngineObject* module, std::uint32_t value, char* destination,
                              std::uint32_t* count) noexcept;
  // 11-14: binary search of a sorted array of pointers to counted strings.
  // The key is counted (11, 13) or (pointer, length) (12, 14); items compare
  // with A-Z folded (11, 12) or byte-exact as the allocator's Compare (13,
  // 14), and the array must be sorted by that same comparison. Found: *index
  // and 0. Not found (also for count 0): kNotFound.
  StatusCode (*bsearchCountedNoCase)(EngineObject* module, const std::uint8_t* const* array,
                                     std::uint32_t count, const std::uint8_t* key,
                                     std::uint32_t* index) noexcept;
  StatusCode (*bsearchNoCase)(EngineObject* module, const std::uint8_t* const* array,
                              std::uint32_t count, const char* key, std::uint32_t keyLength,
                              std::uint32_t* index) noexcept;
  StatusCode (*bsearchCounted)(EngineObject* module, const std::uint8_t* const* array,
                               std::uint32_t count, const std::uint8_t* key,
                               std::uint32_t* index) noexcept;
  StatusCode (*bsearch)(EngineObject* module, const std::uint8_t* const* array, std::uint32_t count,
                        const char* key, std::uint32_t keyLength, std::uint32_t* index) noexcept;
  // 15: skips leading white space, then reads decimal digits up to the first
  // other byte. No digits: value 0 and 0. A value above 4294967295 sets
  // *value to 0xFFFFFFFF and answers kStrNumberTooLarge (leading zeros do not
  // count towards the size).
  StatusCode (*parseDecimal)(EngineObject* module, const char* text, std::uint32_t length,
                             std::uint32_t* value) noexcept;
  // 16: the same for hexadecimal digits of either case.
  StatusCode (*parseHex)(EngineObject* module, const char* text, std::uint32_t length,
                         std::uint32_t* value) noexcept;
  // 17: advances over white space; the token is what was skipped.
  StatusCode (*skipSpace)(EngineObject* module, TextCursor* cursor) noexcept;
  // 18: the token is the remaining text without leading and trailing white
  // space; the cursor does not move.
  StatusCode (*trimSpace)(EngineObject* module, TextCursor* cursor) noexcept;
  // 19: skips white space, then takes the run of decimal digits as the token
  // (possibly empty). The value, modulo 2^32, goes to *value when given.
  StatusCode (*scanDecimal)(EngineObject* module, TextCursor* cursor,
                            std::uint32_t* value) noexcept;
  // 20: the same for hexadecimal digits.
  StatusCode (*scanHex)(EngineObject* module, TextCursor* cursor, std::uint32_t* value) noexcept;
  // 21: the token is the text before the next occurrence of the byte and the
  // cursor stops on it. Absent: the token is all the rest, the cursor is
  // emptied, kNotFound.
  StatusCode (*scanToChar)(EngineObject* module, TextCursor* cursor, char byte) noexcept;
  // 22: the same for the first byte that is one of set[0..setLength).
  StatusCode (*scanToAny)(EngineObject* module, TextCursor* cursor, const char* set,
                          std::uint32_t setLength) noexcept;
  // 23: skips bytes that are not token characters, then takes the run of
  // token characters (empty at the end of the text). Always 0.
  StatusCode (*scanToken)(EngineObject* module, TextCursor* cursor) noexcept;
  // 24: a double-quoted string with backslash escapes, starting at the
  // cursor; the token includes the quotes and the cursor moves past the
  // closing one. A first byte other than a quote is taken as if the opening
  // quote were already read. The text ends first: kStrQuoteNotTerminated,
  // the cursor emptied and the token empty.
  StatusCode (*scanQuoted)(EngineObject* module, TextCursor* cursor) noexcept;
  // 25: the next parameter of a list "item; name=value; name, next item".
  // Moves to the next ';' or ','. None: cursor emptied, kNoMore. A ',' is
  // consumed and ends the parameters: kNoMore. After a ';': the name is the
  // first token before the next '=', ';' or ','; a '=' before the next ';'
  // or ',' introduces the value: white space after it is skipped and the
  // value is a quoted string (ScanQuoted; its failure is passed on) or the first
  // token before the next ';' or ','. Without a '=' the value is empty and
  // the cursor stays on the next separator (emptied when there is none).
  // A name may be empty ("; =x"). On kNoMore both lengths are 0.
  StatusCode (*nextParam)(EngineObject* module, ParamCursor* params) noexcept;
  // 26: takes the next token (ScanToken) as the item; none: kNoMore. With a
  // parameter cursor, that cursor is set to the text after the token and its
  // first parameter is read with NextParam (check its name and value lengths);
  // the main cursor stays after the token. Without one, up to 4096
  // parameters are skipped with NextParam and the main cursor moves past them
  // (past the ',' that ends them). A failure of NextParam is passed on.
  StatusCode (*nextItemWithParams)(EngineObject* module, TextCursor* cursor,
                                   ParamCursor* params) noexcept;
  // 27: the next item of a list of name[=value] items separated by ',' or
  // ';'. The name is the next token (ScanToken); none: kNoMore, cursor emptied.
  // Then the cursor moves to the next '=', ',' or ';': none, the value is
  // empty and the cursor emptied; a ',' or ';', the value is empty and the
  // cursor stays on it; a '=', it and the white space behind it are skipped
  // and the value is a quoted string (ScanQuoted; its failure is passed on) or
  // the first token before the next ',' or ';'.
  StatusCode (*nextAttribute)(EngineObject* module, ParamCursor* params) noexcept;
  // 28: upper-case hex digits, zero-padded on the left to minimumWidth; value
  // 0 with width 0 gives one digit 0.
  StatusCode (*formatHex)(EngineObject* module, std::uint32_t value, std::uint32_t minimumWidth,
                          char* destination, std::uint32_t* count) noexcept;
  // 29: the same in decimal.
  StatusCode (*formatDecimalPadded)(EngineObject* module, std::uint32_t value,
                                    std::uint32_t minimumWidth, char* destination,
                                    std::uint32_t* count) noexcept;
  // 30: list number as letters, A to Z then AA (bijective base 26); 0 gives
  // A like 1. Lower case when upper is 0.
  StatusCode (*formatLetterNumber)(EngineObject* module, std::uint32_t n, std::uint32_t upper,
                                   char* destination, std::uint32_t* count) noexcept;
  // 31: list number as roman numerals in subtractive form for 1-3999; 0
  // gives the digit 0, 4000 and above give MMMM. Lower case when upper is 0.
  StatusCode (*formatRomanNumber)(EngineObject* module, std::uint32_t n, std::uint32_t upper,
                                  char* destination, std::uint32_t* count) noexcept;
  // 32: *flag 1 when no byte is a control byte other than TAB, LF and CR
  // (127 and 128-255 count as plain), else 0.
  StatusCode (*isPlainText)(EngineObject* module, const void* data, std::uint32_t length,
                            std::uint32_t* flag) noexcept;
  // 33: as NextAttribute, but ',' separates items only when commaSeparates is
  // non-zero (';' always does), and an unquoted value runs to the next
  // separator with its leading and trailing white space trimmed; the cursor
  // stays on that separator.
  StatusCode (*nextAttributeLoose)(EngineObject* module, ParamCursor* params,
                                   std::uint32_t commaSeparates) noexcept;
  // 34-36: the first occurrence of the pattern in the text (36: with A-Z
  // folded in both), or the last (35). Found: *offset of the match's first
  // byte and 0; otherwise kNotFound. An empty pattern is found at 0 (35: at
  // the text length). Patterns up to 99 bytes in a text more than twice their
  // length are searched with a failure table, longer ones by direct scan.
  StatusCode (*find)(EngineObject* module, const void* text, std::uint32_t textLength,
                     const void* pattern, std::uint32_t patternLength,
                     std::uint32_t* offset) noexcept;
  StatusCode (*findLast)(EngineObject* module, const void* text, std::uint32_t textLength,
                         const void* pattern, std::uint32_t patternLength,
                         std::uint32_t* offset) noexcept;
  StatusCode (*findNoCase)(EngineObject* module, const void* text, std::uint32_t textLength,
                           const void* pattern, std::uint32_t patternLength,
                           std::uint32_t* offset) noexcept;
  CoreEndWord end;
};

extern EngineObject StringModule;

// Every operation answers kNullOutPointer for a missing out-pointer or
// cursor, and kBadArgument for a missing string (or a null pointer with a
// non-zero length).
StatusCode Str_Length(EngineObject* module, const char* s, std::uint32_t* length) noexcept;
StatusCode Str_Copy(EngineObject* module, char* destination, std::uint32_t capacity,
                    const char* source) noexcept;
StatusCode Str_Compare(EngineObject* module, const char* a, const char* b) noexcept;
StatusCode Str_ToCounted(EngineObject* module, std::uint8_t* destination,
                         const char* source) noexcept;
StatusCode Str_WideLength(EngineObject* module, const char16_t* s, std::uint32_t* length) noexcept;
StatusCode Str_WideCopy(EngineObject* module, char16_t* destination, std::uint32_t capacity,
                        const char16_t* source) noexcept;
StatusCode Str_CompareCountedNoCase(EngineObject* module, const std::uint8_t* a,
                                    const std::uint8_t* b) noexcept;
StatusCode Str_CompareNoCase(EngineObject* module, const char* a, std::uint32_t aLength,
                             const char* b, std::uint32_t bLength) noexcept;
StatusCode Str_Widen(EngineObject* module, const char* source, std::uint32_t n,
                     char16_t* destination) noexcept;
StatusCode Str_FormatDecimal(EngineObject* module, std::uint32_t value, char* destination,
                             std::uint32_t* count) noexcept;
StatusCode Str_BsearchCountedNoCase(EngineObject* module, const std::uint8_t* const* array,
                                    std::uint32_t count, const std::uint8_t* key,
                                    std::uint32_t* index) noexcept;
StatusCode Str_BsearchNoCase(EngineObject* module, const std::uint8_t* const* array,
                             std::uint32_t count, const char* key, std::uint32_t keyLength,
                             std::uint32_t* index) noexcept;
StatusCode Str_BsearchCounted(EngineObject* module, const std::uint8_t* const* array,
                              std::uint32_t count, const std::uint8_t* key,
                              std::uint32_t* index) noexcept;
StatusCode Str_Bsearch(EngineObject* module, const std::uint8_t* const* array, std::uint32_t count,
                       const char* key, std::uint32_t keyLength, std::uint32_t* index) noexcept;
StatusCode Str_ParseDecimal(EngineObject* module, const char* text, std::uint32_t length,
                            std::uint32_t* value) noexcept;
StatusCode Str_ParseHex(EngineObject* module, const char* text, std::uint32_t length,
                        std::uint32_t* value) noexcept;
StatusCode Str_SkipSpace(EngineObject* module, TextCursor* cursor) noexcept;
StatusCode Str_TrimSpace(EngineObject* module, TextCursor* cursor) noexcept;
StatusCode Str_ScanDecimal(EngineObject* module, TextCursor* cursor, std::uint32_t* value) noexcept;
StatusCode Str_ScanHex(EngineObject* module, TextCursor* cursor, std::uint32_t* value) noexcept;
StatusCode Str_ScanToChar(EngineObject* module, TextCursor* cursor, char byte) noexcept;
StatusCode Str_ScanToAny(EngineObject* module, TextCursor* cursor, const char* set,
                         std::uint32_t setLength) noexcept;
StatusCode Str_ScanToken(EngineObject* module, TextCursor* cursor) noexcept;
StatusCode Str_ScanQuoted(EngineObject* module, TextCursor* cursor) noexcept;
StatusCode Str_NextParam(EngineObject* module, ParamCursor* params) noexcept;
StatusCode Str_NextItemWithParams(EngineObject* module, TextCursor* cursor,
                                  ParamCursor* params) noexcept;
StatusCode Str_NextAttribute(EngineObject* module, ParamCursor* params) noexcept;
StatusCode Str_FormatHex(EngineObject* module, std::uint32_t value, std::uint32_t minimumWidth,
                         char* destination, std::uint32_t* count) noexcept;
StatusCode Str_FormatDecimalPadded(EngineObject* module, std::uint32_t value,
                                   std::uint32_t minimumWidth, char* destination,
                                   std::uint32_t* count) noexcept;
StatusCode Str_FormatLetterNumber(EngineObject* module, std::uint32_t n, std::uint32_t upper,
                                  char* destination, std::uint32_t* count) noexcept;
StatusCode Str_FormatRomanNumber(EngineObject* module, std::uint32_t n, std::uint32_t upper,
                                 char* destination, std::uint32_t* count) noexcept;
StatusCode Str_IsPlainText(EngineObject* module, const void* data, std::uint32_t length,
                           std::uint32_t* flag) noexcept;
StatusCode Str_NextAttributeLoose(EngineObject* module, ParamCursor* params,
                                  std::uint32_t commaSeparates) noexcept;
StatusCode Str_Find(EngineObject* module, const void* text, std::uint32_t textLength,
                    const void* pattern, std::uint32_t patternLength,
                    std::uint32_t* offset) noexcept;
StatusCode Str_FindLast(EngineObject* module, const void* text, std::uint32_t textLength,
                        const void* pattern, std::uint32_t patternLength,
                        std::uint32_t* offset) noexcept;
StatusCode Str_FindNoCase(EngineObject* module, const void* text, std::uint32_t textLength,
                          const void* pattern, std::uint32_t patternLength,
                          std::uint32_t* offset) noexcept;
