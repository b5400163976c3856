// Calendar and clock arithmetic on the 8-byte DateTime, called on the module
// object (g_DateModule).
//
// The calendar is the proleptic Gregorian calendar for years 0 to 65535
// (year 0 is a leap year). Order results are the three-way answer as the
// status: kCompareEqual (0), kCompareLess (2, the first is earlier) or
// kCompareGreater (3). Operations that take a date for arithmetic require a
// calendar date (month 1-12, day within the month, hour 0-23, minute and
// second 0-59, hundredths 0-99) and answer kBadArgument otherwise. In-place
// and out arguments are written only on success. Texts are bytes with an
// explicit length and need no terminator.
//
// The clock is read through a replaceable hook (Date_SetClock), the local
// time zone through the C library (TZ).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "engine/runtime/core.h"

// The three-letter day names of the text forms, Monday first (the weekday
// numbering of this module: 0 Monday to 6 Sunday).
inline constexpr std::array<std::string_view, 7> kDateDayNames = {"Mon", "Tue", "Wed", "Thu",
                                                                  "Fri", "Sat", "Sun"};

struct DateTime {
  std::uint16_t year;
  std::uint8_t month;  // 1-12
  std::uint8_t day;    // 1-31
  std::uint8_t hour;   // 0-23
  std::uint8_t minute;
  std::uint8_t second;
  std::uint8_t hundredths;
};
static_assert(sizeof(DateTime) == 8);

// Failures of facility 0x006.
constexpr StatusCode kDateNoSeparator = MakeFailure(Facility::Date, 0x01);  // after the day name
constexpr StatusCode kDateBadYear = MakeFailure(Facility::Date, 0x02);
constexpr StatusCode kDateBadMonth = MakeFailure(Facility::Date, 0x03);
constexpr StatusCode kDateBadDay = MakeFailure(Facility::Date, 0x04);
constexpr StatusCode kDateBadHour = MakeFailure(Facility::Date, 0x05);  // or bad time text
constexpr StatusCode kDateBadMinute = MakeFailure(Facility::Date, 0x06);
constexpr StatusCode kDateBadSecond = MakeFailure(Facility::Date, 0x07);
constexpr StatusCode kDateNoWeekday = MakeFailure(Facility::Date, 0x08);  // while formatting
// Arithmetic left the years 0-65535 (or a time does not fit its epoch).
constexpr StatusCode kDateOutOfRange = kFailed;

// Lengths of the formatted texts.
constexpr std::uint32_t kInternetDateLength = 29;  // no terminator
constexpr std::uint32_t kTimeTextSize = 9;         // "HH:MM:SS" and a terminator
constexpr std::uint32_t kDateTimeTextSize = 20;    // "YYYY/MM/DD HH:MM:SS" and a terminator

