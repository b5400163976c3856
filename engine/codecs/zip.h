// The ZIP module as an engine class, g_ZipModule: opens a ZIP archive in a
// stream (end-of-central-directory record, central directory, local
// headers), walks and extracts its entries (stored or deflated), creates
// empty archives and appends entries. All data is reached by position
// through StreamOps. Zip64 archives and archives split over disks are
// refused. Dates are the MS-DOS local date and time of the records.
//
// An instance owns one DEFLATE encoder and one inflate decoder; it is
// released by the gzip module's destroy, which the table shares.
#pragma once

#include <cstdint>

#include "engine/codecs/gzip.h"
#include "engine/runtime/core.h"
#include "engine/runtime/date.h"

// Facility 0x203. An unknown compression method answers kMalformed.
constexpr StatusCode kZipNoEndRecord = MakeFailure(Facility::Zip, 0x01);
constexpr StatusCode kZipBadSignature = MakeFailure(Facility::Zip, 0x02);
constexpr StatusCode kZipEncrypted = MakeFailure(Facility::Zip, 0x03);
constexpr StatusCode kZipUnsupported = MakeFailure(Facility::Zip, 0x04);  // Zip64, split archive
constexpr StatusCode kZipCrcMismatch = MakeFailure(Facility::Zip, 0x05);
constexpr StatusCode kZipSizeMismatch = MakeFailure(Facility::Zip, 0x06);  // size or record bounds
constexpr StatusCode kZipBadName = MakeFailure(Facility::Zip, 0x07);       // see ZipMod_IsSafeName

constexpr std::uint32_t kZipMethodStored = 0;
constexpr std::uint32_t kZipMethodDeflated = 8;

struct ZipBody {
  ArchiveCodecs codecs;
  EngineObject* stream;
  bool open;
  std::uint32_t endOffset;     // offset of the end-of-central-directory record
  std::uint8_t endRecord[18];  // its bytes after the signature
  // The current central-directory entry.
  bool haveEntry;
  std::uint32_t entryIndex;
  std::uint32_t entryOffset;
  std::uint8_t entry[42];  // its bytes after the signature
};

struct ZipOps {
  CoreEndWord word0;
  // 1: creates an instance with its encoder and decoder; kOutOfMemory.
  StatusCode (*create)(EngineObject* module, EngineObject** out) noexcept;
  // 2: GzipMod_Destroy.
  StatusCode (*destroy)(EngineObject* instance) noexcept;
  // 3: finds the end record (the last signature 50 4B 05 06 within the
  // 65557 bytes at the stream's end whose record and comment fit) and checks
  // that the central directory lies before it. kZipNoEndRecord,
  // kZipUnsupported, kZipSizeMismatch. On failure the instance is unchanged.
  StatusCode (*open)(EngineObject* instance, EngineObject* stream) noexcept;
  // 4: writes an empty archive (a zeroed end record) at position, makes it
  // the stream's end and opens it.
  StatusCode (*createArchive)(EngineObject* instance, EngineObject* stream,
                              std::uint32_t position) noexcept;
  // 5: the end record's fields; every out optional. kBadArgument when not open.
  StatusCode (*getArchiveInfo)(EngineObject* instance, std::uint32_t* thisDisk,
                               std::uint32_t* directoryDisk, std::uint32_t* entriesHere,
                               std::uint32_t* entriesAll, std::uint32_t* commentLength,
                               std::uint32_t* commentOffset) noexcept;
  // 6, 7: the first and the next central-directory entry; 5 when there is
  // none. kZipBadSignature, kZipSizeMismatch for an entry that leaves the
  // directory, kZipUnsupported for Zip64 fields.
  StatusCode (*firstEntry)(EngineObject* instance) noexcept;
  StatusCode (*nextEntry)(EngineObject* instance) noexcept;
  // 8: the current entry's date and time, CRC-32, sizes and name (its length
  // and stream offset); every out optional. kBadArgument without an entry.
  StatusCode (*getEntryInfo)(EngineObject* instance, DateTime* date, std::uint32_t* crc32,
                             std::uint32_t* compressedSize, std::uint32_t* size,
                             std::uint32_t* nameLength, std::uint32_t* nameOffset) noexcept;
  // 9: versions made by and needed, the entry comment's length and offset,
  // the local header's offset; every out optional.
  StatusCode (*getEntryExtra)(EngineObject* instance, std::uint32_t* versionMadeBy,
                              std::uint32_t* versionNeeded, std::uint32_t* commentLength,
                              std::uint32_t* commentOffset,
                              std::uint32_t* localHeaderOffset) noexcept;
  // 10: writes the current entry's data into sink from sinkPosition on:
  // stored data copied in pieces of at most 4096 bytes, deflated data
  // inflated from the directory's compressed size (never more than that size
  // reaches the sink; the observer hears of progress as the gzip module's
  // GetEntryInfo says); then checks the CRC-32 and size against the directory
  // (kZipCrcMismatch, kZipSizeMismatch). kZipBadSignature for a local header
  // without 50 4B 03 04, kZipEncrypted, kMalformed for another method,
  // kGzipTooLarge when the data would pass stream position 0xFFFFFFFF. The
  // bytes written stay on failure. Every kind of entry is extracted as its
  // stored bytes: a symbolic link gives its target's path as data, so a
  // caller that makes files asks ZipMod_GetEntryKind first.
  StatusCode (*extractEntry)(EngineObject* instance, EngineObject* sink, std::uint32_t sinkPosition,
                             EngineObject* observer, std::uint32_t* crc32,
                             std::uint32_t* size) noexcept;
  // 11: appends source[position .. position + length) as an entry named by
  // name (UTF-8 or ASCII, checked by ZipMod_IsSafeName: else kZipBadName),
  // stored (method 0) or deflated (8; else kBadArgument), dated `date`
  // (null: 1980-01-01). The directory and the archive comment are read into
  // memory, the entry is written where the directory began, then the
  // directory with the new entry and a new end record; a failure while
  // writing puts the old directory back (when that fails as well, the
  // failure is still the first one and the instance is no longer open).
  // kZipUnsupported when the archive would need Zip64 (65535 entries or
  // 4 GiB); the entry becomes current.
  StatusCode (*addEntry)(EngineObject* instance, EngineObject* source, std::uint32_t position,
                         std::uint32_t length, const void* name, std::uint32_t nameLength,
                         const DateTime* date, std::uint32_t method) noexcept;
  CoreEndWord end;
};

