// Pointer events, selection and copy: presses and releases on links, notes
// and drop-down lists, drag scrolling, the text selection (drawn by
// inverting only what changes), its auto-scroll while dragged past the
// window's edges, and copying the selection, the screen, the section or the
// whole document through the handler's copy.
#include <algorithm>
#include <climits>

#include "engine/view/text_view_internal.h"

namespace {

std::int16_t Clamp16(std::int64_t value) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(value, INT16_MIN, INT16_MAX));
}

const DocHandlerOps& Doc(const TextView& v) {
  return DocOpsOf(v.handler);
}

bool Ready(const TextView& v) {
  return v.handler != nullptr && v.device != nullptr && v.table.lines != nullptr;
}

// Answers of SelectionCommand 13 ("has a selection?"): 7 when there is one.
constexpr StatusCode kSelectionPresent = kNo;
constexpr StatusCode kSelectionAbsent = kYes;

// What lies under a point of the view.
struct Hit {
  bool onLine = false;  // a laid-out line lies under the point
  std::uint16_t line = 0;
  std::int32_t top = 0;              // the line's slot top
  std::uint32_t start = 0, end = 0;  // the unit under the point (equal: none)
  HitBox box{};
};

// Hit test inside a drawing: the line at y, then the handler's hit test on
// it. Below the last line the point maps to the end offset.
StatusCode HitAt(TextView& v, DeviceContext ctx, std::int16_t x, std::int16_t y, Hit* hit) {
  *hit = Hit{};
  const LineTable& t = v.table;
  hit->start = hit->end = TextView_EndOffset(v);
  if (t.lines == nullptr || t.count == 0) return kOk;
  std::int32_t top = 0;
  const std::uint16_t k = TextView_FindLineAtY(v, y, &top);
  if (k >= t.count) return kOk;
  const LineRecord& line = t.lines[k];
  std::uint32_t a = 0, b = 0;
  const StatusCode s = Doc(v).hitTest(
      v.handler, v.device, ctx, Clamp16(x + std::int32_t{v.hScroll} + line.xShift),
      Clamp16(y - top), &line.metrics, line.start, t.lines[k + 1].start, &hit->box, &a, &b);
  if (IsFailure(s)) return s;
  hit->onLine = true;
  hit->line = k;
  hit->top = top;
  hit->start = a;
  hit->end = std::max(a, b);
  return kOk;
}

// Inverts what changes when the caret moves from c to c2 (anchor a): the two
// ranges share the anchor, so their difference is at most two pieces.
StatusCode DrawCaretMove(TextView& v, DeviceContext ctx, std::uint32_t c, std::uint32_t c2) {
  const std::uint32_t a = v.selAnchor;
  const std::uint32_t oldFrom = std::min(a, c), oldTo = std::max(a, c);
  const std::uint32_t newFrom = std::min(a, c2), newTo = std::max(a, c2);
  const std::uint32_t pieces[2][2] = {{std::min(oldFrom, newFrom), std::max(oldFrom, newFrom)},
                                      {std::min(oldTo, newTo), std::max(oldTo, newTo)}};
  for (const auto& p : pieces) {
    if (p[0] == p[1]) continue;
    // Inside the new range the piece joins the selection, else it leaves it.
    const std::uint16_t style = p[0] >= newFrom && p[1] <= newTo ? 1 : 0;
    const StatusCode s = TextView_DrawRangeOnLines(v, ctx, style, p[0], p[1]);
    if (IsFailure(s)) return s;
  }
  return kOk;
}

// The line's text box (top and bottom) of a hit, for placing boxes near it.
void LineBox(const TextView& v, const Hit& h, std::int16_t* top, std::int16_t* bottom) {
  const LineMetrics& m = v.table.lines[h.line].metrics;
  *top = Clamp16(h.top + m.top);
  *bottom = Clamp16(h.top + m.top + m.height);
}

