// What the thread objects and the message module's block pool need from the
// system: per-thread words and a hook that runs when a thread ends.
//
// The cache holds, for the calling thread only, the address of its thread
// object and the list epoch at which it was found. Both start at zero in
// every thread and live exactly as long as the thread; reading or writing
// them never changes the system's last-error code.
//
// Ending threads. The floors above register what a thread leaves behind
// (WatchThreadExit: the thread object, then the block pool), and exactly one
// mechanism per build runs those releases (RunThreadExit) when a thread ends:
// - POSIX, shared or static library: a thread-specific key whose destructor
//   runs when the thread ends (armed by WatchThreadExit), and an atexit
//   handler for the thread that ends the process.
// - Windows DLL: DllMain on thread detach and process detach (it fires for
//   every thread without arming).
// - Windows static library: a TLS callback of the program on thread detach,
//   and an atexit handler for the thread that ends the process.
// The releases run in the order of eTHREAD_EXIT: the thread object
// (tTHREAD::DeleteAutoThreadObject) before the block pool
// (kelcore_internal::ReleaseThreadPool), because the thread object's last
// error may go back to the pool. The platform layer calls them through
// these registrations and knows nothing of the classes behind them.
#ifndef KELCORE_PLATFORM_THREAD_EXIT_H
#define KELCORE_PLATFORM_THREAD_EXIT_H

namespace kelsys {

#if defined(_WIN32)
// The calling thread's cached object (null if none) and its epoch.
void *GetThreadCache(unsigned long *epoch);
void SetThreadCache(void *object, unsigned long epoch);
#else
// The words themselves (posix/thread_exit.cpp): read inline, because the
// last error reads them on every change, where a call cost more than all
// the rest of the work. Initial-exec: 24 bytes fit the static TLS reserve
// even when the library is loaded late.
struct tTHREAD_CACHE {
  void *object;
  unsigned long epoch;
  void *pool;
};
extern __thread tTHREAD_CACHE t_thread_cache __attribute__((tls_model("initial-exec")));

inline void *GetThreadCache(unsigned long *epoch) {
  *epoch = t_thread_cache.epoch;
  return t_thread_cache.object;
}
inline void SetThreadCache(void *object, unsigned long epoch) {
  t_thread_cache.object = object;
  t_thread_cache.epoch = epoch;
}
#endif

// The calling thread's block-pool word (see msg/object_pool.cpp): zero in
// every new thread, readable until the thread is gone, and never changing
// the system's last-error code.
void *GetPoolSlot();
void SetPoolSlot(void *pool);

// What a thread may leave behind, in the order of release.
enum eTHREAD_EXIT { kExitThreadObject, kExitBlockPool, kExitSteps };

// Called each time the library creates an automatic thread object or a block
// pool on the calling thread: registers `release` as the step's release
// (the same function every time) and makes sure the registered releases run
// on the calling thread when it ends.
void WatchThreadExit(eTHREAD_EXIT step, void (*release)());

// Runs every registered release in the order of eTHREAD_EXIT, on the
// calling thread (thread_exit.cpp; the exit mechanisms above call it).
void RunThreadExit();
// WatchThreadExit's part common to every system: records `release`.
void RegisterThreadExit(eTHREAD_EXIT step, void (*release)());

// Has `fn` called in the child process after every fork(), on its one
// thread, before fork() returns there. Windows has no fork(): nothing is
// ever called.
void CallInForkChild(void (*fn)());

// The library's process-wide locks that fork() must not leave locked in the
// child: each is taken before fork() in the order of these ranks (outermost
// first, the order in which the library nests them), released after it in
// the parent, and made usable again in the child by `child` (on its one
// thread, before fork() returns there). A lock registered while a fork is
// under way is left out of that fork. Windows has no fork(): nothing is
// ever called.
enum eFORK_LOCK { kForkCatalogBind, kForkThreadList, kForkStaticFormat, kForkOpenFiles, kForkDirCache, kForkLocks };
void HoldAcrossFork(eFORK_LOCK rank, void (*lock)(), void (*unlock)(), void (*child)());

}  // namespace kelsys

#endif  // KELCORE_PLATFORM_THREAD_EXIT_H
