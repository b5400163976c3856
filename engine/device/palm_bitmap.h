// Palm bitmaps: the images that documents carry as big-endian records.
//
// A record holds one bitmap or a family of them linked by next-bitmap
// offsets. The decoder picks the member to show, undoes the row compression
// (scan-line, RLE or PackBits) and turns the pixels into 32-bit colours. It
// never reads outside the record it is given: every offset, count, run and
// row is checked, the "row above" the first row is zeros, and the size is
// capped. Colour tables and the transparent index are not honoured.
//
// Header (16 bytes, big-endian): u16 width, u16 height, u16 bytes per row,
// u16 flags (0x8000 compressed, 0x4000 colour table, 0x0400 direct colour),
// u8 pixel size, u8 version, u16 next-bitmap offset in 4-byte units (0 =
// last), u8 transparent index, u8 compression (0 scan-line, 1 RLE, 2
// PackBits, 255 none), u16 reserved. Then the colour table (u16 count, 4
// bytes each) when flagged, 8 bytes of direct-colour information when
// flagged, and the rows; compressed rows are preceded by a u16 size.
#pragma once

#include <cstdint>

#include "engine/runtime/allocator.h"
#include "engine/runtime/core.h"

constexpr std::uint32_t kPalmBitmapMaxSide = 4096;  // width and height
constexpr std::uint32_t kPalmBitmapHeaderSize = 16;

namespace PalmBitmapFlags {
constexpr std::uint16_t Compressed = 0x8000;
constexpr std::uint16_t ColourTable = 0x4000;
constexpr std::uint16_t DirectColour = 0x0400;
}  // namespace PalmBitmapFlags

namespace PalmCompression {
constexpr std::uint8_t ScanLine = 0;
constexpr std::uint8_t Rle = 1;
constexpr std::uint8_t PackBits = 2;
constexpr std::uint8_t None = 255;
}  // namespace PalmCompression

// A decoded picture: width x height pixels, row 0 on top, each 0xFFRRGGBB.
struct PalmBitmapImage {
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  EngineBuffer<std::uint32_t> pixels;
};

// Decodes the member of the family at data[0, size) that is to be shown.
//   0: *out holds the picture (a 0 x 0 picture has no pixels).
//   kNoMore: a well-formed bitmap that is not drawn: the chosen pixel size is
//     above 16 or not 1, 2, 4, 8 or 16, or the compression type is unknown.
//   kMalformed: the record is cut short or inconsistent (a header, table,
//     offset, run or row outside the record, bytes per row too small for the
//     width, a size above the caps).
//   kOutOfMemory.
// Which member: version 0 has 1-bit pixels (the pixel-size field is not
// there yet); version 1 uses its pixel size (0 counting as 1); from version
// 2 on the next-bitmap offsets are followed while the next member's pixel
// size is at most 16 and the last member reached is used. Members of
// version 3 and later are read with the version-2 header.
StatusCode PalmBitmap_Decode(const std::uint8_t* data, std::uint32_t size,
                             PalmBitmapImage* out) noexcept;

// Entry i of the fixed 256-colour palette of 8-bit bitmaps, as 0xFFRRGGBB.
std::uint32_t PalmBitmap_SystemColour(std::uint8_t index) noexcept;
