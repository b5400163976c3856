#include "engine/formats/native_index.h"

#include <cstring>

#include "engine/runtime/swap.h"

namespace {

constexpr std::uint32_t kLinkItem = 6;
constexpr std::uint32_t kParaFixed = 4;
constexpr std::uint32_t kParaOptional = 2;
constexpr std::uint8_t kParaHasPart = 0x10;

std::uint32_t MainWidth(std::uint8_t code) {
  return code < 2 ? 1 : 2;
}
bool Extends(std::uint8_t code) {
  return code == 1 || code == 3;
}

// Entry i of a number array in `code`; `ext` is the index of the next
// extension entry, advanced when this entry takes one. The caller has
// checked that both arrays lie inside the record.
std::uint32_t NumberAt(const std::uint8_t* d, std::uint8_t code, std::uint32_t mainAt,
                       std::uint32_t extAt, std::uint32_t i, std::uint32_t& ext) {
  switch (code) {
    case 0:
      return d[mainAt + i];
    case 1: {
      const std::uint8_t b = d[mainAt + i];
      if ((b & 0x80) == 0) return b;
      return (b & 0x7Fu) | (std::uint32_t{d[extAt + ext++]} << 7);
    }
    case 2:
      return LoadBE16(d + mainAt + 2 * i);
    default: {
      const std::uint16_t w = LoadBE16(d + mainAt + 2 * i);
      if ((w & 0x8000) == 0) return w;
      const std::uint32_t high = LoadBE16(d + extAt + 2 * ext++);
      return (w & 0x7FFFu) | (high << 15);
    }
  }
}

// Whether entry i takes an extension entry.
bool TakesExtension(const std::uint8_t* d, std::uint8_t code, std::uint32_t mainAt,
                    std::uint32_t i) {
  if (code == 1) return (d[mainAt + i] & 0x80) != 0;
  if (code == 3) return (d[mainAt + 2 * i] & 0x80) != 0;
  return false;
}

// Checks that `n` entries of a number array at mainAt and the extension
// entries they take lie inside the record; *extAt is where the extension
// array starts and *end where it ends.
bool CheckNumbers(const std::uint8_t* d, std::uint32_t size, std::uint8_t code,
                  std::uint64_t mainAt, std::uint32_t n, std::uint32_t* extAt, std::uint64_t* end) {
  const std::uint32_t w = MainWidth(code);
  const std::uint64_t ext = mainAt + std::uint64_t{n} * w;
  if (ext > size) return false;
  std::uint64_t taken = 0;
  if (Extends(code)) {
    for (std::uint32_t i = 0; i < n; ++i)
      taken += TakesExtension(d, code, static_cast<std::uint32_t>(mainAt), i) ? 1 : 0;
  }
  if (ext + taken * w > size) return false;
  *extAt = static_cast<std::uint32_t>(ext);
  *end = ext + taken * w;
  return true;
}

// Reads and checks the held record's layout into the cursor.
bool ParseRecord(NativeRunCursor& c) {
  const std::uint8_t* d = c.record;
  const std::uint32_t size = c.size;
  const std::uint32_t H = d[0];
  if (std::uint64_t{H} + kNativeRunRecordHeader > size) return false;
  const std::uint32_t S = d[H];
  if (S < kNativeRunRecordHeader || std::uint64_t{H} + S > size) return false;
  const std::uint8_t codes = d[H + 2];
  c.deltaCode = codes & 3;
  c.valueCode = (codes >> 2) & 3;
  c.valueAt = LoadBE16(d + H + 4);
  c.runs = LoadBE16(d + H + 6);
  c.recordStart = LoadBE32(d + H + 8);
  c.recordEnd = LoadBE32(d + H + 12);
  // A record ends after its start; only a record of one run may be empty
  // (the one section of an empty document).
  if (c.runs == 0 || c.runs > c.maxRuns || c.recordStart > c.recordEnd ||
      (c.recordStart == c.recordEnd && c.runs != 1))
    return false;
  c.deltaAt = H + S;
  std::uint64_t deltasEnd = 0;
  if (!CheckNumbers(d, size, c.deltaCode, c.deltaAt, c.runs - 1u, &c.deltaExtAt, &deltasEnd))
    return false;
  // Every run must end before the record's end, so the last run is not
  // empty and no sum wraps.
  std::uint64_t at = c.recordStart;
  std::uint32_t ext = 0;
  for (std::uint32_t i = 0; i + 1 < c.runs; ++i) {
    at += std::uint64_t{NumberAt(d, c.deltaCode, c.deltaAt, c.deltaExtAt, i, ext)} + 1;
    if (at >= c.recordEnd) return false;
  }
  // The values may not overlap the sub-header.
  if (c.valueAt < H + kNativeRunRecordHeader) return false;
  std::uint64_t valuesEnd = 0;
  switch (c.kind) {
    case NativeRunKind::Value:
      return CheckNumbers(d, size, c.valueCode, c.valueAt, c.runs, &c.valueExtAt, &valuesEnd);
    case NativeRunKind::Link:
      return std::uint64_t{c.valueAt} + std::uint64_t{c.runs} * kLinkItem <= size;
    default: {
      const std::uint64_t fixedEnd = std::uint64_t{c.valueAt} + std::uint64_t{c.runs} * kParaFixed;
      if (fixedEnd > size) return false;
      std::uint64_t parts = 0;
      for (std::uint32_t i = 0; i < c.runs; ++i)
        parts += (d[c.valueAt + i * kParaFixed] & kParaHasPart) != 0 ? 1 : 0;
      c.valueExtAt = static_cast<std::uint32_t>(fixedEnd);
      return fixedEnd + parts * kParaOptional <= size;
    }
  }
}

std::uint32_t DeltaOf(const NativeRunCursor& c, std::uint32_t i, std::uint32_t ext) {
  return NumberAt(c.record, c.deltaCode, c.deltaAt, c.deltaExtAt, i, ext);
}

bool ValueTakesExtra(const NativeRunCursor& c, std::uint32_t i) {
  if (c.kind == NativeRunKind::Value) return TakesExtension(c.record, c.valueCode, c.valueAt, i);
  if (c.kind == NativeRunKind::ParaItem)
    return (c.record[c.valueAt + i * kParaFixed] & kParaHasPart) != 0;
  return false;
}

void FirstRun(NativeRunCursor& c) {
  c.run = 0;
  c.deltaExt = 0;
  c.valueExt = 0;
  c.runStart = c.recordStart;
  c.runEnd = c.runs > 1 ? c.recordStart + DeltaOf(c, 0, 0) + 1 : c.recordEnd;
}

void StepForward(NativeRunCursor& c) {
  if (TakesExtension(c.record, c.deltaCode, c.deltaAt, c.run)) ++c.deltaExt;
  if (ValueTakesExtra(c, c.run)) ++c.valueExt;
  ++c.run;
  c.runStart = c.runEnd;
  c.runEnd = c.run + 1u < c.runs ? c.runStart + DeltaOf(c, c.run, c.deltaExt) + 1 : c.recordEnd;
}

void StepBack(NativeRunCursor& c) {
  --c.run;
  // The record was checked whole: the counts never go below zero.
  if (TakesExtension(c.record, c.deltaCode, c.deltaAt, c.run)) --c.deltaExt;
  if (ValueTakesExtra(c, c.run)) --c.valueExt;
  c.runEnd = c.runStart;
  c.runStart = c.runEnd - (DeltaOf(c, c.run, c.deltaExt) + 1);
}

// Holds record `index` of the list, its first run current.
StatusCode Hold(EngineObject* db, NativeRunCursor& c, std::uint16_t index) {
  if (c.held == index && c.record != nullptr) return kOk;
  const StatusCode released = NativeRun_Release(db, &c);
  if (IsFailure(released)) return released;
  if (index >= c.count) return kDocMalformed;
  std::uint32_t size = 0;
  const std::uint8_t* data = nullptr;
  const StatusCode r = NativeStore_FetchRecord(
      db, NativeRecordType::RunList, static_cast<std::uint16_t>(c.first + index), &size, &data);
  if (IsFailure(r)) return r;
  c.record = data;
  c.size = size;
  c.held = index;
  if (!ParseRecord(c)) {
    const StatusCode gone = NativeRun_Release(db, &c);
    return IsFailure(gone) ? gone : kDocMalformed;
  }
  FirstRun(c);
  return kOk;
}

void WalkTo(NativeRunCursor& c, std::uint32_t p) {
  while (p >= c.runEnd && c.run + 1u < c.runs)
    StepForward(c);
  while (p < c.runStart && c.run > 0)
    StepBack(c);
}

NativeRunCursor* RangeCursor(NativeDocState& s, std::uint32_t entry) {
  switch (entry) {
    case NativeRange::Sections:
      return &s.sections;
    case NativeRange::RunList0:
      return &s.runLists[0].column[0];
    case NativeRange::RunList1:
      return &s.runLists[1].column[0];
    case NativeRange::InlineObjects:
      return &s.objects;
    case NativeRange::Links:
      return &s.links;
    case NativeRange::OpenRunList:
      return &s.openList;
    default:
      return nullptr;
  }
}

StatusCode ReleaseIndex(EngineObject* db, NativeItemIndex& x) {
  const StatusCode a = NativeStore_ReleaseRecord(db, x.items);
  const StatusCode b = NativeStore_ReleaseRecord(db, x.top);
  x.items = nullptr;
  x.top = nullptr;
  x.itemRecord = kNativeNoRecord;
  return IsFailure(a) ? a : b;
}

StatusCode LoadIndex(NativeDocState& s, NativeItemIndex& x, std::uint32_t entry) {
  x = NativeItemIndex{};
  x.itemRecord = kNativeNoRecord;
  x.first = s.record0.rangeStart[entry];
  x.count = s.record0.rangeCount[entry];
  if (x.count <= 1) return kOk;
  std::uint32_t size = 0;
  const std::uint8_t* d = nullptr;
  const StatusCode r =
      NativeStore_FetchRecord(s.db, NativeRecordType::IndexTop, x.first, &size, &d);
  if (IsFailure(r)) return r;
  x.top = d;
  x.topSize = size;
  const std::uint32_t H = d[0];
  bool ok = H < size;
  if (ok) {
    x.entriesAt = H + d[H];
    ok = std::uint64_t{x.entriesAt} + 2u * x.count <= size;
  }
  for (std::uint32_t k = 0; ok && k + 1 < x.count; ++k)
    ok = LoadBE16(d + x.entriesAt + 2 * k) <= LoadBE16(d + x.entriesAt + 2 * k + 2);
  if (ok) return kOk;
  const StatusCode gone = ReleaseIndex(s.db, x);
  return IsFailure(gone) ? gone : kDocMalformed;
}

}  // namespace

