// Navigation: lines, screens, sections, offsets, percentages and fractions,
// the print range, horizontal scrolling, the jump history and the snapshot
// stack.
#include <algorithm>
#include <climits>
#include <cstring>

#include "engine/runtime/allocator.h"
#include "engine/view/text_view_internal.h"

namespace {

bool Paged(const TextView& v) {
  return (v.flags & TextViewFlag::Paginated) != 0;
}
const DeviceOps& Dev(const TextView& v) {
  return DeviceOf(v.device);
}
const DocHandlerOps& Doc(const TextView& v) {
  return DocOpsOf(v.handler);
}

std::int16_t Clamp16(std::int64_t value) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(value, INT16_MIN, INT16_MAX));
}

void Notice(TextView& v, std::uint16_t kind) {
  // A notice that cannot sound does not undo the move it reports.
  if (v.device != nullptr) (void)Dev(v).notify(v.device, kind);
}

bool Ready(const TextView& v) {
  return v.handler != nullptr && v.device != nullptr && v.table.lines != nullptr;
}

// Lays out from offset with the given extra top and draws the result.
StatusCode LayoutAndDraw(TextView& v, std::int32_t extraTop, std::uint32_t offset) {
  StatusCode s;
  {
    TextViewDrawScope draw(v.device, nullptr);
    if (IsFailure(draw.status())) return draw.status();
    s = draw.Finish(TextView_Relayout(v, draw.ctx(), extraTop, offset));
  }
  if (IsFailure(s)) return s;
  return TextView_Redraw(v);
}

// Lays out an empty table first, so moves have lines to start from.
StatusCode EnsureLaidOut(TextView& v) {
  if (!Ready(v)) return kViewNotLaidOut;
  if (v.hasSection && v.table.count != 0) return kOk;
  TextViewDrawScope draw(v.device, nullptr);
  if (IsFailure(draw.status())) return draw.status();
  return draw.Finish(TextView_EnsureLayout(v, draw.ctx()));
}

std::uint32_t EndOffset(const TextView& v) {
  return v.table.lines[v.table.count].start;
}
bool AtSectionTop(const TextView& v) {
  return v.table.lines[0].start <= v.sectionStart && v.table.extraTop >= 0;
}
bool AtSectionBottom(const TextView& v) {
  return EndOffset(v) >= v.sectionEnd && v.table.bottom <= v.textHeight;
}
bool ScreenMayChangeSection(const TextView& v, std::uint32_t argument) {
  return !(v.sectionPolicy & DocSectionPolicy::NeverOnScreen) &&
         (!(v.sectionPolicy & DocSectionPolicy::MoveOnRequest) || (argument & 1));
}
bool LineMayChangeSection(const TextView& v) {
  return (v.sectionPolicy & (DocSectionPolicy::MoveOnRequest | DocSectionPolicy::NeverOnScreen)) ==
         0;
}

StatusCode PreviousSection(TextView& v) {
  if (v.currentSection == 0) {
    Notice(v, DeviceNotice::NoPreviousSection);
    return kOk;
  }
  StatusCode s = TextView_GoToSection(v, static_cast<std::uint16_t>(v.currentSection - 1));
  if (s != kOk) return s;
  Notice(v, DeviceNotice::PreviousSection);
  // From the section end, the layout fills the screen from above.
  return LayoutAndDraw(v, 0, v.sectionEnd);
}

StatusCode NextSection(TextView& v) {
  if (v.currentSection + 1 >= v.sectionCount) {
    Notice(v, DeviceNotice::NoNextSection);
    return kOk;
  }
  StatusCode s = TextView_GoToSection(v, static_cast<std::uint16_t>(v.currentSection + 1));
  if (s != kOk) return s;
  Notice(v, DeviceNotice::NextSection);
  return LayoutAndDraw(v, 0, v.sectionStart);
}

StatusCode SectionByNumber(TextView& v, std::uint16_t section) {
  if (section >= v.sectionCount) return kOk;
  TextView_PushVisited(v, TextView_FirstOffset(v));
  StatusCode s = TextView_GoToSection(v, section);
  if (s != kOk) return s;
  if (v.flags & TextViewFlag::NoSectionLayout) return kOk;
  Notice(v, DeviceNotice::SectionByNumber);
  if (v.table.lines == nullptr) return kOk;
  return LayoutAndDraw(v, 0, v.sectionStart);
}

