// The flowing-text defaults through the recording fake device: a table of
// layout cases, agreement with an independent word wrapper, hit testing and
// x positions as inverses, line search in both directions, drawing with
// styles and annotation marks, inversion, copying and reading ranges, and
// handlers whose slots misbehave.
#include "engine/formats/flow_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/stores/annot_store.h"
#include "tests/formats/styled_doc.h"
#include "tests/support/fake_device.h"
#include "tests/support/peer.h"
#include "tests/support/temp_dir.h"

namespace {

// Fake metrics at size 10: ascent 8, descent 2, advance 5 ('i', 'l', '.', ...
// 2; 'm', 'w' 7). At size 20: ascent 16, descent 4, advance 10.
struct Line {
  std::uint32_t start, next;
  LineMetrics m;
};

class FlowTest : public testing::Test {
 protected:
  void SetUp() override {
    dev = FakeDevice_Open(400, 300);
    ASSERT_NE(dev, nullptr);
    ASSERT_EQ(DeviceOf(dev).beginDraw(dev, &ctx), kOk);
    ops = StyledOps();
    handler = EngineObject{&doc, &ops};
  }
  void TearDown() override {
    (void)DeviceOf(dev).endDraw(dev, ctx);
    FakeDevice_Close(dev);
  }
  EngineObject* h() { return &handler; }
  FakeDevice& fake() { return FakeDevice_Of(dev); }

  std::vector<Line> LayoutAll(std::int16_t width) {
    std::vector<Line> lines;
    std::uint32_t p = 0;
    const auto end = static_cast<std::uint32_t>(doc.text.size());
    while (p < end && lines.size() < 10000) {
      Line l{p, 0, {}};
      const StatusCode s = ops.layoutLine(h(), dev, ctx, p, end, width, &l.next, &l.m);
      EXPECT_EQ(s, kOk) << "at " << p;
      if (s != kOk || l.next <= p) break;
      lines.push_back(l);
      p = l.next;
    }
    return lines;
  }

