#include "engine/codecs/inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "tests/codecs/counting_sink.h"
#include "tests/codecs/deflate_bits.h"
#include "tests/support/test_streams.h"

namespace {

using deflate_test::BitWriter;
using deflate_test::Bytes;
using deflate_test::CanonicalCodes;

EngineObject* NewStream(const Bytes& bytes = {}) {
  return test_streams::NewMemStream(bytes);
}
Bytes Contents(EngineObject* s) {
  return test_streams::Contents<Bytes>(s);
}

const InflateOps& Ops() {
  return OpsOf<InflateOps>(g_InflateModule);
}

StatusCode DecodeAll(const Bytes& stream, std::string* output = nullptr);

// A decoder with its sink, released at the end of the test.
struct Decoder {
  explicit Decoder(std::uint32_t window = kInflateStandardWindow) {
    EXPECT_EQ(Ops().create(g_InflateModule, window, &object), kOk);
    sink = NewStream();
    body().output.sink = sink;
    body().output.keepCrc32 = true;
    body().output.keepAdler32 = true;
  }
  ~Decoder() {
    if (object != nullptr) {
      EXPECT_EQ(Ops().destroy(object), kOk);
    }
    if (source != nullptr) {
      EXPECT_EQ(StreamOf(source).close(source), kOk);
    }
    EXPECT_EQ(StreamOf(sink).close(sink), kOk);
  }
  InflateBody& body() { return BodyOf<InflateBody>(object); }
  StatusCode Pull(const Bytes& compressed, EngineObject* observer = nullptr) {
    source = NewStream(compressed);
    EXPECT_EQ(Ops().setInput(object, source, 0), kOk);
    return Ops().decodeToSink(object, observer, 0);
  }
  EngineObject* object = nullptr;
  EngineObject* sink = nullptr;
  EngineObject* source = nullptr;
};

std::uint32_t ZlibCrc(const Bytes& b) {
  return static_cast<std::uint32_t>(crc32(0, b.data(), static_cast<uInt>(b.size())));
}
std::uint32_t ZlibAdler(const Bytes& b) {
  return static_cast<std::uint32_t>(adler32(1, b.data(), static_cast<uInt>(b.size())));
}

struct PeerCase {
  int level;
  int strategy;
  int kind;  // MakeData kind
  std::size_t size;
};

const PeerCase kPeerCases[] = {
    {0, Z_DEFAULT_STRATEGY, 0, 100000},  // stored blocks
    {1, Z_DEFAULT_STRATEGY, 1, 200000},
    {6, Z_DEFAULT_STRATEGY, 1, 300000},
    {9, Z_DEFAULT_STRATEGY, 2, 300000},
    {9, Z_DEFAULT_STRATEGY, 0, 70000},
    {6, Z_FILTERED, 1, 150000},
    {6, Z_HUFFMAN_ONLY, 1, 150000},
    {6, Z_RLE, 2, 250000},
    {6, Z_FIXED, 1, 150000},  // fixed codes
    {9, Z_FIXED, 2, 100000},
    {6, Z_DEFAULT_STRATEGY, 1, 1},
    {6, Z_DEFAULT_STRATEGY, 1, 0},
    {9, Z_DEFAULT_STRATEGY, 2, 32768 * 3 + 7},
};

TEST(InflateZlibPeer, PullModeMatchesZlibBytesAndChecksums) {
  std::uint32_t seed = 1;
  for (const PeerCase& c : kPeerCases) {
    SCOPED_TRACE(testing::Message() << "level " << c.level << " strategy " << c.strategy << " kind "
                                    << c.kind << " size " << c.size);
    const Bytes data = deflate_test::MakeData(c.size, c.kind, seed++);
    Bytes compressed = deflate_test::ZlibDeflate(data, c.level, c.strategy);
    const std::size_t length = compressed.size();
    compressed.insert(compressed.end(), {0xDE, 0xAD, 0xBE, 0xEF});  // not part of the stream
    Decoder d;
    ASSERT_EQ(d.Pull(compressed), kInflateEndOfStream);
    EXPECT_EQ(Contents(d.sink), data);
    EXPECT_EQ(d.body().output.crc32, ZlibCrc(data));
    EXPECT_EQ(d.body().output.adler32, ZlibAdler(data));
    EXPECT_EQ(d.body().produced, data.size());
    EXPECT_EQ(d.body().consumed, length);
  }
}

TEST(InflateZlibPeer, FeedModeWithRandomPushSizesMatchesZlib) {
  std::mt19937 rng(77);
  std::uint32_t seed = 100;
  for (const PeerCase& c : kPeerCases) {
    for (std::uint32_t maxPush : {1u, 7u, 700u, 70000u}) {
      if (maxPush == 1 && c.size > 100000) continue;  // keep single-byte pushes quick
      SCOPED_TRACE(testing::Message() << "level " << c.level << " strategy " << c.strategy
                                      << " size " << c.size << " max push " << maxPush);
      const Bytes data = deflate_test::MakeData(c.size, c.kind, seed++);
      Bytes compressed = deflate_test::ZlibDeflate(data, c.level, c.strategy);
      const std::size_t length = compressed.size();
      compressed.insert(compressed.end(), 9, 0x55);
      Decoder d;
      ASSERT_EQ(Ops().beginFeed(d.object), kOk);
      StatusCode s = kOk;
      std::size_t at = 0;
      while (at < compressed.size() && s == kOk) {
        const std::size_t n = std::min<std::size_t>(1 + rng() % maxPush, compressed.size() - at);
        s = Ops().feed(d.object, compressed.data() + at, static_cast<std::uint32_t>(n), nullptr);
        at += n;
      }
      ASSERT_EQ(s, kInflateEndOfStream);
      EXPECT_EQ(Ops().endFeed(d.object), kOk);
      EXPECT_EQ(Contents(d.sink), data);
      EXPECT_EQ(d.body().output.crc32, ZlibCrc(data));
      EXPECT_EQ(d.body().output.adler32, ZlibAdler(data));
      EXPECT_EQ(d.body().consumed, length);
    }
  }
}

TEST(InflateZlibPeer, DecodeToBufferInRandomPiecesMatchesZlib) {
  std::mt19937 rng(5);
  for (int kind = 0; kind < 3; ++kind) {
    const Bytes data = deflate_test::MakeData(200000, kind, 40 + kind);
    const Bytes compressed = deflate_test::ZlibDeflate(data, 9, Z_DEFAULT_STRATEGY);
    Decoder d(1024);  // a small window that wraps many times; zlib may reach 32 KiB back
    Decoder big;
    big.source = NewStream(compressed);
    ASSERT_EQ(Ops().setInput(big.object, big.source, 0), kOk);
    Bytes out;
    StatusCode s = kOk;
    while (s == kOk) {
      Bytes piece(1 + rng() % 3000);
      std::uint32_t got = 0;
      s = Ops().decodeToBuffer(big.object, piece.data(), static_cast<std::uint32_t>(piece.size()),
                               &got);
      ASSERT_FALSE(IsFailure(s));
      ASSERT_LE(got, piece.size());
      out.insert(out.end(), piece.begin(), piece.begin() + got);
    }
    EXPECT_EQ(s, kInflateEndOfStream);
    EXPECT_EQ(out, data);
    EXPECT_EQ(big.body().output.crc32, ZlibCrc(data));
    EXPECT_TRUE(Contents(big.sink).empty());  // a caller buffer takes the place of the sink
  }
}

// zlib's inflate of a raw stream; false when zlib refuses it or it does not end.
bool ZlibInflate(const Bytes& in, Bytes& out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  out.assign(1u << 20, 0);
  z.next_in = const_cast<std::uint8_t*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int r = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  return r == Z_STREAM_END;
}

TEST(InflateZlibPeer, DamagedStreamsAgreeWithZlibWhereZlibDecodes) {
  // zlib is the stricter decoder (it refuses incomplete codes): whatever it
  // decodes, the module decodes to the same bytes; whatever both decode agrees.
  std::mt19937 rng(2024);
  int zlibDecoded = 0, bothFailed = 0;
  for (int round = 0; round < 600; ++round) {
    const Bytes data = deflate_test::MakeData(200 + rng() % 3000, 1 + round % 2, round);
    const int strategy = round % 3 == 0 ? Z_FIXED : Z_DEFAULT_STRATEGY;
    Bytes stream = deflate_test::ZlibDeflate(data, 1 + round % 9, strategy);
    for (int flips = 1 + rng() % 3; flips > 0; --flips) {
      stream[rng() % stream.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
    }
    if (rng() % 4 == 0) stream.resize(rng() % stream.size());
    Bytes theirs;
    const bool zlibOk = ZlibInflate(stream, theirs);
    std::string mine;
    const StatusCode s = DecodeAll(stream, &mine);
    SCOPED_TRACE(testing::Message() << "round " << round);
    if (zlibOk) {
      ++zlibDecoded;
      ASSERT_EQ(s, kInflateEndOfStream);
      ASSERT_EQ(Bytes(mine.begin(), mine.end()), theirs);
    } else if (s == kInflateEndOfStream) {
      EXPECT_EQ(
          theirs.size() <= mine.size() && std::equal(theirs.begin(), theirs.end(), mine.begin()),
          true);
    } else {
      ++bothFailed;
      EXPECT_TRUE(IsFailure(s));
      EXPECT_EQ(FacilityOf(s), Facility::Inflate);
    }
  }
  EXPECT_GT(zlibDecoded, 10);
  EXPECT_GT(bothFailed, 100);
}

// What a decoding run leaves behind, for holding the fast loop against the
// careful one.
struct RunOutcome {
  StatusCode status;
  Bytes bytes;
  std::uint32_t crc32, adler32, produced, consumed;
  bool operator==(const RunOutcome&) const = default;
};

// Pull mode, to the sink (pieces == 0) or through caller buffers of seeded
// random sizes.
RunOutcome RunStream(const Bytes& stream, std::uint32_t window, std::uint32_t pieces) {
  Decoder d(window);
  if (pieces == 0) {
    const StatusCode s = d.Pull(stream);
    return {s,
            Contents(d.sink),
            d.body().output.crc32,
            d.body().output.adler32,
            d.body().produced,
            d.body().consumed};
  }
  d.source = NewStream(stream);
  EXPECT_EQ(Ops().setInput(d.object, d.source, 0), kOk);
  std::mt19937 rng(pieces);
  RunOutcome out{kOk, {}, 0, 0, 0, 0};
  for (int round = 0; round < 100000; ++round) {
    const std::uint32_t n = 1 + rng() % pieces;
    Bytes piece(n);
    std::uint32_t got = 0;
    out.status = Ops().decodeToBuffer(d.object, piece.data(), n, &got);
    out.bytes.insert(out.bytes.end(), piece.begin(), piece.begin() + got);
    if (IsFailure(out.status) || out.status == kInflateInputExhausted ||
        (out.status == kInflateEndOfStream && d.body().position == d.body().delivered)) {
      break;
    }
  }
  out.crc32 = d.body().output.crc32;
  out.adler32 = d.body().output.adler32;
  out.produced = d.body().produced;
  out.consumed = d.body().consumed;
  return out;
}

// The fast loop runs only with room for a whole element in the input chunk,
// the window and the caller's allowance, and leaves everything unusual to the
// careful loop: both give the same answers, bytes, checksums and counts, with
// windows that wrap often and buffers of any size, on intact and damaged
// streams of real text.
TEST(InflateFastLoop, AgreesWithTheCarefulLoopOnRealTextAndDamage) {
  const Bytes text = deflate_test::RealText(400 * 1024);
  const struct {
    int level, strategy;
  } kCodings[] = {{1, Z_DEFAULT_STRATEGY},
                  {6, Z_DEFAULT_STRATEGY},
                  {9, Z_DEFAULT_STRATEGY},
                  {6, Z_FIXED},
                  {6, Z_RLE},
                  {6, Z_HUFFMAN_ONLY}};
  std::mt19937 rng(36);
  int ended = 0, failed = 0;
  for (const auto& coding : kCodings) {
    const Bytes stream = deflate_test::ZlibDeflate(text, coding.level, coding.strategy);
    std::vector<Bytes> variants = {stream};
    for (int k = 0; k < 3; ++k) {
      Bytes damaged(stream.begin(),
                    stream.begin() +
                        static_cast<std::ptrdiff_t>(std::min<std::size_t>(stream.size(), 40000)));
      damaged[1000 + rng() % (damaged.size() - 1000)] ^=
          static_cast<std::uint8_t>(1u << (rng() % 8));
      variants.push_back(damaged);
    }
    for (std::size_t v = 0; v < variants.size(); ++v) {
      for (const std::uint32_t window : {32768u, 4096u, 700u}) {
        for (const std::uint32_t pieces : {0u, 3000u, 300u}) {
          SCOPED_TRACE(testing::Message()
                       << "level " << coding.level << " strategy " << coding.strategy << " variant "
                       << v << " window " << window << " pieces " << pieces);
          const RunOutcome fast = RunStream(variants[v], window, pieces);
          RunOutcome careful;
          {
            deflate_test::CarefulLoopsOnly only;
            careful = RunStream(variants[v], window, pieces);
          }
          ASSERT_EQ(fast.status, careful.status);
          ASSERT_EQ(fast.bytes, careful.bytes);
          ASSERT_TRUE(fast == careful);
          if (v == 0 && window == 32768u) ASSERT_EQ(fast.bytes, text);
          (fast.status == kInflateEndOfStream ? ended : failed) += 1;
        }
      }
    }
  }
  EXPECT_GT(ended, 20);
  EXPECT_GT(failed, 20);
}

// A literal and a match of 258 is the longest pass of the fast loop; over
// windows of every size in a range, such passes end at every place of the
// window and of the buffer it runs along (whose end, where the history moves
// back to its start, lies 128 KiB past the window), and the careful loop must
// always find room where the fast loop stopped.
TEST(InflateFastLoop, LongestPassesEndAnywhereInTheWindow) {
  Bytes data;
  for (int unit = 0; data.size() < 200000; ++unit)  // a literal, then a match of 258
    data.insert(data.end(), 259, static_cast<std::uint8_t>('a' + unit % 7));
  const Bytes stream = deflate_test::ZlibDeflate(data, 6, Z_RLE);
  for (std::uint32_t window = 300; window < 1200; window += 7) {
    SCOPED_TRACE(testing::Message() << "window " << window);
    const RunOutcome fast = RunStream(stream, window, 0);
    ASSERT_EQ(fast.status, kInflateEndOfStream);
    ASSERT_EQ(fast.bytes, data);
    deflate_test::CarefulLoopsOnly only;
    ASSERT_TRUE(RunStream(stream, window, 0) == fast);
  }
}

TEST(InflateWindow, HistoryIsBoundedByTheWindow) {
  // zlib with windowBits 9 reaches at most 250 bytes back: a 250-byte window
  // decodes it while wrapping; a 128-byte one refuses the far matches.
  const Bytes data = deflate_test::MakeData(50000, 1, 9);
  const Bytes compressed = deflate_test::ZlibDeflate(data, 9, Z_DEFAULT_STRATEGY, -9);
  {
    Decoder d(250);
    ASSERT_EQ(d.Pull(compressed), kInflateEndOfStream);
    EXPECT_EQ(Contents(d.sink), data);
    EXPECT_EQ(d.body().output.crc32, ZlibCrc(data));
  }
  {
    Decoder d(128);
    EXPECT_EQ(d.Pull(compressed), kInflateBadDistance);
    const Bytes partial = Contents(d.sink);  // what was delivered before stays delivered
    ASSERT_LE(partial.size(), data.size());
    EXPECT_TRUE(std::equal(partial.begin(), partial.end(), data.begin()));
  }
}

TEST(InflateWindow, FullWindowWithoutSinkIsRefused) {
  const Bytes data = deflate_test::MakeData(5000, 1, 3);
  const Bytes compressed = deflate_test::ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY, -9);
  Decoder d(1024);
  d.body().output.sink = nullptr;
  d.source = NewStream(compressed);
  ASSERT_EQ(Ops().setInput(d.object, d.source, 0), kOk);
  std::uint32_t got = 0;
  // Into the window only: 1000 bytes fit; the window then holds them.
  ASSERT_EQ(Ops().decodeToBuffer(d.object, nullptr, 1000, &got), kOk);
  EXPECT_EQ(got, 1000u);
  EXPECT_EQ(0, std::memcmp(d.body().window, data.data(), 1000));
  EXPECT_EQ(Ops().decodeToSink(d.object, nullptr, 0), kInflateWindowFull);
  EXPECT_EQ(Ops().decodeToSink(d.object, nullptr, 0), kInflateWindowFull);
  // Given a sink, the same decoder carries on from where it stopped.
  d.body().output.sink = d.sink;
  ASSERT_EQ(Ops().decodeToSink(d.object, nullptr, 0), kInflateEndOfStream);
  EXPECT_EQ(Contents(d.sink), data);
}

// Bytes a decode without a buffer left in the window are delivered first to
// the next buffer, never more than that buffer holds.
TEST(InflateWindow, BytesKeptInTheWindowGoToTheNextBufferWithinItsSize) {
  const Bytes data = deflate_test::MakeData(5000, 1, 3);
  const Bytes compressed = deflate_test::ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY, -9);
  Decoder d(1024);
  d.body().output.sink = nullptr;
  d.source = NewStream(compressed);
  ASSERT_EQ(Ops().setInput(d.object, d.source, 0), kOk);
  std::uint32_t got = 0;
  ASSERT_EQ(Ops().decodeToBuffer(d.object, nullptr, 1000, &got), kOk);
  ASSERT_EQ(got, 1000u);
  Bytes out;
  StatusCode s = kOk;
  for (const std::uint32_t size : {10u, 600u, 700u, 300u, 5000u}) {
    // A guard after the piece catches writes past its size.
    Bytes piece(size + 16, 0xA5);
    s = Ops().decodeToBuffer(d.object, piece.data(), size, &got);
    ASSERT_FALSE(IsFailure(s));
    ASSERT_LE(got, size);
    EXPECT_TRUE(
        std::all_of(piece.begin() + size, piece.end(), [](std::uint8_t c) { return c == 0xA5; }));
    out.insert(out.end(), piece.begin(), piece.begin() + got);
    if (s == kInflateEndOfStream) break;
  }
  EXPECT_EQ(s, kInflateEndOfStream);
  EXPECT_EQ(out, data);
}

