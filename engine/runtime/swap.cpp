#include "engine/runtime/swap.h"

#include <bit>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <utility>

namespace {

constexpr bool kHostIsBig = std::endian::native == std::endian::big;

void SwapFields(std::uint8_t* base, std::initializer_list<std::size_t> u16At,
                std::initializer_list<std::size_t> u32At) noexcept {
  for (const std::size_t at : u16At)
    Swap_Field16(base + at);
  for (const std::size_t at : u32At)
    Swap_Field32(base + at);
}

}  // namespace

void Swap_Field16(std::uint8_t* p) noexcept {
  if constexpr (!kHostIsBig) std::swap(p[0], p[1]);
}

void Swap_Field32(std::uint8_t* p) noexcept {
  if constexpr (!kHostIsBig) {
    std::swap(p[0], p[3]);
    std::swap(p[1], p[2]);
  }
}

void* Swap_U16(void* record) noexcept {
  SwapFields(static_cast<std::uint8_t*>(record), {0}, {});
  return record;
}

void* Swap_U16Pair(void* record) noexcept {
  SwapFields(static_cast<std::uint8_t*>(record), {0, 2}, {});
  return record;
}

void* Swap_U16Quad(void* record) noexcept {
  SwapFields(static_cast<std::uint8_t*>(record), {0, 2, 4, 6}, {});
  return record;
}

void* Swap_SettingsHeader(void* record, bool toHost) noexcept {
  auto* p = static_cast<std::uint8_t*>(record);
  // The size field decides the layout, so it must be read while in host order.
  std::uint16_t hostSize = 0;
  if (!toHost) std::memcpy(&hostSize, p, 2);
  SwapFields(p, {0, 2, 12, 14}, {4, 8});
  if (toHost) std::memcpy(&hostSize, p, 2);
  if (hostSize >= 32) SwapFields(p, {16, 24}, {});
  return record;
}

void* Swap_NativeDocHeader(void* record) noexcept {
  SwapFields(static_cast<std::uint8_t*>(record),
             {0, 12, 24, 26, 28, 30, 32, 34, 36, 38, 46, 56, 58, 60, 62, 64}, {20, 40, 48});
  return record;
}

void* Swap_SecondFormatHeader(void* record) noexcept {
  SwapFields(static_cast<std::uint8_t*>(record),
             {0, 2, 16, 18, 20, 22, 24, 26, 28, 30, 36, 38, 40, 42, 44, 46, 48, 50, 52, 54},
             {12, 32});
  return record;
}
