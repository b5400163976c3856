#include "engine/stores/annot_store.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "engine/runtime/allocator.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/path.h"
#include "engine/runtime/stream.h"
#include "engine/runtime/swap.h"

namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFF;
constexpr std::uint32_t kRecord = kAnnotRecordSize;
constexpr std::uint32_t kHeaderSize = 32;
constexpr std::uint32_t kEntrySize = 16;
constexpr std::uint32_t kBlockHeader = 16;
constexpr std::uint32_t kMinBlock = 32;
// A block is cut in two only when the rest keeps 256 bytes besides two headers.
constexpr std::uint32_t kSplitRest = 288;
constexpr std::uint8_t kKindFree = 1;
constexpr std::uint8_t kKindUsed = 2;
constexpr std::uint32_t kMaxEntries = 0xFFFF;
// Data records plus the table record stay within the database's record limit.
constexpr std::uint64_t kMaxStream = std::uint64_t{kDbMaxRecords - 1} * kRecord;
constexpr std::uint8_t kType[4] = {'K', 'e', 'l', 'A'};
constexpr std::uint8_t kCreator[4] = {'K', 'e', 'l', 'p'};
constexpr std::uint32_t kDbNameMax = 27;

constexpr std::uint32_t kFlagReadOnly = 0x1;

struct CacheItem {
  std::uint32_t start;
  std::uint16_t length;
  std::uint8_t attribute1;
  std::uint8_t attribute2;
  std::uint32_t block;
  std::uint32_t reserved;  // the entry's last word, kept as read

  std::uint64_t End() const { return std::uint64_t{start} + length; }
};

// The entry table in engine memory, sorted by start.
struct Table {
  CacheItem* items = nullptr;
  std::uint32_t count = 0;
  std::uint32_t capacity = 0;
};

void FreeTable(Table& t) {
  Engine_Free(t.items);
  t = Table{};
}

StatusCode Reserve(Table& t, std::uint32_t capacity) {
  if (capacity <= t.capacity) return kOk;
  const std::uint64_t bytes = std::uint64_t{capacity} * sizeof(CacheItem);
  if (bytes > 0xFFFFFFEFu) return kOutOfMemory;
  void* block = t.items;
  const StatusCode status = block == nullptr
                                ? Engine_Alloc(static_cast<std::uint32_t>(bytes), &block)
                                : Engine_Realloc(static_cast<std::uint32_t>(bytes), &block);
  if (IsFailure(status)) return status;
  t.items = static_cast<CacheItem*>(block);
  t.capacity = capacity;
  return kOk;
}

StatusCode CopyTable(const Table& from, Table& to) {
  StatusCode status = Reserve(to, std::max<std::uint32_t>(from.count + 2, 8));
  if (IsFailure(status)) return status;
  if (from.count > 0) std::memcpy(to.items, from.items, from.count * sizeof(CacheItem));
  to.count = from.count;
  return kOk;
}

StatusCode InsertItem(Table& t, std::uint32_t index, const CacheItem& item) {
  if (t.count >= kMaxEntries) return kAnnotStoreFull;
  StatusCode status = Reserve(t, std::max<std::uint32_t>(t.count + t.count / 2 + 1, 8));
  if (IsFailure(status)) return status;
  std::memmove(t.items + index + 1, t.items + index, (t.count - index) * sizeof(CacheItem));
  t.items[index] = item;
  ++t.count;
  return kOk;
}

void EraseItems(Table& t, std::uint32_t first, std::uint32_t n) {
  std::memmove(t.items + first, t.items + first + n, (t.count - first - n) * sizeof(CacheItem));
  t.count -= n;
}

// The first entry ending after position (ends rise with starts, as entries
// never overlap).
std::uint32_t FirstEndingAfter(const Table& t, std::uint64_t position) {
  std::uint32_t lo = 0, hi = t.count;
  while (lo < hi) {
    const std::uint32_t mid = lo + (hi - lo) / 2;
    if (t.items[mid].End() > position) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  return lo;
}

// ---- the gate: the stream the database sees --------------------------------

// Forwards to the current file stream. A change that fails shuts the gate
// before the database is closed: the database's commit then fails its write
// probe and leaves the file as it was, which drops the change whole.
struct Gate {
  EngineObject* inner;
  bool writable;
};

Gate& GateOf(EngineObject* s) {
  return *static_cast<Gate*>(s->state);
}

StatusCode GateClose(EngineObject*) noexcept {
  return kOk;
}
StatusCode GateSeek(EngineObject* s, std::int32_t offset, std::uint32_t origin,
                    std::uint32_t* position) noexcept {
  EngineObject* in = GateOf(s).inner;
  if (in == nullptr) return kFailed;
  return StreamOf(in).seek(in, offset, origin, position);
}
StatusCode GateRead(EngineObject* s, void* buffer, std::uint32_t n, std::uint32_t* count) noexcept {
  EngineObject* in = GateOf(s).inner;
  if (in == nullptr) return kFailed;
  return StreamOf(in).read(in, buffer, n, count);
}
StatusCode GateWrite(EngineObject* s, const void* buffer, std::uint32_t n,
                     std::uint32_t* count) noexcept {
  const Gate& g = GateOf(s);
  if (g.inner == nullptr || !g.writable) return kFailed;
  return StreamOf(g.inner).write(g.inner, buffer, n, count);
}
StatusCode GateGetSize(EngineObject* s, std::uint32_t* size) noexcept {
  EngineObject* in = GateOf(s).inner;
  if (in == nullptr) return kFailed;
  return StreamOf(in).getSize(in, size);
}
StatusCode GateSetSize(EngineObject* s, std::uint32_t size) noexcept {
  const Gate& g = GateOf(s);
  if (g.inner == nullptr || !g.writable) return kFailed;
  return StreamOf(g.inner).setSize(g.inner, size);
}
StatusCode GateGetProperty(EngineObject* s, std::uint32_t property, std::uint32_t capacity,
                           std::uint32_t* length, void* buffer) noexcept {
  EngineObject* in = GateOf(s).inner;
  if (in == nullptr) return kFailed;
  return StreamOf(in).getProperty(in, property, capacity, length, buffer);
}

constexpr StreamOps kGateOps = MakeStreamOps({
    .close = GateClose,
    .seek = GateSeek,
    .read = GateRead,
    .write = GateWrite,
    .getSize = GateGetSize,
    .setSize = GateSetSize,
    .getProperty = GateGetProperty,
});

}  // namespace

