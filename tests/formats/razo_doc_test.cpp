#include "engine/formats/razo_doc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/formats/razo_doc_internal.h"
#include "engine/runtime/allocator.h"
#include "tests/formats/razo_fixture.h"
#include "tests/support/fake_device.h"
#include "tests/support/temp_dir.h"

namespace {

using razo_fixture::Json;
using razo_fixture::Opened;
using razo_fixture::Ops;
using razo_fixture::ReadAll;
using razo_fixture::Write;
using record_db_fixtures::GetBE;
using record_db_fixtures::ParseRecords;

// How the recording device logs a colour that was not given.
constexpr std::int64_t kNoColour = 0xFFFFFFFF;

class RaZoDoc : public ::testing::Test {
 protected:
  void SetUp() override { KELPO_REQUIRE_PEER("python3"); }
};

// Text that holds every byte value, words and line breaks.
std::string SampleText(std::size_t size, unsigned seed = 7) {
  std::mt19937 rng(seed);
  std::string t;
  for (int c = 0; c < 256; ++c)
    t.push_back(static_cast<char>(c));
  static const char* kWords[] = {"alpha ", "beta ", "gamma\n", "delta ", "\xe9t\xe9 ", "zz "};
  while (t.size() < size) {
    t += kWords[rng() % 6];
    if (rng() % 50 == 0) t.push_back(static_cast<char>(rng() % 256));
  }
  t.resize(size);
  return t;
}

// --- text ----------------------------------------------------------------------

TEST_F(RaZoDoc, TextOfEveryBlockKindReadsBack) {
  struct Case {
    const char* what;
    std::size_t size;
    int n;
    const char* coding;
  };
  const Case cases[] = {
      {"own coder, one block per group", 3 * 4096 + 17, 1, "h"},
      {"own coder, 8 blocks per group, 11 blocks", 10 * 4096 + 5, 8, "h"},
      {"zlib dynamic blocks re-packed", 5 * 4096 - 3, 1, "z"},
      {"stored, every pad", 4096 + 4096 + 4093 + 4, 1, "s"},
      {"mixed coded and stored in a group of 3", 7 * 4096 + 2, 3, "hshshhsh"},
      {"exactly one block", 4096, 1, "h"},
      {"one byte", 1, 1, "s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string text = SampleText(c.size, static_cast<unsigned>(c.size));
    const std::string spec = "{\"text\":" + Json(text) + ",\"n\":" + std::to_string(c.n) +
                             ",\"coding\":\"" + c.coding + "\"}";
    Opened doc(Write(spec));
    ASSERT_EQ(doc.OpenStatus(), kOk);
    std::string got;
    ASSERT_EQ(ReadAll(doc.h(), &got), kOk);
    EXPECT_TRUE(got == text) << "first difference at "
                             << std::mismatch(got.begin(), got.end(), text.begin()).first -
                                    got.begin();
    // Backwards across every block edge.
    for (std::uint32_t p = 4096; p <= text.size(); p += 4096) {
      const std::uint8_t* t = nullptr;
      std::uint32_t n = 5000;
      ASSERT_EQ(Ops().getTextBefore(doc.h(), p, &t, &n), kOk);
      EXPECT_EQ(n, 4096u);
      EXPECT_EQ(std::memcmp(t, text.data() + p - n, n), 0);
    }
  }
}

TEST_F(RaZoDoc, GroupsPlaceTablesAndBlocksByRecordArithmetic) {
  // N = 8: block 8 is record 11 and its tables are in record 10.
  const std::string text = SampleText(9 * 4096 + 1);
  const std::string file = Write("{\"text\":" + Json(text) + ",\"n\":8}");
  const auto records = ParseRecords(file);
  ASSERT_GE(records.size(), 13u);
  EXPECT_EQ(records[1][1], 1);   // tables of group 0
  EXPECT_EQ(records[10][1], 1);  // tables of group 1
  EXPECT_EQ(records[11][1], 2);  // block 8
  Opened doc(file);
  const std::uint8_t* t = nullptr;
  std::uint32_t n = 4096;
  ASSERT_EQ(Ops().getText(doc.h(), 8 * 4096, &t, &n), kOk);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(t), n), text.substr(8 * 4096, 4096));
}

TEST_F(RaZoDoc, StoredBlockDropsItsPadBytes) {
  // Ten bytes are stored as type 6 with c = 3.
  const std::string file = Write("{\"text\":\"0123456789\",\"coding\":\"s\"}");
  const auto records = ParseRecords(file);
  ASSERT_GE(records.size(), 3u);
  EXPECT_EQ(records[2][1], 6);
  EXPECT_EQ(GetBE(records[2], 2, 2), 3u);
  Opened doc(file);
  std::string got;
  ASSERT_EQ(ReadAll(doc.h(), &got), kOk);
  EXPECT_EQ(got, "0123456789");
}

// --- styles --------------------------------------------------------------------

