#include "engine/codecs/gzip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "engine/codecs/inflate.h"
#include "engine/runtime/checksum.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "tests/codecs/counting_sink.h"
#include "tests/codecs/deflate_bits.h"
#include "tests/support/peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wide_text.h"

namespace {

using deflate_test::MakeData;

const GzipOps& Ops() {
  return OpsOf<GzipOps>(g_GzipModule);
}

std::string Text(std::size_t size, std::uint32_t seed) {
  const auto b = MakeData(size, 1, seed);
  return {b.begin(), b.end()};
}

EngineObject* NewStream(const std::string& bytes = {}) {
  EngineObject* s = nullptr;
  EXPECT_EQ(MemStream_Create(g_MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &s), kOk);
  if (!bytes.empty()) {
    EXPECT_EQ(
        StreamOf(s).writeAt(s, 0, bytes.data(), static_cast<std::uint32_t>(bytes.size()), nullptr),
        kOk);
  }
  return s;
}

std::string Contents(EngineObject* s, std::uint32_t from = 0, std::uint32_t length = 0xFFFFFFFFu) {
  std::uint32_t size = 0;
  EXPECT_EQ(StreamOf(s).getSize(s, &size), kOk);
  if (from >= size) return {};
  length = std::min(length, size - from);
  std::string out(length, '\0');
  std::uint32_t got = 0;
  if (length != 0) {
    EXPECT_EQ(StreamOf(s).readAt(s, from, out.data(), length, &got), kOk);
  }
  out.resize(got);
  return out;
}

// An instance with its streams, released at the end of the test.
struct Gzip {
  Gzip() { EXPECT_EQ(Ops().create(g_GzipModule, &object), kOk); }
  ~Gzip() {
    EXPECT_EQ(Ops().destroy(object), kOk);
    for (EngineObject* s : streams)
      EXPECT_EQ(StreamOf(s).close(s), kOk);
  }
  EngineObject* Stream(const std::string& bytes = {}) {
    streams.push_back(NewStream(bytes));
    return streams.back();
  }
  // Writes one member per text into a new stream and returns its bytes.
  std::string Write(const std::vector<std::pair<std::string, std::string>>& members,
                    const DateTime* date = nullptr) {
    EngineObject* out = Stream();
    EXPECT_EQ(Ops().openWrite(object, out, 0), kOk);
    for (const auto& [name, text] : members) {
      EngineObject* in = Stream(text);
      std::uint32_t written = 0;
      EXPECT_EQ(
          Ops().writeMember(object, in, 0, static_cast<std::uint32_t>(text.size()), name.data(),
                            static_cast<std::uint32_t>(name.size()), date, &written),
          kOk);
      EXPECT_GT(written, 10u);
    }
    return Contents(out);
  }
  // Opens bytes for reading and extracts the current member.
  StatusCode Extract(std::string* text, std::uint32_t* crc = nullptr) {
    EngineObject* sink = Stream();
    std::uint32_t size = 0;
    const StatusCode s = Ops().extractMember(object, sink, 0, nullptr, crc, &size);
    *text = Contents(sink);
    if (s == kOk) {
      EXPECT_EQ(size, text->size());
    }
    return s;
  }
  StatusCode OpenFirst(const std::string& bytes) {
    EXPECT_EQ(Ops().openRead(object, Stream(bytes), 0, 0xFFFFFFFFu), kOk);
    return Ops().firstMember(object);
  }
  EngineObject* object = nullptr;
  std::vector<EngineObject*> streams;
};

std::string Le32(std::uint32_t v) {
  std::string s(4, '\0');
  for (int k = 0; k < 4; ++k)
    s[k] = static_cast<char>(v >> (8 * k));
  return s;
}

std::uint32_t Crc(const std::string& s) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// A member built by hand: header bytes, zlib's raw DEFLATE of the text, trailer.
std::string HandMember(const std::string& header, const std::string& text) {
  const deflate_test::Bytes data(text.begin(), text.end());
  const auto packed = deflate_test::ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY);
  return header + std::string(packed.begin(), packed.end()) + Le32(Crc(text)) +
         Le32(static_cast<std::uint32_t>(text.size()));
}

