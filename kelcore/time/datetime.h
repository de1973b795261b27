// Calendar dates, times of day and the two together.
//
// tDATE holds a date of the proleptic Gregorian calendar (full year, month
// 1 to 12, day 1 to 31), tTIME a time of day with milliseconds, tDATETIME
// both. They are plain values with public fields: copy them freely, and set
// the fields directly or through the operations.
//
// Fields are unsigned and arithmetic on them is unsigned (modulo 2^32), so
// a value can hold an invalid date such as 31 February; IsValid tells.
// Dates count as valid from 1 January 1583, the first full Gregorian year.
//
// Negative additions:
// - AddDays and AddYears move backwards correctly while the result stays at
//   or after 1 January of year 0 (linear day 0) or year 0; further back the
//   unsigned linear day or year wraps around.
// - AddMonths and the time additions borrow: AddMonths(-1) on 15 January
//   2000 gives 15 December 1999, AddMilliseconds(-1) at 00:00:00.000 gives
//   23:59:59.999 and returns -1 (one day carried backwards).
//
// Months outside 1 to 12 (invalid dates only) count on into the
// neighbouring years for the day arithmetic: month 13 is January of the
// next year, month 0 December of the previous one.
//
// Format writes strftime text into the caller's buffer, never more than its
// size (a null buffer or a size of 0 writes nothing; text that does not fit
// leaves an empty text). The C library's tm record is filled completely:
// - tDATE: the date, its weekday and day of the year, time 00:00:00.
// - tTIME: the time, on the fixed date Monday 1 January 1900.
// - tDATETIME: the date with its weekday and day of the year, and the time.
// The daylight-saving flag is -1 (unknown): the values carry no time zone,
// so %Z and %z are not supported. Only fields inside the ranges of the C
// tm record can be formatted: a year above 9999, a month outside 1 to 12, a
// day outside 1 to 31, an hour above 23, a minute or second above 59 give
// an empty text (the Windows C runtime refuses them).
#ifndef KELCORE_TIME_DATETIME_H
#define KELCORE_TIME_DATETIME_H

#include "kelcore/platform/export.h"

// A calendar date (Gregorian calendar) with day arithmetic, weekdays and formatting (see the
// file comment).
class KELCORE_API tDATE {
 public:
  // The linear day number modulo 7: day 0, 1 January of year 0, was a
  // Saturday.
  enum eDAY_OF_THE_WEEK {
    eSATURDAY = 0,
    eSUNDAY = 1,
    eMONDAY = 2,
    eTUESDAY = 3,
    eWEDNESDAY = 4,
    eTHURSDAY = 5,
    eFRIDAY = 6
  };

  unsigned int Year;   // full year, for example 1997
  unsigned int Month;  // 1 to 12
  unsigned int Day;    // 1 to 31

  // All zeros: not a valid date.
  tDATE() : Year(0), Month(0), Day(0) {}
  tDATE(unsigned int year, unsigned int month, unsigned int day)
      : Year(year), Month(month), Day(day) {}

  // Non-zero when the year is at least 1583, the month 1 to 12 and the day
  // within the month's length.
  virtual int IsValid() const;
  virtual ~tDATE() {}

  // Non-zero when the year is a leap year of the Gregorian calendar.
  int IsLeapYear() const;
  // Length of the date's month.
  unsigned int GetMaxDays() const;
  // The date's weekday.
  eDAY_OF_THE_WEEK GetDayOfWeek() const;

  // Today's local date.
  void SetToCurrent();
  // Writes the date into `buf` (`size` bytes, NUL included) with the strftime-style `format`
  // (see the file comment); cut to fit.
  void Format(char *buf, unsigned int size, const char *format) const;

  // Lexicographic order of (year, month, day).
  int operator==(const tDATE &other) const;
  // Non-zero when the dates differ.
  int operator!=(const tDATE &other) const;
  // Non-zero when this date comes before `other`.
  int operator<(const tDATE &other) const;
  // Non-zero when this date comes after `other`.
  int operator>(const tDATE &other) const;

  // Moves by whole days across months and years. Inline for the dates of
  // every day (months 1 to 12, years and day numbers far beyond any
  // calendar's use), which day arithmetic in a loop meets; the rest goes
  // through the general conversions. datetime.cpp explains the formulas.
  KELCORE_INLINE_API void AddDays(int days) {
    if (Month - 1u < 12u && Year < 2900000u) {
      const unsigned int linear = NearLinearDay() + static_cast<unsigned int>(days);
      if (linear < 1073000000u) {
        SetNearLinearDay(linear);
      } else {
        SetLinearDay(linear);
      }
      return;
    }
    SetLinearDay(GetLinearDay() + static_cast<unsigned int>(days));
  }
  // Moves the month, carrying into the year; the day stays, so 31 January
  // plus one month is the invalid 31 February.
  void AddMonths(int months);
  // Moves the year; month and day stay (29 February may become invalid).
  void AddYears(int years);

  // Day 1 of the month, then SetToNext.
  void SetToFirst(eDAY_OF_THE_WEEK weekday);
  // Forward 0 to 6 days to the first date with that weekday.
  void SetToNext(eDAY_OF_THE_WEEK weekday);
  // The month's last day, then SetToPrev.
  void SetToLast(eDAY_OF_THE_WEEK weekday);
  // Back 0 to 6 days to the first date with that weekday.
  void SetToPrev(eDAY_OF_THE_WEEK weekday);

