// The text stream of native documents and the extra data stream.
//
// The decoded text is cut into 4096-byte blocks; block b lies in text
// record (range 0 start + b / N), block b mod N (N at header offset 24). A
// text record (type 0; extra-stream records type 13, range 15), offsets
// from the record start, numbers big-endian, a word being 4 bytes counted
// from the record start:
//   H            u8  P: prefix length, this byte included (>= 1)
//   T = H + P    u16 w0: first word of the code table
//   T + 2        u16 w1: word after the table = first word of block 0
//   T + 4 + 2k   u16 w(k+2): word after block k, k = 0 .. N-1
//   T + 2N + 4 + k  u8 flags of block k: bit 2 stored; bits 0-1 padding
//                   bytes at the end of a stored block
// The code table is words [w0, w1) (DeflateData_ReadTables), block k words
// [w(k+1), w(k+2)): coded (DeflateData_DecodeBlock) or, when stored, the
// text bytes followed by the padding.
//
// Text is served from two 4096-byte pages. When header flag bit 3 is set
// and a page ends in a byte with the high bit set, the leading bytes of the
// next block that have the high bit set (at most 8) are decoded and
// appended to the page, so a multi-byte character cut at the block end is
// served whole; they do not count for hits. Every page is followed
// by a NUL.
//
// The extra stream (range 15): u32 total length, u32 entry count, then
// 8-byte entries whose first u32 is a base offset (up to 4 are read); it is
// read through a 4096-byte window.
#pragma once

#include <cstdint>

#include "engine/formats/native_doc.h"

constexpr std::uint32_t kNativeMaxCarry = 8;  // bytes carried over from the next block

// Decodes block `block` of the text (type 0) or extra stream (type 13) into
// out[0 .. *length) (in: the capacity, out: the bytes written).
// kDocMalformed for a block past the records, a short record or word
// offsets outside it; kFailed for a code table or block that does not
// decode.
StatusCode NativeStore_DecodeTextBlock(NativeDocState* s, std::uint8_t type, std::uint32_t block,
                                       std::uint8_t* out, std::uint32_t* length) noexcept;

// GetTextLength: the text length of header offset 20.
StatusCode NativeDoc_GetTextLength(EngineObject* handler, std::uint32_t* length) noexcept;
// GetText: the decoded bytes at position and how many follow contiguously
// (at most *length). At or past the end: null, 0 and 0. kFailed (null, 0)
// when the block does not decode or is shorter than the text says.
StatusCode NativeDoc_GetText(EngineObject* handler, std::uint32_t position,
                             const std::uint8_t** text, std::uint32_t* length) noexcept;
// GetTextBefore: the bytes that end just before position (at most *length, never
// before the start of its block). Position 0 or past the end: null, 0, 0.
StatusCode NativeDoc_GetTextBefore(EngineObject* handler, std::uint32_t position,
                                   const std::uint8_t** text, std::uint32_t* length) noexcept;

// Opens the extra stream when range 15 has records (open step 9): the
// window, its total length and base offsets. A failed allocation leaves the
// stream off (0); a stream whose header does not decode is off as well.
StatusCode NativeStore_OpenExtra(NativeDocState* s) noexcept;
// A pointer into the window at offset and the bytes readable there (at most
// *length). Null and 0 past the stream's end or when the block does not
// decode.
const std::uint8_t* NativeStore_ReadExtra(NativeDocState* s, std::uint32_t offset,
                                          std::uint32_t* length) noexcept;
// Big-endian numbers at an offset, read across a window end; 0 when any
// byte is unreadable.
std::uint32_t NativeStore_ReadExtraU32(NativeDocState* s, std::uint32_t offset) noexcept;
std::uint16_t NativeStore_ReadExtraU16(NativeDocState* s, std::uint32_t offset) noexcept;
// Copies count bytes at offset into *buffer, or into a new block of count
// bytes (count + 1 with a NUL behind when nul is set) when *buffer is null;
// unreadable bytes read as zeros. kMalformed when count is more than the
// stream holds (nothing is allocated); kOutOfMemory.
StatusCode NativeStore_ReadExtraBytes(NativeDocState* s, std::uint32_t offset, std::uint32_t count,
                                      bool nul, std::uint8_t** buffer) noexcept;
// The counted string at offset (u16 length, then the bytes): a new
// NUL-terminated copy in *text (null for length 0) and its length.
StatusCode NativeStore_ReadExtraString(NativeDocState* s, std::uint32_t offset, std::uint8_t** text,
                                       std::uint16_t* length) noexcept;
