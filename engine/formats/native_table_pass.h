// Native tables: the records that describe a table, a cursor over its row
// groups and cells, and the resumable layout pass that measures every cell
// and fills the device's table-layout store (table_store.h) before the
// section holding the tables is paginated.
//
// Where tables are. Run list 1's descriptor (native_index.h) carries one
// value column per nesting level: column 1 holds the outermost tables,
// column 2 the tables nested in their cells, and so on. A run of value n
// (n > 0) covers the text of table n, whose table item is item n of
// attribute table 11; runs of value 0 cover text outside tables. A table's
// first and last characters are markers; between them lie its caption text
// (when it has one) and its row groups, cell after cell.
//
// Table item (attribute table 11: fixed part 6 bytes, part 1 6 bytes):
//   fixed 0  flag byte: bits 0-3 entry flags (NativeTableEntry), 0x10 part 1
//   fixed 1  caption place, bits 0-1: 0 none, 1 above the rows, 2 below
//   fixed 2..5  low bytes of tableRecord, rowEntryRecord, rowEntryCount,
//            cellEntryRecord; part 1 bytes 0..3 their high bytes
// tableRecord names an item of item index 0 (the table record);
// rowEntryRecord, rowEntryCount and cellEntryRecord locate the position
// arrays (type-9 records, numbers in the database): with entry flag
// OwnRecords the row entries fill rowEntryCount records from rowEntryRecord
// and the cell entries the records from cellEntryRecord, 16 KB of entries
// each after the record header; without it both arrays lie in record
// rowEntryRecord, the row entries at byte offset rowEntryCount (from the
// record's first byte) and the cell entries right after them.
//
// Table record (item index 0 item), numbers big-endian:
//   0  u8  e: header length (>= 14)
//   1  u8  flags: bit 0 an 8-byte extension at e; bits 1-3 the form of the
//          row-group value array (NativeValueForm)
//   2  u8  rule mode, low 4 bits: 0 none, 3 between rows, 4 between
//          columns, else both
//   3  u8  rule width in points      4  u8 border width (also rules the outer edges)
//   5  u8  table format item (table 8), low byte
//   6  u16 column count   8 u16 row count   10 u16 row-group count   12 u16 not read
//   extension at e: u8 high byte of the format item, u8 0, u16 high words
//   of the row and group counts, u16 not read.
// The row-group value array follows (at e, or e + 8): per row group the
// number of its row template.
//
// Row template (item index 1 item): 0 u8 e2 (>= 6); 1 u8 flags (bits 1-3
// value form, bit 4 no geometry, bit 5 u16 geometry); 2 u16 cells; 4 u16
// rows; at e2 the cell-value array (per cell its format item, table 8),
// then per cell {column, row, column span, row span} as four u8 (four u16
// with bit 5; none with bit 4: cell p is column p, row 0, 1 x 1).
//
// Value arrays (count values; the form from the flags):
//   bit 1            one u16, the value of every position
//   bit 2 and bit 3  u16 per position
//   bit 2 only       u8 per position, padded to even length
//   neither, bit 3   u16 n, then n {u16 value, u16 run length}
//   neither          u16 n, then n {u8 value, u8 run length}
// A position past the last run is damage.
//
// Position arrays: row entries (u16 offsets from the table start with entry
// flag RowOffsets16, else u32 positions) are the inner row boundaries:
// boundary 0 is the table start + 1 character, boundary k the stored entry
// k - 1, the last boundary the table end - 1 character. The caption's text
// (when there is one) lies between boundaries 0 and 1, row group g between
// the next two. Cell entries (u8 or u16 offsets from the group's start, or
// u32 positions) give the end of every cell of a group but its last; the
// entries of group g start at (cells of groups before g) - g.
//
// Table format and cell format (table 8: fixed 2, part 1 4, part 2 4): flag
// byte bits 0-1 width mode (1 fixed width in points, 2 percent of the
// available width), bit 2 never wider than the minimum; width = fixed 1 +
// 256 part-1 0; border box (table 5) = part-1 1 + 256 part-2 0; padding
// (table 4) = part-1 2 + 256 part-2 1; background colour (table 1) = part-1
// 3 + 256 part-2 2. Padding item (table 4: fixed 2, part 1 1, part 2 2):
// top = fixed 1, right = part-1 0, bottom = part-2 0, left = part-2 1, in
// points.
#pragma once

#include <cstdint>

#include "engine/device/device.h"
#include "engine/runtime/core.h"

struct NativeDocState;

