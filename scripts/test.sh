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

# The same tree with Qt 6, configured the same way: the whole suite again (the QML suites,
# qmllint 6 and the end-to-end run under Xvfb included) and its package, which has the same
# name as the Qt 5 one and so is installed only once that one is removed.
build6=${ZELKO_TEST_QT6_BUILD_DIR:-$top/build-test-qt6}
qt6_started=$SECONDS
cmake -S "$top" -B "$build6" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELKO_QT_VERSION=6 -UZELKO_SERVICE_URL >/dev/null
cmake --build "$build6" -j"$(nproc)"
rm -f "$build6"/tests/results/*.txt
(cd "$build6" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)")
"$top/scripts/check-skips.sh" "$build6/tests/results"
"$top/scripts/check-package-install.sh" "$build6"
echo "qt6: built and tested in $(( SECONDS - qt6_started )) s"

# The handsets' builds, Qt 5: the whole tree cross-built for 64-bit and 32-bit ARM, every
# test that starts no child process run under qemu-user, each in a PID namespace of its
# own, and each package checked for its architecture (docs/arm.md).
"$top/scripts/cross.sh" arm64
"$top/scripts/cross.sh" armhf

# Hardening, with Qt 5 only: the suite again under ASan + UBSan (built, unlike the two
# above, for the reference service on loopback) and the cache stress under TSan, every
# fuzz target over its seeds and then briefly beyond, and the reference service under load.
"$top/scripts/sanitize.sh"
"$top/fuzz/run" "${ZELKO_FUZZ_SECONDS:-15}"
ZELKO_BUILD_DIR="$build" "$top/scripts/load.sh" 10 8
