// The device contract as the recording fake device keeps it: the slot
// table, drawing nesting, margin and clipping, properties, text metrics and
// output, the clipboard, scroll bars, notices and the progress protocol.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/device/device.h"
#include "engine/runtime/module_table.h"
#include "tests/support/fake_device.h"

namespace {

const std::uint8_t* Bytes(const char* s) {
  return reinterpret_cast<const std::uint8_t*>(s);
}
std::uint32_t Len(const char* s) {
  return static_cast<std::uint32_t>(std::strlen(s));
}

class DeviceTest : public testing::Test {
 protected:
  void SetUp() override {
    dev = FakeDevice_Open(100, 50, 4);
    ASSERT_NE(dev, nullptr);
  }
  void TearDown() override { FakeDevice_Close(dev); }
  const DeviceOps& ops() const { return DeviceOf(dev); }
  FakeDevice& fake() { return FakeDevice_Of(dev); }
  void Begin() { ASSERT_EQ(ops().beginDraw(dev, &ctx), kOk); }
  void End() { ASSERT_EQ(ops().endDraw(dev, ctx), kOk); }
  EngineObject* dev = nullptr;
  DeviceContext ctx = nullptr;
};

TEST(DeviceContract, TableHasFortyThreeWordsWithEndsNotImplemented) {
  static_assert(sizeof(DeviceOps) == 43 * sizeof(void*));
  const DeviceOps& ops = DeviceOf(&FakeDeviceModule);
  EXPECT_EQ(ops.word0(&FakeDeviceModule), kFailed);
  EXPECT_EQ(ops.end(&FakeDeviceModule), kFailed);
  // The engine reaches the host's device through the module table.
  EXPECT_EQ(g_WinDeviceModule, &FakeDeviceModule);
  EXPECT_EQ(kPosMapSliceElapsed, 0x07010001);
  EXPECT_EQ(kNoHScrollForControl, static_cast<StatusCode>(0x87010009u));
}

TEST(DeviceContract, ZoomArithmetic) {
  const int expected[8] = {14, 12, 10, 8, 6, 5, 4, 4};
  for (std::uint16_t i = 0; i < 8; ++i)
    EXPECT_EQ(Device_ZoomPoints(i, 10), expected[i]) << i;
  const int fixed[8] = {18, 14, 12, 10, 8, 7, 6, 5};
  for (std::uint16_t i = 0; i < 8; ++i)
    EXPECT_EQ(Device_FixedPoints(i), fixed[i]) << i;
}

TEST_F(DeviceTest, NestingOnlyOutermostEndReleases) {
  EXPECT_EQ(ops().endDraw(dev, nullptr), kEndDrawWithoutBegin);
  EXPECT_EQ(fake().depth, 0);
  Begin();
  EXPECT_NE(ctx, nullptr);  // the device supplied a context
  DeviceContext inner = ctx;
  ASSERT_EQ(ops().beginDraw(dev, &inner), kOk);
  DeviceRect narrow{10, 10, 20, 20}, previous{};
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &narrow, &previous, DeviceSurface::ClipIntersect), kOk);
  EXPECT_EQ(previous.left, 0);  // (margin, 0, w - margin, h) seen without the margin
  EXPECT_EQ(previous.right, 92);
  EXPECT_EQ(previous.bottom, 50);
  ASSERT_EQ(ops().endDraw(dev, inner), kOk);
  DeviceRect clip{};
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &clip, nullptr, DeviceSurface::GetClip), kOk);
  EXPECT_EQ(clip.left, 10);  // the inner end kept the clip
  End();
  EXPECT_EQ(fake().depth, 0);
  EXPECT_EQ(ops().endDraw(dev, ctx), kEndDrawWithoutBegin);
  EXPECT_EQ(fake().depth, 0);
  // A second paint starts from the full window again.
  Begin();
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &clip, nullptr, DeviceSurface::GetClip), kOk);
  EXPECT_EQ(clip.left, 0);
  EXPECT_EQ(clip.right, 92);
  End();
  // Logged with the depth each call came in at.
  const auto begins = fake().Calls(5);
  ASSERT_GE(begins.size(), 2u);
  EXPECT_EQ(begins[0]->depth, 0);
  EXPECT_EQ(begins[1]->depth, 1);
}

// Long runs switch the call log off; nesting must still work and record
// nothing (it once wrote through the back of the empty log).
TEST_F(DeviceTest, NestingWithTheLogOffRecordsNothing) {
  fake().logging = false;
  fake().log.clear();
  Begin();
  DeviceContext inner = ctx;
  ASSERT_EQ(ops().beginDraw(dev, &inner), kOk);
  ASSERT_EQ(ops().endDraw(dev, inner), kOk);
  End();
  EXPECT_EQ(ops().endDraw(dev, ctx), kEndDrawWithoutBegin);
  EXPECT_EQ(fake().depth, 0);
  EXPECT_TRUE(fake().log.empty());
}

