// Critical sections and named mutexes on POSIX systems.
//
// A mutex handle points to a MutexHandle, which refers to a MutexRecord.
// Every handle of one name in this process refers to the same record, so
// ownership and recursion belong to the name, not to the handle. The record
// serialises the threads of this process with a pthread mutex and condition
// variable; while one of them owns it, the record also holds a write lock on
// byte 0 of the name's lock file through its own open file description. That
// lock excludes every other process and, being tied to the description, is
// dropped by the kernel when the process ends, however it ends.
//
// Only what the library's inter-process lock uses is emulated: a mutex that
// is not initially owned, infinite waits, release. Windows' initial
// ownership, ERROR_ALREADY_EXISTS, timed waits and WAIT_ABANDONED have no
// caller here, so they are refused or not reported rather than emulated
// untested. An owner that ends without releasing still lets the next
// waiter in.
#include "kelcore/platform/sync.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "kelcore/platform/error.h"

namespace kelsys {

void InitializeCriticalSection(CRITICAL_SECTION *cs) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&cs->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

void DeleteCriticalSection(CRITICAL_SECTION *cs) { pthread_mutex_destroy(&cs->mutex); }

namespace {

// Win32 caps a mutex's recursion at this count.
const DWORD kMaxRecursion = 0x7FFFFFFFu;
const char kLockFilePrefix[] = "kelcore-mutex-";

struct MutexRecord {
  // All live records, guarded by g_registry (named ones are found by path;
  // fork() needs all of them).
  MutexRecord *prev_all;
  MutexRecord *next_all;
  char *path;     // lock file, null for an unnamed mutex
  unsigned refs;  // open handles, guarded by g_registry
  bool orphaned;  // last handle closed while another thread owned it

  // Guarded by m.
  pthread_mutex_t m;
  pthread_cond_t cv;
  bool owned;       // set from the moment a thread starts taking the file lock
  pthread_t owner;  // valid while owned
  DWORD count;      // 0 while the owner is still taking the file lock
  bool broken;      // the lock file could not be reopened after fork()

  int fd;  // lock file, -1 for an unnamed mutex

  // The owner's list of mutexes it holds, touched only by the owner.
  MutexRecord *held_prev;
  MutexRecord *held_next;
};

pthread_mutex_t g_registry = PTHREAD_MUTEX_INITIALIZER;
MutexRecord *g_records = nullptr;
pthread_once_t g_atfork_once = PTHREAD_ONCE_INIT;

// The mutexes the calling thread owns. Its destructor runs when the thread
// exits and abandons whatever is still held, as Windows does.
struct HeldList {
  MutexRecord *head;
  ~HeldList();
};
thread_local HeldList t_held;

void HeldPush(MutexRecord *r) {
  r->held_prev = nullptr;
  r->held_next = t_held.head;
  if (t_held.head) t_held.head->held_prev = r;
  t_held.head = r;
}

void HeldRemove(MutexRecord *r) {
  if (r->held_prev) {
    r->held_prev->held_next = r->held_next;
  } else if (t_held.head == r) {
    t_held.head = r->held_next;
  }
  if (r->held_next) r->held_next->held_prev = r->held_prev;
  r->held_prev = r->held_next = nullptr;
}

void LinkRecord(MutexRecord *r) {  // g_registry held
  r->prev_all = nullptr;
  r->next_all = g_records;
  if (g_records) g_records->prev_all = r;
  g_records = r;
}

void UnlinkRecord(MutexRecord *r) {  // g_registry held
  if (r->prev_all) {
    r->prev_all->next_all = r->next_all;
  } else {
    g_records = r->next_all;
  }
  if (r->next_all) r->next_all->prev_all = r->prev_all;
  r->prev_all = r->next_all = nullptr;
}

// --- the lock file ------------------------------------------------------

// Byte 0 of the lock file is the mutex itself: write-locked by the owning
// process. The wait is infinite; a signal does not end it.
#if defined(F_OFD_SETLKW)
bool FileLockOnce(int fd, short type) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 1;
  return fcntl(fd, type == F_UNLCK ? F_OFD_SETLK : F_OFD_SETLKW, &fl) == 0;
}
bool FileLock(int fd) {
  while (!FileLockOnce(fd, F_WRLCK)) {
    if (errno != EINTR) return false;
  }
  return true;
}
void FileUnlock(int fd) { FileLockOnce(fd, F_UNLCK); }
#else
// flock() locks also belong to the open file description.
bool FileLock(int fd) {
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}
void FileUnlock(int fd) { flock(fd, LOCK_UN); }
#endif

// Opens (creating if needed) the lock file without following a symbolic
// link; -1 with errno set on failure. Opening an existing file first keeps
// working in sticky directories where O_CREAT on another user's file fails.
int OpenLockFile(const char *path) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    int fd = open(path, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) return fd;
    if (errno == EINTR) continue;
    if (errno != ENOENT) return -1;
    fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST && errno != EINTR) return -1;
  }
  errno = EAGAIN;
  return -1;
}

