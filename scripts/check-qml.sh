#!/usr/bin/env bash
# Runs Qt 5's qmllint over every QML and JavaScript file under qml/Zelko. Given the
# module's type description, a second pass resolves the Zelko types and fails on
# any it cannot find or any member they lack.
# Usage: scripts/check-qml.sh [qmllint] [plugins.qmltypes of Zelko] [Qt's QML folder]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
qmllint=${1:-/usr/lib/qt5/bin/qmllint}
zelkotypes=${2:-}
qtqml=${3:-}
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
[ -n "$zelkotypes" ] || exit 0

# Qt 5's checker also warns of every name a JavaScript import brings; only what it
# says of the module's types counts here.
types=(-i "$zelkotypes" -i "$qtqml/QtQuick.2/plugins.qmltypes")
zelko_problems() {
    "$qmllint" -U "${types[@]}" "$1" 2>&1 |
        grep -E '(Request|Settings) was not found|on type "(Request|Settings|ZelkoServiceHelper|ZelkoSettingsHelper)"' || true
}
# The pass must see a broken use, or it proves nothing.
probe=$(mktemp --suffix=.qml)
trap 'rm -f "$probe"' EXIT
printf 'import QtQuick 2.15\nimport Zelko 1.0\nItem { Request { id: r } Component.onCompleted: r.noSuchMethod() }\n' >"$probe"
if [ -z "$(zelko_problems "$probe")" ]; then
    echo "qmllint: the Zelko type check does not see a missing method; it checks nothing" >&2
    exit 1
fi
failed=0
for f in "${files[@]}"; do
    [[ $f == *.qml ]] || continue
    problems=$(zelko_problems "$f")
    if [ -n "$problems" ]; then
        echo "$f:" >&2
        echo "$problems" >&2
        failed=1
    fi
done
[ $failed -eq 0 ] || exit 1
echo "qmllint: the Zelko types of every file resolve against $zelkotypes"
