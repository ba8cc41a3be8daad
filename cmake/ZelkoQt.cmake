# The Qt the build uses, for the top project and for fuzz/ (a project of its own):
# one source tree for Qt 5.15 and Qt 6, whose versionless targets (Qt::Core, ...)
# everything links. Sets ZELKO_QT_MINIMUM for the find_package calls of both.
set(ZELKO_QT_VERSION 5 CACHE STRING "Major version of Qt to build with: 5 or 6")
set_property(CACHE ZELKO_QT_VERSION PROPERTY STRINGS 5 6)
if(ZELKO_QT_VERSION STREQUAL "5")
    set(ZELKO_QT_MINIMUM 5.15)
elseif(ZELKO_QT_VERSION STREQUAL "6")
    # What Debian 12 ships, and so what the suites run on.
    set(ZELKO_QT_MINIMUM 6.4)
else()
    message(FATAL_ERROR "ZELKO_QT_VERSION must be 5 or 6, not '${ZELKO_QT_VERSION}'")
endif()
# A build folder stays with the Qt it was made for: its cached tool paths are that Qt's.
if(DEFINED CACHE{_ZELKO_QT_VERSION_CONFIGURED} AND NOT _ZELKO_QT_VERSION_CONFIGURED STREQUAL ZELKO_QT_VERSION)
    message(FATAL_ERROR "${CMAKE_BINARY_DIR} was configured for Qt ${_ZELKO_QT_VERSION_CONFIGURED}; "
                        "use another build folder for Qt ${ZELKO_QT_VERSION}")
endif()
set(_ZELKO_QT_VERSION_CONFIGURED ${ZELKO_QT_VERSION} CACHE INTERNAL "")