// Press (event 1) and probe (event 9).
StatusCode Press(TextView& v, std::uint16_t event, std::int16_t x, std::int16_t y) {
  const bool probe = event == 9;
  if (!probe) {
    v.mode = TextViewMode::Press;
    v.flags |= TextViewFlag::Dragging;
    v.pointerX = x;
    v.pointerY = y;
  }
  if (!Ready(v) || v.table.count == 0) return kOk;
  TextViewDrawScope draw(v.device, nullptr);
  if (IsFailure(draw.status())) return draw.status();
  Hit h;
  StatusCode s = HitAt(v, draw.ctx(), x, y, &h);
  if (IsFailure(s) || !h.onLine) return draw.Finish(s);
  std::uint32_t ls = 0, le = 0, target = 0;
  const StatusCode cls = TextView_LinkAt(v, h.start, &ls, &le, &target);
  if (IsFailure(cls)) return draw.Finish(cls);
  StatusCode answer = kOk;
  if (cls == kNotFound) {
    std::uint32_t ns = 0, ne = 0;
    if (!TextView_NoteAt(v, h.start, &ns, &ne)) {
      answer = probe ? kNo : kOk;
    } else if (probe) {
      answer = kYes;
    } else {
      std::int16_t top = 0, bottom = 0;
      LineBox(v, h, &top, &bottom);
      s = draw.Finish(kOk);  // the note box draws on its own
      if (IsFailure(s)) return s;
      s = TextView_OpenNoteBox(v, h.start, x, y, top, bottom);
      return IsFailure(s) ? s : kViewNoteBoxOpen;
    }
  } else if (probe) {
    answer = kYes;
  } else if (cls == kDocTargetSelectList) {
    s = draw.Finish(kOk);
    if (IsFailure(s)) return s;
    s = TextView_OpenList(v, ls, target, Clamp16(h.box.x - std::int32_t{v.hScroll}), Clamp16(h.top),
                          h.box.height, h.box.ascent);
    return IsFailure(s) ? s : kViewListOpen;
  } else {
    v.mode = TextViewMode::LinkRelease;
    v.pressOffset = ls;
    v.pressEnd = le;
    v.pressTarget = target;
    v.pressNote = false;
    s = TextView_DrawRangeOnLines(v, draw.ctx(), 1, ls, le);
    answer = IsFailure(s) ? s : kViewLinkPressed;
  }
  return draw.Finish(answer);
}

// The element under a point: a link (its range and target) or a note.
struct Element {
  bool found = false;
  bool note = false;
  StatusCode cls = kOk;
  std::uint32_t start = 0, end = 0, target = 0;
};
StatusCode ElementAt(TextView& v, DeviceContext ctx, std::int16_t x, std::int16_t y, Hit* h,
                     Element* e) {
  *e = Element{};
  StatusCode s = HitAt(v, ctx, x, y, h);
  if (IsFailure(s) || !h->onLine) return s;
  s = TextView_LinkAt(v, h->start, &e->start, &e->end, &e->target);
  if (IsFailure(s)) return s;
  if (s != kNotFound) {
    e->found = true;
    e->cls = s;
    return kOk;
  }
  if (TextView_NoteAt(v, h->start, &e->start, &e->end)) {
    e->found = e->note = true;
    e->target = e->start;
  }
  return kOk;
}

bool IsPressed(const TextView& v, const Element& e) {
  return e.found && e.note == v.pressNote && e.start == v.pressOffset && e.end == v.pressEnd &&
         e.target == v.pressTarget;
}

bool ReleasePending(const TextView& v) {
  return v.mode == TextViewMode::LinkRelease || v.mode == TextViewMode::LinkReleaseAlt;
}

// Hover (event 10): the element under the point is highlighted.
StatusCode Hover(TextView& v, std::int16_t x, std::int16_t y) {
  if (v.mode == TextViewMode::LinkRelease) v.mode = TextViewMode::LinkReleaseAlt;
  if (!Ready(v) || v.table.count == 0) return kOk;
  TextViewDrawScope draw(v.device, nullptr);
  if (IsFailure(draw.status())) return draw.status();
  Hit h;
  Element e;
  StatusCode s = ElementAt(v, draw.ctx(), x, y, &h, &e);
  if (IsFailure(s)) return draw.Finish(s);
  if (v.mode == TextViewMode::LinkReleaseAlt && !IsPressed(v, e)) {
    s = TextView_DrawRangeOnLines(v, draw.ctx(), 0, v.pressOffset, v.pressEnd);
    v.mode = TextViewMode::Idle;
    if (IsFailure(s)) return draw.Finish(s);
  }
  if (e.found && !(v.mode == TextViewMode::LinkReleaseAlt && IsPressed(v, e))) {
    s = TextView_DrawRangeOnLines(v, draw.ctx(), 1, e.start, e.end);
    v.pressOffset = e.start;
    v.pressEnd = e.end;
    v.pressTarget = e.target;
    v.pressNote = e.note;
    v.mode = TextViewMode::LinkReleaseAlt;
  }
  return draw.Finish(s);
}

