// The physical file: the object that really talks to storage, assembled
// from four facets.
//
//   tPHYFILENAMEOBJ  the path name (names/file_name.h)
//   tPHYSYNCOBJ      lock and unlock (sync/lock.h)
//   tPHYFILESYSOBJ   the file as a directory entry: exists, rename, delete,
//                    attributes, permissions, modification time, and the
//                    factories of compatible objects
//   tPHYFILEIOOBJ    open or create, close, flush, size, read, write,
//                    seek, position, region locks
//
// tPHYSICAL_FILE joins the file-system and I/O facets. A back end derives
// from it and from one implementation of each facet; every facet is a
// virtual base, so an object holds exactly one name, one lock and one of
// each facet however it is reached (the operating-system back end is
// tOSFILE, physical/os/os_file.h).
//
// Every operation returns a status: 0 for success, otherwise one of the
// library's status codes (error/status.h), after recording a message of
// the back end's catalog, with the system error and the file's name, as
// the calling thread's last error. A physical file is created closed;
// destroying it does not close it (its owner closes it first).
#ifndef KELCORE_PHYSICAL_PHYSICAL_FILE_H
#define KELCORE_PHYSICAL_PHYSICAL_FILE_H

#include "kelcore/names/file_name.h"
#include "kelcore/physical/file_defs.h"
#include "kelcore/platform/export.h"
#include "kelcore/sync/lock.h"

class tDATETIME;
class tPHYSICAL_FILE;
class tPHYSICAL_DIR;

// The file-system facet of a physical file: operations on the named file that need no open
// file. Every status is 0, or an error code (error/status.h) with the reason as the thread's
// last error.
class KELCORE_API tPHYFILESYSOBJ : public virtual tFILEDEFS,
                                   public virtual tPHYSYNCOBJ,
                                   public virtual tPHYFILENAMEOBJ {
 public:
  virtual ~tPHYFILESYSOBJ();
  // The operations, in interface order; all work on the name and need no
  // open file.

  // *exists becomes 1 or 0; a missing file is no failure.
  virtual unsigned int Exists(int *exists) = 0;
  // Renames the file: 0, or a status with the reason as the last error. Whether `newName` may
  // name another directory depends on the back end.
  virtual unsigned int Rename(tPHYFILENAMEOBJ const &newName) = 0;
  // Deletes the named file: 0, or a status with the reason as the last error.
  virtual unsigned int Delete() = 0;
  // The attribute word (tFILEDEFS::ATTR_*).
  virtual unsigned int GetAttributes(unsigned int *attributes) = 0;
  // Changes the attribute bits selected by `mask`.
  virtual unsigned int SetAttributes(unsigned int attributes, unsigned int mask) = 0;
  // The permission word (0555 or 0777, plus tFILEDEFS::PERM_*).
  virtual unsigned int GetSecurity(unsigned int *permissions) = 0;
  // Changes the permission bits selected by `mask`.
  virtual unsigned int SetSecurity(unsigned int permissions, unsigned int mask) = 0;
  // Last modification, local time.
  virtual unsigned int GetModifyTime(tDATETIME *time) = 0;
  // Sets the access and modification time (local time).
  virtual unsigned int SetModifyTime(tDATETIME const &time) = 0;
  // A new, unnamed, closed object of the same back end, which the caller
  // owns and deletes through its virtual destructor. Without memory (or
  // with a null `out`): *out null, last error tERRMSG::OutOfMemory, result
  // 0xFFFFFFFF.
  virtual unsigned int AllocCompatFileObj(tPHYSICAL_FILE **out) const = 0;
  // The same for a directory of the matching back end.
  virtual unsigned int AllocCompatDirObj(tPHYSICAL_DIR **out) const = 0;

 protected:
  tPHYFILESYSOBJ();
};

// The I/O facet of a physical file: opening, reading, writing, positions and region locks.
// Every status is 0, or an error code (error/status.h) with the reason as the thread's last
// error.
class KELCORE_API tPHYFILEIOOBJ : public virtual tFILEDEFS,
                                  public virtual tPHYSYNCOBJ,
                                  public virtual tPHYFILENAMEOBJ {
 public:
  // The operations, in interface order. `mode` is the access mode word,
  // `share` the share word, `permissions` the permission word used when
  // the file is created (tFILEDEFS).

  // Opens; fails if the file does not exist.
  virtual unsigned int OpenExisting(unsigned int mode, unsigned int share) = 0;
  // Opens, creating the file if it is missing.
  virtual unsigned int OpenAlways(unsigned int mode, unsigned int share,
                                  unsigned int permissions) = 0;
  // Creates, emptying an existing file.
  virtual unsigned int Create(unsigned int mode, unsigned int share,
                              unsigned int permissions) = 0;
  // Creates; fails if the file exists.
  virtual unsigned int CreateNew(unsigned int mode, unsigned int share,
                                 unsigned int permissions) = 0;
  // Closes the file: 0, or a status with the reason as the last error.
  virtual unsigned int Close() = 0;
  // Writes buffered data through to the device.
  virtual unsigned int Flush() = 0;
  // Sets the length; the position is the same afterwards.
  virtual unsigned int SetSize(unsigned long size) = 0;
  // The current length; of the named file when it is not open.
  virtual unsigned int GetSize(unsigned long *size) = 0;
  // Reads up to `bytes` bytes; *done (if not null) receives how many came, 0 at the end of the
  // file.
  virtual unsigned int Read(void *buffer, unsigned long bytes, unsigned long *done) = 0;
  // Writes `bytes` bytes; *done (if not null) receives how many were written.
  virtual unsigned int Write(void const *buffer, unsigned long bytes, unsigned long *done) = 0;
  // Moves the position; *newPos (if not null) receives it.
  virtual unsigned int Seek(long distance, tFILEDEFS::eSEEKMODE from,
                            unsigned long *newPos) = 0;
  // The position in *pos.
  virtual unsigned int GetPos(unsigned long *pos) = 0;
  // Locks a byte range (tFILEDEFS::LOCK_*); 0 bytes means to the end.
  virtual unsigned int LockRegion(unsigned long offset, unsigned long bytes,
                                  unsigned int lockMode) = 0;
  // Unlocks a region locked before with the same offset and length (regions inside the range
  // are unlocked as a whole).
  virtual unsigned int UnlockRegion(unsigned long offset, unsigned long bytes) = 0;

 protected:
  tPHYFILEIOOBJ();
  virtual ~tPHYFILEIOOBJ();
};

// Joins the two facets; adds nothing.
class KELCORE_API tPHYSICAL_FILE : public virtual tPHYFILESYSOBJ,
                                   public virtual tPHYFILEIOOBJ {
 public:
  virtual ~tPHYSICAL_FILE();

 protected:
  tPHYSICAL_FILE();
};

#endif  // KELCORE_PHYSICAL_PHYSICAL_FILE_H
