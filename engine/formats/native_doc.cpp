#include "engine/formats/native_doc.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "engine/formats/native_index.h"
#include "engine/formats/native_select.h"
#include "engine/formats/native_table.h"
#include "engine/formats/native_text.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/swap.h"

namespace {

using NativeDocInstance = EngineInstance<NativeDocState>;

// Header offsets.
constexpr std::uint32_t kOffMajor = 2;
constexpr std::uint32_t kOffMinor = 3;
constexpr std::uint32_t kOffCheck = 4;
constexpr std::uint32_t kOffMagic = 6;
constexpr std::uint32_t kOffStartData = 12;
constexpr std::uint32_t kOffTextLength = 20;
constexpr std::uint32_t kOffBlocks = 24;
constexpr std::uint32_t kOffSections = 30;
constexpr std::uint32_t kOffPosList1 = 32;
constexpr std::uint32_t kOffPosList0 = 34;
constexpr std::uint32_t kOffDocFlags = 36;
constexpr std::uint32_t kOffMajor2 = 44;
constexpr std::uint32_t kOffMinor2 = 45;
constexpr std::uint32_t kOffCheck2 = 48;
constexpr std::uint32_t kOffDocBytes = 52;
constexpr std::uint32_t kOffStartSection = 56;
constexpr std::uint32_t kOffCharset = 58;
constexpr std::uint32_t kOffNameHash = 60;
constexpr std::uint32_t kOffAnchors = 62;
constexpr std::uint32_t kOffTargetCodes = 64;

constexpr std::uint8_t kMinCheck = 3;
constexpr std::uint8_t kCheck2Mask = 0xF0;

NativeDocState* Body(EngineObject* handler) {
  return handler != nullptr ? static_cast<NativeDocState*>(handler->state) : nullptr;
}

const DbFileOps& DbOf(EngineObject* db) {
  return OpsOf<DbFileOps>(db);
}

bool IsNewer(std::uint8_t major, std::uint8_t minor) {
  return major > kNativeVersionMajor ||
         (major == kNativeVersionMajor && minor > kNativeVersionMinor);
}

bool IsNative(const std::uint8_t* type, const std::uint8_t* creator) {
  return std::memcmp(type, kNativeType, 4) == 0 && std::memcmp(creator, kNativeCreator, 4) == 0;
}

bool IsUtf16Charset(std::uint32_t mib) {
  return mib >= 1013 && mib <= 1015;
}

// Reads the directory at L into out. Sizes are summed in 64 bits: a count
// near 0xFFFF must not wrap a bound.
bool ReadDirectory(const std::uint8_t* data, std::uint32_t size, std::uint32_t L,
                   std::uint16_t recordCount, NativeRecord0& out) {
  const std::uint64_t n = LoadBE16(data + L);
  const std::uint64_t mAt = std::uint64_t{L} + 2 + 2 * n;
  // The range table's count must be present too; a record that stops after
  // the record list has no range table to read.
  if (mAt + 2 > size) return false;
  const std::uint64_t m = LoadBE16(data + mAt);
  if (mAt + 2 + 4 * m > size) return false;
  for (std::uint32_t k = 0; k < kNativeRecordListSize; ++k) {
    const std::uint16_t v = k < n ? LoadBE16(data + L + 2 + 2 * k) : 0;
    if (v >= recordCount) return false;
    out.recordList[k] = v;
  }
  const std::uint8_t* starts = data + mAt + 2;
  const std::uint8_t* counts = starts + 2 * m;
  for (std::uint32_t k = 0; k < kNativeRangeCount; ++k) {
    const std::uint16_t start = k < m ? LoadBE16(starts + 2 * k) : 0;
    const std::uint16_t count = k < m ? LoadBE16(counts + 2 * k) : 0;
    if (start >= recordCount || std::uint32_t{start} + count > recordCount) return false;
    out.rangeStart[k] = start;
    out.rangeCount[k] = count;
  }
  return true;
}

// Gives back every position-list record the handles hold.
StatusCode ReleaseLists(NativeDocState& s) {
  return PosList_UnlockAll(s.db, s.posLists, static_cast<std::uint32_t>(std::size(s.posLists)));
}

// Gives back every record the tables, run lists, item indexes and position
// lists hold.
StatusCode ReleaseHeld(NativeDocState& s) {
  const StatusCode tables = NativeStore_ReleaseTables(&s);
  const StatusCode runs = NativeStore_ReleaseRunLists(&s);
  const StatusCode lists = ReleaseLists(s);
  return IsFailure(tables) ? tables : IsFailure(runs) ? runs : lists;
}

// Writes bytes 2 .. min(L, 128) of the header copy over record 0. The length
// field at 0 is never rewritten.
StatusCode WriteBackRecord0(NativeDocState& s) {
  const std::uint32_t n = std::min<std::uint32_t>(s.record0.header.headerLength, kNativeHeaderCopy);
  std::uint32_t size = 0;
  EngineObject* stream = nullptr;
  StatusCode r = DbOf(s.db).openRecord(s.db, 0, &size, &stream);
  if (IsFailure(r)) return r;
  // A record 0 that shrank since it was read would grow rather than be
  // rewritten in place: leave it alone.
  r = size < n ? kDocMalformed
               : StreamOf(stream).writeAt(stream, 2, s.record0.stored + 2, n - 2, nullptr);
  const StatusCode closed = StreamOf(stream).close(stream);
  return IsFailure(r) ? r : closed;
}

// Close: gives back the records held, stores changed position-list record
// numbers in the header copy and writes record 0 back when the copy changed,
// then forgets the database and the document.
StatusCode Detach(NativeDocState& s) {
  StatusCode first = ReleaseHeld(s);
  if (s.db != nullptr && s.recordCount != 0) {
    NativeDocHeader& h = s.record0.header;
    const std::uint16_t list0 = s.posLists[0].recordNumber;
    const std::uint16_t list1 = s.posLists[1].recordNumber;
    if (list0 != h.posList0Record) {
      h.posList0Record = list0;
      StoreBE16(s.record0.stored + kOffPosList0, list0);
      s.flags |= NativeStateFlag::Record0Changed;
    }
    if (list1 != h.posList1Record) {
      h.posList1Record = list1;
      StoreBE16(s.record0.stored + kOffPosList1, list1);
      s.flags |= NativeStateFlag::Record0Changed;
    }
    if ((s.flags & NativeStateFlag::Record0Changed) != 0) {
      const StatusCode r = WriteBackRecord0(s);
      if (IsFailure(r) && !IsFailure(first)) first = r;
    }
  }
  s.flags &= static_cast<std::uint16_t>(~NativeStateFlag::Record0Changed);
  // Forget the document's structure along with it.
  for (NativeRunList& l : s.runLists)
    l = NativeRunList{};
  s.sections = s.objects = s.links = s.openList = s.paraAttributes = NativeRunCursor{};
  s.linkWalk = NativeLinkWalk{};
  SelectList_FreeCache(&s);
  for (NativeItemIndex& x : s.indexes)
    x = NativeItemIndex{};
  s.pageLength[0] = s.pageLength[1] = 0;
  s.extraStart = s.extraLength = s.extraTotal = 0;
  s.db = nullptr;
  s.recordCount = 0;
  std::memset(&s.record0, 0, sizeof s.record0);
  std::memset(s.posLists, 0, sizeof s.posLists);
  s.charset = 0;
  return first;
}

// Forgets every cached page and record key (nothing is held by them).
void ResetCaches(NativeDocState& s) {
  s.textRecord = kNativeNoRecord;
  s.extraRecord = kNativeNoRecord;
  s.pageStart[0] = s.pageStart[1] = 0;
  s.pageLength[0] = s.pageLength[1] = 0;
  s.pageReplace = 0;
  s.extraStart = s.extraLength = s.extraTotal = 0;
  std::memset(s.extraBase, 0, sizeof s.extraBase);
  s.extraBaseCount = 0;
}

// The text decoder and the two page buffers; what this call allocated is
// freed again when a later allocation fails.
StatusCode AllocateTextBuffers(NativeDocState& s) {
  bool fresh[3] = {false, false, false};
  StatusCode r = kOk;
  if (s.textDecoder == nullptr) {
    r = Engine_AllocArray<DeflateDataDecoder>(1, &s.textDecoder);
    if (!IsFailure(r)) {
      std::memset(static_cast<void*>(s.textDecoder), 0, sizeof *s.textDecoder);
      fresh[0] = true;
    }
  }
  for (std::uint32_t k = 0; k < 2 && !IsFailure(r); ++k) {
    if (s.page[k] != nullptr) continue;
    r = Engine_AllocArray<std::uint8_t>(kNativePageBuffer, &s.page[k]);
    if (!IsFailure(r)) {
      std::memset(s.page[k], 0, kNativePageBuffer);
      fresh[k + 1] = true;
    }
  }
  if (IsFailure(r)) {
    if (fresh[0]) {
      Engine_Free(s.textDecoder);
      s.textDecoder = nullptr;
    }
    for (std::uint32_t k = 0; k < 2; ++k) {
      if (fresh[k + 1]) {
        Engine_Free(s.page[k]);
        s.page[k] = nullptr;
      }
    }
  }
  return r;
}

StatusCode Open(NativeDocState& s, EngineObject* db) {
  if (db == nullptr) return kBadArgument;
  const StatusCode closed = s.db != nullptr ? Detach(s) : kOk;
  if (IsFailure(closed)) return closed;
  s.db = db;
  s.flags &= static_cast<std::uint16_t>(~NativeStateFlag::Utf16);
  // No table pass runs until it is asked for; frames a pass of the document
  // before left on the device's store are dropped by the next slice.
  s.tablePass.passState = NativeTablePass::Idle;
  s.tablePass.stale = static_cast<std::uint16_t>(s.tablePass.stale + s.tablePass.pushed);
  s.tablePass.pushed = 0;
  ResetCaches(s);
  StatusCode r = AllocateTextBuffers(s);
  if (IsFailure(r)) return r;

  std::uint16_t count = 0;
  r = DbOf(db).getInfo(db, nullptr, nullptr, nullptr, nullptr, nullptr, &count);
  if (IsFailure(r) || count == 0) return r;

  std::uint32_t size = 0;
  void* buffer = nullptr;
  r = DbOf(db).readRecord(db, 0, &size, &buffer);
  if (IsFailure(r)) return r;
  const auto* data = static_cast<const std::uint8_t*>(buffer);

  NativeRecord0 record0{};
  const StatusCode checked =
      NativeDoc_CheckRecord0(data, buffer != nullptr ? size : 0, count, &record0);
  const StatusCode released = DbOf(db).freeRecordBuffer(db, buffer);
  if (IsFailure(released)) return released;
  // A record 0 that breaks a rule other than the version opens as a document
  // with no records.
  if (checked != kOk) return checked == kDocNewerVersion ? checked : kOk;
  s.recordCount = count;
  s.record0 = record0;
  r = NativeStore_LoadTables(&s);
  if (!IsFailure(r)) r = NativeStore_LoadRunLists(&s);
  if (IsFailure(r)) {
    // A damaged table directory, descriptor or index: nothing of the
    // document is kept, so nothing is read past its records or written
    // back.
    (void)ReleaseHeld(s);  // the damage is the status that matters
    s.recordCount = 0;
    std::memset(&s.record0, 0, sizeof s.record0);
    return r;
  }
  s.posLists[0].recordNumber = record0.header.posList0Record;
  s.posLists[1].recordNumber = record0.header.posList1Record;
  s.charset = record0.header.charset;
  if (IsUtf16Charset(s.charset)) s.flags |= NativeStateFlag::Utf16;
  return NativeStore_OpenExtra(&s);
}

}  // namespace