struct DateOps {
  CoreEndWord word0;
  // 1: 6 (kYes) for a leap year (divisible by 4 and, when divisible by 100, by
  // 400), else 7 (kNo).
  StatusCode (*leapYearCode)(EngineObject* module, std::uint16_t year) noexcept;
  // 2: *count = leap years strictly between a and b (either order); order of a
  // against b.
  StatusCode (*leapYearsBetween)(EngineObject* module, std::uint16_t a, std::uint16_t b,
                                 std::uint16_t* count) noexcept;
  // 3: *days = length of the month in that year; kDateBadMonth outside 1-12.
  StatusCode (*daysInMonth)(EngineObject* module, std::uint16_t year, std::uint8_t month,
                            std::uint8_t* days) noexcept;
  // 4: one day later, carrying into month and year; time kept.
  // kDateOutOfRange past 65535-12-31.
  StatusCode (*nextDay)(EngineObject* module, DateTime* date) noexcept;
  // 5: one day earlier; kDateOutOfRange before 0000-01-01.
  StatusCode (*prevDay)(EngineObject* module, DateTime* date) noexcept;
  // 6: order by year, month, day, hour, minute, second, hundredths (no
  // validation).
  StatusCode (*compare)(EngineObject* module, const DateTime* a, const DateTime* b) noexcept;
  // 7: *days between the month/day pairs of a and b taken in a's year; order.
  StatusCode (*dayDiffInYear)(EngineObject* module, const DateTime* a, const DateTime* b,
                              std::uint32_t* days) noexcept;
  // 8: advances month/day by days within the year; days past 31 December are
  // left in *rest (the date then stops at 31 December), else *rest = 0.
  StatusCode (*addDaysInYear)(EngineObject* module, std::uint16_t year, std::uint8_t month,
                              std::uint8_t day, std::uint32_t days, std::uint8_t* outMonth,
                              std::uint8_t* outDay, std::uint32_t* rest) noexcept;
  // 9: the same backwards, stopping at 1 January.
  StatusCode (*subDaysInYear)(EngineObject* module, std::uint16_t year, std::uint8_t month,
                              std::uint8_t day, std::uint32_t days, std::uint8_t* outMonth,
                              std::uint8_t* outDay, std::uint32_t* rest) noexcept;
  // 10: *days between the calendar days of a and b (times ignored); order of
  // the whole dates.
  StatusCode (*dayDiff)(EngineObject* module, const DateTime* a, const DateTime* b,
                        std::uint32_t* days) noexcept;
  // 11: adds *days to the date and sets *days to 0; kDateOutOfRange past
  // 65535-12-31 (nothing written).
  StatusCode (*addDays)(EngineObject* module, DateTime* date, std::uint32_t* days) noexcept;
  // 12: subtracts; kDateOutOfRange before 0000-01-01.
  StatusCode (*subDays)(EngineObject* module, DateTime* date, std::uint32_t* days) noexcept;
  // 13: *seconds = whole seconds between a and b (hundredths borrowed),
  // 0xFFFFFFFF when the difference does not fit; order.
  StatusCode (*secondDiff)(EngineObject* module, const DateTime* a, const DateTime* b,
                           std::uint32_t* seconds) noexcept;
  // 14: adds seconds within the day, stopping at 23:59:59; what goes beyond
  // is left in *rest (else 0).
  StatusCode (*addSecondsInDay)(EngineObject* module, DateTime* date, std::uint32_t seconds,
                                std::uint32_t* rest) noexcept;
  // 15: subtracts, stopping at 00:00:00; what goes before is left in *rest.
  StatusCode (*subSecondsInDay)(EngineObject* module, DateTime* date, std::uint32_t seconds,
                                std::uint32_t* rest) noexcept;
  // 16: adds seconds with day carry; kDateOutOfRange past the range.
  StatusCode (*addSeconds)(EngineObject* module, DateTime* date, std::uint32_t seconds) noexcept;
  // 17: subtracts seconds with day borrow.
  StatusCode (*subSeconds)(EngineObject* module, DateTime* date, std::uint32_t seconds) noexcept;
  // 18: *weekday = 0 Monday ... 6 Sunday.
  StatusCode (*getWeekday)(EngineObject* module, const DateTime* date,
                           std::uint8_t* weekday) noexcept;
  // 19: parses the three date forms of HTTP: "Sun, 06 Nov 1994 08:49:37 GMT",
  // "Sunday, 06-Nov-94 08:49:37 GMT" (two-digit years: 70-99 are 19YY, else
  // 20YY) and "Sun Nov  6 08:49:37 1994". Month names are three letters in
  // any case; the day name is not checked; text after the date is ignored;
  // hundredths are 0. kDateNoSeparator, or the code of the field at fault.
  StatusCode (*parseInternetDate)(EngineObject* module, const char* text, std::uint32_t length,
                                  DateTime* date) noexcept;
  // 20: writes exactly 29 bytes, no terminator: "Sun, 06 Nov 1994 08:49:37 GMT".
  // kDateNoWeekday for a date that is not a calendar date, kDateBadYear for
  // years above 9999, the field's code for a bad hour, minute or second.
  StatusCode (*formatInternetDate)(EngineObject* module, const DateTime* date,
                                   char* text29) noexcept;
  // 21: current UTC time, hundredths 0; kDateOutOfRange when the clock is
  // outside the years 0-65535.
  StatusCode (*nowUtc)(EngineObject* module, DateTime* date) noexcept;
  // 22: current local time, hundredths 0.
  StatusCode (*nowLocal)(EngineObject* module, DateTime* date) noexcept;
  // 23: *seconds = distance between the UTC and the local clock now, to the
  // minute; order of UTC against local (2 when local is ahead).
  StatusCode (*getUtcOffset)(EngineObject* module, std::uint32_t* seconds) noexcept;
  // 24: local = UTC moved by the current offset.
  StatusCode (*utcToLocal)(EngineObject* module, const DateTime* utc, DateTime* local) noexcept;
  // 25: the reverse.
  StatusCode (*localToUtc)(EngineObject* module, const DateTime* local, DateTime* utc) noexcept;
  // 26: seconds since 1970-01-01 00:00:00 UTC (unsigned) to a date.
  StatusCode (*fromUnixTime)(EngineObject* module, std::uint32_t seconds, DateTime* date) noexcept;
  // 27: seconds since 1970-01-01 (hundredths dropped) into *seconds when it
  // is not null. kDateOutOfRange for dates before 1970 or after
  // 2106-02-07 06:28:15, so that 0xFFFFFFFF stays a real time.
  StatusCode (*toUnixTime)(EngineObject* module, const DateTime* date,
                           std::uint32_t* seconds) noexcept;
  // 28: 1904-01-01 00:00:00 plus the seconds (record-database header dates).
  StatusCode (*from1904Seconds)(EngineObject* module, std::uint32_t seconds,
                                DateTime* date) noexcept;
  // 29: skips white space, then "H[:M[:S]]" (any one byte separates the
  // fields; missing fields are 0; text after the second is ignored) into the
  // hour, minute and second of *date; its other fields are kept. Empty text
  // is 00:00:00. kDateBadHour (also for a hour that is not a number),
  // kDateBadMinute, kDateBadSecond.
  StatusCode (*parseTime)(EngineObject* module, const char* text, std::uint32_t length,
                          DateTime* date) noexcept;
  // 30: writes "HH:MM:SS" and a terminator (9 bytes); the field's code for a
  // value out of range.
  StatusCode (*formatTime)(EngineObject* module, const DateTime* date, char* text9) noexcept;
  // 31: "Y/M/D" then white space and the time as in ParseTime; any one byte
  // separates the date fields. kDateBadYear (missing, 0 or above 65535),
  // kDateBadMonth, kDateBadDay (also a missing separator before them), or the
  // time's codes. Hundredths 0.
  StatusCode (*parseDateTime)(EngineObject* module, const char* text, std::uint32_t length,
                              DateTime* date) noexcept;
  // 32: writes "YYYY/MM/DD HH:MM:SS" and a terminator (20 bytes);
  // kDateBadYear above 9999, kDateNoWeekday for a day that is not in the
  // calendar, the field's code for a bad time.
  StatusCode (*formatDateTime)(EngineObject* module, const DateTime* date, char* text20) noexcept;
  // 33: *hours = whole hours between a and b; order.
  StatusCode (*hourDiff)(EngineObject* module, const DateTime* a, const DateTime* b,
                         std::uint32_t* hours) noexcept;
  // 34: adds hours with day carry.
  StatusCode (*addHours)(EngineObject* module, DateTime* date, std::uint32_t hours) noexcept;
  // 35: subtracts hours with day borrow.
  StatusCode (*subHours)(EngineObject* module, DateTime* date, std::uint32_t hours) noexcept;
  CoreEndWord end;
};

