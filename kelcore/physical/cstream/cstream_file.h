// C-stream files: the physical file over a C runtime FILE * stream.
//
// tCSTREAM joins tNOSYNC (no locking), tPHYSICAL_FILE, tCSTREAMFILEIO (the
// I/O facet on the stream), tPCFILENAME (DOS-style names) and
// tCSTREAMFILESYS (the file-system facet on the C runtime's path calls).
// It lets a logical file work over a stream the program already has, above
// all stdin, stdout and stderr, and it can open files itself.
//
// Streams handed in (constructor, SetStream) are borrowed: Close and the
// destructor leave them open. Streams this object opened are owned and
// closed by Close.
//
// Failures record a CStream library message of set 0 as the calling
// thread's last error, with errno as its first parameter (tPARM_ERRNO) and
// the file's name appended, and return the status of that errno. The
// numbers name the failing operation:
//
//    0 open (OpenExisting, OpenAlways)   7 test existence
//    1 close                             8 seek
//    3 flush                             9 get position
//    4 delete                           10 set size
//    5 rename                           11 get size
//    6 create (Create, CreateNew)
//
// Read and Write never fail: a short count in `done` is how the caller sees
// the end of the file or a short write (the logical file turns a short
// transfer without a count into a failure). Region locks, attributes,
// permissions and modification times do nothing and succeed.
//
// Switching direction: the C runtime forbids input straight after output
// and output straight after input without a flush or a seek between them.
// Read flushes after a Write, Write seeks by 0 after a Read, and Read
// clears the stream's end-of-file flag first, so that bytes added since
// the end was met (by another writer, by SetSize) are read.
//
// Streams without positions (pipes, terminals, the standard streams when
// they are one of these): Seek fails with ESPIPE (message 8) whatever it
// is asked, without touching the stream, and GetPos gives the number of
// bytes this object has read and written through the stream since it was
// attached or opened, so that a logical file's window can stand on it.
//
// With a log active, closing an owned stream writes the record
// `Closed file "<name>".` labelled "cstream" with the level bits 0xC0.
#ifndef KELCORE_PHYSICAL_CSTREAM_CSTREAM_FILE_H
#define KELCORE_PHYSICAL_CSTREAM_CSTREAM_FILE_H

#include <cstdio>

#include "kelcore/names/pc_file_name.h"
#include "kelcore/physical/physical_file.h"
#include "kelcore/platform/export.h"
#include "kelcore/sync/lock.h"

// The I/O facet on a C stream.
class KELCORE_API tCSTREAMFILEIO : public virtual tPHYFILEIOOBJ {
 public:
  // Opening needs a name; the stream is owned. An object that already has
  // a stream, owned or not, refuses with EACCES (status 3) and keeps it.
  // Only the read and write bits of `mode` count; `share` is not used.
  // A zero permission word creates a writable file; otherwise the bit
  // 0x2 makes it writable and without it the file is read-only.
  unsigned int OpenExisting(unsigned int mode, unsigned int share);
  unsigned int OpenAlways(unsigned int mode, unsigned int share, unsigned int permissions);
  unsigned int Create(unsigned int mode, unsigned int share, unsigned int permissions);
  unsigned int CreateNew(unsigned int mode, unsigned int share, unsigned int permissions);
  // Closes an owned stream; a borrowed stream or none is left alone
  // (result 0). The stream is forgotten even when fclose fails, because
  // the C runtime has released it either way.
  unsigned int Close();
  unsigned int Flush();
  // Flushes the stream's buffer first, so that data written before the
  // call cannot land beyond the new end afterwards.
  unsigned int SetSize(unsigned long size);
  // The size of the named file on disk (also when open).
  unsigned int GetSize(unsigned long *size);
  unsigned int Read(void *buffer, unsigned long bytes, unsigned long *done);
  unsigned int Write(void const *buffer, unsigned long bytes, unsigned long *done);
  unsigned int Seek(long distance, tFILEDEFS::eSEEKMODE from, unsigned long *newPos);
  unsigned int GetPos(unsigned long *pos);
  unsigned int LockRegion(unsigned long offset, unsigned long bytes, unsigned int lockMode);
  unsigned int UnlockRegion(unsigned long offset, unsigned long bytes);

