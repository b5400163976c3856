#include "engine/codecs/huffman.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <queue>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "tests/support/test_streams.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

EngineObject* NewStream(const Bytes& bytes = {}) {
  return test_streams::NewMemStream(bytes);
}
Bytes Contents(EngineObject* s) {
  return test_streams::Contents<Bytes>(s);
}

const HuffEncoderOps& Enc() {
  return OpsOf<HuffEncoderOps>(g_HuffEncoderModule);
}
const HuffDecoderOps& Dec() {
  return OpsOf<HuffDecoderOps>(g_HuffDecoderModule);
}

struct Stream {
  explicit Stream(const Bytes& bytes = {}) : object(NewStream(bytes)) {}
  ~Stream() { EXPECT_EQ(StreamOf(object).close(object), kOk); }
  Bytes bytes() const { return Contents(object); }
  EngineObject* object;
};

struct Encoder {
  explicit Encoder(std::uint32_t n) {
    EXPECT_EQ(Enc().create(g_HuffEncoderModule, n, &object), kOk);
  }
  ~Encoder() {
    if (object != nullptr) {
      EXPECT_EQ(Enc().destroy(object), kOk);
    }
  }
  std::uint32_t* counts() {
    void* p = nullptr;
    EXPECT_EQ(Enc().getArray(object, &p), kOk);
    return static_cast<std::uint32_t*>(p);
  }
  std::vector<std::uint8_t> lengths() {
    const std::uint8_t* p = nullptr;
    EXPECT_EQ(Enc().getCodeLengths(object, &p), kOk);
    return {p, p + BodyOf<HuffEncoderBody>(object).head.n};
  }
  EngineObject* object = nullptr;
};

struct Decoder {
  explicit Decoder(std::uint32_t n) {
    EXPECT_EQ(Dec().create(g_HuffDecoderModule, n, &object), kOk);
  }
  ~Decoder() {
    if (object != nullptr) {
      EXPECT_EQ(Dec().destroy(object), kOk);
    }
  }
  std::uint8_t* lengths() {
    void* p = nullptr;
    EXPECT_EQ(Dec().getArray(object, &p), kOk);
    return static_cast<std::uint8_t*>(p);
  }
  EngineObject* object = nullptr;
};

// Symbol records: each symbol as `width` bytes little-endian.
Bytes Records(const std::vector<std::uint32_t>& symbols, unsigned width) {
  Bytes out;
  for (std::uint32_t s : symbols) {
    for (unsigned i = 0; i < width; ++i)
      out.push_back(static_cast<std::uint8_t>(s >> (8 * i)));
  }
  return out;
}

// ---- An independent reader of the table and the bit stream -----------------

class BitIn {
 public:
  explicit BitIn(const Bytes& b) : b_(b) {}
  std::optional<std::uint32_t> Get(unsigned n) {  // least significant bit first
    std::uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i) {
      if (bit_ >= b_.size() * 8) return std::nullopt;
      v |= static_cast<std::uint32_t>((b_[bit_ / 8] >> (bit_ % 8)) & 1) << i;
      ++bit_;
    }
    return v;
  }
  std::size_t bit() const { return bit_; }

 private:
  const Bytes& b_;
  std::size_t bit_ = 0;
};

// Canonical code of the lengths as a map (length, code) -> symbol.
std::map<std::pair<unsigned, std::uint64_t>, std::uint32_t> CanonicalMap(
    const std::vector<std::uint8_t>& lengths) {
  std::map<std::pair<unsigned, std::uint64_t>, std::uint32_t> map;
  std::uint64_t code = 0;
  for (unsigned l = 1; l <= 32; ++l) {
    for (std::uint32_t s = 0; s < lengths.size(); ++s) {
      if (lengths[s] == l) map[{l, code++}] = s;
    }
    code <<= 1;
  }
  return map;
}

// Reads one code, its first bit the most significant.
std::optional<std::uint32_t> ReadCode(
    BitIn& in, const std::map<std::pair<unsigned, std::uint64_t>, std::uint32_t>& map) {
  std::uint64_t code = 0;
  for (unsigned l = 1; l <= 32; ++l) {
    const auto bit = in.Get(1);
    if (!bit) return std::nullopt;
    code = (code << 1) | *bit;
    if (auto it = map.find({l, code}); it != map.end()) return it->second;
  }
  return std::nullopt;
}

