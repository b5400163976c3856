// The program's global options (Preferences) and the main window's placement
// (WindowState), kept in the settings key "Software\Kelpo\Kelpo" of the host:
// subkey "Settings", value "Preferences" (binary, 772 bytes); subkey
// "WindowState", values "Flags" (u32), "Main" ("x,y,width,height") and
// "BrowseFilter" ("n"). Both records are read once at start-up and written
// once at exit; nothing here reports a failure to the user: an unreadable,
// short, foreign or damaged record falls back to its defaults.
//
// The Preferences record is kept as its stored bytes (little-endian), so that
// reserved bytes survive a load and save unchanged; fields are read and
// written through the accessors below.
//
// | offset | size   | field                 | default                    |
// |--------|--------|-----------------------|----------------------------|
// | 0      | u32    | checksum              | CRC-32 of bytes 4..771, register seeded 0x600DF00D,
// not inverted | | 4      | u32    | version               | 4 (0 is invalid)           | | 8 | u16
// | flags                 | 2                          | | 10     | u16    | localSettingsLimitKB
// | 1000                       | | 16     | u8     | saveMode              | 0 always, 1 ask, 2
// never   | | 17     | u8     | searchOptions         | 0                          | | 18     | 32
// | searchTextNarrow      | empty (version 1 only)     | | 50     | u8     | autoScrollSpeed | 0
// (taken as 10)            | | 51     | u8     | lastOptionsPage       | 0 | | 52     | u16    |
// defaultLocationFlags  | 2                          | | 54     | u16    | defaultDisplayFlags   |
// 2                          | | 56     | u16    | defaultDisplayExtra   | 0 | | 60     | 4 x u8 |
// regionPercent         | 25, 25, 25, 25             | | 64     | 4 x u8 | regionAction          |
// 0, 0, 0, 0                 | | 68     | u16    | scrollFlags           | 0 | | 70     | u8     |
// screenUpBehaviour     | 0                          | | 71     | u8     | screenDownBehaviour   |
// 0                          | | 72..75 | 4 x u8 | keyUp/Down/Left/Right | 1, 2, 1, 2 | | 224    |
// 32 x u16 | fontFace1..4 (each 64 bytes: 224, 288, 352, 416) | "Verdana", "Times New Roman",
// "Verdana", "Courier New" | | 482    | 32 x u16 | searchText          | empty | | 546    | u16 |
// defaultEncoding       | settled at load            | | 552    | u16    | lastCategory          |
// 0xFFFF                     | | 560    | u8     | lastAnnotationColour  | 0 |
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The host's settings key (the registry in the original system; QSettings
// here, an in-memory store in tests). Values are typed: a value read as
// another type than it was written counts as missing.
class KeyValueStore {
 public:
  virtual ~KeyValueStore() = default;
  // Whether the key exists at all.
  virtual bool Exists() const = 0;
  virtual bool ReadBinary(std::string_view subkey, std::string_view name,
                          std::vector<std::uint8_t>* out) const = 0;
  virtual bool ReadU32(std::string_view subkey, std::string_view name,
                       std::uint32_t* out) const = 0;
  virtual bool ReadString(std::string_view subkey, std::string_view name,
                          std::string* out) const = 0;
  // Writes answer false when the value could not be stored.
  virtual bool WriteBinary(std::string_view subkey, std::string_view name, const std::uint8_t* data,
                           std::size_t size) = 0;
  virtual bool WriteU32(std::string_view subkey, std::string_view name, std::uint32_t value) = 0;
  virtual bool WriteString(std::string_view subkey, std::string_view name,
                           std::string_view value) = 0;
  // Makes the writes since the last commit lasting, all of them or none;
  // false when that failed (what was stored before stays). Stores whose
  // writes last at once answer true.
  virtual bool Commit() { return true; }
};

constexpr std::size_t kPrefsSize = 772;
constexpr std::size_t kPrefsMinimumSize = 520;  // shorter stored records are foreign
constexpr std::uint32_t kPrefsVersion = 4;
constexpr std::uint32_t kPrefsChecksumSeed = 0x600DF00Du;

enum class SaveMode : std::uint8_t { Always = 0, Ask = 1, Never = 2 };

struct Preferences {
  std::array<std::uint8_t, kPrefsSize> bytes{};

  std::uint32_t checksum() const { return U32(0); }
  std::uint32_t version() const { return U32(4); }
  std::uint16_t flags() const { return U16(8); }
  std::uint16_t localSettingsLimitKB() const { return U16(10); }
  std::uint8_t saveMode() const { return bytes[16]; }
  std::uint8_t searchOptions() const { return bytes[17]; }
  std::uint8_t autoScrollSpeed() const { return bytes[50]; }
  std::uint8_t lastOptionsPage() const { return bytes[51]; }
  std::uint16_t defaultLocationFlags() const { return U16(52); }
  std::uint16_t defaultDisplayFlags() const { return U16(54); }
  std::uint16_t defaultDisplayExtra() const { return U16(56); }
  std::uint8_t regionPercent(int band) const { return bytes[60 + band]; }
  std::uint8_t regionAction(int band) const { return bytes[64 + band]; }
  std::uint16_t scrollFlags() const { return U16(68); }
  std::uint8_t screenUpBehaviour() const { return bytes[70]; }
  std::uint8_t screenDownBehaviour() const { return bytes[71]; }
  std::uint8_t keyUp() const { return bytes[72]; }
  std::uint8_t keyDown() const { return bytes[73]; }
  std::uint8_t keyLeft() const { return bytes[74]; }
  std::uint8_t keyRight() const { return bytes[75]; }
  // Font faces 1..4 and the search text: at most 31 UTF-16 units.
  std::u16string fontFace(int which) const { return Text(224 + 64 * (which - 1)); }
  std::u16string searchText() const { return Text(482); }
  std::uint16_t defaultEncoding() const { return U16(546); }
  std::uint16_t lastCategory() const { return U16(552); }
  std::uint8_t lastAnnotationColour() const { return bytes[560]; }

