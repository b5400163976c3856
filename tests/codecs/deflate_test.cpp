#include "engine/codecs/deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "engine/codecs/inflate.h"
#include "engine/runtime/checksum.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "tests/codecs/deflate_bits.h"
#include "tests/support/test_streams.h"

namespace {

using deflate_test::Bytes;
using deflate_test::MakeData;

EngineObject* NewStream(const Bytes& bytes = {}) {
  return test_streams::NewMemStream(bytes);
}
Bytes Contents(EngineObject* s) {
  return test_streams::Contents<Bytes>(s);
}

const DeflateOps& Ops() {
  return OpsOf<DeflateOps>(g_DeflateModule);
}

struct Encoder {
  explicit Encoder(std::uint32_t blockSize = kDeflateStandardBlockSize) {
    EXPECT_EQ(Ops().create(g_DeflateModule, blockSize, &object), kOk);
  }
  ~Encoder() {
    if (object != nullptr) {
      EXPECT_EQ(Ops().destroy(object), kOk);
    }
  }
  DeflateBody& body() { return BodyOf<DeflateBody>(object); }
  EngineObject* object = nullptr;
};

// Compresses data with CompressRange into a memory stream; the encoder's
// answer goes to *status.
Bytes Compress(const Bytes& data, std::uint32_t blockSize, StatusCode* status = nullptr) {
  Encoder e(blockSize);
  EngineObject* source = NewStream(data);
  EngineObject* sink = NewStream();
  StatusCode s = Ops().setOutputSink(e.object, sink, 0);
  if (s == kOk)
    s = Ops().compressRange(e.object, source, 0, static_cast<std::uint32_t>(data.size()), nullptr,
                            nullptr);
  std::uint32_t written = 0;
  if (s == kOk) s = Ops().flush(e.object, &written);
  Bytes out = Contents(sink);
  EXPECT_EQ(written, out.size());
  EXPECT_EQ(StreamOf(source).close(source), kOk);
  EXPECT_EQ(StreamOf(sink).close(sink), kOk);
  if (status != nullptr) *status = s;
  return out;
}

// zlib's raw inflate; true only when the stream ends exactly at the last byte.
bool ZlibInflate(const Bytes& compressed, Bytes& out, std::size_t expected) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  out.assign(expected + 1, 0);
  z.next_in = const_cast<std::uint8_t*>(compressed.data());
  z.avail_in = static_cast<uInt>(compressed.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int r = inflate(&z, Z_FINISH);
  const bool ok = r == Z_STREAM_END && z.avail_in == 0;
  out.resize(z.total_out);
  inflateEnd(&z);
  return ok;
}

Bytes WithRuns(std::size_t size, std::uint32_t seed) {
  Bytes out = MakeData(size, 1, seed);
  std::mt19937 rng(seed);
  for (std::size_t at = 0; at + 2000 < size; at += 5000 + rng() % 3000)
    std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(at), 300 + rng() % 1500,
                static_cast<std::uint8_t>(rng()));
  return out;
}

struct Corpus {
  const char* name;
  Bytes data;
};

std::vector<Corpus> TheCorpus() {
  Bytes all(256);
  std::iota(all.begin(), all.end(), 0);
  return {
      {"one byte", Bytes{'x'}},
      {"two bytes", Bytes{'x', 'y'}},
      {"three equal bytes", Bytes(3, 'z')},
      {"258-byte run", Bytes(258, 'a')},
      {"259-byte run", Bytes(259, 'a')},
      {"100000 zeros", Bytes(100000, 0)},
      {"all byte values", all},
      {"random 300000", MakeData(300000, 0, 5)},
      {"text 32767", MakeData(32767, 1, 6)},
      {"text 32768", MakeData(32768, 1, 7)},
      {"text 32769", MakeData(32769, 1, 8)},
      {"text with runs 400000", WithRuns(400000, 9)},
      {"runs 200000", MakeData(200000, 2, 10)},
  };
}

TEST(DeflateModule, CreateRefusesBlockSizesOutsideItsRange) {
  EngineObject* e = nullptr;
  EXPECT_EQ(Ops().create(g_DeflateModule, 0, &e), kBadArgument);
  EXPECT_EQ(Ops().create(g_DeflateModule, kDeflateMaxBlockSize + 1, &e), kBadArgument);
  EXPECT_EQ(e, nullptr);
}

