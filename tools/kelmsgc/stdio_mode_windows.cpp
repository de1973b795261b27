#include "tools/kelmsgc/stdio_mode.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace kelmsgc {

void BinaryStdio() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace kelmsgc
