// The portable rules of the window device, kept apart from the Qt calls so
// that they are tested alone: the font request of a DeviceFontSpec (zoom and
// fixed sizes, points to pixels, weight and family), the colour precedence of
// text, backgrounds, fills and lines, the dotted-underline offset, the bullet
// box, the mapping of the engine's scroll values to a scroll bar, and the
// table of keyed horizontal scroll bars.
#pragma once

#include <array>
#include <cstdint>

#include "engine/view/device.h"

constexpr DeviceColour kWindowColour{255, 255, 255};
constexpr DeviceColour kBlackColour{0, 0, 0};
constexpr int kDefaultDpi = 96;

// Rounds a * b / c to the nearest integer, halves away from zero; c == 0
// answers -1.
std::int32_t WinDevice_MulDiv(std::int32_t a, std::int32_t b, std::int32_t c) noexcept;

// Generic families of the face classes.
enum class FontFamily : std::uint8_t { Any, Roman, Swiss, Script, Decorative, Modern };

// What a font request asks of the font system; equal requests share a font.
struct FontRequest {
  std::int32_t pixels = 1;  // em height in pixels (points when printing)
  bool bold = false, italic = false, underline = false, strikeOut = false;
  bool smooth = false;
  FontFamily family = FontFamily::Any;
  std::uint8_t faceSlot = 0;  // which face name: 0 default, 1 serif, 2 sans, 5 fixed
  bool operator==(const FontRequest&) const = default;
};

struct FontContext {
  std::uint16_t displayWord = 2;
  bool plainMode = false;
  bool printing = false;
  int dpiY = kDefaultDpi;
};

// Size: fixed sizes (display bit 3 or plain mode) from the zoom index alone,
// else the requested points scaled by the zoom; then points to pixels at the
// dpi (points unchanged when printing), at least 1.
FontRequest WinDevice_FontRequest(const DeviceFontSpec& spec, const FontContext& context) noexcept;
// Pixels of a size in points at the zoom of the display word (72 dpi when
// printing), at least 1.
std::int32_t WinDevice_PointsToPixels(std::uint32_t points, const FontContext& context) noexcept;

struct ThemeState {
  bool on = false;
  bool suspended = false;  // text and frame colours suspended; fills keep the theme
  DeviceColour text{0, 255, 0};
  DeviceColour background{255, 0, 0};
};

// The text colour and background a font selection brings.
struct TextColours {
  bool changeText = false;  // false: the current text colour stays
  DeviceColour text{};
  bool opaque = false;  // false: transparent background
  DeviceColour background{};
};
TextColours WinDevice_TextColours(const DeviceFontSpec& spec, bool plainMode,
                                  const ThemeState& theme) noexcept;
// Fills: the window colour in plain mode; the theme background when the
// theme is on (a null colour included, so that the text view's clears show
// the theme); else the colour, or the window colour for a null one.
DeviceColour WinDevice_FillColour(const DeviceColour* colour, bool plainMode,
                                  const ThemeState& theme) noexcept;
// Lines, frames and markers: black in plain mode, the theme text colour when
// on and not suspended, else the colour, else black.
DeviceColour WinDevice_LineColour(const DeviceColour* colour, bool plainMode,
                                  const ThemeState& theme) noexcept;

// The dotted-underline offset below the y of SetTextOrigin; kNoUnderline for
// the top reference.
constexpr std::int16_t kNoUnderline = 0x7FFF;
std::int16_t WinDevice_UnderlineOffset(std::uint32_t flags, std::int16_t descent) noexcept;

// The bullet of a list marker drawn at (x, y) with a font of ascent e.
DeviceRect WinDevice_BulletBox(std::int16_t x, std::int16_t y, std::int32_t ascent) noexcept;

// A scroll bar's values from the engine's (position, page end, maximum):
// page end clamped to the maximum and the position to the page end; the bar
// scrolls over 0..maximum with the page shown, so its last position is
// maximum - page + 1 (maximum for an empty page). Values beyond int range are
// clamped.
struct ScrollValues {
  std::uint32_t position;
  std::uint32_t page;
  std::uint32_t maximum;
  int barMaximum;  // the last position a bar can take
  int barPage;
  int barValue;
};
ScrollValues WinDevice_ScrollValues(std::uint32_t position, std::uint32_t pageEnd,
                                    std::uint32_t maximum) noexcept;

// The 32 keyed horizontal scroll bars: slot i has control id 50000 + i.
class HScrollKeys {
 public:
  HScrollKeys() { keys_.fill(kNoHScrollKey); }
  // The slot of a key in use, or -1.
  int Find(std::uint32_t key) const noexcept;
  // Takes the first free slot for the key: the slot, or -1 when all are in
  // use (or the key is the invalid -1).
  int Acquire(std::uint32_t key) noexcept;
  void Release(int slot) noexcept;
  // The slot of a control id whose slot is in use, or -1.
  int SlotOfControl(std::uint32_t controlId) const noexcept;
  std::uint32_t KeyAt(int slot) const noexcept { return keys_[slot]; }
  int InUse() const noexcept;
  int First() const noexcept;  // first slot in use, or -1

 private:
  std::array<std::uint32_t, kMaxHScrollBars> keys_;
};

// The file-name suffix of a vObject kind: ".vcs" (vCalendar) or ".vcf"
// (vCard); null for other kinds.
const char* WinDevice_VObjectSuffix(std::uint16_t kind) noexcept;
