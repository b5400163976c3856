// The native handler's slot table and the slots that add the native format
// to the shared flowing-text layout: inline objects, paragraph space,
// section data, character styles, links, position lists and the native
// control codes.
#include "engine/formats/native_handler.h"

#include <algorithm>
#include <cstring>

#include "engine/device/device_painter.h"
#include "engine/device/select_ctl.h"
#include "engine/formats/flow_text.h"
#include "engine/formats/native_image.h"
#include "engine/formats/native_index.h"
#include "engine/formats/native_link.h"
#include "engine/formats/native_select.h"
#include "engine/formats/native_strings.h"
#include "engine/formats/native_table.h"
#include "engine/formats/native_table_lines.h"
#include "engine/formats/native_table_pass.h"
#include "engine/formats/native_text.h"
#include "engine/runtime/allocator.h"

static_assert(sizeof(NativeLinkRange) == sizeof(LinkRange));

namespace {

NativeDocState* Body(EngineObject* handler) {
  return handler != nullptr ? static_cast<NativeDocState*>(handler->state) : nullptr;
}

std::uint32_t CharBytes(const NativeDocState& s) {
  return (s.flags & NativeStateFlag::Utf16) != 0 ? 2 : 1;
}

bool HasParagraphFormats(const NativeDocState& s) {
  return s.record0.rangeCount[NativeRange::RunList0] != 0;
}

// Points to pixels; a failed conversion keeps the points. The device
// answers at least 1 pixel, also for 0 points.
int Pixels(EngineObject* device, DeviceContext ctx, int points) {
  if (points < 0) return points;
  std::int16_t px = 0;
  const StatusCode r = DeviceOf(device).pointsToPixels(
      device, ctx, static_cast<std::uint16_t>(std::min(points, 0xFFFF)), &px);
  return IsFailure(r) ? points : px;
}

// The table-10 attribute byte of the paragraph at p (0 when none).
std::uint8_t ParagraphAttributes(NativeDocState& s, std::uint32_t p) {
  std::uint8_t item[6] = {};
  std::uint32_t a = 0, b = 0;
  if (NativeStore_GetParagraphAttributes(&s, p, item, &a, &b) != kOk) return 0;
  return item[0];
}

// Where the next object at or after p begins, or limit when none does
// before it.
std::uint32_t NextObjectStart(NativeDocState& s, std::uint32_t p, std::uint32_t limit) {
  NativeRunCursor& c = s.objects;
  if (c.count == 0 || p >= limit) return limit;
  if (NativeRun_SeekPosition(s.db, &c, p, limit) != kOk) return limit;
  while (c.runStart < limit) {
    if (NativeRun_Value(c) != 0 && c.runEnd > p) return std::max(c.runStart, p);
    if (NativeRun_Next(s.db, &c) != kOk) break;
  }
  return limit;
}

// The paragraph alignment and flags of the table 6 item at p (level 0 of
// run list 0), as GetCharStyle passes them on.
struct ParagraphFormat {
  std::uint16_t formatFlags = 0;
  std::uint32_t runEnd = kRunToEnd;
};

std::uint16_t SplitNumber(const NativeItem& item, int lowPart, int lowByte, int highPart,
                          int highByte) {
  return static_cast<std::uint16_t>(item.part[lowPart][lowByte] +
                                    256u * item.part[highPart][highByte]);
}

// Table 6 fields (split numbers): the spacing item of table 3, the border
// item of table 5 and the padding item of table 4.
std::uint16_t SpacingItem(const NativeItem& f) {
  return SplitNumber(f, 0, 3, 2, 1);
}
std::uint16_t BorderItem(const NativeItem& f) {
  return SplitNumber(f, 1, 0, 2, 2);
}
std::uint16_t PaddingItem(const NativeItem& f) {
  return SplitNumber(f, 1, 1, 2, 3);
}

StatusCode ReadParagraphFormat(NativeDocState& s, std::uint32_t p, ParagraphFormat* out) {
  *out = ParagraphFormat{};
  const bool rightAlign = (s.settings.flags & DocFlag::RightAlign) != 0;
  std::uint32_t value = 0, start = 0, end = 0;
  const StatusCode r = HasParagraphFormats(s)
                           ? NativeStore_SeekRun(&s, NativeRange::RunList0, p, &value, &start, &end)
                           : kNotFound;
  if (r == kNotFound || (r == kOk && value == 0)) {
    if (r == kOk) out->runEnd = end;
    if (rightAlign) out->formatFlags = DocFormat::AlignRight;
    return kOk;
  }
  if (IsFailure(r)) return r;
  out->runEnd = end;
  NativeItem f{};
  StatusCode t = NativeStore_ReadItem(&s, 6, value, &f);
  if (IsFailure(t)) return t;
  const std::uint8_t b = f.part[0][0];
  std::uint16_t align = b & 3;
  if (align == 0 && rightAlign) align = 2;
  std::uint16_t flags = align;
  const std::uint8_t g = f.part[0][1];
  if (g & 0x01) flags |= DocFormat::MarkerParagraph;
  if (g & 0x02) flags |= DocFormat::MinWidthPercent;
  if (g & 0x08) flags |= DocFormat::NativeBreak;
  if (g & 0x10) flags |= DocFormat::BlockIndent;
  out->formatFlags = flags;
  return kOk;
}

// What an object line measures.
struct ObjectBox {
  std::int16_t width = 0;
  std::int16_t height = 0;
  std::int16_t ascent = 0;
  bool fromText = true;  // height and ascent come from the character's font
};

StatusCode MeasureObject(EngineObject* handler, NativeDocState& s, EngineObject* device,
                         DeviceContext ctx, std::uint32_t p, std::uint32_t code,
                         const LineMetrics& text, ObjectBox* out) {
  *out = ObjectBox{};
  out->height = text.height;
  out->ascent = text.ascent;
  if (code == NativeObject::SpecialA || code == NativeObject::SpecialB) {
    out->width = static_cast<std::int16_t>(-static_cast<int>(code));
    return kOk;
  }
  if (code >= NativeObject::ImageFirst && code <= NativeObject::ImageLast) {
    std::int16_t w = 0, h = 0;
    const StatusCode r = DocImage_GetDisplaySize(&s, device, ctx, p, code & 0xFFFF, &w, &h);
    if (IsFailure(r)) return r;
    *out = ObjectBox{w, h, h, false};
    return kOk;
  }
  if (code >= NativeObject::SelectFirst && code <= NativeObject::SelectLast) {
    // The list takes the style GetCharStyle answers at its position: the
    // font, size and colours of the character format there. The paragraph
    // formats and attributes hold no font; the paragraph's alignment places
    // the list on its line (LayoutObjectLine).
    DeviceFontSpec font{};
    CharFormat format{};
    std::uint32_t runEnd = 0;
    if (DocOpsOf(handler).getCharStyle(handler, device, p, &font, &format, &runEnd) != kOk)
      DocHandler_InitCharStyle(&font, nullptr);
    std::int16_t w = 0, h = 0, base = 0;
    const StatusCode r = SelectList_Measure(&s, device, ctx, font, code & 0xFFFF, &w, &h, &base);
    if (IsFailure(r)) return r;
    *out = ObjectBox{w, h, base, false};
    return kOk;
  }
  out->width = 1;
  return kOk;
}

// Lays out the object line at p: the character laid out as text gives the
// font's height, the object its own size; images and lists are aligned by
// the paragraph.
StatusCode LayoutObjectLine(EngineObject* handler, NativeDocState& s, EngineObject* device,
                            DeviceContext ctx, std::uint32_t p, std::uint32_t code,
                            std::int16_t width, std::uint32_t* nextStart, LineMetrics* metrics) {
  const std::uint32_t next = p + CharBytes(s);
  LineMetrics text{};
  std::uint32_t ignored = 0;
  StatusCode r =
      DocHandler_LayoutLine(handler, device, ctx, p, next, kDocUnboundedWidth, &ignored, &text);
  if (IsFailure(r)) return r;
  ObjectBox box;
  r = MeasureObject(handler, s, device, ctx, p, code, text, &box);
  if (IsFailure(r)) return r;
  LineMetrics m{};
  m.width = box.width;
  m.height = box.height;
  m.ascent = box.ascent;
  m.indent = text.indent;
  if (!box.fromText) {
    ParagraphFormat f;
    if (ReadParagraphFormat(s, p, &f) == kOk) {
      const int free = width - box.width;
      const std::uint16_t align = f.formatFlags & DocFormat::AlignMask;
      m.indent = static_cast<std::int16_t>(align == DocFormat::AlignCentre && free > 0  ? free / 2
                                           : align == DocFormat::AlignRight && free > 0 ? free
                                                                                        : 0);
    }
  }
  if (metrics != nullptr) *metrics = m;
  if (nextStart != nullptr) *nextStart = next;
  return kOk;
}

bool IsNewlineProbe(std::uint32_t start, std::uint32_t end, std::int16_t width,
                    const std::uint32_t* nextStart) {
  return end > start && end - start == 1 && width == 0 && nextStart == nullptr;
}

// The object that is the whole line [start, end), if any.
bool ObjectLine(NativeDocState& s, std::uint32_t start, std::uint32_t end, std::uint32_t* code) {
  if (end <= start || end - start > CharBytes(s)) return false;
  std::uint32_t runEnd = 0;
  return NativeDoc_ObjectAt(&s, start, code, &runEnd) == kOk;
}

bool IsBullet(std::uint32_t code) {
  return code >= NativeObject::BulletFirst && code <= NativeObject::BulletLast;
}

// A bullet begins the line that holds the text after it: the bullet, a gap
// of its own width, then the text laid out in what is left.
struct BulletShape {
  std::int16_t width = 0;  // the bullet and its gap
  std::uint16_t marker = 0;
};

StatusCode MeasureBullet(EngineObject* handler, NativeDocState& s, EngineObject* device,
                         DeviceContext ctx, std::uint32_t p, std::uint32_t code, BulletShape* out) {
  LineMetrics text{};
  std::uint32_t ignored = 0;
  const StatusCode r = DocHandler_LayoutLine(handler, device, ctx, p, p + CharBytes(s),
                                             kDocUnboundedWidth, &ignored, &text);
  if (IsFailure(r)) return r;
  const int bullet = 3 * text.ascent / 8;
  out->width = Device_Clamp16(2 * std::max(bullet, 1));
  out->marker = static_cast<std::uint16_t>(kMarkerBullet | (code - 2));
  return kOk;
}

// The metrics of the text after a bullet: the line's, beyond the bullet.
LineMetrics PastBullet(const LineMetrics& line, const BulletShape& b) {
  LineMetrics text = line;
  text.indent = Device_Clamp16(line.indent + b.width);
  text.width = Device_Clamp16(line.width - b.width);
  return text;
}

// The bullet at the start of the line at lineStart, if any.
bool BulletLine(NativeDocState& s, std::uint32_t lineStart, std::uint32_t* code) {
  std::uint32_t runEnd = 0;
  return NativeDoc_ObjectAt(&s, lineStart, code, &runEnd) == kOk && IsBullet(*code);
}

StatusCode LayoutBulletLine(EngineObject* handler, NativeDocState& s, EngineObject* device,
                            DeviceContext ctx, std::uint32_t p, std::uint32_t end,
                            std::uint32_t code, std::int16_t width, std::uint32_t* nextStart,
                            LineMetrics* metrics) {
  BulletShape b;
  StatusCode r = MeasureBullet(handler, s, device, ctx, p, code, &b);
  if (IsFailure(r)) return r;
  const std::uint32_t after = p + CharBytes(s);
  const std::uint32_t limit = NextObjectStart(s, after, end);
  LineMetrics m{};
  std::uint32_t next = after;
  if (after < limit) {
    r = DocHandler_LayoutLine(handler, device, ctx, after, limit,
                              Device_Clamp16(std::max(width - b.width, 1)), &next, &m);
    if (r == kNoMore) {
      next = after;
      r = kOk;
    }
    if (r != kOk) return r;
  }
  if (next == after) {
    // Nothing follows on the line: the bullet alone, in its font's height.
    r = DocHandler_LayoutLine(handler, device, ctx, p, after, kDocUnboundedWidth, &next, &m);
    if (r != kOk) return r;
    m.width = 0;
    next = after;
  }
  m.width = Device_Clamp16(m.width + b.width);
  *metrics = m;
  *nextStart = next;
  return kOk;
}

// The bullet in the character style of its position, then the text after
// it beyond the bullet's width.
StatusCode DrawBulletLine(EngineObject* handler, NativeDocState& s, EngineObject* device,
                          DeviceContext ctx, std::int16_t x, std::int16_t y,
                          const LineMetrics& metrics, std::uint32_t start, std::uint32_t end,
                          std::uint32_t code) {
  BulletShape b;
  StatusCode r = MeasureBullet(handler, s, device, ctx, start, code, &b);
  if (IsFailure(r)) return r;
  DeviceFontSpec font{};
  CharFormat format{};
  std::uint32_t runEnd = 0;
  if (DocOpsOf(handler).getCharStyle(handler, device, start, &font, &format, &runEnd) != kOk)
    DocHandler_InitCharStyle(&font, nullptr);
  const DeviceOps& d = DeviceOf(device);
  std::int16_t h = 0, lead = 0, ascent = 0;
  r = d.selectFont(device, ctx, &font, &h, &lead, &ascent);
  if (IsFailure(r)) return r;
  r = d.drawListMarker(device, ctx, Device_Clamp16(x + metrics.indent),
                       Device_Clamp16(y + metrics.top + metrics.ascent), &font, b.marker);
  if (IsFailure(r)) return r;
  const std::uint32_t after = start + CharBytes(s);
  if (after >= end) return kOk;
  const LineMetrics text = PastBullet(metrics, b);
  return DocHandler_DrawLine(handler, device, ctx, x, y, &text, after, end);
}

// A row line of the outermost table; the table's first and last lines
// take the paragraph space of the paragraphs holding the table.
StatusCode LayoutTableLine(EngineObject* handler, NativeDocState& s, EngineObject* device,
                           DeviceContext ctx, std::uint32_t start, std::int16_t width,
                           const NativeRowLineTable& table, std::uint32_t* nextStart,
                           LineMetrics* metrics) {
  LineMetrics m{};
  std::uint32_t next = 0;
  StatusCode r = TableLine_LayoutRowLine(handler, device, ctx, &s, start, width, &next, &m);
  if (r != kOk) return r;
  if (start == table.start || next >= table.end) {
    const std::uint32_t to = start == table.start && next < table.end ? next : table.end;
    r = NativeDoc_AddParagraphSpace(&s, device, ctx, start, next, start, to, &m);
    if (IsFailure(r)) return r;
  }
  if (m.height == 0) m.height = 5;
  if (metrics != nullptr) *metrics = m;
  if (nextStart != nullptr) *nextStart = next;
  return kOk;
}

// The section item of the section run holding p: its flag byte and colour.
struct SectionItem {
  bool present = false;
  std::uint8_t flags = 0;
  DeviceColour colour{};
};

StatusCode ReadSectionItem(NativeDocState& s, std::uint32_t item, SectionItem* out) {
  *out = SectionItem{};
  const std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  const StatusCode r = NativeStore_GetIndexedItem(&s, 2, item, &data, &length);
  if (r == kNotFound) return kOk;
  if (IsFailure(r)) return r;
  if (length < 6) return kDocMalformed;
  out->present = true;
  out->flags = data[1];
  out->colour = DeviceColour{data[3], data[4], data[5]};
  return kOk;
}

}  // namespace

