// The logical file's data path: Read, Write, Seek, GetPos, Flush and
// SetBuffer, through its buffer (file_buffer.cpp).
#include <cerrno>
#include <cstring>
#include <new>

#include "kelcore/msgcat/module_catalogs.h"
#include "kelcore/error/os_error.h"
#include "kelcore/files/logical_file.h"
#include "kelcore/files/whole_transfer.h"
#include "kelcore/msg/message.h"
#include "kelcore/physical/physical_file.h"
#include "kelcore/sync/lock.h"
#include "kelcore/sync/thread.h"

using kelcore_internal::cMSG_SHORT_READ;
using kelcore_internal::cSTATUS_EOF;
using kelcore_internal::ReadAll;
using kelcore_internal::WriteAll;

typedef tLOGICAL_FILE::tKEL_FILE_BUFFER tBUFFER;

// Keeps a slow path out of its caller, whose fast path then needs no
// saved registers.
#if defined(__GNUC__)
#  define KEL_NOINLINE __attribute__((noinline))
#else
#  define KEL_NOINLINE
#endif

namespace {
// Holds a lock facet (if any) for a block. Inline, unlike tOBJECT_LOCK:
// the data path takes it for every byte a program reads or writes one at a
// time.
class tHOLD {
 public:
  explicit tHOLD(tPHYSYNCOBJ *sync) : sync_(sync) {
    if (sync_ != nullptr) sync_->LockObject();
  }
  ~tHOLD() {
    if (sync_ != nullptr) sync_->UnlockObject();
  }

 private:
  tHOLD(const tHOLD &);
  tHOLD &operator=(const tHOLD &);
  tPHYSYNCOBJ *sync_;
};
}  // namespace

// --- the logical file's data path --------------------------------------------

unsigned int tLOGICAL_FILE::Read(void *buf, unsigned long count, unsigned long *got) {
  // A byte-at-a-time reader lives here: without a lock facet to call, a
  // byte the window holds is taken by a function that needs no stack
  // frame; everything else is one jump away.
  tBUFFER &b = buffer_;
  if (count == 1 && sync_ == nullptr && b.memory_ != nullptr && b.cursor_ < b.valid_) {
    *static_cast<unsigned char *>(buf) = b.memory_[b.cursor_++];
    if (got != nullptr) *got = 1;
    return 0;
  }
  return ReadBuffered(buf, count, got);
}

KEL_NOINLINE unsigned int tLOGICAL_FILE::ReadBuffered(void *buf, unsigned long count,
                                                      unsigned long *got) {
  tHOLD hold(sync_);
  tBUFFER &b = buffer_;
  // All of it in the window: a copy, nothing else.
  if (b.memory_ != nullptr && count <= b.valid_ - b.cursor_) {
    if (count == 1) {
      *static_cast<unsigned char *>(buf) = b.memory_[b.cursor_];
    } else if (count != 0) {
      std::memcpy(buf, b.memory_ + b.cursor_, count);
    }
    b.cursor_ += static_cast<unsigned int>(count);
    if (got != nullptr) *got = count;
    return 0;
  }
  tPHYFILEIOOBJ &io = *io_;
  if (b.memory_ == nullptr && b.owned_) {
    unsigned int status = b.Allocate(io);
    if (status != 0) {
      if (got != nullptr) *got = 0;
      return status;
    }
  }
  if (b.memory_ == nullptr) return got != nullptr ? io.Read(buf, count, got) : ReadAll(io, buf, count);

  unsigned char *out = static_cast<unsigned char *>(buf);
  unsigned long done = 0;
  unsigned int status = 0;
  while (done < count) {
    if (b.cursor_ >= b.valid_) {
      status = b.Fill(io);
      if (status != 0 || b.cursor_ >= b.valid_) break;
    }
    unsigned long n = b.valid_ - b.cursor_;
    if (n > count - done) n = count - done;
    std::memcpy(out + done, b.memory_ + b.cursor_, n);
    b.cursor_ += static_cast<unsigned int>(n);
    done += n;
  }
  if (got != nullptr) *got = done;
  if (status != 0 || done == count || got != nullptr) return status;
  tTHREAD::SetLastError(AddErrorContext(kelfilesys::NewLibraryError(cMSG_SHORT_READ)));
  return cSTATUS_EOF;
}

unsigned int tLOGICAL_FILE::Write(void const *buf, unsigned long count, unsigned long *put) {
  tHOLD hold(sync_);
  tBUFFER &b = buffer_;
  // All of it fits in the window.
  if (b.memory_ != nullptr && count != 0 && count <= b.size_ - b.cursor_) {
    if (count == 1) {
      b.memory_[b.cursor_] = *static_cast<const unsigned char *>(buf);
    } else {
      std::memcpy(b.memory_ + b.cursor_, buf, count);
    }
    b.cursor_ += static_cast<unsigned int>(count);
    b.dirty_ = 1;
    if (b.cursor_ > b.valid_) b.valid_ = b.cursor_;
    if (put != nullptr) *put = count;
    return 0;
  }
  tPHYFILEIOOBJ &io = *io_;
  if (b.memory_ == nullptr && b.owned_) {
    unsigned int status = b.Allocate(io);
    if (status != 0) {
      if (put != nullptr) *put = 0;
      return status;
    }
  }
  if (b.memory_ == nullptr) return put != nullptr ? io.Write(buf, count, put) : WriteAll(io, buf, count);

  const unsigned char *in = static_cast<const unsigned char *>(buf);
  unsigned long done = 0;
  while (done < count) {
    if (b.cursor_ >= b.size_) {
      unsigned int status = b.Flush(io, 1);
      if (status != 0) {
        if (put != nullptr) *put = done;
        return status;
      }
    }
    unsigned long n = b.size_ - b.cursor_;
    if (n > count - done) n = count - done;
    std::memcpy(b.memory_ + b.cursor_, in + done, n);
    b.cursor_ += static_cast<unsigned int>(n);
    done += n;
    b.dirty_ = 1;
    if (b.cursor_ > b.valid_) b.valid_ = b.cursor_;
  }
  if (put != nullptr) *put = done;
  return 0;
}

