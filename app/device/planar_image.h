// Planar images (decoded DCT pictures): three planes of one byte per pixel,
// read as red, green and blue, or as Y, Cb and Cr, or a grey plane alone when
// planes 1 and 2 are absent. Turned into 0xFFRRGGBB pixels for drawing.
#pragma once

#include <cstdint>

#include "engine/device/device.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/core.h"

constexpr std::int32_t kPlanarMaxSide = 8192;

// One YCbCr sample to RGB with the 6-bit fixed-point coefficients of the
// format (R = 64Y + 90(Cr-128), G = 64Y - 22(Cb-128) - 46(Cr-128),
// B = 64Y + 113(Cb-128); negative -> 0, 16320 or more -> 255, else
// (v + 32) / 64), as 0xFFRRGGBB.
std::uint32_t PlanarImage_YCbCrToRgb(std::uint8_t y, std::uint8_t cb, std::uint8_t cr) noexcept;

// Decodes into width x height pixels (engine memory) row by row.
// kMalformed: a null plane 0, only one of planes 1 and 2, bytes per row below
// the width, a negative size or one above the cap. A 0 x 0 image gives no
// pixels and 0. kOutOfMemory.
StatusCode PlanarImage_Decode(const DevicePlanarImage& image, bool ycbcr,
                              EngineBuffer<std::uint32_t>* pixels) noexcept;
