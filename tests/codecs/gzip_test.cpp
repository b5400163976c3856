#include "engine/codecs/gzip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/codecs/inflate.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
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
  StreamOf(s).getSize(s, &size);
  if (from >= size) return {};
  length = std::min(length, size - from);
  std::string out(length, '\0');
  std::uint32_t got = 0;
  if (length != 0) StreamOf(s).readAt(s, from, out.data(), length, &got);
  out.resize(got);
  return out;
}

// An instance with its streams, released at the end of the test.
struct Gzip {
  Gzip() { EXPECT_EQ(Ops().create(g_GzipModule, &object), kOk); }
  ~Gzip() {
    Ops().destroy(object);
    for (EngineObject* s : streams)
      StreamOf(s).close(s);
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
    if (s == kOk) EXPECT_EQ(size, text->size());
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
  StreamOf(in).close(in);
  StreamOf(out).close(out);
  EXPECT_EQ(RunPeer("gzip -dc '" + dir.File("out.gz") + "'", "", &status), text);
  EXPECT_EQ(status, 0);
}

}  // namespace
