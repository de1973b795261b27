// The library modules' catalogs, message classes and factories.
//
// Every module of the library reports its errors as catalog messages of its
// own catalog. Each module has a namespace named after it, holding:
//
//   cCATALOG_NAME, cCATALOG_VERSION   the module catalog's name and version;
//   cID_STRING                        the id string of the module's messages,
//                                     one fixed text object: catalog code
//                                     compares id strings by address;
//   Catalog()                         the module catalog, a process-wide
//                                     tMSGCAT;
//   tLIBMSG                           the module's message class (message id,
//                                     set id, id string), and one derived
//                                     class per set that fixes the set;
//   NewLibraryError(msgId)            the factory: a new message of set 0.
//
// A factory never returns null: without memory it returns the shared
// tERRMSG::OutOfMemory, which ignores parameters streamed into it and is
// left alone when disposed of. Callers append parameters and hand the
// message to tTHREAD::SetLastError:
//
//   tTHREAD::SetLastError(*kelrec::NewLibraryError(5) << id);
//
// Module catalogs are built when the library is loaded, before any client
// code runs, in the order of the table below, and destroyed at process exit.
//
//   module    catalog name                         version   id string
//   APP       "APP library message catalog"        A.01.00   "APP library error"
//   CStream   "CStream library message catalog"    A.00.00   "CStream library error"
//   FILESYS   "FILESYS library message catalog"    A.02.00   "FILESYS library error"
//   LOG       "LOG library message catalog"        A.02.00   "LOG library messages"
//   MSGFILE   "MSGFILE library message catalog"    A.01.00   "MSGCAT library error" (set 0)
//                                                            "MSGFILE library error" (set 1)
//   OS        "OS library message catalog"         A.02.00   "OS library error"
//   REC       "REC library message catalog"        A.00.00   "REC library error"
//   TXT       "TXT library message catalog"        A.00.00   "TXT library error"
//   NLS       "NLS message catalog"                A.00.00   "NLS message"
//
// Every module's messages have severity eERROR, except LOG's (eINFORMATION).
#ifndef KELCORE_MSGCAT_MODULE_CATALOGS_H
#define KELCORE_MSGCAT_MODULE_CATALOGS_H

#include "kelcore/msgcat/catalog.h"
#include "kelcore/platform/export.h"

// The declarations every module has alike, written once. Used inside a
// module's namespace, each macro expands to exactly the declarations in its
// body below (the caller adds the last semicolon):
//
//   KELCORE_DECLARE_MODULE_CATALOG();  cCATALOG_NAME, cCATALOG_VERSION, the
//                                      message class tLIBMSG and Catalog();
//   KELCORE_DECLARE_MODULE_SET0();     for modules whose set-0 messages need
//                                      nothing but a number: tLIBMSG0(msgId)
//                                      and its factory NewLibraryError(msgId).
//
// Each module's id strings and its own classes and factories are written out
// in its namespace. The macros serve this header only and are undefined at
// its end.
#define KELCORE_DECLARE_MODULE_CATALOG()                                   \
  extern KELCORE_API const char cCATALOG_NAME[];                           \
  extern KELCORE_API const char cCATALOG_VERSION[];                        \
  class KELCORE_API tLIBMSG : public tCATMSG {                             \
   public:                                                                 \
    tLIBMSG(unsigned int msgId, unsigned int setId, const char *idString); \
    ~tLIBMSG();                                                            \
  };                                                                       \
  KELCORE_API tMSGCAT &Catalog()

// Declares a module's set-0 message class tLIBMSG0 and its factory NewLibraryError(msgId), as
// the comment above describes.
#define KELCORE_DECLARE_MODULE_SET0()           \
  class KELCORE_API tLIBMSG0 : public tLIBMSG { \
   public:                                      \
    explicit tLIBMSG0(unsigned int msgId);      \
    ~tLIBMSG0();                                \
  };                                            \
  KELCORE_API tMSG *NewLibraryError(unsigned int msgId)

// ------------------------------------------------------------------- APP
// Also read directly for the application's display texts.
namespace kelapp {
KELCORE_DECLARE_MODULE_CATALOG();
// The id string of the module's messages (one object: compared by address).
extern KELCORE_API const char cID_STRING[];
KELCORE_DECLARE_MODULE_SET0();
}  // namespace kelapp

