// Every installed public header, seen from outside the source tree: catches a
// header that is not installed or that needs the library's private ones.
#include "kelcore/kelcore.h"
