#include "engine/codecs/deflate_common.h"

#include <atomic>

namespace {

std::atomic<bool> g_fastEnabled{true};

constexpr std::array<std::uint8_t, 256> kReversedByte = [] {
  std::array<std::uint8_t, 256> t{};
  for (unsigned v = 0; v < 256; ++v) {
    unsigned r = 0;
    for (unsigned b = 0; b < 8; ++b)
      r |= ((v >> b) & 1u) << (7 - b);
    t[v] = static_cast<std::uint8_t>(r);
  }
  return t;
}();

// The low `length` bits of code, in reverse order.
inline unsigned Reversed(unsigned code, unsigned length) {
  const unsigned r =
      (unsigned{kReversedByte[code & 0xFF]} << 8) | kReversedByte[(code >> 8) & 0xFF];
  return r >> (16 - length);
}

// Fills table (2^bits entries) with the code's entries for its codes of at
// most `bits` bits: the table doubles once per code length, so the entries
// of shorter codes are repeated by copying, and each code then sets its one
// entry. Longer and unassigned codes stay 0.
template <class Entry, class EntryFn>
void FillFast(Entry* table, unsigned bits, const DeflateHuffman& code, EntryFn entry) {
  table[0] = 0;
  unsigned value = 0, index = 0;
  for (unsigned length = 1, size = 1; length <= bits; ++length, size <<= 1) {
    std::memcpy(table + size, table, size * sizeof *table);
    for (unsigned k = 0; k < code.count[length]; ++k, ++value, ++index)
      table[Reversed(value, length)] = entry(code.symbol[index], length);
    value <<= 1;
  }
}

// As FillFast, and the codes longer than `bits` in subtables after the main
// table, `capacity` entries in all. Codes sharing their first `bits` bits
// are neighbours in canonical order; the first of them sizes the subtable
// for them (as many index bits as the codes that follow need to fill it),
// and its main entry points there.
template <class EntryFn>
void FillWithSubtables(std::uint32_t* table, unsigned bits, unsigned capacity,
                       const DeflateHuffman& code, EntryFn entry) {
  namespace E = DeflateFastEntry;
  FillFast(table, bits, code, entry);
  unsigned value = 0, index = 0;
  for (unsigned length = 1; length <= bits; ++length) {
    value = (value + code.count[length]) << 1;
    index += code.count[length];
  }
  std::array<std::uint16_t, kDeflateMaxCodeBits + 1> left = code.count;  // codes not yet placed
  unsigned next = 1u << bits;                                            // the first free entry
  unsigned prefix = ~0u, start = 0, subBits = 0;
  for (unsigned length = bits + 1; length <= kDeflateMaxCodeBits; ++length) {
    const unsigned rest = length - bits;
    for (unsigned k = 0; k < code.count[length]; ++k, ++value, ++index) {
      if (value >> rest != prefix) {
        prefix = value >> rest;
        unsigned need = rest;
        int room = 1 << need;
        for (unsigned l = length; l < kDeflateMaxCodeBits; ++l, ++need, room <<= 1) {
          room -= left[l];
          if (room <= 0) break;
        }
        subBits = next + (1u << need) <= capacity ? need : 0;
        if (subBits != 0) {
          start = next;
          next += 1u << subBits;
          std::fill(table + start, table + next, 0u);
          table[Reversed(prefix, bits)] = E::kSubtable | subBits | start << 16;
        }
      }
      --left[length];
      if (subBits == 0) continue;
      const std::uint32_t e = entry(code.symbol[index], length);
      for (unsigned j = Reversed(value & ((1u << rest) - 1), rest); j < 1u << subBits;
           j += 1u << rest) {
        table[start + j] = e;
      }
    }
    value <<= 1;
  }
}

}  // namespace

bool DeflateFast_Enabled() noexcept {
  return g_fastEnabled.load(std::memory_order_relaxed);
}

void DeflateFast_SetEnabled(bool enabled) noexcept {
  g_fastEnabled.store(enabled, std::memory_order_relaxed);
}

