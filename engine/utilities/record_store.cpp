#include "engine/utilities/record_store.h"

#include <array>
#include <cstring>
#include <new>

#include "engine/runtime/allocator.h"
#include "engine/runtime/stream.h"

namespace {

const RecordStoreOps kRecordStoreOps = {
    Core_NotImplemented, RecordStore_CreateStore, RecordStore_OpenStore, RecordStore_Close,
    RecordStore_Insert,  RecordStore_Find,        RecordStore_Delete,    RecordStore_GetEntry,
    RecordStore_SetData, Core_NotImplemented,
};

constexpr std::uint32_t kNone = kRecordStoreNone;
constexpr std::uint32_t kPseudo = 0xFFFFFFFEu;  // stands for the header's root link

struct StoreBody {
  EngineObject* stream;
  bool created;
  std::uint32_t headerSize;
  std::uint32_t keySize;
  std::uint32_t dataSize;
  std::uint32_t entrySize;
  std::uint32_t root;
  std::uint32_t freeHead;
  std::uint32_t slotCount;
  RecordStoreCompare compare;
  void* user;
  std::uint8_t* work;  // one key
};

using StoreInstance = EngineInstance<StoreBody>;

StoreBody& Body(EngineObject* store) {
  return BodyOf<StoreBody>(store);
}

void PutU32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

std::uint32_t GetU32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

std::uint32_t EntryOffset(const StoreBody& b, std::uint32_t index) {
  return b.headerSize + index * b.entrySize;  // in range: checked at open and growth
}

StatusCode Compare(const StoreBody& b, const void* key, const void* stored) {
  const StatusCode s = b.compare(b.user, key, stored);
  if (s == kCompareEqual || s == kCompareLess || s == kCompareGreater) return s;
  return IsFailure(s) ? s : kRecordStoreBadCompare;
}

// The links of the entries one operation touches, read once and written back
// together at the end. Links are checked as they are read.
struct Node {
  std::uint32_t index;
  std::uint8_t state;
  std::uint32_t link[2];
  bool dirty;
};

class Session {
 public:
  explicit Session(StoreBody& b) : b_(b), root_(b.root) {}

  StatusCode error() const { return error_; }
  void MarkCorrupt() { (void)Fail(kRecordStoreCorrupt); }

  // The node at index; a failed read or a broken entry sets the error and
  // answers a harmless black leaf.
  Node& At(std::uint32_t index) {
    for (std::uint32_t i = 0; i < used_; ++i)
      if (nodes_[i].index == index) return nodes_[i];
    if (used_ == nodes_.size()) return Fail(kRecordStoreCorrupt);
    if (index >= b_.slotCount) return Fail(kRecordStoreCorrupt);
    std::uint8_t raw[9];
    const StatusCode s = Stream_ReadExact(b_.stream, EntryOffset(b_, index), raw, sizeof raw);
    if (s != kOk) return Fail(s);
    Node& n = nodes_[used_++];
    n = {index, raw[0], {GetU32(raw + 1), GetU32(raw + 5)}, false};
    if (n.state != kRecordStoreRed && n.state != kRecordStoreBlack)
      return Fail(kRecordStoreCorrupt);
    for (std::uint32_t l : n.link)
      if (l != kNone && l >= b_.slotCount) return Fail(kRecordStoreCorrupt);
    return n;
  }

  // Adds a node that is not in the stream yet (a new entry).
  void Adopt(std::uint32_t index) {
    if (used_ == nodes_.size()) {
      (void)Fail(kRecordStoreCorrupt);
      return;
    }
    nodes_[used_++] = {index, kRecordStoreRed, {kNone, kNone}, true};
  }

