// The 16-bit string functions, one table per family. Every 16-bit string is
// written out as its units (with the terminator) so that the tests never
// depend on the very conversions they check.
#include "kelcore/text/nls_string.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/support/alloc_failure.h"

namespace {

typedef unsigned short W;
typedef std::vector<W> Units;

// Units of an ASCII text plus the terminator.
Units U(const char *ascii) {
  Units u;
  for (const char *p = ascii; *p; ++p) u.push_back(static_cast<unsigned char>(*p));
  u.push_back(0);
  return u;
}

Units U(std::initializer_list<W> units) {
  Units u(units);
  u.push_back(0);
  return u;
}

// The units of a terminated 16-bit string, terminator included.
Units Read(const W *s) {
  Units u;
  do u.push_back(*s); while (*s++ != 0);
  return u;
}

int Sign(int v) { return (v > 0) - (v < 0); }

// --- conversion, length, duplication -------------------------------------

TEST(NlsConvert, CstonlsWidensEachByteByValue) {
  W *w = cstonls("abc");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(Read(w), U({0x61, 0x62, 0x63}));
  delete[] w;

  w = cstonls("\xE9\x80\x01");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(Read(w), U({0xE9, 0x80, 0x01})) << "bytes zero-extend, never sign-extend";
  delete[] w;

  w = cstonls("");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w[0], 0);
  delete[] w;

  EXPECT_EQ(cstonls(nullptr), nullptr);
}

TEST(NlsConvert, NlstocsKeepsTheLowByte) {
  Units in = U({0x141, 0x42, 0xFFE9});
  char *c = nlstocs(in.data());
  ASSERT_NE(c, nullptr);
  EXPECT_STREQ(c, "AB\xE9");
  delete[] c;
  EXPECT_EQ(nlstocs(static_cast<const W *>(nullptr)), nullptr);
}

TEST(NlsConvert, HeapConversionsReportLackOfMemory) {
  Units in = U("abc");
  {
    kelcore_test::ScopedAllocFailure fail(1);
    EXPECT_EQ(cstonls("abc"), nullptr);
  }
  {
    kelcore_test::ScopedAllocFailure fail(1);
    EXPECT_EQ(nlstocs(in.data()), nullptr);
  }
  {
    kelcore_test::ScopedAllocFailure fail(1);
    EXPECT_EQ(strnew("abc"), nullptr);
  }
  {
    kelcore_test::ScopedAllocFailure fail(1);
    EXPECT_EQ(strnew(in.data()), nullptr);
  }
}

struct BoundedCase {
  const char *src;
  unsigned int n;
  const char *expect;
};

TEST(NlsConvert, BoundedConversionsEmptyTheDestinationFirst) {
  const BoundedCase cases[] = {
      {"abcdef", 3, "abc"}, {"abc", 10, "abc"}, {"abc", 0, ""},
      {"", 5, ""},          {"abc", 0xFFFFFFFFu, "abc"},
  };
  for (const BoundedCase &c : cases) {
    SCOPED_TRACE(std::string(c.src) + " n=" + std::to_string(c.n));
    W wide[16];
    for (W &u : wide) u = 0x7777;  // old contents must not survive
    EXPECT_EQ(cstonls(wide, c.src, c.n), wide);
    EXPECT_EQ(Read(wide), U(c.expect));

    Units src = U(c.src);
    char narrow[16];
    std::memset(narrow, 'z', sizeof narrow);
    EXPECT_EQ(nlstocs(narrow, src.data(), c.n), narrow);
    EXPECT_STREQ(narrow, c.expect);
  }
}

TEST(NlsConvert, BoundedNlstocsNarrows) {
  Units src = U({0x141, 0x142, 0x143});
  char out[8];
  nlstocs(out, src.data(), 2);
  EXPECT_STREQ(out, "AB");
}

TEST(NlsLength, CharLenAndByteLen) {
  struct Case {
    Units s;
    unsigned int chars;
  } cases[] = {{U(""), 0}, {U("a"), 1}, {U("abc"), 3}, {U({0x100, 0xFFFF}), 2}};
  for (const Case &c : cases) {
    EXPECT_EQ(CharLen(c.s.data()), c.chars);
    EXPECT_EQ(ByteLen(c.s.data()), 2 * c.chars);
  }
  EXPECT_EQ(CharLen(nullptr), 0u);
}

TEST(NlsStrnew, CopiesBothWidths) {
  char *c = strnew("hello");
  ASSERT_NE(c, nullptr);
  EXPECT_STREQ(c, "hello");
  delete[] c;
  EXPECT_EQ(strnew(static_cast<const char *>(nullptr)), nullptr);

  Units src = U({0x100, 0x41});
  W *w = strnew(src.data());
  ASSERT_NE(w, nullptr);
  EXPECT_NE(w, src.data());
  EXPECT_EQ(Read(w), src);
  delete[] w;
  EXPECT_EQ(strnew(static_cast<const W *>(nullptr)), nullptr);
}

