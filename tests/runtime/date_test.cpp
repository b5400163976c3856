#include "engine/runtime/date.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "engine/runtime/module_table.h"

namespace {

const DateOps& Ops() {
  return OpsOf<DateOps>(g_DateModule);
}
EngineObject* M() {
  return g_DateModule;
}

DateTime Make(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int hs = 0) {
  return DateTime{static_cast<std::uint16_t>(y), static_cast<std::uint8_t>(mo),
                  static_cast<std::uint8_t>(d),  static_cast<std::uint8_t>(h),
                  static_cast<std::uint8_t>(mi), static_cast<std::uint8_t>(s),
                  static_cast<std::uint8_t>(hs)};
}

bool Same(const DateTime& a, const DateTime& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string Show(const DateTime& d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%u-%02u-%02u %02u:%02u:%02u.%02u", d.year, d.month, d.day, d.hour,
                d.minute, d.second, d.hundredths);
  return buf;
}

#define EXPECT_DATE(actual, expected) EXPECT_PRED2(Same, actual, expected) << Show(actual)

// The C library as the peer: seconds since 1970 of a UTC date, and back.
std::int64_t TimeGm(const DateTime& d) {
  std::tm tm{};
  tm.tm_year = d.year - 1900;
  tm.tm_mon = d.month - 1;
  tm.tm_mday = d.day;
  tm.tm_hour = d.hour;
  tm.tm_min = d.minute;
  tm.tm_sec = d.second;
  return static_cast<std::int64_t>(timegm(&tm));
}

DateTime GmTime(std::int64_t t) {
  const auto tt = static_cast<std::time_t>(t);
  std::tm tm{};
  gmtime_r(&tt, &tm);
  return Make(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

std::string Strftime(const char* format, std::int64_t t) {
  const auto tt = static_cast<std::time_t>(t);
  std::tm tm{};
  gmtime_r(&tt, &tm);
  char buf[64];
  const std::size_t n = std::strftime(buf, sizeof buf, format, &tm);
  return std::string(buf, n);
}

TEST(Date, StatusValuesArePartOfTheContract) {
  EXPECT_EQ(static_cast<std::uint32_t>(kDateNoWeekday), 0x80060008u);
}

TEST(Date, LeapYearsAndMonthLengths) {
  struct Case {
    int year;
    StatusCode code;
  };
  for (const Case c :
       {Case{1900, kNo}, Case{2000, kYes}, Case{2024, kYes}, Case{2023, kNo}, Case{0, kYes},
        Case{100, kNo}, Case{400, kYes}, Case{65535, kNo}, Case{65532, kYes}}) {
    EXPECT_EQ(Ops().leapYearCode(M(), static_cast<std::uint16_t>(c.year)), c.code) << c.year;
  }
  const std::array<int, 12> lengths = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int month = 1; month <= 12; ++month) {
    std::uint8_t days = 0;
    ASSERT_EQ(Date_DaysInMonth(M(), 1900, static_cast<std::uint8_t>(month), &days), kOk);
    EXPECT_EQ(days, lengths[month - 1]) << month;
  }
  std::uint8_t days = 0;
  ASSERT_EQ(Date_DaysInMonth(M(), 2000, 2, &days), kOk);
  EXPECT_EQ(days, 29);
  days = 99;
  EXPECT_EQ(Date_DaysInMonth(M(), 2000, 0, &days), kDateBadMonth);
  EXPECT_EQ(Date_DaysInMonth(M(), 2000, 13, &days), kDateBadMonth);
  EXPECT_EQ(days, 99);
}

TEST(Date, LeapYearsBetweenCountsStrictlyBetweenInEitherOrder) {
  const auto brute = [](int a, int b) {
    int n = 0;
    for (int y = std::min(a, b) + 1; y < std::max(a, b); ++y) {
      n += Date_LeapYearCode(M(), static_cast<std::uint16_t>(y)) == kYes ? 1 : 0;
    }
    return n;
  };
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> year(0, 65535);
  std::vector<std::pair<int, int>> pairs = {{1896, 1904}, {1900, 1900}, {1999, 2001}, {0, 65535},
                                            {65535, 0},   {2000, 2001}, {1, 3},       {0, 5}};
  for (int i = 0; i < 200; ++i)
    pairs.emplace_back(year(rng), year(rng));
  for (const auto& [a, b] : pairs) {
    std::uint16_t count = 0;
    const StatusCode order = Date_LeapYearsBetween(M(), static_cast<std::uint16_t>(a),
                                                   static_cast<std::uint16_t>(b), &count);
    EXPECT_EQ(count, brute(a, b)) << a << " " << b;
    EXPECT_EQ(order, a == b ? kCompareEqual : a < b ? kCompareLess : kCompareGreater);
  }
}

TEST(Date, NextAndPreviousDayCarryAndStopAtTheRangeEnds) {
  struct Case {
    DateTime from;
    DateTime next;
  };
  const Case cases[] = {
      {Make(1999, 12, 31, 13, 14, 15, 16), Make(2000, 1, 1, 13, 14, 15, 16)},
      {Make(2000, 2, 28), Make(2000, 2, 29)},
      {Make(2000, 2, 29), Make(2000, 3, 1)},
      {Make(1900, 2, 28), Make(1900, 3, 1)},
      {Make(2023, 4, 30), Make(2023, 5, 1)},
      {Make(0, 12, 31), Make(1, 1, 1)},
  };
  for (const Case& c : cases) {
    DateTime d = c.from;
    ASSERT_EQ(Date_NextDay(M(), &d), kOk);
    EXPECT_DATE(d, c.next);
    ASSERT_EQ(Date_PrevDay(M(), &d), kOk);
    EXPECT_DATE(d, c.from);
  }
  DateTime last = Make(65535, 12, 31);
  EXPECT_EQ(Date_NextDay(M(), &last), kDateOutOfRange);
  EXPECT_DATE(last, Make(65535, 12, 31));
  DateTime first = Make(0, 1, 1);
  EXPECT_EQ(Date_PrevDay(M(), &first), kDateOutOfRange);
  EXPECT_DATE(first, Make(0, 1, 1));
  for (DateTime bad : {Make(2001, 2, 29), Make(2001, 0, 1), Make(2001, 13, 1), Make(2001, 1, 0)}) {
    EXPECT_EQ(Date_NextDay(M(), &bad), kBadArgument) << Show(bad);
    EXPECT_EQ(Date_PrevDay(M(), &bad), kBadArgument) << Show(bad);
  }
}

TEST(Date, CompareOrdersFieldByField) {
  const DateTime base = Make(2000, 6, 15, 12, 30, 30, 50);
  EXPECT_EQ(Date_Compare(M(), &base, &base), kCompareEqual);
  const DateTime later[] = {Make(2001, 1, 1),
                            Make(2000, 7, 1),
                            Make(2000, 6, 16),
                            Make(2000, 6, 15, 13),
                            Make(2000, 6, 15, 12, 31),
                            Make(2000, 6, 15, 12, 30, 31),
                            Make(2000, 6, 15, 12, 30, 30, 51)};
  for (const DateTime& l : later) {
    EXPECT_EQ(Date_Compare(M(), &base, &l), kCompareLess) << Show(l);
    EXPECT_EQ(Date_Compare(M(), &l, &base), kCompareGreater) << Show(l);
  }
}

// Dates across leap years, century years and the ends of the range that the
// C library can also represent.
const DateTime kTable[] = {
    Make(0, 1, 1),
    Make(0, 2, 29, 1, 2, 3),
    Make(1, 1, 1),
    Make(99, 12, 31, 23, 59, 59),
    Make(100, 2, 28),
    Make(100, 3, 1),
    Make(400, 2, 29),
    Make(999, 9, 9, 9, 9, 9),
    Make(1582, 10, 10),
    Make(1600, 2, 29),
    Make(1700, 3, 1),
    Make(1800, 12, 31),
    Make(1899, 12, 31, 23, 59, 59),
    Make(1900, 1, 1),
    Make(1900, 2, 28),
    Make(1900, 3, 1),
    Make(1904, 1, 1),
    Make(1904, 2, 29, 12),
    Make(1969, 12, 31, 23, 59, 59),
    Make(1970, 1, 1),
    Make(1994, 11, 6, 8, 49, 37),
    Make(1999, 12, 31, 23, 59, 59),
    Make(2000, 1, 1),
    Make(2000, 2, 29),
    Make(2000, 12, 31),
    Make(2038, 1, 19, 3, 14, 8),
    Make(2100, 2, 28),
    Make(2100, 3, 1),
    Make(2106, 2, 7, 6, 28, 15),
    Make(2106, 2, 7, 6, 28, 16),
    Make(2400, 2, 29),
    Make(9999, 12, 31, 23, 59, 59),
};

TEST(Date, AgreesWithTheCLibraryOnATableOfDates) {
  const DateTime unixEpoch = Make(1970, 1, 1);
  for (const DateTime& d : kTable) {
    SCOPED_TRACE(Show(d));
    const std::int64_t t = TimeGm(d);

    std::uint8_t weekday = 9;
    ASSERT_EQ(Date_GetWeekday(M(), &d, &weekday), kOk);
    std::tm tm{};
    const auto tt = static_cast<std::time_t>(t);
    gmtime_r(&tt, &tm);
    EXPECT_EQ(weekday, (tm.tm_wday + 6) % 7);

    std::uint32_t days = 0;
    const StatusCode order = Date_DayDiff(M(), &d, &unixEpoch, &days);
    const std::int64_t dayOffset = (t >= 0 ? t : t - 86399) / 86400;
    EXPECT_EQ(days, static_cast<std::uint32_t>(dayOffset < 0 ? -dayOffset : dayOffset));
    EXPECT_EQ(order, t < 0 ? kCompareLess : t == 0 ? kCompareEqual : kCompareGreater);

    std::uint32_t unix = 0;
    if (t >= 0 && t <= 0xFFFFFFFF) {
      ASSERT_EQ(Date_ToUnixTime(M(), &d, &unix), kOk);
      EXPECT_EQ(unix, static_cast<std::uint32_t>(t));
      DateTime back{};
      ASSERT_EQ(Date_FromUnixTime(M(), unix, &back), kOk);
      EXPECT_DATE(back, d);
      EXPECT_EQ(Date_ToUnixTime(M(), &d, nullptr), kOk);
    } else {
      unix = 12345;
      EXPECT_EQ(Date_ToUnixTime(M(), &d, &unix), kDateOutOfRange);
      EXPECT_EQ(unix, 12345u);
    }

    std::array<char, 30> text{};
    text.fill('#');
    ASSERT_EQ(Date_FormatInternetDate(M(), &d, text.data()), kOk);
    EXPECT_EQ(std::string_view(text.data(), 29), Strftime("%a, %d %b %04Y %H:%M:%S GMT", t));
    EXPECT_EQ(text[29], '#');

    std::array<char, 21> numeric{};
    numeric.fill('#');
    ASSERT_EQ(Date_FormatDateTime(M(), &d, numeric.data()), kOk);
    EXPECT_EQ(std::string(numeric.data()), Strftime("%04Y/%m/%d %H:%M:%S", t));
    EXPECT_EQ(numeric[20], '#');

    DateTime parsed{};
    ASSERT_EQ(Date_ParseInternetDate(M(), text.data(), 29, &parsed), kOk);
    EXPECT_DATE(parsed, d);
    if (d.year > 0) {
      ASSERT_EQ(Date_ParseDateTime(M(), numeric.data(), 19, &parsed), kOk);
      EXPECT_DATE(parsed, d);
    }
  }
}

TEST(Date, DifferencesAndAdditionsAgreeWithTheCLibrary) {
  std::mt19937_64 rng(1994);
  // Instants from year 0 to 9999, as seconds since 1970.
  std::uniform_int_distribution<std::int64_t> instant(-62167219200LL, 253402300799LL);
  std::uniform_int_distribution<std::uint32_t> amount(0, 0xFFFFFFFFu);
  for (int i = 0; i < 2000; ++i) {
    const std::int64_t t = instant(rng);
    const DateTime d = GmTime(t);
    SCOPED_TRACE(Show(d));
    const std::uint32_t seconds = amount(rng);
    const std::uint32_t days = seconds % 2000000;
    const std::uint32_t hours = seconds % 5000000;

    DateTime e = d;
    ASSERT_EQ(Date_AddSeconds(M(), &e, seconds), kOk);
    EXPECT_DATE(e, GmTime(t + seconds));
    std::uint32_t diff = 0;
    EXPECT_EQ(Date_SecondDiff(M(), &d, &e, &diff), seconds == 0 ? kCompareEqual : kCompareLess);
    EXPECT_EQ(diff, seconds);
    std::uint32_t hourDiff = 0;
    EXPECT_EQ(Date_HourDiff(M(), &e, &d, &hourDiff),
              seconds == 0 ? kCompareEqual : kCompareGreater);
    EXPECT_EQ(hourDiff, seconds / 3600);

    const std::int64_t before = t - seconds;
    e = d;
    if (before >= -62167219200LL) {
      ASSERT_EQ(Date_SubSeconds(M(), &e, seconds), kOk);
      EXPECT_DATE(e, GmTime(before));
    } else {
      EXPECT_EQ(Date_SubSeconds(M(), &e, seconds), kDateOutOfRange);
      EXPECT_DATE(e, d);
    }

    e = d;
    std::uint32_t n = days;
    ASSERT_EQ(Date_AddDays(M(), &e, &n), kOk);
    EXPECT_EQ(n, 0u);
    EXPECT_DATE(e, GmTime(t + std::int64_t{days} * 86400));
    std::uint32_t dayDiff = 0;
    EXPECT_EQ(Date_DayDiff(M(), &d, &e, &dayDiff), days == 0 ? kCompareEqual : kCompareLess);
    EXPECT_EQ(dayDiff, days);
    n = days;
    ASSERT_EQ(Date_SubDays(M(), &e, &n), kOk);
    EXPECT_DATE(e, d);

    e = d;
    ASSERT_EQ(Date_AddHours(M(), &e, hours), kOk);
    EXPECT_DATE(e, GmTime(t + std::int64_t{hours} * 3600));
    ASSERT_EQ(Date_SubHours(M(), &e, hours), kOk);
    EXPECT_DATE(e, d);
  }
}

TEST(Date, ArithmeticFailsWithoutChangesOutsideTheRange) {
  const DateTime last = Make(65535, 12, 31, 23, 59, 59, 99);
  DateTime d = last;
  EXPECT_EQ(Date_AddSeconds(M(), &d, 1), kDateOutOfRange);
  EXPECT_EQ(Date_AddHours(M(), &d, 1), kDateOutOfRange);
  std::uint32_t days = 1;
  EXPECT_EQ(Date_AddDays(M(), &d, &days), kDateOutOfRange);
  EXPECT_EQ(days, 1u);
  days = 0xFFFFFFFFu;
  DateTime early = Make(1, 1, 1);
  EXPECT_EQ(Date_AddDays(M(), &early, &days), kDateOutOfRange);
  EXPECT_DATE(d, last);
  const DateTime first = Make(0, 1, 1);
  d = first;
  EXPECT_EQ(Date_SubSeconds(M(), &d, 1), kDateOutOfRange);
  EXPECT_EQ(Date_SubHours(M(), &d, 1), kDateOutOfRange);
  days = 1;
  EXPECT_EQ(Date_SubDays(M(), &d, &days), kDateOutOfRange);
  EXPECT_DATE(d, first);
  // The whole range fits a day count; the seconds do not fit 32 bits.
  std::uint32_t n = 0;
  EXPECT_EQ(Date_DayDiff(M(), &last, &first, &n), kCompareGreater);
  EXPECT_EQ(n, 23936531u);  // 366 days of year 0 + ordinal of 65535-12-31 - 1
  EXPECT_EQ(Date_SecondDiff(M(), &first, &last, &n), kCompareLess);
  EXPECT_EQ(n, 0xFFFFFFFFu);
  EXPECT_EQ(Date_HourDiff(M(), &first, &last, &n), kCompareLess);
  EXPECT_EQ(n, 23936531u * 24 + 23);
  // Hundredths are borrowed: 0.99 s to 1.00 s later is not a whole second.
  const DateTime a = Make(2000, 1, 1, 0, 0, 0, 99);
  const DateTime b = Make(2000, 1, 1, 0, 0, 1, 0);
  EXPECT_EQ(Date_SecondDiff(M(), &b, &a, &n), kCompareGreater);
  EXPECT_EQ(n, 0u);
  DateTime bad = Make(2000, 1, 1, 24);
  EXPECT_EQ(Date_AddSeconds(M(), &bad, 1), kBadArgument);
  EXPECT_EQ(Date_SecondDiff(M(), &bad, &a, &n), kBadArgument);
}

TEST(Date, InYearAndInDayStepsLeaveTheRest) {
  std::uint8_t month = 0;
  std::uint8_t day = 0;
  std::uint32_t rest = 99;
  ASSERT_EQ(Date_AddDaysInYear(M(), 2000, 2, 28, 1, &month, &day, &rest), kOk);
  EXPECT_EQ(month, 2);
  EXPECT_EQ(day, 29);
  EXPECT_EQ(rest, 0u);
  ASSERT_EQ(Date_AddDaysInYear(M(), 2001, 12, 30, 5, &month, &day, &rest), kOk);
  EXPECT_EQ(month, 12);
  EXPECT_EQ(day, 31);
  EXPECT_EQ(rest, 4u);
  ASSERT_EQ(Date_SubDaysInYear(M(), 2000, 3, 1, 1, &month, &day, &rest), kOk);
  EXPECT_EQ(month, 2);
  EXPECT_EQ(day, 29);
  EXPECT_EQ(rest, 0u);
  ASSERT_EQ(Date_SubDaysInYear(M(), 2001, 1, 3, 10, &month, &day, &rest), kOk);
  EXPECT_EQ(month, 1);
  EXPECT_EQ(day, 1);
  EXPECT_EQ(rest, 8u);
  EXPECT_EQ(Date_AddDaysInYear(M(), 2001, 2, 29, 1, &month, &day, &rest), kBadArgument);

  std::uint32_t days = 0;
  DateTime a = Make(2000, 12, 31);
  DateTime b = Make(1999, 1, 1);  // only month and day count, in a's year
  EXPECT_EQ(Date_DayDiffInYear(M(), &a, &b, &days), kCompareGreater);
  EXPECT_EQ(days, 365u);
  EXPECT_EQ(Date_DayDiffInYear(M(), &b, &a, &days), kCompareLess);
  EXPECT_EQ(days, 364u);

  DateTime d = Make(2000, 1, 1, 23, 59, 50, 7);
  ASSERT_EQ(Date_AddSecondsInDay(M(), &d, 15, &rest), kOk);
  EXPECT_DATE(d, Make(2000, 1, 1, 23, 59, 59, 7));
  EXPECT_EQ(rest, 6u);
  ASSERT_EQ(Date_SubSecondsInDay(M(), &d, 3600, &rest), kOk);
  EXPECT_DATE(d, Make(2000, 1, 1, 22, 59, 59, 7));
  EXPECT_EQ(rest, 0u);
  d = Make(2000, 1, 1, 0, 0, 10);
  ASSERT_EQ(Date_SubSecondsInDay(M(), &d, 0xFFFFFFFFu, &rest), kOk);
  EXPECT_DATE(d, Make(2000, 1, 1));
  EXPECT_EQ(rest, 0xFFFFFFFFu - 10);
}

TEST(Date, EpochConversions) {
  DateTime d{};
  ASSERT_EQ(Date_From1904Seconds(M(), 0, &d), kOk);
  EXPECT_DATE(d, Make(1904, 1, 1));
  ASSERT_EQ(Date_From1904Seconds(M(), 0xFFFFFFFFu, &d), kOk);
  EXPECT_DATE(d, GmTime(0xFFFFFFFFLL - 2082844800LL));
  ASSERT_EQ(Date_FromUnixTime(M(), 0, &d), kOk);
  EXPECT_DATE(d, Make(1970, 1, 1));
  ASSERT_EQ(Date_FromUnixTime(M(), 0xFFFFFFFFu, &d), kOk);
  EXPECT_DATE(d, Make(2106, 2, 7, 6, 28, 15));
  std::uint32_t unix = 0;
  ASSERT_EQ(Date_ToUnixTime(M(), &d, &unix), kOk);
  EXPECT_EQ(unix, 0xFFFFFFFFu);  // a real time, distinct from the failures
  const DateTime beforeEpoch = Make(1969, 12, 31, 23, 59, 59);
  EXPECT_EQ(Date_ToUnixTime(M(), &beforeEpoch, &unix), kDateOutOfRange);
  const DateTime epoch = Make(1970, 1, 1);
  ASSERT_EQ(Date_ToUnixTime(M(), &epoch, &unix), kOk);
  EXPECT_EQ(unix, 0u);
  std::mt19937 rng(3);
  for (int i = 0; i < 1000; ++i) {
    const std::uint32_t s = static_cast<std::uint32_t>(rng());
    ASSERT_EQ(Date_FromUnixTime(M(), s, &d), kOk);
    EXPECT_DATE(d, GmTime(s));
    ASSERT_EQ(Date_From1904Seconds(M(), s, &d), kOk);
    EXPECT_DATE(d, GmTime(std::int64_t{s} - 2082844800LL));
  }
}

TEST(Date, ParsesTheThreeHttpFormsToOneDate) {
  const DateTime expected = Make(1994, 11, 6, 8, 49, 37);
  for (const std::string_view text :
       {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
        "Sun Nov  6 08:49:37 1994", "sun, 6 NOV 1994 08:49:37", "Sun, 06 nov 1994 08:49:37 +0000",
        "Sun Nov 6 08:49:37 1994 trailing", "Sunday, 06-Nov-1994 08:49:37 GMT",
        "Sun, 06-Nov-94 08:49:37 GMT"}) {
    DateTime d = Make(1, 1, 1, 1, 1, 1, 55);
    ASSERT_EQ(Date_ParseInternetDate(M(), text.data(), static_cast<std::uint32_t>(text.size()), &d),
              kOk)
        << text;
    EXPECT_DATE(d, expected);
  }
  std::array<char, 29> out{};
  ASSERT_EQ(Date_FormatInternetDate(M(), &expected, out.data()), kOk);
  EXPECT_EQ(std::string_view(out.data(), out.size()), "Sun, 06 Nov 1994 08:49:37 GMT");
}

TEST(Date, InternetDateFailuresNameTheFieldAtFault) {
  struct Case {
    std::string_view text;
    StatusCode code;
  };
  const Case cases[] = {
      {"", kDateNoSeparator},
      {"Sunday", kDateNoSeparator},
      {"Sun, xx Nov 1994 08:49:37 GMT", kDateBadDay},
      {"Sun, 00 Nov 1994 08:49:37 GMT", kDateBadDay},
      {"Sun, 31 Nov 1994 08:49:37 GMT", kDateBadDay},
      {"Sun, 29 Feb 1900 08:49:37 GMT", kDateBadDay},
      {"Sun, 06 Nox 1994 08:49:37 GMT", kDateBadMonth},
      {"Sun, 06 November 1994 08:49:37 GMT", kDateBadMonth},
      {"Sun, 06 No", kDateBadMonth},
      {"Sun, 06 Nov", kDateBadYear},
      {"Sun, 06 Nov 65536 08:49:37 GMT", kDateBadYear},
      {"Sun, 06 Nov 99999999999999999999 08:49:37 GMT", kDateBadYear},
      {"Sun, 06 Nov 1994 24:49:37 GMT", kDateBadHour},
      {"Sun, 06 Nov 1994 08:60:37 GMT", kDateBadMinute},
      {"Sun, 06 Nov 1994 08:49:60 GMT", kDateBadSecond},
      {"Sun, 06 Nov 1994 xx:49:37 GMT", kDateBadHour},
      {"Sun Nov 32 08:49:37 1994", kDateBadDay},
      {"Sun Nov  6 08:49:37", kDateBadYear},
      {"Sun Feb 29 08:49:37 2001", kDateBadDay},
      {"Sunday, 06-Nov", kDateBadYear},
      {"Sunday, 06", kDateBadMonth},
      {"Sunday, 06-Nov-94 08:49:61 GMT", kDateBadSecond},
  };
  for (const Case& c : cases) {
    DateTime d = Make(7, 7, 7);
    EXPECT_EQ(
        Date_ParseInternetDate(M(), c.text.data(), static_cast<std::uint32_t>(c.text.size()), &d),
        c.code)
        << c.text;
    EXPECT_DATE(d, Make(7, 7, 7));
  }
  // Two-digit years of the RFC 850 form.
  struct Year {
    std::string_view text;
    int year;
  };
  for (const Year y : {Year{"Thursday, 01-Jan-70 00:00:00 GMT", 1970},
                       Year{"Wednesday, 31-Dec-69 00:00:00 GMT", 2069},
                       Year{"Saturday, 01-Jan-00 00:00:00 GMT", 2000}}) {
    DateTime d{};
    ASSERT_EQ(
        Date_ParseInternetDate(M(), y.text.data(), static_cast<std::uint32_t>(y.text.size()), &d),
        kOk);
    EXPECT_EQ(d.year, y.year) << y.text;
  }
  // A length that stops inside the text is honoured.
  const std::string_view full = "Sun, 06 Nov 1994 08:49:37 GMT";
  DateTime d{};
  ASSERT_EQ(Date_ParseInternetDate(M(), full.data(), 19, &d), kOk);
  EXPECT_DATE(d, Make(1994, 11, 6, 8, 0));
}

TEST(Date, NumericDateTimeAndTimeTexts) {
  struct Case {
    std::string_view text;
    StatusCode code;
    DateTime date;
  };
  const Case cases[] = {
      {"2001/02/28 13:14:15", kOk, Make(2001, 2, 28, 13, 14, 15)},
      {"2000-2-29", kOk, Make(2000, 2, 29)},
      {"1/1/1   7", kOk, Make(1, 1, 1, 7)},
      {"65535/12/31 23:59", kOk, Make(65535, 12, 31, 23, 59)},
      {"2001/13/01", kDateBadMonth, {}},
      {"2001/00/01", kDateBadMonth, {}},
      {"2001", kDateBadMonth, {}},
      {"2001/02/29", kDateBadDay, {}},
      {"2001/02", kDateBadDay, {}},
      {"2001/02/", kDateBadDay, {}},
      {"0/01/01", kDateBadYear, {}},
      {"/01/01", kDateBadYear, {}},
      {"65536/01/01", kDateBadYear, {}},
      {"2001/01/01 24:00:00", kDateBadHour, {}},
      {"2001/01/01 23:60", kDateBadMinute, {}},
      {"2001/01/01 23:59:", kDateBadSecond, {}},
  };
  for (const Case& c : cases) {
    DateTime d = Make(3, 3, 3, 3, 3, 3, 3);
    EXPECT_EQ(Date_ParseDateTime(M(), c.text.data(), static_cast<std::uint32_t>(c.text.size()), &d),
              c.code)
        << c.text;
    EXPECT_DATE(d, c.code == kOk ? c.date : Make(3, 3, 3, 3, 3, 3, 3));
  }

  struct TimeCase {
    std::string_view text;
    StatusCode code;
    int h, m, s;
  };
  const TimeCase times[] = {
      {"  08:49:37 GMT", kOk, 8, 49, 37}, {"8", kOk, 8, 0, 0},
      {"\t23.5", kOk, 23, 5, 0},          {"", kOk, 0, 0, 0},
      {"24", kDateBadHour, 0, 0, 0},      {"ab", kDateBadHour, 0, 0, 0},
      {"1:", kDateBadMinute, 0, 0, 0},    {"1:2:x", kDateBadSecond, 0, 0, 0},
  };
  for (const TimeCase& c : times) {
    DateTime d = Make(2020, 5, 6, 1, 2, 3, 44);
    EXPECT_EQ(Date_ParseTime(M(), c.text.data(), static_cast<std::uint32_t>(c.text.size()), &d),
              c.code)
        << c.text;
    EXPECT_DATE(
        d, c.code == kOk ? Make(2020, 5, 6, c.h, c.m, c.s, 44) : Make(2020, 5, 6, 1, 2, 3, 44));
  }

  std::array<char, 10> t{};
  t.fill('#');
  const DateTime d = Make(2020, 5, 6, 7, 8, 9);
  ASSERT_EQ(Date_FormatTime(M(), &d, t.data()), kOk);
  EXPECT_EQ(std::string(t.data()), "07:08:09");
  EXPECT_EQ(t[9], '#');
}

TEST(Date, FormattingNeverOverrunsItsFixedTexts) {
  // Five-digit years and out-of-range fields would need more digits than the
  // texts hold; they are refused and the buffer is left alone.
  struct Case {
    DateTime date;
    StatusCode code;
  };
  const Case cases[] = {
      {Make(10000, 1, 1), kDateBadYear},
      {Make(65535, 12, 31), kDateBadYear},
      {Make(2000, 1, 1, 100), kDateBadHour},
      {Make(2000, 1, 1, 1, 255), kDateBadMinute},
      {Make(2000, 1, 1, 1, 1, 60), kDateBadSecond},
      {Make(2000, 13, 1), kDateNoWeekday},
      {Make(2001, 2, 29), kDateNoWeekday},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Show(c.date));
    std::array<char, 32> buf{};
    buf.fill('#');
    EXPECT_EQ(Date_FormatInternetDate(M(), &c.date, buf.data()), c.code);
    EXPECT_EQ(Date_FormatDateTime(M(), &c.date, buf.data()), c.code);
    EXPECT_EQ(std::string_view(buf.data(), buf.size()), std::string(32, '#'));
  }
  std::array<char, 9> t{};
  const DateTime badHour = Make(2000, 1, 1, 99);
  EXPECT_EQ(Date_FormatTime(M(), &badHour, t.data()), kDateBadHour);
}

// The replaceable clock and the local zone, set through TZ.
class DateClockTest : public testing::Test {
 protected:
  static std::int64_t FixedClock() noexcept { return s_now; }

