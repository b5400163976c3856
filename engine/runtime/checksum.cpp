#include "engine/runtime/checksum.h"

#include <array>

#include "engine/runtime/checksum_internal.h"

#if defined(__x86_64__) && (defined(__clang__) || defined(__GNUC__))
#include <immintrin.h>
#define KELPO_X86_SIMD 1  // SSE2 is baseline; PCLMUL and AVX2 are checked at run time
#else
#define KELPO_X86_SIMD 0
#endif

namespace {

// Eight tables: kCrcTables[0] is the classic byte table; kCrcTables[k][n] is
// the register after byte n followed by k zero bytes, so eight bytes can be
// folded in per step (slicing by eight) with the same result as the byte loop.
constexpr std::array<std::array<std::uint32_t, 256>, 8> MakeCrcTables() {
  std::array<std::array<std::uint32_t, 256>, 8> t{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k)
      c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][n] = c;
  }
  for (std::uint32_t n = 0; n < 256; ++n)
    for (int k = 1; k < 8; ++k)
      t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFFu];
  return t;
}

constexpr auto kCrcTables = MakeCrcTables();
constexpr const std::array<std::uint32_t, 256>& kCrcTable = kCrcTables[0];

constexpr std::uint32_t kAdlerBase = 65521;
// The largest n for which 255 n (n + 1) / 2 + (n + 1) (kAdlerBase - 1) stays
// below 2^32, so the sums need reducing only once per block of n bytes.
constexpr std::uint32_t kAdlerBlock = 5552;

template <bool kFold>
constexpr std::uint8_t Byte(std::uint8_t b) noexcept {
  if constexpr (kFold) {
    if (b >= 'A' && b <= 'Z') b |= 0x20;
  }
  return b;
}

template <bool kFold>
std::uint32_t Crc(const std::uint8_t* p, std::uint32_t length, std::uint32_t crc) noexcept {
  const auto& t = kCrcTables;
  for (; length >= 8; p += 8, length -= 8) {
    const std::uint32_t lo =
        crc ^ (std::uint32_t{Byte<kFold>(p[0])} | std::uint32_t{Byte<kFold>(p[1])} << 8 |
               std::uint32_t{Byte<kFold>(p[2])} << 16 | std::uint32_t{Byte<kFold>(p[3])} << 24);
    crc = t[7][lo & 0xFFu] ^ t[6][(lo >> 8) & 0xFFu] ^ t[5][(lo >> 16) & 0xFFu] ^ t[4][lo >> 24] ^
          t[3][Byte<kFold>(p[4])] ^ t[2][Byte<kFold>(p[5])] ^ t[1][Byte<kFold>(p[6])] ^
          t[0][Byte<kFold>(p[7])];
  }
  for (std::uint32_t i = 0; i < length; ++i)
    crc = (crc >> 8) ^ kCrcTable[(crc ^ Byte<kFold>(p[i])) & 0xFFu];
  return crc;
}

#if KELPO_X86_SIMD
// Carry-less multiplication folding (x86-64 PCLMULQDQ). Four 128-bit lanes
// are folded forward over 64 bytes per step; the lanes are then folded into
// one, that one down to 64 and 32 bits, and a Barrett reduction gives the
// register. Each constant is x^n mod P for the reflected polynomial (the
// fold distances are 4 x 128 + 32 +- 32, 128 + 32 +- 32, 64 and 32 bits);
// kBarrett holds P and floor(x^64 / P).
constexpr std::uint64_t kFold512Lo = 0x154442BD4ull, kFold512Hi = 0x1C6E41596ull;
constexpr std::uint64_t kFold128Lo = 0x1751997D0ull, kFold128Hi = 0x0CCAA009Eull;
constexpr std::uint64_t kFold64 = 0x163CD6124ull;
constexpr std::uint64_t kPoly = 0x1DB710641ull, kMu = 0x1F7011641ull;

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Load128(const std::uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// length >= 64 and a multiple of 16.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t CrcClmul(const std::uint8_t* p,
                                                                std::uint32_t length,
                                                                std::uint32_t crc) noexcept {
  __m128i x0 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = Load128(p + 16);
  __m128i x2 = Load128(p + 32);
  __m128i x3 = Load128(p + 48);
  p += 64;
  length -= 64;
  const __m128i k512 =
      _mm_set_epi64x(static_cast<long long>(kFold512Hi), static_cast<long long>(kFold512Lo));
  for (; length >= 64; p += 64, length -= 64) {
    x0 = _mm_xor_si128(Fold(x0, k512), Load128(p));
    x1 = _mm_xor_si128(Fold(x1, k512), Load128(p + 16));
    x2 = _mm_xor_si128(Fold(x2, k512), Load128(p + 32));
    x3 = _mm_xor_si128(Fold(x3, k512), Load128(p + 48));
  }
  const __m128i k128 =
      _mm_set_epi64x(static_cast<long long>(kFold128Hi), static_cast<long long>(kFold128Lo));
  x0 = _mm_xor_si128(Fold(x0, k128), x1);
  x0 = _mm_xor_si128(Fold(x0, k128), x2);
  x0 = _mm_xor_si128(Fold(x0, k128), x3);
  for (; length >= 16; p += 16, length -= 16)
    x0 = _mm_xor_si128(Fold(x0, k128), Load128(p));

  // 128 to 64 bits (32 zero bits are appended), then 64 to 32.
  const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
  x0 = _mm_xor_si128(_mm_clmulepi64_si128(k128, x0, 0x01), _mm_srli_si128(x0, 8));
  const __m128i k64 = _mm_set_epi64x(0, static_cast<long long>(kFold64));
  x0 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x0, mask32), k64, 0x00),
                     _mm_srli_si128(x0, 4));
  const __m128i barrett =
      _mm_set_epi64x(static_cast<long long>(kMu), static_cast<long long>(kPoly));
  __m128i q = _mm_clmulepi64_si128(_mm_and_si128(x0, mask32), barrett, 0x10);
  q = _mm_clmulepi64_si128(_mm_and_si128(q, mask32), barrett, 0x00);
  return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x0, q), 1));
}

