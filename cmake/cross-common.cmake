# Shared by the cross toolchain files, which set CMAKE_SYSTEM_PROCESSOR and
# CMAKE_LIBRARY_ARCHITECTURE (the Debian triplet) first.
set(_triple ${CMAKE_LIBRARY_ARCHITECTURE})
set(CMAKE_C_COMPILER ${_triple}-gcc)
set(CMAKE_CXX_COMPILER ${_triple}-g++)

# Libraries and headers of the target architecture only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${_triple}/pkgconfig:/usr/share/pkgconfig)

# Qt's code generators are the build machine's.
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")

if(CMAKE_SYSTEM_PROCESSOR STREQUAL aarch64)
  set(_qemu qemu-aarch64)
else()
  set(_qemu qemu-arm)
endif()
find_program(FENNWICK_QEMU ${_qemu})
if(FENNWICK_QEMU)
  # The target's loader and libraries are installed through multiarch, so qemu finds them
  # in the build machine's own /lib without a sysroot.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FENNWICK_QEMU})
endif()
