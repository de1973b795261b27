// Operating-system directories: the physical directory on the system's
// directory calls.
//
// tOSDIR joins tNOSYNC (no locking), tPHYSICAL_DIR, tOSDIRIO (listings as
// find-file searches), tPCFILENAME (DOS-style names) and tOSDIRSYS (the
// directory operations). Existence, rename, attributes, permissions and
// modification time are those of operating-system files (tOSFILESYS);
// only Delete differs: it removes an empty directory.
//
// Failures record an OS library message of set 0 (the numbers of
// physical/os/os_file.h) with the system error and the directory's name,
// and return the status of that error:
//
//    0 open a listing (code 5 when one is open already)
//    1 close a listing (code 6 when none is open)
//    2 read a listing: with the search pattern, not the name; the normal
//      end of a listing leaves it too, with status 1
//    4 delete               6 create            15 change current directory
//   10 read the attributes (Create)
//
// and the library's own codes 0xF000 (a root cannot be created, status 2),
// 0xF001 (the directory exists, status 0xFFFFFFFF), 0xF002 (a file of that
// name exists, status 3), 0xF004 (the directory is in use, status 3),
// 0xF005 (the name is not a directory, status 3).
//
// With a log active, Delete writes the record `Deleting directory "<name>"`
// labelled "os" with the level bits 0xC0; the files that DeleteFiles
// removes write those of operating-system files.
//
// A tOSDIR is not safe for concurrent use, and the current directory and
// drive are the whole process's.
#ifndef KELCORE_DIRS_OS_DIR_H
#define KELCORE_DIRS_OS_DIR_H

#include "kelcore/dirs/physical_dir.h"
#include "kelcore/names/pc_file_name.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/platform/export.h"
#include "kelcore/sync/lock.h"

// The directory file-system facet on the operating system's calls: creating, emptying and
// deleting directories, current directories. Failures are OS library messages with the system's
// error as the last error.
class KELCORE_API tOSDIRSYS : public tOSFILESYS, public virtual tPHYDIRSYSOBJ {
 public:
  // Creates the directory. An existing name is refused: a root with 0xF000,
  // a directory with 0xF001, a file with 0xF002.
  unsigned int Create();
  // Removes the directory, which must be empty (status 3 otherwise). A
  // symbolic link to a directory is removed itself.
  unsigned int Delete();
  // Deletes the regular files directly inside; with DELETE_SUBDIRS also
  // empties every subdirectory, recursively, and with DELETE_DIR as well
  // removes each emptied directory and this one. A symbolic link is never
  // followed: with DELETE_SUBDIRS | DELETE_DIR a link to a directory is
  // removed, without DELETE_DIR left alone. The first entry that cannot be
  // removed (a read-only file, say) stops the walk with its status and
  // message; what was removed before it stays removed, nothing after it
  // is touched.
  unsigned int DeleteFiles(unsigned int flags);
  // The current directory of `drive` (0: the current one) into `name`,
  // with a trailing separator when the name has room for it. Reading
  // another drive's makes that drive current for a moment; the process's
  // current directory is then put back as it was.
  unsigned int GetCurrent(tPHYFILENAMEOBJ &name, unsigned int drive);
  // Makes the named directory current; a name with a drive ("D:\x") makes
  // that drive current too.
  unsigned int SetCurrent() const;
  unsigned int IsEmpty(int *empty);

 protected:
  tOSDIRSYS();
  virtual ~tOSDIRSYS();

 private:
  unsigned int Report(unsigned int msgNo, unsigned int osError) const;
};

// The directory listing facet on the operating system's find calls. Failures are OS library
// messages with the system's error as the last error.
class KELCORE_API tOSDIRIO : public virtual tPHYDIRIOOBJ {
 public:
  int IsOpen();
  // Starts a listing; the search pattern is the name followed by "\*" (or
  // "*" alone after an empty name, ':', '/' or '\').
  unsigned int Open();
  // The next entry other than "." and ".."; status 1 at the end.
  unsigned int Read(tDIRFINDINFO &info);
  unsigned int Close();

 protected:
  tOSDIRIO();
  // Ends an open listing without reporting.
  virtual ~tOSDIRIO();

 private:
  friend class tOSDIRSYS;
  struct tLISTING;

  tOSDIRIO(const tOSDIRIO &);
  tOSDIRIO &operator=(const tOSDIRIO &);

  unsigned int Report(unsigned int msgNo, unsigned int osError);
  unsigned int ReportPattern(unsigned int msgNo, unsigned int osError);
  // The system's attribute bits of the entry Read returned last.
  unsigned long _LastAttributes() const;
  // Non-zero when the listing ended because its directory is not there:
  // the end of a listing and a missing directory both give status 1.
  int _Missing() const;
  void Release();

  tLISTING *listing_;  // null while no listing is open
};

// The operating-system directory: the physical directory the library uses by default (see the
// file comment).
class KELCORE_API tOSDIR : public tNOSYNC,
                           public tPHYSICAL_DIR,
                           public tOSDIRIO,
                           public tPCFILENAME,
                           public tOSDIRSYS {
 public:
  // Unnamed, no listing open.
  tOSDIR();
  // Ends an open listing.
  virtual ~tOSDIR();

  // A new, closed tOSFILE with an empty name.
  unsigned int AllocCompatFileObj(tPHYSICAL_FILE **out) const;
  // A new, unnamed tOSDIR.
  unsigned int AllocCompatDirObj(tPHYSICAL_DIR **out) const;

 private:
  tOSDIR(const tOSDIR &);
  tOSDIR &operator=(const tOSDIR &);
};

#endif  // KELCORE_DIRS_OS_DIR_H