#if KELPO_DEFLATE_BMI2
bool DeflateFast_HaveBmi2() noexcept {
  static const bool have = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("bmi2");
  }();
  return have;
}
#endif

void DeflateFast_Build(DeflateFastCode& fast, const DeflateHuffman& literals,
                       const DeflateHuffman& distances, unsigned distanceSymbols) noexcept {
  namespace E = DeflateFastEntry;
  // Code length and extra bits: what an element takes, and where its extra bits start.
  auto element = [](unsigned length, unsigned extra) -> std::uint32_t {
    return (length + extra) | length << E::kCodeShift;
  };
  FillWithSubtables(fast.literals.data(), DeflateFastCode::kLiteralBits,
                    static_cast<unsigned>(fast.literals.size()), literals,
                    [&](unsigned symbol, unsigned length) -> std::uint32_t {
                      if (symbol < 256) return element(length, 0) | E::kLiteral | symbol << 16;
                      if (symbol == kDeflateEndOfBlock) return element(length, 0) | E::kEndOfBlock;
                      if (symbol > 285) return 0;
                      const unsigned i = symbol - 257;
                      return element(length, kDeflateLengthExtra[i]) |
                             unsigned{kDeflateLengthBase[i]} << 16;
                    });
  FillWithSubtables(fast.distances.data(), DeflateFastCode::kDistanceBits,
                    static_cast<unsigned>(fast.distances.size()), distances,
                    [&](unsigned symbol, unsigned length) -> std::uint32_t {
                      if (symbol >= distanceSymbols || symbol >= 30) return 0;
                      return element(length, kDeflateDistanceExtra[symbol]) |
                             unsigned{kDeflateDistanceBase[symbol]} << 16;
                    });
}

DeflateSymbol DeflateHuffman_DecodeLong(const DeflateHuffman& code, std::uint64_t bits) noexcept {
  unsigned value = 0, first = 0, index = 0;
  for (unsigned length = 1; length <= kDeflateMaxCodeBits; ++length) {
    value |= static_cast<unsigned>(bits & 1);
    bits >>= 1;
    const unsigned n = code.count[length];
    if (value - first < n) {
      return {code.symbol[index + (value - first)], static_cast<std::uint16_t>(length)};
    }
    index += n;
    first = (first + n) << 1;
    value <<= 1;
  }
  return {0, 0};
}

DeflateCodeShape DeflateHuffman_Build(DeflateHuffman& code, const std::uint8_t* lengths, unsigned n,
                                      DeflateLookup lookup) noexcept {
  code.count.fill(0);
  // Until the table is filled, every look-up finds entry 0.
  code.fast[0] = 0;
  code.fastMask = 0;
  if (n > kDeflateLiteralSymbols) return DeflateCodeShape::kOversubscribed;
  // Four counts side by side, so runs of equal lengths do not wait on one
  // counter's last increment.
  std::array<std::array<std::uint16_t, 16>, 4> counts{};
  unsigned seen = 0;  // every length ORed: a bit above 15 shows a bad one
  for (unsigned s = 0; s < n; ++s) {
    seen |= lengths[s];
    ++counts[s & 3][lengths[s] & 15];
  }
  if (seen > kDeflateMaxCodeBits) return DeflateCodeShape::kOversubscribed;
  for (unsigned length = 1; length <= kDeflateMaxCodeBits; ++length) {
    code.count[length] = static_cast<std::uint16_t>(counts[0][length] + counts[1][length] +
                                                    counts[2][length] + counts[3][length]);
  }
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
  // Canonical codes in symbol order within each length; the short ones fill
  // every fast entry whose low bits are the code, bit-reversed.
  if (lookup == DeflateLookup::kTable) {
    FillFast(code.fast.data(), DeflateHuffman::kFastBits, code,
             [](unsigned symbol, unsigned length) {
               return static_cast<std::uint16_t>((length << 9) | symbol);
             });
    code.fastMask = (1u << DeflateHuffman::kFastBits) - 1;
  }
  if (used == 0) return DeflateCodeShape::kEmpty;
  return left > 0 ? DeflateCodeShape::kIncomplete : DeflateCodeShape::kComplete;
}