struct Vector {
  const char* name;
  Bytes stream;
  StatusCode answer;
  std::string output;
};

TEST(InflateVectors, SmallStreamsAndTheDistanceLimit) {
  const Vector kVectors[] = {
      {"empty stored final block", {0x01, 0x00, 0x00, 0xFF, 0xFF}, kInflateEndOfStream, ""},
      {"empty fixed final block", {0x03, 0x00}, kInflateEndOfStream, ""},
      {"fixed abc", {0x4B, 0x4C, 0x4A, 0x06, 0x00}, kInflateEndOfStream, "abc"},
      {"distance equal to the bytes produced",
       {0x4B, 0x04, 0x02, 0x00},
       kInflateEndOfStream,
       "aaaa"},
      {"distance one past the bytes produced", {0x4B, 0x04, 0x42, 0x00}, kInflateBadDistance, ""},
      {"block type 3", {0x07, 0x00}, kInflateBadBlock, ""},
      {"stored length check", {0x01, 0x05, 0x00, 0xFA, 0xF0}, kInflateBadBlock, ""},
      {"empty input", {}, kInflateInputExhausted, ""},
      {"stored block cut short",
       {0x01, 0x05, 0x00, 0xFA, 0xFF, 'a', 'b'},
       kInflateInputExhausted,
       "ab"},
      {"fixed block without its end", {0x4B, 0x4C, 0x4A, 0x06}, kInflateInputExhausted, "abc"},
  };
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(v.name);
    Decoder d;
    d.body().output.sink = nullptr;
    d.source = NewStream(v.stream);
    ASSERT_EQ(Ops().setInput(d.object, d.source, 0), kOk);
    char out[16] = {};
    std::uint32_t got = 99;
    const StatusCode s = Ops().decodeToBuffer(d.object, out, sizeof out, &got);
    EXPECT_EQ(s, v.answer);
    if (!IsFailure(s)) {
      EXPECT_EQ(std::string(out, got), v.output);
    }
    if (v.answer == kInflateInputExhausted) {
      // The state is kept: the same bytes and the rest of the stream finish it.
      EXPECT_EQ(std::string(reinterpret_cast<char*>(d.body().window), d.body().position), v.output);
    }
  }
}

