// Parameter classes: default conversions, specs, equality, the owning list
// and the stream operators.
#include "kelcore/msg/parameter.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "kelcore/msg/message.h"
#include "tests/msg/msg_test_util.h"

namespace {

using kelcore_test::CountingParm;
using kelcore_test::Text;

struct FormatCase {
  const char *name;
  std::shared_ptr<tPARAMETER> parm;
  const char *spec;  // null: default conversion
  const char *expect;
};

template <class P, class V> std::shared_ptr<tPARAMETER> Make(V v) {
  return std::make_shared<P>(v);
}

TEST(ParmFormat, DefaultConversionsAndSpecsOfEveryClass) {
  const FormatCase cases[] = {
      {"char default", Make<tPARM_CHAR>('A'), nullptr, "A"},
      {"char %d", Make<tPARM_CHAR>('A'), "%d", "65"},
      {"char E9 %d", Make<tPARM_CHAR>(static_cast<char>(0xE9)), "%d", "-23"},
      {"char E9 %x", Make<tPARM_CHAR>(static_cast<char>(0xE9)), "%x", "ffffffe9"},
      {"char E9 %hhx", Make<tPARM_CHAR>(static_cast<char>(0xE9)), "%hhx", "e9"},
      {"char %-3c|", Make<tPARM_CHAR>('x'), "%-3c|", "x  |"},
      {"char %3c", Make<tPARM_CHAR>('x'), "%3c", "  x"},
      {"short -1", Make<tPARM_SHORT>(static_cast<short>(-1)), nullptr, "-1"},
      {"short %hx", Make<tPARM_SHORT>(static_cast<short>(-1)), "%hx", "ffff"},
      {"short min", Make<tPARM_SHORT>(static_cast<short>(SHRT_MIN)), "", "-32768"},
      {"ushort max", Make<tPARM_USHORT>(static_cast<unsigned short>(65535)), nullptr, "65535"},
      {"ushort %d", Make<tPARM_USHORT>(static_cast<unsigned short>(65535)), "%d", "65535"},
      {"ushort %hd", Make<tPARM_USHORT>(static_cast<unsigned short>(65535)), "%hd", "-1"},
      {"int", Make<tPARM_INT>(-42), nullptr, "-42"},
      {"int min", Make<tPARM_INT>(INT_MIN), nullptr, "-2147483648"},
      {"int %+05d", Make<tPARM_INT>(42), "%+05d", "+0042"},
      {"int %X", Make<tPARM_INT>(-1), "%X", "FFFFFFFF"},
      {"int literal", Make<tPARM_INT>(7), "<%d>", "<7>"},
      {"int %%", Make<tPARM_INT>(50), "%d%%", "50%"},
      {"uint 255 %08X", Make<tPARM_UINT>(255u), "%08X", "000000FF"},
      {"uint 255 empty", Make<tPARM_UINT>(255u), "", "255"},
      {"uint max", Make<tPARM_UINT>(UINT_MAX), nullptr, "4294967295"},
      {"uint %d", Make<tPARM_UINT>(UINT_MAX), "%d", "-1"},
      {"uint %#o", Make<tPARM_UINT>(8u), "%#o", "010"},
      {"uint %#x", Make<tPARM_UINT>(255u), "%#x", "0xff"},
      {"long min", Make<tPARM_LONG>(LONG_MIN), nullptr, LONG_MAX == 2147483647L ? "-2147483648" : "-9223372036854775808"},
      {"long %lx", Make<tPARM_LONG>(-1L), "%lx", LONG_MAX == 2147483647L ? "ffffffff" : "ffffffffffffffff"},
      {"ulong max", Make<tPARM_ULONG>(ULONG_MAX), nullptr, LONG_MAX == 2147483647L ? "4294967295" : "18446744073709551615"},
      {"ulong %08lX", Make<tPARM_ULONG>(196ul), "%08lX", "000000C4"},
      {"float 1.5", Make<tPARM_FLOAT>(1.5f), nullptr, "1.5"},
      {"float %.2f", Make<tPARM_FLOAT>(1.5f), "%.2f", "1.50"},
      {"double 0.1", Make<tPARM_DOUBLE>(0.1), nullptr, "0.1"},
      {"double %e", Make<tPARM_DOUBLE>(1234.5), "%e", "1.234500e+03"},
      {"double %lf", Make<tPARM_DOUBLE>(2.0), "%lf", "2.000000"},
      {"double %8.3f", Make<tPARM_DOUBLE>(3.14159), "%8.3f", "   3.142"},
      {"ldouble", Make<tPARM_LDOUBLE>(2.5L), nullptr, "2.5"},
      {"ldouble %.3Lf", Make<tPARM_LDOUBLE>(2.5L), "%.3Lf", "2.500"},
      {"string", Make<tPARM_STRING>("text"), nullptr, "text"},
      {"string %-6s|", Make<tPARM_STRING>("ab"), "%-6s|", "ab    |"},
      {"string %6s", Make<tPARM_STRING>("ab"), "%6s", "    ab"},
      {"string %.2s", Make<tPARM_STRING>("abcdef"), "%.2s", "ab"},
      {"string quoted", Make<tPARM_STRING>("x"), "[%s]", "[x]"},
      {"string null", Make<tPARM_STRING>(static_cast<const char *>(nullptr)), nullptr, "(null)"},
      {"string empty", Make<tPARM_STRING>(""), nullptr, ""},
  };
  for (const FormatCase &c : cases) {
    EXPECT_EQ(Text(*c.parm, c.spec), c.expect) << c.name;
  }
}

struct EqualCase {
  const char *name;
  std::shared_ptr<tPARAMETER> a;
  std::shared_ptr<tPARAMETER> b;
  bool equal;
};

TEST(ParmEquality, SameClassAndValueOnly) {
  const EqualCase cases[] = {
      {"int 5 int 5", Make<tPARM_INT>(5), Make<tPARM_INT>(5), true},
      {"int 5 int 6", Make<tPARM_INT>(5), Make<tPARM_INT>(6), false},
      {"int 5 uint 5", Make<tPARM_INT>(5), Make<tPARM_UINT>(5u), false},
      {"uint 5 int 5", Make<tPARM_UINT>(5u), Make<tPARM_INT>(5), false},
      {"long 5 int 5", Make<tPARM_LONG>(5L), Make<tPARM_INT>(5), false},
      {"char", Make<tPARM_CHAR>('a'), Make<tPARM_CHAR>('a'), true},
      {"char differs", Make<tPARM_CHAR>('a'), Make<tPARM_CHAR>('b'), false},
      {"short", Make<tPARM_SHORT>(static_cast<short>(-3)), Make<tPARM_SHORT>(static_cast<short>(-3)), true},
      {"ushort/short", Make<tPARM_USHORT>(static_cast<unsigned short>(3)), Make<tPARM_SHORT>(static_cast<short>(3)), false},
      {"ulong", Make<tPARM_ULONG>(ULONG_MAX), Make<tPARM_ULONG>(ULONG_MAX), true},
      {"long full width", Make<tPARM_LONG>(LONG_MAX), Make<tPARM_LONG>(static_cast<long>(LONG_MAX - 1)), false},
      {"float", Make<tPARM_FLOAT>(1.5f), Make<tPARM_FLOAT>(1.5f), true},
      {"float/double", Make<tPARM_FLOAT>(1.5f), Make<tPARM_DOUBLE>(1.5), false},
      {"double -0 +0", Make<tPARM_DOUBLE>(-0.0), Make<tPARM_DOUBLE>(0.0), true},
      {"ldouble", Make<tPARM_LDOUBLE>(1.25L), Make<tPARM_LDOUBLE>(1.25L), true},
      {"string", Make<tPARM_STRING>("abc"), Make<tPARM_STRING>("abc"), true},
      {"string differs", Make<tPARM_STRING>("abc"), Make<tPARM_STRING>("abd"), false},
      {"string null null", Make<tPARM_STRING>(static_cast<const char *>(nullptr)),
       Make<tPARM_STRING>(static_cast<const char *>(nullptr)), true},
      {"string null empty", Make<tPARM_STRING>(static_cast<const char *>(nullptr)), Make<tPARM_STRING>(""), false},
      {"string empty null", Make<tPARM_STRING>(""), Make<tPARM_STRING>(static_cast<const char *>(nullptr)), false},
      {"string/int", Make<tPARM_STRING>("5"), Make<tPARM_INT>(5), false},
  };
  for (const EqualCase &c : cases) {
    EXPECT_EQ(*c.a == *c.b, c.equal ? 1 : 0) << c.name;
  }
}

TEST(ParmEquality, MessageParametersCompareTheirMessages) {
  static const char kId[] = "test id";
  tMSGSTR a("one %0", kId, tMSG::eERROR), b("two %0", kId, tMSG::eERROR);
  tMSGSTR c("one", kId, tMSG::eSTOP);
  a << 1;
  b << 1;
  tPARM_MSG pa(a), pb(b), pc(c);
  EXPECT_EQ(pa == pb, 1) << "same id, severity and parameters";
  EXPECT_EQ(pa == pc, 0);
  tPARM_MSG null_msg(static_cast<tMSG *>(nullptr));
  EXPECT_EQ(null_msg == pa, 0);
  EXPECT_EQ(pa == null_msg, 0);
  tPARM_INT i(1);
  EXPECT_EQ(pa == i, 0);
}

TEST(ParmMsg, IgnoresTheSpecAndShowsTheFormattedMessage) {
  tMSGSTR inner("inner %0", "id", tMSG::eERROR);
  inner << 7;
  tPARM_MSG p(inner);
  EXPECT_EQ(Text(p, nullptr), "inner 7");
  EXPECT_EQ(Text(p, "%08X"), "inner 7");
  EXPECT_EQ(p.Message(), &inner);
  EXPECT_EQ(Text(tPARM_MSG(static_cast<tMSG *>(nullptr)), nullptr), "NULL");
}

TEST(ParmMsg, TextIsCutTo1023Characters) {
  std::string long_text(1500, 'x');
  tMSGSTR inner("%0", "id", tMSG::eERROR);
  inner << long_text.c_str();
  tPARM_MSG p(inner);
  EXPECT_EQ(Text(p, nullptr), std::string(1023, 'x'));
}

TEST(ParmMsg, AdoptsByPointerBorrowsByReference) {
  kelcore_test::TrackedMsg::live = 0;
  {
    tPARM_MSG adopt(new kelcore_test::TrackedMsg("adopted"));
    EXPECT_EQ(kelcore_test::TrackedMsg::live, 1);
  }
  EXPECT_EQ(kelcore_test::TrackedMsg::live, 0) << "the adopted message is disposed of";

  kelcore_test::TrackedMsg borrowed("borrowed");
  {
    tPARM_MSG borrow(borrowed);
    EXPECT_EQ(Text(borrow, nullptr), "borrowed");
  }
  EXPECT_EQ(kelcore_test::TrackedMsg::live, 1) << "the borrowed message stays alive";
  EXPECT_STREQ(borrowed.Format(), "borrowed");
}

TEST(ParmMsg, AdoptingTheStaticMessageLeavesItAlone) {
  { tPARM_MSG adopt(&tERRMSG::OutOfMemory); }
  EXPECT_STREQ(tERRMSG::OutOfMemory.Format(), "Out of memory");
}

// --- tPARMLIST ---------------------------------------------------------------

TEST(ParmList, AddReturnsIndicesAndIndexingFindsThem) {
  tPARMLIST list;
  tPARAMETER *p0 = new tPARM_INT(0);
  tPARAMETER *p1 = new tPARM_STRING("one");
  tPARAMETER *p2 = new tPARM_DOUBLE(2.0);
  EXPECT_EQ(list.Add(p0), 0u);
  EXPECT_EQ(list.Add(p1), 1u);
  EXPECT_EQ(list.Add(p2), 2u);
  EXPECT_EQ(list.GetItemsInContainer(), 3u);
  EXPECT_EQ(list.Get(0), p0);
  EXPECT_EQ(list.Get(1), p1);
  EXPECT_EQ(list.Get(2), p2);
  EXPECT_EQ(list.Get(3), nullptr);
  EXPECT_EQ(&list[1], p1);
}

TEST(ParmList, OperatorIndexPastTheEndHasANullAddress) {
#if defined(KELCORE_TEST_UBSAN)
  GTEST_SKIP() << "binds a null reference by design";
#else
  tPARMLIST list;
  list.Add(new tPARM_INT(1));
  list.Add(new tPARM_INT(2));
  list.Add(new tPARM_INT(3));
  EXPECT_EQ(kelcore_test::AddressOf(list[3]), nullptr);
  EXPECT_EQ(kelcore_test::AddressOf(list[0xFFFFFFFFu]), nullptr);
#endif
}

TEST(ParmList, OwnsAndDestroysItsParametersInclNull) {
  CountingParm::live = 0;
  {
    tPARMLIST list;
    for (int i = 0; i < 5; ++i) list.Add(new CountingParm);
    EXPECT_EQ(list.Add(nullptr), 5u);
    EXPECT_EQ(list.Get(5), nullptr);
    EXPECT_EQ(CountingParm::live, 5);
  }
  EXPECT_EQ(CountingParm::live, 0);
}

TEST(ParmList, AddWithoutMemoryLeavesTheParameterWithTheCaller) {
  tPARMLIST list;
  list.Add(new tPARM_INT(0));
  tPARM_INT *p = new tPARM_INT(1);
  {
    kelcore_test::ScopedAllocFailure fail(1);
    EXPECT_EQ(list.Add(p), 0xFFFFFFFFu);
  }
  EXPECT_EQ(list.GetItemsInContainer(), 1u);
  EXPECT_EQ(list.Add(p), 1u) << "the list is still usable";
}

TEST(ParmList, NullListRefusesToAdd) {
#if defined(KELCORE_TEST_UBSAN)
  GTEST_SKIP() << "calls a member through a null pointer by design";
#else
  tPARMLIST *none = kelcore_test::Opaque<tPARMLIST>(nullptr);
  tPARM_INT p(1);
  EXPECT_EQ(none->Add(&p), 0xFFFFFFFFu);
  EXPECT_EQ(none->GetItemsInContainer(), 0u);
  EXPECT_EQ(none->Get(0), nullptr);
#endif
}

// --- stream operators --------------------------------------------------------

TEST(ParmStream, ReferenceFormWritesTheDefaultText) {
  std::ostringstream os;
  tPARM_UINT u(255u);
  tPARM_STRING s("abc");
  os << u << "/" << s;
  EXPECT_EQ(os.str(), "255/abc");
}

TEST(ParmStream, PointerFormWritesThenDestroys) {
  CountingParm::live = 0;
  std::ostringstream os;
  os << static_cast<tPARAMETER *>(new CountingParm) << "|" << static_cast<tPARAMETER *>(new tPARM_INT(3));
  EXPECT_EQ(os.str(), "counting|3");
  EXPECT_EQ(CountingParm::live, 0);
  os << static_cast<tPARAMETER *>(nullptr);
  EXPECT_EQ(os.str(), "counting|3") << "a null pointer writes nothing";
}

// --- the conversion spec check for parameter classes outside this folder ----------------

class SpecProbe : public tPARAMETER {
 public:
  static const char *Valid(const char *spec, const char *def) { return ValidSpec(spec, def); }
};

TEST(ParmValidSpec, AcceptsOnlySpecsOfTheDefaultsArgumentType) {
  struct Case {
    const char *spec;
    const char *def;
    bool kept;
  } cases[] = {
      {"%08X", "%u", true},  {"%d", "%u", true},     {"%c", "%d", true},    {"%ld", "%lu", true},
      {"%d", "%lu", false},  {"%s", "%d", false},    {"%n", "%d", false},   {"%lg", "%g", true},
      {"%Lg", "%g", false},  {"%.3Lf", "%Lg", true}, {"%g", "%Lg", false},  {"%-8s", "%s", true},
      {"%d", "%s", false},   {"%d %d", "%d", false}, {"text", "%d", false}, {"", "%d", false},
      {"%*d", "%d", false},  {"%1$d", "%d", false},  {"%lld", "%ld", false}, {"%p", "%d", false},
  };
  for (const auto &c : cases) {
    const char *got = SpecProbe::Valid(c.spec, c.def);
    EXPECT_EQ(got, c.kept ? c.spec : c.def) << c.spec << " for " << c.def;
  }
  EXPECT_EQ(SpecProbe::Valid(nullptr, "%d"), std::string("%d"));
}

TEST(ParmPrintfFormat, IsBoundedToTheBuffer) {
  struct Probe : tPARAMETER {
    static void Run(char *buf) { PrintfFormat(buf, "%2000d", 1); }
  };
  std::string buf(1200, '#');
  Probe::Run(&buf[0]);
  EXPECT_EQ(std::strlen(buf.c_str()), 1023u);
  EXPECT_EQ(buf[1024], '#') << "nothing written past 1024 bytes";
}

}  // namespace
