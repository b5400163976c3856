#include "app/core/find_options.h"

#include <algorithm>
#include <array>
#include <bit>

#include "app/core/strings.h"
#include "engine/formats/text_search.h"
#include "engine/runtime/charset_name.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/text_conv.h"
#include "engine/view/text_view.h"

namespace {

constexpr std::uint32_t kHostUtf16 =
    std::endian::native == std::endian::little ? Mib::kUtf16Le : Mib::kUtf16Be;

}  // namespace

FindRequest FindOptions_Unpack(std::uint8_t searchOptions) noexcept {
  FindRequest r;
  r.matchCase = (searchOptions & 1) != 0;
  r.entireDocument = (searchOptions & 2) != 0;
  const std::uint8_t range = (searchOptions >> 2) & 3;
  r.range = range == 1 ? FindRange::Up : range == 2 ? FindRange::TopToBottom : FindRange::Down;
  return r;
}

std::uint8_t FindOptions_Pack(const FindRequest& request) noexcept {
  return static_cast<std::uint8_t>((request.matchCase ? 1 : 0) | (request.entireDocument ? 2 : 0) |
                                   (static_cast<std::uint8_t>(request.range) << 2));
}

std::uint32_t FindOptions_Flags(std::uint8_t searchOptions, bool again) noexcept {
  const FindRequest r = FindOptions_Unpack(searchOptions);
  std::uint32_t flags = 0;
  if (r.matchCase) flags |= TextSearchFlag::CaseSensitive;
  if (r.entireDocument) flags |= TextSearchFlag::WholeDocument;
  if (r.range == FindRange::Up) flags |= TextSearchFlag::Backward;
  if (r.range == FindRange::TopToBottom) flags |= TextSearchFlag::WholeRange;
  if (again) flags |= TextSearchFlag::FromPosition;
  return flags;
}

std::string FindOptions_PatternBytes(std::u16string_view text, std::uint32_t charset) noexcept {
  if (text.empty() || g_TextConvModule == nullptr) return {};
  text = text.substr(0, kFindTextMaxChars);
  std::array<char, kFindPatternMaxBytes> out{};
  TextConvRequest request{};
  request.flags = kConvStopWhenFull;
  request.sourceMib = kHostUtf16;
  request.source = text.data();
  request.sourceLength = static_cast<std::uint32_t>(text.size() * sizeof(char16_t));
  request.targetMib = charset != 0 ? charset : Mib::kWindows1252;
  request.target = out.data();
  request.targetCapacity = static_cast<std::uint32_t>(out.size());
  const StatusCode s = TextConv_Convert(g_TextConvModule, &request);
  // A text longer than the pattern allows keeps the characters that fit.
  if (IsFailure(s) && s != kTextConvTargetTooSmall) return {};
  return std::string(out.data(), std::min<std::size_t>(request.targetCapacity, out.size()));
}

FindOutcome FindOptions_Outcome(StatusCode result, StatusCode finish, bool again) noexcept {
  FindOutcome o;
  if (result == kViewFindEnded && finish == kNotFound) {
    o.messageId = again ? StringId::NoMoreMatches : StringId::NoMatches;
    return o;
  }
  // A hit, a cancelled search or a failure: the search may go on.
  o.againEnabled = true;
  return o;
}
