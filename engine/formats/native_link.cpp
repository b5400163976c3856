#include "engine/formats/native_link.h"

#include <cstring>

#include "engine/codecs/deflate_data.h"
#include "engine/formats/native_index.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/checksum.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/str.h"

namespace {

std::uint16_t Be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::uint32_t Be32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

std::uint32_t Align4(std::uint32_t v) {
  return (v + 3u) & ~3u;
}

// ---------------------------------------------------------------------------
// Link runs

// The link of the cursor's current run: [start, end) and its target.
void CurrentLink(const NativeRunCursor& c, std::uint32_t* start, std::uint32_t* end,
                 std::uint32_t* target) {
  std::uint16_t length = 0;
  NativeRun_Link(c, &length, target);
  *start = c.runStart;
  const std::uint64_t e = std::uint64_t{c.runStart} + length;
  *end = length == 0 || e > c.runEnd ? c.runEnd : static_cast<std::uint32_t>(e);
}

void Fill(const NativeRunCursor& c, NativeLinkRange* range) {
  std::uint32_t target = 0;
  CurrentLink(c, &range->linkStart, &range->linkEnd, &target);
}

// ---------------------------------------------------------------------------
// The link index area

// The groups of the area, in their order.
enum class Group { NameHash, Anchor, TargetCode };

constexpr std::uint8_t kTypeNameHash = 15;
constexpr std::uint8_t kTypeAnchor = 14;
constexpr std::uint8_t kTypeTargetCode = 16;

// The number of records of a group; 0 when the area cannot hold the groups.
std::uint16_t GroupCount(const NativeDocState& s, Group g) {
  const NativeDocHeader& h = s.record0.header;
  const std::uint32_t total =
      std::uint32_t{h.nameHashRecords} + h.anchorRecords + h.targetCodeRecords;
  if (s.recordCount == 0 || total > s.record0.rangeCount[NativeRange::LinkIndex]) return 0;
  switch (g) {
    case Group::NameHash:
      return h.nameHashRecords;
    case Group::Anchor:
      return h.anchorRecords;
    default:
      return h.targetCodeRecords;
  }
}

// A fetched record of the area, given back when the object goes.
class IndexRecord {
 public:
  explicit IndexRecord(EngineObject* db) : db_(db) {}
  ~IndexRecord() { Release(); }
  IndexRecord(const IndexRecord&) = delete;
  IndexRecord& operator=(const IndexRecord&) = delete;

  StatusCode Fetch(const NativeDocState& s, Group g, std::uint32_t i) {
    Release();
    const NativeDocHeader& h = s.record0.header;
    std::uint32_t index = s.record0.rangeStart[NativeRange::LinkIndex] + i;
    std::uint8_t type = kTypeNameHash;
    if (g == Group::Anchor) {
      index += h.nameHashRecords;
      type = kTypeAnchor;
    } else if (g == Group::TargetCode) {
      index += std::uint32_t{h.nameHashRecords} + h.anchorRecords;
      type = kTypeTargetCode;
    }
    if (index >= s.recordCount) return kDocMalformed;
    const StatusCode r =
        NativeStore_FetchRecord(db_, type, static_cast<std::uint16_t>(index), &size_, &data_);
    if (IsFailure(r)) data_ = nullptr;
    return r;
  }
  void Release() {
    if (data_ != nullptr) (void)NativeStore_ReleaseRecord(db_, data_);  // a lent buffer
    data_ = nullptr;
  }
  const std::uint8_t* data() const { return data_; }
  std::uint32_t size() const { return size_; }
  std::uint32_t d() const { return data_[0]; }  // the record header length H

