# shellcheck shell=bash disable=SC2034
# The reference service's address on loopback, for the scripts: sourced, not run.
#   . "$top/scripts/service-address.sh"
# The one place where these numbers are written for the build as well:
# cmake/ZelkoServiceAddress.cmake reads the four zelko_local_* lines below as the
# defaults of its cache variables, so keep them plain NAME=VALUE lines.
zelko_local_host=127.0.0.1
zelko_local_port=47311       # the HTTP search endpoint (zelko-service --port)
zelko_local_https_port=47312 # the HTTPS feedback endpoint (--https-port; qml/Zelko/Config.js)
zelko_local_stall_port=47399 # a listener that never answers, in the package check's own network

# The search address a local build compiles into the client and the service listens on;
# ZELKO_SERVICE_URL in the environment overrides it.
zelko_service_url=${ZELKO_SERVICE_URL:-http://$zelko_local_host:$zelko_local_port/search}
zelko_feedback_url=https://$zelko_local_host:$zelko_local_https_port/feedback
zelko_stall_url=http://$zelko_local_host:$zelko_local_stall_port/
