#include "engine/formats/native_table_pass.h"

#include <algorithm>
#include <cstring>

#include "engine/device/table_store.h"
#include "engine/formats/flow_text.h"
#include "engine/formats/native_doc.h"
#include "engine/formats/native_image.h"
#include "engine/formats/native_index.h"
#include "engine/formats/native_table.h"
#include "engine/runtime/swap.h"

namespace {

constexpr std::uint32_t kTableItemTable = 11;
constexpr std::uint32_t kFormatTable = 8;
constexpr std::uint32_t kPaddingTable = 4;
constexpr std::uint32_t kTableRecordIndex = 0;
constexpr std::uint32_t kTemplateIndex = 1;
constexpr std::uint32_t kTableLevelList = 1;  // run list whose value columns hold the levels
constexpr std::uint32_t kMinTableRecord = 14;
constexpr std::uint32_t kMinTemplate = 6;
constexpr std::uint32_t kRecordExtension = 8;
constexpr std::uint8_t kNoWrapParagraph = 0x01;  // table-10 attribute bit 0

std::uint16_t Be16(const std::uint8_t* p) {
  return LoadBE16(p);
}
std::uint32_t Be32(const std::uint8_t* p) {
  return LoadBE32(p);
}

std::int16_t Clamp16(std::int32_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int32_t>(v, -kTableMaxWidth, kTableMaxWidth));
}

StatusCode Store(EngineObject* device, std::uint16_t code, void* in, void* out) {
  return OpsOf<DeviceOps>(device).tableStoreCommand(device, code, in, out);
}

// The size in bytes of a value array of `count` positions, or 0 when it does
// not fit in [at, size).
StatusCode ValueArraySize(const std::uint8_t* data, std::uint32_t size, std::uint32_t at,
                          std::uint8_t flags, std::uint32_t count, std::uint32_t* bytes) {
  std::uint64_t need = 0;
  if (flags & NativeValueForm::Single) {
    need = 2;
  } else if (flags & NativeValueForm::Array) {
    need = (flags & NativeValueForm::Wide) ? 2ull * count : (count + 1ull) / 2 * 2;
  } else {
    if (at + 2ull > size) return kDocMalformed;
    const std::uint32_t n = Be16(data + at);
    need = 2 + static_cast<std::uint64_t>(n) * ((flags & NativeValueForm::Wide) ? 4 : 2);
  }
  if (at + need > size) return kDocMalformed;
  *bytes = static_cast<std::uint32_t>(need);
  return kOk;
}

// Value of position p; `hint` (run index, first position of that run) speeds
// a walk that moves forward.
StatusCode ValueAt(const std::uint8_t* data, std::uint32_t size, std::uint32_t at,
                   std::uint8_t flags, std::uint32_t count, std::uint32_t p, std::uint32_t* value,
                   std::uint32_t* hintRun, std::uint32_t* hintFirst) {
  std::uint32_t bytes = 0;
  StatusCode r = ValueArraySize(data, size, at, flags, count, &bytes);
  if (IsFailure(r)) return r;
  if (flags & NativeValueForm::Single) {
    *value = Be16(data + at);
    return kOk;
  }
  if (p >= count) return kDocMalformed;
  if (flags & NativeValueForm::Array) {
    *value = (flags & NativeValueForm::Wide) ? Be16(data + at + 2 * p) : data[at + p];
    return kOk;
  }
  const bool wide = (flags & NativeValueForm::Wide) != 0;
  const std::uint32_t n = Be16(data + at);
  std::uint32_t run = 0;
  std::uint32_t first = 0;
  if (hintRun != nullptr && hintFirst != nullptr && *hintFirst <= p && *hintRun < n) {
    run = *hintRun;
    first = *hintFirst;
  }
  for (; run < n; ++run) {
    const std::uint8_t* e = data + at + 2 + run * (wide ? 4u : 2u);
    const std::uint32_t v = wide ? Be16(e) : e[0];
    const std::uint32_t length = wide ? Be16(e + 2) : e[1];
    if (p < first + length) {
      *value = v;
      if (hintRun != nullptr && hintFirst != nullptr) {
        *hintRun = run;
        *hintFirst = first;
      }
      return kOk;
    }
    first += length;
  }
  return kDocMalformed;  // past the last run
}

StatusCode ReadTableItem(NativeDocState* s, NativeTableCursor* c) {
  if (c->number == 0) return kDocMalformed;
  NativeItem it{};
  const StatusCode r = NativeStore_ReadItem(s, kTableItemTable, c->number, &it);
  if (IsFailure(r)) return r;
  const std::uint8_t* f = it.part[0];
  const std::uint8_t* h = it.part[1];
  c->entryFlags = f[0] & 0x0F;
  c->captionPlace = f[1] & 3;
  if (c->captionPlace == 3) return kDocMalformed;
  c->tableRecord = static_cast<std::uint16_t>(f[2] | h[0] << 8);
  c->rowEntryRecord = static_cast<std::uint16_t>(f[3] | h[1] << 8);
  c->rowEntryCount = static_cast<std::uint16_t>(f[4] | h[2] << 8);
  c->cellEntryRecord = static_cast<std::uint16_t>(f[5] | h[3] << 8);
  return kOk;
}

StatusCode TableRecordBytes(NativeDocState* s, const NativeTableCursor& c,
                            const std::uint8_t** data, std::uint32_t* size) {
  const StatusCode r = NativeStore_GetIndexedItem(s, kTableRecordIndex, c.tableRecord, data, size);
  return r == kNotFound ? kDocMalformed : r;
}

