// Runs the native table layout pass over a native document whose bytes come
// from the input (the seeds are documents with tables written by
// tools/native_writer.py), first in one go and then again with a slice
// boundary after every cell, reads every table's sizes back from the
// store, and lays out, draws, inverts and hit-tests the row lines. The first input byte chooses the
// device width.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/device/pos_map.h"
#include "engine/device/table_store.h"
#include "engine/formats/native_doc.h"
#include "engine/formats/native_table_lines.h"
#include "engine/formats/native_table_pass.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "engine/startup/engine_start.h"
#include "tests/support/fake_device.h"

namespace {

std::uint32_t EveryReadElapsed(void* user) noexcept {
  auto* now = static_cast<std::uint32_t*>(user);
  *now += 200;
  return *now;
}

// The pass through the handler's own slot, as the view runs it.
void RunPass(NativeDocState& s, EngineObject* doc, EngineObject* dev, DeviceContext ctx) {
  (void)OpsOf<DeviceOps>(dev).posMapCommand(dev, PosMapCode::Reset, nullptr, nullptr);
  const DocHandlerOps& ops = DocOpsOf(doc);
  std::uint32_t word = 0;
  if (ops.layoutPassStep(doc, dev, ctx, 0, 0, &word) != kDocTablePassPending) return;
  const std::uint16_t depth = FakeDevice_Of(dev).services.tables->depth;
  StatusCode r = kDocTablePassPending;
  for (int slices = 0; slices < 20000 && r == kDocTablePassPending; ++slices) {
    r = ops.layoutPassStep(doc, dev, ctx, 2, 0, &word);
    if (IsFailure(r)) {
      // A failure leaves the pass idle and the stack as the pass found it.
      if (s.tablePass.passState != NativeTablePass::Idle ||
          FakeDevice_Of(dev).services.tables->depth != depth)
        __builtin_trap();
      return;
    }
  }
  for (std::uint16_t id = 1; id < 16; ++id) {
    TableSizeQuery q{};
    q.id = id;
    (void)TableStore_Command(FakeDevice_Of(dev).services.tables, TableStoreCode::TableSize, nullptr,
                             &q);
  }
}

// Lays out, draws, inverts, hit-tests and tests the visibility of the row
// lines of every outermost table; each call pops what it pushed.
void RowLines(NativeDocState& s, EngineObject* view, EngineObject* dev, DeviceContext ctx) {
  std::uint32_t length = 0;
  if (DocOpsOf(view).getTextLength(view, &length) != kOk) return;
  const std::uint16_t depth = FakeDevice_Of(dev).services.tables->depth;
  int lines = 0;
  int probes = 0;
  for (std::uint32_t p = 0; p < length && lines < 200 && probes < 1000; ++probes) {
    std::uint32_t start = 0, end = 0, next = length;
    std::uint16_t number = 0;
    bool table = false;
    if (Table_NextNested(&s, 0, p, length, &table, &start, &end, &number, &next) != kOk) return;
    if (!table) {
      p = next > p ? next : p + 1;
      continue;
    }
    for (std::uint32_t q = start; q < end && lines < 200; ++lines) {
      std::uint32_t after = 0;
      LineMetrics m{};
      if (TableLine_LayoutRowLine(view, dev, ctx, &s, q, 200, &after, &m) != kOk || after <= q)
        break;
      (void)TableLine_DrawRowLine(view, dev, ctx, &s, 0, 0, &m, q);
      (void)TableLine_InvertRowLine(view, dev, ctx, &s, 1, 0, 0, &m, q, q, after);
      const int step = m.height / 16 > 7 ? m.height / 16 : 7;
      for (int y = 0; y < m.height; y += step) {
        std::uint32_t a = 0, b = 0;
        HitBox box{};
        (void)TableLine_HitTestRowLine(view, dev, ctx, &s, static_cast<std::int16_t>(y * 3 % 400),
                                       static_cast<std::int16_t>(y), &m, q, &box, &a, &b);
      }
      DocLinkVisibility v{dev, ctx, 0, 0, &m, q, after, q, after, 200, 200};
      (void)TableLine_RangeVisible(view, &s, &v);
      if (FakeDevice_Of(dev).services.tables->depth != depth) __builtin_trap();
      q = after;
    }
    p = end > p ? end : p + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = [] {
    Core_SetHostDeviceModule(&FakeDeviceModule);
    return Core_RegisterAllModules() == kOk;
  }();
  if (!registered || size < 2 || size > (1u << 20)) return 0;
  const std::int16_t width = static_cast<std::int16_t>(20 + data[0] * 4);
  ++data;
  --size;
  EngineObject* stream = nullptr;
  if (MemStream_Create(g_MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream) != kOk)
    return 0;
  EngineObject* db = nullptr;
  EngineObject* doc = nullptr;
  if (StreamOf(stream).writeAt(stream, 0, data, static_cast<std::uint32_t>(size), nullptr) == kOk &&
      DbFile_Open(g_DbFileModule, stream, kDbOpenRead, &db) == kOk &&
      NativeDoc_Create(&NativeDocModule, &doc) == kOk &&
      NativeDoc_Command(doc, DocCommand::OpenDatabase, db, 0) == kOk) {
    NativeDocState& s = BodyOf<NativeDocState>(doc);
    EngineObject* dev = FakeDevice_Open(width, 200);
    FakeDevice_Of(dev).logging = false;
    DeviceContext ctx = nullptr;
    if (OpsOf<DeviceOps>(dev).beginDraw(dev, &ctx) == kOk) {
      RunPass(s, doc, dev, ctx);
      s.flags |= NativeStateFlag::TableLayout;
      RowLines(s, doc, dev, ctx);
      std::uint32_t now = 0;
      FakeDevice_Of(dev).services.clock = {EveryReadElapsed, &now};
      RunPass(s, doc, dev, ctx);
      (void)OpsOf<DeviceOps>(dev).endDraw(dev, ctx);
    }
    FakeDevice_Close(dev);
  }
  if (doc != nullptr) (void)NativeDoc_Destroy(doc);
  if (db != nullptr) (void)DbFile_Close(db);
  (void)StreamOf(stream).close(stream);
  return 0;
}
