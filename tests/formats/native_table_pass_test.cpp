#include "engine/formats/native_table_pass.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/device/table_store.h"
#include "tests/formats/native_table_fixture.h"

namespace {

using namespace native_fixture;
using namespace native_table_fixture;

TEST(NativeTablePass, SmallTableSendsTheStoreCommandsInOrder) {
  TablePass t(Write("[\"intro\\n\", " + SmallTable("\"rule_mode\": 5, \"rule_width\": 1") +
                    ", \"outro\\n\"]"));
  ASSERT_EQ(t.Reset(), kDocTablePassPending);
  EXPECT_EQ(t.State().tablePass.passState, NativeTablePass::Scanning);
  const std::vector<std::vector<int>> slices = {
      // Measuring: begin, two cells of each group with a slice check after
      // each, spread the widths, close the node.
      {48, 0, 4, 49, 4, 49, 4, 49, 4, 49, 5, 3},
      // Placing: reopen, fit, then per cell its width and height.
      {48, 2, 6, 7, 8, 49, 7, 8, 49, 7, 8, 49, 7, 8, 49, 9, 1},
      // Scanning finds no further table.
      {48},
  };
  for (std::size_t i = 0; i < slices.size(); ++i) {
    t.Fake().ClearLog();
    const StatusCode r = t.Step();
    ASSERT_EQ(r, kOk) << i << " codes " << ::testing::PrintToString(t.StoreCodes());
    EXPECT_EQ(t.StoreCodes(), slices[i]) << "slice " << i;
  }
  EXPECT_EQ(t.State().tablePass.passState, NativeTablePass::Idle);
  EXPECT_NE(t.State().flags & NativeStateFlag::TablePassDone, 0);
  EXPECT_EQ(t.Store().depth, 0);

  const TableSizes s = t.Sizes(1);
  ASSERT_EQ(s.edges.size(), 2u);
  ASSERT_EQ(s.rows.size(), 2u);
  // Every row holds one line of the default font; the text is narrow
  // enough for its unwrapped width, so the widest cell of each column sets it.
  EXPECT_GT(s.rows[0], 0);
  EXPECT_EQ(s.rows[0], s.rows[1]);
  EXPECT_GT(s.edges[1] - s.edges[0], s.edges[0]);  // "epsilon zeta eta" is the widest text
  EXPECT_EQ(s.width, static_cast<std::uint16_t>(s.edges[1] - 1));  // no border: last edge - h
}

TEST(NativeTablePass, SliceBoundaryAtEveryStepResumesToTheSameLayout) {
  const std::string file = RichDocument();
  std::vector<TableSizes> expected;
  int reads = 0;
  {
    TablePass t(file);
    ASSERT_EQ(t.Run(), kOk);
    expected = AllSizes(t, 3);
    reads = t.Clock().reads;
    EXPECT_GT(expected[0].extra, 0);  // the caption's height
    EXPECT_GT(expected[1].extra, 0);
    EXPECT_EQ(t.Store().depth, 0);
  }
  ASSERT_GT(reads, 10);
  // One boundary at each clock read in turn, then a boundary after every cell.
  for (int k = 1; k <= reads + 1; ++k) {
    TablePass t(file);
    t.Clock().fireAt = k;
    int slices = 0;
    ASSERT_EQ(t.Run(&slices), kOk) << k;
    EXPECT_EQ(AllSizes(t, 3), expected) << "boundary at read " << k;
    EXPECT_EQ(t.Store().depth, 0) << k;
    EXPECT_EQ(t.State().tablePass.pushed, 0) << k;
  }
  TablePass t(file);
  t.Clock().always = true;
  int slices = 0;
  ASSERT_EQ(t.Run(&slices), kOk);
  EXPECT_EQ(AllSizes(t, 3), expected);
  EXPECT_GT(slices, 20);  // every cell ended its slice
}

TEST(NativeTablePass, NestedTableIsMeasuredAndPlacedBeforeItsCell) {
  TablePass t(RichDocument());
  ASSERT_EQ(t.Reset(), kDocTablePassPending);
  // Which table each store command concerned, in order: the begin (0) and
  // end (1) of tables, and the widths (4) and heights (8) recorded.
  std::vector<std::pair<int, int>> events;  // (code, table) for 0 and 1; (code, 0) otherwise
  int slices = 0;
  while (t.State().tablePass.passState != NativeTablePass::Idle && slices < 100) {
    t.Fake().ClearLog();
    ASSERT_EQ(t.Step(), kOk);
    ++slices;
    for (const int code : t.StoreCodes())
      if (code == 0 || code == 1 || code == 4 || code == 8 || code == 12 || code == 13)
        events.push_back({code, 0});
  }
  // Measuring the first table: begin outer (0), its first-group cells (4 x3),
  // then the plain cell (4), the nested table begins (0), its four cells
  // (4 x4), its width range is read (12), and only then the containing
  // cell's width (4).
  std::vector<int> codes;
  for (const auto& e : events)
    codes.push_back(e.first);
  const std::vector<int> firstTable = {0, 4, 4, 4, 4, 0, 4, 4, 4, 4, 12, 4};
  ASSERT_GE(codes.size(), firstTable.size());
  EXPECT_EQ(std::vector<int>(codes.begin(), codes.begin() + firstTable.size()), firstTable);
  // Placing it: caption height, three cells of the first group, the plain
  // cell, then the nested table's caption and cells (8 x5) and its end (1),
  // its size read (13), and only then the containing cell's height (8).
  const std::vector<int> placing = {8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 1, 13, 8, 1};
  ASSERT_GE(codes.size(), firstTable.size() + placing.size());
  EXPECT_EQ(std::vector<int>(codes.begin() + firstTable.size(),
                             codes.begin() + firstTable.size() + placing.size()),
            placing);

  const TableSizes outer = t.Sizes(1);
  const TableSizes inner = t.Sizes(2);
  // The row holding the nested table is at least as high as the nested
  // table with its frame (2 px top and bottom) and the lines around it.
  ASSERT_EQ(outer.rows.size(), 3u);
  EXPECT_GE(outer.rows[2], static_cast<std::int16_t>(inner.height + 4));
  // The nested table's column edges fit inside the containing column.
  EXPECT_LE(inner.width + 4, outer.edges[1] - outer.edges[0]);
}

TEST(NativeTablePass, FailureInsideNestedTableUnwindsOnlyItsOwnFrames) {
  // The nested table's second group names a column past its column count.
  const std::string file = RichDocument({}, "\"columns\": 1");
  for (const bool sliced : {false, true}) {
    TablePass t(file);
    t.Clock().always = sliced;
    // Somebody else's block below the pass's frames stays where it is.
    std::uint32_t sentinel = 0x5EA15EA1;
    std::uint16_t size = sizeof sentinel;
    ASSERT_EQ(TableStore_Command(&t.Store(), TableStoreCode::Push, &size, &sentinel), kOk);
    int slices = 0;
    EXPECT_EQ(t.Run(&slices), kDocMalformed) << sliced;
    EXPECT_EQ(t.State().tablePass.passState, NativeTablePass::Idle);
    EXPECT_EQ(t.State().tablePass.pushed, 0);
    EXPECT_EQ(t.State().flags & NativeStateFlag::TablePassDone, 0);
    EXPECT_EQ(t.Store().nodes, nullptr);  // no layout node left open
    ASSERT_EQ(t.Store().depth, 1) << sliced;
    std::uint32_t back = 0;
    ASSERT_EQ(TableStore_Command(&t.Store(), TableStoreCode::Pop, &size, &back), kOk);
    EXPECT_EQ(back, sentinel);
    // A later step does nothing more.
    t.Fake().ClearLog();
    EXPECT_EQ(t.Step(), kOk);
    EXPECT_TRUE(t.StoreCodes().empty());
  }
}

TEST(NativeTablePass, ResetMidPassDropsExactlyTheFramesItLeft) {
  TablePass t(RichDocument());
  t.Clock().always = true;
  std::uint32_t sentinel = 77;
  std::uint16_t size = sizeof sentinel;
  ASSERT_EQ(TableStore_Command(&t.Store(), TableStoreCode::Push, &size, &sentinel), kOk);
  ASSERT_EQ(t.Reset(), kDocTablePassPending);
  // Step into the nested table: the outer frame and the inner one wait.
  for (int i = 0; i < 6; ++i)
    ASSERT_EQ(t.Step(), kOk);
  ASSERT_EQ(t.State().tablePass.pushed, 2);
  ASSERT_EQ(t.Store().depth, 3);
  // The pass is started again on another section (one without tables)
  // while the store keeps its stack: the next slice pops the two frames the
  // old pass left and nothing else.
  EXPECT_EQ(TableLayout_Reset(&t.State(), t.View(), 1), kOk);
  EXPECT_EQ(t.State().tablePass.passState, NativeTablePass::Idle);
  t.Fake().ClearLog();
  EXPECT_EQ(t.Step(), kOk);
  EXPECT_EQ(t.StoreCodes(), (std::vector<int>{33, 33}));
  EXPECT_EQ(t.Store().depth, 1);
  std::uint32_t back = 0;
  ASSERT_EQ(TableStore_Command(&t.Store(), TableStoreCode::Pop, &size, &back), kOk);
  EXPECT_EQ(back, sentinel);
}

TEST(NativeTablePass, SectionWithoutTablesFinishesAtOnce) {
  const std::vector<std::string> files = {
      native_tool::Write("{\"text_hex\": \"" + Hex("no tables here\n") + "\"}"),
      // Table runs that all lie outside the section's text: a table level
      // whose runs are value 0 throughout.
      native_tool::Write("{\"text_hex\": \"" + Hex("plain\n") +
                         "\", \"descriptors\": {\"1\": {\"columns\": [[0, 0], {\"runs\": "
                         "[[0, 6, 0]]}]}}}"),
  };
  for (const std::string& file : files) {
    TablePass t(file);
    const StatusCode r = t.Reset();
    if (r == kDocTablePassPending) {
      t.Fake().ClearLog();
      EXPECT_EQ(t.Step(), kOk);
      EXPECT_EQ(t.StoreCodes(), std::vector<int>{48});
    } else {
      EXPECT_EQ(r, kOk);
    }
    EXPECT_EQ(t.State().tablePass.passState, NativeTablePass::Idle);
    t.Fake().ClearLog();
    EXPECT_EQ(t.Step(), kOk);
    EXPECT_TRUE(t.StoreCodes().empty());
  }
}

// The same table written in every form of its arrays gives the same layout.
TEST(NativeTablePass, EveryStoredFormGivesTheSameLayout) {
  const std::string groups = "\"groups\": [{\"rows\": 1, \"cells\": [" +
                             Cell("one two",
                                  "\"format\": {\"padding\": "
                                  "[1, 2, 3, 4]}") +
                             ", " + Cell("three") + "]}, {\"rows\": 1, \"cells\": [" +
                             Cell("four",
                                  "\"format\": "
                                  "{\"padding\": [1, 2, 3, 4]}") +
                             ", " + Cell("five six seven") + "]}, {\"rows\": 1, \"cells\": [" +
                             Cell("eight", "\"format\": {\"padding\": [1, 2, 3, 4]}") + ", " +
                             Cell("nine") + "]}]";
  const char* variants[] = {
      "",
      "\"entry_flags\": 0",
      "\"entry_flags\": 1",
      "\"entry_flags\": 2",
      "\"entry_flags\": 3",
      "\"entry_flags\": 8",
      "\"entry_flags\": 9",
      "\"entry_flags\": 10",
      "\"entry_flags\": 12",
      "\"group_form\": \"single\"",
      "\"group_form\": \"u8\"",
      "\"group_form\": \"runs8\"",
      "\"group_form\": \"runs16\"",
      "\"cell_form\": \"u16\"",
      "\"cell_form\": \"runs8\"",
      "\"cell_form\": \"runs16\"",
      "\"geometry\": \"u16\"",
      "\"geometry\": \"none\"",
      "\"extension\": true",
      "\"row_offset\": 9",
  };
  std::vector<std::string> descriptions;
  for (const char* v : variants) {
    const std::string more = *v != '\0' ? std::string(", ") + v : std::string();
    descriptions.push_back("{\"table_layout\": {\"content\": [\"x\\n\", {\"table\": {" + groups +
                           more + "}}, \"y\"]}}");
  }
  std::string error;
  const std::vector<std::string> files =
      native_tool::WriteAll(descriptions, std::vector<std::string>(descriptions.size()), &error);
  ASSERT_EQ(files.size(), descriptions.size()) << error;
  std::vector<TableSizes> expected;
  for (std::size_t i = 0; i < files.size(); ++i) {
    TablePass t(files[i]);
    ASSERT_EQ(t.Run(), kOk) << variants[i];
    const std::vector<TableSizes> sizes = AllSizes(t, 1);
    if (expected.empty()) {
      expected = sizes;
      ASSERT_EQ(expected[0].rows.size(), 3u);
    } else {
      EXPECT_EQ(sizes, expected) << variants[i];
    }
  }
}

TEST(NativeTablePass, CellWidthsFollowTheirFormats) {
  // Column 0: a fixed cell of 80 points; column 1: a cell that never grows
  // past its widest word. The device gives 1 pixel a point.
  TablePass t(Write("[{\"table\": {\"groups\": [{\"rows\": 1, \"cells\": [" +
                    Cell("a", "\"format\": {\"width_mode\": 1, \"width\": 80}") + ", " +
                    Cell("bb bb bb bb bb bb", "\"format\": {\"width_mode\": 4}") + "]}]}}]"),
              1000);
  ASSERT_EQ(t.Run(), kOk);
  const TableSizes s = t.Sizes(1);
  ASSERT_EQ(s.edges.size(), 2u);
  EXPECT_EQ(s.edges[0], 80);
  // "bb" is two letters of 5 pixels at 10 points.
  EXPECT_EQ(s.edges[1] - s.edges[0], 10);
}

TEST(NativeTablePass, ParagraphsThatDoNotWrapNeedTheirWholeWidth) {
  // Two tables in a narrow device: the same words wrapping, and not.
  TablePass t(Write("[{\"table\": {\"groups\": [{\"rows\": 1, \"cells\": [" + Cell("aa bb cc dd") +
                    "]}]}}, \"x\\n\", {\"table\": {\"groups\": "
                    "[{\"rows\": 1, \"cells\": [" +
                    Cell("aa bb cc dd", "\"nowrap\": true") + "]}]}}]"),
              30);
  ASSERT_EQ(t.Run(), kOk);
  const TableSizes wrapping = t.Sizes(1);
  const TableSizes whole = t.Sizes(2);
  EXPECT_EQ(wrapping.edges[0], 30);  // fitted to the device's width
  EXPECT_EQ(whole.edges[0], 55);     // eleven characters of 5 pixels: wider than the device
  EXPECT_GT(wrapping.rows[0], whole.rows[0]);  // four lines against one
}

TEST(NativeTablePass, TwoThousandRowTablePasses) {
  std::string groups;
  for (int i = 0; i < 2000; ++i) {
    if (i != 0) groups += ", ";
    groups += "{\"rows\": 1, \"cells\": [{\"content\": \"r" + std::to_string(i) +
              "\"}, {\"content\": \"cell text\"}]}";
  }
  for (const char* flags : {"12", "9"}) {
    TablePass t(Write("[\"top\\n\", {\"table\": {\"entry_flags\": " + std::string(flags) +
                      ", \"groups\": [" + groups + "]}}]"));
    int slices = 0;
    ASSERT_EQ(t.Run(&slices), kOk) << flags;
    const TableSizes s = t.Sizes(1);
    ASSERT_EQ(s.rows.size(), 2000u);
    for (const std::int16_t h : s.rows)
      ASSERT_EQ(h, s.rows[0]);
    EXPECT_EQ(s.height, 2000u * static_cast<std::uint32_t>(s.rows[0]));
  }
}

}  // namespace
