// Run lists and item indexes of native documents.
//
// Everything attached to text positions is stored as run lists: sorted,
// contiguous runs spread over run records (type 2), each record covering
// [start, end) of its own. A run record (offsets from D = record start + H,
// numbers big-endian):
//   D+0  u8  S: sub-header length; the deltas start at D + S (S >= 16)
//   D+1  u8  not read
//   D+2  u8  codes: bits 0-1 delta code, bits 2-3 value code, bits 4-5
//            secondary value code (kept)
//   D+3  u8  value columns beyond the first (kept)
//   D+4  u16 offset from the record start of the values
//   D+6  u16 R: runs in the record (>= 1)
//   D+8  u32 start of the first run
//   D+12 u32 end (exclusive) of the last run
// Run i < R - 1 ends at its start + delta i + 1; the last run ends at the
// end field. Number codes (deltas and values alike): 0 u8; 1 u8 whose top
// bit takes bits 7-14 from the next byte of an extension array that follows
// the R - 1 deltas (R values); 2 u16; 3 u16 whose top bit takes bits 15-30
// from the next u16 of the extension array.
// Link lists hold R 6-byte items (u16 length, u32 target) at the values
// offset; the paragraph-attribute list R 4-byte table-10 fixed parts, then
// the 2-byte optional parts of the runs whose flag byte has 0x10, in run
// order.
//
// A record is checked whole when a cursor fetches it: every delta, value,
// item and extension entry inside the record, runs strictly increasing and
// ending at the record's end, at most maxRuns runs. A record that fails
// answers kDocMalformed and is not held.
//
// Two-level item indexes (ranges 11-13, used when the range has more than
// one record): the first record (type 7) holds at H a u8 sub-header length
// S and at H + S one u16 per item record plus one: entry k is the first
// item of item record k (the range's record k + 1), entry k + 1 its end.
// An item record (type 8) holds at H a u8 S, at H + S the m + 1 u16 offsets
// of its m items, then the item bytes; item j spans [offset j, offset j+1)
// from the end of the offset table.
#pragma once

#include <cstdint>

#include "engine/formats/native_doc.h"

constexpr std::uint32_t kNativeSectionsPerRecord = 1024;
constexpr std::uint32_t kNativeRunRecordHeader = 16;  // smallest sub-header

// Sets up a cursor over records [first, first + count) of type 2; holds
// nothing yet.
void NativeRun_Init(NativeRunCursor* cursor, std::uint16_t first, std::uint16_t count,
                    std::uint8_t kind, std::uint16_t maxRuns) noexcept;
// Gives back the held record; the cursor keeps its list.
StatusCode NativeRun_Release(EngineObject* db, NativeRunCursor* cursor) noexcept;

// Moves the cursor to the run holding p. When no record covers p, the
// first record that starts after p is taken (its first run) provided it
// starts before `limit`. 0 on the run; kNotFound when no run qualifies (the
// cursor then holds nothing); kDocMalformed for a damaged record.
StatusCode NativeRun_SeekPosition(EngineObject* db, NativeRunCursor* cursor, std::uint32_t p,
                                  std::uint32_t limit) noexcept;
// Moves to run n of the list, counted as (record index · maxRuns + run
// index). kNoMore past the end.
StatusCode NativeRun_SeekRun(EngineObject* db, NativeRunCursor* cursor, std::uint32_t n) noexcept;
// Steps to the next or previous run, crossing records. kNoMore past the
// last run; kFailed before the first; the cursor stays where it was.
StatusCode NativeRun_Next(EngineObject* db, NativeRunCursor* cursor) noexcept;
StatusCode NativeRun_Previous(EngineObject* db, NativeRunCursor* cursor) noexcept;

// The current run's value (NativeRunKind::Value); 0 when no run is held.
std::uint32_t NativeRun_Value(const NativeRunCursor& cursor) noexcept;
// The current run's link item (NativeRunKind::Link).
void NativeRun_Link(const NativeRunCursor& cursor, std::uint16_t* length,
                    std::uint32_t* target) noexcept;
// The current run's table-10 item (NativeRunKind::ParaItem): 4 fixed bytes
// then the 2 optional bytes (zeros when absent).
void NativeRun_ParaItem(const NativeRunCursor& cursor, std::uint8_t out[6]) noexcept;
// The run number of the current run (record index · maxRuns + run index).
std::uint32_t NativeRun_Number(const NativeRunCursor& cursor) noexcept;

// Reads run-list descriptor record `index` (type 3): at H a u8 sub-header
// length S, two bytes not read, a u8 K, then at H + S K + 1 pairs of u16
// (first record, count). kDocMalformed when the pairs do not fit or name
// records outside the database.
StatusCode NativeStore_ReadDescriptor(NativeDocState* s, std::uint16_t index,
                                      NativeRunDescriptor* out) noexcept;

// Seeks value column `column` of run list 0 or 1 to p (limit as in
// NativeRun_SeekPosition): 0 with the run's value, start and end; kNotFound;
// kIndexOutOfRange for a column the list does not have.
StatusCode NativeStore_SeekColumn(NativeDocState* s, std::uint32_t list, std::uint32_t column,
                                  std::uint32_t p, std::uint32_t limit, std::uint32_t* value,
                                  std::uint32_t* start, std::uint32_t* end) noexcept;

// The run of a range-table run list (entry 1 and 4 to 6, or 2 and 3 for
// column 0 of run lists 0 and 1) holding p: its value, start and end.
// kNotFound when no run holds p.
StatusCode NativeStore_SeekRun(NativeDocState* s, std::uint32_t rangeEntry, std::uint32_t p,
                               std::uint32_t* value, std::uint32_t* start,
                               std::uint32_t* end) noexcept;

// Item n of item index 0 to 2: a pointer into the held item record (valid
// until the next lookup in that index) and its length. kDocMalformed for an
// item outside the index or a damaged record; kNotFound when the document
// has no such index.
StatusCode NativeStore_GetIndexedItem(NativeDocState* s, std::uint32_t index, std::uint32_t n,
                                      const std::uint8_t** item, std::uint32_t* length) noexcept;

// The section run holding position p (byNumber false) or section p
// (byNumber true): its section number, start and end. kNoMore at or past
// the text length or the header's section count; kNotFound when no run
// holds it.
StatusCode NativeStore_LocateSection(NativeDocState* s, bool byNumber, std::uint32_t p,
                                     std::uint32_t* section, std::uint32_t* start,
                                     std::uint32_t* end) noexcept;

// Loads run lists, descriptors and item indexes of an opened document (open
// step 7 after the table directory). kDocMalformed for a damaged record.
StatusCode NativeStore_LoadRunLists(NativeDocState* s) noexcept;
// Gives back every record the run lists and item indexes hold.
StatusCode NativeStore_ReleaseRunLists(NativeDocState* s) noexcept;