void NativeRun_Init(NativeRunCursor* cursor, std::uint16_t first, std::uint16_t count,
                    std::uint8_t kind, std::uint16_t maxRuns) noexcept {
  *cursor = NativeRunCursor{};
  cursor->first = first;
  cursor->count = count;
  cursor->kind = kind;
  cursor->maxRuns = maxRuns;
  cursor->held = kNativeNoRecord;
}

StatusCode NativeRun_Release(EngineObject* db, NativeRunCursor* cursor) noexcept {
  const StatusCode r = NativeStore_ReleaseRecord(db, cursor->record);
  cursor->record = nullptr;
  cursor->size = 0;
  cursor->held = kNativeNoRecord;
  cursor->runs = 0;
  return r;
}

StatusCode NativeRun_SeekPosition(EngineObject* db, NativeRunCursor* cursor, std::uint32_t p,
                                  std::uint32_t limit) noexcept {
  NativeRunCursor& c = *cursor;
  if (c.count == 0) return kNotFound;
  if (c.record != nullptr && p >= c.recordStart && p < c.recordEnd) {
    WalkTo(c, p);
    return kOk;
  }
  std::uint32_t lo = 0;
  std::uint32_t hi = c.count;
  while (lo < hi) {
    const std::uint32_t mid = lo + (hi - lo) / 2;
    const StatusCode r = Hold(db, c, static_cast<std::uint16_t>(mid));
    if (IsFailure(r)) return r;
    if (p < c.recordStart) {
      hi = mid;
    } else if (p >= c.recordEnd) {
      lo = mid + 1;
    } else {
      WalkTo(c, p);
      return kOk;
    }
  }
  // No record covers p: the first one after it, when it starts before the
  // limit.
  if (lo < c.count) {
    const StatusCode r = Hold(db, c, static_cast<std::uint16_t>(lo));
    if (IsFailure(r)) return r;
    if (c.recordStart > p && c.recordStart < limit) return kOk;
  }
  const StatusCode released = NativeRun_Release(db, &c);
  return IsFailure(released) ? released : kNotFound;
}

