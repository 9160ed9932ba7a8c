# Manual pages, generated from each program's own --help by help2man with
# the sections in man/<program>.h2m, and torvane-cli's bash completion.
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
if(NOT HELP2MAN OR NOT GZIP)
  message(WARNING "help2man or gzip not found: no manual pages (scripts/install-deps.sh installs them)")
else()
  set(man_names
    "torvane|firmware flasher for USB HID devices with a bootloader (dialog)"
    "torvane-cli|firmware flasher for USB HID devices with a bootloader (command line)"
    "torvane-virtual-device|a USB HID device of the Torvane family played through /dev/uhid")
  set(man_dir ${PROJECT_BINARY_DIR}/man)
  set(man_pages "")
  foreach(entry ${man_names})
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 program)
    list(GET parts 1 summary)
    if(NOT TARGET ${program})
      continue()
    endif()
    set(page ${man_dir}/${program}.1)
    set(include ${CMAKE_CURRENT_SOURCE_DIR}/man/${program}.h2m)
    set(extra "")
    set(extra_commands "")
    if(program STREQUAL "torvane-cli")
      # The options of every command, from `torvane-cli COMMAND --help`.
      set(extra --include=${man_dir}/${program}-commands.h2m)
      set(extra_commands COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/man/command-options.sh $<TARGET_FILE:${program}>
                                 > ${man_dir}/${program}-commands.h2m)
    endif()
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
      ${extra_commands}
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
              ${HELP2MAN} --locale=C.UTF-8 --no-info --no-discard-stderr --section=1 --version-string=${PROJECT_VERSION}
              "--name=${summary}" --include=${include} ${extra} --output=${page} $<TARGET_FILE:${program}>
      COMMAND ${GZIP} -9nf ${page}
      DEPENDS ${program} ${include} ${CMAKE_CURRENT_SOURCE_DIR}/man/command-options.sh
      VERBATIM)
    list(APPEND man_pages ${page}.gz)
  endforeach()
  add_custom_target(torvane_man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

install(FILES completion/torvane-cli DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