TEST(InflateVectors, ResumesAfterTheSourceGrows) {
  const Bytes data = deflate_test::MakeData(40000, 1, 11);
  const Bytes compressed = deflate_test::ZlibDeflate(data, 9, Z_DEFAULT_STRATEGY);
  Decoder d;
  d.source = NewStream();
  ASSERT_EQ(Ops().setInput(d.object, d.source, 0), kOk);
  std::uint32_t size = 0;
  StatusCode s = kInflateInputExhausted;
  for (std::size_t cut : {1ul, 2ul, 100ul, 101ul, 2000ul, compressed.size()}) {
    ASSERT_EQ(s, kInflateInputExhausted);
    ASSERT_EQ(StreamOf(d.source).writeAt(d.source, size, compressed.data() + size,
                                         static_cast<std::uint32_t>(cut - size), nullptr),
              kOk);
    size = static_cast<std::uint32_t>(cut);
    s = Ops().decodeToSink(d.object, nullptr, 0);
  }
  EXPECT_EQ(s, kInflateEndOfStream);
  EXPECT_EQ(Contents(d.sink), data);
}

// ---- Hand-built dynamic blocks --------------------------------------------

// Writes a dynamic block header: the code-length code gives every one of
// the 19 symbols 5 bits; `clSymbols` are (symbol, extra bits value) pairs.
void WriteDynamicHeader(BitWriter& w, bool final, unsigned hlit, unsigned hdist,
                        const std::vector<std::pair<unsigned, unsigned>>& clSymbols) {
  w.Put(final ? 1 : 0, 1);
  w.Put(2, 2);
  w.Put(hlit - 257, 5);
  w.Put(hdist - 1, 5);
  w.Put(19 - 4, 4);
  for (int k = 0; k < 19; ++k)
    w.Put(5, 3);
  const auto codes = CanonicalCodes(std::vector<std::uint8_t>(19, 5));
  for (auto [sym, extra] : clSymbols) {
    w.PutCode(codes[sym], 5);
    if (sym == 16) w.Put(extra, 2);
    if (sym == 17) w.Put(extra, 3);
    if (sym == 18) w.Put(extra, 7);
  }
}

