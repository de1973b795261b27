#include "kelcore/catalog/message_file.h"

#include <atomic>
#include <cstring>
#include <new>

#include "kelcore/catalog/message_file_layout.h"
#include "kelcore/msgcat/message_registry.h"
#include "kelcore/msgcat/module_catalogs.h"
#include "kelcore/msg/message.h"
#include "kelcore/names/pc_file_name.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/sync/lock.h"
#include "kelcore/sync/thread.h"

namespace {

const unsigned int cNOT_FOUND_IN_FILE = 10;
const unsigned int cEND_OF_FILE = 4;
const unsigned int cFAILURE = 0xFFFFFFFFu;

// An operating-system file whose lock facet is an in-process lock: every
// catalog read of the process may come through one message file.
class tLOCKED_OSFILE : public tINTRA_PROCESS_LOCK,
                       public tPHYSICAL_FILE,
                       public tOSFILEIO,
                       public tPCFILENAME,
                       public tOSFILESYS {
 public:
  tLOCKED_OSFILE() {}
  ~tLOCKED_OSFILE() {}
  unsigned int AllocCompatFileObj(tPHYSICAL_FILE **out) const {
    tLOCKED_OSFILE *file = out != nullptr ? new (std::nothrow) tLOCKED_OSFILE : nullptr;
    if (out != nullptr) *out = file;
    if (file == nullptr) {
      tTHREAD::SetLastError(&tERRMSG::OutOfMemory);
      return cFAILURE;
    }
    return 0;
  }
  // Message files have no use for directories.
  unsigned int AllocCompatDirObj(tPHYSICAL_DIR **out) const {
    if (out != nullptr) *out = nullptr;
    return 0;
  }
};

tPHYSICAL_FILE *OrLockedFile(tPHYSICAL_FILE *file) {
  return file != nullptr ? file : new (std::nothrow) tLOCKED_OSFILE;
}

// The registry: constant-initialised, so valid before any constructor of
// the library or of the program runs.
struct tENTRY {
  tENTRY *prev;
  tENTRY *next;
  tMSGFILE *file;
  unsigned long serial;
  // Changes whenever the file is opened, closed or given another name:
  // catalog views made before then no longer stand for it.
  std::atomic<unsigned long> generation;
};
tENTRY *g_first = nullptr;
tENTRY *g_last = nullptr;
unsigned long g_serial = 0;

// Where the catalog lookup of a message's own text puts the failures it
// records, instead of the thread's last error (see kelmsgreg::tCAPTURE).
thread_local tMSG **t_capture = nullptr;

void NewGeneration(const tMSGFILE *file) {
  for (tENTRY *e = g_first; e != nullptr; e = e->next) {
    if (e->file == file) {
      e->generation.fetch_add(1, std::memory_order_acq_rel);
      kelmsgreg::g_epoch.fetch_add(1, std::memory_order_acq_rel);
      return;
    }
  }
}

bool SameLanguage(const char *a, const char *b) {
  for (;; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
    if (x == '\0') return true;
  }
}

}  // namespace

// ---------------------------------------------------------------- tMSGFILE

tMSGFILE::tMSGFILE(tPHYSICAL_FILE *file, int own)
    : tRECFILE(OrLockedFile(file), file != nullptr ? own : 1) {
  Register();
}

tMSGFILE::tMSGFILE(tPHYSICAL_FILE &file, int own) : tRECFILE(file, own) { Register(); }

void tMSGFILE::Register() {
  SetName("message.cat");
  tENTRY *entry = new (std::nothrow) tENTRY;
  if (entry == nullptr) {
    tTHREAD::SetLastError(&tERRMSG::OutOfMemory);
    return;
  }
  entry->prev = g_last;
  entry->next = nullptr;
  entry->file = this;
  entry->serial = ++g_serial;
  entry->generation.store(1, std::memory_order_relaxed);
  if (g_last != nullptr) {
    g_last->next = entry;
  } else {
    g_first = entry;
  }
  g_last = entry;
}

