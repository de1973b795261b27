#include "kelcore/platform/process.h"

#include <sched.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <ctime>

#if defined(__linux__)
#  include <sys/syscall.h>
#endif

#include "kelcore/platform/error.h"

namespace kelsys {

static_assert(sizeof(OSVERSIONINFOA) == 148,
              "OSVERSIONINFOA must have the size Windows gives it");

int _getpid() { return static_cast<int>(::getpid()); }

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

#if defined(__linux__)
// Not cached in a thread_local: a child made by fork() would inherit the
// parent thread's cached id.
DWORD GetCurrentThreadId() { return static_cast<DWORD>(::syscall(SYS_gettid)); }
#else
namespace {
std::atomic<DWORD> g_next_thread_id(1);
thread_local DWORD t_thread_id = 0;
}  // namespace

DWORD GetCurrentThreadId() {
  if (t_thread_id == 0) t_thread_id = g_next_thread_id.fetch_add(1);
  return t_thread_id;
}
#endif

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    ::sched_yield();
    return;
  }
  if (milliseconds == INFINITE) {
    for (;;) ::pause();
  }
  struct timespec rest;
  rest.tv_sec = static_cast<time_t>(milliseconds / 1000);
  rest.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  // A signal handler interrupting the sleep must not shorten it: Windows'
  // Sleep knows no signals.
  while (::nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

namespace {
// Reads the leading decimal number of `text` and moves past it and one
// separator; 0 when there is none.
DWORD TakeNumber(const char **text) {
  const char *p = *text;
  DWORD value = 0;
  while (*p >= '0' && *p <= '9') {
    value = value * 10 + static_cast<DWORD>(*p - '0');
    ++p;
  }
  if (*p == '.' || *p == '-') ++p;
  *text = p;
  return value;
}
}  // namespace

BOOL GetVersionExA(OSVERSIONINFOA *info) {
  if (info == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  struct utsname names;
  if (::uname(&names) != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  const char *release = names.release;
  info->dwMajorVersion = TakeNumber(&release);
  info->dwMinorVersion = TakeNumber(&release);
  info->dwBuildNumber = TakeNumber(&release);
  info->dwPlatformId = kPlatformPosix;
  // "Linux 6.1.0-18-amd64", cut to the field's size.
  std::size_t used = 0;
  const std::size_t room = sizeof info->szCSDVersion - 1;
  const char *parts[3] = {names.sysname, " ", names.release};
  for (const char *part : parts) {
    for (const char *c = part; *c != '\0' && used < room; ++c) info->szCSDVersion[used++] = *c;
  }
  info->szCSDVersion[used] = '\0';
  return TRUE;
}

namespace {
std::atomic<UINT> g_error_mode(0);
}  // namespace

UINT SetErrorMode(UINT mode) { return g_error_mode.exchange(mode); }

}  // namespace kelsys
