// The PalmDoc compression scheme: a byte-oriented LZ77 variant in which each
// text record of a Palm Doc database is compressed on its own.
//
// Byte classes, read one at a time from the record:
//   0x00, 0x09-0x7F  the byte itself
//   0x01-0x08 (c)    the next c bytes as they are (cut to what the record holds)
//   0x80-0xBF, d     back reference: distance ((c & 0x3F) << 5) | (d >> 3),
//                    0-2047, length (d & 7) + 3, copied byte by byte so a copy
//                    may overlap its own output
//   0xC0-0xFF        a space followed by the byte c & 0x7F
// A back reference whose second byte is missing (the record's last byte) ends
// the record.
//
// Damaged records still decode: a distance larger than the output so far is
// cut to it, and a back reference left with distance 0 (stored as 0, or met
// before any output) has nothing to copy and gives spaces. The decoder never
// reads or writes outside the record and the buffer given, whatever the
// record holds.
#pragma once

#include <cstdint>

#include "engine/runtime/status.h"

// Largest distance and length of a back reference.
constexpr std::uint32_t kPalmLzMaxDistance = 2047;
constexpr std::uint32_t kPalmLzMaxMatch = 10;

// The measuring pass: *length = the number of bytes the record decodes to,
// found by skipping over the tokens without writing any text. kNullOutPointer
// without an out pointer; kBadArgument for a null record with a non-zero
// size; kMalformed when the length would not fit in 32 bits.
StatusCode PalmDocLz_MeasureRecord(const std::uint8_t* data, std::uint32_t size,
                                   std::uint32_t* length) noexcept;

// The decoding pass: writes the first min(decoded length, capacity) bytes of
// the record's output into buffer and sets *length to the whole decoded length,
// which may exceed capacity (bytes past capacity are counted, not written).
// Bytes of the buffer past the decoded length may be overwritten. Failures as
// for the measuring pass, also kBadArgument for a null buffer with a non-zero
// capacity.
StatusCode PalmDocLz_Decode(const std::uint8_t* data, std::uint32_t size, std::uint8_t* buffer,
                            std::uint32_t capacity, std::uint32_t* length) noexcept;