tMSGFILE::~tMSGFILE() {
  if (IsOpen()) Close();
  for (tENTRY *e = g_first; e != nullptr; e = e->next) {
    if (e->file != this) continue;
    (e->prev != nullptr ? e->prev->next : g_first) = e->next;
    (e->next != nullptr ? e->next->prev : g_last) = e->prev;
    delete e;
    kelmsgreg::g_epoch.fetch_add(1, std::memory_order_acq_rel);
    break;
  }
}

// Each of these drops the catalog views made of the file (catalog.h).
unsigned int tMSGFILE::SetFile(char const *name, char const *id, char const *version,
                               char const *formatVersion) {
  tOBJECT_LOCK lock(*this);
  NewGeneration(this);
  return tRECFILE::SetFile(name, id, version, formatVersion);
}

unsigned int tMSGFILE::SetFile(tPHYFILENAMEOBJ const &name, char const *id,
                               char const *version, char const *formatVersion) {
  tOBJECT_LOCK lock(*this);
  NewGeneration(this);
  return tRECFILE::SetFile(name, id, version, formatVersion);
}

unsigned int tMSGFILE::Open() {
  tOBJECT_LOCK lock(*this);
  NewGeneration(this);
  return tRECFILE::OpenExisting(tFILEDEFS::MODE_READ, tFILEDEFS::SHARE_DENYWRITE);
}

unsigned int tMSGFILE::Close() {
  tOBJECT_LOCK lock(*this);
  NewGeneration(this);
  return tLOGICAL_FILE::Close();
}

tMSG &tMSGFILE::AddErrorContext(tMSG *msg) const { return tRECFILE::AddErrorContext(msg); }

unsigned int tMSGFILE::FindCatalog(char const *name, unsigned long start, char const *language) {
  tOBJECT_LOCK lock(*this);
  unsigned int rc;
  if (!IsOpen() && (rc = Open()) != 0) return rc;
  unsigned long offset = start;
  unsigned char header[kelmsgfmt::cHEADER_BODY];
  for (;;) {
    if ((rc = Seek(static_cast<long>(offset), nullptr)) != 0) return rc;
    char id[kelmsgfmt::cMAX_ID + 1];
    rc = ReadId(id);
    if (rc == cEND_OF_FILE) {
      // The catalog's name comes first, so that one text serves this error
      // and the registry's, which has no file to name.
      tMSG *msg = kelmsgfile::NewLibraryError1(kelmsgfile::eCATALOG_NOT_FOUND);
      *msg << name;
      kelmsgreg::Record(&AddErrorContext(msg));
      return cNOT_FOUND_IN_FILE;
    }
    if (rc != 0) return rc;
    if ((rc = ReadVersion(nullptr, nullptr)) != 0) return rc;
    unsigned int type = 0;
    if ((rc = ReadRec(header, sizeof header, &type, nullptr)) != 0) return rc;
    const unsigned int length = kelmsgfmt::GetU32(header + kelmsgfmt::cHDR_LENGTH);
    if (type != kelmsgfmt::cTYPE_HEADER || length == 0) {
      kelmsgreg::Record(
          &AddErrorContext(kelmsgfile::NewLibraryError(kelmsgfile::eCATALOG_CORRUPT)));
      return cFAILURE;
    }
    if (name == nullptr || std::strcmp(id, name) == 0) break;
    offset += length;
  }
  if (language != nullptr && language[0] != '\0') {
    char found[kelmsgfmt::cLANGUAGE_FIELD];
    std::memcpy(found, header + kelmsgfmt::cHDR_LANGUAGE, sizeof found);
    found[sizeof found - 1] = '\0';
    if (!SameLanguage(language, found)) {
      tMSG *msg = kelmsgfile::NewLibraryError1(kelmsgfile::eLANGUAGE_MISMATCH);
      AddErrorContext(msg);
      *msg << language << static_cast<const char *>(found);
      kelmsgreg::Record(msg);
      return cFAILURE;
    }
  }
  return Seek(static_cast<long>(offset), nullptr);
}

