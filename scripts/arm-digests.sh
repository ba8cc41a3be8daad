#!/usr/bin/env bash
# The digest calculators built for the handset's 32-bit ARM (long is 32 bits there)
# and run under qemu-user against the reference vectors. Builds into build-arm/.
# Vectors: $ZELKO_DIGEST_VECTORS, by default tests/data/digests.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZELKO_ARM_BUILD_DIR:-$top/build-arm}
vectors=${ZELKO_DIGEST_VECTORS:-$top/tests/data/digests}
cc=arm-linux-gnueabihf-gcc
cxx=arm-linux-gnueabihf-g++
sysroot=/usr/arm-linux-gnueabihf

mkdir -p "$build"
flags=(-O2 -g -Wall -Wextra -Werror -I"$top/cpp/DataCalc")
objects=()
for c in "$top"/cpp/DataCalc/*.c; do
    o=$build/$(basename "$c" .c).o
    nice "$cc" -std=c99 "${flags[@]}" -c "$c" -o "$o"
    objects+=("$o")
done
nice "$cxx" -std=c++17 "${flags[@]}" "$top/tests/digestvectors.cpp" "${objects[@]}" -o "$build/digestvectors"
# Its own PID namespace, as for every program run under qemu-user: a fallback that
# signals every process (-1) then reaches only this one.
unshare --pid --fork --mount-proc qemu-arm -L "$sysroot" "$build/digestvectors" "$vectors"
