// Every allocation of building and formatting a message fails in turn: the
// library must neither crash nor leak (the sanitizer build checks leaks).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kelcore/msg/message.h"
#include "tests/msg/msg_test_util.h"

namespace {

using kelcore_test::SweepAllocFailures;

const char kFull[] = "name: 42 (000000FF) in [inner 1|kept]";

void BuildAndFormat(std::vector<std::string> *seen) {
  static const char kId[] = "sweep";
  tMSG *borrowed = new (std::nothrow) tMSGSTR("kept", kId, tMSG::eERROR);
  tMSG *msg = new (std::nothrow) tMSGSTR("%0: %1 (%2'%08X') in [%3|%4]", kId, tMSG::eERROR);
  if (msg == nullptr) {
    // Where the library cannot allocate a message it hands out the static one.
    msg = &tERRMSG::OutOfMemory;
  }
  tMSG *inner = new (std::nothrow) tMSGSTR("inner %0", kId, tMSG::eERROR);
  if (inner != nullptr) *inner << 1;
  *msg << "name" << 42 << 255u << inner;
  if (borrowed != nullptr) *msg << *borrowed;
  else *msg << "kept";
  seen->push_back(msg->Format());
  tMSG::Dispose(msg);
  tMSG::Dispose(borrowed);
}

// A failure is never silent: a parameter that could not be made or kept
// leaves a "NULL" (a dropped one shifts the later ones, so the last
// placeholder shows "NULL"), and a message that could not be formatted shows
// "Out of memory".
void CheckSeen(const std::vector<std::string> &seen) {
  for (std::size_t i = 1; i < seen.size(); ++i) {
    const std::string &s = seen[i];
    EXPECT_LE(s.size(), 1023u);
    EXPECT_TRUE(s == kFull || s.find("NULL") != std::string::npos || s.find("Out of memory") != std::string::npos)
        << "allocation " << i << ": " << s;
  }
}

TEST(AllocFailureSweep, BuildingAndFormattingAMessage) {
  std::vector<std::string> seen;
  std::size_t count = SweepAllocFailures([&seen] { BuildAndFormat(&seen); });
  EXPECT_GT(count, 10u);
  ASSERT_EQ(seen.size(), count + 1);
  EXPECT_EQ(seen[0], kFull);
  CheckSeen(seen);
  EXPECT_EQ(tERRMSG::OutOfMemory.NumParms(), 0u);
}

TEST(AllocFailureSweep, EverythingFailsFromTheNthAllocationOn) {
  std::vector<std::string> seen;
  SweepAllocFailures([&seen] { BuildAndFormat(&seen); }, true);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen[0], kFull);
  CheckSeen(seen);
  EXPECT_EQ(seen[1], "Out of memory") << "no message could be allocated";
}

TEST(AllocFailureSweep, StaticFormatIsNullOrComplete) {
  tPARMLIST list;
  list.Add(new tPARM_STRING("a"));
  list.Add(new tPARM_INT(1));
  std::vector<char *> results;
  SweepAllocFailures([&] { results.push_back(tMSG::Format("%0-%1-%2", list)); });
  ASSERT_FALSE(results.empty());
  for (char *r : results) {
    if (r != nullptr) {
      EXPECT_STREQ(r, "a-1-NULL");
    }
    delete[] r;
  }
}

TEST(AllocFailureSweep, VariadicFormat) {
  std::vector<std::string> seen;
  SweepAllocFailures([&seen] {
    char *text = tMSG::Format("%0+%1", 2, static_cast<tPARAMETER *>(new (std::nothrow) tPARM_STRING("x")),
                              static_cast<tPARAMETER *>(new (std::nothrow) tPARM_UINT(3u)));
    seen.push_back(kelcore_test::Formatted(text));
  });
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen[0], "x+3");
  // A text parameter whose copy failed holds a null text.
  const std::vector<std::string> firsts = {"x", "NULL", "(null)"}, seconds = {"3", "NULL"};
  for (const std::string &s : seen) {
    bool ok = s == "<null>";
    for (const std::string &a : firsts)
      for (const std::string &b : seconds) ok = ok || s == a + "+" + b;
    EXPECT_TRUE(ok) << s;
  }
}

}  // namespace