// The strongest oracle: zlib inflates every output back to its input, for
// block sizes below, at and above the 32 KiB window.
TEST(DeflateZlibPeer, ZlibInflatesEveryBlockSizeBackToTheInput) {
  for (const Corpus& c : TheCorpus()) {
    for (std::uint32_t blockSize : {1000u, 32768u, 65535u}) {
      SCOPED_TRACE(testing::Message() << c.name << ", block size " << blockSize);
      StatusCode s = kFailed;
      const Bytes compressed = Compress(c.data, blockSize, &s);
      ASSERT_EQ(s, kOk);
      Bytes back;
      ASSERT_TRUE(ZlibInflate(compressed, back, c.data.size()));
      EXPECT_EQ(back, c.data);
    }
  }
}

TEST(DeflateZlibPeer, TextCompressesWellAndRandomDataBarelyGrows) {
  const Bytes text = MakeData(1 << 20, 1, 21);
  const Bytes random = MakeData(1 << 20, 0, 22);
  const double textRatio = static_cast<double>(Compress(text, 32768).size()) / text.size();
  const double zlibText =
      static_cast<double>(deflate_test::ZlibDeflate(text, 6, Z_DEFAULT_STRATEGY).size()) /
      text.size();
  const double randomRatio = static_cast<double>(Compress(random, 32768).size()) / random.size();
  // Without history across 32 KiB blocks the encoder stays within a fair
  // margin of zlib; dynamic blocks only cost little on random bytes.
  EXPECT_LT(textRatio, zlibText * 1.4) << textRatio << " vs zlib " << zlibText;
  EXPECT_LT(randomRatio, 1.01);
}

// An empty range still gives a complete stream: one empty final block.
TEST(DeflateEdges, EmptyRangeWritesOneEmptyFinalBlock) {
  StatusCode s = kFailed;
  const Bytes compressed = Compress({}, 32768, &s);
  ASSERT_EQ(s, kOk);
  ASSERT_FALSE(compressed.empty());
  EXPECT_EQ(compressed[0] & 7, 5);  // BFINAL, dynamic
  Bytes back;
  EXPECT_TRUE(ZlibInflate(compressed, back, 0));
  EXPECT_TRUE(back.empty());
}

TEST(DeflateEdges, ShortBlocksAreLiteralsAndRunsAreDistanceOneMatches) {
  Encoder e(4096);
  std::uint32_t count = 0;
  const std::uint8_t* symbols = nullptr;
  const std::uint16_t* distances = nullptr;
  const Bytes two = {'a', 'a'};
  ASSERT_EQ(Ops().matchBlock(e.object, two.data(), 2, &count, &symbols, &distances), kOk);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(distances[0], 0);
  EXPECT_EQ(distances[1], 0);

  const Bytes run(1 + 258 + 258 + 10, 'q');
  ASSERT_EQ(Ops().matchBlock(e.object, run.data(), static_cast<std::uint32_t>(run.size()), &count,
                             &symbols, &distances),
            kOk);
  ASSERT_EQ(count, 4u);
  EXPECT_EQ(distances[0], 0);
  EXPECT_EQ(symbols[0], 'q');
  for (std::uint32_t k = 1; k < 4; ++k)
    EXPECT_EQ(distances[k], 1) << k;
  EXPECT_EQ(symbols[1], 255);  // 258
  EXPECT_EQ(symbols[2], 255);
  EXPECT_EQ(symbols[3], 10 - 3);
  // Counts gather over both blocks: four literals and two end-of-block codes.
  EXPECT_EQ(e.body().literalCounts[unsigned{'a'}], 2u);
  EXPECT_EQ(e.body().literalCounts[unsigned{'q'}], 1u);
  EXPECT_EQ(e.body().literalCounts[285], 2u);
  EXPECT_EQ(e.body().literalCounts[256], 2u);
  EXPECT_EQ(e.body().distanceCounts[0], 3u);

  EXPECT_EQ(Ops().matchBlock(e.object, run.data(), 4097, nullptr, nullptr, nullptr),
            kDeflateBlockTooLarge);
  ASSERT_EQ(Ops().clearCounts(e.object), kOk);
  EXPECT_EQ(e.body().literalCounts[256], 0u);
}

