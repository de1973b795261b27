// Uncontended locking: the library's locks against std::recursive_mutex,
// which is what a user would take instead.
//
// Kel_IntraProcess_LockUnlock vs Std_RecursiveMutex_LockUnlock is the ratio
// that matters (the library's hot lock, called through the tPHYSYNCOBJ
// interface as the library calls it). The Nested pair takes the lock a
// second time inside, the Scoped pair goes through tOBJECT_LOCK and
// std::lock_guard. The named and unnamed inter-process locks are shown for
// information: a named lock also takes and drops a lock on its lock file.
//
// glibc skips the atomic instructions of its mutexes while a process has a
// single thread, which makes both sides of the first pairs cheaper than
// they are in a threaded program. The pairs ending in _Threaded run after
// the program has started a second (idle) thread, as a program using locks
// usually has.
#include <benchmark/benchmark.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "kelcore/sync/lock.h"

namespace {

// Hides the lock's dynamic type from the optimiser, as for a lock facet
// reached through a file object.
tPHYSYNCOBJ *Opaque(tPHYSYNCOBJ *lock) {
  benchmark::DoNotOptimize(lock);
  return lock;
}

// One name for every run, so that runs leave no more than one lock file.
const char kName[] = "kelcore-lock-bench";

void LockUnlock(benchmark::State &state, tPHYSYNCOBJ *lock) {
  for (auto _ : state) {
    lock->LockObject();
    lock->UnlockObject();
  }
}

void Kel_IntraProcess_LockUnlock(benchmark::State &state) {
  tINTRA_PROCESS_LOCK lock;
  LockUnlock(state, Opaque(&lock));
}

void Std_RecursiveMutex_LockUnlock(benchmark::State &state) {
  std::recursive_mutex m;
  for (auto _ : state) {
    m.lock();
    m.unlock();
  }
}

void Kel_IntraProcess_Nested(benchmark::State &state) {
  tINTRA_PROCESS_LOCK lock;
  tPHYSYNCOBJ *l = Opaque(&lock);
  for (auto _ : state) {
    l->LockObject();
    l->LockObject();
    l->UnlockObject();
    l->UnlockObject();
  }
}

void Std_RecursiveMutex_Nested(benchmark::State &state) {
  std::recursive_mutex m;
  for (auto _ : state) {
    m.lock();
    m.lock();
    m.unlock();
    m.unlock();
  }
}

void Kel_IntraProcess_Scoped(benchmark::State &state) {
  tINTRA_PROCESS_LOCK lock;
  tPHYSYNCOBJ *l = Opaque(&lock);
  for (auto _ : state) {
    tOBJECT_LOCK hold(*l);
    benchmark::ClobberMemory();
  }
}

void Std_RecursiveMutex_Scoped(benchmark::State &state) {
  std::recursive_mutex m;
  for (auto _ : state) {
    std::lock_guard<std::recursive_mutex> hold(m);
    benchmark::ClobberMemory();
  }
}

void Kel_InterProcessNamed_LockUnlock(benchmark::State &state) {
  tINTER_PROCESS_LOCK lock(kName);
  LockUnlock(state, Opaque(&lock));
}

void Kel_InterProcessUnnamed_LockUnlock(benchmark::State &state) {
  tINTER_PROCESS_LOCK lock(nullptr);
  LockUnlock(state, Opaque(&lock));
}

void Kel_InterProcessNamed_Nested(benchmark::State &state) {
  tINTER_PROCESS_LOCK lock(kName);
  tPHYSYNCOBJ *l = Opaque(&lock);
  l->LockObject();  // the inner holds only count
  for (auto _ : state) {
    l->LockObject();
    l->UnlockObject();
  }
  l->UnlockObject();
}

// Starts a thread that sleeps until the program ends, once. It owns no
// object with a destructor, so exit() never waits for it.
void BecomeThreaded() {
  static std::once_flag once;
  std::call_once(once, [] {
    std::thread([] {
      for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    }).detach();
  });
}

void Kel_IntraProcess_LockUnlock_Threaded(benchmark::State &state) {
  BecomeThreaded();
  Kel_IntraProcess_LockUnlock(state);
}

void Std_RecursiveMutex_LockUnlock_Threaded(benchmark::State &state) {
  BecomeThreaded();
  Std_RecursiveMutex_LockUnlock(state);
}

void Kel_IntraProcess_Scoped_Threaded(benchmark::State &state) {
  BecomeThreaded();
  Kel_IntraProcess_Scoped(state);
}

void Std_RecursiveMutex_Scoped_Threaded(benchmark::State &state) {
  BecomeThreaded();
  Std_RecursiveMutex_Scoped(state);
}

void Kel_InterProcessNamed_LockUnlock_Threaded(benchmark::State &state) {
  BecomeThreaded();
  Kel_InterProcessNamed_LockUnlock(state);
}

}  // namespace

// Registration order is run order: every single-threaded case first.
BENCHMARK(Kel_IntraProcess_LockUnlock);
BENCHMARK(Std_RecursiveMutex_LockUnlock);
BENCHMARK(Kel_IntraProcess_Nested);
BENCHMARK(Std_RecursiveMutex_Nested);
BENCHMARK(Kel_IntraProcess_Scoped);
BENCHMARK(Std_RecursiveMutex_Scoped);
BENCHMARK(Kel_InterProcessNamed_LockUnlock);
BENCHMARK(Kel_InterProcessUnnamed_LockUnlock);
BENCHMARK(Kel_InterProcessNamed_Nested);
BENCHMARK(Kel_IntraProcess_LockUnlock_Threaded);
BENCHMARK(Std_RecursiveMutex_LockUnlock_Threaded);
BENCHMARK(Kel_IntraProcess_Scoped_Threaded);
BENCHMARK(Std_RecursiveMutex_Scoped_Threaded);
BENCHMARK(Kel_InterProcessNamed_LockUnlock_Threaded);

BENCHMARK_MAIN();