StatusCode LineUp(TextView& v) {
  if (AtSectionTop(v)) return LineMayChangeSection(v) ? PreviousSection(v) : kOk;
  std::int32_t amount = 0;
  if (v.table.extraTop < 0) {
    amount = -v.table.extraTop;
  } else {
    TextViewDrawScope draw(v.device, nullptr);
    if (IsFailure(draw.status())) return draw.status();
    std::uint32_t start = 0;
    LineRecord above{};
    StatusCode s = TextView_LineBefore(v, draw.ctx(), v.table.lines[0].start, &start, &above);
    s = draw.Finish(s);
    if (IsFailure(s)) return s;
    if (s != kOk) return kOk;
    amount = TextView_SlotHeight(above, 0) -
             std::min(above.metrics.extra, v.table.lines[0].metrics.top) + v.table.extraTop;
  }
  amount = std::clamp<std::int32_t>(amount, 1, std::max<std::int16_t>(v.scrollStep, 1));
  return TextView_ScrollBy(v, amount, true, nullptr);
}

StatusCode LineDown(TextView& v) {
  if (AtSectionBottom(v)) return LineMayChangeSection(v) ? NextSection(v) : kOk;
  if (v.table.count == 0) return kOk;  // no room for a line (height 0): nothing moves
  std::int32_t amount = TextView_GetOverflowHeight(v);
  if (amount <= 0) {
    TextViewDrawScope draw(v.device, nullptr);
    if (IsFailure(draw.status())) return draw.status();
    std::uint16_t n = 0;
    std::uint32_t next = 0;
    const StatusCode s = draw.Finish(TextView_MeasureRun(
        v, draw.ctx(), EndOffset(v), v.sectionEnd, 1,
        v.table.lines[v.table.count - 1].metrics.extra, &n, &next, &amount, nullptr));
    if (IsFailure(s)) return s;
  }
  amount = std::clamp<std::int32_t>(amount, 1, std::max<std::int16_t>(v.scrollStep, 1));
  return TextView_ScrollBy(v, -amount, true, nullptr);
}

std::int32_t ScreenAmount(const TextView& v, std::uint16_t kind) {
  const std::int32_t h = v.textHeight;
  switch (kind) {
    case 3: {
      const LineRecord& first = v.table.lines[0];
      const std::int32_t boxTop = v.table.extraTop + first.metrics.top;
      if (boxTop >= 0) return h;
      std::int32_t amount = h - first.metrics.height - boxTop;
      if (amount < h - v.scrollStep) amount = h - v.scrollStep;
      return std::min(amount, h);
    }
    case 4: {
      std::int32_t amount = h;
      std::int32_t y = v.table.extraTop;
      std::int16_t after = 0;
      for (std::uint16_t i = 0; i < v.table.count; ++i) {
        const LineMetrics& m = v.table.lines[i].metrics;
        y -= std::min(after, m.top);
        const std::int32_t boxTop = y + m.top, boxBottom = boxTop + m.height;
        if (i + 1 == v.table.count && boxTop < h && boxBottom > h)
          amount = std::max<std::int32_t>(boxTop, h - v.scrollStep);
        y += m.top + m.height + m.extra;
        after = m.extra;
      }
      return amount;
    }
    case 5:
    case 6:
      return h;
    case 7:
    case 8:
      return h - v.scrollStep;
    default:
      return h / 2;
  }
}

StatusCode ScreenUp(TextView& v, std::uint16_t kind, std::uint32_t argument) {
  if (AtSectionTop(v)) {
    if (ScreenMayChangeSection(v, argument)) return PreviousSection(v);
    Notice(v, DeviceNotice::AtTop);
    return kOk;
  }
  return TextView_ScrollBy(v, std::max(1, ScreenAmount(v, kind)), true, nullptr);
}

StatusCode ScreenDown(TextView& v, std::uint16_t kind, std::uint32_t argument) {
  if (AtSectionBottom(v)) {
    if (ScreenMayChangeSection(v, argument)) return NextSection(v);
    Notice(v, DeviceNotice::AtEnd);
    return kOk;
  }
  return TextView_ScrollBy(v, -std::max(1, ScreenAmount(v, kind)), true, nullptr);
}

// Paged mode: the line at section y goes to the top, cut by the difference.
StatusCode PlaceY(TextView& v, std::uint32_t y) {
  std::uint32_t key = 0, value = y;
  const StatusCode s = Dev(v).posMapCommand(v.device, PosMapCode::FindByValue, &key, &value);
  if (s != kOk) return IsFailure(s) ? s : kOk;
  return LayoutAndDraw(v, Clamp16(static_cast<std::int64_t>(value) - y), v.sectionStart + key);
}

