// Thread objects (the thread's last error and its thread-local storage) and
// the declarations of thread-local storage slots.
//
// Every thread that uses the library has one tTHREAD object, kept in one
// process-wide list keyed by the operating system's thread id. A thread may
// construct its object explicitly; otherwise the library creates one the
// first time the thread needs it (an "automatic" object) and deletes it when
// the thread ends.
//
// The last error is the message that describes the most recent failure of
// the calling thread. The thread object owns it: SetLastError hands a
// message over, GetLastError lends it, TakeOwnershipOfLastError hands it
// back to the caller and clears the slot.
//
// Thread-local storage does not use the operating system's slots: each
// thread object owns one heap block that holds every declared slot (a
// tTLSDEF, meant to be a static object) at a fixed offset. Declare slots at
// start-up; a slot declared later grows the block of every existing thread,
// so it must not happen while another thread is using its storage.
#ifndef KELCORE_SYNC_THREAD_H
#define KELCORE_SYNC_THREAD_H

#include "kelcore/platform/export.h"

class tMSG;
class tTLSDEF;
class tLOGMGR;

// Thread objects, the thread's last error and thread-local storage (see the file comment).
class KELCORE_API tTHREAD {
 public:
  // Joins the list as the calling thread's object, with a fresh storage
  // block, unless the thread already has one: then this object stays
  // outside the list, without a block.
  tTHREAD();
  // Leaves the list (if in it), disposes of the last error and destroys the
  // storage block (every slot's destructor callback runs).
  ~tTHREAD();

  // Operating-system id of the thread that constructed the object.
  int GetId();
  // The next object in the list; null at the end.
  tTHREAD *Next();

  // The calling thread's object, or null; never creates one.
  static tTHREAD *GetThreadObj();
  // The calling thread's object, created (as an automatic object) when the
  // thread has none; null only when memory is exhausted.
  static tTHREAD *LocateThreadObj();
  // Destroys the calling thread's object if the library created it (and
  // any automatic object a slot's destructor callback brings back to life
  // meanwhile); an explicitly constructed object is left alone. Runs when a
  // thread ends.
  static void DeleteAutoThreadObject();
  // The address `offset` bytes into the calling thread's storage block
  // (creating the thread object if needed); null when there is no object or
  // no block. tTLSDEF::GetPtr is the usual way in.
  static void *GetTLS(unsigned int offset);

  // Makes `msg` the calling thread's last error; the thread owns it from now
  // on. The previous last error is disposed of (static messages excepted;
  // passing the current last error again keeps it). A null reference clears
  // the last error. When no thread object can be obtained (out of memory)
  // the message is not recorded. Writes a "thread" record (levels 0xC4) to
  // an active log.
  static void SetLastError(tMSG &msg);
  // The same with a pointer: SetLastError(NULL) clears the last error.
  static void SetLastError(tMSG *msg);
  // The calling thread's last error, still owned by the thread; null if none
  // or when no thread object can be obtained.
  static tMSG *GetLastError();
  // The calling thread's last error, now owned by the caller; the thread's
  // slot is cleared.
  static tMSG *TakeOwnershipOfLastError();

 private:
  friend class tTLSDEF;
  friend class tLOGMGR;
  friend class tCATMSG;  // restores the last error around its own lookup
  struct tIMPL;  // the library's own lookups, kept out of the export table
  friend struct tIMPL;

  tTHREAD(int automatic);
  tTHREAD(const tTHREAD &);
  tTHREAD &operator=(const tTHREAD &);

  void Init(int automatic);
  // Grows every listed thread's block (of `old_size` bytes) for a newly
  // declared slot.
  static void ResizeTLS(tTLSDEF *def, unsigned int old_size);
  // Replaces the calling thread's last error without writing a record and
  // without disposing of the old one, which is returned. Used where a
  // record's own formatting must leave the last error as it found it.
  static tMSG *ExchangeLastError(tMSG *msg);

  int id_;
  tTHREAD *prev_;
  tTHREAD *next_;
  tMSG *last_error_;
  void *tls_;
  int automatic_;
  int listed_;
  // The process the object was built in: a child of fork() has a new one.
  unsigned int generation_;
};

// One slot of thread-local storage. Instances are meant to be static
// objects: a definition stays registered for the whole process.
class KELCORE_API tTLSDEF {
 public:
  // Registers a slot of `size` bytes. `construct` (may be null) is called
  // with the slot's address in every new block, and in every existing block
  // at once; `destruct` (may be null) before a block is freed. Constructor
  // callbacks run while the thread list is locked: they must not use the
  // library (no last error, no log records). Destructor callbacks may.
  tTLSDEF(unsigned int size, void (*construct)(void *), void (*destruct)(void *));

  // This slot in the calling thread's block; null without memory.
  void *GetPtr() const;

  // A new block for all declared slots, every slot constructed; null when no
  // slot is declared or memory is exhausted. Release it with Delete.
  static void *New();
  // Runs every slot's destructor callback on the block, then frees it. A
  // null block is ignored.
  static void Delete(void *block);

 private:
  friend class tTHREAD;

  tTLSDEF(const tTLSDEF &);
  tTLSDEF &operator=(const tTLSDEF &);

  // Runs the destructor callbacks of `defs` and the definitions declared
  // before it, except `skip`, on `block`.
  static void RunDestructors(void *block, const tTLSDEF *defs, const tTLSDEF *skip);

  tTLSDEF *next_;
  unsigned int offset_;
  unsigned int size_;
  void (*construct_)(void *);
  void (*destruct_)(void *);
};

#endif  // KELCORE_SYNC_THREAD_H
