#include "engine/formats/native_table_lines.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/device/table_store.h"
#include "tests/formats/native_table_fixture.h"

namespace {

using namespace native_fixture;
using namespace native_table_fixture;

// Writes the fake device's window surface as a PNG under KELPO_ARTIFACT_DIR
// (when set), for a look at what the row lines drew.
void SaveSurface(TablePass& t, const std::string& name) {
  const char* dir = std::getenv("KELPO_ARTIFACT_DIR");
  if (dir == nullptr || *dir == '\0') return;
  const FakeSurface& s = t.Fake().windowSurface;
  std::string raw;
  for (int y = 0; y < s.height; ++y) {
    raw.push_back('\0');
    for (int x = 0; x < s.width; ++x) {
      const std::uint32_t c = s.At(x, y);
      raw.push_back(static_cast<char>(c >> 16));
      raw.push_back(static_cast<char>(c >> 8));
      raw.push_back(static_cast<char>(c));
    }
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string z(size, '\0');
  ASSERT_EQ(compress(reinterpret_cast<Bytef*>(z.data()), &size,
                     reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size())),
            Z_OK);
  z.resize(size);
  auto be32 = [](std::uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 8), static_cast<char>(v)};
  };
  auto chunk = [&](const std::string& type, const std::string& data) {
    const std::string body = type + data;
    const uLong crc =
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    return be32(static_cast<std::uint32_t>(data.size())) + body +
           be32(static_cast<std::uint32_t>(crc));
  };
  const std::string header = be32(static_cast<std::uint32_t>(s.width)) +
                             be32(static_cast<std::uint32_t>(s.height)) +
                             std::string{8, 2, 0, 0, 0};
  std::ofstream out(std::string(dir) + "/" + name, std::ios::binary);
  out << "\x89PNG\r\n\x1a\n" << chunk("IHDR", header) << chunk("IDAT", z) << chunk("IEND", "");
}

struct RowLine {
  std::uint32_t start = 0, next = 0;
  LineMetrics m{};
  int y = 0;
  std::size_t logFrom = 0, logTo = 0;  // the device calls of its drawing
};

// The outermost table holding p.
NativeRowLineTable TableAt(TablePass& t, std::uint32_t p) {
  NativeRowLineTable table{};
  EXPECT_EQ(NativeStore_FindLevelRun(&t.State(), 1, p, 0, &table.start, &table.end, &table.number),
            kOk);
  return table;
}

// The first position of the n-th outermost table (from 0).
std::uint32_t TableStart(TablePass& t, int n) {
  std::uint32_t length = 0;
  EXPECT_EQ(NativeDoc_GetTextLength(t.View(), &length), kOk);
  int seen = -1;
  for (std::uint32_t p = 0; p < length; ++p) {
    std::uint32_t a = 0, b = 0;
    std::uint16_t v = 0;
    if (NativeStore_FindLevelRun(&t.State(), 1, p, 0, &a, &b, &v) == kOk && ++seen == n) return a;
    if (seen >= 0 && seen < n && NativeStore_FindLevelRun(&t.State(), 1, p, 0, &a, &b, &v) == kOk)
      p = b - 1;
  }
  ADD_FAILURE() << "no table " << n;
  return 0;
}

// Lays out the row lines of the table starting at `start` and draws each
// below the last from y = 0.
std::vector<RowLine> LayOutAndDraw(TablePass& t, std::uint32_t start, std::int16_t width = 300) {
  const NativeRowLineTable table = TableAt(t, start);
  std::vector<RowLine> lines;
  int y = 0;
  for (std::uint32_t p = table.start; p < table.end && lines.size() < 500;) {
    RowLine line;
    line.start = p;
    EXPECT_EQ(TableLine_LayoutRowLine(t.View(), t.Device(), t.Ctx(), &t.State(), p, width,
                                      &line.next, &line.m),
              kOk);
    EXPECT_GT(line.next, p);
    line.y = y;
    line.logFrom = t.Fake().log.size();
    EXPECT_EQ(TableLine_DrawRowLine(t.View(), t.Device(), t.Ctx(), &t.State(), 0,
                                    static_cast<std::int16_t>(y), &line.m, p),
              kOk);
    line.logTo = t.Fake().log.size();
    y += line.m.height;
    lines.push_back(line);
    p = std::max(line.next, p + 1);
  }
  return lines;
}

