#include "engine/utilities/record_index.h"

#include <new>

#include "engine/runtime/allocator.h"
#include "engine/runtime/block_file.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/stream.h"
#include "engine/utilities/record_list.h"
#include "engine/utilities/record_store.h"

namespace {

const RecordIndexOps kRecordIndexOps = {
    Core_NotImplemented, RecordIndex_Create,  RecordIndex_Release,     RecordIndex_Insert,
    RecordIndex_Read,    RecordIndex_Next,    RecordIndex_BeginUpdate, RecordIndex_EndUpdate,
    RecordIndex_AddKey,  RecordIndex_AddLink, RecordIndex_Link,        Core_NotImplemented,
};

constexpr std::uint32_t kNone = 0xFFFFFFFFu;
constexpr std::uint32_t kProbe = 0xFFFFFFFFu;  // store key standing for the caller's bytes
constexpr std::uint32_t kDataBytes = 32;

struct Update {
  bool open;
  std::uint32_t number;
  std::uint32_t value;
  std::uint32_t defaultTarget;
  EngineObject* keyStream;
  std::uint32_t keyStreamId;
  EngineObject* keyStore;
  std::uint32_t keyCount;
  std::uint32_t firstLink;
  std::uint32_t linksAdded;
};

struct IndexBody {
  EngineObject* container;
  EngineObject* texts;  // record list of key texts
  EngineObject* storeStream;
  EngineObject* store;
  EngineObject* links;
  std::uint32_t count;
  std::uint32_t linkCount;
  std::uint32_t readPosition;
  const void* probe;
  std::uint32_t probeLength;
  Update update;
};

using IndexInstance = EngineInstance<IndexBody>;

IndexBody& Body(EngineObject* index) {
  return BodyOf<IndexBody>(index);
}

std::uint32_t GetU32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

void PutU32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

struct Words {
  std::uint32_t w[8];
};

StatusCode CompareTexts(void* user, const void* a, const void* b) noexcept {
  const IndexBody& x = *static_cast<IndexBody*>(user);
  const std::uint32_t ha = GetU32(static_cast<const std::uint8_t*>(a));
  const std::uint32_t hb = GetU32(static_cast<const std::uint8_t*>(b));
  if (hb == kProbe) return kFailed;
  if (ha == kProbe) {
    const StatusCode s = RecordList_CompareBytes(x.texts, false, hb, x.probe, x.probeLength);
    return s == kCompareLess ? kCompareGreater : s == kCompareGreater ? kCompareLess : s;
  }
  return RecordList_Compare(x.texts, false, ha, hb);
}

StatusCode ReadWords(IndexBody& x, std::uint32_t number, std::uint32_t* keyOffset, Words* words) {
  std::uint8_t state = 0;
  std::uint8_t key[4];
  std::uint8_t data[kDataBytes];
  const StatusCode s = RecordStore_GetEntry(x.store, number, &state, nullptr, nullptr, key, data);
  if (s != kOk) return s == kNotFound ? kFailed : s;
  if (state == kRecordStoreFree) return kFailed;
  if (keyOffset != nullptr) *keyOffset = GetU32(key);
  for (int i = 0; i < 8; ++i)
    words->w[i] = GetU32(data + 4 * i);
  return kOk;
}

StatusCode WriteWords(IndexBody& x, std::uint32_t number, const Words& words) {
  std::uint8_t data[kDataBytes];
  for (int i = 0; i < 8; ++i)
    PutU32(data + 4 * i, words.w[i]);
  return RecordStore_SetData(x.store, nullptr, number, data);
}

// Looks the caller's bytes up among the records.
StatusCode FindName(IndexBody& x, const void* key, std::uint32_t length, std::uint32_t* number) {
  std::uint8_t probe[4];
  PutU32(probe, kProbe);
  x.probe = key;
  x.probeLength = length;
  const StatusCode s = RecordStore_Find(x.store, probe, nullptr, number);
  x.probe = nullptr;
  return s;
}

// Appends a text and inserts it into store with data; a duplicate takes the
// text back and reports the existing entry.
StatusCode InsertText(IndexBody& x, EngineObject* store, const void* key, std::uint32_t length,
                      const void* data, std::uint32_t* entry, std::uint32_t* offset) {
  if (length > kRecordIndexMaxKey) return kFailed;
  std::uint32_t handle = 0;
  StatusCode s = RecordList_Append(x.texts, key, length, &handle);
  if (s != kOk) return s;
  std::uint8_t stored[4];
  PutU32(stored, handle);
  s = RecordStore_Insert(store, stored, data, entry);
  if (s != kOk) {
    const StatusCode d = RecordList_Truncate(x.texts, handle);
    if (d != kOk) return d;
    return s == kRecordStoreDuplicate ? kRecordIndexDuplicate : s;
  }
  if (offset != nullptr) *offset = handle;
  return kOk;
}

StatusCode CloseKeyStore(IndexBody& x) {
  Update& u = x.update;
  StatusCode s = kOk;
  if (u.keyStore != nullptr) s = RecordStore_Close(u.keyStore);
  if (u.keyStream != nullptr) {
    const StatusCode c = StreamOf(u.keyStream).close(u.keyStream);
    if (s == kOk) s = c;
  }
  u.keyStore = nullptr;
  u.keyStream = nullptr;
  return s;
}

StatusCode ReadText(IndexBody& x, std::uint32_t number, void* buffer, std::uint32_t* length,
                    std::uint32_t* value) {
  std::uint32_t offset = 0;
  Words words{};
  StatusCode s = ReadWords(x, number, &offset, &words);
  if (s != kOk) return s;
  std::uint32_t stored = 0;
  s = RecordList_Read(x.texts, offset, &stored, buffer, buffer != nullptr ? *length : 0);
  if (s != kOk) return s;
  *length = stored;
  if (value != nullptr) *value = words.w[6];
  return kOk;
}

}  // namespace

