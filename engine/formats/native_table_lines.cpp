#include "engine/formats/native_table_lines.h"

#include <algorithm>

#include "engine/device/table_store.h"
#include "engine/formats/flow_text.h"
#include "engine/formats/native_doc.h"
#include "engine/formats/native_image.h"
#include "engine/formats/native_table.h"

namespace {

constexpr std::uint8_t kHiddenSide = 144;
constexpr std::int16_t kEmptyRowHeight = 5;
constexpr std::uint16_t kRuleStyle = 7;
constexpr std::uint32_t kColourTable = 1;
// Held while a caption line gets its background.
constexpr std::uint16_t kCaptionBackground = 0x08;

std::int16_t Clamp16(std::int64_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767));
}

StatusCode Store(EngineObject* device, std::uint16_t code, void* in, void* out) {
  return OpsOf<DeviceOps>(device).tableStoreCommand(device, code, in, out);
}

const DeviceOps& Dev(EngineObject* device) {
  return OpsOf<DeviceOps>(device);
}

StatusCode ReadColour(NativeDocState* s, std::uint16_t item, DeviceColour* out) {
  NativeItem it{};
  const StatusCode r = NativeStore_ReadItem(s, kColourTable, item, &it);
  if (IsFailure(r)) return r;
  *out = DeviceColour{it.part[0][1], it.part[0][2], it.part[0][3]};
  return kOk;
}

// The four sides of a border box (top, right, bottom, left) with pixels.
struct Sides {
  NativeBorderSide side[4];
  std::int16_t px[4];
};
StatusCode ReadSides(NativeDocState* s, EngineObject* device, DeviceContext ctx, std::uint16_t box,
                     Sides* out) {
  *out = Sides{};
  const StatusCode r = DocImage_ReadBorders(s, box, out->side);
  if (IsFailure(r)) return r;
  for (int i = 0; i < 4; ++i) {
    if (out->side[i].style != 0 && out->side[i].width != 0) {
      out->px[i] = Table_PointsToPixels(device, ctx, out->side[i].width);
    }
  }
  return kOk;
}

// Puts the cursor on the row group holding p (the first group before it,
// the last after it); the caption, when there is one, is passed over. The
// search goes on from the group found last time when p lies at or after it.
StatusCode SeekGroupHolding(NativeDocState* s, NativeTableCursor* c, std::uint32_t p) {
  NativeTableCursor& cache = s->tablePass.rowCache;
  StatusCode r = kOk;
  if (cache.number == c->number && cache.start == c->start && cache.end == c->end &&
      cache.group != kTableNoGroup && !cache.isCaption && cache.groupStart <= p) {
    r = TableCursor_Release(s, c);
    if (IsFailure(r)) return r;
    *c = cache;
    c->held[0] = c->held[1] = nullptr;
    c->cellIndex = 0;
    c->cellEnd = c->groupStart;
  } else {
    TableCursor_Restart(c);
    r = TableCursor_NextGroup(s, c);
    if (IsFailure(r)) return r;
    if (c->isCaption) {
      r = TableCursor_NextGroup(s, c);
      if (r == kNoMore) return kDocMalformed;
      if (IsFailure(r)) return r;
    }
  }
  while (p >= c->groupEnd && c->group + 1 < c->groupCount) {
    r = TableCursor_NextGroup(s, c);
    if (IsFailure(r)) return r;
  }
  cache = *c;
  cache.held[0] = cache.held[1] = nullptr;
  return kOk;
}

bool IsCaptionLine(const NativeTableCursor& c, std::uint32_t p) {
  return (p == c.start && c.captionPlace == 1) || (p + c.charBytes == c.end && c.captionPlace == 2);
}

// The caption group of a cursor.
StatusCode SeekCaption(NativeDocState* s, NativeTableCursor* c) {
  TableCursor_Restart(c);
  const StatusCode r = TableCursor_NextGroup(s, c);
  if (IsFailure(r)) return r;
  return c->isCaption ? kOk : kDocMalformed;
}

StatusCode ParagraphIndents(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                            std::uint32_t p, std::int16_t* left, std::int16_t* right,
                            std::uint16_t* flags) {
  DeviceFontSpec font{};
  CharFormat format{};
  std::uint32_t runEnd = 0;
  if (DocOpsOf(handler).getCharStyle(handler, device, p, &font, &format, &runEnd) != kOk) {
    DocHandler_InitCharStyle(&font, &format);
  }
  auto px = [&](std::uint8_t points) -> std::int16_t {
    std::int16_t v = 0;
    if (points == 0 || Dev(device).pointsToPixels(device, ctx, points, &v) != kOk) return 0;
    return v;
  };
  *left = Clamp16(px(format.leftIndent) + px(format.leftIndent2));
  *right = Clamp16(px(format.rightIndent) + px(format.rightIndent2));
  *flags = format.formatFlags;
  return kOk;
}

std::int16_t AlignTable(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                        std::uint32_t p, std::int32_t fullWidth, std::int32_t available) {
  std::int16_t left = 0, right = 0;
  std::uint16_t flags = 0;
  (void)ParagraphIndents(handler, device, ctx, p, &left, &right, &flags);  // defaults on failure
  const std::int32_t free = available - left - right;
  std::int32_t x = left;
  const std::uint16_t align = flags & DocFormat::AlignMask;
  if (align == DocFormat::AlignCentre && free > fullWidth) x = left + (free - fullWidth) / 2;
  if (align == DocFormat::AlignRight && free > fullWidth) x = left + free - fullWidth;
  return Clamp16(x);
}

