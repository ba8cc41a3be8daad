# shellcheck shell=bash
# What scripts/load.sh and the balancer test share: sourced, not run. Needs $work (a
# folder of the caller's), $frame (the zelko-frame binary) and, for start_service,
# $service (the zelko-service binary).

# The search query every load posts, signed by the client's rule.
ZELKO_LOAD_BODY=$("$frame" --search-query lib --page-size 20)
export ZELKO_LOAD_BODY
export ZELKO_LOAD_DIR=$work
load_lua=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/load-check.lua

# free_port: a port nothing listens on now.
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# start_service NAME [OPTION...]: zelko-service on free ports, its log in $work/NAME.log;
# sets pid and url once it listens.
start_service() {
    local name=$1
    shift
    # Made before the service starts, so that the loop below never reads a missing file.
    : >"$work/$name.log"
    XDG_STATE_HOME=$work/state "$service" --port 0 --https-port 0 "$@" >>"$work/$name.log" 2>"$work/$name.err" &
    pid=$!
    url=
    for _ in $(seq 300); do
        url=$(sed -n 's|.*listening on \(http://[^ ]*/search\).*|\1|p' "$work/$name.log")
        [ -n "$url" ] && return 0
        kill -0 "$pid" 2>/dev/null || { cat "$work/$name.log" "$work/$name.err" >&2; exit 1; }
        sleep 0.1
    done
    echo "zelko-service did not start" >&2
    exit 1
}

# start_haproxy NAME CONFIG_BODY: haproxy in the foreground on the given configuration
# (after a global section of ours, with its stats socket at $work/NAME.sock); sets
# haproxy_pid once PORT (the caller's, in the configuration) accepts connections.
start_haproxy() {
    local name=$1 body=$2 port=$3
    cat >"$work/$name.cfg" <<CFG
global
    maxconn 8192
    tune.bufsize 262144
    stats socket $work/$name.sock level admin
defaults
    mode http
    timeout connect 2s
    timeout client 30s
    timeout server 30s
$body
CFG
    haproxy -db -f "$work/$name.cfg" >"$work/$name.haproxy.log" 2>&1 &
    haproxy_pid=$!
    for _ in $(seq 300); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            return 0
        fi
        kill -0 "$haproxy_pid" 2>/dev/null || { cat "$work/$name.haproxy.log" >&2; exit 1; }
        sleep 0.1
    done
    echo "haproxy did not start" >&2
    exit 1
}

# haproxy_stat NAME BACKEND SERVER FIELD: a field of haproxy's "show stat" (status, stot, ...).
haproxy_stat() {
    python3 - "$work/$1.sock" "$2" "$3" "$4" <<'PY'
import socket, sys
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
s.sendall(b"show stat\n")
data = b""
while True:
    more = s.recv(65536)
    if not more:
        break
    data += more
lines = data.decode().splitlines()
header = lines[0].lstrip("# ").split(",")
for line in lines[1:]:
    row = dict(zip(header, line.split(",")))
    if row.get("pxname") == sys.argv[2] and row.get("svname") == sys.argv[3]:
        print(row.get(sys.argv[4], ""))
PY
}

# run_wrk NAME URL CONNECTIONS SECONDS: the checked load; its output in $work/NAME.out;
# sets rate, p50, p99, checked, wrong, refused.
run_wrk() {
    local name=$1 target=$2 conns=$3 secs=$4
    local threads=$((conns < 2 ? conns : 2))
    wrk -t"$threads" -c"$conns" -d"${secs}s" --timeout 10s -s "$load_lua" "$target" | tee "$work/$name.out"
    rate=$(sed -n 's/^Requests\/sec: *//p' "$work/$name.out")
    p50=$(sed -n 's/^latency percentiles: p50 \([0-9]*\) us.*/\1/p' "$work/$name.out")
    p99=$(sed -n 's/^latency percentiles: .*p99 \([0-9]*\) us/\1/p' "$work/$name.out")
    checked=$(sed -n 's/^checked answers: \([0-9]*\), .*/\1/p' "$work/$name.out")
    wrong=$(sed -n 's/^checked answers: .*wrong: \([0-9]*\),.*/\1/p' "$work/$name.out")
    refused=$(sed -n 's/^checked answers: .*refused: \([0-9]*\)$/\1/p' "$work/$name.out")
}
