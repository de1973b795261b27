# Cross build for 64-bit Windows with mingw-w64 (Debian's
# g++-mingw-w64-x86-64 package).
#
#   cmake --preset windows        (or -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake)
#
# Programs run under Wine's 64-bit loader through scripts/wine-run, which
# the top-level CMakeLists.txt installs as the cross-compiling emulator, so
# CTest runs the .exe test programs as if they were native.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KELCORE_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
