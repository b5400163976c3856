#include "engine/device/select_ctl.h"

#include <algorithm>
#include <cstring>

#include "engine/device/device_painter.h"

namespace {

constexpr DeviceColour kBlack{0, 0, 0};
constexpr DeviceColour kWhite{255, 255, 255};
constexpr DeviceColour kDarkGrey{128, 128, 128};
constexpr DeviceColour kLightGrey{192, 192, 192};
constexpr DeviceColour kFlatBackground{255, 255, 204};

bool Flat(const SelectCtl& c) {
  return (c.flags & SelectCtlFlag::Flat) != 0;
}
int Count(const SelectCtl& c) {
  return c.items != nullptr ? c.itemCount : 0;
}
const char* ItemText(const SelectCtl& c, int item) {
  return item >= 1 && item <= Count(c) ? c.items[item] : nullptr;
}
bool Selectable(const SelectCtl& c, int item) {
  const char* text = ItemText(c, item);
  return text != nullptr && text[0] != '\0';
}
bool HasBackground(const DeviceFontSpec& font) {
  return (font.style & (DeviceFontStyle::BackColour | DeviceFontStyle::BackWins)) != 0;
}

// The item font with its colours forced: flat lists keep the font's own
// colours where it has them, else black on pale yellow; framed lists are
// black on white.
DeviceFontSpec ItemFont(const SelectCtl& c) {
  using namespace DeviceFontStyle;
  DeviceFontSpec f = c.font;
  f.style &= static_cast<std::uint16_t>(~(TextColour | BackColour | BackWins | PlainInverse));
  f.style |= TextColour | BackColour;
  if (Flat(c)) {
    f.text = (c.font.style & TextColour) ? c.font.text : kBlack;
    f.background = HasBackground(c.font) ? c.font.background : kFlatBackground;
  } else {
    f.text = kBlack;
    f.background = kWhite;
  }
  return f;
}

struct Metrics {
  int line;  // at least 1
  int ascent;
  int descent;
};

struct Painter : DevicePainter {
  using DevicePainter::DevicePainter;
  void Box(int l, int t, int r, int b, const DeviceColour& frame, const DeviceColour& fill) {
    if (Ok() && l < r && t < b)
      Take(ops.drawBox(device, ctx, Device_Clamp16(l), Device_Clamp16(t), Device_Clamp16(r),
                       Device_Clamp16(b), 0, &frame, &fill));
  }
  // A filled rectangle in a line colour (one-pixel lines and arrow rows).
  void Rule(int l, int t, int r, int b, const DeviceColour& colour) {
    if (Ok() && l < r && t < b)
      Take(ops.drawRule(device, ctx, Device_Clamp16(l), Device_Clamp16(t), Device_Clamp16(r),
                        Device_Clamp16(b), 0, 0, &colour));
  }
  void Font(const DeviceFontSpec& font, Metrics* m) {
    if (!Ok()) return;
    std::int16_t line = 0, leading = 0, ascent = 0;
    Take(ops.selectFont(device, ctx, &font, &line, &leading, &ascent));
    if (!Ok()) return;
    m->line = std::max<int>(1, line);
    m->ascent = ascent;
    m->descent = std::max(0, line - leading - ascent);
  }
  int Width(const char* text) {
    if (!Ok() || text == nullptr) return 0;
    std::int16_t w = 0, h = 0;
    Take(ops.measureText(device, ctx, reinterpret_cast<const std::uint8_t*>(text),
                         static_cast<std::uint32_t>(std::strlen(text)), 0x7FFF, nullptr, &w, &h));
    return Ok() ? w : 0;
  }
  // The whole characters of text that fit in maxWidth, baseline at y.
  void Text(const char* text, int x, int y, int maxWidth, const Metrics& m) {
    if (!Ok() || text == nullptr || text[0] == '\0' || maxWidth <= 0) return;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text);
    std::uint32_t fit = 0;
    std::int16_t w = 0, h = 0;
    Take(ops.measureText(device, ctx, bytes, static_cast<std::uint32_t>(std::strlen(text)),
                         Device_Clamp16(maxWidth), &fit, &w, &h));
    if (!Ok() || fit == 0) return;
    Take(ops.setTextOrigin(device, ctx, Device_Clamp16(x), Device_Clamp16(y),
                           Device_Clamp16(m.descent),
                           DeviceTextAlign::Left | DeviceTextAlign::Baseline));
    if (!Ok()) return;
    Take(ops.drawText(device, bytes, fit, nullptr, nullptr));
    Take(ops.restoreTextAlign(device));
  }
};

