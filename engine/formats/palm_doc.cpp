#include "engine/formats/palm_doc.h"

#include <algorithm>
#include <cstring>

#include "engine/formats/flow_text.h"
#include "engine/formats/palm_lz77.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/str.h"
#include "engine/runtime/swap.h"

namespace {

using PalmDocInstance = EngineInstance<PalmDocBody>;

constexpr std::uint8_t kTypeText[4] = {'T', 'E', 'X', 't'};
constexpr std::uint32_t kBufferBytes = kPalmDocTextRecordSize + 1;
// Record sizes count at most this much.
constexpr std::uint32_t kMaxRecordBytes = 0xFFFF;

PalmDocBody* Body(EngineObject* handler) {
  return handler != nullptr ? static_cast<PalmDocBody*>(handler->state) : nullptr;
}

const DbFileOps& DbOf(EngineObject* db) {
  return OpsOf<DbFileOps>(db);
}

// A record lent by the database, given back on scope exit.
class HeldRecord {
 public:
  HeldRecord(EngineObject* db, std::uint16_t index) : db_(db) {
    void* buffer = nullptr;
    status_ = DbOf(db).readRecord(db, index, &size_, &buffer);
    data_ = static_cast<const std::uint8_t*>(buffer);
  }
  ~HeldRecord() {
    // Giving back a buffer this database lent cannot fail.
    if (!IsFailure(status_)) {
      (void)DbOf(db_).freeRecordBuffer(db_, const_cast<std::uint8_t*>(data_));
    }
  }
  HeldRecord(const HeldRecord&) = delete;
  HeldRecord& operator=(const HeldRecord&) = delete;

  StatusCode Status() const { return status_; }
  const std::uint8_t* Data() const { return data_; }
  std::uint32_t Size() const { return std::min(size_, kMaxRecordBytes); }