  StyledDoc doc;
  DocHandlerOps ops{};
  EngineObject handler{};
  EngineObject* dev = nullptr;
  DeviceContext ctx = nullptr;
};

CharFormat Format(std::uint16_t flags) {
  CharFormat f{};
  f.formatFlags = flags;
  return f;
}

struct LayoutCase {
  const char* name;
  std::string text;
  std::vector<StyledRun> runs;
  std::int16_t width;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> lines;  // start, next start
  int checkLine;                                               // line whose metrics are checked
  std::int16_t width_, height, indent, ascent;
};

CharFormat Indents(std::uint8_t l, std::uint8_t l2, std::int8_t shift, std::uint8_t r,
                   std::uint8_t r2) {
  CharFormat f{};
  f.leftIndent = l;
  f.leftIndent2 = l2;
  f.shiftIndent = shift;
  f.rightIndent = r;
  f.rightIndent2 = r2;
  return f;
}
CharFormat MinHeight(std::uint8_t points) {
  CharFormat f{};
  f.minHeightCode = points;
  return f;
}
CharFormat MinWidth(std::uint16_t value, bool percent) {
  CharFormat f{};
  f.minWidth = value;
  if (percent) f.formatFlags = DocFormat::MinWidthPercent;
  return f;
}
CharFormat Break(std::uint16_t height) {
  CharFormat f = Format(DocFormat::NativeBreak);
  f.breakHeight = height;
  return f;
}

const DeviceFontSpec kPlain = Font(10);

TEST_F(FlowTest, LayoutCases) {
  const std::vector<LayoutCase> cases = {
      {"word wrap", "hello world", {}, 40, {{0, 6}, {6, 11}}, 0, 24, 10, 0, 8},
      {"second word moves whole", "aa bbbbb", {}, 30, {{0, 3}, {3, 8}}, 0, 15, 10, 0, 8},
      {"long word cut where it overflows",
       "abcdefghjk",
       {},
       22,
       {{0, 4}, {4, 8}, {8, 10}},
       1,
       20,
       10,
       0,
       8},
      {"one character at least", "abc", {}, 3, {{0, 1}, {1, 2}, {2, 3}}, 0, 5, 10, 0, 8},
      {"blanks at a wrap do not begin the next line",
       "ab   cd",
       {},
       20,
       {{0, 5}, {5, 7}},
       0,
       20,
       10,
       0,
       8},
      {"CR LF is one break", "abc\r\ndef", {}, 100, {{0, 5}, {5, 8}}, 0, 15, 10, 0, 8},
      {"lone CR breaks", "abc\rdef", {}, 100, {{0, 4}, {4, 7}}, 1, 15, 10, 0, 8},
      {"empty paragraph has the font's height",
       "abc\n\ndef",
       {},
       100,
       {{0, 4}, {4, 5}, {5, 8}},
       1,
       0,
       10,
       0,
       8},
      {"indents in order",
       "abcdefghjk",
       {{0, 10, kPlain, Indents(10, 4, -2, 5, 3)}},
       60,
       {{0, 8}, {8, 10}},
       0,
       40,
       10,
       12,
       8},
      {"positive shift indent",
       "abcdefghjk",
       {{0, 10, kPlain, Indents(0, 0, 6, 0, 0)}},
       40,
       {{0, 6}, {6, 10}},
       0,
       30,
       10,
       6,
       8},
      {"block indent of 12 points",
       "abcdefghjk",
       {{0, 10, kPlain, Format(DocFormat::BlockIndent)}},
       62,
       {{0, 10}},
       0,
       50,
       10,
       12,
       8},
      {"right alignment",
       "abc",
       {{0, 3, kPlain, Format(DocFormat::AlignRight)}},
       100,
       {{0, 3}},
       0,
       15,
       10,
       85,
       8},
      {"centred",
       "abc",
       {{0, 3, kPlain, Format(DocFormat::AlignCentre)}},
       100,
       {{0, 3}},
       0,
       15,
       10,
       42,
       8},
      {"no alignment shift at the unbounded width",
       "abc",
       {{0, 3, kPlain, Format(DocFormat::AlignRight)}},
       kDocUnboundedWidth,
       {{0, 3}},
       0,
       15,
       10,
       0,
       8},
      {"minimum height", "abc", {{0, 3, kPlain, MinHeight(20)}}, 100, {{0, 3}}, 0, 15, 20, 0, 18},
      {"minimum width of a one-character line",
       "a",
       {{0, 1, kPlain, MinWidth(30, false)}},
       100,
       {{0, 1}},
       0,
       30,
       10,
       0,
       8},
      {"minimum width in percent of the free width",
       "a",
       {{0, 1, kPlain, MinWidth(50, true)}},
       100,
       {{0, 1}},
       0,
       47,
       10,
       0,
       8},
      {"minimum width ignored on longer lines",
       "ab",
       {{0, 2, kPlain, MinWidth(30, false)}},
       100,
       {{0, 2}},
       0,
       10,
       10,
       0,
       8},
      {"raised run",
       "abcd",
       {{2, 4, Font(10, DocFontFlag::SetHigh), {}}},
       100,
       {{0, 4}},
       0,
       20,
       14,
       0,
       12},
      {"lowered run",
       "abcd",
       {{2, 4, Font(10, DocFontFlag::SetLow), {}}},
       100,
       {{0, 4}},
       0,
       20,
       12,
       0,
       8},
      {"larger run raises ascent and depth",
       "ab cde",
       {{3, 6, Font(20), {}}},
       100,
       {{0, 6}},
       0,
       45,
       20,
       0,
       16},
      {"overflow inside a later run wraps at its word start",
       "hello world",
       {{6, 11, Font(20), {}}},
       60,
       {{0, 6}, {6, 11}},
       0,
       24,
       20,
       0,
       16},
      {"nothing of a later run fits",
       "hello world",
       {{6, 11, Font(20), {}}},
       35,
       {{0, 6}, {6, 9}, {9, 11}},
       1,
       35,
       20,
       0,
       16},
      {"native break height",
       "ab\ncd",
       {{2, 3, kPlain, Break(30)}},
       100,
       {{0, 3}, {3, 5}},
       0,
       10,
       32,
       0,
       30},
      {"marker text ends at the indent",
       "*1. item",
       {{0, 8, kPlain, Format(DocFormat::MarkerParagraph)}},
       100,
       {{0, 8}},
       0,
       31,
       10,
       5,
       8},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    doc.text = c.text;
    doc.runs = c.runs;
    const std::vector<Line> lines = LayoutAll(c.width);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> got;
    for (const Line& l : lines)
      got.emplace_back(l.start, l.next);
    EXPECT_EQ(got, c.lines);
    if (c.checkLine < static_cast<int>(lines.size())) {
      const LineMetrics& m = lines[c.checkLine].m;
      EXPECT_EQ(m.width, c.width_);
      EXPECT_EQ(m.height, c.height);
      EXPECT_EQ(m.indent, c.indent);
      EXPECT_EQ(m.ascent, c.ascent);
      EXPECT_EQ(m.top, 0);
      EXPECT_EQ(m.extra, 0);
    }
  }
}

TEST_F(FlowTest, LayoutAnswersNoMoreForNothingAndTheNewlineProbe) {
  doc.text = "ab\ncd";
  std::uint32_t next = 99;
  LineMetrics m{};
  m.reserved0 = 77;
  EXPECT_EQ(ops.layoutLine(h(), dev, ctx, 3, 3, 100, &next, &m), kNoMore);
  EXPECT_EQ(ops.layoutLine(h(), dev, ctx, 4, 2, 100, &next, &m), kNoMore);
  m.width = 50;  // the probe passes the free width here
  EXPECT_EQ(ops.layoutLine(h(), dev, ctx, 2, 3, 0, nullptr, &m), kNoMore);
  EXPECT_EQ(m.width, 50);
  EXPECT_EQ(next, 99u);
  // A line at the newline itself is an ordinary (empty) line.
  ASSERT_EQ(ops.layoutLine(h(), dev, ctx, 2, 5, 100, &next, &m), kOk);
  EXPECT_EQ(next, 3u);
  EXPECT_EQ(m.reserved0, 77) << "reserved fields belong to the caller";
}

TEST_F(FlowTest, StylesThatFailOrStallStillLayOut) {
  doc.text = "hello world again";
  doc.failStyle = true;
  const auto a = LayoutAll(40);
  ASSERT_EQ(a.size(), 3u);
  EXPECT_EQ(a[0].m.height, 10);  // the default style: size 10
  doc.failStyle = false;
  doc.stallRuns = true;
  const auto b = LayoutAll(40);
  ASSERT_EQ(b.size(), 3u);
  EXPECT_EQ(b[1].start, 6u);
}

TEST_F(FlowTest, PiecesAreJoinedAcrossShortWindows) {
  doc.text = "abcdefgh ijklmnop qrstuvwx";
  doc.window = 3;
  const auto narrow = LayoutAll(60);
  doc.window = 4096;
  const auto wide = LayoutAll(60);
  ASSERT_EQ(narrow.size(), wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    EXPECT_EQ(narrow[i].start, wide[i].start);
    EXPECT_EQ(narrow[i].next, wide[i].next);
    EXPECT_EQ(narrow[i].m.width, wide[i].m.width);
  }
}

TEST_F(FlowTest, MultiByteCharactersAreNeverSplit) {
  std::uint32_t mib = 106;
  ASSERT_EQ(DeviceOf(dev).setProperty(dev, &mib, 0, DeviceProp::Charset), kOk);
  doc.text = "\xC3\xA9\xC3\xA9\xE2\x82\xAC";  // e-acute twice, euro sign
  const auto lines = LayoutAll(3);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].next, 2u);
  EXPECT_EQ(lines[1].next, 4u);
  EXPECT_EQ(lines[2].next, 7u);
  std::uint32_t a = 0, b = 0;
  ASSERT_EQ(ops.hitTest(h(), dev, ctx, 1, 1, &lines[1].m, 2, 4, nullptr, &a, &b), kOk);
  EXPECT_EQ(a, 2u);
  EXPECT_EQ(b, 4u);
}

