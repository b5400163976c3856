// The table-layout store: per table, the column width ranges gathered from
// the cells, the spanning cells still to be distributed, the fitted column
// edges, the row heights and the table's size, in the manner of an automatic
// table layout. The document handler's table pass measures the cells and
// feeds the store; the table lines read the results back while drawing.
//
// The store lives inside a device (the device's TableStoreCommand),
// created and emptied with the position map (PosMapCommand 0, 1, 2). It also
// keeps a stack of the pass's own state blocks and the pass's 125 ms slice.
// Everything is in memory only; all memory comes from the engine allocator.
// Nodes handed out by codes 0, 2 and 10 belong to the store: a node that is
// not open (closed, or from an emptied store) is refused with kBadArgument.
#pragma once

#include <cstdint>

#include "engine/device/device.h"
#include "engine/runtime/core.h"

// Code 0 (in).
struct TableDescription {
  std::uint16_t id;
  std::uint16_t columns;
  std::uint32_t rows;
  std::uint8_t reserved[4];
  std::uint8_t border;    // border width b
  std::uint8_t hSpacing;  // horizontal cell spacing h
  std::uint8_t vSpacing;  // vertical cell spacing v
};

// Code 4 (out argument, read only).
struct TableCellWidth {
  std::uint16_t column;
  std::uint16_t span;   // 0 counts as 1
  std::uint32_t fixed;  // non-zero: a fixed-width cell
  std::int16_t minimum;
  std::int16_t maximum;
};

// Code 6 (out argument, read only).
struct TableFit {
  std::uint16_t percent;     // 0: none
  std::uint16_t fixedWidth;  // 0: none
  std::int16_t available;
};

// Code 7 (out).
struct TableSpanWidth {
  std::uint16_t firstColumn;
  std::uint16_t span;  // 0 counts as 1
  std::int16_t width;  // out
};

// Code 8 (out argument, read only).
struct TableCellHeight {
  std::uint32_t baseRow;
  std::uint16_t rowOffset;
  std::uint16_t span;  // 0: the table's extra height (caption)
  std::int16_t height;
};

// Code 12 (in).
struct TableWidthRange {
  std::uint16_t id;
  std::int32_t minimum;  // out
  std::int32_t maximum;  // out
};

// Code 13 (out).
struct TableSizeQuery {
  std::uint16_t id;      // used when no node is given
  std::uint16_t width;   // out
  std::uint32_t height;  // out
};

// Code 14 (out).
struct TableCellExtent {
  std::uint32_t baseRow;
  std::uint16_t column;
  std::uint16_t rowOffset;
  std::uint16_t columnSpan;          // 0 counts as 1
  std::uint16_t rowSpan;             // 0: the extra-height band
  std::int16_t x, y, width, height;  // out
};

// Code 15 (out).
struct TableRowSpan {
  std::uint32_t firstRow;
  std::uint16_t span;        // 0: the extra height
  std::uint16_t tableWidth;  // out
  std::int16_t height;       // out
};

// Code 16 (out).
struct TableHit {
  std::int16_t x;
  std::int16_t y;
  std::uint32_t firstRow;
  std::uint32_t row;     // out: the row count when y is below every row
  std::uint16_t column;  // out: the number of column edges <= x
};

// Code 17 (out).
struct TableRowSum {
  std::uint32_t fromRow;
  std::uint32_t toRow;  // exclusive
  std::int32_t total;   // out
};

// The record of a table, kept until the store is emptied.
struct TableRecord {
  std::uint16_t id;
  std::uint16_t columns;
  std::uint32_t rows;
  std::uint16_t extraHeight;  // code 8 with span 0
  std::uint16_t width;        // code 6
  std::uint32_t height;       // code 9
  std::uint8_t border, hSpacing, vSpacing;
  std::uint16_t externalRows;  // 0: the row heights follow the record; else array number (from 1)
  std::int16_t* edges;         // right edge per column
  std::int16_t* rowHeights;    // per row
};

struct TableColumnRange {
  std::int16_t minimum;
  std::int16_t maximum;
  std::uint16_t flags;  // bit 0 fixed
};
constexpr std::uint16_t kColumnFixed = 1;

// The working record of a table while it is laid out.
struct TableLayout {
  std::uint16_t id;
  std::int32_t minimumWidth;
  std::int32_t maximumWidth;
  std::uint16_t spanWidths;   // head handle of the spanning-width list
  std::uint16_t spanHeights;  // head handle of the spanning-height list
  TableColumnRange* columns;
};

