# The service addresses of the build, for the top project and for fuzz/ (a project of
# its own) alike; included by both, so neither keeps a copy.

# Compiled into ZelkoStaticData::serviceUrl(): plain http, explicit port 80, one path segment.
# A packager's build keeps this default; scripts/build.sh points local builds at the
# reference service on loopback (scripts/service-address.sh).
set(ZELKO_DEFAULT_SERVICE_URL "http://search.zelko.example:80/search")
set(ZELKO_SERVICE_URL ${ZELKO_DEFAULT_SERVICE_URL} CACHE STRING
    "Address of the search service the client posts its queries to")

# The reference service on loopback. The numbers are written once, in
# scripts/service-address.sh, which the scripts source; its zelko_local_* lines are
# the defaults here, so the scripts and a build agree unless one is told otherwise
# (-D... here; ZELKO_SERVICE_URL in the scripts' environment). A cache keeps the
# values it was first given: a changed default reaches an existing build folder
# only with -U'ZELKO_LOCAL_*' -UZELKO_TEST_STALL_PORT.
set(_zelko_address_file ${CMAKE_CURRENT_LIST_DIR}/../scripts/service-address.sh)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_zelko_address_file})
file(STRINGS ${_zelko_address_file} _zelko_address_lines REGEX "^zelko_local_[a-z_]+=")
foreach(_name host port https_port stall_port)
    set(_zelko_local_${_name} "")
    foreach(_line IN LISTS _zelko_address_lines)
        if(_line MATCHES "^zelko_local_${_name}=([^ \t#]+)")
            set(_zelko_local_${_name} ${CMAKE_MATCH_1})
        endif()
    endforeach()
    if(_zelko_local_${_name} STREQUAL "")
        message(FATAL_ERROR "${_zelko_address_file} sets no zelko_local_${_name}")
    endif()
endforeach()

set(ZELKO_LOCAL_SERVICE_HOST ${_zelko_local_host} CACHE STRING
    "Address the reference service listens on by default (zelko-service --host)")
set(ZELKO_LOCAL_SERVICE_PORT ${_zelko_local_port} CACHE STRING
    "Port of the reference service's HTTP search endpoint (zelko-service --port)")
set(ZELKO_LOCAL_SERVICE_HTTPS_PORT ${_zelko_local_https_port} CACHE STRING
    "Port of the reference service's HTTPS feedback endpoint (zelko-service --https-port)")
set(ZELKO_TEST_STALL_PORT ${_zelko_local_stall_port} CACHE STRING
    "Port of the listener that never answers, in the module test's network of its own")
foreach(_port ZELKO_LOCAL_SERVICE_PORT ZELKO_LOCAL_SERVICE_HTTPS_PORT ZELKO_TEST_STALL_PORT)
    if(NOT ${_port} MATCHES "^[0-9]+$" OR ${_port} LESS 1 OR ${_port} GREATER 65535)
        message(FATAL_ERROR "${_port} must be a port number, not '${${_port}}'")
    endif()
endforeach()

# The feedback address the client's qml/Zelko/Config.js must name (the test "serviceaddress").
set(ZELKO_LOCAL_FEEDBACK_URL "https://${ZELKO_LOCAL_SERVICE_HOST}:${ZELKO_LOCAL_SERVICE_HTTPS_PORT}/feedback")
