// The plain-text handler and the common handler parts: probes, the common
// controls and bookmark answers, text from memory and through the two-half
// stream window (against the file bytes, with `tr` as the peer for NUL), the
// window's edges, ownership across close and repeated attaches, and failing
// streams.
#include "engine/formats/text_doc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/formats/flow_text.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "tests/support/fake_device.h"
#include "tests/support/peer.h"
#include "tests/support/temp_dir.h"

namespace {

// A stream over a string that counts its reads and can be made to fail.
struct TestStreamBody {
  std::string data;
  int reads = 0;
  bool failReads = false;
  bool failSize = false;
  std::uint32_t failReadsAbove = 0xFFFFFFFFu;  // reads of more bytes fail
};

TestStreamBody& Body(EngineObject* s) {
  return *static_cast<TestStreamBody*>(s->state);
}

StatusCode TestReadAt(EngineObject* s, std::uint32_t position, void* buffer, std::uint32_t n,
                      std::uint32_t* count) noexcept {
  TestStreamBody& b = Body(s);
  ++b.reads;
  if (b.failReads || n > b.failReadsAbove) return kFailed;
  const std::uint32_t size = static_cast<std::uint32_t>(b.data.size());
  const std::uint32_t got = position >= size ? 0 : std::min(n, size - position);
  std::memcpy(buffer, b.data.data() + std::min(position, size), got);
  if (count) *count = got;
  return kOk;
}
StatusCode TestGetSize(EngineObject* s, std::uint32_t* size) noexcept {
  if (Body(s).failSize) return kFailed;
  *size = static_cast<std::uint32_t>(Body(s).data.size());
  return kOk;
}

template <class Slot>
constexpr auto No = CoreStub<Slot>::NotSupported;

constexpr StreamOps kTestStreamOps = {
    Core_NotImplemented,
    No<decltype(StreamOps::close)>,
    No<decltype(StreamOps::seek)>,
    No<decltype(StreamOps::read)>,
    No<decltype(StreamOps::write)>,
    TestReadAt,
    No<decltype(StreamOps::writeAt)>,
    No<decltype(StreamOps::readU16s)>,
    No<decltype(StreamOps::writeU16s)>,
    No<decltype(StreamOps::readU32s)>,
    No<decltype(StreamOps::writeU32s)>,
    No<decltype(StreamOps::readU16sBE)>,
    No<decltype(StreamOps::writeU16sBE)>,
    No<decltype(StreamOps::readU32sBE)>,
    No<decltype(StreamOps::writeU32sBE)>,
    TestGetSize,
    No<decltype(StreamOps::setSize)>,
    No<decltype(StreamOps::reserve)>,
    No<decltype(StreamOps::setGrowthHint)>,
    No<decltype(StreamOps::copyTo)>,
    No<decltype(StreamOps::fill)>,
    No<decltype(StreamOps::getProperty)>,
    Core_NotImplemented,
};

struct TestStream {
  explicit TestStream(std::string bytes) { body.data = std::move(bytes); }
  EngineObject* get() { return &object; }
  TestStreamBody body;
  EngineObject object{&body, &kTestStreamOps};
};

const DocHandlerOps& TextOps() {
  return DocOpsOf(&TextDocModule);
}

class TextDocTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(TextOps().create(&TextDocModule, &doc), kOk); }
  void TearDown() override {
    if (doc) {
      EXPECT_EQ(TextOps().destroy(doc), kOk);
    }
  }
  StatusCode Command(std::uint32_t code, void* object = nullptr, std::uint32_t value = 0) {
    return TextOps().command(doc, code, object, value);
  }
  // GetText at p asking for n bytes, as a string; "<null>" for a null answer.
  std::string Text(std::uint32_t p, std::uint32_t n, StatusCode* status = nullptr) {
    const std::uint8_t* t = nullptr;
    std::uint32_t len = n;
    const StatusCode s = TextOps().getText(doc, p, &t, &len);
    if (status) *status = s;
    if (t == nullptr) return len == 0 ? "<null>" : "<null+len>";
    return std::string(reinterpret_cast<const char*>(t), len);
  }
  std::string Before(std::uint32_t p, std::uint32_t n) {
    const std::uint8_t* t = nullptr;
    std::uint32_t len = n;
    EXPECT_EQ(TextOps().getTextBefore(doc, p, &t, &len), kOk);
    if (t == nullptr) return len == 0 ? "<null>" : "<null+len>";
    return std::string(reinterpret_cast<const char*>(t), len);
  }
  std::string ReadAll() {
    std::uint32_t length = 0;
    EXPECT_EQ(TextOps().getTextLength(doc, &length), kOk);
    std::string out(length, '\0');
    std::uint32_t copied = 0;
    EXPECT_EQ(TextOps().readRange(doc, 0, length, reinterpret_cast<std::uint8_t*>(out.data()),
                                  length, &copied),
              kOk);
    out.resize(copied);
    return out;
  }
  EngineObject* doc = nullptr;
};

