// The fast decoding tables (main table and subtables) against canonical
// decoding, on every bit pattern a code can start with; the match copies of
// the fast loops against a byte-by-byte copy.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <queue>
#include <random>
#include <vector>

#include "engine/codecs/deflate_common.h"

namespace {

namespace E = DeflateFastEntry;

// Huffman code lengths for random weights over n symbols, at most 15 bits
// (weights are flattened until the lengths fit).
std::vector<std::uint8_t> RandomLengths(unsigned n, std::mt19937& rng, unsigned skew) {
  std::vector<std::uint64_t> weight(n);
  for (auto& w : weight)
    w = 1 + (rng() % 1000) * (rng() % skew == 0 ? 10000 : 1);
  for (;;) {
    using Node = std::pair<std::uint64_t, int>;
    std::priority_queue<Node, std::vector<Node>, std::greater<>> q;
    std::vector<int> parent(2 * n, -1);
    for (unsigned s = 0; s < n; ++s)
      q.push({weight[s], static_cast<int>(s)});
    int next = static_cast<int>(n);
    while (q.size() > 1) {
      const Node a = q.top();
      q.pop();
      const Node b = q.top();
      q.pop();
      parent[static_cast<std::size_t>(a.second)] = parent[static_cast<std::size_t>(b.second)] =
          next;
      q.push({a.first + b.first, next++});
    }
    std::vector<std::uint8_t> lengths(n);
    bool fits = true;
    for (unsigned s = 0; s < n; ++s) {
      unsigned depth = 0;
      for (int k = static_cast<int>(s); parent[static_cast<std::size_t>(k)] >= 0;
           k = parent[static_cast<std::size_t>(k)]) {
        ++depth;
      }
      lengths[s] = static_cast<std::uint8_t>(depth);
      fits = fits && depth <= kDeflateMaxCodeBits;
    }
    if (fits) return lengths;
    for (auto& w : weight)
      w = w / 2 + 1;
  }
}

// What an entry says: the symbol (from its value and extra bits) and the
// code length, or nothing when the entry leaves the code to the careful loop.
struct Decoded {
  unsigned symbol;
  unsigned length;  // 0: not handled
};

Decoded Meaning(std::uint32_t e, bool literals) {
  if ((e & E::kBitsMask) == 0) return {0, 0};
  const unsigned length = (e >> E::kCodeShift) & 63;
  const unsigned extra = (e & E::kBitsMask) - length;
  const unsigned value = e >> 16;
  if (!literals) {
    for (unsigned s = 0; s < 30; ++s) {
      if (kDeflateDistanceBase[s] == value && kDeflateDistanceExtra[s] == extra) return {s, length};
    }
    return {~0u, length};
  }
  if ((e & E::kLiteral) != 0) return {value, length};
  if ((e & E::kEndOfBlock) != 0) return {kDeflateEndOfBlock, length};
  for (unsigned s = 0; s < 29; ++s) {
    if (kDeflateLengthBase[s] == value && kDeflateLengthExtra[s] == extra) return {257 + s, length};
  }
  return {~0u, length};
}

Decoded Look(const std::uint32_t* table, unsigned tableBits, std::uint64_t bits, bool literals) {
  std::uint32_t e = table[bits & ((1u << tableBits) - 1)];
  if ((e & E::kSubtable) != 0) e = DeflateFast_Subentry(table, e, tableBits, bits);
  return Meaning(e, literals);
}

// Every 15-bit pattern: the fast tables give what canonical decoding gives
// for the symbols they handle, and leave only unusable symbols (and, in an
// incomplete code, patterns that start no code) to the careful loop.
void ExpectTablesAgree(const std::vector<std::uint8_t>& literalLengths,
                       const std::vector<std::uint8_t>& distanceLengths) {
  DeflateHuffman literals, distances;
  ASSERT_NE(DeflateHuffman_Build(literals, literalLengths.data(),
                                 static_cast<unsigned>(literalLengths.size())),
            DeflateCodeShape::kOversubscribed);
  ASSERT_NE(DeflateHuffman_Build(distances, distanceLengths.data(),
                                 static_cast<unsigned>(distanceLengths.size())),
            DeflateCodeShape::kOversubscribed);
  DeflateFastCode fast;
  DeflateFast_Build(fast, literals, distances, 30);
  for (const bool isLiteral : {true, false}) {
    const DeflateHuffman& code = isLiteral ? literals : distances;
    const std::uint32_t* table = isLiteral ? fast.literals.data() : fast.distances.data();
    const unsigned tableBits =
        isLiteral ? DeflateFastCode::kLiteralBits : DeflateFastCode::kDistanceBits;
    const unsigned usable = isLiteral ? 286 : 30;
    for (std::uint64_t bits = 0; bits < (1u << kDeflateMaxCodeBits); ++bits) {
      const DeflateSymbol want = DeflateHuffman_Decode(code, bits);
      const Decoded got = Look(table, tableBits, bits, isLiteral);
      const bool handled = want.length != 0 && want.symbol < usable;
      if (handled ? got.length != want.length || got.symbol != want.symbol : got.length != 0) {
        FAIL() << (isLiteral ? "literal" : "distance") << " bits " << bits << ": symbol "
               << want.symbol << " length " << want.length << ", the tables give " << got.symbol
               << " length " << got.length;
      }
    }
  }
}

TEST(DeflateFastTables, AgreeWithCanonicalDecodingOnEveryPattern) {
  std::mt19937 rng(1951);
  std::vector<std::uint8_t> fixed(288), fixedDistances(32, 5);
  for (unsigned s = 0; s < 288; ++s)
    fixed[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
  // Lengths 1, 2, ..., 14, 15, 15: one code of every length, the longest
  // all under one prefix of the main table.
  auto stairs = [](unsigned n) {
    std::vector<std::uint8_t> lengths(n, 0);
    for (unsigned k = 0; k < 15; ++k)
      lengths[k * (n / 16)] = static_cast<std::uint8_t>(k + 1);
    lengths[n - 1] = 15;
    return lengths;
  };
  struct Case {
    const char* name;
    std::vector<std::uint8_t> literals, distances;
  };
  std::vector<Case> cases = {
      {"fixed", fixed, fixedDistances},
      {"stairs", stairs(286), stairs(30)},
      {"one symbol each", std::vector<std::uint8_t>(286, 0), std::vector<std::uint8_t>(30, 0)},
  };
  cases.back().literals[256] = 1;  // incomplete: only the end of the block
  cases.back().distances[3] = 1;
  for (unsigned skew : {1u, 3u, 7u, 40u}) {
    for (int k = 0; k < 3; ++k)
      cases.push_back({"random", RandomLengths(286, rng, skew), RandomLengths(30, rng, skew)});
  }
  // An incomplete code with long codes: a random code with symbols dropped.
  Case holes{"holes", RandomLengths(286, rng, 40), RandomLengths(30, rng, 40)};
  for (unsigned s = 0; s < 286; s += 5)
    holes.literals[s] = 0;
  holes.literals[256] = 15;
  holes.distances[0] = holes.distances[7] = 0;
  cases.push_back(holes);
  unsigned longest = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    longest = std::max(longest, unsigned{*std::max_element(c.literals.begin(), c.literals.end())});
    ExpectTablesAgree(c.literals, c.distances);
  }
  EXPECT_EQ(longest, kDeflateMaxCodeBits);  // the subtables were reached
}

// Every distance up to 40 and every DEFLATE length: each copy gives the
// bytes of a forward byte-by-byte copy (an overlapping source repeats them),
// and writes past the match's end no more than it may: CopyMatch nothing,
// CopyShort nothing (it writes the bytes after the match back), CopyOverrun
// at most kDeflateCopyOverrun bytes.
TEST(DeflateFastCopies, GiveTheBytesOfAByteByByteCopy) {
  enum Copy { kMatch, kShort, kOverrun };
  constexpr std::uint32_t kBefore = 64, kSlack = 64;
  std::vector<std::uint8_t> history(kBefore);
  std::mt19937 rng(7);
  for (auto& b : history)
    b = static_cast<std::uint8_t>(rng());
  for (const Copy copy : {kMatch, kShort, kOverrun}) {
    for (std::uint32_t distance = 1; distance <= 40; ++distance) {
      for (std::uint32_t length = 1; length <= 258; ++length) {
        if (copy == kShort && (distance < 16 || length > 32)) continue;
        SCOPED_TRACE(testing::Message()
                     << "copy " << copy << " distance " << distance << " length " << length);
        std::vector<std::uint8_t> want(kBefore + length + kSlack, 0xA5);
        std::copy(history.begin(), history.end(), want.begin());
        for (std::uint32_t k = 0; k < length; ++k)
          want[kBefore + k] = want[kBefore + k - distance];
        std::vector<std::uint8_t> got(kBefore + length + kSlack, 0xA5);
        std::copy(history.begin(), history.end(), got.begin());
        std::uint8_t* const dst = got.data() + kBefore;
        if (copy == kMatch) DeflateFast_CopyMatch(dst, distance, length);
        if (copy == kShort) DeflateFast_CopyShort(dst, distance, length);
        if (copy == kOverrun) DeflateFast_CopyOverrun(dst, distance, length);
        const std::uint32_t mayChange = copy == kOverrun ? kDeflateCopyOverrun : 0;
        ASSERT_TRUE(std::equal(want.begin(), want.begin() + kBefore + length, got.begin()));
        ASSERT_TRUE(std::equal(want.begin() + kBefore + length + mayChange, want.end(),
                               got.begin() + kBefore + length + mayChange));
      }
    }
  }
}

}  // namespace
