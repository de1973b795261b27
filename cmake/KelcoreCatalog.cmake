# kelcore_add_catalog(TARGET OUTPUT SOURCES...)
#
# Compiles message-catalog sources (kelmsgc's source format), in the order
# given, into the message file OUTPUT when TARGET is built. A relative
# OUTPUT names a file next to TARGET's executable, where tAPP::Run looks for
# the program's catalog; relative SOURCES are taken from the calling
# directory. The library's English texts are ${KELCORE_DATA_DIR}/kelcore.msg:
#
#   kelcore_add_catalog(myapp myapp.cat myapp.msg ${KELCORE_DATA_DIR}/kelcore.msg)
#
# The compiler is the executable target kelcore::kelmsgc: the installed one
# of the CMake package, or, inside libkelcore's own build, the one that build
# makes (for a cross build, one built for the build machine). Setting
# KELCORE_KELMSGC to a program's path uses that program instead.
#
# Installed with the CMake package, and included by libkelcore's own build.
include_guard(GLOBAL)

set(KELCORE_KELMSGC "" CACHE FILEPATH
  "kelmsgc to compile message catalogs with (empty: the target kelcore::kelmsgc)")

function(kelcore_add_catalog target output)
  set(sources ${ARGN})
  if(NOT TARGET ${target})
    message(FATAL_ERROR "kelcore_add_catalog: no target named '${target}'")
  endif()
  if(NOT sources)
    message(FATAL_ERROR "kelcore_add_catalog(${target} ${output}): no message sources given")
  endif()
  if(KELCORE_KELMSGC)
    set(compiler ${KELCORE_KELMSGC})
    set(compiler_depends ${KELCORE_KELMSGC})
  elseif(TARGET kelcore::kelmsgc)
    set(compiler kelcore::kelmsgc)
    set(compiler_depends kelcore::kelmsgc)
    get_target_property(built_by kelcore::kelmsgc KELCORE_BUILT_BY)
    if(built_by)
      list(APPEND compiler_depends ${built_by})
    endif()
  else()
    message(FATAL_ERROR "kelcore_add_catalog: no catalog compiler: the kelcore package was "
      "installed without its tools (kelmsgc); set KELCORE_KELMSGC to a kelmsgc program")
  endif()

  if(NOT IS_ABSOLUTE "${output}")
    get_target_property(out_dir ${target} RUNTIME_OUTPUT_DIRECTORY)
    if(NOT out_dir)
      get_target_property(out_dir ${target} BINARY_DIR)
    endif()
    set(output ${out_dir}/${output})
  endif()
  set(absolute_sources "")
  foreach(source IN LISTS sources)
    get_filename_component(source "${source}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND absolute_sources ${source})
  endforeach()
  get_filename_component(output_name ${output} NAME)
  get_filename_component(output_dir ${output} DIRECTORY)

  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${output_dir}
    COMMAND ${compiler} compile -o ${output} ${absolute_sources}
    DEPENDS ${absolute_sources} ${compiler_depends}
    COMMENT "Compiling message catalog ${output_name}"
    VERBATIM)
  # One custom target per output, named after the target and the file.
  string(MAKE_C_IDENTIFIER "${target}_${output_name}" catalog_target)
  add_custom_target(${catalog_target} ALL DEPENDS ${output})
  add_dependencies(${target} ${catalog_target})
endfunction()
