#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine, builds the client and the
# reference search service, starts the service on loopback and the client full
# screen. Without a display the client runs under Xvfb: the script saves a
# screenshot of the results screen, prints its path and stops the client. The
# service stops when the client does.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZELKO_BUILD_DIR:-$top/build}
. "$top/scripts/service-address.sh"
"$top/scripts/deps.sh"
"$top/scripts/build.sh"
if [ ! -x "$build/service/zelko-service" ]; then
    echo "no $build/service/zelko-service: that build was configured without the reference service" \
        "(ZELKO_BUILD_SERVICE=OFF)" >&2
    exit 1
fi

# The service listens on the port the client was built to send its queries to.
url=$zelko_service_url
hostport=${url#*://}
hostport=${hostport%%/*}
port=${hostport##*:}

logs=$build/run
mkdir -p "$logs"
service= xvfb= client=
stop() {
    for pid in $client $xvfb $service; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap stop EXIT

# wait_for FILE PATTERN SECONDS PID: until FILE holds PATTERN; fails if PID ends first.
wait_for() {
    local tries=$(( $3 * 10 ))
    for _ in $(seq "$tries"); do
        grep -q "$2" "$1" 2>/dev/null && return 0
        kill -0 "$4" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

"$build/service/zelko-service" --port "$port" --exit-with-parent >"$logs/service.log" 2>&1 &
service=$!
if ! wait_for "$logs/service.log" 'listening on' 30 "$service"; then
    echo "the search service did not start:" >&2
    cat "$logs/service.log" >&2
    exit 1
fi
echo "search service: $(grep 'listening on' "$logs/service.log" | sed 's/.*listening on //') (log: $logs/service.log)"

if [ -n "${DISPLAY:-}" ]; then
    set +e
    "$build/bin/zelko"
    status=$?
    set -e
    exit "$status"
fi

shot=${ZELKO_SCREENSHOT:-$build/zelko-results.png}
: >"$logs/display"
Xvfb -displayfd 3 -screen 0 480x800x24 -nolisten tcp 3>"$logs/display" 2>"$logs/xvfb.log" &
xvfb=$!
if ! wait_for "$logs/display" '[0-9]' 10 "$xvfb"; then
    echo "Xvfb did not start:" >&2
    cat "$logs/xvfb.log" >&2
    exit 1
fi
export DISPLAY=:$(tr -dc 0-9 <"$logs/display")

"$build/bin/zelko" >"$logs/client.log" 2>&1 &
client=$!
if ! wait_for "$logs/client.log" 'zelko: results shown' 60 "$client"; then
    echo "the client showed no results:" >&2
    cat "$logs/client.log" >&2
    exit 1
fi
# The X server may show the last frames a moment after the client drew them:
# take pictures until two in a row agree.
import -window root "$logs/shot-a.png"
for _ in $(seq 50); do
    sleep 0.2
    import -window root "$logs/shot-b.png"
    cmp -s "$logs/shot-a.png" "$logs/shot-b.png" && break
    mv "$logs/shot-b.png" "$logs/shot-a.png"
done
mkdir -p "$(dirname "$shot")"
mv "$logs/shot-a.png" "$shot"
rm -f "$logs/shot-b.png"
echo "no display: ran under Xvfb, screenshot of the results screen saved to $shot"