using Session = DeviceDrawSession<Painter>;

struct Size {
  int width, height, baseline;
};

// The closed control's size with the item font selected (metrics m).
Size MeasureSize(Painter& p, const SelectCtl& c, const Metrics& m) {
  if (c.cachedWidth != 0 && c.cachedHeight != 0 && c.cachedBaseline != 0)
    return {c.cachedWidth, c.cachedHeight, c.cachedBaseline};
  const bool flat = Flat(c);
  const int minimum = m.line + (flat ? 6 : 12);
  int width = 0;
  const int n = Count(c);
  if (c.requestedWidth != 0 || n == 0) {
    int w = c.requestedWidth;
    if (c.flags & SelectCtlFlag::PercentWidth) {
      std::int16_t usable = 0;
      p.Take(p.ops.getProperty(p.device, DeviceInfo::UsableWidth, &usable));
      // Percentages above 100 would make the control wider than the view.
      w = w > 999 ? usable : std::min<int>(usable, usable * w / 100);
    }
    width = std::max(w, minimum);
  } else {
    int widest = 0;
    for (int i = 1; i <= n && p.Ok(); ++i)
      widest = std::max(widest, p.Width(ItemText(c, i)));
    width = widest + minimum;
  }
  return {std::min(width, 32767), m.line + (flat ? 2 : 6), m.ascent + (flat ? 1 : 3)};
}

int TextPad(const SelectCtl& c) {
  return Flat(c) ? 1 : 3;  // from the control's top to the text's ascent
}

// A triangle of one-pixel rows in the box (l, t, bw, bh), shrinking by a
// pixel at each end per row: pointing down from 7/16 of the box height, or
// up from the mirrored row.
void Triangle(Painter& p, int l, int t, int bw, int bh, bool down, const DeviceColour& colour) {
  int left = l + bh / 4, right = l + bw - bh / 4;
  int y = down ? t + 7 * bh / 16 : t + bh - 1 - 7 * bh / 16;
  for (int i = 0; left < right && i < bh; ++i) {
    p.Rule(left, y, right, y + 1, colour);
    ++left;
    --right;
    y += down ? 1 : -1;
  }
}

// Light top and left, dark bottom and right (raised) or the reverse.
void Bevel(Painter& p, int l, int t, int r, int b, const DeviceColour& light,
           const DeviceColour& dark) {
  p.Rule(l, t, r, t + 1, light);
  p.Rule(l, t, l + 1, b, light);
  p.Rule(l, b - 1, r, b, dark);
  p.Rule(r - 1, t, r, b, dark);
}

// The closed control at (x, top), w by h, with the item font selected.
void PaintClosed(Painter& p, const SelectCtl& c, const Metrics& m, int x, int top, int w, int h) {
  const int n = Count(c);
  const char* text = c.chosen >= 1 && c.chosen <= n ? ItemText(c, c.chosen) : nullptr;
  const int baseline = top + m.ascent + TextPad(c);
  if (Flat(c)) {
    p.Box(x, top, x + w, top + h, kBlack, HasBackground(c.font) ? c.font.background : kWhite);
    const int ax = std::max(x, x + w - h);
    p.Box(ax, top, x + w, top + h, kBlack, kLightGrey);
    Triangle(p, ax, top, x + w - ax, h, true, kBlack);
    p.Text(text, x + 2, baseline, w - h - 4, m);
  } else {
    p.Box(x, top, x + w, top + h, kWhite, kWhite);
    Bevel(p, x, top, x + w, top + h, kDarkGrey, kWhite);
    Bevel(p, x + 1, top + 1, x + w - 1, top + h - 1, kBlack, kLightGrey);
    const int side = std::max(0, h - 4);
    const int ax = std::max(x + 2, x + w - 2 - side), ay = top + 2;
    p.Box(ax, ay, x + w - 2, ay + side, kLightGrey, kLightGrey);
    Bevel(p, ax, ay, x + w - 2, ay + side, kWhite, kDarkGrey);
    Triangle(p, ax, ay, x + w - 2 - ax, side, true, kBlack);
    p.Text(text, x + 5, baseline, w - h - 6, m);
  }
}

