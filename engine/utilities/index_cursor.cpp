#include "engine/utilities/index_cursor.h"

#include <new>

#include "engine/runtime/allocator.h"
#include "engine/runtime/block_file.h"
#include "engine/runtime/stream.h"
#include "engine/utilities/record_list.h"
#include "engine/utilities/record_store.h"

namespace {

const IndexCursorOps kIndexCursorOps = {
    Core_NotImplemented, IndexCursor_Create,  IndexCursor_Destroy,  IndexCursor_Open,
    IndexCursor_Insert,  IndexCursor_Find,    IndexCursor_GetEntry, IndexCursor_SetData,
    IndexCursor_Delete,  Core_NotImplemented,
};

// The store key that stands for the probe (the caller's bytes). Record-list
// handles stay below 2 GiB, so it never names a stored text.
constexpr std::uint32_t kProbe = 0xFFFFFFFFu;

struct CursorBody {
  bool fold;
  EngineObject* list;
  EngineObject* stream;
  EngineObject* store;
  const void* probe;
  std::uint32_t probeLength;
};

using CursorInstance = EngineInstance<CursorBody>;

CursorBody& Body(EngineObject* cursor) {
  return BodyOf<CursorBody>(cursor);
}

std::uint32_t Handle(const void* key) {
  const auto* p = static_cast<const std::uint8_t*>(key);
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

void PutHandle(std::uint8_t* p, std::uint32_t h) {
  p[0] = static_cast<std::uint8_t>(h);
  p[1] = static_cast<std::uint8_t>(h >> 8);
  p[2] = static_cast<std::uint8_t>(h >> 16);
  p[3] = static_cast<std::uint8_t>(h >> 24);
}

StatusCode Invert(StatusCode s) {
  if (s == kCompareLess) return kCompareGreater;
  if (s == kCompareGreater) return kCompareLess;
  return s;
}

StatusCode CompareKeys(void* user, const void* a, const void* b) noexcept {
  const CursorBody& c = *static_cast<CursorBody*>(user);
  const std::uint32_t ha = Handle(a);
  const std::uint32_t hb = Handle(b);
  if (hb == kProbe) return kFailed;  // a stored key never is the probe
  if (ha == kProbe)
    return Invert(RecordList_CompareBytes(c.list, c.fold, hb, c.probe, c.probeLength));
  return RecordList_Compare(c.list, c.fold, ha, hb);
}

StatusCode NewCursor(bool fold, EngineObject* list, EngineObject** out, CursorInstance** made) {
  void* block = nullptr;
  if (Engine_Alloc(sizeof(CursorInstance), &block) != kOk) return kOutOfMemory;
  auto* inst = new (block) CursorInstance{};
  inst->header = {&inst->body, &kIndexCursorOps};
  inst->body.fold = fold;
  inst->body.list = list;
  *out = &inst->header;
  *made = inst;
  return kOk;
}

StatusCode LiveEntry(CursorBody& c, std::uint32_t entry, std::uint32_t* handle, void* data) {
  std::uint8_t state = 0;
  std::uint8_t key[4];
  const StatusCode s = RecordStore_GetEntry(c.store, entry, &state, nullptr, nullptr, key, data);
  if (s != kOk) return s;
  if (state == kRecordStoreFree) return kNotFound;
  *handle = Handle(key);
  return kOk;
}

}  // namespace

EngineObject IndexCursorModule = {nullptr, &kIndexCursorOps};

StatusCode IndexCursor_Create(EngineObject*, bool fold, EngineObject* container,
                              std::uint32_t dataSize, EngineObject* list, std::uint32_t* streamId,
                              EngineObject** out) noexcept {
  if (out == nullptr || streamId == nullptr) return kNullOutPointer;
  if (container == nullptr || list == nullptr) return kBadArgument;
  EngineObject* object = nullptr;
  CursorInstance* inst = nullptr;
  StatusCode s = NewCursor(fold, list, &object, &inst);
  if (s != kOk) return s;
  CursorBody& c = inst->body;
  std::uint32_t number = 0;
  s = BlockFile_CreateStream(container, &number, &c.stream);
  if (s == kOk) {
    s = RecordStore_CreateStore(&RecordStoreModule, c.stream, 4, dataSize, CompareKeys, &c,
                                &c.store);
    if (s != kOk) {
      (void)StreamOf(c.stream).close(c.stream);  // the store failure is the answer
      (void)BlockFile_DeleteStream(container, number);
    }
  }
  if (s != kOk) {
    Engine_Free(object);
    return s;
  }
  *streamId = number;
  *out = object;
  return kOk;
}

StatusCode IndexCursor_Destroy(EngineObject* cursor) noexcept {
  if (cursor == nullptr) return kBadArgument;
  CursorBody& c = Body(cursor);
  StatusCode s = RecordStore_Close(c.store);
  const StatusCode t = StreamOf(c.stream).close(c.stream);
  if (s == kOk) s = t;
  Engine_Free(cursor);
  return s;
}

StatusCode IndexCursor_Open(EngineObject*, bool fold, EngineObject* container, EngineObject* list,
                            std::uint32_t streamId, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (container == nullptr || list == nullptr) return kBadArgument;
  EngineObject* object = nullptr;
  CursorInstance* inst = nullptr;
  StatusCode s = NewCursor(fold, list, &object, &inst);
  if (s != kOk) return s;
  CursorBody& c = inst->body;
  s = BlockFile_OpenStream(container, streamId, &c.stream);
  if (s == kOk) {
    s = RecordStore_OpenStore(&RecordStoreModule, c.stream, CompareKeys, &c, &c.store);
    if (s == kOk) {
      std::uint8_t header[12];
      // A cursor's store has 4-byte keys (offset 8 of its header).
      s = Stream_ReadExact(c.stream, 8, header, 4);
      if (s == kOk && Handle(header) != 4) s = kRecordStoreCorrupt;
      if (s != kOk) (void)RecordStore_Close(c.store);  // the open failure is the answer
    }
    if (s != kOk) (void)StreamOf(c.stream).close(c.stream);  // as above
  }
  if (s != kOk) {
    Engine_Free(object);
    return s;
  }
  *out = object;
  return kOk;
}

StatusCode IndexCursor_Insert(EngineObject* cursor, const void* key, std::uint32_t keyLength,
                              const void* data, std::uint32_t* entry) noexcept {
  if (cursor == nullptr || (key == nullptr && keyLength != 0)) return kBadArgument;
  CursorBody& c = Body(cursor);
  std::uint32_t handle = 0;
  StatusCode s = RecordList_Append(c.list, key, keyLength, &handle);
  if (s != kOk) return s;
  std::uint8_t stored[4];
  PutHandle(stored, handle);
  s = RecordStore_Insert(c.store, stored, data, entry);
  if (s == kOk) return kOk;
  const StatusCode d = RecordList_DropLast(c.list);
  if (d != kOk) return d;
  return s == kRecordStoreDuplicate ? kIndexCursorDuplicate : s;
}

StatusCode IndexCursor_Find(EngineObject* cursor, const void* key, std::uint32_t keyLengthOrHandle,
                            void* data, std::uint32_t* entry) noexcept {
  if (cursor == nullptr) return kBadArgument;
  CursorBody& c = Body(cursor);
  std::uint8_t probe[4];
  if (key != nullptr) {
    c.probe = key;
    c.probeLength = keyLengthOrHandle;
    PutHandle(probe, kProbe);
  } else {
    if (keyLengthOrHandle == kProbe) return kBadArgument;
    PutHandle(probe, keyLengthOrHandle);
  }
  const StatusCode s = RecordStore_Find(c.store, probe, data, entry);
  c.probe = nullptr;
  return s;
}

StatusCode IndexCursor_GetEntry(EngineObject* cursor, std::uint32_t entry, std::uint32_t* handle,
                                void* data) noexcept {
  if (cursor == nullptr || handle == nullptr) return kBadArgument;
  return LiveEntry(Body(cursor), entry, handle, data);
}

StatusCode IndexCursor_SetData(EngineObject* cursor, std::uint32_t entry,
                               const void* data) noexcept {
  if (cursor == nullptr) return kBadArgument;
  return RecordStore_SetData(Body(cursor).store, nullptr, entry, data);
}

// The store entry goes first: its delete walks the tree comparing texts read
// from the list, so the text must still be there.
StatusCode IndexCursor_Delete(EngineObject* cursor, std::uint32_t entry) noexcept {
  if (cursor == nullptr) return kBadArgument;
  CursorBody& c = Body(cursor);
  std::uint32_t handle = 0;
  StatusCode s = LiveEntry(c, entry, &handle, nullptr);
  if (s != kOk) return s;
  std::uint32_t length = 0;
  s = RecordList_Read(c.list, handle, &length, nullptr, 0);
  if (s != kOk) return s;
  if (handle + 2 + length != RecordList_End(c.list)) return kRecordListNotLast;
  std::uint8_t stored[4];
  PutHandle(stored, handle);
  s = RecordStore_Delete(c.store, stored);
  if (s != kOk) return s;
  return RecordList_RemoveLast(c.list, handle);
}
