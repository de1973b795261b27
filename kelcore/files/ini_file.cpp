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

// The lists keep the order of the file and allow duplicates, and the
// queries want the first entry of a name. Walking a list per lookup makes a
// large file quadratic to query, so each list longer than a few entries
// gets an index from the lower-cased name to the first entry of that name.
// Appending keeps the index current (an earlier entry of the name wins);
// inserting and removing only mark it stale, and the next lookup rebuilds
// it. The index is a cache: when memory for it is short, lookups walk the
// list as before.
namespace kelini {
struct tNAME_INDEX {
  struct tSLOT {
    char const *name;  // the entry's own name; null for an empty slot
    void *entry;
    unsigned int hash;
  };
  tSLOT *slots;
  unsigned int capacity;  // a power of two, or 0
  unsigned int used;
  int valid;
};
}  // namespace kelini

using kelini::tNAME_INDEX;

namespace {

// Lists shorter than this are walked; an index would not pay for itself.
const unsigned int cINDEX_MIN = 16;

// The line buffer of Load; longer lines are joined from pieces.
const unsigned int cLINE_PIECE = 256;

// The side copy of a file being saved: complete under cSIDE_SUFFIX,
// in the making under cSIDE_TEMP_SUFFIX.
const char cSIDE_SUFFIX[] = ".sav";
const char cSIDE_TEMP_SUFFIX[] = ".sav~";

inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// The blanks of the C locale's isspace, without depending on the locale.
inline int IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int SameName(char const *a, char const *b) {
  while (*a && AsciiLower(*a) == AsciiLower(*b)) {
    ++a;
    ++b;
  }
  return *a == 0 && *b == 0;
}

// Values compare like names; an absent value is empty.
int SameValue(char const *a, char const *b) { return SameName(a ? a : "", b ? b : ""); }

unsigned int NameHash(char const *s) {
  unsigned int h = 2166136261u;  // FNV-1a
  for (; *s; ++s) h = (h ^ static_cast<unsigned char>(AsciiLower(*s))) * 16777619u;
  return h;
}

char const *IndexedName(tINIFILE::tSECTION const *s) { return s->IsRaw() ? 0 : s->GetName(); }
char const *IndexedName(tINIFILE::tKEY const *k) { return k->GetName(); }
tINIFILE::tSECTION *Following(tINIFILE::tSECTION const *s) { return s->GetNextEntry(); }
tINIFILE::tKEY *Following(tINIFILE::tKEY const *k) { return k->GetNext(); }

void FreeIndex(tNAME_INDEX *&index) {
  if (index) delete[] index->slots;
  delete index;
  index = 0;
}

void Invalidate(tNAME_INDEX *index) {
  if (index) index->valid = 0;
}

// Adds the name unless it is present: the entry already indexed comes
// earlier in the list. 0 when the table cannot grow.
int IndexAdd(tNAME_INDEX *index, char const *name, void *entry) {
  if ((index->used + 1) * 2 > index->capacity) {
    unsigned int capacity = index->capacity ? index->capacity * 2 : 64;
    tNAME_INDEX::tSLOT *slots = new (std::nothrow) tNAME_INDEX::tSLOT[capacity];
    if (!slots) return 0;
    for (unsigned int i = 0; i < capacity; ++i) slots[i].name = 0;
    for (unsigned int i = 0; i < index->capacity; ++i) {
      if (!index->slots[i].name) continue;
      unsigned int j = index->slots[i].hash & (capacity - 1);
      while (slots[j].name) j = (j + 1) & (capacity - 1);
      slots[j] = index->slots[i];
    }
    delete[] index->slots;
    index->slots = slots;
    index->capacity = capacity;
  }
  unsigned int hash = NameHash(name);
  unsigned int j = hash & (index->capacity - 1);
  for (; index->slots[j].name; j = (j + 1) & (index->capacity - 1)) {
    if (index->slots[j].hash == hash && SameName(index->slots[j].name, name)) return 1;
  }
  index->slots[j].name = name;
  index->slots[j].entry = entry;
  index->slots[j].hash = hash;
  ++index->used;
  return 1;
}

void *IndexFind(tNAME_INDEX const *index, char const *name) {
  unsigned int hash = NameHash(name);
  for (unsigned int j = hash & (index->capacity - 1); index->slots[j].name;
       j = (j + 1) & (index->capacity - 1)) {
    if (index->slots[j].hash == hash && SameName(index->slots[j].name, name)) {
      return index->slots[j].entry;
    }
  }
  return 0;
}

// An entry appended to an indexed list.
template <class T>
void IndexAppended(tNAME_INDEX *&index, T *entry) {
  char const *name = IndexedName(entry);
  if (index && index->valid && name && !IndexAdd(index, name, entry)) FreeIndex(index);
}

// The first entry named `name` of the list that starts at `first`.
template <class T>
T *FindByName(tNAME_INDEX *&index, T *first, unsigned int count, char const *name) {
  if (!name) return 0;
  if (count >= cINDEX_MIN) {
    if (!index && (index = new (std::nothrow) tNAME_INDEX) != 0) {
      index->slots = 0;
      index->capacity = 0;
      index->used = 0;
      index->valid = 0;
    }
    if (index && !index->valid) {
      for (unsigned int i = 0; i < index->capacity; ++i) index->slots[i].name = 0;
      index->used = 0;
      index->valid = 1;
      for (T *e = first; e && index; e = Following(e)) {
        char const *n = IndexedName(e);
        if (n && !IndexAdd(index, n, e)) FreeIndex(index);
      }
    }
    if (index) return static_cast<T *>(IndexFind(index, name));
  }
  for (T *e = first; e; e = Following(e)) {
    char const *n = IndexedName(e);
    if (n && SameName(n, name)) return e;
  }
  return 0;
}

// atol's reading, but a number beyond the range of long stops at its
// limit instead of being undefined.
long ParseLong(char const *s) {
  if (!s) return 0;
  while (IsBlank(*s)) ++s;
  int negative = *s == '-';
  if (*s == '-' || *s == '+') ++s;
  unsigned long limit = negative ? static_cast<unsigned long>(LONG_MAX) + 1 : LONG_MAX;
  unsigned long value = 0;
  for (; *s >= '0' && *s <= '9'; ++s) {
    unsigned int digit = static_cast<unsigned int>(*s - '0');
    value = (value > (limit - digit) / 10) ? limit : value * 10 + digit;
  }
  if (!negative) return static_cast<long>(value);
  return value == limit ? LONG_MIN : -static_cast<long>(value);
}

// strtoul's reading: a minus sign negates in unsigned arithmetic, numbers
// beyond the range stop at ULONG_MAX.
unsigned long ParseULong(char const *s) {
  if (!s) return 0;
  while (IsBlank(*s)) ++s;
  int negative = *s == '-';
  if (*s == '-' || *s == '+') ++s;
  unsigned long value = 0;
  for (; *s >= '0' && *s <= '9'; ++s) {
    unsigned int digit = static_cast<unsigned int>(*s - '0');
    if (value > (ULONG_MAX - digit) / 10) return ULONG_MAX;
    value = value * 10 + digit;
  }
  return negative ? 0 - value : value;
}

// Decimal texts of the typed overloads.
struct tNUMBER_TEXT {
  char text[24];
  explicit tNUMBER_TEXT(long v) { std::snprintf(text, sizeof text, "%ld", v); }
  explicit tNUMBER_TEXT(unsigned long v) { std::snprintf(text, sizeof text, "%lu", v); }
};

// A char widens with its sign whether or not char is signed here.
long Widen(char v) { return static_cast<signed char>(v); }

char *TrimmedCopyEnd(char *begin, char *end) {
  while (end > begin && IsBlank(end[-1])) --end;
  *end = 0;
  return begin;
}

char *SkipBlanks(char *s) {
  while (IsBlank(*s)) ++s;
  return s;
}

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

// TXT set-0 message: a name or value that the file syntax cannot hold.
const unsigned int cMSG_UNWRITABLE = 3;

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

// Which text a name or value may not hold.
enum eTEXT { cTEXT_SECTION, cTEXT_KEY, cTEXT_VALUE };

// 1 when `s` can be written as that part of a line and reads back
// unchanged: no line end and no 0x1A anywhere, no blank at either end
// (reading trims them), and nothing that would read as another kind of
// line or end the name early.
int Holdable(char const *s, int what) {
  if (!s) return 1;
  size_t n = std::strlen(s);
  for (size_t i = 0; i < n; ++i) {
    if (s[i] == '\r' || s[i] == '\n' || s[i] == 0x1A) return 0;
  }
  if (n && (IsBlank(s[0]) || IsBlank(s[n - 1]))) return 0;
  if (what == cTEXT_SECTION) return std::strchr(s, ']') == 0;
  if (what == cTEXT_KEY) return n && !std::strchr(s, '=') && s[0] != ';' && s[0] != '[';
  return 1;
}

}  // namespace

