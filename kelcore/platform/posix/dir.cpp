// The Win32 directory and drive calls on POSIX. See platform/dir.h and
// docs/directories.md for what is emulated and how.
#include "kelcore/platform/dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#include "kelcore/platform/find_pattern.h"
#include "kelcore/platform/posix/file_attributes.h"
#include "kelcore/platform/posix/name_resolver.h"
#include "kelcore/platform/posix/native_name.h"

namespace kelsys {
namespace {

// The name in native form, without the name checks: a listing's pattern
// holds the wildcards that a name may not. False with the last error set.
bool NativeName(LPCSTR name, char (&out)[kNativeNameSize]) {
  DWORD err = ToNativeName(name, out, sizeof out);
  if (err != ERROR_SUCCESS) {
    SetLastError(err);
    return false;
  }
  return true;
}

// Directory names are DOS-style names as file names are (name_resolver.h):
// checked, then spelled as on disk when they differ only in case. Only a
// miss pays for the resolver; a miss it can't resolve is left for the call
// itself to report. `forCreate`: the final component may not exist yet, and
// one that exists in another case is the one the call reaches.
bool DosName(LPCSTR name, char (&out)[kNativeNameSize], bool forCreate) {
  DWORD err = PrepareDosName(name, out, sizeof out);
  if (err != ERROR_SUCCESS) {
    SetLastError(err);
    return false;
  }
  struct stat st;
  if (out[0] == '\0' || ::lstat(out, &st) == 0 || (errno != ENOENT && errno != ENOTDIR)) {
    return true;
  }
  char spare[kNativeNameSize];
  DWORD found = forCreate ? ResolveNewName(out, spare, sizeof spare, nullptr)
                          : ResolveExistingName(out, spare, sizeof spare);
  if (found == ERROR_SUCCESS) std::memcpy(out, spare, std::strlen(spare) + 1);
  return true;
}

// The directory part of a listing's native pattern, spelled as on disk.
void ResolveDirectory(char *dir) {
  struct stat st;
  if (::lstat(dir, &st) == 0 || (errno != ENOENT && errno != ENOTDIR)) return;
  char spare[kNativeNameSize];
  if (ResolveExistingName(dir, spare, sizeof spare) == ERROR_SUCCESS &&
      std::strlen(spare) <= std::strlen(dir)) {
    std::memcpy(dir, spare, std::strlen(spare) + 1);
  }
}

// --- listings ---------------------------------------------------------------

// A listing: the matching names, read once when it starts, one after the
// other with their terminators, and a set of them so that a name the
// system hands out twice (a directory changing under the read) is kept
// once.
class FindHandle : public HandleObject {
 public:
  FindHandle()
      : HandleObject(kFind), dir_(nullptr), path_(nullptr), pathLen_(0), dev_(0), loaded_(false),
        names_(nullptr), used_(0), capacity_(0), pos_(0), set_(nullptr), setSize_(0), count_(0) {}
  ~FindHandle() {
    Release();
    delete[] path_;
  }
  bool Close() {
    DIR *dir = dir_;
    dir_ = nullptr;
    Release();
    if (dir != nullptr && ::closedir(dir) != 0 && errno != EINTR) {
      SetLastErrorFromErrno(errno);
      return false;
    }
    return true;
  }

  // Reads the directory, or with `first` only up to the first name that
  // counts (a listing that stops there, such as an emptiness test, reads no
  // more); false with the last error set.
  bool Load(bool first) {
    std::size_t before = count_;
    for (;;) {
      errno = 0;
      struct dirent *e = ::readdir(dir_);
      if (e == nullptr) break;
      const char *name = e->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      if (!Reachable(name) || !pattern_.Matches(name)) continue;
      if (!Add(name)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
      }
      if (first && count_ != before) return true;
    }
    if (errno != 0) {
      SetLastErrorFromErrno(errno);
      return false;
    }
    loaded_ = true;
    delete[] set_;  // only needed while reading
    set_ = nullptr;
    return true;
  }