// A character drawn by a DrawText call: its centre and the line it is on.
struct DrawnChar {
  char c;
  int cx, cy;
  std::size_t line;
  std::string run;    // the text of its DrawText call
  std::size_t index;  // its place in that text
};

std::vector<DrawnChar> DrawnChars(TablePass& t, const std::vector<RowLine>& lines) {
  const FakeFontMetrics font =
      FakeFontFor(DeviceFontSpec{0xFFFF, 10, 0, {}, {}}, t.Fake().displayWord, t.Fake().plainMode);
  std::vector<DrawnChar> out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    for (std::size_t k = lines[i].logFrom; k < lines[i].logTo; ++k) {
      const FakeCall& call = t.Fake().log[k];
      if (call.slot != 19 || call.result != kOk) continue;
      int x = static_cast<int>(call.args[1]);
      const int baseline = static_cast<int>(call.args[2]);
      for (std::size_t n = 0; n < call.text.size(); ++n) {
        const int advance = FakeCharAdvance(font, static_cast<std::uint8_t>(call.text[n]));
        if (call.text[n] != ' ')
          out.push_back({call.text[n], x + advance / 2, baseline - 2, i, call.text, n});
        x += advance;
      }
    }
  }
  return out;
}

std::string TextOf(TablePass& t, std::uint32_t from, std::uint32_t to) {
  std::string out(to - from, '\0');
  std::uint32_t copied = 0;
  EXPECT_EQ(
      DocOpsOf(t.View()).readRange(t.View(), from, to, reinterpret_cast<std::uint8_t*>(out.data()),
                                   static_cast<std::uint32_t>(out.size()), &copied),
      kOk);
  out.resize(copied);
  return out;
}

// Three row groups in a table with a 2-point frame.
std::string FramedTable(const std::string& more = {}) {
  return Write(
      "[\"lead\\n\", {\"table\": {\"format\": {\"border\": {\"width\": 2, \"style\": 1}}, "
      "\"groups\": [{\"rows\": 1, \"cells\": [" +
      Cell("a1") + ", " + Cell("b1") + "]}, {\"rows\": 1, \"cells\": [" + Cell("a2") + ", " +
      Cell("b2") + "]}, {\"rows\": 1, \"cells\": [" + Cell("a3") + ", " + Cell("b3") + "]}]" +
      (more.empty() ? "" : ", " + more) + "}}, \"tail\\n\"]");
}

TEST(NativeTableLines, ThreeRowGroupsGiveThreeLinesWithTheFrameOnTheOuterOnes) {
  TablePass t(FramedTable());
  ASSERT_EQ(t.Run(), kOk);
  const NativeRowLineTable table = TableAt(t, TableStart(t, 0));
  const std::vector<RowLine> lines = LayOutAndDraw(t, table.start);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].start, table.start);
  EXPECT_EQ(lines[2].next, table.end);
  EXPECT_EQ(lines[0].next, lines[1].start);
  EXPECT_EQ(lines[1].next, lines[2].start);
  const TableSizes s = t.Sizes(table.number);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(lines[i].m.ascent, s.rows[i]) << i;
  EXPECT_EQ(lines[0].m.height, s.rows[0] + 2);  // the top side
  EXPECT_EQ(lines[1].m.height, s.rows[1]);
  EXPECT_EQ(lines[2].m.height, s.rows[2] + 2);  // the bottom side
  EXPECT_EQ(lines[0].m.width, s.width + 4);     // left and right sides
  // The frame: top side on the first line only, bottom on the last; the
  // left and right sides on every line.
  std::vector<int> ruleLines;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    int horizontal = 0;
    for (std::size_t k = lines[i].logFrom; k < lines[i].logTo; ++k) {
      const FakeCall& c = t.Fake().log[k];
      if (c.slot == 34 && c.args[2] - c.args[0] > 4) ++horizontal;
    }
    ruleLines.push_back(horizontal);
  }
  EXPECT_EQ(ruleLines, (std::vector<int>{1, 0, 1}));
}

