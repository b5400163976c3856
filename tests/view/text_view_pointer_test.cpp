// Pointer events, selection and copy through the recording fake device:
// press/drag/release sequences against the selected range and the inverted
// pixels, auto-scroll and drag scroll at the window's edges, the selection
// kept across re-layout and re-pagination, and every copy command against
// the text that reading the same range gives.
#include <set>

#include "tests/support/failing_allocator.h"
#include "tests/view/text_view_fixture.h"

namespace {

// Letters without narrow or wide ones: every character is 5 pixels wide and
// every line 10 high, so a point's offset can be worked out by hand.
// Lines: [0,18) [18,26) [26,48) [48,58) [58,59) [59,67).
const char* const kText =
    "abcdefgh abcdefgh\nbcdefgh\ncdefgh dddd eeee ffff gggg hhhh\n\nabc hhh\n";

struct Event {
  std::uint16_t code;
  std::int16_t x, y;
};

class TextViewPointerTest : public TextViewFixture {
 protected:
  StatusCode Pointer(std::uint16_t code, int x = 0, int y = 0) {
    return ViewOps().pointerEvent(view_, code, static_cast<std::int16_t>(x),
                                  static_cast<std::int16_t>(y));
  }
  StatusCode Select(std::uint16_t code) { return ViewOps().selectionCommand(view_, code, 0); }

  // The pixels a selection must invert: per laid-out line, the characters of
  // the range (5 pixels each, cut at the line's width), the line's 10 rows.
  std::set<std::pair<int, int>> ExpectedInverted(std::uint32_t from, std::uint32_t to) {
    if (from > to) std::swap(from, to);
    std::set<std::pair<int, int>> out;
    const TextView& v = V();
    int top = v.table.extraTop;
    for (int k = 0; k < v.table.count; ++k) {
      const LineRecord& line = v.table.lines[k];
      const std::uint32_t ls = line.start, le = v.table.lines[k + 1].start;
      const std::uint32_t a = std::max(from, ls), b = std::min(to, le);
      if (a < b) {
        const int x1 = static_cast<int>(a - ls) * 5 - v.hScroll;
        const int x2 = std::min<int>(static_cast<int>(b - ls) * 5, line.metrics.width) - v.hScroll;
        for (int y = std::max(top, 0); y < std::min(top + 10, int{v.textHeight}); ++y)
          for (int x = std::max(x1, 0); x < std::min(x2, int{v.viewWidth}); ++x)
            out.insert({x, y});
      }
      top += line.metrics.height;
    }
    return out;
  }
  std::set<std::pair<int, int>> Inverted() {
    std::set<std::pair<int, int>> out;
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x)
        if (F().Inverted(x, y)) out.insert({x, y});
    return out;
  }
  void ExpectSelectionDrawn(const std::string& what) {
    EXPECT_TRUE(Inverted() == ExpectedInverted(V().selAnchor, V().selCaret))
        << what << ": inverted pixels differ from the selection [" << V().selAnchor << ", "
        << V().selCaret << ")";
  }

  // The clipboard text a copy of [from, to) must give: the handler's text of
  // the range, line feeds as CR LF.
  std::u16string ReadAsClipboard(std::uint32_t from, std::uint32_t to) {
    std::string bytes(to - from, '\0');
    std::uint32_t copied = 0;
    EXPECT_EQ(
        DocOpsOf(handler_).readRange(
            handler_, from, to, reinterpret_cast<std::uint8_t*>(bytes.data()), to - from, &copied),
        kOk);
    bytes.resize(copied);
    std::u16string out;
    for (char c : bytes) {
      if (c == '\n') out.push_back(u'\r');
      out.push_back(static_cast<unsigned char>(c));
    }
    return out;
  }
};

