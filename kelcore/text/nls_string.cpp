#include "kelcore/text/nls_string.h"

#include <cctype>
#include <cstring>
#include <new>

namespace {

typedef unsigned short tUNIT;

// Units of an 8-bit string are its bytes taken as unsigned values, so that
// widening never sign-extends.
inline tUNIT Widen(char c) { return static_cast<unsigned char>(c); }
inline char Narrow(tUNIT u) { return static_cast<char>(static_cast<unsigned char>(u & 0xFF)); }

inline tUNIT UnitOf(tUNIT u) { return u; }
inline tUNIT UnitOf(char c) { return Widen(c); }

template <class T> T ConvertTo(tUNIT u);
template <> tUNIT ConvertTo<tUNIT>(tUNIT u) { return u; }
template <> char ConvertTo<char>(tUNIT u) { return Narrow(u); }

template <class T> std::size_t Length(const T *s) {
  std::size_t n = 0;
  if (s != nullptr) {
    while (s[n] != 0) ++n;
  }
  return n;
}

// Copies at most `n` characters of `src` to `dst`, stopping at the source's
// terminator; the count of characters copied.
template <class D, class S> std::size_t CopyUnits(D *dst, const S *src, std::size_t n) {
  std::size_t i = 0;
  for (; i < n && src[i] != 0; ++i) dst[i] = ConvertTo<D>(UnitOf(src[i]));
  return i;
}

template <class D, class S> D *Copy(D *dst, const S *src) {
  dst[CopyUnits(dst, src, static_cast<std::size_t>(-1))] = 0;
  return dst;
}

template <class D, class S> D *CopyN(D *dst, const S *src, unsigned int n) {
  std::size_t copied = CopyUnits(dst, src, n);
  if (copied < n) dst[copied] = 0;
  return dst;
}

template <class D, class S> D *AppendN(D *dst, const S *src, std::size_t n) {
  D *end = dst + Length(dst);
  end[CopyUnits(end, src, n)] = 0;
  return dst;
}

template <class A, class B> int CompareN(const A *a, const B *b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    int ua = UnitOf(a[i]);
    int ub = UnitOf(b[i]);
    if (ua != ub) return ua - ub;
    if (ua == 0) break;
  }
  return 0;
}

template <class T> T *FindFirst(T *s, tUNIT c) {
  for (;; ++s) {
    tUNIT u = UnitOf(*s);
    if (u == c) return s;
    if (u == 0) return nullptr;
  }
}

template <class T> T *FindLast(T *s, tUNIT c) {
  T *p = s + Length(s);
  for (;; --p) {
    if (UnitOf(*p) == c) return p;
    if (p == s) return nullptr;
  }
}

template <class T> T *NewArray(std::size_t n) { return new (std::nothrow) T[n]; }

}  // namespace

// --- conversion, length and duplication ------------------------------------

tUNIT *cstonls(const char *text) {
  if (text == nullptr) return nullptr;
  tUNIT *copy = NewArray<tUNIT>(Length(text) + 1);
  if (copy != nullptr) Copy(copy, text);
  return copy;
}

tUNIT *cstonls(tUNIT *dst, const char *src, unsigned int n) {
  dst[0] = 0;
  if (src != nullptr) AppendN(dst, src, n);
  return dst;
}

char *nlstocs(const tUNIT *text) {
  if (text == nullptr) return nullptr;
  char *copy = NewArray<char>(Length(text) + 1);
  if (copy != nullptr) Copy(copy, text);
  return copy;
}

char *nlstocs(char *dst, const tUNIT *src, unsigned int n) {
  dst[0] = 0;
  if (src != nullptr) AppendN(dst, src, n == 0xFFFFFFFFu ? static_cast<std::size_t>(-1) : n);
  return dst;
}

unsigned int CharLen(const tUNIT *text) { return static_cast<unsigned int>(Length(text)); }

unsigned int ByteLen(const tUNIT *text) { return 2 * CharLen(text); }

