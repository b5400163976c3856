// The Palm Doc handler: documents that are record databases of type "TEXt".
//
// Record 0 (big-endian; read only when it holds at least 12 bytes): byte 1
// the compression (1 stored, 2 PalmDoc LZ77, palm_lz77.h; anything else
// counts as 1), u16 at 8 the number of text records N (cut to the records
// present after record 0), u16 at 10 the text record size (4096 by default).
// Records 1..N hold the text, each decoding to at most 4096 bytes (longer
// output is cut). Every record after the text is a bookmark: a 16-byte name
// (NUL-terminated, byte 15 always 0) and the u32 text position at 16; at least
// 20 bytes, bytes from 20 on are never read or written.
//
// Opening reads record 0 only. Each background step then measures one text
// record (no output written), adding up the text length and sampling record
// starts into a 128-entry table; text access before the last step sees the
// records measured so far. While every measured record decodes to exactly the
// record size, a position's record is found by division; otherwise through
// the table and a forward walk of at most ceil(N / 128) records; a walk starts
// instead right after a record held in a decode buffer when that is nearer,
// or walks back from a held record that starts after the position (at most as
// far), so reading on through the text in either direction decodes each
// record once. Text is served from two 4096-byte decode buffers (GetText,
// GetTextBefore), the one used last being kept on a refill.
//
// The bookmarks are the document's one position list (list 0) through
// BookmarkOp; the record arguments are those of doc_handler.h (Move: a
// const u16 j; Find matches the first bookmark whose name begins with the
// given name cut to 15 bytes; GetNames answers an array of pointers to copies
// of the names, each bounded to 15 bytes, freed by FreeNames). Names taken
// from callers are read up to their NUL, at most 15 bytes, and zero-padded.
// A database without records has no record 0 for a bookmark to follow:
// Insert answers kDocMalformed there and changes nothing.
//
// Damaged data: a text record always decodes (a bad back reference is cut to
// the output so far, palm_lz77.h), so one bad record never hides the text; a
// position past the decoded text answers kDocBeyondDecoded; a bookmark
// shorter than 20 bytes kDocBookmarkTooShort. Database failures pass through.
#pragma once

#include <cstdint>

#include "engine/formats/doc_handler.h"

constexpr std::uint32_t kPalmDocTextRecordSize = 4096;  // largest decoded record
constexpr std::uint32_t kPalmDocStartEntries = 128;
constexpr std::uint32_t kPalmDocBookmarkSize = 20;
constexpr std::uint32_t kPalmDocBookmarkName = 16;  // bytes, byte 15 always 0
constexpr std::uint16_t kPalmDocLongestName = 15;
constexpr std::uint16_t kPalmDocStored = 1;
constexpr std::uint16_t kPalmDocCompressed = 2;

struct PalmDocBody {
  EngineObject* db;
  std::uint16_t recordCount;
  std::uint16_t compression;
  std::uint16_t textRecords;
  std::uint32_t textLength;
  std::uint8_t* buffer[2];  // kPalmDocTextRecordSize + 1 bytes each, the last always 0
  std::uint32_t bufferStart[2];
  std::uint32_t bufferLength[2];  // 0: the buffer holds nothing
  std::uint16_t bufferRecord[2];  // the text record held (zero-based)
  std::uint32_t nextBuffer;       // refilled on the next miss
  std::uint16_t recordSize;       // 0: positions go through the start table
  std::uint16_t decodedRecords;   // text records measured
  std::uint32_t sampleAccumulator;
  std::uint16_t sampleCount;  // start-table entries filled
  std::uint32_t startTable[kPalmDocStartEntries];
  DocHandlerSettings settings;
};

extern EngineObject PalmDocModule;

// Create: on the class.
StatusCode PalmDoc_Create(EngineObject* module, EngineObject** out) noexcept;
// Destroy: frees both buffers and the object.
StatusCode PalmDoc_Destroy(EngineObject* handler) noexcept;
// Command: probes 17 (at least 78 bytes), 18 and 19 answer kDocProbeMine for
// type "TEXt", else kMalformed; 16 kMalformed. 0 forgets the database (the
// text reads as empty until the next open); 51 replaces it; 35 opens on it;
// anything else kMalformed.
StatusCode PalmDoc_Command(EngineObject* handler, std::uint32_t code, void* object,
                           std::uint32_t value) noexcept;
// BackgroundStep: measures the next text record; kDocStepDone when all are.
StatusCode PalmDoc_BackgroundStep(EngineObject* handler) noexcept;
// GetSectionRange, FindSection, GetTextLength: one section [0, text length).
StatusCode PalmDoc_GetSectionRange(EngineObject* handler, std::int16_t section,
                                   std::uint32_t* start, std::uint32_t* end) noexcept;
StatusCode PalmDoc_FindSection(EngineObject* handler, std::uint32_t position, std::int16_t* section,
                               std::uint32_t* start, std::uint32_t* end) noexcept;
StatusCode PalmDoc_GetTextLength(EngineObject* handler, std::uint32_t* length) noexcept;
// GetText, GetTextBefore: a failed decode answers a null pointer, length 0 and
// kFailed.
StatusCode PalmDoc_GetText(EngineObject* handler, std::uint32_t position, const std::uint8_t** text,
                           std::uint32_t* length) noexcept;
StatusCode PalmDoc_GetTextBefore(EngineObject* handler, std::uint32_t position,
                                 const std::uint8_t** text, std::uint32_t* length) noexcept;
// GetCharStyle: the defaults; right alignment with DocFlag::RightAlign.
StatusCode PalmDoc_GetCharStyle(EngineObject* handler, EngineObject* device, std::uint32_t position,
                                DeviceFontSpec* font, CharFormat* format,
                                std::uint32_t* runEnd) noexcept;
// BookmarkOp: list 0 only.
StatusCode PalmDoc_BookmarkOp(EngineObject* handler, std::uint16_t subCode, std::uint16_t index,
                              void* record) noexcept;
// Control: the common controls.
StatusCode PalmDoc_Control(EngineObject* handler, std::uint16_t code, std::uint32_t value,
                           void* record) noexcept;

// The text record (zero-based among the text records) that holds position
// and its start, from the measured records.
void PalmDoc_FindRecord(const PalmDocBody& body, std::uint32_t position, std::uint32_t* record,
                        std::uint32_t* start) noexcept;
// Decodes the text record holding position into buffer b (0 or 1) and sets
// its range; kDocBeyondDecoded when no measured record holds it.
StatusCode PalmDoc_DecodeRecord(PalmDocBody& body, std::uint32_t position,
                                std::uint32_t b) noexcept;
