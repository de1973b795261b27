// tTIME and tDATETIME: validity, additions with carry, comparisons.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <sstream>
#include <string>

#include "kelcore/time/datetime.h"

namespace {

std::string Text(const tTIME &t) {
  std::ostringstream out;
  out << t.Hour << ':' << t.Minute << ':' << t.Second << '.' << t.Millisecond;
  return out.str();
}

::testing::AssertionResult SameTime(const tTIME &got, unsigned h, unsigned m, unsigned s,
                                    unsigned ms) {
  if (got.Hour == h && got.Minute == m && got.Second == s && got.Millisecond == ms)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got " << Text(got) << ", want "
                                       << Text(tTIME(h, m, s, ms));
}

::testing::AssertionResult SameDate(const tDATE &got, unsigned y, unsigned m, unsigned d) {
  if (got.Year == y && got.Month == m && got.Day == d) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got " << got.Year << '-' << got.Month << '-'
                                       << got.Day;
}

// --- validity --------------------------------------------------------------

TEST(Time, DefaultIsMidnight) {
  const tTIME t;
  EXPECT_TRUE(SameTime(t, 0, 0, 0, 0));
  EXPECT_NE(0, t.IsValid());
}

TEST(Time, ValidityTable) {
  const struct {
    unsigned h, m, s, ms;
    int valid;
  } cases[] = {{0, 0, 0, 0, 1},    {23, 59, 59, 999, 1}, {24, 0, 0, 0, 0},
               {0, 60, 0, 0, 0},   {0, 0, 60, 0, 0},     {0, 0, 0, 1000, 0},
               {12, 30, 30, 500, 1}, {4294967295u, 0, 0, 0, 0}};
  for (const auto &c : cases) {
    EXPECT_EQ(c.valid != 0, tTIME(c.h, c.m, c.s, c.ms).IsValid() != 0)
        << Text(tTIME(c.h, c.m, c.s, c.ms));
  }
}

// --- carry -----------------------------------------------------------------

enum Unit { kMs, kSec, kMin, kHour };

int Add(tTIME *t, Unit unit, int n) {
  switch (unit) {
    case kMs: return t->AddMilliseconds(n);
    case kSec: return t->AddSeconds(n);
    case kMin: return t->AddMinutes(n);
    case kHour: return t->AddHours(n);
  }
  return 0;
}

struct CarryCase {
  unsigned h, m, s, ms;
  Unit unit;
  int n;
  unsigned wh, wm, ws, wms;
  int days;
};

class TimeCarry : public ::testing::TestWithParam<CarryCase> {};

TEST_P(TimeCarry, CarriesIntoLargerUnitsAndDays) {
  const CarryCase &c = GetParam();
  tTIME t(c.h, c.m, c.s, c.ms);
  EXPECT_EQ(c.days, Add(&t, c.unit, c.n));
  EXPECT_TRUE(SameTime(t, c.wh, c.wm, c.ws, c.wms));
}

INSTANTIATE_TEST_SUITE_P(
    Table, TimeCarry,
    ::testing::Values(
        CarryCase{23, 59, 59, 999, kMs, 1, 0, 0, 0, 0, 1},
        CarryCase{12, 0, 0, 0, kMs, 0, 12, 0, 0, 0, 0},
        CarryCase{12, 0, 0, 999, kMs, 1, 12, 0, 1, 0, 0},
        CarryCase{12, 0, 59, 500, kMs, 500, 12, 1, 0, 0, 0},
        CarryCase{0, 0, 0, 0, kSec, 86400, 0, 0, 0, 0, 1},
        CarryCase{0, 0, 0, 0, kSec, 86399, 23, 59, 59, 0, 0},
        CarryCase{10, 59, 30, 7, kMin, 1, 11, 0, 30, 7, 0},
        CarryCase{22, 0, 0, 0, kHour, 49, 23, 0, 0, 0, 2},
        CarryCase{0, 0, 0, 0, kHour, 24, 0, 0, 0, 0, 1},
        CarryCase{0, 0, 0, 0, kMs, INT_MAX, 20, 31, 23, 647, 24},
        // Backwards: borrow from the larger units and carry negative days.
        CarryCase{0, 0, 0, 0, kMs, -1, 23, 59, 59, 999, -1},
        CarryCase{0, 0, 0, 0, kHour, -1, 23, 0, 0, 0, -1},
        CarryCase{0, 0, 0, 0, kMin, -1, 23, 59, 0, 0, -1},
        CarryCase{0, 0, 0, 0, kSec, -86400, 0, 0, 0, 0, -1},
        CarryCase{0, 0, 0, 0, kSec, -86401, 23, 59, 59, 0, -2},
        CarryCase{12, 30, 0, 0, kMin, -30, 12, 0, 0, 0, 0},
        CarryCase{12, 30, 0, 0, kMin, -31, 11, 59, 0, 0, 0},
        CarryCase{0, 0, 0, 0, kMs, INT_MIN, 3, 28, 36, 352, -25}));

// Any valid time plus any amount agrees with plain arithmetic on
// milliseconds since midnight.
TEST(Time, AdditionsAgreeWithMillisecondArithmetic) {
  const std::int64_t kDay = 86400000;
  const std::int64_t kScale[4] = {1, 1000, 60000, 3600000};
  std::uint32_t seed = 12345;
  const auto next = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return seed;
  };
  for (int i = 0; i < 20000; ++i) {
    const tTIME start(next() % 24, next() % 60, next() % 60, next() % 1000);
    const Unit unit = static_cast<Unit>(next() % 4);
    // Mostly small steps, sometimes anything an int holds.
    int n = static_cast<int>(next() % 200001) - 100000;
    if (i % 4 == 0) n = static_cast<int>(next());

    const std::int64_t before =
        ((start.Hour * 60 + start.Minute) * 60 + start.Second) * 1000LL + start.Millisecond;
    const std::int64_t total = before + n * kScale[unit];
    std::int64_t days = total / kDay;
    std::int64_t rest = total % kDay;
    if (rest < 0) {
      rest += kDay;
      --days;
    }

    tTIME t = start;
    ASSERT_EQ(days, Add(&t, unit, n)) << Text(start) << " + " << n << " unit " << unit;
    const std::int64_t after = ((t.Hour * 60 + t.Minute) * 60 + t.Second) * 1000LL + t.Millisecond;
    ASSERT_EQ(rest, after) << Text(start) << " + " << n << " unit " << unit;
    ASSERT_NE(0, t.IsValid());
  }
}