 private:
  EngineObject* db_;
  const std::uint8_t* data_ = nullptr;
  std::uint32_t size_ = 0;
};

// A decoder for the blocks of one lookup, with its buffer.
class BlockReader {
 public:
  ~BlockReader() {
    Engine_Free(decoder_);
    Engine_Free(buffer_);
  }
  StatusCode Prepare() {
    if (decoder_ == nullptr && IsFailure(Engine_AllocArray(1, &decoder_))) return kOutOfMemory;
    if (buffer_ == nullptr && IsFailure(Engine_AllocArray(kNativeLinkBlockSize, &buffer_)))
      return kOutOfMemory;
    return kOk;
  }
  // Forgets the table read (a new record, or another list of it).
  void NewTable() { tableAt_ = ~0u; }
  // The first `capacity` bytes (all: kNativeLinkBlockSize) of a block at
  // [at, at + length) of rec, stored in place or coded with the table at
  // [tableAt, tableAt + tableLength). *out points into rec or the buffer,
  // valid until the next call.
  StatusCode Read(const std::uint8_t* rec, std::uint32_t size, std::uint32_t tableAt,
                  std::uint32_t tableLength, std::uint32_t at, std::uint32_t length, bool stored,
                  std::uint16_t capacity, const std::uint8_t** out, std::uint32_t* outLength) {
    if (std::uint64_t{at} + length > size) return kDocMalformed;
    if (stored) {
      if (length > kNativeLinkBlockSize) return kDocMalformed;
      *out = rec + at;
      *outLength = length;
      return kOk;
    }
    StatusCode r = Prepare();
    if (IsFailure(r)) return r;
    if (tableAt_ != tableAt) {
      if (std::uint64_t{tableAt} + tableLength > size || tableLength < 4) return kDocMalformed;
      if (IsFailure(DeflateData_ReadTables(decoder_, rec + tableAt, tableLength / 4)))
        return kDocMalformed;
      tableAt_ = tableAt;
    }
    std::uint16_t n = 0;
    r = DeflateData_DecodeBlock(decoder_, rec + at, length / 4, buffer_, capacity, &n);
    // A block cut short at the capacity is what a peek asks for.
    if (IsFailure(r) && !(decoder_->status == DeflateDataStatus::Ok && n == capacity))
      return kDocMalformed;
    *out = buffer_;
    *outLength = n;
    return kOk;
  }

 private:
  DeflateDataDecoder* decoder_ = nullptr;
  std::uint8_t* buffer_ = nullptr;
  std::uint32_t tableAt_ = ~0u;
};

// One list of blocks in a record: its u16 array (code table length, then
// per block bit 15 stored and the low 15 bits its length) and its data.
struct BlockList {
  const std::uint8_t* rec;
  std::uint32_t size;
  std::uint32_t arrayAt;
  std::uint32_t blocks;
  std::uint32_t tableAt;
  std::uint32_t tableLength;
  std::uint32_t end;  // just past the last block

  // Sets up the list whose table starts at dataAt (rounded up to 4 bytes).
  StatusCode Init(const std::uint8_t* r, std::uint32_t n, std::uint32_t array, std::uint32_t count,
                  std::uint32_t dataAt) {
    rec = r;
    size = n;
    arrayAt = array;
    blocks = count;
    if (std::uint64_t{array} + 2 * (std::uint64_t{count} + 1) > n) return kDocMalformed;
    tableAt = Align4(dataAt);
    tableLength = Be16(r + array);
    std::uint64_t at = std::uint64_t{tableAt} + tableLength;
    for (std::uint32_t k = 0; k < count; ++k)
      at = Align4(static_cast<std::uint32_t>(at)) + (Be16(r + array + 2 + 2 * k) & 0x7FFFu);
    if (at > n) return kDocMalformed;
    end = static_cast<std::uint32_t>(at);
    return kOk;
  }
  // Block k's start, length and kind.
  void Block(std::uint32_t k, std::uint32_t* at, std::uint32_t* length, bool* stored) const {
    std::uint32_t p = tableAt + tableLength;
    for (std::uint32_t j = 0;; ++j) {
      const std::uint16_t e = Be16(rec + arrayAt + 2 + 2 * j);
      p = Align4(p);
      if (j == k) {
        *at = p;
        *length = e & 0x7FFFu;
        *stored = (e & 0x8000u) != 0;
        return;
      }
      p += e & 0x7FFFu;
    }
  }
  StatusCode Read(BlockReader& reader, std::uint32_t k, std::uint16_t capacity,
                  const std::uint8_t** out, std::uint32_t* length) const {
    std::uint32_t at = 0;
    std::uint32_t n = 0;
    bool stored = false;
    Block(k, &at, &n, &stored);
    return reader.Read(rec, size, tableAt, tableLength, at, n, stored, capacity, out, length);
  }
};

// A counted string at *at of a block of `size` bytes; *at moves past it and
// its trailing byte. false when it runs past the block.
bool ReadCounted(const std::uint8_t* b, std::uint32_t size, std::uint32_t* at,
                 const std::uint8_t** text, std::uint32_t* length) {
  std::uint32_t p = *at;
  if (p >= size) return false;
  std::uint32_t n = b[p++];
  if ((n & 0x80u) != 0) {
    if (p >= size) return false;
    n = (n & 0x7Fu) << 8 | b[p++];
  }
  if (std::uint64_t{p} + n + 1 > size) return false;
  *text = b + p;
  *length = n;
  *at = p + n + 1;
  return true;
}

// Skips `count` counted strings.
bool SkipCounted(const std::uint8_t* b, std::uint32_t size, std::uint32_t* at,
                 std::uint32_t count) {
  const std::uint8_t* text = nullptr;
  std::uint32_t length = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!ReadCounted(b, size, at, &text, &length)) return false;
  }
  return true;
}

