// A name as the context of an error message, and the file-name parameter.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "kelcore/msg/message.h"
#include "kelcore/names/pc_file_name.h"
#include "kelcore/names/unix_file_name.h"
#include "tests/support/alloc_failure.h"

namespace {

std::string Formatted(const tPARAMETER &p, const char *spec) {
  char buf[1024];
  p.Format(buf, spec);
  return buf;
}

TEST(ErrorContext, AppendsTheNameAndReturnsTheMessage) {
  tPCFILENAME n("C:\\data\\in.txt");
  tMSG *msg = new tMSGSTR("Cannot open %0 (%1)", "names test", tMSG::eERROR);
  tMSG &same = n.AddErrorContext(msg);
  EXPECT_EQ(msg, &same);
  same << "busy";
  ASSERT_EQ(2u, msg->NumParms());
  EXPECT_NE(nullptr, dynamic_cast<const tPARM_FILENAME *>(&(*msg)[0]));
  EXPECT_STREQ("Cannot open C:\\data\\in.txt (busy)", msg->Format());
  tMSG::Dispose(msg);
}

TEST(ErrorContext, ChainsLikeTheStreamOperators) {
  tUNIXFILENAME from("/a/old");
  tUNIXFILENAME to("/a/new");
  tMSG *msg = new tMSGSTR("%0 -> %1", "names test", tMSG::eERROR);
  to.AddErrorContext(&from.AddErrorContext(msg));
  EXPECT_STREQ("/a/old -> /a/new", msg->Format());
  tMSG::Dispose(msg);
}

TEST(ErrorContext, NameStreamsIntoAMessageAsAParameter) {
  tPCFILENAME n("C:\\in.txt");
  tMSG *msg = new tMSGSTR("%0: %1", "names test", tMSG::eERROR);
  *msg << n << "gone";
  EXPECT_STREQ("C:\\in.txt: gone", msg->Format());
  tMSG::Dispose(msg);
}

TEST(ErrorContext, EmptyName) {
  tPCFILENAME n;
  tMSG *msg = new tMSGSTR("[%0]", "names test", tMSG::eERROR);
  n.AddErrorContext(msg);
  EXPECT_STREQ("[]", msg->Format());
  tMSG::Dispose(msg);
}

TEST(ErrorContext, StaticMessageTakesNothing) {
  tPCFILENAME n("x");
  tMSG &out = n.AddErrorContext(&tERRMSG::OutOfMemory);
  EXPECT_EQ(&tERRMSG::OutOfMemory, &out);
  EXPECT_EQ(0u, tERRMSG::OutOfMemory.NumParms());
}

TEST(ErrorContext, NullMessageGivesTheStaticMessage) {
  tPCFILENAME n("x");
  EXPECT_EQ(&tERRMSG::OutOfMemory, &n.AddErrorContext(nullptr));
  EXPECT_EQ(0u, tERRMSG::OutOfMemory.NumParms());
}

TEST(ErrorContext, WithoutMemoryNothingIsAppended) {
  tPCFILENAME n("C:\\x");
  tMSG *msg = new tMSGSTR("%0", "names test", tMSG::eERROR);
  {
    kelcore_test::ScopedAllocFailure fail(1);
    n.AddErrorContext(msg);
  }
  EXPECT_EQ(0u, msg->NumParms());
  {
    // The parameter exists but cannot copy the text: no half parameter.
    kelcore_test::ScopedAllocFailure fail(2);
    n.AddErrorContext(msg);
  }
  EXPECT_EQ(0u, msg->NumParms());
  tMSG::Dispose(msg);

  kelcore_test::SweepAllocFailures([&] {
    tMSG *m = new tMSGSTR("%0", "names test", tMSG::eERROR);
    n.AddErrorContext(m);
    tMSG::Dispose(m);
  });
}

TEST(ErrorContext, ConversionToAParameter) {
  tUNIXFILENAME n("/etc/hosts");
  tPARAMETER *p = n;
  ASSERT_NE(nullptr, p);
  const tPARM_FILENAME *f = dynamic_cast<const tPARM_FILENAME *>(p);
  ASSERT_NE(nullptr, f);
  EXPECT_STREQ("/etc/hosts", f->Value());
  EXPECT_NE(n.GetName(), f->Value()) << "the parameter has its own copy";
  std::ostringstream os;
  os << p;  // writes and destroys
  EXPECT_EQ("/etc/hosts", os.str());

  for (std::size_t nth = 1; nth <= 2; ++nth) {
    kelcore_test::ScopedAllocFailure fail(nth);
    EXPECT_EQ(nullptr, static_cast<tPARAMETER *>(n));
  }
}

TEST(FileNameParameter, FormatsAsAString) {
  tPARM_FILENAME p("C:\\x y\\z.txt");
  EXPECT_EQ("C:\\x y\\z.txt", Formatted(p, nullptr));
  EXPECT_EQ("C:\\x y\\z.txt", Formatted(p, ""));
  EXPECT_EQ("file \"C:\\x y\\z.txt\"", Formatted(p, "file \"%s\""));
  EXPECT_EQ("C:\\x", Formatted(p, "%.4s"));
  std::ostringstream os;
  os << static_cast<const tPARAMETER &>(p);
  EXPECT_EQ("C:\\x y\\z.txt", os.str());
}

TEST(FileNameParameter, LongestUnixNameFitsTheFormatBuffer) {
  std::string text = "/" + std::string(1022, 'n');
  tUNIXFILENAME n(text.c_str());
  ASSERT_EQ(text, n.GetName());
  tPARAMETER *p = n;
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(text, Formatted(*p, nullptr));
  delete p;
}

struct EqualityCase {
  const char *a;
  const char *b;
  int equal;
};

TEST(FileNameParameter, EqualityFollowsTheText) {
  const EqualityCase cases[] = {
      {"C:\\x", "C:\\x", 1},  {"C:\\x", "c:\\x", 0}, {"C:\\x", "C:/x", 0},
      {"", "", 1},            {nullptr, nullptr, 1}, {nullptr, "", 0},
      {"a", "ab", 0},
  };
  for (const EqualityCase &c : cases) {
    SCOPED_TRACE(std::string(c.a ? c.a : "(null)") + " vs " + (c.b ? c.b : "(null)"));
    tPARM_FILENAME a(c.a);
    tPARM_FILENAME b(c.b);
    EXPECT_EQ(c.equal, a == b ? 1 : 0);
    EXPECT_EQ(c.equal, b == a ? 1 : 0);
  }
}

TEST(FileNameParameter, ComparesAsAStringParameter) {
  tPARM_FILENAME f("name");
  tPARM_STRING s("name");
  tPARM_STRING other("other");
  tPARM_INT i(0);
  EXPECT_TRUE(f == s);
  EXPECT_TRUE(s == f);
  EXPECT_FALSE(f == other);
  EXPECT_FALSE(f == i);
  EXPECT_FALSE(i == f);
}

TEST(FileNameParameter, MessagesWithTheSameNameAreEqual) {
  tPCFILENAME n("C:\\same");
  tMSG *a = new tMSGSTR("%0", "names test", tMSG::eERROR);
  tMSG *b = new tMSGSTR("%0", a->GetIdString(), tMSG::eERROR);
  n.AddErrorContext(a);
  n.AddErrorContext(b);
  EXPECT_TRUE(*a == *b);
  tPCFILENAME("C:\\other").AddErrorContext(b);
  EXPECT_FALSE(*a == *b);
  tMSG::Dispose(a);
  tMSG::Dispose(b);
}

}  // namespace