// An independent wrapper: Python's textwrap, on single-spaced words no
// longer than the line, with a monospaced alphabet of the fake device.
TEST_F(FlowTest, LineBreaksAgreeWithTextwrap) {
  KELPO_REQUIRE_PEER("python3");
  std::mt19937 rng(7);
  const std::string alphabet = "abcdefghjknopqrstuvxyz";
  for (int width : {6, 9, 14, 23, 40}) {
    std::string text;
    for (int w = 0; w < 300; ++w) {
      if (!text.empty()) text += ' ';
      const int len = 1 + static_cast<int>(rng() % std::min(width, 12));
      for (int k = 0; k < len; ++k)
        text += alphabet[rng() % alphabet.size()];
    }
    doc.text = text;
    std::string ours;
    for (const Line& l : LayoutAll(static_cast<std::int16_t>(width * 5))) {
      std::string s = text.substr(l.start, l.next - l.start);
      while (!s.empty() && s.back() == ' ')
        s.pop_back();
      ours += s + "\n";
    }
    int status = -1;
    const std::string theirs = RunPeer(
        "python3 -c 'import sys,textwrap; "
        "print(\"\\n\".join(textwrap.wrap(sys.stdin.read(), width=" +
            std::to_string(width) + ", break_on_hyphens=False)))'",
        text, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(ours, theirs) << "width " << width;
  }
}

// A paragraph of mixed sizes, narrow and wide letters, a raised run and a
// marker line: every character hit at its left and right edges answers
// itself, at the x PositionToX gives it.
TEST_F(FlowTest, HitTestAndPositionToXAreInverses) {
  doc.text = "*1. milk and wine\nThe quick brown fox jumps over lazy dogs, il.mw MW again\n";
  doc.runs = {{0, 17, kPlain, Format(DocFormat::MarkerParagraph)},
              {22, 30, Font(20), {}},
              {34, 40, Font(10, DocFontFlag::SetHigh | DeviceFontStyle::Bold), {}},
              {50, 60, Font(14), {}}};
  const auto lines = LayoutAll(90);
  ASSERT_GT(lines.size(), 4u);
  int checked = 0;
  for (const Line& l : lines) {
    std::uint32_t textStart = l.start;
    if (l.start == 0) textStart = 3;  // after the marker text "1."
    for (std::uint32_t p = textStart; p < l.next; ++p) {
      if (doc.text[p] == '\n') continue;
      std::int16_t x1 = 0, x2 = 0;
      ASSERT_EQ(ops.positionToX(h(), dev, ctx, l.start, p, p + 1, &x1, &x2), kOk);
      ASSERT_LT(x1, x2) << "at " << p;
      for (int x : {x1 + l.m.indent, x2 + l.m.indent - 1}) {
        std::uint32_t a = 0, b = 0;
        HitBox box{};
        ASSERT_EQ(ops.hitTest(h(), dev, ctx, static_cast<std::int16_t>(x), 2, &l.m, l.start, l.next,
                              &box, &a, &b),
                  kOk);
        EXPECT_EQ(a, p) << "x " << x;
        EXPECT_EQ(b, p + 1);
        EXPECT_EQ(box.x, x1 + l.m.indent);
        EXPECT_EQ(box.width, x2 - x1);
        EXPECT_EQ(box.height, l.m.height);
        EXPECT_EQ(box.ascent, l.m.ascent);
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 100);
  // Inside the marker text the marker's range is answered.
  std::uint32_t a = 0, b = 0;
  ASSERT_EQ(ops.hitTest(h(), dev, ctx, static_cast<std::int16_t>(lines[0].m.indent + 1), 2,
                        &lines[0].m, 0, lines[0].next, nullptr, &a, &b),
            kOk);
  EXPECT_EQ(a, 0u);
  EXPECT_EQ(b, 3u);
}

TEST_F(FlowTest, HitTestOutsideTheLine) {
  doc.text = "hello world";
  doc.runs = {{0, 11, kPlain, Indents(10, 0, 0, 0, 0)}};
  const auto lines = LayoutAll(200);
  ASSERT_EQ(lines.size(), 1u);
  const LineMetrics& m = lines[0].m;
  struct Case {
    std::int16_t x, y;
    std::uint32_t a, b;
  };
  for (const Case& c : {Case{5, 2, 0, 0}, Case{20, -1, 0, 0}, Case{20, 10, 11, 11},
                        Case{150, 2, 11, 11}, Case{10, 2, 0, 1}}) {
    std::uint32_t a = 99, b = 99;
    ASSERT_EQ(ops.hitTest(h(), dev, ctx, c.x, c.y, &m, 0, 11, nullptr, &a, &b), kOk);
    EXPECT_EQ(a, c.a) << c.x << "," << c.y;
    EXPECT_EQ(b, c.b) << c.x << "," << c.y;
  }
}

TEST_F(FlowTest, FindLineAboveRetracesTheLinesFoundForwards) {
  doc.text =
      "First paragraph with several words to wrap.\n\nSecond one\r\nthird, after CR "
      "LF, with a longer tail of words\rfourth\n";
  doc.runs = {{20, 30, Font(20), {}}, {60, 70, Font(10, DocFontFlag::SetLow), {}}};
  const auto lines = LayoutAll(70);
  ASSERT_GT(lines.size(), 8u);
  std::vector<std::uint32_t> back;
  std::uint32_t q = static_cast<std::uint32_t>(doc.text.size());
  while (q > 0 && back.size() < 100) {
    std::uint32_t start = 0;
    std::int16_t height = 1, count = 0;
    ASSERT_EQ(ops.findLineAbove(h(), dev, ctx, q, 0, 70, 0, &start, &height, nullptr, &count), kOk);
    ASSERT_EQ(count, 1);
    ASSERT_LT(start, q);
    back.push_back(start);
    q = start;
  }
  std::vector<std::uint32_t> forward;
  for (auto it = lines.rbegin(); it != lines.rend(); ++it)
    forward.push_back(it->start);
  EXPECT_EQ(back, forward);
  // And FindLine finds each line from any position inside it.
  for (const Line& l : lines) {
    for (std::uint32_t p = l.start + 1; p <= l.next; ++p) {
      std::uint32_t s = 0, e = 0;
      LineMetrics m{};
      ASSERT_EQ(ops.findLine(h(), dev, ctx, p, 0, 70, &s, &e, &m), kOk) << p;
      EXPECT_EQ(s, l.start) << p;
      EXPECT_EQ(e, l.next) << p;
      EXPECT_EQ(m.height, l.m.height);
    }
  }
}

TEST_F(FlowTest, FindLineTakesTheNewlineBeforeThePosition) {
  doc.text = "abc\ndef";
  std::uint32_t s = 9, e = 9;
  ASSERT_EQ(ops.findLine(h(), dev, ctx, 4, 0, 100, &s, &e, nullptr), kOk);
  EXPECT_EQ(s, 0u);
  EXPECT_EQ(e, 4u);
  EXPECT_EQ(ops.findLine(h(), dev, ctx, 0, 0, 100, &s, &e, nullptr), kFailed);
  EXPECT_EQ(ops.findLine(h(), dev, ctx, 5, 5, 100, &s, &e, nullptr), kFailed);
  // The lower bound is a paragraph start.
  ASSERT_EQ(ops.findLine(h(), dev, ctx, 6, 5, 100, &s, &e, nullptr), kOk);
  EXPECT_EQ(s, 5u);
  EXPECT_EQ(e, 7u);
}

TEST_F(FlowTest, FindLineAboveKeepsTheLast32Lines) {
  std::string text;
  for (int i = 0; i < 40; ++i)
    text += i ? " abcd" : "abcd";
  doc.text = text;
  ASSERT_EQ(LayoutAll(25).size(), 40u);
  std::uint32_t start = 0;
  std::int16_t height = 10000, count = 0, overlap = 0;
  ASSERT_EQ(ops.findLineAbove(h(), dev, ctx, static_cast<std::uint32_t>(text.size()), 0, 25, 0,
                              &start, &height, &overlap, &count),
            kOk);
  EXPECT_EQ(count, 32);
  EXPECT_EQ(start, 8u * 5);
  EXPECT_EQ(height, 320);
  // At or below the lower bound nothing is laid out.
  height = 50;
  ASSERT_EQ(ops.findLineAbove(h(), dev, ctx, 10, 10, 25, 0, &start, &height, nullptr, &count), kOk);
  EXPECT_EQ(height, 0);
  EXPECT_EQ(start, 10u);
  EXPECT_EQ(count, 0);
}

// A handler whose lines carry space above and below: consecutive lines
// share the smaller of the upper line's space below and the lower's above.
StatusCode SpacedLayout(EngineObject* h, EngineObject* dev, DeviceContext ctx, std::uint32_t start,
                        std::uint32_t end, std::int16_t width, std::uint32_t* next,
                        LineMetrics* m) noexcept {
  const StatusCode s = DocHandler_LayoutLine(h, dev, ctx, start, end, width, next, m);
  if (s == kOk && next != nullptr) {
    m->top = 3;
    m->extra = 4;
  }
  return s;
}
StatusCode HugeLayout(EngineObject* h, EngineObject* dev, DeviceContext ctx, std::uint32_t start,
                      std::uint32_t end, std::int16_t width, std::uint32_t* next,
                      LineMetrics* m) noexcept {
  const StatusCode s = DocHandler_LayoutLine(h, dev, ctx, start, end, width, next, m);
  if (s == kOk && next != nullptr) m->height = 30000;
  return s;
}

TEST_F(FlowTest, FindLineAboveOverlapsSpacesAndNeverOverflows) {
  doc.text = "abcd abcd abcd";
  ops.layoutLine = SpacedLayout;
  std::uint32_t start = 0;
  std::int16_t height = 1000, overlap = 1, count = 0;
  ASSERT_EQ(ops.findLineAbove(h(), dev, ctx, 14, 0, 25, 0, &start, &height, &overlap, &count), kOk);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(start, 0u);
  EXPECT_EQ(height, 16 + 14 + 14);  // 17 each, less the overlap in and the two shared spaces
  EXPECT_EQ(overlap, 3);

  ops.layoutLine = HugeLayout;
  height = 32767;
  ASSERT_EQ(ops.findLineAbove(h(), dev, ctx, 14, 0, 25, 0, &start, &height, nullptr, &count), kOk);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(height, kDocUnboundedWidth);  // 60000 saturates instead of wrapping negative
}

// Every default reaches the others through the handler's table.
StatusCode ThreeByteLines(EngineObject*, EngineObject*, DeviceContext, std::uint32_t start,
                          std::uint32_t end, std::int16_t, std::uint32_t* next,
                          LineMetrics* m) noexcept {
  if (start >= end || next == nullptr) return kNoMore;
  *next = std::min(start + 3, end);
  *m = LineMetrics{0, 0, 15, 7, 0, 6, 0, 0};
  return kOk;
}
StatusCode StalledLines(EngineObject*, EngineObject*, DeviceContext, std::uint32_t start,
                        std::uint32_t, std::int16_t, std::uint32_t* next, LineMetrics* m) noexcept {
  if (next == nullptr) return kNoMore;
  *next = start;
  *m = LineMetrics{};
  return kOk;
}
StatusCode CountingDrawLine(EngineObject* h, EngineObject* dev, DeviceContext ctx, std::int16_t x,
                            std::int16_t y, const LineMetrics* m, std::uint32_t start,
                            std::uint32_t end) noexcept {
  if (start == end) ++Styled(h).drawLineCalls;
  return DocHandler_DrawLine(h, dev, ctx, x, y, m, start, end);
}

TEST_F(FlowTest, DefaultsCallThroughTheHandlersOwnTable) {
  doc.text = "abcdefghijkl";
  ops.layoutLine = ThreeByteLines;
  std::uint32_t s = 0, e = 0;
  LineMetrics m{};
  ASSERT_EQ(ops.findLine(h(), dev, ctx, 8, 0, 100, &s, &e, &m), kOk);
  EXPECT_EQ(s, 6u);
  EXPECT_EQ(e, 9u);
  EXPECT_EQ(m.height, 7);
  std::int16_t height = 15, count = 0;
  ASSERT_EQ(ops.findLineAbove(h(), dev, ctx, 12, 0, 100, 0, &s, &height, nullptr, &count), kOk);
  EXPECT_EQ(count, 3);  // 7 + 7 < 15 <= 21
  EXPECT_EQ(s, 3u);

  ops.layoutLine = DocHandler_LayoutLine;
  ops.drawLine = CountingDrawLine;
  doc.text = "ab\ncd\r\nef";
  LineMetrics lm{0, 0, 100, 10, 0, 8, 0, 0};
  ASSERT_EQ(ops.drawLine(h(), dev, ctx, 0, 0, &lm, 0, 9), kOk);
  EXPECT_EQ(doc.drawLineCalls, 2) << "one empty DrawLine per LF";
}

TEST_F(FlowTest, LoopsStopWhenASlotMakesNoProgress) {
  doc.text = "abcdef\nghijkl";
  ops.layoutLine = StalledLines;
  std::uint32_t s = 0, e = 0;
  EXPECT_EQ(ops.findLine(h(), dev, ctx, 10, 0, 100, &s, &e, nullptr), kFailed);
  std::int16_t height = 100, count = 5;
  ASSERT_EQ(ops.findLineAbove(h(), dev, ctx, 10, 0, 100, 0, &s, &height, nullptr, &count), kOk);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(height, 0);
  EXPECT_EQ(s, 10u);

  // Text that stops being readable inside the range ends the line there,
  // and a line that cannot start answers "nothing to lay out".
  ops.layoutLine = DocHandler_LayoutLine;
  doc.readableEnd = 4;
  std::uint32_t next = 0;
  LineMetrics m{};
  ASSERT_EQ(ops.layoutLine(h(), dev, ctx, 0, 13, 200, &next, &m), kOk);
  EXPECT_EQ(next, 4u);
  EXPECT_EQ(ops.layoutLine(h(), dev, ctx, 4, 13, 200, &next, &m), kNoMore);
  // A failing read is passed on.
  doc.readableEnd = 0xFFFFFFFFu;
  doc.failTextAfter = 0;
  EXPECT_EQ(ops.layoutLine(h(), dev, ctx, 0, 13, 200, &next, &m), kFailed);
}

StatusCode BlockNewline(EngineObject* h, EngineObject* dev, DeviceContext ctx, std::uint32_t start,
                        std::uint32_t end, std::int16_t width, std::uint32_t* next,
                        LineMetrics* m) noexcept {
  if (next == nullptr && end == start + 1 && width == 0 && Styled(h).text[start] == '\n') {
    if (start == 2) {  // a rule: a block line of its own, as wide as offered
      const std::int16_t offered = m->width;
      *m = LineMetrics{0, 0, offered, 4, 0, 3, 0, 0};
      return kOk;
    }
    return kDocBlockCentre;
  }
  return DocHandler_LayoutLine(h, dev, ctx, start, end, width, next, m);
}

TEST_F(FlowTest, NewlineProbesMakeBlocksAndAlignLines) {
  doc.text = "ab\nab\ncd";
  ops.layoutLine = BlockNewline;
  // LF at 2: a block line whose metrics become the line's.
  std::uint32_t next = 0;
  LineMetrics m{};
  ASSERT_EQ(ops.layoutLine(h(), dev, ctx, 2, 8, 100, &next, &m), kOk);
  EXPECT_EQ(next, 3u);
  EXPECT_EQ(m.width, 100);
  EXPECT_EQ(m.height, 4);
  EXPECT_EQ(m.ascent, 3);
  // The text before the block's LF is a line of its own, ending before the
  // LF, with the text's own metrics; the probe was offered the whole width.
  LineMetrics text{};
  ASSERT_EQ(ops.layoutLine(h(), dev, ctx, 0, 8, 100, &next, &text), kOk);
  EXPECT_EQ(next, 2u);
  EXPECT_LT(text.width, 100);
  EXPECT_NE(text.height, 4);
  EXPECT_EQ(text.indent, 0);
  std::uint32_t s = 0, e = 0;
  ASSERT_EQ(ops.findLine(h(), dev, ctx, 2, 0, 100, &s, &e, nullptr), kOk);
  EXPECT_EQ(s, 0u);
  EXPECT_EQ(e, 2u);
  ASSERT_EQ(ops.findLine(h(), dev, ctx, 3, 0, 100, &s, &e, nullptr), kOk);
  EXPECT_EQ(s, 2u);
  EXPECT_EQ(e, 3u);
  // LF at 5: an alignment answered without a size centres the line "ab".
  ASSERT_EQ(ops.layoutLine(h(), dev, ctx, 3, 8, 100, &next, &m), kOk);
  EXPECT_EQ(next, 6u);
  EXPECT_EQ(m.indent, 45);
  // FindLine does not stop its paragraph scan at a special newline.
  ASSERT_EQ(ops.findLine(h(), dev, ctx, 4, 0, 100, &s, &e, nullptr), kOk);
  EXPECT_EQ(s, 3u);
  EXPECT_EQ(e, 6u);
}

TEST_F(FlowTest, DrawLineDrawsRunsOnTheBaseline) {
  doc.text = "ab cd ef\n";
  doc.runs = {{3, 5, Font(20), {}}, {6, 8, Font(10, DocFontFlag::SetLow), {}}};
  const auto lines = LayoutAll(300);
  ASSERT_EQ(lines.size(), 1u);
  const LineMetrics& m = lines[0].m;
  fake().ClearLog();
  ASSERT_EQ(ops.drawLine(h(), dev, ctx, 10, 20, &m, 0, 9), kOk);
  const auto origin = fake().Calls(17);
  ASSERT_EQ(origin.size(), 1u);
  EXPECT_EQ(origin[0]->args[0], 10);
  EXPECT_EQ(origin[0]->args[1], 20 + m.ascent);
  EXPECT_EQ(origin[0]->args[3], DeviceTextAlign::Baseline | DeviceTextAlign::Advance);
  const auto texts = fake().Calls(19);
  ASSERT_EQ(texts.size(), 4u);
  const std::vector<std::string> pieces = {"ab ", "cd", " ", "ef"};
  const std::vector<std::int64_t> xs = {10, 25, 45, 50};
  const int baseline = 20 + m.ascent;
  const std::vector<std::int64_t> ys = {baseline, baseline, baseline, baseline + 8 / 3};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(texts[i]->text, pieces[i]);
    EXPECT_EQ(texts[i]->args[1], xs[i]);
    EXPECT_EQ(texts[i]->args[2], ys[i]) << i;
  }
  EXPECT_EQ(fake().Count(18), 1);
  EXPECT_EQ(ops.drawLine(h(), dev, ctx, 0, 0, &m, 4, 4), kNoMore);
}

TEST_F(FlowTest, DrawLineDrawsListMarkersAndMarkerText) {
  CharFormat bullet = Indents(20, 0, 0, 0, 0);
  bullet.markerShape = kMarkerBullet | kMarkerLeftOfText;
  doc.text = "item\n*7. seven";
  doc.runs = {{0, 5, kPlain, bullet}, {5, 14, kPlain, Format(DocFormat::MarkerParagraph)}};
  const auto lines = LayoutAll(300);
  ASSERT_EQ(lines.size(), 2u);
  fake().ClearLog();
  ASSERT_EQ(ops.drawLine(h(), dev, ctx, 0, 0, &lines[0].m, 0, 5), kOk);
  const auto markers = fake().Calls(26);
  ASSERT_EQ(markers.size(), 1u);
  EXPECT_EQ(markers[0]->args[0], 20 - 12);
  EXPECT_EQ(markers[0]->args[1], lines[0].m.ascent);
  EXPECT_EQ(markers[0]->args[2], kMarkerBullet | kMarkerLeftOfText);

  fake().ClearLog();
  ASSERT_EQ(ops.drawLine(h(), dev, ctx, 0, 0, &lines[1].m, 5, 14), kOk);
  const auto texts = fake().Calls(19);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0]->text, "7.");
  EXPECT_EQ(texts[0]->args[1], lines[1].m.indent);
  EXPECT_EQ(texts[1]->text, " seven");
  EXPECT_EQ(texts[1]->args[1], 12) << "the text starts 12 points from the marker's left";
  EXPECT_EQ(lines[1].m.indent + 7, 12);
}

