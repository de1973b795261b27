// The physical directory: the directory facets, the entry record a listing
// fills, and the directory constants.
//
//   tPHYDIRSYSOBJ  the directory as a whole: create, delete its contents,
//                  the current directory, the emptiness test; built on the
//                  file-system facet of files (existence, rename, delete,
//                  attributes, permissions, modification time)
//   tPHYDIRIOOBJ   reading the directory: open a listing, read its
//                  entries one by one, close it
//
// tPHYSICAL_DIR joins the two. A back end derives from it and from one
// implementation of each facet, of the name facet and of the lock facet;
// every facet is a virtual base, so a directory object holds exactly one
// name and one lock (the operating-system back end is tOSDIR,
// dirs/os_dir.h). Every operation returns a status (error/status.h) and
// records a message as the calling thread's last error when it fails.
#ifndef KELCORE_DIRS_PHYSICAL_DIR_H
#define KELCORE_DIRS_PHYSICAL_DIR_H

#include "kelcore/names/file_name.h"
#include "kelcore/names/pc_file_name.h"
#include "kelcore/physical/file_defs.h"
#include "kelcore/physical/physical_file.h"
#include "kelcore/platform/export.h"
#include "kelcore/sync/lock.h"

// The directory constants: the bits of DeleteFiles' argument.
class KELCORE_API tDIRDEFS {
 public:
  enum {
    DELETE_SUBDIRS = 1,  // also empty and remove every subdirectory
    DELETE_DIR = 2       // after emptying, remove the directory itself
  };
};

// One entry of a listing, filled by Read.
class KELCORE_API tDIRFINDINFO {
 public:
  tDIRFINDINFO();
  ~tDIRFINDINFO();

  // The entry's full name: the directory's name, a separator where needed
  // and the entry's own name; a subdirectory's name also ends with the
  // separator ("dir\sub\").
  tPCFILENAME Name;
  // tFILEDEFS::ATTR_FILE or ATTR_DIRECTORY, plus ATTR_ARCHIVE when the entry
  // has the archive flag.
  unsigned int Kind;
  // The short (8.3) name as the system reports it; empty when there is none
  // (always on POSIX systems).
  tPCFILENAME ShortName;
};

// The directory operations on a named directory (the file-system facet of a physical
// directory); every status is 0 or an error code with the reason as the last error.
class KELCORE_API tPHYDIRSYSOBJ : public virtual tPHYFILESYSOBJ {
 public:
  virtual ~tPHYDIRSYSOBJ();
  // The operations, in interface order.

  // Creates the named directory; its parent must exist.
  virtual unsigned int Create() = 0;
  // Deletes the directory's files; `flags` holds tDIRDEFS bits.
  virtual unsigned int DeleteFiles(unsigned int flags) = 0;
  // Stores the current directory of `drive` (0: the current drive, 1: A,
  // 2: B, ...) into `name`, ending with a separator.
  virtual unsigned int GetCurrent(tPHYFILENAMEOBJ &name, unsigned int drive) = 0;
  // Makes the named directory the process's current directory.
  virtual unsigned int SetCurrent() const = 0;
  // *empty becomes 1 when the directory has no entries (besides "." and
  // ".."), else 0.
  virtual unsigned int IsEmpty(int *empty) = 0;

 protected:
  tPHYDIRSYSOBJ();
};

// The listing facet of a physical directory: Open, Read entry by entry, Close.
class KELCORE_API tPHYDIRIOOBJ : public virtual tFILEDEFS,
                                 public virtual tPHYSYNCOBJ,
                                 public virtual tPHYFILENAMEOBJ {
 public:
  // The operations, in interface order.

  // Non-zero while a listing is open.
  virtual int IsOpen() = 0;
  // Starts a listing of the named directory.
  virtual unsigned int Open() = 0;
  // Fills the next entry; status 1 (not found) at the end of the listing.
  virtual unsigned int Read(tDIRFINDINFO &info) = 0;
  // Ends the listing.
  virtual unsigned int Close() = 0;

 protected:
  tPHYDIRIOOBJ();
  virtual ~tPHYDIRIOOBJ();
};

// Joins the two facets; adds nothing.
class KELCORE_API tPHYSICAL_DIR : public virtual tPHYDIRSYSOBJ, public virtual tPHYDIRIOOBJ {
 public:
  virtual ~tPHYSICAL_DIR();

 protected:
  tPHYSICAL_DIR();
};

#endif  // KELCORE_DIRS_PHYSICAL_DIR_H
