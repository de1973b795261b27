#include "kelcore/platform/thread_exit.h"

#include <pthread.h>

#include <atomic>
#include <cstdlib>

namespace kelsys {

// Trivially constructed and destroyed, so it stays readable while the
// thread-specific destructors below run at thread exit. Initial-exec: the
// general model's lookup function would cost more than everything else the
// last error does (and the block pool on every message and parameter).
__thread tTHREAD_CACHE t_thread_cache __attribute__((tls_model("initial-exec"))) = {nullptr, 0,
                                                                                     nullptr};

namespace {

void OnThreadExit(void *) {
  // Should a slot's destructor callback bring more automatic objects to
  // life than the releases settle, WatchThreadExit arms the key again and
  // the system calls us once more.
  RunThreadExit();
}

void OnProcessExit() { RunThreadExit(); }

struct ExitKey {
  pthread_key_t key;
  bool valid;
  ExitKey() : key(), valid(pthread_key_create(&key, OnThreadExit) == 0) {
    // Thread-specific destructors do not run for the thread that ends the
    // process. Registered on first use, after the library's own static
    // objects exist, so it runs before they are destroyed.
    std::atexit(OnProcessExit);
  }
};

// Created race-free on first use. Its destructor is trivial and the key is
// never deleted, so threads that end while the process is being torn down
// still find it.
ExitKey &Key() {
  static ExitKey key;
  return key;
}

}  // namespace

void CallInForkChild(void (*fn)()) { pthread_atfork(nullptr, nullptr, fn); }

namespace {

// One set of fork handlers for all the library's process-wide locks, so
// that they are taken in one order whenever each was first used.
struct ForkLock {
  std::atomic<bool> ready;
  void (*lock)();
  void (*unlock)();
  void (*child)();
  bool taken;  // by the fork under way; touched by the forking thread only
};
// Registration runs from other files' static constructors (a thread-local
// slot declared at load time takes the thread list's lock), so the table is
// made on first use rather than by this file's own initialisation.
ForkLock *ForkLocks() {
  static ForkLock locks[kForkLocks];
  return locks;
}
pthread_once_t g_forkOnce = PTHREAD_ONCE_INIT;

void ForkPrepare() {
  ForkLock *locks = ForkLocks();
  for (int i = 0; i < kForkLocks; ++i) {
    ForkLock &l = locks[i];
    l.taken = l.ready.load(std::memory_order_acquire);
    if (l.taken) l.lock();
  }
}

void ForkParent() {
  for (int i = kForkLocks - 1; i >= 0; --i) {
    if (ForkLocks()[i].taken) ForkLocks()[i].unlock();
  }
}

void ForkChild() {
  for (int i = kForkLocks - 1; i >= 0; --i) {
    if (ForkLocks()[i].taken) ForkLocks()[i].child();
  }
}

void RegisterForkLocks() { pthread_atfork(&ForkPrepare, &ForkParent, &ForkChild); }

}  // namespace

void HoldAcrossFork(eFORK_LOCK rank, void (*lock)(), void (*unlock)(), void (*child)()) {
  pthread_once(&g_forkOnce, &RegisterForkLocks);
  ForkLock &l = ForkLocks()[rank];
  l.lock = lock;
  l.unlock = unlock;
  l.child = child;
  l.ready.store(true, std::memory_order_release);
}

void *GetPoolSlot() { return t_thread_cache.pool; }

void SetPoolSlot(void *pool) { t_thread_cache.pool = pool; }

void WatchThreadExit(eTHREAD_EXIT step, void (*release)()) {
  RegisterThreadExit(step, release);
  ExitKey &k = Key();
  if (!k.valid || pthread_getspecific(k.key) != nullptr) return;
  // Any non-null value arms the destructor; if the key's storage cannot be
  // allocated the object outlives its thread (it stays in the list).
  pthread_setspecific(k.key, &k);
}

}  // namespace kelsys
