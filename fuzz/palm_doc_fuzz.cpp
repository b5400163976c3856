// Opens a Palm Doc database from arbitrary bytes, measures every text record,
// reads the whole text forwards and backwards, then exercises the bookmark
// operations (reads, a find, an insert, a move, a sort and a delete).
#include <cstddef>
#include <cstdint>

#include "engine/formats/palm_doc.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"
#include "engine/startup/engine_start.h"

namespace {

void ReadAll(EngineObject* h) {
  const DocHandlerOps& ops = DocOpsOf(h);
  std::uint32_t length = 0;
  ops.getTextLength(h, &length);
  volatile std::uint8_t sink = 0;
  for (std::uint32_t p = 0; p < length;) {
    const std::uint8_t* text = nullptr;
    std::uint32_t n = 4096;
    if (ops.getText(h, p, &text, &n) != kOk || n == 0) break;
    sink = text[0] ^ text[n - 1];
    p += n;
  }
  for (std::uint32_t p = length; p > 0;) {
    const std::uint8_t* text = nullptr;
    std::uint32_t n = 3000;
    if (ops.getTextBefore(h, p, &text, &n) != kOk || n == 0) break;
    sink = text[0] ^ text[n - 1];
    p -= n;
  }
  (void)sink;
}

void Bookmarks(EngineObject* h) {
  const DocHandlerOps& ops = DocOpsOf(h);
  std::uint16_t count = 0;
  ops.bookmarkOp(h, DocBookmark::Count, 0, &count);
  const char** names = nullptr;
  if (ops.bookmarkOp(h, DocBookmark::GetNames, 0, &names) == kOk) {
    volatile char sink = 0;
    for (std::uint16_t k = 0; k < count; ++k)
      for (const char* p = names[k]; *p != 0; ++p)
        sink = *p;
    (void)sink;
    ops.bookmarkOp(h, DocBookmark::FreeNames, 0, names);
  }
  std::uint32_t value = 0;
  ops.bookmarkOp(h, DocBookmark::GetValue, 0, &value);
  DocBookmarkFind find{"Chap", 0};
  ops.bookmarkOp(h, DocBookmark::Find, 0, &find);
  const DocBookmarkInsert insert{"a name longer than fifteen", &value};
  ops.bookmarkOp(h, DocBookmark::Insert, 1, const_cast<DocBookmarkInsert*>(&insert));
  std::uint16_t to = 0;
  ops.bookmarkOp(h, DocBookmark::Move, 1, &to);
  ops.bookmarkOp(h, DocBookmark::Sort, 0, nullptr);
  ops.bookmarkOp(h, DocBookmark::Delete, 0, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = (Core_RegisterAllModules(), true);
  (void)registered;
  if (size > (1u << 20)) return 0;
  EngineObject* stream = nullptr;
  if (MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream) != kOk) {
    return 0;
  }
  StreamOf(stream).write(stream, data, static_cast<std::uint32_t>(size), nullptr);
  EngineObject* db = nullptr;
  if (DbFile_Open(&DbFileModule, stream, kDbOpenWrite, &db) == kOk) {
    EngineObject* h = nullptr;
    const DocHandlerOps& ops = DocOpsOf(&PalmDocModule);
    ops.command(&PalmDocModule, DocCommand::ProbeDatabase, db, 0);
    if (ops.create(&PalmDocModule, &h) == kOk) {
      if (ops.command(h, DocCommand::OpenDatabase, db, 0) == kOk) {
        ReadAll(h);  // before any step: nothing measured yet
        // One step per text record at most; a failure ends the measuring.
        for (std::uint32_t k = 0; k < 0x10000 && ops.backgroundStep(h) == kOk; ++k) {
        }
        ReadAll(h);
        Bookmarks(h);
        ReadAll(h);
      }
      ops.destroy(h);
    }
    DbFile_Close(db);
  }
  StreamOf(stream).close(stream);
  return 0;
}