TEST_F(FlowTest, InvertRangeAndBackground) {
  doc.text = "hello world";
  const auto lines = LayoutAll(300);
  fake().ClearLog();
  ASSERT_EQ(ops.invertRange(h(), dev, ctx, 1, 5, 7, &lines[0].m, 0, 0, 0, 2, 5), kOk);
  ASSERT_EQ(ops.invertRange(h(), dev, ctx, 1, 5, 7, &lines[0].m, 0, 40, 90, 8, 11), kOk);
  ASSERT_EQ(ops.drawLineBackground(h(), dev, ctx, 3, 4, &lines[0].m, 99, 0, 0, 11), kOk);
  const auto inv = fake().Calls(11);
  ASSERT_EQ(inv.size(), 2u);
  EXPECT_EQ(inv[0]->args, (std::vector<std::int64_t>{15, 7, 24, 17}));
  EXPECT_EQ(inv[1]->args, (std::vector<std::int64_t>{45, 7, 53, 17})) << "x2 cut to the width";
  const auto fill = fake().Calls(10);
  ASSERT_EQ(fill.size(), 1u);
  EXPECT_EQ(fill[0]->args[0], 3);
  EXPECT_EQ(fill[0]->args[1], 4);
  EXPECT_EQ(fill[0]->args[2], 99);
  EXPECT_EQ(fill[0]->args[3], 14);
}