// The code-length symbols that state `lengths` one by one.
std::vector<std::pair<unsigned, unsigned>> Literally(const std::vector<std::uint8_t>& lengths) {
  std::vector<std::pair<unsigned, unsigned>> out;
  for (auto l : lengths)
    out.push_back({l, 0});
  return out;
}

StatusCode DecodeAll(const Bytes& stream, std::string* output) {
  Decoder d;
  StatusCode s = d.Pull(stream);
  if (output != nullptr) {
    const Bytes b = Contents(d.sink);
    output->assign(b.begin(), b.end());
  }
  return s;
}

TEST(InflateTables, MalformedTablesAnswerTheirCodes) {
  // Literal/length lengths: 'a' 1 bit, end-of-block 2, length 257 2; one distance code.
  std::vector<std::uint8_t> lit(257 + 1, 0);
  lit['a'] = 1, lit[256] = 2, lit[257] = 2;
  auto good = Literally(lit);
  good.push_back({1, 0});  // distance 0 (distance 1): 1 bit

  struct Case {
    const char* name;
    unsigned hlit, hdist;
    std::vector<std::pair<unsigned, unsigned>> symbols;
    StatusCode answer;
  };
  std::vector<std::pair<unsigned, unsigned>> leading16 = {{16, 0}};
  std::vector<std::pair<unsigned, unsigned>> overrun = {{18, 127}, {18, 127}, {18, 127}};
  std::vector<std::pair<unsigned, unsigned>> overSubscribed = good;
  overSubscribed[0] = {1, 0};  // symbol 0 also 1 bit: three codes of 1-2 bits
  auto noEnd = good;
  noEnd[256] = {0, 0};
  noEnd[0] = {2, 0};
  auto distOver = good;
  distOver.back() = {1, 0};
  distOver.push_back({1, 0});
  distOver.push_back({1, 0});
  const Case kCases[] = {
      {"HLIT 287", 287, 1, good, kInflateBadCounts},
      {"HDIST 31", 258, 31, good, kInflateBadCounts},
      {"repeat without a previous length", 258, 1, leading16, kInflateBadCodeLengthSymbol},
      {"run past HLIT + HDIST", 258, 1, overrun, kInflateBadCodeLengthSymbol},
      {"over-subscribed literal lengths", 258, 1, overSubscribed, kInflateBadCodeLengths},
      {"no end-of-block code", 258, 1, noEnd, kInflateBadCodeLengths},
      {"over-subscribed distance lengths", 258, 3, distOver, kInflateBadCodeLengths},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    BitWriter w;
    WriteDynamicHeader(w, true, c.hlit, c.hdist, c.symbols);
    w.Put(0, 16);
    EXPECT_EQ(DecodeAll(w.bytes()), c.answer);
  }

  // The good table itself decodes: "a", then a match of 3 at distance 1, then the end.
  const auto litCodes = CanonicalCodes(lit);
  BitWriter w;
  WriteDynamicHeader(w, true, 258, 1, good);
  w.PutCode(litCodes['a'], 1);
  w.PutCode(litCodes[257], 2);
  w.PutCode(0, 1);
  w.PutCode(litCodes[256], 2);
  std::string out;
  EXPECT_EQ(DecodeAll(w.bytes(), &out), kInflateEndOfStream);
  EXPECT_EQ(out, "aaaa");
}

