// The 16-bit string functions, one table per family. 16-bit strings are
// written out as units, so that no check rests on the conversions it checks.
#include "kelcore/text/nls_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/alloc_failure.h"

namespace {

typedef unsigned short W;
typedef std::vector<W> Units;  // terminator included

Units U(Units u) { return u.push_back(0), u; }
Units B(const std::string &bytes) {  // each byte zero-extended
  Units u(bytes.begin(), bytes.end());
  for (W &x : u) x &= 0xFF;
  return U(u);
}
Units Read(const W *s) { return U(Units(s, s + CharLen(s))); }
Units High(Units u) { for (W &x : u) x = x != 0 ? x | 0x100 : 0; return u; }  // low bytes kept
Units Cat(Units a, const Units &b) { return a.pop_back(), a.insert(a.end(), b.begin(), b.end()), a; }
// The units as bytes; false when one does not fit.
bool Narrow(const Units &u, std::string *s) {
  for (W x : u) if (x > 0xFF) return false; else if (x != 0) *s += static_cast<char>(x);
  return true;
}

TEST(NlsConvert, ByValueWithHeapCopiesThatMayFailAndUnboundedCopies) {
  const Units wide = U({0x141, 0x42, 0xFFE9});
  const std::unique_ptr<W[]> w(cstonls("a\xE9\x80")), wcopy(strnew(wide.data()));
  const std::unique_ptr<char[]> c(nlstocs(wide.data())), ccopy(strnew("hi"));
  EXPECT_EQ(Read(w.get()), U({0x61, 0xE9, 0x80})) << "bytes zero-extend";
  EXPECT_STREQ(c.get(), "AB\xE9") << "units keep their low byte";
  EXPECT_TRUE(Read(wcopy.get()) == wide && wcopy.get() != wide.data() && std::strcmp(ccopy.get(), "hi") == 0);
  EXPECT_TRUE(!cstonls(nullptr) && !nlstocs(static_cast<const W *>(nullptr)) &&
              !strnew(static_cast<const char *>(nullptr)) && !strnew(static_cast<const W *>(nullptr)));
  EXPECT_TRUE(CharLen(wide.data()) == 3 && ByteLen(wide.data()) == 6 && CharLen(nullptr) == 0);
  W b[8];
  char n8[8];
  EXPECT_TRUE(strcpy(b, "\xE9z") == b && strcat(b, wide.data()) == b && Read(b) == U({0xE9, 0x7A, 0x141, 0x42, 0xFFE9}));
  EXPECT_TRUE(strcpy(b, wide.data()) == b && strcat(b, "\xE9") == b && Read(b) == U({0x141, 0x42, 0xFFE9, 0xE9}));
  EXPECT_TRUE(strcpy(n8, wide.data()) == n8 && strcat(n8, wide.data()) == n8 && std::string(n8) == "AB\xE9" "AB\xE9");
  kelcore_test::ScopedAllocFailure fail(1, true);
  EXPECT_TRUE(!cstonls("a") && !nlstocs(wide.data()) && !strnew("a") && !strnew(wide.data()));
}

// cstonls and nlstocs into a buffer, strncat and strncpy, for every pair of widths.
TEST(NlsCopy, BoundedFormsTakeAtMostNUnits) {
  const struct { const char *src; unsigned n; } cases[] = {
      {"abcdef", 3}, {"abc", 3}, {"abc", 5}, {"abc", 0}, {"", 3}, {"\xE9\x80z", 0xFFFFFFFFu}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.src) + " n=" + std::to_string(c.n));
    const std::string want = std::string(c.src).substr(0, c.n);
    const Units high = High(B(c.src)), head = High(B(want));
    W w[16];
    char n8[16];
    // Old contents or a missing terminator would show.
    const auto reset = [&w, &n8] { for (W &u : w) u = 0x7777; std::memset(n8, 'z', sizeof n8); };
    reset();
    EXPECT_TRUE(cstonls(w, c.src, c.n) == w && Read(w) == B(want));  // empties first
    EXPECT_TRUE(nlstocs(n8, high.data(), c.n) == n8 && n8 == want);
    EXPECT_TRUE(strncat(w, high.data(), c.n) == w && Read(w) == Cat(B(want), head));
    EXPECT_TRUE(strncat(w, c.src, c.n) == w && Read(w) == Cat(Cat(B(want), head), B(want)));
    EXPECT_TRUE(strncat(n8, high.data(), c.n) == n8 && n8 == want + want);
    // strncpy stops at the terminator, writes one only when it stopped before n, never pads.
    reset();
    const bool term = std::strlen(c.src) < c.n;
    EXPECT_TRUE(strncpy(w, high.data(), c.n) == w && strncpy(n8, high.data(), c.n) == n8);
    EXPECT_EQ(Units(w, w + want.size() + 2), Cat(head, {W(term ? 0 : 0x7777), 0x7777}));
    EXPECT_EQ(std::string(n8, want.size() + 2), want + (term ? '\0' : 'z') + 'z');
  }
}

