#include "engine/formats/palm_lz77.h"

#include "engine/formats/palm_lz77_internal.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace {

// The fast loops take tokens three at a time from one 8-byte load of the
// input (a literal, a space pair or a back reference uses at most two of its
// bytes), so the next token's first byte comes from a shift instead of a
// load. They run only while 24 input bytes are left, and the decoder's only
// while three of its largest fixed-size writes (16 bytes) fit in the buffer.
constexpr std::uint32_t kFastInput = 24;
constexpr std::uint32_t kFastOutput = 48;
constexpr int kTokensPerLoad = 3;

inline std::uint64_t Load8(const std::uint8_t* from) noexcept {
  std::uint64_t v;
  std::memcpy(&v, from, 8);
  return v;
}
inline void Store8(std::uint8_t* to, std::uint64_t v) noexcept {
  std::memcpy(to, &v, 8);
}

// Byte k of an 8-byte load, whatever the host's byte order.
inline std::uint32_t ByteOf(std::uint64_t w, int k) noexcept {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<std::uint32_t>(w >> (8 * k)) & 0xFFu;
  } else {
    return static_cast<std::uint32_t>(w >> (56 - 8 * k)) & 0xFFu;
  }
}
// The load with its first n bytes dropped.
inline std::uint64_t Drop(std::uint64_t w, std::uint32_t n) noexcept {
  if constexpr (std::endian::native == std::endian::little) {
    return w >> (8 * n);
  } else {
    return w << (8 * n);
  }
}
inline std::uint32_t Distance(std::uint32_t c, std::uint32_t d) noexcept {
  return ((c & 0x3Fu) << 5) | (d >> 3u);
}

inline bool IsRun(std::uint32_t c) noexcept {
  return c - 1u < 8u;
}

// A back reference of n bytes at pos, its distance cut to the output so far;
// with nothing to copy from it writes spaces. Writes stop at capacity.
inline void CopyBack(std::uint8_t* out, std::uint64_t pos, std::uint32_t distance, std::uint32_t n,
                     std::uint32_t capacity) noexcept {
  if (distance > pos) distance = static_cast<std::uint32_t>(pos);
  for (std::uint64_t k = pos; k < pos + n && k < capacity; ++k)
    out[k] = distance == 0 ? std::uint8_t{' '} : out[k - distance];
}

// One of two addresses, chosen without a branch where the compiler takes
// the hint (the class of the next token is not predictable in compressed
// text). Addresses are computed as integers: the one not chosen may lie
// outside the buffer.
inline std::uintptr_t Choose(bool first, std::uintptr_t a, std::uintptr_t b) noexcept {
  std::uintptr_t chosen = first ? a : b;
#if defined(__has_builtin)
#if __has_builtin(__builtin_unpredictable)
  chosen = __builtin_unpredictable(first) ? a : b;
#endif
#endif
  return chosen;
}

// The source of a token's bytes: the output for a back reference, else the
// literal's bytes.
inline const std::uint8_t* Source(bool reference, std::uintptr_t back,
                                  std::uintptr_t literal) noexcept {
  return reinterpret_cast<const std::uint8_t*>(Choose(reference, back, literal));
}

