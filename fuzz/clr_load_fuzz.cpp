// Loads a colour-theme file ("clr") from arbitrary bytes, then reads, adds
// and deletes themes in the set.
#include <cstddef>
#include <cstdint>

#include "engine/runtime/swap.h"
#include "engine/stores/settings_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 70000) return 0;
  ColourThemeSet* set = nullptr;
  if (Settings_ThemesFromBytes(data, static_cast<std::uint32_t>(size), &set) != kOk) return 0;
  for (std::uint32_t i = 0; i < set->count; ++i) {
    ThemeColour items[4];
    std::uint32_t count = 4;
    (void)Settings_GetColourTheme(nullptr, set, static_cast<std::int32_t>(i), items, &count);
  }
  const ThemeColour colours[2] = {{1, 1, 2, 3}, {2, 4, 5, 6}};
  std::int32_t index = 0;
  (void)Settings_SetColourTheme(nullptr, set, 0, u"Fuzzed theme", 2, colours, &index);
  (void)Settings_SetColourTheme(nullptr, set, 0x1234, u"Keyed", 2, colours, &index);
  if (set->count > 0) (void)Settings_DeleteColourTheme(nullptr, set, 0);
  if (LoadLE16(set->image.Data()) + kThemeHeaderSize != set->image.Size()) __builtin_trap();
  Settings_ThemesFree(set);
  return 0;
}
