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

class KELCORE_API tLOGICAL_DIR : public tFILEDEFS, public tDIRDEFS {
 public:
  // With a null `dir`, a new tOSDIR owned whatever `own` says.
  tLOGICAL_DIR(tPHYSICAL_DIR *dir = 0, int own = 1);
  tLOGICAL_DIR(tPHYSICAL_DIR &dir, int own);
  tLOGICAL_DIR(const tLOGICAL_DIR &other);
  tLOGICAL_DIR &operator=(const tLOGICAL_DIR &other);
  virtual ~tLOGICAL_DIR();

  // --- the name ---
  void SetName(char const *name);
  void SetName(char const *envVar, char const *defaultName);
  void SetName(tPHYFILENAMEOBJ const &name);
  void SetLocation(tPHYFILENAMEOBJ const &dir, int merge);
  void SetLocation(char const *dir, int merge);
  void SetFileName(char const *fileName);
  void SetExtension(char const *ext);
  char const *GetName() const;
  char const *GetFileName() const;
  char const *GetExtension() const;
  tPHYFILENAMEOBJ *GetLocation();
  int NameMatches(char const *pattern) const;
  int IsAbsolute() const;
  int IsRelative() const;
  int IsRoot() const;
  int HasExtension() const;
  int HasDir() const;
  void FullyQualify();
  char PathChar() const;
  char const *PathCharStr() const;
  int PathChar(char c) const;
  int PathSep(char c) const;
  unsigned int AllocCompatNameObj(tPHYFILENAMEOBJ **out) const;
  tMSG &AddErrorContext(tMSG *msg) const;

  // --- the directory as an entry ---
  unsigned int Exists(int *exists);
  unsigned int Rename(tPHYFILENAMEOBJ const &newName);
  // Rename to a DOS-style name given as text.
  unsigned int Rename(char const *newName);
  unsigned int Delete();
  unsigned int GetAttributes(unsigned int *attributes);
  unsigned int SetAttributes(unsigned int attributes, unsigned int mask);
  unsigned int GetSecurity(unsigned int *permissions);
  unsigned int SetSecurity(unsigned int permissions, unsigned int mask);
  unsigned int AllocCompatFileObj(tPHYSICAL_FILE **out) const;
  unsigned int AllocCompatDirObj(tPHYSICAL_DIR **out) const;

  // --- the directory ---
  unsigned int DeleteFiles(unsigned int flags);
  unsigned int GetCurrent(tPHYFILENAMEOBJ &name, unsigned int drive);
  unsigned int SetCurrent() const;
  unsigned int IsEmpty(int *empty);

  // --- listing ---
  unsigned int Open();
  unsigned int Read(tDIRFINDINFO &info);
  unsigned int Close();
  int IsOpen() const;

  // --- conversions ---
  operator tPHYSICAL_DIR &();
  operator tPHYFILENAMEOBJ &();
  operator tPHYFILENAMEOBJ const &() const;
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

class KELCORE_API tDIR : public tLOGICAL_DIR {
 public:
  tDIR(tPHYSICAL_DIR *dir = 0, int own = 1);
  tDIR(tPHYSICAL_DIR &dir, int own);
  virtual ~tDIR();
};

#endif  // KELCORE_DIRS_LOGICAL_DIR_H