// Adler-32 many bytes a step. Over a block of n bytes the sums grow by
//   s1 += sum b[i],  s2 += n s1 + sum (n - i) b[i],
// and with the block cut into steps of w bytes, byte j of step k weighs
// w (K - 1 - k) + (w - j): the first term is w times the running step sums
// added up before each step, the second a fixed weight per byte position.
// Blocks of at most kAdlerSimdBlock bytes keep every lane, and the sums
// (seed halves up to 0xFFFF), below 2^32 and each 16-bit column below 2^15;
// each block ends reduced, as the portable loop's blocks do, so both paths
// give the same value.
constexpr std::uint32_t kAdlerSimdBlock = 4096;

__attribute__((target("sse2"))) std::uint32_t Sum32(__m128i v) {
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0x4E));
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0xB1));
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
}

// n: a multiple of 32, at most kAdlerSimdBlock. Byte sums per step come from
// SAD against zero; each byte position keeps its own 16-bit column sum,
// weighted once at the end.
__attribute__((target("sse2"))) void AdlerBlockSse2(const std::uint8_t* p, std::uint32_t n,
                                                    std::uint32_t& s1, std::uint32_t& s2) {
  const __m128i zero = _mm_setzero_si128();
  __m128i v1 = zero, v2 = zero, c0 = zero, c1 = zero, c2 = zero, c3 = zero;
  s2 += s1 * n;
  for (const std::uint8_t* end = p + n; p != end; p += 32) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    v2 = _mm_add_epi32(v2, v1);
    v1 = _mm_add_epi32(v1, _mm_add_epi32(_mm_sad_epu8(a, zero), _mm_sad_epu8(b, zero)));
    c0 = _mm_add_epi16(c0, _mm_unpacklo_epi8(a, zero));
    c1 = _mm_add_epi16(c1, _mm_unpackhi_epi8(a, zero));
    c2 = _mm_add_epi16(c2, _mm_unpacklo_epi8(b, zero));
    c3 = _mm_add_epi16(c3, _mm_unpackhi_epi8(b, zero));
  }
  const __m128i w0 = _mm_set_epi16(25, 26, 27, 28, 29, 30, 31, 32);
  const __m128i w1 = _mm_set_epi16(17, 18, 19, 20, 21, 22, 23, 24);
  const __m128i w2 = _mm_set_epi16(9, 10, 11, 12, 13, 14, 15, 16);
  const __m128i w3 = _mm_set_epi16(1, 2, 3, 4, 5, 6, 7, 8);
  const __m128i weighted =
      _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(c0, w0), _mm_madd_epi16(c1, w1)),
                    _mm_add_epi32(_mm_madd_epi16(c2, w2), _mm_madd_epi16(c3, w3)));
  s1 += Sum32(v1);
  s2 += 32 * Sum32(v2) + Sum32(weighted);
}

__attribute__((target("avx2"))) inline std::uint32_t Sum32x8(__m256i v) {
  return Sum32(_mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
}

// n: a multiple of 64, at most kAdlerSimdBlock. The weights are applied per
// step (byte times weight, pairs added, then pairs of pairs), so the
// weighted sums accumulate in 32-bit lanes.
__attribute__((target("avx2"))) void AdlerBlockAvx2(const std::uint8_t* p, std::uint32_t n,
                                                    std::uint32_t& s1, std::uint32_t& s2) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i ones = _mm256_set1_epi16(1);
  const __m256i wa =
      _mm256_set_epi8(33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51,
                      52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64);
  const __m256i wb = _mm256_set_epi8(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18,
                                     19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32);
  __m256i v1 = zero, v2 = zero, wsum = zero;
  s2 += s1 * n;
  for (const std::uint8_t* end = p + n; p != end; p += 64) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    v2 = _mm256_add_epi32(v2, v1);
    v1 = _mm256_add_epi32(v1, _mm256_add_epi32(_mm256_sad_epu8(a, zero), _mm256_sad_epu8(b, zero)));
    wsum = _mm256_add_epi32(wsum, _mm256_madd_epi16(_mm256_maddubs_epi16(a, wa), ones));
    wsum = _mm256_add_epi32(wsum, _mm256_madd_epi16(_mm256_maddubs_epi16(b, wb), ones));
  }
  s1 += Sum32x8(v1);
  s2 += 64 * Sum32x8(v2) + Sum32x8(wsum);
}

