#include "engine/formats/native_handler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "engine/device/select_ctl.h"
#include "engine/formats/flow_text.h"
#include "engine/formats/native_link.h"
#include "tests/formats/native_fixture.h"
#include "tests/formats/native_table_fixture.h"
#include "tests/support/fake_device.h"

namespace {

using namespace native_fixture;

// The document: two sections, a centred first paragraph with space, a
// border and padding around it and a link on "world", an image object in
// the middle of a line, a bullet object, and a paragraph that does not wrap.
constexpr char kText[] =
    "Hello world\n"         // 0-12, paragraph format 1
    "see X here\n"          // 12-23, the image object at 16
    "Y bullet item text\n"  // 23-42, the bullet object at 23
    "This line is long and would wrap if it were allowed to wrap\n";  // 42-102
constexpr std::uint32_t kImageAt = 16;
constexpr std::uint32_t kBulletAt = 23;
constexpr std::uint32_t kNoWrapAt = 42;
constexpr std::uint32_t kEnd = sizeof kText - 1;

std::string Description(bool withParagraphFormats) {
  const std::string end = std::to_string(kEnd);
  std::string json = "{\"section_count\": 2, \"run_lists\": {";
  json += "\"1\": " + RunListJson({{0, kNoWrapAt, 1}, {kNoWrapAt, kEnd, 0}}, 2, 0, 16) + ",";
  json += "\"3\": " + RunListJson({{0, 6, 0}, {6, 11, 1}, {11, kEnd, 0}}, 2, 0, 16) + ",";
  json += "\"4\": " +
          RunListJson({{0, kImageAt, 0},
                       {kImageAt, kImageAt + 1, 0x10001},
                       {kImageAt + 1, kBulletAt, 0},
                       {kBulletAt, kBulletAt + 1, 3},
                       {kBulletAt + 1, kEnd, 0}},
                      2, 3, 16) +
          ",";
  if (withParagraphFormats)
    json += "\"2\": " + RunListJson({{0, 12, 1}, {12, kEnd, 0}}, 2, 0, 16) + ",";
  json += "\"5\": {\"kind\": \"link\", \"runs\": [[6, 11, [5, 32]]]}";
  json += "},";
  json +=
      "\"para_runs\": {\"kind\": \"para\", \"runs\": [[0, 42, {\"fixed_hex\": \"00000000\", "
      "\"part_hex\": null}], [42, " +
      end +
      ", {\"fixed_hex\": \"01000000\", \"part_hex\": "
      "null}]]},";
  // Section items: item 1 has a background colour and asks for pagination.
  json +=
      "\"indexes\": {\"2\": {\"items_per_record\": 4, \"items_hex\": "
      "[\"000000000000\", \"000300ffeedd\"]}},";
  // The image's map: a rectangle to position 5, elsewhere a target code.
  json +=
      "\"image_maps\": {\"first\": 1, \"per_record\": 4, \"images\": [[{\"shape\": "
      "\"rect\", \"coords\": [0, 0, 20, 30], \"target\": 5}, {\"shape\": \"default\", "
      "\"target\": 1073741827}]]},";
  json += "\"tables\": {";
  json +=
      "\"0\": {\"widths\": [2], \"items_per_block\": 8, \"items\": [{\"fixed_hex\": \"020e\"}]},";
  json +=
      "\"1\": {\"widths\": [4], \"items_per_block\": 8, \"items\": [{\"fixed_hex\": "
      "\"00ff0000\"}]},";
  json +=
      "\"2\": {\"widths\": [2, 2, 1], \"items_per_block\": 8, \"items\": [{\"fixed_hex\": "
      "\"0001\"}]},";
  json +=
      "\"3\": {\"widths\": [2, 4, 4], \"items_per_block\": 8, \"items\": "
      "[{\"fixed_hex\": \"0304\", \"parts_hex\": [\"00060800\"]}]},";
  json +=
      "\"4\": {\"widths\": [2, 1, 2], \"items_per_block\": 8, \"items\": [{\"fixed_hex\": "
      "\"0005\"}]},";
  json +=
      "\"5\": {\"widths\": [4, 8, 6], \"items_per_block\": 8, \"items\": [{\"fixed_hex\": "
      "\"00000210\"}]},";
  json +=
      "\"6\": {\"widths\": [4, 4, 4, 4], \"items_per_block\": 8, \"items\": "
      "[{\"fixed_hex\": \"01000001\", \"parts_hex\": [\"01010000\"]}]},";
  json +=
      "\"7\": {\"widths\": [4, 4, 4], \"items_per_block\": 8, \"items\": [{\"fixed_hex\": "
      "\"05080101\"}]},";
  json +=
      "\"9\": {\"widths\": [8, 4, 4], \"items_per_block\": 8, \"items\": "
      "[{\"fixed_hex\": \"000000000000281e\"}]}";
  json += "}}";
  return json;
}

const std::vector<std::string>& Documents() {
  static const std::vector<std::string> files = [] {
    std::string error;
    auto out = native_tool::WriteAll({Description(true), Description(false)},
                                     {std::string(kText), std::string(kText)}, &error);
    EXPECT_EQ(out.size(), 2u) << error;
    return out;
  }();
  return files;
}

class NativeHandlerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Documents().size(), 2u);
    ASSERT_EQ(h.Open(Documents()[0]), kOk);
    dev = FakeDevice_Open(400, 300);
    ASSERT_EQ(DeviceOf(dev).beginDraw(dev, &ctx), kOk);
  }
  void TearDown() override {
    (void)DeviceOf(dev).endDraw(dev, ctx);
    FakeDevice_Close(dev);
  }
  const DocHandlerOps& Ops() { return DocOpsOf(h.handler()); }
  StatusCode Layout(std::uint32_t p, std::int16_t width, std::uint32_t* next, LineMetrics* m) {
    return Ops().layoutLine(h.handler(), dev, ctx, p, kEnd, width, next, m);
  }

  NativeHandler h;
  EngineObject* dev = nullptr;
  DeviceContext ctx = nullptr;
};

