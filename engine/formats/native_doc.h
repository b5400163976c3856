// The native document format: the reader's own compressed book format, a
// record database of type "KDoc" and creator "KelX".
//
// Record 0 (every number big-endian) is the document header followed by a
// directory:
//   0  u16 L      header length; the directory starts at L (L >= 64)
//   2  u8, u8     format version major, minor (3.00 to 3.37 are read)
//   4  u8         check byte (>= 3)          5  u8 kept as read
//   6  "isKelp"   magic                      12 8 bytes start-position data
//   20 u32        decoded text length        24 u16 N text blocks per text record (not 0)
//   26 4 bytes    kept as read               30 u16 section count
//   32 u16        record of position list 1  34 u16 record of position list 0 (0 = none)
//   36 u16        document flags (NativeDocFlag)
//   38 6 bytes    reserved, kept             44 u8, u8 second version (at most 3.37)
//   46 2 bytes    kept as read               48 u8 check byte (high nibble 0xF)
//   49 3 bytes    kept as read               52 u8, u8 two document bytes
//   54 u16        kept as read               56 u16 start section, 1-based (0 = none)
//   58 u16        charset MIBenum (0 = not given; 1013-1015 mark UTF-16 text)
//   60, 62, 64    u16 counts of name-hash, anchor and target-code index records
//   66 .. L-1     further header bytes, kept as read
// Fields at or past L read as 0. The directory at L: u16 n and n u16 record
// numbers (the record list; the first 4 are kept), then u16 m, m u16 range
// starts and m u16 range counts (the range table; the first 18 of each are
// kept). Every kept record number and range lies inside the database.
//
// Every other record starts with a record header: byte 0 its length H (4 to
// the record size), byte 1 the record type (NativeRecordType); the record's
// data starts at H. Records are fetched with NativeStore_FetchRecord.
//
// Opening never fails on a record 0 that breaks the rules above: the document
// opens with no records (every later read answers kDocMalformed or nothing).
// Only a newer version than 3.37 is refused, with kDocNewerVersion. The
// handler keeps the first min(L, 128) bytes of record 0 as stored; when a
// position list gets a new record while the document is open, close (or
// destroy) writes bytes 2 .. min(L, 128) of record 0 back with the new
// record numbers and every other byte unchanged. Nothing is written when the
// numbers did not change.
#pragma once

#include <cstdint>

#include "engine/codecs/deflate_data.h"
#include "engine/formats/doc_handler.h"
#include "engine/formats/native_table_pass.h"
#include "engine/formats/pos_list.h"

constexpr std::uint8_t kNativeType[4] = {'K', 'D', 'o', 'c'};
constexpr std::uint8_t kNativeCreator[4] = {'K', 'e', 'l', 'X'};
constexpr std::uint8_t kNativeMagic[6] = {'i', 's', 'K', 'e', 'l', 'p'};

constexpr std::uint32_t kNativeMinHeader = 64;    // smallest header length L
constexpr std::uint32_t kNativeHeaderCopy = 128;  // header bytes the handler keeps
constexpr std::uint32_t kNativeRecordListSize = 4;
constexpr std::uint32_t kNativeRangeCount = 18;
constexpr std::uint8_t kNativeVersionMajor = 3;  // newest version read: 3.37
constexpr std::uint8_t kNativeVersionMinor = 37;
constexpr std::uint32_t kNativeMinRecordHeader = 4;  // record header length H
constexpr std::uint16_t kNativeNoRecord = 0xFFFF;    // cache key: nothing cached

constexpr std::uint32_t kNativeBlockSize = 4096;    // decoded text block
constexpr std::uint32_t kNativePageBuffer = 4105;   // a page, its NUL and carried bytes
constexpr std::uint32_t kNativeExtraWindow = 4097;  // extra-stream window
constexpr std::uint32_t kNativeExtraBases = 4;      // base offsets of the extra stream

// Record header byte 1.
namespace NativeRecordType {
constexpr std::uint8_t Text = 0;        // N coded or stored 4096-byte blocks
constexpr std::uint8_t TableBlock = 1;  // attribute-table blocks read with type 1
constexpr std::uint8_t RunList = 2;     // run-list records
constexpr std::uint8_t RunListDescriptor = 3;
constexpr std::uint8_t DctImage = 4;
constexpr std::uint8_t TableBlock5 = 5;  // attribute-table blocks read with type 5
constexpr std::uint8_t TableDirectory = 6;
constexpr std::uint8_t IndexTop = 7;    // two-level item index: top-level record
constexpr std::uint8_t IndexItems = 8;  // two-level item index: item records
constexpr std::uint8_t TablePositions = 9;
constexpr std::uint8_t StringTable = 11;
constexpr std::uint8_t SelectListBlock = 12;
constexpr std::uint8_t ExtraStream = 13;
constexpr std::uint8_t Anchors = 14;
constexpr std::uint8_t NameHashIndex = 15;
constexpr std::uint8_t TargetCodeIndex = 16;
constexpr std::uint8_t ImageMap = 17;
}  // namespace NativeRecordType

