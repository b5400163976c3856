// The reading state kept in the per-document settings database: record 0
// (from byte 4 on; the settings store owns bytes 0-3), the history
// sub-record and the annotation-path sub-record. All stored numbers are
// big-endian, except the path's UTF-16 units, which are little-endian.
#include <algorithm>
#include <cstring>

#include "engine/runtime/allocator.h"
#include "engine/runtime/date.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/stream.h"
#include "engine/runtime/swap.h"
#include "engine/stores/annot_store.h"
#include "engine/view/text_view_internal.h"

namespace {

const DbFileOps& Db(const EngineObject* db) {
  return OpsOf<DbFileOps>(db);
}

// A record lent by the database's cache, given back on scope exit.
class LentRecord {
 public:
  explicit LentRecord(EngineObject* db) : db_(db) {}
  ~LentRecord() {
    // Giving a lent buffer back only drops the cache's hold on it.
    if (data_ != nullptr) (void)Db(db_).freeRecordBuffer(db_, data_);
  }
  LentRecord(const LentRecord&) = delete;
  LentRecord& operator=(const LentRecord&) = delete;
  StatusCode Read(std::uint16_t index) {
    void* buffer = nullptr;
    const StatusCode s = Db(db_).readRecord(db_, index, &size_, &buffer);
    if (s == kOk) data_ = static_cast<std::uint8_t*>(buffer);
    return s;
  }
  const std::uint8_t* data() const { return data_; }
  std::uint32_t size() const { return data_ != nullptr ? size_ : 0; }

