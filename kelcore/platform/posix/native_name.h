// DOS-style names as POSIX paths.
//
// The POSIX layer treats the whole file system as one drive, C:, whose root
// is `/`. Names handed to the emulated Win32 and C runtime calls may use `\`
// or `/` and may begin with "C:" (either case); this turns them into native
// paths before the system call.
#ifndef KELCORE_PLATFORM_POSIX_NATIVE_NAME_H
#define KELCORE_PLATFORM_POSIX_NATIVE_NAME_H

#include <cstddef>

#include "kelcore/platform/types.h"

namespace kelsys {

// Room for any path the system accepts, terminator included.
const std::size_t kNativeNameSize = 4096;

// Writes the native form of `name` into `out` (`size` bytes): `\` becomes
// `/`; a leading "C:" is dropped, so "C:\x" is "/x" and "C:x" is "x" (the
// drive's current directory is the process's), and "C:" alone is ".".
// Returns ERROR_SUCCESS, or
// ERROR_PATH_NOT_FOUND for another drive letter, ERROR_INVALID_NAME for a
// null name and ERROR_FILENAME_EXCED_RANGE when the result does not fit;
// `out` then holds an empty text.
DWORD ToNativeName(LPCSTR name, char *out, std::size_t size);

// ToNativeName's error as the errno value the C runtime would set.
int NativeNameErrno(DWORD error);

}  // namespace kelsys

#endif  // KELCORE_PLATFORM_POSIX_NATIVE_NAME_H
