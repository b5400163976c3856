#include "engine/formats/text_doc.h"

#include <algorithm>
#include <cstring>

#include "engine/formats/flow_text.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/stream.h"

namespace {

constexpr std::uint32_t kNoHalf = 0xFFFFFFFFu;  // a window half holding nothing

struct TextDocState {
  std::uint32_t length;
  const std::uint8_t* text;  // the caller's text, or null
  EngineObject* stream;      // the attached stream, or null
  std::uint32_t windowStart[2];
  std::uint32_t nextHalf;
  DocHandlerSettings settings;
  std::uint8_t* window;  // 2 x 4096 bytes, owned; kept until Destroy
  // Read-ahead for sequential misses: kTextDocReadAhead bytes, owned, made
  // on the first such miss and kept until Destroy; it holds the stream range
  // [aheadStart, aheadStart + aheadLength), NUL already shown as '?'.
  std::uint8_t* ahead;
  std::uint32_t aheadStart;
  std::uint32_t aheadLength;  // 0: holds nothing
};

using TextDocInstance = EngineInstance<TextDocState>;

TextDocState* StateOf(EngineObject* h) {
  return static_cast<TextDocState*>(h->state);
}

void Detach(TextDocState& s) {
  s.length = 0;
  s.text = nullptr;
  s.stream = nullptr;
  s.windowStart[0] = s.windowStart[1] = kNoHalf;
  s.nextHalf = 0;
  s.aheadLength = 0;
}

// Reads n bytes of the stream at offset into dst, NUL shown as '?'. A short
// read is a failure: the stream no longer holds what its size promised.
StatusCode ReadBlock(EngineObject* stream, std::uint32_t offset, std::uint8_t* dst,
                     std::uint32_t n) {
  std::uint32_t got = 0;
  const StatusCode st = StreamOf(stream).readAt(stream, offset, dst, n, &got);
  if (IsFailure(st)) return st;
  if (got != n) return kFailed;
  // Written without a branch so the compiler turns it into vector selects;
  // a block rarely holds a NUL, but one full of them costs no more.
  for (std::uint32_t i = 0; i < n; ++i)
    dst[i] = dst[i] == 0 ? std::uint8_t{'?'} : dst[i];
  return kOk;
}

bool InHalf(std::uint32_t start, std::uint32_t p) {
  return start != kNoHalf && p >= start && p - start < kTextDocHalf;
}
bool EndsInHalf(std::uint32_t start, std::uint32_t p) {
  return start != kNoHalf && p > start && p - start <= kTextDocHalf;
}

// When a miss takes the block next to the one the other half holds, the
// reader is walking the text (a find, a pagination, a copy): the read-ahead
// is filled with the blocks that follow in that direction, so a walk costs
// one stream read per kTextDocReadAhead bytes rather than per 4096. Any
// other miss, or a read-ahead that cannot be had or read, reads the block
// alone as before.
void ReadAhead(TextDocState& s, std::uint32_t start, std::uint32_t other) {
  const bool forward = start >= kTextDocHalf && start - kTextDocHalf == other;
  const bool backward = other != kNoHalf && other >= kTextDocHalf && other - kTextDocHalf == start;
  if (!forward && !backward) return;
  if (s.ahead == nullptr) {
    void* block = nullptr;
    if (IsFailure(Engine_Alloc(kTextDocReadAhead, &block))) return;
    s.ahead = static_cast<std::uint8_t*>(block);
  }
  // Backward: the range that ends with the block; both ends stay aligned.
  std::uint32_t from = start;
  if (backward)
    from = start + kTextDocHalf > kTextDocReadAhead ? start + kTextDocHalf - kTextDocReadAhead : 0;
  const std::uint32_t n = std::min(s.length - from, kTextDocReadAhead);
  s.aheadLength = 0;
  if (IsFailure(ReadBlock(s.stream, from, s.ahead, n))) return;
  s.aheadStart = from;
  s.aheadLength = n;
}

bool InAhead(const TextDocState& s, std::uint32_t start, std::uint32_t n) {
  return s.aheadLength != 0 && start >= s.aheadStart && start - s.aheadStart <= s.aheadLength &&
         s.aheadLength - (start - s.aheadStart) >= n;
}

// Makes a half hold the aligned block containing `at`; its index.
StatusCode Refill(TextDocState& s, std::uint32_t at, std::uint32_t* half) {
  const std::uint32_t i = s.nextHalf & 1;
  const std::uint32_t start = at - at % kTextDocHalf;
  const std::uint32_t n = std::min(s.length - start, kTextDocHalf);
  s.windowStart[i] = kNoHalf;  // its contents are not trusted until the read succeeds
  if (!InAhead(s, start, n)) ReadAhead(s, start, s.windowStart[1 - i]);
  std::uint8_t* const dst = s.window + i * kTextDocHalf;
  if (InAhead(s, start, n)) {
    std::memcpy(dst, s.ahead + (start - s.aheadStart), n);
  } else if (IsFailure(ReadBlock(s.stream, start, dst, n))) {
    return kFailed;
  }
  s.windowStart[i] = start;
  *half = i;
  return kOk;
}

StatusCode AttachStream(TextDocState& s, EngineObject* stream) {
  if (stream == nullptr) return kBadArgument;
  Detach(s);
  std::uint32_t size = 0;
  StatusCode st = StreamOf(stream).getSize(stream, &size);
  if (IsFailure(st)) return st;
  if (s.window == nullptr) {
    void* block = nullptr;
    if (IsFailure(st = Engine_Alloc(2 * kTextDocHalf, &block))) return st;
    s.window = static_cast<std::uint8_t*>(block);
  }
  if (IsFailure(st = ReadBlock(stream, 0, s.window, std::min(size, 2 * kTextDocHalf)))) return st;
  s.length = size;
  s.stream = stream;
  s.windowStart[0] = 0;
  s.windowStart[1] = kTextDocHalf;
  s.nextHalf = 0;
  return kOk;
}

constexpr DocHandlerOps kTextDocOps = MakeDocHandlerOps({
    .create = TextDoc_Create,
    .destroy = TextDoc_Destroy,
    .command = TextDoc_Command,
    .getSectionRange = TextDoc_GetSectionRange,
    .findSection = TextDoc_FindSection,
    .getTextLength = TextDoc_GetTextLength,
    .getText = TextDoc_GetText,
    .getTextBefore = TextDoc_GetTextBefore,
    .getCharStyle = TextDoc_GetCharStyle,
    .control = TextDoc_Control,
});

}  // namespace

