# Shared by the toolchain files: the cross compilers of Debian's g++-<triplet> packages,
# the target's libraries where multiarch puts them (/usr/lib/<triplet>), the host's
# Qt tools (moc, rcc: Multi-Arch foreign), and every built program run through qemu-user
# in a PID namespace of its own (scripts/emulate.sh).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${ZELKO_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ZELKO_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${ZELKO_CROSS_TRIPLET})

# pkg-config must see the target's .pc files, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${ZELKO_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# ctest runs every test program through this, so no test can reach qemu-user outside
# a PID namespace: there, Qt's child-process fallback (kill(-1, SIGKILL) when qemu
# refuses its clone flags) can reach only the test itself.
get_filename_component(_zelko_top ${CMAKE_CURRENT_LIST_DIR}/../.. ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${_zelko_top}/scripts/emulate.sh ${ZELKO_CROSS_QEMU})
if(ZELKO_CROSS_QEMU_CPU)
    list(APPEND CMAKE_CROSSCOMPILING_EMULATOR -cpu ${ZELKO_CROSS_QEMU_CPU})
endif()
