// The sorted record index: named records with a 32-bit value, kept sorted by
// name in a private block container on a temporary file, with per-record
// secondary keys and link records resolved by a linking pass. Create is
// called on RecordIndexModule, the others on the index.
//
// Records are numbered in insertion order (there is no delete). The container
// holds a record store of 4-byte keys (key-text offsets) and 32-byte data, a
// key-text stream and a link stream:
//
//   key text: u16 little-endian length, then the bytes (at most 32000)
//
//   record data, eight u32 (little-endian):
//   word  meaning                                         after insert
//   0     stream of the record's secondary-key store      0
//   1     number of secondary keys                        0
//   2     first link record added during its update       0xFFFFFFFF
//   3     link records added during its update            0
//   4     first link record of its link chain             0xFFFFFFFF
//   5     link records in that chain                      0
//   6     the record's value                              the caller's
//   7     default target value                            0xFFFFFFFF
//
//   link record n at n * 28, seven u32: key-text offset of the linked
//   record's key; key-text offset of the link's secondary key or 0xFFFFFFFF;
//   next link of the chain or 0xFFFFFFFF; three caller words (the linking
//   pass adds bit 0 "resolved by a secondary key" or bit 1 "resolved to the
//   default" to the third); the resolved target (0xFFFFFFFF before the pass).
//
// Names and secondary keys compare byte-wise. A refused duplicate leaves no
// text behind.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// Facility 0x015.
constexpr StatusCode kRecordIndexDuplicate = MakeFailure(Facility::RecordIndex, 0x01);
constexpr StatusCode kRecordIndexUpdateOpen = MakeFailure(Facility::RecordIndex, 0x02);
constexpr StatusCode kRecordIndexLinking = MakeInfo(Facility::RecordIndex, 0x01);  // progress

constexpr std::uint32_t kRecordIndexMaxKey = 32000;
constexpr std::uint32_t kRecordIndexLinkBytes = 28;

// Called before each record of the linking pass with kRecordIndexLinking, the
// record's number and the count; kCancelled (or any failure) stops the pass
// with that answer.
using RecordIndexProgress = StatusCode (*)(void* user, StatusCode notice, std::uint32_t position,
                                           std::uint32_t count) noexcept;

struct RecordIndexOps {
  CoreEndWord word0;
  // 1 (module): an empty index in a new temporary container. Failures of the
  // file system and the container; kOutOfMemory.
  StatusCode (*create)(EngineObject* module, EngineObject** out) noexcept;
  // 2: closes everything, going on after failures; the last failure or 0.
  StatusCode (*release)(EngineObject* index) noexcept;
  // 3: a new record; *entry (optional) receives its number. kFailed for a
  // name above 32000 bytes; kRecordIndexDuplicate with the existing number.
  StatusCode (*insert)(EngineObject* index, const void* key, std::uint32_t keyLength,
                       std::uint32_t value, std::uint32_t* entry) noexcept;
  // 4: record *number's name (up to *length bytes into buffer; *length
  // becomes the stored length) and value; *number advances. kNoMore past the
  // last record.
  StatusCode (*read)(EngineObject* index, std::uint32_t* number, void* buffer,
                     std::uint32_t* length, std::uint32_t* value) noexcept;
  // 5: as Read from the index's own read position.
  StatusCode (*next)(EngineObject* index, void* buffer, std::uint32_t* length,
                     std::uint32_t* value) noexcept;
  // 6: opens an update of record number with a default target value.
  // kRecordIndexUpdateOpen while one is open; kFailed for a bad number.
  StatusCode (*beginUpdate)(EngineObject* index, std::uint32_t number,
                            std::uint32_t defaultTarget) noexcept;
  // 7: stores the update's results in the record (words 0-3 and 7) and ends
  // it. kFailed without an open update.
  StatusCode (*endUpdate)(EngineObject* index) noexcept;
  // 8: adds a secondary key with its value to the open update; *entry
  // (optional) receives its entry. kRecordIndexDuplicate; kFailed without an
  // open update or for a key above 32000 bytes.
  StatusCode (*addKey)(EngineObject* index, const void* key, std::uint32_t keyLength,
                       std::uint32_t value, std::uint32_t* entry) noexcept;
  // 9: appends a link to the record named key (added when absent, with the
  // updated record's value + 1), with an optional secondary key and three
  // caller words. kFailed without an open update.
  StatusCode (*addLink)(EngineObject* index, const void* key, std::uint32_t keyLength,
                        const void* secondaryKey, std::uint32_t secondaryLength,
                        std::uint32_t word3, std::uint32_t word4, std::uint32_t word5) noexcept;
  // 10: resolves every link record (see the layout). kCancelled or the
  // callback's failure; kMalformed for a broken link chain.
  StatusCode (*link)(EngineObject* index, RecordIndexProgress progress, void* user) noexcept;
  CoreEndWord end;
};

extern EngineObject RecordIndexModule;

StatusCode RecordIndex_Create(EngineObject* module, EngineObject** out) noexcept;
StatusCode RecordIndex_Release(EngineObject* index) noexcept;
StatusCode RecordIndex_Insert(EngineObject* index, const void* key, std::uint32_t keyLength,
                              std::uint32_t value, std::uint32_t* entry) noexcept;
StatusCode RecordIndex_Read(EngineObject* index, std::uint32_t* number, void* buffer,
                            std::uint32_t* length, std::uint32_t* value) noexcept;
StatusCode RecordIndex_Next(EngineObject* index, void* buffer, std::uint32_t* length,
                            std::uint32_t* value) noexcept;
StatusCode RecordIndex_BeginUpdate(EngineObject* index, std::uint32_t number,
                                   std::uint32_t defaultTarget) noexcept;
StatusCode RecordIndex_EndUpdate(EngineObject* index) noexcept;
StatusCode RecordIndex_AddKey(EngineObject* index, const void* key, std::uint32_t keyLength,
                              std::uint32_t value, std::uint32_t* entry) noexcept;
StatusCode RecordIndex_AddLink(EngineObject* index, const void* key, std::uint32_t keyLength,
                               const void* secondaryKey, std::uint32_t secondaryLength,
                               std::uint32_t word3, std::uint32_t word4,
                               std::uint32_t word5) noexcept;
StatusCode RecordIndex_Link(EngineObject* index, RecordIndexProgress progress, void* user) noexcept;

// Inspection (not slots of the table): record number's eight data words, and
// link record n's seven words. kFailed for a bad number.
StatusCode RecordIndex_GetData(EngineObject* index, std::uint32_t number,
                               std::uint32_t words[8]) noexcept;
StatusCode RecordIndex_GetLink(EngineObject* index, std::uint32_t n,
                               std::uint32_t words[7]) noexcept;
