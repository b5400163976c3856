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