inline void Copy16(std::uint8_t* to, const std::uint8_t* from) noexcept {
#if defined(__SSE2__)
  _mm_storeu_si128(reinterpret_cast<__m128i*>(to),
                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
#else
  std::memcpy(to, from, 16);
#endif
}

// The token at in, taken alone (the fast loop's exceptions): a literal run,
// a space pair, a literal byte, or a back reference (cut as CopyBack cuts).
// The caller has checked that the token and a 16-byte write fit.
inline void TakeOne(const std::uint8_t* in, std::uint32_t& used, std::uint8_t* out,
                    std::uint32_t capacity, std::uint32_t& pos) noexcept {
  const std::uint32_t c = in[used];
  if (IsRun(c)) {
    Store8(out + pos, Load8(in + used + 1));
    pos += c;
    used += 1u + c;
  } else if (c < 0x80u) {
    out[pos++] = static_cast<std::uint8_t>(c);
    ++used;
  } else if (c >= 0xC0u) {
    out[pos] = ' ';
    out[pos + 1] = static_cast<std::uint8_t>(c & 0x7Fu);
    pos += 2;
    ++used;
  } else {
    const std::uint32_t d = in[used + 1];
    const std::uint32_t n = (d & 7u) + 3;
    CopyBack(out, pos, Distance(c, d), n, capacity);
    pos += n;
    used += 2;
  }
}

// The decoder's fast loop. The common tokens, a single literal byte and a
// back reference reaching 16 or more bytes back into the output, both copy
// 16 bytes whatever their length: a literal from the input (its token is its
// byte), a reference from the output. Only the choice of source and the
// advance depend on the class, so they take no branch. Literal runs, space
// pairs, the byte 0 and short or cut distances take the branch to TakeOne.
// Bytes written past a token's length are overwritten by the tokens after it
// or lie past the output's end.
void DecodeFast(const std::uint8_t* in, std::uint32_t size, std::uint32_t& i, std::uint8_t* out,
                std::uint32_t capacity, std::uint32_t& pos) noexcept {
  // The first 16 output bytes token by token: past them one comparison
  // tells both a short distance and one past the output's start.
  while (pos < 16 && i + kFastInput <= size && pos + kFastOutput <= capacity) {
    TakeOne(in, i, out, capacity, pos);
  }
  while (i + kFastInput <= size && pos + kFastOutput <= capacity) {
    std::uint64_t w = Load8(in + i);
    std::uint32_t used = 0;
    for (int t = 0; t < kTokensPerLoad; ++t) {
      const std::uint32_t c = ByteOf(w, 0);
      const std::uint32_t d = ByteOf(w, 1);
      // 0xC0-0xFF, 0x00 and 0x01-0x08 are one range modulo 256.
      const bool odd = static_cast<std::uint8_t>(c + 0x40u) < 0x49u;
      const bool reference = static_cast<std::uint8_t>(c + 0x80u) < 0x40u;
      const std::uint32_t distance = Distance(c, d);
      // distance < 16 wraps to a large value; pos >= 16 here.
      const bool shortOrCut = distance - 16u > pos - 16u;
      if (odd | (reference & shortOrCut)) [[unlikely]] {
        // The next load starts after this token.
        TakeOne(in + i, used, out, capacity, pos);
        break;
      }
      const std::uint8_t* from =
          Source(reference, reinterpret_cast<std::uintptr_t>(out) + pos - distance,
                 reinterpret_cast<std::uintptr_t>(in + i + used));
      Copy16(out + pos, from);
      const std::uint32_t r = reference;
      pos += 1u + r * ((d & 7u) + 2u);
      used += 1u + r;
      w = Drop(Drop(w, 1), r);
    }
    i += used;
  }
}

// The measuring pass's scalar fast loop: no bytes are written.
void MeasureTokens(const std::uint8_t* in, std::uint32_t size, std::uint32_t& i,
                   std::uint64_t& produced) noexcept {
  std::uint64_t n = produced;
  while (i + kFastInput <= size) {
    std::uint64_t w = Load8(in + i);
    std::uint32_t used = 0;
    for (int t = 0; t < kTokensPerLoad; ++t) {
      const std::uint32_t c = ByteOf(w, 0);
      if (IsRun(c)) [[unlikely]] {
        if (t == 0) {
          n += c;
          i += 1u + c;
        }
        break;
      }
      const std::uint32_t reference = (c >> 6) == 2u;
      const std::uint32_t single = 1u + (c >> 7);
      n += single + reference * ((ByteOf(w, 1) & 7u) + 3u - single);
      used += 1u + reference;
      w = Drop(Drop(w, 1), reference);
    }
    i += used;
  }
  produced = n;
}

#if defined(__SSE2__) && defined(__x86_64__)

constexpr std::uint64_t kEvenBits = 0x5555555555555555u;
constexpr std::uint64_t kOddBits = ~kEvenBits;
constexpr std::uint32_t kBlock = 64;

// One bit per byte of a 64-byte block, bit k for byte k.
struct BlockMasks {
  std::uint64_t reference;  // 0x80-0xBF
  std::uint64_t pair;       // 0xC0-0xFF
  std::uint64_t run;        // 0x01-0x08
  std::uint64_t bit[3];     // bits 0, 1 and 2 of the byte
};

inline std::uint64_t Mask16(__m128i v) noexcept {
  return static_cast<std::uint32_t>(_mm_movemask_epi8(v));
}

BlockMasks Classify(const std::uint8_t* p) noexcept {
  BlockMasks m{};
  for (int k = 0; k < 4; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const int shift = 16 * k;
    // As signed bytes: 0x80-0xBF are -128 to -65, 0x01-0x08 are 1 to 8.
    const std::uint64_t reference = Mask16(_mm_cmplt_epi8(v, _mm_set1_epi8(-64)));
    m.reference |= reference << shift;
    m.pair |= (Mask16(v) & ~reference) << shift;
    m.run |= Mask16(_mm_and_si128(_mm_cmpgt_epi8(v, _mm_setzero_si128()),
                                  _mm_cmplt_epi8(v, _mm_set1_epi8(9))))
             << shift;
    // A 16-bit shift left by 7 - b brings bit b of each byte to its bit 7.
    m.bit[0] |= Mask16(_mm_slli_epi16(v, 7)) << shift;
    m.bit[1] |= Mask16(_mm_slli_epi16(v, 6)) << shift;
    m.bit[2] |= Mask16(_mm_slli_epi16(v, 5)) << shift;
  }
  return m;
}

// Every other bit of each run of set bits, from the run's first: the first
// bytes of back references among the bytes 0x80-0xBF of a block that starts
// at a token (bit k for byte k), or the first of each two literal tokens in
// a row.
inline std::uint64_t FirstBytes(std::uint64_t r) noexcept {
  const std::uint64_t runStarts = r & ~(r << 1);
  const std::uint64_t fromEven = r & ~(r + (runStarts & kEvenBits));
  const std::uint64_t seconds = (fromEven & kOddBits) | (r & ~fromEven & kEvenBits);
  return r & ~seconds;
}

// Measures 64 bytes at a time. A block starts at a token; its tokens are
// found without walking them: inside a run of bytes 0x80-0xBF the first is a
// back reference and the next its second byte, alternately, and the byte
// after a back reference's first byte is always its second. A block whose
// tokens include a literal run (0x01-0x08) is walked token by token instead.
template <BlockMasks (*kClassify)(const std::uint8_t*) noexcept>
[[gnu::always_inline]] inline void MeasureBlocks(const std::uint8_t* in, std::uint32_t size,
                                                 std::uint32_t& i,
                                                 std::uint64_t& produced) noexcept {
  // The block, the second byte of a reference at its end, and a literal run
  // starting at its end must lie inside the record.
  while (i + kBlock + kFastInput <= size) {
    const BlockMasks m = kClassify(in + i);
    const std::uint64_t references = FirstBytes(m.reference);
    const std::uint64_t follow = references << 1;  // second bytes inside the block
    const std::uint64_t tokens = ~follow;
    if ((tokens & m.run) != 0) [[unlikely]] {
      // Token by token past the block (a token read here ends at most
      // kFastInput bytes past it).
      for (const std::uint32_t end = i + kBlock; i < end;) {
        const std::uint32_t c = in[i];
        if (IsRun(c)) {
          produced += c;
          i += 1u + c;
        } else {
          const bool reference = (c >> 6) == 2u;
          produced += reference ? (in[i + 1] & 7u) + 3u : 1u + (c >> 7);
          i += 1u + reference;
        }
      }
      continue;
    }
    produced += static_cast<std::uint64_t>(std::popcount(tokens)) +
                2u * static_cast<std::uint64_t>(std::popcount(references)) +
                static_cast<std::uint64_t>(std::popcount(tokens & m.pair)) +
                static_cast<std::uint64_t>(std::popcount(follow & m.bit[0])) +
                2u * static_cast<std::uint64_t>(std::popcount(follow & m.bit[1])) +
                4u * static_cast<std::uint64_t>(std::popcount(follow & m.bit[2]));
    i += kBlock;
    // A back reference in the block's last byte takes the next byte along.
    if ((references >> 63) != 0) {
      produced += in[i] & 7u;
      ++i;
    }
  }
}

// The same with the processor's population count, where it has one.
#define Mask32(x)                                       \
  std::uint64_t {                                       \
    static_cast<std::uint32_t>(_mm256_movemask_epi8(x)) \
  }

// The same masks from two 32-byte AVX2 loads.
[[gnu::target("avx2")]] BlockMasks ClassifyAvx2(const std::uint8_t* p) noexcept {
  BlockMasks m{};
  for (int k = 0; k < 2; ++k) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * k));
    const int shift = 32 * k;
    const std::uint64_t reference = Mask32(_mm256_cmpgt_epi8(_mm256_set1_epi8(-64), v));
    m.reference |= reference << shift;
    m.pair |= (Mask32(v) & ~reference) << shift;
    m.run |= Mask32(_mm256_and_si256(_mm256_cmpgt_epi8(v, _mm256_setzero_si256()),
                                     _mm256_cmpgt_epi8(_mm256_set1_epi8(9), v)))
             << shift;
    m.bit[0] |= Mask32(_mm256_slli_epi16(v, 7)) << shift;
    m.bit[1] |= Mask32(_mm256_slli_epi16(v, 6)) << shift;
    m.bit[2] |= Mask32(_mm256_slli_epi16(v, 5)) << shift;
  }
  return m;
}

