#include "app/core/commands.h"

#include <array>
#include <cstdio>

namespace {

using T = CommandTarget;
using R = UpdateRule;
using M = MenuId;

constexpr CommandInfo kCommands[] = {
    // File
    {Cmd::Open, "&Open...", {"Ctrl+O", nullptr}, T::Frame, R::Always, M::File, false},
    {Cmd::OpenCategorized,
     "Open Ca&tegorized...",
     {},
     T::Frame,
     R::OpenCategorized,
     M::File,
     false},
    {Cmd::Close, "&Close", {}, T::Document, R::Always, M::File, false},
    {Cmd::SaveAs, "&Save As...", {"Ctrl+S", nullptr}, T::View, R::Always, M::File, false},
    {Cmd::PrintSetup, "P&rint Setup...", {}, T::Frame, R::Always, M::None, false},
    {Cmd::Print, "&Print...", {"Ctrl+P", nullptr}, T::View, R::Always, M::File, false},
    {Cmd::PrintPreview, "Print Pre&view", {}, T::View, R::Always, M::File, false},
    {Cmd::PrintDirect, "Print", {}, T::View, R::Always, M::None, false},
    {Cmd::Exit, "E&xit", {"Alt+F4", nullptr}, T::Frame, R::Always, M::File, false},
    // Edit
    {Cmd::Copy, "&Copy", {"Ctrl+C", "Ctrl+Ins"}, T::View, R::InSelectMode, M::Edit, false},
    {Cmd::CopyEntireScreen, "Copy Entire &Screen", {}, T::View, R::Always, M::Edit, false},
    {Cmd::CopyEntirePage, "Copy Entire &Page", {}, T::View, R::Always, M::Edit, false},
    {Cmd::CopyEntireDocument, "Copy Entire &Document", {}, T::View, R::Always, M::Edit, false},
    {Cmd::SelectMode, "Select &Mode", {}, T::View, R::SelectModeCheck, M::Edit, true},
    {Cmd::Find, "&Find...", {"Ctrl+F", nullptr}, T::View, R::Always, M::Edit, false},
    {Cmd::FindAgain, "Find A&gain", {"Ctrl+G", nullptr}, T::View, R::FindAgain, M::Edit, false},
    {Cmd::Annotate, "&Annotate...", {}, T::View, R::InSelectMode, M::Edit, false},
    {Cmd::ViewAnnotations,
     "&View/Edit Annotations...",
     {},
     T::View,
     R::Annotations,
     M::Edit,
     false},
    {Cmd::AnnotationSettings, "A&nnotation Settings...", {}, T::View, R::Always, M::Edit, false},
    {Cmd::Cut, "Cu&t", {"Ctrl+X", "Shift+Del"}, T::Nobody, R::Always, M::None, false},
    {Cmd::Paste, "&Paste", {"Ctrl+V", "Shift+Ins"}, T::Nobody, R::Always, M::None, false},
    {Cmd::Undo, "&Undo", {"Ctrl+Z", "Alt+Backspace"}, T::Nobody, R::Always, M::None, false},
    // View
    {Cmd::Toolbar, "&Toolbar", {}, T::Frame, R::ToolbarCheck, M::View, true},
    {Cmd::StatusBar, "&Status Bar", {}, T::Frame, R::StatusBarCheck, M::View, true},
    {Cmd::FullScreen,
     "&Full Screen",
     {"F11", nullptr},
     T::Frame,
     R::FullScreenCheck,
     M::View,
     true},
    {Cmd::DocumentInformation,
     "Document &Information...",
     {"Ctrl+I", nullptr},
     T::View,
     R::Always,
     M::View,
     false},
    {Cmd::Categories, "Ca&tegories...", {}, T::View, R::Always, M::View, false},
    // Go
    {Cmd::GoTo, "&Go To...", {}, T::View, R::Always, M::Go, false},
    {Cmd::Home, "&Home", {"Alt+Home", nullptr}, T::View, R::Always, M::Go, false},
    {Cmd::Back, "&Back", {"Alt+Left", nullptr}, T::View, R::Back, M::Go, false},
    {Cmd::Forward, "&Forward", {"Alt+Right", nullptr}, T::View, R::Forward, M::Go, false},
    {Cmd::PreviousPage,
     "&Previous Page",
     {"Ctrl+PgUp", nullptr},
     T::View,
     R::PreviousPage,
     M::Go,
     false},
    {Cmd::NextPage, "&Next Page", {"Ctrl+PgDown", nullptr}, T::View, R::NextPage, M::Go, false},
    {Cmd::GoToButton, "Go To", {}, T::View, R::GoToButton, M::None, false},
    {Cmd::Autoscroll, "&Autoscroll", {"Ctrl+T", nullptr}, T::View, R::Always, M::Go, false},
    // Bookmarks
    {Cmd::AddBookmark,
     "&Add Bookmark...",
     {"Ctrl+B", nullptr},
     T::View,
     R::Always,
     M::Bookmarks,
     false},
    {Cmd::EditBookmarks,
     "&Edit Bookmarks...",
     {"Ctrl+E", nullptr},
     T::View,
     R::Always,
     M::Bookmarks,
     false},
    {Cmd::Bookmarks, "Bookmar&ks", {"Ctrl+K", nullptr}, T::View, R::Bookmarks, M::Bookmarks, false},
    {Cmd::MarkLocation,
     "&Mark Location",
     {"Ctrl+M", nullptr},
     T::View,
     R::Always,
     M::Bookmarks,
     false},
    {Cmd::JumpToMark,
     "&Jump to Mark",
     {"Ctrl+J", nullptr},
     T::View,
     R::JumpToMark,
     M::Bookmarks,
     false},
    {Cmd::ClearHistory, "&Clear History", {}, T::View, R::ClearHistory, M::Bookmarks, false},
    // Tools
    {Cmd::Options, "&Options...", {}, T::ViewOrFrame, R::Always, M::Tools, false},
    // Window
    {Cmd::ArrangeIcons, "&Arrange Icons", {}, T::Document, R::Always, M::Window, false},
    {Cmd::Cascade, "&Cascade", {}, T::Document, R::Always, M::Window, false},
    {Cmd::Tile, "&Tile", {}, T::Document, R::Always, M::Window, false},
    {Cmd::NextPane, "Next Pane", {"F6", nullptr}, T::Nobody, R::Always, M::None, false},
    {Cmd::PreviousPane,
     "Previous Pane",
     {"Shift+F6", nullptr},
     T::Nobody,
     R::Always,
     M::None,
     false},
    // Help
    {Cmd::HelpContents, "&Contents", {}, T::Frame, R::Always, M::Help, false},
    {Cmd::SystemInformation, "&System Information...", {}, T::Frame, R::Always, M::Help, false},
    {Cmd::About, "&About Kelpo...", {}, T::Frame, R::Always, M::Help, false},
    {Cmd::Help, "Help", {"F1", nullptr}, T::Frame, R::Always, M::None, false},
    {Cmd::ContextHelp, "Context Help", {"Shift+F1", nullptr}, T::Frame, R::Always, M::None, false},
};

constexpr std::uint16_t kFileMenu[] = {Cmd::Open,   Cmd::OpenCategorized,
                                       Cmd::Close,  0,
                                       Cmd::SaveAs, 0,
                                       Cmd::Print,  Cmd::PrintPreview,
                                       0,           kMenuRecentFiles,
                                       0,           Cmd::Exit};
constexpr std::uint16_t kEditMenu[] = {Cmd::Copy,
                                       0,
                                       Cmd::CopyEntireScreen,
                                       Cmd::CopyEntirePage,
                                       Cmd::CopyEntireDocument,
                                       0,
                                       Cmd::SelectMode,
                                       0,
                                       Cmd::Find,
                                       Cmd::FindAgain,
                                       0,
                                       Cmd::Annotate,
                                       Cmd::ViewAnnotations,
                                       Cmd::AnnotationSettings};
constexpr std::uint16_t kViewMenu[] = {
    Cmd::Toolbar, Cmd::StatusBar, Cmd::FullScreen, 0, Cmd::DocumentInformation, Cmd::Categories};
constexpr std::uint16_t kGoMenu[] = {
    Cmd::GoTo,         Cmd::Home,     0, Cmd::Back,      Cmd::Forward, 0,
    Cmd::PreviousPage, Cmd::NextPage, 0, Cmd::Autoscroll};
constexpr std::uint16_t kBookmarksMenu[] = {
    Cmd::AddBookmark, Cmd::EditBookmarks, Cmd::Bookmarks, 0, Cmd::MarkLocation, Cmd::JumpToMark, 0,
    Cmd::ClearHistory};
constexpr std::uint16_t kToolsMenu[] = {Cmd::Options};
constexpr std::uint16_t kWindowMenu[] = {Cmd::ArrangeIcons, Cmd::Cascade, Cmd::Tile};
constexpr std::uint16_t kHelpMenu[] = {Cmd::HelpContents, Cmd::SystemInformation, 0, Cmd::About};
constexpr std::uint16_t kSelectionMenu[] = {Cmd::Copy, Cmd::Annotate};

}  // namespace

