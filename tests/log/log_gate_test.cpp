// The record gate: level bits, class labels, the lock, nesting, suspending
// and stamps.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kelcore/app/os_calls.h"
#include "kelcore/log/log_manager.h"
#include "kelcore/msg/message.h"
#include "kelcore/sync/lock.h"
#include "kelcore/sync/thread.h"
#include "kelcore/time/datetime.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/log_capture.h"
#include "tests/sync/thread_test_util.h"

using kelcore_test::CountedMsg;
using kelcore_test::LogCapture;

namespace {

// Writes one record through the protocol every module uses; true if it was
// written.
bool Record(const char *label, unsigned int levels, const char *text) {
  if (tLOGMGR::pLogFile == nullptr || !tLOGMGR::Begin(label, levels)) return false;
  *tLOGMGR::pLogFile << text << '\n';
  tLOGMGR::End();
  return true;
}

struct LockCounts {
  std::atomic<int> locks{0};
  std::atomic<int> unlocks{0};
  std::atomic<int> destroyed{0};
  int Held() const { return locks - unlocks; }
};

// A re-entrant lock that counts what the gate does with it.
class CountingLock : public tPHYSYNCOBJ {
 public:
  explicit CountingLock(LockCounts *counts) : counts_(counts) {}
  ~CountingLock() { ++counts_->destroyed; }
  void LockObject() {
    mutex_.lock();
    ++counts_->locks;
  }
  void UnlockObject() {
    ++counts_->unlocks;
    mutex_.unlock();
  }

 private:
  LockCounts *counts_;
  std::recursive_mutex mutex_;
};

// --- level bits and labels ----------------------------------------------------------

struct LevelCase {
  unsigned int mask;
  unsigned int requested;
  bool granted;
};

TEST(LogGate, GrantsOnlyWhenEveryRequestedBitIsEnabled) {
  const LevelCase cases[] = {
      {0xC4, 0xC0, true},        {0xC4, 0x01, false},      {0xC4, 0x00, true},
      {0xC4, 0xC4, true},        {0xC0, 0xC4, false},      {0xC0, 0x40, true},
      {0x00, 0x00, true},        {0x00, 0x01, false},      {0x11, 0x10, true},
      {0x10, 0x30, false},       {0xFFFFFFFF, 0x80000000, true},
      {0x7FFFFFFF, 0x80000000, false},
  };
  for (const LevelCase &c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << "mask 0x" << c.mask << ", requested 0x"
                                    << c.requested);
    LogCapture log(c.mask);
    EXPECT_EQ(Record(nullptr, c.requested, "record"), c.granted);
    EXPECT_EQ(log.Text(), c.granted ? "record\n" : "");
  }
}

struct LabelCase {
  const char *class_names;
  const char *label;
  bool accepted;
};

TEST(LogGate, MatchesClassLabelsByPrefix) {
  const LabelCase cases[] = {
      // A null label, or no labels at all, accepts.
      {"os;thread", nullptr, true},
      {nullptr, "anything", true},
      {"", "anything", true},
      // Items are prefixes of the label, compared case-sensitively.
      {"os;thread", "os", true},
      {"os;thread", "osx", true},
      {"os;thread", "thread", true},
      {"os;thread", "threads", true},
      {"os;thread", "app", false},
      {"os;thread", "o", false},
      {"os;thread", "", false},
      {"os;thread", "OS", false},
      {"os;thread", "xos", false},
      {"cstream", "cstream", true},
      {"thread", "threa", false},
      // Empty items, wherever they are, accept every label.
      {"os;", "app", true},
      {"os;;thread", "app", true},
      {";os", "app", true},
      {";", "app", true},
      {"os;;", "", true},
  };
  for (const LabelCase &c : cases) {
    SCOPED_TRACE(testing::Message() << "labels \"" << (c.class_names ? c.class_names : "(null)")
                                    << "\", label \"" << (c.label ? c.label : "(null)") << "\"");
    LogCapture log(0xFFFFFFFF, c.class_names);
    EXPECT_EQ(tLOGMGR::Match(c.label) != 0, c.accepted);
    EXPECT_EQ(Record(c.label, 0xC0, "record"), c.accepted);
  }
}

