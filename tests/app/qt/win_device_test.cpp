// The window device drawn headless: nesting, margin and clip, invert and
// copy-area on the surface, off-screen and saved pixels, fonts and text
// (measured widths and per-byte positions agree with what is drawn), images,
// markers, rules and boxes, scroll bars, clipboard, notices, vObjects,
// printing mode and the services behind slots 35 to 37.
#include "app/device/win_device.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QWidget>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/device/device.h"
#include "engine/device/note_box.h"
#include "engine/device/palm_bitmap.h"
#include "engine/device/select_ctl.h"
#include "tests/support/temp_dir.h"

namespace {

const std::uint8_t* Bytes(const char* s) {
  return reinterpret_cast<const std::uint8_t*>(s);
}
std::uint32_t Len(const char* s) {
  return static_cast<std::uint32_t>(std::strlen(s));
}

constexpr int kWidth = 240, kHeight = 120, kMargin = 4;

class WinDeviceTest : public testing::Test {
 protected:
  void SetUp() override { Open(&host); }
  void TearDown() override {
    if (dev) (void)DeviceOf(dev).destroy(dev);
  }
  void Open(QWidget* window, int width = kWidth, int height = kHeight) {
    window->resize(width, height);
    ASSERT_EQ(DeviceOf(&WinDeviceModule).create(&WinDeviceModule, &dev), kOk);
    ASSERT_EQ(Device_SetWindow(dev, window, static_cast<std::int16_t>(width),
                               static_cast<std::int16_t>(height)),
              kOk);
    std::uint16_t margin = kMargin;
    ASSERT_EQ(ops().setProperty(dev, &margin, 0, DeviceProp::Margin), kOk);
  }
  const DeviceOps& ops() const { return DeviceOf(dev); }
  void Begin() { ASSERT_EQ(ops().beginDraw(dev, &ctx), kOk); }
  void End() { ASSERT_EQ(ops().endDraw(dev, ctx), kOk); }
  QImage Surface() const {
    const QImage* s = WinDevice_Surface(dev);
    return s ? s->copy() : QImage();
  }
  std::uint32_t Pixel(int x, int y) const { return WinDevice_Surface(dev)->pixel(x, y) & 0xFFFFFF; }
  // Fills the whole surface with noise through a planar image.
  void Noise(unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> planes[3];
    for (auto& p : planes) {
      p.resize(kWidth * kHeight);
      for (auto& b : p)
        b = static_cast<std::uint8_t>(rng());
    }
    DevicePlanarImage img{
        kWidth, kHeight, kWidth, {planes[0].data(), planes[1].data(), planes[2].data()}};
    DeviceRect all{static_cast<std::int16_t>(-kMargin), 0, kWidth, kHeight}, previous{};
    ASSERT_EQ(ops().surfaceCommand(dev, ctx, &all, &previous, DeviceSurface::ClipReplace), kOk);
    ASSERT_EQ(ops().drawImage(dev, ctx, -kMargin, 0, DeviceImageKind::PlanarRgb, 0, &img), kOk);
    ASSERT_EQ(ops().surfaceCommand(dev, ctx, &previous, nullptr, DeviceSurface::ClipReplace), kOk);
  }
  DeviceFontSpec Font(std::uint16_t face, std::int16_t size, std::uint16_t style = 0) {
    return DeviceFontSpec{face, size, style, {0, 0, 0}, {0, 0, 0}};
  }

  QWidget host;
  EngineObject* dev = nullptr;
  DeviceContext ctx = nullptr;
};

TEST_F(WinDeviceTest, NestingAndSurface) {
  EXPECT_EQ(ops().endDraw(dev, nullptr), kEndDrawWithoutBegin);
  Begin();
  EXPECT_NE(ctx, nullptr);
  DeviceContext inner = nullptr;
  ASSERT_EQ(ops().beginDraw(dev, &inner), kOk);
  ASSERT_EQ(ops().endDraw(dev, inner), kOk);
  const DeviceColour red{255, 0, 0};
  ASSERT_EQ(ops().fillRect(dev, ctx, 0, 0, 10, 10, &red), kOk);  // still drawing
  End();
  EXPECT_EQ(ops().endDraw(dev, ctx), kEndDrawWithoutBegin);
  EXPECT_EQ(ops().fillRect(dev, ctx, 0, 0, 10, 10, &red), kFailed);
  ASSERT_NE(WinDevice_Surface(dev), nullptr);
  EXPECT_EQ(WinDevice_Surface(dev)->size(), QSize(kWidth, kHeight));
  EXPECT_EQ(Pixel(kMargin, 0), 0xFF0000u);  // the margin is applied
  EXPECT_EQ(Pixel(kMargin - 1, 0), 0xFFFFFFu);
  EXPECT_EQ(Pixel(kMargin + 10, 0), 0xFFFFFFu);  // right edge exclusive

  // No window and no printer: no surface.
  EngineObject* bare = nullptr;
  ASSERT_EQ(DeviceOf(&WinDeviceModule).create(&WinDeviceModule, &bare), kOk);
  DeviceContext none = nullptr;
  EXPECT_EQ(DeviceOf(bare).beginDraw(bare, &none), kFailed);
  EXPECT_EQ(DeviceOf(bare).endDraw(bare, none), kEndDrawWithoutBegin);
  EXPECT_EQ(DeviceOf(bare).destroy(bare), kOk);
}

TEST_F(WinDeviceTest, InvertingTwiceRestoresTheSurface) {
  Begin();
  Noise(1);
  End();
  const QImage before = Surface();
  Begin();
  ASSERT_EQ(ops().invertRect(dev, ctx, 10, 5, 90, 60), kOk);
  End();
  const QImage once = Surface();
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const bool inside = x >= 10 + kMargin && x < 90 + kMargin && y >= 5 && y < 60;
      const QRgb want = inside ? (before.pixel(x, y) ^ 0x00FFFFFF) : before.pixel(x, y);
      ASSERT_EQ(once.pixel(x, y), want) << x << "," << y;
    }
  Begin();
  ASSERT_EQ(ops().invertRect(dev, ctx, 10, 5, 90, 60), kOk);
  // Overlapping pairs undo themselves too, and the margin is never touched.
  ASSERT_EQ(ops().invertRect(dev, ctx, -20, -20, 300, 30), kOk);
  ASSERT_EQ(ops().invertRect(dev, ctx, 50, 20, 120, 100), kOk);
  ASSERT_EQ(ops().invertRect(dev, ctx, -20, -20, 300, 30), kOk);
  ASSERT_EQ(ops().invertRect(dev, ctx, 50, 20, 120, 100), kOk);
  End();
  EXPECT_EQ(Surface(), before);
}

