// Allocation-failure injection for tests.
//
// The test programs replace the global nothrow operator new (and new[]) with
// a version that can be told to fail. While a ScopedAllocFailure is alive,
// the Nth nothrow allocation from now on (1-based) returns null; with
// `and_after` set, every allocation after it fails as well.
//
// Only the nothrow forms are affected: the library allocates exclusively
// through them, while GoogleTest and the standard library use the throwing
// forms and keep working.
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
};

// Number of nothrow allocations made on the calling thread so far; lets a test
// size its sweep: run the scenario once, then fail each allocation in turn.
std::size_t NothrowAllocationCount();

// Runs `scenario` once to count its nothrow allocations, then once more for
// each N in 1..count with the Nth allocation failing (and, with
// `and_after`, every later one too). The scenario must clean up after itself.
template <typename F>
std::size_t SweepAllocFailures(F scenario, bool and_after = false) {
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
