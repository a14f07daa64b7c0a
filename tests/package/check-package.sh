#!/usr/bin/env bash
# Builds the .deb, installs it into a private root with its own dpkg database,
# runs it from there, removes it and checks that nothing is left behind. The
# machine's own package database is never touched.
set -euo pipefail

usage="usage: check-package.sh BUILD_DIR SOURCE_DIR VERSION"
build=${1:?$usage}
source=${2:?$usage}
version=${3:?$usage}
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


(cd "$build" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/pkg/*.deb)
echo "package: $(basename "$deb")"
dpkg-deb -c "$deb" >"$work/contents"

check "the package holds the program" grep -q '\./usr/bin/kelvane$' "$work/contents"
check "the package holds the desktop entry" grep -q 'usr/share/applications/kelvane.desktop$' "$work/contents"
check "the package holds the licence" grep -q 'usr/share/doc/kelvane/copyright$' "$work/contents"
check "the package depends on Qt's widgets library" bash -c "dpkg-deb -f '$deb' Depends | grep -q libqt6widgets6"

# As a distribution and a software centre take it.
dpkg-deb -x "$deb" "$work/files"
icon_is() {
    [ "$(identify -format %wx%h "$work/files/usr/share/icons/hicolor/$1x$1/apps/kelvane.png")" = "$1x$1" ]
}
for size in 32 48 64 128; do
    check "the package holds the icon at $size px" grep -q "usr/share/icons/hicolor/${size}x$size/apps/kelvane.png\$" "$work/contents"
    check "... and it is the picture at that size" icon_is "$size"
done
lintian --tag-display-limit 0 --display-info "$deb" >"$work/lintian.log" 2>&1 || true
check "lintian finds no error and no warning" bash -c "! grep -E '^(E|W): ' '$work/lintian.log'"
# Control-flow protection is left out: Debian's own start files (Scrt1.o,
# crti.o; 12 and 13 alike) carry no CET marking, so the linker marks no
# program, /usr/bin/ls no more than Kelvane, whose own code is built with
# it. Branch protection, which Debian 13's hardening-check asks of every
# program, is ARM's (BTI and PAC) and means nothing on x86.
skip=(--nocfprotection)
options=$(hardening-check --help 2>&1 || true)
[ "$(dpkg --print-architecture)" != arm64 ] && [[ $options == *--nobranchprotection* ]] &&
    skip+=(--nobranchprotection)
check "the program is hardened (hardening-check)" \
    hardening-check "${skip[@]}" "$work/files/usr/bin/kelvane"
appstreamcli validate --no-net --pedantic "$work/files/usr/share/metainfo/org.kelvane.kelvane.metainfo.xml" \
    >"$work/appstream.log" 2>&1
check "the listing validates (appstreamcli), with nothing to say even pedantically" \
    bash -c "grep -q 'Validation was successful' '$work/appstream.log' && ! grep -E '^[EWIP]: ' '$work/appstream.log'"
check "the installed desktop entry is valid" desktop-file-validate "$work/files/usr/share/applications/kelvane.desktop"
# One version: the build's, in every place it appears.
check "the package's version is the build's" test "$(dpkg-deb -f "$deb" Version)" = "$version"
check "the changelog's latest entry is the build's version" \
    test "$(dpkg-parsechangelog -l "$source/resources/linux/changelog" -S Version)" = "$version"
check "the listing's release is the build's version" \
    grep -q "<release version=\"$version\"" "$work/files/usr/share/metainfo/org.kelvane.kelvane.metainfo.xml"
check "the manual page names the build's version" \
    bash -c "zcat '$work/files/usr/share/man/man1/kelvane.1.gz' | head -1 | grep -q 'Kelvane $version'"

root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
pkg() { dpkg --force-not-root --force-depends --instdir="$root" --admindir="$root/var/lib/dpkg" "$@"; }

check "the package installs" pkg -i "$deb"
check "the installed program runs and says the build's version" \
    bash -c "'$root/usr/bin/kelvane' --version | grep -qx 'Kelvane $version'"
check "the package removes cleanly" pkg -r kelvane
check "nothing of it is left" test -z "$(find "$root/usr" -type f 2>/dev/null)"

[ "$failed" -eq 0 ] || cat "$work/lintian.log" "$work/appstream.log"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
