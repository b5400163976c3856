// Record databases worked on through a temporary copy: the same DbFileOps
// interface as db_file.h, but at open every record is copied into a stream of
// its own in a temporary block container (a temporary file, deleted at
// close), so inserts, deletes and moves never shift the database's bytes. At
// close, modes 1 and 2 write the whole database back in compact form:
//
//   78-byte header (count = records, modification date = 1), the entries
//   {data offset, attributes 0, unique id = index}, then the bytes that stood
//   between the entry table and the first record at open (two zero bytes when
//   there were none, as in a new database), then the records in order.
//
// An application-info or sort-info block found in those bytes is kept and
// its header offset moved with it; an offset that points anywhere else is
// cleared rather than left pointing at other data. A stream on a named file
// (a file stream) is committed by writing the database into a temporary file
// and replacing the file with it in one step (FileSys_ReplaceFileFromStream),
// so a crash or a full disk leaves the old or the new database at the path;
// other streams are grown to the new size before they are written and cut
// only afterwards, never emptied first. Mode 0 never writes the stream. The
// database does not own its stream.
#pragma once

#include <cstdint>

#include "engine/runtime/db_file.h"

extern EngineObject DbCopyModule;

StatusCode DbCopy_Open(EngineObject* module, EngineObject* stream, std::uint32_t mode,
                       EngineObject** out) noexcept;
StatusCode DbCopy_Close(EngineObject* db) noexcept;
StatusCode DbCopy_GetInfo(EngineObject* db, char* name, std::uint8_t* type, std::uint8_t* creator,
                          std::uint16_t* attributes, std::uint16_t* version,
                          std::uint16_t* count) noexcept;
StatusCode DbCopy_SetInfo(EngineObject* db, const char* name, const std::uint8_t* type,
                          const std::uint8_t* creator, const std::uint16_t* attributes,
                          const std::uint16_t* version) noexcept;
// The record's bytes in an engine buffer (null for an empty record).
StatusCode DbCopy_ReadRecord(EngineObject* db, std::uint16_t index, std::uint32_t* size,
                             void** buffer) noexcept;
StatusCode DbCopy_FreeRecordBuffer(EngineObject* db, void* buffer) noexcept;
// The record's own container stream; its changes are written back at close.
// A record open already answers kBlockFileStreamBusy.
StatusCode DbCopy_OpenRecord(EngineObject* db, std::uint16_t index, std::uint32_t* size,
                             EngineObject** stream) noexcept;
StatusCode DbCopy_InsertRecord(EngineObject* db, std::uint16_t* index, std::uint32_t size,
                               const void* data) noexcept;
StatusCode DbCopy_DeleteRecord(EngineObject* db, std::uint16_t index) noexcept;
StatusCode DbCopy_MoveRecord(EngineObject* db, std::uint16_t from, std::uint16_t to) noexcept;
