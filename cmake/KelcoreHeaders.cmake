# The library's public headers, as installed and as named by the umbrella
# header: every kelcore/**/*.h except
#   - the platform layer, of which only kelcore/platform/export.h is public;
#   - headers whose opening comment says "Internal to the library": they
#     serve the library's own sources and are neither installed nor included
#     by kelcore/kelcore.h.
# Usable from project code and from cmake -P scripts.
function(kelcore_public_headers out_var source_dir)
  if(CMAKE_SCRIPT_MODE_FILE)
    file(GLOB_RECURSE headers RELATIVE ${source_dir} ${source_dir}/kelcore/*.h)
  else()
    file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${source_dir}
      ${source_dir}/kelcore/*.h)
  endif()
  set(public)
  foreach(header ${headers})
    if(header MATCHES "^kelcore/platform/" AND NOT header STREQUAL "kelcore/platform/export.h")
      continue()
    endif()
    file(READ ${source_dir}/${header} opening LIMIT 400)
    if(opening MATCHES "Internal to the library")
      continue()
    endif()
    list(APPEND public ${header})
  endforeach()
  list(SORT public)
  set(${out_var} ${public} PARENT_SCOPE)
endfunction()