TEST(TextDocModuleTest, AcceptsEveryProbe) {
  const DocHandlerOps& ops = TextOps();
  EXPECT_EQ(ops.command(&TextDocModule, DocCommand::ProbeNone, nullptr, 0), kDocProbeText);
  EXPECT_EQ(ops.command(&TextDocModule, DocCommand::ProbeHeader, nullptr, 12), kDocProbeTextHeader);
  for (std::uint32_t code = 18; code <= 31; ++code)
    EXPECT_EQ(ops.command(&TextDocModule, code, nullptr, 0), kDocProbeText) << code;
  EXPECT_EQ(ops.command(&TextDocModule, 0x50011, nullptr, 0), kDocProbeTextHeader)
      << "only the low 16 bits of a code count";
  EXPECT_EQ(ops.command(&TextDocModule, DocCommand::AttachText, nullptr, 0), kMalformed);
  // The status values are part of the contract.
  EXPECT_EQ(static_cast<std::uint32_t>(kDocProbeTextHeader), 0x07110001u);
  EXPECT_EQ(static_cast<std::uint32_t>(kDocProbeText), 0x07110002u);
  EXPECT_EQ(static_cast<std::uint32_t>(kDocStepDone), 0x07110004u);
  EXPECT_EQ(static_cast<std::uint32_t>(kDocNewerVersion), 0x8711000Au);
  EXPECT_EQ(ops.word0(nullptr), kFailed);
  EXPECT_EQ(ops.end(nullptr), kFailed);
}

TEST_F(TextDocTest, SlotsOfAPlainTextDocument) {
  const std::string text = "one section";
  ASSERT_EQ(Command(DocCommand::AttachText, const_cast<char*>(text.data()), 11), kOk);
  const DocHandlerOps& ops = TextOps();
  EXPECT_EQ(ops.backgroundStep(doc), kDocStepDone);
  std::uint32_t s = 9, e = 9, word = 5;
  std::int16_t section = 9;
  ASSERT_EQ(ops.getSectionRange(doc, 0, &s, &e), kOk);
  EXPECT_EQ(s, 0u);
  EXPECT_EQ(e, 11u);
  EXPECT_EQ(ops.getSectionRange(doc, 1, &s, &e), kNoMore);
  ASSERT_EQ(ops.findSection(doc, 10, &section, &s, &e), kOk);
  EXPECT_EQ(section, 0);
  EXPECT_EQ(ops.findSection(doc, 11, &section, nullptr, nullptr), kNoMore);
  ASSERT_EQ(ops.findSection(doc, 3, nullptr, nullptr, nullptr), kOk);
  EXPECT_EQ(ops.getLinkAt(doc, 0, &s, &e, &word), kFailed);
  EXPECT_EQ(ops.layoutPassStep(doc, nullptr, nullptr, 0, 0, &word), kOk);
  EXPECT_EQ(word, 5u);
  EXPECT_EQ(Command(DocCommand::OpenDatabase), kMalformed);
  EXPECT_EQ(Command(77), kMalformed);
}