// A NUL-terminated engine copy of a string.
StatusCode CopyText(const std::uint8_t* text, std::uint32_t length, char** out) {
  char* copy = nullptr;
  if (IsFailure(Engine_AllocArray(length + 1, &copy))) return kOutOfMemory;
  if (length != 0) std::memcpy(copy, text, length);
  copy[length] = '\0';
  *out = copy;
  return kOk;
}

// Entry n of list 1 or 2 of a target-code record: its string. kNotFound
// when the list holds fewer entries.
StatusCode FindGroupString(const BlockList& list, BlockReader& reader, std::uint32_t n,
                           const std::uint8_t** text, std::uint32_t* length) {
  std::uint32_t before = 0;
  for (std::uint32_t k = 0; k < list.blocks; ++k) {
    const std::uint8_t* b = nullptr;
    std::uint32_t size = 0;
    StatusCode r = list.Read(reader, k, 8, &b, &size);
    if (IsFailure(r)) return r;
    if (size < 6) return kDocMalformed;
    const std::uint32_t entries = Be16(b + 4);
    if (n - before >= entries) {
      before += entries;
      continue;
    }
    r = list.Read(reader, k, kNativeLinkBlockSize, &b, &size);
    if (IsFailure(r)) return r;
    if (size < 6) return kDocMalformed;
    const std::uint32_t l = b[0];
    const std::uint32_t groups = Be16(b + 2);
    if (std::uint64_t{l} + 2u * groups > size) return kDocMalformed;
    std::uint32_t left = n - before;
    std::uint32_t group = 0;
    for (; group < groups; ++group) {
      const std::uint32_t repeat = Be16(b + l + 2 * group);
      if (left < repeat) break;
      left -= repeat;
    }
    if (group == groups) return kDocMalformed;  // the counts cover fewer entries
    std::uint32_t at = l + 2 * groups;
    if (!SkipCounted(b, size, &at, group) || !ReadCounted(b, size, &at, text, length))
      return kDocMalformed;
    return kOk;
  }
  return kNotFound;
}

// Entry n of list 3: a string, or a kind (1, 2) with a value. kNotFound
// when the list holds fewer entries.
StatusCode FindItem3(const BlockList& list, BlockReader& reader, std::uint32_t n,
                     const std::uint8_t** text, std::uint32_t* length, std::uint8_t* kind,
                     std::uint32_t* value) {
  std::uint32_t before = 0;
  for (std::uint32_t k = 0; k < list.blocks; ++k) {
    const std::uint8_t* b = nullptr;
    std::uint32_t size = 0;
    StatusCode r = list.Read(reader, k, 4, &b, &size);
    if (IsFailure(r)) return r;
    if (size < 4) return kDocMalformed;
    const std::uint32_t entries = Be16(b + 2);
    if (n - before >= entries) {
      before += entries;
      continue;
    }
    r = list.Read(reader, k, kNativeLinkBlockSize, &b, &size);
    if (IsFailure(r)) return r;
    if (size < 4) return kDocMalformed;
    const std::uint32_t i = n - before;
    const std::uint32_t format = b[1] & 3u;
    std::uint32_t at = b[0];
    *kind = 0;
    if (format == 1 || format == 2) {
      if (std::uint64_t{at} + 4 * (std::uint64_t{i} + 1) > size) return kDocMalformed;
      *kind = static_cast<std::uint8_t>(format);
      *value = Be32(b + at + 4 * i);
      return kOk;
    }
    if (format == 0) {
      if (!SkipCounted(b, size, &at, i) || !ReadCounted(b, size, &at, text, length))
        return kDocMalformed;
      return kOk;
    }
    for (std::uint32_t j = 0;; ++j) {
      if (at >= size) return kDocMalformed;
      const std::uint8_t type = b[at++];
      if (type == 0) {
        if (!ReadCounted(b, size, &at, text, length)) return kDocMalformed;
        if (j == i) return kOk;
      } else if (type == 1 || type == 2) {
        if (std::uint64_t{at} + 4 > size) return kDocMalformed;
        if (j == i) {
          *kind = type;
          *value = Be32(b + at);
          return kOk;
        }
        at += 4;
      } else {
        return kDocMalformed;
      }
    }
  }
  return kNotFound;
}

// ---------------------------------------------------------------------------
// Anchors