// --- copy and append ---------------------------------------------------------

TEST(NlsCopy, StrcpyAllWidths) {
  W w[8];
  Units src = U({0x141, 0x62});
  EXPECT_EQ(strcpy(w, src.data()), w);
  EXPECT_EQ(Read(w), src);

  EXPECT_EQ(strcpy(w, "\xE9z"), w);
  EXPECT_EQ(Read(w), U({0xE9, 0x7A}));

  char c[8];
  EXPECT_EQ(strcpy(c, src.data()), c);
  EXPECT_STREQ(c, "Ab");
}

struct NcpyCase {
  const char *src;
  unsigned int n;
  const char *written;  // units written, then untouched sentinels
  bool terminated;
};

TEST(NlsCopy, StrncpyStopsAtTheTerminatorAndNeverPads) {
  const NcpyCase cases[] = {
      {"abc", 2, "ab", false}, {"abc", 3, "abc", false}, {"abc", 5, "abc", true},
      {"abc", 0, "", false},   {"", 3, "", true},
  };
  for (const NcpyCase &c : cases) {
    SCOPED_TRACE(std::string(c.src) + " n=" + std::to_string(c.n));
    Units src = U(c.src);
    std::size_t len = std::strlen(c.written);

    W w[8];
    for (W &u : w) u = 0x7777;
    EXPECT_EQ(strncpy(w, src.data(), c.n), w);
    for (std::size_t i = 0; i < len; ++i) EXPECT_EQ(w[i], static_cast<W>(c.written[i]));
    EXPECT_EQ(w[len], c.terminated ? 0 : 0x7777);
    EXPECT_EQ(w[len + 1], 0x7777) << "no padding";

    char n8[8];
    std::memset(n8, 'z', sizeof n8);
    EXPECT_EQ(strncpy(n8, src.data(), c.n), n8);
    EXPECT_EQ(std::string(n8, len), c.written);
    EXPECT_EQ(n8[len], c.terminated ? 0 : 'z');
    EXPECT_EQ(n8[len + 1], 'z');
  }
}

TEST(NlsCopy, StrcatAllWidths) {
  W w[16];
  strcpy(w, "ab");
  Units tail = U({0x163});
  EXPECT_EQ(strcat(w, tail.data()), w);
  EXPECT_EQ(Read(w), U({0x61, 0x62, 0x163}));
  EXPECT_EQ(strcat(w, "\xE9"), w);
  EXPECT_EQ(Read(w), U({0x61, 0x62, 0x163, 0xE9}));

  char c[16] = "xy";
  EXPECT_EQ(strcat(c, tail.data()), c);
  EXPECT_STREQ(c, "xyc");
}

TEST(NlsCopy, StrncatAppendsAtMostNAndAlwaysTerminates) {
  const BoundedCase cases[] = {
      {"cdef", 2, "abcd"}, {"cd", 5, "abcd"}, {"cd", 0, "ab"}, {"", 3, "ab"},
  };
  for (const BoundedCase &c : cases) {
    SCOPED_TRACE(std::string(c.src) + " n=" + std::to_string(c.n));
    Units src = U(c.src);
    W w[16];
    for (W &u : w) u = 0x7777;
    strcpy(w, "ab");
    EXPECT_EQ(strncat(w, src.data(), c.n), w);
    EXPECT_EQ(Read(w), U(c.expect));

    for (W &u : w) u = 0x7777;
    strcpy(w, "ab");
    EXPECT_EQ(strncat(w, c.src, c.n), w);
    EXPECT_EQ(Read(w), U(c.expect));

    char n8[16];
    std::memset(n8, 'z', sizeof n8);
    std::strcpy(n8, "ab");
    EXPECT_EQ(strncat(n8, src.data(), c.n), n8);
    EXPECT_STREQ(n8, c.expect);
  }
}

// --- comparison --------------------------------------------------------------

struct CmpCase {
  Units a;
  Units b;  // units below 256 only where the 8-bit forms are checked
  int sign;
  bool narrow_b;  // b is also checked as an 8-bit string
};

