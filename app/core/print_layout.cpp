#include "app/core/print_layout.h"

#include <algorithm>

namespace {

// One axis: the margin before, and the size that stays printable.
void Axis(int dpi, int paper, int offset, int printable, int* margin, int* size) {
  *margin = 0;
  *size = printable;
  if (offset < dpi) {
    *margin = dpi - offset;
    *size -= *margin;
  }
  const int after = paper - *margin - *size - offset;
  if (after < dpi) *size = paper - *margin - offset - dpi;
  *size = std::max(*size, 0);
}

int ToPoints(int pixels, int dpi) {
  return static_cast<int>(std::int64_t{pixels} * 72 / dpi);
}

}  // namespace

PrintArea PrintLayout_Compute(const PrinterMetrics& m) noexcept {
  PrintArea a;
  if (m.dpiX <= 0 || m.dpiY <= 0 || m.width <= 0 || m.height <= 0) return a;
  a.width = m.width;
  a.height = m.height;
  if (m.width >= 3 * m.dpiX && m.height >= 3 * m.dpiY) {
    Axis(m.dpiX, m.paperWidth, m.offsetX, m.width, &a.left, &a.width);
    Axis(m.dpiY, m.paperHeight, m.offsetY, m.height, &a.top, &a.height);
  }
  a.widthPt = ToPoints(a.width, m.dpiX);
  a.heightPt = ToPoints(a.height, m.dpiY);
  return a;
}

bool PrintChunks_FindPage(std::span<const std::uint32_t> pages, std::uint32_t page,
                          std::uint32_t* chunk, std::uint32_t* firstPage) noexcept {
  if (page == 0) return false;
  // The first chunk whose cumulative count reaches the page.
  const auto it = std::lower_bound(pages.begin(), pages.end(), page);
  if (it == pages.end()) return false;
  const auto index = static_cast<std::uint32_t>(it - pages.begin());
  const std::uint32_t before = index == 0 ? 0 : pages[index - 1];
  if (before >= page) return false;  // an empty chunk cannot hold it
  *chunk = index;
  *firstPage = before + 1;
  return true;
}

bool PrintChunks_FindOffset(std::span<const std::uint32_t> ends, std::uint32_t offset,
                            std::uint32_t* chunk) noexcept {
  const auto it = std::upper_bound(ends.begin(), ends.end(), offset);
  if (it == ends.end()) return false;
  *chunk = static_cast<std::uint32_t>(it - ends.begin());
  return true;
}