EngineObject RecordIndexModule = {nullptr, &kRecordIndexOps};

StatusCode RecordIndex_Create(EngineObject*, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  void* block = nullptr;
  if (Engine_Alloc(sizeof(IndexInstance), &block) != kOk) return kOutOfMemory;
  auto* inst = new (block) IndexInstance{};
  inst->header = {&inst->body, &kRecordIndexOps};
  IndexBody& x = inst->body;
  StatusCode s =
      BlockFile_OpenPath(&BlockFileModule, nullptr, 0, kFileOpenTemporary, 0, &x.container);
  std::uint32_t id = 0;
  if (s == kOk) s = RecordList_Create(&RecordListModule, x.container, &x.texts);
  if (s == kOk) s = BlockFile_CreateStream(x.container, &id, &x.links);
  if (s == kOk) s = BlockFile_CreateStream(x.container, &id, &x.storeStream);
  if (s == kOk)
    s = RecordStore_CreateStore(&RecordStoreModule, x.storeStream, 4, kDataBytes, CompareTexts, &x,
                                &x.store);
  if (s != kOk) {
    (void)RecordIndex_Release(&inst->header);  // the creation failure is the answer
    return s;
  }
  *out = &inst->header;
  return kOk;
}

StatusCode RecordIndex_Release(EngineObject* index) noexcept {
  if (index == nullptr) return kBadArgument;
  IndexBody& x = Body(index);
  StatusCode result = kOk;
  const auto keep = [&result](StatusCode s) {
    if (s != kOk) result = s;
  };
  keep(CloseKeyStore(x));
  if (x.store != nullptr) keep(RecordStore_Close(x.store));
  if (x.storeStream != nullptr) keep(StreamOf(x.storeStream).close(x.storeStream));
  if (x.links != nullptr) keep(StreamOf(x.links).close(x.links));
  if (x.texts != nullptr) keep(RecordList_Destroy(x.texts));
  if (x.container != nullptr) keep(BlockFile_Close(x.container));
  Engine_Free(index);
  return result;
}

StatusCode RecordIndex_Insert(EngineObject* index, const void* key, std::uint32_t keyLength,
                              std::uint32_t value, std::uint32_t* entry) noexcept {
  if (index == nullptr || (key == nullptr && keyLength != 0)) return kBadArgument;
  IndexBody& x = Body(index);
  Words words{{0, 0, kNone, 0, kNone, 0, value, kNone}};
  std::uint8_t data[kDataBytes];
  for (int i = 0; i < 8; ++i)
    PutU32(data + 4 * i, words.w[i]);
  const StatusCode s = InsertText(x, x.store, key, keyLength, data, entry, nullptr);
  if (s == kOk) ++x.count;
  return s;
}

StatusCode RecordIndex_Read(EngineObject* index, std::uint32_t* number, void* buffer,
                            std::uint32_t* length, std::uint32_t* value) noexcept {
  if (index == nullptr || number == nullptr || length == nullptr) return kBadArgument;
  IndexBody& x = Body(index);
  if (*number >= x.count) return kNoMore;
  const StatusCode s = ReadText(x, *number, buffer, length, value);
  if (s == kOk) ++*number;
  return s;
}

