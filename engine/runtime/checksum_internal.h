// The two CRC-32 paths behind Checksum_Crc32, for tests that hold each of
// them against a peer: the portable slicing-by-eight tables, and whether the
// carry-less multiplication path is used on this machine.
#pragma once

#include <cstdint>

std::uint32_t Checksum_Crc32Portable(const std::uint8_t* data, std::uint32_t length,
                                     std::uint32_t crc) noexcept;
bool Checksum_HaveCrc32Clmul() noexcept;
