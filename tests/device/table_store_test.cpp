// The table-layout store: worked layouts, spanning cells, heights, cell
// geometry, hit tests, nested tables through the state stack, and a pass cut
// into slices by the clock.
#include "engine/device/table_store.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "engine/device/pos_map.h"

namespace {

struct Cell {
  std::uint16_t column, span;
  bool fixed;
  std::int16_t minimum, maximum;
};

class TableStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    clock.tick = [](void* user) noexcept { return *static_cast<std::uint32_t*>(user); };
    clock.user = &now;
    ASSERT_EQ(TableStore_Create(&clock, &store), kOk);
  }
  void TearDown() override { TableStore_Free(store); }

  StatusCode Run(std::uint16_t code, void* in, void* out = nullptr) {
    return TableStore_Command(store, code, in, out);
  }
  TableNode* Begin(std::uint16_t id, std::uint16_t columns, std::uint32_t rows, std::uint8_t b,
                   std::uint8_t h, std::uint8_t v) {
    TableDescription d{id, columns, rows, {}, b, h, v};
    TableNode* node = nullptr;
    EXPECT_EQ(Run(TableStoreCode::BeginTable, &d, &node), kOk);
    return node;
  }
  void Width(TableNode* node, const Cell& c) {
    TableCellWidth w{c.column, c.span, c.fixed ? 1u : 0u, c.minimum, c.maximum};
    ASSERT_EQ(Run(TableStoreCode::CellWidth, node, &w), kOk);
  }
  void Height(TableNode* node, std::uint32_t row, std::uint16_t span, std::int16_t height) {
    TableCellHeight c{row, 0, span, height};
    ASSERT_EQ(Run(TableStoreCode::CellHeight, node, &c), kOk);
  }
  std::pair<std::int32_t, std::int32_t> Range(std::uint16_t id) {
    TableWidthRange r{id, -1, -1};
    EXPECT_EQ(Run(TableStoreCode::WidthRange, &r), kOk);
    return {r.minimum, r.maximum};
  }
  void Fit(TableNode* node, std::uint16_t percent, std::uint16_t fixed, std::int16_t available) {
    TableFit fit{percent, fixed, available};
    ASSERT_EQ(Run(TableStoreCode::FitColumns, node, &fit), kOk);
  }

  std::uint32_t now = 0;
  DeviceClock clock{};
  TableStore* store = nullptr;
};

