// Reads a per-document category list from arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "engine/stores/settings_formats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 70000) return 0;
  std::uint16_t ids[kCategoryListMax];
  std::uint32_t count = 0;
  const auto n = static_cast<std::uint32_t>(size);
  if (Settings_ParseCategoryList(data, n, ids, 64, &count) == kOk && count <= 64) {
    for (std::uint32_t i = 1; i < count; ++i)
      if (ids[i - 1] >= ids[i]) __builtin_trap();
  }
  (void)Settings_ParseCategoryList(data, n, ids, kCategoryListMax, &count);
  return 0;
}
