#include "kelcore/log/block_trace.h"

#include <cstring>
#include <new>
#include <ostream>

#include "kelcore/msgcat/module_catalogs.h"
#include "kelcore/log/log_manager.h"
#include "kelcore/log/preloaded.h"
#include "kelcore/msg/format_into.h"
#include "kelcore/msg/message.h"
#include "kelcore/sync/lock.h"
#include "kelcore/sync/thread.h"

namespace {

// Each thread's block-trace state.
struct TraceState {
  // While non-zero no block trace of the thread starts: set while a trace
  // writes its own line (so that traces its message's formatting may start
  // stay silent) and by an inactive trace with 0x20 until it ends.
  int suppressed;
  unsigned int depth;      // active traces of the thread
  tBTRACE *suppressor;     // the inactive trace that set `suppressed`
};

// Storage blocks start zero-filled, which is the state of a thread that has
// traced nothing.
tTLSDEF g_trace_slot(sizeof(TraceState), nullptr, nullptr);

// Holds the log's lock, if it has one, for a scope.
class LogLock {
 public:
  LogLock() : sync_(tLOGMGR::pSyncObj) {
    if (sync_ != nullptr) sync_->LockObject();
  }
  ~LogLock() {
    if (sync_ != nullptr) sync_->UnlockObject();
  }

 private:
  tPHYSYNCOBJ *sync_;
};

// The trace message's text as the %1 of a trace line, shown as a borrowed
// message parameter (tPARM_MSG) shows its message: cut to 1023 characters,
// spec ignored. The text is formatted before the log's lock is taken.
class tFORMATTED_TEXT : public tPARAMETER {
 public:
  explicit tFORMATTED_TEXT(const char *text) : text_(text) {}
  void Format(char *buf, const char *) const {
    std::size_t n = std::strlen(text_);
    if (n > 1023) n = 1023;
    std::memcpy(buf, text_, n);
    buf[n] = 0;
  }

 private:
  const char *text_;
};

// The line of a format whose placeholders carry no spec (the default
// formats' case), expanded exactly as a message with the parameters %0
// the depth ("%u") and %1 the text would be, but without a call per piece:
// into `line` (1024 bytes), cut at 1023 characters. Returns its length, or
// kSPEC (nothing decided) when the format holds a spec.
const std::size_t kSPEC = ~static_cast<std::size_t>(0);
const std::size_t kROOM = 1023;

std::size_t PlainLine(char *line, const char *format, unsigned int depth, const char *text) {
  std::size_t pos = 0;
  for (const char *p = format;;) {
    char c = *p;
    if (c == 0) break;
    if (c == '%') {
      c = p[1];
      if (c == 0) break;  // a trailing '%' ends the text
      p += 2;
      if (c >= '0' && c <= '9') {
        if (*p == '\'') return kSPEC;
        char digits[16];
        const char *piece = "NULL";
        std::size_t length = 4;
        if (c == '0') {
          std::size_t n = sizeof digits;
          unsigned int value = depth;
          do {
            digits[--n] = static_cast<char>('0' + value % 10);
            value /= 10;
          } while (value != 0);
          piece = digits + n;
          length = sizeof digits - n;
        } else if (c == '1') {
          piece = text;
          length = std::strlen(text);
        }
        if (length > kROOM - pos) length = kROOM - pos;
        std::memcpy(line + pos, piece, length);
        pos += length;
        continue;
      }
    } else {
      ++p;
    }
    if (pos < kROOM) line[pos++] = c;
  }
  line[pos] = 0;
  return pos;
}

// Writes one trace line: `format` (null: the LOG catalog's default text
// `msgId`, before the log's first Start) with %0 the depth and %1 `text`.
// Built on the stack, as the message of the described line format would
// be, and written with one call: trace lines are the log's busiest.
void WriteTraceLine(const char *format, unsigned int msgId, unsigned int depth,
                    const char *text) {
  if (format == nullptr) format = kellog::DefaultText(msgId);
  char line[kelcore_internal::kFormatWorkSize];
  std::size_t length = PlainLine(line, format, depth, text);
  if (length == kSPEC) {
    const tPARM_UINT depth_parm(depth);
    const tFORMATTED_TEXT text_parm(text);
    const tPARAMETER *parms[2] = {&depth_parm, &text_parm};
    length = kelcore_internal::FormatInto(line, format, parms, 2);
  }
  std::ostream &log = *tLOGMGR::pLogFile;
  if (log.width() == 0) {
    line[length] = '\n';
    log.write(line, static_cast<std::streamsize>(length + 1));
  } else {
    log << line << '\n';  // the stream pads the text, as it always did
  }
}

}  // namespace

