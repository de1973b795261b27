// Over-long input is refused by every setter: the name becomes empty and the
// thread's last error says why. Nothing is ever written past a buffer (the
// sanitizer build checks the "never").
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "kelcore/error/os_error.h"
#include "kelcore/msg/message.h"
#include "kelcore/names/pc_file_name.h"
#include "kelcore/names/unix_file_name.h"
#include "kelcore/sync/thread.h"
#include "tests/names/names_test_util.h"
#include "tests/support/alloc_failure.h"

using names_test::Conv;
using names_test::kDos;
using names_test::kUnix;
using names_test::Make;

namespace {

class OverLong : public ::testing::TestWithParam<Conv> {
 protected:
  void SetUp() override { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }
  void TearDown() override { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }

  std::unique_ptr<tPHYFILENAMEOBJ> Fresh(const char *text = "old\\name") {
    std::unique_ptr<tPHYFILENAMEOBJ> n = Make(GetParam(), text);
    n->GetLocation();  // a cached location must go with the name
    return n;
  }
  unsigned int Max() { return Make(GetParam())->GetMaxLen(); }

  // The name is empty and relative, and the last error is the refusal:
  // OS library error 0 with system error 206 and the start of `text`.
  void ExpectRefused(tPHYFILENAMEOBJ &n, const std::string &text) {
    EXPECT_STREQ("", n.GetName());
    EXPECT_EQ(1, n.IsRelative());
    ASSERT_NE(nullptr, n.GetLocation());
    EXPECT_STREQ("", n.GetLocation()->GetName());
    tMSG *err = tTHREAD::GetLastError();
    ASSERT_NE(nullptr, err);
    EXPECT_STREQ("OS library error", err->GetIdString());
    ASSERT_EQ(2u, err->NumParms());
    const tPARM_SYSERR *code = dynamic_cast<const tPARM_SYSERR *>(&(*err)[0]);
    ASSERT_NE(nullptr, code);
    EXPECT_EQ(206, code->Value());
    const tPARM_FILENAME *shown = dynamic_cast<const tPARM_FILENAME *>(&(*err)[1]);
    ASSERT_NE(nullptr, shown);
    ASSERT_NE(nullptr, shown->Value());
    std::string s = shown->Value();
    ASSERT_EQ(258u, s.size()) << "255 characters and \"...\"";
    EXPECT_EQ(text.substr(0, 255) + "...", s);
    tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
  }
  void ExpectStored(tPHYFILENAMEOBJ &n, const std::string &text) {
    EXPECT_EQ(text, n.GetName());
    EXPECT_EQ(nullptr, tTHREAD::GetLastError());
  }
};

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

TEST_P(OverLong, SetNameAtTheLimitAndOneBeyond) {
  const unsigned int max = Max();
  std::unique_ptr<tPHYFILENAMEOBJ> n = Fresh();
  std::string fits = Repeat('a', max);
  n->SetName(fits.c_str());
  ExpectStored(*n, fits);

  std::string beyond = Repeat('b', max + 1);
  n = Fresh();
  n->SetName(beyond.c_str());
  ExpectRefused(*n, beyond);

  // The one trailing separator that SetName removes does not count.
  std::string with_sep = Repeat('c', max) + "/";
  n = Fresh();
  n->SetName(with_sep.c_str());
  ExpectStored(*n, Repeat('c', max));

  std::string two_seps = Repeat('c', max) + "//";
  n = Fresh();
  n->SetName(two_seps.c_str());
  ExpectRefused(*n, two_seps);

  // A name may be usable again after a refusal.
  n->SetName("/again");
  ExpectStored(*n, "/again");
}

TEST_P(OverLong, HugeTextsAreRefusedWhole) {
  std::string huge = "/" + Repeat('x', 100000);
  std::unique_ptr<tPHYFILENAMEOBJ> n = Fresh();
  n->SetName(huge.c_str());
  ExpectRefused(*n, huge);
}

TEST_P(OverLong, Constructors) {
  std::string beyond = Repeat('d', Max() + 1);
  if (GetParam() == kDos) {
    tPCFILENAME n(beyond.c_str());
    ExpectRefused(n, beyond);
  } else {
    tUNIXFILENAME n(beyond.c_str());
    ExpectRefused(n, beyond);
  }
}

TEST_P(OverLong, FromAnotherNameObject) {
  // Only a UNIX name can be longer than a DOS name can hold.
  std::string text = Repeat('e', 600);
  tUNIXFILENAME source(text.c_str());
  ASSERT_EQ(text, source.GetName());
  std::unique_ptr<tPHYFILENAMEOBJ> n = Fresh();
  n->SetName(source);
  if (GetParam() == kDos) {
    ExpectRefused(*n, text);
  } else {
    ExpectStored(*n, text);
  }
}

TEST_P(OverLong, FromAnEnvironmentVariable) {
  std::string beyond = Repeat('f', Max() + 1);
  names_test::SetEnv("KELCORE_NAMES_LONG_VAR", beyond.c_str());
  std::unique_ptr<tPHYFILENAMEOBJ> n = Fresh();
  n->SetName("KELCORE_NAMES_LONG_VAR", "default");
  ExpectRefused(*n, beyond);
  names_test::SetEnv("KELCORE_NAMES_LONG_VAR", nullptr);
}

TEST_P(OverLong, SetLocation) {
  const unsigned int max = Max();
  // "dir" + separator + "f": exactly at the limit, then one beyond.
  std::string dir = "/" + Repeat('g', max - 3);
  std::unique_ptr<tPHYFILENAMEOBJ> n = Fresh("f");
  n->SetLocation(dir.c_str(), 0);
  ExpectStored(*n, dir + n->PathCharStr() + "f");

  std::string longer = dir + "h";
  n = Fresh("f");
  n->SetLocation(longer.c_str(), 0);
  ExpectRefused(*n, longer + n->PathCharStr() + "f");

  std::string huge = Repeat('i', 50000);
  n = Fresh("f");
  n->SetLocation(huge.c_str(), 1);
  ExpectRefused(*n, huge);
}

TEST_P(OverLong, SetLocationWhereOnlyTheMergeIsTooLong) {
  const unsigned int max = Max();
  // The old relative location "sub" is kept below the new directory; the
  // plain replacement would fit, the merged name does not.
  std::string dir = "/" + Repeat('j', max - 5);
  std::unique_ptr<tPHYFILENAMEOBJ> n = Fresh(GetParam() == kDos ? "sub\\f" : "sub/f");
  n->SetLocation(dir.c_str(), 0);
  ExpectStored(*n, dir + n->PathCharStr() + "f");

  n = Fresh(GetParam() == kDos ? "sub\\f" : "sub/f");
  n->SetLocation(dir.c_str(), 1);
  const std::string sep = n->PathCharStr();
  ExpectRefused(*n, dir + sep + "sub" + sep + "f");
}

TEST_P(OverLong, SetLocationFromAnotherNameObject) {
  std::string dir = "/" + Repeat('k', 700);
  tUNIXFILENAME source(dir.c_str());
  std::unique_ptr<tPHYFILENAMEOBJ> n = Fresh("f");
  n->SetLocation(source, 0);
  if (GetParam() == kDos) {
    ExpectRefused(*n, dir);
  } else {
    ExpectStored(*n, dir + "/f");
  }
}

TEST_P(OverLong, SetFileName) {
  const unsigned int max = Max();
  // location "/l" + separator + file name: at the limit, then beyond.
  const char *start = GetParam() == kDos ? "\\l\\old" : "/l/old";
  std::string file = Repeat('m', max - 3);
  std::unique_ptr<tPHYFILENAMEOBJ> n = Fresh(start);
  n->SetFileName(file.c_str());
  const std::string sep = n->PathCharStr();
  ExpectStored(*n, sep + "l" + sep + file);

  n = Fresh(start);
  std::string longer = file + "n";
  n->SetFileName(longer.c_str());
  ExpectRefused(*n, sep + "l" + sep + longer);

  n = Fresh(start);
  std::string huge = Repeat('o', 70000);
  n->SetFileName(huge.c_str());
  ExpectRefused(*n, sep + "l" + sep + huge);
}

TEST_P(OverLong, SetExtension) {
  const unsigned int max = Max();
  std::string base = Repeat('p', max - 4);
  std::unique_ptr<tPHYFILENAMEOBJ> n = Fresh((base + ".old").c_str());
  n->SetExtension(".new");
  ExpectStored(*n, base + ".new");

  n = Fresh((base + ".old").c_str());
  n->SetExtension(".newer");
  ExpectRefused(*n, base + ".newer");

  n = Fresh("short.txt");
  std::string huge = "." + Repeat('q', 40000);
  n->SetExtension(huge.c_str());
  ExpectRefused(*n, "short" + huge);
}

TEST_P(OverLong, RefusalReplacesAnEarlierLastError) {
  tMSG *earlier = tOSERR::Make(4, 5);
  tTHREAD::SetLastError(*earlier);
  std::string beyond = Repeat('r', Max() + 1);
  std::unique_ptr<tPHYFILENAMEOBJ> n = Fresh();
  n->SetName(beyond.c_str());
  ExpectRefused(*n, beyond);
}

TEST_P(OverLong, RefusalWithoutMemoryStillEmptiesTheName) {
  std::string beyond = Repeat('s', Max() + 1);
  kelcore_test::SweepAllocFailures([&] {
    std::unique_ptr<tPHYFILENAMEOBJ> n = Make(GetParam(), "old");
    if (!n) return;
    n->SetName(beyond.c_str());
    EXPECT_STREQ("", n->GetName());
    n->SetLocation(beyond.c_str(), 1);
    EXPECT_STREQ("", n->GetName());
  });
  tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
}

INSTANTIATE_TEST_SUITE_P(BothConventions, OverLong, ::testing::Values(kDos, kUnix),
                         [](const ::testing::TestParamInfo<Conv> &info) {
                           return std::string(names_test::ConvName(info.param));
                         });

}  // namespace