extern EngineObject ZipModule;

StatusCode ZipMod_Create(EngineObject* module, EngineObject** out) noexcept;
StatusCode ZipMod_Open(EngineObject* instance, EngineObject* stream) noexcept;
StatusCode ZipMod_CreateArchive(EngineObject* instance, EngineObject* stream,
                                std::uint32_t position) noexcept;
StatusCode ZipMod_GetArchiveInfo(EngineObject* instance, std::uint32_t* thisDisk,
                                 std::uint32_t* directoryDisk, std::uint32_t* entriesHere,
                                 std::uint32_t* entriesAll, std::uint32_t* commentLength,
                                 std::uint32_t* commentOffset) noexcept;
StatusCode ZipMod_FirstEntry(EngineObject* instance) noexcept;
StatusCode ZipMod_NextEntry(EngineObject* instance) noexcept;
StatusCode ZipMod_GetEntryInfo(EngineObject* instance, DateTime* date, std::uint32_t* crc32,
                               std::uint32_t* compressedSize, std::uint32_t* size,
                               std::uint32_t* nameLength, std::uint32_t* nameOffset) noexcept;
StatusCode ZipMod_GetEntryExtra(EngineObject* instance, std::uint32_t* versionMadeBy,
                                std::uint32_t* versionNeeded, std::uint32_t* commentLength,
                                std::uint32_t* commentOffset,
                                std::uint32_t* localHeaderOffset) noexcept;
StatusCode ZipMod_ExtractEntry(EngineObject* instance, EngineObject* sink,
                               std::uint32_t sinkPosition, EngineObject* observer,
                               std::uint32_t* crc32, std::uint32_t* size) noexcept;
StatusCode ZipMod_AddEntry(EngineObject* instance, EngineObject* source, std::uint32_t position,
                           std::uint32_t length, const void* name, std::uint32_t nameLength,
                           const DateTime* date, std::uint32_t method) noexcept;

// What an entry stands for, from the Unix file type its maker stored in the
// external attributes (made on Unix: the high byte of "version made by" is
// 3, and the attributes' high 16 bits hold the mode), else from the MS-DOS
// folder bit and a name ending in '/'.
enum class ZipEntryKind : std::uint32_t {
  kFile = 0,
  kFolder = 1,
  kSymbolicLink = 2,  // its data is the path the link points to
  kSpecial = 3,       // a device, pipe or socket: nothing to extract as a file
};

// The current entry's kind; kBadArgument without a current entry or with a
// null out pointer.
StatusCode ZipMod_GetEntryKind(EngineObject* instance, ZipEntryKind* kind) noexcept;

// Whether an entry name is a relative path that stays inside the folder it
// is extracted to: not empty, no leading '/', no '\\', no drive letter
// ("x:"), no NUL, and no "." or ".." component. A folder entry may end with
// '/'. Callers that turn entry names into file paths check names read from
// archives with it; AddEntry refuses names that fail it.
bool ZipMod_IsSafeName(const void* name, std::uint32_t length) noexcept;