TEST_F(WinDeviceTest, OverlappingCopyAreaEqualsAReferenceCopy) {
  struct Move {
    int l, t, r, b, dx, dy;
  } moves[] = {{0, 0, 200, 100, 7, 5},
               {10, 10, 220, 110, -9, -3},
               {0, 20, 232, 120, 0, -20},
               {0, 0, 232, 100, 0, 20},
               {-30, 0, 50, 40, 100, 70}};  // a source partly in the margin and off the clip
  unsigned seed = 10;
  for (const auto& m : moves) {
    Begin();
    Noise(seed++);
    End();
    const QImage before = Surface();
    Begin();
    ASSERT_EQ(ops().copyArea(dev, ctx, m.l, m.t, m.r, m.b, m.dx, m.dy), kOk);
    End();
    const QImage after = Surface();
    // The reference: every destination pixel inside the clip (the area
    // between the margins) whose source lies on the surface takes the
    // source pixel of the picture before the copy.
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const int sx = x - m.dx, sy = y - m.dy;
        const bool fromSource = sx >= m.l + kMargin && sx < m.r + kMargin && sy >= m.t &&
                                sy < m.b && sx >= 0 && sx < kWidth && sy >= 0 && sy < kHeight;
        const bool inClip = x >= kMargin && x < kWidth - kMargin;
        const QRgb want = fromSource && inClip ? before.pixel(sx, sy) : before.pixel(x, y);
        ASSERT_EQ(after.pixel(x, y), want)
            << "move " << m.dx << "," << m.dy << " at " << x << "," << y;
      }
  }
}

TEST_F(WinDeviceTest, ClippingWithTheMargin) {
  const DeviceColour blue{0, 0, 255}, green{0, 255, 0};
  Begin();
  DeviceRect box{};
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &box, nullptr, DeviceSurface::GetClip), kOk);
  EXPECT_EQ(box.left, 0);
  EXPECT_EQ(box.right, kWidth - 2 * kMargin);
  EXPECT_EQ(box.bottom, kHeight);
  ASSERT_EQ(ops().fillRect(dev, ctx, -50, -50, 400, 400, &blue), kOk);
  DeviceRect clip{10, 10, 50, 40}, previous{};
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &clip, &previous, DeviceSurface::ClipIntersect), kOk);
  EXPECT_EQ(previous.right, kWidth - 2 * kMargin);
  ASSERT_EQ(ops().fillRect(dev, ctx, 0, 0, 400, 400, &green), kOk);
  DeviceRect outside{40, 30, 100, 100};
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &outside, nullptr, DeviceSurface::ClipIntersect), kOk);
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &box, nullptr, DeviceSurface::GetClip), kOk);
  EXPECT_EQ(box.left, 40);
  EXPECT_EQ(box.top, 30);
  EXPECT_EQ(box.right, 50);
  EXPECT_EQ(box.bottom, 40);
  End();
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      std::uint32_t want = 0xFFFFFF;
      if (x >= kMargin && x < kWidth - kMargin) want = 0x0000FF;
      if (x >= 10 + kMargin && x < 50 + kMargin && y >= 10 && y < 40) want = 0x00FF00;
      ASSERT_EQ(Pixel(x, y), want) << x << "," << y;
    }
  // The next drawing starts with the full clip again.
  Begin();
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &box, nullptr, DeviceSurface::GetClip), kOk);
  EXPECT_EQ(box.left, 0);
  EXPECT_EQ(box.right, kWidth - 2 * kMargin);
  DeviceRect replace{100, 0, 400, 10};
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &replace, nullptr, DeviceSurface::ClipReplace), kOk);
  ASSERT_EQ(ops().fillRect(dev, ctx, 0, 0, 400, 400, &green), kOk);
  End();
  EXPECT_EQ(Pixel(kWidth - 1, 5), 0x00FF00u);  // a replaced clip may cover the margin
  EXPECT_EQ(Pixel(100 + kMargin - 1, 5), 0x0000FFu);
}

TEST_F(WinDeviceTest, OffscreenSurfaceAndSavedPixels) {
  const DeviceColour red{255, 0, 0}, blue{0, 0, 255};
  Begin();
  ASSERT_EQ(ops().fillRect(dev, ctx, 0, 0, 300, 300, &blue), kOk);
  DeviceRect area{0, 0, 100, 50};
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &area, nullptr, DeviceSurface::BeginOffscreen), kOk);
  ASSERT_EQ(ops().fillRect(dev, ctx, 10, 10, 20, 20, &red), kOk);  // into the off-screen image
  EXPECT_EQ(Pixel(15 + kMargin, 15), 0x0000FFu);
  DeviceRect src{0, 0, 30, 30};
  DevicePoint to{50, 50};
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &src, &to, DeviceSurface::OffscreenToWindow), kOk);
  EXPECT_EQ(Pixel(65 + kMargin, 65), 0xFF0000u);
  EXPECT_EQ(Pixel(55 + kMargin, 55), 0xFFFFFFu);  // the window colour of the off-screen image
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, nullptr, nullptr, DeviceSurface::EndOffscreen), kOk);
  // Saved pixels come back after a popup drew over them.
  DeviceRect popup{100, 20, 140, 60};
  const QImage before = Surface();
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &popup, nullptr, DeviceSurface::SavePixels), kOk);
  ASSERT_EQ(ops().fillRect(dev, ctx, 100, 20, 140, 60, &red), kOk);
  EXPECT_EQ(Pixel(120 + kMargin, 40), 0xFF0000u);
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &popup, nullptr, DeviceSurface::RestorePixels), kOk);
  End();
  EXPECT_EQ(Surface(), before);
  Begin();
  EXPECT_EQ(ops().surfaceCommand(dev, ctx, &popup, nullptr, DeviceSurface::RestorePixels), kOk);
  EXPECT_EQ(ops().surfaceCommand(dev, ctx, &src, &to, DeviceSurface::OffscreenToWindow), kOk);
  EXPECT_EQ(ops().surfaceCommand(dev, ctx, &src, &to, 9), kNotSupported);
  End();
  EXPECT_EQ(Surface(), before);  // no off-screen image after EndDraw: nothing copied
}