// Blocks above 32 KiB never reach further back than 32768 bytes.
TEST(DeflateEdges, DistancesStayWithinTheWindowForLargeBlocks) {
  Bytes data = MakeData(65535, 0, 31);
  std::copy_n(data.begin(), 20000, data.begin() + 40000);  // repeats at distance 40000 only
  Encoder e(65535);
  std::uint32_t count = 0;
  const std::uint16_t* distances = nullptr;
  ASSERT_EQ(Ops().matchBlock(e.object, data.data(), 65535, &count, nullptr, &distances), kOk);
  for (std::uint32_t k = 0; k < count; ++k)
    ASSERT_LE(distances[k], kDeflateMaxDistance) << k;
  Bytes back;
  ASSERT_TRUE(ZlibInflate(Compress(data, 65535), back, data.size()));
  EXPECT_EQ(back, data);
}

// Lazy matching: "abcd" then "bcdefgh..." prefers the longer match one byte on.
TEST(DeflateEdges, LazyMatchingTakesTheLongerMatchAtTheNextByte) {
  const std::string text =
      "abcXbcdefghijY"
      "abcdefghijZ";
  Encoder e(1024);
  std::uint32_t count = 0;
  const std::uint8_t* symbols = nullptr;
  const std::uint16_t* distances = nullptr;
  ASSERT_EQ(Ops().matchBlock(e.object, text.data(), static_cast<std::uint32_t>(text.size()), &count,
                             &symbols, &distances),
            kOk);
  // At 14 "abc" matches 3 bytes at distance 14; at 15 "bcdefghij" matches 9 at 11.
  std::vector<std::pair<int, int>> matches;
  for (std::uint32_t k = 0; k < count; ++k)
    if (distances[k] != 0) matches.emplace_back(symbols[k] + 3, distances[k]);
  ASSERT_EQ(matches.size(), 1u);
  EXPECT_EQ(matches[0], (std::pair<int, int>{9, 11}));
}

// Block-by-block driving through the slots, into a caller buffer.
TEST(DeflateSlots, BlockByBlockIntoACallerBufferMatchesCompressRange) {
  const Bytes data = MakeData(70000, 1, 41);
  Encoder e(32768);
  Bytes buffer(100000);
  ASSERT_EQ(
      Ops().setOutputBuffer(e.object, buffer.data(), static_cast<std::uint32_t>(buffer.size())),
      kOk);
  for (std::uint32_t at = 0; at < data.size(); at += 32768) {
    const std::uint32_t n =
        std::min<std::uint32_t>(32768, static_cast<std::uint32_t>(data.size()) - at);
    ASSERT_EQ(Ops().clearCounts(e.object), kOk);
    ASSERT_EQ(Ops().matchBlock(e.object, data.data() + at, n, nullptr, nullptr, nullptr), kOk);
    ASSERT_EQ(Ops().buildBlockCodes(e.object, 0), kOk);
    ASSERT_EQ(Ops().writeBlockHeader(e.object, at + n == data.size(), 1, 1), kOk);
    ASSERT_EQ(Ops().writeCodeTables(e.object), kOk);
    ASSERT_EQ(Ops().compressBlock(e.object, 0, nullptr, nullptr), kOk);
  }
  std::uint32_t written = 0;
  ASSERT_EQ(Ops().flush(e.object, &written), kOk);
  buffer.resize(written);
  EXPECT_EQ(buffer, Compress(data, 32768));

  // The header's bit count matches what the parsed header takes.
  deflate_test::DynamicHeader header;
  ASSERT_TRUE(deflate_test::ParseDynamicHeader(buffer, header));
  EXPECT_FALSE(header.final);

  // A buffer that is too small answers "full", never writes past its end.
  Bytes small(64 + 8, 0xEE);
  ASSERT_EQ(Ops().setOutputBuffer(e.object, small.data(), 64), kOk);
  ASSERT_EQ(Ops().clearCounts(e.object), kOk);
  ASSERT_EQ(Ops().matchBlock(e.object, data.data(), 32768, nullptr, nullptr, nullptr), kOk);
  ASSERT_EQ(Ops().buildBlockCodes(e.object, 0), kOk);
  StatusCode s = Ops().writeBlockHeader(e.object, 1, 1, 1);
  if (s == kOk) s = Ops().writeCodeTables(e.object);
  if (s == kOk) s = Ops().compressBlock(e.object, 0, nullptr, nullptr);
  if (s == kOk) s = Ops().flush(e.object, nullptr);
  EXPECT_EQ(s, kDeflateOutputFull);
  EXPECT_TRUE(
      std::all_of(small.begin() + 64, small.end(), [](std::uint8_t b) { return b == 0xEE; }));
}