TEST(InflateTables, ARunOfZerosSpansBothTables) {
  // 258 literal/length lengths and 11 distance lengths: 'b' and end-of-block
  // get 1 bit; one run of 11 zeros covers symbol 257 and distance codes 0-9.
  std::vector<std::pair<unsigned, unsigned>> symbols;
  for (int i = 0; i < 98; ++i)
    symbols.push_back({0, 0});
  symbols.push_back({1, 0});     // 'b'
  symbols.push_back({18, 127});  // 138 zeros: 99-236
  symbols.push_back({18, 8});    // 19 zeros: 237-255
  symbols.push_back({1, 0});     // 256
  symbols.push_back({18, 0});    // 11 zeros: 257 and distance codes 0-9
  symbols.push_back({1, 0});     // distance code 10
  BitWriter w;
  WriteDynamicHeader(w, true, 258, 11, symbols);
  w.PutCode(0, 1);  // 'b'
  w.PutCode(0, 1);  // 'b'
  w.PutCode(1, 1);  // end of block
  std::string out;
  EXPECT_EQ(DecodeAll(w.bytes(), &out), kInflateEndOfStream);
  EXPECT_EQ(out, "bb");
}

TEST(InflateTables, UnassignedCodesAndFixedOnlySymbols) {
  // Incomplete literal code: 'a' is "0", the end "10"; "11..." is no code.
  std::vector<std::uint8_t> lit(257, 0);
  lit['a'] = 1, lit[256] = 2;
  auto symbols = Literally(lit);
  symbols.push_back({0, 0});
  BitWriter w;
  WriteDynamicHeader(w, true, 257, 1, symbols);
  w.PutCode(0, 1);
  w.Put(0xFFFF, 16);
  EXPECT_EQ(DecodeAll(w.bytes()), kInflateNoCode);

  // Fixed codes: literal/length 286 and distance 30 exist only to be refused.
  BitWriter f;
  f.Put(1, 1);
  f.Put(1, 2);
  f.PutCode(0xC6, 8);  // 286 = 11000110
  f.Put(0, 8);
  EXPECT_EQ(DecodeAll(f.bytes()), kInflateBadLiteral);
  BitWriter g;
  g.Put(1, 1);
  g.Put(1, 2);
  g.PutCode(0x30 + 'a', 8);  // 'a'
  g.PutCode(1, 7);           // 257: length 3
  g.PutCode(30, 5);          // distance 30
  g.Put(0, 8);
  EXPECT_EQ(DecodeAll(g.bytes()), kInflateBadDistance);
}