struct AnnotStore {
  char16_t* path = nullptr;  // owned, NUL-terminated
  EngineObject* file = nullptr;
  EngineObject* db = nullptr;  // on gateObject; null only when reopening failed
  Gate gate{nullptr, false};
  EngineObject gateObject{nullptr, &kGateOps};
  std::uint32_t flags = kFlagReadOnly;
  // The header: its bytes as read (length header[0]) and its fields.
  std::uint8_t header[256] = {};
  std::uint32_t length = 0;
  std::uint32_t freeHead = kNone;
  std::uint32_t freeTail = kNone;
  Table table;
};

namespace {

// ---- files and the database ------------------------------------------------

StatusCode FsOpen(char16_t* path, std::uint32_t type, EngineObject** out) {
  EngineObject* fs = g_FileSysModule;
  if (fs == nullptr) return kFailed;
  return OpsOf<FileSysOps>(fs).open(fs, path, 0, type, out);
}

StatusCode FsDelete(const char16_t* path) {
  EngineObject* fs = g_FileSysModule;
  if (fs == nullptr) return kFailed;
  return OpsOf<FileSysOps>(fs).remove(fs, path);
}

// kFileSysNotFound when nothing is at path.
StatusCode FsExists(const char16_t* path) {
  EngineObject* fs = g_FileSysModule;
  if (fs == nullptr) return kFailed;
  const FileSysOps& ops = OpsOf<FileSysOps>(fs);
  FileEntry* entry = nullptr;
  const StatusCode status = ops.listPath(fs, path, 0, 0, &entry);
  if (entry != nullptr) (void)ops.freeEntries(fs, entry);  // only frees
  return status;
}

void CloseFile(AnnotStore& s, StatusCode* first) {
  if (s.file != nullptr) {
    const StatusCode status = StreamOf(s.file).close(s.file);
    if (IsFailure(status) && !IsFailure(*first)) *first = status;
  }
  s.file = nullptr;
  s.gate = {nullptr, false};
}

// Closes database and file. Without commit the gate is shut first, so pending
// changes of the database never reach the file.
StatusCode CloseStreams(AnnotStore& s, bool commit) {
  StatusCode result = kOk;
  if (!commit) s.gate.writable = false;
  if (s.db != nullptr) result = DbFile_Close(s.db);
  s.db = nullptr;
  CloseFile(s, &result);
  s.flags |= kFlagReadOnly;
  return result;
}

// Opens the file (kAnnotStoreCannotOpen) and the database on it
// (kAnnotStoreNoDatabase).
StatusCode OpenStreams(AnnotStore& s, bool writable) {
  EngineObject* file = nullptr;
  StatusCode status = FsOpen(s.path, writable ? kFileOpenReadWrite : kFileOpenRead, &file);
  if (IsFailure(status)) return status == kOutOfMemory ? status : kAnnotStoreCannotOpen;
  s.file = file;
  s.gate = {file, writable};
  EngineObject* db = nullptr;
  status = DbFile_Open(g_DbFileModule, &s.gateObject, writable ? kDbOpenWrite : kDbOpenRead, &db);
  if (IsFailure(status)) {
    StatusCode ignored = kOk;
    CloseFile(s, &ignored);
    return status == kOutOfMemory ? status : kAnnotStoreNoDatabase;
  }
  s.db = db;
  if (writable) {
    s.flags &= ~kFlagReadOnly;
  } else {
    s.flags |= kFlagReadOnly;
  }
  return kOk;
}

// Step 1 of every change: the file open for writing. The read-only streams
// are given up only once the file has opened for writing, so a store whose
// file cannot be written keeps reading it.
StatusCode BeginWriting(AnnotStore& s) {
  if (s.db != nullptr && (s.flags & kFlagReadOnly) == 0) return kOk;
  EngineObject* file = nullptr;
  StatusCode status = FsOpen(s.path, kFileOpenReadWrite, &file);
  if (IsFailure(status)) return status == kOutOfMemory ? status : kAnnotStoreNotWritable;
  (void)CloseStreams(s, false);  // read-only streams: nothing to commit
  s.file = file;
  s.gate = {file, true};
  EngineObject* db = nullptr;
  status = DbFile_Open(g_DbFileModule, &s.gateObject, kDbOpenWrite, &db);
  if (IsFailure(status)) {
    // Back to reading; a failed reopen leaves the store without a database
    // (later calls answer kAnnotStoreCannotOpen), and this failure is the answer.
    (void)CloseStreams(s, false);
    (void)OpenStreams(s, false);
    return status == kOutOfMemory ? status : kAnnotStoreNoDatabase;
  }
  s.db = db;
  s.flags &= ~kFlagReadOnly;
  return kOk;
}

// The last step: commits the change when status is 0 (else drops it) and
// reopens the file read-only. Answers the change's status, or the commit's
// failure.
StatusCode EndWriting(AnnotStore& s, StatusCode status) {
  const StatusCode committed = CloseStreams(s, !IsFailure(status));
  if (!IsFailure(status)) status = committed;
  // A failed reopen leaves the store without a database; later calls answer
  // kAnnotStoreCannotOpen until a change or Revalidate reopens it.
  (void)OpenStreams(s, false);
  return status;
}

// ---- the stream over the data records --------------------------------------

struct Block {
  std::uint8_t kind;
  std::uint32_t size;       // after the header
  std::uint32_t requested;  // used blocks
};

// The logical stream and its free list. Reads work on any open database;
// the changing operations run between BeginWriting and EndWriting, on a copy
// of the store's header fields.
class Heap {
 public:
  Heap(EngineObject* db, std::uint32_t length, std::uint32_t head, std::uint32_t tail)
      : db_(db), length_(length), head_(head), tail_(tail) {}

  std::uint32_t Length() const { return length_; }
  std::uint32_t Head() const { return head_; }
  std::uint32_t Tail() const { return tail_; }

  StatusCode Read(std::uint32_t offset, void* out, std::uint32_t n) const {
    if (std::uint64_t{offset} + n > length_) return kAnnotStoreReadPastEnd;
    auto* dst = static_cast<std::uint8_t*>(out);
    while (n > 0) {
      const std::uint32_t at = offset % kRecord;
      const std::uint32_t chunk = std::min(n, kRecord - at);
      std::uint32_t size = 0;
      void* buffer = nullptr;
      StatusCode status = DbFile_ReadRecord(db_, RecordOf(offset), &size, &buffer);
      if (IsFailure(status)) return status == kOutOfMemory ? status : kAnnotStoreCorrupt;
      const bool fits = std::uint64_t{at} + chunk <= size;
      if (fits) std::memcpy(dst, static_cast<std::uint8_t*>(buffer) + at, chunk);
      (void)DbFile_FreeRecordBuffer(db_, buffer);  // giving back cannot fail
      if (!fits) return kAnnotStoreCorrupt;
      dst += chunk;
      offset += chunk;
      n -= chunk;
    }
    return kOk;
  }

