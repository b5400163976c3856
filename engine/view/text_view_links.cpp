// Link focus and activation: a keyboard focus walked over the links of the
// laid-out lines through the handler's link window (document controls
// 13-19), drawn by inverting the link, and acted on per link class; plus the
// drop-down list that a select-list element opens, fed with keys and pointer
// events until it closes with or without a choice.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdlib>

#include "engine/formats/native_handler.h"
#include "engine/formats/native_link.h"
#include "engine/runtime/allocator.h"
#include "engine/view/text_view_internal.h"

// The records the view hands to document controls 0 to 2, 31 and 33 have
// the native handler's layouts.
static_assert(sizeof(TextViewImageMapHit) == sizeof(NativeImageMapQuery));
static_assert(offsetof(TextViewImageMapHit, linkClass) == offsetof(NativeImageMapQuery, linkClass));
static_assert(sizeof(TextViewObjectData) == sizeof(NativeObjectData));
static_assert(offsetof(TextViewObjectData, size) == offsetof(NativeObjectData, size));
static_assert(offsetof(TextViewLinkDescription, length) == offsetof(NativeLinkTarget, length));

namespace {

std::int16_t Clamp16(std::int64_t value) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(value, INT16_MIN, INT16_MAX));
}

const DocHandlerOps& Doc(const TextView& v) {
  return DocOpsOf(v.handler);
}
const DeviceOps& Dev(const TextView& v) {
  return DeviceOf(v.device);
}

bool Ready(const TextView& v) {
  return v.handler != nullptr && v.device != nullptr && v.table.lines != nullptr;
}

// A walk over the links never takes more steps than this, whatever the
// handler answers.
constexpr int kWalkLimit = 4096;

void ClearFlags(TextView& v, std::uint16_t bits) {
  v.flags &= static_cast<std::uint16_t>(~bits);
}

bool LinkEmpty(const TextView& v) {
  return v.focusLink.linkStart == v.focusLink.linkEnd;
}

bool WindowCurrent(const TextView& v) {
  return (v.flags & TextViewFlag::LinkWindowOpen) && v.table.lines != nullptr &&
         v.focusLink.windowStart == TextView_FirstOffset(v) &&
         v.focusLink.windowEnd == TextView_EndOffset(v);
}

StatusCode Walk(TextView& v, std::uint16_t control) {
  return Doc(v).control(v.handler, control, 0, &v.focusLink);
}

constexpr std::uint16_t kWindowOpen = 13, kFirst = 14, kPrevious = 15, kNext = 16, kLast = 17,
                        kWindowClose = 18;

StatusCode OpenWindow(TextView& v) {
  if (WindowCurrent(v)) return kOk;
  if (v.flags & TextViewFlag::LinkWindowOpen) {
    (void)Walk(v, kWindowClose);  // closing a window answers nothing useful
    ClearFlags(v, TextViewFlag::LinkWindowOpen | TextViewFlag::FocusShown);
  }
  v.focusLink.windowStart = TextView_FirstOffset(v);
  v.focusLink.windowEnd = TextView_EndOffset(v);
  const StatusCode s = Walk(v, kWindowOpen);
  if (s != kOk) return s;
  v.flags |= TextViewFlag::LinkWindowOpen;
  v.focusLink.linkEnd = v.focusLink.linkStart;
  return kOk;
}