StatusCode ReadTableRecord(NativeDocState* s, NativeTableCursor* c) {
  const std::uint8_t* d = nullptr;
  std::uint32_t size = 0;
  StatusCode r = TableRecordBytes(s, *c, &d, &size);
  if (IsFailure(r)) return r;
  if (size < kMinTableRecord || d[0] < kMinTableRecord || d[0] > size) return kDocMalformed;
  const std::uint32_t e = d[0];
  c->recordFlags = d[1];
  c->ruleMode = d[2] & 0x0F;
  c->ruleWidth = d[3];
  c->border = d[4];
  c->tableFormat = d[5];
  c->columnCount = Be16(d + 6);
  c->rowCount = Be16(d + 8);
  c->groupCount = Be16(d + 10);
  c->groupArrayAt = e;
  if (d[1] & 1) {
    if (e + kRecordExtension > size) return kDocMalformed;
    c->tableFormat = static_cast<std::uint16_t>(c->tableFormat | d[e] << 8);
    c->rowCount |= static_cast<std::uint32_t>(Be16(d + e + 2)) << 16;
    c->groupCount |= static_cast<std::uint32_t>(Be16(d + e + 4)) << 16;
    c->groupArrayAt = e + kRecordExtension;
  }
  if (c->columnCount == 0 || c->rowCount == 0 || c->groupCount == 0 ||
      c->rowCount > kTableMaxRows || c->groupCount > c->rowCount) {
    return kDocMalformed;
  }
  std::uint32_t bytes = 0;
  return ValueArraySize(d, size, c->groupArrayAt, d[1] & 0x0E, c->groupCount, &bytes);
}

// Entries stored in the row array.
std::uint32_t StoredRowEntries(const NativeTableCursor& c) {
  return c.captionPlace != 0 ? c.groupCount : c.groupCount - 1;
}

StatusCode Hold(NativeDocState* s, NativeTableCursor* c, int slot, std::uint32_t number) {
  if (c->held[slot] != nullptr && c->heldNumber[slot] == number) return kOk;
  if (number >= s->recordCount) return kDocMalformed;
  if (c->held[slot] != nullptr) {
    const StatusCode released = NativeStore_ReleaseRecord(s->db, c->held[slot]);
    c->held[slot] = nullptr;
    if (IsFailure(released)) return released;
  }
  std::uint32_t size = 0;
  const std::uint8_t* data = nullptr;
  const StatusCode r = NativeStore_FetchRecord(s->db, NativeRecordType::TablePositions,
                                               static_cast<std::uint16_t>(number), &size, &data);
  if (IsFailure(r)) return r;
  c->held[slot] = data;
  c->heldSize[slot] = size;
  c->heldNumber[slot] = static_cast<std::uint16_t>(number);
  return kOk;
}

// Entry i of width w from an array of its own (records from `first`, at most
// `records` of them) or from the single record at byte `offset`.
StatusCode ReadEntry(NativeDocState* s, NativeTableCursor* c, int slot, std::uint32_t first,
                     std::uint32_t records, std::uint32_t offset, std::uint32_t w, std::uint64_t i,
                     std::uint32_t* out) {
  std::uint32_t number = first;
  std::uint64_t at = 0;
  if (c->entryFlags & NativeTableEntry::OwnRecords) {
    const std::uint32_t per = kTableEntryBytes / w;
    const std::uint64_t k = i / per;
    if (k >= records) return kDocMalformed;
    number = static_cast<std::uint32_t>(first + k);
    StatusCode r = Hold(s, c, slot, number);
    if (IsFailure(r)) return r;
    at = c->held[slot][0] + (i % per) * w;
  } else {
    slot = 0;
    StatusCode r = Hold(s, c, slot, number);
    if (IsFailure(r)) return r;
    at = offset + i * w;
  }
  if (at + w > c->heldSize[slot]) return kDocMalformed;
  const std::uint8_t* p = c->held[slot] + at;
  *out = w == 1 ? p[0] : w == 2 ? Be16(p) : Be32(p);
  return kOk;
}

std::uint32_t RowEntryWidth(const NativeTableCursor& c) {
  return (c.entryFlags & NativeTableEntry::RowOffsets16) ? 2 : 4;
}
std::uint32_t CellEntryWidth(const NativeTableCursor& c) {
  if (c.entryFlags & NativeTableEntry::CellOffsets8) return 1;
  if (c.entryFlags & NativeTableEntry::CellOffsets16) return 2;
  return 4;
}

StatusCode CellEntry(NativeDocState* s, NativeTableCursor* c, std::uint64_t e,
                     std::uint32_t* position) {
  const std::uint32_t w = CellEntryWidth(*c);
  const std::uint32_t offset =
      c->rowEntryCount + StoredRowEntries(*c) * RowEntryWidth(*c);  // single-record form
  std::uint32_t v = 0;
  const bool own = (c->entryFlags & NativeTableEntry::OwnRecords) != 0;
  const StatusCode r =
      ReadEntry(s, c, 1, own ? c->cellEntryRecord : c->rowEntryRecord, 0xFFFF, offset, w, e, &v);
  if (IsFailure(r)) return r;
  *position = w == 4 ? v : c->groupStart + v;
  return kOk;
}

StatusCode ReadTemplate(NativeDocState* s, NativeTableCursor* c, const std::uint8_t** data,
                        std::uint32_t* size) {
  StatusCode r = NativeStore_GetIndexedItem(s, kTemplateIndex, c->templateNumber, data, size);
  if (r == kNotFound) r = kDocMalformed;
  if (IsFailure(r)) return r;
  if (*size < kMinTemplate || (*data)[0] < kMinTemplate || (*data)[0] > *size) return kDocMalformed;
  return kOk;
}

}  // namespace

std::int16_t Table_PointsToPixels(EngineObject* device, DeviceContext ctx,
                                  std::uint16_t points) noexcept {
  if (points == 0) return 0;
  std::int16_t px = 0;
  if (OpsOf<DeviceOps>(device).pointsToPixels(device, ctx, points, &px) != kOk) {
    return Clamp16(points);
  }
  return px;
}