[[gnu::target("avx2,popcnt")]] void MeasureBlocksAvx2(const std::uint8_t* in, std::uint32_t size,
                                                      std::uint32_t& i,
                                                      std::uint64_t& produced) noexcept {
  MeasureBlocks<ClassifyAvx2>(in, size, i, produced);
}

// The same with the processor's population count, where it has one.
[[gnu::target("popcnt")]] void MeasureBlocksPopcnt(const std::uint8_t* in, std::uint32_t size,
                                                   std::uint32_t& i,
                                                   std::uint64_t& produced) noexcept {
  MeasureBlocks<Classify>(in, size, i, produced);
}

void MeasureBlocksPlain(const std::uint8_t* in, std::uint32_t size, std::uint32_t& i,
                        std::uint64_t& produced) noexcept {
  MeasureBlocks<Classify>(in, size, i, produced);
}

void MeasureBlocksSse2(const std::uint8_t* in, std::uint32_t size, std::uint32_t& i,
                       std::uint64_t& produced) noexcept {
  static const bool popcnt = __builtin_cpu_supports("popcnt");
  if (popcnt) {
    MeasureBlocksPopcnt(in, size, i, produced);
  } else {
    MeasureBlocksPlain(in, size, i, produced);
  }
}

// The input a block needs: the block, the second byte of a reference at its
// end, and a literal run starting at its last byte (TakeOne reads 8 bytes
// after a run's first).
constexpr std::uint32_t kBlockInput = kBlock + 8;
// The most a block (and a reference's second byte after it) decodes to, and
// the 16-byte write past it.
constexpr std::uint32_t kBlockOutput = 5 * (kBlock + 1) + 16;

