// Region locks of operating-system files: the region list, the
// whole-regions-only unlock rule, and exclusion between handles of one
// process and between processes.
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/physical/os_file_test_util.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/child_process.h"

namespace physical_test {
namespace {

const unsigned int RW = tFILEDEFS::MODE_READWRITE;
const unsigned int NOWAIT = tFILEDEFS::LOCK_NOWAIT;
const unsigned int SHARED = tFILEDEFS::LOCK_SHARED;
// How long a test lets a waiting lock try to get in where it must not:
// long enough to catch a lock that lets it through, never a cause of
// failure for one that works.
const int kGraceMs = 100;

unsigned long ToUlong(const std::string &s) { return std::strtoul(s.c_str(), nullptr, 10); }

// Child: opens args[0], locks (args[1], args[2], args[3]), creates args[4]
// and holds the lock until args[5] exists.
KELCORE_CHILD_MAIN(os_file_lock_holder) {
  tOSFILE f;
  f.SetName(args[0].c_str());
  if (f.OpenExisting(tFILEDEFS::MODE_READWRITE, 1) != 0) return 10;
  unsigned int status =
      f.LockRegion(ToUlong(args[1]), ToUlong(args[2]), static_cast<unsigned int>(ToUlong(args[3])));
  if (status != 0) return 11;
  kelcore_test::TouchFile(args[4]);
  if (!kelcore_test::WaitForFile(args[5], 60000)) return 12;
  return f.Close() == 0 ? 0 : 13;
}

// Child: opens args[0], creates args[4], then waits for the lock (args[1],
// args[2], args[3]) and creates args[5] once it has it.
KELCORE_CHILD_MAIN(os_file_lock_waiter) {
  tOSFILE f;
  f.SetName(args[0].c_str());
  if (f.OpenExisting(tFILEDEFS::MODE_READWRITE, 1) != 0) return 10;
  kelcore_test::TouchFile(args[4]);
  unsigned int status =
      f.LockRegion(ToUlong(args[1]), ToUlong(args[2]), static_cast<unsigned int>(ToUlong(args[3])));
  if (status != 0) return 11;
  kelcore_test::TouchFile(args[5]);
  return f.Close() == 0 ? 0 : 13;
}

class RegionLockTest : public OsFileTest {
 protected:
  void SetUp() override {
    OsFileTest::SetUp();
    path_ = MakeFile("locks.dat", std::string(400, 'x'));
    a_.SetName(path_.c_str());
    b_.SetName(path_.c_str());
    ASSERT_EQ(0u, a_.OpenExisting(RW, 1));
    ASSERT_EQ(0u, b_.OpenExisting(RW, 1));
  }
  void TearDown() override {
    if (a_.GetFileHandle() != -1) a_.Close();
    if (b_.GetFileHandle() != -1) b_.Close();
    OsFileTest::TearDown();
  }
  // Whether handle b can take an exclusive lock on the range right now
  // (taken and given back at once).
  bool BCanLock(unsigned long offset, unsigned long bytes, unsigned int mode = 0) {
    unsigned int s = b_.LockRegion(offset, bytes, mode | NOWAIT);
    if (s == 0) {
      EXPECT_EQ(0u, b_.UnlockRegion(offset, bytes));
      return true;
    }
    EXPECT_EQ(6u, s) << GetLast().text;
    return false;
  }
  std::vector<std::string> ChildArgs(unsigned long offset, unsigned long bytes, unsigned int mode,
                                     const char *first, const char *second) {
    return {path_, std::to_string(offset), std::to_string(bytes), std::to_string(mode),
            Path(first), Path(second)};
  }

