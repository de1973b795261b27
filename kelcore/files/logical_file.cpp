#include "kelcore/files/logical_file.h"

#include <new>
#include <typeinfo>

#include "kelcore/msgcat/module_catalogs.h"
#include "kelcore/msg/message.h"
#include "kelcore/names/pc_file_name.h"
#include "kelcore/physical/cstream/cstream_file.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/sync/lock.h"
#include "kelcore/sync/thread.h"

namespace {

const unsigned int cFAILURE = 0xFFFFFFFFu;

// FILESYS set-0 messages raised here.
enum { cMSG_ACCESS = 2, cMSG_SHORT_READ = 3 };

unsigned int OutOfMemory() {
  tTHREAD::SetLastError(tERRMSG::OutOfMemory);
  return cFAILURE;
}

// What a logical file works on when it could not get its operating-system
// file: every operation fails as the allocation did, and names are not
// kept, so one shared object serves every such file.
class tUNAVAILABLE_FILE : public tNOSYNC, public tPHYSICAL_FILE, public tPCFILENAME {
 public:
  void SetName(const char *) {}
  unsigned int Exists(int *) { return OutOfMemory(); }
  unsigned int Rename(tPHYFILENAMEOBJ const &) { return OutOfMemory(); }
  unsigned int Delete() { return OutOfMemory(); }
  unsigned int GetAttributes(unsigned int *) { return OutOfMemory(); }
  unsigned int SetAttributes(unsigned int, unsigned int) { return OutOfMemory(); }
  unsigned int GetSecurity(unsigned int *) { return OutOfMemory(); }
  unsigned int SetSecurity(unsigned int, unsigned int) { return OutOfMemory(); }
  unsigned int GetModifyTime(tDATETIME *) { return OutOfMemory(); }
  unsigned int SetModifyTime(tDATETIME const &) { return OutOfMemory(); }
  unsigned int AllocCompatFileObj(tPHYSICAL_FILE **out) const {
    if (out != nullptr) *out = nullptr;
    return OutOfMemory();
  }
  unsigned int AllocCompatDirObj(tPHYSICAL_DIR **out) const {
    if (out != nullptr) *out = nullptr;
    return OutOfMemory();
  }
  unsigned int OpenExisting(unsigned int, unsigned int) { return OutOfMemory(); }
  unsigned int OpenAlways(unsigned int, unsigned int, unsigned int) { return OutOfMemory(); }
  unsigned int Create(unsigned int, unsigned int, unsigned int) { return OutOfMemory(); }
  unsigned int CreateNew(unsigned int, unsigned int, unsigned int) { return OutOfMemory(); }
  // Nothing is ever open, so closing has nothing to do.
  unsigned int Close() { return 0; }
  unsigned int Flush() { return OutOfMemory(); }
  unsigned int SetSize(unsigned long) { return OutOfMemory(); }
  unsigned int GetSize(unsigned long *) { return OutOfMemory(); }
  unsigned int Read(void *, unsigned long, unsigned long *done) {
    if (done != nullptr) *done = 0;
    return OutOfMemory();
  }
  unsigned int Write(void const *, unsigned long, unsigned long *done) {
    if (done != nullptr) *done = 0;
    return OutOfMemory();
  }
  unsigned int Seek(long, tFILEDEFS::eSEEKMODE, unsigned long *) { return OutOfMemory(); }
  unsigned int GetPos(unsigned long *) { return OutOfMemory(); }
  unsigned int LockRegion(unsigned long, unsigned long, unsigned int) { return OutOfMemory(); }
  unsigned int UnlockRegion(unsigned long, unsigned long) { return OutOfMemory(); }
};

tPHYSICAL_FILE *Unavailable() {
  // Never destroyed: logical files in static storage may outlive any
  // destruction order.
  alignas(tUNAVAILABLE_FILE) static unsigned char storage[sizeof(tUNAVAILABLE_FILE)];
  static tUNAVAILABLE_FILE *file = new (storage) tUNAVAILABLE_FILE;
  return file;
}

}  // namespace

