#include "engine/runtime/dict.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "engine/runtime/allocator.h"
#include "engine/runtime/stream.h"
#include "engine/runtime/swap.h"

namespace {

constexpr std::uint32_t kHeaderFixed = 16;
constexpr std::uint32_t kEntryFixed = 10;
constexpr std::uint32_t kMaxCallerHeader = 236;
constexpr std::uint32_t kMaxCallerEntry = 242;
constexpr std::uint32_t kSlotGrowth = 16;
constexpr std::uint32_t kPoolGrowth = 256;
constexpr std::uint32_t kChainLimit = 8192;

// Entry field offsets.
constexpr std::uint32_t kName = 0;
constexpr std::uint32_t kParent = 2;
constexpr std::uint32_t kNext = 4;
constexpr std::uint32_t kChild = 6;
constexpr std::uint32_t kRef = 8;

struct DictBody {
  // Header length, entry size and caller byte counts as stored.
  std::uint32_t headerLen;
  std::uint32_t entrySize;
  std::uint32_t callerHeader;
  std::uint32_t callerEntry;
  std::uint16_t first;
  std::uint16_t freeHead;
  std::uint16_t slots;
  std::uint16_t used;
  std::uint16_t poolCap;
  std::uint16_t poolUsed;
  // Header bytes after the 16 fixed ones.
  std::array<std::uint8_t, 256 - kHeaderFixed> headerExtra;
  std::uint8_t* table;  // slots x entrySize
  std::uint8_t* pool;   // poolCap bytes, zero past poolUsed
};

using DictInstance = EngineInstance<DictBody>;

bool IsNone(std::uint32_t id) {
  return id == kDictNone || id == 0xFFFFFFFFu;
}

// A name as UTF-16 units, bounded by the longest name.
struct NameText {
  std::array<char16_t, kDictMaxName> units;
  std::uint32_t length = 0;
};

// Its stored record.
struct NameRecord {
  std::array<std::uint8_t, 2 * kDictMaxName + 3> bytes;
  std::uint32_t length = 0;
};

void Encode(const NameText& name, NameRecord* out) {
  const std::uint32_t n = name.length;
  bool wide = false;
  for (std::uint32_t i = 0; i < n; ++i)
    if (name.units[i] > 0xFF) wide = true;
  std::uint8_t* p = out->bytes.data();
  p[0] = static_cast<std::uint8_t>(n);
  if (wide) {
    p[1] = 0xC0;
    for (std::uint32_t i = 0; i < n; ++i)
      StoreLE16(p + 2 + 2 * i, name.units[i]);
    out->length = 2 * n + 2;
    return;
  }
  std::uint32_t at = 1;
  if (name.units[0] >= 0x80) p[at++] = 0x80;
  for (std::uint32_t i = 0; i < n; ++i)
    p[at++] = static_cast<std::uint8_t>(name.units[i]);
  p[at++] = 0;
  out->length = at;
}

// Length of the record at p within limit bytes, 0 when it is malformed.
std::uint32_t RecordLength(const std::uint8_t* p, std::uint32_t limit) {
  if (limit < 2) return 0;
  const std::uint32_t n = p[0];
  if (n < 1 || n > kDictMaxName) return 0;
  std::uint32_t len;
  if (p[1] == 0xC0) {
    len = 2 * n + 2;
  } else if (p[1] == 0x80) {
    len = n + 3;
  } else if (p[1] < 0x80) {
    len = n + 2;
  } else {
    return 0;
  }
  return len <= limit ? len : 0;
}

// Decodes a well-formed record.
void Decode(const std::uint8_t* p, NameText* out) {
  const std::uint32_t n = p[0];
  out->length = n;
  if (p[1] == 0xC0) {
    for (std::uint32_t i = 0; i < n; ++i)
      out->units[i] = LoadLE16(p + 2 + 2 * i);
  } else {
    const std::uint8_t* c = p + (p[1] == 0x80 ? 2 : 1);
    for (std::uint32_t i = 0; i < n; ++i)
      out->units[i] = c[i];
  }
}

// Reads a NUL-terminated name from 8-bit or UTF-16 text.
StatusCode NameFromText(const char* name8, const char16_t* name16, NameText* out) {
  if (name8 == nullptr && name16 == nullptr) return kBadArgument;
  std::uint32_t n = 0;
  for (;; ++n) {
    const char16_t c = name8 ? static_cast<unsigned char>(name8[n]) : name16[n];
    if (c == 0) break;
    if (n >= kDictMaxName) return kDictNameTooLong;
    out->units[n] = c;
  }
  if (n == 0) return kBadArgument;
  out->length = n;
  return kOk;
}

class Dict {
 public:
  explicit Dict(DictBody& b) : b_(b) {}

  std::uint8_t* Entry(std::uint32_t id) const { return b_.table + std::size_t{id} * b_.entrySize; }
  std::uint16_t Get(std::uint32_t id, std::uint32_t field) const {
    return LoadLE16(Entry(id) + field);
  }
  void Set(std::uint32_t id, std::uint32_t field, std::uint16_t v) const {
    StoreLE16(Entry(id) + field, v);
  }
  bool InRange(std::uint32_t id) const { return id < b_.slots; }
  bool IsFree(std::uint32_t id) const { return Get(id, kName) == kDictNone; }
  const std::uint8_t* NameOf(std::uint32_t id) const { return b_.pool + Get(id, kName); }
  std::uint32_t NameLength(std::uint32_t id) const {
    return RecordLength(NameOf(id), b_.poolUsed - Get(id, kName));
  }