// What each byte of a 64-byte block would be as a token's first byte, worked
// out for all 64 bytes at once: the decoded length, the distance, and the
// two bytes it writes when it is no back reference (a literal byte and the
// byte after it, which is written with it when it is a literal byte too, or
// a space and the byte & 0x7F).
struct BlockTokens {
  alignas(32) std::uint8_t length[kBlock];
  alignas(32) std::uint16_t distance[kBlock];
  alignas(32) std::uint8_t bytes[2 * kBlock + 16];  // 16 readable from every pair
  std::uint64_t tokens;                             // bit k: a token starts at byte k
  std::uint64_t references;
  // Literal runs, and back references reaching back less far than their
  // length (they copy bytes they write themselves).
  std::uint64_t odd;
};

// The token masks of a block from the bytes' classes (bit k for byte k):
// 0x80-0xBF, literal bytes, 0x01-0x08, and back references reaching back
// less far than their length. Of a stretch of literal tokens every other
// one starts a token that writes two.
[[gnu::always_inline]] inline void SetTokens(BlockTokens& b, std::uint64_t reference,
                                             std::uint64_t literal, std::uint64_t run,
                                             std::uint64_t near) noexcept {
  b.references = FirstBytes(reference);
  const std::uint64_t single = ~(b.references << 1);
  const std::uint64_t literals = single & literal;
  b.tokens = (single & ~literals) | FirstBytes(literals);
  b.odd = b.tokens & (run | (near & b.references));
}

