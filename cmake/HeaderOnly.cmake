# torvane_header_only(<var> <relative path> [<directory to copy>])
# Finds a header-only library of the build machine (SimpleIni, CLI11) and
# sets <var> to an include directory that holds it. A cross build cannot put
# the host's /usr/include on its include path (every Linux header would
# shadow the MinGW ones): the header, or the named directory of headers, is
# copied into a folder of its own in the build tree instead.
function(torvane_header_only var header)
  if(NOT CMAKE_CROSSCOMPILING)
    find_path(${var} ${header} REQUIRED)
    return()
  endif()
  find_path(_torvane_host_dir_${var} ${header} REQUIRED NO_CMAKE_FIND_ROOT_PATH)
  set(copy ${header})
  if(ARGC GREATER 2)
    set(copy ${ARGV2})
  endif()
  set(dest ${PROJECT_BINARY_DIR}/host-headers/${var})
  get_filename_component(parent ${dest}/${copy} DIRECTORY)
  file(COPY ${_torvane_host_dir_${var}}/${copy} DESTINATION ${parent})
  set(${var} ${dest} PARENT_SCOPE)
endfunction()