tLOGICAL_FILE::tLOGICAL_FILE(tPHYSICAL_FILE *file, int own)
    : physical_(file), sync_(nullptr), io_(nullptr), buffer_(0, nullptr), access_(0), own_(own),
      open_(0) {
  if (physical_ == nullptr) {
    physical_ = new (std::nothrow) tOSFILE;
    own_ = 1;
    if (physical_ == nullptr) {
      physical_ = Unavailable();
      own_ = 0;
      OutOfMemory();
    }
  }
  SetFacets();
}

tLOGICAL_FILE::tLOGICAL_FILE(tPHYSICAL_FILE &file, int own)
    : physical_(&file), sync_(nullptr), io_(nullptr), buffer_(0, nullptr), access_(0), own_(own),
      open_(0) {
  SetFacets();
}

void tLOGICAL_FILE::SetFacets() {
  // The data path takes the lock for every call, and two empty virtual
  // calls cost a byte-at-a-time reader about half again its time. They are
  // skipped only for objects whose type is exactly one of the library's
  // own lock-free files. Any other type, a class derived from tOSFILE or
  // tCSTREAM included, is called: it may override LockObject/UnlockObject
  // with a real lock, and an override cannot be seen from here.
  const std::type_info &type = typeid(*physical_);
  const int lock_free =
      type == typeid(tOSFILE) || type == typeid(tCSTREAM) || physical_ == Unavailable();
  sync_ = lock_free ? nullptr : physical_;
  io_ = physical_;
}

tLOGICAL_FILE::~tLOGICAL_FILE() {
  // A Close that fails keeps the file open for another attempt; nobody
  // makes one after this, so whatever is still held is let go.
  if (open_ && Close() != 0) Abandon();
  // A stream used without opening (tCSTREAM(stdout)) is never closed here,
  // but what its window collected still belongs on it.
  if (!open_ && buffer_.dirty_) buffer_.Flush(*io_, 0);
  if (own_) delete physical_;
}

void tLOGICAL_FILE::Discard() {
  tOBJECT_LOCK hold(*this);
  buffer_.dirty_ = 0;
  buffer_.valid_ = 0;
  buffer_.cursor_ = 0;
  unsigned long pos = 0;
  if (open_ && static_cast<tPHYFILEIOOBJ &>(*this).GetPos(&pos) == 0) buffer_.base_ = pos;
}

void tLOGICAL_FILE::Abandon() {
  tOBJECT_LOCK hold(*this);
  if (!open_) return;
  tMSG *why = tTHREAD::TakeOwnershipOfLastError();
  buffer_.dirty_ = 0;
  buffer_.valid_ = 0;
  buffer_.cursor_ = 0;
  buffer_.Release();
  // The system lets a descriptor go even when its close reports an error;
  // the region records and share registration go with it.
  static_cast<tPHYFILEIOOBJ &>(*this).Close();
  open_ = 0;
  access_ = 0;
  tTHREAD::SetLastError(why);
}

// --- facets -------------------------------------------------------------------

tLOGICAL_FILE::operator tPHYSICAL_FILE &() { return *physical_; }
tLOGICAL_FILE::operator tPHYFILENAMEOBJ &() { return *physical_; }
tLOGICAL_FILE::operator tPHYFILENAMEOBJ const &() const { return *physical_; }
tLOGICAL_FILE::operator tPHYSYNCOBJ &() { return *physical_; }
tLOGICAL_FILE::operator tPHYFILEIOOBJ &() { return *io_; }
tPHYFILESYSOBJ &tLOGICAL_FILE::FileSys() const { return *physical_; }

tLOGICAL_FILE::operator tPARAMETER *() const {
  return static_cast<tPHYFILENAMEOBJ const &>(*this);
}

// --- the name -------------------------------------------------------------------

#define KEL_NAME static_cast<tPHYFILENAMEOBJ &>(*this)
#define KEL_CNAME static_cast<tPHYFILENAMEOBJ const &>(*this)