StatusCode TableFormat_Read(NativeDocState* s, std::uint16_t item,
                            NativeTableFormat* out) noexcept {
  NativeItem it{};
  const StatusCode r = NativeStore_ReadItem(s, kFormatTable, item, &it);
  if (IsFailure(r)) return r;
  const std::uint8_t* f = it.part[0];
  const std::uint8_t* a = it.part[1];
  const std::uint8_t* b = it.part[2];
  out->widthMode = f[0] & 0x07;
  out->width = static_cast<std::uint16_t>(f[1] | a[0] << 8);
  out->borderBox = static_cast<std::uint16_t>(a[1] | b[0] << 8);
  out->padding = static_cast<std::uint16_t>(a[2] | b[1] << 8);
  out->background = static_cast<std::uint16_t>(a[3] | b[2] << 8);
  return kOk;
}

StatusCode TablePadding_Read(NativeDocState* s, std::uint16_t item, std::uint8_t out[4]) noexcept {
  NativeItem it{};
  const StatusCode r = NativeStore_ReadItem(s, kPaddingTable, item, &it);
  if (IsFailure(r)) return r;
  out[0] = it.part[0][1];
  out[1] = it.part[1][0];
  out[2] = it.part[2][0];
  out[3] = it.part[2][1];
  return kOk;
}

StatusCode TableFormat_Insets(NativeDocState* s, EngineObject* device, DeviceContext ctx,
                              const NativeTableFormat& format, NativeCellInsets* out) noexcept {
  *out = NativeCellInsets{};
  NativeBorderSide sides[4];
  StatusCode r = DocImage_ReadBorders(s, format.borderBox, sides);
  if (IsFailure(r)) return r;
  for (int i = 0; i < 4; ++i) {
    if (sides[i].style != 0 && sides[i].width != 0) {
      out->border[i] = Table_PointsToPixels(device, ctx, sides[i].width);
    }
  }
  if (format.padding != 0) {
    std::uint8_t pad[4];
    r = TablePadding_Read(s, format.padding, pad);
    if (IsFailure(r)) return r;
    for (int i = 0; i < 4; ++i)
      out->padding[i] = Table_PointsToPixels(device, ctx, pad[i]);
  }
  return kOk;
}

StatusCode NativeStore_FindLevelRun(NativeDocState* s, std::uint32_t family, std::uint32_t p,
                                    std::uint32_t level, std::uint32_t* start, std::uint32_t* end,
                                    std::uint16_t* value) noexcept {
  if (s == nullptr || family > 1) return kBadArgument;
  std::uint32_t v = 0, a = 0, b = 0;
  const StatusCode r = NativeStore_SeekColumn(s, family, level + 1, p, p + 1, &v, &a, &b);
  if (r == kIndexOutOfRange || r == kNotFound) return kNotFound;
  if (IsFailure(r)) return r;
  if (v == 0 || v > 0xFFFF || p < a || p >= b) return kNotFound;
  if (start != nullptr) *start = a;
  if (end != nullptr) *end = b;
  if (value != nullptr) *value = static_cast<std::uint16_t>(v);
  return kOk;
}

StatusCode Table_NextNested(NativeDocState* s, std::uint32_t level, std::uint32_t p,
                            std::uint32_t limit, bool* table, std::uint32_t* tableStart,
                            std::uint32_t* tableEnd, std::uint16_t* number,
                            std::uint32_t* segmentEnd) noexcept {
  *table = false;
  *segmentEnd = limit;
  std::uint32_t v = 0, a = 0, b = 0;
  const StatusCode r = NativeStore_SeekColumn(s, kTableLevelList, level + 1, p, limit, &v, &a, &b);
  if (r == kIndexOutOfRange || r == kNotFound) return kOk;
  if (IsFailure(r)) return r;
  if (a > p) {  // the list resumes after p
    *segmentEnd = std::min(limit, a);
    if (v == 0) *segmentEnd = std::min(limit, b);
    return kOk;
  }
  if (v == 0 || v > 0xFFFF) {
    *segmentEnd = std::clamp(b, p + 1, limit);
    return kOk;
  }
  *table = true;
  *tableStart = a;
  *tableEnd = b;
  *number = static_cast<std::uint16_t>(v);
  return kOk;
}

StatusCode TableCursor_Open(NativeDocState* s, NativeTableCursor* c, std::uint16_t number,
                            std::uint16_t nesting, std::uint32_t start,
                            std::uint32_t end) noexcept {
  *c = NativeTableCursor{};
  c->number = number;
  c->nesting = nesting;
  c->start = start;
  c->end = end;
  c->charBytes = (s->flags & NativeStateFlag::Utf16) ? 2 : 1;
  if (end < start || end - start < 2 * c->charBytes) return kDocMalformed;
  StatusCode r = ReadTableItem(s, c);
  if (IsFailure(r)) return r;
  r = ReadTableRecord(s, c);
  if (IsFailure(r)) return r;
  TableCursor_Restart(c);
  return kOk;
}

void TableCursor_Restart(NativeTableCursor* c) noexcept {
  c->group = kTableNoGroup;
  c->isCaption = false;
  c->captionDone = false;
  c->groupCells = c->groupRows = 0;
  c->firstRow = 0;
  c->cellsBefore = 0;
  c->groupStart = c->groupEnd = c->start + c->charBytes;
  c->runHint = c->runHintFirst = 0;
  c->cellIndex = 0;
}

StatusCode TableCursor_Boundary(NativeDocState* s, NativeTableCursor* c, std::uint32_t k,
                                std::uint32_t* position) noexcept {
  const std::uint32_t stored = StoredRowEntries(*c);
  if (k == 0) {
    *position = c->start + c->charBytes;
    return kOk;
  }
  if (k > stored + 1) return kDocMalformed;
  if (k == stored + 1) {
    *position = c->end - c->charBytes;
    return kOk;
  }
  std::uint32_t v = 0;
  const StatusCode r = ReadEntry(s, c, 0, c->rowEntryRecord, c->rowEntryCount, c->rowEntryCount,
                                 RowEntryWidth(*c), k - 1, &v);
  if (IsFailure(r)) return r;
  *position = RowEntryWidth(*c) == 2 ? c->start + v : v;
  return kOk;
}

