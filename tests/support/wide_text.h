// UTF-8 <-> UTF-16 for tests, through the engine's path conversion (so text
// that is not valid UTF-8 round-trips as the engine's paths do).
#pragma once

#include <cstdint>
#include <string>

#include "engine/runtime/path.h"

inline std::u16string U16(const std::string& s) {
  std::uint32_t n = 0;
  EXPECT_EQ(Path_Utf8ToUtf16(s.data(), static_cast<std::uint32_t>(s.size()), nullptr, 0, &n), kOk);
  std::u16string out(n + 1, u'\0');
  EXPECT_EQ(Path_Utf8ToUtf16(s.data(), static_cast<std::uint32_t>(s.size()), out.data(), n + 1, &n),
            kOk);
  out.resize(n);
  return out;
}

inline std::string U8(const std::u16string& s) {
  std::uint32_t n = 0;
  EXPECT_EQ(Path_Utf16ToUtf8(s.data(), static_cast<std::uint32_t>(s.size()), nullptr, 0, &n), kOk);
  std::string out(n + 1, '\0');
  EXPECT_EQ(Path_Utf16ToUtf8(s.data(), static_cast<std::uint32_t>(s.size()), out.data(), n + 1, &n),
            kOk);
  out.resize(n);
  return out;
}