char *strnew(const char *text) {
  if (text == nullptr) return nullptr;
  std::size_t size = std::strlen(text) + 1;
  char *copy = NewArray<char>(size);
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

tUNIT *strnew(const tUNIT *text) {
  if (text == nullptr) return nullptr;
  std::size_t size = Length(text) + 1;
  tUNIT *copy = NewArray<tUNIT>(size);
  if (copy != nullptr) std::memcpy(copy, text, size * sizeof(tUNIT));
  return copy;
}

// --- the string family -----------------------------------------------------

tUNIT *strcpy(tUNIT *dst, const tUNIT *src) { return Copy(dst, src); }
tUNIT *strcpy(tUNIT *dst, const char *src) { return Copy(dst, src); }
char *strcpy(char *dst, const tUNIT *src) { return Copy(dst, src); }

tUNIT *strncpy(tUNIT *dst, const tUNIT *src, unsigned int n) { return CopyN(dst, src, n); }
char *strncpy(char *dst, const tUNIT *src, unsigned int n) { return CopyN(dst, src, n); }

tUNIT *strcat(tUNIT *dst, const tUNIT *src) { return AppendN(dst, src, static_cast<std::size_t>(-1)); }
tUNIT *strcat(tUNIT *dst, const char *src) { return AppendN(dst, src, static_cast<std::size_t>(-1)); }
char *strcat(char *dst, const tUNIT *src) { return AppendN(dst, src, static_cast<std::size_t>(-1)); }

tUNIT *strncat(tUNIT *dst, const tUNIT *src, unsigned int n) { return AppendN(dst, src, n); }
tUNIT *strncat(tUNIT *dst, const char *src, unsigned int n) { return AppendN(dst, src, n); }
char *strncat(char *dst, const tUNIT *src, unsigned int n) { return AppendN(dst, src, n); }

int strcmp(const tUNIT *a, const tUNIT *b) { return CompareN(a, b, static_cast<std::size_t>(-1)); }
int strcmp(const tUNIT *a, const char *b) { return CompareN(a, b, static_cast<std::size_t>(-1)); }
int strcmp(const char *a, const tUNIT *b) { return CompareN(a, b, static_cast<std::size_t>(-1)); }

int strncmp(const tUNIT *a, const tUNIT *b, unsigned int n) { return CompareN(a, b, n); }
int strncmp(const tUNIT *a, const char *b, unsigned int n) { return CompareN(a, b, n); }
int strncmp(const char *a, const tUNIT *b, unsigned int n) { return CompareN(a, b, n); }

const tUNIT *strchr(const tUNIT *s, tUNIT c) { return FindFirst(s, c); }
const tUNIT *strchr(const tUNIT *s, char c) { return FindFirst(s, Widen(c)); }
const tUNIT *strchr(const tUNIT *s, int c) { return FindFirst(s, static_cast<tUNIT>(c)); }
const char *strchr(const char *s, tUNIT c) {
  // No byte widens to a unit above 255, but a terminator is still found.
  return c > 0xFF ? nullptr : FindFirst(s, c);
}
tUNIT *strchr(tUNIT *s, tUNIT c) { return FindFirst(s, c); }
tUNIT *strchr(tUNIT *s, char c) { return FindFirst(s, Widen(c)); }
tUNIT *strchr(tUNIT *s, int c) { return FindFirst(s, static_cast<tUNIT>(c)); }

const tUNIT *strrchr(const tUNIT *s, tUNIT c) { return FindLast(s, c); }
const tUNIT *strrchr(const tUNIT *s, char c) { return FindLast(s, Widen(c)); }
const tUNIT *strrchr(const tUNIT *s, int c) { return FindLast(s, static_cast<tUNIT>(c)); }
const char *strrchr(const char *s, tUNIT c) { return c > 0xFF ? nullptr : FindLast(s, c); }
tUNIT *strrchr(tUNIT *s, tUNIT c) { return FindLast(s, c); }
tUNIT *strrchr(tUNIT *s, char c) { return FindLast(s, Widen(c)); }
tUNIT *strrchr(tUNIT *s, int c) { return FindLast(s, static_cast<tUNIT>(c)); }

tUNIT *(strlwr)(tUNIT *s) {
  for (tUNIT *p = s; *p != 0; ++p) *p = (tolower)(*p);
  return s;
}

tUNIT *(strupr)(tUNIT *s) {
  for (tUNIT *p = s; *p != 0; ++p) *p = (toupper)(*p);
  return s;
}

// --- character classes and case --------------------------------------------
//
// Calls into the C library pass an int: with this header included, a
// `unsigned short` argument would select these very functions again.

int(isascii)(tUNIT c) { return c < 0x80; }

// The C tests are only consulted for the lower half of the byte range: their
// verdict on the upper half depends on the locale and the C library.
int(isalpha)(tUNIT c) {
  unsigned char low = static_cast<unsigned char>(c & 0xFF);
  return low < 0x80 && std::isalpha(static_cast<int>(low)) ? 1 : 0;
}

int(isdigit)(tUNIT c) {
  unsigned char low = static_cast<unsigned char>(c & 0xFF);
  return low < 0x80 && std::isdigit(static_cast<int>(low)) ? 1 : 0;
}

int(isspace)(tUNIT c) {
  unsigned char low = static_cast<unsigned char>(c & 0xFF);
  return low < 0x80 && std::isspace(static_cast<int>(low)) ? 1 : 0;
}

tUNIT(toupper)(tUNIT c) { return c < 0x80 ? static_cast<tUNIT>(std::toupper(static_cast<int>(c))) : c; }

tUNIT(tolower)(tUNIT c) { return c < 0x80 ? static_cast<tUNIT>(std::tolower(static_cast<int>(c))) : c; }
