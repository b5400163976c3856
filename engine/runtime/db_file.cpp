#include "engine/runtime/db_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "engine/runtime/allocator.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/path.h"
#include "engine/runtime/swap.h"

namespace {

constexpr std::uint8_t kNoSlot = 255;
constexpr std::uint16_t kStaleIndex = 0xFFFF;
constexpr std::uint16_t kNoneChanged = 0xFFFF;

struct CacheEntry {
  std::uint16_t index;  // kStaleIndex when unused
  std::uint8_t older;
  std::uint8_t newer;   // also the free-list link
  std::uint8_t* block;  // allocation base; the record follows the prefix
};

struct DbFileBody {
  EngineObject* stream;  // not owned
  EngineObject* work;    // working copy (memory stream) once anything changed
  std::uint32_t fileSize;
  DbFileHeader header;
  // The stream's entry offsets (host order), read once at open: the entries
  // that lie inside the file, at most header.count. Read while there is no
  // working copy; the working copy holds its own table.
  std::uint32_t* offsets;
  std::uint32_t offsetCount;
  int fd;  // the stream's file descriptor for positioned reads, or -1
  // Read-ahead window over the file (kReadAhead bytes, allocated on first
  // use): records are read in order, so one positioned read serves many.
  std::uint8_t* ahead;
  std::uint32_t aheadStart;
  std::uint32_t aheadLength;    // 0: empty
  EngineObject* recordStreams;  // head of the open record streams
  std::uint16_t lowestChanged;
  std::uint8_t changeFlags;
  bool sound;  // the entry table is consistent: changes are allowed
  std::uint32_t cachedBytes;
  std::uint8_t oldest, newest, freeHead;
  std::array<CacheEntry, kDbCacheEntries> cache;
  // Cached entries by the low byte of their record number: a lookup walks
  // the list only when some entry can match, so a miss costs one read.
  std::array<std::uint8_t, 256> cachedByLowByte;
  std::uint8_t** lent;  // blocks lent out by ReadRecord
  std::uint32_t lentCount;
  std::uint32_t lentCapacity;
};

struct RecordStreamBody {
  EngineObject* db;
  EngineObject* next;
  std::uint16_t index;
  EngineObject* inner;
  std::uint32_t sizeAtOpen;
  bool dirty;
};

using DbInstance = EngineInstance<DbFileBody>;
using RecordInstance = EngineInstance<RecordStreamBody>;

DbFileBody& Db(EngineObject* db) {
  return BodyOf<DbFileBody>(db);
}
RecordStreamBody& Rec(EngineObject* s) {
  return BodyOf<RecordStreamBody>(s);
}

std::uint32_t EntryPos(std::uint32_t index) {
  return kDbHeaderSize + kDbEntrySize * index;
}

// ---- header ---------------------------------------------------------------

void CopyName(std::uint8_t (&to)[32], const char* name) {
  std::size_t i = 0;
  for (; i < 32 && name[i] != '\0'; ++i)
    to[i] = static_cast<std::uint8_t>(name[i]);
  if (i < 32) to[i] = 0;
  to[31] = 0;
}

// ---- the record cache --------------------------------------------------------

std::uint16_t PrefixIndex(const std::uint8_t* block) {
  std::uint16_t v;
  std::memcpy(&v, block, 2);
  return v;
}
std::uint32_t PrefixSize(const std::uint8_t* block) {
  std::uint32_t v;
  std::memcpy(&v, block + 4, 4);
  return v;
}
void SetPrefix(std::uint8_t* block, std::uint16_t index, std::uint32_t size) {
  const std::uint16_t zero = 0;
  std::memcpy(block, &index, 2);
  std::memcpy(block + 2, &zero, 2);
  std::memcpy(block + 4, &size, 4);
}

void CacheInit(DbFileBody& d) {
  for (std::uint32_t i = 0; i < kDbCacheEntries; ++i) {
    d.cache[i] = {kStaleIndex, kNoSlot,
                  static_cast<std::uint8_t>(i + 1 < kDbCacheEntries ? i + 1 : kNoSlot), nullptr};
  }
  d.oldest = d.newest = kNoSlot;
  d.freeHead = 0;
  d.cachedByLowByte.fill(0);
}

void CacheUnlink(DbFileBody& d, std::uint8_t e) {
  CacheEntry& c = d.cache[e];
  --d.cachedByLowByte[c.index & 0xFF];
  if (c.older != kNoSlot) {
    d.cache[c.older].newer = c.newer;
  } else {
    d.oldest = c.newer;
  }
  if (c.newer != kNoSlot) {
    d.cache[c.newer].older = c.older;
  } else {
    d.newest = c.older;
  }
}

void CachePushFree(DbFileBody& d, std::uint8_t e) {
  d.cache[e] = {kStaleIndex, kNoSlot, d.freeHead, nullptr};
  d.freeHead = e;
}

void FreeBlock(DbFileBody& d, std::uint8_t* block) {
  d.cachedBytes -= PrefixSize(block);
  Engine_Free(block);
}

void CacheEvictOldest(DbFileBody& d) {
  const std::uint8_t e = d.oldest;
  CacheUnlink(d, e);
  FreeBlock(d, d.cache[e].block);
  CachePushFree(d, e);
}

// Adds a block as the newest entry; the free list must not be empty.
void CachePushNewest(DbFileBody& d, std::uint8_t* block) {
  const std::uint8_t e = d.freeHead;
  d.freeHead = d.cache[e].newer;
  d.cache[e] = {PrefixIndex(block), d.newest, kNoSlot, block};
  ++d.cachedByLowByte[d.cache[e].index & 0xFF];
  if (d.newest != kNoSlot) {
    d.cache[d.newest].newer = e;
  } else {
    d.oldest = e;
  }
  d.newest = e;
}

std::uint8_t CacheFind(const DbFileBody& d, std::uint16_t index) {
  if (d.cachedByLowByte[index & 0xFF] == 0) return kNoSlot;
  for (std::uint8_t e = d.newest; e != kNoSlot; e = d.cache[e].older) {
    if (d.cache[e].index == index) return e;
  }
  return kNoSlot;
}

void CacheDrop(DbFileBody& d, std::uint16_t index) {
  for (std::uint8_t e = CacheFind(d, index); e != kNoSlot; e = CacheFind(d, index)) {
    CacheUnlink(d, e);
    FreeBlock(d, d.cache[e].block);
    CachePushFree(d, e);
  }
}

// After any change the record numbers or bytes behind cached buffers may be
// wrong: empty the cache, and mark the buffers lent out so they are freed,
// not cached, when given back.
void CacheInvalidate(DbFileBody& d) {
  while (d.oldest != kNoSlot)
    CacheEvictOldest(d);
  for (std::uint32_t i = 0; i < d.lentCount; ++i) {
    SetPrefix(d.lent[i], kStaleIndex, PrefixSize(d.lent[i]));
  }
}

StatusCode ReserveLentSlot(DbFileBody& d) {
  if (d.lentCount < d.lentCapacity) return kOk;
  const std::uint32_t capacity = d.lentCapacity ? d.lentCapacity * 2 : 8;
  void* p = d.lent;
  const StatusCode status =
      Engine_Realloc(static_cast<std::uint32_t>(capacity * sizeof(std::uint8_t*)), &p);
  if (IsFailure(status)) return status;
  d.lent = static_cast<std::uint8_t**>(p);
  d.lentCapacity = capacity;
  return kOk;
}

// ---- the bytes: the caller's stream, or the working copy ---------------------

EngineObject* Store(const DbFileBody& d) {
  return d.work ? d.work : d.stream;
}

std::uint8_t* WorkBytes(const DbFileBody& d) {
  void* buffer = nullptr;
  // A working copy always has its buffer.
  (void)MemStream_GetBuffer(&MemStreamModule, d.work, &buffer, nullptr, nullptr);
  return static_cast<std::uint8_t*>(buffer);
}

// An entry's offset from the working copy's bytes or the table read at
// open; an entry outside the file reads short, as the stream would.
StatusCode ReadEntryOffset(const DbFileBody& d, std::uint32_t index, std::uint32_t* offset) {
  if (d.work != nullptr) {
    if (std::uint64_t{EntryPos(index)} + 4 > d.fileSize) return kStreamShortRead;
    *offset = LoadBE32(WorkBytes(d) + EntryPos(index));
    return kOk;
  }
  if (index >= d.offsetCount) return kStreamShortRead;
  *offset = d.offsets[index];
  return kOk;
}

constexpr std::uint32_t kReadAhead = 65536;

// Positioned reads of the file until n bytes are in or the file ends;
// *got says how many came.
StatusCode ReadFile(int fd, std::uint32_t offset, std::uint8_t* to, std::uint32_t n,
                    std::uint32_t* got) {
  std::uint32_t done = 0;
  while (done < n) {
    const ssize_t r = pread(fd, to + done, n - done, static_cast<off_t>(offset) + done);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return kFailed;
    if (r == 0) break;
    done += static_cast<std::uint32_t>(r);
  }
  *got = done;
  return kOk;
}

// n bytes at offset of the database. With a working copy, or a stream that
// is not a file, through the stream; from a file through the read-ahead
// window, refilled with one positioned read (a record larger than the window
// is read on its own).
StatusCode ReadBytes(DbFileBody& d, std::uint32_t offset, void* buffer, std::uint32_t n) {
  if (d.work != nullptr || d.fd < 0) return Stream_ReadExact(Store(d), offset, buffer, n);
  auto* to = static_cast<std::uint8_t*>(buffer);
  std::uint32_t got = 0;
  if (n > kReadAhead) {
    const StatusCode status = ReadFile(d.fd, offset, to, n, &got);
    if (IsFailure(status)) return status;
    return got == n ? kOk : kStreamShortRead;
  }
  const bool inside = d.aheadLength > 0 && offset >= d.aheadStart &&
                      std::uint64_t{offset} + n <= std::uint64_t{d.aheadStart} + d.aheadLength;
  if (!inside) {
    if (d.ahead == nullptr) {
      const StatusCode status = Engine_AllocArray(kReadAhead, &d.ahead);
      if (IsFailure(status)) return status;
    }
    d.aheadLength = 0;
    // The window ends at the end of the file as the database saw it at open.
    const std::uint32_t left = d.fileSize > offset ? d.fileSize - offset : 0;
    const StatusCode status =
        ReadFile(d.fd, offset, d.ahead, std::max(n, std::min(left, kReadAhead)), &got);
    if (IsFailure(status)) return status;
    d.aheadStart = offset;
    d.aheadLength = got;
    if (got < n) return kStreamShortRead;
  }
  std::memcpy(to, d.ahead + (offset - d.aheadStart), n);
  return kOk;
}

StatusCode Extent(const DbFileBody& d, std::uint16_t index, std::uint32_t* offset,
                  std::uint32_t* size) {
  if (index >= d.header.count) return kDbFileIndexOutOfRange;
  std::uint32_t at = 0;
  StatusCode status = ReadEntryOffset(d, index, &at);
  if (IsFailure(status)) return status;
  std::uint32_t end = d.fileSize;
  if (index + 1u < d.header.count) {
    std::uint32_t next = 0;
    status = ReadEntryOffset(d, index + 1u, &next);
    if (IsFailure(status)) return status;
    end = std::min(next, d.fileSize);
  }
  *offset = at;
  *size = end > at ? end - at : 0;
  return kOk;
}

// The first change copies the whole file into memory; from then on the
// caller's stream is only read again if nothing was committed.
StatusCode EnsureWork(DbFileBody& d) {
  if (d.work != nullptr) return kOk;
  if (d.fileSize > kMemStreamLimit) return kOutOfMemory;
  EngineObject* work = nullptr;
  StatusCode status =
      MemStream_Create(&MemStreamModule, nullptr, 0, d.fileSize, kMemCreateWritable, &work);
  if (IsFailure(status)) return status;
  status = Stream_CopyTo(d.stream, 0, d.fileSize, work, 0);
  std::uint32_t copied = 0;
  if (!IsFailure(status)) status = MemStream_GetSize(work, &copied);
  if (!IsFailure(status) && copied != d.fileSize) status = kStreamShortRead;
  if (IsFailure(status)) {
    (void)MemStream_Close(work);  // an unfinished copy: its failure adds nothing
    return status;
  }
  d.work = work;
  return kOk;
}

// Grows or shrinks the working copy. Growing is the only step of a change
// that can fail, and it runs before any byte moves.
StatusCode SetWorkSize(DbFileBody& d, std::uint64_t size) {
  if (size > kMemStreamLimit) return kOutOfMemory;
  return MemStream_SetSize(d.work, static_cast<std::uint32_t>(size));
}

void AddToOffsets(std::uint8_t* bytes, std::uint32_t first, std::uint32_t last,
                  std::uint32_t delta) {
  for (std::uint32_t i = first; i < last; ++i) {
    std::uint8_t* p = bytes + EntryPos(i);
    StoreBE32(p, LoadBE32(p) + delta);
  }
}

// The app-info and sort-info blocks normally lie between the entry table and
// the first record. They move with the bytes around them when the table or the
// data change size, so their offsets in the header must follow: a block from
// dataPos on moves by dataDelta, one between the table and dataPos by
// tableDelta. An offset of 0 means no block.
void ShiftBlockOffsets(DbFileHeader& h, std::uint32_t tableEnd, std::uint32_t dataPos,
                       std::uint32_t tableDelta, std::uint32_t dataDelta) {
  for (std::uint32_t* offset : {&h.appInfoId, &h.sortInfoId}) {
    if (*offset == 0 || *offset < tableEnd) continue;
    *offset += *offset >= dataPos ? dataDelta : tableDelta;
  }
}

// Reads the entry offsets that lie inside the file (at most count) into a
// new array (null when there are none) and tells whether the table is
// consistent: every entry inside the file and every offset between the end of
// the table and the end of the file, in entry order.
StatusCode LoadTable(EngineObject* stream, std::uint32_t fileSize, std::uint16_t count,
                     std::uint32_t** offsets, std::uint32_t* loaded, bool* sound) {
  *offsets = nullptr;
  *loaded = 0;
  *sound = false;
  const std::uint32_t tableEnd = EntryPos(count);
  const std::uint32_t present =
      fileSize < kDbHeaderSize
          ? 0
          : std::min<std::uint32_t>(count, (fileSize - kDbHeaderSize) / kDbEntrySize);
  if (present == 0) {
    *sound = fileSize >= tableEnd;
    return kOk;
  }
  std::uint8_t* table = nullptr;
  StatusCode status = Engine_AllocArray(kDbEntrySize * present, &table);
  if (IsFailure(status)) return status;
  EngineBuffer<std::uint8_t> guard(table);
  std::uint32_t* parsed = nullptr;
  status = Engine_AllocArray(present, &parsed);
  if (IsFailure(status)) return status;
  EngineBuffer<std::uint32_t> parsedGuard(parsed);
  status = Stream_ReadExact(stream, kDbHeaderSize, table, kDbEntrySize * present);
  if (IsFailure(status)) return status;
  bool ordered = true;
  std::uint32_t previous = tableEnd;
  for (std::uint32_t i = 0; i < present; ++i) {
    const std::uint32_t offset = LoadBE32(table + kDbEntrySize * i);
    parsed[i] = offset;
    if (offset < previous || offset > fileSize) ordered = false;
    previous = offset;
  }
  *sound = ordered && present == count;
  *offsets = parsedGuard.release();
  *loaded = present;
  return kOk;
}

struct LoadedState {
  DbFileHeader header;
  std::uint32_t fileSize;
  bool sound;
  std::uint32_t* offsets;  // owned by the caller on success
  std::uint32_t offsetCount;
  int fd;
};

// The stream's descriptor when it is a file stream, else -1.
int StreamFd(EngineObject* stream) {
  int fd = -1;
  std::uint32_t length = 0;
  const StatusCode status =
      StreamOf(stream).getProperty(stream, kStreamPropertyHandle, sizeof fd, &length, &fd);
  return !IsFailure(status) && length == sizeof fd ? fd : -1;
}

StatusCode LoadState(EngineObject* stream, LoadedState* out) {
  LoadedState st{};
  StatusCode status = StreamOf(stream).getSize(stream, &st.fileSize);
  if (IsFailure(status)) return status;
  std::uint8_t raw[kDbHeaderSize];
  status = Stream_ReadExact(stream, 0, raw, kDbHeaderSize);
  if (IsFailure(status)) return status;
  st.header = DbFile_ParseHeader(raw);
  status = LoadTable(stream, st.fileSize, st.header.count, &st.offsets, &st.offsetCount, &st.sound);
  if (IsFailure(status)) return status;
  st.fd = StreamFd(stream);
  *out = st;
  return kOk;
}

// Takes over a loaded state's header and table.
void AdoptState(DbFileBody& d, const LoadedState& st) {
  Engine_Free(d.offsets);
  d.header = st.header;
  d.fileSize = st.fileSize;
  d.sound = st.sound;
  d.offsets = st.offsets;
  d.offsetCount = st.offsetCount;
  d.fd = st.fd;
  d.aheadLength = 0;
}

// ---- committing -----------------------------------------------------------

// Rewrites a stream in place: grown first (a refused growth changes nothing),
// then written, then truncated.
StatusCode RewriteInPlace(EngineObject* s, const std::uint8_t* bytes, std::uint32_t size) {
  const StreamOps& ops = StreamOf(s);
  std::uint32_t old = 0;
  StatusCode status = ops.getSize(s, &old);
  if (IsFailure(status)) return status;
  if (size > old) {
    status = ops.setSize(s, size);
    if (IsFailure(status)) return status;
  }
  status = Stream_WriteExact(s, 0, bytes, size);
  if (IsFailure(status)) return status;
  if (size < old) status = ops.setSize(s, size);
  return status;
}

// Fails when the stream refuses writes, without changing a byte.
StatusCode ProbeWritable(EngineObject* s) {
  const StreamOps& ops = StreamOf(s);
  std::uint32_t size = 0;
  StatusCode status = ops.getSize(s, &size);
  if (IsFailure(status)) return status;
  if (size == 0) return ops.setSize(s, 0);
  std::uint8_t first = 0;
  status = Stream_ReadExact(s, 0, &first, 1);
  if (IsFailure(status)) return status;
  return Stream_WriteExact(s, 0, &first, 1);
}

// A stream on a named file is committed by replacing the file in one step
// (FileSys_ReplaceFile), so the path names the old or the new database
// whatever happens; other streams are rewritten in place.
StatusCode CommitImage(EngineObject* stream, const std::uint8_t* bytes, std::uint32_t size) {
  StatusCode status = ProbeWritable(stream);
  if (IsFailure(status)) return status;
  char16_t* path = nullptr;
  status = FileSys_StreamPath(stream, &path);
  if (IsFailure(status)) return status;
  if (path == nullptr) return RewriteInPlace(stream, bytes, size);
  EngineBuffer<char16_t> guard(path);
  status = FileSys_ReplaceFile(&FileSysModule, path, bytes, size);
  if (IsFailure(status)) return status;
  // The stream still refers to the replaced file; give it the same bytes so
  // it reads the new database too. The file at the path is complete already,
  // so a failure here is no failure of the commit.
  (void)RewriteInPlace(stream, bytes, size);
  return kOk;
}

// Writes header and ids into the working copy and commits it. Leaves the
// database unchanged on failure.
StatusCode Flush(DbFileBody& d) {
  if (d.changeFlags == 0) return kOk;
  StatusCode status = EnsureWork(d);
  if (IsFailure(status)) return status;
  if (d.fileSize < kDbHeaderSize) {
    status = SetWorkSize(d, kDbHeaderSize);
    if (IsFailure(status)) return status;
    d.fileSize = kDbHeaderSize;
  }
  d.header.modificationDate = 1;
  std::uint8_t* bytes = WorkBytes(d);
  DbFile_StoreHeader(d.header, bytes);
  for (std::uint32_t i = d.lowestChanged; i < d.header.count; ++i) {
    if (EntryPos(i + 1) > d.fileSize) break;
    std::uint8_t* id = bytes + EntryPos(i) + 5;
    id[0] = 0;
    id[1] = static_cast<std::uint8_t>(i >> 8);
    id[2] = static_cast<std::uint8_t>(i);
  }
  status = CommitImage(d.stream, bytes, d.fileSize);
  if (IsFailure(status)) return status;
  d.changeFlags = 0;
  d.lowestChanged = kNoneChanged;
  return kOk;
}

// ---- changes ---------------------------------------------------------------

StatusCode BeginChange(DbFileBody& d) {
  if (!d.sound) return kMalformed;
  return EnsureWork(d);
}

void MarkChanged(DbFileBody& d, std::uint8_t flags, std::uint32_t index) {
  d.changeFlags |= flags;
  d.lowestChanged = static_cast<std::uint16_t>(std::min<std::uint32_t>(d.lowestChanged, index));
}

template <class F>
void ForEachRecordStream(DbFileBody& d, F f) {
  for (EngineObject* s = d.recordStreams; s != nullptr; s = Rec(s).next)
    f(Rec(s));
}

StatusCode Resize(DbFileBody& d, std::uint16_t index, std::uint32_t newSize, bool setFlag) {
  std::uint32_t offset = 0, size = 0;
  StatusCode status = Extent(d, index, &offset, &size);
  if (IsFailure(status) || newSize == size) return status;
  status = BeginChange(d);
  if (IsFailure(status)) return status;
  const std::uint32_t tail = offset + size;
  const std::uint32_t tailLength = d.fileSize - tail;
  const std::uint64_t newFileSize = std::uint64_t{d.fileSize} - size + newSize;
  if (newSize > size) {
    status = SetWorkSize(d, newFileSize);
    if (IsFailure(status)) return status;
  }
  std::uint8_t* bytes = WorkBytes(d);
  std::memmove(bytes + offset + newSize, bytes + tail, tailLength);
  if (newSize > size) std::memset(bytes + tail, 0, newSize - size);
  if (newSize < size) (void)SetWorkSize(d, newFileSize);  // shrinking cannot fail
  AddToOffsets(bytes, index + 1u, d.header.count, newSize - size);
  d.fileSize = static_cast<std::uint32_t>(newFileSize);
  if (setFlag) d.changeFlags |= kDbChangedTable;
  CacheInvalidate(d);
  return kOk;
}

// ---- record streams --------------------------------------------------------

StatusCode RecordSeek(EngineObject* s, std::int32_t offset, std::uint32_t origin,
                      std::uint32_t* position) noexcept {
  return MemStream_Seek(Rec(s).inner, offset, origin, position);
}
StatusCode RecordRead(EngineObject* s, void* buffer, std::uint32_t n,
                      std::uint32_t* count) noexcept {
  return MemStream_Read(Rec(s).inner, buffer, n, count);
}
StatusCode RecordWrite(EngineObject* s, const void* buffer, std::uint32_t n,
                       std::uint32_t* count) noexcept {
  RecordStreamBody& r = Rec(s);
  Db(r.db).changeFlags |= kDbChangedData;
  r.dirty = true;
  return MemStream_Write(r.inner, buffer, n, count);
}
StatusCode RecordGetSize(EngineObject* s, std::uint32_t* size) noexcept {
  return MemStream_GetSize(Rec(s).inner, size);
}
StatusCode RecordSetSize(EngineObject* s, std::uint32_t size) noexcept {
  RecordStreamBody& r = Rec(s);
  Db(r.db).changeFlags |= kDbChangedData;
  r.dirty = true;
  return MemStream_SetSize(r.inner, size);
}
StatusCode RecordReserve(EngineObject* s, std::uint32_t capacity) noexcept {
  return MemStream_Reserve(Rec(s).inner, capacity);
}
StatusCode RecordGrowthHint(EngineObject* s, std::uint32_t hint) noexcept {
  EngineObject* inner = Rec(s).inner;
  return StreamOf(inner).setGrowthHint(inner, hint);
}

constexpr StreamOps kRecordStreamOps = MakeStreamOps({
    .close = DbFile_RecordClose,
    .seek = RecordSeek,
    .read = RecordRead,
    .write = RecordWrite,
    .getSize = RecordGetSize,
    .setSize = RecordSetSize,
    .reserve = RecordReserve,
    .setGrowthHint = RecordGrowthHint,
});

constexpr DbFileOps kDbFileOps = {
    Core_NotImplemented, Core_QuerySelf,      DbFile_Close,
    DbFile_CreateNew,    DbFile_Open,         DbFile_GetInfo,
    DbFile_SetInfo,      DbFile_ReadRecord,   DbFile_FreeRecordBuffer,
    DbFile_OpenRecord,   DbFile_InsertRecord, DbFile_DeleteRecord,
    DbFile_MoveRecord,   DbFile_ResizeRecord, Core_NotImplemented,
};

bool IsDb(const EngineObject* object) {
  return object != nullptr && object->ops == &kDbFileOps && object->state != nullptr;
}

void InitBody(DbFileBody& d, EngineObject* stream) {
  d.stream = stream;
  d.work = nullptr;
  d.fileSize = 0;
  d.header = {};
  d.offsets = nullptr;
  d.offsetCount = 0;
  d.fd = -1;
  d.ahead = nullptr;
  d.aheadStart = 0;
  d.aheadLength = 0;
  d.recordStreams = nullptr;
  d.lowestChanged = kNoneChanged;
  d.changeFlags = 0;
  d.sound = false;
  d.cachedBytes = 0;
  CacheInit(d);
  d.lent = nullptr;
  d.lentCount = 0;
  d.lentCapacity = 0;
}

// A fresh 80-byte database typed "Temp"/"Temp" as the working copy.
StatusCode StartEmpty(DbFileBody& d) {
  EngineObject* work = nullptr;
  StatusCode status = MemStream_Create(&MemStreamModule, nullptr, kDbEmptySize, kDbEmptySize,
                                       kMemCreateWritable, &work);
  if (IsFailure(status)) return status;
  d.header = {};
  std::memcpy(d.header.type, "Temp", 4);
  std::memcpy(d.header.creator, "Temp", 4);
  d.work = work;
  DbFile_StoreHeader(d.header, WorkBytes(d));
  d.fileSize = kDbEmptySize;
  d.sound = true;
  d.changeFlags = kDbChangedTable;  // Close writes the new database out
  return kOk;
}

}  // namespace