// Units compare unsigned; the result is the difference of the first differing pair.
TEST(NlsCompare, StrcmpAndStrncmpForEveryPairOfWidths) {
  const struct { Units a, b; unsigned n; int diff; } cases[] = {  // n ~0u: strcmp
      {B("abc"), B("abc"), ~0u, 0},      {B("abc"), B("abd"), ~0u, -1},     {B("ab"), B("abc"), ~0u, -'c'},
      {B(""), B(""), ~0u, 0},            {U({0x100}), U({1}), ~0u, 0xFF},   {U({0x7F}), U({0xE9}), ~0u, -0x6A},
      {U({0xFFFF}), U({1}), ~0u, 0xFFFE}, {B("abcX"), B("abcY"), 3, 0},      {B("abcX"), B("abcY"), 4, -1},
      {B("b"), B("a"), 0, 0},             {B("ab"), B("ab"), 10, 0},          {B("ab"), B("abc"), 3, -'c'}};
  for (const auto &c : cases) {
    const auto cmp = [&c](const auto *x, const auto *y) { return c.n == ~0u ? strcmp(x, y) : strncmp(x, y, c.n); };
    std::string a, b;
    EXPECT_EQ(cmp(c.a.data(), c.b.data()), c.diff) << &c - cases;
    EXPECT_TRUE(!Narrow(c.b, &b) || cmp(c.a.data(), b.c_str()) == c.diff) << &c - cases;
    EXPECT_TRUE(!Narrow(c.a, &a) || cmp(a.c_str(), c.b.data()) == c.diff) << &c - cases;
  }
}

TEST(NlsSearch, FirstAndLastUnitOrTheTerminator) {
  Units s = U({0x61, 0x162, 0x61, 0xE9}), empty = B("");
  const W *cs = s.data();
  char buf[8] = "ab\xE9" "b";
  const char *c8 = buf;
  // Units are never narrowed and chars widen without their sign; in an
  // 8-bit string a unit above 255 is never found, even with a matching low
  // byte; 8-bit calls still reach the C library, which takes an int as a char.
  const std::pair<const void *, const void *> found[] = {
      {strchr(cs, W(0x162)), cs + 1}, {strchr(cs, W(0x62)), nullptr},    {strchr(cs, '\xE9'), cs + 3},
      {strchr(s.data(), 0x162), cs + 1},   {strchr(cs, 0), cs + 4},            {strrchr(cs, 'a'), cs + 2},
      {strrchr(s.data(), '\xE9'), cs + 3}, {strrchr(s.data(), W(0)), cs + 4},       {strrchr(cs, 0x7A), nullptr},
      {strrchr(empty.data(), 'a'), nullptr}, {strrchr(empty.data(), 0), empty.data()},
      {strchr(c8, W(0xE9)), c8 + 2},  {strchr(c8, W(0)), c8 + 4},         {strrchr(buf, W(0x62)), buf + 3},
      {strchr(buf, W(0x162)), nullptr}, {strrchr(c8, W(0x100)), nullptr}, {strchr(buf, '\xE9'), buf + 2},
      {strrchr(c8, '\xE9'), c8 + 2}};
  for (const auto &f : found) EXPECT_EQ(f.first, f.second) << &f - found;
}

TEST(NlsCase, OnlyUnitsBelow128ChangeAndLowBytesDecideTheClasses) {
  Units s = U({'a', 'B', 0xE9, 0xC9, 0x161, '1'});
  EXPECT_TRUE(strupr(s.data()) == s.data() && s == U({'A', 'B', 0xE9, 0xC9, 0x161, '1'}));
  EXPECT_TRUE(strlwr(s.data()) == s.data() && s == U({'a', 'b', 0xE9, 0xC9, 0x161, '1'}));
  // Classes: ascii, alpha, digit, space.
  const struct { W unit; const char *classes; W upper, lower; } cases[] = {
      {'a', "1100", 'A', 'a'},      {'Z', "1100", 'Z', 'z'},          {'5', "1010", '5', '5'},
      {'\t', "1001", '\t', '\t'},   {0x7F, "1000", 0x7F, 0x7F},       {0x80, "0000", 0x80, 0x80},
      {0xE9, "0000", 0xE9, 0xE9},   {0x141, "0100", 0x141, 0x141},    {0x131, "0010", 0x131, 0x131},
      {0x120, "0001", 0x120, 0x120}, {0x161, "0100", 0x161, 0x161},   {0, "1000", 0, 0}};
  for (const auto &c : cases) {
    const char got[] = {char('0' + !!isascii(c.unit)), char('0' + !!(isalpha)(c.unit)),
                        char('0' + !!(isdigit)(c.unit)), char('0' + !!(isspace)(c.unit)), 0};
    EXPECT_TRUE(got == std::string(c.classes) && toupper(c.unit) == c.upper && (tolower)(c.unit) == c.lower) << c.unit;
  }
}

}  // namespace
