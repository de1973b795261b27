// The last error: raising it (SetLastError) and taking it back
// (TakeOwnershipOfLastError), as every failing call and every guard does.
//
// The figure that matters is Kel_LastError_SetTake/512 against
// Kel_LastError_SetTake/1: the cost must not grow with the number of live
// threads (each of the others owns a thread object, parked on a condition
// variable, and the measuring thread's object is the last in the list).
// Std_ThreadLocal_SetTake is what a user would write instead: a
// thread_local owning pointer.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "kelcore/msg/message.h"
#include "kelcore/sync/thread.h"

namespace {

// Keeps `count` threads alive, each with its own thread object, until
// destroyed.
class ParkedThreads {
 public:
  explicit ParkedThreads(int count) {
    for (int i = 0; i < count; ++i) {
      threads_.emplace_back([this] {
        tTHREAD::LocateThreadObj();
        std::unique_lock<std::mutex> hold(mutex_);
        ++ready_;
        cv_.notify_all();
        cv_.wait(hold, [this] { return release_; });
      });
    }
    std::unique_lock<std::mutex> hold(mutex_);
    cv_.wait(hold, [this, count] { return ready_ == count; });
  }
  ~ParkedThreads() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      release_ = true;
      cv_.notify_all();
    }
    for (std::thread &t : threads_) t.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int ready_ = 0;
  bool release_ = false;
  std::vector<std::thread> threads_;
};

void Kel_LastError_SetTake(benchmark::State &state) {
  // The measuring thread's object goes to the end of the list.
  tTHREAD::SetLastError(NULL);
  tTHREAD::DeleteAutoThreadObject();
  ParkedThreads others(static_cast<int>(state.range(0)) - 1);
  tTHREAD::LocateThreadObj();
  tMSGSTR msg("benchmark failure", "thread bench", tMSG::eERROR);
  for (auto _ : state) {
    tTHREAD::SetLastError(msg);
    benchmark::DoNotOptimize(tTHREAD::TakeOwnershipOfLastError());
  }
}
BENCHMARK(Kel_LastError_SetTake)->Arg(1)->Arg(512)->UseRealTime();

void Kel_LastError_Get(benchmark::State &state) {
  tTHREAD::SetLastError(NULL);
  tTHREAD::DeleteAutoThreadObject();
  ParkedThreads others(static_cast<int>(state.range(0)) - 1);
  tTHREAD::LocateThreadObj();
  for (auto _ : state) benchmark::DoNotOptimize(tTHREAD::GetLastError());
}
BENCHMARK(Kel_LastError_Get)->Arg(1)->Arg(512)->UseRealTime();

struct Failure {
  int code;
};
thread_local std::unique_ptr<Failure> t_last_failure;

void Std_ThreadLocal_SetTake(benchmark::State &state) {
  ParkedThreads others(static_cast<int>(state.range(0)) - 1);
  Failure failure = {1};
  for (auto _ : state) {
    // Borrowed back at once, as the library's bench does with its message.
    t_last_failure.reset(&failure);
    benchmark::DoNotOptimize(t_last_failure.release());
  }
}
BENCHMARK(Std_ThreadLocal_SetTake)->Arg(1)->Arg(512)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
