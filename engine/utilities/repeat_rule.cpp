#include "engine/utilities/repeat_rule.h"

#include <algorithm>
#include <array>
#include <optional>

#include "engine/runtime/module_table.h"
#include "engine/runtime/str.h"

namespace {

const RepeatRuleOps kRepeatRuleOps = {Core_NotImplemented, RepeatRule_FormatField,
                                      RepeatRule_ParseField, RepeatRule_NextOccurrence,
                                      Core_NotImplemented};

// The numeric fields: items lo..hi, item n in bit n - lo.
struct NumberField {
  std::uint32_t lo;
  std::uint32_t hi;
};
constexpr NumberField kHours = {0, 23};
constexpr NumberField kWeeks = {1, 5};
constexpr NumberField kDays = {1, 32};
static_assert(kHours.hi - kHours.lo < 32 && kWeeks.hi - kWeeks.lo < 32 && kDays.hi - kDays.lo < 32);

std::optional<NumberField> NumberFieldOf(std::uint32_t type) {
  switch (type) {
    case kRepeatFieldHours:
      return kHours;
    case kRepeatFieldWeeks:
      return kWeeks;
    case kRepeatFieldDays:
      return kDays;
    default:
      return std::nullopt;
  }
}

// Text of one item: at most two digits or three letters.
struct Item {
  std::array<char, kStrMaxDecimalDigits> text;
  std::uint32_t length;
};

// Calls fn(Item) for every set item of the field in ascending order.
template <class Fn>
StatusCode ForEachItem(std::uint32_t type, std::uint32_t bits, Fn fn) {
  Item item{};
  if (type == kRepeatFieldWeekdays) {
    for (std::uint32_t d = 0; d < 7; ++d) {
      if ((bits >> d & 1u) == 0) continue;
      std::copy_n(kDateDayNames[d].data(), 3, item.text.begin());
      item.length = 3;
      fn(item);
    }
    return kOk;
  }
  const NumberField f = *NumberFieldOf(type);
  for (std::uint32_t n = f.lo; n <= f.hi; ++n) {
    if ((bits >> (n - f.lo) & 1u) == 0) continue;
    const StatusCode s = Str_FormatDecimal(g_StringModule, n, item.text.data(), &item.length);
    if (IsFailure(s)) return s;
    fn(item);
  }
  return kOk;
}

bool IsWeekdaySeparator(char c) {
  return c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == ',';
}

std::uint32_t ParseNumbers(NumberField f, const char* text, std::uint32_t length) {
  std::uint32_t bits = 0;
  std::uint32_t i = 0;
  while (i < length) {
    if ((Str_ClassOf(static_cast<unsigned char>(text[i])) & kCharDigit) == 0) {
      ++i;
      continue;
    }
    const std::uint32_t from = i;
    while (i < length && (Str_ClassOf(static_cast<unsigned char>(text[i])) & kCharDigit) != 0)
      ++i;
    // The run is all digits, so only too many of them fail: they count as
    // 0xFFFFFFFF, which clamps to the top.
    std::uint32_t n = 0;
    if (IsFailure(Str_ParseDecimal(g_StringModule, text + from, i - from, &n))) n = 0xFFFFFFFFu;
    n = std::clamp(n, f.lo, f.hi);
    bits |= 1u << (n - f.lo);
  }
  return bits;
}

std::uint32_t ParseWeekdays(const char* text, std::uint32_t length) {
  std::uint32_t bits = 0;
  std::uint32_t i = 0;
  while (i < length) {
    if (IsWeekdaySeparator(text[i])) {
      ++i;
      continue;
    }
    const std::uint32_t from = i;
    while (i < length && !IsWeekdaySeparator(text[i]))
      ++i;
    if (i - from < 3) continue;
    for (std::uint32_t d = 0; d < 7; ++d) {
      if (Str_CompareNoCase(g_StringModule, text + from, 3, kDateDayNames[d].data(), 3) ==
          kCompareEqual) {
        bits |= 1u << d;
        break;
      }
    }
  }
  return bits;
}

// The next-occurrence search of one call.
class Search {
 public:
  Search(const RepeatRule& rule, StatusCode stepFailed)
      : rule_(rule),
        hour_(static_cast<std::uint8_t>(std::min(rule.timeOfDay / 100, 23))),
        minute_(static_cast<std::uint8_t>(std::min(rule.timeOfDay % 100, 59))),
        stepFailed_(stepFailed) {}

