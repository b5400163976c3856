// The DCT image decoder of native documents: 8x8 blocks quantised as in
// ITU-T T.81 (JPEG) with the quality scaling, coefficients coded with
// canonical Huffman codes in the manner of RFC 1951, the AAN fast integer
// inverse DCT, and 32x32-pixel tiles with chroma at half resolution.
//
// Bits: the input is read byte after byte, each byte's bits least
// significant first; an n-bit number takes its first bit as the least
// significant; Huffman codes are read most significant bit first.
//
// A code table: a 5-bit count k (k + 4 <= 35), k + 4 code-length code
// lengths of 3 bits for the symbols 32, 33, 34, 0, 8, 7, 9, 6, 10, 5, 11, 4,
// 12, 3, 13, 2, 14, 1, 15, 16, 17, ... 31 in that order (the rest 0), then
// the lengths of the 269 coefficient symbols 0 to 268 in that alphabet: 0-31
// a length, 32 the previous length 3 + (2 bits) times, 33 zero 3 + (3 bits)
// times, 34 zero 11 + (7 bits) times. Symbol 269 has length 0. Codes are
// at most 31 bits.
//
// Coefficient symbols, the 64 coefficients of a block in zigzag order:
//   0-255    the coefficient s - 128
//   256-259  a coefficient of 9, 10, 11 or 12 bits follows (two's complement)
//   260      a run of 3 + (2 bits) zeros
//   261-267  a run of 7 + 8 * (s - 261) + (3 bits) zeros
//   268      zeros to the end of the block
//
// Tiles: the luminance of a tile in up to 4x4 blocks written with a row
// stride of 32; each chroma plane (Cb, then Cr, in one stream) in up to 2x2
// blocks, each decoded block doubled into 16x16 (every sample repeated 2x2).
#pragma once

#include <cstdint>

#include "engine/runtime/status.h"

constexpr std::uint32_t kDctTileSize = 32;
constexpr std::uint32_t kDctSymbols = 270;
constexpr std::uint32_t kDctMaxCodeLength = 31;

// Why the last call failed (DctImageDecoder::status).
namespace DctStatus {
constexpr std::uint16_t Ok = 0;
constexpr std::uint16_t ShortTable = 2;       // the table's bits ran out
constexpr std::uint16_t BadCount = 3;         // k + 4 above 35
constexpr std::uint16_t BadLengthCode = 4;    // code-length code over-subscribed or empty
constexpr std::uint16_t BadRepeat = 5;        // a repeat with no length before it or past 269
constexpr std::uint16_t BadSymbolCode = 6;    // symbol lengths over-subscribed or none
constexpr std::uint16_t BadCoefficients = 9;  // a block's coefficients do not decode
}  // namespace DctStatus

constexpr std::uint32_t kDctFastBits = 11;

// A canonical code: counts per length and the symbols by code order, with a
// table of the codes of up to kDctFastBits bits indexed by the next input
// bits (symbol | length << 12; 0: a longer code).
struct DctCode {
  std::uint16_t count[kDctMaxCodeLength + 1];
  std::uint16_t symbol[kDctSymbols];
  std::uint16_t fast[1u << kDctFastBits];
};

struct DctImageDecoder {
  std::uint16_t status;
  bool tables[2];  // a code was read into set 0 (luminance) / 1 (chrominance)
  DctCode code[2];
  std::int16_t quality[2];    // -1: no quantisation set yet
  std::int32_t quant[2][64];  // natural order, pre-scaled for the AAN IDCT
};

// A decoded tile: luminance, and the two chroma planes at full tile size.
struct DctTile {
  std::uint8_t y[kDctTileSize * kDctTileSize];
  std::uint8_t cb[kDctTileSize * kDctTileSize];
  std::uint8_t cr[kDctTileSize * kDctTileSize];
};

// A zeroed decoder with no tables.
void DctImage_Reset(DctImageDecoder* decoder) noexcept;

// The quantisation table of quality (0-100) before the AAN scaling: table 0
// luminance, 1 chrominance (ITU-T T.81 Annex K.1, natural order) scaled by
// 50 for quality 0, 5000 / q below 50, 200 - 2q from 50, each entry
// (scale * base + 50) / 100 limited to 1-255.
void DctImage_QualityTable(std::uint32_t table, std::uint32_t quality,
                           std::uint16_t out[64]) noexcept;
// Sets table 0 or 1 of the decoder for quality, pre-scaled for the IDCT
// ((entry * AAN factor + 2048) / 4096, two fraction bits kept). kBadArgument
// for a table above 1 or a quality above 100.
StatusCode DctImage_SetQuality(DctImageDecoder* decoder, std::uint32_t table,
                               std::uint32_t quality) noexcept;
// Reads a code table into set 0 or 1; *used (optional) the bytes it took.
// kFailed with the status set (2-6) when it does not read.
StatusCode DctImage_SetHuffmanTables(DctImageDecoder* decoder, std::uint32_t set,
                                     const std::uint8_t* bytes, std::uint32_t length,
                                     std::uint32_t* used) noexcept;
// Decodes rows x cols blocks (at most 4 x 4 for luminance, 2 x 2 for each
// chroma plane) from one stream: luminance into tile->y with set 0 and
// table 0, or with chroma set the Cb blocks then the Cr blocks into
// tile->cb and tile->cr with set 1 and table 1. Pixels of the tile outside
// the blocks are left as they were. kFailed with status 9 when the
// coefficients do not decode (a run past the block, symbol 269, the input
// ending); kBadArgument without the tables or for too many blocks.
StatusCode DctImage_Decode(DctImageDecoder* decoder, const std::uint8_t* data, std::uint32_t length,
                           std::uint32_t rows, std::uint32_t cols, bool chroma,
                           DctTile* tile) noexcept;

// The AAN fast integer inverse DCT of one block of dequantised coefficients
// (natural order, scaled as DctImage_SetQuality's tables leave them) into
// 8x8 samples with a row stride.
void DctImage_InverseDct(const std::int32_t coefficients[64], std::uint8_t* out,
                         std::uint32_t stride) noexcept;
