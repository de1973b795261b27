// String functions over 16-bit characters, and over mixtures of 16-bit and
// 8-bit strings.
//
// A 16-bit string is an array of `unsigned short` units ended by a 0 unit.
// The functions carry the C library's names as overloads, so code written
// for `char` strings compiles unchanged for 16-bit ones; a call with only
// 8-bit arguments still resolves to the C library's own function.
//
// Width conversion is by value, with no code page involved: widening
// zero-extends each byte (0 to 255), narrowing keeps the low 8 bits of each
// unit. Lengths and counts are in units, except ByteLen.
//
// Heap results (cstonls and nlstocs without a destination, strnew) are
// arrays allocated with new (std::nothrow) T[n]: release them with delete[].
// They are null when memory is short, or when the source is null.
//
// The character-class names are declared in parentheses because C libraries
// may define them as macros; call them as `isascii(u)` or `(isascii)(u)`.
#ifndef KELCORE_TEXT_NLS_STRING_H
#define KELCORE_TEXT_NLS_STRING_H

#include "kelcore/platform/export.h"

// --- conversion, length and duplication ------------------------------------

// A new widened copy of `text`.
KELCORE_API unsigned short *cstonls(const char *text);
// Empties `dst`, then appends at most `n` characters of `src` widened, and a
// terminating 0 (as strncat). Returns `dst`.
KELCORE_API unsigned short *cstonls(unsigned short *dst, const char *src, unsigned int n);
// A new narrowed copy of `text` (CharLen + 1 bytes).
KELCORE_API char *nlstocs(const unsigned short *text);
// Empties `dst`, then appends at most `n` units of `src` narrowed, and a NUL.
// 0xFFFFFFFF as `n` means no limit. Returns `dst`.
KELCORE_API char *nlstocs(char *dst, const unsigned short *src, unsigned int n);

// Units before the terminating 0 (0 for a null string).
KELCORE_API unsigned int CharLen(const unsigned short *text);
// 2 * CharLen: the bytes of the text without its terminator.
KELCORE_API unsigned int ByteLen(const unsigned short *text);

// A new copy of the text; null for a null text.
KELCORE_API char *strnew(const char *text);
KELCORE_API unsigned short *strnew(const unsigned short *text);

// --- the string family -----------------------------------------------------
//
// Each behaves like the C function of its name on units instead of bytes,
// except: strncpy copies at most n units, stops at the source's terminator,
// writes a terminator only when it stopped before n units and never pads;
// strcmp and strncmp compare both sides as unsigned values and return the
// difference of the first differing pair.

// Copies `src` with its terminator to `dst` (narrowing to the low byte or widening, as the
// types need); returns `dst`.
KELCORE_API unsigned short *strcpy(unsigned short *dst, const unsigned short *src);
KELCORE_API unsigned short *strcpy(unsigned short *dst, const char *src);
KELCORE_API char *strcpy(char *dst, const unsigned short *src);

// Copies at most n units and terminates only when it stopped before n units; returns `dst`.
KELCORE_API unsigned short *strncpy(unsigned short *dst, const unsigned short *src, unsigned int n);
KELCORE_API char *strncpy(char *dst, const unsigned short *src, unsigned int n);

// Appends `src` to `dst` and returns `dst`.
KELCORE_API unsigned short *strcat(unsigned short *dst, const unsigned short *src);
KELCORE_API unsigned short *strcat(unsigned short *dst, const char *src);
KELCORE_API char *strcat(char *dst, const unsigned short *src);

// Appends at most n units and always terminates.
KELCORE_API unsigned short *strncat(unsigned short *dst, const unsigned short *src, unsigned int n);
KELCORE_API unsigned short *strncat(unsigned short *dst, const char *src, unsigned int n);
KELCORE_API char *strncat(char *dst, const unsigned short *src, unsigned int n);

// Compares as unsigned units; the difference of the first differing pair, 0 when equal.
KELCORE_API int strcmp(const unsigned short *a, const unsigned short *b);
KELCORE_API int strcmp(const unsigned short *a, const char *b);
KELCORE_API int strcmp(const char *a, const unsigned short *b);

