// The reader's commands, without Qt: their ids, menu texts, accelerators and
// menus, and the rules that enable, grey or check each one as a pure function
// of what the main window and its active reading view report.
//
// A command belongs to the reading view or to the main window. A view command
// with no active view has nothing to handle it and is greyed (as is a
// command that nothing handles at all); Options is handled by the view when
// there is one and by the main window otherwise; closing and arranging the
// document windows need a document window.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include "app/core/goto_input.h"

namespace Cmd {
// The reading view's commands.
constexpr std::uint16_t SelectMode = 32771;
constexpr std::uint16_t Find = 32772;
constexpr std::uint16_t FindAgain = 32773;
constexpr std::uint16_t Back = 32774;
constexpr std::uint16_t Forward = 32775;
constexpr std::uint16_t Bookmarks = 32776;
constexpr std::uint16_t CopyEntireScreen = 32778;
constexpr std::uint16_t CopyEntirePage = 32779;
constexpr std::uint16_t CopyEntireDocument = 32780;
constexpr std::uint16_t DocumentInformation = 32781;
constexpr std::uint16_t MarkLocation = 32782;
constexpr std::uint16_t JumpToMark = 32783;
constexpr std::uint16_t AddBookmark = 32784;
constexpr std::uint16_t EditBookmarks = 32785;
constexpr std::uint16_t ClearHistory = 32786;
constexpr std::uint16_t Autoscroll = 32787;
constexpr std::uint16_t GoTo = 32795;
constexpr std::uint16_t Options = 32797;
constexpr std::uint16_t Home = 32801;
constexpr std::uint16_t Categories = 32802;
constexpr std::uint16_t Annotate = 32805;
constexpr std::uint16_t ViewAnnotations = 32806;
constexpr std::uint16_t AnnotationSettings = 32807;
constexpr std::uint16_t PreviousPage = 1054;
constexpr std::uint16_t NextPage = 1055;
constexpr std::uint16_t GoToButton = 1056;
constexpr std::uint16_t SaveAs = 57604;
constexpr std::uint16_t PrintSetup = 57606;
constexpr std::uint16_t Print = 57607;
constexpr std::uint16_t PrintDirect = 57608;  // print without the dialog; no menu entry
constexpr std::uint16_t PrintPreview = 57609;
constexpr std::uint16_t Copy = 57634;
// The main window's commands.
constexpr std::uint16_t Open = 57601;
constexpr std::uint16_t Close = 57602;
constexpr std::uint16_t OpenCategorized = 32803;
constexpr std::uint16_t Exit = 57665;
constexpr std::uint16_t Toolbar = 59392;
constexpr std::uint16_t StatusBar = 59393;
constexpr std::uint16_t FullScreen = 32798;
constexpr std::uint16_t HelpContents = 32799;
constexpr std::uint16_t SystemInformation = 32800;
constexpr std::uint16_t About = 57664;
constexpr std::uint16_t Help = 57670;
constexpr std::uint16_t ContextHelp = 57669;
constexpr std::uint16_t NextPane = 57680;
constexpr std::uint16_t PreviousPane = 57681;
constexpr std::uint16_t ArrangeIcons = 57649;
constexpr std::uint16_t Cascade = 57650;
constexpr std::uint16_t Tile = 57651;
// Accelerators whose commands nothing handles: always greyed.
constexpr std::uint16_t Cut = 57635;
constexpr std::uint16_t Paste = 57637;
constexpr std::uint16_t Undo = 57643;
}  // namespace Cmd

// The reading view's mode word.
namespace ViewMode {
constexpr std::uint16_t Select = 0x01;
constexpr std::uint16_t Searched = 0x02;  // Find Again has something to repeat
constexpr std::uint16_t TapRepeat = 0x04;
constexpr std::uint16_t AutoScroll = 0x08;
constexpr std::uint16_t Percent = 0x10;  // the location is shown as a percentage
constexpr std::uint16_t FullScreen = 0x20;
constexpr std::uint16_t ListOpen = 0x80;
constexpr std::uint16_t NoteBox = 0x100;
constexpr std::uint16_t SpeedDrag = 0x200;
}  // namespace ViewMode

