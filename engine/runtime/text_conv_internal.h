// The paths behind TextConv_Convert, for tests and fuzz targets that hold the
// fast path against the portable one. Both give the same status, output and
// counters.
#pragma once

#include <cstdint>

#include "engine/runtime/text_conv.h"

enum class TextConvPath : std::uint8_t {
  kPortable,  // one character at a time (ASCII eight bytes at a time)
  kVector,    // UTF-8 to UTF-16LE in its own loop, ASCII 16 bytes at a time with SSE2
};

StatusCode TextConv_ConvertWith(TextConvPath path, TextConvRequest* request) noexcept;