TEST_F(DeviceTest, NoSurfaceWithoutWindowAndDrawingNeedsBegin) {
  ASSERT_EQ(ops().setProperty(dev, nullptr, 0, 0), kOk);
  EXPECT_EQ(fake().window, nullptr);
  EXPECT_EQ(fake().width, 0);
  EXPECT_EQ(ops().beginDraw(dev, &ctx), kFailed);
  EXPECT_EQ(fake().depth, 0);
  EXPECT_EQ(ops().fillRect(dev, ctx, 0, 0, 5, 5, nullptr), kFailed);
  std::int16_t w = 0;
  EXPECT_EQ(ops().measureWidth(dev, ctx, Bytes("ab"), 2, &w), kFailed);
  // A context of the host's own is enough.
  int hostContext = 0;
  DeviceContext given = &hostContext;
  EXPECT_EQ(ops().beginDraw(dev, &given), kOk);
  EXPECT_EQ(given, &hostContext);
  EXPECT_EQ(ops().endDraw(dev, given), kOk);
}

TEST_F(DeviceTest, WindowOfWidthZeroIsNotAProperty) {
  int window = 0;
  // (window, 0, 7) through slot 3 would mean "plain mode on".
  ASSERT_EQ(Device_SetWindow(dev, &window, 0, 7), kOk);
  EXPECT_FALSE(fake().plainMode);
  EXPECT_EQ(fake().window, &window);
  EXPECT_EQ(fake().width, 0);
  EXPECT_EQ(fake().height, 7);
  ASSERT_EQ(Device_SetWindow(dev, &window, 30, 6), kOk);
  EXPECT_EQ(fake().printer, nullptr);
  EXPECT_EQ(fake().width, 30);
  ASSERT_EQ(Device_SetWindow(dev, &window, 0, 0), kOk);
  EXPECT_EQ(fake().height, 0);
}

TEST_F(DeviceTest, GetPropertyCodes) {
  std::int16_t v = -1;
  EXPECT_EQ(ops().getProperty(dev, DeviceInfo::UsableWidth, &v), kOk);
  EXPECT_EQ(v, 92);
  EXPECT_EQ(ops().getProperty(dev, DeviceInfo::Height, &v), kOk);
  EXPECT_EQ(v, 50);
  EXPECT_EQ(ops().getProperty(dev, DeviceInfo::HScrollHeight, &v), kOk);
  EXPECT_EQ(v, kFakeHScrollHeight);
  EXPECT_EQ(ops().getProperty(dev, DeviceInfo::UsableHeight, &v), kOk);
  EXPECT_EQ(v, 50);  // no bar in use
  ASSERT_EQ(ops().createHScrollBar(dev, 7, 0, 10, 40, 0), kOk);
  EXPECT_EQ(ops().getProperty(dev, DeviceInfo::UsableHeight, &v), kOk);
  EXPECT_EQ(v, 50 - kFakeHScrollHeight);
  std::uint8_t depth = 0;
  EXPECT_EQ(ops().getProperty(dev, DeviceInfo::Depth, &depth), kOk);
  EXPECT_EQ(depth, 24);
  std::uint32_t charset = 1;
  EXPECT_EQ(ops().getProperty(dev, DeviceInfo::Charset, &charset), kOk);
  EXPECT_EQ(charset, 0u);
  for (std::int16_t code : {std::int16_t{7}, DeviceInfo::TableWidth, DeviceInfo::PointerKind,
                            DeviceInfo::NestedTableWidth, DeviceInfo::ImageSizes}) {
    v = 1234;
    EXPECT_EQ(ops().getProperty(dev, code, &v), kNotSupported) << code;
    EXPECT_EQ(v, 1234);
  }
  // Horizontal bars off or printing: no bar height.
  std::uint32_t off = 0;
  ASSERT_EQ(ops().setProperty(dev, &off, 0, DeviceProp::HScrollBars), kOk);
  EXPECT_EQ(ops().getProperty(dev, DeviceInfo::HScrollHeight, &v), kOk);
  EXPECT_EQ(v, 0);
  for (std::int16_t inert : {11, 12, 13, 14, 16, 18})
    EXPECT_EQ(ops().setProperty(dev, nullptr, 0, inert), kOk);
}