 private:
  EngineObject* db_;
  std::uint8_t* data_ = nullptr;
  std::uint32_t size_ = 0;
};

StatusCode RecordCount(EngineObject* db, std::uint16_t* count) {
  return Db(db).getInfo(db, nullptr, nullptr, nullptr, nullptr, nullptr, count);
}

// Replaces a record's content.
StatusCode WriteRecord(EngineObject* db, std::uint16_t index, const std::uint8_t* bytes,
                       std::uint32_t n) {
  StatusCode s = Db(db).resizeRecord(db, index, n);
  if (s != kOk || n == 0) return s;
  EngineObject* stream = nullptr;
  std::uint32_t size = 0;
  if ((s = Db(db).openRecord(db, index, &size, &stream)) != kOk) return s;
  std::uint32_t written = 0;
  s = StreamOf(stream).writeAt(stream, 0, bytes, n, &written);
  if (s == kOk && written != n) s = kFailed;
  const StatusCode c = StreamOf(stream).close(stream);
  return s != kOk ? s : c;
}

StatusCode AppendRecord(EngineObject* db, const std::uint8_t* bytes, std::uint32_t n,
                        std::uint16_t* index) {
  std::uint16_t at = 0xFFFF;
  const StatusCode s = Db(db).insertRecord(db, &at, n, bytes);
  if (s == kOk) *index = at;
  return s;
}

// The handler's start record (control 20): u16 section, 2 reserved bytes,
// u32 offset, then the document's DateTime, all in host order.
struct StartPosition {
  std::uint16_t section;
  std::uint32_t offset;
  std::uint8_t date[8];
};
StartPosition ParseStart(const std::uint8_t* start) {
  StartPosition p{};
  std::memcpy(&p.section, start, 2);
  std::memcpy(&p.offset, start + 4, 4);
  std::memcpy(p.date, start + 8, 8);
  return p;
}

// The stored date stamp: the year as a big-endian u16, the rest as given.
void StoreDate(std::uint8_t* out, const std::uint8_t host[8]) {
  std::uint16_t year = 0;
  std::memcpy(&year, host, 2);
  StoreBE16(out, year);
  std::memcpy(out + 2, host + 2, 6);
}
bool SameDate(const std::uint8_t* stored, const std::uint8_t host[8]) {
  DateTime a{}, b{};
  a.year = LoadBE16(stored);
  std::memcpy(&a.month, stored + 2, 6);
  std::memcpy(&b, host, 8);
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second && a.hundredths == b.hundredths;
}

void SetSection(TextView& v, std::uint16_t section, std::uint32_t offset) {
  if (v.handler != nullptr && TextView_GoToSection(v, section) == kOk) {
    offset = std::clamp(offset, v.sectionStart, v.sectionEnd);
  }
  TextView_ResetTable(v, offset);
}

// Checks of a path sub-record; the head size when it is sound, else 0.
std::uint32_t PathHead(const std::uint8_t* r, std::uint32_t size) {
  if (size < 6) return 0;
  const std::uint32_t h = LoadBE16(r);
  if ((h & 1) || h < 4 || h >= size - 2) return 0;
  const std::uint32_t n = LoadBE16(r + h);
  if (n > size - h - 2) return 0;
  if ((LoadBE16(r + 2) & 0x0002) && (n & 1)) return 0;
  return h;
}

StatusCode ReadHistory(TextView& v, std::uint16_t index) {
  LentRecord rec(v.settingsDb);
  StatusCode s = rec.Read(index);
  if (s != kOk) return s;
  const std::uint8_t* r = rec.data();
  if (rec.size() < 4 || LoadBE16(r) < 4) return kViewSubRecordTooShort;
  const std::uint32_t head = LoadBE16(r);
  const std::uint32_t count = r[2];
  if (head > rec.size() || (rec.size() - head) / 4 < count) return kOk;  // left as it was
  const std::uint32_t taken = std::min<std::uint32_t>(count, kViewHistorySize);
  for (std::uint32_t i = 0; i < taken; ++i)
    v.history.entries[i] = LoadBE32(r + head + 4 * i);
  v.history.count = static_cast<std::uint8_t>(taken);
  v.history.position = static_cast<std::uint8_t>(std::min<std::uint32_t>(r[3], taken));
  return kOk;
}

StatusCode ReadPath(TextView& v, std::uint16_t index) {
  LentRecord rec(v.settingsDb);
  StatusCode s = rec.Read(index);
  if (s != kOk) return s;
  const std::uint8_t* r = rec.data();
  const std::uint32_t h = PathHead(r, rec.size());
  if (h == 0) return kOk;  // an unreadable path record is skipped
  const std::uint32_t n = LoadBE16(r + h);
  const bool wide = (LoadBE16(r + 2) & 0x0002) != 0;
  const std::uint32_t units = wide ? n / 2 : n;
  if (units == 0) return kOk;
  char16_t* path = nullptr;
  if ((s = Engine_AllocArray(units + 1, &path)) != kOk) return s;
  EngineBuffer<char16_t> owned(path);
  for (std::uint32_t i = 0; i < units; ++i)
    path[i] = wide ? static_cast<char16_t>(LoadLE16(r + h + 2 + 2 * i)) : r[h + 2 + i];
  path[units] = 0;
  return TextView_SetAnnotationPath(v, path, units);
}

// Builds the path sub-record: the existing head (when sound) with its flag
// bit 1 set for wide paths, the big-endian byte length and the path.
StatusCode WritePath(TextView& v, std::uint16_t index) {
  const AnnotBinding* b = v.annotBinding;
  const std::uint32_t units = b != nullptr && b->path != nullptr ? b->pathLength : 0;
  bool wide = false;
  for (std::uint32_t i = 0; i < units; ++i)
    wide = wide || b->path[i] > 255;
  const std::uint32_t n = wide ? units * 2 : units;
  EngineBuffer<std::uint8_t> owned;
  std::uint32_t h = 4;
  {
    LentRecord rec(v.settingsDb);
    const StatusCode s = rec.Read(index);
    if (s != kOk) return s;
    // A record that fails the reading checks starts again from the empty form.
    const std::uint32_t sound = PathHead(rec.data(), rec.size());
    if (sound != 0) h = sound;
    std::uint8_t* out = nullptr;
    const StatusCode a = Engine_AllocArray(h + 2 + n, &out);
    if (a != kOk) return a;
    owned.reset(out);
    if (sound != 0)
      std::memcpy(out, rec.data(), h);
    else
      std::memset(out, 0, h);
  }
  std::uint8_t* out = owned.get();
  StoreBE16(out, static_cast<std::uint16_t>(h));
  const std::uint16_t flags = LoadBE16(out + 2);
  StoreBE16(out + 2, static_cast<std::uint16_t>(wide ? flags | 0x0002 : flags & ~0x0002));
  StoreBE16(out + h, static_cast<std::uint16_t>(n));
  for (std::uint32_t i = 0; i < units; ++i) {
    if (wide)
      StoreLE16(out + h + 2 + 2 * i, static_cast<std::uint16_t>(b->path[i]));
    else
      out[h + 2 + i] = static_cast<std::uint8_t>(b->path[i]);
  }
  return WriteRecord(v.settingsDb, index, out, h + 2 + n);
}

}  // namespace