// ----------------------------------------------------------------- tKEY

tINIFILE::tKEY::tKEY() : name_(0), value_(0), prev_(0), next_(0), section_(0) {}

tINIFILE::tKEY::~tKEY() {
  delete[] name_;
  delete[] value_;
}

// ------------------------------------------------------------- tSECTION

tINIFILE::tSECTION::tSECTION()
    : name_(0), raw_(0), key_count_(0), first_key_(0), last_key_(0), prev_(0), next_(0),
      file_(0), index_(0) {}

tINIFILE::tSECTION::~tSECTION() {
  for (tKEY *k = first_key_; k;) {
    tKEY *next = k->next_;
    delete k;
    k = next;
  }
  delete[] name_;
  FreeIndex(index_);
}

tINIFILE::tKEY *tINIFILE::tSECTION::FindKey(char const *name) {
  return FindByName(index_, first_key_, key_count_, name);
}

tINIFILE::tSECTION *tINIFILE::tSECTION::GetNext() const {
  tSECTION *s = next_;
  while (s && s->raw_) s = s->next_;
  return s;
}

// ------------------------------------------------------------- tINIFILE

tINIFILE::tINIFILE(tPHYSICAL_FILE *file, int own)
    : tTXTFILE(file, own), loaded_(0), modified_(0), count_(0), first_(0), last_(0), index_(0) {}

