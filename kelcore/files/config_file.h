// Record configuration files: keyed entries stored as records.
//
// tCFGFILE keeps each configuration entry as one record of a record file
// (record_file.h): the record's type is the entry's key, chosen by the
// application (any value but 255), and its body the entry's value, raw
// bytes or a string with its NUL. Entries are appended in the order they
// are added; deleting one turns its record into a record of type 255 in
// place, with its length and body untouched, so the file never shrinks and
// searches pass over it like any record of another type. To update an
// entry, delete it and add it again.
//
// GetRec and DeleteRec(type) search forward from the current position; an
// entry before it is not found. After opening, the position is at the first
// entry; Seek or a fresh open go back.
//
// Each operation holds the physical file's lock for its whole duration, so
// a search and the read, write or delete that follows it are one step for
// every thread sharing the physical file (give it a real lock, sync/lock.h).
// Results and messages are the record file's.
#ifndef KELCORE_FILES_CONFIG_FILE_H
#define KELCORE_FILES_CONFIG_FILE_H

#include "kelcore/files/record_file.h"
#include "kelcore/platform/export.h"

// The version text of configuration files, "A.00.00", for SetFile.
extern KELCORE_API char const *const cCFG_VERSION;

// A record configuration file: keyed entries stored as records (see the file comment). Results
// and messages are the record file's.
class KELCORE_API tCFGFILE : public tRECFILE {
 public:
  // As the record file's constructors (see tLOGICAL_FILE): unbuffered with a new operating-
  // system file when `file` is null.
  tCFGFILE(tPHYSICAL_FILE *file = 0, int own = 1);
  tCFGFILE(tPHYSICAL_FILE &file, int own);
  virtual ~tCFGFILE();

  virtual unsigned int SetFile(char const *name, char const *id, char const *version,
                               char const *formatVersion);
  virtual unsigned int SetFile(tPHYFILENAMEOBJ const &name, char const *id,
                               char const *version, char const *formatVersion);

  // The next entry of that type: 0 when it fills `size` bytes exactly,
  // 9 when it is shorter, 8 when longer (cut to `size` bytes, no NUL
  // added); 1 when there is none. *length (if not null) receives the
  // entry's length.
  unsigned int GetRec(unsigned int type, void *buf, unsigned int size, unsigned int *length);
  // The same for strings: an entry shorter than the buffer is success.
  unsigned int GetRec(unsigned int type, char *buf, unsigned int size);
  // Appends an entry at the end of the file.
  unsigned int AddRec(unsigned int type, void const *data, unsigned int length);
  // Appends a string entry with its NUL.
  unsigned int AddRec(unsigned int type, char const *s);
  // Marks the entry whose header is at the current position as deleted;
  // the position stays at its header.
  unsigned int DeleteRec();
  // Finds the next entry of that type and deletes it.
  unsigned int DeleteRec(unsigned int type);

 private:
  tCFGFILE(const tCFGFILE &);
  tCFGFILE &operator=(const tCFGFILE &);
};

#endif  // KELCORE_FILES_CONFIG_FILE_H