StatusCode TextView_RestoreReadingState(TextView& v, const std::uint8_t* start) noexcept {
  EngineObject* db = v.settingsDb;
  if (db == nullptr) return kOk;
  std::uint16_t count = 0;
  StatusCode s = RecordCount(db, &count);
  if (s != kOk) return s;
  const bool haveStart = start != nullptr;
  const StartPosition sp = haveStart ? ParseStart(start) : StartPosition{};
  if (count == 0) {
    std::uint8_t header[kReadingStateLong] = {};
    StoreBE16(header, kReadingStateLong);
    StoreBE32(header + 8, 0xFFFFFFFFu);
    if (haveStart) {
      SetSection(v, sp.section, sp.offset);
      StoreDate(header + 16, sp.date);
    }
    std::uint16_t index = 0;
    s = Db(db).insertRecord(db, &index, kReadingStateLong, header);
    if (s != kOk) return s;
    return index == 0 ? kOk : kViewStateNotFirst;
  }

  std::uint8_t header[kReadingStateLong] = {};
  std::uint32_t headerSize = 0;
  {
    LentRecord rec(db);
    if ((s = rec.Read(0)) != kOk) return s;
    if (rec.size() < kReadingStateShort || LoadBE16(rec.data()) < kReadingStateShort)
      return kViewStateTooShort;
    headerSize = LoadBE16(rec.data()) >= kReadingStateLong && rec.size() >= kReadingStateLong
                     ? kReadingStateLong
                     : kReadingStateShort;
    std::memcpy(header, rec.data(), headerSize);
  }
  const std::uint32_t position = LoadBE32(header + 4);
  const std::uint32_t saved = LoadBE32(header + 8);
  const std::uint16_t historyRecord = LoadBE16(header + 12);
  const std::uint16_t listRecord = LoadBE16(header + 14);
  const bool longHeader = headerSize == kReadingStateLong;
  const std::uint16_t pathRecord = longHeader ? LoadBE16(header + 24) : 0;

  if (v.handler == nullptr) {
    TextView_ResetTable(v, position);
  } else if (!haveStart || (longHeader && SameDate(header + 16, sp.date))) {
    std::uint32_t offset = position;
    if (TextView_EnsureSectionOf(v, &offset) == kOk)
      TextView_ResetTable(v, offset);
    else
      TextView_ResetTable(v, 0);
  } else {
    // A document that changed since the state was kept opens where the
    // handler says it starts.
    SetSection(v, sp.section, sp.offset);
  }
  v.savedPosition = saved;
  // An unreadable history is skipped: the view starts with an empty one.
  if (historyRecord != 0 && historyRecord < count) (void)ReadHistory(v, historyRecord);
  // The old document's binding was closed when this one was attached.
  (void)TextView_SetAnnotationPath(v, nullptr, 0);
  if (pathRecord != 0 && pathRecord < count) {
    s = ReadPath(v, pathRecord);
    if (IsFailure(s)) return s;
  }
  if (listRecord < count) v.userListHandle.recordNumber = listRecord;
  return kOk;
}

