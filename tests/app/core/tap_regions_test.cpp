// The tap-region geometry: which band a row falls in, the bands' rows for a
// height, and what each stored action does.
#include "app/core/tap_regions.h"

#include <gtest/gtest.h>

namespace {

TEST(TapRegions, RowFallsInTheFirstBandWhoseEndLiesBelowIt) {
  struct Case {
    TapPercents percent;
    int height, y, band;
    const char* why;
  } cases[] = {
      {{25, 25, 25, 25}, 400, 0, 0, "top row"},
      {{25, 25, 25, 25}, 400, 99, 0, "last row of the first quarter"},
      {{25, 25, 25, 25}, 400, 100, 1, "a band's end row belongs to the next band"},
      {{25, 25, 25, 25}, 400, 299, 2, ""},
      {{25, 25, 25, 25}, 400, 300, 3, ""},
      {{25, 25, 25, 25}, 400, 399, 3, "bottom row"},
      {{25, 25, 25, 25}, 400, 5000, 3, "below the client area: the fourth band"},
      {{25, 25, 25, 25}, 400, -3, 0, "above the client area: the first band"},
      {{10, 20, 30, 40}, 333, 33, 1, "333 x 10 / 100 = 33 rounds down"},
      {{10, 20, 30, 40}, 333, 32, 0, ""},
      {{10, 20, 30, 40}, 333, 99, 2, "333 x 30 / 100 = 99"},
      {{10, 20, 30, 40}, 333, 199, 3, "333 x 60 / 100 = 199.8 -> 199"},
      {{10, 20, 30, 40}, 333, 198, 2, ""},
      {{0, 0, 0, 100}, 400, 0, 3, "empty bands are skipped"},
      {{0, 50, 0, 50}, 400, 0, 1, ""},
      {{0, 50, 0, 50}, 400, 200, 3, ""},
      {{10, 10, 10, 10}, 100, 60, 3, "a sum under 100: the fourth takes the rest"},
      {{200, 200, 200, 200}, 100, 150, 0, "a damaged record: the first band reaches past the area"},
      {{200, 200, 200, 200}, 100, 99, 0, "a damaged record: the first band covers all"},
      {{25, 25, 25, 25}, 0, 0, 3, "no client area"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TapRegion_At(c.y, c.height, c.percent), c.band)
        << "y " << c.y << " height " << c.height << ": " << c.why;
}

TEST(TapRegions, BandsCoverTheHeightExactlyAsRowsAreAssigned) {
  const TapPercents tables[] = {{25, 25, 25, 25},     {10, 20, 30, 40}, {0, 0, 0, 100},
                                {33, 33, 33, 1},      {10, 10, 10, 10}, {90, 90, 0, 0},
                                {255, 255, 255, 255}, {0, 0, 0, 0}};
  const int heights[] = {0, 1, 7, 100, 333, 1080};
  for (const TapPercents& p : tables) {
    for (int h : heights) {
      const auto bands = TapRegion_Bands(h, p);
      EXPECT_EQ(bands[0].top, 0);
      EXPECT_EQ(bands[3].bottom, h);
      for (int i = 0; i < kTapBandCount; ++i) {
        EXPECT_LE(bands[i].top, bands[i].bottom);
        if (i > 0) {
          EXPECT_EQ(bands[i].top, bands[i - 1].bottom);
        }
      }
      // Every row of the area lies in the band TapRegion_At names.
      for (int y = 0; y < h; ++y) {
        const int band = TapRegion_At(y, h, p);
        EXPECT_GE(y, bands[band].top) << "height " << h << " y " << y;
        EXPECT_LT(y, bands[band].bottom) << "height " << h << " y " << y;
      }
    }
  }
}

TEST(TapRegions, BandsOfKnownLayouts) {
  using B = TapBand;
  using Bands = std::array<TapBand, kTapBandCount>;
  EXPECT_EQ(TapRegion_Bands(400, {25, 25, 25, 25}),
            (Bands{B{0, 100}, {100, 200}, {200, 300}, {300, 400}}));
  EXPECT_EQ(TapRegion_Bands(333, {10, 20, 30, 40}),
            (Bands{B{0, 33}, {33, 99}, {99, 199}, {199, 333}}));
  EXPECT_EQ(TapRegion_Bands(100, {80, 80, 0, 0}),
            (Bands{B{0, 80}, {80, 100}, {100, 100}, {100, 100}}));
  EXPECT_EQ(TapRegion_Bands(-5, {25, 25, 25, 25}), (Bands{}));
}

TEST(TapRegions, ActionsAndWhatTheyScroll) {
  struct Case {
    std::uint8_t action;
    bool drag;
    TapScroll scroll;
  } cases[] = {
      {0, true, TapScroll::Nothing},   {1, false, TapScroll::ScreenUp},
      {2, false, TapScroll::LineUp},   {3, false, TapScroll::Nothing},
      {4, false, TapScroll::LineDown}, {5, false, TapScroll::ScreenDown},
      {6, false, TapScroll::Nothing},  {255, false, TapScroll::Nothing},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TapRegion_IsDrag(c.action), c.drag) << int(c.action);
    EXPECT_EQ(TapRegion_Scroll(c.action), c.scroll) << int(c.action);
  }
}

}  // namespace
