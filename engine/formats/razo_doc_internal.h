// The 'RaZo' handler's state and the helpers its two files share.
#pragma once

#include <cstdint>

#include "engine/codecs/deflate_data.h"
#include "engine/formats/pos_list.h"
#include "engine/formats/razo_doc.h"

// The named fields of the header copy, in host order (0 past the copy).
struct RaZoHeader {
  std::uint16_t headerLength;
  std::uint32_t textLength;
  std::uint16_t blocksPerGroup;
  std::uint16_t styleFirst, styleCount;
  std::uint16_t linkFirst, linkCount;
  std::uint16_t blockFirst, blockCount;
  std::uint16_t sectionCount;
  std::uint16_t sectionFirst, sectionRecords;
  std::uint16_t anchorsRecord;    // list 1
  std::uint16_t bookmarksRecord;  // list 0
  std::uint16_t targetFirst, targetCount;
  std::uint16_t imageFirst, imageCount;
  std::uint16_t layoutFlags;
};

enum class RaZoSide : std::uint8_t { Style, Link, Block };

// One side record held and checked: the positions rebuilt to 32 bits.
struct RaZoSideRecord {
  std::int32_t index;  // among the records of its kind; -1 = none held
  const std::uint8_t* data;
  std::uint32_t size;
  std::uint32_t count;  // entries
  std::uint32_t first;  // first entry's position (the end when there are none)
  std::uint32_t end;    // style, link: the stored end; block: last position + 1
  std::uint32_t pos[kRaZoMaxEntries];
  // Style: the paragraph word's index per run (0xFFFF none); block: the
  // extra word's index per entry.
  std::uint16_t aux[kRaZoMaxEntries];
};

struct RaZoDocState {
  EngineObject* db;           // not owned
  std::uint16_t recordCount;  // 0: nothing to read
  bool shortHeader;
  bool headerChanged;
  bool damaged;                          // some record failed its checks: nothing is written
  std::uint8_t stored[kRaZoHeaderCopy];  // the header copy as stored, zeros past it
  RaZoHeader header;

  // Text.
  std::uint8_t* buffer[2];  // kRaZoBlockSize + 1 bytes each, the last 0
  std::uint32_t bufferStart[2];
  std::uint32_t bufferLength[2];  // 0: empty
  std::uint32_t nextBuffer;
  std::int32_t group;  // the group whose tables the decoder holds; -1 none
  DeflateDataDecoder decoder;

  // Side-record caches (style runs, block lines, links) and the link walk.
  RaZoSideRecord styles;
  RaZoSideRecord blocks;
  RaZoSideRecord links;
  RaZoSideRecord* walk;  // allocated on first use
  std::uint32_t walkEntry;
  std::int32_t walkFirstRecord;  // the first link of the window (-1 none)
  std::uint32_t walkFirstEntry;

  std::uint32_t styleRun;  // run index in `styles` last answered
  CharStyle lastStyle;     // format kept for positions outside every run

  PosListHandle lists[2];  // 0 bookmarks, 1 anchors
  DocHandlerSettings settings;
};

RaZoDocState* RaZo_Body(EngineObject* handler) noexcept;

// Finds and holds the side record of `kind` whose range holds position; 0,
// kNotFound when none does, kDocMalformed for a damaged record (nothing is
// then held and the document is marked damaged), database failures.
StatusCode RaZo_FindSide(RaZoDocState& s, RaZoSide kind, RaZoSideRecord& cache,
                         std::uint32_t position) noexcept;
// Holds side record `index` of `kind` (checked) in cache.
StatusCode RaZo_LoadSide(RaZoDocState& s, RaZoSide kind, RaZoSideRecord& cache,
                         std::int32_t index) noexcept;
// Gives the held record back.
void RaZo_ReleaseSide(RaZoDocState& s, RaZoSideRecord& cache) noexcept;
// The number of records of a kind.
std::uint16_t RaZo_SideCount(const RaZoDocState& s, RaZoSide kind) noexcept;

// Entry i of a held link record: start, end and target.
void RaZo_LinkEntry(const RaZoSideRecord& r, std::uint32_t i, std::uint32_t* start,
                    std::uint32_t* end, std::uint32_t* target) noexcept;
// The held link record's entry covering position, or -1.
std::int32_t RaZo_LinkCovering(const RaZoSideRecord& r, std::uint32_t position) noexcept;

// The style run of position as a character style, and its end.
StatusCode RaZo_StyleAt(RaZoDocState& s, std::uint32_t position, CharStyle* style,
                        std::uint32_t* runEnd) noexcept;
// The style word and paragraph word as a character style.
CharStyle RaZo_StyleFromWords(std::uint16_t word, std::uint16_t paragraph,
                              std::uint32_t settingsFlags) noexcept;

// A block line at position: kind, flags and extra word (0xFFFF... none).
struct RaZoBlock {
  std::uint8_t kind;
  std::uint8_t flags;
  bool hasExtra;
  std::uint16_t extra;
  std::uint32_t entryOffset;  // image: where its 8-byte entry starts in the record
};
// 0 with *out when a block-line entry sits exactly at position; kNotFound
// otherwise; failures.
StatusCode RaZo_BlockAt(RaZoDocState& s, std::uint32_t position, RaZoBlock* out) noexcept;