StatusCode TableCursor_NextGroup(NativeDocState* s, NativeTableCursor* c) noexcept {
  std::uint32_t a = 0, b = 0;
  const std::uint32_t captionShift = c->captionPlace != 0 ? 1 : 0;
  if (captionShift != 0 && !c->captionDone) {
    StatusCode r = TableCursor_Boundary(s, c, 0, &a);
    if (!IsFailure(r)) r = TableCursor_Boundary(s, c, 1, &b);
    if (IsFailure(r)) return r;
    if (b < a || b > c->end - c->charBytes) return kDocMalformed;
    c->captionDone = true;
    c->isCaption = true;
    c->groupCells = 1;
    c->groupRows = 0;
    c->groupStart = a;
    c->groupEnd = b;
    c->cellIndex = 0;
    c->cellEnd = a;
    return kOk;
  }
  const std::uint32_t next = c->group == kTableNoGroup ? 0 : c->group + 1;
  if (next >= c->groupCount) return kNoMore;
  if (c->group != kTableNoGroup && !c->isCaption) {
    c->firstRow += c->groupRows;
    c->cellsBefore += c->groupCells;
  }
  const std::uint8_t* d = nullptr;
  std::uint32_t size = 0;
  StatusCode r = TableRecordBytes(s, *c, &d, &size);
  if (IsFailure(r)) return r;
  std::uint32_t value = 0;
  r = ValueAt(d, size, c->groupArrayAt, d[1] & 0x0E, c->groupCount, next, &value, &c->runHint,
              &c->runHintFirst);
  if (IsFailure(r)) return r;
  c->templateNumber = static_cast<std::uint16_t>(value);
  r = ReadTemplate(s, c, &d, &size);
  if (IsFailure(r)) return r;
  c->templateFlags = d[1];
  c->groupCells = Be16(d + 2);
  c->groupRows = Be16(d + 4);
  if (c->groupCells == 0 || c->groupRows == 0 || c->firstRow + c->groupRows > c->rowCount) {
    return kDocMalformed;
  }
  r = TableCursor_Boundary(s, c, next + captionShift, &a);
  if (!IsFailure(r)) r = TableCursor_Boundary(s, c, next + captionShift + 1, &b);
  if (IsFailure(r)) return r;
  if (a < c->start + c->charBytes || b < a || b > c->end - c->charBytes) return kDocMalformed;
  c->group = next;
  c->isCaption = false;
  c->groupStart = a;
  c->groupEnd = b;
  c->cellIndex = 0;
  c->cellEnd = a;
  return kOk;
}

StatusCode TableCursor_NextCell(NativeDocState* s, NativeTableCursor* c) noexcept {
  if (c->cellIndex >= c->groupCells) return kNoMore;
  const std::uint32_t p = c->cellIndex;
  if (c->isCaption) {
    c->value = 0;
    c->column = 0;
    c->rowOffset = 0;
    c->columnSpan = c->columnCount;
    c->rowSpan = 0;
  } else {
    const std::uint8_t* d = nullptr;
    std::uint32_t size = 0;
    StatusCode r = ReadTemplate(s, c, &d, &size);
    if (IsFailure(r)) return r;
    const std::uint8_t flags = d[1];
    std::uint32_t value = 0, bytes = 0;
    r = ValueAt(d, size, d[0], flags & 0x0E, c->groupCells, p, &value, nullptr, nullptr);
    if (!IsFailure(r)) r = ValueArraySize(d, size, d[0], flags & 0x0E, c->groupCells, &bytes);
    if (IsFailure(r)) return r;
    c->value = static_cast<std::uint16_t>(value);
    if (flags & NativeValueForm::NoGeometry) {
      c->column = static_cast<std::uint16_t>(p);
      c->rowOffset = 0;
      c->columnSpan = c->rowSpan = 1;
    } else {
      const std::uint32_t w = (flags & NativeValueForm::WideGeometry) ? 2 : 1;
      const std::uint64_t at = d[0] + static_cast<std::uint64_t>(bytes) + 4ull * w * p;
      if (at + 4 * w > size) return kDocMalformed;
      auto get = [&](std::uint32_t k) -> std::uint16_t {
        return w == 2 ? Be16(d + at + 2 * k) : d[at + k];
      };
      c->column = get(0);
      c->rowOffset = get(1);
      c->columnSpan = get(2);
      c->rowSpan = get(3);
    }
    if (c->columnSpan == 0 || c->rowSpan == 0 ||
        static_cast<std::uint32_t>(c->column) + c->columnSpan > c->columnCount ||
        static_cast<std::uint32_t>(c->rowOffset) + c->rowSpan > c->groupRows) {
      return kDocMalformed;
    }
  }
  const std::uint32_t cellStart = c->cellEnd;
  std::uint32_t cellEnd = c->groupEnd;
  if (!c->isCaption && p + 1 < c->groupCells) {
    const std::uint64_t e = static_cast<std::uint64_t>(c->cellsBefore) - c->group + p;
    const StatusCode r = CellEntry(s, c, e, &cellEnd);
    if (IsFailure(r)) return r;
  }
  if (cellEnd < cellStart || cellEnd > c->groupEnd) return kDocMalformed;
  c->cellStart = cellStart;
  c->cellEnd = cellEnd;
  ++c->cellIndex;
  return kOk;
}

StatusCode TableCursor_Release(NativeDocState* s, NativeTableCursor* c) noexcept {
  StatusCode first = kOk;
  for (int i = 0; i < 2; ++i) {
    if (c->held[i] == nullptr) continue;
    const StatusCode r = NativeStore_ReleaseRecord(s->db, c->held[i]);
    if (IsFailure(r) && !IsFailure(first)) first = r;
    c->held[i] = nullptr;
  }
  return first;
}

// ---------------------------------------------------------------------------
// The pass.

