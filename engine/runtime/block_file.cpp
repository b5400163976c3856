#include "engine/runtime/block_file.h"

#include <cstring>
#include <new>

#include "engine/runtime/allocator.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "engine/runtime/sync.h"

namespace {

constexpr std::uint32_t kEndMark = 0xFFF00000u;
constexpr std::uint32_t kStartMark = 0x01000000u;
constexpr std::uint32_t kNextMask = 0x00FFFFFFu;

struct StreamBody;

struct ContainerBody {
  EngineObject* base;
  EngineObject* lock;  // semaphore of one, or null
  std::uint32_t blockSize;
  std::uint32_t perGroup;  // blocks per group, B / 4
  std::uint32_t logBlock;
  std::uint64_t groupBytes;
  std::uint32_t blockCount;
  std::uint32_t freeHead;
  StreamBody* open;      // the open streams, linked
  char16_t* commitPath;  // the file a working copy replaces at close, or null
  bool changed;          // the base was written since open
};

struct StreamBody {
  ContainerBody* container;
  StreamBody* nextOpen;
  std::uint32_t number;
  bool temporary;
  bool changed;
  std::uint32_t size;
  std::uint32_t position;
  std::uint32_t* blocks;  // the chain in order
  std::uint32_t count;
  std::uint32_t capacity;
};

using ContainerInstance = EngineInstance<ContainerBody>;
using StreamInstance = EngineInstance<StreamBody>;

StatusCode StreamClose(EngineObject* s) noexcept;
StatusCode StreamSeek(EngineObject* s, std::int32_t offset, std::uint32_t origin,
                      std::uint32_t* position) noexcept;
StatusCode StreamRead(EngineObject* s, void* buffer, std::uint32_t n,
                      std::uint32_t* count) noexcept;
StatusCode StreamWrite(EngineObject* s, const void* buffer, std::uint32_t n,
                       std::uint32_t* count) noexcept;
StatusCode StreamGetSize(EngineObject* s, std::uint32_t* size) noexcept;
StatusCode StreamSetSize(EngineObject* s, std::uint32_t size) noexcept;
StatusCode StreamReserve(EngineObject* s, std::uint32_t capacity) noexcept;

constexpr StreamOps kStreamOps = MakeStreamOps({
    .close = StreamClose,
    .seek = StreamSeek,
    .read = StreamRead,
    .write = StreamWrite,
    .getSize = StreamGetSize,
    .setSize = StreamSetSize,
    .reserve = StreamReserve,
});

const BlockFileOps kBlockFileOps = {
    Core_NotImplemented,    BlockFile_Open,          BlockFile_Close,
    BlockFile_OpenPath,     BlockFile_OpenStream,    BlockFile_CreateStream,
    BlockFile_DeleteStream, BlockFile_EnableLocking, Core_NotImplemented,
};

ContainerBody& Body(EngineObject* container) {
  return BodyOf<ContainerBody>(container);
}

// Holds the container's lock, when it has one, for one public operation.
class Locked {
 public:
  explicit Locked(ContainerBody& c) : lock_(c.lock) {
    if (lock_ != nullptr) (void)Sync_WaitSemaphore(lock_, kSyncWaitForever);  // no time limit
  }
  ~Locked() {
    if (lock_ != nullptr) (void)Sync_SignalSemaphore(lock_);  // held, so below the maximum
  }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  EngineObject* lock_;
};

std::uint64_t BlockOffset(const ContainerBody& c, std::uint32_t block) {
  return std::uint64_t{block} << c.logBlock;
}

std::uint32_t EntryOffset(const ContainerBody& c, std::uint32_t block) {
  const std::uint32_t chain = block - block % c.perGroup;
  return static_cast<std::uint32_t>(BlockOffset(c, chain) + 4 * (block % c.perGroup));
}

bool IsChainBlock(const ContainerBody& c, std::uint32_t block) {
  return block % c.perGroup == 0;
}

StatusCode ReadEntry(ContainerBody& c, std::uint32_t block, std::uint32_t* value) {
  if (block >= c.blockCount) return kBlockFileBadChain;
  std::uint8_t raw[4];
  if (Stream_ReadExact(c.base, EntryOffset(c, block), raw, 4) != kOk) return kFailed;
  *value = std::uint32_t{raw[0]} | std::uint32_t{raw[1]} << 8 | std::uint32_t{raw[2]} << 16 |
           std::uint32_t{raw[3]} << 24;
  return kOk;
}

StatusCode WriteEntry(ContainerBody& c, std::uint32_t block, std::uint32_t value) {
  const std::uint8_t raw[4] = {
      static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
      static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  c.changed = true;
  return Stream_WriteExact(c.base, EntryOffset(c, block), raw, 4) == kOk ? kOk : kFailed;
}

StatusCode WriteHeader(ContainerBody& c) {
  return WriteEntry(c, 0, (c.logBlock - 9) | c.freeHead << 8);
}

// Grows the base by one group whose blocks 1.. form the new free chain.
StatusCode AddGroup(ContainerBody& c) {
  const std::uint64_t oldSize = std::uint64_t{c.blockCount} << c.logBlock;
  const std::uint64_t newSize = oldSize + c.groupBytes;
  if (newSize > 0xFFFFFFFFu) return kOutOfMemory;
  std::uint32_t* table = nullptr;
  if (Engine_AllocArray(c.perGroup, &table) != kOk) return kOutOfMemory;
  EngineBuffer<std::uint32_t> owned(table);
  const std::uint32_t first = c.blockCount;
  for (std::uint32_t i = 0; i < c.perGroup; ++i) {
    const std::uint32_t v = i == 0 || i + 1 == c.perGroup ? 0 : first + i + 1;
    auto* p = reinterpret_cast<std::uint8_t*>(table + i);
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
  }
  StatusCode s = StreamOf(c.base).setSize(c.base, static_cast<std::uint32_t>(newSize));
  if (s != kOk) return s;
  s = Stream_WriteExact(c.base, static_cast<std::uint32_t>(oldSize), table, c.blockSize);
  if (s != kOk) return s;
  c.blockCount += c.perGroup;
  c.freeHead = first + 1;
  return WriteHeader(c);
}

// Takes the head of the free chain, adding a group when it is empty.
StatusCode TakeBlock(ContainerBody& c, std::uint32_t* block) {
  if (c.freeHead == 0) {
    const StatusCode s = AddGroup(c);
    if (s != kOk) return s;
  }
  std::uint32_t next = 0;
  const StatusCode s = ReadEntry(c, c.freeHead, &next);
  if (s != kOk) return s;
  if (next > kNextMask || (next != 0 && (next >= c.blockCount || IsChainBlock(c, next))) ||
      next == c.freeHead) {
    return kBlockFileBadChain;
  }
  *block = c.freeHead;
  c.freeHead = next;
  return WriteHeader(c);
}

// Links blocks[0..count) in front of the free chain.
StatusCode FreeBlocks(ContainerBody& c, const std::uint32_t* blocks, std::uint32_t count) {
  if (count == 0) return kOk;
  for (std::uint32_t i = 0; i < count; ++i) {
    const StatusCode s = WriteEntry(c, blocks[i], i + 1 < count ? blocks[i + 1] : c.freeHead);
    if (s != kOk) return s;
  }
  c.freeHead = blocks[0];
  return WriteHeader(c);
}

StatusCode AppendBlock(StreamBody& st, std::uint32_t block) {
  if (st.count == st.capacity) {
    const std::uint32_t grown = st.capacity < 16 ? 16 : st.capacity * 2;
    void* p = st.blocks;
    if (Engine_Realloc(grown * 4u, &p) != kOk) return kOutOfMemory;
    st.blocks = static_cast<std::uint32_t*>(p);
    st.capacity = grown;
  }
  st.blocks[st.count++] = block;
  return kOk;
}

// Walks the chain that starts at number into st.blocks; *lastBytes is the
// end entry's byte count.
StatusCode WalkChain(ContainerBody& c, std::uint32_t number, StreamBody& st,
                     std::uint32_t* lastBytes) {
  if (number >= c.blockCount || IsChainBlock(c, number)) return kBlockFileNotAStream;
  std::uint32_t v = 0;
  StatusCode s = ReadEntry(c, number, &v);
  if (s != kOk) return s;
  const bool single = (v & kEndMark) == kEndMark;
  if (!single && (v & ~kNextMask) != kStartMark) return kBlockFileNotAStream;
  s = AppendBlock(st, number);
  if (s != kOk) return s;
  while ((v & kEndMark) != kEndMark) {
    const std::uint32_t next = v & kNextMask;
    if (next == 0 || next >= c.blockCount || IsChainBlock(c, next) || st.count >= c.blockCount) {
      return kBlockFileBadChain;
    }
    s = AppendBlock(st, next);
    if (s == kOk) s = ReadEntry(c, next, &v);
    if (s != kOk) return s;
    if ((v & kEndMark) != kEndMark && (v == 0 || v > kNextMask)) return kBlockFileBadChain;
  }
  const std::uint32_t bytes = v & ~kEndMark;
  if (bytes > c.blockSize || (bytes == 0 && st.count > 1)) return kBlockFileBadChain;
  *lastBytes = bytes;
  return kOk;
}

StatusCode NewStream(ContainerBody& c, EngineObject** out, StreamBody** body) {
  void* block = nullptr;
  if (Engine_Alloc(sizeof(StreamInstance), &block) != kOk) return kOutOfMemory;
  auto* inst = new (block) StreamInstance{};
  inst->header = {&inst->body, &kStreamOps};
  inst->body.container = &c;
  *out = &inst->header;
  *body = &inst->body;
  return kOk;
}

void Register(ContainerBody& c, StreamBody& st) {
  st.nextOpen = c.open;
  c.open = &st;
}

bool IsOpen(const ContainerBody& c, std::uint32_t number) {
  for (const StreamBody* p = c.open; p != nullptr; p = p->nextOpen)
    if (p->number == number) return true;
  return false;
}

StatusCode ReserveBlocks(StreamBody& st, std::uint32_t capacity) {
  if (capacity & 0x80000000u) return kFailed;
  ContainerBody& c = *st.container;
  std::uint32_t need =
      static_cast<std::uint32_t>((std::uint64_t{capacity} + c.blockSize - 1) >> c.logBlock);
  if (need == 0) need = 1;
  while (st.count < need) {
    std::uint32_t block = 0;
    StatusCode s = TakeBlock(c, &block);
    if (s == kOk) s = WriteEntry(c, block, kEndMark);
    if (s == kOk) s = WriteEntry(c, st.blocks[st.count - 1], block);
    if (s == kOk) s = AppendBlock(st, block);
    if (s != kOk) return s;
    st.changed = true;
  }
  return kOk;
}

// Moves bytes between the stream's blocks and a buffer; toStream writes.
StatusCode Transfer(StreamBody& st, std::uint32_t at, std::uint8_t* bytes, std::uint32_t n,
                    bool toStream) {
  ContainerBody& c = *st.container;
  if (toStream) c.changed = true;
  while (n != 0) {
    const std::uint32_t index = at >> c.logBlock;
    const std::uint32_t offset = at & (c.blockSize - 1);
    const std::uint32_t piece = n < c.blockSize - offset ? n : c.blockSize - offset;
    const auto where = static_cast<std::uint32_t>(BlockOffset(c, st.blocks[index]) + offset);
    const StatusCode s = toStream ? Stream_WriteExact(c.base, where, bytes, piece)
                                  : Stream_ReadExact(c.base, where, bytes, piece);
    if (s != kOk) return s;
    at += piece;
    bytes += piece;
    n -= piece;
  }
  return kOk;
}

StatusCode ZeroRange(StreamBody& st, std::uint32_t from, std::uint32_t to) {
  static std::uint8_t zeros[512] = {};
  while (from < to) {
    const std::uint32_t n = to - from < sizeof zeros ? to - from : sizeof zeros;
    const StatusCode s = Transfer(st, from, zeros, n, true);
    if (s != kOk) return s;
    from += n;
  }
  return kOk;
}

StatusCode Resize(StreamBody& st, std::uint32_t size) {
  StatusCode s = ReserveBlocks(st, size);
  if (s != kOk) return s;
  if (size > st.size) {
    s = ZeroRange(st, st.size, size);  // reused blocks hold old bytes
    if (s != kOk) return s;
  }
  st.size = size;
  st.changed = true;
  return kOk;
}

// Settles a stream's chain: a temporary one is freed whole; a changed one
// gives back the blocks past its end and gets its start and end entries.
StatusCode Settle(StreamBody& st) {
  ContainerBody& c = *st.container;
  if (st.temporary) return FreeBlocks(c, st.blocks, st.count);
  if (!st.changed) return kOk;
  std::uint32_t keep =
      static_cast<std::uint32_t>((std::uint64_t{st.size} + c.blockSize - 1) >> c.logBlock);
  if (keep == 0) keep = 1;
  StatusCode s = FreeBlocks(c, st.blocks + keep, st.count - keep);
  if (s != kOk) return s;
  st.count = keep;
  const std::uint32_t lastBytes = st.size - ((keep - 1) << c.logBlock);
  s = WriteEntry(c, st.blocks[keep - 1], kEndMark + lastBytes);
  if (s == kOk && keep > 1) s = WriteEntry(c, st.blocks[0], kStartMark + st.blocks[1]);
  if (s == kOk) st.changed = false;
  return s;
}

StreamBody& SBody(EngineObject* s) {
  return BodyOf<StreamBody>(s);
}

StatusCode StreamClose(EngineObject* s) noexcept {
  StreamBody& st = SBody(s);
  ContainerBody& c = *st.container;
  StatusCode result = kOk;
  {
    Locked lock(c);
    result = Settle(st);
    for (StreamBody** p = &c.open; *p != nullptr; p = &(*p)->nextOpen) {
      if (*p == &st) {
        *p = st.nextOpen;
        break;
      }
    }
  }
  Engine_Free(st.blocks);
  Engine_Free(s);
  return result;
}

StatusCode StreamSeek(EngineObject* s, std::int32_t offset, std::uint32_t origin,
                      std::uint32_t* position) noexcept {
  StreamBody& st = SBody(s);
  Locked lock(*st.container);
  std::int64_t from = 0;
  switch (origin) {
    case kSeekSet:
      break;
    case kSeekCur:
      from = st.position;
      break;
    case kSeekEnd:
      from = st.size;
      break;
    default:
      return kBadSeekOrigin;
  }
  const std::int64_t to = from + offset;
  if (to < 0 || to > 0xFFFFFFFF) return kFailed;
  st.position = static_cast<std::uint32_t>(to);
  if (position != nullptr) *position = st.position;
  return kOk;
}

StatusCode StreamRead(EngineObject* s, void* buffer, std::uint32_t n,
                      std::uint32_t* count) noexcept {
  StreamBody& st = SBody(s);
  Locked lock(*st.container);
  const std::uint32_t left = st.size > st.position ? st.size - st.position : 0;
  const std::uint32_t take = n < left ? n : left;
  const StatusCode r = Transfer(st, st.position, static_cast<std::uint8_t*>(buffer), take, false);
  if (r != kOk) return r;
  st.position += take;
  if (count != nullptr) {
    *count = take;
    return kOk;
  }
  return take == n ? kOk : kStreamShortRead;
}

StatusCode StreamWrite(EngineObject* s, const void* buffer, std::uint32_t n,
                       std::uint32_t* count) noexcept {
  StreamBody& st = SBody(s);
  Locked lock(*st.container);
  const std::uint64_t end = std::uint64_t{st.position} + n;
  if (end > 0x7FFFFFFFu) return kStreamShortWrite;
  if (end > st.size) {
    const StatusCode r = Resize(st, static_cast<std::uint32_t>(end));
    if (r != kOk) return r;
  }
  const StatusCode r =
      Transfer(st, st.position, static_cast<std::uint8_t*>(const_cast<void*>(buffer)), n, true);
  if (r != kOk) return r;
  st.changed = true;
  st.position += n;
  if (count != nullptr) *count = n;
  return kOk;
}

StatusCode StreamGetSize(EngineObject* s, std::uint32_t* size) noexcept {
  if (size == nullptr) return kNullOutPointer;
  StreamBody& st = SBody(s);
  Locked lock(*st.container);
  *size = st.size;
  return kOk;
}

StatusCode StreamSetSize(EngineObject* s, std::uint32_t size) noexcept {
  StreamBody& st = SBody(s);
  Locked lock(*st.container);
  return Resize(st, size);
}

StatusCode StreamReserve(EngineObject* s, std::uint32_t capacity) noexcept {
  StreamBody& st = SBody(s);
  Locked lock(*st.container);
  return ReserveBlocks(st, capacity);
}

}  // namespace

EngineObject BlockFileModule = {nullptr, &kBlockFileOps};

StatusCode BlockFile_Open(EngineObject*, EngineObject* base, std::uint32_t blockSize,
                          EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (base == nullptr) return kBadArgument;
  std::uint32_t size = 0;
  StatusCode s = StreamOf(base).getSize(base, &size);
  if (s != kOk) return s;
  ContainerBody c{};
  c.base = base;
  if (size == 0) {
    if (blockSize == 0) blockSize = kBlockFileDefaultBlock;
    std::uint32_t log = 9;
    while (log <= 16 && (1u << log) != blockSize)
      ++log;
    if (log > 16) return kBlockFileBadBlockSize;
    c.logBlock = log;
  } else {
    if (size <= 3) return kBlockFileTooShort;
    std::uint8_t raw[4];
    if (Stream_ReadExact(base, 0, raw, 4) != kOk) return kBlockFileHeaderRead;
    const std::uint32_t header = std::uint32_t{raw[0]} | std::uint32_t{raw[1]} << 8 |
                                 std::uint32_t{raw[2]} << 16 | std::uint32_t{raw[3]} << 24;
    c.logBlock = 9 + (header & 7u);
    c.freeHead = header >> 8;
  }
  c.blockSize = 1u << c.logBlock;
  c.perGroup = c.blockSize / 4;
  c.groupBytes = std::uint64_t{c.blockSize} * c.perGroup;
  if (size != 0) {
    if (size % c.groupBytes != 0) return kBlockFileNotWholeGroups;
    c.blockCount = size >> c.logBlock;
    if (c.freeHead >= c.blockCount || (c.freeHead != 0 && IsChainBlock(c, c.freeHead)))
      return kBlockFileBadFreeHead;
  }
  void* block = nullptr;
  if (Engine_Alloc(sizeof(ContainerInstance), &block) != kOk) return kBlockFileNoChainBuffer;
  auto* inst = new (block) ContainerInstance{};
  inst->header = {&inst->body, &kBlockFileOps};
  inst->body = c;
  if (size == 0) {
    s = AddGroup(inst->body);
    if (s != kOk) {
      Engine_Free(block);
      return s;
    }
  }
  *out = &inst->header;
  return kOk;
}

StatusCode BlockFile_Close(EngineObject* container) noexcept {
  if (container == nullptr) return kBadArgument;
  ContainerBody& c = Body(container);
  {
    Locked lock(c);
    if (c.open != nullptr) return kBlockFileStreamsOpen;
  }
  // A working copy replaces its file in one step, or the file keeps its old
  // bytes; the copy (a temporary file) goes with the base's close.
  StatusCode s = kOk;
  if (c.commitPath != nullptr && c.changed)
    s = FileSys_ReplaceFileFromStream(g_FileSysModule, c.commitPath, c.base);
  const StatusCode closed = StreamOf(c.base).close(c.base);
  if (s == kOk) s = closed;
  if (c.lock != nullptr) (void)Sync_Release(c.lock);  // always 0
  Engine_Free(c.commitPath);
  Engine_Free(container);
  return s;
}

namespace {

// Files come from the file-system module of the module table, as they do for
// the other stores, so the file system the host registered is the one asked.
StatusCode OpenFile(char16_t* path, std::uint32_t bufferLength, std::uint32_t type,
                    EngineObject** out) {
  EngineObject* fs = g_FileSysModule != nullptr ? g_FileSysModule : &FileSysModule;
  return OpsOf<FileSysOps>(fs).open(fs, path, bufferLength, type, out);
}

// A container on a temporary copy of the file at path (an existing file's
// bytes, or nothing for kFileOpenCreate), which replaces the file at close.
// The file itself is never written in place, so a crash or a full disk
// leaves it with its old bytes or, once the container is closed, its new
// ones.
StatusCode OpenWorkingCopy(EngineObject* module, char16_t* path, std::uint32_t type,
                           std::uint32_t blockSize, EngineObject** out) {
  std::uint32_t units = 0;
  while (units < kPathMax && path[units] != 0)
    ++units;
  if (units == kPathMax) return kFileSysPathTooLong;
  char16_t* commitPath = nullptr;
  StatusCode s = Engine_AllocArray(units + 1, &commitPath);
  if (s != kOk) return s;
  EngineBuffer<char16_t> ownedPath(commitPath);
  std::memcpy(commitPath, path, (units + 1) * sizeof(char16_t));

  EngineObject* copy = nullptr;
  s = OpenFile(nullptr, 0, kFileOpenTemporary, &copy);
  if (s != kOk) return s;
  if (type == kFileOpenReadWrite) {
    // Opened for writing so that a file we could not replace fails now.
    EngineObject* file = nullptr;
    s = OpenFile(path, 0, kFileOpenReadWrite, &file);
    std::uint32_t size = 0;
    if (s == kOk) s = StreamOf(file).getSize(file, &size);
    if (s == kOk && size != 0) s = StreamOf(file).copyTo(file, 0, size, copy, 0);
    if (file != nullptr) (void)StreamOf(file).close(file);  // only read from
  }
  if (s == kOk) s = BlockFile_Open(module, copy, blockSize, out);
  if (s != kOk) {
    (void)StreamOf(copy).close(copy);  // the open failure is the answer
    return s;
  }
  ContainerBody& c = Body(*out);
  c.commitPath = ownedPath.release();
  // A new file is written at close even when nothing else changes.
  if (type == kFileOpenCreate) c.changed = true;
  return kOk;
}

}  // namespace

StatusCode BlockFile_OpenPath(EngineObject* module, char16_t* path, std::uint32_t bufferLength,
                              std::uint32_t type, std::uint32_t blockSize,
                              EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if ((type == kFileOpenReadWrite || type == kFileOpenCreate) && path != nullptr)
    return OpenWorkingCopy(module, path, type, blockSize, out);
  EngineObject* file = nullptr;
  StatusCode s = OpenFile(path, bufferLength, type, &file);
  if (s != kOk) return s;
  s = BlockFile_Open(module, file, blockSize, out);
  if (s != kOk) (void)StreamOf(file).close(file);  // the open failure is the answer
  return s;
}

StatusCode BlockFile_OpenStream(EngineObject* container, std::uint32_t number,
                                EngineObject** stream) noexcept {
  if (container == nullptr || stream == nullptr) return kBadArgument;
  ContainerBody& c = Body(container);
  Locked lock(c);
  if (IsOpen(c, number)) return kBlockFileStreamBusy;
  EngineObject* object = nullptr;
  StreamBody* st = nullptr;
  StatusCode s = NewStream(c, &object, &st);
  if (s != kOk) return s;
  std::uint32_t lastBytes = 0;
  s = WalkChain(c, number, *st, &lastBytes);
  if (s != kOk) {
    Engine_Free(st->blocks);
    Engine_Free(object);
    return s;
  }
  st->number = number;
  st->size = ((st->count - 1) << c.logBlock) + lastBytes;
  Register(c, *st);
  *stream = object;
  return kOk;
}

StatusCode BlockFile_CreateStream(EngineObject* container, std::uint32_t* number,
                                  EngineObject** stream) noexcept {
  if (container == nullptr || stream == nullptr) return kBadArgument;
  ContainerBody& c = Body(container);
  Locked lock(c);
  EngineObject* object = nullptr;
  StreamBody* st = nullptr;
  StatusCode s = NewStream(c, &object, &st);
  if (s != kOk) return s;
  std::uint32_t block = 0;
  s = TakeBlock(c, &block);
  // Marked as an empty stream at once, so a create-then-close leaves a stream.
  if (s == kOk) s = WriteEntry(c, block, kEndMark);
  if (s == kOk) s = AppendBlock(*st, block);
  if (s != kOk) {
    Engine_Free(st->blocks);
    Engine_Free(object);
    return s;
  }
  st->number = block;
  st->temporary = number == nullptr;
  Register(c, *st);
  if (number != nullptr) *number = block;
  *stream = object;
  return kOk;
}

StatusCode BlockFile_DeleteStream(EngineObject* container, std::uint32_t number) noexcept {
  if (container == nullptr) return kBadArgument;
  ContainerBody& c = Body(container);
  Locked lock(c);
  if (IsOpen(c, number)) return kBlockFileStreamBusy;
  StreamBody walk{};
  walk.container = &c;
  std::uint32_t lastBytes = 0;
  StatusCode s = WalkChain(c, number, walk, &lastBytes);
  if (s == kOk) s = FreeBlocks(c, walk.blocks, walk.count);
  Engine_Free(walk.blocks);
  return s;
}

StatusCode BlockFile_EnableLocking(EngineObject* container) noexcept {
  if (container == nullptr) return kBadArgument;
  ContainerBody& c = Body(container);
  if (c.lock != nullptr) return kOk;
  return Sync_CreateSemaphore(g_SyncModule, 1, 1, &c.lock);
}