  StatusCode CheckId(std::uint32_t id) const {
    if (!InRange(id)) return kDictIdOutOfRange;
    if (IsFree(id)) return kDictFreeSlot;
    return kOk;
  }

  std::uint16_t FirstOf(std::uint16_t parent) const {
    return parent == kDictNone ? b_.first : Get(parent, kChild);
  }
  void SetFirstOf(std::uint16_t parent, std::uint16_t v) const {
    if (parent == kDictNone) {
      b_.first = v;
    } else {
      Set(parent, kChild, v);
    }
  }

  // Finds an exactly equal name in the level of parent.
  StatusCode FindInLevel(std::uint16_t parent, const NameRecord& rec, std::uint16_t* found) const {
    std::uint16_t cur = FirstOf(parent);
    for (std::uint32_t steps = 0; cur != kDictNone; ++steps) {
      if (steps >= kChainLimit || !InRange(cur)) return kDictMalformed;
      const std::uint32_t len = NameLength(cur);
      if (len == rec.length && std::memcmp(NameOf(cur), rec.bytes.data(), len) == 0) {
        *found = cur;
        return kOk;
      }
      cur = Get(cur, kNext);
    }
    return kNotFound;
  }

  // Links a detached entry into the level of parent.
  StatusCode Link(std::uint16_t id, std::uint16_t parent, std::uint32_t flags,
                  const NameText& name) const {
    Set(id, kParent, parent);
    std::uint16_t after = kDictNone;
    if (flags & (kDictInsertAppend | kDictInsertSorted)) {
      std::uint16_t cur = FirstOf(parent);
      for (std::uint32_t steps = 0; cur != kDictNone; ++steps) {
        if (steps >= kChainLimit || !InRange(cur)) return kDictMalformed;
        if (flags & kDictInsertAppend) {
          after = cur;
        } else {
          NameText other;
          Decode(NameOf(cur), &other);
          if (Dict_CompareNoCase(other.units.data(), other.length, name.units.data(),
                                 name.length) != kCompareGreater)
            after = cur;
        }
        cur = Get(cur, kNext);
      }
    }
    if (after == kDictNone) {
      Set(id, kNext, FirstOf(parent));
      SetFirstOf(parent, id);
    } else {
      Set(id, kNext, Get(after, kNext));
      Set(after, kNext, id);
    }
    return kOk;
  }

  // Takes an entry out of its level's chain.
  StatusCode Unlink(std::uint16_t id) const {
    const std::uint16_t parent = Get(id, kParent);
    std::uint16_t cur = FirstOf(parent);
    std::uint16_t prev = kDictNone;
    for (std::uint32_t steps = 0; cur != id; ++steps) {
      if (cur == kDictNone || steps >= kChainLimit || !InRange(cur)) return kDictMalformed;
      prev = cur;
      cur = Get(cur, kNext);
    }
    if (prev == kDictNone) {
      SetFirstOf(parent, Get(id, kNext));
    } else {
      Set(prev, kNext, Get(id, kNext));
    }
    Set(id, kNext, kDictNone);
    return kOk;
  }

  StatusCode GrowTable() const {
    if (b_.slots > kDictMaxSlots) return kDictTableFull;
    for (std::uint32_t add = kSlotGrowth; add >= 1; add /= 2) {
      const std::uint32_t slots = b_.slots + add;
      void* block = b_.table;
      if (Engine_Realloc(slots * b_.entrySize, &block) != kOk) continue;
      b_.table = static_cast<std::uint8_t*>(block);
      const std::uint16_t old = b_.slots;
      b_.slots = static_cast<std::uint16_t>(slots);
      std::memset(Entry(old), 0, std::size_t{add} * b_.entrySize);
      for (std::uint32_t i = old; i < slots; ++i) {
        Set(i, kName, kDictNone);
        Set(i, kParent, kDictNone);
        Set(i, kChild, kDictNone);
        Set(i, kNext, i + 1 < slots ? static_cast<std::uint16_t>(i + 1) : b_.freeHead);
      }
      b_.freeHead = old;
      return kOk;
    }
    return kOutOfMemory;
  }

  StatusCode ReservePool(std::uint32_t need) const {
    const std::uint32_t want = std::uint32_t{b_.poolUsed} + need;
    if (want <= b_.poolCap) return kOk;
    if (b_.poolCap > kDictMaxPool || want > 0xFFFF) return kDictPoolFull;
    std::uint32_t cap =
        b_.poolCap + kPoolGrowth * ((want - b_.poolCap + kPoolGrowth - 1) / kPoolGrowth);
    cap = std::min<std::uint32_t>(cap, 0xFFFF);
    void* block = b_.pool;
    if (Engine_Realloc(cap, &block) != kOk) {
      cap = want;
      if (Engine_Realloc(cap, &block) != kOk) return kOutOfMemory;
    }
    b_.pool = static_cast<std::uint8_t*>(block);
    std::memset(b_.pool + b_.poolCap, 0, cap - b_.poolCap);
    b_.poolCap = static_cast<std::uint16_t>(cap);
    return kOk;
  }

  // Moves the pool tail from `from` by delta bytes and shifts the offsets of
  // every name stored at or after `from` (other than skip).
  void ShiftPool(std::uint32_t from, std::int32_t delta, std::uint32_t skip) const {
    const std::uint32_t tail = b_.poolUsed - from;
    std::memmove(b_.pool + from + delta, b_.pool + from, tail);
    const std::uint32_t newUsed = b_.poolUsed + delta;
    if (delta < 0) std::memset(b_.pool + newUsed, 0, static_cast<std::uint32_t>(-delta));
    b_.poolUsed = static_cast<std::uint16_t>(newUsed);
    for (std::uint32_t i = 0; i < b_.slots; ++i) {
      if (i == skip || IsFree(i)) continue;
      const std::uint32_t off = Get(i, kName);
      if (off >= from) Set(i, kName, static_cast<std::uint16_t>(off + delta));
    }
  }

