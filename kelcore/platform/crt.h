// C runtime extras that names need beyond the standard library: full paths
// and comparison without regard to case.
//
// On Windows these are the C runtime's own functions. The POSIX layer
// (platform/posix/crt.cpp) implements them with the same contracts.
//
// Internal to the library; nothing here is public API.
#ifndef KELCORE_PLATFORM_CRT_H
#define KELCORE_PLATFORM_CRT_H

#include <cstddef>

#if defined(_WIN32)
#  include <stdlib.h>
#  include <string.h>
#endif

namespace kelsys {

#if defined(_WIN32)
using ::_fullpath;
using ::_stricmp;
using ::_strnicmp;
#else
// The full path of `relPath`, written to `absPath` (`maxLength` bytes) and
// returned. As on POSIX the whole file system is the one drive C:, whose
// root is "/": "\" is read as "/", a leading "C:" or "c:" means the root
// when a separator follows and the current directory otherwise, a name
// without a root is taken relative to the current directory, "." and ".."
// components are removed ("/.." stays "/") and repeated separators count as
// one. Symbolic links are not resolved and nothing needs to exist. The
// result is a native path ("/home/x"); it ends with "/" only when
// `relPath` ends with a separator. A null or empty `relPath` gives the
// current directory.
//
// Failures return null and set errno: ERANGE when the result does not fit
// in `maxLength` bytes, ENOENT for a drive other than C: (there is none),
// and the error of getcwd when the current directory cannot be read. With
// a null `absPath` the result is allocated with malloc, to be released
// with free, and `maxLength` is ignored (ENOMEM without memory).
char *_fullpath(char *absPath, const char *relPath, std::size_t maxLength);

// Comparisons after converting both sides with tolower; negative, zero or
// positive as strcmp. _strnicmp looks at no more than `count` characters.
int _stricmp(const char *a, const char *b);
int _strnicmp(const char *a, const char *b, std::size_t count);
#endif

}  // namespace kelsys

#endif  // KELCORE_PLATFORM_CRT_H
