#include "engine/formats/doc_charset.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/formats/doc_handler.h"
#include "engine/runtime/charset_name.h"
#include "engine/runtime/text_conv.h"

namespace {

enum class Utf8Reading { kClean, kReplaced, kUnreadable };

// Reads the first `limit` bytes of the text as UTF-8, window by window; a
// character cut by a window's end is read whole with the next window.
Utf8Reading ReadAsUtf8(EngineObject* handler, std::uint32_t length, std::uint32_t limit) {
  constexpr std::uint32_t kWindow = 4096;
  constexpr std::uint32_t kCarryMax = 8;  // a cut-off UTF-8 form keeps at most 5 bytes
  std::array<std::uint8_t, kWindow + kCarryMax> joined;
  // Converting (rather than only measuring) takes the converter's fast
  // paths; every byte gives at most one UTF-16 unit.
  std::array<std::uint8_t, 2 * (kWindow + kCarryMax)> units;
  std::uint32_t carry = 0;
  std::uint32_t position = 0;
  const std::uint32_t end = std::min(length, limit);
  while (position < end) {
    const std::uint8_t* text = nullptr;
    std::uint32_t n = std::min(kWindow, end - position);
    if (IsFailure(DocOpsOf(handler).getText(handler, position, &text, &n)) || text == nullptr ||
        n == 0)
      return Utf8Reading::kUnreadable;
    n = std::min(n, kWindow);
    std::memcpy(joined.data() + carry, text, n);
    position += n;
    // Only the true end of the text may cut a character off; the end of
    // the bytes checked leaves it unjudged.
    const bool textEnds = position >= length;
    TextConvRequest r{};
    r.flags = textEnds ? 0 : kConvStopBeforeIncomplete;
    r.sourceMib = Mib::kUtf8;
    r.source = joined.data();
    r.sourceLength = carry + n;
    r.targetMib = Mib::kUtf16Le;
    r.target = units.data();
    r.targetCapacity = static_cast<std::uint32_t>(units.size());
    if (IsFailure(TextConv_Convert(nullptr, &r))) return Utf8Reading::kUnreadable;
    if (r.replaced != 0) return Utf8Reading::kReplaced;
    carry = r.sourceLength - r.consumed;
    if (carry > kCarryMax) return Utf8Reading::kReplaced;
    std::memmove(joined.data(), joined.data() + r.consumed, carry);
  }
  return Utf8Reading::kClean;
}

bool StartsWithUtf8Mark(EngineObject* handler, std::uint32_t length) {
  if (length < 3) return false;
  const std::uint8_t* text = nullptr;
  std::uint32_t n = 3;
  return !IsFailure(DocOpsOf(handler).getText(handler, 0, &text, &n)) && text != nullptr &&
         n == 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF;
}

}  // namespace

std::uint32_t DocText_DefaultCharset(EngineObject* handler, std::uint32_t defaultMib) noexcept {
  std::uint32_t length = 0;
  if (handler == nullptr || IsFailure(DocOpsOf(handler).getTextLength(handler, &length)))
    return defaultMib;
  if (StartsWithUtf8Mark(handler, length)) return Mib::kUtf8;
  if (defaultMib != Mib::kUtf8) return defaultMib;
  return ReadAsUtf8(handler, length, kDocCharsetCheckBytes) == Utf8Reading::kReplaced
             ? Mib::kWindows1252
             : defaultMib;
}
