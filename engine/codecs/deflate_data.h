// The decoder of DEFLATE-coded data as the native and 'RaZo' formats store
// it: the dynamic code tables of a record are stored once, apart from its
// blocks, and read once into a caller-owned DeflateDataDecoder that then
// decodes any number of that record's blocks. Blocks carry no block header
// and end with the end-of-block symbol or when the caller's capacity is
// filled. The bits are packed into big-endian 32-bit words: a word's bytes
// b0 b1 b2 b3 form b0·2^24 + b1·2^16 + b2·2^8 + b3, whose bits are taken from
// the least significant upward before the next word follows.
//
// Plain functions, not an engine module. The caller allocates the decoder
// (through the engine allocator), calls DeflateData_ReadTables whenever the
// table it needs changes, and DeflateData_DecodeBlock for each block.
#pragma once

#include <cstdint>

#include "engine/codecs/deflate_common.h"
#include "engine/runtime/status.h"

// Why the last call failed (DeflateDataDecoder::status).
namespace DeflateDataStatus {
constexpr std::uint16_t Ok = 0;
constexpr std::uint16_t ShortField = 1;         // the input ended inside a fixed-width field
constexpr std::uint16_t ShortCode = 2;          // the input ended inside a Huffman code
constexpr std::uint16_t BadCounts = 3;          // HLIT + 257 above 286 or HDIST + 1 above 30
constexpr std::uint16_t BadCodeLengthCode = 4;  // code-length code unusable or misread
constexpr std::uint16_t BadLiteralCode = 5;     // literal/length lengths or symbol bad
constexpr std::uint16_t BadDistanceCode = 6;    // distance lengths, symbol or distance bad
}  // namespace DeflateDataStatus

struct DeflateDataDecoder {
  std::uint16_t status;      // DeflateDataStatus of the last call
  bool tablesRead;           // a table has been read successfully
  DeflateHuffman literals;   // literal/length code, symbols 0-285
  DeflateHuffman distances;  // distance code, symbols 0-29
  DeflateFastCode fast;      // the same codes for the fast loop
};

// Reads a stored table (HLIT, HDIST, HCLEN, the code-length code and the two
// runs of lengths, as in a dynamic DEFLATE block header without BFINAL and
// BTYPE) from `wordCount` words at `words`. 0; or kFailed with the status
// set: 1 the input ended in a count, a code-length code length or the extra
// bits of a repeat, 2 it ended inside a code, 3 bad counts, 4 a code-length
// code that is over-subscribed, empty or read at an unassigned code, 5 bad
// literal/length lengths (over-subscribed or none), 6 bad distance lengths
// (over-subscribed). The literal/length and the distance lengths are two
// separate runs: a repeat never carries from one into the other, a leading
// repeat of the previous length repeats 0, and a run past the end of its
// lengths is cut there. On failure the decoder holds no usable table.
StatusCode DeflateData_ReadTables(DeflateDataDecoder* decoder, const std::uint8_t* words,
                                  std::uint32_t wordCount) noexcept;

// Decodes one block from `wordCount` words at `words` into output[0 ..
// capacity) with the table read last. *outLength is always written.
// Bytes of output past *outLength are left as they were.
//  - 0 at the end-of-block symbol (*outLength = bytes written), or when a
//    match fills the capacity (*outLength = capacity; the rest of the match
//    and of the block is not read).
//  - kFailed with status 0 and *outLength = capacity when a literal finds
//    the buffer full (callers that want only the first bytes use them).
//  - kFailed with *outLength = 0 and the status: 1 the input ended in extra
//    bits, 2 inside a code, 5 an unassigned literal/length code or no table
//    read, 6 an unassigned distance code, distance symbol 29 or above, or a
//    distance reaching before the start of the block.
StatusCode DeflateData_DecodeBlock(DeflateDataDecoder* decoder, const std::uint8_t* words,
                                   std::uint32_t wordCount, std::uint8_t* output,
                                   std::uint16_t capacity, std::uint16_t* outLength) noexcept;