StatusCode Percent(TextView& v, std::uint32_t argument) {
  if (argument > 99 || TextView_ShowsWholeSection(v)) return kOk;
  TextView_PushVisited(v, TextView_FirstOffset(v));
  const std::uint64_t length = v.sectionEnd - v.sectionStart;
  return TextView_GoToOffset(
      v, v.sectionStart + static_cast<std::uint32_t>(length * argument / 100), false);
}

StatusCode Fraction(TextView& v, std::uint32_t f) {
  TextView_HideFocus(v);
  if (f >= 1024 || TextView_ShowsWholeSection(v)) return kOk;
  if (Paged(v)) {
    const std::uint64_t total = v.paginatedHeight;
    if (total == 0) return kOk;
    return PlaceY(v, static_cast<std::uint32_t>(f == 1023 ? total - 1 : f * total / 1024));
  }
  const std::uint64_t length = v.sectionEnd - v.sectionStart;
  if (length == 0) return kOk;
  const std::uint64_t at = f == 1023 ? length - 1 : f * length / 1024;
  return TextView_GoToOffset(v, v.sectionStart + static_cast<std::uint32_t>(at), false);
}

// Print range: lays out one screen from `from` without filling from above;
// a cut last line is dropped when the lines above fill more than half.
StatusCode PrintScreen(TextView& v, std::uint32_t from, std::uint32_t to) {
  TextViewDrawScope draw(v.device, nullptr);
  if (IsFailure(draw.status())) return draw.status();
  LineTable& t = v.table;
  TextView_ResetTable(v, from);
  std::uint16_t n = 0;
  std::uint32_t next = from;
  std::int32_t used = 0;
  StatusCode s =
      TextView_FormatLineRun(v, draw.ctx(), t.lines, 0, static_cast<std::uint16_t>(t.capacity - 1),
                             from, to, v.textHeight, 0, &n, &next, &used);
  if (n > 1 && used > v.textHeight) {
    const LineRecord& last = t.lines[n - 1];
    const std::int32_t above = used - TextView_SlotHeight(last, 0) +
                               std::min(t.lines[n - 2].metrics.extra, last.metrics.top);
    if (above > v.textHeight / 2) {
      --n;
      next = last.start;
      used = above;
    }
  }
  t.count = n;
  t.lines[n].start = next;
  t.bottom = Clamp16(used);
  return draw.Finish(s);
}

StatusCode PrintRange(TextView& v, bool first) {
  if (!Ready(v)) return kViewNotLaidOut;
  if (!v.hasSection) {
    std::uint32_t offset = v.topOffset;
    const StatusCode s = TextView_EnsureSectionOf(v, &offset);
    if (s != kOk) return s;
  }
  if (!(v.flags & TextViewFlag::Accepted)) return kViewNotLaidOut;
  const std::uint32_t start = v.printStart != 0 ? v.printStart : v.sectionStart;
  const std::uint32_t end = v.printEnd != 0 ? std::min(v.printEnd, v.sectionEnd) : v.sectionEnd;
  if (first) return PrintScreen(v, start, end);
  std::uint32_t from = v.table.count ? EndOffset(v) : start;
  if (v.table.count != 0 && v.table.bottom > v.textHeight)
    from = v.table.lines[v.table.count - 1].start;  // the cut line begins the next screen
  if (from >= end) return kNoMore;
  return PrintScreen(v, from, end);
}

// Whether the line at index i of the table would be laid out otherwise now
// (a handler may lay out some lines differently once the section is
// paginated: the native handler's tables become row lines).
bool LineChanged(TextView& v, DeviceContext ctx, std::uint16_t i) {
  const LineRecord& line = v.table.lines[i];
  LineRecord now{};
  std::uint32_t next = 0;
  if (Doc(v).layoutLine(v.handler, v.device, ctx, line.start, v.sectionEnd, v.viewWidth, &next,
                        &now.metrics) != kOk)
    return true;
  TextView_ApplyMinHeight(&now);
  return next != v.table.lines[i + 1].start ||
         std::memcmp(&now.metrics, &line.metrics, sizeof(LineMetrics)) != 0;
}

StatusCode PaginationSlice(TextView& v) {
  const bool was = Paged(v);
  const StatusCode s = TextView_PaginateSlice(v);
  if (was || !Paged(v) || (v.options & TextViewOption::NeverPaginate) || !Ready(v)) return s;
  // The screen is laid out again when it shows a link, or when a line laid
  // out before the section was paginated would now be laid out otherwise.
  bool again = false;
  {
    TextViewDrawScope draw(v.device, nullptr);
    if (IsFailure(draw.status())) return s;  // nothing could be drawn again either
    for (std::uint16_t i = 0; i < v.table.count && !again; ++i)
      again = Doc(v).control(v.handler, DocControl::IsLinkAt, v.table.lines[i].start, nullptr) ==
                  kYes ||
              LineChanged(v, draw.ctx(), i);
    const StatusCode f = draw.Finish(kOk);
    if (IsFailure(f)) return f;
  }
  if (!again) return s;
  const StatusCode r = LayoutAndDraw(v, v.table.extraTop, v.table.lines[0].start);
  return IsFailure(r) ? r : s;
}