  // A new detached entry holding rec.
  StatusCode NewEntry(const NameRecord& rec, std::uint16_t* out) const {
    StatusCode s = ReservePool(rec.length);
    if (s != kOk) return s;
    if (b_.freeHead == kDictNone) {
      s = GrowTable();
      if (s != kOk) return s;
    }
    const std::uint16_t id = b_.freeHead;
    b_.freeHead = Get(id, kNext);
    std::memset(Entry(id), 0, b_.entrySize);
    Set(id, kName, b_.poolUsed);
    Set(id, kParent, kDictNone);
    Set(id, kNext, kDictNone);
    Set(id, kChild, kDictNone);
    std::memcpy(b_.pool + b_.poolUsed, rec.bytes.data(), rec.length);
    b_.poolUsed = static_cast<std::uint16_t>(b_.poolUsed + rec.length);
    ++b_.used;
    *out = id;
    return kOk;
  }

  // Frees a slot whose entry is no longer linked anywhere.
  void FreeEntry(std::uint16_t id) const {
    const std::uint32_t off = Get(id, kName);
    const std::uint32_t len = NameLength(id);
    Set(id, kName, kDictNone);
    ShiftPool(off + len, -static_cast<std::int32_t>(len), id);
    std::memset(Entry(id), 0, b_.entrySize);
    Set(id, kName, kDictNone);
    Set(id, kParent, kDictNone);
    Set(id, kChild, kDictNone);
    Set(id, kNext, b_.freeHead);
    b_.freeHead = id;
    --b_.used;
  }

  // Adds a name to the level of parent.
  StatusCode AddToLevel(const NameText& name, std::uint16_t parent, std::uint32_t flags,
                        std::uint16_t* out) const {
    NameRecord rec;
    Encode(name, &rec);
    std::uint16_t found;
    const StatusCode f = FindInLevel(parent, rec, &found);
    if (f == kOk) return kDictNameExists;
    if (f != kNotFound) return f;
    std::uint16_t id;
    const StatusCode s = NewEntry(rec, &id);
    if (s != kOk) return s;
    const StatusCode l = Link(id, parent, flags, name);
    if (l != kOk) {
      FreeEntry(id);
      return l;
    }
    *out = id;
    return kOk;
  }

  // Pre-order walk of the subtree under root (root included) into ids, which
  // holds room for every entry in use.
  StatusCode CollectSubtree(std::uint16_t root, std::uint16_t* ids, std::uint32_t* count) const {
    std::uint32_t n = 0;
    ids[n++] = root;
    std::uint16_t cur = Get(root, kChild);
    while (cur != kDictNone) {
      if (n >= b_.used || !InRange(cur) || IsFree(cur)) return kDictMalformed;
      ids[n++] = cur;
      if (Get(cur, kChild) != kDictNone) {
        cur = Get(cur, kChild);
        continue;
      }
      while (cur != root && Get(cur, kNext) == kDictNone)
        cur = Get(cur, kParent);
      if (cur == root) break;
      cur = Get(cur, kNext);
    }
    *count = n;
    return kOk;
  }

  DictBody& b_;
};

Dict Of(EngineObject* dict) {
  return Dict(BodyOf<DictBody>(dict));
}

StatusCode NewInstance(std::uint32_t headerBytes, std::uint32_t entryBytes, EngineObject** out);

// Checks every entry of a loaded image: ids in range, names tiling the pool,
// every level a proper chain with the right parents, the free list.
StatusCode ValidateImage(const Dict& d, const DictBody& b) {
  if (b.poolUsed > b.poolCap) return kDictMalformed;
  if (!IsNone(b.first) && b.first >= b.slots) return kDictMalformed;
  if (!IsNone(b.freeHead) && b.freeHead >= b.slots) return kDictMalformed;
  const std::uint32_t slots = b.slots;
  std::uint32_t inUse = 0;
  for (std::uint32_t i = 0; i < slots; ++i) {
    if (d.IsFree(i)) continue;
    ++inUse;
    for (std::uint32_t field : {kParent, kNext, kChild}) {
      const std::uint16_t v = d.Get(i, field);
      if (v != kDictNone && (v >= slots || d.IsFree(v))) return kDictMalformed;
    }
  }
  if (inUse != b.used) return kDictMalformed;
  // Marks: bit 0 = a name starts here, bit 1 = seen in the tree, bit 2 = free-listed.
  std::uint8_t* marks = nullptr;
  const std::uint32_t markBytes = std::max<std::uint32_t>(slots, b.poolUsed) + 1;
  if (Engine_Alloc(markBytes, reinterpret_cast<void**>(&marks)) != kOk) return kOutOfMemory;
  EngineBuffer<std::uint8_t> guard(marks);
  std::memset(marks, 0, markBytes);
  for (std::uint32_t i = 0; i < slots; ++i) {
    if (d.IsFree(i)) continue;
    const std::uint32_t off = d.Get(i, kName);
    if (off >= b.poolUsed || (marks[off] & 1)) return kDictMalformed;
    marks[off] |= 1;
  }
  std::uint32_t names = 0;
  for (std::uint32_t at = 0; at < b.poolUsed; ++names) {
    if (!(marks[at] & 1)) return kDictMalformed;
    const std::uint32_t len = RecordLength(b.pool + at, b.poolUsed - at);
    if (len == 0) return kDictMalformed;
    at += len;
  }
  if (names != b.used) return kDictMalformed;
  for (std::uint32_t i = 0; i < markBytes; ++i)
    marks[i] = 0;
  // Walk the tree level by level through the parent pointers.
  std::uint32_t seen = 0;
  std::uint16_t cur = b.first;
  std::uint16_t level = kDictNone;
  while (cur != kDictNone) {
    if (cur >= slots || d.IsFree(cur) || (marks[cur] & 2) || d.Get(cur, kParent) != level)
      return kDictMalformed;
    marks[cur] |= 2;
    ++seen;
    if (d.Get(cur, kChild) != kDictNone) {
      level = cur;
      cur = d.Get(cur, kChild);
      continue;
    }
    while (cur != kDictNone && d.Get(cur, kNext) == kDictNone) {
      cur = d.Get(cur, kParent);
      level = cur == kDictNone ? kDictNone : d.Get(cur, kParent);
    }
    if (cur != kDictNone) cur = d.Get(cur, kNext);
  }
  if (seen != b.used) return kDictMalformed;
  std::uint32_t freeCount = 0;
  for (std::uint16_t f = b.freeHead; f != kDictNone; f = d.Get(f, kNext)) {
    if (f >= slots || !d.IsFree(f) || (marks[f] & 4)) return kDictMalformed;
    marks[f] |= 4;
    ++freeCount;
  }
  if (freeCount != slots - b.used) return kDictMalformed;
  return kOk;
}

// Parses a path into components (offsets and lengths into the text).
struct PathParts {
  std::array<std::uint32_t, kDictMaxPathAdd> start;
  std::array<std::uint32_t, kDictMaxPathAdd> length;
  std::uint32_t count = 0;
};

}  // namespace

