// A physical file in memory that records every facet call and fails the
// Nth one on request: for checking exactly what the logical layers ask of
// their physical file, and what they do when it fails.
//
// Calls are recorded in order, one word each:
//   open openalways create createnew close flush getsize setsize:N getpos
//   read@POS:ASKED=GOT  write@POS:BYTES  seekMODE:DISTANCE  lock@OFF:LEN
//   unlock@OFF:LEN  and the file-system facet's exists rename:NAME delete
//   getattr setattr getsec setsec gettime settime
// A call that was made to fail ends in "!". Lock and unlock of the lock
// facet are not recorded but counted (Depth(), LockCount()).
//
// A failure records a message whose text names the call, with the file's
// name appended, as the thread's last error: FailedText() is its formatted
// text. Reads, writes, seeks and sizes behave as the operating-system file
// does: a read without a count that comes up short is status 4, seeks may
// pass the end, writes there fill the gap with zeros, closing a closed file
// succeeds.
//
// Self-contained (no test framework), so that fuzz targets can build it too.
#ifndef KELCORE_TESTS_SUPPORT_COUNTING_FILE_H
#define KELCORE_TESTS_SUPPORT_COUNTING_FILE_H

#include <functional>
#include <string>

#include "kelcore/names/pc_file_name.h"
#include "kelcore/physical/physical_file.h"

namespace kelcore_test {

class CountingFile : public tPHYSICAL_FILE, public tPCFILENAME {
 public:
  // Kinds of call, for choosing which to fail.
  enum {
    kREAD = 1,
    kWRITE = 2,
    kSEEK = 4,   // Seek, GetPos
    kSIZE = 8,   // GetSize, SetSize
    kOPEN = 16,  // the opens, Close, Flush
    kLOCK = 32,  // LockRegion, UnlockRegion
    kSYS = 64,   // the file-system facet
    kANY = 127
  };

  explicit CountingFile(const std::string &contents = std::string(), bool exists = true);
  ~CountingFile();

  std::string data;    // the file's bytes
  unsigned long pos;   // the position of the open file
  bool open;
  bool exists;
  // Called before each recorded call with its word (without a result).
  std::function<void(CountingFile &, const std::string &)> before;

  // The calls so far, separated by blanks; Forget() starts again.
  const std::string &Calls() const { return calls_; }
  void Forget() { calls_.clear(); }
  // The `nth` call (1-based, counted from now) among `kinds` fails with
  // `status`; 0 disarms.
  void FailNth(unsigned int nth, unsigned int status = 0xFFFFFFFFu, unsigned int kinds = kANY);
  // Calls made among `kinds` since the object was made.
  unsigned int Count(unsigned int kinds = kANY) const;
  // Text of the last injected failure; empty if none happened.
  const std::string &FailedText() const { return failed_text_; }
  int Depth() const { return depth_; }
  int LockCount() const { return locks_; }
  // Objects alive now, made by any constructor or AllocCompatFileObj.
  static int Alive();

  void LockObject();
  void UnlockObject();

  unsigned int Exists(int *exists);
  unsigned int Rename(tPHYFILENAMEOBJ const &newName);
  unsigned int Delete();
  unsigned int GetAttributes(unsigned int *attributes);
  unsigned int SetAttributes(unsigned int attributes, unsigned int mask);
  unsigned int GetSecurity(unsigned int *permissions);
  unsigned int SetSecurity(unsigned int permissions, unsigned int mask);
  unsigned int GetModifyTime(tDATETIME *time);
  unsigned int SetModifyTime(tDATETIME const &time);
  unsigned int AllocCompatFileObj(tPHYSICAL_FILE **out) const;
  unsigned int AllocCompatDirObj(tPHYSICAL_DIR **out) const;

  unsigned int OpenExisting(unsigned int mode, unsigned int share);
  unsigned int OpenAlways(unsigned int mode, unsigned int share, unsigned int permissions);
  unsigned int Create(unsigned int mode, unsigned int share, unsigned int permissions);
  unsigned int CreateNew(unsigned int mode, unsigned int share, unsigned int permissions);
  unsigned int Close();
  unsigned int Flush();
  unsigned int SetSize(unsigned long size);
  unsigned int GetSize(unsigned long *size);
  unsigned int Read(void *buffer, unsigned long bytes, unsigned long *done);
  unsigned int Write(void const *buffer, unsigned long bytes, unsigned long *done);
  unsigned int Seek(long distance, tFILEDEFS::eSEEKMODE from, unsigned long *newPos);
  unsigned int GetPos(unsigned long *pos);
  unsigned int LockRegion(unsigned long offset, unsigned long bytes, unsigned int lockMode);
  unsigned int UnlockRegion(unsigned long offset, unsigned long bytes);

 private:
  // Records `call`; true (after recording the failure) when it must fail.
  bool Enter(unsigned int kind, const std::string &call);
  unsigned int Fail(const std::string &why, unsigned int status);
  unsigned int OpenAs(const char *word, bool mustExist, bool mustNotExist, bool truncate);

  std::string calls_;
  std::string failed_text_;
  unsigned int counts_[7];
  unsigned int fail_kinds_;
  unsigned int fail_left_;
  unsigned int fail_status_;
  int depth_;
  int locks_;
};

}  // namespace kelcore_test

#endif  // KELCORE_TESTS_SUPPORT_COUNTING_FILE_H