  // In the interval form: from the anchor, whole intervals up to the first
  // occurrence not before earliest.
  StatusCode Interval(DateTime anchor, bool fromLowerBound, const DateTime& earliest,
                      DateTime* out) const {
    if (!fromLowerBound && PastRuleTime(anchor) && !StepOneUnit(&anchor)) return stepFailed_;
    SetRuleTime(&anchor);
    if (Date_Compare(Dates(), &earliest, &anchor) == kCompareLess) {
      *out = anchor;
      return kOk;
    }
    const std::uint64_t n = rule_.interval;
    std::uint64_t units = 0;
    if (!UnitsBetween(anchor, earliest, &units)) return stepFailed_;
    const std::uint64_t k = n * (units / n);
    DateTime r{};
    if (!Advance(anchor, k, &r)) return stepFailed_;
    // Advancing again from the anchor, not from r, keeps a monthly day that
    // a short month cut.
    if (Date_Compare(Dates(), &r, &earliest) == kCompareLess && !Advance(anchor, k + n, &r))
      return stepFailed_;
    *out = r;
    return kOk;
  }

  // In the bit-set forms: the first occurrence at or after `from`.
  StatusCode BitSet(DateTime from, DateTime* out) const {
    if (PastRuleTime(from) && !StepOneUnit(&from)) return stepFailed_;
    SetRuleTime(&from);
    switch (rule_.kind) {
      case kRepeatHourly:
        *out = from;
        return kOk;
      case kRepeatDaily:
        return NextWeekday(from, out);
      case kRepeatWeekly:
        return NextWeekOfMonth(from, out);
      default:
        return NextMonth(from, out);
    }
  }

 private:
  static EngineObject* Dates() { return g_DateModule; }

  bool Hourly() const { return rule_.kind == kRepeatHourly; }

  bool PastRuleTime(const DateTime& d) const {
    if (Hourly()) return d.minute > minute_;
    return d.hour > hour_ || (d.hour == hour_ && d.minute > minute_);
  }

  void SetRuleTime(DateTime* d) const {
    if (!Hourly()) d->hour = hour_;
    d->minute = minute_;
  }

  bool StepOneUnit(DateTime* d) const {
    return (Hourly() ? Date_AddHours(Dates(), d, 1) : Date_NextDay(Dates(), d)) == kOk;
  }

  static std::uint64_t MonthIndex(const DateTime& d) {
    return std::uint64_t{d.year} * 12 + d.month - 1;
  }

  // Whole units from a to b (a not after b): hours, calendar days, weeks or
  // month numbers.
  bool UnitsBetween(const DateTime& a, const DateTime& b, std::uint64_t* units) const {
    std::uint32_t n = 0;
    switch (rule_.kind) {
      case kRepeatHourly:
        if (Date_HourDiff(Dates(), &a, &b, &n) < 0) return false;
        *units = n;
        return true;
      case kRepeatDaily:
      case kRepeatWeekly:
        if (Date_DayDiff(Dates(), &a, &b, &n) < 0) return false;
        *units = rule_.kind == kRepeatWeekly ? n / 7 : n;
        return true;
      default:
        *units = MonthIndex(b) - MonthIndex(a);
        return true;
    }
  }

  bool Advance(const DateTime& from, std::uint64_t units, DateTime* out) const {
    DateTime d = from;
    switch (rule_.kind) {
      case kRepeatHourly:
        if (units > 0xFFFFFFFFu ||
            Date_AddHours(Dates(), &d, static_cast<std::uint32_t>(units)) != kOk)
          return false;
        break;
      case kRepeatDaily:
      case kRepeatWeekly: {
        const std::uint64_t days = rule_.kind == kRepeatWeekly ? units * 7 : units;
        if (days > 0xFFFFFFFFu) return false;
        auto n = static_cast<std::uint32_t>(days);
        if (Date_AddDays(Dates(), &d, &n) != kOk) return false;
        break;
      }
      default:
        if (!SetMonth(MonthIndex(from) + units, from.day, &d)) return false;
        break;
    }
    *out = d;
    return true;
  }