// Lock order: a message's text may come from a catalog, read under its
// message file's lock, and a reader of that file holds that lock while it
// waits for the log's lock to record a read. So nothing is formatted under
// the log's lock: the trace message is formatted first, and the lines are
// built from that text. The log's lock is the last one taken.
void tBTRACE::Begin(tMSG *msg, const char *text, unsigned int levels) {
  const unsigned int requested = levels | tLOGDEFS::eTRACE;
  // A trace refused by its levels that silences nothing changes no state
  // (the inline constructor refuses it already; old callers still come).
  const bool enabled = (requested & tLOGMGR::LevelMask) == requested;
  if (!enabled && (requested & tLOGDEFS::eTRACE_SILENCE) == 0) return;
  if (tTHREAD::GetThreadObj() == nullptr) return;
  // The thread's own state: no other thread touches it.
  TraceState *state = static_cast<TraceState *>(g_trace_slot.GetPtr());
  if (state == nullptr || state->suppressed != 0) return;
  if (!enabled) {
    LogLock hold;
    if (tLOGMGR::Processing != 0) return;
    state->suppressed = 1;
    state->suppressor = this;
    active_ = kSILENCING;
    return;
  }
  const char *line_text = nullptr;
  if (msg != nullptr) {
    // A record of this thread in progress refuses the trace before its
    // message is formatted: formatting may look the text up, and this
    // thread holds the log's lock while its record is written.
    {
      LogLock hold;
      if (tLOGMGR::Processing != 0) return;
    }
    state->suppressed = 1;  // traces the formatting starts stay silent
    line_text = msg->Format();
    state->suppressed = 0;
  }

  LogLock hold;
  if (tLOGMGR::Processing != 0) return;
  depth_ = ++state->depth;
  if (msg == nullptr) {
    msg = new (std::nothrow) tTRACEMSG("%0");
    // A literal format and a text: formatting it looks nothing up.
    if (msg != nullptr) line_text = (*msg << text).Format();
  }
  msg_ = msg;
  state->suppressed = 1;
  state->suppressor = nullptr;
  if (msg_ != nullptr) WriteTraceLine(tLOGMGR::pEnterStr, kellog::eTRACE_ENTER, depth_, line_text);
  state->suppressed = 0;
  active_ = kACTIVE;
}

void tBTRACE::End() {
  if (active_ == kSILENCING) {
    // Lifted even when logging stopped meanwhile: a thread whose traces
    // stayed silenced for good would log nothing after a new Start.
    if (tTHREAD::GetThreadObj() == nullptr) return;
    TraceState *state = static_cast<TraceState *>(g_trace_slot.GetPtr());
    if (state != nullptr && state->suppressed != 0 && state->suppressor == this) {
      state->suppressed = 0;
      state->suppressor = nullptr;
    }
    return;
  }
  if (tLOGMGR::pLogFile == nullptr || tTHREAD::GetThreadObj() == nullptr) {
    // Logging stopped inside the block: no exit line, and the depth stays
    // as it was. The message is the trace's own, so it goes all the same.
    tMSG::Dispose(msg_);
    return;
  }
  TraceState *state = static_cast<TraceState *>(g_trace_slot.GetPtr());
  if (state != nullptr) state->suppressed = 1;
  // Kept since the entry line: no lookup, and none under the lock below.
  const char *line_text = msg_ != nullptr ? msg_->Format() : nullptr;
  {
    LogLock hold;
    if (msg_ != nullptr) WriteTraceLine(tLOGMGR::pLeaveStr, kellog::eTRACE_LEAVE, depth_, line_text);
  }
  tMSG::Dispose(msg_);
  msg_ = nullptr;
  if (state != nullptr) {
    state->suppressed = 0;
    --state->depth;
  }
}

// No longer called: trace lines are written from text formatted before the
// log's lock is taken (see Begin). Kept so that the library exports what it
// exported before.
void tBTRACE::Trace(const char *format, unsigned int msgId) {
  if (msg_ == nullptr) return;
  const char *text = msg_->Format();
  WriteTraceLine(format, msgId, depth_, text);
}
