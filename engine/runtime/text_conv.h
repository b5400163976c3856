// The text-conversion service: converts buffers and stream ranges between the
// supported charsets, UTF-8 and UTF-16, steps over multi-byte characters,
// lists the charsets offered to the user and picks a default charset from
// the user's locale. Charsets are MIBenum numbers (see charset_name.h).
// Called on the module object (g_TextConvModule).
//
// Conversion rules shared by every operation:
// - Every byte below 0x80 is ASCII in every charset except UTF-16.
// - Bad input never fails a conversion, and nothing of it vanishes: a byte
//   that starts no character, or a sequence broken by a byte that cannot
//   continue it, decodes as U+FFFD and consumes one byte; a well-formed code
//   with no mapping (an unassigned single byte, an unassigned multi-byte
//   code, a UTF-8 value above U+10FFFF, an unpaired surrogate read from
//   UTF-16) decodes as U+FFFD and consumes its whole length. UTF-8 is read
//   leniently: lead bytes C0-FD start sequences of 2 to 6 bytes, and
//   overlong forms and surrogates are taken as they decode.
// - A character with no mapping in the target charset is written as one
//   0 byte.
// - A UTF-16 source with MIBenum 1015 that starts with a byte-order mark is
//   read in the order the mark gives, and the mark is consumed; without a
//   mark, 1015 is little-endian. A 1015 target is written little-endian
//   without a mark.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/runtime/core.h"

// Facility 0xA02: text conversion.
constexpr StatusCode kTextConvTargetTooSmall = MakeFailure(Facility::TextConv, 0x02);
constexpr StatusCode kTextConvStartBeyondEnd = MakeFailure(Facility::TextConv, 0x03);
constexpr StatusCode kTextConvNoRoomForTerminator = MakeFailure(Facility::TextConv, 0x05);
constexpr StatusCode kTextConvMalformed = MakeFailure(Facility::TextConv, 0x06);

// TextConvRequest::flags and the flags of MeasureChars.
constexpr std::uint32_t kConvStopBeforeIncomplete = 0x01;  // bit 0
constexpr std::uint32_t kConvStopWhenFull = 0x02;          // bit 1

// One conversion (TextConv_Convert). The caller zeroes the three counters;
// Convert adds to them.
struct TextConvRequest {
  std::uint32_t flags;
  std::uint32_t sourceMib;
  const void* source;
  std::uint32_t sourceLength;  // bytes
  std::uint32_t targetMib;
  void* target;                  // null: measure only
  std::uint32_t targetCapacity;  // bytes; on return produced, or needed
  std::uint32_t consumed;        // source bytes converted
  std::uint32_t characters;      // characters converted
  std::uint32_t replaced;        // characters that came out as U+FFFD or a 0 byte
};

// Class codes of TextConv_CanonicalCharset; bit 0x10 marks a multi-byte
// charset.
namespace CharsetClass {
constexpr std::uint32_t kSingleByte = 1;
constexpr std::uint32_t kMultiByte = 18;
constexpr std::uint32_t kEucJp = 19;
constexpr std::uint32_t kGb18030 = 20;
constexpr std::uint32_t kUtf8 = 24;
constexpr std::uint32_t kUtf16 = 52;
constexpr std::uint32_t kMultiByteBit = 0x10;
}  // namespace CharsetClass

constexpr std::uint32_t kTextConvStreamPiece = 1024;   // source bytes per piece
constexpr std::uint32_t kTextConvStreamBuffer = 9216;  // piece + 8192 bytes of output
constexpr std::uint32_t kTextConvToEnd = 0xFFFFFFFFu;  // stream length: to the end

