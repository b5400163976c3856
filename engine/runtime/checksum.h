// Running checksums over byte buffers, called on the module object
// (g_ChecksumModule).
//
// Each operation reads the running value from *value, updates it over the
// bytes and writes it back, so a long input may be fed in pieces. No initial
// value is applied and nothing is inverted inside: the caller seeds the value
// and applies any final step (the usual CRC-32 is seeded 0xFFFFFFFF and
// inverted afterwards; the usual Adler-32 is seeded 1). A zero length leaves
// the value as it was; data may then be null.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

struct ChecksumOps {
  CoreEndWord word0;
  // 1: CRC-32, reflected polynomial 0xEDB88320, least significant bit first;
  // the raw register is read and written. 0.
  StatusCode (*crc32)(EngineObject* module, const void* data, std::uint32_t length,
                      std::uint32_t* value) noexcept;
  // 2: as slot 1, with each byte A-Z taken as a-z first (names hashed without
  // regard to ASCII case). 0.
  StatusCode (*crc32Folded)(EngineObject* module, const void* data, std::uint32_t length,
                            std::uint32_t* value) noexcept;
  // 3: Adler-32: s1 in the low 16 bits, s2 in the high 16 bits. 0.
  StatusCode (*adler32)(EngineObject* module, const void* data, std::uint32_t length,
                        std::uint32_t* value) noexcept;
  CoreEndWord end;
};

extern EngineObject ChecksumModule;

StatusCode Checksum_Crc32(EngineObject* module, const void* data, std::uint32_t length,
                          std::uint32_t* value) noexcept;
StatusCode Checksum_Crc32Folded(EngineObject* module, const void* data, std::uint32_t length,
                                std::uint32_t* value) noexcept;
StatusCode Checksum_Adler32(EngineObject* module, const void* data, std::uint32_t length,
                            std::uint32_t* value) noexcept;