TEST_F(DeviceTest, MarginShiftsDrawingAndClip) {
  Begin();
  const DeviceColour blue{0, 0, 255};
  ASSERT_EQ(ops().fillRect(dev, ctx, -10, 0, 200, 5, &blue), kOk);
  // Clipped to (margin, 0, width - margin, height) on the surface.
  EXPECT_EQ(fake().Pixel(3, 0), kFakeWindowColour);
  EXPECT_EQ(fake().Pixel(4, 0), 0x0000FFu);
  EXPECT_EQ(fake().Pixel(95, 4), 0x0000FFu);
  EXPECT_EQ(fake().Pixel(96, 4), kFakeWindowColour);
  EXPECT_EQ(fake().Pixel(4, 5), kFakeWindowColour);
  // A replaced clip is shifted by the margin too.
  DeviceRect r{0, 10, 2, 12};
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &r, nullptr, DeviceSurface::ClipReplace), kOk);
  ASSERT_EQ(ops().fillRect(dev, ctx, 0, 0, 50, 50, &blue), kOk);
  EXPECT_EQ(fake().Pixel(4, 10), 0x0000FFu);
  EXPECT_EQ(fake().Pixel(5, 11), 0x0000FFu);
  EXPECT_EQ(fake().Pixel(6, 11), kFakeWindowColour);
  EXPECT_EQ(fake().Pixel(4, 12), kFakeWindowColour);
  End();
}

TEST_F(DeviceTest, FillColourPrecedence) {
  Begin();
  const DeviceColour red{255, 0, 0};
  ASSERT_EQ(ops().fillRect(dev, ctx, 0, 0, 1, 1, nullptr), kOk);
  EXPECT_EQ(fake().Pixel(4, 0), kFakeWindowColour);
  const DeviceThemeEntry theme[2] = {{2, {1, 2, 3}}, {1, {9, 9, 9}}};
  ASSERT_EQ(ops().setProperty(dev, const_cast<DeviceThemeEntry*>(theme), 0, DeviceProp::Theme),
            kOk);
  ASSERT_EQ(ops().fillRect(dev, ctx, 0, 0, 1, 1, &red), kOk);
  EXPECT_EQ(fake().Pixel(4, 0), 0x010203u);
  // Suspending the theme keeps fills.
  ASSERT_EQ(ops().setProperty(dev, nullptr, 0, DeviceProp::SuspendTheme), kOk);
  ASSERT_EQ(ops().fillRect(dev, ctx, 1, 0, 2, 1, &red), kOk);
  EXPECT_EQ(fake().Pixel(5, 0), 0x010203u);
  int on = 1;
  ASSERT_EQ(ops().setProperty(dev, &on, 0, DeviceProp::PlainMode), kOk);
  ASSERT_EQ(ops().fillRect(dev, ctx, 2, 0, 3, 1, &red), kOk);
  EXPECT_EQ(fake().Pixel(6, 0), kFakeWindowColour);
  // A theme with one entry keeps the other default.
  ASSERT_EQ(ops().setProperty(dev, nullptr, 0, DeviceProp::PlainMode), kOk);
  const DeviceThemeEntry textOnly[2] = {{1, {9, 9, 9}}, {0, {}}};
  ASSERT_EQ(ops().setProperty(dev, const_cast<DeviceThemeEntry*>(textOnly), 0, DeviceProp::Theme),
            kOk);
  const DeviceColour blue{0, 0, 255};
  ASSERT_EQ(ops().fillRect(dev, ctx, 3, 0, 4, 1, &blue), kOk);
  EXPECT_EQ(fake().Pixel(7, 0), 0xFF0000u);  // the default theme background
  End();
}

TEST_F(DeviceTest, InvertTwiceRestoresAndMarksThePlane) {
  Begin();
  const DeviceColour c{10, 20, 30};
  ASSERT_EQ(ops().fillRect(dev, ctx, 0, 0, 10, 10, &c), kOk);
  ASSERT_EQ(ops().invertRect(dev, ctx, 2, 2, 6, 6), kOk);
  EXPECT_TRUE(fake().Inverted(4 + 2, 2));
  EXPECT_FALSE(fake().Inverted(4 + 6, 2));
  EXPECT_EQ(fake().Pixel(4 + 2, 2), 0xFFFFFFu ^ 0x0A141Eu);
  ASSERT_EQ(ops().invertRect(dev, ctx, 2, 2, 6, 6), kOk);
  EXPECT_FALSE(fake().Inverted(4 + 2, 2));
  EXPECT_EQ(fake().Pixel(4 + 2, 2), 0x0A141Eu);
  End();
}

TEST_F(DeviceTest, DrawBoxRules) {
  Begin();
  const DeviceColour frame{0, 0, 200}, fill{0, 200, 0};
  ASSERT_EQ(ops().drawBox(dev, ctx, 0, 0, 5, 5, 0, nullptr, nullptr), kOk);
  EXPECT_EQ(fake().Pixel(4, 0), kFakeWindowColour);  // nothing
  ASSERT_EQ(ops().drawBox(dev, ctx, 0, 0, 5, 5, 0, &frame, &fill), kOk);
  EXPECT_EQ(fake().Pixel(4, 0), 0x0000C8u);      // frame on the first pixel
  EXPECT_EQ(fake().Pixel(4 + 4, 4), 0x0000C8u);  // and the last (right/bottom exclusive)
  EXPECT_EQ(fake().Pixel(4 + 5, 5), kFakeWindowColour);
  EXPECT_EQ(fake().Pixel(4 + 2, 2), 0x00C800u);
  // A fill without a frame colour gets a black frame.
  ASSERT_EQ(ops().drawBox(dev, ctx, 10, 0, 15, 5, 0, nullptr, &fill), kOk);
  EXPECT_EQ(fake().Pixel(4 + 10, 0), 0u);
  // Dotted frame: every other pixel.
  ASSERT_EQ(ops().drawBox(dev, ctx, 20, 0, 30, 5, 1, &frame, nullptr), kOk);
  EXPECT_EQ(fake().Pixel(4 + 20, 0), 0x0000C8u);
  EXPECT_EQ(fake().Pixel(4 + 21, 0), kFakeWindowColour);
  EXPECT_EQ(fake().Pixel(4 + 22, 2), kFakeWindowColour);  // inside of a frame-only box
  End();
}

