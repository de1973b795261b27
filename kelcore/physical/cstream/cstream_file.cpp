#include "kelcore/physical/cstream/cstream_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <new>
#include <ostream>

#include "kelcore/msgcat/module_catalogs.h"
#include "kelcore/error/os_error.h"
#include "kelcore/log/log_manager.h"
#include "kelcore/msg/message.h"
#include "kelcore/platform/crt_io.h"
#include "kelcore/sync/thread.h"

using namespace kelsys;

namespace {

// Set-0 message numbers of the CStream catalog.
enum {
  cMSG_OPEN = 0,
  cMSG_CLOSE = 1,
  cMSG_FLUSH = 3,
  cMSG_DELETE = 4,
  cMSG_RENAME = 5,
  cMSG_CREATE = 6,
  cMSG_EXISTS = 7,
  cMSG_SEEK = 8,
  cMSG_GET_POS = 9,
  cMSG_SET_SIZE = 10,
  cMSG_GET_SIZE = 11
};

const unsigned int cSTATUS_FAILURE = 0xFFFFFFFFu;

// The last transfer on the stream, for the C runtime's rule on switching
// between input and output.
// A read that came up short met the end of the file.
enum { cLAST_NONE = 0, cLAST_READ = 1, cLAST_WRITE = 2, cLAST_END = 3 };

// Makes CStream message `msgNo` with `err` and the file's name the thread's
// last error; returns the status for `err`.
unsigned int Report(const tPHYFILENAMEOBJ &file, unsigned int msgNo, int err) {
  tTHREAD::SetLastError(file.AddErrorContext(kelcstream::NewLibraryError(msgNo, err)));
  return tERRNO::ToStatus(err);
}

// Keeps the stream in binary mode for the length of one transfer and puts
// back the mode it had (a no-op on POSIX, where the modes are the same).
class tBINARY_MODE {
 public:
  explicit tBINARY_MODE(std::FILE *stream) : fd_(_fileno(stream)), previous_(-1) {
    if (fd_ >= 0) previous_ = _setmode(fd_, cO_BINARY);
  }
  ~tBINARY_MODE() {
    if (previous_ != -1 && previous_ != cO_BINARY) _setmode(fd_, previous_);
  }

 private:
  int fd_;
  int previous_;
};

}  // namespace

// ---------------------------------------------------------------------------
// tCSTREAMFILEIO

tCSTREAMFILEIO::tCSTREAMFILEIO(std::FILE *stream)
    : stream_(stream), owns_stream_(0), last_(cLAST_NONE), seekable_(-1), moved_(0), pos_(0),
      pos_known_(0), handed_out_(0) {}

tCSTREAMFILEIO::~tCSTREAMFILEIO() {}

void tCSTREAMFILEIO::SetStream(std::FILE *stream) {
  stream_ = stream;
  owns_stream_ = 0;
  Attached();
}

void tCSTREAMFILEIO::Attached() {
  last_ = cLAST_NONE;
  seekable_ = -1;
  moved_ = 0;
  pos_known_ = 0;
  handed_out_ = 0;
}

void tCSTREAMFILEIO::Track(long pos) {
  pos_ = pos;
  pos_known_ = owns_stream_ && !handed_out_;
}

int tCSTREAMFILEIO::Seekable() {
  if (seekable_ < 0) seekable_ = IsSeekableDescriptor(_fileno(stream_));
  return seekable_;
}

std::FILE *tCSTREAMFILEIO::GetStream() const {
  handed_out_ = 1;
  pos_known_ = 0;
  return stream_;
}

int tCSTREAMFILEIO::OwnsStream() const { return owns_stream_; }

unsigned int tCSTREAMFILEIO::OpenExisting(unsigned int mode, unsigned int) {
  return StdOpen(0, mode, 0, cMSG_OPEN);
}

unsigned int tCSTREAMFILEIO::OpenAlways(unsigned int mode, unsigned int,
                                        unsigned int permissions) {
  return StdOpen(O_CREAT, mode, permissions, cMSG_OPEN);
}

