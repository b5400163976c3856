#include "engine/formats/pos_list.h"

#include <algorithm>
#include <cstring>

#include "engine/runtime/allocator.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/str.h"
#include "engine/runtime/swap.h"

namespace {

const DbFileOps& DbOf(EngineObject* db) {
  return OpsOf<DbFileOps>(db);
}

constexpr std::uint32_t Even(std::uint32_t n) {
  return (n + 1u) & ~1u;
}

// The names area of a checked record.
struct NamesArea {
  const std::uint8_t* begin;
  const std::uint8_t* end;
};

NamesArea AreaOf(const std::uint8_t* data, const PosListRecord& h) {
  return {data + h.namesOffset, data + h.namesOffset + h.namesLength};
}

// The length (without NUL) of the name starting at p, or -1 when its NUL is
// not inside the area.
std::int32_t NameLength(const std::uint8_t* p, const std::uint8_t* end) {
  const void* nul = std::memchr(p, 0, static_cast<std::size_t>(end - p));
  if (nul == nullptr) return -1;
  return static_cast<std::int32_t>(static_cast<const std::uint8_t*>(nul) - p);
}

// Start of name i of a checked record (every name has its NUL in the area).
const std::uint8_t* NameAt(const std::uint8_t* data, const PosListRecord& h, std::uint32_t i) {
  const NamesArea area = AreaOf(data, h);
  const std::uint8_t* p = area.begin;
  for (std::uint32_t k = 0; k < i; ++k)
    p += NameLength(p, area.end) + 1;
  return p;
}

// A reader's lock: locks on construction, unlocks on destruction when the
// lock loaded or shared a record.
class ReadLock {
 public:
  ReadLock(EngineObject* db, PosListHandle* handle) : db_(db), handle_(handle) {
    const std::uint16_t before = handle->lockCount;
    status_ = PosList_Lock(db, handle);
    held_ = !IsFailure(status_) && handle->lockCount > before;
  }
  ~ReadLock() {
    // Only the last unlock frees the loaded copy; nothing to report from here.
    if (held_) (void)PosList_Unlock(db_, handle_);
  }
  ReadLock(const ReadLock&) = delete;
  ReadLock& operator=(const ReadLock&) = delete;

  // A record is loaded and valid.
  bool Holds() const { return held_ && handle_->data != nullptr; }
  StatusCode Status() const { return status_; }
  PosListRecord Header() const { return PosList_LoadHeader(handle_->data); }
  const std::uint8_t* Data() const { return handle_->data; }
  // Keeps the lock past this object (GetNames).
  void Keep() { held_ = false; }

 private:
  EngineObject* db_;
  PosListHandle* handle_;
  StatusCode status_ = kOk;
  bool held_ = false;
};

// One entry while a record is rebuilt.
struct Entry {
  const std::uint8_t* name;
  std::uint32_t length;  // with NUL
  std::uint32_t value;
};

// A writer's session: the record read whole from its stream, checked, and
// its entries in an array that the operation rearranges before Commit.
class Edit {
 public:
  Edit() = default;
  Edit(const Edit&) = delete;
  Edit& operator=(const Edit&) = delete;
  ~Edit() {
    // An edit that was not committed is abandoned: the record stays as it was.
    if (stream_ != nullptr) (void)PosList_CloseForWrite(stream_, nullptr);
  }

