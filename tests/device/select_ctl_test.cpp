// The drop-down list control through the recording fake device (slot 37):
// measuring, the closed control, the open list's placement, pointer and key
// tracking with scrolling, commit and cancel, the pixels put back on every
// close, and the answers of every command.
#include "engine/device/select_ctl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "tests/support/fake_device.h"

namespace {

constexpr std::uint32_t kPaleYellow = 0xFFFFCC;
constexpr std::uint32_t kPaleYellowInverted = 0x000033;
constexpr std::int16_t kMargin = 4;

// A record and the item texts it points to (entry 0 is not an item).
struct List {
  explicit List(std::vector<const char*> texts, std::uint16_t flags = SelectCtlFlag::Flat) {
    items = std::move(texts);
    items.insert(items.begin(), "");
    ctl.flags = flags;
    ctl.itemCount = static_cast<std::uint16_t>(items.size() - 1);
    ctl.items = items.data();
    ctl.font = DeviceFontSpec{DeviceFace::Default, 10, 0, {}, {}};
  }
  std::vector<const char*> items;
  SelectCtl ctl{};
};

class SelectCtlTest : public testing::Test {
 protected:
  void SetUp() override { OpenDevice(200, 120); }
  void TearDown() override { FakeDevice_Close(dev); }
  void OpenDevice(std::int16_t width, std::int16_t height) {
    FakeDevice_Close(dev);
    dev = FakeDevice_Open(width, height, kMargin);
    ASSERT_NE(dev, nullptr);
  }
  FakeDevice& fake() { return FakeDevice_Of(dev); }
  StatusCode Run(SelectCtl& c, std::uint16_t code, void* out = nullptr) {
    return DeviceOf(dev).selectCtlCommand(dev, code, &c, out);
  }
  StatusCode Point(SelectCtl& c, std::uint16_t code, int x, int y) {
    DevicePoint p{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)};
    return Run(c, code, &p);
  }
  // Draws the closed control on the line at top 20, ascent 10 (baseline 30).
  SelectCtlPlace Place(SelectCtl& c, std::int16_t x = 10) {
    SelectCtlPlace place{nullptr, nullptr, x, 20, 14, 10, 0, 0};
    EXPECT_EQ(Run(c, SelectCtlCode::DrawClosed, &place), kOk);
    return place;
  }
  // Logical pixel of the window surface.
  std::uint32_t Px(int x, int y) const { return FakeDevice_Of(dev).Pixel(x + kMargin, y); }
  std::vector<std::uint32_t> Pixels() const { return FakeDevice_Of(dev).windowSurface.rgb; }
  // Whether the row of the open list shows the highlight (flat colours).
  bool RowHighlighted(const SelectCtl& c, int row) const {
    const int y = c.list.y + 1 + row * (c.list.rowHeight + 1) + 1;
    return Px(c.list.x + 1, y) == kPaleYellowInverted;
  }
  std::vector<std::string> Drawn() const {
    std::vector<std::string> texts;
    for (const FakeCall* call : FakeDevice_Of(dev).Calls(19))
      texts.push_back(call->text);
    return texts;
  }

  EngineObject* dev = nullptr;
};

// --- measuring ----------------------------------------------------------------

struct MeasureCase {
  const char* name;
  std::uint16_t flags;
  std::int16_t requested;
  bool noItems;
  int width, height, baseline;
};

TEST_F(SelectCtlTest, MeasuresFlatAndFramedControls) {
  // Line height 10, ascent 8, "abcd" 20 pixels wide, usable width 192.
  const MeasureCase cases[] = {
      {"flat widest item", SelectCtlFlag::Flat, 0, false, 36, 12, 9},
      {"framed widest item", 0, 0, false, 42, 16, 11},
      {"flat requested", SelectCtlFlag::Flat, 50, false, 50, 12, 9},
      {"framed requested below minimum", 0, 5, false, 22, 16, 11},
      {"flat no items", SelectCtlFlag::Flat, 0, true, 16, 12, 9},
      {"framed no items", 0, 0, true, 22, 16, 11},
      {"half the usable width", SelectCtlFlag::Flat | SelectCtlFlag::PercentWidth, 50, false, 96,
       12, 9},
      {"1000 is the usable width", SelectCtlFlag::PercentWidth, 1000, false, 192, 16, 11},
      {"500 percent stays in the view", SelectCtlFlag::PercentWidth, 500, false, 192, 16, 11},
      {"small percentage keeps the minimum", SelectCtlFlag::PercentWidth, 1, false, 22, 16, 11},
      {"negative request keeps the minimum", SelectCtlFlag::Flat, -40, false, 16, 12, 9},
  };
  for (const MeasureCase& k : cases) {
    List list({"ab", "abcd", "", nullptr, "xyz"}, k.flags);
    list.ctl.requestedWidth = k.requested;
    if (k.noItems) list.ctl.items = nullptr;
    SelectCtlMeasure m{nullptr, nullptr, 0, 0, 0};
    ASSERT_EQ(Run(list.ctl, SelectCtlCode::Measure, &m), kOk) << k.name;
    EXPECT_EQ(m.width, k.width) << k.name;
    EXPECT_EQ(m.height, k.height) << k.name;
    EXPECT_EQ(m.baseline, k.baseline) << k.name;
  }
}

