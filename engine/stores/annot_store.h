// The annotation store: the user's annotations on one document, kept in an
// annotation file ("*.kpa"). Called directly (no table of operations) by the
// text view's annotation binding, the handlers' annotation marks and the
// annotation dialogs.
//
// File layout. The file is a record database (db_file.h) of type "KelA" and
// creator "Kelp", named after the file (after the last '/' or '\', at most 27
// characters, characters 0 and above 255 written as '_'). Every number is
// big-endian.
//  - The data records 0..k-1 form one byte stream of length L: stream offset
//    x lies in record x / 16384 at x % 16384; every data record but the last
//    holds exactly 16384 bytes; k = ceil(L / 16384).
//  - Record k, the last record, starts with the 32-byte header
//      u8 header length (>= 32; the entry table starts there), u8 0,
//      u16 entry count, u32 L, u32 first free block, u32 last free block
//      (0xFFFFFFFF: none), 16 zero bytes
//    followed by the entries, 16 bytes each, sorted by start and never
//    overlapping:
//      u32 start position, u16 length in positions, u8 attribute 1,
//      u8 attribute 2 (highlight colour 1..16), u32 stream offset of the
//      entry's data block, u32 0.
//  - The stream is a heap of blocks. Each starts with a 16-byte header
//      u8 16, u8 kind (1 free, 2 used), u16 0, u32 size after the header,
//      u32 requested data size (used) or 0 (free), u32 0.
//    A free block continues with u8 16, u8 0, u16 0, u32 previous free block,
//    u32 next free block, u32 0; the free list runs in the order blocks were
//    freed. A used block continues with u8 16, u8 0, u16 0, u32 length of
//    text 1, u32 length of text 2, u32 0, then text 1 (the excerpt) and text 2
//    (the note), 8-bit, without terminators. The smallest block is 32 bytes.
//  A new file holds one record: the header with length 32, no entries, L = 0
//  and no free blocks.
//
// Writing. An open store reads the file through a read-only stream. Each
// change reopens the file for writing (kAnnotStoreNotWritable when it cannot,
// the store staying read-only), makes the whole change in the record
// database's working copy in memory and closes the database, which replaces
// the file in one step (FileSys_ReplaceFile; opening a store clears the copies
// killed writers left beside its file). A crash, a full disk or any failure
// during a change therefore leaves the file as it was before the change or as
// it is after it, never in between; a change that fails is dropped whole and
// the store's view of the file stays as it was. The file is then reopened
// read-only.
//
// Reading untrusted files. The header, the table and the record sizes are
// checked when the file is opened; every block, free-list link and text
// length is checked against the stream before use. A damaged file answers
// kAnnotStoreCorrupt (or the read-past-end code) and is never changed or
// replaced by opening it.
#pragma once

#include <cstdint>

#include "engine/runtime/status.h"

// Facility 0x731.
constexpr StatusCode kAnnotStoreCorrupt = MakeFailure(Facility::AnnotStore, 0x01);
constexpr StatusCode kAnnotStoreReadPastEnd = MakeFailure(Facility::AnnotStore, 0x02);
constexpr StatusCode kAnnotStoreWritePastEnd = MakeFailure(Facility::AnnotStore, 0x03);
constexpr StatusCode kAnnotStoreOverlappingMove = MakeFailure(Facility::AnnotStore, 0x04);
// Entry index beyond the table, or no entry covers the position.
constexpr StatusCode kAnnotStoreNoEntry = MakeFailure(Facility::AnnotStore, 0x05);
// The file could not be reopened for writing; the store stays read-only.
constexpr StatusCode kAnnotStoreNotWritable = MakeFailure(Facility::AnnotStore, 0x06);
// The change would take the table past 65,535 entries.
constexpr StatusCode kAnnotStoreFull = MakeFailure(Facility::AnnotStore, 0x07);
// The file could not be opened (for a read-only open: it does not exist or
// cannot be read).
constexpr StatusCode kAnnotStoreCannotOpen = MakeFailure(Facility::AnnotStore, 0x08);
// The record database could not be opened or created.
constexpr StatusCode kAnnotStoreNoDatabase = MakeFailure(Facility::AnnotStore, 0x09);
// The file is not of type "KelA" and creator "Kelp".
constexpr StatusCode kAnnotStoreWrongType = MakeFailure(Facility::AnnotStore, 0x0A);

// Open modes.
constexpr std::uint32_t kAnnotOpenRead = 0;
constexpr std::uint32_t kAnnotOpenWrite = 1;
constexpr std::uint32_t kAnnotOpenCreate = 2;

// Text sizes of AnnotEntry.
constexpr std::uint32_t kAnnotTextAll = 0xFFFFFFFF;

constexpr std::uint32_t kAnnotRecordSize = 16384;