TEST_F(RaZoDoc, StyleWordsMapToCharacterStyles) {
  struct Case {
    std::uint16_t word, para;
    std::uint32_t flags;
    std::uint16_t face;
    std::int16_t size;
    std::uint16_t style;
    std::uint16_t align;
    std::uint8_t indent;
    std::uint16_t marker;
  };
  const std::uint16_t kLink = DeviceFontStyle::TextColour | DeviceFontStyle::DottedUnderline;
  const Case cases[] = {
      {0x0000, 0, 0, DeviceFace::SansSerif, 5, 0, DocFormat::AlignLeft, 0, 0},
      {0x0700, 0, 0, DeviceFace::SansSerif, 24, 0, DocFormat::AlignLeft, 0, 0},  // class 7
      {0x1300, 0, 0, DeviceFace::Fixed, 10, 0, DocFormat::AlignLeft, 0, 0},
      {0x0800, 0, 0, DeviceFace::SansSerif, 5, DeviceFontStyle::Bold, 0, 0, 0},
      {0x2000, 0, 0, DeviceFace::SansSerif, 5, DeviceFontStyle::Bold, 0, 0, 0},
      {0x4000, 0, 0, DeviceFace::SansSerif, 5, DeviceFontStyle::Underline, 0, 0, 0},
      {0xC000, 0, 0, DeviceFace::SansSerif, 5, DeviceFontStyle::Underline, 0, 0, 0},
      {0x8000, 0, 0, DeviceFace::SansSerif, 5, kLink, 0, 0, 0},
      {0x000F, 0, 0, DeviceFace::SansSerif, 5,
       DeviceFontStyle::Italic | DeviceFontStyle::StrikeOut | DocFontFlag::SetLow, 0, 0, 0},
      {0x0008, 0, 0, DeviceFace::SansSerif, 5, DocFontFlag::SetHigh, 0, 0, 0},
      {0x0000, 0, DocFlag::RightAlign, DeviceFace::SansSerif, 5, 0, DocFormat::AlignRight, 0, 0},
      {0x0010, 0, DocFlag::RightAlign, DeviceFace::SansSerif, 5, 0, DocFormat::AlignCentre, 0, 0},
      {0x0020, 0, 0, DeviceFace::SansSerif, 5, 0, DocFormat::AlignRight, 0, 0},
      {0x0030, 0, DocFlag::RightAlign, DeviceFace::SansSerif, 5, 0, DocFormat::AlignLeft, 0, 0},
      // Paragraph words at size 12: indent (P & 7) x size and the marker.
      {0x0480, 0x0003, 0, DeviceFace::SansSerif, 12, 0, 0, 36, 0},
      {0x0480, 0x0043, 0, DeviceFace::SansSerif, 12, 0, 0, 36, 0x8001},
      {0x0480, 0x004B, 0, DeviceFace::SansSerif, 12, 0, 0, 36, 0x8002},
      {0x0480, 0x0053, 0, DeviceFace::SansSerif, 12, 0, 0, 36, 0x8003},
      {0x0480, 0x0158, 0, DeviceFace::SansSerif, 12, 0, 0, 0, 2},
      {0x0480, 0x6358, 0, DeviceFace::SansSerif, 12, 0, 0, 27, 100},  // P > 25343: 12 x 9 / 4
      {0x0480, 0x635A, 0, DeviceFace::SansSerif, 12, 0, 0, 27, 100},  // 24 x 4 / 12 < 9
      {0x0480, 0x635B, 0, DeviceFace::SansSerif, 12, 0, 0, 36, 100},  // 36 x 4 / 12 >= 9
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.word << " " << c.para);
    const CharStyle s = RaZo_StyleFromWords(c.word, c.para, c.flags);
    EXPECT_EQ(s.font.faceClass, c.face);
    EXPECT_EQ(s.font.size, c.size);
    EXPECT_EQ(s.font.style, c.style);
    if (c.style & DeviceFontStyle::TextColour) {
      EXPECT_EQ(FakeRgb(s.font.text), 0x2040A0u);
    }
    EXPECT_EQ(s.format.formatFlags & DocFormat::AlignMask, c.align);
    EXPECT_EQ(s.format.leftIndent, c.indent);
    EXPECT_EQ(s.format.markerShape, c.marker);
  }
}

TEST_F(RaZoDoc, StyleRunsAcrossRecordsAndMarkersAtParagraphStarts) {
  // "Title\n* item\n\nplain" with a bullet paragraph and an empty one; then
  // many short runs spread over records of three.
  std::string text = "Title\nitem one\n\nplain text\n";
  std::string styles = "[[0,1824,0],[6,1152,67],[15,1152,67],[16,0,0]";
  struct Run {
    std::uint32_t start, end;
    std::uint16_t word;
  };
  std::vector<Run> runs = {{0, 6, 0x0720}, {6, 15, 0x0480}, {15, 16, 0x0480}};
  std::uint32_t p = 16;
  for (int k = 0; k < 40; ++k) {
    const auto word = static_cast<std::uint16_t>(0x0100 * (k % 8) | (k % 2));
    runs.push_back({p, p + 7, word});
    styles += ",[" + std::to_string(p) + "," + std::to_string(word) + ",0]";
    p += 7;
  }
  runs[3].start = 16;
  styles += "]";
  text.resize(p, 'x');
  runs.back().end = p;
  // The plain run at 16 is replaced by the first generated one.
  styles.replace(styles.find(",[16,0,0]"), 9, "");
  Opened doc(Write("{\"text\":" + Json(text) + ",\"styles\":" + styles + ",\"per_record\":3}"));
  ASSERT_EQ(doc.OpenStatus(), kOk);
  DeviceFontSpec font{};
  CharFormat format{};
  std::uint32_t end = 0;
  // Out of order, so the record cache moves both ways.
  std::vector<std::size_t> order(runs.size());
  for (std::size_t k = 0; k < order.size(); ++k)
    order[k] = (k * 17) % order.size();
  for (std::size_t k : order) {
    const Run& r = runs[k];
    SCOPED_TRACE(r.start);
    ASSERT_EQ(
        Ops().getCharStyle(doc.h(), nullptr, r.start + (r.end - r.start) / 2, &font, &format, &end),
        kOk);
    EXPECT_EQ(end, r.end);
    EXPECT_EQ(font.size, RaZo_StyleFromWords(r.word, 0, 0).font.size);
    EXPECT_EQ(font.style, RaZo_StyleFromWords(r.word, 0, 0).font.style);
  }
  // The bullet shows at the paragraph's start only, never on an empty one.
  ASSERT_EQ(Ops().getCharStyle(doc.h(), nullptr, 6, &font, &format, &end), kOk);
  EXPECT_EQ(format.markerShape, 0x8001);
  EXPECT_EQ(format.leftIndent, 36);
  ASSERT_EQ(Ops().getCharStyle(doc.h(), nullptr, 8, &font, &format, &end), kOk);
  EXPECT_EQ(format.markerShape, 0);
  ASSERT_EQ(Ops().getCharStyle(doc.h(), nullptr, 15, &font, &format, &end), kOk);
  EXPECT_EQ(format.markerShape, 0);
  // Past every run: font {0, 12, 0}, the last format, to the end.
  ASSERT_EQ(Ops().getCharStyle(doc.h(), nullptr, p + 5, &font, &format, &end), kOk);
  EXPECT_EQ(font.faceClass, 0);
  EXPECT_EQ(font.size, 12);
  EXPECT_EQ(end, kRunToEnd);
}

