#include "engine/stores/settings_formats.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/runtime/allocator.h"
#include "engine/runtime/dict.h"
#include "engine/runtime/swap.h"

SettingsImage::~SettingsImage() {
  Engine_Free(data_);
}

StatusCode SettingsImage::Assign(const void* bytes, std::uint32_t size) noexcept {
  const StatusCode s = Resize(size);
  if (s != kOk) return s;
  if (size) std::memcpy(data_, bytes, size);
  return kOk;
}

StatusCode SettingsImage::Resize(std::uint32_t size) noexcept {
  if (size > size_ || data_ == nullptr) {
    void* block = data_;
    if (Engine_Realloc(size ? size : 1, &block) != kOk) return kOutOfMemory;
    data_ = static_cast<std::uint8_t*>(block);
    if (size > size_) std::memset(data_ + size_, 0, size - size_);
  }
  size_ = size;
  return kOk;
}

StatusCode SettingsImage::Insert(std::uint32_t at, std::uint32_t n) noexcept {
  const std::uint32_t old = size_;
  if (std::uint64_t{old} + n > 0x7FFFFFFFu) return kOutOfMemory;
  const StatusCode s = Resize(old + n);
  if (s != kOk) return s;
  std::memmove(data_ + at + n, data_ + at, old - at);
  std::memset(data_ + at, 0, n);
  return kOk;
}

void SettingsImage::Erase(std::uint32_t at, std::uint32_t n) noexcept {
  std::memmove(data_ + at, data_ + at + n, size_ - at - n);
  size_ -= n;
}

std::uint8_t* SettingsImage::Release() noexcept {
  std::uint8_t* d = data_;
  data_ = nullptr;
  size_ = 0;
  return d;
}

std::uint8_t Settings_LengthCode(const char16_t* name, std::uint32_t length) noexcept {
  if (length == 0 || length > 127) return 0;
  bool wide = false;
  for (std::uint32_t i = 0; i < length; ++i)
    if (name[i] > 0xFF) wide = true;
  return static_cast<std::uint8_t>(length | (wide ? 0x80 : 0));
}

void Settings_PutName(std::uint8_t* at, const char16_t* name, std::uint8_t code) noexcept {
  const std::uint32_t n = code & 0x7F;
  for (std::uint32_t i = 0; i < n; ++i) {
    if (code & 0x80) {
      StoreLE16(at + 2 * i, name[i]);
    } else {
      at[i] = static_cast<std::uint8_t>(name[i]);
    }
  }
}

void Settings_GetName(const std::uint8_t* at, std::uint8_t code, char16_t* out) noexcept {
  const std::uint32_t n = code & 0x7F;
  for (std::uint32_t i = 0; i < n; ++i)
    out[i] = (code & 0x80) ? LoadLE16(at + 2 * i) : at[i];
}

bool Settings_NameEquals(const std::uint8_t* at, std::uint8_t code, const char16_t* name,
                         std::uint32_t length) noexcept {
  if (code == 0 || (code & 0x7Fu) != length) return false;
  for (std::uint32_t i = 0; i < length; ++i) {
    const char16_t c = (code & 0x80) ? LoadLE16(at + 2 * i) : at[i];
    if (c != name[i]) return false;
  }
  return true;
}

std::uint32_t Settings_TextLength(const char16_t* text, std::uint32_t limit) noexcept {
  std::uint32_t n = 0;
  while (n <= limit && text[n] != 0)
    ++n;
  return n;
}

// Recent list.

bool Settings_RecentValid(const std::uint8_t* bytes, std::uint32_t size) noexcept {
  if (bytes == nullptr || size < kRecentEntries) return false;
  std::uint32_t total = kRecentEntries;
  for (std::uint32_t i = 0; i < kRecentEntries; ++i)
    total += Settings_CodeBytes(bytes[i]);
  return total == size;
}