  StatusCode Write(std::uint32_t offset, const void* data, std::uint32_t n) {
    if (std::uint64_t{offset} + n > length_) return kAnnotStoreWritePastEnd;
    const auto* src = static_cast<const std::uint8_t*>(data);
    while (n > 0) {
      const std::uint32_t at = offset % kRecord;
      const std::uint32_t chunk = std::min(n, kRecord - at);
      std::uint32_t size = 0;
      EngineObject* record = nullptr;
      StatusCode status = DbFile_OpenRecord(db_, RecordOf(offset), &size, &record);
      if (IsFailure(status)) return status == kOutOfMemory ? status : kAnnotStoreCorrupt;
      if (std::uint64_t{at} + chunk > size) {
        status = kAnnotStoreCorrupt;
      } else {
        status = StreamOf(record).writeAt(record, at, src, chunk, nullptr);
      }
      const StatusCode closed = StreamOf(record).close(record);
      if (!IsFailure(status)) status = closed;
      if (IsFailure(status)) return status;
      src += chunk;
      offset += chunk;
      n -= chunk;
    }
    return kOk;
  }

  // Grows the stream: the last data record is filled up to 16384 bytes, then
  // new records are inserted before the table record.
  StatusCode Grow(std::uint64_t newLength) {
    if (newLength > kMaxStream) return kOutOfMemory;
    std::uint32_t records = DataRecords(length_);
    std::uint64_t covered = std::uint64_t{records} * kRecord;
    if (records > 0 && length_ < covered) {
      const std::uint64_t last = std::min<std::uint64_t>(kRecord, newLength - (covered - kRecord));
      const StatusCode status = DbFile_ResizeRecord(db_, static_cast<std::uint16_t>(records - 1),
                                                    static_cast<std::uint32_t>(last));
      if (IsFailure(status)) return status;
    }
    while (covered < newLength) {
      const auto size =
          static_cast<std::uint32_t>(std::min<std::uint64_t>(kRecord, newLength - covered));
      auto index = static_cast<std::uint16_t>(records);
      const StatusCode status = DbFile_InsertRecord(db_, &index, size, nullptr);
      if (IsFailure(status)) return status;
      if (index != records) return kAnnotStoreCorrupt;
      ++records;
      covered += kRecord;
    }
    length_ = static_cast<std::uint32_t>(newLength);
    return kOk;
  }

  // The block at offset, checked: header length 16, kind 1 or 2, fits the
  // stream, at least the smallest block.
  StatusCode ReadBlock(std::uint32_t offset, Block* out) const {
    if (std::uint64_t{offset} + kMinBlock > length_) return kAnnotStoreCorrupt;
    std::uint8_t h[kBlockHeader];
    const StatusCode status = Read(offset, h, sizeof h);
    if (IsFailure(status)) return status;
    const std::uint32_t size = LoadBE32(h + 4);
    if (h[0] != kBlockHeader || (h[1] != kKindFree && h[1] != kKindUsed) || size < 16 ||
        std::uint64_t{offset} + kBlockHeader + size > length_) {
      return kAnnotStoreCorrupt;
    }
    *out = {h[1], size, LoadBE32(h + 8)};
    return kOk;
  }

  StatusCode ReadBlockOfKind(std::uint32_t offset, std::uint8_t kind, Block* out) const {
    const StatusCode status = ReadBlock(offset, out);
    if (IsFailure(status)) return status;
    return out->kind == kind ? kOk : kAnnotStoreCorrupt;
  }

  // A used block's text lengths, checked against the block.
  StatusCode ReadTextLengths(std::uint32_t offset, std::uint32_t* length1,
                             std::uint32_t* length2) const {
    Block b{};
    StatusCode status = ReadBlockOfKind(offset, kKindUsed, &b);
    if (IsFailure(status)) return status;
    std::uint8_t lengths[16];
    status = Read(offset + kBlockHeader, lengths, sizeof lengths);
    if (IsFailure(status)) return status;
    const std::uint32_t a = LoadBE32(lengths + 4), c = LoadBE32(lengths + 8);
    if (lengths[0] != 16 || std::uint64_t{a} + c + 16 > b.size) return kAnnotStoreCorrupt;
    *length1 = a;
    *length2 = c;
    return kOk;
  }

  // Writes a used block's lengths and texts.
  StatusCode WriteContent(std::uint32_t offset, const char* text1, std::uint32_t size1,
                          const char* text2, std::uint32_t size2) {
    std::uint8_t lengths[16] = {16};
    StoreBE32(lengths + 4, size1);
    StoreBE32(lengths + 8, size2);
    StatusCode status = Write(offset + kBlockHeader, lengths, sizeof lengths);
    if (!IsFailure(status) && size1 > 0) status = Write(offset + kMinBlock, text1, size1);
    if (!IsFailure(status) && size2 > 0) status = Write(offset + kMinBlock + size1, text2, size2);
    return status;
  }

  // First fit from the head of the free list, else a new block at the end.
  StatusCode Allocate(std::uint32_t n, std::uint32_t* out) {
    // Every free block takes at least 32 bytes, so a longer walk is a cycle.
    const std::uint32_t limit = length_ / kMinBlock + 1;
    std::uint32_t steps = 0;
    for (std::uint32_t at = head_; at != kNone;) {
      if (++steps > limit) return kAnnotStoreCorrupt;
      Block b{};
      std::uint32_t prev = 0, next = 0;
      StatusCode status = ReadFree(at, &b, &prev, &next);
      if (IsFailure(status)) return status;
      if (b.size >= n) {
        const std::uint32_t rest = b.size - n;
        if (rest < kSplitRest) {
          status = Unlink(at);
          if (IsFailure(status)) return status;
          status = WriteHeader(at, kKindUsed, b.size, n);
          if (IsFailure(status)) return status;
          *out = at;
          return kOk;
        }
        // The used block is cut from the end; the free block keeps its place.
        status = WriteHeader(at, kKindFree, rest - kBlockHeader, 0);
        if (IsFailure(status)) return status;
        status = WriteHeader(at + rest, kKindUsed, n, n);
        if (IsFailure(status)) return status;
        *out = at + rest;
        return kOk;
      }
      at = next;
    }
    const std::uint64_t end = std::uint64_t{length_} + n + kBlockHeader;
    const std::uint64_t newLength =
        end <= kRecord ? end : (end & ~std::uint64_t{kRecord - 1}) + kRecord;
    const std::uint32_t at = length_;
    StatusCode status = Grow(newLength);
    if (IsFailure(status)) return status;
    const std::uint64_t tail = newLength - end;
    if (tail >= kMinBlock) {
      status = WriteHeader(at, kKindUsed, n, n);
      if (!IsFailure(status)) {
        const auto free = static_cast<std::uint32_t>(end);
        status = WriteHeader(free, kKindFree, static_cast<std::uint32_t>(tail) - kBlockHeader, 0);
        if (!IsFailure(status)) status = Append(free);
      }
    } else {
      status =
          WriteHeader(at, kKindUsed, static_cast<std::uint32_t>(newLength) - at - kBlockHeader, n);
    }
    if (IsFailure(status)) return status;
    *out = at;
    return kOk;
  }

