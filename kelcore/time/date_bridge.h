// Days between two dates, and dates to and from time_t and std::chrono.
//
// A day number here counts days from 1 January 1970 (the epoch of time_t
// and of std::chrono::system_clock), negative before it, in the proleptic
// Gregorian calendar that tDATE uses. time_t values are read and made in
// UTC: ToTimeT gives the UTC midnight that starts a date (or the UTC
// instant of a tDATETIME taken as UTC), FromTimeT the UTC date of an
// instant. Nothing here consults the local time zone (docs/dates.md shows
// how to take local dates).
//
// Every operation returns 0, or 0xFFFFFFFF with a message as the thread's
// last error when a date is not valid (tDATE::IsValid: year 1583 or later)
// or a result does not fit its type; the output is then left unchanged.
#ifndef KELCORE_TIME_DATE_BRIDGE_H
#define KELCORE_TIME_DATE_BRIDGE_H

#include <chrono>
#include <ctime>

#include "kelcore/platform/export.h"
#include "kelcore/time/datetime.h"

// Conversions between tDATE / tDATETIME and the standard library's
// calendar types (time_t in UTC, std::chrono day counts), and day counts
// between two dates. Every call returns 0 or 0xFFFFFFFF, leaving a "DATE
// library error" as the last error for an invalid date or a result out of
// range; outputs are left unchanged on failure.
class KELCORE_API tDATE_BRIDGE {
 public:
  // The id string of the bridge's messages, "DATE library error".
  static char const *const cERROR_ID;

  // Days from 1 January 1970 to `date`.
  static unsigned int ToEpochDays(const tDATE &date, long long *days);
  // The date `days` days after 1 January 1970 (before it when negative).
  static unsigned int FromEpochDays(long long days, tDATE *date);
  // Days from `from` to `to`: negative when `to` is the earlier date, 0 for
  // the same date.
  static unsigned int DaysBetween(const tDATE &from, const tDATE &to, long long *days);

  // UTC midnight at the start of `date`.
  static unsigned int ToTimeT(const tDATE &date, std::time_t *t);
  // `dateTime` read as UTC; milliseconds are dropped.
  static unsigned int ToTimeT(const tDATETIME &dateTime, std::time_t *t);
  // The UTC date of `t` (times before 1970 included).
  static unsigned int FromTimeT(std::time_t t, tDATE *date);
  // The UTC date and time of `t`; milliseconds 0.
  static unsigned int FromTimeT(std::time_t t, tDATETIME *dateTime);

  // std::chrono::sys_days in C++20; the same clock and unit before it.
#if __cplusplus >= 202002L
  typedef std::chrono::sys_days tSYS_DAYS;
#else
  typedef std::chrono::time_point<std::chrono::system_clock,
                                  std::chrono::duration<long long, std::ratio<86400> > >
      tSYS_DAYS;
#endif
  // `date` as a std::chrono day count (see ToEpochDays).
  static unsigned int ToSysDays(const tDATE &date, tSYS_DAYS *days) {
    long long n = 0;
    unsigned int status = ToEpochDays(date, &n);
    if (status != 0) return status;
    tSYS_DAYS::rep rep = static_cast<tSYS_DAYS::rep>(n);
    if (static_cast<long long>(rep) != n) return OutOfRange(n);
    if (days != 0) *days = tSYS_DAYS(tSYS_DAYS::duration(rep));
    return 0;
  }
  // The date of a std::chrono day count (see FromEpochDays).
  static unsigned int FromSysDays(tSYS_DAYS days, tDATE *date) {
    return FromEpochDays(static_cast<long long>(days.time_since_epoch().count()), date);
  }

 private:
  // Raises "%0 days from 1 January 1970 is outside the range of the
  // result" for `days`; returns 0xFFFFFFFF.
  static unsigned int OutOfRange(long long days);
};

#endif  // KELCORE_TIME_DATE_BRIDGE_H