std::uint32_t Settings_RecentCount(const SettingsImage& mru) noexcept {
  std::uint32_t n = 0;
  while (n < kRecentEntries && mru.Data()[n] != 0)
    ++n;
  return n;
}

std::int32_t Settings_RecentFind(const SettingsImage& mru, const char16_t* name,
                                 std::uint32_t length, std::uint32_t* offset) noexcept {
  const std::uint8_t* codes = mru.Data();
  std::uint32_t at = kRecentEntries;
  for (std::uint32_t i = 0; i < kRecentEntries; ++i) {
    const std::uint32_t bytes = Settings_CodeBytes(codes[i]);
    if (at + bytes <= mru.Size() && Settings_NameEquals(codes + at, codes[i], name, length)) {
      if (offset) *offset = at;
      return static_cast<std::int32_t>(i);
    }
    at += bytes;
  }
  return -1;
}

void Settings_RecentRemoveAt(SettingsImage& mru, std::uint32_t index,
                             std::uint32_t offset) noexcept {
  std::uint8_t* codes = mru.Data();
  mru.Erase(offset, Settings_CodeBytes(codes[index]));
  codes = mru.Data();
  std::memmove(codes + index, codes + index + 1, kRecentEntries - 1 - index);
  codes[kRecentEntries - 1] = 0;
}

StatusCode Settings_RecentAdd(SettingsImage& mru, const char16_t* name,
                              std::uint32_t length) noexcept {
  const std::uint8_t code = Settings_LengthCode(name, length);
  if (code == 0) return kOk;
  std::uint32_t offset = 0;
  const std::int32_t found = Settings_RecentFind(mru, name, length, &offset);
  if (found == 0) return kOk;
  if (found > 0) Settings_RecentRemoveAt(mru, static_cast<std::uint32_t>(found), offset);
  std::uint32_t kept = 0;
  for (std::uint32_t i = 0; i + 1 < kRecentEntries; ++i)
    kept += Settings_CodeBytes(mru.Data()[i]);
  StatusCode s = mru.Resize(kRecentEntries + kept);
  if (s != kOk) return s;
  const std::uint32_t bytes = Settings_CodeBytes(code);
  if ((s = mru.Insert(kRecentEntries, bytes)) != kOk) return s;
  std::uint8_t* codes = mru.Data();
  std::memmove(codes + 1, codes, kRecentEntries - 1);
  codes[0] = code;
  Settings_PutName(codes + kRecentEntries, name, code);
  return kOk;
}

StatusCode Settings_RecentRename(SettingsImage& mru, const char16_t* oldName,
                                 std::uint32_t oldLength, const char16_t* newName,
                                 std::uint32_t newLength) noexcept {
  const std::uint8_t code = Settings_LengthCode(newName, newLength);
  std::uint32_t offset = 0;
  const std::int32_t found = Settings_RecentFind(mru, oldName, oldLength, &offset);
  if (found < 0 || code == 0) return kNo;
  const std::uint32_t oldBytes = Settings_CodeBytes(mru.Data()[found]);
  const std::uint32_t newBytes = Settings_CodeBytes(code);
  if (newBytes > oldBytes) {
    const StatusCode s = mru.Insert(offset, newBytes - oldBytes);
    if (s != kOk) return s;
  } else {
    mru.Erase(offset, oldBytes - newBytes);
  }
  mru.Data()[found] = code;
  Settings_PutName(mru.Data() + offset, newName, code);
  return kYes;
}

// Favourites.

bool Settings_FavValid(const std::uint8_t* bytes, std::uint32_t size) noexcept {
  if (bytes == nullptr || size < 2) return false;
  const std::uint32_t n = LoadLE16(bytes);
  if (n > kFavouritesMax || size < 2 + 2 * n) return false;
  std::uint64_t total = 2 + 2 * n;
  for (std::uint32_t i = 0; i < 2 * n; ++i)
    total += Settings_CodeBytes(bytes[2 + i]);
  return total == size;
}

