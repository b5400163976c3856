#include "engine/runtime/checksum.h"

#include <array>

namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k)
      c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

constexpr std::uint32_t kAdlerBase = 65521;
// The largest n for which 255 n (n + 1) / 2 + (n + 1) (kAdlerBase - 1) stays
// below 2^32, so the sums need reducing only once per block of n bytes.
constexpr std::uint32_t kAdlerBlock = 5552;

template <bool kFold>
std::uint32_t Crc(const std::uint8_t* p, std::uint32_t length, std::uint32_t crc) noexcept {
  for (std::uint32_t i = 0; i < length; ++i) {
    std::uint8_t b = p[i];
    if constexpr (kFold) {
      if (b >= 'A' && b <= 'Z') b |= 0x20;
    }
    crc = (crc >> 8) ^ kCrcTable[(crc ^ b) & 0xFFu];
  }
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