namespace NativeTableEntry {
constexpr std::uint8_t RowOffsets16 = 0x01;  // row entries: u16 offsets from the table start
constexpr std::uint8_t CellOffsets8 = 0x02;  // cell entries: u8 offsets from the group start
constexpr std::uint8_t CellOffsets16 = 0x04;
constexpr std::uint8_t OwnRecords = 0x08;  // the arrays fill type-9 records of their own
}  // namespace NativeTableEntry

namespace NativeValueForm {
constexpr std::uint8_t Single = 0x02;
constexpr std::uint8_t Array = 0x04;
constexpr std::uint8_t Wide = 0x08;
constexpr std::uint8_t NoGeometry = 0x10;
constexpr std::uint8_t WideGeometry = 0x20;
}  // namespace NativeValueForm

constexpr std::uint32_t kTableEntryBytes = 16384;  // entries held by one type-9 record
constexpr std::int32_t kTableMaxWidth = 32000;

// A cursor over the row groups and cells of one table. It holds plain values
// only, apart from the two type-9 records in `held`, which are given back
// (TableCursor_Release) before the cursor is copied anywhere and fetched
// again on the next entry read.
struct NativeTableCursor {
  std::uint16_t number;  // the table's value in its level run (item of table 11)
  std::uint16_t nesting;
  std::uint32_t start, end;  // the table's text, markers included
  std::uint32_t charBytes;   // 1, or 2 for UTF-16 text
  // The table item.
  std::uint8_t entryFlags;
  std::uint8_t captionPlace;
  std::uint16_t tableRecord, rowEntryRecord, rowEntryCount, cellEntryRecord;
  // The table record.
  std::uint8_t recordFlags, ruleMode, ruleWidth, border;
  std::uint16_t tableFormat, columnCount;
  std::uint32_t rowCount, groupCount;
  std::uint32_t groupArrayAt;  // offset of the row-group value array in the record
  // The current row group.
  std::uint32_t group;  // kTableNoGroup before the first
  bool isCaption;
  bool captionDone;
  std::uint16_t templateNumber;
  std::uint8_t templateFlags;
  std::uint16_t groupCells, groupRows;
  std::uint32_t firstRow;
  std::uint32_t cellsBefore;  // cells of the groups before this one (caption not counted)
  std::uint32_t groupStart, groupEnd;
  std::uint32_t runHint, runHintFirst;  // the run form: run index and its first group
  // The current cell.
  std::uint16_t cellIndex;  // cells of the group taken
  std::uint16_t value, column, rowOffset, columnSpan, rowSpan;
  std::uint32_t cellStart, cellEnd;
  // Held type-9 records: [0] row entries, [1] cell entries.
  std::uint16_t heldNumber[2];
  const std::uint8_t* held[2];
  std::uint32_t heldSize[2];
};
constexpr std::uint32_t kTableNoGroup = 0xFFFFFFFFu;

// A table format (table 8) with its border box, padding and colour resolved.
struct NativeTableFormat {
  std::uint8_t widthMode;  // bits 0-1 mode, bit 2 never wider than the minimum
  std::uint16_t width;
  std::uint16_t borderBox;
  std::uint16_t padding;
  std::uint16_t background;
};
StatusCode TableFormat_Read(NativeDocState* s, std::uint16_t item, NativeTableFormat* out) noexcept;
// Padding item (table 4) sizes in points: top, right, bottom, left.
StatusCode TablePadding_Read(NativeDocState* s, std::uint16_t item, std::uint8_t out[4]) noexcept;
// The pixel sizes of a format's border sides and padding: top, right,
// bottom, left; styles 0 count nothing. A failed conversion uses the points.
struct NativeCellInsets {
  std::int16_t border[4];
  std::int16_t padding[4];
};
StatusCode TableFormat_Insets(NativeDocState* s, EngineObject* device, DeviceContext ctx,
                              const NativeTableFormat& format, NativeCellInsets* out) noexcept;
std::int16_t Table_PointsToPixels(EngineObject* device, DeviceContext ctx,
                                  std::uint16_t points) noexcept;

// The run at nesting `level` of run list `family` (0 or 1) that holds p:
// 0 with its start, end and table number; kNotFound when p lies outside
// every table of that level or the list has no such level.
StatusCode NativeStore_FindLevelRun(NativeDocState* s, std::uint32_t family, std::uint32_t p,
                                    std::uint32_t level, std::uint32_t* start, std::uint32_t* end,
                                    std::uint16_t* value) noexcept;
