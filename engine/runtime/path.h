// Engine paths and the one conversion between the engine's UTF-16 paths and
// the UTF-8 bytes handed to the operating system. The folder helpers built on
// the file system and URL services are in path_folders.h.
//
// Engine paths are NUL-terminated UTF-16 strings of at most kPathMax code
// units. Either '\' or '/' separates folders inside the engine; towards the
// system every '\' becomes '/' (Path_ToNative is the only place that does it).
//
// File names on this system are bytes. Bytes that are not valid UTF-8 come
// back as the lone code units U+DC80-U+DCFF (one per byte) and go out again as
// those bytes, so every name a listing returns can be opened again.
//
// These are plain functions, not a module.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// Longest path in code units, terminator excluded, and the buffer that holds
// one with its terminator.
constexpr std::uint32_t kPathMax = 259;
constexpr std::uint32_t kPathBufferSize = 260;

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
