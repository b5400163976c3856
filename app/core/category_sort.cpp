#include "app/core/category_sort.h"

#include "engine/runtime/dict.h"

namespace {

int Sign(StatusCode order) {
  if (order == kCompareLess) return -1;
  if (order == kCompareGreater) return 1;
  return 0;
}

int CompareDates(const DateTime& a, const DateTime& b) {
  const auto key = [](const DateTime& d) {
    return std::uint64_t{d.year} << 40 | std::uint64_t{d.month} << 32 | std::uint64_t{d.day} << 24 |
           std::uint64_t{d.hour} << 16 | std::uint64_t{d.minute} << 8 | d.second;
  };
  const std::uint64_t ka = key(a) * 100 + a.hundredths, kb = key(b) * 100 + b.hundredths;
  return ka < kb ? -1 : ka > kb ? 1 : 0;
}

int CompareSizes(std::uint32_t a, std::uint32_t b) {
  return a < b ? -1 : a > b ? 1 : 0;
}

}  // namespace

int CategorySort_DefaultNameCompare(const std::u16string& a, const std::u16string& b) {
  return Sign(Dict_CompareNoCase(a.data(), static_cast<std::uint32_t>(a.size()), b.data(),
                                 static_cast<std::uint32_t>(b.size())));
}

bool CategorySort_Less(int key, const CategoryDocRow& a, const CategoryDocRow& b,
                       CategoryNameCompare compare) {
  const int base = key % 3;
  const int byName = compare(a.name, b.name);
  const int bySize = CompareSizes(a.size, b.size);
  const int byDate = CompareDates(a.date, b.date);
  const bool down = key >= kSortNameDown;
  int order = 0;
  switch (base) {
    case kSortNameUp:
      order = byName != 0 ? byName : byDate != 0 ? byDate : bySize;
      break;
    case kSortSizeUp:
      // Equal sizes stay in ascending name order whichever way sizes run.
      if (bySize == 0 && byName != 0) return byName < 0;
      order = bySize != 0 ? bySize : byDate;
      break;
    default:
      order = byDate != 0 ? byDate : byName != 0 ? byName : bySize;
      break;
  }
  return down ? order > 0 : order < 0;
}

int CategorySort_KeyAfterClick(int current, int column) noexcept {
  if (column < 0 || column > 2) return current;
  return current == column ? column + 3 : column;
}

std::u16string CategorySort_SizeText(std::uint32_t bytes) {
  const std::uint64_t kb = (std::uint64_t{bytes} + 1023) / 1024;
  const std::string text = std::to_string(kb) + " KB";
  return std::u16string(text.begin(), text.end());
}

std::u16string CategorySort_FileName(const std::u16string& path) {
  const std::size_t slash = path.find_last_of(u"/\\");
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}
