// Native documents shown through the text view on the recording device.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "engine/formats/native_doc.h"
#include "engine/view/text_view_internal.h"
#include "tests/formats/native_fixture.h"
#include "tests/formats/native_table_fixture.h"
#include "tests/support/fake_device.h"

namespace {

using native_fixture::NativeHandler;

// A native document shown by a text view on the recording device.
class NativeView {
 public:
  NativeView(const std::string& file, std::int16_t width, std::int16_t height)
      : width_(width), height_(height) {
    EXPECT_FALSE(file.empty());
    EXPECT_EQ(doc_.Open(file), kOk);
    device_ = FakeDevice_Open(width, height);
    EXPECT_EQ(Ops().create(&TextViewModule, &view_), kOk);
    EXPECT_EQ(Ops().setDevice(view_, device_), kOk);
  }
  ~NativeView() {
    EXPECT_EQ(Ops().attachDocument(view_, nullptr, nullptr), kOk);
    EXPECT_EQ(Ops().destroy(view_), kOk);
    FakeDevice_Close(device_);
  }
  NativeView(const NativeView&) = delete;
  NativeView& operator=(const NativeView&) = delete;

  static const TextViewOps& Ops() { return OpsOf<TextViewOps>(&TextViewModule); }
  EngineObject* Handler() { return doc_.handler(); }
  NativeDocState& State() { return doc_.State(); }
  EngineObject* View() { return view_; }
  TextView& V() { return TextViewOf(view_); }
  FakeDevice& Fake() { return FakeDevice_Of(device_); }

  void Attach() {
    EXPECT_EQ(Ops().attachDocument(view_, Handler(), nullptr), kOk);
    EXPECT_EQ(Ops().setViewport(view_, 0, width_, height_), kOk);
  }
  StatusCode Paint() { return Ops().paint(view_, nullptr, 0, 0, width_, height_); }
  // The host's background slices until the section is paginated.
  void Paginate() {
    StatusCode s = kViewMorePagination;
    for (int guard = 0; guard < 10000 && s == kViewMorePagination; ++guard)
      s = Ops().navigate(view_, TextViewNav::PaginationSlice, 0);
    EXPECT_EQ(s, kOk);
    EXPECT_NE(V().flags & TextViewFlag::Paginated, 0);
  }
  // The top of each laid-out line's slot in the window.
  std::map<std::uint16_t, std::int32_t> LineTops() {
    std::map<std::uint16_t, std::int32_t> tops;
    for (std::int32_t y = 0; y < height_; ++y) {
      std::int32_t top = 0;
      const std::uint16_t k = TextView_FindLineAtY(V(), y, &top);
      if (k < V().table.count) tops.emplace(k, top);
    }
    return tops;
  }
  // The unit the view's hit test finds under a point (select press).
  std::pair<std::uint32_t, std::uint32_t> HitAt(std::int16_t x, std::int16_t y) {
    EXPECT_EQ(Ops().pointerEvent(view_, TextViewPointer::SelectPress, x, y), kOk);
    return {V().selAnchor, V().selCaret};
  }
  std::string Text() {
    std::uint32_t length = 0;
    EXPECT_EQ(DocOpsOf(Handler()).getTextLength(Handler(), &length), kOk);
    std::string out(length, '\0');
    std::uint32_t copied = 0;
    EXPECT_EQ(
        DocOpsOf(Handler()).readRange(Handler(), 0, length,
                                      reinterpret_cast<std::uint8_t*>(out.data()), length, &copied),
        kOk);
    out.resize(copied);
    return out;
  }