  // Opens the record and reads it; room for `extra` more entries.
  StatusCode Begin(EngineObject* db, PosListHandle* handle, std::uint32_t extra) {
    if (db == nullptr || handle == nullptr) return kBadArgument;
    StatusCode s = PosList_OpenForWrite(db, handle, &size_, &stream_, &header_);
    if (IsFailure(s)) return s;
    void* raw = nullptr;
    s = Engine_Alloc(std::max<std::uint32_t>(size_, 1), &raw);
    if (IsFailure(s)) return s;
    bytes_.reset(static_cast<std::uint8_t*>(raw));
    std::uint32_t got = 0;
    s = StreamOf(stream_).readAt(stream_, 0, bytes_.get(), size_, &got);
    if (IsFailure(s)) return s;
    if (got != size_) return kStreamShortRead;
    s = PosList_CheckRecord(bytes_.get(), size_, &header_);
    if (IsFailure(s)) return s;
    Entry* entries = nullptr;
    s = Engine_AllocArray<Entry>(std::uint32_t{header_.count} + extra + 1, &entries);
    if (IsFailure(s)) return s;
    entries_.reset(entries);
    const NamesArea area = AreaOf(bytes_.get(), header_);
    const std::uint8_t* p = area.begin;
    for (std::uint32_t k = 0; k < header_.count; ++k) {
      const auto length = static_cast<std::uint32_t>(NameLength(p, area.end)) + 1;
      entries_.get()[k] = {p, length, LoadBE32(bytes_.get() + PosList_ValueOffset(header_, k))};
      namesUsed_ += length;
      p += length;
    }
    count_ = header_.count;
    return kOk;
  }

  // Closes the stream without touching the header, storing what was written
  // to it; the close's status (storing the record can fail).
  StatusCode Finish() {
    EngineObject* stream = stream_;
    stream_ = nullptr;
    return PosList_CloseForWrite(stream, nullptr);
  }

  Entry* Entries() { return entries_.get(); }
  std::uint32_t& Count() { return count_; }
  const PosListRecord& Header() const { return header_; }
  EngineObject* Stream() { return stream_; }

  // Writes the record rebuilt from the entries: the bytes between the header
  // and the names, the names, any unused tail of the old names area, the even
  // padding, the values and the bytes that followed the old values.
  StatusCode Commit() {
    const std::uint32_t slack = header_.namesLength - namesUsed_;
    std::uint32_t names = slack;
    for (std::uint32_t k = 0; k < count_; ++k)
      names += entries_.get()[k].length;
    const std::uint32_t oldValuesEnd = PosList_ValueOffset(header_, header_.count);
    const std::uint32_t tail = size_ - oldValuesEnd;
    const std::uint64_t newSize =
        std::uint64_t{header_.namesOffset} + Even(names) + 4ull * count_ + tail;
    if (newSize > kPosListMaxRecord || count_ > 0xFFFFu) return kPosListFull;
    void* raw = nullptr;
    StatusCode s = Engine_Alloc(static_cast<std::uint32_t>(newSize), &raw);
    if (IsFailure(s)) return s;
    EngineBuffer<std::uint8_t> out(static_cast<std::uint8_t*>(raw));
    std::uint8_t* o = out.get();
    const std::uint8_t* in = bytes_.get();
    std::memcpy(o, in, header_.namesOffset);
    std::uint8_t* p = o + header_.namesOffset;
    for (std::uint32_t k = 0; k < count_; ++k) {
      std::memcpy(p, entries_.get()[k].name, entries_.get()[k].length);
      p += entries_.get()[k].length;
    }
    std::memcpy(p, in + header_.namesOffset + namesUsed_, slack);
    p += slack;
    if ((names & 1u) != 0) *p++ = 0;
    for (std::uint32_t k = 0; k < count_; ++k, p += 4)
      StoreBE32(p, entries_.get()[k].value);
    std::memcpy(p, in + oldValuesEnd, tail);
    PosListRecord h = header_;
    h.count = static_cast<std::uint16_t>(count_);
    h.namesLength = static_cast<std::uint16_t>(names);
    const StreamOps& ops = StreamOf(stream_);
    s = ops.setSize(stream_, static_cast<std::uint32_t>(newSize));
    if (!IsFailure(s)) {
      s = ops.writeAt(stream_, kPosListHeaderSize, o + kPosListHeaderSize,
                      static_cast<std::uint32_t>(newSize) - kPosListHeaderSize, nullptr);
    }
    EngineObject* stream = stream_;
    stream_ = nullptr;
    const StatusCode closed = PosList_CloseForWrite(stream, IsFailure(s) ? nullptr : &h);
    return IsFailure(s) ? s : closed;
  }