 private:
  EngineObject* db_;
  StatusCode status_;
  std::uint32_t size_ = 0;
  const std::uint8_t* data_ = nullptr;
};

bool IsText(const std::uint8_t* type, const std::uint8_t*) {
  return std::memcmp(type, kTypeText, 4) == 0;
}

// The number of bookmarks: the records after the text.
std::uint32_t BookmarkCount(const PalmDocBody& b) {
  const std::int32_t n = std::int32_t{b.recordCount} - b.textRecords - 1;
  return n > 0 ? static_cast<std::uint32_t>(n) : 0;
}

std::uint16_t BookmarkRecord(const PalmDocBody& b, std::uint32_t i) {
  return static_cast<std::uint16_t>(b.textRecords + 1u + i);
}

// 16 name bytes from a caller's name: up to its NUL, at most 15, zero-padded.
void CallerName(const char* name, std::uint8_t* out) {
  std::memset(out, 0, kPalmDocBookmarkName);
  std::memcpy(out, name, strnlen(name, kPalmDocLongestName));
}

void ForgetBuffers(PalmDocBody& b) {
  b.bufferLength[0] = b.bufferLength[1] = 0;
  b.bufferStart[0] = b.bufferStart[1] = 0;
  b.nextBuffer = 0;
}

StatusCode Open(PalmDocBody& b, EngineObject* db) {
  if (db == nullptr) return kBadArgument;
  b.db = db;
  b.recordCount = 0;
  b.recordSize = kPalmDocTextRecordSize;
  b.textRecords = 0;
  b.compression = kPalmDocStored;
  b.decodedRecords = 0;
  b.sampleAccumulator = kPalmDocStartEntries;
  b.sampleCount = 0;
  b.textLength = 0;
  std::memset(b.startTable, 0, sizeof b.startTable);
  ForgetBuffers(b);
  for (std::uint8_t*& buffer : b.buffer) {
    if (buffer != nullptr) continue;
    void* raw = nullptr;
    const StatusCode s = Engine_Alloc(kBufferBytes, &raw);
    if (IsFailure(s)) {
      Engine_Free(b.buffer[0]);
      Engine_Free(b.buffer[1]);
      b.buffer[0] = b.buffer[1] = nullptr;
      return s;
    }
    buffer = static_cast<std::uint8_t*>(raw);
    buffer[kPalmDocTextRecordSize] = 0;
  }
  std::uint16_t count = 0;
  StatusCode s = DbOf(db).getInfo(db, nullptr, nullptr, nullptr, nullptr, nullptr, &count);
  if (IsFailure(s)) return s;
  b.recordCount = count;
  if (count == 0) return kOk;
  const HeldRecord record0(db, 0);
  if (IsFailure(record0.Status())) return record0.Status();
  if (record0.Size() >= 12) {
    const std::uint8_t* r = record0.Data();
    if (r[1] == kPalmDocStored || r[1] == kPalmDocCompressed) b.compression = r[1];
    b.textRecords = std::min<std::uint16_t>(LoadBE16(r + 8), static_cast<std::uint16_t>(count - 1));
    b.recordSize = LoadBE16(r + 10);
  }
  return kOk;
}

// Decoded length of text record `index` (one-based database record), cut to
// 4096; with out given, the bytes too (out holds 4096). A stored record's
// length is its size: without out it is not read.
StatusCode RecordText(const PalmDocBody& b, std::uint16_t index, std::uint8_t* out,
                      std::uint32_t* length) {
  if (b.compression != kPalmDocCompressed && out == nullptr) {
    std::uint32_t size = 0;
    const StatusCode s = DbOf(b.db).readRecord(b.db, index, &size, nullptr);
    if (IsFailure(s)) return s;
    *length = std::min({size, kMaxRecordBytes, kPalmDocTextRecordSize});
    return kOk;
  }
  const HeldRecord record(b.db, index);
  if (IsFailure(record.Status())) return record.Status();
  std::uint32_t n = record.Size();
  if (b.compression == kPalmDocCompressed) {
    const StatusCode s = out != nullptr
                             ? PalmDocLz_Decode(record.Data(), n, out, kPalmDocTextRecordSize, &n)
                             : PalmDocLz_MeasureRecord(record.Data(), n, &n);
    if (s == kMalformed) return kDocMalformed;
    if (IsFailure(s)) return s;
    n = std::min(n, kPalmDocTextRecordSize);
  } else {
    n = std::min(n, kPalmDocTextRecordSize);
    if (out != nullptr && n > 0) std::memcpy(out, record.Data(), n);
  }
  *length = n;
  return kOk;
}

// The buffer whose range holds position (before: start < P <= end), or -1.
int BufferHolding(const PalmDocBody& b, std::uint32_t p, bool before) {
  for (int k = 0; k < 2; ++k) {
    const std::uint32_t start = b.bufferStart[k];
    const std::uint32_t end = start + b.bufferLength[k];
    if (b.bufferLength[k] == 0) continue;
    if (before ? (start < p && p <= end) : (start <= p && p < end)) return k;
  }
  return -1;
}

// A bookmark record opened as a stream for an in-place write of `n` bytes at
// `offset`.
StatusCode WriteBookmark(PalmDocBody& b, std::uint32_t i, std::uint32_t offset,
                         const std::uint8_t* bytes, std::uint32_t n) {
  std::uint32_t size = 0;
  EngineObject* stream = nullptr;
  StatusCode s = DbOf(b.db).openRecord(b.db, BookmarkRecord(b, i), &size, &stream);
  if (IsFailure(s)) return s;
  s = size < kPalmDocBookmarkSize ? kDocBookmarkTooShort
                                  : StreamOf(stream).writeAt(stream, offset, bytes, n, nullptr);
  const StatusCode closed = StreamOf(stream).close(stream);
  return IsFailure(s) ? s : closed;
}

// Reads the names of every bookmark into names (count × 16 bytes, byte 15
// of each 0).
StatusCode ReadNames(const PalmDocBody& b, std::uint32_t count, std::uint8_t* names) {
  for (std::uint32_t k = 0; k < count; ++k) {
    const HeldRecord record(b.db, BookmarkRecord(b, k));
    if (IsFailure(record.Status())) return record.Status();
    if (record.Size() < kPalmDocBookmarkSize) return kDocBookmarkTooShort;
    std::uint8_t* name = names + k * kPalmDocBookmarkName;
    std::memcpy(name, record.Data(), kPalmDocBookmarkName);
    name[kPalmDocBookmarkName - 1] = 0;
  }
  return kOk;
}

StatusCode SortBookmarks(PalmDocBody& b, std::uint32_t count) {
  if (count < 2) return kOk;
  std::uint8_t* raw = nullptr;
  StatusCode s = Engine_AllocArray<std::uint8_t>(count * kPalmDocBookmarkName, &raw);
  if (IsFailure(s)) return s;
  const EngineBuffer<std::uint8_t> names(raw);
  s = ReadNames(b, count, raw);
  if (IsFailure(s)) return s;
  const StringOps& str = OpsOf<StringOps>(g_StringModule);
  auto name = [&](std::uint32_t k) {
    return reinterpret_cast<const char*>(raw + k * kPalmDocBookmarkName);
  };
  for (std::uint32_t d = 0; d + 1 < count; ++d) {
    std::uint32_t smallest = d;
    for (std::uint32_t k = d + 1; k < count; ++k) {
      if (str.compare(g_StringModule, name(smallest), name(k)) == kCompareGreater) smallest = k;
    }
    if (smallest == d) continue;
    s = DbOf(b.db).moveRecord(b.db, BookmarkRecord(b, smallest), BookmarkRecord(b, d));
    if (IsFailure(s)) return s;
    std::rotate(raw + d * kPalmDocBookmarkName, raw + smallest * kPalmDocBookmarkName,
                raw + (smallest + 1) * kPalmDocBookmarkName);
  }
  return kOk;
}

}  // namespace