EngineObject DbFileModule = {nullptr, &kDbFileOps};

// ---- header -----------------------------------------------------------------

DbFileHeader DbFile_ParseHeader(const std::uint8_t* p) noexcept {
  DbFileHeader h{};
  std::memcpy(h.name, p, 32);
  h.attributes = LoadBE16(p + 32);
  h.version = LoadBE16(p + 34);
  h.creationDate = LoadBE32(p + 36);
  h.modificationDate = LoadBE32(p + 40);
  h.backupDate = LoadBE32(p + 44);
  h.modificationNumber = LoadBE32(p + 48);
  h.appInfoId = LoadBE32(p + 52);
  h.sortInfoId = LoadBE32(p + 56);
  std::memcpy(h.type, p + 60, 4);
  std::memcpy(h.creator, p + 64, 4);
  h.uniqueIdSeed = LoadBE32(p + 68);
  h.nextRecordList = LoadBE32(p + 72);
  h.count = LoadBE16(p + 76);
  return h;
}

void DbFile_StoreHeader(const DbFileHeader& h, std::uint8_t* p) noexcept {
  std::memcpy(p, h.name, 32);
  StoreBE16(p + 32, h.attributes);
  StoreBE16(p + 34, h.version);
  StoreBE32(p + 36, h.creationDate);
  StoreBE32(p + 40, h.modificationDate);
  StoreBE32(p + 44, h.backupDate);
  StoreBE32(p + 48, h.modificationNumber);
  StoreBE32(p + 52, h.appInfoId);
  StoreBE32(p + 56, h.sortInfoId);
  std::memcpy(p + 60, h.type, 4);
  std::memcpy(p + 64, h.creator, 4);
  StoreBE32(p + 68, h.uniqueIdSeed);
  StoreBE32(p + 72, h.nextRecordList);
  StoreBE16(p + 76, h.count);
}

