// Record-database files: handheld record databases opened on any stream.
//
// File format (every number big-endian): a 78-byte header, `count` 8-byte
// entries {u32 data offset, u8 attributes, u24 unique id} from offset 78, two
// zero bytes, then the records' data in entry order. Record i runs from its
// offset to the next entry's offset (0 bytes when that is not larger), the
// last record to the end of the file; every extent is clamped to the file.
// An empty database is 80 bytes.
//
// How changes reach the file. A database reads straight from its stream until
// the first change. The first change (insert, delete, move, resize, a record
// stream written back, SetInfo) copies the file into a private working copy in
// memory; every later read and change works there and the stream is not
// written. Closing a changed database commits the working copy:
//  - a stream that answers kStreamPropertyPath (a file stream) is replaced as
//    a file by FileSys_ReplaceFile, so a crash or a full disk at any moment
//    leaves either the old or the new file, and no copy that stays behind
//    for good. The caller's stream is then rewritten with the same bytes (it
//    still refers to the replaced file), so it reads the new database too;
//    that step cannot harm the file on disk.
//  - any other stream (memory, record or container streams) is rewritten in
//    place: grown first, then written, then truncated.
// Before committing, byte 0 is written back with its own value, so a stream
// that refuses writes (opened read-only) fails the Close and nothing is
// replaced. A failed commit leaves the old file as it was.
//
// A table that is not consistent (count against the file size, offsets below
// the entry table, past the file or decreasing) is still read tolerantly, but
// insert, delete, move, resize and the write-back of a record stream whose
// size changed refuse it with kMalformed.
//
// Reading: the entry table is read once at open and kept in memory (the
// entries inside the file; an entry past the file reads as kStreamShortRead).
// Records of a file stream (one that answers kStreamPropertyHandle) are read
// with positioned reads through a 64 KB read-ahead window, so reading records
// in order costs one system read per window; other streams are read through
// their readAt. After the first change both come from the working copy.
//
// Record cache: up to 64 released record buffers within a 512 KB budget,
// keyed by record index; every change empties it, and buffers lent out before
// a change are freed, not cached, when given back. A lent buffer is an engine
// allocation of size + 8 bytes whose 8-byte prefix (host order) holds the
// record index (u16), a zero u16 and the size (u32); the caller gets the
// address past the prefix.
//
// The database does not own its stream; the caller closes the stream after
// the database. Record streams must be closed and lent buffers given back
// before Close, which otherwise answers kDbFileBusy and keeps the database
// open.
#pragma once

#include <cstdint>

#include "engine/runtime/stream.h"

// Facility 0x601: record databases.
constexpr StatusCode kDbFileIndexOutOfRange = MakeFailure(Facility::DbFile, 0x03);
constexpr StatusCode kDbFileFull = MakeFailure(Facility::DbFile, 0x08);  // 65,535 records
constexpr StatusCode kDbFileNotModule =
    MakeFailure(Facility::DbFile, 0x0B);  // Open on a db, mode != 1
// Delete of a record that is open as a record stream.
constexpr StatusCode kDbFileRecordOpen = MakeFailure(Facility::DbFile, 0x0C);
// Close or rebind while record streams are open or record buffers are lent.
constexpr StatusCode kDbFileBusy = MakeFailure(Facility::DbFile, 0x0D);

constexpr std::uint32_t kDbHeaderSize = 78;
constexpr std::uint32_t kDbEntrySize = 8;
constexpr std::uint32_t kDbEmptySize = 80;
constexpr std::uint32_t kDbMaxRecords = 0xFFFF;
constexpr std::uint32_t kDbCacheEntries = 64;
constexpr std::uint32_t kDbCacheBudget = 524288;
constexpr std::uint32_t kDbRecordPrefix = 8;

// Change flags.
constexpr std::uint8_t kDbChangedTable = 0x01;  // header or entry table
constexpr std::uint8_t kDbChangedData = 0x02;   // record data

// Open modes.
constexpr std::uint32_t kDbOpenRead = 0;
constexpr std::uint32_t kDbOpenWrite = 1;   // also: rebind an open database
constexpr std::uint32_t kDbOpenNew = 2;     // start an empty "Temp"/"Temp" database
constexpr std::uint32_t kDbOpenNewAlt = 3;  // same as 2

// The header in host order (named fields; see DbFile_SwapHeader for the
// stored form).
struct DbFileHeader {
  std::uint8_t name[32];
  std::uint16_t attributes;
  std::uint16_t version;
  std::uint32_t creationDate;
  std::uint32_t modificationDate;
  std::uint32_t backupDate;
  std::uint32_t modificationNumber;
  std::uint32_t appInfoId;
  std::uint32_t sortInfoId;
  std::uint8_t type[4];
  std::uint8_t creator[4];
  std::uint32_t uniqueIdSeed;
  std::uint32_t nextRecordList;
  std::uint16_t count;
};

// Stored 78 bytes <-> named fields.
DbFileHeader DbFile_ParseHeader(const std::uint8_t* stored) noexcept;
void DbFile_StoreHeader(const DbFileHeader& header, std::uint8_t* stored) noexcept;

// Converts a raw 78-byte header in place between its stored big-endian form
// and host order (both directions): u16 at 32, 34, 76; u32 at 36, 40, 44, 48,
// 52, 56, 68, 72. Returns header.
void* DbFile_SwapHeader(void* header) noexcept;