unsigned int tCSTREAMFILEIO::Create(unsigned int mode, unsigned int, unsigned int permissions) {
  return StdOpen(O_CREAT | O_TRUNC, mode, permissions, cMSG_CREATE);
}

unsigned int tCSTREAMFILEIO::CreateNew(unsigned int mode, unsigned int,
                                       unsigned int permissions) {
  return StdOpen(O_CREAT | O_EXCL, mode, permissions, cMSG_CREATE);
}

unsigned int tCSTREAMFILEIO::StdOpen(int flags, unsigned int mode, unsigned int permissions,
                                     unsigned int msgNo) {
  // A second open would otherwise replace the stream and leave the first
  // one open for good; the operating-system back end refuses the same way.
  if (stream_ != nullptr) return Report(*this, msgNo, EACCES);

  if ((mode & MODE_READWRITE) == MODE_READWRITE) {
    flags |= O_RDWR;
  } else if (mode & MODE_WRITE) {
    flags |= O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }
  flags |= cO_BINARY;

  int pmode;
  if (permissions == 0) {
    pmode = cS_IREAD | cS_IWRITE;
  } else {
    pmode = ((permissions & 1) ? cS_IREAD : 0) | ((permissions & 2) ? cS_IWRITE : 0);
  }

  int fd = _open(GetName(), flags, pmode);
  if (fd == -1) return Report(*this, msgNo, errno);
  // A write-only descriptor also gets "rb+": the C runtime does not check
  // the text against the descriptor's access.
  std::FILE *stream = _fdopen(fd, (mode & MODE_WRITE) ? "rb+" : "rb");
  if (stream == nullptr) {
    int err = errno;
    _close(fd);
    return Report(*this, msgNo, err);
  }
  stream_ = stream;
  owns_stream_ = 1;
  Attached();
  return 0;
}

unsigned int tCSTREAMFILEIO::Close() {
  if (stream_ == nullptr || !owns_stream_) return 0;
  int failed = std::fclose(stream_);
  int err = errno;
  // fclose releases the stream whatever it reports: keeping the pointer
  // would leave a dangling stream behind.
  stream_ = nullptr;
  owns_stream_ = 0;
  Attached();
  if (failed != 0) return Report(*this, cMSG_CLOSE, err);
  if (tLOGMGR::pLogFile != nullptr && tLOGMGR::Begin("cstream", 0xC0)) {
    *tLOGMGR::pLogFile << "Closed file \"" << GetName() << "\"." << '\n';
    tLOGMGR::End();
  }
  return 0;
}

unsigned int tCSTREAMFILEIO::Flush() {
  if (std::fflush(stream_) != 0) return Report(*this, cMSG_FLUSH, errno);
  return 0;
}

unsigned int tCSTREAMFILEIO::SetSize(unsigned long size) {
  tOBJECT_LOCK hold(*this);
  if (stream_ == nullptr) return Report(*this, cMSG_SET_SIZE, EBADF);
  if (std::fflush(stream_) != 0) return Report(*this, cMSG_SET_SIZE, errno);
  if (size > static_cast<unsigned long>(LONG_MAX)) return Report(*this, cMSG_SET_SIZE, EINVAL);
  pos_known_ = 0;
  if (_chsize(_fileno(stream_), static_cast<long>(size)) != 0) {
    return Report(*this, cMSG_SET_SIZE, errno);
  }
  // Bytes read ahead into the stream's buffer may be gone or changed now:
  // a seek by 0 drops them (the flush above already did with glibc, not
  // with every Windows C runtime) and keeps the position.
  std::fseek(stream_, 0, SEEK_CUR);
  last_ = cLAST_NONE;
  return 0;
}

unsigned int tCSTREAMFILEIO::GetSize(unsigned long *size) {
  tOBJECT_LOCK hold(*this);
  // What was written through the stream but still sits in its buffer is
  // not on disk yet: the size on disk would miss it.
  if (stream_ != nullptr) std::fflush(stream_);
  struct _stat st;
  if (_stat(GetName(), &st) != 0) return Report(*this, cMSG_GET_SIZE, errno);
  if (size != nullptr) *size = static_cast<unsigned long>(st.st_size);
  return 0;
}

