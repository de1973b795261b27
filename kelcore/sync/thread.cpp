#include "kelcore/sync/thread.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <new>

#include "kelcore/system/os_calls.h"
#include "kelcore/msg/message.h"
#include "kelcore/msg/null_object.h"
#include "kelcore/platform/thread_exit.h"
#include "kelcore/sync/last_error_log.h"
#include "kelcore/sync/lock.h"

namespace {

// The thread list and the slot definitions, all guarded by ListLock().
tTHREAD *g_head = nullptr;
tTHREAD *g_tail = nullptr;
tTLSDEF *g_defs = nullptr;
unsigned int g_block_size = 0;

// Each thread caches its own object (kelsys::GetThreadCache) so that the
// last error costs the same however many threads exist. A cache entry is
// valid while its epoch equals this one. The epoch moves, under the list
// lock, whenever a listed object is destroyed by a thread that does not
// hold it in its own cache: that object may sit in another thread's cache,
// which only that thread can clear.
std::atomic<unsigned long> g_epoch(1);

// fork() copies the list and the forking thread's cache into the child, but
// none of the parent's threads: every object listed there belongs to a
// thread of another process, whose id a thread of the child may receive
// later (a daemon's parent exits, its id is reused). Objects of an older
// generation are never found, and the new epoch empties the forking
// thread's cache, so it starts afresh as any new thread does.
std::atomic<unsigned int> g_generation(0);

void InForkChild() {
  g_generation.fetch_add(1, std::memory_order_relaxed);
  g_epoch.fetch_add(1, std::memory_order_release);
}

// Slots start at multiples of the fundamental alignment, so that any object
// may live in one.
const unsigned int kSlotAlign = alignof(std::max_align_t);

tPHYSYNCOBJ &ListLock() {
  // Constructed in static storage on first use (race-free) and never
  // destroyed: threads that end while the process is torn down still lock
  // it.
  // Every object is made after this, so the fork hook is in place first.
  alignas(tINTRA_PROCESS_LOCK) static unsigned char storage[sizeof(tINTRA_PROCESS_LOCK)];
  static tINTRA_PROCESS_LOCK *lock =
      (kelsys::CallInForkChild(InForkChild), new (storage) tINTRA_PROCESS_LOCK());
  // Held across fork(), so that no thread is inside the list when it
  // happens. The child's copy belongs to a thread of the parent (a
  // re-entrant lock remembers its owner), so the child makes a new one.
  static const bool heldAcrossFork =
      (kelsys::HoldAcrossFork(
           kelsys::kForkThreadList, [] { ListLock().LockObject(); },
           [] { ListLock().UnlockObject(); },
           [] {
             // The old one is locked: never destroyed, only kept reachable.
             alignas(tINTRA_PROCESS_LOCK) static unsigned char retired[sizeof storage];
             std::memcpy(retired, storage, sizeof storage);
             lock = new (storage) tINTRA_PROCESS_LOCK();
           }),
       true);
  (void)heldAcrossFork;
  return *lock;
}

int CurrentThreadId() { return tOSSYSCALLS::GetCurrentThreadId(); }

tTHREAD *CachedObject() {
  unsigned long epoch;
  void *object = kelsys::GetThreadCache(&epoch);
  if (object != nullptr && epoch == g_epoch.load(std::memory_order_acquire)) {
    return static_cast<tTHREAD *>(object);
  }
  return nullptr;
}

}  // namespace

// --- tTHREAD ---------------------------------------------------------------

tTHREAD::tTHREAD() { Init(0); }

tTHREAD::tTHREAD(int automatic) { Init(automatic); }

void tTHREAD::Init(int automatic) {
  id_ = CurrentThreadId();
  prev_ = nullptr;
  next_ = nullptr;
  last_error_ = nullptr;
  tls_ = nullptr;
  automatic_ = automatic;
  listed_ = 0;

  tOBJECT_LOCK hold(ListLock());
  generation_ = g_generation.load(std::memory_order_relaxed);
  for (tTHREAD *t = g_head; t != nullptr; t = t->next_) {
    // A second object: stays outside the list.
    if (t->id_ == id_ && t->generation_ == generation_) return;
  }
  prev_ = g_tail;
  if (g_tail != nullptr) {
    g_tail->next_ = this;
  } else {
    g_head = this;
  }
  g_tail = this;
  listed_ = 1;
  kelsys::SetThreadCache(this, g_epoch.load(std::memory_order_relaxed));
  // Joined before the block is built, so that a slot's constructor callback
  // that reaches for the thread's object finds this one instead of creating
  // another.
  tls_ = tTLSDEF::New();
}

