# Run at install time (install(SCRIPT)): the desktop entry, its icons and the AppStream
# metainfo, in the prefix's share/ (launchers and software centres look in the data folders,
# XDG_DATA_DIRS). Run at install time, since the prefix is known only then (cpack, cmake
# --install --prefix). ZELKO_LAUNCHER_SOURCE and ZELKO_LAUNCHER_BUILD are set before this.
set(datadir ${CMAKE_INSTALL_PREFIX}/share)
set(id org.example.zelko)
# The entry starts the program where it is installed.
configure_file(${ZELKO_LAUNCHER_SOURCE}/${id}.desktop.in ${ZELKO_LAUNCHER_BUILD}/${id}.desktop @ONLY)
file(INSTALL ${ZELKO_LAUNCHER_BUILD}/${id}.desktop DESTINATION ${datadir}/applications)
file(INSTALL ${ZELKO_LAUNCHER_SOURCE}/${id}.svg DESTINATION ${datadir}/icons/hicolor/scalable/apps)
file(INSTALL ${ZELKO_LAUNCHER_BUILD}/${id}.png DESTINATION ${datadir}/icons/hicolor/128x128/apps)
file(INSTALL ${ZELKO_LAUNCHER_SOURCE}/${id}.metainfo.xml DESTINATION ${datadir}/metainfo)
