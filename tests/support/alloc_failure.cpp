#include "tests/support/alloc_failure.h"

#include <new>

#include "kelcore/msg/message.h"

namespace {
// Injection is per thread so that helper threads of a test (or of the test
// framework) are not disturbed. t_fail_at 0: disarmed.
thread_local std::size_t t_count = 0, t_fail_at = 0;
thread_local bool t_fail_after = false, t_triggered = false;

bool ShouldFail() {
  ++t_count;
  if (t_fail_at == 0 || t_count < t_fail_at || (t_count > t_fail_at && !t_fail_after)) return false;
  return t_triggered = true;
}
}  // namespace

namespace kelcore_test {

ScopedAllocFailure::ScopedAllocFailure(std::size_t nth, bool and_after) : pool_was_on_(tMSG::UseThreadPool(0)) {
  t_fail_at = t_count + nth, t_fail_after = and_after, t_triggered = false;
}
ScopedAllocFailure::~ScopedAllocFailure() { t_fail_at = 0, t_fail_after = false, tMSG::UseThreadPool(pool_was_on_); }
ScopedPoolOff::ScopedPoolOff() : was_on_(tMSG::UseThreadPool(0)) {}
ScopedPoolOff::~ScopedPoolOff() { tMSG::UseThreadPool(was_on_); }
bool ScopedAllocFailure::Triggered() const { return t_triggered; }
std::size_t NothrowAllocationCount() { return t_count; }

}  // namespace kelcore_test

// The replacements forward to the throwing forms so that allocation and
// deallocation stay paired as the runtime (and AddressSanitizer) expects.
void *operator new(std::size_t n, const std::nothrow_t &) noexcept { return ShouldFail() ? nullptr : ::operator new(n); }
void *operator new[](std::size_t n, const std::nothrow_t &) noexcept { return ShouldFail() ? nullptr : ::operator new[](n); }
void operator delete(void *p, const std::nothrow_t &) noexcept { ::operator delete(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { ::operator delete[](p); }
