#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds, runs and tests with.
# Needs root (as on a fresh machine or in CI); does nothing when all are present.
set -euo pipefail

packages=(
    build-essential cmake pkg-config libbenchmark-dev
    qtbase5-dev qtbase5-private-dev qtdeclarative5-dev
    qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qttest
    qml-module-qtquick-controls2 qml-module-qtquick-templates2 fonts-dejavu-core
    zlib1g-dev libdeflate-dev libssl3 libssl-dev openssl libboost-dev libsqlite3-dev
    xvfb xauth x11-utils imagemagick haproxy systemd
    dpkg-dev qtdeclarative5-dev-tools qmlscene clang-format iproute2 python3
    # The Debian source package (debian/): its build, its manual pages, its check.
    debhelper scdoc lintian
    dbus python3-dbusmock libsystemd-dev
    clang libclang-rt-14-dev wrk qemu-user g++-arm-linux-gnueabihf
    # The same tree built and tested with Qt 6 (ZELKO_QT_VERSION=6): private headers for
    # the viewer test, the QML modules the screens import (QtQml's own two included, which
    # Qt 6 packages apart), the offscreen platform, the tools (qmllint, qmlplugindump,
    # qmlimportscanner) and the viewer qml.
    qt6-base-dev qt6-base-private-dev qt6-declarative-dev qt6-declarative-dev-tools qt6-qpa-plugins
    qml6-module-qtquick qml6-module-qtquick-window qml6-module-qtquick-controls
    qml6-module-qtquick-templates qml6-module-qtqml qml6-module-qtqml-models
    qml6-module-qtqml-workerscript qml6-module-qttest qml-qt6
    # The client on a phone's stack: a headless Wayland compositor and both Qts' Wayland
    # platforms, a screen reader's view over AT-SPI, the translators' tools of both Qts,
    # the validators of the launcher and software-centre files, and the renderer that
    # makes the icon's PNG from its SVG.
    weston qtwayland5 qt6-wayland at-spi2-core python3-pyatspi
    qttools5-dev-tools qt6-l10n-tools desktop-file-utils appstream librsvg2-bin
)

# install_missing PACKAGE...: installs those not installed yet (as root).
install_missing() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages: ${missing[*]} (run this script as root to install them)" >&2
        exit 1
    fi
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # Other builds on the machine may hold the lock for a while.
    # A mirror in the middle of a sync fails an update now and then: try again, and then go
    # on with the lists there are, which the install itself judges.
    local try updated=0
    for try in 1 2 3; do
        apt-get -o DPkg::Lock::Timeout=900 update -qq && { updated=1; break; }
        [ "$try" = 3 ] || sleep 20
    done
    if ! apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}"; then
        # Exit 75 (try again later) when the archive itself could not be read whole.
        [ "$updated" = 1 ] && exit 1
        echo "not installed: apt-get update failed three times (the archive above), and without" \
            "the lists it could not give ${missing[*]}" >&2
        exit 75
    fi
}

# Sourced (scripts/cross.sh), it only gives the list and the function: the cross builds
# take their target libraries from it, so a library added here reaches them too.
if [ "${BASH_SOURCE[0]}" != "$0" ]; then
    return 0
fi

install_missing "${packages[@]}"
