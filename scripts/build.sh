#!/usr/bin/env bash
# Configures and builds everything into build/ (or $ZELKO_BUILD_DIR).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZELKO_BUILD_DIR:-$top/build}
. "$top/scripts/service-address.sh"
# Local builds talk to the reference service on loopback ($ZELKO_SERVICE_URL to change it).
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELKO_SERVICE_URL="$zelko_service_url" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
