// Internal to the library: DOS-style names on a case-sensitive POSIX file
// system, for the POSIX layer's path-based calls (files, directories).
//
// Windows programs and their configuration files name files without regard
// to case, never use the characters Windows refuses, and rely on Windows
// dropping trailing dots and blanks. A call that takes a name does so in
// three steps:
//
//   1. PrepareDosName: the drive and separators (ToNativeName), the refused
//      characters and the trailing dots and blanks. No system call.
//   2. The call tries the prepared path as it stands, so a name spelled as
//      on disk costs nothing more than before.
//   3. Only after a miss (ENOENT, ENOTDIR), or before making a new entry,
//      ResolveExistingName / ResolveNewName look for the entry whose name
//      matches without regard to case, one path component at a time, and
//      tell a missing directory from a missing final entry.
//
// Case is folded for ASCII letters only; other bytes must match exactly.
// Where several entries differ only in case (possible on POSIX, never on
// Windows) the exact spelling wins, else the first of them in byte order.
// Directory contents are cached per directory and kept current through
// inotify on Linux; elsewhere, or when inotify is out of watches, each
// lookup reads the directory.
#ifndef KELCORE_PLATFORM_POSIX_NAME_RESOLVER_H
#define KELCORE_PLATFORM_POSIX_NAME_RESOLVER_H

#include <cstddef>

#include "kelcore/platform/types.h"

namespace kelsys {

// Writes the native form of the DOS-style `name` into `out` (`size`
// bytes), as ToNativeName does, after checking it as Windows does:
//   - `* ? | < > "` and control characters give ERROR_INVALID_NAME;
//   - a component that ends in one dot loses it ("dir." is "dir"; "." and
//     ".." stay, and so does a run of three or more dots);
//   - unless the name ends in a separator, its final component loses all
//     trailing dots and blanks ("a.dat. " is "a.dat").
// Returns ERROR_SUCCESS or ToNativeName's errors; `out` is empty on error.
DWORD PrepareDosName(LPCSTR name, char *out, std::size_t size);

// For a prepared `path` that names an existing entry: writes into `out`
// the path as spelled on disk, each component the exact one if it exists,
// else the entry that matches it without regard to case. Returns
// ERROR_SUCCESS; ERROR_FILE_NOT_FOUND when only the final component matches
// nothing; ERROR_PATH_NOT_FOUND when a directory before it is missing or is
// no directory; ERROR_FILENAME_EXCED_RANGE when the result does not fit.
DWORD ResolveExistingName(const char *path, char *out, std::size_t size);

// For a prepared `path` about to be created: the directories before the
// final component are resolved as by ResolveExistingName (ERROR_PATH_NOT_FOUND
// when one is missing); the final component is replaced by the entry that
// matches it without regard to case, if there is one, so that creating
// "CASE.DAT" beside "Case.dat" reaches that file. `*exists` (may be null)
// tells whether such an entry was found.
DWORD ResolveNewName(const char *path, char *out, std::size_t size, int *exists);

}  // namespace kelsys

#endif  // KELCORE_PLATFORM_POSIX_NAME_RESOLVER_H
