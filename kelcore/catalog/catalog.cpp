#include "kelcore/catalog/catalog.h"

#include <cstring>
#include <new>

#include "kelcore/app/os_calls.h"
#include "kelcore/catalog/format_text.h"
#include "kelcore/catalog/message_file.h"
#include "kelcore/catalog/message_file_layout.h"
#include "kelcore/catalog/message_registry.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/platform/thread_exit.h"
#include "kelcore/sync/lock.h"
#include "kelcore/sync/thread.h"
#include "kelcore/text/nls_string.h"

namespace {

// How deep the calling thread is inside a catalog lookup. A lookup that
// fails records an error, and recording an error may format it for the
// log; that formatting must not start a second lookup in the middle of the
// first (it would move the message file's position under the outer read,
// and could wait for the binding lock while holding a file's lock), so
// nested messages go straight to their fallbacks.
thread_local int t_lookup_depth = 0;

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

const char kUndefinedFile[] = "<undefined>";
const char kCatalogError[] = "Message catalog error (%0, set:%1, msg:%2)";

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

// Adopts `parm` into `list`; false (and `parm` destroyed) when either is
// missing for lack of memory.
bool Append(tPARMLIST &list, tPARAMETER *parm) {
  if (parm == nullptr) return false;
  if (list.Add(parm) == 0xFFFFFFFFu) {
    delete parm;
    return false;
  }
  return true;
}

// The MSGFILE module's built-in text for `msg` when it is one of that
// module's messages (told apart by the id string object), else null.
const char *MsgfileBuiltInText(const tMSG *msg) {
  if (msg == nullptr) return nullptr;
  const char *id = msg->GetIdString();
  unsigned int set;
  if (id == kelmsgfile::cMSGCAT_ID_STRING) {
    set = 0;
  } else if (id == kelmsgfile::cMSGFILE_ID_STRING) {
    set = 1;
  } else {
    return nullptr;
  }
  const tCATMSG *cat_msg = dynamic_cast<const tCATMSG *>(msg);
  if (cat_msg == nullptr) return nullptr;
  return kelmsgfile::BuiltInText(set, cat_msg->GetMsgId());
}

}  // namespace

// ---------------------------------------------------------------- tMSGCAT

tMSGCAT::tMSGCAT() : name_(nullptr), version_(nullptr) {
  Unbind();
  language_[0] = '\0';
}

tMSGCAT::tMSGCAT(const char *name, const char *version, const char *language)
    : name_(nullptr), version_(nullptr) {
  Unbind();
  language_[0] = '\0';
  SetCatalog(name, version, language);
}

tMSGCAT::tMSGCAT(const tMSGCAT &other)
    : state_(other.state_), name_(nullptr), version_(nullptr) {
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
  state_ = other.state_;
  std::memcpy(language_, other.language_, sizeof(language_));
  return *this;
}

tMSGCAT::~tMSGCAT() {
  delete[] name_;
  delete[] version_;
  // A message that outlives its catalog at process exit then sees no name
  // rather than freed memory.
  name_ = nullptr;
  version_ = nullptr;
}

