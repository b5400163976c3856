// The line table: formatting forward and backward, laying out, scrolling by
// copying the picture and drawing the uncovered band, painting and the bars.
#include <algorithm>
#include <climits>
#include <cstring>

#include "engine/formats/text_search.h"
#include "engine/runtime/allocator.h"
#include "engine/view/text_view_internal.h"

namespace {

bool Paged(const TextView& v) {
  return (v.flags & TextViewFlag::Paginated) != 0;
}

std::int16_t Clamp16(std::int64_t value) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(value, INT16_MIN, INT16_MAX));
}

const DocHandlerOps& Doc(const TextView& v) {
  return DocOpsOf(v.handler);
}
const DeviceOps& Dev(const TextView& v) {
  return DeviceOf(v.device);
}

StatusCode MapByKey(const TextView& v, std::uint32_t* key, std::uint32_t* y) {
  return Dev(v).posMapCommand(v.device, PosMapCode::FindByKey, key, y);
}
StatusCode MapByValue(const TextView& v, std::uint32_t* key, std::uint32_t* y) {
  return Dev(v).posMapCommand(v.device, PosMapCode::FindByValue, key, y);
}

// Walks a run of lines by the spacing rule, calling f(index, slotTop, slotBottom).
template <class F>
std::int32_t WalkLines(const LineRecord* lines, std::uint16_t count, std::int32_t y0, F&& f) {
  std::int32_t y = y0;
  std::int16_t after = 0;
  for (std::uint16_t i = 0; i < count; ++i) {
    const LineRecord& r = lines[i];
    y -= std::min(after, r.metrics.top);
    const std::int32_t bottom = y + r.metrics.top + r.metrics.height + r.metrics.extra;
    if (!f(i, y, bottom)) return bottom;
    y = bottom;
    after = r.metrics.extra;
  }
  return y;
}

// Keeps the lines down to the first whose bottom reaches textHeight (the
// same rule as formatting forward), and fixes count, the end record and the
// bottom. endOffset is the start after lines[n - 1].
void TrimTable(TextView& v, std::uint16_t n, std::uint32_t endOffset) {
  LineTable& t = v.table;
  std::uint16_t keep = n;
  std::int32_t bottom = t.extraTop;
  WalkLines(t.lines, n, t.extraTop, [&](std::uint16_t i, std::int32_t, std::int32_t b) {
    bottom = b;
    if (b >= v.textHeight) {
      keep = static_cast<std::uint16_t>(i + 1);
      return false;
    }
    return true;
  });
  if (keep < n) endOffset = t.lines[keep].start;
  t.count = keep;
  t.lines[keep].start = endOffset;
  t.bottom = Clamp16(n == 0 ? t.extraTop : bottom);
  v.topOffset = t.lines[0].start;
}

// The buffer new lines are formatted into during a move: the second array
// when there is one, else a temporary one of the same capacity.
struct MoveBuffer {
  LineRecord* lines = nullptr;
  EngineBuffer<LineRecord> owned;
  StatusCode Get(TextView& v) {
    if (v.table.scratch != nullptr) {
      lines = v.table.scratch;
      return kOk;
    }
    LineRecord* p = nullptr;
    const StatusCode s = Engine_AllocArray(v.table.capacity, &p);
    if (s != kOk) return s;
    owned.reset(p);
    lines = p;
    return kOk;
  }
};

StatusCode SetClip(TextView& v, DeviceContext ctx, DeviceRect rect, DeviceRect* previous) {
  return Dev(v).surfaceCommand(v.device, ctx, &rect, previous, DeviceSurface::ClipIntersect);
}
StatusCode RestoreClip(TextView& v, DeviceContext ctx, DeviceRect previous) {
  return Dev(v).surfaceCommand(v.device, ctx, &previous, nullptr, DeviceSurface::ClipReplace);
}

