// Named position lists: ordered (name, text position) entries kept in one
// record of a record database (engine/runtime/db_file.h). Documents keep their
// bookmarks and anchors in them, the per-document settings database the
// user's own bookmarks.
//
// The stored record, every number big-endian:
//   0  u16 namesOffset   where the names begin (8 in every record made here)
//   2  u16 reserved      0 in new records, kept as read
//   4  u16 count         number of entries
//   6  u16 namesLength   bytes of all names with their NULs
//   namesOffset          count names, each NUL-terminated, in entry order
//   namesOffset + namesLength rounded up to even: count u32 values
// Bytes between the header and namesOffset, and bytes after the values, are
// kept as they are by every edit. A record is valid when it holds the header,
// namesOffset is at least 8, the values fit in the record, and the names area
// holds `count` NUL-terminated names (names are never read past that area).
// Every offset is 16-bit, so a record stays below 65536 bytes: an insert or a
// rename that would pass that is refused with kPosListFull.
//
// A PosListHandle belongs to the owner of the list (a document handler's
// state, or the text view for the user's list). Readers lock it: the first
// lock loads the record (a buffer lent by the database), nested locks share
// it, the last unlock gives it back. Writers (insert, delete, rename, move,
// set value, reorder) edit the record through a record stream and refuse with
// kPosListBusy while the handle is locked, so names handed out by
// PosList_GetNames never change under their reader.
//
// Statuses (doc_handler.h): kDocBadListIndex (bad entry index, or nothing
// could be locked), kDocListNotLocked, kDocListEmpty, kDocListTooShort (record
// shorter than its header says, or names missing their NULs),
// kDocListNameTooLong, and the two below. Stream and database failures pass
// through unchanged.
#pragma once

#include <cstdint>

#include "engine/formats/doc_handler.h"
#include "engine/runtime/core.h"

// An insert or rename would take the record to 65536 bytes or more.
constexpr StatusCode kPosListFull = MakeFailure(Facility::DocHandler, 0x08);
// A write was asked for while the handle is locked.
constexpr StatusCode kPosListBusy = MakeFailure(Facility::DocHandler, 0x0B);

constexpr std::uint32_t kPosListHeaderSize = 8;
constexpr std::uint32_t kPosListMaxName = 255;         // bytes before the NUL
constexpr std::uint32_t kPosListMaxRecord = 0xFFFF;    // largest record size
constexpr std::uint32_t kPosListNameBufferSize = 256;  // a name and its NUL

// The header of a list record in host order.
struct PosListRecord {
  std::uint16_t namesOffset;
  std::uint16_t reserved;
  std::uint16_t count;
  std::uint16_t namesLength;
};

struct PosListHandle {
  std::uint16_t recordNumber;  // the list's record; 0 = no record yet
  const std::uint8_t* data;    // the loaded record while locked
  std::uint32_t size;          // its size
  std::uint16_t lockCount;     // outstanding locks
};

// Stored 8 bytes <-> host order.
PosListRecord PosList_LoadHeader(const std::uint8_t* stored) noexcept;
void PosList_StoreHeader(const PosListRecord& header, std::uint8_t* stored) noexcept;
// Where entry i's value is stored.
std::uint32_t PosList_ValueOffset(const PosListRecord& header, std::uint32_t i) noexcept;
// Checks a whole record (see the top of this file); the header on success,
// else kDocListTooShort.
StatusCode PosList_CheckRecord(const std::uint8_t* data, std::uint32_t size,
                               PosListRecord* header) noexcept;

// Every operation takes the database and the list's handle first. The
// database may be null for the reading operations (the list then reads as
// absent).

// Loads the record on the first lock and counts the lock. A handle without a
// record (or without a database) locks nothing and answers 0; an invalid
// record is given back and answers kDocListTooShort (nothing counted).
StatusCode PosList_Lock(EngineObject* db, PosListHandle* handle) noexcept;
// kDocListNotLocked when not locked; the last unlock gives the record back.
StatusCode PosList_Unlock(EngineObject* db, PosListHandle* handle) noexcept;
// Gives back every lock of count handles; a handle whose unlock fails is
// cleared anyway. Answers the first failure.
StatusCode PosList_UnlockAll(EngineObject* db, PosListHandle* handles,
                             std::uint32_t count) noexcept;