// A band drawn as one-pixel rules along its length.
void DrawRuleBand(EngineObject* device, DeviceContext ctx, std::int32_t left, std::int32_t top,
                  std::int32_t right, std::int32_t bottom, const DeviceColour* colour) {
  const DeviceColour black{0, 0, 0};
  const DeviceColour* c = colour != nullptr ? colour : &black;
  if (right - left < bottom - top) {
    for (std::int32_t x = left; x < right; ++x)
      (void)Dev(device).drawRule(device, ctx, Clamp16(x), Clamp16(top), Clamp16(x), Clamp16(bottom),
                                 kRuleStyle, 1, c);  // a failed rule is skipped
  } else {
    for (std::int32_t y = top; y < bottom; ++y)
      (void)Dev(device).drawRule(device, ctx, Clamp16(left), Clamp16(y), Clamp16(right), Clamp16(y),
                                 kRuleStyle, 1, c);  // likewise
  }
}

enum class Mode { Draw, Invert, Hit, Visible };

// One table level of a walk; plain values only, so it can wait on the
// store's stack.
struct Walk {
  NativeTableCursor c;
  std::uint32_t groupsLeft;
  // The table.
  std::uint16_t background;  // colour item, 0 none
  Sides frame;
  std::int16_t tableWidth;
  std::int32_t tableHeight;  // the store's height, caption included
  std::int16_t captionHeight;
  std::int32_t originX, originY;  // where the table (its frame) starts
  std::int32_t contentX, rowsTop;
  std::int32_t fullHeight;  // with the frame sides
  // The row group.
  std::int32_t groupTop;
  bool groupOpen;
  // The cell.
  std::int32_t cellX, cellY, cellW, cellH;
  std::uint32_t linePos;
  std::int32_t lineY;
  std::int16_t prevExtra;
  bool inCell;
  // A nested table met in the cell.
  std::uint32_t nestedStart, nestedEnd;
  std::uint16_t nestedNumber;
  std::int32_t nestedX, nestedY, nestedW;
  std::int32_t nestedHeight;
  // Hit testing: the grid row and column the store names under the point
  // (kNoRow: the point is on no row, as on a nested table's caption).
  std::uint32_t hitRow;
  std::uint16_t hitColumn;
};

constexpr std::uint32_t kNoRow = 0xFFFFFFFFu;

struct Job {
  EngineObject* handler;
  EngineObject* device;
  DeviceContext ctx;
  NativeDocState* s;
  Mode mode;
  std::uint16_t style;
  std::uint32_t lineStart;
  const LineMetrics* metrics;
  std::int32_t x, y;
  std::uint32_t rangeStart, rangeEnd;
  std::int32_t rightLimit, bottomLimit;
  // Hit testing.
  std::int32_t px, py;
  HitBox* box;
  std::uint32_t hitStart, hitEnd;
  bool hit;
  // Control 19.
  const DocLinkVisibility* query;
  std::uint16_t pushed;
  TableNode* node;
};

StatusCode OpenNode(Job& j, std::uint16_t number) {
  TableNode* node = nullptr;
  const StatusCode r = Store(j.device, TableStoreCode::OpenRowPass, &number, &node);
  if (IsFailure(r)) return r;
  j.node = node;
  return kOk;
}
void CloseNode(Job& j) {
  if (j.node == nullptr) return;
  (void)Store(j.device, TableStoreCode::CloseRowPass, j.node, nullptr);  // nodes always close
  j.node = nullptr;
}

// The grid cell under the point: the store's hit test on the point relative
// to the table's rows (from the row group's first row for the outermost
// table, from row 0 for a nested one). A point on a nested table's caption
// is on no row; the caption's own box decides there.
StatusCode LocateHit(Job& j, Walk& w) {
  w.hitRow = kNoRow;
  w.hitColumn = 0;
  if (w.c.nesting == 0 && w.c.isCaption) return kOk;  // a caption line holds no rows
  if (w.c.nesting > 0 && w.c.captionPlace != 0) {
    const std::int32_t rowsEnd = w.originY + w.tableHeight - w.captionHeight + w.frame.px[0];
    if ((w.c.captionPlace == 1 && j.py < w.originY + w.captionHeight) ||
        (w.c.captionPlace == 2 && j.py >= rowsEnd + w.frame.px[2])) {
      return kOk;
    }
  }
  TableHit hit{};
  hit.x = Clamp16(j.px - w.contentX);
  hit.y = Clamp16(j.py - w.rowsTop);
  hit.firstRow = w.c.nesting == 0 ? w.c.firstRow : 0;
  const StatusCode r = Store(j.device, TableStoreCode::HitTest, j.node, &hit);
  if (IsFailure(r)) return r;
  w.hitRow = hit.row;
  w.hitColumn = hit.column;
  return kOk;
}

