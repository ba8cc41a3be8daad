# 32-bit ARM handsets (Debian armhf: ARMv7, hard float; long and pointers are 32 bits),
# built on a Debian host with the armhf libraries installed beside its own.
set(ZELKO_CROSS_TRIPLET arm-linux-gnueabihf)
set(ZELKO_CROSS_QEMU qemu-arm)
set(ZELKO_CROSS_QEMU_CPU "")
set(CMAKE_SYSTEM_PROCESSOR arm)
include(${CMAKE_CURRENT_LIST_DIR}/multiarch.cmake)
