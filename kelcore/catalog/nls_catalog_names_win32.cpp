// The catalog functions under their X/Open names, which nothing else in a
// Windows program claims (catalog/nls_catalog.h). Built for Windows only
// (a name ending in _win32.cpp, kelcore/CMakeLists.txt): on POSIX systems
// the C library owns these names.
#include "kelcore/catalog/nls_catalog.h"

int catopen(char const *fileName, int flag) { return kelcore_catopen(fileName, flag); }

char *catgets(int fd, int setId, int msgId, char const *defaultText) {
  return kelcore_catgets(fd, setId, msgId, defaultText);
}

int catclose(int fd) { return kelcore_catclose(fd); }