// Starts a table of the walk: node, cursor, format, size, origin and frame.
StatusCode BeginTable(Job& j, Walk& w, std::uint16_t number, std::uint16_t nesting,
                      std::uint32_t start, std::uint32_t end) {
  StatusCode r = OpenNode(j, number);
  if (IsFailure(r)) return r;
  r = TableCursor_Open(j.s, &w.c, number, nesting, start, end);
  if (IsFailure(r)) return r;
  NativeTableFormat format{};
  r = TableFormat_Read(j.s, w.c.tableFormat, &format);
  if (IsFailure(r)) return r;
  r = ReadSides(j.s, j.device, j.ctx, format.borderBox, &w.frame);
  if (IsFailure(r)) return r;
  w.background = format.background;
  TableSizeQuery size{};
  size.id = number;
  r = Store(j.device, TableStoreCode::TableSize, j.node, &size);
  if (IsFailure(r)) return r;
  w.tableWidth = Clamp16(size.width);
  w.tableHeight = static_cast<std::int32_t>(std::min<std::uint32_t>(size.height, 32000));
  w.captionHeight = 0;
  if (w.c.captionPlace != 0) {
    TableRowSpan span{};
    if (Store(j.device, TableStoreCode::RowSpanHeight, j.node, &span) == kOk) {
      w.captionHeight = span.height;
    }
  }
  const std::int16_t* px = w.frame.px;
  if (nesting == 0) {
    const bool caption = IsCaptionLine(w.c, j.lineStart);
    if (caption) {
      r = SeekCaption(j.s, &w.c);
    } else {
      r = SeekGroupHolding(j.s, &w.c, j.lineStart);
    }
    if (IsFailure(r)) return r;
    w.groupsLeft = 1;
    const bool withTop = !caption && w.c.firstRow == 0;
    w.originX = j.x + j.metrics->indent;
    w.originY = j.y;
    w.contentX = w.originX + px[3];
    w.rowsTop = w.originY + (withTop ? px[0] : 0);
  } else {
    TableCursor_Restart(&w.c);
    r = TableCursor_NextGroup(j.s, &w.c);
    if (IsFailure(r)) return r;
    w.groupsLeft = w.c.groupCount + (w.c.captionPlace != 0 ? 1 : 0);
    w.originX +=
        AlignTable(j.handler, j.device, j.ctx, start, w.tableWidth + px[1] + px[3], w.nestedW);
    w.contentX = w.originX + px[3];
    w.rowsTop = w.originY + (w.c.captionPlace == 1 ? w.captionHeight : 0) + px[0];
  }
  w.fullHeight = w.tableHeight + px[0] + px[2];
  w.groupOpen = false;
  w.inCell = false;
  return j.mode == Mode::Hit ? LocateHit(j, w) : kOk;
}

// The frame sides that belong to this line (outermost) or table (nested).
void DrawFrame(Job& j, Walk& w) {
  if (j.mode != Mode::Draw) return;
  const std::int16_t* px = w.frame.px;
  const NativeTableCursor& c = w.c;
  bool top = px[0] != 0, bottom = px[2] != 0, sides = true;
  std::int32_t topY = 0, bottomY = 0, bottomEnd = 0, sideTop = 0;
  if (c.nesting == 0) {
    const bool caption = IsCaptionLine(c, j.lineStart);
    top = top && !caption && c.firstRow == 0;
    bottom = bottom && !caption && c.firstRow + c.groupRows == c.rowCount;
    sides = !caption;
    topY = w.originY;
    bottomEnd = w.originY + j.metrics->height;
    bottomY = bottomEnd - px[2];
    sideTop = w.originY;
  } else {
    topY = w.originY + (c.captionPlace == 1 ? w.captionHeight : 0);
    bottomY = topY + px[0] + w.tableHeight - w.captionHeight;
    bottomEnd = bottomY + px[2];
    sideTop = topY;
    if (bottomY >= j.bottomLimit) bottom = false;
  }
  const std::int32_t full = w.tableWidth + px[1] + px[3];
  auto band = [&](int i, std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b) {
    const NativeBorderSide& side = w.frame.side[i];
    if (side.style == kHiddenSide || r <= l || b <= t) return;
    if (b <= 0 || t >= j.bottomLimit || l >= j.rightLimit || r <= 0) return;
    DeviceColour colour{0, 0, 0};
    if (side.colour != 0) (void)ReadColour(j.s, side.colour, &colour);  // black when unreadable
    (void)Dev(j.device).drawRule(j.device, j.ctx, Clamp16(l), Clamp16(t), Clamp16(r), Clamp16(b),
                                 DocImage_BorderStyleCode(side.style), 0,
                                 &colour);  // a failed side does not stop the walk
  };
  if (top) band(0, w.originX, topY, w.originX + full, topY + px[0]);
  if (bottom) band(2, w.originX, bottomY, w.originX + full, bottomEnd);
  if (sides) {
    band(3, w.originX, sideTop, w.originX + px[3], bottomEnd);
    band(1, w.originX + px[3] + w.tableWidth, sideTop, w.originX + full, bottomEnd);
  }
}

// Opens the current group: its top and, when drawing, its background.
StatusCode OpenGroup(Job& j, Walk& w) {
  w.groupOpen = true;
  if (w.c.isCaption) {
    if (w.c.nesting == 0) {
      w.groupTop = w.originY;
    } else if (w.c.captionPlace == 1) {
      w.groupTop = w.originY;
    } else {
      w.groupTop = w.rowsTop + (w.tableHeight - w.captionHeight) + w.frame.px[2];
    }
    return kOk;
  }
  w.groupTop = w.rowsTop;
  if (w.c.nesting > 0 && w.c.firstRow > 0) {
    TableRowSum sum{};
    sum.fromRow = 0;
    sum.toRow = w.c.firstRow;
    if (Store(j.device, TableStoreCode::RowSum, j.node, &sum) == kOk) w.groupTop += sum.total;
  }
  if (w.background != 0 && j.mode == Mode::Draw) {
    TableRowSpan span{};
    span.firstRow = w.c.firstRow;
    span.span = w.c.groupRows;
    if (Store(j.device, TableStoreCode::RowSpanHeight, j.node, &span) == kOk) {
      DeviceColour colour{};
      if (ReadColour(j.s, w.background, &colour) == kOk) {
        (void)Dev(j.device).fillRect(j.device, j.ctx, Clamp16(w.contentX), Clamp16(w.groupTop),
                                     Clamp16(w.contentX + w.tableWidth),
                                     Clamp16(w.groupTop + span.height),
                                     &colour);  // a failed fill does not stop the walk
      }
    }
  }
  return kOk;
}

