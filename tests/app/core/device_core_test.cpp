// The portable rules of the window device: font requests, vObject suffixes,
// planar and YCbCr images, clipboard assembly, and engine text converted
// with its byte map. The rules it shares with every device are tested in
// tests/view/device_rules_test.cpp.
#include "app/device/device_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "app/device/clipboard_text.h"
#include "app/device/device_text.h"
#include "app/device/planar_image.h"
#include "tests/support/peer.h"

namespace {

DeviceFontSpec Spec(std::uint16_t face, std::int16_t size, std::uint16_t style = 0) {
  return DeviceFontSpec{face, size, style, {10, 20, 30}, {40, 50, 60}};
}

TEST(WinDeviceFont, SizesFollowZoomFixedSizesAndDpi) {
  struct Case {
    std::uint16_t display;
    bool plain, printing;
    int dpi;
    std::int16_t points;
    std::int32_t pixels;
  } cases[] = {
      {2, false, false, 72, 10, 10},  // index 2 leaves the size
      {0, false, false, 72, 10, 14},  // index 0 turns 10 into 14
      {1, false, false, 72, 10, 12},     {3, false, false, 72, 10, 8},
      {4, false, false, 72, 10, 6},      {5, false, false, 72, 10, 5},
      {6, false, false, 72, 10, 4},      {7, false, false, 72, 10, 4},
      {2, false, false, 96, 10, 13},  // MulDiv(10, 96, 72) rounds to nearest
      {2, false, false, 96, 11, 15},     {2, false, false, 96, 9, 12},
      {2 | 8, false, false, 72, 30, 12},  // fixed sizes: from the zoom alone
      {0 | 8, false, false, 72, 30, 18}, {7 | 8, false, false, 72, 30, 5},
      {2, true, false, 72, 30, 12},   // plain mode counts as fixed sizes
      {2, false, true, 300, 11, 11},  // printing: points as they are
      {2, false, false, 96, 0, 1},    // never below one pixel
  };
  for (const auto& c : cases) {
    FontContext context{c.display, c.plain, c.printing, c.dpi};
    EXPECT_EQ(WinDevice_FontRequest(Spec(2, c.points), context).pixels, c.pixels)
        << "display " << c.display << " points " << c.points << " dpi " << c.dpi;
  }
}

TEST(WinDeviceFont, StyleWeightAndFamily) {
  const FontContext plain{};
  using namespace DeviceFontStyle;
  FontRequest r = WinDevice_FontRequest(Spec(5, 10, Italic | Underline | StrikeOut), plain);
  EXPECT_FALSE(r.bold);
  EXPECT_TRUE(r.italic && r.underline && r.strikeOut);
  EXPECT_EQ(r.family, FontFamily::Modern);
  EXPECT_EQ(r.faceSlot, 5);
  EXPECT_TRUE(WinDevice_FontRequest(Spec(1, 10, Bold), plain).bold);
  const FontContext allBold{2 | DeviceDisplay::AllBold, false, false, 96};
  EXPECT_TRUE(WinDevice_FontRequest(Spec(1, 10), allBold).bold);
  const std::pair<std::uint16_t, std::pair<FontFamily, int>> faces[] = {
      {1, {FontFamily::Roman, 1}},  {2, {FontFamily::Swiss, 2}},
      {3, {FontFamily::Script, 0}}, {4, {FontFamily::Decorative, 0}},
      {5, {FontFamily::Modern, 5}}, {0xFFFF, {FontFamily::Any, 0}},
      {0, {FontFamily::Any, 0}},    {9, {FontFamily::Any, 0}}};
  for (const auto& [face, want] : faces) {
    const FontRequest f = WinDevice_FontRequest(Spec(face, 10), plain);
    EXPECT_EQ(f.family, want.first) << face;
    EXPECT_EQ(f.faceSlot, want.second) << face;
  }
  EXPECT_TRUE(WinDevice_FontRequest(Spec(1, 10), FontContext{2 | 32, false, false, 96}).smooth);
}

TEST(WinDeviceFont, PointsToPixels) {
  EXPECT_EQ(WinDevice_PointsToPixels(0, FontContext{2, false, false, 96}), 1);
  EXPECT_EQ(WinDevice_PointsToPixels(72, FontContext{2, false, false, 96}), 96);
  EXPECT_EQ(WinDevice_PointsToPixels(72, FontContext{0, false, false, 96}), 138);  // 96 * 36/25
  EXPECT_EQ(WinDevice_PointsToPixels(72, FontContext{2, false, true, 96}), 72);
  EXPECT_EQ(WinDevice_MulDiv(7, 3, 2), 11);
  EXPECT_EQ(WinDevice_MulDiv(-7, 3, 2), -11);
  EXPECT_EQ(WinDevice_MulDiv(1, 1, 0), -1);
}

TEST(WinDeviceVObject, Suffixes) {
  EXPECT_STREQ(WinDevice_VObjectSuffix(0), ".vcs");
  EXPECT_STREQ(WinDevice_VObjectSuffix(1), ".vcf");
  EXPECT_EQ(WinDevice_VObjectSuffix(2), nullptr);
}

TEST(WinDeviceImage, YCbCrToRgb) {
  struct Case {
    std::uint8_t y, cb, cr;
    std::uint32_t rgb;
  } cases[] = {
      {128, 128, 128, 0x808080}, {255, 128, 128, 0xFFFFFF},
      {0, 128, 128, 0x000000},   {255, 128, 255, 0xFFA4FF},  // red and blue clamp at the top
      {0, 128, 0, 0x005C00},  // red clamps at 0; green (46 * 128 + 32) / 64 = 92
  };
  for (const auto& c : cases) {
    const std::uint32_t got = PlanarImage_YCbCrToRgb(c.y, c.cb, c.cr) & 0xFFFFFF;
    EXPECT_EQ(got, c.rgb) << int(c.y) << " " << int(c.cb) << " " << int(c.cr);
  }
}

TEST(WinDeviceImage, YCbCrAgreesWithTheJfifConversion) {
  KELPO_REQUIRE_PEER("python3");
  // Pillow's or the plain JFIF formulas, computed by python, within 2.
  std::string samples;
  std::vector<std::array<std::uint8_t, 3>> in;
  for (int y = 0; y < 256; y += 51)
    for (int cb = 0; cb < 256; cb += 51)
      for (int cr = 0; cr < 256; cr += 51) {
        in.push_back({std::uint8_t(y), std::uint8_t(cb), std::uint8_t(cr)});
        samples += std::to_string(y) + " " + std::to_string(cb) + " " + std::to_string(cr) + "\n";
      }
  int status = 0;
  const std::string out = RunPeer(
      "python3 -c \"import sys\n"
      "c=lambda v:max(0,min(255,round(v)))\n"
      "for l in sys.stdin:\n"
      " y,b,r=map(int,l.split())\n"
      " print(c(y+1.402*(r-128)),c(y-0.344136*(b-128)-0.714136*(r-128)),c(y+1.772*(b-128)))\"",
      samples, &status);
  ASSERT_EQ(status, 0);
  std::size_t at = 0;
  for (const auto& s : in) {
    int r = 0, g = 0, b = 0, used = 0;
    ASSERT_EQ(std::sscanf(out.c_str() + at, "%d %d %d\n%n", &r, &g, &b, &used), 3);
    at += used;
    const std::uint32_t got = PlanarImage_YCbCrToRgb(s[0], s[1], s[2]);
    EXPECT_NEAR(int((got >> 16) & 0xFF), r, 2);
    EXPECT_NEAR(int((got >> 8) & 0xFF), g, 2);
    EXPECT_NEAR(int(got & 0xFF), b, 2);
  }
}

TEST(WinDeviceImage, PlanarPlanes) {
  const std::uint8_t r[] = {1, 2, 99, 4, 5, 99}, g[] = {10, 20, 99, 40, 50, 99},
                     b[] = {100, 200, 99, 44, 55, 99};
  DevicePlanarImage colour{2, 2, 3, {r, g, b}};
  EngineBuffer<std::uint32_t> px;
  ASSERT_EQ(PlanarImage_Decode(colour, false, &px), kOk);
  EXPECT_EQ(px.get()[0], 0xFF010A64u);
  EXPECT_EQ(px.get()[3], 0xFF053237u);  // second row starts at byte 3
  DevicePlanarImage grey{2, 2, 3, {r, nullptr, nullptr}};
  ASSERT_EQ(PlanarImage_Decode(grey, true, &px), kOk);
  EXPECT_EQ(px.get()[2], 0xFF040404u);
  const DevicePlanarImage bad[] = {
      {2, 2, 1, {r, g, b}},        // rows shorter than the width
      {2, 2, 3, {nullptr, g, b}},  // no plane 0
      {2, 2, 3, {r, g, nullptr}},  // only one chroma plane
      {-1, 2, 3, {r, g, b}},      {9000, 1, 9000, {r, g, b}},
  };
  for (const auto& image : bad)
    EXPECT_EQ(PlanarImage_Decode(image, false, &px), kMalformed);
}

const std::uint8_t* Bytes(const char* s) {
  return reinterpret_cast<const std::uint8_t*>(s);
}

std::u16string Finished(ClipboardText& clip) {
  const char16_t* text = nullptr;
  std::uint32_t n = 0;
  if (clip.Finish(&text, &n) != kOk) return u"<failed>";
  return std::u16string(text, n);
}

TEST(WinDeviceClipboard, LoneLineFeedsGetCarriageReturns) {
  ClipboardText clip;
  ASSERT_EQ(clip.Begin(64), kOk);
  ASSERT_EQ(clip.Append(0, Bytes("a\nb\r"), 4), kOk);
  ASSERT_EQ(clip.Append(0, Bytes("\nc\n"), 3), kOk);  // the CR before was in the last append
  EXPECT_EQ(clip.LoneLineFeeds(), 2u);
  EXPECT_EQ(Finished(clip), u"a\r\nb\r\nc\r\n");
}

TEST(WinDeviceClipboard, MatchesUnix2dos) {
  KELPO_REQUIRE_PEER("unix2dos");
  const std::string text = "\nfirst\nsecond\r\n\n\r\rthird\n\nend";
  int status = 0;
  const std::string want = RunPeer("unix2dos -q", text, &status);
  ASSERT_EQ(status, 0);
  ClipboardText clip;
  ASSERT_EQ(clip.Begin(static_cast<std::uint32_t>(text.size())), kOk);
  for (std::size_t i = 0; i < text.size(); i += 3)
    ASSERT_EQ(clip.Append(0, Bytes(text.c_str() + i),
                          std::uint32_t(std::min<std::size_t>(3, text.size() - i))),
              kOk);
  EXPECT_EQ(Finished(clip), std::u16string(want.begin(), want.end()));
}

TEST(WinDeviceClipboard, CapacityCharsetsAndSplitCharacters) {
  ClipboardText clip;
  // Truncated at the capacity.
  ASSERT_EQ(clip.Begin(5), kOk);
  ASSERT_EQ(clip.Append(0, Bytes("abc"), 3), kOk);
  ASSERT_EQ(clip.Append(0, Bytes("defgh"), 5), kOk);
  EXPECT_EQ(Finished(clip), u"abcde");
  // windows-1252 (charset 0): 0x80 is the euro sign.
  ASSERT_EQ(clip.Begin(4), kOk);
  ASSERT_EQ(clip.Append(0, Bytes("\x80x"), 2), kOk);
  EXPECT_EQ(Finished(clip), u"\u20ACx");
  // UTF-8 characters cut between appends wait and are completed.
  const char* utf8 = "\xE2\x82\xAC\xF0\x9F\x98\x80!";  // euro, an emoji, "!"
  ASSERT_EQ(clip.Begin(8), kOk);
  for (int i = 0; i < 8; ++i)
    ASSERT_EQ(clip.Append(106, Bytes(utf8 + i), 1), kOk) << i;
  EXPECT_EQ(Finished(clip), u"\u20AC\U0001F600!");
  // An empty append (no bytes, no pointer) while a character waits keeps it waiting.
  ASSERT_EQ(clip.Begin(8), kOk);
  ASSERT_EQ(clip.Append(106, Bytes("\xE2\x82"), 2), kOk);
  ASSERT_EQ(clip.Append(106, nullptr, 0), kOk);
  ASSERT_EQ(clip.Append(106, Bytes("\xAC"), 1), kOk);
  EXPECT_EQ(Finished(clip), u"\u20AC");
  // Nothing collected: no text; a zero count opens nothing.
  ClipboardText none;
  const char16_t* t = nullptr;
  std::uint32_t n = 0;
  EXPECT_EQ(none.Finish(&t, &n), kNoMore);
  ASSERT_EQ(none.Begin(0), kOk);
  EXPECT_FALSE(none.Open());
}

TEST(WinDeviceText, UnitsMapBackToSourceBytes) {
  DeviceText t;
  // UTF-8: "a", e-acute (2 bytes), an emoji (4 bytes, a surrogate pair), "z".
  const char* s = "a\xC3\xA9\xF0\x9F\x98\x80z";
  ASSERT_EQ(t.Convert(106, Bytes(s), 8, true), kOk);
  ASSERT_EQ(t.Size(), 5u);
  const std::uint32_t starts[] = {0, 1, 3, 3, 7}, ends[] = {1, 3, 7, 7, 8};
  for (std::uint32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(t.Start(i), starts[i]) << i;
    EXPECT_EQ(t.End(i), ends[i]) << i;
  }
  // UTF-16 with a byte-order mark (1015): the mark belongs to the first character.
  const std::uint8_t bom[] = {0xFF, 0xFE, 'h', 0, 'i', 0};
  ASSERT_EQ(t.Convert(1015, bom, 6, true), kOk);
  ASSERT_EQ(t.Size(), 2u);
  EXPECT_EQ(t.Units()[0], u'h');
  EXPECT_EQ(t.End(0), t.Start(1));
  EXPECT_EQ(t.End(1), 6u);
  // An unknown charset reads as windows-1252.
  ASSERT_EQ(t.Convert(999999, Bytes("\x80"), 1, true), kOk);
  ASSERT_EQ(t.Size(), 1u);
  EXPECT_EQ(t.Units()[0], u'\u20AC');
  // A long run leaves the inner buffers.
  std::string lng(1000, 'q');
  lng += "\xC3\xA9";
  ASSERT_EQ(t.Convert(106, Bytes(lng.c_str()), 1002, true), kOk);
  ASSERT_EQ(t.Size(), 1001u);
  EXPECT_EQ(t.Start(1000), 1000u);
  EXPECT_EQ(t.End(1000), 1002u);
}

TEST(WinDeviceText, MatchesIconv) {
  KELPO_REQUIRE_PEER("iconv");
  std::string text;
  for (int c = 0x20; c < 0x100; ++c)
    if (c != 0x81 && c != 0x8D && c != 0x8F && c != 0x90 && c != 0x9D) text.push_back(char(c));
  int status = 0;
  const std::string want = RunPeer("iconv -f WINDOWS-1252 -t UTF-16LE", text, &status);
  ASSERT_EQ(status, 0);
  DeviceText t;
  ASSERT_EQ(t.Convert(2252, Bytes(text.c_str()), std::uint32_t(text.size()), true), kOk);
  ASSERT_EQ(want.size(), 2 * t.Size());
  for (std::uint32_t i = 0; i < t.Size(); ++i) {
    EXPECT_EQ(t.Units()[i],
              char16_t(std::uint8_t(want[2 * i]) | std::uint8_t(want[2 * i + 1]) << 8));
    EXPECT_EQ(t.Start(i), i);
  }
}

}  // namespace