 private:
  EngineObject* stream_ = nullptr;
  std::uint32_t size_ = 0;
  PosListRecord header_{};
  EngineBuffer<std::uint8_t> bytes_;
  EngineBuffer<Entry> entries_;
  std::uint32_t count_ = 0;
  std::uint32_t namesUsed_ = 0;
};

// The length of a caller's name without NUL, read no further than 256 bytes;
// kDocListNameTooLong past 255.
StatusCode CallerName(const char* name, std::uint32_t* length) {
  if (name == nullptr) return kBadArgument;
  const std::size_t n = strnlen(name, kPosListMaxName + 1);
  if (n > kPosListMaxName) return kDocListNameTooLong;
  *length = static_cast<std::uint32_t>(n);
  return kOk;
}

}  // namespace

PosListRecord PosList_LoadHeader(const std::uint8_t* stored) noexcept {
  return {LoadBE16(stored), LoadBE16(stored + 2), LoadBE16(stored + 4), LoadBE16(stored + 6)};
}

void PosList_StoreHeader(const PosListRecord& header, std::uint8_t* stored) noexcept {
  StoreBE16(stored, header.namesOffset);
  StoreBE16(stored + 2, header.reserved);
  StoreBE16(stored + 4, header.count);
  StoreBE16(stored + 6, header.namesLength);
}

std::uint32_t PosList_ValueOffset(const PosListRecord& header, std::uint32_t i) noexcept {
  return std::uint32_t{header.namesOffset} + Even(header.namesLength) + 4u * i;
}

StatusCode PosList_CheckRecord(const std::uint8_t* data, std::uint32_t size,
                               PosListRecord* header) noexcept {
  if (data == nullptr || size < kPosListHeaderSize) return kDocListTooShort;
  const PosListRecord h = PosList_LoadHeader(data);
  if (h.namesOffset < kPosListHeaderSize || PosList_ValueOffset(h, h.count) > size) {
    return kDocListTooShort;
  }
  const NamesArea area = AreaOf(data, h);
  const std::uint8_t* p = area.begin;
  for (std::uint32_t k = 0; k < h.count; ++k) {
    const std::int32_t n = NameLength(p, area.end);
    if (n < 0) return kDocListTooShort;
    p += n + 1;
  }
  if (header != nullptr) *header = h;
  return kOk;
}

StatusCode PosList_Lock(EngineObject* db, PosListHandle* handle) noexcept {
  if (handle == nullptr) return kBadArgument;
  if (handle->lockCount > 0) {
    if (handle->lockCount == 0xFFFF) return kFailed;
    ++handle->lockCount;
    return kOk;
  }
  if (db == nullptr || handle->recordNumber == 0) return kOk;
  std::uint32_t size = 0;
  void* buffer = nullptr;
  const StatusCode s = DbOf(db).readRecord(db, handle->recordNumber, &size, &buffer);
  if (IsFailure(s)) return s;
  const auto* data = static_cast<const std::uint8_t*>(buffer);
  if (IsFailure(PosList_CheckRecord(data, size, nullptr))) {
    (void)DbOf(db).freeRecordBuffer(db, buffer);  // the refusal is what the caller hears
    return kDocListTooShort;
  }
  handle->data = data;
  handle->size = size;
  handle->lockCount = 1;
  return kOk;
}

StatusCode PosList_Unlock(EngineObject* db, PosListHandle* handle) noexcept {
  if (handle == nullptr) return kBadArgument;
  if (handle->lockCount == 0) return kDocListNotLocked;
  if (--handle->lockCount > 0) return kOk;
  void* buffer = const_cast<std::uint8_t*>(handle->data);
  handle->data = nullptr;
  handle->size = 0;
  return db != nullptr ? DbOf(db).freeRecordBuffer(db, buffer) : kOk;
}