// --- the open list ----------------------------------------------------------

int RowStep(const SelectCtl& c) {
  return c.list.rowHeight + (Flat(c) ? 1 : 0);
}
int ColumnLeft(const SelectCtl& c) {
  return c.list.x + 1;
}
// The right end of the text column, where the arrow column starts.
int ColumnRight(const SelectCtl& c) {
  const SelectCtlList& l = c.list;
  const int arrows = (l.arrows & SelectCtlArrows::Shown) ? l.rowHeight + 2 : 0;
  return std::max(ColumnLeft(c), l.x + l.width - 1 - arrows);
}
int BandTop(const SelectCtl& c, int row) {
  return c.list.y + 1 + row * RowStep(c);
}
int BandBottom(const SelectCtl& c, int row) {
  return std::min(BandTop(c, row) + c.list.rowHeight, c.list.y + c.list.height - 1);
}
DeviceRect ListRect(const SelectCtl& c) {
  const SelectCtlList& l = c.list;
  return {l.x, l.y, Device_Clamp16(l.x + l.width), Device_Clamp16(l.y + l.height)};
}
int MaxTop(const SelectCtl& c) {
  return std::max(1, Count(c) - c.list.visibleRows + 1);
}
bool Visible(const SelectCtl& c, int item) {
  return item >= c.list.topItem && item < c.list.topItem + c.list.visibleRows && item <= Count(c);
}
std::uint16_t ArrowFlags(const SelectCtl& c) {
  const SelectCtlList& l = c.list;
  if (!(l.arrows & SelectCtlArrows::Shown)) return 0;
  std::uint16_t flags = SelectCtlArrows::Shown;
  if (l.topItem <= 1) flags |= SelectCtlArrows::UpUnavailable;
  if (l.topItem + l.visibleRows - 1 >= Count(c)) flags |= SelectCtlArrows::DownUnavailable;
  return flags;
}

void InvertRow(Painter& p, const SelectCtl& c, int item) {
  if (!Visible(c, item)) return;
  const int row = item - c.list.topItem;
  p.Invert(ColumnLeft(c), BandTop(c, row), ColumnRight(c), BandBottom(c, row));
}

void PaintRows(Painter& p, const SelectCtl& c, const Metrics& m) {
  const DeviceColour back = ItemFont(c).background;
  const int left = ColumnLeft(c), right = ColumnRight(c);
  for (int row = 0; row < c.list.visibleRows && p.Ok(); ++row) {
    const int item = c.list.topItem + row;
    if (item > Count(c)) break;
    const int top = BandTop(c, row), bottom = BandBottom(c, row);
    p.Box(left, top, right, bottom, back, back);
    p.Text(ItemText(c, item), left + 1, top + m.ascent, right - left - 2, m);
    if (item == c.list.highlighted) p.Invert(left, top, right, bottom);
  }
}

struct ArrowBoxes {
  int left, right, upTop, upBottom, downTop, downBottom;
};
ArrowBoxes Arrows(const SelectCtl& c) {
  const SelectCtlList& l = c.list;
  return {ColumnRight(c) + 1, l.x + l.width - 1, l.y + 1, l.arrowY, l.arrowY, l.y + l.height - 1};
}

