// Files in the Win32 vocabulary: CreateFileA and the calls on its handles,
// the path-based attribute, delete and rename calls, and the C runtime's
// _stat and _utime.
//
// On Windows these are the system's own functions. The POSIX layer
// (platform/posix/file.cpp) implements them on file descriptors and reports
// Win32 error codes through kelsys::SetLastError. What it emulates and what
// it cannot (share modes, region locks, hidden/system/archive attributes,
// inheritance) is described in docs/files.md; in short:
//
//   - names: `\` is read as `/`; a leading "C:" (any case) is the root `/`;
//     any other drive letter is a path that does not exist; the rest as on
//     Windows: matched without regard to case, refused characters, trailing
//     dots and blanks (platform/posix/name_resolver.h);
//   - share modes are enforced between handles of this process (an open
//     that conflicts fails with ERROR_SHARING_VIOLATION); other processes
//     are not affected, since POSIX has no mandatory share modes;
//   - region locks are open-file-description locks: they belong to the
//     handle and exclude other handles of this process as well as other
//     processes. As on Windows, a handle may lock shared over its own
//     ranges but exclusively over none of them, any handle takes either
//     kind, and UnlockFile needs the exact range of an earlier lock.
//     ReadFile and WriteFile honour the locks of this process's handles
//     (mandatory, as on Windows); other processes' locks are advisory;
//   - a file's read-only is "no write bit"; a directory's read-only, and
//     hidden, system and archive live in the extended attribute
//     "user.kelcore.attrib" where the file system keeps user extended
//     attributes, and are dropped silently where it does not.
//
// Internal to the library; nothing here is public API.
#ifndef KELCORE_PLATFORM_FILE_H
#define KELCORE_PLATFORM_FILE_H

#include <cstdint>
#include <ctime>

#include "kelcore/platform/error.h"
#include "kelcore/platform/handle.h"
#include "kelcore/platform/types.h"

namespace kelsys {

#if defined(_WIN32)

using ::LPDWORD;
using ::PLONG;
using ::LPOVERLAPPED;
using ::LPSECURITY_ATTRIBUTES;
using ::OVERLAPPED;
using ::SECURITY_ATTRIBUTES;

using ::CreateFileA;
using ::DeleteFileA;
using ::FlushFileBuffers;
using ::GetFileAttributesA;
using ::GetFileSize;
using ::LockFileEx;
using ::MoveFileA;
using ::ReadFile;
using ::SetEndOfFile;
using ::SetFileAttributesA;
using ::SetFilePointer;
using ::UnlockFile;
using ::WriteFile;

#else  // POSIX

typedef DWORD *LPDWORD;
typedef LONG *PLONG;

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES *LPSECURITY_ATTRIBUTES;

// Only the members the library uses; Offset/OffsetHigh name the start of a
// locked range as on Windows.
struct OVERLAPPED {
  std::uintptr_t Internal;
  std::uintptr_t InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
};
typedef OVERLAPPED *LPOVERLAPPED;

const DWORD NO_ERROR = 0;
const DWORD ERROR_FILE_TOO_LARGE = 223;

const DWORD GENERIC_READ = 0x80000000u;
const DWORD GENERIC_WRITE = 0x40000000u;
const DWORD DELETE = 0x00010000u;

const DWORD FILE_SHARE_READ = 0x1;
const DWORD FILE_SHARE_WRITE = 0x2;
const DWORD FILE_SHARE_DELETE = 0x4;

const DWORD CREATE_NEW = 1;
const DWORD CREATE_ALWAYS = 2;
const DWORD OPEN_EXISTING = 3;
const DWORD OPEN_ALWAYS = 4;
const DWORD TRUNCATE_EXISTING = 5;

const DWORD FILE_ATTRIBUTE_READONLY = 0x01;
const DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
const DWORD FILE_ATTRIBUTE_SYSTEM = 0x04;
const DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
const DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
const DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
const DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000u;
const DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

const DWORD FILE_BEGIN = 0;
const DWORD FILE_CURRENT = 1;
const DWORD FILE_END = 2;
const DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;
const DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;

const DWORD LOCKFILE_FAIL_IMMEDIATELY = 0x1;
const DWORD LOCKFILE_EXCLUSIVE_LOCK = 0x2;

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD done, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, const void *buffer, DWORD bytes, LPDWORD done,
               LPOVERLAPPED overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
BOOL SetEndOfFile(HANDLE file);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL FlushFileBuffers(HANDLE file);
BOOL LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
                LPOVERLAPPED overlapped);
BOOL UnlockFile(HANDLE file, DWORD offsetLow, DWORD offsetHigh, DWORD bytesLow,
                DWORD bytesHigh);
DWORD GetFileAttributesA(LPCSTR name);
BOOL SetFileAttributesA(LPCSTR name, DWORD attributes);
BOOL DeleteFileA(LPCSTR name);
BOOL MoveFileA(LPCSTR existing, LPCSTR newName);

#endif  // _WIN32

// Closes a file handle. `*released` tells whether the handle is gone even
// though the call failed: on POSIX the descriptor is released whatever
// close reports; on Windows a handle whose close failed is still open.
BOOL CloseFileHandle(HANDLE file, int *released);

// A number for a file handle in traces and for callers that want the raw
// descriptor: on Windows the handle value (kernel handles fit in 32 bits),
// on POSIX the file descriptor; -1 for an invalid handle.
int FileHandleNumber(HANDLE file);

// 1 when the handle is open on a disk file, whose position moves by what is
// read and written through it; 0 for anything else (a pipe, a terminal, a
// device) and on failure. The file back end tracks positions only on disk
// files.
int IsDiskFileHandle(HANDLE file);

// The C runtime's _stat, 64-bit clean on every system (Windows: _stat64).
// Returns 0, or -1 with errno set.
struct FileStatus {
  std::int64_t size;
  std::int64_t mtime;  // seconds since 1970-01-01 UTC
  int isDirectory;
};
int StatFile(LPCSTR name, FileStatus *out);

// The C runtime's _utime with one time for access and modification
// (Windows: _utime64). Returns 0, or -1 with errno set.
int UtimeFile(LPCSTR name, std::int64_t time);

// Gives the file `target` the access permissions of the file `model`
// (POSIX: the mode bits; Windows: nothing, a new file takes the access
// control of its folder as the model did). Returns 0, or -1 with errno
// set.
int CopyFileMode(LPCSTR model, LPCSTR target);

// Thread-safe localtime and mktime over 64-bit times (localtime_r,
// _localtime64_s; mktime, _mktime64). LocalFileTime returns 0 on failure;
// MakeFileTime returns -1 when the time cannot be represented.
int LocalFileTime(std::int64_t time, std::tm *out);
std::int64_t MakeFileTime(std::tm *local);

}  // namespace kelsys

#endif  // KELCORE_PLATFORM_FILE_H
