// The Win32 file calls on POSIX file descriptors: opening with share modes,
// reading and writing, position and size, deleting and renaming. Region
// locks live in file_locks.cpp, attributes and times in file_attributes.cpp,
// what they share in file_handle.h. See platform/file.h and docs/files.md
// for what is emulated and what is not.
#include "kelcore/platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "kelcore/platform/posix/file_attributes.h"
#include "kelcore/platform/posix/file_handle.h"
#include "kelcore/platform/posix/name_resolver.h"
#include "kelcore/platform/posix/native_name.h"

#if defined(O_DSYNC)
#  define KELSYS_O_WRITETHROUGH O_DSYNC
#else
#  define KELSYS_O_WRITETHROUGH O_SYNC
#endif

namespace kelsys {

using namespace posixfile;

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The Win32 sharing rule between two openings of one file: each one's
// access must be allowed by the other's share mode. An opening without
// read, write or delete access conflicts with nothing.
bool SharingConflict(DWORD accessA, DWORD shareA, DWORD accessB, DWORD shareB) {
  if ((accessA & GENERIC_READ) && !(shareB & FILE_SHARE_READ)) return true;
  if ((accessA & GENERIC_WRITE) && !(shareB & FILE_SHARE_WRITE)) return true;
  if ((accessA & DELETE) && !(shareB & FILE_SHARE_DELETE)) return true;
  if ((accessB & GENERIC_READ) && !(shareA & FILE_SHARE_READ)) return true;
  if ((accessB & GENERIC_WRITE) && !(shareA & FILE_SHARE_WRITE)) return true;
  if ((accessB & DELETE) && !(shareA & FILE_SHARE_DELETE)) return true;
  return false;
}

// Under the table's mutex: does an opening with `access`/`share` of the
// file dev/ino conflict with an open handle (other than `self`)?
bool ConflictsWithOpenHandles(OpenFileTable &table, dev_t dev, ino_t ino, DWORD access,
                              DWORD share, const FileHandle *self) {
  for (FileHandle *f = table.Bucket(dev, ino); f != nullptr; f = f->next_) {
    if (f == self || f->dev_ != dev || f->ino_ != ino) continue;
    if (SharingConflict(access, share, f->access_, f->share_)) return true;
  }
  return false;
}

// The file behind `h` for a call that needs `access` to it; null with the
// last error set otherwise. Overlapped operation is not emulated.
FileHandle *FileForAccess(HANDLE h, DWORD access, LPOVERLAPPED overlapped) {
  FileHandle *f = FileCast(h);
  if (f == nullptr) return nullptr;
  if (overlapped != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!(f->access_ & access)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return f;
}

// CallSucceeded for a call that a signal may interrupt before it does
// anything: such a call is made again.
template <class Call>
bool RetriedCallSucceeded(Call call) {
  int rc;
  do {
    rc = call();
  } while (rc != 0 && errno == EINTR);
  return CallSucceeded(rc);
}

// The low part of a 64-bit result of a call whose failure value is
// 0xFFFFFFFF. A low part that looks like the failure value is told apart
// by the last error, as the Win32 documentation asks callers to do.
DWORD LowPartResult(std::uint64_t value) {
  DWORD low = static_cast<DWORD>(value);
  if (low == 0xFFFFFFFFu) SetLastError(NO_ERROR);
  return low;
}

// Whether `path` is a symbolic link whose target is missing.
// errno is left as it was.
bool DanglingLink(const char *path) {
  int saved = errno;
  struct stat st;
  bool dangling = ::lstat(path, &st) == 0 && S_ISLNK(st.st_mode) && ::stat(path, &st) != 0 &&
                  errno == ENOENT;
  errno = saved;
  return dangling;
}

}  // namespace

// --- CreateFileA -------------------------------------------------------------

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile) {
  (void)templateFile;
  char path[kNativeNameSize];
  if (!NativeName(name, path)) return INVALID_HANDLE_VALUE;
  if (path[0] == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }

  int oflags = O_NOCTTY;
  if ((access & GENERIC_READ) && (access & GENERIC_WRITE)) {
    oflags |= O_RDWR;
  } else if (access & GENERIC_WRITE) {
    oflags |= O_WRONLY;
  } else {
    oflags |= O_RDONLY;
  }
  // Inheritance is a property of the handle: a descriptor survives exec
  // exactly when the caller asked for an inheritable handle.
  if (security == nullptr || !security->bInheritHandle) oflags |= O_CLOEXEC;
  if (flagsAndAttributes & FILE_FLAG_WRITE_THROUGH) oflags |= KELSYS_O_WRITETHROUGH;

  bool mayCreate = false;
  bool truncate = false;
  switch (disposition) {
    case CREATE_NEW: mayCreate = true; break;
    case CREATE_ALWAYS: mayCreate = true; truncate = true; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: mayCreate = true; break;
    case TRUNCATE_EXISTING:
      if (!(access & GENERIC_WRITE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
      }
      truncate = true;
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  mode_t createMode = (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;

  // A name that may be created must not make a second file beside one
  // that differs only in case: the directory is asked first. Opening an
  // existing file tries the name as spelled and asks only after a miss.
  char spare[kNativeNameSize];
  const char *use = path;
  if (mayCreate) {
    DWORD err = ResolveNewName(path, spare, sizeof spare, nullptr);
    if (err != ERROR_SUCCESS) {
      SetLastError(err);
      return INVALID_HANDLE_VALUE;
    }
    use = spare;
  }

  // Creation first with O_EXCL, so that we know whether the file is new:
  // attributes apply to a new file only, and an existing one is reported
  // with ERROR_ALREADY_EXISTS as Windows does.
  int fd = -1;
  bool created = false;
  for (int attempt = 0; fd < 0; ++attempt) {
    if (mayCreate) {
      do {
        fd = ::open(use, oflags | O_CREAT | O_EXCL, createMode);
      } while (fd < 0 && errno == EINTR);
      if (fd >= 0) {
        created = true;
        break;
      }
      if (errno != EEXIST || disposition == CREATE_NEW || attempt >= 8) {
        // The directory went away after it was found.
        SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrnoToWin32(errno));
        return INVALID_HANDLE_VALUE;
      }
    }
    do {
      fd = ::open(use, oflags, 0);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      // A symbolic link that leads nowhere is an entry that exists and
      // cannot be opened (Windows has no such links): said at once, rather
      // than taken for a file removed between the two opens.
      if (errno == ENOENT && DanglingLink(use)) {
        SetLastError(ERROR_CANT_ACCESS_FILE);
        return INVALID_HANDLE_VALUE;
      }
      // Removed between the two opens: try to create it again.
      if (mayCreate && errno == ENOENT) continue;
      if (!mayCreate && use == path && (errno == ENOENT || errno == ENOTDIR)) {
        DWORD err = ResolveExistingName(path, spare, sizeof spare);
        if (err != ERROR_SUCCESS) {
          SetLastError(err);
          return INVALID_HANDLE_VALUE;
        }
        use = spare;
        if (std::strcmp(use, path) != 0) continue;
        errno = ENOENT;
      }
      SetLastErrorFromErrno(errno);
      return INVALID_HANDLE_VALUE;
    }
  }

  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    SetLastErrorFromErrno(err);
    return INVALID_HANDLE_VALUE;
  }
  // Windows opens directories only with backup semantics, and refuses
  // to write to, or truncate, a read-only file, whoever asks: the
  // permission bits alone would let the superuser through.
  if (S_ISDIR(st.st_mode) ||
      (!created && S_ISREG(st.st_mode) && HasNoWriteBit(st.st_mode) &&
       ((access & GENERIC_WRITE) || truncate))) {
    ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }

  FileHandle *f = new (std::nothrow) FileHandle(fd, access, share & kShareAll);
  if (f == nullptr) {
    ::close(fd);
    if (created) ::unlink(use);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  f->dev_ = st.st_dev;
  f->ino_ = st.st_ino;
  {
    OpenFileTable &table = OpenFileTable::Get();
    std::lock_guard<std::mutex> hold(table.mutex());
    if (ConflictsWithOpenHandles(table, f->dev_, f->ino_, f->access_, f->share_, nullptr)) {
      ::close(fd);
      f->fd_ = -1;
      delete f;
      SetLastError(ERROR_SHARING_VIOLATION);
      return INVALID_HANDLE_VALUE;
    }
    table.Add(f);
  }

  // Truncation only after the sharing check, so that a refused opening
  // leaves the file as it was.
  if (truncate && !created && st.st_size != 0) {
    int rc;
    if (access & GENERIC_WRITE) {
      rc = ::ftruncate(fd, 0);
    } else {
      // CREATE_ALWAYS with read access only still empties the file.
      rc = ::truncate(use, 0);
    }
    if (rc != 0) {
      int err = errno;
      CloseHandle(ToHandle(f));
      SetLastErrorFromErrno(err);
      return INVALID_HANDLE_VALUE;
    }
  }
  if (created) {
    DWORD bits = (flagsAndAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) |
                 FILE_ATTRIBUTE_ARCHIVE;
    if (bits != DefaultXattrBits(false)) WriteXattrBits(use, fd, bits, false);
  }
  SetLastError((!created && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS))
                   ? ERROR_ALREADY_EXISTS
                   : ERROR_SUCCESS);
  return ToHandle(f);
}

// --- reading and writing -----------------------------------------------------

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD done, LPOVERLAPPED overlapped) {
  if (done != nullptr) *done = 0;
  FileHandle *f = FileForAccess(file, GENERIC_READ, overlapped);
  if (f == nullptr) return FALSE;
  if (bytes != 0 && lockingHandles.load(std::memory_order_relaxed) != 0 &&
      !TransferAllowed(f, bytes, false)) {
    return FALSE;
  }
  // A disk file gives what is there up to the end; loop over the short
  // counts that signals and very large requests cause.
  char *p = static_cast<char *>(buffer);
  DWORD got = 0;
  while (got < bytes) {
    ssize_t n = ::read(f->fd_, p + got, bytes - got);
    if (n > 0) {
      got += static_cast<DWORD>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      int err = errno;
      if (done != nullptr) *done = got;
      SetLastErrorFromErrno(err);
      return FALSE;
    }
  }
  if (done != nullptr) *done = got;
  return TRUE;
}