// An open annotation file (opaque; owned by the store, released by Close).
struct AnnotStore;

// The caller's annotation record.
//
// Reading (GetEntry): on input each text size is the most bytes wanted
// (0: not wanted, kAnnotTextAll: all); on output the bytes returned. With a
// text pointer given, the text goes into that buffer, which must hold size + 1
// bytes (the text and a terminating NUL; kAnnotTextAll with a buffer is
// kBadArgument); with a null pointer the store allocates length + 1 bytes
// from the engine allocator, which the caller frees (Engine_Free). A text not
// wanted comes back as a null pointer and size 0.
//
// Writing (AddEntry, UpdateEntry): each pointer and size give a text; a null
// pointer needs size 0.
struct AnnotEntry {
  std::uint16_t index;
  std::uint32_t start;
  std::uint16_t length;
  std::uint8_t attribute1;  // stored and returned
  std::uint8_t attribute2;  // highlight colour 1..16
  char* text1;              // the excerpt
  std::uint32_t text1Size;
  char* text2;  // the note
  std::uint32_t text2Size;
};

// Opens the annotation file at path (UTF-16, pathLength units, 0: up to its
// NUL) and reads its header and entry table.
//  - mode 0: read-only. A file that is missing or cannot be read:
//    kAnnotStoreCannotOpen.
//  - mode 1: for writing. When the file does not exist it is created as by
//    Create. An existing file is never replaced: one that cannot be opened
//    for writing is opened read-only (later changes answer
//    kAnnotStoreNotWritable), and one that cannot be read or is not a sound
//    annotation file answers its failure and stays untouched.
//  - mode 2: creates the file; an existing file is replaced (in one step:
//    when creating fails, the old file stays).
// Other modes and an empty path: kFailed. Failures: kAnnotStoreCannotOpen,
// kAnnotStoreNoDatabase, kAnnotStoreWrongType, kAnnotStoreCorrupt,
// kOutOfMemory, kNullOutPointer.
StatusCode AnnotStore_Open(const char16_t* path, std::uint32_t pathLength, std::uint32_t mode,
                           AnnotStore** out) noexcept;
// Mode 2 of Open: a new empty file (a file created by a failed call is
// deleted again). The store stays writable.
StatusCode AnnotStore_Create(const char16_t* path, std::uint32_t pathLength,
                             AnnotStore** out) noexcept;
// Writes a changed header, closes the database and the file and frees the
// store (null is accepted). The first failure, the store being freed anyway.
StatusCode AnnotStore_Close(AnnotStore* store) noexcept;

// For drawing: the attribute bytes of the entry covering position into
// attributes[0] and [1] (0, 0 when none). With an entry covering it,
// *rangeEnd is lowered to that entry's end; otherwise, when an entry starts
// after position and before *rangeEnd, *rangeEnd is lowered to its start.
// The caller thus draws runs that end on annotation boundaries.
StatusCode AnnotStore_GetAttributesAt(AnnotStore* store, std::uint32_t position,
                                      std::uint32_t* rangeEnd, std::uint8_t* attributes) noexcept;
// Fills *entry (index, start, length, attributes and the texts, as described
// at AnnotEntry) for the entry at index, or with index -1 for the entry
// covering position. No such entry: kAnnotStoreNoEntry. A damaged block:
// kAnnotStoreCorrupt. On failure the texts allocated by the call are freed
// and *entry is unchanged.
StatusCode AnnotStore_GetEntry(AnnotStore* store, std::int32_t index, std::uint32_t position,
                               AnnotEntry* entry) noexcept;
// Replaces the two texts and the attribute bytes of entry index; its start
// and length stay.
StatusCode AnnotStore_UpdateEntry(AnnotStore* store, std::int32_t index,
                                  const AnnotEntry* entry) noexcept;
// Deletes entry index, or every entry for -1 (nothing to do on an empty
// store). Freed blocks stay in the stream; the file never shrinks.
StatusCode AnnotStore_DeleteEntries(AnnotStore* store, std::int32_t index) noexcept;
// Reads byte 0 of the file; when that fails, writes a changed header and
// reopens the file read-only.
StatusCode AnnotStore_Revalidate(AnnotStore* store) noexcept;
StatusCode AnnotStore_GetCount(AnnotStore* store, std::uint16_t* count) noexcept;
// Adds an annotation over entry->start .. start + length - 1 (length at
// least 1, the end within 32 bits: else kBadArgument). Older annotations in
// that range give way: those inside it are deleted, those reaching into it
// are shortened, and one spanning it is split in two, both parts keeping its
// texts and attributes. All of it is one change: when any part fails,
// nothing is changed. More than 65,535 entries: kAnnotStoreFull.
StatusCode AnnotStore_AddEntry(AnnotStore* store, const AnnotEntry* entry) noexcept;
