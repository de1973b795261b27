#include "kelcore/platform/posix/native_name.h"

#include <cerrno>

namespace kelsys {

DWORD ToNativeName(LPCSTR name, char *out, std::size_t size) {
  if (size == 0) return ERROR_FILENAME_EXCED_RANGE;
  out[0] = '\0';
  if (name == nullptr) return ERROR_INVALID_NAME;
  const char *p = name;
  std::size_t n = 0;
  char c0 = name[0];
  if (c0 != '\0' && name[1] == ':' &&
      ((c0 >= 'a' && c0 <= 'z') || (c0 >= 'A' && c0 <= 'Z'))) {
    if (c0 != 'c' && c0 != 'C') return ERROR_PATH_NOT_FOUND;
    p = name + 2;
    // "C:\x" and "C:/x" keep their separator and so start at the root.
    // "C:x" is relative to the drive's current directory, which on the one
    // drive is the process's; "C:" alone is that directory.
    if (*p == '\0') {
      if (size < 2) return ERROR_FILENAME_EXCED_RANGE;
      out[0] = '.';
      out[1] = '\0';
      return ERROR_SUCCESS;
    }
  }
  for (; *p != '\0'; ++p) {
    if (n + 1 >= size) {
      out[0] = '\0';
      return ERROR_FILENAME_EXCED_RANGE;
    }
    out[n++] = (*p == '\\') ? '/' : *p;
  }
  out[n] = '\0';
  return ERROR_SUCCESS;
}

int NativeNameErrno(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_INVALID_NAME: return EINVAL;
    default: return ENOENT;
  }
}

}  // namespace kelsys