[[gnu::always_inline]] inline void Expand(const std::uint8_t* p, BlockTokens& b) noexcept {
  const __m128i zero = _mm_setzero_si128();
  const __m128i low7 = _mm_set1_epi8(7);
  std::uint64_t reference = 0, run = 0, near = 0, literal = 0;
  for (int j = 0; j < 4; ++j) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * j));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * j + 1));
    // As signed bytes: 0x80-0xBF are -128 to -65, 0xC0-0xFF -64 to -1.
    const __m128i ref = _mm_cmplt_epi8(v, _mm_set1_epi8(-64));
    const __m128i pair = _mm_andnot_si128(ref, _mm_cmplt_epi8(v, zero));
    // Literal bytes (0x00, 0x09-0x7F), and a literal byte after this one but
    // inside the block: the two are written as one token.
    const __m128i plain =
        _mm_or_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(8)), _mm_cmpeq_epi8(v, zero));
    __m128i twice = _mm_and_si128(
        plain, _mm_or_si128(_mm_cmpgt_epi8(next, _mm_set1_epi8(8)), _mm_cmpeq_epi8(next, zero)));
    if (j == 3)
      twice = _mm_and_si128(
          twice, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0));
    const __m128i length = _mm_or_si128(
        _mm_and_si128(ref, _mm_add_epi8(_mm_and_si128(next, low7), _mm_set1_epi8(3))),
        _mm_andnot_si128(ref, _mm_sub_epi8(_mm_set1_epi8(1), _mm_or_si128(pair, twice))));
    _mm_store_si128(reinterpret_cast<__m128i*>(b.length + 16 * j), length);
    // distance = (c & 0x3F) << 5 | d >> 3, in 16-bit lanes.
    const __m128i c6 = _mm_and_si128(v, _mm_set1_epi8(0x3F));
    const __m128i lo = _mm_or_si128(_mm_slli_epi16(_mm_unpacklo_epi8(c6, zero), 5),
                                    _mm_srli_epi16(_mm_unpacklo_epi8(next, zero), 3));
    const __m128i hi = _mm_or_si128(_mm_slli_epi16(_mm_unpackhi_epi8(c6, zero), 5),
                                    _mm_srli_epi16(_mm_unpackhi_epi8(next, zero), 3));
    _mm_store_si128(reinterpret_cast<__m128i*>(b.distance + 16 * j), lo);
    _mm_store_si128(reinterpret_cast<__m128i*>(b.distance + 16 * j + 8), hi);
    // The bytes written: c and the next byte, or a space and c & 0x7F.
    const __m128i first =
        _mm_or_si128(_mm_and_si128(pair, _mm_set1_epi8(' ')), _mm_andnot_si128(pair, v));
    const __m128i second = _mm_or_si128(_mm_and_si128(pair, _mm_and_si128(v, _mm_set1_epi8(0x7F))),
                                        _mm_andnot_si128(pair, next));
    _mm_store_si128(reinterpret_cast<__m128i*>(b.bytes + 32 * j), _mm_unpacklo_epi8(first, second));
    _mm_store_si128(reinterpret_cast<__m128i*>(b.bytes + 32 * j + 16),
                    _mm_unpackhi_epi8(first, second));
    // A distance below the length: c & 0x3F is 0 and d >> 3 below (d & 7) + 3.
    const __m128i shortDistance =
        _mm_and_si128(_mm_cmpeq_epi8(c6, zero),
                      _mm_cmpgt_epi8(_mm_add_epi8(_mm_and_si128(next, low7), _mm_set1_epi8(3)),
                                     _mm_and_si128(_mm_srli_epi16(next, 3), _mm_set1_epi8(0x1F))));
    const int shift = 16 * j;
    reference |= Mask16(ref) << shift;
    near |= Mask16(_mm_and_si128(ref, shortDistance)) << shift;
    run |= Mask16(_mm_and_si128(_mm_cmpgt_epi8(v, zero), _mm_cmplt_epi8(v, _mm_set1_epi8(9))))
           << shift;
    literal |= Mask16(plain) << shift;
  }
  SetTokens(b, reference, literal, run, near);
}

// The same tables from 32-byte AVX2 operations.
[[gnu::target("avx2")]] void ExpandAvx2(const std::uint8_t* p, BlockTokens& b) noexcept {
  const __m256i zero = _mm256_setzero_si256();
  std::uint64_t reference = 0, run = 0, near = 0, literal = 0;
  for (int h = 0; h < 2; ++h) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * h));
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * h + 1));
    const __m256i ref = _mm256_cmpgt_epi8(_mm256_set1_epi8(-64), v);
    const __m256i pair = _mm256_andnot_si256(ref, _mm256_cmpgt_epi8(zero, v));
    const __m256i eight = _mm256_set1_epi8(8);
    const __m256i plain = _mm256_or_si256(_mm256_cmpgt_epi8(v, eight), _mm256_cmpeq_epi8(v, zero));
    __m256i twice = _mm256_and_si256(
        plain, _mm256_or_si256(_mm256_cmpgt_epi8(next, eight), _mm256_cmpeq_epi8(next, zero)));
    if (h == 1) twice = _mm256_and_si256(twice, _mm256_insert_epi8(_mm256_set1_epi8(-1), 0, 31));
    const __m256i length = _mm256_blendv_epi8(
        _mm256_sub_epi8(_mm256_set1_epi8(1), _mm256_or_si256(pair, twice)),
        _mm256_add_epi8(_mm256_and_si256(next, _mm256_set1_epi8(7)), _mm256_set1_epi8(3)), ref);
    _mm256_store_si256(reinterpret_cast<__m256i*>(b.length + 32 * h), length);
    // The distances from the bytes widened to 16 bits, in order.
    for (int q = 0; q < 2; ++q) {
      const std::uint8_t* at = p + 32 * h + 16 * q;
      const __m256i c = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)));
      const __m256i d =
          _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 1)));
      const __m256i distance =
          _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(c, _mm256_set1_epi16(0x3F)), 5),
                          _mm256_srli_epi16(d, 3));
      _mm256_store_si256(reinterpret_cast<__m256i*>(b.distance + 32 * h + 16 * q), distance);
    }
    const __m256i first = _mm256_blendv_epi8(v, _mm256_set1_epi8(' '), pair);
    const __m256i second =
        _mm256_blendv_epi8(next, _mm256_and_si256(v, _mm256_set1_epi8(0x7F)), pair);
    // The unpacks work within 16-byte lanes: lo holds bytes 0-7 and 16-23.
    const __m256i lo = _mm256_unpacklo_epi8(first, second);
    const __m256i hi = _mm256_unpackhi_epi8(first, second);
    _mm256_store_si256(reinterpret_cast<__m256i*>(b.bytes + 64 * h),
                       _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_store_si256(reinterpret_cast<__m256i*>(b.bytes + 64 * h + 32),
                       _mm256_permute2x128_si256(lo, hi, 0x31));
    const __m256i shortDistance = _mm256_and_si256(
        _mm256_cmpeq_epi8(_mm256_and_si256(v, _mm256_set1_epi8(0x3F)), zero),
        _mm256_cmpgt_epi8(
            _mm256_add_epi8(_mm256_and_si256(next, _mm256_set1_epi8(7)), _mm256_set1_epi8(3)),
            _mm256_and_si256(_mm256_srli_epi16(next, 3), _mm256_set1_epi8(0x1F))));
    const int shift = 32 * h;
    reference |= Mask32(ref) << shift;
    near |= Mask32(_mm256_and_si256(ref, shortDistance)) << shift;
    run |= Mask32(_mm256_and_si256(_mm256_cmpgt_epi8(v, zero),
                                   _mm256_cmpgt_epi8(_mm256_set1_epi8(9), v)))
           << shift;
    literal |= Mask32(plain) << shift;
  }
  SetTokens(b, reference, literal, run, near);
}