// The lock file must be a regular file: another user's FIFO or device in a
// shared directory must not stand in for it. -1 with errno set on failure.
int OpenRegularLockFile(const char *path) {
  int fd = OpenLockFile(path);
  if (fd < 0) return -1;
  struct stat st;
  int err = fstat(fd, &st) != 0 ? errno : (S_ISREG(st.st_mode) ? 0 : EINVAL);
  if (err == 0) return fd;
  close(fd);
  errno = err;
  return -1;
}

// --- names ----------------------------------------------------------------

std::uint64_t Fnv1a(const char *s) {
  std::uint64_t h = 14695981039346656037ull;
  for (; *s; ++s) {
    h ^= static_cast<unsigned char>(*s);
    h *= 1099511628211ull;
  }
  return h;
}

bool KeepsItsByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.';
}

// The user's runtime directory serves only if it is really this user's: a
// variable inherited across su, or left over from a session that has ended,
// would otherwise make every lock fail to open, and a lock that cannot be
// created does nothing.
bool UsableRuntimeDir(const char *dir) {
  if (!dir || dir[0] != '/') return false;
  struct stat st;
  return stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         access(dir, W_OK | X_OK) == 0;
}

// Turns a mutex name into the lock file's path in `out` (of `size` bytes).
// Letters, digits, '-', '_' and '.' stay; every other byte becomes %XX. A
// name that would make a file name longer than file systems allow becomes a
// hash of the whole name (marked with '~', which escaping never produces)
// followed by a readable prefix.
bool LockFilePath(const char *name, char *out, size_t size) {
  const char *dir = nullptr;
  if (std::strncmp(name, "Global\\", 7) == 0) {
    name += 7;
    dir = "/tmp";
  } else {
    if (std::strncmp(name, "Local\\", 6) == 0) name += 6;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    dir = UsableRuntimeDir(runtime) ? runtime : "/tmp";
  }
  static const char kHex[] = "0123456789ABCDEF";
  const size_t kMaxMapped = 180;
  char mapped[kMaxMapped + 64];
  size_t n = 0;
  bool too_long = false;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p; ++p) {
    if (n + 3 > kMaxMapped) {
      too_long = true;
      break;
    }
    if (KeepsItsByte(*p)) {
      mapped[n++] = static_cast<char>(*p);
    } else {
      mapped[n++] = '%';
      mapped[n++] = kHex[*p >> 4];
      mapped[n++] = kHex[*p & 15];
    }
  }
  mapped[n] = '\0';
  char hashed[kMaxMapped + 64];
  const char *leaf = mapped;
  if (too_long) {
    mapped[96] = '\0';
    std::uint64_t h = Fnv1a(name);
    char hex[17];
    for (int i = 15; i >= 0; --i, h >>= 4) hex[i] = kHex[h & 15];
    hex[16] = '\0';
    std::strcpy(hashed, "~");
    std::strcat(hashed, hex);
    std::strcat(hashed, "~");
    std::strcat(hashed, mapped);
    leaf = hashed;
  }
  size_t need = std::strlen(dir) + 1 + sizeof kLockFilePrefix - 1 + std::strlen(leaf) + 1;
  if (need > size) return false;
  std::strcpy(out, dir);
  std::strcat(out, "/");
  std::strcat(out, kLockFilePrefix);
  std::strcat(out, leaf);
  return true;
}