  // Whether a DOS-style name reaches the entry: none holds a '\\', and
  // every name loses its trailing dots and blanks (a run of dots alone
  // stays), so "report." would open "report".
  static bool Reachable(const char *name) {
    if (std::strchr(name, '\\') != nullptr) return false;
    std::size_t n = std::strlen(name);
    char last = name[n - 1];
    if (last != '.' && last != ' ') return true;
    return std::strspn(name, ".") == n;
  }

  // The next name still there, filled into `data`; false with the last
  // error set (ERROR_NO_MORE_FILES at the end).
  bool Next(WIN32_FIND_DATAA *data) {
    for (;;) {
      if (pos_ == used_) {
        if (loaded_) break;
        if (!Load(false)) return false;
        continue;
      }
      const char *name = names_ + pos_;
      std::size_t len = std::strlen(name);
      pos_ += len + 1;
      struct stat st;
      if (::fstatat(::dirfd(dir_), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) continue;  // removed since the listing started
        SetLastErrorFromErrno(errno);
        return false;
      }
      Fill(name, len, st, data);
      return true;
    }
    SetLastError(ERROR_NO_MORE_FILES);
    return false;
  }

  DIR *dir_;
  char *path_;  // the directory's native path, for the attribute calls
  std::size_t pathLen_;
  dev_t dev_;  // the directory's device: an entry on another is a mount point
  FindPattern pattern_;
  bool loaded_;  // the whole directory has been read

 private:
  void Release() {
    delete[] names_;
    names_ = nullptr;
    delete[] set_;
    set_ = nullptr;
  }

  static std::uint32_t Hash(const char *s) {
    std::uint32_t h = 2166136261u;
    for (; *s != '\0'; ++s) h = (h ^ static_cast<unsigned char>(*s)) * 16777619u;
    return h;
  }

  bool Add(const char *name) {
    if ((count_ + 1) * 2 > setSize_ && !GrowSet()) return false;
    std::size_t mask = setSize_ - 1;
    std::size_t i = Hash(name) & mask;
    for (; set_[i] != 0; i = (i + 1) & mask) {
      if (std::strcmp(names_ + set_[i] - 1, name) == 0) return true;
    }
    std::size_t len = std::strlen(name) + 1;
    if (used_ + len > capacity_) {
      std::size_t want = capacity_ == 0 ? 4096 : capacity_ * 2;
      while (want < used_ + len) want *= 2;
      char *bigger = new (std::nothrow) char[want];
      if (bigger == nullptr) return false;
      if (used_ != 0) std::memcpy(bigger, names_, used_);
      delete[] names_;
      names_ = bigger;
      capacity_ = want;
    }
    std::memcpy(names_ + used_, name, len);
    set_[i] = used_ + 1;
    used_ += len;
    ++count_;
    return true;
  }

  bool GrowSet() {
    std::size_t size = setSize_ == 0 ? 256 : setSize_ * 2;
    std::size_t *bigger = new (std::nothrow) std::size_t[size]();
    if (bigger == nullptr) return false;
    for (std::size_t k = 0; k < setSize_; ++k) {
      if (set_[k] == 0) continue;
      std::size_t i = Hash(names_ + set_[k] - 1) & (size - 1);
      while (bigger[i] != 0) i = (i + 1) & (size - 1);
      bigger[i] = set_[k];
    }
    delete[] set_;
    set_ = bigger;
    setSize_ = size;
    return true;
  }

  static void Time(const struct timespec &t, FILETIME *out) {
    // 100-nanosecond steps since 1601-01-01 UTC.
    std::int64_t ticks = static_cast<std::int64_t>(t.tv_sec) * 10000000 + t.tv_nsec / 100 +
                         INT64_C(116444736000000000);
    std::uint64_t u = ticks < 0 ? 0 : static_cast<std::uint64_t>(ticks);
    out->dwLowDateTime = static_cast<DWORD>(u);
    out->dwHighDateTime = static_cast<DWORD>(u >> 32);
  }

