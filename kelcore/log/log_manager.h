// The library's one, process-wide log and the gate every record goes
// through.
//
// A record is tagged with a class label (such as "os" or "thread") and a set
// of level bits. It is written only while logging is active (pLogFile is not
// null), when every one of its level bits is enabled in LevelMask and its
// label is accepted by pClassNames. The protocol, the same everywhere:
//
//   if (tLOGMGR::pLogFile && tLOGMGR::Begin("os", 0xC0)) {
//     *tLOGMGR::pLogFile << "the record's text" << '\n';
//     tLOGMGR::End();
//   }
//
// Begin takes the log's lock and keeps it only when it grants; a refused
// record writes nothing and does not call End. One process-wide flag
// (Processing) refuses a record that would start while another is being
// written, so formatting a record can never write a record of its own.
//
// Start, Stop and the destructor bracket the log's life with a start line,
// a level line and a stop line; in an application they belong to the run
// sequence (tSTDLOGFILE lives for the whole run). They, Suspend, Resume,
// SetStampFmt and SetSyncObj take no lock and are meant for times when one
// thread runs.
//
// The log file, one block per run:
//
//   >>>>>>>>>> Sat Dec  5 10:01:02 2026      start line (local time)
//   Logging level: 0x000000C4                level line
//   ...records, each optionally stamped...
//   <<<<<<<<<< Sat Dec  5 10:01:03 2026      stop line
#ifndef KELCORE_LOG_LOG_MANAGER_H
#define KELCORE_LOG_LOG_MANAGER_H

#include <iosfwd>

#include "kelcore/platform/export.h"

class tMSG;
class tPHYSYNCOBJ;

// The log's level bits.
class KELCORE_API tLOGDEFS {
 public:
  // Level bits, held in an unsigned int. A record asks for a set of bits; it
  // is written when all of them are enabled (a record asking for none is
  // written whenever logging is active).
  enum eLEVELS {
    eNONE = 0x00,          // error-list entries
    eAPP = 0x01,           // messages shown by the display operations ("app")
    eTRACE = 0x10,         // block-trace enter and leave lines
    eTRACE_SILENCE = 0x20, // block traces that silence nested traces
    eERRORS = 0xC0,        // error-list separators ("error"), file operations
                           // ("os", "cstream")
    eTHREAD = 0xC4,        // changes of a thread's last error ("thread")
    // Every bit (TRACELEVEL=-1). Also makes the type hold any 32-bit mask.
    eALL = 0xFFFFFFFFu
  };
};

// The process-wide log: where records go, which levels and class labels are enabled, and the
// block-trace formats. Every member is static; the object's destructor stops logging.
class KELCORE_API tLOGMGR {
 public:
  tLOGMGR();
  // Stops logging (stop line), frees the stamp and the block-trace formats,
  // destroys the lock object and resets each to null, and the class labels
  // too, so that a later Start works as the first did.
  virtual ~tLOGMGR();

  // Starts logging to `stream` (not owned) with the enabled level bits
  // `levels` and the accepted class labels `classNames` (not owned; null:
  // every label). Installs an in-process lock when the log has none (without
  // memory the log runs unserialised), loads the block-trace formats once,
  // then writes the start and level lines.
  static void Start(std::ostream &stream, unsigned int levels, const char *classNames);
  // When logging is active: writes the stop line, flushes the stream and
  // turns logging off.
  static void Stop();

  // The stream records go to; null means logging is off. Not owned.
  static std::ostream *pLogFile;
  // Enabled level bits.
  static unsigned int LevelMask;
  // The stream put aside by Suspend.
  static std::ostream *pStream;
  // Non-zero while a record is being written.
  static int Processing;
  // The lock that serialises records; owned. Null: records are not
  // serialised.
  static tPHYSYNCOBJ *pSyncObj;
  // Accepted class labels separated by ";"; not owned. Null or empty accepts
  // every label.
  static const char *pClassNames;
  // Time-stamp format written before each granted record (a message text:
  // %0 process id, %1 thread id, %2 year, %3 month, %4 day, %5 hour,
  // %6 minute, %7 second); owned. Null or empty: no stamp.
  static char *pStampStr;
  // Block-trace line formats (%0 the depth, %1 the block's text), loaded by
  // Start from the LOG catalog or its defaults; owned. Null before the
  // first Start: block traces then use the defaults.
  static char *pEnterStr;
  // The leave line's format, as pEnterStr.
  static char *pLeaveStr;

  // Asks to write one record with class label `label` (null: any) and level
  // bits `levels`. Non-zero: granted; write the text and a line end to
  // *pLogFile, then call End. Zero: refused; write nothing, do not call End.
  //
  // Every logged operation of the library asks, and most are refused by
  // their levels, so that refusal is decided here, in the caller, without
  // a call. It takes no lock when the log's lock is one of the library's
  // own classes (see SetSyncObj): taking and releasing it would change
  // nothing anybody can see. A lock of the program's own class is taken and
  // released as for every other record.
  KELCORE_INLINE_API static int Begin(const char *label, unsigned int levels) {
    if ((levels & LevelMask) != levels && pSyncObj == pQuietSyncObj) return 0;
    return Gate(label, levels);
  }
  // Finishes a granted record and releases the lock.
  static void End();
  // Non-zero when `label` is accepted: a null label, no class labels at all,
  // or a label that begins with one of the items of pClassNames (an empty
  // item, as in "os;;app" or "os;", accepts every label).
  static int Match(const char *label);

  // Puts the stream aside: logging is off until Resume.
  static void Suspend();
  // Makes the stream put aside by Suspend the log stream again, if there is
  // one.
  static void Resume();
  // Replaces the stamp format with a copy of `format` (null: no stamp). If
  // the copy cannot be allocated the log runs without a stamp.
  static void SetStampFmt(const char *format);
  // Destroys the current lock object and installs `sync`, which the log now
  // owns; null leaves the log without a lock.
  static void SetSyncObj(tPHYSYNCOBJ *sync);

 private:
  // Begin's work once the levels do not refuse the record by themselves.
  static int Gate(const char *label, unsigned int levels);
  // The lock installed by SetSyncObj when it is exactly one of the
  // library's lock classes (no lock at all included), which a refused
  // record need not take; otherwise a value pSyncObj never has.
  static tPHYSYNCOBJ *pQuietSyncObj;
  // Writes the stamp for the record just granted.
  static void WriteStamp();
  // Loads pEnterStr and pLeaveStr, once.
  static void LoadStrings();
  // The start line (`start` non-zero) or the stop line.
  static void WriteTimeStamp(int start);
  // The level line.
  static void WriteLevel();
  // Writes the formatted text of `line` (a LOG message) and a line end,
  // then disposes of it; the thread's last error reads the same afterwards.
  static void WriteLine(tMSG &line);
  static int StringsLoaded;
};

// The log object of an application's run: its destructor stops logging.
class KELCORE_API tSTDLOGFILE : public tLOGMGR {
 public:
  tSTDLOGFILE();
  ~tSTDLOGFILE();
};

#endif  // KELCORE_LOG_LOG_MANAGER_H
