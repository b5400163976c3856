// The calendar arithmetic of repeating events, called on the module object
// (g_RepeatRuleModule): rule fields (hours, weekday names, weeks of the
// month, days) between bit sets and text, and the next occurrence of a rule.
// All date arithmetic goes through the date service and its clock.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"
#include "engine/runtime/date.h"

// Facility 0x019.
constexpr StatusCode kRepeatBadFieldType = MakeFailure(Facility::RepeatRule, 0x01);
constexpr StatusCode kRepeatBufferTooSmall = MakeFailure(Facility::RepeatRule, 0x02);
constexpr StatusCode kRepeatBadKind = MakeFailure(Facility::RepeatRule, 0x03);
constexpr StatusCode kRepeatNoClock = MakeFailure(Facility::RepeatRule, 0x05);
// A date step of the next-occurrence search failed (the result would leave
// the years 0-65535), one code per kind of rule.
constexpr StatusCode kRepeatHourlyStepFailed = MakeFailure(Facility::RepeatRule, 0x07);
constexpr StatusCode kRepeatDailyStepFailed = MakeFailure(Facility::RepeatRule, 0x08);
constexpr StatusCode kRepeatWeeklyStepFailed = MakeFailure(Facility::RepeatRule, 0x09);
constexpr StatusCode kRepeatMonthlyStepFailed = MakeFailure(Facility::RepeatRule, 0x0A);
// Bit-set forms whose set holds no usable bit.
constexpr StatusCode kRepeatNoWeekdayBit = MakeFailure(Facility::RepeatRule, 0x29);  // kind 3
constexpr StatusCode kRepeatNoWeekBit = MakeFailure(Facility::RepeatRule, 0x2A);     // kind 4
constexpr StatusCode kRepeatNoMonthBit = MakeFailure(Facility::RepeatRule, 0x30);    // kind 5

// Field types of the text form.
enum RepeatField : std::uint32_t {
  kRepeatFieldHours = 1,     // "0".."23", bit n for hour n
  kRepeatFieldWeekdays = 2,  // "Mon".."Sun", bit 0 Monday .. bit 6 Sunday
  kRepeatFieldWeeks = 3,     // "1".."5", bit n-1 for week n of the month
  kRepeatFieldDays = 4,      // "1".."32", bit n-1 for day n
};

// Kinds of rule.
enum RepeatKind : std::uint8_t {
  kRepeatHourly = 2,
  kRepeatDaily = 3,
  kRepeatWeekly = 4,  // with an interval; by weekday of the month without
  kRepeatMonthly = 5,
};

// A rule as the next-occurrence search reads it (an in-memory record).
struct RepeatRule {
  std::uint8_t kind;  // RepeatKind
  std::uint8_t reserved;
  // Hours x 100 + minutes; hours above 23 count as 23, minutes above 59 as 59.
  std::uint16_t timeOfDay;
  // Kind 4 by weekday of the month: 0 Monday .. 6 Sunday (above 6 is Sunday).
  std::uint8_t weekday;
  // Kind 5 by month: the day 1..31; 0 counts as 1, above 30 as the month's
  // last day; a day beyond a month's length is that month's last day.
  std::uint8_t monthDay;
  // Every N hours, days, weeks or months counted from the series start; 0
  // selects the bit-set form.
  std::uint16_t interval;
  // Bit-set form: weekdays (bit 0 Monday) for kind 3, weeks of the month
  // (bits 0-4, bit 4 the last such weekday) for kind 4, months (bit 0
  // January) for kind 5. Kind 2 has no set: every hour at the rule's minute.
  std::uint32_t bits;
};
static_assert(sizeof(RepeatRule) == 12);

struct RepeatRuleOps {
  CoreEndWord word0;
  // 1: writes the field's set items in ascending order, separated by ","
  // (numbers in decimal, weekdays as their three-letter names), then a NUL;
  // bits outside the field's range are ignored. With a null text, *length
  // becomes the size needed (terminator included); with a text, *length is
  // its capacity and becomes the bytes written (terminator included).
  // 0; kRepeatBufferTooSmall when the capacity is below the size needed
  // (nothing written); kRepeatBadFieldType; kBadArgument without bits;
  // kNullOutPointer without length.
  StatusCode (*formatField)(EngineObject* module, std::uint32_t fieldType,
                            const std::uint32_t* bits, char* text, std::uint32_t* length) noexcept;
  // 2: *bits = the set the text names (length 0: up to a NUL).
  // Numbers: every run of digits is one number (any other byte separates),
  // clamped to the field's range. Weekdays: tokens separated by tab, LF, CR,
  // blank or ","; a token of three or more bytes whose first three match a
  // name with A-Z folded sets its bit; others are ignored.
  // 0; kRepeatBadFieldType; kBadArgument without text; kNullOutPointer.
  StatusCode (*parseField)(EngineObject* module, std::uint32_t fieldType, const char* text,
                           std::uint32_t length, std::uint32_t* bits) noexcept;
  // 3: the next occurrence of the rule at or after the earliest acceptable
  // moment: the current local time, or the lower bound plus one minute when
  // that is later. Series start, end and lower bound are optional (null or
  // year 0); seconds and hundredths of the inputs and the clock are ignored.
  // *next has year 0 when the occurrence lies after the end; its seconds and
  // hundredths are 0.
  // 0; kRepeatBadKind; kRepeatNoClock; kRepeatNoWeekdayBit, kRepeatNoWeekBit,
  // kRepeatNoMonthBit for an empty set; the kind's ...StepFailed code when
  // the search leaves the calendar; kBadArgument without a rule or for a
  // given date that is not a calendar date; kNullOutPointer.
  StatusCode (*nextOccurrence)(EngineObject* module, const RepeatRule* rule,
                               const DateTime* seriesStart, const DateTime* end,
                               const DateTime* lowerBound, DateTime* next) noexcept;
  CoreEndWord end;
};

extern EngineObject RepeatRuleModule;

StatusCode RepeatRule_FormatField(EngineObject* module, std::uint32_t fieldType,
                                  const std::uint32_t* bits, char* text,
                                  std::uint32_t* length) noexcept;
StatusCode RepeatRule_ParseField(EngineObject* module, std::uint32_t fieldType, const char* text,
                                 std::uint32_t length, std::uint32_t* bits) noexcept;
StatusCode RepeatRule_NextOccurrence(EngineObject* module, const RepeatRule* rule,
                                     const DateTime* seriesStart, const DateTime* end,
                                     const DateTime* lowerBound, DateTime* next) noexcept;
