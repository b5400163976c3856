#include "engine/codecs/dct.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "engine/codecs/dct_internal.h"

#if defined(__SSE2__) && defined(__x86_64__)
#include <immintrin.h>
#define KELPO_DCT_X86 1
#endif

namespace {

// Natural index of zigzag position k (ITU-T T.81 figure 5).
constexpr std::uint8_t kZigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// ITU-T T.81 Annex K.1, natural order.
constexpr std::uint8_t kBase[2][64] = {
    {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
     14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
     18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
     49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99},
    {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
     99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
     99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99}};

// The order in which the code-length code lengths are stored.
constexpr std::uint8_t kLengthOrder[35] = {32, 33, 34, 0,  8,  7,  9,  6,  10, 5,  11, 4,
                                           12, 3,  13, 2,  14, 1,  15, 16, 17, 18, 19, 20,
                                           21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31};

// The AAN factors 16384 * s(row) * s(col), s(0) = 1, s(k) = sqrt(2) cos(k pi / 16).
struct AanFactors {
  std::int32_t f[64];
  AanFactors() {
    const double pi = 3.14159265358979323846;
    double s[8];
    s[0] = 1.0;
    for (int k = 1; k < 8; ++k)
      s[k] = std::sqrt(2.0) * std::cos(k * pi / 16);
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 8; ++c)
        f[r * 8 + c] = static_cast<std::int32_t>(std::lround(16384.0 * s[r] * s[c]));
  }
};

const AanFactors& Aan() {
  static const AanFactors factors;
  return factors;
}

