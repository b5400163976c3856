#include "engine/utilities/scrambler.h"

#include <cstring>

#include "engine/runtime/allocator.h"

namespace {

constexpr char kHexUpper[] = "0123456789ABCDEF";

// 0-15 for 0-9 and A-F, -1 for anything else (lower case included).
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr ScramblerOps kScramblerOps = {
    Core_NotImplemented,
    Scrambler_Encode,
    Scrambler_Decode,
    Core_NotImplemented,
};

}  // namespace

EngineObject ScramblerModule = {nullptr, &kScramblerOps};

StatusCode Scrambler_Encode(EngineObject*, const char* text, char** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (text == nullptr || text[0] == '\0') return kFailed;
  const std::size_t n = std::strlen(text);
  if (n > (0xFFFFFFEFu - 3) / 2) return kOutOfMemory;
  char* result = nullptr;
  void* block = nullptr;
  const StatusCode s = Engine_Alloc(static_cast<std::uint32_t>(2 * n + 3), &block);
  if (IsFailure(s)) return s;
  result = static_cast<char*>(block);
  std::uint32_t k = kScramblerKey;
  char* p = result;
  *p++ = '[';
  for (std::size_t i = 0; i < n; ++i) {
    const auto byte = static_cast<std::uint8_t>(text[i]);
    const std::uint32_t h = byte >> 4;
    const std::uint32_t l = byte & 15u;
    const std::uint32_t d1 = (k + l) & 15u;
    const std::uint32_t d2 = (l + 2 * k + h) & 15u;
    *p++ = kHexUpper[d1];
    *p++ = kHexUpper[d2];
    k = (k + d1 + d2) & 15u;
  }
  *p++ = ']';
  *p = '\0';
  *out = result;
  return kOk;
}

StatusCode Scrambler_Decode(EngineObject*, const char* text, char** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (text == nullptr) return kFailed;
  const char* open = std::strchr(text, '[');
  if (open == nullptr || open[1] == '\0') return kFailed;
  const char* digits = open + 1;
  std::size_t count = 0;
  for (; digits[count] != ']'; ++count) {
    if (HexValue(digits[count]) < 0) return kFailed;  // also the terminating NUL
  }
  if (count % 2 != 0 || count / 2 + 1 > 0xFFFFFFEFu) return kFailed;
  void* block = nullptr;
  const StatusCode s = Engine_Alloc(static_cast<std::uint32_t>(count / 2 + 1), &block);
  if (IsFailure(s)) return s;
  auto* result = static_cast<char*>(block);
  std::uint32_t k = kScramblerKey;
  for (std::size_t i = 0; i < count; i += 2) {
    const auto d1 = static_cast<std::uint32_t>(HexValue(digits[i]));
    const auto d2 = static_cast<std::uint32_t>(HexValue(digits[i + 1]));
    const std::uint32_t l = (d1 - k) & 15u;
    const std::uint32_t h = (d2 - d1 - k) & 15u;
    result[i / 2] = static_cast<char>(h << 4 | l);
    k = (d1 + k + d2) & 15u;
  }
  result[count / 2] = '\0';
  *out = result;
  return kOk;
}