unsigned int tCSTREAMFILEIO::Read(void *buffer, unsigned long bytes, unsigned long *done) {
  unsigned long got = 0;
  if (stream_ != nullptr && bytes != 0) {
    // Input after output needs a flush between them; and the end-of-file
    // flag would keep fread from seeing bytes added since the end was met.
    if (last_ == cLAST_WRITE) {
      std::fflush(stream_);
    } else if (last_ == cLAST_END && Seekable()) {
      // The Windows C runtime also marks the descriptor at its end and
      // reads nothing more until it is moved: a seek by 0 clears both.
      std::fseek(stream_, 0, SEEK_CUR);
    }
    std::clearerr(stream_);
    tBINARY_MODE binary(stream_);
    got = static_cast<unsigned long>(std::fread(buffer, 1, bytes, stream_));
    last_ = got < bytes ? cLAST_END : cLAST_READ;
    moved_ += got;
    // A short read met the end or an error: the C runtime says next time.
    pos_ += static_cast<long>(got);
    if (got < bytes) pos_known_ = 0;
  }
  if (done != nullptr) *done = got;
  return 0;
}

unsigned int tCSTREAMFILEIO::Write(void const *buffer, unsigned long bytes, unsigned long *done) {
  unsigned long put = 0;
  if (stream_ != nullptr && bytes != 0) {
    // Output after input needs a seek between them (one that cannot fail
    // on a stream with positions; a stream without has nothing to undo).
    if ((last_ == cLAST_READ || last_ == cLAST_END) && Seekable()) std::fseek(stream_, 0, SEEK_CUR);
    tBINARY_MODE binary(stream_);
    put = static_cast<unsigned long>(std::fwrite(buffer, 1, bytes, stream_));
    last_ = cLAST_WRITE;
    moved_ += put;
    pos_ += static_cast<long>(put);
    if (put < bytes) pos_known_ = 0;
  }
  if (done != nullptr) *done = put;
  return 0;
}

unsigned int tCSTREAMFILEIO::Seek(long distance, tFILEDEFS::eSEEKMODE from,
                                  unsigned long *newPos) {
  int origin;
  switch (from) {
    case SEEK_FROM_CURRENT: origin = SEEK_CUR; break;
    case SEEK_FROM_END: origin = SEEK_END; break;
    default: origin = SEEK_SET; break;
  }
  if (stream_ == nullptr) return Report(*this, cMSG_SEEK, EBADF);
  // Asked of a pipe, fseek would write out or drop the stream's buffer
  // before failing; refuse without touching it.
  if (!Seekable()) {
    unsigned int status = Report(*this, cMSG_SEEK, ESPIPE);
    errno = ESPIPE;
    return status;
  }
  // A seek to where the stream stands moves nothing. It is left out unless
  // output is pending, whose write-out the seek would do and could fail:
  // Read and Write make their own switch between input and output, and
  // clear the end-of-file state, from last_.
  if (pos_known_ && last_ != cLAST_WRITE &&
      (origin == SEEK_CUR ? distance == 0 : origin == SEEK_SET && distance == pos_)) {
    if (newPos != nullptr) *newPos = static_cast<unsigned long>(pos_);
    return 0;
  }
  pos_known_ = 0;
  if (std::fseek(stream_, distance, origin) != 0) return Report(*this, cMSG_SEEK, errno);
  last_ = cLAST_NONE;
  if (origin == SEEK_SET) Track(distance);
  if (newPos != nullptr) {
    long pos = std::ftell(stream_);
    if (pos == -1) return Report(*this, cMSG_SEEK, errno);
    Track(pos);
    *newPos = static_cast<unsigned long>(pos);
  }
  return 0;
}

