#include "engine/runtime/text_conv.h"

#include "engine/runtime/text_conv_internal.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/runtime/allocator.h"
#include "engine/runtime/charset_name.h"
#include "engine/runtime/charset_tables/charset_tables.h"
#include "engine/runtime/charset_tables/single_byte.h"
#include "engine/runtime/stream.h"

namespace {

namespace ct = charset_tables;

// ---------------------------------------------------------------------------
// Decoders. Decode() looks at the bytes from p (p < end) and says what the
// next character is and how many bytes it takes.

// What a byte sequence that cannot be read decodes to: never nothing, so
// that no byte of a text vanishes without a sign.
constexpr std::uint32_t kReplacement = 0xFFFD;

enum class Step : std::uint8_t {
  kOk,          // a character
  kUnmapped,    // a well-formed code without a mapping: U+FFFD, whole length
  kInvalid,     // starts no character: U+FFFD, one byte
  kIncomplete,  // cut off by the end of the source
};

struct Decoded {
  std::uint32_t cp;
  std::uint32_t length;  // for kIncomplete: bytes taken when not stopping
  Step step;
};

constexpr Decoded Ok(std::uint32_t cp, std::uint32_t length) {
  return {cp, length, Step::kOk};
}
constexpr Decoded Unmapped(std::uint32_t length) {
  return {kReplacement, length, Step::kUnmapped};
}
constexpr Decoded Invalid() {
  return {kReplacement, 1, Step::kInvalid};
}
constexpr Decoded Incomplete(std::uint32_t length = 1) {
  return {kReplacement, length, Step::kIncomplete};
}

constexpr bool InRange(std::uint32_t b, std::uint32_t lo, std::uint32_t hi) {
  return b - lo <= hi - lo;
}

struct Utf8Decoder {
  static constexpr bool kAscii = true;
  // Whether the conversion to UTF-16LE may take the vector loop
  // (Utf8ToUtf16Fast); false keeps to the portable loop.
  bool vector = true;
  Decoded Decode(const std::uint8_t* p, const std::uint8_t* end) const {
    const std::uint32_t b = p[0];
    if (b < 0x80) return Ok(b, 1);
    std::uint32_t n;
    std::uint32_t cp;
    if (b < 0xC0) return Invalid();
    if (b < 0xE0) {
      n = 2, cp = b & 0x1F;
    } else if (b < 0xF0) {
      n = 3, cp = b & 0x0F;
    } else if (b < 0xF8) {
      n = 4, cp = b & 0x07;
    } else if (b < 0xFC) {
      n = 5, cp = b & 0x03;
    } else if (b < 0xFE) {
      n = 6, cp = b & 0x01;
    } else {
      return Invalid();
    }
    for (std::uint32_t i = 1; i < n; ++i) {
      if (p + i == end) return Incomplete();
      if ((p[i] & 0xC0) != 0x80) return Invalid();
      cp = (cp << 6) | (p[i] & 0x3F);
    }
    // Five- and six-byte forms reach far beyond Unicode; such values would
    // come out as garbage surrogates, so they decode as U+FFFD.
    if (cp > 0x10FFFF) return Unmapped(n);
    return Ok(cp, n);
  }
};

// A single-byte charset's code point for every byte (ASCII below 0x80), 0
// for a byte it leaves unassigned.
using SingleByteTable = std::array<std::uint16_t, 256>;

template <const std::array<std::uint16_t, 128>& kUpper>
constexpr SingleByteTable kSingleByte = [] {
  SingleByteTable t{};
  for (std::uint32_t b = 0; b < 0x80; ++b)
    t[b] = static_cast<std::uint16_t>(b);
  for (std::uint32_t b = 0; b < 0x80; ++b)
    t[0x80 + b] = kUpper[b];
  return t;
}();

struct SingleByteDecoder {
  static constexpr bool kAscii = true;
  const SingleByteTable* table;
  Decoded Decode(const std::uint8_t* p, const std::uint8_t*) const {
    const std::uint32_t b = p[0];
    const std::uint32_t cp = (*table)[b];
    return cp != 0 || b == 0 ? Ok(cp, 1) : Unmapped(1);
  }
};

// JIS X 0208 row/cell (0-93) to a code point; 0 when unassigned.
inline std::uint32_t Jis(std::uint32_t row, std::uint32_t cell) {
  return ct::kJisX0208[row * 94 + cell];
}

struct ShiftJisDecoder {
  static constexpr bool kAscii = true;
  Decoded Decode(const std::uint8_t* p, const std::uint8_t* end) const {
    const std::uint32_t b = p[0];
    if (b < 0x80) return Ok(b, 1);
    if (InRange(b, 0xA1, 0xDF)) return Ok(0xFF61 + (b - 0xA1), 1);
    if (!InRange(b, 0x81, 0x9F) && !InRange(b, 0xE0, 0xFC)) return Invalid();
    if (p + 1 == end) return Incomplete();
    const std::uint32_t t = p[1];
    if (!InRange(t, 0x40, 0xFC) || t == 0x7F) return Invalid();
    if (b >= 0xF0) return Unmapped(2);  // user-defined area
    std::uint32_t row = (b < 0xA0 ? b - 0x81 : b - 0xC1) * 2;
    std::uint32_t cell;
    if (t >= 0x9F) {
      row += 1;
      cell = t - 0x9F;
    } else {
      cell = t - 0x40 - (t >= 0x80 ? 1 : 0);
    }
    const std::uint32_t cp = Jis(row, cell);
    return cp != 0 ? Ok(cp, 2) : Unmapped(2);
  }
};

struct EucJpDecoder {
  static constexpr bool kAscii = true;
  Decoded Decode(const std::uint8_t* p, const std::uint8_t* end) const {
    const std::uint32_t b = p[0];
    if (b < 0x80) return Ok(b, 1);
    if (b == 0x8E) {
      if (p + 1 == end) return Incomplete();
      if (!InRange(p[1], 0xA1, 0xDF)) return Invalid();
      return Ok(0xFF61 + (p[1] - 0xA1), 2);
    }
    if (b == 0x8F) {  // JIS X 0212: well-formed, not mapped
      for (int i = 1; i < 3; ++i) {
        if (p + i == end) return Incomplete();
        if (!InRange(p[i], 0xA1, 0xFE)) return Invalid();
      }
      return Unmapped(3);
    }
    if (!InRange(b, 0xA1, 0xFE)) return Invalid();
    if (p + 1 == end) return Incomplete();
    if (!InRange(p[1], 0xA1, 0xFE)) return Invalid();
    const std::uint32_t cp = Jis(b - 0xA1, p[1] - 0xA1u);
    return cp != 0 ? Ok(cp, 2) : Unmapped(2);
  }
};

struct EucKrDecoder {
  static constexpr bool kAscii = true;
  Decoded Decode(const std::uint8_t* p, const std::uint8_t* end) const {
    const std::uint32_t b = p[0];
    if (b < 0x80) return Ok(b, 1);
    if (!InRange(b, 0xA1, 0xFE)) return Invalid();
    if (p + 1 == end) return Incomplete();
    if (!InRange(p[1], 0xA1, 0xFE)) return Invalid();
    const std::uint32_t cp = ct::kKsX1001[(b - 0xA1) * 94 + (p[1] - 0xA1u)];
    return cp != 0 ? Ok(cp, 2) : Unmapped(2);
  }
};

constexpr std::uint32_t kGbBmpFourByteCount = 39420;    // 81 30 81 30 .. 84 31 A4 39
constexpr std::uint32_t kGbSupplementaryBase = 189000;  // linear index of 90 30 81 30

std::uint32_t GbFourByteToBmp(std::uint32_t index) {
  std::uint32_t lo = 0;
  std::uint32_t hi = ct::kGb18030RangeCount;
  while (lo < hi) {
    const std::uint32_t mid = (lo + hi) / 2;
    const ct::GbRange& r = ct::kGb18030Ranges[mid];
    if (index < r.index) {
      hi = mid;
    } else if (index >= std::uint32_t{r.index} + r.length) {
      lo = mid + 1;
    } else {
      return r.codePoint + (index - r.index);
    }
  }
  return 0;
}

// Trail byte 0x40-0x7E, 0x80-0xFE to its column 0-189.
constexpr std::uint32_t GbTrailIndex(std::uint32_t t) {
  return t - 0x40 - (t >= 0x80 ? 1 : 0);
}

struct GbDecoder {
  static constexpr bool kAscii = true;
  Decoded Decode(const std::uint8_t* p, const std::uint8_t* end) const {
    const std::uint32_t b = p[0];
    if (b < 0x80) return Ok(b, 1);
    if (!InRange(b, 0x81, 0xFE)) return Invalid();
    if (p + 1 == end) return Incomplete();
    const std::uint32_t b2 = p[1];
    if (InRange(b2, 0x30, 0x39)) {
      if (p + 2 == end) return Incomplete();
      if (!InRange(p[2], 0x81, 0xFE)) return Invalid();
      if (p + 3 == end) return Incomplete();
      if (!InRange(p[3], 0x30, 0x39)) return Invalid();
      const std::uint32_t index =
          (((b - 0x81) * 10 + (b2 - 0x30)) * 126 + (p[2] - 0x81u)) * 10 + (p[3] - 0x30u);
      std::uint32_t cp = 0;
      if (index < kGbBmpFourByteCount) {
        cp = GbFourByteToBmp(index);
      } else if (index >= kGbSupplementaryBase && index - kGbSupplementaryBase <= 0xFFFFF) {
        cp = 0x10000 + (index - kGbSupplementaryBase);
      }
      return cp != 0 ? Ok(cp, 4) : Unmapped(4);
    }
    if (!InRange(b2, 0x40, 0xFE) || b2 == 0x7F) return Invalid();
    const std::uint32_t cp = ct::kGb18030[(b - 0x81) * 190 + GbTrailIndex(b2)];
    return cp != 0 ? Ok(cp, 2) : Unmapped(2);
  }
};

// Big5 trail byte 0x40-0x7E, 0xA1-0xFE to its column 0-156.
constexpr std::uint32_t Big5TrailIndex(std::uint32_t t) {
  return t < 0x80 ? t - 0x40 : t - 0x62;
}

struct Big5Decoder {
  static constexpr bool kAscii = true;
  Decoded Decode(const std::uint8_t* p, const std::uint8_t* end) const {
    const std::uint32_t b = p[0];
    if (b < 0x80) return Ok(b, 1);
    if (!InRange(b, 0x81, 0xFE)) return Invalid();
    if (p + 1 == end) return Incomplete();
    const std::uint32_t t = p[1];
    if (!InRange(t, 0x40, 0x7E) && !InRange(t, 0xA1, 0xFE)) return Invalid();
    if (!InRange(b, 0xA1, 0xF9)) return Unmapped(2);  // user-defined areas
    const std::uint32_t cp = ct::kBig5[(b - 0xA1) * 157 + Big5TrailIndex(t)];
    return cp != 0 ? Ok(cp, 2) : Unmapped(2);
  }
};

// UTF-16 in either byte order. `kRaw` passes unpaired surrogates through as
// they are (UTF-16 to UTF-16 copies); otherwise they decode as U+FFFD.
template <bool kBigEndian, bool kRaw>
struct Utf16Decoder {
  static constexpr bool kAscii = false;
  static std::uint32_t Unit(const std::uint8_t* p) {
    return kBigEndian ? (std::uint32_t{p[0]} << 8) | p[1] : (std::uint32_t{p[1]} << 8) | p[0];
  }
  Decoded Decode(const std::uint8_t* p, const std::uint8_t* end) const {
    if (end - p < 2) return Incomplete(1);
    const std::uint32_t u = Unit(p);
    if (u < 0xD800 || u > 0xDFFF) return Ok(u, 2);
    if (u <= 0xDBFF) {
      if (end - p < 4) return Incomplete(static_cast<std::uint32_t>(end - p));
      const std::uint32_t v = Unit(p + 2);
      if (InRange(v, 0xDC00, 0xDFFF)) return Ok(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00), 4);
    }
    return kRaw ? Ok(u, 2) : Unmapped(2);
  }
};