// Shows a vertical move of the whole picture by dy (positive: down) whose
// new lines are already in the table.
StatusCode ShowMove(TextView& v, DeviceContext ctx, std::int32_t dy, bool gentle) {
  const std::int16_t w = v.viewWidth, h = v.textHeight;
  const std::int32_t a = dy > 0 ? dy : -dy;
  const std::int32_t bandTop = dy > 0 ? 0 : h - a, bandBottom = dy > 0 ? a : h;
  const std::int32_t y0 = v.table.extraTop;
  if (v.options & TextViewOption::CopyOnce) {
    StatusCode s = dy > 0 ? Dev(v).copyArea(v.device, ctx, 0, 0, w, Clamp16(h - a), 0, Clamp16(a))
                          : Dev(v).copyArea(v.device, ctx, 0, Clamp16(a), w, h, 0, Clamp16(-a));
    if (IsFailure(s)) return s;
    DeviceRect previous{};
    s = SetClip(v, ctx, {0, Clamp16(bandTop), w, Clamp16(bandBottom)}, &previous);
    if (IsFailure(s)) return s;
    s = TextView_DrawLines(v, ctx, kDrawClear | kDrawSelection, 0, v.table.count, y0, bandTop,
                           bandBottom);
    const StatusCode restored = RestoreClip(v, ctx, previous);
    return IsFailure(s) ? s : restored;
  }
  // Animated: the new picture is drawn off screen, then the window picture
  // is shifted step by step and the revealed strip copied in.
  StatusCode s =
      Dev(v).surfaceCommand(v.device, ctx, nullptr, nullptr, DeviceSurface::BeginOffscreen);
  if (IsFailure(s)) return s;
  s = TextView_DrawLines(v, ctx, kDrawClear | kDrawSelection, 0, v.table.count, y0, 0, h);
  const StatusCode e =
      Dev(v).surfaceCommand(v.device, ctx, nullptr, nullptr, DeviceSurface::EndOffscreen);
  if (IsFailure(s)) return s;
  if (IsFailure(e)) return e;
  std::int32_t step = (gentle && (v.options & TextViewOption::GentleStart)) ? 1 : a;
  std::int32_t threshold = std::max(1, h / 16);
  std::int32_t moved = 0;
  while (moved < a) {
    const std::int32_t m = std::min(step, a - moved);
    s = dy > 0 ? Dev(v).copyArea(v.device, ctx, 0, 0, w, Clamp16(h - m), 0, Clamp16(m))
               : Dev(v).copyArea(v.device, ctx, 0, Clamp16(m), w, h, 0, Clamp16(-m));
    if (IsFailure(s)) return s;
    moved += m;
    DeviceRect src = dy > 0 ? DeviceRect{0, Clamp16(a - moved), w, Clamp16(a)}
                            : DeviceRect{0, Clamp16(h - a), w, Clamp16(h - a + moved)};
    DevicePoint to{0, Clamp16(dy > 0 ? 0 : h - moved)};
    s = Dev(v).surfaceCommand(v.device, ctx, &src, &to, DeviceSurface::OffscreenToWindow);
    if (IsFailure(s)) return s;
    if (step < 256 && moved >= threshold) {
      step = step == 1 ? 4 : step == 4 ? 64 : 256;
      threshold *= 2;
    }
  }
  return Dev(v).validateRect(v.device, 0, 0, w, h);
}

}  // namespace

// ---------------------------------------------------------------------------

TextViewDrawScope::TextViewDrawScope(EngineObject* device, DeviceContext ctx) noexcept
    : device_(device), ctx_(ctx), status_(kViewNoContent), open_(false) {
  if (device_ == nullptr) return;
  status_ = DeviceOf(device_).beginDraw(device_, &ctx_);
  open_ = status_ == kOk;
}

StatusCode TextViewDrawScope::Finish(StatusCode result) noexcept {
  if (!open_) return result;
  open_ = false;
  const StatusCode e = DeviceOf(device_).endDraw(device_, ctx_);
  return IsFailure(result) || !IsFailure(e) ? result : e;
}

void TextView_ApplyMinHeight(LineRecord* line) noexcept {
  LineMetrics& m = line->metrics;
  const std::int32_t sum = m.top + m.height + m.extra;
  if (sum < kViewMinLineHeight) m.height = Clamp16(m.height + kViewMinLineHeight - sum);
}

std::int32_t TextView_SlotHeight(const LineRecord& line, std::int16_t prevAfter) noexcept {
  const LineMetrics& m = line.metrics;
  return m.top + m.height + m.extra - std::min(prevAfter, m.top);
}

