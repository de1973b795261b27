#include "kelcore/physical/os/os_file.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <ctime>
#include <new>
#include <ostream>

#include "kelcore/system/os_calls.h"
#include "kelcore/msgcat/module_catalogs.h"
#include "kelcore/error/os_error.h"
#include "kelcore/log/log_manager.h"
#include "kelcore/msg/message.h"
#include "kelcore/physical/os/attribute_word.h"
#include "kelcore/platform/file.h"
#include "kelcore/sync/thread.h"
#include "kelcore/time/datetime.h"

using namespace kelsys;

namespace {

// The library's code for a read that got fewer bytes than asked for.
const unsigned int cSHORT_READ = 0xF009;

// Set-0 message numbers of the OS catalog.
enum {
  cMSG_OPEN = 0,
  cMSG_CLOSE = 1,
  cMSG_READ = 2,
  cMSG_WRITE = 3,
  cMSG_DELETE = 4,
  cMSG_RENAME = 5,
  cMSG_LOCK = 7,
  cMSG_UNLOCK = 8,
  cMSG_SET_SIZE = 9,
  cMSG_SET_ATTRIBUTES = 9,
  cMSG_GET_SIZE = 10,
  cMSG_GET_ATTRIBUTES = 10,
  cMSG_SET_SECURITY = 11,
  cMSG_GET_SECURITY = 12,
  cMSG_SET_TIME = 13,
  cMSG_GET_TIME = 14,
  cMSG_SEEK = 17,
  cMSG_GET_POS = 18
};

const unsigned int cSTATUS_EOF = 4;
const unsigned int cSTATUS_FAILURE = 0xFFFFFFFFu;

// Where unsigned long has 64 bits, positions, sizes and regions use them
// all; where it has 32 (Windows), the calls keep their 32-bit form.
const bool cWIDE_POSITIONS = sizeof(unsigned long) > 4;

// Largest single transfer handed to ReadFile/WriteFile, whose counts are
// 32 bits wide.
const unsigned long cMAX_TRANSFER = 0x40000000ul;

// Starts a trace record; the caller writes one line and calls EndTrace.
std::ostream *BeginTrace() {
  if (tLOGMGR::pLogFile == nullptr || !tLOGMGR::Begin("os", 0xC0)) return nullptr;
  return tLOGMGR::pLogFile;
}

void EndTrace(std::ostream *log) {
  *log << '\n';
  tLOGMGR::End();
}

// A region's last byte. A length of 0, or one that would pass the largest
// unsigned long, reaches to the end.
unsigned long RegionLast(unsigned long offset, unsigned long bytes) {
  if (bytes == 0 || bytes - 1 > ULONG_MAX - offset) return ULONG_MAX;
  return offset + bytes - 1;
}

// The length LockFileEx and UnlockFile are given for a region: to the end
// of the 64-bit range when the region reaches to the end.
void RegionLength(unsigned long offset, unsigned long bytes, DWORD *low, DWORD *high) {
  unsigned long long length;
  if (RegionLast(offset, bytes) == ULONG_MAX) {
    length = ~0ull - offset;
  } else {
    length = bytes;
  }
  *low = static_cast<DWORD>(length);
  *high = static_cast<DWORD>(length >> 32);
}

void SetOutOfMemory() { tTHREAD::SetLastError(tERRMSG::OutOfMemory); }

// Makes the OS library error `msgNo` with the errno value `err` and the
// file's name the thread's last error; returns the status for the value.
unsigned int ReportErrnoError(const tPHYFILENAMEOBJ &file, unsigned int msgNo, int err) {
  tMSG *msg = kelos::NewLibraryError(msgNo);
  *msg << static_cast<tPARAMETER *>(new (std::nothrow) tPARM_ERRNO(err));
  tTHREAD::SetLastError(file.AddErrorContext(msg));
  return tERRNO::ToStatus(err);
}

}  // namespace

// ---------------------------------------------------------------------------
// tOSFILEIO

struct tOSFILEIO::tREGION {
  tREGION *prev;
  tREGION *next;
  unsigned long offset;
  unsigned long length;  // as passed; 0 = to the end
  unsigned int mode;
};

tOSFILEIO::tOSFILEIO()
    : handle_(INVALID_HANDLE_VALUE), first_(nullptr), last_(nullptr), pos_(0), pos_known_(0),
      tracking_(-1) {}