TEST_F(WinDeviceTest, SavedPixelsAreThoseOnTheSurface) {
  Begin();
  Noise(3);
  End();
  const QImage before = Surface();
  const DeviceColour red{255, 0, 0};
  // An area partly left of the surface, put back 120 pixels further right:
  // the part that was on the surface comes back at its place in the area,
  // and where nothing was saved the surface stays as it was.
  Begin();
  DeviceRect popup{-20, 10, 30, 40};
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &popup, nullptr, DeviceSurface::SavePixels), kOk);
  DeviceRect elsewhere{100, 10, 150, 40};
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &elsewhere, nullptr, DeviceSurface::RestorePixels), kOk);
  End();
  const int onSurface = 20 - kMargin;  // columns of the area left of the surface
  for (int y = 10; y < 40; ++y) {
    for (int x = 100; x < 100 + onSurface; ++x)
      ASSERT_EQ(Pixel(x + kMargin, y), before.pixel(x + kMargin, y) & 0xFFFFFF) << x << "," << y;
    for (int x = 0; x < 30 + kMargin; ++x)
      ASSERT_EQ(Pixel(100 + onSurface + kMargin + x, y), before.pixel(x, y) & 0xFFFFFF)
          << x << "," << y;
  }
  // An area far larger than the surface is saved and restored as the
  // surface itself (no image of the area's size is made).
  Begin();
  Noise(4);
  End();
  const QImage noise = Surface();
  Begin();
  DeviceRect huge{-32768, -32768, 32767, 32767};
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &huge, nullptr, DeviceSurface::SavePixels), kOk);
  ASSERT_EQ(ops().fillRect(dev, ctx, -10, -10, 500, 500, &red), kOk);
  ASSERT_EQ(ops().surfaceCommand(dev, ctx, &huge, nullptr, DeviceSurface::RestorePixels), kOk);
  End();
  EXPECT_EQ(Surface(), noise);
}

// Everything a run of text puts on a white surface, drawn at (x, y).
QImage DrawAlone(WinDeviceTest* t, EngineObject* dev, DeviceContext ctx, const std::string& bytes,
                 std::vector<std::pair<int, int>> pieces, int x, int y) {
  const DeviceColour white{255, 255, 255};
  EXPECT_EQ(DeviceOf(dev).fillRect(dev, ctx, -10, -10, 500, 500, &white), kOk);
  for (const auto& [start, end] : pieces) {
    std::int16_t px = static_cast<std::int16_t>(x), py = static_cast<std::int16_t>(y);
    if (start > 0) {
      std::uint32_t n = static_cast<std::uint32_t>(start);
      std::vector<std::int16_t> pos(n);
      EXPECT_EQ(DeviceOf(dev).getCharPositions(dev, ctx, Bytes(bytes.c_str()), &n, pos.data()),
                kOk);
      px = static_cast<std::int16_t>(x + pos[start - 1]);
    }
    EXPECT_EQ(DeviceOf(dev).drawText(dev, Bytes(bytes.c_str()) + start,
                                     static_cast<std::uint32_t>(end - start), &px, &py),
              kOk);
  }
  (void)t;
  return *WinDevice_Surface(dev);
}

TEST_F(WinDeviceTest, MeasuredWidthsEqualDrawnWidths) {
  struct Text {
    std::uint32_t charset;
    const char* bytes;
  } texts[] = {
      {0, "Hello, world"},
      {0, "AVATAR Wave To fifty iiiiil WWWWMM"},
      {2252, "caf\xE9 \x80 na\xEFve \x93quoted\x94"},
      {106,
       "Gr\xC3\xBC\xC3\x9F"
       "e \xE2\x82\xAC 5 \xCE\xB1\xCE\xB2\xCE\xB3"},
      {1014, "T\0e\0x\0t\0!\0"},
  };
  struct Face {
    std::uint16_t face;
    std::int16_t size;
    std::uint16_t style;
  } faces[] = {{DeviceFace::SansSerif, 10, 0},
               {DeviceFace::Serif, 14, DeviceFontStyle::Bold},
               {DeviceFace::Fixed, 9, 0},
               {DeviceFace::Default, 12, DeviceFontStyle::Italic | DeviceFontStyle::Underline}};
  Begin();
  for (const auto& text : texts) {
    ASSERT_EQ(
        ops().setProperty(dev, const_cast<std::uint32_t*>(&text.charset), 0, DeviceProp::Charset),
        kOk);
    const std::string bytes(text.bytes, text.charset == 1014 ? 10 : std::strlen(text.bytes));
    const auto n = static_cast<std::uint32_t>(bytes.size());
    for (const auto& face : faces) {
      SCOPED_TRACE(bytes + " face " + std::to_string(face.face) + " size " +
                   std::to_string(face.size));
      DeviceFontSpec spec = Font(face.face, face.size, face.style);
      std::int16_t lineHeight = 0, leading = -1, ascent = 0;
      ASSERT_EQ(ops().selectFont(dev, ctx, &spec, &lineHeight, &leading, &ascent), kOk);
      ASSERT_GT(ascent, 0);
      ASSERT_GE(lineHeight, ascent);
      ASSERT_GE(leading, 0);
      std::int16_t width = 0, height = 0;
      ASSERT_EQ(ops().measureWidth(dev, ctx, Bytes(bytes.c_str()), n, &width), kOk);
      ASSERT_GT(width, 0);
      std::uint32_t count = n;
      std::vector<std::int16_t> pos(n);
      ASSERT_EQ(ops().getCharPositions(dev, ctx, Bytes(bytes.c_str()), &count, pos.data()), kOk);
      ASSERT_EQ(count, n);
      EXPECT_EQ(pos[n - 1], width);
      for (std::uint32_t i = 1; i < n; ++i)
        ASSERT_GE(pos[i], pos[i - 1]);
      // Drawing answers the position after the text: x + the measured width.
      ASSERT_EQ(ops().setTextOrigin(dev, ctx, 0, 0, 0, DeviceTextAlign::Baseline), kOk);
      std::int16_t x = 20, y = 40;
      DrawAlone(this, dev, ctx, bytes, {{0, static_cast<int>(n)}}, 20, 40);
      ASSERT_EQ(ops().drawText(dev, Bytes(bytes.c_str()), n, &x, &y), kOk);
      EXPECT_EQ(x, 20 + width);
      // Per-byte positions agree with where each glyph is drawn: the text
      // drawn whole equals the text drawn in two pieces, the second placed
      // at the position measured for the end of the first.
      const QImage whole = DrawAlone(this, dev, ctx, bytes, {{0, static_cast<int>(n)}}, 20, 40);
      int ink = 0;
      for (int py = 0; py < kHeight; ++py)
        for (int px = 0; px < kWidth; ++px)
          ink += (whole.pixel(px, py) & 0xFFFFFF) != 0xFFFFFF;
      ASSERT_GT(ink, 20) << "nothing drawn";
      for (std::uint32_t split = 1; split < n; ++split) {
        if (pos[split] == pos[split - 1] && split + 1 < n && pos[split] == pos[split + 1]) continue;
        if (split > 0 && pos[split - 1] == pos[split]) continue;  // inside a character
        const QImage pieces = DrawAlone(
            this, dev, ctx, bytes,
            {{0, static_cast<int>(split)}, {static_cast<int>(split), static_cast<int>(n)}}, 20, 40);
        ASSERT_EQ(pieces, whole) << "split at byte " << split;
      }
      // Fitting: the bytes of whole characters up to each measured position.
      for (std::uint32_t i = 0; i < n; ++i) {
        std::uint32_t fit = 0;
        ASSERT_EQ(
            ops().measureText(dev, ctx, Bytes(bytes.c_str()), n, pos[i], &fit, &width, &height),
            kOk);
        std::uint32_t want = i + 1;
        while (want < n && pos[want] == pos[i])
          ++want;
        EXPECT_EQ(fit, want) << "max width " << pos[i];
        EXPECT_EQ(width, pos[want - 1]);
        EXPECT_EQ(height, ascent + (lineHeight - leading - ascent));
      }
    }
  }
  End();
}

