// Thread objects: one per thread, explicit and automatic, the last error,
// thread-local storage slots and their life across threads.
//
// Slots declared here (static or leaked) stay registered for the whole
// process: every later block holds them, so the tests count callbacks as
// differences around what they do, never as absolute numbers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kelcore/app/os_calls.h"
#include "kelcore/msg/message.h"
#include "kelcore/sync/thread.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/sync/thread_test_util.h"

using kelcore_test::Arrivals;
using kelcore_test::CountedMsg;
using kelcore_test::Latch;
using kelcore_test::RunInFreshThread;

namespace {

const std::uint64_t kMagic = 0x6b656c636f726531ull;

std::atomic<int> g_constructed{0};
std::atomic<int> g_destructed{0};

void ConstructCounted(void *slot) {
  std::uint64_t magic = kMagic;
  std::memcpy(slot, &magic, sizeof magic);
  ++g_constructed;
}

void DestructCounted(void *slot) {
  std::uint64_t magic;
  std::memcpy(&magic, slot, sizeof magic);
  EXPECT_EQ(magic, kMagic) << "slot destroyed twice or overwritten";
  std::memset(slot, 0, sizeof magic);
  ++g_destructed;
}

// Present in every block of this program.
tTLSDEF g_counted_slot(sizeof(std::uint64_t), ConstructCounted, DestructCounted);

// A slot without callbacks next to it: neighbours must not overlap.
tTLSDEF g_plain_slot(3, nullptr, nullptr);

std::uint64_t ReadSlot(const tTLSDEF &def) {
  std::uint64_t value = 0;
  void *p = def.GetPtr();
  if (p != nullptr) std::memcpy(&value, p, sizeof value);
  return value;
}

bool Listed(tTHREAD *from, tTHREAD *wanted) {
  for (tTHREAD *t = from; t != nullptr; t = t->Next()) {
    if (t == wanted) return true;
  }
  return false;
}

// --- finding objects ---------------------------------------------------------

TEST(ThreadObject, AFreshThreadHasNoObjectUntilLocated) {
  RunInFreshThread([] {
    EXPECT_EQ(tTHREAD::GetThreadObj(), nullptr);
    tTHREAD *t = tTHREAD::LocateThreadObj();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(tTHREAD::GetThreadObj(), t);
    EXPECT_EQ(tTHREAD::LocateThreadObj(), t);
    EXPECT_EQ(t->GetId(), tOSSYSCALLS::GetCurrentThreadId());
  });
}

TEST(ThreadObject, EachThreadFindsItsOwnObject) {
  const int kThreads = 4;
  std::vector<tTHREAD *> objects(kThreads, nullptr);
  std::vector<int> ids(kThreads, 0);
  Arrivals located;
  Latch done;
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      // One after the other, so the list order is known.
      located.WaitFor(i);
      objects[i] = tTHREAD::LocateThreadObj();
      ids[i] = tOSSYSCALLS::GetCurrentThreadId();
      located.Arrive();
      done.Wait();
      EXPECT_EQ(tTHREAD::GetThreadObj(), objects[i]);
    });
  }
  located.WaitFor(kThreads);
  for (int i = 0; i < kThreads; ++i) {
    ASSERT_NE(objects[i], nullptr);
    EXPECT_EQ(objects[i]->GetId(), ids[i]);
    EXPECT_NE(objects[i], tTHREAD::LocateThreadObj());
    for (int j = 0; j < i; ++j) EXPECT_NE(objects[i], objects[j]);
  }
  // Appended at the tail in order of creation.
  for (int i = 1; i < kThreads; ++i) EXPECT_TRUE(Listed(objects[i - 1], objects[i]));
  done.Open();
  for (std::thread &t : threads) t.join();
}