TEST_F(SelectCtlTest, MeasuringUsesTheGivenFontAndContextOrItsOwnDrawing) {
  List list({"ab", "abcd"});
  const DeviceFontSpec big{DeviceFace::Default, 20, 0, {}, {}};
  SelectCtlMeasure m{nullptr, &big, 0, 0, 0};
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Measure, &m), kOk);
  // Line height 20, ascent 16, "abcd" 40 pixels.
  EXPECT_EQ(m.width, 40 + 26);
  EXPECT_EQ(m.height, 22);
  EXPECT_EQ(m.baseline, 17);
  EXPECT_EQ(list.ctl.font.size, 20);
  EXPECT_EQ(fake().Count(5), 1);
  EXPECT_EQ(fake().Count(6), 1);
  EXPECT_EQ(fake().depth, 0);

  // Inside the caller's drawing nothing is begun again.
  DeviceContext ctx = nullptr;
  ASSERT_EQ(DeviceOf(dev).beginDraw(dev, &ctx), kOk);
  fake().ClearLog();
  m = {ctx, nullptr, 0, 0, 0};
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Measure, &m), kOk);
  EXPECT_EQ(fake().Count(5), 0);
  EXPECT_EQ(fake().Count(6), 0);
  EXPECT_EQ(fake().Count(14), 2);
  ASSERT_EQ(DeviceOf(dev).endDraw(dev, ctx), kOk);
}

TEST_F(SelectCtlTest, CachedMeasuresAnswerWithoutTheDevice) {
  List list({"ab"});
  list.ctl.cachedWidth = 77;
  list.ctl.cachedHeight = 13;
  list.ctl.cachedBaseline = 10;
  SelectCtlMeasure m{nullptr, nullptr, 0, 0, 0};
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Measure, &m), kOk);
  EXPECT_EQ(m.width, 77);
  EXPECT_EQ(m.height, 13);
  EXPECT_EQ(m.baseline, 10);
  EXPECT_EQ(fake().log.size(), 1u);  // only the slot-37 call itself

  // One zero measure is no cache.
  list.ctl.cachedBaseline = 0;
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Measure, &m), kOk);
  EXPECT_EQ(m.width, 26);
}

TEST_F(SelectCtlTest, MeasureFailuresComeBackAndLeaveTheOutputs) {
  List list({"ab"});
  fake().refuseSurface = true;
  SelectCtlMeasure m{nullptr, nullptr, -1, -1, -1};
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::Measure, &m), kFailed);
  EXPECT_EQ(m.width, -1);
  EXPECT_EQ(m.height, -1);
  fake().refuseSurface = false;
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::Measure, nullptr), kBadArgument);
}

// --- the closed control --------------------------------------------------------

TEST_F(SelectCtlTest, DrawsTheFlatClosedControlOnTheLineBaseline) {
  List list({"ab", "abcd", "xyz"});
  list.ctl.chosen = 2;
  const SelectCtlPlace place = Place(list.ctl);
  // Baseline 30 = top + 9: the control spans 21..33.
  EXPECT_EQ(place.width, 36);
  EXPECT_EQ(place.bottom, 33);
  EXPECT_EQ(list.ctl.closed.x, 10);
  EXPECT_EQ(list.ctl.closed.baseline, 30);
  EXPECT_EQ(list.ctl.closed.width, 36);
  EXPECT_EQ(list.ctl.closed.height, 12);
  EXPECT_EQ(list.ctl.closed.lineTop, 20);
  EXPECT_EQ(list.ctl.closed.lineHeight, 14);

  const auto boxes = fake().Calls(12);
  ASSERT_GE(boxes.size(), 2u);
  EXPECT_EQ(boxes[0]->args, (std::vector<std::int64_t>{10, 21, 46, 33, 0, 0x000000, 0xFFFFFF}));
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"abcd"}));
  const auto origin = fake().Calls(17);
  ASSERT_EQ(origin.size(), 1u);
  EXPECT_EQ(origin[0]->args[0], 12);
  EXPECT_EQ(origin[0]->args[1], 30);
  EXPECT_EQ(fake().depth, 0);

  EXPECT_EQ(Px(10, 21), 0x000000u);    // frame
  EXPECT_EQ(Px(12, 25), 0x000000u);    // 'a'
  EXPECT_EQ(Px(16, 25), kPaleYellow);  // text background between glyphs
  EXPECT_EQ(Px(11, 31), 0xFFFFFFu);    // the box's own fill below the text
  // The arrow box is the square at the right end; its triangle starts 7/16
  // down (row 26) a quarter of the height in (37..42) and shrinks.
  EXPECT_EQ(Px(34, 27), 0x000000u);  // arrow box frame
  EXPECT_EQ(Px(36, 26), 0xC0C0C0u);
  for (int x = 37; x < 43; ++x)
    EXPECT_EQ(Px(x, 26), 0x000000u) << x;
  EXPECT_EQ(Px(37, 27), 0xC0C0C0u);
  EXPECT_EQ(Px(38, 27), 0x000000u);
  EXPECT_EQ(Px(40, 28), 0x000000u);
  EXPECT_EQ(Px(40, 29), 0xC0C0C0u);
}

