// Decimal and hexadecimal parsing of untrusted text: ParseDecimal, ParseHex,
// ScanDecimal and ScanHex, checked against a plain 64-bit reference, plus the
// formatting operations on values taken from the input, checked by parsing
// their output back.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/runtime/str.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// Skip white space, read digits; too large once the value passes 32 bits.
StatusCode Reference(const std::uint8_t* data, std::size_t size, bool hex, std::uint32_t* value) {
  std::size_t i = 0;
  while (i < size && (data[i] == ' ' || (data[i] >= 9 && data[i] <= 13)))
    ++i;
  std::uint64_t acc = 0;
  for (; i < size; ++i) {
    const int c = data[i];
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) break;
    acc = acc * (hex ? 16 : 10) + static_cast<std::uint64_t>(d);
    if (acc > 0xFFFFFFFFu) {
      *value = 0xFFFFFFFFu;
      return kStrNumberTooLarge;
    }
  }
  *value = static_cast<std::uint32_t>(acc);
  return kOk;
}

void CheckScan(const char* text, std::uint32_t length, bool hex) {
  TextCursor c{text, length, nullptr, 0};
  std::uint32_t value = 0;
  const StatusCode s =
      hex ? Str_ScanHex(&StringModule, &c, &value) : Str_ScanDecimal(&StringModule, &c, &value);
  Check(s == kOk);
  Check(c.data + c.left == text + length);
  Check(c.tokenStart >= text && c.tokenStart + c.tokenLength == c.data);
  for (std::uint32_t i = 0; i < c.tokenLength; ++i) {
    Check(Str_ClassOf(static_cast<unsigned char>(c.tokenStart[i])) & (hex ? kCharHex : kCharDigit));
  }
}

void CheckFormats(std::uint32_t v, std::uint32_t width) {
  // Each output goes into a buffer of exactly the size the contract allows.
  std::uint32_t count = 0;
  std::uint32_t back = 0;
  std::vector<char> dec(kStrMaxDecimalDigits);
  Check(Str_FormatDecimal(&StringModule, v, dec.data(), &count) == kOk);
  Check(Str_ParseDecimal(&StringModule, dec.data(), count, &back) == kOk && back == v);

  const std::uint32_t padded = width > kStrMaxDecimalDigits ? width : kStrMaxDecimalDigits;
  std::vector<char> pad(padded);
  Check(Str_FormatDecimalPadded(&StringModule, v, width, pad.data(), &count) == kOk);
  Check(count >= width && Str_ParseDecimal(&StringModule, pad.data(), count, &back) == kOk &&
        back == v);
  Check(Str_FormatHex(&StringModule, v, width, pad.data(), &count) == kOk);
  Check(count >= width && Str_ParseHex(&StringModule, pad.data(), count, &back) == kOk &&
        back == v);

  std::vector<char> letters(kStrMaxLetterNumber);
  Check(Str_FormatLetterNumber(&StringModule, v, v & 1, letters.data(), &count) == kOk);
  Check(count >= 1 && count <= kStrMaxLetterNumber);
  std::vector<char> roman(kStrMaxRomanNumber);
  Check(Str_FormatRomanNumber(&StringModule, v, v & 1, roman.data(), &count) == kOk);
  Check(count >= 1 && count <= kStrMaxRomanNumber);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  const auto length = static_cast<std::uint32_t>(size);
  const char* text = reinterpret_cast<const char*>(data);
  for (bool hex : {false, true}) {
    std::uint32_t got = 0;
    std::uint32_t expected = 0;
    const StatusCode s = hex ? Str_ParseHex(&StringModule, text, length, &got)
                             : Str_ParseDecimal(&StringModule, text, length, &got);
    Check(s == Reference(data, size, hex, &expected));
    Check(got == expected);
    CheckScan(text, length, hex);
  }
  if (size >= 5) {
    std::uint32_t v;
    std::memcpy(&v, data, 4);
    CheckFormats(v, data[4] % 40);
  }
  return 0;
}