TEST(ThreadObject, AnEndedThreadLeavesTheListIntact) {
  tTHREAD *objects[3] = {nullptr, nullptr, nullptr};
  Arrivals located;
  Latch first_may_end, rest_may_end;
  std::thread t0([&] {
    objects[0] = tTHREAD::LocateThreadObj();
    located.Arrive();
    rest_may_end.Wait();
  });
  located.WaitFor(1);
  std::thread t1([&] {
    objects[1] = tTHREAD::LocateThreadObj();
    located.Arrive();
    first_may_end.Wait();
  });
  located.WaitFor(2);
  std::thread t2([&] {
    objects[2] = tTHREAD::LocateThreadObj();
    located.Arrive();
    rest_may_end.Wait();
  });
  located.WaitFor(3);
  ASSERT_TRUE(Listed(objects[0], objects[1]));
  ASSERT_TRUE(Listed(objects[1], objects[2]));

  first_may_end.Open();
  t1.join();
  EXPECT_TRUE(Listed(objects[0], objects[2]));
  for (tTHREAD *t = objects[0]; t != nullptr; t = t->Next()) {
    EXPECT_NE(t->Next(), objects[1]) << "the middle object is still linked";
  }
  rest_may_end.Open();
  t0.join();
  t2.join();
}

// --- explicit and automatic objects --------------------------------------------

TEST(ThreadObject, AnExplicitObjectIsTheThreadsObject) {
  RunInFreshThread([] {
    tTHREAD mine;
    EXPECT_EQ(tTHREAD::GetThreadObj(), &mine);
    EXPECT_EQ(tTHREAD::LocateThreadObj(), &mine);
    EXPECT_EQ(mine.GetId(), tOSSYSCALLS::GetCurrentThreadId());
    EXPECT_NE(g_counted_slot.GetPtr(), nullptr);
    // Left alone: the library did not create it.
    tTHREAD::DeleteAutoThreadObject();
    EXPECT_EQ(tTHREAD::GetThreadObj(), &mine);
  });
}

TEST(ThreadObject, DestroyingTheExplicitObjectForgetsIt) {
  RunInFreshThread([] {
    tTHREAD *mine = new tTHREAD;
    ASSERT_EQ(tTHREAD::GetThreadObj(), mine);
    delete mine;
    EXPECT_EQ(tTHREAD::GetThreadObj(), nullptr);
    tTHREAD *automatic = tTHREAD::LocateThreadObj();
    ASSERT_NE(automatic, nullptr);
    tTHREAD::DeleteAutoThreadObject();
    EXPECT_EQ(tTHREAD::GetThreadObj(), nullptr);
  });
}

TEST(ThreadObject, ASecondExplicitObjectStaysOutsideTheList) {
  RunInFreshThread([] {
    tTHREAD first;
    tTHREAD *second = new tTHREAD;
    EXPECT_EQ(tTHREAD::GetThreadObj(), &first);
    EXPECT_FALSE(Listed(&first, second));
    EXPECT_EQ(second->Next(), nullptr);
    EXPECT_EQ(second->GetId(), first.GetId());

    CountedMsg *msg = new CountedMsg("kept by the first object");
    tTHREAD::SetLastError(*msg);
    int constructed = g_constructed, destructed = g_destructed;
    delete second;
    // The second object had no block and no last error of its own.
    EXPECT_EQ(g_destructed - destructed, 0);
    EXPECT_EQ(g_constructed - constructed, 0);
    EXPECT_EQ(tTHREAD::GetThreadObj(), &first);
    EXPECT_EQ(tTHREAD::GetLastError(), msg);
  });
}

TEST(ThreadObject, AnExplicitObjectAfterAnAutomaticOneIsNotListed) {
  RunInFreshThread([] {
    tTHREAD *automatic = tTHREAD::LocateThreadObj();
    ASSERT_NE(automatic, nullptr);
    {
      tTHREAD late;
      EXPECT_EQ(tTHREAD::GetThreadObj(), automatic);
      EXPECT_FALSE(Listed(automatic, &late));
    }
    EXPECT_EQ(tTHREAD::GetThreadObj(), automatic);
  });
}

TEST(ThreadObject, AutomaticObjectsAreDeletedWhenTheirThreadEnds) {
  int constructed = g_constructed, destructed = g_destructed, live = CountedMsg::live;
  RunInFreshThread([] {
    ASSERT_NE(tTHREAD::LocateThreadObj(), nullptr);
    tTHREAD::SetLastError(*new CountedMsg("left behind at thread end"));
  });
  EXPECT_EQ(g_constructed - constructed, 1);
  EXPECT_EQ(g_destructed - destructed, 1);
  EXPECT_EQ(CountedMsg::live, live);
}