  std::string path_;
  tOSFILE a_;
  tOSFILE b_;
};

TEST_F(RegionLockTest, WholeFileLockAndUnlock) {
  ASSERT_EQ(0u, a_.LockRegion(0, 0, 0));
  EXPECT_FALSE(BCanLock(0, 1));
  EXPECT_FALSE(BCanLock(399, 1));
  // "To the end" means every possible offset, not just the current size.
  EXPECT_FALSE(BCanLock(1000000, 1));
  EXPECT_EQ(0u, a_.UnlockRegion(0, 0));
  EXPECT_TRUE(BCanLock(0, 0));
}

TEST_F(RegionLockTest, LockViolationCarriesStatusSixAndTheName) {
  ASSERT_EQ(0u, a_.LockRegion(100, 50, 0));
  EXPECT_EQ(6u, b_.LockRegion(120, 1, NOWAIT));
  LastError e = GetLast();
  ASSERT_TRUE(e.isOsMessage);
  EXPECT_EQ(7u, e.number);
  EXPECT_EQ(kErrLockViolation, e.sysErr);
  ASSERT_EQ(1u, e.names.size());
  EXPECT_EQ(path_, e.names[0]);
  // Neighbours are free.
  EXPECT_TRUE(BCanLock(0, 100));
  EXPECT_TRUE(BCanLock(150, 10));
}

TEST_F(RegionLockTest, TheSameHandleCannotLockOverItsOwnExclusiveRegion) {
  ASSERT_EQ(0u, a_.LockRegion(0, 100, 0));
  EXPECT_EQ(6u, a_.LockRegion(50, 10, NOWAIT));
  // A shared lock over one's own exclusive region is refused as the Win32
  // documentation describes (Wine allows it; on POSIX systems it would
  // weaken the exclusive lock, so it must be refused there).
  if (!RunningUnderWine()) {
    EXPECT_EQ(6u, a_.LockRegion(50, 10, NOWAIT | SHARED));
  }
  EXPECT_EQ(0u, a_.LockRegion(100, 10, NOWAIT));
}

TEST_F(RegionLockTest, SharedLocksCoexistAndKeepWritersOut) {
  ASSERT_EQ(0u, a_.LockRegion(0, 60, SHARED));
  EXPECT_EQ(0u, b_.LockRegion(50, 100, SHARED | NOWAIT));
  EXPECT_FALSE(BCanLock(0, 10));
  EXPECT_EQ(0u, b_.UnlockRegion(50, 100));
  // The same handle may hold overlapping shared regions; dropping one
  // keeps the other in force where they overlap.
  EXPECT_EQ(0u, a_.LockRegion(50, 50, SHARED | NOWAIT));
  EXPECT_EQ(3u, a_.UnlockRegion(0, 60));  // 0..59 goes, 50..99 stops the walk
  EXPECT_FALSE(BCanLock(50, 10));
  EXPECT_TRUE(BCanLock(0, 50));
  EXPECT_EQ(0u, a_.UnlockRegion(50, 50));
  EXPECT_TRUE(BCanLock(0, 100));
}

TEST_F(RegionLockTest, RegionListUnlocksWholeRegionsOnly) {
  ASSERT_EQ(0u, a_.LockRegion(0, 100, 0));
  ASSERT_EQ(0u, a_.LockRegion(200, 100, 0));
  // Part of a region: refused, nothing changes.
  EXPECT_EQ(3u, a_.UnlockRegion(50, 10));
  LastError e = GetLast();
  EXPECT_EQ(8u, e.number);
  EXPECT_EQ(kErrAccessDenied, e.sysErr);
  EXPECT_FALSE(BCanLock(0, 1));
  EXPECT_FALSE(BCanLock(50, 10));
  // Nothing locked there: success, nothing done.
  EXPECT_EQ(0u, a_.UnlockRegion(120, 50));
  EXPECT_FALSE(BCanLock(200, 1));
  // One request covering both regions unlocks both.
  EXPECT_EQ(0u, a_.UnlockRegion(0, 300));
  EXPECT_TRUE(BCanLock(0, 300));
  // They are gone from the list too.
  EXPECT_EQ(0u, a_.UnlockRegion(0, 300));
}

TEST_F(RegionLockTest, UnlockStopsAtTheFirstPartialRegion) {
  ASSERT_EQ(0u, a_.LockRegion(0, 10, 0));
  ASSERT_EQ(0u, a_.LockRegion(20, 100, 0));
  // The first region lies inside and is unlocked; the second does not.
  EXPECT_EQ(3u, a_.UnlockRegion(0, 50));
  EXPECT_TRUE(BCanLock(0, 10));
  EXPECT_FALSE(BCanLock(20, 1));
  EXPECT_EQ(0u, a_.UnlockRegion(0, 0));
  EXPECT_TRUE(BCanLock(20, 100));
}

TEST_F(RegionLockTest, ZeroLengthUnlockCoversTheRestOfTheRange) {
  ASSERT_EQ(0u, a_.LockRegion(10, 5, 0));
  ASSERT_EQ(0u, a_.LockRegion(300, 0, 0));  // to the end
  EXPECT_EQ(3u, a_.UnlockRegion(12, 0));    // 10..14 only partly inside
  EXPECT_EQ(0u, a_.UnlockRegion(10, 0));
  EXPECT_TRUE(BCanLock(0, 0));
}

TEST_F(RegionLockTest, ALengthPastTheEndOfTheRangeMeansToTheEnd) {
  unsigned long huge = static_cast<unsigned long>(-1);
  ASSERT_EQ(0u, a_.LockRegion(100, huge, 0));
  EXPECT_FALSE(BCanLock(5000000, 1));
  EXPECT_TRUE(BCanLock(0, 100));
  EXPECT_EQ(0u, a_.UnlockRegion(100, 0));
  EXPECT_TRUE(BCanLock(100, 1));
}

TEST_F(RegionLockTest, CloseReleasesTheLocks) {
  ASSERT_EQ(0u, a_.LockRegion(0, 0, 0));
  ASSERT_EQ(0u, a_.Close());
  EXPECT_TRUE(BCanLock(0, 0));
  // The records went with the handle: after reopening there is nothing to
  // unlock.
  ASSERT_EQ(0u, a_.OpenExisting(RW, 1));
  EXPECT_EQ(0u, a_.UnlockRegion(0, 0));
}

TEST_F(RegionLockTest, AWaitingLockProceedsOnceReleasedInProcess) {
  ASSERT_EQ(0u, a_.LockRegion(0, 50, 0));
  std::atomic<int> got(0);
  std::atomic<unsigned int> status(99);
  std::thread waiter([&] {
    status = b_.LockRegion(10, 5, 0);
    got = 1;
  });
  kelcore_test::SleepMs(kGraceMs);
  EXPECT_EQ(0, got.load());
  EXPECT_EQ(0u, a_.UnlockRegion(0, 50));
  waiter.join();
  EXPECT_EQ(0u, status.load());
  EXPECT_EQ(6u, a_.LockRegion(12, 1, NOWAIT));
}

TEST_F(RegionLockTest, LockingAClosedFileFails) {
  tOSFILE closed;
  closed.SetName(path_.c_str());
  EXPECT_EQ(kFailure, closed.LockRegion(0, 10, NOWAIT));
  LastError e = GetLast();
  EXPECT_EQ(7u, e.number);
  EXPECT_EQ(kErrInvalidHandle, e.sysErr);
}

TEST_F(RegionLockTest, OutOfMemoryLeavesNoLockBehind) {
  size_t before = kelcore_test::NothrowAllocationCount();
  ASSERT_EQ(0u, a_.LockRegion(0, 100, NOWAIT));
  size_t count = kelcore_test::NothrowAllocationCount() - before;
  ASSERT_EQ(0u, a_.UnlockRegion(0, 100));
  ASSERT_GE(count, 1u);
  for (size_t n = 1; n <= count; ++n) {
    unsigned int s;
    {
      kelcore_test::ScopedAllocFailure fail(n);
      s = a_.LockRegion(0, 100, NOWAIT);
    }
    ASSERT_EQ(kFailure, s) << n;
    LastError e = GetLast();
    EXPECT_TRUE(e.outOfMemory || (e.number == 7 && e.sysErr == 8)) << e.text;
    ClearLast();
    EXPECT_TRUE(BCanLock(0, 100)) << n;
    // Nothing is left in the region list either.
    EXPECT_EQ(0u, a_.UnlockRegion(0, 0));
  }
}

// --- a second process ---------------------------------------------------------

TEST_F(RegionLockTest, NoWaitOnARegionAnotherProcessHoldsFails) {
  kelcore_test::ChildProcess child;
  ASSERT_TRUE(child.Start("os_file_lock_holder", ChildArgs(100, 50, 0, "held", "release")));
  ASSERT_TRUE(kelcore_test::WaitForFile(Path("held")));
  EXPECT_EQ(6u, a_.LockRegion(120, 10, NOWAIT));
  LastError e = GetLast();
  EXPECT_EQ(7u, e.number);
  EXPECT_EQ(kErrLockViolation, e.sysErr);
  EXPECT_EQ(6u, a_.LockRegion(0, 0, NOWAIT | SHARED));
  EXPECT_EQ(0u, a_.LockRegion(0, 100, NOWAIT));
  kelcore_test::TouchFile(Path("release"));
  EXPECT_EQ(0, child.Wait());
  EXPECT_EQ(0u, a_.LockRegion(120, 10, NOWAIT));
}

TEST_F(RegionLockTest, AWaitingLockInAnotherProcessProceedsOnceReleased) {
  ASSERT_EQ(0u, a_.LockRegion(0, 0, 0));
  kelcore_test::ChildProcess child;
  ASSERT_TRUE(child.Start("os_file_lock_waiter", ChildArgs(10, 5, 0, "started", "acquired")));
  ASSERT_TRUE(kelcore_test::WaitForFile(Path("started")));
  kelcore_test::SleepMs(kGraceMs);
  EXPECT_EQ("<missing>", Contents(Path("acquired")));
  EXPECT_EQ(0u, a_.UnlockRegion(0, 0));
  EXPECT_TRUE(kelcore_test::WaitForFile(Path("acquired")));
  EXPECT_EQ(0, child.Wait());
}

TEST_F(RegionLockTest, SharedLocksCoexistAcrossProcesses) {
  kelcore_test::ChildProcess child;
  ASSERT_TRUE(child.Start("os_file_lock_holder", ChildArgs(0, 100, SHARED, "held", "release")));
  ASSERT_TRUE(kelcore_test::WaitForFile(Path("held")));
  EXPECT_EQ(0u, a_.LockRegion(50, 100, SHARED | NOWAIT));
  EXPECT_EQ(6u, b_.LockRegion(0, 10, NOWAIT));
  kelcore_test::TouchFile(Path("release"));
  EXPECT_EQ(0, child.Wait());
  EXPECT_EQ(0u, b_.LockRegion(0, 10, NOWAIT));
}

}  // namespace
}  // namespace physical_test
