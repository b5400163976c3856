// Base64 (RFC 4648 alphabet, "=" padding) on buffers and between streams,
// called on the module object (g_Base64Module).
//
// Decoding stops for good at the first character outside the alphabet ("="
// included): every complete group of four characters before it gives three
// bytes, a trailing group of three gives two, of two gives one, of one gives
// nothing. The stream decoder skips tab, line feed, carriage return and blank
// and carries partial groups from one piece to the next, so its result does
// not depend on where the line breaks or piece boundaries fall.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

struct Base64Ops {
  CoreEndWord word0;
  // 1: *length = (count + 2) / 3 * 4. 0; kBadArgument when that passes 32
  // bits, kNullOutPointer without an out pointer.
  StatusCode (*encodedLength)(EngineObject* module, std::uint32_t count,
                              std::uint32_t* length) noexcept;
  // 2: writes the (count + 2) / 3 * 4 characters of the encoding, padded with
  // "=", no terminator. 0; kBadArgument for null buffers with a non-zero count.
  StatusCode (*encode)(EngineObject* module, const void* bytes, std::uint32_t count,
                       char* output) noexcept;
  // 3: *length = (count + 3) / 4 * 3, an upper bound of the decoded size. 0.
  StatusCode (*decodedLength)(EngineObject* module, std::uint32_t count,
                              std::uint32_t* length) noexcept;
  // 4: decodes up to the first character outside the alphabet into output
  // (room for decodedLength(count) bytes) and reports the bytes written when
  // written is given. 0; kBadArgument for null buffers with a non-zero count.
  StatusCode (*decode)(EngineObject* module, const char* text, std::uint32_t count, void* output,
                       std::uint32_t* written) noexcept;
  // 5: encodes bytes [start, start + length) of input, clipped to its size,
  // into output at outputOffset. lineLength 0 writes one line; otherwise CR LF
  // separates lines of lineLength characters (no break after the last line).
  // *written (optional) receives the characters written, breaks included; a
  // start at or past the end writes nothing and reports 0. Failures: a read
  // or write failure of the streams (kStreamShortRead / kStreamShortWrite
  // for short transfers), kBadArgument for null streams or when the output
  // would pass 4 GiB.
  StatusCode (*encodeStream)(EngineObject* module, EngineObject* input, std::uint32_t start,
                             std::uint32_t length, EngineObject* output, std::uint32_t outputOffset,
                             std::uint32_t lineLength, std::uint32_t* written) noexcept;
  // 6: decodes characters [start, start + length) of input, clipped to its
  // size, into output at outputOffset; tab, LF, CR and blank are skipped.
  // *written (optional) receives the bytes written. Failures as EncodeStream.
  StatusCode (*decodeStream)(EngineObject* module, EngineObject* input, std::uint32_t start,
                             std::uint32_t length, EngineObject* output, std::uint32_t outputOffset,
                             std::uint32_t* written) noexcept;
  CoreEndWord end;
};

extern EngineObject Base64Module;

StatusCode Base64_EncodedLength(EngineObject* module, std::uint32_t count,
                                std::uint32_t* length) noexcept;
StatusCode Base64_Encode(EngineObject* module, const void* bytes, std::uint32_t count,
                         char* output) noexcept;
StatusCode Base64_DecodedLength(EngineObject* module, std::uint32_t count,
                                std::uint32_t* length) noexcept;
StatusCode Base64_Decode(EngineObject* module, const char* text, std::uint32_t count, void* output,
                         std::uint32_t* written) noexcept;
StatusCode Base64_EncodeStream(EngineObject* module, EngineObject* input, std::uint32_t start,
                               std::uint32_t length, EngineObject* output,
                               std::uint32_t outputOffset, std::uint32_t lineLength,
                               std::uint32_t* written) noexcept;
StatusCode Base64_DecodeStream(EngineObject* module, EngineObject* input, std::uint32_t start,
                               std::uint32_t length, EngineObject* output,
                               std::uint32_t outputOffset, std::uint32_t* written) noexcept;
