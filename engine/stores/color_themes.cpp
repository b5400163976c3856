// Colour themes ("clr"): loaded whole into a theme set, edited in memory,
// written back whole.
#include <algorithm>
#include <cstring>

#include "engine/runtime/allocator.h"
#include "engine/runtime/swap.h"
#include "engine/stores/settings_internal.h"

namespace {

constexpr std::uint32_t kThemeImageLimit = 0xFFFFu + kThemeHeaderSize;

bool ClrPath(const SettingsStore& st, SettingsPath* p) {
  return Settings_SubfolderFile(st, u"_Reg_", u"clr", p);
}

StatusCode LoadThemes(const SettingsStore& st, ColourThemeSet** set, bool* present) {
  SettingsPath p;
  SettingsImage bytes;
  StatusCode s = ClrPath(st, &p) ? Settings_ReadWholeFile(p.text, kThemeImageLimit, &bytes)
                                 : kSettingsNoFolder;
  *present =
      s == kOk && bytes.Size() > 7 && LoadLE16(bytes.Data()) + kThemeHeaderSize == bytes.Size();
  if (s != kOk && s != kFileSysNotFound && s != kMalformed) return s;
  return Settings_ThemesFromBytes(s == kOk ? bytes.Data() : nullptr, s == kOk ? bytes.Size() : 0,
                                  set);
}

const std::uint8_t* Theme(const ColourThemeSet& set, std::uint32_t i) {
  return set.image.Data() + set.offsets[i];
}

std::uint32_t ThemeBytes(const std::uint8_t* t) {
  return 4u + 2u * t[3] + 4u * t[2];
}

// Theme name units (at most 31 compared).
std::uint32_t ThemeName(const std::uint8_t* t, char16_t* out) {
  const std::uint32_t n = std::min<std::uint32_t>(t[3], kThemeNameMax);
  for (std::uint32_t i = 0; i < n; ++i)
    out[i] = LoadLE16(t + 4 + 2 * i);
  return n;
}

bool ValidIndex(const ColourThemeSet* set, std::int32_t index) {
  return set && index >= 0 && static_cast<std::uint32_t>(index) < set->count;
}

}  // namespace

StatusCode Settings_GetColourThemes(EngineObject* store, ColourThemeSet** set) noexcept {
  if (set == nullptr) return kNullOutPointer;
  bool present = false;
  return LoadThemes(Settings_Body(store), set, &present);
}

StatusCode Settings_SaveColourThemes(EngineObject* store, ColourThemeSet* set,
                                     std::uint32_t write) noexcept {
  if (set == nullptr) return kBadArgument;
  StatusCode s = kOk;
  if (write) {
    SettingsPath p;
    s = ClrPath(Settings_Body(store), &p)
            ? Settings_ReplaceFile(p.text, set->image.Data(), set->image.Size())
            : kSettingsNoFolder;
  }
  Settings_ThemesFree(set);
  return s;
}