void* DbFile_SwapHeader(void* header) noexcept {
  auto* p = static_cast<std::uint8_t*>(header);
  for (const int at : {32, 34, 76})
    Swap_Field16(p + at);
  for (const int at : {36, 40, 44, 48, 52, 56, 68, 72})
    Swap_Field32(p + at);
  return header;
}

// ---- lifecycle ----------------------------------------------------------------

StatusCode DbFile_CreateNew(EngineObject*, EngineObject* stream, const char* name,
                            const std::uint8_t* type, const std::uint8_t* creator) noexcept {
  if (stream == nullptr) return kBadArgument;
  DbFileHeader h{};
  if (name != nullptr) CopyName(h.name, name);
  h.creationDate = 1;
  h.modificationDate = 1;
  if (type != nullptr) std::memcpy(h.type, type, 4);
  if (creator != nullptr) std::memcpy(h.creator, creator, 4);
  std::array<std::uint8_t, kDbEmptySize> bytes{};
  DbFile_StoreHeader(h, bytes.data());
  const StatusCode status = Stream_WriteExact(stream, 0, bytes.data(), kDbEmptySize);
  if (IsFailure(status)) return status;
  return StreamOf(stream).setSize(stream, kDbEmptySize);
}

StatusCode DbFile_Open(EngineObject* moduleOrDb, EngineObject* stream, std::uint32_t mode,
                       EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (mode > kDbOpenNewAlt) return kNotSupported;
  if (IsDb(moduleOrDb)) {
    if (mode != kDbOpenWrite) return kDbFileNotModule;
    DbFileBody& d = Db(moduleOrDb);
    if (d.recordStreams != nullptr || d.lentCount > 0) return kDbFileBusy;
    if (stream == nullptr) return kBadArgument;
    StatusCode status = Flush(d);
    if (IsFailure(status)) return status;
    LoadedState st;
    status = LoadState(stream, &st);
    if (IsFailure(status)) return status;
    // A memory copy closes without writing anywhere.
    if (d.work != nullptr) (void)MemStream_Close(d.work);
    d.work = nullptr;
    CacheInvalidate(d);
    d.stream = stream;
    AdoptState(d, st);
    d.changeFlags = 0;
    d.lowestChanged = kNoneChanged;
    *out = moduleOrDb;
    return kOk;
  }
  if (stream == nullptr) return kBadArgument;
  DbInstance* instance = nullptr;
  StatusCode status = Engine_AllocArray<DbInstance>(1, &instance);
  if (IsFailure(status)) return status;
  DbFileBody& d = instance->body;
  InitBody(d, stream);
  if (mode <= kDbOpenWrite) {
    LoadedState st;
    status = LoadState(stream, &st);
    if (!IsFailure(status)) AdoptState(d, st);
  } else {
    status = StartEmpty(d);
  }
  if (IsFailure(status)) {
    Engine_Free(instance);
    return status;
  }
  instance->header = {&instance->body, &kDbFileOps};
  *out = &instance->header;
  return kOk;
}