// The cell's box from the store, and its rules when drawing.
void PlaceCell(Job& j, Walk& w) {
  const NativeTableCursor& c = w.c;
  if (c.isCaption) {
    w.cellX = w.contentX;
    w.cellY = w.groupTop;
    w.cellW = w.tableWidth;
    w.cellH = w.captionHeight;
    return;
  }
  TableCellExtent e{};
  e.baseRow = c.firstRow;
  e.column = c.column;
  e.rowOffset = c.rowOffset;
  e.columnSpan = c.columnSpan;
  e.rowSpan = c.rowSpan;
  if (Store(j.device, TableStoreCode::CellExtent, j.node, &e) != kOk) e = TableCellExtent{};
  w.cellX = w.contentX + e.x;
  w.cellY = w.groupTop + e.y;
  w.cellW = e.width;
  w.cellH = e.height;
  if (j.mode != Mode::Draw || c.ruleWidth == 0 || c.ruleMode == 0) return;
  const std::int32_t rw = Table_PointsToPixels(j.device, j.ctx, c.ruleWidth);
  DeviceColour colour{0, 0, 0};
  if (w.frame.side[0].colour != 0) (void)ReadColour(j.s, w.frame.side[0].colour, &colour);
  const bool all = c.border != 0;
  const std::uint32_t row = c.firstRow + c.rowOffset;
  const bool top = all || row > 0;
  const bool bottom = all || row + c.rowSpan < c.rowCount;
  const bool left = all || c.column > 0;
  const bool right = all || c.column + c.columnSpan < c.columnCount;
  const std::int32_t x = w.cellX, y = w.cellY, x2 = w.cellX + w.cellW, y2 = w.cellY + w.cellH;
  auto band = [&](std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b) {
    if (r <= 0 || b <= 0 || l >= j.rightLimit || t >= j.bottomLimit) return;
    DrawRuleBand(j.device, j.ctx, l, t, r, b, &colour);
  };
  if (c.ruleMode != 4) {
    const std::int32_t l = x - (left ? rw : 0), r = x2 + (right ? rw : 0);
    if (top) band(l, y - rw, r, y);
    if (bottom) band(l, y2, r, y2 + rw);
  }
  if (c.ruleMode != 3) {
    const std::int32_t t = y - (top ? rw : 0), b = y2 + (bottom ? rw : 0);
    if (left) band(x - rw, t, x, b);
    if (right) band(x2, t, x2 + rw, b);
  }
}

// Borders (drawn when drawing), background and padding of a fresh cell.
StatusCode OpenCell(Job& j, Walk& w) {
  w.linePos = w.c.cellStart;
  w.prevExtra = 0;
  w.inCell = true;
  if (w.c.value != 0) {
    NativeTableFormat format{};
    StatusCode r = TableFormat_Read(j.s, w.c.value, &format);
    if (IsFailure(r)) return r;
    Sides sides{};
    r = ReadSides(j.s, j.device, j.ctx, format.borderBox, &sides);
    if (IsFailure(r)) return r;
    const std::int16_t* b = sides.px;
    if (j.mode == Mode::Draw) {
      const std::int32_t x = w.cellX, y = w.cellY, x2 = w.cellX + w.cellW, y2 = w.cellY + w.cellH;
      const std::int32_t bands[4][4] = {{x, y, x2, y + b[0]},
                                        {x2 - b[1], y, x2, y2},
                                        {x, y2 - b[2], x2, y2},
                                        {x, y, x + b[3], y2}};
      for (int i = 0; i < 4; ++i) {
        const NativeBorderSide& side = sides.side[i];
        if (b[i] == 0 || side.style == kHiddenSide) continue;
        const std::int32_t* q = bands[i];
        if (q[2] <= 0 || q[3] <= 0 || q[0] >= j.rightLimit || q[1] >= j.bottomLimit) continue;
        DeviceColour colour{0, 0, 0};
        if (side.colour != 0) (void)ReadColour(j.s, side.colour, &colour);
        (void)Dev(j.device).drawRule(j.device, j.ctx, Clamp16(q[0]), Clamp16(q[1]), Clamp16(q[2]),
                                     Clamp16(q[3]), DocImage_BorderStyleCode(side.style), 0,
                                     &colour);  // a failed side does not stop the walk
      }
    }
    w.cellX += b[3];
    w.cellY += b[0];
    w.cellW -= b[1] + b[3];
    w.cellH -= b[0] + b[2];
    if (format.background != 0 && j.mode == Mode::Draw) {
      DeviceColour colour{};
      if (ReadColour(j.s, format.background, &colour) == kOk) {
        (void)Dev(j.device).fillRect(j.device, j.ctx, Clamp16(w.cellX), Clamp16(w.cellY),
                                     Clamp16(w.cellX + w.cellW), Clamp16(w.cellY + w.cellH),
                                     &colour);  // a failed fill does not stop the walk
      }
    }
    if (format.padding != 0) {
      std::uint8_t pad[4];
      r = TablePadding_Read(j.s, format.padding, pad);
      if (IsFailure(r)) return r;
      std::int16_t p[4];
      for (int i = 0; i < 4; ++i)
        p[i] = Table_PointsToPixels(j.device, j.ctx, pad[i]);
      w.cellX += p[3];
      w.cellY += p[0];
      w.cellW -= p[1] + p[3];
      w.cellH -= p[0] + p[2];
    }
  }
  w.cellW = std::max<std::int32_t>(w.cellW, 1);
  w.lineY = w.cellY;
  return kOk;
}

