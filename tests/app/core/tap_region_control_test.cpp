// The tap-region control's geometry: percentages set and read back, the
// bands' layout, dragging a divider and the labels.
#include "app/core/tap_region_control.h"

#include <gtest/gtest.h>

namespace {

using Four = std::array<int, kRegionBands>;

int Sum(const Four& f) {
  return f[0] + f[1] + f[2] + f[3];
}

TEST(TapRegionControlTest, SetAndGetBeforeAndAfterLayout) {
  struct Case {
    const char* why;
    Four set;
    Four before;   // read back before the control is laid out
    int client;    // client height of the layout
    Four heights;  // band heights after the layout
    Four after;    // read back after it
  };
  const Case cases[] = {
      {"quarters", {25, 25, 25, 25}, {25, 25, 25, 25}, 105, {25, 25, 25, 25}, {25, 25, 25, 25}},
      // 95 rows: the bands fill them exactly (four times 24 would be one
      // too many) and the percentages stay as they were set.
      {"rows that do not divide",
       {25, 25, 25, 25},
       {25, 25, 25, 25},
       100,
       {23, 24, 24, 24},
       {25, 25, 25, 25}},
      {"short set: the last band takes the rest",
       {10, 10, 10, 10},
       {10, 10, 10, 70},
       105,
       {10, 10, 10, 70},
       {10, 10, 10, 70}},
      {"over 100: quarters",
       {50, 50, 50, 0},
       {25, 25, 25, 25},
       105,
       {25, 25, 25, 25},
       {25, 25, 25, 25}},
      {"negative: quarters",
       {-10, 50, 50, 10},
       {25, 25, 25, 25},
       105,
       {25, 25, 25, 25},
       {25, 25, 25, 25}},
      {"empty bands", {0, 100, 0, 0}, {0, 100, 0, 0}, 205, {0, 200, 0, 0}, {0, 100, 0, 0}},
      {"thirds", {33, 33, 34, 0}, {33, 33, 34, 0}, 77, {23, 24, 25, 0}, {33, 33, 34, 0}},
  };
  for (const Case& c : cases) {
    RegionBands b;
    RegionBands_Set(&b, c.set);
    EXPECT_EQ(RegionBands_Get(b), c.before) << c.why;
    RegionBands_Layout(&b, c.client, 13);
    EXPECT_EQ(b.height, c.heights) << c.why;
    EXPECT_EQ(Sum(b.height), c.client - kRegionFrame) << c.why;
    EXPECT_EQ(RegionBands_Get(b), c.after) << c.why;
    EXPECT_EQ(b.minimumHeight, 13) << c.why;
  }
}

TEST(TapRegionControlTest, ShownSplitsComeBackUnchangedAndDraggedOnesSumTo100) {
  // A control laid out at any height gives back what it was set to, and its
  // bands fill the rows within a row of their shares.
  RegionBands b;
  for (int client : {60, 97, 305, 1000})
    for (int a = 0; a <= 100; a += 7)
      for (int c = 0; c + a <= 100; c += 13) {
        const Four set{a, c, 100 - a - c, 0};
        RegionBands_Set(&b, set);
        RegionBands_Layout(&b, client, 12);
        EXPECT_EQ(RegionBands_Get(b), set) << client << " " << a << " " << c;
        const int available = client - kRegionFrame;
        EXPECT_EQ(Sum(b.height), available);
        for (int i = 0; i < kRegionBands; ++i)
          EXPECT_LE(std::abs(b.height[i] - available * set[i] / 100), 1);
      }

  // Three bands of 33 rows in 200 (16.5 % each) and one of 101 (50.5 %):
  // rounded one by one they would make 102 and be reset to quarters when
  // set again.
  RegionBands_Set(&b, {25, 25, 25, 25});
  RegionBands_Layout(&b, 205, 12);
  RegionDrag drag;
  for (int divider = 0; divider < 3; ++divider) {
    ASSERT_TRUE(RegionBands_Press(b, RegionBands_Divider(b, divider), &drag));
    ASSERT_TRUE(RegionBands_Move(&b, &drag, RegionBands_Top(b, divider) + 33));
    RegionBands_Release(&b, &drag, true);
  }
  ASSERT_EQ(b.height, (Four{33, 33, 33, 101}));
  const Four got = RegionBands_Get(b);
  EXPECT_EQ(Sum(got), 100);
  RegionBands_Set(&b, got);
  EXPECT_EQ(RegionBands_Get(b), got);  // not reset to quarters
}

TEST(TapRegionControlTest, DraggingADivider) {
  RegionBands b;
  RegionBands_Set(&b, {25, 25, 25, 25});
  RegionBands_Layout(&b, 205, 12);  // bands of 50 at rows 1, 52, 103, 154
  EXPECT_EQ(RegionBands_Top(b, 1), 52);
  EXPECT_EQ(RegionBands_Divider(b, 0), 51);
  EXPECT_EQ(RegionBands_Divider(b, 2), 153);

  RegionDrag drag;
  EXPECT_FALSE(RegionBands_Press(b, 20, &drag));  // inside a band
  EXPECT_FALSE(RegionBands_Press(b, 56, &drag));  // five rows off
  ASSERT_TRUE(RegionBands_Press(b, 106, &drag));  // four rows below divider 1
  EXPECT_EQ(drag.divider, 1);
  EXPECT_EQ(drag.lowest, 52 + 12);
  EXPECT_EQ(drag.highest, 153 - 1 - 12);  // the band below keeps 12 rows

  EXPECT_TRUE(RegionBands_Move(&b, &drag, 92));
  EXPECT_EQ(b.height, (Four{50, 40, 60, 50}));
  EXPECT_FALSE(RegionBands_Move(&b, &drag, 92));  // no change
  // No band goes below the minimum, however far the pointer goes.
  EXPECT_TRUE(RegionBands_Move(&b, &drag, -500));
  EXPECT_EQ(b.height, (Four{50, 12, 88, 50}));
  EXPECT_TRUE(RegionBands_Move(&b, &drag, 500));
  EXPECT_EQ(b.height, (Four{50, 88, 12, 50}));
  RegionBands_Release(&b, &drag, true);
  EXPECT_FALSE(drag.active);
  EXPECT_EQ(RegionBands_Get(b), (Four{25, 44, 6, 25}));
  EXPECT_EQ(RegionBands_Label(b, 2), "[3]  6%");
  EXPECT_EQ(RegionBands_Label(b, 1), "[2] 44%");

  // A drag released outside the control leaves the bands as they were.
  ASSERT_TRUE(RegionBands_Press(b, RegionBands_Divider(b, 0), &drag));
  EXPECT_TRUE(RegionBands_Move(&b, &drag, 30));
  RegionBands_Release(&b, &drag, false);
  EXPECT_EQ(b.height, (Four{50, 88, 12, 50}));

  // Bands already thinner than the minimum never shrink further.
  RegionBands_Set(&b, {0, 100, 0, 0});
  RegionBands_Layout(&b, 105, 12);
  ASSERT_TRUE(RegionBands_Press(b, RegionBands_Divider(b, 0), &drag));
  EXPECT_EQ(drag.lowest, 1);
  EXPECT_FALSE(RegionBands_Move(&b, &drag, -3));
  EXPECT_TRUE(RegionBands_Move(&b, &drag, 30));
  EXPECT_EQ(b.height[0], 29);
  RegionBands_Release(&b, &drag, true);
  EXPECT_EQ(RegionBands_Label(b, 0), "[1] 29%");
}

}  // namespace
