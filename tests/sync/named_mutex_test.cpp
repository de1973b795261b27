// tINTER_PROCESS_LOCK: sharing by name, within one process and across
// processes, and a holder that dies.
#include "kelcore/sync/lock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/sync/lock_test_support.h"

namespace {

using kelcore_test::ChildProcess;
using kelcore_test::kGraceMs;
using kelcore_test::kPatienceMs;
using kelcore_test::Locker;
using kelcore_test::SleepMs;
using kelcore_test::TouchFile;
using kelcore_test::UniqueLockName;
using kelcore_test::WaitForFile;

std::shared_ptr<tINTER_PROCESS_LOCK> Named(const std::string &name) {
  return std::make_shared<tINTER_PROCESS_LOCK>(name.c_str());
}

bool Exists(const std::string &path) {
  std::string ignored;
  return kelcore_test::ReadWholeFile(path, &ignored);
}

// True when `b` is the same lock as `a`: another thread cannot take `b`
// while this thread holds `a`.
bool SameLock(const std::shared_ptr<tPHYSYNCOBJ> &a, const std::shared_ptr<tPHYSYNCOBJ> &b) {
  a->LockObject();
  bool excluded;
  {
    Locker other(b);
    SleepMs(kGraceMs);
    excluded = !other.Acquired();
    a->UnlockObject();
    other.WaitAcquired();
  }
  return excluded;
}

#if !defined(_WIN32)
// The POSIX layer keeps lock files for good (docs/locks.md); this program's
// are removed when it ends, once no process of the run can use them.
class RemoveLockFilesOfThisRun : public ::testing::Environment {
 public:
  void TearDown() override {
    const std::string mark = "kelcore-lock-test-" + std::to_string(kelcore_test::ProcessId()) + "-";
    std::vector<std::string> dirs = {"/tmp"};
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') dirs.push_back(runtime);
    for (const std::string &dir : dirs) {
      std::error_code ec;
      for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end;
           it.increment(ec)) {
        std::string leaf = it->path().filename().string();
        if (leaf.rfind("kelcore-mutex-", 0) == 0 && leaf.find(mark) != std::string::npos) {
          std::error_code ignored;
          std::filesystem::remove(it->path(), ignored);
        }
      }
    }
  }
};
::testing::Environment *const kRemoveLockFiles =
    ::testing::AddGlobalTestEnvironment(new RemoveLockFilesOfThisRun);
#endif

// --- one process, several objects ------------------------------------------

TEST(NamedMutexTest, TwoObjectsOfOneNameSerialiseTwoThreads) {
  std::string name = UniqueLockName("same");
  auto a = Named(name);
  auto b = Named(name);
  a->LockObject();
  Locker other(b);
  SleepMs(kGraceMs);
  EXPECT_FALSE(other.Acquired());
  a->UnlockObject();
  EXPECT_TRUE(other.WaitAcquired());
}

// Recursion belongs to the name: the holder takes it again through any
// object of that name, and the name is free only when every hold is gone.
TEST(NamedMutexTest, HolderLocksAgainThroughEitherObject) {
  std::string name = UniqueLockName("relock");
  auto a = Named(name);
  auto b = Named(name);
  auto c = Named(name);
  a->LockObject();
  b->LockObject();
  a->LockObject();
  Locker other(c);
  b->UnlockObject();
  a->UnlockObject();
  SleepMs(kGraceMs);
  EXPECT_FALSE(other.Acquired()) << "one hold is left";
  a->UnlockObject();
  EXPECT_TRUE(other.WaitAcquired());
}

TEST(NamedMutexTest, HoldTakenThroughOneObjectIsReleasedThroughAnother) {
  std::string name = UniqueLockName("cross");
  auto a = Named(name);
  auto b = Named(name);
  a->LockObject();
  b->UnlockObject();
  Locker other(a);
  EXPECT_TRUE(other.WaitAcquired());
}

TEST(NamedMutexTest, UnlockByAThreadThatDoesNotHoldItIsIgnored) {
  std::string name = UniqueLockName("notowner");
  auto a = Named(name);
  auto b = Named(name);
  a->LockObject();
  std::thread([b] { b->UnlockObject(); }).join();
  Locker other(b);
  SleepMs(kGraceMs);
  EXPECT_FALSE(other.Acquired()) << "only the holder can release";
  a->UnlockObject();
  EXPECT_TRUE(other.WaitAcquired());
}

