// The operating-system calls and version texts, under the path they had
// before they moved to the lowest floor of the library (kelcore/system/):
// code that includes this header keeps building unchanged.
#ifndef KELCORE_APP_OS_CALLS_H
#define KELCORE_APP_OS_CALLS_H

#include "kelcore/system/os_calls.h"

#endif  // KELCORE_APP_OS_CALLS_H
