// The file-system service: the engine's only door to files and folders. It
// opens files as file streams (StreamOps), makes temporary files, deletes,
// moves and copies files, creates folder chains, reads a file's time and size
// and lists folders. Called on the module object (g_FileSysModule).
//
// Paths are NUL-terminated UTF-16 of at most kPathMax (259) code units, with
// '\' or '/' between folders; they reach the system as UTF-8 with '/' (see
// path.h). System errors map to this facility's codes as FileSys_MapError
// says.
//
// Temporary files live in a private folder of the user, "kelpo-<uid>" under
// $TMPDIR (else /tmp), created with mode 0700 and refused when someone else
// owns it. Their names are "iii<tag>-XXXXXX.tmp", where <tag> names the
// running instance that made them; the instance holds a lock on
// "instance-<tag>.lock" beside them for as long as it runs, so that cleaning
// up leftovers never touches the files of an instance that is still running.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"
#include "engine/runtime/date.h"
#include "engine/runtime/path.h"
#include "engine/runtime/stream.h"

// Facility 0x008.
constexpr StatusCode kFileSysPathTooLong = MakeFailure(Facility::FileSys, 0x01);
constexpr StatusCode kFileSysNameBufferTooShort = MakeFailure(Facility::FileSys, 0x02);
constexpr StatusCode kFileSysNoTempFolder = MakeFailure(Facility::FileSys, 0x03);
constexpr StatusCode kFileSysNoTempName = MakeFailure(Facility::FileSys, 0x04);
constexpr StatusCode kFileSysNoFileTime = MakeFailure(Facility::FileSys, 0x05);
constexpr StatusCode kFileSysNoFileSize = MakeFailure(Facility::FileSys, 0x06);
constexpr StatusCode kFileSysTargetExists = MakeFailure(Facility::FileSys, 0x08);
constexpr StatusCode kFileSysNotAFolder = MakeFailure(Facility::FileSys, 0x09);
constexpr StatusCode kFileSysCannotCreateFolder = MakeFailure(Facility::FileSys, 0x0A);
constexpr StatusCode kFileSysCannotExamine = MakeFailure(Facility::FileSys, 0x0B);
constexpr StatusCode kFileSysNotFound = MakeFailure(Facility::FileSys, 0x0C);
constexpr StatusCode kFileSysAccessDenied = MakeFailure(Facility::FileSys, 0x0D);
constexpr StatusCode kFileSysListPathTooLong = MakeFailure(Facility::FileSys, 0x0E);
constexpr StatusCode kFileSysNoMoreFiles = MakeFailure(Facility::FileSys, 0x0F);
constexpr StatusCode kFileSysNoPath = MakeFailure(Facility::FileSys, 0x10);

// FileSys_Open types.
enum FileOpenType : std::uint32_t {
  kFileOpenRead = 0,       // read, existing file
  kFileOpenReadWrite = 1,  // read and write, existing file
  kFileOpenCreate = 2,     // read and write, created or truncated
  kFileOpenTemporary = 3,  // read and write, a new temporary file
};

// FileEntry flags.
constexpr std::uint32_t kFileEntryFolder = 0x1;
constexpr std::uint32_t kFileEntryHidden = 0x2;    // the name starts with '.'
constexpr std::uint32_t kFileEntryReadOnly = 0x4;  // the owner may not write

// FileSys_ListPath options.
constexpr std::uint32_t kListSkipDotNames = 0x1;

// FileStream_GetProperty ids.
constexpr std::uint32_t kFilePropertyHandle = kStreamPropertyHandle;  // value: int, the descriptor
constexpr std::uint32_t kFilePropertyPath = kStreamPropertyPath;      // value: char16_t[], the path

// One listed file or folder; one engine allocation each, the name stored
// behind the fields. Released with FileSys_FreeEntries.
struct FileEntry {
  char16_t* name;
  std::uint32_t flags;
  DateTime lastWrite;  // UTC; all zero when it cannot be represented
  std::uint32_t size;  // 0xFFFFFFFF for 4 GB and more; 0 for folders
  FileEntry* firstChild;
  FileEntry* next;
};

