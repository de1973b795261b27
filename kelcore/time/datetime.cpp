#include "kelcore/time/datetime.h"

#include <cstdint>
#include <ctime>

#include "kelcore/platform/process.h"

// Day arithmetic works on the linear day number: days since 1 January of
// year 0 of the proleptic Gregorian calendar, kept modulo 2^32 as the
// unsigned fields are. Conversions use closed formulas over the 400-year
// Gregorian cycle instead of walking year by year from year 0, which would
// cost one loop turn per year (about 2000 for a date of today). The
// formulas give exactly what the walk gives for every input the walk
// handles, the wrap-around of the unsigned day number included.
//
// Every date up to the year 2,900,000 takes a path in 32-bit arithmetic
// (the Euclidean affine formulas of Neri and Schneider, which C++20's civil
// calendar also uses); the rest of the unsigned range takes the classic
// era formulas in 64 bits. Both paths were checked against each other for
// every day number of the 32-bit range.

namespace {

typedef std::uint32_t u32;
typedef std::uint64_t u64;
typedef std::int64_t i64;

const unsigned int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// The formulas count years from March, so that a leap day falls at the end
// of its year, and start one 400-year cycle (146097 days) before year 0 so
// that every intermediate value is positive. 1 January of year 0 is then
// day 146037 of the count.
const u64 kDaysPerEra = 146097;
const u32 kEraToDayZero = 146037;

// Limits of the 32-bit paths: 1461 times the shifted year, and 4 times the
// shifted day number plus 3, must fit in 32 bits.
const u32 kFastYearLimit = 2900000;
const u32 kFastDayLimit = 1073000000;

bool IsLeap(i64 year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// Folds a month outside 1 to 12 into the neighbouring years, so that month
// 13 is January of the next year and month 0 December of the previous one.
void NormaliseMonth(i64 *year, unsigned int *month) {
  if (*month - 1u < 12u) return;
  const i64 months = static_cast<i64>(*month) - 1;  // -1 for month 0
  i64 years = months / 12;
  i64 rest = months % 12;
  if (rest < 0) {
    rest += 12;
    --years;
  }
  *year += years;
  *month = static_cast<unsigned int>(rest) + 1u;
}

unsigned int LinearDayWide(unsigned int year, unsigned int month, unsigned int day) {
  i64 y = year;
  unsigned int m = month;
  NormaliseMonth(&y, &m);
  // y is at least -1 here, so the shifted year is positive.
  const u64 shifted = static_cast<u64>(y + 399 + (m > 2 ? 1 : 0));
  const u64 month_from_march = m > 2 ? m - 3 : m + 9;
  const u64 days = 365 * shifted + shifted / 4 - shifted / 100 + shifted / 400 +
                   (153 * month_from_march + 2) / 5 + static_cast<u64>(day) - 1 -
                   kEraToDayZero;
  // Modulo 2^32, as the unsigned sum of year, month and day lengths is.
  return static_cast<unsigned int>(days);
}

inline unsigned int LinearDay(unsigned int year, unsigned int month, unsigned int day) {
  if (month - 1u >= 12u || year >= kFastYearLimit) return LinearDayWide(year, month, day);
  const u32 january = month < 3 ? 1u : 0u;
  const u32 shifted = year + 400u - january;  // years from March of year -400
  const u32 month_from_march = january ? month + 12u : month;  // 3 to 14
  const u32 century = shifted / 100;
  // 1461 / 4 days a year with a leap day every fourth, less the century
  // years that are not leap years.
  const u32 year_days = 1461 * shifted / 4 - century + century / 4;
  const u32 month_days = (979 * month_from_march - 2919) / 32;
  // Unsigned: a day of 0 or beyond the month wraps like the described sum.
  return year_days + month_days + (day - 1u) - kEraToDayZero;
}

void CivilFromLinearWide(unsigned int linear, unsigned int *year, unsigned int *month,
                         unsigned int *day) {
  const u64 z = static_cast<u64>(linear) + kEraToDayZero;
  const u64 era = z / kDaysPerEra;
  const u64 day_of_era = z - era * kDaysPerEra;  // 0 to 146096
  const u64 year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const u64 day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const u64 month_from_march = (5 * day_of_year + 2) / 153;  // 0 is March
  const unsigned int m = static_cast<unsigned int>(
      month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
  *day = static_cast<unsigned int>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
  *month = m;
  *year = static_cast<unsigned int>(era * 400 + year_of_era + (m <= 2 ? 1 : 0) - 400);
}

inline void CivilFromLinear(unsigned int linear, unsigned int *year, unsigned int *month,
                            unsigned int *day) {
  if (linear >= kFastDayLimit) {
    CivilFromLinearWide(linear, year, month, day);
    return;
  }
  const u32 n = linear + kEraToDayZero;  // days from 1 March of year -400
  // Centuries and the day within the century.
  const u32 n1 = 4 * n + 3;
  const u32 century = n1 / 146097;
  const u32 day_of_century = n1 % 146097 / 4;
  // Years within the century (2939745 / 2^32 approximates 1 / 1461 * 4
  // closely enough for every day of a century), and the day within the year.
  const u64 u2 = static_cast<u64>(2939745) * (4 * day_of_century + 3);
  const u32 year_of_century = static_cast<u32>(u2 >> 32);
  const u32 day_of_year = static_cast<u32>(u2) / 2939745 / 4;  // 0 is 1 March
  // Month (3 to 14, March first) and day from one multiplication.
  const u32 n3 = 2141 * day_of_year + 197913;
  const u32 month_from_march = n3 >> 16;
  const u32 day_of_month = (n3 & 0xFFFF) / 2141;
  const u32 january = day_of_year >= 306 ? 1u : 0u;
  *year = 100 * century + year_of_century + january - 400u;
  *month = january ? month_from_march - 12 : month_from_march;
  *day = day_of_month + 1;
}

unsigned int MonthLength(unsigned int year, unsigned int month) {
  i64 y = year;
  unsigned int m = month;
  NormaliseMonth(&y, &m);
  return m == 2 && IsLeap(y) ? 29u : kMonthDays[m - 1];
}

// Splits field + n into the carry for the next larger unit and the part
// that stays, so that 0 <= rest < base. Without a borrow this is the
// unsigned sum, divided and reduced; a negative sum borrows from the next
// unit instead of wrapping around.
struct tCARRY {
  int carry;
  unsigned int rest;
};

tCARRY AddWithCarry(unsigned int field, int n, unsigned int base) {
  tCARRY result;
  const i64 sum = static_cast<i64>(field) + n;
  if (sum >= 0) {
    const unsigned int total = field + static_cast<unsigned int>(n);
    result.carry = static_cast<int>(total / base);
    result.rest = total % base;
  } else {
    const i64 carry = (sum - static_cast<i64>(base) + 1) / static_cast<i64>(base);
    result.carry = static_cast<int>(carry);
    result.rest = static_cast<unsigned int>(sum - carry * static_cast<i64>(base));
  }
  return result;
}

// The C runtime's tm record, completely defined: the parts a value lacks
// are set to a fixed date (1 January 1900, a Monday) and midnight, and the
// daylight-saving flag to "unknown".
std::tm BlankTm() {
  std::tm t = std::tm();
  t.tm_mday = 1;
  t.tm_wday = 1;
  t.tm_isdst = -1;
  return t;
}

bool FillDate(const tDATE &date, std::tm *t) {
  if (date.Year > 9999 || date.Month - 1u >= 12u || date.Day - 1u >= 31u) return false;
  const unsigned int linear = LinearDay(date.Year, date.Month, date.Day);
  t->tm_year = static_cast<int>(date.Year) - 1900;
  t->tm_mon = static_cast<int>(date.Month) - 1;
  t->tm_mday = static_cast<int>(date.Day);
  // Linear day 0 is a Saturday; the tm record counts from Sunday.
  t->tm_wday = static_cast<int>((linear + 6) % 7);
  t->tm_yday = static_cast<int>(linear - LinearDay(date.Year, 1, 1));
  return true;
}

bool FillTime(const tTIME &time, std::tm *t) {
  if (time.Hour > 23 || time.Minute > 59 || time.Second > 59) return false;
  t->tm_hour = static_cast<int>(time.Hour);
  t->tm_min = static_cast<int>(time.Minute);
  t->tm_sec = static_cast<int>(time.Second);
  return true;
}

void FormatTm(char *buf, unsigned int size, const char *format, const std::tm &t,
              bool representable) {
  if (buf == nullptr || size == 0) return;
  buf[0] = '\0';
  if (format == nullptr || !representable) return;
  // strftime leaves the buffer undefined when the text does not fit.
  if (std::strftime(buf, size, format, &t) == 0) buf[0] = '\0';
}

bool ReadClock(std::tm *t) { return kelsys::LocalTime(std::time(nullptr), t); }

}  // namespace

// --- tDATE -----------------------------------------------------------------

int tDATE::IsValid() const {
  return Year >= 1583 && Month - 1u < 12u && Day >= 1 && Day <= MonthLength(Year, Month) ? 1
                                                                                          : 0;
}

int tDATE::IsLeapYear() const { return IsLeap(Year) ? 1 : 0; }

unsigned int tDATE::GetMaxDays() const { return MonthLength(Year, Month); }

// The day operations call the file's own conversions rather than
// GetLinearDay/SetLinearDay: exported members may be interposed in a shared
// library, so the compiler could not inline them into these hot paths.
tDATE::eDAY_OF_THE_WEEK tDATE::GetDayOfWeek() const {
  return static_cast<eDAY_OF_THE_WEEK>(LinearDay(Year, Month, Day) % 7);
}

void tDATE::SetToCurrent() {
  std::tm t;
  if (!ReadClock(&t)) return;
  Year = static_cast<unsigned int>(t.tm_year + 1900);
  Month = static_cast<unsigned int>(t.tm_mon + 1);
  Day = static_cast<unsigned int>(t.tm_mday);
}

void tDATE::Format(char *buf, unsigned int size, const char *format) const {
  std::tm t = BlankTm();
  const bool ok = FillDate(*this, &t);
  FormatTm(buf, size, format, t, ok);
}

int tDATE::operator==(const tDATE &other) const {
  return Year == other.Year && Month == other.Month && Day == other.Day ? 1 : 0;
}

int tDATE::operator!=(const tDATE &other) const { return *this == other ? 0 : 1; }

int tDATE::operator<(const tDATE &other) const {
  if (Year != other.Year) return Year < other.Year ? 1 : 0;
  if (Month != other.Month) return Month < other.Month ? 1 : 0;
  return Day < other.Day ? 1 : 0;
}

int tDATE::operator>(const tDATE &other) const { return other < *this; }

// AddDays is inline (datetime.h), with the fast path of LinearDay and
// CivilFromLinear below.

void tDATE::AddMonths(int months) {
  const tCARRY moved = AddWithCarry(Month - 1u, months, 12);
  AddYears(moved.carry);
  Month = moved.rest + 1u;
}

void tDATE::AddYears(int years) { Year += static_cast<unsigned int>(years); }

void tDATE::SetToFirst(eDAY_OF_THE_WEEK weekday) {
  Day = 1;
  SetToNext(weekday);
}

void tDATE::SetToNext(eDAY_OF_THE_WEEK weekday) {
  const int current = GetDayOfWeek();
  const int wanted = weekday;
  if (current < wanted) {
    AddDays(wanted - current);
  } else if (current > wanted) {
    AddDays(wanted - current + 7);
  }
}

void tDATE::SetToLast(eDAY_OF_THE_WEEK weekday) {
  Day = GetMaxDays();
  SetToPrev(weekday);
}

void tDATE::SetToPrev(eDAY_OF_THE_WEEK weekday) {
  const int current = GetDayOfWeek();
  const int wanted = weekday;
  if (current > wanted) {
    AddDays(wanted - current);
  } else if (current < wanted) {
    AddDays(wanted - current - 7);
  }
}

unsigned int tDATE::GetLinearDay() const { return LinearDay(Year, Month, Day); }

void tDATE::SetLinearDay(unsigned int day) { CivilFromLinear(day, &Year, &Month, &Day); }

// --- tTIME -----------------------------------------------------------------

int tTIME::IsValid() const {
  return Hour < 24 && Minute < 60 && Second < 60 && Millisecond < 1000 ? 1 : 0;
}

// Each unit hands its carry to the next larger one before storing its own
// rest, so an override of the larger unit sees the value unchanged.
int tTIME::AddMilliseconds(int milliseconds) {
  const tCARRY moved = AddWithCarry(Millisecond, milliseconds, 1000);
  const int days = AddSeconds(moved.carry);
  Millisecond = moved.rest;
  return days;
}

int tTIME::AddSeconds(int seconds) {
  const tCARRY moved = AddWithCarry(Second, seconds, 60);
  const int days = AddMinutes(moved.carry);
  Second = moved.rest;
  return days;
}

int tTIME::AddMinutes(int minutes) {
  const tCARRY moved = AddWithCarry(Minute, minutes, 60);
  const int days = AddHours(moved.carry);
  Minute = moved.rest;
  return days;
}

int tTIME::AddHours(int hours) {
  const tCARRY moved = AddWithCarry(Hour, hours, 24);
  Hour = moved.rest;
  return moved.carry;
}

void tTIME::SetToCurrent() {
  std::tm t;
  if (!ReadClock(&t)) return;
  Hour = static_cast<unsigned int>(t.tm_hour);
  Minute = static_cast<unsigned int>(t.tm_min);
  Second = static_cast<unsigned int>(t.tm_sec);
  Millisecond = 0;
}

void tTIME::Format(char *buf, unsigned int size, const char *format) const {
  std::tm t = BlankTm();
  const bool ok = FillTime(*this, &t);
  FormatTm(buf, size, format, t, ok);
}

int tTIME::operator==(const tTIME &other) const {
  return Hour == other.Hour && Minute == other.Minute && Second == other.Second &&
                 Millisecond == other.Millisecond
             ? 1
             : 0;
}

int tTIME::operator!=(const tTIME &other) const { return *this == other ? 0 : 1; }

int tTIME::operator<(const tTIME &other) const {
  if (Hour != other.Hour) return Hour < other.Hour ? 1 : 0;
  if (Minute != other.Minute) return Minute < other.Minute ? 1 : 0;
  if (Second != other.Second) return Second < other.Second ? 1 : 0;
  return Millisecond < other.Millisecond ? 1 : 0;
}

int tTIME::operator>(const tTIME &other) const { return other < *this; }

// --- tDATETIME -------------------------------------------------------------

int tDATETIME::IsValid() const { return Date.IsValid() && Time.IsValid() ? 1 : 0; }

int tDATETIME::AddMilliseconds(int milliseconds) {
  const int days = Time.AddMilliseconds(milliseconds);
  Date.AddDays(days);
  return days;
}

int tDATETIME::AddSeconds(int seconds) {
  const int days = Time.AddSeconds(seconds);
  Date.AddDays(days);
  return days;
}

int tDATETIME::AddMinutes(int minutes) {
  const int days = Time.AddMinutes(minutes);
  Date.AddDays(days);
  return days;
}

int tDATETIME::AddHours(int hours) {
  const int days = Time.AddHours(hours);
  Date.AddDays(days);
  return days;
}

void tDATETIME::SetToCurrent() {
  std::tm t;
  if (!ReadClock(&t)) return;
  Date.Year = static_cast<unsigned int>(t.tm_year + 1900);
  Date.Month = static_cast<unsigned int>(t.tm_mon + 1);
  Date.Day = static_cast<unsigned int>(t.tm_mday);
  Time.Hour = static_cast<unsigned int>(t.tm_hour);
  Time.Minute = static_cast<unsigned int>(t.tm_min);
  Time.Second = static_cast<unsigned int>(t.tm_sec);
  Time.Millisecond = 0;
}

void tDATETIME::Format(char *buf, unsigned int size, const char *format) const {
  std::tm t = BlankTm();
  const bool ok = FillDate(Date, &t) && FillTime(Time, &t);
  FormatTm(buf, size, format, t, ok);
}

int tDATETIME::operator==(const tDATETIME &other) const {
  return Date == other.Date && Time == other.Time ? 1 : 0;
}

int tDATETIME::operator!=(const tDATETIME &other) const { return *this == other ? 0 : 1; }

int tDATETIME::operator<(const tDATETIME &other) const {
  if (Date != other.Date) return Date < other.Date;
  return Time < other.Time;
}

int tDATETIME::operator>(const tDATETIME &other) const { return other < *this; }

int tDATETIME::operator<=(const tDATETIME &other) const {
  return *this < other || *this == other ? 1 : 0;
}

int tDATETIME::operator>=(const tDATETIME &other) const {
  return *this > other || *this == other ? 1 : 0;
}