TEST_F(DeviceTest, FontMetricsFollowSizeStyleAndZoom) {
  Begin();
  DeviceFontSpec font{DeviceFace::Default, 10, 0, {}, {}};
  std::int16_t line = 0, leading = -1, ascent = 0;
  ASSERT_EQ(ops().selectFont(dev, ctx, &font, &line, &leading, &ascent), kOk);
  EXPECT_EQ(line, 10);
  EXPECT_EQ(ascent, 8);
  EXPECT_EQ(leading, 0);
  std::int16_t plain = 0, bold = 0, big = 0;
  ASSERT_EQ(ops().measureWidth(dev, ctx, Bytes("abc"), 3, &plain), kOk);
  EXPECT_EQ(plain, 15);
  font.style = DeviceFontStyle::Bold;
  ASSERT_EQ(ops().selectFont(dev, ctx, &font, nullptr, nullptr, nullptr), kOk);
  ASSERT_EQ(ops().measureWidth(dev, ctx, Bytes("abc"), 3, &bold), kOk);
  EXPECT_EQ(bold, 18);
  // Zoom index 0 turns 10 points into 14.
  std::uint16_t word = 0;
  ASSERT_EQ(ops().setProperty(dev, &word, 0, DeviceProp::DisplayWord), kOk);
  font.style = 0;
  ASSERT_EQ(ops().selectFont(dev, ctx, &font, &line, nullptr, nullptr), kOk);
  EXPECT_EQ(line, 14);
  ASSERT_EQ(ops().measureWidth(dev, ctx, Bytes("abc"), 3, &big), kOk);
  EXPECT_EQ(big, 21);
  // Fixed sizes ignore the request.
  word = DeviceDisplay::FixedSizes | 3;
  ASSERT_EQ(ops().setProperty(dev, &word, 0, DeviceProp::DisplayWord), kOk);
  font.size = 40;
  ASSERT_EQ(ops().selectFont(dev, ctx, &font, &line, nullptr, nullptr), kOk);
  EXPECT_EQ(line, 10);
  std::int16_t px = 0;
  ASSERT_EQ(ops().pointsToPixels(dev, ctx, 0, &px), kOk);
  EXPECT_EQ(px, 1);
  End();
}

TEST_F(DeviceTest, MeasureTextFitsWholeCharactersAndReportsTheirWidth) {
  Begin();
  DeviceFontSpec font{DeviceFace::Default, 10, 0, {}, {}};
  ASSERT_EQ(ops().selectFont(dev, ctx, &font, nullptr, nullptr, nullptr), kOk);
  struct Case {
    const char* text;
    std::int16_t max;
    std::uint32_t fit;
    std::int16_t width;
  } cases[] = {
      {"abcd", 20, 4, 20}, {"abcd", 19, 3, 15}, {"abcd", 4, 0, 0},
      {"mi", 9, 2, 9},     {"mi", 8, 1, 7},     {"", 10, 0, 0},
  };
  for (const Case& c : cases) {
    std::uint32_t fit = 99;
    std::int16_t w = -1, h = -1;
    ASSERT_EQ(ops().measureText(dev, ctx, Bytes(c.text), Len(c.text), c.max, &fit, &w, &h), kOk);
    EXPECT_EQ(fit, c.fit) << c.text << " " << c.max;
    EXPECT_EQ(w, c.width) << c.text << " " << c.max;
    EXPECT_EQ(h, 10);
  }
  std::int16_t w = 0, h = 0;
  ASSERT_EQ(ops().measureText(dev, ctx, Bytes("abcd"), 4, 3, nullptr, &w, &h), kOk);
  EXPECT_EQ(w, 20);  // without a fit pointer the whole text
  // Multi-byte characters: every byte of one character has the same edge.
  std::uint32_t utf8 = 106;
  ASSERT_EQ(ops().setProperty(dev, &utf8, 0, DeviceProp::Charset), kOk);
  const char* text =
      "a\xC3\xA9"
      "b";
  std::int16_t pos[4] = {};
  std::uint32_t count = 4;
  ASSERT_EQ(ops().getCharPositions(dev, ctx, Bytes(text), &count, pos), kOk);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(pos[0], 5);
  EXPECT_EQ(pos[1], 10);
  EXPECT_EQ(pos[2], 10);
  EXPECT_EQ(pos[3], 15);
  std::uint32_t fit = 0;
  ASSERT_EQ(ops().measureText(dev, ctx, Bytes(text), 4, 7, &fit, &w, &h), kOk);
  EXPECT_EQ(fit, 1u);  // never half a character
  End();
}

