// Standard input and output carry message files, which are binary: where
// the C runtime translates line ends (Windows), both are switched to binary
// mode. One implementation per system, chosen by the build
// (stdio_mode_posix.cpp, stdio_mode_windows.cpp).
#ifndef KELCORE_TOOLS_KELMSGC_STDIO_MODE_H
#define KELCORE_TOOLS_KELMSGC_STDIO_MODE_H

namespace kelmsgc {

void BinaryStdio();

}  // namespace kelmsgc

#endif  // KELCORE_TOOLS_KELMSGC_STDIO_MODE_H