StatusCode DbFile_Close(EngineObject* db) noexcept {
  if (!IsDb(db)) return kBadArgument;
  DbFileBody& d = Db(db);
  if (d.recordStreams != nullptr || d.lentCount > 0) return kDbFileBusy;
  const StatusCode status = Flush(d);
  while (d.oldest != kNoSlot)
    CacheEvictOldest(d);
  // A memory copy closes without writing anywhere.
  if (d.work != nullptr) (void)MemStream_Close(d.work);
  Engine_Free(d.lent);
  Engine_Free(d.offsets);
  Engine_Free(d.ahead);
  Engine_Free(db);
  return status;
}

// ---- information ----------------------------------------------------------------

StatusCode DbFile_GetInfo(EngineObject* db, char* name, std::uint8_t* type, std::uint8_t* creator,
                          std::uint16_t* attributes, std::uint16_t* version,
                          std::uint16_t* count) noexcept {
  if (!IsDb(db)) return kBadArgument;
  const DbFileHeader& h = Db(db).header;
  if (name != nullptr) {
    std::memcpy(name, h.name, 32);
    name[31] = '\0';
  }
  if (type != nullptr) std::memcpy(type, h.type, 4);
  if (creator != nullptr) std::memcpy(creator, h.creator, 4);
  if (attributes != nullptr) *attributes = h.attributes;
  if (version != nullptr) *version = h.version;
  if (count != nullptr) *count = h.count;
  return kOk;
}

