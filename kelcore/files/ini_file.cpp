// The INI file: its lists of sections and keys, changes to them, parsing
// its lines and writing them. Get and Remove by value, for texts and
// numbers, are in ini_typed.cpp; loading and the safe save in ini_save.cpp.
#include "kelcore/files/ini_file.h"
#include "kelcore/files/ini_names.h"

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

using kelini::IsBlank;
using kelini::SameName;
using kelini::tNAME_INDEX;

namespace {

// Lists shorter than this are walked; an index would not pay for itself.
const unsigned int cINDEX_MIN = 16;

// The line buffer of Load; longer lines are joined from pieces.
const unsigned int cLINE_PIECE = 256;

inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

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

char *TrimmedCopyEnd(char *begin, char *end) {
  while (end > begin && IsBlank(end[-1])) --end;
  *end = 0;
  return begin;
}

char *SkipBlanks(char *s) {
  while (IsBlank(*s)) ++s;
  return s;
}

// TXT set-0 message: a name or value that the file syntax cannot hold.
const unsigned int cMSG_UNWRITABLE = 3;

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

int kelini::SameName(char const *a, char const *b) {
  while (*a && AsciiLower(*a) == AsciiLower(*b)) {
    ++a;
    ++b;
  }
  return *a == 0 && *b == 0;
}

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

// --------------------------------------------------- parsing and writing

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

unsigned int tINIFILE::Close() {
  if (modified_) Save();
  return IsOpen() ? tFILE::Close() : 0;
}