void tLOGICAL_FILE::SetName(char const *name) { KEL_NAME.SetName(name); }
void tLOGICAL_FILE::SetName(tPHYFILENAMEOBJ const &name) { KEL_NAME.SetName(name); }
void tLOGICAL_FILE::SetName(char const *envVar, char const *defaultName) {
  KEL_NAME.SetName(envVar, defaultName);
}
void tLOGICAL_FILE::SetLocation(tPHYFILENAMEOBJ const &dir, int merge) {
  KEL_NAME.SetLocation(dir, merge);
}
void tLOGICAL_FILE::SetLocation(char const *dir, int merge) { KEL_NAME.SetLocation(dir, merge); }
void tLOGICAL_FILE::SetFileName(char const *fileName) { KEL_NAME.SetFileName(fileName); }
void tLOGICAL_FILE::SetExtension(char const *ext) { KEL_NAME.SetExtension(ext); }
char const *tLOGICAL_FILE::GetName() const { return KEL_CNAME.GetName(); }
char const *tLOGICAL_FILE::GetFileName() const { return KEL_CNAME.GetFileName(); }
char const *tLOGICAL_FILE::GetExtension() const { return KEL_CNAME.GetExtension(); }
tPHYFILENAMEOBJ *tLOGICAL_FILE::GetLocation() {
  // The stand-in is shared between files: it keeps no location.
  return physical_ == Unavailable() ? nullptr : KEL_NAME.GetLocation();
}
int tLOGICAL_FILE::NameMatches(char const *pattern) const { return KEL_CNAME.NameMatches(pattern); }
int tLOGICAL_FILE::IsAbsolute() const { return KEL_CNAME.IsAbsolute(); }
int tLOGICAL_FILE::IsRelative() const { return KEL_CNAME.IsRelative(); }
int tLOGICAL_FILE::IsRoot() const { return KEL_CNAME.IsRoot(); }
int tLOGICAL_FILE::HasExtension() const { return GetExtension()[0] != '\0' ? 1 : 0; }
int tLOGICAL_FILE::HasDir() const { return KEL_CNAME.HasDir(); }
void tLOGICAL_FILE::FullyQualify() { KEL_NAME.FullyQualify(); }
char tLOGICAL_FILE::PathChar() const { return KEL_CNAME.PathChar(); }
char const *tLOGICAL_FILE::PathCharStr() const { return KEL_CNAME.PathCharStr(); }
int tLOGICAL_FILE::PathChar(char c) const { return KEL_CNAME.PathChar(c); }
int tLOGICAL_FILE::PathSep(char c) const { return KEL_CNAME.PathSep(c); }
unsigned int tLOGICAL_FILE::AllocCompatNameObj(tPHYFILENAMEOBJ **out) const {
  return KEL_CNAME.AllocCompatNameObj(out);
}
tMSG &tLOGICAL_FILE::AddErrorContext(tMSG *msg) const { return KEL_CNAME.AddErrorContext(msg); }

#undef KEL_CNAME
#undef KEL_NAME

// --- the file as a directory entry ------------------------------------------------