StatusCode NativeRun_SeekRun(EngineObject* db, NativeRunCursor* cursor, std::uint32_t n) noexcept {
  NativeRunCursor& c = *cursor;
  if (c.maxRuns == 0) return kNoMore;
  const std::uint32_t index = n / c.maxRuns;
  const std::uint32_t run = n % c.maxRuns;
  if (index >= c.count) return kNoMore;
  const StatusCode r = Hold(db, c, static_cast<std::uint16_t>(index));
  if (IsFailure(r)) return r;
  if (run >= c.runs) return kNoMore;
  while (c.run < run)
    StepForward(c);
  while (c.run > run)
    StepBack(c);
  return kOk;
}

StatusCode NativeRun_Next(EngineObject* db, NativeRunCursor* cursor) noexcept {
  NativeRunCursor& c = *cursor;
  if (c.record == nullptr) return kNoMore;
  if (c.run + 1u < c.runs) {
    StepForward(c);
    return kOk;
  }
  if (c.held + 1u >= c.count) return kNoMore;
  return Hold(db, c, static_cast<std::uint16_t>(c.held + 1));
}

StatusCode NativeRun_Previous(EngineObject* db, NativeRunCursor* cursor) noexcept {
  NativeRunCursor& c = *cursor;
  if (c.record == nullptr) return kFailed;
  if (c.run > 0) {
    StepBack(c);
    return kOk;
  }
  if (c.held == 0) return kFailed;
  const StatusCode r = Hold(db, c, static_cast<std::uint16_t>(c.held - 1));
  if (IsFailure(r)) return r;
  while (c.run + 1u < c.runs)
    StepForward(c);
  return kOk;
}