TEST(NativeTableLines, CaptionLinesAndEmptyRows) {
  for (const int place : {1, 2}) {
    TablePass t(
        FramedTable("\"caption\": \"The caption\", \"caption_place\": " + std::to_string(place)));
    ASSERT_EQ(t.Run(), kOk);
    const NativeRowLineTable table = TableAt(t, TableStart(t, 0));
    const std::vector<RowLine> lines = LayOutAndDraw(t, table.start);
    ASSERT_EQ(lines.size(), 4u) << place;
    const TableSizes s = t.Sizes(table.number);
    const RowLine& caption = place == 1 ? lines[0] : lines[3];
    EXPECT_EQ(caption.m.height, s.extra) << place;
    if (place == 1) {
      EXPECT_EQ(lines[1].m.height, s.rows[0] + 2);  // the top side is the first group's
    } else {
      EXPECT_EQ(caption.start, table.end - 1);
      EXPECT_EQ(caption.next, table.end);
      EXPECT_EQ(lines[2].m.height, s.rows[2] + 2);
    }
    // The caption's text is drawn on its line.
    std::string drawn;
    for (std::size_t k = caption.logFrom; k < caption.logTo; ++k)
      if (t.Fake().log[k].slot == 19) drawn += t.Fake().log[k].text;
    EXPECT_NE(drawn.find("caption"), std::string::npos) << place;
  }
}

TEST(NativeTableLines, HitTestingEveryDrawnCharacterGivesItsPosition) {
  TablePass t(RichDocument());
  ASSERT_EQ(t.Run(), kOk);
  t.State().flags |= NativeStateFlag::TableLayout;
  for (const int n : {0, 1}) {
    const std::vector<RowLine> lines = LayOutAndDraw(t, TableStart(t, n));
    const std::vector<DrawnChar> chars = DrawnChars(t, lines);
    ASSERT_GT(chars.size(), 20u);
    bool sawNested = false;
    for (const DrawnChar& d : chars) {
      const RowLine& line = lines[d.line];
      std::uint32_t a = 0, b = 0;
      HitBox box{};
      ASSERT_EQ(TableLine_HitTestRowLine(
                    t.View(), t.Device(), t.Ctx(), &t.State(), static_cast<std::int16_t>(d.cx),
                    static_cast<std::int16_t>(d.cy - line.y), &line.m, line.start, &box, &a, &b),
                kOk);
      ASSERT_EQ(b, a + 1) << d.c << " of \"" << d.run << "\"";
      ASSERT_GE(a, d.index);
      EXPECT_EQ(TextOf(t, a - static_cast<std::uint32_t>(d.index),
                       a - static_cast<std::uint32_t>(d.index) +
                           static_cast<std::uint32_t>(d.run.size())),
                d.run)
          << "'" << d.c << "' at " << d.cx << "," << d.cy;
      EXPECT_LE(box.x, d.cx);
      EXPECT_GT(box.x + box.width, d.cx);
      if (d.run.find('x') == 0 || d.run == "y1" || d.run == "y2") sawNested = true;
    }
    if (n == 0) {
      EXPECT_TRUE(sawNested);
    }
    SaveSurface(t, "native_table_rows_" + std::to_string(n) + ".png");
    EXPECT_EQ(t.Store().depth, 0);
  }
}

// A point between two cells (on the spacing and rules between their boxes)
// is answered from the cell the table store's hit test names for it: the
// column whose right edge is the first beyond the point, in the row under it.
TEST(NativeTableLines, APointBetweenCellsFindsTheCellTheStoreNames) {
  TablePass t(Write("[\"lead\\n\", " + RuledTable() + ", \"tail\\n\"]"));
  ASSERT_EQ(t.Run(), kOk);
  const std::vector<RowLine> lines = LayOutAndDraw(t, TableStart(t, 0));
  ASSERT_EQ(lines.size(), 2u);
  std::uint32_t length = 0;
  ASSERT_EQ(NativeDoc_GetTextLength(t.View(), &length), kOk);
  const std::string text = TextOf(t, 0, length);
  const TableSizes sizes = t.Sizes(1);
  ASSERT_EQ(sizes.edges.size(), 3u);
  // Cell boxes leave the border and spacing between them: the right edge
  // of column k and the first pixel of column k + 1 lie in that gap.
  struct Case {
    int x;
    char column;
  };
  const Case cases[] = {
      {sizes.edges[0] - 1, 'a'}, {sizes.edges[0], 'b'}, {sizes.edges[0] + 1, 'b'},
      {sizes.edges[1] - 1, 'b'}, {sizes.edges[1], 'c'},
  };
  for (std::size_t row = 0; row < lines.size(); ++row) {
    const RowLine& line = lines[row];
    for (const Case& c : cases) {
      const std::string name = std::string(1, c.column) + std::to_string(row);
      SCOPED_TRACE(name + " at x " + std::to_string(c.x));
      const auto at = static_cast<std::uint32_t>(text.find(name));
      ASSERT_NE(at, static_cast<std::uint32_t>(std::string::npos));
      std::uint32_t a = 0, b = 0;
      HitBox box{};
      ASSERT_EQ(TableLine_HitTestRowLine(t.View(), t.Device(), t.Ctx(), &t.State(),
                                         static_cast<std::int16_t>(line.m.indent + c.x),
                                         static_cast<std::int16_t>(line.m.height / 2), &line.m,
                                         line.start, &box, &a, &b),
                kOk);
      EXPECT_GE(a, at);
      EXPECT_LE(b, at + 3) << "answered " << a << ".." << b << " in \"" << text << "\"";
    }
  }
  EXPECT_EQ(t.Store().depth, 0);
}

