// Folder helpers: the program folder, joined file names, folder chains and
// the user's special folders. They sit above the file system and URL services
// they use. The four Path_ helpers here report success by their result alone
// and show nothing. They are plain functions, not a module.
#pragma once

#include <cstdint>

#include "engine/runtime/path.h"

// Special folders, numbered as the shell numbers them. Only these resolve:
// application data ($KELPO_DATA_HOME, else $XDG_DATA_HOME, else
// ~/.local/share), documents ($KELPO_DOCUMENTS_DIR, else XDG_DOCUMENTS_DIR of
// the XDG user-dirs file, else ~/Documents), desktop and templates (their XDG
// user-dirs entries, else ~/Desktop and ~/Templates) and the cache
// ($XDG_CACHE_HOME, else ~/.cache).
constexpr std::uint32_t kCsidlPersonal = 0x0005;
constexpr std::uint32_t kCsidlDesktopDirectory = 0x0010;
constexpr std::uint32_t kCsidlTemplates = 0x0015;
constexpr std::uint32_t kCsidlAppData = 0x001A;
constexpr std::uint32_t kCsidlInternetCache = 0x0020;

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
