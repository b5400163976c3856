// Find in the view: TextViewOps slots 12-14 over the literal find engine.
// Start picks where the search begins from what the reader sees, Step hands
// one engine step on (the host may run it on a worker thread), Finish brings
// the hit into view and keeps it as the found range, drawn in style 1.
#include <algorithm>

#include "engine/formats/text_search.h"
#include "engine/runtime/module_table.h"
#include "engine/view/text_view_internal.h"

namespace {

TextView& ViewOf(EngineObject* view) {
  return *static_cast<TextView*>(view->state);
}

// The search travels through the view's slots as an opaque handle.
EngineObject* AsHandle(TextSearch* search) {
  return reinterpret_cast<EngineObject*>(search);
}
TextSearch* AsSearch(EngineObject* handle) {
  return reinterpret_cast<TextSearch*>(handle);
}

const TextSearchOps* Engine() {
  return g_TextSearchModule ? &OpsOf<TextSearchOps>(g_TextSearchModule) : nullptr;
}

// The end offset of the laid-out lines (the first offset when there are
// none).
std::uint32_t EndOffset(const TextView& v) {
  const LineTable& t = v.table;
  return t.lines != nullptr && t.count > 0 ? t.lines[t.count].start : TextView_FirstOffset(v);
}

}  // namespace

StatusCode TextView_DrawRangeOnLines(TextView& v, void* ctx, std::uint16_t style,
                                     std::uint32_t from, std::uint32_t to) noexcept {
  const LineTable& t = v.table;
  if (from > to) std::swap(from, to);
  if (from == to || t.lines == nullptr || v.handler == nullptr || v.device == nullptr) return kOk;
  const DocHandlerOps& doc = DocOpsOf(v.handler);
  const auto x = static_cast<std::int16_t>(-static_cast<std::int32_t>(v.hScroll));
  std::int32_t bottom = t.extraTop;
  std::int16_t after = 0;
  for (std::uint16_t k = 0; k < t.count; ++k) {
    const LineRecord& line = t.lines[k];
    const LineMetrics& m = line.metrics;
    bottom += TextView_SlotHeight(line, after);
    after = m.extra;
    const std::uint32_t lineEnd = t.lines[k + 1].start;
    if (lineEnd <= from) continue;
    if (line.start >= to) break;
    const std::int32_t slotTop = bottom - (m.top + m.height + m.extra);
    const StatusCode s =
        doc.invertRange(v.handler, v.device, ctx, style, x,
                        static_cast<std::int16_t>(std::clamp<std::int32_t>(slotTop, -32768, 32767)),
                        &m, line.start, 0, 0, std::max(from, line.start), std::min(to, lineEnd));
    if (IsFailure(s)) return s;
  }
  return kOk;
}

StatusCode TextView_DrawRange(TextView& v, std::uint16_t style, std::uint32_t from,
                              std::uint32_t to) noexcept {
  if (from == to || v.device == nullptr || v.handler == nullptr || v.table.lines == nullptr) {
    return kOk;
  }
  TextViewDrawScope draw(v.device, nullptr);
  if (IsFailure(draw.status())) return draw.status();
  return draw.Finish(TextView_DrawRangeOnLines(v, draw.ctx(), style, from, to));
}

StatusCode TextView_DrawFoundRange(TextView& v, void* ctx) noexcept {
  if (v.foundStart == v.foundEnd) return kOk;
  const LineTable& t = v.table;
  if (t.lines == nullptr || t.count == 0 || v.foundEnd <= t.lines[0].start ||
      v.foundStart >= t.lines[t.count].start) {
    v.foundEnd = v.foundStart;  // scrolled out of sight: dropped
    return kOk;
  }
  return TextView_DrawRangeOnLines(v, ctx, 1, v.foundStart, v.foundEnd);
}

std::uint32_t TextView_FindStartPosition(const TextView& v, bool backward) noexcept {
  if (v.foundStart == v.foundEnd) return backward ? EndOffset(v) : TextView_FirstOffset(v);
  return backward ? v.foundStart : v.foundEnd;
}

bool TextView_HitOnScreen(const TextView& v, std::uint32_t start, std::uint32_t end) noexcept {
  const LineTable& t = v.table;
  if (t.lines == nullptr || t.count == 0) return false;
  // Hit ends are exclusive: a hit ending at a line's start lies wholly above it.
  if (start < t.lines[0].start || end > t.lines[t.count].start) return false;
  // Not in a first line cut at the top.
  if (t.extraTop < 0 && (t.count < 2 || start < t.lines[1].start)) return false;
  // Not reaching into a last line that may be cut at the bottom.
  return end <= t.lines[t.count - 1].start || TextView_GetOverflowHeight(v) == 0;
}

StatusCode TextView_FindStart(EngineObject* view, const std::uint8_t* pattern, std::uint32_t length,
                              std::uint32_t flags, EngineObject** search) noexcept {
  if (search == nullptr) return kNullOutPointer;
  TextView& v = ViewOf(view);
  const TextSearchOps* engine = Engine();
  if (engine == nullptr) return kNotSupported;
  if (v.handler == nullptr) return kViewNoContent;
  TextView_HideFocus(v);
  const std::uint16_t caller = static_cast<std::uint16_t>(flags & TextSearchFlag::CallerMask);
  const std::uint32_t position =
      TextView_FindStartPosition(v, (caller & TextSearchFlag::Backward) != 0);

  // The old marks go: a selection in selection mode, else the found range.
  StatusCode s = kOk;
  if (v.mode == TextViewMode::Selection && v.selAnchor != v.selCaret) {
    s = TextView_DrawRange(v, 0, v.selAnchor, v.selCaret);
    v.selCaret = v.selAnchor;
  } else if (v.foundStart != v.foundEnd) {
    s = TextView_DrawRange(v, 0, v.foundStart, v.foundEnd);
    v.foundEnd = v.foundStart;
  }
  if (IsFailure(s)) return s;

  TextSearch* created = nullptr;
  s = engine->start(g_TextSearchModule, pattern, length, caller, v.handler, v.currentSection,
                    position, &created);
  if (s != kOk) return s;
  *search = AsHandle(created);
  return kOk;
}

StatusCode TextView_FindStep(EngineObject*, EngineObject* search, std::int16_t* percent) noexcept {
  const TextSearchOps* engine = Engine();
  if (engine == nullptr) return kNotSupported;
  const StatusCode s = engine->step(g_TextSearchModule, AsSearch(search), percent, nullptr);
  return s == kTextSearchDone ? kViewFindEnded : s;
}

StatusCode TextView_FindFinish(EngineObject* view, EngineObject* search) noexcept {
  const TextSearchOps* engine = Engine();
  if (engine == nullptr) return kNotSupported;
  TextView& v = ViewOf(view);
  std::uint32_t start = 0, end = 0;
  StatusCode s = engine->finish(g_TextSearchModule, AsSearch(search), &start, &end);
  if (IsFailure(s)) return s;
  if (s != kOk || start == end) return kNotFound;

  if (!TextView_HitOnScreen(v, start, end)) {
    TextView_PushVisited(v, TextView_FirstOffset(v));
    s = TextView_GoToOffset(v, start, true);
    if (IsFailure(s)) return s;
  }
  v.foundStart = start;
  v.foundEnd = end;
  s = TextView_DrawRange(v, 1, start, end);
  return IsFailure(s) ? s : kOk;
}