void PalmDoc_FindRecord(const PalmDocBody& b, std::uint32_t p, std::uint32_t* record,
                        std::uint32_t* start) noexcept {
  if (b.recordSize != 0) {
    *record = p / b.recordSize;
    *start = *record * b.recordSize;
    return;
  }
  // Only the entries filled so far are searched: the table fills as the
  // records are measured.
  const std::uint32_t n = std::min<std::uint32_t>(b.sampleCount, kPalmDocStartEntries);
  const std::uint32_t* end = std::upper_bound(b.startTable, b.startTable + n, p);
  if (end == b.startTable) {
    *record = 0;
    *start = 0;
    return;
  }
  const auto k = static_cast<std::uint32_t>(end - b.startTable - 1);
  const std::uint64_t records = b.textRecords;
  // Entry k samples record k when every record has an entry, else record
  // ceil(N (k + 1) / 128) - 1, the record at which the sampling stored it.
  *record = records <= kPalmDocStartEntries
                ? k
                : static_cast<std::uint32_t>(
                      (records * (k + 1) + kPalmDocStartEntries - 1) / kPalmDocStartEntries - 1);
  *start = b.startTable[k];
}

namespace {

// The records between two start-table samples: the longest forward walk.
std::uint32_t SampleStride(const PalmDocBody& b) {
  return (b.textRecords + kPalmDocStartEntries - 1) / kPalmDocStartEntries;
}

// Keeps text record `record`, starting at start with length bytes, as buffer
// which's range.
void Hold(PalmDocBody& b, std::uint32_t which, std::uint32_t record, std::uint32_t start,
          std::uint32_t length) {
  b.bufferStart[which] = start;
  b.bufferLength[which] = length;
  b.bufferRecord[which] = static_cast<std::uint16_t>(record);
}

// Walks back from the record before `after`, which starts at end, to the
// record holding p, decoding each into buffer which. Answers kNotFound when
// the lengths do not add up (the caller then walks forward).
StatusCode WalkBack(PalmDocBody& b, std::uint32_t p, std::uint32_t which, std::uint32_t after,
                    std::uint32_t end, std::uint32_t first) {
  for (std::uint32_t record = after; record > first;) {
    --record;
    std::uint32_t length = 0;
    const bool copy = b.compression == kPalmDocCompressed || p + kPalmDocTextRecordSize >= end;
    const StatusCode s = RecordText(b, static_cast<std::uint16_t>(record + 1),
                                    copy ? b.buffer[which] : nullptr, &length);
    if (IsFailure(s)) return s;
    if (length > end) return kNotFound;
    const std::uint32_t start = end - length;
    if (p >= start && p < end) {
      if (!copy) break;  // cannot happen: a record holding p starts within 4096 of it
      Hold(b, which, record, start, length);
      return kOk;
    }
    end = start;
  }
  return kNotFound;
}

}  // namespace

