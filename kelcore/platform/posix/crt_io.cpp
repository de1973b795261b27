#include "kelcore/platform/crt_io.h"

#include <cerrno>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <utime.h>

#include "kelcore/platform/posix/native_name.h"

namespace kelsys {

namespace {

// The native form of `name` in `out`, or false with errno set.
bool Native(const char *name, char (&out)[kNativeNameSize]) {
  DWORD err = ToNativeName(name, out, sizeof out);
  if (err != ERROR_SUCCESS) {
    errno = NativeNameErrno(err);
    return false;
  }
  return true;
}

}  // namespace

int _open(const char *name, int flags, int pmode) {
  char path[kNativeNameSize];
  if (!Native(name, path)) return -1;
  // The Windows permission word knows only "writable" or "read-only"; the
  // umask then narrows it as it does every file the process creates.
  mode_t mode = (pmode & cS_IWRITE) ? 0666 : 0444;
  return ::open(path, (flags & ~(cO_BINARY | cO_TEXT)) | O_CLOEXEC, mode);
}

std::FILE *_fdopen(int fd, const char *mode) {
  // The C library refuses "r+" on a write-only descriptor, which Windows
  // accepts; "w" on a descriptor truncates nothing, so it stands in.
  int flags = ::fcntl(fd, F_GETFL);
  if (flags != -1 && (flags & O_ACCMODE) == O_WRONLY && mode != nullptr && mode[0] == 'r') {
    return ::fdopen(fd, "wb");
  }
  return ::fdopen(fd, mode);
}

int _close(int fd) { return ::close(fd); }

int remove(const char *name) {
  char path[kNativeNameSize];
  if (!Native(name, path)) return -1;
  return std::remove(path);
}

int rename(const char *from, const char *to) {
  char source[kNativeNameSize];
  char target[kNativeNameSize];
  if (!Native(from, source) || !Native(to, target)) return -1;
  return std::rename(source, target);
}

int _fileno(std::FILE *stream) {
  if (stream == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return ::fileno(stream);
}

int _setmode(int fd, int mode) {
  if (fd < 0 || (mode != cO_BINARY && mode != cO_TEXT)) {
    errno = fd < 0 ? EBADF : EINVAL;
    return -1;
  }
  return cO_BINARY;
}

int _chsize(int fd, long size) {
  if (size < 0) {
    errno = EINVAL;
    return -1;
  }
  return ::ftruncate(fd, static_cast<off_t>(size));
}

int _access(const char *name, int mode) {
  char path[kNativeNameSize];
  if (!Native(name, path)) return -1;
  int how = F_OK;
  if (mode & 2) how |= W_OK;
  if (mode & 4) how |= R_OK;
  return ::access(path, how);
}

int _stat(const char *name, struct _stat *out) {
  char path[kNativeNameSize];
  if (!Native(name, path)) return -1;
  struct ::stat st;
  if (::stat(path, &st) != 0) return -1;
  if (static_cast<long long>(st.st_size) > static_cast<long long>(static_cast<unsigned long>(-1) >> 1)) {
    errno = EOVERFLOW;
    return -1;
  }
  out->st_size = static_cast<long>(st.st_size);
  return 0;
}

int _utime(const char *name, struct _utimbuf *times) {
  char path[kNativeNameSize];
  if (!Native(name, path)) return -1;
  if (times == nullptr) return ::utime(path, nullptr);
  struct ::utimbuf native;
  native.actime = times->actime;
  native.modtime = times->modtime;
  return ::utime(path, &native);
}

}  // namespace kelsys

namespace kelsys {

int IsSeekableDescriptor(int fd) {
  if (fd < 0) return 1;
  int saved = errno;
  int seekable = ::lseek(fd, 0, SEEK_CUR) != -1 || errno != ESPIPE;
  errno = saved;
  return seekable ? 1 : 0;
}

}  // namespace kelsys
