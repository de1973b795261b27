// The logical file: the file object that programs and the structured files
// use, and its read-ahead / write-behind buffer.
//
// A tLOGICAL_FILE owns no system resource itself: every operation is done by
// a physical file (physical/physical_file.h) reached through its four
// facets. What the logical file adds is one surface over those facets, an
// optional buffer in front of the I/O facet, the open state and access
// mode, region locks relative to the start, the position or the end, and
// the ownership of a physical file it made itself.
//
// Statuses and messages: every unsigned int result is a status (0 success,
// error/status.h). Failures of the facets pass through unchanged, with the
// facet's own last error. The logical file raises two messages of its own,
// from the FILESYS catalog (catalog/module_catalogs.h), each with the file's
// name as its parameter:
//
//   FILESYS library error 2  status 3  AccessTest finds a wanted access
//                                      bit missing
//   FILESYS library error 3  status 4  a Read without a count pointer got
//                                      fewer bytes than asked (buffered or
//                                      not, whatever the back end)
//   FILESYS library error 4  the errno's  a Write without a count pointer
//                            status       put fewer bytes than asked and the
//                                      I/O facet did not fail (the C-stream
//                                      back end); parameters: errno, name
//
// Buffering. A logical file starts unbuffered: every Read, Write, Seek and
// GetPos goes straight to the I/O facet. SetBuffer(size, memory) gives it
// one window of `size` bytes, in the caller's memory or (memory null) in a
// block the library allocates at the first Read or Write after opening and
// frees at Close. The window reads ahead a window at a time, collects
// writes and writes them back in one piece when the window must move (a
// read or write past its end, a seek outside it or from the end), on Flush,
// GetSize, SetSize, region locks and Close. Seeks inside the window and
// GetPos do no I/O. A failing write-behind keeps the data in the window:
// a later Flush or Close writes it. See docs/files.md for the whole pattern.
//
// Locking: Read, Write, Seek, GetPos, Flush, Close and SetBuffer hold the
// physical file's lock facet while they run, on every path (a tOSFILE's is
// tNOSYNC, which does nothing; threads that share a logical file give it a
// physical file with a real lock, for instance a class derived from tOSFILE
// that overrides LockObject and UnlockObject, sync/lock.h).
//
// UnlockRegion unlocks even when its write-back fails (and returns that
// failure), so a full disk never leaves a region locked.
#ifndef KELCORE_FILES_LOGICAL_FILE_H
#define KELCORE_FILES_LOGICAL_FILE_H

#include "kelcore/physical/file_defs.h"
#include "kelcore/platform/export.h"

class tDATETIME;
class tMSG;
class tPARAMETER;
class tPHYFILEIOOBJ;
class tPHYFILENAMEOBJ;
class tPHYFILESYSOBJ;
class tPHYSICAL_DIR;
class tPHYSICAL_FILE;
class tPHYSYNCOBJ;

// A file by name over a physical file, with an optional buffer window, locking and region locks
// (see the file comment). Statuses are 0 or an error code with the reason as the last error.
class KELCORE_API tLOGICAL_FILE {
 public:
  // One window of the file. The logical file's Read, Write, Seek, GetPos,
  // Flush and Close use it; a program only configures it (SetBuffer).
  class KELCORE_API tKEL_FILE_BUFFER {
   public:
    // Stores size and memory; a non-zero size without memory makes the
    // buffer allocate its own block when first used.
    tKEL_FILE_BUFFER(unsigned int size, void *memory);
    // Frees an owned block; writes nothing.
    ~tKEL_FILE_BUFFER();

    // Configures the window. An owning buffer asked again for its own size
    // without memory keeps its block. Otherwise an owned block is freed and
    // size and memory are stored. Writes nothing and keeps the window's
    // counters: tLOGICAL_FILE::SetBuffer flushes first on an open file.
    void Set(unsigned int size, void *memory);
    // Allocates an owned block and places the window at the I/O facet's
    // position. Without memory the file stays unbuffered (no failure).
    unsigned int Allocate(tPHYFILEIOOBJ &io);
    // Reads ahead: extends a window that is not full, else writes back and
    // moves the window to the logical position, then reads what fits.
    unsigned int Fill(tPHYFILEIOOBJ &io);
    // Writes back unwritten bytes; with `invalidate` also empties the
    // window, leaving the I/O facet at the logical position. A failing
    // write keeps the bytes for the next attempt.
    unsigned int Flush(tPHYFILEIOOBJ &io, int invalidate);
    // Frees an owned block and forgets caller memory; size and ownership
    // stay, so the next opening allocates again.
    void Release();

