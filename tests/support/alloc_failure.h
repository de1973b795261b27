// Allocation-failure injection for tests.
//
// The test programs replace the global nothrow operator new (and new[]) with
// a version that can be told to fail. While a ScopedAllocFailure is alive,
// the Nth nothrow allocation from now on (1-based) returns null; with
// `and_after` set, every allocation after it fails as well.
//
// Only the nothrow forms are affected: the library allocates exclusively
// through them, while GoogleTest and the standard library use the throwing
// forms and keep working. Messages and parameters come from a per-thread
// block pool in front of operator new; while an injector is armed, and
// through a whole sweep, the thread's pool is off (tMSG::UseThreadPool), so
// that each of their allocations reaches operator new and can fail.
//
// Where the library is a shared object on ELF systems, its calls bind to the
// test program's replacement. A Windows DLL binds to its own, so the Windows
// test build links the static library.
#ifndef KELCORE_TESTS_SUPPORT_ALLOC_FAILURE_H
#define KELCORE_TESTS_SUPPORT_ALLOC_FAILURE_H

#include <cstddef>

namespace kelcore_test {

class ScopedAllocFailure {
 public:
  explicit ScopedAllocFailure(std::size_t nth, bool and_after = false);
  ~ScopedAllocFailure();
  ScopedAllocFailure(const ScopedAllocFailure &) = delete;
  ScopedAllocFailure &operator=(const ScopedAllocFailure &) = delete;

  // True once the armed allocation has been refused.
  bool Triggered() const;

 private:
  int pool_was_on_;
};

// Turns the calling thread's block pool off for its lifetime.
class ScopedPoolOff {
 public:
  ScopedPoolOff();
  ~ScopedPoolOff();
  ScopedPoolOff(const ScopedPoolOff &) = delete;
  ScopedPoolOff &operator=(const ScopedPoolOff &) = delete;

 private:
  int was_on_;
};

// Number of nothrow allocations made on the calling thread so far; lets a test
// size its sweep: run the scenario once, then fail each allocation in turn.
std::size_t NothrowAllocationCount();

// Runs `scenario` once to count its nothrow allocations, then once more for
// each N in 1..count with the Nth allocation failing (and, with
// `and_after`, every later one too). The scenario must clean up after itself.
template <typename F>
std::size_t SweepAllocFailures(F scenario, bool and_after = false) {
  ScopedPoolOff pool_off;  // the counting run must see what the sweep fails
  std::size_t before = NothrowAllocationCount();
  scenario();
  std::size_t count = NothrowAllocationCount() - before;
  for (std::size_t n = 1; n <= count; ++n) {
    ScopedAllocFailure fail(n, and_after);
    scenario();
  }
  return count;
}

}  // namespace kelcore_test

#endif  // KELCORE_TESTS_SUPPORT_ALLOC_FAILURE_H
