// The logical file's buffer (tKEL_FILE_BUFFER): its window over the file,
// filled, written back and emptied through the I/O facet. The data path
// through it (Read, Write, Seek, GetPos, Flush, SetBuffer) is in
// logical_file_io.cpp.
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
using kelcore_internal::cMSG_SHORT_WRITE;
using kelcore_internal::cSTATUS_EOF;

// Writes all `count` bytes or fails. An I/O facet may report a short
// transfer only through its count (the C-stream back end never fails a
// write): without a count asked for, that is a failure, with the C
// library's reason (errno as the write left it) as FILESYS library
// error 4.
unsigned int kelcore_internal::WriteAll(tPHYFILEIOOBJ &io, const void *buf, unsigned long count) {
  unsigned long put = 0;
  errno = 0;
  unsigned int status = io.Write(buf, count, &put);
  if (status != 0 || put >= count) return status;
  int err = errno != 0 ? errno : ENOSPC;
  tMSG *msg = kelfilesys::NewLibraryError(cMSG_SHORT_WRITE);
  // Without memory for the parameter a null one keeps the name at %1.
  *msg << static_cast<tPARAMETER *>(new (std::nothrow) tPARM_ERRNO(err));
  tTHREAD::SetLastError(io.AddErrorContext(msg));
  return tERRNO::ToStatus(err);
}

// Reads all `count` bytes or fails with FILESYS library error 3 and
// status 4 (end of file), whichever back end is underneath.
unsigned int kelcore_internal::ReadAll(tPHYFILEIOOBJ &io, void *buf, unsigned long count) {
  unsigned long got = 0;
  unsigned int status = io.Read(buf, count, &got);
  if (status != 0 || got >= count) return status;
  tTHREAD::SetLastError(io.AddErrorContext(kelfilesys::NewLibraryError(cMSG_SHORT_READ)));
  return cSTATUS_EOF;
}

using kelcore_internal::ReadAll;
using kelcore_internal::WriteAll;

typedef tLOGICAL_FILE::tKEL_FILE_BUFFER tBUFFER;

tBUFFER::tKEL_FILE_BUFFER(unsigned int size, void *memory)
    : owned_(size != 0 && memory == nullptr ? 1 : 0), dirty_(0), base_(0),
      memory_(size != 0 ? static_cast<unsigned char *>(memory) : nullptr), size_(size),
      valid_(0), cursor_(0) {}

tBUFFER::~tKEL_FILE_BUFFER() {
  if (owned_) delete[] memory_;
}

void tBUFFER::Set(unsigned int size, void *memory) {
  if (owned_ && memory == nullptr && size == size_) return;
  if (owned_) delete[] memory_;
  // Memory without a size would be a window that never holds a byte.
  memory_ = size != 0 ? static_cast<unsigned char *>(memory) : nullptr;
  size_ = size;
  owned_ = size != 0 && memory == nullptr ? 1 : 0;
}

unsigned int tBUFFER::Allocate(tPHYFILEIOOBJ &io) {
  memory_ = new (std::nothrow) unsigned char[size_];
  if (memory_ == nullptr) {
    owned_ = 0;
    valid_ = cursor_ = 0;
    dirty_ = 0;
    return 0;
  }
  unsigned long pos = 0;
  unsigned int status = io.GetPos(&pos);
  if (status != 0) {
    // A window at an unknown place would misplace every byte: stay
    // configured, and try again at the next read or write.
    delete[] memory_;
    memory_ = nullptr;
    return status;
  }
  base_ = pos;
  valid_ = cursor_ = 0;
  dirty_ = 0;
  return 0;
}

unsigned int tBUFFER::Fill(tPHYFILEIOOBJ &io) {
  unsigned int status;
  if (valid_ < size_) {
    // Room left: extend the window from the end of its valid bytes.
    unsigned long pos = 0;
    status = io.GetPos(&pos);
    if (status == 0 && pos != base_ + valid_) {
      status = io.Seek(static_cast<long>(base_ + valid_), tFILEDEFS::SEEK_FROM_START, nullptr);
    }
  } else {
    status = Flush(io, 1);
  }
  if (status != 0) return status;
  unsigned long got = 0;
  status = io.Read(memory_ + valid_, size_ - valid_, &got);
  valid_ += static_cast<unsigned int>(got);
  return status;
}

unsigned int tBUFFER::Flush(tPHYFILEIOOBJ &io, int invalidate) {
  if (dirty_) {
    unsigned long pos = 0;
    unsigned int status = io.GetPos(&pos);
    if (status == 0 && pos != base_) {
      status = io.Seek(static_cast<long>(base_), tFILEDEFS::SEEK_FROM_START, nullptr);
    }
    if (status == 0) status = WriteAll(io, memory_, valid_);
    if (status != 0) return status;
    dirty_ = 0;
  }
  if (memory_ != nullptr && invalidate) return Invalidate(io);
  return 0;
}

unsigned int tBUFFER::Invalidate(tPHYFILEIOOBJ &io) {
  // The window changes only once the I/O facet is at the logical position:
  // a failure leaves a consistent (clean) window behind.
  const unsigned long logical = base_ + cursor_;
  unsigned long pos = 0;
  unsigned int status = io.GetPos(&pos);
  if (status == 0 && pos != logical) {
    errno = 0;
    status = io.Seek(static_cast<long>(logical), tFILEDEFS::SEEK_FROM_START, nullptr);
    if (status != 0 && errno == ESPIPE && pos == base_ + valid_ && !dirty_) {
      // The stream cannot move back (a pipe, a terminal): the bytes read
      // ahead but not delivered exist nowhere else, so they stay, as the
      // start of a window at the logical position; the stream stands just
      // past them, as it did.
      const unsigned int keep = valid_ - cursor_;
      std::memmove(memory_, memory_ + cursor_, keep);
      base_ = logical;
      valid_ = keep;
      cursor_ = 0;
      return 0;
    }
  }
  if (status != 0) return status;
  base_ = logical;
  valid_ = cursor_ = 0;
  dirty_ = 0;
  return 0;
}

void tBUFFER::Release() {
  if (owned_) delete[] memory_;
  memory_ = nullptr;
  valid_ = cursor_ = 0;
  base_ = 0;
  dirty_ = 0;
}

