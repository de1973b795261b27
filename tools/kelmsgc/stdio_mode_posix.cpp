#include "tools/kelmsgc/stdio_mode.h"

namespace kelmsgc {

// POSIX streams make no difference between text and binary.
void BinaryStdio() {}

}  // namespace kelmsgc
