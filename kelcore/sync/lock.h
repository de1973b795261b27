// Lock facets and the scoped holder.
//
// tPHYSYNCOBJ is anything that can be locked and unlocked: the
// synchronisation facet of every physical file and directory, and the lock
// the log can be given. Locks never report failure: a lock whose primitive
// could not be created does nothing. Every lock is re-entrant for the thread
// that holds it, and every LockObject must be matched by one UnlockObject on
// the same thread.
#ifndef KELCORE_SYNC_LOCK_H
#define KELCORE_SYNC_LOCK_H

#include "kelcore/platform/export.h"

// Anything that can be locked and unlocked (see the file comment); locks never report failure.
class KELCORE_API tPHYSYNCOBJ {
 public:
  virtual ~tPHYSYNCOBJ();
  // Blocks until the caller holds the lock.
  virtual void LockObject() = 0;
  // Releases one hold.
  virtual void UnlockObject() = 0;
};

// No protection at all.
class KELCORE_API tNOSYNC : public virtual tPHYSYNCOBJ {
 public:
  tNOSYNC();
  ~tNOSYNC();
  void LockObject();
  void UnlockObject();
};

// Serialises the threads of one process (a critical section).
class KELCORE_API tINTRA_PROCESS_LOCK : public virtual tPHYSYNCOBJ {
 public:
  tINTRA_PROCESS_LOCK();
  ~tINTRA_PROCESS_LOCK();
  void LockObject();
  void UnlockObject();

 private:
  // A lock must not be copied: the copy would share the primitive.
  tINTRA_PROCESS_LOCK(const tINTRA_PROCESS_LOCK &);
  tINTRA_PROCESS_LOCK &operator=(const tINTRA_PROCESS_LOCK &);
  void *section_;  // the platform's critical section, owned
};

// Serialises every thread of every process that uses the same name (a named
// mutex). A null name gives a lock private to this object. The lock is
// released when a holding process ends, however it ends.
class KELCORE_API tINTER_PROCESS_LOCK : public virtual tPHYSYNCOBJ {
 public:
  // The lock named `name`, shared with every process that uses the same name; null: a lock
  // private to this object. A lock that cannot be created does nothing.
  explicit tINTER_PROCESS_LOCK(const char *name);
  ~tINTER_PROCESS_LOCK();
  void LockObject();
  void UnlockObject();

 private:
  tINTER_PROCESS_LOCK(const tINTER_PROCESS_LOCK &);
  tINTER_PROCESS_LOCK &operator=(const tINTER_PROCESS_LOCK &);
  void *mutex_;  // the platform's mutex handle, owned
};

// Holds a lock for the lifetime of a block. Built on a null reference it
// does nothing.
class KELCORE_API tOBJECT_LOCK {
 public:
  // Locks `obj` until the holder is destroyed.
  explicit tOBJECT_LOCK(tPHYSYNCOBJ &obj);
  ~tOBJECT_LOCK();

 private:
  tOBJECT_LOCK(const tOBJECT_LOCK &);
  tOBJECT_LOCK &operator=(const tOBJECT_LOCK &);
  tPHYSYNCOBJ *obj_;
};

#endif  // KELCORE_SYNC_LOCK_H
