// The small files of the settings store as byte images in memory.
//
// The recent list ("mru"), the favourites ("fav"), the colour themes ("clr")
// and the per-document category lists are read whole, checked, edited here and
// written back whole by the store (a new copy renamed over the old one), so a
// crash never leaves a file half-edited. Everything in this header works on
// bytes only and never touches a file; the fuzz targets drive it directly.
// All numbers are little-endian; UTF-16 names are stored little-endian.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// A growable byte block in engine memory.
class SettingsImage {
 public:
  SettingsImage() = default;
  ~SettingsImage();
  SettingsImage(const SettingsImage&) = delete;
  SettingsImage& operator=(const SettingsImage&) = delete;

  std::uint8_t* Data() { return data_; }
  const std::uint8_t* Data() const { return data_; }
  std::uint32_t Size() const { return size_; }
  StatusCode Assign(const void* bytes, std::uint32_t size) noexcept;
  // New bytes are zero.
  StatusCode Resize(std::uint32_t size) noexcept;
  // Opens n zero bytes at `at` (at <= Size()).
  StatusCode Insert(std::uint32_t at, std::uint32_t n) noexcept;
  // Removes n bytes at `at` (at + n <= Size()).
  void Erase(std::uint32_t at, std::uint32_t n) noexcept;
  // Gives the block away (caller frees with Engine_Free).
  std::uint8_t* Release() noexcept;

 private:
  std::uint8_t* data_ = nullptr;
  std::uint32_t size_ = 0;
};

// LengthCode: bits 0-6 characters (1..127), bit 7 stored as UTF-16. 0 for an
// empty name or one longer than 127 characters (such names are not stored).
std::uint8_t Settings_LengthCode(const char16_t* name, std::uint32_t length) noexcept;
constexpr std::uint32_t Settings_CodeBytes(std::uint8_t code) noexcept {
  return (code & 0x7Fu) * ((code & 0x80u) ? 2u : 1u);
}
// Stores a name in the form its code names.
void Settings_PutName(std::uint8_t* at, const char16_t* name, std::uint8_t code) noexcept;
// Reads a stored name into out (code & 0x7F units, no terminator).
void Settings_GetName(const std::uint8_t* at, std::uint8_t code, char16_t* out) noexcept;
// Exact comparison of a stored name with length units of name.
bool Settings_NameEquals(const std::uint8_t* at, std::uint8_t code, const char16_t* name,
                         std::uint32_t length) noexcept;
// Length of a NUL-terminated UTF-16 string, at most limit + 1.
std::uint32_t Settings_TextLength(const char16_t* text, std::uint32_t limit) noexcept;

// Recent list: 100 codes, then the names in entry order.
constexpr std::uint32_t kRecentEntries = 100;
bool Settings_RecentValid(const std::uint8_t* bytes, std::uint32_t size) noexcept;
// Leading non-zero codes.
std::uint32_t Settings_RecentCount(const SettingsImage& mru) noexcept;
// Index of the entry equal to the name (case matters), -1 when none; the
// byte offset of its name goes to *offset.
std::int32_t Settings_RecentFind(const SettingsImage& mru, const char16_t* name,
                                 std::uint32_t length, std::uint32_t* offset) noexcept;
// Removes entry index whose name lies at offset.
void Settings_RecentRemoveAt(SettingsImage& mru, std::uint32_t index,
                             std::uint32_t offset) noexcept;
// Puts the name at the front (removing it elsewhere first; the 100th entry
// falls off). A name with code 0 is not recorded. The image must be valid.
StatusCode Settings_RecentAdd(SettingsImage& mru, const char16_t* name,
                              std::uint32_t length) noexcept;
// Renames an entry in place; nothing happens when the old name is absent or
// the new one has code 0. Answers whether anything changed (6) or not (7).
StatusCode Settings_RecentRename(SettingsImage& mru, const char16_t* oldName,
                                 std::uint32_t oldLength, const char16_t* newName,
                                 std::uint32_t newLength) noexcept;

// Favourites: u16 count (at most 4096), two codes per entry, then the
// strings, kept in case-insensitive order of the first strings.
constexpr std::uint32_t kFavouritesMax = 4096;
bool Settings_FavValid(const std::uint8_t* bytes, std::uint32_t size) noexcept;
std::uint32_t Settings_FavCount(const SettingsImage& fav) noexcept;
// Offset of entry i's first string (i may equal the count: the end).
std::uint32_t Settings_FavStringOffset(const SettingsImage& fav, std::uint32_t index) noexcept;
// Bisection by first string ignoring case: 0 and the index when found, else 1
// and the insertion index.
StatusCode Settings_FavSearch(const SettingsImage& fav, const char16_t* name, std::uint32_t length,
                              std::uint32_t* index) noexcept;
// Linear search for an exactly equal second string: 0 or 1.
StatusCode Settings_FavSearchTarget(const SettingsImage& fav, const char16_t* target,
                                    std::uint32_t length, std::uint32_t* index) noexcept;
// Inserts (first, second) at index (codes must be non-zero).
StatusCode Settings_FavInsert(SettingsImage& fav, std::uint32_t index, const char16_t* first,
                              std::uint32_t firstLength, const char16_t* second,
                              std::uint32_t secondLength) noexcept;
void Settings_FavErase(SettingsImage& fav, std::uint32_t index) noexcept;
// Reads entry i's strings (NUL-terminated; buffers of 128 units; either null).
void Settings_FavGet(const SettingsImage& fav, std::uint32_t index, char16_t* first,
                     char16_t* second) noexcept;

// Category-id lists: u16 count 1..32767, then the ids. Reads into ids
// (capacity entries) sorted ascending without duplicates; *count gets their
// number (which may exceed capacity: nothing is then written). kMalformed
// when the count is out of range or the size is not 2 + 2 x count.
constexpr std::uint32_t kCategoryListMax = 32767;
StatusCode Settings_ParseCategoryList(const std::uint8_t* bytes, std::uint32_t size,
                                      std::uint16_t* ids, std::uint32_t capacity,
                                      std::uint32_t* count) noexcept;

// Colour themes.
struct ThemeColour {
  std::uint8_t slot;  // 1 text, 2 background; others kept, ignored
  std::uint8_t red;
  std::uint8_t green;
  std::uint8_t blue;
};
constexpr std::uint32_t kThemeHeaderSize = 8;
constexpr std::uint32_t kThemeNameMax = 31;
constexpr std::uint32_t kThemesMax = 4096;
constexpr std::uint32_t kThemeFileLimit = 32000;

// A loaded "clr" file: its image (8-byte header, then the themes) and the
// offset of each theme.
struct ColourThemeSet {
  SettingsImage image;
  std::uint32_t* offsets;  // engine block, count entries
  std::uint32_t count;
};
// Builds a set from file bytes (null or malformed: an empty set).
StatusCode Settings_ThemesFromBytes(const std::uint8_t* bytes, std::uint32_t size,
                                    ColourThemeSet** out) noexcept;
void Settings_ThemesFree(ColourThemeSet* set) noexcept;
std::uint16_t Settings_ThemeKey(const ColourThemeSet& set, std::uint32_t index) noexcept;