void tMSGCAT::Unbind() {
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
  tTHREAD::SetLastError(msg);
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
  unsigned int rc = kelmsgreg::Search(name_, language_, &file, &serial);
  if (rc != 0) return rc;
  tOBJECT_LOCK lock(*file);
  state_.file = file;
  state_.serial = serial;
  unsigned long pos = 0;
  if ((rc = file->GetPos(&pos)) != 0) {
    Unbind();
    return rc;
  }
  state_.cat_start = static_cast<unsigned int>(pos);
  char format[8], version[8];
  unsigned char header[kelmsgfmt::cHEADER_BODY];
  unsigned int type = 0;
  if ((rc = file->ReadId(nullptr)) == 0 && (rc = file->ReadVersion(format, version)) == 0) {
    if (!tVERSION::Match(format, kelmsgfmt::cCATALOG_FORMAT_VERSION)) {
      tMSG *msg = kelmsgfile::NewLibraryError(kelmsgfile::eFORMAT_VERSION);
      AddErrorContext(msg) << static_cast<const char *>(format)
                           << kelmsgfmt::cCATALOG_FORMAT_VERSION;
      tTHREAD::SetLastError(msg);
      rc = cFAILURE;
    } else if (version_ != nullptr && version_[0] != '\0' &&
               !tVERSION::Match(version, version_)) {  // no version asked: any
      tMSG *msg = kelmsgfile::NewLibraryError(kelmsgfile::eCATALOG_VERSION);
      AddErrorContext(msg) << static_cast<const char *>(version)
                           << static_cast<const char *>(version_);
      tTHREAD::SetLastError(msg);
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
  if (rc != 0) Unbind();
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
  const unsigned int w = state_.header.width;
  // A length beyond the catalog is corruption, not a request for memory.
  if (n > state_.header.length) return Fail(kelmsgfile::eCATALOG_CORRUPT, 0, 0, 0);
  char *buf = new (std::nothrow) char[static_cast<std::size_t>(n) + w];
  if (buf == nullptr) {
    tTHREAD::SetLastError(&tERRMSG::OutOfMemory);
    return cFAILURE;
  }
  unsigned long got = 0;
  if (n > 0 && (file->Read(buf, n, &got) != 0 || got != n)) {
    delete[] buf;
    return Fail(kelmsgfile::eCATALOG_CORRUPT, 0, 0, 0);
  }
  if (w == 1) {
    buf[n] = '\0';
    *text = buf;
    return 0;
  }
  // 16-bit texts are little-endian in the file, whatever the host.
  const unsigned int units = n / 2;
  unsigned short *wide = new (std::nothrow) unsigned short[units + 1];
  char *narrow = new (std::nothrow) char[units + 1];
  if (wide == nullptr || narrow == nullptr) {
    delete[] buf;
    delete[] wide;
    delete[] narrow;
    tTHREAD::SetLastError(&tERRMSG::OutOfMemory);
    return cFAILURE;
  }
  for (unsigned int i = 0; i < units; ++i) {
    wide[i] = static_cast<unsigned short>(static_cast<unsigned char>(buf[2 * i]) |
                                          static_cast<unsigned char>(buf[2 * i + 1]) << 8);
  }
  wide[units] = 0;
  nlstocs(narrow, wide, 0xFFFFFFFFu);
  delete[] buf;
  delete[] wide;
  *text = narrow;
  return 0;
}

unsigned int tMSGCAT::GetMsg(unsigned int setId, unsigned int msgId, char **text) {
  tLOOKUP_SCOPE scope;
  if (text != nullptr) *text = nullptr;
  tMSGFILE *file = nullptr;
  unsigned int rc = Bind(&file);
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

// ---------------------------------------------------------------- tCATMSG

tCATMSG::tCATMSG(tMSGCAT *catalog, unsigned int setId, unsigned int msgId, const char *idString,
                 eSEVERITY severity)
    : tMSG(idString, severity, 0),
      catalog_(catalog),
      format_(nullptr),
      set_id_(setId),
      msg_id_(msgId) {}

tCATMSG::~tCATMSG() { delete[] format_; }

int tCATMSG::operator==(const tMSG &other) const {
  const tMSG *other_msg = &other;
  if (other_msg == nullptr || !tMSG::operator==(other)) return 0;
  const tCATMSG *cat_msg = dynamic_cast<const tCATMSG *>(other_msg);
  return cat_msg != nullptr && cat_msg->catalog_ == catalog_ && cat_msg->set_id_ == set_id_ &&
         cat_msg->msg_id_ == msg_id_;
}

unsigned int tCATMSG::GetSetId() const { return set_id_; }
unsigned int tCATMSG::GetMsgId() const { return msg_id_; }
tMSGCAT *tCATMSG::GetCatalog() const { return catalog_; }

const char *tCATMSG::GetFormatStr() {
  if (format_ != nullptr) return format_;

  // The failure that the lookup recorded: it names the cause when no text
  // could be fetched (see the built-in description below).
  tMSG *cause = nullptr;
  if (catalog_ != nullptr && t_lookup_depth == 0) {
    tMSG *pending = tTHREAD::TakeOwnershipOfLastError();
    ++t_lookup_depth;
    unsigned int result = catalog_->GetMsg(set_id_, msg_id_, &format_);
    --t_lookup_depth;
    cause = tTHREAD::TakeOwnershipOfLastError();
    tTHREAD::SetLastError(pending);
    if (result == 0 && format_ != nullptr) {
      tMSG::Dispose(cause);
      return format_;
    }
    delete[] format_;
    format_ = nullptr;
  }

  const char *default_text = GetDefaultMsg();
  if (default_text != nullptr) {
    tMSG::Dispose(cause);
    return default_text;
  }

  // Open question settled here: the built-in description follows the
  // error of this message's own lookup, not the error that was pending
  // before formatting began, which has nothing to do with this message.
  const char *builtin = MsgfileBuiltInText(this);
  if (builtin == nullptr) builtin = MsgfileBuiltInText(cause);
  if (builtin == nullptr) builtin = kCatalogError;
  tMSG::Dispose(cause);

  const char *name = catalog_ != nullptr ? catalog_->GetId() : nullptr;
  if (name == nullptr) name = kUndefinedFile;
  tPARMLIST parms;
  // A missing parameter, or a name that could not be copied, would leave
  // "NULL" or "(null)" in a text kept for the message's life; report lack of
  // memory instead so that a later call tries again.
  tPARM_STRING *name_parm = new (std::nothrow) tPARM_STRING(name);
  if (name_parm != nullptr && name_parm->Value() == nullptr) {
    delete name_parm;
    name_parm = nullptr;
  }
  if (!Append(parms, name_parm) || !Append(parms, new (std::nothrow) tPARM_UINT(set_id_)) ||
      !Append(parms, new (std::nothrow) tPARM_UINT(msg_id_))) {
    return tERRMSG::OutOfMemoryStr;
  }
  char *text = tMSG::Format(builtin, parms);
  if (text == nullptr) return tERRMSG::OutOfMemoryStr;
  // The text is complete in itself, but it is still a format text that
  // Format() expands with the message's own parameters: a '%' the catalog
  // name brought in must show as it is.
  if (std::strchr(text, '%') != nullptr) {
    char *escaped = kelcore_internal::EscapedFormatText(text, std::strlen(text));
    delete[] text;
    if (escaped == nullptr) return tERRMSG::OutOfMemoryStr;
    text = escaped;
  }
  format_ = text;
  return format_;
}
