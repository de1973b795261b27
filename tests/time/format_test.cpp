// Formatting through strftime, and reading the clock.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

#include "kelcore/time/datetime.h"

namespace {

template <typename T>
std::string Formatted(const T &value, const char *format, unsigned size = 128) {
  char buf[128];
  std::memset(buf, 'X', sizeof buf);
  value.Format(buf, size, format);
  return std::string(buf);
}

// --- conversions -----------------------------------------------------------

struct DateFormatCase {
  unsigned y, m, d;
  const char *format;
  const char *expected;
};

class DateFormat : public ::testing::TestWithParam<DateFormatCase> {};

TEST_P(DateFormat, Produces) {
  const DateFormatCase &c = GetParam();
  EXPECT_EQ(c.expected, Formatted(tDATE(c.y, c.m, c.d), c.format));
}

INSTANTIATE_TEST_SUITE_P(
    Table, DateFormat,
    ::testing::Values(
        DateFormatCase{1997, 7, 4, "%Y-%m-%d", "1997-07-04"},
        // Weekday and day of the year are filled in.
        DateFormatCase{1997, 7, 4, "%a %A %w %j", "Fri Friday 5 185"},
        DateFormatCase{2024, 2, 29, "%a %j %b %B", "Thu 060 Feb February"},
        DateFormatCase{2000, 12, 31, "%j %a", "366 Sun"},
        DateFormatCase{2023, 1, 1, "%j %a %U", "001 Sun 01"},
        // A date's time of day is midnight.
        DateFormatCase{1997, 7, 4, "%H:%M:%S", "00:00:00"},
        DateFormatCase{1583, 1, 1, "%Y %a", "1583 Sat"}, DateFormatCase{9999, 12, 31, "%Y %a", "9999 Fri"},
        // Invalid but representable dates still format.
        DateFormatCase{2023, 2, 31, "%d.%m.", "31.02."},
        // Fields the C library's tm record cannot hold give an empty text.
        DateFormatCase{10000, 1, 1, "%Y", ""}, DateFormatCase{2023, 13, 1, "%Y", ""},
        DateFormatCase{2023, 0, 1, "%Y", ""}, DateFormatCase{2023, 1, 0, "%Y", ""},
        DateFormatCase{2023, 1, 32, "%Y", ""}, DateFormatCase{0, 0, 0, "%Y", ""},
        DateFormatCase{1997, 7, 4, "", ""}, DateFormatCase{1997, 7, 4, "100%%", "100%"}));

TEST(TimeFormat, TimeFieldsOnAFixedDate) {
  const tTIME t(13, 5, 9, 250);
  EXPECT_EQ("13:05:09", Formatted(t, "%H:%M:%S"));
  EXPECT_EQ("01 PM", Formatted(t, "%I %p"));
  // A time stands on Monday 1 January 1900.
  EXPECT_EQ("1900-01-01 Mon 001", Formatted(t, "%Y-%m-%d %a %j"));
  EXPECT_EQ("00:00:00", Formatted(tTIME(), "%H:%M:%S"));
  EXPECT_EQ("23:59:59", Formatted(tTIME(23, 59, 59, 999), "%H:%M:%S"));
}

TEST(TimeFormat, OutOfRangeFieldsGiveEmptyText) {
  EXPECT_EQ("", Formatted(tTIME(24, 0, 0), "%H"));
  EXPECT_EQ("", Formatted(tTIME(0, 60, 0), "%H"));
  EXPECT_EQ("", Formatted(tTIME(0, 0, 60), "%H"));
  // Milliseconds are not part of the tm record.
  EXPECT_EQ("00", Formatted(tTIME(0, 0, 0, 5000), "%H"));
}

TEST(DateTimeFormat, DateAndTimeTogether) {
  const tDATETIME dt(tDATE(2024, 2, 29), tTIME(23, 59, 59, 999));
  EXPECT_EQ("2024-02-29 23:59:59 Thu 060", Formatted(dt, "%Y-%m-%d %H:%M:%S %a %j"));
  EXPECT_EQ("", Formatted(tDATETIME(tDATE(2024, 2, 29), tTIME(24, 0, 0)), "%Y"));
  EXPECT_EQ("", Formatted(tDATETIME(tDATE(2024, 13, 1), tTIME(1, 0, 0)), "%H"));
}

TEST(DateTimeFormat, ZoneConversionsDoNotCrash) {
  const tDATETIME dt(tDATE(2024, 7, 1), tTIME(12, 0, 0));
  // The values carry no zone: the text is the C library's business.
  const std::string text = Formatted(dt, "%Z");
  EXPECT_LT(text.size(), 128u);
}

// --- buffers ---------------------------------------------------------------

TEST(FormatBuffer, SizeZeroOrNullBufferWritesNothing) {
  char buf[8];
  std::memset(buf, 'X', sizeof buf);
  tDATE(1997, 7, 4).Format(buf, 0, "%Y");
  tTIME(1, 2, 3).Format(buf, 0, "%H");
  tDATETIME(tDATE(1997, 7, 4), tTIME(1, 2, 3)).Format(buf, 0, "%H");
  for (char c : buf) EXPECT_EQ('X', c);
  tDATE(1997, 7, 4).Format(nullptr, 8, "%Y");
  tTIME(1, 2, 3).Format(nullptr, 8, "%H");
  tDATETIME().Format(nullptr, 8, "%H");
}

TEST(FormatBuffer, NullFormatGivesEmptyText) {
  EXPECT_EQ("", Formatted(tDATE(1997, 7, 4), nullptr));
  EXPECT_EQ("", Formatted(tTIME(1, 2, 3), nullptr));
  EXPECT_EQ("", Formatted(tDATETIME(), nullptr));
}

TEST(FormatBuffer, NeverWritesPastTheGivenSize) {
  // "1997-07-04" needs 11 bytes with its terminator.
  for (unsigned size = 1; size <= 12; ++size) {
    char buf[32];
    std::memset(buf, 'X', sizeof buf);
    tDATE(1997, 7, 4).Format(buf, size, "%Y-%m-%d");
    EXPECT_EQ(size >= 11 ? std::string("1997-07-04") : std::string(), std::string(buf))
        << size;
    for (unsigned i = size; i < sizeof buf; ++i) ASSERT_EQ('X', buf[i]) << size << " " << i;
  }
  char one[2] = {'X', 'X'};
  tDATETIME(tDATE(1997, 7, 4), tTIME(1, 2, 3)).Format(one, 1, "%Y");
  EXPECT_EQ('\0', one[0]);
  EXPECT_EQ('X', one[1]);
  tTIME(1, 2, 3).Format(one, 1, "%H");
  EXPECT_EQ('\0', one[0]);
  EXPECT_EQ('X', one[1]);
}

// --- the clock -------------------------------------------------------------

std::tm Local(std::time_t t) {
  // Tests run their clock checks on one thread.
  return *std::localtime(&t);
}

// True when the value lies between the two local readings (inclusive),
// compared as text so that no conversion back through mktime is needed.
bool Between(const std::string &value, std::time_t before, std::time_t after,
             const char *format) {
  char lo[64], hi[64];
  std::tm a = Local(before);
  std::tm b = Local(after);
  std::strftime(lo, sizeof lo, format, &a);
  std::strftime(hi, sizeof hi, format, &b);
  return value >= std::string(lo) && value <= std::string(hi);
}

TEST(Clock, DateTimeIsNow) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::time_t before = std::time(nullptr);
    tDATETIME now;
    now.Time.Millisecond = 77;
    now.SetToCurrent();
    const std::time_t after = std::time(nullptr);
    ASSERT_NE(0, now.IsValid());
    EXPECT_EQ(0u, now.Time.Millisecond);
    const std::string text = Formatted(now, "%Y-%m-%d %H:%M:%S");
    // Across midnight of New Year's Eve the text order still holds; a change
    // of daylight-saving time in between is worth another try.
    if (Between(text, before, after, "%Y-%m-%d %H:%M:%S")) return;
  }
  ADD_FAILURE() << "SetToCurrent never matched the C library's local time";
}

TEST(Clock, DateIsToday) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::time_t before = std::time(nullptr);
    tDATE today;
    today.SetToCurrent();
    const std::time_t after = std::time(nullptr);
    ASSERT_NE(0, today.IsValid());
    if (Between(Formatted(today, "%Y-%m-%d"), before, after, "%Y-%m-%d")) return;
  }
  ADD_FAILURE() << "SetToCurrent never matched the C library's local date";
}

TEST(Clock, TimeIsNow) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::time_t before = std::time(nullptr);
    tTIME now(1, 2, 3, 4);
    now.SetToCurrent();
    const std::time_t after = std::time(nullptr);
    ASSERT_NE(0, now.IsValid());
    EXPECT_EQ(0u, now.Millisecond);
    // Retried when the readings straddle midnight.
    if (Between(Formatted(now, "%H:%M:%S"), before, after, "%H:%M:%S")) return;
  }
  ADD_FAILURE() << "SetToCurrent never matched the C library's local time";
}

}  // namespace