struct TextConvOps {
  CoreEndWord word0;
  // 1: converts request->source into request->target.
  //  Paths: UTF-8 to windows-1252 (2252); any supported source to UTF-8
  //  (106) or UTF-16 (1013-1015); UTF-16 to any supported target; UTF-16 to
  //  UTF-16 copies units or swaps their bytes (unpaired surrogates are kept).
  //  Any other pair, or an unknown charset: kNotSupported.
  //  Characters are written while they fit. Flag bit 0 stops before an
  //  incomplete character at the end of the source; without it that character
  //  decodes as U+FFFD (one byte of UTF-8 or a CJK charset, the last unit or
  //  odd byte of UTF-16). Flag bit 1 stops at the first character that does
  //  not fit; without it conversion goes on counting the size needed. With a
  //  null target nothing is written and targetCapacity returns the size
  //  needed (0). When the target was too small: kTextConvTargetTooSmall with
  //  targetCapacity = the size needed, or with bit 1 the bytes produced
  //  (consumed then tells where to resume). Otherwise 0 and targetCapacity =
  //  bytes produced. kNullOutPointer for a null request; kBadArgument for a
  //  null source with a non-zero length.
  StatusCode (*convert)(EngineObject* module, TextConvRequest* request) noexcept;
  // 2: converts `length` bytes of `source` from `start` (kTextConvToEnd: to
  //  the end; a start at or beyond the end then answers
  //  kTextConvStartBeyondEnd; a range past the end is cut at the end) and
  //  writes the result into `target` from targetPosition on. Works in pieces
  //  of kTextConvStreamPiece source bytes through one buffer of
  //  kTextConvStreamBuffer bytes; a character cut by a piece edge is
  //  converted whole with the next piece. *written (optional) receives the
  //  bytes written. Stream failures are passed on.
  StatusCode (*convertStream)(EngineObject* module, std::uint32_t sourceMib, EngineObject* source,
                              std::uint32_t start, std::uint32_t length, std::uint32_t targetMib,
                              EngineObject* target, std::uint32_t targetPosition,
                              std::uint32_t* written) noexcept;
  // 3: walks *byteLength bytes of data character by character. The length of
  //  each character goes to lengths[i] while i < the capacity given in *count
  //  (lengths may be null). A byte that starts no valid character (or an
  //  incomplete one at the end) counts as a character of one byte, or with
  //  flag bit 0 ends the walk. On return *byteLength holds the bytes walked
  //  and *count the characters. Single-byte charsets, Shift_JIS, EUC-JP,
  //  EUC-KR, the GB family, UTF-8, UTF-16 and Big5; others kNotSupported.
  StatusCode (*measureChars)(EngineObject* module, std::uint32_t flags, std::uint32_t mib,
                             const void* data, std::uint32_t* byteLength, std::uint8_t* lengths,
                             std::uint32_t* count) noexcept;
  // 4: the default charset of the user's locale, 0 when it has none; always 0.
  StatusCode (*getDefaultCharset)(EngineObject* module, std::uint32_t* mib) noexcept;
  // 5: the 18 charsets offered to the user, in menu order (static list).
  StatusCode (*listCharsets)(EngineObject* module, const std::uint32_t** list,
                             std::uint32_t* count) noexcept;
  // 6: the member of the offered set that stands for mib, and its class
  //  (CharsetClass); kNotSupported for other numbers.
  StatusCode (*canonicalCharset)(EngineObject* module, std::uint32_t mib, std::uint32_t* classCode,
                                 std::uint32_t* canonical) noexcept;
  // 7: UTF-8 text (length 0: NUL-terminated) to UTF-16LE with a terminator.
  //  *buffer / *count: the caller's buffer and its capacity in units (null /
  //  0 for none). When the text does not fit with its terminator, a buffer of
  //  the right size is allocated from the engine allocator and the caller
  //  frees it (compare *buffer with the one passed). On return *count is the
  //  number of units without the terminator. kTextConvNoRoomForTerminator if
  //  an allocated buffer still came up short; kOutOfMemory.
  StatusCode (*utf8ToWide)(EngineObject* module, const char* text, std::uint32_t length,
                           char16_t** buffer, std::uint32_t* count) noexcept;
  // 8: the same from UTF-16LE (count 0: NUL-terminated) to UTF-8; counts are
  //  bytes.
  StatusCode (*wideToUtf8)(EngineObject* module, const char16_t* text, std::uint32_t count,
                           char** buffer, std::uint32_t* bufferCount) noexcept;
  // 9: 0 when the stream range is well-formed UTF-8 by the decoder's lenient
  //  rules (no byte that starts nothing, no broken or cut-off sequence), with
  //  *length set to the bytes checked; kTextConvMalformed otherwise, and for
  //  any mib but 106. *length may be kTextConvToEnd; a range past the end is
  //  cut at the end.
  StatusCode (*validateStream)(EngineObject* module, EngineObject* stream, std::uint32_t start,
                               std::uint32_t* length, std::uint32_t mib) noexcept;
  CoreEndWord end;
};

extern EngineObject TextConvModule;

StatusCode TextConv_Convert(EngineObject* module, TextConvRequest* request) noexcept;
StatusCode TextConv_ConvertStream(EngineObject* module, std::uint32_t sourceMib,
                                  EngineObject* source, std::uint32_t start, std::uint32_t length,
                                  std::uint32_t targetMib, EngineObject* target,
                                  std::uint32_t targetPosition, std::uint32_t* written) noexcept;
StatusCode TextConv_MeasureChars(EngineObject* module, std::uint32_t flags, std::uint32_t mib,
                                 const void* data, std::uint32_t* byteLength, std::uint8_t* lengths,
                                 std::uint32_t* count) noexcept;
StatusCode TextConv_GetDefaultCharset(EngineObject* module, std::uint32_t* mib) noexcept;
StatusCode TextConv_ListCharsets(EngineObject* module, const std::uint32_t** list,
                                 std::uint32_t* count) noexcept;
StatusCode TextConv_CanonicalCharset(EngineObject* module, std::uint32_t mib,
                                     std::uint32_t* classCode, std::uint32_t* canonical) noexcept;
StatusCode TextConv_Utf8ToWide(EngineObject* module, const char* text, std::uint32_t length,
                               char16_t** buffer, std::uint32_t* count) noexcept;
StatusCode TextConv_WideToUtf8(EngineObject* module, const char16_t* text, std::uint32_t count,
                               char** buffer, std::uint32_t* bufferCount) noexcept;
StatusCode TextConv_ValidateStream(EngineObject* module, EngineObject* stream, std::uint32_t start,
                                   std::uint32_t* length, std::uint32_t mib) noexcept;

// The default charset. The locale's code page comes from one replaceable
// query (the Linux default maps the codeset of the user's LC_CTYPE locale
// to a Windows code page number, UTF-8 giving 65001); the code page then
// maps to a MIBenum by Charset_FromCodePage (0 when unknown).
using LocaleCodePageQuery = std::uint32_t (*)() noexcept;
// Null restores the default query.
void TextConv_SetLocaleCodePageQuery(LocaleCodePageQuery query) noexcept;
std::uint32_t TextConv_LocaleCodePage() noexcept;                              // the default query
std::uint32_t Charset_CodePageFromCodeset(std::string_view codeset) noexcept;  // 0: unknown
std::uint32_t Charset_FromCodePage(std::uint32_t codePage) noexcept;

// Binary search of a single-byte encoder's (code unit, byte) pairs sorted by
// unit: the byte, or 0xFFFF when the unit has none.
struct CharsetPair {
  std::uint16_t unit;
  std::uint8_t byte;
};
std::uint32_t Charset_Lookup16(const CharsetPair* pairs, std::uint32_t count,
                               std::uint32_t unit) noexcept;
