#!/usr/bin/env bash
# Builds the .deb, installs it into a private root with its own dpkg database,
# runs it from there, removes it and checks that nothing is left behind. The
# machine's own package database is never touched.
set -euo pipefail

build=${1:?usage: check-package.sh BUILD_DIR SOURCE_DIR}
source=${2:?usage: check-package.sh BUILD_DIR SOURCE_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

check() {
    local name=$1
    shift
    if "$@" >/dev/null 2>&1; then
        echo "PASS: $name"
        passed=$((passed + 1))
    else
        echo "FAIL: $name"
        failed=$((failed + 1))
    fi
}

check "the desktop entry is valid" desktop-file-validate "$source/resources/kelvane.desktop"

(cd "$build" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/pkg/*.deb)
echo "package: $(basename "$deb")"
dpkg-deb -c "$deb" >"$work/contents"

check "the package holds the program" grep -q '\./usr/bin/kelvane$' "$work/contents"
check "the package holds the desktop entry" grep -q 'usr/share/applications/kelvane.desktop$' "$work/contents"
check "the package holds the themed icon" grep -q 'usr/share/icons/hicolor/32x32/apps/kelvane.xpm$' "$work/contents"
check "the package holds the licence" grep -q 'usr/share/doc/kelvane/copyright$' "$work/contents"
check "the package depends on Qt's widgets library" bash -c "dpkg-deb -f '$deb' Depends | grep -q libqt6widgets6"

root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
pkg() { dpkg --force-not-root --force-depends --instdir="$root" --admindir="$root/var/lib/dpkg" "$@"; }

check "the package installs" pkg -i "$deb"
check "the installed program runs" bash -c "'$root/usr/bin/kelvane' --version | grep -qx 'Kelvane 2.05.0003'"
check "the package removes cleanly" pkg -r kelvane
check "nothing of it is left" test -z "$(find "$root/usr" -type f 2>/dev/null)"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
