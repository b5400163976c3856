// Pieces of RFC 1951 shared by the engine's two DEFLATE decoders (the block
// decoder of the document formats and the inflate module): the alphabets'
// base values and extra-bit counts, the transmission order of the code-length
// code, canonical Huffman codes built from code lengths, and the reader of a
// run-length coded sequence of code lengths.
//
// Bits are taken least significant first, as DEFLATE packs them; a Huffman
// code's first bit is its most significant. Decoding looks at a 64-bit window
// of pending bits (`bits`, next bit in bit 0); bits past the end of the input
// read as zeros, and the caller compares the length consumed with the bits it
// really holds.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

// Largest code length of any DEFLATE code, and of the code-length code.
constexpr unsigned kDeflateMaxCodeBits = 15;
constexpr unsigned kDeflateMaxCodeLengthBits = 7;

constexpr unsigned kDeflateLiteralSymbols = 288;  // 0-285 used, 286-287 only in fixed codes
constexpr unsigned kDeflateDistanceSymbols = 32;  // 0-29 used, 30-31 only in fixed codes
constexpr unsigned kDeflateCodeLengthSymbols = 19;
constexpr unsigned kDeflateEndOfBlock = 256;

// Length symbols 257-285: base length and extra bits.
constexpr std::array<std::uint16_t, 29> kDeflateLengthBase = {
    3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kDeflateLengthExtra = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Distance symbols 0-29: base distance and extra bits.
constexpr std::array<std::uint16_t, 30> kDeflateDistanceBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<std::uint8_t, 30> kDeflateDistanceExtra = {
    0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which the code-length code's lengths are transmitted.
constexpr std::array<std::uint8_t, kDeflateCodeLengthSymbols> kDeflateCodeLengthOrder = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A canonical Huffman code for up to 288 symbols. Codes of up to kFastBits
// bits are found with one table look-up; longer ones are decoded by counting
// through the codes of each length.
struct DeflateHuffman {
  static constexpr unsigned kFastBits = 10;
  // Indexed by the next kFastBits input bits (under fastMask): (length << 9)
  // | symbol, or 0 when the code is longer or unassigned. A code built
  // without the table has a mask of 0 and fast[0] = 0: every code is then
  // decoded the long way.
  std::array<std::uint16_t, 1u << kFastBits> fast;
  std::uint16_t fastMask;
  std::array<std::uint16_t, kDeflateMaxCodeBits + 1> count;  // codes of each length
  std::array<std::uint16_t, kDeflateLiteralSymbols> symbol;  // symbols in code order
};

enum class DeflateCodeShape : std::uint8_t {
  kComplete,        // every bit pattern is a code
  kIncomplete,      // some patterns are unassigned (reading one is an error)
  kEmpty,           // no symbol has a code
  kOversubscribed,  // more codes than the lengths allow: unusable
};

// Whether DeflateHuffman_Build fills the look-up table: a decoder whose fast
// loop has tables of its own decodes few symbols with this code.
enum class DeflateLookup : std::uint8_t { kTable, kNone };

// Builds the code for lengths[0 .. n) (n <= 288, each length 0-15; 0 = no
// code). The code is usable unless the answer is kOversubscribed; a length
// above 15 is taken as over-subscription too.
DeflateCodeShape DeflateHuffman_Build(DeflateHuffman& code, const std::uint8_t* lengths, unsigned n,
                                      DeflateLookup lookup = DeflateLookup::kTable) noexcept;

struct DeflateSymbol {
  std::uint16_t symbol;
  std::uint16_t length;  // bits used; 0 when the bits start no code
};

// Decodes a code longer than the fast table's index, or an unassigned one,
// by canonical decoding: one bit and one code length at a time.
DeflateSymbol DeflateHuffman_DecodeLong(const DeflateHuffman& code, std::uint64_t bits) noexcept;

// Decodes the symbol whose code starts at bit 0 of `bits`.
inline DeflateSymbol DeflateHuffman_Decode(const DeflateHuffman& code,
                                           std::uint64_t bits) noexcept {
  const std::uint16_t entry = code.fast[bits & code.fastMask];
  if (entry != 0)
    return {static_cast<std::uint16_t>(entry & 0x1FF), static_cast<std::uint16_t>(entry >> 9)};
  return DeflateHuffman_DecodeLong(code, bits);
}

// ---- Fast decoding -------------------------------------------------------
//
// Both decoders have a fast loop beside their careful one. It runs only
// while enough input and output room are known to be at hand, resolves a
// literal or a whole length (base plus extra bits) per table look-up, and
// hands everything unusual back to the careful loop at the first bit of the
// symbol concerned: codes longer than the table, unassigned codes, symbols
// the careful loop refuses, the end of a block and distances it must check
// itself. So both loops give the same bytes and the same answers.

// One table entry: bits 0-5 the bits its element takes, code and extra bits
// together (0: not handled here), bits 8-13 the code's length, bit 14 a
// literal, bit 15 the end of the block, bits 16-31 the literal, or the base
// length or distance. A 64-bit shift by the entry takes the element's bits
// (the shift uses only the low six bits of its count).
//
// Codes longer than the table's index go through a subtable: the main
// entry their first bits reach has bit 7 set, the subtable's index bits in
// bits 0-5 and its offset in bits 16-31 (DeflateFast_Subentry), and the
// subtable's entries are those of the whole codes.
namespace DeflateFastEntry {
constexpr std::uint32_t kBitsMask = 0x3F;
constexpr unsigned kCodeShift = 8;
constexpr std::uint32_t kSubtable = 0x80;
constexpr std::uint32_t kLiteral = 0x4000;
constexpr std::uint32_t kEndOfBlock = 0x8000;
}  // namespace DeflateFastEntry

// The length or distance of entry `e` whose code starts at bit 0 of `bits`:
// the base plus the extra bits that follow the code.
inline std::uint32_t DeflateFast_Value(std::uint32_t e, std::uint64_t bits) noexcept {
  namespace E = DeflateFastEntry;
  const std::uint64_t element = bits & ((std::uint64_t{1} << (e & E::kBitsMask)) - 1);
  return (e >> 16) + static_cast<std::uint32_t>(element >> ((e >> E::kCodeShift) & 63));
}

// The main tables and their subtables. The sizes hold the subtables of any
// complete code of the DEFLATE alphabets; a subtable that would not fit is
// left out, its codes then go to the careful loop.
struct DeflateFastCode {
  static constexpr unsigned kLiteralBits = 11;
  static constexpr unsigned kDistanceBits = 9;
  std::array<std::uint32_t, 2342> literals;
  std::array<std::uint32_t, 592> distances;
};

// The entry for the code at bit 0 of `bits` under a subtable pointer `e`
// of a table whose index has `tableBits` bits.
inline std::uint32_t DeflateFast_Subentry(const std::uint32_t* table, std::uint32_t e,
                                          unsigned tableBits, std::uint64_t bits) noexcept {
  const auto index = static_cast<std::uint32_t>(bits >> tableBits) &
                     ((1u << (e & DeflateFastEntry::kBitsMask)) - 1);
  return table[(e >> 16) + index];
}

// Fills the fast tables from two usable codes (see DeflateHuffman_Build);
// distance symbols from distanceSymbols on are left to the careful loop.
void DeflateFast_Build(DeflateFastCode& fast, const DeflateHuffman& literals,
                       const DeflateHuffman& distances, unsigned distanceSymbols) noexcept;

// x86-64 builds carry a second copy of each fast loop for processors with
// BMI2, chosen at run time.
#if defined(__x86_64__) && (defined(__clang__) || defined(__GNUC__))
#define KELPO_DEFLATE_BMI2 1
bool DeflateFast_HaveBmi2() noexcept;
#else
#define KELPO_DEFLATE_BMI2 0
#endif

// Whether the decoders use their fast loops (on unless a test turns them
// off to compare the two paths; process-wide).
bool DeflateFast_Enabled() noexcept;
void DeflateFast_SetEnabled(bool enabled) noexcept;

// Copies `length` bytes (at least 1) from `distance` bytes back (at least 1)
// to dst, with the result of a byte-by-byte forward copy (an overlapping
// source repeats bytes), writing nothing past dst + length.
inline void DeflateFast_CopyMatch(std::uint8_t* dst, std::uint32_t distance,
                                  std::uint32_t length) noexcept {
  const std::uint8_t* src = dst - distance;
  if (distance >= 8) {
    // Every chunk reads bytes written before it: the source stays at least
    // eight bytes behind. The last chunk ends exactly at the match's end.
    if (length >= 8) {
      std::uint8_t* const last = dst + length - 8;
      for (; dst < last; dst += 8, src += 8)
        std::memcpy(dst, src, 8);
      std::memcpy(last, last - distance, 8);
    } else if (length >= 4) {
      std::uint32_t a, b;
      std::memcpy(&a, src, 4);
      std::memcpy(&b, src + length - 4, 4);
      std::memcpy(dst, &a, 4);
      std::memcpy(dst + length - 4, &b, 4);
    } else {
      for (std::uint32_t k = 0; k < length; ++k)
        dst[k] = src[k];
    }
  } else if (distance == 1 && length >= 8) {
    // One byte repeated, eight at a time; the last eight end at the match's
    // end. Inline, so the fast loops around it make no call.
    const std::uint64_t v = src[0] * std::uint64_t{0x0101010101010101};
    std::uint8_t* const last = dst + length - 8;
    for (; dst < last; dst += 8)
      std::memcpy(dst, &v, 8);
    std::memcpy(last, &v, 8);
  } else {
    for (std::uint32_t k = 0; k < length; ++k)
      dst[k] = src[k];
  }
}

// A match of at most 32 bytes from at least 16 bytes back, in two 16-byte
// moves without a branch on its length. The 32 bytes after the match are
// read first and written back after, so nothing past it changes; they must
// be inside the caller's buffer.
inline void DeflateFast_CopyShort(std::uint8_t* dst, std::uint32_t distance,
                                  std::uint32_t length) noexcept {
  std::uint8_t keep[32], chunk[16];
  std::memcpy(keep, dst + length, 32);
  const std::uint8_t* src = dst - distance;
  std::memcpy(chunk, src, 16);
  std::memcpy(dst, chunk, 16);
  std::memcpy(chunk, src + 16, 16);  // may repeat bytes just written (distance < 32)
  std::memcpy(dst + 16, chunk, 16);
  std::memcpy(dst + length, keep, 32);
}

// How far DeflateFast_CopyOverrun may write past a match's end.
constexpr std::uint32_t kDeflateCopyOverrun = 32;

// Copies a match with the result of DeflateFast_CopyMatch, in 16- or 8-byte
// moves that may write up to kDeflateCopyOverrun bytes past its end: those
// bytes must be inside the caller's buffer, and what they held is lost.
inline void DeflateFast_CopyOverrun(std::uint8_t* dst, std::uint32_t distance,
                                    std::uint32_t length) noexcept {
  const std::uint8_t* src = dst - distance;
  std::uint8_t* const end = dst + length;
  std::uint8_t chunk[16];
  if (distance >= 16) {
    // Each move reads only bytes written before it: the source stays at
    // least 16 bytes behind.
    std::memcpy(chunk, src, 16);
    std::memcpy(dst, chunk, 16);
    std::memcpy(chunk, src + 16, 16);
    std::memcpy(dst + 16, chunk, 16);
    for (dst += 32, src += 32; dst < end; dst += 16, src += 16) {
      std::memcpy(chunk, src, 16);
      std::memcpy(dst, chunk, 16);
    }
  } else if (distance >= 8) {
    do {
      std::memcpy(chunk, src, 8);
      std::memcpy(dst, chunk, 8);
      dst += 8;
      src += 8;
    } while (dst < end);
  } else if (distance == 1) {
    const std::uint64_t v = src[0] * std::uint64_t{0x0101010101010101};
    do {
      std::memcpy(dst, &v, 8);
      dst += 8;
    } while (dst < end);
  } else {
    // Eight-byte moves that advance by the distance: the first `distance`
    // bytes of each move are the period, read from bytes already right; the
    // rest is overwritten by the next move, or is overrun.
    do {
      std::memcpy(chunk, dst - distance, 8);
      std::memcpy(dst, chunk, 8);
      dst += distance;
    } while (dst < end);
  }
}

// The outcome of reading a sequence of code lengths.
enum class DeflateLengthsResult : std::uint8_t {
  kOk,
  kShortCode,  // the input ended inside a code-length code
  kShortBits,  // the input ended inside the extra bits of a repeat
  kBadCode,    // bits that start no code of the code-length code
  kBadRepeat,  // a repeat that the policy refuses
};

// Whether a sequence may start with "repeat the previous length" (taken as
// length 0) and whether a repeat may run past the end (the lengths beyond
// are dropped) instead of being refused.
struct DeflateLengthsPolicy {
  bool repeatWithoutPrevious;
  bool clampRunPastEnd;
};

// Reads `n` code lengths coded with the code-length code into lengths[0..n).
// Reader provides: std::uint64_t Peek() (pending bits, zeros past the end),
// std::uint32_t Available() (bits really held, refilled by Peek), void
// Skip(unsigned bits) (only bits that Available() counts).
template <class Reader>
DeflateLengthsResult DeflateCommon_ReadCodeLengths(Reader& in, const DeflateHuffman& clCode,
                                                   std::uint8_t* lengths, unsigned n,
                                                   DeflateLengthsPolicy policy) noexcept {
  unsigned i = 0;
  std::uint8_t previous = 0;
  bool havePrevious = false;
  while (i < n) {
    const std::uint64_t bits = in.Peek();
    const DeflateSymbol s = DeflateHuffman_Decode(clCode, bits);
    if (s.length == 0 || s.length > in.Available()) {
      // Zeros past the end may form no code or a code longer than the input.
      return s.length == 0 && in.Available() >= kDeflateMaxCodeLengthBits
                 ? DeflateLengthsResult::kBadCode
                 : DeflateLengthsResult::kShortCode;
    }
    if (s.symbol < 16) {
      in.Skip(s.length);
      lengths[i++] = static_cast<std::uint8_t>(s.symbol);
      previous = static_cast<std::uint8_t>(s.symbol);
      havePrevious = true;
      continue;
    }
    unsigned extra, base;
    std::uint8_t value = 0;
    if (s.symbol == 16) {
      if (!havePrevious && !policy.repeatWithoutPrevious) return DeflateLengthsResult::kBadRepeat;
      extra = 2, base = 3, value = previous;
    } else if (s.symbol == 17) {
      extra = 3, base = 3;
    } else {
      extra = 7, base = 11;
    }
    if (s.length + extra > in.Available()) return DeflateLengthsResult::kShortBits;
    const unsigned repeat = base + static_cast<unsigned>((bits >> s.length) & ((1u << extra) - 1));
    in.Skip(s.length + extra);
    if (repeat > n - i && !policy.clampRunPastEnd) return DeflateLengthsResult::kBadRepeat;
    const unsigned end = repeat > n - i ? n : i + repeat;
    while (i < end)
      lengths[i++] = value;
    previous = value;
    havePrevious = true;
  }
  return DeflateLengthsResult::kOk;
}