StatusCode NativeDoc_ObjectAt(NativeDocState* s, std::uint32_t p, std::uint32_t* code,
                              std::uint32_t* runEnd) noexcept {
  if (s == nullptr) return kBadArgument;
  std::uint32_t value = 0, start = 0, end = 0;
  if (s->objects.count == 0) return kNotFound;
  const StatusCode r = NativeStore_SeekRun(s, NativeRange::InlineObjects, p, &value, &start, &end);
  if (r != kOk) return r;
  if (value == 0) return kNotFound;
  if (code != nullptr) *code = value;
  if (runEnd != nullptr) *runEnd = end;
  return kOk;
}

StatusCode NativeDoc_AddParagraphSpace(NativeDocState* s, EngineObject* device, DeviceContext ctx,
                                       std::uint32_t p, std::uint32_t e, std::uint32_t rangeFrom,
                                       std::uint32_t rangeTo, LineMetrics* m) noexcept {
  if (s == nullptr || m == nullptr) return kBadArgument;
  if (!HasParagraphFormats(*s)) return kOk;
  const bool withRange = rangeTo > rangeFrom;
  const std::uint32_t levels = std::max<std::uint32_t>(s->runLists[0].descriptor.columns, 1);
  int largestAbove = 0, largestBelow = 0;
  bool boxAbove = false, boxBelow = false;
  auto addAbove = [&](int space) {
    if (space <= largestAbove) return;
    if (!boxAbove) {
      m->top = Device_Clamp16(space);
    } else {
      m->height = Device_Clamp16(m->height + space - largestAbove);
      m->ascent = Device_Clamp16(m->ascent + space - largestAbove);
    }
    largestAbove = space;
  };
  auto addBelow = [&](int space) {
    if (space <= largestBelow) return;
    if (!boxBelow) {
      m->extra = Device_Clamp16(space);
    } else {
      m->height = Device_Clamp16(m->height + space - largestBelow);
    }
    largestBelow = space;
  };
  for (std::uint32_t level = 0; level < levels; ++level) {
    std::uint32_t value = 0, start = 0, end = 0;
    const StatusCode r = NativeStore_SeekColumn(s, 0, level, p, p, &value, &start, &end);
    if (r == kNotFound || r == kIndexOutOfRange) return kOk;
    if (IsFailure(r)) return r;
    if (start > p || end <= p) return kOk;
    if (withRange && (start > rangeFrom || end < rangeTo)) return kOk;
    NativeItem f{};
    StatusCode t = NativeStore_ReadItem(s, 6, value, &f);
    if (IsFailure(t)) return t;
    const bool atStart = p == start;
    const bool atEnd = e == end || (p <= end && e == end + 1);
    NativeItem item{};
    if (const std::uint16_t n = SpacingItem(f); n != 0) {
      t = NativeStore_ReadItem(s, 3, n, &item);
      if (IsFailure(t)) return t;
      if (item.present[1]) {
        const int above = static_cast<std::int8_t>(item.part[1][1]);
        const int below = static_cast<std::int8_t>(item.part[1][2]);
        if (atStart && above > 0) addAbove(Pixels(device, ctx, above));
        if (atEnd && below > 0) addBelow(Pixels(device, ctx, below));
      }
    }
    if (const std::uint16_t n = BorderItem(f); n != 0) {
      NativeBorderSide sides[4] = {};
      t = DocImage_ReadBorders(s, n, sides);
      if (IsFailure(t)) return t;
      if (atStart && sides[0].width != 0 && sides[0].style != 0) {
        const int w = Pixels(device, ctx, sides[0].width);
        m->height = Device_Clamp16(m->height + w);
        m->ascent = Device_Clamp16(m->ascent + w);
        boxAbove = true;
        largestAbove = 0;
      }
      if (atEnd && sides[2].width != 0 && sides[2].style != 0) {
        m->height = Device_Clamp16(m->height + Pixels(device, ctx, sides[2].width));
        boxBelow = true;
        largestBelow = 0;
      }
    }
    if (const std::uint16_t n = PaddingItem(f); n != 0) {
      t = NativeStore_ReadItem(s, 4, n, &item);
      if (IsFailure(t)) return t;
      const int top = item.part[0][1];
      const int bottom = item.present[2] ? item.part[2][0] : top;
      if (atStart) {
        const int w = Pixels(device, ctx, top);
        m->height = Device_Clamp16(m->height + w);
        m->ascent = Device_Clamp16(m->ascent + w);
        boxAbove = true;
        largestAbove = 0;
      }
      if (atEnd) {
        m->height = Device_Clamp16(m->height + Pixels(device, ctx, bottom));
        boxBelow = true;
        largestBelow = 0;
      }
    }
  }
  return kOk;
}

