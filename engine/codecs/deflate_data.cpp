#include "engine/codecs/deflate_data.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace {

namespace St = DeflateDataStatus;

// Bits of big-endian 32-bit words, least significant first, with up to 64
// pending; past the last word the pending bits read as zeros.
class WordBits {
 public:
  WordBits(const std::uint8_t* words, std::uint32_t count)
      : base_(words), count_(words == nullptr ? 0 : count), next_(words), left_(count_) {}
  std::uint64_t Peek() noexcept {
    while (held_ <= 32 && left_ > 0) {
      const std::uint32_t word = (std::uint32_t{next_[0]} << 24) | (std::uint32_t{next_[1]} << 16) |
                                 (std::uint32_t{next_[2]} << 8) | next_[3];
      pending_ |= std::uint64_t{word} << held_;
      held_ += 32;
      next_ += 4;
      --left_;
    }
    return pending_;
  }
  std::uint32_t Available() const noexcept { return held_; }
  void Skip(unsigned bits) noexcept {
    pending_ >>= bits;
    held_ -= bits;
  }
  // Bits used since the first word.
  std::uint64_t Position() const noexcept {
    return 32 * static_cast<std::uint64_t>(count_ - left_) - held_;
  }
  // Goes on from bit `at` (not past the last word's end).
  void Seek(std::uint64_t at) noexcept {
    const auto word = static_cast<std::uint32_t>(at >> 5);
    next_ = base_ + 4 * static_cast<std::size_t>(word);
    left_ = count_ - word;
    pending_ = 0;
    held_ = 0;
    Peek();
    Skip(static_cast<unsigned>(at & 31));
  }

 private:
  const std::uint8_t* base_;
  std::uint32_t count_;
  const std::uint8_t* next_;
  std::uint32_t left_;
  std::uint64_t pending_ = 0;
  std::uint32_t held_ = 0;
};

// Reads a Huffman symbol; on failure sets the status: 2 when the input ends
// inside the code, else `bad`.
bool ReadSymbol(WordBits& in, const DeflateHuffman& code, std::uint16_t bad, std::uint16_t& status,
                unsigned& symbol) noexcept {
  const DeflateSymbol s = DeflateHuffman_Decode(code, in.Peek());
  if (s.length != 0 && s.length <= in.Available()) {
    in.Skip(s.length);
    symbol = s.symbol;
    return true;
  }
  const bool ended = in.Available() < kDeflateMaxCodeBits || s.length > in.Available();
  status = ended ? St::ShortCode : bad;
  return false;
}

// Reads an n-bit number (n <= 16); status 1 when the input ends first.
bool ReadBits(WordBits& in, unsigned n, std::uint16_t& status, unsigned& value) noexcept {
  const std::uint64_t bits = in.Peek();
  if (n > in.Available()) {
    status = St::ShortField;
    return false;
  }
  value = static_cast<unsigned>(bits & ((1u << n) - 1));
  in.Skip(n);
  return true;
}

// Two words at p as the next 64 bits: the first word's value in the low half.
inline std::uint64_t LoadTwoWords(const std::uint8_t* p) noexcept {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) {
    v = __builtin_bswap64(v);  // second word low, first word high
    return v << 32 | v >> 32;
  } else {
    return v << 32 | v >> 32;  // each word is already its value
  }
}

