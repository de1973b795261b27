// The log's record gate (level bits, class labels, the lock, nesting,
// suspending, stamps) and the "thread" records that every change of a
// thread's last error writes.
#include <gtest/gtest.h>

#include <cstdio>
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

namespace {

using kelcore_test::LogCapture;
using Lines = std::vector<std::string>;

const char kFullStamp[] = "[%0|%1|%2'%04u'-%3'%02u'-%4'%02u' %5'%02u':%6'%02u':%7'%02u'] ";

// One record through the protocol every module uses; true if it was written.
bool Record(const char *label, unsigned int levels, const char *text = "record") {
  if (tLOGMGR::pLogFile == nullptr || !tLOGMGR::Begin(label, levels)) return false;
  *tLOGMGR::pLogFile << text << '\n';
  tLOGMGR::End();
  return true;
}

// The pointer form, so that null is never bound to a reference.
void SetLastError(tMSG *msg) { tTHREAD::SetLastError(msg); }

TEST(LogGate, GrantsOnlyWhenEveryRequestedBitIsEnabled) {
  // Mask, requested levels, granted.
  const unsigned int cases[][3] = {
      {0xC4, 0xC0, 1}, {0xC4, 0x01, 0}, {0xC4, 0, 1},         {0xC0, 0xC4, 0},
      {0, 1, 0},       {0x10, 0x30, 0}, {~0u, 0x80000000, 1}, {0x7FFFFFFF, 0x80000000, 0}};
  for (const auto &c : cases) {
    LogCapture log(c[0]);
    EXPECT_EQ(c[2] != 0, Record(nullptr, c[1])) << std::hex << c[0] << ", " << c[1];
  }
}

TEST(LogGate, MatchesClassLabelsByPrefix) {
  // Items are prefixes of the label; an empty item, wherever it is, accepts
  // every label.
  const struct {
    const char *class_names, *label;
    bool accepted;
  } cases[] = {
      {"os;thread", nullptr, true}, {nullptr, "app", true},      {"", "app", true},
      {"os;thread", "os", true},    {"os;thread", "osx", true},  {"os;thread", "threads", true},
      {"os;thread", "app", false},  {"os;thread", "o", false},   {"os;thread", "", false},
      {"os;thread", "OS", false},   {"os;thread", "xos", false}, {"thread", "threa", false},
      {"os;", "app", true},         {"os;;thread", "app", true}, {";os", "app", true},
      {"os;;", "", true}};
  for (const auto &c : cases) {
    LogCapture log(~0u, c.class_names);
    EXPECT_EQ(c.accepted, tLOGMGR::Match(c.label) != 0) << c.class_names << " / " << c.label;
  }
}

// A lock that counts how often and how deeply it is held.
class CountingLock : public tPHYSYNCOBJ {
 public:
  explicit CountingLock(int *destroyed) : destroyed_(destroyed) {}
  ~CountingLock() { ++*destroyed_; }
  void LockObject() { ++held, ++taken; }
  void UnlockObject() { --held; }
  int held = 0, taken = 0;

