# cmake -DLIBRARY=<shared library> -DTOOL=<nm or objdump> -DWINDOWS=<bool>
#       -P check-exports.cmake
# The shared library must export the public API and nothing of the platform
# layer (namespace kelsys), of the library's internals (kelcore_internal) or
# of the tests (kelcore_test).
if(WINDOWS)
  # objdump -p lists the DLL's export table with mangled names.
  execute_process(COMMAND ${TOOL} -p ${LIBRARY}
    OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  string(FIND "${dump}" "[Ordinal/Name Pointer] Table" names_at)
  if(names_at EQUAL -1)
    set(dump "")
  else()
    string(SUBSTRING "${dump}" ${names_at} -1 dump)
  endif()
  string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" exports "${dump}")
else()
  execute_process(COMMAND ${TOOL} -D --defined-only ${LIBRARY}
    OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  string(REGEX MATCHALL "[0-9a-f]+ [TDBRVWiu] [^\n]+" exports "${dump}")
endif()
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${TOOL} failed on ${LIBRARY}")
endif()

set(leaked)
foreach(line ${exports})
  if(line MATCHES "kelsys|kelcore_internal|kelcore_test")
    list(APPEND leaked "${line}")
  endif()
endforeach()
list(LENGTH exports count)
if(count EQUAL 0)
  message(FATAL_ERROR "${LIBRARY} exports nothing: is KELCORE_API missing?")
endif()
if(leaked)
  string(REPLACE ";" "\n  " leaked_text "${leaked}")
  message(FATAL_ERROR "${LIBRARY} exports internal symbols:\n  ${leaked_text}")
endif()
message(STATUS "${LIBRARY}: ${count} exported symbols, none internal")
