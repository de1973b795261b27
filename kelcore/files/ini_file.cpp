#include "kelcore/files/ini_file.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "kelcore/msg/message.h"
#include "kelcore/physical/file_defs.h"
#include "kelcore/physical/physical_file.h"
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

unsigned int tINIFILE::NumSections() const { return count_; }
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

void tINIFILE::Add(char const *section) {
  if (!FindSection(section)) NewSection(section, 0, 0);
}

void tINIFILE::Add(char const *section, char const *key, char const *value) {
  Insert(section, key, value, static_cast<tKEY *>(0));
}

void tINIFILE::Replace(char const *section, char const *key, char const *value) {
  if (!key) return;
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
  if (!key) return;
  tSECTION *s = FindOrAdd(section);
  if (s) NewKey(s, key, value, before);
}

void tINIFILE::Insert(char const *section, tSECTION *before) {
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
        continue;
      }
      // A header without its ']' ends the section; it and the lines up to
      // the next header are kept as raw lines, so that nothing is lost and
      // the file reads the same after a save.
      current = 0;
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
  if (locked) UnlockRegion(0ul, 0ul);
  if (opened) tFILE::Close();
}

void tINIFILE::Load() {
  tMSG *saved = tTHREAD::TakeOwnershipOfLastError();
  loaded_ = 1;
  int opened = 0, locked = 0;
  if (OpenWhole(1, tFILEDEFS::LOCK_SHARED, &opened, &locked) == 0) {
    // A complete side copy means that a save was cut short: the file itself
    // may be half written, the side copy holds what it held before.
    int from_side = 0;
    tPHYSICAL_FILE *side_file = 0;
    char *side_name = SideName(GetName(), cSIDE_SUFFIX);
    if (side_name && AllocCompatFileObj(&side_file) == 0) {
      tINIFILE side(*side_file, 1);
      side.SetName(side_name);
      int exists = 0;
      if (side.Exists(&exists) == 0 && exists && side.OpenExisting(1, 1) == 0) {
        from_side = 1;
        Parse(side);
        side.tFILE::Close();
      }
    }
    delete[] side_name;
    if (!from_side) Parse(*this);
    modified_ = 0;
    CloseWhole(opened, locked);
  }
  tTHREAD::SetLastError(saved);
}

unsigned int tINIFILE::Write() {
  unsigned int status = 0;
  for (tSECTION *s = first_; s && status == 0; s = s->next_) {
    // A blank line after each section's keys, when something follows.
    if (s->prev_ && !s->prev_->raw_ && (status = PutChar('\n')) != 0) break;
    if (s->raw_) {
      status = WriteLine(s->name_);
      continue;
    }
    if ((status = PutChar('[')) != 0 || (status = WriteStr(s->name_)) != 0 ||
        (status = WriteLine("]")) != 0) {
      break;
    }
    for (tKEY *k = s->first_key_; k && status == 0; k = k->next_) {
      if (k->name_ == 0) {
        status = WriteLine(k->value_);
      } else if ((status = WriteStr(k->name_)) == 0 && (status = PutChar('=')) == 0) {
        status = WriteLine(k->value_);
      }
    }
  }
  return status;
}

int tINIFILE::SaveLocked() {
  tPHYSICAL_FILE &main = *this;
  char *side_name = SideName(GetName(), cSIDE_SUFFIX);
  char *temp_name = SideName(GetName(), cSIDE_TEMP_SUFFIX);
  // Renames stay in their directory and take the bare file name.
  char *side_file_name = SideName(GetFileName(), cSIDE_SUFFIX);
  tPHYSICAL_FILE *side_file = 0;
  char *old = 0;
  unsigned long old_size = 0;
  int written = 0;
  int side_kept = 0;
  if (!side_name || !temp_name || !side_file_name || AllocCompatFileObj(&side_file) != 0) {
    goto done;
  }
  {
    tLOGICAL_FILE side(side_file, 1);
    side.SetBuffer(4096, 0);
    side.SetName(side_name);
    int exists = 0;
    if (side.Exists(&exists) != 0) goto done;
    if (exists) {
      // An earlier save was cut short and the file may be half written:
      // the side copy is the last complete content, keep it as it is.
      side_kept = 1;
    } else {
      // Copy the current content aside, completely and durably, before the
      // file itself is touched.
      unsigned long got = 0;
      if (GetSize(&old_size) != 0) goto done;
      if (old_size && (old = new (std::nothrow) char[old_size]) == 0) {
        tTHREAD::SetLastError(tERRMSG::OutOfMemory);
        goto done;
      }
      if (old_size && (tFILE::Read(old, old_size, &got) != 0 || got != old_size)) goto done;
      side.SetName(temp_name);
      if (side.Create(2, 1, 75) != 0) goto done;
      unsigned int status = old_size ? side.Write(old, old_size, 0) : 0;
      if (status == 0) status = side.Flush(0);
      if (status == 0) status = side_file->Flush();
      if (side.Close() != 0 || status != 0 || side.Rename(side_file_name) != 0) {
        side.Delete();
        goto done;
      }
    }
    side.SetName(side_name);

    // The file itself: emptied, then written from the start.
    if (Rewind() != 0 || SetSize(0) != 0) {
      if (!side_kept) side.Delete();
      goto done;
    }
    unsigned int status = Write();
    if (status == 0) status = Flush(0);
    if (status == 0) status = main.Flush();
    if (status == 0) {
      written = 1;
      side.Delete();
    } else if (!side_kept) {
      // Put the old content back; if that fails too, the side copy stays
      // and the next Load reads it.
      unsigned int restore = SetLinePos(0, 0);
      if (restore == 0) restore = SetSize(0);
      if (restore == 0 && old_size) restore = tFILE::Write(old, old_size, 0);
      if (restore == 0) restore = Flush(0);
      if (restore == 0) restore = main.Flush();
      if (restore == 0) side.Delete();
    }
  }
done:
  delete[] old;
  delete[] side_name;
  delete[] temp_name;
  delete[] side_file_name;
  return written;
}

void tINIFILE::Save() {
  tMSG *saved = tTHREAD::TakeOwnershipOfLastError();
  int opened = 0, locked = 0;
  if (OpenWhole(3, 0, &opened, &locked) == 0) {
    if (SaveLocked()) modified_ = 0;
    CloseWhole(opened, locked);
  }
  tTHREAD::SetLastError(saved);
}

unsigned int tINIFILE::Close() {
  if (modified_) Save();
  return IsOpen() ? tFILE::Close() : 0;
}