StatusCode NativeDoc_LayoutLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                std::uint32_t start, std::uint32_t end, std::int16_t width,
                                std::uint32_t* nextStart, LineMetrics* metrics) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr) return kBadArgument;
  if (start >= end || IsNewlineProbe(start, end, width, nextStart))
    return DocHandler_LayoutLine(handler, device, ctx, start, end, width, nextStart, metrics);
  NativeRowLineTable table{};
  if (TableLine_IsTablePosition(
          s, start,
          NativeStateFlag::CellDraw | NativeStateFlag::CellCopy | NativeStateFlag::CellInvert,
          &table) == kYes) {
    return LayoutTableLine(handler, *s, device, ctx, start, width, table, nextStart, metrics);
  }
  std::uint32_t code = 0, runEnd = 0;
  const StatusCode object = NativeDoc_ObjectAt(s, start, &code, &runEnd);
  StatusCode r = kOk;
  std::uint32_t next = 0;
  LineMetrics m{};
  if (object == kOk && IsBullet(code)) {
    r = LayoutBulletLine(handler, *s, device, ctx, start, end, code, width, &next, &m);
  } else if (object == kOk) {
    r = LayoutObjectLine(handler, *s, device, ctx, start, code, width, &next, &m);
  } else {
    // A text line ends where the next object begins.
    const std::uint32_t limit = NextObjectStart(*s, start + CharBytes(*s), end);
    std::int16_t w = width;
    if ((ParagraphAttributes(*s, start) & NativeParaAttr::NoWrap) != 0 &&
        (s->settings.flags & DocFlag::RightAlign) == 0) {
      w = kDocUnboundedWidth;
    }
    r = DocHandler_LayoutLine(handler, device, ctx, start, limit, w, &next, &m);
  }
  if (r != kOk) return r;
  r = NativeDoc_AddParagraphSpace(s, device, ctx, start, next, 0, 0, &m);
  if (IsFailure(r)) return r;
  if (metrics != nullptr) *metrics = m;
  if (nextStart != nullptr) *nextStart = next;
  return kOk;
}