// ---------------------------------------------------------------------------
// Encoders. Encode() writes the bytes of one code point (at most 4) and
// answers their count; a code point without a mapping becomes one 0 byte
// and `mapped` goes false.

struct Encoded {
  std::uint32_t length;
  bool mapped;
};

struct Utf8Encoder {
  static constexpr std::uint32_t kAsciiWidth = 1;
  static void Ascii(std::uint8_t* out, std::uint32_t b) { out[0] = static_cast<std::uint8_t>(b); }
  Encoded Encode(std::uint32_t cp, std::uint8_t* out) const {
    if (cp < 0x80) {
      out[0] = static_cast<std::uint8_t>(cp);
      return {1, true};
    }
    if (cp < 0x800) {
      out[0] = static_cast<std::uint8_t>(0xC0 | (cp >> 6));
      out[1] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
      return {2, true};
    }
    if (cp < 0x10000) {
      out[0] = static_cast<std::uint8_t>(0xE0 | (cp >> 12));
      out[1] = static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F));
      out[2] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
      return {3, true};
    }
    out[0] = static_cast<std::uint8_t>(0xF0 | (cp >> 18));
    out[1] = static_cast<std::uint8_t>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
    return {4, true};
  }
};

template <bool kBigEndian>
struct Utf16Encoder {
  static constexpr std::uint32_t kAsciiWidth = 2;
  static void Put(std::uint8_t* out, std::uint32_t u) {
    out[kBigEndian ? 0 : 1] = static_cast<std::uint8_t>(u >> 8);
    out[kBigEndian ? 1 : 0] = static_cast<std::uint8_t>(u);
  }
  static void Ascii(std::uint8_t* out, std::uint32_t b) { Put(out, b); }
  Encoded Encode(std::uint32_t cp, std::uint8_t* out) const {
    if (cp < 0x10000) {
      Put(out, cp);
      return {2, true};
    }
    cp -= 0x10000;
    Put(out, 0xD800 | (cp >> 10));
    Put(out + 2, 0xDC00 | (cp & 0x3FF));
    return {4, true};
  }
};

template <class Encoder>
struct IsUtf16Encoder : std::false_type {};
template <bool kBigEndian>
struct IsUtf16Encoder<Utf16Encoder<kBigEndian>> : std::true_type {};

// A single-byte encoder's sorted (unit, byte) pairs, built at compile time
// from the decoding table.
struct SingleByteEncodeTable {
  std::array<CharsetPair, 128> pairs{};
  std::uint32_t count = 0;
};