// The coded table, from its byte layout alone.
std::optional<std::vector<std::uint8_t>> ReadCodedTableByHand(const Bytes& bytes, std::uint32_t n,
                                                              std::size_t* bits) {
  static const unsigned kOrder[35] = {32, 33, 34, 0,  8,  7,  9,  6,  10, 5,  11, 4,
                                      12, 3,  13, 2,  14, 1,  15, 16, 17, 18, 19, 20,
                                      21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31};
  BitIn in(bytes);
  const auto c = in.Get(5);
  if (!c) return std::nullopt;
  std::vector<std::uint8_t> cl(35, 0);
  for (unsigned k = 0; k < *c + 4; ++k) {
    const auto l = in.Get(3);
    if (!l) return std::nullopt;
    cl[kOrder[k]] = static_cast<std::uint8_t>(*l);
  }
  const auto map = CanonicalMap(cl);
  std::vector<std::uint8_t> lengths;
  while (lengths.size() < n) {
    const auto sym = ReadCode(in, map);
    if (!sym) return std::nullopt;
    if (*sym < 32) {
      lengths.push_back(static_cast<std::uint8_t>(*sym));
      continue;
    }
    const unsigned extra = *sym == 32 ? 2 : *sym == 33 ? 3 : 7;
    const auto v = in.Get(extra);
    if (!v || (*sym == 32 && lengths.empty())) return std::nullopt;
    const std::uint32_t run = (*sym == 34 ? 11 : 3) + *v;
    const std::uint8_t value = *sym == 32 ? lengths.back() : 0;
    for (std::uint32_t i = 0; i < run; ++i)
      lengths.push_back(value);
  }
  if (lengths.size() != n) return std::nullopt;
  *bits = in.bit();
  return lengths;
}

// Decodes `count` symbols (each followed by its extra bits) by hand.
std::optional<Bytes> DecodeByHand(const Bytes& data, const std::vector<std::uint8_t>& lengths,
                                  std::size_t count, unsigned width,
                                  HuffExtraBitsFn extra = nullptr) {
  const auto map = CanonicalMap(lengths);
  BitIn in(data);
  Bytes out;
  for (std::size_t i = 0; i < count; ++i) {
    const auto sym = ReadCode(in, map);
    if (!sym) return std::nullopt;
    for (unsigned b = 0; b < width; ++b)
      out.push_back(static_cast<std::uint8_t>(*sym >> (8 * b)));
    const unsigned k = extra != nullptr ? extra(*sym) : 0;
    if (k != 0) {
      const auto v = in.Get(k);
      if (!v) return std::nullopt;
      const unsigned bytes = k <= 8 ? 1 : k <= 16 ? 2 : 4;
      for (unsigned b = 0; b < bytes; ++b)
        out.push_back(static_cast<std::uint8_t>(*v >> (8 * b)));
    }
  }
  // Whatever follows is the zero padding of the last byte.
  if ((data.size() * 8 - in.bit()) >= 8) return std::nullopt;
  for (std::size_t b = in.bit(); b < data.size() * 8; ++b) {
    if ((data[b / 8] >> (b % 8)) & 1) return std::nullopt;
  }
  return out;
}

// ---- Round trips --------------------------------------------------------

enum class Shape { kUniform, kSkewed, kOneSymbol, kEverySymbol };

std::vector<std::uint32_t> MakeSymbols(Shape shape, std::size_t size, std::uint32_t n,
                                       std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint32_t> out;
  switch (shape) {
    case Shape::kUniform:
      for (std::size_t i = 0; i < size; ++i)
        out.push_back(rng() % n);
      break;
    case Shape::kSkewed: {
      std::geometric_distribution<std::uint32_t> g(0.3);
      for (std::size_t i = 0; i < size; ++i)
        out.push_back(std::min(g(rng) * 7 % n, n - 1));
      break;
    }
    case Shape::kOneSymbol:
      out.assign(size, n - 1);
      break;
    case Shape::kEverySymbol:
      for (std::uint32_t s = 0; s < n; ++s)
        out.push_back(s);
      std::shuffle(out.begin(), out.end(), rng);
      break;
  }
  return out;
}

struct RoundTripCase {
  const char* name;
  Shape shape;
  std::size_t size;
  std::uint32_t n;
  unsigned width;
  std::uint32_t maxLength;
  std::uint32_t form;
};

class HuffmanRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(HuffmanRoundTrip, TableAndDataReadBackByHandAndByTheDecoder) {
  const RoundTripCase& c = GetParam();
  const auto symbols = MakeSymbols(c.shape, c.size, c.n, static_cast<std::uint32_t>(c.size + c.n));
  const Bytes input = Records(symbols, c.width);
  Stream source(input);

  Encoder enc(c.n);
  ASSERT_EQ(Enc().countSymbols(enc.object, kHuffCountClear, source.object, 0, kHuffToEnd, c.width,
                               nullptr),
            kOk);
  ASSERT_EQ(Enc().buildCodes(enc.object, c.maxLength), kOk);
  const auto lengths = enc.lengths();
  for (std::uint32_t s = 0; s < c.n; ++s) {
    ASSERT_LE(lengths[s], std::min<std::uint32_t>(c.maxLength, 31));
    ASSERT_EQ(lengths[s] != 0, enc.counts()[s] != 0) << "symbol " << s;
  }