   private:
    friend class tLOGICAL_FILE;
    friend class tTXTFILE;
    tKEL_FILE_BUFFER(const tKEL_FILE_BUFFER &);
    tKEL_FILE_BUFFER &operator=(const tKEL_FILE_BUFFER &);

    unsigned int Invalidate(tPHYFILEIOOBJ &io);

    int owned_;             // the block is allocated and freed here
    int dirty_;             // bytes 0 .. valid_-1 are not yet written
    unsigned long base_;    // file position of the window's first byte
    unsigned char *memory_;
    unsigned int size_;     // capacity; 0 = unbuffered
    unsigned int valid_;    // meaningful bytes at the window's start
    unsigned int cursor_;   // the logical position is base_ + cursor_
  };

  // With a null `file` the logical file makes and owns a new tOSFILE (own
  // is then ignored). If that cannot be allocated, the last error is
  // tERRMSG::OutOfMemory and the file works on an inert stand-in: every
  // operation fails with status 0xFFFFFFFF and the out-of-memory message,
  // and the name stays empty.
  tLOGICAL_FILE(tPHYSICAL_FILE *file = 0, int own = 1);
  // Uses `file`; deletes it at the end when `own` is non-zero.
  tLOGICAL_FILE(tPHYSICAL_FILE &file, int own);
  // Closes an open file; when that fails, unwritten buffered bytes are
  // dropped and the physical file is closed anyway, so no descriptor,
  // region lock or share registration outlives the object. Then deletes an
  // owned physical file.
  virtual ~tLOGICAL_FILE();

  // --- the name (forwarded to the name facet) ---
  void SetName(char const *name);
  void SetName(tPHYFILENAMEOBJ const &name);
  // The environment variable's value if set, else `defaultName`.
  void SetName(char const *envVar, char const *defaultName);
  // As tPHYFILENAMEOBJ::SetLocation, on the physical file's name.
  void SetLocation(tPHYFILENAMEOBJ const &dir, int merge);
  void SetLocation(char const *dir, int merge);
  // As tPHYFILENAMEOBJ::SetFileName, on the physical file's name.
  void SetFileName(char const *fileName);
  // As tPHYFILENAMEOBJ::SetExtension, on the physical file's name.
  void SetExtension(char const *ext);
  // The physical file's name, as tPHYFILENAMEOBJ::GetName.
  char const *GetName() const;
  // As tPHYFILENAMEOBJ::GetFileName: the part after the last separator.
  char const *GetFileName() const;
  // As tPHYFILENAMEOBJ::GetExtension: the final component's extension with its dot, or "".
  char const *GetExtension() const;
  // As tPHYFILENAMEOBJ::GetLocation: the containing directory's name, owned by the name; null
  // without memory.
  tPHYFILENAMEOBJ *GetLocation();
  // As tPHYFILENAMEOBJ::NameMatches: non-zero when the name matches the wildcard pattern.
  int NameMatches(char const *pattern) const;
  // Non-zero when the name is absolute.
  int IsAbsolute() const;
  // Non-zero when the name is relative.
  int IsRelative() const;
  // As tPHYFILENAMEOBJ::IsRoot: non-zero for a root or a file directly in one.
  int IsRoot() const;
  // Non-zero when the final component has an extension.
  int HasExtension() const;
  // As tPHYFILENAMEOBJ::HasDir: 1 when the name has a location part.
  int HasDir() const;
  // Replaces the name by its fully qualified form; a name that cannot be qualified becomes
  // empty, with an OS library message as the last error.
  void FullyQualify();
  // The name convention's preferred separator.
  char PathChar() const;
  // The preferred separator as a one-character text.
  char const *PathCharStr() const;
  // Non-zero when `c` is a separator of the name's convention.
  int PathChar(char c) const;
  // Non-zero when `c` ends a location prefix (a separator, or a DOS drive colon).
  int PathSep(char c) const;
  // As tPHYFILENAMEOBJ::AllocCompatNameObj: 0 and a new empty name in *out, or 0xFFFFFFFF with
  // tERRMSG::OutOfMemory.
  unsigned int AllocCompatNameObj(tPHYFILENAMEOBJ **out) const;
  // Appends the file's full name to `msg` and returns it.
  tMSG &AddErrorContext(tMSG *msg) const;