BOOL WriteFile(HANDLE file, const void *buffer, DWORD bytes, LPDWORD done,
               LPOVERLAPPED overlapped) {
  if (done != nullptr) *done = 0;
  FileHandle *f = FileForAccess(file, GENERIC_WRITE, overlapped);
  if (f == nullptr) return FALSE;
  if (bytes != 0 && lockingHandles.load(std::memory_order_relaxed) != 0 &&
      !TransferAllowed(f, bytes, true)) {
    return FALSE;
  }
  const char *p = static_cast<const char *>(buffer);
  DWORD put = 0;
  while (put < bytes) {
    ssize_t n = ::write(f->fd_, p + put, bytes - put);
    if (n > 0) {
      put += static_cast<DWORD>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      int err = n < 0 ? errno : ENOSPC;
      if (done != nullptr) *done = put;
      // A full device after part of the data: the short count tells the
      // caller, as it does on Windows.
      if (put > 0 && (err == ENOSPC || err == EFBIG
#if defined(EDQUOT)
                      || err == EDQUOT
#endif
                      )) {
        return TRUE;
      }
      SetLastErrorFromErrno(err);
      return FALSE;
    }
  }
  if (done != nullptr) *done = put;
  return TRUE;
}

// --- position and size -------------------------------------------------------

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  FileHandle *f = FileCast(file);
  if (f == nullptr) return INVALID_SET_FILE_POINTER;
  std::int64_t move = distance;
  if (distanceHigh != nullptr) {
    move = static_cast<std::int64_t>(
        Make64(static_cast<DWORD>(distance), static_cast<DWORD>(*distanceHigh)));
  }
  int whence;
  switch (method) {
    case FILE_BEGIN: whence = SEEK_SET; break;
    case FILE_CURRENT: whence = SEEK_CUR; break;
    case FILE_END: whence = SEEK_END; break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_SET_FILE_POINTER;
  }
  off_t pos;
  if (distanceHigh == nullptr) {
    // Without a high part the new position must fit in 32 bits; one that
    // does not is refused before anything moves.
    std::int64_t base = 0;
    if (whence == SEEK_CUR) {
      base = ::lseek(f->fd_, 0, SEEK_CUR);
    } else if (whence == SEEK_END) {
      struct stat st;
      base = ::fstat(f->fd_, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
    }
    if (base < 0) {
      SetLastErrorFromErrno(errno);
      return INVALID_SET_FILE_POINTER;
    }
    std::int64_t target = base + move;
    if (target < 0) {
      SetLastError(ERROR_NEGATIVE_SEEK);
      return INVALID_SET_FILE_POINTER;
    }
    if (target > static_cast<std::int64_t>(0xFFFFFFFFu)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_SET_FILE_POINTER;
    }
    pos = ::lseek(f->fd_, static_cast<off_t>(target), SEEK_SET);
  } else {
    pos = ::lseek(f->fd_, static_cast<off_t>(move), whence);
  }
  if (pos < 0) {
    SetLastError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : ErrnoToWin32(errno));
    return INVALID_SET_FILE_POINTER;
  }
  std::uint64_t upos = static_cast<std::uint64_t>(pos);
  if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(static_cast<DWORD>(upos >> 32));
  return LowPartResult(upos);
}

