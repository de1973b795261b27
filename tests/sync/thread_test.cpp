// Thread objects: one per thread, explicit and automatic, the last error,
// thread-local storage slots and their life across threads.
//
// Slots declared here stay registered for the whole process, so every later
// block holds them: the tests count callbacks as differences around what
// they do, never as absolute numbers.
#include "kelcore/sync/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include "kelcore/app/os_calls.h"
#include "kelcore/msg/message.h"
#include "kelcore/sync/lock.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

// Every instance alive is counted, so a test can tell whether the thread
// object disposed of (or kept) its last error.
struct CountedMsg : tMSGSTR {
  CountedMsg() : tMSGSTR("counted", "counted test message", tMSG::eERROR) { ++live; }
  ~CountedMsg() { --live; }
  static inline std::atomic<int> live{0};
};

const std::uint64_t kMagic = 0x6b656c636f726531ull;
std::atomic<int> g_constructed{0}, g_destructed{0}, g_late_constructed{0}, g_resurrect{0};
char g_exit_marker[1024];

std::uint64_t Read(const void *p) { std::uint64_t v = 0; return p != nullptr ? (std::memcpy(&v, p, sizeof v), v) : 0; }

// Counts blocks, and catches a slot destroyed twice or overwritten.
void ConstructCounted(void *p) { std::memcpy(p, &kMagic, sizeof kMagic), ++g_constructed; }
void DestructCounted(void *p) {
  EXPECT_EQ(Read(p), kMagic) << "slot destroyed twice or overwritten";
  std::memset(p, 0, sizeof kMagic), ++g_destructed;
}
tTLSDEF g_counted(sizeof kMagic, ConstructCounted, DestructCounted);
tTLSDEF g_plain(3, nullptr, nullptr);  // next to it: slots must not overlap
// Raises a last error while its thread ends, bringing an automatic object
// back to life; or tells that the process-ending thread's object went.
tTLSDEF g_at_end(1, nullptr, [](void *) {
  if (g_resurrect.exchange(0) != 0) tTHREAD::SetLastError(*new CountedMsg);
  if (g_exit_marker[0] != '\0') kelcore_test::TouchFile(g_exit_marker);
});

// Blocks constructed and destroyed, and counted messages alive, less those of `f`.
using Counts = std::vector<int>;
Counts Tally(const Counts &f = {0, 0, 0}) { return {g_constructed - f[0], g_destructed - f[1], CountedMsg::live - f[2]}; }

template <class F> void Await(F done) { while (!done()) std::this_thread::yield(); }
// Runs `fn` in `n` threads at once.
template <class F> void InThreads(int n, F fn) { if (n > 0) { std::thread t(fn); InThreads(n - 1, fn); t.join(); } }
bool Listed(tTHREAD *from, tTHREAD *wanted) { return from != nullptr && (from == wanted || Listed(from->Next(), wanted)); }
// Hidden from the optimiser, so that null references stay as written.
template <class T> T &Null() { T *volatile none = nullptr; return *none; }

TEST(ThreadObject, ExplicitObjectsAutomaticOnesAndTheLastError) {
  InThreads(1, [] {
    const Counts start = Tally();
    tTHREAD *mine = new tTHREAD;
    EXPECT_EQ(tTHREAD::LocateThreadObj(), mine);
    tTHREAD::DeleteAutoThreadObject();  // not the library's to delete
    CountedMsg *msg = new CountedMsg;
    tTHREAD::SetLastError(*msg);
    // Slots start aligned for any object, and do not overlap.
    char *counted = static_cast<char *>(g_counted.GetPtr()), *plain = static_cast<char *>(g_plain.GetPtr());
    EXPECT_TRUE(counted + sizeof kMagic <= plain || plain + 3 <= counted);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(plain) % alignof(std::max_align_t), 0u);
    // A second object stays out of the list, without a block or last error.
    tTHREAD *second = new tTHREAD;
    EXPECT_FALSE(Listed(mine, second));
    delete second;
    EXPECT_EQ(Tally(start), (Counts{1, 0, 1}));
    EXPECT_EQ(tTHREAD::GetLastError(), msg);
    delete mine;  // its block and its last error go with it
    EXPECT_EQ(Tally(start), (Counts{1, 1, 0}));
    EXPECT_EQ(tTHREAD::GetThreadObj(), nullptr);
    ASSERT_NE(tTHREAD::LocateThreadObj(), nullptr);
    // The last error is owned, replaced (the old one disposed of) and taken.
    CountedMsg *first = new CountedMsg, *other = new CountedMsg;
    tTHREAD::SetLastError(*first);
    EXPECT_EQ(tTHREAD::TakeOwnershipOfLastError(), first);
    EXPECT_EQ(tTHREAD::TakeOwnershipOfLastError(), nullptr);
    tTHREAD::SetLastError(*first);
    tTHREAD::SetLastError(*other);
    EXPECT_EQ(Tally(start)[2], 1) << "the replaced one is disposed of";
    tTHREAD::SetLastError(*other);
    EXPECT_EQ(tTHREAD::GetLastError(), other) << "the same again is kept";
    tTHREAD::SetLastError(tERRMSG::OutOfMemory);
    tTHREAD::SetLastError(NULL);
    EXPECT_STREQ(tERRMSG::OutOfMemory.Format(), "Out of memory");
    tTHREAD::SetLastError(*new CountedMsg);
    tTHREAD::DeleteAutoThreadObject();
    EXPECT_EQ(tTHREAD::GetThreadObj(), nullptr);
    EXPECT_EQ(Tally(start), (Counts{2, 2, 0}));
  });
}

