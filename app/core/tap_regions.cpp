#include "app/core/tap_regions.h"

#include <algorithm>

namespace {

// The row where band i ends: height x (sum of the first i+1 percentages) / 100,
// in 64 bits so a tall window and a damaged percentage cannot overflow.
std::int64_t BandEnd(int height, const TapPercents& percent, int band) {
  std::int64_t sum = 0;
  for (int i = 0; i <= band; ++i)
    sum += percent[static_cast<std::size_t>(i)];
  return static_cast<std::int64_t>(height) * sum / 100;
}

}  // namespace

int TapRegion_At(int y, int height, const TapPercents& percent) noexcept {
  for (int band = 0; band < kTapBandCount - 1; ++band)
    if (y < BandEnd(height, percent, band)) return band;
  return kTapBandCount - 1;
}

std::array<TapBand, kTapBandCount> TapRegion_Bands(int height,
                                                   const TapPercents& percent) noexcept {
  std::array<TapBand, kTapBandCount> bands{};
  const int h = std::max(height, 0);
  int top = 0;
  for (int band = 0; band < kTapBandCount; ++band) {
    const std::int64_t end = band == kTapBandCount - 1 ? h : BandEnd(h, percent, band);
    const int bottom = static_cast<int>(std::clamp<std::int64_t>(end, top, h));
    bands[static_cast<std::size_t>(band)] = {top, bottom};
    top = bottom;
  }
  return bands;
}

TapScroll TapRegion_Scroll(std::uint8_t action) noexcept {
  switch (static_cast<TapAction>(action)) {
    case TapAction::ScreenUp:
      return TapScroll::ScreenUp;
    case TapAction::LineUp:
      return TapScroll::LineUp;
    case TapAction::LineDown:
      return TapScroll::LineDown;
    case TapAction::ScreenDown:
      return TapScroll::ScreenDown;
    default:
      return TapScroll::Nothing;
  }
}
