// A reversible scrambling of short texts into a bracketed hex form, called on
// the module object (g_ScramblerModule). It hides a text from casual reading;
// it is not encryption.
//
// Scrambled form: "[", two upper-case hex digits per byte, "]", NUL. Each
// byte with high nibble h and low nibble l is written as the digits
// d1 = (k + l) mod 16 and d2 = (l + 2k + h) mod 16 under a rolling 4-bit key
// k, which then becomes (k + d1 + d2) mod 16; k starts at kScramblerKey.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

constexpr std::uint32_t kScramblerKey = 0x9;

struct ScramblerOps {
  CoreEndWord word0;
  // 1: scrambles a NUL-terminated text into a new block of 2n + 3 bytes from
  // the engine allocator (the caller frees it with Engine_Free). 0; kFailed
  // for an empty or null text; kOutOfMemory; kNullOutPointer without out.
  StatusCode (*encode)(EngineObject* module, const char* text, char** out) noexcept;
  // 2: finds the first "[" that has characters after it and unscrambles the
  // digits up to the next "]" into a new NUL-terminated block of count / 2 + 1
  // bytes from the engine allocator. 0; kFailed when those characters are not
  // all 0-9 / A-F, the text ends before "]", the digit count is odd, or there
  // is no such "["; kOutOfMemory; kNullOutPointer without out.
  StatusCode (*decode)(EngineObject* module, const char* text, char** out) noexcept;
  CoreEndWord end;
};

extern EngineObject ScramblerModule;

StatusCode Scrambler_Encode(EngineObject* module, const char* text, char** out) noexcept;
StatusCode Scrambler_Decode(EngineObject* module, const char* text, char** out) noexcept;
