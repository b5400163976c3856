// Path helpers: the program folder, joined file names, folder chains and the
// user's special folders, plus the one conversion between the engine's UTF-16
// paths and the UTF-8 bytes handed to the operating system.
//
// Engine paths are NUL-terminated UTF-16 strings of at most kPathMax code
// units. Either '\' or '/' separates folders inside the engine; towards the
// system every '\' becomes '/' (Path_ToNative is the only place that does it).
//
// File names on this system are bytes. Bytes that are not valid UTF-8 come
// back as the lone code units U+DC80-U+DCFF (one per byte) and go out again as
// those bytes, so every name a listing returns can be opened again.
//
// The four Path_ helpers report success by their result alone and show
// nothing. They are plain functions, not a module.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// Longest path in code units, terminator excluded, and the buffer that holds
// one with its terminator.
constexpr std::uint32_t kPathMax = 259;
constexpr std::uint32_t kPathBufferSize = 260;

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

// UTF-16 to UTF-8. Pairs become 4-byte sequences, U+DC80-U+DCFF alone become
// the bytes 0x80-0xFF, any other lone surrogate answers kMalformed. *outLength
// receives the byte count without terminator. A null out only measures;
// otherwise out must hold that count + 1 (a NUL is written), else
// kIndexOutOfRange and nothing is written.
StatusCode Path_Utf16ToUtf8(const char16_t* text, std::uint32_t length, char* out,
                            std::uint32_t capacity, std::uint32_t* outLength) noexcept;
// UTF-8 to UTF-16. Well-formed sequences (no overlong forms, no surrogates,
// nothing above U+10FFFF) decode; each byte of anything else becomes
// U+DC00 + byte. Measuring and capacity as above, in code units.
StatusCode Path_Utf8ToUtf16(const char* text, std::uint32_t length, char16_t* out,
                            std::uint32_t capacity, std::uint32_t* outLength) noexcept;

// A path in the form the system calls take: UTF-8, '/' separators, NUL.
struct NativePath {
  static constexpr std::uint32_t kCapacity = 1024;
  char bytes[kCapacity];
  std::uint32_t length;
  const char* c_str() const { return bytes; }
};
// Converts length code units (every '\' becoming '/'). False when the path
// holds a lone surrogate that has no byte or does not fit.
bool Path_ToNative(const char16_t* path, std::uint32_t length, NativePath* out) noexcept;
// Length of a NUL-terminated UTF-16 string, or limit + 1 when it is longer
// than limit (so callers never scan an unterminated buffer far).
std::uint32_t Path_Length(const char16_t* path, std::uint32_t limit) noexcept;

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
