// Wildcard matching of names: the results of the described rules, checked
// against a plain recursive statement of those rules, and hostile patterns
// that a backtracking matcher would never finish.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>

#include "kelcore/names/pc_file_name.h"
#include "kelcore/names/unix_file_name.h"
#include "tests/names/names_test_util.h"

using names_test::Conv;
using names_test::kDos;
using names_test::kUnix;

namespace {

int StaticMatch(Conv c, const char *name, const char *pattern) {
  return c == kDos ? tPCFILENAME::NameMatches(name, pattern)
                   : tUNIXFILENAME::NameMatches(name, pattern);
}

// The rules exactly as documented, written as the obvious recursion. Only
// for short inputs: it backtracks exponentially.
bool RefSep(char c, Conv conv) { return c == '/' || (conv == kDos && c == '\\'); }

bool RefWhole(const char *t, const char *p, Conv conv) {
  while (*p != '\0' && *t != '\0') {
    if (*p == '?') {
      ++p;
      ++t;
    } else if (*p == '*') {
      ++p;
      for (;;) {
        if (RefWhole(t, p, conv)) return true;
        if (RefSep(*t, conv)) return false;
        if (*t == '\0') break;
        ++t;
      }
    } else {
      if (std::tolower(static_cast<unsigned char>(*p)) !=
          std::tolower(static_cast<unsigned char>(*t))) {
        return false;
      }
      ++p;
      ++t;
    }
  }
  return *p == '\0' && *t == '\0';
}

int RefNameMatches(const char *name, const char *pattern, Conv conv) {
  if (name[0] == '\0') return 0;
  for (const char *t = name;;) {
    if (RefWhole(t, pattern, conv)) return 1;
    while (*t != '\0' && !RefSep(*t, conv)) ++t;
    if (*t == '\0' || t[1] == '\0') return 0;
    ++t;
  }
}

struct MatchCase {
  Conv conv;
  const char *name;
  const char *pattern;
  int expected;
};

const MatchCase kMatches[] = {
    // final component and tails of whole components
    {kDos, "C:\\DIR\\File.TXT", "*.txt", 1},
    {kDos, "C:\\dir\\a.txt", "dir\\*.txt", 1},
    {kDos, "C:\\dir\\a.txt", "ir\\*.txt", 0},
    {kDos, "C:\\dir\\a.txt", "C:\\*\\a.txt", 1},
    {kDos, "C:\\dir\\sub\\a.txt", "C:\\*\\a.txt", 0},
    {kDos, "C:\\dir\\sub\\a.txt", "C:\\*\\*\\a.txt", 1},
    {kDos, "C:\\dir\\a.txt", "*.doc", 0},
    {kUnix, "/usr/Lib/X", "lib/x", 1},
    {kUnix, "/usr/Lib/X", "usr/*/x", 1},
    {kUnix, "/usr/Lib/X", "/usr/*/x", 1},
    {kUnix, "/usr/Lib/X", "sr/lib/x", 0},
    // "*" stops at separators; "?" does not
    {kDos, "a\\b", "*", 1},
    {kDos, "a\\", "*", 0},
    {kDos, "a\\b", "a*b", 0},
    {kDos, "a\\b", "a?b", 1},
    {kDos, "x\\a/b", "a?b", 1},
    {kUnix, "a/b", "a?b", 1},
    {kUnix, "a/b", "a*b", 0},
    {kUnix, "dir\\x", "d*x", 1},
    {kDos, "dir\\x", "d*x", 0},
    {kDos, "/", "*", 0},
    {kDos, "/", "/", 1},
    {kDos, "/", "?", 1},
    // the pattern must use up the text and the text the pattern
    {kDos, "abc", "a?c", 1},
    {kDos, "abc", "a?", 0},
    {kDos, "abc", "abcd", 0},
    {kDos, "abc", "", 0},
    {kDos, "ab", "a*", 1},
    {kDos, "abc", "*b*", 1},
    // a "*" needs text left where it starts
    {kDos, "a", "a*", 0},
    {kDos, "ab", "*b*", 0},
    {kDos, "a", "*", 1},
    {kDos, "a", "**", 1},
    {kDos, "a", "*a", 1},
    {kDos, "aXb", "a*X*b", 1},
    // case and literal separators
    {kDos, "abc", "ABC", 1},
    {kUnix, "ABC", "abc", 1},
    {kDos, "a.TXT", "*.tXt", 1},
    {kDos, "a\\b", "a/b", 0},
    {kDos, "a/b", "a/b", 1},
    {kDos, "a/b", "a\\b", 0},
    // empty names never match
    {kDos, "", "*", 0},
    {kDos, "", "", 0},
    {kUnix, "", "*", 0},
    // a tail must have something after its separator
    {kDos, "a\\", "", 0},
    {kUnix, "x/", "x/", 1},
};

TEST(NameMatches, DocumentedResults) {
  for (const MatchCase &c : kMatches) {
    SCOPED_TRACE(std::string(names_test::ConvName(c.conv)) + " \"" + c.name + "\" ~ \"" +
                 c.pattern + "\"");
    EXPECT_EQ(c.expected, StaticMatch(c.conv, c.name, c.pattern));
    EXPECT_EQ(c.expected, RefNameMatches(c.name, c.pattern, c.conv)) << "the table itself";
  }
}

TEST(NameMatches, VirtualFormMatchesTheStoredName) {
  tPCFILENAME dos("C:\\Dir\\Report.DOC");
  EXPECT_EQ(1, dos.NameMatches("*.doc"));
  EXPECT_EQ(1, dos.NameMatches("dir\\r*"));
  EXPECT_EQ(0, dos.NameMatches("*.txt"));
  tUNIXFILENAME unix_name("/var/log/Syslog");
  EXPECT_EQ(1, unix_name.NameMatches("log/sys*"));
  EXPECT_EQ(0, unix_name.NameMatches("var/sys*"));
  tPCFILENAME empty;
  EXPECT_EQ(0, empty.NameMatches("*"));
}

TEST(NameMatches, NullArguments) {
  EXPECT_EQ(0, tPCFILENAME::NameMatches(nullptr, "*"));
  EXPECT_EQ(0, tPCFILENAME::NameMatches("a", nullptr));
  EXPECT_EQ(0, tUNIXFILENAME::NameMatches(nullptr, nullptr));
}

// A small deterministic generator, the same on every platform.
class Lcg {
 public:
  explicit Lcg(std::uint32_t seed) : state_(seed) {}
  std::uint32_t Next(std::uint32_t bound) {
    state_ = state_ * 1664525u + 1013904223u;
    return (state_ >> 8) % bound;
  }