std::uint32_t Settings_FavCount(const SettingsImage& fav) noexcept {
  return LoadLE16(fav.Data());
}

std::uint32_t Settings_FavStringOffset(const SettingsImage& fav, std::uint32_t index) noexcept {
  const std::uint32_t n = Settings_FavCount(fav);
  std::uint32_t at = 2 + 2 * n;
  for (std::uint32_t i = 0; i < 2 * index; ++i)
    at += Settings_CodeBytes(fav.Data()[2 + i]);
  return at;
}

StatusCode Settings_FavSearch(const SettingsImage& fav, const char16_t* name, std::uint32_t length,
                              std::uint32_t* index) noexcept {
  std::uint32_t lo = 0, hi = Settings_FavCount(fav);
  char16_t text[128];
  while (lo < hi) {
    const std::uint32_t mid = lo + (hi - lo) / 2;
    const std::uint8_t code = fav.Data()[2 + 2 * mid];
    Settings_GetName(fav.Data() + Settings_FavStringOffset(fav, mid), code, text);
    const StatusCode c = Dict_CompareNoCase(text, code & 0x7Fu, name, length);
    if (c == kCompareEqual) {
      *index = mid;
      return kOk;
    }
    if (c == kCompareLess) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  *index = lo;
  return kNotFound;
}

StatusCode Settings_FavSearchTarget(const SettingsImage& fav, const char16_t* target,
                                    std::uint32_t length, std::uint32_t* index) noexcept {
  const std::uint32_t n = Settings_FavCount(fav);
  std::uint32_t at = 2 + 2 * n;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint8_t c1 = fav.Data()[2 + 2 * i], c2 = fav.Data()[3 + 2 * i];
    at += Settings_CodeBytes(c1);
    if (Settings_NameEquals(fav.Data() + at, c2, target, length)) {
      *index = i;
      return kOk;
    }
    at += Settings_CodeBytes(c2);
  }
  return kNotFound;
}

StatusCode Settings_FavInsert(SettingsImage& fav, std::uint32_t index, const char16_t* first,
                              std::uint32_t firstLength, const char16_t* second,
                              std::uint32_t secondLength) noexcept {
  const std::uint8_t c1 = Settings_LengthCode(first, firstLength);
  const std::uint8_t c2 = Settings_LengthCode(second, secondLength);
  if (c1 == 0 || c2 == 0) return kBadArgument;
  const std::uint32_t n = Settings_FavCount(fav);
  const std::uint32_t at = Settings_FavStringOffset(fav, index) + 2;
  const std::uint32_t b1 = Settings_CodeBytes(c1), b2 = Settings_CodeBytes(c2);
  StatusCode s = fav.Insert(2 + 2 * index, 2);
  if (s != kOk) return s;
  if ((s = fav.Insert(at, b1 + b2)) != kOk) {
    fav.Erase(2 + 2 * index, 2);
    return s;
  }
  std::uint8_t* p = fav.Data();
  p[2 + 2 * index] = c1;
  p[3 + 2 * index] = c2;
  Settings_PutName(p + at, first, c1);
  Settings_PutName(p + at + b1, second, c2);
  StoreLE16(p, static_cast<std::uint16_t>(n + 1));
  return kOk;
}

void Settings_FavErase(SettingsImage& fav, std::uint32_t index) noexcept {
  const std::uint32_t n = Settings_FavCount(fav);
  const std::uint32_t at = Settings_FavStringOffset(fav, index);
  const std::uint8_t* p = fav.Data();
  fav.Erase(at, Settings_CodeBytes(p[2 + 2 * index]) + Settings_CodeBytes(p[3 + 2 * index]));
  fav.Erase(2 + 2 * index, 2);
  StoreLE16(fav.Data(), static_cast<std::uint16_t>(n - 1));
}

