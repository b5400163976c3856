// Pagination: the section is formatted once, a time slice at a time, and
// every line's (offset, y) pair goes into the device's position map.
#include <algorithm>

#include "engine/runtime/allocator.h"
#include "engine/view/text_view_internal.h"

namespace {

const DeviceOps& Dev(const TextView& v) {
  return DeviceOf(v.device);
}
const DocHandlerOps& Doc(const TextView& v) {
  return DocOpsOf(v.handler);
}

StatusCode Map(const TextView& v, std::uint16_t code, void* in = nullptr, void* out = nullptr) {
  return Dev(v).posMapCommand(v.device, code, in, out);
}

void SetFlag(TextView& v, std::uint16_t flag) {
  v.flags |= flag;
}

}  // namespace

StatusCode TextView_BeginPagination(TextView& v, std::uint16_t keep) noexcept {
  v.flags &= static_cast<std::uint16_t>(
      ~(TextViewFlag::Accepted | TextViewFlag::Paginated | TextViewFlag::PaginationFailed));
  v.paginationCursor = v.sectionStart;
  v.paginatedHeight = 0;
  v.prevSpaceAfter = 0;
  if (v.device == nullptr || v.handler == nullptr) return kOk;
  // A map that keeps the old section's lines would place this one wrongly.
  if (const StatusCode r = Map(v, PosMapCode::Reset); IsFailure(r)) {
    SetFlag(v, TextViewFlag::PaginationFailed);
    return r;
  }
  std::uint32_t word = (v.options & TextViewOption::NeverPaginate) ? 1 : 0;
  const StatusCode s =
      Doc(v).layoutPassStep(v.handler, v.device, nullptr, keep, v.currentSection, &word);
  if (s == kDocTablePassPending) return kOk;  // a later slice asks again
  if (IsFailure(s)) {
    SetFlag(v, TextViewFlag::PaginationFailed);
    return s;
  }
  SetFlag(v, TextViewFlag::Accepted);
  return kOk;
}