TEST(LogGate, RefusesEverythingWhileLoggingIsOff) {
  LogCapture log;
  tLOGMGR::pLogFile = nullptr;
  EXPECT_EQ(tLOGMGR::Begin(nullptr, 0), 0);
  EXPECT_EQ(tLOGMGR::Begin("thread", 0xC4), 0);
  EXPECT_EQ(tLOGMGR::Processing, 0);
  EXPECT_EQ(log.Text(), "");
}

// --- the lock and nesting ------------------------------------------------------------

TEST(LogGate, HoldsTheLockFromBeginToEndOnly) {
  LockCounts counts;
  {
    LogCapture log(0xC4);
    tLOGMGR::SetSyncObj(new CountingLock(&counts));
    ASSERT_NE(tLOGMGR::Begin("thread", 0xC4), 0);
    EXPECT_EQ(counts.Held(), 1);
    EXPECT_EQ(tLOGMGR::Processing, 1);
    tLOGMGR::End();
    EXPECT_EQ(counts.Held(), 0);
    EXPECT_EQ(tLOGMGR::Processing, 0);

    // A refused record takes the lock and gives it back.
    int locks = counts.locks;
    EXPECT_EQ(tLOGMGR::Begin("thread", 0x01), 0);
    EXPECT_EQ(counts.locks - locks, 1);
    EXPECT_EQ(counts.Held(), 0);

    // Even while logging is off.
    tLOGMGR::Suspend();
    locks = counts.locks;
    EXPECT_EQ(tLOGMGR::Begin(nullptr, 0), 0);
    EXPECT_EQ(counts.locks - locks, 1);
    EXPECT_EQ(counts.Held(), 0);
  }
  // The capture gave the log its old lock back and destroyed ours.
  EXPECT_EQ(counts.destroyed, 1);
}

TEST(LogGate, RefusesANestedRecordAndReleasesItsLock) {
  LockCounts counts;
  LogCapture log;
  tLOGMGR::SetSyncObj(new CountingLock(&counts));
  ASSERT_NE(tLOGMGR::Begin("outer", 0), 0);
  *tLOGMGR::pLogFile << "outer";
  EXPECT_EQ(tLOGMGR::Begin("inner", 0), 0);
  EXPECT_EQ(counts.Held(), 1);
  EXPECT_EQ(tLOGMGR::Processing, 1);
  EXPECT_FALSE(Record("inner", 0, "inner"));
  *tLOGMGR::pLogFile << '\n';
  tLOGMGR::End();
  EXPECT_EQ(counts.Held(), 0);
  EXPECT_EQ(log.Text(), "outer\n");
  EXPECT_TRUE(Record("after", 0, "after"));
  EXPECT_EQ(log.Text(), "outer\nafter\n");
}

TEST(LogGate, ANestedRecordFromAnotherThreadWaitsForTheFirst) {
  LogCapture log;
  ASSERT_NE(tLOGMGR::Begin("first", 0), 0);
  std::atomic<bool> written{false};
  std::thread other([&] {
    EXPECT_TRUE(Record("second", 0, "second"));
    written = true;
  });
  // Give the other thread every chance to get in where it must not.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(written);
  *tLOGMGR::pLogFile << "first\n";
  tLOGMGR::End();
  other.join();
  EXPECT_EQ(log.Text(), "first\nsecond\n");
}

TEST(LogGate, WorksWithoutALock) {
  LogCapture log;
  tLOGMGR::SetSyncObj(nullptr);
  EXPECT_EQ(tLOGMGR::pSyncObj, nullptr);
  EXPECT_TRUE(Record(nullptr, 0, "unlocked"));
  EXPECT_EQ(log.Text(), "unlocked\n");
}

TEST(LogGate, SetSyncObjDestroysOnlyAReplacedLock) {
  LockCounts first, second;
  {
    LogCapture log;
    CountingLock *lock = new CountingLock(&first);
    tLOGMGR::SetSyncObj(lock);
    tLOGMGR::SetSyncObj(lock);  // the same object again: kept
    EXPECT_EQ(first.destroyed, 0);
    tLOGMGR::SetSyncObj(new CountingLock(&second));
    EXPECT_EQ(first.destroyed, 1);
    EXPECT_TRUE(Record(nullptr, 0, "x"));
    EXPECT_EQ(second.locks, 1);
  }
  EXPECT_EQ(second.destroyed, 1);
}