StatusCode NativeDoc_DrawLineBackground(EngineObject* handler, EngineObject* device,
                                        DeviceContext ctx, std::int16_t x, std::int16_t y,
                                        const LineMetrics* metrics, std::int16_t right,
                                        std::uint16_t, std::uint32_t lineStart,
                                        std::uint32_t) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr) return kBadArgument;
  if (metrics == nullptr) return kNullOutPointer;
  // A cell's lines lie on the cell's own background.
  if ((s->flags & NativeStateFlag::CellDraw) != 0) return kOk;
  SectionItem item;
  std::uint32_t value = 0, a = 0, b = 0;
  if (s->sections.count != 0 &&
      NativeStore_SeekRun(s, NativeRange::Sections, lineStart, &value, &a, &b) == kOk) {
    const StatusCode r = ReadSectionItem(*s, value, &item);
    if (IsFailure(r)) return r;
  }
  const int top = y + metrics->top;
  // Without a colour of its own the line takes the window's (or the
  // theme's) background.
  const DeviceColour* colour = item.present && (item.flags & 1) != 0 ? &item.colour : nullptr;
  return DeviceOf(device).fillRect(device, ctx, x, Device_Clamp16(top), right,
                                   Device_Clamp16(top + metrics->height), colour);
}

StatusCode NativeDoc_DrawLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                              std::int16_t x, std::int16_t y, const LineMetrics* metrics,
                              std::uint32_t start, std::uint32_t end) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr) return kBadArgument;
  NativeRowLineTable table{};
  if (metrics != nullptr && start < end &&
      TableLine_IsTablePosition(s, start, NativeStateFlag::CellDraw, &table) == kYes) {
    return TableLine_DrawRowLine(handler, device, ctx, s, x, y, metrics, start);
  }
  std::uint32_t code = 0;
  if (metrics != nullptr && start < end && BulletLine(*s, start, &code))
    return DrawBulletLine(handler, *s, device, ctx, x, y, *metrics, start, end, code);
  if (metrics == nullptr || !ObjectLine(*s, start, end, &code))
    return DocHandler_DrawLine(handler, device, ctx, x, y, metrics, start, end);
  const int left = x + metrics->indent;
  const int top = y + metrics->top;
  if (code >= NativeObject::ImageFirst && code <= NativeObject::ImageLast) {
    LineMetrics drawn = *metrics;
    return DocImage_DrawImageObject(s, device, ctx, &drawn, Device_Clamp16(left),
                                    Device_Clamp16(top), start, code & 0xFFFF);
  }
  if (code < NativeObject::SelectFirst || code > NativeObject::SelectLast) return kOk;
  DeviceFontSpec font{};
  CharFormat format{};
  std::uint32_t runEnd = 0;
  if (DocOpsOf(handler).getCharStyle(handler, device, start, &font, &format, &runEnd) != kOk)
    DocHandler_InitCharStyle(&font, nullptr);
  SelectCtlPlace place{
      ctx, &font, Device_Clamp16(left), Device_Clamp16(top), metrics->height, metrics->ascent,
      0,   0};
  return SelectList_Draw(s, device, code & 0xFFFF, &place);
}