class AnnotFlowTest : public FlowTest {
 protected:
  void SetUp() override {
    FlowTest::SetUp();
    const std::string path = dir.File("marks.kpa");
    std::u16string p(path.begin(), path.end());
    ASSERT_EQ(AnnotStore_Create(p.c_str(), 0, &store), kOk);
  }
  void TearDown() override {
    (void)AnnotStore_Close(store);
    FlowTest::TearDown();
  }
  void Add(std::uint32_t start, std::uint16_t length, std::uint8_t a1, std::uint8_t a2) {
    AnnotEntry e{};
    e.start = start;
    e.length = length;
    e.attribute1 = a1;
    e.attribute2 = a2;
    ASSERT_EQ(AnnotStore_AddEntry(store, &e), kOk);
  }
  TempDir dir;
  AnnotStore* store = nullptr;
};

TEST_F(AnnotFlowTest, MarksColourTheirRuns) {
  // One mark per colour code at positions 10 k, plus 0x00FF (no mark).
  for (std::uint8_t k = 1; k <= 18; ++k)
    Add(10u * k, 5, 0, k);
  Add(300, 5, 0xFF, 0);
  const std::vector<std::uint32_t> expected = {
      0xFFFF00, 0xFF00FF, 0xFF0000, 0x800000, 0x800080, 0x0000FF, 0x000080, 0x00FFFF, 0x008080,
      0x00FF00, 0x808000, 0x008000, 0xFFFFFF, 0xC0C0C0, 0x808080, 0x000000, 0xFFFF00, 0xFFFF00};
  for (std::uint8_t k = 1; k <= 18; ++k) {
    DeviceFontSpec font = Font(10);
    std::uint32_t runEnd = kRunToEnd;
    ASSERT_EQ(DocHandler_ApplyAnnotationMark(store, 10u * k + 1, &font, &runEnd), kOk);
    EXPECT_EQ(FakeRgb(font.background), expected[k - 1]) << int{k};
    EXPECT_EQ(font.style, DocFontFlag::AnnotationMark);
    EXPECT_EQ(runEnd, 10u * k + 5) << "the run ends with the mark";
  }
  DeviceFontSpec font = Font(10);
  std::uint32_t runEnd = 1000;
  ASSERT_EQ(DocHandler_ApplyAnnotationMark(store, 301, &font, &runEnd), kOk);
  EXPECT_EQ(font.style, 0);
  ASSERT_EQ(DocHandler_ApplyAnnotationMark(store, 5, &font, &runEnd), kOk);
  EXPECT_EQ(runEnd, 10u) << "an unmarked run ends where the next mark starts";
  EXPECT_EQ(font.style, 0);
}

