# Cross build for 64-bit Windows with mingw-w64, posix thread model (the
# thread model that gives std::thread and std::mutex), as Debian's
# g++-mingw-w64-x86-64 package installs it.
#
#   cmake --preset windows        (or -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake)
#
# Programs run under Wine's 64-bit loader through scripts/wine-run, which
# the top-level CMakeLists.txt installs as the cross-compiling emulator, so
# CTest runs the .exe test programs as if they were native.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KELCORE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KELCORE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELCORE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KELCORE_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KELCORE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained binaries: the compiler's runtime (libgcc, libstdc++ and
# winpthread) is linked in, so neither the programs nor kelcore.dll need the
# mingw runtime DLLs beside them, on a Windows machine or under Wine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