void PaintArrows(Painter& p, const SelectCtl& c) {
  const SelectCtlList& l = c.list;
  if (!(l.arrows & SelectCtlArrows::Shown)) return;
  const ArrowBoxes a = Arrows(c);
  p.Rule(a.left - 1, a.upTop, a.left, a.downBottom, kBlack);
  const int bw = a.right - a.left;
  for (const bool up : {true, false}) {
    const int top = up ? a.upTop : a.downTop, bottom = up ? a.upBottom : a.downBottom;
    const bool off =
        (l.arrows & (up ? SelectCtlArrows::UpUnavailable : SelectCtlArrows::DownUnavailable)) != 0;
    p.Box(a.left, top, a.right, bottom, kLightGrey, kLightGrey);
    Bevel(p, a.left, top, a.right, bottom, kWhite, kDarkGrey);
    const int bh = bottom - top, side = std::min(bw, bh);
    Triangle(p, a.left + (bw - side) / 2, top + (bh - side) / 2, side, side, !up,
             off ? kDarkGrey : kBlack);
    if (l.penState == (up ? SelectCtlPen::UpArrow : SelectCtlPen::DownArrow))
      p.Invert(a.left, top, a.right, bottom);
  }
}

void PaintList(Painter& p, const SelectCtl& c, const Metrics& m) {
  const SelectCtlList& l = c.list;
  const DeviceColour back = ItemFont(c).background;
  p.Box(l.x, l.y, l.x + l.width, l.y + l.height, kBlack, back);
  PaintRows(p, c, m);
  PaintArrows(p, c);
}

// Selects the item font, clips to the open list and runs paint.
template <class Paint>
void OnList(Painter& p, const SelectCtl& c, Paint paint) {
  Metrics m{};
  p.Font(ItemFont(c), &m);
  DeviceRect rect = ListRect(c), previous{};
  p.Surface(&rect, &previous, DeviceSurface::ClipIntersect);
  if (!p.Ok()) return;
  paint(m);
  // The caller's clip comes back even after a failed drawing call.
  const StatusCode s =
      p.ops.surfaceCommand(p.device, p.ctx, &previous, nullptr, DeviceSurface::ClipReplace);
  p.Take(s);
}

// Moves the highlight and the top item: only the two rows change when the
// list does not scroll.
void Apply(Painter& p, SelectCtl& c, int highlighted, int top) {
  SelectCtlList& l = c.list;
  if (highlighted == l.highlighted && top == l.topItem) return;
  OnList(p, c, [&](const Metrics& m) {
    if (top != l.topItem) {
      l.topItem = static_cast<std::uint16_t>(top);
      l.highlighted = static_cast<std::uint16_t>(highlighted);
      l.arrows = ArrowFlags(c);
      PaintRows(p, c, m);
      PaintArrows(p, c);
    } else {
      InvertRow(p, c, l.highlighted);
      l.highlighted = static_cast<std::uint16_t>(highlighted);
      InvertRow(p, c, l.highlighted);
    }
  });
}

// The first item that can be chosen from `from` down to `last`, or up to it.
int ScanDown(const SelectCtl& c, int from, int last) {
  for (int i = std::min(from, Count(c)); i >= std::max(last, 1); --i)
    if (Selectable(c, i)) return i;
  return 0;
}
int ScanUp(const SelectCtl& c, int from, int last) {
  for (int i = std::max(from, 1); i <= std::min(last, Count(c)); ++i)
    if (Selectable(c, i)) return i;
  return 0;
}

struct Move {
  int highlighted, top;
};

