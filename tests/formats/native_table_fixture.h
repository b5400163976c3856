// Shared pieces of the native table tests: a handler table over the native
// state with the flowing-text defaults, a clock that forces slice ends, the
// store's sizes of a table, and documents with tables written by
// tools/native_writer.py.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/device/table_store.h"
#include "engine/formats/flow_text.h"
#include "engine/formats/native_table_pass.h"
#include "engine/formats/native_text.h"
#include "tests/formats/native_fixture.h"
#include "tests/support/fake_device.h"

namespace native_table_fixture {

using namespace native_fixture;

// A handler table over the native state with the shared flowing-text
// defaults: section 0 is the whole text, every character has the default
// style.
inline StatusCode WholeText(EngineObject* handler, std::int16_t section, std::uint32_t* start,
                            std::uint32_t* end) noexcept {
  if (section != 0) return kNoMore;
  std::uint32_t length = 0;
  const StatusCode r = NativeDoc_GetTextLength(handler, &length);
  if (r != kOk) return r;
  if (start != nullptr) *start = 0;
  if (end != nullptr) *end = length;
  return kOk;
}
inline StatusCode DefaultStyle(EngineObject*, EngineObject*, std::uint32_t, DeviceFontSpec* font,
                               CharFormat* format, std::uint32_t* runEnd) noexcept {
  DocHandler_InitCharStyle(font, format);
  if (runEnd != nullptr) *runEnd = kRunToEnd;
  return kOk;
}
inline StatusCode NoSection(EngineObject*, std::uint32_t, std::int16_t*, std::uint32_t*,
                            std::uint32_t*) noexcept {
  return kNoMore;
}

inline const DocHandlerOps kTestOps = MakeDocHandlerOps({
    .create = CoreStub<decltype(DocHandlerOps::create)>::NotImplemented,
    .destroy = CoreStub<decltype(DocHandlerOps::destroy)>::NoOp,
    .command = CoreStub<decltype(DocHandlerOps::command)>::NotImplemented,
    .getSectionRange = WholeText,
    .findSection = NoSection,
    .getTextLength = NativeDoc_GetTextLength,
    .getText = NativeDoc_GetText,
    .getTextBefore = NativeDoc_GetTextBefore,
    .getCharStyle = DefaultStyle,
    .control = CoreStub<decltype(DocHandlerOps::control)>::NotSupported,
});

// A clock that jumps past the slice at chosen reads: read number `fireAt`
// (from 1), or every read when `always`.
struct JumpClock {
  int reads = 0;
  int fireAt = 0;
  bool always = false;
  std::uint32_t now = 0;
};
inline std::uint32_t JumpTick(void* user) noexcept {
  auto* c = static_cast<JumpClock*>(user);
  ++c->reads;
  if (c->always || c->reads == c->fireAt) c->now += 200;
  return c->now;
}

// Sizes the store keeps for one table.
struct TableSizes {
  std::uint16_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::int16_t> edges;
  std::vector<std::int16_t> rows;
  std::int16_t extra = 0;
  bool operator==(const TableSizes&) const = default;
};

// The sizes the store keeps for table `id` (empty when it has none).
inline TableSizes StoreSizes(TableStore& store, std::uint16_t id) {
  TableSizes out;
  TableNode* node = nullptr;
  EXPECT_EQ(TableStore_Command(&store, TableStoreCode::OpenRowPass, &id, &node), kOk) << id;
  if (node == nullptr) return out;
  out.width = node->table->width;
  out.height = node->table->height;
  out.extra = static_cast<std::int16_t>(node->table->extraHeight);
  out.edges.assign(node->edges, node->edges + node->table->columns);
  out.rows.assign(node->rowHeights, node->rowHeights + node->table->rows);
  EXPECT_EQ(TableStore_Command(&store, TableStoreCode::CloseRowPass, node, nullptr), kOk);
  return out;
}

// A document opened on a handler, a fake device drawing, and the pass run
// through the test handler table.
class TablePass {
 public:
  // With `nativeTable` the cells are laid out and drawn through the native
  // handler's own table instead of the plain one above.
  explicit TablePass(const std::string& file, std::int16_t width = 300, bool nativeTable = false) {
    EXPECT_FALSE(file.empty());
    EXPECT_EQ(doc_.Open(file), kOk);
    view_ = EngineObject{doc_.handler()->state,
                         nativeTable ? doc_.handler()->ops : static_cast<const void*>(&kTestOps)};
    device_ = FakeDevice_Open(width, 400);
    EXPECT_EQ(OpsOf<DeviceOps>(device_).beginDraw(device_, &ctx_), kOk);
    FakeDevice_Of(device_).services.clock = {JumpTick, &clock_};
  }
  ~TablePass() {
    EXPECT_EQ(OpsOf<DeviceOps>(device_).endDraw(device_, ctx_), kOk);
    FakeDevice_Close(device_);
  }
  TablePass(const TablePass&) = delete;
  TablePass& operator=(const TablePass&) = delete;