TEST_F(DeviceTest, TextOutputAlignmentAdvanceAndUnderline) {
  Begin();
  DeviceFontSpec font{DeviceFace::Default, 10, DeviceFontStyle::DottedUnderline, {}, {}};
  ASSERT_EQ(ops().selectFont(dev, ctx, &font, nullptr, nullptr, nullptr), kOk);
  using namespace DeviceTextAlign;
  ASSERT_EQ(ops().setTextOrigin(dev, ctx, 10, 20, 2, Left | Baseline | Advance), kOk);
  ASSERT_EQ(ops().drawText(dev, Bytes("ab"), 2, nullptr, nullptr), kOk);
  ASSERT_EQ(ops().drawText(dev, Bytes("c"), 1, nullptr, nullptr), kOk);
  EXPECT_EQ(fake().textX, 25);  // the current position moved over both runs
  // Ink of "c" stands at 20..24 above the baseline y = 20.
  EXPECT_EQ(fake().Pixel(4 + 20, 19), 0u);
  EXPECT_EQ(fake().Pixel(4 + 20, 20), kFakeWindowColour);
  // Descent 2 puts the dotted band one pixel below the baseline, on even columns.
  EXPECT_EQ(fake().Pixel(4 + 10, 21), 0u);
  EXPECT_EQ(fake().Pixel(4 + 11, 21), kFakeWindowColour);
  // Right alignment: the text ends at x; the position after is x.
  ASSERT_EQ(ops().setTextOrigin(dev, ctx, 60, 0, 4, Right | Top), kOk);
  std::int16_t x = 60, y = 0;
  ASSERT_EQ(ops().drawText(dev, Bytes("ab"), 2, &x, &y), kOk);
  EXPECT_EQ(x, 60);
  EXPECT_EQ(fake().Pixel(4 + 50, 0), 0u);
  EXPECT_EQ(fake().Pixel(4 + 49, 0), kFakeWindowColour);
  EXPECT_EQ(fake().textX, 60);  // no Advance flag: the position stays
  ASSERT_EQ(ops().restoreTextAlign(dev), kOk);
  EXPECT_EQ(fake().textFlags, Left | Baseline | Advance);
  std::int16_t w = 0;
  ASSERT_EQ(ops().measureUiString(dev, ctx, kUiDelete, &w), kOk);
  EXPECT_EQ(w, 5 * 5 + 2);  // D e l e t e, with a narrow l
  EXPECT_EQ(ops().measureUiString(dev, ctx, 2, &w), kFailed);
  End();
  // After the paint the text context is gone.
  EXPECT_EQ(ops().drawText(dev, Bytes("a"), 1, nullptr, nullptr), kFailed);
}

TEST_F(DeviceTest, ListMarkers) {
  Begin();
  // Ascent 16: a 20-point font at zoom 2.
  const DeviceFontSpec font{DeviceFace::Default, 20, 0, {}, {}};
  ASSERT_EQ(ops().drawListMarker(dev, ctx, 10, 30, &font, kMarkerBullet | kMarkerSquare), kOk);
  // Box (x, y - 9, x + 6, y - 3).
  EXPECT_EQ(fake().Pixel(4 + 10, 21), 0u);
  EXPECT_EQ(fake().Pixel(4 + 15, 26), 0u);
  EXPECT_EQ(fake().Pixel(4 + 16, 26), kFakeWindowColour);
  EXPECT_EQ(fake().Pixel(4 + 10, 27), kFakeWindowColour);
  EXPECT_EQ(fake().Pixel(4 + 10, 20), kFakeWindowColour);
  // "7. " right-aligned at x = 60: 10 + 5 + 10 pixels end at 60.
  ASSERT_EQ(ops().drawListMarker(dev, ctx, 60, 40, &font, 7), kOk);
  EXPECT_EQ(fake().Pixel(4 + 35, 39), 0u);
  EXPECT_EQ(fake().Pixel(4 + 34, 39), kFakeWindowColour);
  End();
}