std::uint32_t NativeRun_Value(const NativeRunCursor& c) noexcept {
  if (c.record == nullptr || c.kind != NativeRunKind::Value) return 0;
  std::uint32_t ext = c.valueExt;
  return NumberAt(c.record, c.valueCode, c.valueAt, c.valueExtAt, c.run, ext);
}

void NativeRun_Link(const NativeRunCursor& c, std::uint16_t* length,
                    std::uint32_t* target) noexcept {
  std::uint16_t l = 0;
  std::uint32_t t = 0;
  if (c.record != nullptr && c.kind == NativeRunKind::Link) {
    const std::uint8_t* item = c.record + c.valueAt + std::uint32_t{c.run} * kLinkItem;
    l = LoadBE16(item);
    t = LoadBE32(item + 2);
  }
  if (length != nullptr) *length = l;
  if (target != nullptr) *target = t;
}

void NativeRun_ParaItem(const NativeRunCursor& c, std::uint8_t out[6]) noexcept {
  std::memset(out, 0, 6);
  if (c.record == nullptr || c.kind != NativeRunKind::ParaItem) return;
  const std::uint8_t* fixed = c.record + c.valueAt + std::uint32_t{c.run} * kParaFixed;
  std::memcpy(out, fixed, kParaFixed);
  if ((fixed[0] & kParaHasPart) != 0)
    std::memcpy(out + kParaFixed, c.record + c.valueExtAt + c.valueExt * kParaOptional,
                kParaOptional);
}

