// Link focus and activation through the recording fake device: the focus
// walks the visible links in document order forwards and backwards, above
// and below, is drawn by inverting exactly the link, and activation (from the
// focus or a press and release) reaches the link's target per class; a
// select-list element opens a drop-down list driven by keys and the pointer.
#include <set>

#include "tests/view/text_view_fixture.h"

namespace {

// 20 bytes a line, one line each at width 120; 5 pixels a character.
std::string Lines(int n) {
  std::string text;
  for (int i = 0; i < n; ++i)
    text += "abcd efgh abcd efgh\n";
  return text;
}

class TextViewLinksTest : public TextViewFixture {
 protected:
  // Lines 0-4 are on the screen (height 50).
  void SetUp() override {
    TextViewFixture::SetUp();
    Hooks().links = {
        {0, 4, 300, kOk},                   // line 0, x 0: to line 15
        {10, 14, 55, kDocLinkHostCode},     // line 0, x 50
        {25, 29, 0, kDocLinkNoTarget},      // line 1, x 25
        {60, 64, 400, kOk},                 // line 3, x 0
        {65, 69, 7, kDocTargetSelectList},  // line 3, x 25
        {70, 74, 500, kOk},                 // line 3, x 50
        {200, 204, 0, kOk},                 // line 10: off the screen
    };
  }
  void OpenLinks() {
    Open(Lines(30), 120, 50);
    ASSERT_EQ(Paint(), kOk);
  }
  StatusCode Focus(std::uint16_t code, std::uint32_t argument = 0) {
    return ViewOps().focusCommand(view_, code, argument);
  }
  StatusCode Pointer(std::uint16_t code, int x, int y) {
    return ViewOps().pointerEvent(view_, code, static_cast<std::int16_t>(x),
                                  static_cast<std::int16_t>(y));
  }
  std::pair<std::uint32_t, std::uint32_t> Focused() {
    return {V().focusLink.linkStart, V().focusLink.linkEnd};
  }
  // The window picture but the rows of line 3, where a closed list is drawn
  // over the element when the list closes.
  std::vector<std::uint32_t> PageAroundList() {
    std::vector<std::uint32_t> out;
    const FakeSurface& s = F().windowSurface;
    for (int y = 0; y < s.height; ++y)
      if (y < 28 || y >= 43)
        out.insert(out.end(), s.rgb.begin() + y * s.width, s.rgb.begin() + (y + 1) * s.width);
    return out;
  }
  int InvertedCount() {
    int n = 0;
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x)
        n += F().Inverted(x, y);
    return n;
  }
};

using Range = std::pair<std::uint32_t, std::uint32_t>;

TEST_F(TextViewLinksTest, FocusFollowsDocumentOrderBothWays) {
  OpenLinks();
  const std::vector<Range> order = {{0, 4}, {10, 14}, {25, 29}, {60, 64}, {65, 69}, {70, 74}};
  std::vector<Range> forwards;
  ASSERT_EQ(Focus(TextViewFocus::Next), kOk);
  forwards.push_back(Focused());
  while (Focus(TextViewFocus::Next) == kOk)
    forwards.push_back(Focused());
  EXPECT_EQ(forwards, order);
  EXPECT_EQ(Focused(), (Range{70, 74})) << "no wrap: the focus stays on the last link";
  EXPECT_EQ(Focus(TextViewFocus::IsShown), kYes);
  EXPECT_EQ(InvertedCount(), 4 * 5 * 10) << "exactly the focused link is drawn";

  std::vector<Range> backwards{Focused()};
  while (Focus(TextViewFocus::Previous) == kOk)
    backwards.push_back(Focused());
  EXPECT_EQ(backwards, std::vector<Range>(order.rbegin(), order.rend()));
  // With wrap the walk goes round.
  ASSERT_EQ(Focus(TextViewFocus::Previous, 1), kOk);
  EXPECT_EQ(Focused(), (Range{70, 74}));
  ASSERT_EQ(Focus(TextViewFocus::Next, 1), kOk);
  EXPECT_EQ(Focused(), (Range{0, 4}));
  ASSERT_EQ(Focus(TextViewFocus::Last), kOk);
  EXPECT_EQ(Focused(), (Range{70, 74}));
  ASSERT_EQ(Focus(TextViewFocus::First), kOk);
  EXPECT_EQ(Focused(), (Range{0, 4}));
  EXPECT_EQ(InvertedCount(), 4 * 5 * 10);
  ASSERT_EQ(Paint(), kOk);
  EXPECT_EQ(InvertedCount(), 4 * 5 * 10) << "a repaint keeps the focus drawn";

  ASSERT_EQ(Focus(TextViewFocus::Hide), kOk);
  EXPECT_EQ(InvertedCount(), 0);
  EXPECT_EQ(Focus(TextViewFocus::IsShown), kNo);
  EXPECT_EQ(Focus(TextViewFocus::Activate), kViewNoFocus);
  EXPECT_EQ(Focus(99), kNotSupported);
  ExpectBalancedDrawing();
}

