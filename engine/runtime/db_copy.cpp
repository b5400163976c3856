#include "engine/runtime/db_copy.h"

#include <cstring>
#include <new>

#include "engine/runtime/allocator.h"
#include "engine/runtime/block_file.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"

namespace {

constexpr std::uint32_t kDbCopyBlockSize = 512;

struct CopyBody {
  std::uint32_t mode;
  EngineObject* container;
  std::uint32_t* records;  // container stream numbers in record order
  std::uint32_t count;
  std::uint32_t capacity;
  EngineObject* stream;
  std::uint32_t gapStream;  // bytes between the entry table and the first record
  std::uint32_t gapStart;   // their offset in the file at open
  DbFileHeader header;
};

using CopyInstance = EngineInstance<CopyBody>;

const DbFileOps kDbCopyOps = {
    Core_NotImplemented,
    Core_QuerySelf,
    DbCopy_Close,
    CoreStub<decltype(DbFileOps::createNew)>::NotSupported,
    DbCopy_Open,
    DbCopy_GetInfo,
    DbCopy_SetInfo,
    DbCopy_ReadRecord,
    DbCopy_FreeRecordBuffer,
    DbCopy_OpenRecord,
    DbCopy_InsertRecord,
    DbCopy_DeleteRecord,
    DbCopy_MoveRecord,
    CoreStub<decltype(DbFileOps::resizeRecord)>::NotSupported,
    Core_NotImplemented,
};

CopyBody& Body(EngineObject* db) {
  return BodyOf<CopyBody>(db);
}

std::uint32_t LoadBE32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

void StoreBE32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

StatusCode Grow(CopyBody& d) {
  if (d.count < d.capacity) return kOk;
  void* p = d.records;
  if (Engine_Realloc((d.capacity + 16) * 4u, &p) != kOk) return kOutOfMemory;
  d.records = static_cast<std::uint32_t*>(p);
  d.capacity += 16;
  return kOk;
}

// A new container stream holding size bytes from source at offset (a null
// source gives data, or zeros when data is null too).
StatusCode NewRecordStream(CopyBody& d, EngineObject* source, std::uint32_t offset,
                           std::uint32_t size, const void* data, std::uint32_t* number) {
  EngineObject* s = nullptr;
  StatusCode r = BlockFile_CreateStream(d.container, number, &s);
  if (r != kOk) return r;
  if (size != 0) {
    if (source != nullptr) {
      r = StreamOf(source).copyTo(source, offset, size, s, 0);
    } else if (data != nullptr) {
      r = Stream_WriteExact(s, 0, data, size);
    } else {
      r = StreamOf(s).setSize(s, size);
    }
  }
  const StatusCode c = StreamOf(s).close(s);
  if (r == kOk) r = c;
  if (r != kOk) (void)BlockFile_DeleteStream(d.container, *number);  // the copy failure wins
  return r;
}

StatusCode StreamSize(CopyBody& d, std::uint32_t number, std::uint32_t* size) {
  EngineObject* s = nullptr;
  StatusCode r = BlockFile_OpenStream(d.container, number, &s);
  if (r != kOk) return r;
  r = StreamOf(s).getSize(s, size);
  const StatusCode c = StreamOf(s).close(s);
  return r != kOk ? r : c;
}

// Copies the records of the database stream into the container.
StatusCode Load(CopyBody& d) {
  std::uint32_t fileSize = 0;
  StatusCode r = StreamOf(d.stream).getSize(d.stream, &fileSize);
  if (r != kOk) return r;
  std::uint8_t raw[kDbHeaderSize];
  r = Stream_ReadExact(d.stream, 0, raw, kDbHeaderSize);
  if (r != kOk) return r;
  d.header = DbFile_ParseHeader(raw);
  const std::uint32_t n = d.header.count;
  const std::uint64_t tableEnd = kDbHeaderSize + std::uint64_t{n} * kDbEntrySize;
  if (tableEnd > fileSize) return kMalformed;
  std::uint32_t* offsets = nullptr;
  if (Engine_AllocArray(n + 1, &offsets) != kOk) return kOutOfMemory;
  EngineBuffer<std::uint32_t> owned(offsets);
  for (std::uint32_t i = 0; i < n; ++i) {
    std::uint8_t entry[kDbEntrySize];
    r = Stream_ReadExact(d.stream, kDbHeaderSize + i * kDbEntrySize, entry, kDbEntrySize);
    if (r != kOk) return r;
    const std::uint32_t at = LoadBE32(entry);
    offsets[i] = at < tableEnd   ? static_cast<std::uint32_t>(tableEnd)
                 : at > fileSize ? fileSize
                                 : at;
  }
  offsets[n] = fileSize;
  // The bytes before the first record: padding, and perhaps info blocks.
  d.gapStart = static_cast<std::uint32_t>(tableEnd);
  const std::uint32_t first = n != 0 ? offsets[0] : fileSize;
  r = NewRecordStream(d, d.stream, d.gapStart, first - d.gapStart, nullptr, &d.gapStream);
  if (r != kOk) return r;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t size = offsets[i + 1] > offsets[i] ? offsets[i + 1] - offsets[i] : 0;
    r = Grow(d);
    if (r != kOk) return r;
    std::uint32_t number = 0;
    r = NewRecordStream(d, d.stream, offsets[i], size, nullptr, &number);
    if (r != kOk) return r;
    d.records[d.count++] = number;
  }
  return kOk;
}

