// The platform layer under the locks: critical sections and mutexes in the
// Win32 vocabulary. The same tests run against Windows itself (under Wine
// in the cross build) and against the POSIX emulation, so they pin down that
// the emulation behaves as Windows does: wait results, abandonment, error
// codes, initial ownership.
//
// The platform layer is internal: the shared library does not export it.
// A shared build therefore compiles the POSIX sources into this program; a
// static build links them from the library.
#include "kelcore/platform/sync.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "kelcore/platform/error.h"
#include "kelcore/platform/handle.h"

#if !defined(_WIN32) && !defined(KELCORE_STATIC)
#  include "kelcore/platform/error.cpp"
#  include "kelcore/platform/posix/handle.cpp"
#  include "kelcore/platform/posix/sync.cpp"
#endif

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/sync/lock_test_support.h"

namespace {

using kelcore_test::ChildProcess;
using kelcore_test::kPatienceMs;
using kelcore_test::TouchFile;
using kelcore_test::UniqueLockName;
using kelcore_test::WaitForFile;
using kelsys::BOOL;
using kelsys::DWORD;
using kelsys::HANDLE;
#if !defined(_WIN32)
using kelsys::ERROR_ALREADY_EXISTS;
using kelsys::ERROR_INVALID_HANDLE;
using kelsys::ERROR_NOT_OWNER;
#endif

// Closes a handle at the end of a scope.
class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (h_) kelsys::CloseHandle(h_);
  }
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

HANDLE Create(const std::string &name, bool initial_owner = false) {
  return kelsys::CreateMutexA(nullptr, initial_owner ? 1 : 0, name.c_str());
}

// The result of a wait made by another thread.
DWORD WaitFromOtherThread(HANDLE h, DWORD ms, bool release_after = true) {
  DWORD result = 0;
  std::thread([&] {
    result = kelsys::WaitForSingleObject(h, ms);
    if (release_after && (result == kelsys::kWaitObject0 || result == kelsys::kWaitAbandoned)) {
      kelsys::ReleaseMutex(h);
    }
  }).join();
  return result;
}

TEST(PlatformCriticalSectionTest, IsRecursive) {
  kelsys::CRITICAL_SECTION cs;
  kelsys::InitializeCriticalSection(&cs);
  kelsys::EnterCriticalSection(&cs);
  kelsys::EnterCriticalSection(&cs);
  kelsys::LeaveCriticalSection(&cs);
  kelsys::LeaveCriticalSection(&cs);
  kelsys::DeleteCriticalSection(&cs);
}

