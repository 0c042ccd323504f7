# What is installed besides the programs, and the Debian packages that CPack makes from one
# build (the ARM cross builds use them; native packages come from debian/ with debhelper):
#   fennwick-cli  (component cli): the command line, the simulator, their man pages, the bash
#                 completion and the udev rule; no Qt, so that a headless line PC stays lean.
#   fennwick      (component window): the window, its man page, icon and desktop file; it
#                 depends on fennwick-cli of the same version.
# Every install() names its component; anything else would fall outside both packages.

include(GNUInstallDirs)

# Man pages from the programs' own help, so that they never drift from it:
# res/man/help-for-man adds each command's options to the top-level help and moves the exit
# status paragraph into a section of its own; res/man/<program>.h2m adds the environment,
# files and examples. A cross build cannot run its programs, so it goes without.
find_program(FENNWICK_HELP2MAN help2man)
set(FENNWICK_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(FENNWICK_MAN_PAGES)
function(fennwick_man_page target summary component)
  if(NOT TARGET ${target} OR NOT FENNWICK_HELP2MAN OR CMAKE_CROSSCOMPILING)
    return()
  endif()
  set(page ${FENNWICK_MAN_DIR}/${target}.1)
  # help2man names the page after the program it runs: a wrapper of the same name.
  set(wrapper ${FENNWICK_MAN_DIR}/feed/${target})
  file(GENERATE OUTPUT ${wrapper}
       CONTENT "#!/bin/sh\nexec sh \"${CMAKE_SOURCE_DIR}/res/man/help-for-man\" \"$<TARGET_FILE:${target}>\"\n"
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

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fennwick)
set(CPACK_PACKAGE_VENDOR "Fennwick")
set(CPACK_PACKAGE_CONTACT "Fennwick developers <developers@fennwick.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware update utility: flashes an MCU over a serial line from S19, Intel HEX or raw binary files")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli)
if(FENNWICK_GUI)
  list(APPEND CPACK_COMPONENTS_ALL window)
endif()
set(CPACK_DEBIAN_CLI_PACKAGE_NAME fennwick-cli)
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION electronics)
# One string each: several would be joined with ";" into the description.
set(CPACK_COMPONENT_CLI_DESCRIPTION
    "Firmware update utility, command line: flashes an MCU over a serial line\n\
fennwick-cli identifies, examines and programs MCUs on serial ports, several at once,\n\
with JSON results and run records; fennwick-mcu-sim simulates an MCU on a pseudo-terminal.")
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME fennwick)
set(CPACK_DEBIAN_WINDOW_PACKAGE_SECTION electronics)
set(CPACK_COMPONENT_WINDOW_DESCRIPTION
    "Firmware update utility, operator window\n\
The full-screen window in which an operator opens a firmware file and flashes the MCU.")
set(CPACK_COMPONENT_WINDOW_DEPENDS cli)
# The kiosk session runs the window under weston's kiosk shell through Qt's Wayland plugin.
set(CPACK_DEBIAN_WINDOW_PACKAGE_RECOMMENDS "weston, qt6-wayland")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
if(CMAKE_CROSSCOMPILING AND FENNWICK_DEB_ARCH)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${FENNWICK_DEB_ARCH})  # from cmake/toolchain-*.cmake
endif()
include(CPack)
