#include "engine/codecs/deflate_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/runtime/allocator.h"
#include "tests/codecs/deflate_bits.h"

namespace {

using deflate_test::BitWriter;
using deflate_test::Bytes;
using deflate_test::CanonicalCodes;
namespace St = DeflateDataStatus;

// Packs an LSB-first bit stream into big-endian 32-bit words: stream bytes
// s0 s1 s2 s3 form the word s0 + s1·2^8 + s2·2^16 + s3·2^24 (s0's bits are
// taken first), which is stored as s3 s2 s1 s0. The last word is padded
// with zero bits.
Bytes ToWords(const BitWriter& w) {
  Bytes bytes = w.bytes();
  while (bytes.size() % 4 != 0)
    bytes.push_back(0);
  for (std::size_t i = 0; i < bytes.size(); i += 4)
    std::reverse(bytes.begin() + i, bytes.begin() + i + 4);
  return bytes;
}

std::uint32_t Words(const Bytes& b) {
  return static_cast<std::uint32_t>(b.size() / 4);
}

// A decoder from the engine allocator, as the format handlers hold it.
EngineBuffer<DeflateDataDecoder> NewDecoder() {
  DeflateDataDecoder* d = nullptr;
  EXPECT_EQ(Engine_AllocArray(1, &d), kOk);
  d->status = 0xEEEE;
  d->tablesRead = false;
  return EngineBuffer<DeflateDataDecoder>(d);
}

// ---- zlib output, with its tables moved apart --------------------------

struct Fixture {
  Bytes tables, block;
};

// Splits zlib's one-block dynamic stream into the table words and the block
// words; false when zlib chose another block type.
bool SplitZlibBlock(const Bytes& stream, Fixture& out) {
  deflate_test::DynamicHeader h;
  if (!deflate_test::ParseDynamicHeader(stream, h) || !h.final) return false;
  BitWriter tables, block;
  deflate_test::CopyBits(stream, h.tablesStart, h.tablesEnd, tables);
  deflate_test::CopyBits(stream, h.tablesEnd, stream.size() * 8, block);
  out.tables = ToWords(tables);
  out.block = ToWords(block);
  return true;
}

TEST(DeflateDataZlibPeer, ZlibBlocksDecodeFromSplitTables) {
  int dynamicBlocks = 0;
  for (std::uint32_t seed = 1; seed <= 100; ++seed) {
    const std::size_t size = 50 + (seed * 977) % 4000;
    const Bytes data = deflate_test::MakeData(size, 1 + static_cast<int>(seed % 2), seed);
    const int strategy = seed % 4 == 0 ? Z_FILTERED : Z_DEFAULT_STRATEGY;
    const Bytes stream = deflate_test::ZlibDeflate(data, seed % 2 ? 9 : 6, strategy);
    Fixture f;
    if (!SplitZlibBlock(stream, f)) continue;
    ++dynamicBlocks;
    SCOPED_TRACE(testing::Message() << "seed " << seed << " size " << size);
    auto d = NewDecoder();
    ASSERT_EQ(DeflateData_ReadTables(d.get(), f.tables.data(), Words(f.tables)), kOk);
    EXPECT_EQ(d->status, St::Ok);
    // One table serves many blocks: decode the block twice.
    for (int round = 0; round < 2; ++round) {
      Bytes out(4096, 0xCC);
      std::uint16_t length = 0;
      ASSERT_EQ(DeflateData_DecodeBlock(d.get(), f.block.data(), Words(f.block), out.data(), 4096,
                                        &length),
                kOk);
      ASSERT_EQ(length, data.size());
      out.resize(length);
      EXPECT_EQ(out, data);
    }
    // The first 8 bytes only, as the carried-over bytes are read: whichever
    // way the capacity is reached, the out length is 8 and the bytes are right.
    Bytes head(8);
    std::uint16_t length = 0;
    const StatusCode s =
        DeflateData_DecodeBlock(d.get(), f.block.data(), Words(f.block), head.data(), 8, &length);
    if (data.size() >= 8) {
      EXPECT_EQ(length, 8);
      if (IsFailure(s)) {  // a literal found the buffer full
        EXPECT_EQ(d->status, St::Ok);
      }
      EXPECT_TRUE(std::equal(head.begin(), head.end(), data.begin()));
    }
  }
  EXPECT_GE(dynamicBlocks, 40);
}

// The fast loop leaves every symbol it does not take, and any match that
// reaches the capacity, to the careful loop; with both, and with the careful
// loop alone, a block gives the same answer, status, length and buffer (also
// past the length), at capacities all over the block and after damage.
TEST(DeflateDataFastLoop, AgreesWithTheCarefulLoopOnRealTextAndDamage) {
  const Bytes text = deflate_test::RealText(256 * 1024);
  std::mt19937 rng(35);
  int blocks = 0, fastRuns = 0;
  for (std::size_t at = 0; at + 64 < text.size(); at += 4096) {
    const Bytes data(text.begin() + static_cast<std::ptrdiff_t>(at),
                     text.begin() + static_cast<std::ptrdiff_t>(std::min(text.size(), at + 4096)));
    const Bytes stream =
        deflate_test::ZlibDeflate(data, 1 + static_cast<int>(at / 4096 % 9), Z_DEFAULT_STRATEGY);
    Fixture f;
    if (!SplitZlibBlock(stream, f)) continue;
    ++blocks;
    auto d = NewDecoder();
    ASSERT_EQ(DeflateData_ReadTables(d.get(), f.tables.data(), Words(f.tables)), kOk);
    std::vector<Bytes> variants = {f.block};
    for (int k = 0; k < 3; ++k) {
      Bytes damaged = f.block;
      damaged[rng() % damaged.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
      if (k == 2) damaged.resize(damaged.size() / 8 * 4);  // and cut short, in whole words
      variants.push_back(damaged);
    }
    std::vector<std::uint16_t> capacities = {4096, static_cast<std::uint16_t>(data.size()), 8, 0};
    for (int k = 0; k < 24; ++k)
      capacities.push_back(static_cast<std::uint16_t>(rng() % (data.size() + 1)));
    for (std::size_t v = 0; v < variants.size(); ++v) {
      const Bytes& block = variants[v];
      for (const std::uint16_t capacity : capacities) {
        SCOPED_TRACE(testing::Message()
                     << "block at " << at << " variant " << v << " capacity " << capacity);
        Bytes fast(capacity, 0x5A), careful(capacity, 0x5A);
        std::uint16_t fastLength = 0xFFFF, carefulLength = 0xFFFF;
        const StatusCode fastAnswer = DeflateData_DecodeBlock(d.get(), block.data(), Words(block),
                                                              fast.data(), capacity, &fastLength);
        const std::uint16_t fastStatus = d->status;
        StatusCode carefulAnswer;
        {
          deflate_test::CarefulLoopsOnly only;
          carefulAnswer = DeflateData_DecodeBlock(d.get(), block.data(), Words(block),
                                                  careful.data(), capacity, &carefulLength);
        }
        ASSERT_EQ(fastAnswer, carefulAnswer);
        ASSERT_EQ(fastStatus, d->status);
        ASSERT_EQ(fastLength, carefulLength);
        ASSERT_EQ(fast, careful);
        if (v == 0 && capacity >= data.size()) {
          ASSERT_EQ(fastAnswer, kOk);
          ASSERT_TRUE(std::equal(data.begin(), data.end(), fast.begin()));
        }
        ++fastRuns;
      }
    }
  }
  EXPECT_GE(blocks, 40);
  EXPECT_GT(fastRuns, 4000);
}

// ---- Hand-built tables --------------------------------------------------

// The code-length code used by the hand-built tables: every symbol 5 bits.
const std::vector<std::uint32_t>& ClCodes() {
  static const auto codes = CanonicalCodes(std::vector<std::uint8_t>(19, 5));
  return codes;
}

using ClSymbols = std::vector<std::pair<unsigned, unsigned>>;

ClSymbols Literally(unsigned count, unsigned length) {
  return ClSymbols(count, {length, 0});
}

void WriteClSymbols(BitWriter& w, const ClSymbols& symbols) {
  for (auto [sym, extra] : symbols) {
    w.PutCode(ClCodes()[sym], 5);
    if (sym == 16) w.Put(extra, 2);
    if (sym == 17) w.Put(extra, 3);
    if (sym == 18) w.Put(extra, 7);
  }
}

// A table: counts, then the code-length code (`clLengths` in transmission
// order, default all 5), then the two runs of code-length symbols.
Bytes TableWords(unsigned hlit, unsigned hdist, const ClSymbols& lit, const ClSymbols& dist,
                 std::vector<unsigned> clLengths = std::vector<unsigned>(19, 5)) {
  BitWriter w;
  w.Put(hlit - 257, 5);
  w.Put(hdist - 1, 5);
  w.Put(static_cast<unsigned>(clLengths.size()) - 4, 4);
  for (unsigned l : clLengths)
    w.Put(l, 3);
  WriteClSymbols(w, lit);
  WriteClSymbols(w, dist);
  return ToWords(w);
}

// The standard hand-built table: every literal/length symbol 9 bits (286 of
// them: HLIT 29) and every distance symbol 5 bits (30).
Bytes StandardTable() {
  return TableWords(286, 30, Literally(286, 9), Literally(30, 5));
}

struct Coder {
  std::vector<std::uint32_t> lit = CanonicalCodes(std::vector<std::uint8_t>(286, 9));
  std::vector<std::uint32_t> dist = CanonicalCodes(std::vector<std::uint8_t>(30, 5));
  BitWriter w;
  Coder& Lit(unsigned s) {
    w.PutCode(lit[s], 9);
    return *this;
  }
  Coder& Text(const std::string& t) {
    for (unsigned char c : t)
      Lit(c);
    return *this;
  }
  Coder& Dist(unsigned s) {
    w.PutCode(dist[s], 5);
    return *this;
  }
  Coder& Bits(unsigned v, unsigned n) {
    w.Put(v, n);
    return *this;
  }
  Bytes words() const { return ToWords(w); }
};

struct BlockResult {
  StatusCode answer;
  std::uint16_t status;
  std::string output;
};

BlockResult Decode(const Bytes& table, const Bytes& block, std::uint16_t capacity) {
  auto d = NewDecoder();
  EXPECT_EQ(DeflateData_ReadTables(d.get(), table.data(), Words(table)), kOk);
  std::string out(capacity, '\0');
  std::uint16_t length = 0xFFFF;
  const StatusCode s =
      DeflateData_DecodeBlock(d.get(), block.data(), Words(block),
                              reinterpret_cast<std::uint8_t*>(out.data()), capacity, &length);
  EXPECT_LE(length, capacity);
  out.resize(std::min<std::size_t>(length, capacity));
  return {s, d->status, out};
}

TEST(DeflateDataBlocks, CapacityDistanceAndTruncationCases) {
  const Bytes table = StandardTable();
  struct Case {
    const char* name;
    Coder block;
    std::uint16_t capacity;
    BlockResult expected;
  };
  std::vector<Case> cases;
  cases.push_back({"end of block", Coder().Text("abc").Lit(256), 100, {kOk, St::Ok, "abc"}});
  cases.push_back({"match fills the capacity without an end",
                   Coder().Text("ab").Lit(258).Dist(1),  // length 4, distance 2
                   6,
                   {kOk, St::Ok, "ababab"}});
  cases.push_back({"match cut at the capacity",
                   Coder().Text("ab").Lit(265).Bits(1, 1).Dist(1),
                   5,
                   {kOk, St::Ok, "ababa"}});
  cases.push_back(
      {"literal into a full buffer", Coder().Text("abc").Lit(256), 2, {kFailed, St::Ok, "ab"}});
  cases.push_back(
      {"literal fills, then the end", Coder().Text("ab").Lit(256), 2, {kOk, St::Ok, "ab"}});
  cases.push_back({"overlapping match repeats bytes",
                   Coder().Text("xy").Lit(284).Bits(0, 5).Dist(0).Lit(256),  // 227 of distance 1
                   300,
                   {kOk, St::Ok, "xy" + std::string(227, 'y')}});
  cases.push_back({"distance equal to the bytes written",
                   Coder().Text("abc").Lit(257).Dist(2).Lit(256),
                   10,
                   {kOk, St::Ok, "abcabc"}});
  cases.push_back({"distance one past the bytes written",
                   Coder().Text("abc").Lit(257).Dist(3).Lit(256),
                   10,
                   {kFailed, St::BadDistanceCode, ""}});
  cases.push_back({"distance symbol 29",
                   Coder().Text("abc").Lit(257).Dist(29).Bits(0, 13),
                   100,
                   {kFailed, St::BadDistanceCode, ""}});
  cases.push_back({"length 258",
                   Coder().Text("z").Lit(285).Dist(0).Lit(256),
                   300,
                   {kOk, St::Ok, std::string(259, 'z')}});
  {
    // 31 literals and a length symbol with one extra bit end exactly on a
    // word boundary: the extra bit is missing.
    Coder c;
    for (int i = 0; i < 31; ++i)
      c.Lit('q');
    c.Lit(265);
    cases.push_back({"input ends in extra bits", c, 100, {kFailed, St::ShortField, ""}});
  }
  {
    // 3 literals (27 bits) and 5 bits of a 9-bit code fill one word.
    Coder c;
    c.Text("abc");
    c.Bits(0x1F, 5);
    cases.push_back({"input ends inside a code", c, 100, {kFailed, St::ShortCode, ""}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const BlockResult r = Decode(table, c.block.words(), c.capacity);
    EXPECT_EQ(r.answer, c.expected.answer);
    EXPECT_EQ(r.status, c.expected.status);
    EXPECT_EQ(r.output, c.expected.output);
  }
}

TEST(DeflateDataTables, TableFaultsAnswerTheirStatus) {
  const ClSymbols lit = Literally(286, 9), dist = Literally(30, 5);
  struct Case {
    const char* name;
    Bytes words;
    std::uint16_t status;
  };
  // 14 bits of counts and 19 code-length code lengths of 3 bits need 71 bits.
  Bytes twoWords = StandardTable();
  twoWords.resize(8);
  const Case kCases[] = {
      {"no input", {}, St::ShortField},
      {"input ends in the code-length code lengths", twoWords, St::ShortField},
      {"HLIT 30", TableWords(287, 30, Literally(287, 9), dist), St::BadCounts},
      {"HDIST 30", TableWords(286, 31, lit, Literally(31, 5)), St::BadCounts},
      {"over-subscribed code-length code",
       TableWords(286, 30, lit, dist, std::vector<unsigned>(19, 1)), St::BadCodeLengthCode},
      {"empty code-length code", TableWords(286, 30, lit, dist, std::vector<unsigned>(4, 0)),
       St::BadCodeLengthCode},
      {"over-subscribed literal lengths", TableWords(286, 30, Literally(286, 1), dist),
       St::BadLiteralCode},
      {"no literal/length code", TableWords(286, 30, Literally(286, 0), dist), St::BadLiteralCode},
      {"over-subscribed distance lengths", TableWords(286, 30, lit, Literally(30, 1)),
       St::BadDistanceCode},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto d = NewDecoder();
    EXPECT_EQ(DeflateData_ReadTables(d.get(), c.words.data(), Words(c.words)), kFailed);
    EXPECT_EQ(d->status, c.status);
    // No usable table is left behind.
    const Bytes block = Coder().Text("a").Lit(256).words();
    std::uint8_t out[4];
    std::uint16_t length = 7;
    EXPECT_EQ(DeflateData_DecodeBlock(d.get(), block.data(), Words(block), out, 4, &length),
              kFailed);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(d->status, St::BadLiteralCode);
  }
  // Cut short inside the code-length symbols: status 2.
  Bytes full = StandardTable();
  full.resize(16);
  auto d = NewDecoder();
  EXPECT_EQ(DeflateData_ReadTables(d.get(), full.data(), Words(full)), kFailed);
  EXPECT_EQ(d->status, St::ShortCode);
}

TEST(DeflateDataTables, RepeatRulesOfTheTwoRuns) {
  // A leading repeat of the previous length repeats 0: symbols 0-2 get no code.
  ClSymbols lit = {{16, 0}};
  for (auto s : Literally(283, 9))
    lit.push_back(s);
  const Bytes leading = TableWords(286, 30, lit, Literally(30, 5));
  Coder shifted;
  shifted.lit = CanonicalCodes([] {
    std::vector<std::uint8_t> l(286, 9);
    l[0] = l[1] = l[2] = 0;
    return l;
  }());
  shifted.Text("ok").Lit(256);
  BlockResult r = Decode(leading, shifted.words(), 10);
  EXPECT_EQ(r.answer, kOk);
  EXPECT_EQ(r.output, "ok");

  // A repeat that runs past the literal/length lengths is cut there; the
  // distance lengths are read from the next symbol on.
  ClSymbols cut = Literally(282, 9);
  cut.push_back({16, 3});  // 6 more of length 9 where only 4 remain
  const Bytes clamped = TableWords(286, 30, cut, Literally(30, 5));
  r = Decode(clamped, Coder().Text("abc").Lit(257).Dist(2).Lit(256).words(), 10);
  EXPECT_EQ(r.answer, kOk);
  EXPECT_EQ(r.output, "abcabc");

  // The distance run starts afresh: its leading repeat is of 0, not of the
  // literal/length run's last 9, so distance symbols 0-2 have no code and
  // the pattern that would be symbol 0 under the other reading is refused.
  ClSymbols dist = {{16, 0}};
  for (auto s : Literally(27, 5))
    dist.push_back(s);
  const Bytes separate = TableWords(286, 30, Literally(286, 9), dist);
  Coder c;
  c.Text("abcd").Lit(257).Bits(0, 0);
  c.w.PutCode(0b110110000, 9);
  c.Lit(256);
  r = Decode(separate, c.words(), 20);
  EXPECT_EQ(r.answer, kFailed);
  EXPECT_EQ(r.status, St::BadDistanceCode);
}

}  // namespace
