#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine and runs the whole test suite.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZELKO_BUILD_DIR:-$top/build}
"$top/scripts/deps.sh"
"$top/scripts/check-format.sh"
"$top/scripts/build.sh"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"

# Hardening: the suite again under ASan + UBSan and the cache stress under TSan (each in
# a build of its own), every fuzz target over its seeds and then briefly beyond, the
# digests on 32-bit ARM under qemu, and the reference service under load.
"$top/scripts/sanitize.sh"
"$top/fuzz/run" "${ZELKO_FUZZ_SECONDS:-15}"
"$top/scripts/arm-digests.sh"
ZELKO_BUILD_DIR="$build" "$top/scripts/load.sh" 10 8