// The worked example: b = 1, h = 2, v = 3, two columns with minimums
// {30, 20} and maximums {100, 50}, 100 pixels available, rows {12, 20}.
TEST_F(TableStoreTest, WorkedExampleEndToEnd) {
  TableNode* node = Begin(7, 2, 2, 1, 2, 3);
  ASSERT_NE(node, nullptr);
  Width(node, {0, 1, false, 30, 100});
  Width(node, {1, 1, false, 20, 50});
  ASSERT_EQ(Run(TableStoreCode::DistributeWidths, node), kOk);
  EXPECT_EQ(Range(7), std::make_pair(61, 164));
  // Between the passes the layout is closed and reopened.
  ASSERT_EQ(Run(TableStoreCode::CloseLayout, node), kOk);
  std::uint16_t id = 7;
  ASSERT_EQ(Run(TableStoreCode::ReopenLayout, &id, &node), kOk);
  Fit(node, 0, 0, 100);
  EXPECT_EQ(node->edges[0], 64);
  EXPECT_EQ(node->edges[1], 100);
  EXPECT_EQ(node->table->width, 100);
  for (auto [first, span, want] : {std::array<int, 3>{1, 1, 31}, {0, 1, 58}, {0, 2, 94}}) {
    TableSpanWidth q{static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(span), -1};
    ASSERT_EQ(Run(TableStoreCode::SpanWidth, node, &q), kOk);
    EXPECT_EQ(q.width, want) << first << "+" << span;
  }
  Height(node, 0, 1, 12);
  Height(node, 1, 1, 20);
  ASSERT_EQ(Run(TableStoreCode::DistributeHeights, node), kOk);
  EXPECT_EQ(node->rowHeights[0], 20);
  EXPECT_EQ(node->rowHeights[1], 27);
  ASSERT_EQ(Run(TableStoreCode::EndLayout, node), kOk);
  // The layout is gone; the table stays for drawing.
  TableWidthRange gone{7, 0, 0};
  EXPECT_EQ(Run(TableStoreCode::WidthRange, &gone), kFailed);
  EXPECT_EQ(Run(TableStoreCode::ReopenLayout, &id, &node), kFailed);

  TableNode* pass = nullptr;
  ASSERT_EQ(Run(TableStoreCode::OpenRowPass, &id, &pass), kOk);
  TableSizeQuery size{0, 0, 0};
  ASSERT_EQ(Run(TableStoreCode::TableSize, pass, &size), kOk);
  EXPECT_EQ(size.width, 100);
  EXPECT_EQ(size.height, 48u);
  TableSizeQuery byId{7, 0, 0};
  ASSERT_EQ(Run(TableStoreCode::TableSize, nullptr, &byId), kOk);
  EXPECT_EQ(byId.height, 48u);
  struct Extent {
    std::uint32_t base;
    std::uint16_t column, rowOffset, columnSpan, rowSpan;
    std::int16_t x, y, w, h;
  } extents[] = {
      {0, 1, 1, 1, 1, 66, 23, 31, 20},
      {0, 0, 0, 1, 1, 3, 4, 58, 12},
      {0, 0, 0, 2, 2, 3, 4, 94, 39},
      {1, 1, 0, 1, 1, 66, 3, 31, 20},  // y counts from the base row
  };
  for (const Extent& e : extents) {
    TableCellExtent q{e.base, e.column, e.rowOffset, e.columnSpan, e.rowSpan, 0, 0, 0, 0};
    ASSERT_EQ(Run(TableStoreCode::CellExtent, pass, &q), kOk);
    EXPECT_EQ(q.x, e.x);
    EXPECT_EQ(q.y, e.y);
    EXPECT_EQ(q.width, e.w);
    EXPECT_EQ(q.height, e.h);
  }
  TableRowSpan rows{0, 2, 0, 0};
  ASSERT_EQ(Run(TableStoreCode::RowSpanHeight, pass, &rows), kOk);
  EXPECT_EQ(rows.height, 47);
  EXPECT_EQ(rows.tableWidth, 100);
  TableRowSum sum{1, 2, 0};
  ASSERT_EQ(Run(TableStoreCode::RowSum, pass, &sum), kOk);
  EXPECT_EQ(sum.total, 27);
  struct HitCase {
    std::int16_t x, y;
    std::uint32_t row;
    std::uint16_t column;
  } hits[] = {{0, 0, 0, 0},   {63, 19, 0, 0},  {64, 20, 1, 1},
              {99, 46, 1, 1}, {100, 47, 2, 2}, {-5, -1, 0, 0}};
  for (const HitCase& h : hits) {
    TableHit q{h.x, h.y, 0, 99, 99};
    ASSERT_EQ(Run(TableStoreCode::HitTest, pass, &q), kOk);
    EXPECT_EQ(q.row, h.row) << h.x << "," << h.y;
    EXPECT_EQ(q.column, h.column) << h.x << "," << h.y;
  }
  // A row-pass node reads; it cannot change the layout.
  EXPECT_EQ(Run(TableStoreCode::DistributeHeights, pass), kBadArgument);
  EXPECT_EQ(pass->rowHeights[0], 20);
  ASSERT_EQ(Run(TableStoreCode::CloseRowPass, pass), kOk);
  // A closed node is refused, not followed.
  EXPECT_EQ(Run(TableStoreCode::TableSize, pass, &size), kBadArgument);
  EXPECT_EQ(Run(TableStoreCode::HitTest, pass, &size), kBadArgument);
}