tOSFILEIO::~tOSFILEIO() { DiscardRegions(); }

void tOSFILEIO::DiscardRegions() {
  while (first_ != nullptr) {
    tREGION *r = first_;
    first_ = r->next;
    delete r;
  }
  last_ = nullptr;
}

int tOSFILEIO::GetFileHandle() const {
  // The caller may move the position through the raw handle at any time.
  if (handle_ != INVALID_HANDLE_VALUE) tracking_ = 0;
  return FileHandleNumber(static_cast<HANDLE>(handle_));
}

void tOSFILEIO::Track(unsigned long long pos) {
  // Whether the handle is a disk file is asked once per opening, at the
  // first position the system reports: a pipe never reports one, and a
  // device (say /dev/zero) reports positions that reads do not move.
  if (tracking_ < 0) tracking_ = IsDiskFileHandle(static_cast<HANDLE>(handle_));
  pos_ = pos;
  pos_known_ = tracking_ == 1;
}

unsigned int tOSFILEIO::Report(unsigned int msgNo, unsigned int osError) {
  tTHREAD::SetLastError(AddErrorContext(tOSERR::Make(msgNo, static_cast<int>(osError))));
  return tOSERR::ToStatus(static_cast<int>(osError));
}

unsigned int tOSFILEIO::OpenExisting(unsigned int mode, unsigned int share) {
  return StdOpen(OPEN_EXISTING, mode, share, 0);
}

unsigned int tOSFILEIO::OpenAlways(unsigned int mode, unsigned int share,
                                   unsigned int permissions) {
  return StdOpen(OPEN_ALWAYS, mode, share, permissions);
}

unsigned int tOSFILEIO::Create(unsigned int mode, unsigned int share,
                               unsigned int permissions) {
  return StdOpen(CREATE_ALWAYS, mode, share, permissions);
}

unsigned int tOSFILEIO::CreateNew(unsigned int mode, unsigned int share,
                                  unsigned int permissions) {
  return StdOpen(CREATE_NEW, mode, share, permissions);
}

