// The values the Options sheet shows and edits, and how they come from and go
// back to the program's Preferences and the open document's display words.
//
// The display word (DisplayFlags) of a document and of the Preferences'
// defaults:
//
// | bits | meaning                                                        |
// |------|----------------------------------------------------------------|
// | 0-2  | text size: 0 largest .. 4 smallest                             |
// | 3    | absolute sizes (clear: sizes relative to the document's)       |
// | 4    | all text bold                                                  |
// | 5    | table layout off                                               |
// | 6    | text aligned right                                             |
// | 7    | all layout off (stored with bit 5)                             |
//
// The location word (LocationFlags): bits 0-1 both set show the scroll bar
// in full screen; bits 4-5 the location shown (0 automatic, 1 page number,
// 2 percentage).
//
// Stored values outside what a list offers (a size of 5..7, a location of 3,
// an action byte past its list) come in as the list's default item, so that
// confirming the sheet never writes a value no choice stands for.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/core/prefs.h"
#include "app/core/tap_regions.h"

// The Options sheet's pages in the order they are added; the colour page is
// there only when a reading view runs the sheet.
namespace OptionsPage {
constexpr int kDisplay = 0;
constexpr int kScroll = 1;
constexpr int kRegion = 2;
constexpr int kFont = 3;
constexpr int kColour = 4;  // Settings, in the sheet without the colour page
constexpr int kSettingsWithColour = 5;
}  // namespace OptionsPage

// List sizes of the pages' drop-downs.
constexpr int kOptionsTextSizes = 5;                    // "Largest" .. "Smallest"
constexpr int kOptionsScreenActions = 4;                // "Full with text align" .. "Half screen"
constexpr int kOptionsKeyActions = 4;                   // "Screen up" .. "Screen down"
constexpr int kOptionsRegionActions = kTapActionCount;  // "Drag" .. "Screen down"
constexpr int kOptionsSaveModes = 3;                    // "Automatically save" .. "Do not save"
constexpr int kOptionsMaxKB = 9999;                     // the spin's range is 0..this
constexpr int kOptionsDefaultTextSize = 2;              // "Medium"

struct OptionsValues {
  // Display page.
  int sizeIndex = kOptionsDefaultTextSize;
  int sizeMode = 0;  // 0 relative, 1 absolute
  int bold = 0;
  int location = 0;   // 0 automatic, 1 page number, 2 percentage
  int layout = 0;     // 0 table layout on, 1 table layout off, 2 all layout off
  int alignment = 0;  // 0 normal, 1 right
  bool alsoDefaults = false;
  bool noDocument = false;
  bool encodingFixed = false;  // the document names its encoding
  std::uint32_t encoding = 0;  // MIBenum
  // Scroll page.
  int autoscrollMode = 0;  // 0 a line at a time, 1 smooth
  int screenUp = 0, screenDown = 0;
  int keyUp = 0, keyDown = 0, keyLeft = 0, keyRight = 0;
  bool fullScreenBar = false;
  // Region page: top band first.
  std::array<int, 4> regionPercent{25, 25, 25, 25};
  std::array<int, 4> regionAction{};
  // Font page: Default, Serif, Sans Serif, Monospace.
  std::array<std::u16string, 4> faces;
  // Colour page: the document's theme key (0 none).
  std::uint16_t themeKey = 0;
  // Settings page.
  int saveMode = 0;
  int maxKB = 0;
};

// The document's side of the sheet (the view runner); the frame runner
// passes the Preferences' defaults in the same shape.
struct OptionsDocument {
  std::uint16_t displayFlags = 0;
  std::uint16_t locationFlags = 0;
  bool encodingFixed = false;
  std::uint32_t encoding = 0;
  std::uint16_t themeKey = 0;
};

// What a copy back changed, so the view knows what to redo.
struct OptionsChanges {
  bool faces = false;
  bool theme = false;
  bool display = false;   // DisplayFlags
  bool encoding = false;  // the document's encoding
};

// The display word's bits as page fields, and back.
void Options_DisplayFromFlags(std::uint16_t displayFlags, OptionsValues* values) noexcept;
std::uint16_t Options_DisplayFlags(const OptionsValues& values) noexcept;
// The location word as the sheet stores it: location << 4, and bits 0-1
// with the full-screen bar.
std::uint16_t Options_LocationFlags(const OptionsValues& values) noexcept;

// Fills every field from the Preferences and the document (or, for the
// frame runner, from the Preferences' defaults: see Options_FrameDocument).
void Options_CopyIn(const Preferences& prefs, const OptionsDocument& doc, bool noDocument,
                    OptionsValues* values) noexcept;
// The Preferences' defaults seen as a document, for the frame runner.
OptionsDocument Options_FrameDocument(const Preferences& prefs) noexcept;

// The view runner's copy back. The font faces that differ (ignoring case)
// go to the Preferences; the theme key, display word, encoding and location
// word to the document (and, with "also defaults", the display word,
// location word and encoding to the Preferences' defaults); the scroll,
// region and settings fields to the Preferences.
OptionsChanges Options_CopyBackToDocument(const OptionsValues& values, std::uint16_t chosenThemeKey,
                                          bool themeChanged, OptionsDocument* doc,
                                          Preferences* prefs) noexcept;
// The frame runner's copy back: faces, default display and location words,
// scroll, region and settings fields, all into the Preferences.
OptionsChanges Options_CopyBackToPrefs(const OptionsValues& values, Preferences* prefs) noexcept;

// The last page is stored by its number in the sheet with the colour page
// (Display 0, Scroll 1, Region 2, Font 3, Color 4, Settings 5), so that both
// sheets open on the same page; the sheet without it shows Settings for
// either of the last two.
// The page the sheet opens on, for a stored number (clamped to the pages).
int Options_StartPage(int storedPage, bool withColourPage) noexcept;
// The number stored for a page of the sheet.
int Options_StoredPage(int pageIndex, bool withColourPage) noexcept;
// Whether two face names are the same, ignoring case.
bool Options_SameFace(std::u16string_view a, std::u16string_view b) noexcept;
// The number of a new colour theme's default name: the smallest of
// 1..1000 that taken() says no theme uses, 1000 when all are.
template <typename Taken>
unsigned long Options_NewThemeNumber(Taken taken) {
  for (unsigned long n = 1; n < 1000; ++n)
    if (!taken(n)) return n;
  return 1000;
}