  // Moves d to the month with that index, on `day` or the month's last day
  // when it is shorter.
  static bool SetMonth(std::uint64_t index, std::uint8_t day, DateTime* d) {
    if (index / 12 > 0xFFFFu) return false;
    const auto year = static_cast<std::uint16_t>(index / 12);
    const auto month = static_cast<std::uint8_t>(index % 12 + 1);
    std::uint8_t length = 0;
    if (Date_DaysInMonth(Dates(), year, month, &length) != kOk) return false;
    d->year = year;
    d->month = month;
    d->day = std::min(day, length);
    return true;
  }

  StatusCode NextWeekday(DateTime d, DateTime* out) const {
    if ((rule_.bits & 0x7Fu) == 0) return kRepeatNoWeekdayBit;
    std::uint8_t wd = 0;
    if (Date_GetWeekday(Dates(), &d, &wd) != kOk) return stepFailed_;
    for (std::uint32_t i = 0; (rule_.bits >> ((wd + i) % 7) & 1u) == 0; ++i)
      if (Date_NextDay(Dates(), &d) != kOk) return stepFailed_;
    *out = d;
    return kOk;
  }

  StatusCode NextWeekOfMonth(DateTime d, DateTime* out) const {
    if ((rule_.bits & 0x1Fu) == 0) return kRepeatNoWeekBit;
    const std::uint8_t target = std::min<std::uint8_t>(rule_.weekday, 6);
    std::uint8_t wd = 0;
    if (Date_GetWeekday(Dates(), &d, &wd) != kOk) return stepFailed_;
    for (; wd != target; wd = (wd + 1) % 7)
      if (Date_NextDay(Dates(), &d) != kOk) return stepFailed_;
    // This month from d's week on, else the first set week of the next one.
    for (int pass = 0; pass < 2; ++pass) {
      DateTime first = d;
      first.day = 1;
      std::uint8_t length = 0;
      std::uint8_t wdFirst = 0;
      if (Date_DaysInMonth(Dates(), d.year, d.month, &length) != kOk ||
          Date_GetWeekday(Dates(), &first, &wdFirst) != kOk)
        return stepFailed_;
      const int firstDay = 1 + (target - wdFirst + 7) % 7;
      const int lastDay = firstDay + 7 * ((length - firstDay) / 7);
      const int minDay = pass == 0 ? d.day : 1;
      for (int w = 1; w <= 5; ++w) {
        if ((rule_.bits >> (w - 1) & 1u) == 0) continue;
        const int day = w < 5 ? firstDay + 7 * (w - 1) : lastDay;
        if (day >= minDay) {
          d.day = static_cast<std::uint8_t>(day);
          *out = d;
          return kOk;
        }
      }
      if (!SetMonth(MonthIndex(d) + 1, 1, &d)) return stepFailed_;
    }
    return stepFailed_;  // not reached: every month has four of each weekday
  }

  StatusCode NextMonth(DateTime d, DateTime* out) const {
    if ((rule_.bits & 0xFFFu) == 0) return kRepeatNoMonthBit;
    const std::uint8_t day = rule_.monthDay == 0 ? 1 : (rule_.monthDay > 30 ? 31 : rule_.monthDay);
    const std::uint64_t base = MonthIndex(d);
    // A month whose rule day has passed already comes round again a year on.
    for (std::uint64_t i = 0; i <= 12; ++i) {
      if ((rule_.bits >> ((base + i) % 12) & 1u) == 0) continue;
      DateTime r = d;
      if (!SetMonth(base + i, day, &r)) return stepFailed_;
      if (i == 0 && r.day < d.day) continue;
      *out = r;
      return kOk;
    }
    return stepFailed_;  // not reached
  }

  const RepeatRule& rule_;
  std::uint8_t hour_;
  std::uint8_t minute_;
  StatusCode stepFailed_;
};

StatusCode StepFailedCode(std::uint8_t kind) {
  switch (kind) {
    case kRepeatHourly:
      return kRepeatHourlyStepFailed;
    case kRepeatDaily:
      return kRepeatDailyStepFailed;
    case kRepeatWeekly:
      return kRepeatWeeklyStepFailed;
    default:
      return kRepeatMonthlyStepFailed;
  }
}

bool IsCalendarDate(const DateTime& d) {
  std::uint8_t length = 0;
  return Date_DaysInMonth(g_DateModule, d.year, d.month, &length) == kOk && d.day >= 1 &&
         d.day <= length && d.hour <= 23 && d.minute <= 59;
}

// A given date (not null, year not 0).
const DateTime* Given(const DateTime* d) {
  return d != nullptr && d->year != 0 ? d : nullptr;
}

DateTime ToMinute(DateTime d) {
  d.second = 0;
  d.hundredths = 0;
  return d;
}

}  // namespace