TEST_F(DeviceTest, OffscreenAndSavedPixels) {
  Begin();
  const DeviceColour red{255, 0, 0}, green{0, 255, 0};
  ASSERT_EQ(ops().fillRect(dev, ctx, 0, 0, 10, 10, &red), kOk);
  // Save, cover, restore.
  DeviceRect area{0, 0, 4, 4};
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &area, nullptr, DeviceSurface::SavePixels), kOk);
  ASSERT_EQ(ops().fillRect(dev, ctx, 0, 0, 4, 4, &green), kOk);
  EXPECT_EQ(fake().Pixel(4, 0), 0x00FF00u);
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &area, nullptr, DeviceSurface::RestorePixels), kOk);
  EXPECT_EQ(fake().Pixel(4, 0), 0xFF0000u);
  EXPECT_EQ(fake().Pixel(7, 3), 0xFF0000u);
  // Restoring again does nothing.
  EXPECT_EQ(ops().surfaceCommand(dev, ctx, &area, nullptr, DeviceSurface::RestorePixels), kOk);
  // Without an off-screen surface, copies do nothing.
  DevicePoint at{20, 0};
  EXPECT_EQ(ops().surfaceCommand(dev, ctx, &area, &at, DeviceSurface::OffscreenToWindow), kOk);
  EXPECT_EQ(fake().Pixel(24, 0), kFakeWindowColour);
  // Draw off-screen, then copy to the window.
  DeviceRect fillArea{0, 0, 92, 50};
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &fillArea, nullptr, DeviceSurface::BeginOffscreen), kOk);
  ASSERT_EQ(ops().fillRect(dev, ctx, 30, 0, 34, 4, &green), kOk);
  EXPECT_EQ(fake().Pixel(34, 0), kFakeWindowColour);  // not on the window yet
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, nullptr, nullptr, DeviceSurface::EndOffscreen), kOk);
  DeviceRect src{30, 0, 34, 4};
  DevicePoint to{40, 0};
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &src, &to, DeviceSurface::OffscreenToWindow), kOk);
  EXPECT_EQ(fake().Pixel(44, 0), 0x00FF00u);
  EXPECT_EQ(fake().Pixel(48, 0), kFakeWindowColour);
  EXPECT_EQ(ops().surfaceCommand(dev, ctx, &src, nullptr, 9), kNotSupported);
  End();
}

TEST_F(DeviceTest, CopyAreaScrollsWithinTheSurface) {
  Begin();
  const DeviceColour red{255, 0, 0};
  ASSERT_EQ(ops().fillRect(dev, ctx, 0, 10, 5, 12, &red), kOk);
  ASSERT_EQ(ops().copyArea(dev, ctx, 0, 0, 92, 40, 0, -10), kOk);
  EXPECT_EQ(fake().Pixel(4, 0), 0xFF0000u);
  EXPECT_EQ(fake().Pixel(4, 1), 0xFF0000u);
  EXPECT_EQ(fake().Pixel(4, 2), kFakeWindowColour);
  End();
}

TEST_F(DeviceTest, VerticalScrollClampsPageEndAndPosition) {
  struct Case {
    std::uint32_t pos, pageEnd, max, wantPos, wantPage;
  } cases[] = {
      {10, 30, 100, 10, 20},
      {50, 30, 100, 30, 0},  // position beyond the page end: empty page at the page end
      {10, 300, 100, 10, 90},
      {500, 300, 100, 100, 0},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(ops().setVScroll(dev, c.pos, c.pageEnd, 0, c.max), kOk);
    EXPECT_EQ(fake().vPosition, c.wantPos);
    EXPECT_EQ(fake().vPage, c.wantPage);
    EXPECT_EQ(fake().vMaximum, c.max);
  }
  fake().vScrollFailure = kFailed;
  EXPECT_EQ(ops().setVScroll(dev, 1, 2, 0, 3), kFailed);
  EXPECT_EQ(fake().vMaximum, 100u);  // kept
}

TEST_F(DeviceTest, ClipboardExpandsLoneLineFeedsAndTruncates) {
  ASSERT_EQ(ops().clipboardBegin(dev, 100), kOk);
  ASSERT_EQ(ops().clipboardAppend(dev, Bytes("a\nb\r"), 4), kOk);
  ASSERT_EQ(ops().clipboardAppend(dev, Bytes("\nc\n"), 3), kOk);
  ASSERT_EQ(ops().clipboardCommit(dev), kOk);
  EXPECT_EQ(fake().clipboard, u"a\r\nb\r\nc\r\n");
  ASSERT_EQ(ops().clipboardBegin(dev, 3), kOk);
  ASSERT_EQ(ops().clipboardAppend(dev, Bytes("xyz\xE9w"), 5), kOk);
  ASSERT_EQ(ops().clipboardCommit(dev), kOk);
  EXPECT_EQ(fake().clipboard, u"xyz");
  // Commit with nothing begun, and a zero count, change nothing.
  EXPECT_EQ(ops().clipboardCommit(dev), kOk);
  EXPECT_EQ(ops().clipboardBegin(dev, 0), kOk);
  EXPECT_EQ(ops().clipboardCommit(dev), kOk);
  EXPECT_EQ(fake().clipboardCommits, 2);
  fake().clipboardFailure = kClipboardRefused;
  ASSERT_EQ(ops().clipboardBegin(dev, 5), kOk);
  ASSERT_EQ(ops().clipboardAppend(dev, Bytes("q"), 1), kOk);
  EXPECT_EQ(ops().clipboardCommit(dev), kClipboardRefused);
  EXPECT_EQ(fake().clipboard, u"xyz");
}