// kYes when part of [a, b) lies on a visible part of a laid-out line.
StatusCode LinkInView(TextView& v, DeviceContext ctx, std::uint32_t a, std::uint32_t b) {
  const LineTable& t = v.table;
  if (t.lines == nullptr || t.count == 0 || a >= TextView_EndOffset(v)) return kNo;
  std::int32_t bottom = t.extraTop;
  std::int16_t after = 0;
  for (std::uint16_t k = 0; k < t.count && t.lines[k].start < b; ++k) {
    const LineRecord& line = t.lines[k];
    bottom += TextView_SlotHeight(line, after);
    after = line.metrics.extra;
    const std::uint32_t next = t.lines[k + 1].start;
    if (a >= next) continue;
    const std::int32_t top = bottom - (line.metrics.top + line.metrics.height + line.metrics.extra);
    DocLinkVisibility q{
        v.device,    ctx,  Clamp16(-std::int32_t{v.hScroll}), Clamp16(top),      &line.metrics,
        line.start,  next, std::max(a, line.start),           std::min(b, next), v.viewWidth,
        v.textHeight};
    const StatusCode s = Doc(v).control(v.handler, DocControl::RangeVisible, 0, &q);
    if (IsFailure(s)) return s;
    if (s == kYes) return kYes;
  }
  return kNo;
}

// The focus drawn on or off (see TextView_HideFocus).
StatusCode DrawFocus(TextView& v, bool on) {
  if (on) {
    if (!(v.flags & TextViewFlag::FocusShown) || !WindowCurrent(v) || LinkEmpty(v)) {
      ClearFlags(v, TextViewFlag::FocusDrawn);
      return kOk;
    }
    if (v.flags & TextViewFlag::FocusDrawn) return kOk;
    v.flags |= TextViewFlag::FocusDrawn;
    return TextView_DrawRange(v, 1, v.focusLink.linkStart, v.focusLink.linkEnd);
  }
  if (!(v.flags & TextViewFlag::FocusDrawn)) return kOk;
  ClearFlags(v, TextViewFlag::FocusDrawn);
  if (!WindowCurrent(v)) return kOk;  // the lines it was drawn on are gone
  return TextView_DrawRange(v, 0, v.focusLink.linkStart, v.focusLink.linkEnd);
}

// Walks with `control` from the current link until a visible one: 0 (shown
// and drawn) or the walk's answer.
StatusCode WalkToVisible(TextView& v, std::uint16_t control, StatusCode s) {
  TextViewDrawScope draw(v.device, nullptr);
  if (IsFailure(draw.status())) return draw.status();
  for (int guard = 0; s == kOk && guard < kWalkLimit; ++guard) {
    const StatusCode in = LinkInView(v, draw.ctx(), v.focusLink.linkStart, v.focusLink.linkEnd);
    if (IsFailure(in)) return draw.Finish(in);
    if (in == kYes) break;
    s = Walk(v, control);
  }
  if (s == kOk && !LinkEmpty(v)) {
    const StatusCode f = draw.Finish(kOk);
    if (IsFailure(f)) return f;
    v.flags |= TextViewFlag::FocusShown;
    return DrawFocus(v, true);
  }
  return draw.Finish(s == kOk ? kNoMore : s);
}

// First (code 0) or last (code 1) visible link.
StatusCode Edge(TextView& v, bool first) {
  StatusCode s = OpenWindow(v);
  if (s != kOk) return s;
  s = DrawFocus(v, false);
  if (IsFailure(s)) return s;
  s = WalkToVisible(v, first ? kNext : kPrevious, Walk(v, first ? kFirst : kLast));
  if (s != kOk) {
    ClearFlags(v, TextViewFlag::FocusShown);
    v.focusLink.linkEnd = v.focusLink.linkStart;
  }
  return s;
}

// Previous (code 2) or next (code 3) visible link.
StatusCode Step(TextView& v, bool forward, bool wrap) {
  StatusCode s = DrawFocus(v, false);
  if (IsFailure(s)) return s;
  if (!WindowCurrent(v) || LinkEmpty(v)) return Edge(v, forward);
  if (!(v.flags & TextViewFlag::FocusShown)) {
    v.flags |= TextViewFlag::FocusShown;
    return DrawFocus(v, true);
  }
  const LinkRange kept = v.focusLink;
  const std::uint16_t control = forward ? kNext : kPrevious;
  s = WalkToVisible(v, control, Walk(v, control));
  if (s == kOk) return kOk;
  if (wrap) return Edge(v, forward);
  v.focusLink = kept;  // no further link: the focus stays where it was
  const StatusCode d = DrawFocus(v, true);
  return IsFailure(d) ? d : s;
}

