// The paths behind Checksum_Crc32 and Checksum_Adler32, for tests that hold
// each of them against a peer and against the portable path: the portable
// slicing-by-eight tables and whether the carry-less multiplication path is
// used on this machine; the Adler-32 paths by name.
#pragma once

#include <cstdint>

std::uint32_t Checksum_Crc32Portable(const std::uint8_t* data, std::uint32_t length,
                                     std::uint32_t crc) noexcept;
bool Checksum_HaveCrc32Clmul() noexcept;

enum class ChecksumAdlerPath : std::uint8_t {
  kPortable,  // a byte at a time, any processor
  kSse2,      // 32 bytes a step with SSE2 (x86-64)
  kAvx2,      // 64 bytes a step with AVX2 (x86-64, chosen at run time)
};
// Whether this build and processor have the path.
bool Checksum_HaveAdler32Path(ChecksumAdlerPath path) noexcept;
// Adler-32 through the given path (which must be available); the value as
// Checksum_Adler32 takes and returns it.
std::uint32_t Checksum_Adler32With(ChecksumAdlerPath path, const std::uint8_t* data,
                                   std::uint32_t length, std::uint32_t value) noexcept;
std::uint32_t Checksum_Adler32Portable(const std::uint8_t* data, std::uint32_t length,
                                       std::uint32_t value) noexcept;