TEST_F(SelectCtlTest, DrawsTheFramedClosedControlSunkenInAWhiteField) {
  List list({"ab", "abcd"}, 0);
  list.ctl.chosen = 1;
  const SelectCtlPlace place = Place(list.ctl);
  EXPECT_EQ(place.width, 42);
  EXPECT_EQ(place.bottom, 35);  // top 19, height 16
  EXPECT_EQ(Px(10, 19), 0x808080u);
  EXPECT_EQ(Px(11, 20), 0x000000u);
  EXPECT_EQ(Px(51, 34), 0xFFFFFFu);
  EXPECT_EQ(Px(50, 33), 0xC0C0C0u);
  EXPECT_EQ(Px(13, 25), 0xFFFFFFu);  // white field before the text
  EXPECT_EQ(Px(15, 25), 0x000000u);  // 'a' at x + 5
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"ab"}));
}

TEST_F(SelectCtlTest, ClosedTextIsCutToTheTextWidthAndKeepsTheFontColours) {
  List list({"abcdef"});
  list.ctl.chosen = 1;
  list.ctl.requestedWidth = 30;  // text width 30 - 12 - 4 = 14: two letters
  list.ctl.font.style = DeviceFontStyle::TextColour | DeviceFontStyle::BackColour;
  list.ctl.font.text = {200, 0, 0};
  list.ctl.font.background = {0, 0, 200};
  Place(list.ctl);
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"ab"}));
  EXPECT_EQ(Px(12, 25), 0xC80000u);
  EXPECT_EQ(Px(11, 31), 0x0000C8u);

  // No choice, or one out of range: no text.
  for (std::uint16_t chosen : {0, 2}) {
    fake().ClearLog();
    list.ctl.chosen = chosen;
    Place(list.ctl);
    EXPECT_TRUE(Drawn().empty()) << chosen;
  }
}

// --- placing the open list -----------------------------------------------------------

struct LayoutCase {
  const char* name;
  bool flat;
  int n;
  std::uint16_t chosen;
  std::int16_t viewWidth, viewHeight, rowHeight, x, top, w, h;
  // x, y, width, height, textWidth, arrowY, rows, arrows, top item, highlighted
  std::array<int, 10> want;
};

TEST(SelectCtlLayout, PlacesTheListBelowAboveOrOverTheWholeHeight) {
  constexpr int Up = SelectCtlArrows::Shown | SelectCtlArrows::UpUnavailable;
  constexpr int Down = SelectCtlArrows::Shown | SelectCtlArrows::DownUnavailable;
  constexpr int Both = SelectCtlArrows::Shown;
  const LayoutCase cases[] = {
      {"all fit below",
       true,
       3,
       2,
       192,
       120,
       10,
       10,
       21,
       36,
       12,
       {10, 33, 24, 33, 24, 49, 3, 0, 1, 2}},
      {"all fit above only, flush with the control",
       true,
       3,
       0,
       192,
       120,
       10,
       10,
       100,
       36,
       12,
       {10, 67, 24, 33, 24, 83, 3, 0, 1, 1}},
      {"framed above",
       false,
       3,
       0,
       192,
       120,
       10,
       10,
       100,
       42,
       16,
       {11, 69, 26, 32, 24, 85, 3, 0, 1, 1}},
      {"long list below, last page full",
       true,
       20,
       18,
       192,
       120,
       10,
       10,
       21,
       36,
       12,
       {10, 33, 36, 77, 23, 71, 7, Down, 14, 18}},
      {"long list above",
       true,
       20,
       0,
       192,
       120,
       10,
       10,
       90,
       36,
       12,
       {10, 2, 36, 88, 23, 46, 8, Up, 1, 1}},
      {"framed long list above",
       false,
       20,
       0,
       192,
       120,
       10,
       10,
       90,
       42,
       16,
       {11, 9, 40, 82, 26, 50, 8, Up, 1, 1}},
      {"whole height, control in the lower half",
       true,
       20,
       10,
       192,
       40,
       10,
       10,
       14,
       36,
       12,
       {10, 7, 36, 33, 23, 23, 3, Both, 10, 10}},
      {"whole height, control in the upper half",
       true,
       20,
       20,
       192,
       40,
       10,
       10,
       10,
       36,
       12,
       {10, 0, 36, 33, 23, 16, 3, Down, 18, 20}},
      {"wider than the view",
       false,
       3,
       0,
       192,
       120,
       10,
       50,
       21,
       300,
       16,
       {0, 36, 192, 32, 190, 52, 3, 0, 1, 1}},
      {"moved left at the right edge",
       true,
       3,
       0,
       192,
       120,
       10,
       180,
       21,
       36,
       12,
       {168, 33, 24, 33, 24, 49, 3, 0, 1, 1}},
      {"no items", true, 0, 0, 192, 120, 10, 10, 21, 36, 12, {10, 33, 24, 0, 24, 33, 0, 0, 1, 0}},
      {"degenerate font and view",
       true,
       5,
       0,
       192,
       0,
       0,
       10,
       0,
       36,
       2,
       {10, -2, 36, 2, 32, -1, 1, Up, 1, 1}},
      {"choice out of range",
       true,
       3,
       9,
       192,
       120,
       10,
       10,
       21,
       36,
       12,
       {10, 33, 24, 33, 24, 49, 3, 0, 1, 1}},
  };
  std::vector<const char*> texts(21, "x");
  for (const LayoutCase& k : cases) {
    SelectCtl c{};
    c.flags = k.flat ? SelectCtlFlag::Flat : 0;
    c.itemCount = static_cast<std::uint16_t>(k.n);
    c.items = texts.data();
    c.chosen = k.chosen;
    SelectCtlList l{};
    SelectCtl_LayoutList(c, k.viewWidth, k.viewHeight, k.rowHeight, 8, k.x, k.top, k.w, k.h, &l);
    const std::array<int, 10> got = {l.x,      l.y,           l.width,  l.height,  l.textWidth,
                                     l.arrowY, l.visibleRows, l.arrows, l.topItem, l.highlighted};
    EXPECT_EQ(got, k.want) << k.name;
    EXPECT_EQ(l.rowHeight, std::max<int>(1, k.rowHeight)) << k.name;
    EXPECT_EQ(l.ascent, 8) << k.name;
  }
}