  // Attaches `stream` as borrowed (null: none); the name is unchanged. A
  // stream this object owned is forgotten without being closed.
  void SetStream(std::FILE *stream);
  // The attached stream; null when none is open or attached. Whoever holds
  // the stream can move its position: from this call on, until the stream
  // is closed or another is attached, every position query and seek asks
  // the C runtime again.
  std::FILE *GetStream() const;
  // 1 when Close will close the stream.
  int OwnsStream() const;

 protected:
  // Attaches `stream` as borrowed (null: none).
  explicit tCSTREAMFILEIO(std::FILE *stream = nullptr);
  // Does not close the stream.
  virtual ~tCSTREAMFILEIO();

 private:
  tCSTREAMFILEIO(const tCSTREAMFILEIO &);
  tCSTREAMFILEIO &operator=(const tCSTREAMFILEIO &);

  unsigned int StdOpen(int flags, unsigned int mode, unsigned int permissions,
                       unsigned int msgNo);

  // Whether the stream can move (computed once per stream).
  int Seekable();
  // Forgets what is known about the stream: a new one was attached.
  void Attached();
  // Takes `pos` as the position the C runtime reported, for a stream
  // whose position is tracked (see pos_).
  void Track(long pos);

  std::FILE *stream_;
  int owns_stream_;
  int last_;              // the last transfer: 0 none, 1 read, 2 write
  int seekable_;          // -1 not known yet, 0 no, 1 yes
  unsigned long moved_;   // bytes read and written since attached
  // The position, as the C runtime last reported it and moved by this
  // object's own transfers since, so that a position query and a seek to
  // where the stream stands need no call into the C runtime. Valid while
  // pos_known_ is set, which only a stream this object opened and has not
  // handed out (GetStream) can be: the program moves a borrowed stream as
  // it likes.
  long pos_;
  mutable int pos_known_;
  mutable int handed_out_;
};

// The file-system facet on the C runtime's path calls.
class KELCORE_API tCSTREAMFILESYS : public virtual tPHYFILESYSOBJ {
 public:
  unsigned int Exists(int *exists);
  // rename() with the new name's text as it stands: it may move the file
  // to another directory. The object keeps its old name.
  unsigned int Rename(tPHYFILENAMEOBJ const &newName);
  // remove() of the named file: 0, or a status with the CStream library message (with the C
  // library's error) as the last error.
  unsigned int Delete();
  // These do nothing, leave their output alone and return 0.
  unsigned int GetAttributes(unsigned int *attributes);
  unsigned int SetAttributes(unsigned int attributes, unsigned int mask);
  unsigned int GetSecurity(unsigned int *permissions);
  unsigned int SetSecurity(unsigned int permissions, unsigned int mask);
  unsigned int GetModifyTime(tDATETIME *time);
  unsigned int SetModifyTime(tDATETIME const &time);

 protected:
  tCSTREAMFILESYS();
  virtual ~tCSTREAMFILESYS();
};

// The physical file over a C runtime stream (see the file comment). Failures are CStream
// library messages with the C library's error as the last error.
class KELCORE_API tCSTREAM : public tNOSYNC,
                             public tPHYSICAL_FILE,
                             public tCSTREAMFILEIO,
                             public tPCFILENAME,
                             public tCSTREAMFILESYS {
 public:
  // Attaches `stream` (borrowed) and names the object "stdin", "stdout" or
  // "stderr" when it is one of the standard streams; otherwise unnamed.
  explicit tCSTREAM(std::FILE *stream = nullptr);
  // Does not close the stream: its owner closes it first.
  virtual ~tCSTREAM();

  // Attaches `stream` (borrowed, as tCSTREAMFILEIO::SetStream) and names the object
  // after it as the constructor does; other streams keep the name.
  void SetStream(std::FILE *stream);

  // A new tCSTREAM with no stream.
  unsigned int AllocCompatFileObj(tPHYSICAL_FILE **out) const;
  // A new tCSTREAM attached to `stream` (borrowed) and named after it.
  virtual unsigned int AllocCompatFileObj(tPHYSICAL_FILE **out, std::FILE *stream) const;
  // There is no C-stream directory: *out becomes null and the result is 0.
  unsigned int AllocCompatDirObj(tPHYSICAL_DIR **out) const;

 private:
  tCSTREAM(const tCSTREAM &);
  tCSTREAM &operator=(const tCSTREAM &);

  void SetStdStreamFileName(std::FILE *stream);
};

#endif  // KELCORE_PHYSICAL_CSTREAM_CSTREAM_FILE_H