// The fast loop: decodes from bit `at` while at least four words of input
// are left past those its bit buffer holds and eight bytes of room in the
// output, and stops at the first bit of any symbol it leaves to the careful
// loop (see deflate_common.h); answers the bit it stopped at. Matches go in
// whole, never cut by the capacity, and nothing is written past them.
//
// kTail: `words` is a zero-padded copy of the input's last words, of which
// the first `realBits` bits are input; the loop also stops at the first
// symbol that would take a bit past them (the careful loop reports it).
template <bool kTail>
[[gnu::always_inline]] inline std::uint64_t FastBlockBody(
    const DeflateFastCode& fast, const std::uint8_t* words, std::uint32_t wordCount,
    std::uint64_t realBits, std::uint64_t at, std::uint8_t* output, std::uint32_t capacity,
    std::uint32_t& i) noexcept {
  namespace E = DeflateFastEntry;
  constexpr std::uint32_t kLiteralMask = (1u << DeflateFastCode::kLiteralBits) - 1;
  constexpr std::uint32_t kDistanceMask = (1u << DeflateFastCode::kDistanceBits) - 1;
  if ((at >> 5) + 5 > wordCount || capacity - i < 8) return at;
  // A bit buffer of whole words: `held` bits from `next`'s word on are not in
  // it; the bits above `held` are those of the words not yet counted, so
  // ORing them in again changes nothing.
  const std::uint8_t* next = words + 4 * (at >> 5) + 4;
  std::uint32_t held = 32 - static_cast<std::uint32_t>(at & 31);
  std::uint64_t bits = LoadTwoWords(next - 4) >> (at & 31);
  const std::uint8_t* const last = words + 4 * static_cast<std::size_t>(wordCount) - 16;
  std::uint32_t out = i;
  // Every pass uses a bit, so held < 64 at each refill. Only the low byte
  // of `held` counts (Held()): a literal subtracts its whole entry, whose
  // low byte is its bit count, so the shift of `bits` takes the entry as it
  // is, and the bits above are garbage.
  auto Held = [&] { return held & 0xFF; };
  // Whether the bits used so far, with `more` held bits, run past the input.
  auto PastInput = [&](std::uint32_t more) {
    return kTail && 8 * static_cast<std::uint64_t>(next - words) - Held() + more > realBits;
  };
  auto refill = [&] {
    const std::uint32_t words = (64 - (held & 63)) >> 5;
    bits |= LoadTwoWords(next) << (held & 63);
    next += 4 * words;
    held += 32 * words;
  };
  // Bits needed after a refill (33 or more): two literals (30), or a length
  // (20), and a distance (28, after one more refill where fewer are left). A
  // refill fills all 64 bits (those past `held` are the next words'), so a
  // look at the next entry may reach past `held`. The next symbol's entry is
  // looked up as soon as its bits are known, so the look-up overlaps the
  // copying of the match before it; a refill leaves the bits below `held` as
  // they are, so an entry looked up before it holds. The most a distance
  // takes: a 15-bit code and 13 extra bits.
  constexpr std::uint32_t kDistanceElementBits = kDeflateMaxCodeBits + 13;
  if (next > last) return at;
  refill();
  std::uint32_t e = fast.literals[bits & kLiteralMask];
  for (;;) {
    if ((e & E::kLiteral) != 0) {
      // Two literals take at most 30 bits; the next entry is looked at in the
      // bits a refill put past them.
      bool stop = false;
      for (int k = 0; k < 2 && (e & E::kLiteral) != 0; ++k) {
        if (PastInput(e & E::kBitsMask)) {
          stop = true;
          break;
        }
        held -= e;
        bits >>= e & 63;
        output[out++] = static_cast<std::uint8_t>(e >> 16);
        e = fast.literals[bits & kLiteralMask];
      }
      if (stop || next > last || capacity - out < 8) break;
      refill();
      continue;
    }
    // Here 33 or more bits are held: a refill came after the last element.
    if ((e & E::kSubtable) != 0) {
      e = DeflateFast_Subentry(fast.literals.data(), e, DeflateFastCode::kLiteralBits, bits);
      if ((e & E::kLiteral) != 0) continue;  // nothing is taken yet: the literal path takes it
    }
    if ((e & E::kBitsMask) == 0 || (e & E::kEndOfBlock) != 0) break;
    const std::uint64_t symbolBits = bits;
    const std::uint32_t symbolHeld = held;
    const std::uint8_t* const symbolNext = next;
    const std::uint32_t length = DeflateFast_Value(e, bits);
    bits >>= e & 63;
    held -= e & E::kBitsMask;
    if (Held() < kDistanceElementBits) refill();  // a refill costs more than this branch
    std::uint32_t d = fast.distances[bits & kDistanceMask];
    if ((d & E::kSubtable) != 0) {
      d = DeflateFast_Subentry(fast.distances.data(), d, DeflateFastCode::kDistanceBits, bits);
    }
    const std::uint32_t distance = DeflateFast_Value(d, bits);
    // A match that reaches the capacity ends the block: the careful loop takes it.
    if ((d & E::kBitsMask) == 0 || distance > out || length >= capacity - out ||
        PastInput(d & E::kBitsMask)) {
      bits = symbolBits;
      held = symbolHeld;
      next = symbolNext;
      break;
    }
    bits >>= d & 63;
    held -= d & E::kBitsMask;
    // The two refills of a pass used at most four words; `last` left four.
    const bool more = next <= last;
    if (more) {
      refill();
      e = fast.literals[bits & kLiteralMask];
    }
    if (distance >= 16 && length <= 32 && capacity - out - length >= 32) {
      DeflateFast_CopyShort(output + out, distance, length);
    } else {
      DeflateFast_CopyMatch(output + out, distance, length);
    }
    out += length;
    if (!more || capacity - out < 8) break;
  }
  i = out;
  return 8 * static_cast<std::uint64_t>(next - words) - Held();
}

