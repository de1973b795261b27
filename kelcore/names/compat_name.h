// AllocCompatNameObj of the naming conventions, written once for both.
// Internal to the library.
#ifndef KELCORE_NAMES_COMPAT_NAME_H
#define KELCORE_NAMES_COMPAT_NAME_H

#include <new>

#include "kelcore/msg/message.h"
#include "kelcore/names/file_name.h"
#include "kelcore/sync/thread.h"

namespace kelnames {

// A new, empty `Name` in `*out` (when `out` is not null), 0 on success.
// Without memory, or with nowhere to put the object, nothing is kept and
// the result is 0xFFFFFFFF; only the former sets the last error.
template <class Name>
unsigned int AllocCompatName(tPHYFILENAMEOBJ **out) {
  Name *obj = new (std::nothrow) Name;
  if (out != nullptr) *out = obj;
  if (obj == nullptr) {
    tTHREAD::SetLastError(tERRMSG::OutOfMemory);
    return 0xFFFFFFFFu;
  }
  if (out == nullptr) {
    delete obj;
    return 0xFFFFFFFFu;
  }
  return 0;
}

}  // namespace kelnames

#endif  // KELCORE_NAMES_COMPAT_NAME_H
