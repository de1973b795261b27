// Facts about the running process and system, version texts, sizes.
//
// tOSSYSCALLS gathers static helpers over the operating system: process and
// thread ids (log stamps, thread objects), a sleep, the hard-error trap and
// a test of the platform family. tVERSION compares version texts of the
// form "A.02.00"; mMEGABYTES turns a count into bytes.
//
// Platform families (tOSSYSCALLS::eVERSIONS) form a tree; IsVersion(v) is
// non-zero when the running system lies at or below v:
//
//   eVER_ANY (9)
//   +-- eVER_OTHER (0)                 no running system is this
//   +-- eVER_SUPPORTED (8)             every system the library runs on
//       +-- eVER_POSIX (1)             Linux and other POSIX systems
//       +-- eVER_WIN32 (7)             every 32/64-bit Windows
//           +-- eVER_WIN32S (2)
//           +-- eVER_WIN9X (6)         the Windows 95 family
//           +-- eVER_NT (5)            the NT family
//               +-- eVER_NT3 (3)
//               +-- eVER_NT4 (4)
//
// On Windows the running system's family comes from GetVersionExA: NT
// versions 3 and 4 are themselves, every later NT (2000 up to today's
// Windows) is eVER_NT, so eVER_WIN32 and eVER_NT hold on every Windows in
// use. On POSIX systems the running family is eVER_POSIX: IsVersion is
// non-zero for eVER_POSIX, eVER_SUPPORTED and eVER_ANY and zero for every
// Windows family (the file back end therefore never asks for Windows-only
// share flags there).
#ifndef KELCORE_SYSTEM_OS_CALLS_H
#define KELCORE_SYSTEM_OS_CALLS_H

#include "kelcore/platform/export.h"

class tPHYFILENAMEOBJ;

// Static helpers over the operating system (see the file comment); no objects of it are made.
class KELCORE_API tOSSYSCALLS {
 public:
  // The platform families; IsVersion tests the running system against them (the tree in the
  // file comment).
  enum eVERSIONS {
    eVER_OTHER = 0,
    eVER_POSIX = 1,
    eVER_WIN32S = 2,
    eVER_NT3 = 3,
    eVER_NT4 = 4,
    eVER_NT = 5,
    eVER_WIN9X = 6,
    eVER_WIN32 = 7,
    eVER_SUPPORTED = 8,
    eVER_ANY = 9
  };

  // The C runtime's process id.
  static int GetCurrentProcessId();
  // The system's id of the calling thread: the same for every call on one
  // thread, different between threads that run at the same time.
  static int GetCurrentThreadId();
  // Suspends the calling thread. 0 gives up the rest of the time slice;
  // 0xFFFFFFFF and more sleep for ever.
  static void Sleep(unsigned long milliseconds);
  // Makes the system report critical errors (a drive that is not ready) to
  // the failing call instead of asking the user.
  static void SetHardErrorTrap();
  // Does nothing: the trap stays set for the life of the process.
  static void ResetHardErrorTrap();
  // Non-zero when the running system belongs to `version` (see the tree
  // above); zero for a value outside 0 to 9.
  static int IsVersion(eVERSIONS version);
  // The directory of the running program; kept for the life of the process
  // (defined with the application object).
  static const tPHYFILENAMEOBJ &GetExecDir();

 private:
  tOSSYSCALLS() = delete;
};

// Comparison of version texts such as "A.02.00"; no objects of it are made.
class KELCORE_API tVERSION {
 public:
  // Non-zero when the first five characters of both texts are equal
  // ("A.02.00" matches "A.02.99" but neither "A.01.00" nor "A.02"). Texts
  // shorter than five characters match only an equal text; a null text
  // counts as empty.
  static int Match(const char *a, const char *b);

 private:
  tVERSION() = delete;
};

// `count` times 1,024,000 (1000 * 1024). unsigned long is 32 bits on
// Windows, so counts above 4194 wrap there.
KELCORE_API unsigned long mMEGABYTES(unsigned int count);

#endif  // KELCORE_SYSTEM_OS_CALLS_H
