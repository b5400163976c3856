// The reading view's input rules, without Qt: the clock its timers read, the
// auto-scroll rate and steps, wheel notches from high-resolution deltas, and
// what the arrow keys do under each of their preference choices.
#pragma once

#include <cstdint>

// The milliseconds the view's timers measure time with (wrapping u32). Tests
// hand the view a clock they move by hand.
class ViewClock {
 public:
  virtual ~ViewClock() = default;
  virtual std::uint32_t NowMs() = 0;
};
// The steady clock of the process.
ViewClock& ViewClock_System();

// Auto-scroll speeds run from 1 to 20; 0 (never set) means 10.
constexpr std::uint8_t kAutoScrollSlowest = 1;
constexpr std::uint8_t kAutoScrollFastest = 20;
// The speed as auto-scroll uses it (0 becomes 10, above 20 becomes 20).
std::uint8_t AutoScroll_ClampSpeed(std::uint8_t speed) noexcept;
// Pixels per millisecond in 16.16 fixed point for a clamped speed: b starts
// at 1 and grows speed - 1 times to (4b + 2) / 3; the rate is b x 12288
// rounded down to a multiple of 8192, over 1000, and at least 1.
std::uint32_t AutoScroll_Rate(std::uint8_t speed) noexcept;

// The timing of auto-scroll steps: pixels are owed at the rate since the last
// step, and the fraction not yet scrolled carries over.
struct AutoScrollTiming {
  std::uint32_t rate = 0;        // 16.16 pixels per millisecond
  std::uint32_t remainder = 0;   // 16.16 pixels owed from earlier steps
  std::uint32_t tick = 0;        // when the last step scrolled
  std::int32_t pendingLine = 0;  // line-at-a-time: the height waited for (0: none)

  void Start(std::uint32_t newRate, std::uint32_t now) noexcept {
    rate = newRate;
    remainder = 0;
    tick = now;
    pendingLine = 0;
  }
  // 16.16 pixels owed now (64 bits: a long stall cannot wrap it).
  std::uint64_t Owed(std::uint32_t now) const noexcept {
    return std::uint64_t{static_cast<std::uint32_t>(now - tick)} * rate + remainder;
  }
  // Whole pixels to scroll for owed (at most 0x7FFF, the pointer event's range).
  static std::int32_t WholePixels(std::uint64_t owed) noexcept {
    const std::uint64_t n = owed >> 16;
    return n > 0x7FFF ? 0x7FFF : static_cast<std::int32_t>(n);
  }
  // After scrolling n pixels of owed: the rest carries over (a stall whose
  // debt could not be scrolled keeps at most one pixel's fraction).
  void Scrolled(std::uint32_t now, std::uint64_t owed, std::int32_t n) noexcept {
    tick = now;
    const std::uint64_t used = std::uint64_t(static_cast<std::uint32_t>(n)) << 16;
    const std::uint64_t rest = owed > used ? owed - used : 0;
    remainder = static_cast<std::uint32_t>(rest > 0xFFFF ? 0xFFFF : rest);
  }
};

// The speed drag of auto-scroll: a sixteenth of the client height per speed
// step. The drag starts once the pointer is a full step from where it was
// pressed; each whole step up raises the speed, each step down lowers it, and
// the reference moves by the steps used.
struct SpeedDrag {
  int referenceY = 0;
  bool started = false;
  // Steps taken by a move to y (positive: up, faster); 0 before the drag starts
  // or with no whole step.
  int Move(int y, int clientHeight) noexcept;
};

// Wheel notches from angle deltas (120 per notch; high-resolution wheels send
// parts of one). A change of direction drops the part of a notch gathered.
class WheelAccumulator {
 public:
  // Whole notches now due: positive away from the user (towards the start).
  int Add(int delta) noexcept;
  int pending() const noexcept { return pending_; }

 private:
  int pending_ = 0;
};

// What one wheel notch does for the system's wheel line count.
struct WheelPlan {
  enum Kind : std::uint8_t { Nothing, Lines, Screen } kind = Nothing;
  std::uint32_t lines = 0;
};
// -1 scrolls a screen; 0 nothing; more lines than 100 scroll 100 (the count
// read unsigned, so other negatives are 100 too).
WheelPlan Wheel_Plan(int systemLines) noexcept;

// The arrow keys' actions.
enum class ArrowAction : std::uint8_t {
  LineUp,
  LineDown,
  ScreenUp,
  ScreenDown,
  LineLeft,
  LineRight,
  PageLeft,
  PageRight,
};
enum class ArrowKey : std::uint8_t { Up, Down, Left, Right };
// choice: the key's byte in the preferences (keyUp, keyDown, keyLeft, keyRight).
ArrowAction Arrow_Action(ArrowKey key, std::uint8_t choice) noexcept;