// --- suspend and resume ---------------------------------------------------------------

TEST(LogGate, SuspendAndResumeUseTheSameStream) {
  LogCapture log;
  std::ostream *stream = tLOGMGR::pLogFile;
  tLOGMGR::Suspend();
  EXPECT_EQ(tLOGMGR::pLogFile, nullptr);
  EXPECT_EQ(tLOGMGR::pStream, stream);
  EXPECT_FALSE(Record(nullptr, 0, "while suspended"));
  EXPECT_EQ(tLOGMGR::Begin(nullptr, 0), 0);
  tLOGMGR::Resume();
  EXPECT_EQ(tLOGMGR::pLogFile, stream);
  EXPECT_EQ(tLOGMGR::pStream, stream);
  EXPECT_TRUE(Record(nullptr, 0, "resumed"));
  EXPECT_EQ(log.Text(), "resumed\n");
}

TEST(LogGate, TwoSuspendsThenResumeLeaveLoggingOff) {
  LogCapture log;
  tLOGMGR::Suspend();
  tLOGMGR::Suspend();
  EXPECT_EQ(tLOGMGR::pStream, nullptr);
  tLOGMGR::Resume();
  EXPECT_EQ(tLOGMGR::pLogFile, nullptr);
  EXPECT_FALSE(Record(nullptr, 0, "lost"));
  EXPECT_EQ(log.Text(), "");
}

TEST(LogGate, ResumeWithoutSuspendChangesNothing) {
  LogCapture log;
  std::ostream *stream = tLOGMGR::pLogFile;
  tLOGMGR::Resume();
  EXPECT_EQ(tLOGMGR::pLogFile, stream);
}

// --- stamps -----------------------------------------------------------------------------

const char kFullStamp[] =
    "[%0|%1|%2'%04u'-%3'%02u'-%4'%02u' %5'%02u':%6'%02u':%7'%02u'] ";

TEST(LogStamp, PrefixesEveryGrantedRecord) {
  LogCapture log(0xC4, nullptr, kFullStamp);
  tDATETIME before;
  before.SetToCurrent();
  ASSERT_TRUE(Record("thread", 0xC4, "first"));
  ASSERT_TRUE(Record(nullptr, 0, "second"));
  tDATETIME after;
  after.SetToCurrent();

  std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(lines.size(), 2u);
  const char *texts[] = {"first", "second"};
  for (int i = 0; i < 2; ++i) {
    int pid = 0, tid = 0;
    unsigned f[6] = {0, 0, 0, 0, 0, 0};
    char text[64] = "";
    ASSERT_EQ(std::sscanf(lines[i].c_str(), "[%d|%d|%u-%u-%u %u:%u:%u] %63s", &pid, &tid, &f[0],
                          &f[1], &f[2], &f[3], &f[4], &f[5], text),
              9)
        << lines[i];
    // Printed back with the widths the stamp format asked for, it must give
    // the very same line.
    char rebuilt[256];
    std::snprintf(rebuilt, sizeof rebuilt, "[%d|%d|%04u-%02u-%02u %02u:%02u:%02u] %s", pid, tid,
                  f[0], f[1], f[2], f[3], f[4], f[5], texts[i]);
    EXPECT_EQ(lines[i], rebuilt);
    EXPECT_EQ(pid, tOSSYSCALLS::GetCurrentProcessId());
    EXPECT_EQ(tid, tOSSYSCALLS::GetCurrentThreadId());
    tDATETIME stamped(tDATE(f[0], f[1], f[2]), tTIME(f[3], f[4], f[5]));
    EXPECT_TRUE(stamped.IsValid());
    EXPECT_TRUE(before <= stamped && stamped <= after) << lines[i];
  }
}

