# Run at install time (install(SCRIPT)): the desktop entry, its icons and the AppStream
# metainfo. Launchers and software centres look for these only in the data folders
# (XDG_DATA_DIRS: /usr/local/share, /usr/share), never under /opt: a prefix in /opt, the
# package's, puts them in /usr/share, any other prefix in its own share/. Decided here, not
# when configuring, since the prefix is known only now (cpack, cmake --install --prefix).
# ZELKO_LAUNCHER_SOURCE and ZELKO_LAUNCHER_BUILD are set by the install(CODE) before this.
if(CMAKE_INSTALL_PREFIX MATCHES "^/opt(/|$)")
    set(datadir /usr/share)
else()
    set(datadir ${CMAKE_INSTALL_PREFIX}/share)
endif()
set(id org.example.zelko)
# The entry starts the program where it is installed.
configure_file(${ZELKO_LAUNCHER_SOURCE}/${id}.desktop.in ${ZELKO_LAUNCHER_BUILD}/${id}.desktop @ONLY)
file(INSTALL ${ZELKO_LAUNCHER_BUILD}/${id}.desktop DESTINATION ${datadir}/applications)
file(INSTALL ${ZELKO_LAUNCHER_SOURCE}/${id}.svg DESTINATION ${datadir}/icons/hicolor/scalable/apps)
file(INSTALL ${ZELKO_LAUNCHER_BUILD}/${id}.png DESTINATION ${datadir}/icons/hicolor/128x128/apps)
file(INSTALL ${ZELKO_LAUNCHER_SOURCE}/${id}.metainfo.xml DESTINATION ${datadir}/metainfo)