StatusCode HistoryStep(TextView& v, bool back) {
  TextViewHistory& h = v.history;
  if (back ? h.position == 0 : h.position >= h.count) {
    const bool host = back ? v.snapshots.top > 0 : v.snapshots.count > v.snapshots.top;
    return host ? kViewHostActs : kNoMore;
  }
  const std::uint8_t at = back ? static_cast<std::uint8_t>(h.position - 1) : h.position;
  const std::uint32_t target = h.entries[at];
  h.entries[at] = TextView_FirstOffset(v);
  h.position = back ? at : static_cast<std::uint8_t>(at + 1);
  Notice(v, back ? DeviceNotice::HistoryBack : DeviceNotice::HistoryForward);
  return TextView_ShowAtTop(v, target);
}

void FreeHolder(SnapshotHolder holder) {
  if (holder != nullptr && *holder != nullptr) {
    Engine_Free(*holder);
    *holder = nullptr;
  }
}

// A block of the current state: layout A {n, entries, first} or B {n, first,
// entries}; null when the allocation is refused.
std::uint32_t* MakeSnapshot(const TextView& v, std::uint8_t n, bool layoutB) {
  std::uint32_t* block = nullptr;
  if (Engine_AllocArray(n + 2u, &block) != kOk) return nullptr;
  block[0] = n;
  const std::uint32_t first = TextView_FirstOffset(v);
  std::uint32_t* entries = block + (layoutB ? 2 : 1);
  std::memcpy(entries, v.history.entries, n * sizeof(std::uint32_t));
  block[layoutB ? 1 : n + 1] = first;
  return block;
}

}  // namespace

// ---------------------------------------------------------------------------

void TextView_PushVisited(TextView& v, std::uint32_t offset) noexcept {
  TextViewHistory& h = v.history;
  if (h.position >= kViewHistorySize) {
    std::memmove(h.entries, h.entries + 1, (kViewHistorySize - 1) * sizeof(std::uint32_t));
    h.position = kViewHistorySize - 1;
  }
  h.entries[h.position] = offset;
  h.position = static_cast<std::uint8_t>(h.position + 1);
  h.count = h.position;
}

StatusCode TextView_HistoryExchange(TextView& v, bool back, std::uint32_t* value) noexcept {
  if (value == nullptr) return kNullOutPointer;
  TextViewHistory& h = v.history;
  if (back ? h.position == 0 : h.position >= h.count) return kNoMore;
  const std::uint8_t at = back ? static_cast<std::uint8_t>(h.position - 1) : h.position;
  std::swap(h.entries[at], *value);
  h.position = back ? at : static_cast<std::uint8_t>(at + 1);
  return kOk;
}

StatusCode TextView_GoToSection(TextView& v, std::uint16_t section) noexcept {
  if (v.handler == nullptr) return kViewNoContent;
  std::uint32_t start = 0, end = 0;
  const StatusCode s =
      Doc(v).getSectionRange(v.handler, static_cast<std::int16_t>(section), &start, &end);
  if (s != kOk) return s;
  if (end < start) return kDocMalformed;
  TextView_RemoveHScrollBar(v);
  v.hScroll = 0;
  v.contentWidth = v.viewWidth;
  v.currentSection = section;
  v.sectionStart = start;
  v.sectionEnd = end;
  v.hasSection = true;
  TextView_ResetTable(v, start);
  return TextView_Paginate(v, 0);
}

StatusCode TextView_EnsureSectionOf(TextView& v, std::uint32_t* offset) noexcept {
  if (v.handler == nullptr) return kViewNoContent;
  const std::uint32_t o = *offset;
  const bool inside =
      v.hasSection && o >= v.sectionStart &&
      (o < v.sectionEnd || (o == v.sectionEnd && v.currentSection + 1 >= v.sectionCount));
  if (!inside) {
    std::int16_t section = 0;
    StatusCode s = Doc(v).findSection(v.handler, o, &section, nullptr, nullptr);
    if (s == kNoMore) {
      // Past the text (a file that shrank since the position was kept): the
      // last section, at its end.
      section = static_cast<std::int16_t>(v.sectionCount > 0 ? v.sectionCount - 1 : 0);
    } else if (IsFailure(s)) {
      return s;
    }
    if (!v.hasSection || static_cast<std::uint16_t>(section) != v.currentSection) {
      s = TextView_GoToSection(v, static_cast<std::uint16_t>(section));
      if (s != kOk) return IsFailure(s) ? s : kViewNoContent;
    }
  }
  *offset = std::clamp(o, v.sectionStart, v.sectionEnd);
  return kOk;
}

