#include "kelcore/log/block_trace.h"

#include <new>
#include <ostream>

#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/log/log_manager.h"
#include "kelcore/log/preloaded.h"
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

}  // namespace

void tBTRACE::Begin(tMSG *msg, const char *text, unsigned int levels) {
  const unsigned int requested = levels | tLOGDEFS::eTRACE;
  // A trace refused by its levels that silences nothing changes no state:
  // it is refused here, before the thread's object and the lock, so that a
  // disabled trace costs a few loads.
  const bool enabled = (requested & tLOGMGR::LevelMask) == requested;
  if (!enabled && (requested & tLOGDEFS::eTRACE_SILENCE) == 0) return;
  if (tTHREAD::GetThreadObj() == nullptr) return;

  LogLock hold;
  if (tLOGMGR::Processing != 0) return;
  TraceState *state = static_cast<TraceState *>(g_trace_slot.GetPtr());
  if (state == nullptr || state->suppressed != 0) return;
  if (!enabled) {
    state->suppressed = 1;
    state->suppressor = this;
    active_ = kSILENCING;
    return;
  }
  depth_ = ++state->depth;
  if (msg == nullptr) {
    msg = new (std::nothrow) tTRACEMSG("%0");
    if (msg != nullptr) *msg << text;
  }
  msg_ = msg;
  state->suppressed = 1;
  state->suppressor = nullptr;
  Trace(tLOGMGR::pEnterStr, kellog::eTRACE_ENTER);
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
  LogLock hold;
  if (state != nullptr) state->suppressed = 1;
  Trace(tLOGMGR::pLeaveStr, kellog::eTRACE_LEAVE);
  tMSG::Dispose(msg_);
  msg_ = nullptr;
  if (state != nullptr) {
    state->suppressed = 0;
    --state->depth;
  }
}

void tBTRACE::Trace(const char *format, unsigned int msgId) {
  if (msg_ == nullptr) return;
  // Before the log's first Start the formats are not loaded yet.
  if (format == nullptr) format = kellog::DefaultText(msgId);
  tMSGSTR line(format, kelcore_internal::kPreloadedLoggingId, tMSG::eINFORMATION);
  line << depth_ << *msg_;
  *tLOGMGR::pLogFile << line.Format() << '\n';
}