 private:
  // Days since 1 January of year 0 (day 0), modulo 2^32.
  unsigned int GetLinearDay() const;
  void SetLinearDay(unsigned int day);

  // The same in 32-bit arithmetic, for months 1 to 12 and years below
  // 2,900,000 (NearLinearDay), and day numbers below 1,073,000,000
  // (SetNearLinearDay): the Euclidean affine formulas over 400-year cycles
  // counted from 1 March of year -400 (day 146037 of the count is day 0).
  unsigned int NearLinearDay() const {
    const unsigned int january = Month < 3 ? 1u : 0u;
    const unsigned int shifted = Year + 400u - january;
    const unsigned int month_from_march = Month + 12u * january;  // 3 to 14
    const unsigned int century = shifted / 100;
    return 1461 * shifted / 4 - century + century / 4 + (979 * month_from_march - 2919) / 32 +
           (Day - 1u) - 146037u;
  }
  void SetNearLinearDay(unsigned int linear) {
    const unsigned int n1 = 4 * (linear + 146037u) + 3;
    const unsigned int century = n1 / 146097;
    const unsigned int day_of_century = n1 % 146097 / 4;
    const unsigned long long u2 = 2939745ull * (4 * day_of_century + 3);
    const unsigned int year_of_century = static_cast<unsigned int>(u2 >> 32);
    const unsigned int day_of_year = static_cast<unsigned int>(u2) / 2939745 / 4;  // 0: 1 March
    const unsigned int n3 = 2141 * day_of_year + 197913;
    const unsigned int january = day_of_year >= 306 ? 1u : 0u;
    Year = 100 * century + year_of_century + january - 400u;
    Month = (n3 >> 16) - 12u * january;
    Day = (n3 & 0xFFFF) / 2141 + 1;
  }
};

// A time of day with arithmetic and formatting (see the file comment).
class KELCORE_API tTIME {
 public:
  unsigned int Hour;         // 0 to 23
  unsigned int Minute;       // 0 to 59
  unsigned int Second;       // 0 to 59
  unsigned int Millisecond;  // 0 to 999

  // All zeros: midnight.
  tTIME() : Hour(0), Minute(0), Second(0), Millisecond(0) {}
  tTIME(unsigned int hour, unsigned int minute, unsigned int second,
        unsigned int millisecond = 0)
      : Hour(hour), Minute(minute), Second(second), Millisecond(millisecond) {}

  // Non-zero when every field is within its range.
  virtual int IsValid() const;
  // Each adds with carry into the next larger unit and returns the whole
  // days carried out of the hours (negative when moving backwards past
  // midnight).
  virtual int AddMilliseconds(int milliseconds);
  // Adds seconds, with carry; returns the whole days carried.
  virtual int AddSeconds(int seconds);
  // Adds minutes, with carry; returns the whole days carried.
  virtual int AddMinutes(int minutes);
  // Adds hours, with carry; returns the whole days carried.
  virtual int AddHours(int hours);
  virtual ~tTIME() {}

  // The local time of day; milliseconds 0.
  void SetToCurrent();
  // Writes the time into `buf` (`size` bytes, NUL included) with the strftime-style `format`;
  // cut to fit.
  void Format(char *buf, unsigned int size, const char *format) const;

  // Lexicographic order of (hour, minute, second, millisecond).
  int operator==(const tTIME &other) const;
  // Non-zero when the times differ.
  int operator!=(const tTIME &other) const;
  // Non-zero when this time comes before `other`.
  int operator<(const tTIME &other) const;
  // Non-zero when this time comes after `other`.
  int operator>(const tTIME &other) const;
};

// A date and a time of day together (see the file comment).
class KELCORE_API tDATETIME {
 public:
  // The date.
  tDATE Date;
  // The time of day.
  tTIME Time;

  tDATETIME() {}
  tDATETIME(const tDATE &date, const tTIME &time) : Date(date), Time(time) {}

  // Both the date and the time are valid.
  virtual int IsValid() const;
  // The time's addition, then the date moved by the days it carried;
  // returns those days.
  virtual int AddMilliseconds(int milliseconds);
  // Adds seconds to the time and the carried days to the date; returns those days.
  virtual int AddSeconds(int seconds);
  // Adds minutes to the time and the carried days to the date; returns those days.
  virtual int AddMinutes(int minutes);
  // Adds hours to the time and the carried days to the date; returns those days.
  virtual int AddHours(int hours);
  virtual ~tDATETIME() {}

  // The local date and time from one reading of the clock; milliseconds 0.
  void SetToCurrent();
  // Writes the date and time into `buf` (`size` bytes, NUL included) with the strftime-style
  // `format`; cut to fit.
  void Format(char *buf, unsigned int size, const char *format) const;

  // Dates first; equal dates are ordered by time.
  int operator==(const tDATETIME &other) const;
  // Non-zero when the date-times differ.
  int operator!=(const tDATETIME &other) const;
  // Non-zero when this date-time comes before `other`.
  int operator<(const tDATETIME &other) const;
  // Non-zero when this date-time comes after `other`.
  int operator>(const tDATETIME &other) const;
  // Non-zero when this date-time comes before `other` or equals it.
  int operator<=(const tDATETIME &other) const;
  // Non-zero when this date-time comes after `other` or equals it.
  int operator>=(const tDATETIME &other) const;
};

#endif  // KELCORE_TIME_DATETIME_H
