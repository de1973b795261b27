# cmake -DCOMPILER=<c++ compiler> -DSOURCE_DIR=<repo> -DSOURCE=<file.cpp>
#       -DSTANDARDS=11,17,20 -P check-header-compiler.cmake
# Compiles SOURCE (syntax only) with another compiler than the build's, at
# each language level, with warnings as errors: the public headers must
# serve applications built with any of the compilers the library supports.
string(REPLACE "," ";" standards "${STANDARDS}")
foreach(std ${standards})
  execute_process(
    COMMAND ${COMPILER} -std=c++${std} -Wall -Wextra -Werror -fsyntax-only
            -I${SOURCE_DIR} ${SOURCE}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${COMPILER} -std=c++${std} ${SOURCE}:\n${out}")
  endif()
  message(STATUS "${COMPILER} -std=c++${std}: ok")
endforeach()