EngineObject TextDocModule = {nullptr, &kTextDocOps};

StatusCode TextDoc_Create(EngineObject*, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  void* block = nullptr;
  const StatusCode st = Engine_Alloc(sizeof(TextDocInstance), &block);
  if (IsFailure(st)) return kOutOfMemory;
  std::memset(block, 0, sizeof(TextDocInstance));
  auto* instance = static_cast<TextDocInstance*>(block);
  instance->header = EngineObject{&instance->body, &kTextDocOps};
  Detach(instance->body);
  DocHandler_ResetSettings(&instance->body.settings);
  *out = &instance->header;
  return kOk;
}

StatusCode TextDoc_Destroy(EngineObject* h) noexcept {
  TextDocState* s = StateOf(h);
  if (s != nullptr) {
    Engine_Free(s->window);
    s->window = nullptr;
    Engine_Free(s->ahead);
    s->ahead = nullptr;
    Detach(*s);
  }
  Engine_Free(h);
  return kOk;
}

StatusCode TextDoc_Command(EngineObject* h, std::uint32_t code, void* object,
                           std::uint32_t value) noexcept {
  code &= 0xFFFFu;
  if (code == DocCommand::ProbeHeader) return kDocProbeTextHeader;
  if (code == DocCommand::ProbeNone || (code >= DocCommand::ProbeStream && code <= 31))
    return kDocProbeText;
  TextDocState* s = StateOf(h);
  if (s == nullptr) return kMalformed;  // an instance command sent to the class
  switch (code) {
    case DocCommand::Close:
      Detach(*s);
      return kOk;
    case DocCommand::AttachText:
      if (object == nullptr && value != 0) return kBadArgument;
      Detach(*s);
      s->text = static_cast<const std::uint8_t*>(object);
      s->length = value;
      return kOk;
    case DocCommand::AttachStream:
      return AttachStream(*s, static_cast<EngineObject*>(object));
    default:  // including 49 and 50, which no caller sends
      return kMalformed;
  }
}

