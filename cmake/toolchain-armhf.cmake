# Cross-build for Debian armhf: Debian's cross compilers and the multiarch libraries in
# /usr/lib/arm-linux-gnueabihf. Host tools (Qt's moc and rcc) come from the build machine's Qt; the
# build's own helper programs and the tests run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
