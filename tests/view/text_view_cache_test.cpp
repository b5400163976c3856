// The page cache: pages tile the section a page height apart, moves past the
// ends are pending, 32 pages are kept in LRU order in a pool whose free runs
// stay sorted and merged.
#include <algorithm>
#include <numeric>

#include "tests/view/text_view_fixture.h"

namespace {

class TextViewCacheTest : public TextViewFixture {
 protected:
  const TextViewOps& O() { return ViewOps(); }
  int Measures() { return F().Count(14); }
  // Free runs sorted, separated (merged) and with the used records adding
  // up to the pool.
  void ExpectPoolSound() {
    std::uint16_t pairs[2 * 1024];
    const std::uint16_t n = PageCache_FreeRuns(V(), pairs, 1024);
    int free = 0;
    for (std::uint16_t i = 0; i < n; ++i) {
      free += pairs[2 * i + 1];
      if (i > 0) {
        EXPECT_GT(pairs[2 * i], pairs[2 * i - 2] + pairs[2 * i - 1]) << "sorted and merged";
      }
    }
    EXPECT_LE(free, 1024);
  }
  // The section y of the page's top: its first line's map y less its extra top.
  std::int64_t PageTop() {
    std::uint32_t key = V().table.lines[0].start - V().sectionStart, y = 0;
    EXPECT_EQ(DeviceOf(device_).posMapCommand(device_, PosMapCode::FindByKey, &key, &y), kOk);
    return std::int64_t{y} - V().table.extraTop;
  }
};

TEST_F(TextViewCacheTest, NoCacheAnswersFailed) {
  Open(SampleText(20));
  std::int32_t page = 0;
  EXPECT_EQ(O().pageCacheSetPageNumber(view_, 3), kFailed);
  EXPECT_EQ(O().pageCacheGetPageNumber(view_, &page), kFailed);
  EXPECT_EQ(O().pageCacheGoToPage(view_, nullptr, 1, nullptr, nullptr), kFailed);
  EXPECT_EQ(O().pageCacheGetPageOfPosition(view_, &page, nullptr), kFailed);
}

TEST_F(TextViewCacheTest, PagesTileTheSectionOnePageHeightApart) {
  Open(SampleText(600, 9), 150, 100);
  ASSERT_EQ(Paint(), kOk);
  PaginateAll();
  std::uint16_t edges = 0;
  ASSERT_EQ(O().pageCacheReset(view_, 150, 100, &edges), kOk);
  EXPECT_EQ(edges, 1) << "the first page begins the section";
  std::int16_t blank = -1;
  for (std::int32_t page = 0; page < 12; ++page) {
    ASSERT_EQ(O().pageCacheGoToPage(view_, &device_, page, &blank, &edges), kOk) << page;
    EXPECT_EQ(PageTop(), page * 100) << "page " << page;
    EXPECT_EQ(edges & 1, page == 0 ? 1 : 0);
    ExpectMatchesFreshLayout("page " + std::to_string(page));
  }
  // Back again, through the cache.
  const int before = Measures();
  for (std::int32_t page = 10; page >= 0; --page) {
    ASSERT_EQ(O().pageCacheGoToPage(view_, &device_, page, &blank, &edges), kOk);
    EXPECT_EQ(PageTop(), page * 100) << "page " << page;
  }
  EXPECT_EQ(Measures() - before, 0) << "cached pages need no layout";
  std::int32_t page = -1;
  ASSERT_EQ(O().pageCacheGetPageNumber(view_, &page), kOk);
  EXPECT_EQ(page, 0);
  ExpectPoolSound();
  ExpectBalancedDrawing();
}

TEST_F(TextViewCacheTest, MovesPastTheEndsArePendingAndLimited) {
  Open(SampleText(60, 9), 150, 100);
  ASSERT_EQ(Paint(), kOk);
  std::uint16_t edges = 0;
  ASSERT_EQ(O().pageCacheReset(view_, 150, 100, &edges), kOk);
  ASSERT_EQ(O().pageCacheGoToPage(view_, nullptr, 0, nullptr, &edges), kOk);
  EXPECT_EQ(O().pageCacheGoToPage(view_, nullptr, 1001, nullptr, &edges), kFailed);
  EXPECT_EQ(O().pageCacheGoToPage(view_, nullptr, -1001, nullptr, &edges), kFailed);
  std::int32_t page = -1;
  ASSERT_EQ(O().pageCacheGetPageNumber(view_, &page), kOk);
  EXPECT_EQ(page, 0);
  // Back 3 from the first page: pending -3; forward 3 needs no layout.
  ASSERT_EQ(O().pageCacheGoToPage(view_, nullptr, -3, nullptr, &edges), kOk);
  EXPECT_EQ(PageCache_PendingDelta(V()), -3);
  const int before = Measures();
  ASSERT_EQ(O().pageCacheGoToPage(view_, nullptr, 0, nullptr, &edges), kOk);
  EXPECT_EQ(Measures(), before);
  EXPECT_EQ(PageCache_PendingDelta(V()), 0);
  EXPECT_EQ(edges & 1, 1);
  // 1000 forward is allowed: the short section ends early, the rest pends.
  ASSERT_EQ(O().pageCacheGoToPage(view_, nullptr, 1000, nullptr, &edges), kOk);
  ASSERT_EQ(O().pageCacheGetPageNumber(view_, &page), kOk);
  EXPECT_EQ(page, 1000);
  EXPECT_GT(PageCache_PendingDelta(V()), 900);
  // Back to the last real page.
  const std::int32_t last = 1000 - PageCache_PendingDelta(V());
  std::int16_t blank = -1;
  ASSERT_EQ(O().pageCacheGoToPage(view_, nullptr, last, &blank, &edges), kOk);
  EXPECT_EQ(edges & 2, 2) << "the last page ends the section";
  EXPECT_GE(blank, 0);
}

TEST_F(TextViewCacheTest, ThirtyThirdPageEvictsTheLeastRecentlyUsed) {
  Open(SampleText(1500, 9), 150, 100);
  ASSERT_EQ(Paint(), kOk);
  std::uint16_t edges = 0;
  ASSERT_EQ(O().pageCacheReset(view_, 150, 100, &edges), kOk);
  for (std::int32_t page = 0; page <= 32; ++page) {
    ASSERT_EQ(O().pageCacheGoToPage(view_, nullptr, page, nullptr, &edges), kOk);
    EXPECT_EQ(PageCache_CachedPages(V()), std::min(page + 1, 32));
    ExpectPoolSound();
  }
  int before = Measures();
  ASSERT_EQ(O().pageCacheGoToPage(view_, nullptr, 2, nullptr, &edges), kOk);
  EXPECT_EQ(Measures(), before) << "pages 2-31 are still kept";
  before = Measures();
  ASSERT_EQ(O().pageCacheGoToPage(view_, nullptr, 0, nullptr, &edges), kOk);
  EXPECT_GT(Measures(), before) << "page 0 was the least recently used and went";
  EXPECT_EQ(edges & 1, 1);
  ExpectPoolSound();
}

TEST_F(TextViewCacheTest, PoolRunsStayMergedUnderEvictionPressure) {
  // Tall pages of uneven line counts fill the 1024-record pool after a few
  // pages, so runs of different lengths are freed next to free runs.
  Hooks().adjust = [](std::uint32_t start, LineMetrics* m) {
    if (start % 3 == 0) m->height = static_cast<std::int16_t>(10 + start % 23);
  };
  Open(SampleText(6000, 13), 150, 1000);
  ASSERT_EQ(Paint(), kOk);
  std::uint16_t edges = 0;
  ASSERT_EQ(O().pageCacheReset(view_, 150, 1000, &edges), kOk);
  unsigned x = 5;
  for (int i = 0; i < 120; ++i) {
    x = x * 1103515245u + 12345u;
    const std::int32_t page = static_cast<std::int32_t>((x >> 16) % 40);
    ASSERT_EQ(O().pageCacheGoToPage(view_, nullptr, page, nullptr, &edges), kOk);
    ExpectPoolSound();
    if (HasFailure()) return;
    EXPECT_GE(PageCache_CachedPages(V()), 1);
  }
  ExpectBalancedDrawing();
}

TEST_F(TextViewCacheTest, PositionLinesAndScrollHelpers) {
  Open(SampleText(500, 9), 150, 100);
  ASSERT_EQ(Paint(), kOk);
  PaginateAll();
  ASSERT_EQ(Nav(TextViewNav::Fraction, 400), kOk);
  std::uint16_t edges = 0;
  ASSERT_EQ(O().pageCacheReset(view_, 150, 100, &edges), kOk);
  std::int32_t page = -1;
  std::uint32_t y = 0;
  const std::int64_t top = PageTop();
  ASSERT_EQ(O().pageCacheGetPageOfPosition(view_, &page, &y), kOk);
  EXPECT_EQ(page * 100 + std::int64_t{y}, top);
  EXPECT_LT(y, 100u);
  // The line at y 0 of the page starts at or above the page top.
  std::int16_t lineTop = 1;
  std::uint32_t offset = 0;
  ASSERT_EQ(O().pageCacheGetPageStart(view_, page, 0, &lineTop, &offset), kOk);
  EXPECT_LE(lineTop, 0);
  // Copying the page from y shows the view where it was.
  const std::uint32_t first = V().table.lines[0].start;
  ASSERT_EQ(O().pageCacheCopyPageLines(view_, page, static_cast<std::int16_t>(y)), kOk);
  EXPECT_EQ(V().table.lines[0].start, first);
  EXPECT_EQ(PageTop(), top);
  EXPECT_EQ(O().pageCacheRefreshPage(view_, page, static_cast<std::int16_t>(y), &edges),
            y == 0 ? kOk : kNo);
  EXPECT_EQ(O().pageCacheRefreshPage(view_, page, static_cast<std::int16_t>(y), &edges), kOk);
  // Scroll clamps: at most into the neighbouring page.
  std::int16_t amount = 250;
  ASSERT_EQ(O().pageCacheClampScroll(view_, page, static_cast<std::int16_t>(y), &amount), kOk);
  EXPECT_EQ(amount, static_cast<std::int16_t>(y + 100));
  std::int16_t step = -1;
  EXPECT_EQ(O().pageCacheGetLineInfo(view_, page, 10, &step), kFailed);
  step = 50;
  ASSERT_EQ(O().pageCacheGetLineInfo(view_, page, 10, &step), kOk);
  EXPECT_LE(step, V().scrollStep);
  ASSERT_EQ(O().pageCacheUpdateScrollBar(view_, page, static_cast<std::int16_t>(y)), kOk);
  EXPECT_EQ(F().vPosition, static_cast<std::uint32_t>(top));
  EXPECT_EQ(F().vMaximum, V().paginatedHeight);
  // Attaching again frees the cache.
  ASSERT_EQ(ViewOps().attachDocument(view_, handler_, nullptr), kOk);
  EXPECT_EQ(O().pageCacheGetPageNumber(view_, &page), kFailed);
}

}  // namespace
