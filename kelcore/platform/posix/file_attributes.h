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

}  // namespace kelsys

#endif  // KELCORE_PLATFORM_POSIX_FILE_ATTRIBUTES_H
