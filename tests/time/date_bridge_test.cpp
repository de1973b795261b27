// The date bridge: day numbers from 1970, spans, time_t and std::chrono.
// Expected day numbers and instants are fixed values (worked out with an
// independent calendar); spans are also checked against tDATE::AddDays.
#include "kelcore/time/date_bridge.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

#include "kelcore/msg/message.h"
#include "kelcore/sync/thread.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/scoped_env.h"

namespace {

std::string LastError() {
  tMSG *msg = tTHREAD::GetLastError();
  return msg != nullptr ? msg->Format() : "";
}

std::string Text(const tDATE &d) {
  return std::to_string(d.Year) + "-" + std::to_string(d.Month) + "-" + std::to_string(d.Day);
}

struct DayCase {
  tDATE date;
  long long days;  // from 1970-01-01
};
const DayCase kDays[] = {
    {tDATE(1970, 1, 1), 0},
    {tDATE(1969, 12, 31), -1},
    {tDATE(1583, 1, 1), -141349},     // the first valid date
    {tDATE(1600, 2, 29), -135081},    // divisible by 400: a leap day
    {tDATE(1899, 12, 31), -25568},
    {tDATE(2000, 2, 29), 11016},
    {tDATE(2000, 3, 1), 11017},
    {tDATE(2038, 1, 19), 24855},      // where a signed 32-bit time_t ends
    {tDATE(2100, 3, 1), 47541},       // 2100 has no 29 February
    {tDATE(9999, 12, 31), 2932896},
    {tDATE(10000, 1, 1), 2932897},
    {tDATE(UINT_MAX, 12, 31), 1568703873081LL},  // the last date a tDATE holds
};

TEST(DateBridge, DayNumbersBothWays) {
  for (const DayCase &c : kDays) {
    SCOPED_TRACE(Text(c.date));
    long long days = 12345;
    ASSERT_EQ(0u, tDATE_BRIDGE::ToEpochDays(c.date, &days));
    EXPECT_EQ(c.days, days);
    tDATE back;
    ASSERT_EQ(0u, tDATE_BRIDGE::FromEpochDays(c.days, &back));
    EXPECT_TRUE(back == c.date) << Text(back);
    tDATE_BRIDGE::tSYS_DAYS sys;
    ASSERT_EQ(0u, tDATE_BRIDGE::ToSysDays(c.date, &sys));
    EXPECT_EQ(c.days, static_cast<long long>(sys.time_since_epoch().count()));
    ASSERT_EQ(0u, tDATE_BRIDGE::FromSysDays(sys, &back));
    EXPECT_TRUE(back == c.date) << Text(back);
  }
}

TEST(DateBridge, SpansAgreeWithAddDays) {
  struct Case {
    tDATE from, to;
    long long days;
  } const kSpans[] = {
      {tDATE(2000, 2, 28), tDATE(2000, 3, 1), 2},    // leap year
      {tDATE(1900, 2, 28), tDATE(1900, 3, 1), 1},    // not a leap year
      {tDATE(2024, 3, 1), tDATE(2024, 2, 28), -2},   // backwards
      {tDATE(1999, 12, 31), tDATE(1999, 12, 31), 0},
      {tDATE(1583, 1, 1), tDATE(9999, 12, 31), 3074245},
      {tDATE(9999, 12, 31), tDATE(1583, 1, 1), -3074245},
      {tDATE(2001, 1, 1), tDATE(2401, 1, 1), 146097},  // one 400-year cycle
  };
  for (const auto &c : kSpans) {
    SCOPED_TRACE(Text(c.from) + " to " + Text(c.to));
    long long days = 0;
    ASSERT_EQ(0u, tDATE_BRIDGE::DaysBetween(c.from, c.to, &days));
    EXPECT_EQ(c.days, days);
    tDATE moved = c.from;
    moved.AddDays(static_cast<int>(c.days));
    EXPECT_TRUE(moved == c.to) << Text(moved);
  }
}

TEST(DateBridge, TimeTIsUtcWhateverTheLocalZone) {
  struct Case {
    tDATETIME when;
    long long t;
  } const kTimes[] = {
      {tDATETIME(tDATE(1970, 1, 1), tTIME(0, 0, 0)), 0},
      {tDATETIME(tDATE(1969, 12, 31), tTIME(23, 59, 59)), -1},
      {tDATETIME(tDATE(2000, 2, 29), tTIME(0, 0, 0)), 951782400},
      {tDATETIME(tDATE(2038, 1, 19), tTIME(3, 14, 7)), 2147483647},
      {tDATETIME(tDATE(2038, 1, 19), tTIME(3, 14, 8)), 2147483648LL},
      {tDATETIME(tDATE(1901, 12, 13), tTIME(20, 45, 52)), -2147483648LL},
      {tDATETIME(tDATE(1583, 1, 1), tTIME(0, 0, 0)), -141349LL * 86400},
      {tDATETIME(tDATE(9999, 12, 31), tTIME(23, 59, 59)), 253402300799LL},
  };
  // A zone fourteen hours east of UTC changes no result.
  for (const char *zone : {"UTC0", "XYZ-14"}) {
    kelcore_test::ScopedEnv env;
    env.Set("TZ", zone);
    tzset();
    for (const auto &c : kTimes) {
      if (static_cast<long long>(static_cast<std::time_t>(c.t)) != c.t) continue;  // 32-bit time_t
      SCOPED_TRACE(std::string(zone) + " " + std::to_string(c.t));
      std::time_t t = 0;
      ASSERT_EQ(0u, tDATE_BRIDGE::ToTimeT(c.when, &t));
      EXPECT_EQ(c.t, static_cast<long long>(t));
      tDATETIME back;
      ASSERT_EQ(0u, tDATE_BRIDGE::FromTimeT(t, &back));
      EXPECT_TRUE(back == c.when);
      tDATE day;
      ASSERT_EQ(0u, tDATE_BRIDGE::FromTimeT(t, &day));
      EXPECT_TRUE(day == c.when.Date);
      ASSERT_EQ(0u, tDATE_BRIDGE::ToTimeT(c.when.Date, &t));  // the day's UTC midnight
      EXPECT_EQ(c.t - (c.when.Time.Hour * 3600LL + c.when.Time.Minute * 60 + c.when.Time.Second),
                static_cast<long long>(t));
    }
  }
  tzset();
  // Milliseconds are dropped on the way to time_t.
  std::time_t t = 0;
  ASSERT_EQ(0u, tDATE_BRIDGE::ToTimeT(tDATETIME(tDATE(1970, 1, 2), tTIME(0, 0, 1, 999)), &t));
  EXPECT_EQ(86401, static_cast<long long>(t));
}

// Each failure leaves the output as it was and says what was wrong.
TEST(DateBridge, BadInputGetsAStatusAndAMessage) {
  const tDATE kept(2001, 2, 3);
  tDATE out = kept;
  long long days = 7;
  std::time_t t = 7;
  tTHREAD::SetLastError(nullptr);
  EXPECT_EQ(0xFFFFFFFFu, tDATE_BRIDGE::ToEpochDays(tDATE(1582, 12, 31), &days));
  EXPECT_EQ("1582-12-31 is not a valid date (year 1583 or later, month 1 to 12, day within the "
            "month)",
            LastError());
  EXPECT_EQ(0xFFFFFFFFu, tDATE_BRIDGE::DaysBetween(tDATE(2001, 2, 29), tDATE(2001, 3, 1), &days));
  EXPECT_NE(std::string::npos, LastError().find("2001-02-29 is not a valid date"));
  EXPECT_EQ(0xFFFFFFFFu, tDATE_BRIDGE::DaysBetween(tDATE(2001, 3, 1), tDATE(), &days));
  EXPECT_NE(std::string::npos, LastError().find("0-00-00 is not a valid date"));
  EXPECT_EQ(7, days);
  EXPECT_STREQ(tDATE_BRIDGE::cERROR_ID, tTHREAD::GetLastError()->GetIdString());

  EXPECT_EQ(0xFFFFFFFFu, tDATE_BRIDGE::FromEpochDays(-141350, &out));
  EXPECT_EQ("-141350 days from 1 January 1970 is outside the range of the result", LastError());
  EXPECT_EQ(0xFFFFFFFFu, tDATE_BRIDGE::FromEpochDays(1568703873082LL, &out));
  EXPECT_EQ(0xFFFFFFFFu, tDATE_BRIDGE::FromEpochDays(LLONG_MIN, &out));
  EXPECT_EQ(0xFFFFFFFFu, tDATE_BRIDGE::FromEpochDays(LLONG_MAX, &out));
  EXPECT_EQ(0xFFFFFFFFu, tDATE_BRIDGE::FromTimeT(static_cast<std::time_t>(-141349LL * 86400 - 1), &out));
  EXPECT_EQ(0xFFFFFFFFu, tDATE_BRIDGE::FromTimeT(std::numeric_limits<std::time_t>::min(), &out));
  if (sizeof(std::time_t) == 8) {  // 64-bit time_t: its largest value is far beyond any date
    EXPECT_EQ(0xFFFFFFFFu, tDATE_BRIDGE::FromTimeT(std::numeric_limits<std::time_t>::max(), &out));
  }
  EXPECT_TRUE(out == kept);

  EXPECT_EQ(0xFFFFFFFFu,
            tDATE_BRIDGE::ToTimeT(tDATETIME(tDATE(2001, 1, 1), tTIME(24, 0, 0)), &t));
  EXPECT_EQ("24:00:00.000 is not a valid time of day", LastError());
  EXPECT_EQ(7, static_cast<long long>(t));
}

TEST(DateBridge, OutOfMemoryReportsTheStaticMessage) {
  kelcore_test::ScopedAllocFailure fail(1, true);
  EXPECT_EQ(0xFFFFFFFFu, tDATE_BRIDGE::ToEpochDays(tDATE(), nullptr));
  EXPECT_EQ(&tERRMSG::OutOfMemory, tTHREAD::GetLastError());
}

}  // namespace
