// What the thread objects and the message module's block pool need from the
// system: per-thread words and a hook that runs when a thread ends.
//
// The cache holds, for the calling thread only, the address of its thread
// object and the list epoch at which it was found. Both start at zero in
// every thread and live exactly as long as the thread; reading or writing
// them never changes the system's last-error code.
//
// Ending threads. Exactly one mechanism per build deletes the automatic
// thread object of a thread that ends (tTHREAD::DeleteAutoThreadObject):
// - POSIX, shared or static library: a thread-specific key whose destructor
//   runs when the thread ends (armed by WatchThreadExit), and an atexit
//   handler for the thread that ends the process.
// - Windows DLL: DllMain on thread detach and process detach (it fires for
//   every thread without arming).
// - Windows static library: a TLS callback of the program on thread detach,
//   and an atexit handler for the thread that ends the process.
// Each of them then releases the thread's block pool
// (kelcore_internal::ReleaseThreadPool), after the thread object, whose
// last error may go back to the pool.
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

// Called each time the library creates an automatic thread object or a block
// pool on the calling thread: makes sure both are released when the thread
// ends.
void WatchThreadExit();

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