StatusCode NativeDoc_InvertRange(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                 std::uint16_t style, std::int16_t x, std::int16_t y,
                                 const LineMetrics* metrics, std::uint32_t lineStart,
                                 std::int16_t x1, std::int16_t x2, std::uint32_t rangeStart,
                                 std::uint32_t rangeEnd) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr) return kBadArgument;
  NativeRowLineTable table{};
  if (metrics != nullptr &&
      TableLine_IsTablePosition(s, lineStart, NativeStateFlag::CellInvert, &table) == kYes) {
    return TableLine_InvertRowLine(handler, device, ctx, s, style, x, y, metrics, lineStart,
                                   rangeStart, rangeEnd);
  }
  return DocHandler_InvertRange(handler, device, ctx, style, x, y, metrics, lineStart, x1, x2,
                                rangeStart, rangeEnd);
}

StatusCode NativeDoc_GetSectionRange(EngineObject* handler, std::int16_t section,
                                     std::uint32_t* start, std::uint32_t* end) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr) return kBadArgument;
  if (section < 0) return kNoMore;
  std::uint32_t a = 0, b = 0;
  if (s->sections.count == 0) {
    // Without a section list the whole text is one section.
    if (section != 0) return kNoMore;
    b = s->record0.header.textLength;
  } else {
    std::uint32_t n = 0;
    const StatusCode r =
        NativeStore_LocateSection(s, true, static_cast<std::uint32_t>(section), &n, &a, &b);
    if (r == kNotFound) return kNoMore;
    if (r != kOk) return r;
  }
  if (start != nullptr) *start = a;
  if (end != nullptr) *end = b;
  return kOk;
}

StatusCode NativeDoc_FindSection(EngineObject* handler, std::uint32_t position,
                                 std::int16_t* section, std::uint32_t* start,
                                 std::uint32_t* end) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr) return kBadArgument;
  const std::uint32_t length = s->record0.header.textLength;
  if (position >= length) return kNoMore;
  std::uint32_t n = 0, a = 0, b = length;
  if (s->sections.count != 0) {
    const StatusCode r = NativeStore_LocateSection(s, false, position, &n, &a, &b);
    if (r == kNotFound) return kNoMore;
    if (r != kOk) return r;
  }
  if (section != nullptr) *section = static_cast<std::int16_t>(std::min<std::uint32_t>(n, 0x7FFF));
  if (start != nullptr) *start = a;
  if (end != nullptr) *end = b;
  return kOk;
}

StatusCode NativeDoc_GetSectionFlags(EngineObject* handler, std::int16_t section,
                                     std::uint32_t* flags) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr) return kBadArgument;
  if (flags == nullptr) return kNullOutPointer;
  if (section < 0) return kNoMore;
  if (s->sections.count == 0) {
    if (section != 0) return kNoMore;
    *flags = 0;
    return kOk;
  }
  if (static_cast<std::uint32_t>(section) >= s->record0.header.sectionCount) return kNoMore;
  StatusCode r = NativeRun_SeekRun(s->db, &s->sections, static_cast<std::uint32_t>(section));
  if (r == kNoMore || r == kNotFound) return kNoMore;
  if (r != kOk) return r;
  SectionItem item;
  r = ReadSectionItem(*s, NativeRun_Value(s->sections), &item);
  if (IsFailure(r)) return r;
  *flags = (item.flags & 0x02) != 0 ? kSectionNeedsPagination : 0;
  return kOk;
}

