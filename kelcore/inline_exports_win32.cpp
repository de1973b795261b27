// Windows only (a name ending in _win32.cpp, kelcore/CMakeLists.txt), and
// at the top of the library because it includes headers of several floors.
//
// The DLL's copies of the inline members that the library exports
// (KELCORE_INLINE_API, platform/export.h): tLOGMGR::Begin and
// tDATE::AddDays became inline fast paths, and programs linked against
// the DLL before that still import them by name.
//
// The build compiles the library with -fno-keep-inline-dllexport (hidden
// inline functions), which drops an inline function's copy even when it is
// marked for export; this file alone is compiled with
// -fkeep-inline-dllexport (kelcore/CMakeLists.txt), so the DLL keeps and
// exports the inline members of the classes whose headers it includes.
#include "kelcore/log/log_manager.h"
#include "kelcore/time/datetime.h"
