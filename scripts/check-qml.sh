#!/usr/bin/env bash
# Runs the given qmllint, Qt 5's or Qt 6's, over every QML and JavaScript file under
# qml/Zelko. Given the module's type description, a second pass (Qt 5) or the one
# pass (Qt 6) resolves the Zelko types and fails on any it cannot find or any member
# they lack.
# Usage: scripts/check-qml.sh [qmllint] [plugins.qmltypes of Zelko] [Qt's QML folder]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
qmllint=${1:-/usr/lib/qt5/bin/qmllint}
zelkotypes=${2:-}
qtqml=${3:-}
if [ ! -x "$qmllint" ]; then
    echo "qmllint not found at '$qmllint' (Debian: qtdeclarative5-dev-tools, qt6-declarative-dev-tools)" >&2
    exit 1
fi
mapfile -t files < <(find "$top/qml/Zelko" -type f \( -name '*.qml' -o -name '*.js' \) | sort)
if [ ${#files[@]} -eq 0 ]; then
    echo "no QML files under $top/qml/Zelko" >&2
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Qt 5's says "qmllint 1.0".
if "$qmllint" --version 2>/dev/null | grep -q '^qmllint 6\.'; then
    if [ -z "$zelkotypes" ]; then
        echo "check-qml: Qt 6's qmllint resolves every type it meets: give it the module's description" >&2
        exit 1
    fi
    # The module as qmllint finds it: qmldir and description, no plugin (it loads none).
    mkdir -p "$work/imports/Zelko" "$work/cwd"
    cp "$top/plugin/qmldir" "$work/imports/Zelko/qmldir"
    cp "$zelkotypes" "$work/imports/Zelko/plugins.qmltypes"
    # Everything it reports counts but three kinds, which Qt 6.4 says of code that runs as meant
    # on both Qt versions: names a delegate or an inline component takes from its context, and
    # two marks of a description written by qmlplugindump (the version a type was registered
    # under, "string" for QString). A name that a signal handler takes without declaring it
    # counts: Qt 6 warns of it on every call.
    zelko_problems() {
        # An empty working folder: qmllint imports any qmldir or qmltypes file it finds there.
        # (No --ignore-settings: Qt 6.4's drops the -I folders with the settings.)
        (cd "$work/cwd" && "$qmllint" -I "$work/imports" --json "$work/lint.json" "$@" >/dev/null 2>&1) || true
        python3 - "$work/lint.json" <<'PY'
import json, re, sys
revision = re.compile(r"plugins\.qmltypes:\d+:\d+: Meta object revision and export version differ\.$"
                      r"|Revision 0 corresponds to version 0\.0; it should be 1\.0\.$")
for f in json.load(open(sys.argv[1]))["files"]:
    for w in f["warnings"]:
        message = w["message"]
        if w["type"] not in ("warning", "critical"):
            continue
        if message == 'Warnings occurred while importing module "Zelko":':
            continue
        if all(revision.search(line) for line in message.splitlines() if line.strip()):
            continue
        if message == "Unqualified access" and not any(
                "handling a signal" in s["message"] for s in w.get("suggestions", [])):
            continue
        if message == "Cannot assign binding of type string to QString":
            continue
        print("%s:%s:%s: %s" % (f["filename"], w.get("line", 0), w.get("column", 0), message.strip()))
PY
    }
    # The pass must see broken uses, or it proves nothing.
    printf '%s\n' 'import QtQuick 2.15' 'import Zelko 1.0' \
        'Item { Request { id: r; onError: console.log(errCode) } Component.onCompleted: r.noSuchMethod() }' \
        >"$work/probe.qml"
    probe=$(zelko_problems "$work/probe.qml")
    if ! grep -q '"noSuchMethod" not found on type "Request"' <<<"$probe" ||
        ! grep -q 'Unqualified access' <<<"$probe"; then
        echo "qmllint: the check does not see a missing method or an undeclared handler parameter; it checks nothing" >&2
        printf '%s\n' "$probe" >&2
        exit 1
    fi
    problems=$(zelko_problems "${files[@]}")
    if [ -n "$problems" ]; then
        printf '%s\n' "$problems" >&2
        exit 1
    fi
    echo "qmllint ($("$qmllint" --version)): ${#files[@]} files clean; the Zelko types resolve against $zelkotypes"
    exit 0
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
probe=$work/probe.qml
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