std::uint32_t NativeRun_Number(const NativeRunCursor& c) noexcept {
  if (c.record == nullptr) return 0;
  return std::uint32_t{c.held} * c.maxRuns + c.run;
}

StatusCode NativeStore_ReadDescriptor(NativeDocState* s, std::uint16_t index,
                                      NativeRunDescriptor* out) noexcept {
  std::uint32_t size = 0;
  const std::uint8_t* d = nullptr;
  StatusCode r =
      NativeStore_FetchRecord(s->db, NativeRecordType::RunListDescriptor, index, &size, &d);
  if (IsFailure(r)) return r;
  const std::uint32_t H = d[0];
  // The sub-header (S, two bytes, K) and all K + 1 pairs must be present.
  bool ok = std::uint64_t{H} + 4 <= size && d[H] >= 4;
  std::uint32_t columns = 0;
  std::uint64_t at = 0;
  if (ok) {
    columns = std::uint32_t{d[H + 3]} + 1;
    at = std::uint64_t{H} + d[H];
    ok = at + 4u * columns <= size;
  }
  NativeRunDescriptor desc{};
  for (std::uint32_t c = 0; ok && c < columns; ++c) {
    const std::uint16_t first = LoadBE16(d + at + 4 * c);
    const std::uint16_t count = LoadBE16(d + at + 4 * c + 2);
    ok = (count == 0 || first != 0) && std::uint32_t{first} + count <= s->recordCount;
    desc.first[c] = first;
    desc.count[c] = count;
  }
  desc.columns = static_cast<std::uint16_t>(columns);
  r = NativeStore_ReleaseRecord(s->db, d);
  if (IsFailure(r)) return r;
  if (!ok) return kDocMalformed;
  *out = desc;
  return kOk;
}

StatusCode NativeStore_SeekColumn(NativeDocState* s, std::uint32_t list, std::uint32_t column,
                                  std::uint32_t p, std::uint32_t limit, std::uint32_t* value,
                                  std::uint32_t* start, std::uint32_t* end) noexcept {
  if (s == nullptr || list > 1) return kBadArgument;
  NativeRunList& l = s->runLists[list];
  const std::uint32_t columns = l.descriptor.columns != 0 ? l.descriptor.columns : 1;
  if (column >= columns) return kIndexOutOfRange;
  NativeRunCursor temporary{};
  NativeRunCursor* c = nullptr;
  if (column < 2) {
    c = &l.column[column];
  } else {
    NativeRun_Init(&temporary, l.descriptor.first[column], l.descriptor.count[column],
                   NativeRunKind::Value, 0xFFFF);
    c = &temporary;
  }
  StatusCode r = NativeRun_SeekPosition(s->db, c, p, limit);
  if (r == kOk) {
    if (value != nullptr) *value = NativeRun_Value(*c);
    if (start != nullptr) *start = c->runStart;
    if (end != nullptr) *end = c->runEnd;
  }
  if (c == &temporary) {
    const StatusCode released = NativeRun_Release(s->db, c);
    if (IsFailure(released) && !IsFailure(r)) r = released;
  }
  return r;
}