StatusCode TextView_SaveReadingState(TextView& v) noexcept {
  EngineObject* db = v.settingsDb;
  if (db == nullptr) return kOk;
  std::uint16_t count = 0;
  StatusCode s = RecordCount(db, &count);
  if (s != kOk) return s;
  if (count == 0) return kFailed;

  std::uint8_t header[kReadingStateLong] = {};
  std::uint32_t oldSize = 0;
  {
    LentRecord rec(db);
    if (rec.Read(0) != kOk || rec.size() < kReadingStateShort ||
        LoadBE16(rec.data()) < kReadingStateShort)
      return kViewStateTooShort;
    oldSize = LoadBE16(rec.data()) >= kReadingStateLong && rec.size() >= kReadingStateLong
                  ? kReadingStateLong
                  : kReadingStateShort;
    std::memcpy(header, rec.data(), oldSize);
  }
  std::uint8_t start[16] = {};
  const bool haveDate =
      v.handler != nullptr &&
      DocOpsOf(v.handler).control(v.handler, DocControl::StartPosition, 0, start) == kYes;
  const bool havePath = v.annotBinding != nullptr && v.annotBinding->path != nullptr;
  std::uint16_t pathRecord = oldSize == kReadingStateLong ? LoadBE16(header + 24) : 0;
  // A header never shrinks: bytes 16-31 are kept once they exist.
  const bool longHeader = haveDate || havePath || pathRecord != 0 || oldSize == kReadingStateLong;
  const std::uint32_t size = longHeader ? kReadingStateLong : kReadingStateShort;
  // The size field always tells what is written (a record shorter than the
  // size it claimed is read, and rewritten, as a short header).
  StoreBE16(header, static_cast<std::uint16_t>(size));
  if (haveDate) StoreDate(header + 16, ParseStart(start).date);
  if (LoadBE16(header + 2) >= count) StoreBE16(header + 2, 0);
  StoreBE32(header + 4, TextView_FirstOffset(v));
  StoreBE32(header + 8, v.savedPosition);

  // A damaged header may name, as a sub-record of the view, a record that
  // belongs to someone else (the settings store's document record, the
  // user's list) or the other sub-record; such a number counts as none, so
  // the view never overwrites a record it does not own.
  const std::uint16_t docRecord = LoadBE16(header + 2);
  const std::uint16_t listRecord = v.userListHandle.recordNumber;
  auto usable = [&](std::uint16_t n, std::uint16_t limit, std::uint16_t other) {
    return n != 0 && n < limit && n != docRecord && n != listRecord && n != other;
  };
  std::uint16_t historyRecord = LoadBE16(header + 12);
  if (!usable(historyRecord, count, pathRecord)) {
    const std::uint8_t empty[4] = {0, 4, 0, 0};
    if ((s = AppendRecord(db, empty, 4, &historyRecord)) != kOk) return s;
    StoreBE16(header + 12, historyRecord);
  }
  {
    std::uint8_t history[4 + 4 * kViewHistorySize] = {};
    const std::uint8_t n = std::min<std::uint8_t>(v.history.count, kViewHistorySize);
    StoreBE16(history, 4);
    history[2] = n;
    history[3] = std::min(v.history.position, n);
    for (std::uint32_t i = 0; i < n; ++i)
      StoreBE32(history + 4 + 4 * i, v.history.entries[i]);
    if ((s = WriteRecord(db, historyRecord, history, 4 + 4u * n)) != kOk) return s;
  }
  StoreBE16(header + 14, v.userListHandle.recordNumber);
  if (longHeader && (havePath || pathRecord != 0)) {
    std::uint16_t recordCount = count;
    if ((s = RecordCount(db, &recordCount)) != kOk) return s;
    // A named record that does not exist, or is not the view's, counts as none.
    if (!usable(pathRecord, recordCount, historyRecord)) {
      const std::uint8_t empty[6] = {0, 4, 0, 0, 0, 0};
      if ((s = AppendRecord(db, empty, 6, &pathRecord)) != kOk) return s;
      StoreBE16(header + 24, pathRecord);
    }
    if ((s = WritePath(v, pathRecord)) != kOk) return s;
  }
  return WriteRecord(db, 0, header, size);
}

StatusCode TextView_SetAnnotationPath(TextView& v, const char16_t* path,
                                      std::uint32_t length) noexcept {
  if (path != nullptr && length == 0)
    while (path[length] != 0 && length < 0xFFFF)
      ++length;
  AnnotBinding* b = v.annotBinding;
  if (path != nullptr && b != nullptr && b->path != nullptr && b->pathLength == length &&
      std::memcmp(b->path, path, length * sizeof(char16_t)) == 0)
    return kOk;
  // A store that fails to close is reported once the binding has changed.
  const StatusCode closed = TextView_CloseAnnotationStore(v);
  TextView_FreeAnnotationBinding(v);
  if (path == nullptr || length == 0) return closed;
  if (length > 0xFFFE) return kBadArgument;
  AnnotBinding* fresh = nullptr;
  StatusCode s = Engine_AllocArray(1, &fresh);
  if (s != kOk) return s;
  *fresh = AnnotBinding{};
  if ((s = Engine_AllocArray(length + 1, &fresh->path)) != kOk) {
    Engine_Free(fresh);
    return s;
  }
  std::memcpy(fresh->path, path, length * sizeof(char16_t));
  fresh->path[length] = 0;
  fresh->pathLength = static_cast<std::uint16_t>(length);
  v.annotBinding = fresh;
  return closed;
}

StatusCode TextView_CloseAnnotationStore(TextView& v) noexcept {
  AnnotBinding* b = v.annotBinding;
  if (b == nullptr || b->store == nullptr) return kOk;
  // Handing the marks back cannot fail in a way that keeps the store open.
  if (v.handler != nullptr)
    (void)DocOpsOf(v.handler).control(v.handler, DocControl::SetAnnotations, 0, nullptr);
  const StatusCode s = AnnotStore_Close(b->store);
  b->store = nullptr;
  return s;
}

void TextView_FreeAnnotationBinding(TextView& v) noexcept {
  AnnotBinding* b = v.annotBinding;
  if (b == nullptr) return;
  Engine_Free(b->edit);
  Engine_Free(b->path);
  Engine_Free(b);
  v.annotBinding = nullptr;
}