extern EngineObject DateModule;

// The clock the dates read: seconds since 1970-01-01 00:00:00 UTC. Tests
// install their own; null restores the system clock. Returns the previous
// hook (null for the system clock).
using DateClock = std::int64_t (*)() noexcept;
DateClock Date_SetClock(DateClock clock) noexcept;

StatusCode Date_LeapYearCode(EngineObject* module, std::uint16_t year) noexcept;
StatusCode Date_LeapYearsBetween(EngineObject* module, std::uint16_t a, std::uint16_t b,
                                 std::uint16_t* count) noexcept;
StatusCode Date_DaysInMonth(EngineObject* module, std::uint16_t year, std::uint8_t month,
                            std::uint8_t* days) noexcept;
StatusCode Date_NextDay(EngineObject* module, DateTime* date) noexcept;
StatusCode Date_PrevDay(EngineObject* module, DateTime* date) noexcept;
StatusCode Date_Compare(EngineObject* module, const DateTime* a, const DateTime* b) noexcept;
StatusCode Date_DayDiffInYear(EngineObject* module, const DateTime* a, const DateTime* b,
                              std::uint32_t* days) noexcept;
StatusCode Date_AddDaysInYear(EngineObject* module, std::uint16_t year, std::uint8_t month,
                              std::uint8_t day, std::uint32_t days, std::uint8_t* outMonth,
                              std::uint8_t* outDay, std::uint32_t* rest) noexcept;
