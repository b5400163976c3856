#include "engine/runtime/checksum.h"

#include <array>

#include "engine/runtime/checksum_internal.h"

#if defined(__x86_64__) && (defined(__clang__) || defined(__GNUC__))
#include <immintrin.h>
#define KELPO_CRC_CLMUL 1
#else
#define KELPO_CRC_CLMUL 0
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

#if KELPO_CRC_CLMUL
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
  const __m128i k512 = _mm_set_epi64x(static_cast<long long>(kFold512Hi),
                                      static_cast<long long>(kFold512Lo));
  for (; length >= 64; p += 64, length -= 64) {
    x0 = _mm_xor_si128(Fold(x0, k512), Load128(p));
    x1 = _mm_xor_si128(Fold(x1, k512), Load128(p + 16));
    x2 = _mm_xor_si128(Fold(x2, k512), Load128(p + 32));
    x3 = _mm_xor_si128(Fold(x3, k512), Load128(p + 48));
  }
  const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128Hi),
                                      static_cast<long long>(kFold128Lo));
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
#if KELPO_CRC_CLMUL
  return HaveClmul();
#else
  return false;
#endif
}

StatusCode Checksum_Crc32(EngineObject*, const void* data, std::uint32_t length,
                          std::uint32_t* value) noexcept {
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::uint32_t crc = *value;
#if KELPO_CRC_CLMUL
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

StatusCode Checksum_Adler32(EngineObject*, const void* data, std::uint32_t length,
                            std::uint32_t* value) noexcept {
  const auto* p = static_cast<const std::uint8_t*>(data);
  // The halves of a seed are taken as they are (an empty buffer leaves the
  // value unchanged); even unreduced 16-bit halves keep the first block's sums
  // below 2^32, and each block ends reduced.
  std::uint32_t s1 = *value & 0xFFFFu;
  std::uint32_t s2 = *value >> 16;
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
  *value = (s2 << 16) | s1;
  return kOk;
}