class BitReader {
 public:
  BitReader(const std::uint8_t* data, std::uint32_t length) : data_(data), length_(length) {}
  // n bits (n <= 24), the first read the least significant; false when the
  // input runs out.
  [[gnu::always_inline]] bool Bits(std::uint32_t n, std::uint32_t* v) {
    while (count_ < n) {
      if (at_ >= length_) return false;
      buffer_ |= std::uint64_t{data_[at_++]} << count_;
      count_ += 8;
    }
    *v = static_cast<std::uint32_t>(buffer_ & ((std::uint64_t{1} << n) - 1));
    buffer_ >>= n;
    count_ -= n;
    return true;
  }
  // A symbol of a canonical code, its bits most significant first.
  [[gnu::always_inline]] bool Symbol(const DctCode& c, std::uint32_t* symbol) {
    if (count_ <= 56) Refill();
    const std::uint16_t entry = c.fast[buffer_ & ((1u << kDctFastBits) - 1)];
    const std::uint32_t length = entry >> 12;
    if (length != 0 && length <= count_) {
      buffer_ >>= length;
      count_ -= length;
      *symbol = entry & 0x1FFu;
      return true;
    }
    return SlowSymbol(c, symbol);
  }
  // Fills the buffer to more than 56 bits, or with the rest of the input:
  // 8 bytes in one load while they are there, the same bits as byte by byte.
  [[gnu::always_inline]] void Refill() {
    if (length_ - at_ >= 8) {
      std::uint64_t word;
      std::memcpy(&word, data_ + at_, 8);
      if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
      buffer_ |= word << count_;
      at_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
    while (count_ <= 56 && at_ < length_) {
      buffer_ |= std::uint64_t{data_[at_++]} << count_;
      count_ += 8;
    }
  }
  [[gnu::always_inline]] bool SlowSymbol(const DctCode& c, std::uint32_t* symbol) {
    std::int32_t code = 0;
    std::int32_t first = 0;
    std::int32_t index = 0;
    for (std::uint32_t len = 1; len <= kDctMaxCodeLength; ++len) {
      std::uint32_t bit = 0;
      if (!Bits(1, &bit)) return false;
      code |= static_cast<std::int32_t>(bit);
      const std::int32_t count = c.count[len];
      if (code - count < first) {
        *symbol = c.symbol[index + (code - first)];
        return true;
      }
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    return false;
  }
  std::uint32_t BytesUsed() const { return at_ - count_ / 8; }

 private:
  const std::uint8_t* data_;
  std::uint32_t length_;
  std::uint32_t at_ = 0;
  std::uint64_t buffer_ = 0;
  std::uint32_t count_ = 0;
};

// Builds a canonical code from lengths; false when it is over-subscribed or
// has no code at all.
bool BuildCode(const std::uint8_t* lengths, std::uint32_t n, DctCode* c) {
  std::memset(c->count, 0, sizeof c->count);
  for (std::uint32_t s = 0; s < n; ++s)
    ++c->count[lengths[s]];
  if (c->count[0] == n) return false;
  std::int64_t left = 1;
  for (std::uint32_t len = 1; len <= kDctMaxCodeLength; ++len) {
    left = (left << 1) - c->count[len];
    if (left < 0) return false;
  }
  std::uint16_t offset[kDctMaxCodeLength + 2] = {};
  for (std::uint32_t len = 1; len <= kDctMaxCodeLength; ++len)
    offset[len + 1] = static_cast<std::uint16_t>(offset[len] + c->count[len]);
  for (std::uint32_t s = 0; s < n; ++s) {
    if (lengths[s] != 0) c->symbol[offset[lengths[s]]++] = static_cast<std::uint16_t>(s);
  }
  // The short codes, bit-reversed as the input delivers them.
  std::memset(c->fast, 0, sizeof c->fast);
  std::uint32_t code = 0;
  std::uint32_t k = 0;
  for (std::uint32_t len = 1; len <= kDctMaxCodeLength; ++len, code <<= 1) {
    for (std::uint32_t i = 0; i < c->count[len]; ++i, ++code, ++k) {
      if (len > kDctFastBits) continue;
      std::uint32_t reversed = 0;
      for (std::uint32_t b = 0; b < len; ++b)
        reversed |= ((code >> b) & 1u) << (len - 1 - b);
      for (std::uint32_t fill = reversed; fill < (1u << kDctFastBits); fill += 1u << len)
        c->fast[fill] = static_cast<std::uint16_t>(c->symbol[k] | len << 12);
    }
  }
  return true;
}

// What the fast paths need to know of a block's coefficients.
struct BlockShape {
  bool acZero;            // only the first (DC) coefficient can be non-zero
  std::uint32_t largest;  // every |coefficient| is at most this + 1 (an OR of them)
};

// Adds a coefficient to the shape's bits: v ^ (v >> 31) is |v|, less one for
// a negative v.
[[gnu::always_inline]] inline void Note(std::int32_t v, std::uint32_t k, std::uint32_t* ac,
                                        std::uint32_t* largest) {
  *largest |= static_cast<std::uint32_t>(v ^ (v >> 31));
  if (k != 0) *ac |= static_cast<std::uint32_t>(v);
}

// One block's coefficients, dequantised into natural order, and their shape
// (as ShapeOf would find it, without reading the block again); quant in
// zigzag order.
bool DecodeBlock(BitReader& bits, const DctCode& code, const std::int32_t* quant,
                 std::int32_t out[64], BlockShape* shape) {
  std::memset(out, 0, 64 * sizeof(std::int32_t));
  std::uint32_t ac = 0;
  std::uint32_t largest = 0;
  std::uint32_t k = 0;
  while (k < 64) {
    std::uint32_t s = 0;
    if (!bits.Symbol(code, &s)) return false;
    if (s < 256) {
      const std::int32_t v = (static_cast<std::int32_t>(s) - 128) * quant[k];
      out[kZigzag[k]] = v;
      Note(v, k, &ac, &largest);
      ++k;
    } else if (s < 260) {
      const std::uint32_t n = 9 + (s - 256);
      std::uint32_t raw = 0;
      if (!bits.Bits(n, &raw)) return false;
      const std::int32_t value = (raw & (1u << (n - 1))) != 0
                                     ? static_cast<std::int32_t>(raw) - (1 << n)
                                     : static_cast<std::int32_t>(raw);
      const std::int32_t v = value * quant[k];
      out[kZigzag[k]] = v;
      Note(v, k, &ac, &largest);
      ++k;
    } else if (s < 268) {
      std::uint32_t extra = 0;
      if (!bits.Bits(s == 260 ? 2 : 3, &extra)) return false;
      const std::uint32_t run = s == 260 ? 3 + extra : 7 + 8 * (s - 261) + extra;
      if (k + run > 64) return false;
      k += run;
    } else if (s == 268) {
      k = 64;
    } else {
      return false;
    }
  }
  *shape = {ac == 0, largest};
  return true;
}

BlockShape ShapeOf(const std::int32_t in[64]) {
  // v ^ (v >> 31) is |v|, less one for a negative v.
  std::uint32_t ac = 0;
  std::uint32_t largest = static_cast<std::uint32_t>(in[0] ^ (in[0] >> 31));
  for (std::uint32_t k = 1; k < 64; ++k) {
    ac |= static_cast<std::uint32_t>(in[k]);
    largest |= static_cast<std::uint32_t>(in[k] ^ (in[k] >> 31));
  }
  return {ac == 0, largest};
}

// Products and sums are kept in 64 bits: a damaged block's coefficients
// must not overflow.
using Wide = std::int64_t;

constexpr Wide Multiply(Wide v, Wide c) {
  return (v * c) >> 8;  // the constants carry 8 fraction bits
}

std::uint8_t Limit(Wide v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

}  // namespace

void DctImage_Reset(DctImageDecoder* decoder) noexcept {
  std::memset(decoder, 0, sizeof *decoder);
  decoder->quality[0] = decoder->quality[1] = -1;
}

void DctImage_QualityTable(std::uint32_t table, std::uint32_t quality,
                           std::uint16_t out[64]) noexcept {
  std::uint32_t scale = 0;
  if (quality == 0) {
    scale = 50;
  } else if (quality < 50) {
    scale = 5000 / quality;
  } else if (quality <= 100) {
    scale = 200 - 2 * quality;
  }
  for (std::uint32_t i = 0; i < 64; ++i) {
    std::uint32_t v = (scale * kBase[table & 1u][i] + 50) / 100;
    out[i] = static_cast<std::uint16_t>(v < 1 ? 1 : v > 255 ? 255 : v);
  }
}

StatusCode DctImage_SetQuality(DctImageDecoder* decoder, std::uint32_t table,
                               std::uint32_t quality) noexcept {
  if (decoder == nullptr || table > 1 || quality > 100) return kBadArgument;
  if (decoder->quality[table] == static_cast<std::int16_t>(quality)) return kOk;
  std::uint16_t q[64];
  DctImage_QualityTable(table, quality, q);
  const AanFactors& aan = Aan();
  for (std::uint32_t i = 0; i < 64; ++i)
    decoder->quant[table][i] = (q[i] * aan.f[i] + 2048) >> 12;
  decoder->quality[table] = static_cast<std::int16_t>(quality);
  return kOk;
}

StatusCode DctImage_SetHuffmanTables(DctImageDecoder* decoder, std::uint32_t set,
                                     const std::uint8_t* bytes, std::uint32_t length,
                                     std::uint32_t* used) noexcept {
  if (decoder == nullptr || set > 1 || (bytes == nullptr && length != 0)) return kBadArgument;
  decoder->tables[set] = false;
  BitReader bits(bytes, length);
  auto fail = [decoder](std::uint16_t status) {
    decoder->status = status;
    return kFailed;
  };
  std::uint32_t k = 0;
  if (!bits.Bits(5, &k)) return fail(DctStatus::ShortTable);
  if (k + 4 > 35) return fail(DctStatus::BadCount);
  std::uint8_t lengthLengths[35] = {};
  for (std::uint32_t i = 0; i < k + 4; ++i) {
    std::uint32_t v = 0;
    if (!bits.Bits(3, &v)) return fail(DctStatus::ShortTable);
    lengthLengths[kLengthOrder[i]] = static_cast<std::uint8_t>(v);
  }
  DctCode lengthCode{};
  if (!BuildCode(lengthLengths, 35, &lengthCode)) return fail(DctStatus::BadLengthCode);
  std::uint8_t lengths[kDctSymbols] = {};
  for (std::uint32_t i = 0; i < kDctSymbols - 1;) {
    std::uint32_t s = 0;
    if (!bits.Symbol(lengthCode, &s)) return fail(DctStatus::ShortTable);
    if (s < 32) {
      lengths[i++] = static_cast<std::uint8_t>(s);
      continue;
    }
    std::uint32_t extra = 0;
    const std::uint32_t width = s == 32 ? 2 : s == 33 ? 3 : 7;
    if (!bits.Bits(width, &extra)) return fail(DctStatus::ShortTable);
    const std::uint32_t repeat = (s == 34 ? 11 : 3) + extra;
    if (s == 32 && i == 0) return fail(DctStatus::BadRepeat);
    if (i + repeat > kDctSymbols - 1) return fail(DctStatus::BadRepeat);
    const std::uint8_t value = s == 32 ? lengths[i - 1] : 0;
    for (std::uint32_t r = 0; r < repeat; ++r)
      lengths[i++] = value;
  }
  if (!BuildCode(lengths, kDctSymbols, &decoder->code[set])) return fail(DctStatus::BadSymbolCode);
  decoder->tables[set] = true;
  decoder->status = DctStatus::Ok;
  if (used != nullptr) *used = bits.BytesUsed();
  return kOk;
}

namespace {

// The portable inverse DCT.
void InverseDctWide(const std::int32_t in[64], std::uint8_t* out, std::uint32_t stride) {
  Wide work[64];
  // Columns, then rows: the AAN flow graph with 8-bit constants for sqrt(2),
  // 1.847759065, 1.082392200 and -2.613125930.
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < 8; ++i) {
      Wide p[8];
      for (int j = 0; j < 8; ++j)
        p[j] = pass == 0 ? in[i + 8 * j] : work[8 * i + j];
      Wide tmp0 = p[0], tmp1 = p[2], tmp2 = p[4], tmp3 = p[6];
      Wide tmp10 = tmp0 + tmp2;
      Wide tmp11 = tmp0 - tmp2;
      Wide tmp13 = tmp1 + tmp3;
      Wide tmp12 = Multiply(tmp1 - tmp3, 362) - tmp13;
      tmp0 = tmp10 + tmp13;
      tmp3 = tmp10 - tmp13;
      tmp1 = tmp11 + tmp12;
      tmp2 = tmp11 - tmp12;

      Wide tmp4 = p[1], tmp5 = p[3], tmp6 = p[5], tmp7 = p[7];
      const Wide z13 = tmp6 + tmp5;
      const Wide z10 = tmp6 - tmp5;
      const Wide z11 = tmp4 + tmp7;
      const Wide z12 = tmp4 - tmp7;
      tmp7 = z11 + z13;
      tmp11 = Multiply(z11 - z13, 362);
      const Wide z5 = Multiply(z10 + z12, 473);
      tmp10 = Multiply(z12, 277) - z5;
      tmp12 = Multiply(z10, -669) + z5;
      tmp6 = tmp12 - tmp7;
      tmp5 = tmp11 - tmp6;
      tmp4 = tmp10 + tmp5;

      const Wide r[8] = {tmp0 + tmp7, tmp1 + tmp6, tmp2 + tmp5, tmp3 - tmp4,
                         tmp3 + tmp4, tmp2 - tmp5, tmp1 - tmp6, tmp0 - tmp7};
      if (pass == 0) {
        for (int j = 0; j < 8; ++j)
          work[j * 8 + i] = r[j];
      } else {
        for (int j = 0; j < 8; ++j)
          out[i * stride + j] = Limit(((r[j] + 16) >> 5) + 128);
      }
    }
  }
}

// A block whose coefficients other than the first are all zero: every
// sample is what the flow graph gives for the first alone.
void FillDc(std::int32_t dc, std::uint8_t* out, std::uint32_t stride) {
  const std::uint8_t v = Limit(((Wide{dc} + 16) >> 5) + 128);
  for (std::uint32_t y = 0; y < 8; ++y)
    std::memset(out + y * stride, v, 8);
}

// Coefficients of at most this magnitude keep every product and sum of the
// flow graph, both passes, inside 32 bits (the largest product, z10 + z12
// times 473 in the second pass, stays below 1892 * 36 times the bound), so
// 32-bit lanes give exactly the 64-bit results. BlockShape's bound below
// 2^14 (every magnitude at most 2^14) implies it.
constexpr std::uint32_t kNarrowLimit = 1u << 14;

// The flow graph on eight vectors of lanes (one lane per column in the first
// pass, per row in the second), with V's +, - and Mul (a product shifted
// right by 8).
template <class V>
[[gnu::always_inline]] inline void FlowGraph(const V p[8], V r[8]) {
  V tmp0 = p[0], tmp1 = p[2], tmp2 = p[4], tmp3 = p[6];
  V tmp10 = tmp0 + tmp2;
  V tmp11 = tmp0 - tmp2;
  V tmp13 = tmp1 + tmp3;
  V tmp12 = (tmp1 - tmp3).Mul(362) - tmp13;
  tmp0 = tmp10 + tmp13;
  tmp3 = tmp10 - tmp13;
  tmp1 = tmp11 + tmp12;
  tmp2 = tmp11 - tmp12;
  V tmp4 = p[1], tmp5 = p[3], tmp6 = p[5], tmp7 = p[7];
  const V z13 = tmp6 + tmp5;
  const V z10 = tmp6 - tmp5;
  const V z11 = tmp4 + tmp7;
  const V z12 = tmp4 - tmp7;
  tmp7 = z11 + z13;
  tmp11 = (z11 - z13).Mul(362);
  const V z5 = (z10 + z12).Mul(473);
  tmp10 = z12.Mul(277) - z5;
  tmp12 = z10.Mul(-669) + z5;
  tmp6 = tmp12 - tmp7;
  tmp5 = tmp11 - tmp6;
  tmp4 = tmp10 + tmp5;
  r[0] = tmp0 + tmp7;
  r[1] = tmp1 + tmp6;
  r[2] = tmp2 + tmp5;
  r[3] = tmp3 - tmp4;
  r[4] = tmp3 + tmp4;
  r[5] = tmp2 - tmp5;
  r[6] = tmp1 - tmp6;
  r[7] = tmp0 - tmp7;
}

#if defined(KELPO_DCT_X86)

// Eight 32-bit lanes as two SSE2 registers.
struct Sse2Lanes {
  __m128i a, b;
  Sse2Lanes operator+(const Sse2Lanes& o) const {
    return {_mm_add_epi32(a, o.a), _mm_add_epi32(b, o.b)};
  }
  Sse2Lanes operator-(const Sse2Lanes& o) const {
    return {_mm_sub_epi32(a, o.a), _mm_sub_epi32(b, o.b)};
  }
  // The low 32 bits of each product (the same signed or not) from the
  // unsigned 32 x 32 -> 64-bit multiply of the even and the odd lanes.
  static __m128i Low32(__m128i x, __m128i c) {
    const __m128i even = _mm_mul_epu32(x, c);
    const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(x, 32), c);
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, 0x08), _mm_shuffle_epi32(odd, 0x08));
  }
  Sse2Lanes Mul(std::int32_t k) const {
    const __m128i c = _mm_set1_epi32(k);
    return {_mm_srai_epi32(Low32(a, c), 8), _mm_srai_epi32(Low32(b, c), 8)};
  }
};

