// Attribute tables of native documents and the lookups built on them.
//
// The table directory (type 6, record-list entry 0; offsets from D = record
// start + H, big-endian):
//   D+0 u8  S: sub-header length (>= 8); entries start at D + S
//   D+1 u8  not read
//   D+2 u8  E: number of entries
//   D+3 u8  X: offset of the widths inside an entry (>= 8)
//   D+4 u16 first record of the paragraph-attribute run list (table 10)
//   D+6 u16 its record count
// An entry, X + K + 1 bytes rounded up to even:
//   +0 u8 table (13 and above: skipped)   +1 u8 K: optional parts
//   +2 u16 items per block (not 0)        +4 u16 first block record
//   +6 u16 block count                    +X K + 1 u8 stored widths
// A table block (type 1; 5 for tables 9 and 11; 12 for table 12), from H:
// K u16 offsets of the optional areas (counted from the start of the fixed
// parts), the fixed parts of the block's items one after another, then the
// optional areas. Fixed byte 0 of an item is its flag byte: 0x10, 0x20 and
// 0x40 say that optional part 1, 2 or 3 is present. Part p of item j lies
// at area p + (items before j in the block that have part p) · width p.
// Every part is read into the width the program expects (kNativeItemWidth):
// cut when stored longer, zero-filled when shorter or absent.
#pragma once

#include <cstdint>

#include "engine/formats/native_doc.h"

// The width of each part the readers hand out, per table (0: no such part).
constexpr std::uint8_t kNativeItemWidth[kNativeTableCount][kNativeMaxParts] = {
    {2, 0, 0, 0}, {4, 0, 0, 0}, {2, 2, 1, 0}, {2, 4, 4, 0}, {2, 1, 2, 0},
    {4, 8, 6, 0}, {4, 4, 4, 4}, {4, 4, 4, 0}, {2, 4, 4, 0}, {8, 4, 4, 0},
    {4, 2, 0, 0}, {6, 6, 0, 0}, {4, 2, 4, 0},
};
constexpr std::uint32_t kNativeMaxPartWidth = 8;
constexpr std::uint8_t kNativeDefaultSizeClass = 12;

// An item as read: each part at its expected width.
struct NativeItem {
  std::uint8_t part[kNativeMaxParts][kNativeMaxPartWidth];
  bool present[kNativeMaxParts];  // part 0 always; optional parts as flagged
};

// A character format (table 7 with tables 0, 1 and 2).
struct NativeCharFormat {
  std::uint16_t fontKind;   // device face class
  std::uint16_t sizeClass;  // 12 unless the font item gives one
  std::uint16_t style;      // NativeStyle bits
  std::uint8_t foreground[3];
  std::uint8_t background[3];
};

namespace NativeStyle {
constexpr std::uint16_t Underline = 0x01;
constexpr std::uint16_t Italic = 0x02;
constexpr std::uint16_t Oblique = 0x04;
constexpr std::uint16_t Bold = 0x08;
constexpr std::uint16_t StrikeOut = 0x10;
constexpr std::uint16_t Low = 0x20;
constexpr std::uint16_t High = 0x40;
constexpr std::uint16_t Foreground = 0x80;
constexpr std::uint16_t Background = 0x100;
}  // namespace NativeStyle

// Reads the table directory named by record-list entry 0 (none when 0) and
// sets up the paragraph-attribute run list. kDocMalformed for an entry
// outside the record or naming records outside the database.
StatusCode NativeStore_LoadTables(NativeDocState* s) noexcept;
// Gives back the cached table blocks and forgets the directory.
StatusCode NativeStore_ReleaseTables(NativeDocState* s) noexcept;

// The block record holding item `index` (0-based) of `table` and the item's
// index inside the block; the block stays cached for the table.
// kDocMalformed when the table has no entry, the block is past its count or
// the record is damaged.
StatusCode NativeStore_FetchTableBlock(NativeDocState* s, std::uint32_t table, std::uint32_t index,
                                       const std::uint8_t** block, std::uint32_t* size,
                                       std::uint32_t* inBlock) noexcept;

// Item n of `table` (0 to 9, 11, 12): n = 0 gives the default item (all
// zero; table 0 with size class 12) without touching the document, n the
// stored item n - 1. kDocMalformed for an item outside the table or a part
// outside its block.
StatusCode NativeStore_ReadItem(NativeDocState* s, std::uint32_t table, std::uint32_t n,
                                NativeItem* out) noexcept;

// The select-list item of key (table 12, the key used as it stands): the
// block the directory's items per block give, whose own header (at D =
// record start + H: u8 S, the items area at D + S; u16 first and u16 last
// item number at D + 2 and D + 4) must cover the key. kDocMalformed outside
// that range or for a damaged block.
StatusCode NativeStore_ReadSelectItem(NativeDocState* s, std::uint32_t key,
                                      NativeItem* out) noexcept;

// The character format at p (run list 1, tables 7, 0, 2 and 1) and the
// end of its run (kRunToEnd when no run holds p: the defaults then hold).
StatusCode NativeStore_GetCharFormat(NativeDocState* s, std::uint32_t p, NativeCharFormat* out,
                                     std::uint32_t* runEnd) noexcept;

// The table-10 item at p (4 fixed bytes, then the 2 optional bytes or
// zeros) with its run's start and end. kNotFound when no run holds p.
StatusCode NativeStore_GetParagraphAttributes(NativeDocState* s, std::uint32_t p,
                                              std::uint8_t out[6], std::uint32_t* start,
                                              std::uint32_t* end) noexcept;