// The tokens of a block that start at most `room` bytes into its output
// (bit k for the token at byte k), found up to its first literal run and
// the run itself: the tokens after the run are decoded after the block is
// read again.
[[gnu::always_inline]] inline std::uint64_t TokensWithin(const BlockTokens& b, std::uint64_t room,
                                                         std::uint64_t runs) noexcept {
  std::uint64_t t = b.tokens & (((runs & (0 - runs)) << 1) - 1);
  for (std::uint64_t at = 0; t != 0 && at <= room; t &= t - 1)
    at += b.length[std::countr_zero(t)];
  return (t & (0 - t)) - 1;  // those before the first left over
}

// The tokens of one block in `allowed`, from output position pos, up to
// the first token that is a literal run or not allowed. Answers the byte of
// the block it stopped at, or when it took every token the whole block (and
// a reference's second byte after it). Between two odd tokens every token
// costs a look-up, a choice of source without a branch (the block's written
// bytes or the output) and one 16-byte copy; only the output position
// carries from token to token. A back reference's first bytes are right
// when it reaches back at least its length. With kCut a distance past the
// output's start is cut to it by moving the source to the output's start:
// the cut distance is the output so far, 16 or more (the caller makes the
// back references of the first 16 bytes odd), so at least the length.
template <bool kCut>
[[gnu::always_inline]] inline std::uint32_t DecodeTokens(const BlockTokens& b,
                                                         std::uint64_t allowed, std::uint8_t* out,
                                                         std::uint32_t capacity,
                                                         std::uint32_t& pos) noexcept {
  std::uint8_t* at = out + pos;
  const auto start = reinterpret_cast<std::uintptr_t>(out);
  // Held apart from b: the output's writes could alias it.
  const std::uint64_t references = b.references;
  std::uint64_t todo = b.tokens;
  for (std::uint64_t odd = b.odd | (todo & ~allowed);; odd &= odd - 1) {
    const std::uint64_t stop = odd & (0 - odd);  // the next odd token, 0 for none
    for (std::uint64_t t = todo & (stop - 1); t != 0; t &= t - 1) {
      const auto k = static_cast<std::uint32_t>(std::countr_zero(t));
      const bool reference = ((references >> k) & 1u) != 0;
      std::uintptr_t back = reinterpret_cast<std::uintptr_t>(at) - b.distance[k];
      if constexpr (kCut) back = Choose(back < start, start, back);
      const std::uint8_t* from =
          Source(reference, back, reinterpret_cast<std::uintptr_t>(b.bytes + 2 * k));
      Copy16(at, from);
      at += b.length[k];
    }
    if (stop == 0) break;
    const auto k = static_cast<std::uint32_t>(std::countr_zero(stop));
    if ((references & allowed & stop) == 0) {  // a literal run, or a token not allowed
      pos = static_cast<std::uint32_t>(at - out);
      return k;
    }
    CopyBack(out, static_cast<std::uint32_t>(at - out), b.distance[k], b.length[k], capacity);
    at += b.length[k];
    todo &= ~((stop << 1) - 1);  // the tokens after it
  }
  pos = static_cast<std::uint32_t>(at - out);
  return kBlock + static_cast<std::uint32_t>(references >> 63);
}