// Opens the list's record as a record stream for editing: a handle without a
// record first gets a new record {8, 0, 0, 0} appended to the database, its
// number stored in the handle. *size and *stream are written on success; the
// 8-byte header is read into *header (optional) in host order. kPosListBusy
// while the handle is locked.
StatusCode PosList_OpenForWrite(EngineObject* db, PosListHandle* handle, std::uint32_t* size,
                                EngineObject** stream, PosListRecord* header) noexcept;
// Writes the header back at offset 0 when given, then closes the stream,
// which stores the record. The stream is closed whatever happens; the first
// failure is answered.
StatusCode PosList_CloseForWrite(EngineObject* stream, const PosListRecord* header) noexcept;

// The number of entries; 0 when the database is missing, the list has no
// record or it cannot be locked.
StatusCode PosList_GetCount(EngineObject* db, PosListHandle* handle, std::uint16_t* count) noexcept;
// Entry i, each output optional: the name's byte offset in the record, the
// name with its NUL in `name` (which holds nameCapacity bytes; kIndexOutOfRange
// when it is too small), the name's length without NUL, and the value.
// kDocBadListIndex when i is not below count or nothing could be locked;
// kDocListNameTooLong for a name longer than 255 bytes.
StatusCode PosList_GetEntry(EngineObject* db, PosListHandle* handle, std::uint16_t i,
                            std::uint32_t* nameOffset, char* name, std::uint32_t nameCapacity,
                            std::uint32_t* nameLength, std::uint32_t* value) noexcept;
// Writes entry i's value in place; kDocBadListIndex for a bad index.
StatusCode PosList_SetValue(EngineObject* db, PosListHandle* handle, std::uint16_t i,
                            std::uint32_t value) noexcept;
// An engine-allocated array of count pointers to the NUL-terminated names in
// the locked record; the record stays locked until PosList_FreeNames.
// kDocListEmpty when the list is absent or empty.
StatusCode PosList_GetNames(EngineObject* db, PosListHandle* handle, const char*** names) noexcept;
// Frees the array and unlocks; a null array answers 0 and unlocks nothing.
StatusCode PosList_FreeNames(EngineObject* db, PosListHandle* handle, const char** names) noexcept;

// Inserts (name, value) before entry i; i at or past count appends. The name
// is NUL-terminated, at most 255 bytes (else kDocListNameTooLong).
StatusCode PosList_Insert(EngineObject* db, PosListHandle* handle, std::uint16_t i,
                          const char* name, std::uint32_t value) noexcept;
// Removes entry i.
StatusCode PosList_Delete(EngineObject* db, PosListHandle* handle, std::uint16_t i) noexcept;
// Replaces entry i's name (at most 255 bytes).
StatusCode PosList_Rename(EngineObject* db, PosListHandle* handle, std::uint16_t i,
                          const char* name) noexcept;
// Byte offsets in the record and lengths with NUL of the names of entries i
// and j, each output optional; kDocBadListIndex when either index is bad.
StatusCode PosList_LocateEntry(EngineObject* db, PosListHandle* handle, std::uint16_t i,
                               std::uint16_t j, std::uint32_t* offsetI, std::uint32_t* lengthI,
                               std::uint32_t* offsetJ, std::uint32_t* lengthJ) noexcept;
// Moves entry i, name and value together, so that it ends at index j (j at
// or past count: the last index); the entries between shift by one place.
StatusCode PosList_Move(EngineObject* db, PosListHandle* handle, std::uint16_t i,
                        std::uint16_t j) noexcept;
// 0 and the index of the first entry whose name equals `name` byte for byte;
// kNotFound when none, or the list is absent or empty.
StatusCode PosList_Find(EngineObject* db, PosListHandle* handle, const char* name,
                        std::uint16_t* index) noexcept;
// Sorts the entries by name (the string service's byte comparison), keeping
// the order of equal names; values travel with their names.
StatusCode PosList_Reorder(EngineObject* db, PosListHandle* handle) noexcept;

// BookmarkOp over a handler's two position lists (lists[0] and lists[1]):
// the DocBookmark sub-code with the list number in its low nibble (0 or 1,
// else kNotSupported), the entry index and the record the sub-code names.
// Names are at most 31 bytes. Writers answer writeRefusal instead when it
// is not kOk (a damaged document, or a list that could not be recorded).
StatusCode PosList_BookmarkOp(EngineObject* db, PosListHandle* lists, std::uint16_t subCode,
                              std::uint16_t index, void* record, StatusCode writeRefusal) noexcept;