  std::uint32_t Link(std::uint32_t parent, int dir) {
    if (parent == kPseudo) return root_;
    return At(parent).link[dir];
  }
  void SetLink(std::uint32_t parent, int dir, std::uint32_t child) {
    if (parent == kPseudo) {
      root_ = child;
      return;
    }
    Node& n = At(parent);
    n.link[dir] = child;
    n.dirty = true;
  }
  bool IsRed(std::uint32_t index) { return index != kNone && At(index).state == kRecordStoreRed; }
  void SetColor(std::uint32_t index, std::uint8_t state) {
    Node& n = At(index);
    n.state = state;
    n.dirty = true;
  }
  std::uint8_t Color(std::uint32_t index) { return At(index).state; }
  std::uint32_t root() const { return root_; }

  // Writes the touched links back; the root goes to the store.
  StatusCode Commit() {
    if (error_ != kOk) return error_;
    for (std::uint32_t i = 0; i < used_; ++i) {
      const Node& n = nodes_[i];
      if (!n.dirty) continue;
      std::uint8_t raw[9];
      raw[0] = n.state;
      PutU32(raw + 1, n.link[0]);
      PutU32(raw + 5, n.link[1]);
      const StatusCode s = Stream_WriteExact(b_.stream, EntryOffset(b_, n.index), raw, sizeof raw);
      if (s != kOk) return s;
    }
    b_.root = root_;
    return kOk;
  }

 private:
  Node& Fail(StatusCode s) {
    if (error_ == kOk) error_ = s;
    scratch_ = {kNone, kRecordStoreBlack, {kNone, kNone}, false};
    return scratch_;
  }

  StoreBody& b_;
  std::uint32_t root_;
  StatusCode error_ = kOk;
  std::array<Node, 2 * kRecordStoreMaxDepth + 8> nodes_{};
  std::uint32_t used_ = 0;
  Node scratch_{};
};

// Walks from the root towards key. On return path[0] is the pseudo root and
// path[1..depth-1] the nodes passed, dir[i] the side taken from path[i].
// *found is the equal node or kNone.
struct Path {
  std::uint32_t node[kRecordStoreMaxDepth + 8];
  int dir[kRecordStoreMaxDepth + 8];
  std::uint32_t depth;
};

StatusCode Descend(StoreBody& b, Session& session, const void* key, Path& path,
                   std::uint32_t* found) {
  path.node[0] = kPseudo;
  path.dir[0] = 0;
  path.depth = 1;
  std::uint32_t cur = session.root();
  while (cur != kNone) {
    if (path.depth > kRecordStoreMaxDepth) return kRecordStoreCorrupt;
    const std::uint32_t left = session.Link(cur, 0);
    const std::uint32_t right = session.Link(cur, 1);
    if (session.error() != kOk) return session.error();
    StatusCode s = Stream_ReadExact(b.stream, EntryOffset(b, cur) + 9, b.work, b.keySize);
    if (s != kOk) return s;
    s = Compare(b, key, b.work);
    if (IsFailure(s)) return s;
    if (s == kCompareEqual) {
      *found = cur;
      return kOk;
    }
    const int dir = s == kCompareGreater ? 1 : 0;
    path.node[path.depth] = cur;
    path.dir[path.depth] = dir;
    ++path.depth;
    cur = dir ? right : left;
  }
  *found = kNone;
  return kOk;
}

// Writes a free slot: state 255, next free, no right link, zero key and data.
StatusCode WriteFreeSlot(StoreBody& b, std::uint32_t index, std::uint32_t next) {
  std::uint8_t raw[9];
  raw[0] = kRecordStoreFree;
  PutU32(raw + 1, next);
  PutU32(raw + 5, kNone);
  StatusCode s = Stream_WriteExact(b.stream, EntryOffset(b, index), raw, sizeof raw);
  static constexpr std::uint8_t kZeros[256] = {};
  std::uint32_t at = EntryOffset(b, index) + 9;
  for (std::uint32_t left = b.keySize + b.dataSize; s == kOk && left != 0;) {
    const std::uint32_t n = left < sizeof kZeros ? left : sizeof kZeros;
    s = Stream_WriteExact(b.stream, at, kZeros, n);
    at += n;
    left -= n;
  }
  return s;
}

// Takes the head of the free list, growing the stream by 32 free slots when
// the list is empty.
StatusCode TakeSlot(StoreBody& b, std::uint32_t* index) {
  if (b.freeHead == kNone) {
    const std::uint64_t slots = std::uint64_t{b.slotCount} + kRecordStoreGrowth;
    const std::uint64_t size = b.headerSize + slots * b.entrySize;
    if (size > 0xFFFFFFFFu) return kOutOfMemory;
    StatusCode s = StreamOf(b.stream).setSize(b.stream, static_cast<std::uint32_t>(size));
    if (s != kOk) return s;
    const std::uint32_t first = b.slotCount;
    b.slotCount = static_cast<std::uint32_t>(slots);
    for (std::uint32_t i = 0; i < kRecordStoreGrowth; ++i) {
      const std::uint32_t slot = first + i;
      s = WriteFreeSlot(b, slot, i + 1 < kRecordStoreGrowth ? slot + 1 : kNone);
      if (s != kOk) return s;
    }
    b.freeHead = first;
  }
  if (b.freeHead >= b.slotCount) return kRecordStoreCorrupt;
  std::uint8_t raw[9];
  const StatusCode s = Stream_ReadExact(b.stream, EntryOffset(b, b.freeHead), raw, sizeof raw);
  if (s != kOk) return s;
  const std::uint32_t next = GetU32(raw + 1);
  if (raw[0] != kRecordStoreFree || (next != kNone && next >= b.slotCount) || next == b.freeHead) {
    return kRecordStoreCorrupt;
  }
  *index = b.freeHead;
  b.freeHead = next;
  return kOk;
}

StatusCode WriteRecord(StoreBody& b, std::uint32_t index, const void* key, const void* data) {
  const std::uint32_t at = EntryOffset(b, index) + 9;
  StatusCode s = Stream_WriteExact(b.stream, at, key, b.keySize);
  if (s == kOk && b.dataSize != 0)
    s = Stream_WriteExact(b.stream, at + b.keySize, data, b.dataSize);
  return s;
}

StatusCode NewStore(EngineObject* stream, RecordStoreCompare compare, void* user,
                    const StoreBody& fields, EngineObject** out) {
  void* block = nullptr;
  const std::uint64_t bytes = sizeof(StoreInstance) + std::uint64_t{fields.keySize};
  if (Engine_Alloc(static_cast<std::uint32_t>(bytes), &block) != kOk) return kOutOfMemory;
  auto* inst = new (block) StoreInstance{};
  inst->header = {&inst->body, &kRecordStoreOps};
  inst->body = fields;
  inst->body.stream = stream;
  inst->body.compare = compare;
  inst->body.user = user;
  inst->body.work = static_cast<std::uint8_t*>(block) + sizeof(StoreInstance);
  *out = &inst->header;
  return kOk;
}

}  // namespace