TEST_F(RaZoDoc, RightAlignControlAlignsTheDefaultParagraphWithoutStyles) {
  Opened doc(Write("{\"text\":\"abc\"}"));
  DeviceFontSpec font{};
  CharFormat format{};
  std::uint32_t end = 0;
  ASSERT_EQ(Ops().control(doc.h(), DocControl::SetFlags, DocFlag::RightAlign, nullptr), kOk);
  ASSERT_EQ(Ops().getCharStyle(doc.h(), nullptr, 1, &font, &format, &end), kOk);
  EXPECT_EQ(format.formatFlags & DocFormat::AlignMask, DocFormat::AlignRight);
  ASSERT_EQ(Ops().control(doc.h(), DocControl::ClearFlags, DocFlag::RightAlign, nullptr), kOk);
  ASSERT_EQ(Ops().getCharStyle(doc.h(), nullptr, 1, &font, &format, &end), kOk);
  EXPECT_EQ(format.formatFlags & DocFormat::AlignMask, DocFormat::AlignLeft);
}

// --- links, targets and anchors ------------------------------------------------

std::string LinkDoc() {
  return Write("{\"text\":" + Json(std::string(300, 'a')) +
               ",\"links\":[[10,5,291],[40,3,4278191106],[100,10,4278190080],[200,4,7]],"
               "\"per_record\":2,\"targets\":[\"zero\",\"one\",\"two\",\"three\"],"
               "\"anchors\":[[\"zero\",77],[\"two\",150]],\"bookmarks\":[[\"b\",5],[\"a\",9]]}");
}

TEST_F(RaZoDoc, LinksResolveToTheirTargetsAndAnchors) {
  Opened doc(LinkDoc());
  ASSERT_EQ(doc.OpenStatus(), kOk);
  std::uint32_t a = 0, b = 0, t = 0;
  EXPECT_EQ(Ops().getLinkAt(doc.h(), 12, &a, &b, &t), kOk);
  EXPECT_EQ(a, 10u);
  EXPECT_EQ(b, 15u);
  EXPECT_EQ(t, 291u);
  EXPECT_EQ(Ops().getLinkAt(doc.h(), 42, &a, &b, &t), kDocLinkHostCode);
  EXPECT_EQ(t, 0xFF000402u);
  EXPECT_EQ(Ops().getLinkAt(doc.h(), 109, &a, &b, &t), kDocLinkHostCode);  // second record
  EXPECT_EQ(a, 100u);
  EXPECT_EQ(Ops().getLinkAt(doc.h(), 15, &a, &b, &t), kFailed);
  EXPECT_EQ(Ops().getLinkAt(doc.h(), 250, &a, &b, &t), kFailed);

  // c = 1, d = 2: entry 2 is the first name, entry 0 the second. The first
  // buffer is too small and is replaced.
  char small[2] = {};
  char second[16] = {};
  RaZoTargetQuery q{0xFF000402u, small, second, 0, sizeof small, sizeof second};
  ASSERT_EQ(RaZoDoc_FindTargetNames(doc.h(), &q), kOk);
  EXPECT_STREQ(q.firstName, "two");
  EXPECT_STREQ(q.secondName, "zero");
  EXPECT_EQ(q.flags,
            RaZoTargetFlag::FirstFound | RaZoTargetFlag::SecondFound | RaZoTargetFlag::NewFirst);
  EXPECT_NE(q.firstName, small);
  Engine_Free(q.firstName);

  // A name that is not there: nothing allocated stays, the caller's
  // buffers come back.
  RaZoTargetQuery missing{0xFF000000u | 900u, small, second, 0, sizeof small, sizeof second};
  EXPECT_EQ(RaZoDoc_FindTargetNames(doc.h(), &missing), kFailed);
  EXPECT_EQ(missing.firstName, small);
  EXPECT_EQ(missing.flags, 0);
  RaZoTargetQuery notInternal{0x00000123u, small, second, 0, sizeof small, sizeof second};
  EXPECT_EQ(RaZoDoc_FindTargetNames(doc.h(), &notInternal), kFailed);

  // Control 1: the second name is looked up among the anchors.
  RaZoTargetQuery anchor{0, nullptr, const_cast<char*>("two"), RaZoTargetFlag::SecondFound, 0, 4};
  ASSERT_EQ(RaZoDoc_FindAnchorByName(doc.h(), &anchor), kOk);
  EXPECT_EQ(anchor.target, 150u);
  RaZoTargetQuery none{99, nullptr, nullptr, 0, 0, 0};
  ASSERT_EQ(RaZoDoc_FindAnchorByName(doc.h(), &none), kOk);
  EXPECT_EQ(none.target, 0u);

  // Controls 0 and 1 take the host's link description: the document's name
  // as text[0], the anchor's as text[1]; then the anchor's position.
  DocLinkTarget link{};
  ASSERT_EQ(Ops().control(doc.h(), DocControl::FindTarget, 0xFF000402u, &link), kOk);
  ASSERT_NE(link.text[0], nullptr);
  EXPECT_EQ(std::string(link.text[0], link.length[0]), "two");
  EXPECT_EQ(std::string(link.text[1], link.length[1]), "zero");
  EXPECT_EQ(link.flags, DocLinkFlag::HasText0 | DocLinkFlag::OwnedText0 | DocLinkFlag::HasName |
                            DocLinkFlag::OwnedName);
  Engine_Free(link.text[0]);
  Engine_Free(link.text[1]);
  char name[] = "two";
  DocLinkTarget named{{nullptr, name, nullptr}, 0, DocLinkFlag::HasName, {0, 3, 0}};
  ASSERT_EQ(Ops().control(doc.h(), DocControl::ResolveTarget, 0, &named), kOk);
  EXPECT_EQ(named.value, 150u);
  DocLinkTarget unknown{};
  EXPECT_EQ(Ops().control(doc.h(), DocControl::FindTarget, 0xFF000000u | 900u, &unknown), kFailed);
  EXPECT_EQ(unknown.text[0], nullptr);
}