EngineObject RepeatRuleModule = {nullptr, &kRepeatRuleOps};

StatusCode RepeatRule_FormatField(EngineObject*, std::uint32_t fieldType, const std::uint32_t* bits,
                                  char* text, std::uint32_t* length) noexcept {
  if (fieldType != kRepeatFieldWeekdays && !NumberFieldOf(fieldType)) return kRepeatBadFieldType;
  if (bits == nullptr) return kBadArgument;
  if (length == nullptr) return kNullOutPointer;
  std::uint32_t needed = 1;
  std::uint32_t count = 0;
  StatusCode s = ForEachItem(fieldType, *bits,
                             [&](const Item& item) { needed += item.length + (count++ ? 1 : 0); });
  if (IsFailure(s)) return s;
  if (text == nullptr) {
    *length = needed;
    return kOk;
  }
  if (*length < needed) return kRepeatBufferTooSmall;
  std::uint32_t at = 0;
  s = ForEachItem(fieldType, *bits, [&](const Item& item) {
    if (at != 0) text[at++] = ',';
    std::copy_n(item.text.begin(), item.length, text + at);
    at += item.length;
  });
  if (IsFailure(s)) return s;
  text[at] = '\0';
  *length = needed;
  return kOk;
}

StatusCode RepeatRule_ParseField(EngineObject*, std::uint32_t fieldType, const char* text,
                                 std::uint32_t length, std::uint32_t* bits) noexcept {
  const std::optional<NumberField> numbers = NumberFieldOf(fieldType);
  if (fieldType != kRepeatFieldWeekdays && !numbers) return kRepeatBadFieldType;
  if (text == nullptr) return kBadArgument;
  if (bits == nullptr) return kNullOutPointer;
  if (length == 0) {
    const StatusCode s = Str_Length(g_StringModule, text, &length);
    if (IsFailure(s)) return s;
  }
  *bits = numbers ? ParseNumbers(*numbers, text, length) : ParseWeekdays(text, length);
  return kOk;
}

StatusCode RepeatRule_NextOccurrence(EngineObject*, const RepeatRule* rule,
                                     const DateTime* seriesStart, const DateTime* end,
                                     const DateTime* lowerBound, DateTime* next) noexcept {
  if (rule == nullptr) return kBadArgument;
  if (next == nullptr) return kNullOutPointer;
  if (rule->kind < kRepeatHourly || rule->kind > kRepeatMonthly) return kRepeatBadKind;
  const DateTime* start = Given(seriesStart);
  const DateTime* lower = Given(lowerBound);
  end = Given(end);
  for (const DateTime* d : {start, lower, end})
    if (d != nullptr && !IsCalendarDate(*d)) return kBadArgument;

  DateTime now{};
  if (Date_NowLocal(g_DateModule, &now) != kOk) return kRepeatNoClock;
  now = ToMinute(now);
  const StatusCode stepFailed = StepFailedCode(rule->kind);
  const Search search(*rule, stepFailed);

  DateTime earliest = now;
  if (lower != nullptr) {
    DateTime after = ToMinute(*lower);
    if (Date_AddSeconds(g_DateModule, &after, 60) != kOk) return stepFailed;
    if (Date_Compare(g_DateModule, &after, &now) == kCompareGreater) earliest = after;
  }

  DateTime result{};
  StatusCode s;
  if (rule->interval != 0) {
    const DateTime anchor = start ? ToMinute(*start) : lower ? ToMinute(*lower) : now;
    s = search.Interval(anchor, start == nullptr && lower != nullptr, earliest, &result);
  } else {
    DateTime from = earliest;
    if (start != nullptr) {
      const DateTime s0 = ToMinute(*start);
      if (Date_Compare(g_DateModule, &s0, &earliest) == kCompareGreater) from = s0;
    }
    s = search.BitSet(from, &result);
  }
  if (s != kOk) return s;
  result.second = 0;
  result.hundredths = 0;
  if (end != nullptr && Date_Compare(g_DateModule, &result, end) == kCompareGreater)
    result.year = 0;
  *next = result;
  return kOk;
}