unsigned int tLOGICAL_FILE::Exists(int *exists) { return FileSys().Exists(exists); }
unsigned int tLOGICAL_FILE::Delete() { return FileSys().Delete(); }
unsigned int tLOGICAL_FILE::GetAttributes(unsigned int *attributes) {
  return FileSys().GetAttributes(attributes);
}
unsigned int tLOGICAL_FILE::SetAttributes(unsigned int attributes, unsigned int mask) {
  return FileSys().SetAttributes(attributes, mask);
}
unsigned int tLOGICAL_FILE::GetSecurity(unsigned int *permissions) {
  return FileSys().GetSecurity(permissions);
}
unsigned int tLOGICAL_FILE::SetSecurity(unsigned int permissions, unsigned int mask) {
  return FileSys().SetSecurity(permissions, mask);
}
unsigned int tLOGICAL_FILE::GetModifyTime(tDATETIME *time) { return FileSys().GetModifyTime(time); }
unsigned int tLOGICAL_FILE::SetModifyTime(tDATETIME const &time) {
  return FileSys().SetModifyTime(time);
}
unsigned int tLOGICAL_FILE::Rename(tPHYFILENAMEOBJ const &newName) {
  unsigned int status = FileSys().Rename(newName);
  if (status == 0) SetFileName(newName.GetName());
  return status;
}
unsigned int tLOGICAL_FILE::Rename(char const *newName) { return Rename(tPCFILENAME(newName)); }
unsigned int tLOGICAL_FILE::AllocCompatFileObj(tPHYSICAL_FILE **out) const {
  return FileSys().AllocCompatFileObj(out);
}
unsigned int tLOGICAL_FILE::AllocCompatDirObj(tPHYSICAL_DIR **out) const {
  return FileSys().AllocCompatDirObj(out);
}

// --- opening and closing --------------------------------------------------------

void tLOGICAL_FILE::PostOpen(unsigned int access) {
  open_ = 1;
  access_ = access;
}

unsigned int tLOGICAL_FILE::OpenExisting(unsigned int access, unsigned int share) {
  unsigned int status = static_cast<tPHYFILEIOOBJ &>(*this).OpenExisting(access, share);
  if (status == 0) PostOpen(access);
  return status;
}

unsigned int tLOGICAL_FILE::OpenAlways(unsigned int access, unsigned int share,
                                       unsigned int attributes) {
  unsigned int status = static_cast<tPHYFILEIOOBJ &>(*this).OpenAlways(access, share, attributes);
  if (status == 0) PostOpen(access);
  return status;
}

unsigned int tLOGICAL_FILE::Create(unsigned int access, unsigned int share,
                                   unsigned int attributes) {
  unsigned int status = static_cast<tPHYFILEIOOBJ &>(*this).Create(access, share, attributes);
  if (status == 0) PostOpen(access);
  return status;
}

unsigned int tLOGICAL_FILE::CreateNew(unsigned int access, unsigned int share,
                                      unsigned int attributes) {
  unsigned int status = static_cast<tPHYFILEIOOBJ &>(*this).CreateNew(access, share, attributes);
  if (status == 0) PostOpen(access);
  return status;
}

unsigned int tLOGICAL_FILE::Close() {
  tOBJECT_LOCK hold(*this);
  tPHYFILEIOOBJ &io = *this;
  unsigned int status = buffer_.Flush(io, 1);
  if (status != 0) return status;
  buffer_.Release();
  status = io.Close();
  if (status != 0) return status;
  open_ = 0;
  access_ = 0;
  return 0;
}

// --- state ------------------------------------------------------------------------

int tLOGICAL_FILE::IsOpen() const { return open_; }
int tLOGICAL_FILE::IsReadable() const { return (access_ & tFILEDEFS::MODE_READ) ? 1 : 0; }
int tLOGICAL_FILE::IsWritable() const { return (access_ & tFILEDEFS::MODE_WRITE) ? 1 : 0; }

unsigned int tLOGICAL_FILE::AccessTest(unsigned int wanted) {
  if (((wanted & tFILEDEFS::MODE_WRITE) && !IsWritable()) ||
      ((wanted & tFILEDEFS::MODE_READ) && !IsReadable())) {
    tTHREAD::SetLastError(AddErrorContext(kelfilesys::NewLibraryError(cMSG_ACCESS)));
    return 3;
  }
  return 0;
}

// --- sizes --------------------------------------------------------------------------

unsigned int tLOGICAL_FILE::GetSize(unsigned long *size) {
  if (open_) {
    unsigned int status = Flush(1);
    if (status != 0) return status;
  }
  return static_cast<tPHYFILEIOOBJ &>(*this).GetSize(size);
}