// Release on a pressed element (event 3) and the full release (event 11).
StatusCode Release(TextView& v, bool full, std::int16_t x, std::int16_t y) {
  if (full) {
    v.pointerX = x;
    v.pointerY = y;
  }
  if (!Ready(v)) {
    v.mode = TextViewMode::Idle;
    return kOk;
  }
  TextViewDrawScope draw(v.device, nullptr);
  if (IsFailure(draw.status())) return draw.status();
  Hit h;
  Element e;
  StatusCode s = ElementAt(v, draw.ctx(), x, y, &h, &e);
  const StatusCode plain = TextView_DrawRangeOnLines(v, draw.ctx(), 0, v.pressOffset, v.pressEnd);
  v.mode = TextViewMode::Idle;
  if (IsFailure(s)) return draw.Finish(s);
  if (IsFailure(plain)) return draw.Finish(plain);
  const bool same = e.found && e.note == v.pressNote && e.target == v.pressTarget;
  s = draw.Finish(kOk);
  if (IsFailure(s) || !same) return s;
  if (e.note) {
    if (!full) return kOk;
    std::int16_t top = 0, bottom = 0;
    LineBox(v, h, &top, &bottom);
    s = TextView_OpenNoteBox(v, h.start, x, y, top, bottom);
    return IsFailure(s) ? s : kViewNoteBoxOpen;
  }
  if (e.cls == kDocTargetSelectList && full) {
    s = TextView_OpenList(v, e.start, e.target, Clamp16(h.box.x - std::int32_t{v.hScroll}),
                          Clamp16(h.top), h.box.height, h.box.ascent);
    return IsFailure(s) ? s : kViewListOpen;
  }
  // The point relative to the element's image, for image maps.
  const DevicePoint relative{Clamp16(x + std::int32_t{v.hScroll} - h.box.x), Clamp16(y - h.top)};
  return TextView_Activate(v, e.cls, e.start, e.target, &relative);
}

// Selects the character under the point (event 4).
StatusCode SelectCharacter(TextView& v, std::int16_t x, std::int16_t y) {
  TextViewDrawScope draw(v.device, nullptr);
  if (IsFailure(draw.status())) return draw.status();
  Hit h;
  StatusCode s = HitAt(v, draw.ctx(), x, y, &h);
  if (IsFailure(s)) return draw.Finish(s);
  v.selAnchor = v.selCaret = h.start;
  if (h.onLine && h.end > h.start) {
    v.selCaret = h.end;
    s = TextView_DrawRangeOnLines(v, draw.ctx(), 1, v.selAnchor, v.selCaret);
  }
  return draw.Finish(s);
}

// Selects the unit under the point (events 13 and 14).
StatusCode SelectUnit(TextView& v, std::int16_t x, std::int16_t y, bool drag) {
  TextViewDrawScope draw(v.device, nullptr);
  if (IsFailure(draw.status())) return draw.status();
  Hit h;
  StatusCode s = HitAt(v, draw.ctx(), x, y, &h);
  if (IsFailure(s)) return draw.Finish(s);
  const std::uint32_t from = std::min(v.selAnchor, v.selCaret);
  const std::uint32_t to = std::max(v.selAnchor, v.selCaret);
  if (drag || from != h.start || to != h.end) {
    s = TextView_DrawRangeOnLines(v, draw.ctx(), 0, v.selAnchor, v.selCaret);
    v.selAnchor = h.start;
    v.selCaret = h.end;
    if (!IsFailure(s)) s = TextView_DrawRangeOnLines(v, draw.ctx(), 1, h.start, h.end);
  }
  if (drag) v.flags |= TextViewFlag::Dragging;
  return draw.Finish(s);
}

// Drag scroll by (dx, dy): dx to the right, dy > 0 drags the text up.
StatusCode DragScroll(EngineObject* view, TextView& v, std::int32_t dx, std::int32_t dy) {
  if (!Ready(v) || v.table.count == 0) return kViewDragImpossible;
  const std::int32_t right = std::max<std::int32_t>(
      0, std::int32_t{v.contentWidth} - v.viewWidth - std::int32_t{v.hScroll});
  dx = std::clamp<std::int32_t>(dx, -std::int32_t{v.hScroll}, right);
  if (dy > 0 && !(TextView_EndOffset(v) < v.sectionEnd || TextView_GetOverflowHeight(v) > 0))
    dy = 0;
  if (dy < 0 && TextView_FirstOffset(v) <= v.sectionStart && v.table.extraTop >= 0) dy = 0;
  if (dx == 0 && dy == 0) return kViewDragImpossible;
  StatusCode s = kOk;
  if (dy != 0) {
    s = TextView_ScrollBy(v, -dy, false, nullptr);
    if (s == kNoMore) s = kOk;
  }
  if (dx != 0 && !IsFailure(s))
    s = TextView_ScrollHorizontal(view, 0, 7, static_cast<std::uint32_t>(v.hScroll + dx));
  return IsFailure(s) ? s : kOk;
}