// Entries of the record list.
namespace NativeRecordList {
constexpr std::uint32_t TableDirectory = 0;  // type 6
constexpr std::uint32_t Descriptor0 = 1;     // type 3, run list 0
constexpr std::uint32_t Descriptor1 = 2;     // type 3, run list 1
constexpr std::uint32_t StringTable = 3;     // type 11
}  // namespace NativeRecordList

// Entries of the range table (first record, number of records).
namespace NativeRange {
constexpr std::uint32_t Text = 0;           // type 0, N blocks each
constexpr std::uint32_t Sections = 1;       // section run list, <= 1024 sections a record
constexpr std::uint32_t RunList0 = 2;       // type 2
constexpr std::uint32_t RunList1 = 3;       // type 2
constexpr std::uint32_t InlineObjects = 4;  // images, select lists, rules
constexpr std::uint32_t Links = 5;          // link run list
constexpr std::uint32_t OpenRunList = 6;    // run list set up at open
// 7 to 10 and 14 are not read; they are kept as stored.
constexpr std::uint32_t ItemIndex0 = 11;  // type 7 then type 8; used when the count is above 1
constexpr std::uint32_t ItemIndex1 = 12;
constexpr std::uint32_t ItemIndex2 = 13;
constexpr std::uint32_t ExtraStream = 15;  // type 13, N blocks each; a count enables the stream
constexpr std::uint32_t LinkIndex = 16;    // types 15, 14, 16 (counts at header 60, 62, 64)
constexpr std::uint32_t ImageMaps = 17;    // type 17
}  // namespace NativeRange

// Header offset 36.
namespace NativeDocFlag {
constexpr std::uint16_t PolicyFree = 1u << 0;         // section policy 0
constexpr std::uint16_t PolicyNeverScreen = 1u << 1;  // section policy 2 (else 1)
constexpr std::uint16_t HasStartPosition = 1u << 2;   // control 20
constexpr std::uint16_t CarryAcrossBlocks = 1u << 3;  // multi-byte characters cross block ends
}  // namespace NativeDocFlag

// NativeDocState::flags.
namespace NativeStateFlag {
constexpr std::uint16_t Record0Changed = 0x0001;  // written back on close and destroy
constexpr std::uint16_t TablePassDone = 0x0002;
constexpr std::uint16_t CellDraw = 0x0004;
constexpr std::uint16_t CellCopy = 0x0010;
constexpr std::uint16_t CellInvert = 0x0020;
constexpr std::uint16_t TableLayout = 0x0040;  // controls 5 and 6
constexpr std::uint16_t Utf16 = 0x0400;        // the text is UTF-16
}  // namespace NativeStateFlag

// The named fields of record 0, in host order.
struct NativeDocHeader {
  std::uint16_t headerLength;  // L
  std::uint8_t versionMajor;
  std::uint8_t versionMinor;
  std::uint8_t check;
  std::uint32_t textLength;
  std::uint16_t blocksPerRecord;  // N
  std::uint16_t sectionCount;
  std::uint16_t posList1Record;  // 0 = none
  std::uint16_t posList0Record;
  std::uint16_t docFlags;  // NativeDocFlag
  std::uint8_t version2Major;
  std::uint8_t version2Minor;
  std::uint8_t check2;
  std::uint8_t docBytes[2];    // control 7
  std::uint16_t startSection;  // 1-based, 0 = none
  std::uint16_t charset;       // MIBenum, 0 = not given
  std::uint16_t nameHashRecords;
  std::uint16_t anchorRecords;
  std::uint16_t targetCodeRecords;
};

// Record 0 as the handler keeps it.
struct NativeRecord0 {
  std::uint8_t stored[kNativeHeaderCopy];  // first min(L, 128) bytes as stored, zeros after
  NativeDocHeader header;
  std::uint16_t recordList[kNativeRecordListSize];
  std::uint16_t rangeStart[kNativeRangeCount];
  std::uint16_t rangeCount[kNativeRangeCount];
};

// What the values of a run list hold (see native_index.h).
namespace NativeRunKind {
constexpr std::uint8_t Value = 0;     // item numbers in one of the four number codes
constexpr std::uint8_t Link = 1;      // 6-byte link items: u16 length, u32 target
constexpr std::uint8_t ParaItem = 2;  // table-10 items: 4-byte fixed parts, 2-byte optional parts
}  // namespace NativeRunKind