TEST_F(AnnotFlowTest, DrawLineSplitsRunsAtMarks) {
  Add(2, 3, 0, 3);
  doc.text = "abcdefgh";
  ASSERT_EQ(ops.control(h(), DocControl::SetAnnotations, 0, store), kOk);
  const auto lines = LayoutAll(300);
  fake().ClearLog();
  ASSERT_EQ(ops.drawLine(h(), dev, ctx, 0, 0, &lines[0].m, 0, 8), kOk);
  std::vector<std::string> pieces;
  std::vector<std::int64_t> styles;
  for (const FakeCall& c : fake().log) {
    if (c.slot == 19) pieces.push_back(c.text);
    if (c.slot == 13) styles.push_back(c.args[2]);
  }
  EXPECT_EQ(pieces, (std::vector<std::string>{"ab", "cde", "fgh"}));
  EXPECT_EQ(styles, (std::vector<std::int64_t>{0, DocFontFlag::AnnotationMark, 0}));
  // The marked piece is drawn on the mark colour.
  EXPECT_EQ(fake().Pixel(14, 1), 0xFF0000u);
  ASSERT_EQ(ops.control(h(), DocControl::SetAnnotations, 0, nullptr), kOk);
}

TEST_F(FlowTest, CopyRangeCommitsInEveryCase) {
  doc.text = "hello world";
  doc.window = 4;
  ASSERT_EQ(ops.copyRange(h(), dev, 9, 2), kOk);
  EXPECT_EQ(fake().clipboard, u"llo wor");
  EXPECT_EQ(fake().Calls(21)[0]->args[0], 7);
  fake().ClearLog();
  ASSERT_EQ(ops.copyRange(h(), dev, 3, 3), kOk);
  EXPECT_EQ(fake().Count(21), 0);

  doc.failTextAfter = doc.textCalls + 1;
  EXPECT_EQ(ops.copyRange(h(), dev, 0, 11), kFailed);
  EXPECT_EQ(fake().Count(22), 1);
  EXPECT_EQ(fake().clipboard, u"hell");

  doc.failTextAfter = -1;
  fake().clipboardFailure = kClipboardCannotOpen;
  EXPECT_EQ(ops.copyRange(h(), dev, 0, 11), kClipboardCannotOpen);
  fake().clipboardFailure = kOk;

  // An append the device refuses (out of memory) ends the copy with its
  // failure; the clipboard is still committed.
  static DeviceOps refusing;
  refusing = DeviceOf(dev);
  refusing.clipboardAppend = [](EngineObject*, const std::uint8_t*, std::uint32_t) noexcept {
    return kOutOfMemory;
  };
  const void* own = dev->ops;
  dev->ops = &refusing;
  const int commits = fake().clipboardCommits;
  EXPECT_EQ(ops.copyRange(h(), dev, 0, 11), kOutOfMemory);
  EXPECT_EQ(fake().clipboardCommits, commits + 1);
  dev->ops = own;
}

