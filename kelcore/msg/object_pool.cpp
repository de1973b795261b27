#include "kelcore/msg/object_pool.h"

#include <new>

#include "kelcore/platform/thread_exit.h"

#if defined(__SANITIZE_ADDRESS__)
#define KELCORE_POOL_POISON 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELCORE_POOL_POISON 1
#endif
#endif

#if defined(KELCORE_POOL_POISON)
#include <sanitizer/asan_interface.h>
#endif

namespace kelcore_internal {
namespace {

// Size classes: 16 (list nodes, short texts), 32 (parameters), 64 (literal
// messages), 128 (catalog messages). Larger objects go to operator new.
const std::size_t kClasses = 4;
const std::size_t kClassSize[kClasses] = {16, 32, 64, 128};
// Enough for a few messages of ten parameters in flight on one thread, and
// at most 7.5 KB a thread.
const unsigned kMaxBlocks = 32;

struct tFREE_BLOCK {
  tFREE_BLOCK *next;
};

struct tPOOL {
  tFREE_BLOCK *head[kClasses];
  unsigned count[kClasses];
};

// The pool word of a thread that has none: never had one (null), turned it
// off, or is ending. Addresses of these objects, never dereferenced.
char g_off_tag, g_closed_tag;
void *const kOff = &g_off_tag;
void *const kClosed = &g_closed_tag;

inline std::size_t ClassOf(std::size_t size) {
  if (size <= 16) return 0;
  if (size <= 32) return 1;
  if (size <= 64) return 2;
  if (size <= 128) return 3;
  return kClasses;
}

// While a block rests in a pool, touching it is an error that the address
// sanitizer reports, as it would for freed memory.
inline void Poison(void *block, std::size_t size) {
#if defined(KELCORE_POOL_POISON)
  ASAN_POISON_MEMORY_REGION(block, size);
#else
  (void)block, (void)size;
#endif
}

inline void Unpoison(void *block, std::size_t size) {
#if defined(KELCORE_POOL_POISON)
  ASAN_UNPOISON_MEMORY_REGION(block, size);
#else
  (void)block, (void)size;
#endif
}

void Drain(tPOOL *pool) {
  for (std::size_t c = 0; c < kClasses; ++c) {
    while (pool->head[c] != nullptr) {
      tFREE_BLOCK *block = pool->head[c];
      Unpoison(block, kClassSize[c]);
      pool->head[c] = block->next;
      ::operator delete(block);
    }
    pool->count[c] = 0;
  }
}

// The thread's pool, made on first use; null when it is off, closed or
// cannot be allocated (then it is tried again next time).
tPOOL *ThreadPool() {
  void *word = kelsys::GetPoolSlot();
  if (word == kOff || word == kClosed) return nullptr;
  if (word != nullptr) return static_cast<tPOOL *>(word);
  tPOOL *pool = static_cast<tPOOL *>(::operator new(sizeof(tPOOL), std::nothrow));
  if (pool == nullptr) return nullptr;
  for (std::size_t c = 0; c < kClasses; ++c) {
    pool->head[c] = nullptr;
    pool->count[c] = 0;
  }
  kelsys::SetPoolSlot(pool);
  kelsys::WatchThreadExit(kelsys::kExitBlockPool, &ReleaseThreadPool);
  return pool;
}

}  // namespace

void *PoolAllocate(std::size_t size) {
  const std::size_t c = ClassOf(size);
  if (c == kClasses) return ::operator new(size, std::nothrow);
  tPOOL *pool = ThreadPool();
  if (pool != nullptr && pool->head[c] != nullptr) {
    tFREE_BLOCK *block = pool->head[c];
    Unpoison(block, kClassSize[c]);
    pool->head[c] = block->next;
    --pool->count[c];
    return block;
  }
  // The class's full size, so that the block can serve any request of its
  // class once it is freed.
  return ::operator new(kClassSize[c], std::nothrow);
}

void PoolFree(void *block, std::size_t size) {
  if (block == nullptr) return;
  const std::size_t c = ClassOf(size);
  void *word = c == kClasses ? nullptr : kelsys::GetPoolSlot();
  if (word == nullptr || word == kOff || word == kClosed) {
    ::operator delete(block);
    return;
  }
  tPOOL *pool = static_cast<tPOOL *>(word);
  if (pool->count[c] >= kMaxBlocks) {
    ::operator delete(block);
    return;
  }
  tFREE_BLOCK *free_block = static_cast<tFREE_BLOCK *>(block);
  free_block->next = pool->head[c];
  Poison(free_block, kClassSize[c]);
  pool->head[c] = free_block;
  ++pool->count[c];
}

char *PoolAllocateText(std::size_t size) {
  // The tag is the block's size when that fits a byte and a class, else a
  // size beyond every class: either way PoolFree finds the same class.
  const std::size_t block_size = size + 1;
  char *block = static_cast<char *>(PoolAllocate(block_size));
  if (block == nullptr) return nullptr;
  block[0] = static_cast<char>(block_size <= kClassSize[kClasses - 1] ? block_size : 255);
  return block + 1;
}

void PoolFreeText(char *text) {
  if (text == nullptr) return;
  char *block = text - 1;
  PoolFree(block, static_cast<unsigned char>(block[0]));
}

int UseThreadPool(int on) {
  void *word = kelsys::GetPoolSlot();
  if (word == kClosed) return 0;
  const int was_on = word != kOff;
  if (on && !was_on) {
    kelsys::SetPoolSlot(nullptr);  // made again on the next allocation
  } else if (!on && was_on) {
    if (word != nullptr) {
      Drain(static_cast<tPOOL *>(word));
      ::operator delete(word);
    }
    kelsys::SetPoolSlot(kOff);
  }
  return was_on;
}

void ReleaseThreadPool() {
  void *word = kelsys::GetPoolSlot();
  if (word != nullptr && word != kOff && word != kClosed) {
    Drain(static_cast<tPOOL *>(word));
    ::operator delete(word);
  }
  kelsys::SetPoolSlot(kClosed);
}

}  // namespace kelcore_internal
