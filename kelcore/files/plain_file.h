// The two plain specialisations of the logical file: tFILE, the base of
// the text file, and tBINFILE, the base of the record file. Neither adds
// anything to tLOGICAL_FILE (logical_file.h).
#ifndef KELCORE_FILES_PLAIN_FILE_H
#define KELCORE_FILES_PLAIN_FILE_H

#include "kelcore/files/logical_file.h"
#include "kelcore/platform/export.h"

// A logical file with nothing added: the base of the text file.
class KELCORE_API tFILE : public tLOGICAL_FILE {
 public:
  // As tLOGICAL_FILE's constructors.
  tFILE(tPHYSICAL_FILE *file = 0, int own = 1);
  tFILE(tPHYSICAL_FILE &file, int own);
  virtual ~tFILE();
};

// A logical file with nothing added: the base of the record file.
class KELCORE_API tBINFILE : public tLOGICAL_FILE {
 public:
  // As tLOGICAL_FILE's constructors.
  tBINFILE(tPHYSICAL_FILE *file = 0, int own = 1);
  tBINFILE(tPHYSICAL_FILE &file, int own);
  virtual ~tBINFILE();
};

#endif  // KELCORE_FILES_PLAIN_FILE_H