// Column fitting, one case per rule.
TEST_F(TableStoreTest, FittingTable) {
  struct Case {
    const char* name;
    std::uint8_t b, h;
    std::vector<Cell> cells;
    TableFit fit;
    std::vector<std::int16_t> edges;
    std::uint16_t width;
  } cases[] = {
      {"every column at its maximum",
       0,
       4,
       {{0, 1, false, 10, 20}, {1, 1, false, 10, 30}},
       {0, 0, 200},
       {24, 58},
       54},
      {"every column at its minimum",
       0,
       4,
       {{0, 1, false, 10, 20}, {1, 1, false, 10, 30}},
       {0, 0, 10},
       {14, 28},
       24},
      {"equal ranges spread over columns that can grow",
       0,
       0,
       {{0, 1, false, 10, 10}, {2, 1, false, 20, 20}},
       {100, 0, 100},
       {45, 45, 100},
       100},
      {"rounding leftovers one per column in order",
       0,
       0,
       {{0, 1, false, 10, 10}, {1, 1, false, 10, 10}, {2, 1, false, 10, 10}},
       {100, 0, 101},
       {34, 68, 101},
       101},
      {"no column can grow",
       0,
       0,
       {{0, 1, true, 10, 10}, {1, 1, true, 10, 10}},
       {100, 0, 100},
       {10, 20},
       20},
      {"fixed width",
       0,
       0,
       {{0, 1, false, 10, 40}, {1, 1, false, 10, 20}},
       {0, 90, 500},
       {63, 90},
       90},
      {"fixed width below the minimum",
       0,
       0,
       {{0, 1, false, 10, 40}, {1, 1, false, 10, 20}},
       {0, 5, 500},
       {10, 20},
       20},
      {"percent of the available width",
       0,
       0,
       {{0, 1, false, 0, 100}, {1, 1, false, 0, 100}},
       {50, 0, 200},
       {50, 100},
       100},
      {"border and spacing", 2, 3, {{0, 1, false, 5, 5}}, {0, 0, 300}, {15}, 15},
  };
  std::uint16_t id = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TableNode* node = Begin(++id, static_cast<std::uint16_t>(c.edges.size()), 1, c.b, c.h, 0);
    for (const Cell& cell : c.cells)
      Width(node, cell);
    ASSERT_EQ(Run(TableStoreCode::DistributeWidths, node), kOk);
    Fit(node, c.fit.percent, c.fit.fixedWidth, c.fit.available);
    for (std::size_t i = 0; i < c.edges.size(); ++i)
      EXPECT_EQ(node->edges[i], c.edges[i]) << i;
    EXPECT_EQ(node->table->width, c.width);
    ASSERT_EQ(Run(TableStoreCode::EndLayout, node), kOk);
  }
}

TEST_F(TableStoreTest, WidthRulesForFixedAndSpanningCells) {
  // A fixed cell narrower than the column's minimum fixes the column at it;
  // a later wider free cell raises a fixed column to the cell's minimum.
  TableNode* node = Begin(1, 1, 1, 0, 0, 0);
  Width(node, {0, 1, false, 30, 50});
  Width(node, {0, 1, true, 20, 20});
  ASSERT_EQ(Run(TableStoreCode::DistributeWidths, node), kOk);
  EXPECT_EQ(Range(1), std::make_pair(30, 30));
  Width(node, {0, 1, false, 40, 80});
  ASSERT_EQ(Run(TableStoreCode::DistributeWidths, node), kOk);
  EXPECT_EQ(Range(1), std::make_pair(40, 40));

  // A spanning cell over columns whose minimums are all 0 shares evenly.
  node = Begin(2, 3, 1, 0, 0, 0);
  Width(node, {0, 3, false, 30, 60});
  ASSERT_EQ(Run(TableStoreCode::DistributeWidths, node), kOk);
  EXPECT_EQ(Range(2), std::make_pair(30, 60));
  Fit(node, 0, 0, 1000);
  EXPECT_EQ(node->edges[0], 20);
  EXPECT_EQ(node->edges[2], 60);

  // In proportion to the columns' ranges.
  node = Begin(3, 2, 1, 0, 0, 0);
  Width(node, {0, 1, false, 10, 20});
  Width(node, {1, 1, false, 30, 60});
  Width(node, {0, 2, false, 60, 100});
  Width(node, {0, 2, false, 50, 90});  // merged into the same entry
  ASSERT_EQ(Run(TableStoreCode::DistributeWidths, node), kOk);
  EXPECT_EQ(Range(3), std::make_pair(60, 100));
  Fit(node, 0, 0, 60);
  EXPECT_EQ(node->edges[0], 15);
  EXPECT_EQ(node->edges[1], 60);
  Fit(node, 0, 0, 1000);
  EXPECT_EQ(node->edges[0], 25);
  EXPECT_EQ(node->edges[1], 100);

  // A fixed spanning entry fixes its columns; many spanning cells fill
  // several span records.
  node = Begin(4, 12, 1, 0, 0, 0);
  for (std::uint16_t c = 0; c < 11; ++c)
    Width(node, {c, 2, c == 3, 10, 20});
  ASSERT_EQ(Run(TableStoreCode::DistributeWidths, node), kOk);
  const auto [minimum, maximum] = Range(4);
  EXPECT_GT(minimum, 0);
  EXPECT_GE(maximum, minimum);
  ASSERT_EQ(Run(TableStoreCode::EndLayout, node), kOk);

  TableCellWidth outside{11, 2, 0, 1, 1};
  node = Begin(5, 12, 1, 0, 0, 0);
  EXPECT_EQ(Run(TableStoreCode::CellWidth, node, &outside), kFailed);
  outside = {12, 1, 0, 1, 1};
  EXPECT_EQ(Run(TableStoreCode::CellWidth, node, &outside), kFailed);
}