  // --- the file as a directory entry (forwarded to the file-system facet;
  // open state and buffer are left alone) ---
  unsigned int Exists(int *exists);
  // Deletes the named file: 0, or a status with the reason as the last error (an open file is
  // not closed first).
  unsigned int Delete();
  // The attribute word (tFILEDEFS::ATTR_*) in *attributes: 0, or a status with the reason as
  // the last error.
  unsigned int GetAttributes(unsigned int *attributes);
  // Changes the attribute bits selected by `mask`: 0, or a status with the reason as the last
  // error.
  unsigned int SetAttributes(unsigned int attributes, unsigned int mask);
  // The permission word in *permissions (0555 or 0777 plus tFILEDEFS::PERM_*): 0, or a status
  // with the reason as the last error.
  unsigned int GetSecurity(unsigned int *permissions);
  // Changes the permission bits selected by `mask`: 0, or a status with the reason as the last
  // error.
  unsigned int SetSecurity(unsigned int permissions, unsigned int mask);
  // The last modification time, local time: 0, or a status with the reason as the last error.
  unsigned int GetModifyTime(tDATETIME *time);
  // Sets the modification time (local time): 0, or a status with the reason as the last error.
  unsigned int SetModifyTime(tDATETIME const &time);
  // On success the file's own name takes the new file name (in the same
  // location); a failed rename leaves the name alone.
  unsigned int Rename(tPHYFILENAMEOBJ const &newName);
  // The same with a DOS-style name.
  unsigned int Rename(char const *newName);
  // As tPHYFILESYSOBJ::AllocCompatFileObj: a new closed file of the same back end in *out, or
  // 0xFFFFFFFF with tERRMSG::OutOfMemory.
  unsigned int AllocCompatFileObj(tPHYSICAL_FILE **out) const;
  // As tPHYFILESYSOBJ::AllocCompatDirObj, for a directory of the matching back end.
  unsigned int AllocCompatDirObj(tPHYSICAL_DIR **out) const;

  // --- opening and closing (tFILEDEFS words, passed to the I/O facet) ---
  unsigned int OpenExisting(unsigned int access, unsigned int share);
  // Opens, creating the file when it is missing: 0, or a status with the reason as the last
  // error.
  unsigned int OpenAlways(unsigned int access, unsigned int share, unsigned int attributes);
  // Creates the file, emptying an existing one: 0, or a status with the reason as the last
  // error.
  unsigned int Create(unsigned int access, unsigned int share, unsigned int attributes);
  // Creates the file; fails (status 2) when it exists. 0, or a status with the reason as the
  // last error.
  unsigned int CreateNew(unsigned int access, unsigned int share, unsigned int attributes);
  // Writes back the buffer, releases it and closes the physical file. A
  // failing write-back or close returns its status and leaves the file
  // open (the unwritten bytes stay buffered for the next attempt).
  unsigned int Close();

  // --- data ---
  // Reads up to `count` bytes; `got` (may be null) receives how many came.
  // Fewer than asked is a success with `got`, and status 4 without it.
  unsigned int Read(void *buf, unsigned long count, unsigned long *got);
  // Writes `count` bytes; `put` (may be null) receives how many were taken.
  unsigned int Write(void const *buf, unsigned long count, unsigned long *put);
  // Moves the position from the start (0), the position (1) or the end
  // (2); `newPos` (may be null) receives the new position. Any other mode
  // moves nothing and reports the current position.
  unsigned int Seek(tFILEDEFS::eSEEKMODE mode, long offset, unsigned long *newPos);
  unsigned int Seek(long offset, unsigned long *newPos);
  // Seek to the start: 0, or a status with the reason as the last error.
  unsigned int Rewind();
  // The position, buffered bytes included, in *pos: 0, or a status with the reason as the last
  // error.
  unsigned int GetPos(unsigned long *pos);
  // Writes back buffered changes (not the system's buffers); with a
  // non-zero `invalidate` also empties the window.
  unsigned int Flush(int invalidate);
  // Configures the buffer (see tKEL_FILE_BUFFER::Set). On an open file the
  // window is written back and emptied first, so nothing is lost or
  // misplaced; if that write fails the old buffer stays, with the data,
  // and the last error says why.
  void SetBuffer(unsigned int size, void *memory);
  // The size including buffered bytes not yet written.
  unsigned int GetSize(unsigned long *size);
  // Sets the length. A closed file is opened for this call (read and
  // write) and closed again; a failed resize then keeps its own message as
  // the last error.
  unsigned int SetSize(unsigned long size);

