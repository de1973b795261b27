// Process and system facts: ids, sleeping, the system version, the error
// mode, and a thread-safe local-time conversion.
//
// On Windows these are the system's and the C runtime's own functions. The
// POSIX layer (platform/posix/process.cpp) gives the same names the nearest
// meaning:
// - _getpid and GetCurrentProcessId are getpid().
// - GetCurrentThreadId is the kernel's thread id on Linux (gettid), which
//   fits in 32 bits and is unique among the running threads; elsewhere a
//   number handed out once per thread from a process-wide counter.
// - Sleep suspends the thread for the given milliseconds, resuming after
//   signals; INFINITE sleeps for ever; 0 yields the processor.
// - GetVersionExA fills OSVERSIONINFOA (148 bytes, as on Windows) from
//   uname(): the kernel release as major, minor and build number, the
//   system's name and release in szCSDVersion, and kPlatformPosix as the
//   platform id, a value no Windows system reports. A size other than 148
//   fails with ERROR_INSUFFICIENT_BUFFER.
// - SetErrorMode only remembers the mode (POSIX has no critical-error
//   dialogs to suppress) and returns the previous one.
#ifndef KELCORE_PLATFORM_PROCESS_H
#define KELCORE_PLATFORM_PROCESS_H

#include <ctime>

#include "kelcore/platform/types.h"

#if defined(_WIN32)
#  include <process.h>
#endif

namespace kelsys {

#if defined(_WIN32)
using ::_getpid;
using ::GetCurrentProcessId;
using ::GetCurrentThreadId;
using ::GetVersionExA;
using ::OSVERSIONINFOA;
using ::SetErrorMode;
using ::Sleep;

const DWORD kPlatformWin32s = VER_PLATFORM_WIN32s;
const DWORD kPlatformWindows = VER_PLATFORM_WIN32_WINDOWS;
const DWORD kPlatformNT = VER_PLATFORM_WIN32_NT;
const UINT kFailCriticalErrors = SEM_FAILCRITICALERRORS;
#else
typedef char CHAR;

struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
};

const DWORD VER_PLATFORM_WIN32s = 0;
const DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
const DWORD VER_PLATFORM_WIN32_NT = 2;
const UINT SEM_FAILCRITICALERRORS = 0x0001;

const DWORD kPlatformWin32s = VER_PLATFORM_WIN32s;
const DWORD kPlatformWindows = VER_PLATFORM_WIN32_WINDOWS;
const DWORD kPlatformNT = VER_PLATFORM_WIN32_NT;
const UINT kFailCriticalErrors = SEM_FAILCRITICALERRORS;

int _getpid();
DWORD GetCurrentProcessId();
DWORD GetCurrentThreadId();
void Sleep(DWORD milliseconds);
BOOL GetVersionExA(OSVERSIONINFOA *info);
UINT SetErrorMode(UINT mode);
#endif

// The platform id that the POSIX layer's GetVersionExA reports: outside the
// Win32 ones (0 to 3), so code can tell a POSIX system apart on every build.
const DWORD kPlatformPosix = 0x504F5358;  // "POSX"

// localtime() with a caller-provided result, safe to call from any thread
// (localtime_s on Windows, localtime_r elsewhere). False when the time
// cannot be represented.
inline bool LocalTime(std::time_t t, std::tm *out) {
#if defined(_WIN32)
  return localtime_s(out, &t) == 0;
#else
  return localtime_r(&t, out) != nullptr;
#endif
}

}  // namespace kelsys

#endif  // KELCORE_PLATFORM_PROCESS_H