// From p, inside [p, limit): whether a table of `level` holds p (*table with
// its range and number) or, when not, where the next one may start
// (*segmentEnd, at most limit).
StatusCode Table_NextNested(NativeDocState* s, std::uint32_t level, std::uint32_t p,
                            std::uint32_t limit, bool* table, std::uint32_t* tableStart,
                            std::uint32_t* tableEnd, std::uint16_t* number,
                            std::uint32_t* segmentEnd) noexcept;

// Reads the table item and table record of table `number` covering [start,
// end). kDocMalformed for a damaged item, record or range.
StatusCode TableCursor_Open(NativeDocState* s, NativeTableCursor* c, std::uint16_t number,
                            std::uint16_t nesting, std::uint32_t start, std::uint32_t end) noexcept;
// Back to before the first group (the caption, when there is one, comes first).
void TableCursor_Restart(NativeTableCursor* c) noexcept;
// The next row group (the caption first): kNoMore past the last.
StatusCode TableCursor_NextGroup(NativeDocState* s, NativeTableCursor* c) noexcept;
// The next cell of the group: kNoMore past the last.
StatusCode TableCursor_NextCell(NativeDocState* s, NativeTableCursor* c) noexcept;
// Gives back the held type-9 records.
StatusCode TableCursor_Release(NativeDocState* s, NativeTableCursor* c) noexcept;
// Row boundary k (0 .. stored entries + 1).
StatusCode TableCursor_Boundary(NativeDocState* s, NativeTableCursor* c, std::uint32_t k,
                                std::uint32_t* position) noexcept;

// One table level of the pass, kept on the store's stack while a nested
// table or the next slice runs. Plain values only.
struct NativeTablePassFrame {
  NativeTableCursor cursor;  // its held records given back
  std::uint16_t step;        // the pass state to resume at
  std::int16_t available;    // placing: the width the table is fitted to
  std::uint32_t pos;         // next paragraph or line of the current cell
  std::int32_t cellMin, cellMax, cellHeight;
  std::int16_t cellWidth;  // placing: inner width of the current cell
  std::int16_t prevExtra;
  bool hasNested;
  std::uint32_t nestedEnd;
  std::uint16_t nestedNumber;
  std::uint16_t nestedFormat;
};

// The pass's state, a member of NativeDocState.
struct NativeTablePassState {
  std::uint16_t passState;   // NativeTablePass
  std::uint16_t tableBlock;  // level-0 run record being scanned
  std::uint16_t tableValue;
  std::uint32_t tableStart, tableEnd;
  std::uint32_t sectionStart, sectionEnd;
  std::uint16_t itemCount;  // runs of that record already scanned
  std::uint16_t pushed;     // frames this pass keeps on the store's stack
  std::uint16_t stale;      // frames of a pass that was reset, dropped by the next slice
  // The row group a row line was last found in (its held records given
  // back), so that lines laid out one after another find theirs at once.
  NativeTableCursor rowCache;
};

namespace NativeTablePass {
constexpr std::uint16_t Scanning = 0;
constexpr std::uint16_t MeasureNew = 10;
constexpr std::uint16_t MeasureBegin = 11;
constexpr std::uint16_t MeasureCellText = 12;
constexpr std::uint16_t MeasureNextGroup = 13;
constexpr std::uint16_t MeasureNextCell = 14;
constexpr std::uint16_t MeasureAfterNested = 15;
constexpr std::uint16_t PlaceNew = 20;
constexpr std::uint16_t PlaceBegin = 21;
constexpr std::uint16_t PlaceCellText = 22;
constexpr std::uint16_t PlaceNextGroup = 33;
constexpr std::uint16_t PlaceNextCell = 34;
constexpr std::uint16_t PlaceAfterNested = 35;
constexpr std::uint16_t Idle = 30;
}  // namespace NativeTablePass

// Starts the pass over section `section` (its range from the handler's
// GetSectionRange). kDocTablePassPending when the section holds table runs,
// else 0 with the pass idle. Clears NativeStateFlag::TablePassDone and
// NativeStateFlag::TableLayout: the sizes the row lines read are being made
// again (the view empties the store before it starts a pass), so lines laid
// out until the view turns table layout on again are ordinary text lines.
StatusCode TableLayout_Reset(NativeDocState* s, EngineObject* handler,
                             std::uint16_t section) noexcept;
// Runs one slice of the pass (store codes 48/49 cut it at 125 ms): 0 when the
// slice ended or the pass finished (passState 30, TablePassDone set), a
// failure otherwise, after popping exactly the frames this pass pushed and
// leaving the pass idle. Cells are measured with DocHandler_MeasureLine and
// laid out with the handler's own LayoutLine.
StatusCode TableLayout_Continue(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                NativeDocState* s) noexcept;