TEST_F(NativeHandlerTest, ObjectsAreLinesOfTheirOwn) {
  struct Case {
    std::uint32_t start, next;
    std::int16_t width;  // -1: any
    std::int16_t height;
  } cases[] = {
      {12, kImageAt, -1, -1},             // the text stops where the image begins
      {kImageAt, kImageAt + 1, 40, 30},   // the image's own size, baseline at its foot
      {kImageAt + 1, kBulletAt, -1, -1},  // " here\n"
      {kBulletAt, kNoWrapAt, -1, -1},     // the bullet and the text after it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    std::uint32_t next = 0;
    LineMetrics m{};
    ASSERT_EQ(Layout(c.start, 300, &next, &m), kOk);
    EXPECT_EQ(next, c.next);
    if (c.width >= 0) {
      EXPECT_EQ(m.width, c.width);
    }
    if (c.height >= 0) {
      EXPECT_EQ(m.height, c.height);
      EXPECT_EQ(m.ascent, c.height);
    }
  }
  // A bullet (marker 0x8001) is 3/8 of its line's ascent wide with as much
  // again before the text, which is drawn, hit and measured beyond it.
  std::uint32_t next = 0;
  LineMetrics m{}, text{};
  ASSERT_EQ(Layout(kBulletAt, 300, &next, &m), kOk);
  std::uint32_t textNext = 0;
  ASSERT_EQ(
      DocHandler_LayoutLine(h.handler(), dev, ctx, kBulletAt + 1, kEnd, 300, &textNext, &text),
      kOk);
  const int bullet = 2 * (3 * text.ascent / 8);
  EXPECT_EQ(next, textNext);
  EXPECT_EQ(m.width, text.width + bullet);
  FakeDevice& fake = FakeDevice_Of(dev);
  fake.ClearLog();
  ASSERT_EQ(Ops().drawLine(h.handler(), dev, ctx, 0, 0, &m, kBulletAt, next), kOk);
  const auto markers = fake.Calls(26);
  ASSERT_EQ(markers.size(), 1u);
  EXPECT_EQ(markers[0]->args.back(), 0x8001);
  EXPECT_GE(fake.Count(19), 1) << "the text after the bullet";
  std::uint32_t a = 0, b = 0;
  ASSERT_EQ(Ops().hitTest(h.handler(), dev, ctx, 1, 3, &m, kBulletAt, next, nullptr, &a, &b), kOk);
  EXPECT_EQ(a, kBulletAt);
  std::int16_t x1 = -1, x2 = -1;
  ASSERT_EQ(
      Ops().positionToX(h.handler(), dev, ctx, kBulletAt, kBulletAt + 2, kBulletAt + 3, &x1, &x2),
      kOk);
  ASSERT_EQ(
      Ops().hitTest(h.handler(), dev, ctx, static_cast<std::int16_t>(m.indent + (x1 + x2) / 2), 3,
                    &m, kBulletAt, next, nullptr, &a, &b),
      kOk);
  EXPECT_EQ(a, kBulletAt + 2) << "the centre of a character after the bullet hits it";

  // Every point of an object line hits the object.
  ASSERT_EQ(Ops().layoutLine(h.handler(), dev, ctx, kImageAt, kEnd, 300, &next, &m), kOk);
  ASSERT_EQ(
      Ops().hitTest(h.handler(), dev, ctx, 35, 3, &m, kImageAt, kImageAt + 1, nullptr, &a, &b),
      kOk);
  EXPECT_EQ(a, kImageAt);
  EXPECT_EQ(b, kImageAt + 1);
  ASSERT_EQ(Ops().positionToX(h.handler(), dev, ctx, kImageAt, kImageAt, kImageAt + 1, &x1, &x2),
            kOk);
  EXPECT_EQ(x1, 0);
  EXPECT_EQ(x2, 40);
}

