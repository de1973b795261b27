// Message files: read-only record files holding message catalogs one after
// another (docs/formats.md gives the layout; tools/kelmsgc writes them).
//
// Every tMSGFILE, from construction to destruction, is in the process's
// message-file registry, in construction order. Catalog handles (tMSGCAT)
// name no file: the first text request of a handle searches the registered
// files, in that order, for a catalog of its name (and language), opening
// a closed file on the way, and stays bound to the file it found. When that
// file is destroyed, its handles notice at their next request and search
// again (they never touch the destroyed file).
//
// A program gets the library's English error texts by registering the
// message file installed as share/kelcore/kelcore.cat:
//
//   tMSGFILE texts;
//   texts.SetFile("/usr/share/kelcore/kelcore.cat", 0, 0, 0);
//
// (no identification or version expected: the file's first catalog is any
// catalog), or by compiling share/kelcore/kelcore.msg into its own message
// file after its own catalog (docs/catalogs.md). Registering checks
// nothing; texts.Check() right after SetFile tells whether the file serves
// texts, and DescribeFailure words its failure without a catalog.
//
// Failures: FindCatalog returns 10 with MSGFILE library error (set 1) 0
// when no catalog of the name follows the start offset, -1 with set-1
// error 1 when the catalog's language differs, -1 with MSGCAT library
// error (set 0) 0 when a catalog header is corrupt; failures of open, seek
// and record reads pass through with their own messages.
//
// Concurrency: each find operation holds the file's lock (its physical
// file's synchronisation facet) throughout; a message file built without a
// physical file gets an operating-system file with an in-process lock, so
// catalogs of several threads can share it. The registry itself has no
// lock: construct and destroy message files while no other thread looks up
// texts.
#ifndef KELCORE_CATALOG_MESSAGE_FILE_H
#define KELCORE_CATALOG_MESSAGE_FILE_H

#include "kelcore/files/record_file.h"
#include "kelcore/platform/export.h"

// A message file: the record file that holds compiled catalogs, registered so that catalogs
// find their texts in it (see the file comment). Errors are the record file's and MSGFILE
// library messages.
class KELCORE_API tMSGFILE : public tRECFILE {
 public:
  // As the record file's constructors, then the name "message.cat", then
  // registration. With a null `file` the message file makes and owns an
  // operating-system file with an in-process lock. Without memory for the
  // registry entry the file works but is not registered (last error
  // tERRMSG::OutOfMemory).
  tMSGFILE(tPHYSICAL_FILE *file = 0, int own = 1);
  tMSGFILE(tPHYSICAL_FILE &file, int own);
  // Closes the file if open and leaves the registry.
  virtual ~tMSGFILE();

  // The record file's: name, identification (the first catalog's name),
  // version (the first catalog's) and format version that Open checks.
  virtual unsigned int SetFile(char const *name, char const *id, char const *version,
                               char const *formatVersion);
  virtual unsigned int SetFile(tPHYFILENAMEOBJ const &name, char const *id,
                               char const *version, char const *formatVersion);

  // Opens the existing file for reading (share: deny writers), with the
  // record file's identification and version checks.
  unsigned int Open();
  // Closes the file (the record file's Close): 0, or the physical file's status with its
  // message as the last error.
  unsigned int Close();

  // Finds the first catalog named `name` (null: any) at or after file
  // offset `start`, opening the file if needed, and leaves the file at the
  // catalog's first byte. `language` (null or empty: any) must then equal
  // the catalog's, case aside. 0, 10 (no such catalog), -1, or a status
  // passed through.
  unsigned int FindCatalog(char const *name, unsigned long start, char const *language);
  // Given the offset of a catalog's first byte, positions the file at the
  // next catalog's; 4 at the end of the file.
  unsigned int FindNextCatalog(unsigned long offset);

  // The record file's context: name, identification and versions.
  tMSG &AddErrorContext(tMSG *msg) const;

  // Checks that the file can serve texts, as a lookup would find it: opens
  // it when it is closed (with the checks SetFile asked for) and reads the
  // identification, version and header of every catalog up to the end of
  // the file. 0 when the file holds one or more catalogs, all readable;
  // otherwise the status (1 missing, 3 no access, 7 another first catalog or
  // version, 0xFFFFFFFF damaged, ...) with the failure as the thread's last
  // error. A file the check opened is closed again. Registering a file
  // (construction, SetFile) checks nothing: call this after SetFile to learn
  // that a path is wrong before every text reads as a failed lookup.
  unsigned int Check();

  // `failure` in words that need no message file: for the failures of
  // opening and reading a message file (the OS and C-stream modules' open,
  // read, seek, position and size errors, the FILESYS module's short reads,
  // the record layer's REC errors 1 to 7) the library's English text with
  // the message's parameters, as in share/kelcore/kelcore.msg, whatever
  // catalogs are registered (the failure is often that of the file that
  // holds the texts); for any other message its formatted text. A new
  // char[] text (release with delete[]); null for a null message or
  // without memory. The thread's last error is the same afterwards.
  static char *DescribeFailure(tMSG *failure);

 private:
  tMSGFILE(const tMSGFILE &);
  tMSGFILE &operator=(const tMSGFILE &);
  void Register();
};

// The message file a program opens at start-up: a 512-byte read buffer and
// the open sequence in one call.
class KELCORE_API tSTDMSGFILE : public tMSGFILE {
 public:
  // As tMSGFILE's constructors, with a 512-byte read buffer.
  tSTDMSGFILE(tPHYSICAL_FILE *file = 0, int own = 1);
  tSTDMSGFILE(tPHYSICAL_FILE &file, int own);
  virtual ~tSTDMSGFILE();

  // Sets the file (DOS-style name), expects `catalog` as first catalog in a
  // version matching `version` and format version "A.02.00", and opens it.
  // `language` is not used: catalog handles name their own language. -1
  // when the settings cannot be stored; otherwise Open's result.
  unsigned int Initialize(char const *fileName, char const *catalog, char const *version,
                          char const *language);

 private:
  tSTDMSGFILE(const tSTDMSGFILE &);
  tSTDMSGFILE &operator=(const tSTDMSGFILE &);
};

#endif  // KELCORE_CATALOG_MESSAGE_FILE_H
