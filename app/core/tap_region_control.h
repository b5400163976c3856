// The geometry of the tap-region control: four bands stacked from the top of
// the control, each the height of one tap region in percent, with a
// one-pixel line above the first band, between bands and below the last
// (so the bands share the client height less 5 pixels). The user drags the
// three dividers to change the split.
//
// Band heights come from cumulative boundaries, so that the four heights
// always fill the available height exactly, and percentages are read back
// the same way, so that they always sum to 100: a split read back and set
// again never grows past 100 (which would reset it to four quarters).
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
  int y = 0;
  int lowest = 0, highest = 0;
};

// Stores the percentages; a set that sums to more than 100 (or holds a
// negative value) becomes four quarters. The next layout places the bands.
void RegionBands_Set(RegionBands* bands, const std::array<int, kRegionBands>& percent) noexcept;
// The percentages: as set until the control was laid out, then from the
// band heights. When they sum to less than 100 the last band takes the rest.
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
// rows) and the band below takes the rest. True when the heights changed.
bool RegionBands_Move(RegionBands* bands, RegionDrag* drag, int y) noexcept;
// The release: outside the control the two bands get their heights back.
void RegionBands_Release(RegionBands* bands, RegionDrag* drag, bool inside) noexcept;
// A band's label, "[n] pp%" (the percentage in two places), as read back.
std::string RegionBands_Label(const RegionBands& bands, int band);