TEST_F(NativeHandlerTest, ParagraphSpaceBordersAndPadding) {
  // The same text laid out by the shared layout alone.
  std::uint32_t plainNext = 0;
  LineMetrics plain{};
  ASSERT_EQ(DocHandler_LayoutLine(h.handler(), dev, ctx, 0, kEnd, 300, &plainNext, &plain), kOk);
  std::uint32_t next = 0;
  LineMetrics m{};
  ASSERT_EQ(Layout(0, 300, &next, &m), kOk);
  EXPECT_EQ(next, plainNext);
  // Space above 6 and below 8 lie outside the box; border 2 and padding 5
  // on both sides grow it; the top ones move the baseline down.
  EXPECT_EQ(m.top, 6);
  EXPECT_EQ(m.extra, 8);
  EXPECT_EQ(m.height, plain.height + 14);
  EXPECT_EQ(m.ascent, plain.ascent + 7);
  EXPECT_EQ(m.indent, plain.indent) << "centred once, by the shared layout";
  EXPECT_GT(m.indent, 0);

  // Wrapped into lines: the first takes the top parts, the last the bottom.
  std::vector<LineMetrics> lines;
  for (std::uint32_t p = 0; p < 12 && lines.size() < 20;) {
    ASSERT_EQ(Layout(p, 40, &next, &m), kOk);
    ASSERT_GT(next, p);
    lines.push_back(m);
    p = next;
  }
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.front().top, 6);
  EXPECT_EQ(lines.front().extra, 0);
  EXPECT_EQ(lines.back().top, 0);
  EXPECT_EQ(lines.back().extra, 8);

  // A document without paragraph formats adds nothing.
  NativeHandler bare;
  ASSERT_EQ(bare.Open(Documents()[1]), kOk);
  ASSERT_EQ(DocOpsOf(bare.handler()).layoutLine(bare.handler(), dev, ctx, 0, kEnd, 300, &next, &m),
            kOk);
  EXPECT_EQ(m.top, 0);
  EXPECT_EQ(m.extra, 0);
}

TEST_F(NativeHandlerTest, NoWrapParagraphsUnlessRightAligned) {
  std::uint32_t next = 0;
  LineMetrics m{};
  ASSERT_EQ(Layout(kNoWrapAt, 60, &next, &m), kOk);
  EXPECT_EQ(next, kEnd) << "the paragraph stays on one line";
  EXPECT_GT(m.width, 60);
  ASSERT_EQ(Ops().control(h.handler(), DocControl::SetFlags, DocFlag::RightAlign, nullptr), kOk);
  ASSERT_EQ(Layout(kNoWrapAt, 60, &next, &m), kOk);
  EXPECT_LT(next, kEnd);
}

