#!/usr/bin/env bash
# Checks, on the host and with dpkg-deb alone, that a built package is for the machine
# its programs were built for: its Architecture field, the ELF machine of every program
# and library in it (dpkg-deb -c, -x), and that every package it depends on is installed
# here for that architecture (or for all), as dpkg-shlibdeps finds them for the target.
#   scripts/check-package-arch.sh PACKAGE.deb ARCH
set -euo pipefail
deb=${1:?usage: check-package-arch.sh PACKAGE.deb ARCH}
arch=${2:?usage: check-package-arch.sh PACKAGE.deb ARCH}
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

# ELF e_machine of each Debian architecture the handsets or the hosts use.
case $arch in
    amd64) machine=62 ;;
    i386) machine=3 ;;
    arm64) machine=183 ;;
    armhf | armel) machine=40 ;;
    *)
        echo "check-package-arch: no ELF machine known for $arch" >&2
        exit 2
        ;;
esac

field=$(dpkg-deb -f "$deb" Architecture)
[ "$field" = "$arch" ] || fail "Architecture is '$field', not $arch"

# The program or library each package is for (cpack's one zelko holds them all).
case $(dpkg-deb -f "$deb" Package) in
    zelko) path=usr/lib/zelko/bin/zelko ;;
    qml-module-zelko) path='usr/lib/[^/]*/qt[56]/qml/Zelko/libzelkoplugin\.so' ;;
    zelko-service) path=usr/bin/zelko-service ;;
    zelko-tools) path=usr/bin/zelko-frame ;;
    *) path= ;;
esac
[ -n "$path" ] || fail "$(dpkg-deb -f "$deb" Package) is none of the project's packages"
contents=$(dpkg-deb -c "$deb")
grep -q " \./$path\$" <<<"$contents" || fail "no /$path in the package"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$deb" "$tmp"
elves=0
while IFS= read -r -d '' f; do
    [ "$(head -c 4 "$f" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
    elves=$((elves + 1))
    # e_machine: two bytes at offset 18, little-endian on every architecture above.
    got=$(od -An -tu2 -j18 -N2 "$f" | tr -d ' ')
    [ "$got" = "$machine" ] || fail "${f#"$tmp"} is for ELF machine $got, not $machine ($arch)"
done < <(find "$tmp" -type f -print0)
[ "$elves" -gt 0 ] || fail "no programs or libraries in the package"

depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libqt5core5a\|libqt6core6' <<<"$depends" || fail "Depends names no Qt core library: $depends"
grep -q 'libc6 (>=' <<<"$depends" || fail "Depends names no versioned libc6: $depends"
# Each dependency (the first of alternatives), without its version.
while read -r dep; do
    [ -n "$dep" ] || continue
    have=$(dpkg-query -W -f='${Status} ${Architecture}\n' "$dep:$arch" "$dep" 2>/dev/null \
        | awk '$3 == "installed" && ($4 == A || $4 == "all") { print $4; exit }' A="$arch")
    [ -n "$have" ] || fail "dependency $dep is not installed here for $arch"
done < <(tr ',' '\n' <<<"$depends" | sed 's/|.*//; s/(.*//; s/:.*//; s/[[:space:]]//g')

echo "package $(basename "$deb"): Architecture $field, $elves ELF files, Depends: $depends"
exit "$failed"
