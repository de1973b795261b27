// Where operating-system files meet operating-system directories: the one
// factory of tOSFILE that makes a directory object.
#include <new>

#include "kelcore/error/os_error.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/platform/types.h"
#include "kelcore/sync/thread.h"

// Until the operating-system directory back end is part of the library,
// there is no directory object to make: the request fails as a call the
// system does not provide (status 0xFFFFFFFF) and *out is null.
unsigned int tOSFILE::AllocCompatDirObj(tPHYSICAL_DIR **out) const {
  if (out != nullptr) *out = nullptr;
  const int code = 120;  // ERROR_CALL_NOT_IMPLEMENTED
  tTHREAD::SetLastError(AddErrorContext(tOSERR::Make(0, code)));
  return tOSERR::ToStatus(code);
}
