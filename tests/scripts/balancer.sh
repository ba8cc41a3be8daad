#!/usr/bin/env bash
# haproxy in front of two zelko-service instances on one index file, configured as
# service/README.md says, under a checked wrk load (scripts/load-check.lua); one instance
# is killed in the middle. Every answer that arrives must be right; haproxy must mark the
# dead one down, and then no request may fail.
#   balancer.sh SERVICE_BINARY STATUS_FILE FRAME_BINARY
set -euo pipefail
service=${1:?usage: balancer.sh SERVICE_BINARY STATUS_FILE FRAME_BINARY}
status=${2:?usage: balancer.sh SERVICE_BINARY STATUS_FILE FRAME_BINARY}
frame=${3:?usage: balancer.sh SERVICE_BINARY STATUS_FILE FRAME_BINARY}
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do
        kill "$p" 2>/dev/null || true
        wait "$p" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
. "$top/scripts/load-common.sh"
fail() {
    echo "balancer: $*" >&2
    cat "$work"/*.err "$work"/*.haproxy.log >&2 2>/dev/null || true
    exit 1
}

"$service" --status-file "$status" --build-index "$work/index" >/dev/null
ports=()
for name in a b; do
    start_service "$name" --index "$work/index" --status-file "$status"
    pids+=("$pid")
    ports+=("${url#http://127.0.0.1:}")
done
a_pid=${pids[0]}
front=$(free_port)
start_haproxy balancer "frontend zelko
    bind 127.0.0.1:$front
    default_backend search
backend search
    balance roundrobin
    option redispatch
    retries 3
    option httpchk
    http-check send meth POST uri /search
    default-server check inter 200ms fall 2 rise 2
    server a 127.0.0.1:${ports[0]%/search}
    server b 127.0.0.1:${ports[1]%/search}" "$front"
pids+=("$haproxy_pid")
front_url=http://127.0.0.1:$front/search

# The load, with one instance killed a second into it: what arrives must be right.
(sleep 1 && kill -9 "$a_pid") &
run_wrk killed "$front_url" 8 3
[ "${checked:-0}" -gt 0 ] || fail "no answers through the balancer"
[ "$wrong" = 0 ] || fail "$wrong wrong answers through the balancer"
before=$(haproxy_stat balancer search a stot)

# Marked down by its health check, the dead one gets no more requests, and none fails.
for _ in $(seq 100); do
    [ "$(haproxy_stat balancer search a status)" = DOWN ] && break
    sleep 0.1
done
[ "$(haproxy_stat balancer search a status)" = DOWN ] || fail "the killed instance is not marked down"
run_wrk after "$front_url" 8 2
[ "${checked:-0}" -gt 0 ] || fail "no answers after the kill"
[ "$wrong" = 0 ] && [ "$refused" = 0 ] || fail "after the kill: $wrong wrong, $refused refused"
! grep -qE 'Socket errors|Non-2xx' "$work/after.out" || fail "failed requests after the kill"
[ "$(haproxy_stat balancer search a stot)" = "$before" ] || fail "requests still sent to the dead instance"
echo "balancer: $checked answers through haproxy after one of two instances died, all right"