// As strcmp, over at most n units.
KELCORE_API int strncmp(const unsigned short *a, const unsigned short *b, unsigned int n);
KELCORE_API int strncmp(const unsigned short *a, const char *b, unsigned int n);
KELCORE_API int strncmp(const char *a, const unsigned short *b, unsigned int n);

// strchr finds the first unit equal to `c` (the terminator when `c` is 0);
// strrchr the last. A `char` is widened before the search; in an 8-bit
// string a unit above 255 is never found. An `int` searched for in a 16-bit
// string is taken as a unit (its low 16 bits); these int forms exist so that
// `strchr(text, 0)` is not ambiguous.
KELCORE_API const unsigned short *strchr(const unsigned short *s, unsigned short c);
KELCORE_API const unsigned short *strchr(const unsigned short *s, char c);
KELCORE_API const unsigned short *strchr(const unsigned short *s, int c);
KELCORE_API const char *strchr(const char *s, unsigned short c);
KELCORE_API unsigned short *strchr(unsigned short *s, unsigned short c);
KELCORE_API unsigned short *strchr(unsigned short *s, char c);
KELCORE_API unsigned short *strchr(unsigned short *s, int c);

// The last unit equal to `c` (see strchr above); null when there is none.
KELCORE_API const unsigned short *strrchr(const unsigned short *s, unsigned short c);
KELCORE_API const unsigned short *strrchr(const unsigned short *s, char c);
KELCORE_API const unsigned short *strrchr(const unsigned short *s, int c);
KELCORE_API const char *strrchr(const char *s, unsigned short c);
KELCORE_API unsigned short *strrchr(unsigned short *s, unsigned short c);
KELCORE_API unsigned short *strrchr(unsigned short *s, char c);
KELCORE_API unsigned short *strrchr(unsigned short *s, int c);

// The (char *, unsigned short) forms are templates restricted to an
// `unsigned short` argument: a plain overload would tie with the C library's
// `strchr(const char *, int)` for `strchr(buf, 'a')` on C libraries that lack
// the C++ `char *` overload, and 8-bit calls must keep resolving to the C
// library.
namespace kelcore_detail {
template <class T> struct tUNIT_ONLY {};
template <> struct tUNIT_ONLY<unsigned short> { typedef char *type; };
}  // namespace kelcore_detail

template <class T>
inline typename kelcore_detail::tUNIT_ONLY<T>::type strchr(char *s, T c) {
  return const_cast<char *>(strchr(static_cast<const char *>(s), c));
}
// strrchr for a 16-bit unit in an 8-bit string (see strchr above).
template <class T>
inline typename kelcore_detail::tUNIT_ONLY<T>::type strrchr(char *s, T c) {
  return const_cast<char *>(strrchr(static_cast<const char *>(s), c));
}

// Replace every unit below 128 by its lower- or upper-case form (the C
// library's tolower/toupper); other units stay. Return the string.
KELCORE_API unsigned short *(strlwr)(unsigned short *s);
// Replaces every unit below 128 by its upper-case form; returns `s`.
KELCORE_API unsigned short *(strupr)(unsigned short *s);

// --- character classes and case --------------------------------------------

// Non-zero for a unit below 128.
KELCORE_API int(isascii)(unsigned short c);
// The C library's test of the same name applied to the unit's low byte. A
// low byte of 128 or more is never a letter, digit or space here, so results
// do not depend on the locale's upper half or the platform.
KELCORE_API int(isalpha)(unsigned short c);
KELCORE_API int(isdigit)(unsigned short c);
KELCORE_API int(isspace)(unsigned short c);
// For a unit below 128 the C library's conversion of it; other units as they
// are.
KELCORE_API unsigned short(toupper)(unsigned short c);
KELCORE_API unsigned short(tolower)(unsigned short c);

#endif  // KELCORE_TEXT_NLS_STRING_H