EngineObject RecordStoreModule = {nullptr, &kRecordStoreOps};

StatusCode RecordStore_CreateStore(EngineObject*, EngineObject* stream, std::uint32_t keySize,
                                   std::uint32_t dataSize, RecordStoreCompare compare, void* user,
                                   EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (stream == nullptr || compare == nullptr || keySize == 0 || keySize > kRecordStoreMaxRecord ||
      dataSize > kRecordStoreMaxRecord - keySize) {
    return kBadArgument;
  }
  StoreBody fields{};
  fields.created = true;
  fields.headerSize = kRecordStoreHeaderBytes;
  fields.keySize = keySize;
  fields.dataSize = dataSize;
  fields.entrySize = keySize + dataSize + 9;
  fields.root = kNone;
  fields.freeHead = kNone;
  fields.slotCount = 0;
  return NewStore(stream, compare, user, fields, out);
}

StatusCode RecordStore_OpenStore(EngineObject*, EngineObject* stream, RecordStoreCompare compare,
                                 void* user, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (stream == nullptr || compare == nullptr) return kBadArgument;
  std::uint8_t h[kRecordStoreHeaderBytes];
  if (Stream_ReadExact(stream, 0, h, sizeof h) != kOk) return kRecordStoreHeaderRead;
  StoreBody f{};
  f.headerSize = GetU32(h);
  if (f.headerSize > 0xFFFF) return kRecordStoreHeaderSize;
  const std::uint32_t version = std::uint32_t{h[4]} | std::uint32_t{h[5]} << 8;
  f.keySize = GetU32(h + 8);
  f.dataSize = GetU32(h + 12);
  f.entrySize = GetU32(h + 16);
  f.root = GetU32(h + 20);
  f.freeHead = GetU32(h + 24);
  f.slotCount = GetU32(h + 28);
  if (f.headerSize < kRecordStoreHeaderBytes || version != 1 || f.keySize == 0 ||
      f.keySize > kRecordStoreMaxRecord || f.dataSize > kRecordStoreMaxRecord - f.keySize ||
      f.entrySize != f.keySize + f.dataSize + 9) {
    return kRecordStoreCorrupt;
  }
  if ((f.root != kNone && f.root >= f.slotCount) ||
      (f.freeHead != kNone && f.freeHead >= f.slotCount)) {
    return kRecordStoreCorrupt;
  }
  std::uint32_t size = 0;
  if (StreamOf(stream).getSize(stream, &size) != kOk) return kRecordStoreHeaderRead;
  if (f.headerSize + std::uint64_t{f.slotCount} * f.entrySize > size) return kRecordStoreCorrupt;
  f.created = false;
  return NewStore(stream, compare, user, f, out);
}

