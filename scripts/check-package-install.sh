#!/usr/bin/env bash
# Installs the packages with apt, as a user would, and checks each as its user meets it:
#   zelko            alone: no service, no key anywhere;
#   zelko-service    its unit enabled and hardened (systemd-analyze's exposure at most 2.0),
#                    a key of its own (mode 0600) made at its first start;
#   qml-module-zelko a QML file of its own imports the module with no import path: the
#                    module scenario, through the QML viewer of the build's Qt (qmlscene; qml
#                    on Qt 6), against the installed service in a network of its own.
# Given the one package cpack makes (the Qt 6 and ARM builds), it holds all three. Everything
# is removed again. Needs root.
#   scripts/check-package-install.sh BUILD_DIR [PACKAGE.deb...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: check-package-install.sh BUILD_DIR [PACKAGE.deb...]}" && pwd)
shift
debs=("$@")
[ ${#debs[@]} -gt 0 ] || debs=("$build"/package/zelko_*.deb)
if [ "$(id -u)" -ne 0 ]; then
    echo "check-package-install: needs root to install ${debs[*]}" >&2
    exit 1
fi
url=$(sed -n 's/^ZELKO_SERVICE_URL:STRING=//p' "$build/CMakeCache.txt")
qt=$(sed -n 's/^ZELKO_QT_VERSION:STRING=//p' "$build/CMakeCache.txt")
qtbin=$(sed -n 's/^ZELKO_QT_BIN_DIR:INTERNAL=//p' "$build/CMakeCache.txt")
viewer=$qtbin/qmlscene
[ "${qt:-5}" = 6 ] && viewer=$qtbin/qml
if [ ! -x "$viewer" ]; then
    echo "check-package-install: no QML viewer at '$viewer' (scripts/deps.sh installs it)" >&2
    exit 1
fi
# deb_of NAME: the package file of that name; the only one when cpack made one.
deb_of() {
    local d
    for d in "${debs[@]}"; do
        [ "$(dpkg-deb -f "$d" Package)" = "$1" ] && { echo "$d"; return; }
    done
    [ ${#debs[@]} -eq 1 ] && echo "${debs[0]}"
}
fail() {
    echo "check-package-install: $*" >&2
    exit 1
}
. "$top/scripts/service-address.sh"
export DEBIAN_FRONTEND=noninteractive
names=()
for d in "${debs[@]}"; do names+=("$(dpkg-deb -f "$d" Package)"); done
work=$(mktemp -d)
# dpkg, not apt: apt refuses the whole removal when one of them is not installed.
trap 'dpkg --purge "${names[@]}" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
install() { apt-get install -y -qq "$1" >/dev/null || fail "apt could not install $1"; }

install "$(deb_of zelko)"
if [ ${#debs[@]} -gt 1 ]; then
    [ ! -e /usr/bin/zelko-service ] || fail "the client alone brought the service"
    ! dpkg -s zelko-service >/dev/null 2>&1 || fail "the client alone brought zelko-service"
fi
[ -z "$(find /usr /etc /var/lib -name '*zelko*.key' 2>/dev/null)" ] || fail "a key was installed"

install "$(deb_of zelko-service)"
unit=$(dpkg -L "$(dpkg-deb -f "$(deb_of zelko-service)" Package)" | grep '/zelko-service\.service$' | head -n1)
if [ ${#debs[@]} -gt 1 ]; then
    [ -L /etc/systemd/system/multi-user.target.wants/zelko-service.service ] || fail "the unit is not enabled"
fi
systemd-analyze security --offline=true --threshold=20 "$unit" >"$work/security" 2>&1 ||
    { cat "$work/security" >&2; fail "the unit is exposed more than 2.0"; }
# Its first start, where systemd would give it its state folder: a key of its own each time.
for state in a b; do
    STATE_DIRECTORY=$work/$state /usr/bin/zelko-service --port 0 --https-port 0 >"$work/$state.log" 2>&1 &
    pid=$!
    for _ in $(seq 300); do grep -q 'listening on' "$work/$state.log" && break; sleep 0.1; done
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    [ "$(stat -c %a "$work/$state/zelko-service.key")" = 600 ] || fail "the key is not mode 0600"
done
! cmp -s "$work/a/zelko-service.key" "$work/b/zelko-service.key" || fail "two first starts made the same key"

install "$(deb_of qml-module-zelko)"
local_url=http://$zelko_local_host:$zelko_local_port/search
sed -e "s|@FEEDBACK_URL@|$zelko_feedback_url|g" -e "s|@STALL_URL@|$zelko_stall_url|g" \
    -e "s|@SERVICE_URL@|$local_url|g" -e "s|@DEFAULT_URL@|$url|g" \
    -e "s|@GARBAGE_URL@|http://$zelko_local_host:$((zelko_local_stall_port + 1))/search|g" \
    -e "s|@CERT_FILE@|$work/.local/state/zelko-service/zelko-service.crt|g" \
    -e "s|@NAMES@|QtProject/$([ "${qt:-5}" = 6 ] && echo 'Qml Runtime' || echo QtQmlViewer)|g" \
    "$top/tests/data/module/scenario.qml" >"$work/scenario.qml"
log=$work/log
# Its own /proc in its own PID namespace: Qt finds its program there. No import path.
if ! QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software XDG_CONFIG_HOME=$work HOME=$work \
    XDG_RUNTIME_DIR=$work timeout 120 unshare --net --mount --pid --fork --mount-proc --kill-child \
    "$top/tests/scripts/innetns.sh" /usr/bin/zelko-service "$top/tests/data/dpkg-status" "$local_url" \
    "$zelko_local_https_port" "$zelko_local_stall_port" \
    "$viewer" "$work/scenario.qml" >"$log" 2>&1 || ! grep -q 'MODULE PASS' "$log"; then
    cat "$log" >&2
    fail "the module scenario failed against the installed packages"
fi
echo "packages: ${names[*]} (Qt ${qt:-5}) install with apt one by one; the client alone brings no service" \
    "and no key, the service's unit is enabled and hardened and it makes a key of its own, the module" \
    "imports with no import path and passes its scenario against the installed service"