std::string FixedHeader(std::uint8_t flags, std::uint32_t mtime = 0) {
  return std::string("\x1f\x8b\x08", 3) + static_cast<char>(flags) + Le32(mtime) + '\0' + '\xff';
}

// What we write, the gzip tool tests, decompresses to the input and restores
// under the stored name and time.
TEST(GzipPeer, MembersWeWriteGunzipToTheInput) {
  KELPO_REQUIRE_PEER("gzip");
  const std::string text = Text(300000, 1);
  const DateTime date{2023, 11, 14, 22, 13, 20, 0};  // 1700000000
  Gzip g;
  const std::string gz = g.Write({{"story.txt", text}}, &date);
  EXPECT_EQ(static_cast<std::uint8_t>(gz[3]), 8);  // FNAME
  EXPECT_EQ(gz.substr(4, 4), Le32(1700000000));
  int status = -1;
  EXPECT_EQ(RunPeer("gzip -dc", gz, &status), text);
  EXPECT_EQ(status, 0);
  TempDir dir;
  WriteFileBytes(dir.File("x.gz"), gz);
  RunPeer("cd '" + dir.Path() + "' && gzip -dN x.gz", "", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFileBytes(dir.File("story.txt")), text);
  EXPECT_EQ(RunPeer("stat -c %Y '" + dir.File("story.txt") + "'", "", &status), "1700000000\n");
}