// args: marker file. Leaves an automatic object on the thread that ends
// the process.
KELCORE_CHILD_MAIN(thread_exit_at_process_end) {
  std::strncpy(g_exit_marker, args.at(0).c_str(), sizeof g_exit_marker - 1);
  return tTHREAD::LocateThreadObj() != nullptr ? 0 : 3;
}

TEST(ThreadObject, AutomaticObjectsDieWithTheirThreadAndProcess) {
  const Counts start = Tally();
  InThreads(32, [] { tTHREAD::SetLastError(*new CountedMsg); });
  EXPECT_EQ(Tally(start), (Counts{32, 32, 0}));
  InThreads(1, [] { tTHREAD::LocateThreadObj(), g_resurrect = 1; });
  EXPECT_EQ(g_resurrect, 0);
  // The first block and the one the callback's last error brought along.
  EXPECT_EQ(Tally(start), (Counts{34, 34, 0}));
  tTLSDEF::Delete(tTLSDEF::New()), tTLSDEF::Delete(nullptr);  // a block of one's own, and none
  EXPECT_EQ(Tally(start), (Counts{35, 35, 0}));
  kelcore_test::TempDir tmp;
  kelcore_test::ChildProcess child;
  ASSERT_TRUE(child.Start("thread_exit_at_process_end", {tmp.File("deleted")}));
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_TRUE(kelcore_test::WaitForFile(tmp.File("deleted"), 5000)) << "the last thread's object goes with the process";
}

