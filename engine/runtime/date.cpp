#include "engine/runtime/date.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <ctime>
#include <string_view>

namespace {

// Dates are worked on as a day number (days since 0000-01-01) and a time of
// day; both fit comfortably in 64 bits for the whole range.
constexpr std::int64_t kSecondsPerDay = 86400;

constexpr bool IsLeap(std::int64_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// Leap years in [0, year).
constexpr std::int64_t LeapsBefore(std::int64_t year) {
  return (year + 3) / 4 - (year + 99) / 100 + (year + 399) / 400;
}

constexpr std::int64_t DaysBeforeYear(std::int64_t year) {
  return 365 * year + LeapsBefore(year);
}

constexpr std::array<std::uint16_t, 13> kDaysBeforeMonth = {0,   0,   31,  59,  90,  120, 151,
                                                            181, 212, 243, 273, 304, 334};
constexpr std::array<std::uint8_t, 13> kMonthLength = {0,  31, 28, 31, 30, 31, 30,
                                                       31, 31, 30, 31, 30, 31};

constexpr std::uint8_t MonthLength(std::int64_t year, std::uint8_t month) {
  return month == 2 && IsLeap(year) ? 29 : kMonthLength[month];
}

constexpr std::int64_t DayOfYear(std::int64_t year, std::uint8_t month, std::uint8_t day) {
  return kDaysBeforeMonth[month] + (month > 2 && IsLeap(year) ? 1 : 0) + day - 1;
}

constexpr std::int64_t kFirstDay = 0;
constexpr std::int64_t kLastDay = DaysBeforeYear(65536) - 1;
constexpr std::int64_t kUnixEpochDay = DaysBeforeYear(1970);
constexpr std::int64_t k1904EpochDay = DaysBeforeYear(1904);

constexpr const auto& kDayNames = kDateDayNames;
constexpr std::array<std::string_view, 13> kMonthNames = {
    "", "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
// The month names in alphabetical order, for a binary search, and their numbers.
constexpr std::array<std::string_view, 12> kSortedMonths = {
    "apr", "aug", "dec", "feb", "jan", "jul", "jun", "mar", "may", "nov", "oct", "sep"};
constexpr std::array<std::uint8_t, 12> kSortedMonthNumbers = {4, 8, 12, 2,  1,  7,
                                                              6, 3, 5,  11, 10, 9};

bool IsCalendarDay(const DateTime& d) {
  return d.month >= 1 && d.month <= 12 && d.day >= 1 && d.day <= MonthLength(d.year, d.month);
}

bool IsCalendarDate(const DateTime& d) {
  return IsCalendarDay(d) && d.hour <= 23 && d.minute <= 59 && d.second <= 59 && d.hundredths <= 99;
}

std::int64_t DayNumber(const DateTime& d) {
  return DaysBeforeYear(d.year) + DayOfYear(d.year, d.month, d.day);
}

std::int64_t SecondOfDay(const DateTime& d) {
  return d.hour * 3600 + d.minute * 60 + d.second;
}

// Seconds since 0000-01-01 00:00:00.
std::int64_t Seconds(const DateTime& d) {
  return DayNumber(d) * kSecondsPerDay + SecondOfDay(d);
}

std::int64_t Hundredths(const DateTime& d) {
  return Seconds(d) * 100 + d.hundredths;
}

// Sets year, month and day from a day number within the range.
void SetDay(DateTime& d, std::int64_t dayNumber) {
  std::int64_t year = dayNumber * 400 / 146097;
  while (DaysBeforeYear(year + 1) <= dayNumber)
    ++year;
  while (DaysBeforeYear(year) > dayNumber)
    --year;
  std::int64_t rest = dayNumber - DaysBeforeYear(year);
  std::uint8_t month = 1;
  while (rest >= MonthLength(year, month)) {
    rest -= MonthLength(year, month);
    ++month;
  }
  d.year = static_cast<std::uint16_t>(year);
  d.month = month;
  d.day = static_cast<std::uint8_t>(rest + 1);
}

void SetSecondOfDay(DateTime& d, std::int64_t second) {
  d.hour = static_cast<std::uint8_t>(second / 3600);
  d.minute = static_cast<std::uint8_t>(second / 60 % 60);
  d.second = static_cast<std::uint8_t>(second % 60);
}

// Replaces a date by the instant `seconds` after 0000-01-01 00:00:00, keeping
// hundredths; out of range leaves it untouched.
StatusCode SetSeconds(DateTime* date, std::int64_t seconds) {
  if (seconds < 0 || seconds / kSecondsPerDay > kLastDay) return kDateOutOfRange;
  DateTime d = *date;
  SetDay(d, seconds / kSecondsPerDay);
  SetSecondOfDay(d, seconds % kSecondsPerDay);
  *date = d;
  return kOk;
}

StatusCode Order(std::int64_t a, std::int64_t b) {
  return a == b ? kCompareEqual : a < b ? kCompareLess : kCompareGreater;
}

std::uint32_t Distance(std::int64_t a, std::int64_t b) {
  const std::int64_t d = a < b ? b - a : a - b;
  return d > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<std::uint32_t>(d);
}

StatusCode MoveSeconds(DateTime* date, std::int64_t delta) {
  if (!IsCalendarDate(*date)) return kBadArgument;
  return SetSeconds(date, Seconds(*date) + delta);
}

// ----- the clock -----

std::int64_t SystemClock() noexcept {
  return static_cast<std::int64_t>(std::time(nullptr));
}

std::atomic<DateClock> g_clock{nullptr};

std::int64_t Now() noexcept {
  const DateClock clock = g_clock.load(std::memory_order_relaxed);
  return clock != nullptr ? clock() : SystemClock();
}

constexpr std::int64_t kUnixEpochSeconds = kUnixEpochDay * kSecondsPerDay;

// The local clock's distance from UTC at the instant, rounded to the nearest
// minute (zones of old dates carry odd seconds).
std::int64_t LocalOffsetAt(std::int64_t unixSeconds) {
  const auto t = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return 0;
  const std::int64_t offset = local.tm_gmtoff;
  return (offset >= 0 ? offset + 30 : offset - 30) / 60 * 60;
}

// ----- text -----

struct Cursor {
  const char* text;
  std::uint32_t length;
  std::uint32_t at = 0;

  bool AtEnd() const { return at >= length; }
  char Peek() const { return text[at]; }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  static bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
  static bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
  void SkipSpaces() {
    while (!AtEnd() && IsSpace(Peek()))
      ++at;
  }
  // A decimal number; false when no digit is next. Large values saturate so
  // that every range check still fails them.
  bool Number(std::uint32_t* value) {
    if (AtEnd() || !IsDigit(Peek())) return false;
    std::uint32_t v = 0;
    while (!AtEnd() && IsDigit(Peek())) {
      v = std::min<std::uint32_t>(v * 10 + static_cast<std::uint32_t>(Peek() - '0'), 1000000);
      ++at;
    }
    *value = v;
    return true;
  }
  // Exactly three letters naming a month, in any case.
  bool Month(std::uint8_t* month) {
    if (length - at < 3) return false;
    std::array<char, 3> name{};
    for (std::uint32_t i = 0; i < 3; ++i) {
      const char c = text[at + i];
      if (!IsLetter(c)) return false;
      name[i] = static_cast<char>(c | 0x20);
    }
    if (length - at > 3 && IsLetter(text[at + 3])) return false;
    const std::string_view key(name.data(), 3);
    const auto it = std::lower_bound(kSortedMonths.begin(), kSortedMonths.end(), key);
    if (it == kSortedMonths.end() || *it != key) return false;
    *month = kSortedMonthNumbers[static_cast<std::size_t>(it - kSortedMonths.begin())];
    at += 3;
    return true;
  }
};

// H[:M[:S]] after white space into hour, minute, second.
StatusCode ParseTimeAt(Cursor& c, DateTime& d) {
  c.SkipSpaces();
  std::uint32_t hour = 0;
  std::uint32_t minute = 0;
  std::uint32_t second = 0;
  if (!c.AtEnd()) {
    if (!c.Number(&hour) || hour > 23) return kDateBadHour;
    if (!c.AtEnd()) {
      ++c.at;
      if (!c.Number(&minute) || minute > 59) return kDateBadMinute;
      if (!c.AtEnd()) {
        ++c.at;
        if (!c.Number(&second) || second > 59) return kDateBadSecond;
      }
    }
  }
  d.hour = static_cast<std::uint8_t>(hour);
  d.minute = static_cast<std::uint8_t>(minute);
  d.second = static_cast<std::uint8_t>(second);
  return kOk;
}

// Parses the time and, for forms where the year follows it, stops at the
// first space after the time so the year can be read.
StatusCode ParseTimeField(Cursor& c, DateTime& d) {
  c.SkipSpaces();
  std::uint32_t end = c.at;
  while (end < c.length && !Cursor::IsSpace(c.text[end]))
    ++end;
  Cursor field{c.text, end, c.at};
  const StatusCode s = ParseTimeAt(field, d);
  c.at = end;
  return s;
}

StatusCode CheckYearAndDay(std::uint32_t year, std::uint32_t day, std::uint8_t month, DateTime& d) {
  if (year > 65535) return kDateBadYear;
  if (day < 1 || day > MonthLength(year, month)) return kDateBadDay;
  d.year = static_cast<std::uint16_t>(year);
  d.month = month;
  d.day = static_cast<std::uint8_t>(day);
  return kOk;
}

void PutTwo(char* out, unsigned value) {
  out[0] = static_cast<char>('0' + value / 10);
  out[1] = static_cast<char>('0' + value % 10);
}

void PutFour(char* out, unsigned value) {
  PutTwo(out, value / 100);
  PutTwo(out + 2, value % 100);
}

StatusCode CheckTimeFields(const DateTime& d) {
  if (d.hour > 23) return kDateBadHour;
  if (d.minute > 59) return kDateBadMinute;
  if (d.second > 59) return kDateBadSecond;
  return kOk;
}

void PutTime(char* out, const DateTime& d) {
  PutTwo(out, d.hour);
  out[2] = ':';
  PutTwo(out + 3, d.minute);
  out[5] = ':';
  PutTwo(out + 6, d.second);
}

constexpr DateOps kDateOps = {
    Core_NotImplemented,  Date_LeapYearCode,      Date_LeapYearsBetween,
    Date_DaysInMonth,     Date_NextDay,           Date_PrevDay,
    Date_Compare,         Date_DayDiffInYear,     Date_AddDaysInYear,
    Date_SubDaysInYear,   Date_DayDiff,           Date_AddDays,
    Date_SubDays,         Date_SecondDiff,        Date_AddSecondsInDay,
    Date_SubSecondsInDay, Date_AddSeconds,        Date_SubSeconds,
    Date_GetWeekday,      Date_ParseInternetDate, Date_FormatInternetDate,
    Date_NowUtc,          Date_NowLocal,          Date_GetUtcOffset,
    Date_UtcToLocal,      Date_LocalToUtc,        Date_FromUnixTime,
    Date_ToUnixTime,      Date_From1904Seconds,   Date_ParseTime,
    Date_FormatTime,      Date_ParseDateTime,     Date_FormatDateTime,
    Date_HourDiff,        Date_AddHours,          Date_SubHours,
    Core_NotImplemented,
};

}  // namespace

EngineObject DateModule = {nullptr, &kDateOps};

DateClock Date_SetClock(DateClock clock) noexcept {
  return g_clock.exchange(clock);
}

StatusCode Date_LeapYearCode(EngineObject*, std::uint16_t year) noexcept {
  return IsLeap(year) ? kYes : kNo;
}

StatusCode Date_LeapYearsBetween(EngineObject*, std::uint16_t a, std::uint16_t b,
                                 std::uint16_t* count) noexcept {
  const std::int64_t low = std::min(a, b);
  const std::int64_t high = std::max(a, b);
  *count = static_cast<std::uint16_t>(high > low ? LeapsBefore(high) - LeapsBefore(low + 1) : 0);
  return Order(a, b);
}

StatusCode Date_DaysInMonth(EngineObject*, std::uint16_t year, std::uint8_t month,
                            std::uint8_t* days) noexcept {
  if (month < 1 || month > 12) return kDateBadMonth;
  *days = MonthLength(year, month);
  return kOk;
}

StatusCode Date_NextDay(EngineObject*, DateTime* date) noexcept {
  if (!IsCalendarDay(*date)) return kBadArgument;
  const std::int64_t day = DayNumber(*date) + 1;
  if (day > kLastDay) return kDateOutOfRange;
  SetDay(*date, day);
  return kOk;
}

StatusCode Date_PrevDay(EngineObject*, DateTime* date) noexcept {
  if (!IsCalendarDay(*date)) return kBadArgument;
  const std::int64_t day = DayNumber(*date) - 1;
  if (day < kFirstDay) return kDateOutOfRange;
  SetDay(*date, day);
  return kOk;
}

StatusCode Date_Compare(EngineObject*, const DateTime* a, const DateTime* b) noexcept {
  const auto key = [](const DateTime& d) {
    return (std::uint64_t{d.year} << 48) | (std::uint64_t{d.month} << 40) |
           (std::uint64_t{d.day} << 32) | (std::uint64_t{d.hour} << 24) |
           (std::uint64_t{d.minute} << 16) | (std::uint64_t{d.second} << 8) | d.hundredths;
  };
  const std::uint64_t ka = key(*a);
  const std::uint64_t kb = key(*b);
  return ka == kb ? kCompareEqual : ka < kb ? kCompareLess : kCompareGreater;
}

StatusCode Date_DayDiffInYear(EngineObject*, const DateTime* a, const DateTime* b,
                              std::uint32_t* days) noexcept {
  const std::uint16_t year = a->year;
  if (a->month < 1 || a->month > 12 || b->month < 1 || b->month > 12 || a->day < 1 || b->day < 1 ||
      a->day > MonthLength(year, a->month) || b->day > MonthLength(year, b->month)) {
    return kBadArgument;
  }
  const std::int64_t da = DayOfYear(year, a->month, a->day);
  const std::int64_t db = DayOfYear(year, b->month, b->day);
  *days = Distance(da, db);
  return Order(da, db);
}

StatusCode Date_AddDaysInYear(EngineObject*, std::uint16_t year, std::uint8_t month,
                              std::uint8_t day, std::uint32_t days, std::uint8_t* outMonth,
                              std::uint8_t* outDay, std::uint32_t* rest) noexcept {
  DateTime d{year, month, day, 0, 0, 0, 0};
  if (!IsCalendarDay(d)) return kBadArgument;
  const std::int64_t lastOfYear = 365 + (IsLeap(year) ? 1 : 0) - 1;
  const std::int64_t target = DayOfYear(year, month, day) + days;
  const std::int64_t reached = std::min(target, lastOfYear);
  SetDay(d, DaysBeforeYear(year) + reached);
  *outMonth = d.month;
  *outDay = d.day;
  *rest = static_cast<std::uint32_t>(target - reached);
  return kOk;
}

StatusCode Date_SubDaysInYear(EngineObject*, std::uint16_t year, std::uint8_t month,
                              std::uint8_t day, std::uint32_t days, std::uint8_t* outMonth,
                              std::uint8_t* outDay, std::uint32_t* rest) noexcept {
  DateTime d{year, month, day, 0, 0, 0, 0};
  if (!IsCalendarDay(d)) return kBadArgument;
  const std::int64_t target = DayOfYear(year, month, day) - std::int64_t{days};
  const std::int64_t reached = std::max<std::int64_t>(target, 0);
  SetDay(d, DaysBeforeYear(year) + reached);
  *outMonth = d.month;
  *outDay = d.day;
  *rest = static_cast<std::uint32_t>(reached - target);
  return kOk;
}

StatusCode Date_DayDiff(EngineObject* module, const DateTime* a, const DateTime* b,
                        std::uint32_t* days) noexcept {
  if (!IsCalendarDay(*a) || !IsCalendarDay(*b)) return kBadArgument;
  *days = Distance(DayNumber(*a), DayNumber(*b));
  return Date_Compare(module, a, b);
}

StatusCode Date_AddDays(EngineObject*, DateTime* date, std::uint32_t* days) noexcept {
  if (!IsCalendarDay(*date)) return kBadArgument;
  const std::int64_t day = DayNumber(*date) + *days;
  if (day > kLastDay) return kDateOutOfRange;
  SetDay(*date, day);
  *days = 0;
  return kOk;
}

StatusCode Date_SubDays(EngineObject*, DateTime* date, std::uint32_t* days) noexcept {
  if (!IsCalendarDay(*date)) return kBadArgument;
  const std::int64_t day = DayNumber(*date) - *days;
  if (day < kFirstDay) return kDateOutOfRange;
  SetDay(*date, day);
  *days = 0;
  return kOk;
}

StatusCode Date_SecondDiff(EngineObject*, const DateTime* a, const DateTime* b,
                           std::uint32_t* seconds) noexcept {
  if (!IsCalendarDate(*a) || !IsCalendarDate(*b)) return kBadArgument;
  const std::int64_t ha = Hundredths(*a);
  const std::int64_t hb = Hundredths(*b);
  const std::int64_t diff = (ha < hb ? hb - ha : ha - hb) / 100;
  *seconds = diff > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<std::uint32_t>(diff);
  return Order(ha, hb);
}

StatusCode Date_AddSecondsInDay(EngineObject*, DateTime* date, std::uint32_t seconds,
                                std::uint32_t* rest) noexcept {
  if (!IsCalendarDate(*date)) return kBadArgument;
  const std::int64_t target = SecondOfDay(*date) + seconds;
  const std::int64_t reached = std::min(target, kSecondsPerDay - 1);
  SetSecondOfDay(*date, reached);
  *rest = static_cast<std::uint32_t>(target - reached);
  return kOk;
}

StatusCode Date_SubSecondsInDay(EngineObject*, DateTime* date, std::uint32_t seconds,
                                std::uint32_t* rest) noexcept {
  if (!IsCalendarDate(*date)) return kBadArgument;
  const std::int64_t target = SecondOfDay(*date) - std::int64_t{seconds};
  const std::int64_t reached = std::max<std::int64_t>(target, 0);
  SetSecondOfDay(*date, reached);
  *rest = static_cast<std::uint32_t>(reached - target);
  return kOk;
}

StatusCode Date_AddSeconds(EngineObject*, DateTime* date, std::uint32_t seconds) noexcept {
  return MoveSeconds(date, seconds);
}

StatusCode Date_SubSeconds(EngineObject*, DateTime* date, std::uint32_t seconds) noexcept {
  return MoveSeconds(date, -std::int64_t{seconds});
}

StatusCode Date_GetWeekday(EngineObject*, const DateTime* date, std::uint8_t* weekday) noexcept {
  if (!IsCalendarDay(*date)) return kBadArgument;
  // 0000-01-01 was a Saturday.
  *weekday = static_cast<std::uint8_t>((DayNumber(*date) + 5) % 7);
  return kOk;
}

StatusCode Date_ParseInternetDate(EngineObject*, const char* text, std::uint32_t length,
                                  DateTime* date) noexcept {
  Cursor c{text, length};
  while (!c.AtEnd() && c.Peek() != ' ' && c.Peek() != ',')
    ++c.at;
  if (c.AtEnd()) return kDateNoSeparator;
  const std::uint32_t nameLength = c.at;
  const char separator = c.Peek();
  ++c.at;
  const bool hyphens = std::memchr(text + c.at, '-', length - c.at) != nullptr;

  DateTime d{};
  std::uint32_t day = 0;
  std::uint32_t year = 0;
  std::uint8_t month = 0;
  StatusCode s = kOk;
  if (nameLength == 3 && separator == ',' && !hyphens) {
    // Sun, 06 Nov 1994 08:49:37 GMT
    c.SkipSpaces();
    if (!c.Number(&day)) return kDateBadDay;
    c.SkipSpaces();
    if (!c.Month(&month)) return kDateBadMonth;
    c.SkipSpaces();
    if (!c.Number(&year)) return kDateBadYear;
    if ((s = CheckYearAndDay(year, day, month, d)) != kOk) return s;
    if ((s = ParseTimeField(c, d)) != kOk) return s;
  } else if (nameLength == 3 && separator == ' ' && !hyphens) {
    // Sun Nov  6 08:49:37 1994
    c.SkipSpaces();
    if (!c.Month(&month)) return kDateBadMonth;
    c.SkipSpaces();
    if (!c.Number(&day)) return kDateBadDay;
    if (day < 1 || day > 31) return kDateBadDay;
    if ((s = ParseTimeField(c, d)) != kOk) return s;
    c.SkipSpaces();
    if (!c.Number(&year)) return kDateBadYear;
    if ((s = CheckYearAndDay(year, day, month, d)) != kOk) return s;
  } else {
    // Sunday, 06-Nov-94 08:49:37 GMT
    if (separator == ',' && !c.AtEnd() && c.Peek() == ' ') ++c.at;
    c.SkipSpaces();
    if (!c.Number(&day)) return kDateBadDay;
    if (c.AtEnd()) return kDateBadMonth;
    ++c.at;
    if (!c.Month(&month)) return kDateBadMonth;
    if (c.AtEnd()) return kDateBadYear;
    ++c.at;
    if (!c.Number(&year)) return kDateBadYear;
    if (year < 100) year += year >= 70 ? 1900 : 2000;
    if ((s = CheckYearAndDay(year, day, month, d)) != kOk) return s;
    if ((s = ParseTimeField(c, d)) != kOk) return s;
  }
  *date = d;
  return kOk;
}

StatusCode Date_FormatInternetDate(EngineObject*, const DateTime* date, char* text29) noexcept {
  const DateTime& d = *date;
  if (!IsCalendarDay(d)) return kDateNoWeekday;
  if (d.year > 9999) return kDateBadYear;
  if (const StatusCode s = CheckTimeFields(d); s != kOk) return s;
  std::array<char, kInternetDateLength> out{};
  const std::string_view dayName = kDayNames[static_cast<std::size_t>((DayNumber(d) + 5) % 7)];
  std::memcpy(out.data(), dayName.data(), 3);
  out[3] = ',';
  out[4] = ' ';
  PutTwo(&out[5], d.day);
  out[7] = ' ';
  std::memcpy(&out[8], kMonthNames[d.month].data(), 3);
  out[11] = ' ';
  PutFour(&out[12], d.year);
  out[16] = ' ';
  PutTime(&out[17], d);
  std::memcpy(&out[25], " GMT", 4);
  std::memcpy(text29, out.data(), out.size());
  return kOk;
}

StatusCode Date_NowUtc(EngineObject*, DateTime* date) noexcept {
  DateTime d{};
  if (const StatusCode s = SetSeconds(&d, kUnixEpochSeconds + Now()); s != kOk) return s;
  *date = d;
  return kOk;
}

StatusCode Date_NowLocal(EngineObject*, DateTime* date) noexcept {
  const std::int64_t now = Now();
  DateTime d{};
  if (const StatusCode s = SetSeconds(&d, kUnixEpochSeconds + now + LocalOffsetAt(now)); s != kOk) {
    return s;
  }
  *date = d;
  return kOk;
}

StatusCode Date_GetUtcOffset(EngineObject*, std::uint32_t* seconds) noexcept {
  const std::int64_t offset = LocalOffsetAt(Now());
  *seconds = Distance(offset, 0);
  // Local ahead of UTC means UTC is the earlier clock.
  return Order(0, offset);
}

StatusCode Date_UtcToLocal(EngineObject*, const DateTime* utc, DateTime* local) noexcept {
  DateTime d = *utc;
  if (const StatusCode s = MoveSeconds(&d, LocalOffsetAt(Now())); s != kOk) return s;
  *local = d;
  return kOk;
}

StatusCode Date_LocalToUtc(EngineObject*, const DateTime* local, DateTime* utc) noexcept {
  DateTime d = *local;
  if (const StatusCode s = MoveSeconds(&d, -LocalOffsetAt(Now())); s != kOk) return s;
  *utc = d;
  return kOk;
}

StatusCode Date_FromUnixTime(EngineObject*, std::uint32_t seconds, DateTime* date) noexcept {
  DateTime d{};
  if (const StatusCode s = SetSeconds(&d, kUnixEpochSeconds + seconds); IsFailure(s)) return s;
  *date = d;
  return kOk;
}

StatusCode Date_ToUnixTime(EngineObject*, const DateTime* date, std::uint32_t* seconds) noexcept {
  if (!IsCalendarDate(*date)) return kBadArgument;
  const std::int64_t s = Seconds(*date) - kUnixEpochSeconds;
  if (s < 0 || s > 0xFFFFFFFF) return kDateOutOfRange;
  if (seconds != nullptr) *seconds = static_cast<std::uint32_t>(s);
  return kOk;
}

StatusCode Date_From1904Seconds(EngineObject*, std::uint32_t seconds, DateTime* date) noexcept {
  DateTime d{};
  if (const StatusCode s = SetSeconds(&d, k1904EpochDay * kSecondsPerDay + seconds); IsFailure(s))
    return s;
  *date = d;
  return kOk;
}

StatusCode Date_ParseTime(EngineObject*, const char* text, std::uint32_t length,
                          DateTime* date) noexcept {
  Cursor c{text, length};
  DateTime d = *date;
  if (const StatusCode s = ParseTimeAt(c, d); s != kOk) return s;
  *date = d;
  return kOk;
}

StatusCode Date_FormatTime(EngineObject*, const DateTime* date, char* text9) noexcept {
  if (const StatusCode s = CheckTimeFields(*date); s != kOk) return s;
  PutTime(text9, *date);
  text9[8] = '\0';
  return kOk;
}

StatusCode Date_ParseDateTime(EngineObject*, const char* text, std::uint32_t length,
                              DateTime* date) noexcept {
  Cursor c{text, length};
  std::uint32_t year = 0;
  std::uint32_t month = 0;
  std::uint32_t day = 0;
  if (!c.Number(&year) || year == 0 || year > 65535) return kDateBadYear;
  if (c.AtEnd()) return kDateBadMonth;
  ++c.at;
  if (!c.Number(&month) || month < 1 || month > 12) return kDateBadMonth;
  if (c.AtEnd()) return kDateBadDay;
  ++c.at;
  DateTime d{};
  if (!c.Number(&day)) return kDateBadDay;
  if (const StatusCode s = CheckYearAndDay(year, day, static_cast<std::uint8_t>(month), d);
      s != kOk) {
    return s;
  }
  if (const StatusCode s = ParseTimeAt(c, d); s != kOk) return s;
  *date = d;
  return kOk;
}

StatusCode Date_FormatDateTime(EngineObject*, const DateTime* date, char* text20) noexcept {
  const DateTime& d = *date;
  if (!IsCalendarDay(d)) return kDateNoWeekday;
  if (d.year > 9999) return kDateBadYear;
  if (const StatusCode s = CheckTimeFields(d); s != kOk) return s;
  std::array<char, kDateTimeTextSize> out{};
  PutFour(&out[0], d.year);
  out[4] = '/';
  PutTwo(&out[5], d.month);
  out[7] = '/';
  PutTwo(&out[8], d.day);
  out[10] = ' ';
  PutTime(&out[11], d);
  out[19] = '\0';
  std::memcpy(text20, out.data(), out.size());
  return kOk;
}

StatusCode Date_HourDiff(EngineObject*, const DateTime* a, const DateTime* b,
                         std::uint32_t* hours) noexcept {
  if (!IsCalendarDate(*a) || !IsCalendarDate(*b)) return kBadArgument;
  const std::int64_t ha = Hundredths(*a);
  const std::int64_t hb = Hundredths(*b);
  *hours = static_cast<std::uint32_t>((ha < hb ? hb - ha : ha - hb) / 360000);
  return Order(ha, hb);
}

StatusCode Date_AddHours(EngineObject*, DateTime* date, std::uint32_t hours) noexcept {
  return MoveSeconds(date, std::int64_t{hours} * 3600);
}

StatusCode Date_SubHours(EngineObject*, DateTime* date, std::uint32_t hours) noexcept {
  return MoveSeconds(date, -std::int64_t{hours} * 3600);
}