// The position of anchor `number` in an anchor record (0 when absent).
StatusCode SearchAnchorRecord(const IndexRecord& rec, BlockReader& reader, std::uint32_t number,
                              std::uint32_t* position) {
  const std::uint8_t* r = rec.data();
  const std::uint32_t d = rec.d();
  const std::uint32_t s = r[d];
  const std::uint32_t blocks = r[d + 3];
  const std::uint32_t entriesAt = d + s;
  const std::uint64_t tableField = std::uint64_t{entriesAt} + 8u * blocks;
  if (tableField + 4 > rec.size()) return kDocMalformed;
  const std::uint32_t tableAt = static_cast<std::uint32_t>(tableField) + 4;
  const std::uint32_t tableLength = 4u * Be16(r + tableField);
  std::uint64_t at = std::uint64_t{tableAt} + tableLength;
  for (std::uint32_t k = 0; k < blocks; ++k) {
    const std::uint8_t* e = r + entriesAt + 8 * k;
    const std::uint32_t length = 4u * Be16(e + 4);
    if (Be32(e) < number) {
      at += length;
      continue;
    }
    if (at + length > rec.size()) return kDocMalformed;
    const std::uint8_t* b = nullptr;
    std::uint32_t size = 0;
    const StatusCode x =
        reader.Read(r, rec.size(), tableAt, tableLength, static_cast<std::uint32_t>(at), length,
                    (Be16(e + 6) & 4u) != 0, kNativeLinkBlockSize, &b, &size);
    if (IsFailure(x)) return x;
    std::uint32_t lo = 0;
    std::uint32_t hi = size / 8;
    while (lo < hi) {
      const std::uint32_t mid = lo + (hi - lo) / 2;
      const std::uint32_t n = Be32(b + 8 * mid);
      if (n == number) {
        *position = Be32(b + 8 * mid + 4);
        return kOk;
      }
      if (n < number) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    return kOk;
  }
  return kOk;
}

// Whether an anchor record's fixed fields lie inside it, and its range.
bool AnchorRange(const IndexRecord& rec, std::uint32_t* lowest, std::uint32_t* highest) {
  const std::uint8_t* r = rec.data();
  const std::uint32_t d = rec.d();
  if (d + 8 > rec.size() || d + r[d] > rec.size()) return false;
  const std::uint32_t blocks = r[d + 3];
  if (blocks < 1 || blocks > 8) return false;
  const std::uint64_t last = std::uint64_t{d} + r[d] + 8u * (blocks - 1);
  if (last + 8 > rec.size()) return false;
  *lowest = Be32(r + d + 4);
  *highest = Be32(r + last);
  return true;
}

// ---------------------------------------------------------------------------
// Names

struct NameQuery {
  const char* name;
  std::uint32_t nameLength;
  const char* second;  // null: none
  std::uint32_t secondLength;
  std::uint16_t first;
  std::uint16_t secondHash;
};

bool EqualNoCase(const std::uint8_t* a, std::uint32_t aLength, const char* b,
                 std::uint32_t bLength) {
  if (aLength != bLength) return false;
  if (aLength == 0) return true;
  return Str_CompareNoCase(&StringModule, reinterpret_cast<const char*>(a), aLength, b, bLength) ==
         kCompareEqual;
}

// The fixed fields of a name-hash record: S, the hash ranges and the two
// block counts. false when they do not fit the record.
struct NameRecordHead {
  std::uint32_t s;
  std::uint16_t lowFirst, highFirst, lowSecond, highSecond;
  std::uint32_t k1, k2;
};

bool ReadNameHead(const IndexRecord& rec, NameRecordHead* h) {
  const std::uint8_t* r = rec.data();
  const std::uint32_t d = rec.d();
  if (d + 12 > rec.size() || d + r[d] > rec.size()) return false;
  h->s = r[d];
  h->lowFirst = Be16(r + d + 2);
  h->highFirst = Be16(r + d + 4);
  h->lowSecond = Be16(r + d + 6);
  h->highSecond = Be16(r + d + 8);
  h->k1 = r[d + 10];
  h->k2 = r[d + 11];
  return true;
}

// Searches one name-hash record: kOk with the position, kNotFound.
StatusCode SearchNameRecord(const IndexRecord& rec, BlockReader& reader, const NameQuery& q,
                            std::uint32_t* position) {
  NameRecordHead h{};
  if (!ReadNameHead(rec, &h)) return kDocMalformed;
  if (q.secondHash < h.lowSecond || q.secondHash > h.highSecond) return kNotFound;
  if (q.nameLength == 0) return kNotFound;
  const std::uint32_t arrays = rec.d() + h.s;
  BlockList names{};
  StatusCode r = names.Init(rec.data(), rec.size(), arrays, h.k1, arrays + 2 * (h.k1 + h.k2) + 4);
  if (IsFailure(r)) return r;
  reader.NewTable();

  // The name list: the entries of the group that holds the name.
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  bool found = false;
  std::uint32_t running = 0;
  for (std::uint32_t k = 0; k < names.blocks && !found; ++k) {
    const std::uint8_t* b = nullptr;
    std::uint32_t size = 0;
    r = names.Read(reader, k, 12, &b, &size);
    if (IsFailure(r)) return r;
    if (size < 12) return kDocMalformed;
    const std::uint32_t entries = Be16(b + 8);
    if (Be16(b + 4) > q.first) return kNotFound;
    if (Be16(b + 6) >= q.first) {
      r = names.Read(reader, k, kNativeLinkBlockSize, &b, &size);
      if (IsFailure(r)) return r;
      const std::uint32_t l = b[0];
      const std::uint32_t groups = Be16(b + 2);
      if (l < 12 || std::uint64_t{l} + 2u * groups > size) return kDocMalformed;
      std::uint32_t at = l + 2 * groups;
      std::uint32_t before = 0;
      for (std::uint32_t g = 0; g < groups; ++g) {
        const std::uint8_t* text = nullptr;
        std::uint32_t length = 0;
        if (!ReadCounted(b, size, &at, &text, &length)) return kDocMalformed;
        const std::uint32_t repeat = Be16(b + l + 2 * g);
        if (repeat != 0 && EqualNoCase(text, length, q.name, q.nameLength)) {
          first = running + before;
          last = first + repeat - 1;
          found = true;
          break;
        }
        before += repeat;
      }
    }
    running += entries;
  }
  if (!found) return kNotFound;

  // The position list: the first entry of that range with the second name.
  BlockList positions{};
  r = positions.Init(rec.data(), rec.size(), arrays + 2 * (h.k1 + 1), h.k2, names.end);
  if (IsFailure(r)) return r;
  reader.NewTable();
  running = 0;
  for (std::uint32_t k = 0; k < positions.blocks; ++k) {
    if (running > last) break;
    const std::uint8_t* b = nullptr;
    std::uint32_t size = 0;
    r = positions.Read(reader, k, 8, &b, &size);
    if (IsFailure(r)) return r;
    if (size < 8) return kDocMalformed;
    const std::uint32_t entries = Be16(b + 2);
    if (entries != 0 && first < running + entries && Be16(b + 4) <= q.secondHash &&
        q.secondHash <= Be16(b + 6)) {
      r = positions.Read(reader, k, kNativeLinkBlockSize, &b, &size);
      if (IsFailure(r)) return r;
      const std::uint32_t l = b[0];
      if (std::uint64_t{l} + 4u * entries > size) return kDocMalformed;
      const std::uint32_t from = first > running ? first - running : 0;
      const std::uint32_t to = last - running < entries - 1 ? last - running : entries - 1;
      std::uint32_t at = l + 4 * entries;
      if (!SkipCounted(b, size, &at, from)) return kDocMalformed;
      for (std::uint32_t i = from; i <= to; ++i) {
        const std::uint8_t* text = nullptr;
        std::uint32_t length = 0;
        if (!ReadCounted(b, size, &at, &text, &length)) return kDocMalformed;
        if (EqualNoCase(text, length, q.second, q.second != nullptr ? q.secondLength : 0)) {
          *position = Be32(b + l + 4 * i);
          return kOk;
        }
      }
    }
    running += entries;
  }
  return kNotFound;
}

}  // namespace