StatusCode PosList_OpenForWrite(EngineObject* db, PosListHandle* handle, std::uint32_t* size,
                                EngineObject** stream, PosListRecord* header) noexcept {
  if (db == nullptr || handle == nullptr) return kBadArgument;
  if (size == nullptr || stream == nullptr) return kNullOutPointer;
  if (handle->lockCount > 0) return kPosListBusy;
  const DbFileOps& ops = DbOf(db);
  if (handle->recordNumber == 0) {
    std::uint16_t count = 0;
    StatusCode s = ops.getInfo(db, nullptr, nullptr, nullptr, nullptr, nullptr, &count);
    if (IsFailure(s)) return s;
    // Record 0 belongs to the document or the settings; number 0 means "none".
    if (count == 0) return kBadArgument;
    std::uint8_t fresh[kPosListHeaderSize] = {};
    PosList_StoreHeader({static_cast<std::uint16_t>(kPosListHeaderSize), 0, 0, 0}, fresh);
    std::uint16_t index = 0xFFFF;
    s = ops.insertRecord(db, &index, sizeof fresh, fresh);
    if (IsFailure(s)) return s;
    handle->recordNumber = index;
  }
  std::uint32_t length = 0;
  EngineObject* opened = nullptr;
  StatusCode s = ops.openRecord(db, handle->recordNumber, &length, &opened);
  if (IsFailure(s)) return s;
  std::uint8_t stored[kPosListHeaderSize];
  std::uint32_t got = 0;
  s = length < kPosListHeaderSize
          ? kDocListTooShort
          : StreamOf(opened).readAt(opened, 0, stored, kPosListHeaderSize, &got);
  if (!IsFailure(s) && got != kPosListHeaderSize) s = kDocListTooShort;
  if (IsFailure(s)) {
    (void)StreamOf(opened).close(opened);  // the read failure is what the caller hears
    return s;
  }
  if (header != nullptr) *header = PosList_LoadHeader(stored);
  *size = length;
  *stream = opened;
  return kOk;
}

StatusCode PosList_CloseForWrite(EngineObject* stream, const PosListRecord* header) noexcept {
  if (stream == nullptr) return kBadArgument;
  StatusCode s = kOk;
  if (header != nullptr) {
    std::uint8_t stored[kPosListHeaderSize];
    PosList_StoreHeader(*header, stored);
    s = StreamOf(stream).writeAt(stream, 0, stored, kPosListHeaderSize, nullptr);
  }
  const StatusCode closed = StreamOf(stream).close(stream);
  return IsFailure(s) ? s : closed;
}

StatusCode PosList_GetCount(EngineObject* db, PosListHandle* handle,
                            std::uint16_t* count) noexcept {
  if (count == nullptr) return kNullOutPointer;
  if (handle == nullptr) return kBadArgument;
  const ReadLock lock(db, handle);
  *count = lock.Holds() ? lock.Header().count : 0;
  return kOk;
}

StatusCode PosList_GetEntry(EngineObject* db, PosListHandle* handle, std::uint16_t i,
                            std::uint32_t* nameOffset, char* name, std::uint32_t nameCapacity,
                            std::uint32_t* nameLength, std::uint32_t* value) noexcept {
  if (handle == nullptr) return kBadArgument;
  const ReadLock lock(db, handle);
  if (!lock.Holds()) return kDocBadListIndex;
  const PosListRecord h = lock.Header();
  if (i >= h.count) return kDocBadListIndex;
  const std::uint8_t* p = NameAt(lock.Data(), h, i);
  const auto n = static_cast<std::uint32_t>(NameLength(p, AreaOf(lock.Data(), h).end));
  if (n > kPosListMaxName) return kDocListNameTooLong;
  if (name != nullptr) {
    if (nameCapacity < n + 1) return kIndexOutOfRange;
    std::memcpy(name, p, n + 1);
  }
  if (nameOffset != nullptr) *nameOffset = static_cast<std::uint32_t>(p - lock.Data());
  if (nameLength != nullptr) *nameLength = n;
  if (value != nullptr) *value = LoadBE32(lock.Data() + PosList_ValueOffset(h, i));
  return kOk;
}