// --- opening, closing and the pixels under the list ------------------------------------

TEST_F(SelectCtlTest, OpensBelowTheControlOverSavedPixelsAndCancelPutsThemBack) {
  List list({"ab", "abcd", "xyz"});
  list.ctl.chosen = 2;
  Place(list.ctl);
  const auto before = Pixels();
  fake().ClearLog();
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Open), kOk);
  const SelectCtlList& l = list.ctl.list;
  EXPECT_NE(l.open, 0);
  EXPECT_EQ(l.x, 10);
  EXPECT_EQ(l.y, 33);
  EXPECT_EQ(l.width, 24);
  EXPECT_EQ(l.height, 33);
  EXPECT_EQ(l.visibleRows, 3);
  EXPECT_EQ(l.arrows, 0);
  EXPECT_EQ(l.highlighted, 2);
  EXPECT_EQ(l.penState, SelectCtlPen::Idle);

  // The pixels are saved before anything is drawn, and the clip is the list.
  const auto surface = fake().Calls(8);
  ASSERT_GE(surface.size(), 3u);
  EXPECT_EQ(surface[0]->args,
            (std::vector<std::int64_t>{DeviceSurface::SavePixels, 10, 33, 34, 66, 0}));
  EXPECT_EQ(surface[1]->args[0], DeviceSurface::ClipIntersect);
  EXPECT_EQ(surface.back()->args[0], DeviceSurface::ClipReplace);
  EXPECT_LT(surface[0] - &fake().log[0], fake().Calls(12)[0] - &fake().log[0]);
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"ab", "abcd", "xyz"}));
  EXPECT_EQ(fake().depth, 0);

  EXPECT_EQ(Px(10, 33), 0x000000u);  // frame
  EXPECT_EQ(Px(33, 40), 0x000000u);
  EXPECT_FALSE(RowHighlighted(list.ctl, 0));
  EXPECT_TRUE(RowHighlighted(list.ctl, 1));
  EXPECT_FALSE(RowHighlighted(list.ctl, 2));
  EXPECT_EQ(Px(12, 36), 0x000000u);  // 'a' of row 0
  EXPECT_NE(Pixels(), before);

  EXPECT_EQ(Run(list.ctl, SelectCtlCode::Cancel), kSelectClosedNoChoice);
  EXPECT_EQ(list.ctl.list.open, 0);
  EXPECT_EQ(list.ctl.chosen, 2);
  EXPECT_EQ(Pixels(), before);
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::Cancel), kBadArgument);
}

TEST_F(SelectCtlTest, FramedListOpensAboveWhenOnlyThatFitsAndCloses) {
  List list({"ab", "abcd", "xyz"}, 0);
  list.ctl.closed = {10, 110, 0, 0, 96, 20};  // baseline 110: control at 99..115
  const auto before = Pixels();
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Open), kOk);
  // Room below: (120 - 114 - 2) / 10 = 0 rows; above: 98 / 10 = 9.
  EXPECT_EQ(list.ctl.list.y, 100 - 32);
  EXPECT_EQ(list.ctl.list.x, 11);
  EXPECT_EQ(list.ctl.list.width, 42 - 16);
  EXPECT_EQ(list.ctl.closed.width, 42);  // measured when the caller gave none
  EXPECT_EQ(list.ctl.closed.height, 16);
  EXPECT_EQ(list.ctl.list.highlighted, 1);  // no choice: the first item
  EXPECT_EQ(Px(11, 68), 0x000000u);
  EXPECT_EQ(Px(12, 69), 0x000000u);  // row 0 highlighted: white inverted
  EXPECT_EQ(Px(12, 79), 0xFFFFFFu);
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::Cancel), kSelectClosedNoChoice);
  // Outside the closed control, which is drawn again, the page is as before.
  const auto after = Pixels();
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 200; ++x) {
      const bool control = x >= 10 + kMargin && x < 52 + kMargin && y >= 99 && y < 115;
      if (!control) {
        ASSERT_EQ(after[y * 200 + x], before[y * 200 + x]) << x << "," << y;
      }
    }
}

TEST_F(SelectCtlTest, CommitClosesWithTheChoiceAndDrawsItAsAFreshControlWould) {
  List list({"ab", "abcd", "xyz"});
  list.ctl.chosen = 2;
  Place(list.ctl);
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Open), kOk);
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Next), kOk);
  EXPECT_EQ(list.ctl.list.highlighted, 3);
  EXPECT_EQ(list.ctl.chosen, 2);  // nothing is chosen before the commit
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::Commit), kSelectClosedWithChoice);
  EXPECT_EQ(list.ctl.chosen, 3);
  EXPECT_EQ(list.ctl.list.open, 0);

  List fresh({"ab", "abcd", "xyz"});
  fresh.ctl.chosen = 3;
  EngineObject* other = FakeDevice_Open(200, 120, kMargin);
  SelectCtlPlace place{nullptr, nullptr, 10, 20, 14, 10, 0, 0};
  ASSERT_EQ(DeviceOf(other).selectCtlCommand(other, SelectCtlCode::DrawClosed, &fresh.ctl, &place),
            kOk);
  EXPECT_EQ(Pixels(), FakeDevice_Of(other).windowSurface.rgb);
  FakeDevice_Close(other);
}