TEST(InflateSteps, SlotsReadHeadersAndTablesInOrder) {
  // A fixed block then a dynamic final block, read step by step.
  BitWriter w;
  w.Put(0, 1);
  w.Put(1, 2);
  w.PutCode(0x30 + 'x', 8);
  w.PutCode(0, 7);  // end of block
  std::vector<std::uint8_t> lit(257, 0);
  lit['y'] = 1, lit[256] = 1;
  auto symbols = Literally(lit);
  symbols.push_back({0, 0});
  WriteDynamicHeader(w, true, 257, 1, symbols);
  w.PutCode(0, 1);
  w.PutCode(1, 1);
  Decoder d;
  d.source = NewStream(w.bytes());
  ASSERT_EQ(Ops().setInput(d.object, d.source, 0), kOk);
  EXPECT_EQ(Ops().readDynamicTables(d.object), kBadArgument);  // not after a dynamic header
  ASSERT_EQ(Ops().readBlockHeader(d.object), kOk);
  EXPECT_EQ(d.body().blockType, 1);
  EXPECT_FALSE(d.body().finalBlock);
  std::uint32_t got = 0;
  char out[4];
  ASSERT_EQ(Ops().decodeToBuffer(d.object, out, 1, &got), kOk);
  ASSERT_EQ(got, 1u);
  EXPECT_EQ(d.body().step, InflateStep::Header);  // the end of block was taken, no more
  ASSERT_EQ(Ops().readBlockHeader(d.object), kOk);
  EXPECT_EQ(d.body().blockType, 2);
  EXPECT_TRUE(d.body().finalBlock);
  ASSERT_EQ(Ops().readDynamicTables(d.object), kOk);
  ASSERT_EQ(Ops().decodeToBuffer(d.object, out + 1, 3, &got), kInflateEndOfStream);
  EXPECT_EQ(std::string(out, 1 + got), "xy");
}