tTHREAD::~tTHREAD() {
  // The definitions that describe this block, taken with the object out of
  // the list so that no slot declared later can be mistaken for part of it.
  const tTLSDEF *defs = nullptr;
  {
    tOBJECT_LOCK hold(ListLock());
    defs = g_defs;
    if (listed_) {
      if (prev_ != nullptr) {
        prev_->next_ = next_;
      } else {
        g_head = next_;
      }
      if (next_ != nullptr) {
        next_->prev_ = prev_;
      } else {
        g_tail = prev_;
      }
      prev_ = next_ = nullptr;
      listed_ = 0;

      unsigned long epoch;
      void *cached = kelsys::GetThreadCache(&epoch);
      unsigned long current = g_epoch.load(std::memory_order_relaxed);
      if (cached == this) kelsys::SetThreadCache(nullptr, 0);
      if (cached != this || epoch != current) {
        g_epoch.store(current + 1, std::memory_order_release);
      }
    }
  }
  tMSG *msg = last_error_;
  last_error_ = nullptr;
  tMSG::Dispose(msg);
  void *block = tls_;
  tls_ = nullptr;
  if (block != nullptr) {
    // Outside the lock: destructor callbacks may write log records, and a
    // record may look up a thread object.
    tTLSDEF::RunDestructors(block, defs, nullptr);
    delete[] static_cast<unsigned char *>(block);
  }
}

int tTHREAD::GetId() { return id_; }

tTHREAD *tTHREAD::Next() { return next_; }

// The lookups behind the public entry points. Defined in the class body,
// so they are inline and hidden: the last error's hot path calls them
// directly instead of going through the exported functions.
//
// The last error's paths (set, get, take) are a few loads when the thread's
// cached object is valid; everything else (searching the list, creating an
// object, the log record) is kept out of line, so that the common case
// needs no stack frame.
#if defined(__GNUC__)
#  define KELCORE_COLD __attribute__((noinline, cold))
#else
#  define KELCORE_COLD
#endif

struct tTHREAD::tIMPL {
  static tTHREAD *Find() {
    tTHREAD *t = CachedObject();
    if (t != nullptr) return t;
    return Search();
  }

  KELCORE_COLD static tTHREAD *Search() {
    tTHREAD *t;
    int id = CurrentThreadId();
    tOBJECT_LOCK hold(ListLock());
    unsigned int generation = g_generation.load(std::memory_order_relaxed);
    for (t = g_head; t != nullptr; t = t->next_) {
      if (t->id_ == id && t->generation_ == generation) {
        kelsys::SetThreadCache(t, g_epoch.load(std::memory_order_relaxed));
        return t;
      }
    }
    return nullptr;
  }

  static tTHREAD *Locate() {
    tTHREAD *t = CachedObject();
    if (t != nullptr) return t;
    return Create();
  }

  KELCORE_COLD static tTHREAD *Create() {
    tTHREAD *t = Search();
    if (t != nullptr) return t;
    t = new (std::nothrow) tTHREAD(1);
    if (t == nullptr) return nullptr;
    if (!t->listed_) {
      // Cannot happen unless the thread created an object meanwhile (from
      // a slot callback); that one is the thread's.
      delete t;
      return Find();
    }
    kelsys::WatchThreadExit(kelsys::kExitThreadObject, &tTHREAD::DeleteAutoThreadObject);
    return t;
  }

  static void SetLastError(tMSG *msg) {
    if (*kelcore_internal::kLogStream != nullptr) kelcore_internal::LogLastError(msg);
    tTHREAD *t = Locate();
    if (t == nullptr) {
      // Not recorded; the message was handed over all the same.
      tMSG::Dispose(msg);
      return;
    }
    tMSG *old = t->last_error_;
    if (old == msg) return;
    t->last_error_ = msg;
    if (old != nullptr) tMSG::Dispose(old);
  }
};

tTHREAD *tTHREAD::GetThreadObj() { return tIMPL::Find(); }

tTHREAD *tTHREAD::LocateThreadObj() { return tIMPL::Locate(); }

void tTHREAD::DeleteAutoThreadObject() {
  // A slot's destructor callback that uses the library (a log record, a
  // last error) brings a new automatic object to life while the old one is
  // destroyed; at thread end nobody else would delete it. A few rounds, as
  // POSIX gives thread-specific destructors, settle every sane callback.
  for (int round = 0; round < 4; ++round) {
    tTHREAD *t = tIMPL::Find();
    if (t == nullptr || !t->automatic_) return;
    delete t;
  }
}

