#include "app/core/bookmark_rules.h"

#include <algorithm>
#include <bit>
#include <vector>

#include "engine/runtime/charset_name.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/text_conv.h"

namespace {

constexpr int kListOfKind[BookmarkKind::kCount] = {0, 2, 1};
constexpr std::uint16_t kKindBits = 0x0003;
constexpr std::uint32_t kHostUtf16 =
    std::endian::native == std::endian::little ? Mib::kUtf16Le : Mib::kUtf16Be;

EngineObject* Converter() {
  return g_TextConvModule != nullptr ? g_TextConvModule : &TextConvModule;
}

bool IsHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}

}  // namespace

int Bookmark_ListOfKind(int kind) noexcept {
  return kind >= 0 && kind < BookmarkKind::kCount ? kListOfKind[kind] : -1;
}

int Bookmark_KindOfFlags(std::uint16_t flags) noexcept {
  const int kind = flags & kKindBits;
  return kind < BookmarkKind::kCount ? kind : BookmarkKind::kDocument;
}

std::uint16_t Bookmark_FlagsWithKind(std::uint16_t flags, int kind) noexcept {
  if (kind < 0 || kind >= BookmarkKind::kCount) return flags;
  return static_cast<std::uint16_t>((flags & ~kKindBits) | kind);
}

std::uint16_t Bookmark_UsableNameLength(StatusCode status, std::uint16_t answer) noexcept {
  if (IsFailure(status)) return kBookmarkFallbackNameLength;
  return answer == 0 || answer > kBookmarkNameBytes ? kBookmarkNameBytes : answer;
}

int Bookmark_MoveTarget(int row, int count, bool up) noexcept {
  if (row < 0 || row >= count) return -1;
  const int target = up ? row - 1 : row + 1;
  return target >= 0 && target < count ? target : -1;
}

BookmarkMove Bookmark_MoveOperation(int row, int count, bool up) noexcept {
  const int target = Bookmark_MoveTarget(row, count, up);
  if (target < 0) return {};
  const int lower = std::max(row, target);
  return {lower, lower - 1};
}

std::uint32_t Bookmark_NameCharset(std::uint32_t documentMib) noexcept {
  std::uint32_t classCode = 0, canonical = 0;
  if (documentMib == 0 ||
      IsFailure(TextConv_CanonicalCharset(Converter(), documentMib, &classCode, &canonical))) {
    return Mib::kWindows1252;
  }
  return classCode == CharsetClass::kUtf16 ? Mib::kUtf8 : documentMib;
}

std::string Bookmark_EncodeName(std::u16string_view name, std::uint32_t documentMib,
                                std::uint32_t maxBytes) {
  std::string out(maxBytes, '\0');
  if (name.empty() || maxBytes == 0) return {};
  TextConvRequest request{};
  request.flags = kConvStopWhenFull;  // whole characters only
  request.sourceMib = kHostUtf16;
  request.source = name.data();
  request.sourceLength = static_cast<std::uint32_t>(name.size() * sizeof(char16_t));
  request.targetMib = Bookmark_NameCharset(documentMib);
  request.target = out.data();
  request.targetCapacity = maxBytes;
  const StatusCode status = TextConv_Convert(Converter(), &request);
  if (IsFailure(status) && status != kTextConvTargetTooSmall) return {};
  out.resize(std::min(request.targetCapacity, maxBytes));
  for (char& c : out) {
    if (c == '\0') c = '?';
  }
  return out;
}

std::u16string Bookmark_DecodeName(std::string_view bytes, std::uint32_t documentMib,
                                   std::uint32_t maxUnits) {
  if (const std::size_t nul = bytes.find('\0'); nul != std::string_view::npos)
    bytes = bytes.substr(0, nul);
  if (bytes.empty() || maxUnits == 0) return {};
  TextConvRequest request{};
  request.sourceMib = Bookmark_NameCharset(documentMib);
  request.source = bytes.data();
  request.sourceLength = static_cast<std::uint32_t>(bytes.size());
  request.targetMib = kHostUtf16;
  request.target = nullptr;  // measure first
  if (IsFailure(TextConv_Convert(Converter(), &request))) return {};
  std::vector<char16_t> wide(request.targetCapacity / sizeof(char16_t) + 1);
  request = TextConvRequest{};
  request.sourceMib = Bookmark_NameCharset(documentMib);
  request.source = bytes.data();
  request.sourceLength = static_cast<std::uint32_t>(bytes.size());
  request.targetMib = kHostUtf16;
  request.target = wide.data();
  request.targetCapacity = static_cast<std::uint32_t>(wide.size() * sizeof(char16_t));
  if (IsFailure(TextConv_Convert(Converter(), &request))) return {};
  // A character that does not decode comes out as U+FFFD.
  std::u16string out(wide.data(), request.targetCapacity / sizeof(char16_t));
  if (out.size() > maxUnits) {
    std::size_t n = maxUnits;
    if (IsHighSurrogate(out[n - 1])) --n;
    out.resize(n);
  }
  return out;
}