enum class CommandTarget : std::uint8_t {
  View,         // the active reading view
  Frame,        // the main window
  ViewOrFrame,  // the view when there is one, else the main window
  Document,     // the main window, while a document is open
  Nobody,       // no handler: greyed
};

enum class UpdateRule : std::uint8_t {
  Always,           // no update rule: enabled whenever something handles it
  InSelectMode,     // enabled in select mode
  SelectModeCheck,  // enabled, checked in select mode
  JumpToMark,       // a saved position exists
  ClearHistory,     // a handler, and history either way
  FindAgain,        // a search has run
  Bookmarks,        // a text view, a handler and one non-empty bookmark list
  Back,             // a handler and history behind
  Forward,          // a handler and history ahead
  PreviousPage,     // a handler and a page before this one
  NextPage,         // a handler and a page after this one
  GoToButton,       // enabled while its text is not empty
  Annotations,      // the annotation store holds an annotation
  OpenCategorized,  // the settings store has a first top-level category
  ToolbarCheck,     // checked while the tool bars show
  StatusBarCheck,   // checked while the status bar shows
  FullScreenCheck,  // checked in full screen
};

// Where a command sits in the menu bar.
enum class MenuId : std::uint8_t { None, File, Edit, View, Go, Bookmarks, Tools, Window, Help };

struct CommandInfo {
  std::uint16_t id;
  const char* text;     // menu text with its & mnemonic, without the accelerator
  const char* keys[2];  // accelerators in portable key text ("Ctrl+C"), null when none
  CommandTarget target;
  UpdateRule rule;
  MenuId menu;
  bool checkable;
};

// In a menu's item list: where the main window puts its recent-file list.
constexpr std::uint16_t kMenuRecentFiles = 1;

// Every command, in menu order within each menu (accelerator-only commands
// have MenuId::None).
std::span<const CommandInfo> Command_Table() noexcept;
// The entry of id, or null.
const CommandInfo* Command_Find(std::uint16_t id) noexcept;
// The menu bar's titles, in order (MenuId::File first).
const char* Command_MenuTitle(MenuId menu) noexcept;
// The commands of a menu, in order; 0 marks a separator.
std::span<const std::uint16_t> Command_MenuItems(MenuId menu) noexcept;
// The context menu of a selection (a release in select mode).
std::span<const std::uint16_t> Command_SelectionMenu() noexcept;
const char* Command_SelectionMenuText(std::uint16_t id) noexcept;

// What the main window and its active view report for the update rules.
// A query that failed is left at its default (which the rules read as the
// Parts say: a failed history query is not "no history", a failed page query
// leaves the page commands as they were).
struct CommandState {
  // Main window.
  bool storeOpen = false;
  bool hasCategory = false;  // a first top-level category exists
  bool toolbarShown = true;
  bool statusBarShown = true;
  bool fullScreen = false;
  // Active view (all false without one).
  bool hasView = false;
  bool hasTextView = false;
  bool hasHandler = false;  // the document has a format reader
  std::uint16_t viewMode = 0;
  std::optional<std::uint32_t> savedPosition;  // the saved mark (0xFFFFFFFF: none)
  bool backEmpty = false;                      // the history answered "nothing behind"
  bool forwardEmpty = false;                   // the history answered "nothing ahead"
  bool anyBookmarks = false;                   // one of the three lists is not empty
  std::optional<std::uint16_t> page, pageCount;
  std::optional<std::uint16_t> percent;
  bool anyAnnotations = false;
};

struct CommandUpdate {
  bool enabled = false;
  bool checked = false;
  bool keep = false;  // leave the item as it was (its query failed)
};

CommandUpdate Command_Update(std::uint16_t id, const CommandState& state) noexcept;
// The Go To button's text: "%u%" in percentage mode, else "Page %u of %u";
// empty when its query failed (the button is then greyed).
std::string Command_GoToButtonText(const CommandState& state);

// The move each Go To answer (GoToResult, goto_input.h) makes.
struct GoToMove {
  std::uint16_t code;  // the text view's navigate code
  std::uint32_t argument;
};
// The move for a dialog answer (value: the page or percentage typed); none for
// Cancel and unknown answers.
std::optional<GoToMove> Command_GoToMove(int result, std::uint32_t value,
                                         std::uint16_t pageCount) noexcept;
