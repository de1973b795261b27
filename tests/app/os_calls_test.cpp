// tOSSYSCALLS, tVERSION and mMEGABYTES.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#if defined(_WIN32)
#  include <process.h>
#  include <windows.h>
#else
#  include <unistd.h>
#endif

#include "kelcore/app/os_calls.h"

namespace {

// --- tVERSION --------------------------------------------------------------

struct MatchCase {
  const char *a;
  const char *b;
  int match;
};

class VersionMatch : public ::testing::TestWithParam<MatchCase> {};

TEST_P(VersionMatch, ComparesFiveCharacters) {
  const MatchCase &c = GetParam();
  EXPECT_EQ(c.match != 0, tVERSION::Match(c.a, c.b) != 0)
      << (c.a ? c.a : "(null)") << " / " << (c.b ? c.b : "(null)");
  // The comparison is symmetric.
  EXPECT_EQ(c.match != 0, tVERSION::Match(c.b, c.a) != 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, VersionMatch,
    ::testing::Values(MatchCase{"A.02.00", "A.02.00", 1}, MatchCase{"A.02.00", "A.02.99", 1},
                      MatchCase{"A.02.00", "A.02.", 1}, MatchCase{"A.02.00", "A.02.00 beta", 1},
                      MatchCase{"B.01.99", "B.01.00", 1}, MatchCase{"A.02.00", "A.02", 0},
                      MatchCase{"A.02.00", "A.01.00", 0}, MatchCase{"A.02.00", "B.02.00", 0},
                      MatchCase{"B.02.00", "B.01.99", 0}, MatchCase{"a.02.00", "A.02.00", 0},
                      MatchCase{"A.02.00", "", 0}, MatchCase{"A.02", "A.02", 1},
                      MatchCase{"", "", 1}, MatchCase{nullptr, nullptr, 1},
                      MatchCase{nullptr, "", 1}, MatchCase{nullptr, "A.02.00", 0}));

// --- mMEGABYTES ------------------------------------------------------------

TEST(Megabytes, AreThousandsOfKilobytes) {
  EXPECT_EQ(0ul, mMEGABYTES(0));
  EXPECT_EQ(1024000ul, mMEGABYTES(1));
  EXPECT_EQ(2048000ul, mMEGABYTES(2));
  EXPECT_EQ(4294656000ul, mMEGABYTES(4194));  // the largest that fits 32 bits
}

TEST(Megabytes, LargeCountsFollowTheWidthOfUnsignedLong) {
  // 32 bits on Windows (wraps), 64 bits on 64-bit POSIX systems.
  const unsigned long long exact = 4195ull * 1024000ull;
  const unsigned long long want =
      sizeof(unsigned long) == 4 ? exact % 4294967296ull : exact;
  EXPECT_EQ(want, static_cast<unsigned long long>(mMEGABYTES(4195)));
}

// --- IsVersion -------------------------------------------------------------

bool Is(int v) { return tOSSYSCALLS::IsVersion(static_cast<tOSSYSCALLS::eVERSIONS>(v)) != 0; }

TEST(IsVersion, EnumeratorsNumberTheFamilies) {
  EXPECT_EQ(0, tOSSYSCALLS::eVER_OTHER);
  EXPECT_EQ(1, tOSSYSCALLS::eVER_POSIX);
  EXPECT_EQ(2, tOSSYSCALLS::eVER_WIN32S);
  EXPECT_EQ(3, tOSSYSCALLS::eVER_NT3);
  EXPECT_EQ(4, tOSSYSCALLS::eVER_NT4);
  EXPECT_EQ(5, tOSSYSCALLS::eVER_NT);
  EXPECT_EQ(6, tOSSYSCALLS::eVER_WIN9X);
  EXPECT_EQ(7, tOSSYSCALLS::eVER_WIN32);
  EXPECT_EQ(8, tOSSYSCALLS::eVER_SUPPORTED);
  EXPECT_EQ(9, tOSSYSCALLS::eVER_ANY);
}

TEST(IsVersion, EverySystemIsSupportedAndAny) {
  EXPECT_TRUE(Is(8));
  EXPECT_TRUE(Is(9));
  EXPECT_FALSE(Is(0));  // an inner node that no running system is
  EXPECT_FALSE(Is(10));
  EXPECT_FALSE(Is(-1));
}

TEST(IsVersion, RunningFamily) {
#if defined(_WIN32)
  // Every Windows in use is an NT after version 4 (Wine reports one too).
  const bool want[10] = {false, false, false, false, false, true, false, true, true, true};
#else
  // POSIX systems are their own family, outside every Windows one.
  const bool want[10] = {false, true, false, false, false, false, false, false, true, true};
#endif
  for (int v = 0; v < 10; ++v) EXPECT_EQ(want[v], Is(v)) << v;
  // The answer does not change between calls.
  for (int v = 0; v < 10; ++v) EXPECT_EQ(want[v], Is(v)) << v;
}

// --- process and thread ids ------------------------------------------------

TEST(ProcessId, IsTheCRuntimes) {
#if defined(_WIN32)
  EXPECT_EQ(_getpid(), tOSSYSCALLS::GetCurrentProcessId());
#else
  EXPECT_EQ(static_cast<int>(getpid()), tOSSYSCALLS::GetCurrentProcessId());
#endif
  int from_thread = 0;
  std::thread t([&from_thread] { from_thread = tOSSYSCALLS::GetCurrentProcessId(); });
  t.join();
  EXPECT_EQ(tOSSYSCALLS::GetCurrentProcessId(), from_thread);
}

TEST(ThreadId, StableWithinAThread) {
  const int first = tOSSYSCALLS::GetCurrentThreadId();
  EXPECT_NE(0, first);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(first, tOSSYSCALLS::GetCurrentThreadId());
#if defined(_WIN32)
  EXPECT_EQ(static_cast<int>(::GetCurrentThreadId()), first);
#endif
}

TEST(ThreadId, DiffersBetweenLiveThreads) {
  const int kThreads = 4;
  int ids[kThreads] = {};
  int again[kThreads] = {};
  std::mutex mutex;
  std::condition_variable cv;
  int arrived = 0;
  std::thread threads[kThreads];
  for (int i = 0; i < kThreads; ++i) {
    threads[i] = std::thread([&, i] {
      ids[i] = tOSSYSCALLS::GetCurrentThreadId();
      // Everybody stays alive until all have their id, so no id is reused.
      std::unique_lock<std::mutex> lock(mutex);
      ++arrived;
      cv.notify_all();
      cv.wait(lock, [&] { return arrived == kThreads; });
      again[i] = tOSSYSCALLS::GetCurrentThreadId();
    });
  }
  for (auto &t : threads) t.join();
  const int main_id = tOSSYSCALLS::GetCurrentThreadId();
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(ids[i], again[i]);
    EXPECT_NE(main_id, ids[i]);
    EXPECT_NE(0, ids[i]);
    for (int j = i + 1; j < kThreads; ++j) EXPECT_NE(ids[i], ids[j]) << i << " " << j;
  }
}

#if defined(__linux__)
TEST(ThreadId, IsTheKernelThreadIdOnLinux) {
  // The main thread's kernel id is the process id.
  EXPECT_EQ(static_cast<int>(getpid()), tOSSYSCALLS::GetCurrentThreadId());
}
#endif

// --- sleeping and the error trap -------------------------------------------

TEST(Sleep, SleepsAtLeastRoughlyAsLong) {
  const auto start = std::chrono::steady_clock::now();
  tOSSYSCALLS::Sleep(60);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  // Only a lower bound, with room for coarse system timers.
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 45);
}

TEST(Sleep, ZeroReturns) {
  for (int i = 0; i < 10; ++i) tOSSYSCALLS::Sleep(0);
}

TEST(HardErrorTrap, SetsFailCriticalErrors) {
  tOSSYSCALLS::SetHardErrorTrap();
  tOSSYSCALLS::ResetHardErrorTrap();  // does nothing: the trap stays
#if defined(_WIN32)
  const UINT mode = ::SetErrorMode(0);
  EXPECT_NE(0u, mode & SEM_FAILCRITICALERRORS);
  ::SetErrorMode(mode);
#endif
}

}  // namespace