StatusCode RecordStore_Close(EngineObject* store) noexcept {
  if (store == nullptr) return kBadArgument;
  StoreBody& b = Body(store);
  std::uint8_t h[kRecordStoreHeaderBytes] = {};
  PutU32(h, b.headerSize);
  h[4] = 1;
  PutU32(h + 8, b.keySize);
  PutU32(h + 12, b.dataSize);
  PutU32(h + 16, b.entrySize);
  PutU32(h + 20, b.root);
  PutU32(h + 24, b.freeHead);
  PutU32(h + 28, b.slotCount);
  const StatusCode s = b.created ? Stream_WriteExact(b.stream, 0, h, sizeof h)
                                 : Stream_WriteExact(b.stream, 8, h + 8, 24);
  Engine_Free(store);
  return s == kOk ? kOk : kRecordStoreHeaderWrite;
}

StatusCode RecordStore_Find(EngineObject* store, const void* key, void* data,
                            std::uint32_t* entry) noexcept {
  if (store == nullptr || key == nullptr) return kBadArgument;
  StoreBody& b = Body(store);
  Session session(b);
  Path path;
  std::uint32_t found = kNone;
  const StatusCode s = Descend(b, session, key, path, &found);
  if (s != kOk) return s;
  if (found == kNone) return kNotFound;
  if (data != nullptr && b.dataSize != 0) {
    const StatusCode r =
        Stream_ReadExact(b.stream, EntryOffset(b, found) + 9 + b.keySize, data, b.dataSize);
    if (r != kOk) return r;
  }
  if (entry != nullptr) *entry = found;
  return kOk;
}

