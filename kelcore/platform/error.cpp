#include "kelcore/platform/error.h"

#include <cerrno>

namespace kelsys {

#if !defined(_WIN32)
namespace {
thread_local DWORD t_last_error = 0;
}  // namespace

DWORD GetLastError() { return t_last_error; }
void SetLastError(DWORD code) { t_last_error = code; }
#endif

DWORD ErrnoToWin32(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES: return ERROR_ACCESS_DENIED;
    case EPERM: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOSPC: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EBUSY: return ERROR_BUSY;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EAGAIN: return ERROR_LOCK_VIOLATION;
    case EDEADLK: return ERROR_POSSIBLE_DEADLOCK;
    case EISDIR: return ERROR_ACCESS_DENIED;
    case ESPIPE: return ERROR_SEEK;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case EIO: return ERROR_GEN_FAILURE;
    case ENOSYS: return ERROR_CALL_NOT_IMPLEMENTED;
    case EINTR: return ERROR_GEN_FAILURE;
    case EFBIG: return ERROR_DISK_FULL;
#if defined(ETXTBSY)
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
#endif
#if defined(ELOOP)
    case ELOOP: return ERROR_PATH_NOT_FOUND;
#endif
#if defined(ENOTSUP) && (!defined(EOPNOTSUPP) || ENOTSUP != EOPNOTSUPP)
    case ENOTSUP: return ERROR_NOT_SUPPORTED;
#endif
#if defined(EOPNOTSUPP)
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
#endif
    default: return ERROR_GEN_FAILURE;
  }
}

void SetLastErrorFromErrno(int err) { SetLastError(ErrnoToWin32(err)); }

}  // namespace kelsys