constexpr SingleByteEncodeTable MakeEncodeTable(const std::array<std::uint16_t, 128>& upper) {
  SingleByteEncodeTable t;
  for (std::uint32_t i = 0; i < 128; ++i) {
    if (upper[i] == 0) continue;
    t.pairs[t.count++] = CharsetPair{upper[i], static_cast<std::uint8_t>(0x80 + i)};
  }
  std::sort(t.pairs.begin(), t.pairs.begin() + t.count,
            [](const CharsetPair& a, const CharsetPair& b) {
              return a.unit < b.unit || (a.unit == b.unit && a.byte < b.byte);
            });
  return t;
}

constexpr SingleByteEncodeTable kEncode1250 = MakeEncodeTable(ct::kCp1250Upper);
constexpr SingleByteEncodeTable kEncode1251 = MakeEncodeTable(ct::kCp1251Upper);
constexpr SingleByteEncodeTable kEncode1252 = MakeEncodeTable(ct::kCp1252Upper);
constexpr SingleByteEncodeTable kEncode1253 = MakeEncodeTable(ct::kCp1253Upper);
constexpr SingleByteEncodeTable kEncode1254 = MakeEncodeTable(ct::kCp1254Upper);
constexpr SingleByteEncodeTable kEncode1255 = MakeEncodeTable(ct::kCp1255Upper);
constexpr SingleByteEncodeTable kEncode1256 = MakeEncodeTable(ct::kCp1256Upper);
constexpr SingleByteEncodeTable kEncode1257 = MakeEncodeTable(ct::kCp1257Upper);
constexpr SingleByteEncodeTable kEncode1258 = MakeEncodeTable(ct::kCp1258Upper);
constexpr SingleByteEncodeTable kEncode874 = MakeEncodeTable(ct::kCp874Upper);
constexpr SingleByteEncodeTable kEncodeKoi8R = MakeEncodeTable(ct::kKoi8RUpper);

struct SingleByteEncoder {
  static constexpr std::uint32_t kAsciiWidth = 1;
  static void Ascii(std::uint8_t* out, std::uint32_t b) { out[0] = static_cast<std::uint8_t>(b); }
  const SingleByteEncodeTable* table;
  Encoded Encode(std::uint32_t cp, std::uint8_t* out) const {
    if (cp < 0x80) {
      out[0] = static_cast<std::uint8_t>(cp);
      return {1, true};
    }
    const std::uint32_t b = Charset_Lookup16(table->pairs.data(), table->count, cp);
    out[0] = b == 0xFFFF ? 0 : static_cast<std::uint8_t>(b);
    return {1, b != 0xFFFF};
  }
};

// Code point to (index into a CJK decoding table) + 1, 0 when absent; built
// on first use from the decoding table (first code wins, then the
// overrides) and kept for the life of the process.
using InverseTable = std::array<std::uint16_t, 0x10000>;

void BuildInverse(InverseTable& inverse, const std::uint16_t* table, std::uint32_t size,
                  const ct::CjkOverride* overrides, std::uint32_t overrideCount) {
  for (std::uint32_t i = size; i-- > 0;) {
    if (table[i] != 0) inverse[table[i]] = static_cast<std::uint16_t>(i + 1);
  }
  for (std::uint32_t i = 0; i < overrideCount; ++i) {
    inverse[overrides[i].codePoint] = static_cast<std::uint16_t>(overrides[i].index + 1);
  }
}

template <int kWhich>
const InverseTable& Inverse() {
  static InverseTable inverse;  // zero-initialised
  static const bool built = [] {
    if constexpr (kWhich == 0) {
      BuildInverse(inverse, ct::kJisX0208, 94 * 94, ct::kJisX0208Overrides,
                   ct::kJisX0208OverrideCount);
    } else if constexpr (kWhich == 1) {
      BuildInverse(inverse, ct::kKsX1001, 94 * 94, ct::kKsX1001Overrides,
                   ct::kKsX1001OverrideCount);
    } else if constexpr (kWhich == 2) {
      BuildInverse(inverse, ct::kGb18030, 126 * 190, ct::kGb18030Overrides,
                   ct::kGb18030OverrideCount);
    } else {
      BuildInverse(inverse, ct::kBig5, 89 * 157, ct::kBig5Overrides, ct::kBig5OverrideCount);
    }
    return true;
  }();
  (void)built;
  return inverse;
}

// Index + 1 of a code point in a CJK table, 0 when it has none.
template <int kWhich>
std::uint32_t CjkIndex(std::uint32_t cp) {
  if (cp > 0xFFFF) return 0;
  return Inverse<kWhich>()[cp];
}

Encoded Unmappable(std::uint8_t* out) {
  out[0] = 0;
  return {1, false};
}

Encoded Two(std::uint8_t* out, std::uint32_t a, std::uint32_t b) {
  out[0] = static_cast<std::uint8_t>(a);
  out[1] = static_cast<std::uint8_t>(b);
  return {2, true};
}

struct ShiftJisEncoder {
  Encoded Encode(std::uint32_t cp, std::uint8_t* out) const {
    if (cp < 0x80) {
      out[0] = static_cast<std::uint8_t>(cp);
      return {1, true};
    }
    if (InRange(cp, 0xFF61, 0xFF9F)) {
      out[0] = static_cast<std::uint8_t>(0xA1 + (cp - 0xFF61));
      return {1, true};
    }
    const std::uint32_t i = CjkIndex<0>(cp);
    if (i == 0) return Unmappable(out);
    const std::uint32_t row = (i - 1) / 94;
    const std::uint32_t cell = (i - 1) % 94;
    const std::uint32_t s1 = (row >> 1) + (row < 62 ? 0x81 : 0xC1);
    std::uint32_t s2;
    if (row & 1) {
      s2 = cell + 0x9F;
    } else {
      s2 = cell + 0x40 + (cell >= 63 ? 1 : 0);
    }
    return Two(out, s1, s2);
  }
};

struct EucJpEncoder {
  Encoded Encode(std::uint32_t cp, std::uint8_t* out) const {
    if (cp < 0x80) {
      out[0] = static_cast<std::uint8_t>(cp);
      return {1, true};
    }
    if (InRange(cp, 0xFF61, 0xFF9F)) return Two(out, 0x8E, 0xA1 + (cp - 0xFF61));
    const std::uint32_t i = CjkIndex<0>(cp);
    if (i == 0) return Unmappable(out);
    return Two(out, 0xA1 + (i - 1) / 94, 0xA1 + (i - 1) % 94);
  }
};

struct EucKrEncoder {
  Encoded Encode(std::uint32_t cp, std::uint8_t* out) const {
    if (cp < 0x80) {
      out[0] = static_cast<std::uint8_t>(cp);
      return {1, true};
    }
    const std::uint32_t i = CjkIndex<1>(cp);
    if (i == 0) return Unmappable(out);
    return Two(out, 0xA1 + (i - 1) / 94, 0xA1 + (i - 1) % 94);
  }
};

