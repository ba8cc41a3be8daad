#!/usr/bin/env bash
# Runs the given qmllint, Qt 5's or Qt 6's, over every QML and JavaScript file under
# qml/Zelko and every QML example of docs/qml-api.md: first the command that page gives
# for that Qt, verbatim but for the paths, which must pass on every example (and on
# Qt 5 on the client's files) and fail on uses the module does not allow; then (Qt 6)
# every diagnostic of the client's files, and its language server, qmlls, must report
# nothing on the examples.
# Usage: scripts/check-qml.sh [qmllint] [plugins.qmltypes of Zelko]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
qmllint=${1:-/usr/lib/qt5/bin/qmllint}
zelkotypes=${2:-}
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

# The documentation's examples, as a reader copies them.
mkdir -p "$work/examples"
python3 - "$top/docs/qml-api.md" "$work/examples" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
for i, example in enumerate(re.findall(r"```qml\n(.*?)```", text, re.S)):
    open("%s/example%d.qml" % (sys.argv[2], i + 1), "w").write(example)
PY
mapfile -t examples < <(find "$work/examples" -name '*.qml' | sort)
mapfile -t qmlfiles < <(printf '%s\n' "${files[@]}" | grep '\.qml$')

# The module as qmllint finds it: qmldir and description, no plugin (it loads none).
mkdir -p "$work/imports/Zelko" "$work/cwd"
cp "$top/plugin/qmldir" "$work/imports/Zelko/qmldir"
[ -z "$zelkotypes" ] || cp "$zelkotypes" "$work/imports/Zelko/plugins.qmltypes"

# documented FILE...: the page's command for this Qt on each file, from an empty folder
# (Qt 6's qmllint imports any qmldir or qmltypes file it finds there); the files it fails on.
major=5
"$qmllint" --version 2>/dev/null | grep -q '^qmllint 6\.' && major=6
doc_command=$(sed -n '/^### Checking your QML/,/^## /p' "$top/docs/qml-api.md" |
    grep "^/usr/lib/qt$major/bin/qmllint " || true)
if [ -z "$doc_command" ] || [ -z "$zelkotypes" ]; then
    echo "check-qml: docs/qml-api.md gives no qmllint command for Qt $major, or no description was given" >&2
    exit 1