// The line holding offset in the table, and the link's left x on it.
bool LinkPlace(TextView& v, DeviceContext ctx, const LinkRange& link, std::uint16_t* line,
               std::int32_t* x) {
  std::int32_t top = 0;
  const std::uint16_t k = TextView_FindLineAtOffset(v, link.linkStart, &top);
  if (k >= v.table.count) return false;
  const LineRecord& r = v.table.lines[k];
  std::int16_t x1 = 0, x2 = 0;
  if (IsFailure(Doc(v).positionToX(v.handler, v.device, ctx, r.start, link.linkStart,
                                   std::min(link.linkEnd, v.table.lines[k + 1].start), &x1, &x2)))
    x1 = 0;
  *line = k;
  *x = r.metrics.indent + x1;
  return true;
}

// The link above (code 4) or below (code 5): on the nearest other line, the
// one horizontally nearest to the focused link.
StatusCode Vertical(TextView& v, bool below, bool wrap) {
  if (!WindowCurrent(v) || LinkEmpty(v)) return Edge(v, below);
  if (!(v.flags & TextViewFlag::FocusShown)) {
    v.flags |= TextViewFlag::FocusShown;
    return DrawFocus(v, true);
  }
  StatusCode s = DrawFocus(v, false);
  if (IsFailure(s)) return s;
  const LinkRange focused = v.focusLink;
  const std::uint16_t forward = below ? kNext : kPrevious, back = below ? kPrevious : kNext;
  TextViewDrawScope draw(v.device, nullptr);
  if (IsFailure(draw.status())) return draw.status();
  std::uint16_t line0 = 0, line1 = 0;
  std::int32_t x0 = 0, x1 = 0;
  if (!LinkPlace(v, draw.ctx(), focused, &line0, &x0)) {
    (void)draw.Finish(kOk);
    return Step(v, below, wrap);
  }
  // The first visible link on another line.
  bool wrapped = false, found = false;
  for (int guard = 0; guard < kWalkLimit; ++guard) {
    s = Walk(v, forward);
    if (s != kOk) {
      if (!wrap || wrapped) break;
      wrapped = true;
      s = Walk(v, below ? kFirst : kLast);
      if (s != kOk) break;
    }
    if (v.focusLink.linkStart == focused.linkStart && v.focusLink.linkEnd == focused.linkEnd) {
      // Round to the focused link again: no other line has one.
      v.focusLink = focused;
      s = draw.Finish(kOk);
      if (IsFailure(s)) return s;
      return Step(v, below, wrap);
    }
    const StatusCode in = LinkInView(v, draw.ctx(), v.focusLink.linkStart, v.focusLink.linkEnd);
    if (IsFailure(in)) return draw.Finish(in);
    if (in == kYes && LinkPlace(v, draw.ctx(), v.focusLink, &line1, &x1) && line1 != line0) {
      found = true;
      break;
    }
  }
  if (!found) {
    v.focusLink = focused;
    s = draw.Finish(IsFailure(s) ? s : kOk);
    const StatusCode d = DrawFocus(v, true);
    return IsFailure(s) ? s : (IsFailure(d) ? d : (s == kOk ? kNoMore : s));
  }
  // Along that line, while the candidate comes nearer to the focused x.
  std::int32_t best = std::abs(x1 - x0);
  for (int guard = 0; best != 0 && guard < kWalkLimit; ++guard) {
    const LinkRange at = v.focusLink;
    if (Walk(v, forward) != kOk) {
      v.focusLink = at;
      break;
    }
    std::uint16_t line = 0;
    std::int32_t x = 0;
    if (!LinkPlace(v, draw.ctx(), v.focusLink, &line, &x) || line != line1 ||
        std::abs(x - x0) >= best) {
      (void)Walk(v, back);  // one step back to the nearest link
      v.focusLink = at;
      break;
    }
    best = std::abs(x - x0);
  }
  s = draw.Finish(kOk);
  if (IsFailure(s)) return s;
  v.flags |= TextViewFlag::FocusShown;
  return DrawFocus(v, true);
}