TEST_F(TableStoreTest, HeightsSpanningRowsAndCaption) {
  TableNode* node = Begin(1, 1, 5, 0, 0, 2);
  Height(node, 0, 1, 10);
  Height(node, 0, 2, 30);  // rows {10, 0} under 30: proportional
  Height(node, 2, 2, 10);  // two empty rows share 10
  Height(node, 4, 9, 10);  // a span past the last row is cut to one row
  Height(node, 0, 0, 7);   // caption: the extra height
  TableCellHeight outside{5, 0, 1, 3};
  EXPECT_EQ(Run(TableStoreCode::CellHeight, node, &outside), kFailed);
  outside = {4, 1, 1, 3};
  EXPECT_EQ(Run(TableStoreCode::CellHeight, node, &outside), kFailed);
  ASSERT_EQ(Run(TableStoreCode::DistributeHeights, node), kOk);
  // Rows 0-1 {10, 0} under 30: ((10 + 1) / 2 + r * 30) / 10 gives {30, 0};
  // rows 2-3 {0, 0} under 10: (10 + 1) / 2 = 5 each; then v = 2 on every row.
  const std::int16_t want[5] = {32, 2, 7, 7, 12};
  for (int r = 0; r < 5; ++r)
    EXPECT_EQ(node->rowHeights[r], want[r]) << r;
  EXPECT_EQ(node->table->height, 60u - 2 + 7);
  TableRowSpan caption{0, 0, 0, 0};
  ASSERT_EQ(Run(TableStoreCode::RowSpanHeight, node, &caption), kOk);
  EXPECT_EQ(caption.height, 7);
  TableRowSpan last{3, 2, 0, 0};
  ASSERT_EQ(Run(TableStoreCode::RowSpanHeight, node, &last), kOk);
  EXPECT_EQ(last.height, 7 + 12 - 2);  // less v: no border and it ends at the last row
  TableCellExtent band{0, 0, 0, 1, 0, 9, 9, 9, 9};
  ASSERT_EQ(Run(TableStoreCode::CellExtent, node, &band), kOk);
  EXPECT_EQ(band.y, 0);
  EXPECT_EQ(band.height, 7);
  TableCellExtent below{3, 0, 1, 1, 2, 0, 0, 0, 0};
  EXPECT_EQ(Run(TableStoreCode::CellExtent, node, &below), kFailed);
  TableHit hit{0, 10000, 0, 0, 0};
  ASSERT_EQ(Run(TableStoreCode::HitTest, node, &hit), kOk);
  EXPECT_EQ(hit.row, 5u);  // below the table: the row count
  TableRowSum bad{3, 6, 0};
  EXPECT_EQ(Run(TableStoreCode::RowSum, node, &bad), kFailed);
}

TEST_F(TableStoreTest, StateStackKeepsWhatWasPushed) {
  std::uint16_t size = 4;
  std::uint32_t a = 0x11111111, b = 0x22222222;
  ASSERT_EQ(Run(TableStoreCode::Push, &size, &a), kOk);
  size = 2;
  ASSERT_EQ(Run(TableStoreCode::Push, &size, &b), kOk);
  // Popping more than was pushed copies only the pushed bytes.
  std::uint8_t out[8];
  std::memset(out, 0xEE, sizeof out);
  size = 8;
  ASSERT_EQ(Run(TableStoreCode::Pop, &size, out), kOk);
  EXPECT_EQ(out[0], 0x22);
  EXPECT_EQ(out[1], 0x22);
  EXPECT_EQ(out[2], 0xEE);
  std::uint32_t back = 0;
  size = 4;
  ASSERT_EQ(Run(TableStoreCode::Pop, &size, &back), kOk);
  EXPECT_EQ(back, a);
  EXPECT_EQ(Run(TableStoreCode::Pop, &size, &back), kFailed);
  // The depth is bounded.
  size = 1;
  std::uint8_t byte = 1;
  for (int i = 0; i < kTableStackMaxDepth; ++i)
    ASSERT_EQ(Run(TableStoreCode::Push, &size, &byte), kOk);
  EXPECT_EQ(Run(TableStoreCode::Push, &size, &byte), kFailed);
  TableStore_Clear(store);
  EXPECT_EQ(Run(TableStoreCode::Pop, &size, &byte), kFailed);
}