// Bottom-up insertion with the path kept from the descent (no parent links in
// the entries): recolour while the uncle is red, else one or two rotations.
StatusCode RecordStore_Insert(EngineObject* store, const void* key, const void* data,
                              std::uint32_t* entry) noexcept {
  if (store == nullptr || key == nullptr || (data == nullptr && Body(store).dataSize != 0)) {
    return kBadArgument;
  }
  StoreBody& b = Body(store);
  Session session(b);
  Path path;
  std::uint32_t found = kNone;
  StatusCode s = Descend(b, session, key, path, &found);
  if (s != kOk) return s;
  if (found != kNone) {
    if (entry != nullptr) *entry = found;
    return kRecordStoreDuplicate;
  }
  std::uint32_t slot = kNone;
  s = TakeSlot(b, &slot);
  if (s != kOk) return s;
  s = WriteRecord(b, slot, key, data);
  if (s != kOk) return s;
  session.Adopt(slot);

  std::uint32_t* pa = path.node;
  int* da = path.dir;
  std::uint32_t k = path.depth;
  session.SetLink(pa[k - 1], da[k - 1], slot);
  while (k >= 3 && session.IsRed(pa[k - 1]) && session.error() == kOk) {
    const int side = da[k - 2];  // the parent's side under the grandparent
    const std::uint32_t uncle = session.Link(pa[k - 2], 1 - side);
    if (session.IsRed(uncle)) {
      session.SetColor(pa[k - 1], kRecordStoreBlack);
      session.SetColor(uncle, kRecordStoreBlack);
      session.SetColor(pa[k - 2], kRecordStoreRed);
      k -= 2;
      continue;
    }
    std::uint32_t y = pa[k - 1];
    if (da[k - 1] != side) {  // inner child: rotate it up over the parent first
      const std::uint32_t x = pa[k - 1];
      y = session.Link(x, 1 - side);
      session.SetLink(x, 1 - side, session.Link(y, side));
      session.SetLink(y, side, x);
      session.SetLink(pa[k - 2], side, y);
    }
    const std::uint32_t g = pa[k - 2];
    session.SetColor(g, kRecordStoreRed);
    session.SetColor(y, kRecordStoreBlack);
    session.SetLink(g, side, session.Link(y, 1 - side));
    session.SetLink(y, 1 - side, g);
    session.SetLink(pa[k - 3], da[k - 3], y);
    break;
  }
  if (session.root() != kNone) session.SetColor(session.root(), kRecordStoreBlack);
  s = session.Commit();
  if (s != kOk) return s;
  if (entry != nullptr) *entry = slot;
  return kOk;
}

// Deletion that restores the balance: the node is replaced by its successor
// when it has two children, then a missing black is pushed up or fixed by
// rotations at the sibling.
StatusCode RecordStore_Delete(EngineObject* store, const void* key) noexcept {
  if (store == nullptr || key == nullptr) return kBadArgument;
  StoreBody& b = Body(store);
  Session session(b);
  Path path;
  std::uint32_t z = kNone;
  StatusCode s = Descend(b, session, key, path, &z);
  if (s != kOk) return s;
  if (z == kNone) return kNotFound;

  std::uint32_t* pa = path.node;
  int* da = path.dir;
  std::uint32_t k = path.depth;
  const std::uint32_t zRight = session.Link(z, 1);
  std::uint8_t removedColor = session.Color(z);
  if (zRight == kNone) {
    session.SetLink(pa[k - 1], da[k - 1], session.Link(z, 0));
  } else if (session.Link(zRight, 0) == kNone) {
    const std::uint32_t r = zRight;
    session.SetLink(r, 0, session.Link(z, 0));
    removedColor = session.Color(r);
    session.SetColor(r, session.Color(z));
    session.SetLink(pa[k - 1], da[k - 1], r);
    da[k] = 1;
    pa[k++] = r;
  } else {
    std::uint32_t r = zRight;
    const std::uint32_t j = k++;
    std::uint32_t succ = kNone;
    for (;;) {
      if (k > kRecordStoreMaxDepth) return kRecordStoreCorrupt;
      da[k] = 0;
      pa[k++] = r;
      succ = session.Link(r, 0);
      if (session.Link(succ, 0) == kNone || session.error() != kOk) break;
      r = succ;
    }
    da[j] = 1;
    pa[j] = succ;
    session.SetLink(pa[j - 1], da[j - 1], succ);
    session.SetLink(succ, 0, session.Link(z, 0));
    session.SetLink(r, 0, session.Link(succ, 1));
    session.SetLink(succ, 1, zRight);
    removedColor = session.Color(succ);
    session.SetColor(succ, session.Color(z));
  }

  if (removedColor == kRecordStoreBlack) {
    while (session.error() == kOk) {
      const std::uint32_t x = session.Link(pa[k - 1], da[k - 1]);
      if (session.IsRed(x)) {
        session.SetColor(x, kRecordStoreBlack);
        break;
      }
      if (k < 2) break;  // x is the root
      const int d = da[k - 1];
      std::uint32_t w = session.Link(pa[k - 1], 1 - d);
      if (w == kNone) {  // a black height of one on this side demands a sibling
        session.MarkCorrupt();
        break;
      }
      if (session.IsRed(w)) {
        session.SetColor(w, kRecordStoreBlack);
        session.SetColor(pa[k - 1], kRecordStoreRed);
        session.SetLink(pa[k - 1], 1 - d, session.Link(w, d));
        session.SetLink(w, d, pa[k - 1]);
        session.SetLink(pa[k - 2], da[k - 2], w);
        pa[k] = pa[k - 1];
        da[k] = d;
        pa[k - 1] = w;
        ++k;
        w = session.Link(pa[k - 1], 1 - d);
        if (w == kNone) {
          session.MarkCorrupt();
          break;
        }
      }
      if (!session.IsRed(session.Link(w, 0)) && !session.IsRed(session.Link(w, 1))) {
        session.SetColor(w, kRecordStoreRed);
      } else {
        if (!session.IsRed(session.Link(w, 1 - d))) {
          const std::uint32_t y = session.Link(w, d);
          session.SetColor(y, kRecordStoreBlack);
          session.SetColor(w, kRecordStoreRed);
          session.SetLink(w, d, session.Link(y, 1 - d));
          session.SetLink(y, 1 - d, w);
          session.SetLink(pa[k - 1], 1 - d, y);
          w = y;
        }
        session.SetColor(w, session.Color(pa[k - 1]));
        session.SetColor(pa[k - 1], kRecordStoreBlack);
        session.SetColor(session.Link(w, 1 - d), kRecordStoreBlack);
        session.SetLink(pa[k - 1], 1 - d, session.Link(w, d));
        session.SetLink(w, d, pa[k - 1]);
        session.SetLink(pa[k - 2], da[k - 2], w);
        break;
      }
      --k;
    }
  }
  s = session.Commit();
  if (s != kOk) return s;
  s = WriteFreeSlot(b, z, b.freeHead);
  if (s != kOk) return s;
  b.freeHead = z;
  return kOk;
}