TEST_F(WinDeviceTest, TextInkStaysInsideItsMeasuredBox) {
  Begin();
  DeviceFontSpec spec = Font(DeviceFace::SansSerif, 16);
  std::int16_t lineHeight = 0, leading = 0, ascent = 0;
  ASSERT_EQ(ops().selectFont(dev, ctx, &spec, &lineHeight, &leading, &ascent), kOk);
  const char* text = "HMNUEH";
  std::int16_t width = 0;
  ASSERT_EQ(ops().measureWidth(dev, ctx, Bytes(text), Len(text), &width), kOk);
  const DeviceColour white{255, 255, 255};
  ASSERT_EQ(ops().fillRect(dev, ctx, -10, -10, 500, 500, &white), kOk);
  ASSERT_EQ(ops().setTextOrigin(dev, ctx, 30, 20, 0, DeviceTextAlign::Top), kOk);
  ASSERT_EQ(ops().drawText(dev, Bytes(text), Len(text), nullptr, nullptr), kOk);
  End();
  int minX = kWidth, maxX = -1, minY = kHeight, maxY = -1;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      if (Pixel(x, y) != 0xFFFFFF) {
        minX = std::min(minX, x), maxX = std::max(maxX, x);
        minY = std::min(minY, y), maxY = std::max(maxY, y);
      }
  ASSERT_GE(maxX, 0) << "nothing drawn";
  EXPECT_GE(minX, 30 + kMargin);
  EXPECT_LT(maxX, 30 + kMargin + width);
  EXPECT_GT(maxX, 30 + kMargin + width - 6);  // the text fills its width
  EXPECT_GE(minY, 20);
  EXPECT_LE(maxY, 20 + ascent);  // capitals sit on the baseline
}

TEST_F(WinDeviceTest, AlignmentAdvanceAndDottedUnderline) {
  const DeviceColour white{255, 255, 255};
  Begin();
  DeviceFontSpec spec = Font(DeviceFace::SansSerif, 12, DeviceFontStyle::DottedUnderline);
  ASSERT_EQ(ops().selectFont(dev, ctx, &spec, nullptr, nullptr, nullptr), kOk);
  std::int16_t w = 0;
  ASSERT_EQ(ops().measureWidth(dev, ctx, Bytes("ace"), 3, &w), kOk);
  // Right alignment: the text ends at x, and x is the answer.
  ASSERT_EQ(ops().fillRect(dev, ctx, -10, -10, 500, 500, &white), kOk);
  ASSERT_EQ(
      ops().setTextOrigin(dev, ctx, 100, 30, 4, DeviceTextAlign::Right | DeviceTextAlign::Baseline),
      kOk);
  std::int16_t x = 100, y = 30;
  ASSERT_EQ(ops().drawText(dev, Bytes("ace"), 3, &x, &y), kOk);
  EXPECT_EQ(x, 100);
  EXPECT_EQ(y, 30);
  // The advancing text position: two runs at the position follow each other
  // exactly as one run of both.
  ASSERT_EQ(ops().setTextOrigin(dev, ctx, 10, 90, 4,
                                DeviceTextAlign::Baseline | DeviceTextAlign::Advance),
            kOk);
  ASSERT_EQ(ops().drawText(dev, Bytes("ace"), 3, nullptr, nullptr), kOk);
  ASSERT_EQ(ops().drawText(dev, Bytes("ace"), 3, nullptr, nullptr), kOk);
  ASSERT_EQ(ops().restoreTextAlign(dev), kOk);
  End();
  const QImage twice = Surface();
  Begin();
  ASSERT_EQ(ops().fillRect(dev, ctx, -10, 60, 500, 500, &white), kOk);
  ASSERT_EQ(ops().setTextOrigin(dev, ctx, 10, 90, 4, DeviceTextAlign::Baseline), kOk);
  std::int16_t x2 = 10, y2 = 90;
  ASSERT_EQ(ops().drawText(dev, Bytes("aceace"), 6, &x2, &y2), kOk);
  EXPECT_EQ(x2, 10 + 2 * w);
  End();
  EXPECT_EQ(Surface(), twice);
  for (int sx = 0; sx < kWidth; ++sx)
    for (int sy = 0; sy < 40; ++sy)
      if (Pixel(sx, sy) != 0xFFFFFF) {
        ASSERT_LT(sx, 100 + kMargin) << "ink right of the end";
      }
  // The dotted band lies two pixels under the baseline, on even surface
  // columns only, along the whole text and no further.
  const int band = 90 + 2;
  for (int sx = 10 + kMargin; sx < 10 + kMargin + 2 * w; ++sx)
    EXPECT_EQ(Pixel(sx, band) != 0xFFFFFF, sx % 2 == 0) << sx;
  for (int sx = 10 + kMargin + 2 * w; sx < kWidth; ++sx)
    EXPECT_EQ(Pixel(sx, band), 0xFFFFFFu) << sx;
}

TEST_F(WinDeviceTest, FontsFollowZoomAndPlainMode) {
  Begin();
  DeviceFontSpec spec = Font(DeviceFace::Serif, 10);
  std::int16_t h10 = 0, h14 = 0, h12 = 0, zoomed = 0, fixed = 0, a = 0;
  ASSERT_EQ(ops().selectFont(dev, ctx, &spec, &h10, nullptr, &a), kOk);
  spec.size = 14;
  ASSERT_EQ(ops().selectFont(dev, ctx, &spec, &h14, nullptr, &a), kOk);
  spec.size = 12;
  ASSERT_EQ(ops().selectFont(dev, ctx, &spec, &h12, nullptr, &a), kOk);
  EXPECT_LT(h10, h12);
  EXPECT_LT(h12, h14);
  // Zoom index 0 turns 10 points into 14.
  std::uint16_t word = 0;
  ASSERT_EQ(ops().setProperty(dev, &word, 0, DeviceProp::DisplayWord), kOk);
  spec.size = 10;
  ASSERT_EQ(ops().selectFont(dev, ctx, &spec, &zoomed, nullptr, &a), kOk);
  EXPECT_EQ(zoomed, h14);
  std::int16_t px = 0;
  ASSERT_EQ(ops().pointsToPixels(dev, ctx, 0, &px), kOk);
  EXPECT_EQ(px, 1);
  word = 2;
  ASSERT_EQ(ops().setProperty(dev, &word, 0, DeviceProp::DisplayWord), kOk);
  ASSERT_EQ(ops().pointsToPixels(dev, ctx, 72, &px), kOk);
  EXPECT_EQ(px, host.logicalDpiY());
  // Plain mode: fixed sizes, 12 points at zoom index 2, whatever is asked.
  int on = 1;
  ASSERT_EQ(ops().setProperty(dev, &on, 0, DeviceProp::PlainMode), kOk);
  spec.size = 40;
  ASSERT_EQ(ops().selectFont(dev, ctx, &spec, &fixed, nullptr, &a), kOk);
  EXPECT_EQ(fixed, h12);
  // The font cache can be turned off and fonts dropped without changing metrics.
  std::int16_t again = 0;
  ASSERT_EQ(ops().setProperty(dev, nullptr, 0, DeviceProp::FontCache), kOk);
  ASSERT_EQ(ops().setProperty(dev, nullptr, 0, DeviceProp::DropFonts), kOk);
  ASSERT_EQ(ops().selectFont(dev, ctx, &spec, &again, nullptr, &a), kOk);
  EXPECT_EQ(again, fixed);
  End();
}

