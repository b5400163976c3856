// Parses arbitrary bytes as a rule field of each type and checks that the
// set formats and parses back to itself; then reads the same bytes as a rule
// and three dates and asks for the next occurrence, which must either fail
// cleanly or give a calendar date on the minute.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/runtime/date.h"
#include "engine/runtime/module_table.h"
#include "engine/startup/engine_start.h"
#include "engine/utilities/repeat_rule.h"

namespace {

// Aborts when a step that cannot fail on sound state fails.
void Must(StatusCode s) {
  if (IsFailure(s)) std::abort();
}

std::int64_t FixedClock() noexcept {
  return 1709251200;  // 2024-03-01 00:00:00 UTC
}

void CheckField(std::uint32_t type, const char* text, std::uint32_t length) {
  std::uint32_t bits = 0;
  if (RepeatRule_ParseField(g_RepeatRuleModule, type, text, length, &bits) != kOk) std::abort();
  std::uint32_t needed = 0;
  if (RepeatRule_FormatField(g_RepeatRuleModule, type, &bits, nullptr, &needed) != kOk)
    std::abort();
  std::array<char, 128> formatted;
  if (needed > formatted.size()) std::abort();
  std::uint32_t written = needed;
  if (RepeatRule_FormatField(g_RepeatRuleModule, type, &bits, formatted.data(), &written) != kOk ||
      written != needed || std::strlen(formatted.data()) + 1 != needed)
    std::abort();
  std::uint32_t again = ~bits;
  Must(RepeatRule_ParseField(g_RepeatRuleModule, type, formatted.data(), 0, &again));
  if (again != bits) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Date_SetClock answers the clock it replaces, which is not needed again.
  static const bool registered =
      Core_RegisterAllModules() == kOk && (Date_SetClock(&FixedClock), true);
  if (!registered) std::abort();
  if (size == 0 || size > 4096) return 0;
  const char* text = reinterpret_cast<const char*>(data);
  const auto n = static_cast<std::uint32_t>(size);
  for (std::uint32_t type = kRepeatFieldHours; type <= kRepeatFieldDays; ++type)
    CheckField(type, text, n);

  RepeatRule rule{};
  std::array<DateTime, 3> dates{};
  if (size < sizeof rule + sizeof dates) return 0;
  std::memcpy(&rule, data, sizeof rule);
  std::memcpy(dates.data(), data + sizeof rule, sizeof dates);
  DateTime next{};
  if (RepeatRule_NextOccurrence(g_RepeatRuleModule, &rule, &dates[0], &dates[1], &dates[2],
                                &next) == kOk) {
    std::uint8_t days = 0;
    if (next.second != 0 || next.hundredths != 0 || next.hour > 23 || next.minute > 59 ||
        next.month < 1 || next.month > 12 || next.day < 1 ||
        Date_DaysInMonth(g_DateModule, next.year, next.month, &days) != kOk || next.day > days)
      std::abort();
  }
  return 0;
}