StatusCode DbFile_SetInfo(EngineObject* db, const char* name, const std::uint8_t* type,
                          const std::uint8_t* creator, const std::uint16_t* attributes,
                          const std::uint16_t* version) noexcept {
  if (!IsDb(db)) return kBadArgument;
  DbFileBody& d = Db(db);
  DbFileHeader& h = d.header;
  if (name != nullptr) CopyName(h.name, name);
  if (type != nullptr) std::memcpy(h.type, type, 4);
  if (creator != nullptr) std::memcpy(h.creator, creator, 4);
  if (attributes != nullptr) h.attributes = *attributes;
  if (version != nullptr) h.version = *version;
  if (name || type || creator || attributes || version) d.changeFlags |= kDbChangedTable;
  return kOk;
}

// ---- reading ----------------------------------------------------------------------

StatusCode DbFile_GetRecordExtent(EngineObject* db, std::uint16_t index, std::uint32_t* offset,
                                  std::uint32_t* size) noexcept {
  if (!IsDb(db)) return kBadArgument;
  std::uint32_t o = 0, s = 0;
  const StatusCode status = Extent(Db(db), index, &o, &s);
  if (IsFailure(status)) return status;
  if (offset != nullptr) *offset = o;
  if (size != nullptr) *size = s;
  return kOk;
}

