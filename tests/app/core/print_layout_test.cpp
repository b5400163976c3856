// Printed page layout (margins, points) and the chunk table's searches.
#include "app/core/print_layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(PrintLayoutTest, MarginsAndPoints) {
  struct Case {
    const char* what;
    PrinterMetrics m;
    PrintArea want;
  };
  const Case cases[] = {
      // Letter at 600 dpi with a 75-pixel unprintable rim:
      // every edge is moved to one inch from the paper's edge.
      {"letter 600 dpi",
       {600, 600, 5100, 6600, 75, 75, 4950, 6450},
       {525, 525, 3900, 5400, 468, 648}},
      // A printable area that already keeps an inch on every side is whole.
      {"wide rim", {100, 100, 1000, 1200, 100, 100, 800, 1000}, {0, 0, 800, 1000, 576, 720}},
      // Under three inches wide: no margins are added on either axis.
      {"narrow", {100, 100, 400, 1200, 10, 10, 290, 1180}, {0, 0, 290, 1180, 208, 849}},
      // A PDF page with no unprintable rim at 1200 dpi (A4).
      {"a4 full page",
       {1200, 1200, 9921, 14031, 0, 0, 9921, 14031},
       {1200, 1200, 7521, 11631, 451, 697}},
      // Unusable resolutions give an empty area rather than a division by zero.
      {"zero dpi", {0, 600, 5100, 6600, 75, 75, 4950, 6450}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PrintLayout_Compute(c.m), c.want) << c.what;
  }
}

TEST(PrintLayoutTest, ChunkSearchByPageAndOffset) {
  // Three chunks: pages 1-3, none (an empty section), 4-9; text ends 100, 100, 250.
  const std::vector<std::uint32_t> pages{3, 3, 9};
  const std::vector<std::uint32_t> ends{100, 100, 250};
  struct ByPage {
    std::uint32_t page;
    bool found;
    std::uint32_t chunk, first;
  };
  for (const ByPage& c : {ByPage{1, true, 0, 1}, ByPage{3, true, 0, 1}, ByPage{4, true, 2, 4},
                          ByPage{9, true, 2, 4}, ByPage{0, false, 0, 0}, ByPage{10, false, 0, 0}}) {
    std::uint32_t chunk = 99, first = 99;
    ASSERT_EQ(PrintChunks_FindPage(pages, c.page, &chunk, &first), c.found) << c.page;
    if (c.found) {
      EXPECT_EQ(chunk, c.chunk) << c.page;
      EXPECT_EQ(first, c.first) << c.page;
    }
  }
  struct ByOffset {
    std::uint32_t offset;
    bool found;
    std::uint32_t chunk;
  };
  for (const ByOffset& c : {ByOffset{0, true, 0}, ByOffset{99, true, 0}, ByOffset{100, true, 2},
                            ByOffset{249, true, 2}, ByOffset{250, false, 0}}) {
    std::uint32_t chunk = 99;
    ASSERT_EQ(PrintChunks_FindOffset(ends, c.offset, &chunk), c.found) << c.offset;
    if (c.found) {
      EXPECT_EQ(chunk, c.chunk) << c.offset;
    }
  }
  std::uint32_t chunk = 0, first = 0;
  EXPECT_FALSE(PrintChunks_FindPage({}, 1, &chunk, &first));
}

}  // namespace