 private:
  std::uint32_t state_;
};

std::string RandomText(Lcg &rng, const char *alphabet, std::uint32_t max_len) {
  std::string s;
  std::uint32_t len = rng.Next(max_len + 1);
  std::uint32_t size = static_cast<std::uint32_t>(std::char_traits<char>::length(alphabet));
  for (std::uint32_t i = 0; i < len; ++i) s += alphabet[rng.Next(size)];
  return s;
}

TEST(NameMatches, AgreesWithTheRecursiveRulesOnRandomInput) {
  Lcg rng(20240607u);
  int matched = 0;
  for (int i = 0; i < 40000; ++i) {
    const Conv conv = (i & 1) ? kDos : kUnix;
    std::string name = RandomText(rng, "aAb/\\.", 9);
    std::string pattern = RandomText(rng, "aB*?*/\\.", 7);
    const int want = RefNameMatches(name.c_str(), pattern.c_str(), conv);
    matched += want;
    ASSERT_EQ(want, StaticMatch(conv, name.c_str(), pattern.c_str()))
        << names_test::ConvName(conv) << " \"" << name << "\" ~ \"" << pattern << "\"";
  }
  // The generator must reach both answers often enough to mean something.
  EXPECT_GT(matched, 2000);
  EXPECT_LT(matched, 38000);
}

// Patterns that make a backtracking matcher try every way of spreading the
// stars over a long component: binomial(250, 40) ways here, far beyond any
// test timeout. Only the results are asserted; the benchmark measures time.
std::string Stars(const char *unit, int count, const char *tail) {
  std::string s;
  for (int i = 0; i < count; ++i) s += unit;
  return s + tail;
}

TEST(NameMatches, HostilePatternsFinish) {
  const std::string long_component(250, 'a');
  const std::string no_match = Stars("*a", 40, "*b");
  const std::string match = Stars("*a", 40, "");
  EXPECT_EQ(0, tPCFILENAME::NameMatches(long_component.c_str(), no_match.c_str()));
  EXPECT_EQ(1, tPCFILENAME::NameMatches(long_component.c_str(), match.c_str()));

  tPCFILENAME dos(("C:\\" + long_component).c_str());
  EXPECT_EQ(0, dos.NameMatches(no_match.c_str()));
  EXPECT_EQ(1, dos.NameMatches(match.c_str()));

  const std::string unix_text = "/" + std::string(1000, 'a');
  tUNIXFILENAME unix_name(unix_text.c_str());
  EXPECT_EQ(0, unix_name.NameMatches(Stars("*a", 200, "*b").c_str()));
  EXPECT_EQ(1, unix_name.NameMatches(Stars("*a", 200, "*").c_str()));
  EXPECT_EQ(0, unix_name.NameMatches(Stars("*?", 300, "*b").c_str()));

  // Many components, every one a tail to try.
  std::string many;
  for (int i = 0; i < 250; ++i) many += "/aaa";
  tUNIXFILENAME components(many.c_str());
  EXPECT_EQ(0, components.NameMatches(Stars("*a*/", 100, "*b").c_str()));
  EXPECT_EQ(1, components.NameMatches(Stars("*a*/", 100, "a*").c_str()));
}

TEST(NameMatches, HostileNamesBeyondTheBuffersOfTheObjects) {
  // The static form takes any text, however long.
  std::string name(20000, 'a');
  name += 'b';
  EXPECT_EQ(1, tUNIXFILENAME::NameMatches(name.c_str(), Stars("*a", 30, "*b").c_str()));
  EXPECT_EQ(0, tUNIXFILENAME::NameMatches(name.c_str(), Stars("*a", 30, "*c").c_str()));
  // Runs of stars count once; more literal characters than text give up at once.
  const std::string stars(100000, '*');
  EXPECT_EQ(1, tPCFILENAME::NameMatches("abc", (stars + "c").c_str()));
  EXPECT_EQ(0, tPCFILENAME::NameMatches("abc", (stars + "abcd").c_str()));
}

}  // namespace