TEST_F(TextDocTest, CommonControlsAndCharStyle) {
  const DocHandlerOps& ops = TextOps();
  std::uint16_t charset = 0;
  ASSERT_EQ(ops.control(doc, DocControl::GetCharset, 0, &charset), kOk);
  EXPECT_EQ(charset, 2252);
  ASSERT_EQ(ops.control(doc, DocControl::SetCharset, 0x1006A, nullptr), kOk);
  ASSERT_EQ(ops.control(doc, DocControl::GetCharset, 0, &charset), kOk);
  EXPECT_EQ(charset, 106) << "the low 16 bits";
  EXPECT_EQ(ops.control(doc, DocControl::GetCharset, 0, nullptr), kNullOutPointer);

  DeviceFontSpec font{};
  CharFormat format{};
  format.leftIndent = 9;
  std::uint32_t runEnd = 0;
  ASSERT_EQ(ops.getCharStyle(doc, nullptr, 5, &font, &format, &runEnd), kOk);
  EXPECT_EQ(font.faceClass, DeviceFace::Default);
  EXPECT_EQ(font.size, 10);
  EXPECT_EQ(font.style, 0);
  EXPECT_EQ(format.formatFlags, 0);
  EXPECT_EQ(format.leftIndent, 0);
  EXPECT_EQ(runEnd, kRunToEnd);

  ASSERT_EQ(ops.control(doc, DocControl::SetFlags, DocFlag::RightAlign | 0x40, nullptr), kOk);
  ASSERT_EQ(ops.getCharStyle(doc, nullptr, 5, nullptr, &format, nullptr), kOk);
  EXPECT_EQ(format.formatFlags & DocFormat::AlignMask, DocFormat::AlignRight);
  ASSERT_EQ(ops.control(doc, DocControl::ClearFlags, DocFlag::RightAlign, nullptr), kOk);
  ASSERT_EQ(ops.getCharStyle(doc, nullptr, 5, nullptr, &format, nullptr), kOk);
  EXPECT_EQ(format.formatFlags, 0);

  int store = 0;
  auto* fakeStore = reinterpret_cast<AnnotStore*>(&store);
  ASSERT_EQ(ops.control(doc, DocControl::SetAnnotations, 0, fakeStore), kOk);
  AnnotStore* got = nullptr;
  ASSERT_EQ(ops.control(doc, DocControl::GetAnnotations, 0, &got), kOk);
  EXPECT_EQ(got, fakeStore);

  // Reset restores flags and charset; the annotation binding is the view's.
  ASSERT_EQ(ops.control(doc, DocControl::Reset, 0, nullptr), kOk);
  ASSERT_EQ(ops.control(doc, DocControl::GetCharset, 0, &charset), kOk);
  EXPECT_EQ(charset, 2252);
  ASSERT_EQ(ops.control(doc, DocControl::GetAnnotations, 0, &got), kOk);
  EXPECT_EQ(got, fakeStore);
  for (std::uint16_t code : {0, 19, 22, 26, 33, 36, 999})
    EXPECT_EQ(ops.control(doc, code, 0, &got), kNotSupported) << code;
}

TEST_F(TextDocTest, PlainTextHasNoBookmarkLists) {
  const DocHandlerOps& ops = TextOps();
  for (std::uint16_t sub : {DocBookmark::ListMask, DocBookmark::Count}) {
    std::uint16_t v = 7;
    ASSERT_EQ(ops.bookmarkOp(doc, sub, 0, &v), kOk);
    EXPECT_EQ(v, 0);
  }
  std::uint32_t capability = 7;
  ASSERT_EQ(ops.bookmarkOp(doc, DocBookmark::Capability, 0, &capability), kOk);
  EXPECT_EQ(capability, 0u);
  std::uint32_t junk = 0;
  for (std::uint16_t sub : {0, 17, 48, 80, 96, 112, 128, 144, 160, 176, 192, 208, 224, 225, 240})
    EXPECT_EQ(ops.bookmarkOp(doc, sub, 0, &junk), kNotSupported) << sub;
}

TEST_F(TextDocTest, TextInMemory) {
  const std::string text = std::string("abc\0def", 7);
  ASSERT_EQ(Command(DocCommand::AttachText, const_cast<char*>(text.data()), 7), kOk);
  EXPECT_EQ(Text(0, 100), text) << "the caller's bytes are served as they are";
  EXPECT_EQ(Text(5, 1), "e");
  EXPECT_EQ(Text(7, 5), "<null>");
  EXPECT_EQ(Before(7, 3), "def");
  EXPECT_EQ(Before(2, 10), "ab");
  EXPECT_EQ(Before(0, 3), "<null>");
  EXPECT_EQ(Before(8, 3), "<null>");
  EXPECT_EQ(Command(DocCommand::AttachText, nullptr, 5), kBadArgument);
}