TEST_F(TextViewLinksTest, AboveAndBelowGoToTheNearestLinkOnTheNextLineWithOne) {
  OpenLinks();
  struct Case {
    Range from;
    std::uint16_t code;
    Range to;
  } cases[] = {
      {{60, 64}, TextViewFocus::Above, {25, 29}}, {{70, 74}, TextViewFocus::Above, {25, 29}},
      {{25, 29}, TextViewFocus::Above, {10, 14}}, {{25, 29}, TextViewFocus::Below, {65, 69}},
      {{10, 14}, TextViewFocus::Below, {25, 29}}, {{0, 4}, TextViewFocus::Below, {25, 29}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.from.first << " " << c.code);
    ASSERT_EQ(Focus(TextViewFocus::First), kOk);
    while (Focused() != c.from)
      ASSERT_EQ(Focus(TextViewFocus::Next), kOk);
    ASSERT_EQ(Focus(c.code), kOk);
    EXPECT_EQ(Focused(), c.to);
    EXPECT_EQ(InvertedCount(), 4 * 5 * 10);
  }
  // Nothing above the first line: the focus stays.
  ASSERT_EQ(Focus(TextViewFocus::First), kOk);
  EXPECT_NE(Focus(TextViewFocus::Above), kOk);
  EXPECT_EQ(Focused(), (Range{0, 4}));
  ExpectBalancedDrawing();
}

TEST_F(TextViewLinksTest, ActivationReachesTheTargetOfEachClass) {
  OpenLinks();
  // An internal link goes to its target and remembers where the reader was.
  ASSERT_EQ(Focus(TextViewFocus::First), kOk);
  ASSERT_EQ(Focus(TextViewFocus::Activate), kOk);
  EXPECT_EQ(V().table.lines[0].start, 300u);
  EXPECT_EQ(Focus(TextViewFocus::IsShown), kNo);
  ASSERT_EQ(Nav(TextViewNav::Back), kOk);
  EXPECT_EQ(V().table.lines[0].start, 0u);
  // A link for the host keeps its target for Control 0.
  ASSERT_EQ(Focus(TextViewFocus::First), kOk);
  ASSERT_EQ(Focus(TextViewFocus::Next), kOk);
  EXPECT_EQ(Focus(TextViewFocus::Activate), kViewHostActs);
  EXPECT_EQ(V().savedLinkTarget, 55u);
  // A link without a target (activation hid the focus: the first Next shows
  // it again where it was).
  ASSERT_EQ(Focus(TextViewFocus::Next), kOk);
  EXPECT_EQ(Focused(), (Range{10, 14}));
  ASSERT_EQ(Focus(TextViewFocus::Next), kOk);
  EXPECT_EQ(Focus(TextViewFocus::Activate), kViewNoTarget);
  // Links disabled: nothing happens.
  ASSERT_EQ(Nav(TextViewNav::DisableLinks, 1), kOk);
  ASSERT_EQ(Focus(TextViewFocus::First), kOk);
  EXPECT_EQ(Focus(TextViewFocus::Activate), kViewLinkPressed);
  EXPECT_EQ(V().table.lines[0].start, 0u);
  ASSERT_EQ(Nav(TextViewNav::DisableLinks, 0), kOk);
  // A focused link scrolled off the screen is no longer shown.
  ASSERT_EQ(Focus(TextViewFocus::First), kOk);
  ASSERT_EQ(Nav(TextViewNav::LineDown), kOk);
  ASSERT_EQ(Nav(TextViewNav::LineDown), kOk);
  EXPECT_EQ(Focus(TextViewFocus::IsShown), kNo);
  EXPECT_EQ(F().notices.empty(), false);
  ExpectBalancedDrawing();
}