TEST(LogStamp, NotWrittenForRefusedOrNestedRecords) {
  LogCapture log(0xC0, "os", "<stamp> ");
  EXPECT_FALSE(Record("os", 0x01, "refused by level"));
  EXPECT_FALSE(Record("app", 0xC0, "refused by label"));
  EXPECT_EQ(log.Text(), "");
  ASSERT_NE(tLOGMGR::Begin("os", 0xC0), 0);
  EXPECT_EQ(tLOGMGR::Begin("os", 0xC0), 0);  // nested: refused, no stamp
  *tLOGMGR::pLogFile << "outer\n";
  tLOGMGR::End();
  EXPECT_EQ(log.Text(), "<stamp> outer\n");
}

TEST(LogStamp, TextWrittenAroundTheGateHasNone) {
  LogCapture log(0xFFFFFFFF, nullptr, "<stamp> ");
  // What the log manager's start, level and stop lines do: straight to the
  // stream, not through Begin.
  *tLOGMGR::pLogFile << "start line\n";
  ASSERT_TRUE(Record(nullptr, 0, "record"));
  EXPECT_EQ(log.Text(), "start line\n<stamp> record\n");
}

TEST(LogStamp, ANullOrEmptyFormatMeansNoStamp) {
  {
    LogCapture log(0xFFFFFFFF, nullptr, "");
    ASSERT_TRUE(Record(nullptr, 0, "plain"));
    EXPECT_EQ(log.Text(), "plain\n");
  }
  {
    LogCapture log(0xFFFFFFFF, nullptr, "<stamp> ");
    tLOGMGR::SetStampFmt(nullptr);
    EXPECT_EQ(tLOGMGR::pStampStr, nullptr);
    ASSERT_TRUE(Record(nullptr, 0, "plain"));
    EXPECT_EQ(log.Text(), "plain\n");
  }
}

TEST(LogStamp, SetStampFmtKeepsItsOwnCopy) {
  LogCapture log;
  char format[] = "<%5'%02u'> ";
  tLOGMGR::SetStampFmt(format);
  std::strcpy(format, "changed ");
  ASSERT_NE(tLOGMGR::pStampStr, nullptr);
  EXPECT_STREQ(tLOGMGR::pStampStr, "<%5'%02u'> ");
  ASSERT_TRUE(Record(nullptr, 0, "x"));
  unsigned hour = 99;
  ASSERT_EQ(std::sscanf(log.Text().c_str(), "<%u>", &hour), 1) << log.Text();
  char expected[32];
  std::snprintf(expected, sizeof expected, "<%02u> x\n", hour);
  EXPECT_EQ(log.Text(), expected);
  EXPECT_LT(hour, 24u);
}

TEST(LogStamp, ANewFormatTakesEffectAtTheNextRecord) {
  LogCapture log(0xFFFFFFFF, nullptr, "<a> ");
  ASSERT_TRUE(Record(nullptr, 0, "one"));
  ASSERT_TRUE(Record(nullptr, 0, "two"));
  tLOGMGR::SetStampFmt("<b> ");
  ASSERT_TRUE(Record(nullptr, 0, "three"));
  tLOGMGR::SetStampFmt("<a> ");
  ASSERT_TRUE(Record(nullptr, 0, "four"));
  EXPECT_EQ(log.Text(), "<a> one\n<a> two\n<b> three\n<a> four\n");
}

TEST(LogStamp, EachThreadStampsWithItsOwnId) {
  LogCapture log(0xFFFFFFFF, nullptr, "%1 ");
  ASSERT_TRUE(Record(nullptr, 0, "main"));
  int other_id = 0;
  kelcore_test::RunInFreshThread([&other_id] {
    other_id = tOSSYSCALLS::GetCurrentThreadId();
    ASSERT_TRUE(Record(nullptr, 0, "other"));
  });
  ASSERT_TRUE(Record(nullptr, 0, "main"));
  std::string main_id = std::to_string(tOSSYSCALLS::GetCurrentThreadId());
  EXPECT_EQ(log.Text(), main_id + " main\n" + std::to_string(other_id) + " other\n" + main_id +
                            " main\n");
}