TEST_F(DeviceTest, MultiByteTextGoesThroughTheCharsetModule) {
  // A UTF-8 character cut between two appends is still one character.
  fake().charset = 106;
  ASSERT_EQ(ops().clipboardBegin(dev, 10), kOk);
  ASSERT_EQ(ops().clipboardAppend(dev, Bytes("\xC3"), 1), kOk);
  ASSERT_EQ(ops().clipboardAppend(dev, Bytes("\xA9\n\xE2\x82\xAC"), 5), kOk);
  ASSERT_EQ(ops().clipboardCommit(dev), kOk);
  EXPECT_EQ(fake().clipboard, u"\u00E9\r\n\u20AC");
  struct Case {
    std::uint32_t charset;
    const char* bytes;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {0, "\x82\xA0", 1},       {17, "\x82\xA0", 2},   // Shift_JIS hiragana a
      {17, "\xB1", 1},          {38, "\xB0\xA1", 2},   // half-width katakana, EUC-KR
      {106, "\xE2\x82\xAC", 3}, {106, "\xE2\x82", 1},  // cut at the end: one byte
      {1014, "A\0", 2},         {1014, "\x3D\xD8\x00\xDE", 4},
  };
  for (const Case& c : cases) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(c.bytes);
    const auto n =
        static_cast<std::uint32_t>(c.charset == 1014 ? (c.bytes[1] ? 4 : 2) : Len(c.bytes));
    EXPECT_EQ(FakeCharLength(c.charset, p, n), c.expected) << c.charset << " " << c.bytes;
  }
}

TEST_F(DeviceTest, HorizontalScrollBars) {
  for (std::uint32_t key = 0; key < kMaxHScrollBars; ++key)
    ASSERT_EQ(ops().createHScrollBar(dev, 100 + key, 0, 0, 50, 0), kOk);
  EXPECT_EQ(ops().createHScrollBar(dev, 999, 0, 0, 50, 0), kNoFreeHScrollBar);
  EXPECT_EQ(ops().removeHScrollBar(dev, 999), kUnknownHScrollKey);
  EXPECT_EQ(fake().hbars[0].width, 58);  // width plus twice the margin
  EXPECT_EQ(fake().hbars[0].height, kFakeHScrollHeight);
  ASSERT_EQ(ops().removeHScrollBar(dev, 105), kOk);
  ASSERT_EQ(ops().createHScrollBar(dev, 999, 0, 0, 50, 9), kOk);
  std::uint32_t key = 0;
  ASSERT_EQ(ops().hScrollKeyFromWindow(dev, kHScrollFirstControlId + 5, &key), kOk);
  EXPECT_EQ(key, 999u);
  EXPECT_EQ(ops().hScrollKeyFromWindow(dev, 7, &key), kNoHScrollForControl);
  ASSERT_EQ(ops().placeHScrollBar(dev, 999, 0, 30, kHScrollRepaint), kOk);
  EXPECT_EQ(fake().hbars[5].x, 4);  // moved to margin + x
  EXPECT_EQ(fake().hbars[5].repaints, 1);
  ASSERT_EQ(ops().setHScrollBar(dev, 999, 40, 20, 100), kOk);
  EXPECT_EQ(fake().hbars[5].position, 20u);
  EXPECT_EQ(fake().hbars[5].page, 0u);
  EXPECT_EQ(ops().setHScrollBar(dev, kNoHScrollKey, 0, 0, 0), kUnknownHScrollKey);
  EXPECT_EQ(ops().invalidateHScrollBar(dev, 12345), kUnknownHScrollKey);
  void* first = nullptr;
  ASSERT_EQ(ops().setProperty(dev, &first, 0, DeviceProp::FirstHScrollWindow), kOk);
  EXPECT_EQ(first, &fake().hbars[0]);
}