StatusCode PalmDoc_DecodeRecord(PalmDocBody& b, std::uint32_t p, std::uint32_t which) noexcept {
  if (which > 1 || b.buffer[which] == nullptr || b.db == nullptr) return kFailed;
  std::uint32_t record = 0, start = 0;
  PalmDoc_FindRecord(b, p, &record, &start);
  // A record held in a buffer is a nearer place to walk from: forward from
  // one that ends at or before the position, or (when the records are found
  // through the table) back from one that starts after it, so reading on in
  // either direction decodes each record once.
  std::uint32_t backFrom = 0, backEnd = 0;
  for (std::uint32_t k = 0; k < 2; ++k) {
    if (b.bufferLength[k] == 0) continue;
    const std::uint32_t end = b.bufferStart[k] + b.bufferLength[k];
    if (end <= p && b.bufferRecord[k] + 1u > record) {
      record = b.bufferRecord[k] + 1u;
      start = end;
    }
    if (b.recordSize == 0 && b.bufferStart[k] > p && b.bufferRecord[k] > record &&
        b.bufferRecord[k] - record <= SampleStride(b) + 1 &&
        (backFrom == 0 || b.bufferRecord[k] < backFrom)) {
      backFrom = b.bufferRecord[k];
      backEnd = b.bufferStart[k];
    }
  }
  // The buffer is overwritten below: it holds nothing until a record is found.
  b.bufferLength[which] = 0;
  if (backFrom > record) {
    const StatusCode s = WalkBack(b, p, which, backFrom, backEnd, record);
    if (s != kNotFound) return s;
  }
  for (; record < b.decodedRecords; ++record) {
    std::uint32_t length = 0;
    // A stored record is copied only when it holds the position.
    const bool copy = b.compression == kPalmDocCompressed || (p >= start && p - start < 4096);
    const StatusCode s = RecordText(b, static_cast<std::uint16_t>(record + 1),
                                    copy ? b.buffer[which] : nullptr, &length);
    if (IsFailure(s)) return s;
    if (p >= start && p - start < length) {
      Hold(b, which, record, start, length);
      return kOk;
    }
    start += length;
  }
  return kDocBeyondDecoded;
}

StatusCode PalmDoc_Create(EngineObject*, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  PalmDocInstance* instance = nullptr;
  const StatusCode s = Engine_AllocArray<PalmDocInstance>(1, &instance);
  if (IsFailure(s)) return s;
  std::memset(static_cast<void*>(instance), 0, sizeof *instance);
  instance->header = {&instance->body, PalmDocModule.ops};
  DocHandler_ResetSettings(&instance->body.settings);
  *out = &instance->header;
  return kOk;
}

StatusCode PalmDoc_Destroy(EngineObject* handler) noexcept {
  PalmDocBody* b = Body(handler);
  if (b == nullptr) return kBadArgument;
  Engine_Free(b->buffer[0]);
  Engine_Free(b->buffer[1]);
  b->buffer[0] = b->buffer[1] = nullptr;
  b->textLength = 0;
  Engine_Free(handler);
  return kOk;
}

StatusCode PalmDoc_Command(EngineObject* handler, std::uint32_t code, void* object,
                           std::uint32_t value) noexcept {
  code &= 0xFFFF;
  switch (code) {
    case DocCommand::ProbeHeader:
    case DocCommand::ProbeStream:
    case DocCommand::ProbeDatabase:
      return DocHandler_ProbeDatabaseType(code, object, value, IsText);
    default:
      break;
  }
  PalmDocBody* b = Body(handler);
  if (b == nullptr) return kMalformed;
  switch (code) {
    case DocCommand::Close:
      // Without its database the document reads as empty.
      b->db = nullptr;
      b->recordCount = 0;
      b->textRecords = 0;
      b->decodedRecords = 0;
      b->textLength = 0;
      ForgetBuffers(*b);
      return kOk;
    case DocCommand::ReplaceDatabase: {
      auto* db = static_cast<EngineObject*>(object);
      if (b->db != nullptr || db == nullptr) {
        b->db = db;
        return kOk;
      }
      // Close forgot the document along with its database (a reopen in
      // another mode sends Close first): read it again from the new one.
      StatusCode s = Open(*b, db);
      for (std::uint32_t step = 0; !IsFailure(s) && s != kDocStepDone && step <= 0xFFFF; ++step)
        s = PalmDoc_BackgroundStep(handler);
      return IsFailure(s) ? s : kOk;
    }
    case DocCommand::OpenDatabase:
      return Open(*b, static_cast<EngineObject*>(object));
    default:
      return kMalformed;
  }
}