TEST_F(SelectCtlTest, CommitAndSelectAnswerZeroAndStayOpenForItemsThatCannotBeChosen) {
  List list({"ab", "", nullptr, "d"});
  list.ctl.chosen = 2;  // highlighted, but empty
  Place(list.ctl);
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Open), kOk);
  EXPECT_EQ(list.ctl.list.highlighted, 2);
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::Commit), kOk);
  EXPECT_NE(list.ctl.list.open, 0);
  for (std::int16_t item : {0, 2, 3, 5, -1, 32767}) {
    EXPECT_EQ(Run(list.ctl, SelectCtlCode::SelectAndCommit, &item), kOk) << item;
    EXPECT_NE(list.ctl.list.open, 0) << item;
  }
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::SelectAndCommit), kBadArgument);
  std::int16_t item = 4;
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::SelectAndCommit, &item), kSelectClosedWithChoice);
  EXPECT_EQ(list.ctl.chosen, 4);
  EXPECT_EQ(list.ctl.list.open, 0);
}

TEST_F(SelectCtlTest, RedrawPaintsTheOpenListAgain) {
  List list({"ab", "abcd", "xyz"});
  list.ctl.chosen = 1;
  Place(list.ctl);
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Open), kOk);
  const auto open = Pixels();
  DeviceContext ctx = nullptr;
  ASSERT_EQ(DeviceOf(dev).beginDraw(dev, &ctx), kOk);
  const DeviceColour grey{50, 50, 50};
  ASSERT_EQ(DeviceOf(dev).fillRect(dev, ctx, 0, 0, 192, 120, &grey), kOk);
  fake().ClearLog();
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Redraw, &ctx), kOk);
  EXPECT_EQ(fake().Count(5), 0);  // drawn inside the caller's drawing
  ASSERT_EQ(DeviceOf(dev).endDraw(dev, ctx), kOk);
  EXPECT_EQ(Px(10, 33), 0x000000u);
  EXPECT_TRUE(RowHighlighted(list.ctl, 0));
  EXPECT_EQ(Px(10, 32), 0x323232u);  // the closed control is not part of it
  // Without a context the control draws by itself; the result is the same.
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Redraw), kOk);
  for (int y = 33; y < 66; ++y)
    for (int x = 10; x < 34; ++x)
      ASSERT_EQ(Px(x, y), open[y * 200 + x + kMargin]) << x << "," << y;
}

// --- pointer ------------------------------------------------------------------------

TEST_F(SelectCtlTest, PenDownTrackAndPenUpOnAnItemCommit) {
  List list({"ab", "abcd", "xyz"});
  list.ctl.chosen = 2;
  Place(list.ctl);
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Open), kOk);
  // Rows at 34, 45 and 56.
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenDown, 15, 37), kOk);
  EXPECT_EQ(list.ctl.list.highlighted, 1);
  EXPECT_EQ(list.ctl.list.penState, SelectCtlPen::OnItem);
  EXPECT_TRUE(RowHighlighted(list.ctl, 0));
  EXPECT_FALSE(RowHighlighted(list.ctl, 1));
  fake().ClearLog();
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::Track, 20, 59), kOk);
  EXPECT_EQ(list.ctl.list.highlighted, 3);
  EXPECT_EQ(fake().Count(11), 2);  // two rows inverted, nothing else drawn
  EXPECT_EQ(fake().Count(19), 0);
  EXPECT_FALSE(RowHighlighted(list.ctl, 0));
  EXPECT_TRUE(RowHighlighted(list.ctl, 2));
  fake().ClearLog();
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::Track, 21, 60), kOk);  // same item: nothing
  EXPECT_EQ(fake().Count(11), 0);
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenUp, 20, 59), kSelectClosedWithChoice);
  EXPECT_EQ(list.ctl.chosen, 3);
  EXPECT_EQ(list.ctl.list.open, 0);
}

TEST_F(SelectCtlTest, PenUpAwayFromTheItemsOrOnOneThatCannotBeChosenStaysOpen) {
  List list({"ab", "", "xyz"});
  list.ctl.chosen = 1;
  Place(list.ctl);
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Open), kOk);
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenDown, 15, 37), kOk);
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenUp, 100, 100), kOk);
  EXPECT_NE(list.ctl.list.open, 0);
  EXPECT_EQ(list.ctl.list.penState, SelectCtlPen::Idle);
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenDown, 15, 48), kOk);
  EXPECT_EQ(list.ctl.list.highlighted, 2);
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenUp, 15, 48), kOk);
  EXPECT_NE(list.ctl.list.open, 0);
  EXPECT_EQ(list.ctl.chosen, 1);
  // A pen up without a pen down commits nothing.
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenUp, 15, 59), kOk);
  EXPECT_NE(list.ctl.list.open, 0);
}