Move KeyMove(const SelectCtl& c, std::uint16_t code) {
  const int n = Count(c), rows = c.list.visibleRows, h = c.list.highlighted;
  const int first = c.list.topItem, lastShown = std::min(n, first + rows - 1);
  Move m{h, first};
  int found = 0;
  switch (code) {
    case SelectCtlCode::Previous:
      found = ScanDown(c, h - 1, 1);
      break;
    case SelectCtlCode::Next:
      found = ScanUp(c, h + 1, n);
      break;
    case SelectCtlCode::PageUp: {
      const int target = std::max(1, h - rows);
      found = ScanDown(c, target, 1);
      if (found == 0) found = ScanUp(c, target + 1, h - 1);
      m.top = std::max(1, first - rows);
      break;
    }
    case SelectCtlCode::PageDown: {
      const int target = std::min(n, h + rows);
      found = ScanUp(c, target, n);
      if (found == 0) found = ScanDown(c, target - 1, h + 1);
      m.top = std::min(MaxTop(c), first + rows);
      break;
    }
    case SelectCtlCode::First:
      found = ScanUp(c, 1, n);
      m.top = 1;
      break;
    case SelectCtlCode::Last:
      found = ScanDown(c, n, 1);
      m.top = MaxTop(c);
      break;
    case SelectCtlCode::TopVisible:
      found = ScanUp(c, first, lastShown);
      break;
    case SelectCtlCode::BottomVisible:
      found = ScanDown(c, lastShown, first);
      break;
    default:
      break;
  }
  if (found != 0 && found != h) {
    m.highlighted = found;
    if (found < m.top) m.top = found;
    if (found > m.top + rows - 1) m.top = found - rows + 1;
  }
  m.top = std::clamp(m.top, 1, MaxTop(c));
  return m;
}

// Puts the pixels back, stores the choice (0: none) and draws the closed
// control; the list is closed whatever the drawing answers.
StatusCode Close(Painter& p, SelectCtl& c, int choice, StatusCode answer) {
  DeviceRect rect = ListRect(c);
  p.Surface(&rect, nullptr, DeviceSurface::RestorePixels);
  c.list.open = 0;
  c.list.penState = SelectCtlPen::Idle;
  if (choice != 0) c.chosen = static_cast<std::uint16_t>(choice);
  Metrics m{};
  p.Font(ItemFont(c), &m);
  if (p.Ok()) {
    const int top = c.closed.baseline - m.ascent - TextPad(c);
    PaintClosed(p, c, m, c.closed.x, top, c.closed.width, c.closed.height);
  }
  return p.Ok() ? answer : p.status;
}

StatusCode CommitItem(Painter& p, SelectCtl& c, int item) {
  if (!Selectable(c, item)) return kOk;
  return Close(p, c, item, kSelectClosedWithChoice);
}

enum class Hit { Outside, Inside, Item, UpArrow, DownArrow };

Hit HitTest(const SelectCtl& c, DevicePoint pt, int widen, int* item) {
  const SelectCtlList& l = c.list;
  if (l.arrows & SelectCtlArrows::Shown) {
    const ArrowBoxes a = Arrows(c);
    if (pt.x >= a.left - widen && pt.x < a.right + widen) {
      if (pt.y >= a.upTop - widen && pt.y < a.upBottom)
        return (l.arrows & SelectCtlArrows::UpUnavailable) ? Hit::Inside : Hit::UpArrow;
      if (pt.y >= a.downTop && pt.y < a.downBottom + widen)
        return (l.arrows & SelectCtlArrows::DownUnavailable) ? Hit::Inside : Hit::DownArrow;
    }
  }
  if (pt.x < l.x || pt.x >= l.x + l.width || pt.y < l.y || pt.y >= l.y + l.height)
    return Hit::Outside;
  if (pt.x >= ColumnLeft(c) && pt.x < ColumnRight(c) && pt.y >= l.y + 1 &&
      pt.y < l.y + l.height - 1) {
    const int candidate = l.topItem + (pt.y - l.y - 1) / RowStep(c);
    if (Visible(c, candidate)) {
      *item = candidate;
      return Hit::Item;
    }
  }
  return Hit::Inside;
}

// Pointers other than a pen-like one (kind 1) get arrows half a row larger.
int ArrowWiden(Painter& p, const SelectCtl& c) {
  // Room for whatever integer the device writes; the kind is its low 16 bits.
  std::uint32_t kind = 0;
  if (IsFailure(p.ops.getProperty(p.device, DeviceInfo::PointerKind, &kind))) return 0;
  std::int16_t low = 0;
  std::memcpy(&low, &kind, sizeof low);
  return low == 1 ? 0 : c.list.rowHeight / 2;
}