void Settings_FavGet(const SettingsImage& fav, std::uint32_t index, char16_t* first,
                     char16_t* second) noexcept {
  const std::uint8_t c1 = fav.Data()[2 + 2 * index], c2 = fav.Data()[3 + 2 * index];
  const std::uint32_t at = Settings_FavStringOffset(fav, index);
  if (first) {
    Settings_GetName(fav.Data() + at, c1, first);
    first[c1 & 0x7F] = 0;
  }
  if (second) {
    Settings_GetName(fav.Data() + at + Settings_CodeBytes(c1), c2, second);
    second[c2 & 0x7F] = 0;
  }
}

// Category lists.

StatusCode Settings_ParseCategoryList(const std::uint8_t* bytes, std::uint32_t size,
                                      std::uint16_t* ids, std::uint32_t capacity,
                                      std::uint32_t* count) noexcept {
  if (bytes == nullptr || size < 2) return kMalformed;
  const std::uint32_t n = LoadLE16(bytes);
  if (n == 0 || n > kCategoryListMax || size != 2 + 2 * n) return kMalformed;
  if (n > capacity) {
    *count = n;
    return kOk;
  }
  for (std::uint32_t i = 0; i < n; ++i)
    ids[i] = LoadLE16(bytes + 2 + 2 * i);
  std::sort(ids, ids + n);
  *count = static_cast<std::uint32_t>(std::unique(ids, ids + n) - ids);
  return kOk;
}

// Colour themes.

namespace {

std::uint32_t ThemeSize(const std::uint8_t* t) {
  return 4u + 2u * t[3] + 4u * t[2];
}

}  // namespace

StatusCode Settings_ThemesFromBytes(const std::uint8_t* bytes, std::uint32_t size,
                                    ColourThemeSet** out) noexcept {
  void* block = nullptr;
  if (Engine_Alloc(sizeof(ColourThemeSet), &block) != kOk) return kOutOfMemory;
  auto* set = new (block) ColourThemeSet{};
  auto fail = [&](StatusCode s) {
    Settings_ThemesFree(set);
    return s;
  };
  const bool valid = bytes != nullptr && size > 7 && size <= 0xFFFFu + kThemeHeaderSize &&
                     LoadLE16(bytes) + kThemeHeaderSize == size;
  if (valid) {
    if (set->image.Assign(bytes, size) != kOk) return fail(kOutOfMemory);
  } else {
    if (set->image.Resize(kThemeHeaderSize) != kOk) return fail(kOutOfMemory);
    StoreLE16(set->image.Data() + 4, 1);
  }
  std::uint8_t* p = set->image.Data();
  const std::uint32_t stated = std::min<std::uint32_t>(LoadLE16(p + 2), kThemesMax);
  if (Engine_AllocArray<std::uint32_t>(stated + 1, &set->offsets) != kOk) return fail(kOutOfMemory);
  std::uint32_t at = kThemeHeaderSize;
  const std::uint32_t end = set->image.Size();
  while (set->count < stated && end - at > 3) {
    const std::uint32_t t = ThemeSize(p + at);
    if (t > end - at) break;
    set->offsets[set->count++] = at;
    at += t;
  }
  const std::uint16_t next = LoadLE16(p + 4);
  StoreLE16(p + 4, (next == 0 || next >= 0x8000) ? 1 : next);
  StoreLE16(p + 2, static_cast<std::uint16_t>(set->count));
  StoreLE16(p, static_cast<std::uint16_t>(at - kThemeHeaderSize));
  StoreLE16(p + 6, 0);
  (void)set->image.Resize(at);  // shrinking never allocates
  *out = set;
  return kOk;
}

void Settings_ThemesFree(ColourThemeSet* set) noexcept {
  if (set == nullptr) return;
  Engine_Free(set->offsets);
  set->~ColourThemeSet();
  Engine_Free(set);
}

std::uint16_t Settings_ThemeKey(const ColourThemeSet& set, std::uint32_t index) noexcept {
  return LoadLE16(set.image.Data() + set.offsets[index]);
}
