// Opens a named position list from arbitrary bytes (record 1 of a database),
// reads every entry, then edits it and reads it again.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/formats/pos_list.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"
#include "engine/startup/engine_start.h"

namespace {

void ReadAll(EngineObject* db, PosListHandle* handle) {
  std::uint16_t count = 0;
  (void)PosList_GetCount(db, handle, &count);
  char name[kPosListNameBufferSize];
  volatile std::uint32_t sink = 0;
  for (std::uint16_t k = 0; k < count; ++k) {
    std::uint32_t offset = 0, length = 0, value = 0;
    if (PosList_GetEntry(db, handle, k, &offset, name, sizeof name, &length, &value) == kOk) {
      sink = value + length + static_cast<std::uint8_t>(name[length / 2]);
    }
  }
  const char** names = nullptr;
  if (PosList_GetNames(db, handle, &names) == kOk) {
    for (std::uint16_t k = 0; k < count; ++k)
      sink = sink + static_cast<std::uint32_t>(std::strlen(names[k]));
    (void)PosList_FreeNames(db, handle, names);
  }
  (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = ((void)Core_RegisterAllModules(), true);
  (void)registered;
  if (size > 0x10000) return 0;
  EngineObject* stream = nullptr;
  if (MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream) != kOk) {
    return 0;
  }
  EngineObject* db = nullptr;
  if (DbFile_Open(&DbFileModule, stream, kDbOpenNew, &db) == kOk) {
    std::uint16_t index = 0;
    (void)DbFile_InsertRecord(db, &index, 4, "rec0");
    index = 1;
    (void)DbFile_InsertRecord(db, &index, static_cast<std::uint32_t>(size), data);
    PosListHandle handle{1, nullptr, 0, 0};
    ReadAll(db, &handle);
    std::uint16_t found = 0;
    (void)PosList_Find(db, &handle, "a", &found);
    const std::uint16_t at = size > 0 ? data[0] : 0;
    (void)PosList_Insert(db, &handle, at, "inserted", 7);
    (void)PosList_Rename(db, &handle, 0, "renamed name");
    (void)PosList_Move(db, &handle, 0, at);
    (void)PosList_SetValue(db, &handle, 1, 9);
    (void)PosList_Reorder(db, &handle);
    (void)PosList_Delete(db, &handle, at);
    ReadAll(db, &handle);
    (void)DbFile_Close(db);
  }
  (void)StreamOf(stream).close(stream);
  return 0;
}
