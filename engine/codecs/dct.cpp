#include "engine/codecs/dct.h"

#include <cmath>
#include <cstring>

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
  bool Bits(std::uint32_t n, std::uint32_t* v) {
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
  bool Symbol(const DctCode& c, std::uint32_t* symbol) {
    while (count_ <= 56 && at_ < length_) {
      buffer_ |= std::uint64_t{data_[at_++]} << count_;
      count_ += 8;
    }
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
  bool SlowSymbol(const DctCode& c, std::uint32_t* symbol) {
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

// One block's coefficients, dequantised into natural order.
bool DecodeBlock(BitReader& bits, const DctCode& code, const std::int32_t* quant,
                 std::int32_t out[64]) {
  std::memset(out, 0, 64 * sizeof(std::int32_t));
  std::uint32_t k = 0;
  while (k < 64) {
    std::uint32_t s = 0;
    if (!bits.Symbol(code, &s)) return false;
    if (s < 256) {
      out[kZigzag[k]] = (static_cast<std::int32_t>(s) - 128) * quant[kZigzag[k]];
      ++k;
    } else if (s < 260) {
      const std::uint32_t n = 9 + (s - 256);
      std::uint32_t v = 0;
      if (!bits.Bits(n, &v)) return false;
      const std::int32_t value = (v & (1u << (n - 1))) != 0
                                     ? static_cast<std::int32_t>(v) - (1 << n)
                                     : static_cast<std::int32_t>(v);
      out[kZigzag[k]] = value * quant[kZigzag[k]];
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
  return true;
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

void DctImage_InverseDct(const std::int32_t in[64], std::uint8_t* out,
                         std::uint32_t stride) noexcept {
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

StatusCode DctImage_Decode(DctImageDecoder* decoder, const std::uint8_t* data, std::uint32_t length,
                           std::uint32_t rows, std::uint32_t cols, bool chroma,
                           DctTile* tile) noexcept {
  if (decoder == nullptr || tile == nullptr || (data == nullptr && length != 0))
    return kBadArgument;
  const std::uint32_t set = chroma ? 1 : 0;
  const std::uint32_t most = chroma ? 2 : 4;
  if (!decoder->tables[set] || decoder->quality[set] < 0 || rows > most || cols > most)
    return kBadArgument;
  BitReader bits(data, length);
  std::int32_t coefficients[64];
  std::uint8_t block[64];
  for (std::uint32_t plane = 0; plane < (chroma ? 2u : 1u); ++plane) {
    for (std::uint32_t r = 0; r < rows; ++r) {
      for (std::uint32_t c = 0; c < cols; ++c) {
        if (!DecodeBlock(bits, decoder->code[set], decoder->quant[set], coefficients)) {
          decoder->status = DctStatus::BadCoefficients;
          return kFailed;
        }
        if (!chroma) {
          DctImage_InverseDct(coefficients, tile->y + 8 * r * kDctTileSize + 8 * c, kDctTileSize);
          continue;
        }
        DctImage_InverseDct(coefficients, block, 8);
        std::uint8_t* out = (plane == 0 ? tile->cb : tile->cr) + 16 * r * kDctTileSize + 16 * c;
        for (std::uint32_t y = 0; y < 16; ++y)
          for (std::uint32_t x = 0; x < 16; ++x)
            out[y * kDctTileSize + x] = block[(y / 2) * 8 + x / 2];
      }
    }
  }
  decoder->status = DctStatus::Ok;
  return kOk;
}