namespace {

using namespace NativeTablePass;

struct Pass {
  EngineObject* handler;
  EngineObject* device;
  DeviceContext ctx;
  NativeDocState* s;
  NativeTablePassState& p;
  NativeTablePassFrame f{};
  TableNode* node = nullptr;
};

NativeTablePassFrame FreshFrame(std::uint16_t step, std::uint16_t number, std::uint16_t nesting,
                                std::uint32_t start, std::uint32_t end, std::int16_t available) {
  NativeTablePassFrame f{};
  f.step = step;
  f.cursor.number = number;
  f.cursor.nesting = nesting;
  f.cursor.start = start;
  f.cursor.end = end;
  f.available = available;
  return f;
}

StatusCode CloseNode(Pass& x) {
  if (x.node == nullptr) return kOk;
  const StatusCode r = Store(x.device, TableStoreCode::CloseLayout, x.node, nullptr);
  x.node = nullptr;
  return r;
}

StatusCode ReopenNode(Pass& x) {
  std::uint16_t id = x.f.cursor.number;
  TableNode* node = nullptr;
  const StatusCode r = Store(x.device, TableStoreCode::ReopenLayout, &id, &node);
  if (IsFailure(r)) return r;
  x.node = node;
  return kOk;
}

// Saves the current frame on the store's stack, its node closed and its
// records given back, so nothing in it points anywhere.
StatusCode PushFrame(Pass& x) {
  StatusCode r = CloseNode(x);
  const StatusCode released = TableCursor_Release(x.s, &x.f.cursor);
  if (!IsFailure(r)) r = released;
  if (IsFailure(r)) return r;
  std::uint16_t size = sizeof(NativeTablePassFrame);
  r = Store(x.device, TableStoreCode::Push, &size, &x.f);
  if (IsFailure(r)) return r;
  ++x.p.pushed;
  return kOk;
}

StatusCode PopFrame(Pass& x) {
  if (x.p.pushed == 0) return kFailed;
  std::uint16_t size = sizeof(NativeTablePassFrame);
  NativeTablePassFrame f{};
  const StatusCode r = Store(x.device, TableStoreCode::Pop, &size, &f);
  if (IsFailure(r)) return r;
  --x.p.pushed;
  x.f = f;
  for (int i = 0; i < 2; ++i)
    x.f.cursor.held[i] = nullptr;
  return ReopenNode(x);
}

std::int16_t AvailableWidth(EngineObject* device) {
  std::int16_t w = 0;
  const DeviceOps& ops = OpsOf<DeviceOps>(device);
  if (ops.getProperty(device, DeviceInfo::NestedTableWidth, &w) != kOk &&
      ops.getProperty(device, DeviceInfo::UsableWidth, &w) != kOk) {
    w = 0;
  }
  return std::max<std::int16_t>(w, 1);
}

// Pixels of the table's rule width (the store's cell spacing).
std::int16_t RulePixels(Pass& x) {
  if (x.f.cursor.ruleMode == 0) return 0;
  return Table_PointsToPixels(x.device, x.ctx, x.f.cursor.ruleWidth);
}

StatusCode FrameInsets(Pass& x, std::uint16_t formatItem, NativeTableFormat* format,
                       NativeCellInsets* insets) {
  StatusCode r = TableFormat_Read(x.s, formatItem, format);
  if (!IsFailure(r)) r = TableFormat_Insets(x.s, x.device, x.ctx, *format, insets);
  return r;
}

StatusCode BeginMeasure(Pass& x) {
  NativeTableCursor& c = x.f.cursor;
  StatusCode r = TableCursor_Open(x.s, &c, c.number, c.nesting, c.start, c.end);
  if (IsFailure(r)) return r;
  const std::int16_t rule = RulePixels(x);
  TableDescription d{};
  d.id = c.number;
  d.columns = c.columnCount;
  d.rows = c.rowCount;
  d.border = c.border;
  d.hSpacing = d.vSpacing = static_cast<std::uint8_t>(std::clamp<std::int16_t>(rule, 0, 255));
  TableNode* node = nullptr;
  r = Store(x.device, TableStoreCode::BeginTable, &d, &node);
  if (IsFailure(r)) return r;
  x.node = node;
  x.f.step = MeasureNextGroup;
  return kOk;
}

StatusCode BeginPlace(Pass& x) {
  NativeTableCursor& c = x.f.cursor;
  StatusCode r = TableCursor_Open(x.s, &c, c.number, c.nesting, c.start, c.end);
  if (IsFailure(r)) return r;
  r = ReopenNode(x);
  if (IsFailure(r)) return r;
  NativeTableFormat format{};
  NativeCellInsets frame{};
  r = FrameInsets(x, c.tableFormat, &format, &frame);
  if (IsFailure(r)) return r;
  // The frame sides, the border and the rule width come off the width the
  // columns may take, so the drawn table fits where it is placed.
  const std::int32_t avail = std::max<std::int32_t>(
      1, x.f.available - frame.border[1] - frame.border[3] - c.border - RulePixels(x));
  TableFit fit{};
  fit.available = Clamp16(avail);
  const std::uint8_t mode = format.widthMode & 3;
  if (mode == 1 && format.width != 0) {
    fit.fixedWidth = static_cast<std::uint16_t>(
        std::max<std::int16_t>(Table_PointsToPixels(x.device, x.ctx, format.width), 0));
  } else if (mode == 2 && format.width != 0) {
    fit.percent = std::min<std::uint16_t>(format.width, 100);
  }
  r = Store(x.device, TableStoreCode::FitColumns, x.node, &fit);
  if (IsFailure(r)) return r;
  x.f.step = PlaceNextGroup;
  return kOk;
}

// The cell's format: its insets (borders and padding) and width rules.
StatusCode CellFormat(Pass& x, NativeTableFormat* format, NativeCellInsets* insets) {
  *format = NativeTableFormat{};
  *insets = NativeCellInsets{};
  if (x.f.cursor.value == 0) return kOk;
  return FrameInsets(x, x.f.cursor.value, format, insets);
}

StatusCode FinishMeasuredCell(Pass& x) {
  NativeTableCursor& c = x.f.cursor;
  NativeTableFormat format{};
  NativeCellInsets in{};
  StatusCode r = CellFormat(x, &format, &in);
  if (IsFailure(r)) return r;
  const std::int32_t sides = in.padding[1] + in.padding[3] + in.border[1] + in.border[3];
  std::int32_t mn = std::min(x.f.cellMin + sides, kTableMaxWidth);
  std::int32_t mx = std::min(std::max(x.f.cellMax, x.f.cellMin) + sides, kTableMaxWidth);
  bool fixed = false;
  if ((format.widthMode & 3) == 1) {
    const std::int32_t own = Table_PointsToPixels(x.device, x.ctx, format.width);
    mn = std::min(std::max(mn, own), kTableMaxWidth);
    mx = mn;
    fixed = true;
  }
  if ((format.widthMode & 4) != 0 || x.f.hasNested) mx = mn;
  if (c.isCaption) return kOk;  // the caption takes the table's width as it comes
  if (c.columnSpan != 0 && mx != 0) {
    TableCellWidth w{};
    w.column = c.column;
    w.span = c.columnSpan;
    w.fixed = fixed ? 1 : 0;
    w.minimum = static_cast<std::int16_t>(mn);
    w.maximum = static_cast<std::int16_t>(mx);
    r = Store(x.device, TableStoreCode::CellWidth, x.node, &w);
  }
  return r;
}

StatusCode StartPlacedCell(Pass& x) {
  NativeTableCursor& c = x.f.cursor;
  TableSpanWidth span{};
  span.firstColumn = c.column;
  span.span = c.columnSpan;
  StatusCode r = Store(x.device, TableStoreCode::SpanWidth, x.node, &span);
  if (IsFailure(r)) return r;
  NativeTableFormat format{};
  NativeCellInsets in{};
  r = CellFormat(x, &format, &in);
  if (IsFailure(r)) return r;
  x.f.cellWidth = Clamp16(std::max<std::int32_t>(
      1, span.width - in.padding[1] - in.padding[3] - in.border[1] - in.border[3]));
  x.f.cellHeight = in.padding[0] + in.padding[2] + in.border[0] + in.border[2];
  x.f.prevExtra = 0;
  x.f.pos = c.cellStart;
  x.f.hasNested = false;
  return kOk;
}

StatusCode FinishPlacedCell(Pass& x) {
  NativeTableCursor& c = x.f.cursor;
  TableCellHeight h{};
  h.baseRow = c.firstRow;
  h.rowOffset = c.rowOffset;
  h.span = c.isCaption ? 0 : c.rowSpan;
  h.height = static_cast<std::int16_t>(std::min(x.f.cellHeight, kTableMaxWidth));
  return Store(x.device, TableStoreCode::CellHeight, x.node, &h);
}

// Enters the nested table [start, end) of the current cell: the containing
// frame waits on the stack at `resume`.
StatusCode EnterNested(Pass& x, std::uint16_t resume, std::uint16_t begin, std::uint16_t number,
                       std::uint32_t start, std::uint32_t end, std::int16_t available) {
  x.f.step = resume;
  x.f.nestedEnd = end;
  x.f.nestedNumber = number;
  const std::uint16_t nesting = x.f.cursor.nesting;
  if (nesting >= kTableStackMaxDepth - 1) return kDocMalformed;
  StatusCode r = PushFrame(x);
  if (IsFailure(r)) return r;
  x.f = FreshFrame(begin, number, static_cast<std::uint16_t>(nesting + 1), start, end, available);
  return kOk;
}

// Measures the rest of the current cell's text; stops at a nested table.
StatusCode MeasureText(Pass& x, bool* entered) {
  *entered = false;
  NativeTableCursor& c = x.f.cursor;
  while (x.f.pos < c.cellEnd) {
    bool table = false;
    std::uint32_t ts = 0, te = 0, segEnd = c.cellEnd;
    std::uint16_t number = 0;
    StatusCode r = Table_NextNested(x.s, c.nesting + 1u, x.f.pos, c.cellEnd, &table, &ts, &te,
                                    &number, &segEnd);
    if (IsFailure(r)) return r;
    if (table) {
      if (te > c.cellEnd || ts < c.cellStart) return kDocMalformed;
      *entered = true;
      return EnterNested(x, MeasureAfterNested, MeasureBegin, number, ts, te, 0);
    }
    while (x.f.pos < segEnd) {
      std::uint32_t next = 0;
      std::int16_t full = 0, widest = 0;
      r = DocHandler_MeasureLine(x.handler, x.device, x.ctx, x.f.pos, segEnd, &next, &full,
                                 &widest);
      if (IsFailure(r)) return r;
      if (next <= x.f.pos) {  // no progress: nothing more can be measured here
        x.f.pos = c.cellEnd;
        return kOk;
      }
      x.f.cellMax =
          std::min<std::int32_t>(std::max<std::int32_t>(x.f.cellMax, full), kTableMaxWidth);
      // A paragraph that does not wrap needs its whole width.
      std::uint8_t attributes[6] = {};
      const bool noWrap =
          NativeStore_GetParagraphAttributes(x.s, x.f.pos, attributes, nullptr, nullptr) == kOk &&
          (attributes[0] & kNoWrapParagraph) != 0;
      x.f.cellMin = std::min<std::int32_t>(
          std::max<std::int32_t>(x.f.cellMin, noWrap ? full : widest), kTableMaxWidth);
      x.f.pos = next;
    }
  }
  return kOk;
}

StatusCode PlaceText(Pass& x, bool* entered) {
  *entered = false;
  NativeTableCursor& c = x.f.cursor;
  while (x.f.pos < c.cellEnd) {
    bool table = false;
    std::uint32_t ts = 0, te = 0, segEnd = c.cellEnd;
    std::uint16_t number = 0;
    StatusCode r = Table_NextNested(x.s, c.nesting + 1u, x.f.pos, c.cellEnd, &table, &ts, &te,
                                    &number, &segEnd);
    if (IsFailure(r)) return r;
    if (table) {
      if (te > c.cellEnd || ts < c.cellStart) return kDocMalformed;
      *entered = true;
      return EnterNested(x, PlaceAfterNested, PlaceBegin, number, ts, te, x.f.cellWidth);
    }
    while (x.f.pos < segEnd) {
      std::uint32_t next = 0;
      LineMetrics m{};
      r = DocOpsOf(x.handler).layoutLine(x.handler, x.device, x.ctx, x.f.pos, segEnd, x.f.cellWidth,
                                         &next, &m);
      if (r == kNoMore) {
        x.f.pos = c.cellEnd;
        return kOk;
      }
      if (IsFailure(r)) return r;
      if (next <= x.f.pos) {  // no progress: the rest of the cell cannot be laid out
        x.f.pos = c.cellEnd;
        return kOk;
      }
      std::int32_t h = x.f.cellHeight;
      if (m.top > x.f.prevExtra) h += m.top - x.f.prevExtra;
      h += m.height + m.extra;
      x.f.cellHeight = std::min<std::int32_t>(h, kTableMaxWidth);
      x.f.prevExtra = m.extra;
      x.f.pos = next;
    }
  }
  return kOk;
}

// The nested table just finished: its size counts in the containing cell.
StatusCode AfterNested(Pass& x, bool measuring) {
  NativeTableCursor inner{};
  StatusCode r =
      TableCursor_Open(x.s, &inner, x.f.nestedNumber, 0, x.f.cursor.start, x.f.cursor.end);
  if (IsFailure(r)) return r;
  NativeTableFormat format{};
  NativeCellInsets frame{};
  r = FrameInsets(x, inner.tableFormat, &format, &frame);
  if (IsFailure(r)) return r;
  if (measuring) {
    TableWidthRange range{};
    range.id = x.f.nestedNumber;
    r = Store(x.device, TableStoreCode::WidthRange, &range, nullptr);
    if (IsFailure(r)) return r;
    const std::int32_t w = range.minimum + frame.border[1] + frame.border[3];
    x.f.cellMin = std::min(std::max(x.f.cellMin, w), kTableMaxWidth);
    x.f.hasNested = true;
  } else {
    TableSizeQuery size{};
    size.id = x.f.nestedNumber;
    r = Store(x.device, TableStoreCode::TableSize, nullptr, &size);
    if (IsFailure(r)) return r;
    const std::int64_t h =
        static_cast<std::int64_t>(x.f.cellHeight) + size.height + frame.border[0] + frame.border[2];
    x.f.cellHeight = static_cast<std::int32_t>(std::min<std::int64_t>(h, kTableMaxWidth));
    x.f.prevExtra = 0;
  }
  x.f.pos = x.f.nestedEnd;
  return kOk;
}

// End of the current table: closes it in the store; a nested table hands
// over to its containing frame.
StatusCode EndTable(Pass& x, bool measuring, bool* outermost) {
  StatusCode r = kOk;
  if (measuring) {
    r = Store(x.device, TableStoreCode::DistributeWidths, x.node, nullptr);
    if (IsFailure(r)) return r;
    r = CloseNode(x);
  } else {
    r = Store(x.device, TableStoreCode::DistributeHeights, x.node, nullptr);
    if (IsFailure(r)) return r;
    r = Store(x.device, TableStoreCode::EndLayout, x.node, nullptr);
    x.node = nullptr;
  }
  if (IsFailure(r)) return r;
  r = TableCursor_Release(x.s, &x.f.cursor);
  if (IsFailure(r)) return r;
  *outermost = x.f.cursor.nesting == 0;
  if (*outermost) return kOk;
  r = PopFrame(x);
  if (IsFailure(r)) return r;
  return AfterNested(x, measuring);
}

StatusCode SliceCheck(Pass& x, bool* elapsed) {
  *elapsed = Store(x.device, TableStoreCode::CheckSlice, nullptr, nullptr) == kTableSliceElapsed;
  if (!*elapsed) return kOk;
  return PushFrame(x);
}

// Scans the level-0 runs for the next table of the section.
StatusCode Scan(Pass& x) {
  NativeDocState* s = x.s;
  NativeTablePassState& p = x.p;
  const NativeRunList& list = s->runLists[kTableLevelList];
  if (list.descriptor.columns < 2) {
    p.passState = Idle;
    return kOk;
  }
  NativeRunCursor cursor{};
  NativeRun_Init(&cursor, list.descriptor.first[1], list.descriptor.count[1], NativeRunKind::Value,
                 static_cast<std::uint16_t>(kNativeSectionsPerRecord));
  StatusCode r = kOk;
  p.passState = Idle;
  while (p.tableBlock < cursor.count) {
    if (p.itemCount >= kNativeSectionsPerRecord) {
      ++p.tableBlock;
      p.itemCount = 0;
      continue;
    }
    r = NativeRun_SeekRun(s->db, &cursor, p.tableBlock * kNativeSectionsPerRecord + p.itemCount);
    if (r == kNoMore) {
      ++p.tableBlock;
      p.itemCount = 0;
      r = kOk;
      continue;
    }
    if (IsFailure(r)) break;
    ++p.itemCount;
    const std::uint32_t value = NativeRun_Value(cursor);
    if (cursor.runStart >= p.sectionEnd) break;
    if (cursor.runStart < p.sectionStart || value == 0) continue;
    if (value > 0xFFFF) {
      r = kDocMalformed;
      break;
    }
    p.tableStart = cursor.runStart;
    p.tableEnd = cursor.runEnd;
    p.tableValue = static_cast<std::uint16_t>(value);
    p.passState = MeasureNew;
    break;
  }
  const StatusCode released = NativeRun_Release(s->db, &cursor);
  if (IsFailure(r)) return r;
  return released;
}

// Runs the pass from its current state until the slice ends or it finishes.
StatusCode Run(Pass& x) {
  NativeTablePassState& p = x.p;
  bool haveFrame = false;
  for (;;) {
    if (!haveFrame) {
      switch (p.passState) {
        case Idle:
          return kOk;
        case Scanning: {
          const StatusCode r = Scan(x);
          if (IsFailure(r)) return r;
          if (p.passState == Idle) {
            x.s->flags |= NativeStateFlag::TablePassDone;
            return kOk;
          }
          continue;
        }
        case MeasureNew:
          x.f = FreshFrame(MeasureBegin, p.tableValue, 0, p.tableStart, p.tableEnd, 0);
          break;
        case PlaceNew:
          x.f = FreshFrame(PlaceBegin, p.tableValue, 0, p.tableStart, p.tableEnd,
                           AvailableWidth(x.device));
          break;
        default: {
          const StatusCode r = PopFrame(x);
          if (IsFailure(r)) return r;
          break;
        }
      }
      haveFrame = true;
    }
    p.passState = x.f.step;
    const bool measuring = x.f.step < PlaceNew;
    StatusCode r = kOk;
    bool flag = false;
    switch (x.f.step) {
      case MeasureBegin:
        r = BeginMeasure(x);
        break;
      case PlaceBegin:
        r = BeginPlace(x);
        break;
      case MeasureNextGroup:
      case PlaceNextGroup:
        r = TableCursor_NextGroup(x.s, &x.f.cursor);
        if (r == kNoMore) {
          bool outermost = false;
          r = EndTable(x, measuring, &outermost);
          if (IsFailure(r)) return r;
          if (outermost) {
            p.passState = measuring ? PlaceNew : Scanning;
            return kOk;
          }
          continue;
        }
        if (!IsFailure(r)) x.f.step = measuring ? MeasureNextCell : PlaceNextCell;
        break;
      case MeasureNextCell:
      case PlaceNextCell:
        r = TableCursor_NextCell(x.s, &x.f.cursor);
        if (r == kNoMore) {
          r = kOk;
          x.f.step = measuring ? MeasureNextGroup : PlaceNextGroup;
          break;
        }
        if (IsFailure(r)) break;
        if (measuring) {
          x.f.cellMin = x.f.cellMax = 0;
          x.f.pos = x.f.cursor.cellStart;
          x.f.hasNested = false;
          x.f.step = MeasureCellText;
        } else {
          r = StartPlacedCell(x);
          x.f.step = PlaceCellText;
        }
        break;
      case MeasureAfterNested:
      case PlaceAfterNested:
        x.f.step = measuring ? MeasureCellText : PlaceCellText;
        break;
      case MeasureCellText:
      case PlaceCellText:
        r = measuring ? MeasureText(x, &flag) : PlaceText(x, &flag);
        if (IsFailure(r) || flag) break;
        r = measuring ? FinishMeasuredCell(x) : FinishPlacedCell(x);
        if (IsFailure(r)) break;
        x.f.step = measuring ? MeasureNextCell : PlaceNextCell;
        r = SliceCheck(x, &flag);
        if (IsFailure(r)) return r;
        if (flag) {
          p.passState = x.f.step;
          return kOk;
        }
        break;
      default:
        return kFailed;
    }
    if (IsFailure(r)) return r;
  }
}

}  // namespace

