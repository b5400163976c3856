// The embedded record store: fixed-size records kept in any byte stream as a
// red-black search tree of fixed-size entries, ordered by the caller's compare
// of keys. CreateStore and OpenStore are called on RecordStoreModule, the others on the
// store. The store does not own its stream; closing the store leaves the
// stream open.
//
// Stream layout (little-endian):
//
//   offset  size  meaning
//   0       4     header size, 32
//   4       2     version, 1
//   6       2     0
//   8       4     key size K
//   12      4     data size D
//   16      4     entry size E = K + D + 9
//   20      4     root entry index, 0xFFFFFFFF when empty
//   24      4     head of the free-entry list, 0xFFFFFFFF when none
//   28      4     number of entry slots
//
// Entry i at 32 + i * E:
//
//   0       1     state: 0 red node, 1 black node, 255 free slot
//   1       4     left link (0xFFFFFFFF none); of a free slot: the next free slot
//   5       4     right link (0xFFFFFFFF none; none for a free slot)
//   9       K     key
//   9 + K   D     data (key and data of a free slot are zero)
//
// Insert and delete keep the red-black balance, so no path is longer than
// twice the logarithm of the slot count. Every link read from the stream is
// range-checked; a path longer than any balanced tree can have, a link past
// the slots or to a free slot, or a bad free list is kRecordStoreCorrupt:
// never "not found". The header is written only on close.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// Facility 0x00E.
constexpr StatusCode kRecordStoreDuplicate = MakeFailure(Facility::RecordStore, 0x01);
constexpr StatusCode kRecordStoreBadCompare = MakeFailure(Facility::RecordStore, 0x02);
constexpr StatusCode kRecordStoreHeaderWrite = MakeFailure(Facility::RecordStore, 0x03);
constexpr StatusCode kRecordStoreHeaderRead = MakeFailure(Facility::RecordStore, 0x04);
constexpr StatusCode kRecordStoreHeaderSize = MakeFailure(Facility::RecordStore, 0x05);
// The header's fields disagree with each other or the stream, or the tree's
// links are broken.
constexpr StatusCode kRecordStoreCorrupt = MakeFailure(Facility::RecordStore, 0x06);

constexpr std::uint32_t kRecordStoreNone = 0xFFFFFFFFu;
constexpr std::uint32_t kRecordStoreHeaderBytes = 32;
constexpr std::uint32_t kRecordStoreGrowth = 32;  // slots added at a time
// Longest root-to-leaf path a balanced tree of 2^32 entries can have is 64.
constexpr std::uint32_t kRecordStoreMaxDepth = 64;
// Key plus data: bounds what a stored header can make the store allocate.
constexpr std::uint32_t kRecordStoreMaxRecord = 0x10000;
constexpr std::uint8_t kRecordStoreRed = 0;
constexpr std::uint8_t kRecordStoreBlack = 1;
constexpr std::uint8_t kRecordStoreFree = 255;

// Answers kCompareEqual, kCompareLess (a sorts first) or kCompareGreater. A
// failure is passed on; any other answer fails with kRecordStoreBadCompare.
using RecordStoreCompare = StatusCode (*)(void* user, const void* a, const void* b) noexcept;

struct RecordStoreOps {
  CoreEndWord word0;
  // 1 (module): a new empty store on stream; nothing is written until the
  // first insert grows the stream (to 32 + 32 * E bytes). keySize must be
  // non-zero and key + data at most kRecordStoreMaxRecord (kBadArgument).
  StatusCode (*createStore)(EngineObject* module, EngineObject* stream, std::uint32_t keySize,
                            std::uint32_t dataSize, RecordStoreCompare compare, void* user,
                            EngineObject** out) noexcept;
  // 2 (module): opens the store at offset 0 of stream. kRecordStoreHeaderRead
  // when the header cannot be read; kRecordStoreHeaderSize for a header size
  // above 0xFFFF; kRecordStoreCorrupt when version, sizes, root, free head or
  // slot count do not fit each other and the stream.
  StatusCode (*openStore)(EngineObject* module, EngineObject* stream, RecordStoreCompare compare,
                          void* user, EngineObject** out) noexcept;
  // 3: writes the header (all of it for a created store, the six fields from
  // offset 8 for an opened one) and frees the store, also when writing fails
  // (kRecordStoreHeaderWrite).
  StatusCode (*close)(EngineObject* store) noexcept;
  // 4: inserts key and data; *entry (optional) receives the entry index. An
  // existing key answers kRecordStoreDuplicate with its index in *entry.
  StatusCode (*insert)(EngineObject* store, const void* key, const void* data,
                       std::uint32_t* entry) noexcept;
  // 5: 0 with the data (when data is given) and the index (when entry is
  // given); kNotFound when absent.
  StatusCode (*find)(EngineObject* store, const void* key, void* data,
                     std::uint32_t* entry) noexcept;
  // 6: deletes the key's record and frees its slot (the next one reused).
  // kNotFound when absent.
  StatusCode (*remove)(EngineObject* store, const void* key) noexcept;
  // 7: the raw entry: state, links, key and data, into whichever outs are
  // given. kNotFound when index is not below the slot count.
  StatusCode (*getEntry)(EngineObject* store, std::uint32_t index, std::uint8_t* state,
                         std::uint32_t* left, std::uint32_t* right, void* key, void* data) noexcept;
  // 8: replaces the data of the key's record, or with a null key of entry
  // index (which must hold a record). kNotFound when absent or out of range.
  StatusCode (*setData)(EngineObject* store, const void* key, std::uint32_t index,
                        const void* data) noexcept;
  CoreEndWord end;
};

extern EngineObject RecordStoreModule;

StatusCode RecordStore_CreateStore(EngineObject* module, EngineObject* stream,
                                   std::uint32_t keySize, std::uint32_t dataSize,
                                   RecordStoreCompare compare, void* user,
                                   EngineObject** out) noexcept;
StatusCode RecordStore_OpenStore(EngineObject* module, EngineObject* stream,
                                 RecordStoreCompare compare, void* user,
                                 EngineObject** out) noexcept;
StatusCode RecordStore_Close(EngineObject* store) noexcept;
StatusCode RecordStore_Insert(EngineObject* store, const void* key, const void* data,
                              std::uint32_t* entry) noexcept;
StatusCode RecordStore_Find(EngineObject* store, const void* key, void* data,
                            std::uint32_t* entry) noexcept;
StatusCode RecordStore_Delete(EngineObject* store, const void* key) noexcept;
StatusCode RecordStore_GetEntry(EngineObject* store, std::uint32_t index, std::uint8_t* state,
                                std::uint32_t* left, std::uint32_t* right, void* key,
                                void* data) noexcept;
StatusCode RecordStore_SetData(EngineObject* store, const void* key, std::uint32_t index,
                               const void* data) noexcept;
