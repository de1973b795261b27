// Where operating-system files meet operating-system directories: the
// factories of either back end that make an object of the other. They live
// with the directories, the higher of the two floors, because only here are
// both classes known: the file floor (physical/os/) knows no directory.
#include <new>

#include "kelcore/dirs/os_dir.h"
#include "kelcore/msg/message.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/sync/thread.h"

namespace {

// A new `Made` in `*out`; without memory, or with nowhere to put it, *out
// (if any) is null, the last error is the out-of-memory message and the
// result 0xFFFFFFFF.
template <class Made, class Out>
unsigned int AllocCompat(Out **out) {
  Made *made = out != nullptr ? new (std::nothrow) Made : nullptr;
  if (out != nullptr) *out = made;
  if (made == nullptr) {
    tTHREAD::SetLastError(tERRMSG::OutOfMemory);
    return 0xFFFFFFFFu;
  }
  return 0;
}

}  // namespace

unsigned int tOSFILE::AllocCompatDirObj(tPHYSICAL_DIR **out) const {
  return AllocCompat<tOSDIR>(out);
}

unsigned int tOSDIR::AllocCompatFileObj(tPHYSICAL_FILE **out) const {
  return AllocCompat<tOSFILE>(out);
}

unsigned int tOSDIR::AllocCompatDirObj(tPHYSICAL_DIR **out) const {
  return AllocCompat<tOSDIR>(out);
}