TEST_F(RaZoDoc, LinkWalkingStaysInsideTheWindow) {
  Opened doc(LinkDoc());
  auto walk = [&](std::uint16_t code, LinkRange& r) { return Ops().control(doc.h(), code, 0, &r); };
  LinkRange r{30, 150, 0, 0};
  EXPECT_EQ(walk(14, r), kNoMore);  // nothing located yet
  ASSERT_EQ(walk(13, r), kOk);
  EXPECT_EQ(r.linkStart, 40u);
  EXPECT_EQ(r.linkEnd, 43u);
  ASSERT_EQ(walk(16, r), kOk);  // on into the second record
  EXPECT_EQ(r.linkStart, 100u);
  EXPECT_EQ(walk(16, r), kNoMore);  // 200 is past the window
  ASSERT_EQ(walk(15, r), kOk);
  EXPECT_EQ(r.linkStart, 40u);
  EXPECT_EQ(walk(15, r), kNoMore);  // 10 is before it
  ASSERT_EQ(walk(17, r), kOk);
  EXPECT_EQ(r.linkStart, 100u);
  ASSERT_EQ(walk(14, r), kOk);
  EXPECT_EQ(r.linkStart, 40u);
  EXPECT_EQ(walk(18, r), kOk);
  LinkRange empty{250, 300, 0, 0};
  EXPECT_EQ(walk(13, empty), kNoMore);
  LinkRange all{0, 300, 0, 0};
  ASSERT_EQ(walk(13, all), kOk);
  ASSERT_EQ(walk(17, all), kOk);
  EXPECT_EQ(all.linkStart, 200u);
}

// --- block lines -----------------------------------------------------------------

class RaZoBlocks : public RaZoDoc {
 protected:
  // a b c LF | 4 LF rule | 5 LF image | d e f | 9 LF other kind | 10 LF linked image
  void SetUp() override {
    RaZoDoc::SetUp();
    if (IsSkipped()) return;
    doc = std::make_unique<Opened>(Write(
        "{\"text\":\"abc\\n\\n\\ndef\\n\\n\",\"links\":[[10,1,5]],\"images\":[\"0014000a\","
        "\"0003000200\"],\"blocks\":["
        "{\"pos\":4,\"kind\":1,\"flags\":2,\"extra\":32818},"
        "{\"pos\":5,\"kind\":3,\"flags\":6,\"image\":{\"width\":20,\"height\":10,\"index\":0}},"
        "{\"pos\":9,\"kind\":2,\"flags\":0},"
        "{\"pos\":10,\"kind\":3,\"flags\":0,\"image\":{\"width\":3,\"height\":2,\"index\":1}}]}"));
    ASSERT_EQ(doc->OpenStatus(), kOk);
    dev = FakeDevice_Open(400, 300);
    ASSERT_EQ(DeviceOf(dev).beginDraw(dev, &ctx), kOk);
  }
  void TearDown() override {
    if (dev != nullptr) {
      (void)DeviceOf(dev).endDraw(dev, ctx);
      FakeDevice_Close(dev);
    }
  }
  StatusCode Probe(std::uint32_t q, std::int16_t width, LineMetrics* m) {
    *m = LineMetrics{};
    m->width = width;
    return Ops().layoutLine(doc->h(), dev, ctx, q, q + 1, 0, nullptr, m);
  }
  std::unique_ptr<Opened> doc;
  EngineObject* dev = nullptr;
  DeviceContext ctx{};
};

