// The catalog lookup (tMSGCAT): binding a catalog to its message file, the
// catalog's in-memory view, and finding texts by set and number. Catalog
// messages (tCATMSG) are in catalog_message.cpp.
#include "kelcore/msgcat/catalog.h"

#include <atomic>
#include <cstring>
#include <new>

#include "kelcore/system/os_calls.h"
#include "kelcore/msgcat/format_text.h"
#include "kelcore/catalog/catalog_lookup.h"
#include "kelcore/catalog/message_file.h"
#include "kelcore/catalog/message_file_layout.h"
#include "kelcore/msgcat/message_registry.h"
#include "kelcore/msgcat/module_catalogs.h"
#include "kelcore/platform/thread_exit.h"
#include "kelcore/sync/lock.h"
#include "kelcore/sync/thread.h"
#include "kelcore/text/nls_string.h"

namespace kelcatalog_internal {
thread_local int t_lookup_depth = 0;
const char kUndefinedFile[] = "<undefined>";
}  // namespace kelcatalog_internal

using kelcatalog_internal::kUndefinedFile;
using kelcatalog_internal::t_lookup_depth;

namespace {

struct tLOOKUP_SCOPE {
  tLOOKUP_SCOPE() { ++t_lookup_depth; }
  ~tLOOKUP_SCOPE() { --t_lookup_depth; }
};

const unsigned int cFAILURE = 0xFFFFFFFFu;
const unsigned int cNOT_FOUND = 1;

// Serialises binding handles to files, process-wide. Never destroyed: module
// catalogs may look texts up from other objects' destructors at exit.
tPHYSYNCOBJ &BindLock() {
  alignas(tINTRA_PROCESS_LOCK) static unsigned char storage[sizeof(tINTRA_PROCESS_LOCK)];
  static tINTRA_PROCESS_LOCK *lock = new (storage) tINTRA_PROCESS_LOCK;
  // Held across fork(); the child's copy remembers a thread of the parent
  // as its owner, so the child makes a new one.
  static const bool heldAcrossFork =
      (kelsys::HoldAcrossFork(
           kelsys::kForkCatalogBind, [] { BindLock().LockObject(); },
           [] { BindLock().UnlockObject(); },
           [] {
             // The old one is locked: never destroyed, only kept reachable.
             alignas(tINTRA_PROCESS_LOCK) static unsigned char retired[sizeof storage];
             std::memcpy(retired, storage, sizeof storage);
             lock = new (storage) tINTRA_PROCESS_LOCK;
           }),
       true);
  (void)heldAcrossFork;
  return *lock;
}

// A new char[] copy of `text`; null for a null text. *failed is set when a
// text could not be copied.
char *CopyText(const char *text, bool *failed) {
  if (text == nullptr) return nullptr;
  std::size_t n = std::strlen(text) + 1;
  char *copy = new (std::nothrow) char[n];
  if (copy == nullptr) {
    *failed = true;
    return nullptr;
  }
  std::memcpy(copy, text, n);
  return copy;
}

void RecordOutOfMemory() { tTHREAD::SetLastError(&tERRMSG::OutOfMemory); }

// A text of `n` bytes as GetMsg hands it out: width 1, the bytes and a NUL;
// width 2, little-endian 16-bit characters narrowed (nlstocs). 0, or
// 0xFFFFFFFF with tERRMSG::OutOfMemory recorded.
unsigned int MakeText(const unsigned char *raw, unsigned int n, unsigned int width, char **text) {
  if (width == 1) {
    char *buf = new (std::nothrow) char[static_cast<std::size_t>(n) + 1];
    if (buf == nullptr) {
      RecordOutOfMemory();
      return cFAILURE;
    }
    if (n > 0) std::memcpy(buf, raw, n);
    buf[n] = '\0';
    *text = buf;
    return 0;
  }
  const unsigned int units = n / 2;
  unsigned short *wide = new (std::nothrow) unsigned short[units + 1];
  char *narrow = new (std::nothrow) char[units + 1];
  if (wide == nullptr || narrow == nullptr) {
    delete[] wide;
    delete[] narrow;
    RecordOutOfMemory();
    return cFAILURE;
  }
  for (unsigned int i = 0; i < units; ++i) {
    wide[i] = static_cast<unsigned short>(raw[2 * i] | raw[2 * i + 1] << 8);
  }
  wide[units] = 0;
  nlstocs(narrow, wide, 0xFFFFFFFFu);
  delete[] wide;
  *text = narrow;
  return 0;
}

// What the view returns when only the file can answer.
const unsigned int cASK_FILE = 2;

}  // namespace

// ------------------------------------------------------------ catalog view

