// The record list: an append-only list of byte records of up to 32000 bytes,
// kept in one stream of a block container and addressed by their offsets
// (handles). Create is called on RecordListModule, the others on the list.
//
// Stream layout: records one after another from offset 0, each a u16
// little-endian length followed by that many bytes.
//
// The list owns its stream: Destroy deletes it from the container. Records
// are compared byte-wise, or with A-Z folded to a-z; the first difference
// decides and a record that is a prefix of the other sorts first.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// Facility 0x013.
constexpr StatusCode kRecordListNotLast = MakeFailure(Facility::RecordList, 0x01);

constexpr std::uint32_t kRecordListMaxRecord = 32000;

struct RecordListOps {
  CoreEndWord word0;
  // 1 (module): a new empty list in a new stream of container. Failures of
  // the container; kOutOfMemory.
  StatusCode (*create)(EngineObject* module, EngineObject* container, EngineObject** out) noexcept;
  // 2: closes the stream, deletes it from the container and frees the list.
  StatusCode (*destroy)(EngineObject* list) noexcept;
  // 3: appends a record; *handle (optional) receives its offset. kFailed for
  // more than 32000 bytes (nothing written) or a list that would pass 2 GiB;
  // stream failures.
  StatusCode (*append)(EngineObject* list, const void* bytes, std::uint32_t length,
                       std::uint32_t* handle) noexcept;
  // 4: *length = the stored length; min(length, capacity) bytes go to buffer.
  // kFailed for a handle that is not a record inside the list.
  StatusCode (*read)(EngineObject* list, std::uint32_t handle, std::uint32_t* length, void* buffer,
                     std::uint32_t capacity) noexcept;
  // 5: cuts the list back to the start of the record appended last; nothing
  // when that record is gone already (after a cut below it).
  StatusCode (*dropLast)(EngineObject* list) noexcept;
  // 6, 7: kCompareEqual, kCompareLess (a / the record first) or
  // kCompareGreater; kFailed for a bad handle.
  StatusCode (*compare)(EngineObject* list, bool fold, std::uint32_t a, std::uint32_t b) noexcept;
  StatusCode (*compareBytes)(EngineObject* list, bool fold, std::uint32_t handle, const void* bytes,
                             std::uint32_t length) noexcept;
  // 8: removes the record at handle when it is the last one: a handle at or
  // past the end does nothing; another record gives kRecordListNotLast.
  StatusCode (*removeLast)(EngineObject* list, std::uint32_t handle) noexcept;
  // 9: cuts the list at handle; a handle at or past the end does nothing.
  StatusCode (*truncate)(EngineObject* list, std::uint32_t handle) noexcept;
  CoreEndWord end;
};

extern EngineObject RecordListModule;

StatusCode RecordList_Create(EngineObject* module, EngineObject* container,
                             EngineObject** out) noexcept;
StatusCode RecordList_Destroy(EngineObject* list) noexcept;
StatusCode RecordList_Append(EngineObject* list, const void* bytes, std::uint32_t length,
                             std::uint32_t* handle) noexcept;
StatusCode RecordList_Read(EngineObject* list, std::uint32_t handle, std::uint32_t* length,
                           void* buffer, std::uint32_t capacity) noexcept;
StatusCode RecordList_DropLast(EngineObject* list) noexcept;
StatusCode RecordList_Compare(EngineObject* list, bool fold, std::uint32_t a,
                              std::uint32_t b) noexcept;
StatusCode RecordList_CompareBytes(EngineObject* list, bool fold, std::uint32_t handle,
                                   const void* bytes, std::uint32_t length) noexcept;
StatusCode RecordList_RemoveLast(EngineObject* list, std::uint32_t handle) noexcept;
StatusCode RecordList_Truncate(EngineObject* list, std::uint32_t handle) noexcept;

// The offset just past the last record (not a slot of the table).
std::uint32_t RecordList_End(EngineObject* list) noexcept;