// Moves an info-block offset with the bytes before the first record, or
// clears it when it does not point into them.
std::uint32_t MoveInfoOffset(const CopyBody& d, std::uint32_t offset, std::uint32_t gapSize,
                             std::uint32_t newGapStart) {
  if (offset == 0 || offset < d.gapStart || offset - d.gapStart >= gapSize) return 0;
  return newGapStart + (offset - d.gapStart);
}

// Writes the database in compact form into target.
StatusCode WriteTo(CopyBody& d, EngineObject* target) {
  std::uint32_t gapSize = 0;
  StatusCode r = d.gapStream != 0 ? StreamSize(d, d.gapStream, &gapSize) : kOk;
  if (r != kOk) return r;
  const bool padding = gapSize == 0;  // a new database: two zero bytes
  const std::uint64_t dataStart =
      kDbHeaderSize + std::uint64_t{d.count} * kDbEntrySize + (padding ? 2 : gapSize);
  std::uint32_t* sizes = nullptr;
  if (Engine_AllocArray(d.count + 1, &sizes) != kOk) return kOutOfMemory;
  EngineBuffer<std::uint32_t> owned(sizes);
  std::uint64_t total = dataStart;
  for (std::uint32_t i = 0; i < d.count; ++i) {
    r = StreamSize(d, d.records[i], &sizes[i]);
    if (r != kOk) return r;
    total += sizes[i];
  }
  if (total > 0x7FFFFFFFu) return kOutOfMemory;

  // Grow first, write, cut last: a failure never leaves an emptied stream.
  std::uint32_t oldSize = 0;
  r = StreamOf(target).getSize(target, &oldSize);
  if (r == kOk && total > oldSize)
    r = StreamOf(target).setSize(target, static_cast<std::uint32_t>(total));
  if (r != kOk) return r;

  DbFileHeader h = d.header;
  h.count = static_cast<std::uint16_t>(d.count);
  h.modificationDate = 1;
  const std::uint32_t newGapStart = kDbHeaderSize + d.count * kDbEntrySize;
  h.appInfoId = MoveInfoOffset(d, d.header.appInfoId, gapSize, newGapStart);
  h.sortInfoId = MoveInfoOffset(d, d.header.sortInfoId, gapSize, newGapStart);
  std::uint8_t raw[kDbHeaderSize];
  DbFile_StoreHeader(h, raw);
  r = Stream_WriteExact(target, 0, raw, kDbHeaderSize);
  std::uint32_t at = static_cast<std::uint32_t>(dataStart);
  for (std::uint32_t i = 0; r == kOk && i < d.count; ++i) {
    std::uint8_t entry[kDbEntrySize] = {};
    StoreBE32(entry, at);
    entry[5] = static_cast<std::uint8_t>(i >> 16);
    entry[6] = static_cast<std::uint8_t>(i >> 8);
    entry[7] = static_cast<std::uint8_t>(i);
    r = Stream_WriteExact(target, kDbHeaderSize + i * kDbEntrySize, entry, kDbEntrySize);
    at += sizes[i];
  }
  if (r == kOk && padding) {
    const std::uint8_t zeros[2] = {0, 0};
    r = Stream_WriteExact(target, newGapStart, zeros, 2);
  }
  at = newGapStart;
  for (std::uint32_t i = 0; r == kOk && i <= d.count; ++i) {
    const bool gap = i == 0;
    if (gap && padding) {
      at += 2;
      continue;
    }
    const std::uint32_t number = gap ? d.gapStream : d.records[i - 1];
    const std::uint32_t size = gap ? gapSize : sizes[i - 1];
    if (size != 0) {
      EngineObject* s = nullptr;
      r = BlockFile_OpenStream(d.container, number, &s);
      if (r != kOk) break;
      r = StreamOf(s).copyTo(s, 0, size, target, at);
      const StatusCode c = StreamOf(s).close(s);
      if (r == kOk) r = c;
    }
    at += size;
  }
  if (r == kOk) r = StreamOf(target).setSize(target, static_cast<std::uint32_t>(total));
  return r;
}

