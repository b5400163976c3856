// MD5 message digests (RFC 1321), called on the module object (g_Md5Module).
//
// The caller owns the context and feeds the message in any number of pieces:
// Init, Update..., Final. Final leaves the context wiped; Init it again before
// reuse.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// 88 bytes: the four chaining words, the message length in bits (low word
// first) and the partial block.
struct Md5Context {
  std::uint32_t state[4];
  std::uint32_t bitCount[2];
  std::uint8_t buffer[64];
};

struct Md5Ops {
  CoreEndWord word0;
  // 1: starts a digest. 0; kNullOutPointer without a context.
  StatusCode (*init)(EngineObject* module, Md5Context* context) noexcept;
  // 2: adds count bytes (data may be null when count is 0). 0; kBadArgument
  // without a context, or without data for a non-zero count.
  StatusCode (*update)(EngineObject* module, Md5Context* context, const void* data,
                       std::uint32_t count) noexcept;
  // 3: pads, writes the 16-byte digest and zeroes the context. 0;
  // kBadArgument without a context, kNullOutPointer without a digest buffer.
  StatusCode (*final)(EngineObject* module, Md5Context* context, std::uint8_t* digest) noexcept;
  // 4: writes the digest as 32 lower-case hex digits, high nibble first, with
  // no terminator. 0; kBadArgument / kNullOutPointer for null pointers.
  StatusCode (*hexDigest)(EngineObject* module, const std::uint8_t* digest, char* out) noexcept;
  CoreEndWord end;
};

extern EngineObject Md5Module;

StatusCode Md5_Init(EngineObject* module, Md5Context* context) noexcept;
StatusCode Md5_Update(EngineObject* module, Md5Context* context, const void* data,
                      std::uint32_t count) noexcept;
StatusCode Md5_Final(EngineObject* module, Md5Context* context, std::uint8_t* digest) noexcept;
StatusCode Md5_HexDigest(EngineObject* module, const std::uint8_t* digest, char* out) noexcept;