unsigned int tLOGICAL_FILE::Seek(tFILEDEFS::eSEEKMODE mode, long offset, unsigned long *newPos) {
  tHOLD hold(sync_);
  if (newPos != nullptr) *newPos = 0;
  tPHYFILEIOOBJ &io = *this;
  tBUFFER &b = buffer_;
  if (mode != tFILEDEFS::SEEK_FROM_START && mode != tFILEDEFS::SEEK_FROM_CURRENT &&
      mode != tFILEDEFS::SEEK_FROM_END) {
    // Moves nothing; the result says where the file is, buffered or not.
    if (newPos == nullptr) return 0;
    if (b.memory_ == nullptr) return io.Seek(0, tFILEDEFS::SEEK_FROM_CURRENT, newPos);
    *newPos = b.base_ + b.cursor_;
    return 0;
  }
  if (b.memory_ == nullptr) return io.Seek(offset, mode, newPos);

  unsigned int status;
  if (mode == tFILEDEFS::SEEK_FROM_END) {
    status = b.Flush(io, 1);
    unsigned long pos = 0;
    if (status == 0) status = io.Seek(offset, tFILEDEFS::SEEK_FROM_END, &pos);
    if (status != 0) return status;
    b.base_ = pos;
    b.valid_ = b.cursor_ = 0;
  } else {
    // Signed, so that a target before the start goes to the I/O facet,
    // which refuses it.
    long long target = offset;
    if (mode == tFILEDEFS::SEEK_FROM_CURRENT) {
      target += static_cast<long long>(b.base_ + b.cursor_);
    }
    if (target >= static_cast<long long>(b.base_) &&
        target <= static_cast<long long>(b.base_ + b.valid_)) {
      b.cursor_ = static_cast<unsigned int>(target - static_cast<long long>(b.base_));
    } else {
      status = b.Flush(io, 1);
      if (status == 0) status = io.Seek(static_cast<long>(target), tFILEDEFS::SEEK_FROM_START, nullptr);
      if (status != 0) return status;
      b.base_ = static_cast<unsigned long>(target);
      b.valid_ = b.cursor_ = 0;
    }
  }
  if (newPos != nullptr) *newPos = b.base_ + b.cursor_;
  return 0;
}

unsigned int tLOGICAL_FILE::Seek(long offset, unsigned long *newPos) {
  return Seek(tFILEDEFS::SEEK_FROM_START, offset, newPos);
}

unsigned int tLOGICAL_FILE::Rewind() { return Seek(tFILEDEFS::SEEK_FROM_START, 0, nullptr); }

unsigned int tLOGICAL_FILE::GetPos(unsigned long *pos) {
  tHOLD hold(sync_);
  if (buffer_.memory_ == nullptr) {
    tPHYFILEIOOBJ &io = *this;
    errno = 0;
    unsigned int status = io.Seek(0, tFILEDEFS::SEEK_FROM_CURRENT, pos);
    // A stream that cannot seek at all (a pipe: ESPIPE) may still know how
    // far it has come: its own position answers then.
    if (status != 0 && errno == ESPIPE && io.GetPos(pos) == 0) return 0;
    return status;
  }
  if (pos != nullptr) *pos = buffer_.base_ + buffer_.cursor_;
  return 0;
}

unsigned int tLOGICAL_FILE::Flush(int invalidate) {
  tOBJECT_LOCK hold(*this);
  return buffer_.Flush(*this, invalidate);
}

void tLOGICAL_FILE::SetBuffer(unsigned int size, void *memory) {
  tOBJECT_LOCK hold(*this);
  tPHYFILEIOOBJ &io = *this;
  tBUFFER &b = buffer_;
  // The owned block of this size stays in use, window and all.
  if (b.owned_ && memory == nullptr && size == b.size_) return;
  const int buffered = b.memory_ != nullptr;
  // An open file's window is written back and emptied first: afterwards
  // the I/O facet stands at the logical position and nothing is pending.
  if (open_ && buffered && b.Flush(io, 1) != 0) return;
  b.Set(size, memory);
  if (buffered || b.memory_ == nullptr) return;
  // Caller memory on a file that was unbuffered: the window starts where
  // the file stands. That includes a stream attached without opening,
  // which may already have been written to; a closed file opens at 0.
  unsigned long pos = 0;
  tMSG *before = open_ ? nullptr : tTHREAD::TakeOwnershipOfLastError();
  unsigned int status = io.GetPos(&pos);
  if (!open_) {
    tTHREAD::SetLastError(before);
    if (status != 0) pos = 0;
  } else if (status != 0) {
    b.memory_ = nullptr;
    b.size_ = 0;
    return;
  }
  b.base_ = pos;
  b.valid_ = b.cursor_ = 0;
  b.dirty_ = 0;
}
