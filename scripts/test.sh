#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine and runs the whole test suite.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"
"$top/scripts/check-format.sh"

# Qt 5, as a distribution builds it: the Debian source package (debian/), whose build runs
# the whole suite (dh_auto_test) but for the checks of the packages themselves, which need
# them built. The service address stays the compiled-in default: the suites reach their own
# servers on free ports whatever it is.
(cd "$top" && dpkg-buildpackage -us -uc -b -j"$(nproc)")
build=$top/obj-$(dpkg-architecture -qDEB_HOST_GNU_TYPE)
"$top/scripts/check-skips.sh" "$build/tests/results"
# The screens' session walk ran its fixed seed in the suite; once more with a fresh one,
# printed so that a failure can be walked again (ZELKO_WALK_SEED=N ctest -R qml_tst_screens).
walk_seed=$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')
echo "session walk with the fresh seed ZELKO_WALK_SEED=$walk_seed"
(cd "$build" && ZELKO_WALK_SEED=$walk_seed QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software \
    XDG_CONFIG_HOME=$(mktemp -d) ./tests/qmltests -input "$top/tests/qml/tst_screens.qml" Screens::test_sessionWalk)
# What dpkg-buildpackage left beside the tree, kept in build-deb/.
version=$(dpkg-parsechangelog -l "$top/debian/changelog" -S Version)
arch=$(dpkg --print-architecture)
debs=$top/build-deb
rm -rf "$debs" && mkdir -p "$debs"
mv "$top"/../zelko_"$version"_"$arch".{changes,buildinfo} "$top"/../*_"$version"_"$arch".deb "$debs"/
lintian --pedantic --fail-on error,warning "$debs/zelko_${version}_${arch}.changes"
packages=()
for name in zelko qml-module-zelko zelko-service zelko-tools; do
    packages+=("$debs/${name}_${version}_${arch}.deb")
    "$top/scripts/check-package-arch.sh" "${packages[-1]}" "$arch"
done
(cd "$build" && ZELKO_PACKAGES=$(IFS=:; echo "${packages[*]}") QT_QPA_PLATFORM=offscreen \
    ctest --output-on-failure -R '^packagetest$' --fixture-exclude-setup deb_package)
# Installed with apt, one by one, as a user would, against its own service.
"$top/scripts/check-package-install.sh" "$build" "${packages[@]}"

# The same tree with Qt 6: the whole suite again (the QML suites, qmllint 6 and the
# end-to-end run under Xvfb included) and the one package cpack makes of it, installed once
# the Qt 5 ones are removed (it holds the same files).
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
# Exit 75: the machine's archive could not give the target's packages (a mirror mid-sync),
# said loudly here and at the end; any other failure stops the run.
not_run=()
for target in arm64 armhf; do
    status=0
    "$top/scripts/cross.sh" "$target" || status=$?
    [ "$status" = 0 ] || [ "$status" = 75 ] || exit "$status"
    [ "$status" = 0 ] || not_run+=("cross $target (its packages could not be installed from the archive)")
done

# Hardening, with Qt 5 only: the suite again under ASan + UBSan (built, unlike the two
# above, for the reference service on loopback), the cache stress and the service's HTTP
# suites under TSan, every fuzz target over its seeds and then briefly beyond, and the
# reference service under load.
"$top/scripts/sanitize.sh"
"$top/fuzz/run" "${ZELKO_FUZZ_SECONDS:-15}"
ZELKO_BUILD_DIR="$build" "$top/scripts/load.sh" 10 8
for what in "${not_run[@]}"; do echo "NOT RUN: $what" >&2; done