std::uint16_t TextView_FindLineAtY(const TextView& v, std::int32_t y, std::int32_t* top) noexcept {
  const LineTable& t = v.table;
  if (t.lines == nullptr) return 0;
  std::uint16_t found = t.count;
  std::int32_t foundTop = t.bottom;
  WalkLines(t.lines, t.count, t.extraTop, [&](std::uint16_t i, std::int32_t slotTop, std::int32_t) {
    const LineMetrics& m = t.lines[i].metrics;
    std::int32_t reach = slotTop + m.top + m.height;  // bottom of the text box
    if (i + 1 < t.count) {
      // The gap to the next line is shared in proportion to the two spaces
      // (a handler's negative space counts as none, so the sum cannot be 0).
      const std::int32_t after = std::max<std::int32_t>(m.extra, 0);
      const std::int32_t before = std::max<std::int32_t>(t.lines[i + 1].metrics.top, 0);
      const std::int32_t gap = std::max(after, before);
      reach += before == 0 ? gap : gap * after / (after + before);
    } else {
      reach += m.extra;
    }
    if (reach > y) {
      found = i;
      foundTop = slotTop;
      return false;
    }
    return true;
  });
  if (top != nullptr) *top = foundTop;
  return found;
}

std::uint16_t TextView_FindLineAtOffset(const TextView& v, std::uint32_t offset,
                                        std::int32_t* top) noexcept {
  const LineTable& t = v.table;
  if (t.lines == nullptr) return 0;
  std::uint16_t found = t.count;
  std::int32_t foundTop = t.bottom;
  WalkLines(t.lines, t.count, t.extraTop, [&](std::uint16_t i, std::int32_t slotTop, std::int32_t) {
    if (t.lines[i + 1].start > offset) {
      found = i;
      foundTop = slotTop;
      return false;
    }
    return true;
  });
  if (top != nullptr) *top = foundTop;
  return found;
}

std::int32_t TextView_GetOverflowHeight(const TextView& v) noexcept {
  return std::max<std::int32_t>(0, v.table.bottom - v.textHeight);
}

StatusCode TextView_FormatLineRun(TextView& v, DeviceContext ctx, LineRecord* lines,
                                  std::uint16_t first, std::uint16_t limit, std::uint32_t from,
                                  std::uint32_t to, std::int32_t fill, std::int16_t prevAfter,
                                  std::uint16_t* count, std::uint32_t* next,
                                  std::int32_t* used) noexcept {
  const std::uint16_t maxLines = limit;
  std::uint16_t n = 0;
  std::uint32_t at = from;
  std::int32_t sum = 0;
  std::int16_t after = prevAfter;
  StatusCode result = kOk;
  while (n < maxLines && at < to && at < v.sectionEnd && sum < fill) {
    LineRecord& r = lines[first + n];
    r = LineRecord{};
    std::uint32_t nextStart = 0;
    const StatusCode s = Doc(v).layoutLine(v.handler, v.device, ctx, at, v.sectionEnd, v.viewWidth,
                                           &nextStart, &r.metrics);
    if (s == kNoMore) break;
    if (IsFailure(s)) {
      result = s;
      break;
    }
    if (nextStart <= at) break;  // a handler that makes no progress ends the run
    TextView_ApplyMinHeight(&r);
    r.start = at;
    r.xShift = 0;
    r.lineFlags = r.metrics.indent + r.metrics.width > v.viewWidth ? kLineWiderThanView : 0;
    sum += TextView_SlotHeight(r, after);
    after = r.metrics.extra;
    at = nextStart;
    ++n;
  }
  lines[first + n].start = at;
  *count = n;
  *next = at;
  *used = sum;
  return result;
}

StatusCode TextView_StartAbove(TextView& v, DeviceContext ctx, std::uint32_t offset,
                               std::int32_t height, std::uint32_t* start,
                               std::int32_t* extraTop) noexcept {
  if (height <= 0 || offset <= v.sectionStart) {
    *start = std::max(offset, v.sectionStart);
    *extraTop = height;
    return kOk;
  }
  if (Paged(v)) {
    std::uint32_t key = offset - v.sectionStart, y = 0;
    StatusCode s = MapByKey(v, &key, &y);
    if (s == kOk || s == kNoMore) {
      if (height < static_cast<std::int64_t>(y)) {
        std::uint32_t k = 0, wy = y - static_cast<std::uint32_t>(height);
        s = MapByValue(v, &k, &wy);
        if (s == kOk) {
          *start = v.sectionStart + k;
          *extraTop = static_cast<std::int32_t>(height + static_cast<std::int64_t>(wy) - y);
          return kOk;
        }
      } else {
        *start = v.sectionStart;
        *extraTop = static_cast<std::int32_t>(height - static_cast<std::int64_t>(y));
        return kOk;
      }
    }
  }
  std::int32_t remaining = height;
  std::uint32_t at = offset;
  std::int16_t overlap = 0;
  while (remaining > 0 && at > v.sectionStart) {
    std::uint32_t s0 = at;
    std::int16_t h = Clamp16(remaining), ov = overlap, lines = 0;
    const StatusCode s = Doc(v).findLineAbove(v.handler, v.device, ctx, at, v.sectionStart,
                                              v.viewWidth, 0, &s0, &h, &ov, &lines);
    if (IsFailure(s)) return s;
    if (h <= 0 || s0 >= at) break;
    remaining -= h;
    at = s0;
    overlap = ov;
  }
  *start = at;
  *extraTop = remaining;
  return kOk;
}

