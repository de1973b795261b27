// The locks: re-entry and exclusion between threads, names shared across
// objects and processes, holders that end without releasing, and running
// out of memory. The same tests run against Windows' own mutexes (under
// Wine) and against the POSIX emulation of them.
#include "kelcore/sync/lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#  include <unistd.h>
#endif

#include "tests/support/alloc_failure.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

using kelcore_test::TouchFile;
using kelcore_test::WaitForFile;
using Lock = std::shared_ptr<tPHYSYNCOBJ>;

// Waits are bounded only so that a broken lock fails instead of hanging;
// kGraceMs is how long another thread gets to slip in where it must not.
const int kPatienceMs = 30000, kGraceMs = 50, kCountRounds = 150;

// Another thread takes `lock` `depth` times and lets go again; the result
// is ready once it got in. The thread is detached and shares the lock, so a
// lock that never lets it in fails the test instead of hanging it.
std::shared_future<void> TakeElsewhere(Lock lock, int depth = 1) {
  auto got = std::make_shared<std::promise<void>>();
  std::shared_future<void> result = got->get_future().share();
  std::thread([lock, depth, got] {
    for (int i = 0; i < depth; ++i) lock->LockObject();
    for (int i = 0; i < depth; ++i) lock->UnlockObject();
    got->set_value();
  }).detach();
  return result;
}

bool GetsIn(const std::shared_future<void> &taker, int ms = kPatienceMs) {
  return taker.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready;
}

// True when another thread cannot take `b` while this one holds `a`.
bool SameLock(const Lock &a, const Lock &b) {
  a->LockObject();
  std::shared_future<void> other = TakeElsewhere(b);
  bool excluded = !GetsIn(other, kGraceMs);
  a->UnlockObject();
  return excluded && GetsIn(other);
}

// A name no other test, and no other run at the same time, uses.
std::string UniqueLockName(const std::string &tag) {
  static const std::string run = std::to_string(std::random_device()());
  static std::atomic<unsigned> counter{0};
  return "kelcore-lock-test-" + run + "-" + std::to_string(counter++) + "-" + tag;
}

Lock Named(const std::string &name) { return std::make_shared<tINTER_PROCESS_LOCK>(name.c_str()); }

#if !defined(_WIN32)
// The POSIX layer keeps lock files for good (docs/locks.md): this program
// and its children put theirs in a runtime directory removed at the end.
class LockFileDir : public ::testing::Environment {
  void SetUp() override {
    dir_.reset(new kelcore_test::TempDir);
    setenv("XDG_RUNTIME_DIR", dir_->path().c_str(), 1);
  }
  void TearDown() override { dir_.reset(); }
  std::unique_ptr<kelcore_test::TempDir> dir_;
};
::testing::Environment *const kLockFileDir = ::testing::AddGlobalTestEnvironment(new LockFileDir);
#endif

TEST(LockTest, EveryKindIsReentrantAndExclusive) {
  // A mutex passes on when its holder thread ends; it is slower where
  // threads compete.
  const struct { const char *label; Lock lock; bool abandons; int rounds; } kinds[] = {
      {"intra_process", std::make_shared<tINTRA_PROCESS_LOCK>(), false, 20000},
      {"inter_process_named", Named(UniqueLockName("kind")), true, 500},
      {"inter_process_unnamed", std::make_shared<tINTER_PROCESS_LOCK>(nullptr), true, 500},
  };
  for (const auto &kind : kinds) {
    SCOPED_TRACE(kind.label);
    const Lock &lock = kind.lock;
    std::shared_future<void> other;
    {
      tOBJECT_LOCK outer(*lock);
      {
        tOBJECT_LOCK inner(*lock);
        lock->LockObject();
        other = TakeElsewhere(lock, 3);
        lock->UnlockObject();
      }
      EXPECT_FALSE(GetsIn(other, kGraceMs)) << "the outer holder still holds it";
    }
    EXPECT_TRUE(GetsIn(other));
    EXPECT_TRUE(GetsIn(TakeElsewhere(lock))) << "a hold of the waiter was left";

    // A counter that is not atomic: updates get lost without mutual
    // exclusion, and ThreadSanitizer reports the race.
    long counter = 0;
    std::atomic<int> inside{0}, overlaps{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
      threads.emplace_back([&] {
        for (int i = 0; i < kind.rounds; ++i) {
          tOBJECT_LOCK hold(*lock);
          if (inside++ != 0) ++overlaps;
          long seen = counter;
          if (i % 64 == 0) std::this_thread::yield();
          counter = seen + 1;
          --inside;
        }
      });
    }
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(counter, 3L * kind.rounds);
    EXPECT_EQ(overlaps, 0);

    if (!kind.abandons) continue;  // a critical section stays held
    // The waiter starts while the holder lives, so it cannot be taken for
    // the holder by a reused thread id.
    std::thread([&] { lock->LockObject(), other = TakeElsewhere(lock); }).join();
    EXPECT_TRUE(GetsIn(other)) << "the lock died with its holder thread";
    EXPECT_TRUE(GetsIn(TakeElsewhere(lock)));
  }
}