  // Frees total bytes at offset: merged with a directly following free block
  // (taking its place in the list), else appended to the list.
  StatusCode FreeRegion(std::uint32_t offset, std::uint32_t total) {
    if (total < kMinBlock || std::uint64_t{offset} + total > length_) return kAnnotStoreCorrupt;
    const std::uint32_t follower = offset + total;
    if (follower < length_) {
      Block g{};
      StatusCode status = ReadBlock(follower, &g);
      if (IsFailure(status)) return status;
      if (g.kind == kKindFree) {
        std::uint32_t prev = 0, next = 0;
        status = ReadFree(follower, &g, &prev, &next);
        if (!IsFailure(status)) status = CheckLinked(follower, prev, next);
        if (!IsFailure(status)) status = WriteHeader(offset, kKindFree, total + g.size, 0);
        if (!IsFailure(status)) status = WriteLink(offset, prev, next);
        if (!IsFailure(status)) status = SetNext(prev, offset);
        if (!IsFailure(status)) status = SetPrev(next, offset);
        return status;
      }
    }
    StatusCode status = WriteHeader(offset, kKindFree, total - kBlockHeader, 0);
    if (!IsFailure(status)) status = Append(offset);
    return status;
  }

  // Frees the block of an entry being deleted. A damaged entry points at no
  // sound used block: nothing is freed then, so it can still be deleted
  // without touching bytes it does not own.
  StatusCode FreeEntryBlock(std::uint32_t offset) {
    Block b{};
    const StatusCode status = ReadBlock(offset, &b);
    if (status == kAnnotStoreCorrupt || status == kAnnotStoreReadPastEnd ||
        (!IsFailure(status) && b.kind != kKindUsed)) {
      return kOk;
    }
    if (IsFailure(status)) return status;
    return FreeRegion(offset, kBlockHeader + b.size);
  }

  // Gives the used block at offset room for n bytes (its content is about to
  // be rewritten): kept, shrunk, grown into a following free block, or
  // replaced by a new block. The block's offset comes back in *out.
  StatusCode Resize(std::uint32_t offset, std::uint32_t n, std::uint32_t* out) {
    Block b{};
    StatusCode status = ReadBlockOfKind(offset, kKindUsed, &b);
    if (IsFailure(status)) return status;
    if (n <= b.size) {
      *out = offset;
      return Fit(offset, b.size, n);
    }
    const std::uint32_t follower = offset + kBlockHeader + b.size;
    if (follower < length_) {
      Block g{};
      status = ReadBlock(follower, &g);
      if (IsFailure(status)) return status;
      const std::uint64_t joined = std::uint64_t{b.size} + kBlockHeader + g.size;
      if (g.kind == kKindFree && joined >= n) {
        status = Unlink(follower);
        if (IsFailure(status)) return status;
        *out = offset;
        return Fit(offset, static_cast<std::uint32_t>(joined), n);
      }
    }
    std::uint32_t fresh = 0;
    status = Allocate(n, &fresh);
    if (!IsFailure(status)) status = FreeRegion(offset, kBlockHeader + b.size);
    if (IsFailure(status)) return status;
    *out = fresh;
    return kOk;
  }

 private:
  static std::uint16_t RecordOf(std::uint32_t offset) {
    return static_cast<std::uint16_t>(offset / kRecord);
  }
  static std::uint32_t DataRecords(std::uint32_t length) {
    return static_cast<std::uint32_t>((std::uint64_t{length} + kRecord - 1) / kRecord);
  }

  StatusCode WriteHeader(std::uint32_t offset, std::uint8_t kind, std::uint32_t size,
                         std::uint32_t requested) {
    std::uint8_t h[kBlockHeader] = {kBlockHeader, kind};
    StoreBE32(h + 4, size);
    StoreBE32(h + 8, requested);
    return Write(offset, h, sizeof h);
  }

  StatusCode WriteLink(std::uint32_t offset, std::uint32_t prev, std::uint32_t next) {
    std::uint8_t link[16] = {16};
    StoreBE32(link + 4, prev);
    StoreBE32(link + 8, next);
    return Write(offset + kBlockHeader, link, sizeof link);
  }

  // A free block and its links.
  StatusCode ReadFree(std::uint32_t offset, Block* b, std::uint32_t* prev,
                      std::uint32_t* next) const {
    StatusCode status = ReadBlockOfKind(offset, kKindFree, b);
    if (IsFailure(status)) return status;
    std::uint8_t link[16];
    status = Read(offset + kBlockHeader, link, sizeof link);
    if (IsFailure(status)) return status;
    if (link[0] != 16) return kAnnotStoreCorrupt;
    *prev = LoadBE32(link + 4);
    *next = LoadBE32(link + 8);
    return kOk;
  }

  // The neighbours of a free block must point back at it.
  StatusCode CheckLinked(std::uint32_t offset, std::uint32_t prev, std::uint32_t next) const {
    Block b{};
    std::uint32_t p = 0, n = 0;
    if (prev == kNone) {
      if (head_ != offset) return kAnnotStoreCorrupt;
    } else {
      const StatusCode status = ReadFree(prev, &b, &p, &n);
      if (IsFailure(status)) return status;
      if (n != offset) return kAnnotStoreCorrupt;
    }
    if (next == kNone) {
      if (tail_ != offset) return kAnnotStoreCorrupt;
    } else {
      const StatusCode status = ReadFree(next, &b, &p, &n);
      if (IsFailure(status)) return status;
      if (p != offset) return kAnnotStoreCorrupt;
    }
    return kOk;
  }