namespace {

// Reads a record into a new cache block counted against the budget.
StatusCode LoadRecord(DbFileBody& d, std::uint16_t index, std::uint32_t offset, std::uint32_t size,
                      std::uint8_t** out) {
  if (d.cachedBytes > kDbCacheBudget) return kOutOfMemory;
  if (std::uint64_t{size} + kDbRecordPrefix > 0xFFFFFFEFu) return kOutOfMemory;
  void* p = nullptr;
  if (IsFailure(Engine_Alloc(size + kDbRecordPrefix, &p))) return kOutOfMemory;
  auto* block = static_cast<std::uint8_t*>(p);
  SetPrefix(block, index, size);
  d.cachedBytes += size;
  const StatusCode status = ReadBytes(d, offset, block + kDbRecordPrefix, size);
  if (IsFailure(status)) {
    FreeBlock(d, block);
    return status;
  }
  *out = block;
  return kOk;
}

}  // namespace

StatusCode DbFile_ReadRecord(EngineObject* db, std::uint16_t index, std::uint32_t* size,
                             void** buffer) noexcept {
  if (!IsDb(db)) return kBadArgument;
  if (size == nullptr) return kNullOutPointer;
  DbFileBody& d = Db(db);
  if (index >= d.header.count) return kDbFileIndexOutOfRange;
  if (buffer != nullptr) {
    const StatusCode status = ReserveLentSlot(d);
    if (IsFailure(status)) return status;
  }
  const std::uint8_t hit = CacheFind(d, index);
  if (hit != kNoSlot) {
    std::uint8_t* block = d.cache[hit].block;
    if (buffer != nullptr) {
      CacheUnlink(d, hit);
      CachePushFree(d, hit);
      d.lent[d.lentCount++] = block;
      *buffer = block + kDbRecordPrefix;
    }
    *size = PrefixSize(block);
    return kOk;
  }
  std::uint32_t offset = 0, length = 0;
  StatusCode status = Extent(d, index, &offset, &length);
  if (IsFailure(status)) return status;
  if (buffer == nullptr) {
    *size = length;
    return kOk;
  }
  if (length == 0) {
    *buffer = nullptr;
    *size = 0;
    return kOk;
  }
  std::uint8_t* block = nullptr;
  for (;;) {
    status = LoadRecord(d, index, offset, length, &block);
    if (status != kOutOfMemory) break;
    if (d.oldest == kNoSlot) return kOutOfMemory;
    CacheEvictOldest(d);
  }
  if (IsFailure(status)) return status;
  d.lent[d.lentCount++] = block;
  *buffer = block + kDbRecordPrefix;
  *size = length;
  return kOk;
}