TEST(LockTest, NoSyncNeverBlocks) {
  Lock none = std::make_shared<tNOSYNC>();
  none->UnlockObject();
  tOBJECT_LOCK hold(*none);
  EXPECT_TRUE(GetsIn(TakeElsewhere(none)));
}

// Recursion and ownership belong to the name, not to the object.
TEST(NamedLockTest, ObjectsOfOneNameAreOneLock) {
  std::string name = UniqueLockName("same");
  Lock a = Named(name), b = Named(name);
  a->LockObject();
  b->LockObject();
  std::thread([b] { b->UnlockObject(); }).join();  // not the holder: ignored
  std::shared_future<void> other = TakeElsewhere(Named(name));
  a->UnlockObject();  // releases the hold taken through b
  { tINTER_PROCESS_LOCK passing(name.c_str()); }
  EXPECT_FALSE(GetsIn(other, kGraceMs)) << "one hold is left";
  b->UnlockObject();
  EXPECT_TRUE(GetsIn(other));
  a.reset();
  EXPECT_TRUE(SameLock(b, Named(name))) << "closing one object keeps the name for the others";
  EXPECT_TRUE(SameLock(b, Named("Local\\" + name)));
  EXPECT_FALSE(SameLock(Named(""), Named("")));
  EXPECT_FALSE(SameLock(std::make_shared<tINTER_PROCESS_LOCK>(nullptr),
                        std::make_shared<tINTER_PROCESS_LOCK>(nullptr)));
}

// Every name is its own lock, however a file system would have to spell it.
TEST(NamedLockTest, DistinctNamesAreDistinctLocks) {
  const std::string p = UniqueLockName("n") + "-", longest(238 - p.size(), 'x');
  std::vector<std::pair<std::string, std::string>> pairs = {
      {"slash/inside", "slash%2Finside"}, {"aA", "a%41"}, {"..", "."}, {"dots..", "dots"},
      {"space here", "space_here"}, {"a:b*c?d\"e<f>g|h", "a_b_c_d_e_f_g_h"}, {"case", "CASE"},
      {"caf\xc3\xa9", "cafe"}, {longest + "1", longest + "2"},  // below MAX_PATH
#if !defined(_WIN32)  // names Windows refuses
      {"back\\slash", "back/slash"}, {"trailing\\", "trailing"},
      {std::string(600, '/') + "1", std::string(600, '/') + "2"},  // hashed for the file system
#endif
  };
  for (const auto &pair : pairs) {
    SCOPED_TRACE(pair.first + " | " + pair.second);
    Lock a = Named(p + pair.first), b = Named(p + pair.second);
    EXPECT_TRUE(SameLock(a, Named(p + pair.first)) && SameLock(b, Named(p + pair.second)));
    EXPECT_FALSE(SameLock(a, b));
  }
}

#if !defined(_WIN32)
// A runtime directory that is not the user's own would leave every lock
// doing nothing: /tmp serves instead. "Global\\" names, shared by all users,
// always live there.
TEST(NamedLockTest, LockFilesFallBackToTmp) {
  const std::string own = std::getenv("XDG_RUNTIME_DIR");
  const std::string dirs[] = {"/nonexistent-kelcore-dir", "relative/dir", "/dev/null", "", own};
  for (const std::string &dir : dirs) {
    SCOPED_TRACE(dir);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    std::string name = UniqueLockName("tmp"), spelled = dir == own ? "Global\\" + name : name;
    EXPECT_TRUE(SameLock(Named(spelled), Named(spelled)));
    EXPECT_EQ(std::remove(("/tmp/kelcore-mutex-" + name).c_str()), 0) << "no lock file in /tmp";
  }
}
#endif

long ReadNumber(const std::string &file) {
  std::string text;
  return kelcore_test::ReadWholeFile(file, &text) ? std::atol(text.c_str()) : -1;
}

// Adds one to the number in `file` under `lock`, kCountRounds times, with
// a pause between reading and writing that invites a lost update.
bool CountUnderLock(tPHYSYNCOBJ &lock, const std::string &file) {
  for (int i = 0; i < kCountRounds; ++i) {
    tOBJECT_LOCK hold(lock);
    long n = ReadNumber(file);
    std::this_thread::yield();
    if (n < 0 || !kelcore_test::WriteWholeFile(file, std::to_string(n + 1))) return false;
  }
  return true;
}

