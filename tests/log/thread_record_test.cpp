// The "thread" records: every change of a thread's last error is logged
// with levels 0xC4.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "kelcore/log/log_manager.h"
#include "kelcore/msg/message.h"
#include "kelcore/sync/thread.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/log_capture.h"
#include "tests/sync/thread_test_util.h"

using kelcore_test::CountedMsg;
using kelcore_test::LogCapture;
using kelcore_test::RunInFreshThread;

namespace {

TEST(ThreadRecords, SetLastErrorLogsTheFormattedMessage) {
  RunInFreshThread([] {
    LogCapture log(0xC4, "thread");
    tMSGSTR *msg = new tMSGSTR("cannot open %0", "thread record test", tMSG::eERROR);
    *msg << "a.txt";
    tTHREAD::SetLastError(*msg);
    tTHREAD::SetLastError(NULL);
    tTHREAD::SetLastError(tERRMSG::OutOfMemory);
    tTHREAD::SetLastError(NULL);
    std::vector<std::string> expected = {
        "SetLastError(\"cannot open a.txt\")",
        "SetLastError(NULL)",
        "SetLastError(\"Out of memory\")",
        "SetLastError(NULL)",
    };
    EXPECT_EQ(log.Lines(), expected);
  });
}

struct FilterCase {
  unsigned int mask;
  const char *labels;
  bool logged;
};

TEST(ThreadRecords, FollowTheLevelsAndLabels) {
  const FilterCase cases[] = {
      {0xC4, nullptr, true},   {0xFF, "thread", true}, {0xC4, "os;thr", true},
      {0xC0, nullptr, false},  {0x04, nullptr, false}, {0xC4, "os;app", false},
      {0xC4, "threads", false},
  };
  for (const FilterCase &c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << "mask 0x" << c.mask << ", labels "
                                    << (c.labels ? c.labels : "(null)"));
    RunInFreshThread([&c] {
      LogCapture log(c.mask, c.labels);
      tTHREAD::SetLastError(NULL);
      EXPECT_EQ(log.Text(), c.logged ? "SetLastError(NULL)\n" : "");
    });
  }
}

TEST(ThreadRecords, NothingIsLoggedWhileLoggingIsOff) {
  RunInFreshThread([] {
    LogCapture log(0xC4);
    tLOGMGR::Suspend();
    tTHREAD::SetLastError(*new CountedMsg("quiet"));
    tTHREAD::SetLastError(NULL);
    tLOGMGR::Resume();
    EXPECT_EQ(log.Text(), "");
  });
}

TEST(ThreadRecords, AreStampedLikeEveryRecord) {
  RunInFreshThread([] {
    LogCapture log(0xC4, nullptr, "<%0> ");
    tTHREAD::SetLastError(NULL);
    EXPECT_EQ(log.Lines().size(), 1u);
    EXPECT_NE(log.Text().find("> SetLastError(NULL)\n"), std::string::npos) << log.Text();
  });
}

TEST(ThreadRecords, TakingTheLastErrorIsNotAChange) {
  RunInFreshThread([] {
    tTHREAD::SetLastError(*new CountedMsg("taken"));
    LogCapture log(0xC4);
    tMSG *taken = tTHREAD::TakeOwnershipOfLastError();
    tTHREAD::GetLastError();
    EXPECT_EQ(log.Text(), "");
    tMSG::Dispose(taken);
  });
}

TEST(ThreadRecords, SixteenThreadsLogTheirChangesWhole) {
  const int kThreads = 16, kRounds = 200;
  int live = CountedMsg::live;
  std::vector<std::string> lines;
  {
    LogCapture log(0xC4, "thread", "[%1] ");
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([] {
        for (int r = 0; r < kRounds; ++r) {
          tTHREAD::SetLastError(*new CountedMsg("concurrent"));
          tMSG::Dispose(tTHREAD::TakeOwnershipOfLastError());
          tTHREAD::SetLastError(NULL);
        }
      });
    }
    for (std::thread &t : threads) t.join();
    lines = log.Lines();
  }
  EXPECT_EQ(CountedMsg::live, live);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(2 * kThreads * kRounds));
  int set = 0, cleared = 0;
  for (const std::string &line : lines) {
    std::size_t text = line.find("] ");
    ASSERT_NE(text, std::string::npos) << line;
    std::string record = line.substr(text + 2);
    if (record == "SetLastError(\"concurrent\")") {
      ++set;
    } else if (record == "SetLastError(NULL)") {
      ++cleared;
    } else {
      ADD_FAILURE() << line;
    }
  }
  EXPECT_EQ(set, kThreads * kRounds);
  EXPECT_EQ(cleared, kThreads * kRounds);
}

TEST(ThreadRecords, LoggingWithoutMemoryNeverLeaks) {
  RunInFreshThread([] {
    const char *stamp = "[%0|%1|%2|%3|%4|%5|%6|%7] ";
    LogCapture log(0xC4, nullptr, stamp);
    int live = CountedMsg::live;
    kelcore_test::SweepAllocFailures([stamp] {
      tLOGMGR::SetStampFmt(stamp);  // no stamp reused from the run before
      tMSG *msg = new (std::nothrow) CountedMsg("swept %0");
      if (msg != nullptr) {
        *msg << 42;
        tTHREAD::SetLastError(*msg);
      }
      tTHREAD::SetLastError(NULL);
      tTHREAD::DeleteAutoThreadObject();
    });
    EXPECT_EQ(CountedMsg::live, live);
    for (const std::string &line : log.Lines()) {
      EXPECT_NE(line.find("SetLastError("), std::string::npos) << line;
    }
  });
}

}  // namespace
