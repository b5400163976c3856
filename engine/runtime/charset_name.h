// The charset-name service: IANA charset names and aliases to MIBenum numbers
// and back. Charsets are identified everywhere in the engine by their MIBenum;
// 8000 is the private number of windows-874. Called on the module object
// (g_CharsetNameModule).
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// Facility 0xA01: charset names.
constexpr StatusCode kCharsetNameBufferTooSmall = MakeFailure(Facility::CharsetName, 0x02);

// MIBenum numbers the engine names in code.
namespace Mib {
constexpr std::uint32_t kAscii = 3;
constexpr std::uint32_t kLatin1 = 4;
constexpr std::uint32_t kLatin2 = 5;
constexpr std::uint32_t kLatin3 = 6;
constexpr std::uint32_t kLatin4 = 7;
constexpr std::uint32_t kCyrillic = 8;
constexpr std::uint32_t kArabic = 9;
constexpr std::uint32_t kGreek = 10;
constexpr std::uint32_t kHebrew = 11;
constexpr std::uint32_t kLatin5 = 12;
constexpr std::uint32_t kShiftJis = 17;
constexpr std::uint32_t kEucJp = 18;
constexpr std::uint32_t kEucKr = 38;
constexpr std::uint32_t kGb2312_80 = 57;
constexpr std::uint32_t kUtf8 = 106;
constexpr std::uint32_t kLatin9 = 111;
constexpr std::uint32_t kGbk = 113;
constexpr std::uint32_t kGb18030 = 114;
constexpr std::uint32_t kUtf16Be = 1013;
constexpr std::uint32_t kUtf16Le = 1014;
constexpr std::uint32_t kUtf16 = 1015;  // with a byte-order mark
constexpr std::uint32_t kGb2312 = 2025;
constexpr std::uint32_t kBig5 = 2026;
constexpr std::uint32_t kKoi8R = 2084;
constexpr std::uint32_t kKoi8U = 2088;
constexpr std::uint32_t kBig5Hkscs = 2101;
constexpr std::uint32_t kWindows1250 = 2250;
constexpr std::uint32_t kWindows1251 = 2251;
constexpr std::uint32_t kWindows1252 = 2252;
constexpr std::uint32_t kWindows1253 = 2253;
constexpr std::uint32_t kWindows1254 = 2254;
constexpr std::uint32_t kWindows1255 = 2255;
constexpr std::uint32_t kWindows1256 = 2256;
constexpr std::uint32_t kWindows1257 = 2257;
constexpr std::uint32_t kWindows1258 = 2258;
constexpr std::uint32_t kWindows874 = 8000;
}  // namespace Mib

struct CharsetNameOps {
  CoreEndWord word0;
  // 1: the MIBenum of a charset name or alias, compared without regard to the
  // case of A-Z; length 0 means NUL-terminated. 0 and *mib; kNotFound for a
  // name that is not in the table; kNullOutPointer / kBadArgument for a
  // missing out pointer or name.
  StatusCode (*nameToMib)(EngineObject* module, const char* name, std::uint32_t length,
                          std::uint32_t* mib) noexcept;
  // 2: copies the canonical name of a MIBenum into buffer (no terminator) and
  // sets *length to its length. *length is the buffer's capacity on entry; a
  // shorter buffer answers kCharsetNameBufferTooSmall with the needed length
  // in *length and nothing copied. A number without a canonical name answers
  // kNotFound (length untouched).
  StatusCode (*mibToName)(EngineObject* module, std::uint32_t mib, char* buffer,
                          std::uint32_t* length) noexcept;
  CoreEndWord end;
};

extern EngineObject CharsetNameModule;

StatusCode Charset_NameToMib(EngineObject* module, const char* name, std::uint32_t length,
                             std::uint32_t* mib) noexcept;
StatusCode Charset_MibToName(EngineObject* module, std::uint32_t mib, char* buffer,
                             std::uint32_t* length) noexcept;
