# Install tree and Debian package; the prefix is chosen in the top CMakeLists.txt,
# before any file that names it is configured.

# Installing and packaging take the binaries as built; a package step must not
# rebuild the tree under tests that are running from it.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS zelko RUNTIME DESTINATION bin)
# The whole folder, as it is when installing: the screens are added to it freely.
install(DIRECTORY qml/Zelko/ DESTINATION qml/Zelko
    PATTERN "*.qmlc" EXCLUDE
    PATTERN "*~" EXCLUDE)

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

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelko)
set(CPACK_PACKAGE_VENDOR Zelko)
set(CPACK_PACKAGE_CONTACT "Zelko developers <dev@zelko.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Zelko search client for handsets")
if(ZELKO_BUILD_SERVICE)
    set(CPACK_PACKAGE_DESCRIPTION "Full-screen QML search client: the zelko program and its QML screens under\n/opt/zelko/qml/Zelko, the QML module Zelko 1.0 for other programs (import path\n/opt/zelko/lib/qml), the zelko-frame inspector for service response frames and\nthe zelko-service reference search service.")
else()
    set(CPACK_PACKAGE_DESCRIPTION "Full-screen QML search client: the zelko program and its QML screens under\n/opt/zelko/qml/Zelko, the QML module Zelko 1.0 for other programs (import path\n/opt/zelko/lib/qml) and the zelko-frame inspector for service response frames.")
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/zelko)
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