TEST(LogStamp, AStampBuiltWithoutMemoryIsNotReused) {
  kelcore_test::RunInFreshThread([] {
    LogCapture log(0xFFFFFFFF, nullptr, "%1'%d'|%2'%u' ");
    {
      kelcore_test::ScopedAllocFailure fail(1, true);
      ASSERT_TRUE(Record(nullptr, 0, "starved"));
    }
    ASSERT_TRUE(Record(nullptr, 0, "fed"));
    std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    tDATETIME now;
    now.SetToCurrent();
    std::string good = std::to_string(tOSSYSCALLS::GetCurrentThreadId()) + "|";
    EXPECT_NE(lines[0].rfind(good, 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind(good, 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find(" fed"), std::string::npos) << lines[1];
  });
}

TEST(LogStamp, LeavesTheThreadsLastErrorAlone) {
  kelcore_test::RunInFreshThread([] {
    LogCapture log(0xFFFFFFFF, nullptr, kFullStamp);
    ASSERT_TRUE(Record(nullptr, 0, "no last error yet"));
    EXPECT_EQ(tTHREAD::GetLastError(), nullptr);
    CountedMsg *msg = new CountedMsg("standing");
    tTHREAD::SetLastError(*msg);
    log.Clear();
    int live = CountedMsg::live;
    ASSERT_TRUE(Record(nullptr, 0, "stamped"));
    EXPECT_EQ(tTHREAD::GetLastError(), msg);
    EXPECT_EQ(CountedMsg::live, live);
    tTHREAD::SetLastError(NULL);
  });
}

TEST(LogStamp, RecordsFromManyThreadsStayWhole) {
  const int kThreads = 8, kRecords = 300;
  LogCapture log(0xC0, nullptr, "[%1] ");
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([i] {
      for (int r = 0; r < kRecords; ++r) {
        if (tLOGMGR::pLogFile != nullptr && tLOGMGR::Begin("os", 0xC0)) {
          *tLOGMGR::pLogFile << "thread " << i << " record " << r << '\n';
          tLOGMGR::End();
        }
      }
    });
  }
  for (std::thread &t : threads) t.join();
  std::vector<std::string> lines = log.Lines();
  EXPECT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kRecords));
  for (const std::string &line : lines) {
    int tid = 0, thread = 0, record = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "[%d] thread %d record %d", &tid, &thread, &record), 3)
        << line;
    EXPECT_EQ(line, "[" + std::to_string(tid) + "] thread " + std::to_string(thread) + " record " +
                        std::to_string(record));
  }
}

// --- allocation failure --------------------------------------------------------------

TEST(LogAllocFailure, WithoutMemoryForTheCopyThereIsNoStamp) {
  LogCapture log;
  {
    kelcore_test::ScopedAllocFailure fail(1);
    tLOGMGR::SetStampFmt("<stamp> ");
  }
  EXPECT_EQ(tLOGMGR::pStampStr, nullptr);
  ASSERT_TRUE(Record(nullptr, 0, "plain"));
  EXPECT_EQ(log.Text(), "plain\n");
}

TEST(LogAllocFailure, AStampedRecordIsAlwaysOneLine) {
  kelcore_test::RunInFreshThread([] {
    LogCapture log(0xFFFFFFFF, nullptr, kFullStamp);
    CountedMsg *msg = new CountedMsg("standing");
    tTHREAD::SetLastError(*msg);
    int live = CountedMsg::live;
    std::size_t runs = 0;
    std::size_t allocations = kelcore_test::SweepAllocFailures([&] {
      log.Clear();
      // A new format each time, so no stamp is reused from the run before.
      tLOGMGR::SetStampFmt(kFullStamp);
      ASSERT_TRUE(Record(nullptr, 0, "text"));
      std::vector<std::string> lines = log.Lines();
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_NE(lines[0].find("text"), std::string::npos);
      EXPECT_EQ(tTHREAD::GetLastError(), msg);
      ++runs;
    });
    EXPECT_GT(allocations, 0u);
    EXPECT_EQ(runs, allocations + 1);
    EXPECT_EQ(CountedMsg::live, live);
    tTHREAD::SetLastError(NULL);
  });
}

}  // namespace
