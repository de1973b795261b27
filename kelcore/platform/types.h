// The Win32 type and constant vocabulary that the library is written in.
//
// On Windows these are the system's own definitions. Elsewhere they are
// defined here with the same widths as on Windows (DWORD is 32 bits even
// where unsigned long is 64), so code and on-disk values read alike on every
// system. Everything lives in namespace kelsys; nothing here is public API.
#ifndef KELCORE_PLATFORM_TYPES_H
#define KELCORE_PLATFORM_TYPES_H

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#  ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#  endif
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
#  include <windows.h>

namespace kelsys {
using ::BOOL;
using ::BYTE;
using ::DWORD;
using ::HANDLE;
using ::LONG;
using ::LPCSTR;
using ::LPSTR;
using ::LPVOID;
using ::UINT;
using ::WORD;
const HANDLE kInvalidHandle = INVALID_HANDLE_VALUE;
}  // namespace kelsys

#else  // POSIX

namespace kelsys {
typedef int BOOL;
typedef unsigned char BYTE;
typedef std::uint16_t WORD;
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef unsigned int UINT;
typedef void *HANDLE;
typedef void *LPVOID;
typedef const char *LPCSTR;
typedef char *LPSTR;

#  ifndef TRUE
const BOOL TRUE = 1;
const BOOL FALSE = 0;
#  endif
const HANDLE kInvalidHandle = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
const HANDLE INVALID_HANDLE_VALUE = kInvalidHandle;
const DWORD INFINITE = 0xFFFFFFFFu;
const DWORD MAX_PATH = 260;

// Win32 error codes produced by the POSIX layer (see error.h for the
// translation from errno).
const DWORD ERROR_SUCCESS = 0;
const DWORD ERROR_INVALID_FUNCTION = 1;
const DWORD ERROR_FILE_NOT_FOUND = 2;
const DWORD ERROR_PATH_NOT_FOUND = 3;
const DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
const DWORD ERROR_ACCESS_DENIED = 5;
const DWORD ERROR_INVALID_HANDLE = 6;
const DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
const DWORD ERROR_OUTOFMEMORY = 14;
const DWORD ERROR_INVALID_DRIVE = 15;
const DWORD ERROR_CURRENT_DIRECTORY = 16;
const DWORD ERROR_NOT_SAME_DEVICE = 17;
const DWORD ERROR_NO_MORE_FILES = 18;
const DWORD ERROR_WRITE_PROTECT = 19;
const DWORD ERROR_NOT_READY = 21;
const DWORD ERROR_SEEK = 25;
const DWORD ERROR_WRITE_FAULT = 29;
const DWORD ERROR_READ_FAULT = 30;
const DWORD ERROR_GEN_FAILURE = 31;
const DWORD ERROR_SHARING_VIOLATION = 32;
const DWORD ERROR_LOCK_VIOLATION = 33;
const DWORD ERROR_HANDLE_EOF = 38;
const DWORD ERROR_HANDLE_DISK_FULL = 39;
const DWORD ERROR_NOT_SUPPORTED = 50;
const DWORD ERROR_FILE_EXISTS = 80;
const DWORD ERROR_INVALID_PARAMETER = 87;
const DWORD ERROR_BROKEN_PIPE = 109;
const DWORD ERROR_DISK_FULL = 112;
const DWORD ERROR_CALL_NOT_IMPLEMENTED = 120;
const DWORD ERROR_INSUFFICIENT_BUFFER = 122;
const DWORD ERROR_INVALID_NAME = 123;
const DWORD ERROR_NEGATIVE_SEEK = 131;
const DWORD ERROR_DIR_NOT_EMPTY = 145;
const DWORD ERROR_BUSY = 170;
const DWORD ERROR_NOT_LOCKED = 158;
const DWORD ERROR_LOCK_FAILED = 167;
const DWORD ERROR_ALREADY_EXISTS = 183;
const DWORD ERROR_FILENAME_EXCED_RANGE = 206;
const DWORD ERROR_DIRECTORY = 267;
const DWORD ERROR_NOT_OWNER = 288;
const DWORD ERROR_TOO_MANY_POSTS = 298;
const DWORD ERROR_POSSIBLE_DEADLOCK = 1131;
const DWORD ERROR_TIMEOUT = 1460;
const DWORD ERROR_CANT_ACCESS_FILE = 1920;
}  // namespace kelsys

#endif  // _WIN32

#endif  // KELCORE_PLATFORM_TYPES_H