StatusCode PosList_SetValue(EngineObject* db, PosListHandle* handle, std::uint16_t i,
                            std::uint32_t value) noexcept {
  if (db == nullptr || handle == nullptr) return kBadArgument;
  if (handle->lockCount > 0) return kPosListBusy;
  if (handle->recordNumber == 0) return kDocBadListIndex;
  Edit edit;
  StatusCode s = edit.Begin(db, handle, 0);
  if (IsFailure(s)) return s;
  if (i >= edit.Count()) return kDocBadListIndex;
  std::uint8_t stored[4];
  StoreBE32(stored, value);
  EngineObject* stream = edit.Stream();
  s = StreamOf(stream).writeAt(stream, PosList_ValueOffset(edit.Header(), i), stored, 4, nullptr);
  const StatusCode closed = edit.Finish();
  return IsFailure(s) ? s : closed;
}

StatusCode PosList_GetNames(EngineObject* db, PosListHandle* handle, const char*** names) noexcept {
  if (names == nullptr) return kNullOutPointer;
  if (handle == nullptr) return kBadArgument;
  ReadLock lock(db, handle);
  if (!lock.Holds() || lock.Header().count == 0) {
    return IsFailure(lock.Status()) ? lock.Status() : kDocListEmpty;
  }
  const PosListRecord h = lock.Header();
  const char** array = nullptr;
  const StatusCode s = Engine_AllocArray<const char*>(h.count, &array);
  if (IsFailure(s)) return s;
  const NamesArea area = AreaOf(lock.Data(), h);
  const std::uint8_t* p = area.begin;
  for (std::uint32_t k = 0; k < h.count; ++k) {
    array[k] = reinterpret_cast<const char*>(p);
    p += NameLength(p, area.end) + 1;
  }
  lock.Keep();
  *names = array;
  return kOk;
}

StatusCode PosList_FreeNames(EngineObject* db, PosListHandle* handle, const char** names) noexcept {
  if (names == nullptr) return kOk;
  Engine_Free(static_cast<void*>(names));
  return PosList_Unlock(db, handle);
}

StatusCode PosList_Insert(EngineObject* db, PosListHandle* handle, std::uint16_t i,
                          const char* name, std::uint32_t value) noexcept {
  std::uint32_t n = 0;
  StatusCode s = CallerName(name, &n);
  if (IsFailure(s)) return s;
  if (handle != nullptr && handle->lockCount > 0) return kPosListBusy;
  Edit edit;
  s = edit.Begin(db, handle, 1);
  if (IsFailure(s)) return s;
  Entry* e = edit.Entries();
  std::uint32_t& count = edit.Count();
  const std::uint32_t at = std::min<std::uint32_t>(i, count);
  std::memmove(e + at + 1, e + at, (count - at) * sizeof(Entry));
  e[at] = {reinterpret_cast<const std::uint8_t*>(name), n + 1, value};
  ++count;
  return edit.Commit();
}

StatusCode PosList_Delete(EngineObject* db, PosListHandle* handle, std::uint16_t i) noexcept {
  if (handle == nullptr) return kBadArgument;
  if (handle->lockCount > 0) return kPosListBusy;
  if (handle->recordNumber == 0) return kDocBadListIndex;
  Edit edit;
  const StatusCode s = edit.Begin(db, handle, 0);
  if (IsFailure(s)) return s;
  std::uint32_t& count = edit.Count();
  if (i >= count) return kDocBadListIndex;
  Entry* e = edit.Entries();
  std::memmove(e + i, e + i + 1, (count - i - 1) * sizeof(Entry));
  --count;
  return edit.Commit();
}

StatusCode PosList_Rename(EngineObject* db, PosListHandle* handle, std::uint16_t i,
                          const char* name) noexcept {
  std::uint32_t n = 0;
  StatusCode s = CallerName(name, &n);
  if (IsFailure(s)) return s;
  if (handle == nullptr) return kBadArgument;
  if (handle->lockCount > 0) return kPosListBusy;
  if (handle->recordNumber == 0) return kDocBadListIndex;
  Edit edit;
  s = edit.Begin(db, handle, 0);
  if (IsFailure(s)) return s;
  if (i >= edit.Count()) return kDocBadListIndex;
  Entry& e = edit.Entries()[i];
  e.name = reinterpret_cast<const std::uint8_t*>(name);
  e.length = n + 1;
  return edit.Commit();
}