unsigned int tMSGFILE::FindNextCatalog(unsigned long offset) {
  tOBJECT_LOCK lock(*this);
  unsigned int rc;
  if ((rc = Seek(static_cast<long>(offset), nullptr)) != 0) return rc;
  if ((rc = ReadId(nullptr)) != 0) return rc;
  if ((rc = ReadVersion(nullptr, nullptr)) != 0) return rc;
  unsigned char header[kelmsgfmt::cHEADER_BODY];
  unsigned int type = 0;
  if ((rc = ReadRec(header, sizeof header, &type, nullptr)) != 0) return rc;
  if (type != kelmsgfmt::cTYPE_HEADER) {
    tTHREAD::SetLastError(
        AddErrorContext(kelmsgfile::NewLibraryError(kelmsgfile::eCATALOG_CORRUPT)));
    return cFAILURE;
  }
  return Seek(static_cast<long>(offset + kelmsgfmt::GetU32(header + kelmsgfmt::cHDR_LENGTH)),
              nullptr);
}

// ------------------------------------------------------------- tSTDMSGFILE

tSTDMSGFILE::tSTDMSGFILE(tPHYSICAL_FILE *file, int own) : tMSGFILE(file, own) {
  SetBuffer(512, nullptr);
}

tSTDMSGFILE::tSTDMSGFILE(tPHYSICAL_FILE &file, int own) : tMSGFILE(file, own) {
  SetBuffer(512, nullptr);
}

tSTDMSGFILE::~tSTDMSGFILE() {}

unsigned int tSTDMSGFILE::Initialize(char const *fileName, char const *catalog,
                                     char const *version, char const *) {
  tPCFILENAME name(fileName);
  if (SetFile(name, catalog, version, kelmsgfmt::cCATALOG_FORMAT_VERSION) != 0) return cFAILURE;
  return Open();
}

// ---------------------------------------------------------------- registry

namespace kelmsgreg {

std::atomic<unsigned long long> g_epoch(1);

bool Empty() { return g_first == nullptr; }

void Record(tMSG *msg) {
  if (t_capture == nullptr) {
    tTHREAD::SetLastError(msg);
    return;
  }
  tMSG::Dispose(*t_capture);
  *t_capture = msg;
}

tCAPTURE::tCAPTURE(tMSG **into) : saved_(t_capture) {
  *into = nullptr;
  t_capture = into;
}

tCAPTURE::~tCAPTURE() { t_capture = saved_; }

unsigned long Generation(const tMSGFILE *file, unsigned long serial) {
  for (const tENTRY *e = g_first; e != nullptr; e = e->next) {
    if (e->file == file) {
      return e->serial == serial ? e->generation.load(std::memory_order_acquire) : 0;
    }
  }
  return 0;
}

bool Holds(const tMSGFILE *file, unsigned long serial) {
  for (const tENTRY *e = g_first; e != nullptr; e = e->next) {
    if (e->file == file) return e->serial == serial;
  }
  return false;
}

unsigned int Search(const char *name, const char *language, tMSGFILE **file,
                    unsigned long *serial, unsigned long *start) {
  for (const tENTRY *e = g_first; e != nullptr; e = e->next) {
    unsigned int rc;
    unsigned long at = 0;
    {
      // The catalog's place is taken while the lock is still held: once it
      // is released, another thread's read may move the file's position.
      tOBJECT_LOCK lock(*e->file);
      rc = e->file->FindCatalog(name, 0, language);
      if (rc == 0) rc = e->file->GetPos(&at);
    }
    if (rc == 0) {
      *file = e->file;
      *serial = e->serial;
      *start = at;
      return 0;
    }
    if (rc != cNOT_FOUND_IN_FILE) return rc;
  }
  tMSG *msg = kelmsgfile::NewLibraryError1(kelmsgfile::eCATALOG_NOT_FOUND);
  Record(&(*msg << name));
  return cNOT_FOUND_IN_FILE;
}

}  // namespace kelmsgreg
