// The lock facets and the scoped holder within one process.
#include "kelcore/sync/lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/alloc_failure.h"
#include "tests/support/child_process.h"
#include "tests/sync/lock_test_support.h"

namespace {

using kelcore_test::kGraceMs;
using kelcore_test::Locker;
using kelcore_test::SleepMs;
using kelcore_test::UniqueLockName;

// Every lock that excludes other threads, behind the common interface.
struct ExclusiveKind {
  const char *label;
  std::shared_ptr<tPHYSYNCOBJ> (*make)();
  bool abandoned_on_thread_exit;  // a mutex passes on when its holder thread ends
  int rounds;                     // per thread where threads compete (mutexes are slower)
};

std::shared_ptr<tPHYSYNCOBJ> MakeIntra() { return std::make_shared<tINTRA_PROCESS_LOCK>(); }
std::shared_ptr<tPHYSYNCOBJ> MakeNamed() {
  return std::make_shared<tINTER_PROCESS_LOCK>(UniqueLockName("kind").c_str());
}
std::shared_ptr<tPHYSYNCOBJ> MakeUnnamed() {
  return std::make_shared<tINTER_PROCESS_LOCK>(nullptr);
}

const ExclusiveKind kKinds[] = {
    {"intra_process", &MakeIntra, false, 20000},
    {"inter_process_named", &MakeNamed, true, 500},
    {"inter_process_unnamed", &MakeUnnamed, true, 500},
};

class ExclusiveLockTest : public ::testing::TestWithParam<ExclusiveKind> {};

TEST_P(ExclusiveLockTest, KeepsAnotherThreadOutUntilReleased) {
  std::shared_ptr<tPHYSYNCOBJ> lock = GetParam().make();
  lock->LockObject();
  Locker other(lock);
  SleepMs(kGraceMs);
  EXPECT_FALSE(other.Acquired());
  lock->UnlockObject();
  EXPECT_TRUE(other.WaitAcquired());
}

TEST_P(ExclusiveLockTest, HolderMayLockAgainAndEveryHoldMustBeReleased) {
  std::shared_ptr<tPHYSYNCOBJ> lock = GetParam().make();
  for (int i = 0; i < 3; ++i) lock->LockObject();
  Locker other(lock);
  lock->UnlockObject();
  lock->UnlockObject();
  SleepMs(kGraceMs);
  EXPECT_FALSE(other.Acquired()) << "one hold is left";
  lock->UnlockObject();
  EXPECT_TRUE(other.WaitAcquired());
}

TEST_P(ExclusiveLockTest, WaiterThatGetsInMayLockAgain) {
  std::shared_ptr<tPHYSYNCOBJ> lock = GetParam().make();
  lock->LockObject();
  Locker other(lock, 3);
  lock->UnlockObject();
  EXPECT_TRUE(other.WaitAcquired());
  EXPECT_TRUE(other.Release());
  // Released all three holds: the lock is free again.
  lock->LockObject();
  lock->UnlockObject();
}

TEST_P(ExclusiveLockTest, NestedObjectLocksInOneThreadDoNotDeadlock) {
  std::shared_ptr<tPHYSYNCOBJ> lock = GetParam().make();
  std::unique_ptr<Locker> other;
  {
    tOBJECT_LOCK outer(*lock);
    {
      tOBJECT_LOCK middle(*lock);
      { tOBJECT_LOCK inner(*lock); }
    }
    other.reset(new Locker(lock));
    SleepMs(kGraceMs);
    EXPECT_FALSE(other->Acquired()) << "the outer holder still holds it";
  }
  EXPECT_TRUE(other->WaitAcquired());
}

// A counter that is not atomic and a check that no two threads are inside
// at once: both go wrong without mutual exclusion, and ThreadSanitizer
// reports the counter's race.
TEST_P(ExclusiveLockTest, ThreadsNeverOverlapInside) {
  std::shared_ptr<tPHYSYNCOBJ> lock = GetParam().make();
  const int kThreads = 3;
  const int kRounds = GetParam().rounds;
  long counter = 0;
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        tOBJECT_LOCK hold(*lock);
        if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
        long seen = counter;
        if (i % 64 == 0) std::this_thread::yield();
        counter = seen + 1;
        inside.fetch_sub(1);
      }
    });
  }
  for (auto &t : threads) t.join();
  EXPECT_EQ(counter, static_cast<long>(kThreads) * kRounds);
  EXPECT_EQ(overlaps.load(), 0);
}

TEST_P(ExclusiveLockTest, HolderThreadEndingWithoutReleasing) {
  if (!GetParam().abandoned_on_thread_exit) {
    GTEST_SKIP() << "a critical section stays held when its owner thread ends";
  }
  std::shared_ptr<tPHYSYNCOBJ> lock = GetParam().make();
  std::thread([lock] { lock->LockObject(); }).join();
  // The mutex was abandoned: the next waiter takes it over.
  Locker other(lock);
  EXPECT_TRUE(other.WaitAcquired());
  EXPECT_TRUE(other.Release());
  lock->LockObject();
  lock->UnlockObject();
}

