// Byte-order helpers.
//
// Stored records are read and written through the Load/Store helpers below,
// one field at a time, never by overlaying a struct: each takes a byte pointer
// (any alignment) and names the byte order of the stored form. They are
// constexpr so they also serve compile-time tables.
//
// The Swap_ family converts whole fixed records in place between the
// big-endian form kept in handheld record databases and host order. Each
// returns its argument; the same call converts in both directions (on a
// big-endian host they leave the bytes alone). Bytes of a record that are not
// numeric fields (characters, single bytes, reserved bytes) stay as they are.
#pragma once

#include <cstdint>

// Loads and stores over unaligned bytes.
constexpr std::uint16_t LoadBE16(const std::uint8_t* p) noexcept {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
constexpr std::uint32_t LoadBE32(const std::uint8_t* p) noexcept {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}
constexpr std::uint16_t LoadLE16(const std::uint8_t* p) noexcept {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
constexpr std::uint32_t LoadLE32(const std::uint8_t* p) noexcept {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}
constexpr void StoreBE16(std::uint8_t* p, std::uint16_t v) noexcept {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
constexpr void StoreBE32(std::uint8_t* p, std::uint32_t v) noexcept {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}
constexpr void StoreLE16(std::uint8_t* p, std::uint16_t v) noexcept {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
constexpr void StoreLE32(std::uint8_t* p, std::uint32_t v) noexcept {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

// Reverses a stored field in place between big-endian and host order: a u16
// field exchanges its two bytes, a u32 field reverses its four, on
// little-endian hosts only.
void Swap_Field16(std::uint8_t* p) noexcept;
void Swap_Field32(std::uint8_t* p) noexcept;

// Record layouts (byte offset: width). Each swaps in place and returns record.
// One u16 at 0.
void* Swap_U16(void* record) noexcept;
// u16 at 0 and 2 (annotation binding fields of the text view).
void* Swap_U16Pair(void* record) noexcept;
// u16 at 0, 2, 4, 6 (header of a named-position-list record).
void* Swap_U16Quad(void* record) noexcept;
// Reading-state record whose first u16 is its own size: u16 at 0, 2, 12, 14;
// u32 at 4, 8; and, when the size is at least 32, u16 at 16 and 24. The size
// is tested in host order: after swapping when toHost (reading stored
// big-endian bytes), before swapping otherwise (writing).
void* Swap_SettingsHeader(void* record, bool toHost) noexcept;
// Header of the native document format: u16 at 0, 12, 24, 26, 28, 30, 32, 34,
// 36, 38, 46, 56, 58, 60, 62, 64; u32 at 20, 40, 48 (66 bytes).
void* Swap_NativeDocHeader(void* record) noexcept;
// Header of the second document format: u16 at 0, 2, 16, 18, 20, 22, 24, 26,
// 28, 30, 36, 38, 40, 42, 44, 46, 48, 50, 52, 54; u32 at 12, 32 (56 bytes).
void* Swap_SecondFormatHeader(void* record) noexcept;
