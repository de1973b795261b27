// Record files: typed, length-prefixed records behind an optional
// identification and version header, checked when the file is opened.
//
// Layout (docs/formats.md gives it byte by byte; integers are unsigned 32
// bits, little-endian, on every host):
//
//   identification  0 to 127 characters, then "\r\n\x1A" (cID_TERMINATOR)
//   version record  type 255, length 24: "A.01.00" (cREC_VERSION), the
//                   format version and the version, each NUL-terminated in
//                   an 8-byte field
//   records         type, length, then `length` body bytes; to the end
//
// Identification and version record are optional; a reader is configured
// as the writer was (SetFile). Opening checks the identification (exactly,
// case included) and the versions (their first five characters, as
// tVERSION::Match does); creating writes them. A failed open or create
// leaves the file closed, with the failure's message as the last error.
//
// Failures raise REC library messages (catalog/module_catalogs.h) carrying
// the file's context (name, identification, "A.01.00", format version,
// version) and then the parameter named here:
//
//   1  status 7           identification differs   [identification read]
//   2  status 0xFFFFFFFF  malformed or truncated header or record [the read
//                         failure's message, when one caused it]
//   3  status 8           record longer than the caller's buffer
//   4  status 9           record shorter than the caller's buffer
//   5  status 7           record layout version not "A.01.00" [read]
//   6  status 7           format version differs   [format version read]
//   7  status 7           version differs          [version read]
//   8  status 0xFFFFFFFF  writing a record of the reserved type 255
//   9  status 1           FindRec reached the end  [type searched for]
//
// Identification and terminator are read a byte at a time: a record file
// read often wants a buffer (SetBuffer; 512 bytes serve well).
#ifndef KELCORE_FILES_RECORD_FILE_H
#define KELCORE_FILES_RECORD_FILE_H

#include "kelcore/files/plain_file.h"
#include "kelcore/platform/export.h"

// The record layout version, "A.01.00".
extern KELCORE_API char const *const cREC_VERSION;

// A record file: an identification and version header, then typed records (see the file
// comment). Failures are REC library messages or the physical file's, as the last error.
class KELCORE_API tRECFILE : public tBINFILE {
 public:
  // "\r\n\x1A": ends the identification (a text viewer shows it as the
  // first line and stops at the 0x1A).
  static char const *const cID_TERMINATOR;
  // The longest identification a file can hold.
  enum { cMAX_ID_LENGTH = 127 };
  // The reserved type of the version record and of records no longer valid.
  enum { cVERSION_TYPE = 255 };

  // As tLOGICAL_FILE's constructors.
  tRECFILE(tPHYSICAL_FILE *file = 0, int own = 1);
  tRECFILE(tPHYSICAL_FILE &file, int own);
  // Frees the identification; the logical file closes.
  virtual ~tRECFILE();

  // Sets the name and, for each non-null argument, the identification (a
  // private copy) and up to 7 characters of the version and of the format
  // version; null arguments keep what was set. 0xFFFFFFFF with
  // tERRMSG::OutOfMemory when the identification cannot be copied (the
  // file then has none). Does not open the file.
  virtual unsigned int SetFile(char const *name, char const *id, char const *version,
                               char const *formatVersion);
  virtual unsigned int SetFile(tPHYFILENAMEOBJ const &name, char const *id,
                               char const *version, char const *formatVersion);
  // The identification set with SetFile; null when none was set.
  char const *GetId() const;
  void GetId(char const **id) const;
  // Copies the format version and the version (8 bytes each) into the
  // non-null arguments.
  void GetVersion(char *formatVersion, char *version) const;

  // Open, then check identification and versions.
  unsigned int OpenExisting(unsigned int access, unsigned int share);
  // Open or create, then write identification and version record at the
  // current position (OpenAlways of an existing file rewrites the header at
  // offset 0 and keeps what follows).
  unsigned int OpenAlways(unsigned int access, unsigned int share, unsigned int attributes);
  // Create, then write identification and version record: 0, or the status of the failing step
  // with its message as the last error.
  unsigned int Create(unsigned int access, unsigned int share, unsigned int attributes);
  // CreateNew, then write identification and version record: 0, or the status of the failing
  // step with its message as the last error.
  unsigned int CreateNew(unsigned int access, unsigned int share, unsigned int attributes);

  // The primitives below work at the current position and do not check
  // that the file is open.

  // Writes the identification (`id`, which first replaces the stored one,
  // or the stored one) and its terminator. One that could not be read back
  // (longer than 127 characters, holding a carriage return, or none at
  // all) is refused with REC library error 2 before anything is written.
  unsigned int WriteId(char const *id);
  // Reads an identification and its terminator into `buf` (128 bytes,
  // NUL-terminated in every case; may be null). At the very end of the
  // data: status 4, and no REC message.
  unsigned int ReadId(char *buf);
  // Non-null arguments first replace the stored values; then writes the
  // version record.
  unsigned int WriteVersion(char const *formatVersion, char const *version);
  // Reads the version record; non-null arguments (8 bytes each) receive
  // the format version and the version.
  unsigned int ReadVersion(char *formatVersion, char *version);
  // Type 255 is refused (REC library error 8, nothing written).
  unsigned int WriteHeader(unsigned int type, unsigned int length);
  // Fewer than 8 bytes left: REC library error 2.
  unsigned int ReadHeader(unsigned int *type, unsigned int *length);
  // A header and `length` bytes of `data`, under the file's lock.
  unsigned int WriteRec(void const *data, unsigned int type, unsigned int length);
  // One record into `buf` of `size` bytes, under the file's lock; `type`
  // and `length` (may be null) receive the record's. A longer record fills
  // the buffer, moves past its rest and returns 8; a shorter one is read
  // whole and returns 9.
  unsigned int ReadRec(void *buf, unsigned int size, unsigned int *type, unsigned int *length);
  // Places the file at the header of the next record of `type`, searching
  // forward from the current position; status 1 at the end.
  unsigned int FindRec(unsigned int type);

 protected:
  // Appends the file's name, the identification, "A.01.00", the format
  // version and the version to `msg` and returns it.
  tMSG &AddErrorContext(tMSG *msg) const;

 private:
  tRECFILE(const tRECFILE &);
  tRECFILE &operator=(const tRECFILE &);

  void Init();
  unsigned int Configure(char const *id, char const *version, char const *formatVersion);
  unsigned int SetId(char const *id);
  unsigned int WriteStr(char const *text);
  unsigned int GetNextChar(char *c);
  unsigned int CheckTerminator();
  unsigned int CheckId();
  unsigned int CheckVersion();
  unsigned int CommonOpen();
  // how: 0 OpenExisting; for DispatchCreate 1 OpenAlways, 2 Create,
  // 3 CreateNew.
  unsigned int DispatchOpen(unsigned int access, unsigned int share);
  unsigned int DispatchCreate(int how, unsigned int access, unsigned int share,
                              unsigned int attributes);
  // Closes after a failed open or create, keeping `status`'s message.
  unsigned int CloseAfter(unsigned int status);
  // Reads a header; *got receives how many of its 8 bytes came.
  unsigned int ReadHeaderBytes(unsigned int *type, unsigned int *length, unsigned long *got);
  // Raises REC library error `msgNo` with the context (and `cause`, a
  // message it adopts, when not null); returns `status`.
  unsigned int Raise(unsigned int msgNo, unsigned int status, tMSG *cause = 0);
  unsigned int RaiseWith(unsigned int msgNo, unsigned int status, char const *parm);

  char *id_;
  char formatVersion_[8];
  char version_[8];
};

#endif  // KELCORE_FILES_RECORD_FILE_H