TEST(NlsCompare, StrcmpAllWidths) {
  const CmpCase cases[] = {
      {U("abc"), U("abc"), 0, true},
      {U("abc"), U("abd"), -1, true},
      {U("abd"), U("abc"), 1, true},
      {U("ab"), U("abc"), -1, true},
      {U("abc"), U("ab"), 1, true},
      {U(""), U(""), 0, true},
      {U({0x100}), U({0x01}), 1, true},   // 16-bit unit above any byte
      {U({0x7F}), U({0xE9}), -1, true},   // bytes compare unsigned
      {U({0xFFFF}), U({0x1}), 1, false},
  };
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const CmpCase &c = cases[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(Sign(strcmp(c.a.data(), c.b.data())), c.sign);
    if (!c.narrow_b) continue;
    std::string nb;
    for (std::size_t k = 0; c.b[k]; ++k) nb += static_cast<char>(c.b[k]);
    EXPECT_EQ(Sign(strcmp(c.a.data(), nb.c_str())), c.sign);
    bool narrow_a = true;
    std::string na;
    for (std::size_t k = 0; c.a[k]; ++k) {
      if (c.a[k] > 0xFF) narrow_a = false;
      na += static_cast<char>(c.a[k]);
    }
    if (narrow_a) {
      EXPECT_EQ(Sign(strcmp(na.c_str(), c.b.data())), c.sign);
    }
  }
}

TEST(NlsCompare, ResultIsTheDifferenceOfTheFirstDifferingPair) {
  Units a = U({0x100});
  EXPECT_EQ(strcmp(a.data(), "\x01"), 0xFF);
  EXPECT_EQ(strcmp("\x01", a.data()), -0xFF);
  Units e9 = U({0xE9});
  EXPECT_EQ(strcmp(e9.data(), "a"), 0xE9 - 0x61);
  Units ab = U("ab");
  EXPECT_EQ(strcmp(ab.data(), "a"), 'b');
}

TEST(NlsCompare, StrncmpAllWidths) {
  struct Case {
    const char *a;
    const char *b;
    unsigned int n;
    int sign;
  } cases[] = {
      {"abcX", "abcY", 3, 0}, {"abcX", "abcY", 4, -1}, {"abc", "abd", 0, 0},
      {"ab", "ab", 10, 0},    {"ab", "abc", 3, -1},    {"b", "a", 1, 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.a) + "/" + c.b + " n=" + std::to_string(c.n));
    Units a = U(c.a), b = U(c.b);
    EXPECT_EQ(Sign(strncmp(a.data(), b.data(), c.n)), c.sign);
    EXPECT_EQ(Sign(strncmp(a.data(), c.b, c.n)), c.sign);
    EXPECT_EQ(Sign(strncmp(c.a, b.data(), c.n)), c.sign);
  }
}

// --- search ------------------------------------------------------------------

TEST(NlsSearch, StrchrFindsTheFirstMatchOrTheTerminator) {
  Units s = U({0x61, 0x162, 0x61, 0xE9});
  const W *cs = s.data();
  W *ms = s.data();
  EXPECT_EQ(strchr(cs, static_cast<W>(0x61)), cs);
  EXPECT_EQ(strchr(cs, static_cast<W>(0x162)), cs + 1);
  EXPECT_EQ(strchr(cs, static_cast<W>(0x62)), nullptr) << "units are not narrowed";
  EXPECT_EQ(strchr(cs, '\xE9'), cs + 3) << "a char is widened, not sign-extended";
  EXPECT_EQ(strchr(cs, 0), cs + 4);
  EXPECT_EQ(strchr(cs, static_cast<W>(0)), cs + 4);
  EXPECT_EQ(strchr(cs, 0x162), cs + 1);
  EXPECT_EQ(strchr(ms, 'a'), ms);
  EXPECT_EQ(strchr(ms, static_cast<W>(0x162)), ms + 1);
  EXPECT_EQ(strchr(ms, 0), ms + 4);
}

TEST(NlsSearch, StrrchrFindsTheLastMatchOrTheTerminator) {
  Units s = U({0x61, 0x162, 0x61});
  const W *cs = s.data();
  W *ms = s.data();
  EXPECT_EQ(strrchr(cs, 'a'), cs + 2);
  EXPECT_EQ(strrchr(cs, static_cast<W>(0x162)), cs + 1);
  EXPECT_EQ(strrchr(cs, static_cast<W>(0x7A)), nullptr);
  EXPECT_EQ(strrchr(cs, static_cast<W>(0)), cs + 3);
  EXPECT_EQ(strrchr(cs, 0), cs + 3);
  EXPECT_EQ(strrchr(ms, static_cast<W>(0x61)), ms + 2);
  EXPECT_EQ(strrchr(ms, 'z'), nullptr);
  Units empty = U("");
  EXPECT_EQ(strrchr(empty.data(), 'a'), nullptr);
  EXPECT_EQ(strrchr(empty.data(), 0), empty.data());
}