struct DbFileOps {
  CoreEndWord word0;
  // 1: the object itself.
  StatusCode (*querySelf)(EngineObject* object, EngineObject** out) noexcept;
  // 2: commits a changed database (see the top of this file), frees the cache
  // and the object; the last write failure or 0. kDbFileBusy (nothing done)
  // while record streams are open or buffers lent.
  StatusCode (*close)(EngineObject* db) noexcept;
  // 3: formats the stream as an empty database in place: 78-byte header
  // (name up to 31 characters, creation and modification dates 1, type and
  // creator when given), two zero bytes, size 80.
  StatusCode (*createNew)(EngineObject* module, EngineObject* stream, const char* name,
                          const std::uint8_t* type, const std::uint8_t* creator) noexcept;
  // 4: on the module: modes 0 and 1 open the database in the stream (a
  // stream shorter than 78 bytes fails with the stream's code and nothing is
  // written), 2 and 3 start an empty "Temp"/"Temp" database that replaces the
  // stream's content on Close; above 3 kNotSupported. On an open database:
  // mode 1 commits its changes to its old stream and rebinds it to the new
  // one (the same object comes back); other modes kDbFileNotModule.
  StatusCode (*open)(EngineObject* moduleOrDb, EngineObject* stream, std::uint32_t mode,
                     EngineObject** out) noexcept;
  // 5: each out optional; the name is copied whole with byte 31 forced to 0.
  StatusCode (*getInfo)(EngineObject* db, char* name, std::uint8_t* type, std::uint8_t* creator,
                        std::uint16_t* attributes, std::uint16_t* version,
                        std::uint16_t* count) noexcept;
  // 6: each optional; the name is copied up to its terminator, at most 32
  // bytes, byte 31 forced to 0; any field given sets kDbChangedTable.
  StatusCode (*setInfo)(EngineObject* db, const char* name, const std::uint8_t* type,
                        const std::uint8_t* creator, const std::uint16_t* attributes,
                        const std::uint16_t* version) noexcept;
  // 7: the record's size, and with a buffer pointer its bytes in a buffer lent
  // by the record cache (null for an empty record). kDbFileIndexOutOfRange;
  // kOutOfMemory when the budget stays exhausted with nothing left to evict.
  StatusCode (*readRecord)(EngineObject* db, std::uint16_t index, std::uint32_t* size,
                           void** buffer) noexcept;
  // 8: gives a lent buffer back to the cache (null accepted); kBadArgument
  // for a pointer this database did not lend.
  StatusCode (*freeRecordBuffer)(EngineObject* db, void* buffer) noexcept;
  // 9: a record stream over a memory copy of the record, written back into
  // the database on close when it was written to.
  StatusCode (*openRecord)(EngineObject* db, std::uint16_t index, std::uint32_t* size,
                           EngineObject** stream) noexcept;
  // 10: inserts size bytes (data, or zeros when null) before *index; an
  // index at or past the count appends and the count is returned in *index.
  // kDbFileFull at 65,535 records.
  StatusCode (*insertRecord)(EngineObject* db, std::uint16_t* index, std::uint32_t size,
                             const void* data) noexcept;
  // 11: removes the entry and the data; kDbFileRecordOpen while the record is
  // open as a stream.
  StatusCode (*deleteRecord)(EngineObject* db, std::uint16_t index) noexcept;
  // 12: puts record `from` in front of record `to` (to at or past the count:
  // at the end). Entries keep their attributes and ids.
  StatusCode (*moveRecord)(EngineObject* db, std::uint16_t from, std::uint16_t to) noexcept;
  // 13: grows (new bytes zero) or shrinks the record at its end.
  StatusCode (*resizeRecord)(EngineObject* db, std::uint16_t index, std::uint32_t newSize) noexcept;
  CoreEndWord end;
};

extern EngineObject DbFileModule;

StatusCode DbFile_Close(EngineObject* db) noexcept;
StatusCode DbFile_CreateNew(EngineObject* module, EngineObject* stream, const char* name,
                            const std::uint8_t* type, const std::uint8_t* creator) noexcept;
StatusCode DbFile_Open(EngineObject* moduleOrDb, EngineObject* stream, std::uint32_t mode,
                       EngineObject** out) noexcept;
StatusCode DbFile_GetInfo(EngineObject* db, char* name, std::uint8_t* type, std::uint8_t* creator,
                          std::uint16_t* attributes, std::uint16_t* version,
                          std::uint16_t* count) noexcept;
StatusCode DbFile_SetInfo(EngineObject* db, const char* name, const std::uint8_t* type,
                          const std::uint8_t* creator, const std::uint16_t* attributes,
                          const std::uint16_t* version) noexcept;
StatusCode DbFile_ReadRecord(EngineObject* db, std::uint16_t index, std::uint32_t* size,
                             void** buffer) noexcept;
StatusCode DbFile_FreeRecordBuffer(EngineObject* db, void* buffer) noexcept;
StatusCode DbFile_OpenRecord(EngineObject* db, std::uint16_t index, std::uint32_t* size,
                             EngineObject** stream) noexcept;
StatusCode DbFile_InsertRecord(EngineObject* db, std::uint16_t* index, std::uint32_t size,
                               const void* data) noexcept;
StatusCode DbFile_DeleteRecord(EngineObject* db, std::uint16_t index) noexcept;
StatusCode DbFile_MoveRecord(EngineObject* db, std::uint16_t from, std::uint16_t to) noexcept;
StatusCode DbFile_ResizeRecord(EngineObject* db, std::uint16_t index,
                               std::uint32_t newSize) noexcept;

// The offset and size of record index under the size rule, clamped to the
// file; kDbFileIndexOutOfRange past the count.
StatusCode DbFile_GetRecordExtent(EngineObject* db, std::uint16_t index, std::uint32_t* offset,
                                  std::uint32_t* size) noexcept;

// Record stream Close: writes the record back when it was written to, then
// frees the stream. The inner close's failure, else the write-back's result.
StatusCode DbFile_RecordClose(EngineObject* stream) noexcept;