// Decodes 64 input bytes at a time. The token starts of a block come from
// the masks as in MeasureBlocks, and each byte's length, distance and
// written bytes from vector operations. Literal runs and back references
// reaching back less far than their length take the branch; a block is
// read again after a run. Near the capacity only the tokens whose 16-byte
// write fits are taken. The record's last block is read from a padded copy,
// and only the tokens inside the record are taken; the careful loop takes
// what is left.
template <void (*kExpand)(const std::uint8_t*, BlockTokens&) noexcept>
[[gnu::always_inline]] inline void DecodeBlocks(const std::uint8_t* in, std::uint32_t size,
                                                std::uint32_t& i, std::uint8_t* out,
                                                std::uint32_t capacity,
                                                std::uint32_t& pos) noexcept {
  BlockTokens b;
  // The record's last bytes, then bytes 0xC0 (space pairs, which no literal
  // byte is written with): Expand reads 65 bytes from a block's start.
  alignas(32) std::uint8_t last[kBlockInput + kBlock + 8];
  for (bool padded = false; !padded;) {
    const std::uint32_t rest = size - i;
    std::uint64_t allowed = ~std::uint64_t{0};
    if (rest >= kBlockInput) {
      kExpand(in + i, b);
    } else {
      if (rest < 2) break;
      padded = true;
      std::memset(last, 0xC0, sizeof last);
      if (size >= kBlockInput) {
        std::memcpy(last, in + size - kBlockInput, kBlockInput);
        kExpand(last + kBlockInput - rest, b);
      } else {
        std::memcpy(last, in, size);  // the whole record
        kExpand(last, b);
      }
      // The tokens inside the record: a back reference needs its second
      // byte. A literal run is left to the careful loop, which cuts it to
      // the record.
      if (rest <= kBlock) {
        allowed = (~std::uint64_t{0} >> (kBlock - rest)) &
                  ~(b.references & (std::uint64_t{1} << (rest - 1)));
      }
      allowed &= ~(b.odd & ~b.references);
    }
    // A back reference in the first 16 bytes of output goes byte by byte:
    // its cut distance may be below 16. The bytes before a token decode to
    // at least as many bytes, so past byte 16 - pos of the block none is.
    if (pos < 16) b.odd |= b.references & ((std::uint64_t{1} << (16 - pos)) - 1);
    if (capacity - pos < kBlockOutput) [[unlikely]] {
      if (capacity - pos < 16) break;
      allowed &= TokensWithin(b, capacity - pos - 16, b.odd & ~b.references);
    }
    const std::uint32_t used = pos < kPalmLzMaxDistance
                                   ? DecodeTokens<true>(b, allowed, out, capacity, pos)
                                   : DecodeTokens<false>(b, allowed, out, capacity, pos);
    i += used;
    if (used < kBlock) {
      if (((allowed >> used) & 1u) == 0) break;
      TakeOne(in, i, out, capacity, pos);  // the literal run
    }
  }
}

[[gnu::noinline]] void DecodeBlocksSse2(const std::uint8_t* in, std::uint32_t size,
                                        std::uint32_t& i, std::uint8_t* out, std::uint32_t capacity,
                                        std::uint32_t& pos) noexcept {
  DecodeBlocks<Expand>(in, size, i, out, capacity, pos);
}

// With BMI the token loop finds each token with one tzcnt.
[[gnu::target("avx2,bmi"), gnu::noinline]] void DecodeBlocksAvx2(
    const std::uint8_t* in, std::uint32_t size, std::uint32_t& i, std::uint8_t* out,
    std::uint32_t capacity, std::uint32_t& pos) noexcept {
  DecodeBlocks<ExpandAvx2>(in, size, i, out, capacity, pos);
}

#endif

// The fast loops of the path, for as much of the record as they take.
void MeasureFast(PalmLzPath path, const std::uint8_t* in, std::uint32_t size, std::uint32_t& i,
                 std::uint64_t& produced) noexcept {
  if (path == PalmLzPath::kPortable) return;
#if defined(__SSE2__) && defined(__x86_64__)
  if (path == PalmLzPath::kAvx2) {
    MeasureBlocksAvx2(in, size, i, produced);
  } else if (path == PalmLzPath::kSse2) {
    MeasureBlocksSse2(in, size, i, produced);
  }
#endif
  MeasureTokens(in, size, i, produced);
}