StatusCode NativeDoc_HitTest(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                             std::int16_t x, std::int16_t y, const LineMetrics* metrics,
                             std::uint32_t lineStart, std::uint32_t lineEnd, HitBox* box,
                             std::uint32_t* rangeStart, std::uint32_t* rangeEnd) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr) return kBadArgument;
  NativeRowLineTable table{};
  if (metrics != nullptr && TableLine_IsTablePosition(s, lineStart, 0, &table) == kYes) {
    return TableLine_HitTestRowLine(handler, device, ctx, s, x, y, metrics, lineStart, box,
                                    rangeStart, rangeEnd);
  }
  std::uint32_t code = 0;
  if (metrics != nullptr && lineStart < lineEnd && BulletLine(*s, lineStart, &code)) {
    BulletShape b;
    const StatusCode r = MeasureBullet(handler, *s, device, ctx, lineStart, code, &b);
    if (IsFailure(r)) return r;
    const std::uint32_t after = lineStart + CharBytes(*s);
    if (x >= metrics->indent + b.width && after < lineEnd) {
      const LineMetrics text = PastBullet(*metrics, b);
      return DocHandler_HitTest(handler, device, ctx, x, y, &text, after, lineEnd, box, rangeStart,
                                rangeEnd);
    }
    if (box != nullptr) *box = HitBox{b.width, metrics->height, metrics->indent, metrics->ascent};
    if (rangeStart != nullptr) *rangeStart = lineStart;
    if (rangeEnd != nullptr) *rangeEnd = after;
    return kOk;
  }
  if (metrics == nullptr || !ObjectLine(*s, lineStart, lineEnd, &code)) {
    return DocHandler_HitTest(handler, device, ctx, x, y, metrics, lineStart, lineEnd, box,
                              rangeStart, rangeEnd);
  }
  // An object is one character: any point on its line hits it.
  if (box != nullptr)
    *box = HitBox{metrics->width, metrics->height, metrics->indent, metrics->ascent};
  if (rangeStart != nullptr) *rangeStart = lineStart;
  if (rangeEnd != nullptr) *rangeEnd = lineEnd;
  return kOk;
}

StatusCode NativeDoc_PositionToX(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                 std::uint32_t lineStart, std::uint32_t rangeStart,
                                 std::uint32_t rangeEnd, std::int16_t* x1,
                                 std::int16_t* x2) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr) return kBadArgument;
  std::uint32_t code = 0, runEnd = 0;
  if (NativeDoc_ObjectAt(s, lineStart, &code, &runEnd) != kOk)
    return DocHandler_PositionToX(handler, device, ctx, lineStart, rangeStart, rangeEnd, x1, x2);
  if (x1 == nullptr || x2 == nullptr) return kNullOutPointer;
  if (IsBullet(code)) {
    BulletShape b;
    StatusCode r = MeasureBullet(handler, *s, device, ctx, lineStart, code, &b);
    if (IsFailure(r)) return r;
    const std::uint32_t after = lineStart + CharBytes(*s);
    std::int16_t a = 0, e = 0;
    r = DocHandler_PositionToX(handler, device, ctx, after, std::max(rangeStart, after),
                               std::max(rangeEnd, after), &a, &e);
    if (IsFailure(r)) return r;
    *x1 = rangeStart <= lineStart ? std::int16_t{0} : Device_Clamp16(b.width + a);
    *x2 = rangeEnd <= lineStart ? std::int16_t{0} : Device_Clamp16(b.width + e);
    return kOk;
  }
  LineMetrics m{};
  std::uint32_t next = 0;
  const StatusCode r =
      LayoutObjectLine(handler, *s, device, ctx, lineStart, code, kDocUnboundedWidth, &next, &m);
  if (IsFailure(r)) return r;
  const std::int16_t w = std::max<std::int16_t>(m.width, 0);
  *x1 = rangeStart > lineStart ? w : std::int16_t{0};
  *x2 = rangeEnd > lineStart ? w : std::int16_t{0};
  return kOk;
}

StatusCode NativeDoc_GetCharStyle(EngineObject* handler, EngineObject*, std::uint32_t position,
                                  DeviceFontSpec* font, CharFormat* format,
                                  std::uint32_t* runEnd) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr) return kBadArgument;
  if (runEnd == nullptr) return kNullOutPointer;
  NativeCharFormat c{};
  std::uint32_t charEnd = kRunToEnd;
  StatusCode r = NativeStore_GetCharFormat(s, position, &c, &charEnd);
  if (IsFailure(r)) return r;
  ParagraphFormat p;
  r = ReadParagraphFormat(*s, position, &p);
  if (IsFailure(r)) return r;
  if (font != nullptr) {
    DeviceFontSpec f{c.fontKind, static_cast<std::int16_t>(c.sizeClass), 0, {}, {}};
    struct Bit {
      std::uint16_t from, to;
    };
    static constexpr Bit kStyles[] = {
        {NativeStyle::Underline, DeviceFontStyle::Underline},
        {NativeStyle::Italic, DeviceFontStyle::Italic},
        {NativeStyle::Oblique, DeviceFontStyle::Italic},
        {NativeStyle::Bold, DeviceFontStyle::Bold},
        {NativeStyle::StrikeOut, DeviceFontStyle::StrikeOut},
        {NativeStyle::Low, DocFontFlag::SetLow},
        {NativeStyle::High, DocFontFlag::SetHigh},
        {NativeStyle::Foreground, DeviceFontStyle::TextColour},
        {NativeStyle::Background, DeviceFontStyle::BackColour},
    };
    for (const Bit& b : kStyles)
      if (c.style & b.from) f.style |= b.to;
    // The device keeps the last text colour it was given: text without a
    // colour of its own is black, not the colour of the run before it.
    f.style |= DeviceFontStyle::TextColour;
    f.text = DeviceColour{c.foreground[0], c.foreground[1], c.foreground[2]};
    f.background = DeviceColour{c.background[0], c.background[1], c.background[2]};
    *font = f;
  }
  if (format != nullptr) {
    CharFormat f{};
    // Space, borders and padding come to the line through its paragraph
    // space (NativeDoc_AddParagraphSpace), not through the indents.
    f.formatFlags = p.formatFlags;
    *format = f;
  }
  *runEnd = std::min(charEnd, p.runEnd);
  return kOk;
}