StatusCode NativeStore_ClassifyLinkTarget(std::uint32_t target, std::uint32_t* value) noexcept {
  std::uint32_t v = target;
  StatusCode c = kDocLinkNoTarget;
  if (target < 0x40000000u) {
    c = kOk;
  } else if (target <= 0x5FFFFFFFu) {
    c = kDocLinkHostCode;
  } else if (target >= 0x70000000u && target <= 0x70FFFFFFu) {
    c = kDocTargetCalendar;
    v = target & 0x00FFFFFFu;
  } else if (target >= 0x71000000u && target <= 0x71FFFFFFu) {
    c = kDocTargetCard;
    v = target & 0x00FFFFFFu;
  } else if (target >= 0x7FF00000u && target <= 0x7FF0FFFFu) {
    c = kDocTargetSelectList;
  } else if (target >= 0x7FF10000u && target <= 0x7FF1FFFFu) {
    c = kDocTargetImageMap;
  }
  if (value != nullptr) *value = v;
  return c;
}

StatusCode NativeStore_GetLinkAt(NativeDocState* s, std::uint32_t position, std::uint32_t* start,
                                 std::uint32_t* end, std::uint32_t* value) noexcept {
  if (s == nullptr) return kBadArgument;
  const StatusCode r = NativeRun_SeekPosition(s->db, &s->links, position, position);
  if (r == kNotFound) return kFailed;
  if (IsFailure(r)) return r;
  std::uint32_t a = 0;
  std::uint32_t b = 0;
  std::uint32_t target = 0;
  CurrentLink(s->links, &a, &b, &target);
  if (position < a || position >= b) return kFailed;
  if (start != nullptr) *start = a;
  if (end != nullptr) *end = b;
  return NativeStore_ClassifyLinkTarget(target, value);
}

