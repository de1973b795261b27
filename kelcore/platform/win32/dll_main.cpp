// The DLL's entry point. Only the DLL build has one: a program linked with
// the static library sees its threads end through the TLS callback in
// thread_exit.cpp instead, so no object is ever deleted twice.
#if !defined(KELCORE_STATIC)

#include "kelcore/platform/thread_exit.h"
#include "kelcore/platform/types.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  // Nothing to do on attach: thread objects are created on first use.
  if (reason == DLL_THREAD_DETACH || reason == DLL_PROCESS_DETACH) kelsys::RunThreadExit();
  return TRUE;
}

#endif
