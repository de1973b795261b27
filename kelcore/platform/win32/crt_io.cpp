// The C runtime side of stream positions on Windows.
#include "kelcore/platform/crt_io.h"

#include <io.h>
#include <windows.h>

#include <cstdint>

namespace kelsys {

int IsSeekableDescriptor(int fd) {
  std::intptr_t h = ::_get_osfhandle(fd);
  // Without a handle the C runtime's own calls answer for themselves.
  if (h == -1) return 1;
  // Pipes, consoles and character devices have no positions: the C
  // runtime's seek on them may even "succeed" without meaning anything.
  return ::GetFileType(reinterpret_cast<HANDLE>(h)) == FILE_TYPE_DISK ? 1 : 0;
}

}  // namespace kelsys