// GBK (two-byte codes only) or full GB18030 (four-byte forms as well).
template <bool kFourByte>
struct GbEncoder {
  static Encoded Four(std::uint8_t* out, std::uint32_t index) {
    out[3] = static_cast<std::uint8_t>(0x30 + index % 10);
    index /= 10;
    out[2] = static_cast<std::uint8_t>(0x81 + index % 126);
    index /= 126;
    out[1] = static_cast<std::uint8_t>(0x30 + index % 10);
    out[0] = static_cast<std::uint8_t>(0x81 + index / 10);
    return {4, true};
  }
  Encoded Encode(std::uint32_t cp, std::uint8_t* out) const {
    if (cp < 0x80) {
      out[0] = static_cast<std::uint8_t>(cp);
      return {1, true};
    }
    const std::uint32_t i = CjkIndex<2>(cp);
    if (i != 0) {
      const std::uint32_t t = (i - 1) % 190;
      return Two(out, 0x81 + (i - 1) / 190, t < 0x3F ? 0x40 + t : 0x41 + t);
    }
    if constexpr (kFourByte) {
      if (cp >= 0x10000) return Four(out, kGbSupplementaryBase + (cp - 0x10000));
      std::uint32_t lo = 0;
      std::uint32_t hi = ct::kGb18030RangeCount;
      while (lo < hi) {
        const std::uint32_t mid = (lo + hi) / 2;
        const ct::GbRange& r = ct::kGb18030Ranges[ct::kGb18030RangesByCodePoint[mid]];
        if (cp < r.codePoint) {
          hi = mid;
        } else if (cp >= std::uint32_t{r.codePoint} + r.length) {
          lo = mid + 1;
        } else {
          return Four(out, r.index + (cp - r.codePoint));
        }
      }
    }
    return Unmappable(out);
  }
};

struct Big5Encoder {
  Encoded Encode(std::uint32_t cp, std::uint8_t* out) const {
    if (cp < 0x80) {
      out[0] = static_cast<std::uint8_t>(cp);
      return {1, true};
    }
    const std::uint32_t i = CjkIndex<3>(cp);
    if (i == 0) return Unmappable(out);
    const std::uint32_t t = (i - 1) % 157;
    return Two(out, 0xA1 + (i - 1) / 157, t < 0x3F ? 0x40 + t : 0x62 + t);
  }
};

// ---------------------------------------------------------------------------
// UTF-8 to UTF-16LE, the common forms without the general loop's steps:
// ASCII 16 bytes at a time with SSE2 and whole 2- to 4-byte forms one at a
// time, with the results Utf8Decoder and Utf16Encoder give, while 4 input
// bytes are left and the target has room for 32 bytes; nothing is written
// past the output. It stops
// before anything else (a stray or missing continuation byte, a form past
// U+10FFFF, a 5- or 6-byte form), which the general loop takes. Answers the
// characters taken.

constexpr bool IsContinuation(std::uint32_t b) {
  return (b & 0xC0u) == 0x80u;
}

// Input bytes after which 16 more characters (32 bytes of output) follow
// whatever they hold: a character takes at most 6 bytes, a cut one 3.
constexpr std::ptrdiff_t kUtf8Ahead = 16 * 6 + 3;

// Copies n bytes (n even, below 32) with at most two overlapping copies of
// a fixed size.
inline void CopyShort(std::uint8_t* to, const std::uint8_t* from, std::uint32_t n) {
  if (n >= 16) {
    std::memcpy(to, from, 16);
    std::memcpy(to + n - 16, from + n - 16, 16);
  } else if (n >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else if (n == 2) {
    std::memcpy(to, from, 2);
  }
}

// A UTF-16LE unit, in one store where the processor is little-endian.
inline void PutUnit(std::uint8_t* out, std::uint32_t u) {
  if constexpr (std::endian::native == std::endian::little) {
    const auto unit = static_cast<std::uint16_t>(u);
    std::memcpy(out, &unit, 2);
  } else {
    out[0] = static_cast<std::uint8_t>(u);
    out[1] = static_cast<std::uint8_t>(u >> 8);
  }
}

std::uint32_t Utf8ToUtf16Fast(const std::uint8_t*& p, const std::uint8_t* end, std::uint8_t* target,
                              std::uint32_t capacity, std::uint32_t& written) {
  std::uint32_t characters = 0;
  const std::uint8_t* q = p;
  std::uint32_t w = written;
  while (end - q >= 4 && capacity - w >= 32) {
    const std::uint32_t b = q[0];
    if (b < 0x80) {
#if defined(__SSE2__)
      if (end - q >= 16) {
        // The ASCII bytes that start the next 16; only their units count.
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
        const auto high = static_cast<std::uint32_t>(_mm_movemask_epi8(v));
        const std::uint32_t n = high == 0 ? 16 : static_cast<std::uint32_t>(std::countr_zero(high));
        const __m128i zero = _mm_setzero_si128();
        // Every 6 input bytes give at least one unit of output until the
        // last 3 (an incomplete form), and the target holds the next 32
        // bytes whatever comes: then the units past the ASCII bytes are
        // overwritten by the output after them, and all 16 are stored.
        if (n == 16 || (end - q >= 16 + kUtf8Ahead && capacity - w >= 32 + 36)) {
          _mm_storeu_si128(reinterpret_cast<__m128i*>(target + w), _mm_unpacklo_epi8(v, zero));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(target + w + 16), _mm_unpackhi_epi8(v, zero));
        } else {
          // Only the units of the ASCII bytes are written: the caller's
          // bytes past the output stay as they were.
          alignas(16) std::uint8_t units[32];
          _mm_store_si128(reinterpret_cast<__m128i*>(units), _mm_unpacklo_epi8(v, zero));
          _mm_store_si128(reinterpret_cast<__m128i*>(units + 16), _mm_unpackhi_epi8(v, zero));
          CopyShort(target + w, units, 2 * n);
        }
        q += n;
        w += 2 * n;
        characters += n;
        continue;
      }
#endif
      PutUnit(target + w, b);
      ++q;
      w += 2;
      ++characters;
      continue;
    }
    const std::uint32_t c1 = q[1];
    if (b >= 0xC0 && b < 0xE0 && IsContinuation(c1)) {
      PutUnit(target + w, ((b & 0x1Fu) << 6) | (c1 & 0x3Fu));
      q += 2;
      w += 2;
    } else if (b >= 0xE0 && b < 0xF0 && IsContinuation(c1) && IsContinuation(q[2])) {
      PutUnit(target + w, ((b & 0x0Fu) << 12) | ((c1 & 0x3Fu) << 6) | (q[2] & 0x3Fu));
      q += 3;
      w += 2;
    } else if (b >= 0xF0 && b < 0xF8 && IsContinuation(c1) && IsContinuation(q[2]) &&
               IsContinuation(q[3])) {
      const std::uint32_t cp =
          ((b & 0x07u) << 18) | ((c1 & 0x3Fu) << 12) | ((q[2] & 0x3Fu) << 6) | (q[3] & 0x3Fu);
      if (cp > 0x10FFFF) break;
      if (cp < 0x10000) {
        PutUnit(target + w, cp);
        w += 2;
      } else {
        PutUnit(target + w, 0xD800u | ((cp - 0x10000) >> 10));
        PutUnit(target + w + 2, 0xDC00u | ((cp - 0x10000) & 0x3FFu));
        w += 4;
      }
      q += 4;
    } else {
      break;
    }
    ++characters;
  }
  p = q;
  written = w;
  return characters;
}

// ---------------------------------------------------------------------------
// The conversion loop.

