// The text view object, its line table, layout and painting, with the
// plain-text handler and the recording fake device.
#include <algorithm>

#include "engine/stores/annot_store.h"
#include "tests/support/failing_allocator.h"
#include "tests/support/temp_dir.h"

#include "tests/view/text_view_fixture.h"

namespace {

using TextViewObjectTest = TextViewFixture;
using TextViewLayoutTest = TextViewFixture;

TEST_F(TextViewObjectTest, TableEndsAnswerNotImplementedAndCreateStartsEmpty) {
  const auto& ops = ViewOps();
  EXPECT_EQ(ops.word0(nullptr), kFailed);
  EXPECT_EQ(ops.end(nullptr), kFailed);
  EngineObject* view = nullptr;
  ASSERT_EQ(ops.create(&TextViewModule, &view), kOk);
  const TextView& v = TextViewOf(view);
  EXPECT_EQ(v.mode, TextViewMode::Idle);
  EXPECT_EQ(v.savedPosition, 0xFFFFFFFFu);
  EXPECT_EQ(v.table.lines, nullptr);
  std::uint16_t page = 9, count = 9;
  EXPECT_EQ(ops.getPageNumber(view, &page, &count), kOk);
  EXPECT_EQ(page, 1);
  EXPECT_EQ(count, 0);
  // Painting before a device or a viewport is refused, not a crash.
  EXPECT_EQ(ops.paint(view, nullptr, 0, 0, 0, 0), kViewNoContent);
  EXPECT_EQ(ops.destroy(view), kOk);
}

TEST_F(TextViewObjectTest, ViewportSetsScrollStepAndTableCapacity) {
  Open(SampleText(50));
  struct Case {
    std::int16_t height, step;
    std::uint16_t capacity;
    bool scratch;
  };
  for (const Case c : {Case{160, 16, 33, false}, Case{161, 20, 34, false}, Case{199, 24, 41, false},
                       Case{200, 20, 41, true}, Case{300, 30, 61, true}}) {
    ASSERT_EQ(ViewOps().setViewport(view_, 0, 120, c.height), kOk);
    EXPECT_EQ(V().scrollStep, c.step) << c.height;
    EXPECT_EQ(V().table.capacity, c.capacity) << c.height;
    EXPECT_EQ(V().table.scratch != nullptr, c.scratch) << c.height;
    ASSERT_EQ(Paint(), kOk);
    // The end record always exists: at most capacity - 1 lines.
    EXPECT_LE(V().table.count, c.capacity - 1);
  }
}

TEST_F(TextViewObjectTest, ARefusedLineTableKeepsTheOldOne) {
  Open(SampleText(50));
  ASSERT_EQ(ViewOps().setViewport(view_, 0, 120, 100), kOk);
  ASSERT_EQ(Paint(), kOk);
  const LineRecord* lines = V().table.lines;
  const std::uint16_t capacity = V().table.capacity;
  {
    // Growing to 300 pixels needs a larger line array, which is refused.
    const LargeBlocksRefused refuse(sizeof(LineRecord) * (capacity + 1));
    EXPECT_EQ(ViewOps().setViewport(view_, 0, 120, 300), kOutOfMemory);
    EXPECT_EQ(V().table.lines, lines);
    EXPECT_EQ(V().table.capacity, capacity);
    EXPECT_EQ(Paint(), kOk);
    EXPECT_LE(V().table.count, capacity - 1);
  }
  ASSERT_EQ(ViewOps().setViewport(view_, 0, 120, 300), kOk);
  EXPECT_GT(V().table.capacity, capacity);
  EXPECT_EQ(Paint(), kOk);
}

TEST_F(TextViewObjectTest, AttachFailuresAndDetach) {
  Open(SampleText(30));
  ASSERT_EQ(Paint(), kOk);
  LineRecord* lines = V().table.lines;
  EXPECT_EQ(ViewOps().attachDocument(view_, nullptr, nullptr), kOk);
  EXPECT_EQ(V().table.lines, lines) << "detach keeps the arrays";

  Hooks().sectionInfoFailure = kDocMalformed;
  EXPECT_EQ(ViewOps().attachDocument(view_, handler_, nullptr), kDocMalformed);
  EXPECT_EQ(V().sectionCount, 0);
  Hooks().sectionInfoFailure = kOk;
  EXPECT_EQ(ViewOps().attachDocument(view_, handler_, nullptr), kOk);
  EXPECT_EQ(V().sectionCount, 1);
}

TEST_F(TextViewObjectTest, AttachResetsModesPaginationAndHandsTheStoreBack) {
  Open(SampleText(40));
  ASSERT_EQ(Paint(), kOk);
  PaginateAll();
  V().mode = TextViewMode::ListOpen;
  V().flags |= TextViewFlag::FocusShown;
  TempDir dir;
  const std::string file = dir.File("notes.kpa");
  const std::u16string path(file.begin(), file.end());
  ASSERT_EQ(TextView_SetAnnotationPath(V(), path.c_str(), 0), kOk);
  // An open store, as the annotation binding leaves it after opening.
  ASSERT_EQ(AnnotStore_Create(path.c_str(), static_cast<std::uint32_t>(path.size()),
                              &V().annotBinding->store),
            kOk);
  Hooks().controls.clear();
  EXPECT_EQ(ViewOps().attachDocument(view_, handler_, nullptr), kOk);
  EXPECT_EQ(V().mode, TextViewMode::Idle);
  EXPECT_EQ(V().flags & (TextViewFlag::Paginated | TextViewFlag::Accepted |
                         TextViewFlag::PaginationFailed | TextViewFlag::FocusShown),
            0);
  EXPECT_EQ(V().annotBinding, nullptr) << "another document does not keep the old path";
  const auto handedBack =
      std::find(Hooks().controls.begin(), Hooks().controls.end(),
                std::make_pair(DocControl::SetAnnotations, static_cast<void*>(nullptr)));
  EXPECT_NE(handedBack, Hooks().controls.end()) << "the old handler is told to drop the store";
  EXPECT_EQ(V().pageCache, nullptr);
}

TEST_F(TextViewLayoutTest, SpacingCollapsesAndMinimumHeightApplies) {
  // Line 0: space after 6; line 1: space before 4; line 2: height and
  // spaces summing to 3.
  Open("aaa\nbbb\nccc\nddd\n", 120, 100);
  Hooks().adjust = [](std::uint32_t start, LineMetrics* m) {
    if (start == 0) m->extra = 6;
    if (start == 4) m->top = 4;
    if (start == 8) {
      m->height = 1;
      m->top = 1;
      m->extra = 1;
    }
  };
  ASSERT_EQ(Paint(), kOk);
  const TextView& v = V();
  ASSERT_EQ(v.table.count, 4);
  std::vector<std::int32_t> tops;
  for (std::uint32_t o : {0u, 4u, 8u, 12u}) {
    std::int32_t top = 0;
    ASSERT_EQ(TextView_FindLineAtOffset(v, o, &top), tops.size());
    tops.push_back(top);
  }
  const int h = v.table.lines[0].metrics.height;
  EXPECT_EQ(tops[0], 0);
  // Box of line 1 starts 6 below line 0's box, not 10.
  EXPECT_EQ(tops[1] + 4, h + 6);
  // Line 2 is raised to 5 pixels in all.
  EXPECT_EQ(v.table.lines[2].metrics.height, 3);
  EXPECT_EQ(tops[3] - tops[2], 5);
  // Hit test by y: the gap between lines 0 and 1 (max(6, 4) = 6 pixels) is
  // shared 6:4: the upper line owns 3.6, cut to 3, of it.
  std::int32_t top = 0;
  EXPECT_EQ(TextView_FindLineAtY(v, h + 2, &top), 0);
  EXPECT_EQ(TextView_FindLineAtY(v, h + 3, &top), 1);
  EXPECT_EQ(top, tops[1]);
  EXPECT_EQ(TextView_FindLineAtY(v, 99, &top), v.table.count);
}

TEST_F(TextViewLayoutTest, HitTestByYSurvivesNegativeSpacesFromTheHandler) {
  // A space after of -3 above a space before of 3: the two spaces sum to 0.
  Open("aaa\nbbb\nccc\n", 120, 100);
  Hooks().adjust = [](std::uint32_t start, LineMetrics* m) {
    if (start == 0) m->extra = -3;
    if (start == 4) m->top = 3;
  };
  ASSERT_EQ(Paint(), kOk);
  const TextView& v = V();
  ASSERT_EQ(v.table.count, 3);
  std::int32_t top1 = 0;
  ASSERT_EQ(TextView_FindLineAtOffset(v, 4, &top1), 1);
  const std::int32_t boxBottom0 = v.table.lines[0].metrics.height;
  std::int32_t top = 0;
  EXPECT_EQ(TextView_FindLineAtY(v, boxBottom0 - 1, &top), 0);
  EXPECT_EQ(top, 0);
  EXPECT_EQ(TextView_FindLineAtY(v, boxBottom0, &top), 1);
  EXPECT_EQ(top, top1);
}

TEST_F(TextViewLayoutTest, WideLinesAreFlaggedOnlyPastTheViewWidth) {
  Open("exact\nwider\n", 120, 100);
  Hooks().adjust = [](std::uint32_t start, LineMetrics* m) {
    m->indent = 0;
    m->width = start == 0 ? 120 : 121;
  };
  ASSERT_EQ(Paint(), kOk);
  ASSERT_EQ(V().table.count, 2);
  EXPECT_EQ(V().table.lines[0].lineFlags, 0);
  EXPECT_EQ(V().table.lines[1].lineFlags, kLineWiderThanView);
}

TEST_F(TextViewLayoutTest, ShortSectionEndFillsTheScreenFromAbove) {
  Open(SampleText(40), 120, 100);
  const std::uint32_t end = static_cast<std::uint32_t>(text_.size());
  {
    TextViewDrawScope draw(device_, nullptr);
    std::uint32_t o = end;
    ASSERT_EQ(TextView_EnsureSectionOf(V(), &o), kOk);
    std::uint32_t last = 0;
    ASSERT_EQ(TextView_LineStartOf(V(), draw.ctx(), end - 1, &last), kOk);
    ASSERT_EQ(TextView_Relayout(V(), draw.ctx(), 0, last), kOk);
  }
  const LineTable& t = V().table;
  EXPECT_EQ(t.lines[t.count].start, end);
  EXPECT_EQ(t.bottom, V().textHeight) << "the last line sits at the bottom";
  EXPECT_LT(t.lines[0].start, end - 1);
}

TEST_F(TextViewLayoutTest, PaintDrawsEveryLineAndReportsDeviceFailures) {
  Open(SampleText(60));
  ASSERT_EQ(Paint(), kOk);
  EXPECT_GT(V().table.count, 5);
  EXPECT_EQ(V().table.bottom >= V().textHeight, true);
  // Ink where the first line's text is, white where there is no text.
  bool ink = false;
  for (int x = 0; x < 20; ++x)
    ink = ink || F().Pixel(x, 5) != kFakeWindowColour;
  EXPECT_TRUE(ink);
  ExpectBalancedDrawing();

  F().refuseSurface = true;
  EXPECT_EQ(Paint(), kFailed);
  F().refuseSurface = false;
  F().endDrawFailure = kEndDrawWithoutBegin;
  EXPECT_EQ(Paint(), kEndDrawWithoutBegin) << "a failed EndDraw is a failed paint";
  F().endDrawFailure = kOk;
  EXPECT_EQ(Paint(), kOk);
}

TEST_F(TextViewLayoutTest, EmptyDocumentPaintsWithoutRepaginating) {
  Open("");
  ASSERT_EQ(Paint(), kOk);
  EXPECT_EQ(V().table.count, 0);
  EXPECT_TRUE(V().hasSection);
  const int resets =
      static_cast<int>(std::count_if(F().log.begin(), F().log.end(), [](const FakeCall& c) {
        return c.slot == 35 && c.args[0] == PosMapCode::Reset;
      }));
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(Paint(), kOk);
  const int after =
      static_cast<int>(std::count_if(F().log.begin(), F().log.end(), [](const FakeCall& c) {
        return c.slot == 35 && c.args[0] == PosMapCode::Reset;
      }));
  EXPECT_EQ(after, resets);
  for (std::uint16_t code : {1, 2, 5, 6, 11, 12, 24, 25, 27, 32})
    EXPECT_EQ(Nav(code, 50), kOk) << code;
  ExpectBalancedDrawing();
}

TEST_F(TextViewLayoutTest, ScrollCopiesThePictureAndDrawsOnlyTheBand) {
  Open(SampleText(80), 120, 100);
  ASSERT_EQ(Paint(), kOk);
  F().ClearLog();
  ASSERT_EQ(Nav(TextViewNav::LineDown), kOk);
  EXPECT_EQ(F().Count(7), 1) << "one area copy";
  // The band is cleared once and at most two lines are drawn into it.
  EXPECT_LE(F().Count(10), 3);
  ExpectMatchesFreshLayout("line down");
}

TEST_F(TextViewLayoutTest, HorizontalBarAppearsForWideContentAndTextHeightShrinks) {
  Open("short\n" + std::string(60, 'x') + "\n" + SampleText(20), 120, 100);
  Hooks().adjust = [](std::uint32_t start, LineMetrics* m) {
    if (start == 6) m->width = 300;
  };
  ASSERT_EQ(Paint(), kOk);
  PaginateAll();
  EXPECT_TRUE(V().flags & TextViewFlag::HScrollShown);
  EXPECT_EQ(V().contentWidth, 300);
  EXPECT_EQ(V().textHeight, 100 - kFakeHScrollHeight);
  struct Case {
    std::uint16_t code;
    std::uint32_t value;
    std::uint16_t want;
  };
  // W 120, CW 300, step 7.
  for (const Case c : {Case{2, 0, 7}, Case{1, 0, 0}, Case{4, 0, 113}, Case{3, 0, 0},
                       Case{6, 0, 180}, Case{5, 0, 0}, Case{7, 250, 180}, Case{7, 40, 40},
                       Case{2, 0, 47}, Case{7, 1000, 180}, Case{2, 0, 180}}) {
    EXPECT_EQ(ViewOps().scrollHorizontal(view_, 0, c.code, c.value), kOk);
    EXPECT_EQ(V().hScroll, c.want) << c.code << " " << c.value;
    ExpectMatchesFreshLayout("horizontal " + std::to_string(c.code));
  }
  EXPECT_EQ(ViewOps().scrollHorizontal(view_, 0, 8, 0), kNotSupported);
  EXPECT_EQ(F().hbars[0].position, 180u);
  ExpectBalancedDrawing();
}

TEST_F(TextViewLayoutTest, AnimatedMoveGrowsItsStepsFromAGentleStart) {
  Open(SampleText(300), 150, 320, TextViewOption::GentleStart);
  ASSERT_EQ(Paint(), kOk);
  F().ClearLog();
  ASSERT_EQ(Nav(6), kOk);  // a screen of textHeight = 320
  std::vector<std::int64_t> steps;
  for (const FakeCall* c : F().Calls(7))
    steps.push_back(-c->args[5]);
  std::vector<std::int64_t> want(20, 1);
  want.insert(want.end(), 5, 4);
  want.push_back(64);
  want.push_back(216);  // the last step is cut to what remains
  EXPECT_EQ(steps, want);
  ExpectMatchesFreshLayout("animated screen down");
  // Without the gentle option the move is one step.
  ASSERT_EQ(ViewOps().setOptions(view_, 0), kOk);
  F().ClearLog();
  ASSERT_EQ(Nav(6), kOk);
  EXPECT_EQ(F().Count(7), 1);
  ExpectMatchesFreshLayout("animated in one step");
}

TEST_F(TextViewLayoutTest, NavigationReportsDeviceFailures) {
  Open(SampleText(100));
  ASSERT_EQ(Paint(), kOk);
  ASSERT_EQ(Nav(6), kOk);  // away from the top, so every move has work to do
  F().refuseSurface = true;
  for (std::uint16_t code : {1, 2, 5, 6, 27, 32})
    EXPECT_EQ(Nav(code, 50), kFailed) << code;
  EXPECT_EQ(ViewOps().setScrollPosition(view_, 300), kFailed);
  F().refuseSurface = false;
  EXPECT_EQ(Nav(TextViewNav::LineDown), kOk);
  ExpectMatchesFreshLayout("after refused drawing");
}

}  // namespace