BOOL SetEndOfFile(HANDLE file) {
  FileHandle *f = FileForAccess(file, GENERIC_WRITE, nullptr);
  if (f == nullptr) return FALSE;
  off_t pos = ::lseek(f->fd_, 0, SEEK_CUR);
  if (pos < 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return RetriedCallSucceeded([f, pos] { return ::ftruncate(f->fd_, pos); });
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  FileHandle *f = FileCast(file);
  if (f == nullptr) return INVALID_FILE_SIZE;
  struct stat st;
  if (!CallSucceeded(::fstat(f->fd_, &st))) return INVALID_FILE_SIZE;
  std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
  return LowPartResult(size);
}

BOOL FlushFileBuffers(HANDLE file) {
  FileHandle *f = FileForAccess(file, GENERIC_WRITE, nullptr);
  if (f == nullptr) return FALSE;
  return RetriedCallSucceeded([f] { return ::fsync(f->fd_); });
}

namespace {
// Refuses to delete or rename a file that an open handle of this process
// does not share for deletion; false with the last error set.
bool MayRemove(const struct stat &st) {
  OpenFileTable &table = OpenFileTable::Get();
  std::lock_guard<std::mutex> hold(table.mutex());
  if (ConflictsWithOpenHandles(table, st.st_dev, st.st_ino, DELETE, kShareAll, nullptr)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return false;
  }
  return true;
}

// The final component of a native path.
const char *LastComponent(const char *path) {
  const char *slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}
}  // namespace

BOOL DeleteFileA(LPCSTR name) {
  char path[kNativeNameSize];
  char spare[kNativeNameSize];
  const char *used;
  struct stat st;
  if (!OnExistingName(name, path, spare, &used,
                      [&st](const char *p) { return ::lstat(p, &st); })) {
    return FALSE;
  }
  // Windows deletes neither directories nor read-only files.
  if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && HasNoWriteBit(st.st_mode))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!MayRemove(st)) return FALSE;
  return CallSucceeded(::unlink(used));
}