StatusCode DbFile_FreeRecordBuffer(EngineObject* db, void* buffer) noexcept {
  if (!IsDb(db)) return kBadArgument;
  if (buffer == nullptr) return kOk;
  DbFileBody& d = Db(db);
  std::uint8_t* block = static_cast<std::uint8_t*>(buffer) - kDbRecordPrefix;
  std::uint32_t i = 0;
  while (i < d.lentCount && d.lent[i] != block)
    ++i;
  if (i == d.lentCount) return kBadArgument;
  d.lent[i] = d.lent[--d.lentCount];
  if (PrefixIndex(block) == kStaleIndex) {
    FreeBlock(d, block);
    return kOk;
  }
  if (d.freeHead == kNoSlot) CacheEvictOldest(d);
  CachePushNewest(d, block);
  return kOk;
}

// ---- record streams ----------------------------------------------------------

StatusCode DbFile_OpenRecord(EngineObject* db, std::uint16_t index, std::uint32_t* size,
                             EngineObject** stream) noexcept {
  if (!IsDb(db)) return kBadArgument;
  if (size == nullptr || stream == nullptr) return kNullOutPointer;
  DbFileBody& d = Db(db);
  std::uint32_t offset = 0, length = 0;
  StatusCode status = Extent(d, index, &offset, &length);
  if (IsFailure(status)) return status;
  CacheDrop(d, index);
  RecordInstance* instance = nullptr;
  status = Engine_AllocArray<RecordInstance>(1, &instance);
  if (IsFailure(status)) return status;
  void* buffer = nullptr;
  if (length > 0) {
    status = Engine_Alloc(length, &buffer);
    if (!IsFailure(status)) status = ReadBytes(d, offset, buffer, length);
  }
  EngineObject* inner = nullptr;
  if (!IsFailure(status)) {
    status = MemStream_Create(&MemStreamModule, buffer, length, length, kMemCreateWritable, &inner);
  }
  if (IsFailure(status)) {
    Engine_Free(buffer);
    Engine_Free(instance);
    return status;
  }
  instance->body = {db, d.recordStreams, index, inner, length, false};
  instance->header = {&instance->body, &kRecordStreamOps};
  d.recordStreams = &instance->header;
  *size = length;
  *stream = &instance->header;
  return kOk;
}

StatusCode DbFile_RecordClose(EngineObject* stream) noexcept {
  RecordStreamBody& r = Rec(stream);
  DbFileBody& d = Db(r.db);
  StatusCode result = kOk;
  // A stream that was never written holds the record's bytes as they were:
  // writing them back could only undo another stream's changes.
  if (r.dirty) {
    void* buffer = nullptr;
    std::uint32_t size = 0;
    // A record stream's memory stream always has its buffer.
    (void)MemStream_GetBuffer(&MemStreamModule, r.inner, &buffer, &size, nullptr);
    result = EnsureWork(d);
    if (!IsFailure(result)) result = Resize(d, r.index, size, /*setFlag=*/false);
    std::uint32_t offset = 0, length = 0;
    if (!IsFailure(result)) result = Extent(d, r.index, &offset, &length);
    if (!IsFailure(result)) {
      const std::uint32_t n = std::min(size, length);
      if (n > 0) std::memcpy(WorkBytes(d) + offset, buffer, n);
      d.changeFlags |= kDbChangedData;
      CacheInvalidate(d);
    }
  }
  const StatusCode closed = MemStream_Close(r.inner);
  for (EngineObject** link = &d.recordStreams; *link != nullptr; link = &Rec(*link).next) {
    if (*link == stream) {
      *link = r.next;
      break;
    }
  }
  Engine_Free(stream);
  return IsFailure(closed) ? closed : result;
}

// ---- changes ------------------------------------------------------------------------

StatusCode DbFile_InsertRecord(EngineObject* db, std::uint16_t* index, std::uint32_t size,
                               const void* data) noexcept {
  if (!IsDb(db)) return kBadArgument;
  if (index == nullptr) return kNullOutPointer;
  DbFileBody& d = Db(db);
  const std::uint32_t count = d.header.count;
  if (count >= kDbMaxRecords) return kDbFileFull;
  StatusCode status = BeginChange(d);
  if (IsFailure(status)) return status;
  std::uint32_t at = std::min<std::uint32_t>(*index, count);
  // Before an existing record the new data takes its place, even when that
  // record is empty at the end of the file: the index is kept.
  std::uint32_t dataPos = d.fileSize;
  if (at < count) {
    status = ReadEntryOffset(d, at, &dataPos);
    if (IsFailure(status)) return status;
  }
  const std::uint64_t grow = std::uint64_t{size} + kDbEntrySize;
  status = SetWorkSize(d, d.fileSize + grow);
  if (IsFailure(status)) return status;
  std::uint8_t* bytes = WorkBytes(d);
  const std::uint32_t entry = EntryPos(at);
  const auto g = static_cast<std::uint32_t>(grow);
  std::memmove(bytes + dataPos + g, bytes + dataPos, d.fileSize - dataPos);
  std::memmove(bytes + entry + kDbEntrySize, bytes + entry, dataPos - entry);
  const std::uint32_t newData = dataPos + kDbEntrySize;
  if (size > 0) {
    if (data != nullptr) {
      std::memcpy(bytes + newData, data, size);
    } else {
      std::memset(bytes + newData, 0, size);
    }
  }
  StoreBE32(bytes + entry, newData);
  std::memset(bytes + entry + 4, 0, 4);
  ShiftBlockOffsets(d.header, EntryPos(count), dataPos, kDbEntrySize, g);
  d.fileSize += g;
  d.header.count = static_cast<std::uint16_t>(count + 1);
  AddToOffsets(bytes, 0, at, kDbEntrySize);
  AddToOffsets(bytes, at + 1, count + 1, g);
  MarkChanged(d, kDbChangedTable, at);
  ForEachRecordStream(d, [&](RecordStreamBody& r) {
    if (r.index >= at) ++r.index;
  });
  CacheInvalidate(d);
  *index = static_cast<std::uint16_t>(at);
  return kOk;
}