// An empty input still gives a member whose data is a complete DEFLATE
// stream; a name that ends with its zero byte is taken without it.
TEST(GzipPeer, EmptyAndConcatenatedMembersPassTheToolsTest) {
  KELPO_REQUIRE_PEER("gzip");
  Gzip g;
  const std::string a = Text(5000, 2), b = Text(70000, 3);
  const std::string gz = g.Write({{std::string("empty\0", 6), ""}, {"", a}, {"b", b}});
  int status = -1;
  RunPeer("gzip -t", gz, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(RunPeer("gzip -dc", gz, &status), a + b);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(gz.substr(10, 6), std::string("empty\0", 6));
  EXPECT_EQ(gz.find("empty\0\0", 0, 7), std::string::npos);
}

// What the tool writes (name and time by default, two members by
// concatenation) we walk and extract.
TEST(GzipPeer, MembersTheToolWritesAreWalkedAndExtracted) {
  KELPO_REQUIRE_PEER("gzip");
  TempDir dir;
  const std::string one = Text(100000, 4), two = Text(1000, 5);
  WriteFileBytes(dir.File("first.txt"), one);
  WriteFileBytes(dir.File("second.txt"), two);
  int status = -1;
  RunPeer("cd '" + dir.Path() +
              "' && touch -d @1600000000 first.txt && gzip -9 first.txt && gzip second.txt",
          "", &status);
  ASSERT_EQ(status, 0);
  const std::string gz1 = ReadFileBytes(dir.File("first.txt.gz"));
  const std::string gz2 = ReadFileBytes(dir.File("second.txt.gz"));
  const std::string both = gz1 + gz2;

  Gzip g;
  EngineObject* in = g.Stream(both);
  ASSERT_EQ(Ops().openRead(g.object, in, 0, 0xFFFFFFFFu), kOk);
  ASSERT_EQ(Ops().firstMember(g.object), kOk);
  DateTime date{};
  std::uint32_t nameOffset = 0, nameLength = 0, commentOffset = 9, commentLength = 9;
  ASSERT_EQ(Ops().getMemberInfo(g.object, &date, &nameOffset, &nameLength, &commentOffset,
                                &commentLength),
            kOk);
  EXPECT_EQ(both.substr(nameOffset, nameLength), "first.txt");
  EXPECT_EQ(commentOffset, 0u);
  EXPECT_EQ(commentLength, 0u);
  EXPECT_EQ(date.year, 2020);  // 2020-09-13 12:26:40 UTC
  EXPECT_EQ(date.month, 9);
  EXPECT_EQ(date.day, 13);
  EXPECT_EQ(date.hour, 12);
  EXPECT_EQ(date.minute, 26);
  EXPECT_EQ(date.second, 40);
  std::string text;
  std::uint32_t crc = 0;
  ASSERT_EQ(g.Extract(&text, &crc), kOk);
  EXPECT_EQ(text, one);
  EXPECT_EQ(crc, Crc(one));

  ASSERT_EQ(Ops().nextMember(g.object), kOk);
  ASSERT_EQ(Ops().getMemberInfo(g.object, nullptr, &nameOffset, &nameLength, nullptr, nullptr),
            kOk);
  EXPECT_EQ(nameOffset, gz1.size() + 10);  // right after the first member's trailer
  EXPECT_EQ(both.substr(nameOffset, nameLength), "second.txt");
  ASSERT_EQ(g.Extract(&text), kOk);
  EXPECT_EQ(text, two);
  EXPECT_EQ(Ops().nextMember(g.object), kNoMore);
  EXPECT_EQ(BodyOf<GzipBody>(g.object).totalSize, one.size() + two.size());

  // Walking without extracting finds the same members.
  ASSERT_EQ(Ops().firstMember(g.object), kOk);
  EXPECT_EQ(Ops().nextMember(g.object), kOk);
  EXPECT_EQ(Ops().nextMember(g.object), kNoMore);
  EXPECT_EQ(BodyOf<GzipBody>(g.object).memberCount, 2u);

  // A range holding only the second member.
  ASSERT_EQ(Ops().openRead(g.object, in, static_cast<std::uint32_t>(gz1.size()), 0xFFFFFFFFu), kOk);
  ASSERT_EQ(Ops().firstMember(g.object), kOk);
  ASSERT_EQ(g.Extract(&text), kOk);
  EXPECT_EQ(text, two);
}

TEST(GzipRead, OptionalHeaderFieldsAndTheHeaderCrc) {
  const std::string text = "header fields";
  // FEXTRA (4 bytes), FNAME, FCOMMENT and FHCRC over all of them.
  std::string header = FixedHeader(0x02 | 0x04 | 0x08 | 0x10, 1234) + std::string("\x04\x00", 2) +
                       std::string("XY\x00\x01", 4) + std::string("name\0", 5) +
                       std::string("a comment\0", 10);
  const std::uint32_t hcrc = Crc(header) & 0xFFFF;
  std::string good = header + static_cast<char>(hcrc) + static_cast<char>(hcrc >> 8);
  Gzip g;
  ASSERT_EQ(g.OpenFirst(HandMember(good, text)), kOk);
  std::uint32_t nameOffset = 0, nameLength = 0, commentOffset = 0, commentLength = 0;
  ASSERT_EQ(Ops().getMemberInfo(g.object, nullptr, &nameOffset, &nameLength, &commentOffset,
                                &commentLength),
            kOk);
  EXPECT_EQ(nameOffset, 16u);
  EXPECT_EQ(nameLength, 4u);
  EXPECT_EQ(commentOffset, 21u);
  EXPECT_EQ(commentLength, 9u);
  std::string out;
  ASSERT_EQ(g.Extract(&out), kOk);
  EXPECT_EQ(out, text);

  std::string bad = good;
  bad[bad.size() - 1] ^= 1;
  EXPECT_EQ(g.OpenFirst(HandMember(bad, text)), kGzipHeaderCrc);
}

TEST(GzipRead, DamagedHeadersAnswerTheirCodes) {
  const std::string name = std::string("n\0", 2);
  struct Case {
    const char* what;
    std::string bytes;
    StatusCode expected;
  };
  const Case cases[] = {
      {"nine bytes", FixedHeader(0).substr(0, 9), kGzipTooShort},
      {"bad magic", "\x1f\x8c" + FixedHeader(0).substr(2), kGzipBadMagic},
      {"method 7", "\x1f\x8b\x07" + FixedHeader(0).substr(3), kGzipBadMethod},
      {"reserved flag", FixedHeader(0x20) + "xxxxxxxxxx", kGzipReservedFlags},
      {"extra length cut", FixedHeader(0x04) + "\x05", kGzipNoExtraLength},
      {"extra too long", FixedHeader(0x04) + std::string("\x09\x00", 2) + "abc", kGzipExtraTooLong},
      {"name unterminated", FixedHeader(0x08) + "name", kGzipUnterminated},
      {"comment unterminated", FixedHeader(0x08 | 0x10) + name + "comment", kGzipUnterminated},
      {"header CRC missing", FixedHeader(0x02) + "\x01", kGzipNoHeaderCrc},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Gzip g;
    EXPECT_EQ(g.OpenFirst(c.bytes), c.expected);
    EXPECT_EQ(Ops().nextMember(g.object), kBadArgument);  // no member became current
  }
}

TEST(GzipRead, DamagedDataAndTrailersAnswerTheirCodes) {
  const std::string text = Text(20000, 6);
  const std::string member = HandMember(FixedHeader(0), text);
  struct Case {
    const char* what;
    std::string bytes;
    StatusCode expected;
  };
  std::string badCrc = member, badSize = member, badData = member;
  badCrc[badCrc.size() - 8] ^= 0x40;
  badSize[badSize.size() - 4] ^= 0x01;
  badData[10] = static_cast<char>(0x07);  // BTYPE 3
  const Case cases[] = {
      {"CRC", badCrc, kGzipCrcMismatch},
      {"ISIZE", badSize, kGzipSizeMismatch},
      {"trailer cut", member.substr(0, member.size() - 3), kGzipShortMember},
      {"data cut", member.substr(0, member.size() / 2), kGzipShortMember},
      {"bad block type", badData, kInflateBadBlock},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Gzip g;
    ASSERT_EQ(g.OpenFirst(c.bytes), kOk);
    std::string out;
    EXPECT_EQ(g.Extract(&out), c.expected);
  }
}

TEST(GzipRead, RangesAreClippedAndAnEmptyRangeHasNoMember) {
  Gzip g;
  const std::string gz = g.Write({{"a", "alpha"}});
  EngineObject* in = g.Stream("prefix" + gz);
  ASSERT_EQ(Ops().openRead(g.object, in, 6, 0xFFFFFFF0u), kOk);
  EXPECT_EQ(BodyOf<GzipBody>(g.object).rangeLength, gz.size());
  ASSERT_EQ(Ops().firstMember(g.object), kOk);
  std::string out;
  ASSERT_EQ(g.Extract(&out), kOk);
  EXPECT_EQ(out, "alpha");
  ASSERT_EQ(Ops().openRead(g.object, in, 1000000, 10), kOk);
  EXPECT_EQ(Ops().firstMember(g.object), kNoMore);
  // A range that cuts the member's trailer off.
  ASSERT_EQ(Ops().openRead(g.object, in, 6, static_cast<std::uint32_t>(gz.size() - 1)), kOk);
  ASSERT_EQ(Ops().firstMember(g.object), kOk);
  EXPECT_EQ(Ops().nextMember(g.object), kGzipShortMember);
}

TEST(GzipWrite, DatesOutsideTheFieldAndNamesWithZerosInside) {
  Gzip g;
  const DateTime old{1969, 12, 31, 23, 59, 59, 0};
  const std::string gz = g.Write({{"x", "text"}}, &old);
  EXPECT_EQ(gz.substr(4, 4), Le32(0));  // before 1970: no time
  EngineObject* out = g.Stream();
  EngineObject* in = g.Stream("text");
  ASSERT_EQ(Ops().openWrite(g.object, out, 0), kOk);
  EXPECT_EQ(Ops().writeMember(g.object, in, 0, 4, "a\0b", 3, nullptr, nullptr), kBadArgument);
  EXPECT_EQ(Ops().writeMember(g.object, in, 0, 5, "ab", 2, nullptr, nullptr), kStreamShortRead);
  // Reading slots refuse a writing instance, and the other way round.
  EXPECT_EQ(Ops().firstMember(g.object), kBadArgument);
  ASSERT_EQ(Ops().openRead(g.object, in, 0, 4), kOk);
  EXPECT_EQ(Ops().writeMember(g.object, in, 0, 4, "ab", 2, nullptr, nullptr), kBadArgument);
}

// Round trip through our own reader, with the member written at an offset.
TEST(GzipWrite, OurReaderReadsWhatWeWrite) {
  Gzip g;
  const std::string a = Text(100000, 7), b(40000, 'z');
  const DateTime date{2001, 2, 3, 4, 5, 6, 0};
  const std::string gz = g.Write({{"a.txt", a}, {"b.txt", b}}, &date);
  ASSERT_EQ(g.OpenFirst(gz), kOk);
  DateTime got{};
  ASSERT_EQ(Ops().getMemberInfo(g.object, &got, nullptr, nullptr, nullptr, nullptr), kOk);
  EXPECT_EQ(std::memcmp(&got, &date, sizeof date), 0);
  std::string out;
  ASSERT_EQ(g.Extract(&out), kOk);
  EXPECT_EQ(out, a);
  ASSERT_EQ(Ops().nextMember(g.object), kOk);
  ASSERT_EQ(g.Extract(&out), kOk);
  EXPECT_EQ(out, b);
  EXPECT_EQ(Ops().nextMember(g.object), kNoMore);
}

// Through file streams: a file the tool wrote is read in place, and the
// member written into a new file gunzips to it.
TEST(GzipPeer, FileStreamsInBothDirections) {
  KELPO_REQUIRE_PEER("gzip");
  TempDir dir;
  const std::string text = Text(80000, 8);
  WriteFileBytes(dir.File("in.txt"), text);
  int status = -1;
  RunPeer("gzip -k '" + dir.File("in.txt") + "'", "", &status);
  ASSERT_EQ(status, 0);
  const FileSysOps& fs = OpsOf<FileSysOps>(g_FileSysModule);
  std::u16string inPath = U16(dir.File("in.txt.gz")), outPath = U16(dir.File("out.gz"));
  EngineObject* in = nullptr;
  EngineObject* out = nullptr;
  ASSERT_EQ(fs.open(g_FileSysModule, inPath.data(), 0, kFileOpenRead, &in), kOk);
  ASSERT_EQ(fs.open(g_FileSysModule, outPath.data(), 0, kFileOpenCreate, &out), kOk);
  Gzip g;
  ASSERT_EQ(Ops().openRead(g.object, in, 0, 0xFFFFFFFFu), kOk);
  ASSERT_EQ(Ops().firstMember(g.object), kOk);
  std::string got;
  ASSERT_EQ(g.Extract(&got), kOk);
  EXPECT_EQ(got, text);
  EngineObject* plain = g.Stream(text);
  ASSERT_EQ(Ops().openWrite(g.object, out, 0), kOk);
  ASSERT_EQ(Ops().writeMember(g.object, plain, 0, static_cast<std::uint32_t>(text.size()), "in.txt",
                              6, nullptr, nullptr),
            kOk);
  EXPECT_EQ(StreamOf(in).close(in), kOk);
  EXPECT_EQ(StreamOf(out).close(out), kOk);
  EXPECT_EQ(RunPeer("gzip -dc '" + dir.File("out.gz") + "'", "", &status), text);
  EXPECT_EQ(status, 0);
}

// A 16 MiB member written into a memory stream, and extracted into one,
// costs about what it costs with a file: a memory sink grows with the data,
// not faster. Both ways give the same bytes.
TEST(GzipWrite, AMemorySinkIsAsCheapAsAFile) {
  using Clock = std::chrono::steady_clock;
  TempDir dir;
  std::string text;
  for (int i = 0; text.size() < (16u << 20); ++i)
    text += "line " + std::to_string(i % 100) + " of a long and repetitive text\n";
  Gzip g;
  EngineObject* plain = g.Stream(text);
  const FileSysOps& fs = OpsOf<FileSysOps>(g_FileSysModule);
  const auto newFile = [&](const char* name) {
    std::u16string path = U16(dir.File(name));
    EngineObject* file = nullptr;
    EXPECT_EQ(fs.open(g_FileSysModule, path.data(), 0, kFileOpenCreate, &file), kOk);
    return file;
  };
  const auto compress = [&](EngineObject* out) {
    const auto start = Clock::now();
    EXPECT_EQ(Ops().openWrite(g.object, out, 0), kOk);
    EXPECT_EQ(Ops().writeMember(g.object, plain, 0, static_cast<std::uint32_t>(text.size()), "t", 1,
                                nullptr, nullptr),
              kOk);
    return Clock::now() - start;
  };
  EngineObject* gzFile = newFile("t.gz");
  const auto intoFile = compress(gzFile);
  EngineObject* gzMemory = g.Stream();
  const auto intoMemory = compress(gzMemory);
  const std::string gz = Contents(gzMemory);
  EXPECT_EQ(gz, ReadFileBytes(dir.File("t.gz")));

  const auto extract = [&](EngineObject* sink) {
    const auto start = Clock::now();
    EXPECT_EQ(Ops().openRead(g.object, gzMemory, 0, 0xFFFFFFFFu), kOk);
    EXPECT_EQ(Ops().firstMember(g.object), kOk);
    std::uint32_t size = 0;
    EXPECT_EQ(Ops().extractMember(g.object, sink, 0, nullptr, nullptr, &size), kOk);
    EXPECT_EQ(size, text.size());
    return Clock::now() - start;
  };
  EngineObject* textFile = newFile("t.txt");
  const auto outOfFile = extract(textFile);
  EngineObject* textMemory = g.Stream();
  const auto outOfMemory = extract(textMemory);
  EXPECT_TRUE(Contents(textMemory) == text);
  EXPECT_EQ(StreamOf(gzFile).close(gzFile), kOk);
  EXPECT_EQ(StreamOf(textFile).close(textFile), kOk);
  EXPECT_TRUE(ReadFileBytes(dir.File("t.txt")) == text);

  const auto ms = [](Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
  };
  EXPECT_LT(intoMemory, intoFile * 3 + std::chrono::seconds(1))
      << ms(intoMemory) << " ms, into a file " << ms(intoFile) << " ms";
  EXPECT_LT(outOfMemory, outOfFile * 3 + std::chrono::seconds(1))
      << ms(outOfMemory) << " ms, into a file " << ms(outOfFile) << " ms";
}

// A gzip member whose one dynamic block is a literal 0 and then `matches`
// copies of 258 bytes at distance 1 (a multiple of 4). Each copy takes two
// bits, so gigabytes of zeros fit in a few megabytes. The trailer holds the
// true CRC-32 and the size modulo 2^32, as a real writer would put them.
std::string ZeroRunMember(std::uint32_t matches) {
  deflate_test::BitWriter w;
  w.Put(1, 1);   // BFINAL
  w.Put(2, 2);   // dynamic
  w.Put(29, 5);  // HLIT: 286 literal/length codes
  w.Put(1, 5);   // HDIST: 2 distance codes
  w.Put(14, 4);  // HCLEN: 18 code-length codes
  // Code lengths of the code-length alphabet, in its order; 18 -> "0",
  // 1 -> "10", 2 -> "11".
  const std::uint8_t order[18] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1};
  for (const std::uint8_t sym : order)
    w.Put(sym == 18 ? 1 : sym == 1 || sym == 2 ? 2 : 0, 3);
  auto zeros = [&](unsigned n) {  // symbol 18: 11..138 zeros
    w.PutCode(0, 1);
    w.Put(n - 11, 7);
  };
  // Literal 0 and end-of-block: 2 bits ("10", "11"); length 258: 1 bit ("0").
  w.PutCode(3, 2);  // length 2 for symbol 0
  zeros(138);
  zeros(117);       // 1..255
  w.PutCode(3, 2);  // 256
  zeros(28);        // 257..284
  w.PutCode(2, 2);  // 285: length 1
  w.PutCode(2, 2);  // two distance codes of length 1: "0" is distance 1
  w.PutCode(2, 2);
  w.PutCode(2, 2);  // the literal 0
  // The copies are all zero bits; the writer's last byte already holds the
  // first of them when it is partial.
  const std::size_t used = w.BitCount() % 8;
  std::string out(w.bytes().begin(), w.bytes().end());
  out.append(matches / 4 - (used != 0 ? 1 : 0), '\0');
  deflate_test::BitWriter tail;
  for (std::size_t k = 0; k < used; ++k)
    tail.PutBit(0);
  tail.PutCode(3, 2);  // end of block
  out.append(tail.bytes().begin(), tail.bytes().end());

  const std::uint64_t size = 1 + std::uint64_t{258} * matches;
  static const std::vector<Bytef> mib(1 << 20, 0);
  const uLong mibCrc = crc32(0, mib.data(), static_cast<uInt>(mib.size()));
  uLong crc = crc32(0, nullptr, 0);
  for (std::uint64_t k = 0; k < size >> 20; ++k)
    crc = crc32_combine(crc, mibCrc, static_cast<z_off_t>(mib.size()));
  crc = crc32(crc, mib.data(), static_cast<uInt>(size & 0xFFFFF));
  return FixedHeader(0) + out + Le32(static_cast<std::uint32_t>(crc)) +
         Le32(static_cast<std::uint32_t>(size));
}