TEST_F(WinDeviceTest, ColoursFillsBoxesRulesAndMarkers) {
  const DeviceColour red{255, 0, 0}, blue{0, 0, 255};
  Begin();
  ASSERT_EQ(ops().fillRect(dev, ctx, 0, 0, 300, 300, nullptr), kOk);  // window colour
  ASSERT_EQ(ops().drawBox(dev, ctx, 10, 10, 20, 16, 0, &red, &blue), kOk);
  ASSERT_EQ(ops().drawBox(dev, ctx, 30, 10, 40, 16, 1, &red, nullptr), kOk);  // dotted frame
  ASSERT_EQ(ops().drawBox(dev, ctx, 50, 10, 60, 16, 0, nullptr, nullptr), kOk);
  ASSERT_EQ(ops().drawRule(dev, ctx, 0, 30, 100, 30, 0, 2, &red), kOk);
  ASSERT_EQ(ops().drawRule(dev, ctx, 0, 40, 10, 44, 0, 0, &blue), kOk);
  DeviceFontSpec spec = Font(DeviceFace::SansSerif, 16, DeviceFontStyle::TextColour);
  spec.text = red;
  ASSERT_EQ(ops().drawListMarker(dev, ctx, 120, 60, &spec, kMarkerBullet | kMarkerSquare), kOk);
  ASSERT_EQ(ops().drawListMarker(dev, ctx, 200, 60, &spec, 12), kOk);  // "12. " ends at x
  End();
  const int m = kMargin;
  EXPECT_EQ(Pixel(m + 10, 10), 0xFF0000u);  // frame
  EXPECT_EQ(Pixel(m + 19, 15), 0xFF0000u);  // last column and row of the frame
  EXPECT_EQ(Pixel(m + 20, 15), 0xFFFFFFu);
  EXPECT_EQ(Pixel(m + 15, 13), 0x0000FFu);  // fill
  EXPECT_EQ(Pixel(m + 30, 10), 0xFF0000u);
  EXPECT_EQ(Pixel(m + 31, 10), 0xFFFFFFu);  // dotted
  EXPECT_EQ(Pixel(m + 35, 13), 0xFFFFFFu);  // no fill
  EXPECT_EQ(Pixel(m + 50, 10), 0xFFFFFFu);  // both null: nothing
  EXPECT_EQ(Pixel(m + 50, 31), 0xFF0000u);
  EXPECT_EQ(Pixel(m + 50, 32), 0xFFFFFFu);
  EXPECT_EQ(Pixel(m + 5, 42), 0x0000FFu);
  // The square bullet from the font's ascent.
  bool bullet = false;
  for (int y = 40; y < 60; ++y)
    bullet |= Pixel(m + 121, y) == 0xFF0000u;
  EXPECT_TRUE(bullet);
  bool number = false, beyond = false;
  for (int y = 40; y < 64; ++y)
    for (int x = 150; x < 230; ++x) {
      if (Pixel(x, y) == 0xFFFFFF) continue;
      number = true;
      beyond |= x >= 200 + m;
    }
  EXPECT_TRUE(number);
  EXPECT_FALSE(beyond);

  // The colour theme: fills take its background, boxes its text colour
  // without a fill, until suspended.
  const DeviceThemeEntry theme[2] = {{1, {0, 128, 0}}, {2, {10, 20, 30}}};
  ASSERT_EQ(ops().setProperty(dev, const_cast<DeviceThemeEntry*>(theme), 0, DeviceProp::Theme),
            kOk);
  Begin();
  ASSERT_EQ(ops().fillRect(dev, ctx, 0, 70, 20, 80, &red), kOk);
  ASSERT_EQ(ops().fillRect(dev, ctx, 70, 70, 80, 80, nullptr), kOk);  // a clear, as the view does
  ASSERT_EQ(ops().drawBox(dev, ctx, 30, 70, 40, 80, 0, &red, &blue), kOk);
  ASSERT_EQ(ops().setProperty(dev, nullptr, 0, DeviceProp::SuspendTheme), kOk);
  ASSERT_EQ(ops().drawRule(dev, ctx, 50, 70, 60, 70, 0, 1, &blue), kOk);
  End();
  EXPECT_EQ(Pixel(m + 5, 75), 0x0A141Eu);
  EXPECT_EQ(Pixel(m + 75, 75), 0x0A141Eu);
  EXPECT_EQ(Pixel(m + 30, 75), 0x008000u);
  EXPECT_EQ(Pixel(m + 35, 75), 0xFFFFFFu);  // not filled
  EXPECT_EQ(Pixel(m + 55, 70), 0x0000FFu);
}

std::string PalmOneBit(int width, int height, const std::vector<std::uint8_t>& rows) {
  std::string h(16, '\0');
  const int rowBytes = ((width + 15) / 16) * 2;
  h[0] = char(width >> 8), h[1] = char(width), h[2] = char(height >> 8), h[3] = char(height);
  h[4] = char(rowBytes >> 8), h[5] = char(rowBytes);
  h[8] = 1, h[9] = 1;
  h[13] = char(0xFF);
  return h + std::string(rows.begin(), rows.end());
}