NativeDocHeader NativeDoc_ParseHeader(const std::uint8_t* p) noexcept {
  NativeDocHeader h{};
  h.headerLength = LoadBE16(p);
  h.versionMajor = p[kOffMajor];
  h.versionMinor = p[kOffMinor];
  h.check = p[kOffCheck];
  h.textLength = LoadBE32(p + kOffTextLength);
  h.blocksPerRecord = LoadBE16(p + kOffBlocks);
  h.sectionCount = LoadBE16(p + kOffSections);
  h.posList1Record = LoadBE16(p + kOffPosList1);
  h.posList0Record = LoadBE16(p + kOffPosList0);
  h.docFlags = LoadBE16(p + kOffDocFlags);
  h.version2Major = p[kOffMajor2];
  h.version2Minor = p[kOffMinor2];
  h.check2 = p[kOffCheck2];
  h.docBytes[0] = p[kOffDocBytes];
  h.docBytes[1] = p[kOffDocBytes + 1];
  h.startSection = LoadBE16(p + kOffStartSection);
  h.charset = LoadBE16(p + kOffCharset);
  h.nameHashRecords = LoadBE16(p + kOffNameHash);
  h.anchorRecords = LoadBE16(p + kOffAnchors);
  h.targetCodeRecords = LoadBE16(p + kOffTargetCodes);
  return h;
}

