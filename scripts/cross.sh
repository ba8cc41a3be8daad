#!/usr/bin/env bash
# The whole project cross-built for ARM Linux handsets and tested under qemu-user.
#   scripts/cross.sh arm64|armhf
# Installs what is missing (as root): the cross compiler, and the target's build
# libraries taken from the one list in scripts/deps.sh, beside the host's own
# (multiarch). Builds into build-cross-ARCH (or $ZELKO_CROSS_BUILD_DIR), then runs
# with ctest every test that starts no child process: the target's programs under
# qemu-user, each in a PID namespace of its own (scripts/emulate.sh, ctest's emulator),
# offscreen; host-side checks (the package's architecture and dependencies) natively.
# Tests that start a child process carry the label child-process and are left out:
# qemu-user cannot run QProcess (docs/arm.md).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-}
case $arch in
    arm64) triplet=aarch64-linux-gnu ;;
    armhf) triplet=arm-linux-gnueabihf ;;
    *)
        echo "usage: cross.sh arm64|armhf" >&2
        exit 2
        ;;
esac
build=${ZELKO_CROSS_BUILD_DIR:-$top/build-cross-$arch}
started=$SECONDS

# The target's side of scripts/deps.sh: its build libraries and the QML modules the
# screens and suites import, Qt 5 only (what the handsets run). Tools, Qt 6 and the
# host's sanitizer runtimes stay the host's.
. "$top/scripts/deps.sh"
wanted=()
for p in "${packages[@]}"; do
    case $p in
        qt6-* | qml6-* | *-qt6 | *-dev-tools | libclang-rt-* | dpkg-dev) ;;
        *-dev | qml-module-*) wanted+=("$p:$arch") ;;
    esac
done
# The compiler, binutils for dpkg-shlibdeps to read the target's binaries, the emulator.
wanted+=("g++-$triplet" "binutils-$triplet" qemu-user dpkg-dev)

# The target's packages are only found once dpkg knows its architecture.
if [ "$(id -u)" -eq 0 ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    dpkg --add-architecture "$arch"
fi
install_missing "${wanted[@]}"
[ "${ZELKO_CROSS_INSTALL_ONLY:-0}" = 1 ] && exit 0

# Warnings are errors here: what is clean on the host may not be where long and
# pointers are 32 bits (armhf).
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchains/$arch.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -UZELKO_SERVICE_URL >/dev/null
nice cmake --build "$build" -j"$(nproc)"
built=$SECONDS
rm -f "$build"/tests/results/*.txt
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" -LE child-process)
"$top/scripts/check-skips.sh" "$build/tests/results"

# The two SHA paths timed against each other where the instructions exist. Under qemu
# only the ratio means anything (docs/arm.md).
if [ "$arch" = arm64 ] && [ -x "$build/bench/shapathbench" ]; then
    echo "SHA instructions against the portable path, qemu-aarch64 -cpu max:"
    # emulate.sh runs it as unshare --pid --fork --mount-proc qemu-aarch64 ..., like every test.
    "$top/scripts/emulate.sh" qemu-aarch64 -cpu max "$build/bench/shapathbench" 2>/dev/null \
        | awk -F'\t' '$1 == "ROW" { printf "  %s: %s against %s, portable/SHA path %s\n", $2, $3, $4, $5 }'
fi
echo "cross $arch: built in $((built - started)) s, tested in $((SECONDS - built)) s"