// The catalog's bytes as read at binding, a table of its set records and
// each message's text as a C string. Immutable once published; shared by
// copies of a handle, and by the threads whose catgets result lies in it
// (refs). Made only for a catalog whose set area walks cleanly to the
// catalog's end, with set ids and each set's message ids strictly ascending
// (and no 0xFFFFFFFF), so that every answer it gives is the one the file
// walk would give.
struct tMSGCAT::tVIEW {
  // One index entry's text.
  struct tTEXT {
    unsigned int offset;  // catalog-relative offset of the text record
    // Where the text as GetMsg hands it out, up to its first NUL, stands in
    // `strings`; 0 when the record is no message record wholly inside the
    // catalog (only the file can answer for it) or there are no texts.
    unsigned int at;
    unsigned int length;  // its length up to that NUL
    // The C string is all GetMsg hands out: no NUL inside the stored text.
    unsigned int whole;
  };
  struct tSET {
    unsigned int id;
    unsigned int count;
    unsigned int entries;  // catalog-relative offset of the first index entry
    // A set whose ids are dense also has a slot per id from its first id
    // (base) on: the entry's index + 1, 0 for an id the set lacks. `span`
    // 0: no slots.
    unsigned int base;
    unsigned int span;
    unsigned int *slots;
    tTEXT *text;           // per index entry
  };
  std::atomic<int> refs;
  const tMSGFILE *file;
  unsigned long serial;
  unsigned long generation;  // the file's, when the view was made
  // A registry epoch at which the file's generation was still `generation`
  // (0: none yet): while the epoch stays there, the view stands.
  std::atomic<unsigned long long> checked;
  unsigned int length;
  unsigned int width;
  unsigned char *bytes;      // the catalog, from its first byte to its end
  unsigned int nsets;
  tSET *sets;                // ascending ids
  unsigned int *by_id;       // set id -> index + 1 (0: no such set), when ids are small
  unsigned int by_id_size;
  unsigned int *slots;       // every set's slots, one array
  tTEXT *entry_text;         // every set's entries, one array
  char *strings;             // the C strings, each with its NUL; null: none
  // A C string: where it stands in `strings` (0: none) and its length,
  // or'ed with cNOT_WHOLE unless the entry is `whole`.
  struct tSTRING {
    unsigned int at;
    unsigned int length;
  };
  static const unsigned int cNOT_WHOLE = 0x80000000u;
  // The shortest way from (set, id) to a C string: by set id (when sets
  // are found by id), a dense set's base and span and its strings by id.
  // Sets without slots have span 0.
  struct tFAST {
    unsigned int base;
    unsigned int span;
    const tSTRING *string;
  };
  tFAST *fast;
  unsigned int fast_size;
  tSTRING *fast_string;      // every set's strings by id, one array

  tVIEW()
      : refs(1), checked(0), bytes(nullptr), nsets(0), sets(nullptr), by_id(nullptr), by_id_size(0),
        slots(nullptr), entry_text(nullptr), strings(nullptr), fast(nullptr), fast_size(0),
        fast_string(nullptr) {}
  ~tVIEW() {
    delete[] bytes;
    delete[] sets;
    delete[] by_id;
    delete[] slots;
    delete[] entry_text;
    delete[] strings;
    delete[] fast;
    delete[] fast_string;
  }

  unsigned int EntryId(const tSET &set, unsigned int i) const {
    return kelmsgfmt::GetU32(bytes + set.entries + i * kelmsgfmt::cINDEX_ENTRY);
  }

  // Slots for the sets whose ids are dense; without memory, none (the
  // index is searched instead).
  void MakeSlots() {
    unsigned long long total = 0;
    for (unsigned int i = 0; i < nsets; ++i) {
      tSET &set = sets[i];
      set.span = 0;
      set.slots = nullptr;
      if (set.count == 0) continue;
      set.base = EntryId(set, 0);
      const unsigned long long span =
          static_cast<unsigned long long>(EntryId(set, set.count - 1)) - set.base + 1;
      if (span <= 2ull * set.count + 16) {
        set.span = static_cast<unsigned int>(span);
        total += span;
      }
    }
    if (total == 0 || total > 0x3FFFFFFFull) return;
    slots = new (std::nothrow) unsigned int[static_cast<std::size_t>(total)]();
    unsigned int *next = slots;
    for (unsigned int i = 0; i < nsets; ++i) {
      tSET &set = sets[i];
      if (set.span == 0) continue;
      if (slots == nullptr) {
        set.span = 0;
        continue;
      }
      set.slots = next;
      next += set.span;
      for (unsigned int e = 0; e < set.count; ++e) set.slots[EntryId(set, e) - set.base] = e + 1;
    }
  }

  // The text record `offset` points to, as Text checks it: its characters
  // and their byte count; false when only the file can answer for it.
  bool Record(unsigned int offset, const unsigned char **raw, unsigned int *n) const {
    if (offset > length || length - offset < kelmsgfmt::cRECORD_HEADER) return false;
    const unsigned char *rec = bytes + offset;
    *n = kelmsgfmt::GetU32(rec + 4);
    if (kelmsgfmt::GetU32(rec) != kelmsgfmt::cTYPE_MESSAGE ||
        *n > length - offset - kelmsgfmt::cRECORD_HEADER) {
      return false;
    }
    *raw = rec + kelmsgfmt::cRECORD_HEADER;
    return true;
  }

  // The entries' table (false without memory: then there is no view) and,
  // when memory allows, their texts as C strings: an 8-bit text up to its
  // first NUL, a 16-bit one narrowed to its low bytes up to the first
  // character whose low byte is 0, as MakeText gives them. Texts that
  // entries share are kept once per entry, so a catalog whose entries
  // point at the same records over and over gets no texts at all rather
  // than a table many times its size.
  bool MakeTexts() {
    unsigned long long entries = 0;
    for (unsigned int i = 0; i < nsets; ++i) entries += sets[i].count;
    entry_text = new (std::nothrow) tTEXT[entries > 0 ? static_cast<std::size_t>(entries) : 1];
    if (entry_text == nullptr) return false;
    unsigned long long size = 1;  // `at` 0 means no text
    tTEXT *next = entry_text;
    for (unsigned int i = 0; i < nsets; ++i) {
      tSET &set = sets[i];
      set.text = next;
      next += set.count;
      for (unsigned int e = 0; e < set.count; ++e) {
        tTEXT &t = set.text[e];
        t.offset = kelmsgfmt::GetU32(bytes + set.entries + e * kelmsgfmt::cINDEX_ENTRY + 4);
        t.at = 0;
        t.length = 0;
        t.whole = 0;
        const unsigned char *raw = nullptr;
        unsigned int n = 0;
        if (!Record(t.offset, &raw, &n)) continue;
        const unsigned int chars = width == 1 ? n : n / 2;
        unsigned int c = 0;
        while (c < chars && raw[c * width] != 0) ++c;
        t.at = 1;  // placed below
        t.length = c;
        t.whole = c == chars;
        size += c + 1ull;
      }
    }
    if (size > static_cast<unsigned long long>(length) + entries + 1 || size > 0x7FFFFFFFull) {
      for (unsigned long long e = 0; e < entries; ++e) entry_text[e].at = 0;
      return true;
    }
    strings = new (std::nothrow) char[static_cast<std::size_t>(size)];
    if (strings == nullptr) {
      for (unsigned long long e = 0; e < entries; ++e) entry_text[e].at = 0;
      return true;
    }
    strings[0] = '\0';
    unsigned int at = 1;
    for (unsigned long long e = 0; e < entries; ++e) {
      tTEXT &t = entry_text[e];
      if (t.at == 0) continue;
      const unsigned char *raw = bytes + t.offset + kelmsgfmt::cRECORD_HEADER;
      for (unsigned int c = 0; c < t.length; ++c) strings[at + c] = static_cast<char>(raw[c * width]);
      strings[at + t.length] = '\0';
      t.at = at;
      at += t.length + 1;
    }
    return true;
  }