TEST_F(NativeHandlerTest, CharacterStyles) {
  struct Case {
    std::uint32_t position;
    DeviceFontSpec font;
    std::uint16_t formatFlags;
    std::uint32_t runEnd;
  } cases[] = {
      {0, {2, 12, DeviceFontStyle::TextColour, {}, {}}, DocFormat::AlignCentre, 6},
      {6,
       {1,
        14,
        DeviceFontStyle::Bold | DeviceFontStyle::Underline | DeviceFontStyle::StrikeOut |
            DeviceFontStyle::TextColour,
        {255, 0, 0},
        {}},
       DocFormat::AlignCentre,
       11},
      {20, {2, 12, DeviceFontStyle::TextColour, {}, {}}, DocFormat::AlignLeft, kEnd},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    DeviceFontSpec font{};
    CharFormat format{};
    std::uint32_t runEnd = 0;
    ASSERT_EQ(Ops().getCharStyle(h.handler(), dev, c.position, &font, &format, &runEnd), kOk);
    EXPECT_EQ(font.faceClass, c.font.faceClass);
    EXPECT_EQ(font.size, c.font.size);
    EXPECT_EQ(font.style, c.font.style);
    EXPECT_EQ(font.text.red, c.font.text.red);
    EXPECT_EQ(format.formatFlags, c.formatFlags);
    EXPECT_EQ(runEnd, c.runEnd);
  }
  // The right-align display flag turns alignment 0 into 2.
  ASSERT_EQ(Ops().control(h.handler(), DocControl::SetFlags, DocFlag::RightAlign, nullptr), kOk);
  DeviceFontSpec font{};
  CharFormat format{};
  std::uint32_t runEnd = 0;
  ASSERT_EQ(Ops().getCharStyle(h.handler(), dev, 20, &font, &format, &runEnd), kOk);
  EXPECT_EQ(format.formatFlags & DocFormat::AlignMask, DocFormat::AlignRight);
}

TEST_F(NativeHandlerTest, SectionsAndTheirBackgrounds) {
  std::uint32_t a = 0, b = 0;
  ASSERT_EQ(Ops().getSectionRange(h.handler(), 0, &a, &b), kOk);
  EXPECT_EQ(a, 0u);
  EXPECT_EQ(b, kNoWrapAt);
  ASSERT_EQ(Ops().getSectionRange(h.handler(), 1, &a, &b), kOk);
  EXPECT_EQ(a, kNoWrapAt);
  EXPECT_EQ(b, kEnd);
  EXPECT_EQ(Ops().getSectionRange(h.handler(), 2, &a, &b), kNoMore);
  std::int16_t n = -1;
  ASSERT_EQ(Ops().findSection(h.handler(), 50, &n, &a, &b), kOk);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(Ops().findSection(h.handler(), kEnd, &n, &a, &b), kNoMore);
  std::uint32_t flags = 9;
  ASSERT_EQ(Ops().getSectionFlags(h.handler(), 0, &flags), kOk);
  EXPECT_EQ(flags, kSectionNeedsPagination);
  ASSERT_EQ(Ops().getSectionFlags(h.handler(), 1, &flags), kOk);
  EXPECT_EQ(flags, 0u);
  EXPECT_EQ(Ops().getSectionFlags(h.handler(), 2, &flags), kNoMore);

  // Section 0's lines are filled with its colour, section 1's with the
  // window's; a cell line (flag 0x04) is left to its cell.
  FakeDevice& fake = FakeDevice_Of(dev);
  LineMetrics m{};
  m.height = 10;
  ASSERT_EQ(Ops().drawLineBackground(h.handler(), dev, ctx, 0, 0, &m, 50, 0, 0, 12), kOk);
  EXPECT_EQ(fake.windowSurface.At(5, 5), 0xFFEEDDu);
  ASSERT_EQ(Ops().drawLineBackground(h.handler(), dev, ctx, 0, 20, &m, 50, 0, kNoWrapAt, kEnd),
            kOk);
  EXPECT_NE(fake.windowSurface.At(5, 25), 0xFFEEDDu);
  h.State().flags |= NativeStateFlag::CellDraw;
  fake.ClearLog();
  ASSERT_EQ(Ops().drawLineBackground(h.handler(), dev, ctx, 0, 40, &m, 50, 0, 0, 12), kOk);
  EXPECT_EQ(fake.Count(10), 0);
}