tINIFILE::tINIFILE(tPHYSICAL_FILE &file, int own)
    : tTXTFILE(file, own), loaded_(0), modified_(0), count_(0), first_(0), last_(0), index_(0) {}

tINIFILE::~tINIFILE() {
  if (modified_) Save();
  FreeAll();
}

void tINIFILE::FreeAll() {
  for (tSECTION *s = first_; s;) {
    tSECTION *next = s->next_;
    delete s;
    s = next;
  }
  first_ = last_ = 0;
  count_ = 0;
  FreeIndex(index_);
}

void tINIFILE::LoadIfNeeded() {
  if (!loaded_) Load();
}

unsigned int tINIFILE::NumSections() const {
  // A query like any other: the count is the file's once it is loaded.
  const_cast<tINIFILE *>(this)->LoadIfNeeded();
  return count_;
}
int tINIFILE::Modified() const { return modified_; }
void tINIFILE::SetModified(int modified) { modified_ = modified; }

// Sections and keys are linked alike: before an entry of the list, or at
// its end.
template <class T>
void tINIFILE::Link(T *e, T *before, T *&first, T *&last, kelini::tNAME_INDEX *&index) {
  if (before) {
    e->prev_ = before->prev_;
    e->next_ = before;
    if (before->prev_) {
      before->prev_->next_ = e;
    } else {
      first = e;
    }
    before->prev_ = e;
    Invalidate(index);
  } else {
    e->prev_ = last;
    if (last) {
      last->next_ = e;
    } else {
      first = e;
    }
    last = e;
    IndexAppended(index, e);
  }
}

template <class T>
void tINIFILE::Unlink(T *e, T *&first, T *&last, kelini::tNAME_INDEX *&index) {
  if (e->prev_) {
    e->prev_->next_ = e->next_;
  } else {
    first = e->next_;
  }
  if (e->next_) {
    e->next_->prev_ = e->prev_;
  } else {
    last = e->prev_;
  }
  Invalidate(index);
}

tINIFILE::tSECTION *tINIFILE::NewSection(char const *name, int raw, tSECTION *before) {
  tSECTION *s = new (std::nothrow) tSECTION;
  char *copy = strnew(name ? name : "");
  if (!s || !copy) {
    delete s;
    delete[] copy;
    tTHREAD::SetLastError(tERRMSG::OutOfMemory);
    return 0;
  }
  s->name_ = copy;
  s->raw_ = raw;
  s->file_ = this;
  Link(s, before && before->file_ == this ? before : 0, first_, last_, index_);
  ++count_;
  modified_ = 1;
  return s;
}

tINIFILE::tKEY *tINIFILE::NewKey(tSECTION *section, char const *name, char const *value,
                                 tKEY *before) {
  tKEY *k = new (std::nothrow) tKEY;
  char *n = name ? strnew(name) : 0;
  char *v = value ? strnew(value) : 0;
  if (!k || (name && !n) || (value && !v)) {
    delete k;
    delete[] n;
    delete[] v;
    tTHREAD::SetLastError(tERRMSG::OutOfMemory);
    return 0;
  }
  k->name_ = n;
  k->value_ = v;
  k->section_ = section;
  Link(k, before && before->section_ == section ? before : 0, section->first_key_,
       section->last_key_, section->index_);
  ++section->key_count_;
  modified_ = 1;
  return k;
}

