#include "app/core/tap_region_control.h"

#include "app/core/tap_regions.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// The last band takes what the others leave of 100.
std::array<int, kRegionBands> Normalised(std::array<int, kRegionBands> p) {
  const int sum = p[0] + p[1] + p[2] + p[3];
  if (sum < 100) p[3] += 100 - sum;
  return p;
}

// The percentages of the band heights, from cumulative edges so that they
// always sum to 100.
std::array<int, kRegionBands> FromHeights(const RegionBands& b) {
  int available = 0;
  for (int h : b.height)
    available += h;
  if (available <= 0) return Normalised(b.percent);
  std::array<int, kRegionBands> p{};
  int cumulative = 0, previous = 0;
  for (int i = 0; i < kRegionBands; ++i) {
    cumulative += b.height[i];
    const int edge = (cumulative * 100 + available / 2) / available;
    p[i] = edge - previous;
    previous = edge;
  }
  return p;
}

}  // namespace

void RegionBands_Set(RegionBands* b, const std::array<int, kRegionBands>& percent) noexcept {
  b->percent = percent;
  const bool negative = std::any_of(percent.begin(), percent.end(), [](int p) { return p < 0; });
  if (negative || percent[0] + percent[1] + percent[2] + percent[3] > 100) b->percent.fill(25);
  b->needsLayout = true;
}

std::array<int, kRegionBands> RegionBands_Get(const RegionBands& b) noexcept {
  return Normalised(b.percent);
}

void RegionBands_Layout(RegionBands* b, int clientHeight, int minimumHeight) noexcept {
  const std::array<int, kRegionBands> p = Normalised(b->percent);
  TapPercents percent{};
  for (int i = 0; i < kRegionBands; ++i)
    percent[i] = static_cast<std::uint8_t>(p[i]);
  // The bands split the rows as the reading view splits its own.
  const std::array<TapBand, kTapBandCount> rows =
      TapRegion_Bands(std::max(clientHeight - kRegionFrame, 0), percent);
  for (int i = 0; i < kRegionBands; ++i)
    b->height[i] = rows[i].bottom - rows[i].top;
  b->minimumHeight = minimumHeight;
  b->needsLayout = false;
}

int RegionBands_Top(const RegionBands& b, int band) noexcept {
  int y = 1;
  for (int i = 0; i < band; ++i)
    y += b.height[i] + 1;
  return y;
}

int RegionBands_Divider(const RegionBands& b, int divider) noexcept {
  return RegionBands_Top(b, divider) + b.height[divider];
}

bool RegionBands_Press(const RegionBands& b, int y, RegionDrag* drag) noexcept {
  for (int i = 0; i < kRegionBands - 1; ++i) {
    const int at = RegionBands_Divider(b, i);
    if (std::abs(y - at) > kRegionDividerReach) continue;
    drag->active = true;
    drag->divider = i;
    drag->savedAbove = b.height[i];
    drag->savedBelow = b.height[i + 1];
    drag->savedPercent = b.percent;
    drag->y = at;
    drag->lowest = RegionBands_Top(b, i) + b.minimumHeight;
    // The band below keeps at least the minimum of the two bands' joint height.
    drag->highest = RegionBands_Top(b, i) + b.height[i] + b.height[i + 1] - b.minimumHeight;
    // Bands already thinner than the minimum: the divider stays where it is.
    if (drag->lowest > drag->highest) drag->lowest = drag->highest = at;
    drag->lowest = std::min(drag->lowest, at);
    drag->highest = std::max(drag->highest, at);
    return true;
  }
  return false;
}

bool RegionBands_Move(RegionBands* b, RegionDrag* drag, int y) noexcept {
  if (!drag->active) return false;
  y = std::clamp(y, drag->lowest, drag->highest);
  if (y == drag->y) return false;
  drag->y = y;
  const int i = drag->divider;
  const int joint = drag->savedAbove + drag->savedBelow;
  b->height[i] = y - RegionBands_Top(*b, i);
  b->height[i + 1] = joint - b->height[i];
  b->percent = FromHeights(*b);
  return true;
}

void RegionBands_Release(RegionBands* b, RegionDrag* drag, bool inside) noexcept {
  if (!drag->active) return;
  if (!inside) {
    b->height[drag->divider] = drag->savedAbove;
    b->height[drag->divider + 1] = drag->savedBelow;
    b->percent = drag->savedPercent;
  }
  drag->active = false;
}

std::string RegionBands_Label(const RegionBands& b, int band) {
  const int percent = RegionBands_Get(b)[band];
  char text[16];
  std::snprintf(text, sizeof text, "[%d] %2d%%", band + 1, percent);
  return text;
}