TEST_F(TextViewPointerTest, PressDragReleaseSelectsAndInvertsExactlyTheRange) {
  struct Case {
    const char* what;
    std::vector<Event> events;
    std::uint32_t anchor, caret;
  } cases[] = {
      {"a press selects the character under it", {{4, 12, 5}, {7, 12, 5}}, 2, 3},
      {"a drag moves the caret to the point", {{4, 12, 5}, {5, 27, 5}, {7, 27, 5}}, 2, 5},
      {"a drag down two lines", {{4, 12, 5}, {5, 12, 25}}, 2, 28},
      {"a drag backwards from a later line", {{4, 12, 25}, {5, 2, 5}}, 28, 0},
      {"back onto the anchor empties the selection", {{4, 12, 5}, {5, 27, 5}, {5, 12, 5}}, 2, 2},
      {"below the last line: the end offset", {{4, 12, 5}, {5, 50, 95}}, 2, 67},
      {"a press past a line's end selects nothing", {{4, 100, 5}}, 18, 18},
      {"then a drag from there", {{4, 100, 5}, {5, 12, 15}}, 18, 20},
      {"a unit, then the caret moved", {{13, 12, 5}, {15, 27, 5}}, 2, 5},
      {"unmark drops the selection", {{4, 12, 5}, {5, 27, 5}, {16, 0, 0}}, 2, 2},
      {"a new press erases the old selection", {{4, 12, 5}, {5, 40, 25}, {4, 7, 15}}, 19, 20},
      {"the same point twice draws nothing twice", {{4, 12, 5}, {5, 27, 5}, {5, 27, 5}}, 2, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Open(kText);
    ASSERT_EQ(Paint(), kOk);
    ASSERT_EQ(Select(TextViewSelection::Enter), kOk);
    for (const Event& e : c.events)
      ASSERT_EQ(Pointer(e.code, e.x, e.y), kOk) << e.code;
    EXPECT_EQ(V().selAnchor, c.anchor);
    EXPECT_EQ(V().selCaret, c.caret);
    ExpectSelectionDrawn(c.what);
    ExpectBalancedDrawing();
    Close();
  }
}

TEST_F(TextViewPointerTest, SelectionCommandsAnswerAndRedraw) {
  Open(kText);
  ASSERT_EQ(Paint(), kOk);
  ASSERT_EQ(Select(TextViewSelection::Enter), kOk);
  EXPECT_EQ(V().mode, TextViewMode::Selection);
  EXPECT_EQ(Select(TextViewSelection::HasSelection), kYes) << "a fresh selection mode has none";
  ASSERT_EQ(Pointer(4, 12, 5), kOk);
  ASSERT_EQ(Pointer(5, 12, 25), kOk);
  EXPECT_EQ(Select(TextViewSelection::HasSelection), kNo);
  ASSERT_EQ(Select(TextViewSelection::DrawPlain), kOk);
  EXPECT_TRUE(Inverted().empty());
  ASSERT_EQ(Select(TextViewSelection::DrawMarked), kOk);
  ExpectSelectionDrawn("marked again");
  ASSERT_EQ(Select(TextViewSelection::Erase), kOk);
  EXPECT_TRUE(Inverted().empty());
  EXPECT_EQ(V().selAnchor, V().selCaret);
  ASSERT_EQ(Pointer(4, 12, 5), kOk);
  ASSERT_EQ(Pointer(5, 27, 5), kOk);
  ASSERT_EQ(Select(TextViewSelection::ClearPlain), kOk);
  EXPECT_TRUE(Inverted().empty());
  ASSERT_EQ(Pointer(4, 12, 5), kOk);
  ASSERT_EQ(Select(TextViewSelection::Leave), kOk);
  EXPECT_EQ(V().mode, TextViewMode::Idle);
  EXPECT_TRUE(Inverted().empty());
  EXPECT_EQ(Select(99), kOk);
  ExpectBalancedDrawing();
}

TEST_F(TextViewPointerTest, SelectionSurvivesRelayoutScrollAndRepagination) {
  std::string text;
  for (int i = 0; i < 40; ++i)
    text += "abcd efgh abcd efgh\n";  // 20 bytes a line
  Open(text);
  ASSERT_EQ(Paint(), kOk);
  ASSERT_EQ(Select(TextViewSelection::Enter), kOk);
  ASSERT_EQ(Pointer(4, 12, 15), kOk);
  ASSERT_EQ(Pointer(5, 30, 45), kOk);
  ASSERT_EQ(V().selAnchor, 22u);
  ASSERT_EQ(V().selCaret, 86u);
  ExpectSelectionDrawn("drawn");

  ASSERT_EQ(Nav(TextViewNav::LineDown), kOk);
  ExpectSelectionDrawn("after a line down");
  ASSERT_EQ(Nav(TextViewNav::LineUp), kOk);
  ExpectSelectionDrawn("after a line up");
  ASSERT_EQ(ViewOps().setViewport(view_, TextViewViewport::Relayout, width_, height_), kOk);
  ASSERT_EQ(Paint(), kOk);
  ExpectSelectionDrawn("after a re-layout");
  PaginateAll();
  ASSERT_EQ(Paint(), kOk);
  ExpectSelectionDrawn("after pagination");
  // A narrower view wraps the lines anew and paginates again.
  width_ = 60;
  ASSERT_EQ(ViewOps().setViewport(view_, 0, width_, height_), kOk);
  ASSERT_EQ(Paint(), kOk);
  EXPECT_EQ(V().selAnchor, 22u);
  EXPECT_EQ(V().selCaret, 86u);
  ExpectSelectionDrawn("after re-pagination at another width");
  ExpectBalancedDrawing();
}

TEST_F(TextViewPointerTest, AutoScrollPastTheEdgesMovesByTwiceTheZone) {
  std::string text;
  for (int i = 0; i < 60; ++i)
    text += "abcd efgh abcd efgh\n";
  Open(text);
  ASSERT_EQ(Paint(), kOk);
  ASSERT_EQ(TextView_ShowAtTop(V(), 200), kOk);  // line 10 at the top
  ASSERT_EQ(V().table.lines[0].start, 200u);
  ASSERT_EQ(Select(TextViewSelection::Enter), kOk);
  ASSERT_EQ(Pointer(4, 12, 55), kOk);
  struct Case {
    std::int16_t y;
    int moved;  // pixels the text moves down (text above comes into view)
  } cases[] = {{2, 6}, {-20, 10}, {50, 0}, {97, -4}, {150, -10}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.y);
    ASSERT_EQ(Pointer(5, 12, c.y), kOk);
    std::int32_t before = 0, after = 0;
    const std::uint32_t probe = 290;  // a line that stays on the screen
    ASSERT_LT(TextView_FindLineAtOffset(V(), probe, &before), V().table.count);
    ASSERT_EQ(Select(TextViewSelection::AutoScroll), kOk);
    ASSERT_LT(TextView_FindLineAtOffset(V(), probe, &after), V().table.count);
    EXPECT_EQ(after - before, c.moved);
    ExpectSelectionDrawn("after the step");
  }
  ExpectMatchesFreshLayout("auto-scroll");
  ExpectBalancedDrawing();
}

