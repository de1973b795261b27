#include "kelcore/platform/thread_exit.h"

#include <cstdint>
#include <cstdlib>

#include "kelcore/platform/types.h"

namespace kelsys {
namespace {

// System TLS indexes rather than C++ thread_locals: their values stay
// valid until the thread is gone, including while DllMain or the TLS
// callback runs on thread detach, whatever order the runtime's own
// per-thread clean-up takes.
struct CacheIndexes {
  DWORD object;
  DWORD epoch;
  DWORD pool;
  CacheIndexes() : object(::TlsAlloc()), epoch(::TlsAlloc()), pool(::TlsAlloc()) {}
};

const CacheIndexes &Indexes() {
  // Never freed: a thread that ends during process teardown may still ask.
  static const CacheIndexes indexes;
  return indexes;
}

#if defined(KELCORE_STATIC)
void OnProcessExit() { RunThreadExit(); }

// A program linked with the static library gets no DllMain of ours, so a
// TLS callback of the program sees threads end instead. The process end is
// left to the atexit handler, which runs before static objects are
// destroyed.
void NTAPI OnTlsCallback(PVOID, DWORD reason, PVOID) {
  if (reason == DLL_THREAD_DETACH) RunThreadExit();
}
#endif

}  // namespace

void *GetThreadCache(unsigned long *epoch) {
  const CacheIndexes &ix = Indexes();
  // TlsGetValue resets the thread's error code on success; callers may be
  // between a failing system call and reading its code.
  DWORD saved = ::GetLastError();
  void *object = ::TlsGetValue(ix.object);
  *epoch = static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(::TlsGetValue(ix.epoch)));
  ::SetLastError(saved);
  return object;
}

void SetThreadCache(void *object, unsigned long epoch) {
  const CacheIndexes &ix = Indexes();
  DWORD saved = ::GetLastError();
  ::TlsSetValue(ix.object, object);
  ::TlsSetValue(ix.epoch, reinterpret_cast<LPVOID>(static_cast<std::uintptr_t>(epoch)));
  ::SetLastError(saved);
}

void CallInForkChild(void (*)()) {}

void HoldAcrossFork(eFORK_LOCK, void (*)(), void (*)(), void (*)()) {}

void *GetPoolSlot() {
  DWORD saved = ::GetLastError();
  void *pool = ::TlsGetValue(Indexes().pool);
  ::SetLastError(saved);
  return pool;
}

void SetPoolSlot(void *pool) {
  DWORD saved = ::GetLastError();
  ::TlsSetValue(Indexes().pool, pool);
  ::SetLastError(saved);
}

#if defined(KELCORE_STATIC)
void WatchThreadExit(eTHREAD_EXIT step, void (*release)()) {
  RegisterThreadExit(step, release);
  static const int registered = (std::atexit(OnProcessExit), 1);
  (void)registered;
}
#else
// DllMain hears of every thread that ends; nothing to arm.
void WatchThreadExit(eTHREAD_EXIT step, void (*release)()) { RegisterThreadExit(step, release); }
#endif

}  // namespace kelsys

#if defined(KELCORE_STATIC)
// The loader calls every pointer placed between the runtime's .CRT$XLA and
// .CRT$XLZ markers; this object file is always linked because thread.cpp
// calls the functions above.
extern "C" __attribute__((section(".CRT$XLK"), used))
const PIMAGE_TLS_CALLBACK kelcore_tls_thread_detach = kelsys::OnTlsCallback;
#endif
