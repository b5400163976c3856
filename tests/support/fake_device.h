// The recording fake device: a complete DeviceOps implementation for headless
// tests of everything above the device.
//
// - Text is measured with fixed per-character metrics that depend on the
//   font size (after zoom) and boldness (FakeFontMetrics, FakeCharAdvance).
// - Every call is logged with its slot, arguments, text, drawing depth and
//   answer.
// - Drawing goes into a small RGB framebuffer (window surface, off-screen
//   surface, saved pixels) with the margin, clip region and nesting rules of
//   the contract; InvertRect also flips a separate plane, so tests can ask
//   which pixels are inverted whatever their colour.
// - The clipboard, notices, vertical and horizontal scroll bars, vObjects and
//   properties are captured in plain fields.
// - The position map, table store and progress protocol are the engine's
//   own (DeviceServices), read through a replaceable clock (FakeClock by
//   default: time moves only when a test moves it, or by `step` per read).
//
// Drawing and measuring slots need an open BeginDraw, as on a real surface;
// they answer kFailed (and log it) otherwise. A fresh device has no window
// and a zero size, like the real one: FakeDevice_Open sets them up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/device/device.h"
#include "engine/device/pos_map.h"
#include "engine/runtime/core.h"

extern EngineObject FakeDeviceModule;

struct FakeCall {
  int slot;
  const char* name;
  int depth;  // BeginDraw nesting when the call came in
  std::vector<std::int64_t> args;
  std::string text;  // text bytes, when the slot takes text
  StatusCode result;
};

struct FakeFontMetrics {
  int pixels;  // the font's pixel size after zoom, at least 1
  bool bold;
  int ascent, descent, lineHeight, externalLeading;
};

// The metrics the fake gives a font request under a display word (plain mode
// counts as fixed sizes). 1 point is 1 pixel.
FakeFontMetrics FakeFontFor(const DeviceFontSpec& font, std::uint16_t displayWord, bool plainMode);
// The advance of one character: half the pixel size (at least 1); i l . , : ;
// ! | ' half that (at least 1); m w M W one and a half times; bold adds 1.
// Characters of several bytes advance like ordinary letters.
int FakeCharAdvance(const FakeFontMetrics& font, std::uint8_t firstByte);
// Bytes of the character at p (never more than left), as the charset module
// walks them; charset 0, and bytes that start no character, count 1.
std::uint32_t FakeCharLength(std::uint32_t charset, const std::uint8_t* p, std::uint32_t left);
// Bytes in a charset as UTF-16 through the charset module; charset 0 takes
// each byte as its own code point.
std::u16string FakeDecode(std::uint32_t charset, const std::string& bytes);

struct FakeClock {
  std::uint32_t now = 0;
  std::uint32_t step = 0;  // added after every read
};

struct FakeSurface {
  int width = 0, height = 0;
  std::vector<std::uint32_t> rgb;      // 0xRRGGBB
  std::vector<std::uint8_t> inverted;  // 1 where inverted an odd number of times since filled
  void Resize(int w, int h, std::uint32_t fill);
  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
  std::uint32_t At(int x, int y) const { return Contains(x, y) ? rgb[y * width + x] : 0; }
};

// A horizontal bar; its key is in FakeDevice::hkeys, at the same slot.
struct FakeHScrollBar {
  std::int16_t x = 0, y = 0, width = 0, height = 0;
  std::uint32_t position = 0, page = 0, maximum = 0;
  int repaints = 0;
};