// Each unit passes its carry on before storing its own part.
TEST(Time, LargerUnitSeesTheFieldsBeforeTheCarryIsStored) {
  struct tSPY : tTIME {
    tSPY() : tTIME(1, 2, 59, 999) {}
    unsigned ms_seen = 0;
    int carry_seen = 0;
    int AddSeconds(int seconds) {
      ms_seen = Millisecond;
      carry_seen = seconds;
      return tTIME::AddSeconds(seconds);
    }
  } spy;
  EXPECT_EQ(0, spy.AddMilliseconds(1));
  EXPECT_EQ(999u, spy.ms_seen);
  EXPECT_EQ(1, spy.carry_seen);
  EXPECT_TRUE(SameTime(spy, 1, 3, 0, 0));
}

// --- comparisons -----------------------------------------------------------

TEST(Time, ComparisonsFollowHourMinuteSecondMillisecond) {
  const tTIME sorted[] = {tTIME(0, 0, 0, 0),  tTIME(0, 0, 0, 1),    tTIME(0, 0, 1, 0),
                          tTIME(0, 1, 0, 0),  tTIME(0, 59, 59, 999), tTIME(1, 0, 0, 0),
                          tTIME(23, 59, 59, 999)};
  const int n = sizeof sorted / sizeof sorted[0];
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      EXPECT_EQ(i == j ? 1 : 0, sorted[i] == sorted[j]) << i << " " << j;
      EXPECT_EQ(i != j ? 1 : 0, sorted[i] != sorted[j]) << i << " " << j;
      EXPECT_EQ(i < j ? 1 : 0, sorted[i] < sorted[j]) << i << " " << j;
      EXPECT_EQ(i > j ? 1 : 0, sorted[i] > sorted[j]) << i << " " << j;
    }
  }
}

// --- tDATETIME -------------------------------------------------------------

TEST(DateTime, DefaultIsAllZero) {
  const tDATETIME dt;
  EXPECT_TRUE(SameDate(dt.Date, 0, 0, 0));
  EXPECT_TRUE(SameTime(dt.Time, 0, 0, 0, 0));
  EXPECT_EQ(0, dt.IsValid());
}