// The positions of drawn characters, by hit testing their centres.
std::vector<std::uint32_t> Positions(TablePass& t, const std::vector<RowLine>& lines,
                                     const std::vector<DrawnChar>& chars) {
  std::vector<std::uint32_t> out;
  for (const DrawnChar& d : chars) {
    const RowLine& line = lines[d.line];
    std::uint32_t a = 0, b = 0;
    EXPECT_EQ(TableLine_HitTestRowLine(
                  t.View(), t.Device(), t.Ctx(), &t.State(), static_cast<std::int16_t>(d.cx),
                  static_cast<std::int16_t>(d.cy - line.y), &line.m, line.start, nullptr, &a, &b),
              kOk);
    out.push_back(a);
  }
  return out;
}

TEST(NativeTableLines, InversionTouchesOnlyTheSelectedTextOfCellsMeetingIt) {
  TablePass t(RichDocument());
  ASSERT_EQ(t.Run(), kOk);
  const std::vector<RowLine> lines = LayOutAndDraw(t, TableStart(t, 0));
  const std::vector<DrawnChar> chars = DrawnChars(t, lines);
  const std::vector<std::uint32_t> at = Positions(t, lines, chars);
  // From the second 'd' of "padded" to the 'r' of "bordered", and, in a
  // second case, from inside the nested table's first cell to inside the
  // containing cell's last word.
  auto find = [&](const std::string& run, std::size_t index) {
    for (std::size_t i = 0; i < chars.size(); ++i)
      if (chars[i].run == run && chars[i].index == index) return at[i];
    ADD_FAILURE() << run;
    return 0u;
  };
  const std::pair<std::uint32_t, std::uint32_t> ranges[] = {
      {find("padded", 3), find("bordered", 2) + 1},
      {find("x1", 1), find("below", 2) + 1},
  };
  for (const auto& [a, b] : ranges) {
    ASSERT_LT(a, b);
    // Draw again on a clean surface, then invert every line.
    t.Fake().ClearLog();
    const std::vector<RowLine> again = LayOutAndDraw(t, TableStart(t, 0));
    ASSERT_EQ(again.size(), lines.size());
    std::size_t inverts = 0;
    for (const RowLine& line : again) {
      const std::size_t from = t.Fake().log.size();
      ASSERT_EQ(
          TableLine_InvertRowLine(t.View(), t.Device(), t.Ctx(), &t.State(), 1, 0,
                                  static_cast<std::int16_t>(line.y), &line.m, line.start, a, b),
          kOk);
      for (std::size_t k = from; k < t.Fake().log.size(); ++k)
        if (t.Fake().log[k].slot == 11) ++inverts;
    }
    EXPECT_GT(inverts, 0u);
    for (std::size_t i = 0; i < chars.size(); ++i) {
      const bool selected = at[i] >= a && at[i] < b;
      EXPECT_EQ(t.Fake().Inverted(chars[i].cx, chars[i].cy), selected)
          << "'" << chars[i].c << "' of \"" << chars[i].run << "\" at " << at[i];
    }
    // Invert again: everything is back.
    for (const RowLine& line : again)
      ASSERT_EQ(
          TableLine_InvertRowLine(t.View(), t.Device(), t.Ctx(), &t.State(), 1, 0,
                                  static_cast<std::int16_t>(line.y), &line.m, line.start, a, b),
          kOk);
    for (const DrawnChar& d : chars)
      EXPECT_FALSE(t.Fake().Inverted(d.cx, d.cy));
    EXPECT_EQ(t.Store().depth, 0);
  }
}