TEST_F(FlowTest, ReadRangeHonoursItsCapacity) {
  doc.text = "0123456789abcdef";
  doc.window = 5;
  std::string buf(20, '#');
  std::uint32_t copied = 0;
  auto* b = reinterpret_cast<std::uint8_t*>(buf.data());
  ASSERT_EQ(ops.readRange(h(), 3, 14, b, 20, &copied), kOk);
  EXPECT_EQ(copied, 11u);
  EXPECT_EQ(buf.substr(0, 12), "3456789abcd#");
  buf.assign(20, '#');
  ASSERT_EQ(ops.readRange(h(), 0, 16, b, 6, &copied), kOk);
  EXPECT_EQ(copied, 6u);
  EXPECT_EQ(buf.substr(0, 7), "012345#");
  ASSERT_EQ(ops.readRange(h(), 10, 99, b, 20, &copied), kOk);
  EXPECT_EQ(copied, 6u) << "stops where the text ends";
  EXPECT_EQ(ops.readRange(h(), 9, 3, b, 20, &copied), kBadArgument);
  EXPECT_EQ(ops.readRange(h(), 0, 3, nullptr, 3, &copied), kNullOutPointer);
  doc.failTextAfter = doc.textCalls + 1;
  EXPECT_EQ(ops.readRange(h(), 0, 16, b, 20, &copied), kFailed);
  EXPECT_EQ(copied, 5u);
}

