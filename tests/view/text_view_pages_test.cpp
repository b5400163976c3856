// Pagination into the position map: y positions against stacking by the
// spacing rule, slice limits (256 lines, the device's time), a handler that
// is not ready or makes no progress, and the synchronous progress loop.
#include <algorithm>

#include "tests/view/text_view_fixture.h"

namespace {

using TextViewPagesTest = TextViewFixture;

int CountMap(const FakeDevice& f, std::uint16_t code) {
  return static_cast<int>(std::count_if(f.log.begin(), f.log.end(), [code](const FakeCall& c) {
    return c.slot == 35 && c.args[0] == code;
  }));
}

TEST_F(TextViewPagesTest, PaginatedPositionsEqualStackedLines) {
  const std::string text = SampleText(700, 11);
  Hooks().sectionStarts = {0, 9000};
  Hooks().adjust = [](std::uint32_t start, LineMetrics* m) {
    if (start % 3 == 0) m->top = static_cast<std::int16_t>(start % 7);
    if (start % 4 == 1) m->extra = static_cast<std::int16_t>(start % 5);
    if (start % 11 == 0) {  // a line under the minimum height
      m->height = 1;
      m->top = 0;
      m->extra = 1;
    }
  };
  Open(text, 140, 100);
  ASSERT_EQ(Nav(TextViewNav::SectionByNumber, 2), kOk);
  PaginateAll();
  const TextView& v = V();
  ASSERT_EQ(v.sectionStart, 9000u);
  // Stack the section's lines independently of the view.
  TextViewDrawScope draw(device_, nullptr);
  std::uint32_t at = v.sectionStart;
  std::int64_t running = 0;
  int prevAfter = 0, lines = 0;
  while (at < v.sectionEnd) {
    LineMetrics m{};
    std::uint32_t next = 0;
    ASSERT_EQ(OpsOf<DocHandlerOps>(handler_).layoutLine(handler_, device_, draw.ctx(), at,
                                                        v.sectionEnd, v.viewWidth, &next, &m),
              kOk);
    const int sum = m.top + m.height + m.extra;
    const int height = sum < 5 ? m.height + 5 - sum : m.height;
    const std::int64_t y = running - std::min(prevAfter, static_cast<int>(m.top));
    std::uint32_t key = at - v.sectionStart, value = 0;
    ASSERT_EQ(DeviceOf(device_).posMapCommand(device_, PosMapCode::FindByKey, &key, &value), kOk);
    ASSERT_EQ(key, at - v.sectionStart);
    ASSERT_EQ(value, y) << "line at " << at;
    running = y + m.top + height + m.extra;
    prevAfter = m.extra;
    at = next;
    ++lines;
  }
  EXPECT_GT(lines, 300);
  EXPECT_EQ(v.paginatedHeight, running);
  EXPECT_EQ(F().vMaximum, v.paginatedHeight) << "the bar's range is the section height";
}

TEST_F(TextViewPagesTest, SliceEndsAfter256LinesEvenAtTheEnd) {
  std::string text;
  for (int i = 0; i < 256; ++i)
    text += "ab\n";
  Open(text);
  ASSERT_EQ(Paint(), kOk);
  F().ClearLog();
  EXPECT_EQ(Nav(TextViewNav::PaginationSlice), kViewMorePagination);
  EXPECT_EQ(CountMap(F(), PosMapCode::Add), 256);
  EXPECT_FALSE(V().flags & TextViewFlag::Paginated);
  EXPECT_EQ(Nav(TextViewNav::PaginationSlice), kOk);
  EXPECT_TRUE(V().flags & TextViewFlag::Paginated);
  EXPECT_EQ(CountMap(F(), PosMapCode::Add), 256);
  EXPECT_EQ(CountMap(F(), PosMapCode::Finish), 1);
  EXPECT_EQ(Nav(TextViewNav::PaginationSlice), kOk) << "nothing more to do";
  ExpectBalancedDrawing();
}

TEST_F(TextViewPagesTest, SliceEndsWhenTheDevicesTimeIsUp) {
  Open(SampleText(300));
  ASSERT_EQ(Paint(), kOk);
  F().clock.step = 5;  // every reading of the clock is 5 ms later
  F().ClearLog();
  EXPECT_EQ(Nav(TextViewNav::PaginationSlice), kViewMorePagination);
  // The map reads the clock on every 8th pair; its 13th reading is the first
  // 62 ms or more after the slice began.
  EXPECT_EQ(CountMap(F(), PosMapCode::Add), 13 * kPosMapClockEvery);
  F().clock.step = 0;
  PaginateAll();
  ExpectBalancedDrawing();
}

TEST_F(TextViewPagesTest, HandlerNotReadyKeepsAskingWithoutProgress) {
  Hooks().passStep = kDocTablePassPending;
  Open(SampleText(50));
  ASSERT_EQ(Paint(), kOk);
  F().ClearLog();
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(Nav(TextViewNav::PaginationSlice), kViewMorePagination);
  EXPECT_EQ(CountMap(F(), PosMapCode::Add), 0);
  EXPECT_FALSE(V().flags & (TextViewFlag::Accepted | TextViewFlag::Paginated));
  Hooks().passStep = kOk;
  EXPECT_EQ(Nav(TextViewNav::PaginationSlice), kViewMorePagination);
  EXPECT_TRUE(V().flags & TextViewFlag::Accepted);
  PaginateAll();
  Hooks().passStep = kDocMalformed;
  ASSERT_EQ(Nav(TextViewNav::SectionByNumber, 1), kOk);
  EXPECT_TRUE(V().flags & TextViewFlag::PaginationFailed);
  EXPECT_EQ(Nav(TextViewNav::PaginationSlice), kOk) << "a failed section is not paginated again";
  ExpectBalancedDrawing();
}

TEST_F(TextViewPagesTest, HandlerWithoutProgressEndsPagination) {
  const std::string text = SampleText(100);
  Hooks().stallAt = static_cast<std::uint32_t>(text.size() / 2);
  Open(text);
  ASSERT_EQ(Paint(), kOk);
  StatusCode s = kViewMorePagination;
  int slices = 0;
  while (s == kViewMorePagination && slices < 100) {
    s = Nav(TextViewNav::PaginationSlice);
    ++slices;
  }
  EXPECT_EQ(s, kDocMalformed);
  EXPECT_LT(slices, 100);
  EXPECT_TRUE(V().flags & TextViewFlag::PaginationFailed);
  EXPECT_EQ(Nav(TextViewNav::PaginationSlice), kOk);
  // Continuous mode still works, and layout stops at the stall.
  EXPECT_EQ(Nav(TextViewNav::ScreenDown), kOk);
  ExpectBalancedDrawing();
}

struct Progress {
  int calls = 0;
  int stopAfter = 3;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> seen;
};

StatusCode ProgressHook(EngineObject*, void* user, std::uint32_t done,
                        std::uint32_t total) noexcept {
  auto* p = static_cast<Progress*>(user);
  p->seen.emplace_back(done, total);
  return ++p->calls >= p->stopAfter ? kCancelled : kOk;
}

TEST_F(TextViewPagesTest, SynchronousLoopRunsUntilTheCallbackCancels) {
  Hooks().sectionFlags = kSectionNeedsPagination;
  Open(SampleText(2000), 120, 100, TextViewOption::CopyOnce);
  ASSERT_EQ(Paint(), kOk);
  Progress progress;
  std::uint32_t interval = 0x7FFFFFFF;
  ASSERT_EQ(DeviceOf(device_).posMapCommand(device_, PosMapCode::SetInterval, &interval, nullptr),
            kOk);
  ASSERT_EQ(DeviceOf(device_).posMapCommand(device_, PosMapCode::SetCallback,
                                            reinterpret_cast<void*>(&ProgressHook), &progress),
            kOk);
  F().ClearLog();
  ASSERT_EQ(ViewOps().setViewport(view_, 0, 110, 100), kOk);  // a width change re-paginates
  // Begin (0, 0), then two steps; the third call cancels.
  EXPECT_EQ(progress.calls, 3 + 1) << "the end call follows the cancel";
  EXPECT_EQ(CountMap(F(), PosMapCode::StartSlice), 2);
  EXPECT_EQ(CountMap(F(), PosMapCode::ProgressEnd), 1);
  EXPECT_FALSE(V().flags & TextViewFlag::Paginated);
  ASSERT_GE(progress.seen.size(), 3u);
  EXPECT_EQ(progress.seen[1].second, V().sectionEnd - V().sectionStart);
  EXPECT_GT(progress.seen[2].first, progress.seen[1].first);
  // Never-paginate keeps the view continuous.
  ASSERT_EQ(ViewOps().setOptions(view_, TextViewOption::CopyOnce | TextViewOption::NeverPaginate),
            kOk);
  progress = Progress{};
  ASSERT_EQ(ViewOps().setViewport(view_, 0, 100, 100), kOk);
  EXPECT_EQ(progress.calls, 0);
  ExpectBalancedDrawing();
}

}  // namespace