TEST(NativeTableLines, RulesFollowTheRuleModeAndBorder) {
  struct Case {
    int mode, border;
    bool horizontal, vertical;
  } cases[] = {
      {0, 0, false, false}, {3, 0, true, false}, {4, 0, false, true},
      {5, 0, true, true},   {5, 1, true, true},
  };
  std::size_t innerOnly = 0;
  for (const Case& c : cases) {
    TablePass t(Write("[{\"table\": {\"rule_mode\": " + std::to_string(c.mode) +
                      ", \"rule_width\": 1, \"border\": " + std::to_string(c.border) +
                      ", \"groups\": [{\"rows\": 1, \"cells\": [" + Cell("a") + ", " + Cell("b") +
                      "]}, {\"rows\": 1, \"cells\": [" + Cell("c") + ", " + Cell("d") + "]}]}}]"));
    ASSERT_EQ(t.Run(), kOk);
    t.Fake().ClearLog();
    LayOutAndDraw(t, TableStart(t, 0));
    std::size_t h = 0, v = 0;
    for (const FakeCall* call : t.Fake().Calls(34)) {
      if (call->args[4] != 7) continue;  // rule bands only
      if (call->args[1] == call->args[3]) ++h;
      if (call->args[0] == call->args[2]) ++v;
    }
    EXPECT_EQ(h > 0, c.horizontal) << c.mode << "/" << c.border;
    EXPECT_EQ(v > 0, c.vertical) << c.mode << "/" << c.border;
    if (c.mode == 5 && c.border == 0) innerOnly = h + v;
    if (c.mode == 5 && c.border == 1) {
      EXPECT_GT(h + v, innerOnly);  // the outer edges too
    }
  }
}

TEST(NativeTableLines, RangeVisibleLooksAtTheCellLines) {
  TablePass t(RichDocument());
  ASSERT_EQ(t.Run(), kOk);
  const std::vector<RowLine> lines = LayOutAndDraw(t, TableStart(t, 0));
  const std::vector<DrawnChar> chars = DrawnChars(t, lines);
  const std::vector<std::uint32_t> at = Positions(t, lines, chars);
  std::size_t padded = 0;
  while (padded < chars.size() && chars[padded].run != "padded")
    ++padded;
  ASSERT_LT(padded, chars.size());
  const RowLine& line = lines[chars[padded].line];
  DocLinkVisibility q{};
  q.device = t.Device();
  q.ctx = t.Ctx();
  q.x = 0;
  q.y = static_cast<std::int16_t>(line.y);
  q.metrics = &line.m;
  q.lineStart = line.start;
  q.lineEnd = line.next;
  q.rangeStart = at[padded];
  q.rangeEnd = at[padded] + 3;
  q.rightLimit = 300;
  q.bottomLimit = 400;
  EXPECT_EQ(TableLine_RangeVisible(t.View(), &t.State(), &q), kYes);
  q.rightLimit = static_cast<std::int16_t>(chars[padded].cx - 10);  // the cell lies right of it
  EXPECT_EQ(TableLine_RangeVisible(t.View(), &t.State(), &q), kOk);
  q.rightLimit = 300;
  std::size_t plain = 0;  // a cell of the next row group
  while (plain < chars.size() && chars[plain].run != "plain")
    ++plain;
  ASSERT_LT(plain, chars.size());
  ASSERT_NE(chars[plain].line, chars[padded].line);
  q.rangeStart = at[plain];
  q.rangeEnd = at[plain] + 2;
  EXPECT_EQ(TableLine_RangeVisible(t.View(), &t.State(), &q), kOk);
  EXPECT_EQ(t.Store().depth, 0);
}

// Every character centred, with a 4-point left indent and a 6-point right one.
StatusCode CentredStyle(EngineObject*, EngineObject*, std::uint32_t, DeviceFontSpec* font,
                        CharFormat* format, std::uint32_t* runEnd) noexcept {
  DocHandler_InitCharStyle(font, format);
  if (format != nullptr) {
    format->formatFlags = DocFormat::AlignCentre;
    format->leftIndent = 4;
    format->rightIndent = 6;
  }
  if (runEnd != nullptr) *runEnd = kRunToEnd;
  return kOk;
}

