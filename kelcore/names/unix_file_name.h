// UNIX-style names: "/" as the only separator, matching without regard to
// case, at most 1023 characters. Offered for names of the other convention
// and for converting between the two: a tUNIXFILENAME built from a DOS name
// turns both "\" and "/" into "/".
#ifndef KELCORE_NAMES_UNIX_FILE_NAME_H
#define KELCORE_NAMES_UNIX_FILE_NAME_H

#include "kelcore/names/file_name.h"
#include "kelcore/platform/export.h"

// A UNIX-style file name: "/" as the separator, no drive (see the file comment).
class KELCORE_API tUNIXFILENAME : public virtual tPHYFILENAMEOBJ {
 public:
  enum { cBUFFER_SIZE = 1024 };

  tUNIXFILENAME();
  explicit tUNIXFILENAME(const char *name);
  // Takes over the text of `other`, converting its separators to "/".
  explicit tUNIXFILENAME(const tPHYFILENAMEOBJ &other);
  // The value of the environment variable `envVar`, else `defaultName`.
  tUNIXFILENAME(const char *envVar, const char *defaultName);
  tUNIXFILENAME(const tUNIXFILENAME &other);
  // Copies the text of `other`; the copy builds its own location when asked.
  tUNIXFILENAME &operator=(const tUNIXFILENAME &other);
  ~tUNIXFILENAME();

  // Leaves the name as it is: UNIX names are not resolved against a
  // current directory.
  void FullyQualify();
  unsigned int GetMaxLen() const;
  int NameMatches(const char *pattern) const;
  int PathChar(char c) const;
  char PathChar() const;
  const char *PathCharStr() const;
  int PathSep(char c) const;
  int IsRoot() const;
  unsigned int AllocCompatNameObj(tPHYFILENAMEOBJ **out) const;

  // The wildcard match of tPCFILENAME::NameMatches with "/" as the only
  // separator: "/usr/Lib/X" matches "lib/x".
  static int NameMatches(const char *name, const char *pattern);

 protected:
  char *_GetName() const;
  int TestAbsolute();

 private:
  mutable char name_[cBUFFER_SIZE];
};

#endif  // KELCORE_NAMES_UNIX_FILE_NAME_H