  Stream table;
  std::uint32_t tableBytes = 0;
  ASSERT_EQ(Enc().writeTable(enc.object, c.form, table.object, 0, &tableBytes), kOk);
  ASSERT_EQ(table.bytes().size(), tableBytes);
  if (c.form == kHuffFormRaw) {
    EXPECT_EQ(table.bytes(), Bytes(lengths.begin(), lengths.end()));
  } else {
    std::size_t bits = 0;
    const auto byHand = ReadCodedTableByHand(table.bytes(), c.n, &bits);
    ASSERT_TRUE(byHand.has_value());
    EXPECT_EQ(*byHand, lengths);
    EXPECT_EQ((bits + 7) / 8, tableBytes);
  }

  Stream data;
  std::uint32_t dataBytes = 0, measured = 0, predicted = 0;
  ASSERT_EQ(Enc().encodeRange(enc.object, 0, source.object, 0, kHuffToEnd, c.width, nullptr,
                              data.object, 0, &dataBytes),
            kOk);
  ASSERT_EQ(
      Enc().measureRange(enc.object, 0, source.object, 0, kHuffToEnd, c.width, nullptr, &measured),
      kOk);
  ASSERT_EQ(Enc().sizeFromCounts(enc.object, nullptr, &predicted), kOk);
  EXPECT_EQ(data.bytes().size(), dataBytes);
  EXPECT_EQ(measured, dataBytes);
  EXPECT_EQ(predicted, dataBytes);
  const auto byHand = DecodeByHand(data.bytes(), lengths, symbols.size(), c.width);
  ASSERT_TRUE(byHand.has_value());
  EXPECT_EQ(*byHand, input);

  // Table and data in one stream, read back by the decoder.
  Stream both(table.bytes());
  ASSERT_EQ(StreamOf(both.object)
                .writeAt(both.object, tableBytes, data.bytes().data(), dataBytes, nullptr),
            kOk);
  Decoder dec(c.n);
  std::uint32_t consumed = 0;
  ASSERT_EQ(Dec().readTable(dec.object, c.form, both.object, 0, kHuffToEnd, &consumed), kOk);
  EXPECT_EQ(consumed, tableBytes);
  EXPECT_EQ(std::vector<std::uint8_t>(dec.lengths(), dec.lengths() + c.n), lengths);
  Stream out;
  std::uint32_t written = 0;
  ASSERT_EQ(Dec().decodeRange(dec.object, static_cast<std::uint32_t>(symbols.size()), both.object,
                              consumed, kHuffToEnd, c.width, nullptr, out.object, 0, &written),
            kOk);
  EXPECT_EQ(out.bytes(), input);
  EXPECT_EQ(written, input.size());
}

const RoundTripCase kRoundTrips[] = {
    {"Empty", Shape::kUniform, 0, 256, 1, 15, kHuffFormCoded},
    {"OneByte", Shape::kUniform, 1, 256, 1, 15, kHuffFormCoded},
    {"OneSymbolOnly", Shape::kOneSymbol, 1000, 256, 1, 15, kHuffFormCoded},
    {"OneSymbolAlphabetOfOne", Shape::kOneSymbol, 77, 1, 1, 15, kHuffFormCoded},
    {"EverySymbolOnce", Shape::kEverySymbol, 256, 256, 1, 15, kHuffFormCoded},
    {"UniformSmall", Shape::kUniform, 100, 256, 1, 15, kHuffFormCoded},
    {"UniformAcrossPieces", Shape::kUniform, 5000, 256, 1, 15, kHuffFormCoded},
    {"SkewedLimitedTo7", Shape::kSkewed, 20000, 256, 1, 7, kHuffFormCoded},
    {"SkewedLong", Shape::kSkewed, 70000, 256, 1, 31, kHuffFormCoded},
    {"SkewedRaw", Shape::kSkewed, 3000, 256, 1, 12, kHuffFormRaw},
    {"TwoByteSymbols", Shape::kUniform, 4000, 1000, 2, 15, kHuffFormCoded},
    {"TwoByteSkewed", Shape::kSkewed, 4000, 40000, 2, 20, kHuffFormCoded},
    {"FourByteManySymbols", Shape::kEverySymbol, 70000, 70000, 4, 31, kHuffFormCoded},
    {"FourByteRaw", Shape::kUniform, 3000, 600, 4, 16, kHuffFormRaw},
    {"OddFormNumberIsCoded", Shape::kUniform, 300, 50, 1, 9, 7},
};

INSTANTIATE_TEST_SUITE_P(Cases, HuffmanRoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return std::string(info.param.name); });

// Extra bits: symbol s carries s % 33 bits; the low bits of each value go through.
std::uint32_t ExtraOfSymbol(std::uint32_t symbol) noexcept {
  return symbol % 33;
}

