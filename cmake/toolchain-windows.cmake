# Cross-build of the command line for 64-bit Windows with Debian's mingw-w64 (the posix threads
# variant, for std::thread and std::mutex). The programs are linked statically (libstdc++,
# libgcc, winpthread), so that fennwick-cli.exe runs without DLLs beside it; the build's own
# helper programs and the tests run under wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)

# The target's libraries (zlib from libz-mingw-w64-dev) come from the mingw prefix; the
# header-only libraries (CLI11, nlohmann-json) from the build machine's /usr.
set(CMAKE_FIND_ROOT_PATH /usr/${_triple} /usr)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ZLIB_ROOT /usr/${_triple})
set(ZLIB_USE_STATIC_LIBS ON)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Windows 10's console API (virtual-terminal sequences); the code calls the wide-character
# functions by name (CreateFileW), so no UNICODE switch.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00)
# printf and its kin are mingw's C99 ones (%zu, %lld), not the Microsoft runtime's. GCC still
# checks printf-like functions of our own against the latter's formats, so the format checks
# are left to the Linux build, which runs them on the same code.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)
add_compile_options(-Wno-format)

find_program(FENNWICK_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(FENNWICK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FENNWICK_WINE})
endif()
