#include "app/device/device_core.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

std::int32_t WinDevice_MulDiv(std::int32_t a, std::int32_t b, std::int32_t c) noexcept {
  if (c == 0) return -1;
  const std::int64_t product = std::int64_t{a} * b;
  const std::int64_t half = std::llabs(c) / 2;
  const bool negative = (product < 0) != (c < 0);
  const std::int64_t magnitude = (std::llabs(product) + half) / std::llabs(c);
  const std::int64_t result = negative ? -magnitude : magnitude;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(result, INT32_MIN, INT32_MAX));
}

FontRequest WinDevice_FontRequest(const DeviceFontSpec& spec, const FontContext& context) noexcept {
  const std::uint16_t zoom = context.displayWord & DeviceDisplay::ZoomMask;
  const bool fixed = context.plainMode || (context.displayWord & DeviceDisplay::FixedSizes);
  const std::int32_t points = fixed ? Device_FixedPoints(zoom) : Device_ZoomPoints(zoom, spec.size);
  FontRequest r;
  const std::int32_t pixels =
      context.printing ? points : WinDevice_MulDiv(points, context.dpiY, 72);
  r.pixels = std::max(1, pixels);
  r.bold = (spec.style & DeviceFontStyle::Bold) || (context.displayWord & DeviceDisplay::AllBold);
  r.italic = spec.style & DeviceFontStyle::Italic;
  r.underline = spec.style & DeviceFontStyle::Underline;
  r.strikeOut = spec.style & DeviceFontStyle::StrikeOut;
  r.smooth = context.displayWord & DeviceDisplay::Smoothed;
  switch (spec.faceClass) {
    case DeviceFace::Serif:
      r.family = FontFamily::Roman;
      r.faceSlot = 1;
      break;
    case DeviceFace::SansSerif:
      r.family = FontFamily::Swiss;
      r.faceSlot = 2;
      break;
    case DeviceFace::Script:
      r.family = FontFamily::Script;
      break;
    case DeviceFace::Decorative:
      r.family = FontFamily::Decorative;
      break;
    case DeviceFace::Fixed:
      r.family = FontFamily::Modern;
      r.faceSlot = 5;
      break;
    default:
      break;
  }
  return r;
}

std::int32_t WinDevice_PointsToPixels(std::uint32_t points, const FontContext& context) noexcept {
  const std::int64_t dpi =
      context.printing ? 72 : Device_ZoomPoints(context.displayWord, context.dpiY);
  const std::int64_t pixels = std::int64_t{points} * dpi / 72;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(pixels, 1, INT16_MAX));
}

TextColours WinDevice_TextColours(const DeviceFontSpec& spec, bool plainMode,
                                  const ThemeState& theme) noexcept {
  using namespace DeviceFontStyle;
  TextColours c;
  const bool themeActive = theme.on && !theme.suspended;
  if (plainMode) {
    if (spec.style & PlainInverse) {
      c.changeText = true;
      c.text = {255, 255, 255};
      c.opaque = true;
      c.background = kBlackColour;
    }
    return c;
  }
  if (themeActive) {
    c.changeText = true;
    c.text = theme.text;
  } else if (spec.style & TextColour) {
    c.changeText = true;
    c.text = spec.text;
  }
  if (spec.style & BackWins) {
    c.opaque = true;
    c.background = spec.background;
  } else if (themeActive) {
    c.opaque = true;
    c.background = theme.background;
  } else if (spec.style & BackColour) {
    c.opaque = true;
    c.background = spec.background;
  }
  return c;
}

DeviceColour WinDevice_FillColour(const DeviceColour* colour, bool plainMode,
                                  const ThemeState& theme) noexcept {
  if (plainMode) return kWindowColour;
  if (theme.on) return theme.background;  // also for a null colour: clears take the theme
  return colour ? *colour : kWindowColour;
}

DeviceColour WinDevice_LineColour(const DeviceColour* colour, bool plainMode,
                                  const ThemeState& theme) noexcept {
  if (plainMode) return kBlackColour;
  if (theme.on && !theme.suspended) return theme.text;
  return colour ? *colour : kBlackColour;
}

std::int16_t WinDevice_UnderlineOffset(std::uint32_t flags, std::int16_t descent) noexcept {
  switch (flags & DeviceTextAlign::VerticalMask) {
    case DeviceTextAlign::Baseline:
      return static_cast<std::int16_t>(descent < 3 ? descent - 1 : 2);
    case DeviceTextAlign::Bottom:
      return -1;
    default:
      return kNoUnderline;
  }
}

DeviceRect WinDevice_BulletBox(std::int16_t x, std::int16_t y, std::int32_t ascent) noexcept {
  const std::int32_t side = 3 * ascent / 8;
  const std::int32_t top = y - 9 * ascent / 16;
  auto c16 = [](std::int32_t v) {
    return static_cast<std::int16_t>(std::clamp<std::int32_t>(v, INT16_MIN, INT16_MAX));
  };
  return {x, c16(top), c16(x + side), c16(top + side)};
}

ScrollValues WinDevice_ScrollValues(std::uint32_t position, std::uint32_t pageEnd,
                                    std::uint32_t maximum) noexcept {
  pageEnd = std::min(pageEnd, maximum);
  position = std::min(position, pageEnd);
  ScrollValues v{position, pageEnd - position, maximum, 0, 0, 0};
  const std::int64_t last =
      v.page == 0 ? std::int64_t{maximum} : std::int64_t{maximum} - v.page + 1;
  v.barMaximum = static_cast<int>(std::clamp<std::int64_t>(last, 0, INT_MAX));
  v.barPage = static_cast<int>(std::min<std::uint32_t>(v.page, INT_MAX));
  v.barValue = static_cast<int>(std::min<std::int64_t>(position, v.barMaximum));
  return v;
}

int HScrollKeys::Find(std::uint32_t key) const noexcept {
  if (key == kNoHScrollKey) return -1;
  for (int i = 0; i < kMaxHScrollBars; ++i)
    if (keys_[i] == key) return i;
  return -1;
}

int HScrollKeys::Acquire(std::uint32_t key) noexcept {
  if (key == kNoHScrollKey) return -1;
  for (int i = 0; i < kMaxHScrollBars; ++i)
    if (keys_[i] == kNoHScrollKey) {
      keys_[i] = key;
      return i;
    }
  return -1;
}

void HScrollKeys::Release(int slot) noexcept {
  if (slot >= 0 && slot < kMaxHScrollBars) keys_[slot] = kNoHScrollKey;
}

int HScrollKeys::SlotOfControl(std::uint32_t controlId) const noexcept {
  if (controlId < kHScrollFirstControlId) return -1;
  const std::uint32_t slot = controlId - kHScrollFirstControlId;
  if (slot >= kMaxHScrollBars || keys_[slot] == kNoHScrollKey) return -1;
  return static_cast<int>(slot);
}

int HScrollKeys::InUse() const noexcept {
  return static_cast<int>(std::count_if(keys_.begin(), keys_.end(),
                                        [](std::uint32_t k) { return k != kNoHScrollKey; }));
}

int HScrollKeys::First() const noexcept {
  for (int i = 0; i < kMaxHScrollBars; ++i)
    if (keys_[i] != kNoHScrollKey) return i;
  return -1;
}

const char* WinDevice_VObjectSuffix(std::uint16_t kind) noexcept {
  switch (kind) {
    case kVObjectCalendar:
      return ".vcs";
    case kVObjectCard:
      return ".vcf";
    default:
      return nullptr;
  }
}