bool Meets(std::uint32_t a, std::uint32_t b, std::uint32_t lo, std::uint32_t hi) {
  return a < hi && lo < b;
}

// The cell's lines from linePos: drawn, inverted, hit or tested. *nested
// when a nested table is to be entered; *stop when the walk is answered.
StatusCode CellLines(Job& j, Walk& w, bool* nested, bool* stop) {
  *nested = false;
  *stop = false;
  const std::int32_t boxBottom = w.cellY + w.cellH;
  DeviceRect previous{};
  DeviceRect clip{};
  bool clipped = false;
  if (j.mode == Mode::Draw || j.mode == Mode::Invert) {
    DeviceRect box{Clamp16(w.cellX), Clamp16(w.cellY), Clamp16(w.cellX + w.cellW),
                   Clamp16(boxBottom)};
    clipped = Dev(j.device).surfaceCommand(j.device, j.ctx, &box, &previous,
                                           DeviceSurface::ClipIntersect) == kOk;
    if (!clipped || Dev(j.device).surfaceCommand(j.device, j.ctx, &clip, nullptr,
                                                 DeviceSurface::GetClip) != kOk) {
      clip = box;
    }
  } else {
    clip = DeviceRect{Clamp16(w.cellX), Clamp16(w.cellY), Clamp16(w.cellX + w.cellW),
                      Clamp16(boxBottom)};
  }
  StatusCode r = kOk;
  while (w.linePos < w.c.cellEnd && w.lineY < j.bottomLimit) {
    bool table = false;
    std::uint32_t ts = 0, te = 0, segEnd = w.c.cellEnd;
    std::uint16_t number = 0;
    r = Table_NextNested(j.s, w.c.nesting + 1u, w.linePos, w.c.cellEnd, &table, &ts, &te, &number,
                         &segEnd);
    if (IsFailure(r)) break;
    if (table) {
      if (te > w.c.cellEnd || te <= w.linePos) {
        r = kDocMalformed;
        break;
      }
      if (j.mode == Mode::Hit) {
        // The nested table's full height decides whether the point is on it.
        TableSizeQuery size{};
        size.id = number;
        r = Store(j.device, TableStoreCode::TableSize, nullptr, &size);
        if (IsFailure(r)) break;
        NativeTableCursor inner{};
        NativeTableFormat format{};
        Sides sides{};
        r = TableCursor_Open(j.s, &inner, number, 1, ts, te);
        if (!IsFailure(r)) r = TableFormat_Read(j.s, inner.tableFormat, &format);
        if (!IsFailure(r)) r = ReadSides(j.s, j.device, j.ctx, format.borderBox, &sides);
        (void)TableCursor_Release(j.s, &inner);  // holds nothing: only item records were read
        if (IsFailure(r)) break;
        const std::int32_t height =
            static_cast<std::int32_t>(size.height) + sides.px[0] + sides.px[2];
        if (j.py >= w.lineY + height) {
          w.lineY += height;
          w.prevExtra = 0;
          w.linePos = te;
          continue;
        }
      }
      w.nestedStart = ts;
      w.nestedEnd = te;
      w.nestedNumber = number;
      w.nestedX = w.cellX;
      w.nestedY = w.lineY;
      w.nestedW = w.cellW;
      w.nestedHeight = 0;
      w.prevExtra = 0;
      *nested = true;
      break;
    }
    bool done = false;
    while (w.linePos < segEnd && w.lineY < j.bottomLimit) {
      std::uint32_t next = 0;
      LineMetrics m{};
      r = DocOpsOf(j.handler).layoutLine(j.handler, j.device, j.ctx, w.linePos, segEnd,
                                         Clamp16(w.cellW), &next, &m);
      if (r == kNoMore || IsFailure(r) || next <= w.linePos) {
        if (!IsFailure(r)) r = kOk;
        done = true;
        break;
      }
      if (m.top > w.prevExtra) w.lineY += m.top - w.prevExtra;
      const std::int32_t slotY = w.lineY - m.top;
      const std::int32_t bottom = w.lineY + m.height + m.extra;
      if (j.mode == Mode::Hit) {
        if (j.py < bottom || next >= w.c.cellEnd) {
          if (j.py >= bottom) {  // below the cell's last line
            j.hitStart = j.hitEnd = w.c.cellEnd;
          } else {
            r = DocHandler_HitTest(j.handler, j.device, j.ctx, Clamp16(j.px - w.cellX),
                                   Clamp16(j.py - slotY), &m, w.linePos, next, j.box, &j.hitStart,
                                   &j.hitEnd);
            if (IsFailure(r)) break;
            r = kOk;
            if (j.box != nullptr) {
              j.box->x = Clamp16(j.box->x + w.cellX);
              j.box->ascent = Clamp16(j.box->ascent + w.lineY);
            }
          }
          j.hit = true;
          *stop = true;
          break;
        }
      } else if (bottom > clip.top) {
        if (j.mode == Mode::Invert) {
          if (Meets(w.linePos, next, j.rangeStart, j.rangeEnd)) {
            const std::uint32_t a = std::max(w.linePos, j.rangeStart);
            const std::uint32_t b = std::min(next, j.rangeEnd);
            r = DocHandler_InvertRange(j.handler, j.device, j.ctx, j.style, Clamp16(w.cellX),
                                       Clamp16(slotY), &m, w.linePos, 0, 0, a, b);
            if (IsFailure(r)) break;
            if (b == j.rangeEnd) {
              *stop = true;
              break;
            }
          }
        } else if (j.mode == Mode::Visible) {
          if (next > j.rangeStart) {
            DocLinkVisibility q = *j.query;
            q.x = Clamp16(w.cellX);
            q.y = Clamp16(slotY);
            q.metrics = &m;
            q.lineStart = w.linePos;
            q.lineEnd = next;
            r = DocHandler_MeasureRun(j.handler, &q);
            if (r == kYes || IsFailure(r)) {
              *stop = true;
              break;
            }
            r = kOk;
          }
          if (next >= j.rangeEnd) {
            w.linePos = w.c.cellEnd;
            done = true;
            break;
          }
        } else {
          const bool caption = w.c.isCaption;
          if (caption) j.s->flags |= kCaptionBackground;
          r = DocOpsOf(j.handler).drawLineBackground(j.handler, j.device, j.ctx, Clamp16(w.cellX),
                                                     Clamp16(slotY), &m, Clamp16(w.cellX + w.cellW),
                                                     0, w.linePos, next);
          if (caption) j.s->flags &= static_cast<std::uint16_t>(~kCaptionBackground);
          if (!IsFailure(r)) {
            r = DocOpsOf(j.handler).drawLine(j.handler, j.device, j.ctx, Clamp16(w.cellX),
                                             Clamp16(slotY), &m, w.linePos, next);
            if (r == kNoMore) r = kOk;
          }
          if (IsFailure(r)) break;
        }
      }
      w.lineY = bottom;
      w.prevExtra = m.extra;
      w.linePos = next;
      if (w.lineY >= clip.bottom && j.mode != Mode::Hit) {
        done = true;
        break;
      }
    }
    if (IsFailure(r) || *stop) break;
    if (done) {
      w.linePos = w.c.cellEnd;
      break;
    }
  }
  if (clipped) {
    (void)Dev(j.device).surfaceCommand(j.device, j.ctx, &previous, nullptr,
                                       DeviceSurface::ClipReplace);  // restored in every case
  }
  return r;
}

