// The registered thread-exit releases, shared by every system's exit
// mechanism (posix/thread_exit.cpp, win32/thread_exit.cpp, win32/dll_main.cpp).
#include "kelcore/platform/thread_exit.h"

#include <atomic>

namespace kelsys {
namespace {

// Zero before any constructor runs and never destroyed in a way that
// matters: threads that end while the process is torn down still read it.
std::atomic<void (*)()> g_releases[kExitSteps];

}  // namespace

void RegisterThreadExit(eTHREAD_EXIT step, void (*release)()) {
  if (g_releases[step].load(std::memory_order_relaxed) != release) {
    g_releases[step].store(release, std::memory_order_release);
  }
}

void RunThreadExit() {
  for (std::atomic<void (*)()> &slot : g_releases) {
    void (*release)() = slot.load(std::memory_order_acquire);
    if (release != nullptr) release();
  }
}

}  // namespace kelsys
