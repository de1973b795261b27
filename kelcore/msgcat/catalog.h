// Message catalogs (tMSGCAT) and catalog messages (tCATMSG).
//
// A tMSGCAT is a handle to one named catalog (name, version, optional
// language) whose texts live in one of the registered message files
// (message_file.h). It finds its catalog on its first request, searching
// the registered files in order, and then stays bound to that file; only
// when the file is destroyed does it search again. While no message file
// exists, every request fails with the MSGFILE module's set-0 message 3
// ("Message file not opened") as the thread's last error, and tries again
// the next time.
//
// Binding a handle reads its whole catalog once, under the message file's
// lock, into an in-memory view that later requests read without touching
// the file or its lock; the view is shared by copies of the handle and
// dropped when the message file is closed (tMSGFILE::Close), opened
// again, given another name (SetFile) or destroyed. Catalogs the view
// cannot stand for (set records out of order, index entries not strictly
// ascending, a text outside the catalog) and requests after the view was
// dropped are read from the file as before, holding the file's lock, so
// handles on one file serialise there. Binding is serialised process-wide.
// One handle may be used by several threads at once.
//
// A tCATMSG is a message whose format text comes from a catalog, by set and
// message number. When the catalog cannot give the text, the message falls
// back to its class's default text (GetDefaultMsg) and then to a built-in
// description of the failed lookup, such as
//   "Message file not opened (OS library message catalog, set:0, msg:2)".
// Formatting never changes the thread's last error.
//
// Texts handed to callers (GetMsg) are arrays allocated with
// new (std::nothrow) char[]: release them with delete[].
#ifndef KELCORE_MSGCAT_CATALOG_H
#define KELCORE_MSGCAT_CATALOG_H

#include <atomic>

#include "kelcore/msg/message.h"
#include "kelcore/platform/export.h"

class tMSGFILE;
class tMSGCAT;

// Internal to the library (the library's catgets). ViewText: the text of
// (setId, msgId) as GetMsg would hand it out, up to its first NUL, when the
// catalog's in-memory view holds it; *hold (null at first) is made to hold
// a reference on that view, so the text stays valid, whatever happens to
// the catalog and its file, until DropView(hold) or a ViewText with the
// same hold that returns a text of another view. Otherwise null, with
// nothing recorded and *hold unchanged: GetMsg must answer.
namespace kelcatalog_internal {
const char *ViewText(tMSGCAT &catalog, unsigned int setId, unsigned int msgId, void **hold);
void DropView(void **hold);
}

// A message catalog: a named, versioned set of texts in a message file, looked up by set and
// message number (see the file comment). Lookups report their failures as MSGFILE library
// messages.
class KELCORE_API tMSGCAT {
 public:
  // An unnamed catalog (three nulls).
  tMSGCAT();
  // Unbound (no file yet); then SetCatalog(name, version, language).
  tMSGCAT(const char *name, const char *version, const char *language);
  // Copies duplicate every field; each object owns its own texts. Without
  // memory the copy lacks the texts that could not be duplicated (copy
  // construction) or stays unchanged (assignment), and the thread's last
  // error is tERRMSG::OutOfMemory.
  tMSGCAT(const tMSGCAT &other);
  // Assignment copies every field as the copy constructor does; without memory the object stays
  // unchanged and the last error is tERRMSG::OutOfMemory.
  tMSGCAT &operator=(const tMSGCAT &other);
  virtual ~tMSGCAT();

  // Replaces name and version with copies (a null argument leaves none) and
  // the language with the first 8 characters of `language` (null or empty:
  // any language). The binding to a message file is kept. 0, or 0xFFFFFFFF
  // with tERRMSG::OutOfMemory as the last error (nothing changed).
  unsigned int SetCatalog(const char *name, const char *version, const char *language);

  // The catalog's name, which is also its id.
  const char *GetId() const;
  // The catalog's version text as set (null when none was given).
  const char *GetVersion() const;
  // The requested language; empty means any.
  const char *GetLanguage() const;

  // 0 and, in *text, a new char[] copy of the text of (setId, msgId) that
  // the caller releases with delete[]; a 16-bit catalog's text is narrowed
  // to its low bytes. Otherwise an error result with a MSGFILE module
  // message as the thread's last error, and *text null: 1 set not found, or
  // no message at or above msgId in the set; 10 catalog in no message file;
  // 0xFFFFFFFF any other failure (no message file at all, corrupt catalog,
  // version mismatch, msgId missing where a larger one exists, out of
  // memory); the record layer's statuses pass through.
  unsigned int GetMsg(unsigned int setId, unsigned int msgId, char **text);
  // 0 and the smallest set id not below `setId`; 1 when there is none.
  // Locates the catalog first when needed, as GetMsg does.
  unsigned int GetNextSetId(unsigned int setId, unsigned int *nextSetId);
  // 0 and the smallest message id of the set not below `msgId`; 1 when
  // there is none or no such set.
  unsigned int GetNextMsgId(unsigned int setId, unsigned int msgId, unsigned int *nextMsgId);