  // --- region locks (flags: tFILEDEFS::LOCK_*; length 0 reaches to the
  // end of every possible file) ---
  // From the start (0), the position (1) or the end (2, or any other
  // mode). From the end, a file that grows meanwhile moves the region to
  // the new end.
  unsigned int LockRegion(tFILEDEFS::eSEEKMODE mode, unsigned long offset,
                          unsigned long length, unsigned int flags);
  unsigned int LockRegion(unsigned long offset, unsigned long length, unsigned int flags);
  // From the current position.
  unsigned int LockRegion(unsigned long length, unsigned int flags);
  // Unlocks a region given as for LockRegion: 0, or a status with the reason as the last error
  // (a region that was not locked as a whole fails).
  unsigned int UnlockRegion(tFILEDEFS::eSEEKMODE mode, unsigned long offset,
                            unsigned long length);
  unsigned int UnlockRegion(unsigned long offset, unsigned long length);
  unsigned int UnlockRegion(unsigned long length);

  // --- state and conversions ---
  int IsOpen() const;
  // Non-zero when the file is open with read access.
  int IsReadable() const;
  // Non-zero when the file is open with write access.
  int IsWritable() const;
  // The physical file (valid while this object lives).
  operator tPHYSICAL_FILE &();
  // The physical file's name object.
  operator tPHYFILENAMEOBJ &();
  // The physical file's name object, read-only.
  operator tPHYFILENAMEOBJ const &() const;
  // The physical file's lock facet, which serialises the threads sharing the physical file.
  operator tPHYSYNCOBJ &();
  // A new tPARM_FILENAME with the full name, owned by the caller; null
  // without memory.
  operator tPARAMETER *() const;

 protected:
  // 0 when the access mode has every wanted bit (1 read, 2 write);
  // otherwise FILESYS library error 2 and status 3.
  unsigned int AccessTest(unsigned int wanted);
  // Closes an open file whatever fails: unwritten buffered bytes are
  // dropped and the physical file is closed, its failure ignored. For
  // failure paths that must leave nothing open; the last error stays.
  void Abandon();
  // Drops unwritten buffered bytes and empties the window; the position is
  // then the physical file's. For callers about to rewrite the file whose
  // window holds bytes that cannot be written.
  void Discard();

 private:
  tLOGICAL_FILE(const tLOGICAL_FILE &);
  tLOGICAL_FILE &operator=(const tLOGICAL_FILE &);
  // Reads lines straight out of the window.
  friend class tTXTFILE;

  operator tPHYFILEIOOBJ &();
  tPHYFILESYSOBJ &FileSys() const;
  void PostOpen(unsigned int access);
  // Read's whole work under the lock facet; Read itself only copies out
  // of the window of a file with no lock facet to call.
  unsigned int ReadBuffered(void *buf, unsigned long count, unsigned long *got);

  void SetFacets();

  tPHYSICAL_FILE *physical_;
  // The facets of physical_, found once: the data path takes them for
  // every byte. sync_ is null only when physical_ is exactly a tOSFILE or
  // tCSTREAM (not a derived class), whose lock facet does nothing.
  tPHYSYNCOBJ *sync_;
  tPHYFILEIOOBJ *io_;
  tKEL_FILE_BUFFER buffer_;
  unsigned int access_;
  int own_;
  int open_;
};

#endif  // KELCORE_FILES_LOGICAL_FILE_H