struct FileSysOps {
  CoreEndWord word0;
  // 1: opens the file for reading (failure kCannotOpen; anything but a
  // regular file too, without waiting on a FIFO) and
  // reads its last-write time (UTC; kFileSysNoFileTime when it cannot be
  // represented) and size (0xFFFFFFFF from 4 GB on). *cleared is set to 0
  // when flag is non-zero. Every out may be null.
  StatusCode (*getFileInfo)(EngineObject* module, const char16_t* path, DateTime* lastWrite,
                            std::uint8_t* cleared, std::uint32_t flag,
                            std::uint32_t* size) noexcept;
  // 2: opens path as a file stream. Types 0-2 read path (over kPathMax
  // units: kFileSysPathTooLong) and ignore bufferLength. Type 3 makes a new
  // temporary file: with path null the stream deletes it on close; otherwise
  // path is a buffer of bufferLength units (below kPathMax:
  // kFileSysNameBufferTooShort) that receives the file's name, and the file
  // stays after close. Temporary folder unusable: kFileSysNoTempFolder; no
  // name: kFileSysNoTempName. Other types: kBadArgument. A failed system
  // open, or anything but a regular file (a folder, a FIFO, a device; never
  // waited on): kFailed; no memory: kOutOfMemory.
  StatusCode (*open)(EngineObject* module, char16_t* path, std::uint32_t bufferLength,
                     std::uint32_t type, EngineObject** stream) noexcept;
  // 3: deletes a file (never a folder). Missing: kFileSysNotFound; any other
  // failure: kFailed.
  StatusCode (*remove)(EngineObject* module, const char16_t* path) noexcept;
  // 4: folder and name joined by Url_JoinFolderAndName into at most kPathMax
  // units (else kUrlTooLong), then Open with type 0-2 (above: kBadArgument).
  StatusCode (*openInFolder)(EngineObject* module, const char16_t* folder, const char16_t* name,
                             std::uint32_t type, EngineObject** stream) noexcept;
  // 5: joined as slot 4, then Delete.
  StatusCode (*deleteInFolder)(EngineObject* module, const char16_t* folder,
                               const char16_t* name) noexcept;
  // 6: moves or renames in one atomic step. A target that exists:
  // kFileSysTargetExists when replace is 0, else replaced. A missing target
  // folder is created (its failure returned) and the move tried once more.
  // Across file systems a file is copied and its source deleted. Anything
  // else, a missing source included: kFailed.
  StatusCode (*move)(EngineObject* module, const char16_t* from, const char16_t* to,
                     std::uint32_t replace) noexcept;
  // 7: creates every missing folder of path. Over kPathMax: kFileSysPathTooLong;
  // empty: 0. An existing component that is not a folder: kFileSysNotAFolder;
  // one that cannot be examined: kFileSysCannotExamine; a folder that cannot
  // be made: kFileSysCannotCreateFolder. "/" and a drive root ("X:\") are
  // never cut off.
  StatusCode (*createFolderPath)(EngineObject* module, const char16_t* path) noexcept;
  // 8: copies a file's bytes, permissions and last-write time. The target
  // appears whole or not at all (written beside it, then renamed). Existing
  // target with replace 0: kFileSysTargetExists, both files unchanged. A
  // missing target folder is created once. Permission refused:
  // kFileSysAccessDenied; anything else kFailed.
  StatusCode (*copy)(EngineObject* module, const char16_t* from, const char16_t* to,
                     std::uint32_t replace) noexcept;
  // 9: deletes the leftover temporary files of instances that no longer run.
  // Unusable temporary folder: kFileSysNoTempFolder; other failures are
  // ignored. 0.
  StatusCode (*deleteTempFiles)(EngineObject* module) noexcept;
  // 10: the entry of path (one trailing separator dropped) with, when it is a
  // folder and depth > 0, its entries as children in the order the system
  // gives them ("." and ".." never; names starting with '.' not with
  // kListSkipDotNames), their folders listed likewise down to depth levels
  // (only those whose full path stays under kPathBufferSize units). Over
  // kPathMax: kFileSysPathTooLong; empty or only a separator:
  // kFileSysNotFound; no room for a child path: kFileSysListPathTooLong;
  // system errors by FileSys_MapError. Release with FreeEntries.
  StatusCode (*listPath)(EngineObject* module, const char16_t* path, std::uint32_t options,
                         std::uint32_t depth, FileEntry** entry) noexcept;
  // 11: frees a list of entries, each entry's children first. 0.
  StatusCode (*freeEntries)(EngineObject* module, FileEntry* first) noexcept;
  CoreEndWord end;
};