  // Sets the next link of free block `block`, or the head when it is none.
  StatusCode SetNext(std::uint32_t block, std::uint32_t next) {
    if (block == kNone) {
      head_ = next;
      return kOk;
    }
    std::uint8_t v[4];
    StoreBE32(v, next);
    return Write(block + kBlockHeader + 8, v, 4);
  }
  // Sets the previous link of free block `block`, or the tail when it is none.
  StatusCode SetPrev(std::uint32_t block, std::uint32_t prev) {
    if (block == kNone) {
      tail_ = prev;
      return kOk;
    }
    std::uint8_t v[4];
    StoreBE32(v, prev);
    return Write(block + kBlockHeader + 4, v, 4);
  }

  StatusCode Unlink(std::uint32_t offset) {
    Block b{};
    std::uint32_t prev = 0, next = 0;
    StatusCode status = ReadFree(offset, &b, &prev, &next);
    if (!IsFailure(status)) status = CheckLinked(offset, prev, next);
    if (!IsFailure(status)) status = SetNext(prev, next);
    if (!IsFailure(status)) status = SetPrev(next, prev);
    return status;
  }

  // Links a block (its free header written) at the tail of the list.
  StatusCode Append(std::uint32_t offset) {
    if (tail_ != kNone) {
      Block b{};
      std::uint32_t p = 0, n = 0;
      StatusCode status = ReadFree(tail_, &b, &p, &n);
      if (IsFailure(status)) return status;
      if (n != kNone) return kAnnotStoreCorrupt;
    }
    StatusCode status = WriteLink(offset, tail_, kNone);
    if (!IsFailure(status)) status = SetNext(tail_, offset);
    if (!IsFailure(status)) tail_ = offset;
    return status;
  }

  // Sets a used block of size `size` to hold n bytes; more than 287 spare
  // bytes are split off and freed.
  StatusCode Fit(std::uint32_t offset, std::uint32_t size, std::uint32_t n) {
    if (size - n >= kSplitRest) {
      StatusCode status = WriteHeader(offset, kKindUsed, n, n);
      if (!IsFailure(status)) status = FreeRegion(offset + kBlockHeader + n, size - n);
      return status;
    }
    return WriteHeader(offset, kKindUsed, size, n);
  }

  EngineObject* db_;
  std::uint32_t length_;
  std::uint32_t head_;
  std::uint32_t tail_;
};

// ---- header and table --------------------------------------------------------

// Reads and checks the header, the entry table and the data record sizes.
StatusCode LoadTable(AnnotStore& s) {
  std::uint8_t type[4], creator[4];
  std::uint16_t records = 0;
  StatusCode status = DbFile_GetInfo(s.db, nullptr, type, creator, nullptr, nullptr, &records);
  if (IsFailure(status)) return kAnnotStoreNoDatabase;
  if (std::memcmp(type, kType, 4) != 0 || std::memcmp(creator, kCreator, 4) != 0) {
    return kAnnotStoreWrongType;
  }
  if (records == 0) return kAnnotStoreCorrupt;
  const std::uint16_t last = static_cast<std::uint16_t>(records - 1);
  std::uint32_t size = 0;
  void* buffer = nullptr;
  status = DbFile_ReadRecord(s.db, last, &size, &buffer);
  if (IsFailure(status)) return status == kOutOfMemory ? status : kAnnotStoreCorrupt;
  struct Lent {
    EngineObject* db;
    void* p;
    ~Lent() { (void)DbFile_FreeRecordBuffer(db, p); }  // giving back cannot fail
  } lent{s.db, buffer};
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  if (size < kHeaderSize) return kAnnotStoreCorrupt;
  const std::uint32_t headerLength = bytes[0];
  const std::uint32_t count = LoadBE16(bytes + 2);
  if (headerLength < kHeaderSize || headerLength + std::uint64_t{count} * kEntrySize > size) {
    return kAnnotStoreCorrupt;
  }
  const std::uint32_t length = LoadBE32(bytes + 4);
  const std::uint32_t head = LoadBE32(bytes + 8), tail = LoadBE32(bytes + 12);
  if ((std::uint64_t{length} + kRecord - 1) / kRecord != last) return kAnnotStoreCorrupt;
  if ((head == kNone) != (tail == kNone)) return kAnnotStoreCorrupt;
  for (std::uint16_t r = 0; r < last; ++r) {
    std::uint32_t offset = 0, recordSize = 0;
    status = DbFile_GetRecordExtent(s.db, r, &offset, &recordSize);
    if (IsFailure(status)) return kAnnotStoreCorrupt;
    const std::uint32_t want = r + 1 < last ? kRecord : length - r * kRecord;
    if (recordSize != want) return kAnnotStoreCorrupt;
  }
  Table table;
  status = Reserve(table, std::max<std::uint32_t>(count + 2, 8));
  if (IsFailure(status)) return status;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* e = bytes + headerLength + i * kEntrySize;
    CacheItem item{LoadBE32(e), LoadBE16(e + 4), e[6], e[7], LoadBE32(e + 8), LoadBE32(e + 12)};
    if (i > 0 && item.start < table.items[i - 1].End()) {
      FreeTable(table);
      return kAnnotStoreCorrupt;
    }
    table.items[i] = item;
  }
  table.count = count;
  std::memcpy(s.header, bytes, headerLength);
  s.length = length;
  s.freeHead = head;
  s.freeTail = tail;
  FreeTable(s.table);
  s.table = table;
  return kOk;
}

// Writes the header and the whole entry table into the table record.
StatusCode WriteTable(AnnotStore& s, const Heap& heap, const Table& table) {
  const std::uint32_t index =
      static_cast<std::uint32_t>((std::uint64_t{heap.Length()} + kRecord - 1) / kRecord);
  std::uint16_t records = 0;
  StatusCode status = DbFile_GetInfo(s.db, nullptr, nullptr, nullptr, nullptr, nullptr, &records);
  if (IsFailure(status)) return status;
  if (records != index + 1) return kAnnotStoreCorrupt;
  const std::uint32_t headerLength = s.header[0];
  const std::uint32_t total = headerLength + table.count * kEntrySize;
  std::uint8_t* bytes = nullptr;
  status = Engine_AllocArray(total, &bytes);
  if (IsFailure(status)) return status;
  EngineBuffer<std::uint8_t> guard(bytes);
  std::memcpy(bytes, s.header, headerLength);
  StoreBE16(bytes + 2, static_cast<std::uint16_t>(table.count));
  StoreBE32(bytes + 4, heap.Length());
  StoreBE32(bytes + 8, heap.Head());
  StoreBE32(bytes + 12, heap.Tail());
  for (std::uint32_t i = 0; i < table.count; ++i) {
    const CacheItem& item = table.items[i];
    std::uint8_t* e = bytes + headerLength + i * kEntrySize;
    StoreBE32(e, item.start);
    StoreBE16(e + 4, item.length);
    e[6] = item.attribute1;
    e[7] = item.attribute2;
    StoreBE32(e + 8, item.block);
    StoreBE32(e + 12, item.reserved);
  }
  const auto record = static_cast<std::uint16_t>(index);
  status = DbFile_ResizeRecord(s.db, record, total);
  if (IsFailure(status)) return status;
  std::uint32_t size = 0;
  EngineObject* stream = nullptr;
  status = DbFile_OpenRecord(s.db, record, &size, &stream);
  if (IsFailure(status)) return status;
  status = StreamOf(stream).writeAt(stream, 0, bytes, total, nullptr);
  const StatusCode closed = StreamOf(stream).close(stream);
  return IsFailure(status) ? status : closed;
}