 private:
  NativeHandler doc_;
  std::int16_t width_, height_;
  EngineObject* device_ = nullptr;
  EngineObject* view_ = nullptr;
};

class TextViewNative : public ::testing::Test {
 protected:
  void SetUp() override { KELPO_REQUIRE_PEER("python3"); }
};

TEST_F(TextViewNative, AnEmptyDocumentIsPaintedAndNavigated) {
  // Text length 0 and one empty section run, as a writer may write it.
  const std::string file = native_tool::Write(
      "{\"section_count\": 1, \"run_lists\": {\"1\": {\"runs\": [[0, 0, 0]]}}}", "");
  ASSERT_FALSE(file.empty());
  NativeHandler doc;
  ASSERT_EQ(doc.Open(file), kOk);
  const DocHandlerOps& ops = DocOpsOf(doc.handler());
  std::uint32_t start = 1, end = 1, flags = 7;
  ASSERT_EQ(ops.getSectionRange(doc.handler(), 0, &start, &end), kOk);
  EXPECT_EQ(start, 0u);
  EXPECT_EQ(end, 0u);
  EXPECT_EQ(ops.getSectionFlags(doc.handler(), 0, &flags), kOk);
  EXPECT_EQ(ops.getSectionRange(doc.handler(), 1, &start, &end), kNoMore);

  EngineObject* device = FakeDevice_Open(200, 150);
  const TextViewOps& view = OpsOf<TextViewOps>(&TextViewModule);
  EngineObject* v = nullptr;
  ASSERT_EQ(view.create(&TextViewModule, &v), kOk);
  EXPECT_EQ(view.setDevice(v, device), kOk);
  EXPECT_EQ(view.attachDocument(v, doc.handler(), nullptr), kOk);
  EXPECT_EQ(view.setViewport(v, 0, 200, 150), kOk);
  EXPECT_EQ(view.paint(v, nullptr, 0, 0, 200, 150), kOk);
  EXPECT_EQ(TextViewOf(v).table.count, 0);
  // The background is painted: nothing of the fresh surface is left.
  const FakeDevice& fake = FakeDevice_Of(device);
  EXPECT_EQ(fake.Pixel(10, 10), fake.Pixel(190, 140));

  for (const std::uint16_t code :
       {TextViewNav::LineDown, TextViewNav::LineUp, TextViewNav::ScreenDown, TextViewNav::ScreenUp,
        std::uint16_t{TextViewNav::ScreenUpFull + 1}, TextViewNav::ScreenUpFull,
        TextViewNav::DocumentEnd, TextViewNav::DocumentStart, TextViewNav::SectionEnd,
        TextViewNav::SectionStart, TextViewNav::NextSection, TextViewNav::PreviousSection,
        TextViewNav::PaginationSlice, TextViewNav::Percent}) {
    SCOPED_TRACE(code);
    EXPECT_FALSE(IsFailure(view.navigate(v, code, 0)));
    EXPECT_EQ(view.paint(v, nullptr, 0, 0, 200, 150), kOk);
  }
  EXPECT_EQ(view.attachDocument(v, nullptr, nullptr), kOk);
  EXPECT_EQ(view.destroy(v), kOk);
  FakeDevice_Close(device);
}

// A table through the view with the real layout. The screen painted before
// the section is paginated shows the table as ordinary lines; once the view
// has run the table pass and paginated, the screen is laid out again with
// one row line a row, and a point between two cells (on the spacing and
// rules between their boxes) or at a cell's edge selects the cell the table
// store names. A new width starts the pass again: until the view has
// paginated anew the table is shown as ordinary lines, never as row lines
// whose sizes the emptied store no longer has.
TEST_F(TextViewNative, APointBetweenTableCellsHitsTheCellTheStoreNames) {
  using namespace native_table_fixture;
  NativeView nv(Write("[\"lead\\n\", " + RuledTable() + ", \"tail\\n\"]"), 300, 200);
  nv.Attach();
  ASSERT_EQ(nv.Paint(), kOk);
  nv.Paginate();
  EXPECT_NE(nv.State().flags & NativeStateFlag::TableLayout, 0) << "on for the paginated section";
  ASSERT_EQ(nv.Paint(), kOk);

  const std::string text = nv.Text();
  const TableSizes sizes = StoreSizes(*nv.Fake().services.tables, 1);
  ASSERT_EQ(sizes.edges.size(), 3u);
  const TextView& v = nv.V();
  const std::map<std::uint16_t, std::int32_t> tops = nv.LineTops();
  struct Case {
    int x;  // from the table's left edge
    char column;
  };
  const Case cases[] = {
      {sizes.edges[0] - 1, 'a'}, {sizes.edges[0], 'b'}, {sizes.edges[0] + 1, 'b'},
      {sizes.edges[1] - 1, 'b'}, {sizes.edges[1], 'c'}, {sizes.edges[2] - 1, 'c'},
  };
  int rows = 0;
  for (std::uint16_t k = 0; k < v.table.count && rows < 2; ++k) {
    const LineRecord& line = v.table.lines[k];
    const std::string name = "a" + std::to_string(rows);
    const std::size_t cell = text.find(name);
    ASSERT_NE(cell, std::string::npos);
    // A row line starts before its first cell's text and ends after it.
    if (line.start > cell || v.table.lines[k + 1].start <= cell) continue;
    ASSERT_GT(v.table.lines[k + 1].start, text.find("c" + std::to_string(rows)))
        << "one line holds the whole row";
    ASSERT_EQ(tops.count(k), 1u);
    const int y = tops.at(k) + line.metrics.top + line.metrics.height / 2;
    for (const Case& c : cases) {
      const std::string want = std::string(1, c.column) + std::to_string(rows);
      SCOPED_TRACE(want + " at x " + std::to_string(c.x) + " on line " + std::to_string(k));
      const auto at = static_cast<std::uint32_t>(text.find(want));
      const auto [a, b] = nv.HitAt(static_cast<std::int16_t>(line.metrics.indent + c.x),
                                   static_cast<std::int16_t>(y));
      EXPECT_GE(a, at);
      EXPECT_LE(b, at + 3) << "selected " << a << ".." << b;
    }
    ++rows;
  }
  EXPECT_EQ(rows, 2);

  // A narrower window: the view starts the pass again and lays the table
  // out as text meanwhile.
  ASSERT_EQ(NativeView::Ops().setViewport(nv.View(), 0, 250, 200), kOk);
  EXPECT_EQ(nv.State().flags & (NativeStateFlag::TableLayout | NativeStateFlag::TablePassDone), 0);
  ASSERT_EQ(nv.Paint(), kOk);
  nv.Paginate();
  ASSERT_EQ(nv.Paint(), kOk);
  EXPECT_EQ(nv.V().table.lines[1].start, nv.Text().find("a0") - 1) << "row 0 follows the lead";
  EXPECT_EQ(StoreSizes(*nv.Fake().services.tables, 1).edges, sizes.edges);
}

// An image map on a scaled image through the view: a press and a release on
// the image follow the link whose areas the map names, taken at the scale
// the image item gives (and halved again for double-size images), and the
// view goes to the area's target.
TEST_F(TextViewNative, AScaledImageMapIsFollowedWhereItIsDrawn) {
  using native_fixture::RunListJson;
  // Lines "l0" .. "l39" after the image line; the areas go to l10, l20
  // and l30, more than a screen apart.
  std::string text = "X\n";
  std::vector<std::uint32_t> lineAt;
  for (int i = 0; i < 40; ++i) {
    lineAt.push_back(static_cast<std::uint32_t>(text.size()));
    text += "l" + std::to_string(i) + "\n";
  }
  const std::uint32_t end = static_cast<std::uint32_t>(text.size());
  // A 40 x 30 image object at 0 with an image-map link over it; its map: a
  // rectangle [0, 20) x [0, 30), 50 to 75 percent of the width, elsewhere
  // the default.
  auto describe = [&](int scale) {
    char part2[9];
    std::snprintf(part2, sizeof part2, "0000%02x00", scale);
    return std::string("{\"run_lists\": {\"4\": ") +
           RunListJson({{0, 1, 0x10001}, {1, end, 0}}, 2, 3, 16) +
           ", \"5\": {\"kind\": \"link\", \"runs\": [[0, 1, [1, " + std::to_string(0x7FF10000u) +
           "]]]}}, \"tables\": {\"9\": {\"widths\": [8, 4, 4], \"items_per_block\": 8, "
           "\"items\": [{\"fixed_hex\": \"000300000000281e\", \"parts_hex\": [\"00000000\", \"" +
           part2 +
           "\"]}]}}, \"image_maps\": {\"first\": 1, \"per_record\": 4, \"images\": [[{\"shape\": "
           "\"rect\", \"coords\": [0, 0, 20, 30], \"target\": " +
           std::to_string(lineAt[10]) +
           "}, {\"shape\": \"rect\", \"coords\": [50, 0, 75, 100], \"percent\": [0, 1, 2, 3], "
           "\"target\": " +
           std::to_string(lineAt[20]) +
           "}, {\"shape\": \"default\", \"target\": " + std::to_string(lineAt[30]) + "}]]}}";
  };
  const int scales[] = {0, 128, 64};
  std::vector<std::string> descriptions;
  for (const int sc : scales)
    descriptions.push_back(describe(sc));
  std::string error;
  const std::vector<std::string> files =
      native_tool::WriteAll(descriptions, std::vector<std::string>(3, text), &error);
  ASSERT_EQ(files.size(), 3u) << error;
  struct Case {
    int scale;
    std::uint32_t flags;
    std::int16_t x, y;  // on the image
    int line;           // where the view goes
  };
  const Case cases[] = {
      {0, 0, 10, 5, 10},
      {0, 0, 25, 5, 20},
      {0, 0, 35, 5, 30},
      {128, 0, 5, 5, 10},
      {128, 0, 10, 5, 30},  // 20 on the map: past the rectangle
      {128, 0, 25, 5, 20},
      {64, 0, 4, 5, 10},
      {64, 0, 6, 5, 30},
      {64, 0, 25, 29, 20},
      {128, DocFlag::DoubleImages, 10, 10, 10},
      {128, DocFlag::DoubleImages, 20, 10, 30},
      {128, DocFlag::DoubleImages, 50, 10, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "scale " << c.scale << " flags " << c.flags << " at " << c.x << "," << c.y);
    const auto k = static_cast<std::size_t>(
        std::find(std::begin(scales), std::end(scales), c.scale) - std::begin(scales));
    NativeView nv(files[k], 200, 100);
    ASSERT_EQ(DocOpsOf(nv.Handler()).control(nv.Handler(), DocControl::SetFlags, c.flags, nullptr),
              kOk);
    nv.Attach();
    ASSERT_EQ(nv.Paint(), kOk);
    const TextView& v = nv.V();
    ASSERT_GT(v.table.count, 0);
    const LineMetrics& image = v.table.lines[0].metrics;
    const int scale = c.flags & DocFlag::DoubleImages ? 2 : 1;
    ASSERT_EQ(image.width, 40 * scale);
    ASSERT_EQ(image.height, 30 * scale);
    const std::map<std::uint16_t, std::int32_t> tops = nv.LineTops();
    const auto x = static_cast<std::int16_t>(image.indent + c.x);
    const auto y = static_cast<std::int16_t>(tops.at(0) + image.top + c.y);
    ASSERT_EQ(NativeView::Ops().pointerEvent(nv.View(), TextViewPointer::Press, x, y),
              kViewLinkPressed);
    ASSERT_EQ(NativeView::Ops().pointerEvent(nv.View(), TextViewPointer::Release, x, y), kOk);
    // The screen shows the area's line and none of the other areas' lines.
    for (const int line : {10, 20, 30}) {
      const std::uint32_t at = lineAt[static_cast<std::size_t>(line)];
      EXPECT_EQ(at >= TextView_FirstOffset(v) && at < TextView_EndOffset(v), line == c.line)
          << "line " << line << " in " << TextView_FirstOffset(v) << ".." << TextView_EndOffset(v);
    }
  }
}

}  // namespace
