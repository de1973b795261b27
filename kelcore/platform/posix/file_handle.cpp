// The POSIX layer's file handles (file_handle.h): closing one, finding one
// behind a HANDLE, and the helpers every file call shares.
#include "kelcore/platform/posix/file_handle.h"

#include <unistd.h>

namespace kelsys {
namespace posixfile {

// Handles of this process that hold region locks. While there are none,
// a transfer has nothing to check: one relaxed load on the fast path.
std::atomic<int> lockingHandles(0);

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

// A system call's result of 0 or -1: false with its errno as the last error.
bool CallSucceeded(int rc) {
  if (rc != 0) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
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

}  // namespace posixfile
}  // namespace kelsys