StatusCode TextView_PaginateSlice(TextView& v) noexcept {
  if (v.handler == nullptr || v.device == nullptr) return kOk;
  if (v.flags & (TextViewFlag::Paginated | TextViewFlag::PaginationFailed)) return kOk;
  // Codes 15 and 16 frame a slice for devices that watch it; ours ignore them.
  (void)Map(v, 15);
  std::int32_t widest = v.contentWidth;
  StatusCode result = kViewMorePagination;

  if (!(v.flags & TextViewFlag::Accepted)) {
    TextViewDrawScope draw(v.device, nullptr);
    if (IsFailure(draw.status())) return draw.status();
    std::uint32_t word = (v.options & TextViewOption::NeverPaginate) ? 1 : 0;
    const StatusCode s =
        Doc(v).layoutPassStep(v.handler, v.device, draw.ctx(), 2, v.currentSection, &word);
    if (s != kDocTablePassPending)
      SetFlag(v, IsFailure(s) ? TextViewFlag::PaginationFailed : TextViewFlag::Accepted);
    result = draw.Finish(result);
    (void)Map(v, 16);
    return result;
  }

  if (const StatusCode t = Map(v, PosMapCode::StartSlice); IsFailure(t)) return t;
  TextViewDrawScope draw(v.device, nullptr);
  if (IsFailure(draw.status())) return draw.status();
  DeviceContext ctx = draw.ctx();
  const bool inSlice = !(v.options & TextViewOption::NeverPaginate);
  // The in-slice hint only lets a handler defer work; handlers without it
  // answer kNotSupported.
  if (inSlice) (void)Doc(v).control(v.handler, DocControl::SetInSlice, 0, nullptr);

  std::uint32_t cursor = v.paginationCursor;
  std::uint32_t running = v.paginatedHeight;
  std::int16_t prevAfter = v.prevSpaceAfter;
  std::uint32_t lines = 0;
  bool limited = false;
  while (cursor < v.sectionEnd) {
    LineRecord r{};
    std::uint32_t next = 0;
    const StatusCode s = Doc(v).layoutLine(v.handler, v.device, ctx, cursor, v.sectionEnd,
                                           v.viewWidth, &next, &r.metrics);
    if (s == kNoMore) {
      cursor = v.sectionEnd;
      break;
    }
    if (IsFailure(s) || next <= cursor) {
      // A handler that makes no progress would keep the host's timer running
      // for ever: the section is given up like a failed one.
      SetFlag(v, TextViewFlag::PaginationFailed);
      result = IsFailure(s) ? s : kDocMalformed;
      break;
    }
    TextView_ApplyMinHeight(&r);
    const LineMetrics& m = r.metrics;
    const std::uint32_t y = running - static_cast<std::uint32_t>(std::min(prevAfter, m.top));
    widest = std::max<std::int32_t>(widest, m.indent + m.width);
    std::uint32_t key = cursor - v.sectionStart, value = y;
    const StatusCode added = Map(v, PosMapCode::Add, &key, &value);
    if (IsFailure(added)) {
      SetFlag(v, TextViewFlag::PaginationFailed);
      result = added;
      break;
    }
    running = y + static_cast<std::uint32_t>(m.top + m.height + m.extra);
    prevAfter = m.extra;
    cursor = next;
    // The slice limit wins over reaching the end: a slice that used up its
    // lines or its time leaves the finish to the next one.
    if (added == kPosMapSliceElapsed || ++lines >= kViewSliceLines) {
      limited = true;
      break;
    }
  }
  v.paginationCursor = cursor;
  v.paginatedHeight = running;
  v.prevSpaceAfter = prevAfter;
  if (result == kViewMorePagination && !limited && cursor >= v.sectionEnd) {
    std::uint32_t endKey = v.sectionEnd - v.sectionStart, endValue = running;
    const StatusCode f = Map(v, PosMapCode::Finish, &endKey, &endValue);
    if (f == kOk) {
      SetFlag(v, TextViewFlag::Paginated);
      result = kOk;
      const StatusCode bar = TextView_UpdateScrollBar(v);
      if (IsFailure(bar)) result = bar;
    } else {
      SetFlag(v, TextViewFlag::PaginationFailed);
      result = f;
    }
  }
  if (inSlice && !(v.flags & TextViewFlag::Paginated))
    (void)Doc(v).control(v.handler, DocControl::ClearInSlice, 0, nullptr);  // as SetInSlice
  result = draw.Finish(result);
  (void)Map(v, 16);
  if (widest > v.contentWidth) {
    const StatusCode w = TextView_SetContentWidth(
        v, static_cast<std::int16_t>(std::min<std::int32_t>(widest, 32767)));
    if (!IsFailure(result) && IsFailure(w)) result = w;
  }
  return result;
}

StatusCode TextView_Paginate(TextView& v, std::uint16_t keep) noexcept {
  if (v.handler == nullptr || v.device == nullptr) return kOk;
  // Cached select-list sizes depend on the width; handlers without lists
  // answer kNotSupported.
  (void)Doc(v).control(v.handler, DocControl::SelectListLast, 0, nullptr);
  // A section that cannot be paginated is shown in continuous mode (the
  // failure is kept in its flags), so the move that asked still succeeds.
  if (IsFailure(TextView_BeginPagination(v, keep))) return kOk;
  // Nothing is laid out before the viewport is known.
  if ((v.options & TextViewOption::NeverPaginate) || v.table.lines == nullptr || v.viewWidth <= 0)
    return kOk;
  std::uint32_t sectionFlags = 0;
  if (Doc(v).getSectionFlags(v.handler, static_cast<std::int16_t>(v.currentSection),
                             &sectionFlags) != kOk ||
      !(sectionFlags & kSectionNeedsPagination))
    return kOk;
  if (Map(v, PosMapCode::ProgressBegin) == kOk) {
    for (;;) {
      const StatusCode s = TextView_PaginateSlice(v);
      if (v.flags & (TextViewFlag::Paginated | TextViewFlag::PaginationFailed) || IsFailure(s))
        break;
      std::uint32_t done = v.paginationCursor - v.sectionStart;
      std::uint32_t total = v.sectionEnd - v.sectionStart;
      if (Map(v, PosMapCode::ProgressStep, &done, &total) != kOk) break;
    }
  }
  // The end only tells the host's callback; its answer changes nothing.
  (void)Map(v, PosMapCode::ProgressEnd);
  return kOk;
}