TEST(NamedMutexTest, ClosingOneObjectKeepsTheNameForTheOthers) {
  std::string name = UniqueLockName("close");
  auto a = Named(name);
  auto b = Named(name);
  {
    tINTER_PROCESS_LOCK passing(name.c_str());
    passing.LockObject();
    passing.UnlockObject();
  }
  EXPECT_TRUE(SameLock(a, b));
  a.reset();
  auto c = Named(name);
  EXPECT_TRUE(SameLock(b, c));
}

TEST(NamedMutexTest, DifferentNamesAreDifferentLocks) {
  EXPECT_FALSE(SameLock(Named(UniqueLockName("one")), Named(UniqueLockName("two"))));
}

TEST(NamedMutexTest, UnnamedLocksArePrivateToTheirObject) {
  EXPECT_FALSE(SameLock(std::make_shared<tINTER_PROCESS_LOCK>(nullptr),
                        std::make_shared<tINTER_PROCESS_LOCK>(nullptr)));
  EXPECT_FALSE(SameLock(Named(""), Named("")));
}

TEST(NamedMutexTest, LocalPrefixNamesTheDefaultNamespace) {
  std::string name = UniqueLockName("local");
  EXPECT_TRUE(SameLock(Named(name), Named("Local\\" + name)));
}

TEST(NamedMutexTest, GlobalPrefixIsAccepted) {
  std::string name = "Global\\" + UniqueLockName("global");
  EXPECT_TRUE(SameLock(Named(name), Named(name)));
}

// Any character may appear in a name; every name is its own lock, however
// it would be escaped for a file system.
struct NamePair {
  const char *a;
  const char *b;
  bool posix_only;  // Windows refuses '\\' inside a name
};

const NamePair kDistinctNames[] = {
    {"slash/inside", "slash%2Finside", false},
    {"aA", "a%41", false},
    {"dots..", "dots", false},
    {"..", ".", false},
    {"space here", "space_here", false},
    {"a:b*c?d\"e<f>g|h", "a_b_c_d_e_f_g_h", false},
    {"caf\xc3\xa9", "cafe", false},
    {"case", "CASE", false},
    {"back\\slash", "back/slash", true},
    {"trailing\\", "trailing", true},
};

class NamedMutexNameTest : public ::testing::TestWithParam<NamePair> {};

TEST_P(NamedMutexNameTest, SameNameSharesDifferentNameDoesNot) {
#if defined(_WIN32)
  if (GetParam().posix_only) GTEST_SKIP() << "Windows does not accept this name";
#endif
  std::string prefix = UniqueLockName("n") + "-";
  std::string a = prefix + GetParam().a;
  std::string b = prefix + GetParam().b;
  EXPECT_TRUE(SameLock(Named(a), Named(a)));
  EXPECT_TRUE(SameLock(Named(b), Named(b)));
  EXPECT_FALSE(SameLock(Named(a), Named(b)));
}

INSTANTIATE_TEST_SUITE_P(Names, NamedMutexNameTest, ::testing::ValuesIn(kDistinctNames));

TEST(NamedMutexTest, LongNamesDifferingOnlyAtTheEnd) {
  // Windows takes names up to MAX_PATH characters; the POSIX layer shortens
  // long names for the file system without mixing them up.
  std::string base = UniqueLockName("long") + std::string(200, 'x');
  std::vector<std::string> lengths = {base.substr(0, 240 - 1)};
#if !defined(_WIN32)
  lengths.push_back(base + std::string(400, '/'));
#endif
  for (const std::string &stem : lengths) {
    SCOPED_TRACE(stem.size());
    EXPECT_TRUE(SameLock(Named(stem + "1"), Named(stem + "1")));
    EXPECT_FALSE(SameLock(Named(stem + "1"), Named(stem + "2")));
  }
}

