#include "kelcore/platform/handle.h"

#include "kelcore/platform/error.h"

namespace kelsys {

HandleObject *HandleCast(HANDLE h, HandleObject::Kind kind) {
  if (h == nullptr || h == kInvalidHandle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  HandleObject *obj = static_cast<HandleObject *>(h);
  if (obj->kind() != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return obj;
}

BOOL CloseHandle(HANDLE h) {
  if (h == nullptr || h == kInvalidHandle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  HandleObject *obj = static_cast<HandleObject *>(h);
  bool ok = obj->Close();
  delete obj;
  return ok ? TRUE : FALSE;
}

}  // namespace kelsys