inline void Transpose4(__m128i& r0, __m128i& r1, __m128i& r2, __m128i& r3) {
  const __m128i t0 = _mm_unpacklo_epi32(r0, r1);
  const __m128i t1 = _mm_unpacklo_epi32(r2, r3);
  const __m128i t2 = _mm_unpackhi_epi32(r0, r1);
  const __m128i t3 = _mm_unpackhi_epi32(r2, r3);
  r0 = _mm_unpacklo_epi64(t0, t1);
  r1 = _mm_unpackhi_epi64(t0, t1);
  r2 = _mm_unpacklo_epi64(t2, t3);
  r3 = _mm_unpackhi_epi64(t2, t3);
}

// Rows of eight lanes become columns.
void Transpose(Sse2Lanes m[8]) {
  Transpose4(m[0].a, m[1].a, m[2].a, m[3].a);
  Transpose4(m[4].b, m[5].b, m[6].b, m[7].b);
  Transpose4(m[0].b, m[1].b, m[2].b, m[3].b);
  Transpose4(m[4].a, m[5].a, m[6].a, m[7].a);
  for (int k = 0; k < 4; ++k)
    std::swap(m[k].b, m[k + 4].a);
}

// The samples of lane vectors r (lane i of r[j]: row i, column j): the
// descaled values saturate through 16 bits to bytes, which limits them to
// 0-255 as Limit does.
void StoreSamples(const __m128i r16[8], std::uint8_t* out, std::uint32_t stride) {
  // Transpose the 8 x 8 16-bit values so each register holds one row.
  const __m128i a0 = _mm_unpacklo_epi16(r16[0], r16[1]);
  const __m128i a1 = _mm_unpackhi_epi16(r16[0], r16[1]);
  const __m128i a2 = _mm_unpacklo_epi16(r16[2], r16[3]);
  const __m128i a3 = _mm_unpackhi_epi16(r16[2], r16[3]);
  const __m128i a4 = _mm_unpacklo_epi16(r16[4], r16[5]);
  const __m128i a5 = _mm_unpackhi_epi16(r16[4], r16[5]);
  const __m128i a6 = _mm_unpacklo_epi16(r16[6], r16[7]);
  const __m128i a7 = _mm_unpackhi_epi16(r16[6], r16[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2);
  const __m128i b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3);
  const __m128i b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6);
  const __m128i b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7);
  const __m128i b7 = _mm_unpackhi_epi32(a5, a7);
  const __m128i rows[8] = {_mm_unpacklo_epi64(b0, b4), _mm_unpackhi_epi64(b0, b4),
                           _mm_unpacklo_epi64(b1, b5), _mm_unpackhi_epi64(b1, b5),
                           _mm_unpacklo_epi64(b2, b6), _mm_unpackhi_epi64(b2, b6),
                           _mm_unpacklo_epi64(b3, b7), _mm_unpackhi_epi64(b3, b7)};
  for (std::uint32_t i = 0; i < 8; ++i)
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i * stride),
                     _mm_packus_epi16(rows[i], rows[i]));
}