std::atomic<int> g_resurrections{0};

void ResurrectOnce(void *) {
  if (g_resurrections.exchange(0) == 1) {
    tTHREAD::SetLastError(*new CountedMsg("raised while the thread ends"));
  }
}

tTLSDEF g_resurrecting_slot(1, nullptr, ResurrectOnce);

TEST(ThreadObject, AnObjectBroughtBackWhileTheThreadEndsIsDeletedToo) {
  int constructed = g_constructed, destructed = g_destructed, live = CountedMsg::live;
  RunInFreshThread([] {
    ASSERT_NE(tTHREAD::LocateThreadObj(), nullptr);
    g_resurrections = 1;
  });
  EXPECT_EQ(g_resurrections, 0);
  // The first block and the one the callback's last error brought along.
  EXPECT_EQ(g_constructed - constructed, 2);
  EXPECT_EQ(g_destructed - destructed, 2);
  EXPECT_EQ(CountedMsg::live, live);
}

TEST(ThreadObject, ManyThreadsEndingDeleteTheirObjects) {
  int destructed = g_destructed, live = CountedMsg::live;
  std::vector<std::thread> threads;
  for (int i = 0; i < 32; ++i) {
    threads.emplace_back([] { tTHREAD::SetLastError(*new CountedMsg("one per thread")); });
  }
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(g_destructed - destructed, 32);
  EXPECT_EQ(CountedMsg::live, live);
}

TEST(ThreadObject, AnExplicitObjectOutlivesItsThread) {
  tTHREAD *orphan = nullptr;
  int destructed = g_destructed;
  RunInFreshThread([&] { orphan = new tTHREAD; });
  ASSERT_NE(orphan, nullptr);
  EXPECT_EQ(g_destructed - destructed, 0);
  // Destroyed by another thread, as its owner may do.
  delete orphan;
  EXPECT_EQ(g_destructed - destructed, 1);
  EXPECT_NE(tTHREAD::LocateThreadObj(), nullptr);
}

TEST(ThreadObject, AnObjectDestroyedByAnotherThreadIsForgottenByItsOwn) {
  tTHREAD *theirs = nullptr;
  Arrivals created;
  Latch destroyed;
  int destructed = g_destructed;
  std::thread owner([&] {
    theirs = new tTHREAD;
    EXPECT_EQ(tTHREAD::GetThreadObj(), theirs);
    created.Arrive();
    destroyed.Wait();
    EXPECT_EQ(tTHREAD::GetThreadObj(), nullptr);
    tTHREAD *fresh = tTHREAD::LocateThreadObj();
    EXPECT_NE(fresh, nullptr);
    EXPECT_EQ(tTHREAD::GetThreadObj(), fresh);
  });
  created.WaitFor(1);
  delete theirs;
  destroyed.Open();
  owner.join();
  // Their explicit object and then the automatic one.
  EXPECT_EQ(g_destructed - destructed, 2);
}

// --- the last error -------------------------------------------------------------

TEST(LastError, IsSetReadAndTakenOver) {
  RunInFreshThread([] {
    int live = CountedMsg::live;
    CountedMsg *msg = new CountedMsg("first failure");
    tTHREAD::SetLastError(*msg);
    EXPECT_EQ(tTHREAD::GetLastError(), msg);
    EXPECT_EQ(tTHREAD::GetLastError(), msg);
    tMSG *taken = tTHREAD::TakeOwnershipOfLastError();
    EXPECT_EQ(taken, msg);
    EXPECT_EQ(tTHREAD::GetLastError(), nullptr);
    EXPECT_EQ(tTHREAD::TakeOwnershipOfLastError(), nullptr);
    EXPECT_EQ(CountedMsg::live, live + 1);
    tMSG::Dispose(taken);
    EXPECT_EQ(CountedMsg::live, live);
  });
}