StatusCode TextView_ShowAtTop(TextView& v, std::uint32_t offset) noexcept {
  if (v.handler == nullptr || v.table.lines == nullptr) {
    TextView_ResetTable(v, offset);
    return kOk;
  }
  StatusCode s = TextView_EnsureSectionOf(v, &offset);
  if (s != kOk) return s;
  if (!Ready(v)) return kViewNotLaidOut;
  std::uint32_t start = offset;
  {
    TextViewDrawScope draw(v.device, nullptr);
    if (IsFailure(draw.status())) return draw.status();
    s = draw.Finish(TextView_LineStartOf(v, draw.ctx(), offset, &start));
  }
  if (s != kOk) return s;
  return LayoutAndDraw(v, 0, start);
}

StatusCode TextView_GoToOffset(TextView& v, std::uint32_t offset, bool align) noexcept {
  if (v.handler == nullptr || v.table.lines == nullptr) {
    TextView_ResetTable(v, offset);
    return kOk;
  }
  const std::uint16_t section = v.currentSection;
  const bool had = v.hasSection;
  StatusCode s = TextView_EnsureSectionOf(v, &offset);
  if (s != kOk) return s;
  if (!Ready(v)) return kViewNotLaidOut;
  if (!had || section != v.currentSection || v.table.count == 0)
    return TextView_ShowAtTop(v, offset);
  if (!align) return TextView_ShowOffset(v, offset);
  std::uint32_t start = offset;
  std::int32_t top = 0;
  {
    TextViewDrawScope draw(v.device, nullptr);
    if (IsFailure(draw.status())) return draw.status();
    std::uint32_t line = offset;
    s = TextView_LineStartOf(v, draw.ctx(), offset, &line);
    if (s == kOk)
      s = TextView_StartAbove(v, draw.ctx(), line, v.textHeight / 2 - v.scrollStep, &start, &top);
    s = draw.Finish(s);
  }
  if (s != kOk) return s;
  return LayoutAndDraw(v, std::min(top, 0), start);
}

StatusCode TextView_ShowOffset(TextView& v, std::uint32_t offset) noexcept {
  StatusCode s = EnsureLaidOut(v);
  if (s != kOk) return s;
  LineTable& t = v.table;
  offset = std::clamp(offset, v.sectionStart, v.sectionEnd);
  if (offset >= v.sectionEnd) {
    const std::int32_t overflow = TextView_GetOverflowHeight(v);
    if (EndOffset(v) >= v.sectionEnd)
      return overflow > 0 ? TextView_ScrollBy(v, -overflow, false, nullptr) : kOk;
    return LayoutAndDraw(v, 0, v.sectionEnd);
  }
  std::uint32_t line = offset;
  std::int32_t amount = 0;
  bool relayout = false;
  {
    TextViewDrawScope draw(v.device, nullptr);
    if (IsFailure(draw.status())) return draw.status();
    DeviceContext ctx = draw.ctx();
    s = TextView_LineStartOf(v, ctx, offset, &line);
    const std::uint32_t first = t.lines[0].start, end = EndOffset(v);
    std::uint16_t n = 0;
    std::uint32_t next = 0;
    std::int32_t used = 0;
    std::int16_t lastAfter = 0;
    if (s != kOk) {
    } else if (line < first) {
      s = TextView_MeasureRun(v, ctx, line, first, INT32_MAX, 0, &n, &next, &used, &lastAfter);
      if (s == kOk && n > 0 && next == first) {
        amount = used - std::min(lastAfter, t.lines[0].metrics.top) - t.extraTop;
        relayout = amount >= v.textHeight;
      } else {
        relayout = true;
      }
    } else if (line < end) {
      std::int32_t top = 0;
      const std::uint16_t i = TextView_FindLineAtOffset(v, line, &top);
      const std::int32_t bottom = top + TextView_SlotHeight(t.lines[i], 0);
      if (top < 0)
        amount = -top;
      else if (bottom > v.textHeight)
        amount = -std::min(bottom - v.textHeight, top);
    } else if (t.count == 0) {
      relayout = true;
    } else {
      s = TextView_MeasureRun(v, ctx, end, line + 1, v.textHeight,
                              t.lines[t.count - 1].metrics.extra, &n, &next, &used, &lastAfter);
      if (s == kOk && next > line) {
        amount = -(t.bottom + used - v.textHeight);
        relayout = -amount >= v.textHeight;
      } else {
        relayout = true;
      }
    }
    s = draw.Finish(s);
  }
  if (IsFailure(s)) return s;
  if (relayout) return LayoutAndDraw(v, 0, line);
  return amount != 0 ? TextView_ScrollBy(v, amount, false, nullptr) : kOk;
}