StatusCode PosList_LocateEntry(EngineObject* db, PosListHandle* handle, std::uint16_t i,
                               std::uint16_t j, std::uint32_t* offsetI, std::uint32_t* lengthI,
                               std::uint32_t* offsetJ, std::uint32_t* lengthJ) noexcept {
  if (handle == nullptr) return kBadArgument;
  const ReadLock lock(db, handle);
  if (!lock.Holds()) return kDocBadListIndex;
  const PosListRecord h = lock.Header();
  if (i >= h.count || j >= h.count) return kDocBadListIndex;
  const std::uint8_t* end = AreaOf(lock.Data(), h).end;
  const std::uint8_t* pi = NameAt(lock.Data(), h, i);
  const std::uint8_t* pj = NameAt(lock.Data(), h, j);
  if (offsetI != nullptr) *offsetI = static_cast<std::uint32_t>(pi - lock.Data());
  if (lengthI != nullptr) *lengthI = static_cast<std::uint32_t>(NameLength(pi, end)) + 1;
  if (offsetJ != nullptr) *offsetJ = static_cast<std::uint32_t>(pj - lock.Data());
  if (lengthJ != nullptr) *lengthJ = static_cast<std::uint32_t>(NameLength(pj, end)) + 1;
  return kOk;
}

StatusCode PosList_Move(EngineObject* db, PosListHandle* handle, std::uint16_t i,
                        std::uint16_t j) noexcept {
  if (handle == nullptr) return kBadArgument;
  if (handle->lockCount > 0) return kPosListBusy;
  if (handle->recordNumber == 0) return kDocBadListIndex;
  Edit edit;
  const StatusCode s = edit.Begin(db, handle, 0);
  if (IsFailure(s)) return s;
  const std::uint32_t count = edit.Count();
  if (i >= count) return kDocBadListIndex;
  const std::uint32_t to = std::min<std::uint32_t>(j, count - 1);
  if (to == i) return kOk;
  Entry* e = edit.Entries();
  if (to > i) {
    std::rotate(e + i, e + i + 1, e + to + 1);
  } else {
    std::rotate(e + to, e + i, e + i + 1);
  }
  return edit.Commit();
}

StatusCode PosList_Find(EngineObject* db, PosListHandle* handle, const char* name,
                        std::uint16_t* index) noexcept {
  if (index == nullptr) return kNullOutPointer;
  if (handle == nullptr || name == nullptr) return kBadArgument;
  const ReadLock lock(db, handle);
  if (!lock.Holds()) return kNotFound;
  const PosListRecord h = lock.Header();
  const std::size_t wanted = std::strlen(name);
  const NamesArea area = AreaOf(lock.Data(), h);
  const std::uint8_t* p = area.begin;
  for (std::uint32_t k = 0; k < h.count; ++k) {
    const auto n = static_cast<std::size_t>(NameLength(p, area.end));
    if (n == wanted && std::memcmp(p, name, n) == 0) {
      *index = static_cast<std::uint16_t>(k);
      return kOk;
    }
    p += n + 1;
  }
  return kNotFound;
}

StatusCode PosList_Reorder(EngineObject* db, PosListHandle* handle) noexcept {
  if (handle == nullptr) return kBadArgument;
  if (handle->lockCount > 0) return kPosListBusy;
  if (handle->recordNumber == 0) return kOk;
  Edit edit;
  const StatusCode s = edit.Begin(db, handle, 0);
  if (IsFailure(s)) return s;
  const StringOps& str = OpsOf<StringOps>(g_StringModule);
  auto less = [&](const Entry& a, const Entry& b) {
    return str.compare(g_StringModule, reinterpret_cast<const char*>(a.name),
                       reinterpret_cast<const char*>(b.name)) == kCompareLess;
  };
  // Binary insertion sort: stable, no allocation, and no write when the list
  // is already in order.
  Entry* e = edit.Entries();
  bool moved = false;
  for (std::uint32_t k = 1; k < edit.Count(); ++k) {
    Entry* at = std::upper_bound(e, e + k, e[k], less);
    if (at != e + k) {
      std::rotate(at, e + k, e + k + 1);
      moved = true;
    }
  }
  return moved ? edit.Commit() : kOk;
}