extern EngineObject FileSysModule;

StatusCode FileSys_GetFileInfo(EngineObject* module, const char16_t* path, DateTime* lastWrite,
                               std::uint8_t* cleared, std::uint32_t flag,
                               std::uint32_t* size) noexcept;
StatusCode FileSys_Open(EngineObject* module, char16_t* path, std::uint32_t bufferLength,
                        std::uint32_t type, EngineObject** stream) noexcept;
StatusCode FileSys_Delete(EngineObject* module, const char16_t* path) noexcept;
StatusCode FileSys_OpenInFolder(EngineObject* module, const char16_t* folder, const char16_t* name,
                                std::uint32_t type, EngineObject** stream) noexcept;
StatusCode FileSys_DeleteInFolder(EngineObject* module, const char16_t* folder,
                                  const char16_t* name) noexcept;
StatusCode FileSys_Move(EngineObject* module, const char16_t* from, const char16_t* to,
                        std::uint32_t replace) noexcept;
StatusCode FileSys_CreateFolderPath(EngineObject* module, const char16_t* path) noexcept;
StatusCode FileSys_Copy(EngineObject* module, const char16_t* from, const char16_t* to,
                        std::uint32_t replace) noexcept;
StatusCode FileSys_DeleteTempFiles(EngineObject* module) noexcept;
StatusCode FileSys_ListPath(EngineObject* module, const char16_t* path, std::uint32_t options,
                            std::uint32_t depth, FileEntry** entry) noexcept;
StatusCode FileSys_FreeEntries(EngineObject* module, FileEntry* first) noexcept;

// Replacing a file in one step. The new content goes into an unnamed file in
// the target's folder (O_TMPFILE), is flushed, and gets a name only to be
// renamed over the target at once; the folder is flushed after. A link at
// path is followed and the file it names replaced; an existing target keeps
// its permissions, a new one gets the default ones. Whatever happens, crash
// included, path names the old file or the new one, whole.
// Where the file system refuses unnamed files the copy is named from the
// start ("<folder>/.kelpo-new-<tag>-<12 letters>", <tag> naming the writer's
// instance as temporary files do). Every such temporary name is held under an
// exclusive lock (flock) by its writer for as long as it exists, so the
// leftovers of writers that died are told apart from copies being written;
// FileSys_SweepLeftovers removes them, and every replacement sweeps its
// folder once it is done.
// FileSys_Copy and a FileSys_Move across file systems go the same way.
// Failures: path over kPathMax: kFileSysPathTooLong; data null with a size:
// kBadArgument; system errors by FileSys_MapError (a folder at path, a full
// disk: kFailed). The old file is untouched on any failure.
StatusCode FileSys_ReplaceFile(EngineObject* module, const char16_t* path, const void* data,
                               std::uint32_t size) noexcept;
// FileSys_ReplaceFile with the whole of a stream (position 0 to its size) as
// the new content, read in pieces, so a large file is never held in memory.
// The stream's own read failures are passed on; the old file is untouched.
StatusCode FileSys_ReplaceFileFromStream(EngineObject* module, const char16_t* path,
                                         EngineObject* source) noexcept;