TEST_F(NativeHandlerTest, ControlsLinksAndBookmarks) {
  const DocHandlerOps& ops = Ops();
  EngineObject* handler = h.handler();
  EXPECT_EQ(ops.control(handler, DocControl::IsLinkAt, 7, nullptr), kYes);
  EXPECT_EQ(ops.control(handler, DocControl::IsLinkAt, 2, nullptr), kNo);
  std::uint32_t a = 0, b = 0, target = 0;
  ASSERT_EQ(ops.getLinkAt(handler, 7, &a, &b, &target), kOk);
  EXPECT_EQ(a, 6u);
  EXPECT_EQ(b, 11u);
  EXPECT_EQ(target, 32u);

  // The link walk through the controls.
  LinkRange range{0, kEnd, 0, 0};
  ASSERT_EQ(ops.control(handler, DocControl::LinkWalkFirst, 0, &range), kOk);
  EXPECT_EQ(range.linkStart, 6u);
  EXPECT_EQ(ops.control(handler, DocControl::LinkWalkFirst + 3, 0, &range), kNoMore);
  EXPECT_EQ(ops.control(handler, DocControl::LinkWalkLast, 0, nullptr), kOk);

  // Header controls of a document without a start section.
  std::uint8_t record[16] = {};
  EXPECT_EQ(ops.control(handler, DocControl::StartSection, 0, record), kNotSupported);
  EXPECT_EQ(ops.control(handler, DocControl::StartPosition, 0, record), kNo);
  EXPECT_EQ(ops.control(handler, 99, 0, record), kNotSupported);

  // The layout pass has nothing to do once it is complete.
  std::uint32_t word = 0;
  EXPECT_EQ(ops.layoutPassStep(handler, dev, ctx, 0, 0, &word), kOk);
  EXPECT_EQ(ops.layoutPassStep(handler, dev, ctx, 2, 0, &word), kOk);
  EXPECT_EQ(ops.layoutPassStep(handler, dev, ctx, 3, 0, &word), kNotSupported);

  // Image maps: the point's area gives the target and its class; a point
  // on something that is not an image finds nothing.
  NativeImageMapQuery q{kImageAt, 0, 5, 5, kOk};
  ASSERT_EQ(ops.control(handler, DocControl::ImageMapHit, 0, &q), kDocImageMapHit);
  EXPECT_EQ(q.target, 5u);
  EXPECT_EQ(q.linkClass, kOk);
  q = NativeImageMapQuery{kImageAt, 0, 30, 5, kOk};
  ASSERT_EQ(ops.control(handler, DocControl::ImageMapHit, 0, &q), kDocImageMapHit);
  EXPECT_EQ(q.target, 0x40000003u);
  EXPECT_EQ(q.linkClass, kDocLinkHostCode);
  q = NativeImageMapQuery{kBulletAt, 0, 5, 5, kOk};
  EXPECT_EQ(ops.control(handler, DocControl::ImageMapHit, 0, &q), kFailed);

  // Position lists 0 and 1 only; an entry survives closing and reopening.
  std::uint16_t count = 9;
  EXPECT_EQ(ops.bookmarkOp(handler, DocBookmark::Count | 2, 0, &count), kNotSupported);
  const std::uint32_t value = 42;
  DocBookmarkInsert insert{"Chapter one", &value};
  ASSERT_EQ(ops.bookmarkOp(handler, DocBookmark::Insert | 1, 0, &insert), kOk);
  ASSERT_EQ(ops.command(handler, DocCommand::Close, nullptr, 0), kOk);
  ASSERT_EQ(ops.command(handler, DocCommand::OpenDatabase, h.Db().db(), 0), kOk);
  ASSERT_EQ(ops.bookmarkOp(handler, DocBookmark::Count | 1, 0, &count), kOk);
  EXPECT_EQ(count, 1);
  std::uint32_t got = 0;
  ASSERT_EQ(ops.bookmarkOp(handler, DocBookmark::GetValue | 1, 0, &got), kOk);
  EXPECT_EQ(got, 42u);
}