// ---- changes ---------------------------------------------------------------

// One change: a copy of the store's header fields and table that the change
// edits; adopted by the store only when the file took the change.
class Change {
 public:
  explicit Change(AnnotStore& s) : store_(s), heap_(s.db, s.length, s.freeHead, s.freeTail) {}
  ~Change() { FreeTable(table_); }
  Change(const Change&) = delete;
  Change& operator=(const Change&) = delete;

  // Opens the file for writing. A file reopened by path may have been
  // changed by another program since it was read: the change then starts
  // from its current header and table, so the two always agree.
  StatusCode Begin() {
    const bool reopen = store_.db == nullptr || (store_.flags & kFlagReadOnly) != 0;
    StatusCode status = BeginWriting(store_);
    if (IsFailure(status)) return status;
    writing_ = true;
    if (reopen) {
      status = LoadTable(store_);
      if (IsFailure(status)) return status;
    }
    heap_ = Heap(store_.db, store_.length, store_.freeHead, store_.freeTail);
    return CopyTable(store_.table, table_);
  }

  // Writes the table, commits or drops the change, adopts it on success.
  StatusCode End(StatusCode status) {
    if (!writing_) return status;  // the file was never opened for writing
    if (!IsFailure(status)) status = WriteTable(store_, heap_, table_);
    status = EndWriting(store_, status);
    if (IsFailure(status)) return status;
    store_.length = heap_.Length();
    store_.freeHead = heap_.Head();
    store_.freeTail = heap_.Tail();
    std::swap(store_.table, table_);
    return kOk;
  }

  Heap& heap() { return heap_; }
  Table& table() { return table_; }
  AnnotStore& store() { return store_; }

 private:
  AnnotStore& store_;
  Heap heap_;
  Table table_;
  bool writing_ = false;
};

// A new used block holding the two texts.
StatusCode AllocateTexts(Heap& heap, const char* text1, std::uint32_t size1, const char* text2,
                         std::uint32_t size2, std::uint32_t* out) {
  const std::uint64_t n = std::uint64_t{size1} + size2 + 16;
  if (n > kMaxStream) return kOutOfMemory;
  std::uint32_t at = 0;
  StatusCode status = heap.Allocate(static_cast<std::uint32_t>(n), &at);
  if (!IsFailure(status)) status = heap.WriteContent(at, text1, size1, text2, size2);
  if (!IsFailure(status)) *out = at;
  return status;
}

// Makes room for [a, b) in the working table: entries inside are deleted,
// entries reaching in are shortened, an entry spanning it is split in two
// (the part after b gets a copy of its texts in a new block).
StatusCode ClearRange(Change& c, std::uint32_t a, std::uint64_t b) {
  Table& t = c.table();
  Heap& heap = c.heap();
  while (true) {
    const std::uint32_t i = FirstEndingAfter(t, a);
    if (i >= t.count || t.items[i].start >= b) return kOk;
    CacheItem& e = t.items[i];
    const std::uint64_t end = e.End();
    if (e.start >= a && end <= b) {
      const StatusCode status = heap.FreeEntryBlock(e.block);
      if (IsFailure(status)) return status;
      EraseItems(t, i, 1);
    } else if (e.start < a && end <= b) {
      e.length = static_cast<std::uint16_t>(a - e.start);
    } else if (e.start >= a) {
      e.start = static_cast<std::uint32_t>(b);
      e.length = static_cast<std::uint16_t>(end - b);
      return kOk;
    } else {
      // Spans the range: the tail after b becomes an entry of its own.
      std::uint32_t size1 = 0, size2 = 0;
      StatusCode status = heap.ReadTextLengths(e.block, &size1, &size2);
      if (IsFailure(status)) return status;
      const std::uint64_t total = std::uint64_t{size1} + size2;
      char* texts = nullptr;
      status =
          Engine_AllocArray(static_cast<std::uint32_t>(std::max<std::uint64_t>(total, 1)), &texts);
      if (IsFailure(status)) return status;
      EngineBuffer<char> guard(texts);
      status = heap.Read(e.block + kMinBlock, texts, static_cast<std::uint32_t>(total));
      if (IsFailure(status)) return status;
      CacheItem tail = e;
      tail.start = static_cast<std::uint32_t>(b);
      tail.length = static_cast<std::uint16_t>(end - b);
      tail.reserved = 0;
      status = AllocateTexts(heap, texts, size1, texts + size1, size2, &tail.block);
      if (IsFailure(status)) return status;
      t.items[i].length = static_cast<std::uint16_t>(a - t.items[i].start);
      return InsertItem(t, i + 1, tail);
    }
  }
}

bool TextsValid(const AnnotEntry& e) {
  return (e.text1 != nullptr || e.text1Size == 0) && (e.text2 != nullptr || e.text2Size == 0);
}

StatusCode CopyPath(const char16_t* path, std::uint32_t length, char16_t** out) {
  if (path == nullptr) return kFailed;
  if (length == 0) {
    while (length <= kPathMax && path[length] != 0)
      ++length;
  }
  if (length == 0) return kFailed;
  if (length > kPathMax) return kAnnotStoreCannotOpen;
  char16_t* copy = nullptr;
  const StatusCode status = Engine_AllocArray(length + 1, &copy);
  if (IsFailure(status)) return status;
  std::memcpy(copy, path, length * sizeof(char16_t));
  copy[length] = 0;
  *out = copy;
  return kOk;
}

// The database name: the file name, at most 27 characters, characters that
// do not fit a byte (and NUL) as '_'.
void DatabaseName(const char16_t* path, char name[kDbNameMax + 1]) {
  const char16_t* base = path;
  for (const char16_t* p = path; *p != 0; ++p) {
    if (*p == u'/' || *p == u'\\') base = p + 1;
  }
  std::uint32_t n = 0;
  for (; n < kDbNameMax && base[n] != 0; ++n) {
    name[n] = base[n] > 255 ? '_' : static_cast<char>(base[n]);
  }
  name[n] = 0;
}