// The path of a file stream in *out (an engine allocation the caller frees);
// *out stays null, with kOk, for a stream without one (memory streams,
// temporary files whose name was not asked for).
StatusCode FileSys_StreamPath(EngineObject* stream, char16_t** out) noexcept;
// Removes from folder the temporary copies of replacements whose writers
// ended without finishing: only regular files of this user named exactly as
// above, that no one holds locked and whose instance has ended. Every other
// file stays, whatever its name. Missing folder: kFileSysNotFound; other
// system errors by FileSys_MapError.
StatusCode FileSys_SweepLeftovers(EngineObject* module, const char16_t* folder) noexcept;
// For tests: the nth step (1-based, counted across calls: create, write,
// flush, name, rename) of the coming replacements fails once, the write
// after half of the bytes; 0 clears it.
void FileSys_FailReplaceStep(std::uint32_t nth) noexcept;
// For tests: make every copy named from the start, as on file systems
// without unnamed files.
void FileSys_ReplaceNamedOnly(bool on) noexcept;
// For tests: once this many more bytes have been written to files (file
// streams, replacements, zero fill), every further write fails as on a full
// disk (ENOSPC), a write that crosses the mark after its allowed part.
// kFileSysWritesUnlimited (the start) turns it off.
constexpr std::uint64_t kFileSysWritesUnlimited = ~std::uint64_t{0};
void FileSys_FailWritesAfter(std::uint64_t bytes) noexcept;

// errno to status: 0 → 0; ENOENT, ENOTDIR → kFileSysNotFound; EACCES, EPERM,
// EROFS → kFileSysAccessDenied; ENOMEM → kOutOfMemory; anything else kFailed.
StatusCode FileSys_MapError(int error) noexcept;

// The file stream's own slots (the rest are the shared Stream_ slots; 17 and
// 18 do nothing).
// 1: closes the file (a failing close: kFailed, after everything is
// released); a temporary stream then deletes its file (kFailed when it
// cannot).
StatusCode FileStream_Close(EngineObject* s) noexcept;
// 2: origin 0 takes the offset as an unsigned position (files up to 4 GB);
// a position outside 0..0xFFFFFFFF: kFailed.
StatusCode FileStream_Seek(EngineObject* s, std::int32_t offset, std::uint32_t origin,
                           std::uint32_t* position) noexcept;
// 3, 4: a short transfer without a count pointer: kStreamShortRead /
// kStreamShortWrite; a system failure: kFailed.
StatusCode FileStream_Read(EngineObject* s, void* buffer, std::uint32_t n,
                           std::uint32_t* count) noexcept;
StatusCode FileStream_Write(EngineObject* s, const void* buffer, std::uint32_t n,
                            std::uint32_t* count) noexcept;
// 15: a file of 4 GB or more: kFailed.
StatusCode FileStream_GetSize(EngineObject* s, std::uint32_t* size) noexcept;
// 16: a longer size is padded with zero bytes whose room on the disk is
// taken at once (a full disk fails here, the size unchanged); the position is
// left at the new size (unlike memory streams).
StatusCode FileStream_SetSize(EngineObject* s, std::uint32_t size) noexcept;
// 21: kFilePropertyHandle writes the descriptor to value (an int; null
// value: kFailed; capacity, in bytes, below sizeof(int):
// kStreamPropertyTooSmall). kFilePropertyPath: no path kFileSysNoPath, empty path
// kStreamPropertyEmpty; *length = units + 1 (terminator); a value buffer of
// fewer units (capacity counts units): kStreamPropertyTooSmall; else the
// path is copied with its terminator. Other ids: kNotSupported.
StatusCode FileStream_GetProperty(EngineObject* s, std::uint32_t property, std::uint32_t capacity,
                                  std::uint32_t* length, void* value) noexcept;
