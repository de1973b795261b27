// The system's attribute bits as the library's attribute word, for files and
// directory entries alike. Internal to the library.
#ifndef KELCORE_PHYSICAL_OS_ATTRIBUTE_WORD_H
#define KELCORE_PHYSICAL_OS_ATTRIBUTE_WORD_H

#include "kelcore/physical/file_defs.h"
#include "kelcore/platform/file.h"

namespace kelos {

// FILE_ATTRIBUTE_NORMAL alone is a file; otherwise a directory when the
// directory bit is set, else a file; plus the archive flag.
inline unsigned int AttributeWord(kelsys::DWORD attrs) {
  // Unqualified: on Windows the names are the system's macros.
  using namespace kelsys;
  if (attrs == FILE_ATTRIBUTE_NORMAL) return tFILEDEFS::ATTR_FILE;
  unsigned int word =
      (attrs & FILE_ATTRIBUTE_DIRECTORY) ? tFILEDEFS::ATTR_DIRECTORY : tFILEDEFS::ATTR_FILE;
  if (attrs & FILE_ATTRIBUTE_ARCHIVE) word |= tFILEDEFS::ATTR_ARCHIVE;
  return word;
}

}  // namespace kelos

#endif  // KELCORE_PHYSICAL_OS_ATTRIBUTE_WORD_H