// Control 33 on an image whose item has a map scale s: the image is shown at
// s / 256 of the size its map is drawn for, so the point is taken by 256 / s
// before the map is hit (after halving for double-size images). Areas given
// in percent of the image are hit at the same place whatever the scale.
TEST(NativeHandlerMaps, ScaledImagesAreHitWhereTheirMapIsDrawn) {
  // A 40 x 30 image object at 0; its map: a rectangle [0, 20) x [0, 30) to
  // 5, a rectangle of 50 to 75 percent of the width to 6, elsewhere 7.
  auto describe = [](int scale) {
    char part2[9];
    std::snprintf(part2, sizeof part2, "0000%02x00", scale);
    return std::string("{\"run_lists\": {\"4\": ") +
           RunListJson({{0, 1, 0x10001}, {1, 2, 0}}, 2, 3, 16) +
           "}, \"tables\": {\"9\": {\"widths\": [8, 4, 4], \"items_per_block\": 8, "
           "\"items\": [{\"fixed_hex\": \"000000000000281e\", \"parts_hex\": [\"00000000\", \"" +
           part2 +
           "\"]}]}}, \"image_maps\": {\"first\": 1, \"per_record\": 4, \"images\": [[{\"shape\": "
           "\"rect\", \"coords\": [0, 0, 20, 30], \"target\": 5}, {\"shape\": \"rect\", "
           "\"coords\": [50, 0, 75, 100], \"percent\": [0, 1, 2, 3], \"target\": 6}, "
           "{\"shape\": \"default\", \"target\": 7}]]}}";
  };
  const int scales[] = {0, 128, 64};
  std::vector<std::string> descriptions;
  for (const int s : scales)
    descriptions.push_back(describe(s));
  std::string error;
  const std::vector<std::string> files =
      native_tool::WriteAll(descriptions, std::vector<std::string>(3, "X\n"), &error);
  ASSERT_EQ(files.size(), 3u) << error;
  struct Case {
    int scale;
    std::uint32_t flags;
    std::int16_t x, y;
    std::uint32_t target;
  };
  const Case cases[] = {
      {0, 0, 10, 5, 5},
      {0, 0, 25, 5, 6},
      {0, 0, 35, 5, 7},
      {128, 0, 5, 5, 5},
      {128, 0, 10, 5, 7},  // 20: past the rectangle
      {128, 0, 25, 5, 6},
      {64, 0, 4, 5, 5},
      {64, 0, 6, 5, 7},
      {64, 0, 25, 29, 6},
      {128, DocFlag::DoubleImages, 10, 10, 5},
      {128, DocFlag::DoubleImages, 20, 10, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "scale " << c.scale << " flags " << c.flags << " at " << c.x << "," << c.y);
    const auto k = static_cast<std::size_t>(
        std::find(std::begin(scales), std::end(scales), c.scale) - std::begin(scales));
    NativeHandler h;
    ASSERT_EQ(h.Open(files[k]), kOk);
    const DocHandlerOps& ops = DocOpsOf(h.handler());
    ASSERT_EQ(ops.control(h.handler(), DocControl::SetFlags, c.flags, nullptr), kOk);
    NativeImageMapQuery q{0, 0, c.x, c.y, kOk};
    ASSERT_EQ(ops.control(h.handler(), DocControl::ImageMapHit, 0, &q), kDocImageMapHit);
    EXPECT_EQ(q.target, c.target);
  }
}