StatusCode PushWalk(Job& j, Walk& w) {
  CloseNode(j);
  StatusCode r = TableCursor_Release(j.s, &w.c);
  if (IsFailure(r)) return r;
  std::uint16_t size = sizeof(Walk);
  r = Store(j.device, TableStoreCode::Push, &size, &w);
  if (IsFailure(r)) return r;
  ++j.pushed;
  return kOk;
}

StatusCode PopWalk(Job& j, Walk* w) {
  std::uint16_t size = sizeof(Walk);
  Walk back{};
  StatusCode r = Store(j.device, TableStoreCode::Pop, &size, &back);
  if (IsFailure(r)) return r;
  --j.pushed;
  *w = back;
  w->c.held[0] = w->c.held[1] = nullptr;
  return OpenNode(j, w->c.number);
}

bool CellOutside(const Job& j, const Walk& w) {
  if (j.mode == Mode::Hit) {
    // A caption by its box; a cell when it covers the grid cell the store
    // named, so a point between two cells finds the one the store names.
    if (w.c.isCaption) {
      return j.px < w.cellX || j.px >= w.cellX + w.cellW || j.py < w.cellY ||
             j.py >= w.cellY + w.cellH;
    }
    const std::uint32_t row = w.c.firstRow + w.c.rowOffset;
    return w.hitRow == kNoRow || w.hitRow < row || w.hitRow >= row + w.c.rowSpan ||
           w.hitColumn < w.c.column || w.hitColumn >= w.c.column + w.c.columnSpan;
  }
  return w.cellX >= j.rightLimit || w.cellX + w.cellW < 1 || w.cellY >= j.bottomLimit ||
         w.cellY + w.cellH < 1;
}

// The walk of a row line and the tables nested in its cells.
StatusCode RunWalk(Job& j, std::uint16_t number, std::uint32_t start, std::uint32_t end) {
  Walk w{};
  StatusCode r = BeginTable(j, w, number, 0, start, end);
  if (!IsFailure(r)) DrawFrame(j, w);
  bool stop = false;
  while (!IsFailure(r) && !stop) {
    // Cells of the current group; a cell may be resumed after its nested table.
    bool nested = false;
    if (w.inCell) {
      if (w.nestedHeight > 0 || w.nestedEnd > w.linePos) {
        w.lineY = w.nestedY + w.nestedHeight;
        w.linePos = w.nestedEnd;
        w.nestedHeight = 0;
        w.nestedEnd = 0;
      }
      r = CellLines(j, w, &nested, &stop);
      if (IsFailure(r) || stop) break;
      if (nested) {
        const Walk outer = w;
        r = PushWalk(j, w);
        if (IsFailure(r)) break;
        w = Walk{};
        w.originX = outer.nestedX;
        w.originY = outer.nestedY;
        w.nestedW = outer.nestedW;
        r = BeginTable(j, w, outer.nestedNumber, static_cast<std::uint16_t>(outer.c.nesting + 1),
                       outer.nestedStart, outer.nestedEnd);
        if (!IsFailure(r)) DrawFrame(j, w);
        continue;
      }
      w.inCell = false;
    }
    if (!w.groupOpen) {
      r = OpenGroup(j, w);
      if (IsFailure(r)) break;
    }
    r = TableCursor_NextCell(j.s, &w.c);
    if (r == kOk) {
      if ((j.mode == Mode::Invert || j.mode == Mode::Visible) &&
          !Meets(w.c.cellStart, w.c.cellEnd, j.rangeStart, j.rangeEnd)) {
        continue;
      }
      PlaceCell(j, w);
      if (CellOutside(j, w)) continue;
      r = OpenCell(j, w);
      continue;
    }
    if (r != kNoMore) break;
    r = kOk;
    // The group is done.
    std::int32_t groupBottom = w.groupTop;
    {
      TableRowSpan span{};
      span.firstRow = w.c.firstRow;
      span.span = w.c.isCaption ? 0 : w.c.groupRows;
      if (Store(j.device, TableStoreCode::RowSpanHeight, j.node, &span) == kOk) {
        groupBottom += span.height;
      }
    }
    bool tableDone = --w.groupsLeft == 0;
    if (!tableDone && !w.c.isCaption && groupBottom >= j.bottomLimit && j.mode != Mode::Hit) {
      tableDone = true;
    }
    if (!tableDone) {
      r = TableCursor_NextGroup(j.s, &w.c);
      if (r == kNoMore) {
        r = kOk;
        tableDone = true;
      }
      if (IsFailure(r)) break;
      w.groupOpen = false;
    }
    if (!tableDone) continue;
    // The table is done.
    const std::int32_t height = w.fullHeight;
    r = TableCursor_Release(j.s, &w.c);
    CloseNode(j);
    if (IsFailure(r) || j.pushed == 0) break;
    r = PopWalk(j, &w);
    if (IsFailure(r)) break;
    w.nestedHeight = height;
    if (j.mode == Mode::Hit && j.hit) stop = true;
  }
  // Whatever happened: this walk's records and node, then exactly the walks
  // it pushed.
  const StatusCode released = TableCursor_Release(j.s, &w.c);
  CloseNode(j);
  while (j.pushed > 0) {
    Walk scrap{};
    std::uint16_t size = sizeof scrap;
    --j.pushed;
    if (IsFailure(Store(j.device, TableStoreCode::Pop, &size, &scrap))) break;
  }
  if (!IsFailure(r) && IsFailure(released)) r = released;
  return r;
}

