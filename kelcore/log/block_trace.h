// Block traces: an entry line when a scope starts and an exit line when it
// ends, with the nesting depth of block traces in the calling thread.
//
//   void Copy(const char *from) {
//     tBTRACE trace(from, 0x01);   // "Enter:1:a.txt" ... "Leave:1:a.txt"
//     ...
//   }
//
// A trace is active when logging is on, the calling thread has a thread
// object, no record is being written and every requested bit (the caller's
// levels with the block-trace bit 0x10 added) is enabled in the log's level
// mask. An inactive trace whose levels include 0x20 silences every trace
// that starts in its thread before it ends. The line formats are the LOG
// catalog's ("Enter:%0:%1" and "Leave:%0:%1" by default, %0 the depth, %1
// the block's text). Trace lines carry no stamp and pass no class-label
// test. Traces of one thread must nest (declare them on the stack).
#ifndef KELCORE_LOG_BLOCK_TRACE_H
#define KELCORE_LOG_BLOCK_TRACE_H

#include "kelcore/log/log_manager.h"
#include "kelcore/platform/export.h"

class tMSG;

// A block trace: the entry line on construction and the exit line on destruction (see the file
// comment). Never fails and never changes the thread's last error.
class KELCORE_API tBTRACE {
 public:
  // Traces the block under `msg`'s formatted text. An active trace takes the
  // message over and disposes of it at its end, so it must be disposable
  // (allocated with new, or static); an inactive one leaves it to the
  // caller, who cannot tell which happened: prefer the text form.
  // Inline, like the destructor, so that a trace while there is no log, or
  // one that its levels refuse, costs a few tests and no call.
  tBTRACE(tMSG &msg, unsigned int levels) : msg_(nullptr), active_(0), depth_(0) {
    if (tLOGMGR::pLogFile != nullptr && Wanted(levels)) Begin(&msg, nullptr, levels);
  }
  // Traces the block under `text` (copied when the trace is active).
  tBTRACE(const char *text, unsigned int levels) : msg_(nullptr), active_(0), depth_(0) {
    if (tLOGMGR::pLogFile != nullptr && Wanted(levels)) Begin(nullptr, text, levels);
  }
  ~tBTRACE() {
    if (active_ != 0) End();
  }

 private:
  tBTRACE(const tBTRACE &);
  tBTRACE &operator=(const tBTRACE &);

  // Whether a trace with `levels` can start (every requested bit enabled)
  // or silence the traces within it (0x20); any other is refused at once
  // and changes nothing.
  static int Wanted(unsigned int levels) {
    const unsigned int requested = levels | tLOGDEFS::eTRACE;
    return (requested & tLOGMGR::LevelMask) == requested ||
           (requested & tLOGDEFS::eTRACE_SILENCE) != 0;
  }
  // The constructor's and the destructor's work once logging is on.
  void Begin(tMSG *msg, const char *text, unsigned int levels);
  void End();
  // Writes one line in `format` (null: the default format `msgId`).
  void Trace(const char *format, unsigned int msgId);

  // The values of active_ besides 0: wrote its entry line and will write
  // its exit line; silences the traces within it until it ends.
  enum { kACTIVE = 1, kSILENCING = 2 };

  tMSG *msg_;            // names the block; owned while active
  int active_;           // 0, kACTIVE or kSILENCING
  unsigned int depth_;   // its nesting depth in the thread
};

#endif  // KELCORE_LOG_BLOCK_TRACE_H
