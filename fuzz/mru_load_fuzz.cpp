// Reads a recent list ("mru") from arbitrary bytes and edits an accepted one;
// every edit must leave a list whose size still matches its codes.
#include <cstddef>
#include <cstdint>

#include "engine/stores/settings_formats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 200000 || !Settings_RecentValid(data, static_cast<std::uint32_t>(size))) return 0;
  SettingsImage mru;
  if (mru.Assign(data, static_cast<std::uint32_t>(size)) != kOk) return 0;
  char16_t names[kRecentEntries][128];
  const std::uint32_t n = Settings_RecentCount(mru);
  std::uint32_t at = kRecentEntries;
  for (std::uint32_t i = 0; i < n; ++i) {
    Settings_GetName(mru.Data() + at, mru.Data()[i], names[i]);
    at += Settings_CodeBytes(mru.Data()[i]);
  }
  const char16_t added[] = u"added\u4E2D";
  (void)Settings_RecentAdd(mru, added, 6);
  if (n > 0) (void)Settings_RecentAdd(mru, names[n - 1], mru.Data()[0] ? 1 : 0);
  if (n > 1) (void)Settings_RecentRename(mru, names[1], 1, u"renamed", 7);
  std::uint32_t offset = 0;
  const std::int32_t found = Settings_RecentFind(mru, added, 6, &offset);
  if (found >= 0) Settings_RecentRemoveAt(mru, static_cast<std::uint32_t>(found), offset);
  if (!Settings_RecentValid(mru.Data(), mru.Size())) __builtin_trap();
  return 0;
}
