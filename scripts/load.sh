#!/usr/bin/env bash
# The reference service under load on loopback: wrk posts one signed search query
# over several connections for a fixed time; every answer must be a 200 carrying
# the byte-identical, error-free frame. Prints requests/s and latency. Then the floor:
# the same load against the service answering every search with those same frame
# bytes (--canned-answer), so only the server's own work remains, and ours/floor. In
# between, the load once more with no answer kept (--answer-cache 0): every one computed.
# Needs a normal build (build/, or $ZELKO_BUILD_DIR); ZELKO_LOAD_FLOOR=0 skips the floor.
#   scripts/load.sh [SECONDS] [CONNECTIONS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZELKO_BUILD_DIR:-$top/build}
seconds=${1:-10}
connections=${2:-8}
service=$build/service/zelko-service
floor=${ZELKO_LOAD_FLOOR:-1}
work=$(mktemp -d)
pid=
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT

# start_service [OPTION...]: sets pid and url.
start_service() {
    # Made before the service starts, so that the loop below never reads a missing file.
    : >"$work/service.log"
    "$service" --port 0 --https-port 0 "$@" >>"$work/service.log" 2>"$work/service.err" &
    pid=$!
    url=
    for _ in $(seq 300); do
        url=$(sed -n 's|.*listening on \(http://[^ ]*/search\).*|\1|p' "$work/service.log")
        [ -n "$url" ] && return 0
        kill -0 "$pid" 2>/dev/null || { cat "$work/service.log" "$work/service.err" >&2; exit 1; }
        sleep 0.1
    done
    echo "zelko-service did not start" >&2
    exit 1
}

# The client's signing rule, computed here with coreutils rather than with our code.
md5() { printf '%s' "$1" | md5sum | cut -d' ' -f1; }
key=5C3A9E17D0B84F26A1E3C7B95D08F4A2E6C1B739
keypart=$(printf '%s' "$(md5 "$key")" | sha1sum | cut -d' ' -f1 | tr a-f A-F)
q=lib; page=0; size=20
sign=$(md5 "$keypart$(md5 "1|$q|$page|$size")")
body="{\"service\":1,\"q\":\"$q\",\"page\":$page,\"pageSize\":$size,\"sign\":\"$sign\"}"

# Every answer must equal the first one (in the floor run: the frame served), and the
# first must be a good one. wrk copies strings between threads only up to a NUL, so each
# thread keeps its first answer in a file of its own, and those are compared at the end.
cat >"$work/load.lua" <<LUA
wrk.method = "POST"
wrk.body = '$body'
local threads = {}
function setup(thread) table.insert(threads, thread); thread:set("id", #threads) end
local function slurp(path)
    local f = io.open(path, "rb")
    if not f then return nil end
    local text = f:read("*a"); f:close(); return text
end
function init(args)
    wrong = 0; answers = 0
    first = slurp("$work/expected.bin")
end
-- Header of a good answer: head 0, service type 1, error byte 0.
local good = "\0\0\0\0\1\0\0\0\0"
function response(status, headers, body)
    answers = answers + 1
    if status ~= 200 or body:sub(1, 9) ~= good then wrong = wrong + 1; return end
    if first == nil then
        first = body
        local out = io.open("$work/answer-" .. id .. ".bin", "wb"); out:write(body); out:close()
    elseif body ~= first then
        wrong = wrong + 1
    end
end
function done(summary, latency, requests)
    local wrongs, answered, seen = 0, 0, nil
    for i, t in ipairs(threads) do
        wrongs = wrongs + t:get("wrong"); answered = answered + t:get("answers")
        local f = slurp("$work/answer-" .. i .. ".bin")
        if f ~= nil then
            if seen == nil then seen = f elseif f ~= seen then wrongs = wrongs + 1 end
        end
    end
    if seen ~= nil then local out = io.open("$work/answer.bin", "wb"); out:write(seen); out:close() end
    io.write(string.format("checked answers: %d, wrong: %d\n", answered, wrongs))
    io.write(string.format("latency percentiles: p50 %d us, p99 %d us\n",
        latency:percentile(50), latency:percentile(99)))
end
LUA

threads=$(( connections < 2 ? connections : 2 ))
# run_load NAME: wrk against $url, its output in $work/NAME.out; sets rate, p50, p99.
run_load() {
    wrk -t"$threads" -c"$connections" -d"${seconds}s" --timeout 10s -s "$work/load.lua" \
        "$url" | tee "$work/$1.out"
    grep -q '^checked answers: [1-9][0-9]*, wrong: 0$' "$work/$1.out" || { echo "load: wrong or no answers" >&2; exit 1; }
    if grep -qE 'Non-2xx|Socket errors' "$work/$1.out"; then
        echo "load: failed requests" >&2
        exit 1
    fi
    kill -0 "$pid" || { echo "load: the service died" >&2; exit 1; }
    rate=$(sed -n 's/^Requests\/sec: *//p' "$work/$1.out")
    p50=$(sed -n 's/^latency percentiles: p50 \([0-9]*\) us.*/\1/p' "$work/$1.out")
    p99=$(sed -n 's/^latency percentiles: .*p99 \([0-9]*\) us/\1/p' "$work/$1.out")
}

start_service
run_load search
echo "load: $rate requests/s over $connections connections for ${seconds}s, none failed"
[ "$floor" = 0 ] && exit 0
ours=$rate ours50=$p50 ours99=$p99
kill "$pid"
wait "$pid" 2>/dev/null || true

mv "$work/answer.bin" "$work/expected.bin"
# The same load with every answer computed: no answer kept, each must still equal the first.
start_service --answer-cache 0
run_load uncached
echo "load: with no answer kept: $rate requests/s"
computed=$rate computed50=$p50 computed99=$p99
kill "$pid"
wait "$pid" 2>/dev/null || true

start_service --canned-answer "$work/expected.bin"
run_load floor
echo "load: floor (the same frame from --canned-answer): $rate requests/s; ours/floor $(awk -v o="$ours" -v f="$rate" 'BEGIN { printf "%.2f", (f > 0 ? o / f : 0) }')"
printf 'load-result\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$ours" "$rate" "$ours50" "$ours99" "$p50" "$p99" \
    "$computed" "$computed50" "$computed99"
