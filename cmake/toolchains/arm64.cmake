# 64-bit ARM handsets (Debian arm64), built on a Debian host with the arm64 libraries
# installed beside its own (multiarch: scripts/cross.sh sets that up).
set(ZELKO_CROSS_TRIPLET aarch64-linux-gnu)
set(ZELKO_CROSS_QEMU qemu-aarch64)
# The largest CPU qemu emulates: it has the SHA instructions the digests use.
set(ZELKO_CROSS_QEMU_CPU max)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/multiarch.cmake)