void tINIFILE::RemoveKey(tKEY *k) {
  tSECTION *s = k->section_;
  Unlink(k, s->first_key_, s->last_key_, s->index_);
  --s->key_count_;
  delete k;
  modified_ = 1;
}

tINIFILE::tSECTION *tINIFILE::FindSection(char const *name) {
  LoadIfNeeded();
  return FindByName(index_, first_, count_, name);
}

tINIFILE::tSECTION *tINIFILE::GetFirstSection() {
  LoadIfNeeded();
  tSECTION *s = first_;
  while (s && s->raw_) s = s->next_;
  return s;
}

tINIFILE::tSECTION *tINIFILE::GetFirstEntry() {
  LoadIfNeeded();
  return first_;
}

tINIFILE::tSECTION *tINIFILE::FindOrAdd(char const *section) {
  tSECTION *s = FindSection(section);
  return s ? s : NewSection(section, 0, 0);
}

tINIFILE::tKEY *tINIFILE::FindValueKey(char const *section, char const *key) {
  tSECTION *s = FindSection(section);
  return s ? s->FindKey(key) : 0;
}

// ------------------------------------------------------------- changes

int tINIFILE::Refused(char const *section, char const *key, char const *value) {
  char const *bad = !Holdable(section, cTEXT_SECTION) ? section
                    : !Holdable(key, cTEXT_KEY)       ? key
                    : !Holdable(value, cTEXT_VALUE)   ? value
                                                      : 0;
  if (!bad) return 0;
  tTHREAD::SetLastError(AddErrorContext(keltxt::NewLibraryError(cMSG_UNWRITABLE)) << bad);
  return 1;
}

void tINIFILE::Add(char const *section) {
  if (Refused(section, 0, 0)) return;
  if (!FindSection(section)) NewSection(section, 0, 0);
}

void tINIFILE::Add(char const *section, char const *key, char const *value) {
  Insert(section, key, value, static_cast<tKEY *>(0));
}

void tINIFILE::Replace(char const *section, char const *key, char const *value) {
  if (!key || Refused(section, key, value)) return;
  tSECTION *s = FindOrAdd(section);
  if (!s) return;
  tKEY *k = s->FindKey(key);
  if (!k) {
    NewKey(s, key, value, 0);
    return;
  }
  if (k->value_ == 0 && value == 0) return;
  if (k->value_ && value && SameName(k->value_, value)) return;
  char *copy = 0;
  if (value && (copy = strnew(value)) == 0) {
    tTHREAD::SetLastError(tERRMSG::OutOfMemory);
    return;
  }
  delete[] k->value_;
  k->value_ = copy;
  modified_ = 1;
}

void tINIFILE::Insert(char const *section, char const *key, char const *value, tKEY *before) {
  if (!key || Refused(section, key, value)) return;
  tSECTION *s = FindOrAdd(section);
  if (s) NewKey(s, key, value, before);
}

void tINIFILE::Insert(char const *section, tSECTION *before) {
  if (Refused(section, 0, 0)) return;
  LoadIfNeeded();
  NewSection(section, 0, before);
}

void tINIFILE::Remove(tSECTION *section) {
  if (!section || section->file_ != this) return;
  Unlink(section, first_, last_, index_);
  --count_;
  delete section;
  modified_ = 1;
}

void tINIFILE::RemoveMatching(char const *section, char const *key,
                              int (*matches)(char const *value, void const *wanted),
                              void const *wanted) {
  tSECTION *s = FindSection(section);
  if (!s || !key) return;
  for (tKEY *k = s->first_key_; k;) {
    tKEY *next = k->next_;
    if (k->name_ && SameName(k->name_, key) && matches(k->value_, wanted)) RemoveKey(k);
    k = next;
  }
}

namespace {
int MatchesText(char const *value, void const *wanted) {
  return !wanted || SameValue(value, static_cast<char const *>(wanted));
}
int MatchesLong(char const *value, void const *wanted) {
  return ParseLong(value) == *static_cast<long const *>(wanted);
}
int MatchesULong(char const *value, void const *wanted) {
  return ParseULong(value) == *static_cast<unsigned long const *>(wanted);
}
}  // namespace

