// Reading paths every document handler offers, driven for the handler
// fuzz targets: the whole text both ways, the first lines laid out, drawn,
// hit-tested and measured, and the position lists read and added to. Only
// memory safety is checked: every answer is acceptable input to explore.
#pragma once

#include <cstdint>

#include "engine/formats/doc_handler.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"

namespace doc_walk {

inline volatile std::uint32_t g_sink = 0;

inline void ReadText(EngineObject* h, std::uint32_t length) {
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

inline void Lines(EngineObject* h, std::uint32_t length, EngineObject* dev, DeviceContext ctx) {
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

inline void Lists(EngineObject* h) {
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

// Opens `data` as a record database (at most 1 MiB), probes it with
// `module`, opens a handler of it and hands the handler and its text length
// to `walk`; then destroys the handler (which may write record 0 back) and
// closes everything. Every answer is acceptable input to explore.
template <typename Walk>
void WithHandler(EngineObject* module, const std::uint8_t* data, std::size_t size, Walk walk) {
  if (size > (1u << 20)) return;
  EngineObject* stream = nullptr;
  if (MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream) != kOk) return;
  EngineObject* db = nullptr;
  if (StreamOf(stream).write(stream, data, static_cast<std::uint32_t>(size), nullptr) == kOk &&
      DbFile_Open(&DbFileModule, stream, kDbOpenWrite, &db) == kOk) {
    const DocHandlerOps& ops = DocOpsOf(module);
    (void)ops.command(module, DocCommand::ProbeDatabase, db, 0);
    EngineObject* h = nullptr;
    if (ops.create(module, &h) == kOk) {
      std::uint32_t length = 0;
      if (ops.command(h, DocCommand::OpenDatabase, db, 0) == kOk &&
          ops.getTextLength(h, &length) == kOk) {
        walk(h, length);
      }
      (void)ops.destroy(h);
    }
    (void)DbFile_Close(db);
  }
  (void)StreamOf(stream).close(stream);
}

}  // namespace doc_walk