// ---- Observer, reserve and feed mode ---------------------------------------

struct CountingObserver {
  static StatusCode Notify(EngineObject* o, StatusCode code,
                           const std::uint32_t* produced) noexcept {
    auto* self = static_cast<CountingObserver*>(o->state);
    EXPECT_EQ(code, kInflateEndOfStream);
    self->seen.push_back(*produced);
    return self->seen.size() >= self->stopAfter ? kCancelled : kOk;
  }
  static constexpr InflateObserverOps kOps = {Core_NotImplemented, Notify, Core_NotImplemented};
  std::vector<std::uint32_t> seen;
  std::size_t stopAfter = 1000;
  EngineObject object{this, &kOps};
};

TEST(InflateSink, ObserverSeesEachBlockAndCanStop) {
  // Level 1 over varied data makes several blocks.
  const Bytes data = deflate_test::MakeData(400000, 1, 21);
  const Bytes compressed = deflate_test::ZlibDeflate(data, 1, Z_DEFAULT_STRATEGY);
  {
    Decoder d;
    CountingObserver watcher;
    ASSERT_EQ(d.Pull(compressed, &watcher.object), kInflateEndOfStream);
    ASSERT_GE(watcher.seen.size(), 2u);
    EXPECT_TRUE(std::is_sorted(watcher.seen.begin(), watcher.seen.end()));
    EXPECT_EQ(watcher.seen.back(), data.size());
  }
  {
    Decoder d;
    CountingObserver watcher;
    watcher.stopAfter = 1;
    EXPECT_EQ(d.Pull(compressed, &watcher.object), kCancelled);
    EXPECT_EQ(watcher.seen.size(), 1u);
  }
}

// A delivery that would pass the last stream position is refused whole: the
// position never wraps to the start of the sink.
TEST(InflateSink, TheSinkPositionNeverWrapsPastTheLastByte) {
  const Bytes data = deflate_test::MakeData(40000, 1, 23);  // fills the window once
  const Bytes compressed = deflate_test::ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY);
  struct Case {
    std::uint32_t position;
    StatusCode expected;
    std::uint64_t written;
  };
  const Case cases[] = {
      {0xFFFFFFFFu - 40000, kInflateEndOfStream, 40000},
      {0xFFFFFFFFu - 39999, kInflateSinkFull, 32768},  // the full window fits, the rest not
      {0xFFFFFFFFu - 100, kInflateSinkFull, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    Decoder d;
    codecs_test::CountingSink sink;
    d.body().output.sink = &sink.object;
    d.body().output.sinkPosition = c.position;
    EXPECT_EQ(d.Pull(compressed), c.expected);
    EXPECT_EQ(sink.written, c.written);
    EXPECT_FALSE(sink.overwrote);
    EXPECT_LE(sink.end, 0xFFFFFFFFu);
  }
}