  NativeDocState& State() { return doc_.State(); }
  EngineObject* View() { return &view_; }
  DeviceContext Ctx() { return ctx_; }
  EngineObject* Device() { return device_; }
  FakeDevice& Fake() { return FakeDevice_Of(device_); }
  JumpClock& Clock() { return clock_; }
  TableStore& Store() { return *Fake().services.tables; }

  StatusCode Reset() { return TableLayout_Reset(&State(), &view_, 0); }
  StatusCode Step() { return TableLayout_Continue(&view_, device_, ctx_, &State()); }
  // Reset, then slices until the pass is idle (at most `limit`); the number
  // of slices in *slices.
  StatusCode Run(int* slices = nullptr, int limit = 100000) {
    StatusCode r = Reset();
    if (r != kDocTablePassPending) return r;
    int n = 0;
    while (State().tablePass.passState != NativeTablePass::Idle && n < limit) {
      r = Step();
      ++n;
      if (r != kOk) break;
    }
    if (slices != nullptr) *slices = n;
    return r;
  }
  // The store codes sent since the log was last cleared.
  std::vector<int> StoreCodes() {
    std::vector<int> out;
    for (const FakeCall* c : Fake().Calls(36))
      out.push_back(static_cast<int>(c->args[0]));
    return out;
  }
  TableSizes Sizes(std::uint16_t id) { return StoreSizes(Store(), id); }

 private:
  NativeHandler doc_;
  EngineObject view_{};
  EngineObject* device_ = nullptr;
  DeviceContext ctx_ = nullptr;
  JumpClock clock_;
};

inline std::string Write(const std::string& content, const std::string& extra = {}) {
  std::string error;
  const std::string file = native_tool::Write(
      "{\"table_layout\": {\"content\": " + content + "}" + extra + "}", {}, &error);
  EXPECT_FALSE(file.empty()) << error;
  return file;
}

// A cell of text.
inline std::string Cell(const std::string& text, const std::string& more = {}) {
  return "{\"content\": \"" + text + "\"" + (more.empty() ? "" : ", " + more) + "}";
}

// Two columns, two row groups of one row.
inline std::string SmallTable(const std::string& more = {}) {
  return "{\"table\": {\"groups\": [{\"rows\": 1, \"cells\": [" + Cell("alpha beta") + ", " +
         Cell("gamma") + "]}, {\"rows\": 1, \"cells\": [" + Cell("delta") + ", " +
         Cell("epsilon zeta eta") + "]}]" + (more.empty() ? "" : ", " + more) + "}}";
}

// Three columns and two row groups of one row ("a0" "b0" "c0", "a1" "b1"
// "c1") with a border and 3-point rules: the cell boxes leave room between
// them.
inline std::string RuledTable() {
  return "{\"table\": {\"border\": 1, \"rule_mode\": 5, \"rule_width\": 3, \"groups\": "
         "[{\"rows\": 1, \"cells\": [" +
         Cell("a0") + ", " + Cell("b0") + ", " + Cell("c0") + "]}, {\"rows\": 1, \"cells\": [" +
         Cell("a1") + ", " + Cell("b1") + ", " + Cell("c1") + "]}]}}";
}

// A table with a caption, a cell spanning two rows, padding and borders,
// and a nested table with its own caption in one cell; text around it.
inline std::string RichDocument(const std::string& outerMore = {},
                                const std::string& innerMore = {}) {
  const std::string inner =
      "{\"table\": {\"caption\": \"inner cap\", \"caption_place\": 2, \"rule_mode\": 5, "
      "\"rule_width\": 1, \"format\": {\"border\": {\"width\": 2, \"style\": 1}}, "
      "\"groups\": [{\"rows\": 1, \"cells\": [" +
      Cell("x1") + ", " + Cell("x2 wide words") + "]}, {\"rows\": 1, \"cells\": [" + Cell("y1") +
      ", " + Cell("y2") + "]}]" + (innerMore.empty() ? "" : ", " + innerMore) + "}}";
  const std::string nestedCell = "{\"content\": [\"above\\n\", " + inner + ", \"below\"]}";
  return Write(
      "[\"intro text\\n\", {\"table\": {\"caption\": \"Table caption\", \"border\": 1, "
      "\"rule_mode\": 5, \"rule_width\": 2, \"groups\": [{\"rows\": 2, \"cells\": [" +
      Cell("tall cell text", "\"rowspan\": 2") + ", " +
      Cell("padded", "\"col\": 1, \"format\": {\"padding\": [3, 4, 5, 6]}") + ", " +
      Cell("bordered",
           "\"col\": 1, \"row\": 1, \"format\": {\"border\": "
           "{\"width\": 1, \"style\": 1}}") +
      "]}, {\"rows\": 1, \"cells\": [" + Cell("plain") + ", " + nestedCell + "]}]" +
      (outerMore.empty() ? "" : ", " + outerMore) + "}}, \"between\\n\", " + SmallTable() +
      ", \"after\\n\"]");
}

inline std::vector<TableSizes> AllSizes(TablePass& t, std::uint16_t tables) {
  std::vector<TableSizes> out;
  for (std::uint16_t id = 1; id <= tables; ++id)
    out.push_back(t.Sizes(id));
  return out;
}

}  // namespace native_table_fixture