StatusCode Settings_FindColourThemeByName(EngineObject*, ColourThemeSet* set, const char16_t* name,
                                          std::int32_t* index) noexcept {
  if (set == nullptr || name == nullptr || index == nullptr) return kBadArgument;
  const std::uint32_t n =
      std::min<std::uint32_t>(Settings_TextLength(name, kThemeNameMax), kThemeNameMax);
  std::uint32_t lo = 0, hi = set->count;
  char16_t text[kThemeNameMax];
  while (lo < hi) {
    const std::uint32_t mid = lo + (hi - lo) / 2;
    const std::uint32_t tn = ThemeName(Theme(*set, mid), text);
    const StatusCode c = Dict_CompareNoCase(text, tn, name, n);
    if (c == kCompareEqual) {
      *index = static_cast<std::int32_t>(mid);
      return kOk;
    }
    if (c == kCompareLess) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  *index = ~static_cast<std::int32_t>(lo);
  return kNotFound;
}

StatusCode Settings_FindColourThemeByKey(EngineObject*, ColourThemeSet* set, std::uint16_t key,
                                         std::int32_t* index) noexcept {
  if (set == nullptr || index == nullptr) return kBadArgument;
  for (std::uint32_t i = 0; i < set->count; ++i) {
    if (Settings_ThemeKey(*set, i) == key) {
      *index = static_cast<std::int32_t>(i);
      return kOk;
    }
  }
  return kNotFound;
}

StatusCode Settings_GetColourTheme(EngineObject*, ColourThemeSet* set, std::int32_t index,
                                   ThemeColour* items, std::uint32_t* count) noexcept {
  if (count == nullptr) return kNullOutPointer;
  if (!ValidIndex(set, index)) return kSettingsThemeLimit;
  if (items) std::memset(items, 0, *count * sizeof(ThemeColour));
  const std::uint8_t* t = Theme(*set, static_cast<std::uint32_t>(index));
  const std::uint8_t* item = t + 4 + 2u * t[3];
  std::uint32_t n = 0;
  for (std::uint32_t i = 0; i < t[2] && n < *count; ++i, item += 4) {
    if (item[0] != 1 && item[0] != 2) continue;
    if (items) items[n] = {item[0], item[1], item[2], item[3]};
    ++n;
  }
  *count = n;
  return kOk;
}

StatusCode Settings_SetColourTheme(EngineObject* store, ColourThemeSet* set, std::uint16_t key,
                                   const char16_t* name, std::uint32_t colourCount,
                                   const ThemeColour* items, std::int32_t* index) noexcept {
  if (set == nullptr || name == nullptr || (colourCount && items == nullptr)) return kBadArgument;
  if (set->count >= kThemesMax || colourCount > 255) return kSettingsThemeLimit;
  const std::uint32_t nameLength = Settings_TextLength(name, kThemeNameMax);
  const std::uint32_t n = std::min(nameLength, kThemeNameMax);
  std::int32_t found = 0;
  const StatusCode f = Settings_FindColourThemeByName(store, set, name, &found);
  if (f == kOk) return kSettingsThemeLimit;
  const auto at = static_cast<std::uint32_t>(~found);
  std::uint8_t* header = set->image.Data();
  if (key == 0) {
    std::uint32_t next = LoadLE16(header + 4);
    if (next == 0 || next >= 0x8000) next = 1;
    std::uint32_t tries = 0;
    std::int32_t other = 0;
    while (Settings_FindColourThemeByKey(store, set, static_cast<std::uint16_t>(next), &other) ==
           kOk) {
      if (++tries >= 0x8000) return kSettingsThemeLimit;
      next = next >= 0x7FFF ? 1 : next + 1;
    }
    key = static_cast<std::uint16_t>(next);
    StoreLE16(header + 4, static_cast<std::uint16_t>(next >= 0x7FFF ? 1 : next + 1));
  } else {
    // Keys name themes in the documents' settings: one key, one theme.
    std::int32_t other = 0;
    if (Settings_FindColourThemeByKey(store, set, key, &other) == kOk) return kSettingsThemeLimit;
  }
  const std::uint32_t size = 4 + 2 * n + 4 * colourCount;
  const std::uint32_t payload = LoadLE16(header);
  if (set->image.Size() > kThemeFileLimit || payload + size > 0xFFFF) return kSettingsThemeLimit;
  const std::uint32_t offset = at < set->count ? set->offsets[at] : set->image.Size();
  void* block = set->offsets;
  if (Engine_Realloc((set->count + 1) * sizeof(std::uint32_t), &block) != kOk) return kOutOfMemory;
  set->offsets = static_cast<std::uint32_t*>(block);
  if (set->image.Insert(offset, size) != kOk) return kOutOfMemory;
  std::memmove(set->offsets + at + 1, set->offsets + at, (set->count - at) * sizeof(std::uint32_t));
  set->offsets[at] = offset;
  for (std::uint32_t i = at + 1; i <= set->count; ++i)
    set->offsets[i] += size;
  ++set->count;
  std::uint8_t* t = set->image.Data() + offset;
  StoreLE16(t, key);
  t[2] = static_cast<std::uint8_t>(colourCount);
  t[3] = static_cast<std::uint8_t>(n);
  for (std::uint32_t i = 0; i < n; ++i)
    StoreLE16(t + 4 + 2 * i, name[i]);
  for (std::uint32_t i = 0; i < colourCount; ++i) {
    std::uint8_t* c = t + 4 + 2 * n + 4 * i;
    c[0] = items[i].slot;
    c[1] = items[i].red;
    c[2] = items[i].green;
    c[3] = items[i].blue;
  }
  header = set->image.Data();
  StoreLE16(header, static_cast<std::uint16_t>(payload + size));
  StoreLE16(header + 2, static_cast<std::uint16_t>(set->count));
  if (index) *index = static_cast<std::int32_t>(at);
  return kOk;
}

StatusCode Settings_DeleteColourTheme(EngineObject*, ColourThemeSet* set,
                                      std::int32_t index) noexcept {
  if (!ValidIndex(set, index)) return kSettingsThemeLimit;
  const auto at = static_cast<std::uint32_t>(index);
  const std::uint32_t offset = set->offsets[at];
  const std::uint32_t size = ThemeBytes(Theme(*set, at));
  set->image.Erase(offset, size);
  std::memmove(set->offsets + at, set->offsets + at + 1,
               (set->count - at - 1) * sizeof(std::uint32_t));
  --set->count;
  for (std::uint32_t i = at; i < set->count; ++i)
    set->offsets[i] -= size;
  std::uint8_t* header = set->image.Data();
  StoreLE16(header, static_cast<std::uint16_t>(LoadLE16(header) - size));
  StoreLE16(header + 2, static_cast<std::uint16_t>(set->count));
  return kOk;
}

StatusCode Settings_GetThemeColoursByKey(EngineObject* store, std::uint16_t key,
                                         ThemeColour items[2]) noexcept {
  if (items == nullptr) return kNullOutPointer;
  items[0] = {1, 0, 0, 0};
  items[1] = {2, 255, 255, 255};
  ColourThemeSet* set = nullptr;
  bool present = false;
  StatusCode s = LoadThemes(Settings_Body(store), &set, &present);
  if (s != kOk) return s;
  if (!present) {
    Settings_ThemesFree(set);
    return kFailed;
  }
  std::int32_t index = 0;
  s = Settings_FindColourThemeByKey(store, set, key, &index);
  if (s == kOk) {
    const std::uint8_t* t = Theme(*set, static_cast<std::uint32_t>(index));
    const std::uint8_t* item = t + 4 + 2u * t[3];
    for (std::uint32_t i = 0; i < t[2]; ++i, item += 4)
      if (item[0] == 1 || item[0] == 2) items[item[0] - 1] = {item[0], item[1], item[2], item[3]};
  }
  Settings_ThemesFree(set);
  return s;
}