#if !defined(_WIN32)
// Sets an environment variable for the lifetime of a scope.
class ScopedEnv {
 public:
  ScopedEnv(const char *name, const char *value) : name_(name) {
    const char *old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

class LockFileTest : public kelcore_test::TempDirTest {};

TEST_F(LockFileTest, LivesInTheUsersRuntimeDirectoryUnderAnEscapedName) {
  ScopedEnv runtime("XDG_RUNTIME_DIR", tmp.path().c_str());
  std::string stem = UniqueLockName("file");
  struct Case {
    std::string name, leaf;
  } cases[] = {
      {stem + "/a b%", "kelcore-mutex-" + stem + "%2Fa%20b%25"},
      {"Local\\" + stem, "kelcore-mutex-" + stem},
  };
  for (const Case &c : cases) {
    tINTER_PROCESS_LOCK lock(c.name.c_str());
    EXPECT_TRUE(Exists(tmp.File(c.leaf))) << c.leaf;
  }
  // Too long for a file name: a hash, then the name's beginning.
  std::string long_name = stem + std::string(300, 'y');
  tINTER_PROCESS_LOCK lock(long_name.c_str());
  bool found = false;
  for (const auto &entry : std::filesystem::directory_iterator(tmp.path())) {
    std::string leaf = entry.path().filename().string();
    if (leaf.rfind("kelcore-mutex-~", 0) == 0 && leaf.find(stem) != std::string::npos) {
      found = true;
      EXPECT_LE(leaf.size(), 255u);
    }
  }
  EXPECT_TRUE(found);
}

TEST_F(LockFileTest, UnusableRuntimeDirectoryFallsBackToTmp) {
  for (const char *dir : {"/nonexistent-kelcore-runtime-dir", "relative/dir", "/dev/null", ""}) {
    SCOPED_TRACE(dir);
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir);
    std::string name = UniqueLockName("fallback");
    auto a = Named(name);
    EXPECT_TRUE(Exists("/tmp/kelcore-mutex-" + name));
    EXPECT_TRUE(SameLock(a, Named(name))) << "the lock must work";
  }
}

TEST_F(LockFileTest, GlobalNamesLiveInTmp) {
  ScopedEnv runtime("XDG_RUNTIME_DIR", tmp.path().c_str());
  std::string name = UniqueLockName("global");
  tINTER_PROCESS_LOCK lock(("Global\\" + name).c_str());
  EXPECT_TRUE(Exists("/tmp/kelcore-mutex-" + name));
  EXPECT_FALSE(Exists(tmp.File("kelcore-mutex-" + name)));
}
#endif

// --- several processes ------------------------------------------------------

// args: lock name, directory. Takes the lock, says "held", waits for
// "release", says "releasing" and releases.
KELCORE_CHILD_MAIN(lock_hold_until_told) {
  if (args.size() != 2) return 2;
  const std::string dir = args[1];
  tINTER_PROCESS_LOCK lock(args[0].c_str());
  lock.LockObject();
  TouchFile(dir + "/held");
  if (!WaitForFile(dir + "/release", kPatienceMs)) return 3;
  TouchFile(dir + "/releasing");
  lock.UnlockObject();
  return 0;
}

// args: lock name, directory. Says "started", takes the lock, says "got",
// releases.
KELCORE_CHILD_MAIN(lock_take_once) {
  if (args.size() != 2) return 2;
  tINTER_PROCESS_LOCK lock(args[0].c_str());
  TouchFile(args[1] + "/started");
  lock.LockObject();
  TouchFile(args[1] + "/got");
  lock.UnlockObject();
  return 0;
}

// Adds one to the number in `file` `rounds` times, each time under `lock`,
// with a pause between reading and writing that invites a lost update.
bool CountUnderLock(tPHYSYNCOBJ &lock, const std::string &file, int rounds) {
  for (int i = 0; i < rounds; ++i) {
    tOBJECT_LOCK hold(lock);
    std::string text;
    if (!kelcore_test::ReadWholeFile(file, &text)) return false;
    long n = std::atol(text.c_str());
    std::this_thread::yield();
    if (!kelcore_test::WriteWholeFile(file, std::to_string(n + 1))) return false;
  }
  return true;
}

const int kCountRounds = 150;

// args: lock name, directory. Says "ready", waits for "go", then counts.
KELCORE_CHILD_MAIN(lock_count) {
  if (args.size() != 2) return 2;
  tINTER_PROCESS_LOCK lock(args[0].c_str());
  TouchFile(args[1] + "/ready");
  if (!WaitForFile(args[1] + "/go", kPatienceMs)) return 3;
  return CountUnderLock(lock, args[1] + "/counter", kCountRounds) ? 0 : 4;
}

// args: lock name, directory, how to end: "kill" (wait to be killed),
// "exit" (return while holding) or "fork" (leave a forked process behind
// that inherited everything, then wait to be killed).
KELCORE_CHILD_MAIN(lock_hold_and_end) {
  if (args.size() != 3) return 2;
  const std::string dir = args[1];
  tINTER_PROCESS_LOCK lock(args[0].c_str());
  lock.LockObject();
  lock.LockObject();
#if !defined(_WIN32)
  if (args[2] == "fork") {
    pid_t pid = fork();
    if (pid < 0) return 5;
    if (pid == 0) {
      // Outlives its parent, holding copies of all its descriptors.
      TouchFile(dir + "/forked");
      WaitForFile(dir + "/forked-may-end", kPatienceMs * 3);
      _exit(0);
    }
    if (!WaitForFile(dir + "/forked", kPatienceMs)) return 6;
  }
#endif
  TouchFile(dir + "/held");
  if (args[2] == "exit") return 0;
  SleepMs(kPatienceMs * 2);
  return 1;
}

class NamedMutexProcessTest : public kelcore_test::TempDirTest {};

TEST_F(NamedMutexProcessTest, AnotherProcessHoldsTheNameUntilItReleases) {
  std::string name = UniqueLockName("proc");
  ChildProcess child;
  ASSERT_TRUE(child.Start("lock_hold_until_told", {name, tmp.path()}));
  ASSERT_TRUE(WaitForFile(tmp.File("held")));
  Locker here(Named(name));
  SleepMs(kGraceMs);
  EXPECT_FALSE(here.Acquired());
  TouchFile(tmp.File("release"));
  ASSERT_TRUE(here.WaitAcquired());
  EXPECT_TRUE(Exists(tmp.File("releasing"))) << "got the lock before the child let it go";
  EXPECT_TRUE(here.Release());
  EXPECT_EQ(child.Wait(), 0);
}

TEST_F(NamedMutexProcessTest, AnotherProcessWaitsForThisOne) {
  std::string name = UniqueLockName("wait");
  auto lock = Named(name);
  lock->LockObject();
  lock->LockObject();
  ChildProcess child;
  ASSERT_TRUE(child.Start("lock_take_once", {name, tmp.path()}));
  ASSERT_TRUE(WaitForFile(tmp.File("started")));
  SleepMs(kGraceMs);
  EXPECT_FALSE(Exists(tmp.File("got")));
  lock->UnlockObject();
  SleepMs(kGraceMs);
  EXPECT_FALSE(Exists(tmp.File("got"))) << "one hold is left";
  lock->UnlockObject();
  EXPECT_TRUE(WaitForFile(tmp.File("got")));
  EXPECT_EQ(child.Wait(), 0);
}

TEST_F(NamedMutexProcessTest, TwoProcessesNeverLoseAnUpdate) {
  std::string name = UniqueLockName("count");
  ASSERT_TRUE(kelcore_test::WriteWholeFile(tmp.File("counter"), "0"));
  ChildProcess child;
  ASSERT_TRUE(child.Start("lock_count", {name, tmp.path()}));
  ASSERT_TRUE(WaitForFile(tmp.File("ready")));
  tINTER_PROCESS_LOCK lock(name.c_str());
  TouchFile(tmp.File("go"));
  EXPECT_TRUE(CountUnderLock(lock, tmp.File("counter"), kCountRounds));
  EXPECT_EQ(child.Wait(), 0);
  std::string text;
  ASSERT_TRUE(kelcore_test::ReadWholeFile(tmp.File("counter"), &text));
  EXPECT_EQ(std::atol(text.c_str()), 2L * kCountRounds);
}

// A holder that ends without releasing, however it ends, never blocks the
// others: the next waiter gets the lock, and the lock goes on working.
class NamedMutexHolderEndsTest : public kelcore_test::TempDirTest,
                                 public ::testing::WithParamInterface<const char *> {};

TEST_P(NamedMutexHolderEndsTest, NextWaiterGetsTheLock) {
  std::string how = GetParam();
#if defined(_WIN32)
  if (how == "fork") GTEST_SKIP() << "no fork() on Windows";
#endif
  std::string name = UniqueLockName(how);
  ChildProcess child;
  ASSERT_TRUE(child.Start("lock_hold_and_end", {name, tmp.path(), how}));
  ASSERT_TRUE(WaitForFile(tmp.File("held")));
  auto lock = Named(name);
  Locker waiter(lock);
  if (how == "exit") {
    EXPECT_EQ(child.Wait(), 0);
  } else {
    SleepMs(kGraceMs);
    EXPECT_FALSE(waiter.Acquired());
    child.Kill();
  }
  EXPECT_TRUE(waiter.WaitAcquired()) << "the lock died with its holder";
  EXPECT_TRUE(waiter.Release());
  TouchFile(tmp.File("forked-may-end"));

  // Business as usual afterwards, across processes too.
  lock->LockObject();
  ChildProcess next;
  ASSERT_TRUE(next.Start("lock_take_once", {name, tmp.path()}));
  ASSERT_TRUE(WaitForFile(tmp.File("started")));
  SleepMs(kGraceMs);
  EXPECT_FALSE(Exists(tmp.File("got")));
  lock->UnlockObject();
  EXPECT_TRUE(WaitForFile(tmp.File("got")));
  EXPECT_EQ(next.Wait(), 0);
}

INSTANTIATE_TEST_SUITE_P(Ways, NamedMutexHolderEndsTest,
                         ::testing::Values("kill", "exit", "fork"));

}  // namespace