StatusCode Pointer(Painter& p, SelectCtl& c, std::uint16_t code, const DevicePoint& pt) {
  SelectCtlList& l = c.list;
  int item = 0;
  switch (code) {
    case SelectCtlCode::PenDown: {
      const Hit hit = HitTest(c, pt, ArrowWiden(p, c), &item);
      switch (hit) {
        case Hit::Outside:
          return Close(p, c, 0, kSelectClosedNoChoice);
        case Hit::Item:
          Apply(p, c, item, l.topItem);
          l.penState = SelectCtlPen::OnItem;
          break;
        case Hit::UpArrow:
        case Hit::DownArrow: {
          const bool up = hit == Hit::UpArrow;
          const Move m = KeyMove(c, up ? SelectCtlCode::PageUp : SelectCtlCode::PageDown);
          l.penState = up ? SelectCtlPen::UpArrow : SelectCtlPen::DownArrow;
          Apply(p, c, m.highlighted, m.top);
          OnList(p, c, [&](const Metrics&) { PaintArrows(p, c); });
          break;
        }
        case Hit::Inside:
          break;
      }
      return p.status;
    }
    case SelectCtlCode::Track:
      if (l.penState == SelectCtlPen::UpArrow || l.penState == SelectCtlPen::DownArrow) return kOk;
      if (HitTest(c, pt, 0, &item) == Hit::Item && item != l.highlighted)
        Apply(p, c, item, l.topItem);
      return p.status;
    default:  // PenUp
      if (l.penState == SelectCtlPen::OnItem) {
        l.penState = SelectCtlPen::Idle;
        if (HitTest(c, pt, 0, &item) != Hit::Item) return kOk;
        Apply(p, c, item, l.topItem);
        return p.Ok() ? CommitItem(p, c, item) : p.status;
      }
      if (l.penState != SelectCtlPen::Idle) {
        l.penState = SelectCtlPen::Idle;
        OnList(p, c, [&](const Metrics&) { PaintArrows(p, c); });
      }
      return p.status;
  }
}

StatusCode MeasureCommand(EngineObject* device, SelectCtl& c, SelectCtlMeasure* arg) {
  if (arg == nullptr) return kBadArgument;
  if (arg->font != nullptr) c.font = *arg->font;
  Size size{c.cachedWidth, c.cachedHeight, c.cachedBaseline};
  if (size.width == 0 || size.height == 0 || size.baseline == 0) {
    Session session(device, arg->ctx);
    if (const StatusCode s = session.Begin(); IsFailure(s)) return s;
    Metrics m{};
    session.p.Font(ItemFont(c), &m);
    if (session.p.Ok()) size = MeasureSize(session.p, c, m);
    if (const StatusCode s = session.End(session.p.status); IsFailure(s)) return s;
  }
  arg->width = Device_Clamp16(size.width);
  arg->height = Device_Clamp16(size.height);
  arg->baseline = Device_Clamp16(size.baseline);
  return kOk;
}

StatusCode DrawClosedCommand(EngineObject* device, SelectCtl& c, SelectCtlPlace* arg) {
  if (arg == nullptr) return kBadArgument;
  if (arg->font != nullptr) c.font = *arg->font;
  Session session(device, arg->ctx);
  if (const StatusCode s = session.Begin(); IsFailure(s)) return s;
  Painter& p = session.p;
  Metrics m{};
  p.Font(ItemFont(c), &m);
  if (!p.Ok()) return session.End(p.status);
  const Size size = MeasureSize(p, c, m);
  if (!p.Ok()) return session.End(p.status);
  const int top = arg->lineTop + arg->lineAscent - size.baseline;
  c.closed = {arg->x,
              Device_Clamp16(arg->lineTop + arg->lineAscent),
              Device_Clamp16(size.width),
              Device_Clamp16(size.height),
              arg->lineTop,
              arg->lineHeight};
  PaintClosed(p, c, m, arg->x, top, size.width, size.height);
  const StatusCode s = session.End(p.status);
  if (IsFailure(s)) return s;
  arg->width = Device_Clamp16(size.width);
  arg->bottom = Device_Clamp16(top + size.height);
  return kOk;
}