// ((r + 16) >> 5) + 128 in 32-bit lanes, then saturated to 16 bits.
inline __m128i Descale(const Sse2Lanes& r) {
  const __m128i round = _mm_set1_epi32(16);
  const __m128i mid = _mm_set1_epi32(128);
  const __m128i a = _mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(r.a, round), 5), mid);
  const __m128i b = _mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(r.b, round), 5), mid);
  return _mm_packs_epi32(a, b);
}

void InverseDctSse2(const std::int32_t in[64], std::uint8_t* out, std::uint32_t stride) {
  Sse2Lanes p[8], r[8];
  for (int j = 0; j < 8; ++j) {
    p[j] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8 * j)),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8 * j + 4))};
  }
  FlowGraph(p, r);  // columns: lane i is column i
  Transpose(r);     // lane i is now row i
  FlowGraph(r, p);
  __m128i r16[8];
  for (int j = 0; j < 8; ++j)
    r16[j] = Descale(p[j]);
  StoreSamples(r16, out, stride);
}

// Eight 32-bit lanes in one AVX2 register.
struct Avx2Lanes {
  __m256i v;
  [[gnu::target("avx2")]] Avx2Lanes operator+(const Avx2Lanes& o) const {
    return {_mm256_add_epi32(v, o.v)};
  }
  [[gnu::target("avx2")]] Avx2Lanes operator-(const Avx2Lanes& o) const {
    return {_mm256_sub_epi32(v, o.v)};
  }
  [[gnu::target("avx2")]] Avx2Lanes Mul(std::int32_t k) const {
    return {_mm256_srai_epi32(_mm256_mullo_epi32(v, _mm256_set1_epi32(k)), 8)};
  }
};

