// Decodes arbitrary bytes as a Palm bitmap record: families, colour tables,
// scan-line, RLE and PackBits rows. The decoder must answer a status only,
// read nothing outside the record and give opaque pixels for what it accepts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "engine/device/palm_bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0x100000) return 0;
  PalmBitmapImage image;
  const StatusCode s = PalmBitmap_Decode(data, static_cast<std::uint32_t>(size), &image);
  if (s != kOk && s != kNoMore && s != kMalformed && s != kOutOfMemory) std::abort();
  if (s == kOk) {
    const std::size_t n = std::size_t{image.width} * image.height;
    if (n > 0 && !image.pixels) std::abort();
    for (std::size_t i = 0; i < n; ++i)
      if ((image.pixels.get()[i] >> 24) != 0xFF) std::abort();
  }
  return 0;
}