// --------------------------------------------------------------- CStream
namespace kelcstream {
KELCORE_DECLARE_MODULE_CATALOG();
// The id string of the module's messages (one object: compared by address).
extern KELCORE_API const char cID_STRING[];
KELCORE_DECLARE_MODULE_SET0();
// The same with the C library's error `errnoValue` appended as a
// tPARM_ERRNO (parameter %0). Pass errno as read right after the failing
// call. Without memory for the parameter a null parameter ("NULL") takes
// its place, so later parameters keep their numbers.
KELCORE_API tMSG *NewLibraryError(unsigned int msgId, int errnoValue);
}  // namespace kelcstream

// --------------------------------------------------------------- FILESYS
namespace kelfilesys {
KELCORE_DECLARE_MODULE_CATALOG();
// The id string of the module's messages (one object: compared by address).
extern KELCORE_API const char cID_STRING[];
KELCORE_DECLARE_MODULE_SET0();
}  // namespace kelfilesys

// ------------------------------------------------------------------- LOG
// The log's own lines. Each message carries a default text, used when the
// catalog lacks it.
namespace kellog {
KELCORE_DECLARE_MODULE_CATALOG();
// The id string of the module's messages (one object: compared by address).
extern KELCORE_API const char cID_STRING[];

// The LOG catalog's messages, with their default texts.
enum eMSG {
  eLOGGING_LEVEL = 0,  // "Logging level: 0x%0'%08X'"; %0 the level mask
  eTRACE_ENTER = 1,    // "Enter:%0:%1"; the block-trace entry format
  eTRACE_LEAVE = 2,    // "Leave:%0:%1"; the block-trace exit format
  eLOG_START = 3,      // ">>>>>>>>>> %0"; %0 the local time
  eLOG_STOP = 4        // "<<<<<<<<<< %0"; %0 the local time
};
// The default text of message `msgId` above; null for any other number.
KELCORE_API const char *DefaultText(unsigned int msgId);

// A set-0 message with a default text (not owned; it must outlive the
// message).
class KELCORE_API tLIBMSG0 : public tLIBMSG {
 public:
  // Message `msgId` of set 0 with `defaultText` as its built-in text.
  tLIBMSG0(unsigned int msgId, const char *defaultText);
  ~tLIBMSG0();

 protected:
  // The default text given to the constructor.
  const char *GetDefaultMsg();

 private:
  const char *default_text_;
};
// A new set-0 message with `defaultText` as its built-in text. Never null: without memory,
// tERRMSG::OutOfMemory.
KELCORE_API tMSG *NewLibraryError(unsigned int msgId, const char *defaultText);
// With the default text of the table above.
KELCORE_API tMSG *NewLibraryError(unsigned int msgId);
}  // namespace kellog

// --------------------------------------------------------------- MSGFILE
// Errors of message files and catalog lookups. Set 0 ("MSGCAT library
// error") and set 1 ("MSGFILE library error") have built-in texts, used when
// the text cannot be fetched from a catalog. They are formatted with the
// catalog's name (%0), the set (%1) and the number (%2), not with the
// message's own parameters. Catalog handles' errors start with the catalog
// context: the message file's name (or "<undefined>") and the catalog name.
namespace kelmsgfile {
KELCORE_DECLARE_MODULE_CATALOG();
extern KELCORE_API const char cMSGCAT_ID_STRING[];   // set 0
extern KELCORE_API const char cMSGFILE_ID_STRING[];  // set 1

// Set 0; parameters after the catalog context in brackets.
enum eSET0_MSG {
  eCATALOG_CORRUPT = 0,     // "Message catalog\"%0\" is corrupt(set:%1, msg:%2)"
  eSET_NOT_FOUND = 1,       // [set id] "Message set %1not found (%0, msg:%2)"
  eMSG_NOT_FOUND = 2,       // [set id, msg id] "Message number %2 not found (%0, set:%1)"
  eNO_MESSAGE_FILE = 3,     // "Message file not opened (%0, set:%1, msg:%2)"
  eFORMAT_VERSION = 4,      // [found, "A.02.00"] "Message catalog error (%0, set:%1, msg:%2)"
  eCATALOG_VERSION = 5      // [found, expected] "Message catalog error (...)"
};
// Set 1.
enum eSET1_MSG {
  eCATALOG_NOT_FOUND = 0,   // [catalog name] "Message catalog \"%0\" not found (set:%1, msg:%2)"
  eLANGUAGE_MISMATCH = 1    // [requested, found] "Message file error (%0, set:%1, msg:%2)"
};
// The built-in text of message `msgId` of set 0 or 1 (any other number of
// the set has the set's general text); null for other sets.
KELCORE_API const char *BuiltInText(unsigned int setId, unsigned int msgId);

// Set 0 ("MSGCAT library error"): tLIBMSG0 and its factory NewLibraryError.
KELCORE_DECLARE_MODULE_SET0();
// Set 1 ("MSGFILE library error").
class KELCORE_API tLIBMSG1 : public tLIBMSG {
 public:
  // Message `msgId` of set 1.
  explicit tLIBMSG1(unsigned int msgId);
  ~tLIBMSG1();
};
// A new message of set 1.
KELCORE_API tMSG *NewLibraryError1(unsigned int msgId);
}  // namespace kelmsgfile

