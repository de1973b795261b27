// Internal to the library: the POSIX layer's file handles, shared by the
// files that emulate the Win32 file calls: file.cpp (opening and sharing,
// transfers, position and size, deleting and renaming), file_locks.cpp
// (region locks) and file_attributes.cpp (attributes, status and times).
#ifndef KELCORE_PLATFORM_POSIX_FILE_HANDLE_H
#define KELCORE_PLATFORM_POSIX_FILE_HANDLE_H

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "kelcore/platform/error.h"
#include "kelcore/platform/file.h"
#include "kelcore/platform/handle.h"
#include "kelcore/platform/posix/name_resolver.h"
#include "kelcore/platform/posix/native_name.h"
#include "kelcore/platform/thread_exit.h"

namespace kelsys {
namespace posixfile {

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

inline bool Overlaps(const LockRange *r, std::uint64_t first, std::uint64_t last) {
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
extern std::atomic<int> lockingHandles;

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

// The file handle behind `h`; null with the last error set otherwise.
// Inline: every transfer starts here.
inline FileHandle *FileCast(HANDLE h) {
  return static_cast<FileHandle *>(HandleCast(h, HandleObject::kFile));
}

// Region locks on Windows are mandatory: a transfer over a range that
// another handle locked exclusively fails, and so does a write over a
// range that any handle, this one included, locked shared. POSIX locks are
// advisory, so the handles of this process check each other here (other
// processes cannot be checked). True when `f` may move `bytes` bytes at its
// position; false with ERROR_LOCK_VIOLATION otherwise.
bool TransferAllowed(FileHandle *f, DWORD bytes, bool write);

// A system call's result of 0 or -1: false with its errno as the last error.
bool CallSucceeded(int rc);

// The name prepared for the system (see name_resolver.h); false with the
// last error set.
bool NativeName(LPCSTR name, char (&out)[kNativeNameSize]);

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

inline bool HasNoWriteBit(mode_t mode) { return (mode & 0222) == 0; }

inline std::uint64_t Make64(DWORD low, DWORD high) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

}  // namespace posixfile
}  // namespace kelsys

#endif  // KELCORE_PLATFORM_POSIX_FILE_HANDLE_H