TEST_F(RaZoBlocks, NewlineProbeLaysOutRulesAndImages) {
  struct Case {
    const char* what;
    std::uint32_t q;
    std::uint32_t flags;
    StatusCode status;
    std::int16_t width, height, indent;
  };
  const Case cases[] = {
      // Width word 0x8032 is 50 percent: 150 of 300, centred at 75; 2 + 4 high.
      {"rule", 4, 0, kDocBlockCentre, 150, 6, 75},
      // 20 x 10 with a one-pixel border, centred.
      {"image", 5, 0, kDocBlockCentre, 22, 12, 139},
      {"image, double size", 5, DocFlag::DoubleImages, kDocBlockCentre, 42, 22, 129},
      // A link covers it: one more pixel each side; left, placed right with
      // the right flag but still answered as left.
      {"linked image", 10, 0, kDocBlockLeft, 5, 4, 0},
      {"linked image, right flag", 10, DocFlag::RightAlign, kDocBlockLeft, 5, 4, 295},
      {"rule, right flag, centred anyway", 4, DocFlag::RightAlign, kDocBlockCentre, 150, 6, 75},
      {"another kind", 9, 0, kNoMore, 0, 5, 0},
      {"a LF with no block", 3, 0, kNoMore, 300, 0, 0},
      {"not a LF", 0, 0, kNoMore, 300, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(Ops().control(doc->h(), DocControl::Reset, 0, nullptr), kOk);
    ASSERT_EQ(Ops().control(doc->h(), DocControl::SetFlags, c.flags, nullptr), kOk);
    LineMetrics m{};
    EXPECT_EQ(Probe(c.q, 300, &m), c.status);
    EXPECT_EQ(m.width, c.width);
    EXPECT_EQ(m.height, c.height);
    EXPECT_EQ(m.indent, c.indent);
    if (c.status != kNoMore) {
      EXPECT_EQ(m.ascent, c.height);
    }
  }
}

TEST_F(RaZoBlocks, BlockLinesAreDrawnThroughTheDevice) {
  FakeDevice& fake = FakeDevice_Of(dev);
  auto layoutAndDraw = [&](std::uint32_t q, LineMetrics* m) {
    std::uint32_t next = 0;
    EXPECT_EQ(Ops().layoutLine(doc->h(), dev, ctx, q, 11, 300, &next, m), kOk);
    EXPECT_EQ(next, q + 1);
    fake.ClearLog();
    EXPECT_EQ(Ops().drawLine(doc->h(), dev, ctx, 10, 20, m, q, next), kOk);
  };
  LineMetrics m{};
  layoutAndDraw(4, &m);  // the rule: a 2-pixel box centred in the 6-pixel line
  ASSERT_EQ(fake.Count(12), 1);
  EXPECT_EQ(fake.Calls(12)[0]->args, (std::vector<std::int64_t>{85, 22, 235, 24, 0, kNoColour, 0}));

  for (const std::uint32_t flags : {0u, DocFlag::DoubleImages}) {
    SCOPED_TRACE(flags);
    ASSERT_EQ(Ops().control(doc->h(), DocControl::Reset, 0, nullptr), kOk);
    ASSERT_EQ(Ops().control(doc->h(), DocControl::SetFlags, flags, nullptr), kOk);
    layoutAndDraw(5, &m);  // the image: one border frame, then the bitmap inside
    const int w = flags ? 40 : 20, h = flags ? 20 : 10;
    const int left = 10 + (300 - (w + 2)) / 2;
    ASSERT_EQ(fake.Count(12), 1);
    EXPECT_EQ(fake.Calls(12)[0]->args,
              (std::vector<std::int64_t>{left, 20, left + w + 2, 20 + h + 2, 0, 0, kNoColour}));
    ASSERT_EQ(fake.Count(27), 1);
    EXPECT_EQ(fake.Calls(27)[0]->args,
              (std::vector<std::int64_t>{left + 1, 21, DeviceImageKind::PalmBitmap,
                                         flags ? kImageDoubleSize : 0}));
  }
  ASSERT_EQ(Ops().control(doc->h(), DocControl::Reset, 0, nullptr), kOk);
  layoutAndDraw(10, &m);  // the linked image: its frame in the link colour
  ASSERT_EQ(fake.Count(12), 1);
  EXPECT_EQ(fake.Calls(12)[0]->args[5], 0x2040A0);
  ASSERT_EQ(fake.Count(27), 1);
  EXPECT_EQ(fake.Calls(27)[0]->args[0], 11);

  // Hit testing and x positions take the block as a whole.
  layoutAndDraw(5, &m);
  std::uint32_t a = 0, b = 0;
  HitBox box{};
  ASSERT_EQ(Ops().hitTest(doc->h(), dev, ctx, 150, 3, &m, 5, 6, &box, &a, &b), kOk);
  EXPECT_EQ(a, 5u);
  EXPECT_EQ(b, 5u);
  EXPECT_EQ(box.width, 22);
  EXPECT_EQ(box.x, m.indent);
  std::int16_t x1 = -1, x2 = -1;
  ASSERT_EQ(Ops().positionToX(doc->h(), dev, ctx, 5, 5, 6, &x1, &x2), kOk);
  EXPECT_EQ(x1, 0);
  EXPECT_EQ(x2, 22);
}

// --- sections ----------------------------------------------------------------------

TEST_F(RaZoDoc, SectionsAcrossRecordsWithExplicitHighWords) {
  // Boundaries past 65536 and one right after another; two sections per
  // record. With escape_sections every boundary is written with an escape.
  const std::vector<std::uint32_t> bounds = {0, 1000, 70000, 70001, 140000, 200000};
  for (const bool escapes : {false, true}) {
    SCOPED_TRACE(escapes);
    std::string list;
    for (std::uint32_t b : bounds)
      list += (list.empty() ? "" : ",") + std::to_string(b);
    Opened doc(Write("{\"text\":" + Json(std::string(200000, 's')) +
                     ",\"coding\":\"s\",\"per_record\":2,\"layout_flags\":2,"
                     "\"escape_sections\":" +
                     (escapes ? "true" : "false") + ",\"sections\":[" + list + "]}"));
    ASSERT_EQ(doc.OpenStatus(), kOk);
    std::uint16_t policy = 9, count = 0;
    ASSERT_EQ(Ops().getSectionInfo(doc.h(), &policy, &count), kOk);
    EXPECT_EQ(policy, 2);
    EXPECT_EQ(count, 5);
    for (std::int16_t k = 0; k < 5; ++k) {
      std::uint32_t a = 0, b = 0;
      ASSERT_EQ(Ops().getSectionRange(doc.h(), k, &a, &b), kOk) << k;
      EXPECT_EQ(a, bounds[k]);
      EXPECT_EQ(b, bounds[k + 1]);
    }
    std::uint32_t a = 0, b = 0;
    EXPECT_EQ(Ops().getSectionRange(doc.h(), 5, &a, &b), kNoMore);
    for (const std::uint32_t p : {0u, 999u, 1000u, 69999u, 70000u, 70001u, 139999u, 199999u}) {
      std::int16_t k = -1;
      ASSERT_EQ(Ops().findSection(doc.h(), p, &k, &a, &b), kOk) << p;
      EXPECT_LE(a, p);
      EXPECT_GT(b, p);
      EXPECT_EQ(a, bounds[k]);
      EXPECT_EQ(b, bounds[k + 1]);
    }
    EXPECT_EQ(Ops().findSection(doc.h(), 200000, nullptr, nullptr, nullptr), kNoMore);
  }
}

TEST_F(RaZoDoc, ShortHeaderKeepsTwentyBytesAndRefusesNewLists) {
  // A 40-byte record 0 that says so: only the first 20 bytes count, so the
  // sections, styles and lists of the full header are absent.
  const std::string file = Write(
      "{\"text\":\"a\\nb\",\"record0_size\":40,\"header_length\":40,"
      "\"styles\":[[0,1792,0]],\"sections\":[0,1,3],\"layout_flags\":1}");
  Opened doc(file);
  ASSERT_EQ(doc.OpenStatus(), kOk);
  std::uint16_t policy = 0, count = 0;
  ASSERT_EQ(Ops().getSectionInfo(doc.h(), &policy, &count), kOk);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(policy, 1);
  DeviceFontSpec font{};
  std::uint32_t end = 0;
  ASSERT_EQ(Ops().getCharStyle(doc.h(), nullptr, 0, &font, nullptr, &end), kOk);
  EXPECT_EQ(end, kRunToEnd);
  const std::uint32_t value = 1;
  DocBookmarkInsert insert{"mark", &value};
  EXPECT_EQ(Ops().bookmarkOp(doc.h(), DocBookmark::Insert, 0, &insert), kNotSupported);
  EXPECT_EQ(doc.DestroyAndRead(), file);
}

// --- position lists and the write-back of record 0 ------------------------------

TEST_F(RaZoDoc, BothPositionListsReadBack) {
  Opened doc(LinkDoc());
  std::uint16_t u16 = 0;
  ASSERT_EQ(Ops().bookmarkOp(doc.h(), DocBookmark::ListMask, 0, &u16), kOk);
  EXPECT_EQ(u16, 3);
  ASSERT_EQ(Ops().bookmarkOp(doc.h(), DocBookmark::Count | 0, 0, &u16), kOk);
  EXPECT_EQ(u16, 2);
  ASSERT_EQ(Ops().bookmarkOp(doc.h(), DocBookmark::Count | 1, 0, &u16), kOk);
  EXPECT_EQ(u16, 2);
  std::uint32_t value = 0;
  ASSERT_EQ(Ops().bookmarkOp(doc.h(), DocBookmark::GetValue | 0, 1, &value), kOk);
  EXPECT_EQ(value, 9u);
  ASSERT_EQ(Ops().bookmarkOp(doc.h(), DocBookmark::GetValue | 1, 1, &value), kOk);
  EXPECT_EQ(value, 150u);
  DocBookmarkFind find{"zero", 9};
  ASSERT_EQ(Ops().bookmarkOp(doc.h(), DocBookmark::Find | 1, 0, &find), kOk);
  EXPECT_EQ(find.index, 0);
  const char** names = nullptr;
  ASSERT_EQ(Ops().bookmarkOp(doc.h(), DocBookmark::GetNames | 0, 0, &names), kOk);
  EXPECT_STREQ(names[0], "b");
  EXPECT_STREQ(names[1], "a");
  ASSERT_EQ(Ops().bookmarkOp(doc.h(), DocBookmark::FreeNames | 0, 0, names), kOk);
  EXPECT_EQ(Ops().bookmarkOp(doc.h(), DocBookmark::Count | 2, 0, &u16), kNotSupported);
  EXPECT_EQ(Ops().bookmarkOp(doc.h(), 240, 0, &u16), kNotSupported);
}

TEST_F(RaZoDoc, DestroyWritesBackOnlyTheListRecordNumbers) {
  const std::string file = Write("{\"text\":" + Json(SampleText(9000)) +
                                 ",\"styles\":[[0,1024,0]],\"sections\":[0,5,9000]}");
  const auto before = ParseRecords(file);
  {
    // Reading alone writes nothing at all.
    Opened doc(file);
    std::string text;
    ASSERT_EQ(ReadAll(doc.h(), &text), kOk);
    EXPECT_EQ(doc.DestroyAndRead(), file);
  }
  std::vector<std::string> after;
  // Closing first writes the same bytes: a list made while open is never
  // left without its record number.
  for (const bool closeFirst : {false, true}) {
    SCOPED_TRACE(closeFirst);
    Opened doc(file);
    const std::uint32_t value = 77;
    DocBookmarkInsert insert{"new", &value};
    ASSERT_EQ(Ops().bookmarkOp(doc.h(), DocBookmark::Insert | 0, 0, &insert), kOk);
    if (closeFirst) {
      ASSERT_EQ(Ops().command(doc.h(), DocCommand::Close, nullptr, 0), kOk);
    }
    StatusCode destroyed = kFailed;
    const auto records = ParseRecords(doc.DestroyAndRead(&destroyed));
    EXPECT_EQ(destroyed, kOk);
    if (closeFirst) {
      EXPECT_EQ(records, after);
    }
    after = records;
  }
  ASSERT_EQ(after.size(), before.size() + 1);
  for (std::size_t k = 1; k < before.size(); ++k)
    EXPECT_EQ(after[k], before[k]) << "record " << k;
  // Record 0: only bytes 44 and 45 (list 0's record number) differ.
  ASSERT_EQ(after[0].size(), before[0].size());
  for (std::size_t i = 0; i < before[0].size(); ++i) {
    if (i == 44 || i == 45) continue;
    EXPECT_EQ(after[0][i], before[0][i]) << "byte " << i;
  }
  EXPECT_EQ(GetBE(after[0], 44, 2), before.size());
  EXPECT_EQ(GetBE(after.back(), 4, 2), 1u);  // one entry in the new list

  // Reopened, the bookmark is there.
  Opened again(record_db_fixtures::BuildDb(after, "RaZo"));
  std::uint32_t got = 0;
  ASSERT_EQ(Ops().bookmarkOp(again.h(), DocBookmark::GetValue | 0, 0, &got), kOk);
  EXPECT_EQ(got, 77u);
}

// --- damaged documents ---------------------------------------------------------------

// Open: an invalid record 0, or a first text block that cannot be read: the
// open fails and the document reads as empty. Cut: record 0 names records the
// database does not hold, every readable part stays readable. Text: a later
// block cannot be read, and reading fails there.
enum class Where { Open, Cut, Text, Style, Link, Block, Section, Target, Image };

TEST_F(RaZoDoc, DamagedDocumentsAnswerMalformedAndAreNeverWritten) {
  std::string text = SampleText(9000);
  text[100] = text[200] = '\n';  // the block lines' LFs
  const std::string base =
      "\"text\":" + Json(text) +
      ",\"styles\":[[0,1024,128],[50,1024,67],[4000,0,0]],\"links\":[[10,5,4278190081]],"
      "\"blocks\":[{\"pos\":100,\"kind\":1,\"flags\":0},{\"pos\":200,\"kind\":3,\"flags\":0,"
      "\"image\":{\"width\":4,\"height\":4,\"index\":0}}],\"images\":[\"00040004\"],"
      "\"sections\":[0,70,150,9000],\"targets\":[\"a\",\"b\"],\"bookmarks\":[[\"x\",1]]";
  struct Case {
    const char* damage;
    Where where;
  };
  const Case cases[] = {
      {"magic", Where::Open},
      {"version", Where::Open},
      {"byte4", Where::Open},
      {"byte5", Where::Open},
      {"header_length", Where::Open},
      {"groups_zero", Where::Open},
      {"record0_short", Where::Open},
      {"text_too_long", Where::Cut},
      {"style_range", Where::Cut},
      {"list_record", Where::Cut},
      {"anchors_record", Where::Cut},
      {"link_range", Where::Cut},
      {"block_first", Where::Cut},
      {"section_first", Where::Cut},
      {"target_range", Where::Cut},
      {"image_first", Where::Cut},
      {"block_type", Where::Open},
      {"block_count", Where::Open},
      {"block_header", Where::Open},
      {"tables_type", Where::Open},
      {"tables_garbage", Where::Open},
      {"coded_cut", Where::Open},
      {"stored_short", Where::Open},
      {"second_block_type", Where::Text},
      {"style_count", Where::Style},
      {"style_cut", Where::Style},
      {"style_equal_low", Where::Style},
      {"link_cut", Where::Link},
      {"block_cut", Where::Block},
      {"block_high", Where::Block},
      {"image_offset", Where::Block},
      {"image_index", Where::Block},
      {"section_escape_end", Where::Section},
      {"section_high", Where::Section},
      {"target_length", Where::Target},
      {"target_count", Where::Target},
      {"image_record", Where::Image},
  };
  TempDir dir;
  ASSERT_FALSE(Write("{" + base + ",\"all_damage_to\":" + Json(dir.Path()) + "}").empty());
  EngineObject* dev = FakeDevice_Open(400, 300);
  DeviceContext ctx{};
  ASSERT_EQ(DeviceOf(dev).beginDraw(dev, &ctx), kOk);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.damage);
    const std::string file = ReadFileBytes(dir.File(std::string(c.damage) + ".pdb"));
    ASSERT_FALSE(file.empty());
    Opened doc(file);
    if (c.where == Where::Open) {
      EXPECT_EQ(doc.OpenStatus(), kDocMalformed);
      std::uint32_t length = 1;
      ASSERT_EQ(Ops().getTextLength(doc.h(), &length), kOk);
      EXPECT_EQ(length, 0u);
    } else {
      ASSERT_EQ(doc.OpenStatus(), kOk);
    }
    std::string read;
    DeviceFontSpec font{};
    std::uint32_t a = 0, b = 0, t = 0;
    std::int16_t k = 0;
    LineMetrics m{};
    switch (c.where) {
      case Where::Open:
        break;
      case Where::Cut:
        ASSERT_EQ(ReadAll(doc.h(), &read), kOk);
        EXPECT_EQ(read, text) << "the whole text stays readable";
        EXPECT_EQ(Ops().findSection(doc.h(), 100, &k, &a, &b), kOk);
        break;
      case Where::Text:
        EXPECT_TRUE(IsFailure(ReadAll(doc.h(), &read)));
        break;
      case Where::Style:
        // A style that cannot be read gives the fallback style.
        ASSERT_EQ(Ops().getCharStyle(doc.h(), nullptr, 60, &font, nullptr, &a), kOk);
        EXPECT_EQ(a, kRunToEnd);
        EXPECT_EQ(font.size, 12);
        break;
      case Where::Link:
        EXPECT_EQ(Ops().getLinkAt(doc.h(), 12, &a, &b, &t), kDocMalformed);
        break;
      case Where::Block: {
        m.width = 300;
        const std::uint32_t q = c.damage[0] == 'i' ? 200 : 100;
        EXPECT_EQ(Ops().layoutLine(doc.h(), dev, ctx, q, q + 1, 0, nullptr, &m), kNoMore);
        EXPECT_EQ(m.width, 0);
        break;
      }
      case Where::Section:
        EXPECT_EQ(Ops().findSection(doc.h(), 100, &k, &a, &b), kDocMalformed);
        break;
      case Where::Target: {
        RaZoTargetQuery q{0xFF000001u, nullptr, nullptr, 0, 0, 0};
        EXPECT_EQ(RaZoDoc_FindTargetNames(doc.h(), &q), kDocMalformed);
        EXPECT_EQ(q.firstName, nullptr);
        break;
      }
      case Where::Image: {
        m.width = 300;
        std::uint32_t next = 0;
        ASSERT_EQ(Ops().layoutLine(doc.h(), dev, ctx, 200, 201, 300, &next, &m), kOk);
        EXPECT_EQ(Ops().drawLine(doc.h(), dev, ctx, 0, 0, &m, 200, 200), kDocMalformed);
        break;
      }
    }
    // Once damage is seen, nothing is written: not a bookmark, not record 0.
    const std::uint32_t value = 3;
    DocBookmarkInsert insert{"later", &value};
    EXPECT_EQ(Ops().bookmarkOp(doc.h(), DocBookmark::Insert, 0, &insert), kDocMalformed);
    // Nor after the shell's reopen for writing: Close, then the file again.
    record_db_fixtures::MemDb again(file);
    EXPECT_FALSE(IsFailure(Ops().command(doc.h(), DocCommand::Close, nullptr, 0)));
    (void)Ops().command(doc.h(), DocCommand::ReplaceDatabase, again.db(), 0);  // may see damage
    EXPECT_EQ(Ops().bookmarkOp(doc.h(), DocBookmark::Insert, 0, &insert), kDocMalformed);
    EXPECT_EQ(doc.DestroyAndRead(), file);
    EXPECT_EQ(again.CloseAndRead(), file);
  }
  (void)DeviceOf(dev).endDraw(dev, ctx);
  FakeDevice_Close(dev);
}

TEST_F(RaZoDoc, ProbesAnswerForTheirTypeOnly) {
  const std::string file = Write("{\"text\":\"x\"}");
  EXPECT_EQ(
      Ops().command(&RaZoDocModule, DocCommand::ProbeHeader, const_cast<char*>(file.data()), 78),
      kDocProbeMine);
  EXPECT_EQ(
      Ops().command(&RaZoDocModule, DocCommand::ProbeHeader, const_cast<char*>(file.data()), 77),
      kMalformed);
  std::string other = file;
  other.replace(60, 4, "TEXt");
  EXPECT_EQ(Ops().command(&RaZoDocModule, DocCommand::ProbeHeader, other.data(), 78), kMalformed);
  EXPECT_EQ(Ops().command(&RaZoDocModule, DocCommand::ProbeNone, nullptr, 0), kMalformed);
  record_db_fixtures::MemDb db(file);
  EXPECT_EQ(Ops().command(&RaZoDocModule, DocCommand::ProbeDatabase, db.db(), 0), kDocProbeMine);
}

}  // namespace