// --- records --------------------------------------------------------------

void InitRecordSync(MutexRecord *r) {
  pthread_mutex_init(&r->m, nullptr);
  pthread_cond_init(&r->cv, nullptr);
}

MutexRecord *NewRecord() {
  MutexRecord *r = new (std::nothrow) MutexRecord;
  if (!r) return nullptr;
  r->prev_all = r->next_all = nullptr;
  r->path = nullptr;
  r->refs = 0;
  r->orphaned = false;
  InitRecordSync(r);
  r->owned = false;
  r->owner = pthread_t();
  r->count = 0;
  r->broken = false;
  r->fd = -1;
  r->held_prev = r->held_next = nullptr;
  return r;
}

void DestroyRecord(MutexRecord *r) {
  if (r->fd >= 0) close(r->fd);  // drops the file lock if it is still held
  pthread_cond_destroy(&r->cv);
  pthread_mutex_destroy(&r->m);
  delete[] r->path;
  delete r;
}

MutexRecord *FindRecord(const char *path) {  // g_registry held
  for (MutexRecord *r = g_records; r; r = r->next_all) {
    if (r->path && !r->orphaned && std::strcmp(r->path, path) == 0) return r;
  }
  return nullptr;
}

bool OwnedBy(const MutexRecord *r, pthread_t self) {
  return r->owned && pthread_equal(r->owner, self);
}

// After fork() the child has only the forking thread, and its copies of the
// lock files' descriptions are shared with the parent: a lock the parent
// holds would live on in the child and outlast the parent. The child
// therefore starts from scratch: no owners, fresh descriptions.
void AtForkPrepare() { pthread_mutex_lock(&g_registry); }
void AtForkParent() { pthread_mutex_unlock(&g_registry); }
void AtForkChild() {
  for (MutexRecord *r = g_records; r; r = r->next_all) {
    InitRecordSync(r);
    r->owned = false;
    r->count = 0;
    r->held_prev = r->held_next = nullptr;
    if (r->fd >= 0) {
      close(r->fd);
      r->fd = OpenRegularLockFile(r->path);
      if (r->fd < 0) r->broken = true;
    }
  }
  t_held.head = nullptr;
  pthread_mutex_init(&g_registry, nullptr);
}
void RegisterAtFork() { pthread_atfork(&AtForkPrepare, &AtForkParent, &AtForkChild); }

// Releases the last hold of a record the calling thread owns (r->m held).
void ReleaseLocked(MutexRecord *r) {
  HeldRemove(r);
  if (r->fd >= 0) FileUnlock(r->fd);
  r->owned = false;
  r->count = 0;
  pthread_cond_signal(&r->cv);
}

HeldList::~HeldList() {
  while (MutexRecord *r = head) {
    pthread_mutex_lock(&r->m);
    ReleaseLocked(r);
    bool orphaned = r->orphaned;
    pthread_mutex_unlock(&r->m);
    if (orphaned) {
      pthread_mutex_lock(&g_registry);
      UnlinkRecord(r);
      pthread_mutex_unlock(&g_registry);
      DestroyRecord(r);
    }
  }
}