StatusCode NativeDoc_CheckRecord0(const std::uint8_t* data, std::uint32_t size,
                                  std::uint16_t recordCount, NativeRecord0* out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (data == nullptr) size = 0;
  // The versions come first, so a newer document is refused even when the
  // rest of its header follows rules this reader does not know; each pair is
  // read only when the record holds it.
  if (size > kOffMinor && IsNewer(data[kOffMajor], data[kOffMinor])) return kDocNewerVersion;
  if (size > kOffMinor2 && IsNewer(data[kOffMajor2], data[kOffMinor2])) return kDocNewerVersion;

  if (size < kNativeMinHeader) return kDocMalformed;
  const std::uint32_t L = LoadBE16(data);
  if (L < kNativeMinHeader || size < L + 2) return kDocMalformed;
  if (data[kOffMajor] < kNativeVersionMajor || data[kOffCheck] < kMinCheck) return kDocMalformed;
  if (std::memcmp(data + kOffMagic, kNativeMagic, sizeof kNativeMagic) != 0) return kDocMalformed;
  if (LoadBE16(data + kOffBlocks) == 0) return kDocMalformed;
  if ((data[kOffCheck2] & kCheck2Mask) != kCheck2Mask) return kDocMalformed;

  NativeRecord0 r{};
  std::memcpy(r.stored, data, std::min(L, kNativeHeaderCopy));
  r.header = NativeDoc_ParseHeader(r.stored);
  if (!ReadDirectory(data, size, L, recordCount, r)) return kDocMalformed;
  *out = r;
  return kOk;
}

