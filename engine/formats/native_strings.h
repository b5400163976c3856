// The string table of native documents: short texts in one record (type 11,
// record-list entry 3), coded in blocks with an index block in front.
//
// Offsets from D = record start + H (the record header length), big-endian:
//   D+0        u8   S: sub-header length
//   D+1        u8   B: number of string blocks
//   D+S        u16  T: code-table length in words (4 bytes)
//   D+S+2      u16  x (B + 1): lengths in words of block 0 (the index) and
//                   of string blocks 1 to B
//   E = H + S + 2B + 4 (+ 2 when B is odd): the code table (4T bytes), then
//   block 0 and blocks 1 to B back to back, all coded with that table.
// Block 0 decodes (at most 2048 bytes) to u16 entries: entry n is 0 for no
// string n, else k (the top 5 bits; the string lies in block k + 1, k below
// B) and the byte offset in that decoded block (the low 11 bits). A string
// ends at its NUL or at the end of its decoded block (at most 2048 bytes).
#pragma once

#include <cstdint>

#include "engine/formats/native_doc.h"

constexpr std::uint32_t kNativeStringBlockSize = 2048;

// String n copied into buffer (at most capacity bytes, no NUL added);
// *length the bytes copied, 0 when there is no such string or the table is
// damaged inside (the answer is still 0). Only a failed fetch of the
// record (kDocMalformed for a bad record header), or of memory, is a
// failure.
StatusCode NativeStore_GetString(NativeDocState* s, std::uint32_t n, std::uint8_t* buffer,
                                 std::uint16_t capacity, std::uint16_t* length) noexcept;