StatusCode NativeStore_LinkReset(NativeDocState* s) noexcept {
  if (s == nullptr) return kBadArgument;
  NativeLinkWalk& w = s->linkWalk;
  const StatusCode r = NativeRun_Release(s->db, &w.cursor);
  NativeRun_Init(&w.cursor, s->links.first, s->links.count, NativeRunKind::Link, 0xFFFF);
  w.begun = false;
  return r;
}

StatusCode NativeStore_LinkBegin(NativeDocState* s, NativeLinkRange* range) noexcept {
  if (s == nullptr || range == nullptr) return kBadArgument;
  StatusCode r = NativeStore_LinkReset(s);
  if (IsFailure(r)) return r;
  NativeLinkWalk& w = s->linkWalk;
  w.windowStart = range->windowStart;
  w.windowEnd = range->windowEnd;
  r = NativeRun_SeekPosition(s->db, &w.cursor, range->windowStart, range->windowEnd);
  if (r == kNotFound) return kNotFound;
  if (IsFailure(r)) return r;
  std::uint32_t a = 0;
  std::uint32_t b = 0;
  std::uint32_t target = 0;
  CurrentLink(w.cursor, &a, &b, &target);
  if (b <= range->windowStart) {
    r = NativeRun_Next(s->db, &w.cursor);
    if (r == kNoMore) return kNotFound;
    if (IsFailure(r)) return r;
    CurrentLink(w.cursor, &a, &b, &target);
  }
  if (a >= range->windowEnd) return kNotFound;
  w.firstRun = NativeRun_Number(w.cursor);
  w.begun = true;
  Fill(w.cursor, range);
  return kOk;
}

StatusCode NativeStore_LinkNext(NativeDocState* s, NativeLinkRange* range) noexcept {
  if (s == nullptr || range == nullptr) return kBadArgument;
  NativeLinkWalk& w = s->linkWalk;
  if (!w.begun) return kNoMore;
  StatusCode r = NativeRun_Next(s->db, &w.cursor);
  if (r == kNoMore) return kNoMore;
  if (IsFailure(r)) return r;
  if (w.cursor.runStart >= w.windowEnd) {
    r = NativeRun_Previous(s->db, &w.cursor);  // back where the walk was
    return IsFailure(r) ? r : kNoMore;
  }
  Fill(w.cursor, range);
  return kOk;
}

StatusCode NativeStore_LinkPrev(NativeDocState* s, NativeLinkRange* range) noexcept {
  if (s == nullptr || range == nullptr) return kBadArgument;
  NativeLinkWalk& w = s->linkWalk;
  if (!w.begun || NativeRun_Number(w.cursor) == w.firstRun) return kNoMore;
  const StatusCode r = NativeRun_Previous(s->db, &w.cursor);
  if (IsFailure(r)) return r;
  Fill(w.cursor, range);
  return kOk;
}

StatusCode NativeStore_LinkFirst(NativeDocState* s, NativeLinkRange* range) noexcept {
  if (s == nullptr || range == nullptr) return kBadArgument;
  NativeLinkWalk& w = s->linkWalk;
  if (!w.begun) return kNoMore;
  const StatusCode r = NativeRun_SeekRun(s->db, &w.cursor, w.firstRun);
  if (IsFailure(r)) return r;
  Fill(w.cursor, range);
  return kOk;
}

StatusCode NativeStore_LinkLast(NativeDocState* s, NativeLinkRange* range) noexcept {
  if (s == nullptr || range == nullptr) return kBadArgument;
  NativeLinkWalk& w = s->linkWalk;
  if (!w.begun) return kNoMore;
  for (;;) {
    const StatusCode r = NativeStore_LinkNext(s, range);
    if (r == kNoMore) break;
    if (IsFailure(r)) return r;
  }
  Fill(w.cursor, range);
  return kOk;
}

void LinkIndex_FreeTarget(NativeLinkTarget* target) noexcept {
  if (target == nullptr) return;
  for (int i = 0; i < 3; ++i) {
    if ((target->flags & (NativeLinkFlag::OwnedText0 << i)) != 0) Engine_Free(target->text[i]);
  }
  *target = NativeLinkTarget{};
}

