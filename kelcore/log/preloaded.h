// Internal to the library (not exported): the id string shared by the
// messages the log builds for itself (stamps, block-trace lines). Message
// ids compare by address, so there is exactly one such object.
#ifndef KELCORE_LOG_PRELOADED_H
#define KELCORE_LOG_PRELOADED_H

namespace kelcore_internal {

extern const char kPreloadedLoggingId[];  // "Pre-loaded logging messages"

}  // namespace kelcore_internal

#endif  // KELCORE_LOG_PRELOADED_H