StatusCode TextView_Relayout(TextView& v, DeviceContext ctx, std::int32_t extraTop,
                             std::uint32_t offset) noexcept {
  LineTable& t = v.table;
  if (t.lines == nullptr) return kViewNotLaidOut;
  if (v.handler == nullptr || v.device == nullptr) return kViewNoContent;
  TextView_ResetTable(v, offset);
  t.extraTop = Clamp16(extraTop);
  std::uint16_t n = 0;
  std::uint32_t next = offset;
  std::int32_t used = 0;
  const std::uint16_t limit = static_cast<std::uint16_t>(t.capacity - 1);
  StatusCode s = TextView_FormatLineRun(v, ctx, t.lines, 0, limit, offset, v.sectionEnd,
                                        v.textHeight - t.extraTop, 0, &n, &next, &used);
  if (s == kOk && t.extraTop + used < v.textHeight &&
      !(offset <= v.sectionStart && t.extraTop == 0)) {
    // The section ends above the bottom: fill the screen from above.
    std::uint32_t start = offset;
    std::int32_t top = 0;
    s = TextView_StartAbove(v, ctx, next, v.textHeight, &start, &top);
    if (s == kOk) {
      top = std::min(top, 0);
      TextView_ResetTable(v, start);
      t.extraTop = Clamp16(top);
      s = TextView_FormatLineRun(v, ctx, t.lines, 0, limit, start, v.sectionEnd,
                                 v.textHeight - t.extraTop, 0, &n, &next, &used);
    }
  }
  t.count = n;
  t.lines[n].start = next;
  t.bottom = Clamp16(t.extraTop + used);
  v.topOffset = t.lines[0].start;
  return s;
}

StatusCode TextView_LineBefore(TextView& v, DeviceContext ctx, std::uint32_t offset,
                               std::uint32_t* start, LineRecord* record) noexcept {
  if (offset <= v.sectionStart) return kNoMore;
  std::uint32_t lineStart = 0;
  if (Paged(v)) {
    std::uint32_t key = offset - v.sectionStart, y = 0;
    StatusCode s = MapByKey(v, &key, &y);
    if ((s == kOk || s == kNoMore) && y > 0) {
      std::uint32_t k = 0, wy = y - 1;
      s = MapByValue(v, &k, &wy);
      if (s == kOk) {
        lineStart = v.sectionStart + k;
        if (record != nullptr) {
          *record = LineRecord{};
          std::uint32_t next = 0;
          s = Doc(v).layoutLine(v.handler, v.device, ctx, lineStart, v.sectionEnd, v.viewWidth,
                                &next, &record->metrics);
          if (IsFailure(s)) return s;
          TextView_ApplyMinHeight(record);
          record->start = lineStart;
        }
        *start = lineStart;
        return kOk;
      }
    }
  }
  LineRecord r{};
  std::uint32_t end = 0;
  const StatusCode s = Doc(v).findLine(v.handler, v.device, ctx, offset, v.sectionStart,
                                       v.viewWidth, &lineStart, &end, &r.metrics);
  if (IsFailure(s)) return s;
  if (s == kNoMore || lineStart >= offset) return kNoMore;
  TextView_ApplyMinHeight(&r);
  r.start = lineStart;
  if (record != nullptr) *record = r;
  *start = lineStart;
  return kOk;
}

