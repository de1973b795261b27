#include "kelcore/catalog/catalog.h"

#include <atomic>
#include <cstring>
#include <new>

#include "kelcore/catalog/catalog_lookup.h"
#include "kelcore/catalog/format_text.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/sync/thread.h"

namespace {

// Constant-initialised, so that it is valid before any constructor of the
// library runs.
std::atomic<tMSGCAT_LOOKUP *> g_lookup(nullptr);

// How deep the calling thread is inside a catalog lookup started by
// GetFormatStr. A lookup that fails records an error, and recording an error
// may format it for the log; that formatting must not start a second lookup
// in the middle of the first (it would move the message file's position
// under the outer read), so nested messages go straight to their fallbacks.
thread_local int t_lookup_depth = 0;

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

unsigned int tMSGCAT::GetMsg(unsigned int setId, unsigned int msgId, char **text) {
  if (text != nullptr) *text = nullptr;
  tMSGCAT_LOOKUP *lookup = g_lookup.load(std::memory_order_acquire);
  if (lookup == nullptr) return NoMessageFile();
  return lookup->GetMsg(*this, setId, msgId, text);
}

unsigned int tMSGCAT::GetNextSetId(unsigned int setId, unsigned int *nextSetId) {
  tMSGCAT_LOOKUP *lookup = g_lookup.load(std::memory_order_acquire);
  if (lookup == nullptr) return NoMessageFile();
  return lookup->GetNextSetId(*this, setId, nextSetId);
}

unsigned int tMSGCAT::GetNextMsgId(unsigned int setId, unsigned int msgId,
                                   unsigned int *nextMsgId) {
  tMSGCAT_LOOKUP *lookup = g_lookup.load(std::memory_order_acquire);
  if (lookup == nullptr) return NoMessageFile();
  return lookup->GetNextMsgId(*this, setId, msgId, nextMsgId);
}

tMSG &tMSGCAT::AddErrorContext(tMSG *msg) const {
  tMSGCAT_LOOKUP *lookup = g_lookup.load(std::memory_order_acquire);
  if (state_.file != nullptr && lookup != nullptr) {
    lookup->AddFileName(*this, *msg);
  } else {
    *msg << kUndefinedFile;
  }
  *msg << static_cast<const char *>(name_);
  return *msg;
}

unsigned int tMSGCAT::NoMessageFile() const {
  tMSG *msg = kelmsgfile::NewLibraryError(kelmsgfile::eNO_MESSAGE_FILE);
  AddErrorContext(msg);
  tTHREAD::SetLastError(msg);
  return 0xFFFFFFFFu;
}

// --------------------------------------------------------- tMSGCAT_LOOKUP

tMSGCAT_LOOKUP::~tMSGCAT_LOOKUP() {}

tMSGCAT_LOOKUP *tMSGCAT_LOOKUP::Install(tMSGCAT_LOOKUP *lookup) {
  return g_lookup.exchange(lookup, std::memory_order_acq_rel);
}

tMSGCAT_LOOKUP *tMSGCAT_LOOKUP::Installed() { return g_lookup.load(std::memory_order_acquire); }

tMSGCAT_LOOKUP::tSTATE &tMSGCAT_LOOKUP::State(tMSGCAT &cat) { return cat.state_; }

const tMSGCAT_LOOKUP::tSTATE &tMSGCAT_LOOKUP::State(const tMSGCAT &cat) { return cat.state_; }

tMSG &tMSGCAT_LOOKUP::AddErrorContext(const tMSGCAT &cat, tMSG *msg) {
  return cat.AddErrorContext(msg);
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