StatusCode Limits(Job& j) {
  std::int16_t right = 0, bottom = 0;
  const DeviceOps& d = Dev(j.device);
  if (d.getProperty(j.device, DeviceInfo::TableWidth, &right) != kOk) {
    const StatusCode r = d.getProperty(j.device, DeviceInfo::UsableWidth, &right);
    if (IsFailure(r)) return r;
  }
  const StatusCode r = d.getProperty(j.device, DeviceInfo::Height, &bottom);
  if (IsFailure(r)) return r;
  j.rightLimit = right;
  j.bottomLimit = bottom;
  return kOk;
}

Job MakeJob(EngineObject* handler, EngineObject* device, DeviceContext ctx, NativeDocState* s,
            Mode mode, const LineMetrics* metrics, std::uint32_t lineStart) {
  Job j{};
  j.handler = handler;
  j.device = device;
  j.ctx = ctx;
  j.s = s;
  j.mode = mode;
  j.metrics = metrics;
  j.lineStart = lineStart;
  return j;
}

// Holds a state flag for the length of an operation.
class FlagHold {
 public:
  FlagHold(NativeDocState* s, std::uint16_t flag) : s_(s), flag_(flag) { s_->flags |= flag_; }
  ~FlagHold() { s_->flags &= static_cast<std::uint16_t>(~flag_); }
  FlagHold(const FlagHold&) = delete;
  FlagHold& operator=(const FlagHold&) = delete;

 private:
  NativeDocState* s_;
  std::uint16_t flag_;
};

}  // namespace

StatusCode TableLine_IsTablePosition(NativeDocState* s, std::uint32_t p, std::uint16_t heldFlags,
                                     NativeRowLineTable* table) noexcept {
  if (s == nullptr) return kNo;
  if ((s->flags & NativeStateFlag::TableLayout) == 0 || (s->flags & heldFlags) != 0) return kNo;
  std::uint8_t attributes[6] = {};
  if (NativeStore_GetParagraphAttributes(s, p, attributes, nullptr, nullptr) != kOk ||
      (attributes[0] & 0x02) == 0) {
    return kNo;
  }
  NativeRowLineTable t{};
  if (NativeStore_FindLevelRun(s, 1, p, 0, &t.start, &t.end, &t.number) != kOk) return kNo;
  if (table != nullptr) *table = t;
  return kYes;
}

StatusCode TableLine_LayoutRowLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                   NativeDocState* s, std::uint32_t start, std::int16_t width,
                                   std::uint32_t* nextStart, LineMetrics* metrics) noexcept {
  if (handler == nullptr || device == nullptr || s == nullptr || metrics == nullptr)
    return kBadArgument;
  NativeRowLineTable t{};
  if (NativeStore_FindLevelRun(s, 1, start, 0, &t.start, &t.end, &t.number) != kOk)
    return kDocMalformed;
  Job j = MakeJob(handler, device, ctx, s, Mode::Draw, nullptr, start);
  StatusCode r = OpenNode(j, t.number);
  if (IsFailure(r)) return r;
  NativeTableCursor c{};
  r = TableCursor_Open(s, &c, t.number, 0, t.start, t.end);
  const bool caption = !IsFailure(r) && IsCaptionLine(c, start);
  TableRowSpan span{};
  if (!IsFailure(r)) r = caption ? SeekCaption(s, &c) : SeekGroupHolding(s, &c, start);
  if (!IsFailure(r)) {
    span.firstRow = caption ? 0 : c.firstRow;
    span.span = caption ? 0 : c.groupRows;
    r = Store(device, TableStoreCode::RowSpanHeight, j.node, &span);
  }
  const StatusCode released = TableCursor_Release(s, &c);
  CloseNode(j);
  if (IsFailure(r)) return r;
  if (IsFailure(released)) return released;
  NativeTableFormat format{};
  r = TableFormat_Read(s, c.tableFormat, &format);
  if (IsFailure(r)) return r;
  Sides sides{};
  r = ReadSides(s, device, ctx, format.borderBox, &sides);
  if (IsFailure(r)) return r;
  const bool withTop = !caption && c.firstRow == 0;
  const bool withBottom = !caption && c.firstRow + c.groupRows == c.rowCount;
  const std::uint32_t ch = c.charBytes;
  std::uint32_t next = 0;
  if (caption) {
    next = c.captionPlace == 2 ? t.end : c.groupEnd;
  } else if (c.group + 1 == c.groupCount && c.captionPlace != 2) {
    // Only the last group runs to the table's end: empty groups after this
    // one (they end where it ends) still get their lines.
    next = t.end;
  } else if (start < c.groupEnd) {
    next = c.groupEnd;
  } else {
    next = start + ch;
  }
  const std::int32_t full = span.tableWidth + sides.px[1] + sides.px[3];
  LineMetrics m{};
  m.width = Clamp16(full);
  m.height = Clamp16(span.height + (withTop ? sides.px[0] : 0) + (withBottom ? sides.px[2] : 0));
  m.ascent = span.height;
  m.indent = AlignTable(handler, device, ctx, t.start, full, width);
  if (m.height == 0) m.height = kEmptyRowHeight;
  *metrics = m;
  if (nextStart != nullptr) *nextStart = std::max(next, start + ch);
  return kOk;
}