TEST_F(WinDeviceTest, ImagesDecodeDoubleAndRefuseDamage) {
  // A 4 x 2 bitmap: row 0 black, white, black, white; row 1 all black.
  const std::string palm = PalmOneBit(4, 2, {0xA0, 0x00, 0xF0, 0x00});
  DevicePalmBitmap image{Bytes(palm.c_str()), static_cast<std::uint32_t>(palm.size())};
  Begin();
  ASSERT_EQ(ops().fillRect(dev, ctx, 0, 0, 300, 300, nullptr), kOk);
  ASSERT_EQ(ops().drawImage(dev, ctx, 10, 10, DeviceImageKind::PalmBitmap, 0, &image), kOk);
  ASSERT_EQ(
      ops().drawImage(dev, ctx, 30, 10, DeviceImageKind::PalmBitmap, kImageDoubleSize, &image),
      kOk);
  End();
  const int m = kMargin;
  const std::uint32_t row0[4] = {0, 0xFFFFFF, 0, 0xFFFFFF};
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(Pixel(m + 10 + x, 10), row0[x]);
    EXPECT_EQ(Pixel(m + 10 + x, 11), 0u);
    for (int dy = 0; dy < 2; ++dy)
      for (int dx = 0; dx < 2; ++dx)
        EXPECT_EQ(Pixel(m + 30 + 2 * x + dx, 10 + dy), row0[x]);
  }
  EXPECT_EQ(Pixel(m + 30, 13), 0u);
  EXPECT_EQ(Pixel(m + 30, 14), 0xFFFFFFu);

  const QImage before = Surface();
  const std::string cut = palm.substr(0, palm.size() - 1);
  DevicePalmBitmap damaged{Bytes(cut.c_str()), static_cast<std::uint32_t>(cut.size())};
  Begin();
  EXPECT_EQ(ops().drawImage(dev, ctx, 60, 10, DeviceImageKind::PalmBitmap, 0, &damaged),
            kMalformed);
  EXPECT_EQ(ops().drawImage(dev, ctx, 60, 10, 4, 0, &image), kMalformed);
  const std::uint8_t y[] = {128, 255}, cb[] = {128, 128}, cr[] = {128, 128};
  DevicePlanarImage ycc{2, 1, 2, {y, cb, cr}};
  ASSERT_EQ(ops().drawImage(dev, ctx, 80, 10, DeviceImageKind::PlanarYCbCr, 0, &ycc), kOk);
  End();
  EXPECT_EQ(Pixel(m + 80, 10), 0x808080u);
  EXPECT_EQ(Pixel(m + 81, 10), 0xFFFFFFu);
  for (int x = m + 60; x < m + 70; ++x)
    EXPECT_EQ(Pixel(x, 10), before.pixel(x, 10) & 0xFFFFFF);

  // Plain mode: a grey box with a black frame of the image's size.
  int on = 1;
  ASSERT_EQ(ops().setProperty(dev, &on, 0, DeviceProp::PlainMode), kOk);
  Begin();
  ASSERT_EQ(
      ops().drawImage(dev, ctx, 100, 30, DeviceImageKind::PalmBitmap, kImageDoubleSize, &image),
      kOk);
  EXPECT_EQ(ops().drawImage(dev, ctx, 100, 30, 4, 0, &image), kOk);
  End();
  EXPECT_EQ(Pixel(m + 100, 30), 0u);
  EXPECT_EQ(Pixel(m + 107, 33), 0u);
  EXPECT_EQ(Pixel(m + 103, 32), 0xC0C0C0u);
  EXPECT_EQ(Pixel(m + 108, 32), 0xFFFFFFu);
}

TEST(WinDeviceWindow, ScrollBarsOfAScrollArea) {
  QScrollArea area;
  area.resize(300, 200);
  EngineObject* dev = nullptr;
  ASSERT_EQ(DeviceOf(&WinDeviceModule).create(&WinDeviceModule, &dev), kOk);
  const DeviceOps& ops = DeviceOf(dev);
  ASSERT_EQ(Device_SetWindow(dev, &area, 280, 180), kOk);
  QScrollBar* v = area.verticalScrollBar();
  ASSERT_EQ(ops.setVScroll(dev, 100, 150, 0, 1000), kOk);
  EXPECT_EQ(v->maximum(), 951);
  EXPECT_EQ(v->pageStep(), 50);
  EXPECT_EQ(v->value(), 100);
  std::uint32_t hide = 0;
  ASSERT_EQ(ops.setProperty(dev, &hide, 0, DeviceProp::VScrollShown), kOk);
  EXPECT_EQ(v->maximum(), 0);
  ASSERT_EQ(ops.setVScroll(dev, 200, 250, 0, 1000), kOk);
  EXPECT_EQ(v->maximum(), 0);  // hidden: values kept for later
  std::uint32_t show = 1;
  ASSERT_EQ(ops.setProperty(dev, &show, 0, DeviceProp::VScrollShown), kOk);
  EXPECT_EQ(v->value(), 200);

  std::int16_t barHeight = 0, usable = 0;
  ASSERT_EQ(ops.getProperty(dev, DeviceInfo::HScrollHeight, &barHeight), kOk);
  EXPECT_GT(barHeight, 0);
  ASSERT_EQ(ops.getProperty(dev, DeviceInfo::UsableHeight, &usable), kOk);
  EXPECT_EQ(usable, 180);
  for (std::uint32_t k = 0; k < 32; ++k)
    ASSERT_EQ(ops.createHScrollBar(dev, 500 + k, 0, 10, 100, 0), kOk);
  EXPECT_EQ(ops.createHScrollBar(dev, 999, 0, 10, 100, 0), kNoFreeHScrollBar);
  ASSERT_EQ(ops.getProperty(dev, DeviceInfo::UsableHeight, &usable), kOk);
  EXPECT_EQ(usable, 180 - barHeight);
  void* first = nullptr;
  ASSERT_EQ(ops.setProperty(dev, &first, 0, DeviceProp::FirstHScrollWindow), kOk);
  auto* bar = static_cast<QScrollBar*>(first);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->parent(), area.viewport());
  EXPECT_EQ(bar->property("controlId").toUInt(), 50000u);
  EXPECT_EQ(bar->height(), barHeight);
  std::uint32_t key = 0;
  ASSERT_EQ(ops.hScrollKeyFromWindow(dev, 50003, &key), kOk);
  EXPECT_EQ(key, 503u);
  ASSERT_EQ(ops.setHScrollBar(dev, 500, 10, 60, 200), kOk);
  EXPECT_EQ(bar->maximum(), 151);
  EXPECT_EQ(bar->value(), 10);
  ASSERT_EQ(ops.placeHScrollBar(dev, 500, 7, 33, kHScrollRepaint), kOk);
  EXPECT_EQ(bar->pos(), QPoint(7, 33));  // margin 0
  ASSERT_EQ(ops.removeHScrollBar(dev, 503), kOk);
  EXPECT_EQ(ops.removeHScrollBar(dev, 503), kUnknownHScrollKey);
  EXPECT_EQ(ops.hScrollKeyFromWindow(dev, 50003, &key), kNoHScrollForControl);
  EXPECT_EQ(ops.setHScrollBar(dev, 503, 0, 0, 0), kUnknownHScrollKey);
  EXPECT_EQ(ops.invalidateHScrollBar(dev, 503), kUnknownHScrollKey);
  ASSERT_EQ(ops.createHScrollBar(dev, 777, 0, 0, 10, 5), kOk);  // takes the freed slot
  ASSERT_EQ(ops.hScrollKeyFromWindow(dev, 50003, &key), kOk);
  EXPECT_EQ(key, 777u);
  std::int16_t dummy = 0;
  EXPECT_EQ(ops.getProperty(dev, 7, &dummy), kNotSupported);
  (void)ops.destroy(dev);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(WinDeviceTest, ClipboardNoticesAndProgress) {
  std::uint32_t utf8 = 106;
  ASSERT_EQ(ops().setProperty(dev, &utf8, 0, DeviceProp::Charset), kOk);
  ASSERT_EQ(ops().clipboardBegin(dev, 12), kOk);
  ASSERT_EQ(ops().clipboardAppend(dev, Bytes("a\nb\r\n\xE2\x82"), 7), kOk);
  ASSERT_EQ(ops().clipboardAppend(dev, Bytes("\xAC\n"), 2), kOk);
  ASSERT_EQ(ops().clipboardCommit(dev), kOk);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("a\r\nb\r\n\xE2\x82\xAC\r\n"));
  EXPECT_EQ(ops().clipboardCommit(dev), kOk);  // nothing collected: nothing changes
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("a\r\nb\r\n\xE2\x82\xAC\r\n"));

  static std::vector<std::uint16_t> heard;
  heard.clear();
  WinDevice_SetNoticeHook([](std::uint16_t kind) noexcept { heard.push_back(kind); });
  for (std::uint16_t kind : {0, 1, 4, 8, 12, 13})
    EXPECT_EQ(ops().notify(dev, kind), kOk);
  WinDevice_SetNoticeHook(nullptr);
  EXPECT_EQ(heard, (std::vector<std::uint16_t>{1, 4, 8, 12}));

  EXPECT_EQ(ops().posMapCommand(dev, PosMapCode::ProgressBegin, nullptr, nullptr), kProgressStop);
  std::uint32_t key = 100, value = 7;
  ASSERT_EQ(ops().posMapCommand(dev, PosMapCode::StartSlice, nullptr, nullptr), kOk);
  ASSERT_EQ(ops().posMapCommand(dev, PosMapCode::Add, &key, &value), kOk);
  std::uint32_t end = 200, endValue = 20;
  ASSERT_EQ(ops().posMapCommand(dev, PosMapCode::Finish, &end, &endValue), kOk);
  std::uint32_t k = 150, v = 0;
  ASSERT_EQ(ops().posMapCommand(dev, PosMapCode::FindByKey, &k, &v), kOk);
  EXPECT_EQ(k, 100u);
  EXPECT_EQ(v, 7u);
  EXPECT_EQ(ops().tableStoreCommand(dev, 999, nullptr, nullptr), kNotSupported);
  EXPECT_EQ(ops().selectCtlCommand(dev, 99, nullptr, nullptr), kNotSupported);
  std::int16_t w = 0;
  Begin();
  EXPECT_EQ(ops().measureUiString(dev, ctx, kUiViewEdit, &w), kOk);
  EXPECT_GT(w, 0);
  EXPECT_EQ(ops().measureUiString(dev, ctx, 2, &w), kFailed);
  End();
}