TEST(PlatformMutexTest, NewNameThenExistingName) {
  std::string name = UniqueLockName("create");
  kelsys::SetLastError(1234);
  Handle first(Create(name));
  ASSERT_NE(first.get(), nullptr);
  EXPECT_EQ(kelsys::GetLastError(), 0u);
  Handle second(Create(name));
  ASSERT_NE(second.get(), nullptr);
  EXPECT_EQ(kelsys::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

TEST(PlatformMutexTest, RecursionAndReleasingOnceTooOften) {
  Handle m(Create(UniqueLockName("recursion")));
  ASSERT_NE(m.get(), nullptr);
  EXPECT_EQ(kelsys::WaitForSingleObject(m.get(), kelsys::kInfinite), kelsys::kWaitObject0);
  EXPECT_EQ(kelsys::WaitForSingleObject(m.get(), 0), kelsys::kWaitObject0);
  EXPECT_EQ(WaitFromOtherThread(m.get(), 0), kelsys::kWaitTimeout);
  EXPECT_TRUE(kelsys::ReleaseMutex(m.get()));
  EXPECT_EQ(WaitFromOtherThread(m.get(), 0), kelsys::kWaitTimeout);
  EXPECT_TRUE(kelsys::ReleaseMutex(m.get()));
  EXPECT_EQ(WaitFromOtherThread(m.get(), 0), kelsys::kWaitObject0);
  EXPECT_FALSE(kelsys::ReleaseMutex(m.get()));
  EXPECT_EQ(kelsys::GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
}

TEST(PlatformMutexTest, OnlyTheOwnerReleases) {
  std::string name = UniqueLockName("owner");
  Handle a(Create(name));
  Handle b(Create(name));
  ASSERT_EQ(kelsys::WaitForSingleObject(a.get(), kelsys::kInfinite), kelsys::kWaitObject0);
  BOOL released = 1;
  DWORD error = 0;
  std::thread([&] {
    released = kelsys::ReleaseMutex(b.get());
    error = kelsys::GetLastError();
  }).join();
  EXPECT_FALSE(released);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOT_OWNER));
  // Owned through a, released through b: the name is one mutex.
  EXPECT_TRUE(kelsys::ReleaseMutex(b.get()));
}

TEST(PlatformMutexTest, BoundedWaitTimesOut) {
  Handle m(Create(UniqueLockName("timeout")));
  ASSERT_EQ(kelsys::WaitForSingleObject(m.get(), kelsys::kInfinite), kelsys::kWaitObject0);
  EXPECT_EQ(WaitFromOtherThread(m.get(), 30), kelsys::kWaitTimeout);
  EXPECT_TRUE(kelsys::ReleaseMutex(m.get()));
  EXPECT_EQ(WaitFromOtherThread(m.get(), 30), kelsys::kWaitObject0);
}

TEST(PlatformMutexTest, UnnamedMutexesAreDistinct) {
  Handle a(kelsys::CreateMutexA(nullptr, 0, nullptr));
  Handle b(kelsys::CreateMutexA(nullptr, 0, nullptr));
  ASSERT_NE(a.get(), nullptr);
  ASSERT_NE(b.get(), nullptr);
  ASSERT_EQ(kelsys::WaitForSingleObject(a.get(), 0), kelsys::kWaitObject0);
  EXPECT_EQ(WaitFromOtherThread(b.get(), 0), kelsys::kWaitObject0);
  EXPECT_TRUE(kelsys::ReleaseMutex(a.get()));
}

TEST(PlatformMutexTest, ThreadEndingWhileOwningAbandonsIt) {
  for (const char *label : {"named", "unnamed"}) {
    SCOPED_TRACE(label);
    std::string name = UniqueLockName("thread");
    Handle m(std::string(label) == "named" ? Create(name)
                                           : kelsys::CreateMutexA(nullptr, 0, nullptr));
    EXPECT_EQ(WaitFromOtherThread(m.get(), kelsys::kInfinite, false), kelsys::kWaitObject0);
    EXPECT_EQ(kelsys::WaitForSingleObject(m.get(), 0), kelsys::kWaitAbandoned);
    EXPECT_TRUE(kelsys::ReleaseMutex(m.get()));
    EXPECT_EQ(kelsys::WaitForSingleObject(m.get(), 0), kelsys::kWaitObject0);
    EXPECT_TRUE(kelsys::ReleaseMutex(m.get()));
  }
}

TEST(PlatformMutexTest, InitialOwnership) {
  std::string name = UniqueLockName("initial");
  Handle creator(Create(name, true));
  ASSERT_NE(creator.get(), nullptr);
  EXPECT_EQ(kelsys::GetLastError(), 0u);
  EXPECT_EQ(WaitFromOtherThread(creator.get(), 0), kelsys::kWaitTimeout);
  // Asking again for an existing mutex is ignored, even by another thread.
  DWORD error = 0;
  BOOL released = 1;
  std::thread([&] {
    Handle again(Create(name, true));
    error = kelsys::GetLastError();
    released = kelsys::ReleaseMutex(again.get());
  }).join();
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(released);
  EXPECT_TRUE(kelsys::ReleaseMutex(creator.get()));
  EXPECT_EQ(WaitFromOtherThread(creator.get(), 0), kelsys::kWaitObject0);
}

TEST(PlatformMutexTest, NotAMutexHandle) {
  kelsys::SetLastError(0);
  EXPECT_EQ(kelsys::WaitForSingleObject(nullptr, 0), kelsys::kWaitFailed);
  EXPECT_EQ(kelsys::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(kelsys::ReleaseMutex(nullptr));
}

// args: mutex name, directory, "kill" or "exit". Owns the mutex, says
// "owned", then waits to be killed, or for "end" and exits without
// releasing.
// The handle stays open until the process ends (reachable from here, so
// that the leak checker does not count it).
HANDLE volatile g_owned_to_the_end = nullptr;

KELCORE_CHILD_MAIN(mutex_own_and_end) {
  if (args.size() != 3) return 2;
  HANDLE m = g_owned_to_the_end = kelsys::CreateMutexA(nullptr, 0, args[0].c_str());
  if (!m || kelsys::WaitForSingleObject(m, kelsys::kInfinite) != kelsys::kWaitObject0) return 3;
  TouchFile(args[1] + "/owned");
  if (args[2] == "exit") return WaitForFile(args[1] + "/end", kPatienceMs) ? 0 : 4;
  kelcore_test::SleepMs(kPatienceMs * 2);
  return 1;
}

// args: mutex name, directory. Keeps the mutex open, not owned, until told.
KELCORE_CHILD_MAIN(mutex_keep_open) {
  if (args.size() != 2) return 2;
  HANDLE m = kelsys::CreateMutexA(nullptr, 0, args[0].c_str());
  if (!m) return 3;
  TouchFile(args[1] + "/open");
  if (!WaitForFile(args[1] + "/close", kPatienceMs)) return 4;
  kelsys::CloseHandle(m);
  return 0;
}

class PlatformMutexProcessTest : public kelcore_test::TempDirTest,
                                 public ::testing::WithParamInterface<const char *> {};

TEST_P(PlatformMutexProcessTest, OwnerProcessEndingAbandonsIt) {
  std::string name = UniqueLockName("abandon");
  Handle m(Create(name));
  ChildProcess child;
  ASSERT_TRUE(child.Start("mutex_own_and_end", {name, tmp.path(), GetParam()}));
  ASSERT_TRUE(WaitForFile(tmp.File("owned")));
  EXPECT_EQ(kelsys::WaitForSingleObject(m.get(), 0), kelsys::kWaitTimeout);
  TouchFile(tmp.File("end"));
  if (std::string(GetParam()) == "kill") {
    child.Kill();
  } else {
    EXPECT_EQ(child.Wait(), 0);
  }
  EXPECT_EQ(kelsys::WaitForSingleObject(m.get(), kPatienceMs), kelsys::kWaitAbandoned);
  EXPECT_TRUE(kelsys::ReleaseMutex(m.get()));
  EXPECT_EQ(kelsys::WaitForSingleObject(m.get(), 0), kelsys::kWaitObject0);
  EXPECT_TRUE(kelsys::ReleaseMutex(m.get()));
}

// Once nobody has the name open, the next creator gets a new mutex, whatever
// happened to the old one.
TEST_P(PlatformMutexProcessTest, NameReusedAfterAbandonedMutexIsFresh) {
  std::string name = UniqueLockName("fresh");
  ChildProcess child;
  ASSERT_TRUE(child.Start("mutex_own_and_end", {name, tmp.path(), GetParam()}));
  ASSERT_TRUE(WaitForFile(tmp.File("owned")));
  TouchFile(tmp.File("end"));
  if (std::string(GetParam()) == "kill") {
    child.Kill();
  } else {
    EXPECT_EQ(child.Wait(), 0);
  }
  Handle m(Create(name));
  EXPECT_EQ(kelsys::GetLastError(), 0u);
  EXPECT_EQ(kelsys::WaitForSingleObject(m.get(), 0), kelsys::kWaitObject0);
  EXPECT_TRUE(kelsys::ReleaseMutex(m.get()));
}

INSTANTIATE_TEST_SUITE_P(Ways, PlatformMutexProcessTest, ::testing::Values("kill", "exit"));

TEST(PlatformMutexCrossProcessTest, ExistsWhileAnotherProcessHasItOpen) {
  kelcore_test::TempDir tmp;
  std::string name = UniqueLockName("exists");
  ChildProcess child;
  ASSERT_TRUE(child.Start("mutex_keep_open", {name, tmp.path()}));
  ASSERT_TRUE(WaitForFile(tmp.File("open")));
  {
    Handle m(Create(name, true));
    ASSERT_NE(m.get(), nullptr);
    EXPECT_EQ(kelsys::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(kelsys::ReleaseMutex(m.get())) << "initial ownership of an existing mutex";
  }
  TouchFile(tmp.File("close"));
  EXPECT_EQ(child.Wait(), 0);
  Handle again(Create(name, true));
  EXPECT_EQ(kelsys::GetLastError(), 0u);
  EXPECT_TRUE(kelsys::ReleaseMutex(again.get()));
}

}  // namespace
