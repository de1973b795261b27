// Internal to the library: how a change of a thread's last error reaches
// the log. The log lies on a higher floor than the threads, so the thread
// floor declares what it needs here and the log defines it
// (log/last_error_log.cpp): the include runs from the log down, and the
// threads never name the log.
#ifndef KELCORE_SYNC_LAST_ERROR_LOG_H
#define KELCORE_SYNC_LAST_ERROR_LOG_H

#include <iosfwd>

class tMSG;

namespace kelcore_internal {

// The log's stream word (tLOGMGR::pLogFile): non-null while logging is
// active. Constant-initialised, so it is valid before any constructor runs;
// tested before every change of a last error.
extern std::ostream *const *const kLogStream;

// Writes the record of a change of the calling thread's last error to `msg`
// (null: cleared) at level 0xC4 for the label "thread", when the log takes it.
void LogLastError(tMSG *msg);

}  // namespace kelcore_internal

#endif  // KELCORE_SYNC_LAST_ERROR_LOG_H