INSTANTIATE_TEST_SUITE_P(Kinds, ExclusiveLockTest, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<ExclusiveKind> &info) {
                           return std::string(info.param.label);
                         });

TEST(NoSyncTest, ObjectLockOnItHasNoEffect) {
  std::shared_ptr<tNOSYNC> none = std::make_shared<tNOSYNC>();
  tOBJECT_LOCK hold(*none);
  none->LockObject();
  Locker other(none);
  EXPECT_TRUE(other.WaitAcquired()) << "tNOSYNC must never block";
  none->UnlockObject();
}

TEST(NoSyncTest, UnlockWithoutLockIsHarmless) {
  tNOSYNC none;
  none.UnlockObject();
  none.UnlockObject();
  none.LockObject();
}

// Counts calls, to see what the holder does.
class CountingLock : public tPHYSYNCOBJ {
 public:
  void LockObject() { ++locks; }
  void UnlockObject() { ++unlocks; }
  int locks = 0;
  int unlocks = 0;
};

TEST(ObjectLockTest, LocksOnceAndUnlocksOnceAtScopeEnd) {
  CountingLock counting;
  {
    tOBJECT_LOCK hold(counting);
    EXPECT_EQ(counting.locks, 1);
    EXPECT_EQ(counting.unlocks, 0);
  }
  EXPECT_EQ(counting.locks, 1);
  EXPECT_EQ(counting.unlocks, 1);
}

#if !defined(KELCORE_TEST_UBSAN)
tPHYSYNCOBJ *NoLock() {
  static tPHYSYNCOBJ *volatile none = nullptr;
  return none;
}
#endif

TEST(ObjectLockTest, OnNullReferenceDoesNothing) {
#if defined(KELCORE_TEST_UBSAN)
  GTEST_SKIP() << "binds a reference to null on purpose";
#else
  tOBJECT_LOCK hold(*NoLock());
  SUCCEED();
#endif
}

// --- out of memory: the lock holds nothing and does nothing -------------

TEST(LockOutOfMemoryTest, IntraProcessLockWithoutSectionDoesNothing) {
  std::shared_ptr<tINTRA_PROCESS_LOCK> lock;
  {
    kelcore_test::ScopedAllocFailure fail(1);
    lock = std::make_shared<tINTRA_PROCESS_LOCK>();  // the lock's own allocation fails
    ASSERT_TRUE(fail.Triggered());
  }
  lock->LockObject();
  Locker other(lock);
  EXPECT_TRUE(other.WaitAcquired()) << "a lock without a primitive never blocks";
  lock->UnlockObject();
}

TEST(LockOutOfMemoryTest, InterProcessLockWithoutMutexDoesNothing) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows creates the mutex without the library's allocator";
#else
  std::string name = UniqueLockName("oom");
  std::shared_ptr<tINTER_PROCESS_LOCK> lock;
  {
    kelcore_test::ScopedAllocFailure fail(1, true);
    lock = std::make_shared<tINTER_PROCESS_LOCK>(name.c_str());
    ASSERT_TRUE(fail.Triggered());
  }
  lock->LockObject();
  Locker other(lock);
  EXPECT_TRUE(other.WaitAcquired());
  lock->UnlockObject();
#endif
}

// Every single allocation that can fail, for a fresh name and for a name
// already open in the process: nothing leaks or crashes, and a lock that
// was created still works.
TEST(LockOutOfMemoryTest, EveryAllocationFailureOfANamedLock) {
  std::string name = UniqueLockName("sweep");
  kelcore_test::SweepAllocFailures([&] {
    tINTER_PROCESS_LOCK lock(name.c_str());
    lock.LockObject();
    lock.LockObject();
    lock.UnlockObject();
    lock.UnlockObject();
  });
  tINTER_PROCESS_LOCK first(name.c_str());
  std::size_t count = kelcore_test::SweepAllocFailures([&] {
    tINTER_PROCESS_LOCK second(name.c_str());
    second.LockObject();
    first.LockObject();
    first.UnlockObject();
    second.UnlockObject();
  });
#if !defined(_WIN32)
  EXPECT_GE(count, 1u);
#else
  (void)count;
#endif
  // The failures left the name's shared state intact.
  std::shared_ptr<tINTER_PROCESS_LOCK> other = std::make_shared<tINTER_PROCESS_LOCK>(name.c_str());
  first.LockObject();
  Locker waiter(other);
  SleepMs(kGraceMs);
  EXPECT_FALSE(waiter.Acquired());
  first.UnlockObject();
  EXPECT_TRUE(waiter.WaitAcquired());
}

TEST(LockOutOfMemoryTest, EveryAllocationFailureOfAnIntraProcessLock) {
  std::size_t count = kelcore_test::SweepAllocFailures([] {
    tINTRA_PROCESS_LOCK lock;
    tOBJECT_LOCK hold(lock);
    lock.LockObject();
    lock.UnlockObject();
  });
  EXPECT_EQ(count, 1u);
}

}  // namespace
