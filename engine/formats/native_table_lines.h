// Native tables as lines of the view. A position inside a table is laid
// out as a row line: one line for each row group of the outermost table (a
// caption is a line of its own), as wide as the table with its frame and as
// high as the group. Drawing, inverting, hit-testing and the link
// visibility test of a row line walk the table's cells from the sizes the
// layout pass left in the device's table store (native_table_pass.h); the
// cells' own lines are laid out and drawn through the handler's own slots,
// and nested tables are reached by descending into them, the containing
// walk waiting on the store's stack.
//
// Geometry, the same for every operation so that what is hit is what was
// drawn: a table's frame sides come from its format's border box; a caption
// of a nested table lies above its frame (caption place 1) or below it (2);
// a cell's box is the store's cell extent (code 14) placed in the table's
// content, shrunk by the cell's border sides and padding; its lines stack
// from the box top, a line's top space overlapping the line above's extra
// space, and each line is drawn, filled and hit with its slot at the line's
// top less its top space. A row line holds no pointers across a call: the
// walks pushed on the store are plain values, every node is closed and
// every record given back before the call returns, on failure too.
#pragma once

#include <cstdint>

#include "engine/formats/doc_handler.h"
#include "engine/formats/native_table_pass.h"

struct NativeDocState;

// The outermost table holding a position.
struct NativeRowLineTable {
  std::uint32_t start;
  std::uint32_t end;
  std::uint16_t number;
};

// Whether p takes the table path: table layout on (NativeStateFlag::
// TableLayout), none of `heldFlags` set in the state, the paragraph
// attributes at p marking a table paragraph (flag byte bit 1) and a level-0
// table run holding p. kYes with *table, else kNo.
StatusCode TableLine_IsTablePosition(NativeDocState* s, std::uint32_t p, std::uint16_t heldFlags,
                                     NativeRowLineTable* table) noexcept;

// LayoutLine on the table path: the row line starting at `start`.
StatusCode TableLine_LayoutRowLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                   NativeDocState* s, std::uint32_t start, std::int16_t width,
                                   std::uint32_t* nextStart, LineMetrics* metrics) noexcept;
// DrawLine on the table path (flag 0x04 held while it runs).
StatusCode TableLine_DrawRowLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                 NativeDocState* s, std::int16_t x, std::int16_t y,
                                 const LineMetrics* metrics, std::uint32_t lineStart) noexcept;
// InvertRange on the table path: the selected text of the cells meeting
// [rangeStart, rangeEnd) (flag 0x20 held).
StatusCode TableLine_InvertRowLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                   NativeDocState* s, std::uint16_t style, std::int16_t x,
                                   std::int16_t y, const LineMetrics* metrics,
                                   std::uint32_t lineStart, std::uint32_t rangeStart,
                                   std::uint32_t rangeEnd) noexcept;
// HitTest on the table path, the line drawn at (0, 0) (flag 0x10 held).
// The cell is the one covering the grid row and column the table store's
// hit test names for the point (so a point between two cells finds one of
// them), descending into nested tables; a caption is hit by its box. The
// outputs are always written on success: the character under the point;
// the end of the cell's text for a point below a cell's last line;
// lineStart twice for a point on no cell. The store's refusal of the hit
// test is answered as its failure.
StatusCode TableLine_HitTestRowLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                    NativeDocState* s, std::int16_t x, std::int16_t y,
                                    const LineMetrics* metrics, std::uint32_t lineStart,
                                    HitBox* box, std::uint32_t* rangeStart,
                                    std::uint32_t* rangeEnd) noexcept;
// Control 19 on the table path: kYes when part of the query's range lies on
// a visible cell line of the row line, else 0 (flag 0x04 held).
StatusCode TableLine_RangeVisible(EngineObject* handler, NativeDocState* s,
                                  const DocLinkVisibility* query) noexcept;
