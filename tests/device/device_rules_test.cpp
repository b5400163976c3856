// The rules every device shares: colour precedence of text, backgrounds,
// fills, lines and boxes under plain mode and the colour theme, theme
// entries, face names, underline and bullet geometry, scroll values, and
// the keyed horizontal bars.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "engine/device/device.h"

namespace {

bool Same(DeviceColour a, DeviceColour b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

TEST(DeviceColours, TextAndBackgroundPrecedence) {
  using namespace DeviceFontStyle;
  const DeviceColour text{10, 20, 30}, back{40, 50, 60};
  const DeviceColour themeText{1, 2, 3}, themeBack{4, 5, 6};
  DeviceTheme off, on{true, false, themeText, themeBack},
      suspended{true, true, themeText, themeBack};
  struct Case {
    const char* what;
    std::uint16_t style;
    bool plain;
    DeviceTheme theme;
    bool changeText;
    DeviceColour wantText;
    bool opaque;
    DeviceColour wantBack;
  } cases[] = {
      {"nothing asked", 0, false, off, false, {}, false, {}},
      {"own colours", TextColour | BackColour, false, off, true, text, true, back},
      {"theme wins over own", TextColour | BackColour, false, on, true, themeText, true, themeBack},
      {"background that wins", TextColour | BackWins, false, on, true, themeText, true, back},
      {"suspended theme", TextColour | BackColour, false, suspended, true, text, true, back},
      {"suspended, nothing own", 0, false, suspended, false, {}, false, {}},
      {"plain ignores colours", TextColour | BackWins, true, on, false, {}, false, {}},
      {"plain inverse", PlainInverse, true, off, true, {255, 255, 255}, true, {0, 0, 0}},
  };
  for (const auto& c : cases) {
    const DeviceFontSpec spec{DeviceFace::Serif, 10, c.style, text, back};
    const DeviceTextColours got = Device_TextColours(spec, c.plain, c.theme);
    EXPECT_EQ(got.changeText, c.changeText) << c.what;
    if (c.changeText) {
      EXPECT_EQ(std::memcmp(&got.text, &c.wantText, 3), 0) << c.what;
    }
    EXPECT_EQ(got.opaque, c.opaque) << c.what;
    if (c.opaque) {
      EXPECT_EQ(std::memcmp(&got.background, &c.wantBack, 3), 0) << c.what;
    }
  }
}

TEST(DeviceColours, FillsAndLines) {
  const DeviceColour given{7, 8, 9};
  const DeviceTheme off, on{true, false, {1, 2, 3}, {4, 5, 6}},
      suspended{true, true, {1, 2, 3}, {4, 5, 6}};
  EXPECT_TRUE(Same(Device_FillColour(&given, false, off), given));
  // A null colour is the window colour, except that a theme colours it: the
  // text view clears its bands with a null colour.
  EXPECT_TRUE(Same(Device_FillColour(nullptr, false, off), kDeviceWindowColour));
  EXPECT_TRUE(Same(Device_FillColour(nullptr, false, on), on.background));
  EXPECT_TRUE(Same(Device_FillColour(nullptr, true, on), kDeviceWindowColour));
  EXPECT_TRUE(Same(Device_FillColour(&given, true, on), kDeviceWindowColour));
  EXPECT_TRUE(Same(Device_FillColour(&given, false, suspended), on.background));  // fills keep it
  EXPECT_TRUE(Same(Device_LineColour(&given, false, off), given));
  EXPECT_TRUE(Same(Device_LineColour(nullptr, false, off), kDeviceBlack));
  EXPECT_TRUE(Same(Device_LineColour(&given, false, on), on.text));
  EXPECT_TRUE(Same(Device_LineColour(&given, false, suspended), given));
  EXPECT_TRUE(Same(Device_LineColour(&given, true, on), kDeviceBlack));
}

TEST(DeviceColours, BoxFillAndFrame) {
  const DeviceColour frame{7, 8, 9}, fill{70, 80, 90};
  const DeviceTheme off, on{true, false, {1, 2, 3}, {4, 5, 6}},
      suspended{true, true, {1, 2, 3}, {4, 5, 6}};
  struct Case {
    const char* what;
    const DeviceColour* frame;
    const DeviceColour* fill;
    bool plain;
    DeviceTheme theme;
    bool filled;
    DeviceColour wantFill, wantFrame;
  } cases[] = {
      {"own colours", &frame, &fill, false, off, true, fill, frame},
      {"frame only", &frame, nullptr, false, off, false, {}, frame},
      {"fill with a null frame: black frame", nullptr, &fill, false, off, true, fill, kDeviceBlack},
      {"plain: white fill, black frame", &frame, &fill, true, on, true, kDeviceWindowColour,
       kDeviceBlack},
      {"plain without fill", &frame, nullptr, true, off, false, {}, kDeviceBlack},
      {"theme: no fill, theme frame", &frame, &fill, false, on, false, {}, on.text},
      {"suspended theme: own colours", &frame, &fill, false, suspended, true, fill, frame},
  };
  for (const auto& c : cases) {
    const DeviceBoxColours got = Device_BoxColours(c.frame, c.fill, c.plain, c.theme);
    EXPECT_EQ(got.filled, c.filled) << c.what;
    if (c.filled) {
      EXPECT_TRUE(Same(got.fill, c.wantFill)) << c.what;
    }
    EXPECT_TRUE(Same(got.frame, c.wantFrame)) << c.what;
  }
}

TEST(DeviceColours, ThemeEntries) {
  DeviceTheme theme;
  const DeviceThemeEntry both[2] = {{2, {1, 2, 3}}, {1, {9, 9, 9}}};
  Device_SetTheme(&theme, both);
  EXPECT_TRUE(theme.on);
  EXPECT_TRUE(Same(theme.background, {1, 2, 3}));
  EXPECT_TRUE(Same(theme.text, {9, 9, 9}));
  // A later theme with one entry (and an unknown slot) takes the default for
  // the other colour, not the earlier theme's.
  theme.suspended = true;
  const DeviceThemeEntry textOnly[2] = {{1, {5, 5, 5}}, {7, {6, 6, 6}}};
  Device_SetTheme(&theme, textOnly);
  EXPECT_TRUE(Same(theme.text, {5, 5, 5}));
  EXPECT_TRUE(Same(theme.background, DeviceTheme{}.background));
  EXPECT_TRUE(theme.suspended);  // suspension is its own property
  Device_SetTheme(&theme, nullptr);
  EXPECT_FALSE(theme.on);
  EXPECT_TRUE(Same(theme.text, DeviceTheme{}.text));
  Device_SetTheme(nullptr, both);  // no record: nothing happens
}

TEST(DeviceFaces, SlotsAndNameLength) {
  const char16_t* longName = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghij";  // 36 characters
  struct Case {
    std::uint16_t slot;
    const char16_t* name;
    int wantSlot;
    std::uint32_t wantLength;
  } cases[] = {
      {0xFFFF, u"Sans", 0, 4}, {1, u"Serif", 1, 5},   {5, longName, 5, 31},  // kept to 31
      {3, u"", 3, 0},          {2, nullptr, 2, 0},    {0, u"x", -1, 0},
      {6, u"x", -1, 0},        {0xFFFE, u"x", -1, 0},
  };
  for (const auto& c : cases) {
    std::uint32_t length = 0;
    EXPECT_EQ(Device_FaceName(DeviceFaceName{c.slot, c.name}, &length), c.wantSlot) << c.slot;
    if (c.wantSlot >= 0) {
      EXPECT_EQ(length, c.wantLength) << c.slot;
    }
  }
}

TEST(DeviceGeometry, UnderlineOffsetAndBullet) {
  using namespace DeviceTextAlign;
  EXPECT_EQ(Device_UnderlineOffset(Baseline, 2), 1);
  EXPECT_EQ(Device_UnderlineOffset(Baseline, 0), -1);
  EXPECT_EQ(Device_UnderlineOffset(Baseline | Advance, 5), 2);
  EXPECT_EQ(Device_UnderlineOffset(Bottom, 5), -1);
  EXPECT_EQ(Device_UnderlineOffset(Top, 5), kDeviceNoUnderline);
  const DeviceRect box = Device_BulletBox(100, 50, 16);
  EXPECT_EQ(box.left, 100);
  EXPECT_EQ(box.top, 41);
  EXPECT_EQ(box.right, 106);
  EXPECT_EQ(box.bottom, 47);
  const DeviceRect huge = Device_BulletBox(32000, -32000, 0x7FFFFFFF);
  EXPECT_EQ(huge.top, INT16_MIN);
  EXPECT_EQ(huge.right, INT16_MAX);
}

TEST(DeviceScrollRules, ValuesAreClampedAndMappedToABar) {
  struct Case {
    std::uint32_t position, pageEnd, maximum;
    std::uint32_t wantPosition, wantPage;
    int barMaximum, barValue;
  } cases[] = {
      {0, 100, 1000, 0, 100, 901, 0},
      {950, 1050, 1000, 950, 50, 951, 950},  // page end clamped to the maximum
      {500, 400, 1000, 400, 0, 1000, 400},   // position beyond the page end: empty page
      {0, 0, 0, 0, 0, 0, 0},
      {0, 0xFFFFFFFF, 0xFFFFFFFF, 0, 0xFFFFFFFF, 1, 0},
      {0x90000000, 0x90000010, 0xFFFFFFFF, 0x90000000, 16, 0x7FFFFFFF, 0x7FFFFFFF},
  };
  for (const auto& c : cases) {
    const DeviceScroll v = Device_ScrollValues(c.position, c.pageEnd, c.maximum);
    EXPECT_EQ(v.position, c.wantPosition);
    EXPECT_EQ(v.page, c.wantPage);
    EXPECT_EQ(v.barMaximum, c.barMaximum) << c.position << " " << c.pageEnd;
    EXPECT_EQ(v.barValue, c.barValue);
  }
}

TEST(DeviceScrollRules, ThirtyTwoKeyedBars) {
  DeviceHScrollKeys keys;
  EXPECT_EQ(keys.First(), -1);
  EXPECT_EQ(keys.Acquire(kNoHScrollKey), -1);
  for (std::uint32_t k = 0; k < 32; ++k)
    ASSERT_EQ(keys.Acquire(1000 + k), static_cast<int>(k));
  EXPECT_EQ(keys.Acquire(5000), -1);  // a 33rd
  EXPECT_EQ(keys.InUse(), 32);
  EXPECT_EQ(keys.Find(1007), 7);
  EXPECT_EQ(keys.SlotOfControl(50007), 7);
  keys.Release(7);
  EXPECT_EQ(keys.Find(1007), -1);
  EXPECT_EQ(keys.SlotOfControl(50007), -1);
  EXPECT_EQ(keys.SlotOfControl(49999), -1);
  EXPECT_EQ(keys.SlotOfControl(50032), -1);
  EXPECT_EQ(keys.Acquire(77), 7);  // the first free slot is reused
  EXPECT_EQ(keys.KeyAt(7), 77u);
  EXPECT_EQ(keys.Find(kNoHScrollKey), -1);  // a free slot is never found as a key
}

}  // namespace
