#include "kelcore/platform/console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "kelcore/platform/error.h"
#include "kelcore/platform/handle.h"

namespace kelsys {

namespace {

class ConsoleHandle : public HandleObject {
 public:
  explicit ConsoleHandle(int fd) : HandleObject(kConsole), fd_(fd) {}
  bool Close() { return ::close(fd_) == 0; }
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

HANDLE GetStdHandle(DWORD which) {
  // One object per descriptor for the life of the process, built on first
  // use (race-free) and never destroyed, so that a handle taken early stays
  // usable until the very end.
  static ConsoleHandle *const handles[3] = {new ConsoleHandle(0), new ConsoleHandle(1),
                                            new ConsoleHandle(2)};
  int fd;
  if (which == STD_INPUT_HANDLE) {
    fd = 0;
  } else if (which == STD_OUTPUT_HANDLE) {
    fd = 1;
  } else if (which == STD_ERROR_HANDLE) {
    fd = 2;
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (::fcntl(fd, F_GETFD) == -1) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_HANDLE_VALUE;
  }
  return ToHandle(handles[fd]);
}

BOOL WriteConsoleA(HANDLE console, const void *buffer, DWORD chars, DWORD *written, LPVOID) {
  if (written != nullptr) *written = 0;
  ConsoleHandle *h = static_cast<ConsoleHandle *>(HandleCast(console, HandleObject::kConsole));
  if (h == nullptr) return FALSE;
  const char *p = static_cast<const char *>(buffer);
  DWORD put = 0;
  while (put < chars) {
    ssize_t n = ::write(h->fd(), p + put, chars - put);
    if (n > 0) {
      put += static_cast<DWORD>(n);
      if (written != nullptr) *written = put;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      SetLastErrorFromErrno(n < 0 ? errno : EIO);
      return FALSE;
    }
  }
  return TRUE;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR name, DWORD size) {
  if (module != nullptr || name == nullptr || size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
#if defined(__linux__)
  // readlink does not say whether it cut the path: one byte more than the
  // caller's room tells.
  char path[4096];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path);
  if (n < 0) {
    SetLastErrorFromErrno(errno);
    return 0;
  }
  DWORD length = static_cast<DWORD>(n);
  if (n == static_cast<ssize_t>(sizeof path) || length >= size) {
    DWORD keep = size - 1;
    if (keep > length) keep = length;
    std::memcpy(name, path, keep);
    name[keep] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(name, path, length);
  name[length] = '\0';
  return length;
#else
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return 0;
#endif
}

bool WriteConsoleText(HANDLE out, const char *text, DWORD length) {
  return WriteConsoleA(out, text, length, nullptr, nullptr) != FALSE;
}

}  // namespace kelsys
