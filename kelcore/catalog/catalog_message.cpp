// Catalog messages (tCATMSG): their text from the catalog, or a fallback
// when the catalog cannot give it. The lookup itself is in catalog.cpp.
#include "kelcore/msgcat/catalog.h"

#include <cstring>
#include <new>

#include "kelcore/catalog/catalog_lookup.h"
#include "kelcore/msgcat/format_text.h"
#include "kelcore/msgcat/message_registry.h"
#include "kelcore/msgcat/module_catalogs.h"
#include "kelcore/sync/thread.h"

using kelcatalog_internal::kUndefinedFile;
using kelcatalog_internal::t_lookup_depth;

namespace {

const char kCatalogError[] = "Message catalog error (%0, set:%1, msg:%2)";

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
    // The lookup's own failures only choose the fallback below: they are
    // captured, never recorded (no log record, no last error). What the
    // layers below record (a failed read) is taken back as well, and the
    // last error the thread had is put back without a record.
    tMSG *pending = tTHREAD::ExchangeLastError(nullptr);
    unsigned int result;
    {
      kelmsgreg::tCAPTURE capture(&cause);
      ++t_lookup_depth;
      result = catalog_->GetMsg(set_id_, msg_id_, &format_);
      --t_lookup_depth;
    }
    tMSG *below = tTHREAD::ExchangeLastError(pending);
    if (cause == nullptr) {
      cause = below;
    } else {
      tMSG::Dispose(below);
    }
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