StatusCode LinkIndex_FindByCode(NativeDocState* s, std::uint32_t code,
                                NativeLinkTarget* out) noexcept {
  if (s == nullptr || out == nullptr) return kBadArgument;
  if (code < kNativeLinkCodeFirst || code > kNativeLinkCodeLast) return kDocMalformed;
  const std::uint32_t c = code & 0x0FFFFFFFu;
  const std::uint16_t count = GroupCount(*s, Group::TargetCode);
  if (count == 0) return kDocMalformed;

  IndexRecord rec(s->db);
  std::uint32_t lo = 0;
  std::uint32_t hi = count;
  std::uint32_t lowest = 0;
  bool found = false;
  while (lo < hi && !found) {
    const std::uint32_t mid = lo + (hi - lo) / 2;
    const StatusCode r = rec.Fetch(*s, Group::TargetCode, mid);
    if (IsFailure(r)) return r;
    const std::uint32_t d = rec.d();
    if (d + 16 > rec.size()) return kDocMalformed;
    lowest = Be32(rec.data() + d + 4);
    const std::uint32_t highest = Be32(rec.data() + d + 8);
    if (c < lowest) {
      hi = mid;
    } else if (c > highest) {
      lo = mid + 1;
    } else {
      found = true;
    }
  }
  if (!found) return kDocMalformed;

  const std::uint8_t* r = rec.data();
  const std::uint32_t d = rec.d();
  const std::uint32_t arrays = d + r[d];
  const std::uint32_t k[3] = {r[d + 12], r[d + 13], r[d + 14]};
  const std::uint32_t n = c - lowest;
  BlockReader reader;
  NativeLinkTarget t{};
  std::uint32_t arrayAt = arrays;
  std::uint32_t dataAt = arrays + 2 * (k[0] + k[1] + k[2]) + 6;
  StatusCode status = kOk;
  for (std::uint32_t list = 0; list < 3 && !IsFailure(status); ++list) {
    BlockList blocks{};
    status = blocks.Init(r, rec.size(), arrayAt, k[list], dataAt);
    if (IsFailure(status)) break;
    reader.NewTable();
    arrayAt += 2 * (k[list] + 1);
    dataAt = blocks.end;
    const std::uint8_t* text = nullptr;
    std::uint32_t length = 0;
    if (list < 2) {
      status = FindGroupString(blocks, reader, n, &text, &length);
      if (status == kNotFound) {
        status = kOk;
        continue;
      }
      if (IsFailure(status)) break;
      status = CopyText(text, length, &t.text[list]);
      if (IsFailure(status)) break;
      t.length[list] = static_cast<std::uint16_t>(length > 0xFFFF ? 0xFFFF : length);
      t.flags |= static_cast<std::uint16_t>((NativeLinkFlag::HasText0 | NativeLinkFlag::OwnedText0)
                                            << list);
      continue;
    }
    std::uint8_t kind = 0;
    std::uint32_t value = 0;
    status = FindItem3(blocks, reader, n, &text, &length, &kind, &value);
    if (status == kNotFound) {
      status = kOk;
      continue;
    }
    if (IsFailure(status)) break;
    if (kind != 0) {
      text = &kind;
      length = 1;
      t.value = value;
      t.flags |= NativeLinkFlag::HasValue;
    }
    status = CopyText(text, length, &t.text[2]);
    if (IsFailure(status)) break;
    t.length[2] = static_cast<std::uint16_t>(length > 0xFFFF ? 0xFFFF : length);
    t.flags |= NativeLinkFlag::HasItem3 | NativeLinkFlag::OwnedItem3;
  }
  if (IsFailure(status)) {
    LinkIndex_FreeTarget(&t);
    return status;
  }
  *out = t;
  return kOk;
}

StatusCode LinkIndex_FindAnchor(NativeDocState* s, std::uint32_t number,
                                std::uint32_t* position) noexcept {
  if (s == nullptr || position == nullptr) return kBadArgument;
  *position = 0;
  const std::uint16_t count = GroupCount(*s, Group::Anchor);
  IndexRecord rec(s->db);
  std::uint32_t lo = 0;
  std::uint32_t hi = count;
  while (lo < hi) {
    const std::uint32_t mid = lo + (hi - lo) / 2;
    const StatusCode r = rec.Fetch(*s, Group::Anchor, mid);
    if (IsFailure(r)) return r;
    std::uint32_t lowest = 0;
    std::uint32_t highest = 0;
    if (!AnchorRange(rec, &lowest, &highest)) return kDocMalformed;
    if (number < lowest) {
      hi = mid;
    } else if (number > highest) {
      lo = mid + 1;
    } else {
      BlockReader reader;
      return SearchAnchorRecord(rec, reader, number, position);
    }
  }
  return kOk;
}