StatusCode RecordStore_GetEntry(EngineObject* store, std::uint32_t index, std::uint8_t* state,
                                std::uint32_t* left, std::uint32_t* right, void* key,
                                void* data) noexcept {
  if (store == nullptr) return kBadArgument;
  StoreBody& b = Body(store);
  if (index >= b.slotCount) return kNotFound;
  const std::uint32_t at = EntryOffset(b, index);
  std::uint8_t raw[9];
  StatusCode s = Stream_ReadExact(b.stream, at, raw, sizeof raw);
  if (s == kOk && key != nullptr) s = Stream_ReadExact(b.stream, at + 9, key, b.keySize);
  if (s == kOk && data != nullptr && b.dataSize != 0)
    s = Stream_ReadExact(b.stream, at + 9 + b.keySize, data, b.dataSize);
  if (s != kOk) return s;
  if (state != nullptr) *state = raw[0];
  if (left != nullptr) *left = GetU32(raw + 1);
  if (right != nullptr) *right = GetU32(raw + 5);
  return kOk;
}

StatusCode RecordStore_SetData(EngineObject* store, const void* key, std::uint32_t index,
                               const void* data) noexcept {
  if (store == nullptr || (data == nullptr && Body(store).dataSize != 0)) return kBadArgument;
  StoreBody& b = Body(store);
  if (key != nullptr) {
    const StatusCode s = RecordStore_Find(store, key, nullptr, &index);
    if (s != kOk) return s;
  } else {
    if (index >= b.slotCount) return kNotFound;
    std::uint8_t state = 0;
    const StatusCode s = Stream_ReadExact(b.stream, EntryOffset(b, index), &state, 1);
    if (s != kOk) return s;
    if (state == kRecordStoreFree) return kNotFound;
  }
  if (b.dataSize == 0) return kOk;
  return Stream_WriteExact(b.stream, EntryOffset(b, index) + 9 + b.keySize, data, b.dataSize);
}
