// The constants of physical and logical files.
//
// tFILEDEFS carries no data: every file facet inherits it (virtually), so
// any file class can name the constants through itself, as in
// tOSFILE::MODE_READ.
#ifndef KELCORE_PHYSICAL_FILE_DEFS_H
#define KELCORE_PHYSICAL_FILE_DEFS_H

#include "kelcore/platform/export.h"

// The constants of files: access modes, share modes, permissions, attributes, seek origins and
// region-lock modes. Every file facet inherits it.
class KELCORE_API tFILEDEFS {
 public:
  // Access mode word (bits). A mode with neither MODE_READ nor MODE_WRITE
  // opens for reading.
  enum {
    MODE_READ = 1,
    MODE_WRITE = 2,
    MODE_READWRITE = 3,
    MODE_INHERIT = 4,       // child processes inherit the handle
    MODE_WRITETHROUGH = 8   // writes go through to the device
  };

  // Share word (one value): what other openings of the file may do.
  // Any other value, 0 included, behaves as SHARE_DENYNONE.
  enum {
    SHARE_DENYNONE = 1,   // read and write
    SHARE_DENYREAD = 2,   // write only
    SHARE_DENYWRITE = 3,  // read only
    SHARE_EXCLUSIVE = 4,  // nothing
    SHARE_AUTO = 5        // read only if this opening writes, else both
  };

  // Permission word: the UNIX permission bits 0777 plus these two. Read
  // back it is 0555 for a read-only file and 0777 otherwise, plus the
  // hidden and system bits the file has.
  enum {
    PERM_HIDDEN = 0x200,
    PERM_SYSTEM = 0x400
  };

  // Attribute word (bits); ATTR_FILE and ATTR_DIRECTORY exclude each other.
  enum {
    ATTR_FILE = 1,
    ATTR_DIRECTORY = 2,
    ATTR_ARCHIVE = 4
  };

  // Seek origins; any value other than 1 and 2 counts from the start.
  enum eSEEKMODE {
    SEEK_FROM_START = 0,
    SEEK_FROM_CURRENT = 1,
    SEEK_FROM_END = 2
  };

  // Region lock mode word (bits). Without LOCK_NOWAIT a lock waits until
  // the range is free; without LOCK_SHARED it is exclusive. A length of 0,
  // or one whose end would pass the largest unsigned long, reaches to the
  // end of every possible file.
  enum {
    LOCK_NOWAIT = 1,
    LOCK_SHARED = 2
  };
};

#endif  // KELCORE_PHYSICAL_FILE_DEFS_H
