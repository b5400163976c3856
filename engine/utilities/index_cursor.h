// Index cursors: a sorted map from variable-length byte keys to fixed-size
// data. The key texts are records of a record list; the map is a record store
// in one stream of a block container whose 4-byte keys (little-endian) are
// the record-list handles of the texts. Create and Open are called on
// IndexCursorModule, the others on the cursor.
//
// Keys compare as the record list compares them (byte-wise, or with A-Z
// folded when the cursor's fold flag is set). A caller's key that is not
// stored is looked up through the cursor itself, never through a stored
// marker value, so every handle stays usable. The cursor does not own the
// container or the list; the list must outlive the cursor.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// Facility 0x014.
constexpr StatusCode kIndexCursorDuplicate = MakeFailure(Facility::IndexCursor, 0x01);

struct IndexCursorOps {
  CoreEndWord word0;
  // 1 (module): a new container stream with an empty record store of
  // dataSize-byte data; *streamId receives the stream's number.
  StatusCode (*create)(EngineObject* module, bool fold, EngineObject* container,
                       std::uint32_t dataSize, EngineObject* list, std::uint32_t* streamId,
                       EngineObject** out) noexcept;
  // 2: closes the record store (writing its header) and the stream, which
  // stays in the container; frees the cursor.
  StatusCode (*destroy)(EngineObject* cursor) noexcept;
  // 3 (module): reopens a cursor's stream and record store.
  StatusCode (*open)(EngineObject* module, bool fold, EngineObject* container, EngineObject* list,
                     std::uint32_t streamId, EngineObject** out) noexcept;
  // 4: appends the key text and inserts it with data; *entry (optional)
  // receives the entry index. A present key: the text is dropped again and
  // kIndexCursorDuplicate answers, with the existing entry in *entry.
  StatusCode (*insert)(EngineObject* cursor, const void* key, std::uint32_t keyLength,
                       const void* data, std::uint32_t* entry) noexcept;
  // 5: finds the key bytes, or with key null the stored text at handle
  // keyLengthOrHandle. 0 with data and entry (each optional); kNotFound.
  StatusCode (*find)(EngineObject* cursor, const void* key, std::uint32_t keyLengthOrHandle,
                     void* data, std::uint32_t* entry) noexcept;
  // 6: the key handle and data of an entry. kNotFound for a free or
  // out-of-range entry.
  StatusCode (*getEntry)(EngineObject* cursor, std::uint32_t entry, std::uint32_t* handle,
                         void* data) noexcept;
  // 7: replaces an entry's data. kNotFound as GetEntry.
  StatusCode (*setData)(EngineObject* cursor, std::uint32_t entry, const void* data) noexcept;
  // 8: deletes an entry whose key text is the list's last record: the store
  // entry first, then the text. kRecordListNotLast (nothing changes) when the
  // text is not last; kNotFound as GetEntry.
  StatusCode (*remove)(EngineObject* cursor, std::uint32_t entry) noexcept;
  CoreEndWord end;
};

extern EngineObject IndexCursorModule;

StatusCode IndexCursor_Create(EngineObject* module, bool fold, EngineObject* container,
                              std::uint32_t dataSize, EngineObject* list, std::uint32_t* streamId,
                              EngineObject** out) noexcept;
StatusCode IndexCursor_Destroy(EngineObject* cursor) noexcept;
StatusCode IndexCursor_Open(EngineObject* module, bool fold, EngineObject* container,
                            EngineObject* list, std::uint32_t streamId,
                            EngineObject** out) noexcept;
StatusCode IndexCursor_Insert(EngineObject* cursor, const void* key, std::uint32_t keyLength,
                              const void* data, std::uint32_t* entry) noexcept;
StatusCode IndexCursor_Find(EngineObject* cursor, const void* key, std::uint32_t keyLengthOrHandle,
                            void* data, std::uint32_t* entry) noexcept;
StatusCode IndexCursor_GetEntry(EngineObject* cursor, std::uint32_t entry, std::uint32_t* handle,
                                void* data) noexcept;
StatusCode IndexCursor_SetData(EngineObject* cursor, std::uint32_t entry,
                               const void* data) noexcept;
StatusCode IndexCursor_Delete(EngineObject* cursor, std::uint32_t entry) noexcept;
