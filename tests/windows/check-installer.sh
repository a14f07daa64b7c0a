#!/usr/bin/env bash
# The installer as a careful user meets it: installed for that user alone,
# without administrator rights; over a running Kelvane; uninstalled while
# Kelvane runs; and, when a file cannot be removed, a failure that says so.
set -uo pipefail
build=${1:?usage: check-installer.sh BUILD_DIR PROBE_EXE PREFIX VERSION OBJDUMP}
probe_exe=${2:?}
prefix=${3:?}
version=${4:?}
objdump=${5:?}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/virtual-desktop.sh"
KELVANE=unused
source "$here/../desktop/lib.sh"
source "$here/lib.sh"

vd_session
# Without winemenubuilder, Wine's own mirror of the Start menu, which Windows
# has not: it wrote the shortcut's icon into the home folder of whoever ran
# the check, and opens kelvane.exe for that icon while the next installation
# must replace it.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" WINEPREFIX=$prefix
installer=$(ls "$build"/kelvane-*-win64.exe)
echo "installer: $(basename "$installer"), $(stat -c %s "$installer") bytes"

uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvane'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
folder() { find "$WINEPREFIX/drive_c/users" -maxdepth 6 -type d -path '*/AppData/Local/Programs/Kelvane' | head -1 | grep .; }
installed() { local f; f=$(folder) && [ -f "$f/kelvane.exe" ]; }
shortcuts() { find "$WINEPREFIX/drive_c" -iname 'Kelvane*.lnk' 2>/dev/null | grep .; }
registered() { wine reg query "$uninstall_key" >/dev/null 2>&1; }
starts_at_sign_in() { wine reg query "$run_key" /v Kelvane >/dev/null 2>&1; }
machine_wide() {
    [ -e "$WINEPREFIX/drive_c/Program Files/Kelvane" ] ||
        wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvane' >/dev/null 2>&1
}
popup_rests() { popup_is '775 609 '; }
winpath() { wine winepath -w "$1" 2>/dev/null | tr -d '\r'; }
start_installed() {
    wine "$(folder)/kelvane.exe" >"$work/$1.log" 2>&1 &
    kelvane_pid=$!
    pids+=($kelvane_pid)
    wait_for 30 popup_rests
}

check "the installer asks for no administrator rights" \
    grep -aq 'level="asInvoker"' "$installer"

# Wine's desktop process starts with the first program and keeps the
# display it found: the display comes first.
vd_start_display 960x720
start_tray
wine "$installer" /S >"$work/install.log" 2>&1
check "a silent installation exits 0" test "$?" = 0
check "it installs into the user's own programs folder" installed
check "with the licence and an uninstaller beside it" \
    test -f "$(folder)/LICENSE.txt" -a -f "$(folder)/Uninstall.exe"
check "and a Start menu entry" shortcuts
check "and its entry among the user's installed programs" registered
check "and nothing for the whole machine" not machine_wide
check "the entry names the build's version" \
    bash -c "wine reg query '$uninstall_key' /v DisplayVersion | tr -d '\r' | grep -q 'REG_SZ *$version\$'"
# The program's own identity, as Explorer reads it, and the protections
# Windows gives it: ASLR (with 64-bit addresses) and DEP.
check "the installed program's version record is the build's" \
    test "$(wine "$probe_exe" version "$(winpath "$(folder)/kelvane.exe")" | tr -d '\r' | tr '\n' ' ')" = \
    "Kelvane $version $version $(echo "$version" | awk -F. '{ printf "%d.%d.%d.0", $1, $2, $3 }') "
dll_characteristics() { "$objdump" -p "$(folder)/kelvane.exe" | awk '/^DllCharacteristics/ { print $2 }'; }
has_flag() { [ $((0x$(dll_characteristics) & $1)) = $(($1)) ]; }
check "... with ASLR, high-entropy ASLR and DEP in its header" \
    eval 'has_flag 0x40 && has_flag 0x20 && has_flag 0x100'
check "a silent installation does not start Kelvane at sign-in" not starts_at_sign_in
wine "$installer" /S /AUTOSTART=yes >"$work/install-autostart.log" 2>&1
check "an installation with /AUTOSTART=yes exits 0" test "$?" = 0
check "... and writes the user's Run key" starts_at_sign_in
wine "$installer" /S /AUTOSTART=no >"$work/install-no-autostart.log" 2>&1
check "/AUTOSTART=no clears it again" not starts_at_sign_in

check "the installed program starts and shows its popup" start_installed running
wine "$installer" /S >"$work/install-over.log" 2>&1
over=$?
check "installing over a running Kelvane succeeds" test "$over" = 0
check "... having ended it" ended_within 10
check "... the way Quitter does, with status 0" test "$status" = 0
check "... and the new copy is in place" installed

start_installed locked
exe_path=$(winpath "$(folder)/kelvane.exe")
wine "$probe_exe" hold "$exe_path" 60 >"$work/hold.log" 2>&1 &
hold_pid=$!
pids+=($hold_pid)
wait_for 20 grep -q holding "$work/hold.log"
# Run in place (_?=) so that its own exit status is the one seen.
wine "$(folder)/Uninstall.exe" /S "_?=$(winpath "$(folder)")" >"$work/uninstall-locked.log" 2>&1
locked=$?
check "an uninstall that cannot remove kelvane.exe fails (status $locked)" test "$locked" -ne 0
check "... and leaves the program in place, registered" eval 'installed && registered'
check "... Kelvane itself having ended with status 0" eval 'ended_within 10 && test "$status" = 0'
kill "$hold_pid" 2>/dev/null
wait "$hold_pid" 2>/dev/null

start_installed last
wine "$(folder)/Uninstall.exe" /S >"$work/uninstall.log" 2>&1
check "uninstalling ends the running Kelvane" ended_within 15
check "... with status 0" test "$status" = 0
gone() { ! folder >/dev/null; }
check "the uninstaller removes the program's folder" wait_for 30 gone
check "and the Start menu entry" not shortcuts
check "and its entry among installed programs" not registered
check "and the sign-in entry" not starts_at_sign_in
wineserver -k 2>/dev/null

summary
