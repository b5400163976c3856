#include "engine/codecs/deflate_common.h"

DeflateCodeShape DeflateHuffman_Build(DeflateHuffman& code, const std::uint8_t* lengths,
                                      unsigned n) noexcept {
  code.fast.fill(0);
  code.count.fill(0);
  if (n > kDeflateLiteralSymbols) return DeflateCodeShape::kOversubscribed;
  for (unsigned s = 0; s < n; ++s) {
    if (lengths[s] > kDeflateMaxCodeBits) return DeflateCodeShape::kOversubscribed;
    ++code.count[lengths[s]];
  }
  code.count[0] = 0;
  // Kraft: the codes of each length must fit in what the shorter ones left.
  int left = 1;
  for (unsigned length = 1; length <= kDeflateMaxCodeBits; ++length) {
    left = (left << 1) - code.count[length];
    if (left < 0) return DeflateCodeShape::kOversubscribed;
  }
  std::array<std::uint16_t, kDeflateMaxCodeBits + 2> offset{};
  for (unsigned length = 1; length <= kDeflateMaxCodeBits; ++length) {
    offset[length + 1] = static_cast<std::uint16_t>(offset[length] + code.count[length]);
  }
  const unsigned used = offset[kDeflateMaxCodeBits + 1];
  for (unsigned s = 0; s < n; ++s) {
    if (lengths[s] != 0) code.symbol[offset[lengths[s]]++] = static_cast<std::uint16_t>(s);
  }
  if (used == 0) return DeflateCodeShape::kEmpty;

  // Canonical codes in symbol order within each length; the short ones fill
  // every fast entry whose low bits are the code, bit-reversed.
  unsigned value = 0, index = 0;
  for (unsigned length = 1; length <= kDeflateMaxCodeBits; ++length) {
    for (unsigned k = 0; k < code.count[length]; ++k, ++value, ++index) {
      if (length > DeflateHuffman::kFastBits) continue;
      unsigned reversed = 0;
      for (unsigned b = 0; b < length; ++b)
        reversed |= ((value >> b) & 1u) << (length - 1 - b);
      const auto entry = static_cast<std::uint16_t>((length << 9) | code.symbol[index]);
      for (unsigned e = reversed; e < (1u << DeflateHuffman::kFastBits); e += 1u << length) {
        code.fast[e] = entry;
      }
    }
    value <<= 1;
  }
  return left > 0 ? DeflateCodeShape::kIncomplete : DeflateCodeShape::kComplete;
}
