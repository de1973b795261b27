// The Win32 file calls on POSIX file descriptors. See platform/file.h and
// docs/files.md for what is emulated and what is not.
#include "kelcore/platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#if defined(__linux__)
#  include <sys/xattr.h>
#endif

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "kelcore/platform/dir.h"
#include "kelcore/platform/posix/file_attributes.h"
#include "kelcore/platform/posix/name_resolver.h"
#include "kelcore/platform/posix/native_name.h"
#include "kelcore/platform/thread_exit.h"

// Open-file-description locks belong to the open file, as Win32 region
// locks belong to the handle. Where the system lacks them, classic record
// locks are the closest thing (they do not exclude other handles of the
// same process).
#if defined(F_OFD_SETLK)
#  define KELSYS_SETLK F_OFD_SETLK
#  define KELSYS_SETLKW F_OFD_SETLKW
#else
#  define KELSYS_SETLK F_SETLK
#  define KELSYS_SETLKW F_SETLKW
#endif

#if defined(O_DSYNC)
#  define KELSYS_O_WRITETHROUGH O_DSYNC
#else
#  define KELSYS_O_WRITETHROUGH O_SYNC
#endif

namespace kelsys {
namespace {

const std::uint64_t kMaxOffset = static_cast<std::uint64_t>(INT64_MAX);

// One range locked through a handle, kept so that the handle's own locks
// behave as on Windows: no lock over one's own exclusive range, and an
// unlock must name the exact range of an earlier lock.
struct LockRange {
  LockRange *next;
  std::uint64_t offset;  // as given to LockFileEx
  std::uint64_t length;  // as given to LockFileEx
  std::uint64_t last;    // offset + length - 1, saturated
  bool exclusive;
};

bool Overlaps(const LockRange *r, std::uint64_t first, std::uint64_t last) {
  return r->length != 0 && r->offset <= last && first <= r->last;
}

class FileHandle : public HandleObject {
 public:
  FileHandle(int fd, DWORD access, DWORD share)
      : HandleObject(kFile), fd_(fd), lockFd_(-1), access_(access), share_(share), dev_(0),
        ino_(0), prev_(nullptr), next_(nullptr), registered_(false), locks_(nullptr) {}
  ~FileHandle();
  bool Close();
  int LockFd();

  int fd_;
  // The descriptor that carries the handle's kernel locks; -1 until the
  // first lock decides (see LockFd).
  int lockFd_;
  DWORD access_;
  DWORD share_;
  dev_t dev_;
  ino_t ino_;
  // Chain of the open-file table's bucket (share-mode checks).
  FileHandle *prev_;
  FileHandle *next_;
  bool registered_;
  // Changed by the handle's own thread under the open-file table's mutex;
  // read by other handles' transfers under that mutex.
  LockRange *locks_;
};

// Handles of this process that hold region locks. While there are none,
// a transfer has nothing to check: one relaxed load on the fast path.
std::atomic<int> lockingHandles(0);

// Every open file of the process, by device and inode, so that opens,
// deletes and renames can honour the share modes of the other handles.
// The handles themselves are the entries: registering allocates nothing.
class OpenFileTable {
 public:
  static OpenFileTable &Get() {
    static OpenFileTable table;
    return table;
  }
  std::mutex &mutex() { return mutex_; }
  FileHandle *&Bucket(dev_t dev, ino_t ino) {
    std::uint64_t h = static_cast<std::uint64_t>(ino) * 0x9E3779B97F4A7C15ull ^
                      static_cast<std::uint64_t>(dev);
    return buckets_[(h >> 32) % kBuckets];
  }
  void Add(FileHandle *f) {  // under mutex()
    FileHandle *&head = Bucket(f->dev_, f->ino_);
    f->prev_ = nullptr;
    f->next_ = head;
    if (head != nullptr) head->prev_ = f;
    head = f;
    f->registered_ = true;
  }
  void Remove(FileHandle *f) {  // under mutex()
    if (!f->registered_) return;
    if (f->prev_ != nullptr) {
      f->prev_->next_ = f->next_;
    } else {
      Bucket(f->dev_, f->ino_) = f->next_;
    }
    if (f->next_ != nullptr) f->next_->prev_ = f->prev_;
    f->prev_ = f->next_ = nullptr;
    f->registered_ = false;
  }