StatusCode OpenCommand(EngineObject* device, SelectCtl& c, DeviceContext* ctx) {
  Session session(device, ctx != nullptr ? *ctx : nullptr);
  if (const StatusCode s = session.Begin(); IsFailure(s)) return s;
  Painter& p = session.p;
  if (c.list.open) {  // opened again: drop the earlier list first
    DeviceRect rect = ListRect(c);
    p.Surface(&rect, nullptr, DeviceSurface::RestorePixels);
    c.list.open = 0;
  }
  std::int16_t viewWidth = 0, viewHeight = 0;
  p.Take(p.ops.getProperty(device, DeviceInfo::UsableWidth, &viewWidth));
  p.Take(p.ops.getProperty(device, DeviceInfo::UsableHeight, &viewHeight));
  Metrics m{};
  p.Font(ItemFont(c), &m);
  if (!p.Ok()) return session.End(p.status);
  int width = c.closed.width;
  if (width <= 0) width = MeasureSize(p, c, m).width;
  if (!p.Ok()) return session.End(p.status);
  const int top = c.closed.baseline - m.ascent - TextPad(c);
  const int height = m.line + (Flat(c) ? 2 : 6);
  c.closed.width = Device_Clamp16(width);
  c.closed.height = Device_Clamp16(height);
  SelectCtlList list{};
  SelectCtl_LayoutList(c, viewWidth, viewHeight, Device_Clamp16(m.line), Device_Clamp16(m.ascent),
                       c.closed.x, Device_Clamp16(top), Device_Clamp16(width),
                       Device_Clamp16(height), &list);
  c.list = list;
  DeviceRect rect = ListRect(c);
  p.Surface(&rect, nullptr, DeviceSurface::SavePixels);
  if (!p.Ok()) return session.End(p.status);
  c.list.open = 1;
  OnList(p, c, [&](const Metrics& mm) { PaintList(p, c, mm); });
  if (!p.Ok()) {
    (void)p.ops.surfaceCommand(device, p.ctx, &rect, nullptr, DeviceSurface::RestorePixels);
  }
  const StatusCode s = session.End(p.status);
  if (IsFailure(s)) c.list.open = 0;
  return s;
}

}  // namespace

void SelectCtl_LayoutList(const SelectCtl& c, std::int16_t viewWidth, std::int16_t viewHeight,
                          std::int16_t rowHeight, std::int16_t ascent, std::int16_t x,
                          std::int16_t top, std::int16_t w, std::int16_t h,
                          SelectCtlList* list) noexcept {
  if (list == nullptr) return;
  const bool flat = Flat(c);
  const int n = Count(c);
  const int view = std::max<int>(0, viewWidth), bottom = std::max<int>(0, viewHeight);
  const int r = std::max<int>(1, rowHeight), s = flat ? r + 1 : r;
  // A degenerate space gives no rows rather than a negative count.
  auto rowsIn = [&](int space) { return std::max(0, flat ? space / s : (space - 2) / r); };
  auto heightOf = [&](int rows) { return flat ? s * rows : r * rows + 2; };

  const int y0 = std::max(0, flat ? top + h : top + h - 1);
  const int below = rowsIn(bottom - y0);
  const int y1 = std::min(bottom, flat ? int{top} : top + 1);
  const int above = rowsIn(y1);
  int rows = std::max(below, above);
  bool arrows = false;
  int y = 0;
  if (rows >= n) {
    rows = n;
    y = below >= n ? y0 : y1 - heightOf(n);
  } else if (rows > 2) {
    arrows = true;
    y = below >= above ? y0 : y1 - heightOf(rows);
  } else {
    rows = std::max(1, rowsIn(bottom));
    if (rows >= n)
      rows = n;
    else
      arrows = true;
    const bool upperHalf = 2 * top + h < bottom;
    y = upperHalf ? 0 : bottom - heightOf(rows);
  }

  const int highlighted = c.chosen >= 1 && c.chosen <= n ? c.chosen : (n > 0 ? 1 : 0);
  int first = std::max(1, highlighted);
  if (n - first + 1 < rows) first = n - rows + 1;
  first = std::max(1, first);

  int width = arrows ? (flat ? w : w - 2) : w - h;
  width = std::clamp(width, 0, view);
  int left = x + (flat ? 0 : 1);
  if (left + width > view) left = view - width;
  const int height = heightOf(rows);
  const int textWidth = std::max(0, width - (flat ? 0 : 2) - (arrows ? r + 2 + (flat ? 1 : 0) : 0));

  SelectCtlList l{};
  l.x = Device_Clamp16(left);
  l.y = Device_Clamp16(y);
  l.width = Device_Clamp16(width);
  l.height = Device_Clamp16(height);
  l.textWidth = Device_Clamp16(textWidth);
  l.rowHeight = Device_Clamp16(r);
  l.ascent = ascent;
  l.arrowY = Device_Clamp16(y + height / 2);
  l.visibleRows = static_cast<std::uint16_t>(rows);
  l.topItem = static_cast<std::uint16_t>(first);
  l.highlighted = static_cast<std::uint16_t>(highlighted);
  l.arrows = arrows ? SelectCtlArrows::Shown : 0;
  SelectCtl probe = c;
  probe.list = l;
  l.arrows = ArrowFlags(probe);
  *list = l;
}

