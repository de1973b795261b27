// Helpers shared by the lock tests: a thread that takes a lock on request,
// unique lock names, and the process id.
//
// Waits are bounded only so that a broken lock fails a test instead of
// hanging the suite; the bound (kPatienceMs) is far beyond any normal delay.
#ifndef KELCORE_TESTS_SYNC_LOCK_TEST_SUPPORT_H
#define KELCORE_TESTS_SYNC_LOCK_TEST_SUPPORT_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#if defined(_WIN32)
#  include <process.h>
#else
#  include <unistd.h>
#endif

#include "kelcore/sync/lock.h"

namespace kelcore_test {

const int kPatienceMs = 30000;
// How long a test lets a thread try to get in where it must not: long
// enough to catch a lock that lets it through, never a cause of failure.
const int kGraceMs = 50;

inline int ProcessId() {
#if defined(_WIN32)
  return _getpid();
#else
  return static_cast<int>(getpid());
#endif
}

// A lock name no other test run uses at the same time.
inline std::string UniqueLockName(const std::string &tag) {
  static std::atomic<unsigned> counter{0};
  return "kelcore-lock-test-" + std::to_string(ProcessId()) + "-" + std::to_string(counter++) +
         "-" + tag;
}

// A one-shot signal between threads.
class Signal {
 public:
  void Set() {
    std::lock_guard<std::mutex> hold(m_);
    set_ = true;
    cv_.notify_all();
  }
  bool IsSet() {
    std::lock_guard<std::mutex> hold(m_);
    return set_;
  }
  bool WaitFor(int ms = kPatienceMs) {
    std::unique_lock<std::mutex> hold(m_);
    return cv_.wait_for(hold, std::chrono::milliseconds(ms), [this] { return set_; });
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool set_ = false;
};

// A thread that takes `lock` (`depth` times), reports that it holds it, and
// releases it when told. The lock is shared with the thread, so that a
// thread left blocked by a broken lock never touches a destroyed one.
class Locker {
 public:
  explicit Locker(std::shared_ptr<tPHYSYNCOBJ> lock, int depth = 1)
      : state_(std::make_shared<State>()) {
    std::shared_ptr<State> state = state_;
    thread_ = std::thread([state, lock, depth] {
      for (int i = 0; i < depth; ++i) lock->LockObject();
      state->acquired.Set();
      state->release.WaitFor(kPatienceMs * 4);
      for (int i = 0; i < depth; ++i) lock->UnlockObject();
      state->released.Set();
    });
  }
  ~Locker() {
    state_->release.Set();
    if (state_->released.WaitFor()) {
      thread_.join();
    } else {
      thread_.detach();
    }
  }
  Locker(const Locker &) = delete;
  Locker &operator=(const Locker &) = delete;

  bool Acquired() { return state_->acquired.IsSet(); }
  bool WaitAcquired(int ms = kPatienceMs) { return state_->acquired.WaitFor(ms); }
  // Lets the thread release the lock and waits until it has.
  bool Release() {
    state_->release.Set();
    return state_->released.WaitFor();
  }

 private:
  struct State {
    Signal acquired, release, released;
  };
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace kelcore_test

#endif  // KELCORE_TESTS_SYNC_LOCK_TEST_SUPPORT_H