TEST(LastError, ReplacingDisposesOfThePreviousMessage) {
  RunInFreshThread([] {
    int live = CountedMsg::live;
    tTHREAD::SetLastError(*new CountedMsg("old"));
    CountedMsg *newer = new CountedMsg("new");
    tTHREAD::SetLastError(*newer);
    EXPECT_EQ(CountedMsg::live, live + 1);
    EXPECT_EQ(tTHREAD::GetLastError(), newer);
    // The same message again is kept, not disposed of.
    tTHREAD::SetLastError(*newer);
    EXPECT_EQ(CountedMsg::live, live + 1);
    EXPECT_EQ(tTHREAD::GetLastError(), newer);
    tTHREAD::SetLastError(NULL);
    EXPECT_EQ(tTHREAD::GetLastError(), nullptr);
    EXPECT_EQ(CountedMsg::live, live);
  });
}

TEST(LastError, StaticMessagesSurviveBeingReplaced) {
  RunInFreshThread([] {
    tTHREAD::SetLastError(tERRMSG::OutOfMemory);
    EXPECT_EQ(tTHREAD::GetLastError(), &tERRMSG::OutOfMemory);
    tTHREAD::SetLastError(*new CountedMsg("after out of memory"));
    EXPECT_STREQ(tERRMSG::OutOfMemory.Format(), "Out of memory");
    tTHREAD::SetLastError(tERRMSG::OutOfMemory);
    tTHREAD::SetLastError(NULL);
    EXPECT_STREQ(tERRMSG::OutOfMemory.Format(), "Out of memory");
  });
}

TEST(LastError, ANullReferenceClearsIt) {
#if defined(KELCORE_TEST_UBSAN)
  GTEST_SKIP() << "binds a reference to null on purpose";
#else
  RunInFreshThread([] {
    int live = CountedMsg::live;
    tTHREAD::SetLastError(*new CountedMsg("to be cleared"));
    tMSG *volatile none = nullptr;
    tTHREAD::SetLastError(*none);
    EXPECT_EQ(tTHREAD::GetLastError(), nullptr);
    EXPECT_EQ(CountedMsg::live, live);
  });
#endif
}

TEST(LastError, IsStrictlyPerThread) {
  CountedMsg *mine = new CountedMsg("main's");
  tTHREAD::SetLastError(*mine);
  RunInFreshThread([] {
    EXPECT_EQ(tTHREAD::GetLastError(), nullptr);
    tTHREAD::SetLastError(*new CountedMsg("the helper's"));
  });
  EXPECT_EQ(tTHREAD::GetLastError(), mine);
  tTHREAD::SetLastError(NULL);
}

TEST(LastError, BelongsToTheExplicitObjectAndDiesWithIt) {
  RunInFreshThread([] {
    int live = CountedMsg::live;
    {
      tTHREAD mine;
      tTHREAD::SetLastError(*new CountedMsg("owned by mine"));
      EXPECT_EQ(CountedMsg::live, live + 1);
    }
    EXPECT_EQ(CountedMsg::live, live);
    EXPECT_EQ(tTHREAD::GetLastError(), nullptr);
  });
}

TEST(LastError, SixteenThreadsRaiseAndTakeConcurrently) {
  const int kThreads = 16, kRounds = 2000;
  int live = CountedMsg::live;
  std::atomic<int> mismatches{0};
  Latch start;
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      start.Wait();
      for (int round = 0; round < kRounds; ++round) {
        CountedMsg *msg = new CountedMsg("raised");
        tTHREAD::SetLastError(*msg);
        if (round % 7 == 0) {
          // Replaced before anyone takes it.
          CountedMsg *newer = new CountedMsg("raised again");
          tTHREAD::SetLastError(*newer);
          msg = newer;
        }
        if (tTHREAD::GetLastError() != msg) ++mismatches;
        tMSG *taken = tTHREAD::TakeOwnershipOfLastError();
        if (taken != msg) ++mismatches;
        tMSG::Dispose(taken);
        if (round % 5 == 0) {
          g_counted_slot.GetPtr();
          if (tTHREAD::GetThreadObj() == nullptr) ++mismatches;
        }
      }
      // Left for the thread's end to dispose of.
      tTHREAD::SetLastError(*new CountedMsg("last"));
    });
  }
  start.Open();
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(CountedMsg::live, live);
}