// Makes the file a new empty annotation file. The database replaces the
// file in one step on close, so a failure leaves an existing file as it was;
// a file this call created is deleted again.
StatusCode CreateFile(AnnotStore& s) {
  (void)CloseStreams(s, false);  // nothing pending: every change committed already
  bool created = false;
  EngineObject* file = nullptr;
  StatusCode status = FsOpen(s.path, kFileOpenReadWrite, &file);
  if (IsFailure(status)) {
    status = FsOpen(s.path, kFileOpenCreate, &file);
    if (IsFailure(status)) return status == kOutOfMemory ? status : kAnnotStoreCannotOpen;
    created = true;
  }
  s.file = file;
  s.gate = {file, true};
  EngineObject* db = nullptr;
  status = DbFile_Open(g_DbFileModule, &s.gateObject, kDbOpenNew, &db);
  if (IsFailure(status)) {
    status = status == kOutOfMemory ? status : kAnnotStoreNoDatabase;
  } else {
    s.db = db;
    char name[kDbNameMax + 1];
    DatabaseName(s.path, name);
    status = DbFile_SetInfo(db, name, kType, kCreator, nullptr, nullptr);
    std::uint8_t header[kHeaderSize] = {kHeaderSize};
    StoreBE32(header + 8, kNone);
    StoreBE32(header + 12, kNone);
    std::uint16_t index = 0;
    if (!IsFailure(status)) status = DbFile_InsertRecord(db, &index, kHeaderSize, header);
    if (IsFailure(status)) status = status == kOutOfMemory ? status : kAnnotStoreNoDatabase;
  }
  const StatusCode closed = CloseStreams(s, !IsFailure(status));
  if (!IsFailure(status) && IsFailure(closed)) status = kAnnotStoreNoDatabase;
  // Already failing; a file left here is empty and is made again next time.
  if (IsFailure(status) && created) (void)FsDelete(s.path);
  return status;
}

// Removes the copies that killed writers left beside the file. Housekeeping
// only: a folder that cannot be listed shows its fault when the file opens.
void SweepBeside(const char16_t* path) {
  std::uint32_t cut = 0;
  for (std::uint32_t i = 0; i < kPathBufferSize && path[i] != 0; ++i)
    if (path[i] == u'/' || path[i] == u'\\') cut = i;
  std::array<char16_t, kPathBufferSize> folder{};
  if (cut == 0) {
    folder[0] = path[0] == u'/' ? u'/' : u'.';
  } else {
    std::memcpy(folder.data(), path, cut * sizeof(char16_t));
  }
  EngineObject* fs = g_FileSysModule ? g_FileSysModule : &FileSysModule;
  (void)FileSys_SweepLeftovers(fs, folder.data());
}

void FreeStore(AnnotStore* s) {
  FreeTable(s->table);
  Engine_Free(s->path);
  s->~AnnotStore();
  Engine_Free(s);
}

StatusCode OpenStore(const char16_t* path, std::uint32_t pathLength, std::uint32_t mode,
                     AnnotStore** out) {
  if (out == nullptr) return kNullOutPointer;
  if (mode > kAnnotOpenCreate) return kFailed;
  char16_t* copy = nullptr;
  StatusCode status = CopyPath(path, pathLength, &copy);
  if (IsFailure(status)) return status;
  void* memory = nullptr;
  status = Engine_Alloc(sizeof(AnnotStore), &memory);
  if (IsFailure(status)) {
    Engine_Free(copy);
    return status;
  }
  auto* s = new (memory) AnnotStore;
  s->path = copy;
  s->gateObject.state = &s->gate;
  SweepBeside(copy);

  if (mode == kAnnotOpenCreate) {
    status = CreateFile(*s);
    if (!IsFailure(status)) {
      status = OpenStreams(*s, true);
      if (IsFailure(status) && status != kOutOfMemory) status = OpenStreams(*s, false);
    }
  } else if (mode == kAnnotOpenWrite) {
    status = OpenStreams(*s, true);
    if (status == kAnnotStoreCannotOpen) {
      // Only a missing file is created; one that exists but cannot be
      // written is read as it is.
      if (FsExists(s->path) == kFileSysNotFound) {
        status = CreateFile(*s);
        if (!IsFailure(status)) status = OpenStreams(*s, true);
      } else {
        status = OpenStreams(*s, false);
      }
    }
  } else {
    status = OpenStreams(*s, false);
  }
  if (!IsFailure(status)) status = LoadTable(*s);
  if (IsFailure(status)) {
    (void)CloseStreams(*s, false);  // nothing pending; the open's failure is the answer
    FreeStore(s);
    return status;
  }
  *out = s;
  return kOk;
}

}  // namespace

// ---- interface -------------------------------------------------------------

StatusCode AnnotStore_Open(const char16_t* path, std::uint32_t pathLength, std::uint32_t mode,
                           AnnotStore** out) noexcept {
  return OpenStore(path, pathLength, mode, out);
}

StatusCode AnnotStore_Create(const char16_t* path, std::uint32_t pathLength,
                             AnnotStore** out) noexcept {
  return OpenStore(path, pathLength, kAnnotOpenCreate, out);
}

StatusCode AnnotStore_Close(AnnotStore* store) noexcept {
  if (store == nullptr) return kOk;
  // Every change wrote its header already; nothing is pending.
  const StatusCode status = CloseStreams(*store, false);
  FreeStore(store);
  return status;
}

StatusCode AnnotStore_GetCount(AnnotStore* store, std::uint16_t* count) noexcept {
  if (store == nullptr) return kBadArgument;
  if (count == nullptr) return kNullOutPointer;
  *count = static_cast<std::uint16_t>(store->table.count);
  return kOk;
}

StatusCode AnnotStore_GetAttributesAt(AnnotStore* store, std::uint32_t position,
                                      std::uint32_t* rangeEnd, std::uint8_t* attributes) noexcept {
  if (store == nullptr) return kBadArgument;
  if (rangeEnd == nullptr || attributes == nullptr) return kNullOutPointer;
  const Table& t = store->table;
  const std::uint32_t i = FirstEndingAfter(t, position);
  if (i < t.count && t.items[i].start < *rangeEnd) {
    const CacheItem& e = t.items[i];
    if (e.start <= position) {
      attributes[0] = e.attribute1;
      attributes[1] = e.attribute2;
      *rangeEnd = static_cast<std::uint32_t>(std::min<std::uint64_t>(*rangeEnd, e.End()));
      return kOk;
    }
    *rangeEnd = e.start;
  }
  attributes[0] = 0;
  attributes[1] = 0;
  return kOk;
}

