#!/usr/bin/env bash
# The service's log cannot stop it: with standard error a pipe that nobody reads, 6,000
# queries (several times what fills the pipe) are all answered. Under systemd (JOURNAL_STREAM
# names its standard error) each answer is a journal entry with fields, sent to a journal
# socket of the test's own in a mount namespace of its own.
#   servicelog.sh SERVICE_BINARY STATUS_FILE
set -euo pipefail
service=${1:?usage: servicelog.sh SERVICE_BINARY STATUS_FILE} status=$2
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
export XDG_STATE_HOME=$work/state

# start WHERE_STDERR_GOES...: the service on free ports; sets port once it listens.
start() {
    "$service" --port 0 --https-port 0 --status-file "$status" >"$work/out" "$@" &
    for _ in $(seq 300); do
        port=$(sed -n 's|.*listening on http://[^:]*:\([0-9]*\)/search.*|\1|p' "$work/out")
        [ -n "$port" ] && return 0
        sleep 0.1
    done
    echo "servicelog: the service did not start" >&2
    exit 1
}
# queries PORT N: N signed searches on one kept-alive connection; how many were answered 200.
queries() {
    python3 - "$1" "$2" "$(zelko_query)" <<'PY'
import http.client, sys
port, n, body = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
c = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
ok = 0
for _ in range(n):
    c.request("POST", "/search", body)
    r = c.getresponse()
    r.read()
    ok += r.status == 200
print(ok)
PY
}
zelko_query() { echo '{"service":1,"q":"zlib","page":0,"pageSize":3,"sign":"0"}'; }

# A pipe that nobody reads: its reader sleeps.
mkfifo "$work/stuck"
sleep 600 <"$work/stuck" >/dev/null 2>&1 &
start 2>"$work/stuck"
answered=$(queries "$port" 6000)
[ "$answered" = 6000 ] || { echo "servicelog: $answered of 6000 queries answered with its log stuck" >&2; exit 1; }
kill $(jobs -p)
echo "servicelog: 6000 of 6000 queries answered while nobody read the log"

# The journal: a socket of the test's own where systemd's would be.
as_root=()
[ "$(id -u)" = 0 ] || as_root=(--map-root-user)
unshare "${as_root[@]}" --mount sh -ec '
    mount -t tmpfs none /run 2>/dev/null || { mkdir -p /run/systemd/journal; mount -t tmpfs none /run/systemd/journal; }
    mkdir -p /run/systemd/journal
    exec "$@"' sh bash -ec '
    work=$1 service=$2 status=$3
    python3 -c "
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(\"/run/systemd/journal/socket\")
s.settimeout(20)
while True:
    entry = s.recv(65536).decode(\"utf-8\", \"replace\")
    if \"HTTP_STATUS\" in entry:
        print(entry)
        break
" >"$work/entry" &
    reader=$!
    while [ ! -S /run/systemd/journal/socket ]; do sleep 0.05; done
    : >"$work/err"
    stream=$(stat -c "%d:%i" "$work/err")
    JOURNAL_STREAM=$stream "$service" --port 0 --https-port 0 --status-file "$status" >"$work/out2" 2>>"$work/err" &
    pid=$!
    for _ in $(seq 300); do
        port=$(sed -n "s|.*listening on http://[^:]*:\([0-9]*\)/search.*|\1|p" "$work/out2")
        [ -n "$port" ] && break
        sleep 0.1
    done
    python3 -c "
import http.client, sys
c = http.client.HTTPConnection(\"127.0.0.1\", int(sys.argv[1]), timeout=10)
c.request(\"POST\", \"/search\", \"{}\")
c.getresponse().read()
" "$port"
    wait $reader
    kill $pid' sh "$work" "$service" "$status"
for field in HTTP_METHOD=POST HTTP_PATH=/search HTTP_STATUS=200 HTTP_BYTES= DURATION_US= PRIORITY=6; do
    grep -q "^$field" "$work/entry" || { echo "servicelog: no $field in the journal entry:" >&2; cat "$work/entry" >&2; exit 1; }
done
echo "servicelog: each answer is a journal entry with its method, path, status, size and duration"