StatusCode DbFile_DeleteRecord(EngineObject* db, std::uint16_t index) noexcept {
  if (!IsDb(db)) return kBadArgument;
  DbFileBody& d = Db(db);
  std::uint32_t offset = 0, size = 0;
  StatusCode status = Extent(d, index, &offset, &size);
  if (IsFailure(status)) return status;
  bool open = false;
  ForEachRecordStream(d, [&](RecordStreamBody& r) { open = open || r.index == index; });
  if (open) return kDbFileRecordOpen;
  status = BeginChange(d);
  if (IsFailure(status)) return status;
  std::uint8_t* bytes = WorkBytes(d);
  const std::uint32_t entry = EntryPos(index);
  std::memmove(bytes + entry, bytes + entry + kDbEntrySize, offset - entry - kDbEntrySize);
  const std::uint32_t tail = offset + size;
  std::memmove(bytes + offset - kDbEntrySize, bytes + tail, d.fileSize - tail);
  const std::uint32_t shrink = size + kDbEntrySize;
  d.fileSize -= shrink;
  (void)SetWorkSize(d, d.fileSize);  // shrinking cannot fail
  const std::uint32_t count = d.header.count - 1u;
  ShiftBlockOffsets(d.header, EntryPos(count + 1), tail, 0u - kDbEntrySize, 0u - shrink);
  d.header.count = static_cast<std::uint16_t>(count);
  AddToOffsets(bytes, 0, index, 0u - kDbEntrySize);
  AddToOffsets(bytes, index, count, 0u - shrink);
  MarkChanged(d, kDbChangedTable, index);
  ForEachRecordStream(d, [&](RecordStreamBody& r) {
    if (r.index > index) --r.index;
  });
  CacheInvalidate(d);
  return kOk;
}

StatusCode DbFile_MoveRecord(EngineObject* db, std::uint16_t from, std::uint16_t to) noexcept {
  if (!IsDb(db)) return kBadArgument;
  DbFileBody& d = Db(db);
  const std::uint32_t count = d.header.count;
  if (from >= count) return kDbFileIndexOutOfRange;
  std::uint32_t target = std::min<std::uint32_t>(to, count);
  if (target == from || target == from + 1u) return kOk;
  std::uint32_t offset = 0, size = 0;
  StatusCode status = Extent(d, from, &offset, &size);
  if (IsFailure(status)) return status;
  status = BeginChange(d);
  if (IsFailure(status)) return status;
  std::uint32_t t = d.fileSize;
  if (target < count) {
    status = ReadEntryOffset(d, target, &t);
    if (IsFailure(status)) return status;
  }
  // The end of the file is scratch space for the moved entry and its data.
  const std::uint32_t scratch = d.fileSize;
  status = SetWorkSize(d, std::uint64_t{scratch} + kDbEntrySize + size);
  if (IsFailure(status)) return status;
  std::uint8_t* bytes = WorkBytes(d);
  std::memcpy(bytes + scratch, bytes + EntryPos(from), kDbEntrySize);
  std::memmove(bytes + scratch + kDbEntrySize, bytes + offset, size);
  std::uint32_t newIndex = 0;
  std::uint32_t newOffset = 0;
  if (from < target) {
    newIndex = target - 1;
    std::memmove(bytes + EntryPos(from), bytes + EntryPos(from + 1),
                 kDbEntrySize * (target - from - 1));
    std::memmove(bytes + offset, bytes + offset + size, t - offset - size);
    AddToOffsets(bytes, from, newIndex, 0u - size);
    newOffset = t - size;
  } else {
    newIndex = target;
    std::memmove(bytes + EntryPos(target + 1), bytes + EntryPos(target),
                 kDbEntrySize * (from - target));
    std::memmove(bytes + t + size, bytes + t, offset - t);
    AddToOffsets(bytes, target + 1, from + 1, size);
    newOffset = t;
  }
  std::memcpy(bytes + EntryPos(newIndex), bytes + scratch, kDbEntrySize);
  StoreBE32(bytes + EntryPos(newIndex), newOffset);
  std::memmove(bytes + newOffset, bytes + scratch + kDbEntrySize, size);
  (void)SetWorkSize(d, scratch);  // shrinking cannot fail
  ForEachRecordStream(d, [&](RecordStreamBody& r) {
    if (r.index == from) {
      r.index = static_cast<std::uint16_t>(newIndex);
    } else if (from < target && r.index > from && r.index < target) {
      --r.index;
    } else if (target < from && r.index >= target && r.index < from) {
      ++r.index;
    }
  });
  MarkChanged(d, kDbChangedData, std::min<std::uint32_t>(from, target));
  CacheInvalidate(d);
  return kOk;
}

StatusCode DbFile_ResizeRecord(EngineObject* db, std::uint16_t index,
                               std::uint32_t newSize) noexcept {
  if (!IsDb(db)) return kBadArgument;
  return Resize(Db(db), index, newSize, /*setFlag=*/true);
}
