#include "kelcore/sync/lock.h"

#include <new>

#include "kelcore/platform/error.h"
#include "kelcore/platform/handle.h"
#include "kelcore/platform/sync.h"

tPHYSYNCOBJ::~tPHYSYNCOBJ() {}

tNOSYNC::tNOSYNC() {}
tNOSYNC::~tNOSYNC() {}
void tNOSYNC::LockObject() {}
void tNOSYNC::UnlockObject() {}

// --- tINTRA_PROCESS_LOCK ---------------------------------------------------

tINTRA_PROCESS_LOCK::tINTRA_PROCESS_LOCK()
    : section_(new (std::nothrow) kelsys::CRITICAL_SECTION) {
  if (section_) kelsys::InitializeCriticalSection(static_cast<kelsys::CRITICAL_SECTION *>(section_));
}

tINTRA_PROCESS_LOCK::~tINTRA_PROCESS_LOCK() {
  kelsys::CRITICAL_SECTION *cs = static_cast<kelsys::CRITICAL_SECTION *>(section_);
  if (cs) {
    kelsys::DeleteCriticalSection(cs);
    delete cs;
    section_ = nullptr;
  }
}

void tINTRA_PROCESS_LOCK::LockObject() {
  if (section_) kelsys::EnterCriticalSection(static_cast<kelsys::CRITICAL_SECTION *>(section_));
}

void tINTRA_PROCESS_LOCK::UnlockObject() {
  if (section_) kelsys::LeaveCriticalSection(static_cast<kelsys::CRITICAL_SECTION *>(section_));
}

// --- tINTER_PROCESS_LOCK ---------------------------------------------------

namespace {

// Locks report nothing, not even through the thread's system error code:
// every call into the mutex leaves that code as it found it.
class KeepSystemError {
 public:
  KeepSystemError() : saved_(kelsys::GetLastError()) {}
  ~KeepSystemError() { kelsys::SetLastError(saved_); }

 private:
  kelsys::DWORD saved_;
};

}  // namespace

// A failed creation leaves a lock that does nothing.
tINTER_PROCESS_LOCK::tINTER_PROCESS_LOCK(const char *name) : mutex_(nullptr) {
  KeepSystemError keep;
  mutex_ = kelsys::CreateMutexA(nullptr, 0, name);
}

tINTER_PROCESS_LOCK::~tINTER_PROCESS_LOCK() {
  if (mutex_) {
    KeepSystemError keep;
    kelsys::CloseHandle(static_cast<kelsys::HANDLE>(mutex_));
    mutex_ = nullptr;
  }
}

void tINTER_PROCESS_LOCK::LockObject() {
  if (!mutex_) return;
  KeepSystemError keep;
  // WAIT_ABANDONED makes the caller the owner as well: a holder ended
  // without releasing, and the lock passes on instead of blocking for ever.
  kelsys::WaitForSingleObject(static_cast<kelsys::HANDLE>(mutex_), kelsys::kInfinite);
}

void tINTER_PROCESS_LOCK::UnlockObject() {
  if (!mutex_) return;
  KeepSystemError keep;
  kelsys::ReleaseMutex(static_cast<kelsys::HANDLE>(mutex_));
}

// --- tOBJECT_LOCK ----------------------------------------------------------

// The reference may be null (a holder on a null lock does nothing); taking
// its address is the one way to tell, and the library is built so that the
// test is kept.
tOBJECT_LOCK::tOBJECT_LOCK(tPHYSYNCOBJ &obj) : obj_(&obj) {
  if (obj_) obj_->LockObject();
}

tOBJECT_LOCK::~tOBJECT_LOCK() {
  if (obj_) obj_->UnlockObject();
}