// A stream on a named file is committed by writing the new database into a
// temporary file and replacing the file with it in one step, so the path
// names the old or the new database whatever happens; the caller's stream
// then gets the same bytes, and other streams are rewritten in place.
StatusCode WriteBack(CopyBody& d) {
  char16_t* path = nullptr;
  StatusCode r = FileSys_StreamPath(d.stream, &path);
  if (r != kOk) return r;
  if (path == nullptr) return WriteTo(d, d.stream);
  EngineBuffer<char16_t> owned(path);
  EngineObject* copy = nullptr;
  r = FileSys_Open(g_FileSysModule, nullptr, 0, kFileOpenTemporary, &copy);
  if (r != kOk) return r;
  r = WriteTo(d, copy);
  if (r == kOk) r = FileSys_ReplaceFileFromStream(g_FileSysModule, path, copy);
  // A temporary file that cannot be removed now is swept with the others.
  (void)StreamOf(copy).close(copy);
  if (r != kOk) return r;
  // The stream still refers to the replaced file; the file at the path is
  // complete already, so a failure here is no failure of the commit.
  (void)WriteTo(d, d.stream);
  return kOk;
}

StatusCode Free(EngineObject* db) {
  CopyBody& d = Body(db);
  const StatusCode r = d.container != nullptr ? BlockFile_Close(d.container) : kOk;
  if (r == kBlockFileStreamsOpen) return kDbFileBusy;
  Engine_Free(d.records);
  Engine_Free(db);
  return r;
}

}  // namespace

EngineObject DbCopyModule = {nullptr, &kDbCopyOps};

StatusCode DbCopy_Open(EngineObject*, EngineObject* stream, std::uint32_t mode,
                       EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (mode > 3) return kNotSupported;
  if (stream == nullptr) return kBadArgument;
  void* block = nullptr;
  if (Engine_Alloc(sizeof(CopyInstance), &block) != kOk) return kOutOfMemory;
  auto* inst = new (block) CopyInstance{};
  inst->header = {&inst->body, &kDbCopyOps};
  CopyBody& d = inst->body;
  d.mode = mode >= kDbOpenNew ? kDbOpenNew : mode;
  d.stream = stream;
  // The smallest blocks: a group (the container's first growth, written
  // out at once) is then 64 KiB, where the default would write 4 MiB to open
  // the smallest database.
  StatusCode r = BlockFile_OpenPath(&BlockFileModule, nullptr, 0, kFileOpenTemporary,
                                    kDbCopyBlockSize, &d.container);
  if (r == kOk) {
    if (d.mode == kDbOpenNew) {
      std::memcpy(d.header.type, "Temp", 4);
      std::memcpy(d.header.creator, "Temp", 4);
    } else {
      r = Load(d);
    }
  }
  if (r != kOk) {
    (void)Free(&inst->header);  // the open failure is the answer
    return r;
  }
  *out = &inst->header;
  return kOk;
}

StatusCode DbCopy_Close(EngineObject* db) noexcept {
  if (db == nullptr) return kBadArgument;
  CopyBody& d = Body(db);
  StatusCode r = kOk;
  if (d.mode != kDbOpenRead) {
    r = WriteBack(d);
    if (r == kBlockFileStreamBusy) return kDbFileBusy;
  }
  const StatusCode f = Free(db);
  if (f == kDbFileBusy) return f;
  return r != kOk ? r : f;
}

StatusCode DbCopy_GetInfo(EngineObject* db, char* name, std::uint8_t* type, std::uint8_t* creator,
                          std::uint16_t* attributes, std::uint16_t* version,
                          std::uint16_t* count) noexcept {
  if (db == nullptr) return kBadArgument;
  const CopyBody& d = Body(db);
  if (name != nullptr) {
    std::memcpy(name, d.header.name, 32);
    name[31] = 0;
  }
  if (type != nullptr) std::memcpy(type, d.header.type, 4);
  if (creator != nullptr) std::memcpy(creator, d.header.creator, 4);
  if (attributes != nullptr) *attributes = d.header.attributes;
  if (version != nullptr) *version = d.header.version;
  if (count != nullptr) *count = static_cast<std::uint16_t>(d.count);
  return kOk;
}

