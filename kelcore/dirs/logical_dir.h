// The logical directory: the directory object programs use.
//
// tLOGICAL_DIR owns or borrows one physical directory (physical_dir.h) and
// forwards every operation to the right facet, adding two compound
// operations of its own: creating missing parents, and taking the name of
// a current directory. tDIR is the plain logical directory.
//
//   tDIR dir;                          // makes and owns a tOSDIR
//   dir.SetName("C:\\data\\2024\\jan");
//   dir.Create(1);                     // with every missing parent
//   dir.Open();
//   tDIRFINDINFO entry;
//   while (dir.Read(entry) == 0) use(entry.Name.GetName(), entry.Kind);
//   dir.Close();
//
// Copies share the physical directory and its ownership: an owned physical
// directory is deleted once, when the last of the logical directories that
// share it goes, whichever that is.
//
// A logical directory that should have made its own tOSDIR but found no
// memory for it has no physical directory: construction leaves the
// out-of-memory message as the last error, every operation then fails with
// status 0xFFFFFFFF and that message (getters give empty texts and 0), and
// the conversions to facet references must not be used.
#ifndef KELCORE_DIRS_LOGICAL_DIR_H
#define KELCORE_DIRS_LOGICAL_DIR_H

#include "kelcore/dirs/physical_dir.h"
#include "kelcore/msg/parameter.h"
#include "kelcore/physical/file_defs.h"
#include "kelcore/platform/export.h"

class tMSG;

// A directory by name over a physical directory: its name, the directory as an entry, its
// listing and the directory operations (see the file comment). Statuses are 0 or an error code
// with the reason as the last error.
class KELCORE_API tLOGICAL_DIR : public tFILEDEFS, public tDIRDEFS {
 public:
  // With a null `dir`, a new tOSDIR owned whatever `own` says.
  tLOGICAL_DIR(tPHYSICAL_DIR *dir = 0, int own = 1);
  tLOGICAL_DIR(tPHYSICAL_DIR &dir, int own);
  tLOGICAL_DIR(const tLOGICAL_DIR &other);
  // Shares the physical directory of `other`, as the copy constructor does.
  tLOGICAL_DIR &operator=(const tLOGICAL_DIR &other);
  virtual ~tLOGICAL_DIR();

  // --- the name ---
  void SetName(char const *name);
  void SetName(char const *envVar, char const *defaultName);
  void SetName(tPHYFILENAMEOBJ const &name);
  // As tPHYFILENAMEOBJ::SetLocation, on the directory's name.
  void SetLocation(tPHYFILENAMEOBJ const &dir, int merge);
  void SetLocation(char const *dir, int merge);
  // As tPHYFILENAMEOBJ::SetFileName, on the directory's name.
  void SetFileName(char const *fileName);
  // As tPHYFILENAMEOBJ::SetExtension, on the directory's name.
  void SetExtension(char const *ext);
  // The directory's name.
  char const *GetName() const;
  // The part after the last separator.
  char const *GetFileName() const;
  // The final component's extension with its dot, or "".
  char const *GetExtension() const;
  // The containing directory's name, owned by the name; null without memory.
  tPHYFILENAMEOBJ *GetLocation();
  // Non-zero when the name matches the wildcard pattern.
  int NameMatches(char const *pattern) const;
  // Non-zero when the name is absolute.
  int IsAbsolute() const;
  // Non-zero when the name is relative.
  int IsRelative() const;
  // Non-zero for a root or a directory directly in one.
  int IsRoot() const;
  // Non-zero when the final component has an extension.
  int HasExtension() const;
  // 1 when the name has a location part.
  int HasDir() const;
  // Replaces the name by its fully qualified form.
  void FullyQualify();
  // The name convention's preferred separator.
  char PathChar() const;
  // The preferred separator as a one-character text.
  char const *PathCharStr() const;
  // Non-zero when `c` is a separator of the name's convention.
  int PathChar(char c) const;
  // Non-zero when `c` ends a location prefix (a separator, or a DOS drive colon).
  int PathSep(char c) const;
  // A new empty name of the same convention in *out, or 0xFFFFFFFF with tERRMSG::OutOfMemory.
  unsigned int AllocCompatNameObj(tPHYFILENAMEOBJ **out) const;
  // Appends the directory's name to `msg` as a tPARM_FILENAME and returns *msg.
  tMSG &AddErrorContext(tMSG *msg) const;

