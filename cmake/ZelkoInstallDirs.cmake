# The install layout, relative to the prefix (FHS under /usr):
#   ZELKO_CLIENT_DIR       the client's own folder: bin/zelko, qml/Zelko/ (its screens, found
#                          at <dir of the binary>/../qml/Zelko/main.qml) and translations/;
#                          <prefix>/bin/zelko points at its program
#   ZELKO_INSTALL_QMLDIR   the QML module Zelko for other programs: Qt's own QML folder,
#                          so that "import Zelko 1.0" needs no import path
#   ZELKO_SYSTEMD_UNITDIR  the service's unit (absolute for a distribution's /lib/systemd/system)
#   ZELKO_MANDIR           the manual pages
set(ZELKO_CLIENT_DIR lib/zelko CACHE STRING "The client's private folder, below the prefix")

# The programs and the QML folder of the Qt this build uses (ZELKO_QT_BIN, _zelko_qt_qml),
# never the first ones on PATH: Qt 5's qmllint passing says nothing of Qt 6.
if(ZELKO_QT_VERSION EQUAL 5)
    get_target_property(_zelko_qmake Qt5::qmake IMPORTED_LOCATION)
    execute_process(COMMAND ${_zelko_qmake} -query QT_INSTALL_BINS OUTPUT_VARIABLE ZELKO_QT_BIN
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND ${_zelko_qmake} -query QT_INSTALL_QML OUTPUT_VARIABLE _zelko_qt_qml
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
else()
    set(ZELKO_QT_BIN ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS})
    set(_zelko_qt_qml ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_QML})
endif()

# Qt's QML folder, below /usr where Qt has it there (Debian: lib/<triplet>/qt5/qml).
# A cross build's Qt tools are the host's: the target's QML folder has the target's triplet.
if(CMAKE_CROSSCOMPILING AND _zelko_qt_qml MATCHES "^/usr/lib/[^/]+-linux-gnu[^/]*/")
    string(REGEX REPLACE "^/usr/lib/[^/]+-linux-gnu[^/]*/" "/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/" _zelko_qt_qml
        "${_zelko_qt_qml}")
endif()
if(_zelko_qt_qml MATCHES "^/usr/")
    string(REGEX REPLACE "^/usr/" "" _zelko_qmldir "${_zelko_qt_qml}")
else()
    set(_zelko_qmldir lib/qml)
endif()
set(ZELKO_INSTALL_QMLDIR ${_zelko_qmldir} CACHE STRING "The QML module's folder (Zelko/ in it), below the prefix")
set(ZELKO_SYSTEMD_UNITDIR share/zelko/systemd CACHE STRING
    "Where the service's systemd unit goes: below the prefix, or absolute (/lib/systemd/system)")
set(ZELKO_MANDIR share/man CACHE STRING "Manual pages, below the prefix")
