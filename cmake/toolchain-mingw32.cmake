# Cross build for 32-bit Windows with mingw-w64 (Debian's
# g++-mingw-w64-i686 package): the system where `long` and `int` are one
# size and pointers have 32 bits.
#
#   cmake --preset windows-i686   (or -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake)
#
# Compiled and linked only: running the programs would take Wine's 32-bit
# loader, which cannot be installed on the development and CI machines.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KELCORE_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