  // The catgets table, when sets are found by id and there are texts;
  // without memory, none.
  void MakeFast() {
    if (by_id == nullptr || strings == nullptr) return;
    unsigned long long total = 0;
    for (unsigned int i = 0; i < nsets; ++i) total += sets[i].span;
    if (total == 0) return;
    fast = new (std::nothrow) tFAST[by_id_size]();
    fast_string = new (std::nothrow) tSTRING[static_cast<std::size_t>(total)];
    if (fast == nullptr || fast_string == nullptr) {
      delete[] fast;
      delete[] fast_string;
      fast = nullptr;
      fast_string = nullptr;
      return;
    }
    tSTRING *next = fast_string;
    for (unsigned int i = 0; i < nsets; ++i) {
      const tSET &set = sets[i];
      if (set.span == 0) continue;
      tFAST &f = fast[set.id];
      f.base = set.base;
      f.span = set.span;
      f.string = next;
      for (unsigned int k = 0; k < set.span; ++k) {
        next[k] = Of(set.slots[k] != 0 ? &set.text[set.slots[k] - 1] : nullptr);
      }
      next += set.span;
    }
    fast_size = by_id_size;
  }

  // The C string of an entry (null: none).
  static tSTRING Of(const tTEXT *text) {
    tSTRING string;
    string.at = text != nullptr ? text->at : 0;
    string.length = string.at != 0 && text->whole ? text->length : cNOT_WHOLE;
    return string;
  }

  // The C string of (setId, msgId); `at` 0 when there is none.
  tSTRING StringOf(unsigned int setId, unsigned int msgId) const {
    if (setId < fast_size) {
      const tFAST &f = fast[setId];
      if (msgId - f.base < f.span) return f.string[msgId - f.base];
    }
    return Of(Entry(setId, msgId));
  }

  // The entry of set `setId` whose id is `msgId`, or null.
  const tTEXT *Entry(unsigned int setId, unsigned int msgId) const {
    const tSET *set = FindSet(setId);
    if (set == nullptr) return nullptr;
    if (msgId - set->base < set->span) {
      const unsigned int e = set->slots[msgId - set->base];
      return e != 0 ? &set->text[e - 1] : nullptr;
    }
    unsigned int low = 0, high = set->count;
    while (low < high) {
      const unsigned int mid = low + (high - low) / 2;
      if (EntryId(*set, mid) < msgId) {
        low = mid + 1;
      } else {
        high = mid;
      }
    }
    return low < set->count && EntryId(*set, low) == msgId ? &set->text[low] : nullptr;
  }

  const tSET *FindSet(unsigned int id) const {
    if (by_id != nullptr) {
      return id < by_id_size && by_id[id] != 0 ? &sets[by_id[id] - 1] : nullptr;
    }
    unsigned int low = 0, high = nsets;
    while (low < high) {
      const unsigned int mid = low + (high - low) / 2;
      if (sets[mid].id < id) {
        low = mid + 1;
      } else {
        high = mid;
      }
    }
    return low < nsets && sets[low].id == id ? &sets[low] : nullptr;
  }

  enum { cHIT = 0, cNO_SET = 1, cNO_MSG = 2 };
  // The first index entry of set `setId` at or above `wanted`: its id and
  // text record offset (cHIT), or why there is none.
  int Find(unsigned int setId, unsigned int wanted, unsigned int *found,
           unsigned int *offset) const {
    const tSET *set = FindSet(setId);
    if (set == nullptr) return cNO_SET;
    if (wanted - set->base < set->span && set->slots[wanted - set->base] != 0) {
      *found = wanted;
      *offset = set->text[set->slots[wanted - set->base] - 1].offset;
      return cHIT;
    }
    unsigned int low = 0, high = set->count;
    while (low < high) {
      const unsigned int mid = low + (high - low) / 2;
      if (EntryId(*set, mid) < wanted) {
        low = mid + 1;
      } else {
        high = mid;
      }
    }
    if (low == set->count) return cNO_MSG;
    *found = EntryId(*set, low);
    *offset = kelmsgfmt::GetU32(bytes + set->entries + low * kelmsgfmt::cINDEX_ENTRY + 4);
    return cHIT;
  }

  // The text of the record at `offset`, as GetMsg hands it out, when the
  // record lies wholly inside the catalog and is a message record; else
  // cASK_FILE (the file gives such a record its own result).
  unsigned int Text(unsigned int offset, char **text) const {
    const unsigned char *raw = nullptr;
    unsigned int n = 0;
    if (!Record(offset, &raw, &n)) return cASK_FILE;
    return MakeText(raw, n, width, text);
  }