 private:
  int *destroyed_;
};

TEST(LogGate, HoldsTheLockFromBeginToEndOnlyAndRefusesNestedRecords) {
  LogCapture log(0xC4);
  std::ostream *stream = tLOGMGR::pLogFile;
  tLOGMGR::Resume();  // without Suspend: nothing changes
  EXPECT_EQ(stream, tLOGMGR::pLogFile);
  int destroyed = 0;
  CountingLock *lock = new CountingLock(&destroyed);
  tLOGMGR::SetSyncObj(lock);
  tLOGMGR::SetSyncObj(lock);  // the same object again: kept
  ASSERT_NE(0, tLOGMGR::Begin("outer", 0));
  EXPECT_EQ(0, tLOGMGR::Begin("inner", 0));  // refused, and its lock released
  EXPECT_EQ(1, lock->held);
  *tLOGMGR::pLogFile << "outer\n";
  tLOGMGR::End();
  EXPECT_FALSE(Record("thread", 0x01));  // refused: taken and given back
  tLOGMGR::Suspend();
  EXPECT_EQ(0, tLOGMGR::Begin(nullptr, 0));  // even while logging is off
  tLOGMGR::Resume();
  EXPECT_EQ(4, lock->taken);
  EXPECT_EQ(0, lock->held);
  tLOGMGR::SetSyncObj(nullptr);  // the replaced lock is destroyed; no lock works as well
  EXPECT_EQ(1, destroyed);
  EXPECT_TRUE(Record(nullptr, 0, "unlocked"));
  tLOGMGR::Suspend();  // twice: Resume finds no stream put aside
  tLOGMGR::Suspend();
  tLOGMGR::Resume();
  EXPECT_EQ(nullptr, tLOGMGR::pLogFile);
  EXPECT_EQ("outer\nunlocked\n", log.Text());
}

TEST(LogStamp, CarriesProcessThreadLocalDateAndTime) {
  LogCapture log(~0u, nullptr, kFullStamp);
  tDATETIME before, after;
  before.SetToCurrent();
  ASSERT_TRUE(Record(nullptr, 0, "text"));
  after.SetToCurrent();
  // The record's second is the one before or the one after it.
  auto line = [](const tDATETIME &t) {
    char text[128];
    std::snprintf(text, sizeof text, "[%d|%d|%04u-%02u-%02u %02u:%02u:%02u] text\n",
                  tOSSYSCALLS::GetCurrentProcessId(), tOSSYSCALLS::GetCurrentThreadId(),
                  t.Date.Year, t.Date.Month, t.Date.Day, t.Time.Hour, t.Time.Minute, t.Time.Second);
    return std::string(text);
  };
  EXPECT_TRUE(log.Text() == line(before) || log.Text() == line(after)) << log.Text();
}

TEST(LogStamp, OnlyGrantedRecordsAreStamped) {
  LogCapture log(0xC0, "os", "<a> ");
  EXPECT_FALSE(Record("os", 0x01));   // refused by level
  EXPECT_FALSE(Record("app", 0xC0));  // refused by label
  ASSERT_NE(0, tLOGMGR::Begin("os", 0xC0));
  EXPECT_EQ(0, tLOGMGR::Begin("os", 0xC0));  // nested: refused
  *tLOGMGR::pLogFile << "one\n";
  tLOGMGR::End();
  *tLOGMGR::pLogFile << "start line\n";  // as the log's start, level and stop lines: no stamp
  char format[] = "<%0> ";
  tLOGMGR::SetStampFmt(format);  // takes effect at the next record, as a copy
  format[1] = 'x';
  {
    kelcore_test::ScopedAllocFailure fail(1);  // the stamp's first parameter
    EXPECT_TRUE(Record("os", 0xC0, "starved"));  // a stamp built so is not kept
  }
  EXPECT_TRUE(Record("os", 0xC0, "two"));
  // pStampStr is exported data: a program may point it elsewhere, or change the text it points to.
  char *owned = tLOGMGR::pStampStr, direct[] = "{%0} ";
  tLOGMGR::pStampStr = direct;
  EXPECT_TRUE(Record("os", 0xC0, "three"));
  direct[0] = '(';
  EXPECT_TRUE(Record("os", 0xC0, "four"));
  tLOGMGR::pStampStr = owned;
  for (const char *none : {"", static_cast<const char *>(nullptr)}) {
    tLOGMGR::SetStampFmt(none);
    EXPECT_TRUE(Record("os", 0xC0, "plain"));
  }
  const std::string pid = std::to_string(tOSSYSCALLS::GetCurrentProcessId());
  EXPECT_EQ(Lines({"<a> one", "start line", "<NULL> starved", "<" + pid + "> two", "{" + pid + "} three",
                   "(" + pid + "} four", "plain", "plain"}),
            log.Lines());
}

void StampedRecordsWithEveryAllocationFailing() {
  LogCapture log(~0u, nullptr, kFullStamp);
  const std::size_t allocations = kelcore_test::SweepAllocFailures([&log] {
    tLOGMGR::SetStampFmt(kFullStamp);  // no stamp kept from the run before
    tMSG *msg = new (std::nothrow) tMSGSTR("swept %0", "test error", tMSG::eERROR);
    if (msg != nullptr) tTHREAD::SetLastError(*msg << 42);
    tMSG *kept = tTHREAD::GetLastError();
    log.Clear();
    ASSERT_TRUE(Record(nullptr, 0, "text"));
    EXPECT_EQ(1u, log.Lines().size());  // whatever fails, one line
    EXPECT_EQ(kept, tTHREAD::GetLastError());
    SetLastError(nullptr);
    tTHREAD::DeleteAutoThreadObject();
  });
  EXPECT_GT(allocations, 0u);
}

TEST(LogStamp, EveryAllocationFailingInTurn) {
  std::thread fresh(StampedRecordsWithEveryAllocationFailing);  // has never used the library
  fresh.join();
}

TEST(ThreadRecords, EveryChangeOfTheLastErrorIsLogged) {
  LogCapture log(0xC4, "thread");
  tTHREAD::SetLastError(*new tMSGSTR("cannot open %0", "test error", tMSG::eERROR) << "a.txt");
  tMSG::Dispose(tTHREAD::TakeOwnershipOfLastError());  // taking it is no change
  tTHREAD::SetLastError(tERRMSG::OutOfMemory);
  SetLastError(nullptr);
  tLOGMGR::Suspend();
  tTHREAD::SetLastError(*new tMSGSTR("quiet", "test error", tMSG::eERROR));
  tLOGMGR::Resume();
  // They ask for levels 0xC4 and the label "thread".
  for (unsigned int mask : {0xC0u, 0x04u, 0xC4u}) {
    tLOGMGR::LevelMask = mask;
    tLOGMGR::pClassNames = mask == 0xC4 ? "os;app" : nullptr;
    SetLastError(nullptr);
  }
  EXPECT_EQ(Lines({"SetLastError(\"cannot open a.txt\")", "SetLastError(\"Out of memory\")",
                   "SetLastError(NULL)"}),
            log.Lines());
}

TEST(ThreadRecords, ManyThreadsLogTheirChangesWholeWithTheirOwnStamps) {
  const int kThreads = 16, kRounds = 200;
  LogCapture log(0xC4, "thread", "[%1] ");
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([] {
      const std::string id = std::to_string(tOSSYSCALLS::GetCurrentThreadId());
      for (int r = 0; r < kRounds; ++r) {
        tTHREAD::SetLastError(*new tMSGSTR(id.c_str(), "test error", tMSG::eERROR));
        SetLastError(nullptr);
      }
    });
  }
  for (std::thread &t : threads) t.join();
  const Lines lines = log.Lines();
  EXPECT_EQ(2u * kThreads * kRounds, lines.size());
  for (const std::string &line : lines) {
    const std::string id = line.substr(1, line.find(']') - 1);
    EXPECT_TRUE(line == "[" + id + "] SetLastError(\"" + id + "\")" ||
                line == "[" + id + "] SetLastError(NULL)")
        << line;
  }
}

}  // namespace
