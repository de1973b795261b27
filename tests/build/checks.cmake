# Build checks, included from tests/CMakeLists.txt: things a user's compiler
# meets before any test runs.

include(${PROJECT_SOURCE_DIR}/cmake/KelcoreHeaders.cmake)
kelcore_public_headers(KELCORE_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR})

# The umbrella header compiles in a client translation unit under every
# language level an application may use: the public headers promise C++11.
foreach(std 11 17 20)
  set(check kelcore_umbrella_cxx${std})
  add_library(${check} OBJECT ${CMAKE_CURRENT_LIST_DIR}/umbrella_check.cpp)
  set_target_properties(${check} PROPERTIES CXX_STANDARD ${std} CXX_EXTENSIONS OFF)
  target_compile_options(${check} PRIVATE -Wall -Wextra -Werror)
  target_link_libraries(${check} PRIVATE kelcore)
endforeach()

# C++20 rewrites a == b into b == a as well; comparing messages of two
# different classes must stay unambiguous.
add_library(kelcore_compare_cxx20 OBJECT ${CMAKE_CURRENT_LIST_DIR}/compare_check.cpp)
set_target_properties(kelcore_compare_cxx20 PROPERTIES CXX_STANDARD 20 CXX_EXTENSIONS OFF)
target_compile_options(kelcore_compare_cxx20 PRIVATE -Wall -Wextra -Werror)
target_link_libraries(kelcore_compare_cxx20 PRIVATE kelcore)

# A client that compares messages and parameters of different classes and
# calls the 16-bit string overloads next to the C library's, built and run
# under each language level.
foreach(std 11 17 20)
  set(check kelcore_client_cxx${std})
  add_executable(${check} ${CMAKE_CURRENT_LIST_DIR}/client_check.cpp)
  set_target_properties(${check} PROPERTIES CXX_STANDARD ${std} CXX_EXTENSIONS OFF)
  target_include_directories(${check} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(${check} PRIVATE -Wall -Wextra -Werror)
  target_link_libraries(${check} PRIVATE kelcore)
  if(WIN32)
    target_link_options(${check} PRIVATE -static-libgcc -static-libstdc++)
  endif()
  add_test(NAME client_cxx${std} COMMAND ${check})
  set_tests_properties(client_cxx${std} PROPERTIES TIMEOUT 60 LABELS "build")
endforeach()

if(NOT CMAKE_CROSSCOMPILING AND KELCORE_SANITIZE STREQUAL "")
  # Each public header compiles on its own, first in its translation unit.
  set(self_contained_srcs)
  foreach(header ${KELCORE_PUBLIC_HEADERS})
    string(REGEX REPLACE "[/.]" "_" stem ${header})
    set(src ${CMAKE_CURRENT_BINARY_DIR}/self_contained/${stem}.cpp)
    file(CONFIGURE OUTPUT ${src} CONTENT "#include \"${header}\"\n" @ONLY)
    list(APPEND self_contained_srcs ${src})
  endforeach()
  add_library(kelcore_self_contained_headers OBJECT ${self_contained_srcs})
  set_target_properties(kelcore_self_contained_headers PROPERTIES
    CXX_STANDARD 11 CXX_EXTENSIONS OFF)
  target_compile_options(kelcore_self_contained_headers PRIVATE -Wall -Wextra -Werror)
  target_link_libraries(kelcore_self_contained_headers PRIVATE kelcore)

  # The other compiler of this system, where there is one, also takes the
  # umbrella header at every language level.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    find_program(KELCORE_OTHER_CXX NAMES clang++)
  else()
    find_program(KELCORE_OTHER_CXX NAMES g++)
  endif()
  if(KELCORE_OTHER_CXX)
    add_test(NAME umbrella_other_compiler
      COMMAND ${CMAKE_COMMAND} -DCOMPILER=${KELCORE_OTHER_CXX} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
              -DSOURCE=${CMAKE_CURRENT_LIST_DIR}/umbrella_check.cpp -DSTANDARDS=11,17,20
              -P ${PROJECT_SOURCE_DIR}/cmake/check-header-compiler.cmake)
    set_tests_properties(umbrella_other_compiler PROPERTIES TIMEOUT 120 LABELS "build")
  endif()

  # The umbrella header names every public header.
  add_test(NAME umbrella
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
            -P ${PROJECT_SOURCE_DIR}/cmake/check-umbrella.cmake)
  set_tests_properties(umbrella PROPERTIES TIMEOUT 60 LABELS "build")

  # Install into a scratch prefix and build the consumer project against it,
  # through the CMake package and through pkg-config.
  add_test(NAME install
    COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/install-test ${CMAKE_BINARY_DIR}
            ${CMAKE_BINARY_DIR}/install-test)
  set_tests_properties(install PROPERTIES TIMEOUT 600 LABELS "build;install"
    ENVIRONMENT "CXX=${CMAKE_CXX_COMPILER}")
endif()

# The shared library exports the public API and nothing of the platform
# layer.
if(KELCORE_SHARED)
  set(kelcore_dll_target kelcore)
elseif(TARGET kelcore_shared)
  set(kelcore_dll_target kelcore_shared)
endif()
if(kelcore_dll_target AND KELCORE_SANITIZE STREQUAL "")
  if(WIN32)
    set(dump_tool ${CMAKE_OBJDUMP})
  else()
    set(dump_tool ${CMAKE_NM})
  endif()
  add_test(NAME exports
    COMMAND ${CMAKE_COMMAND} -DLIBRARY=$<TARGET_FILE:${kelcore_dll_target}>
            -DTOOL=${dump_tool} -DWINDOWS=${WIN32}
            -P ${PROJECT_SOURCE_DIR}/cmake/check-exports.cmake)
  set_tests_properties(exports PROPERTIES TIMEOUT 60 LABELS "build")
endif()

# A static test build also runs the consumer program against the shared
# library (kelcore.dll on Windows), so the DLL's exports are exercised.
if(TARGET kelcore_shared)
  file(GLOB consumer_srcs ${PROJECT_SOURCE_DIR}/tests/consumer/*.cpp)
  add_executable(kelcore_shared_consumer ${consumer_srcs})
  target_link_libraries(kelcore_shared_consumer PRIVATE kelcore_shared)
  add_test(NAME shared_consumer COMMAND kelcore_shared_consumer)
  set_tests_properties(shared_consumer PROPERTIES TIMEOUT 120 LABELS "build")
endif()