BOOL MoveFileA(LPCSTR existing, LPCSTR newName) {
  char path[kNativeNameSize];
  char spare[kNativeNameSize];
  char to[kNativeNameSize];
  char target[kNativeNameSize];
  const char *from;
  struct stat st;
  if (!OnExistingName(existing, path, spare, &from,
                      [&st](const char *p) { return ::lstat(p, &st); }) ||
      !NativeName(newName, to)) {
    return FALSE;
  }
  if (to[0] == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  int exists = 0;
  DWORD err = ResolveNewName(to, target, sizeof target, &exists);
  if (err != ERROR_SUCCESS) {
    SetLastError(err);
    return FALSE;
  }
  if (exists) {
    // Only the file itself may already answer to the new name: a rename
    // that changes nothing but case.
    struct stat there;
    const char *spelled = LastComponent(to);
    char *last = const_cast<char *>(LastComponent(target));
    std::size_t room = sizeof target - static_cast<std::size_t>(last - target);
    if (::lstat(target, &there) != 0 || there.st_dev != st.st_dev ||
        there.st_ino != st.st_ino || std::strlen(spelled) + 1 > room) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return FALSE;
    }
    std::memcpy(last, spelled, std::strlen(spelled) + 1);
  }
  if (!MayRemove(st)) return FALSE;
  // MoveFile never replaces an existing target.
  int rc = -1;
  bool done = false;
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  rc = ::renameat2(AT_FDCWD, from, AT_FDCWD, target, RENAME_NOREPLACE);
  done = rc == 0 || (errno != EINVAL && errno != ENOSYS);
#endif
  if (!done) {
    // No atomic form on this file system: check, then rename.
    struct stat existingTarget;
    if (::lstat(target, &existingTarget) == 0) {
      errno = EEXIST;
      rc = -1;
    } else {
      rc = ::rename(from, target);
    }
  }
  if (rc != 0) {
    if (errno == EEXIST || errno == ENOTEMPTY) {
      SetLastError(ERROR_ALREADY_EXISTS);
    } else {
      SetLastErrorFromErrno(errno);
    }
    return FALSE;
  }
  return TRUE;
}

// --- helpers for every system ----------------------------------------------

BOOL CloseFileHandle(HANDLE file, int *released) {
  *released = FileCast(file) != nullptr ? 1 : 0;
  return CloseHandle(file);
}

int FileHandleNumber(HANDLE file) {
  if (file == nullptr || file == INVALID_HANDLE_VALUE) return -1;
  HandleObject *obj = static_cast<HandleObject *>(file);
  if (obj->kind() != HandleObject::kFile) return -1;
  return static_cast<FileHandle *>(obj)->fd_;
}

}  // namespace kelsys
