// The find engine over arbitrary text in arbitrary charsets, through a
// handler serving windows of 1-64 bytes over one to three sections, with
// random flags, positions and patterns. Every search must end within its
// step bound, every hit must lie in the range and match the pattern (with
// ASCII folding unless case-sensitive), and in single-byte charsets a forward
// search must find exactly the first occurrence a plain scan finds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/formats/doc_handler.h"
#include "engine/formats/text_search.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/str.h"
#include "engine/startup/engine_start.h"

namespace {

constexpr std::uint16_t kCharsets[] = {2252, 17, 18, 38, 106, 113, 114, 1013, 1014, 1015, 2026};

struct Doc {
  const std::uint8_t* text;
  std::uint32_t size;
  std::uint32_t window;
  std::uint32_t cuts[2];  // section boundaries
  std::uint32_t sectionCount;
  std::uint16_t charset;
  std::vector<std::uint8_t> current;

  std::uint32_t Start(std::uint32_t k) const { return k == 0 ? 0 : cuts[k - 1]; }
  std::uint32_t End(std::uint32_t k) const { return k + 1 == sectionCount ? size : cuts[k]; }
};

Doc& Of(EngineObject* h) {
  return *static_cast<Doc*>(h->state);
}

StatusCode SectionInfo(EngineObject* h, std::uint16_t*, std::uint16_t* count) noexcept {
  if (count) *count = static_cast<std::uint16_t>(Of(h).sectionCount);
  return kOk;
}
StatusCode SectionRange(EngineObject* h, std::int16_t k, std::uint32_t* start,
                        std::uint32_t* end) noexcept {
  const Doc& d = Of(h);
  if (k < 0 || static_cast<std::uint32_t>(k) >= d.sectionCount) return kNoMore;
  *start = d.Start(k);
  *end = d.End(k);
  return kOk;
}
StatusCode FindSection(EngineObject* h, std::uint32_t position, std::int16_t* section,
                       std::uint32_t* start, std::uint32_t* end) noexcept {
  const Doc& d = Of(h);
  for (std::uint32_t k = 0; k < d.sectionCount; ++k) {
    if (position >= d.Start(k) && position < d.End(k)) {
      if (section) *section = static_cast<std::int16_t>(k);
      if (start) *start = d.Start(k);
      if (end) *end = d.End(k);
      return kOk;
    }
  }
  return kNoMore;
}
StatusCode Serve(Doc& d, std::uint32_t from, std::uint32_t n, const std::uint8_t** text,
                 std::uint32_t* length) {
  d.current.assign(d.text + from, d.text + from + n);  // a fresh copy per access
  *text = n ? d.current.data() : nullptr;
  *length = n;
  return kOk;
}
StatusCode GetText(EngineObject* h, std::uint32_t position, const std::uint8_t** text,
                   std::uint32_t* length) noexcept {
  Doc& d = Of(h);
  const std::uint32_t n = position >= d.size ? 0 : std::min({*length, d.window, d.size - position});
  return Serve(d, position, n, text, length);
}
StatusCode GetTextBefore(EngineObject* h, std::uint32_t position, const std::uint8_t** text,
                         std::uint32_t* length) noexcept {
  Doc& d = Of(h);
  const std::uint32_t n =
      position == 0 || position > d.size ? 0 : std::min({*length, d.window, position});
  return Serve(d, position - n, n, text, length);
}
StatusCode Control(EngineObject* h, std::uint16_t code, std::uint32_t, void* record) noexcept {
  if (code != DocControl::GetCharset) return kNotSupported;
  *static_cast<std::uint16_t*>(record) = Of(h).charset;
  return kOk;
}

const DocHandlerOps kOps = [] {
  DocHandlerOps ops{};
  ops.word0 = Core_NotImplemented;
  ops.getSectionInfo = SectionInfo;
  ops.getSectionRange = SectionRange;
  ops.findSection = FindSection;
  ops.getText = GetText;
  ops.getTextBefore = GetTextBefore;
  ops.control = Control;
  ops.end = Core_NotImplemented;
  return ops;
}();

bool Same(std::uint8_t a, std::uint8_t b, bool fold) {
  return fold ? Str_FoldByte(a) == Str_FoldByte(b) : a == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = ((void)Core_RegisterAllModules(), true);
  (void)registered;
  if (size < 8) return 0;
  Doc doc{};
  doc.charset = kCharsets[data[0] % std::size(kCharsets)];
  const auto flags = static_cast<std::uint16_t>(data[1] & 0x1F);
  doc.window = 1 + data[2] % 64;
  const std::uint32_t patternLength = 1 + data[3] % 8;
  data += 4;
  size -= 4;
  if (size < patternLength + 2) return 0;
  const std::uint8_t* pattern = data;
  const std::uint32_t sectionPick = data[patternLength];
  const std::uint32_t positionPick = data[patternLength + 1];
  doc.text = data + patternLength + 2;
  doc.size = static_cast<std::uint32_t>(size - patternLength - 2);
  doc.sectionCount = 1 + sectionPick % 3;
  doc.cuts[0] = doc.size / 3;
  doc.cuts[1] = 2 * doc.size / 3;
  EngineObject handler{&doc, &kOps};

  const std::uint32_t section = sectionPick % doc.sectionCount;
  const std::uint32_t position = doc.size ? positionPick * doc.size / 255 : 0;
  TextSearch* search = nullptr;
  if (TextSearch_Start(g_TextSearchModule, pattern, patternLength, flags, &handler, section,
                       position, &search) != kOk) {
    __builtin_trap();
  }
  const std::uint32_t rangeStart = search->rangeStart, rangeEnd = search->rangeEnd;
  StatusCode s = kOk;
  std::uint32_t steps = 0;
  while ((s = TextSearch_Step(g_TextSearchModule, search, nullptr, nullptr)) == kOk) {
    if (++steps > doc.size / kTextSearchStepBytes + 3) __builtin_trap();
  }
  if (s != kTextSearchDone) __builtin_trap();
  std::uint32_t start = 0, end = 0;
  s = TextSearch_Finish(g_TextSearchModule, search, &start, &end);
  const bool fold = (flags & TextSearchFlag::CaseSensitive) == 0;
  if (s == kOk) {
    if (end != start + patternLength || start < rangeStart || end > rangeEnd) __builtin_trap();
    for (std::uint32_t k = 0; k < patternLength; ++k) {
      if (!Same(doc.text[start + k], pattern[k], fold)) __builtin_trap();
    }
  } else if (s != kNotFound) {
    __builtin_trap();
  }
  // Single-byte text, forward from the position: the first occurrence.
  if (doc.charset == 2252 &&
      (flags & (TextSearchFlag::Backward | TextSearchFlag::WholeRange)) == 0) {
    const std::uint32_t from = std::clamp(position, rangeStart, rangeEnd);
    std::uint32_t want = 0xFFFFFFFFu;
    for (std::uint32_t at = from; at + patternLength <= rangeEnd && want == 0xFFFFFFFFu; ++at) {
      bool match = true;
      for (std::uint32_t k = 0; match && k < patternLength; ++k)
        match = Same(doc.text[at + k], pattern[k], fold);
      if (match) want = at;
    }
    if ((s == kOk) != (want != 0xFFFFFFFFu) || (s == kOk && start != want)) __builtin_trap();
  }
  return 0;
}