StatusCode Date_SubDaysInYear(EngineObject* module, std::uint16_t year, std::uint8_t month,
                              std::uint8_t day, std::uint32_t days, std::uint8_t* outMonth,
                              std::uint8_t* outDay, std::uint32_t* rest) noexcept;
StatusCode Date_DayDiff(EngineObject* module, const DateTime* a, const DateTime* b,
                        std::uint32_t* days) noexcept;
StatusCode Date_AddDays(EngineObject* module, DateTime* date, std::uint32_t* days) noexcept;
StatusCode Date_SubDays(EngineObject* module, DateTime* date, std::uint32_t* days) noexcept;
StatusCode Date_SecondDiff(EngineObject* module, const DateTime* a, const DateTime* b,
                           std::uint32_t* seconds) noexcept;
StatusCode Date_AddSecondsInDay(EngineObject* module, DateTime* date, std::uint32_t seconds,
                                std::uint32_t* rest) noexcept;
StatusCode Date_SubSecondsInDay(EngineObject* module, DateTime* date, std::uint32_t seconds,
                                std::uint32_t* rest) noexcept;
StatusCode Date_AddSeconds(EngineObject* module, DateTime* date, std::uint32_t seconds) noexcept;
StatusCode Date_SubSeconds(EngineObject* module, DateTime* date, std::uint32_t seconds) noexcept;
StatusCode Date_GetWeekday(EngineObject* module, const DateTime* date,
                           std::uint8_t* weekday) noexcept;
StatusCode Date_ParseInternetDate(EngineObject* module, const char* text, std::uint32_t length,
                                  DateTime* date) noexcept;
StatusCode Date_FormatInternetDate(EngineObject* module, const DateTime* date,
                                   char* text29) noexcept;
StatusCode Date_NowUtc(EngineObject* module, DateTime* date) noexcept;
StatusCode Date_NowLocal(EngineObject* module, DateTime* date) noexcept;
StatusCode Date_GetUtcOffset(EngineObject* module, std::uint32_t* seconds) noexcept;
StatusCode Date_UtcToLocal(EngineObject* module, const DateTime* utc, DateTime* local) noexcept;
StatusCode Date_LocalToUtc(EngineObject* module, const DateTime* local, DateTime* utc) noexcept;
StatusCode Date_FromUnixTime(EngineObject* module, std::uint32_t seconds, DateTime* date) noexcept;
StatusCode Date_ToUnixTime(EngineObject* module, const DateTime* date,
                           std::uint32_t* seconds) noexcept;
StatusCode Date_From1904Seconds(EngineObject* module, std::uint32_t seconds,
                                DateTime* date) noexcept;
StatusCode Date_ParseTime(EngineObject* module, const char* text, std::uint32_t length,
                          DateTime* date) noexcept;
StatusCode Date_FormatTime(EngineObject* module, const DateTime* date, char* text9) noexcept;
StatusCode Date_ParseDateTime(EngineObject* module, const char* text, std::uint32_t length,
                              DateTime* date) noexcept;
StatusCode Date_FormatDateTime(EngineObject* module, const DateTime* date, char* text20) noexcept;
StatusCode Date_HourDiff(EngineObject* module, const DateTime* a, const DateTime* b,
                         std::uint32_t* hours) noexcept;
StatusCode Date_AddHours(EngineObject* module, DateTime* date, std::uint32_t hours) noexcept;
StatusCode Date_SubHours(EngineObject* module, DateTime* date, std::uint32_t hours) noexcept;