StatusCode Dict_Create(EngineObject*, std::uint32_t headerBytes, std::uint32_t entryBytes,
                       EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if ((headerBytes & 1) || (entryBytes & 1) || headerBytes > kMaxCallerHeader ||
      entryBytes > kMaxCallerEntry)
    return kDictBadSizes;
  return NewInstance(headerBytes, entryBytes, out);
}

namespace {

const DictOps kDictOps = {
    Core_NotImplemented, Dict_Create,        Dict_Destroy,        Dict_Load,
    Dict_Save,           Dict_AddPath,       Dict_AdjustRefCount, Dict_AddChild,
    Dict_Rename,         Dict_RemoveSubtree, Dict_Clear,          Dict_ListChildren,
    Dict_FreeList,       Dict_GetRelative,   Dict_IsAncestor,     Dict_GetPath,
    Dict_GetAncestors,   Dict_NameToText,    Dict_SortIndexList,  Core_NotImplemented,
};

StatusCode NewInstance(std::uint32_t headerBytes, std::uint32_t entryBytes, EngineObject** out) {
  void* block = nullptr;
  if (Engine_Alloc(sizeof(DictInstance), &block) != kOk) return kOutOfMemory;
  auto* inst = new (block) DictInstance{};
  inst->header = {&inst->body, &kDictOps};
  DictBody& b = inst->body;
  b.headerLen = kHeaderFixed + headerBytes;
  b.entrySize = kEntryFixed + entryBytes;
  b.callerHeader = headerBytes;
  b.callerEntry = entryBytes;
  b.first = kDictNone;
  b.freeHead = kDictNone;
  *out = &inst->header;
  return kOk;
}

DictCollateFn g_collate = nullptr;

}  // namespace

EngineObject DictModule = {nullptr, &kDictOps};

StatusCode Dict_Destroy(EngineObject* dict) noexcept {
  if (dict == nullptr) return kBadArgument;
  DictBody& b = BodyOf<DictBody>(dict);
  Engine_Free(b.table);
  Engine_Free(b.pool);
  Engine_Free(dict);
  return kOk;
}

StatusCode Dict_Clear(EngineObject* dict) noexcept {
  DictBody& b = BodyOf<DictBody>(dict);
  Engine_Free(b.table);
  Engine_Free(b.pool);
  b.table = nullptr;
  b.pool = nullptr;
  b.first = b.freeHead = kDictNone;
  b.slots = b.used = b.poolCap = b.poolUsed = 0;
  return kOk;
}