std::span<const CommandInfo> Command_Table() noexcept {
  return kCommands;
}

const CommandInfo* Command_Find(std::uint16_t id) noexcept {
  for (const CommandInfo& c : kCommands)
    if (c.id == id) return &c;
  return nullptr;
}

const char* Command_MenuTitle(MenuId menu) noexcept {
  switch (menu) {
    case MenuId::File:
      return "&File";
    case MenuId::Edit:
      return "&Edit";
    case MenuId::View:
      return "&View";
    case MenuId::Go:
      return "&Go";
    case MenuId::Bookmarks:
      return "&Bookmarks";
    case MenuId::Tools:
      return "&Tools";
    case MenuId::Window:
      return "&Window";
    case MenuId::Help:
      return "&Help";
    case MenuId::None:
      break;
  }
  return "";
}

std::span<const std::uint16_t> Command_MenuItems(MenuId menu) noexcept {
  switch (menu) {
    case MenuId::File:
      return kFileMenu;
    case MenuId::Edit:
      return kEditMenu;
    case MenuId::View:
      return kViewMenu;
    case MenuId::Go:
      return kGoMenu;
    case MenuId::Bookmarks:
      return kBookmarksMenu;
    case MenuId::Tools:
      return kToolsMenu;
    case MenuId::Window:
      return kWindowMenu;
    case MenuId::Help:
      return kHelpMenu;
    case MenuId::None:
      break;
  }
  return {};
}