struct FakeDevice {
  // Captured state, free for tests to read.
  std::vector<FakeCall> log;
  bool logging = true;  // long runs (benchmarks, fuzzing) may turn the call log off
  void* window = nullptr;
  std::int16_t width = 0, height = 0;
  std::uint16_t margin = 0;
  std::uint16_t displayWord = 2;
  bool vScrollShown = true, hScrollEnabled = true;
  void* printer = nullptr;
  bool plainMode = false, fontCache = true;
  DeviceTheme theme;
  std::uint32_t charset = 0;
  std::u16string faces[6];
  int fontDrops = 0;
  std::uint32_t vPosition = 0, vPage = 0, vMaximum = 0;
  DeviceHScrollKeys hkeys;
  FakeHScrollBar hbars[kMaxHScrollBars];
  std::u16string clipboard;  // the last committed text
  int clipboardCommits = 0;
  std::vector<std::uint16_t> notices;
  std::vector<std::pair<std::uint16_t, std::string>> vobjects;
  std::vector<DeviceRect> validated;

  // Drawing state.
  int depth = 0;
  FakeSurface windowSurface, offscreen, saved;
  bool offscreenExists = false, offscreenCurrent = false, savedExists = false;
  DeviceRect clip{};  // in surface pixels
  DeviceFontSpec font{0xFFFF, 10, 0, {}, {}};
  FakeFontMetrics metrics{};
  DeviceColour textColour{0, 0, 0};
  bool opaque = false;
  DeviceColour textBackground{};
  DeviceColour savedTextColour{};
  std::int16_t textX = 0, textY = 0;
  std::uint32_t textFlags = 0, savedTextFlags = 0;
  std::int16_t underlineOffset = kDeviceNoUnderline;

  // Clipboard collection between Begin and Commit: the bytes as given, in
  // the device charset, converted to UTF-16 on commit.
  std::string clipBytes;
  std::uint32_t clipCapacity = 0;
  bool clipOpen = false;

  // Device-side services, with the fake clock installed.
  DeviceServices services{};
  FakeClock clock;

  // Injected failures (0 = none).
  StatusCode clipboardFailure = kOk;
  StatusCode endDrawFailure = kOk;
  StatusCode vScrollFailure = kOk;
  // ClipboardBegin refuses texts of more characters than this (0: no limit)
  // with kOutOfMemory, as a device whose memory runs out.
  std::uint32_t clipboardLimit = 0;
  bool refuseSurface = false;
  // Hooks for the command sets of slots 37 and 39 (null: the engine's
  // drop-down list control and note box).
  StatusCode (*selectCtl)(EngineObject*, std::uint16_t, void*, void*) noexcept = nullptr;
  StatusCode (*noteBox)(EngineObject*, std::uint16_t, void*, void*) noexcept = nullptr;

  // Helpers for tests.
  FakeSurface& Current() { return offscreenCurrent ? offscreen : windowSurface; }
  std::uint32_t Pixel(int x, int y) const { return windowSurface.At(x, y); }
  bool Inverted(int x, int y) const {
    return windowSurface.Contains(x, y) && windowSurface.inverted[y * windowSurface.width + x];
  }
  int Origin() const { return printer ? 0 : margin; }
  std::vector<const FakeCall*> Calls(int slot) const;
  int Count(int slot) const { return static_cast<int>(Calls(slot).size()); }
  void ClearLog() { log.clear(); }
};

constexpr std::uint32_t kFakeWindowColour = 0xFFFFFF;
constexpr std::uint32_t kFakeImageColour = 0xC0C0C0;
constexpr int kFakeMaxSurface = 2048;  // framebuffer side cap; beyond it pixels are dropped
constexpr std::int16_t kFakeHScrollHeight = 16;

FakeDevice& FakeDevice_Of(EngineObject* device);
// Creates a device through the module and sets a window (a dummy handle), the
// size and the margin through SetProperty, as a view does.
EngineObject* FakeDevice_Open(std::int16_t width = 320, std::int16_t height = 240,
                              std::uint16_t margin = 0);
// Destroys through slot 2.
void FakeDevice_Close(EngineObject* device);
// Colour helper: 0xRRGGBB.
constexpr std::uint32_t FakeRgb(const DeviceColour& c) {
  return (std::uint32_t{c.red} << 16) | (std::uint32_t{c.green} << 8) | c.blue;
}