namespace {
StatusCode Move(TextView& v, std::uint16_t code, std::uint32_t argument);
}  // namespace

StatusCode TextView_Navigate(EngineObject* view, std::uint16_t code,
                             std::uint32_t argument) noexcept {
  TextView& v = TextViewOf(view);
  // Modes 4 and 5 hand the code to the drop-down list or the note box first.
  if (v.mode == TextViewMode::ListOpen || v.mode == TextViewMode::NoteBox) {
    const StatusCode s = TextView_RouteKey(v, code);
    if (s != kNotSupported) return s;
  }
  const StatusCode s = Move(v, code, argument);
  // In selection mode with a drag in progress the selection follows the move.
  if (v.mode == TextViewMode::Selection && (v.flags & TextViewFlag::Dragging) && !IsFailure(s))
    return TextView_ExtendSelection(v, true);
  return s;
}

namespace {

StatusCode Move(TextView& v, std::uint16_t code, std::uint32_t argument) {
  if (code >= 1 && code <= 27 && code != 3 && code != 4 && (code < 20 || code > 23) && code != 26)
    TextView_HideFocus(v);
  const bool move =
      (code >= 1 && code <= 17) || code == 24 || code == 25 || code == 27 || code == 32;
  if (move && code != 3 && code != 4) {
    const StatusCode s = EnsureLaidOut(v);
    if (s != kOk) return s;
  }
  switch (code) {
    case TextViewNav::LineUp:
      return LineUp(v);
    case TextViewNav::LineDown:
      return LineDown(v);
    case 5:
    case 7:
    case 9:
      return ScreenUp(v, code, argument);
    case 6:
    case 8:
    case 10:
      return ScreenDown(v, code, argument);
    case TextViewNav::DocumentStart:
      if (v.mode == TextViewMode::Selection && v.currentSection != 0) return kOk;
      return TextView_GoToOffset(v, 0, false);
    case TextViewNav::DocumentEnd:
      if (v.currentSection + 1 < v.sectionCount) {
        if (v.mode == TextViewMode::Selection) return kOk;
        return TextView_GoToOffset(v, 0xFFFFFFFFu, false);
      }
      if (AtSectionBottom(v)) return kOk;
      return TextView_ShowOffset(v, v.sectionEnd);
    case TextViewNav::SectionStart:
    case TextViewNav::SectionEnd: {
      const bool start = code == TextViewNav::SectionStart;
      if (start ? !AtSectionTop(v) : !AtSectionBottom(v))
        TextView_PushVisited(v, TextView_FirstOffset(v));
      return TextView_ShowOffset(v, start ? v.sectionStart : v.sectionEnd);
    }
    case TextViewNav::PreviousSection:
      return v.currentSection > 0
                 ? SectionByNumber(v, static_cast<std::uint16_t>(v.currentSection - 1))
                 : kOk;
    case TextViewNav::NextSection:
      return v.currentSection + 1 < v.sectionCount
                 ? SectionByNumber(v, static_cast<std::uint16_t>(v.currentSection + 1))
                 : kOk;
    case TextViewNav::SectionByNumber:
      if (argument == 0 || argument > v.sectionCount) return kOk;
      if (argument - 1 == v.currentSection && v.hasSection && v.sectionStart != 0) return kOk;
      return SectionByNumber(v, static_cast<std::uint16_t>(argument - 1));
    case TextViewNav::Back:
      return HistoryStep(v, true);
    case TextViewNav::Forward:
      return HistoryStep(v, false);
    case TextViewNav::CanGoBack:
      return v.history.position > 0 || v.snapshots.top > 0 ? kOk : kNoMore;
    case TextViewNav::CanGoForward:
      return v.history.position < v.history.count || v.snapshots.count > v.snapshots.top ? kOk
                                                                                         : kNoMore;
    case TextViewNav::ClearHistory:
      v.history.count = v.history.position = 0;
      TextView_ClearSnapshots(v);
      return kOk;
    case TextViewNav::ClearList:
      v.history.count = v.history.position = 0;
      return kOk;
    case TextViewNav::ScreenUp: {
      static constexpr std::uint16_t kinds[4] = {3, 5, 7, 9};
      return ScreenUp(v, kinds[(v.options & TextViewOption::ScreenUpMask) >> 4], argument);
    }
    case TextViewNav::ScreenDown: {
      if (v.table.count == 0) return kOk;
      static constexpr std::uint16_t kinds[4] = {4, 6, 8, 10};
      return ScreenDown(v, kinds[(v.options & TextViewOption::ScreenDownMask) >> 6], argument);
    }
    case TextViewNav::PaginationSlice:
      return PaginationSlice(v);
    case TextViewNav::Percent:
      return Percent(v, argument);
    case TextViewNav::NoSectionLayout:
      if (argument != 0)
        v.flags |= TextViewFlag::NoSectionLayout;
      else
        v.flags &= static_cast<std::uint16_t>(~TextViewFlag::NoSectionLayout);
      return kOk;
    case TextViewNav::PrintFirst:
      return PrintRange(v, true);
    case TextViewNav::PrintNext:
      return PrintRange(v, false);
    case TextViewNav::DisableLinks:
      if (argument != 0)
        v.flags |= TextViewFlag::LinksDisabled;
      else
        v.flags &= static_cast<std::uint16_t>(~TextViewFlag::LinksDisabled);
      return kOk;
    case TextViewNav::Fraction:
      return Fraction(v, argument);
    case TextViewNav::SliceControl:
      if (Paged(v) && !(v.options & TextViewOption::NeverPaginate) && v.handler != nullptr)
        return Doc(v).control(v.handler, DocControl::SetInSlice, 0, nullptr);
      return kOk;
    default:
      return kOk;
  }
}

}  // namespace

