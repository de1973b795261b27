// The Win32 region locks on POSIX file descriptors (LockFileEx,
// UnlockFile), and the checks that make them mandatory between the handles
// of this process. See platform/file.h and docs/files.md.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <new>

#include "kelcore/platform/posix/file_handle.h"

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

namespace kelsys {
namespace posixfile {

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

}  // namespace posixfile

using namespace posixfile;

namespace {

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

}  // namespace

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

}  // namespace kelsys
