// Images of native documents: image-map hit testing and border styles.
//
// Image-map records (type 17, range 17; D = record start + H, big-endian):
//   D+0 u8  S: the area lists start at D + S
//   D+4 u16 first image number in the record
//   D+6 u16 last image number in the record
// The record holds at least H + 16 and H + S bytes. Then, per image from the
// first to the last, its area list: a length (a byte, or two bytes giving 15
// bits when the first has its top bit set) and that many bytes of areas.
// An area: a flag byte (bits 0-3 the shape: 0 default, 1 rectangle, 2
// circle, 3 polygon, above 3 ends the list; bit 4 a u32 target follows,
// else the target is 0xFFFFFFFF); for a rectangle (left, top, right,
// bottom) and a circle (centre x, centre y, radius) a mask byte then the
// coordinates; for a polygon the point count n (one byte or 15 bits as
// above), a mask of (2n + 7) / 8 bytes and 2n coordinates (x, y pairs).
// Coordinates are a byte, or two bytes giving 15 bits when the first has its
// top bit set. Mask bits (least significant first, one per coordinate) mark
// percentages: of the image width for x, the height for y, the smaller of
// the two for a radius.
#pragma once

#include <cstdint>

#include "engine/device/device.h"
#include "engine/formats/doc_handler.h"
#include "engine/formats/native_doc.h"

constexpr std::uint32_t kNativeNoTarget = 0xFFFFFFFFu;

// The first area of image `image` that holds (x, y) in an image of the given
// size: kDocImageMapHit with its target; kFailed when the image has no map
// or no area holds the point (an area list that ends inside an area ends
// the walk); kDocMalformed for a damaged record. Rectangles hold left <= x <
// right and top <= y < bottom; circles radius^2 >= dx^2 + dy^2; polygons by
// the even-odd rule.
StatusCode NativeStore_ImageMapHit(NativeDocState* s, std::uint32_t image, std::int32_t x,
                                   std::int32_t y, std::uint32_t width, std::uint32_t height,
                                   std::uint32_t* target) noexcept;

// The device line style of a document border style: 16 -> 1, 32 -> 2,
// 48 -> 3, 64 -> 4, 80 -> 5, 96 -> 6, 128 -> 8, any other -> 7.
std::uint16_t DocImage_BorderStyleCode(std::uint32_t style) noexcept;

// DCT-coded images (the data of an image item of kind 2, in a type-4
// record; the image header at headerAt):
//   0   u8   G: header length (>= 12)
//   1   u8   flags: bit 0 code tables present (required), bit 1 grey
//   2   u8   quality (0-100) of both quantisation tables
//   4   u16  width, 6 u16 height in pixels
//   8   u16  offset of the tile data from the image header
//   G   the luminance code table: its length (a byte below 0xF0, else 12
//       bits: (first & 0x0F) << 8 | second) and bytes; then, unless grey,
//       the chrominance code table coded alike.
// Tile data: tiles of 32x32 pixels row by row, (width + 31) / 32 a row; each
// tile a luminance length (coded as the table lengths) and its bytes, then,
// unless grey, a chroma length and the bytes of both chroma planes.
struct DctImageDecoder;
struct DctTile;

struct NativeDctImage {
  std::uint32_t width;
  std::uint32_t height;
  bool grey;
};

// Reads the image header and its code tables into the decoder (and the
// quality into its quantisation, both reloaded only when they change).
// kDocMalformed for a header or table that does not fit the record or does
// not read.
StatusCode DocImage_LoadDctTables(DctImageDecoder* decoder, const std::uint8_t* record,
                                  std::uint32_t size, std::uint32_t headerAt,
                                  NativeDctImage* image) noexcept;

// Called with each decoded tile: its column and row, the tile, and the
// pixels of it that belong to the image.
using NativeTileSink = StatusCode (*)(void* user, std::uint32_t column, std::uint32_t row,
                                      const DctTile& tile, std::uint32_t width,
                                      std::uint32_t height) noexcept;

// Decodes the tiles of a loaded image that meet the pixel rectangle [left,
// right) x [top, bottom) (tiles outside it are stepped over by their lengths
// without decoding), chroma only when withChroma, and hands each to sink. A
// length past the data, or coefficients that do not decode, answer
// kDocMalformed; tiles already handed over stay drawn.
StatusCode DocImage_DecodeDctTiles(DctImageDecoder* decoder, const std::uint8_t* record,
                                   std::uint32_t size, std::uint32_t headerAt,
                                   const NativeDctImage& image, std::int32_t left, std::int32_t top,
                                   std::int32_t right, std::int32_t bottom, bool withChroma,
                                   DctTile* tile, NativeTileSink sink, void* user) noexcept;

// An image item (attribute table 9) as the drawing reads it: flags (bit 0:
// the size is in document units and the image is a grid of tile images),
// kind (0 raw bitmap, 1 a reference to another item, 2 DCT), the reference
// (the referred item for kind 1, the first tile image of a grid), width
// and height (doubled with DocFlag::DoubleImages), the x and y scale steps,
// where the pixels lie: the type-4 record (part-2 bytes 0-1) and the image
// header's offset in it (the record header length with flag bit 0, else
// fixed bytes 4-5), and the map scale (part-2 byte 2: s non-zero shows the
// image at s / 256 of the size its map is drawn for).
struct NativeImageItem {
  std::uint8_t flags;
  std::uint8_t kind;
  std::uint16_t reference;
  std::uint32_t width;
  std::uint32_t height;
  std::uint8_t xSteps;
  std::uint8_t ySteps;
  std::uint16_t dataRecord;
  std::uint16_t headerOffset;
  std::uint8_t mapScale;
};
StatusCode DocImage_ReadItem(NativeDocState* s, std::uint32_t n, NativeImageItem* out) noexcept;

// One side of a border item (table 5): its colour item (table 1; 0: the
// text colour), width in points and style.
struct NativeBorderSide {
  std::uint16_t colour;
  std::uint8_t width;
  std::uint8_t style;
};
// The four sides, top, right, bottom, left, of border item n (item 0: none).
StatusCode DocImage_ReadBorders(NativeDocState* s, std::uint32_t n,
                                NativeBorderSide sides[4]) noexcept;

// The display size of image item n placed at text position `position`: its
// size (from the referred item where the kind is 1 and a dimension is 0;
// still missing: width 1, height 5), in document units divided by the unit
// of each axis when flag bit 0 is set, plus the borders of the character
// format at the position.
StatusCode DocImage_GetDisplaySize(NativeDocState* s, EngineObject* device, DeviceContext ctx,
                                   std::uint32_t position, std::uint32_t n, std::int16_t* width,
                                   std::int16_t* height) noexcept;

// Draws image object n at text position `position` on the line at (x, y)
// with its metrics: the bordered box's bottom on the baseline, the borders,
// then the pixels (raw bitmaps and DCT tiles through the device's image
// drawing; a grid of tile images when flag bit 0 is set), within the clip
// box. metrics->width and ->height receive the drawn size.
StatusCode DocImage_DrawImageObject(NativeDocState* s, EngineObject* device, DeviceContext ctx,
                                    LineMetrics* metrics, std::int16_t x, std::int16_t y,
                                    std::uint32_t position, std::uint32_t n) noexcept;