// -------------------------------------------------------------------- OS
// Set 0: the operating-system back end's errors. Sets 1 and 2 give the
// texts of C library errors (by errno value) and of system errors (by Win32
// code); tPARM_ERRNO and tPARM_SYSERR show them (os_error.h).
namespace kelos {
KELCORE_DECLARE_MODULE_CATALOG();
// The id string of the module's messages (one object: compared by address).
extern KELCORE_API const char cID_STRING[];
KELCORE_DECLARE_MODULE_SET0();

// Set 1, numbered by errno value. Default text: the C library's strerror
// text for the value, copied on first use.
class KELCORE_API tLIBMSG1 : public tLIBMSG {
 public:
  // The message of set 1 for the errno value `errnoValue`.
  explicit tLIBMSG1(int errnoValue);
  ~tLIBMSG1();

 protected:
  // The C library's strerror text for the value, copied on first use; null without memory.
  const char *GetDefaultMsg();

 private:
  tLIBMSG1(const tLIBMSG1 &);
  tLIBMSG1 &operator=(const tLIBMSG1 &);
  char *default_text_;
  int default_tried_;
};
// Set 2, numbered by Win32 error code. Default text: the system's text for
// the code (FormatMessageA), copied on first use without its trailing line
// end and blanks; none when the system has no text for the code.
class KELCORE_API tLIBMSG2 : public tLIBMSG {
 public:
  // The message of set 2 for the Win32 error code `win32Code`.
  explicit tLIBMSG2(int win32Code);
  ~tLIBMSG2();

 protected:
  // The system's text for the code, copied on first use; null when there is none or without
  // memory.
  const char *GetDefaultMsg();

 private:
  tLIBMSG2(const tLIBMSG2 &);
  tLIBMSG2 &operator=(const tLIBMSG2 &);
  char *default_text_;
  int default_tried_;
};
}  // namespace kelos

// ------------------------------------------------------------------- REC
namespace kelrec {
KELCORE_DECLARE_MODULE_CATALOG();
// The id string of the module's messages (one object: compared by address).
extern KELCORE_API const char cID_STRING[];
KELCORE_DECLARE_MODULE_SET0();
}  // namespace kelrec

// ------------------------------------------------------------------- TXT
namespace keltxt {
KELCORE_DECLARE_MODULE_CATALOG();
// The id string of the module's messages (one object: compared by address).
extern KELCORE_API const char cID_STRING[];
KELCORE_DECLARE_MODULE_SET0();
}  // namespace keltxt

// ------------------------------------------------------------------- NLS
// The catalog of the X/Open-style catalog functions: messages of any set,
// each with a default text.
namespace kelnls {
KELCORE_DECLARE_MODULE_CATALOG();
// The id string of the module's messages (one object: compared by address).
extern KELCORE_API const char cID_STRING[];

// A message of set `setId` with a default text (not owned; it must outlive
// the message; null: none).
class KELCORE_API tTEXTMSG : public tLIBMSG {
 public:
  // Message `msgId` of set `setId`, with `defaultText` as its built-in text.
  tTEXTMSG(unsigned int msgId, unsigned int setId, const char *defaultText);
  ~tTEXTMSG();

 protected:
  // The default text given to the constructor.
  const char *GetDefaultMsg();

 private:
  const char *default_text_;
};
// A new message (msgId, setId) with the default text `defaultText`.
KELCORE_API tMSG *NewLibraryError(unsigned int msgId, unsigned int setId,
                                  const char *defaultText);
}  // namespace kelnls

#undef KELCORE_DECLARE_MODULE_SET0
#undef KELCORE_DECLARE_MODULE_CATALOG

#endif  // KELCORE_MSGCAT_MODULE_CATALOGS_H