  void setVersion(std::uint32_t v) { SetU32(4, v); }
  void setFlags(std::uint16_t v) { SetU16(8, v); }
  void setLocalSettingsLimitKB(std::uint16_t v) { SetU16(10, v); }
  void setSaveMode(std::uint8_t v) { bytes[16] = v; }
  void setSearchOptions(std::uint8_t v) { bytes[17] = v; }
  void setAutoScrollSpeed(std::uint8_t v) { bytes[50] = v; }
  void setLastOptionsPage(std::uint8_t v) { bytes[51] = v; }
  void setDefaultLocationFlags(std::uint16_t v) { SetU16(52, v); }
  void setDefaultDisplayFlags(std::uint16_t v) { SetU16(54, v); }
  void setDefaultDisplayExtra(std::uint16_t v) { SetU16(56, v); }
  void setRegion(int band, std::uint8_t percent, std::uint8_t action) {
    bytes[60 + band] = percent;
    bytes[64 + band] = action;
  }
  void setScrollFlags(std::uint16_t v) { SetU16(68, v); }
  void setScreenBehaviour(std::uint8_t up, std::uint8_t down) {
    bytes[70] = up;
    bytes[71] = down;
  }
  void setKeys(std::uint8_t up, std::uint8_t down, std::uint8_t left, std::uint8_t right) {
    bytes[72] = up;
    bytes[73] = down;
    bytes[74] = left;
    bytes[75] = right;
  }
  // Texts longer than 31 units are cut.
  void setFontFace(int which, std::u16string_view face) { SetText(224 + 64 * (which - 1), face); }
  void setSearchText(std::u16string_view text) { SetText(482, text); }
  void setDefaultEncoding(std::uint16_t v) { SetU16(546, v); }
  void setLastCategory(std::uint16_t v) { SetU16(552, v); }
  void setLastAnnotationColour(std::uint8_t v) { bytes[560] = v; }

  std::uint16_t U16(std::size_t at) const;
  std::uint32_t U32(std::size_t at) const;
  void SetU16(std::size_t at, std::uint16_t v);
  void SetU32(std::size_t at, std::uint32_t v);
  std::u16string Text(std::size_t at) const;
  void SetText(std::size_t at, std::u16string_view text);
};

struct WindowState {
  std::uint32_t flags = 0;  // kept as read
  std::int32_t x = -1, y = -1, width = -1, height = -1;
  std::int32_t browseFilter = 0;  // kept as read
};

struct ScreenRect {
  std::int32_t left, top, right, bottom;
};

// All bytes zero, then the table's defaults (version 4, encoding 0).
void Prefs_SetDefaults(Preferences* prefs) noexcept;
// The checksum of bytes 4..771.
std::uint32_t Prefs_Checksum(const Preferences& prefs) noexcept;
// Loads "Settings/Preferences": defaults when missing, not binary, shorter
// than 520 bytes, of version 0, or 772 bytes with a wrong checksum. A
// shorter record (520..771 bytes) keeps what was read and zeroes the rest;
// version 1 moves its 8-bit search text (windows-1252) into the UTF-16 one.
void Prefs_Load(const KeyValueStore& store, Preferences* prefs) noexcept;
// Writes version 4 and the checksum; false when the store refused.
bool Prefs_Save(KeyValueStore& store, Preferences* prefs) noexcept;
void Prefs_InitWindowState(WindowState* state) noexcept;
// Takes each value only when it is present and well formed.
void Prefs_LoadWindowState(const KeyValueStore& store, WindowState* state) noexcept;
bool Prefs_SaveWindowState(KeyValueStore& store, const WindowState& state) noexcept;
// Keeps a default encoding that the engine's converter offers; otherwise the
// locale's default charset, or windows-1252 (2252).
void Prefs_SelectDefaultEncoding(Preferences* prefs) noexcept;
// Start-up: both records from the store (defaults when the key is missing),
// then the default encoding is settled.
void Prefs_LoadAll(const KeyValueStore& store, Preferences* prefs, WindowState* state) noexcept;
// Exit: both records; false when anything could not be written.
bool Prefs_SaveAll(KeyValueStore& store, Preferences* prefs, const WindowState& state) noexcept;
// Whether a saved main-window rectangle may be used on this work area: x,
// y >= 0, width and height >= 100, and its top-left at least 20 pixels inside
// the work area's right and bottom edges.
bool Prefs_WindowRectUsable(const WindowState& state, const ScreenRect& workArea) noexcept;