// The window: aligned 4096-byte halves, each access cut at its half.
TEST_F(TextDocTest, StreamWindowEdges) {
  std::string bytes(5000, 'x');
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>('a' + i % 26);
  bytes[4999] = '\0';
  TestStream stream(bytes);
  ASSERT_EQ(Command(DocCommand::AttachStream, stream.get()), kOk);
  EXPECT_EQ(stream.body.reads, 1);
  EXPECT_EQ(Text(4095, 10), bytes.substr(4095, 1));
  EXPECT_EQ(Text(4096, 5000), bytes.substr(4096, 903) + "?");
  EXPECT_EQ(Before(4096, 10), bytes.substr(4086, 10)) << "served from the end of half 0";
  EXPECT_EQ(Before(4100, 10), bytes.substr(4096, 4)) << "cut at the half's start";
  EXPECT_EQ(stream.body.reads, 1) << "no refills inside the first 8192 bytes";
  StatusCode status = kFailed;
  EXPECT_EQ(Text(5000, 10, &status), "<null>");
  EXPECT_EQ(status, kOk);
  EXPECT_EQ(Before(5001, 10), "<null>");
}

TEST_F(TextDocTest, ARefillSparesTheHalfJustUsed) {
  std::string bytes(5 * 4096, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>('A' + (i / 4096));
  TestStream stream(bytes);
  ASSERT_EQ(Command(DocCommand::AttachStream, stream.get()), kOk);
  const std::uint8_t* first = nullptr;
  std::uint32_t len = 4;
  ASSERT_EQ(TextOps().getText(doc, 3 * 4096, &first, &len), kOk);  // refill
  ASSERT_EQ(std::string(reinterpret_cast<const char*>(first), len), "DDDD");
  EXPECT_EQ(Text(4 * 4096 + 10, 4), "EEEE");  // refills the other half
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(first), 4), "DDDD")
      << "the earlier pointer survives the next access";
  EXPECT_EQ(Before(3 * 4096, 2), "CC");
  EXPECT_EQ(Before(4096, 2), "AA");
  EXPECT_EQ(Text(1, 2), "AA");
  EXPECT_EQ(stream.body.reads, 5);
}