StatusCode TextView_LineStartOf(TextView& v, DeviceContext ctx, std::uint32_t offset,
                                std::uint32_t* start) noexcept {
  // An empty section has one position, its start (no "end - 1" to wrap).
  if (v.sectionEnd <= v.sectionStart) {
    *start = v.sectionStart;
    return kOk;
  }
  offset = std::clamp(offset, v.sectionStart, v.sectionEnd - 1);
  if (Paged(v)) {
    std::uint32_t key = offset - v.sectionStart, y = 0;
    if (MapByKey(v, &key, &y) == kOk) {
      *start = v.sectionStart + key;
      return kOk;
    }
  }
  std::uint32_t lineStart = 0, end = 0;
  const StatusCode s = Doc(v).findLine(v.handler, v.device, ctx, offset + 1, v.sectionStart,
                                       v.viewWidth, &lineStart, &end, nullptr);
  if (IsFailure(s)) return s;
  *start = offset < end ? std::max(lineStart, v.sectionStart) : end;
  return kOk;
}

StatusCode TextView_ScrollBy(TextView& v, std::int32_t amount, bool gentle,
                             std::int32_t* moved) noexcept {
  if (moved != nullptr) *moved = 0;
  LineTable& t = v.table;
  if (t.lines == nullptr) return kViewNotLaidOut;
  if (v.handler == nullptr || v.device == nullptr) return kViewNoContent;
  if (t.count == 0 || amount == 0) return kOk;
  amount = std::clamp<std::int32_t>(amount, -v.textHeight, v.textHeight);
  TextViewDrawScope draw(v.device, nullptr);
  if (IsFailure(draw.status())) return draw.status();
  DeviceContext ctx = draw.ctx();
  MoveBuffer buffer;
  StatusCode s = buffer.Get(v);
  if (s != kOk) return draw.Finish(s);
  LineRecord* b = buffer.lines;
  const std::uint16_t limit = static_cast<std::uint16_t>(t.capacity - 1);

  if (amount > 0) {
    const std::uint32_t oldFirst = t.lines[0].start;
    const std::int32_t need = amount + t.extraTop;
    std::uint16_t n = 0;
    std::int32_t stacked = 0;
    if (need > 0 && oldFirst > v.sectionStart) {
      std::uint32_t from = oldFirst, next = 0;
      std::int32_t top = 0, used = 0;
      s = TextView_StartAbove(v, ctx, oldFirst, need, &from, &top);
      if (s == kOk)
        s = TextView_FormatLineRun(v, ctx, b, 0, limit, from, oldFirst, INT32_MAX, 0, &n, &next,
                                   &used);
      if (IsFailure(s)) return draw.Finish(s);
      if (next != oldFirst) n = 0;  // the run did not join the table: take nothing
      if (n > 0) stacked = used - std::min(b[n - 1].metrics.extra, t.lines[0].metrics.top);
    }
    // A gap above the new first line means the section start (or all the
    // handler could give) came first: move only what is there.
    std::int32_t newTop = t.extraTop + amount - stacked;
    if (newTop > 0) {
      amount -= newTop;
      newTop = 0;
    }
    if (amount <= 0) return draw.Finish(kOk);
    const std::uint32_t oldEnd = t.lines[t.count].start;
    const std::uint16_t kept = static_cast<std::uint16_t>(std::min<int>(t.count, limit - n));
    const std::uint32_t endOffset = kept < t.count ? t.lines[kept].start : oldEnd;
    std::memmove(t.lines + n, t.lines, sizeof(LineRecord) * kept);
    std::memcpy(t.lines, b, sizeof(LineRecord) * n);
    t.extraTop = Clamp16(newTop);
    TrimTable(v, static_cast<std::uint16_t>(n + kept), endOffset);
    s = ShowMove(v, ctx, amount, gentle);
    if (moved != nullptr) *moved = amount;
  } else {
    std::int32_t d = -amount;
    const std::uint32_t endOffset = t.lines[t.count].start;
    const bool atEnd = endOffset >= v.sectionEnd;
    if (atEnd && (t.bottom <= v.textHeight || t.count < 2)) return draw.Finish(kOk);
    const std::int32_t overflow = TextView_GetOverflowHeight(v);
    std::uint16_t n = 0;
    std::uint32_t next = endOffset;
    std::int32_t used = 0;
    if (d > overflow && !atEnd) {
      s = TextView_FormatLineRun(v, ctx, b, 0, limit, endOffset, v.sectionEnd, d - overflow,
                                 t.lines[t.count - 1].metrics.extra, &n, &next, &used);
      if (IsFailure(s)) return draw.Finish(s);
    }
    d = std::min<std::int32_t>(d, t.bottom + used - v.textHeight);
    if (d <= 0) return draw.Finish(kOk);
    // Lines that leave the screen entirely go (old ones, and new ones when
    // the move is longer than the old table); the rest move up.
    std::uint16_t drop = 0;
    std::int32_t newTop = t.extraTop - d;
    {
      std::int32_t y = t.extraTop - d;
      std::int16_t after = 0;
      const int total = t.count + n;
      for (int i = 0; i < total; ++i) {
        const LineRecord& r = i < t.count ? t.lines[i] : b[i - t.count];
        y -= std::min(after, r.metrics.top);
        const std::int32_t bottom = y + r.metrics.top + r.metrics.height + r.metrics.extra;
        drop = static_cast<std::uint16_t>(i);
        newTop = y;
        if (bottom > 0) break;
        y = bottom;
        after = r.metrics.extra;
      }
    }
    const std::uint16_t keptOld = t.count > drop ? static_cast<std::uint16_t>(t.count - drop) : 0;
    const std::uint16_t newFrom = drop > t.count ? static_cast<std::uint16_t>(drop - t.count) : 0;
    std::memmove(t.lines, t.lines + (t.count - keptOld), sizeof(LineRecord) * keptOld);
    const std::uint16_t added =
        static_cast<std::uint16_t>(std::min<int>(n - newFrom, limit - keptOld));
    std::memcpy(t.lines + keptOld, b + newFrom, sizeof(LineRecord) * added);
    const std::uint32_t endAfter = newFrom + added < n ? b[newFrom + added].start : next;
    t.extraTop = Clamp16(newTop);
    TrimTable(v, static_cast<std::uint16_t>(keptOld + added), endAfter);
    s = ShowMove(v, ctx, -d, gentle);
    if (moved != nullptr) *moved = -d;
  }
  s = draw.Finish(s);
  const StatusCode bar = TextView_UpdateScrollBar(v);
  return IsFailure(s) ? s : (IsFailure(bar) ? bar : kOk);
}