TEST(HuffmanExtraBits, ValuesOfEveryWidthRoundTripMaskedToTheirBits) {
  std::mt19937 rng(7);
  Bytes input, expected;
  std::uint32_t records = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::uint32_t s = rng() % 66;
    const std::uint32_t k = ExtraOfSymbol(s);
    const std::uint32_t raw = static_cast<std::uint32_t>(rng());
    const std::uint32_t value = k >= 32 ? raw : raw & ((1u << k) - 1);
    const unsigned bytes = k == 0 ? 0 : k <= 8 ? 1 : k <= 16 ? 2 : 4;
    input.push_back(static_cast<std::uint8_t>(s));
    expected.push_back(static_cast<std::uint8_t>(s));
    for (unsigned b = 0; b < bytes; ++b) {
      input.push_back(static_cast<std::uint8_t>(raw >> (8 * b)));
      expected.push_back(static_cast<std::uint8_t>(value >> (8 * b)));
    }
    ++records;
  }
  Stream source(input);
  Encoder enc(66);
  ASSERT_EQ(Enc().countSymbols(enc.object, 1, source.object, 0, kHuffToEnd, 1, ExtraOfSymbol), kOk);
  ASSERT_EQ(Enc().buildCodes(enc.object, 15), kOk);
  Stream data;
  std::uint32_t dataBytes = 0, predicted = 0, measured = 0;
  ASSERT_EQ(
      Enc().encodeRange(enc.object, 0, source.object, 0, static_cast<std::uint32_t>(input.size()),
                        1, ExtraOfSymbol, data.object, 0, &dataBytes),
      kOk);
  ASSERT_EQ(Enc().sizeFromCounts(enc.object, ExtraOfSymbol, &predicted), kOk);
  ASSERT_EQ(
      Enc().measureRange(enc.object, 0, source.object, 0, kHuffToEnd, 1, ExtraOfSymbol, &measured),
      kOk);
  EXPECT_EQ(predicted, dataBytes);
  EXPECT_EQ(measured, dataBytes);
  const auto byHand = DecodeByHand(data.bytes(), enc.lengths(), records, 1, ExtraOfSymbol);
  ASSERT_TRUE(byHand.has_value());
  EXPECT_EQ(*byHand, expected);

  Decoder dec(66);
  std::copy_n(enc.lengths().begin(), 66, dec.lengths());
  ASSERT_EQ(Dec().rebuildTree(dec.object), kOk);
  Stream out;
  ASSERT_EQ(Dec().decodeRange(dec.object, records, data.object, 0, kHuffToEnd, 1, ExtraOfSymbol,
                              out.object, 0, nullptr),
            kOk);
  EXPECT_EQ(out.bytes(), expected);
}

// ---- Code lengths -------------------------------------------------------

std::uint64_t Cost(const std::vector<std::uint32_t>& counts, const std::vector<std::uint8_t>& l) {
  std::uint64_t c = 0;
  for (std::size_t s = 0; s < counts.size(); ++s)
    c += std::uint64_t{counts[s]} * l[s];
  return c;
}

// Textbook Huffman cost: the sum of all merged weights.
std::uint64_t OptimalCost(const std::vector<std::uint32_t>& counts) {
  std::priority_queue<std::uint64_t, std::vector<std::uint64_t>, std::greater<>> q;
  for (std::uint32_t c : counts) {
    if (c != 0) q.push(c);
  }
  std::uint64_t cost = 0;
  while (q.size() > 1) {
    const std::uint64_t a = q.top();
    q.pop();
    const std::uint64_t b = q.top();
    q.pop();
    cost += a + b;
    q.push(a + b);
  }
  return cost;
}

// 2^maxLength * Kraft sum.
std::uint64_t KraftUnits(const std::vector<std::uint8_t>& lengths) {
  std::uint64_t k = 0;
  for (std::uint8_t l : lengths) {
    if (l != 0) k += std::uint64_t{1} << (32 - l);
  }
  return k;
}

std::vector<std::uint8_t> Build(const std::vector<std::uint32_t>& counts, std::uint32_t maxLength,
                                StatusCode expect = kOk) {
  Encoder enc(static_cast<std::uint32_t>(counts.size()));
  std::copy(counts.begin(), counts.end(), enc.counts());
  EXPECT_EQ(Enc().buildCodes(enc.object, maxLength), expect);
  return enc.lengths();
}