// A cursor over one run list: the list's records, the one record it holds
// and the run it stands on. Filled and moved by the NativeRun_ operations
// (native_index.h); every field of the held record was checked when it was
// fetched.
struct NativeRunCursor {
  std::uint16_t first;    // first record of the list
  std::uint16_t count;    // records in the list; 0 = no list
  std::uint16_t maxRuns;  // most runs one record may hold
  std::uint8_t kind;      // NativeRunKind
  std::uint16_t held;     // index in the list of the held record; kNativeNoRecord = none
  const std::uint8_t* record;
  std::uint32_t size;
  // The held record.
  std::uint8_t deltaCode;
  std::uint8_t valueCode;
  std::uint16_t runs;
  std::uint32_t deltaAt;     // R - 1 deltas
  std::uint32_t deltaExtAt;  // their extension array
  std::uint32_t valueAt;     // R values or items
  std::uint32_t valueExtAt;  // the values' extension array, or the items' optional area
  std::uint32_t recordStart;
  std::uint32_t recordEnd;
  // The current run.
  std::uint16_t run;
  std::uint32_t runStart;
  std::uint32_t runEnd;
  std::uint32_t deltaExt;  // extension entries taken by the deltas before the run
  std::uint32_t valueExt;  // by the values (or optional parts) before the run
};

// A run-list descriptor: the run lists of the value columns.
constexpr std::uint32_t kNativeMaxColumns = 256;
struct NativeRunDescriptor {
  std::uint16_t columns;  // K + 1; 0 = no descriptor
  std::uint16_t first[kNativeMaxColumns];
  std::uint16_t count[kNativeMaxColumns];
};

// A run list with its value columns: column 0 is the list's own range,
// columns 1 .. K the descriptor's lists; columns 0 and 1 keep a cursor open.
struct NativeRunList {
  NativeRunDescriptor descriptor;
  NativeRunCursor column[2];
};

// A two-level item index: the top-level record and one held item record.
struct NativeItemIndex {
  std::uint16_t first;  // range of the index; unused unless count > 1
  std::uint16_t count;
  const std::uint8_t* top;  // held top-level record
  std::uint32_t topSize;
  std::uint32_t entriesAt;    // count u16 first-item numbers
  const std::uint8_t* items;  // held item record
  std::uint32_t itemsSize;
  std::uint16_t itemRecord;  // k of the held item record; kNativeNoRecord = none
  std::uint16_t firstItem;   // items [firstItem, endItem) are in it
  std::uint16_t endItem;
  std::uint32_t offsetsAt;  // endItem - firstItem + 1 u16 offsets
  std::uint32_t bytesAt;    // where the item bytes start
};

constexpr std::uint32_t kNativeTableCount = 13;
constexpr std::uint32_t kNativeMaxParts = 4;  // the fixed part and up to three optional parts

// One attribute table as the directory describes it, and its cached block.
struct NativeTable {
  bool present;
  std::uint16_t parts;  // stored parts: K + 1 (the block holds K area offsets)
  std::uint16_t itemsPerBlock;
  std::uint16_t firstBlock;
  std::uint16_t blockCount;
  std::uint8_t width[kNativeMaxParts];  // stored widths (parts past K: 0)
  const std::uint8_t* block;            // cached block record
  std::uint32_t blockSize;
  std::uint16_t blockNumber;  // kNativeNoRecord = none
};

// The walk over the links of a window of text (controls 13 to 18): its own
// cursor over the link runs, the window and the first run of the window.
struct NativeLinkWalk {
  NativeRunCursor cursor;
  bool begun;
  std::uint32_t windowStart;
  std::uint32_t windowEnd;
  std::uint32_t firstRun;  // run number of the window's first link
};

// The select lists met so far: per key (the list's item number) the measured
// width, height and baseline, and the option the reader chose. Both arrays
// grow by one element per new key.
struct NativeSelectEntry {
  std::uint16_t width;
  std::uint16_t height;
  std::uint16_t baseline;
  std::uint16_t chosen;
};
struct NativeSelectCache {
  std::uint32_t count;
  std::uint32_t* keys;
  NativeSelectEntry* entries;
};

// The handler's state, one per open document (the body of a handler
// instance). The link, image and select-list readers add their caches here
// as they come.
struct NativeDocState {
  EngineObject* db;           // the record database (DbFileOps); not owned
  std::uint16_t recordCount;  // 0: no container, or record 0 was not usable
  std::uint16_t flags;        // NativeStateFlag
  NativeRecord0 record0;      // all zero when recordCount is 0

  // Text decoding.
  std::uint16_t textRecord;  // the record whose code table is read; kNativeNoRecord = none
  DeflateDataDecoder* textDecoder;
  std::uint8_t* page[2];  // kNativePageBuffer bytes each, NUL at kNativeBlockSize
  std::uint32_t pageStart[2];
  std::uint32_t pageLength[2];
  std::uint32_t pageReplace;  // the page refilled on the next miss

