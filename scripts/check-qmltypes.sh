#!/usr/bin/env bash
# Qt 5: the module's type description, as kept in plugin/, must be what the built plugin
# says of itself: tooling (qmllint, Qt Creator) reads the kept one. (Qt 6's is made by
# the build with Qt's type registrar.)
#   scripts/check-qmltypes.sh QMLPLUGINDUMP IMPORT_DIR KEPT_FILE [SANITIZER_RUNTIME]
# A plugin built with AddressSanitizer loads into qmlplugindump only with the
# sanitizer's runtime preloaded; qmlplugindump's own leaks are not ours to report.
set -euo pipefail
dump=$1 imports=$2 kept=$3 runtime=${4:-}
if [ -n "$runtime" ]; then
    export LD_PRELOAD=$runtime ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
fi
fresh=$(cd "$imports" && QT_QPA_PLATFORM=minimal "$dump" -nonrelocatable Zelko 1.0 . 2>/dev/null)
if ! diff -u "$kept" <(printf '%s\n' "$fresh"); then
    echo "check-qmltypes: $kept is out of date; regenerate it with:" >&2
    echo "  (cd $imports && QT_QPA_PLATFORM=minimal $dump -nonrelocatable Zelko 1.0 . 2>/dev/null) > $kept" >&2
    exit 1
fi
echo "check-qmltypes: $kept matches the plugin"