// A walk through the text either way goes through the read-ahead: one
// stream read per 128 KiB, and NUL bytes at every half and read-ahead edge
// (and a block all of NUL) come out as '?' exactly there.
TEST_F(TextDocTest, WalksReadAheadAndKeepEveryByteAtTheEdges) {
  const std::uint32_t size = 3 * kTextDocReadAhead + 4096 + 123;
  std::string bytes(size, '\0');
  for (std::uint32_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>('a' + i % 23);
  for (std::uint32_t edge = 0; edge < size; edge += kTextDocHalf) {
    bytes[edge] = '\0';
    if (edge > 0) bytes[edge - 1] = '\0';
  }
  bytes[size - 1] = '\0';
  bytes.replace(kTextDocReadAhead + 4096, 4096, std::string(4096, '\0'));
  std::string shown = bytes;
  for (char& c : shown)
    c = c == '\0' ? '?' : c;

  for (const bool forward : {true, false}) {
    SCOPED_TRACE(forward ? "forward" : "backward");
    TestStream stream(bytes);
    ASSERT_EQ(Command(DocCommand::AttachStream, stream.get()), kOk);
    std::string walked;
    if (forward) {
      for (std::uint32_t p = 0; p < size;) {
        const std::string piece = Text(p, 1000);
        ASSERT_NE(piece, "<null>") << p;
        walked += piece;
        p += static_cast<std::uint32_t>(piece.size());
      }
    } else {
      for (std::uint32_t p = size; p > 0;) {
        const std::string piece = Before(p, 1000);
        ASSERT_NE(piece, "<null>") << p;
        walked.insert(0, piece);
        p -= static_cast<std::uint32_t>(piece.size());
      }
    }
    EXPECT_EQ(walked, shown);
    // The attach, then one read per read-ahead (the backward walk starts with
    // a lone miss on the last block).
    EXPECT_LE(stream.body.reads,
              1 + (forward ? 0 : 1) + static_cast<int>(size / kTextDocReadAhead) + 1);
    ASSERT_EQ(Command(DocCommand::Close), kOk);
  }
}

// A read-ahead that cannot be read (here: any read above one block fails)
// costs nothing but speed: each miss reads its block alone.
TEST_F(TextDocTest, AReadAheadThatFailsFallsBackToSingleBlocks) {
  std::string bytes(6 * kTextDocHalf + 10, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>('A' + i / kTextDocHalf);
  TestStream stream(bytes);
  ASSERT_EQ(Command(DocCommand::AttachStream, stream.get()), kOk);
  stream.body.failReadsAbove = kTextDocHalf;
  for (std::uint32_t block = 2; block <= 6; ++block) {
    SCOPED_TRACE(block);
    EXPECT_EQ(Text(block * kTextDocHalf, 3), std::string(3, static_cast<char>('A' + block)));
  }
  EXPECT_EQ(Before(kTextDocHalf, 2), "AA");
}

TEST_F(TextDocTest, FailingStreams) {
  TestStream broken("hello");
  broken.body.failSize = true;
  EXPECT_EQ(Command(DocCommand::AttachStream, broken.get()), kFailed);
  std::uint32_t length = 9;
  ASSERT_EQ(TextOps().getTextLength(doc, &length), kOk);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(Text(0, 5), "<null>");

  std::string bytes(3 * 4096, 'a');
  bytes.replace(2 * 4096, 4096, std::string(4096, 'c'));
  TestStream stream(bytes);
  ASSERT_EQ(Command(DocCommand::AttachStream, stream.get()), kOk);
  stream.body.failReads = true;
  StatusCode status = kOk;
  EXPECT_EQ(Text(2 * 4096, 3, &status), "<null>");
  EXPECT_EQ(status, kFailed);
  stream.body.failReads = false;
  // The half whose refill failed is not taken for the block it was asked.
  EXPECT_EQ(Text(2 * 4096, 3, &status), "ccc");
  EXPECT_EQ(Text(0, 3), "aaa");
  EXPECT_EQ(Command(DocCommand::AttachStream, nullptr), kBadArgument);
}

// Close forgets the text; reading afterwards reads nothing. Repeated
// attaches reuse the one window; the caller's text is never freed (the
// sanitizers' leak and heap checks watch both).
TEST_F(TextDocTest, CloseAndReattachKeepOwnershipClear) {
  TestStream stream(std::string(9000, 's'));
  const std::string text = "memory text";
  ASSERT_EQ(Command(DocCommand::AttachStream, stream.get()), kOk);
  ASSERT_EQ(Command(DocCommand::Close), kOk);
  EXPECT_EQ(Text(0, 10), "<null>");
  EXPECT_EQ(Before(5, 3), "<null>");
  EXPECT_EQ(ReadAll(), "");
  ASSERT_EQ(Command(DocCommand::AttachStream, stream.get()), kOk);
  ASSERT_EQ(Command(DocCommand::AttachStream, stream.get()), kOk);
  EXPECT_EQ(Text(8999, 5), "s");
  ASSERT_EQ(Command(DocCommand::AttachText, const_cast<char*>(text.data()), 11), kOk);
  EXPECT_EQ(Text(0, 100), text);
  // 49 and 50 are refused and change nothing.
  const std::string other = "other";
  EXPECT_EQ(Command(DocCommand::SetTextPointer, const_cast<char*>(other.data())), kMalformed);
  EXPECT_EQ(Command(DocCommand::SetStream, stream.get()), kMalformed);
  EXPECT_EQ(Text(0, 100), text);
  ASSERT_EQ(Command(DocCommand::Close), kOk);
  EXPECT_EQ(Text(0, 100), "<null>");
}

std::u16string Wide(const std::string& s) {
  return std::u16string(s.begin(), s.end());
}

// Files around the window's sizes read the same from memory (the bytes) and
// from a file stream (the bytes with NUL shown as '?', as `tr` shows them),
// whole and at random positions in both directions.
TEST_F(TextDocTest, FilesAroundTheWindowSizes) {
  KELPO_REQUIRE_PEER("tr");
  TempDir dir;
  std::mt19937 rng(11);
  for (std::uint32_t size : {4095u, 4096u, 4097u, 8192u, 8193u, 20000u, 69633u, 200000u}) {
    SCOPED_TRACE(size);
    std::string bytes(size, '\0');
    for (char& c : bytes)
      c = static_cast<char>(rng() % 5 == 0 ? 0 : rng() % 256);
    const std::string path = dir.File("f" + std::to_string(size) + ".txt");
    WriteFileBytes(path, bytes);
    int status = -1;
    const std::string shown = RunPeer("tr '\\000' '?' < '" + path + "'", "", &status);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(shown.size(), size);

    ASSERT_EQ(Command(DocCommand::AttachText, bytes.data(), size), kOk);
    EXPECT_EQ(ReadAll(), bytes);

    std::u16string wide = Wide(path);
    EngineObject* file = nullptr;
    ASSERT_EQ(FileSys_Open(g_FileSysModule, wide.data(), 0, kFileOpenRead, &file), kOk);
    ASSERT_EQ(Command(DocCommand::AttachStream, file), kOk);
    EXPECT_EQ(ReadAll(), shown);
    for (int k = 0; k < 300; ++k) {
      const std::uint32_t p = rng() % (size + 2);
      const std::uint32_t n = 1 + rng() % 5000;
      const std::string got = Text(p, n);
      if (p >= size) {
        EXPECT_EQ(got, "<null>");
      } else {
        ASSERT_FALSE(got.empty());
        ASSERT_LE(got.size(), n);
        EXPECT_EQ(got, shown.substr(p, got.size())) << "GetText at " << p;
      }
      const std::string back = Before(p, n);
      if (p == 0 || p > size) {
        EXPECT_EQ(back, "<null>");
      } else {
        ASSERT_FALSE(back.empty());
        EXPECT_EQ(back, shown.substr(p - back.size(), back.size())) << "GetTextBefore at " << p;
      }
    }
    ASSERT_EQ(Command(DocCommand::Close), kOk);
    EXPECT_EQ(StreamOf(file).close(file), kOk);
  }
}

// The handler lays out, finds and copies through the shared defaults.
TEST_F(TextDocTest, LaysOutThroughTheDefaults) {
  EngineObject* dev = FakeDevice_Open(200, 100);
  DeviceContext ctx = nullptr;
  ASSERT_EQ(DeviceOf(dev).beginDraw(dev, &ctx), kOk);
  const std::string withNul("first line\r\nsecond\0line", 23);
  TestStream stream(withNul);
  ASSERT_EQ(Command(DocCommand::AttachStream, stream.get()), kOk);
  const DocHandlerOps& ops = TextOps();
  std::uint32_t next = 0;
  LineMetrics m{};
  ASSERT_EQ(ops.layoutLine(doc, dev, ctx, 0, 23, 200, &next, &m), kOk);
  EXPECT_EQ(next, 12u);
  ASSERT_EQ(ops.layoutLine(doc, dev, ctx, 12, 23, 200, &next, &m), kOk);
  EXPECT_EQ(next, 23u);
  std::uint32_t s = 0, e = 0;
  ASSERT_EQ(ops.findLine(doc, dev, ctx, 12, 0, 200, &s, &e, nullptr), kOk);
  EXPECT_EQ(s, 0u);
  EXPECT_EQ(e, 12u);
  ASSERT_EQ(ops.copyRange(doc, dev, 12, 23), kOk);
  EXPECT_EQ(FakeDevice_Of(dev).clipboard, u"second?line");
  EXPECT_EQ(DeviceOf(dev).endDraw(dev, ctx), kOk);
  FakeDevice_Close(dev);
}

TEST(TextDocCreate, NeedsAnOutPointer) {
  EXPECT_EQ(TextOps().create(&TextDocModule, nullptr), kNullOutPointer);
}

}  // namespace