TEST(DeflateSlots, HeaderBitsAndTablesFollowTheBuiltCodes) {
  const Bytes data = WithRuns(30000, 51);
  Encoder e(32768);
  Bytes buffer(40000);
  ASSERT_EQ(Ops().setOutputBuffer(e.object, buffer.data(), 40000), kOk);
  ASSERT_EQ(Ops().matchBlock(e.object, data.data(), 30000, nullptr, nullptr, nullptr), kOk);
  ASSERT_EQ(Ops().buildBlockCodes(e.object, 0), kOk);
  ASSERT_EQ(Ops().writeBlockHeader(e.object, 1, 1, 1), kOk);
  ASSERT_EQ(Ops().writeCodeTables(e.object), kOk);
  ASSERT_EQ(Ops().compressBlock(e.object, 0, nullptr, nullptr), kOk);
  std::uint32_t written = 0;
  ASSERT_EQ(Ops().flush(e.object, &written), kOk);
  buffer.resize(written);
  deflate_test::DynamicHeader header;
  ASSERT_TRUE(deflate_test::ParseDynamicHeader(buffer, header));
  EXPECT_TRUE(header.final);
  EXPECT_EQ(header.tablesEnd, e.body().headerBits);
  const DeflateBody& b = e.body();
  ASSERT_EQ(header.literalLengths.size(), b.literalCodesSent);
  ASSERT_EQ(header.distanceLengths.size(), b.distanceCodesSent);
  EXPECT_TRUE(
      std::equal(header.literalLengths.begin(), header.literalLengths.end(), b.literalLengths));
  EXPECT_TRUE(
      std::equal(header.distanceLengths.begin(), header.distanceLengths.end(), b.distanceLengths));
  Bytes back;
  ASSERT_TRUE(ZlibInflate(buffer, back, data.size()));
  EXPECT_EQ(back, data);
}

// The count of the t-th most frequent literal byte (ties: the smaller byte),
// or of the last non-zero one among the first t.
std::uint32_t TopLiteralCount(const std::uint32_t* counts, std::uint32_t t) {
  std::vector<std::pair<std::uint32_t, int>> order;
  for (int c = 0; c < 256; ++c)
    order.emplace_back(counts[c], -c);
  std::sort(order.rbegin(), order.rend());
  std::uint32_t last = 0;
  for (std::uint32_t k = 0; k < std::min<std::uint32_t>(t, 20); ++k)
    if (order[k].first != 0) last = order[k].first;
  return last;
}

TEST(DeflateSlots, TopLiteralsOptionSetsTheCountOfLiteralZero) {
  const Bytes data = MakeData(3000, 1, 61);
  for (std::uint32_t t : {1u, 3u, 20u, 1000u}) {
    SCOPED_TRACE(t);
    Encoder e(4096);
    ASSERT_EQ(Ops().matchBlock(e.object, data.data(), static_cast<std::uint32_t>(data.size()),
                               nullptr, nullptr, nullptr),
              kOk);
    const std::uint32_t expected = TopLiteralCount(e.body().literalCounts, t);
    ASSERT_GT(expected, 0u);
    ASSERT_EQ(Ops().buildBlockCodes(e.object, t), kOk);
    EXPECT_EQ(e.body().literalCounts[0], expected);
    EXPECT_NE(e.body().literalLengths[0], 0);
  }
  // Few distinct literals: the least frequent non-zero one of them counts.
  const Bytes two = {'a', 'b', 'b'};
  Encoder e(16);
  ASSERT_EQ(Ops().matchBlock(e.object, two.data(), 3, nullptr, nullptr, nullptr), kOk);
  ASSERT_EQ(Ops().buildBlockCodes(e.object, 5), kOk);
  EXPECT_EQ(e.body().literalCounts[0], 1u);
}