StatusCode TextView_DrawLines(TextView& v, DeviceContext ctx, std::uint16_t drawFlags,
                              std::uint16_t first, std::uint16_t count, std::int32_t y,
                              std::int32_t bandTop, std::int32_t bandBottom) noexcept {
  const LineTable& t = v.table;
  if (t.lines == nullptr) return kViewNotLaidOut;
  StatusCode s = kOk;
  if (drawFlags & kDrawClear) {
    s = Dev(v).fillRect(v.device, ctx, 0, Clamp16(bandTop), v.viewWidth, Clamp16(bandBottom),
                        nullptr);
    if (IsFailure(s)) return s;
  }
  const std::int16_t x = Clamp16(-static_cast<std::int32_t>(v.hScroll));
  const std::uint16_t end = static_cast<std::uint16_t>(std::min<int>(first + count, t.count));
  std::int32_t last = y;
  WalkLines(t.lines + first, static_cast<std::uint16_t>(end - first), y,
            [&](std::uint16_t k, std::int32_t slotTop, std::int32_t bottom) {
              last = bottom;
              if (bottom <= bandTop) return true;
              if (slotTop >= bandBottom) return false;
              const LineRecord& r = t.lines[first + k];
              const std::uint32_t next = t.lines[first + k + 1].start;
              // The handler takes the top of the line's slot for both calls.
              s = Doc(v).drawLineBackground(v.handler, v.device, ctx, x, Clamp16(slotTop),
                                            &r.metrics, v.viewWidth, 0, r.start, next);
              if (IsFailure(s)) return false;
              s = Doc(v).drawLine(v.handler, v.device, ctx, x, Clamp16(slotTop), &r.metrics,
                                  r.start, next);
              if (s == kNoMore) s = kOk;
              return !IsFailure(s);
            });
  if (IsFailure(s)) return s;
  if (last < bandBottom && bandTop <= 0 && bandBottom >= v.textHeight && first + count >= t.count) {
    LineMetrics rest{};
    const std::int32_t from = std::max(last, bandTop);
    rest.height = Clamp16(bandBottom - from);
    s = Doc(v).drawLineBackground(v.handler, v.device, ctx, 0, Clamp16(from), &rest, v.viewWidth, 0,
                                  v.sectionStart, v.sectionStart);
    if (IsFailure(s)) return s;
  }
  // The marks are drawn over the lines: the found range, the selection, a
  // drawn link focus and a pressed element (the last two stay drawn across
  // a repaint, so that hiding them later inverts them back).
  if (drawFlags & kDrawSelection) {
    s = TextView_DrawFoundRange(v, ctx);
    if (!IsFailure(s)) s = TextView_DrawSelection(v, ctx);
    if (!IsFailure(s) && (v.flags & TextViewFlag::FocusDrawn))
      s = TextView_DrawRangeOnLines(v, ctx, 1, v.focusLink.linkStart, v.focusLink.linkEnd);
    if (!IsFailure(s) &&
        (v.mode == TextViewMode::LinkRelease || v.mode == TextViewMode::LinkReleaseAlt))
      s = TextView_DrawRangeOnLines(v, ctx, 1, v.pressOffset, v.pressEnd);
    if (IsFailure(s)) return s;
  }
  return Dev(v).validateRect(v.device, 0, Clamp16(bandTop), v.viewWidth, Clamp16(bandBottom));
}