unsigned int tCSTREAMFILEIO::GetPos(unsigned long *pos) {
  if (stream_ == nullptr) return Report(*this, cMSG_GET_POS, EBADF);
  if (!Seekable()) {
    // No positions: how far this object has come through the stream.
    if (pos != nullptr) *pos = moved_;
    return 0;
  }
  if (pos_known_) {
    if (pos != nullptr) *pos = static_cast<unsigned long>(pos_);
    return 0;
  }
  long at = std::ftell(stream_);
  if (at == -1) return Report(*this, cMSG_GET_POS, errno);
  Track(at);
  if (pos != nullptr) *pos = static_cast<unsigned long>(at);
  return 0;
}

unsigned int tCSTREAMFILEIO::LockRegion(unsigned long, unsigned long, unsigned int) { return 0; }

unsigned int tCSTREAMFILEIO::UnlockRegion(unsigned long, unsigned long) { return 0; }

// ---------------------------------------------------------------------------
// tCSTREAMFILESYS

tCSTREAMFILESYS::tCSTREAMFILESYS() {}
tCSTREAMFILESYS::~tCSTREAMFILESYS() {}

unsigned int tCSTREAMFILESYS::Exists(int *exists) {
  if (_access(GetName(), 0) == 0) {
    if (exists != nullptr) *exists = 1;
    return 0;
  }
  int err = errno;
  if (err == ENOENT) {
    if (exists != nullptr) *exists = 0;
    return 0;
  }
  return Report(*this, cMSG_EXISTS, err);
}

unsigned int tCSTREAMFILESYS::Rename(tPHYFILENAMEOBJ const &newName) {
  if (kelsys::rename(GetName(), newName.GetName()) != 0) return Report(*this, cMSG_RENAME, errno);
  return 0;
}

unsigned int tCSTREAMFILESYS::Delete() {
  if (kelsys::remove(GetName()) != 0) return Report(*this, cMSG_DELETE, errno);
  return 0;
}

unsigned int tCSTREAMFILESYS::GetAttributes(unsigned int *) { return 0; }
unsigned int tCSTREAMFILESYS::SetAttributes(unsigned int, unsigned int) { return 0; }
unsigned int tCSTREAMFILESYS::GetSecurity(unsigned int *) { return 0; }
unsigned int tCSTREAMFILESYS::SetSecurity(unsigned int, unsigned int) { return 0; }
unsigned int tCSTREAMFILESYS::GetModifyTime(tDATETIME *) { return 0; }
unsigned int tCSTREAMFILESYS::SetModifyTime(tDATETIME const &) { return 0; }

// ---------------------------------------------------------------------------
// tCSTREAM

tCSTREAM::tCSTREAM(std::FILE *stream) : tCSTREAMFILEIO(stream) { SetStdStreamFileName(stream); }

tCSTREAM::~tCSTREAM() {}

void tCSTREAM::SetStream(std::FILE *stream) {
  tCSTREAMFILEIO::SetStream(stream);
  SetStdStreamFileName(stream);
}

void tCSTREAM::SetStdStreamFileName(std::FILE *stream) {
  if (stream == nullptr) return;
  if (stream == stdin) {
    SetName("stdin");
  } else if (stream == stdout) {
    SetName("stdout");
  } else if (stream == stderr) {
    SetName("stderr");
  }
}

unsigned int tCSTREAM::AllocCompatFileObj(tPHYSICAL_FILE **out) const {
  return AllocCompatFileObj(out, nullptr);
}

unsigned int tCSTREAM::AllocCompatFileObj(tPHYSICAL_FILE **out, std::FILE *stream) const {
  tCSTREAM *file = out != nullptr ? new (std::nothrow) tCSTREAM(stream) : nullptr;
  if (out != nullptr) *out = file;
  if (file == nullptr) {
    tTHREAD::SetLastError(tERRMSG::OutOfMemory);
    return cSTATUS_FAILURE;
  }
  return 0;
}

unsigned int tCSTREAM::AllocCompatDirObj(tPHYSICAL_DIR **out) const {
  if (out != nullptr) *out = nullptr;
  return 0;
}