StatusCode Dict_Load(EngineObject*, EngineObject* stream, std::uint32_t position,
                     std::uint32_t* size, EngineObject** out) noexcept {
  if (out == nullptr || size == nullptr) return kNullOutPointer;
  if (stream == nullptr) return kBadArgument;
  const StreamOps& so = StreamOf(stream);
  std::uint32_t streamSize = 0;
  StatusCode s = so.getSize(stream, &streamSize);
  if (s != kOk) return s;
  std::uint64_t avail = streamSize > position ? streamSize - position : 0;
  if (*size != 0xFFFFFFFFu) avail = std::min<std::uint64_t>(avail, *size);

  auto readAt = [&](std::uint64_t at, void* buf, std::uint32_t n) -> StatusCode {
    if (at + n > avail) return kDictMalformed;
    return so.readAt(stream, static_cast<std::uint32_t>(position + at), buf, n, nullptr) == kOk
               ? kOk
               : kDictMalformed;
  };
  std::uint8_t head[kHeaderFixed];
  if ((s = readAt(0, head, 2)) != kOk) return s;
  const std::uint32_t k = LoadLE16(head);
  if (k < 2) return kDictMalformed;
  const std::uint64_t sizesEnd = 2 + 4ull * k;
  if (sizesEnd > avail) return kDictMalformed;
  std::uint8_t words[8];
  if ((s = readAt(2, words, 8)) != kOk) return s;
  const std::uint32_t word1 = LoadLE32(words);
  const std::uint32_t word2 = LoadLE32(words + 4);
  if (word1 < kHeaderFixed || sizesEnd + word1 + word2 > avail) return kDictMalformed;
  if ((s = readAt(sizesEnd, head, kHeaderFixed)) != kOk) return s;
  const std::uint32_t headerLen = head[0], entrySize = head[1];
  const std::uint32_t callerHeader = head[2], callerEntry = head[3];
  if (headerLen < kHeaderFixed || headerLen < kHeaderFixed + callerHeader ||
      entrySize < kEntryFixed || entrySize < kEntryFixed + callerEntry || (callerEntry & 1) ||
      (callerHeader & 1))
    return kDictMalformed;
  const std::uint32_t slots = LoadLE16(head + 8);
  const std::uint32_t poolCap = LoadLE16(head + 12);
  const std::uint64_t tableBytes = std::uint64_t{entrySize} * slots;
  if (std::uint64_t{word1} < headerLen + tableBytes || word2 < poolCap) return kDictMalformed;

  EngineObject* dict = nullptr;
  if (NewInstance(0, 0, &dict) != kOk) return kOutOfMemory;
  DictBody& b = BodyOf<DictBody>(dict);
  b.headerLen = headerLen;
  b.entrySize = entrySize;
  b.callerHeader = callerHeader;
  b.callerEntry = callerEntry;
  b.first = LoadLE16(head + 4);
  b.freeHead = LoadLE16(head + 6);
  b.slots = static_cast<std::uint16_t>(slots);
  b.used = LoadLE16(head + 10);
  b.poolCap = static_cast<std::uint16_t>(poolCap);
  b.poolUsed = LoadLE16(head + 14);
  auto fail = [&](StatusCode code) {
    (void)Dict_Destroy(dict);  // the load failure is what the caller hears
    return code;
  };
  if (headerLen > kHeaderFixed &&
      (s = readAt(sizesEnd + kHeaderFixed, b.headerExtra.data(), headerLen - kHeaderFixed)) != kOk)
    return fail(s);
  if (slots != 0) {
    if (Engine_Alloc(static_cast<std::uint32_t>(tableBytes), reinterpret_cast<void**>(&b.table)) !=
        kOk)
      return fail(kOutOfMemory);
    if ((s = readAt(sizesEnd + headerLen, b.table, static_cast<std::uint32_t>(tableBytes))) != kOk)
      return fail(s);
  }
  if (poolCap != 0) {
    if (Engine_Alloc(poolCap, reinterpret_cast<void**>(&b.pool)) != kOk) return fail(kOutOfMemory);
    if ((s = readAt(sizesEnd + word1, b.pool, poolCap)) != kOk) return fail(s);
  }
  if (b.poolUsed > b.poolCap) return fail(kDictMalformed);
  if (b.poolCap != 0) std::memset(b.pool + b.poolUsed, 0, b.poolCap - b.poolUsed);
  if ((s = ValidateImage(Dict(b), b)) != kOk) return fail(s);
  const std::uint64_t consumed = sizesEnd + word1 + word2;
  *size -= static_cast<std::uint32_t>(consumed);
  *out = dict;
  return kOk;
}

StatusCode Dict_Save(EngineObject* dict, EngineObject* stream, std::uint32_t position,
                     std::uint32_t* written) noexcept {
  if (dict == nullptr || stream == nullptr) return kBadArgument;
  const DictBody& b = BodyOf<DictBody>(dict);
  const std::uint32_t word1 = b.headerLen + b.entrySize * b.slots;
  const std::uint32_t total = 10 + word1 + b.poolCap;
  std::uint8_t* image = nullptr;
  if (Engine_Alloc(total, reinterpret_cast<void**>(&image)) != kOk) return kOutOfMemory;
  EngineBuffer<std::uint8_t> guard(image);
  StoreLE16(image, 2);
  StoreLE32(image + 2, word1);
  StoreLE32(image + 6, b.poolCap);
  std::uint8_t* h = image + 10;
  h[0] = static_cast<std::uint8_t>(b.headerLen);
  h[1] = static_cast<std::uint8_t>(b.entrySize);
  h[2] = static_cast<std::uint8_t>(b.callerHeader);
  h[3] = static_cast<std::uint8_t>(b.callerEntry);
  StoreLE16(h + 4, b.first);
  StoreLE16(h + 6, b.freeHead);
  StoreLE16(h + 8, b.slots);
  StoreLE16(h + 10, b.used);
  StoreLE16(h + 12, b.poolCap);
  StoreLE16(h + 14, b.poolUsed);
  std::memcpy(h + kHeaderFixed, b.headerExtra.data(), b.headerLen - kHeaderFixed);
  if (b.slots) std::memcpy(h + b.headerLen, b.table, std::size_t{b.entrySize} * b.slots);
  if (b.poolCap) std::memcpy(h + word1, b.pool, b.poolCap);
  const StatusCode s = StreamOf(stream).writeAt(stream, position, image, total, nullptr);
  if (s != kOk) return s;
  if (written) *written = total;
  return kOk;
}