StatusCode TextView_SetScrollPosition(EngineObject* view, std::uint32_t value) noexcept {
  TextView& v = TextViewOf(view);
  TextView_HideFocus(v);
  StatusCode s = EnsureLaidOut(v);
  if (s != kOk) return s;
  if (Paged(v)) return PlaceY(v, value);
  const std::uint64_t at = std::uint64_t{v.sectionStart} + value;
  return TextView_GoToOffset(
      v, static_cast<std::uint32_t>(std::min<std::uint64_t>(at, v.sectionEnd)), false);
}

StatusCode TextView_ScrollHorizontal(EngineObject* view, std::uint32_t, std::uint16_t code,
                                     std::uint32_t value) noexcept {
  TextView& v = TextViewOf(view);
  const std::int32_t w = v.viewWidth, cw = v.contentWidth, d = v.hScroll;
  const std::int32_t room = cw - w - d, step = w / 16, last = std::max(0, cw - w);
  std::int32_t nd = d;
  switch (code) {
    case 1:
      if (d == 0) return kOk;
      nd = std::max(0, d - step);
      break;
    case 2:
      if (room < 1) return kOk;
      nd = step >= room ? last : d + step;
      break;
    case 3:
      if (d == 0) return kOk;
      nd = d < w - step ? 0 : d + step - w;
      break;
    case 4:
      if (room < 1) return kOk;
      nd = w - step >= room ? last : d + w - step;
      break;
    case 5:
      if (d == 0) return kOk;
      nd = 0;
      break;
    case 6:
      if (room < 1) return kOk;
      nd = last;
      break;
    case 7:
      if (value == static_cast<std::uint32_t>(d)) return kOk;
      nd = (value >= static_cast<std::uint32_t>(cw) || cw - static_cast<std::int64_t>(value) < w)
               ? last
               : static_cast<std::int32_t>(value);
      break;
    default:
      return kNotSupported;
  }
  nd = std::clamp(nd, 0, last);
  if (nd == d) return kOk;
  TextView_HideFocus(v);
  v.hScroll = static_cast<std::uint16_t>(nd);
  if (!Ready(v) || v.table.count == 0) return kOk;
  TextViewDrawScope draw(v.device, nullptr);
  if (IsFailure(draw.status())) return draw.status();
  DeviceContext ctx = draw.ctx();
  const std::int32_t dx = d - nd;
  const std::int16_t h = v.textHeight;
  StatusCode s = kOk;
  DeviceRect strip{0, 0, static_cast<std::int16_t>(w), h};
  if (dx > -w && dx < w) {
    s = dx < 0 ? Dev(v).copyArea(v.device, ctx, Clamp16(-dx), 0, Clamp16(w), h, Clamp16(dx), 0)
               : Dev(v).copyArea(v.device, ctx, 0, 0, Clamp16(w - dx), h, Clamp16(dx), 0);
    strip =
        dx < 0 ? DeviceRect{Clamp16(w + dx), 0, Clamp16(w), h} : DeviceRect{0, 0, Clamp16(dx), h};
  }
  if (s == kOk) {
    DeviceRect previous{};
    s = Dev(v).surfaceCommand(v.device, ctx, &strip, &previous, DeviceSurface::ClipIntersect);
    if (s == kOk) {
      s = TextView_DrawLines(v, ctx, kDrawClear | kDrawSelection, 0, v.table.count,
                             v.table.extraTop, 0, h);
      const StatusCode restored =
          Dev(v).surfaceCommand(v.device, ctx, &previous, nullptr, DeviceSurface::ClipReplace);
      if (s == kOk) s = restored;
    }
  }
  s = draw.Finish(s);
  if (s == kOk && (v.flags & TextViewFlag::HScrollShown))
    s = Dev(v).setHScrollBar(v.device, v.sectionEnd, v.hScroll,
                             static_cast<std::uint32_t>(v.hScroll + w),
                             static_cast<std::uint32_t>(cw));
  return s;
}

