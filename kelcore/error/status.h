// The status codes that every operation of the library returns.
//
// 0 is success; any other value names a class of failure. The detail of a
// failure is never in the status: the failing operation stores a message as
// the calling thread's last error (tTHREAD::GetLastError) before it returns.
// tOSERR::ToStatus and tERRNO::ToStatus translate system codes into these
// values (os_error.h).
#ifndef KELCORE_ERROR_STATUS_H
#define KELCORE_ERROR_STATUS_H

// The status codes (see the file comment); no objects of it are made.
class tSTATUS {
 public:
  // An unscoped enumeration with unsigned int underneath, so that the
  // values compare and convert as the plain unsigned int results they are.
  enum eCODE : unsigned int {
    cSUCCESS = 0,
    // Missing file or path, or no further directory entry.
    cNOT_FOUND = 1,
    cALREADY_EXISTS = 2,
    // Access denied, in use, write-protected or not empty.
    cACCESS_DENIED = 3,
    // Fewer bytes than requested where the caller asked for no count, or
    // the end of a text.
    cEND_OF_FILE = 4,
    cINTERRUPTED = 5,
    // A region is locked by another process.
    cLOCKED = 6,
    // Identification or version of a record file does not match.
    cVERSION_MISMATCH = 7,
    cRECORD_TOO_LONG = 8,   // record longer than the caller's buffer
    cRECORD_TOO_SHORT = 9,  // record shorter than the caller's buffer
    // A message catalog is in no registered message file.
    cCATALOG_NOT_FOUND = 10,
    // Any other failure, including lack of memory.
    cFAILURE = 0xFFFFFFFFu
  };
};

#endif  // KELCORE_ERROR_STATUS_H