StatusCode Dict_AddPath(EngineObject* dict, const char* path8, const char16_t* path16,
                        std::uint32_t length, std::uint32_t create, std::uint32_t insertFlags,
                        std::uint16_t* id) noexcept {
  if (path8 == nullptr && path16 == nullptr) return kBadArgument;
  auto at = [&](std::uint32_t i) -> char16_t {
    return path8 ? static_cast<unsigned char>(path8[i]) : path16[i];
  };
  if (length == 0)
    while (at(length) != 0)
      ++length;
  // Split and check the whole path before changing anything.
  PathParts parts;
  for (std::uint32_t i = 0; i < length;) {
    if (at(i) == u'/') {
      ++i;
      continue;
    }
    std::uint32_t j = i;
    while (j < length && at(j) != u'/')
      ++j;
    if (j - i > kDictMaxName) return kDictNameTooLong;
    if (parts.count == kDictMaxPathAdd) return kDictBadPath;
    parts.start[parts.count] = i;
    parts.length[parts.count++] = j - i;
    i = j;
  }
  if (parts.count == 0) return kDictBadPath;
  Dict d = Of(dict);
  std::uint16_t level = kDictNone;
  bool added = false;
  for (std::uint32_t c = 0; c < parts.count; ++c) {
    NameText name;
    name.length = parts.length[c];
    for (std::uint32_t i = 0; i < name.length; ++i)
      name.units[i] = at(parts.start[c] + i);
    NameRecord rec;
    Encode(name, &rec);
    std::uint16_t found = kDictNone;
    if (!added) {
      const StatusCode f = d.FindInLevel(level, rec, &found);
      if (f != kOk && f != kNotFound) return f;
      if (f == kOk) {
        level = found;
        continue;
      }
      if (!create) return kNotFound;
    }
    const StatusCode s = d.AddToLevel(name, level, insertFlags, &found);
    if (s != kOk) return s;
    added = true;
    level = found;
  }
  if (id) *id = level;
  return added ? kDictAdded : kOk;
}

StatusCode Dict_AdjustRefCount(EngineObject* dict, std::uint32_t id, std::int32_t delta) noexcept {
  if (id >= 0x8000) return kOk;
  Dict d = Of(dict);
  const StatusCode c = d.CheckId(id);
  if (c != kOk) return c;
  const std::int64_t count = std::int64_t{d.Get(id, kRef)} + delta;
  if (count < 0 || count > 0xFFFF) return kDictRefCount;
  d.Set(id, kRef, static_cast<std::uint16_t>(count));
  if (delta >= 0) return kOk;
  std::uint16_t cur = static_cast<std::uint16_t>(id);
  while (cur != kDictNone && d.Get(cur, kRef) == 0 && d.Get(cur, kChild) == kDictNone) {
    const std::uint16_t parent = d.Get(cur, kParent);
    const StatusCode s = d.Unlink(cur);
    if (s != kOk) return s;
    d.FreeEntry(cur);
    cur = parent;
  }
  return kOk;
}

StatusCode Dict_AddChild(EngineObject* dict, const char* name8, const char16_t* name16,
                         std::uint32_t id, std::uint32_t insertFlags,
                         std::uint16_t* newId) noexcept {
  NameText name;
  StatusCode s = NameFromText(name8, name16, &name);
  if (s != kOk) return s;
  Dict d = Of(dict);
  std::uint16_t parent = kDictNone;
  if (!IsNone(id)) {
    if ((s = d.CheckId(id)) != kOk) return s;
    parent = (insertFlags & kDictInsertUnder) ? static_cast<std::uint16_t>(id) : d.Get(id, kParent);
  }
  std::uint16_t added;
  if ((s = d.AddToLevel(name, parent, insertFlags & ~kDictInsertUnder, &added)) != kOk) return s;
  if (newId) *newId = added;
  return kOk;
}

StatusCode Dict_Rename(EngineObject* dict, std::uint32_t id, const char* name8,
                       const char16_t* name16, std::uint32_t resort,
                       std::uint16_t* conflict) noexcept {
  NameText name;
  StatusCode s = NameFromText(name8, name16, &name);
  if (s != kOk) return s;
  Dict d = Of(dict);
  if ((s = d.CheckId(id)) != kOk) return s;
  DictBody& b = d.b_;
  NameRecord rec;
  Encode(name, &rec);
  std::uint16_t found;
  const StatusCode f = d.FindInLevel(d.Get(id, kParent), rec, &found);
  if (f == kOk) {
    if (found == id) return kOk;
    if (conflict) *conflict = found;
    return kDictNameExists;
  }
  if (f != kNotFound) return f;
  const std::uint32_t off = d.Get(id, kName);
  const std::uint32_t oldLen = d.NameLength(id);
  const std::int32_t delta =
      static_cast<std::int32_t>(rec.length) - static_cast<std::int32_t>(oldLen);
  if (delta > 0 && (s = d.ReservePool(static_cast<std::uint32_t>(delta))) != kOk) return s;
  if (delta != 0) d.ShiftPool(off + oldLen, delta, id);
  std::memcpy(b.pool + off, rec.bytes.data(), rec.length);
  if (resort) {
    const std::uint16_t parent = d.Get(id, kParent);
    if ((s = d.Unlink(static_cast<std::uint16_t>(id))) != kOk) return s;
    return d.Link(static_cast<std::uint16_t>(id), parent, kDictInsertSorted, name);
  }
  return kOk;
}

