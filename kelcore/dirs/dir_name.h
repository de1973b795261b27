// Directory names that end with a separator. Internal to the library.
//
// SetName keeps names without a trailing separator, but the names of
// listed subdirectories and of current directories carry one, so that
// appending a file name needs no separator and Create can tell a root.
#ifndef KELCORE_DIRS_DIR_NAME_H
#define KELCORE_DIRS_DIR_NAME_H

#include <cstring>

#include "kelcore/names/file_name.h"

namespace keldirs {

// The separator a name already uses (its last one), else the convention's
// preferred one: a native POSIX path ("/tmp/x") goes on with "/", a DOS
// path ("C:\x") with "\".
inline char SeparatorOf(const tPHYFILENAMEOBJ &name) {
  const char *text = name.GetName();
  for (std::size_t i = std::strlen(text); i > 0; --i) {
    if (name.PathChar(text[i - 1])) return text[i - 1];
  }
  return name.PathChar();
}

// Ends `name` with its separator (SeparatorOf) unless it ends a location
// prefix already or has no room left; non-zero when it ends with one
// afterwards. GetName returns the convention's writable buffer (_GetName),
// which holds GetMaxLen() characters; nothing else of the name changes
// (the absolute flag is the same with or without the separator, and no
// location is cached right after a SetName).
inline int EndWithPathChar(tPHYFILENAMEOBJ &name) {
  char *text = const_cast<char *>(name.GetName());
  std::size_t len = std::strlen(text);
  if (len == 0) return 0;
  if (name.PathSep(text[len - 1])) return 1;
  if (len >= name.GetMaxLen()) return 0;
  text[len] = SeparatorOf(name);
  text[len + 1] = '\0';
  return 1;
}

}  // namespace keldirs

#endif  // KELCORE_DIRS_DIR_NAME_H
