// tOSSYSCALLS, tVERSION and mMEGABYTES.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <unistd.h>
#endif

#include "kelcore/app/os_calls.h"

namespace {

TEST(OsCalls, VersionTextsMatchOnFiveCharactersAndMegabytesFollowUnsignedLong) {
  const struct { const char *a, *b; bool match; } cases[] = {
      {"A.02.00", "A.02.99", true}, {"A.02.00", "A.02.", true},    {"A.02.00", "A.02", false},
      {"A.02.00", "A.01.00", false}, {"a.02.00", "A.02.00", false}, {"A.02", "A.02", true},
      {nullptr, "", true},           {nullptr, "A.02.00", false},   {nullptr, nullptr, true}};
  for (const auto &c : cases)
    EXPECT_TRUE((tVERSION::Match(c.a, c.b) != 0) == c.match && (tVERSION::Match(c.b, c.a) != 0) == c.match)
        << (c.a ? c.a : "(null)") << " / " << (c.b ? c.b : "(null)");
  EXPECT_EQ(4294656000ul, mMEGABYTES(4194));  // the largest that fits 32 bits
  // One more wraps where long has 32 bits.
  EXPECT_EQ(4195ull * 1024000 % (sizeof(unsigned long) == 4 ? 4294967296ull : ~0ull), 0ull + mMEGABYTES(4195));
}

TEST(OsCalls, IsVersionHoldsForTheRunningFamilyAndItsAncestorsOnly) {
#if defined(_WIN32)
  const char *want = "000000101110";  // -1 to 10: every Windows in use, Wine too, is an NT after 4
#else
  const char *want = "001000000110";
#endif
  for (int v = -1; v <= 10; ++v)
    EXPECT_EQ(want[v + 1] == '1', tOSSYSCALLS::IsVersion(static_cast<tOSSYSCALLS::eVERSIONS>(v)) != 0) << v;
}

TEST(OsCalls, IdsSleepAndTheHardErrorTrap) {
  const int pid = tOSSYSCALLS::GetCurrentProcessId();
#if defined(__linux__)
  EXPECT_EQ(static_cast<int>(getpid()), pid);
  EXPECT_EQ(pid, tOSSYSCALLS::GetCurrentThreadId()) << "the main thread's kernel id";
#endif
  std::atomic<int> arrived(0);
  int ids[5] = {tOSSYSCALLS::GetCurrentThreadId()};
  std::thread threads[4];
  for (int i = 0; i < 4; ++i)
    threads[i] = std::thread([&, i] {
      const int id = tOSSYSCALLS::GetCurrentThreadId();
      for (++arrived; arrived < 4;) std::this_thread::yield();  // alive together: no id reused
      ids[i + 1] = id == tOSSYSCALLS::GetCurrentThreadId() && tOSSYSCALLS::GetCurrentProcessId() == pid ? id : 0;
    });
  for (std::thread &t : threads) t.join();
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < i; ++j) EXPECT_TRUE(ids[i] && ids[j] && ids[i] != ids[j]) << i << " " << j;

  tOSSYSCALLS::Sleep(0);
  const auto start = std::chrono::steady_clock::now();
  tOSSYSCALLS::Sleep(60);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
  tOSSYSCALLS::SetHardErrorTrap();
  tOSSYSCALLS::ResetHardErrorTrap();  // the trap stays
#if defined(_WIN32)
  EXPECT_NE(0u, ::SetErrorMode(SEM_FAILCRITICALERRORS) & SEM_FAILCRITICALERRORS);
#endif
}

}  // namespace