// --- thread-local storage -------------------------------------------------------

TEST(ThreadStorage, EverySlotIsConstructedInANewBlock) {
  RunInFreshThread([] {
    int constructed = g_constructed;
    void *counted = g_counted_slot.GetPtr();
    void *plain = g_plain_slot.GetPtr();
    ASSERT_NE(counted, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(g_constructed - constructed, 1);
    EXPECT_EQ(ReadSlot(g_counted_slot), kMagic);
    // Slots do not overlap and are aligned for any object.
    char *a = static_cast<char *>(counted), *b = static_cast<char *>(plain);
    EXPECT_TRUE(a + sizeof(std::uint64_t) <= b || b + 3 <= a);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(counted) % alignof(std::uint64_t), 0u);
    EXPECT_EQ(g_counted_slot.GetPtr(), counted);
  });
}

TEST(ThreadStorage, SlotsArePerThread) {
  void *mine = g_counted_slot.GetPtr();
  ASSERT_NE(mine, nullptr);
  std::memset(g_plain_slot.GetPtr(), 'm', 3);
  RunInFreshThread([mine] {
    void *theirs = g_counted_slot.GetPtr();
    EXPECT_NE(theirs, nullptr);
    EXPECT_NE(theirs, mine);
    std::memset(g_plain_slot.GetPtr(), 't', 3);
  });
  EXPECT_EQ(std::memcmp(g_plain_slot.GetPtr(), "mmm", 3), 0);
}

TEST(ThreadStorage, NewAndDeleteRunTheCallbacks) {
  int constructed = g_constructed, destructed = g_destructed;
  void *block = tTLSDEF::New();
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(g_constructed - constructed, 1);
  tTLSDEF::Delete(block);
  EXPECT_EQ(g_destructed - destructed, 1);
  tTLSDEF::Delete(nullptr);
  EXPECT_EQ(g_destructed - destructed, 1);
}

std::atomic<int> g_late_constructed{0};
std::atomic<int> g_late_destructed{0};
const unsigned char kLateFill = 0xA5;

void ConstructLate(void *slot) {
  std::memset(slot, kLateFill, 16);
  ++g_late_constructed;
}
void DestructLate(void *) { ++g_late_destructed; }

TEST(ThreadStorage, ASlotDeclaredLaterReachesExistingThreads) {
  const int kThreads = 3;
  Arrivals ready;
  Latch declared;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      std::uint64_t mark = 0x1000u + static_cast<std::uint64_t>(i);
      std::memcpy(g_counted_slot.GetPtr(), &mark, sizeof mark);
      std::memset(g_plain_slot.GetPtr(), 'a' + i, 3);
      ready.Arrive();
      declared.Wait();
      // Older slots keep their contents in the grown block.
      if (ReadSlot(g_counted_slot) != mark) ++failures;
      if (std::memcmp(g_plain_slot.GetPtr(), std::string(3, static_cast<char>('a' + i)).data(), 3) != 0)
        ++failures;
      std::memcpy(g_counted_slot.GetPtr(), &kMagic, sizeof kMagic);
      ready.Arrive();
    });
  }
  ready.WaitFor(kThreads);
  // Main has an object (and block) as well.
  std::memset(g_plain_slot.GetPtr(), 'z', 3);
  int constructed = g_late_constructed;
  // Registered for the rest of the process, as a static one would be.
  tTLSDEF *late = new tTLSDEF(16, ConstructLate, DestructLate);
  EXPECT_GE(g_late_constructed - constructed, kThreads + 1);
  unsigned char expected[16];
  std::memset(expected, kLateFill, sizeof expected);
  ASSERT_NE(late->GetPtr(), nullptr);
  EXPECT_EQ(std::memcmp(late->GetPtr(), expected, 16), 0);
  EXPECT_EQ(std::memcmp(g_plain_slot.GetPtr(), "zzz", 3), 0);
  declared.Open();
  ready.WaitFor(2 * kThreads);
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(failures, 0);

  // New threads get the late slot constructed like any other.
  RunInFreshThread([&] {
    int before = g_late_constructed;
    ASSERT_NE(late->GetPtr(), nullptr);
    EXPECT_EQ(g_late_constructed - before, 1);
    EXPECT_EQ(std::memcmp(late->GetPtr(), expected, 16), 0);
  });
}