TEST_F(TextViewPointerTest, DragScrollStopsAtTheEnds) {
  std::string text;
  for (int i = 0; i < 30; ++i)
    text += "abcd efgh abcd efgh\n";
  Open(text);
  ASSERT_EQ(Paint(), kOk);
  EXPECT_EQ(Pointer(TextViewPointer::DragScroll, 0, -5), kViewDragImpossible) << "at the top";
  EXPECT_EQ(Pointer(TextViewPointer::DragScroll, 0, 25), kOk);
  EXPECT_EQ(V().table.lines[0].start, 40u);
  EXPECT_EQ(V().table.extraTop, -5);
  ExpectMatchesFreshLayout("drag scroll");
  // A press and a move drag the text with the pointer.
  ASSERT_EQ(Pointer(TextViewPointer::Press, 20, 50), kOk);
  ASSERT_EQ(Pointer(TextViewPointer::Move, 20, 60), kOk);
  EXPECT_EQ(V().table.lines[0].start, 20u);
  EXPECT_EQ(Pointer(TextViewPointer::Release, 20, 60), kOk);
  EXPECT_EQ(V().mode, TextViewMode::Idle);
  EXPECT_FALSE(V().flags & TextViewFlag::Dragging);
  ExpectMatchesFreshLayout("press and move");
  ASSERT_EQ(Nav(TextViewNav::DocumentEnd), kOk);
  EXPECT_EQ(Pointer(TextViewPointer::DragScroll, 0, 5), kViewDragImpossible) << "at the end";
  ExpectBalancedDrawing();
}