 private:
  // Copy of a catalog's header record.
  struct tHEADER {
    unsigned int reserved;
    unsigned int first_set;  // catalog-relative offset of the first set record
    unsigned int length;     // the whole catalog's length in bytes
    unsigned int width;      // bytes per character of the texts: 1 or 2
    char language[9];
  };
  // One entry of a set's index.
  struct tINDEX {
    unsigned int msg_id;  // 0xFFFFFFFF: past the set's last entry
    unsigned int offset;  // catalog-relative offset of the message record
  };
  enum { cWINDOW = 10 };
  // Where the catalog was found and what of it is in memory.
  struct tLOOKUP_STATE {
    tMSGFILE *file;           // not owned; null until located
    unsigned long serial;     // the file's registry serial (message_registry.h)
    unsigned int cat_start;   // file offset of the catalog; 0xFFFFFFFF until located
    tHEADER header;
    unsigned int set_id;      // set record read last
    unsigned int set_count;   // its message count
    unsigned int set_entries; // catalog-relative offset of its first index entry
    int window_valid;         // the window holds entries of set_id
    tINDEX window[cWINDOW];   // consecutive index entries of that set
  };

  // Appends the catalog context to `msg` (not null) and returns it: the
  // message file's name, or "<undefined>" while the catalog has no file,
  // then the catalog's name.
  tMSG &AddErrorContext(tMSG *msg) const;
  // Records "Message file not opened" and returns 0xFFFFFFFF.
  unsigned int NoMessageFile() const;
  // Records set-0 message `msgNo` with the context and `count` ids.
  unsigned int Fail(unsigned int msgNo, int count, unsigned int a, unsigned int b) const;
  void Unbind();
  // Binds the catalog if it is not (or its file is gone); the bound file.
  unsigned int Bind(tMSGFILE **file);
  unsigned int MapView();
  unsigned int LoadSetHeader();
  unsigned int LoadIndexes(unsigned int first);
  // 0 and the offset of the first window entry at or above *msgId (whose
  // id replaces *msgId); 1 when the window has none.
  unsigned int SearchWindow(unsigned int *msgId, unsigned int *offset) const;
  // The message id of the current set's index entry `index`.
  unsigned int ReadEntryId(unsigned int index, unsigned int *id);
  // Seeks to set record after set record from the first; 1 at the end.
  unsigned int NextSet(unsigned int *position);
  unsigned int FindMsg(unsigned int setId, unsigned int *msgId, unsigned int *offset);
  unsigned int ReadText(unsigned int offset, char **text);

  // The in-memory view of a bound catalog (catalog.cpp).
  struct tVIEW;
  // GetMsg beyond a whole text from the view (null: none), out of the way
  // of that common case.
  unsigned int GetMsgRest(tVIEW *view, unsigned int setId, unsigned int msgId, char **text);
  // The view, when it still stands for the bound file; else null.
  tVIEW *CurrentView() const;
  // Builds the view of the catalog just located (under the file's lock);
  // without memory, or for a catalog it cannot stand for, there is none.
  void BuildView();
  void ReleaseView();
  // Unbinding: the view is kept aside until the next unbinding or the
  // handle's end, since another thread may still be reading it (one that
  // loaded it before the unbinding; a second unbinding needs a second
  // destroyed file, which no lookup may overlap).
  void RetireView();
  // FindMsg from the view: 0, or the result the file walk gives, with the
  // same message recorded.
  unsigned int ViewFind(tVIEW *view, unsigned int setId, unsigned int *msgId,
                        unsigned int *offset) const;
  friend const char *kelcatalog_internal::ViewText(tMSGCAT &, unsigned int, unsigned int,
                                                   void **);
  friend void kelcatalog_internal::DropView(void **);

  tLOOKUP_STATE state_;
  std::atomic<tVIEW *> view_;
  tVIEW *retired_;
  char language_[9];
  char *name_;
  char *version_;
};

// A message whose text is a message of a catalog (see the file comment); when the text cannot
// be fetched, formatting shows the built-in default or the MSGFILE library's description of the
// failed lookup.
class KELCORE_API tCATMSG : public tMSG {
 public:
  // A message with `idString` and `severity` whose text is message `msgId`
  // of set `setId` in `catalog` (not owned; it must outlive the message).
  tCATMSG(tMSGCAT *catalog, unsigned int setId, unsigned int msgId, const char *idString,
          eSEVERITY severity);
  virtual ~tCATMSG();

  // tMSG's equality, and the other message is a catalog message of the same
  // catalog object, set and number.
  virtual int operator==(const tMSG &other) const;
  KELCORE_MSG_EQUALITY(tCATMSG)

  // The message's set number.
  unsigned int GetSetId() const;
  // The message's number within its set.
  unsigned int GetMsgId() const;
  // The catalog the message's text comes from (not owned).
  tMSGCAT *GetCatalog() const;

 protected:
  // The catalog's text as stored; else the class's default text; else a
  // built-in description of the failed lookup formatted with the catalog's
  // name, the set and the number. Computed once and kept (a default text is
  // returned, not kept). The thread's last error is the same afterwards.
  //
  // The built-in description is the MSGFILE module's text for this message's
  // own number when this is a MSGFILE module message; otherwise the text for
  // the MSGFILE message that the failed lookup itself recorded (so that the
  // text names the actual cause, for example "Message file not opened");
  // otherwise "Message catalog error (%0, set:%1, msg:%2)". An error that
  // was pending before the message was formatted plays no part.
  virtual const char *GetFormatStr();

 private:
  tCATMSG(const tCATMSG &);
  tCATMSG &operator=(const tCATMSG &);

  tMSGCAT *catalog_;
  char *format_;
  unsigned int set_id_;
  unsigned int msg_id_;
};

#endif  // KELCORE_MSGCAT_CATALOG_H