template <class Decoder, class Encoder>
StatusCode Run(TextConvRequest& r, const std::uint8_t* p, const std::uint8_t* end,
               const Decoder& decoder, const Encoder& encoder) {
  const std::uint8_t* const begin = static_cast<const std::uint8_t*>(r.source);
  auto* const target = static_cast<std::uint8_t*>(r.target);
  const bool measureOnly = target == nullptr;
  const std::uint32_t capacity = measureOnly ? 0 : r.targetCapacity;
  const bool stopBeforeIncomplete = (r.flags & kConvStopBeforeIncomplete) != 0;
  const bool stopWhenFull = (r.flags & kConvStopWhenFull) != 0;
  std::uint32_t written = 0;
  std::uint64_t needed = 0;
  bool full = false;
  std::uint32_t characters = 0;
  std::uint32_t replaced = 0;

  // Single bytes to UTF-16: one table look-up per byte for as many bytes as
  // the target holds; the loop below measures whatever is left.
  if constexpr (std::is_same_v<Decoder, SingleByteDecoder> && IsUtf16Encoder<Encoder>::value) {
    if (!measureOnly) {
      const auto n = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(static_cast<std::uint64_t>(end - p), capacity / 2));
      const SingleByteTable& table = *decoder.table;
      std::uint32_t unmapped = 0;
      for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t b = p[i];
        const std::uint32_t u = table[b];
        const std::uint32_t gap = (u == 0) & (b != 0);
        Encoder::Put(target + 2 * i, gap ? kReplacement : u);
        unmapped += gap;
      }
      p += n;
      written = needed = 2 * n;
      characters = n;
      replaced = unmapped;
    }
  }
  while (p < end) {
    if constexpr (std::is_same_v<Decoder, Utf8Decoder> &&
                  std::is_same_v<Encoder, Utf16Encoder<false>>) {
      if (decoder.vector && !full && !measureOnly) {
        const std::uint32_t before = written;
        characters += Utf8ToUtf16Fast(p, end, target, capacity, written);
        needed += written - before;
        if (p == end) break;
      }
    }
    if constexpr (Decoder::kAscii) {
      // Runs of ASCII go eight bytes at a time while the target has room.
      constexpr std::uint32_t kWidth = Encoder::kAsciiWidth;
      while (!full && !measureOnly && end - p >= 8 && capacity - written >= 8 * kWidth) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        if (word & 0x8080808080808080ull) break;
        for (int i = 0; i < 8; ++i)
          Encoder::Ascii(target + written + i * kWidth, p[i]);
        p += 8;
        written += 8 * kWidth;
        needed += 8 * kWidth;
        characters += 8;
      }
      if (p == end) break;
    }
    const Decoded d = decoder.Decode(p, end);
    if (d.step == Step::kIncomplete && stopBeforeIncomplete) break;
    std::uint8_t bytes[4];
    const Encoded e = encoder.Encode(d.cp, bytes);
    if (!full) {
      if (!measureOnly && capacity - written >= e.length) {
        std::memcpy(target + written, bytes, e.length);
        written += e.length;
      } else if (!measureOnly) {
        full = true;
        if (stopWhenFull) break;
      }
    }
    needed += e.length;
    p += d.length;
    ++characters;
    if (d.step != Step::kOk || !e.mapped) ++replaced;
  }

  r.consumed += static_cast<std::uint32_t>(p - begin);
  r.characters += characters;
  r.replaced += replaced;
  const auto neededSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(needed, 0xFFFFFFFFu));
  if (measureOnly) {
    r.targetCapacity = neededSize;
    return kOk;
  }
  if (full) {
    r.targetCapacity = stopWhenFull ? written : neededSize;
    return kTextConvTargetTooSmall;
  }
  r.targetCapacity = written;
  return kOk;
}

bool IsUtf16(std::uint32_t mib) {
  return mib >= Mib::kUtf16Be && mib <= Mib::kUtf16;
}

const SingleByteTable* SingleByteUpper(std::uint32_t mib) {
  switch (mib) {
    case 3:
    case 4:
    case 2252:
      return &kSingleByte<ct::kCp1252Upper>;
    case 5:
      return &kSingleByte<ct::kIso8859_2Upper>;
    case 6:
      return &kSingleByte<ct::kIso8859_3Upper>;
    case 7:
      return &kSingleByte<ct::kIso8859_4Upper>;
    case 8:
      return &kSingleByte<ct::kIso8859_5Upper>;
    case 9:
      return &kSingleByte<ct::kIso8859_6Upper>;
    case 10:
      return &kSingleByte<ct::kIso8859_7Upper>;
    case 11:
      return &kSingleByte<ct::kIso8859_8Upper>;
    case 12:
    case 2254:
      return &kSingleByte<ct::kCp1254Upper>;
    case 111:
      return &kSingleByte<ct::kIso8859_15Upper>;
    case 2084:
      return &kSingleByte<ct::kKoi8RUpper>;
    case 2088:
      return &kSingleByte<ct::kKoi8UUpper>;
    case 2250:
      return &kSingleByte<ct::kCp1250Upper>;
    case 2251:
      return &kSingleByte<ct::kCp1251Upper>;
    case 2253:
      return &kSingleByte<ct::kCp1253Upper>;
    case 2255:
      return &kSingleByte<ct::kCp1255Upper>;
    case 2256:
      return &kSingleByte<ct::kCp1256Upper>;
    case 2257:
      return &kSingleByte<ct::kCp1257Upper>;
    case 2258:
      return &kSingleByte<ct::kCp1258Upper>;
    case 8000:
      return &kSingleByte<ct::kCp874Upper>;
    default:
      return nullptr;
  }
}

const SingleByteEncodeTable* SingleByteEncode(std::uint32_t mib) {
  switch (mib) {
    case 3:
    case 4:
    case 2252:
      return &kEncode1252;
    case 10:
    case 2253:
      return &kEncode1253;
    case 11:
    case 2255:
      return &kEncode1255;
    case 12:
    case 2254:
      return &kEncode1254;
    case 2084:
      return &kEncodeKoi8R;
    case 2250:
      return &kEncode1250;
    case 2251:
      return &kEncode1251;
    case 2256:
      return &kEncode1256;
    case 2257:
      return &kEncode1257;
    case 2258:
      return &kEncode1258;
    case 8000:
      return &kEncode874;
    default:
      return nullptr;
  }
}

// Decoding into UTF-8 or UTF-16.
template <class Decoder>
StatusCode DecodeInto(TextConvRequest& r, const std::uint8_t* p, const std::uint8_t* end,
                      const Decoder& decoder) {
  switch (r.targetMib) {
    case Mib::kUtf8:
      return Run(r, p, end, decoder, Utf8Encoder{});
    case Mib::kUtf16Be:
      return Run(r, p, end, decoder, Utf16Encoder<true>{});
    case Mib::kUtf16Le:
    case Mib::kUtf16:
      return Run(r, p, end, decoder, Utf16Encoder<false>{});
    default:
      return kNotSupported;
  }
}

// Encoding from UTF-16.
template <class Decoder>
StatusCode EncodeFrom(TextConvRequest& r, const std::uint8_t* p, const std::uint8_t* end,
                      const Decoder& decoder) {
  if (const SingleByteEncodeTable* t = SingleByteEncode(r.targetMib)) {
    return Run(r, p, end, decoder, SingleByteEncoder{t});
  }
  switch (r.targetMib) {
    case Mib::kShiftJis:
      return Run(r, p, end, decoder, ShiftJisEncoder{});
    case Mib::kEucJp:
      return Run(r, p, end, decoder, EucJpEncoder{});
    case Mib::kEucKr:
      return Run(r, p, end, decoder, EucKrEncoder{});
    case Mib::kGb2312_80:
    case Mib::kGbk:
    case Mib::kGb2312:
      return Run(r, p, end, decoder, GbEncoder<false>{});
    case Mib::kGb18030:
      return Run(r, p, end, decoder, GbEncoder<true>{});
    case Mib::kUtf8:
      return Run(r, p, end, decoder, Utf8Encoder{});
    case Mib::kBig5:
    case Mib::kBig5Hkscs:
      return Run(r, p, end, decoder, Big5Encoder{});
    default:
      return kNotSupported;
  }
}