std::span<const std::uint16_t> Command_SelectionMenu() noexcept {
  return kSelectionMenu;
}

const char* Command_SelectionMenuText(std::uint16_t id) noexcept {
  switch (id) {
    case Cmd::Copy:
      return "&Copy";
    case Cmd::Annotate:
      return "&Annotate";
    default:
      return "";
  }
}

CommandUpdate Command_Update(std::uint16_t id, const CommandState& s) noexcept {
  const CommandInfo* info = Command_Find(id);
  if (info == nullptr || info->target == CommandTarget::Nobody) return {};
  // A view command without a view has nothing to handle it.
  if ((info->target == CommandTarget::View || info->target == CommandTarget::Document) &&
      !s.hasView)
    return {};
  auto enabled = [](bool on) { return CommandUpdate{on, false, false}; };
  switch (info->rule) {
    case UpdateRule::Always:
      return enabled(true);
    case UpdateRule::InSelectMode:
      return enabled((s.viewMode & ViewMode::Select) != 0);
    case UpdateRule::SelectModeCheck:
      return {true, (s.viewMode & ViewMode::Select) != 0, false};
    case UpdateRule::JumpToMark:
      return enabled(s.savedPosition.has_value() && *s.savedPosition != 0xFFFFFFFFu);
    case UpdateRule::ClearHistory:
      return enabled(s.hasHandler && !(s.backEmpty && s.forwardEmpty));
    case UpdateRule::FindAgain:
      return enabled((s.viewMode & ViewMode::Searched) != 0);
    case UpdateRule::Bookmarks:
      return enabled(s.hasTextView && s.hasHandler && s.anyBookmarks);
    case UpdateRule::Back:
      return enabled(s.hasHandler && !s.backEmpty);
    case UpdateRule::Forward:
      return enabled(s.hasHandler && !s.forwardEmpty);
    case UpdateRule::PreviousPage:
    case UpdateRule::NextPage:
      if (!s.hasHandler) return enabled(false);
      if (!s.page || !s.pageCount) return {false, false, true};
      return enabled(info->rule == UpdateRule::PreviousPage ? *s.page > 1 : *s.page < *s.pageCount);
    case UpdateRule::GoToButton:
      return enabled(!Command_GoToButtonText(s).empty());
    case UpdateRule::Annotations:
      return enabled(s.anyAnnotations);
    case UpdateRule::OpenCategorized:
      return enabled(s.storeOpen && s.hasCategory);
    case UpdateRule::ToolbarCheck:
      return {true, s.toolbarShown, false};
    case UpdateRule::StatusBarCheck:
      return {true, s.statusBarShown, false};
    case UpdateRule::FullScreenCheck:
      return {true, s.fullScreen, false};
  }
  return {};
}

std::string Command_GoToButtonText(const CommandState& s) {
  if (!s.hasView) return {};
  char text[40];
  if (s.viewMode & ViewMode::Percent) {
    if (!s.percent) return {};
    std::snprintf(text, sizeof text, "%u%%", unsigned{*s.percent});
  } else {
    if (!s.page || !s.pageCount) return {};
    std::snprintf(text, sizeof text, "Page %u of %u", unsigned{*s.page}, unsigned{*s.pageCount});
  }
  return text;
}

std::optional<GoToMove> Command_GoToMove(int result, std::uint32_t value,
                                         std::uint16_t pageCount) noexcept {
  constexpr std::uint16_t kSectionByNumber = 17, kPercent = 27, kSectionStart = 13,
                          kSectionEnd = 14;
  switch (result) {
    case GoToResult::Page:
      return GoToMove{kSectionByNumber, value};
    case GoToResult::FirstPage:
      return GoToMove{kSectionByNumber, 1};
    case GoToResult::LastPage:
      return GoToMove{kSectionByNumber, pageCount};
    case GoToResult::Percent:
      return GoToMove{kPercent, value};
    case GoToResult::TopOfPage:
      return GoToMove{kSectionStart, 0};
    case GoToResult::EndOfPage:
      return GoToMove{kSectionEnd, 0};
    default:
      return std::nullopt;
  }
}