  // The first set record of the area at or after relative offset `p`; false
  // when there is none that the view can stand for.
  bool ReadSet(unsigned int p, tSET *set) const {
    if (length - p < kelmsgfmt::cRECORD_HEADER + kelmsgfmt::cSET_BODY) return false;
    const unsigned char *r = bytes + p;
    if (kelmsgfmt::GetU32(r) != kelmsgfmt::cTYPE_SET ||
        kelmsgfmt::GetU32(r + 4) < kelmsgfmt::cSET_BODY) {
      return false;
    }
    set->id = kelmsgfmt::GetU32(r + 8);
    set->count = kelmsgfmt::GetU32(r + 12);
    set->entries = p + kelmsgfmt::cRECORD_HEADER + kelmsgfmt::cSET_BODY;
    if (set->count > (length - set->entries) / kelmsgfmt::cINDEX_ENTRY) return false;
    unsigned int prev = 0;
    for (unsigned int i = 0; i < set->count; ++i) {
      const unsigned int id = kelmsgfmt::GetU32(bytes + set->entries + i * kelmsgfmt::cINDEX_ENTRY);
      if (id == kelmsgfmt::cNO_MSG_ID || (i > 0 && id <= prev)) return false;
      prev = id;
    }
    return true;
  }

  // Walks the set area from `first`: false when the view cannot stand for
  // it. With `out`, stores the sets.
  bool WalkSets(unsigned int first, tSET *out, unsigned int *count) const {
    unsigned int n = 0, prev = 0;
    for (unsigned int p = first; p != length; ++n) {
      tSET set;
      if (!ReadSet(p, &set) || (n > 0 && set.id <= prev)) return false;
      if (out != nullptr) out[n] = set;
      prev = set.id;
      p = set.entries + set.count * kelmsgfmt::cINDEX_ENTRY;
    }
    *count = n;
    return true;
  }
};

#if defined(__GNUC__)
#  define KELCORE_CATALOG_COLD __attribute__((noinline, cold))
#else
#  define KELCORE_CATALOG_COLD
#endif

namespace {

// Whether `view` still stands for its file (see Stands), checked against
// the registry and noted for `epoch`, read before the generation: a change
// after that read shows as another epoch.
template <class tV>
KELCORE_CATALOG_COLD bool StandsNow(tV *view, unsigned long long epoch) {
  if (kelmsgreg::Generation(view->file, view->serial) != view->generation) return false;
  view->checked.store(epoch, std::memory_order_relaxed);
  return true;
}

// Whether `view` still stands for its file: the file's generation is the
// one the view was made at. While the registry's epoch stays where the
// view last found that so, a load and a compare tell.
template <class tV>
inline bool Stands(tV *view) {
  const unsigned long long epoch = kelmsgreg::Epoch();
  return view->checked.load(std::memory_order_relaxed) == epoch || StandsNow(view, epoch);
}

}  // namespace

tMSGCAT::tVIEW *tMSGCAT::CurrentView() const {
  tVIEW *view = view_.load(std::memory_order_acquire);
  return view != nullptr && Stands(view) ? view : nullptr;
}

