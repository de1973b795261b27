// Internal to the library (not exported): the per-thread pool of small
// blocks behind the class allocation functions of messages and parameters,
// and behind the parameter list's nodes and the texts of text parameters.
//
// Building and formatting a message took about ten small allocations, which
// cost more than the formatting itself. Each thread keeps a few freed blocks
// of each size class and hands them out again. Every block is a separate
// allocation from operator new (nothrow) of its class's size, so any block
// may go back to operator delete at any time: a block freed on another
// thread joins that thread's pool; a thread whose pool is off, full or gone
// (the thread is ending) frees it at once.
//
// A thread can turn its pool off (tMSG::UseThreadPool), so that every
// allocation reaches operator new: the tests' allocation-failure injector
// does so while it is armed, which keeps every failure path reachable.
#ifndef KELCORE_MSG_OBJECT_POOL_H
#define KELCORE_MSG_OBJECT_POOL_H

#include <cstddef>

namespace kelcore_internal {

// A block of at least `size` bytes, aligned as operator new aligns; null
// without memory.
void *PoolAllocate(std::size_t size);
// Gives back a block from PoolAllocate; `size` is the size asked for then.
// A null block is ignored.
void PoolFree(void *block, std::size_t size);

// A text buffer of `size` bytes from the pool, freed by PoolFreeText without
// its size: a byte before the text keeps its size class, since finding the
// text's length again would cost more than the pool saves.
char *PoolAllocateText(std::size_t size);
void PoolFreeText(char *text);

// The calling thread's pool on (1) or off (0); the result is the setting
// before the call. Turning it off frees the blocks it holds.
int UseThreadPool(int on);

// The calling thread is ending: frees its blocks and closes its pool, so
// that blocks freed later go straight back to operator delete.
void ReleaseThreadPool();

}  // namespace kelcore_internal

#endif  // KELCORE_MSG_OBJECT_POOL_H
