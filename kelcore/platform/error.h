// The calling thread's system error code, in Win32 terms on every system.
//
// On Windows, GetLastError/SetLastError are the system's. The POSIX layer
// keeps a per-thread code that its emulated calls set, translating errno
// with ErrnoToWin32 so that status tables and messages see one vocabulary.
#ifndef KELCORE_PLATFORM_ERROR_H
#define KELCORE_PLATFORM_ERROR_H

#include "kelcore/platform/types.h"

namespace kelsys {

#if defined(_WIN32)
using ::GetLastError;
using ::SetLastError;
#else
DWORD GetLastError();
void SetLastError(DWORD code);
#endif

// Maps a C runtime errno value to the Win32 error code a Windows call would
// report for the same condition; unknown values map to ERROR_GEN_FAILURE.
DWORD ErrnoToWin32(int err);

// Records ErrnoToWin32(err) as the thread's last system error (POSIX layer
// helper; on Windows the same mapping is used for C runtime failures).
void SetLastErrorFromErrno(int err);

}  // namespace kelsys

#endif  // KELCORE_PLATFORM_ERROR_H
