// The name facet of every physical file and directory, and the message
// parameter that carries a file name.
//
// tPHYFILENAMEOBJ holds one path name and splits, rebuilds and tests it. What
// depends on the naming convention (separators, maximum length, what an
// absolute name looks like, fully qualifying, wildcard matching) is supplied
// by a convention class: tPCFILENAME (DOS-style names, pc_file_name.h) or
// tUNIXFILENAME (unix_file_name.h). File and directory classes inherit this
// class as a virtual base, so one object has exactly one name.
//
// Over-long names are refused, never cut: a setter whose resulting text has
// more than GetMaxLen() characters leaves the name empty (so nothing can be
// opened, created or deleted under a shortened, different name) and makes
// the OS library error 0 with the system error ERROR_FILENAME_EXCED_RANGE
// (206) the calling thread's last error, with the refused text, shortened
// and ended by "...", as its file-name parameter. The setters return
// nothing, so a caller that cares tests for an empty name afterwards. One
// trailing separator that SetName would remove anyway does not count
// towards the length.
//
// Name texts are never handed to callers as new arrays: GetName and the
// other getters return pointers into the object, valid until the next
// change of the name.
#ifndef KELCORE_NAMES_FILE_NAME_H
#define KELCORE_NAMES_FILE_NAME_H

#include "kelcore/msg/parameter.h"
#include "kelcore/platform/export.h"

class tMSG;

// A file name in one naming convention (DOS-style or UNIX-style): its parts, its location and
// its matching, without touching the disk (see the file comment). Names that cannot be stored
// leave an OS library message as the last error.
class KELCORE_API tPHYFILENAMEOBJ {
 public:
  // The virtual operations are declared in their interface order.
  virtual ~tPHYFILENAMEOBJ();
  // Stores `name` (null or empty: the empty name). One trailing separator
  // is removed unless the name is a root ("C:\dir\" becomes "C:\dir";
  // "C:\" and "\" stay). Drops any location object obtained earlier.
  virtual void SetName(const char *name);
  // Replaces the name by its fully qualified form.
  virtual void FullyQualify() = 0;
  // The largest number of characters a name may have.
  virtual unsigned int GetMaxLen() const = 0;
  // Non-zero when the name matches the wildcard pattern (see the
  // convention classes for the rules).
  virtual int NameMatches(const char *pattern) const = 0;
  // Non-zero when `c` is a path separator of the convention.
  virtual int PathChar(char c) const = 0;
  // The preferred separator.
  virtual char PathChar() const = 0;
  // The preferred separator as a one-character text.
  virtual const char *PathCharStr() const = 0;
  // Non-zero when `c` ends a location prefix: a separator, and for DOS
  // names also the drive colon.
  virtual int PathSep(char c) const = 0;
  // Non-zero when the name is absolute and no separator follows its root
  // prefix: "\", "C:\", "\file", "C:\file" (DOS); "/", "/etc" (UNIX).
  virtual int IsRoot() const = 0;
  // Stores a new, empty name object of the same convention in `*out` (the
  // caller owns it) and returns 0. Without memory: `*out` is null, the last
  // error is tERRMSG::OutOfMemory and the result is 0xFFFFFFFF.
  virtual unsigned int AllocCompatNameObj(tPHYFILENAMEOBJ **out) const = 0;

 protected:
  // The convention's writable buffer of GetMaxLen() + 1 characters.
  virtual char *_GetName() const = 0;
  // Non-zero when the current text is an absolute name.
  virtual int TestAbsolute() = 0;

 public:
  // The name's text; empty when no name is set.
  const char *GetName() const { return _GetName(); }
  // Non-zero when the name is absolute (has a root).
  int IsAbsolute() const { return absolute_ ? 1 : 0; }
  // Non-zero when the name is relative.
  int IsRelative() const { return absolute_ ? 0 : 1; }

  // Takes over the text of `other` and converts its separators to this
  // convention ("a/b" from a UNIX name becomes "a\b" in a DOS name).
  void SetName(const tPHYFILENAMEOBJ &other);
  // The value of the environment variable `envVar` if it is set, else
  // `defaultName`.
  void SetName(const char *envVar, const char *defaultName);

  // Replaces the location part, keeping the file-name part. With `merge`
  // non-zero a relative old location is kept below `dir`, and a relative
  // `dir` is resolved against an absolute old location:
  //   "sub\f.txt" + ("C:\new", 0) -> "C:\new\f.txt"
  //   "sub\f.txt" + ("C:\new", 1) -> "C:\new\sub\f.txt"
  //   "C:\dir\f.txt" + ("sub", 1) -> "C:\dir\sub\f.txt"
  void SetLocation(const char *dir, int merge);
  void SetLocation(const tPHYFILENAMEOBJ &dir, int merge);
  // Replaces the file-name part, keeping the location; null or empty leaves
  // only the location.
  void SetFileName(const char *fileName);
  // Replaces the extension of the final component; `ext` includes its dot
  // (".log"); null or empty removes the extension.
  void SetExtension(const char *ext);

  // The name of the containing directory, built on first use and owned by
  // this object: "C:\dir\f" -> "C:\dir", "C:\f" -> "C:\", "C:f" -> "C:",
  // "f" -> "". Valid until the name next changes; null without memory.
  tPHYFILENAMEOBJ *GetLocation();
  // The text after the last location separator; the whole name if none.
  const char *GetFileName() const;
  // The last "." of the final component and what follows it (".profile"
  // counts); the empty text when the final component has no dot.
  const char *GetExtension() const;
  // Non-zero when the final component has an extension.
  int HasExtension() const;
  // 1 when any character of the name ends a location prefix.
  int HasDir() const;

  // Appends a tPARM_FILENAME holding the name to `msg` (which adopts it)
  // and returns *msg. Without memory nothing is appended.
  tMSG &AddErrorContext(tMSG *msg) const;
  // A new tPARM_FILENAME holding the name, owned by the caller; null
  // without memory.
  operator tPARAMETER *() const;

 protected:
  tPHYFILENAMEOBJ();
  // Copies the absolute flag; the copy builds its own location when asked.
  tPHYFILENAMEOBJ(const tPHYFILENAMEOBJ &other);
  // Copies the text and the absolute flag; the location is built anew when
  // asked.
  tPHYFILENAMEOBJ &operator=(const tPHYFILENAMEOBJ &other);

  // A name that cannot be stored: the name becomes empty and the last
  // error the OS library error 0 with `osError` (ERROR_FILENAME_EXCED_RANGE
  // for an over-long text) and `text` as file name, cut to 255 characters
  // and "..." when longer. For convention classes whose own operations
  // produce names (FullyQualify).
  void _RefuseName(const char *text, unsigned int length, unsigned int osError);

 private:
  void ConvertPathChars(const tPHYFILENAMEOBJ &other);
  void DropLocation();
  // Non-zero when `obj` is this name's location, or its location, and so
  // on: objects that the next change of this name destroys.
  int InLocationChain(const tPHYFILENAMEOBJ *obj) const;

  int absolute_;
  tPHYFILENAMEOBJ *location_;
};

// A file name as a message parameter: formats and compares exactly as the
// string parameter it derives from (so it equals a tPARM_STRING of the same
// text).
class KELCORE_API tPARM_FILENAME : public tPARM_STRING {
 public:
  // Holds a copy of the name `name`.
  explicit tPARM_FILENAME(const char *name);
  ~tPARM_FILENAME();
};

#endif  // KELCORE_NAMES_FILE_NAME_H
