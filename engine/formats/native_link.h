// Links of native documents: the link runs (range 5) classified and walked,
// and the link index (range 16) that resolves target codes and anchors.
//
// A link run's item gives the link's length and its 32-bit target; the link
// covers [run start, run start + length) (length 0: the whole run).
//
// Link targets:
//   below 0x40000000          kOk: a text position in this document
//   0x40000000 - 0x5FFFFFFF   kDocLinkHostCode: a target code
//   0x70000000 - 0x70FFFFFF   kDocTargetCalendar (value: the low 24 bits)
//   0x71000000 - 0x71FFFFFF   kDocTargetCard (value: the low 24 bits)
//   0x7FF00000 - 0x7FF0FFFF   kDocTargetSelectList
//   0x7FF10000 - 0x7FF1FFFF   kDocTargetImageMap
//   anything else             kDocLinkNoTarget
//
// The link index area holds, in this order, the name-hash records (type 15),
// the anchor records (type 14) and the target-code records (type 16), with
// the counts of header offsets 60, 62 and 64; each group is sorted. Offsets
// below are from D = record start + H (record header length); numbers are
// big-endian.
//
// Anchor record (type 14): D+0 u8 S, D+3 u8 B (1..8 blocks), D+4 u32 lowest
// anchor number; at D+S B entries {u32 highest number in the block, u16
// block length in words, u16 flags (bit 2 stored)}; then u16 T and 2 bytes,
// the code table (4T bytes) and the blocks back to back. A block (at most
// 4096 bytes decoded) is a sorted array of {u32 anchor number, u32 text
// position}.
//
// Target-code record (type 16): D+0 u8 S, D+4 u32 lowest code, D+8 u32
// highest code, D+12..14 u8 k1, k2, k3; at D+S three u16 arrays of k1+1,
// k2+1, k3+1 entries (the list's code-table byte length, then per block:
// bit 15 stored, low 15 bits its byte length); the data after the arrays,
// from a 4-byte boundary: each list's code table, then its blocks, each on a
// 4-byte boundary. Entry n of each list belongs to code lowest + n. List 1
// and 2 blocks: u8 L, u16 G at 2, u16 entries at 4; at L G u16 repeat
// counts, then G counted strings. List 3 blocks: u8 L, u8 F at 1 (bits
// 0-1), u16 entries at 2; from L: F 0 counted strings, F 1 or 2 u32 values
// of kind F, F 3 entries of a type byte then a counted string (type 0) or a
// u32 value (types 1 and 2).
//
// Name-hash record (type 15): D+0 u8 S, D+2 u16 lowest and D+4 highest first
// hash, D+6 lowest and D+8 highest second hash, D+10 u8 k1 (name-list
// blocks), D+11 u8 k2 (position-list blocks); at D+S the two u16 block
// arrays; the data from a 4-byte boundary after them: the name list's table
// and blocks, then the position list's. Name block: u8 L (>= 12), u16 G at
// 2, u16 lowest and highest first hash at 4 and 6, u16 entries at 8; at L G
// u16 repeat counts, then G counted strings (group j covers that many
// entries: the anchors of that name). Position block: u8 L, u16 E at 2, u16
// lowest and highest second hash at 4 and 6; at L E u32 text positions, then
// E counted strings (second names). Entry i of the position list belongs to
// entry i of the name list.
//
// Counted strings: a length byte, or two bytes when the first has bit 7 set
// ((first & 0x7F) * 256 + second), the bytes, then one byte that is skipped.
// First hash: the low 16 bits of the case-folded CRC-32 of the name seeded
// 0xFFFFFFFF, not inverted; second hash: the same, case-sensitive, of the
// second name, or the first hash when there is none.
//
// Every length, count and offset is checked against its record or block;
// one that runs past them answers kDocMalformed and nothing is filled.
#pragma once

#include <cstdint>

#include "engine/formats/native_doc.h"

constexpr std::uint32_t kNativeLinkCodeFirst = 0x40000000u;
constexpr std::uint32_t kNativeLinkCodeLast = 0x4FFFFFFFu;
constexpr std::uint32_t kNativeLinkBlockSize = 4096;