TEST(InflateSink, ReservePausesBeforeTheInputRunsShort) {
  const Bytes data = deflate_test::MakeData(30000, 1, 31);
  const Bytes compressed = deflate_test::ZlibDeflate(data, 9, Z_DEFAULT_STRATEGY);
  Decoder d;
  d.source = NewStream(Bytes(compressed.begin(), compressed.begin() + 1000));
  ASSERT_EQ(Ops().setInput(d.object, d.source, 0), kOk);
  EXPECT_EQ(Ops().decodeToSink(d.object, nullptr, 64), kOk);  // paused, not failed
  const std::uint32_t early = d.body().produced;
  EXPECT_GT(early, 0u);
  ASSERT_EQ(
      StreamOf(d.source).writeAt(d.source, 1000, compressed.data() + 1000,
                                 static_cast<std::uint32_t>(compressed.size() - 1000), nullptr),
      kOk);
  // Near the end fewer than 64 bits are left: it pauses again; once the
  // input is known to be complete, a call without a reserve finishes.
  EXPECT_EQ(Ops().decodeToSink(d.object, nullptr, 64), kOk);
  EXPECT_GT(d.body().produced, early);
  EXPECT_EQ(Ops().decodeToSink(d.object, nullptr, 0), kInflateEndOfStream);
  EXPECT_EQ(Contents(d.sink), data);
}

TEST(InflateFeed, FeedOperationsNeedBeginFeed) {
  Decoder d;
  const std::uint8_t byte = 0;
  EXPECT_EQ(Ops().feed(d.object, &byte, 1, nullptr), kInflateNotFeeding);
  EXPECT_EQ(Ops().endFeed(d.object), kInflateNotFeeding);
  ASSERT_EQ(Ops().beginFeed(d.object), kOk);
  const std::uint8_t half[] = {0x4B, 0x4C};
  EXPECT_EQ(Ops().feed(d.object, half, 2, nullptr), kOk);
  EXPECT_EQ(Ops().endFeed(d.object), kInflateInputExhausted);  // the stream had not ended
  EXPECT_EQ(Ops().endFeed(d.object), kInflateNotFeeding);
  // A new push-mode stream starts clean.
  ASSERT_EQ(Ops().beginFeed(d.object), kOk);
  const std::uint8_t abc[] = {0x4B, 0x4C, 0x4A, 0x06, 0x00, 0x99};
  EXPECT_EQ(Ops().feed(d.object, abc, sizeof abc, nullptr), kInflateEndOfStream);
  EXPECT_EQ(Ops().feed(d.object, abc, 1, nullptr), kInflateEndOfStream);  // ignored
  EXPECT_EQ(d.body().consumed, 5u);
  EXPECT_EQ(Ops().endFeed(d.object), kOk);
  const Bytes out = Contents(d.sink);
  // The first stream's "a" was delivered by EndFeed.
  EXPECT_EQ(std::string(out.begin(), out.end()), "aabc");
}

TEST(InflateFeed, MalformedInputFailsInFeedModeToo) {
  Decoder d;
  ASSERT_EQ(Ops().beginFeed(d.object), kOk);
  const std::uint8_t far[] = {0x4B, 0x04, 0x42, 0x00};
  EXPECT_EQ(Ops().feed(d.object, far, 1, nullptr), kOk);
  EXPECT_EQ(Ops().feed(d.object, far + 1, 3, nullptr), kInflateBadDistance);
  EXPECT_EQ(Ops().endFeed(d.object), kInflateInputExhausted);
}

TEST(InflateCreate, ArgumentsAndResetBitOffset) {
  EngineObject* d = nullptr;
  EXPECT_EQ(Ops().create(g_InflateModule, 0, &d), kBadArgument);
  EXPECT_EQ(Ops().create(g_InflateModule, kInflateMaxWindow + 1, &d), kBadArgument);
  EXPECT_EQ(Ops().create(g_InflateModule, 100, nullptr), kNullOutPointer);
  EXPECT_EQ(d, nullptr);

  // A stream that starts 5 bits into its first byte, behind two other bytes.
  BitWriter w;
  w.Put(0x2A, 8);
  w.Put(0x15, 8);
  w.Put(0x1F, 5);
  const Bytes fixed = {0x4B, 0x4C, 0x4A, 0x06, 0x00};  // "abc"
  deflate_test::CopyBits(fixed, 0, fixed.size() * 8, w);
  Decoder dec;
  dec.source = NewStream(w.bytes());
  ASSERT_EQ(Ops().setInput(dec.object, dec.source, 0), kOk);
  EXPECT_EQ(Ops().reset(dec.object, 2, kInflateToEnd, 8), kBadArgument);
  ASSERT_EQ(Ops().reset(dec.object, 2, 6, 5), kOk);
  ASSERT_EQ(Ops().decodeToSink(dec.object, nullptr, 0), kInflateEndOfStream);
  const Bytes out = Contents(dec.sink);
  EXPECT_EQ(std::string(out.begin(), out.end()), "abc");
  EXPECT_EQ(dec.body().consumed, 5u);  // 5 + 34 bits
  // Slots 0 and 12 answer not implemented.
  EXPECT_EQ(Ops().word0(g_InflateModule), kFailed);
  EXPECT_EQ(Ops().end(g_InflateModule), kFailed);
}

}  // namespace