// The drop-down list control draws through the window device: the closed
// control, the open list with its highlight, and the page put back on close.
TEST_F(WinDeviceTest, DropDownListDrawsClosedAndOpen) {
  const char* items[] = {"", "alpha", "beta", "gamma"};
  SelectCtl c{};
  c.flags = SelectCtlFlag::Flat;
  c.itemCount = 3;
  c.items = items;
  c.chosen = 2;
  c.font = Font(DeviceFace::SansSerif, 10);
  SelectCtlPlace place{nullptr, nullptr, 10, 10, 20, 14, 0, 0};
  ASSERT_EQ(ops().selectCtlCommand(dev, SelectCtlCode::DrawClosed, &c, &place), kOk);
  const int x = 10 + kMargin, top = place.bottom - c.closed.height, w = place.width;
  ASSERT_GT(w, c.closed.height);
  EXPECT_EQ(Pixel(x, top), 0x000000u);              // frame
  EXPECT_EQ(Pixel(x + w - 2, top + 1), 0xC0C0C0u);  // arrow box
  EXPECT_EQ(Pixel(x + w - c.closed.height / 2, top + 7 * c.closed.height / 16), 0x000000u);
  int ink = 0;  // the chosen item's text
  for (int py = top + 1; py < place.bottom - 1; ++py)
    for (int px = x + 2; px < x + w - c.closed.height; ++px)
      ink += Pixel(px, py) != 0xFFFFFFu && Pixel(px, py) != 0xFFFFCCu;
  EXPECT_GT(ink, 0);
  const QImage closed = Surface();

  ASSERT_EQ(ops().selectCtlCommand(dev, SelectCtlCode::Open, &c, nullptr), kOk);
  const SelectCtlList& l = c.list;
  ASSERT_EQ(l.visibleRows, 3);
  EXPECT_EQ(l.y, place.bottom);
  EXPECT_EQ(Pixel(l.x + kMargin, l.y), 0x000000u);
  auto band = [&](int row) { return l.y + 1 + row * (l.rowHeight + 1) + 1; };
  EXPECT_EQ(Pixel(l.x + 1 + kMargin, band(0)), 0xFFFFCCu);
  EXPECT_EQ(Pixel(l.x + 1 + kMargin, band(1)), 0x000033u);  // item 2, inverted
  EXPECT_EQ(Pixel(l.x + 1 + kMargin, band(2)), 0xFFFFCCu);
  EXPECT_NE(Surface(), closed);
  EXPECT_EQ(ops().selectCtlCommand(dev, SelectCtlCode::Cancel, &c, nullptr), kSelectClosedNoChoice);
  EXPECT_EQ(Surface(), closed);

  ASSERT_EQ(ops().selectCtlCommand(dev, SelectCtlCode::Open, &c, nullptr), kOk);
  ASSERT_EQ(ops().selectCtlCommand(dev, SelectCtlCode::Next, &c, nullptr), kOk);
  EXPECT_EQ(Pixel(l.x + 1 + kMargin, band(1)), 0xFFFFCCu);
  EXPECT_EQ(Pixel(l.x + 1 + kMargin, band(2)), 0x000033u);
  EXPECT_EQ(ops().selectCtlCommand(dev, SelectCtlCode::Commit, &c, nullptr),
            kSelectClosedWithChoice);
  EXPECT_EQ(c.chosen, 3);
  // Only the closed control changed: it shows the new choice.
  const QImage after = Surface();
  int changed = 0;
  for (int py = 0; py < kHeight; ++py)
    for (int px = 0; px < kWidth; ++px) {
      if (after.pixel(px, py) == closed.pixel(px, py)) continue;
      ++changed;
      EXPECT_TRUE(px >= x && px < x + w && py >= top && py < place.bottom) << px << "," << py;
    }
  EXPECT_GT(changed, 0);
}