StatusCode PosList_UnlockAll(EngineObject* db, PosListHandle* handles,
                             std::uint32_t count) noexcept {
  StatusCode first = kOk;
  for (std::uint32_t i = 0; i < count; ++i) {
    PosListHandle& h = handles[i];
    while (h.lockCount > 0) {
      const StatusCode r = PosList_Unlock(db, &h);
      if (IsFailure(r)) {
        if (!IsFailure(first)) first = r;
        h.lockCount = 0;
        h.data = nullptr;
        h.size = 0;
      }
    }
  }
  return first;
}

StatusCode PosList_BookmarkOp(EngineObject* db, PosListHandle* lists, std::uint16_t subCode,
                              std::uint16_t index, void* record, StatusCode writeRefusal) noexcept {
  const std::uint16_t list = subCode & DocBookmark::ListMaskBits;
  const std::uint16_t op = subCode & DocBookmark::OperationMask;
  if (list > 1 || op < DocBookmark::ListMask || op > DocBookmark::Sort) return kNotSupported;
  if (lists == nullptr) return kBadArgument;
  PosListHandle* h = &lists[list];
  switch (op) {
    case DocBookmark::ListMask:
    case DocBookmark::LongestName:
      if (record == nullptr) return kNullOutPointer;
      *static_cast<std::uint16_t*>(record) = op == DocBookmark::ListMask ? 3 : 31;
      return kOk;
    case DocBookmark::Capability:
      if (record == nullptr) return kNullOutPointer;
      *static_cast<std::uint32_t*>(record) = 1;
      return kOk;
    case DocBookmark::Count:
      if (record == nullptr) return kNullOutPointer;
      return PosList_GetCount(db, h, static_cast<std::uint16_t*>(record));
    case DocBookmark::GetValue:
      if (record == nullptr) return kNullOutPointer;
      return PosList_GetEntry(db, h, index, nullptr, nullptr, 0, nullptr,
                              static_cast<std::uint32_t*>(record));
    case DocBookmark::GetNames:
      if (record == nullptr) return kNullOutPointer;
      return PosList_GetNames(db, h, static_cast<const char***>(record));
    case DocBookmark::FreeNames:
      return PosList_FreeNames(db, h, static_cast<const char**>(record));
    case DocBookmark::Find: {
      auto* in = static_cast<DocBookmarkFind*>(record);
      if (in == nullptr || in->name == nullptr) return kBadArgument;
      return PosList_Find(db, h, in->name, &in->index);
    }
    default:
      break;
  }
  if (writeRefusal != kOk) return writeRefusal;
  switch (op) {
    case DocBookmark::SetValue:
      if (record == nullptr) return kBadArgument;
      return PosList_SetValue(db, h, index, *static_cast<const std::uint32_t*>(record));
    case DocBookmark::Insert: {
      const auto* in = static_cast<const DocBookmarkInsert*>(record);
      if (in == nullptr || in->name == nullptr || in->value == nullptr) return kBadArgument;
      // A list created here gets its record number written to record 0 on
      // close.
      return PosList_Insert(db, h, index, in->name, *in->value);
    }
    case DocBookmark::Delete:
      return PosList_Delete(db, h, index);
    case DocBookmark::Rename: {
      const auto* in = static_cast<const DocBookmarkRename*>(record);
      if (in == nullptr || in->name == nullptr) return kBadArgument;
      return PosList_Rename(db, h, index, in->name);
    }
    case DocBookmark::Move:
      if (record == nullptr) return kBadArgument;
      return PosList_Move(db, h, index, *static_cast<const std::uint16_t*>(record));
    case DocBookmark::Sort:
      return PosList_Reorder(db, h);
    default:
      return kNotSupported;
  }
}
