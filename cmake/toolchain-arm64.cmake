# Cross-build for Debian arm64: Debian's cross compilers and the multiarch libraries in
# /usr/lib/aarch64-linux-gnu. Host tools (Qt's moc and rcc) come from the build machine's Qt; the
# build's own helper programs and the tests run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
