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

using namespace kelcore_test;
using Lock = std::shared_ptr<tPHYSYNCOBJ>;
using Taker = std::shared_future<void>;

// Waits are bounded only so that a broken lock fails instead of hanging;
// kGraceMs is how long another thread gets to slip in where it must not.
const int kPatienceMs = 30000, kGraceMs = 50, kCountRounds = 150;

// Another thread takes `lock` `depth` times and lets go again; the result
// is ready once it got in. The thread is detached and shares the lock, so a
// lock that never lets it in fails the test instead of hanging it.
Taker TakeElsewhere(Lock lock, int depth = 1) {
  auto got = std::make_shared<std::promise<void>>();
  std::thread([lock, depth, got] {
    for (int i = 0; i < depth; ++i) lock->LockObject();
    for (int i = 0; i < depth; ++i) lock->UnlockObject();
    got->set_value();
  }).detach();
  return got->get_future().share();
}

bool GetsIn(Taker t, int ms = kPatienceMs) { return t.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready; }

// True when another thread cannot take `b` while this one holds `a`.
bool SameLock(const Lock &a, const Lock &b) {
  a->LockObject();
  Taker other = TakeElsewhere(b);
  bool excluded = !GetsIn(other, kGraceMs);
  a->UnlockObject();
  return excluded && GetsIn(other);
}

// A name no other test, and no other run at the same time, uses.
std::string UniqueLockName(const std::string &tag) {
  static std::atomic<unsigned> counter{std::random_device()()};
  return "kelcore-lock-test-" + std::to_string(counter++) + "-" + tag;
}

Lock Named(const std::string &name) { return std::make_shared<tINTER_PROCESS_LOCK>(name.c_str()); }
Lock Unnamed() { return std::make_shared<tINTER_PROCESS_LOCK>(nullptr); }
// Runs `fn` in `n` threads at once.
template <class F> void InThreads(int n, F fn) { if (n > 0) { std::thread t(fn); InThreads(n - 1, fn); t.join(); } }

TEST(LockTest, EveryKindIsReentrantAndExclusive) {
  Lock none = std::make_shared<tNOSYNC>();
  none->UnlockObject();
  tOBJECT_LOCK no_hold(*none);
  EXPECT_TRUE(GetsIn(TakeElsewhere(none))) << "tNOSYNC never blocks";
  // A mutex passes on when its holder thread ends; it is slower where
  // threads compete.
  const struct { const char *label; Lock lock; bool abandons; int rounds; } kinds[] = {
      {"intra_process", std::make_shared<tINTRA_PROCESS_LOCK>(), false, 20000},
      {"inter_process_named", Named(UniqueLockName("kind")), true, 500}, {"inter_process_unnamed", Unnamed(), true, 500}};
  for (const auto &kind : kinds) {
    SCOPED_TRACE(kind.label);
    Taker other;
    kind.lock->LockObject();
    {
      tOBJECT_LOCK inner(*kind.lock);
      kind.lock->LockObject();
      other = TakeElsewhere(kind.lock, 3);
      kind.lock->UnlockObject();
    }
    EXPECT_FALSE(GetsIn(other, kGraceMs)) << "the first hold is still there";
    kind.lock->UnlockObject();
    EXPECT_TRUE(GetsIn(other));
    EXPECT_TRUE(GetsIn(TakeElsewhere(kind.lock))) << "a hold of the waiter was left";

    // A counter that is not atomic: updates get lost without mutual
    // exclusion, and ThreadSanitizer reports the race.
    long counter = 0;
    std::atomic<int> inside{0}, overlaps{0};
    InThreads(3, [&] {
      for (int i = 0; i < kind.rounds; ++i) {
        tOBJECT_LOCK hold(*kind.lock);
        if (inside++ != 0) ++overlaps;
        long seen = counter;
        if (i % 64 == 0) std::this_thread::yield();
        counter = seen + 1;
        --inside;
      }
    });
    EXPECT_EQ(std::make_pair(counter, overlaps.load()), std::make_pair(3L * kind.rounds, 0));

    if (!kind.abandons) continue;  // a critical section stays held
    // The waiter starts while the holder lives, so it cannot be taken for
    // the holder by a reused thread id.
    std::thread([&] { kind.lock->LockObject(), other = TakeElsewhere(kind.lock); }).join();
    EXPECT_TRUE(GetsIn(other)) << "the lock died with its holder thread";
    EXPECT_TRUE(GetsIn(TakeElsewhere(kind.lock)));
  }
}