StatusCode TableLayout_Reset(NativeDocState* s, EngineObject* handler,
                             std::uint16_t section) noexcept {
  if (s == nullptr || handler == nullptr) return kBadArgument;
  NativeTablePassState& p = s->tablePass;
  p.stale = static_cast<std::uint16_t>(p.stale + p.pushed);
  p.pushed = 0;
  p.passState = Idle;
  p.rowCache = NativeTableCursor{};
  s->flags &=
      static_cast<std::uint16_t>(~(NativeStateFlag::TablePassDone | NativeStateFlag::TableLayout));
  std::uint32_t start = 0, end = 0;
  if (DocOpsOf(handler).getSectionRange(handler, static_cast<std::int16_t>(section), &start,
                                        &end) != kOk ||
      end <= start) {
    return kOk;
  }
  const NativeRunList& list = s->runLists[kTableLevelList];
  if (list.descriptor.columns < 2 || list.descriptor.count[1] == 0) return kOk;
  NativeRunCursor cursor{};
  NativeRun_Init(&cursor, list.descriptor.first[1], list.descriptor.count[1], NativeRunKind::Value,
                 static_cast<std::uint16_t>(kNativeSectionsPerRecord));
  const StatusCode r = NativeRun_SeekPosition(s->db, &cursor, start, end);
  const std::uint16_t block = cursor.held;
  const StatusCode released = NativeRun_Release(s->db, &cursor);
  if (r != kOk || IsFailure(released)) return IsFailure(r) ? r : released;
  p.sectionStart = start;
  p.sectionEnd = end;
  p.tableBlock = block;
  p.itemCount = 0;
  p.passState = Scanning;
  return kDocTablePassPending;
}

