// Opens a 'RaZo' database from arbitrary bytes and drives every reading path:
// the whole text both ways, styles, links, sections, link walking, target
// resolution, anchors, the position lists, and the first lines laid out,
// drawn and hit-tested on the recording device; then a bookmark insert and
// the destroy that writes record 0 back.
#include <cstddef>
#include <cstdint>

#include "engine/formats/razo_doc.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"
#include "engine/startup/engine_start.h"
#include "tests/support/fake_device.h"

namespace {

volatile std::uint32_t g_sink = 0;

void ReadText(EngineObject* h, std::uint32_t length) {
  const DocHandlerOps& ops = DocOpsOf(h);
  for (std::uint32_t p = 0; p < length;) {
    const std::uint8_t* text = nullptr;
    std::uint32_t n = 4096;
    if (ops.getText(h, p, &text, &n) != kOk || n == 0) break;
    g_sink = text[0] ^ text[n - 1];
    p += n;
  }
  for (std::uint32_t p = length; p > 0;) {
    const std::uint8_t* text = nullptr;
    std::uint32_t n = 3000;
    if (ops.getTextBefore(h, p, &text, &n) != kOk || n == 0) break;
    g_sink = text[0] ^ text[n - 1];
    p -= n;
  }
}

void Sides(EngineObject* h, std::uint32_t length) {
  const DocHandlerOps& ops = DocOpsOf(h);
  const std::uint32_t step = length / 64 + 1;
  for (std::uint32_t p = 0; p <= length; p += step) {
    DeviceFontSpec font{};
    CharFormat format{};
    std::uint32_t a = 0, b = 0, t = 0;
    std::int16_t k = 0;
    // Every answer is allowed here; only memory safety is checked.
    (void)ops.getCharStyle(h, nullptr, p, &font, &format, &a);
    (void)ops.getLinkAt(h, p, &a, &b, &t);
    (void)ops.findSection(h, p, &k, &a, &b);
    if ((t >> 24) == 0xFF) {
      char small[4] = {};
      RaZoTargetQuery q{t, small, nullptr, 0, sizeof small, 0};
      if (ops.control(h, DocControl::FindTarget, 0, &q) == kOk) {
        (void)ops.control(h, DocControl::ResolveTarget, 0, &q);
        if (q.flags & RaZoTargetFlag::NewFirst) Engine_Free(q.firstName);
        if (q.flags & RaZoTargetFlag::NewSecond) Engine_Free(q.secondName);
      }
    }
  }
  std::uint16_t count = 0;
  (void)ops.getSectionInfo(h, nullptr, &count);
  for (std::int16_t k = 0; k < 8 && k <= count; ++k) {
    std::uint32_t a = 0, b = 0;
    (void)ops.getSectionRange(h, k, &a, &b);
  }
  LinkRange r{0, length, 0, 0};
  if (ops.control(h, DocControl::LinkWalkFirst, 0, &r) == kOk) {
    for (int k = 0; k < 16 && ops.control(h, 16, 0, &r) == kOk; ++k) {
    }
    (void)ops.control(h, 15, 0, &r);
    (void)ops.control(h, 17, 0, &r);
    (void)ops.control(h, 14, 0, &r);
  }
  (void)ops.control(h, DocControl::LinkWalkLast, 0, &r);
}

void Lines(EngineObject* h, std::uint32_t length, EngineObject* dev, DeviceContext ctx) {
  const DocHandlerOps& ops = DocOpsOf(h);
  (void)ops.control(h, DocControl::SetFlags, DocFlag::DoubleImages, nullptr);
  std::uint32_t p = 0;
  for (int k = 0; k < 64 && p < length; ++k) {
    LineMetrics m{};
    std::uint32_t next = 0;
    if (ops.layoutLine(h, dev, ctx, p, length, 300, &next, &m) != kOk || next <= p) break;
    (void)ops.drawLine(h, dev, ctx, 0, 0, &m, p, next);
    std::uint32_t a = 0, b = 0;
    (void)ops.hitTest(h, dev, ctx, 10, 2, &m, p, next, nullptr, &a, &b);
    std::int16_t x1 = 0, x2 = 0;
    (void)ops.positionToX(h, dev, ctx, p, p, next, &x1, &x2);
    p = next;
  }
}

void Lists(EngineObject* h) {
  const DocHandlerOps& ops = DocOpsOf(h);
  for (std::uint16_t list = 0; list < 2; ++list) {
    std::uint16_t count = 0;
    (void)ops.bookmarkOp(h, DocBookmark::Count | list, 0, &count);
    const char** names = nullptr;
    if (ops.bookmarkOp(h, DocBookmark::GetNames | list, 0, &names) == kOk) {
      for (std::uint16_t k = 0; k < count; ++k)
        g_sink = static_cast<std::uint8_t>(names[k][0]);
      (void)ops.bookmarkOp(h, DocBookmark::FreeNames | list, 0, names);
    }
  }
  const std::uint32_t value = 5;
  const DocBookmarkInsert insert{"mark", &value};
  (void)ops.bookmarkOp(h, DocBookmark::Insert, 0, const_cast<DocBookmarkInsert*>(&insert));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static EngineObject* dev = nullptr;
  static DeviceContext ctx{};
  if (dev == nullptr) {
    if (IsFailure(Core_RegisterAllModules())) return 0;
    dev = FakeDevice_Open(400, 300);
    if (IsFailure(DeviceOf(dev).beginDraw(dev, &ctx))) return 0;
    // The call log would grow without end; BeginDraw needs it on.
    FakeDevice_Of(dev).logging = false;
  }
  if (size > (1u << 20)) return 0;
  EngineObject* stream = nullptr;
  if (MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream) != kOk)
    return 0;
  EngineObject* db = nullptr;
  if (StreamOf(stream).write(stream, data, static_cast<std::uint32_t>(size), nullptr) == kOk &&
      DbFile_Open(&DbFileModule, stream, kDbOpenWrite, &db) == kOk) {
    const DocHandlerOps& ops = DocOpsOf(&RaZoDocModule);
    (void)ops.command(&RaZoDocModule, DocCommand::ProbeDatabase, db, 0);
    EngineObject* h = nullptr;
    if (ops.create(&RaZoDocModule, &h) == kOk) {
      std::uint32_t length = 0;
      if (ops.command(h, DocCommand::OpenDatabase, db, 0) == kOk &&
          ops.getTextLength(h, &length) == kOk) {
        ReadText(h, length);
        Sides(h, length);
        Lines(h, length, dev, ctx);
        Lists(h);
      }
      (void)ops.destroy(h);  // may write record 0; any answer is fine here
    }
    (void)DbFile_Close(db);
  }
  (void)StreamOf(stream).close(stream);
  return 0;
}
