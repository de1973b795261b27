// What kind of object a file handle is open on.
#include <sys/stat.h>

#include "kelcore/platform/file.h"

namespace kelsys {

int IsDiskFileHandle(HANDLE file) {
  const int fd = FileHandleNumber(file);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) return 0;
  return S_ISREG(st.st_mode) ? 1 : 0;
}

}  // namespace kelsys
