#include "engine/runtime/checksum.h"

#include <array>

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

constexpr ChecksumOps kChecksumOps = {
    Core_NotImplemented, Checksum_Crc32,      Checksum_Crc32Folded,
    Checksum_Adler32,    Core_NotImplemented,
};

}  // namespace

EngineObject ChecksumModule = {nullptr, &kChecksumOps};

StatusCode Checksum_Crc32(EngineObject*, const void* data, std::uint32_t length,
                          std::uint32_t* value) noexcept {
  *value = Crc<false>(static_cast<const std::uint8_t*>(data), length, *value);
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
