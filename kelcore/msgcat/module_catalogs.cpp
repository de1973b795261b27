// The module catalogs and the modules' message classes and factories.
//
// All module catalogs live in this one file, so that their order of
// construction is fixed: each is a function-local static (safe to reach from
// any other static initialiser of the library, whatever the order of files),
// and the start-up object at the end of this file builds them all, in the
// order of the table in module_catalogs.h, while the library is loaded and
// before any client code runs. They are destroyed at process exit in the
// reverse order. Building one needs nothing but the heap: no other file's
// static object is touched.
#include "kelcore/msgcat/module_catalogs.h"

#include <cstring>
#include <new>

#include "kelcore/msgcat/format_text.h"
#include "kelcore/platform/error.h"
#include "kelcore/platform/message_text.h"

namespace {

// A new message, or without memory for one the shared tERRMSG::OutOfMemory:
// a factory never returns null.
template <typename MSG, typename... ARGS>
tMSG *NewOrOutOfMemory(ARGS... args) {
  MSG *msg = new (std::nothrow) MSG(args...);
  if (msg == nullptr) return &tERRMSG::OutOfMemory;
  return msg;
}

// A new char[] copy of `text` fit to serve as a message's format text: every
// "%" doubled so that the text shows as it is, and trailing blanks and line
// ends dropped so that a message stays one line in the log. Null for a null
// text or without memory.
char *FormatTextCopy(const char *text) {
  if (text == nullptr) return nullptr;
  std::size_t length = std::strlen(text);
  while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\t' ||
                        text[length - 1] == '\r' || text[length - 1] == '\n')) {
    --length;
  }
  return kelcore_internal::EscapedFormatText(text, length);
}

}  // namespace

char *kelcore_internal::EscapedFormatText(const char *text, std::size_t length) {
  std::size_t percents = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] == '%') ++percents;
  }
  char *copy = new (std::nothrow) char[length + percents + 1];
  if (copy == nullptr) return nullptr;
  char *out = copy;
  for (std::size_t i = 0; i < length; ++i) {
    *out++ = text[i];
    if (text[i] == '%') *out++ = '%';
  }
  *out = '\0';
  return copy;
}

// The definitions of KELCORE_DECLARE_MODULE_CATALOG (module_catalogs.h), for
// a module whose messages have severity SEVERITY. The catalog is built on
// first use; the start-up object at the end of this file makes that first use
// happen at load time, in table order.
#define KELCORE_DEFINE_MODULE_CATALOG(NAME, VERSION, SEVERITY)                   \
  const char cCATALOG_NAME[] = NAME;                                             \
  const char cCATALOG_VERSION[] = VERSION;                                       \
  tMSGCAT &Catalog() {                                                           \
    static tMSGCAT catalog(cCATALOG_NAME, cCATALOG_VERSION, nullptr);            \
    return catalog;                                                              \
  }                                                                              \
  tLIBMSG::tLIBMSG(unsigned int msgId, unsigned int setId, const char *idString) \
      : tCATMSG(&Catalog(), setId, msgId, idString, SEVERITY) {}                 \
  tLIBMSG::~tLIBMSG() {}

// The definitions of KELCORE_DECLARE_MODULE_SET0 (module_catalogs.h): set-0
// messages with the id string ID_STRING.
#define KELCORE_DEFINE_MODULE_SET0(ID_STRING)                              \
  tLIBMSG0::tLIBMSG0(unsigned int msgId) : tLIBMSG(msgId, 0, ID_STRING) {} \
  tLIBMSG0::~tLIBMSG0() {}                                                 \
  tMSG *NewLibraryError(unsigned int msgId) { return NewOrOutOfMemory<tLIBMSG0>(msgId); }

// ------------------------------------------------------------------- APP
namespace kelapp {
KELCORE_DEFINE_MODULE_CATALOG("APP library message catalog", "A.01.00", eERROR)
const char cID_STRING[] = "APP library error";
KELCORE_DEFINE_MODULE_SET0(cID_STRING)
}  // namespace kelapp

// --------------------------------------------------------------- CStream
namespace kelcstream {
KELCORE_DEFINE_MODULE_CATALOG("CStream library message catalog", "A.00.00", eERROR)
const char cID_STRING[] = "CStream library error";
KELCORE_DEFINE_MODULE_SET0(cID_STRING)
// NewLibraryError(msgId, errnoValue) appends a tPARM_ERRNO, which the error
// floor above defines: it is defined there too (error/os_error.cpp).
}  // namespace kelcstream