StatusCode ActivateFocus(TextView& v) {
  if (!(v.flags & TextViewFlag::FocusShown) || !WindowCurrent(v) || LinkEmpty(v))
    return kViewNoFocus;
  {
    TextViewDrawScope draw(v.device, nullptr);
    if (IsFailure(draw.status())) return draw.status();
    const StatusCode in = LinkInView(v, draw.ctx(), v.focusLink.linkStart, v.focusLink.linkEnd);
    const StatusCode s = draw.Finish(IsFailure(in) ? in : kOk);
    if (IsFailure(s)) return s;
    if (in != kYes) return kViewNoFocus;
  }
  std::uint32_t start = 0, end = 0, target = 0;
  const StatusCode cls = TextView_LinkAt(v, v.focusLink.linkStart, &start, &end, &target);
  if (IsFailure(cls)) return cls;
  if (cls == kNotFound) return kViewNoFocus;
  if (v.flags & TextViewFlag::LinksDisabled) return kViewLinkPressed;
  TextView_HideFocus(v);
  return TextView_Activate(v, cls, start, target, nullptr);
}

// Where the element at offset stands on the screen, for opening its list.
bool ElementPlace(TextView& v, std::uint32_t offset, std::int16_t* x, std::int16_t* y,
                  std::int16_t* height, std::int16_t* ascent) {
  std::int32_t top = 0;
  const std::uint16_t k = TextView_FindLineAtOffset(v, offset, &top);
  if (v.table.lines == nullptr || k >= v.table.count) return false;
  const LineRecord& r = v.table.lines[k];
  std::int16_t x1 = 0, x2 = 0;
  TextViewDrawScope draw(v.device, nullptr);
  if (IsFailure(draw.status())) return false;
  if (IsFailure(Doc(v).positionToX(v.handler, v.device, draw.ctx(), r.start, offset, offset + 1,
                                   &x1, &x2)))
    x1 = 0;
  (void)draw.Finish(kOk);  // only measured
  *x = Clamp16(r.metrics.indent + x1 - std::int32_t{v.hScroll});
  *y = Clamp16(top + r.metrics.top);
  *height = r.metrics.height;
  *ascent = r.metrics.ascent;
  return true;
}

// The list's items go back to the handler and the record is freed.
void FreeList(TextView& v) {
  TextViewList* list = v.focusControl;
  if (list == nullptr) return;
  if (v.handler != nullptr) {
    // Releasing the items cannot fail in a way the view could act on.
    (void)Doc(v).control(v.handler, DocControl::SelectListFirst + 1, list->elementTarget,
                         &list->ctl);
  }
  Engine_Free(list);
  v.focusControl = nullptr;
}

StatusCode CancelList(TextView& v) {
  StatusCode s = kOk;
  if (v.focusControl != nullptr && v.focusControl->ctl.list.open && v.device != nullptr)
    s = Dev(v).selectCtlCommand(v.device, SelectCtlCode::Cancel, &v.focusControl->ctl, nullptr);
  FreeList(v);
  ClearFlags(v, TextViewFlag::Dragging);
  v.mode = TextViewMode::Idle;
  return IsFailure(s) ? s : kViewListCancelled;
}

// The list closed with a choice: the handler settles it, and the chosen
// item's link is followed unless the list only records a value.
StatusCode ApplyChoice(TextView& v) {
  v.mode = TextViewMode::Idle;
  ClearFlags(v, TextViewFlag::Dragging);
  TextViewList* list = v.focusControl;
  if (list == nullptr) return kOk;
  const std::uint32_t offset = list->elementOffset, target = list->elementTarget;
  SelectCtl kept = list->ctl;
  kept.items = nullptr;
  FreeList(v);
  StatusCode s = Doc(v).control(v.handler, DocControl::SelectListFirst + 2, target, &kept);
  if (IsFailure(s)) return s;
  if (kept.flags & 0x0002) return kOk;
  std::uint32_t option = kept.chosen;
  const StatusCode cls =
      Doc(v).control(v.handler, DocControl::SelectListFirst + 3, target, &option);
  if (IsFailure(cls)) return cls;
  return TextView_Activate(v, cls, offset, option, nullptr);
}