StatusCode NativeStore_SeekRun(NativeDocState* s, std::uint32_t rangeEntry, std::uint32_t p,
                               std::uint32_t* value, std::uint32_t* start,
                               std::uint32_t* end) noexcept {
  if (s == nullptr) return kBadArgument;
  NativeRunCursor* c = RangeCursor(*s, rangeEntry);
  if (c == nullptr) return kIndexOutOfRange;
  const StatusCode r = NativeRun_SeekPosition(s->db, c, p, 0);
  if (r != kOk) return r;
  if (value != nullptr) *value = NativeRun_Value(*c);
  if (start != nullptr) *start = c->runStart;
  if (end != nullptr) *end = c->runEnd;
  return kOk;
}

StatusCode NativeStore_GetIndexedItem(NativeDocState* s, std::uint32_t index, std::uint32_t n,
                                      const std::uint8_t** item, std::uint32_t* length) noexcept {
  if (s == nullptr || index > 2 || item == nullptr || length == nullptr) return kBadArgument;
  NativeItemIndex& x = s->indexes[index];
  if (x.top == nullptr) return kNotFound;
  if (x.items == nullptr || n < x.firstItem || n >= x.endItem) {
    const std::uint8_t* e = x.top + x.entriesAt;
    // The item record k with entry k <= n < entry k + 1.
    std::uint32_t lo = 0;
    std::uint32_t hi = x.count - 1u;
    while (lo < hi) {
      const std::uint32_t mid = lo + (hi - lo) / 2;
      if (n < LoadBE16(e + 2 * mid + 2)) {
        hi = mid;
      } else {
        lo = mid + 1;
      }
    }
    const std::uint32_t k = lo;
    if (k + 1 >= x.count || n < LoadBE16(e + 2 * k) || n >= LoadBE16(e + 2 * k + 2))
      return kDocMalformed;
    StatusCode r = NativeStore_ReleaseRecord(s->db, x.items);
    x.items = nullptr;
    x.itemRecord = kNativeNoRecord;
    if (IsFailure(r)) return r;
    std::uint32_t size = 0;
    const std::uint8_t* d = nullptr;
    r = NativeStore_FetchRecord(s->db, NativeRecordType::IndexItems,
                                static_cast<std::uint16_t>(x.first + k + 1), &size, &d);
    if (IsFailure(r)) return r;
    const std::uint16_t firstItem = LoadBE16(e + 2 * k);
    const std::uint16_t endItem = LoadBE16(e + 2 * k + 2);
    const std::uint32_t m = endItem - firstItem;
    const std::uint32_t H = d[0];
    bool ok = H < size;
    std::uint64_t offsetsAt = 0;
    std::uint64_t bytesAt = 0;
    if (ok) {
      offsetsAt = std::uint64_t{H} + d[H];
      bytesAt = offsetsAt + 2u * (m + 1);
      ok = bytesAt <= size;
    }
    for (std::uint32_t j = 0; ok && j < m; ++j)
      ok = LoadBE16(d + offsetsAt + 2 * j) <= LoadBE16(d + offsetsAt + 2 * j + 2);
    ok = ok && bytesAt + LoadBE16(d + offsetsAt + 2 * m) <= size;
    if (!ok) {
      const StatusCode gone = NativeStore_ReleaseRecord(s->db, d);
      return IsFailure(gone) ? gone : kDocMalformed;
    }
    x.items = d;
    x.itemsSize = size;
    x.itemRecord = static_cast<std::uint16_t>(k);
    x.firstItem = firstItem;
    x.endItem = endItem;
    x.offsetsAt = static_cast<std::uint32_t>(offsetsAt);
    x.bytesAt = static_cast<std::uint32_t>(bytesAt);
  }
  const std::uint32_t j = n - x.firstItem;
  const std::uint16_t from = LoadBE16(x.items + x.offsetsAt + 2 * j);
  const std::uint16_t to = LoadBE16(x.items + x.offsetsAt + 2 * j + 2);
  *item = x.items + x.bytesAt + from;
  *length = std::uint32_t{to} - from;
  return kOk;
}