  void Fill(const char *name, std::size_t len, const struct stat &st, WIN32_FIND_DATAA *data) {
    DWORD attrs = 0;
    std::uint64_t size = 0;
    if (S_ISLNK(st.st_mode)) {
      // Windows lists a link as a reparse point, a directory when it leads
      // to one; tree deletion relies on it to stop there.
      struct stat target;
      attrs = FILE_ATTRIBUTE_REPARSE_POINT;
      if (::fstatat(::dirfd(dir_), name, &target, 0) == 0 && S_ISDIR(target.st_mode)) {
        attrs |= FILE_ATTRIBUTE_DIRECTORY;
      }
    } else if (S_ISDIR(st.st_mode) && MountPoint(name, st)) {
      // A file system mounted here is a mounted folder on Windows: a
      // reparse point, which tree deletion never enters.
      attrs = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
    } else {
      bool directory = S_ISDIR(st.st_mode);
      char full[kNativeNameSize];
      if (pathLen_ + 1 + len < sizeof full) {
        std::memcpy(full, path_, pathLen_);
        full[pathLen_] = '/';
        std::memcpy(full + pathLen_ + 1, name, len + 1);
        attrs = ReadXattrBits(full, directory);
      } else {
        attrs = directory ? 0 : FILE_ATTRIBUTE_ARCHIVE;  // what an unmarked entry has
      }
      if (directory) {
        attrs |= FILE_ATTRIBUTE_DIRECTORY;
      } else {
        size = static_cast<std::uint64_t>(st.st_size);
      }
      // A directory's read-only lives in its extended attribute alone.
      if (!directory && (st.st_mode & 0222) == 0) attrs |= FILE_ATTRIBUTE_READONLY;
      if (attrs == 0) attrs = FILE_ATTRIBUTE_NORMAL;
    }
    data->dwFileAttributes = attrs;
    Time(st.st_ctim, &data->ftCreationTime);
    Time(st.st_atim, &data->ftLastAccessTime);
    Time(st.st_mtim, &data->ftLastWriteTime);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
    data->dwReserved0 = 0;
    data->dwReserved1 = 0;
    std::memcpy(data->cFileName, name, len + 1);  // len < 256 on every POSIX system
    data->cAlternateFileName[0] = '\0';
  }