TEST(DateTime, ValidOnlyWhenBothPartsAre) {
  EXPECT_NE(0, tDATETIME(tDATE(2000, 2, 29), tTIME(23, 59, 59, 999)).IsValid());
  EXPECT_EQ(0, tDATETIME(tDATE(1900, 2, 29), tTIME(12, 0, 0)).IsValid());
  EXPECT_EQ(0, tDATETIME(tDATE(2000, 2, 29), tTIME(24, 0, 0)).IsValid());
}

TEST(DateTime, MillisecondCarriesIntoTheDate) {
  tDATETIME dt(tDATE(1999, 12, 31), tTIME(23, 59, 59, 999));
  EXPECT_EQ(1, dt.AddMilliseconds(1));
  EXPECT_TRUE(SameDate(dt.Date, 2000, 1, 1));
  EXPECT_TRUE(SameTime(dt.Time, 0, 0, 0, 0));
}

TEST(DateTime, EachUnitMovesTheDate) {
  tDATETIME dt(tDATE(2000, 2, 28), tTIME(12, 0, 0));
  EXPECT_EQ(1, dt.AddHours(12));
  EXPECT_TRUE(SameDate(dt.Date, 2000, 2, 29));
  EXPECT_EQ(1, dt.AddMinutes(24 * 60));
  EXPECT_TRUE(SameDate(dt.Date, 2000, 3, 1));
  EXPECT_EQ(2, dt.AddSeconds(2 * 86400 + 5));
  EXPECT_TRUE(SameDate(dt.Date, 2000, 3, 3));
  EXPECT_TRUE(SameTime(dt.Time, 0, 0, 5, 0));
  EXPECT_EQ(0, dt.AddSeconds(-5));
  EXPECT_EQ(-1, dt.AddMilliseconds(-1));
  EXPECT_TRUE(SameDate(dt.Date, 2000, 3, 2));
  EXPECT_TRUE(SameTime(dt.Time, 23, 59, 59, 999));
  EXPECT_EQ(-366, dt.AddHours(-366 * 24));
  EXPECT_TRUE(SameDate(dt.Date, 1999, 3, 2));
}

TEST(Time, CarryChainCallsTheVirtuals) {
  struct tFIXED : tTIME {
    int AddHours(int) { return 3; }
  } fixed;
  tTIME &as_time = fixed;
  EXPECT_EQ(3, as_time.AddMilliseconds(1));
  EXPECT_EQ(3, as_time.AddSeconds(1));
  EXPECT_EQ(3, as_time.AddMinutes(1));
}

TEST(DateTime, AdditionNormalisesAnInvalidDate) {
  // The date is moved by AddDays even when no day is carried.
  tDATETIME dt(tDATE(2023, 2, 31), tTIME(10, 0, 0));
  EXPECT_EQ(0, dt.AddMinutes(1));
  EXPECT_TRUE(SameDate(dt.Date, 2023, 3, 3));
}

TEST(DateTime, ComparisonsOrderDatesFirst) {
  const tDATETIME sorted[] = {
      tDATETIME(tDATE(1999, 12, 31), tTIME(23, 59, 59, 999)),
      tDATETIME(tDATE(2000, 1, 1), tTIME(0, 0, 0, 0)),
      tDATETIME(tDATE(2000, 1, 1), tTIME(0, 0, 0, 1)),
      tDATETIME(tDATE(2000, 1, 1), tTIME(12, 0, 0, 0)),
      tDATETIME(tDATE(2000, 1, 2), tTIME(0, 0, 0, 0)),
      tDATETIME(tDATE(2000, 2, 1), tTIME(0, 0, 0, 0)),
  };
  const int n = sizeof sorted / sizeof sorted[0];
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const tDATETIME &a = sorted[i];
      const tDATETIME &b = sorted[j];
      EXPECT_EQ(i == j ? 1 : 0, a == b) << i << " " << j;
      EXPECT_EQ(i != j ? 1 : 0, a != b) << i << " " << j;
      EXPECT_EQ(i < j ? 1 : 0, a < b) << i << " " << j;
      EXPECT_EQ(i > j ? 1 : 0, a > b) << i << " " << j;
      EXPECT_EQ(i <= j ? 1 : 0, a <= b) << i << " " << j;
      EXPECT_EQ(i >= j ? 1 : 0, a >= b) << i << " " << j;
    }
  }
}

}  // namespace