StatusCode ListAnswer(TextView& v, StatusCode answer) {
  if (IsFailure(answer)) return answer;
  if (answer == kSelectClosedWithChoice) return ApplyChoice(v);
  if (answer == kSelectClosedNoChoice) return CancelList(v);
  return kViewListOpen;
}

// The key a Navigate code becomes in an open list or note box (0: none).
std::uint16_t KeyFor(std::uint16_t code) {
  switch (code) {
    case 1:
      return 7;
    case 2:
      return 8;
    case 5:
    case 7:
    case 9:
    case 24:
      return 9;
    case 6:
    case 8:
    case 10:
    case 25:
      return 10;
    case 11:
    case 12:
    case 13:
    case 14:
      return code;
    default:
      return 0;
  }
}

}  // namespace

void TextView_HideFocus(TextView& v) noexcept {
  if (v.flags & TextViewFlag::FocusDrawn) {
    // Hiding is part of other moves; a failed redraw shows on the next paint.
    (void)DrawFocus(v, false);
  }
  ClearFlags(v, TextViewFlag::FocusShown | TextViewFlag::FocusDrawn);
}

StatusCode TextView_LinkAt(TextView& v, std::uint32_t offset, std::uint32_t* start,
                           std::uint32_t* end, std::uint32_t* target) noexcept {
  if (v.handler == nullptr) return kNotFound;
  std::uint32_t a = 0, b = 0, t = 0;
  const StatusCode s = Doc(v).getLinkAt(v.handler, offset, &a, &b, &t);
  if (IsFailure(s) || s == kNotFound || a >= b || offset < a || offset >= b) return kNotFound;
  *start = a;
  *end = b;
  *target = t;
  return s;
}

StatusCode TextView_Activate(TextView& v, StatusCode cls, std::uint32_t start, std::uint32_t target,
                             const DevicePoint* point) noexcept {
  if (v.flags & TextViewFlag::LinksDisabled) return kViewLinkPressed;
  if (v.device != nullptr) {
    // A notice that cannot sound changes nothing about the link.
    (void)Dev(v).notify(v.device, DeviceNotice::LinkActivated);
  }
  if (cls == kDocTargetImageMap) {
    // The handler turns the point on the image into the target it names.
    TextViewImageMapHit hit{start, target, point != nullptr ? point->x : std::int16_t{0},
                            point != nullptr ? point->y : std::int16_t{0}, kDocLinkNoTarget};
    const StatusCode answer = Doc(v).control(v.handler, DocControl::ImageMapHit, start, &hit);
    if (IsFailure(answer)) return answer == kFailed ? kViewNoTarget : answer;
    if (answer != kDocImageMapHit || hit.linkClass == kDocTargetImageMap) return kViewNoTarget;
    cls = hit.linkClass;
    target = hit.target;
  }
  if (cls == kOk) {
    TextView_PushVisited(v, TextView_FirstOffset(v));
    return TextView_GoToOffset(v, target, false);
  }
  if (cls == kDocLinkHostCode) {
    v.savedLinkTarget = target;
    return kViewHostActs;
  }
  if (cls == kDocLinkNoTarget) return kViewNoTarget;
  if (cls == kDocTargetSelectList) {
    std::int16_t x = 0, y = 0, h = 0, a = 0;
    if (!ElementPlace(v, start, &x, &y, &h, &a)) return kViewNoTarget;
    const StatusCode s = TextView_OpenList(v, start, target, x, y, h, a);
    return IsFailure(s) ? s : kViewListOpen;
  }
  if (cls == kDocTargetCalendar || cls == kDocTargetCard) {
    const std::uint16_t kind = cls == kDocTargetCalendar ? kVObjectCalendar : kVObjectCard;
    TextViewObjectData data{target, kind, nullptr, 0};
    StatusCode s = Doc(v).control(v.handler, DocControl::ExtraString, target, &data);
    if (IsFailure(s) || data.data == nullptr) return IsFailure(s) ? s : kViewNoTarget;
    s = Dev(v).openVObject(v.device, kind, data.size, data.data);
    // The data goes back to the handler whatever the device did with it.
    (void)Doc(v).control(v.handler, DocControl::FreeBuffer, 0, &data);
    return s;
  }
  return cls;
}

