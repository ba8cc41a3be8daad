#!/usr/bin/env bash
# Runs Qt 5's qmllint over every QML and JavaScript file under qml/Zelko.
# Usage: scripts/check-qml.sh [path to qmllint]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
qmllint=${1:-/usr/lib/qt5/bin/qmllint}
if [ ! -x "$qmllint" ]; then
    echo "qmllint not found at '$qmllint' (Debian: qtdeclarative5-dev-tools)" >&2
    exit 1
fi
mapfile -t files < <(find "$top/qml/Zelko" -type f \( -name '*.qml' -o -name '*.js' \) | sort)
if [ ${#files[@]} -eq 0 ]; then
    echo "no QML files under $top/qml/Zelko" >&2
    exit 1
fi
"$qmllint" "${files[@]}"
echo "qmllint: ${#files[@]} files clean"
