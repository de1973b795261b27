// DOS-style names: drive letters, "\" or "/" as separators, matching without
// regard to case, at most 259 characters.
//
// On Linux and other POSIX systems the whole file system is one drive, C:,
// whose root is "/": "C:\tmp\x", "\tmp\x" and "/tmp/x" name the same file,
// and FullyQualify produces native paths ("/tmp/x"). See docs/names.md.
#ifndef KELCORE_NAMES_PC_FILE_NAME_H
#define KELCORE_NAMES_PC_FILE_NAME_H

#include "kelcore/names/file_name.h"
#include "kelcore/platform/export.h"

// A DOS-style file name: "\" or "/" as separators, an optional drive letter (see the file
// comment).
class KELCORE_API tPCFILENAME : public virtual tPHYFILENAMEOBJ {
 public:
  enum { cBUFFER_SIZE = 260 };

  tPCFILENAME();
  explicit tPCFILENAME(const char *name);
  // Takes over the text of `other`, converting separators to "\".
  explicit tPCFILENAME(const tPHYFILENAMEOBJ &other);
  // The value of the environment variable `envVar`, else `defaultName`.
  tPCFILENAME(const char *envVar, const char *defaultName);
  tPCFILENAME(const tPCFILENAME &other);
  // Copies the text of `other`; the copy builds its own location when asked.
  tPCFILENAME &operator=(const tPCFILENAME &other);
  ~tPCFILENAME();

  // Replaces the name by the C runtime's full path of it (drive and current
  // directory resolved, "." and ".." removed). On POSIX systems the result
  // is a native path. On failure the name becomes empty and the last error
  // is the OS library error 0 with the system's reason (206 when the full
  // path is longer than 259 characters).
  void FullyQualify();
  unsigned int GetMaxLen() const;
  int NameMatches(const char *pattern) const;
  int PathChar(char c) const;
  char PathChar() const;
  const char *PathCharStr() const;
  int PathSep(char c) const;
  int IsRoot() const;
  unsigned int AllocCompatNameObj(tPHYFILENAMEOBJ **out) const;

  // Wildcard match with "\" and "/" as separators: "?" is any character,
  // "*" any run of characters within one component, all else compared
  // without regard to case; the pattern must match the whole name or a
  // tail of whole components ("*.txt" and "dir\*.txt" both match
  // "C:\dir\a.txt"). An empty or null name never matches. A "*" also needs
  // at least one character of text left where it starts, so "a*" does not
  // match "a". Time is bounded by the product of the lengths, whatever the
  // pattern.
  static int NameMatches(const char *name, const char *pattern);

 protected:
  char *_GetName() const;
  int TestAbsolute();

 private:
  // mutable: the facet hands out its buffer from const members.
  mutable char name_[cBUFFER_SIZE];
};

#endif  // KELCORE_NAMES_PC_FILE_NAME_H
