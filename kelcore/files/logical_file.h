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
// physical file's lock facet while they run (a tOSFILE's is tNOSYNC, which
// does nothing; threads that share a logical file give it a physical file
// with a real lock, sync/lock.h).
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
  // Closes an open file (ignoring the result), then deletes an owned
  // physical file.
  virtual ~tLOGICAL_FILE();

  // --- the name (forwarded to the name facet) ---
  void SetName(char const *name);
  void SetName(tPHYFILENAMEOBJ const &name);
  // The environment variable's value if set, else `defaultName`.
  void SetName(char const *envVar, char const *defaultName);
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
  // Appends the file's full name to `msg` and returns it.
  tMSG &AddErrorContext(tMSG *msg) const;

  // --- the file as a directory entry (forwarded to the file-system facet;
  // open state and buffer are left alone) ---
  unsigned int Exists(int *exists);
  unsigned int Delete();
  unsigned int GetAttributes(unsigned int *attributes);
  unsigned int SetAttributes(unsigned int attributes, unsigned int mask);
  unsigned int GetSecurity(unsigned int *permissions);
  unsigned int SetSecurity(unsigned int permissions, unsigned int mask);
  unsigned int GetModifyTime(tDATETIME *time);
  unsigned int SetModifyTime(tDATETIME const &time);
  // On success the file's own name takes the new file name (in the same
  // location); a failed rename leaves the name alone.
  unsigned int Rename(tPHYFILENAMEOBJ const &newName);
  // The same with a DOS-style name.
  unsigned int Rename(char const *newName);
  unsigned int AllocCompatFileObj(tPHYSICAL_FILE **out) const;
  unsigned int AllocCompatDirObj(tPHYSICAL_DIR **out) const;

  // --- opening and closing (tFILEDEFS words, passed to the I/O facet) ---
  unsigned int OpenExisting(unsigned int access, unsigned int share);
  unsigned int OpenAlways(unsigned int access, unsigned int share, unsigned int attributes);
  unsigned int Create(unsigned int access, unsigned int share, unsigned int attributes);
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
  unsigned int Rewind();
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
  unsigned int UnlockRegion(tFILEDEFS::eSEEKMODE mode, unsigned long offset,
                            unsigned long length);
  unsigned int UnlockRegion(unsigned long offset, unsigned long length);
  unsigned int UnlockRegion(unsigned long length);

  // --- state and conversions ---
  int IsOpen() const;
  int IsReadable() const;
  int IsWritable() const;
  operator tPHYSICAL_FILE &();
  operator tPHYFILENAMEOBJ &();
  operator tPHYFILENAMEOBJ const &() const;
  operator tPHYSYNCOBJ &();
  // A new tPARM_FILENAME with the full name, owned by the caller; null
  // without memory.
  operator tPARAMETER *() const;

 protected:
  // 0 when the access mode has every wanted bit (1 read, 2 write);
  // otherwise FILESYS library error 2 and status 3.
  unsigned int AccessTest(unsigned int wanted);

 private:
  tLOGICAL_FILE(const tLOGICAL_FILE &);
  tLOGICAL_FILE &operator=(const tLOGICAL_FILE &);
  // Reads lines straight out of the window.
  friend class tTXTFILE;

  operator tPHYFILEIOOBJ &();
  tPHYFILESYSOBJ &FileSys() const;
  void PostOpen(unsigned int access);
  unsigned int ReadBuffered(void *buf, unsigned long count, unsigned long *got);

  void SetFacets();

  tPHYSICAL_FILE *physical_;
  // The facets of physical_, found once: the data path takes them for
  // every byte. sync_ is null when the lock facet is a tNOSYNC, which
  // does nothing anyway.
  tPHYSYNCOBJ *sync_;
  tPHYFILEIOOBJ *io_;
  tKEL_FILE_BUFFER buffer_;
  unsigned int access_;
  int own_;
  int open_;
};

#endif  // KELCORE_FILES_LOGICAL_FILE_H