// --------------------------------------------------------------- FILESYS
namespace kelfilesys {
KELCORE_DEFINE_MODULE_CATALOG("FILESYS library message catalog", "A.02.00", eERROR)
const char cID_STRING[] = "FILESYS library error";
KELCORE_DEFINE_MODULE_SET0(cID_STRING)
}  // namespace kelfilesys

// ------------------------------------------------------------------- LOG
namespace kellog {
KELCORE_DEFINE_MODULE_CATALOG("LOG library message catalog", "A.02.00", eINFORMATION)
const char cID_STRING[] = "LOG library messages";

const char *DefaultText(unsigned int msgId) {
  static const char *const kTexts[] = {
      "Logging level: 0x%0'%08X'",  // eLOGGING_LEVEL
      "Enter:%0:%1",                // eTRACE_ENTER
      "Leave:%0:%1",                // eTRACE_LEAVE
      ">>>>>>>>>> %0",              // eLOG_START
      "<<<<<<<<<< %0",              // eLOG_STOP
  };
  return msgId < sizeof(kTexts) / sizeof(kTexts[0]) ? kTexts[msgId] : nullptr;
}

tLIBMSG0::tLIBMSG0(unsigned int msgId, const char *defaultText)
    : tLIBMSG(msgId, 0, cID_STRING), default_text_(defaultText) {}
tLIBMSG0::~tLIBMSG0() {}
const char *tLIBMSG0::GetDefaultMsg() { return default_text_; }

tMSG *NewLibraryError(unsigned int msgId, const char *defaultText) {
  return NewOrOutOfMemory<tLIBMSG0>(msgId, defaultText);
}

tMSG *NewLibraryError(unsigned int msgId) { return NewLibraryError(msgId, DefaultText(msgId)); }
}  // namespace kellog

// --------------------------------------------------------------- MSGFILE
namespace kelmsgfile {
KELCORE_DEFINE_MODULE_CATALOG("MSGFILE library message catalog", "A.01.00", eERROR)
const char cMSGCAT_ID_STRING[] = "MSGCAT library error";
const char cMSGFILE_ID_STRING[] = "MSGFILE library error";

const char *BuiltInText(unsigned int setId, unsigned int msgId) {
  static const char *const kSet0[] = {
      "Message catalog\"%0\" is corrupt(set:%1, msg:%2)",  // eCATALOG_CORRUPT
      "Message set %1not found (%0, msg:%2)",             // eSET_NOT_FOUND
      "Message number %2 not found (%0, set:%1)",         // eMSG_NOT_FOUND
      "Message file not opened (%0, set:%1, msg:%2)",     // eNO_MESSAGE_FILE
      "Message catalog error (%0, set:%1, msg:%2)",       // eFORMAT_VERSION
      "Message catalog error (%0, set:%1, msg:%2)",       // eCATALOG_VERSION
  };
  static const char *const kSet1[] = {
      "Message catalog \"%0\" not found (set:%1, msg:%2)",  // eCATALOG_NOT_FOUND
      "Message file error (%0, set:%1, msg:%2)",            // eLANGUAGE_MISMATCH
  };
  if (setId == 0) {
    return msgId < sizeof(kSet0) / sizeof(kSet0[0])
               ? kSet0[msgId]
               : "Message catalog error (%0, set:%1, msg:%2)";
  }
  if (setId == 1) {
    return msgId < sizeof(kSet1) / sizeof(kSet1[0]) ? kSet1[msgId]
                                                     : "Message file error (%0, set:%1, msg:%2)";
  }
  return nullptr;
}

KELCORE_DEFINE_MODULE_SET0(cMSGCAT_ID_STRING)

tLIBMSG1::tLIBMSG1(unsigned int msgId) : tLIBMSG(msgId, 1, cMSGFILE_ID_STRING) {}
tLIBMSG1::~tLIBMSG1() {}

tMSG *NewLibraryError1(unsigned int msgId) { return NewOrOutOfMemory<tLIBMSG1>(msgId); }
}  // namespace kelmsgfile