StatusCode TextView_Redraw(TextView& v) noexcept {
  if (v.device == nullptr || v.handler == nullptr) return kViewNoContent;
  TextViewDrawScope draw(v.device, nullptr);
  if (IsFailure(draw.status())) return draw.status();
  StatusCode s = TextView_DrawLines(v, draw.ctx(), kDrawClear | kDrawSelection, 0, v.table.count,
                                    v.table.extraTop, 0, v.textHeight);
  s = draw.Finish(s);
  const StatusCode bar = TextView_UpdateScrollBar(v);
  return IsFailure(s) ? s : (IsFailure(bar) ? bar : kOk);
}

StatusCode TextView_Paint(EngineObject* view, DeviceContext ctx, std::int16_t, std::int16_t,
                          std::int16_t, std::int16_t) noexcept {
  TextView& v = TextViewOf(view);
  if (v.device == nullptr) return kViewNoContent;
  if (v.table.lines == nullptr) return kViewNotLaidOut;
  if (v.handler == nullptr) {
    TextViewDrawScope draw(v.device, ctx);
    if (IsFailure(draw.status())) return draw.status();
    const StatusCode s =
        Dev(v).fillRect(v.device, draw.ctx(), 0, 0, v.viewWidth, v.viewHeight, nullptr);
    return draw.Finish(s);
  }
  TextViewDrawScope draw(v.device, ctx);
  if (IsFailure(draw.status())) return draw.status();
  DeviceContext c = draw.ctx();
  StatusCode result = TextView_EnsureLayout(v, c);
  if (result == kOk)
    result = TextView_DrawLines(v, c, kDrawSelection, 0, v.table.count, v.table.extraTop, 0,
                                v.textHeight);
  if (result == kOk && (v.flags & TextViewFlag::HScrollShown))
    result = Dev(v).invalidateHScrollBar(v.device, v.sectionEnd);
  // An open list or note box lies over the page: it is drawn again on top.
  if (result == kOk && v.mode == TextViewMode::ListOpen && v.focusControl != nullptr)
    result = Dev(v).selectCtlCommand(v.device, SelectCtlCode::Redraw, &v.focusControl->ctl, &c);
  if (result == kOk && v.mode == TextViewMode::NoteBox && v.annotBinding != nullptr &&
      v.annotBinding->edit != nullptr)
    result = Dev(v).noteBoxCommand(v.device, NoteBoxCode::Redraw, &v.annotBinding->edit->box, &c);
  result = draw.Finish(result);
  const StatusCode bar = TextView_UpdateScrollBar(v);
  return IsFailure(result) ? result : (IsFailure(bar) ? bar : kOk);
}

StatusCode TextView_UpdateScrollBar(TextView& v) noexcept {
  const LineTable& t = v.table;
  if (v.device == nullptr || t.lines == nullptr) return kOk;
  if (Paged(v)) {
    std::uint32_t key = t.lines[0].start - v.sectionStart, y = 0;
    const StatusCode s = MapByKey(v, &key, &y);
    if (s == kOk || s == kNoMore) {
      v.topY = y;
      const std::int64_t top = std::max<std::int64_t>(0, std::int64_t{y} - t.extraTop);
      return Dev(v).setVScroll(v.device, static_cast<std::uint32_t>(top),
                               static_cast<std::uint32_t>(top + v.textHeight), 0xFFFFFFFFu,
                               v.paginatedHeight);
    }
  }
  const std::uint32_t ss = v.sectionStart;
  const std::uint32_t first = t.lines[0].start, end = t.lines[t.count].start;
  const std::uint32_t middle = t.lines[(t.count + 1) / 2].start;
  auto rel = [ss](std::uint32_t o) { return o > ss ? o - ss : 0; };
  return Dev(v).setVScroll(v.device, rel(first), rel(end), rel(middle), rel(v.sectionEnd));
}