StatusCode PalmDoc_BackgroundStep(EngineObject* handler) noexcept {
  PalmDocBody* b = Body(handler);
  if (b == nullptr) return kBadArgument;
  if (b->db == nullptr || b->decodedRecords >= b->textRecords) return kDocStepDone;
  std::uint32_t length = 0;
  const StatusCode s =
      RecordText(*b, static_cast<std::uint16_t>(b->decodedRecords + 1), nullptr, &length);
  if (IsFailure(s)) return s;
  if (length != b->recordSize) b->recordSize = 0;
  if (b->sampleAccumulator >= b->textRecords && b->sampleCount < kPalmDocStartEntries) {
    b->startTable[b->sampleCount++] = b->textLength;
    b->sampleAccumulator -= b->textRecords;
  }
  b->sampleAccumulator += kPalmDocStartEntries;
  b->textLength += length;
  ++b->decodedRecords;
  return kOk;
}

StatusCode PalmDoc_GetSectionRange(EngineObject* handler, std::int16_t section,
                                   std::uint32_t* start, std::uint32_t* end) noexcept {
  const PalmDocBody* b = Body(handler);
  if (b == nullptr) return kBadArgument;
  if (section != 0) return kNoMore;
  if (start == nullptr || end == nullptr) return kNullOutPointer;
  *start = 0;
  *end = b->textLength;
  return kOk;
}

StatusCode PalmDoc_FindSection(EngineObject* handler, std::uint32_t position, std::int16_t* section,
                               std::uint32_t* start, std::uint32_t* end) noexcept {
  const PalmDocBody* b = Body(handler);
  if (b == nullptr) return kBadArgument;
  if (position >= b->textLength) return kNoMore;
  if (section != nullptr) *section = 0;
  if (start != nullptr) *start = 0;
  if (end != nullptr) *end = b->textLength;
  return kOk;
}

StatusCode PalmDoc_GetTextLength(EngineObject* handler, std::uint32_t* length) noexcept {
  const PalmDocBody* b = Body(handler);
  if (b == nullptr) return kBadArgument;
  if (length == nullptr) return kNullOutPointer;
  *length = b->textLength;
  return kOk;
}

StatusCode PalmDoc_GetText(EngineObject* handler, std::uint32_t position, const std::uint8_t** text,
                           std::uint32_t* length) noexcept {
  PalmDocBody* b = Body(handler);
  if (b == nullptr) return kBadArgument;
  if (text == nullptr || length == nullptr) return kNullOutPointer;
  if (position >= b->textLength) {
    *text = nullptr;
    *length = 0;
    return kOk;
  }
  int k = BufferHolding(*b, position, false);
  if (k < 0) {
    k = static_cast<int>(b->nextBuffer);
    if (IsFailure(PalmDoc_DecodeRecord(*b, position, b->nextBuffer))) {
      *text = nullptr;
      *length = 0;
      return kFailed;
    }
  }
  const std::uint32_t offset = position - b->bufferStart[k];
  *length = std::min({*length, b->textLength - position, b->bufferLength[k] - offset});
  *text = b->buffer[k] + offset;
  b->nextBuffer = 1u - static_cast<std::uint32_t>(k);
  return kOk;
}