StatusCode RecordIndex_Next(EngineObject* index, void* buffer, std::uint32_t* length,
                            std::uint32_t* value) noexcept {
  if (index == nullptr) return kBadArgument;
  return RecordIndex_Read(index, &Body(index).readPosition, buffer, length, value);
}

StatusCode RecordIndex_BeginUpdate(EngineObject* index, std::uint32_t number,
                                   std::uint32_t defaultTarget) noexcept {
  if (index == nullptr) return kBadArgument;
  IndexBody& x = Body(index);
  if (x.update.open) return kRecordIndexUpdateOpen;
  if (number >= x.count) return kFailed;
  Words words{};
  const StatusCode s = ReadWords(x, number, nullptr, &words);
  if (s != kOk) return s;
  x.update = Update{};
  x.update.open = true;
  x.update.number = number;
  x.update.value = words.w[6];
  x.update.defaultTarget = defaultTarget;
  x.update.firstLink = x.linkCount;
  return kOk;
}

StatusCode RecordIndex_EndUpdate(EngineObject* index) noexcept {
  if (index == nullptr) return kBadArgument;
  IndexBody& x = Body(index);
  Update& u = x.update;
  if (!u.open) return kFailed;
  StatusCode s = CloseKeyStore(x);
  Words words{};
  if (s == kOk) s = ReadWords(x, u.number, nullptr, &words);
  if (s == kOk) {
    words.w[0] = u.keyCount != 0 ? u.keyStreamId : 0;
    words.w[1] = u.keyCount;
    words.w[2] = u.linksAdded != 0 ? u.firstLink : kNone;
    words.w[3] = u.linksAdded;
    words.w[7] = u.defaultTarget;
    s = WriteWords(x, u.number, words);
  }
  u = Update{};
  return s;
}

StatusCode RecordIndex_AddKey(EngineObject* index, const void* key, std::uint32_t keyLength,
                              std::uint32_t value, std::uint32_t* entry) noexcept {
  if (index == nullptr || (key == nullptr && keyLength != 0)) return kBadArgument;
  IndexBody& x = Body(index);
  Update& u = x.update;
  if (!u.open) return kFailed;
  if (u.keyStore == nullptr) {
    StatusCode s = BlockFile_CreateStream(x.container, &u.keyStreamId, &u.keyStream);
    if (s != kOk) return s;
    s = RecordStore_CreateStore(&RecordStoreModule, u.keyStream, 4, 4, CompareTexts, &x,
                                &u.keyStore);
    if (s != kOk) {
      (void)CloseKeyStore(x);  // the store failure is the answer
      return s;
    }
  }
  std::uint8_t data[4];
  PutU32(data, value);
  const StatusCode s = InsertText(x, u.keyStore, key, keyLength, data, entry, nullptr);
  if (s == kOk) ++u.keyCount;
  return s;
}

StatusCode RecordIndex_AddLink(EngineObject* index, const void* key, std::uint32_t keyLength,
                               const void* secondaryKey, std::uint32_t secondaryLength,
                               std::uint32_t word3, std::uint32_t word4,
                               std::uint32_t word5) noexcept {
  if (index == nullptr || (key == nullptr && keyLength != 0)) return kBadArgument;
  IndexBody& x = Body(index);
  Update& u = x.update;
  if (!u.open) return kFailed;
  if (x.linkCount >= 0x7FFFFFFFu / kRecordIndexLinkBytes) return kFailed;
  if (keyLength > kRecordIndexMaxKey || secondaryLength > kRecordIndexMaxKey) return kFailed;
  const std::uint32_t link = x.linkCount;
  std::uint32_t number = 0;
  std::uint32_t keyOffset = 0;
  std::uint32_t next = kNone;
  StatusCode s = FindName(x, key, keyLength, &number);
  if (s == kNotFound) {
    Words words{{0, 0, kNone, 0, link, 1, u.value + 1, kNone}};
    std::uint8_t data[kDataBytes];
    for (int i = 0; i < 8; ++i)
      PutU32(data + 4 * i, words.w[i]);
    s = InsertText(x, x.store, key, keyLength, data, nullptr, &keyOffset);
    if (s != kOk) return s;
    ++x.count;
  } else if (s == kOk) {
    Words words{};
    s = ReadWords(x, number, &keyOffset, &words);
    if (s != kOk) return s;
    next = words.w[4];
    words.w[4] = link;
    words.w[5] += 1;
    s = WriteWords(x, number, words);
    if (s != kOk) return s;
  } else {
    return s;
  }
  std::uint32_t secondary = kNone;
  if (secondaryKey != nullptr) {
    s = RecordList_Append(x.texts, secondaryKey, secondaryLength, &secondary);
    if (s != kOk) return s;
  }
  std::uint8_t raw[kRecordIndexLinkBytes];
  const std::uint32_t fields[7] = {keyOffset, secondary, next, word3, word4, word5, kNone};
  for (int i = 0; i < 7; ++i)
    PutU32(raw + 4 * i, fields[i]);
  s = Stream_WriteExact(x.links, link * kRecordIndexLinkBytes, raw, sizeof raw);
  if (s != kOk) return s;
  ++x.linkCount;
  ++u.linksAdded;
  return kOk;
}

