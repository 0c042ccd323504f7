# What is installed besides the programs. debian/ splits it into two packages:
#   fennwick-cli  (component cli): the command line, the simulator, their man pages, the bash
#                 completion and the udev rule; no Qt, so that a headless line PC stays lean.
#   fennwick      (component window): the window, its man page, icon and desktop file.
# Every install() names its component, so that `cmake --install --component` can split it too.

include(GNUInstallDirs)

# Man pages from the programs' own help, so that they never drift from it:
# res/man/help-for-man adds each command's options to the top-level help and moves the exit
# status paragraph into a section of its own; res/man/<program>.h2m adds the environment,
# files and examples. A cross build runs its programs under the emulator of its toolchain
# file (qemu-user), so its pages are those of the programs it ships; without one it goes
# without pages.
find_program(FENNWICK_HELP2MAN help2man)
set(FENNWICK_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(FENNWICK_MAN_PAGES)
function(fennwick_man_page target summary component)
  if(NOT TARGET ${target} OR NOT FENNWICK_HELP2MAN OR (CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR))
    return()
  endif()
  set(page ${FENNWICK_MAN_DIR}/${target}.1)
  # help2man names the page after the program it runs: a wrapper of the same name.
  set(wrapper ${FENNWICK_MAN_DIR}/feed/${target})
  file(GENERATE OUTPUT ${wrapper}
       CONTENT "#!/bin/sh\nexec sh \"${CMAKE_SOURCE_DIR}/res/man/help-for-man\" ${CMAKE_CROSSCOMPILING_EMULATOR} \"$<TARGET_FILE:${target}>\"\n"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(include ${CMAKE_SOURCE_DIR}/res/man/${target}.h2m)
  add_custom_command(
    OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${FENNWICK_MAN_DIR}
    # The window prints its help before it needs a display; a sanitizer build must not
    # fail the page on a leak report of the toolkit.
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
            ${FENNWICK_HELP2MAN} --no-info --no-discard-stderr --section=1
            --version-string=${PROJECT_VERSION} --name=${summary} --include=${include}
            --output=${page} ${wrapper}
    DEPENDS ${target} ${include} ${CMAKE_SOURCE_DIR}/res/man/help-for-man
    COMMENT "Writing the man page of ${target}"
    VERBATIM)
  set(FENNWICK_MAN_PAGES ${FENNWICK_MAN_PAGES} ${page} PARENT_SCOPE)
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()
fennwick_man_page(fennwick-cli "flash an MCU's firmware over a serial line" cli)
fennwick_man_page(fennwick-mcu-sim "a simulated MCU on a pseudo-terminal, for Fennwick without hardware" cli)
fennwick_man_page(fennwick "the operator window that flashes an MCU's firmware" window)
if(FENNWICK_MAN_PAGES)
  add_custom_target(man_pages ALL DEPENDS ${FENNWICK_MAN_PAGES})
endif()
if(FENNWICK_GUI)
  install(FILES ${CMAKE_SOURCE_DIR}/res/man/fennwick-kiosk-session.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT window)
endif()

install(FILES ${CMAKE_SOURCE_DIR}/res/completion/fennwick-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT cli)
# udev reads /usr/lib/udev/rules.d (the package's prefix), not /usr/local.
install(FILES ${CMAKE_SOURCE_DIR}/res/udev/60-fennwick-serial.rules
        DESTINATION ${FENNWICK_UDEV_RULES_DIR} COMPONENT cli)
