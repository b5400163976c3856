// The paths behind DctImage_Decode and DctImage_InverseDct, for tests and
// fuzz targets that hold the fast paths against the portable one. Every path
// gives the same status and the same samples.
#pragma once

#include <cstdint>

#include "engine/codecs/dct.h"

enum class DctPath : std::uint8_t {
  kPortable,  // the flow graph in 64-bit arithmetic, any processor
  kSse2,      // 32-bit lanes with SSE2 where they are exact (x86-64)
  kAvx2,      // the same with AVX2, chosen at run time when the processor has it
};

// Whether this build and processor have the path; a path it lacks runs as
// the best it has.
bool DctImage_HavePath(DctPath path) noexcept;
StatusCode DctImage_DecodeWith(DctPath path, DctImageDecoder* decoder, const std::uint8_t* data,
                               std::uint32_t length, std::uint32_t rows, std::uint32_t cols,
                               bool chroma, DctTile* tile) noexcept;
void DctImage_InverseDctWith(DctPath path, const std::int32_t in[64], std::uint8_t* out,
                             std::uint32_t stride) noexcept;