StatusCode SelectCtl_Command(EngineObject* device, std::uint16_t code, void* in,
                             void* out) noexcept {
  if (code > SelectCtlCode::SelectAndCommit) return kNotSupported;
  if (code == SelectCtlCode::Nothing) return kOk;
  if (device == nullptr || in == nullptr) return kBadArgument;
  SelectCtl& c = *static_cast<SelectCtl*>(in);
  switch (code) {
    case SelectCtlCode::Measure:
      return MeasureCommand(device, c, static_cast<SelectCtlMeasure*>(out));
    case SelectCtlCode::DrawClosed:
      return DrawClosedCommand(device, c, static_cast<SelectCtlPlace*>(out));
    case SelectCtlCode::Open:
      return OpenCommand(device, c, static_cast<DeviceContext*>(out));
    default:
      break;
  }
  if (!c.list.open) return kBadArgument;
  const bool pointer = code == SelectCtlCode::Track || code == SelectCtlCode::PenUp ||
                       code == SelectCtlCode::PenDown;
  if (pointer && out == nullptr) return kBadArgument;
  std::int16_t item = 0;
  if (code == SelectCtlCode::SelectAndCommit) {
    if (out == nullptr) return kBadArgument;
    item = *static_cast<const std::int16_t*>(out);
    if (!Selectable(c, item)) return kOk;
  }
  if (code == SelectCtlCode::Commit && !Selectable(c, c.list.highlighted)) return kOk;

  DeviceContext given = nullptr;
  if (code == SelectCtlCode::Redraw && out != nullptr) given = *static_cast<DeviceContext*>(out);
  Session session(device, given);
  if (const StatusCode s = session.Begin(); IsFailure(s)) return s;
  Painter& p = session.p;
  StatusCode answer = kOk;
  switch (code) {
    case SelectCtlCode::Track:
    case SelectCtlCode::PenUp:
    case SelectCtlCode::PenDown:
      answer = Pointer(p, c, code, *static_cast<const DevicePoint*>(out));
      break;
    case SelectCtlCode::Commit:
      answer = CommitItem(p, c, c.list.highlighted);
      break;
    case SelectCtlCode::Cancel:
      answer = Close(p, c, 0, kSelectClosedNoChoice);
      break;
    case SelectCtlCode::SelectAndCommit:
      answer = CommitItem(p, c, item);
      break;
    case SelectCtlCode::Redraw:
      OnList(p, c, [&](const Metrics& m) { PaintList(p, c, m); });
      answer = p.status;
      break;
    default: {  // keys
      const Move m = KeyMove(c, code);
      Apply(p, c, m.highlighted, m.top);
      answer = p.status;
      break;
    }
  }
  return session.End(answer);
}