StatusCode DbCopy_SetInfo(EngineObject* db, const char* name, const std::uint8_t* type,
                          const std::uint8_t* creator, const std::uint16_t* attributes,
                          const std::uint16_t* version) noexcept {
  if (db == nullptr) return kBadArgument;
  CopyBody& d = Body(db);
  if (name != nullptr) {
    std::uint8_t copy[32] = {};
    for (std::uint32_t i = 0; i < 31 && name[i] != 0; ++i)
      copy[i] = static_cast<std::uint8_t>(name[i]);
    std::memcpy(d.header.name, copy, 32);
  }
  if (type != nullptr) std::memcpy(d.header.type, type, 4);
  if (creator != nullptr) std::memcpy(d.header.creator, creator, 4);
  if (attributes != nullptr) d.header.attributes = *attributes;
  if (version != nullptr) d.header.version = *version;
  return kOk;
}

StatusCode DbCopy_ReadRecord(EngineObject* db, std::uint16_t index, std::uint32_t* size,
                             void** buffer) noexcept {
  if (db == nullptr || size == nullptr) return kBadArgument;
  CopyBody& d = Body(db);
  if (index >= d.count) return kDbFileIndexOutOfRange;
  EngineObject* s = nullptr;
  StatusCode r = BlockFile_OpenStream(d.container, d.records[index], &s);
  if (r != kOk) return r;
  std::uint32_t n = 0;
  r = StreamOf(s).getSize(s, &n);
  void* bytes = nullptr;
  if (r == kOk && buffer != nullptr && n != 0) {
    r = Engine_Alloc(n, &bytes);
    if (r == kOk) r = Stream_ReadExact(s, 0, bytes, n);
  }
  const StatusCode c = StreamOf(s).close(s);
  if (r == kOk) r = c;
  if (r != kOk) {
    Engine_Free(bytes);
    return r;
  }
  *size = n;
  if (buffer != nullptr) *buffer = bytes;
  return kOk;
}

StatusCode DbCopy_FreeRecordBuffer(EngineObject*, void* buffer) noexcept {
  Engine_Free(buffer);
  return kOk;
}

StatusCode DbCopy_OpenRecord(EngineObject* db, std::uint16_t index, std::uint32_t* size,
                             EngineObject** stream) noexcept {
  if (db == nullptr || stream == nullptr) return kBadArgument;
  CopyBody& d = Body(db);
  if (index >= d.count) return kDbFileIndexOutOfRange;
  EngineObject* s = nullptr;
  StatusCode r = BlockFile_OpenStream(d.container, d.records[index], &s);
  if (r != kOk) return r;
  if (size != nullptr) {
    r = StreamOf(s).getSize(s, size);
    if (r != kOk) {
      (void)StreamOf(s).close(s);  // unchanged stream; the size failure is the answer
      return r;
    }
  }
  *stream = s;
  return kOk;
}

StatusCode DbCopy_InsertRecord(EngineObject* db, std::uint16_t* index, std::uint32_t size,
                               const void* data) noexcept {
  if (db == nullptr || index == nullptr) return kBadArgument;
  CopyBody& d = Body(db);
  if (d.count >= kDbMaxRecords) return kDbFileFull;
  StatusCode r = Grow(d);
  if (r != kOk) return r;
  std::uint32_t number = 0;
  r = NewRecordStream(d, nullptr, 0, size, data, &number);
  if (r != kOk) return r;
  const std::uint32_t at = *index < d.count ? *index : d.count;
  std::memmove(d.records + at + 1, d.records + at, (d.count - at) * 4u);
  d.records[at] = number;
  ++d.count;
  *index = static_cast<std::uint16_t>(at);
  return kOk;
}

StatusCode DbCopy_DeleteRecord(EngineObject* db, std::uint16_t index) noexcept {
  if (db == nullptr) return kBadArgument;
  CopyBody& d = Body(db);
  if (index >= d.count) return kDbFileIndexOutOfRange;
  const StatusCode r = BlockFile_DeleteStream(d.container, d.records[index]);
  if (r == kBlockFileStreamBusy) return kDbFileRecordOpen;
  if (r != kOk) return r;
  std::memmove(d.records + index, d.records + index + 1, (d.count - index - 1) * 4u);
  --d.count;
  return kOk;
}

StatusCode DbCopy_MoveRecord(EngineObject* db, std::uint16_t from, std::uint16_t to) noexcept {
  if (db == nullptr) return kBadArgument;
  CopyBody& d = Body(db);
  if (from >= d.count) return kDbFileIndexOutOfRange;
  const std::uint32_t target = to < d.count ? to : d.count;
  if (target == from || target == from + 1u) return kOk;
  const std::uint32_t number = d.records[from];
  if (from < target) {
    std::memmove(d.records + from, d.records + from + 1, (target - 1 - from) * 4u);
    d.records[target - 1] = number;
  } else {
    std::memmove(d.records + target + 1, d.records + target, (from - target) * 4u);
    d.records[target] = number;
  }
  return kOk;
}