unsigned int tOSFILEIO::StdOpen(unsigned int disposition, unsigned int mode,
                                unsigned int share, unsigned int permissions) {
  if (handle_ != INVALID_HANDLE_VALUE) return Report(cMSG_OPEN, ERROR_ACCESS_DENIED);

  DWORD access;
  if ((mode & MODE_READWRITE) == MODE_READWRITE) {
    access = GENERIC_READ | GENERIC_WRITE;
  } else if (mode & MODE_WRITE) {
    access = GENERIC_WRITE;
  } else {
    access = GENERIC_READ;
  }

  DWORD shareFlags;
  switch (share) {
    case SHARE_EXCLUSIVE: shareFlags = 0; break;
    case SHARE_DENYWRITE: shareFlags = FILE_SHARE_READ; break;
    case SHARE_DENYREAD: shareFlags = FILE_SHARE_WRITE; break;
    case SHARE_AUTO:
      shareFlags = (mode & MODE_WRITE) ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
      break;
    default: shareFlags = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
  }
  // Every system that knows FILE_SHARE_DELETE gets it: the NT family, and
  // POSIX systems, where deleting or renaming an open file is the norm.
  if (tOSSYSCALLS::IsVersion(tOSSYSCALLS::eVER_NT) ||
      tOSSYSCALLS::IsVersion(tOSSYSCALLS::eVER_POSIX)) {
    shareFlags |= FILE_SHARE_DELETE;
  }

  SECURITY_ATTRIBUTES security;
  security.nLength = sizeof security;
  security.lpSecurityDescriptor = nullptr;
  security.bInheritHandle = (mode & MODE_INHERIT) ? TRUE : FALSE;

  DWORD attributes = 0;
  if ((permissions & 0222) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  if (permissions & PERM_HIDDEN) attributes |= FILE_ATTRIBUTE_HIDDEN;
  if (permissions & PERM_SYSTEM) attributes |= FILE_ATTRIBUTE_SYSTEM;
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  if (mode & MODE_WRITETHROUGH) attributes |= FILE_FLAG_WRITE_THROUGH;

  HANDLE h = CreateFileA(GetName(), access, shareFlags, &security, disposition, attributes,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return Report(cMSG_OPEN, GetLastError());
  handle_ = h;
  // The position is not known until the system first reports it. Child
  // processes that inherit the handle share its position and may move it.
  pos_known_ = 0;
  tracking_ = (mode & MODE_INHERIT) ? 0 : -1;
  return 0;
}

unsigned int tOSFILEIO::Close() {
  if (std::ostream *log = BeginTrace()) {
    *log << "Closing file \"" << GetName() << "\" on handle "
         << FileHandleNumber(static_cast<HANDLE>(handle_));
    EndTrace(log);
  }
  // A closed object has nothing to close, and succeeds, as Windows'
  // CloseHandle of the invalid handle value does (it takes it for the
  // process's pseudo-handle): the logical file closes without asking.
  // Asking the system anyway would differ between systems.
  if (handle_ == INVALID_HANDLE_VALUE) return 0;
  int released = 0;
  if (!CloseFileHandle(static_cast<HANDLE>(handle_), &released)) {
    DWORD err = GetLastError();
    // On POSIX systems the descriptor is gone even when close reports an
    // error (a late write failure, say): keeping it would leave a dangling
    // handle.
    if (released) {
      handle_ = INVALID_HANDLE_VALUE;
      DiscardRegions();
    }
    pos_known_ = 0;
    return Report(cMSG_CLOSE, err);
  }
  handle_ = INVALID_HANDLE_VALUE;
  DiscardRegions();
  pos_known_ = 0;
  tracking_ = -1;
  return 0;
}

unsigned int tOSFILEIO::Flush() {
  if (!FlushFileBuffers(static_cast<HANDLE>(handle_))) return Report(cMSG_WRITE, GetLastError());
  return 0;
}

unsigned int tOSFILEIO::MovePointer(long long distance, unsigned int method, int wide,
                                    unsigned long long *newPos) {
  HANDLE h = static_cast<HANDLE>(handle_);
  LONG high = static_cast<LONG>(distance >> 32);
  // A low part of all ones is also a valid position: the last error,
  // cleared first, tells success from failure.
  SetLastError(NO_ERROR);
  DWORD low = SetFilePointer(h, static_cast<LONG>(distance & 0xFFFFFFFFll), wide ? &high : nullptr,
                             method);
  DWORD err = low == INVALID_SET_FILE_POINTER ? GetLastError() : NO_ERROR;
  std::ostream *log = BeginTrace();
  if (log != nullptr) *log << "Seek(" << FileHandleNumber(h) << ',' << distance << ',' << method << ')';
  if (err != NO_ERROR) {
    if (log != nullptr) EndTrace(log);
    return err;
  }
  unsigned long long pos = low;
  if (wide) pos |= static_cast<unsigned long long>(static_cast<DWORD>(high)) << 32;
  if (log != nullptr) {
    *log << '=' << pos;
    EndTrace(log);
  }
  *newPos = pos;
  return NO_ERROR;
}

unsigned int tOSFILEIO::SetSize(unsigned long size) {
  tOBJECT_LOCK hold(*this);
  // Known again only once the position is back where it was.
  pos_known_ = 0;
  unsigned long long pos = 0;
  unsigned long long ignored = 0;
  // Always with the high part, so that sizes between 2 and 4 GiB work
  // where unsigned long has 32 bits.
  unsigned int err = MovePointer(0, FILE_CURRENT, 1, &pos);
  if (err != NO_ERROR) return Report(cMSG_SET_SIZE, err);
  err = MovePointer(static_cast<long long>(size), FILE_BEGIN, 1, &ignored);
  if (err != NO_ERROR) return Report(cMSG_SET_SIZE, err);
  if (!SetEndOfFile(static_cast<HANDLE>(handle_))) err = GetLastError();
  unsigned int back = MovePointer(static_cast<long long>(pos), FILE_BEGIN, 1, &ignored);
  if (back == NO_ERROR) Track(pos);
  if (err != NO_ERROR) return Report(cMSG_SET_SIZE, err);
  if (back != NO_ERROR) return Report(cMSG_SET_SIZE, back);
  return 0;
}

unsigned int tOSFILEIO::GetSize(unsigned long *size) {
  unsigned long long bytes;
  if (handle_ != INVALID_HANDLE_VALUE) {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(static_cast<HANDLE>(handle_), &high);
    if (low == INVALID_FILE_SIZE) {
      DWORD err = GetLastError();
      if (err != NO_ERROR) return Report(cMSG_GET_SIZE, err);
    }
    bytes = (static_cast<unsigned long long>(high) << 32) | low;
    if (bytes > ULONG_MAX) return Report(cMSG_GET_SIZE, ERROR_FILE_TOO_LARGE);
  } else {
    tOBJECT_LOCK hold(*this);
    FileStatus st;
    int err = 0;
    if (StatFile(GetName(), &st) != 0) {
      err = errno;
    } else if (static_cast<unsigned long long>(st.size) > ULONG_MAX) {
      err = EOVERFLOW;
    }
    if (err != 0) return ReportErrnoError(*this, cMSG_GET_SIZE, err);
    bytes = static_cast<unsigned long long>(st.size);
  }
  if (size != nullptr) *size = static_cast<unsigned long>(bytes);
  return 0;
}

unsigned int tOSFILEIO::Read(void *buffer, unsigned long bytes, unsigned long *done) {
  if (done != nullptr) *done = 0;
  if (bytes == 0) return 0;
  HANDLE h = static_cast<HANDLE>(handle_);
  char *p = static_cast<char *>(buffer);
  unsigned long got = 0;
  // One call for any request a DWORD can count; beyond that, in pieces
  // until one comes back short.
  for (;;) {
    unsigned long want = bytes - got;
    if (want > cMAX_TRANSFER && bytes > 0xFFFFFFFFul) want = cMAX_TRANSFER;
    DWORD n = 0;
    if (!ReadFile(h, p + got, static_cast<DWORD>(want), &n, nullptr)) {
      pos_known_ = 0;
      return Report(cMSG_READ, GetLastError());
    }
    got += n;
    if (n < want || got == bytes) break;
  }
  pos_ += got;
  if (done != nullptr) {
    *done = got;
  } else if (got < bytes) {
    Report(cMSG_READ, cSHORT_READ);
    return cSTATUS_EOF;
  }
  return 0;
}

unsigned int tOSFILEIO::Write(void const *buffer, unsigned long bytes, unsigned long *done) {
  if (done != nullptr) *done = 0;
  if (bytes == 0) return 0;
  HANDLE h = static_cast<HANDLE>(handle_);
  const char *p = static_cast<const char *>(buffer);
  unsigned long put = 0;
  for (;;) {
    unsigned long want = bytes - put;
    if (want > cMAX_TRANSFER && bytes > 0xFFFFFFFFul) want = cMAX_TRANSFER;
    DWORD n = 0;
    if (!WriteFile(h, p + put, static_cast<DWORD>(want), &n, nullptr)) {
      pos_known_ = 0;
      if (done != nullptr) *done = put + n;
      return Report(cMSG_WRITE, GetLastError());
    }
    put += n;
    if (n < want || put == bytes) break;
  }
  pos_ += put;
  if (done != nullptr) *done = put;
  if (put < bytes) return Report(cMSG_WRITE, ERROR_DISK_FULL);
  return 0;
}

unsigned int tOSFILEIO::Seek(long distance, tFILEDEFS::eSEEKMODE from, unsigned long *newPos) {
  DWORD method = from == SEEK_FROM_CURRENT ? FILE_CURRENT
                 : from == SEEK_FROM_END   ? FILE_END
                                           : FILE_BEGIN;
  unsigned long long pos = 0;
  if (pos_known_ && tracking_ == 1 && (cWIDE_POSITIONS || pos_ <= 0xFFFFFFFFull) &&
      (method == FILE_CURRENT ? distance == 0
                              : method == FILE_BEGIN && distance >= 0 &&
                                    static_cast<unsigned long long>(distance) == pos_)) {
    // Where the file already stands: the system would move nothing and
    // report this position. The trace line is the same.
    pos = pos_;
    if (std::ostream *log = BeginTrace()) {
      *log << "Seek(" << FileHandleNumber(static_cast<HANDLE>(handle_)) << ',' << distance << ','
           << method << ")=" << pos;
      EndTrace(log);
    }
  } else {
    unsigned int err = MovePointer(distance, method, cWIDE_POSITIONS, &pos);
    if (err != NO_ERROR) {
      pos_known_ = 0;
      return Report(cMSG_SEEK, err);
    }
    Track(pos);
  }
  if (newPos != nullptr) *newPos = static_cast<unsigned long>(pos);
  return 0;
}

unsigned int tOSFILEIO::GetPos(unsigned long *pos) {
  if (pos_known_ && tracking_ == 1 && (cWIDE_POSITIONS || pos_ <= 0xFFFFFFFFull)) {
    if (pos != nullptr) *pos = static_cast<unsigned long>(pos_);
    return 0;
  }
  LONG high = 0;
  SetLastError(NO_ERROR);
  DWORD low = SetFilePointer(static_cast<HANDLE>(handle_), 0, cWIDE_POSITIONS ? &high : nullptr,
                             FILE_CURRENT);
  if (low == INVALID_SET_FILE_POINTER) {
    DWORD err = GetLastError();
    if (err != NO_ERROR) return Report(cMSG_GET_POS, err);
  }
  unsigned long long p = (static_cast<unsigned long long>(static_cast<DWORD>(high)) << 32) | low;
  Track(p);
  if (pos != nullptr) *pos = static_cast<unsigned long>(p);
  return 0;
}

unsigned int tOSFILEIO::LockRegion(unsigned long offset, unsigned long bytes,
                                   unsigned int lockMode) {
  if (std::ostream *log = BeginTrace()) {
    *log << "LockRegion(Handle=" << FileHandleNumber(static_cast<HANDLE>(handle_))
         << ", Offset=" << offset
         << ", Bytes=" << bytes << ((lockMode & LOCK_SHARED) ? ", Shared" : ", Exclusive")
         << " | " << ((lockMode & LOCK_NOWAIT) ? "NoWait" : "Wait") << ')';
    EndTrace(log);
  }
  HANDLE h = static_cast<HANDLE>(handle_);
  DWORD flags = 0;
  if (lockMode & LOCK_NOWAIT) flags |= LOCKFILE_FAIL_IMMEDIATELY;
  if (!(lockMode & LOCK_SHARED)) flags |= LOCKFILE_EXCLUSIVE_LOCK;
  OVERLAPPED ov = OVERLAPPED();
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(static_cast<unsigned long long>(offset) >> 32);
  DWORD low;
  DWORD high;
  RegionLength(offset, bytes, &low, &high);
  if (!LockFileEx(h, flags, 0, low, high, &ov)) return Report(cMSG_LOCK, GetLastError());

  tREGION *r = new (std::nothrow) tREGION;
  if (r == nullptr) {
    UnlockFile(h, ov.Offset, ov.OffsetHigh, low, high);
    SetOutOfMemory();
    return cSTATUS_FAILURE;
  }
  r->offset = offset;
  r->length = bytes;
  r->mode = lockMode;
  r->next = nullptr;
  r->prev = last_;
  if (last_ != nullptr) {
    last_->next = r;
  } else {
    first_ = r;
  }
  last_ = r;
  return 0;
}

unsigned int tOSFILEIO::UnlockRegion(unsigned long offset, unsigned long bytes) {
  if (std::ostream *log = BeginTrace()) {
    *log << "UnlockRegion(Handle=" << FileHandleNumber(static_cast<HANDLE>(handle_))
         << ", Offset=" << offset
         << ", Bytes=" << bytes << ')';
    EndTrace(log);
  }
  unsigned long reqLast = RegionLast(offset, bytes);
  tREGION *r = first_;
  while (r != nullptr) {
    tREGION *next = r->next;
    unsigned long last = RegionLast(r->offset, r->length);
    if (last < offset || r->offset > reqLast) {
      r = next;
      continue;
    }
    // Part of a locked region cannot be unlocked: the request must cover
    // each region it touches. Regions unlocked so far stay unlocked.
    if (r->offset < offset || last > reqLast) return Report(cMSG_UNLOCK, ERROR_ACCESS_DENIED);
    DWORD low;
    DWORD high;
    RegionLength(r->offset, r->length, &low, &high);
    if (!UnlockFile(static_cast<HANDLE>(handle_), static_cast<DWORD>(r->offset),
                    static_cast<DWORD>(static_cast<unsigned long long>(r->offset) >> 32), low,
                    high)) {
      return Report(cMSG_UNLOCK, GetLastError());
    }
    if (r->prev != nullptr) {
      r->prev->next = r->next;
    } else {
      first_ = r->next;
    }
    if (r->next != nullptr) {
      r->next->prev = r->prev;
    } else {
      last_ = r->prev;
    }
    delete r;
    r = next;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// tOSFILESYS

tOSFILESYS::tOSFILESYS() {}
tOSFILESYS::~tOSFILESYS() {}

unsigned int tOSFILESYS::Report(unsigned int msgNo, unsigned int osError) {
  tTHREAD::SetLastError(AddErrorContext(tOSERR::Make(msgNo, static_cast<int>(osError))));
  return tOSERR::ToStatus(static_cast<int>(osError));
}

unsigned int tOSFILESYS::ReportErrno(unsigned int msgNo, int err) {
  return ReportErrnoError(*this, msgNo, err);
}

unsigned int tOSFILESYS::Exists(int *exists) {
  DWORD attrs = GetFileAttributesA(GetName());
  int found = attrs != INVALID_FILE_ATTRIBUTES ? 1 : 0;
  if (exists != nullptr) *exists = found;
  if (found) return 0;
  DWORD err = GetLastError();
  if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return 0;
  return Report(cMSG_GET_ATTRIBUTES, err);
}

unsigned int tOSFILESYS::Delete() {
  if (std::ostream *log = BeginTrace()) {
    *log << "Deleting file \"" << GetName() << '"';
    EndTrace(log);
  }
  if (!DeleteFileA(GetName())) return Report(cMSG_DELETE, GetLastError());
  return 0;
}

unsigned int tOSFILESYS::Rename(tPHYFILENAMEOBJ const &newName) {
  // A bare file name, and not an empty one: neither a location nor
  // nothing at all can name a file inside this directory.
  if (newName.HasDir() || newName.GetName()[0] == '\0') {
    tMSG *msg = tOSERR::Make(cMSG_RENAME, static_cast<int>(ERROR_INVALID_NAME));
    *msg << static_cast<tPARAMETER *>(newName);
    tTHREAD::SetLastError(msg);
    return tOSERR::ToStatus(static_cast<int>(ERROR_INVALID_NAME));
  }
  tPCFILENAME target(GetName());
  target.SetFileName(newName.GetName());
  DWORD err = NO_ERROR;
  if (target.GetName()[0] == '\0') {
    // The names refused the result (too long) and said so; say which
    // rename it was.
    err = ERROR_FILENAME_EXCED_RANGE;
  } else if (!MoveFileA(GetName(), target.GetName())) {
    err = GetLastError();
  }
  if (err != NO_ERROR) {
    tMSG *msg = tOSERR::Make(cMSG_RENAME, static_cast<int>(err));
    *msg << static_cast<tPARAMETER *>(new (std::nothrow) tPARM_FILENAME(GetName()));
    *msg << static_cast<tPARAMETER *>(new (std::nothrow) tPARM_FILENAME(
        target.GetName()[0] != '\0' ? target.GetName() : newName.GetName()));
    tTHREAD::SetLastError(msg);
    return tOSERR::ToStatus(static_cast<int>(err));
  }
  if (std::ostream *log = BeginTrace()) {
    *log << "Renamed file \"" << GetName() << "\" to \"" << target.GetName() << "\".";
    EndTrace(log);
  }
  return 0;
}

namespace {
unsigned int PermissionWord(DWORD attrs) {
  unsigned int word = (attrs & FILE_ATTRIBUTE_READONLY) ? 0555 : 0777;
  if (attrs & FILE_ATTRIBUTE_HIDDEN) word |= tFILEDEFS::PERM_HIDDEN;
  if (attrs & FILE_ATTRIBUTE_SYSTEM) word |= tFILEDEFS::PERM_SYSTEM;
  return word;
}
}  // namespace

unsigned int tOSFILESYS::GetAttributes(unsigned int *attributes) {
  DWORD attrs = GetFileAttributesA(GetName());
  if (attrs == INVALID_FILE_ATTRIBUTES) return Report(cMSG_GET_ATTRIBUTES, GetLastError());
  if (attributes != nullptr) *attributes = kelos::AttributeWord(attrs);
  return 0;
}

unsigned int tOSFILESYS::SetAttributes(unsigned int attributes, unsigned int mask) {
  unsigned int word = attributes;
  if (mask != 0xFFFFFFFFu) {
    DWORD attrs = GetFileAttributesA(GetName());
    if (attrs == INVALID_FILE_ATTRIBUTES) return Report(cMSG_SET_ATTRIBUTES, GetLastError());
    word = (kelos::AttributeWord(attrs) & ~mask) | (attributes & mask);
  }
  // FILE_ATTRIBUTE_NORMAL is how "no attribute at all" is spelled.
  DWORD value = (word & ATTR_ARCHIVE) ? FILE_ATTRIBUTE_ARCHIVE : FILE_ATTRIBUTE_NORMAL;
  if (!SetFileAttributesA(GetName(), value)) return Report(cMSG_SET_ATTRIBUTES, GetLastError());
  return 0;
}

unsigned int tOSFILESYS::GetSecurity(unsigned int *permissions) {
  DWORD attrs = GetFileAttributesA(GetName());
  if (attrs == INVALID_FILE_ATTRIBUTES) return Report(cMSG_GET_SECURITY, GetLastError());
  if (permissions != nullptr) *permissions = PermissionWord(attrs);
  return 0;
}

unsigned int tOSFILESYS::SetSecurity(unsigned int permissions, unsigned int mask) {
  DWORD attrs = GetFileAttributesA(GetName());
  if (attrs == INVALID_FILE_ATTRIBUTES) return Report(cMSG_SET_SECURITY, GetLastError());
  unsigned int word = permissions;
  if (mask != 0xFFFFFFFFu) word = (PermissionWord(attrs) & ~mask) | (permissions & mask);
  DWORD value = attrs & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                          FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NORMAL |
                          FILE_ATTRIBUTE_DIRECTORY);
  if (!(word & 0002)) value |= FILE_ATTRIBUTE_READONLY;
  if (word & PERM_HIDDEN) value |= FILE_ATTRIBUTE_HIDDEN;
  if (word & PERM_SYSTEM) value |= FILE_ATTRIBUTE_SYSTEM;
  if (value == 0) value = FILE_ATTRIBUTE_NORMAL;
  if (!SetFileAttributesA(GetName(), value)) return Report(cMSG_SET_SECURITY, GetLastError());
  return 0;
}

unsigned int tOSFILESYS::GetModifyTime(tDATETIME *time) {
  FileStatus st;
  if (StatFile(GetName(), &st) != 0) return ReportErrno(cMSG_GET_TIME, errno);
  std::tm local = std::tm();
  if (!LocalFileTime(st.mtime, &local)) return ReportErrno(cMSG_GET_TIME, EOVERFLOW);
  if (time != nullptr) {
    time->Date.Year = static_cast<unsigned int>(local.tm_year + 1900);
    time->Date.Month = static_cast<unsigned int>(local.tm_mon + 1);
    time->Date.Day = static_cast<unsigned int>(local.tm_mday);
    time->Time.Hour = static_cast<unsigned int>(local.tm_hour);
    time->Time.Minute = static_cast<unsigned int>(local.tm_min);
    time->Time.Second = static_cast<unsigned int>(local.tm_sec);
    time->Time.Millisecond = 0;
  }
  return 0;
}

unsigned int tOSFILESYS::SetModifyTime(tDATETIME const &time) {
  std::tm local = std::tm();
  local.tm_year = static_cast<int>(time.Date.Year) - 1900;
  local.tm_mon = static_cast<int>(time.Date.Month) - 1;
  local.tm_mday = static_cast<int>(time.Date.Day);
  local.tm_hour = static_cast<int>(time.Time.Hour);
  local.tm_min = static_cast<int>(time.Time.Minute);
  local.tm_sec = static_cast<int>(time.Time.Second);
  local.tm_isdst = -1;  // the C runtime decides whether summer time applies
  errno = 0;
  std::int64_t t = MakeFileTime(&local);
  if (t == -1) return ReportErrno(cMSG_SET_TIME, errno != 0 ? errno : EINVAL);
  if (UtimeFile(GetName(), t) != 0) return ReportErrno(cMSG_SET_TIME, errno);
  return 0;
}

// ---------------------------------------------------------------------------
// tOSFILE

tOSFILE::tOSFILE() {}
tOSFILE::~tOSFILE() {}

unsigned int tOSFILE::AllocCompatFileObj(tPHYSICAL_FILE **out) const {
  tOSFILE *file = out != nullptr ? new (std::nothrow) tOSFILE : nullptr;
  if (out != nullptr) *out = file;
  if (file == nullptr) {
    SetOutOfMemory();
    return cSTATUS_FAILURE;
  }
  return 0;
}