StatusCode TextView_FocusCommand(EngineObject* view, std::uint16_t code,
                                 std::uint32_t argument) noexcept {
  TextView& v = TextViewOf(view);
  const bool wrap = (argument & 1) != 0;
  if (code <= 5 && !Ready(v)) return kViewNotLaidOut;
  switch (code) {
    case 0:
    case 1:
      return Edge(v, code == 0);
    case 2:
    case 3:
      return Step(v, code == 3, wrap);
    case 4:
    case 5:
      return Vertical(v, code == 5, wrap);
    case 6:
      return ActivateFocus(v);
    case 7: {
      if ((v.flags & TextViewFlag::FocusShown) && WindowCurrent(v) && !LinkEmpty(v) && Ready(v)) {
        TextViewDrawScope draw(v.device, nullptr);
        if (IsFailure(draw.status())) return draw.status();
        const StatusCode in = LinkInView(v, draw.ctx(), v.focusLink.linkStart, v.focusLink.linkEnd);
        const StatusCode s = draw.Finish(IsFailure(in) ? in : kOk);
        if (IsFailure(s)) return s;
        if (in == kYes) return kYes;
      }
      ClearFlags(v, TextViewFlag::FocusShown | TextViewFlag::FocusDrawn);
      return kNo;
    }
    case 8: {
      const StatusCode s = DrawFocus(v, false);
      ClearFlags(v, TextViewFlag::FocusShown);
      return s;
    }
    default:
      return kNotSupported;
  }
}

StatusCode TextView_OpenList(TextView& v, std::uint32_t offset, std::uint32_t target,
                             std::int16_t x, std::int16_t y, std::int16_t height,
                             std::int16_t ascent) noexcept {
  if (v.handler == nullptr || v.device == nullptr) return kViewNoContent;
  if (v.focusControl != nullptr) (void)CancelList(v);  // one list at a time
  TextViewList* list = nullptr;
  StatusCode s = Engine_AllocArray(1, &list);
  if (s != kOk) return s;
  *list = TextViewList{};
  list->elementOffset = offset;
  list->elementTarget = target;
  s = Doc(v).control(v.handler, DocControl::SelectListFirst, target, &list->ctl);
  if (IsFailure(s)) {
    Engine_Free(list);
    return s;
  }
  v.focusControl = list;
  // The element's style; a handler that gives none leaves the default font.
  DeviceFontSpec font{DeviceFace::Default, 10, 0, {}, {}};
  if (IsFailure(Doc(v).getCharStyle(v.handler, v.device, offset, &font, nullptr, nullptr)))
    font = DeviceFontSpec{DeviceFace::Default, 10, 0, {}, {}};
  list->ctl.font = font;
  list->x = x;
  list->y = y;
  list->height = height;
  list->ascent = ascent;
  list->ctl.closed.x = x;
  list->ctl.closed.baseline = Clamp16(std::int32_t{y} + ascent);
  list->ctl.closed.lineTop = y;
  list->ctl.closed.lineHeight = height;
  s = Dev(v).selectCtlCommand(v.device, SelectCtlCode::Open, &list->ctl, nullptr);
  if (IsFailure(s)) {
    FreeList(v);
    return s;
  }
  v.mode = TextViewMode::ListOpen;
  return kOk;
}

