// Handles and CloseHandle.
//
// On Windows a HANDLE is the system's. In the POSIX layer every HANDLE that
// the emulated calls hand out (files, mutexes, find handles) points to a
// heap object derived from HandleObject, so that the one CloseHandle can
// release any of them.
#ifndef KELCORE_PLATFORM_HANDLE_H
#define KELCORE_PLATFORM_HANDLE_H

#include "kelcore/platform/types.h"

namespace kelsys {

#if defined(_WIN32)
using ::CloseHandle;
#else
class HandleObject {
 public:
  enum Kind { kFile, kMutex, kFind, kConsole, kOther };
  explicit HandleObject(Kind kind) : kind_(kind) {}
  virtual ~HandleObject() {}
  // Releases the underlying resource; false (with the thread's last error
  // set) when that fails. The object is deleted either way.
  virtual bool Close() = 0;
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

// Returns the handle's object if it is a live POSIX-layer handle of `kind`,
// else null (and sets ERROR_INVALID_HANDLE).
HandleObject *HandleCast(HANDLE h, HandleObject::Kind kind);
inline HANDLE ToHandle(HandleObject *obj) { return static_cast<HANDLE>(obj); }

BOOL CloseHandle(HANDLE h);
#endif

}  // namespace kelsys

#endif  // KELCORE_PLATFORM_HANDLE_H