// Auto-scroll while a selection is dragged past the top or bottom edge.
StatusCode AutoScroll(TextView& v, bool draw) {
  TextView_HideFocus(v);
  const std::int32_t y = v.pointerY, z = v.minLineHeight;
  std::int32_t amount = 0;
  if (y < z)
    amount = std::min(z, z - y);
  else if (y >= v.textHeight - z)
    amount = -std::min(z, z + y - v.textHeight);
  if (amount == 0 || !Ready(v)) return kOk;
  StatusCode s = TextView_ScrollBy(v, 2 * amount, false, nullptr);
  if (IsFailure(s)) return s;
  return TextView_ExtendSelection(v, draw);
}

StatusCode CopySection(TextView& v) {
  if (!v.hasSection) return kOk;
  return TextView_CopyRange(v, v.sectionStart, v.sectionEnd);
}

}  // namespace

std::uint32_t TextView_EndOffset(const TextView& v) noexcept {
  const LineTable& t = v.table;
  return t.lines != nullptr && t.count > 0 ? t.lines[t.count].start : TextView_FirstOffset(v);
}

StatusCode TextView_DrawSelection(TextView& v, DeviceContext ctx) noexcept {
  if (v.selAnchor == v.selCaret) return kOk;
  return TextView_DrawRangeOnLines(v, ctx, 1, v.selAnchor, v.selCaret);
}

StatusCode TextView_ExtendSelection(TextView& v, bool draw) noexcept {
  if (!Ready(v) || v.table.count == 0) return kOk;
  TextViewDrawScope scope(v.device, nullptr);
  if (IsFailure(scope.status())) return scope.status();
  Hit h;
  StatusCode s = HitAt(v, scope.ctx(), v.pointerX, v.pointerY, &h);
  if (IsFailure(s)) return scope.Finish(s);
  // The caret goes to the offset under the point: back onto the anchor it
  // empties the selection.
  const std::uint32_t caret = h.start;
  if (caret != v.selCaret) {
    if (draw) s = DrawCaretMove(v, scope.ctx(), v.selCaret, caret);
    v.selCaret = caret;
  }
  return scope.Finish(s);
}

StatusCode TextView_Unmark(TextView& v, bool selection) noexcept {
  if (!selection && v.foundStart != v.foundEnd) {
    const StatusCode s = TextView_DrawRange(v, 0, v.foundStart, v.foundEnd);
    v.foundEnd = v.foundStart;
    return s;
  }
  const StatusCode s = TextView_DrawRange(v, 0, v.selAnchor, v.selCaret);
  v.selCaret = v.selAnchor;
  return s;
}

StatusCode TextView_CopyRange(TextView& v, std::uint32_t from, std::uint32_t to) noexcept {
  if (v.handler == nullptr || v.device == nullptr) return kViewNoContent;
  if (from > to) std::swap(from, to);
  return Doc(v).copyRange(v.handler, v.device, from, to);
}

StatusCode TextView_DocumentEnd(TextView& v, std::uint32_t* end) noexcept {
  if (v.handler == nullptr) return kViewNoContent;
  std::uint16_t count = v.sectionCount;
  if (count == 0) {
    const StatusCode s = Doc(v).getSectionInfo(v.handler, nullptr, &count);
    if (IsFailure(s)) return s;
  }
  std::uint32_t start = 0, last = 0;
  const StatusCode s = Doc(v).getSectionRange(
      v.handler, static_cast<std::int16_t>(count > 0 ? count - 1 : 0), &start, &last);
  if (IsFailure(s)) return s;
  if (s == kNoMore) return kFailed;
  *end = last;
  return kOk;
}