// The table pass through the handler's own slot 26 sizes the tables the
// same whether the view has turned table layout on or not: the cells' text
// is never taken for row lines while the pass lays it out. Starting the
// pass turns table layout off (the row lines' sizes are being made again);
// the view turns it on when it has paginated.
TEST(NativeHandlerTables, LayoutPassSizesDoNotDependOnTheTableLayoutFlag) {
  using namespace native_table_fixture;
  const std::string file = RichDocument();
  std::vector<TableSizes> sizes[2];
  for (int on = 0; on < 2; ++on) {
    TablePass t(file, 300, true);
    EngineObject* h = t.View();
    const DocHandlerOps& ops = DocOpsOf(h);
    ASSERT_EQ(ops.control(h, DocControl::SetInSlice, 0, nullptr), kOk);
    std::uint32_t word = 0;
    StatusCode r = ops.layoutPassStep(h, t.Device(), t.Ctx(), 0, 0, &word);
    ASSERT_EQ(r, kDocTablePassPending);
    EXPECT_EQ(t.State().flags & NativeStateFlag::TableLayout, 0) << "the start turns it off";
    if (on) {
      ASSERT_EQ(ops.control(h, DocControl::SetInSlice, 0, nullptr), kOk);
    }
    for (int k = 0; k < 10000 && r == kDocTablePassPending; ++k)
      r = ops.layoutPassStep(h, t.Device(), t.Ctx(), 2, 0, &word);
    ASSERT_EQ(r, kOk);
    EXPECT_EQ(ops.layoutPassStep(h, t.Device(), t.Ctx(), 2, 0, &word), kOk) << "done: no work";
    EXPECT_EQ((t.State().flags & NativeStateFlag::TableLayout) != 0, on == 1);
    sizes[on] = AllSizes(t, 3);
  }
  EXPECT_EQ(sizes[0], sizes[1]);
  EXPECT_GT(sizes[0][0].height, 20u);
}

