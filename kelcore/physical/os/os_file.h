// Operating-system files: the physical file on the system's file API.
//
// tOSFILE joins tNOSYNC (no locking), tPHYSICAL_FILE, tOSFILEIO (the I/O
// facet on a file handle), tPCFILENAME (DOS-style names) and tOSFILESYS
// (the file-system facet on path-based calls). It is the back end of files
// on disk, and the one a logical file makes for itself when given none.
//
// Failures record an OS library message of set 0 as the calling thread's
// last error, with the system error as its first parameter and the file's
// name appended, and return the status of that error. The numbers name
// the failing operation:
//
//    0 open or create     5 rename            10 get size or attributes, exists
//    1 close              7 lock a region     11 set permissions
//    2 read               8 unlock a region   12 get permissions
//    3 write or flush     9 set size or       13 set modification time
//    4 delete               attributes        14 get modification time
//   17 seek              18 get position
//
// A read without a count pointer that gets fewer bytes than asked records
// message 2 with the library's code 0xF009 and returns status 4 (end of
// file); a short write records message 3 with ERROR_DISK_FULL (112).
//
// With a log active, the back end writes records labelled "os" with the
// level bits 0xC0: closing, deleting, renaming, locking and unlocking
// regions, and every seek (see docs/files.md for their form).
//
// Region locks belong to the handle: they exclude other handles, of this
// process and of others, but not other threads using the same object. A
// range can only be unlocked as a whole set of earlier locked regions.
//
// A tOSFILE is not safe for concurrent use: it locks nothing itself.
#ifndef KELCORE_PHYSICAL_OS_OS_FILE_H
#define KELCORE_PHYSICAL_OS_OS_FILE_H

#include "kelcore/names/pc_file_name.h"
#include "kelcore/physical/physical_file.h"
#include "kelcore/platform/export.h"
#include "kelcore/sync/lock.h"

// The I/O facet on an operating-system file handle.
class KELCORE_API tOSFILEIO : public virtual tPHYFILEIOOBJ {
 public:
  unsigned int OpenExisting(unsigned int mode, unsigned int share);
  unsigned int OpenAlways(unsigned int mode, unsigned int share, unsigned int permissions);
  unsigned int Create(unsigned int mode, unsigned int share, unsigned int permissions);
  unsigned int CreateNew(unsigned int mode, unsigned int share, unsigned int permissions);
  // Also forgets the region records: closing the handle releases its locks.
  // Closing an object that is not open does nothing and returns 0.
  unsigned int Close();
  unsigned int Flush();
  unsigned int SetSize(unsigned long size);
  unsigned int GetSize(unsigned long *size);
  unsigned int Read(void *buffer, unsigned long bytes, unsigned long *done);
  unsigned int Write(void const *buffer, unsigned long bytes, unsigned long *done);
  unsigned int Seek(long distance, tFILEDEFS::eSEEKMODE from, unsigned long *newPos);
  unsigned int GetPos(unsigned long *pos);
  unsigned int LockRegion(unsigned long offset, unsigned long bytes, unsigned int lockMode);
  unsigned int UnlockRegion(unsigned long offset, unsigned long bytes);

  // The raw handle as a number: the system's handle value on Windows, the
  // file descriptor on POSIX systems; -1 while closed. Whoever holds the
  // raw handle can move the file's position: from this call until the file
  // is closed, every position query and seek asks the system again.
  int GetFileHandle() const;

 protected:
  tOSFILEIO();
  // Forgets the region records without unlocking and does not close.
  virtual ~tOSFILEIO();

 private:
  struct tREGION;

  tOSFILEIO(const tOSFILEIO &);
  tOSFILEIO &operator=(const tOSFILEIO &);

  unsigned int StdOpen(unsigned int disposition, unsigned int mode, unsigned int share,
                       unsigned int permissions);
  // One move of the position with its trace line; 0 or the system error.
  unsigned int MovePointer(long long distance, unsigned int method, int wide,
                           unsigned long long *newPos);
  unsigned int Report(unsigned int msgNo, unsigned int osError);
  void DiscardRegions();
  // Takes `pos` as the position the system reported, when positions are
  // tracked for this handle (see pos_).
  void Track(unsigned long long pos);

  void *handle_;  // the system's handle; all bits set while closed
  tREGION *first_;
  tREGION *last_;
  // The position, as the system last reported it and moved by this
  // object's own reads and writes since, so that a position query and a
  // seek to where the file already stands need no system call. Valid while
  // pos_known_ is set. Tracking is for disk files that nothing else moves:
  // tracking_ is -1 until known, 0 for a handle that is not a disk file, is
  // inherited by other processes, or was handed out (GetFileHandle), 1
  // for one that may be tracked.
  unsigned long long pos_;
  int pos_known_;
  mutable int tracking_;
};

// The file-system facet on the system's path-based calls.
class KELCORE_API tOSFILESYS : public virtual tPHYFILESYSOBJ {
 public:
  unsigned int Exists(int *exists);
  // Renames within the file's own directory: `newName` must be a bare file
  // name (a separator or a drive is refused before the disk is touched).
  // The object keeps its old name.
  unsigned int Rename(tPHYFILENAMEOBJ const &newName);
  // Deletes the named file: 0, or a status with the OS library message (with the system's
  // error) as the last error.
  unsigned int Delete();
  unsigned int GetAttributes(unsigned int *attributes);
  // The new word's archive bit becomes the file's only system attribute:
  // read-only, hidden and system are cleared.
  unsigned int SetAttributes(unsigned int attributes, unsigned int mask);
  unsigned int GetSecurity(unsigned int *permissions);
  // Read-only when the new word lacks the others-write bit 0002; hidden and
  // system from PERM_HIDDEN and PERM_SYSTEM.
  unsigned int SetSecurity(unsigned int permissions, unsigned int mask);
  unsigned int GetModifyTime(tDATETIME *time);
  unsigned int SetModifyTime(tDATETIME const &time);

 protected:
  tOSFILESYS();
  virtual ~tOSFILESYS();

 private:
  unsigned int Report(unsigned int msgNo, unsigned int osError);
  unsigned int ReportErrno(unsigned int msgNo, int err);
};

// The operating-system file: the physical file the library uses by default (see the file
// comment). Failures are OS library messages with the system's error as the last error.
class KELCORE_API tOSFILE : public tNOSYNC,
                            public tPHYSICAL_FILE,
                            public tOSFILEIO,
                            public tPCFILENAME,
                            public tOSFILESYS {
 public:
  // Closed, with an empty name.
  tOSFILE();
  // Does not close the file: its owner closes it first.
  virtual ~tOSFILE();

  // A new, closed tOSFILE with an empty name.
  unsigned int AllocCompatFileObj(tPHYSICAL_FILE **out) const;
  // A new operating-system directory.
  unsigned int AllocCompatDirObj(tPHYSICAL_DIR **out) const;

 private:
  tOSFILE(const tOSFILE &);
  tOSFILE &operator=(const tOSFILE &);
};

#endif  // KELCORE_PHYSICAL_OS_OS_FILE_H