TEST_F(TextViewLinksTest, PressAndReleaseOnALink) {
  OpenLinks();
  EXPECT_EQ(Pointer(TextViewPointer::Probe, 2, 5), kYes);
  EXPECT_EQ(Pointer(TextViewPointer::Probe, 30, 5), kNo);
  EXPECT_EQ(V().mode, TextViewMode::Idle) << "a probe changes nothing";
  ASSERT_EQ(Pointer(TextViewPointer::Press, 2, 5), kViewLinkPressed);
  EXPECT_EQ(V().mode, TextViewMode::LinkRelease);
  EXPECT_EQ(InvertedCount(), 4 * 5 * 10);
  ASSERT_EQ(Paint(), kOk);
  EXPECT_EQ(InvertedCount(), 4 * 5 * 10) << "a repaint keeps the pressed link drawn";
  // Released elsewhere: the link goes plain and nothing happens.
  EXPECT_EQ(Pointer(TextViewPointer::Release, 30, 5), kOk);
  EXPECT_EQ(InvertedCount(), 0);
  EXPECT_EQ(V().table.lines[0].start, 0u);
  // Released on it: the target is reached.
  ASSERT_EQ(Pointer(TextViewPointer::Press, 2, 5), kViewLinkPressed);
  EXPECT_EQ(Pointer(TextViewPointer::Release, 3, 6), kOk);
  EXPECT_EQ(V().table.lines[0].start, 300u);
  EXPECT_EQ(V().mode, TextViewMode::Idle);
  // Hovering highlights the element under the pointer, one at a time.
  ASSERT_EQ(Nav(TextViewNav::Back), kOk);
  ASSERT_EQ(Pointer(TextViewPointer::Hover, 52, 5), kOk);
  EXPECT_EQ(V().mode, TextViewMode::LinkReleaseAlt);
  EXPECT_EQ(InvertedCount(), 4 * 5 * 10);
  ASSERT_EQ(Pointer(TextViewPointer::Hover, 27, 15), kOk);
  EXPECT_EQ(V().pressOffset, 25u);
  EXPECT_EQ(InvertedCount(), 4 * 5 * 10);
  EXPECT_EQ(Pointer(TextViewPointer::FullRelease, 27, 15), kViewNoTarget);
  EXPECT_EQ(InvertedCount(), 0);
  ExpectBalancedDrawing();
}

TEST_F(TextViewLinksTest, SelectListOpensTakesKeysAndAppliesTheChoice) {
  Hooks().listItems = {"", "one", "two", "three"};
  Hooks().optionClass = kDocLinkHostCode;
  OpenLinks();
  const std::vector<std::uint32_t> before = PageAroundList();
  ASSERT_EQ(Pointer(TextViewPointer::Press, 27, 35), kViewListOpen);
  EXPECT_EQ(V().mode, TextViewMode::ListOpen);
  ASSERT_NE(V().focusControl, nullptr);
  TextViewListInfo info{};
  ASSERT_EQ(ViewOps().control(view_, 38, 0, &info), kOk);
  EXPECT_EQ(info.itemCount, 3);
  // Line down is the list's next item; the view does not move.
  ASSERT_EQ(Nav(TextViewNav::LineDown), kOk);
  EXPECT_EQ(V().table.lines[0].start, 0u);
  EXPECT_EQ(V().focusControl->ctl.list.highlighted, 2);
  EXPECT_EQ(ViewOps().control(view_, 15, 0, nullptr), kViewHostActs);
  EXPECT_EQ(V().mode, TextViewMode::Idle);
  EXPECT_EQ(V().focusControl, nullptr);
  EXPECT_EQ(Hooks().settled, std::vector<std::uint32_t>{2});
  EXPECT_EQ(V().savedLinkTarget, 1002u);
  EXPECT_EQ(ViewOps().control(view_, 15, 0, nullptr), kViewNoList);

  // A tap outside the open list cancels it and puts the page back.
  ASSERT_EQ(Pointer(TextViewPointer::Press, 27, 35), kViewListOpen);
  EXPECT_EQ(Pointer(TextViewPointer::Press, 119, 1), kViewListCancelled);
  EXPECT_EQ(V().mode, TextViewMode::Idle);
  EXPECT_EQ(PageAroundList(), before);
  // A focused list element opens from the keyboard as well.
  ASSERT_EQ(Focus(TextViewFocus::First), kOk);
  while (Focused() != Range{65, 69})
    ASSERT_EQ(Focus(TextViewFocus::Next), kOk);
  EXPECT_EQ(Focus(TextViewFocus::Activate), kViewListOpen);
  EXPECT_EQ(ViewOps().control(view_, 16, 0, nullptr), kViewListCancelled);
  EXPECT_EQ(PageAroundList(), before);
  ExpectBalancedDrawing();
}

}  // namespace