  // --- the directory as an entry ---
  unsigned int Exists(int *exists);
  // Renames the directory: 0, or a status with the reason as the last error.
  unsigned int Rename(tPHYFILENAMEOBJ const &newName);
  // Rename to a DOS-style name given as text.
  unsigned int Rename(char const *newName);
  // Deletes the (empty) directory: 0, or a status with the reason as the last error.
  unsigned int Delete();
  // The attribute word in *attributes: 0, or a status with the reason as the last error.
  unsigned int GetAttributes(unsigned int *attributes);
  // Changes the attribute bits selected by `mask`: 0, or a status with the reason as the last
  // error.
  unsigned int SetAttributes(unsigned int attributes, unsigned int mask);
  // The permission word in *permissions: 0, or a status with the reason as the last error.
  unsigned int GetSecurity(unsigned int *permissions);
  // Changes the permission bits selected by `mask`: 0, or a status with the reason as the last
  // error.
  unsigned int SetSecurity(unsigned int permissions, unsigned int mask);
  // A new closed file of the matching back end in *out, or 0xFFFFFFFF with
  // tERRMSG::OutOfMemory.
  unsigned int AllocCompatFileObj(tPHYSICAL_FILE **out) const;
  // A new directory object of the same back end in *out, or 0xFFFFFFFF with
  // tERRMSG::OutOfMemory.
  unsigned int AllocCompatDirObj(tPHYSICAL_DIR **out) const;

  // --- the directory ---
  unsigned int DeleteFiles(unsigned int flags);
  // Stores the current directory of `drive` (0: the current drive) in `name`, ending with a
  // separator.
  unsigned int GetCurrent(tPHYFILENAMEOBJ &name, unsigned int drive);
  // Makes this directory the process's current directory.
  unsigned int SetCurrent() const;
  // *empty becomes 1 when the directory has no entries besides "." and "..", else 0.
  unsigned int IsEmpty(int *empty);

  // --- listing ---
  unsigned int Open();
  // The next entry into `info`; status 1 (not found) after the last one.
  unsigned int Read(tDIRFINDINFO &info);
  // Ends the listing: 0, or a status with the reason as the last error.
  unsigned int Close();
  // Non-zero while a listing is open.
  int IsOpen() const;

  // --- conversions ---
  operator tPHYSICAL_DIR &();
  // The directory's name object.
  operator tPHYFILENAMEOBJ &();
  // The directory's name object, read-only.
  operator tPHYFILENAMEOBJ const &() const;
  // The physical directory's lock facet.
  operator tPHYSYNCOBJ &();
  // A new tPARM_FILENAME holding the name, owned by the caller; null
  // without memory.
  operator tPARAMETER *() const;

  // --- own operations ---
  // Creates the directory; with `parents` non-zero also every missing
  // parent, from the top down. Never creates a root: a walk that reaches
  // one ends with status 2.
  unsigned int Create(int parents);
  // Renames this directory to the current directory of `drive` (0: the
  // current drive), with a trailing separator.
  unsigned int SetToCurrent(unsigned int drive);

 private:
  void Join(const tLOGICAL_DIR &other);
  void Leave();

  tPHYSICAL_DIR *dir_;
  int own_;
  // The other logical directories sharing dir_, in a ring (this one alone:
  // both point here).
  mutable const tLOGICAL_DIR *prev_;
  mutable const tLOGICAL_DIR *next_;
};

// The everyday logical directory; adds nothing to tLOGICAL_DIR.
class KELCORE_API tDIR : public tLOGICAL_DIR {
 public:
  // As tLOGICAL_DIR's constructors.
  tDIR(tPHYSICAL_DIR *dir = 0, int own = 1);
  tDIR(tPHYSICAL_DIR &dir, int own);
  virtual ~tDIR();
};

#endif  // KELCORE_DIRS_LOGICAL_DIR_H