TEST_F(TextViewPointerTest, EveryCopyGivesTheTextOfItsRange) {
  Hooks().sectionStarts = {0, 26};
  Open(kText);
  ASSERT_EQ(Paint(), kOk);
  ASSERT_EQ(Select(TextViewSelection::Enter), kOk);
  ASSERT_EQ(Pointer(4, 12, 5), kOk);
  ASSERT_EQ(Pointer(5, 12, 15), kOk);
  struct Case {
    std::uint16_t code;
    std::uint32_t from, to;
  } cases[] = {
      {TextViewSelection::CopySelection, 2, 20},
      {TextViewSelection::CopyScreen, 0, 26},
      {TextViewSelection::CopySection, 0, 26},
      {TextViewSelection::CopyDocument, 0, static_cast<std::uint32_t>(std::strlen(kText))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    F().clipboard.clear();
    ASSERT_EQ(Select(c.code), kOk);
    EXPECT_EQ(F().clipboard, ReadAsClipboard(c.from, c.to));
  }
  // The second section: the screen and the section are its own.
  ASSERT_EQ(Nav(TextViewNav::NextSection), kOk);
  ASSERT_EQ(Select(TextViewSelection::CopySection), kOk);
  EXPECT_EQ(F().clipboard, ReadAsClipboard(26, static_cast<std::uint32_t>(std::strlen(kText))));
  // An empty selection copies nothing and leaves the clipboard.
  ASSERT_EQ(Select(TextViewSelection::Erase), kOk);
  const int commits = F().clipboardCommits;
  ASSERT_EQ(Select(TextViewSelection::CopySelection), kOk);
  EXPECT_EQ(F().clipboardCommits, commits);
}

TEST_F(TextViewPointerTest, ACopyTooLargeForTheDeviceReportsMemoryAndCopiesNothing) {
  Open(kText);
  ASSERT_EQ(Paint(), kOk);
  ASSERT_EQ(Select(TextViewSelection::CopyScreen), kOk);
  const std::u16string before = F().clipboard;
  const int commits = F().clipboardCommits;
  F().clipboardLimit = 10;
  EXPECT_EQ(Select(TextViewSelection::CopyDocument), kOutOfMemory);
  EXPECT_EQ(F().clipboard, before);
  EXPECT_EQ(F().clipboardCommits, commits);

  // The selected text for the host (Control 28): a range the allocator cannot
  // hold is refused whole.
  ASSERT_EQ(Select(TextViewSelection::Enter), kOk);
  ASSERT_EQ(Pointer(4, 2, 5), kOk);
  ASSERT_EQ(Pointer(5, 12, 25), kOk);
  TextViewTextRange range{0, 0, nullptr, 0xFFFFFFFFu};
  {
    LargeBlocksRefused refuse(16);
    EXPECT_EQ(ViewOps().control(view_, 28, 0, &range), kOutOfMemory);
  }
  EXPECT_EQ(range.buffer, nullptr);
  ASSERT_EQ(ViewOps().control(view_, 28, 0, &range), kOk);
  ASSERT_NE(range.buffer, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(range.buffer)), std::string(kText).substr(0, 28));
  EXPECT_EQ(range.capacity, 28u);
  Engine_Free(range.buffer);
  // A caller's buffer gets at most its capacity, never more.
  std::uint8_t small[6];
  std::memset(small, 0x55, sizeof small);
  TextViewTextRange cut{0, 0, small, 4};
  ASSERT_EQ(ViewOps().control(view_, 28, 0, &cut), kOk);
  EXPECT_EQ(cut.capacity, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(small)), "abcd");
  EXPECT_EQ(small[5], 0x55);
}

}  // namespace