using AdlerBlockFn = void (*)(const std::uint8_t*, std::uint32_t, std::uint32_t&, std::uint32_t&);

std::uint32_t AdlerSimd(AdlerBlockFn block, std::uint32_t step, const std::uint8_t* p,
                        std::uint32_t length, std::uint32_t value) {
  if (length < step) return Checksum_Adler32Portable(p, length, value);
  std::uint32_t s1 = value & 0xFFFFu, s2 = value >> 16;
  while (length >= step) {
    const std::uint32_t n = (length < kAdlerSimdBlock ? length : kAdlerSimdBlock) & ~(step - 1);
    block(p, n, s1, s2);
    s1 %= kAdlerBase;
    s2 %= kAdlerBase;
    p += n;
    length -= n;
  }
  return Checksum_Adler32Portable(p, length, (s2 << 16) | s1);
}

bool HaveAvx2() noexcept {
  static const bool have = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
  }();
  return have;
}

bool HaveClmul() noexcept {
  static const bool have = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  }();
  return have;
}
#endif

constexpr ChecksumOps kChecksumOps = {
    Core_NotImplemented, Checksum_Crc32,      Checksum_Crc32Folded,
    Checksum_Adler32,    Core_NotImplemented,
};

}  // namespace

EngineObject ChecksumModule = {nullptr, &kChecksumOps};

std::uint32_t Checksum_Crc32Portable(const std::uint8_t* data, std::uint32_t length,
                                     std::uint32_t crc) noexcept {
  return Crc<false>(data, length, crc);
}

bool Checksum_HaveCrc32Clmul() noexcept {
#if KELPO_X86_SIMD
  return HaveClmul();
#else
  return false;
#endif
}

StatusCode Checksum_Crc32(EngineObject*, const void* data, std::uint32_t length,
                          std::uint32_t* value) noexcept {
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::uint32_t crc = *value;
#if KELPO_X86_SIMD
  // Short buffers are not worth the set-up; the tail below 16 bytes goes
  // through the tables.
  if (length >= 128 && HaveClmul()) {
    const std::uint32_t bulk = length & ~15u;
    crc = CrcClmul(p, bulk, crc);
    p += bulk;
    length -= bulk;
  }
#endif
  *value = Crc<false>(p, length, crc);
  return kOk;
}

StatusCode Checksum_Crc32Folded(EngineObject*, const void* data, std::uint32_t length,
                                std::uint32_t* value) noexcept {
  *value = Crc<true>(static_cast<const std::uint8_t*>(data), length, *value);
  return kOk;
}

std::uint32_t Checksum_Adler32Portable(const std::uint8_t* p, std::uint32_t length,
                                       std::uint32_t value) noexcept {
  // The halves of a seed are taken as they are (an empty buffer leaves the
  // value unchanged); even unreduced 16-bit halves keep the first block's sums
  // below 2^32, and each block ends reduced.
  std::uint32_t s1 = value & 0xFFFFu;
  std::uint32_t s2 = value >> 16;
  while (length > 0) {
    const std::uint32_t n = length < kAdlerBlock ? length : kAdlerBlock;
    for (std::uint32_t i = 0; i < n; ++i) {
      s1 += p[i];
      s2 += s1;
    }
    s1 %= kAdlerBase;
    s2 %= kAdlerBase;
    p += n;
    length -= n;
  }
  return (s2 << 16) | s1;
}

bool Checksum_HaveAdler32Path(ChecksumAdlerPath path) noexcept {
  switch (path) {
    case ChecksumAdlerPath::kPortable:
      return true;
#if KELPO_X86_SIMD
    case ChecksumAdlerPath::kSse2:
      return true;
    case ChecksumAdlerPath::kAvx2:
      return HaveAvx2();
#endif
    default:
      return false;
  }
}

std::uint32_t Checksum_Adler32With(ChecksumAdlerPath path, const std::uint8_t* data,
                                   std::uint32_t length, std::uint32_t value) noexcept {
#if KELPO_X86_SIMD
  if (path == ChecksumAdlerPath::kAvx2) return AdlerSimd(AdlerBlockAvx2, 64, data, length, value);
  if (path == ChecksumAdlerPath::kSse2) return AdlerSimd(AdlerBlockSse2, 32, data, length, value);
#endif
  (void)path;
  return Checksum_Adler32Portable(data, length, value);
}

StatusCode Checksum_Adler32(EngineObject*, const void* data, std::uint32_t length,
                            std::uint32_t* value) noexcept {
  const auto* p = static_cast<const std::uint8_t*>(data);
#if KELPO_X86_SIMD
  *value = HaveAvx2() ? AdlerSimd(AdlerBlockAvx2, 64, p, length, *value)
                      : AdlerSimd(AdlerBlockSse2, 32, p, length, *value);
#else
  *value = Checksum_Adler32Portable(p, length, *value);
#endif
  return kOk;
}
