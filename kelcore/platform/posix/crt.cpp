#include "kelcore/platform/crt.h"

#include "kelcore/platform/posix/native_name.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace kelsys {

namespace {

#if defined(PATH_MAX) && PATH_MAX > 4096
const std::size_t kWorkSize = PATH_MAX;
#else
const std::size_t kWorkSize = 4096;
#endif

inline bool IsSlash(char c) { return c == '/' || c == '\\'; }

// Appends the components of `path` to the resolved text `out` (length
// `*len`, always starting with "/"), applying "." and "..". False when the
// text would not fit in kWorkSize bytes.
bool AppendComponents(char *out, std::size_t *len, const char *path) {
  const char *p = path;
  while (*p != '\0') {
    while (IsSlash(*p)) ++p;
    if (*p == '\0') break;
    const char *start = p;
    while (*p != '\0' && !IsSlash(*p)) ++p;
    const std::size_t n = static_cast<std::size_t>(p - start);
    if (n == 1 && start[0] == '.') continue;
    if (n == 2 && start[0] == '.' && start[1] == '.') {
      // Back to the previous separator; the root's own "/" stays.
      while (*len > 1 && out[*len - 1] != '/') --*len;
      if (*len > 1) --*len;
      out[*len] = '\0';
      continue;
    }
    const std::size_t sep = (*len > 1) ? 1 : 0;
    if (*len + sep + n + 1 > kWorkSize) return false;
    if (sep) out[(*len)++] = '/';
    std::memcpy(out + *len, start, n);
    *len += n;
    out[*len] = '\0';
  }
  return true;
}

}  // namespace

char *_fullpath(char *absPath, const char *relPath, std::size_t maxLength) {
  // The drive rule and the separators are the file layer's: one place says
  // what "C:" means.
  char rest[kNativeNameSize];
  const DWORD error = ToNativeName(relPath == nullptr ? "" : relPath, rest, sizeof rest);
  if (error != ERROR_SUCCESS) {
    errno = error == ERROR_FILENAME_EXCED_RANGE ? ERANGE : NativeNameErrno(error);
    return nullptr;
  }

  char resolved[kWorkSize];
  std::size_t len = 1;
  resolved[0] = '/';
  resolved[1] = '\0';
  if (!IsSlash(rest[0])) {
    char cwd[kWorkSize];
    if (::getcwd(cwd, sizeof cwd) == nullptr) {
      // errno as getcwd left it (ERANGE for a directory deeper than we
      // can hold, ENOENT when it was removed).
      return nullptr;
    }
    if (!AppendComponents(resolved, &len, cwd)) {
      errno = ERANGE;
      return nullptr;
    }
  }
  if (!AppendComponents(resolved, &len, rest)) {
    errno = ERANGE;
    return nullptr;
  }
  const std::size_t in_len = std::strlen(rest);
  if (in_len > 0 && IsSlash(rest[in_len - 1]) && len > 1) {
    if (len + 2 > kWorkSize) {
      errno = ERANGE;
      return nullptr;
    }
    resolved[len++] = '/';
    resolved[len] = '\0';
  }

  if (absPath == nullptr) {
    char *out = static_cast<char *>(std::malloc(len + 1));
    if (out == nullptr) {
      errno = ENOMEM;
      return nullptr;
    }
    std::memcpy(out, resolved, len + 1);
    return out;
  }
  if (len + 1 > maxLength) {
    errno = ERANGE;
    return nullptr;
  }
  std::memcpy(absPath, resolved, len + 1);
  return absPath;
}

int _strnicmp(const char *a, const char *b, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const int ca = std::tolower(static_cast<unsigned char>(a[i]));
    const int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca - cb;
    if (ca == 0) return 0;
  }
  return 0;
}

int _stricmp(const char *a, const char *b) {
  return _strnicmp(a, b, static_cast<std::size_t>(-1));
}

}  // namespace kelsys