  void SetUp() override {
    const char* tz = std::getenv("TZ");
    if (tz != nullptr) savedTz_ = tz;
    previous_ = Date_SetClock(&FixedClock);
  }
  void TearDown() override {
    Date_SetClock(previous_);
    if (savedTz_) {
      setenv("TZ", savedTz_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  static void Zone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }

  static inline std::int64_t s_now = 0;
  DateClock previous_ = nullptr;
  std::optional<std::string> savedTz_;
};

TEST_F(DateClockTest, NowReadsTheInstalledClock) {
  Zone("UTC0");
  s_now = 784111777;  // 1994-11-06 08:49:37 UTC
  DateTime d{};
  ASSERT_EQ(Date_NowUtc(M(), &d), kOk);
  EXPECT_DATE(d, Make(1994, 11, 6, 8, 49, 37));
  s_now = -62167219200LL - 1;  // just before year 0
  EXPECT_EQ(Date_NowUtc(M(), &d), kDateOutOfRange);
  EXPECT_DATE(d, Make(1994, 11, 6, 8, 49, 37));
}

TEST_F(DateClockTest, UtcOffsetIsExactToTheMinute) {
  s_now = 784111777;
  struct Case {
    const char* tz;
    std::uint32_t seconds;
    StatusCode order;
    DateTime local;
  };
  // POSIX zone strings count west of Greenwich as positive.
  const Case cases[] = {
      {"IST-5:30", 19800, kCompareLess, Make(1994, 11, 6, 14, 19, 37)},
      {"NPT-5:45", 20700, kCompareLess, Make(1994, 11, 6, 14, 34, 37)},
      {"NST+3:30", 12600, kCompareGreater, Make(1994, 11, 6, 5, 19, 37)},
      {"UTC0", 0, kCompareEqual, Make(1994, 11, 6, 8, 49, 37)},
      {"XXX+12", 43200, kCompareGreater, Make(1994, 11, 5, 20, 49, 37)},
      {"YYY-14", 50400, kCompareLess, Make(1994, 11, 6, 22, 49, 37)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tz);
    Zone(c.tz);
    std::uint32_t seconds = 1;
    EXPECT_EQ(Date_GetUtcOffset(M(), &seconds), c.order);
    EXPECT_EQ(seconds, c.seconds);
    DateTime local{};
    ASSERT_EQ(Date_NowLocal(M(), &local), kOk);
    EXPECT_DATE(local, c.local);
    DateTime converted{};
    const DateTime utc = Make(1994, 11, 6, 8, 49, 37, 12);
    ASSERT_EQ(Date_UtcToLocal(M(), &utc, &converted), kOk);
    DateTime expected = c.local;
    expected.hundredths = 12;
    EXPECT_DATE(converted, expected);
    DateTime back{};
    ASSERT_EQ(Date_LocalToUtc(M(), &converted, &back), kOk);
    EXPECT_DATE(back, utc);
  }
}

}  // namespace
