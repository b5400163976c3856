// Opens a Palm Doc database from arbitrary bytes, measures every text record,
// reads the whole text forwards and backwards (both readings must agree),
// then exercises the bookmark operations (reads, a find, an insert, a move, a
// sort and a delete). Results of the operations themselves are not checked:
// any answer is fine for damaged input, as long as nothing goes wrong.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/formats/palm_doc.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"
#include "engine/startup/engine_start.h"

namespace {

void ReadAll(EngineObject* h) {
  const DocHandlerOps& ops = DocOpsOf(h);
  std::uint32_t length = 0;
  if (ops.getTextLength(h, &length) != kOk) std::abort();
  std::string forward;
  for (std::uint32_t p = 0; p < length;) {
    const std::uint8_t* text = nullptr;
    std::uint32_t n = 4096;
    if (ops.getText(h, p, &text, &n) != kOk || n == 0) break;
    forward.append(reinterpret_cast<const char*>(text), n);
    p += n;
  }
  // Every record decodes, damaged or not: both readings cover the text.
  if (forward.size() != length) std::abort();
  // Each piece read backwards is compared where it lies, not gathered in
  // front of the others: that would move the whole text once per piece.
  std::uint32_t p = length;
  while (p > 0) {
    const std::uint8_t* text = nullptr;
    std::uint32_t n = 3000;
    if (ops.getTextBefore(h, p, &text, &n) != kOk || n == 0) break;
    if (n > p || forward.compare(p - n, n, reinterpret_cast<const char*>(text), n) != 0)
      std::abort();
    p -= n;
  }
  if (p != 0) std::abort();
}

void Bookmarks(EngineObject* h) {
  const DocHandlerOps& ops = DocOpsOf(h);
  std::uint16_t count = 0;
  (void)ops.bookmarkOp(h, DocBookmark::Count, 0, &count);
  const char** names = nullptr;
  if (ops.bookmarkOp(h, DocBookmark::GetNames, 0, &names) == kOk) {
    volatile char sink = 0;
    for (std::uint16_t k = 0; k < count; ++k)
      for (const char* p = names[k]; *p != 0; ++p)
        sink = *p;
    (void)sink;
    (void)ops.bookmarkOp(h, DocBookmark::FreeNames, 0, names);
  }
  std::uint32_t value = 0;
  (void)ops.bookmarkOp(h, DocBookmark::GetValue, 0, &value);
  DocBookmarkFind find{"Chap", 0};
  (void)ops.bookmarkOp(h, DocBookmark::Find, 0, &find);
  const DocBookmarkInsert insert{"a name longer than fifteen", &value};
  (void)ops.bookmarkOp(h, DocBookmark::Insert, 1, const_cast<DocBookmarkInsert*>(&insert));
  std::uint16_t to = 0;
  (void)ops.bookmarkOp(h, DocBookmark::Move, 1, &to);
  (void)ops.bookmarkOp(h, DocBookmark::Sort, 0, nullptr);
  (void)ops.bookmarkOp(h, DocBookmark::Delete, 0, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = Core_RegisterAllModules() == kOk;
  if (!registered) std::abort();
  if (size > (1u << 20)) return 0;
  EngineObject* stream = nullptr;
  if (MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream) != kOk) {
    return 0;
  }
  if (StreamOf(stream).write(stream, data, static_cast<std::uint32_t>(size), nullptr) != kOk) {
    std::abort();
  }
  EngineObject* db = nullptr;
  if (DbFile_Open(&DbFileModule, stream, kDbOpenWrite, &db) == kOk) {
    EngineObject* h = nullptr;
    const DocHandlerOps& ops = DocOpsOf(&PalmDocModule);
    (void)ops.command(&PalmDocModule, DocCommand::ProbeDatabase, db, 0);
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
      (void)ops.destroy(h);
    }
    (void)DbFile_Close(db);
  }
  (void)StreamOf(stream).close(stream);
  return 0;
}