TEST_F(SelectCtlTest, PenDownOnTheFrameKeepsTheListAndOutsideCancels) {
  List list({"ab", "abcd", "xyz"});
  list.ctl.chosen = 2;
  Place(list.ctl);
  const auto before = Pixels();
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Open), kOk);
  for (const DevicePoint p : {DevicePoint{10, 40}, DevicePoint{33, 40}, DevicePoint{20, 65}}) {
    EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenDown, p.x, p.y), kOk) << p.x << "," << p.y;
    EXPECT_NE(list.ctl.list.open, 0);
    EXPECT_EQ(list.ctl.list.highlighted, 2);
  }
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenDown, 34, 40), kSelectClosedNoChoice);
  EXPECT_EQ(list.ctl.list.open, 0);
  EXPECT_EQ(list.ctl.chosen, 2);
  EXPECT_EQ(Pixels(), before);
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenDown, 15, 37), kBadArgument);
}

// --- long lists: keys, arrows and scrolling -----------------------------------------

class SelectCtlLongTest : public SelectCtlTest {
 protected:
  void SetUp() override {
    OpenDevice(200, 60);
    // Control at (10, 0), 12 high: 48 / 11 = 4 rows below, with arrows.
    list.ctl.closed = {10, 9, 0, 0, 0, 12};
    list.ctl.chosen = 1;
    ASSERT_EQ(Run(list.ctl, SelectCtlCode::Open), kOk);
    ASSERT_EQ(list.ctl.list.visibleRows, 4);
    ASSERT_EQ(list.ctl.list.y, 12);
    ASSERT_EQ(list.ctl.list.arrows, SelectCtlArrows::Shown | SelectCtlArrows::UpUnavailable);
  }
  // The visible rows show the highlight exactly on the highlighted item.
  void ExpectRows(const char* step) {
    const SelectCtlList& l = list.ctl.list;
    for (int row = 0; row < l.visibleRows; ++row)
      EXPECT_EQ(RowHighlighted(list.ctl, row), l.topItem + row == l.highlighted)
          << step << " row " << row;
  }
  DevicePoint OnArrow(bool up) const {
    const SelectCtlList& l = list.ctl.list;
    return {static_cast<std::int16_t>(l.x + l.width - 1 - l.rowHeight / 2),
            static_cast<std::int16_t>(up ? l.arrowY - 3 : l.arrowY + 3)};
  }
  // A plain pixel inside an arrow box, clear of its bevel and triangle.
  std::uint32_t ArrowFace(bool up) const {
    const SelectCtlList& l = list.ctl.list;
    const int left = l.x + l.width - 1 - (l.rowHeight + 2) + 1;
    return Px(left + 1, up ? l.y + 3 : l.y + l.height - 4);
  }

  List list{{"a", "", nullptr, "d", "e", "f", "", "h", "i", "j", "k", ""}};
};

struct KeyStep {
  std::uint16_t code;
  int highlighted, top;
  int drawing;  // 0 nothing drawn, 1 two rows inverted, 2 scrolled (rows drawn again)
};

TEST_F(SelectCtlLongTest, KeysSkipItemsThatCannotBeChosenAndScrollToShowTheHighlight) {
  using namespace SelectCtlCode;
  const KeyStep steps[] = {
      {Previous, 1, 1, 0},       // already the first item that can be chosen
      {Next, 4, 1, 1},           // over the empty and the null item
      {Previous, 1, 1, 1},       //
      {Next, 4, 1, 1},           //
      {Next, 5, 2, 2},           // one row down
      {Next, 6, 3, 2},           //
      {Next, 8, 5, 2},           //
      {BottomVisible, 8, 5, 0},  //
      {TopVisible, 5, 5, 1},     //
      {PageDown, 9, 9, 2},       //
      {Next, 10, 9, 1},          //
      {Next, 11, 9, 1},          //
      {Next, 11, 9, 0},          // the last item cannot be chosen
      {Last, 11, 9, 0},          //
      {PageUp, 6, 5, 2},         // 7 cannot be chosen: the one above it
      {PageUp, 1, 1, 2},         //
      {First, 1, 1, 0},          //
      {Last, 11, 9, 2},          //
      {First, 1, 1, 2},          //
  };
  for (const KeyStep& k : steps) {
    fake().ClearLog();
    ASSERT_EQ(Run(list.ctl, k.code), kOk) << k.code;
    const std::string step =
        "code " + std::to_string(k.code) + " to " + std::to_string(k.highlighted);
    EXPECT_EQ(list.ctl.list.highlighted, k.highlighted) << step;
    EXPECT_EQ(list.ctl.list.topItem, k.top) << step;
    ExpectRows(step.c_str());
    if (k.drawing == 0) {
      EXPECT_EQ(fake().Count(11) + fake().Count(12) + fake().Count(19), 0) << step;
    } else if (k.drawing == 1) {
      EXPECT_EQ(fake().Count(11), 2) << step;
      EXPECT_EQ(fake().Count(19), 0) << step;
    } else {
      EXPECT_GT(fake().Count(19), 0) << step;
    }
    const bool upOff = list.ctl.list.topItem == 1, downOff = list.ctl.list.topItem == 9;
    EXPECT_EQ(list.ctl.list.arrows, SelectCtlArrows::Shown |
                                        (upOff ? SelectCtlArrows::UpUnavailable : 0) |
                                        (downOff ? SelectCtlArrows::DownUnavailable : 0))
        << step;
  }
  EXPECT_EQ(list.ctl.chosen, 1);
  EXPECT_NE(list.ctl.list.open, 0);
}

