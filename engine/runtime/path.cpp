#include "engine/runtime/path.h"

#include <array>
#include <cstring>
#include <string_view>

namespace {

constexpr bool IsHighSurrogate(char32_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}
constexpr bool IsLowSurrogate(char32_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}
constexpr bool IsEscapedByte(char32_t u) {
  return u >= 0xDC80 && u <= 0xDCFF;
}

// One step of the UTF-16 walk: the scalar value (or escaped byte) at i and the
// units it takes. Returns false for a surrogate that has no meaning.
bool NextUtf16(const char16_t* text, std::uint32_t length, std::uint32_t i, char32_t* value,
               std::uint32_t* units) {
  const char32_t u = text[i];
  if (IsHighSurrogate(u)) {
    if (i + 1 < length && IsLowSurrogate(text[i + 1])) {
      *value = 0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      *units = 2;
      return true;
    }
    return false;
  }
  if (IsLowSurrogate(u) && !IsEscapedByte(u)) return false;
  *value = u;
  *units = 1;
  return true;
}

std::uint32_t Utf8Size(char32_t v) {
  if (IsEscapedByte(v) || v < 0x80) return 1;
  if (v < 0x800) return 2;
  if (v < 0x10000) return 3;
  return 4;
}

char* PutUtf8(char32_t v, char* p) {
  if (IsEscapedByte(v)) {
    *p++ = static_cast<char>(v - 0xDC00);
  } else if (v < 0x80) {
    *p++ = static_cast<char>(v);
  } else if (v < 0x800) {
    *p++ = static_cast<char>(0xC0 | (v >> 6));
    *p++ = static_cast<char>(0x80 | (v & 0x3F));
  } else if (v < 0x10000) {
    *p++ = static_cast<char>(0xE0 | (v >> 12));
    *p++ = static_cast<char>(0x80 | ((v >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (v & 0x3F));
  } else {
    *p++ = static_cast<char>(0xF0 | (v >> 18));
    *p++ = static_cast<char>(0x80 | ((v >> 12) & 0x3F));
    *p++ = static_cast<char>(0x80 | ((v >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (v & 0x3F));
  }
  return p;
}

// Decodes one well-formed UTF-8 sequence at i; false when the bytes there do
// not start one (the caller then escapes the single byte).
bool NextUtf8(const unsigned char* s, std::uint32_t length, std::uint32_t i, char32_t* value,
              std::uint32_t* bytes) {
  const unsigned char b = s[i];
  if (b < 0x80) {
    *value = b;
    *bytes = 1;
    return true;
  }
  std::uint32_t n;
  char32_t v;
  char32_t min;
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2, v = b & 0x1F, min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3, v = b & 0x0F, min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4, v = b & 0x07, min = 0x10000;
  } else {
    return false;
  }
  if (length - i < n) return false;
  for (std::uint32_t k = 1; k < n; ++k) {
    if ((s[i + k] & 0xC0) != 0x80) return false;
    v = (v << 6) | (s[i + k] & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return false;
  *value = v;
  *bytes = n;
  return true;
}

}  // namespace

StatusCode Path_Utf16ToUtf8(const char16_t* text, std::uint32_t length, char* out,
                            std::uint32_t capacity, std::uint32_t* outLength) noexcept {
  if (outLength == nullptr) return kNullOutPointer;
  if (text == nullptr && length != 0) return kBadArgument;
  std::uint64_t needed = 0;
  for (std::uint32_t i = 0; i < length;) {
    char32_t v;
    std::uint32_t units;
    if (!NextUtf16(text, length, i, &v, &units)) return kMalformed;
    needed += Utf8Size(v);
    i += units;
  }
  if (needed > 0xFFFFFFFEu) return kIndexOutOfRange;
  if (out != nullptr) {
    if (capacity < needed + 1) return kIndexOutOfRange;
    char* p = out;
    for (std::uint32_t i = 0; i < length;) {
      char32_t v = 0;
      std::uint32_t units = 1;
      // The measuring pass above has already refused every bad unit.
      (void)NextUtf16(text, length, i, &v, &units);
      p = PutUtf8(v, p);
      i += units;
    }
    *p = '\0';
  }
  *outLength = static_cast<std::uint32_t>(needed);
  return kOk;
}

StatusCode Path_Utf8ToUtf16(const char* text, std::uint32_t length, char16_t* out,
                            std::uint32_t capacity, std::uint32_t* outLength) noexcept {
  if (outLength == nullptr) return kNullOutPointer;
  if (text == nullptr && length != 0) return kBadArgument;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  std::uint64_t needed = 0;
  for (std::uint32_t i = 0; i < length;) {
    char32_t v;
    std::uint32_t bytes;
    if (NextUtf8(s, length, i, &v, &bytes)) {
      needed += v >= 0x10000 ? 2 : 1;
      i += bytes;
    } else {
      needed += 1;
      i += 1;
    }
  }
  if (needed > 0xFFFFFFFEu) return kIndexOutOfRange;
  if (out != nullptr) {
    if (capacity < needed + 1) return kIndexOutOfRange;
    char16_t* p = out;
    for (std::uint32_t i = 0; i < length;) {
      char32_t v;
      std::uint32_t bytes;
      if (!NextUtf8(s, length, i, &v, &bytes)) {
        v = 0xDC00 + s[i];
        bytes = 1;
      }
      if (v >= 0x10000) {
        *p++ = static_cast<char16_t>(0xD800 + ((v - 0x10000) >> 10));
        *p++ = static_cast<char16_t>(0xDC00 + ((v - 0x10000) & 0x3FF));
      } else {
        *p++ = static_cast<char16_t>(v);
      }
      i += bytes;
    }
    *p = u'\0';
  }
  *outLength = static_cast<std::uint32_t>(needed);
  return kOk;
}

bool Path_ToNative(const char16_t* path, std::uint32_t length, NativePath* out) noexcept {
  if (out == nullptr) return false;
  std::uint32_t n = 0;
  if (Path_Utf16ToUtf8(path, length, out->bytes, NativePath::kCapacity, &n) != kOk) return false;
  for (std::uint32_t i = 0; i < n; ++i) {
    if (out->bytes[i] == '\\') out->bytes[i] = '/';
  }
  out->length = n;
  return true;
}

std::uint32_t Path_Length(const char16_t* path, std::uint32_t limit) noexcept {
  if (path == nullptr) return 0;
  std::uint32_t n = 0;
  while (n <= limit && path[n] != u'\0')
    ++n;
  return n;
}
