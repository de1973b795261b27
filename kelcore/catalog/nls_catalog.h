// The X/Open-style catalog functions over the library's message files.
//
//   catopen(fileName, flag)  opens `fileName` as a message file whose first
//                            catalog is "NLS message catalog" (version
//                            "A.00.00", format "A.02.00") and registers it,
//                            so every catalog lookup in the process sees it.
//                            0, or -1 with the cause as the thread's last
//                            error. `flag` is not used. A second catopen
//                            closes and deletes the file the first opened.
//   catgets(fd, set, number, defaultText)
//                            the NLS catalog's text for (set, number) as
//                            stored (placeholders are not replaced); else
//                            `defaultText`; else, with a null default, the
//                            library's description of the failed lookup.
//                            The text belongs to the library and stays
//                            valid until the calling thread calls catgets
//                            again or ends; it must not be changed (copy it
//                            first), as with the C library's catgets. Null
//                            only without memory. Never changes the
//                            thread's last error.
//   catclose(fd)             closes, unregisters and deletes the open file;
//                            0, or -1 when the close failed or no file was
//                            open (a second catclose is harmless).
// The descriptor arguments are not used: there is one NLS catalog.
//
// Names. The C library of POSIX systems has functions of these three names
// (with other types). A shared library exporting them would replace the C
// library's in every part of a program that loads it, so on those systems
// the library exports kelcore_catopen, kelcore_catgets and kelcore_catclose
// only, and this header maps the three short names to them with
// function-like macros, in the files that include it and nowhere else. The
// C library's function stays reachable in such a file as (catgets)(...),
// or everywhere by not including this header; define KELCORE_NO_CAT_NAMES
// before including it to keep the short names for the C library. On
// Windows, where nothing clashes, the library also exports catopen,
// catgets and catclose under their own names.
#ifndef KELCORE_CATALOG_NLS_CATALOG_H
#define KELCORE_CATALOG_NLS_CATALOG_H

#include "kelcore/platform/export.h"

// catopen, as the file comment describes: 0, or -1 with the cause as the
// thread's last error.
KELCORE_API int kelcore_catopen(char const *fileName, int flag);
// catgets, as the file comment describes: the stored text, else
// `defaultText`; never changes the thread's last error.
KELCORE_API char *kelcore_catgets(int fd, int setId, int msgId, char const *defaultText);
// catclose, as the file comment describes: 0, or -1.
KELCORE_API int kelcore_catclose(int fd);

#if !defined(KELCORE_LIBC_HAS_CATGETS)
// kelcore_catopen under the X/Open name, where the C library has none of its own.
KELCORE_API int catopen(char const *fileName, int flag);
// kelcore_catgets under the X/Open name, where the C library has none of its own.
KELCORE_API char *catgets(int fd, int setId, int msgId, char const *defaultText);
// kelcore_catclose under the X/Open name, where the C library has none of its own.
KELCORE_API int catclose(int fd);
#elif !defined(KELCORE_NO_CAT_NAMES)
// The C library's declarations first, under their own names, so that a
// later include of <nl_types.h> adds nothing the macros could rename.
#  if defined(__has_include)
#    if __has_include(<nl_types.h>)
#      include <nl_types.h>
#    endif
#  endif
#  define catopen(fileName, flag) kelcore_catopen(fileName, flag)
#  define catgets(fd, setId, msgId, defaultText) kelcore_catgets(fd, setId, msgId, defaultText)
#  define catclose(fd) kelcore_catclose(fd)
#endif

#endif  // KELCORE_CATALOG_NLS_CATALOG_H