TEST_F(SelectCtlLongTest, ArrowsPageWhileHeldAndDoNothingWhenUnavailable) {
  const DevicePoint up = OnArrow(true), down = OnArrow(false);
  const std::uint32_t face = ArrowFace(false);
  EXPECT_EQ(face, 0xC0C0C0u);
  // The up arrow is unavailable at the top: nothing happens, the list stays.
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenDown, up.x, up.y), kOk);
  EXPECT_EQ(list.ctl.list.topItem, 1);
  EXPECT_EQ(list.ctl.list.penState, SelectCtlPen::Idle);

  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenDown, down.x, down.y), kOk);
  EXPECT_EQ(list.ctl.list.penState, SelectCtlPen::DownArrow);
  EXPECT_EQ(list.ctl.list.topItem, 5);
  EXPECT_EQ(list.ctl.list.highlighted, 5);
  EXPECT_EQ(ArrowFace(false), 0x3F3F3Fu);  // drawn pressed
  ExpectRows("down arrow");
  // Tracking while an arrow is held moves nothing.
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::Track, 15, 15), kOk);
  EXPECT_EQ(list.ctl.list.highlighted, 5);
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenUp, down.x, down.y), kOk);
  EXPECT_EQ(list.ctl.list.penState, SelectCtlPen::Idle);
  EXPECT_EQ(ArrowFace(false), 0xC0C0C0u);
  EXPECT_NE(list.ctl.list.open, 0);

  ASSERT_EQ(Point(list.ctl, SelectCtlCode::PenDown, down.x, down.y), kOk);
  ASSERT_EQ(Point(list.ctl, SelectCtlCode::PenUp, down.x, down.y), kOk);
  EXPECT_EQ(list.ctl.list.topItem, 9);
  EXPECT_EQ(list.ctl.list.highlighted, 9);
  EXPECT_TRUE(list.ctl.list.arrows & SelectCtlArrows::DownUnavailable);
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenDown, down.x, down.y), kOk);
  EXPECT_EQ(list.ctl.list.topItem, 9);
  EXPECT_EQ(list.ctl.list.penState, SelectCtlPen::Idle);

  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenDown, up.x, up.y), kOk);
  EXPECT_EQ(list.ctl.list.penState, SelectCtlPen::UpArrow);
  EXPECT_EQ(list.ctl.list.topItem, 5);
  EXPECT_EQ(list.ctl.list.highlighted, 5);
  EXPECT_EQ(ArrowFace(true), 0x3F3F3Fu);
  ExpectRows("up arrow");
}

const DeviceOps* g_fakeOps = nullptr;
StatusCode TouchPointer(EngineObject* device, std::int16_t code, void* out) noexcept {
  if (code != DeviceInfo::PointerKind) return g_fakeOps->getProperty(device, code, out);
  *static_cast<std::int16_t*>(out) = 2;
  return kOk;
}

TEST_F(SelectCtlLongTest, AFingerPointerGetsArrowsHalfARowLarger) {
  const SelectCtlList& l = list.ctl.list;
  const int arrowLeft = l.x + l.width - 1 - (l.rowHeight + 2) + 1;
  const DevicePoint nearArrow{static_cast<std::int16_t>(arrowLeft - 4),
                              static_cast<std::int16_t>(l.arrowY + 3)};
  // The fake answers no pointer kind: exact hits, the point is on item 3.
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenDown, nearArrow.x, nearArrow.y), kOk);
  EXPECT_EQ(list.ctl.list.highlighted, 3);
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenUp, 0, 0), kOk);

  g_fakeOps = &DeviceOf(dev);
  DeviceOps touchOps = DeviceOf(dev);
  touchOps.getProperty = TouchPointer;
  EngineObject touch{dev->state, &touchOps};
  DevicePoint p = nearArrow;
  EXPECT_EQ(SelectCtl_Command(&touch, SelectCtlCode::PenDown, &list.ctl, &p), kOk);
  EXPECT_EQ(list.ctl.list.penState, SelectCtlPen::DownArrow);
  EXPECT_EQ(list.ctl.list.topItem, 5);
  EXPECT_EQ(SelectCtl_Command(&touch, SelectCtlCode::PenUp, &list.ctl, &p), kOk);
  // Just below the list under the arrow: a page, not a cancel.
  p = {static_cast<std::int16_t>(arrowLeft + 2), static_cast<std::int16_t>(l.y + l.height + 3)};
  EXPECT_EQ(SelectCtl_Command(&touch, SelectCtlCode::PenDown, &list.ctl, &p), kOk);
  EXPECT_EQ(list.ctl.list.topItem, 9);
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenDown, p.x, p.y), kSelectClosedNoChoice);
}

TEST_F(SelectCtlLongTest, PointerPicksItemsOfTheScrolledList) {
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Last), kOk);  // rows 9..12
  const int row2 = list.ctl.list.y + 1 + 2 * 11 + 4;
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenDown, 15, row2), kOk);
  EXPECT_EQ(list.ctl.list.highlighted, 11);
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenUp, 15, row2), kSelectClosedWithChoice);
  EXPECT_EQ(list.ctl.chosen, 11);
}

