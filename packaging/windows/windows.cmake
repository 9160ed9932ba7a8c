# Windows layout: everything in one folder, as the programs look for their
# settings and boot update files beside the executable.
#
#   <folder>/torvane-cli.exe, Torvane.ini, the boot update files
#   <folder>/samples/app.bin
#
# cpack -G ZIP in the build folder makes the zip; scripts/package-windows.sh
# makes it and the NSIS installer (packaging/windows/torvane.nsi) from the
# same installed folder.
foreach(target torvane torvane-cli)
  if(TARGET ${target})
    install(TARGETS ${target} RUNTIME DESTINATION .)
  endif()
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/samples/burn_boot_0.3.0.0.bin ${PROJECT_SOURCE_DIR}/samples/head_1.0_2016_04_22.bin
        DESTINATION .)
# The default settings, with the opening words of a Windows installation
# (each user installs a copy of their own, so no links and no root).
file(READ ${CMAKE_CURRENT_SOURCE_DIR}/Torvane.ini _ini)
string(REPLACE "; Torvane settings. The tools read this file from the directory of their
; executable (an installed copy reaches it through a symbolic link there), so
; every user of this installation shares it: edit it as root."
  "; Torvane settings. The tools read this file from the folder of their
; executable; this installation belongs to the user who installed it."
  _ini "${_ini}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/Torvane.ini "${_ini}")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/Torvane.ini DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/samples/app.bin DESTINATION samples)

set(CPACK_GENERATOR "ZIP")
set(CPACK_PACKAGE_NAME "torvane")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Torvane")
set(CPACK_PACKAGE_FILE_NAME "torvane-${PROJECT_VERSION}-windows-x64")
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/packages")
set(CPACK_STRIP_FILES ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
