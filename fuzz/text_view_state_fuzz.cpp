// The saved reading state from bytes: the input is cut into records (a u16
// big-endian length before each) that make up a settings database; a text
// view restores its position, history and annotation path from it, lays out,
// moves, saves into it again and restores a second time.
#include <cstddef>
#include <cstdint>

#include "engine/formats/text_doc.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"
#include "engine/startup/engine_start.h"
#include "engine/view/text_view_internal.h"
#include "tests/support/fake_device.h"

namespace {

const char kText[] =
    "The first line of the document\nand a second one that is long enough to wrap at least "
    "once in a narrow view\n\nthird\nfourth line\nfifth\n";

bool Setup() {
  Core_SetHostDeviceModule(&FakeDeviceModule);
  (void)Core_RegisterAllModules();
  return true;
}

void Session(EngineObject* db) {
  EngineObject* device = FakeDevice_Open(90, 60);
  EngineObject* handler = nullptr;
  if (device == nullptr || TextDoc_Create(&TextDocModule, &handler) != kOk) {
    FakeDevice_Close(device);
    return;
  }
  (void)TextDoc_Command(handler, DocCommand::AttachText, const_cast<char*>(kText),
                        sizeof kText - 1);
  const auto& ops = OpsOf<TextViewOps>(&TextViewModule);
  EngineObject* view = nullptr;
  if (ops.create(&TextViewModule, &view) == kOk) {
    (void)ops.setDevice(view, device);
    (void)ops.setOptions(view, TextViewOption::CopyOnce);
    (void)ops.attachDocument(view, handler, db);
    (void)ops.setViewport(view, 0, 90, 60);
    (void)ops.paint(view, nullptr, 0, 0, 90, 60);
    (void)ops.navigate(view, TextViewNav::Back, 0);
    (void)ops.navigate(view, TextViewNav::LineDown, 0);
    (void)ops.navigate(view, TextViewNav::Forward, 0);
    (void)TextView_SaveReadingState(TextViewOf(view));
    (void)ops.destroy(view);
  }
  (void)OpsOf<DocHandlerOps>(handler).destroy(handler);
  FakeDevice_Close(device);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = Setup();
  (void)ready;
  if (size > 4096) return 0;
  EngineObject* stream = nullptr;
  if (MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream) != kOk)
    return 0;
  EngineObject* db = nullptr;
  if (DbFile_CreateNew(&DbFileModule, stream, "fuzz", nullptr, nullptr) == kOk &&
      DbFile_Open(&DbFileModule, stream, kDbOpenWrite, &db) == kOk) {
    std::size_t at = 0;
    for (int records = 0; records < 8 && at + 2 <= size; ++records) {
      std::size_t n = static_cast<std::size_t>(data[at] << 8 | data[at + 1]);
      at += 2;
      if (n > size - at) n = size - at;
      std::uint16_t index = 0xFFFF;
      (void)DbFile_InsertRecord(db, &index, static_cast<std::uint32_t>(n), n ? data + at : nullptr);
      at += n;
    }
    Session(db);
    Session(db);  // what was saved restores again
    (void)DbFile_Close(db);
  }
  (void)StreamOf(stream).close(stream);
  return 0;
}