TEST(SelectCtlKeys, NoItemThatCanBeChosenLeavesEverythingAsItIs) {
  EngineObject* dev = FakeDevice_Open(200, 60, 0);
  List list({"", nullptr, "", "", "", "", ""});
  list.ctl.closed = {10, 9, 0, 0, 0, 12};
  ASSERT_EQ(DeviceOf(dev).selectCtlCommand(dev, SelectCtlCode::Open, &list.ctl, nullptr), kOk);
  for (std::uint16_t code = SelectCtlCode::Previous; code <= SelectCtlCode::Commit; ++code) {
    EXPECT_EQ(DeviceOf(dev).selectCtlCommand(dev, code, &list.ctl, nullptr), kOk) << code;
    EXPECT_EQ(list.ctl.list.highlighted, 1) << code;
  }
  EXPECT_NE(list.ctl.list.open, 0);
  EXPECT_EQ(DeviceOf(dev).selectCtlCommand(dev, SelectCtlCode::Cancel, &list.ctl, nullptr),
            kSelectClosedNoChoice);
  FakeDevice_Close(dev);
}

// --- bounds and answers ----------------------------------------------------------------

TEST_F(SelectCtlTest, AnEmptyListOpensWithoutRowsAndClosesCleanly) {
  List list({});
  Place(list.ctl);
  const auto before = Pixels();
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Open), kOk);
  EXPECT_EQ(list.ctl.list.visibleRows, 0);
  EXPECT_EQ(list.ctl.list.highlighted, 0);
  for (std::uint16_t code = SelectCtlCode::Previous; code <= SelectCtlCode::BottomVisible; ++code)
    EXPECT_EQ(Run(list.ctl, code), kOk) << code;
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::Commit), kOk);
  std::int16_t item = 1;
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::SelectAndCommit, &item), kOk);
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::Track, 15, 34), kOk);
  EXPECT_EQ(Point(list.ctl, SelectCtlCode::PenDown, 15, 34), kSelectClosedNoChoice);
  EXPECT_EQ(list.ctl.chosen, 0);
  EXPECT_EQ(Pixels(), before);
}

TEST_F(SelectCtlTest, EveryCodeAnswersAsDocumented) {
  List list({"ab"});
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::Nothing), kOk);
  EXPECT_EQ(DeviceOf(dev).selectCtlCommand(dev, SelectCtlCode::Nothing, nullptr, nullptr), kOk);
  for (std::uint16_t code : {19, 20, 99, 0x7FFF, 0xFFFF})
    EXPECT_EQ(Run(list.ctl, code), kNotSupported) << code;
  SelectCtlMeasure m{};
  EXPECT_EQ(DeviceOf(dev).selectCtlCommand(dev, SelectCtlCode::Measure, nullptr, &m), kBadArgument);
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::DrawClosed), kBadArgument);
  // While the list is closed only 0-3 do anything.
  DevicePoint p{15, 40};
  std::int16_t item = 1;
  for (std::uint16_t code = SelectCtlCode::Track; code <= SelectCtlCode::SelectAndCommit; ++code) {
    void* out = code <= SelectCtlCode::PenDown           ? static_cast<void*>(&p)
                : code == SelectCtlCode::SelectAndCommit ? static_cast<void*>(&item)
                                                         : nullptr;
    EXPECT_EQ(Run(list.ctl, code, out), kBadArgument) << code;
  }
  EXPECT_EQ(list.ctl.chosen, 0);
  Place(list.ctl);
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Open), kOk);
  for (std::uint16_t code : {SelectCtlCode::Track, SelectCtlCode::PenUp, SelectCtlCode::PenDown})
    EXPECT_EQ(Run(list.ctl, code), kBadArgument) << code;
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::Cancel), kSelectClosedNoChoice);
  // The slot is logged once per call by the fake, with the answer.
  const auto calls = fake().Calls(37);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back()->result, kSelectClosedNoChoice);
}

TEST_F(SelectCtlTest, OpeningAgainDropsTheFirstListAndRestoresItsPixels) {
  List list({"ab", "abcd", "xyz"});
  list.ctl.chosen = 1;
  Place(list.ctl);
  const auto before = Pixels();
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Open), kOk);
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Next), kOk);
  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Open), kOk);
  EXPECT_EQ(list.ctl.list.highlighted, 1);
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::Cancel), kSelectClosedNoChoice);
  EXPECT_EQ(Pixels(), before);
}

TEST_F(SelectCtlTest, DeviceFailuresComeBackAndAFailedOpenLeavesTheListClosed) {
  List list({"ab", "abcd", "xyz"});
  list.ctl.chosen = 1;
  Place(list.ctl);
  fake().refuseSurface = true;
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::Open), kFailed);
  EXPECT_EQ(list.ctl.list.open, 0);
  SelectCtlPlace place{nullptr, nullptr, 10, 20, 14, 10, -1, -1};
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::DrawClosed, &place), kFailed);
  EXPECT_EQ(place.width, -1);
  fake().refuseSurface = false;

  fake().endDrawFailure = kSurfaceNotReleased;
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::Open), kSurfaceNotReleased);
  EXPECT_EQ(list.ctl.list.open, 0);
  fake().endDrawFailure = kOk;

  ASSERT_EQ(Run(list.ctl, SelectCtlCode::Open), kOk);
  fake().refuseSurface = true;
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::Next), kFailed);
  EXPECT_EQ(list.ctl.list.highlighted, 1);
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::Commit), kFailed);
  EXPECT_NE(list.ctl.list.open, 0);  // nothing could be put back yet
  fake().refuseSurface = false;
  EXPECT_EQ(Run(list.ctl, SelectCtlCode::Commit), kSelectClosedWithChoice);
}

}  // namespace
