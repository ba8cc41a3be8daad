#!/usr/bin/env bash
# The reference service under load on loopback: wrk posts one signed search query
# over several connections for a fixed time; every answer must be a 200 carrying
# the byte-identical, error-free frame. Prints requests/s and latency. Then, in the
# same run: the load once more with no answer kept (--answer-cache 0, every one
# computed); the floor, the service answering every search with those same frame
# bytes (--canned-answer), so only the server's own work remains; and a well-kept
# peer's floor, haproxy answering the same bytes itself. ZELKO_LOAD_WIDE=1 adds ours,
# the floor and haproxy at 256 connections.
# Needs a normal build (build/, or $ZELKO_BUILD_DIR); ZELKO_LOAD_FLOOR=0 skips all but the first.
#   scripts/load.sh [SECONDS] [CONNECTIONS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZELKO_BUILD_DIR:-$top/build}
seconds=${1:-10}
connections=${2:-8}
service=$build/service/zelko-service
frame=$build/tools/zelko-frame
floor=${ZELKO_LOAD_FLOOR:-1}
wide=${ZELKO_LOAD_WIDE:-0}
work=$(mktemp -d)
pid=
haproxy_pid=
stop() {
    for p in $pid $haproxy_pid; do
        kill "$p" 2>/dev/null || true
        wait "$p" 2>/dev/null || true
    done
    pid= haproxy_pid=
}
trap 'stop; rm -rf "$work"' EXIT
. "$top/scripts/load-common.sh"

# run_load NAME CONNECTIONS: the checked load against $url; every answer must be right.
run_load() {
    run_wrk "$1" "$url" "$2" "$seconds"
    if [ "${checked:-0}" = 0 ] || [ "$wrong" != 0 ] || [ "$refused" != 0 ]; then
        echo "load: wrong, refused or no answers" >&2
        exit 1
    fi
    if grep -qE 'Non-2xx|Socket errors' "$work/$1.out"; then
        echo "load: failed requests" >&2
        exit 1
    fi
    kill -0 "${haproxy_pid:-$pid}" || { echo "load: the server died" >&2; exit 1; }
}

# measure NAME CONNECTIONS HOW...: starts the server HOW says (service OPTIONS, or
# haproxy), loads it, stops it; leaves NAME=rate NAME50=p50 NAME99=p99 in $results.
results=
measure() {
    local name=$1 conns=$2
    shift 2
    if [ "${1:-}" = haproxy ]; then
        local port
        port=$(free_port)
        start_haproxy canned "frontend canned
    bind 127.0.0.1:$port
    http-request return status 200 content-type application/octet-stream file $work/expected.bin" "$port"
        url=http://127.0.0.1:$port/search
    else
        start_service "$name" "$@"
    fi
    run_load "$name" "$conns"
    stop
    results+=" $name=$rate ${name}50=$p50 ${name}99=$p99"
}

measure ours "$connections"
echo "load: $rate requests/s over $connections connections for ${seconds}s, none failed"
if [ "$floor" = 0 ]; then
    echo "load-result$results"
    exit 0
fi
mv "$work/answer.bin" "$work/expected.bin"
measure computed "$connections" --answer-cache 0
echo "load: with no answer kept: $rate requests/s"
measure floor "$connections" --canned-answer "$work/expected.bin"
echo "load: floor (the same frame from --canned-answer): $rate requests/s"
measure haproxy "$connections" haproxy
echo "load: haproxy answering the same frame: $rate requests/s"
if [ "$wide" = 1 ]; then
    measure ours256 256
    measure floor256 256 --canned-answer "$work/expected.bin"
    measure haproxy256 256 haproxy
fi
echo "load-result$results"