// Recursion and ownership belong to the name, not to the object; every name
// is its own lock.
TEST(NamedLockTest, ObjectsOfOneNameAreOneLockDistinctNamesAreNot) {
  std::string name = UniqueLockName("same");
  Lock a = Named(name), b = Named(name);
  a->LockObject(), b->LockObject();
  std::thread([b] { b->UnlockObject(); }).join();  // not the holder: ignored
  Taker other = TakeElsewhere(Named(name));
  a->UnlockObject();  // releases the hold taken through b
  { tINTER_PROCESS_LOCK passing(name.c_str()); }
  EXPECT_FALSE(GetsIn(other, kGraceMs)) << "one hold is left";
  b->UnlockObject();
  EXPECT_TRUE(GetsIn(other));
  a.reset();
  EXPECT_TRUE(SameLock(b, Named(name))) << "closing one object keeps the name for the others";
  EXPECT_TRUE(SameLock(b, Named("Local\\" + name)));
  EXPECT_FALSE(SameLock(Named(""), Named("")) || SameLock(Unnamed(), Unnamed()));
  // Every name is its own lock, however a file system would have to spell it.
  const std::string p = UniqueLockName("n") + "-", longest(238 - p.size(), 'x');
  std::vector<std::pair<std::string, std::string>> pairs = {
      {"slash/inside", "slash%2Finside"}, {"aA", "a%41"}, {"..", "."}, {"dots..", "dots"}, {"space here", "space_here"},
      {"a:b*c?d\"e<f>g|h", "a_b_c_d_e_f_g_h"}, {"case", "CASE"}, {"caf\xc3\xa9", "cafe"},
      {longest + "1", longest + "2"},  // below MAX_PATH
#if !defined(_WIN32)  // names Windows refuses; the last ones are hashed for the file system
      {"back\\slash", "back/slash"}, {"trailing\\", "trailing"}, {std::string(600, '/') + "1", std::string(600, '/') + "2"},
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
// The POSIX layer keeps lock files for good (docs/locks.md): this program
// and its children put theirs in a runtime directory removed at the end.
struct LockFileDir : ::testing::Environment {
  void SetUp() override { dir.reset(new TempDir), setenv("XDG_RUNTIME_DIR", dir->path().c_str(), 1); }
  void TearDown() override { dir.reset(); }
  std::unique_ptr<TempDir> dir;
};
::testing::Environment *const kLockFileDir = ::testing::AddGlobalTestEnvironment(new LockFileDir);

// A runtime directory that is not the user's own would leave every lock
// doing nothing: /tmp serves instead. "Global\\" names, shared by all users,
// always live there.
TEST(NamedLockTest, LockFilesFallBackToTmp) {
  const std::string own = std::getenv("XDG_RUNTIME_DIR"), dirs[] = {"/kelcore-no-such-dir", "relative/dir", "/dev/null", "", own};
  for (const std::string &dir : dirs) {
    SCOPED_TRACE(dir);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    std::string name = UniqueLockName("tmp"), spelled = dir == own ? "Global\\" + name : name;
    EXPECT_TRUE(SameLock(Named(spelled), Named(spelled)));
    EXPECT_EQ(std::remove(("/tmp/kelcore-mutex-" + name).c_str()), 0) << "no lock file in /tmp";
  }
}
#endif

long ReadNumber(const std::string &f) { std::string s; return ReadWholeFile(f, &s) ? std::atol(s.c_str()) : -1; }

// Adds one to the number in `file` under `lock`, kCountRounds times, with
// a pause between reading and writing that invites a lost update.
bool CountUnderLock(tPHYSYNCOBJ &lock, const std::string &file) {
  for (int i = 0; i < kCountRounds; ++i) {
    tOBJECT_LOCK hold(lock);
    long n = ReadNumber(file);
    std::this_thread::yield();
    if (n < 0 || !WriteWholeFile(file, std::to_string(n + 1))) return false;
  }
  return true;
}

// args: lock name, directory, what to do. The child says what it does (a
// file of that name) once its lock is open, then:
// - "count": counts;
// - "kill", "exit", "fork": holds the lock twice, says "held", then waits to
//   be killed ("fork": after leaving behind a forked process that inherited
//   everything), or return when told ("exit").
KELCORE_CHILD_MAIN(lock_child) {
  const std::string dir = args.at(1) + "/", how = args.at(2);
  tINTER_PROCESS_LOCK lock(args[0].c_str());
  TouchFile(dir + how);  // the lock is open
  if (how == "count") return CountUnderLock(lock, dir + "counter") ? 0 : 3;
  lock.LockObject(), lock.LockObject();
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
  SleepMs(kPatienceMs * 2);
  return 1;
}

class LockProcessTest : public TempDirTest,
                        public ::testing::WithParamInterface<const char *> {};

// However a holder process ends, the next waiter gets the lock, and the
// lock goes on serialising processes.
TEST_P(LockProcessTest, HolderEndsWithoutReleasing) {
  const std::string how = GetParam(), name = UniqueLockName(how), counter_file = tmp.File("counter");
#if defined(_WIN32)
  if (how == "fork") GTEST_SKIP() << "no fork() on Windows";
#endif
  ChildProcess holder, counter;
  ASSERT_TRUE(holder.Start("lock_child", {name, tmp.path(), how}));
  ASSERT_TRUE(WaitForFile(tmp.File("held")));
  Lock lock = Named(name);
  Taker waiter = TakeElsewhere(lock);
  EXPECT_FALSE(GetsIn(waiter, kGraceMs)) << "another process holds it";
  TouchFile(tmp.File("end"));
  EXPECT_EQ(how == "exit" ? holder.Wait() : 0, 0);
  holder.Kill();
  EXPECT_TRUE(GetsIn(waiter)) << "the lock died with its holder";
  TouchFile(tmp.File("forked-may-end"));

  ASSERT_TRUE(WriteWholeFile(counter_file, "0"));
  lock->LockObject(), lock->LockObject();
  ASSERT_TRUE(counter.Start("lock_child", {name, tmp.path(), "count"}));
  ASSERT_TRUE(WaitForFile(tmp.File("count")));
  for (int holds = 2; holds > 0; --holds) {
    SleepMs(kGraceMs);
    EXPECT_EQ(ReadNumber(counter_file), 0) << holds << " hold(s) left";
    lock->UnlockObject();
  }
  EXPECT_TRUE(CountUnderLock(*lock, counter_file));
  EXPECT_EQ(counter.Wait(), 0);
  EXPECT_EQ(ReadNumber(counter_file), 2L * kCountRounds);
}

INSTANTIATE_TEST_SUITE_P(Ways, LockProcessTest, ::testing::Values("kill", "exit", "fork"));

// Every allocation that can fail, for a fresh name and for a name already
// open here: nothing leaks or crashes, and the name's shared state survives.
TEST(LockOutOfMemoryTest, EveryAllocationOfALock) {
  auto use = [](tPHYSYNCOBJ &a, tPHYSYNCOBJ &b) { tOBJECT_LOCK hold_a(a), hold_b(b); };
  EXPECT_EQ(SweepAllocFailures([&] { tINTRA_PROCESS_LOCK l; use(l, l); }), 1u);
  std::string name = UniqueLockName("sweep");
  SweepAllocFailures([&] { tINTER_PROCESS_LOCK l(name.c_str()); use(l, l); });
  Lock first = Named(name);
  SweepAllocFailures([&] { tINTER_PROCESS_LOCK l(name.c_str()); use(l, *first); });
  EXPECT_TRUE(SameLock(first, Named(name)));
}

}  // namespace