StatusCode PalmDoc_GetTextBefore(EngineObject* handler, std::uint32_t position,
                                 const std::uint8_t** text, std::uint32_t* length) noexcept {
  PalmDocBody* b = Body(handler);
  if (b == nullptr) return kBadArgument;
  if (text == nullptr || length == nullptr) return kNullOutPointer;
  if (position == 0 || position > b->textLength) {
    *text = nullptr;
    *length = 0;
    return kOk;
  }
  int k = BufferHolding(*b, position, true);
  if (k < 0) {
    k = static_cast<int>(b->nextBuffer);
    if (IsFailure(PalmDoc_DecodeRecord(*b, position - 1, b->nextBuffer))) {
      *text = nullptr;
      *length = 0;
      return kFailed;
    }
  }
  const std::uint32_t offset = position - b->bufferStart[k];
  *length = std::min({*length, position, offset});
  *text = b->buffer[k] + offset - *length;
  b->nextBuffer = 1u - static_cast<std::uint32_t>(k);
  return kOk;
}

StatusCode PalmDoc_GetCharStyle(EngineObject* handler, EngineObject*, std::uint32_t,
                                DeviceFontSpec* font, CharFormat* format,
                                std::uint32_t* runEnd) noexcept {
  const PalmDocBody* b = Body(handler);
  if (b == nullptr) return kBadArgument;
  if (runEnd == nullptr) return kNullOutPointer;
  DocHandler_InitCharStyle(font, format);
  if (format != nullptr && (b->settings.flags & DocFlag::RightAlign) != 0) {
    format->formatFlags = static_cast<std::uint16_t>((format->formatFlags & ~DocFormat::AlignMask) |
                                                     DocFormat::AlignRight);
  }
  *runEnd = kRunToEnd;
  return kOk;
}