TEST(NlsSearch, UnitInAnEightBitString) {
  const char *s = "ab\xE9" "b";
  char buf[8] = "ab\xE9" "b";
  EXPECT_EQ(strchr(s, static_cast<W>(0x62)), s + 1);
  EXPECT_EQ(strchr(s, static_cast<W>(0xE9)), s + 2);
  EXPECT_EQ(strchr(s, static_cast<W>(0x162)), nullptr) << "above 255: never found";
  EXPECT_EQ(strchr(s, static_cast<W>(0)), s + 4);
  EXPECT_EQ(strrchr(s, static_cast<W>(0x62)), s + 3);
  EXPECT_EQ(strrchr(s, static_cast<W>(0x100)), nullptr);
  EXPECT_EQ(strrchr(s, static_cast<W>(0)), s + 4);
  char *found = strchr(buf, static_cast<W>(0xE9));
  EXPECT_EQ(found, buf + 2);
  char *last = strrchr(buf, static_cast<W>(0x62));
  EXPECT_EQ(last, buf + 3);
}

// With this header included, 8-bit calls still reach the C library: the C
// functions convert an int argument to char, while the 16-bit overloads
// would never find a negative char widened past 255.
TEST(NlsSearch, EightBitCallsStillReachTheCLibrary) {
  char buf[8] = "a\xE9z";
  const char *cs = buf;
  EXPECT_EQ(strchr(buf, '\xE9'), buf + 1);
  EXPECT_EQ(strchr(cs, '\xE9'), cs + 1);
  EXPECT_EQ(strrchr(buf, '\xE9'), buf + 1);
  EXPECT_EQ(strchr(cs, 'z'), cs + 2);
  EXPECT_EQ(strchr(cs, 0x7A), cs + 2);
  char copy[8];
  EXPECT_EQ(strcpy(copy, "xy"), copy);
  EXPECT_EQ(strcmp(copy, "xy"), 0);
  EXPECT_NE(isalpha('a'), 0);
  EXPECT_EQ(toupper('a'), 'A');
}

// --- case and classes --------------------------------------------------------

TEST(NlsCase, StrlwrAndStruprTouchOnlyUnitsBelow128) {
  Units s = U({'a', 'B', 0xE9, 0xC9, 0x161, '1'});
  EXPECT_EQ(strupr(s.data()), s.data());
  EXPECT_EQ(s, U({'A', 'B', 0xE9, 0xC9, 0x161, '1'}));
  EXPECT_EQ(strlwr(s.data()), s.data());
  EXPECT_EQ(s, U({'a', 'b', 0xE9, 0xC9, 0x161, '1'}));
}

struct ClassCase {
  W unit;
  int ascii, alpha, digit, space;
  W upper, lower;
};

TEST(NlsClasses, TableOfUnits) {
  const ClassCase cases[] = {
      {'a', 1, 1, 0, 0, 'A', 'a'},      {'Z', 1, 1, 0, 0, 'Z', 'z'},
      {'5', 1, 0, 1, 0, '5', '5'},      {' ', 1, 0, 0, 1, ' ', ' '},
      {'\t', 1, 0, 0, 1, '\t', '\t'},   {0x7F, 1, 0, 0, 0, 0x7F, 0x7F},
      {0x80, 0, 0, 0, 0, 0x80, 0x80},   {0xE9, 0, 0, 0, 0, 0xE9, 0xE9},
      {0x141, 0, 1, 0, 0, 0x141, 0x141},  // low byte 'A': a letter, not ASCII
      {0x131, 0, 0, 1, 0, 0x131, 0x131},  // low byte '1'
      {0x120, 0, 0, 0, 1, 0x120, 0x120},  // low byte ' '
      {0x161, 0, 1, 0, 0, 0x161, 0x161},  // case changes only below 128
      {0, 1, 0, 0, 0, 0, 0},
  };
  for (const ClassCase &c : cases) {
    SCOPED_TRACE(c.unit);
    EXPECT_EQ((isascii)(c.unit) != 0, c.ascii != 0);
    EXPECT_EQ((isalpha)(c.unit) != 0, c.alpha != 0);
    EXPECT_EQ((isdigit)(c.unit) != 0, c.digit != 0);
    EXPECT_EQ((isspace)(c.unit) != 0, c.space != 0);
    EXPECT_EQ((toupper)(c.unit), c.upper);
    EXPECT_EQ((tolower)(c.unit), c.lower);
  }
}

TEST(NlsClasses, PlainCallsPickTheUnitOverloads) {
  W e9 = 0xE9;
  W a = 0x61;
  EXPECT_EQ(toupper(e9), 0xE9);
  EXPECT_EQ(toupper(a), 0x41);
  EXPECT_EQ(tolower(static_cast<W>(0x41)), 0x61);
  EXPECT_NE(isascii(a), 0);
  EXPECT_EQ(isascii(e9), 0);
}

}  // namespace
