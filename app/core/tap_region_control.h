// The geometry of the tap-region control: four bands stacked from the top of
// the control, each the height of one tap region in percent, with a
// one-pixel line above the first band, between bands and below the last
// (so the bands share the client height less 5 pixels). The user drags the
// three dividers to change the split.
//
// The percentages are what the control holds: they come back as they were
// set unless the user drags a divider (a control shown and confirmed never
// changes them through rounding). The bands split the rows as the reading
// view splits its own, so they always fill the available height exactly; a
// drag reads the percentages from cumulative band edges, so that they
// always sum to 100 (a split over 100 would be reset to four quarters).
#pragma once

#include <array>
#include <string>

constexpr int kRegionBands = 4;
constexpr int kRegionFrame = 5;         // pixels not given to bands
constexpr int kRegionDividerReach = 4;  // a press this near a divider grabs it
constexpr int kRegionDefaultMinimum = 12;

struct RegionBands {
  std::array<int, kRegionBands> percent{25, 25, 25, 25};
  std::array<int, kRegionBands> height{25, 25, 25, 25};
  bool needsLayout = true;
  int minimumHeight = kRegionDefaultMinimum;
};

struct RegionDrag {
  bool active = false;
  int divider = 0;  // 0..2: below band divider
  int savedAbove = 0, savedBelow = 0;
  std::array<int, kRegionBands> savedPercent{};
  int y = 0;
  int lowest = 0, highest = 0;
};

// Stores the percentages; a set that sums to more than 100 (or holds a
// negative value) becomes four quarters. The next layout places the bands.
void RegionBands_Set(RegionBands* bands, const std::array<int, kRegionBands>& percent) noexcept;
// The percentages (as set, or as a drag left them). When they sum to less
// than 100 the last band takes the rest.
std::array<int, kRegionBands> RegionBands_Get(const RegionBands& bands) noexcept;
// Places the bands in a control of the given client height; minimumHeight
// is the height of the control font's text (the smallest a drag leaves).
void RegionBands_Layout(RegionBands* bands, int clientHeight, int minimumHeight) noexcept;
// The first row of band i, and the row of divider i (below band i).
int RegionBands_Top(const RegionBands& bands, int band) noexcept;
int RegionBands_Divider(const RegionBands& bands, int divider) noexcept;
// A press at y: starts a drag on the first divider within reach.
bool RegionBands_Press(const RegionBands& bands, int y, RegionDrag* drag) noexcept;
// A move while dragging: the band above ends at y (kept within the allowed
// rows) and the band below takes the rest; the percentages follow. True when
// the heights changed.
bool RegionBands_Move(RegionBands* bands, RegionDrag* drag, int y) noexcept;
// The release: outside the control the two bands get their heights (and the
// percentages) back.
void RegionBands_Release(RegionBands* bands, RegionDrag* drag, bool inside) noexcept;
// A band's label, "[n] pp%" (the percentage in two places), as read back.
std::string RegionBands_Label(const RegionBands& bands, int band);