namespace {

template <class tV>
void Unref(tV *view) {
  if (view != nullptr && view->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete view;
}

}  // namespace

void tMSGCAT::ReleaseView() { Unref(view_.exchange(nullptr, std::memory_order_acq_rel)); }

void tMSGCAT::RetireView() {
  tVIEW *view = view_.exchange(nullptr, std::memory_order_acq_rel);
  if (view == nullptr) return;
  Unref(retired_);
  retired_ = view;
}

// Under the file's lock, right after the catalog was located. Reading the
// catalog can only fail here for faults the file walk would meet as well;
// then there is simply no view.
void tMSGCAT::BuildView() {
  RetireView();
  tMSGFILE *file = state_.file;
  const unsigned long generation = kelmsgreg::Generation(file, state_.serial);
  tVIEW *view = new (std::nothrow) tVIEW;
  if (view == nullptr || generation == 0) {
    delete view;
    return;
  }
  view->file = file;
  view->serial = state_.serial;
  view->generation = generation;
  view->length = state_.header.length;
  view->width = state_.header.width;
  view->bytes = new (std::nothrow) unsigned char[view->length];
  unsigned long got = 0;
  unsigned int nsets = 0;
  if (view->bytes == nullptr || file->Seek(static_cast<long>(state_.cat_start), nullptr) != 0 ||
      file->Read(view->bytes, view->length, &got) != 0 || got != view->length ||
      !view->WalkSets(state_.header.first_set, nullptr, &nsets)) {
    delete view;
    return;
  }
  view->sets = new (std::nothrow) tVIEW::tSET[nsets > 0 ? nsets : 1];
  if (view->sets == nullptr || !view->WalkSets(state_.header.first_set, view->sets, &nsets)) {
    delete view;
    return;
  }
  view->nsets = nsets;
  // Set ids are mostly small and dense: then a table finds a set at once.
  const unsigned int max_id = nsets > 0 ? view->sets[nsets - 1].id : 0;
  if (nsets > 0 && max_id < 65536 && max_id / 4 <= nsets + 256) {
    view->by_id = new (std::nothrow) unsigned int[max_id + 1]();
    if (view->by_id != nullptr) {
      view->by_id_size = max_id + 1;
      for (unsigned int i = 0; i < nsets; ++i) view->by_id[view->sets[i].id] = i + 1;
    }
  }
  view->MakeSlots();
  if (!view->MakeTexts()) {
    delete view;
    return;
  }
  view->MakeFast();
  view_.store(view, std::memory_order_release);
}

unsigned int tMSGCAT::ViewFind(tVIEW *view, unsigned int setId, unsigned int *msgId,
                               unsigned int *offset) const {
  switch (view->Find(setId, *msgId, msgId, offset)) {
    case tVIEW::cHIT:
      return 0;
    case tVIEW::cNO_SET:
      Fail(kelmsgfile::eSET_NOT_FOUND, 1, setId, 0);
      return cNOT_FOUND;
    default:
      Fail(kelmsgfile::eMSG_NOT_FOUND, 2, setId, *msgId);
      return cNOT_FOUND;
  }
}

// ---------------------------------------------------------------- tMSGCAT

tMSGCAT::tMSGCAT() : view_(nullptr), retired_(nullptr), name_(nullptr), version_(nullptr) {
  Unbind();
  language_[0] = '\0';
}

tMSGCAT::tMSGCAT(const char *name, const char *version, const char *language)
    : view_(nullptr), retired_(nullptr), name_(nullptr), version_(nullptr) {
  Unbind();
  language_[0] = '\0';
  SetCatalog(name, version, language);
}

tMSGCAT::tMSGCAT(const tMSGCAT &other)
    : state_(other.state_), view_(nullptr), retired_(nullptr), name_(nullptr), version_(nullptr) {
  tVIEW *view = other.view_.load(std::memory_order_acquire);
  if (view != nullptr) view->refs.fetch_add(1, std::memory_order_relaxed);
  view_.store(view, std::memory_order_release);
  std::memcpy(language_, other.language_, sizeof(language_));
  bool failed = false;
  name_ = CopyText(other.name_, &failed);
  version_ = CopyText(other.version_, &failed);
  if (failed) RecordOutOfMemory();
}

tMSGCAT &tMSGCAT::operator=(const tMSGCAT &other) {
  if (this == &other) return *this;
  bool failed = false;
  char *name = CopyText(other.name_, &failed);
  char *version = CopyText(other.version_, &failed);
  if (failed) {
    delete[] name;
    delete[] version;
    RecordOutOfMemory();
    return *this;
  }
  delete[] name_;
  delete[] version_;
  name_ = name;
  version_ = version;
  tVIEW *view = other.view_.load(std::memory_order_acquire);
  if (view != nullptr) view->refs.fetch_add(1, std::memory_order_relaxed);
  ReleaseView();
  view_.store(view, std::memory_order_release);
  state_ = other.state_;
  std::memcpy(language_, other.language_, sizeof(language_));
  return *this;
}

tMSGCAT::~tMSGCAT() {
  ReleaseView();
  Unref(retired_);
  delete[] name_;
  delete[] version_;
  // A message that outlives its catalog at process exit then sees no name
  // rather than freed memory.
  name_ = nullptr;
  version_ = nullptr;
}

void tMSGCAT::Unbind() {
  RetireView();
  std::memset(&state_, 0, sizeof(state_));
  state_.file = nullptr;
  state_.cat_start = 0xFFFFFFFFu;
}

unsigned int tMSGCAT::SetCatalog(const char *name, const char *version, const char *language) {
  // Both copies are made before anything changes, so that running out of
  // memory leaves the catalog as it was.
  bool failed = false;
  char *new_name = CopyText(name, &failed);
  char *new_version = CopyText(version, &failed);
  if (failed) {
    delete[] new_name;
    delete[] new_version;
    RecordOutOfMemory();
    return 0xFFFFFFFFu;
  }
  delete[] name_;
  delete[] version_;
  name_ = new_name;
  version_ = new_version;
  std::memset(language_, 0, sizeof(language_));
  if (language != nullptr && language[0] != '\0') {
    for (std::size_t i = 0; i < sizeof(language_) - 1 && language[i] != '\0'; ++i) {
      language_[i] = language[i];
    }
  }
  return 0;
}

const char *tMSGCAT::GetId() const { return name_; }
const char *tMSGCAT::GetVersion() const { return version_; }
const char *tMSGCAT::GetLanguage() const { return language_; }

tMSG &tMSGCAT::AddErrorContext(tMSG *msg) const {
  if (state_.file != nullptr) {
    *msg << static_cast<tPARAMETER *>(*state_.file);
  } else {
    *msg << kUndefinedFile;
  }
  *msg << static_cast<const char *>(name_);
  return *msg;
}

unsigned int tMSGCAT::NoMessageFile() const { return Fail(kelmsgfile::eNO_MESSAGE_FILE, 0, 0, 0); }

unsigned int tMSGCAT::Fail(unsigned int msgNo, int count, unsigned int a, unsigned int b) const {
  tMSG *msg = kelmsgfile::NewLibraryError(msgNo);
  AddErrorContext(msg);
  if (count > 0) *msg << a;
  if (count > 1) *msg << b;
  // Recording may format the message for the log, whose own text must
  // not start a lookup in the middle of this one.
  tLOOKUP_SCOPE scope;
  kelmsgreg::Record(msg);
  return cFAILURE;
}

unsigned int tMSGCAT::Bind(tMSGFILE **file) {
  tOBJECT_LOCK lock(BindLock());
  // A destroyed file has left the registry; a new one at its address has
  // another serial.
  if (state_.file != nullptr && !kelmsgreg::Holds(state_.file, state_.serial)) Unbind();
  if (state_.file == nullptr) {
    unsigned int rc = MapView();
    if (rc != 0) return rc;
  }
  *file = state_.file;
  return 0;
}

unsigned int tMSGCAT::MapView() {
  if (kelmsgreg::Empty()) return NoMessageFile();
  tMSGFILE *file = nullptr;
  unsigned long serial = 0;
  unsigned long start = 0;
  // The search hands out the catalog's offset as it found it: between the
  // search and the lock below, another thread may read the same file and
  // move its position.
  unsigned int rc = kelmsgreg::Search(name_, language_, &file, &serial, &start);
  if (rc != 0) return rc;
  tOBJECT_LOCK lock(*file);
  state_.file = file;
  state_.serial = serial;
  if ((rc = file->Seek(static_cast<long>(start), nullptr)) != 0) {
    Unbind();
    return rc;
  }
  state_.cat_start = static_cast<unsigned int>(start);
  char format[8], version[8];
  unsigned char header[kelmsgfmt::cHEADER_BODY];
  unsigned int type = 0;
  if ((rc = file->ReadId(nullptr)) == 0 && (rc = file->ReadVersion(format, version)) == 0) {
    if (!tVERSION::Match(format, kelmsgfmt::cCATALOG_FORMAT_VERSION)) {
      tMSG *msg = kelmsgfile::NewLibraryError(kelmsgfile::eFORMAT_VERSION);
      AddErrorContext(msg) << static_cast<const char *>(format)
                           << kelmsgfmt::cCATALOG_FORMAT_VERSION;
      kelmsgreg::Record(msg);
      rc = cFAILURE;
    } else if (version_ != nullptr && version_[0] != '\0' &&
               !tVERSION::Match(version, version_)) {  // no version asked: any
      tMSG *msg = kelmsgfile::NewLibraryError(kelmsgfile::eCATALOG_VERSION);
      AddErrorContext(msg) << static_cast<const char *>(version)
                           << static_cast<const char *>(version_);
      kelmsgreg::Record(msg);
      rc = cFAILURE;
    } else if ((rc = file->FindRec(kelmsgfmt::cTYPE_HEADER)) == 0 &&
               (rc = file->ReadRec(header, sizeof header, &type, nullptr)) == 0) {
      using kelmsgfmt::GetU32;
      state_.header.reserved = GetU32(header + kelmsgfmt::cHDR_RESERVED);
      state_.header.first_set = GetU32(header + kelmsgfmt::cHDR_FIRST_SET);
      state_.header.length = GetU32(header + kelmsgfmt::cHDR_LENGTH);
      state_.header.width = GetU32(header + kelmsgfmt::cHDR_WIDTH);
      std::memcpy(state_.header.language, header + kelmsgfmt::cHDR_LANGUAGE,
                  sizeof state_.header.language);
      state_.header.language[sizeof state_.header.language - 1] = '\0';
      // A width the texts cannot have, a set area outside the catalog, or a
      // catalog longer than the file would only mislead every later read
      // (and a text length checked against it could ask for gigabytes).
      unsigned long file_size = 0;
      if ((rc = file->GetSize(&file_size)) != 0) {
        // the size's own failure is the last error
      } else if ((state_.header.width != 1 && state_.header.width != 2) ||
                 state_.header.first_set > state_.header.length ||
                 static_cast<unsigned long long>(state_.cat_start) + state_.header.length >
                     file_size) {
        rc = Fail(kelmsgfile::eCATALOG_CORRUPT, 0, 0, 0);
      } else if (state_.header.first_set == state_.header.length) {
        state_.set_count = 0;  // no sets at all
        state_.window_valid = 0;
      } else if ((rc = file->Seek(static_cast<long>(state_.cat_start + state_.header.first_set),
                                  nullptr)) == 0 &&
                 (rc = LoadSetHeader()) == 0) {
        rc = LoadIndexes(0);
      }
    }
  }
  if (rc != 0) {
    Unbind();
  } else {
    BuildView();
  }
  return rc;
}

unsigned int tMSGCAT::LoadSetHeader() {
  tMSGFILE *file = state_.file;
  state_.window_valid = 0;
  unsigned int type = 0, length = 0;
  unsigned char body[kelmsgfmt::cSET_BODY];
  unsigned long got = 0;
  unsigned long pos = 0;
  if (file->ReadHeader(&type, &length) != 0 || type != kelmsgfmt::cTYPE_SET ||
      length < kelmsgfmt::cSET_BODY ||
      file->Read(body, sizeof body, &got) != 0 || got != sizeof body ||
      file->GetPos(&pos) != 0) {
    return Fail(kelmsgfile::eCATALOG_CORRUPT, 0, 0, 0);
  }
  state_.set_id = kelmsgfmt::GetU32(body);
  state_.set_count = kelmsgfmt::GetU32(body + 4);
  state_.set_entries = static_cast<unsigned int>(pos - state_.cat_start);
  return 0;
}

// The entries come in one read of up to ten, at their own place: the same
// entries as ten reads in a row, for a tenth of the calls.
unsigned int tMSGCAT::LoadIndexes(unsigned int first) {
  tMSGFILE *file = state_.file;
  unsigned char raw[cWINDOW * kelmsgfmt::cINDEX_ENTRY];
  unsigned int n = 0;
  if (first < state_.set_count) {
    n = state_.set_count - first < cWINDOW ? state_.set_count - first : static_cast<unsigned int>(cWINDOW);
    unsigned long long at = static_cast<unsigned long long>(state_.cat_start) +
                            state_.set_entries +
                            static_cast<unsigned long long>(first) * kelmsgfmt::cINDEX_ENTRY;
    unsigned long got = 0;
    if (at > 0x7FFFFFFFull || file->Seek(static_cast<long>(at), nullptr) != 0 ||
        file->Read(raw, n * kelmsgfmt::cINDEX_ENTRY, &got) != 0 ||
        got != n * kelmsgfmt::cINDEX_ENTRY) {
      state_.window_valid = 0;
      return Fail(kelmsgfile::eCATALOG_CORRUPT, 0, 0, 0);
    }
  }
  for (unsigned int i = 0; i < cWINDOW; ++i) {
    state_.window[i].msg_id = i < n ? kelmsgfmt::GetU32(raw + i * 8) : kelmsgfmt::cNO_MSG_ID;
    state_.window[i].offset = i < n ? kelmsgfmt::GetU32(raw + i * 8 + 4) : 0;
  }
  state_.window_valid = 1;
  return 0;
}

unsigned int tMSGCAT::ReadEntryId(unsigned int index, unsigned int *id) {
  unsigned long long at = static_cast<unsigned long long>(state_.cat_start) + state_.set_entries +
                          static_cast<unsigned long long>(index) * kelmsgfmt::cINDEX_ENTRY;
  unsigned char raw[4];
  unsigned long got = 0;
  if (at > 0x7FFFFFFFull || state_.file->Seek(static_cast<long>(at), nullptr) != 0 ||
      state_.file->Read(raw, sizeof raw, &got) != 0 || got != sizeof raw) {
    state_.window_valid = 0;
    return Fail(kelmsgfile::eCATALOG_CORRUPT, 0, 0, 0);
  }
  *id = kelmsgfmt::GetU32(raw);
  return 0;
}

unsigned int tMSGCAT::SearchWindow(unsigned int *msgId, unsigned int *offset) const {
  for (unsigned int i = 0; i < cWINDOW; ++i) {
    const tINDEX &slot = state_.window[i];
    if (slot.msg_id == kelmsgfmt::cNO_MSG_ID) return cNOT_FOUND;
    if (slot.msg_id >= *msgId) {
      *msgId = slot.msg_id;
      *offset = slot.offset;
      return 0;
    }
  }
  return cNOT_FOUND;
}

unsigned int tMSGCAT::NextSet(unsigned int *position) {
  if (*position == state_.header.length) return cNOT_FOUND;
  unsigned int rc =
      state_.file->Seek(static_cast<long>(state_.cat_start + *position), nullptr);
  if (rc == 0) rc = LoadSetHeader();
  if (rc != 0) return rc;
  unsigned long long next = static_cast<unsigned long long>(state_.set_entries) +
                            static_cast<unsigned long long>(state_.set_count) * 8;
  // Set records go forward and end exactly at the catalog's end.
  if (next > state_.header.length) return Fail(kelmsgfile::eCATALOG_CORRUPT, 0, 0, 0);
  *position = static_cast<unsigned int>(next);
  return 0;
}

unsigned int tMSGCAT::FindMsg(unsigned int setId, unsigned int *msgId, unsigned int *offset) {
  const unsigned int wanted = *msgId;
  if (state_.window_valid && state_.set_id == setId && state_.window[0].msg_id <= wanted &&
      SearchWindow(msgId, offset) == 0) {
    return 0;
  }
  unsigned int rc;
  unsigned int p = state_.header.first_set;
  for (;;) {
    if ((rc = NextSet(&p)) == cNOT_FOUND) {
      Fail(kelmsgfile::eSET_NOT_FOUND, 1, setId, 0);
      return cNOT_FOUND;
    }
    if (rc != 0) return rc;
    if (state_.set_id == setId) break;
  }
  // The entries ascend, so a binary search over the file finds the first
  // entry at or above the wanted id in a few reads where walking window by
  // window takes count / 10; the window then loaded is the one that walk
  // would have ended on, so every later result is the same.
  unsigned int low = 0, high = state_.set_count;
  while (low < high) {
    const unsigned int mid = low + (high - low) / 2;
    unsigned int id = 0;
    if ((rc = ReadEntryId(mid, &id)) != 0) return rc;
    if (id < wanted) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  if (state_.set_count > 0) {
    const unsigned int window = (low < state_.set_count ? low : state_.set_count - 1);
    if ((rc = LoadIndexes(window - window % cWINDOW)) != 0) return rc;
    *msgId = wanted;
    if (SearchWindow(msgId, offset) == 0) return 0;
  }
  *msgId = wanted;
  Fail(kelmsgfile::eMSG_NOT_FOUND, 2, setId, wanted);
  return cNOT_FOUND;
}

unsigned int tMSGCAT::ReadText(unsigned int offset, char **text) {
  tMSGFILE *file = state_.file;
  unsigned int type = 0, n = 0;
  unsigned int rc = file->Seek(static_cast<long>(state_.cat_start + offset), nullptr);
  if (rc == 0) rc = file->ReadHeader(&type, &n);
  if (rc != 0) return rc;
  if (type != kelmsgfmt::cTYPE_MESSAGE) return Fail(kelmsgfile::eCATALOG_CORRUPT, 0, 0, 0);
  // A length beyond the catalog is corruption, not a request for memory.
  if (n > state_.header.length) return Fail(kelmsgfile::eCATALOG_CORRUPT, 0, 0, 0);
  unsigned char *buf = new (std::nothrow) unsigned char[n > 0 ? n : 1];
  if (buf == nullptr) {
    RecordOutOfMemory();
    return cFAILURE;
  }
  unsigned long got = 0;
  if (n > 0 && (file->Read(buf, n, &got) != 0 || got != n)) {
    delete[] buf;
    return Fail(kelmsgfile::eCATALOG_CORRUPT, 0, 0, 0);
  }
  // 16-bit texts are little-endian in the file, whatever the host.
  rc = MakeText(buf, n, state_.header.width, text);
  delete[] buf;
  return rc;
}

// The common case is a few loads: the view, the registry's epoch as the
// view last found its file unchanged, the set's slot of the catgets table,
// and the hold already holding the view.
const char *kelcatalog_internal::ViewText(tMSGCAT &catalog, unsigned int setId,
                                          unsigned int msgId, void **hold) {
  // Beyond the common case: a set without slots, or a view the hold does
  // not hold yet.
  struct tCOLD {
    KELCORE_CATALOG_COLD static const char *Text(tMSGCAT::tVIEW *view, unsigned int setId,
                                                 unsigned int msgId, void **hold) {
      const tMSGCAT::tVIEW::tTEXT *text = view->Entry(setId, msgId);
      if (text == nullptr || text->at == 0) return nullptr;
      if (*hold != view) {
        // The hold's reference keeps the text after the handle lets the
        // view go; this thread loaded the view while the handle held it.
        view->refs.fetch_add(1, std::memory_order_relaxed);
        Unref(static_cast<tMSGCAT::tVIEW *>(*hold));
        *hold = view;
      }
      return view->strings + text->at;
    }
  };
  tMSGCAT::tVIEW *view = catalog.view_.load(std::memory_order_acquire);
  if (view == nullptr || !Stands(view)) return nullptr;
  if (setId < view->fast_size && *hold == view) {
    const tMSGCAT::tVIEW::tFAST &fast = view->fast[setId];
    const unsigned int i = msgId - fast.base;
    if (i < fast.span && fast.string[i].at != 0) return view->strings + fast.string[i].at;
  }
  return tCOLD::Text(view, setId, msgId, hold);
}

void kelcatalog_internal::DropView(void **hold) {
  Unref(static_cast<tMSGCAT::tVIEW *>(*hold));
  *hold = nullptr;
}

unsigned int tMSGCAT::GetMsg(unsigned int setId, unsigned int msgId, char **text) {
  if (text != nullptr) *text = nullptr;
  tVIEW *view = CurrentView();
  if (view != nullptr) {
    const tVIEW::tSTRING string = view->StringOf(setId, msgId);
    if ((string.length & tVIEW::cNOT_WHOLE) == 0) {
      // The C string is the whole text: one copy of known length.
      const std::size_t size = static_cast<std::size_t>(string.length) + 1;
      char *result = new (std::nothrow) char[size];
      if (result == nullptr) {
        RecordOutOfMemory();
        return cFAILURE;
      }
      std::memcpy(result, view->strings + string.at, size);
      if (text != nullptr) {
        *text = result;
      } else {
        delete[] result;
      }
      return 0;
    }
  }
  return GetMsgRest(view, setId, msgId, text);
}

KELCORE_CATALOG_COLD unsigned int tMSGCAT::GetMsgRest(tVIEW *view, unsigned int setId,
                                                      unsigned int msgId, char **text) {
  unsigned int rc;
  if (view != nullptr) {
    // A text in memory is served from there; any other result is the
    // one the file walk gives (see ViewFind).
    unsigned int found = msgId, offset = 0;
    if (view->Find(setId, msgId, &found, &offset) != tVIEW::cHIT) {
      return ViewFind(view, setId, &found, &offset);
    }
    if (found != msgId) return Fail(kelmsgfile::eMSG_NOT_FOUND, 2, setId, msgId);
    char *result = nullptr;
    if ((rc = view->Text(offset, &result)) != cASK_FILE) {
      if (text != nullptr) {
        *text = result;
      } else {
        delete[] result;
      }
      return rc;
    }
  }
  tLOOKUP_SCOPE scope;
  tMSGFILE *file = nullptr;
  rc = Bind(&file);
  if (rc != 0) return rc;
  tOBJECT_LOCK lock(*file);
  unsigned int found = msgId, offset = 0;
  if ((rc = FindMsg(setId, &found, &offset)) != 0) return rc;
  if (found != msgId) return Fail(kelmsgfile::eMSG_NOT_FOUND, 2, setId, msgId);
  char *result = nullptr;
  if ((rc = ReadText(offset, &result)) != 0) return rc;
  if (text != nullptr) {
    *text = result;
  } else {
    delete[] result;
  }
  return 0;
}

unsigned int tMSGCAT::GetNextSetId(unsigned int setId, unsigned int *nextSetId) {
  if (tVIEW *view = CurrentView()) {
    unsigned int low = 0, high = view->nsets;
    while (low < high) {
      const unsigned int mid = low + (high - low) / 2;
      if (view->sets[mid].id < setId) {
        low = mid + 1;
      } else {
        high = mid;
      }
    }
    if (low == view->nsets) {
      Fail(kelmsgfile::eSET_NOT_FOUND, 1, view->nsets > 0 ? view->sets[view->nsets - 1].id : 0, 0);
      return cNOT_FOUND;
    }
    if (nextSetId != nullptr) *nextSetId = view->sets[low].id;
    return 0;
  }
  tLOOKUP_SCOPE scope;
  tMSGFILE *file = nullptr;
  unsigned int rc = Bind(&file);
  if (rc != 0) return rc;
  tOBJECT_LOCK lock(*file);
  unsigned int p = state_.header.first_set, last = 0;
  for (;;) {
    if ((rc = NextSet(&p)) == cNOT_FOUND) {
      Fail(kelmsgfile::eSET_NOT_FOUND, 1, last, 0);
      return cNOT_FOUND;
    }
    if (rc != 0) return rc;
    last = state_.set_id;
    if (state_.set_id >= setId) {
      if (nextSetId != nullptr) *nextSetId = state_.set_id;
      return 0;
    }
  }
}

unsigned int tMSGCAT::GetNextMsgId(unsigned int setId, unsigned int msgId,
                                   unsigned int *nextMsgId) {
  if (tVIEW *view = CurrentView()) {
    unsigned int found = msgId, offset = 0;
    unsigned int rc = ViewFind(view, setId, &found, &offset);
    if (rc == 0 && nextMsgId != nullptr) *nextMsgId = found;
    return rc;
  }
  tLOOKUP_SCOPE scope;
  tMSGFILE *file = nullptr;
  unsigned int rc = Bind(&file);
  if (rc != 0) return rc;
  tOBJECT_LOCK lock(*file);
  unsigned int found = msgId, offset = 0;
  if ((rc = FindMsg(setId, &found, &offset)) != 0) return rc;
  if (nextMsgId != nullptr) *nextMsgId = found;
  return 0;
}