StatusCode TextView_ListPointer(TextView& v, std::uint16_t event, std::int16_t x,
                                std::int16_t y) noexcept {
  if (v.focusControl == nullptr) {
    v.mode = TextViewMode::Idle;
    return kOk;
  }
  DevicePoint point{x, y};
  SelectCtl* ctl = &v.focusControl->ctl;
  switch (event) {
    case 1:
      return ListAnswer(v, Dev(v).selectCtlCommand(v.device, SelectCtlCode::PenDown, ctl, &point));
    case 2: {
      const StatusCode s = Dev(v).selectCtlCommand(v.device, SelectCtlCode::Track, ctl, &point);
      return IsFailure(s) ? s : kOk;
    }
    case 3:
      return ListAnswer(v, Dev(v).selectCtlCommand(v.device, SelectCtlCode::PenUp, ctl, &point));
    default:
      return kOk;
  }
}

StatusCode TextView_ListControl(TextView& v, std::uint16_t code, std::uint32_t argument,
                                void* io) noexcept {
  if (v.mode != TextViewMode::ListOpen || v.focusControl == nullptr) return kViewNoList;
  SelectCtl* ctl = &v.focusControl->ctl;
  switch (code) {
    case 15:
      return ListAnswer(v, Dev(v).selectCtlCommand(v.device, SelectCtlCode::Commit, ctl, nullptr));
    case 16:
      return CancelList(v);
    case 38: {
      if (io == nullptr) return kNullOutPointer;
      auto* info = static_cast<TextViewListInfo*>(io);
      info->itemCount = ctl->itemCount;
      info->items = ctl->items;
      return kOk;
    }
    case 39:
      if (io == nullptr) return kNullOutPointer;
      *static_cast<std::uint16_t*>(io) = ctl->chosen;
      return kOk;
    case 40: {
      const auto item = static_cast<std::int16_t>(argument);
      return ListAnswer(v, Dev(v).selectCtlCommand(v.device, SelectCtlCode::SelectAndCommit, ctl,
                                                   const_cast<std::int16_t*>(&item)));
    }
    default:
      return kNotSupported;
  }
}

StatusCode TextView_RouteKey(TextView& v, std::uint16_t code) noexcept {
  const std::uint16_t key = KeyFor(code);
  if (key == 0) return kNotSupported;
  // A key's answer is returned as it is, unless it closed the list or box.
  if (v.mode == TextViewMode::ListOpen && v.focusControl != nullptr) {
    const StatusCode s = Dev(v).selectCtlCommand(v.device, key, &v.focusControl->ctl, nullptr);
    return s == kSelectClosedWithChoice || s == kSelectClosedNoChoice ? ListAnswer(v, s) : s;
  }
  if (v.mode == TextViewMode::NoteBox && v.annotBinding != nullptr &&
      v.annotBinding->edit != nullptr) {
    std::uint16_t button = 0;
    const StatusCode s = Dev(v).noteBoxCommand(v.device, key, &v.annotBinding->edit->box, &button);
    return s == kNoteBoxClosedButton || s == kNoteBoxClosedOutside ? TextView_NoteAnswer(v, s) : s;
  }
  return kNotSupported;
}

void TextView_LeaveModes(TextView& v) noexcept {
  if (v.focusControl != nullptr) {
    // The list goes with the document or the mode: its pixels come back if
    // the device still can, and nothing else depends on the answer.
    (void)CancelList(v);
  }
  if (v.annotBinding != nullptr && v.annotBinding->edit != nullptr) {
    if (v.annotBinding->edit->box.open && v.device != nullptr)
      (void)Dev(v).noteBoxCommand(v.device, NoteBoxCode::Cancel, &v.annotBinding->edit->box,
                                  nullptr);  // closing only puts the pixels back
    TextView_FreeNoteEdit(v);
  }
  ClearFlags(v, TextViewFlag::Dragging);
  v.mode = TextViewMode::Idle;
}