// Records the progress notices of an extraction; answers kCancelled from
// the notice numbered `stopAt` on (0: never).
struct Progress {
  static StatusCode Notify(EngineObject* o, StatusCode code,
                           const std::uint32_t* produced) noexcept {
    auto& self = *static_cast<Progress*>(o->state);
    EXPECT_EQ(code, kInflateEndOfStream);
    self.counts.push_back(*produced);
    return self.stopAt != 0 && self.counts.size() >= self.stopAt ? kCancelled : kOk;
  }
  static constexpr InflateObserverOps kOps = {Core_NotImplemented, Notify, Core_NotImplemented};
  std::vector<std::uint32_t> counts;
  std::size_t stopAt = 0;
  EngineObject object{this, &kOps};
};

// One compressed block of 1 MiB: the caller hears of it as it inflates, can
// stop it, and can bound what reaches the sink to the byte.
TEST(GzipRead, ExtractionIsBoundedAndReportsProgressInsideABlock) {
  const std::uint32_t matches = 4064;  // 1 + 258 * 4064 = 1048513 bytes
  const std::uint32_t size = 1 + 258 * matches;
  const std::string member = ZeroRunMember(matches);
  ASSERT_LT(member.size(), 1200u);

  Gzip g;
  ASSERT_EQ(g.OpenFirst(member), kOk);
  Progress progress;
  EngineObject* sink = g.Stream();
  std::uint32_t got = 0;
  ASSERT_EQ(Ops().extractMember(g.object, sink, 0, &progress.object, nullptr, &got), kOk);
  EXPECT_EQ(got, size);
  ASSERT_GE(progress.counts.size(), size / kArchiveProgressStep);
  EXPECT_EQ(progress.counts.back(), size);
  std::uint32_t before = 0;
  for (const std::uint32_t c : progress.counts) {
    EXPECT_GT(c, before);
    EXPECT_LE(c - before, kArchiveProgressStep);
    before = c;
  }

  // The observer stops it: nothing is decoded far past its answer.
  Progress stop;
  stop.stopAt = 2;
  codecs_test::CountingSink counted;
  ASSERT_EQ(g.OpenFirst(member), kOk);
  EXPECT_EQ(Ops().extractMember(g.object, &counted.object, 0, &stop.object, nullptr, nullptr),
            kCancelled);
  ASSERT_EQ(stop.counts.size(), 2u);
  EXPECT_EQ(counted.written, stop.counts.back());

  struct Case {
    std::uint32_t limit;
    StatusCode expected;
    std::uint64_t written;
  };
  const Case cases[] = {
      {kGzipNoOutputLimit, kOk, size},
      {size, kOk, size},
      {size - 1, kGzipOutputLimit, size - 1},
      {100000, kGzipOutputLimit, 100000},
      {0, kGzipOutputLimit, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    ASSERT_EQ(GzipMod_SetOutputLimit(g.object, c.limit), kOk);
    ASSERT_EQ(g.OpenFirst(member), kOk);  // the limit is kept across OpenRead
    codecs_test::CountingSink out;
    EXPECT_EQ(Ops().extractMember(g.object, &out.object, 0, nullptr, nullptr, nullptr), c.expected);
    EXPECT_EQ(out.written, c.written);
    EXPECT_EQ(out.end, c.written);
  }
  // An empty member fits a limit of 0, and skipping members is not bounded.
  ASSERT_EQ(GzipMod_SetOutputLimit(g.object, 0), kOk);
  ASSERT_EQ(g.OpenFirst(g.Write({{"", ""}}) + member), kOk);
  std::string out;
  EXPECT_EQ(g.Extract(&out), kOk);
  EXPECT_EQ(Ops().nextMember(g.object), kOk);
  EXPECT_EQ(Ops().nextMember(g.object), kNoMore);
  // Only gzip instances take a limit.
  EXPECT_EQ(GzipMod_SetOutputLimit(nullptr, 0), kBadArgument);
}

// For the duration of a test, the checksum service computes CRC-32 with
// zlib (against which the engine's own is checked): in an unoptimised build
// the engine's would spend most of a 4 GiB test's time.
class ZlibCrcService {
 public:
  ZlibCrcService() : saved_(g_ChecksumModule) { g_ChecksumModule = &object_; }
  ~ZlibCrcService() { g_ChecksumModule = saved_; }
  ZlibCrcService(const ZlibCrcService&) = delete;
  ZlibCrcService& operator=(const ZlibCrcService&) = delete;

 private:
  static StatusCode Crc(EngineObject*, const void* data, std::uint32_t n,
                        std::uint32_t* value) noexcept {
    *value = ~static_cast<std::uint32_t>(crc32(~*value, static_cast<const Bytef*>(data), n));
    return kOk;
  }
  static StatusCode Other(EngineObject*, const void*, std::uint32_t, std::uint32_t*) noexcept {
    return kFailed;
  }
  static constexpr ChecksumOps kOps = {Core_NotImplemented, Crc, Other, Other, Core_NotImplemented};
  EngineObject* saved_;
  EngineObject object_{nullptr, &kOps};
};

// Output that would pass the last stream position is refused where it would
// pass it; nothing wraps onto the start of the sink.
TEST(GzipRead, OutputPastTheLastStreamPositionIsRefused) {
  const std::string small = ZeroRunMember(4);  // 1033 bytes
  Gzip g;
  ASSERT_EQ(g.OpenFirst(small), kOk);
  codecs_test::CountingSink near;
  EXPECT_EQ(Ops().extractMember(g.object, &near.object, 0xFFFFFF00u, nullptr, nullptr, nullptr),
            kGzipTooLarge);
  EXPECT_EQ(near.end, 0xFFFFFFFFu);
  EXPECT_FALSE(near.overwrote);
  ASSERT_EQ(g.OpenFirst(small), kOk);
  codecs_test::CountingSink fits;
  EXPECT_EQ(
      Ops().extractMember(g.object, &fits.object, 0xFFFFFFFFu - 1033, nullptr, nullptr, nullptr),
      kOk);
  EXPECT_EQ(fits.end, 0xFFFFFFFFu);

  // A member of 4 GiB and 1017 bytes with a valid trailer (its size modulo
  // 2^32 is 1017): once it decoded wrapped its position to 0 and succeeded.
  ZlibCrcService fastCrc;
  const std::uint32_t matches = 16647164;
  const std::string huge = ZeroRunMember(matches);
  ASSERT_LT(huge.size(), 4200000u);
  ASSERT_EQ(g.OpenFirst(huge), kOk);
  codecs_test::CountingSink out;
  EXPECT_EQ(Ops().extractMember(g.object, &out.object, 0, nullptr, nullptr, nullptr),
            kGzipTooLarge);
  EXPECT_FALSE(out.overwrote);
  EXPECT_EQ(out.end, 0xFFFFFFFFu);
  EXPECT_EQ(out.written, 0xFFFFFFFFu);
}

}  // namespace
