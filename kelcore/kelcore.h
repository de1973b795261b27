// libkelcore: every public header in one include.
//
// Applications may include this header or the individual headers it names;
// either way the headers compile as C++11 and later and bring in no system
// header of any platform.
#ifndef KELCORE_KELCORE_H
#define KELCORE_KELCORE_H

#include "kelcore/msg/message.h"
#include "kelcore/msg/parameter.h"
#include "kelcore/platform/export.h"
#include "kelcore/sync/lock.h"

#endif  // KELCORE_KELCORE_H