TEST(DeflateSlots, MisuseIsRefused) {
  Encoder e(1024);
  Bytes out(100);
  EXPECT_EQ(Ops().writeCodeTables(e.object), kBadArgument);  // no codes yet
  EXPECT_EQ(Ops().compressBlock(e.object, 0, nullptr, nullptr), kBadArgument);
  EXPECT_EQ(Ops().writeBlockHeader(e.object, 1, 1, 1), kBadArgument);  // no output yet
  ASSERT_EQ(Ops().setOutputBuffer(e.object, out.data(), 100), kOk);
  const Bytes text = {'a', 'b', 'a', 'b'};
  ASSERT_EQ(Ops().matchBlock(e.object, text.data(), 4, nullptr, nullptr, nullptr), kOk);
  ASSERT_EQ(Ops().buildBlockCodes(e.object, 0), kOk);
  const std::uint8_t uncounted = 'z';
  const std::uint16_t literal = 0;
  EXPECT_EQ(Ops().compressBlock(e.object, 1, &uncounted, &literal), kBadArgument);
  const std::uint8_t length = 0;
  const std::uint16_t tooFar = 40000;
  EXPECT_EQ(Ops().compressBlock(e.object, 1, &length, &tooFar), kBadArgument);

  // A sink position that would pass 4 GiB is refused, not wrapped.
  EngineObject* sink = NewStream();
  const Bytes random = MakeData(4096, 0, 3);
  ASSERT_EQ(Ops().setOutputSink(e.object, sink, 0xFFFFFF00u), kOk);
  ASSERT_EQ(Ops().matchBlock(e.object, random.data(), 1024, nullptr, nullptr, nullptr), kOk);
  ASSERT_EQ(Ops().buildBlockCodes(e.object, 0), kOk);
  StatusCode s = Ops().writeBlockHeader(e.object, 1, 1, 1);
  if (s == kOk) s = Ops().writeCodeTables(e.object);
  if (s == kOk) s = Ops().compressBlock(e.object, 0, nullptr, nullptr);
  if (s == kOk) s = Ops().flush(e.object, nullptr);
  EXPECT_EQ(s, kDeflateOutputFull);
  std::uint32_t size = 0;
  EXPECT_EQ(StreamOf(sink).getSize(sink, &size), kOk);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(StreamOf(sink).close(sink), kOk);

  // A source shorter than the range.
  EngineObject* source = NewStream(Bytes(10, 'a'));
  EXPECT_EQ(Ops().compressRange(e.object, source, 0, 11, nullptr, nullptr), kStreamShortRead);
  EXPECT_EQ(StreamOf(source).close(source), kOk);
}

TEST(DeflateSlots, CompressRangeKeepsTheRunningChecksums) {
  const Bytes data = MakeData(100000, 1, 71);
  Encoder e(32768);
  EngineObject* source = NewStream(data);
  EngineObject* sink = NewStream();
  ASSERT_EQ(Ops().setOutputSink(e.object, sink, 5), kOk);
  std::uint32_t crc = 0xFFFFFFFFu, adler = 1;
  ASSERT_EQ(Ops().compressRange(e.object, source, 0, 100000, &crc, &adler), kOk);
  ASSERT_EQ(Ops().flush(e.object, nullptr), kOk);
  EXPECT_EQ(~crc, crc32(0, data.data(), 100000));
  EXPECT_EQ(adler, adler32(1, data.data(), 100000));
  // The output began at the sink position given.
  Bytes compressed = Contents(sink);
  compressed.erase(compressed.begin(), compressed.begin() + 5);
  Bytes back;
  EXPECT_TRUE(ZlibInflate(compressed, back, data.size()));
  EXPECT_EQ(back, data);
  EXPECT_EQ(StreamOf(source).close(source), kOk);
  EXPECT_EQ(StreamOf(sink).close(sink), kOk);
}

// The engine's own inflate module reads what the encoder writes.
TEST(DeflateRoundTrip, InflateModuleDecodesTheEncoderOutput) {
  const Bytes data = WithRuns(200000, 81);
  const Bytes compressed = Compress(data, 32768);
  const InflateOps& in = OpsOf<InflateOps>(g_InflateModule);
  EngineObject* d = nullptr;
  ASSERT_EQ(in.create(g_InflateModule, kInflateStandardWindow, &d), kOk);
  EngineObject* source = NewStream(compressed);
  EngineObject* sink = NewStream();
  BodyOf<InflateBody>(d).output.sink = sink;
  ASSERT_EQ(in.setInput(d, source, 0), kOk);
  EXPECT_EQ(in.decodeToSink(d, nullptr, 0), kInflateEndOfStream);
  EXPECT_EQ(Contents(sink), data);
  EXPECT_EQ(BodyOf<InflateBody>(d).consumed, compressed.size());
  EXPECT_EQ(in.destroy(d), kOk);
  EXPECT_EQ(StreamOf(source).close(source), kOk);
  EXPECT_EQ(StreamOf(sink).close(sink), kOk);
}

// ---- The length-limited code builder --------------------------------------

std::uint64_t Cost(const std::vector<std::uint32_t>& counts,
                   const std::vector<std::uint8_t>& lengths) {
  std::uint64_t c = 0;
  for (std::size_t s = 0; s < counts.size(); ++s)
    c += std::uint64_t{counts[s]} * lengths[s];
  return c;
}