template <bool kTail>
std::uint64_t FastBlockPlain(const DeflateFastCode& fast, const std::uint8_t* words,
                             std::uint32_t wordCount, std::uint64_t realBits, std::uint64_t at,
                             std::uint8_t* output, std::uint32_t capacity,
                             std::uint32_t& i) noexcept {
  return FastBlockBody<kTail>(fast, words, wordCount, realBits, at, output, capacity, i);
}

#if KELPO_DEFLATE_BMI2
// The same loop built for processors with BMI2 (shifts by a register that
// leave the flags alone, and masks of n low bits in one step).
template <bool kTail>
__attribute__((target("bmi2"))) std::uint64_t FastBlockBmi2(
    const DeflateFastCode& fast, const std::uint8_t* words, std::uint32_t wordCount,
    std::uint64_t realBits, std::uint64_t at, std::uint8_t* output, std::uint32_t capacity,
    std::uint32_t& i) noexcept {
  return FastBlockBody<kTail>(fast, words, wordCount, realBits, at, output, capacity, i);
}
#endif

template <bool kTail>
std::uint64_t FastBlock(const DeflateFastCode& fast, const std::uint8_t* words,
                        std::uint32_t wordCount, std::uint64_t realBits, std::uint64_t at,
                        std::uint8_t* output, std::uint32_t capacity, std::uint32_t& i) noexcept {
#if KELPO_DEFLATE_BMI2
  if (DeflateFast_HaveBmi2()) {
    return FastBlockBmi2<kTail>(fast, words, wordCount, realBits, at, output, capacity, i);
  }
#endif
  return FastBlockPlain<kTail>(fast, words, wordCount, realBits, at, output, capacity, i);
}

// Words of the zero-padded copy the last words of a block are decoded from:
// up to 8 words of input and at least 8 of zeros, more than the fast loop
// reads past the bits it counts.
constexpr std::uint32_t kTailWords = 16;
constexpr std::uint32_t kTailInputWords = 8;

// The fast loops from bit `at`: over the input while enough words are left,
// then over a zero-padded copy of its last words. Answers the bit they
// stopped at.
std::uint64_t FastLoops(const DeflateFastCode& fast, const std::uint8_t* words,
                        std::uint32_t wordCount, std::uint64_t at, std::uint8_t* output,
                        std::uint32_t capacity, std::uint32_t& i) noexcept {
  at = FastBlock<false>(fast, words, wordCount, 0, at, output, capacity, i);
  const auto first = static_cast<std::uint32_t>(at >> 5);
  if (first < wordCount && wordCount - first <= kTailInputWords && capacity - i >= 8) {
    std::uint8_t tail[4 * kTailWords] = {};
    const std::uint32_t n = wordCount - first;
    std::memcpy(tail, words + 4 * static_cast<std::size_t>(first), 4 * n);
    const std::uint64_t base = 32 * static_cast<std::uint64_t>(first);
    at = base + FastBlock<true>(fast, tail, kTailWords, 32 * static_cast<std::uint64_t>(n),
                                at - base, output, capacity, i);
  }
  return at;
}

std::uint16_t LengthsFailure(DeflateLengthsResult r) noexcept {
  switch (r) {
    case DeflateLengthsResult::kShortCode:
      return St::ShortCode;
    case DeflateLengthsResult::kShortBits:
      return St::ShortField;
    default:
      return St::BadCodeLengthCode;
  }
}

}  // namespace

