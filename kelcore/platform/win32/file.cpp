// The C runtime side of the file vocabulary on Windows; the Win32 calls
// themselves are the system's (platform/file.h).
#include "kelcore/platform/file.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <sys/utime.h>

#include <ctime>

namespace kelsys {

BOOL CloseFileHandle(HANDLE file, int *released) {
  BOOL ok = ::CloseHandle(file);
  *released = ok ? 1 : 0;
  return ok;
}

int FileHandleNumber(HANDLE file) {
  if (file == nullptr || file == INVALID_HANDLE_VALUE) return -1;
  // Kernel handles are 32-bit values sign-extended into the pointer, so
  // that 32- and 64-bit processes can share them.
  return static_cast<int>(reinterpret_cast<std::intptr_t>(file));
}

int IsDiskFileHandle(HANDLE file) {
  if (file == nullptr || file == INVALID_HANDLE_VALUE) return 0;
  return ::GetFileType(file) == FILE_TYPE_DISK ? 1 : 0;
}

int StatFile(LPCSTR name, FileStatus *out) {
  struct _stat64 st;
  if (::_stat64(name, &st) != 0) return -1;
  out->size = static_cast<std::int64_t>(st.st_size);
  out->mtime = static_cast<std::int64_t>(st.st_mtime);
  out->isDirectory = (st.st_mode & _S_IFDIR) ? 1 : 0;
  return 0;
}

int UtimeFile(LPCSTR name, std::int64_t time) {
  struct __utimbuf64 times;
  times.actime = static_cast<__time64_t>(time);
  times.modtime = static_cast<__time64_t>(time);
  return ::_utime64(name, &times);
}

int CopyFileMode(LPCSTR, LPCSTR) { return 0; }

int LocalFileTime(std::int64_t time, std::tm *out) {
  __time64_t t = static_cast<__time64_t>(time);
  return ::_localtime64_s(out, &t) == 0 ? 1 : 0;
}

std::int64_t MakeFileTime(std::tm *local) {
  return static_cast<std::int64_t>(::_mktime64(local));
}

}  // namespace kelsys
