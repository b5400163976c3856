#include "app/device/device_text.h"

#include <cstring>

#include "engine/runtime/module_table.h"
#include "engine/runtime/text_conv.h"

EngineObject* DeviceText_Converter() noexcept {
  return g_TextConvModule ? g_TextConvModule : &TextConvModule;
}

StatusCode DeviceText::Reserve(std::uint32_t units, bool keep) noexcept {
  if (units <= capacity_) return kOk;
  char16_t* u = nullptr;
  std::uint32_t* s = nullptr;
  std::uint32_t* e = nullptr;
  if (Engine_AllocArray(units, &u) != kOk) return kOutOfMemory;
  EngineBuffer<char16_t> newUnits(u);
  if (Engine_AllocArray(units, &s) != kOk) return kOutOfMemory;
  EngineBuffer<std::uint32_t> newStarts(s);
  if (Engine_AllocArray(units, &e) != kOk) return kOutOfMemory;
  EngineBuffer<std::uint32_t> newEnds(e);
  if (keep) {
    std::memcpy(u, units_, size_ * sizeof(char16_t));
    std::memcpy(s, starts_, size_ * sizeof(std::uint32_t));
    std::memcpy(e, ends_, size_ * sizeof(std::uint32_t));
  }
  heapUnits_ = std::move(newUnits);
  heapStarts_ = std::move(newStarts);
  heapEnds_ = std::move(newEnds);
  units_ = u;
  starts_ = s;
  ends_ = e;
  capacity_ = units;
  return kOk;
}

StatusCode DeviceText::ConvertInto(std::uint32_t mib, const std::uint8_t* text, std::uint32_t count,
                                   std::uint32_t flags, std::uint32_t at,
                                   std::uint32_t capacityUnits, std::uint32_t* consumed,
                                   std::uint32_t* produced) noexcept {
  TextConvRequest request{};
  request.flags = flags;
  request.sourceMib = mib;
  request.source = text;
  request.sourceLength = count;
  request.targetMib = kDeviceTextHostUtf16;
  request.target = units_ + at;
  request.targetCapacity = capacityUnits * 2;
  const StatusCode s =
      OpsOf<TextConvOps>(DeviceText_Converter()).convert(DeviceText_Converter(), &request);
  *consumed = request.consumed;
  *produced = request.targetCapacity;
  return s;
}

StatusCode DeviceText::Convert(std::uint32_t charset, const std::uint8_t* text, std::uint32_t count,
                               bool map) noexcept {
  size_ = 0;
  if (count == 0) return kOk;
  if (text == nullptr) return kBadArgument;
  std::uint32_t mib = charset ? charset : kDeviceTextWindows1252;
  std::uint32_t consumed = 0, produced = 0;
  StatusCode s = ConvertInto(mib, text, count, 0, 0, capacity_, &consumed, &produced);
  if (s == kNotSupported && mib != kDeviceTextWindows1252) {
    mib = kDeviceTextWindows1252;
    s = ConvertInto(mib, text, count, 0, 0, capacity_, &consumed, &produced);
  }
  if (s == kTextConvTargetTooSmall) {
    const StatusCode r = Reserve((produced + 1) / 2, false);
    if (r != kOk) return r;
    s = ConvertInto(mib, text, count, 0, 0, capacity_, &consumed, &produced);
  }
  if (s != kOk) return s;
  size_ = produced / 2;
  if (!map || MapByCharacters(mib, text, count)) return kOk;
  return MapOneByOne(mib, text, count);
}

// The usual path: the charset's own character lengths, one code point per
// character. Answers false when the output does not line up with them.
bool DeviceText::MapByCharacters(std::uint32_t mib, const std::uint8_t* text,
                                 std::uint32_t count) noexcept {
  std::array<std::uint8_t, kStackUnits> stackLengths;
  EngineBuffer<std::uint8_t> heapLengths;
  std::uint8_t* lengths = stackLengths.data();
  if (count > kStackUnits) {
    if (Engine_AllocArray(count, &lengths) != kOk) return false;
    heapLengths.reset(lengths);
  }
  std::uint32_t bytes = count, chars = count;
  if (TextConv_MeasureChars(DeviceText_Converter(), 0, mib, text, &bytes, lengths, &chars) != kOk ||
      bytes != count || chars > count)
    return false;
  std::uint32_t unit = 0, pos = 0;
  for (std::uint32_t c = 0; c < chars; ++c) {
    if (unit >= size_ || lengths[c] == 0) return false;
    const std::uint32_t n = DeviceText_IsPairStart(units_, unit, size_) ? 2 : 1;
    for (std::uint32_t k = 0; k < n; ++k) {
      starts_[unit + k] = pos;
      ends_[unit + k] = pos + lengths[c];
    }
    unit += n;
    pos += lengths[c];
  }
  return unit == size_ && pos == count;
}

// The careful path: one character at a time, rebuilding the units so that
// they and the map agree whatever the charset does.
StatusCode DeviceText::MapOneByOne(std::uint32_t mib, const std::uint8_t* text,
                                   std::uint32_t count) noexcept {
  size_ = 0;
  std::uint32_t pos = 0;
  while (pos < count) {
    if (Reserve(size_ + 2, true) != kOk) return kOutOfMemory;
    std::uint32_t consumed = 0, produced = 0;
    for (std::uint32_t room = 1; room <= 2; ++room) {
      // Only the counts matter here: a failed step produces nothing and is
      // handled as an unconvertible byte below.
      (void)ConvertInto(mib, text + pos, count - pos, kConvStopWhenFull, size_, room, &consumed,
                        &produced);
      if (produced != 0) break;
    }
    if (consumed == 0) consumed = count - pos;  // nothing more converts: the rest is one piece
    for (std::uint32_t k = 0; k < produced / 2; ++k) {
      starts_[size_ + k] = pos;
      ends_[size_ + k] = pos + consumed;
    }
    size_ += produced / 2;
    pos += consumed;
  }
  return kOk;
}