void tINIFILE::Remove(char const *section, char const *key, char const *value) {
  RemoveMatching(section, key, MatchesText, value);
}

void tINIFILE::Remove(char const *section, char const *key, long value) {
  RemoveMatching(section, key, MatchesLong, &value);
}

void tINIFILE::Remove(char const *section, char const *key, unsigned long value) {
  RemoveMatching(section, key, MatchesULong, &value);
}

// The typed overloads: signed types as "%ld", unsigned ones as "%lu".
#define KELCORE_INI_TYPED(T, WIDE, WIDEN)                                                   \
  void tINIFILE::Add(char const *section, char const *key, T value) {                       \
    Add(section, key, tNUMBER_TEXT(static_cast<WIDE>(WIDEN(value))).text);                  \
  }                                                                                         \
  void tINIFILE::Replace(char const *section, char const *key, T value) {                   \
    Replace(section, key, tNUMBER_TEXT(static_cast<WIDE>(WIDEN(value))).text);              \
  }                                                                                         \
  void tINIFILE::Insert(char const *section, char const *key, T value, tKEY *before) {      \
    Insert(section, key, tNUMBER_TEXT(static_cast<WIDE>(WIDEN(value))).text, before);       \
  }

KELCORE_INI_TYPED(char, long, Widen)
KELCORE_INI_TYPED(unsigned char, unsigned long, )
KELCORE_INI_TYPED(int, long, )
KELCORE_INI_TYPED(unsigned int, unsigned long, )
KELCORE_INI_TYPED(long, long, )
KELCORE_INI_TYPED(unsigned long, unsigned long, )
#undef KELCORE_INI_TYPED

void tINIFILE::Remove(char const *section, char const *key, char value) {
  Remove(section, key, Widen(value));
}
void tINIFILE::Remove(char const *section, char const *key, unsigned char value) {
  Remove(section, key, static_cast<unsigned long>(value));
}
void tINIFILE::Remove(char const *section, char const *key, int value) {
  Remove(section, key, static_cast<long>(value));
}
void tINIFILE::Remove(char const *section, char const *key, unsigned int value) {
  Remove(section, key, static_cast<unsigned long>(value));
}

// ------------------------------------------------------------- queries

void tINIFILE::Get(char const *section, char const *key, char *buf, unsigned int size,
                   char const *def) {
  if (!buf) return;
  tKEY *k = FindValueKey(section, key);
  char const *value = (k && k->value_ && *k->value_) ? k->value_ : (def ? def : "");
  size_t n = std::strlen(value);
  if (n > size) n = size;
  std::memcpy(buf, value, n);
  buf[n] = 0;
}

long tINIFILE::Get(char const *section, char const *key, long def) {
  tKEY *k = FindValueKey(section, key);
  return k ? ParseLong(k->value_) : def;
}

unsigned long tINIFILE::Get(char const *section, char const *key, unsigned long def) {
  tKEY *k = FindValueKey(section, key);
  return k ? ParseULong(k->value_) : def;
}

char tINIFILE::Get(char const *section, char const *key, char def) {
  return static_cast<char>(Get(section, key, Widen(def)));
}
unsigned char tINIFILE::Get(char const *section, char const *key, unsigned char def) {
  return static_cast<unsigned char>(Get(section, key, static_cast<unsigned long>(def)));
}
int tINIFILE::Get(char const *section, char const *key, int def) {
  return static_cast<int>(Get(section, key, static_cast<long>(def)));
}
unsigned int tINIFILE::Get(char const *section, char const *key, unsigned int def) {
  return static_cast<unsigned int>(Get(section, key, static_cast<unsigned long>(def)));
}

// ------------------------------------------------------- load and save