// --- allocation failure ----------------------------------------------------------

TEST(ThreadAllocFailure, SetLastErrorAndLocateNeverLeak) {
  RunInFreshThread([] {
    int live = CountedMsg::live;
    int constructed = g_constructed, destructed = g_destructed;
    std::size_t allocations = kelcore_test::SweepAllocFailures([] {
      tMSG *msg = new (std::nothrow) CountedMsg("swept");
      if (msg != nullptr) {
        tTHREAD::SetLastError(*msg);
        // Recorded exactly when the thread has an object to hold it.
        if (tTHREAD::GetThreadObj() != nullptr) {
          EXPECT_EQ(tTHREAD::GetLastError(), msg);
        }
      }
      if (tTHREAD::LocateThreadObj() == nullptr) {
        EXPECT_EQ(tTHREAD::GetLastError(), nullptr);
      }
      if (g_counted_slot.GetPtr() != nullptr) {
        EXPECT_EQ(ReadSlot(g_counted_slot), kMagic);
      }
      tTHREAD::SetLastError(new (std::nothrow) CountedMsg("swept again"));
      tTHREAD::DeleteAutoThreadObject();
    });
    EXPECT_GE(allocations, 3u);
    EXPECT_EQ(CountedMsg::live, live);
    EXPECT_EQ(g_constructed - constructed, g_destructed - destructed);
  });
}

TEST(ThreadAllocFailure, ANewSlotWithoutMemoryCostsAThreadItsBlock) {
  // Main's own block must not be lost to the sweep: give up its object for
  // the test (it is automatic) and let it come back afterwards.
  tTHREAD::SetLastError(NULL);
  tTHREAD::DeleteAutoThreadObject();
  ASSERT_EQ(tTHREAD::GetThreadObj(), nullptr);

  const int kThreads = 3;
  Arrivals ready;
  Latch swept;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      ASSERT_NE(g_counted_slot.GetPtr(), nullptr);
      ready.Arrive();
      swept.Wait();
      // Either the whole grown block or none at all.
      if (g_counted_slot.GetPtr() != nullptr && ReadSlot(g_counted_slot) != kMagic) ++failures;
    });
  }
  ready.WaitFor(kThreads);
  RunInFreshThread([] {
    std::size_t allocations = kelcore_test::SweepAllocFailures([] {
      new tTLSDEF(8, nullptr, nullptr);  // registered for the process
    });
    EXPECT_GE(allocations, static_cast<std::size_t>(kThreads));
  });
  swept.Open();
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_NE(g_counted_slot.GetPtr(), nullptr);
  EXPECT_EQ(ReadSlot(g_counted_slot), kMagic);
}

// --- the process end ---------------------------------------------------------------

char g_exit_marker[1024];

void TouchMarkerAtExit(void *) {
  if (g_exit_marker[0] != '\0') kelcore_test::TouchFile(g_exit_marker);
}

tTLSDEF g_exit_slot(1, nullptr, TouchMarkerAtExit);

KELCORE_CHILD_MAIN(thread_exit_at_process_end) {
  if (args.size() != 1 || args[0].size() >= sizeof g_exit_marker) return 2;
  std::strcpy(g_exit_marker, args[0].c_str());
  // An automatic object on the thread that ends the process.
  return tTHREAD::LocateThreadObj() != nullptr ? 0 : 3;
}

class ThreadProcessEnd : public kelcore_test::TempDirTest {};

TEST_F(ThreadProcessEnd, TheLastThreadsObjectIsDeletedWhenTheProcessEnds) {
  std::string marker = tmp.File("deleted");
  kelcore_test::ChildProcess child;
  ASSERT_TRUE(child.Start("thread_exit_at_process_end", {marker}));
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_TRUE(kelcore_test::WaitForFile(marker, 5000));
}

}  // namespace
