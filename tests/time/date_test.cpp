// tDATE: validity, day numbers, weekdays and calendar arithmetic.
//
// The day arithmetic is checked against references that share nothing with
// the library's closed formulas: a calendar that steps one day at a time,
// a literal year-by-year walk for the wrap-around cases, and (when the
// standard library has them) C++20's civil dates.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <sstream>
#include <string>

#if defined(__has_include)
#  if __has_include(<version>)
#    include <version>
#  endif
#endif
// libstdc++ has the civil calendar types from GCC 11 on, but announces
// them only with the time-zone database (GCC 14).
#if (defined(__cpp_lib_chrono) && __cpp_lib_chrono >= 201907L) || \
    (__cplusplus > 201703L && defined(_GLIBCXX_RELEASE) && _GLIBCXX_RELEASE >= 11)
#  include <chrono>
#  define KELCORE_TEST_HAVE_CIVIL_CHRONO 1
#endif

#include "kelcore/time/datetime.h"

namespace {

std::string Text(const tDATE &d) {
  std::ostringstream out;
  out << d.Year << '-' << d.Month << '-' << d.Day;
  return out.str();
}

::testing::AssertionResult SameDate(const tDATE &got, unsigned y, unsigned m, unsigned d) {
  if (got.Year == y && got.Month == m && got.Day == d) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "got " << Text(got) << ", want " << Text(tDATE(y, m, d));
}

// --- independent references ------------------------------------------------

bool RefLeap(std::uint64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned RefMonthLength(std::uint64_t y, unsigned m) {
  static const unsigned kLen[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && RefLeap(y) ? 29 : kLen[m - 1];
}

// The day after (y, m, d), one step of a wall calendar.
void RefNextDay(unsigned *y, unsigned *m, unsigned *d) {
  if (*d < RefMonthLength(*y, *m)) {
    ++*d;
  } else if (*m < 12) {
    ++*m;
    *d = 1;
  } else {
    ++*y;
    *m = 1;
    *d = 1;
  }
}

// Leap years among the years 0 to y - 1: whole 400-year cycles hold 97,
// the rest is counted one year at a time.
std::uint64_t RefLeapYearsBefore(std::uint64_t y) {
  std::uint64_t count = (y / 400) * 97;
  for (std::uint64_t year = y / 400 * 400; year < y; ++year) count += RefLeap(year) ? 1 : 0;
  return count;
}

// The linear day number as the library defines it, month 1 to 12 only,
// modulo 2^32.
unsigned RefLinear(std::uint64_t y, unsigned m, unsigned d) {
  std::uint64_t days = 365 * y + RefLeapYearsBefore(y);
  for (unsigned month = 1; month < m; ++month) days += RefMonthLength(y, month);
  days += d;
  days -= 1;
  return static_cast<unsigned>(days);
}

// The library's conversion back from a linear day, walking year by year
// and month by month; whole 400-year cycles of 146097 days are skipped.
void RefCivil(unsigned n, unsigned *y, unsigned *m, unsigned *d) {
  std::uint64_t total = n / 146097 * std::uint64_t{146097};
  std::uint64_t year = n / 146097 * std::uint64_t{400};
  for (;;) {
    const unsigned length = RefLeap(year) ? 366 : 365;
    if (n < total + length) break;
    total += length;
    ++year;
  }
  std::uint64_t rest = n - total;
  unsigned month = 1;
  while (rest >= RefMonthLength(year, month)) {
    rest -= RefMonthLength(year, month);
    ++month;
  }
  *y = static_cast<unsigned>(year);
  *m = month;
  *d = static_cast<unsigned>(rest) + 1;
}

// --- validity --------------------------------------------------------------

struct ValidityCase {
  unsigned year, month, day;
  int valid;
};

class DateValidity : public ::testing::TestWithParam<ValidityCase> {};

TEST_P(DateValidity, MatchesTable) {
  const ValidityCase &c = GetParam();
  const tDATE d(c.year, c.month, c.day);
  EXPECT_EQ(c.valid != 0, d.IsValid() != 0) << Text(d);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DateValidity,
    ::testing::Values(ValidityCase{2000, 2, 29, 1}, ValidityCase{1900, 2, 29, 0},
                      ValidityCase{2100, 2, 29, 0}, ValidityCase{2400, 2, 29, 1},
                      ValidityCase{2024, 2, 29, 1}, ValidityCase{2023, 2, 29, 0},
                      ValidityCase{2023, 2, 28, 1}, ValidityCase{1582, 12, 31, 0},
                      ValidityCase{1582, 1, 1, 0}, ValidityCase{1583, 1, 1, 1},
                      ValidityCase{0, 0, 0, 0}, ValidityCase{2023, 0, 1, 0},
                      ValidityCase{2023, 13, 1, 0}, ValidityCase{2023, 1, 0, 0},
                      ValidityCase{2023, 1, 31, 1}, ValidityCase{2023, 1, 32, 0},
                      ValidityCase{2023, 4, 30, 1}, ValidityCase{2023, 4, 31, 0},
                      ValidityCase{2023, 6, 31, 0}, ValidityCase{2023, 9, 31, 0},
                      ValidityCase{2023, 11, 31, 0}, ValidityCase{2023, 12, 31, 1},
                      ValidityCase{9999, 12, 31, 1}, ValidityCase{4294967295u, 12, 31, 1},
                      ValidityCase{2023, 4294967295u, 1, 0},
                      ValidityCase{2023, 1, 4294967295u, 0}));

TEST(Date, DefaultIsAllZeroAndInvalid) {
  const tDATE d;
  EXPECT_TRUE(SameDate(d, 0, 0, 0));
  EXPECT_EQ(0, d.IsValid());
}

TEST(Date, IsValidIsVirtual) {
  struct tALWAYS : tDATE {
    int IsValid() const { return 1; }
  } always;
  const tDATE &base = always;
  EXPECT_EQ(1, base.IsValid());
}

TEST(Date, LeapYearRule) {
  const struct {
    unsigned year;
    int leap;
  } cases[] = {{0, 1}, {4, 1}, {100, 0}, {400, 1}, {1900, 0}, {1996, 1}, {1997, 0},
               {2000, 1}, {2023, 0}, {2024, 1}, {2100, 0}, {4294967292u, 1},
               {4294967100u, 0}};
  for (const auto &c : cases) {
    EXPECT_EQ(c.leap != 0, tDATE(c.year, 1, 1).IsLeapYear() != 0) << c.year;
  }
}

TEST(Date, MonthLengths) {
  const unsigned common[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (unsigned m = 1; m <= 12; ++m) {
    EXPECT_EQ(common[m - 1], tDATE(2023, m, 1).GetMaxDays()) << m;
    EXPECT_EQ(m == 2 ? 29u : common[m - 1], tDATE(2024, m, 1).GetMaxDays()) << m;
  }
  EXPECT_EQ(28u, tDATE(1900, 2, 1).GetMaxDays());
  EXPECT_EQ(29u, tDATE(2000, 2, 1).GetMaxDays());
}

// --- every day from 1583 to 9999 -------------------------------------------

TEST(Date, EveryDayAgainstSteppingCalendar) {
  // Day 0 is 1 January of year 0; count whole years up to 1583 one by one.
  unsigned linear = 0;
  for (unsigned y = 0; y < 1583; ++y) linear += RefLeap(y) ? 366 : 365;

  unsigned y = 1583, m = 1, d = 1;
  unsigned prev_y = 1582, prev_m = 12, prev_d = 31;
  long failures = 0;
  std::string first_failures;
  tDATE date;
  // Names the failing date; the text is built only when something fails.
  const auto fail = [&](const char *what, const tDATE *got) {
    if (++failures > 5) return;
    first_failures += Text(date) + ": " + what;
    if (got != nullptr) first_failures += " gives " + Text(*got);
    first_failures += "\n";
  };
  const tDATE day_zero(0, 1, 1);
  long days_checked = 0;
  while (y <= 9999) {
    date = tDATE(y, m, d);
    unsigned ny = y, nm = m, nd = d;
    RefNextDay(&ny, &nm, &nd);

    if (!date.IsValid()) fail("not valid", nullptr);
    if (static_cast<unsigned>(date.GetDayOfWeek()) != linear % 7) fail("weekday", nullptr);

    tDATE from_zero = day_zero;  // SetLinearDay(linear)
    from_zero.AddDays(static_cast<int>(linear));
    if (from_zero != date) fail("from day 0", &from_zero);

    tDATE to_zero = date;  // GetLinearDay() == linear
    to_zero.AddDays(-static_cast<int>(linear));
    if (to_zero != day_zero) fail("back to day 0", &to_zero);

    tDATE same = date;
    same.AddDays(0);
    if (same != date) fail("plus 0", &same);

    tDATE next = date;
    next.AddDays(1);
    if (!(next == tDATE(ny, nm, nd))) fail("plus 1", &next);

    tDATE previous = date;
    previous.AddDays(-1);
    if (!(previous == tDATE(prev_y, prev_m, prev_d))) fail("minus 1", &previous);

#if defined(KELCORE_TEST_HAVE_CIVIL_CHRONO)
    {
      using namespace std::chrono;
      const year_month_day ymd{year{static_cast<int>(y)}, month{m}, day{d}};
      const sys_days sd{ymd};
      // sys_days counts from 1970-01-01, linear day 719528.
      if (static_cast<long long>(sd.time_since_epoch().count()) + 719528 !=
          static_cast<long long>(linear))
        fail("differs from std::chrono", nullptr);
      // chrono's weekday counts from Sunday, the library's from Saturday.
      if ((weekday{sd}.c_encoding() + 1) % 7 != static_cast<unsigned>(date.GetDayOfWeek()))
        fail("weekday differs from std::chrono", nullptr);
    }
#endif

    prev_y = y;
    prev_m = m;
    prev_d = d;
    y = ny;
    m = nm;
    d = nd;
    ++linear;
    ++days_checked;
  }
  EXPECT_EQ(0, failures) << first_failures;
  // 8417 years, 2041 of them leap years.
  EXPECT_EQ(8417L * 365 + 2041, days_checked);
}

TEST(Date, SteppingCalendarAgreesWithTheRealWeekdays) {
  // The reference above derives weekdays from day numbers; anchor it.
  EXPECT_EQ(5u, RefLinear(1970, 1, 1) % 7);   // a Thursday
  EXPECT_EQ(4u, RefLinear(1997, 1, 1) % 7);   // a Wednesday
  EXPECT_EQ(1u, RefLinear(1997, 6, 1) % 7);   // a Sunday
  EXPECT_EQ(6u, RefLinear(1582, 10, 15) % 7); // the first Gregorian day, a Friday
}

// --- documented edge cases -------------------------------------------------

TEST(Date, KnownWeekdays) {
  EXPECT_EQ(tDATE::eTHURSDAY, tDATE(1970, 1, 1).GetDayOfWeek());
  EXPECT_EQ(tDATE::eWEDNESDAY, tDATE(2024, 12, 25).GetDayOfWeek());
  EXPECT_EQ(tDATE::eWEDNESDAY, tDATE(1997, 1, 1).GetDayOfWeek());
  EXPECT_EQ(tDATE::eSATURDAY, tDATE(2000, 1, 1).GetDayOfWeek());
  EXPECT_EQ(tDATE::eSATURDAY, tDATE(0, 1, 1).GetDayOfWeek());
  EXPECT_EQ(5, static_cast<int>(tDATE::eTHURSDAY));
  EXPECT_EQ(1, static_cast<int>(tDATE::eSUNDAY));
  EXPECT_EQ(6, static_cast<int>(tDATE::eFRIDAY));
}

TEST(Date, AddDaysAcrossCenturyFebruaries) {
  tDATE d(1900, 2, 28);
  d.AddDays(1);
  EXPECT_TRUE(SameDate(d, 1900, 3, 1));
  d = tDATE(2000, 2, 28);
  d.AddDays(1);
  EXPECT_TRUE(SameDate(d, 2000, 2, 29));
  d = tDATE(1899, 12, 31);
  d.AddDays(0);
  EXPECT_TRUE(SameDate(d, 1899, 12, 31));
  d = tDATE(1900, 1, 1);
  d.AddDays(0);
  EXPECT_TRUE(SameDate(d, 1900, 1, 1));
}

TEST(Date, AddDaysLongDistances) {
  tDATE d(2000, 1, 1);
  d.AddDays(146097);  // one whole Gregorian cycle
  EXPECT_TRUE(SameDate(d, 2400, 1, 1));
  d.AddDays(-146097 * 2);
  EXPECT_TRUE(SameDate(d, 1600, 1, 1));
  d = tDATE(1970, 1, 1);
  d.AddDays(INT_MAX);
  EXPECT_TRUE(SameDate(d, 5881580, 7, 11));
}

// --- invalid dates and the unsigned day number ------------------------------

TEST(Date, AddDaysNormalisesDaysBeyondTheMonth) {
  const struct {
    unsigned y, m, d, wy, wm, wd;
  } cases[] = {
      {2023, 2, 31, 2023, 3, 3},   {2024, 2, 30, 2024, 3, 1}, {2000, 3, 0, 2000, 2, 29},
      {2023, 1, 0, 2022, 12, 31},  {2023, 12, 32, 2024, 1, 1},
      // Months outside 1 to 12 count on into the neighbouring years.
      {2023, 13, 1, 2024, 1, 1},   {2023, 0, 15, 2022, 12, 15}, {2023, 26, 29, 2025, 3, 1},
  };
  for (const auto &c : cases) {
    tDATE d(c.y, c.m, c.d);
    d.AddDays(0);
    EXPECT_TRUE(SameDate(d, c.wy, c.wm, c.wd)) << Text(tDATE(c.y, c.m, c.d));
  }
}

TEST(Date, WrapsBeforeDayZeroLikeTheUnsignedDayNumber) {
  const int steps[] = {1, 2, 365, 1000, 146097, INT_MAX};
  for (int k : steps) {
    tDATE d(0, 1, 1);
    d.AddDays(-k);
    unsigned y, m, dd;
    RefCivil(0u - static_cast<unsigned>(k), &y, &m, &dd);
    EXPECT_TRUE(SameDate(d, y, m, dd)) << k;
    // And forward again to day 0.
    d.AddDays(k);
    EXPECT_TRUE(SameDate(d, 0, 1, 1)) << k;
  }
  tDATE last(0, 1, 1);
  last.AddDays(-1);
  EXPECT_TRUE(SameDate(last, 11759221, 1, 19));  // linear day 0xFFFFFFFF
}

TEST(Date, HugeYearsWrapTheDayNumber) {
  const struct {
    unsigned y, m, d;
  } cases[] = {{11759221, 1, 19}, {11759221, 1, 20}, {20000000, 6, 15},
               {4000000000u, 2, 29}, {4294967295u, 12, 31}, {12345678, 1, 1}};
  for (const auto &c : cases) {
    tDATE d(c.y, c.m, c.d);
    d.AddDays(0);
    unsigned y, m, dd;
    RefCivil(RefLinear(c.y, c.m, c.d), &y, &m, &dd);
    EXPECT_TRUE(SameDate(d, y, m, dd)) << Text(tDATE(c.y, c.m, c.d));
    EXPECT_EQ(RefLinear(c.y, c.m, c.d) % 7, static_cast<unsigned>(tDATE(c.y, c.m, c.d).GetDayOfWeek()));
  }
}

// Far dates (beyond the year 2,900,000, or day numbers past about 2^30)
// take a wider path of arithmetic; both sides of the border must agree.
TEST(Date, AgreesAcrossTheWideArithmeticBorder) {
  const unsigned years[] = {2899998, 2899999, 2900000, 2900001, 2939744, 2939745, 2939746};
  for (unsigned year : years) {
    for (unsigned month : {1u, 2u, 3u, 12u}) {
      for (unsigned day : {1u, 28u, 29u, 31u}) {
        tDATE d(year, month, day);
        const unsigned linear = RefLinear(year, month, day);
        EXPECT_EQ(linear % 7, static_cast<unsigned>(d.GetDayOfWeek())) << Text(d);
        d.AddDays(0);
        unsigned y, m, dd;
        RefCivil(linear, &y, &m, &dd);
        EXPECT_TRUE(SameDate(d, y, m, dd)) << Text(tDATE(year, month, day));
      }
    }
  }
  for (unsigned linear : {1072999998u, 1072999999u, 1073000000u, 1073000001u, 1073595785u,
                          1073595786u, 1073741823u, 1073741824u}) {
    tDATE d(0, 1, 1);
    d.AddDays(static_cast<int>(linear));
    unsigned y, m, dd;
    RefCivil(linear, &y, &m, &dd);
    EXPECT_TRUE(SameDate(d, y, m, dd)) << linear;
    d.AddDays(-static_cast<int>(linear));
    EXPECT_TRUE(SameDate(d, 0, 1, 1)) << linear;
  }
}

// --- months and years ------------------------------------------------------

struct MonthCase {
  unsigned y, m, d;
  int months;
  unsigned wy, wm;
};

class DateAddMonths : public ::testing::TestWithParam<MonthCase> {};

TEST_P(DateAddMonths, MovesMonthAndYearKeepsDay) {
  const MonthCase &c = GetParam();
  tDATE d(c.y, c.m, c.d);
  d.AddMonths(c.months);
  EXPECT_TRUE(SameDate(d, c.wy, c.wm, c.d)) << Text(tDATE(c.y, c.m, c.d)) << " + " << c.months;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DateAddMonths,
    ::testing::Values(MonthCase{1997, 12, 15, 1, 1998, 1}, MonthCase{1997, 1, 15, 12, 1998, 1},
                      MonthCase{1997, 1, 15, 0, 1997, 1}, MonthCase{1997, 1, 15, 11, 1997, 12},
                      MonthCase{1997, 1, 31, 1, 1997, 2},  // 31 February, left invalid
                      MonthCase{1997, 6, 1, 25, 1999, 7}, MonthCase{1997, 6, 1, 1200, 2097, 6},
                      // Backwards: borrows from the year.
                      MonthCase{2000, 1, 15, -1, 1999, 12}, MonthCase{2000, 3, 15, -2, 2000, 1},
                      MonthCase{2000, 3, 15, -3, 1999, 12}, MonthCase{2000, 1, 15, -12, 1999, 1},
                      MonthCase{2000, 1, 15, -13, 1998, 12}, MonthCase{2000, 12, 15, -24, 1998, 12},
                      MonthCase{2000, 1, 1, -24000, 0, 1}));

TEST(Date, AddMonthsLeavesInvalidDaysForIsValid) {
  tDATE d(1997, 1, 31);
  d.AddMonths(1);
  EXPECT_EQ(0, d.IsValid());
  d.AddMonths(1);
  EXPECT_TRUE(SameDate(d, 1997, 3, 31));
  EXPECT_NE(0, d.IsValid());
}

TEST(Date, AddYears) {
  tDATE d(2000, 2, 29);
  d.AddYears(1);
  EXPECT_TRUE(SameDate(d, 2001, 2, 29));
  EXPECT_EQ(0, d.IsValid());
  d.AddYears(-101);
  EXPECT_TRUE(SameDate(d, 1900, 2, 29));
  d.AddYears(-1900);
  EXPECT_TRUE(SameDate(d, 0, 2, 29));
  d.AddYears(-1);  // the unsigned year wraps
  EXPECT_TRUE(SameDate(d, 4294967295u, 2, 29));
  d.AddYears(1);
  EXPECT_TRUE(SameDate(d, 0, 2, 29));
}

// --- weekday navigation ----------------------------------------------------

TEST(Date, FirstAndLastWeekdaysOfJune1997) {
  // 1 June 1997 was a Sunday, 30 June a Monday.
  const unsigned first[7] = {7, 1, 2, 3, 4, 5, 6};     // Saturday .. Friday
  const unsigned last[7] = {28, 29, 30, 24, 25, 26, 27};
  for (unsigned day = 1; day <= 30; ++day) {
    for (int w = 0; w < 7; ++w) {
      const tDATE::eDAY_OF_THE_WEEK wd = static_cast<tDATE::eDAY_OF_THE_WEEK>(w);
      tDATE d(1997, 6, day);
      d.SetToFirst(wd);
      EXPECT_TRUE(SameDate(d, 1997, 6, first[w])) << "first " << w << " from " << day;
      d = tDATE(1997, 6, day);
      d.SetToLast(wd);
      EXPECT_TRUE(SameDate(d, 1997, 6, last[w])) << "last " << w << " from " << day;
    }
  }
}

TEST(Date, NextAndPrevAcrossTheYear) {
  // 31 December 1997 was a Wednesday.
  tDATE d(1997, 12, 31);
  d.SetToNext(tDATE::eWEDNESDAY);
  EXPECT_TRUE(SameDate(d, 1997, 12, 31));
  d.SetToNext(tDATE::eTHURSDAY);
  EXPECT_TRUE(SameDate(d, 1998, 1, 1));
  d.SetToNext(tDATE::eTUESDAY);
  EXPECT_TRUE(SameDate(d, 1998, 1, 6));
  d.SetToPrev(tDATE::eTHURSDAY);
  EXPECT_TRUE(SameDate(d, 1998, 1, 1));
  d.SetToPrev(tDATE::eFRIDAY);
  EXPECT_TRUE(SameDate(d, 1997, 12, 26));
  d.SetToPrev(tDATE::eSATURDAY);
  EXPECT_TRUE(SameDate(d, 1997, 12, 20));
}

TEST(Date, NextAndPrevLandWithinAWeek) {
  tDATE start(1999, 11, 1);
  for (int i = 0; i < 800; ++i, start.AddDays(1)) {
    for (int w = 0; w < 7; ++w) {
      const tDATE::eDAY_OF_THE_WEEK wd = static_cast<tDATE::eDAY_OF_THE_WEEK>(w);
      tDATE next = start;
      next.SetToNext(wd);
      tDATE week_on = start;
      week_on.AddDays(7);
      EXPECT_EQ(wd, next.GetDayOfWeek());
      EXPECT_TRUE(!(next < start) && next < week_on) << Text(start) << " next " << w;

      tDATE prev = start;
      prev.SetToPrev(wd);
      tDATE week_back = start;
      week_back.AddDays(-7);
      EXPECT_EQ(wd, prev.GetDayOfWeek());
      EXPECT_TRUE(!(prev > start) && prev > week_back) << Text(start) << " prev " << w;
    }
  }
}

TEST(Date, SetToLastInFebruary) {
  tDATE d(2024, 2, 10);
  d.SetToLast(tDATE::eTHURSDAY);  // 29 February 2024 was a Thursday
  EXPECT_TRUE(SameDate(d, 2024, 2, 29));
  d = tDATE(2023, 2, 10);
  d.SetToLast(tDATE::eTUESDAY);  // 28 February 2023 was a Tuesday
  EXPECT_TRUE(SameDate(d, 2023, 2, 28));
}

// --- comparisons -----------------------------------------------------------

TEST(Date, ComparisonsFollowYearMonthDay) {
  // Ascending; each pair differs in a different field.
  const tDATE sorted[] = {tDATE(0, 0, 0),     tDATE(1999, 12, 31), tDATE(2000, 1, 1),
                          tDATE(2000, 1, 2),  tDATE(2000, 2, 1),   tDATE(2000, 11, 30),
                          tDATE(2000, 12, 1), tDATE(2001, 1, 1),   tDATE(4294967295u, 1, 1)};
  const int n = sizeof sorted / sizeof sorted[0];
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const tDATE &a = sorted[i];
      const tDATE &b = sorted[j];
      EXPECT_EQ(i == j ? 1 : 0, a == b) << i << " " << j;
      EXPECT_EQ(i != j ? 1 : 0, a != b) << i << " " << j;
      EXPECT_EQ(i < j ? 1 : 0, a < b) << i << " " << j;
      EXPECT_EQ(i > j ? 1 : 0, a > b) << i << " " << j;
    }
  }
}

TEST(Date, CopiesAreIndependentValues) {
  tDATE a(2000, 1, 1);
  tDATE b(a);
  b.AddDays(1);
  EXPECT_TRUE(SameDate(a, 2000, 1, 1));
  a = b;
  EXPECT_TRUE(SameDate(a, 2000, 1, 2));
}

}  // namespace
