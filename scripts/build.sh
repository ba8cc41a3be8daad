#!/usr/bin/env bash
# Configures and builds everything into build/ (or $ZELKO_BUILD_DIR).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZELKO_BUILD_DIR:-$top/build}
# Local and test builds talk to the reference service on loopback.
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZELKO_SERVICE_URL="${ZELKO_SERVICE_URL:-http://127.0.0.1:47311/search}" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
