#include "engine/view/device.h"

#include <array>
#include <chrono>

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
    return progress->callback ? progress->callback(device, progress->userData, done, total) : kOk;
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