StatusCode TextView_SetContentWidth(TextView& v, std::int16_t width) noexcept {
  if (width <= v.contentWidth) return kOk;
  v.contentWidth = width;
  if (v.device == nullptr || v.hScrollBarHeight == 0 || width <= v.viewWidth) return kOk;
  if (!(v.flags & TextViewFlag::HScrollShown)) {
    const StatusCode s = Dev(v).createHScrollBar(v.device, v.sectionEnd, 0,
                                                 Clamp16(v.viewHeight - v.hScrollBarHeight),
                                                 v.viewWidth, v.hScrollBarHeight);
    if (IsFailure(s)) return s;
    v.flags |= TextViewFlag::HScrollShown;
    v.hScroll = 0;
    v.textHeight = Clamp16(v.viewHeight - v.hScrollBarHeight);
    if (v.table.lines != nullptr && v.table.count > 0)
      TrimTable(v, v.table.count, v.table.lines[v.table.count].start);
  }
  return Dev(v).setHScrollBar(v.device, v.sectionEnd, v.hScroll,
                              static_cast<std::uint32_t>(v.hScroll + v.viewWidth),
                              static_cast<std::uint32_t>(width));
}

void TextView_RemoveHScrollBar(TextView& v) noexcept {
  if (!(v.flags & TextViewFlag::HScrollShown)) return;
  // A bar the device no longer knows is gone already; the flag goes either way.
  if (v.device != nullptr) (void)Dev(v).removeHScrollBar(v.device, v.sectionEnd);
  v.flags &= static_cast<std::uint16_t>(~TextViewFlag::HScrollShown);
  v.textHeight = v.viewHeight;
}

StatusCode TextView_EnsureLayout(TextView& v, DeviceContext ctx) noexcept {
  if (v.table.lines == nullptr) return kViewNotLaidOut;
  if (v.handler == nullptr || v.device == nullptr) return kViewNoContent;
  StatusCode s = kOk;
  if (!v.hasSection) {
    std::uint32_t offset = v.topOffset;
    s = TextView_EnsureSectionOf(v, &offset);
    if (IsFailure(s)) {
      // A handler that cannot place the position shows its first section.
      offset = 0;
      s = TextView_GoToSection(v, 0);
      if (s == kNoMore) s = kViewNoContent;
    }
    if (IsFailure(s)) return s;
    TextView_ResetTable(v, offset);
  }
  if (v.table.count != 0) return kOk;
  std::uint32_t start = TextView_FirstOffset(v);
  if (start != v.sectionStart) s = TextView_LineStartOf(v, ctx, start, &start);
  if (s == kOk) s = TextView_Relayout(v, ctx, v.table.extraTop, start);
  return s;
}

StatusCode TextView_MeasureRun(TextView& v, DeviceContext ctx, std::uint32_t from, std::uint32_t to,
                               std::int32_t fill, std::int16_t prevAfter, std::uint16_t* count,
                               std::uint32_t* next, std::int32_t* used,
                               std::int16_t* lastAfter) noexcept {
  MoveBuffer buffer;
  const StatusCode s = buffer.Get(v);
  if (s != kOk) return s;
  const StatusCode r = TextView_FormatLineRun(v, ctx, buffer.lines, 0,
                                              static_cast<std::uint16_t>(v.table.capacity - 1),
                                              from, to, fill, prevAfter, count, next, used);
  if (lastAfter != nullptr) *lastAfter = *count > 0 ? buffer.lines[*count - 1].metrics.extra : 0;
  return r;
}

bool TextView_ShowsWholeSection(const TextView& v) noexcept {
  const LineTable& t = v.table;
  if (t.lines == nullptr || t.count == 0) return false;
  return t.lines[0].start <= v.sectionStart && t.extraTop >= 0 &&
         t.lines[t.count].start >= v.sectionEnd && t.bottom <= v.textHeight;
}