[[gnu::target("avx2")]] void InverseDctAvx2(const std::int32_t in[64], std::uint8_t* out,
                                            std::uint32_t stride) {
  Avx2Lanes p[8], r[8];
  for (int j = 0; j < 8; ++j)
    p[j] = {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 8 * j))};
  FlowGraph(p, r);
  // Transpose the 8 x 8 lanes.
  __m256i t[8], u[8];
  for (int k = 0; k < 4; ++k) {
    t[2 * k] = _mm256_unpacklo_epi32(r[2 * k].v, r[2 * k + 1].v);
    t[2 * k + 1] = _mm256_unpackhi_epi32(r[2 * k].v, r[2 * k + 1].v);
  }
  for (int k = 0; k < 2; ++k) {
    u[4 * k] = _mm256_unpacklo_epi64(t[4 * k], t[4 * k + 2]);
    u[4 * k + 1] = _mm256_unpackhi_epi64(t[4 * k], t[4 * k + 2]);
    u[4 * k + 2] = _mm256_unpacklo_epi64(t[4 * k + 1], t[4 * k + 3]);
    u[4 * k + 3] = _mm256_unpackhi_epi64(t[4 * k + 1], t[4 * k + 3]);
  }
  for (int k = 0; k < 4; ++k) {
    p[k].v = _mm256_permute2x128_si256(u[k], u[k + 4], 0x20);
    p[k + 4].v = _mm256_permute2x128_si256(u[k], u[k + 4], 0x31);
  }
  FlowGraph(p, r);
  __m128i r16[8];
  for (int j = 0; j < 8; ++j) {
    const Sse2Lanes halves{_mm256_castsi256_si128(r[j].v), _mm256_extracti128_si256(r[j].v, 1)};
    r16[j] = Descale(halves);
  }
  StoreSamples(r16, out, stride);
}