TEST_F(TableStoreTest, SliceCountsFromItsStart) {
  now = 500;
  ASSERT_EQ(Run(TableStoreCode::StartSlice, nullptr), kOk);
  now = 624;
  EXPECT_EQ(Run(TableStoreCode::CheckSlice, nullptr), kOk);
  now = 625;
  EXPECT_EQ(Run(TableStoreCode::CheckSlice, nullptr), kTableSliceElapsed);
}

TEST_F(TableStoreTest, BadNodesIdsAndCodes) {
  TableNode* node = Begin(9, 2, 2, 0, 0, 0);
  TableDescription again{9, 1, 1, {}, 0, 0, 0};
  TableNode* other = nullptr;
  EXPECT_EQ(Run(TableStoreCode::BeginTable, &again, &other), kFailed);
  EXPECT_EQ(other, nullptr);
  std::uint16_t absent = 10;
  EXPECT_EQ(Run(TableStoreCode::OpenRowPass, &absent, &other), kFailed);
  EXPECT_EQ(Run(TableStoreCode::ReopenLayout, &absent, &other), kFailed);
  TableSizeQuery q{10, 0, 0};
  EXPECT_EQ(Run(TableStoreCode::TableSize, nullptr, &q), kFailed);
  EXPECT_EQ(Run(TableStoreCode::CloseLayout, nullptr), kOk);
  int stranger = 0;
  EXPECT_EQ(Run(TableStoreCode::DistributeWidths, &stranger), kBadArgument);
  EXPECT_EQ(Run(TableStoreCode::DistributeWidths, nullptr), kNullOutPointer);
  EXPECT_EQ(Run(TableStoreCode::CellWidth, node, nullptr), kNullOutPointer);
  for (std::uint16_t code : {18, 31, 34, 47, 50, 0xFFFF})
    EXPECT_EQ(Run(code, node), kNotSupported) << code;
  TableDescription huge{11, 1, 0xFFFFFFFF, {}, 0, 0, 0};
  EXPECT_EQ(Run(TableStoreCode::BeginTable, &huge, &other), kOutOfMemory);
  // Zero columns and rows are harmless.
  TableNode* empty = Begin(12, 0, 0, 1, 2, 3);
  ASSERT_EQ(Run(TableStoreCode::DistributeWidths, empty), kOk);
  Fit(empty, 0, 0, 100);
  ASSERT_EQ(Run(TableStoreCode::DistributeHeights, empty), kOk);
  EXPECT_EQ(empty->table->height, 1u);
  // Emptying the store invalidates every node.
  TableStore_Clear(store);
  EXPECT_EQ(Run(TableStoreCode::DistributeWidths, node), kBadArgument);
}

// A table pass that records one cell per step, checks the slice after each,
// and between slices keeps its cursor on the state stack only.
struct Pass {
  TableStore* store;
  std::uint16_t id;
  std::vector<Cell> cells;

  // Answers true when the table is done.
  bool Slice() {
    EXPECT_EQ(TableStore_Command(store, TableStoreCode::StartSlice, nullptr, nullptr), kOk);
    std::uint32_t cursor = 0;
    TableNode* node = nullptr;
    std::uint16_t size = sizeof cursor;
    if (TableStore_Command(store, TableStoreCode::Pop, &size, &cursor) != kOk) {
      TableDescription d{id, 4, 1, {}, 1, 1, 0};
      EXPECT_EQ(TableStore_Command(store, TableStoreCode::BeginTable, &d, &node), kOk);
    } else {
      EXPECT_EQ(TableStore_Command(store, TableStoreCode::ReopenLayout, &id, &node), kOk);
    }
    while (cursor < cells.size()) {
      const Cell& c = cells[cursor++];
      TableCellWidth w{c.column, c.span, c.fixed, c.minimum, c.maximum};
      EXPECT_EQ(TableStore_Command(store, TableStoreCode::CellWidth, node, &w), kOk);
      if (TableStore_Command(store, TableStoreCode::CheckSlice, nullptr, nullptr) ==
              kTableSliceElapsed &&
          cursor < cells.size()) {
        EXPECT_EQ(TableStore_Command(store, TableStoreCode::CloseLayout, node, nullptr), kOk);
        EXPECT_EQ(TableStore_Command(store, TableStoreCode::Push, &size, &cursor), kOk);
        return false;
      }
    }
    EXPECT_EQ(TableStore_Command(store, TableStoreCode::DistributeWidths, node, nullptr), kOk);
    TableFit fit{0, 0, 150};
    EXPECT_EQ(TableStore_Command(store, TableStoreCode::FitColumns, node, &fit), kOk);
    EXPECT_EQ(TableStore_Command(store, TableStoreCode::EndLayout, node, nullptr), kOk);
    return true;
  }
};

