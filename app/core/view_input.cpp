#include "app/core/view_input.h"

#include <chrono>

namespace {

class SteadyClock : public ViewClock {
 public:
  std::uint32_t NowMs() override {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
};

}  // namespace

ViewClock& ViewClock_System() {
  static SteadyClock clock;
  return clock;
}

std::uint8_t AutoScroll_ClampSpeed(std::uint8_t speed) noexcept {
  if (speed == 0) return 10;
  return speed > kAutoScrollFastest ? kAutoScrollFastest : speed;
}

std::uint32_t AutoScroll_Rate(std::uint8_t speed) noexcept {
  const std::uint8_t s = AutoScroll_ClampSpeed(speed);
  std::uint32_t b = 1;
  for (int i = 1; i < s; ++i)
    b = (4 * b + 2) / 3;
  const std::uint32_t rate = ((b * 12288) & ~std::uint32_t{8191}) / 1000;
  return rate == 0 ? 1 : rate;
}

int SpeedDrag::Move(int y, int clientHeight) noexcept {
  const int step = clientHeight / 16;
  if (step <= 0) return 0;
  const int distance = referenceY - y;  // upwards positive
  const int steps = distance / step;    // whole steps, towards zero
  if (!started) {
    if (steps == 0) return 0;
    started = true;
  }
  referenceY -= steps * step;
  return steps;
}

int WheelAccumulator::Add(int delta) noexcept {
  constexpr int kNotch = 120;
  if ((delta > 0 && pending_ < 0) || (delta < 0 && pending_ > 0)) pending_ = 0;
  pending_ += delta;
  const int notches = pending_ / kNotch;
  pending_ -= notches * kNotch;
  return notches;
}

WheelPlan Wheel_Plan(int systemLines) noexcept {
  if (systemLines == -1) return {WheelPlan::Screen, 0};
  if (systemLines == 0) return {};
  const auto lines = static_cast<std::uint32_t>(systemLines);
  return {WheelPlan::Lines, lines > 100 ? 100 : lines};
}

ArrowAction Arrow_Action(ArrowKey key, std::uint8_t choice) noexcept {
  switch (key) {
    case ArrowKey::Up:
      switch (choice) {
        case 1:
          return ArrowAction::LineUp;
        case 2:
          return ArrowAction::LineDown;
        case 3:
          return ArrowAction::ScreenDown;
        default:
          return ArrowAction::ScreenUp;
      }
    case ArrowKey::Down:
      switch (choice) {
        case 0:
          return ArrowAction::ScreenUp;
        case 1:
          return ArrowAction::LineUp;
        case 2:
          return ArrowAction::LineDown;
        default:
          return ArrowAction::ScreenDown;
      }
    case ArrowKey::Left:
      switch (choice) {
        case 1:
          return ArrowAction::LineLeft;
        case 2:
          return ArrowAction::LineRight;
        case 3:
          return ArrowAction::PageRight;
        default:
          return ArrowAction::PageLeft;
      }
    case ArrowKey::Right:
      switch (choice) {
        case 0:
          return ArrowAction::PageLeft;
        case 1:
          return ArrowAction::LineLeft;
        case 2:
          return ArrowAction::LineRight;
        default:
          return ArrowAction::PageRight;
      }
  }
  return ArrowAction::ScreenDown;
}