StatusCode TextView_PointerEvent(EngineObject* view, std::uint16_t event, std::int16_t x,
                                 std::int16_t y) noexcept {
  TextView& v = TextViewOf(view);
  TextView_HideFocus(v);
  if (v.mode == TextViewMode::ListOpen) return TextView_ListPointer(v, event, x, y);
  if (v.mode == TextViewMode::NoteBox) return TextView_NotePointer(v, event, x, y);
  switch (event) {
    case 1:
    case 9:
      return Press(v, event, x, y);
    case 2: {
      StatusCode s = kOk;
      if (v.mode == TextViewMode::Press) s = DragScroll(view, v, v.pointerX - x, v.pointerY - y);
      v.pointerX = x;
      v.pointerY = y;
      return IsFailure(s) ? s : kOk;
    }
    case 3: {
      StatusCode s = kOk;
      if (ReleasePending(v)) s = Release(v, false, x, y);
      v.flags &= static_cast<std::uint16_t>(~TextViewFlag::Dragging);
      v.mode = TextViewMode::Idle;
      return s;
    }
    case 4: {
      // The old marks go first; a drawn selection is erased even when a found
      // range was marked, so no stale inversion stays behind.
      StatusCode s = TextView_Unmark(v, false);
      if (!IsFailure(s) && v.selAnchor != v.selCaret) s = TextView_Unmark(v, true);
      if (IsFailure(s)) return s;
      v.flags |= TextViewFlag::Dragging;
      v.pointerX = x;
      v.pointerY = y;
      if (!Ready(v) || v.table.count == 0) {
        v.selAnchor = v.selCaret = TextView_EndOffset(v);
        return kOk;
      }
      return SelectCharacter(v, x, y);
    }
    case 5:
    case 15:
      if (x == v.pointerX && y == v.pointerY) return kOk;
      v.pointerX = x;
      v.pointerY = y;
      return TextView_ExtendSelection(v, true);
    case 7:
      v.flags &= static_cast<std::uint16_t>(~TextViewFlag::Dragging);
      return kOk;
    case 8:
      return DragScroll(view, v, x, y);
    case 10:
      return Hover(v, x, y);
    case 11:
      if (!ReleasePending(v)) return kOk;
      return Release(v, true, x, y);
    case 12:
      if (!ReleasePending(v)) return kOk;
      v.mode = TextViewMode::Idle;
      return TextView_DrawRange(v, 0, v.pressOffset, v.pressEnd);
    case 13:
    case 14:
      v.pointerX = x;
      v.pointerY = y;
      if (!Ready(v) || v.table.count == 0) return kOk;
      return SelectUnit(v, x, y, event == 13);
    case 16: {
      const StatusCode s = TextView_Unmark(v, false);
      v.flags &= static_cast<std::uint16_t>(~TextViewFlag::Dragging);
      return s;
    }
    default:
      return kOk;
  }
}

StatusCode TextView_SelectionCommand(EngineObject* view, std::uint16_t code,
                                     std::uint32_t) noexcept {
  TextView& v = TextViewOf(view);
  switch (code) {
    case 1: {
      // A selection still drawn from before is erased, not forgotten.
      const StatusCode s = TextView_DrawRange(v, 0, v.selAnchor, v.selCaret);
      v.mode = TextViewMode::Selection;
      v.selAnchor = v.selCaret = 0;
      return s;
    }
    case 2:
    case 8: {
      const StatusCode s = TextView_DrawRange(v, 0, v.selAnchor, v.selCaret);
      v.selAnchor = v.selCaret = 0;
      if (code == 2) v.mode = TextViewMode::Idle;
      return s;
    }
    case 3:
      return AutoScroll(v, true);
    case 12:
      return AutoScroll(v, false);
    case 4:
      return TextView_CopyRange(v, v.selAnchor, v.selCaret);
    case 5:
      return TextView_CopyRange(v, TextView_FirstOffset(v), TextView_EndOffset(v));
    case 6:
      return CopySection(v);
    case 7: {
      std::uint32_t end = 0;
      const StatusCode s = TextView_DocumentEnd(v, &end);
      if (IsFailure(s)) return s;
      return TextView_CopyRange(v, 0, end);
    }
    case 9: {
      // The lines holding the selection are drawn again without it.
      const bool had = v.selAnchor != v.selCaret;
      v.selAnchor = v.selCaret = 0;
      return had && Ready(v) ? TextView_Redraw(v) : kOk;
    }
    case 10:
      return TextView_DrawRange(v, 0, v.selAnchor, v.selCaret);
    case 11:
      return TextView_DrawRange(v, 1, v.selAnchor, v.selCaret);
    case 13:
      return v.selAnchor != v.selCaret ? kSelectionPresent : kSelectionAbsent;
    default:
      return kOk;
  }
}