TEST(NativeTableLines, LineGeometryEdgeCases) {
  // A last group of empty cells without rules has height 0: it still gets
  // its line (the table's bottom side is on it), of height 5.
  {
    TablePass t(Write("[{\"table\": {\"groups\": [{\"rows\": 1, \"cells\": [" + Cell("a") +
                      "]}, {\"rows\": 1, \"cells\": [" + Cell("") + ", " + Cell("") + "]}]}}]"));
    ASSERT_EQ(t.Run(), kOk);
    const std::vector<RowLine> lines = LayOutAndDraw(t, TableStart(t, 0));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].m.ascent, 0);
    EXPECT_EQ(lines[1].m.height, 5);
  }
  // Centred with 101 pixels to spare: the indent is the left indent + 50.
  {
    TablePass t(FramedTable());
    ASSERT_EQ(t.Run(), kOk);
    DocHandlerOps ops = kTestOps;
    ops.getCharStyle = CentredStyle;
    EngineObject view{t.View()->state, &ops};
    const std::uint32_t start = TableStart(t, 0);
    LineMetrics m{};
    std::uint32_t next = 0;
    ASSERT_EQ(
        TableLine_LayoutRowLine(&view, t.Device(), t.Ctx(), &t.State(), start, 300, &next, &m),
        kOk);
    const std::int16_t full = m.width;
    const std::int16_t width = static_cast<std::int16_t>(full + 4 + 6 + 101);
    ASSERT_EQ(
        TableLine_LayoutRowLine(&view, t.Device(), t.Ctx(), &t.State(), start, width, &next, &m),
        kOk);
    EXPECT_EQ(m.indent, 4 + 50);
    // With no room to spare it stays at the left indent.
    ASSERT_EQ(
        TableLine_LayoutRowLine(&view, t.Device(), t.Ctx(), &t.State(), start, full, &next, &m),
        kOk);
    EXPECT_EQ(m.indent, 4);
  }
  // A border side of style 144 takes its width but is not drawn.
  std::int64_t textX[2] = {};
  int filledSides[2] = {};
  for (const int style : {0, 144}) {
    TablePass t(Write("[{\"table\": {\"groups\": [{\"rows\": 1, \"cells\": [" +
                      Cell("word", "\"format\": {\"border\": {\"width\": 3, \"style\": " +
                                       std::to_string(style) + "}}") +
                      "]}]}}]"));
    ASSERT_EQ(t.Run(), kOk);
    t.Fake().ClearLog();
    LayOutAndDraw(t, TableStart(t, 0));
    const std::vector<const FakeCall*> text = t.Fake().Calls(19);
    ASSERT_FALSE(text.empty());
    textX[style != 0] = text[0]->args[1];
    for (const FakeCall* c : t.Fake().Calls(34))
      if (c->args[5] == 0) ++filledSides[style != 0];
  }
  EXPECT_EQ(textX[1], textX[0] + 3);
  EXPECT_EQ(filledSides[0], 0);
  EXPECT_EQ(filledSides[1], 0);
}

TEST(NativeTableLines, ThickRulesAreDrawnAsOnePixelRulesAlongTheirLength) {
  TablePass t(Write(
      "[{\"table\": {\"rule_mode\": 3, \"rule_width\": 3, \"groups\": [{\"rows\": 1, "
      "\"cells\": [" +
      Cell("a somewhat long cell text") + "]}, {\"rows\": 1, \"cells\": [" + Cell("b") + "]}]}}]"));
  ASSERT_EQ(t.Run(), kOk);
  t.Fake().ClearLog();
  LayOutAndDraw(t, TableStart(t, 0));
  std::vector<const FakeCall*> rules;
  for (const FakeCall* c : t.Fake().Calls(34))
    if (c->args[4] == 7) rules.push_back(c);
  // The rule between the two rows, once below the first cell and once above
  // the second: each a band 3 pixels high drawn as 3 horizontal rules of
  // width 1, one below the other.
  ASSERT_EQ(rules.size(), 6u);
  for (std::size_t i = 0; i < rules.size(); ++i) {
    EXPECT_EQ(rules[i]->args[1], rules[i]->args[3]);  // horizontal
    EXPECT_EQ(rules[i]->args[5], 1);                  // one pixel
    EXPECT_GE(rules[i]->args[2] - rules[i]->args[0], 40);
    if (i % 3 != 0) {
      EXPECT_EQ(rules[i]->args[1], rules[i - 1]->args[1] + 1);
    }
  }
}

