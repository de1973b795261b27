// Collecting errors: a list of messages that a program can gather and log,
// and a guard that keeps a block of work from disturbing the thread's
// current error.
#ifndef KELCORE_ERROR_ERROR_LIST_H
#define KELCORE_ERROR_ERROR_LIST_H

#include "kelcore/platform/export.h"

class tMSG;

// A list of messages in order of addition; it owns them. Nothing in the
// library builds one: it is for a program that gathers several errors, for
// example the last error of each operation of a batch:
//
//   tERROR_LIST errors;
//   for (...) {
//     if (Step() != 0) errors.Add(*tTHREAD::TakeOwnershipOfLastError());
//   }
//   errors.Log();
//
// Not copyable; not for use by two threads at once.
class KELCORE_API tERROR_LIST {
 public:
  tERROR_LIST();
  // Disposes of every message (Reset(0)).
  ~tERROR_LIST();

  // Appends `msg`, which the list now owns: a message allocated with new,
  // or a static one such as tERRMSG::OutOfMemory. Without memory for the
  // list's node the message is not added and stays with the caller; a null
  // reference is ignored.
  void Add(tMSG &msg);

  // The first or last message, kept by the list; null when empty.
  tMSG *PeekFirst() const;
  // The last message, kept by the list; null when empty.
  tMSG *PeekLast() const;
  // Unlinks the first or last message and hands it to the caller; null when
  // empty.
  tMSG *RemoveFirst();
  // Unlinks the last message and hands it to the caller; null when empty.
  tMSG *RemoveLast();

  // Disposes of messages from the end until `keep` is the last one. With
  // null, or a message that is not in the list, the list ends up empty.
  void Reset(tMSG *keep);

  // Writes the list to the log, when a log is active: one record per
  // message (its formatted text, with no class label and no level bits), and
  // with two or more messages a "----------" line before and after them
  // (class label "error", levels 0xC0).
  void Log();

 private:
  tERROR_LIST(const tERROR_LIST &);
  tERROR_LIST &operator=(const tERROR_LIST &);

  struct tNODE {
    tNODE *prev;
    tNODE *next;
    tMSG *msg;
  };
  tNODE *first_;
  tNODE *last_;
};

// Keeps the calling thread's current error out of a block of work:
//
//   {
//     tLOCAL_ERRORS guard;        // the current error is put aside
//     TryOptionalStep();          // may fail and set an error of its own
//   }                             // that error is dropped, the old one is back
//
// Guards nest; each gives back what it found. A guard must end on the
// thread that built it.
class KELCORE_API tLOCAL_ERRORS {
 public:
  // Takes the thread's last error (which may be none) into safekeeping.
  tLOCAL_ERRORS();
  // Makes the kept error the thread's last error again, disposing of any
  // error set in the meantime.
  ~tLOCAL_ERRORS();

 private:
  tLOCAL_ERRORS(const tLOCAL_ERRORS &);
  tLOCAL_ERRORS &operator=(const tLOCAL_ERRORS &);

  tMSG *saved_;
};

#endif  // KELCORE_ERROR_ERROR_LIST_H