void LinkIndex_HashName(const char* name, std::uint32_t nameLength, const char* second,
                        std::uint32_t secondLength, std::uint16_t* first,
                        std::uint16_t* secondHash) noexcept {
  std::uint32_t h = 0xFFFFFFFFu;
  (void)Checksum_Crc32Folded(&ChecksumModule, name, nameLength, &h);  // always 0
  *first = static_cast<std::uint16_t>(h);
  *secondHash = *first;
  if (second != nullptr) {
    std::uint32_t h2 = 0xFFFFFFFFu;
    (void)Checksum_Crc32(&ChecksumModule, second, secondLength, &h2);  // always 0
    *secondHash = static_cast<std::uint16_t>(h2);
  }
}

StatusCode LinkIndex_FindByName(NativeDocState* s, const char* name, std::uint32_t nameLength,
                                const char* second, std::uint32_t secondLength,
                                std::uint32_t* position) noexcept {
  if (s == nullptr || position == nullptr || (name == nullptr && nameLength != 0))
    return kBadArgument;
  *position = 0;
  NameQuery q{name, nameLength, second, secondLength, 0, 0};
  LinkIndex_HashName(name, nameLength, second, secondLength, &q.first, &q.secondHash);
  const std::uint16_t count = GroupCount(*s, Group::NameHash);
  IndexRecord rec(s->db);
  BlockReader reader;
  std::uint32_t lo = 0;
  std::uint32_t hi = count;
  std::uint32_t found = count;
  NameRecordHead head{};
  while (lo < hi) {
    const std::uint32_t mid = lo + (hi - lo) / 2;
    const StatusCode r = rec.Fetch(*s, Group::NameHash, mid);
    if (IsFailure(r)) return r;
    if (!ReadNameHead(rec, &head)) return kDocMalformed;
    if (q.first < head.lowFirst) {
      hi = mid;
    } else if (q.first > head.highFirst) {
      lo = mid + 1;
    } else {
      found = mid;
      break;
    }
  }
  if (found == count) return kOk;
  StatusCode r = SearchNameRecord(rec, reader, q, position);
  if (r != kNotFound) return r;
  const NameRecordHead home = head;

  // Names of one first hash may spread over neighbouring records.
  if (home.lowFirst == q.first) {
    for (std::uint32_t i = found; i-- > 0;) {
      r = rec.Fetch(*s, Group::NameHash, i);
      if (IsFailure(r)) return r;
      if (!ReadNameHead(rec, &head)) return kDocMalformed;
      if (head.highFirst < q.first) break;
      r = SearchNameRecord(rec, reader, q, position);
      if (r != kNotFound) return r;
      if (head.lowFirst != q.first) break;
    }
  }
  if (home.highFirst == q.first) {
    for (std::uint32_t i = found + 1; i < count; ++i) {
      r = rec.Fetch(*s, Group::NameHash, i);
      if (IsFailure(r)) return r;
      if (!ReadNameHead(rec, &head)) return kDocMalformed;
      if (head.lowFirst > q.first) break;
      r = SearchNameRecord(rec, reader, q, position);
      if (r != kNotFound) return r;
      if (head.highFirst != q.first) break;
    }
  }
  *position = 0;
  return kOk;
}

StatusCode LinkIndex_Resolve(NativeDocState* s, const NativeLinkTarget* target,
                             std::uint32_t* position) noexcept {
  if (s == nullptr || target == nullptr || position == nullptr) return kBadArgument;
  *position = 0;
  const std::uint16_t f = target->flags;
  if ((f & NativeLinkFlag::HasValue) != 0 && (f & NativeLinkFlag::HasItem3) != 0 &&
      target->length[2] == 1 && target->text[2] != nullptr) {
    const auto kind = static_cast<std::uint8_t>(target->text[2][0]);
    if (kind == 1) return LinkIndex_FindAnchor(s, target->value, position);
    if (kind == 2) {
      *position = target->value;
      return kOk;
    }
  }
  if ((f & NativeLinkFlag::HasName) == 0 || target->text[1] == nullptr) return kOk;
  // An empty item 3 asks for no second name, as an anchor without one is
  // stored with an empty one.
  const bool withSecond =
      (f & NativeLinkFlag::HasItem3) != 0 && target->text[2] != nullptr && target->length[2] != 0;
  return LinkIndex_FindByName(s, target->text[1], target->length[1],
                              withSecond ? target->text[2] : nullptr,
                              withSecond ? target->length[2] : 0, position);
}
