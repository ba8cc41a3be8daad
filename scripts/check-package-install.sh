#!/usr/bin/env bash
# Installs the Debian package that the test build made with apt, as a user would,
# runs the module scenario through the QML viewer of the build's Qt (qmlscene; qml
# on Qt 6) against the packaged reference service (in a network of its own, at the
# local service address, which the scenario names), and removes the package again.
# Needs root. Builds for Qt 5 and Qt 6 make packages of the same name: check one
# at a time.
#   scripts/check-package-install.sh BUILD_DIR
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: check-package-install.sh BUILD_DIR}" && pwd)
deb=$(ls "$build"/package/zelko_*.deb | head -n1)
if [ "$(id -u)" -ne 0 ]; then
    echo "check-package-install: needs root to install $deb" >&2
    exit 1
fi
url=$(sed -n 's/^ZELKO_SERVICE_URL:STRING=//p' "$build/CMakeCache.txt")
qt=$(sed -n 's/^ZELKO_QT_VERSION:STRING=//p' "$build/CMakeCache.txt")
qtbin=$(sed -n 's/^ZELKO_QT_BIN_DIR:INTERNAL=//p' "$build/CMakeCache.txt")
if [ "${qt:-5}" = 6 ]; then
    viewer=$qtbin/qml
else
    viewer=$qtbin/qmlscene
fi
if [ ! -x "$viewer" ]; then
    echo "check-package-install: no QML viewer at '$viewer' (scripts/deps.sh installs it)" >&2
    exit 1
fi
if ! dpkg-deb -c "$deb" | grep '/opt/zelko/bin/zelko-service$' >/dev/null; then
    echo "check-package-install: $deb has no zelko-service (built with ZELKO_BUILD_SERVICE=OFF)" >&2
    exit 1
fi
. "$top/scripts/service-address.sh"
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq "$deb" >/dev/null
work=$(mktemp -d)
trap 'apt-get remove -y -qq zelko >/dev/null; rm -rf "$work"' EXIT

local_url=http://$zelko_local_host:$zelko_local_port/search
sed -e "s|@FEEDBACK_URL@|$zelko_feedback_url|g" -e "s|@STALL_URL@|$zelko_stall_url|g" \
    -e "s|@SERVICE_URL@|$local_url|g" -e "s|@DEFAULT_URL@|$url|g" \
    -e "s|@GARBAGE_URL@|http://$zelko_local_host:$((zelko_local_stall_port + 1))/search|g" \
    -e "s|@CERT_FILE@|$work/.local/state/zelko-service/zelko-service.crt|g" \
    "$top/tests/data/module/scenario.qml" >"$work/scenario.qml"
log=$work/log
# Its own /proc in its own PID namespace: Qt finds its program there.
if ! QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software XDG_CONFIG_HOME=$work HOME=$work \
    XDG_RUNTIME_DIR=$work timeout 120 unshare --net --mount --pid --fork --mount-proc --kill-child \
    "$top/tests/scripts/innetns.sh" /opt/zelko/bin/zelko-service "$top/tests/data/dpkg-status" "$local_url" \
    "$zelko_local_https_port" "$zelko_local_stall_port" \
    "$viewer" -I /opt/zelko/lib/qml "$work/scenario.qml" >"$log" 2>&1 || ! grep -q 'MODULE PASS' "$log"; then
    echo "check-package-install: the scenario failed against the installed package:" >&2
    cat "$log" >&2
    exit 1
fi
echo "package: $(basename "$deb") (Qt ${qt:-5}) installs with apt; the module scenario passes against its service"