StatusCode NativeStore_LocateSection(NativeDocState* s, bool byNumber, std::uint32_t p,
                                     std::uint32_t* section, std::uint32_t* start,
                                     std::uint32_t* end) noexcept {
  if (s == nullptr) return kBadArgument;
  NativeRunCursor& c = s->sections;
  StatusCode r = kOk;
  if (byNumber) {
    if (p >= s->record0.header.sectionCount) return kNoMore;
    r = NativeRun_SeekRun(s->db, &c, p);
    if (r == kNoMore) return kNotFound;
  } else {
    if (p >= s->record0.header.textLength) return kNoMore;
    r = NativeRun_SeekPosition(s->db, &c, p, 0);
  }
  if (r != kOk) return r;
  if (section != nullptr) *section = NativeRun_Number(c);
  if (start != nullptr) *start = c.runStart;
  if (end != nullptr) *end = c.runEnd;
  return kOk;
}

StatusCode NativeStore_LoadRunLists(NativeDocState* s) noexcept {
  const NativeRecord0& r0 = s->record0;
  auto range = [&](NativeRunCursor& c, std::uint32_t entry, std::uint8_t kind, std::uint16_t max) {
    NativeRun_Init(&c, r0.rangeStart[entry], r0.rangeCount[entry], kind, max);
  };
  // Run lists 0 and 1: their own range is column 0, the descriptor's lists
  // the further columns.
  for (std::uint32_t l = 0; l < 2; ++l) {
    NativeRunList& list = s->runLists[l];
    list.descriptor.columns = 0;
    range(list.column[0], NativeRange::RunList0 + l, NativeRunKind::Value, 0xFFFF);
    NativeRun_Init(&list.column[1], 0, 0, NativeRunKind::Value, 0xFFFF);
    const std::uint16_t d = r0.recordList[NativeRecordList::Descriptor0 + l];
    if (d == 0) continue;
    const StatusCode r = NativeStore_ReadDescriptor(s, d, &list.descriptor);
    if (IsFailure(r)) return r;
    if (list.descriptor.columns > 1) {
      NativeRun_Init(&list.column[1], list.descriptor.first[1], list.descriptor.count[1],
                     NativeRunKind::Value, 0xFFFF);
    }
  }
  StatusCode r = LoadIndex(*s, s->indexes[0], NativeRange::ItemIndex0);
  if (!IsFailure(r)) r = LoadIndex(*s, s->indexes[1], NativeRange::ItemIndex1);
  if (IsFailure(r)) return r;
  range(s->objects, NativeRange::InlineObjects, NativeRunKind::Value, 0xFFFF);
  range(s->sections, NativeRange::Sections, NativeRunKind::Value,
        static_cast<std::uint16_t>(kNativeSectionsPerRecord));
  r = LoadIndex(*s, s->indexes[2], NativeRange::ItemIndex2);
  if (IsFailure(r)) return r;
  range(s->links, NativeRange::Links, NativeRunKind::Link, 0xFFFF);
  range(s->openList, NativeRange::OpenRunList, NativeRunKind::Value, 0xFFFF);
  return kOk;
}

StatusCode NativeStore_ReleaseRunLists(NativeDocState* s) noexcept {
  StatusCode first = kOk;
  auto keep = [&first](StatusCode r) {
    if (IsFailure(r) && !IsFailure(first)) first = r;
  };
  for (NativeRunList& l : s->runLists) {
    keep(NativeRun_Release(s->db, &l.column[0]));
    keep(NativeRun_Release(s->db, &l.column[1]));
  }
  keep(NativeRun_Release(s->db, &s->sections));
  keep(NativeRun_Release(s->db, &s->objects));
  keep(NativeRun_Release(s->db, &s->links));
  keep(NativeRun_Release(s->db, &s->linkWalk.cursor));
  s->linkWalk.begun = false;
  keep(NativeRun_Release(s->db, &s->openList));
  keep(NativeRun_Release(s->db, &s->paraAttributes));
  for (NativeItemIndex& x : s->indexes)
    keep(ReleaseIndex(s->db, x));
  return first;
}