struct TableSpanEntry {
  std::uint32_t first;  // column or row
  std::uint16_t span;
  std::uint16_t flags;  // bit 0 fixed
  std::int16_t minimum;
  std::int16_t maximum;
};
constexpr int kSpanEntriesPerRecord = 8;
struct TableSpanRecord {
  std::uint16_t next;  // handle, 0 = end
  std::uint16_t used;
  TableSpanEntry entries[kSpanEntriesPerRecord];
};
struct TableSpanPage {
  TableSpanRecord* records;
  std::uint16_t count;  // records made so far (grows by 16 up to 256)
};
constexpr int kSpanPageRecords = 256;
constexpr int kSpanMaxPages = 255;

// Returned by codes 0 and 2 (layout) and 10 (row pass). Callers read the
// pointers; the store resolves the table again on every command.
struct TableNode {
  TableNode* next;
  std::uint16_t id;
  bool layout;  // made by 0 or 2 (else by 10)
  TableRecord* table;
  std::int16_t* edges;
  std::int16_t* rowHeights;
};

struct TableStackBlock {
  void* data;
  std::uint16_t size;
};

struct TableStore {
  TableRecord** tables;  // sorted by id
  std::uint16_t tableCount, tableCapacity;
  TableLayout** layouts;  // sorted by id
  std::uint16_t layoutCount, layoutCapacity;
  std::int16_t** externalRows;
  std::uint16_t externalCount, externalCapacity;
  TableSpanPage pages[kSpanMaxPages];
  std::uint16_t pageCount;
  std::uint16_t freeSpans;  // head of the free list
  TableNode* nodes;         // layout and row-pass nodes, newest first
  TableStackBlock* stack;
  std::uint16_t depth, stackCapacity;
  std::uint32_t sliceStart;
  const DeviceClock* clock;
};

constexpr std::uint32_t kTableSliceMs = 125;
constexpr std::uint16_t kTableStackMaxDepth = 32000;
// Row counts above this are refused as out of memory before any allocation.
constexpr std::uint32_t kTableMaxRows = 1u << 22;

StatusCode TableStore_Create(const DeviceClock* clock, TableStore** out) noexcept;
void TableStore_Free(TableStore* store) noexcept;   // null allowed
void TableStore_Clear(TableStore* store) noexcept;  // empties everything; null allowed

// TableStoreCommand. in and out per code (records above):
//   0  TableDescription*, out TableNode**: begins a table (kFailed when the
//      id exists; allocation failures leave nothing entered).
//   1  TableNode*: ends its layout: frees the spans and the layout record,
//      closes the node (the table record stays).
//   2  u16* id, out TableNode**: reopens the layout (kFailed when absent).
//   3  TableNode* or null: closes the node.
//   4  TableNode*, TableCellWidth*: records a cell's widths.
//   5  TableNode*: distributes spanning widths, computes the minimum and
//      maximum table widths.
//   6  TableNode*, TableFit*: column edges and the table width.
//   7  TableNode*, TableSpanWidth*: inner width of a spanning cell.
//   8  TableNode*, TableCellHeight*: records a cell's height.
//   9  TableNode*: distributes spanning heights, adds borders and spacing,
//      computes the table height.
//   10 u16* id, out TableNode**: a row-pass node (kFailed when absent).
//   11 TableNode*: closes it.
//   12 TableWidthRange*: of a table being laid out (kFailed otherwise).
//   13 TableNode* or null, TableSizeQuery*: (kFailed when absent).
//   14 TableNode*, TableCellExtent*.  15 TableNode*, TableRowSpan*.
//   16 TableNode*, TableHit*.         17 TableNode*, TableRowSum*.
//   32 u16* size, block: pushes a copy (kFailed above depth 31999).
//   33 u16* size, destination: pops the top block into the destination,
//      copying at most the size it was pushed with (kFailed when empty).
//   48 starts a slice; 49 kTableSliceElapsed when 125 ms or more passed.
// Codes 1, 4-6, 8 and 9 take a layout node (a row-pass node: kBadArgument);
// 7 and 13-17 take either kind. Rows or columns outside the table answer
// kFailed; missing pointers kNullOutPointer; other codes kNotSupported.
StatusCode TableStore_Command(TableStore* store, std::uint16_t code, void* in, void* out) noexcept;
