// Folder helpers: the program folder, joined file names, folder chains and
// the user's special folders. They sit above the file system and URL services
// they use. The four Path_ helpers here report success by their result alone
// and show nothing. They are plain functions, not a module.
#pragma once

#include <cstdint>

#include "engine/runtime/path.h"

// Special folders, numbered as the shell numbers them, and where they are on
// Linux:
//   application data   $KELPO_DATA_HOME, else $XDG_DATA_HOME, else
//                      ~/.local/share
//   documents          $KELPO_DOCUMENTS_DIR, else XDG_DOCUMENTS_DIR of the XDG
//                      user-dirs file, else ~/Documents
//   desktop, templates their XDG user-dirs entries, else ~/Desktop and
//                      ~/Templates
//   internet cache     $XDG_CACHE_HOME, else ~/.cache
//   programs, start    the user's application menu entries: the data folder
//   menu               above (XDG rules, no KELPO_ override) + /applications
//   startup            $XDG_CONFIG_HOME (else ~/.config) + /autostart
//   fonts              the data folder + /fonts
//   common programs,   /usr/share/applications
//   common start menu
//   common startup     /etc/xdg/autostart
// Favourites, recent documents, send-to, network and printer shortcuts, the
// shared desktop, shared favourites, cookies and history have no folder on
// Linux: they fail like an unknown folder.
constexpr std::uint32_t kCsidlPrograms = 0x0002;
constexpr std::uint32_t kCsidlPersonal = 0x0005;
constexpr std::uint32_t kCsidlFavorites = 0x0006;
constexpr std::uint32_t kCsidlStartup = 0x0007;
constexpr std::uint32_t kCsidlRecent = 0x0008;
constexpr std::uint32_t kCsidlSendTo = 0x0009;
constexpr std::uint32_t kCsidlStartMenu = 0x000B;
constexpr std::uint32_t kCsidlDesktopDirectory = 0x0010;
constexpr std::uint32_t kCsidlNetHood = 0x0013;
constexpr std::uint32_t kCsidlFonts = 0x0014;
constexpr std::uint32_t kCsidlTemplates = 0x0015;
constexpr std::uint32_t kCsidlCommonStartMenu = 0x0016;
constexpr std::uint32_t kCsidlCommonPrograms = 0x0017;
constexpr std::uint32_t kCsidlCommonStartup = 0x0018;
constexpr std::uint32_t kCsidlCommonDesktopDirectory = 0x0019;
constexpr std::uint32_t kCsidlAppData = 0x001A;
constexpr std::uint32_t kCsidlPrintHood = 0x001B;
constexpr std::uint32_t kCsidlCommonFavorites = 0x001F;
constexpr std::uint32_t kCsidlInternetCache = 0x0020;
constexpr std::uint32_t kCsidlCookies = 0x0021;
constexpr std::uint32_t kCsidlHistory = 0x0022;

// The folder of the running program, from /proc/self/exe, cut before its last
// separator. An unreadable or too long answer empties the buffer and answers
// false; a name without separator leaves an empty string of length 0.
bool Path_GetModuleDirectory(char16_t buffer[kPathBufferSize], std::uint32_t* length) noexcept;
// needed = length(folder) + for each non-null part its length + 1, + 1 for the
// terminator, written even on failure. Capacity (in units, terminator
// included) below needed: false, buffer untouched. Otherwise the folder, then
// each non-null part after a '\'.
bool Path_Compose(char16_t* buffer, std::uint32_t capacity, const char16_t* folder,
                  const char16_t* part1, const char16_t* part2, const char16_t* part3,
                  const char16_t* part4, std::uint32_t* needed) noexcept;
// Creates every missing folder of the path (as FileSys_CreateFolderPath).
// Length 0: nothing to do, true; negative: up to the terminator; above
// kPathMax: false.
bool Path_CreateDirectoryTree(const char16_t* path, std::int32_t length) noexcept;
// Writes the special folder's path without a trailing separator and answers
// its length; 0 (buffer emptied) for an unknown folder or one that cannot be
// named in kPathMax units. With create set, the folder chain is created (its
// failure does not change the answer).
std::uint32_t Path_GetSpecialFolder(char16_t buffer[kPathBufferSize], std::uint32_t csidl,
                                    bool create) noexcept;