TEST_F(TableStoreTest, SlicedPassGivesTheSameLayout) {
  const std::vector<Cell> cells = {
      {0, 1, false, 10, 40}, {1, 2, false, 30, 90}, {3, 1, true, 15, 15},  {0, 4, false, 100, 200},
      {2, 1, false, 5, 70},  {1, 1, false, 12, 12}, {0, 2, false, 50, 60}, {2, 2, false, 20, 25},
  };
  std::array<std::int16_t, 4> whole{}, sliced{};
  {
    Pass pass{store, 1, cells};
    ASSERT_TRUE(pass.Slice());
    TableNode* node = nullptr;
    std::uint16_t id = 1;
    ASSERT_EQ(Run(TableStoreCode::OpenRowPass, &id, &node), kOk);
    std::copy(node->edges, node->edges + 4, whole.begin());
  }
  // 50 ms per clock read: every second check ends the slice.
  {
    static std::uint32_t ticks = 0;
    clock.tick = [](void*) noexcept { return ticks += 50; };
    Pass pass{store, 2, cells};
    int slices = 1;
    while (!pass.Slice())
      ++slices;
    EXPECT_GT(slices, 2);
    TableNode* node = nullptr;
    std::uint16_t id = 2;
    ASSERT_EQ(Run(TableStoreCode::OpenRowPass, &id, &node), kOk);
    std::copy(node->edges, node->edges + 4, sliced.begin());
  }
  EXPECT_EQ(whole, sliced);
  EXPECT_GT(whole[3], 0);
}

TEST_F(TableStoreTest, NestedTableThroughTheStack) {
  // The outer table's cell holds an inner table: the pass pushes the outer
  // frame, lays out the inner table, pops, and uses the inner width as the
  // cell's minimum.
  TableNode* outer = Begin(1, 2, 1, 1, 1, 1);
  Width(outer, {0, 1, false, 20, 40});
  struct Frame {
    TableNode* node;
    std::uint16_t column;
  } frame{outer, 1};
  std::uint16_t size = sizeof frame;
  ASSERT_EQ(Run(TableStoreCode::CloseLayout, outer), kOk);
  frame.node = nullptr;
  ASSERT_EQ(Run(TableStoreCode::Push, &size, &frame), kOk);

  TableNode* inner = Begin(2, 2, 1, 0, 2, 0);
  Width(inner, {0, 1, false, 10, 10});
  Width(inner, {1, 1, false, 15, 15});
  ASSERT_EQ(Run(TableStoreCode::DistributeWidths, inner), kOk);
  const auto innerRange = Range(2);
  EXPECT_EQ(innerRange, std::make_pair(27, 27));
  Fit(inner, 0, 0, 1000);
  ASSERT_EQ(Run(TableStoreCode::EndLayout, inner), kOk);

  Frame back{};
  ASSERT_EQ(Run(TableStoreCode::Pop, &size, &back), kOk);
  EXPECT_EQ(back.column, 1);
  std::uint16_t id = 1;
  ASSERT_EQ(Run(TableStoreCode::ReopenLayout, &id, &outer), kOk);
  Width(outer, {back.column, 1, false, static_cast<std::int16_t>(innerRange.first),
                static_cast<std::int16_t>(innerRange.second)});
  ASSERT_EQ(Run(TableStoreCode::DistributeWidths, outer), kOk);
  // frame = 1*3 + 2*2*1 = 7; minimum 7 + 20 + 27.
  EXPECT_EQ(Range(1).first, 54);
  TableSizeQuery innerSize{2, 0, 0};
  ASSERT_EQ(Run(TableStoreCode::TableSize, nullptr, &innerSize), kOk);
  EXPECT_EQ(innerSize.width, 27);
}

}  // namespace