 private:
  // Held across fork(), so that the child never inherits it locked.
  OpenFileTable() : buckets_() {
    HoldAcrossFork(
        kForkOpenFiles, [] { Get().mutex_.lock(); }, [] { Get().mutex_.unlock(); },
        [] { Get().mutex_.unlock(); });
  }
  static const unsigned kBuckets = 64;
  std::mutex mutex_;
  FileHandle *buckets_[kBuckets];
};

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

FileHandle::~FileHandle() {
  if (locks_ != nullptr) lockingHandles.fetch_sub(1, std::memory_order_relaxed);
  while (locks_ != nullptr) {
    LockRange *r = locks_;
    locks_ = r->next;
    delete r;
  }
}

bool FileHandle::Close() {
  {
    OpenFileTable &table = OpenFileTable::Get();
    std::lock_guard<std::mutex> hold(table.mutex());
    table.Remove(this);
  }
  if (lockFd_ >= 0 && lockFd_ != fd_) ::close(lockFd_);
  // The descriptor is released even when close reports an error (Linux
  // and POSIX.1-2024): never retry, or another thread's new descriptor
  // could be closed.
  if (::close(fd_) != 0 && errno != EINTR) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

FileHandle *FileCast(HANDLE h) { return static_cast<FileHandle *>(HandleCast(h, HandleObject::kFile)); }

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

// Windows lets a handle take either kind of lock whatever its access; the
// kernel wants a readable descriptor for a shared lock and a writable one
// for an exclusive lock. A handle opened for only one of the two therefore
// locks through a second descriptor of the same file, opened for both,
// where the file's permissions allow it; otherwise through its own, within
// the kernel's limits. The choice is made at the first lock and kept: the
// locks of two descriptors would exclude each other. Only with
// open-file-description locks: classic record locks belong to the process,
// and closing the second descriptor would drop them all.
int FileHandle::LockFd() {
  if (lockFd_ >= 0) return lockFd_;
  lockFd_ = fd_;
  if ((access_ & GENERIC_READ) && (access_ & GENERIC_WRITE)) return lockFd_;
#if defined(__linux__) && defined(F_OFD_SETLK)
  char self[40];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
  int fd;
  do {
    fd = ::open(self, O_RDWR | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  struct stat st;
  if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_) {
    lockFd_ = fd;
  } else if (fd >= 0) {
    ::close(fd);
  }
#endif
  return lockFd_;
}

// Region locks on Windows are mandatory: a transfer over a range that
// another handle locked exclusively fails, and so does a write over a
// range that any handle, this one included, locked shared. POSIX locks are
// advisory, so the handles of this process check each other here (other
// processes cannot be checked). True when `f` may move `bytes` bytes at its
// position; false with ERROR_LOCK_VIOLATION otherwise.
bool TransferAllowed(FileHandle *f, DWORD bytes, bool write) {
  OpenFileTable &table = OpenFileTable::Get();
  std::lock_guard<std::mutex> hold(table.mutex());
  bool candidates = false;
  for (FileHandle *o = table.Bucket(f->dev_, f->ino_); o != nullptr; o = o->next_) {
    if (o->locks_ != nullptr && o->dev_ == f->dev_ && o->ino_ == f->ino_) candidates = true;
  }
  if (!candidates) return true;
  off_t pos = ::lseek(f->fd_, 0, SEEK_CUR);
  if (pos < 0) return true;  // the transfer itself will say what is wrong
  std::uint64_t first = static_cast<std::uint64_t>(pos);
  std::uint64_t last = bytes - 1 > UINT64_MAX - first ? UINT64_MAX : first + bytes - 1;
  for (FileHandle *o = table.Bucket(f->dev_, f->ino_); o != nullptr; o = o->next_) {
    if (o->dev_ != f->dev_ || o->ino_ != f->ino_) continue;
    for (const LockRange *r = o->locks_; r != nullptr; r = r->next) {
      if (!Overlaps(r, first, last)) continue;
      if (r->exclusive ? o != f : write) {
        SetLastError(ERROR_LOCK_VIOLATION);
        return false;
      }
    }
  }
  return true;
}

// A system call's result of 0 or -1: false with its errno as the last error.
bool CallSucceeded(int rc) {
  if (rc != 0) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
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

// The name prepared for the system (see name_resolver.h); false with the
// last error set.
bool NativeName(LPCSTR name, char (&out)[kNativeNameSize]) {
  DWORD err = PrepareDosName(name, out, sizeof out);
  if (err != ERROR_SUCCESS) {
    SetLastError(err);
    return false;
  }
  return true;
}

// Runs `call` (0, or -1 with errno set) on the prepared `path`, and after a
// miss on the entry that matches it without regard to case, which `spare`
// receives. `*used` is the path of the last try. Returns ERROR_SUCCESS or
// the Win32 code of the failure; `*callErrno` is the errno value of a
// failed call, 0 when the name itself failed.
template <class Call>
DWORD CallOnExistingName(const char *path, char (&spare)[kNativeNameSize], const char **used,
                         int *callErrno, Call call) {
  *used = path;
  *callErrno = 0;
  if (call(path) == 0) return ERROR_SUCCESS;
  int err = errno;
  if (err == ENOENT || err == ENOTDIR) {
    DWORD found = ResolveExistingName(path, spare, sizeof spare);
    if (found != ERROR_SUCCESS) return found;
    if (std::strcmp(spare, path) != 0) {
      *used = spare;
      if (call(spare) == 0) return ERROR_SUCCESS;
      err = errno;
    }
  }
  *callErrno = err;
  return ErrnoToWin32(err);
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

// CallOnExistingName for the Win32 calls: false with the last error set.
template <class Call>
bool OnExistingName(LPCSTR name, char (&path)[kNativeNameSize], char (&spare)[kNativeNameSize],
                    const char **used, Call call) {
  if (!NativeName(name, path)) return false;
  int callErrno;
  DWORD err = CallOnExistingName(path, spare, used, &callErrno, call);
  if (err != ERROR_SUCCESS) {
    SetLastError(err);
    return false;
  }
  return true;
}

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

// What a file without the extended attribute has: regular files carry the
// archive flag from birth, as new files on Windows do; directories nothing.
DWORD DefaultXattrBits(bool directory) { return directory ? 0 : FILE_ATTRIBUTE_ARCHIVE; }

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

namespace {

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

bool HasNoWriteBit(mode_t mode) { return (mode & 0222) == 0; }

// --- region locks ------------------------------------------------------------

// Sets or clears a kernel lock on [first, last]; offsets past what off_t
// holds are out of reach of every reader, writer and locker anyway.
int KernelLock(int fd, short type, std::uint64_t first, std::uint64_t last, bool wait) {
  if (first > kMaxOffset) return 0;
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(first);
  fl.l_len = last >= kMaxOffset ? 0 : static_cast<off_t>(last - first + 1);
  int rc;
  do {
    rc = ::fcntl(fd, wait ? KELSYS_SETLKW : KELSYS_SETLK, &fl);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : errno;
}

// Brings the kernel's locks of the handle over [first, last] in line with
// its ranges (and `extra`, a range about to be added): exclusive where an
// exclusive range covers a byte, shared where only shared ones do, none
// elsewhere. One descriptor holds one kind of lock per byte, and a handle's
// shared range may lie over its own exclusive one, so the kernel gets the
// stronger of the two. Returns 0 or the errno value of the call that
// failed; parts set before it stay set.
int SyncKernelLocks(FileHandle *f, const LockRange *extra, std::uint64_t first,
                    std::uint64_t last, bool wait) {
  int fd = f->LockFd();
  std::uint64_t cur = first;
  for (;;) {
    // The kind wanted at `cur`, and how far it goes unchanged.
    short type = F_UNLCK;
    std::uint64_t end = last;
    auto consider = [&type, &end, cur](const LockRange *r) {
      if (r->length == 0) return;
      if (r->offset <= cur && cur <= r->last) {
        if (r->exclusive) type = F_WRLCK;
        if (type == F_UNLCK) type = F_RDLCK;
        if (r->last < end) end = r->last;
      } else if (r->offset > cur && r->offset - 1 < end) {
        end = r->offset - 1;
      }
    };
    for (const LockRange *r = f->locks_; r != nullptr; r = r->next) consider(r);
    if (extra != nullptr) consider(extra);
    int err = KernelLock(fd, type, cur, end, wait && type != F_UNLCK);
    if (err != 0) return err;
    if (end >= last) return 0;
    cur = end + 1;
  }
}

std::uint64_t Make64(DWORD low, DWORD high) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
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

// --- region locks ------------------------------------------------------------

BOOL LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
                LPOVERLAPPED overlapped) {
  FileHandle *f = FileCast(file);
  if (f == nullptr) return FALSE;
  if (overlapped == nullptr || reserved != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::uint64_t offset = Make64(overlapped->Offset, overlapped->OffsetHigh);
  std::uint64_t length = Make64(bytesLow, bytesHigh);
  bool exclusive = (flags & LOCKFILE_EXCLUSIVE_LOCK) != 0;
  bool wait = (flags & LOCKFILE_FAIL_IMMEDIATELY) == 0;
  std::uint64_t last = length == 0 ? offset
                       : (length - 1 > UINT64_MAX - offset ? UINT64_MAX : offset + length - 1);
  if (length != 0 && offset > kMaxOffset) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // The handle's own ranges, as on Windows: an exclusive lock may not lie
  // over any of them (a waiting one would wait for itself forever, so it
  // is refused too); a shared one may lie over any.
  for (LockRange *r = f->locks_; r != nullptr; r = r->next) {
    if (exclusive && length != 0 && Overlaps(r, offset, last)) {
      SetLastError(ERROR_LOCK_VIOLATION);
      return FALSE;
    }
  }
  LockRange *rec = new (std::nothrow) LockRange;
  if (rec == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  rec->offset = offset;
  rec->length = length;
  rec->last = last;
  rec->exclusive = exclusive;
  if (length != 0) {
    int err = SyncKernelLocks(f, rec, offset, last, wait);
    if (err != 0) {
      // Back to what the handle's ranges say, which drops any part taken.
      SyncKernelLocks(f, nullptr, offset, last, false);
      delete rec;
      if (err == EAGAIN || err == EACCES) {
        SetLastError(ERROR_LOCK_VIOLATION);
      } else if (err == EBADF) {
        // No descriptor of the kind the lock needs (see FileHandle::LockFd).
        SetLastError(ERROR_ACCESS_DENIED);
      } else {
        SetLastErrorFromErrno(err);
      }
      return FALSE;
    }
  }
  OpenFileTable &table = OpenFileTable::Get();
  std::lock_guard<std::mutex> hold(table.mutex());
  if (f->locks_ == nullptr) lockingHandles.fetch_add(1, std::memory_order_relaxed);
  rec->next = f->locks_;
  f->locks_ = rec;
  return TRUE;
}

BOOL UnlockFile(HANDLE file, DWORD offsetLow, DWORD offsetHigh, DWORD bytesLow,
                DWORD bytesHigh) {
  FileHandle *f = FileCast(file);
  if (f == nullptr) return FALSE;
  std::uint64_t offset = Make64(offsetLow, offsetHigh);
  std::uint64_t length = Make64(bytesLow, bytesHigh);
  LockRange **link = &f->locks_;
  while (*link != nullptr && !((*link)->offset == offset && (*link)->length == length)) {
    link = &(*link)->next;
  }
  LockRange *rec = *link;
  if (rec == nullptr) {
    SetLastError(ERROR_NOT_LOCKED);
    return FALSE;
  }
  OpenFileTable &table = OpenFileTable::Get();
  {
    std::lock_guard<std::mutex> hold(table.mutex());
    *link = rec->next;
  }
  if (rec->length != 0) {
    int err = SyncKernelLocks(f, nullptr, rec->offset, rec->last, false);
    if (err != 0) {
      std::lock_guard<std::mutex> hold(table.mutex());
      rec->next = f->locks_;
      f->locks_ = rec;
      SetLastErrorFromErrno(err);
      return FALSE;
    }
  }
  {
    std::lock_guard<std::mutex> hold(table.mutex());
    if (f->locks_ == nullptr) lockingHandles.fetch_sub(1, std::memory_order_relaxed);
  }
  delete rec;
  return TRUE;
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