// args: lock name, directory, what to do:
// - "count": say "ready", wait for "go", then count;
// - "kill", "exit", "fork": hold the lock twice, say "held", then wait to
//   be killed ("fork": after leaving behind a forked process that inherited
//   everything), or return when told ("exit").
KELCORE_CHILD_MAIN(lock_child) {
  const std::string dir = args.at(1) + "/", how = args.at(2);
  tINTER_PROCESS_LOCK lock(args[0].c_str());
  if (how == "count") {
    TouchFile(dir + "ready");
    return WaitForFile(dir + "go", kPatienceMs) && CountUnderLock(lock, dir + "counter") ? 0 : 3;
  }
  lock.LockObject();
  lock.LockObject();
#if !defined(_WIN32)
  if (how == "fork" && fork() == 0) {
    TouchFile(dir + "forked");
    WaitForFile(dir + "forked-may-end", kPatienceMs * 3);
    _exit(0);
  }
  if (how == "fork" && !WaitForFile(dir + "forked", kPatienceMs)) return 4;
#endif
  TouchFile(dir + "held");
  if (how == "exit") return WaitForFile(dir + "end", kPatienceMs) ? 0 : 5;
  kelcore_test::SleepMs(kPatienceMs * 2);
  return 1;
}

class LockProcessTest : public kelcore_test::TempDirTest,
                        public ::testing::WithParamInterface<const char *> {};

// However a holder process ends, the next waiter gets the lock, and the
// lock goes on serialising processes.
TEST_P(LockProcessTest, HolderEndsWithoutReleasing) {
  const std::string how = GetParam(), name = UniqueLockName(how);
#if defined(_WIN32)
  if (how == "fork") GTEST_SKIP() << "no fork() on Windows";
#endif
  kelcore_test::ChildProcess holder, counter;
  ASSERT_TRUE(holder.Start("lock_child", {name, tmp.path(), how}));
  ASSERT_TRUE(WaitForFile(tmp.File("held")));
  Lock lock = Named(name);
  std::shared_future<void> waiter = TakeElsewhere(lock);
  EXPECT_FALSE(GetsIn(waiter, kGraceMs)) << "another process holds it";
  TouchFile(tmp.File("end"));
  EXPECT_EQ(how == "exit" ? holder.Wait() : 0, 0);
  holder.Kill();
  EXPECT_TRUE(GetsIn(waiter)) << "the lock died with its holder";
  TouchFile(tmp.File("forked-may-end"));

  ASSERT_TRUE(kelcore_test::WriteWholeFile(tmp.File("counter"), "0"));
  lock->LockObject();
  lock->LockObject();
  ASSERT_TRUE(counter.Start("lock_child", {name, tmp.path(), "count"}));
  ASSERT_TRUE(WaitForFile(tmp.File("ready")));
  TouchFile(tmp.File("go"));
  for (int holds = 2; holds > 0; --holds) {
    kelcore_test::SleepMs(kGraceMs);
    EXPECT_EQ(ReadNumber(tmp.File("counter")), 0) << holds << " hold(s) left";
    lock->UnlockObject();
  }
  EXPECT_TRUE(CountUnderLock(*lock, tmp.File("counter")));
  EXPECT_EQ(counter.Wait(), 0);
  EXPECT_EQ(ReadNumber(tmp.File("counter")), 2L * kCountRounds);
}

INSTANTIATE_TEST_SUITE_P(Ways, LockProcessTest, ::testing::Values("kill", "exit", "fork"));

// Every allocation that can fail, for a fresh name and for a name already
// open here: nothing leaks or crashes, and the name's shared state survives.
TEST(LockOutOfMemoryTest, EveryAllocationOfALock) {
  auto use = [](tPHYSYNCOBJ &a, tPHYSYNCOBJ &b) { tOBJECT_LOCK hold_a(a), hold_b(b); };
  EXPECT_EQ(kelcore_test::SweepAllocFailures([&] { tINTRA_PROCESS_LOCK l; use(l, l); }), 1u);
  std::string name = UniqueLockName("sweep");
  kelcore_test::SweepAllocFailures([&] { tINTER_PROCESS_LOCK l(name.c_str()); use(l, l); });
  Lock first = Named(name);
  kelcore_test::SweepAllocFailures([&] { tINTER_PROCESS_LOCK l(name.c_str()); use(l, *first); });
  EXPECT_TRUE(SameLock(first, Named(name)));
}

}  // namespace