StatusCode NativeDoc_GetLinkAt(EngineObject* handler, std::uint32_t position, std::uint32_t* start,
                               std::uint32_t* end, std::uint32_t* target) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr) return kBadArgument;
  std::uint32_t a = 0, b = 0, value = 0;
  const StatusCode r = NativeStore_GetLinkAt(s, position, &a, &b, &value);
  if (IsFailure(r)) return r;
  if (start != nullptr) *start = a;
  if (end != nullptr) *end = b;
  if (target != nullptr) *target = value;
  return r;
}

StatusCode NativeDoc_BookmarkOp(EngineObject* handler, std::uint16_t subCode, std::uint16_t index,
                                void* record) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr) return kBadArgument;
  // A document without a usable record 0 has nowhere to record a list.
  const StatusCode refusal = s->db == nullptr || s->recordCount == 0 ? kFailed : kOk;
  return PosList_BookmarkOp(s->db, s->posLists, subCode, index, record, refusal);
}

namespace {

StatusCode SelectListControl(NativeDocState& s, std::uint16_t code, std::uint32_t value,
                             void* record) {
  const std::uint32_t key = value & 0xFFFF;
  switch (code - DocControl::SelectListFirst) {
    case 0:  // the entry with its option names
      if (record == nullptr) return kNullOutPointer;
      return SelectList_ReadEntry(&s, key, true, static_cast<SelectCtl*>(record));
    case 1:
      if (record != nullptr) SelectList_FreeEntry(static_cast<SelectCtl*>(record));
      return kOk;
    case 2: {  // the choice (and measures) of a list
      if (record == nullptr) return kNullOutPointer;
      const auto* ctl = static_cast<const SelectCtl*>(record);
      NativeSelectEntry e{};
      if (const NativeSelectEntry* old = SelectList_Find(&s, key)) e = *old;
      if (ctl->cachedWidth > 0 && ctl->cachedHeight > 0) {
        e.width = static_cast<std::uint16_t>(ctl->cachedWidth);
        e.height = static_cast<std::uint16_t>(ctl->cachedHeight);
        e.baseline = static_cast<std::uint16_t>(std::max<std::int16_t>(ctl->cachedBaseline, 0));
      }
      e.chosen = ctl->chosen;
      return SelectList_Add(&s, key, e);
    }
    case 3: {  // the link target of an option
      if (record == nullptr) return kNullOutPointer;
      auto* option = static_cast<std::uint32_t*>(record);
      std::uint32_t target = 0;
      const StatusCode r = SelectList_GetOptionTarget(&s, key, *option, &target);
      if (!IsFailure(r)) *option = target;
      return r;
    }
    default:
      SelectList_FreeCache(&s);
      return kOk;
  }
}

StatusCode ExtraStringControl(NativeDocState& s, NativeObjectData* in) {
  if (in == nullptr) return kNullOutPointer;
  const std::uint32_t base = s.extraBase[2 + in->selector];
  std::uint8_t* text = nullptr;
  std::uint16_t length = 0;
  const StatusCode r = NativeStore_ReadExtraString(&s, base + in->offset, &text, &length);
  if (IsFailure(r)) return r;
  in->data = text;
  in->size = length;
  return kOk;
}

StatusCode ImageMapControl(NativeDocState& s, NativeImageMapQuery* q) {
  if (q == nullptr) return kNullOutPointer;
  std::uint32_t code = 0, runEnd = 0;
  if (NativeDoc_ObjectAt(&s, q->start, &code, &runEnd) != kOk || code < NativeObject::ImageFirst ||
      code > NativeObject::ImageLast) {
    return kFailed;
  }
  NativeImageItem item{};
  StatusCode r = DocImage_ReadItem(&s, code & 0xFFFF, &item);
  if (IsFailure(r)) return r;
  std::int32_t x = q->x, y = q->y;
  std::uint32_t w = item.width, h = item.height;
  if ((s.settings.flags & DocFlag::DoubleImages) != 0) {
    // The item reader doubled the size; the map is in the stored size.
    x /= 2;
    y /= 2;
    w /= 2;
    h /= 2;
  }
  if (item.mapScale != 0) {
    // The image is shown at s / 256 of the size its map is drawn for.
    // Multiplied before dividing, so no precision is lost; the point is
    // an i16 and the size at most 17 bits, so nothing overflows.
    const std::int32_t sc = item.mapScale;
    x = x * 256 / sc;
    y = y * 256 / sc;
    w = w * 256 / static_cast<std::uint32_t>(sc);
    h = h * 256 / static_cast<std::uint32_t>(sc);
  }
  std::uint32_t target = 0;
  r = NativeStore_ImageMapHit(&s, code & 0xFFFF, x, y, w, h, &target);
  if (r != kDocImageMapHit) return r;
  q->linkClass = NativeStore_ClassifyLinkTarget(target, &q->target);
  return kDocImageMapHit;
}

}  // namespace