StatusCode PalmDoc_BookmarkOp(EngineObject* handler, std::uint16_t subCode, std::uint16_t index,
                              void* record) noexcept {
  if ((subCode & DocBookmark::ListMaskBits) != 0 || subCode < DocBookmark::ListMask ||
      subCode > DocBookmark::Sort) {
    return kNotSupported;
  }
  PalmDocBody* b = Body(handler);
  if (b == nullptr) return kBadArgument;
  const std::uint32_t count = BookmarkCount(*b);
  switch (subCode) {
    case DocBookmark::ListMask:
    case DocBookmark::LongestName:
    case DocBookmark::Count:
      if (record == nullptr) return kNullOutPointer;
      *static_cast<std::uint16_t*>(record) =
          static_cast<std::uint16_t>(subCode == DocBookmark::ListMask      ? 1
                                     : subCode == DocBookmark::LongestName ? kPalmDocLongestName
                                                                           : count);
      return kOk;
    case DocBookmark::Capability:
      if (record == nullptr) return kNullOutPointer;
      *static_cast<std::uint32_t*>(record) = 1;
      return kOk;
    case DocBookmark::FreeNames:
      Engine_Free(record);
      return kOk;
    default:
      break;
  }
  if (b->db == nullptr) return kFailed;
  switch (subCode) {
    case DocBookmark::GetValue: {
      if (index >= count) return kDocBadListIndex;
      if (record == nullptr) return kNullOutPointer;
      const HeldRecord r(b->db, BookmarkRecord(*b, index));
      if (IsFailure(r.Status())) return r.Status();
      if (r.Size() < kPalmDocBookmarkSize) return kDocBookmarkTooShort;
      *static_cast<std::uint32_t*>(record) = LoadBE32(r.Data() + kPalmDocBookmarkName);
      return kOk;
    }
    case DocBookmark::SetValue: {
      if (index >= count) return kDocBadListIndex;
      if (record == nullptr) return kBadArgument;
      std::uint8_t stored[4];
      StoreBE32(stored, *static_cast<const std::uint32_t*>(record));
      return WriteBookmark(*b, index, kPalmDocBookmarkName, stored, 4);
    }
    case DocBookmark::GetNames: {
      if (record == nullptr) return kNullOutPointer;
      if (count == 0) return kDocListEmpty;
      // One block: the pointers, then a bounded copy of each name.
      const std::uint32_t bytes = count * (sizeof(const char*) + kPalmDocBookmarkName);
      void* raw = nullptr;
      StatusCode s = Engine_Alloc(bytes, &raw);
      if (IsFailure(s)) return s;
      EngineBuffer<void> block(raw);
      auto** array = static_cast<const char**>(raw);
      auto* names = reinterpret_cast<std::uint8_t*>(array + count);
      s = ReadNames(*b, count, names);
      if (IsFailure(s)) return s;
      for (std::uint32_t k = 0; k < count; ++k)
        array[k] = reinterpret_cast<const char*>(names + k * kPalmDocBookmarkName);
      *static_cast<const char***>(record) = array;
      block.release();
      return kOk;
    }
    case DocBookmark::Insert: {
      const auto* in = static_cast<const DocBookmarkInsert*>(record);
      if (in == nullptr || in->name == nullptr || in->value == nullptr) return kBadArgument;
      // Without record 0 a new record would take its place and be read as
      // the text's description, not as a bookmark.
      if (b->recordCount == 0) return kDocMalformed;
      std::uint8_t bytes[kPalmDocBookmarkSize];
      CallerName(in->name, bytes);
      StoreBE32(bytes + kPalmDocBookmarkName, *in->value);
      std::uint16_t at = index < count ? BookmarkRecord(*b, index) : 0xFFFF;
      const StatusCode s = DbOf(b->db).insertRecord(b->db, &at, sizeof bytes, bytes);
      if (IsFailure(s)) return s;
      ++b->recordCount;
      return kOk;
    }
    case DocBookmark::Delete: {
      if (index >= count) return kDocBadListIndex;
      const StatusCode s = DbOf(b->db).deleteRecord(b->db, BookmarkRecord(*b, index));
      if (IsFailure(s)) return s;
      --b->recordCount;
      return kOk;
    }
    case DocBookmark::Rename: {
      if (index >= count) return kDocBadListIndex;
      const auto* in = static_cast<const DocBookmarkRename*>(record);
      if (in == nullptr || in->name == nullptr) return kBadArgument;
      std::uint8_t name[kPalmDocBookmarkName];
      CallerName(in->name, name);
      return WriteBookmark(*b, index, 0, name, sizeof name);
    }
    case DocBookmark::Move: {
      if (index >= count) return kDocBadListIndex;
      if (record == nullptr) return kBadArgument;
      const std::uint32_t j =
          std::min<std::uint32_t>(*static_cast<const std::uint16_t*>(record), count);
      if (j == index || j == index + 1u) return kOk;
      return DbOf(b->db).moveRecord(b->db, BookmarkRecord(*b, index), BookmarkRecord(*b, j));
    }
    case DocBookmark::Find: {
      auto* in = static_cast<DocBookmarkFind*>(record);
      if (in == nullptr || in->name == nullptr) return kBadArgument;
      const std::size_t n = strnlen(in->name, kPalmDocLongestName);
      for (std::uint32_t k = 0; k < count; ++k) {
        const HeldRecord r(b->db, BookmarkRecord(*b, k));
        if (IsFailure(r.Status())) return r.Status();
        if (r.Size() < kPalmDocBookmarkSize) return kDocBookmarkTooShort;
        if (std::memcmp(r.Data(), in->name, n) == 0) {
          in->index = static_cast<std::uint16_t>(k);
          return kOk;
        }
      }
      return kNotFound;
    }
    case DocBookmark::Sort:
      return SortBookmarks(*b, count);
    default:
      return kNotSupported;
  }
}

StatusCode PalmDoc_Control(EngineObject* handler, std::uint16_t code, std::uint32_t value,
                           void* record) noexcept {
  PalmDocBody* b = Body(handler);
  if (b == nullptr) return kBadArgument;
  return DocHandler_Control(&b->settings, code, value, record);
}

namespace {

constexpr DocHandlerOps kPalmDocOps = MakeDocHandlerOps({
    .create = PalmDoc_Create,
    .destroy = PalmDoc_Destroy,
    .command = PalmDoc_Command,
    .getSectionRange = PalmDoc_GetSectionRange,
    .findSection = PalmDoc_FindSection,
    .getTextLength = PalmDoc_GetTextLength,
    .getText = PalmDoc_GetText,
    .getTextBefore = PalmDoc_GetTextBefore,
    .getCharStyle = PalmDoc_GetCharStyle,
    .control = PalmDoc_Control,
    .backgroundStep = PalmDoc_BackgroundStep,
    .bookmarkOp = PalmDoc_BookmarkOp,
});

}  // namespace

EngineObject PalmDocModule = {nullptr, &kPalmDocOps};