TEST(HuffmanCodeLengths, CompleteOptimalWithoutLimitAndWithinTheLimitOtherwise) {
  std::mt19937 rng(11);
  for (std::uint32_t n : {2u, 3u, 40u, 286u, 289u, 3000u}) {
    for (int round = 0; round < 4; ++round) {
      std::vector<std::uint32_t> counts(n);
      for (auto& c : counts)
        c = round % 2 == 0 ? rng() % 1000 : (rng() % 4 == 0 ? 0 : 1u << (rng() % 20));
      counts[0] = counts[0] == 0 ? 1 : counts[0];
      counts[n - 1] = counts[n - 1] == 0 ? 1 : counts[n - 1];
      const auto free = Build(counts, 31);
      EXPECT_EQ(Cost(counts, free), OptimalCost(counts)) << "n " << n;
      EXPECT_EQ(KraftUnits(free), std::uint64_t{1} << 32) << "n " << n;
      const auto limited = Build(counts, 12);
      EXPECT_LE(*std::max_element(limited.begin(), limited.end()), 12);
      EXPECT_EQ(KraftUnits(limited), std::uint64_t{1} << 32) << "n " << n;
    }
  }
}

TEST(HuffmanCodeLengths, FibonacciCountsAreCutAtTheLimitAndStayComplete) {
  std::vector<std::uint32_t> counts = {1, 1};
  while (counts.size() < 40)
    counts.push_back(counts[counts.size() - 1] + counts[counts.size() - 2]);
  for (std::uint32_t limit : {7u, 15u, 16u, 31u, 200u}) {
    const auto l = Build(counts, limit);
    EXPECT_EQ(*std::max_element(l.begin(), l.end()), std::min(limit, 31u));
    EXPECT_EQ(KraftUnits(l), std::uint64_t{1} << 32) << "limit " << limit;
  }
}

// Up to 15 bits the DEFLATE builder serves; above, the coder's own. Where no
// length needs cutting both must give the same code.
TEST(HuffmanCodeLengths, BothBuildersAgreeWhereNeitherCuts) {
  std::mt19937 rng(5);
  for (int round = 0; round < 20; ++round) {
    std::vector<std::uint32_t> counts(1 + rng() % 280);
    for (auto& c : counts)
      c = rng() % 3 == 0 ? 0 : 100 + rng() % 50;
    counts[0] = 1;
    const auto at15 = Build(counts, 15);
    const auto at16 = Build(counts, 16);
    ASSERT_LE(*std::max_element(at16.begin(), at16.end()), 15);
    EXPECT_EQ(at15, at16);
  }
}

TEST(HuffmanCodeLengths, NoneOneAndTooShortALimit) {
  EXPECT_EQ(Build({0, 0, 0}, 15), (std::vector<std::uint8_t>{0, 0, 0}));
  EXPECT_EQ(Build({0, 9, 0}, 15), (std::vector<std::uint8_t>{0, 1, 0}));
  EXPECT_EQ(Build({5, 9, 3}, 1, kBadArgument), (std::vector<std::uint8_t>{0, 0, 0}));
  EXPECT_EQ(Build({5, 9, 3, 1}, 2), (std::vector<std::uint8_t>{2, 2, 2, 2}));
  Build({1}, 0, kBadArgument);
}

// ---- Fixed vectors ------------------------------------------------------

// RFC 1951's example: lengths (3,3,3,3,3,2,4,4) give A 010, B 011, C 100,
// D 101, E 110, F 00, G 1110, H 1111, sent first bit first.
TEST(HuffmanFormat, DecoderFollowsTheCanonicalCodesAndBitOrder) {
  Decoder dec(8);
  const std::uint8_t lengths[8] = {3, 3, 3, 3, 3, 2, 4, 4};
  std::copy_n(lengths, 8, dec.lengths());
  ASSERT_EQ(Dec().rebuildTree(dec.object), kOk);
  // F 00, A 010, H 1111, E 110 -> bits 0,0,0,1,0,1,1,1 | 1,1,1,0 -> 0xE8 0x07
  Stream in(Bytes{0xE8, 0x07});
  Stream out;
  std::uint32_t written = 0;
  ASSERT_EQ(Dec().decodeRange(dec.object, 4, in.object, 0, kHuffToEnd, 1, nullptr, out.object, 0,
                              &written),
            kOk);
  EXPECT_EQ(out.bytes(), (Bytes{5, 0, 7, 4}));
  EXPECT_EQ(written, 4u);
}

TEST(HuffmanFormat, LongZeroRunsAreRunLengthCoded) {
  Encoder enc(1000);
  enc.counts()[3] = 5;
  enc.counts()[998] = 2;
  ASSERT_EQ(Enc().buildCodes(enc.object, 15), kOk);
  Stream table;
  std::uint32_t bytes = 0;
  ASSERT_EQ(Enc().writeTable(enc.object, kHuffFormCoded, table.object, 0, &bytes), kOk);
  std::size_t bits = 0;
  const auto lengths = ReadCodedTableByHand(table.bytes(), 1000, &bits);
  ASSERT_TRUE(lengths.has_value());
  EXPECT_EQ(*lengths, enc.lengths());
  EXPECT_LT(bytes, 24u);  // the raw form takes 1000; 995 zeros go in a few runs of at most 138
}

