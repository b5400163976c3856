// The portable rules of the window device that only it has, kept apart from
// the Qt calls so that they are tested alone: the font request of a
// DeviceFontSpec (zoom and fixed sizes, points to pixels, weight and family)
// and the vObject file suffix. The rules every device shares (colours, theme,
// underline, bullet, scroll values, the keyed horizontal bars) are in
// engine/device/device.h.
#pragma once

#include <cstdint>

#include "engine/device/device.h"

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

// The file-name suffix of a vObject kind: ".vcs" (vCalendar) or ".vcf"
// (vCard); null for other kinds.
const char* WinDevice_VObjectSuffix(std::uint16_t kind) noexcept;
