#!/usr/bin/env bash
# Builds the Windows installer, installs it silently into a Wine prefix,
# starts the installed program, uninstalls it and checks that nothing is
# left behind.
set -uo pipefail
build=${1:?usage: check-installer.sh BUILD_DIR PROBE_EXE PREFIX}
probe_exe=${2:?}
prefix=${3:?}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/virtual-desktop.sh"
KELVANE=unused
source "$here/../desktop/lib.sh"

vd_session
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX=$prefix
(cd "$build" && cpack -G NSIS -B "$work/pkg" >"$work/cpack.log" 2>&1) || {
    cat "$work/cpack.log"
    exit 1
}
installer=$(ls "$work"/pkg/kelvane-*-win64.exe)
echo "installer: $(basename "$installer"), $(stat -c %s "$installer") bytes"

folder="$WINEPREFIX/drive_c/Program Files/Kelvane"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvane'
shortcuts() { find "$WINEPREFIX/drive_c" -iname 'Kelvane*.lnk' 2>/dev/null | grep .; }
registered() { wine reg query "$uninstall_key" >/dev/null 2>&1; }
starts_at_sign_in() {
    wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v Kelvane >/dev/null 2>&1
}
popup_rests() { wine "$probe_exe" popup 2>/dev/null | grep -q '^775 609 '; }

# Wine's desktop process starts with the first program and keeps the
# display it found: the display comes first.
vd_start_display 960x720
start_tray
wine "$installer" /S >"$work/install.log" 2>&1
check "the silent installer puts kelvane.exe in Program Files" test -f "$folder/kelvane.exe"
check "with an uninstaller beside it" test -f "$folder/Uninstall.exe"
check "and a Start menu entry" shortcuts
check "and its entry among installed programs" registered
check "a silent installation does not start Kelvane at sign-in" not starts_at_sign_in

wine "$folder/kelvane.exe" >"$work/installed.log" 2>&1 &
kelvane_pid=$!
pids+=($kelvane_pid)
check "the installed program starts and shows its popup" wait_for 30 popup_rests
read -r x y w h v < <(wine "$probe_exe" popup 2>/dev/null)
xdotool mousemove $((x + 2287 / 15)) $((y + 967 / 15)) click 1
wait_for 10 bash -c "! kill -0 $kelvane_pid 2>/dev/null"

wine "$folder/Uninstall.exe" /S >"$work/uninstall.log" 2>&1
gone() { [ ! -e "$folder" ]; }
check "the uninstaller removes the program's folder" wait_for 30 gone
check "and the Start menu entry" not shortcuts
check "and its entry among installed programs" not registered
wineserver -k 2>/dev/null

summary
