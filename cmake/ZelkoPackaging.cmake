# Install tree and Debian package; the prefix is chosen in the top CMakeLists.txt,
# before any file that names it is configured.

# Installing and packaging take the binaries as built; a package step must not
# rebuild the tree under tests that are running from it.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# The client in a folder of its own, where it finds its screens beside its program, and on
# the PATH through a link.
install(TARGETS zelko RUNTIME DESTINATION ${ZELKO_CLIENT_DIR}/bin)
# The whole folder, as it is when installing: the screens are added to it freely.
install(DIRECTORY qml/Zelko/ DESTINATION ${ZELKO_CLIENT_DIR}/qml/Zelko
    PATTERN "*.qmlc" EXCLUDE
    PATTERN "*~" EXCLUDE)
file(RELATIVE_PATH ZELKO_CLIENT_LINK /bin /${ZELKO_CLIENT_DIR}/bin/zelko)
install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
file(CREATE_LINK ${ZELKO_CLIENT_LINK} \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/zelko\" SYMBOLIC)")

# The desktop entry, its icons and the AppStream metainfo (desktop/), for launchers and
# software centres. The 128 px icon is drawn from the SVG by the build, so that the two never
# differ; where they go is decided when installing (cmake/ZelkoLauncherInstall.cmake).
find_program(ZELKO_RSVG_CONVERT rsvg-convert)
if(NOT ZELKO_RSVG_CONVERT)
    message(FATAL_ERROR "rsvg-convert not found (Debian: librsvg2-bin): it draws the icon's PNG")
endif()
set(ZELKO_LAUNCHER_BUILD ${PROJECT_BINARY_DIR}/desktop)
set(ZELKO_ICON_PNG ${ZELKO_LAUNCHER_BUILD}/org.example.zelko.png)
add_custom_command(OUTPUT ${ZELKO_ICON_PNG}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ZELKO_LAUNCHER_BUILD}
    COMMAND ${ZELKO_RSVG_CONVERT} -w 128 -h 128 -o ${ZELKO_ICON_PNG}
        ${PROJECT_SOURCE_DIR}/desktop/org.example.zelko.svg
    DEPENDS ${PROJECT_SOURCE_DIR}/desktop/org.example.zelko.svg
    VERBATIM)
add_custom_target(zelkoicon ALL DEPENDS ${ZELKO_ICON_PNG})
install(CODE "set(ZELKO_LAUNCHER_SOURCE \"${PROJECT_SOURCE_DIR}/desktop\")
set(ZELKO_LAUNCHER_BUILD \"${ZELKO_LAUNCHER_BUILD}\")")
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/ZelkoLauncherInstall.cmake)

# A manual page for each program, from one scdoc source each (docs/man/).
find_program(ZELKO_SCDOC scdoc)
if(NOT ZELKO_SCDOC)
    message(FATAL_ERROR "scdoc not found (Debian: scdoc): it makes the manual pages")
endif()
set(ZELKO_MAN_PAGES zelko zelko-frame)
if(ZELKO_BUILD_SERVICE)
    list(APPEND ZELKO_MAN_PAGES zelko-service)
endif()
set(man_files)
foreach(page ${ZELKO_MAN_PAGES})
    set(man ${PROJECT_BINARY_DIR}/man/${page}.1)
    add_custom_command(OUTPUT ${man}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND sh -c "\"$0\" < \"$1\" > \"$2\"" ${ZELKO_SCDOC} ${PROJECT_SOURCE_DIR}/docs/man/${page}.1.scd ${man}
        DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${page}.1.scd
        VERBATIM)
    list(APPEND man_files ${man})
endforeach()
add_custom_target(zelkoman ALL DEPENDS ${man_files})
install(FILES ${man_files} DESTINATION ${ZELKO_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelko)
set(CPACK_PACKAGE_VENDOR Zelko)
set(CPACK_PACKAGE_CONTACT "Zelko developers <dev@zelko.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Zelko search client for handsets")
# The distribution's packages come from debian/; this one package of everything serves the
# builds dpkg-buildpackage does not make here (Qt 6, the ARM handsets).
set(CPACK_PACKAGE_DESCRIPTION "Full-screen QML search client: the zelko program and its QML screens, the QML\n\
module Zelko 1.0 for other programs (in Qt's own QML folder), the zelko-frame\n\
inspector for service response frames and, when built, the zelko-service\n\
reference search service.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# Libraries come from what the binaries link; QML modules are loaded at run time,
# so the ones the screens import, with those they import in turn, are named here for
# the Qt of the build (the package test checks the list).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Debian architecture of the machine the programs are built for (ZELKO_DEB_ARCH, which
# the package's file name carries too): in a cross build the target's (arm64, armhf), not
# the host's. dpkg-shlibdeps then takes the libraries, their versions and the objdump
# from the target's side (multiarch), told so through DEB_HOST_ARCH while cpack runs.
if(CMAKE_CROSSCOMPILING)
    execute_process(COMMAND dpkg-architecture -t${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
        OUTPUT_VARIABLE ZELKO_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT ZELKO_DEB_ARCH)
        message(FATAL_ERROR "no Debian architecture for ${CMAKE_LIBRARY_ARCHITECTURE} (dpkg-dev installed?)")
    endif()
    file(WRITE ${PROJECT_BINARY_DIR}/ZelkoCPackCross.cmake "set(ENV{DEB_HOST_ARCH} ${ZELKO_DEB_ARCH})\n")
    set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/ZelkoCPackCross.cmake)
else()
    execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE ZELKO_DEB_ARCH
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${ZELKO_DEB_ARCH})
if(ZELKO_QT_VERSION EQUAL 5)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qml-module-qtquick2, qml-module-qtquick-window2, \
qml-module-qtquick-controls2, qml-module-qtquick-templates2")
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qml6-module-qtquick, qml6-module-qtquick-window, \
qml6-module-qtquick-controls, qml6-module-qtquick-templates, qml6-module-qtqml, \
qml6-module-qtqml-models, qml6-module-qtqml-workerscript")
endif()
include(CPack)
