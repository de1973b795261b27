// Dates, times and the two together. The day arithmetic is checked against
// references that share nothing with the library's formulas: a wall
// calendar stepping one day at a time from 1583 to 9999, and a count of
// days from January for the far years.
#include "kelcore/time/datetime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <type_traits>

// Readable values in failure messages.
static void PrintTo(const tDATE &d, std::ostream *os) { *os << d.Year << '-' << d.Month << '-' << d.Day; }
static void PrintTo(const tTIME &t, std::ostream *os) {
  *os << t.Hour << ':' << t.Minute << ':' << t.Second << '.' << t.Millisecond;
}

namespace {

tDATE Plus(tDATE date, int days) { return date.AddDays(days), date; }

bool RefLeap(std::uint64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
unsigned RefMonthLength(std::uint64_t y, unsigned m) {
  static const unsigned kLength[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && RefLeap(y) ? 29 : kLength[m - 1];
}
// Days since 1 January of year 0: 365 a year, one more for each leap year
// before y (year 0 is one), then the months of year y.
std::uint64_t RefLinear(std::uint64_t y, unsigned m, unsigned d) {
  std::uint64_t n = 365 * y + (y + 3) / 4 - (y + 99) / 100 + (y + 399) / 400 + d - 1;
  for (unsigned k = 1; k < m; ++k) n += RefMonthLength(y, k);
  return n;
}
// The date of day n modulo 2^32, as the library keeps day numbers: the
// calendar repeats every 400 years (146097 days), so a date of 2000 to 2399
// (checked day by day below) moved by whole cycles.
tDATE RefCivil(std::uint32_t n) {
  tDATE d = Plus(tDATE(2000, 1, 1), static_cast<int>(n % 146097));
  d.Year += static_cast<unsigned>(n / 146097 * 400) - 2000;
  return d;
}

TEST(DateTime, ValidityOfEachPartAndOfBoth) {
  const struct { tDATETIME dt; int date_valid, time_valid; } cases[] = {
      {{{2000, 2, 29}, {}}, 1, 1},        {{{1900, 2, 29}, {23, 59, 59, 999}}, 0, 1}, {{{2100, 2, 29}, {24, 0, 0}}, 0, 0},
      {{{2400, 2, 29}, {0, 60, 0}}, 1, 0}, {{{1582, 12, 31}, {0, 0, 60}}, 0, 0}, {{{1583, 1, 1}, {0, 0, 0, 1000}}, 1, 0},
      {{}, 0, 1}, {{{2023, 0, 1}, {4294967295u, 0, 0}}, 0, 0}, {{{2023, 13, 1}, {}}, 0, 1}, {{{2023, 1, 0}, {}}, 0, 1},
      {{{2023, 4, 31}, {}}, 0, 1}, {{{9999, 12, 31}, {}}, 1, 1}, {{{4294967295u, 12, 31}, {}}, 1, 1}, {{{2023, 1, 32}, {}}, 0, 1},
      {{{4294967292u, 2, 29}, {}}, 1, 1}, {{{4294967100u, 2, 29}, {}}, 0, 1}, {{{2023, 4294967295u, 1}, {}}, 0, 1},
      {{{2023, 1, 4294967295u}, {}}, 0, 1}};
  for (const auto &c : cases)
    EXPECT_TRUE(c.dt.Date.IsValid() == c.date_valid && c.dt.Time.IsValid() == c.time_valid &&
                c.dt.IsValid() == (c.date_valid && c.time_valid))
        << testing::PrintToString(c.dt.Date) << " " << testing::PrintToString(c.dt.Time);
}

TEST(Date, EveryDayFrom1583To9999AgainstAWallCalendar) {
  // The weekdays come from day numbers; these tie them to the calendar.
  EXPECT_EQ(tDATE::eSATURDAY, tDATE(0, 1, 1).GetDayOfWeek());
  EXPECT_EQ(tDATE::eTHURSDAY, tDATE(1970, 1, 1).GetDayOfWeek());
  EXPECT_EQ(tDATE::eWEDNESDAY, tDATE(2024, 12, 25).GetDayOfWeek());
  unsigned y = 1583, m = 1, d = 1, linear = static_cast<unsigned>(RefLinear(1583, 1, 1));
  tDATE date, previous(1582, 12, 31);
  long days = 0, failures = 0;
  std::string first;  // the first few failures
  const auto check = [&](bool ok, const char *what) { if (!ok && ++failures <= 5) first += testing::PrintToString(date) + ": " + what + "\n"; };
  for (; y <= 9999; ++days, ++linear, previous = date) {
    date = tDATE(y, m, d);
    unsigned ny = y, nm = m, nd = d + 1;  // the next day on the wall
    if (nd > RefMonthLength(y, m)) nd = 1, nm = m % 12 + 1, ny = y + (m == 12);
    check(date.IsValid() && (date.IsLeapYear() != 0) == RefLeap(y) && date.GetMaxDays() == RefMonthLength(y, m),
          "validity, leap year or month length");
    check(nd != 1 || !tDATE(y, m, d + 1).IsValid(), "the day after the month's last is valid");
    check(static_cast<unsigned>(date.GetDayOfWeek()) == linear % 7, "weekday");
    check(Plus(tDATE(0, 1, 1), static_cast<int>(linear)) == date && Plus(date, -static_cast<int>(linear)) == tDATE(0, 1, 1),
          "day number");
    check(Plus(date, 1) == tDATE(ny, nm, nd) && Plus(date, -1) == previous, "one day on or back");
    y = ny, m = nm, d = nd;
  }
  EXPECT_EQ(0, failures) << first;
  EXPECT_EQ(8417L * 365 + 2041, days);  // 2041 leap years
}

// Either side of the borders of the library's 32-bit arithmetic (year
// 2,900,000; day 1,073,000,000), and where the unsigned day number wraps.
TEST(Date, FarDatesAndTheUnsignedDayNumber) {
  EXPECT_EQ(tDATE(11759221, 1, 19), RefCivil(4294967295u));  // the reference itself: day 0 less one
  for (unsigned y : {2899999u, 2900000u, 2939745u, 5881580u, 11759221u, 4294967295u})
    for (unsigned m : {1u, 2u, 3u, 12u})
      for (unsigned d : {1u, 29u, 31u}) {
        EXPECT_EQ(RefLinear(y, m, d) % 4294967296u % 7, static_cast<unsigned>(tDATE(y, m, d).GetDayOfWeek()));
        // AddDays(0) normalises 29 and 31 February as well.
        EXPECT_EQ(RefCivil(RefLinear(y, m, d)), Plus(tDATE(y, m, d), 0)) << y << '-' << m << '-' << d;
      }
  for (std::uint64_t n : {1072999999ull, 1073000000ull, 1073741824ull, 2147483649ull, 4294820000ull, 4294967295ull}) {
    const tDATE date = Plus(tDATE(0, 1, 1), static_cast<int>(n));  // backwards from day 0 past INT_MAX
    EXPECT_EQ(RefCivil(n), date) << n;
    EXPECT_EQ(tDATE(0, 1, 1), Plus(date, -static_cast<int>(n))) << n;
  }
}

TEST(Date, InvalidDatesNormaliseAndMonthsAndYearsMoveAlone) {
  const struct { tDATE from; int months, years; tDATE to; } cases[] = {
      // AddDays(0) (no months, no years): days beyond the month, months outside 1 to 12.
      {{2023, 2, 31}, 0, 0, {2023, 3, 3}},  {{2000, 3, 0}, 0, 0, {2000, 2, 29}}, {{2023, 1, 0}, 0, 0, {2022, 12, 31}},
      {{2023, 13, 1}, 0, 0, {2024, 1, 1}},  {{2023, 0, 15}, 0, 0, {2022, 12, 15}}, {{2023, 26, 29}, 0, 0, {2025, 3, 1}},
      // AddMonths and AddYears keep the day, valid or not, and borrow backwards.
      {{1997, 1, 15}, 11, 0, {1997, 12, 15}},  {{1997, 12, 15}, 1, 0, {1998, 1, 15}}, {{1997, 1, 31}, 1, 0, {1997, 2, 31}},
      {{1997, 6, 1}, 1200, 0, {2097, 6, 1}},   {{2000, 1, 15}, -1, 0, {1999, 12, 15}}, {{2000, 3, 15}, -3, 0, {1999, 12, 15}},
      {{2000, 1, 15}, -13, 0, {1998, 12, 15}}, {{2000, 12, 15}, -24, 0, {1998, 12, 15}}, {{2000, 1, 1}, -24000, 0, {0, 1, 1}},
      {{2000, 2, 29}, 0, 1, {2001, 2, 29}},    {{2000, 2, 29}, 0, -2000, {0, 2, 29}}, {{0, 2, 29}, 0, -1, {4294967295u, 2, 29}}};
  for (const auto &c : cases) {
    tDATE d = c.months == 0 && c.years == 0 ? Plus(c.from, 0) : c.from;
    d.AddMonths(c.months);
    d.AddYears(c.years);
    EXPECT_EQ(c.to, d) << testing::PrintToString(c.from) << " " << c.months << " " << c.years;
  }
  EXPECT_TRUE(tDATE(2023, 0, 1).GetMaxDays() == 31 && tDATE(2023, 14, 1).GetMaxDays() == 29) << "December, February 2024";
}

TEST(Date, WeekdayNavigationLandsWithinAWeekOrTheMonth) {
  tDATE start(1999, 11, 1);  // 800 days: year ends, 29 February 2000, 28 February 2001
  for (int i = 0; i < 800 * 7; ++i) {
    const tDATE::eDAY_OF_THE_WEEK w = static_cast<tDATE::eDAY_OF_THE_WEEK>(i % 7);
    tDATE next = start, prev = start, first = start, last = start;
    next.SetToNext(w), prev.SetToPrev(w), first.SetToFirst(w), last.SetToLast(w);
    EXPECT_TRUE(next.GetDayOfWeek() == w && !(next < start) && next < Plus(start, 7) && prev.GetDayOfWeek() == w &&
                !(prev > start) && prev > Plus(start, -7) && first.GetDayOfWeek() == w && last.GetDayOfWeek() == w &&
                first.Month == start.Month && last.Month == start.Month && first.Day <= 7 &&
                last.Day + 7 > start.GetMaxDays())
        << testing::PrintToString(start) << " weekday " << w;
    if (i % 7 == 6) start.AddDays(1);
  }
}

// Any valid time plus any amount agrees with arithmetic on milliseconds
// since midnight; the days carried out move the date alongside, even by
// no days (AddDays(0) normalises the invalid date it starts from).
TEST(DateTime, AdditionsCarryAndBorrowLikeMillisecondArithmetic) {
  const std::int64_t kDay = 86400000, kScale[4] = {1, 1000, 60000, 3600000};
  const int kEdges[4] = {INT_MAX, INT_MIN, -1, 1};
  std::uint32_t seed = 12345;
  const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  for (int i = 0; i < 20000; ++i) {
    const tTIME s(next() % 24, next() % 60, next() % 60, next() % 1000);
    const unsigned unit = i < 16 ? i / 4 : next() % 4;  // ms, s, min, h
    const int n = i < 16 ? kEdges[i % 4] : i % 4 ? static_cast<int>(next() % 200001) - 100000 : static_cast<int>(next());
    const std::int64_t total = ((s.Hour * 60 + s.Minute) * 60 + s.Second) * 1000LL + s.Millisecond + n * kScale[unit];
    const std::int64_t days = total / kDay - (total % kDay < 0 ? 1 : 0), rest = total - days * kDay;
    tDATETIME dt(tDATE(2023, 2, 31), s);
    const tDATE date = Plus(dt.Date, static_cast<int>(days));
    const int carried = unit == 0 ? dt.AddMilliseconds(n) : unit == 1 ? dt.AddSeconds(n)
                        : unit == 2 ? dt.AddMinutes(n) : dt.AddHours(n);
    const tTIME &t = dt.Time;
    ASSERT_TRUE(carried == days && date == dt.Date && t.IsValid() &&
                rest == ((t.Hour * 60 + t.Minute) * 60 + t.Second) * 1000LL + t.Millisecond)
        << testing::PrintToString(s) << " + " << n << " unit " << unit << " gives " << testing::PrintToString(t) << ", " << carried;
  }
}

// Each unit hands its carry to the next larger one, through the virtual
// call, before it stores its own part.
TEST(DateTime, TimeCarriesThroughTheVirtualsBeforeStoring) {
  struct tSPY : tTIME {
    tSPY() : tTIME(1, 59, 59, 999) {}
    tTIME seen;
    int AddHours(int hours) { return seen = *this, hours + 2; }
  } spy;
  EXPECT_EQ(3, spy.AddMilliseconds(1));
  EXPECT_EQ(tTIME(1, 59, 59, 999), spy.seen);
  EXPECT_EQ(tTIME(1, 0, 0, 0), static_cast<const tTIME &>(spy));
}

template <class T> void CheckOrder(const T *sorted, int n) {
  for (int i = 0; i < n * n; ++i) {
    const T &a = sorted[i / n], &b = sorted[i % n];
    const int x = i / n, y = i % n;
    EXPECT_TRUE((a == b) == (x == y) && (a != b) == (x != y) && (a < b) == (x < y) && (a > b) == (x > y)) << x << " " << y;
    if constexpr (std::is_same<T, tDATETIME>::value) {
      EXPECT_TRUE((a <= b) == (x <= y) && (a >= b) == (x >= y)) << x << " " << y;
    }
  }
}

TEST(DateTime, ComparisonsFollowTheFieldsFromTheLargest) {
  const tDATE dates[] = {{0, 0, 0},    {1999, 12, 31}, {2000, 1, 1},       {2000, 1, 2},
                         {2000, 2, 1}, {2000, 11, 30}, {4294967295u, 1, 1}};
  const tTIME times[] = {{0, 0, 0, 0}, {0, 0, 0, 1}, {0, 0, 1, 0}, {0, 1, 0, 0}, {0, 59, 59, 999}, {1, 0, 0, 0}};
  const tDATETIME both[] = {{dates[1], times[5]}, {dates[2], times[0]}, {dates[2], times[1]},
                            {dates[2], times[5]}, {dates[3], times[0]}};
  CheckOrder(dates, 7);
  CheckOrder(times, 6);
  CheckOrder(both, 5);
}

TEST(Format, FillsTheWholeTmRecordAndRefusesWhatItCannotHold) {
  const tDATE d(1997, 7, 4);
  const tTIME t(13, 5, 9, 250);
  // part: 'd' the date, 't' the time, 'b' both; a null expect: any text (the C library's business).
  const struct { char part; tDATE date; tTIME time; const char *format, *expect; } cases[] = {
      {'d', d, t, "%Y-%m-%d %H:%M:%S %a %A %w %j", "1997-07-04 00:00:00 Fri Friday 5 185"},
      {'d', {2024, 2, 29}, t, "%a %j %b %B", "Thu 060 Feb February"}, {'d', {2000, 12, 31}, t, "%j %a", "366 Sun"},
      {'d', {2023, 1, 1}, t, "%j %a %U", "001 Sun 01"}, {'d', {1583, 1, 1}, t, "%Y %a", "1583 Sat"},
      {'d', {9999, 12, 31}, t, "%Y %a", "9999 Fri"}, {'d', {2023, 2, 31}, t, "%d.%m.", "31.02."}, {'d', d, t, "", ""},
      {'d', {10000, 1, 1}, t, "%Y", ""}, {'d', {2023, 13, 1}, t, "%Y", ""}, {'d', {2023, 0, 1}, t, "%Y", ""},
      {'d', {2023, 1, 0}, t, "%Y", ""}, {'d', {2023, 1, 32}, t, "%Y", ""}, {'d', d, t, "100%%", "100%"},
      {'d', d, t, nullptr, ""}, {'t', d, t, nullptr, ""}, {'b', d, t, nullptr, ""}, {'b', d, t, "%Z", nullptr},
      {'t', d, t, "%H:%M:%S %I %p %Y-%m-%d %a %j", "13:05:09 01 PM 1900-01-01 Mon 001"},
      {'t', d, {24, 0, 0}, "%H", ""}, {'t', d, {0, 60, 0}, "%H", ""}, {'t', d, {0, 0, 60}, "%H", ""},
      {'b', {2024, 2, 29}, {23, 59, 59, 999}, "%Y-%m-%d %H:%M:%S %a %j", "2024-02-29 23:59:59 Thu 060"},
      {'t', d, {0, 0, 0, 5000}, "%H", "00"}, {'b', {2024, 2, 29}, {24, 0, 0}, "%Y", ""}, {'b', {2024, 13, 1}, {1, 0, 0}, "%H", ""}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(1, c.part) + " " + (c.format ? c.format : "(null)"));
    const tDATETIME both(c.date, c.time);
    const auto format = [&](char *buf, unsigned size) {
      c.part == 'd' ? c.date.Format(buf, size, c.format)
                    : c.part == 't' ? c.time.Format(buf, size, c.format) : both.Format(buf, size, c.format);
    };
    format(nullptr, 8);  // writes nothing, and does not crash
    char buf[64];
    std::memset(buf, 'X', sizeof buf);
    format(buf, sizeof buf);
    const std::string got(buf, std::find(buf, buf + sizeof buf, '\0'));
    EXPECT_TRUE(got.size() < sizeof buf && (c.expect == nullptr || got == c.expect)) << got;
    // Smaller buffers: all or nothing, and never a byte past the size.
    for (unsigned size = 0; size <= got.size() + 1 && got.size() < sizeof buf; ++size) {
      std::memset(buf, 'X', sizeof buf);
      format(buf, size);
      const std::string want = size == 0 ? "X" : size > got.size() ? got : "";
      EXPECT_EQ(want, std::string(buf, size == 0 ? buf + 1 : std::find(buf, buf + size, '\0'))) << size;
      for (unsigned i = size; i < sizeof buf; ++i) ASSERT_EQ('X', buf[i]) << size << " " << i;
    }
  }
}

TEST(Clock, SetToCurrentReadsTheLocalClockWithoutMilliseconds) {
  tDATETIME now(tDATE(), tTIME(1, 2, 3, 77));
  tDATE today;
  tTIME clock(1, 2, 3, 4);
  std::time_t before;
  int attempts = 0;
  do {  // again when the second changes in between
    before = std::time(nullptr);
    now.SetToCurrent();
    today.SetToCurrent();
    clock.SetToCurrent();
  } while (std::time(nullptr) != before && ++attempts < 3);
  const std::tm *tm = std::localtime(&before);
  const tDATE date(tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday);
  const tTIME time(tm->tm_hour, tm->tm_min, tm->tm_sec);
  EXPECT_TRUE(now == tDATETIME(date, time) && today == date && clock == time)
      << testing::PrintToString(now.Time) << " " << testing::PrintToString(today) << " " << testing::PrintToString(clock);
}

}  // namespace
