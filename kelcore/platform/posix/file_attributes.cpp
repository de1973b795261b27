// Attributes, status and times of files on POSIX: the hidden, system and
// archive bits kept in an extended attribute (file_attributes.h), the
// Win32 attribute calls, and the C runtime's status and time calls.
#include "kelcore/platform/posix/file_attributes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#if defined(__linux__)
#  include <sys/xattr.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "kelcore/platform/dir.h"
#include "kelcore/platform/posix/file_handle.h"

namespace kelsys {

using namespace posixfile;

namespace {

// The same for the C runtime's calls: -1 with errno set. Names are checked
// as for the Win32 calls, since both reach the same files.
template <class Call>
int CrtOnExistingName(LPCSTR name, Call call) {
  char path[kNativeNameSize];
  char spare[kNativeNameSize];
  const char *used = nullptr;
  int callErrno = 0;
  DWORD err = PrepareDosName(name, path, sizeof path);
  if (err == ERROR_SUCCESS) err = CallOnExistingName(path, spare, &used, &callErrno, call);
  if (err == ERROR_SUCCESS) return 0;
  errno = callErrno != 0 ? callErrno : NativeNameErrno(err);
  return -1;
}

// --- hidden, system and archive ---------------------------------------------

const char kAttribXattr[] = "user.kelcore.attrib";
const DWORD kXattrBits = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// A directory keeps its read-only bit there too: on Windows it stops
// nothing, so taking the write bits away would be wrong.
DWORD XattrBitsFor(bool directory) {
  return directory ? kXattrBits | FILE_ATTRIBUTE_READONLY : kXattrBits;
}

}  // namespace

// What a file without the extended attribute has: regular files carry the
// archive flag from birth, as new files on Windows do; directories nothing.
DWORD DefaultXattrBits(bool directory) { return directory ? 0 : FILE_ATTRIBUTE_ARCHIVE; }

namespace {

DWORD ParseXattrBits(const char *text, ssize_t n, bool directory) {
  if (n <= 0 || n >= 16) return DefaultXattrBits(directory);
  char buf[16];
  std::memcpy(buf, text, static_cast<std::size_t>(n));
  buf[n] = '\0';
  char *end = nullptr;
  unsigned long v = std::strtoul(buf, &end, 16);
  if (end == buf) return DefaultXattrBits(directory);
  return static_cast<DWORD>(v) & XattrBitsFor(directory);
}

void FormatXattrBits(DWORD bits, char (&out)[16]) {
  std::snprintf(out, sizeof out, "0x%02x", static_cast<unsigned>(bits));
}

// File systems without user extended attributes (tmpfs before Linux 6.6,
// many network and FAT mounts) and non-regular files that may not carry
// them: the bits are simply not kept there.
bool XattrUnsupported(int err) {
  return err == ENOTSUP || err == EOPNOTSUPP || err == EPERM || err == ENOSYS;
}

}  // namespace

DWORD ReadXattrBits(const char *path, bool directory) {
#if defined(__linux__)
  char buf[16];
  ssize_t n = ::getxattr(path, kAttribXattr, buf, sizeof buf);
  if (n < 0) return DefaultXattrBits(directory);
  return ParseXattrBits(buf, n, directory);
#else
  (void)path;
  return DefaultXattrBits(directory);
#endif
}

// 0, or an errno value for a failure worth reporting.
int WriteXattrBits(const char *path, int fd, DWORD bits, bool directory) {
#if defined(__linux__)
  bits &= XattrBitsFor(directory);
  int rc;
  if (bits == DefaultXattrBits(directory)) {
    rc = fd >= 0 ? ::fremovexattr(fd, kAttribXattr) : ::removexattr(path, kAttribXattr);
    if (rc != 0 && errno == ENODATA) rc = 0;
  } else {
    char text[16];
    FormatXattrBits(bits, text);
    std::size_t len = std::strlen(text);
    rc = fd >= 0 ? ::fsetxattr(fd, kAttribXattr, text, len, 0)
                 : ::setxattr(path, kAttribXattr, text, len, 0);
  }
  if (rc != 0 && !XattrUnsupported(errno)) return errno;
  return 0;
#else
  (void)path;
  (void)fd;
  (void)bits;
  (void)directory;
  return 0;
#endif
}

// --- path-based calls --------------------------------------------------------

DWORD GetFileAttributesA(LPCSTR name) {
  char path[kNativeNameSize];
  char spare[kNativeNameSize];
  const char *used;
  struct stat st;
  bool dangling = false;
  // A link that leads nowhere is listed, and so exists: a reparse point.
  auto statOrLink = [&st, &dangling](const char *p) {
    if (::stat(p, &st) == 0) return 0;
    int err = errno;
    if (err == ENOENT && ::lstat(p, &st) == 0 && S_ISLNK(st.st_mode)) {
      dangling = true;
      return 0;
    }
    errno = err;
    return -1;
  };
  if (!OnExistingName(name, path, spare, &used, statOrLink)) return INVALID_FILE_ATTRIBUTES;
  if (dangling) return FILE_ATTRIBUTE_REPARSE_POINT;
  bool directory = S_ISDIR(st.st_mode);
  DWORD attrs = ReadXattrBits(used, directory);
  if (directory) attrs |= FILE_ATTRIBUTE_DIRECTORY;
  if (!directory && HasNoWriteBit(st.st_mode)) attrs |= FILE_ATTRIBUTE_READONLY;
  return attrs == 0 ? FILE_ATTRIBUTE_NORMAL : attrs;
}

BOOL SetFileAttributesA(LPCSTR name, DWORD attributes) {
  char path[kNativeNameSize];
  char spare[kNativeNameSize];
  const char *used;
  struct stat st;
  if (!OnExistingName(name, path, spare, &used,
                      [&st](const char *p) { return ::stat(p, &st); })) {
    return FALSE;
  }
  bool directory = S_ISDIR(st.st_mode);
  // A file's read-only takes every write bit away; clearing it gives the
  // owner write access back (nobody else's: widening access is the
  // caller's decision, not the attribute's). A directory's read-only
  // stops nothing on Windows, so it is only remembered, with the others.
  mode_t mode = st.st_mode & 07777;
  mode_t want = mode;
  if (!directory) {
    want = (attributes & FILE_ATTRIBUTE_READONLY)
               ? static_cast<mode_t>(mode & ~static_cast<mode_t>(0222))
               : (HasNoWriteBit(mode) ? static_cast<mode_t>(mode | 0200) : mode);
  }
  if (want != mode && !CallSucceeded(::chmod(used, want))) return FALSE;
  int err = WriteXattrBits(used, -1, attributes, directory);
  if (err != 0) {
    SetLastErrorFromErrno(err);
    return FALSE;
  }
  return TRUE;
}

int StatFile(LPCSTR name, FileStatus *out) {
  struct stat st;
  if (CrtOnExistingName(name, [&st](const char *p) { return ::stat(p, &st); }) != 0) return -1;
  out->size = static_cast<std::int64_t>(st.st_size);
  out->mtime = static_cast<std::int64_t>(st.st_mtime);
  out->isDirectory = S_ISDIR(st.st_mode) ? 1 : 0;
  return 0;
}

int UtimeFile(LPCSTR name, std::int64_t time) {
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(time);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return CrtOnExistingName(name,
                           [&times](const char *p) { return ::utimensat(AT_FDCWD, p, times, 0); });
}

int CopyFileMode(LPCSTR model, LPCSTR target) {
  struct stat st;
  if (CrtOnExistingName(model, [&st](const char *p) { return ::stat(p, &st); }) != 0) return -1;
  const mode_t mode = st.st_mode & 07777;
  return CrtOnExistingName(target, [mode](const char *p) { return ::chmod(p, mode); });
}

int LocalFileTime(std::int64_t time, std::tm *out) {
  time_t t = static_cast<time_t>(time);
  return ::localtime_r(&t, out) != nullptr ? 1 : 0;
}

std::int64_t MakeFileTime(std::tm *local) {
  return static_cast<std::int64_t>(std::mktime(local));
}

}  // namespace kelsys