StatusCode TextDoc_GetSectionRange(EngineObject* h, std::int16_t section, std::uint32_t* start,
                                   std::uint32_t* end) noexcept {
  if (section != 0) return kNoMore;
  if (start) *start = 0;
  if (end) *end = StateOf(h)->length;
  return kOk;
}

StatusCode TextDoc_FindSection(EngineObject* h, std::uint32_t position, std::int16_t* section,
                               std::uint32_t* start, std::uint32_t* end) noexcept {
  const TextDocState* s = StateOf(h);
  if (position >= s->length) return kNoMore;
  if (section) *section = 0;
  if (start) *start = 0;
  if (end) *end = s->length;
  return kOk;
}

StatusCode TextDoc_GetTextLength(EngineObject* h, std::uint32_t* length) noexcept {
  if (length == nullptr) return kNullOutPointer;
  *length = StateOf(h)->length;
  return kOk;
}

StatusCode TextDoc_GetText(EngineObject* h, std::uint32_t p, const std::uint8_t** text,
                           std::uint32_t* length) noexcept {
  if (text == nullptr || length == nullptr) return kNullOutPointer;
  TextDocState& s = *StateOf(h);
  if (p >= s.length || (s.text == nullptr && s.stream == nullptr)) {
    *text = nullptr;
    *length = 0;
    return kOk;
  }
  std::uint32_t n = std::min(*length, s.length - p);
  if (s.stream == nullptr) {
    *text = s.text + p;
    *length = n;
    return kOk;
  }
  std::uint32_t i = InHalf(s.windowStart[0], p) ? 0 : InHalf(s.windowStart[1], p) ? 1 : 2;
  if (i == 2 && IsFailure(Refill(s, p, &i))) {
    *text = nullptr;
    *length = 0;
    return kFailed;
  }
  s.nextHalf = 1 - i;
  n = std::min(n, s.windowStart[i] + kTextDocHalf - p);
  *text = s.window + i * kTextDocHalf + (p - s.windowStart[i]);
  *length = n;
  return kOk;
}

StatusCode TextDoc_GetTextBefore(EngineObject* h, std::uint32_t p, const std::uint8_t** text,
                                 std::uint32_t* length) noexcept {
  if (text == nullptr || length == nullptr) return kNullOutPointer;
  TextDocState& s = *StateOf(h);
  if (p == 0 || p > s.length || (s.text == nullptr && s.stream == nullptr)) {
    *text = nullptr;
    *length = 0;
    return kOk;
  }
  std::uint32_t n = std::min(*length, p);
  if (s.stream == nullptr) {
    *text = s.text + p - n;
    *length = n;
    return kOk;
  }
  std::uint32_t i = EndsInHalf(s.windowStart[0], p) ? 0 : EndsInHalf(s.windowStart[1], p) ? 1 : 2;
  if (i == 2 && IsFailure(Refill(s, p - 1, &i))) {
    *text = nullptr;
    *length = 0;
    return kFailed;
  }
  s.nextHalf = 1 - i;
  n = std::min(n, p - s.windowStart[i]);
  *text = s.window + i * kTextDocHalf + (p - s.windowStart[i]) - n;
  *length = n;
  return kOk;
}

StatusCode TextDoc_GetCharStyle(EngineObject* h, EngineObject*, std::uint32_t, DeviceFontSpec* font,
                                CharFormat* format, std::uint32_t* runEnd) noexcept {
  DocHandler_InitCharStyle(font, format);
  if (format != nullptr && (StateOf(h)->settings.flags & DocFlag::RightAlign))
    format->formatFlags = static_cast<std::uint16_t>((format->formatFlags & ~DocFormat::AlignMask) |
                                                     DocFormat::AlignRight);
  if (runEnd) *runEnd = kRunToEnd;
  return kOk;
}

StatusCode TextDoc_Control(EngineObject* h, std::uint16_t code, std::uint32_t value,
                           void* record) noexcept {
  return DocHandler_Control(&StateOf(h)->settings, code, value, record);
}
