// The one export macro of libkelcore.
//
// The library is built with hidden symbol visibility, so nothing leaves the
// shared object or DLL unless it is marked KELCORE_API. Users of a static
// build define KELCORE_STATIC (the CMake package and kelcore.pc do it for
// them). This header is deliberately free of system headers.
#ifndef KELCORE_PLATFORM_EXPORT_H
#define KELCORE_PLATFORM_EXPORT_H

#if defined(KELCORE_STATIC)
#  define KELCORE_API
#elif defined(_WIN32) || defined(__CYGWIN__)
#  if defined(KELCORE_BUILDING)
#    define KELCORE_API __declspec(dllexport)
#  else
#    define KELCORE_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define KELCORE_API __attribute__((visibility("default")))
#else
// Marks the library's public classes and functions: exported from the shared library (the DLL
// on Windows), empty for the static library.
#  define KELCORE_API
#endif

// An inline member function of an exported class that the library exports
// as well: callers compile its body in (a fast path that needs no call),
// and programs built before it became inline still find it in the library.
// Every translation unit of the library keeps a copy (GCC's "used"); the
// linker folds them into one exported function.
#if defined(KELCORE_STATIC)
#  define KELCORE_INLINE_API
#elif defined(_WIN32) || defined(__CYGWIN__)
#  if defined(KELCORE_BUILDING)
#    define KELCORE_INLINE_API __declspec(dllexport)
#  else
#    define KELCORE_INLINE_API
#  endif
#elif defined(__GNUC__)
#  if defined(KELCORE_BUILDING)
#    define KELCORE_INLINE_API __attribute__((visibility("default"), used))
#  else
#    define KELCORE_INLINE_API __attribute__((visibility("default")))
#  endif
#else
#  define KELCORE_INLINE_API
#endif

// Systems whose C library has catopen, catgets and catclose of its own:
// the library's catalog functions must not be exported under those names
// there (catalog/nls_catalog.h).
#if !defined(_WIN32)
#  define KELCORE_LIBC_HAS_CATGETS 1
#endif

#endif  // KELCORE_PLATFORM_EXPORT_H
