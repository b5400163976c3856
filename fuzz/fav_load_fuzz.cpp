// Reads a favourites file ("fav") from arbitrary bytes and edits an accepted
// one; every edit must leave a file whose size still matches its codes.
#include <cstddef>
#include <cstdint>

#include "engine/stores/settings_formats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 3000000 || !Settings_FavValid(data, static_cast<std::uint32_t>(size))) return 0;
  SettingsImage fav;
  if (fav.Assign(data, static_cast<std::uint32_t>(size)) != kOk) return 0;
  const std::uint32_t n = Settings_FavCount(fav);
  char16_t first[128], second[128];
  for (std::uint32_t i = 0; i < n && i < 64; ++i)
    Settings_FavGet(fav, i, first, second);
  std::uint32_t index = 0;
  if (Settings_FavSearch(fav, u"Name", 4, &index) != kOk && n < kFavouritesMax)
    (void)Settings_FavInsert(fav, index, u"Name", 4, u"\u4E2Dtarget", 7);
  (void)Settings_FavSearchTarget(fav, u"\u4E2Dtarget", 7, &index);
  if (Settings_FavCount(fav) > 0) Settings_FavErase(fav, Settings_FavCount(fav) / 2);
  if (!Settings_FavValid(fav.Data(), fav.Size())) __builtin_trap();
  return 0;
}
