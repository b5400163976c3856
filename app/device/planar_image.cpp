#include "app/device/planar_image.h"

#include <cstddef>

namespace {

std::uint32_t Clamp6(std::int16_t v) {
  if (v < 0) return 0;
  if (v >= 16320) return 255;
  return static_cast<std::uint32_t>((v + 32) / 64);
}

}  // namespace

std::uint32_t PlanarImage_YCbCrToRgb(std::uint8_t y, std::uint8_t cb, std::uint8_t cr) noexcept {
  // Every intermediate fits in 16 bits: |64Y| <= 16320 and each term <= 113 * 128.
  const int yy = 64 * y, b = cb - 128, r = cr - 128;
  const auto red = static_cast<std::int16_t>(yy + 90 * r);
  const auto green = static_cast<std::int16_t>(yy - 22 * b - 46 * r);
  const auto blue = static_cast<std::int16_t>(yy + 113 * b);
  return 0xFF000000u | (Clamp6(red) << 16) | (Clamp6(green) << 8) | Clamp6(blue);
}

StatusCode PlanarImage_Decode(const DevicePlanarImage& image, bool ycbcr,
                              EngineBuffer<std::uint32_t>* pixels) noexcept {
  if (pixels == nullptr) return kNullOutPointer;
  const std::int32_t w = image.width, h = image.height;
  if (w < 0 || h < 0 || w > kPlanarMaxSide || h > kPlanarMaxSide) return kMalformed;
  const bool colour = image.planes[1] != nullptr && image.planes[2] != nullptr;
  if (image.planes[0] == nullptr || (!colour && (image.planes[1] || image.planes[2])))
    return kMalformed;
  if (image.rowBytes < w) return kMalformed;
  if (w == 0 || h == 0) {
    pixels->reset();
    return kOk;
  }
  std::uint32_t* out = nullptr;
  if (Engine_AllocArray(static_cast<std::uint32_t>(w * h), &out) != kOk) return kOutOfMemory;
  pixels->reset(out);
  for (std::int32_t row = 0; row < h; ++row) {
    const std::size_t at = std::size_t{image.rowBytes} * row;
    const std::uint8_t* p0 = image.planes[0] + at;
    std::uint32_t* o = out + std::size_t{static_cast<std::uint32_t>(w)} * row;
    if (!colour) {
      for (std::int32_t x = 0; x < w; ++x)
        o[x] = 0xFF000000u | (std::uint32_t{p0[x]} * 0x010101u);
      continue;
    }
    const std::uint8_t* p1 = image.planes[1] + at;
    const std::uint8_t* p2 = image.planes[2] + at;
    for (std::int32_t x = 0; x < w; ++x)
      o[x] = ycbcr
                 ? PlanarImage_YCbCrToRgb(p0[x], p1[x], p2[x])
                 : 0xFF000000u | (std::uint32_t{p0[x]} << 16) | (std::uint32_t{p1[x]} << 8) | p2[x];
  }
  return kOk;
}
