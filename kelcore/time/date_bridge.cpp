// Day numbers from 1 January 1970, and dates to and from time_t, in the
// proleptic Gregorian calendar, computed in 64-bit integers so that every
// year a tDATE can hold (up to 4294967295) converts without overflow.
#include "kelcore/time/date_bridge.h"

#include <climits>
#include <cstdio>
#include <new>

#include "kelcore/msg/message.h"
#include "kelcore/sync/thread.h"

char const *const tDATE_BRIDGE::cERROR_ID = "DATE library error";

namespace {

const long long kSecondsPerDay = 86400;

// Days from 1970-01-01 to year-month-day (era arithmetic over 400-year
// cycles of 146097 days; the year counts from March so that the leap day
// is the last day of its year).
long long DaysFromCivil(long long y, unsigned int m, unsigned int d) {
  y -= m <= 2 ? 1 : 0;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;                                   // 0 to 399
  const long long doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;  // 0 to 365
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;          // 0 to 146096
  return era * 146097 + doe - 719468;
}

void CivilFromDays(long long z, long long *y, unsigned int *m, unsigned int *d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  *d = static_cast<unsigned int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<unsigned int>(mp < 10 ? mp + 3 : mp - 9);
  *y = yoe + era * 400 + (*m <= 2 ? 1 : 0);
}

// The first and last day numbers of valid dates: 1 January 1583 and
// 31 December 4294967295.
long long FirstDay() { return DaysFromCivil(1583, 1, 1); }
long long LastDay() { return DaysFromCivil(UINT_MAX, 12, 31); }

// Floor division, for instants before 1970.
long long FloorDiv(long long a, long long b) {
  long long q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

unsigned int Raise(const char *format, const char *parm) {
  tMSG *msg = new (std::nothrow) tMSGSTR(format, tDATE_BRIDGE::cERROR_ID, tMSG::eERROR);
  if (msg == nullptr) {
    tTHREAD::SetLastError(tERRMSG::OutOfMemory);
    return 0xFFFFFFFF;
  }
  *msg << parm;
  tTHREAD::SetLastError(msg);
  return 0xFFFFFFFF;
}

unsigned int InvalidDate(const tDATE &date) {
  char text[48];
  std::snprintf(text, sizeof text, "%u-%02u-%02u", date.Year, date.Month, date.Day);
  return Raise("%0 is not a valid date (year 1583 or later, month 1 to 12, day within the month)",
               text);
}

unsigned int InvalidTime(const tTIME &time) {
  char text[64];
  std::snprintf(text, sizeof text, "%u:%02u:%02u.%03u", time.Hour, time.Minute, time.Second,
                time.Millisecond);
  return Raise("%0 is not a valid time of day", text);
}

unsigned int ToDays(const tDATE &date, long long *days) {
  if (!date.IsValid()) return InvalidDate(date);
  *days = DaysFromCivil(date.Year, date.Month, date.Day);
  return 0;
}

}  // namespace

unsigned int tDATE_BRIDGE::OutOfRange(long long days) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld", days);
  return Raise("%0 days from 1 January 1970 is outside the range of the result", text);
}

unsigned int tDATE_BRIDGE::ToEpochDays(const tDATE &date, long long *days) {
  long long n = 0;
  unsigned int status = ToDays(date, &n);
  if (status == 0 && days != nullptr) *days = n;
  return status;
}

unsigned int tDATE_BRIDGE::FromEpochDays(long long days, tDATE *date) {
  if (days < FirstDay() || days > LastDay()) return OutOfRange(days);
  long long y = 0;
  unsigned int m = 0, d = 0;
  CivilFromDays(days, &y, &m, &d);
  if (date != nullptr) *date = tDATE(static_cast<unsigned int>(y), m, d);
  return 0;
}

unsigned int tDATE_BRIDGE::DaysBetween(const tDATE &from, const tDATE &to, long long *days) {
  long long a = 0, b = 0;
  unsigned int status = ToDays(from, &a);
  if (status == 0) status = ToDays(to, &b);
  if (status == 0 && days != nullptr) *days = b - a;
  return status;
}

unsigned int tDATE_BRIDGE::ToTimeT(const tDATE &date, std::time_t *t) {
  return ToTimeT(tDATETIME(date, tTIME()), t);
}

unsigned int tDATE_BRIDGE::ToTimeT(const tDATETIME &dateTime, std::time_t *t) {
  long long days = 0;
  unsigned int status = ToDays(dateTime.Date, &days);
  if (status != 0) return status;
  if (!dateTime.Time.IsValid()) return InvalidTime(dateTime.Time);
  // At most about 1.6e12 days: times 86400 stays far below 2^63.
  long long seconds = days * kSecondsPerDay + dateTime.Time.Hour * 3600LL +
                      dateTime.Time.Minute * 60LL + dateTime.Time.Second;
  std::time_t value = static_cast<std::time_t>(seconds);
  if (static_cast<long long>(value) != seconds) return OutOfRange(days);  // a 32-bit time_t
  if (t != nullptr) *t = value;
  return 0;
}

unsigned int tDATE_BRIDGE::FromTimeT(std::time_t t, tDATE *date) {
  tDATETIME dateTime;
  unsigned int status = FromTimeT(t, &dateTime);
  if (status == 0 && date != nullptr) *date = dateTime.Date;
  return status;
}

unsigned int tDATE_BRIDGE::FromTimeT(std::time_t t, tDATETIME *dateTime) {
  const long long seconds = static_cast<long long>(t);
  const long long days = FloorDiv(seconds, kSecondsPerDay);
  tDATE date;
  unsigned int status = FromEpochDays(days, &date);
  if (status != 0) return status;
  const long long rest = seconds - days * kSecondsPerDay;  // 0 to 86399
  if (dateTime != nullptr) {
    *dateTime = tDATETIME(date, tTIME(static_cast<unsigned int>(rest / 3600),
                                      static_cast<unsigned int>(rest / 60 % 60),
                                      static_cast<unsigned int>(rest % 60), 0));
  }
  return 0;
}