StatusCode TableLayout_Continue(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                NativeDocState* s) noexcept {
  if (handler == nullptr || device == nullptr || s == nullptr) return kBadArgument;
  NativeTablePassState& p = s->tablePass;
  // Frames a reset pass left behind: exactly those, no more.
  while (p.stale > 0) {
    NativeTablePassFrame scrap{};
    std::uint16_t size = sizeof scrap;
    --p.stale;
    if (IsFailure(Store(device, TableStoreCode::Pop, &size, &scrap))) {
      p.stale = 0;  // the store was emptied meanwhile
    }
  }
  if (p.passState == Idle) return kOk;
  (void)Store(device, TableStoreCode::StartSlice, nullptr, nullptr);  // answers 0 on every store
  Pass x{handler, device, ctx, s, p};
  const StatusCode r = Run(x);
  if (!IsFailure(r)) return kOk;
  // Unwind: the open table's node and records, then the frames this pass
  // pushed, each popped once.
  (void)CloseNode(x);                         // the failure being returned counts
  (void)TableCursor_Release(s, &x.f.cursor);  // likewise
  while (p.pushed > 0) {
    NativeTablePassFrame scrap{};
    std::uint16_t size = sizeof scrap;
    --p.pushed;
    if (IsFailure(Store(device, TableStoreCode::Pop, &size, &scrap))) break;
  }
  p.pushed = 0;
  p.passState = Idle;
  return r;
}
