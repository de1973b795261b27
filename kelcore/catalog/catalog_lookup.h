// The extension point through which catalog handles reach message files.
//
// A tMSGCAT does not know message files itself: its text requests go to the
// installed lookup. The message-file registry installs one when the first
// message file is registered; while none is installed no message file
// exists, and every request records "Message file not opened" (MSGFILE
// set-0 message 3) and fails with 0xFFFFFFFF. Applications have no use for
// this header; it is public so that tests can stand in for message files.
//
// Install and the handle's requests must not run concurrently: message files
// are created at start-up, before other threads look texts up.
#ifndef KELCORE_CATALOG_CATALOG_LOOKUP_H
#define KELCORE_CATALOG_CATALOG_LOOKUP_H

#include "kelcore/catalog/catalog.h"
#include "kelcore/platform/export.h"

class KELCORE_API tMSGCAT_LOOKUP {
 public:
  virtual ~tMSGCAT_LOOKUP();

  // tMSGCAT::GetMsg, GetNextSetId and GetNextMsgId, with the same results
  // and last errors. The lookup locates an unbound catalog first.
  virtual unsigned int GetMsg(tMSGCAT &cat, unsigned int setId, unsigned int msgId,
                              char **text) = 0;
  virtual unsigned int GetNextSetId(tMSGCAT &cat, unsigned int setId,
                                    unsigned int *nextSetId) = 0;
  virtual unsigned int GetNextMsgId(tMSGCAT &cat, unsigned int setId, unsigned int msgId,
                                    unsigned int *nextMsgId) = 0;
  // Appends the name of the message file that `cat` is bound to (a
  // tPARM_FILENAME) to `msg`. Called only for a bound catalog.
  virtual void AddFileName(const tMSGCAT &cat, tMSG &msg) = 0;

  // Makes `lookup` (not owned; null: none) the process's lookup and
  // returns the previous one.
  static tMSGCAT_LOOKUP *Install(tMSGCAT_LOOKUP *lookup);
  static tMSGCAT_LOOKUP *Installed();

 protected:
  typedef tMSGCAT::tHEADER tHEADER;
  typedef tMSGCAT::tINDEX tINDEX;
  typedef tMSGCAT::tLOOKUP_STATE tSTATE;
  enum { cWINDOW = tMSGCAT::cWINDOW };

  // The handle's lookup state: the file it is bound to, the catalog start,
  // the header and the current set's index window.
  static tSTATE &State(tMSGCAT &cat);
  static const tSTATE &State(const tMSGCAT &cat);
  // The catalog context that the handle's errors start with.
  static tMSG &AddErrorContext(const tMSGCAT &cat, tMSG *msg);
};

#endif  // KELCORE_CATALOG_CATALOG_LOOKUP_H
