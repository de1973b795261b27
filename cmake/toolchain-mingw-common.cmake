# Shared by the mingw-w64 toolchain files, which set CMAKE_SYSTEM_PROCESSOR
# and KELCORE_MINGW_TRIPLET before including it: the posix thread model
# compilers (the thread model that gives std::thread and std::mutex), as
# Debian's g++-mingw-w64-* packages install them.
set(CMAKE_SYSTEM_NAME Windows)

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