// A select list is measured and drawn in the style of its own position as
// GetCharStyle answers it: the font, size and colours of its character
// format. The paragraph's format gives it no font (paragraph formats and
// attributes hold alignment, flags, space and table data only); it places
// the list on its line.
TEST(NativeHandlerSelectLists, MeasuredAndDrawnInTheStyleOfTheirPosition) {
  // "A\n", the list (key 0, framed, option 2 chosen) at 2, "\ntail\n".
  const std::string text = "A\nS\ntail\n";
  constexpr std::uint32_t kListAt = 2;
  const auto end = static_cast<std::uint32_t>(text.size());
  auto be32 = [](std::uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 8), static_cast<char>(v)};
  };
  const std::string names("\0Red\0Yellow bananas\0Green\0", 26);
  const std::string options =
      be32(3) + be32(static_cast<std::uint32_t>(names.size())) + names + be32(0);
  const std::string extra = be32(16 + static_cast<std::uint32_t>(options.size())) + be32(1) +
                            be32(16) + be32(0) + options;
  // The list's character format: font item 1 (size 24) and colour pair 1
  // (red text); its paragraph's format: centred, the rest of the text
  // left-aligned with the default character format.
  auto describe = [&](bool large, bool centred, bool flat) {
    std::string json =
        "{\"run_lists\": {\"4\": " +
        RunListJson({{0, kListAt, 0}, {kListAt, kListAt + 1, 0x20000}, {kListAt + 1, end, 0}}, 2, 3,
                    16) +
        ", \"3\": " +
        RunListJson(
            {{0, kListAt, 0}, {kListAt, kListAt + 1, large ? 1u : 0u}, {kListAt + 1, end, 0}}, 2, 0,
            16) +
        ", \"2\": " +
        RunListJson(
            {{0, kListAt, 0}, {kListAt, kListAt + 2, centred ? 1u : 0u}, {kListAt + 2, end, 0}}, 2,
            0, 16) +
        "}, ";
    json += "\"extra_hex\": \"" + Hex(extra) + "\", \"tables\": {";
    json +=
        "\"0\": {\"widths\": [2], \"items_per_block\": 8, \"items\": [{\"fixed_hex\": \"0218\"}]},";
    json +=
        "\"1\": {\"widths\": [4], \"items_per_block\": 8, \"items\": [{\"fixed_hex\": "
        "\"00c00000\"}]},";
    json +=
        "\"2\": {\"widths\": [2, 2, 1], \"items_per_block\": 8, \"items\": [{\"fixed_hex\": "
        "\"0001\"}]},";
    json +=
        "\"6\": {\"widths\": [4, 4, 4, 4], \"items_per_block\": 8, \"items\": [{\"fixed_hex\": "
        "\"01000000\"}]},";
    json +=
        "\"7\": {\"widths\": [4, 4, 4], \"items_per_block\": 8, \"items\": [{\"fixed_hex\": "
        "\"00000101\"}]},";
    json +=
        "\"12\": {\"widths\": [4, 2, 4], \"items_per_block\": 8, \"items\": [{\"fixed_hex\": \"" +
        std::string(flat ? "08" : "00") + "020000\"}]}";
    return json + "}}";
  };
  struct Case {
    bool large, centred, flat;
  };
  const Case cases[] = {{false, false, false}, {true, false, false}, {false, true, false},
                        {true, true, false},   {false, false, true}, {true, true, true}};
  constexpr std::size_t kCases = std::size(cases);
  std::vector<std::string> descriptions;
  for (const Case& c : cases)
    descriptions.push_back(describe(c.large, c.centred, c.flat));
  std::string error;
  const std::vector<std::string> files =
      native_tool::WriteAll(descriptions, std::vector<std::string>(kCases, text), &error);
  ASSERT_EQ(files.size(), kCases) << error;
  constexpr std::int16_t kWidth = 300;
  for (std::size_t k = 0; k < kCases; ++k) {
    const Case& c = cases[k];
    SCOPED_TRACE(testing::Message()
                 << "large " << c.large << " centred " << c.centred << " flat " << c.flat);
    NativeHandler h;
    ASSERT_EQ(h.Open(files[k]), kOk);
    EngineObject* dev = FakeDevice_Open(kWidth, 200);
    DeviceContext ctx = nullptr;
    ASSERT_EQ(DeviceOf(dev).beginDraw(dev, &ctx), kOk);
    const DocHandlerOps& ops = DocOpsOf(h.handler());

    // What the device's control measures for the list in the font of the
    // character format (size 24) or the default one.
    const std::int16_t size = c.large ? 24 : 12;
    const char* items[] = {"", "Red", "Yellow bananas", "Green"};
    SelectCtl ctl{};
    ctl.flags = c.flat ? SelectCtlFlag::Flat : 0;
    ctl.itemCount = 3;
    ctl.items = items;
    const DeviceFontSpec font{DeviceFace::Default, size, 0, {}, {}};
    SelectCtlMeasure want{ctx, &font, 0, 0, 0};
    ASSERT_EQ(SelectCtl_Command(dev, SelectCtlCode::Measure, &ctl, &want), kOk);

    std::uint32_t next = 0;
    LineMetrics m{};
    ASSERT_EQ(ops.layoutLine(h.handler(), dev, ctx, kListAt, end, kWidth, &next, &m), kOk);
    EXPECT_EQ(next, kListAt + 1);
    EXPECT_EQ(m.width, want.width);
    EXPECT_EQ(m.height, want.height);
    EXPECT_EQ(m.ascent, want.baseline);
    EXPECT_EQ(m.indent, c.centred ? (kWidth - want.width) / 2 : 0);

    FakeDevice& fake = FakeDevice_Of(dev);
    fake.ClearLog();
    ASSERT_EQ(ops.drawLine(h.handler(), dev, ctx, 0, 0, &m, kListAt, next), kOk);
    const FakeCall* drawn = nullptr;
    for (const FakeCall* call : fake.Calls(19))
      if (call->text == "Yellow bananas") drawn = call;
    ASSERT_NE(drawn, nullptr) << "the chosen option is drawn";
    EXPECT_GE(drawn->args[1], m.indent);
    EXPECT_LT(drawn->args[1], m.indent + want.width);
    const auto fonts = fake.Calls(13);
    ASSERT_FALSE(fonts.empty());
    EXPECT_EQ(fonts.back()->args[1], size) << "the option text is in the list's font";
    // A flat list keeps the text colour of its format (red for the large
    // one); a framed one draws black on white.
    int red = 0;
    for (int y = 0; y < m.height; ++y)
      for (int x = m.indent; x < m.indent + m.width; ++x)
        red += fake.Pixel(x, y) == 0xC00000u;
    EXPECT_EQ(red > 0, c.flat && c.large) << red << " red pixels";
    (void)DeviceOf(dev).endDraw(dev, ctx);
    FakeDevice_Close(dev);
  }
}

}  // namespace