StatusCode DeflateData_ReadTables(DeflateDataDecoder* decoder, const std::uint8_t* words,
                                  std::uint32_t wordCount) noexcept {
  if (decoder == nullptr) return kFailed;
  DeflateDataDecoder& d = *decoder;
  d.status = St::Ok;
  d.tablesRead = false;
  WordBits in(words, wordCount);
  auto fail = [&](std::uint16_t status) {
    d.status = status;
    return kFailed;
  };

  unsigned hlit = 0, hdist = 0, hclen = 0;
  std::uint16_t status = St::Ok;
  if (!ReadBits(in, 5, status, hlit) || !ReadBits(in, 5, status, hdist) ||
      !ReadBits(in, 4, status, hclen)) {
    return fail(status);
  }
  if (hlit + 257 > 286 || hdist + 1 > 30) return fail(St::BadCounts);

  std::array<std::uint8_t, kDeflateCodeLengthSymbols> clLengths{};
  for (unsigned k = 0; k < hclen + 4; ++k) {
    unsigned length = 0;
    if (!ReadBits(in, 3, status, length)) return fail(status);
    clLengths[kDeflateCodeLengthOrder[k]] = static_cast<std::uint8_t>(length);
  }
  DeflateHuffman clCode;
  const DeflateCodeShape clShape =
      DeflateHuffman_Build(clCode, clLengths.data(), kDeflateCodeLengthSymbols);
  if (clShape == DeflateCodeShape::kOversubscribed || clShape == DeflateCodeShape::kEmpty) {
    return fail(St::BadCodeLengthCode);
  }

  // Two separate runs of lengths; a leading repeat repeats 0 and a run past
  // the end is cut there (the lengths beyond are never used).
  constexpr DeflateLengthsPolicy policy{true, true};
  std::array<std::uint8_t, 286> litLengths{};
  DeflateLengthsResult r =
      DeflateCommon_ReadCodeLengths(in, clCode, litLengths.data(), hlit + 257, policy);
  if (r != DeflateLengthsResult::kOk) return fail(LengthsFailure(r));
  // The fast loop's tables serve all but a few symbols of each block (the
  // careful loop decodes the rest without a look-up table).
  const DeflateCodeShape litShape =
      DeflateHuffman_Build(d.literals, litLengths.data(), 286, DeflateLookup::kNone);
  if (litShape == DeflateCodeShape::kOversubscribed || litShape == DeflateCodeShape::kEmpty) {
    return fail(St::BadLiteralCode);
  }

  std::array<std::uint8_t, 30> distLengths{};
  r = DeflateCommon_ReadCodeLengths(in, clCode, distLengths.data(), hdist + 1, policy);
  if (r != DeflateLengthsResult::kOk) return fail(LengthsFailure(r));
  // An empty distance code is allowed: the blocks then hold literals only.
  if (DeflateHuffman_Build(d.distances, distLengths.data(), 30, DeflateLookup::kNone) ==
      DeflateCodeShape::kOversubscribed) {
    return fail(St::BadDistanceCode);
  }
  DeflateFast_Build(d.fast, d.literals, d.distances, 29);
  d.tablesRead = true;
  return kOk;
}

StatusCode DeflateData_DecodeBlock(DeflateDataDecoder* decoder, const std::uint8_t* words,
                                   std::uint32_t wordCount, std::uint8_t* output,
                                   std::uint16_t capacity, std::uint16_t* outLength) noexcept {
  if (outLength != nullptr) *outLength = 0;
  if (decoder == nullptr || outLength == nullptr || (output == nullptr && capacity != 0)) {
    return kFailed;
  }
  DeflateDataDecoder& d = *decoder;
  d.status = St::Ok;
  if (!d.tablesRead) {
    d.status = St::BadLiteralCode;
    return kFailed;
  }
  WordBits in(words, wordCount);
  std::uint32_t i = 0;
  std::uint16_t status = St::Ok;
  const bool fast = DeflateFast_Enabled() && words != nullptr;
  for (;;) {
    // The fast loop takes what it can; the careful loop one symbol.
    if (fast && capacity - i >= 8) {
      const std::uint64_t from = in.Position();
      const std::uint64_t to = FastLoops(d.fast, words, wordCount, from, output, capacity, i);
      if (to != from) in.Seek(to);
    }
    unsigned symbol = 0;
    if (!ReadSymbol(in, d.literals, St::BadLiteralCode, status, symbol)) break;
    if (symbol < 256) {
      if (i >= capacity) {
        *outLength = capacity;
        return kFailed;
      }
      output[i++] = static_cast<std::uint8_t>(symbol);
      continue;
    }
    if (symbol == kDeflateEndOfBlock) {
      *outLength = static_cast<std::uint16_t>(i);
      return kOk;
    }
    if (symbol > 285) {
      status = St::BadLiteralCode;
      break;
    }
    unsigned extra = 0;
    if (!ReadBits(in, kDeflateLengthExtra[symbol - 257], status, extra)) break;
    const std::uint32_t length = kDeflateLengthBase[symbol - 257] + extra;

    unsigned dsym = 0;
    if (!ReadSymbol(in, d.distances, St::BadDistanceCode, status, dsym)) break;
    if (dsym >= 29) {  // symbol 29 is never valid in this data
      status = St::BadDistanceCode;
      break;
    }
    if (!ReadBits(in, kDeflateDistanceExtra[dsym], status, extra)) break;
    const std::uint32_t distance = kDeflateDistanceBase[dsym] + extra;
    if (distance > i) {
      status = St::BadDistanceCode;
      break;
    }
    const std::uint32_t n = std::min<std::uint32_t>(length, capacity - i);
    for (std::uint32_t k = 0; k < n; ++k, ++i)
      output[i] = output[i - distance];
    if (i == capacity) {
      *outLength = capacity;
      return kOk;
    }
  }
  d.status = status;
  return kFailed;
}