  // A directory on another device than the listed one, or the root of a
  // mount of the same file system (a bind mount), where the system says so.
  bool MountPoint(const char *name, const struct stat &st) {
    if (st.st_dev != dev_) return true;
#if defined(__linux__) && defined(STATX_ATTR_MOUNT_ROOT)
    struct statx sx;
    if (::statx(::dirfd(dir_), name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE, &sx) ==
            0 &&
        (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
        (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0) {
      return true;
    }
#else
    (void)name;
#endif
    return false;
  }

  char *names_;
  std::size_t used_;
  std::size_t capacity_;
  std::size_t pos_;
  std::size_t *set_;  // offsets into names_ plus one; 0 is a free slot
  std::size_t setSize_;
  std::size_t count_;
};

}  // namespace

HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA *data) {
  char path[kNativeNameSize];
  if (!NativeName(pattern, path)) return INVALID_HANDLE_VALUE;
  // The last component is the pattern, the rest the directory: a DOS-style
  // name as every other call takes one (trailing dots and blanks dropped),
  // so that "t.\*" lists the directory that "t." creates and opens.
  const char *mask = pattern;
  for (const char *p = pattern; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/' || (p == pattern + 1 && *p == ':')) mask = p + 1;
  }
  std::size_t dirTextLen = static_cast<std::size_t>(mask - pattern);
  char maskText[kNativeNameSize];
  std::memcpy(maskText, mask, std::strlen(mask) + 1);  // shorter than path
  mask = maskText;
  const char *dirPath = ".";
  if (dirTextLen != 0) {
    char dirText[kNativeNameSize];
    std::memcpy(dirText, pattern, dirTextLen);
    // A separator that ends the directory part goes, unless it is a root's.
    bool root = dirTextLen == 1 || (dirTextLen == 3 && pattern[1] == ':');
    if (!root && pattern[dirTextLen - 1] != ':') --dirTextLen;
    dirText[dirTextLen] = '\0';
    DWORD err = PrepareDosName(dirText, path, sizeof path);
    if (err != ERROR_SUCCESS) {
      SetLastError(err);
      return INVALID_HANDLE_VALUE;
    }
    if (path[0] != '\0') {
      ResolveDirectory(path);
      dirPath = path;
    }
  }
  FindPattern match;
  if (*mask == '\0' || !match.Set(mask)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }

  FindHandle *find = new (std::nothrow) FindHandle;
  std::size_t dirLen = std::strlen(dirPath);
  char *copy = new (std::nothrow) char[dirLen + 1];
  if (find == nullptr || copy == nullptr) {
    delete find;
    delete[] copy;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  std::memcpy(copy, dirPath, dirLen + 1);
  find->path_ = copy;
  find->pathLen_ = dirLen;
  int fd;
  do {
    fd = ::open(dirPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 || (find->dir_ = ::fdopendir(fd)) == nullptr) {
    int err = errno;
    if (fd >= 0) ::close(fd);
    delete find;
    // A directory that is missing or is no directory is a path not found.
    SetLastError(err == ENOENT || err == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrnoToWin32(err));
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = ToHandle(find);
  struct stat dirStat;
  find->dev_ = ::fstat(::dirfd(find->dir_), &dirStat) == 0 ? dirStat.st_dev : 0;
  find->pattern_ = match;
  if (!find->Load(true) || !find->Next(data)) {
    DWORD err = GetLastError();
    CloseHandle(h);
    SetLastError(err == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : err);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA *data) {
  FindHandle *f = static_cast<FindHandle *>(HandleCast(find, HandleObject::kFind));
  if (f == nullptr) return FALSE;
  return f->Next(data) ? TRUE : FALSE;
}

BOOL FindClose(HANDLE find) {
  if (HandleCast(find, HandleObject::kFind) == nullptr) return FALSE;
  return CloseHandle(find);
}

// --- directories ------------------------------------------------------------

BOOL CreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES security) {
  (void)security;
  char path[kNativeNameSize];
  if (!DosName(name, path, true)) return FALSE;
  if (path[0] == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (::mkdir(path, 0777) == 0) return TRUE;
  int err = errno;
  SetLastError(err == EEXIST ? ERROR_ALREADY_EXISTS
               : (err == ENOENT || err == ENOTDIR) ? ERROR_PATH_NOT_FOUND
                                                   : ErrnoToWin32(err));
  return FALSE;
}

BOOL RemoveDirectoryA(LPCSTR name) {
  char path[kNativeNameSize];
  if (!DosName(name, path, false)) return FALSE;
  struct stat st;
  if (::lstat(path, &st) != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  if (S_ISLNK(st.st_mode)) {
    // The link goes, never what it leads to.
    struct stat target;
    if (::stat(path, &target) != 0 || !S_ISDIR(target.st_mode)) {
      SetLastError(ERROR_DIRECTORY);
      return FALSE;
    }
    if (::unlink(path) == 0) return TRUE;
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  if (!S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_DIRECTORY);
    return FALSE;
  }
  if ((ReadXattrBits(path, true) & FILE_ATTRIBUTE_READONLY) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (::rmdir(path) == 0) return TRUE;
  int err = errno;
  SetLastError(err == ENOTEMPTY || err == EEXIST ? ERROR_DIR_NOT_EMPTY
               : err == EBUSY                    ? ERROR_SHARING_VIOLATION
                                                 : ErrnoToWin32(err));
  return FALSE;
}

// The current directory's former path once it has been removed (Windows
// never lets a process's current directory go): what the system still
// knows of it, without its " (deleted)" mark. False where it knows nothing.
bool RemovedCurrentDirectory(char (&cwd)[kNativeNameSize]) {
#if defined(__linux__)
  ssize_t n = ::readlink("/proc/self/cwd", cwd, sizeof cwd - 1);
  if (n <= 0 || cwd[0] != '/') return false;
  cwd[n] = '\0';
  static const char kMark[] = " (deleted)";
  std::size_t len = static_cast<std::size_t>(n), mark = sizeof kMark - 1;
  if (len > mark && std::strcmp(cwd + len - mark, kMark) == 0) cwd[len - mark] = '\0';
  return true;
#else
  (void)cwd;
  return false;
#endif
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  char cwd[kNativeNameSize];
  if (::getcwd(cwd, sizeof cwd) == nullptr) {
    int err = errno;
    if (err != ENOENT || !RemovedCurrentDirectory(cwd)) {
      SetLastError(err == ERANGE ? ERROR_FILENAME_EXCED_RANGE : ErrnoToWin32(err));
      return 0;
    }
  }
  DWORD len = static_cast<DWORD>(std::strlen(cwd));
  if (buffer == nullptr || size <= len) return len + 1;
  std::memcpy(buffer, cwd, len + 1);
  return len;
}

BOOL SetCurrentDirectoryA(LPCSTR name) {
  char path[kNativeNameSize];
  if (!DosName(name, path, false)) return FALSE;
  if (path[0] == '\0') {
    SetLastError(ERROR_INVALID_NAME);
    return FALSE;
  }
  if (::chdir(path) == 0) return TRUE;
  // "C:" alone selects the drive and keeps its current directory, even one
  // that has been removed since: the drive is still there.
  if (errno == ENOENT && std::strcmp(path, ".") == 0) return TRUE;
  SetLastError(errno == ENOTDIR ? ERROR_DIRECTORY : ErrnoToWin32(errno));
  return FALSE;
}

// --- drives -----------------------------------------------------------------

UINT GetDriveTypeA(LPCSTR root) {
  if (root == nullptr || root[0] == '/' || root[0] == '\\') return DRIVE_FIXED;
  char c = root[0];
  bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  if (!letter || root[1] != ':') return DRIVE_NO_ROOT_DIR;
  return (c == 'c' || c == 'C') ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR;
}

BOOL GetDiskFreeSpaceA(LPCSTR root, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                       LPDWORD freeClusters, LPDWORD totalClusters) {
  char path[kNativeNameSize] = ".";
  if (root != nullptr && !NativeName(root, path)) return FALSE;
  struct statvfs fs;
  if (::statvfs(path, &fs) != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  std::uint64_t unit = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
  std::uint64_t sector = unit % 512 == 0 ? 512 : unit;
  std::uint64_t perCluster = unit / sector;
  std::uint64_t total = fs.f_blocks;
  std::uint64_t avail = fs.f_bavail;
  // Counts are 32 bits wide: on a very large file system the clusters grow
  // instead, as Windows reports its large volumes, so that the products
  // stay right.
  while (total > 0xFFFFFFFFull && perCluster <= 0x7FFFFFFFull) {
    perCluster *= 2;
    total /= 2;
    avail /= 2;
  }
  if (sectorsPerCluster != nullptr) *sectorsPerCluster = static_cast<DWORD>(perCluster);
  if (bytesPerSector != nullptr) *bytesPerSector = static_cast<DWORD>(sector);
  if (freeClusters != nullptr) *freeClusters = static_cast<DWORD>(avail);
  if (totalClusters != nullptr) *totalClusters = static_cast<DWORD>(total);
  return TRUE;
}

}  // namespace kelsys