void DecodeFastPath(PalmLzPath path, const std::uint8_t* in, std::uint32_t size, std::uint32_t& i,
                    std::uint8_t* out, std::uint32_t capacity, std::uint32_t& pos) noexcept {
  if (path == PalmLzPath::kPortable) return;
#if defined(__SSE2__) && defined(__x86_64__)
  if (path == PalmLzPath::kAvx2) {
    DecodeBlocksAvx2(in, size, i, out, capacity, pos);
  } else if (path == PalmLzPath::kSse2) {
    DecodeBlocksSse2(in, size, i, out, capacity, pos);
  }
#endif
  DecodeFast(in, size, i, out, capacity, pos);
}

// The careful general loop of both passes, for what the fast loops leave.
// `produced` counts every decoded byte; bytes are written only below the
// capacity.
template <bool kWrite>
StatusCode Run(PalmLzPath path, const std::uint8_t* in, std::uint32_t size, std::uint8_t* out,
               std::uint32_t capacity, std::uint32_t* length) noexcept {
  if (length == nullptr) return kNullOutPointer;
  if (in == nullptr && size != 0) return kBadArgument;
  if (kWrite && out == nullptr && capacity != 0) return kBadArgument;
  std::uint32_t i = 0;
  // Every input byte yields at most five output bytes, so the count fits in
  // 64 bits for any 32-bit record size.
  std::uint64_t produced = 0;
  if constexpr (kWrite) {
    std::uint32_t pos = 0;
    DecodeFastPath(path, in, size, i, out, capacity, pos);
    produced = pos;
  } else {
    MeasureFast(path, in, size, i, produced);
  }
  auto put = [&](std::uint8_t b) {
    if constexpr (kWrite) {
      if (produced < capacity) out[produced] = b;
    }
    ++produced;
  };
  while (i < size) {
    const std::uint8_t c = in[i++];
    if (c >= 1 && c <= 8) {
      const std::uint32_t n = std::min<std::uint32_t>(c, size - i);
      if constexpr (kWrite) {
        if (produced < capacity) {
          const auto room = static_cast<std::uint32_t>(capacity - produced);
          std::memcpy(out + produced, in + i, std::min(n, room));
        }
      }
      produced += n;
      i += n;
    } else if (c < 0x80) {
      put(c);
    } else if (c < 0xC0) {
      if (i == size) break;  // the second byte is missing: the record ends here
      const std::uint8_t d = in[i++];
      const std::uint32_t n = (d & 7u) + 3;
      if constexpr (kWrite) CopyBack(out, produced, Distance(c, d), n, capacity);
      produced += n;
    } else {
      put(' ');
      put(static_cast<std::uint8_t>(c & 0x7F));
    }
  }
  if (produced > 0xFFFFFFFFu) return kMalformed;
  *length = static_cast<std::uint32_t>(produced);
  return kOk;
}

// The best path of this build and processor.
PalmLzPath BestPath() noexcept {
#if defined(__SSE2__) && defined(__x86_64__)
  static const PalmLzPath best = __builtin_cpu_supports("avx2") &&
                                         __builtin_cpu_supports("popcnt") &&
                                         __builtin_cpu_supports("bmi")
                                     ? PalmLzPath::kAvx2
                                     : PalmLzPath::kSse2;
  return best;
#else
  return PalmLzPath::kWords;
#endif
}

}  // namespace

bool PalmDocLz_HavePath(PalmLzPath path) noexcept {
  return path <= BestPath();
}

StatusCode PalmDocLz_MeasureWith(PalmLzPath path, const std::uint8_t* data, std::uint32_t size,
                                 std::uint32_t* length) noexcept {
  return Run<false>(std::min(path, BestPath()), data, size, nullptr, 0, length);
}

StatusCode PalmDocLz_DecodeWith(PalmLzPath path, const std::uint8_t* data, std::uint32_t size,
                                std::uint8_t* buffer, std::uint32_t capacity,
                                std::uint32_t* length) noexcept {
  return Run<true>(std::min(path, BestPath()), data, size, buffer, capacity, length);
}

StatusCode PalmDocLz_MeasureRecord(const std::uint8_t* data, std::uint32_t size,
                                   std::uint32_t* length) noexcept {
  return Run<false>(BestPath(), data, size, nullptr, 0, length);
}

StatusCode PalmDocLz_Decode(const std::uint8_t* data, std::uint32_t size, std::uint8_t* buffer,
                            std::uint32_t capacity, std::uint32_t* length) noexcept {
  return Run<true>(BestPath(), data, size, buffer, capacity, length);
}