// A 1015 source: the byte order of its mark (consumed), little-endian
// without one.
bool Utf16SourceIsBigEndian(TextConvRequest& r, const std::uint8_t*& p, const std::uint8_t* end) {
  if (r.sourceMib == Mib::kUtf16Be) return true;
  if (r.sourceMib != Mib::kUtf16 || end - p < 2) return false;
  if (p[0] == 0xFE && p[1] == 0xFF) {
    p += 2;
    return true;
  }
  if (p[0] == 0xFF && p[1] == 0xFE) p += 2;
  return false;
}

// Applies fn to the decoder of a non-UTF-16 source; kNotSupported for an
// unknown charset.
template <class Fn>
StatusCode WithDecoder(std::uint32_t mib, bool vector, Fn&& fn) {
  if (const SingleByteTable* table = SingleByteUpper(mib)) return fn(SingleByteDecoder{table});
  switch (mib) {
    case Mib::kUtf8:
      return fn(Utf8Decoder{vector});
    case Mib::kShiftJis:
      return fn(ShiftJisDecoder{});
    case Mib::kEucJp:
      return fn(EucJpDecoder{});
    case Mib::kEucKr:
      return fn(EucKrDecoder{});
    case Mib::kGb2312_80:
    case Mib::kGbk:
    case Mib::kGb18030:
    case Mib::kGb2312:
      return fn(GbDecoder{});
    case Mib::kBig5:
    case Mib::kBig5Hkscs:
      return fn(Big5Decoder{});
    default:
      return kNotSupported;
  }
}

}  // namespace