StatusCode Dict_RemoveSubtree(EngineObject* dict, std::uint32_t id, std::uint16_t** list) noexcept {
  Dict d = Of(dict);
  StatusCode s = d.CheckId(id);
  if (s != kOk) return s;
  DictBody& b = d.b_;
  const auto root = static_cast<std::uint16_t>(id);
  if (list == nullptr) {
    // The children take the entry's place in its level.
    const std::uint16_t parent = d.Get(root, kParent);
    std::uint16_t child = d.Get(root, kChild);
    std::uint16_t last = kDictNone;
    for (std::uint32_t steps = 0; child != kDictNone; ++steps) {
      if (steps >= kChainLimit) return kDictMalformed;
      d.Set(child, kParent, parent);
      last = child;
      child = d.Get(child, kNext);
    }
    if (last != kDictNone) {
      d.Set(last, kNext, d.Get(root, kNext));
      d.Set(root, kNext, d.Get(root, kChild));
      d.Set(root, kChild, kDictNone);
    }
    if ((s = d.Unlink(root)) != kOk) return s;
    d.FreeEntry(root);
    return kOk;
  }
  std::uint16_t* ids = nullptr;
  if (Engine_AllocArray<std::uint16_t>(std::uint32_t{b.used} + 1, &ids) != kOk) return kOutOfMemory;
  std::uint32_t n = 0;
  if ((s = d.CollectSubtree(root, ids + 1, &n)) != kOk || (s = d.Unlink(root)) != kOk) {
    Engine_Free(ids);
    return s;
  }
  for (std::uint32_t i = 0; i < n; ++i)
    d.FreeEntry(ids[1 + i]);
  ids[0] = static_cast<std::uint16_t>(n);
  (void)Dict_SortIndexList(dict, ids);  // fails only for a null list
  *list = ids;
  return kOk;
}

StatusCode Dict_ListChildren(EngineObject* dict, std::uint32_t id, std::uint32_t depthLimit,
                             std::uint32_t* count, DictListItem** items) noexcept {
  if (count == nullptr || items == nullptr) return kNullOutPointer;
  Dict d = Of(dict);
  const DictBody& b = d.b_;
  std::uint16_t level = kDictNone;
  if (d.InRange(id)) {
    if (d.IsFree(id)) return kDictFreeSlot;
    level = static_cast<std::uint16_t>(id);
  }
  std::uint16_t cur = d.FirstOf(level);
  if (cur == kDictNone) {
    *count = 0;
    *items = nullptr;
    return kOk;
  }
  DictListItem* list = nullptr;
  if (Engine_AllocArray<DictListItem>(b.used, &list) != kOk) return kOutOfMemory;
  std::uint32_t n = 0;
  std::uint32_t depth = 0;
  while (cur != kDictNone) {
    if (n >= b.used || !d.InRange(cur) || d.IsFree(cur)) {
      Engine_Free(list);
      return kDictListOverflow;
    }
    list[n++] = {cur, static_cast<std::uint16_t>(depth), d.NameOf(cur)};
    if (depth < depthLimit && d.Get(cur, kChild) != kDictNone) {
      cur = d.Get(cur, kChild);
      ++depth;
      continue;
    }
    while (cur != kDictNone && d.Get(cur, kNext) == kDictNone) {
      if (depth == 0) {
        cur = kDictNone;
        break;
      }
      cur = d.Get(cur, kParent);
      --depth;
    }
    if (cur != kDictNone) cur = d.Get(cur, kNext);
  }
  *count = n;
  *items = list;
  return kOk;
}

StatusCode Dict_FreeList(EngineObject*, void* list) noexcept {
  Engine_Free(list);
  return kOk;
}

StatusCode Dict_GetRelative(EngineObject* dict, std::uint32_t id, std::uint32_t kind,
                            std::uint16_t* out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  Dict d = Of(dict);
  const bool inRange = d.InRange(id) && !d.IsFree(id);
  switch (kind) {
    case kDictParent:
      *out = inRange ? d.Get(id, kParent) : kDictNone;
      return kOk;
    case kDictFirstChild:
      *out = inRange ? d.Get(id, kChild) : d.b_.first;
      return kOk;
    case kDictPrevSibling: {
      const StatusCode s = d.CheckId(id);
      if (s != kOk) return s;
      std::uint16_t cur = d.FirstOf(d.Get(id, kParent));
      std::uint16_t prev = kDictNone;
      for (std::uint32_t steps = 0; cur != id; ++steps) {
        if (cur == kDictNone || steps >= kChainLimit) return kDictMalformed;
        prev = cur;
        cur = d.Get(cur, kNext);
      }
      *out = prev;
      return kOk;
    }
    default:
      return kNotSupported;
  }
}

StatusCode Dict_IsAncestor(EngineObject* dict, std::uint32_t candidate, std::uint32_t id,
                           std::uint32_t parentOnly) noexcept {
  Dict d = Of(dict);
  const StatusCode s = d.CheckId(id);
  if (s != kOk) return s;
  const std::uint16_t want = IsNone(candidate) ? kDictNone : static_cast<std::uint16_t>(candidate);
  if (parentOnly) return d.Get(id, kParent) == want ? kOk : kNo;
  if (want == kDictNone) return kOk;
  std::uint16_t cur = d.Get(id, kParent);
  for (std::uint32_t steps = 0; cur != kDictNone; ++steps) {
    if (steps >= kChainLimit) return kDictMalformed;
    if (cur == want) return kOk;
    cur = d.Get(cur, kParent);
  }
  return kNo;
}

