#!/bin/sh
# Runs COMMAND in a network of its own (start it under "unshare --net --mount"),
# where the service address compiled into the client leads to the reference
# service: the client is tested as built, whatever that address is, and on ports
# no other program on the machine can hold.
#   innetns.sh SERVICE_BINARY STATUS_FILE SERVICE_URL HTTPS_PORT STALL_PORT COMMAND...
# STALL_PORT gets a listener that takes connections and never answers, STALL_PORT+1
# one that answers every request with a body that is no service frame.
# INNETNS_SERVICE_ARGS: more options for the service ("--canned-answer FILE");
# INNETNS_NO_SERVICE=1: no service at all, so that its address refuses connections.
# INNETNS_PRELOAD, when set, is preloaded into COMMAND only.
set -eu
service=$1 status=$2 url=$3 https=$4 stall=$5
shift 5

ip link set lo up
hostport=${url#*://}
hostport=${hostport%%/*}
host=${hostport%:*}
port=${hostport##*:}
case $host in
[0-9]*.[0-9]*.[0-9]*.[0-9]*) ;;
*)
    hosts=$(mktemp)
    cat /etc/hosts >"$hosts"
    echo "127.0.0.1 $host" >>"$hosts"
    mount --bind "$hosts" /etc/hosts
    ;;
esac

log=$(mktemp)
stalllog=$(mktemp)
# Both go with the command: under "unshare --pid", it becomes the namespace's init.
if [ -n "${INNETNS_NO_SERVICE:-}" ]; then
    echo "listening on nothing" >"$log"
else
    # shellcheck disable=SC2086 # options, split on purpose
    "$service" --host 127.0.0.1 --port "$port" --https-port "$https" --status-file "$status" \
        ${INNETNS_SERVICE_ARGS:-} >"$log" 2>&1 &
fi
/usr/bin/python3 -c '
import socket, sys, threading, time
def listen(port):
    s = socket.socket()
    s.bind(("127.0.0.1", port))
    s.listen(16)
    return s
def garbage(c):
    data = b""
    while b"\r\n\r\n" not in data:
        more = c.recv(65536)
        if not more:
            return
        data += more
    head, _, body = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            length = int(line.split(b":")[1])
    while len(body) < length:
        more = c.recv(65536)
        if not more:
            return
        body += more
    c.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 16\r\nConnection: close\r\n\r\nthis is no frame")
    c.close()
stall = listen(int(sys.argv[1]))
answers = listen(int(sys.argv[1]) + 1)
def serve():
    while True:
        threading.Thread(target=garbage, args=(answers.accept()[0],), daemon=True).start()
threading.Thread(target=serve, daemon=True).start()
print("stalling", flush=True)
time.sleep(600)
' "$stall" >"$stalllog" 2>&1 &
tries=0
until grep -q 'listening on' "$log" && grep -q stalling "$stalllog"; do
    tries=$((tries + 1))
    if [ $tries -gt 300 ]; then
        echo "innetns: the servers did not start:" >&2
        cat "$log" "$stalllog" >&2
        exit 97
    fi
    sleep 0.1
done
# Preloads for COMMAND alone (a sanitizer runtime), not for the servers or ip.
if [ -n "${INNETNS_PRELOAD:-}" ]; then
    LD_PRELOAD=$INNETNS_PRELOAD exec "$@"
fi
exec "$@"