StatusCode NativeStore_FetchRecord(EngineObject* db, std::uint8_t type, std::uint16_t index,
                                   std::uint32_t* size, const std::uint8_t** data) noexcept {
  if (size == nullptr || data == nullptr) return kNullOutPointer;
  if (db == nullptr) return kDocMalformed;
  std::uint32_t n = 0;
  void* buffer = nullptr;
  const StatusCode r = DbOf(db).readRecord(db, index, &n, &buffer);
  if (IsFailure(r)) return r;
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  if (p == nullptr || n < kNativeMinRecordHeader || p[0] < kNativeMinRecordHeader || p[0] > n ||
      p[1] != type) {
    const StatusCode released = DbOf(db).freeRecordBuffer(db, buffer);
    return IsFailure(released) ? released : kDocMalformed;
  }
  *size = n;
  *data = p;
  return kOk;
}

StatusCode NativeStore_ReleaseRecord(EngineObject* db, const std::uint8_t* data) noexcept {
  if (data == nullptr) return kOk;
  if (db == nullptr) return kBadArgument;
  return DbOf(db).freeRecordBuffer(db, const_cast<std::uint8_t*>(data));
}

StatusCode NativeDoc_Create(EngineObject*, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  NativeDocInstance* instance = nullptr;
  const StatusCode r = Engine_AllocArray<NativeDocInstance>(1, &instance);
  if (IsFailure(r)) return r;
  std::memset(static_cast<void*>(instance), 0, sizeof *instance);
  instance->header = {&instance->body, NativeDocModule.ops};
  instance->body.textRecord = kNativeNoRecord;
  instance->body.extraRecord = kNativeNoRecord;
  instance->body.tablePass.passState = NativeTablePass::Idle;
  DocHandler_ResetSettings(&instance->body.settings);
  *out = &instance->header;
  return kOk;
}

StatusCode NativeDoc_Destroy(EngineObject* handler) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr) return kBadArgument;
  Engine_Free(s->extraWindow);
  const StatusCode first = Detach(*s);
  Engine_Free(s->extraDecoder);
  Engine_Free(s->textDecoder);
  Engine_Free(s->page[0]);
  Engine_Free(s->page[1]);
  Engine_Free(handler);
  return first;
}