TEST(NativeTableLines, TablePathIsTakenOnlyInsideTablesWithTableLayoutOn) {
  TablePass t(FramedTable());
  ASSERT_EQ(t.Run(), kOk);
  const NativeRowLineTable table = TableAt(t, TableStart(t, 0));
  NativeDocState& s = t.State();
  NativeRowLineTable found{};
  s.flags &= static_cast<std::uint16_t>(~NativeStateFlag::TableLayout);
  EXPECT_EQ(TableLine_IsTablePosition(&s, table.start + 2, NativeStateFlag::CellDraw, &found), kNo);
  s.flags |= NativeStateFlag::TableLayout;
  ASSERT_EQ(TableLine_IsTablePosition(&s, table.start + 2, NativeStateFlag::CellDraw, &found),
            kYes);
  EXPECT_EQ(found.start, table.start);
  EXPECT_EQ(found.end, table.end);
  EXPECT_EQ(found.number, table.number);
  EXPECT_EQ(TableLine_IsTablePosition(&s, table.start - 1, NativeStateFlag::CellDraw, &found),
            kNo);  // the text before the table
  EXPECT_EQ(TableLine_IsTablePosition(&s, table.end, NativeStateFlag::CellDraw, &found), kNo);
  // A running table path of the same kind keeps the cells' own lines ordinary.
  s.flags |= NativeStateFlag::CellDraw;
  EXPECT_EQ(TableLine_IsTablePosition(&s, table.start + 2, NativeStateFlag::CellDraw, &found), kNo);
  EXPECT_EQ(TableLine_IsTablePosition(&s, table.start + 2, NativeStateFlag::CellInvert, &found),
            kYes);
  s.flags &= static_cast<std::uint16_t>(~NativeStateFlag::CellDraw);
}

// A device whose store refuses to open the row pass of table 2 (the nested
// one) and otherwise answers as the fake does.
const DeviceOps* g_realOps = nullptr;
StatusCode RefuseNested(EngineObject* device, std::uint16_t code, void* in, void* out) noexcept {
  if (code == TableStoreCode::OpenRowPass && *static_cast<std::uint16_t*>(in) == 2) return kFailed;
  return g_realOps->tableStoreCommand(device, code, in, out);
}

TEST(NativeTableLines, FailureInsideNestedTablePopsOnlyTheWalksItPushed) {
  TablePass t(RichDocument());
  ASSERT_EQ(t.Run(), kOk);
  const std::vector<RowLine> lines = LayOutAndDraw(t, TableStart(t, 0));
  ASSERT_EQ(lines.size(), 3u);  // caption, the group of two rows, the group with the nested table
  g_realOps = &OpsOf<DeviceOps>(t.Device());
  DeviceOps ops = *g_realOps;
  ops.tableStoreCommand = RefuseNested;
  EngineObject device{t.Device()->state, &ops};
  std::uint32_t sentinel = 0xC0FFEE;
  std::uint16_t size = sizeof sentinel;
  ASSERT_EQ(TableStore_Command(&t.Store(), TableStoreCode::Push, &size, &sentinel), kOk);
  const RowLine& line = lines[2];
  const std::uint16_t flags = t.State().flags;
  EXPECT_EQ(TableLine_DrawRowLine(t.View(), &device, t.Ctx(), &t.State(), 0,
                                  static_cast<std::int16_t>(line.y), &line.m, line.start),
            kFailed);
  EXPECT_EQ(TableLine_InvertRowLine(t.View(), &device, t.Ctx(), &t.State(), 1, 0,
                                    static_cast<std::int16_t>(line.y), &line.m, line.start,
                                    line.start, line.next),
            kFailed);
  std::uint32_t a = 0, b = 0;
  // The point lies in the nested table: its row pass cannot be opened.
  std::int16_t nestedX = -1, nestedY = -1;
  const std::vector<DrawnChar> chars = DrawnChars(t, lines);
  for (const DrawnChar& d : chars) {
    if (d.run == "x1") {
      nestedX = static_cast<std::int16_t>(d.cx);
      nestedY = static_cast<std::int16_t>(d.cy - line.y);
    }
  }
  ASSERT_GE(nestedX, 0);
  EXPECT_EQ(TableLine_HitTestRowLine(t.View(), &device, t.Ctx(), &t.State(), nestedX, nestedY,
                                     &line.m, line.start, nullptr, &a, &b),
            kFailed);
  EXPECT_EQ(t.State().flags, flags);  // every held flag dropped again
  EXPECT_EQ(t.Store().nodes, nullptr);
  ASSERT_EQ(t.Store().depth, 1);
  std::uint32_t back = 0;
  ASSERT_EQ(TableStore_Command(&t.Store(), TableStoreCode::Pop, &size, &back), kOk);
  EXPECT_EQ(back, sentinel);
  EXPECT_EQ(t.Store().nodes, nullptr);  // every row-pass node closed
  EXPECT_EQ(TableLine_DrawRowLine(t.View(), t.Device(), t.Ctx(), &t.State(), 0,
                                  static_cast<std::int16_t>(line.y), &line.m, line.start),
            kOk);
}