namespace {

// The entry and its ancestors, leaf first.
StatusCode Lineage(const Dict& d, std::uint32_t id,
                   std::array<std::uint16_t, kDictMaxPathRead>& ids, std::uint32_t* count) {
  if (!d.InRange(id)) return kDictIdOutOfRange;
  std::uint32_t n = 0;
  for (std::uint16_t cur = static_cast<std::uint16_t>(id); cur != kDictNone;
       cur = d.Get(cur, kParent)) {
    if (n == kDictMaxPathRead) return kDictMalformed;
    if (!d.InRange(cur) || d.IsFree(cur)) return kDictBadPath;
    ids[n++] = cur;
  }
  *count = n;
  return kOk;
}

}  // namespace

StatusCode Dict_GetPath(EngineObject* dict, std::uint32_t id, char* path8, char16_t* path16,
                        std::uint32_t* size) noexcept {
  if (size == nullptr) return kNullOutPointer;
  Dict d = Of(dict);
  std::array<std::uint16_t, kDictMaxPathRead> ids;
  std::uint32_t n = 0;
  StatusCode s = Lineage(d, id, ids, &n);
  if (s != kOk) return s;
  std::uint32_t needed = 1;
  for (std::uint32_t i = 0; i < n; ++i)
    needed += 1 + d.NameOf(ids[i])[0];
  if ((path8 || path16) && *size < needed) {
    *size = needed;
    return kDictBufferTooSmall;
  }
  if (path8 || path16) {
    std::uint32_t at = 0;
    for (std::uint32_t i = n; i-- > 0;) {
      NameText name;
      Decode(d.NameOf(ids[i]), &name);
      if (path8) {
        path8[at++] = '/';
        for (std::uint32_t k = 0; k < name.length; ++k)
          path8[at++] = name.units[k] > 0xFF ? '?' : static_cast<char>(name.units[k]);
      } else {
        path16[at++] = u'/';
        for (std::uint32_t k = 0; k < name.length; ++k)
          path16[at++] = name.units[k];
      }
    }
    if (path8) {
      path8[at] = 0;
    } else {
      path16[at] = 0;
    }
  }
  *size = needed;
  return kOk;
}

StatusCode Dict_GetAncestors(EngineObject* dict, std::uint32_t id, std::uint16_t* ids,
                             std::uint32_t* count) noexcept {
  if (count == nullptr) return kNullOutPointer;
  Dict d = Of(dict);
  std::array<std::uint16_t, kDictMaxPathRead> line;
  std::uint32_t n = 0;
  StatusCode s = Lineage(d, id, line, &n);
  if (s != kOk) return s;
  const std::uint32_t needed = n - 1;  // the entry itself is not its own ancestor
  if (ids != nullptr) {
    if (*count < needed) {
      *count = needed;
      return kDictBufferTooSmall;
    }
    for (std::uint32_t i = 0; i < needed; ++i)
      ids[i] = line[n - 1 - i];
  }
  *count = needed;
  return kOk;
}

StatusCode Dict_NameToText(EngineObject*, const std::uint8_t* name, char* text8,
                           char16_t* text16) noexcept {
  if (name == nullptr || (text8 == nullptr && text16 == nullptr)) return kBadArgument;
  // A record is at most 2 x 254 + 2 bytes; its own form bounds what is read.
  if (RecordLength(name, 2 * kDictMaxName + 3) == 0) return kBadArgument;
  NameText t;
  Decode(name, &t);
  for (std::uint32_t i = 0; i < t.length; ++i) {
    if (text8) {
      text8[i] = t.units[i] > 0xFF ? '?' : static_cast<char>(t.units[i]);
    } else {
      text16[i] = t.units[i];
    }
  }
  if (text8) {
    text8[t.length] = 0;
  } else {
    text16[t.length] = 0;
  }
  return kOk;
}

StatusCode Dict_SortIndexList(EngineObject*, std::uint16_t* list) noexcept {
  if (list == nullptr) return kBadArgument;
  const std::uint32_t n = list[0];
  std::uint16_t* v = list + 1;
  for (std::uint32_t i = 0; i + 1 < n; ++i) {
    std::uint32_t min = i;
    for (std::uint32_t j = i + 1; j < n; ++j)
      if (v[j] < v[min]) min = j;
    std::swap(v[i], v[min]);
  }
  return kOk;
}

char16_t Dict_FoldCase(char16_t c) noexcept {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x178) return 0xFF;
    if ((c <= 0x137 || (c >= 0x14A && c <= 0x177)) && !(c & 1)) return static_cast<char16_t>(c + 1);
    if (((c >= 0x139 && c <= 0x148) || c >= 0x179) && (c & 1)) return static_cast<char16_t>(c + 1);
    return c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<char16_t>(c + 32);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
  return c;
}

namespace {

StatusCode DefaultCollate(const char16_t* a, std::uint32_t an, const char16_t* b,
                          std::uint32_t bn) noexcept {
  const std::uint32_t n = std::min(an, bn);
  for (std::uint32_t i = 0; i < n; ++i) {
    const char16_t x = Dict_FoldCase(a[i]), y = Dict_FoldCase(b[i]);
    if (x != y) return x < y ? kCompareLess : kCompareGreater;
  }
  if (an == bn) return kCompareEqual;
  return an < bn ? kCompareLess : kCompareGreater;
}

}  // namespace

DictCollateFn Dict_SetCollator(DictCollateFn collate) noexcept {
  const DictCollateFn old = g_collate ? g_collate : DefaultCollate;
  g_collate = collate;
  return old;
}

StatusCode Dict_CompareNoCase(const char16_t* a, std::uint32_t aLength, const char16_t* b,
                              std::uint32_t bLength) noexcept {
  return (g_collate ? g_collate : DefaultCollate)(a, aLength, b, bLength);
}