StatusCode RecordIndex_Link(EngineObject* index, RecordIndexProgress progress,
                            void* user) noexcept {
  if (index == nullptr) return kBadArgument;
  IndexBody& x = Body(index);
  for (std::uint32_t n = 0; n < x.count; ++n) {
    if (progress != nullptr) {
      const StatusCode p = progress(user, kRecordIndexLinking, n, x.count);
      if (IsFailure(p)) return p;
    }
    Words words{};
    StatusCode s = ReadWords(x, n, nullptr, &words);
    if (s != kOk) return s;
    if (words.w[5] == 0) continue;
    if (words.w[5] > x.linkCount) return kMalformed;
    EngineObject* keyStream = nullptr;
    EngineObject* keyStore = nullptr;
    std::uint32_t link = words.w[4];
    for (std::uint32_t i = 0; i < words.w[5] && s == kOk; ++i) {
      if (link >= x.linkCount) {
        s = kMalformed;
        break;
      }
      std::uint8_t raw[kRecordIndexLinkBytes];
      s = Stream_ReadExact(x.links, link * kRecordIndexLinkBytes, raw, sizeof raw);
      if (s != kOk) break;
      const std::uint32_t secondary = GetU32(raw + 4);
      std::uint32_t target = words.w[7];
      std::uint32_t flags = 2;
      if (secondary != kNone && words.w[1] != 0) {
        if (keyStore == nullptr) {
          s = BlockFile_OpenStream(x.container, words.w[0], &keyStream);
          if (s == kOk)
            s = RecordStore_OpenStore(&RecordStoreModule, keyStream, CompareTexts, &x, &keyStore);
          if (s != kOk) break;
        }
        std::uint8_t probe[4];
        std::uint8_t value[4];
        PutU32(probe, secondary);
        s = RecordStore_Find(keyStore, probe, value, nullptr);
        if (s == kOk) {
          target = GetU32(value);
          flags = 1;
        } else if (s == kNotFound) {
          s = kOk;
        } else {
          break;
        }
      }
      PutU32(raw + 20, GetU32(raw + 20) | flags);
      PutU32(raw + 24, target);
      s = Stream_WriteExact(x.links, link * kRecordIndexLinkBytes, raw, sizeof raw);
      link = GetU32(raw + 8);
    }
    if (keyStore != nullptr) {
      const StatusCode c = RecordStore_Close(keyStore);
      if (s == kOk) s = c;
    }
    if (keyStream != nullptr) {
      const StatusCode c = StreamOf(keyStream).close(keyStream);
      if (s == kOk) s = c;
    }
    if (s != kOk) return s;
  }
  return kOk;
}

StatusCode RecordIndex_GetData(EngineObject* index, std::uint32_t number,
                               std::uint32_t words[8]) noexcept {
  if (index == nullptr || words == nullptr) return kBadArgument;
  IndexBody& x = Body(index);
  if (number >= x.count) return kFailed;
  Words w{};
  const StatusCode s = ReadWords(x, number, nullptr, &w);
  if (s != kOk) return s;
  for (int i = 0; i < 8; ++i)
    words[i] = w.w[i];
  return kOk;
}

StatusCode RecordIndex_GetLink(EngineObject* index, std::uint32_t n,
                               std::uint32_t words[7]) noexcept {
  if (index == nullptr || words == nullptr) return kBadArgument;
  IndexBody& x = Body(index);
  if (n >= x.linkCount) return kFailed;
  std::uint8_t raw[kRecordIndexLinkBytes];
  const StatusCode s = Stream_ReadExact(x.links, n * kRecordIndexLinkBytes, raw, sizeof raw);
  if (s != kOk) return s;
  for (int i = 0; i < 7; ++i)
    words[i] = GetU32(raw + 4 * i);
  return kOk;
}