// The stream carries no symbol count: with a single code "0", the padding of
// the last byte reads as seven more symbols unless the count is given.
TEST(HuffmanFormat, SymbolCountStopsBeforeThePadding) {
  Encoder enc(4);
  enc.counts()[2] = 1;
  ASSERT_EQ(Enc().buildCodes(enc.object, 15), kOk);
  Stream source(Bytes{2});
  Stream data;
  ASSERT_EQ(Enc().encodeRange(enc.object, 0, source.object, 0, kHuffToEnd, 1, nullptr, data.object,
                              0, nullptr),
            kOk);
  ASSERT_EQ(data.bytes(), Bytes{0x00});
  Decoder dec(4);
  std::copy_n(enc.lengths().begin(), 4, dec.lengths());
  ASSERT_EQ(Dec().rebuildTree(dec.object), kOk);
  Stream exact, greedy;
  ASSERT_EQ(Dec().decodeRange(dec.object, 1, data.object, 0, kHuffToEnd, 1, nullptr, exact.object,
                              0, nullptr),
            kOk);
  EXPECT_EQ(exact.bytes(), Bytes{2});
  ASSERT_EQ(Dec().decodeRange(dec.object, 0, data.object, 0, kHuffToEnd, 1, nullptr, greedy.object,
                              0, nullptr),
            kOk);
  EXPECT_EQ(greedy.bytes(), Bytes(8, 2));
}

TEST(HuffmanFormat, DecodingToTheEndStopsCleanlyAfterTheLastWholeSymbol) {
  // 256 codes of 8 bits: every byte is exactly one symbol, no padding.
  Decoder dec(256);
  std::fill_n(dec.lengths(), 256, 8);
  ASSERT_EQ(Dec().rebuildTree(dec.object), kOk);
  Stream in(Bytes{0x00, 0x80, 0xFF, 0x01});  // codes 0, 1, 255, 128 (first bit = MSB)
  Stream out;
  ASSERT_EQ(Dec().decodeRange(dec.object, 0, in.object, 0, kHuffToEnd, 2, nullptr, out.object, 0,
                              nullptr),
            kOk);
  EXPECT_EQ(out.bytes(), (Bytes{0, 0, 1, 0, 255, 0, 128, 0}));
}

// ---- Malformed tables and streams ---------------------------------------

// Bits least significant first, for building tables by hand.
class BitOut {
 public:
  BitOut& Put(std::uint32_t v, unsigned n) {
    for (unsigned i = 0; i < n; ++i, ++bit_) {
      if (bit_ % 8 == 0) bytes_.push_back(0);
      bytes_.back() |= static_cast<std::uint8_t>(((v >> i) & 1) << (bit_ % 8));
    }
    return *this;
  }
  // A code of the given length, most significant bit first.
  BitOut& Code(std::uint32_t code, unsigned length) {
    for (unsigned i = length; i-- > 0;)
      Put((code >> i) & 1, 1);
    return *this;
  }
  Bytes bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  std::size_t bit_ = 0;
};

// A code-length code where symbols 32, 33, 34 and 0 have 2-bit codes (in
// that canonical order: 0 -> 00, 32 -> 01, 33 -> 10, 34 -> 11).
BitOut FourSymbolCodeLengthCode() {
  BitOut b;
  b.Put(0, 5);  // c = 4: the lengths of 32, 33, 34, 0
  for (int i = 0; i < 4; ++i)
    b.Put(2, 3);
  return b;
}

// A code-length code in which only symbol 1 (18th in the order) has a code,
// "0", then `count` lengths of 1 through it.
BitOut OnlyLengthOneCoded(int count) {
  BitOut b;
  b.Put(18 - 4, 5);
  for (int k = 0; k < 17; ++k)
    b.Put(0, 3);
  b.Put(1, 3);
  for (int i = 0; i < count; ++i)
    b.Code(0, 1);
  return b;
}

struct TableCase {
  const char* name;
  std::uint32_t form;
  Bytes bytes;
  std::uint32_t n;
  StatusCode expect;
};

class HuffmanBadTable : public ::testing::TestWithParam<TableCase> {};

TEST_P(HuffmanBadTable, AnswersItsStatusAndKeepsTheLengths) {
  const TableCase& c = GetParam();
  Decoder dec(c.n);
  std::fill_n(dec.lengths(), c.n, 9);  // a marker that a refused table must not touch
  Stream in(c.bytes);
  std::uint32_t consumed = 12345;
  EXPECT_EQ(Dec().readTable(dec.object, c.form, in.object, 0,
                            static_cast<std::uint32_t>(c.bytes.size()), &consumed),
            c.expect);
  EXPECT_EQ(consumed, 12345u);
  if (c.expect != kHuffDecOversubscribed) {
    EXPECT_EQ(std::count(dec.lengths(), dec.lengths() + c.n, 9), static_cast<long>(c.n));
  }
}