std::uint32_t Charset_Lookup16(const CharsetPair* pairs, std::uint32_t count,
                               std::uint32_t unit) noexcept {
  std::uint32_t lo = 0;
  std::uint32_t hi = count;
  while (lo < hi) {
    const std::uint32_t mid = lo + (hi - lo) / 2;
    if (pairs[mid].unit < unit) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo < count && pairs[lo].unit == unit ? pairs[lo].byte : 0xFFFFu;
}

namespace {

StatusCode Convert(TextConvPath path, TextConvRequest* request) {
  if (request == nullptr) return kNullOutPointer;
  TextConvRequest& r = *request;
  if (r.source == nullptr && r.sourceLength != 0) return kBadArgument;
  static const std::uint8_t kEmpty = 0;
  if (r.source == nullptr) r.source = &kEmpty;
  const auto* p = static_cast<const std::uint8_t*>(r.source);
  const std::uint8_t* const end = p + r.sourceLength;

  const bool sourceWide = IsUtf16(r.sourceMib);
  const bool targetWide = IsUtf16(r.targetMib);
  if (sourceWide && targetWide) {
    const bool sourceBe = Utf16SourceIsBigEndian(r, p, end);
    const bool targetBe = r.targetMib == Mib::kUtf16Be;
    if (sourceBe) {
      return targetBe ? Run(r, p, end, Utf16Decoder<true, true>{}, Utf16Encoder<true>{})
                      : Run(r, p, end, Utf16Decoder<true, true>{}, Utf16Encoder<false>{});
    }
    return targetBe ? Run(r, p, end, Utf16Decoder<false, true>{}, Utf16Encoder<true>{})
                    : Run(r, p, end, Utf16Decoder<false, true>{}, Utf16Encoder<false>{});
  }
  if (sourceWide) {
    if (Utf16SourceIsBigEndian(r, p, end)) {
      return EncodeFrom(r, p, end, Utf16Decoder<true, false>{});
    }
    return EncodeFrom(r, p, end, Utf16Decoder<false, false>{});
  }
  if (r.sourceMib == Mib::kUtf8 && r.targetMib == Mib::kWindows1252) {
    return Run(r, p, end, Utf8Decoder{}, SingleByteEncoder{&kEncode1252});
  }
  if (r.targetMib != Mib::kUtf8 && !targetWide) return kNotSupported;
  return WithDecoder(r.sourceMib, path != TextConvPath::kPortable,
                     [&](const auto& decoder) { return DecodeInto(r, p, end, decoder); });
}

}  // namespace

StatusCode TextConv_Convert(EngineObject*, TextConvRequest* request) noexcept {
  return Convert(TextConvPath::kVector, request);
}

StatusCode TextConv_ConvertWith(TextConvPath path, TextConvRequest* request) noexcept {
  return Convert(path, request);
}

namespace {

// The size of a stream and the part of [start, start + length) inside it.
StatusCode StreamRange(EngineObject* stream, std::uint32_t start, std::uint32_t length,
                       std::uint32_t* available) {
  std::uint32_t size = 0;
  const StatusCode s = StreamOf(stream).getSize(stream, &size);
  if (IsFailure(s)) return s;
  if (length == kTextConvToEnd) {
    if (start >= size) return kTextConvStartBeyondEnd;
    *available = size - start;
    return kOk;
  }
  const std::uint32_t rest = start < size ? size - start : 0;
  *available = std::min(length, rest);
  return kOk;
}

}  // namespace

StatusCode TextConv_ConvertStream(EngineObject* module, std::uint32_t sourceMib,
                                  EngineObject* source, std::uint32_t start, std::uint32_t length,
                                  std::uint32_t targetMib, EngineObject* target,
                                  std::uint32_t targetPosition, std::uint32_t* written) noexcept {
  if (source == nullptr || target == nullptr) return kBadArgument;
  std::uint32_t remaining = 0;
  StatusCode s = StreamRange(source, start, length, &remaining);
  if (IsFailure(s)) return s;
  void* block = nullptr;
  s = Engine_Alloc(kTextConvStreamBuffer, &block);
  if (IsFailure(s)) return s;
  const EngineBuffer<std::uint8_t> buffer(static_cast<std::uint8_t*>(block));
  std::uint8_t* const in = buffer.get();
  std::uint8_t* const out = in + kTextConvStreamPiece;

  std::uint32_t position = start;
  std::uint32_t total = 0;
  bool first = true;
  while (remaining > 0) {
    const std::uint32_t n = std::min(remaining, kTextConvStreamPiece);
    s = Stream_ReadExact(source, position, in, n);
    if (IsFailure(s)) return s;
    std::uint32_t skip = 0;
    if (first && sourceMib == Mib::kUtf16) {
      // The mark fixes the byte order for every later piece.
      if (n >= 2 && in[0] == 0xFE && in[1] == 0xFF) {
        sourceMib = Mib::kUtf16Be, skip = 2;
      } else {
        if (n >= 2 && in[0] == 0xFF && in[1] == 0xFE) skip = 2;
        sourceMib = Mib::kUtf16Le;
      }
    }
    first = false;
    const bool last = n == remaining;
    TextConvRequest r{};
    r.flags = kConvStopWhenFull | (last ? 0u : kConvStopBeforeIncomplete);
    r.sourceMib = sourceMib;
    r.source = in + skip;
    r.sourceLength = n - skip;
    r.targetMib = targetMib;
    r.target = out;
    r.targetCapacity = kTextConvStreamBuffer - kTextConvStreamPiece;
    s = TextConv_Convert(module, &r);
    if (IsFailure(s) && s != kTextConvTargetTooSmall) return s;
    if (r.targetCapacity != 0) {
      std::uint32_t put = 0;
      s = StreamOf(target).writeAt(target, targetPosition, out, r.targetCapacity, &put);
      if (IsFailure(s)) return s;
      if (put != r.targetCapacity) return kStreamShortWrite;
      targetPosition += put;
      total += put;
    }
    std::uint32_t consumed = r.consumed + skip;
    if (consumed == 0) consumed = 1;  // never stall on a piece
    position += consumed;
    remaining -= std::min(consumed, remaining);
  }
  if (written != nullptr) *written = total;
  return kOk;
}

namespace {

template <class Decoder>
StatusCode Measure(const Decoder& decoder, std::uint32_t flags, const std::uint8_t* data,
                   std::uint32_t* byteLength, std::uint8_t* lengths, std::uint32_t* count) {
  const std::uint8_t* p = data;
  const std::uint8_t* const end = data + *byteLength;
  const std::uint32_t room = lengths != nullptr ? *count : 0;
  std::uint32_t characters = 0;
  while (p < end) {
    const Decoded d = decoder.Decode(p, end);
    std::uint32_t n = d.length;
    if (d.step == Step::kInvalid || d.step == Step::kIncomplete) {
      if (flags & kConvStopBeforeIncomplete) break;
      n = 1;
    }
    if (characters < room) lengths[characters] = static_cast<std::uint8_t>(n);
    ++characters;
    p += n;
  }
  *byteLength = static_cast<std::uint32_t>(p - data);
  *count = characters;
  return kOk;
}

struct OneByteDecoder {
  Decoded Decode(const std::uint8_t*, const std::uint8_t*) const { return Ok(0, 1); }
};

}  // namespace

StatusCode TextConv_MeasureChars(EngineObject*, std::uint32_t flags, std::uint32_t mib,
                                 const void* data, std::uint32_t* byteLength, std::uint8_t* lengths,
                                 std::uint32_t* count) noexcept {
  if (byteLength == nullptr || count == nullptr) return kNullOutPointer;
  if (data == nullptr && *byteLength != 0) return kBadArgument;
  const auto* p = static_cast<const std::uint8_t*>(data);
  if (SingleByteUpper(mib) != nullptr)
    return Measure(OneByteDecoder{}, flags, p, byteLength, lengths, count);
  switch (mib) {
    case Mib::kUtf16Be:
      return Measure(Utf16Decoder<true, true>{}, flags, p, byteLength, lengths, count);
    case Mib::kUtf16Le:
    case Mib::kUtf16:
      return Measure(Utf16Decoder<false, true>{}, flags, p, byteLength, lengths, count);
    default:
      return WithDecoder(mib, true, [&](const auto& decoder) {
        return Measure(decoder, flags, p, byteLength, lengths, count);
      });
  }
}

// ---------------------------------------------------------------------------
// Default charset.

namespace {

LocaleCodePageQuery g_codePageQuery = nullptr;

struct CodesetEntry {
  std::string_view codeset;  // upper case, without '-' and '_'
  std::uint32_t codePage;
};

constexpr CodesetEntry kCodesets[] = {
    {"UTF8", 65001},    {"ANSIX3.41968", 1252}, {"ASCII", 1252},  {"USASCII", 1252},
    {"ISO88591", 1252}, {"ISO885915", 1252},    {"CP1252", 1252}, {"ISO88592", 1250},
    {"CP1250", 1250},   {"ISO88595", 1251},     {"CP1251", 1251}, {"KOI8R", 20866},
    {"KOI8U", 21866},   {"ISO88597", 1253},     {"CP1253", 1253}, {"ISO88599", 1254},
    {"CP1254", 1254},   {"ISO88598", 1255},     {"CP1255", 1255}, {"ISO88596", 1256},
    {"CP1256", 1256},   {"ISO885913", 1257},    {"CP1257", 1257}, {"CP1258", 1258},
    {"TIS620", 874},    {"CP874", 874},         {"EUCJP", 51932}, {"SHIFTJIS", 932},
    {"SJIS", 932},      {"CP932", 932},         {"EUCKR", 51949}, {"GB2312", 936},
    {"GBK", 936},       {"GB18030", 936},       {"EUCCN", 936},   {"CP936", 936},
    {"BIG5", 950},      {"BIG5HKSCS", 950},     {"CP950", 950},
};

}  // namespace

std::uint32_t Charset_CodePageFromCodeset(std::string_view codeset) noexcept {
  char key[32];
  std::size_t n = 0;
  for (char c : codeset) {
    if (c == '-' || c == '_') continue;
    if (n == sizeof key) return 0;
    key[n++] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  const std::string_view normal(key, n);
  for (const CodesetEntry& e : kCodesets) {
    if (e.codeset == normal) return e.codePage;
  }
  return 0;
}

std::uint32_t TextConv_LocaleCodePage() noexcept {
  // The user's LC_CTYPE locale from the environment, without touching the
  // process locale.
  locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return 0;
  const char* codeset = nl_langinfo_l(CODESET, locale);
  const std::uint32_t codePage = codeset != nullptr ? Charset_CodePageFromCodeset(codeset) : 0;
  freelocale(locale);
  return codePage;
}

void TextConv_SetLocaleCodePageQuery(LocaleCodePageQuery query) noexcept {
  g_codePageQuery = query;
}

std::uint32_t Charset_FromCodePage(std::uint32_t codePage) noexcept {
  switch (codePage) {
    case 437:
    case 1252:
      return Mib::kWindows1252;
    case 874:
      return Mib::kWindows874;
    case 932:
      return Mib::kShiftJis;
    case 936:
      return Mib::kGb2312;
    case 950:
      return Mib::kBig5;
    case 1250:
      return Mib::kWindows1250;
    case 1251:
      return Mib::kWindows1251;
    case 1253:
      return Mib::kWindows1253;
    case 1254:
      return Mib::kWindows1254;
    case 1255:
      return Mib::kWindows1255;
    case 1256:
      return Mib::kWindows1256;
    case 1257:
      return Mib::kWindows1257;
    case 1258:
      return Mib::kWindows1258;
    case 20866:
      return Mib::kKoi8R;
    case 21866:
      return Mib::kKoi8U;
    case 51932:
      return Mib::kEucJp;
    case 51949:
      return Mib::kEucKr;
    case 65001:
      return Mib::kUtf8;
    default:
      return 0;
  }
}

StatusCode TextConv_GetDefaultCharset(EngineObject*, std::uint32_t* mib) noexcept {
  if (mib == nullptr) return kNullOutPointer;
  const LocaleCodePageQuery query = g_codePageQuery ? g_codePageQuery : TextConv_LocaleCodePage;
  *mib = Charset_FromCodePage(query());
  return kOk;
}

namespace {
constexpr std::uint32_t kOfferedCharsets[18] = {106,  2025, 114,  2026, 18,   17,
                                                38,   2250, 2251, 2252, 2253, 2254,
                                                2255, 2256, 2257, 2258, 8000, 2084};
}  // namespace

StatusCode TextConv_ListCharsets(EngineObject*, const std::uint32_t** list,
                                 std::uint32_t* count) noexcept {
  if (list == nullptr || count == nullptr) return kNullOutPointer;
  *list = kOfferedCharsets;
  *count = 18;
  return kOk;
}

StatusCode TextConv_CanonicalCharset(EngineObject*, std::uint32_t mib, std::uint32_t* classCode,
                                     std::uint32_t* canonical) noexcept {
  if (classCode == nullptr || canonical == nullptr) return kNullOutPointer;
  std::uint32_t cls = 0;
  std::uint32_t number = mib;
  switch (mib) {
    case 3:
    case 4:
    case 2252:
      cls = CharsetClass::kSingleByte, number = 2252;
      break;
    case 10:
    case 2253:
      cls = CharsetClass::kSingleByte, number = 2253;
      break;
    case 11:
    case 2255:
      cls = CharsetClass::kSingleByte, number = 2255;
      break;
    case 12:
    case 2254:
      cls = CharsetClass::kSingleByte, number = 2254;
      break;
    case 17:
    case 38:
      cls = CharsetClass::kMultiByte;
      break;
    case 18:
      cls = CharsetClass::kEucJp;
      break;
    case 57:
    case 113:
    case 2025:
      cls = CharsetClass::kMultiByte, number = 2025;
      break;
    case 106:
      cls = CharsetClass::kUtf8;
      break;
    case 114:
      cls = CharsetClass::kGb18030;
      break;
    case 1013:
    case 1014:
    case 1015:
      cls = CharsetClass::kUtf16;
      break;
    case 2026:
    case 2101:
      cls = CharsetClass::kMultiByte, number = 2026;
      break;
    case 2084:
    case 2088:
    case 2250:
    case 2251:
    case 2256:
    case 2257:
    case 2258:
    case 8000:
      cls = CharsetClass::kSingleByte;
      break;
    default:
      return kNotSupported;
  }
  *classCode = cls;
  *canonical = number;
  return kOk;
}

// ---------------------------------------------------------------------------
// UTF-8 <-> UTF-16 with a terminator.

namespace {

// Converts into the caller's buffer, or into an allocated one when the
// result and its terminator do not fit. Units are 1 or 2 bytes.
template <class Unit>
StatusCode ConvertTerminated(EngineObject* module, std::uint32_t sourceMib, const void* text,
                             std::uint32_t byteLength, std::uint32_t targetMib, Unit** buffer,
                             std::uint32_t* count) {
  constexpr std::uint32_t kUnit = sizeof(Unit);
  const std::uint64_t capacity = (*buffer != nullptr ? std::uint64_t{*count} : 0) * kUnit;
  TextConvRequest r{};
  r.sourceMib = sourceMib;
  r.source = text;
  r.sourceLength = byteLength;
  r.targetMib = targetMib;
  r.target = *buffer;
  r.targetCapacity = static_cast<std::uint32_t>(std::min<std::uint64_t>(capacity, 0xFFFFFFF0u));
  if (r.target == nullptr) r.targetCapacity = 0;
  // A null target only measures; give it a valid empty one.
  Unit none[1];
  if (r.target == nullptr) r.target = none;
  StatusCode s = TextConv_Convert(module, &r);
  Unit* result = *buffer;
  std::uint32_t produced = r.targetCapacity;
  if (s == kTextConvTargetTooSmall) {
    const std::uint64_t size = std::uint64_t{r.targetCapacity} + kUnit;
    if (size > 0xFFFFFFEFu) return kOutOfMemory;
    void* block = nullptr;
    s = Engine_Alloc(static_cast<std::uint32_t>(size), &block);
    if (IsFailure(s)) return s;
    TextConvRequest again{};
    again.sourceMib = sourceMib;
    again.source = text;
    again.sourceLength = byteLength;
    again.targetMib = targetMib;
    again.target = block;
    again.targetCapacity = static_cast<std::uint32_t>(size);
    s = TextConv_Convert(module, &again);
    if (s == kTextConvTargetTooSmall) {
      Engine_Free(block);
      return kTextConvNoRoomForTerminator;
    }
    if (IsFailure(s)) {
      Engine_Free(block);
      return s;
    }
    result = static_cast<Unit*>(block);
    produced = again.targetCapacity;
    if (produced + kUnit > size) {
      Engine_Free(block);
      return kTextConvNoRoomForTerminator;
    }
  } else if (IsFailure(s)) {
    return s;
  } else if (std::uint64_t{produced} + kUnit > capacity) {
    // Everything fitted but the terminator: a copy one unit larger.
    void* block = nullptr;
    s = Engine_Alloc(produced + kUnit, &block);
    if (IsFailure(s)) return s;
    if (produced != 0) std::memcpy(block, result, produced);
    result = static_cast<Unit*>(block);
  }
  const std::uint32_t units = produced / kUnit;
  result[units] = 0;
  *buffer = result;
  *count = units;
  return kOk;
}

}  // namespace

StatusCode TextConv_Utf8ToWide(EngineObject* module, const char* text, std::uint32_t length,
                               char16_t** buffer, std::uint32_t* count) noexcept {
  if (buffer == nullptr || count == nullptr) return kNullOutPointer;
  if (text == nullptr) return kBadArgument;
  if (length == 0) length = static_cast<std::uint32_t>(std::strlen(text));
  return ConvertTerminated(module, Mib::kUtf8, text, length, Mib::kUtf16Le, buffer, count);
}

StatusCode TextConv_WideToUtf8(EngineObject* module, const char16_t* text, std::uint32_t count,
                               char** buffer, std::uint32_t* bufferCount) noexcept {
  if (buffer == nullptr || bufferCount == nullptr) return kNullOutPointer;
  if (text == nullptr) return kBadArgument;
  if (count == 0) {
    while (text[count] != 0)
      ++count;
  }
  if (count > 0x7FFFFFFFu) return kBadArgument;
  return ConvertTerminated(module, Mib::kUtf16Le, text, count * 2, Mib::kUtf8, buffer, bufferCount);
}

StatusCode TextConv_ValidateStream(EngineObject*, EngineObject* stream, std::uint32_t start,
                                   std::uint32_t* length, std::uint32_t mib) noexcept {
  if (length == nullptr) return kNullOutPointer;
  if (stream == nullptr) return kBadArgument;
  if (mib != Mib::kUtf8) return kTextConvMalformed;
  std::uint32_t remaining = 0;
  StatusCode s = StreamRange(stream, start, *length, &remaining);
  if (IsFailure(s)) return s;
  const std::uint32_t total = remaining;
  std::uint8_t piece[kTextConvStreamPiece];
  std::uint32_t position = start;
  const Utf8Decoder decoder;
  while (remaining > 0) {
    const std::uint32_t n = std::min(remaining, kTextConvStreamPiece);
    s = Stream_ReadExact(stream, position, piece, n);
    if (IsFailure(s)) return s;
    const bool last = n == remaining;
    const std::uint8_t* p = piece;
    const std::uint8_t* const end = piece + n;
    while (p < end) {
      const Decoded d = decoder.Decode(p, end);
      if (d.step == Step::kInvalid) return kTextConvMalformed;
      if (d.step == Step::kIncomplete) {
        if (last) return kTextConvMalformed;
        break;  // read the character whole with the next piece
      }
      p += d.length;
    }
    const auto used = static_cast<std::uint32_t>(p - piece);
    if (used == 0) return kTextConvMalformed;
    position += used;
    remaining -= used;
  }
  *length = total;
  return kOk;
}

namespace {
constexpr TextConvOps kTextConvOps = {
    Core_NotImplemented,       TextConv_Convert,           TextConv_ConvertStream,
    TextConv_MeasureChars,     TextConv_GetDefaultCharset, TextConv_ListCharsets,
    TextConv_CanonicalCharset, TextConv_Utf8ToWide,        TextConv_WideToUtf8,
    TextConv_ValidateStream,   Core_NotImplemented,
};
}  // namespace

EngineObject TextConvModule = {nullptr, &kTextConvOps};
