# Runs filereport with its standard output sent to a file, as `filereport
# ... > out.txt` does, and checks that the file holds its console lines:
# console output must reach a redirected standard output on every system
# (on Windows the console call fails there and the text goes through the
# file interface instead).
#
#   cmake -DPROGRAM=... -DEMULATOR=... -DSOURCE=... -DOUT=... -P check-redirected.cmake
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${SOURCE}
  OUTPUT_FILE ${OUT} RESULT_VARIABLE status)
file(READ ${OUT} text)
get_filename_component(source_name ${SOURCE} NAME)
if(NOT status EQUAL 0 OR NOT text MATCHES "${source_name}: [0-9]+ bytes, [0-9]+ lines, modified "
   OR NOT text MATCHES "\nTotal: 1 files, [0-9]+ bytes\r?\n$")
  message(FATAL_ERROR "report: status ${status}, output:\n${text}")
endif()

# A missing file: the catalogued sentence goes to the same redirected
# output, with status 1.
execute_process(COMMAND ${EMULATOR} ${PROGRAM} no-such-file.txt
  OUTPUT_FILE ${OUT} RESULT_VARIABLE status)
file(READ ${OUT} text)
if(NOT status EQUAL 1 OR NOT text MATCHES "^Error: Cannot open no-such-file.txt: ")
  message(FATAL_ERROR "missing file: status ${status}, output:\n${text}")
endif()