// -------------------------------------------------------------------- OS
namespace kelos {
KELCORE_DEFINE_MODULE_CATALOG("OS library message catalog", "A.02.00", eERROR)
const char cID_STRING[] = "OS library error";
KELCORE_DEFINE_MODULE_SET0(cID_STRING)

tLIBMSG1::tLIBMSG1(int errnoValue)
    : tLIBMSG(static_cast<unsigned int>(errnoValue), 1, cID_STRING),
      default_text_(nullptr),
      default_tried_(0) {}
tLIBMSG1::~tLIBMSG1() { delete[] default_text_; }

const char *tLIBMSG1::GetDefaultMsg() {
  if (!default_tried_) {
    default_tried_ = 1;
    char text[256];
    kelsys::StrError(static_cast<int>(GetMsgId()), text, sizeof(text));
    default_text_ = FormatTextCopy(text);
  }
  return default_text_;
}

tLIBMSG2::tLIBMSG2(int win32Code)
    : tLIBMSG(static_cast<unsigned int>(win32Code), 2, cID_STRING),
      default_text_(nullptr),
      default_tried_(0) {}
tLIBMSG2::~tLIBMSG2() { delete[] default_text_; }

const char *tLIBMSG2::GetDefaultMsg() {
  if (!default_tried_) {
    default_tried_ = 1;
    // Asking for a text must not disturb the system error code that the
    // caller may still be about to read.
    const kelsys::DWORD saved = kelsys::GetLastError();
    char *system_text = nullptr;
    const kelsys::DWORD kAllocateFromSystemIgnoreInserts = 0x1300;
    const kelsys::DWORD kUserDefaultLanguage = 0x400;
    kelsys::DWORD length = kelsys::FormatMessageA(
        kAllocateFromSystemIgnoreInserts, nullptr, static_cast<kelsys::DWORD>(GetMsgId()),
        kUserDefaultLanguage, reinterpret_cast<kelsys::LPSTR>(&system_text), 0, nullptr);
    if (length != 0 && system_text != nullptr) default_text_ = FormatTextCopy(system_text);
    if (system_text != nullptr) kelsys::LocalFree(system_text);
    kelsys::SetLastError(saved);
  }
  return default_text_;
}
}  // namespace kelos

// ------------------------------------------------------------------- REC
namespace kelrec {
KELCORE_DEFINE_MODULE_CATALOG("REC library message catalog", "A.00.00", eERROR)
const char cID_STRING[] = "REC library error";
KELCORE_DEFINE_MODULE_SET0(cID_STRING)
}  // namespace kelrec

// ------------------------------------------------------------------- TXT
namespace keltxt {
KELCORE_DEFINE_MODULE_CATALOG("TXT library message catalog", "A.00.00", eERROR)
const char cID_STRING[] = "TXT library error";
KELCORE_DEFINE_MODULE_SET0(cID_STRING)
}  // namespace keltxt

// ------------------------------------------------------------------- NLS
namespace kelnls {
KELCORE_DEFINE_MODULE_CATALOG("NLS message catalog", "A.00.00", eERROR)
const char cID_STRING[] = "NLS message";

tTEXTMSG::tTEXTMSG(unsigned int msgId, unsigned int setId, const char *defaultText)
    : tLIBMSG(msgId, setId, cID_STRING), default_text_(defaultText) {}
tTEXTMSG::~tTEXTMSG() {}
const char *tTEXTMSG::GetDefaultMsg() { return default_text_; }

tMSG *NewLibraryError(unsigned int msgId, unsigned int setId, const char *defaultText) {
  return NewOrOutOfMemory<tTEXTMSG>(msgId, setId, defaultText);
}
}  // namespace kelnls

#undef KELCORE_DEFINE_MODULE_SET0
#undef KELCORE_DEFINE_MODULE_CATALOG

// -------------------------------------------------------------- start-up
namespace {
struct tMODULE_CATALOGS_STARTUP {
  tMODULE_CATALOGS_STARTUP() {
    kelapp::Catalog();
    kelcstream::Catalog();
    kelfilesys::Catalog();
    kellog::Catalog();
    kelmsgfile::Catalog();
    kelos::Catalog();
    kelrec::Catalog();
    keltxt::Catalog();
    kelnls::Catalog();
  }
};
const tMODULE_CATALOGS_STARTUP g_module_catalogs_startup;
}  // namespace