// The note box draws through the window device: pale paper in a black
// frame with the note, the focused button inverted, and the page put back on
// every close.
TEST_F(WinDeviceTest, NoteBoxDrawsAndPutsThePageBack) {
  Begin();
  Noise(7);
  End();
  const QImage page = Surface();
  const std::string note = "A note on the passage";
  NoteBox box{};
  box.text = reinterpret_cast<const std::uint8_t*>(note.data());
  box.textLength = static_cast<std::uint32_t>(note.size());
  box.anchorX = 20;
  box.lineTop = 10;
  box.lineBottom = 24;
  ASSERT_EQ(ops().noteBoxCommand(dev, NoteBoxCode::Open, &box, nullptr), kOk);
  ASSERT_TRUE(box.open);
  EXPECT_EQ(box.lineCount, 1);
  EXPECT_GT(box.buttonWidth[kUiViewEdit], 0);
  EXPECT_GT(box.buttonWidth[kUiDelete], 0);
  EXPECT_EQ(box.y, 24) << "under the line";
  const int left = box.x + kMargin, top = box.y;
  EXPECT_EQ(Pixel(left, top), 0x000000u);  // frame
  EXPECT_EQ(Pixel(left + 1, top + 1), 0xFFFFCCu);
  int ink = 0;  // the note's text
  for (int py = top + 3; py < top + 3 + box.lineHeight; ++py)
    for (int px = left + 3; px < left + box.width - 3; ++px)
      ink += Pixel(px, py) != 0xFFFFCCu;
  EXPECT_GT(ink, 0);
  // "Delete" focused: its span on the button row is inverted paper.
  std::uint16_t button = 0;
  ASSERT_EQ(ops().noteBoxCommand(dev, NoteBoxCode::FirstFromDelete, &box, &button), kOk);
  EXPECT_EQ(button, kUiDelete);
  const int rowTop = top + 3 + (box.rows - 1) * box.lineHeight;
  int inverted = 0;
  for (int px = left; px < left + box.width; ++px)
    inverted += Pixel(px, rowTop) == 0x000033u;
  EXPECT_GT(inverted, 0);
  EXPECT_EQ(ops().noteBoxCommand(dev, NoteBoxCode::Commit, &box, nullptr), kNoteBoxClosedButton);
  EXPECT_EQ(box.focused, kUiDelete);
  EXPECT_EQ(Surface(), page);
  // A press outside closes too, with the page back.
  ASSERT_EQ(ops().noteBoxCommand(dev, NoteBoxCode::Open, &box, nullptr), kOk);
  DevicePoint outside{static_cast<std::int16_t>(kWidth - 2 * kMargin - 1), kHeight - 1};
  EXPECT_EQ(ops().noteBoxCommand(dev, NoteBoxCode::PenDown, &box, &outside), kNoteBoxClosedOutside);
  EXPECT_EQ(Surface(), page);
}

std::vector<std::string> g_opened;
bool g_openAnswer = true;

TEST_F(WinDeviceTest, VObjectsGoToAnExclusiveTemporaryFile) {
  g_opened.clear();
  WinDevice_SetOpenHook([](const char* path) noexcept {
    g_opened.push_back(path);
    return g_openAnswer;
  });
  const char card[] = "BEGIN:VCARD\r\nFN:Someone\r\nEND:VCARD\r\n";
  ASSERT_EQ(ops().openVObject(dev, kVObjectCard, Len(card), card), kOk);
  ASSERT_EQ(g_opened.size(), 1u);
  const std::string first = g_opened[0];
  EXPECT_EQ(first.substr(first.size() - 4), ".vcf");
  EXPECT_NE(first.find("/iii"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(first), card);
  struct stat st {};
  ASSERT_EQ(stat(first.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);  // private to the user
  EXPECT_STREQ(WinDevice_LastVObjectFile(dev), first.c_str());

  ASSERT_EQ(ops().openVObject(dev, kVObjectCalendar, 3, "abc"), kOk);
  ASSERT_EQ(g_opened.size(), 2u);
  EXPECT_EQ(g_opened[1].substr(g_opened[1].size() - 4), ".vcs");
  EXPECT_NE(access(first.c_str(), F_OK), 0);  // the earlier file is gone

  g_openAnswer = false;
  EXPECT_EQ(ops().openVObject(dev, kVObjectCard, 3, "xyz"), kFailed);
  g_openAnswer = true;
  EXPECT_NE(access(g_opened[2].c_str(), F_OK), 0);  // not left behind
  EXPECT_EQ(access(g_opened[1].c_str(), F_OK), 0);  // the one in use stays
  EXPECT_EQ(ops().openVObject(dev, 2, 3, "xyz"), kNotSupported);
  WinDevice_SetOpenHook(nullptr);
  EXPECT_EQ(ops().destroy(dev), kOk);
  dev = nullptr;
  EXPECT_NE(access(g_opened[1].c_str(), F_OK), 0);  // released with the device
}

TEST_F(WinDeviceTest, PrintingDrawsIntoThePrintersPainterWithoutMargin) {
  QImage page(100, 60, QImage::Format_RGB32);
  page.fill(Qt::white);
  QPainter printer(&page);
  ASSERT_EQ(ops().setProperty(dev, &printer, 0, DeviceProp::Printer), kOk);
  const DeviceColour red{255, 0, 0};
  Begin();
  ASSERT_EQ(ops().fillRect(dev, ctx, 0, 0, 10, 10, &red), kOk);
  ASSERT_EQ(ops().invertRect(dev, ctx, 0, 0, 50, 50), kOk);  // not on a printer
  DeviceFontSpec spec = Font(DeviceFace::Serif, 10);
  std::int16_t px = 0;
  ASSERT_EQ(ops().selectFont(dev, ctx, &spec, nullptr, nullptr, nullptr), kOk);
  ASSERT_EQ(ops().pointsToPixels(dev, ctx, 10, &px), kOk);
  EXPECT_EQ(px, 10);
  std::int16_t barHeight = -1;
  ASSERT_EQ(ops().getProperty(dev, DeviceInfo::HScrollHeight, &barHeight), kOk);
  EXPECT_EQ(barHeight, 0);
  End();
  EXPECT_TRUE(printer.isActive());
  printer.end();
  EXPECT_EQ(page.pixel(0, 0) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(page.pixel(9, 9) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(page.pixel(20, 20) & 0xFFFFFF, 0xFFFFFFu);
}

}  // namespace