StatusCode TableLine_DrawRowLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                 NativeDocState* s, std::int16_t x, std::int16_t y,
                                 const LineMetrics* metrics, std::uint32_t lineStart) noexcept {
  if (handler == nullptr || device == nullptr || s == nullptr || metrics == nullptr)
    return kBadArgument;
  NativeRowLineTable t{};
  if (NativeStore_FindLevelRun(s, 1, lineStart, 0, &t.start, &t.end, &t.number) != kOk)
    return kDocMalformed;
  Job j = MakeJob(handler, device, ctx, s, Mode::Draw, metrics, lineStart);
  j.x = x;
  j.y = y;
  const StatusCode r = Limits(j);
  if (IsFailure(r)) return r;
  FlagHold hold(s, NativeStateFlag::CellDraw);
  return RunWalk(j, t.number, t.start, t.end);
}

StatusCode TableLine_InvertRowLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                   NativeDocState* s, std::uint16_t style, std::int16_t x,
                                   std::int16_t y, const LineMetrics* metrics,
                                   std::uint32_t lineStart, std::uint32_t rangeStart,
                                   std::uint32_t rangeEnd) noexcept {
  if (handler == nullptr || device == nullptr || s == nullptr || metrics == nullptr)
    return kBadArgument;
  NativeRowLineTable t{};
  if (NativeStore_FindLevelRun(s, 1, lineStart, 0, &t.start, &t.end, &t.number) != kOk)
    return kDocMalformed;
  Job j = MakeJob(handler, device, ctx, s, Mode::Invert, metrics, lineStart);
  j.x = x;
  j.y = y;
  j.style = style;
  j.rangeStart = std::min(rangeStart, rangeEnd);
  j.rangeEnd = std::max(rangeStart, rangeEnd);
  const StatusCode r = Limits(j);
  if (IsFailure(r)) return r;
  FlagHold hold(s, NativeStateFlag::CellInvert);
  return RunWalk(j, t.number, t.start, t.end);
}

StatusCode TableLine_HitTestRowLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                    NativeDocState* s, std::int16_t x, std::int16_t y,
                                    const LineMetrics* metrics, std::uint32_t lineStart,
                                    HitBox* box, std::uint32_t* rangeStart,
                                    std::uint32_t* rangeEnd) noexcept {
  if (handler == nullptr || device == nullptr || s == nullptr || metrics == nullptr ||
      rangeStart == nullptr || rangeEnd == nullptr) {
    return kBadArgument;
  }
  NativeRowLineTable t{};
  if (NativeStore_FindLevelRun(s, 1, lineStart, 0, &t.start, &t.end, &t.number) != kOk)
    return kDocMalformed;
  Job j = MakeJob(handler, device, ctx, s, Mode::Hit, metrics, lineStart);
  j.px = x;
  j.py = y;
  j.box = box;
  j.rightLimit = 32767;
  j.bottomLimit = 32767;
  FlagHold hold(s, NativeStateFlag::CellCopy);
  const StatusCode r = RunWalk(j, t.number, t.start, t.end);
  if (IsFailure(r)) return r;
  *rangeStart = j.hit ? j.hitStart : lineStart;
  *rangeEnd = j.hit ? j.hitEnd : lineStart;
  return kOk;
}

StatusCode TableLine_RangeVisible(EngineObject* handler, NativeDocState* s,
                                  const DocLinkVisibility* q) noexcept {
  if (handler == nullptr || s == nullptr || q == nullptr || q->metrics == nullptr)
    return kBadArgument;
  NativeRowLineTable t{};
  if (NativeStore_FindLevelRun(s, 1, q->lineStart, 0, &t.start, &t.end, &t.number) != kOk)
    return kDocMalformed;
  Job j = MakeJob(handler, q->device, q->ctx, s, Mode::Visible, q->metrics, q->lineStart);
  j.x = q->x;
  j.y = q->y;
  j.rangeStart = q->rangeStart;
  j.rangeEnd = q->rangeEnd;
  j.rightLimit = q->rightLimit;
  j.bottomLimit = q->bottomLimit;
  j.query = q;
  FlagHold hold(s, NativeStateFlag::CellDraw);
  const StatusCode r = RunWalk(j, t.number, t.start, t.end);
  return r == kYes ? kYes : IsFailure(r) ? r : kOk;
}
