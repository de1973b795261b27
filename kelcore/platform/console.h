// The console and the program's own file: standard handles, console
// output, the executable's path.
//
// On Windows these are the system's own functions, and WriteConsoleText
// adds the fallback that console output needs: WriteConsoleA fails on a
// handle that is not a console (standard output redirected to a file or a
// pipe), and the same bytes then go through WriteFile, so `app > out.txt`
// and `app | more` receive them.
//
// The POSIX layer (platform/posix/console.cpp) gives the same names the
// nearest meaning:
// - GetStdHandle hands out one handle per standard descriptor (0, 1, 2),
//   valid while the descriptor is open, INVALID_HANDLE_VALUE otherwise.
//   The handles belong to the process: never close them.
// - WriteConsoleA writes every byte to the descriptor, retrying short
//   writes and writes interrupted by a signal (EINTR).
// - GetModuleFileNameA with a null module gives the running program's path
//   (/proc/self/exe on Linux; elsewhere argv[0] made absolute is not
//   available, and the call fails with ERROR_CALL_NOT_IMPLEMENTED).
//
// Internal to the library; nothing here is public API.
#ifndef KELCORE_PLATFORM_CONSOLE_H
#define KELCORE_PLATFORM_CONSOLE_H

#include "kelcore/platform/types.h"

namespace kelsys {

#if defined(_WIN32)
using ::GetModuleFileNameA;
using ::GetStdHandle;
using ::HMODULE;
using ::WriteConsoleA;
#else
typedef void *HMODULE;

const DWORD STD_INPUT_HANDLE = static_cast<DWORD>(-10);
const DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
const DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);

HANDLE GetStdHandle(DWORD which);
BOOL WriteConsoleA(HANDLE console, const void *buffer, DWORD chars, DWORD *written,
                   LPVOID reserved);
// Copies the path of the running program (`module` must be null) into
// `name` and returns its length; a path longer than `size` - 1 is cut and
// the result is `size` with ERROR_INSUFFICIENT_BUFFER, as on Windows. 0
// with the last error set on failure.
DWORD GetModuleFileNameA(HMODULE module, LPSTR name, DWORD size);
#endif

// The standard handles' numbers for GetStdHandle, by names that are no
// macros on Windows.
const DWORD kStdInput = STD_INPUT_HANDLE;
const DWORD kStdOutput = STD_OUTPUT_HANDLE;
const DWORD kStdError = STD_ERROR_HANDLE;

// Writes `length` bytes of `text` to `out`, a standard handle, so that they
// reach wherever it leads (a console, a file, a pipe). False when not every
// byte could be written (the system's last error tells why).
bool WriteConsoleText(HANDLE out, const char *text, DWORD length);

}  // namespace kelsys

#endif  // KELCORE_PLATFORM_CONSOLE_H