// The class of a link target and the value passed on (see above).
StatusCode NativeStore_ClassifyLinkTarget(std::uint32_t target, std::uint32_t* value) noexcept;

// The link covering position: its start and end, and its classified target
// in *value; the class is the answer. kFailed when no link covers it;
// kDocMalformed for a damaged link record.
StatusCode NativeStore_GetLinkAt(NativeDocState* s, std::uint32_t position, std::uint32_t* start,
                                 std::uint32_t* end, std::uint32_t* value) noexcept;

// A window of text and a link in it (the same layout as the handler
// interface's LinkRange).
struct NativeLinkRange {
  std::uint32_t windowStart;
  std::uint32_t windowEnd;
  std::uint32_t linkStart;
  std::uint32_t linkEnd;
};

// Begin: positions the walk at the first link that ends after the window
// start; kNotFound when no link starts before the window end, else kOk with
// the link's start and end.
StatusCode NativeStore_LinkBegin(NativeDocState* s, NativeLinkRange* range) noexcept;
// First, Prev, Next, Last: move within the window begun and fill the link's
// start and end; kNoMore when there is no such link (no walk begun, before
// the first or after the last link of the window), the walk staying where it
// was.
StatusCode NativeStore_LinkFirst(NativeDocState* s, NativeLinkRange* range) noexcept;
StatusCode NativeStore_LinkPrev(NativeDocState* s, NativeLinkRange* range) noexcept;
StatusCode NativeStore_LinkNext(NativeDocState* s, NativeLinkRange* range) noexcept;
StatusCode NativeStore_LinkLast(NativeDocState* s, NativeLinkRange* range) noexcept;
// Reset: gives back the walk's record and ends the walk.
StatusCode NativeStore_LinkReset(NativeDocState* s) noexcept;

// What a target code gives (the layout of the text view's link
// description): text[0] list 1's string (flags 0x01 | 0x10), text[1] the
// anchor name (0x02 | 0x20), text[2] item 3 (0x04 | 0x40: a second name, or
// one byte holding the kind 1 or 2 with 0x08 and the value). Texts are
// NUL-terminated engine allocations the caller frees.
using NativeLinkTarget = DocLinkTarget;
namespace NativeLinkFlag = DocLinkFlag;

// Looks up a target code (0x40000000 to 0x4FFFFFFF, the top 4 bits
// cleared) and fills *out; kDocMalformed for other codes, no index area or
// records, a code beyond every record, or a damaged record. On failure every
// text allocated is freed and *out is left alone.
StatusCode LinkIndex_FindByCode(NativeDocState* s, std::uint32_t code,
                                NativeLinkTarget* out) noexcept;
// Frees the texts of a target filled by LinkIndex_FindByCode and clears it.
void LinkIndex_FreeTarget(NativeLinkTarget* target) noexcept;

// The text position of anchor number (0 with kOk when absent).
StatusCode LinkIndex_FindAnchor(NativeDocState* s, std::uint32_t number,
                                std::uint32_t* position) noexcept;
// The text position of the anchor named name (ASCII case ignored) with the
// given second name (null: none; compared ignoring case too), searching the
// neighbouring records that share the first hash; 0 with kOk when none
// matches.
StatusCode LinkIndex_FindByName(NativeDocState* s, const char* name, std::uint32_t nameLength,
                                const char* second, std::uint32_t secondLength,
                                std::uint32_t* position) noexcept;
// Resolves a target to a text position: item 3 of one byte with a value
// gives an anchor number (kind 1) or the position itself (kind 2);
// otherwise the anchor name (text[1]) with item 3 as the second name when
// present and not empty.
StatusCode LinkIndex_Resolve(NativeDocState* s, const NativeLinkTarget* target,
                             std::uint32_t* position) noexcept;

// The first and second hashes of a name (second: null for none).
void LinkIndex_HashName(const char* name, std::uint32_t nameLength, const char* second,
                        std::uint32_t secondLength, std::uint16_t* first,
                        std::uint16_t* secondHash) noexcept;