// ---------------------------------------------------------------------------
// The snapshot stack.

StatusCode TextView_SnapshotPush(TextView& v, SnapshotHolder holder) noexcept {
  if (holder == nullptr) return kNullOutPointer;
  TextViewSnapshots& st = v.snapshots;
  if (st.top >= kViewSnapshotSize) {
    FreeHolder(st.holders[0]);
    std::memmove(st.holders, st.holders + 1, (kViewSnapshotSize - 1) * sizeof(SnapshotHolder));
    st.top = kViewSnapshotSize - 1;
    st.count = std::min<std::uint8_t>(st.count, kViewSnapshotSize - 1);
  }
  for (std::uint8_t i = st.top; i < st.count; ++i) {
    FreeHolder(st.holders[i]);
    st.holders[i] = nullptr;
  }
  *holder = MakeSnapshot(v, v.history.position, false);
  st.holders[st.top] = holder;
  st.top = static_cast<std::uint8_t>(st.top + 1);
  st.count = st.top;
  return kOk;
}

StatusCode TextView_SnapshotBack(TextView& v, SnapshotHolder* io) noexcept {
  if (io == nullptr || *io == nullptr) return kNullOutPointer;
  TextViewSnapshots& st = v.snapshots;
  if (st.top == 0) return kNoMore;
  st.top = static_cast<std::uint8_t>(st.top - 1);
  SnapshotHolder fresh = *io;
  *fresh = MakeSnapshot(v, v.history.count, true);
  *io = st.holders[st.top];
  st.holders[st.top] = fresh;
  return kOk;
}

StatusCode TextView_SnapshotForward(TextView& v, SnapshotHolder* io) noexcept {
  if (io == nullptr || *io == nullptr) return kNullOutPointer;
  TextViewSnapshots& st = v.snapshots;
  if (st.top >= st.count) return kNoMore;
  SnapshotHolder fresh = *io;
  *fresh = MakeSnapshot(v, v.history.count, false);
  *io = st.holders[st.top];
  st.holders[st.top] = fresh;
  st.top = static_cast<std::uint8_t>(st.top + 1);
  return kOk;
}

StatusCode TextView_SnapshotLoad(TextView& v, std::uint32_t* block, bool layoutB) noexcept {
  if (block == nullptr) {
    v.history.count = v.history.position = 0;
    return TextView_ShowAtTop(v, 0);
  }
  const std::uint32_t n = std::min<std::uint32_t>(block[0], kViewHistorySize);
  const std::uint32_t* entries = block + (layoutB ? 2 : 1);
  // A block never holds more than the list's 16 entries; a larger n is
  // capped and its position word is not trusted.
  const std::uint32_t target =
      layoutB ? block[1] : (block[0] <= kViewHistorySize ? block[n + 1] : 0);
  std::memcpy(v.history.entries, entries, n * sizeof(std::uint32_t));
  v.history.count = static_cast<std::uint8_t>(n);
  v.history.position = layoutB ? 0 : static_cast<std::uint8_t>(n);
  Engine_Free(block);
  return TextView_ShowAtTop(v, target);
}

void TextView_ClearSnapshots(TextView& v) noexcept {
  TextViewSnapshots& st = v.snapshots;
  for (std::uint8_t i = 0; i < st.count && i < kViewSnapshotSize; ++i) {
    FreeHolder(st.holders[i]);
    st.holders[i] = nullptr;
  }
  st.count = st.top = 0;
}
