// Messages and their parameters: conversion specs (hostile ones included),
// the library's own integer and text rendering against printf,
// placeholders, equality, ownership, null objects, the static
// out-of-memory message and allocation failure.
#include "kelcore/msg/message.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <sstream>
#include <thread>
#include <string>
#include <typeinfo>
#include <vector>

#include "tests/msg/client_compile_check.cpp"
#include "tests/support/alloc_failure.h"

namespace {

const char kId[] = "TEST id";
const bool kLong32 = LONG_MAX == 2147483647L;

// A parameter's text formatted into 1024 bytes, which it must not leave.
std::string Text(const tPARAMETER &parm, const char *spec) {
  std::string buf(1100, '#');
  parm.Format(&buf[0], spec);
  return std::memchr(buf.data(), 0, 1024) != nullptr ? buf.c_str() : "<unterminated>";
}
// The text of a static Format, released with delete[] as documented.
std::string Taken(char *text) { const std::unique_ptr<char[]> owned(text); return text != nullptr ? text : "<null>"; }
// Runs `fn` with the `n`th nothrow allocation from now on failing (and, with `after`, every later one).
template <class F> void Starved(std::size_t n, F fn, bool after = false) { kelcore_test::ScopedAllocFailure fail(n, after); fn(); }
int g_live = 0;  // instances alive, to check who destroys what
struct tCOUNTED : tPARAMETER {
  tCOUNTED() : tPARAMETER(&g_live) { ++g_live; }
  ~tCOUNTED() { --g_live; }
  void Format(char *buf, const char *) const { std::strcpy(buf, "counted"); }
  static tPARAMETER *New() { return new tCOUNTED; }
};
struct tCOUNTED_MSG : tMSGSTR {
  explicit tCOUNTED_MSG(const char *format) : tMSGSTR(format, kId, eERROR) { ++g_live; }
  ~tCOUNTED_MSG() { --g_live; }
};
// Hidden from the optimiser, so that calls on null objects stay as written.
template <class T> T *Opaque(T *p) { T *volatile hidden = p; return hidden; }
template <class P, class V> std::shared_ptr<tPARAMETER> Make(V v) { return std::make_shared<P>(v); }
struct tROW { std::shared_ptr<tPARAMETER> a, same, other; const char *text; };
template <class P, class V> tROW Row(V v, V other, const char *text) { return {Make<P>(v), Make<P>(v), Make<P>(other), text}; }
tPARAMETER *S(const std::string &text) { return new tPARM_STRING(text.c_str()); }
tPARAMETER *I(int value) { return new tPARM_INT(value); }
bool SameClass(const tPARAMETER &a, const tPARAMETER &b) { return typeid(a) == typeid(b); }

// Every class: its default text; equal to an equal parameter and to the one the matching streaming
// overload builds; never equal to another value or to another class.
TEST(Parameter, EveryClassConvertsComparesAndIsStreamed) {
  tMSGSTR inner("inner %0", kId, tMSG::eERROR), twin("twin %0", kId, tMSG::eERROR), stop("stop", kId, tMSG::eSTOP);
  inner << 7, twin << 7, stop << 7;
  tTRACEMSG msg("Enter:%0:%1");
  msg << 'A' << static_cast<short>(SHRT_MIN) << static_cast<unsigned short>(65535) << INT_MIN << UINT_MAX << LONG_MIN
      << ULONG_MAX << 1.5f << 0.1 << 2.5L << "text" << static_cast<const char *>(nullptr) << static_cast<tMSG &>(inner);
  // A parameter, an equal one, another value (5 where it is a number), and the default text.
  const tROW rows[] = {
      Row<tPARM_CHAR>('A', '5', "A"), Row<tPARM_SHORT, short>(SHRT_MIN, 5, "-32768"),
      Row<tPARM_USHORT, unsigned short>(65535, 5, "65535"), Row<tPARM_INT>(INT_MIN, 5, "-2147483648"),
      Row<tPARM_UINT>(UINT_MAX, 5u, "4294967295"), Row<tPARM_LONG>(LONG_MIN, 5L, kLong32 ? "-2147483648" : "-9223372036854775808"),
      Row<tPARM_ULONG>(ULONG_MAX, 5ul, kLong32 ? "4294967295" : "18446744073709551615"), Row<tPARM_FLOAT>(1.5f, 5.0f, "1.5"),
      Row<tPARM_DOUBLE>(0.1, 5.0, "0.1"), Row<tPARM_LDOUBLE>(2.5L, 5.0L, "2.5"), Row<tPARM_STRING>("text", "5", "text"),
      Row<tPARM_STRING, const char *>(nullptr, "", "(null)"),  // absent and empty texts differ
      {std::make_shared<tPARM_MSG>(inner), std::make_shared<tPARM_MSG>(twin), std::make_shared<tPARM_MSG>(stop), "inner 7"}};
  ASSERT_EQ(msg.NumParms(), sizeof rows / sizeof rows[0]);
  for (const tROW &r : rows) {
    const tPARAMETER &a = *r.a, &other = *r.other, &streamed = msg[static_cast<unsigned>(&r - rows)];
    EXPECT_TRUE(Text(a, nullptr) == r.text && Text(a, "") == r.text && a == *r.same && !(a == other) && !(other == a)) << r.text;
    EXPECT_TRUE(SameClass(streamed, a) && streamed == a) << r.text;
    for (const tROW &s : rows)  // other classes are never equal, whatever the value
      EXPECT_TRUE(SameClass(a, *s.a) || !(a == *s.a || other == *s.other)) << r.text << " / " << s.text;
  }
  // Characters of either signedness are characters; a message is adopted through a pointer, borrowed through a reference.
  tMSGSTR *adopted = new tMSGSTR("adopted", kId, tMSG::eERROR);
  msg << static_cast<signed char>(-2) << static_cast<unsigned char>(0xE9) << static_cast<tMSG *>(adopted);
  EXPECT_TRUE(SameClass(msg[13], msg[0]) && Text(msg[13], nullptr) == "\xFE") << "signed char";
  EXPECT_TRUE(SameClass(msg[14], msg[0]) && Text(msg[14], nullptr) == "\xE9") << "unsigned char";
  EXPECT_TRUE(SameClass(msg[15], msg[12]) && static_cast<const tPARM_MSG &>(msg[15]).Message() == adopted &&
              static_cast<const tPARM_MSG &>(msg[12]).Message() == &inner);
  // Every trace message shares one id object.
  EXPECT_TRUE(std::strcmp(msg.Format(), "Enter:A:-32768") == 0 && msg.GetSeverity() == tMSG::eINFORMATION &&
              std::strcmp(msg.GetIdString(), "Block trace log message") == 0 && msg.GetIdString() == tTRACEMSG("").GetIdString());
}

// Specs come from message texts, which may come from files: one that suits
// the class is used; one that does not, or could do harm, is ignored for the
// default conversion (a null expect below).
TEST(Parameter, SpecsAreUsedOnlyWhereTheySuitTheClass) {
  const std::shared_ptr<tPARAMETER> p[] = {
      Make<tPARM_INT>(42), Make<tPARM_STRING>("str"), Make<tPARM_DOUBLE>(1.5), Make<tPARM_UINT>(7u),  // 0 to 3
      Make<tPARM_LONG>(-9L), Make<tPARM_LDOUBLE>(2.25L), Make<tPARM_CHAR>('\xE9'), Make<tPARM_SHORT, short>(-1),
      Make<tPARM_USHORT, unsigned short>(65535), Make<tPARM_UINT>(0u), Make<tPARM_INT>(-1), Make<tPARM_FLOAT>(1.5f),
      Make<tPARM_ULONG>(196ul), Make<tPARM_MSG>(new tMSGSTR("inner", kId, tMSG::eERROR))};  // 12, 13
  const std::string wide = std::string(1021, ' ') + "42", pad(2000, 'L');
  const struct { int i; const char *spec, *expect = nullptr; } cases[] = {
      {6, "%d", "-23"}, {6, "%x", "ffffffe9"}, {6, "%hhx", "e9"}, {6, "%2c|", " \xE9|"},  // sign-extended everywhere
      {7, "%hx", "ffff"}, {8, "%hd", "-1"}, {8, "%d", "65535"}, {0, "%+05d", "+0042"}, {0, "%c", "*"},
      {0, "<%d>", "<42>"}, {0, "%d%%", "42%"}, {0, "%-5x|", "2a   |"}, {10, "%X", "FFFFFFFF"}, {3, "%#o", "07"},
      {3, "%08X", "00000007"}, {4, "%lx", kLong32 ? "fffffff7" : "fffffffffffffff7"}, {12, "%08lX", "000000C4"},
      {11, "%.2f", "1.50"}, {2, "%5.2f", " 1.50"}, {2, "%lf", "1.500000"}, {2, "%e", "1.500000e+00"},
      {5, "%.2Lf", "2.25"}, {1, "%5s", "  str"}, {1, "%-4.1s|", "s   |"}, {0, "%1023d", wide.c_str()},
      {13, "%08X", "inner"},  // a message ignores the conversion spec
      // Texts written where int and long are one size: the length modifier becomes the value's own,
      // and the value prints whole with its flags, width, precision and literal text.
      {12, "%08X", "000000C4"}, {4, "%x", kLong32 ? "fffffff7" : "fffffffffffffff7"}, {4, "[%d]", "[-9]"},
      {0, "%08lx", "0000002a"}, {0, "[%ld]", "[42]"}, {0, "%lld", "42"}, {0, "%jd", "42"}, {0, "%zd", "42"},
      {0, "%I64d", "42"}, {0, "%lc", "*"}, {6, "%ld", "-23"}, {12, "%u", "196"}, {4, "%hhd", "-9"},
      {2, "%.2Lf", "1.50"}, {2, "%hf", "1.500000"}, {5, "%f", "2.250000"}, {11, "<%Lf>", "<1.500000>"},
      {1, "%ls", "str"}, {1, "%-4hs|", "str |"},
      // C's rules where a C runtime departs from them: '+' and ' ' do nothing
      // for unsigned conversions, and "%#.o" shows a zero as 0.
      {9, "<% u>", "<0>"}, {9, "<%+5x>", "<    0>"}, {10, "<% u>", "<4294967295>"}, {10, "<% d>", "<-1>"},
      {9, "<%#.o>", "<0>"}, {9, "<%#.0o>", "<0>"}, {9, "<%.0o>", "<>"}, {9, "<%#.0x>", "<>"},
      {0, "%s"}, {0, "%n"}, {0, "%hhn"}, {0, "%99999d"}, {0, "%.99999d"}, {0, "%1024d"}, {0, "%*d"}, {0, "%.*d"},
      {0, "%1$d"}, {0, "%d%d"}, {0, "%d%s"}, {0, "%f"}, {0, "%p"}, {0, "%qd"}, {0, "%lq"}, {0, "[%ld%ld]"},
      {0, "%"}, {0, "%-"}, {0, "%l"}, {0, "abc"}, {0, "%#d"}, {0, "%.3c"}, {1, "%d"}, {1, "%n"}, {1, "%ln"},
      {1, "%05s"}, {1, "%+s"}, {1, "%c"}, {2, "%d"}, {2, "%s"}, {2, "%ld"}, {2, "%.5000f"}, {3, "%s"},
      {4, "%s"}, {4, "%f"}, {4, "%Lf"}, {5, "%s"}, {5, "%d"}, {6, "%s"}, {12, "%lu%n"}};
  for (const auto &c : cases)
    EXPECT_EQ(Text(*p[c.i], c.spec), c.expect ? c.expect : Text(*p[c.i], nullptr)) << c.i << ' ' << c.spec;
  // Specs handed to Format directly have no 15-character limit; the text stays bounded all the same.
  EXPECT_EQ(Text(*p[0], (pad + "%d" + pad).c_str()), std::string(1023, 'L'));
  EXPECT_EQ(Text(*p[1], ("%s" + pad).c_str()), "str" + std::string(1020, 'L'));
  EXPECT_EQ(Text(tPARM_DOUBLE(1e300), ("%.1023f" + pad).c_str()).size(), 1023u);
  // The same check, and a bounded printf, for parameter classes outside the library.
  struct tPROBE : tPARAMETER {
    static const char *Valid(const char *spec, const char *def) { return ValidSpec(spec, def); }
    static std::string Print() { std::string buf(1200, '#'); PrintfFormat(&buf[0], "%2000d", 1); return buf; }
  };
  const struct { const char *spec, *def; int kept; } derived[] = {
      {"%08X", "%u", 1}, {"%d", "%u", 1}, {"%c", "%d", 1}, {"%ld", "%lu", 1}, {"%d", "%lu", 0}, {"%s", "%d", 0}, {"%n", "%d", 0},
      {"%lg", "%g", 1}, {"%Lg", "%g", 0}, {"%.3Lf", "%Lg", 1}, {"%g", "%Lg", 0}, {"%-8s", "%s", 1}, {"%d", "%s", 0},
      {"%d %d", "%d", 0}, {"text", "%d", 0}, {"", "%d", 0}, {"%*d", "%d", 0}, {"%1$d", "%d", 0}, {"%lld", "%ld", 0},
      {nullptr, "%d", 0}};
  for (const auto &c : derived) EXPECT_EQ(tPROBE::Valid(c.spec, c.def), c.kept ? c.spec : c.def) << (c.spec ? c.spec : "(null)");
  const std::string buf = tPROBE::Print();
  EXPECT_TRUE(std::strlen(buf.c_str()) == 1023 && buf[1024] == '#') << "nothing past 1024 bytes";
}

// The library renders integer and text conversions itself: byte for byte
// what the C library's printf gives, in C's terms, for the conversion with
// the length modifier of each class's own type (h and hh keep narrowing).
TEST(Parameter, RenderingMatchesPrintf) {
  const int ints[] = {0, 1, -1, 8, 42, -42, 255, 256, -129, 32767, -32768, 65535, 65536, INT_MAX, INT_MIN, -987654321};
  const long longs[] = {0L, 1L, -1L, 42L, LONG_MAX, LONG_MIN, LONG_MAX / 2 + 1, -4096L};  // past 32 bits where long is wider
  const char chars[] = {'A', '\xE9', '\0'};
  const short shorts[] = {-1, SHRT_MIN, 300};
  const unsigned short ushorts[] = {65535, 7};
  const unsigned uints[] = {0u, UINT_MAX, 196u};
  const auto check = [](const std::string &spec, const std::string &ref, const tPARAMETER &parm, auto value) {
    char want[1024];
    std::snprintf(want, sizeof want, ref.c_str(), value);
    ASSERT_EQ(Text(parm, spec.c_str()), want) << spec << " with " << value;
  };
  for (const char *f : {"", "-", "+", " ", "0", "#", "-0", "+0", " 0", "#0", "-#", "+ ", "-+0#"})
    for (const char *w : {"", "1", "5", "12", "25"}) for (const char *p : {"", ".", ".0", ".1", ".3", ".12"})
      for (const char *l : {"", "h", "hh", "l", "ll", "j", "z", "t", "L", "I64"}) for (const char *t = "diouxX"; *t != 0; ++t) {
        const bool is_signed = *t == 'd' || *t == 'i', alternate = std::strchr(f, '#') != nullptr;
        if (alternate && (is_signed || *t == 'u')) continue;  // undefined in C
        // The lengths that every class replaces by its own: the common flags and fields suffice.
        if (l[0] != 0 && l[0] != 'h' && std::strcmp(l, "l") != 0 && (std::strlen(f) > 1 || *w == '1' || p[0] == '.')) continue;
#if defined(_WIN32)
        // mingw-w64's printf shows nothing for "%#.o" of zero, where C asks for a 0 (checked above).
        if (alternate && *t == 'o' && p[0] == '.' && (p[1] == 0 || p[1] == '0')) continue;
#endif
        std::string ref_flags;  // without '+' and ' ' where C gives them no effect but a C runtime may
        for (const char *c = f; *c != 0; ++c) if (is_signed || (*c != '+' && *c != ' ')) ref_flags += *c;
        const bool narrows = l[0] == 'h';
        const std::string spec = std::string("<%") + f + w + p + l + *t + ">", head = "<%" + ref_flags + w + p;
        const std::string as_int = head + (narrows ? l : "") + *t + ">", as_long = head + (narrows ? l : "l") + *t + ">";
        for (int v : ints) check(spec, as_int, tPARM_INT(v), v);
        for (char v : chars) check(spec, as_int, tPARM_CHAR(v), static_cast<int>(static_cast<signed char>(v)));
        for (short v : shorts) check(spec, as_int, tPARM_SHORT(v), static_cast<int>(v));
        for (unsigned short v : ushorts) check(spec, as_int, tPARM_USHORT(v), static_cast<int>(v));
        for (unsigned v : uints) check(spec, as_int, tPARM_UINT(v), v);
        for (long v : longs)  // an int to h and hh, which read one
          narrows ? (check(spec, as_int, tPARM_LONG(v), static_cast<int>(v)), check(spec, as_int, tPARM_ULONG(v), static_cast<int>(v)))
                  : (check(spec, as_long, tPARM_LONG(v), v), check(spec, as_long, tPARM_ULONG(v), 0ul + v));
      }
  for (const char *f : {"", "-", "+", " ", "0", "#", "+0#"}) for (const char *w : {"", "12"})
    for (const char *p : {"", ".0", ".3"}) for (const char *l : {"", "l", "L", "h", "ll"}) for (const char *t = "fFeEgGaA"; *t != 0; ++t) {
      const std::string spec = std::string("[%") + f + w + p + l + *t + "]", head = std::string("[%") + f + w + p;
      for (float v : {1.5f, -0.1f}) check(spec, head + *t + "]", tPARM_FLOAT(v), static_cast<double>(v));
      for (double v : {0.1, -1e300, 1e-5, 0.0}) check(spec, head + *t + "]", tPARM_DOUBLE(v), v);
      for (long double v : {2.5L, -1e-300L}) check(spec, head + "L" + *t + "]", tPARM_LDOUBLE(v), v);
    }
  const struct { const char *spec, *ref; } texts[] = {
      {"%s", "%s"}, {"%8s", "%8s"}, {"%-8s|", "%-8s|"}, {"%.0s", "%.0s"}, {"%.2s", "%.2s"}, {"%8.2s", "%8.2s"},
      {"%-8.2s|", "%-8.2s|"}, {"%.10s", "%.10s"}, {"%1s", "%1s"}, {"a%%%sb", "a%%%sb"}, {"<%ls>", "<%s>"}, {"%-6hs|", "%-6s|"}};
  for (const auto &c : texts)
    for (const char *text : {"", "x", "hello", "a longer text than eight"}) check(c.spec, c.ref, tPARM_STRING(text), text);
  for (const char *spec : {"%c", "%5c", "%-5c|", "[%c]", "%%%c%%", "%lc", "%hhc"}) {
    std::string plain = spec;
    plain.erase(std::remove(plain.begin(), plain.end(), 'l'), plain.end());
    plain.erase(std::remove(plain.begin(), plain.end(), 'h'), plain.end());
    check(spec, plain, tPARM_CHAR('q'), 'q'), check(spec, plain, tPARM_INT('q'), 'q'), check(spec, plain, tPARM_LONG('q'), 'q');
  }
}

TEST(Message, PlaceholderSyntax) {
  const std::string x1020(1020, 'x'), y1023(1023, 'y'), b1023(1023, 'b');
  const struct { std::string format; std::vector<tPARAMETER *> parms; std::string expect; } cases[] = {
      {"%0%1", {S("Hello "), S("world")}, "Hello world"}, {"%1 before %0", {S("A"), S("B")}, "B before A"},
      {"Logging level: 0x%0'%08X'", {new tPARM_UINT(196)}, "Logging level: 0x000000C4"}, {"%0-%0", {I(3), I(4)}, "3-3"},
      {"%2", {S("a"), S("b")}, "NULL"}, {"[%0]", {nullptr}, "[NULL]"}, {"%0 and %9", {}, "NULL and NULL"}, {"100%%", {}, "100%"},
      {"a%b", {}, "ab"}, {"abc%", {}, "abc"}, {"%", {}, ""}, {"x%'y", {}, "x'y"}, {"'%0%'", {S("q")}, "'q'"},
      {"a%0'", {I(7)}, "a7"}, {"%0''!", {I(255)}, "255!"}, {"%10", {S("a"), S("b")}, "b0"}, {"%0'[%d]'", {I(5)}, "[5]"},
      {"%0'%5d", {I(7)}, "    7"}, {"%0'%.3f'", {new tPARM_DOUBLE(2)}, "2.000"},
      // A spec keeps its first 15 characters.
      {"%0'%08X-abcdefghijklmnop'!", {I(255)}, "000000FF-abcdefghij!"}, {"<%0'%d_____________tail'>", {I(1)}, "<1_____________>"},
      {"Message set %1not found (%0, msg:%2)", {S("cat"), S("X ")}, "Message set X not found (cat, msg:NULL)"},
      // Texts are cut at 1023 characters, wherever the cut falls.
      {std::string(1500, 'z'), {}, std::string(1023, 'z')}, {x1020 + "%0", {S("abcdef")}, x1020 + "abc"},
      {y1023 + "%%%0", {S("a")}, y1023}, {"%0" + std::string(1030, 'w'), {S("ab")}, "ab" + std::string(1021, 'w')},
      {"%0%1", {S(b1023), S(b1023)}, b1023}};
  for (const auto &c : cases) {
    tPARMLIST list;
    for (tPARAMETER *p : c.parms) list.Add(p);
    EXPECT_EQ(Taken(tMSG::Format(c.format.c_str(), list)), c.expect) << c.format.substr(0, 40);
  }
  EXPECT_EQ(Taken(tMSG::Format(nullptr, tPARMLIST())), "");
  EXPECT_EQ(Taken(tMSG::Format("a%0b%%", 0)), "aNULLb%");
  // The variadic form adopts its parameters in order and destroys them.
  EXPECT_TRUE(Taken(tMSG::Format("%1/%0/%2", 3, S("a"), tCOUNTED::New(), I(9))) == "counted/a/9" && g_live == 0);
}

// Format keeps its first result, but not "Out of memory"; static messages keep theirs, and the out-of-memory
// message formats without allocating, from any thread, whatever is streamed into it.
TEST(Message, FormatResultsAndStaticMessages) {
  tMSGSTR msg("%0:%1", kId, tMSG::eERROR);
  msg << "x" << 5;
  Starved(1, [&] { EXPECT_STREQ(msg.Format(), "Out of memory"); }, true);
  const char *first = msg.Format();
  msg << 6;  // after formatting: not shown
  EXPECT_TRUE(std::strcmp(first, "x:5") == 0 && msg.Format() == first && msg.NumParms() == 3);
  // A static message with placeholders formats once and keeps its text.
  struct tSTATIC : tMSGSTR { tSTATIC() : tMSGSTR("100%% sure", "probe", eERROR, 1) {} } probe;
  const char *text = probe.Format();
  tMSG::Dispose(&probe);
  EXPECT_TRUE(probe.Format() == text && std::strcmp(text, "100% sure") == 0);
  tMSGSTR &oom = tERRMSG::OutOfMemory;
  EXPECT_TRUE(oom.IsStatic() && oom.GetSeverity() == tMSG::eERROR && std::strcmp(oom.GetIdString(), "Out of memory object") == 0);
  EXPECT_TRUE(oom.GetText() == tERRMSG::OutOfMemoryStr && std::strcmp(tERRMSG::OutOfMemoryStr, "Out of memory") == 0);
  oom << tCOUNTED::New() << 5 << "text";
  tMSG::Dispose(&oom), tMSG::Dispose(nullptr);
  EXPECT_TRUE(g_live == 0 && oom.NumParms() == 0) << "streaming into it destroys the parameter";
  std::vector<std::future<const char *>> got(8);
  for (auto &f : got) f = std::async(std::launch::async, [&] { for (int k = 1; k < 200; ++k) oom.Format(); return oom.Format(); });
  for (auto &f : got) EXPECT_STREQ(f.get(), "Out of memory");
  alignas(tMSGSTR) unsigned char storage[sizeof(tMSGSTR)];  // placement new works too
  tMSGSTR *placed = new (storage) tMSGSTR("p %0", kId, tMSG::eERROR);
  EXPECT_STREQ((*placed << 1).Format(), "p 1");
  placed->~tMSGSTR();
  kelcore_test::ScopedAllocFailure fail(1, true);
  EXPECT_TRUE(oom.Format() == tERRMSG::OutOfMemoryStr && !fail.Triggered()) << "its own text, with no allocation";
}

// Lists, messages and message parameters own what they adopt (the sanitizer
// build finds leaks and double deletes), borrow what they borrow and leave
// the static message alone; a parameter or node that cannot be allocated
// leaves a "NULL", and an adopted message that cannot be kept is disposed of.
TEST(Message, OwnershipAndSingleAllocationFailures) {
  {
    tPARMLIST list;
    tMSGSTR msg("%0 %1", kId, tMSG::eERROR), borrowed("borrowed", kId, tMSG::eERROR);
    EXPECT_TRUE(list.Add(new tCOUNTED) == 0 && list.Add(nullptr) == 1 && list.Get(1) == nullptr && list.Get(2) == nullptr);
    tPARM_MSG adopt(new tCOUNTED_MSG("adopted")), borrow(borrowed), oom(&tERRMSG::OutOfMemory), none(static_cast<tMSG *>(nullptr));
    msg << tCOUNTED::New() << new tCOUNTED_MSG("streamed");
    EXPECT_TRUE(g_live == 4 && std::strcmp(msg.Format(), "counted streamed") == 0);
    EXPECT_TRUE(Text(none, nullptr) == "NULL" && !(none == adopt) && !(adopt == none) && Text(borrow, "%d") == "borrowed");
    tPARM_INT *kept = new tPARM_INT(1);
    Starved(1, [&] { EXPECT_EQ(list.Add(kept), 0xFFFFFFFFu); });  // the list's node: the parameter stays with the caller
    EXPECT_TRUE(list.Add(kept) == 2 && list.GetItemsInContainer() == 3);
  }
  std::ostringstream os;  // the pointer form writes, then destroys; a null pointer writes nothing
  os << tPARM_UINT(255u) << "|" << tCOUNTED::New() << static_cast<tPARAMETER *>(nullptr);
  EXPECT_TRUE(os.str() == "255|counted" && g_live == 0 && std::strcmp(tERRMSG::OutOfMemory.Format(), "Out of memory") == 0);
  tMSGSTR msg("%0,%1,%2,%3", kId, tMSG::eERROR);
  // The tPARM_INT, the copy of the text, the tPARM_MSG.
  Starved(1, [&] { msg << 1; }), Starved(2, [&] { msg << "text"; }), Starved(2, [&] { msg << new tCOUNTED_MSG("inner"); });
  msg << 3;
  EXPECT_TRUE(g_live == 0 && msg.NumParms() == 4 && std::strcmp(msg.Format(), "NULL,NULL,NULL,3") == 0) << msg.Format();
  kelcore_test::ScopedAllocFailure fail(1);
  EXPECT_TRUE(new tMSGSTR("x", kId, tMSG::eERROR) == nullptr && fail.Triggered()) << "messages come from nothrow new";
}

TEST(Message, NullObjectsAnswerWithNeutralValues) {
#if defined(KELCORE_TEST_UBSAN)
  GTEST_SKIP() << "calls members through null pointers and binds null references by design";
#else
  tMSG *none = Opaque<tMSG>(nullptr);
  EXPECT_TRUE(none->NumParms() == 0 && none->GetSeverity() == tMSG::eINFORMATION && none->GetIdString() == nullptr);
  EXPECT_TRUE(std::strcmp(none->GetText(), "<NULL> message") == 0 && std::strcmp(none->Format(), "<NULL> message") == 0);
  tMSGSTR real("x", kId, tMSG::eERROR);
  real << 1;
  // operator== is virtual: a null object reaches it through a qualified call, as a derived class's makes.
  EXPECT_TRUE(none->tMSG::operator==(real) == 0 && real.operator==(*none) == 0);
  *none << tCOUNTED::New();
  EXPECT_EQ(g_live, 0) << "streaming into nothing destroys the parameter";
  tPARMLIST list, *no_list = Opaque<tPARMLIST>(nullptr);
  list.Add(new tPARM_INT(1));
  EXPECT_TRUE(Opaque(&real[0]) != nullptr && Opaque(&real[1]) == nullptr && Opaque(&(*none)[0]) == nullptr);
  EXPECT_TRUE(Opaque(&list[1]) == nullptr && Opaque(&list[0xFFFFFFFFu]) == nullptr);
  EXPECT_TRUE(no_list->Add(nullptr) == 0xFFFFFFFFu && no_list->GetItemsInContainer() == 0 && no_list->Get(0) == nullptr);
#endif
}

TEST(Message, EqualityIsIdObjectSeverityAndParameters) {
  static const char kOtherId[] = "TEST id";  // the same text in another object
  tMSGSTR left("a %0", kId, tMSG::eERROR);
  left << 1;
  const struct { const char *text, *id; tMSG::eSEVERITY severity; std::vector<tPARAMETER *> parms; } others[] = {
      {"b %0", kId, tMSG::eERROR, {I(1)}}, {"a", kId, tMSG::eSTOP, {I(1)}}, {"a", kOtherId, tMSG::eERROR, {I(1)}},
      {"a", kId, tMSG::eERROR, {I(2)}}, {"a", kId, tMSG::eERROR, {}}, {"a", kId, tMSG::eERROR, {nullptr}},
      {"a", kId, tMSG::eERROR, {new tPARM_UINT(1u)}}};
  for (const auto &o : others) {
    tMSGSTR right(o.text, o.id, o.severity);
    for (tPARAMETER *p : o.parms) right << p;
    EXPECT_EQ((left == right) + (right == left), &o == others ? 2 : 0) << &o - others;  // only the text may differ
  }
  tTRACEMSG t("x");
  tMSGSTR s("x", t.GetIdString(), tMSG::eINFORMATION);
  EXPECT_TRUE((s == t) == 1 && (t == s) == 1) << "across message classes";
}

// Every allocation of building and formatting a message fails in turn, alone
// or with all after it: nothing crashes or leaks, and no failure is silent.
void BuildAndFormat(const tPARMLIST &list, std::vector<std::string> *seen) {
  tMSG *borrowed = new tMSGSTR("kept", kId, tMSG::eERROR);
  tMSG *msg = new tMSGSTR("%0: %1 (%2'%08X') in [%3|%4]", kId, tMSG::eERROR);
  if (msg == nullptr) msg = &tERRMSG::OutOfMemory;  // as the library does
  tMSG *inner = new tMSGSTR("inner %0", kId, tMSG::eERROR);
  if (inner != nullptr) *inner << 1;
  *msg << "name" << 42 << 255u << inner;
  borrowed != nullptr ? *msg << *borrowed : *msg << "kept";
  seen->push_back(msg->Format());
  tMSG::Dispose(msg), tMSG::Dispose(borrowed);
  seen->push_back(Taken(tMSG::Format("%0-%1", list)));
  seen->push_back(Taken(tMSG::Format("%0+%1", 2, static_cast<tPARAMETER *>(new (std::nothrow) tPARM_STRING("x")),
                                     static_cast<tPARAMETER *>(new (std::nothrow) tPARM_UINT(3u)))));
}

TEST(Message, AllocationFailureSweeps) {
  tPARMLIST list;
  list.Add(new tPARM_STRING("a"));
  for (bool and_after : {false, true}) {
    // A text whose copy failed shows "(null)"; a parameter the list could not take leaves a "NULL" in its place.
    const std::string variadic = and_after ? "|<null>|x+3|" : "|<null>|x+3|x+NULL|NULL+3|(null)+3|";
    std::vector<std::string> seen;
    const std::size_t count = kelcore_test::SweepAllocFailures([&] { BuildAndFormat(list, &seen); }, and_after);
    ASSERT_TRUE(count > 10 && seen.size() == 3 * (count + 1));
    EXPECT_TRUE(seen[0] == "name: 42 (000000FF) in [inner 1|kept]" && seen[1] == "a-NULL" && seen[2] == "x+3");
    EXPECT_TRUE(!and_after || seen[3] == "Out of memory") << "no message could be allocated: " << seen[3];
    for (std::size_t i = 3; i < seen.size(); i += 3) {
      // A dropped parameter shifts the later ones: the last placeholder shows "NULL".
      EXPECT_TRUE(seen[i] == seen[0] || seen[i].find("NULL") != std::string::npos ||
                  seen[i].find("Out of memory") != std::string::npos) << seen[i];
      EXPECT_TRUE(seen[i + 1] == seen[1] || seen[i + 1] == "<null>") << seen[i + 1];  // complete or nothing
      EXPECT_NE(variadic.find("|" + seen[i + 2] + "|"), std::string::npos) << seen[i + 2];
    }
  }
  EXPECT_EQ(tERRMSG::OutOfMemory.NumParms(), 0u);
}

// Each thread keeps freed blocks for its messages and parameters. Blocks go
// back to whichever thread frees them, threads end holding blocks (the
// sanitizer builds find leaks and misuse), and a thread with its pool off
// reaches operator new for every one of them.
TEST(Message, ThreadPoolsOutliveNoThreadAndLeakNothing) {
  const auto build = [](int i) {
    tMSG *msg = new tMSGSTR("%0: %1 (%2'%08X') %3", kId, tMSG::eERROR);
    *msg << "file.dat" << i << 196u << new tMSGSTR("inner", kId, tMSG::eERROR);
    return msg;
  };
  const auto expected = [](int i) { return "file.dat: " + std::to_string(i) + " (000000C4) inner"; };
  std::vector<tMSG *> handed(400);
  std::thread maker([&] { for (std::size_t i = 0; i < handed.size(); ++i) handed[i] = build(static_cast<int>(i)); });
  maker.join();  // ends with a warm pool; its messages live on
  std::vector<std::thread> takers;
  for (int t = 0; t < 4; ++t)
    takers.emplace_back([&, t] {
      for (std::size_t i = t; i < handed.size(); i += 4) {
        EXPECT_EQ(expected(static_cast<int>(i)), handed[i]->Format());
        tMSG::Dispose(handed[i]);  // into this thread's pool, made by another
        tMSG::Dispose(build(static_cast<int>(i)));
      }
      if (t == 0) tMSG::Dispose(build(-1));  // and one more kept after the end
    });
  for (auto &t : takers) t.join();
  // Warm, the pool serves every block of a message; off, each of the 13 reaches operator new.
  tMSG *warm = build(0);
  warm->Format();
  tMSG::Dispose(warm);
  for (int on : {1, 0}) {
    EXPECT_EQ(1, tMSG::UseThreadPool(on));
    const std::size_t before = kelcore_test::NothrowAllocationCount();
    tMSG *msg = build(7);
    EXPECT_EQ(expected(7), msg->Format());
    tMSG::Dispose(msg);
    EXPECT_EQ(on ? 0u : 13u, kelcore_test::NothrowAllocationCount() - before) << on;
    EXPECT_EQ(on, tMSG::UseThreadPool(1));
  }
}

TEST(Message, ClientCompileCheckHoldsInThisLanguageMode) { EXPECT_EQ(KelcoreClientCompileCheck(), 0); }

}  // namespace
