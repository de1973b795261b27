// The INI file's whole-file load and its safe save: the side copy that a
// save writes first and that a load trusts only when it proves an
// interrupted save (docs/text-and-config.md), and the save itself.
#include "kelcore/files/ini_file.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "kelcore/msgcat/module_catalogs.h"
#include "kelcore/msg/message.h"
#include "kelcore/names/pc_file_name.h"
#include "kelcore/physical/file_defs.h"
#include "kelcore/physical/physical_file.h"
#include "kelcore/platform/file.h"
#include "kelcore/sync/lock.h"
#include "kelcore/sync/thread.h"
#include "kelcore/text/nls_string.h"

namespace {

// The side copy of a file being saved: complete under cSIDE_SUFFIX,
// in the making under cSIDE_TEMP_SUFFIX.
const char cSIDE_SUFFIX[] = ".sav";
const char cSIDE_TEMP_SUFFIX[] = ".sav~";

// A name with the side copy's suffix; null without memory.
char *SideName(char const *name, char const *suffix) {
  size_t n = std::strlen(name), m = std::strlen(suffix);
  char *s = new (std::nothrow) char[n + m + 1];
  if (!s) return 0;
  std::memcpy(s, name, n);
  std::memcpy(s + n, suffix, m + 1);
  return s;
}

// A side copy is one header line, then the content being written, then the
// content it replaces:
//   "KELINI-SIDE-COPY-1 <new size> <old size> <hash>\n" <new> <old>
// with the sizes in decimal and the hash (FNV-1a, 32 bits, over new and
// old) in hexadecimal. See docs/text-and-config.md for when it is trusted.
const char cSIDE_MAGIC[] = "KELINI-SIDE-COPY-1 ";
const unsigned long cSIDE_HEADER_MAX = 80;

// What InspectSide finds.
enum eSIDE {
  cSIDE_NONE,     // no side copy
  cSIDE_FOREIGN,  // a file of that name the library did not write, or unreadable
  cSIDE_STALE,    // ours, but the file is complete or was changed since
  cSIDE_TRUSTED   // ours, and the file is what an interrupted save left
};

unsigned int Fnv(unsigned int h, char const *p, unsigned long n) {
  for (unsigned long i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * 16777619u;
  return h;
}

unsigned int MemoryOutOfMemory() {
  tTHREAD::SetLastError(tERRMSG::OutOfMemory);
  return 0xFFFFFFFFu;
}

// Bytes in memory behind the physical-file facets: Save renders the new
// content into one, so that the same bytes go to the side copy and to the
// file, and Load parses a side copy's old content from one.
class tMEMORY_FILE : public tNOSYNC, public tPHYSICAL_FILE, public tPCFILENAME {
 public:
  tMEMORY_FILE() : data_(0), size_(0), capacity_(0), pos_(0) {}
  ~tMEMORY_FILE() { delete[] data_; }
  // Copies `size` bytes in; 0 without memory.
  int Assign(char const *bytes, unsigned long size) {
    if (!Reserve(size)) return 0;
    if (size) std::memcpy(data_, bytes, size);
    size_ = size;
    pos_ = 0;
    return 1;
  }
  char const *Data() const { return data_; }
  unsigned long Size() const { return size_; }

  unsigned int Exists(int *exists) {
    if (exists) *exists = 1;
    return 0;
  }
  unsigned int Rename(tPHYFILENAMEOBJ const &) { return 0; }
  unsigned int Delete() { return 0; }
  unsigned int GetAttributes(unsigned int *a) {
    if (a) *a = 0;
    return 0;
  }
  unsigned int SetAttributes(unsigned int, unsigned int) { return 0; }
  unsigned int GetSecurity(unsigned int *p) {
    if (p) *p = 0;
    return 0;
  }
  unsigned int SetSecurity(unsigned int, unsigned int) { return 0; }
  unsigned int GetModifyTime(tDATETIME *) { return 0; }
  unsigned int SetModifyTime(tDATETIME const &) { return 0; }
  unsigned int AllocCompatFileObj(tPHYSICAL_FILE **out) const {
    if (out) *out = 0;
    return MemoryOutOfMemory();
  }
  unsigned int AllocCompatDirObj(tPHYSICAL_DIR **out) const {
    if (out) *out = 0;
    return MemoryOutOfMemory();
  }
  unsigned int OpenExisting(unsigned int, unsigned int) { return Open(0); }
  unsigned int OpenAlways(unsigned int, unsigned int, unsigned int) { return Open(0); }
  unsigned int Create(unsigned int, unsigned int, unsigned int) { return Open(1); }
  unsigned int CreateNew(unsigned int, unsigned int, unsigned int) { return Open(1); }
  unsigned int Close() { return 0; }
  unsigned int Flush() { return 0; }
  unsigned int SetSize(unsigned long size) {
    if (!Reserve(size)) return MemoryOutOfMemory();
    if (size > size_) std::memset(data_ + size_, 0, size - size_);
    size_ = size;
    return 0;
  }
  unsigned int GetSize(unsigned long *size) {
    if (size) *size = size_;
    return 0;
  }
  unsigned int Read(void *buf, unsigned long bytes, unsigned long *done) {
    unsigned long n = pos_ < size_ ? size_ - pos_ : 0;
    if (n > bytes) n = bytes;
    if (n) std::memcpy(buf, data_ + pos_, n);
    pos_ += n;
    if (done) {
      *done = n;
    } else if (n < bytes) {
      return 4;  // the end, as a physical file reports a short read
    }
    return 0;
  }
  unsigned int Write(void const *buf, unsigned long bytes, unsigned long *done) {
    if (done) *done = 0;
    if (bytes > ULONG_MAX - pos_ || !Reserve(pos_ + bytes)) return MemoryOutOfMemory();
    if (pos_ > size_) std::memset(data_ + size_, 0, pos_ - size_);
    if (bytes) std::memcpy(data_ + pos_, buf, bytes);
    pos_ += bytes;
    if (pos_ > size_) size_ = pos_;
    if (done) *done = bytes;
    return 0;
  }
  unsigned int Seek(long distance, tFILEDEFS::eSEEKMODE from, unsigned long *newPos) {
    unsigned long base = from == tFILEDEFS::SEEK_FROM_START ? 0
                         : from == tFILEDEFS::SEEK_FROM_CURRENT ? pos_
                                                                 : size_;
    if (distance < 0 && static_cast<unsigned long>(-(distance + 1)) + 1 > base) {
      return 0xFFFFFFFFu;  // before the start: only the library seeks here, never so
    }
    pos_ = distance < 0 ? base - (static_cast<unsigned long>(-(distance + 1)) + 1)
                        : base + static_cast<unsigned long>(distance);
    if (newPos) *newPos = pos_;
    return 0;
  }
  unsigned int GetPos(unsigned long *pos) {
    if (pos) *pos = pos_;
    return 0;
  }
  unsigned int LockRegion(unsigned long, unsigned long, unsigned int) { return 0; }
  unsigned int UnlockRegion(unsigned long, unsigned long) { return 0; }

 private:
  tMEMORY_FILE(const tMEMORY_FILE &);
  tMEMORY_FILE &operator=(const tMEMORY_FILE &);
  unsigned int Open(int empty) {
    if (empty) size_ = 0;
    pos_ = 0;
    return 0;
  }
  int Reserve(unsigned long size) {
    if (size <= capacity_) return 1;
    unsigned long capacity = capacity_ ? capacity_ : 256;
    while (capacity < size) capacity = capacity > ULONG_MAX / 2 ? size : capacity * 2;
    char *grown = new (std::nothrow) char[capacity];
    if (!grown) return 0;
    if (size_) std::memcpy(grown, data_, size_);
    delete[] data_;
    data_ = grown;
    capacity_ = capacity;
    return 1;
  }
  char *data_;
  unsigned long size_;
  unsigned long capacity_;
  unsigned long pos_;
};

// The whole content of an open file, read from its start, as new[] bytes
// in *data (at least one byte allocated).
unsigned int ReadWhole(tLOGICAL_FILE &f, char **data, unsigned long *size) {
  *data = 0;
  *size = 0;
  unsigned long n = 0;
  unsigned int status = f.GetSize(&n);
  if (status == 0) status = f.Seek(tFILEDEFS::SEEK_FROM_START, 0, 0);
  if (status != 0) return status;
  char *p = new (std::nothrow) char[n ? n : 1];
  if (!p) return MemoryOutOfMemory();
  unsigned long got = 0;
  if (n && (status = f.Read(p, n, &got)) == 0 && got != n) status = f.Read(p + got, n - got, 0);
  if (status != 0) {
    delete[] p;
    return status;
  }
  *data = p;
  *size = n;
  return 0;
}

// The side copy's parts, when `bytes` is one the library wrote.
int ParseSideCopy(char const *bytes, unsigned long size, char const **fresh,
                  unsigned long *freshSize, char const **old, unsigned long *oldSize) {
  const unsigned long magic = sizeof cSIDE_MAGIC - 1;
  if (size < magic || std::memcmp(bytes, cSIDE_MAGIC, magic) != 0) return 0;
  unsigned long end = magic;
  while (end < size && end < cSIDE_HEADER_MAX && bytes[end] != '\n') ++end;
  if (end >= size || bytes[end] != '\n') return 0;
  char header[cSIDE_HEADER_MAX + 1];
  std::memcpy(header, bytes + magic, end - magic);
  header[end - magic] = 0;
  unsigned long n = 0, o = 0;
  unsigned int hash = 0;
  char tail = 0;
  if (std::sscanf(header, "%lu %lu %x%c", &n, &o, &hash, &tail) != 3) return 0;
  const unsigned long body = end + 1;
  if (n > size - body || o != size - body - n) return 0;
  if (Fnv(2166136261u, bytes + body, n + o) != hash) return 0;
  *fresh = bytes + body;
  *freshSize = n;
  *old = bytes + body + n;
  *oldSize = o;
  return 1;
}

}  // namespace

void tINIFILE::ParseBytes(char const *bytes, unsigned long size) {
  tMEMORY_FILE *memory = new (std::nothrow) tMEMORY_FILE;
  if (!memory || !memory->Assign(bytes, size)) {
    delete memory;
    tTHREAD::SetLastError(tERRMSG::OutOfMemory);
    return;
  }
  tINIFILE src(memory, 1);
  if (src.OpenExisting(1, 1) != 0) return;
  src.Set16BitFlag(Get16BitFlag());
  src.SetByteSwap(GetByteSwap());
  Parse(src);
}

namespace {
// A side file object named `name`, on the back end of `like`; null
// without memory.
tLOGICAL_FILE *SideFile(tLOGICAL_FILE &like, char const *name) {
  tPHYSICAL_FILE *physical = 0;
  if (!name || like.AllocCompatFileObj(&physical) != 0) return 0;
  tLOGICAL_FILE *f = new (std::nothrow) tLOGICAL_FILE(physical, 1);
  if (!f) {
    delete physical;
    tTHREAD::SetLastError(tERRMSG::OutOfMemory);
    return 0;
  }
  f->SetName(name);
  return f;
}
}  // namespace

// A side copy is trusted only when it is provably what an interrupted save
// of this file left: the library's header, sizes and hash all match, and
// the file holds a proper beginning of the new content the side copy
// records (the save had emptied it and not finished writing it), other
// than the old content itself. A file that holds the new content in full,
// or anything else (a hand edit after the interruption), is the file's
// content; the side copy is then stale.
int tINIFILE::InspectSide(char const *current, unsigned long currentSize, char **old,
                          unsigned long *oldSize) {
  *old = 0;
  *oldSize = 0;
  char *name = SideName(GetName(), cSIDE_SUFFIX);
  tLOGICAL_FILE *side = SideFile(*this, name);
  delete[] name;
  if (!side) return cSIDE_FOREIGN;
  int exists = 0;
  int kind = cSIDE_FOREIGN;
  char *bytes = 0;
  unsigned long size = 0;
  if (side->Exists(&exists) == 0 && !exists) {
    kind = cSIDE_NONE;
  } else if (side->OpenExisting(1, 1) == 0 && ReadWhole(*side, &bytes, &size) == 0) {
    char const *fresh = 0, *before = 0;
    unsigned long freshSize = 0, beforeSize = 0;
    if (ParseSideCopy(bytes, size, &fresh, &freshSize, &before, &beforeSize)) {
      kind = cSIDE_STALE;
      const int beginning = currentSize < freshSize && std::memcmp(current, fresh, currentSize) == 0;
      const int unchanged = currentSize == beforeSize && std::memcmp(current, before, beforeSize) == 0;
      if (beginning && !unchanged && (*old = new (std::nothrow) char[beforeSize ? beforeSize : 1])) {
        if (beforeSize) std::memcpy(*old, before, beforeSize);
        *oldSize = beforeSize;
        kind = cSIDE_TRUSTED;
      }
    }
  }
  delete[] bytes;
  delete side;
  return kind;
}

void tINIFILE::DeleteSide() {
  char *name = SideName(GetName(), cSIDE_SUFFIX);
  tLOGICAL_FILE *side = SideFile(*this, name);
  delete[] name;
  if (side) side->Delete();
  delete side;
}

int tINIFILE::MakeSideCopy(char const *fresh, unsigned long freshSize, char const *old,
                           unsigned long oldSize) {
  char *temp_name = SideName(GetName(), cSIDE_TEMP_SUFFIX);
  char *side_name = SideName(GetName(), cSIDE_SUFFIX);
  char *side_file_name = SideName(GetFileName(), cSIDE_SUFFIX);
  tLOGICAL_FILE *side = side_name && side_file_name ? SideFile(*this, temp_name) : 0;
  int made = 0;
  if (side && side->Create(2, 1, 0666) == 0) {
    // The copy is as private as the file before a byte of it is written.
    int ok = kelsys::CopyFileMode(GetName(), temp_name) == 0;
    char header[cSIDE_HEADER_MAX];
    unsigned int hash = Fnv(Fnv(2166136261u, fresh, freshSize), old, oldSize);
    int n = std::snprintf(header, sizeof header, "%s%lu %lu %08x\n", cSIDE_MAGIC, freshSize,
                          oldSize, hash);
    tPHYSICAL_FILE &physical = *side;
    ok = ok && n > 0 && side->Write(header, static_cast<unsigned long>(n), 0) == 0 &&
         (!freshSize || side->Write(fresh, freshSize, 0) == 0) &&
         (!oldSize || side->Write(old, oldSize, 0) == 0) && side->Flush(0) == 0 &&
         physical.Flush() == 0;
    if (side->Close() != 0) ok = 0;
    if (ok) {
      // The name with its directory first: a C stream renames to exactly
      // the name it is given. A back end that renames within the file's
      // own directory refuses a name with a directory, and takes the bare
      // one.
      tPCFILENAME full(side_name), bare(side_file_name);
      ok = physical.Rename(full) == 0 || (full.HasDir() && physical.Rename(bare) == 0);
    }
    if (ok) {
      made = 1;
    } else {
      tMSG *why = tTHREAD::TakeOwnershipOfLastError();
      side->Delete();
      tTHREAD::SetLastError(why);
    }
  }
  delete side;
  delete[] temp_name;
  delete[] side_name;
  delete[] side_file_name;
  return made;
}

void tINIFILE::Load() {
  tMSG *saved = tTHREAD::TakeOwnershipOfLastError();
  loaded_ = 1;
  int opened = 0, locked = 0;
  if (OpenWhole(1, tFILEDEFS::LOCK_SHARED, &opened, &locked) == 0) {
    // A side copy is looked into only when there is one.
    char *old = 0;
    unsigned long old_size = 0;
    char *name = SideName(GetName(), cSIDE_SUFFIX);
    tLOGICAL_FILE *side = SideFile(*this, name);
    int exists = 0;
    if (side && side->Exists(&exists) == 0 && exists) {
      char *current = 0;
      unsigned long current_size = 0;
      if (ReadWhole(*this, &current, &current_size) == 0 &&
          InspectSide(current, current_size, &old, &old_size) != cSIDE_TRUSTED) {
        delete[] old;
        old = 0;
      }
      delete[] current;
    }
    delete side;
    delete[] name;
    if (old) {
      ParseBytes(old, old_size);
      delete[] old;
    } else if (Rewind() == 0) {
      Parse(*this);
    }
    modified_ = 0;
    CloseWhole(opened, locked);
  }
  tTHREAD::SetLastError(saved);
}

unsigned int tINIFILE::Rewrite(char const *bytes, unsigned long size) {
  tPHYSICAL_FILE &physical = *this;
  // The whole content is written again: bytes of a failed write still in
  // the window (a full disk) must not stand in the way.
  Discard();
  unsigned int status = Rewind();
  if (status == 0) status = SetSize(0);
  if (status == 0 && size) status = tFILE::Write(bytes, size, 0);
  if (status == 0) status = Flush(0);
  if (status == 0) status = physical.Flush();
  return status;
}

unsigned int tINIFILE::SaveLocked() {
  // The new content, rendered once: the side copy records it and the file
  // receives exactly these bytes.
  tMEMORY_FILE *memory = new (std::nothrow) tMEMORY_FILE;
  if (!memory) return MemoryOutOfMemory();
  tTXTFILE rendered(memory, 1);
  unsigned int status = rendered.Create(3, 1, 0);
  if (status == 0) {
    rendered.Set16BitFlag(Get16BitFlag());
    rendered.SetByteSwap(GetByteSwap());
    status = Write(rendered);
  }
  if (status == 0) status = rendered.Flush(0);
  if (status != 0) return status;
  char const *fresh = memory->Data();
  unsigned long fresh_size = memory->Size();

  char *current = 0, *old = 0;
  unsigned long current_size = 0, old_size = 0;
  Discard();  // what an earlier failed save left unwritten
  if ((status = ReadWhole(*this, &current, &current_size)) != 0) return status;
  int side = InspectSide(current, current_size, &old, &old_size);
  if (side == cSIDE_TRUSTED) {
    // An interrupted save left the file half written: put the content the
    // side copy kept back first, then save as usual.
    status = Rewrite(old, old_size);
    if (status != 0) {
      delete[] current;
      delete[] old;
      return status;
    }
    delete[] current;
    current = old;
    current_size = old_size;
    old = 0;
    side = cSIDE_STALE;
  }
  // A stale side copy is the library's own and out of date; a file of that
  // name that the library did not write is never touched, and the file is
  // then rewritten in place.
  if (side == cSIDE_STALE) DeleteSide();
  int made = side != cSIDE_FOREIGN && MakeSideCopy(fresh, fresh_size, current, current_size);
  // Without a side copy (a folder that cannot be written, say) the file is
  // still saved, rewritten in place.
  status = Rewrite(fresh, fresh_size);
  if (status == 0) {
    if (made) DeleteSide();
  } else {
    // Put the old content back; if that fails too, the side copy stays and
    // the next Load reads it. The failure of the save is what the caller
    // learns.
    tMSG *why = tTHREAD::TakeOwnershipOfLastError();
    if (Rewrite(current, current_size) == 0 && made) DeleteSide();
    tTHREAD::SetLastError(why);
  }
  delete[] current;
  return status;
}

void tINIFILE::Save() {
  tMSG *saved = tTHREAD::TakeOwnershipOfLastError();
  int opened = 0, locked = 0;
  unsigned int status = OpenWhole(3, 0, &opened, &locked);
  if (status == 0) {
    status = SaveLocked();
    if (status == 0) modified_ = 0;
    tMSG *why = status != 0 ? tTHREAD::TakeOwnershipOfLastError() : 0;
    CloseWhole(opened, locked);
    if (status != 0) tTHREAD::SetLastError(why);
  }
  // A save that did not write the file leaves its reason as the last
  // error; otherwise the caller's last error is back as it was.
  if (status == 0) {
    tTHREAD::SetLastError(saved);
  } else {
    tMSG::Dispose(saved);
  }
}