StatusCode NativeDoc_HandlerControl(EngineObject* handler, std::uint16_t code, std::uint32_t value,
                                    void* record) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr) return kBadArgument;
  switch (code) {
    case DocControl::FindTarget: {
      if (record == nullptr) return kNullOutPointer;
      return LinkIndex_FindByCode(s, value, static_cast<NativeLinkTarget*>(record));
    }
    case DocControl::ResolveTarget: {
      if (record == nullptr) return kNullOutPointer;
      auto* target = static_cast<NativeLinkTarget*>(record);
      std::uint32_t position = 0;
      const StatusCode r = LinkIndex_Resolve(s, target, &position);
      if (!IsFailure(r)) target->value = position;
      return r;
    }
    case DocControl::IsLinkAt: {
      // A run whose target is none is the space between links.
      std::uint32_t a = 0, b = 0, t = 0;
      const StatusCode r = NativeStore_GetLinkAt(s, value, &a, &b, &t);
      return IsFailure(r) || r == kDocLinkNoTarget ? kNo : kYes;
    }
    case DocControl::GetString: {
      auto* q = static_cast<NativeStringQuery*>(record);
      if (q == nullptr) return kNullOutPointer;
      return NativeStore_GetString(s, value, q->buffer, q->capacity, &q->length);
    }
    case DocControl::LinkWalkFirst:
    case DocControl::LinkWalkFirst + 1:
    case DocControl::LinkWalkFirst + 2:
    case DocControl::LinkWalkFirst + 3:
    case DocControl::LinkWalkFirst + 4: {
      auto* range = static_cast<NativeLinkRange*>(record);
      if (range == nullptr) return kNullOutPointer;
      switch (code - DocControl::LinkWalkFirst) {
        case 0:
          return NativeStore_LinkBegin(s, range);
        case 1:
          return NativeStore_LinkFirst(s, range);
        case 2:
          return NativeStore_LinkPrev(s, range);
        case 3:
          return NativeStore_LinkNext(s, range);
        default:
          return NativeStore_LinkLast(s, range);
      }
    }
    case DocControl::LinkWalkLast:
      return NativeStore_LinkReset(s);
    case DocControl::RangeVisible: {
      const auto* q = static_cast<const DocLinkVisibility*>(record);
      NativeRowLineTable table{};
      if (q != nullptr &&
          TableLine_IsTablePosition(s, q->lineStart, NativeStateFlag::CellDraw, &table) == kYes)
        return TableLine_RangeVisible(handler, s, q);
      return DocHandler_MeasureRun(handler, q);
    }
    case DocControl::ExtraString: {
      auto* in = static_cast<NativeObjectData*>(record);
      if (in != nullptr && in->selector > 1)
        return DocHandler_Control(&s->settings, code, value, record);
      return ExtraStringControl(*s, in);
    }
    case DocControl::FreeBuffer: {
      auto* in = static_cast<NativeObjectData*>(record);
      if (in == nullptr) return kNullOutPointer;
      Engine_Free(const_cast<void*>(in->data));
      in->data = nullptr;
      in->size = 0;
      return kOk;
    }
    case DocControl::ImageMapHit:
      return ImageMapControl(*s, static_cast<NativeImageMapQuery*>(record));
    default:
      if (code >= DocControl::SelectListFirst && code <= DocControl::SelectListLast)
        return SelectListControl(*s, code, value, record);
      return NativeDoc_Control(handler, code, value, record);
  }
}

StatusCode NativeDoc_LayoutPassStep(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                    std::uint16_t subCode, std::uint16_t section,
                                    std::uint32_t*) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr) return kBadArgument;
  switch (subCode) {
    case 0:
    case 1:
      return TableLayout_Reset(s, handler, section);
    case 2: {
      if ((s->flags & NativeStateFlag::TablePassDone) != 0) return kOk;
      // The pass lays out the cells' own text: their lines must not be
      // taken for row lines of the tables being sized.
      const std::uint16_t layout = s->flags & NativeStateFlag::TableLayout;
      s->flags &= static_cast<std::uint16_t>(~NativeStateFlag::TableLayout);
      const StatusCode r = TableLayout_Continue(handler, device, ctx, s);
      s->flags |= layout;
      if (IsFailure(r)) return r;
      return s->tablePass.passState == NativeTablePass::Idle ? kOk : kDocTablePassPending;
    }
    default:
      return kNotSupported;
  }
}

namespace {

constexpr DocHandlerOps kNativeDocOps = MakeDocHandlerOps({
    .create = NativeDoc_Create,
    .destroy = NativeDoc_Destroy,
    .command = NativeDoc_Command,
    .getSectionRange = NativeDoc_GetSectionRange,
    .findSection = NativeDoc_FindSection,
    .getTextLength = NativeDoc_GetTextLength,
    .getText = NativeDoc_GetText,
    .getTextBefore = NativeDoc_GetTextBefore,
    .getCharStyle = NativeDoc_GetCharStyle,
    .control = NativeDoc_HandlerControl,
    .backgroundStep = DocHandler_StepDone,
    .getSectionInfo = NativeDoc_GetSectionInfo,
    .layoutLine = NativeDoc_LayoutLine,
    .drawLineBackground = NativeDoc_DrawLineBackground,
    .drawLine = NativeDoc_DrawLine,
    .invertRange = NativeDoc_InvertRange,
    .getSectionFlags = NativeDoc_GetSectionFlags,
    .hitTest = NativeDoc_HitTest,
    .positionToX = NativeDoc_PositionToX,
    .getLinkAt = NativeDoc_GetLinkAt,
    .bookmarkOp = NativeDoc_BookmarkOp,
    .layoutPassStep = NativeDoc_LayoutPassStep,
});

}  // namespace

EngineObject NativeDocModule = {nullptr, &kNativeDocOps};