const TableCase kBadTables[] = {
    {"EvenForm", 2, Bytes{0, 0, 0, 0}, 4, kFailed},
    {"RawTooShort", kHuffFormRaw, Bytes{1, 1, 2}, 4, kHuffDecEndOfInput},
    {"RawOversubscribed", kHuffFormRaw, Bytes{1, 1, 1}, 3, kHuffDecOversubscribed},
    {"RawLengthAbove32", kHuffFormRaw, Bytes{1, 33}, 2, kHuffDecOversubscribed},
    {"CodedEmpty", kHuffFormCoded, Bytes{}, 4, kHuffDecEndOfInput},
    {"CodedCutInCodeLengthCode", kHuffFormCoded, BitOut().Put(31, 5).Put(1, 3).bytes(), 4,
     kHuffDecEndOfInput},
    {"CodedCodeLengthCodeOversubscribed", kHuffFormCoded,
     BitOut().Put(0, 5).Put(1, 3).Put(1, 3).Put(1, 3).Put(0, 3).Put(0, 16).bytes(), 4,
     kHuffDecOversubscribed},
    {"CodedRepeatWithoutPrevious", kHuffFormCoded,
     FourSymbolCodeLengthCode().Code(1, 2).Put(0, 2).Put(0, 8).bytes(), 4, kMalformed},
    {"CodedZeroRunPastN", kHuffFormCoded,
     FourSymbolCodeLengthCode().Code(3, 2).Put(5, 7).Put(0, 8).bytes(), 12, kMalformed},
    {"CodedShortZeroRunPastN", kHuffFormCoded,
     FourSymbolCodeLengthCode().Code(2, 2).Put(7, 3).Put(0, 8).bytes(), 6, kMalformed},
    {"CodedRunOutOfLengths", kHuffFormCoded, FourSymbolCodeLengthCode().Code(0, 2).bytes(), 40,
     kHuffDecEndOfInput},
    // Only 32 has a code (a 1-bit "0"); a "1" bit starts none.
    {"CodedUnassignedCodeLengthCode", kHuffFormCoded,
     BitOut().Put(0, 5).Put(1, 3).Put(0, 9).Put(0xFF, 8).Put(0xFF, 8).bytes(), 4, kHuffDecNoLeaf},
    // Lengths 1, 1, 1 read through the code: the tree refuses them.
    {"CodedLengthsOversubscribed", kHuffFormCoded, OnlyLengthOneCoded(3).bytes(), 3,
     kHuffDecOversubscribed},
};

INSTANTIATE_TEST_SUITE_P(Cases, HuffmanBadTable, ::testing::ValuesIn(kBadTables),
                         [](const auto& info) { return std::string(info.param.name); });

std::uint32_t ThirtyThree(std::uint32_t) noexcept {
  return 33;
}

TEST(HuffmanBadStream, DecoderAnswersEachFault) {
  Decoder dec(300);
  // An incomplete code: symbol 0 is "0", symbol 299 is "10"; "11" is unused.
  dec.lengths()[0] = 1;
  dec.lengths()[299] = 2;
  ASSERT_EQ(Dec().rebuildTree(dec.object), kOk);
  struct Case {
    const char* name;
    Bytes data;
    std::uint32_t count, width;
    HuffExtraBitsFn extra;
    StatusCode expect;
  } cases[] = {
      {"UnusedPattern", {0x0C}, 0, 1, nullptr, kHuffDecNoLeaf},
      {"ExtraAbove32", {0x00}, 1, 1, ThirtyThree, kHuffDecBadExtra},
      {"SymbolTooWideForWidth", {0x01}, 1, 1, nullptr, kBadArgument},
      {"WidthThree", {0x00}, 1, 3, nullptr, kBadArgument},
      {"MoreSymbolsThanInput", {0x00}, 9, 2, nullptr, kHuffDecEndOfInput},
      {"EmptyInputWithCount", {}, 1, 2, nullptr, kHuffDecEndOfInput},
  };
  for (const Case& c : cases) {
    Stream in(c.data), out;
    std::uint32_t written = 777;
    EXPECT_EQ(Dec().decodeRange(dec.object, c.count, in.object, 0, kHuffToEnd, c.width, c.extra,
                                out.object, 0, &written),
              c.expect)
        << c.name;
    EXPECT_EQ(written, 777u) << c.name;
  }
  // A tree that failed to build decodes nothing.
  dec.lengths()[1] = 1;
  EXPECT_EQ(Dec().rebuildTree(dec.object), kHuffDecOversubscribed);
  Stream in(Bytes{0x00}), out;
  EXPECT_EQ(Dec().decodeRange(dec.object, 1, in.object, 0, kHuffToEnd, 2, nullptr, out.object, 0,
                              nullptr),
            kHuffDecNoLeaf);
}