void tINIFILE::Parse(tINIFILE &src) {
  char piece[cLINE_PIECE];
  char *joined = 0;  // a line longer than one piece, joined
  size_t joined_capacity = 0;
  tSECTION *current = 0;
  int sections = 0;  // a header has been read: lines are no longer raw by place
  for (;;) {
    int cut = 0;
    if (src._ReadLinePiece(piece, sizeof piece, &cut) != 0) break;
    char *line = piece;
    if (cut) {
      size_t length = std::strlen(piece);
      int failed = 0;
      for (;;) {
        size_t more = std::strlen(piece);
        if (length + more + 1 > joined_capacity || joined == 0) {
          size_t capacity = joined_capacity ? joined_capacity : 2 * sizeof piece;
          while (capacity < length + more + 1) capacity *= 2;
          char *grown = new (std::nothrow) char[capacity];
          if (!grown) {
            failed = 1;
            break;
          }
          if (joined) std::memcpy(grown, joined, length);
          delete[] joined;
          joined = grown;
          joined_capacity = capacity;
        }
        if (line == piece) {
          // First piece: its text is already counted in `length`.
          std::memcpy(joined, piece, length + 1);
          line = joined;
        } else {
          std::memcpy(joined + length, piece, more + 1);
          length += more;
        }
        if (!cut) break;
        if (src._ReadLinePiece(piece, sizeof piece, &cut) != 0) {
          // The text ended at the cut: what was joined is the last line.
          cut = 0;
          piece[0] = 0;
        }
      }
      // Without memory the load stops here; what was read stays.
      if (failed) break;
      line = joined;  // growing may have moved it
    }

    char *p = SkipBlanks(line);
    if (*p == '[') {
      char *close = std::strchr(p, ']');
      if (close) {
        char *name = TrimmedCopyEnd(SkipBlanks(p + 1), close);
        if ((current = NewSection(name, 0, 0)) == 0) break;
        sections = 1;
        continue;
      }
      // A header without its ']' after the first header is dropped, and it
      // ends the section: the lines up to the next header are raw lines.
      // Before the first header it is a raw line like any other.
      if (sections) {
        current = 0;
        continue;
      }
    }
    if (!current) {
      if (!NewSection(line, 1, 0)) break;
      continue;
    }
    if (*p == ';') {
      if (!NewKey(current, 0, line, 0)) break;
      continue;
    }
    char *eq = std::strchr(p, '=');
    if (!eq || eq == p) continue;  // not a key: dropped
    char *name = TrimmedCopyEnd(p, eq);
    char *value = SkipBlanks(eq + 1);
    TrimmedCopyEnd(value, value + std::strlen(value));
    if (!NewKey(current, name, value, 0)) break;
  }
  delete[] joined;
}

// Load and Save work on the whole file from its start: opened for this
// call unless the caller opened it, and locked over its whole range (a
// file that cannot be locked is still read or written).
unsigned int tINIFILE::OpenWhole(unsigned int access, unsigned int lockFlags, int *opened,
                                 int *locked) {
  *opened = !IsOpen();
  unsigned int status = *opened ? OpenAlways(access, 1, 75) : Rewind();
  if (status != 0) {
    *opened = 0;
    return status;
  }
  *locked = LockRegion(0ul, 0ul, lockFlags) == 0;
  return 0;
}

void tINIFILE::CloseWhole(int opened, int locked) {
  // Neither may outlive a failure: UnlockRegion unlocks even when its
  // write-back fails, and a file opened here is closed whatever is left in
  // its buffer (the side copy, if one was needed, holds the content).
  if (locked) UnlockRegion(0ul, 0ul);
  if (opened && tFILE::Close() != 0) Abandon();
}

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

unsigned int tINIFILE::Write(tTXTFILE &out) {
  unsigned int status = 0;
  for (tSECTION *s = first_; s && status == 0; s = s->next_) {
    // A blank line after each section's keys, when something follows.
    if (s->prev_ && !s->prev_->raw_ && (status = out.PutChar('\n')) != 0) break;
    if (s->raw_) {
      // After a section a raw line would read back as one of its keys or
      // be dropped: a '[' line without ']', which reading drops, ends the
      // section first.
      if (s->prev_ && !s->prev_->raw_ && (status = out.WriteLine("[")) != 0) break;
      // Nothing follows the last entry, except for a blank one, which
      // would not read back without its line end.
      status = out.WriteStr(s->name_);
      if (status == 0 && (s->next_ || !*s->name_)) status = out.PutChar('\n');
      continue;
    }
    if ((status = out.PutChar('[')) != 0 || (status = out.WriteStr(s->name_)) != 0 ||
        (status = out.WriteLine("]")) != 0) {
      break;
    }
    for (tKEY *k = s->first_key_; k && status == 0; k = k->next_) {
      if (k->name_ == 0) {
        status = out.WriteLine(k->value_);
      } else if ((status = out.WriteStr(k->name_)) == 0 && (status = out.PutChar('=')) == 0) {
        status = out.WriteLine(k->value_);
      }
    }
  }
  return status;
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

unsigned int tINIFILE::Close() {
  if (modified_) Save();
  return IsOpen() ? tFILE::Close() : 0;
}
