// The attributes POSIX files lack, as the POSIX layer keeps them.
//
// Internal to the library; nothing here is public API.
#ifndef KELCORE_PLATFORM_POSIX_FILE_ATTRIBUTES_H
#define KELCORE_PLATFORM_POSIX_FILE_ATTRIBUTES_H

#include "kelcore/platform/types.h"

namespace kelsys {

// The hidden, system and archive bits (FILE_ATTRIBUTE_*) of the native
// path: from the extended attribute "user.kelcore.attrib" where there is
// one, else the default (archive for files, nothing for directories).
DWORD ReadXattrBits(const char *path, bool directory);

// What a file without the extended attribute has: regular files carry the
// archive flag from birth, as new files on Windows do; directories nothing.
DWORD DefaultXattrBits(bool directory);

// Keeps `bits` (those of the extended attribute) for the native path, or
// through the descriptor `fd` when it is not -1: the attribute is removed
// when the bits are the default. 0, or an errno value for a failure worth
// reporting (a file system without user extended attributes keeps nothing
// and reports nothing).
int WriteXattrBits(const char *path, int fd, DWORD bits, bool directory);

}  // namespace kelsys

#endif  // KELCORE_PLATFORM_POSIX_FILE_ATTRIBUTES_H
