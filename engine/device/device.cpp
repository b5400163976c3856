#include "engine/device/device.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cstdint>

StatusCode Device_SetWindow(EngineObject* device, void* window, std::int16_t width,
                            std::int16_t height) noexcept {
  if (device == nullptr) return kBadArgument;
  const auto set = DeviceOf(device).setProperty;
  if (width != 0 || height == 0) return set(device, window, width, height);
  DeviceWindowSize record{window, width, height};
  return set(device, &record, 0, DeviceProp::WindowSize);
}

std::int32_t Device_ZoomPoints(std::uint16_t zoomIndex, std::int32_t s) noexcept {
  switch (zoomIndex & DeviceDisplay::ZoomMask) {
    case 0:
      return (36 * s + 13) / 25;
    case 1:
      return (6 * s + 3) / 5;
    case 2:
      return s;
    case 3:
      return 5 * s / 6;
    case 4:
      return 25 * s / 36;
    case 5:
      return 125 * s / 216;
    case 6:
      return 625 * s / 1296;
    default:
      return 3125 * s / 7776;
  }
}

std::int32_t Device_FixedPoints(std::uint16_t zoomIndex) noexcept {
  static constexpr std::array<std::int32_t, 8> kSizes = {18, 14, 12, 10, 8, 7, 6, 5};
  return kSizes[zoomIndex & DeviceDisplay::ZoomMask];
}

int Device_FaceName(const DeviceFaceName& face, std::uint32_t* length) noexcept {
  if (face.faceSlot != DeviceFace::Default && (face.faceSlot == 0 || face.faceSlot > 5)) return -1;
  std::uint32_t n = 0;
  while (face.name != nullptr && n < kDeviceFaceNameMax && face.name[n] != 0)
    ++n;
  if (length) *length = n;
  return face.faceSlot == DeviceFace::Default ? 0 : face.faceSlot;
}

void Device_SetTheme(DeviceTheme* theme, const DeviceThemeEntry* entries) noexcept {
  if (theme == nullptr) return;
  theme->on = entries != nullptr;
  theme->text = DeviceTheme{}.text;
  theme->background = DeviceTheme{}.background;
  if (entries == nullptr) return;
  for (int i = 0; i < 2; ++i) {
    if (entries[i].slot == 1) theme->text = entries[i].colour;
    if (entries[i].slot == 2) theme->background = entries[i].colour;
  }
}

DeviceColour Device_FillColour(const DeviceColour* colour, bool plainMode,
                               const DeviceTheme& theme) noexcept {
  if (plainMode) return kDeviceWindowColour;
  if (theme.on) return theme.background;  // also for a null colour: clears take the theme
  return colour ? *colour : kDeviceWindowColour;
}

DeviceColour Device_LineColour(const DeviceColour* colour, bool plainMode,
                               const DeviceTheme& theme) noexcept {
  if (plainMode) return kDeviceBlack;
  if (theme.on && !theme.suspended) return theme.text;
  return colour ? *colour : kDeviceBlack;
}

DeviceBoxColours Device_BoxColours(const DeviceColour* frame, const DeviceColour* fill,
                                   bool plainMode, const DeviceTheme& theme) noexcept {
  DeviceBoxColours c{false, {}, Device_LineColour(frame, plainMode, theme)};
  if (fill == nullptr || (!plainMode && theme.on && !theme.suspended)) return c;
  c.filled = true;
  c.fill = plainMode ? kDeviceWindowColour : *fill;
  return c;
}

DeviceTextColours Device_TextColours(const DeviceFontSpec& spec, bool plainMode,
                                     const DeviceTheme& theme) noexcept {
  using namespace DeviceFontStyle;
  DeviceTextColours c;
  if (plainMode) {
    if (spec.style & PlainInverse) {
      c.changeText = true;
      c.text = kDeviceWindowColour;
      c.opaque = true;
      c.background = kDeviceBlack;
    }
    return c;
  }
  const bool themeActive = theme.on && !theme.suspended;
  if (themeActive) {
    c.changeText = true;
    c.text = theme.text;
  } else if (spec.style & TextColour) {
    c.changeText = true;
    c.text = spec.text;
  }
  if (spec.style & BackWins) {
    c.opaque = true;
    c.background = spec.background;
  } else if (themeActive) {
    c.opaque = true;
    c.background = theme.background;
  } else if (spec.style & BackColour) {
    c.opaque = true;
    c.background = spec.background;
  }
  return c;
}

std::int16_t Device_UnderlineOffset(std::uint32_t flags, std::int16_t descent) noexcept {
  switch (flags & DeviceTextAlign::VerticalMask) {
    case DeviceTextAlign::Baseline:
      return static_cast<std::int16_t>(descent < 3 ? descent - 1 : 2);
    case DeviceTextAlign::Bottom:
      return -1;
    default:
      return kDeviceNoUnderline;
  }
}

