// Critical sections and mutexes: the primitives under the library's locks.
//
// On Windows these are the system's own. The POSIX layer
// (platform/posix/sync.cpp) gives the same names the same meaning:
// - A CRITICAL_SECTION is a recursive pthread mutex; entering and leaving are
//   inline calls of pthread_mutex_lock/unlock, so an uncontended critical
//   section costs what a std::recursive_mutex costs.
// - CreateMutexA returns a HANDLE (closed with CloseHandle) of a mutex that
//   is recursive for the owning thread and exclusive between threads. A
//   named one is shared by every process that uses the name: inside one
//   process all handles of a name share one record (so recursion belongs to
//   the name, as on Windows); across processes the record holds an
//   open-file-description lock on a lock file, which the kernel drops when
//   the holding process ends, however it ends. A holder that ended without
//   releasing (a thread that exited, a process that died) lets the next
//   waiter in.
//   Names: a leading "Global\\" selects the lock directory shared by all
//   users (/tmp), a leading "Local\\" or no prefix the user's runtime
//   directory ($XDG_RUNTIME_DIR, else /tmp); every other character is part
//   of the name. docs/locks.md has the details.
// - WaitForSingleObject waits on a mutex handle, INFINITE only, and returns
//   WAIT_OBJECT_0, or WAIT_FAILED with the last error set: ERROR_NOT_SUPPORTED
//   for any other wait, ERROR_INVALID_HANDLE for other handle kinds.
// - ReleaseMutex by a thread that does not own the mutex fails with
//   ERROR_NOT_OWNER.
// - CreateMutexA ignores the security attributes, fails with
//   ERROR_NOT_SUPPORTED when asked for initial ownership, and does not
//   report ERROR_ALREADY_EXISTS. The library's inter-process lock needs
//   none of these, and WAIT_ABANDONED, WAIT_TIMEOUT are never returned.
#ifndef KELCORE_PLATFORM_SYNC_H
#define KELCORE_PLATFORM_SYNC_H

#include "kelcore/platform/handle.h"
#include "kelcore/platform/types.h"

#if !defined(_WIN32)
#  include <pthread.h>
#endif

namespace kelsys {

#if defined(_WIN32)
using ::CRITICAL_SECTION;
using ::CreateMutexA;
using ::DeleteCriticalSection;
using ::EnterCriticalSection;
using ::InitializeCriticalSection;
using ::LeaveCriticalSection;
using ::LPSECURITY_ATTRIBUTES;
using ::ReleaseMutex;
using ::WaitForSingleObject;
#else
struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES *LPSECURITY_ATTRIBUTES;

const DWORD WAIT_OBJECT_0 = 0x00000000u;
const DWORD WAIT_FAILED = 0xFFFFFFFFu;

struct CRITICAL_SECTION {
  pthread_mutex_t mutex;
};

void InitializeCriticalSection(CRITICAL_SECTION *cs);
void DeleteCriticalSection(CRITICAL_SECTION *cs);
// Inline: the critical section is the library's hot lock.
inline void EnterCriticalSection(CRITICAL_SECTION *cs) { pthread_mutex_lock(&cs->mutex); }
inline void LeaveCriticalSection(CRITICAL_SECTION *cs) { pthread_mutex_unlock(&cs->mutex); }

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initial_owner, LPCSTR name);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL ReleaseMutex(HANDLE mutex);
#endif

// The infinite wait under a name that is not a macro on any system, for
// code outside namespace kelsys.
const DWORD kInfinite = INFINITE;

}  // namespace kelsys

#endif  // KELCORE_PLATFORM_SYNC_H
