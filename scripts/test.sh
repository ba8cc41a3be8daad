#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine and runs the whole test suite.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZELKO_TEST_BUILD_DIR:-$top/build-test}
"$top/scripts/deps.sh"
"$top/scripts/check-format.sh"

# The default configuration, as a packager builds it (the service address stays the
# compiled-in default): the suites reach their own servers on free ports whatever it is.
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -UZELKO_SERVICE_URL >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/tests/results/*.txt
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)")
"$top/scripts/check-skips.sh" "$build/tests/results"
# The package the suite built, installed with apt as a user would, against its own service.
"$top/scripts/check-package-install.sh" "$build"

# Hardening: the suite again under ASan + UBSan (built, unlike the one above, for the
# reference service on loopback) and the cache stress under TSan, every fuzz target
# over its seeds and then briefly beyond, the digests on 32-bit ARM under qemu, and
# the reference service under load.
"$top/scripts/sanitize.sh"
"$top/fuzz/run" "${ZELKO_FUZZ_SECONDS:-15}"
"$top/scripts/arm-digests.sh"
ZELKO_BUILD_DIR="$build" "$top/scripts/load.sh" 10 8
