# 32-bit ARM handsets (Debian armhf: ARMv7, hard float; long and pointers are 32 bits),
# built on a Debian host with the armhf libraries installed beside its own.
set(ZELKO_CROSS_TRIPLET arm-linux-gnueabihf)
set(ZELKO_CROSS_QEMU qemu-arm)
set(ZELKO_CROSS_QEMU_CPU "")
set(CMAKE_SYSTEM_PROCESSOR arm)
include(${CMAKE_CURRENT_LIST_DIR}/multiarch.cmake)
# GCC notes every std::vector iterator passed by value that GCC 7.1 passed differently on
# 32-bit ARM; everything here is built by one compiler, so the note says nothing.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