  // The extra stream.
  std::uint16_t extraRecord;  // kNativeNoRecord = none
  DeflateDataDecoder* extraDecoder;
  std::uint8_t* extraWindow;  // kNativeExtraWindow bytes, allocated when the stream is present
  std::uint32_t extraStart;
  std::uint32_t extraLength;
  std::uint32_t extraTotal;
  std::uint32_t extraBase[kNativeExtraBases];
  std::uint32_t extraBaseCount;

  // Attribute tables, run lists and item indexes.
  NativeTable tables[kNativeTableCount];
  NativeRunCursor paraAttributes;  // table-10 items, named by the table directory
  NativeRunList runLists[2];       // paragraph formats (0) and character formats (1)
  NativeRunCursor sections;        // range 1
  NativeRunCursor objects;         // range 4
  NativeRunCursor links;           // range 5
  NativeLinkWalk linkWalk;         // over range 5, for the link walk
  NativeSelectCache selects;       // select lists measured or chosen
  NativeRunCursor openList;        // range 6
  NativeItemIndex indexes[3];      // ranges 11, 12, 13
  NativeTablePassState tablePass;  // the table layout pass (native_table_pass.h)

  PosListHandle posLists[2];  // the document's position lists 0 and 1
  std::uint32_t charset;      // header offset 58
  DocHandlerSettings settings;
};

extern EngineObject NativeDocModule;

// Named fields of a header copy (kNativeHeaderCopy bytes as stored).
NativeDocHeader NativeDoc_ParseHeader(const std::uint8_t* stored) noexcept;

// Checks record 0 (`size` bytes) of a database holding `recordCount` records
// and reads its header and directory. 0 with *out filled; kDocNewerVersion
// when either version is above 3.37 (tested first, on the bytes present);
// kDocMalformed when any other rule fails. *out is written only on success.
StatusCode NativeDoc_CheckRecord0(const std::uint8_t* data, std::uint32_t size,
                                  std::uint16_t recordCount, NativeRecord0* out) noexcept;

// Fetches record `index` of db and checks its record header: more than 3
// bytes, header length above 3 and not above the size, type byte equal to
// `type`. 0 with *size and *data (a buffer lent by the database, given back
// with NativeStore_ReleaseRecord); kDocMalformed for a record that fails
// (nothing is held); database failures pass through.
StatusCode NativeStore_FetchRecord(EngineObject* db, std::uint8_t type, std::uint16_t index,
                                   std::uint32_t* size, const std::uint8_t** data) noexcept;
// Gives a fetched record back (null accepted).
StatusCode NativeStore_ReleaseRecord(EngineObject* db, const std::uint8_t* data) noexcept;

// Create: a zeroed state with no text record cached and the settings reset;
// kOutOfMemory.
StatusCode NativeDoc_Create(EngineObject* module, EngineObject** out) noexcept;
// Destroy: closes the document as command 0 does when it is still open, then
// frees the decoders, buffers and the object. The first failure met, else 0;
// the object is freed in every case.
StatusCode NativeDoc_Destroy(EngineObject* handler) noexcept;
// Command (the low 16 bits of code are used):
//  - 17 (object: a database header, value: its length), 18 (object: a
//    stream, 78 bytes read at 0), 19 (object: a record database): probes,
//    also on the class; kDocProbeMine for type "KDoc" and creator "KelX",
//    kMalformed otherwise, for a header under 78 bytes or a failed read.
//  - 35 (object: the record database): opens. Allocates the text decoder and
//    the page buffers (kept for later opens), reads record 0 and its
//    directory; 0 (also for an empty database or an unusable record 0, which
//    give a document with no records), kDocNewerVersion, or a failure of the
//    database or the allocator. Opening an open handler closes it first.
//  - 0: close. Gives back the position-list records held, writes record 0
//    back when a list's record number changed, forgets the database; 0 or
//    the first failure of those steps.
//  - 51 (object: the same file opened again): gives back the records held
//    from the old database and uses the new one; 0.
//  - anything else kMalformed.
StatusCode NativeDoc_Command(EngineObject* handler, std::uint32_t code, void* object,
                             std::uint32_t value) noexcept;
// GetSectionInfo: policy 0 with document flag bit 0, else 2 with bit 1, else 1; the
// section count of the header (at least 1).
StatusCode NativeDoc_GetSectionInfo(EngineObject* handler, std::uint16_t* policy,
                                    std::uint16_t* count) noexcept;
// Control: 5 and 6 set and clear NativeStateFlag::TableLayout (0); the
// common controls of doc_handler.h; kNotSupported for others.
StatusCode NativeDoc_Control(EngineObject* handler, std::uint16_t code, std::uint32_t value,
                             void* record) noexcept;
