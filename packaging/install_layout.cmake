# Install-time part of the layout, run by `cmake --install` and by CPack
# after the files of packaging/CMakeLists.txt are in place:
#  - the settings file goes to <sysconf>/torvane/Torvane.ini (/etc/torvane
#    for the prefixes /usr and /, else <prefix>/etc/torvane), and a symbolic
#    link beside the executables points at it, because the tools look for it
#    in the directory of their real executable;
#  - a symbolic link in <prefix>/<bindir> for each program, so that the
#    programs are on PATH while /proc/self/exe still names the real file.
# The caller sets TORVANE_DEFAULT_INI (the file to install), TORVANE_APPDIR
# and TORVANE_BINDIR (relative to the prefix) and TORVANE_PROGRAMS.
# An existing settings file is kept: it may hold an administrator's edits.

set(prefix "${CMAKE_INSTALL_PREFIX}")
if(prefix STREQUAL "/usr" OR prefix STREQUAL "/")
  set(sysconf_dir "/etc/torvane")
else()
  set(sysconf_dir "${prefix}/etc/torvane")
endif()
string(REGEX REPLACE "^//" "/" app_dir "${prefix}/${TORVANE_APPDIR}")
string(REGEX REPLACE "^//" "/" bin_dir "${prefix}/${TORVANE_BINDIR}")
set(destdir "$ENV{DESTDIR}")

# Links a file in `link_dir` named `name` to `target` (an absolute path
# without DESTDIR). As Debian wants it, a link stays relative inside one
# top-level directory (/usr/bin -> /usr/lib, or anywhere inside a private
# prefix, which keeps that tree relocatable) and is absolute across them
# (/usr/lib -> /etc).
function(torvane_link target link_dir name)
  string(REGEX MATCH "^/[^/]*" link_top "${link_dir}")
  string(REGEX MATCH "^/[^/]*" target_top "${target}")
  if(link_top STREQUAL target_top)
    file(RELATIVE_PATH link_text "${link_dir}" "${target}")
  else()
    set(link_text "${target}")
  endif()
  set(link "${destdir}${link_dir}/${name}")
  file(MAKE_DIRECTORY "${destdir}${link_dir}")
  message(STATUS "Installing: ${link} -> ${link_text}")
  file(CREATE_LINK "${link_text}" "${link}" SYMBOLIC RESULT result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot create the link ${link}: ${result}")
  endif()
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${link}")
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

set(ini "${sysconf_dir}/Torvane.ini")
if(EXISTS "${destdir}${ini}" AND NOT IS_SYMLINK "${destdir}${ini}")
  message(STATUS "Keeping the existing settings file: ${destdir}${ini}")
else()
  file(INSTALL DESTINATION "${sysconf_dir}" TYPE FILE PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
       FILES "${TORVANE_DEFAULT_INI}")
endif()
torvane_link("${ini}" "${app_dir}" "Torvane.ini")

foreach(program IN LISTS TORVANE_PROGRAMS)
  torvane_link("${app_dir}/${program}" "${bin_dir}" "${program}")
endforeach()
