#!/usr/bin/env bash
# Runs one program built for ARM under qemu-user, always in a PID namespace of its own.
#   scripts/emulate.sh qemu-aarch64|qemu-arm [qemu options] PROGRAM [ARGS]
# qemu-user refuses the clone flags QProcess uses, and Qt's fallback then calls
# kill(-1, SIGKILL): as root outside a namespace that ends every process on the machine.
# In here it ends only this program. The cross toolchain files make this ctest's
# emulator, so every emulated test passes through it.
set -euo pipefail
qemu=${1:?usage: emulate.sh qemu-aarch64|qemu-arm [qemu options] PROGRAM [ARGS]}
shift
case $qemu in
    qemu-aarch64 | qemu-arm) ;;
    *)
        echo "emulate.sh: unknown emulator $qemu" >&2
        exit 2
        ;;
esac
# The target's loader and libraries are installed at / (multiarch), so no -L is needed.
exec unshare --pid --fork --mount-proc "$qemu" "$@"
