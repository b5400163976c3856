// The reading view's tap regions, without Qt.
//
// The view's client area is cut into four bands stacked from top to bottom;
// band i is regionPercent[i] percent of the client height and the fourth band
// takes whatever the first three leave. A press in a band whose action is not
// Drag scrolls by itself (and repeats while the button stays down); a Drag
// band leaves the press to the text view (links, lists, selection).
#pragma once

#include <array>
#include <cstdint>

inline constexpr int kTapBandCount = 4;

// The stored action byte of a band.
enum class TapAction : std::uint8_t {
  Drag = 0,
  ScreenUp = 1,
  LineUp = 2,
  None = 3,
  LineDown = 4,
  ScreenDown = 5,
};
inline constexpr int kTapActionCount = 6;

using TapPercents = std::array<std::uint8_t, kTapBandCount>;
using TapActions = std::array<std::uint8_t, kTapBandCount>;

// One band's rows: top <= y < bottom (empty when top == bottom).
struct TapBand {
  int top = 0, bottom = 0;
  bool operator==(const TapBand&) const = default;
};

// The band under row y of a client area `height` rows high: the first band i
// for which y < height * (percent[0] + ... + percent[i]) / 100; the fourth
// takes the rest (rows below the client area and percentages that sum to
// less than 100 included).
int TapRegion_At(int y, int height, const TapPercents& percent) noexcept;

// The four bands' rows for a client height, top to bottom, exactly as
// TapRegion_At assigns rows: together they cover 0..height without overlap.
// Percentages summing above 100 leave the later bands empty.
std::array<TapBand, kTapBandCount> TapRegion_Bands(int height, const TapPercents& percent) noexcept;

// A band with this action leaves the press to the text view.
constexpr bool TapRegion_IsDrag(std::uint8_t action) noexcept {
  return action == static_cast<std::uint8_t>(TapAction::Drag);
}

// What the view does when a band's action runs (once on the press, then again
// on every repeat while the button stays down).
enum class TapScroll : std::uint8_t { Nothing, ScreenUp, LineUp, LineDown, ScreenDown };
// None and any unknown byte scroll nothing (a damaged preference is harmless).
TapScroll TapRegion_Scroll(std::uint8_t action) noexcept;
