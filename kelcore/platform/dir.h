// Directories and drives in the Win32 vocabulary: find-file listings,
// creating and removing directories, the current directory, drive types and
// free space.
//
// On Windows these are the system's own functions. The POSIX layer
// (platform/posix/dir.cpp) implements them with the same contracts and Win32
// error codes; docs/directories.md describes the emulation. In short:
//
//   - names as for files (platform/file.h): `\` is read as `/`, a leading
//     "C:" is the root `/`, and "C:" alone is the current directory;
//   - FindFirstFileA matches its last component with the Win32 pattern
//     rules (`?`, `*`, "*.*", "*.", trailing dots), without regard to case.
//     There are no short (8.3) names: cAlternateFileName is always empty.
//     "." and ".." are never listed, nor names holding a `\` (which a
//     DOS-style name would read as a separator, naming another file). The
//     names are read once, when the listing starts: every entry is listed
//     at most once however the directory changes meanwhile, and an entry
//     removed before the walk reaches it is skipped. A symbolic link is
//     listed as a reparse point, with the directory attribute when it leads
//     to a directory, as Windows lists its links;
//   - RemoveDirectoryA removes a symbolic link to a directory, not what it
//     leads to, and refuses a directory without write permission as Windows
//     refuses a read-only one;
//   - drives: C: is the whole file system, a fixed drive; no other letter
//     exists. Free space is that of the file system holding the name.
//
// Internal to the library; nothing here is public API.
#ifndef KELCORE_PLATFORM_DIR_H
#define KELCORE_PLATFORM_DIR_H

#include "kelcore/platform/error.h"
#include "kelcore/platform/file.h"
#include "kelcore/platform/handle.h"
#include "kelcore/platform/types.h"

namespace kelsys {

#if defined(_WIN32)

using ::FILETIME;
using ::WIN32_FIND_DATAA;

using ::CreateDirectoryA;
using ::FindClose;
using ::FindFirstFileA;
using ::FindNextFileA;
using ::GetCurrentDirectoryA;
using ::GetDiskFreeSpaceA;
using ::GetDriveTypeA;
using ::RemoveDirectoryA;
using ::SetCurrentDirectoryA;

#else  // POSIX

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;  // the status change time on POSIX
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  char cFileName[MAX_PATH];
  char cAlternateFileName[14];
};

const DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;

const UINT DRIVE_UNKNOWN = 0;
const UINT DRIVE_NO_ROOT_DIR = 1;
const UINT DRIVE_REMOVABLE = 2;
const UINT DRIVE_FIXED = 3;
const UINT DRIVE_REMOTE = 4;
const UINT DRIVE_CDROM = 5;
const UINT DRIVE_RAMDISK = 6;

HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA *data);
BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA *data);
BOOL FindClose(HANDLE find);
BOOL CreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES security);
BOOL RemoveDirectoryA(LPCSTR name);
// The native path of the current directory ("/home/x"). As on Windows: the
// length without the terminator, or, when `size` is too small, the size
// needed (terminator included) and nothing written; 0 on failure.
DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);
BOOL SetCurrentDirectoryA(LPCSTR name);
UINT GetDriveTypeA(LPCSTR root);
BOOL GetDiskFreeSpaceA(LPCSTR root, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                       LPDWORD freeClusters, LPDWORD totalClusters);

#endif  // _WIN32

}  // namespace kelsys

#endif  // KELCORE_PLATFORM_DIR_H
