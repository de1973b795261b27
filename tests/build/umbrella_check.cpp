// Compiled as C++11, C++17 and C++20 with warnings as errors: the umbrella
// header must serve an application at any of these language levels.
#include "kelcore/kelcore.h"

int kelcore_umbrella_check_anchor() { return 0; }
