// The paths behind PalmDocLz_Decode and PalmDocLz_MeasureRecord, for tests
// and fuzz targets that hold the fast paths against the portable one. Every
// path gives the same status, length and bytes.
#pragma once

#include <cstdint>

#include "engine/runtime/status.h"

enum class PalmLzPath : std::uint8_t {
  kPortable,  // one token at a time, any processor
  kWords,     // several tokens per 8-byte load, any processor
  kSse2,      // 64-byte blocks classified with SSE2, then kWords (x86-64)
  kAvx2,      // kSse2 with AVX2 classifying and BMI finding tokens (chosen at run time)
};

// Whether this build and processor have the path; a path they lack runs as
// the best they have.
bool PalmDocLz_HavePath(PalmLzPath path) noexcept;
StatusCode PalmDocLz_MeasureWith(PalmLzPath path, const std::uint8_t* data, std::uint32_t size,
                                 std::uint32_t* length) noexcept;
StatusCode PalmDocLz_DecodeWith(PalmLzPath path, const std::uint8_t* data, std::uint32_t size,
                                std::uint8_t* buffer, std::uint32_t capacity,
                                std::uint32_t* length) noexcept;