DWORD WaitRecord(MutexRecord *r) {
  pthread_t self = pthread_self();
  pthread_mutex_lock(&r->m);
  if (r->broken) {
    pthread_mutex_unlock(&r->m);
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  if (OwnedBy(r, self) && r->count > 0) {
    if (r->count == kMaxRecursion) {
      pthread_mutex_unlock(&r->m);
      SetLastError(ERROR_TOO_MANY_POSTS);
      return WAIT_FAILED;
    }
    ++r->count;
    pthread_mutex_unlock(&r->m);
    return WAIT_OBJECT_0;
  }
  while (r->owned) pthread_cond_wait(&r->cv, &r->m);
  // Claim the record before leaving its mutex: the other threads of this
  // process wait on the condition variable, not on the file lock.
  r->owned = true;
  r->owner = self;
  r->count = 0;
  if (r->fd >= 0) {
    pthread_mutex_unlock(&r->m);
    bool got = FileLock(r->fd);
    int err = errno;
    pthread_mutex_lock(&r->m);
    if (!got) {
      r->owned = false;
      pthread_cond_signal(&r->cv);
      pthread_mutex_unlock(&r->m);
      SetLastErrorFromErrno(err);
      return WAIT_FAILED;
    }
  }
  r->count = 1;
  HeldPush(r);
  pthread_mutex_unlock(&r->m);
  return WAIT_OBJECT_0;
}

class MutexHandle : public HandleObject {
 public:
  MutexHandle() : HandleObject(kMutex), record_(nullptr) {}
  MutexRecord *record() const { return record_; }
  void set_record(MutexRecord *r) { record_ = r; }

  bool Close() override {
    MutexRecord *r = record_;
    pthread_mutex_lock(&g_registry);
    if (--r->refs > 0) {
      pthread_mutex_unlock(&g_registry);
      return true;
    }
    pthread_mutex_lock(&r->m);
    if (r->owned && !pthread_equal(r->owner, pthread_self())) {
      // Its owner's thread still lists it; that thread frees it when it ends.
      r->orphaned = true;
      pthread_mutex_unlock(&r->m);
      pthread_mutex_unlock(&g_registry);
      return true;
    }
    // Closing the last handle while owning the mutex abandons it.
    if (r->owned) HeldRemove(r);
    pthread_mutex_unlock(&r->m);
    UnlinkRecord(r);
    pthread_mutex_unlock(&g_registry);
    DestroyRecord(r);
    return true;
  }

 private:
  MutexRecord *record_;
};

}  // namespace

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initial_owner, LPCSTR name) {
  if (initial_owner) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  char path[PATH_MAX];
  bool named = name && name[0];
  if (named && !LockFilePath(name, path, sizeof path)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  pthread_once(&g_atfork_once, &RegisterAtFork);

  MutexHandle *handle = new (std::nothrow) MutexHandle;
  if (!handle) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  pthread_mutex_lock(&g_registry);
  MutexRecord *r = named ? FindRecord(path) : nullptr;
  if (r) {
    ++r->refs;
    pthread_mutex_unlock(&g_registry);
    handle->set_record(r);
    return ToHandle(handle);
  }

  r = NewRecord();
  char *path_copy = nullptr;
  if (r && named) {
    size_t len = std::strlen(path);
    path_copy = new (std::nothrow) char[len + 1];
    if (path_copy) std::memcpy(path_copy, path, len + 1);
  }
  if (!r || (named && !path_copy)) {
    pthread_mutex_unlock(&g_registry);
    if (r) DestroyRecord(r);
    delete handle;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (named) {
    r->path = path_copy;
    r->fd = OpenRegularLockFile(path_copy);
    if (r->fd < 0) {
      int err = errno;
      pthread_mutex_unlock(&g_registry);
      DestroyRecord(r);
      delete handle;
      SetLastErrorFromErrno(err);
      return nullptr;
    }
  }
  r->refs = 1;
  LinkRecord(r);
  handle->set_record(r);
  pthread_mutex_unlock(&g_registry);
  return ToHandle(handle);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  HandleObject *obj = HandleCast(handle, HandleObject::kMutex);
  if (!obj) return WAIT_FAILED;
  if (milliseconds != INFINITE) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return WAIT_FAILED;
  }
  return WaitRecord(static_cast<MutexHandle *>(obj)->record());
}

BOOL ReleaseMutex(HANDLE mutex) {
  HandleObject *obj = HandleCast(mutex, HandleObject::kMutex);
  if (!obj) return FALSE;
  MutexRecord *r = static_cast<MutexHandle *>(obj)->record();
  pthread_mutex_lock(&r->m);
  if (!OwnedBy(r, pthread_self()) || r->count == 0) {
    pthread_mutex_unlock(&r->m);
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  if (--r->count == 0) ReleaseLocked(r);
  pthread_mutex_unlock(&r->m);
  return TRUE;
}

}  // namespace kelsys