#if !defined(_WIN32)
// POSIX only (Windows has no fork()): the child's thread is a new thread,
// with no object and no last error until it makes one, though it inherits
// the memory and the cached state of the thread that forked.
TEST(ThreadObject, AForkedChildStartsWithoutTheParentsObject) {
  InThreads(1, [] {
    CountedMsg *msg = new CountedMsg;
    tTHREAD::SetLastError(*msg);
    tTHREAD *mine = tTHREAD::GetThreadObj();
    pid_t pid = fork();
    if (pid == 0) {
      // One bit per failed check: no GoogleTest assertions in a forked child.
      auto own = [] { tTHREAD *t = tTHREAD::GetThreadObj(); return t != nullptr && t->GetId() == tOSSYSCALLS::GetCurrentThreadId(); };
      int failed = tTHREAD::GetThreadObj() != nullptr;
      failed |= (tTHREAD::GetLastError() != nullptr) << 1;  // makes one
      failed |= (!own() || tTHREAD::GetThreadObj() == mine) << 2;
#if !defined(__SANITIZE_THREAD__)  // which refuses threads after a threaded fork()
      std::thread([&] { failed |= (tTHREAD::LocateThreadObj() == nullptr || !own()) << 3; }).join();
#endif
      _exit(failed);
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failed checks, one bit each";
    EXPECT_TRUE(tTHREAD::GetThreadObj() == mine && tTHREAD::GetLastError() == msg) << "the parent's are untouched";
  });
}
#endif

// Each thread caches its object; destroying it from another thread must
// not leave the owner's cache pointing at it.
TEST(ThreadObject, AnObjectDestroyedByAnotherThreadIsForgottenByItsOwn) {
  tTHREAD *theirs = nullptr, *mains = tTHREAD::LocateThreadObj();
  std::atomic<int> step{0};
  const Counts start = Tally();
  std::thread owner([&] {
    theirs = new tTHREAD;
    EXPECT_EQ(tTHREAD::GetThreadObj(), theirs);
    step = 1;
    Await([&] { return step == 2; });
    EXPECT_EQ(tTHREAD::GetThreadObj(), nullptr);
    tTHREAD *fresh = tTHREAD::LocateThreadObj();
    EXPECT_TRUE(fresh != nullptr && tTHREAD::GetThreadObj() == fresh);
  });
  Await([&] { return step == 1; });
  EXPECT_TRUE(Listed(mains, theirs) || Listed(theirs, mains));
  delete theirs;
  step = 2;
  owner.join();
  EXPECT_EQ(Tally(start), (Counts{2, 2, 0}));
  EXPECT_EQ(tTHREAD::GetThreadObj(), mains) << "found again in the list";
}

TEST(NullReference, ObjectLockIgnoresItSetLastErrorClears) {
#if defined(KELCORE_TEST_UBSAN)
  GTEST_SKIP() << "binds references to null on purpose";
#else
  tOBJECT_LOCK hold(Null<tPHYSYNCOBJ>());
  const Counts start = Tally();
  tTHREAD::SetLastError(*new CountedMsg);
  tTHREAD::SetLastError(Null<tMSG>());
  EXPECT_TRUE(tTHREAD::GetLastError() == nullptr && Tally(start)[2] == 0);
#endif
}

// Objects and last errors are per thread, however many threads use them.
TEST(LastError, SixteenThreadsRaiseAndTakeConcurrently) {
  const Counts start = Tally();
  std::atomic<int> mismatches{0}, arrived{0};
  InThreads(16, [&] {
    ++arrived, Await([&] { return arrived == 16; });
    mismatches += tTHREAD::GetThreadObj() != nullptr;  // none until located
    tTHREAD *mine = tTHREAD::LocateThreadObj();
    mismatches += mine == nullptr || mine->GetId() != tOSSYSCALLS::GetCurrentThreadId();
    for (int round = 0; round < 2000; ++round) {
      CountedMsg *msg = new CountedMsg;
      tTHREAD::SetLastError(*msg);
      if (round % 7 == 0) tTHREAD::SetLastError(*(msg = new CountedMsg));
      mismatches += tTHREAD::GetLastError() != msg;
      tMSG *taken = tTHREAD::TakeOwnershipOfLastError();
      mismatches += taken != msg || tTHREAD::GetThreadObj() != mine || (round % 5 == 0 && Read(g_counted.GetPtr()) != kMagic);
      tMSG::Dispose(taken);
    }
    tTHREAD::SetLastError(*new CountedMsg);  // for the thread's end
  });
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(Tally(start)[2], 0);
}

TEST(ThreadOutOfMemory, SetLastErrorAndLocateNeverLeak) {
  InThreads(1, [] {
    const Counts start = Tally();
    EXPECT_GE(kelcore_test::SweepAllocFailures([] {
      tMSG *msg = new (std::nothrow) CountedMsg;
      if (msg != nullptr) tTHREAD::SetLastError(*msg);
      // Recorded exactly when the thread has an object to hold it.
      tMSG *expected = tTHREAD::GetThreadObj() != nullptr ? msg : nullptr;
      EXPECT_EQ(tTHREAD::GetLastError(), expected);
      EXPECT_TRUE(g_counted.GetPtr() == nullptr || Read(g_counted.GetPtr()) == kMagic);
      tTHREAD::SetLastError(new (std::nothrow) CountedMsg);
      tTHREAD::DeleteAutoThreadObject();
    }), 3u);
    const Counts change = Tally(start);
    EXPECT_TRUE(change[0] == change[1] && change[2] == 0) << change[0] << " " << change[1] << " " << change[2];
  });
}

// A slot declared later is constructed in every existing block, which
// grows and keeps the older slots; a block that cannot grow for lack of
// memory must go, as reading the new slot would reach past its end.
TEST(ThreadStorage, ASlotDeclaredLaterReachesEveryThread) {
  tTHREAD::SetLastError(NULL);
  tTHREAD::DeleteAutoThreadObject();  // main's block is not to be lost to the sweep
  const int kThreads = 3;
  std::atomic<int> ready{0}, phase{0}, failures{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) threads.emplace_back([&, i] {
    std::uint64_t mark = 0x1000u + i;
    std::memcpy(g_counted.GetPtr(), &mark, sizeof mark);
    std::memset(g_plain.GetPtr(), 'a' + i, 3);
    for (int wanted = 1; wanted <= 2; ++wanted) {
      ++ready;
      Await([&] { return phase == wanted; });
      // The grown block; after the sweep, the grown block or none at all.
      char *slot = static_cast<char *>(g_counted.GetPtr());
      failures += slot == nullptr ? wanted == 1 : Read(slot) != mark || static_cast<char *>(g_plain.GetPtr())[2] != 'a' + i;
      // What the destructor of a block lost in the sweep checks for.
      if (slot != nullptr) std::memcpy(slot, &(mark = kMagic), sizeof mark);
    }
  });
  Await([&] { return ready == kThreads; });
  int constructed = g_late_constructed;
  // Registered for the rest of the process, as a static one would be.
  new tTLSDEF(16, [](void *) { ++g_late_constructed; }, nullptr);
  EXPECT_EQ(g_late_constructed - constructed, kThreads);
  phase = 1;
  Await([&] { return ready == 2 * kThreads; });
  InThreads(1, [] { EXPECT_GE(kelcore_test::SweepAllocFailures([] { new tTLSDEF(8, nullptr, nullptr); }), 3u); });
  phase = 2;
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(failures, 0);
}

}  // namespace