// Cost of an unrestricted Huffman code (sum of the merged weights).
std::uint64_t HuffmanCost(const std::vector<std::uint32_t>& counts) {
  std::priority_queue<std::uint64_t, std::vector<std::uint64_t>, std::greater<>> q;
  for (auto c : counts)
    if (c != 0) q.push(c);
  std::uint64_t cost = 0;
  while (q.size() > 1) {
    const auto a = q.top();
    q.pop();
    const auto b = q.top();
    q.pop();
    cost += a + b;
    q.push(a + b);
  }
  return cost;
}

void ExpectCompleteCode(const std::vector<std::uint8_t>& lengths, unsigned maxBits) {
  std::uint64_t kraft = 0;
  for (auto l : lengths) {
    ASSERT_LE(l, maxBits);
    if (l != 0) kraft += std::uint64_t{1} << (maxBits - l);
  }
  EXPECT_EQ(kraft, std::uint64_t{1} << maxBits);
}

TEST(DeflateCodeBuilder, OptimalWhenTheLimitDoesNotBindAndCompleteWhenItDoes) {
  std::mt19937 rng(91);
  for (int round = 0; round < 50; ++round) {
    std::vector<std::uint32_t> counts(286);
    for (auto& c : counts)
      c = rng() % 3 == 0 ? 0 : rng() % 1000;
    std::vector<std::uint8_t> lengths(286);
    ASSERT_TRUE(Deflate_BuildCodeLengths(counts.data(), 286, 15, lengths.data()));
    ExpectCompleteCode(lengths, 15);
    EXPECT_EQ(Cost(counts, lengths), HuffmanCost(counts));
    for (std::size_t s = 0; s < 286; ++s)
      EXPECT_EQ(lengths[s] == 0, counts[s] == 0);
  }
  // Fibonacci counts make a Huffman tree as deep as there are symbols.
  std::vector<std::uint32_t> fib(30);
  fib[0] = fib[1] = 1;
  for (std::size_t k = 2; k < fib.size(); ++k)
    fib[k] = fib[k - 1] + fib[k - 2];
  for (unsigned maxBits : {7u, 15u}) {
    std::vector<std::uint8_t> lengths(30);
    ASSERT_TRUE(Deflate_BuildCodeLengths(fib.data(), 30, maxBits, lengths.data()));
    ExpectCompleteCode(lengths, maxBits);
    // More frequent symbols never get longer codes.
    for (std::size_t k = 1; k < 30; ++k)
      EXPECT_LE(lengths[k], lengths[k - 1]);
  }
}

TEST(DeflateCodeBuilder, NoneOrOneUsedSymbolStillGivesTwoCodes) {
  struct Case {
    std::vector<std::uint32_t> counts;
    std::vector<std::uint8_t> expected;
  };
  const Case cases[] = {
      {{0, 0, 0, 0}, {1, 1, 0, 0}},
      {{0, 0, 7, 0}, {1, 0, 1, 0}},
      {{7, 0, 0, 0}, {1, 1, 0, 0}},
      {{0, 3, 0, 0}, {1, 1, 0, 0}},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> lengths(4, 9);
    ASSERT_TRUE(Deflate_BuildCodeLengths(c.counts.data(), 4, 15, lengths.data()));
    EXPECT_EQ(lengths, c.expected);
  }
  std::vector<std::uint8_t> lengths(300);
  std::vector<std::uint32_t> counts(300, 1);
  EXPECT_FALSE(Deflate_BuildCodeLengths(counts.data(), 300, 15, lengths.data()));
  EXPECT_FALSE(Deflate_BuildCodeLengths(counts.data(), 19, 4, lengths.data()));  // 19 > 16 codes
}

TEST(DeflateCodeBuilder, CanonicalCodesAreTheRfcExampleBitReversed) {
  // RFC 1951 section 3.2.2: lengths (3, 3, 3, 3, 3, 2, 4, 4) give
  // 010 011 100 101 110 00 1110 1111.
  const std::uint8_t lengths[8] = {3, 3, 3, 3, 3, 2, 4, 4};
  std::uint16_t codes[8];
  Deflate_CanonicalCodes(lengths, 8, codes);
  const std::uint16_t expected[8] = {0b010, 0b110, 0b001, 0b101, 0b011, 0b00, 0b0111, 0b1111};
  for (int s = 0; s < 8; ++s)
    EXPECT_EQ(codes[s], expected[s]) << s;
}

}  // namespace