StatusCode AnnotStore_GetEntry(AnnotStore* store, std::int32_t index, std::uint32_t position,
                               AnnotEntry* entry) noexcept {
  if (store == nullptr) return kBadArgument;
  if (entry == nullptr) return kNullOutPointer;
  const Table& t = store->table;
  std::uint32_t i = 0;
  if (index == -1) {
    i = FirstEndingAfter(t, position);
    if (i >= t.count || t.items[i].start > position) return kAnnotStoreNoEntry;
  } else {
    if (index < 0 || static_cast<std::uint32_t>(index) >= t.count) return kAnnotStoreNoEntry;
    i = static_cast<std::uint32_t>(index);
  }
  if ((entry->text1 != nullptr && entry->text1Size == kAnnotTextAll) ||
      (entry->text2 != nullptr && entry->text2Size == kAnnotTextAll)) {
    return kBadArgument;
  }
  if (store->db == nullptr) return kAnnotStoreCannotOpen;
  const CacheItem& item = t.items[i];
  const Heap heap(store->db, store->length, store->freeHead, store->freeTail);
  std::uint32_t lengths[2] = {};
  StatusCode status = heap.ReadTextLengths(item.block, &lengths[0], &lengths[1]);
  if (IsFailure(status)) return status;

  char* given[2] = {entry->text1, entry->text2};
  const std::uint32_t wanted[2] = {entry->text1Size, entry->text2Size};
  char* texts[2] = {};
  std::uint32_t sizes[2] = {};
  EngineBuffer<char> owned[2];
  std::uint32_t from = item.block + kMinBlock;
  for (int k = 0; k < 2; ++k) {
    if (wanted[k] != 0) {
      const std::uint32_t n = std::min(lengths[k], wanted[k]);
      char* buffer = given[k];
      if (buffer == nullptr) {
        status = Engine_AllocArray(n + 1, &buffer);
        if (IsFailure(status)) return status;
        owned[k].reset(buffer);
      }
      status = heap.Read(from, buffer, n);
      if (IsFailure(status)) return status;
      buffer[n] = 0;
      texts[k] = buffer;
      sizes[k] = n;
    }
    from += lengths[k];
  }
  owned[0].release();
  owned[1].release();
  entry->index = static_cast<std::uint16_t>(i);
  entry->start = item.start;
  entry->length = item.length;
  entry->attribute1 = item.attribute1;
  entry->attribute2 = item.attribute2;
  entry->text1 = texts[0];
  entry->text1Size = sizes[0];
  entry->text2 = texts[1];
  entry->text2Size = sizes[1];
  return kOk;
}

StatusCode AnnotStore_UpdateEntry(AnnotStore* store, std::int32_t index,
                                  const AnnotEntry* entry) noexcept {
  if (store == nullptr || entry == nullptr || !TextsValid(*entry)) return kBadArgument;
  if (index < 0 || static_cast<std::uint32_t>(index) >= store->table.count) {
    return kAnnotStoreNoEntry;
  }
  const std::uint64_t n = std::uint64_t{entry->text1Size} + entry->text2Size + 16;
  if (n > kMaxStream) return kOutOfMemory;
  Change c(*store);
  StatusCode status = c.Begin();
  if (!IsFailure(status) && static_cast<std::uint32_t>(index) >= c.table().count) {
    status = kAnnotStoreNoEntry;
  }
  if (IsFailure(status)) return c.End(status);
  CacheItem& item = c.table().items[index];
  std::uint32_t at = 0;
  status = c.heap().Resize(item.block, static_cast<std::uint32_t>(n), &at);
  if (!IsFailure(status)) {
    status =
        c.heap().WriteContent(at, entry->text1, entry->text1Size, entry->text2, entry->text2Size);
  }
  item.block = at;
  item.attribute1 = entry->attribute1;
  item.attribute2 = entry->attribute2;
  return c.End(status);
}

StatusCode AnnotStore_DeleteEntries(AnnotStore* store, std::int32_t index) noexcept {
  if (store == nullptr) return kBadArgument;
  if (index < -1 || (index >= 0 && static_cast<std::uint32_t>(index) >= store->table.count)) {
    return kAnnotStoreNoEntry;
  }
  if (index == -1 && store->table.count == 0) return kOk;
  Change c(*store);
  StatusCode status = c.Begin();
  const std::uint32_t count = c.table().count;
  std::uint32_t first = 0, n = count;
  if (index >= 0) {
    first = static_cast<std::uint32_t>(index);
    n = 1;
    if (first >= count) status = IsFailure(status) ? status : kAnnotStoreNoEntry;
  }
  for (std::uint32_t i = first + n; !IsFailure(status) && i-- > first;) {
    status = c.heap().FreeEntryBlock(c.table().items[i].block);
  }
  if (!IsFailure(status)) EraseItems(c.table(), first, n);
  return c.End(status);
}

StatusCode AnnotStore_Revalidate(AnnotStore* store) noexcept {
  if (store == nullptr) return kBadArgument;
  if (store->file != nullptr && store->db != nullptr) {
    std::uint8_t byte = 0;
    std::uint32_t got = 0;
    const StatusCode status = StreamOf(store->file).readAt(store->file, 0, &byte, 1, &got);
    if (!IsFailure(status) && got == 1) return kOk;
  }
  // The header is written by every change, so only the reopening is left.
  (void)CloseStreams(*store, false);
  return OpenStreams(*store, false);
}

StatusCode AnnotStore_AddEntry(AnnotStore* store, const AnnotEntry* entry) noexcept {
  if (store == nullptr || entry == nullptr || !TextsValid(*entry) || entry->length == 0) {
    return kBadArgument;
  }
  const std::uint32_t a = entry->start;
  const std::uint64_t b = std::uint64_t{a} + entry->length;
  if (b > 0x100000000u) return kBadArgument;
  Change c(*store);
  StatusCode status = c.Begin();
  // The new block first, then room in the table: all in the one change.
  CacheItem item{a, entry->length, entry->attribute1, entry->attribute2, 0, 0};
  if (!IsFailure(status)) {
    status = AllocateTexts(c.heap(), entry->text1, entry->text1Size, entry->text2, entry->text2Size,
                           &item.block);
  }
  if (!IsFailure(status)) status = ClearRange(c, a, b);
  if (!IsFailure(status)) status = InsertItem(c.table(), FirstEndingAfter(c.table(), a), item);
  return c.End(status);
}