#endif

DctPath BestPath() {
#if defined(KELPO_DCT_X86)
  static const DctPath best = __builtin_cpu_supports("avx2") ? DctPath::kAvx2 : DctPath::kSse2;
  return best;
#else
  return DctPath::kPortable;
#endif
}

// The inverse DCT of a block of the given shape through the path.
void InverseDct(DctPath path, const std::int32_t in[64], BlockShape shape, std::uint8_t* out,
                std::uint32_t stride) {
  if (path == DctPath::kPortable) {
    InverseDctWide(in, out, stride);
    return;
  }
  if (shape.acZero) {
    FillDc(in[0], out, stride);
    return;
  }
#if defined(KELPO_DCT_X86)
  if (shape.largest < kNarrowLimit) {
    if (path == DctPath::kAvx2) {
      InverseDctAvx2(in, out, stride);
    } else {
      InverseDctSse2(in, out, stride);
    }
    return;
  }
#endif
  InverseDctWide(in, out, stride);
}

// Each sample of an 8 x 8 block repeated 2 x 2 into 16 x 16 at out.
void Double(const std::uint8_t block[64], std::uint8_t* out) {
  for (std::uint32_t y = 0; y < 8; ++y) {
#if defined(KELPO_DCT_X86)
    const __m128i half = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(block + y * 8));
    const __m128i row = _mm_unpacklo_epi8(half, half);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * y * kDctTileSize), row);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + (2 * y + 1) * kDctTileSize), row);
