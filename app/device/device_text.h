// Engine text as UTF-16 for the window device: converts a run of bytes in the
// device charset through the engine's text conversion and remembers, for
// every UTF-16 unit, where its character starts and ends in the source, so
// that widths found per character map back to per-byte positions.
//
// Runs of up to 256 units are converted into buffers inside the object; only
// longer runs allocate (from the engine allocator).
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "engine/runtime/allocator.h"
#include "engine/runtime/core.h"

constexpr std::uint32_t kDeviceTextWindows1252 = 2252;
// UTF-16 in the host's byte order: what engine text becomes for Qt.
constexpr std::uint32_t kDeviceTextHostUtf16 =
    std::endian::native == std::endian::little ? 1014 : 1013;

// The text conversion module the device converts through (the registered
// one, else the built-in module).
EngineObject* DeviceText_Converter() noexcept;

class DeviceText {
 public:
  DeviceText() = default;
  DeviceText(const DeviceText&) = delete;
  DeviceText& operator=(const DeviceText&) = delete;

  // Converts count bytes of charset (0 = windows-1252; an unsupported
  // charset is read as windows-1252). With map, also fills the unit-to-byte
  // map. kOutOfMemory; other conversion failures are passed on.
  StatusCode Convert(std::uint32_t charset, const std::uint8_t* text, std::uint32_t count,
                     bool map) noexcept;

  const char16_t* Units() const noexcept { return units_; }
  std::uint32_t Size() const noexcept { return size_; }
  // The source bytes [Start(i), End(i)) of the character that unit i belongs
  // to (valid after a Convert with map). All units of one character, and
  // both units of a surrogate pair, share them.
  std::uint32_t Start(std::uint32_t unit) const noexcept { return starts_[unit]; }
  std::uint32_t End(std::uint32_t unit) const noexcept { return ends_[unit]; }

 private:
  StatusCode Reserve(std::uint32_t units, bool keep) noexcept;
  StatusCode ConvertInto(std::uint32_t mib, const std::uint8_t* text, std::uint32_t count,
                         std::uint32_t flags, std::uint32_t at, std::uint32_t capacityUnits,
                         std::uint32_t* consumed, std::uint32_t* produced) noexcept;
  bool MapByCharacters(std::uint32_t mib, const std::uint8_t* text, std::uint32_t count) noexcept;
  StatusCode MapOneByOne(std::uint32_t mib, const std::uint8_t* text, std::uint32_t count) noexcept;

  static constexpr std::uint32_t kStackUnits = 256;
  std::array<char16_t, kStackUnits> stackUnits_{};
  std::array<std::uint32_t, kStackUnits> stackStarts_{};
  std::array<std::uint32_t, kStackUnits> stackEnds_{};
  EngineBuffer<char16_t> heapUnits_;
  EngineBuffer<std::uint32_t> heapStarts_;
  EngineBuffer<std::uint32_t> heapEnds_;
  char16_t* units_ = stackUnits_.data();
  std::uint32_t* starts_ = stackStarts_.data();
  std::uint32_t* ends_ = stackEnds_.data();
  std::uint32_t capacity_ = kStackUnits;
  std::uint32_t size_ = 0;
};

// Whether unit u starts a surrogate pair with the unit after it.
inline bool DeviceText_IsPairStart(const char16_t* units, std::uint32_t i, std::uint32_t n) {
  return i + 1 < n && units[i] >= 0xD800 && units[i] <= 0xDBFF && units[i + 1] >= 0xDC00 &&
         units[i + 1] <= 0xDFFF;
}
