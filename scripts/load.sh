#!/usr/bin/env bash
# The reference service under load on loopback: wrk posts one signed search query
# over several connections for a fixed time; every answer must be a 200 carrying
# the byte-identical, error-free frame. Prints requests/s. Needs a normal build
# (build/, or $ZELKO_BUILD_DIR).  scripts/load.sh [SECONDS] [CONNECTIONS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZELKO_BUILD_DIR:-$top/build}
seconds=${1:-10}
connections=${2:-8}
service=$build/service/zelko-service
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT

# Made before the service starts, so that the loop below never reads a missing file.
: >"$work/service.log"
"$service" --port 0 --https-port 0 >>"$work/service.log" 2>"$work/service.err" &
pid=$!
url=
for _ in $(seq 300); do
    url=$(sed -n 's|.*listening on \(http://[^ ]*/search\).*|\1|p' "$work/service.log")
    [ -n "$url" ] && break
    kill -0 "$pid" 2>/dev/null || { cat "$work/service.log" "$work/service.err" >&2; exit 1; }
    sleep 0.1
done
[ -n "$url" ] || { echo "zelko-service did not start" >&2; exit 1; }

# The client's signing rule, computed here with coreutils rather than with our code.
md5() { printf '%s' "$1" | md5sum | cut -d' ' -f1; }
key=5C3A9E17D0B84F26A1E3C7B95D08F4A2E6C1B739
keypart=$(printf '%s' "$(md5 "$key")" | sha1sum | cut -d' ' -f1 | tr a-f A-F)
q=lib; page=0; size=20
sign=$(md5 "$keypart$(md5 "1|$q|$page|$size")")
body="{\"service\":1,\"q\":\"$q\",\"page\":$page,\"pageSize\":$size,\"sign\":\"$sign\"}"

cat >"$work/load.lua" <<LUA
wrk.method = "POST"
wrk.body = '$body'
local threads = {}
function setup(thread) table.insert(threads, thread) end
function init(args) first = nil; wrong = 0; answers = 0 end
-- Header of a good answer: head 0, service type 1, error byte 0.
local good = "\0\0\0\0\1\0\0\0\0"
function response(status, headers, body)
    answers = answers + 1
    if status ~= 200 or body:sub(1, 9) ~= good then wrong = wrong + 1; return end
    if first == nil then first = body elseif body ~= first then wrong = wrong + 1 end
end
function done(summary, latency, requests)
    local wrongs, answered = 0, 0
    for _, t in ipairs(threads) do wrongs = wrongs + t:get("wrong"); answered = answered + t:get("answers") end
    io.write(string.format("checked answers: %d, wrong: %d\n", answered, wrongs))
end
LUA

threads=$(( connections < 2 ? connections : 2 ))
wrk -t"$threads" -c"$connections" -d"${seconds}s" --timeout 10s -s "$work/load.lua" \
    "$url" | tee "$work/wrk.out"

grep -q '^checked answers: [1-9][0-9]*, wrong: 0$' "$work/wrk.out" || { echo "load: wrong or no answers" >&2; exit 1; }
if grep -qE 'Non-2xx|Socket errors' "$work/wrk.out"; then
    echo "load: failed requests" >&2
    exit 1
fi
kill -0 "$pid" || { echo "load: the service died" >&2; exit 1; }
echo "load: $(sed -n 's/^Requests\/sec: *//p' "$work/wrk.out") requests/s over $connections connections for ${seconds}s, none failed"