void *tTHREAD::GetTLS(unsigned int offset) {
  tTHREAD *t = tIMPL::Locate();
  if (t == nullptr || t->tls_ == nullptr) return nullptr;
  return static_cast<unsigned char *>(t->tls_) + offset;
}

void tTHREAD::SetLastError(tMSG &msg) {
  // Callers pass a null reference to clear the last error.
  tIMPL::SetLastError(kelcore_internal::IsNull(&msg) ? nullptr : &msg);
}

void tTHREAD::SetLastError(tMSG *msg) { tIMPL::SetLastError(msg); }

tMSG *tTHREAD::GetLastError() {
  tTHREAD *t = tIMPL::Locate();
  return t != nullptr ? t->last_error_ : nullptr;
}

tMSG *tTHREAD::TakeOwnershipOfLastError() {
  tTHREAD *t = tIMPL::Locate();
  if (t == nullptr) return nullptr;
  tMSG *msg = t->last_error_;
  t->last_error_ = nullptr;
  return msg;
}

tMSG *tTHREAD::ExchangeLastError(tMSG *msg) {
  // Never creates an object just to hold nothing.
  tTHREAD *t = msg != nullptr ? tIMPL::Locate() : tIMPL::Find();
  if (t == nullptr) {
    tMSG::Dispose(msg);
    return nullptr;
  }
  tMSG *old = t->last_error_;
  t->last_error_ = msg;
  return old;
}

void tTHREAD::ResizeTLS(tTLSDEF *def, unsigned int old_size) {
  tOBJECT_LOCK hold(ListLock());
  unsigned int new_size = def->offset_ + def->size_;
  for (tTHREAD *t = g_head; t != nullptr; t = t->next_) {
    // A thread that lost its block to a lack of memory stays without one:
    // its older slots were never constructed.
    if (t->tls_ == nullptr && old_size != 0) continue;
    unsigned char *block = new (std::nothrow) unsigned char[new_size]();
    if (block == nullptr) {
      // A block without the new slot must not stay: GetTLS would reach past
      // its end. The thread loses its storage instead.
      tTLSDEF::RunDestructors(t->tls_, g_defs, def);
      delete[] static_cast<unsigned char *>(t->tls_);
      t->tls_ = nullptr;
      continue;
    }
    if (t->tls_ != nullptr) {
      std::memcpy(block, t->tls_, old_size);
      delete[] static_cast<unsigned char *>(t->tls_);
    }
    t->tls_ = block;
    if (def->construct_ != nullptr) def->construct_(block + def->offset_);
  }
}

// --- tTLSDEF ---------------------------------------------------------------

tTLSDEF::tTLSDEF(unsigned int size, void (*construct)(void *), void (*destruct)(void *))
    : next_(nullptr), offset_(0), size_(size), construct_(construct), destruct_(destruct) {
  // The definitions share the list lock with the blocks they describe, so a
  // slot may be declared while other threads create their objects.
  tOBJECT_LOCK hold(ListLock());
  unsigned int old_size = g_block_size;
  offset_ = (old_size + kSlotAlign - 1) / kSlotAlign * kSlotAlign;
  g_block_size = offset_ + size_;
  next_ = g_defs;
  g_defs = this;
  tTHREAD::ResizeTLS(this, old_size);
}

void *tTLSDEF::GetPtr() const { return tTHREAD::GetTLS(offset_); }

void *tTLSDEF::New() {
  tOBJECT_LOCK hold(ListLock());
  if (g_block_size == 0) return nullptr;
  unsigned char *block = new (std::nothrow) unsigned char[g_block_size]();
  if (block == nullptr) return nullptr;
  for (tTLSDEF *d = g_defs; d != nullptr; d = d->next_) {
    if (d->construct_ != nullptr) d->construct_(block + d->offset_);
  }
  return block;
}

void tTLSDEF::Delete(void *block) {
  if (block == nullptr) return;
  const tTLSDEF *defs;
  {
    tOBJECT_LOCK hold(ListLock());
    defs = g_defs;
  }
  // A definition never changes once it is in the list, so the walk needs
  // no lock.
  RunDestructors(block, defs, nullptr);
  delete[] static_cast<unsigned char *>(block);
}

void tTLSDEF::RunDestructors(void *block, const tTLSDEF *defs, const tTLSDEF *skip) {
  if (block == nullptr) return;
  for (const tTLSDEF *d = defs; d != nullptr; d = d->next_) {
    if (d != skip && d->destruct_ != nullptr) {
      d->destruct_(static_cast<unsigned char *>(block) + d->offset_);
    }
  }
}
