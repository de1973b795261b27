#include "kelcore/system/os_calls.h"

#include <cstring>

#include "kelcore/platform/process.h"

namespace {

const int kNoVersion = -1;
const int kTopVersion = 9;

// Parent of each platform family in the tree of os_calls.h; the top has none.
const int kParentVersion[kTopVersion + 1] = {9, 8, 7, 5, 5, 7, 7, 8, 9, -1};

int RunningVersion() {
  kelsys::OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  if (!kelsys::GetVersionExA(&info)) return kNoVersion;
  switch (info.dwPlatformId) {
    case kelsys::kPlatformWin32s:
      return tOSSYSCALLS::eVER_WIN32S;
    case kelsys::kPlatformWindows:
      return tOSSYSCALLS::eVER_WIN9X;
    case kelsys::kPlatformNT:
      if (info.dwMajorVersion == 3) return tOSSYSCALLS::eVER_NT3;
      if (info.dwMajorVersion == 4) return tOSSYSCALLS::eVER_NT4;
      // Every NT after 4 (2000, XP, ..., 10, 11) is still the NT family;
      // refusing them would make every Windows in use unrecognised.
      if (info.dwMajorVersion > 4) return tOSSYSCALLS::eVER_NT;
      return kNoVersion;
    case kelsys::kPlatformPosix:
      return tOSSYSCALLS::eVER_POSIX;
    default:
      return kNoVersion;
  }
}

}  // namespace

int tOSSYSCALLS::GetCurrentProcessId() { return kelsys::_getpid(); }

int tOSSYSCALLS::GetCurrentThreadId() {
  return static_cast<int>(kelsys::GetCurrentThreadId());
}

void tOSSYSCALLS::Sleep(unsigned long milliseconds) {
  // Where unsigned long is wider than a DWORD, longer sleeps than the
  // longest finite one last for ever, as 0xFFFFFFFF itself does.
  const unsigned long kForever = 0xFFFFFFFFul;
  kelsys::Sleep(milliseconds >= kForever ? static_cast<kelsys::DWORD>(kForever)
                                         : static_cast<kelsys::DWORD>(milliseconds));
}

void tOSSYSCALLS::SetHardErrorTrap() { kelsys::SetErrorMode(kelsys::kFailCriticalErrors); }

void tOSSYSCALLS::ResetHardErrorTrap() {}

int tOSSYSCALLS::IsVersion(eVERSIONS version) {
  // The system does not change while the process runs: ask it once.
  static const int running = RunningVersion();
  const int wanted = static_cast<int>(version);
  for (int v = running; v != kNoVersion; v = kParentVersion[v]) {
    if (v == wanted) return 1;
  }
  return 0;
}

int tVERSION::Match(const char *a, const char *b) {
  return std::strncmp(a != nullptr ? a : "", b != nullptr ? b : "", 5) == 0 ? 1 : 0;
}

unsigned long mMEGABYTES(unsigned int count) {
  return static_cast<unsigned long>(count) * 1024000ul;
}