fi
doc_command=${doc_command//\/usr\/lib\/qt$major\/bin\/qmllint/$qmllint}
doc_command=${doc_command//\/usr\/lib\/x86_64-linux-gnu\/qt$major\/qml/$work/imports}
documented() {
    local f
    for f in "$@"; do
        (cd "$work/cwd" && bash -c "${doc_command//my.qml/\"\$1\"}" check "$f") >"$work/out" 2>&1 ||
            { echo "$f:"; cat "$work/out"; }
    done
}
# The command must see uses the module does not allow, or it proves nothing.
probes=('r.noSuchMethod()' 's.noSuchMethod()')
[ $major -eq 5 ] || probes+=('r.parseResource(null)' 'r.arrived("", null)')
for probe in "${probes[@]}"; do
    printf '%s\n' 'import QtQuick 2.15' 'import Zelko 1.0' \
        "Item { Request { id: r } Settings { id: s } Component.onCompleted: $probe }" >"$work/probe.qml"
    if [ -z "$(documented "$work/probe.qml")" ]; then
        echo "check-qml: the documented Qt $major command lets '$probe' pass; it checks nothing" >&2
        exit 1
    fi
done
checked=("${examples[@]}")
[ $major -eq 6 ] || checked+=("${qmlfiles[@]}")
problems=$(documented "${checked[@]}")
if [ -n "$problems" ]; then
    printf '%s\n' "$problems" >&2
    exit 1
fi
echo "check-qml: the documented Qt $major command passes on ${#checked[@]} files and refuses ${#probes[@]} wrong uses"

if [ $major -eq 6 ]; then
    # In the client's files everything it reports counts but one kind, which Qt 6.4 says of
    # code that runs as meant on both Qt versions: names a delegate or an inline component
    # takes from its context. A name that a signal handler takes without declaring it counts:
    # Qt 6 warns of it on every call. In the examples everything counts.
    zelko_problems() {
        # An empty working folder: qmllint imports any qmldir or qmltypes file it finds there.
        # (No --ignore-settings: Qt 6.4's drops the -I folders with the settings.)
        (cd "$work/cwd" && "$qmllint" -I "$work/imports" --json "$work/lint.json" "$@" >/dev/null 2>&1) || true
        python3 - "$work/lint.json" "$work/examples" <<'PY'
import json, sys
for f in json.load(open(sys.argv[1]))["files"]:
    example = f["filename"].startswith(sys.argv[2])
    for w in f["warnings"]:
        message = w["message"]
        if w["type"] not in ("warning", "critical") and not example:
            continue
        if not example and message == "Unqualified access" and not any(
                "handling a signal" in s["message"] for s in w.get("suggestions", [])):
            continue
        print("%s:%s:%s: %s" % (f["filename"], w.get("line", 0), w.get("column", 0), message.strip()))
PY
    }
    # The pass must see an undeclared handler parameter, or it proves nothing.
    printf '%s\n' 'import QtQuick 2.15' 'import Zelko 1.0' \
        'Item { Request { onError: console.log(errCode) } }' >"$work/probe.qml"
    if ! zelko_problems "$work/probe.qml" | grep -q 'Unqualified access'; then
        echo "qmllint: the check does not see an undeclared handler parameter; it checks nothing" >&2
        exit 1
    fi
    problems=$(zelko_problems "${files[@]}" "${examples[@]}")
    if [ -n "$problems" ]; then
        printf '%s\n' "$problems" >&2
        exit 1
    fi
    echo "qmllint ($("$qmllint" --version)): ${#files[@]} files and ${#examples[@]} examples clean; the Zelko types resolve against $zelkotypes"

    # What an editor shows: qmlls, given the module's folder as a build folder, as the
    # documentation says. Each example is opened; the diagnostics it publishes must be none.
    qmlls=$(dirname "$qmllint")/qmlls
    (cd "$work/cwd" && timeout 120 python3 - "$qmlls" "$work/imports" "${examples[@]}") <<'PY'
import json, os, subprocess, sys
qmlls, imports, files = sys.argv[1], sys.argv[2], sys.argv[3:]
server = subprocess.Popen([qmlls, "-b", imports], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL)
def send(message):
    body = json.dumps(dict(message, jsonrpc="2.0")).encode()
    server.stdin.write(b"Content-Length: %d\r\n\r\n%s" % (len(body), body))
    server.stdin.flush()
def receive():
    length = 0
    while True:
        line = server.stdout.readline()
        if not line:
            sys.exit("qmlls: it ended before answering")
        if line.strip() == b"":
            break
        if line.lower().startswith(b"content-length:"):
            length = int(line.split(b":")[1])
    return json.loads(server.stdout.read(length))
send({"id": 1, "method": "initialize", "params": {"processId": None, "rootUri": None, "capabilities": {}}})
while receive().get("id") != 1:
    pass
send({"method": "initialized", "params": {}})
failed = False
for path in files:
    uri = "file://" + os.path.abspath(path)
    send({"method": "textDocument/didOpen", "params": {"textDocument": {
        "uri": uri, "languageId": "qml", "version": 1, "text": open(path).read()}}})
    while True:
        message = receive()
        if message.get("method") == "textDocument/publishDiagnostics" and message["params"]["uri"] == uri:
            break
    for d in message["params"]["diagnostics"]:
        failed = True
        print("%s:%d: qmlls: %s" % (path, d["range"]["start"]["line"] + 1, d["message"]), file=sys.stderr)
server.stdin.close()
try:
    server.wait(timeout=10)
except subprocess.TimeoutExpired:
    server.kill()
if failed:
    sys.exit(1)
print("qmlls: %d examples without a diagnostic" % len(files))
PY
    exit 0
fi

"$qmllint" "${files[@]}"
echo "qmllint: ${#files[@]} files clean"