TEST_F(DeviceTest, NoticesImagesVObjectsAndUnknownCommands) {
  for (std::uint16_t kind : {0, 1, 12, 13, 8})
    EXPECT_EQ(ops().notify(dev, kind), kOk);
  EXPECT_EQ(fake().notices, (std::vector<std::uint16_t>{1, 12, 8}));
  Begin();
  const std::uint8_t bitmap[16] = {0, 3, 0, 2};
  const DevicePalmBitmap palm{bitmap, sizeof bitmap};
  EXPECT_EQ(ops().drawImage(dev, ctx, 0, 0, 4, 0, &palm), kMalformed);
  ASSERT_EQ(ops().drawImage(dev, ctx, 0, 0, DeviceImageKind::PalmBitmap, kImageDoubleSize, &palm),
            kOk);
  EXPECT_EQ(fake().Pixel(4 + 5, 3), kFakeImageColour);
  EXPECT_EQ(fake().Pixel(4 + 6, 3), kFakeWindowColour);
  End();
  EXPECT_EQ(ops().openVObject(dev, 2, 1, "x"), kNotSupported);
  ASSERT_EQ(ops().openVObject(dev, kVObjectCard, 5, "BEGIN"), kOk);
  ASSERT_EQ(fake().vobjects.size(), 1u);
  EXPECT_EQ(fake().vobjects[0].second, "BEGIN");
  EXPECT_EQ(ops().posMapCommand(dev, 8, nullptr, nullptr), kNotSupported);
  EXPECT_EQ(ops().posMapCommand(dev, 15, nullptr, nullptr), kNotSupported);
  EXPECT_EQ(ops().posMapCommand(dev, 16, nullptr, nullptr), kNotSupported);
  EXPECT_EQ(ops().tableStoreCommand(dev, 18, nullptr, nullptr), kNotSupported);
  EXPECT_EQ(ops().tableStoreCommand(dev, 50, nullptr, nullptr), kNotSupported);
  EXPECT_EQ(ops().selectCtlCommand(dev, 99, nullptr, nullptr), kNotSupported);
  EXPECT_EQ(ops().noteBoxCommand(dev, 99, nullptr, nullptr), kNotSupported);
}

// Progress protocol (PosMapCommand 10-14).
struct ProgressLog {
  std::vector<std::vector<std::uint32_t>> calls;
  StatusCode answer = kOk;
};
StatusCode RecordProgress(EngineObject*, void* user, std::uint32_t done,
                          std::uint32_t total) noexcept {
  auto* log = static_cast<ProgressLog*>(user);
  log->calls.push_back({done, total});
  return log->answer;
}

TEST_F(DeviceTest, ProgressProtocol) {
  ProgressLog log;
  ASSERT_EQ(ops().posMapCommand(dev, PosMapCode::SetCallback,
                                reinterpret_cast<void*>(&RecordProgress), &log),
            kOk);
  std::uint32_t done = 10, total = 100;
  // No interval: stop at once, without calling back.
  EXPECT_EQ(ops().posMapCommand(dev, PosMapCode::ProgressBegin, nullptr, nullptr), kProgressStop);
  EXPECT_EQ(ops().posMapCommand(dev, PosMapCode::ProgressStep, &done, &total), kProgressStop);
  EXPECT_TRUE(log.calls.empty());
  std::uint32_t interval = 100;
  ASSERT_EQ(ops().posMapCommand(dev, PosMapCode::SetInterval, &interval, nullptr), kOk);
  fake().clock.now = 1000;
  EXPECT_EQ(ops().posMapCommand(dev, PosMapCode::ProgressBegin, nullptr, nullptr), kOk);
  fake().clock.now = 1099;
  EXPECT_EQ(ops().posMapCommand(dev, PosMapCode::ProgressStep, &done, &total), kOk);
  log.answer = kCancelled;  // the host cancels
  EXPECT_EQ(ops().posMapCommand(dev, PosMapCode::ProgressStep, &done, &total), kCancelled);
  log.answer = kOk;
  // The stamp is not renewed by steps: elapsed counts from the begin.
  fake().clock.now = 1100;
  EXPECT_EQ(ops().posMapCommand(dev, PosMapCode::ProgressStep, &done, &total), kProgressStop);
  EXPECT_EQ(ops().posMapCommand(dev, PosMapCode::ProgressEnd, nullptr, nullptr), kOk);
  const std::vector<std::vector<std::uint32_t>> want = {
      {0, 0}, {10, 100}, {10, 100}, {10, 100}, {1, 0}};
  EXPECT_EQ(log.calls, want);
  // The clock wraps: unsigned milliseconds.
  fake().clock.now = 0xFFFFFFF0u;
  EXPECT_EQ(ops().posMapCommand(dev, PosMapCode::ProgressBegin, nullptr, nullptr), kOk);
  fake().clock.now = 0x50;
  EXPECT_EQ(ops().posMapCommand(dev, PosMapCode::ProgressStep, &done, &total), kOk);
  fake().clock.now = 0x54;
  EXPECT_EQ(ops().posMapCommand(dev, PosMapCode::ProgressStep, &done, &total), kProgressStop);
  // Without a callback: 0 from begin and end.
  ASSERT_EQ(ops().posMapCommand(dev, PosMapCode::SetCallback, nullptr, nullptr), kOk);
  EXPECT_EQ(ops().posMapCommand(dev, PosMapCode::ProgressBegin, nullptr, nullptr), kOk);
  EXPECT_EQ(ops().posMapCommand(dev, PosMapCode::ProgressEnd, nullptr, nullptr), kOk);
}

}  // namespace