TEST(HuffmanBadStream, EncoderAnswersEachFault) {
  Encoder enc(300);
  enc.counts()[1] = 3;
  enc.counts()[2] = 1;
  ASSERT_EQ(Enc().buildCodes(enc.object, 15), kOk);
  struct Case {
    const char* name;
    Bytes data;
    std::uint32_t length, width;
    HuffExtraBitsFn extra;
    StatusCode expect;
  } cases[] = {
      {"WidthThree", {1, 0, 0}, kHuffToEnd, 3, nullptr, kHuffEncBadWidth},
      {"SymbolNotBelowN", {0x2C, 0x01}, kHuffToEnd, 2, nullptr, kHuffEncBadSymbol},
      {"ExtraAbove32", {1}, kHuffToEnd, 1, ThirtyThree, kHuffEncBadRecord},
      {"RecordCutShort", {1, 0, 2}, kHuffToEnd, 2, nullptr, kHuffEncBadRecord},
      {"LengthPastTheStream", {1, 0}, 4, 2, nullptr, kStreamShortRead},
  };
  for (const Case& c : cases) {
    Stream in(c.data), out;
    std::uint32_t written = 777;
    EXPECT_EQ(Enc().encodeRange(enc.object, 0, in.object, 0, c.length, c.width, c.extra, out.object,
                                0, &written),
              c.expect)
        << c.name;
    EXPECT_EQ(written, 777u) << c.name;
    EXPECT_EQ(Enc().measureRange(enc.object, 0, in.object, 0, c.length, c.width, c.extra, &written),
              c.expect)
        << c.name;
    EXPECT_EQ(Enc().countSymbols(enc.object, 0, in.object, 0, c.length, c.width, c.extra), c.expect)
        << c.name;
  }
  // Width 3 does nothing, not even the clearing it was asked for.
  Stream any(Bytes{1, 1, 1});
  EXPECT_EQ(Enc().countSymbols(enc.object, kHuffCountClear, any.object, 0, kHuffToEnd, 3, nullptr),
            kHuffEncBadWidth);
  EXPECT_EQ(enc.counts()[2], 1u);

  // A symbol in range but without a code cannot be sent.
  Stream noCode(Bytes{7}), out;
  EXPECT_EQ(Enc().encodeRange(enc.object, 0, noCode.object, 0, kHuffToEnd, 1, nullptr, out.object,
                              0, nullptr),
            kHuffEncBadSymbol);
  std::uint32_t size = 0;
  EXPECT_EQ(Enc().sizeFromCounts(enc.object, ThirtyThree, &size), kHuffEncBadRecord);
}

TEST(HuffmanBadStream, SinkFailuresAreReturned) {
  Encoder enc(2);
  enc.counts()[0] = enc.counts()[1] = 1;
  ASSERT_EQ(Enc().buildCodes(enc.object, 15), kOk);
  Stream source(Bytes(100, 1));
  EXPECT_EQ(Enc().encodeRange(enc.object, 0, source.object, 0, kHuffToEnd, 1, nullptr, nullptr, 0,
                              nullptr),
            kHuffEncNoSink);
  EXPECT_EQ(Enc().writeTable(enc.object, kHuffFormCoded, nullptr, 0, nullptr), kHuffEncNoSink);
  EXPECT_EQ(Enc().writeTable(enc.object, 4, nullptr, 0, nullptr), kFailed);
  EngineObject* readOnly = nullptr;
  ASSERT_EQ(MemStream_Create(g_MemStreamModule, nullptr, 0, 0, 0, &readOnly), kOk);
  EXPECT_EQ(Enc().encodeRange(enc.object, 0, source.object, 0, kHuffToEnd, 1, nullptr, readOnly, 0,
                              nullptr),
            kStreamShortWrite);
  EXPECT_EQ(StreamOf(readOnly).close(readOnly), kOk);
}

TEST(HuffmanModules, CreateLimitsAndTheSharedArraySlot) {
  EngineObject* o = nullptr;
  EXPECT_EQ(Enc().create(g_HuffEncoderModule, 0, &o), kBadArgument);
  EXPECT_EQ(Dec().create(g_HuffDecoderModule, kHuffMaxAlphabet + 1, &o), kOutOfMemory);
  EXPECT_EQ(o, nullptr);
  // GetArray serves both: the counts of an encoder, the lengths of a decoder.
  Encoder enc(5);
  Decoder dec(5);
  void* a = nullptr;
  ASSERT_EQ(HuffCoder_GetArray(enc.object, &a), kOk);
  EXPECT_EQ(a, BodyOf<HuffEncoderBody>(enc.object).counts);
  ASSERT_EQ(HuffCoder_GetArray(dec.object, &a), kOk);
  EXPECT_EQ(a, BodyOf<HuffDecoderBody>(dec.object).lengths);
  EXPECT_EQ(Dec().destroy(enc.object), kBadArgument);  // the wrong class is refused
}

}  // namespace