DeviceRect Device_BulletBox(std::int16_t x, std::int16_t y, std::int32_t ascent) noexcept {
  const std::int64_t side = 3 * std::int64_t{ascent} / 8;
  const std::int64_t top = y - 9 * std::int64_t{ascent} / 16;
  auto c16 = [](std::int64_t v) {
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, INT16_MIN, INT16_MAX));
  };
  return {x, c16(top), c16(x + side), c16(top + side)};
}

DeviceScroll Device_ScrollValues(std::uint32_t position, std::uint32_t pageEnd,
                                 std::uint32_t maximum) noexcept {
  pageEnd = std::min(pageEnd, maximum);
  position = std::min(position, pageEnd);
  DeviceScroll v{position, pageEnd - position, maximum, 0, 0, 0};
  const std::int64_t last =
      v.page == 0 ? std::int64_t{maximum} : std::int64_t{maximum} - v.page + 1;
  v.barMaximum = static_cast<int>(std::clamp<std::int64_t>(last, 0, INT_MAX));
  v.barPage = static_cast<int>(std::min<std::uint32_t>(v.page, INT_MAX));
  v.barValue = static_cast<int>(std::min<std::int64_t>(position, v.barMaximum));
  return v;
}

int DeviceHScrollKeys::Find(std::uint32_t key) const noexcept {
  if (key == kNoHScrollKey) return -1;
  for (int i = 0; i < kMaxHScrollBars; ++i)
    if (keys_[i] == key) return i;
  return -1;
}

int DeviceHScrollKeys::Acquire(std::uint32_t key) noexcept {
  if (key == kNoHScrollKey) return -1;
  for (int i = 0; i < kMaxHScrollBars; ++i)
    if (keys_[i] == kNoHScrollKey) {
      keys_[i] = key;
      return i;
    }
  return -1;
}

void DeviceHScrollKeys::Release(int slot) noexcept {
  if (slot >= 0 && slot < kMaxHScrollBars) keys_[slot] = kNoHScrollKey;
}

int DeviceHScrollKeys::SlotOfControl(std::uint32_t controlId) const noexcept {
  if (controlId < kHScrollFirstControlId) return -1;
  const std::uint32_t slot = controlId - kHScrollFirstControlId;
  if (slot >= kMaxHScrollBars || keys_[slot] == kNoHScrollKey) return -1;
  return static_cast<int>(slot);
}

int DeviceHScrollKeys::InUse() const noexcept {
  return static_cast<int>(std::count_if(keys_.begin(), keys_.end(),
                                        [](std::uint32_t k) { return k != kNoHScrollKey; }));
}

int DeviceHScrollKeys::First() const noexcept {
  for (int i = 0; i < kMaxHScrollBars; ++i)
    if (keys_[i] != kNoHScrollKey) return i;
  return -1;
}

std::uint32_t Device_SystemTick() noexcept {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::uint32_t Device_Tick(const DeviceClock& clock) noexcept {
  return clock.tick ? clock.tick(clock.user) : Device_SystemTick();
}

StatusCode Device_ProgressCommand(EngineObject* device, DeviceProgress* progress,
                                  const DeviceClock& clock, std::uint16_t code, void* in,
                                  void* out) noexcept {
  if (progress == nullptr) return kBadArgument;
  auto call = [&](std::uint32_t done, std::uint32_t total) -> StatusCode {
    if (!progress->callback) return kOk;
    return progress->callback(device, progress->userData, done, total);
  };
  switch (code) {
    case PosMapCode::SetInterval:
      if (in == nullptr) return kNullOutPointer;
      progress->interval = *static_cast<const std::uint32_t*>(in);
      return kOk;
    case PosMapCode::SetCallback:
      progress->callback = reinterpret_cast<ProgressCallback>(in);
      progress->userData = out;
      return kOk;
    case PosMapCode::ProgressBegin: {
      if (progress->interval == 0) return kProgressStop;
      const StatusCode answer = call(0, 0);
      progress->stamp = Device_Tick(clock);
      return answer;
    }
    case PosMapCode::ProgressStep: {
      if (progress->interval == 0) return kProgressStop;
      const std::uint32_t done = in ? *static_cast<const std::uint32_t*>(in) : 0;
      const std::uint32_t total = out ? *static_cast<const std::uint32_t*>(out) : 0;
      const StatusCode answer = call(done, total);
      if (Device_Tick(clock) - progress->stamp >= progress->interval) return kProgressStop;
      return answer;
    }
    case PosMapCode::ProgressEnd:
      return call(1, 0);
    default:
      return kNotSupported;
  }
}
