// System errors: their translation into status codes, the OS module's
// error messages, and message parameters that show a system error as text.
//
// The pattern every back end follows when a system call fails:
//
//   DWORD code = GetLastError();                 // right after the call
//   tTHREAD::SetLastError(name.AddErrorContext(tOSERR::Make(3, code)));
//   return tOSERR::ToStatus(code);
//
// and the same with errno, tERRNO::ToStatus and the module's own factory
// for C library calls.
#ifndef KELCORE_ERROR_OS_ERROR_H
#define KELCORE_ERROR_OS_ERROR_H

#include "kelcore/msg/message.h"
#include "kelcore/msg/parameter.h"
#include "kelcore/platform/export.h"

// Win32 error codes: status codes and OS library messages for them.
class KELCORE_API tOSERR {
 public:
  // The status code (status.h) for a Win32 error code, including the
  // library's own codes 0xF000 to 0xF009: 2, 3, 18 -> 1; 80, 183, 0xF000 -> 2;
  // 5, 19, 32, 145, 0xF002, 0xF004, 0xF005, 0xF006 -> 3; 33 -> 6; anything
  // else 0xFFFFFFFF.
  static unsigned int ToStatus(int code);
  // A new OS module message of set 0, number `msgNo`, with the code appended
  // as a tPARM_SYSERR. Never null: without memory, tERRMSG::OutOfMemory.
  static tMSG *Make(unsigned int msgNo, int code);
};

// errno values: status codes for them.
class KELCORE_API tERRNO {
 public:
  // The status code for an errno value: ENOENT (2) -> 1; EACCES (13) -> 3;
  // EEXIST (17) -> 2; EINTR (4) -> 5; 0xF000 -> 2; 0xF006 -> 3; anything else
  // 0xFFFFFFFF. The numbers are the C library's, the same on every system
  // the library runs on.
  static unsigned int ToStatus(int err);
};

// An errno value shown as text: the OS catalog's text of set 1 for the value
// or, without one, the C library's strerror text. Default conversion "%s";
// a spec such as "(%s)" places the text. Without memory: "Out of memory".
class KELCORE_API tPARM_ERRNO : public tPARAMETER {
 public:
  // Shows the errno value `err`.
  explicit tPARM_ERRNO(int err);
  ~tPARM_ERRNO();
  void Format(char *buf, const char *spec) const;
  // Same class and same value.
  int operator==(const tPARAMETER &other) const;
  KELCORE_PARM_EQUALITY(tPARM_ERRNO)
  // The errno value.
  int Value() const { return value_; }

 private:
  int value_;
};

// A Win32 error code shown as text: the OS catalog's text of set 2 for the
// code or, without one, the system's own text (FormatMessageA) without its
// line end. A code the system has no text for shows the OS catalog's
// built-in description of the failed lookup. Default conversion "%s".
class KELCORE_API tPARM_SYSERR : public tPARAMETER {
 public:
  // Shows the Win32 error code `code`.
  explicit tPARM_SYSERR(int code);
  ~tPARM_SYSERR();
  void Format(char *buf, const char *spec) const;
  int operator==(const tPARAMETER &other) const;
  KELCORE_PARM_EQUALITY(tPARM_SYSERR)
  // The Win32 error code.
  int Value() const { return value_; }

 private:
  int value_;
};

#endif  // KELCORE_ERROR_OS_ERROR_H
