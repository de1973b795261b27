// The log's side of the last-error record (sync/last_error_log.h).
#include "kelcore/sync/last_error_log.h"

#include <ostream>

#include "kelcore/log/log_manager.h"
#include "kelcore/msg/message.h"

std::ostream *const *const kelcore_internal::kLogStream = &tLOGMGR::pLogFile;

// Called out of line, from another file, away from the common case (no log).
void kelcore_internal::LogLastError(tMSG *msg) {
  // Formatted before the log's lock is taken: formatting may look the
  // text up in a message file, under that file's lock, and a reader of
  // the file may be waiting for the log's lock to trace a seek.
  const char *text = msg != nullptr ? msg->Format() : nullptr;
  if (tLOGMGR::Begin("thread", 0xC4)) {
    std::ostream &log = *tLOGMGR::pLogFile;
    if (text == nullptr) {
      log << "SetLastError(NULL)\n";
    } else {
      log << "SetLastError(\"" << text << "\")\n";
    }
    tLOGMGR::End();
  }
}