TEST_F(FlowTest, MeasureLineAndMeasureRun) {
  doc.text = "ab cdefg hi\r\nxyz";
  doc.runs = {{0, 13, kPlain, Indents(10, 0, 0, 0, 0)}};
  std::uint32_t next = 0;
  std::int16_t full = 0, widest = 0;
  ASSERT_EQ(DocHandler_MeasureLine(h(), dev, ctx, 0, 16, &next, &full, &widest), kOk);
  EXPECT_EQ(next, 13u);
  EXPECT_EQ(full, 52 + 10);
  EXPECT_EQ(widest, 25 + 10);
  // A long word is capped by the usable width less 2, at least 98.
  doc.text = std::string(40, 'x') + " ab";
  doc.runs.clear();
  ASSERT_EQ(DocHandler_MeasureLine(h(), dev, ctx, 0, 43, &next, &full, &widest), kOk);
  EXPECT_EQ(widest, 200);
  ASSERT_EQ(Device_SetWindow(dev, fake().window, 80, 100), kOk);
  ASSERT_EQ(DocHandler_MeasureLine(h(), dev, ctx, 0, 43, &next, &full, &widest), kOk);
  EXPECT_EQ(widest, 98);
  EXPECT_EQ(full, 215);

  doc.text = "hello world and more";
  const auto lines = LayoutAll(300);
  DocLinkVisibility q{dev, ctx, 0, 0, &lines[0].m, 0, 20, 6, 11, 100, 50};
  EXPECT_EQ(DocHandler_MeasureRun(h(), &q), kYes);
  q.rightLimit = 24;
  EXPECT_EQ(DocHandler_MeasureRun(h(), &q), kNo) << "starts right of the limit";
  q.rightLimit = 100;
  q.y = 50;
  EXPECT_EQ(DocHandler_MeasureRun(h(), &q), kNo) << "below the bottom limit";
  q.y = 0;
  q.rangeStart = 25;
  q.rangeEnd = 30;
  EXPECT_EQ(DocHandler_MeasureRun(h(), &q), kNo) << "not on this line";
}

TEST_F(FlowTest, SectionDefaults) {
  std::uint16_t policy = 9, count = 9;
  ASSERT_EQ(ops.getSectionInfo(h(), &policy, &count), kOk);
  EXPECT_EQ(policy, 0);
  EXPECT_EQ(count, 1);
  std::uint32_t flags = 9;
  ASSERT_EQ(ops.getSectionFlags(h(), 0, &flags), kOk);
  EXPECT_EQ(flags, 0u);
  EXPECT_EQ(ops.getSectionFlags(h(), 1, &flags), kNoMore);
}

}  // namespace
