// Helpers shared by the physical-file tests: reading the thread's last
// error apart, and files prepared in a temporary directory.
#ifndef KELCORE_TESTS_PHYSICAL_OS_FILE_TEST_UTIL_H
#define KELCORE_TESTS_PHYSICAL_OS_FILE_TEST_UTIL_H

#include <string>
#include <vector>

#include <gtest/gtest.h>

#if defined(_WIN32)
#  ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#  endif
#  include <windows.h>
#endif

#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/error/os_error.h"
#include "kelcore/msg/message.h"
#include "kelcore/names/file_name.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/sync/thread.h"
#include "tests/support/temp_dir.h"

namespace physical_test {

const unsigned int kFailure = 0xFFFFFFFFu;

// Win32 error codes the tests expect, the same numbers on every system.
enum {
  kErrFileNotFound = 2,
  kErrAccessDenied = 5,
  kErrInvalidHandle = 6,
  kErrSharingViolation = 32,
  kErrLockViolation = 33,
  kErrFileExists = 80,
  kErrNegativeSeek = 131,
  kErrInvalidName = 123,
  kErrAlreadyExists = 183,
  kShortRead = 0xF009
};

// Wine runs the Windows tests on a POSIX file system, where a few things
// are not as on Windows: the archive flag always shows on files, and a
// superuser may write to read-only files.
inline bool RunningUnderWine() {
#if defined(_WIN32)
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

// The thread's last error taken apart.
struct LastError {
  bool present = false;
  bool isOsMessage = false;  // an OS library message of set 0
  unsigned int number = 0;
  int sysErr = -1;    // the tPARM_SYSERR parameter, if any
  int errnoVal = -1;  // the tPARM_ERRNO parameter, if any
  std::vector<std::string> names;  // the tPARM_FILENAME parameters in order
  bool outOfMemory = false;
  std::string text;
};

inline LastError GetLast() {
  LastError e;
  tMSG *msg = tTHREAD::GetLastError();
  if (msg == nullptr) return e;
  e.present = true;
  e.outOfMemory = msg == &tERRMSG::OutOfMemory;
  e.text = msg->Format();
  if (const tCATMSG *cat = dynamic_cast<const tCATMSG *>(msg)) {
    e.isOsMessage = cat->GetCatalog() == &kelos::Catalog() && cat->GetSetId() == 0;
    e.number = cat->GetMsgId();
  }
  for (unsigned int i = 0; i < msg->NumParms(); ++i) {
    const tPARAMETER *p = &(*msg)[i];
    if (const tPARM_SYSERR *s = dynamic_cast<const tPARM_SYSERR *>(p)) {
      if (e.sysErr == -1) e.sysErr = s->Value();
    } else if (const tPARM_ERRNO *n = dynamic_cast<const tPARM_ERRNO *>(p)) {
      if (e.errnoVal == -1) e.errnoVal = n->Value();
    } else if (const tPARM_FILENAME *f = dynamic_cast<const tPARM_FILENAME *>(p)) {
      e.names.push_back(f->Value() != nullptr ? f->Value() : "");
    }
  }
  return e;
}

inline void ClearLast() { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }

// Fixture: a temporary directory, the last error cleared before each test.
class OsFileTest : public kelcore_test::TempDirTest {
 protected:
  void SetUp() override { ClearLast(); }
  void TearDown() override { ClearLast(); }

  std::string Path(const char *name) const { return tmp.File(name); }

  // A file with `bytes` in it.
  std::string MakeFile(const char *name, const std::string &bytes) {
    std::string p = Path(name);
    EXPECT_TRUE(kelcore_test::WriteWholeFile(p, bytes)) << p;
    return p;
  }

  static std::string Contents(const std::string &path) {
    std::string bytes;
    if (!kelcore_test::ReadWholeFile(path, &bytes)) return "<missing>";
    return bytes;
  }
};

// A tOSFILE that is closed when the test ends, however it ends.
class ScopedOsFile : public tOSFILE {
 public:
  explicit ScopedOsFile(const std::string &name) { SetName(name.c_str()); }
  ~ScopedOsFile() {
    if (GetFileHandle() != -1) Close();
  }
};

}  // namespace physical_test

#endif  // KELCORE_TESTS_PHYSICAL_OS_FILE_TEST_UTIL_H