TEST(NativeTableLines, CellsThroughTheNativeHandlerTable) {
  TablePass t(RichDocument(), 300, true);
  ASSERT_EQ(t.Run(), kOk);
  const std::vector<RowLine> lines = LayOutAndDraw(t, TableStart(t, 0));
  ASSERT_EQ(lines.size(), 3u);
  int checked = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    for (std::size_t k = lines[i].logFrom; k < lines[i].logTo; ++k) {
      const FakeCall& call = t.Fake().log[k];
      if (call.slot != 19 || call.result != kOk || call.text.empty() || call.text[0] == ' ')
        continue;
      // Just inside the run's first character, above its baseline.
      std::uint32_t a = 0, b = 0;
      ASSERT_EQ(TableLine_HitTestRowLine(t.View(), t.Device(), t.Ctx(), &t.State(),
                                         static_cast<std::int16_t>(call.args[1] + 1),
                                         static_cast<std::int16_t>(call.args[2] - 2 - lines[i].y),
                                         &lines[i].m, lines[i].start, nullptr, &a, &b),
                kOk);
      EXPECT_EQ(TextOf(t, a, a + static_cast<std::uint32_t>(call.text.size())), call.text);
      ++checked;
    }
  }
  EXPECT_GT(checked, 8);
  EXPECT_EQ(t.Store().depth, 0);
}

TEST(NativeTableLines, TwoByteCharactersInUtf16Text) {
  std::string error;
  const std::string file = native_tool::Write(
      "{\"table_layout\": {\"utf16\": true, \"content\": [\"lead\\n\", {\"table\": {\"caption\": "
      "\"cap\", \"caption_place\": 2, \"groups\": [{\"rows\": 1, \"cells\": [" +
          Cell("ab") + ", " + Cell("cd") + "]}, {\"rows\": 1, \"cells\": [" + Cell("ef") +
          "]}]}}, \"tail\"]}}",
      {}, &error);
  ASSERT_FALSE(file.empty()) << error;
  TablePass t(file);
  ASSERT_NE(t.State().flags & NativeStateFlag::Utf16, 0);
  t.Fake().charset = 1013;
  ASSERT_EQ(t.Run(), kOk);
  const NativeRowLineTable table = TableAt(t, TableStart(t, 0));
  EXPECT_EQ(table.start, 10u);  // "lead\n" in two bytes a character
  // Caption text [S + 2, S + 8), group 0 [S + 8, S + 16), group 1 [S + 16, E - 2).
  const std::vector<RowLine> lines = LayOutAndDraw(t, table.start);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].start, table.start);
  EXPECT_EQ(lines[0].next, table.start + 16);
  EXPECT_EQ(lines[1].start, table.start + 16);
  EXPECT_EQ(lines[1].next, table.end - 2);
  EXPECT_EQ(lines[2].start, table.end - 2);  // the caption line, one character before the end
  EXPECT_EQ(lines[2].next, table.end);
  EXPECT_EQ(lines[2].m.height, t.Sizes(table.number).extra);
}

}  // namespace