#else
    std::uint8_t row[16];
    for (std::uint32_t x = 0; x < 8; ++x)
      row[2 * x] = row[2 * x + 1] = block[y * 8 + x];
    std::memcpy(out + 2 * y * kDctTileSize, row, 16);
    std::memcpy(out + (2 * y + 1) * kDctTileSize, row, 16);
#endif
  }
}

StatusCode Decode(DctPath path, DctImageDecoder* decoder, const std::uint8_t* data,
                  std::uint32_t length, std::uint32_t rows, std::uint32_t cols, bool chroma,
                  DctTile* tile) {
  if (decoder == nullptr || tile == nullptr || (data == nullptr && length != 0))
    return kBadArgument;
  const std::uint32_t set = chroma ? 1 : 0;
  const std::uint32_t most = chroma ? 2 : 4;
  if (!decoder->tables[set] || decoder->quality[set] < 0 || rows > most || cols > most)
    return kBadArgument;
  BitReader bits(data, length);
  std::int32_t quant[64];  // in zigzag order
  for (std::uint32_t k = 0; k < 64; ++k)
    quant[k] = decoder->quant[set][kZigzag[k]];
  std::int32_t coefficients[64];
  BlockShape shape{};
  std::uint8_t block[64];
  for (std::uint32_t plane = 0; plane < (chroma ? 2u : 1u); ++plane) {
    for (std::uint32_t r = 0; r < rows; ++r) {
      for (std::uint32_t c = 0; c < cols; ++c) {
        if (!DecodeBlock(bits, decoder->code[set], quant, coefficients, &shape)) {
          decoder->status = DctStatus::BadCoefficients;
          return kFailed;
        }
        if (!chroma) {
          InverseDct(path, coefficients, shape, tile->y + 8 * r * kDctTileSize + 8 * c,
                     kDctTileSize);
          continue;
        }
        InverseDct(path, coefficients, shape, block, 8);
        Double(block, (plane == 0 ? tile->cb : tile->cr) + 16 * r * kDctTileSize + 16 * c);
      }
    }
  }
  decoder->status = DctStatus::Ok;
  return kOk;
}

}  // namespace

void DctImage_InverseDct(const std::int32_t in[64], std::uint8_t* out,
                         std::uint32_t stride) noexcept {
  DctImage_InverseDctWith(BestPath(), in, out, stride);
}

bool DctImage_HavePath(DctPath path) noexcept {
  return path <= BestPath();
}

void DctImage_InverseDctWith(DctPath path, const std::int32_t in[64], std::uint8_t* out,
                             std::uint32_t stride) noexcept {
  InverseDct(std::min(path, BestPath()), in, ShapeOf(in), out, stride);
}

StatusCode DctImage_DecodeWith(DctPath path, DctImageDecoder* decoder, const std::uint8_t* data,
                               std::uint32_t length, std::uint32_t rows, std::uint32_t cols,
                               bool chroma, DctTile* tile) noexcept {
  return Decode(std::min(path, BestPath()), decoder, data, length, rows, cols, chroma, tile);
}

StatusCode DctImage_Decode(DctImageDecoder* decoder, const std::uint8_t* data, std::uint32_t length,
                           std::uint32_t rows, std::uint32_t cols, bool chroma,
                           DctTile* tile) noexcept {
  return Decode(BestPath(), decoder, data, length, rows, cols, chroma, tile);
}