StatusCode NativeDoc_Command(EngineObject* handler, std::uint32_t code, void* object,
                             std::uint32_t value) noexcept {
  code &= 0xFFFF;
  switch (code) {
    case DocCommand::ProbeHeader:
    case DocCommand::ProbeStream:
    case DocCommand::ProbeDatabase:
      return DocHandler_ProbeDatabaseType(code, object, value, IsNative);
    case DocCommand::Close:
    case DocCommand::OpenDatabase:
    case DocCommand::ReplaceDatabase:
      break;
    default:
      return kMalformed;
  }
  NativeDocState* s = Body(handler);
  if (s == nullptr) return kBadArgument;
  switch (code) {
    case DocCommand::Close:
      return Detach(*s);
    case DocCommand::OpenDatabase:
      return Open(*s, static_cast<EngineObject*>(object));
    default: {
      auto* db = static_cast<EngineObject*>(object);
      if (db == nullptr) return kBadArgument;
      // Close forgot the document along with its database (a reopen in
      // another mode sends Close first): read it again from the new one.
      if (s->db == nullptr) return Open(*s, db);
      // Records lent by the old database go back to it before it is let go.
      if (db != s->db) {
        const StatusCode r = ReleaseHeld(*s);
        s->db = db;
        return r;
      }
      return kOk;
    }
  }
}

StatusCode NativeDoc_GetSectionInfo(EngineObject* handler, std::uint16_t* policy,
                                    std::uint16_t* count) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr) return kBadArgument;
  const std::uint16_t f = s->record0.header.docFlags;
  if (policy != nullptr) {
    *policy = (f & NativeDocFlag::PolicyFree) != 0          ? 0
              : (f & NativeDocFlag::PolicyNeverScreen) != 0 ? 2
                                                            : 1;
  }
  if (count != nullptr) *count = std::max<std::uint16_t>(s->record0.header.sectionCount, 1);
  return kOk;
}

namespace {

// Control 20: when the document stores a start position in a section that
// exists, the 16-byte record {u32 section index, u32 section start, u16 from
// header offset 12, header bytes 14 to 19} in host order; kYes, else kNo.
StatusCode StartPosition(NativeDocState& s, std::uint8_t* record) {
  if (record == nullptr) return kBadArgument;
  const NativeDocHeader& h = s.record0.header;
  if ((h.docFlags & NativeDocFlag::HasStartPosition) == 0 || h.startSection == 0 ||
      h.startSection > h.sectionCount) {
    return kNo;
  }
  std::uint32_t section = 0;
  std::uint32_t start = 0;
  const StatusCode r =
      NativeStore_LocateSection(&s, true, h.startSection - 1u, &section, &start, nullptr);
  if (r != kOk) return kNo;
  const std::uint16_t stamp = LoadBE16(s.record0.stored + kOffStartData);
  std::memcpy(record, &section, 4);
  std::memcpy(record + 4, &start, 4);
  std::memcpy(record + 8, &stamp, 2);
  std::memcpy(record + 10, s.record0.stored + kOffStartData + 2, 6);
  return kYes;
}

}  // namespace

StatusCode NativeDoc_Control(EngineObject* handler, std::uint16_t code, std::uint32_t value,
                             void* record) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr) return kBadArgument;
  switch (code) {
    case DocControl::SetInSlice:
      s->flags |= NativeStateFlag::TableLayout;
      return kOk;
    case DocControl::ClearInSlice:
      s->flags &= static_cast<std::uint16_t>(~NativeStateFlag::TableLayout);
      return kOk;
    case DocControl::HeaderBytes:
      if (record == nullptr) return kBadArgument;
      std::memcpy(record, s->record0.header.docBytes, 2);
      return kOk;
    case DocControl::StartPosition:
      return StartPosition(*s, static_cast<std::uint8_t*>(record));
    case DocControl::StartSection: {
      if (record == nullptr) return kBadArgument;
      const std::uint16_t section = s->record0.header.startSection;
      if (section == 0) return kNotSupported;
      const auto index = static_cast<std::uint16_t>(section - 1);
      std::memcpy(record, &index, sizeof index);
      return kOk;
    }
    case DocControl::DocumentCharset: {
      if (record == nullptr) return kBadArgument;
      const std::uint16_t charset = s->record0.header.charset;
      std::memcpy(record, &charset, sizeof charset);
      return kOk;
    }
    default:
      return DocHandler_Control(&s->settings, code, value, record);
  }
}
