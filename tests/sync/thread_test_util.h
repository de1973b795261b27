// Helpers shared by the thread-object tests: a message that counts its live
// instances, a one-shot latch to park threads, and a way to run a function
// on a fresh thread.
#ifndef KELCORE_TESTS_SYNC_THREAD_TEST_UTIL_H
#define KELCORE_TESTS_SYNC_THREAD_TEST_UTIL_H

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "kelcore/msg/message.h"
#include "kelcore/sync/thread.h"

namespace kelcore_test {

// Every instance alive is counted, so a test can tell that the thread
// object disposed of (or kept) its last error.
class CountedMsg : public tMSGSTR {
 public:
  explicit CountedMsg(const char *text) : tMSGSTR(text, Id(), tMSG::eERROR) { ++live; }
  ~CountedMsg() { --live; }
  static const char *Id() { return "counted test message"; }
  static inline std::atomic<int> live{0};
};

// Threads wait until the latch opens; it opens once.
class Latch {
 public:
  void Open() {
    std::lock_guard<std::mutex> hold(mutex_);
    open_ = true;
    cv_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> hold(mutex_);
    cv_.wait(hold, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
};

// Counts arrivals; Wait returns once `n` threads have arrived.
class Arrivals {
 public:
  void Arrive() {
    std::lock_guard<std::mutex> hold(mutex_);
    ++count_;
    cv_.notify_all();
  }
  void WaitFor(int n) {
    std::unique_lock<std::mutex> hold(mutex_);
    cv_.wait(hold, [this, n] { return count_ >= n; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int count_ = 0;
};

// Runs `fn` on a new thread (which has never used the library) and waits
// for the thread to end, so its automatic object is gone on return.
inline void RunInFreshThread(const std::function<void()> &fn) {
  std::thread t(fn);
  t.join();
}

}  // namespace kelcore_test

#endif  // KELCORE_TESTS_SYNC_THREAD_TEST_UTIL_H