unsigned int tLOGICAL_FILE::SetSize(unsigned long size) {
  const int opened = !open_;
  unsigned int status = opened ? OpenExisting(tFILEDEFS::MODE_READWRITE, 0) : Flush(1);
  if (status != 0) return status;
  status = static_cast<tPHYFILEIOOBJ &>(*this).SetSize(size);
  if (!opened) return status;
  if (status == 0) return Close();
  tMSG *why = tTHREAD::TakeOwnershipOfLastError();
  Close();
  tTHREAD::SetLastError(why);
  return status;
}

// --- region locks ----------------------------------------------------------------------

unsigned int tLOGICAL_FILE::LockRegion(tFILEDEFS::eSEEKMODE mode, unsigned long offset,
                                       unsigned long length, unsigned int flags) {
  unsigned int status = Flush(1);
  if (status != 0) return status;
  unsigned long start = offset;
  unsigned long size = 0;
  if (mode == tFILEDEFS::SEEK_FROM_CURRENT) {
    unsigned long pos = 0;
    status = GetPos(&pos);
    start = pos + offset;
  } else if (mode != tFILEDEFS::SEEK_FROM_START) {
    status = GetSize(&size);
    start = size + offset;
  }
  if (status != 0) return status;
  tPHYFILEIOOBJ &io = *this;
  for (;;) {
    status = io.LockRegion(start, length, flags);
    if (status != 0 || mode == tFILEDEFS::SEEK_FROM_START || mode == tFILEDEFS::SEEK_FROM_CURRENT) {
      return status;
    }
    // From the end: the file may have grown between the size and the lock;
    // the region then belongs at the new end.
    unsigned long now = 0;
    status = GetSize(&now);
    if (status != 0 || now == size) return status;
    status = io.UnlockRegion(start, length);
    if (status != 0) return status;
    start = start - size + now;
    size = now;
  }
}

unsigned int tLOGICAL_FILE::LockRegion(unsigned long offset, unsigned long length,
                                       unsigned int flags) {
  return LockRegion(tFILEDEFS::SEEK_FROM_START, offset, length, flags);
}

unsigned int tLOGICAL_FILE::LockRegion(unsigned long length, unsigned int flags) {
  return LockRegion(tFILEDEFS::SEEK_FROM_CURRENT, 0, length, flags);
}

unsigned int tLOGICAL_FILE::UnlockRegion(tFILEDEFS::eSEEKMODE mode, unsigned long offset,
                                         unsigned long length) {
  // A write-back that fails does not keep the region locked: other
  // processes would wait for ever on a lock nobody can release. The failure
  // is still the result. Counting from the end needs the write-back.
  unsigned int flushed = Flush(1);
  if (flushed != 0 && mode != tFILEDEFS::SEEK_FROM_START && mode != tFILEDEFS::SEEK_FROM_CURRENT) {
    return flushed;
  }
  unsigned int status = 0;
  unsigned long start = offset;
  if (mode != tFILEDEFS::SEEK_FROM_START) {
    unsigned long pos = 0;
    status = GetPos(&pos);
    if (status != 0) return status;
    if (mode == tFILEDEFS::SEEK_FROM_CURRENT) {
      start = pos + offset;
    } else {
      // Any mode but 0 and 1 counts from the end, as LockRegion does, so
      // that a region unlocks with the words that locked it.
      status = Seek(tFILEDEFS::SEEK_FROM_END, static_cast<long>(offset), &start);
      if (status == 0) status = Seek(tFILEDEFS::SEEK_FROM_START, static_cast<long>(pos), nullptr);
      if (status != 0) return status;
    }
  }
  status = static_cast<tPHYFILEIOOBJ &>(*this).UnlockRegion(start, length);
  return flushed != 0 ? flushed : status;
}

unsigned int tLOGICAL_FILE::UnlockRegion(unsigned long offset, unsigned long length) {
  return UnlockRegion(tFILEDEFS::SEEK_FROM_START, offset, length);
}

unsigned int tLOGICAL_FILE::UnlockRegion(unsigned long length) {
  return UnlockRegion(tFILEDEFS::SEEK_FROM_CURRENT, 0, length);
}
